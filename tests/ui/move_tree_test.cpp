// The move tree following a game, the user's selections and the openings of its items.
#include <QTest>

#include "chess/notation.h"
#include "ui/move_tree.h"
#include "ui/ui_fixture.h"

namespace vez::test {
namespace {

Move san(const Position& position, const char* text)
{
    Move move = Move::None;
    EXPECT_TRUE(parseMove(position, move, nullptr, nullptr, text)) << text;
    return move;
}

// An item for a move from a position, with the counts text the view's logic would add.
MoveTreeItem item(const Position& position, const std::vector<Move>& pathTo, const char* text,
                  const char* counts, std::vector<MoveTreeItem> children = {})
{
    MoveTreeItem result;
    result.move = san(position, text);
    result.text = std::string(text) + " " + counts;
    result.path = pathTo;
    result.path.push_back(result.move);
    result.children = std::move(children);
    return result;
}

class MoveTreeTest : public UiTest {
protected:
    MoveTreeTest()
    {
        setStandardStart(m_start);
        m_tree.resize(300, 300);
        m_tree.show();
        QObject::connect(&m_tree, &MoveTree::pathChosen,
                         [this](std::vector<Move> path) { m_chosen.push_back(path); });
        m_e4 = san(m_start, "e4");
        m_afterE4 = m_start;
        makeMove(m_afterE4, m_e4);
    }
    // The tree for the game 1. e4 at a ply: e4's replies below it, d4 beside it.
    MoveTreeData treeAt(int ply, const char* replyCounts)
    {
        MoveTreeData data;
        data.rootPosition = m_start;
        data.items = {item(m_start, {}, "e4", "(3, 2/1)",
                           {item(m_afterE4, {m_e4}, "e5", replyCounts),
                            item(m_afterE4, {m_e4}, "c5", "(1, 0/1)")}),
                      item(m_start, {}, "d4", "(1, 1/0)")};
        if (ply > 0)
            data.selectedPath = {m_e4};
        return data;
    }
    std::vector<std::vector<Move>> settled()
    {
        QCoreApplication::processEvents();
        return m_chosen;
    }

    MoveTree m_tree;
    Position m_start;
    Position m_afterE4;
    Move m_e4 = Move::None;
    std::vector<std::vector<Move>> m_chosen;
};

// An update selects the current item without sending its path; a user's click sends the
// path from the root once the click is handled; opening an item asks the provider.
TEST_F(MoveTreeTest, UpdatesClicksAndOpenings)
{
    std::vector<std::vector<Move>> asked;
    const Move d4 = san(m_start, "d4");
    Position afterD4 = m_start;
    makeMove(afterD4, d4);
    m_tree.setChildrenProvider([&](const std::vector<Move>& path) {
        asked.push_back(path);
        return std::vector<MoveTreeItem>{item(afterD4, path, "d5", "(1, 1/0)")};
    });
    m_tree.Update(treeAt(0, "(2, 2/0)"));
    m_tree.Update(treeAt(1, "(5, 3/2)"));
    QTreeWidgetItem* e4 = m_tree.itemAt({m_e4});
    ASSERT_NE(e4, nullptr);
    EXPECT_TRUE(e4->isSelected() && e4->isExpanded());
    EXPECT_EQ(e4->child(0)->text(0), QStringLiteral("e5 (5, 3/2)"));
    grabbed(m_tree, "move-tree");
    EXPECT_TRUE(settled().empty());

    const std::vector<Move> path = {m_e4, san(m_afterE4, "c5")};
    QTest::mouseClick(m_tree.viewport(), Qt::LeftButton, {},
                      m_tree.visualItemRect(m_tree.itemAt(path)).center());
    EXPECT_TRUE(m_chosen.empty());
    EXPECT_EQ(settled(), std::vector<std::vector<Move>>{path});

    m_tree.itemAt({d4})->setExpanded(true);
    EXPECT_EQ(asked.back(), std::vector<Move>{d4});
    EXPECT_EQ(m_tree.itemAt({d4})->child(0)->text(0), QStringLiteral("d5 (1, 1/0)"));
}

} // namespace
} // namespace vez::test
