// The move tree following a game, the user's selections and the openings of its items.
#include <QTest>

#include "chess/notation.h"
#include "ui/move_tree.h"
#include "ui/ui_fixture.h"

namespace vez::test {
namespace {

// An item for a move in SAN after the moves of pathTo from the start, with the counts text
// the view's logic would add.
MoveTreeItem item(const std::vector<Move>& pathTo, const char* text, const char* counts,
                  std::vector<MoveTreeItem> children = {})
{
    Position position;
    setStandardStart(position);
    for (Move move : pathTo)
        makeMove(position, move);
    MoveTreeItem result;
    EXPECT_TRUE(parseMove(position, result.move, nullptr, nullptr, text)) << text;
    result.text = std::string(text) + " " + counts;
    result.path = pathTo;
    result.path.push_back(result.move);
    result.children = std::move(children);
    return result;
}

// An update selects the current item without sending its path; a user's click sends the
// path from the root once the click is handled; opening an item asks the provider.
TEST(MoveTree, UpdatesClicksAndOpenings)
{
    MoveTree tree;
    tree.resize(300, 300);
    tree.show();
    std::vector<std::vector<Move>> chosen, asked;
    QObject::connect(&tree, &MoveTree::pathChosen,
                     [&chosen](std::vector<Move> path) { chosen.push_back(path); });
    const Move e4 = item({}, "e4", "").move, d4 = item({}, "d4", "").move;
    // Whatever it is asked for, the provider offers 1. d4's reply.
    tree.setChildrenProvider([&asked, d4](const std::vector<Move>& path) {
        asked.push_back(path);
        MoveTreeItem reply = item({d4}, "d5", "(1, 1/0)");
        reply.path = path;
        reply.path.push_back(reply.move);
        return std::vector<MoveTreeItem>{reply};
    });
    // The tree for the game 1. e4 at a ply: e4's replies below it, d4 beside it.
    const auto treeAt = [e4](int ply, const char* replyCounts) {
        MoveTreeData data;
        setStandardStart(data.rootPosition);
        data.items = {item({}, "e4", "(3, 2/1)",
                           {item({e4}, "e5", replyCounts), item({e4}, "c5", "(1, 0/1)")}),
                      item({}, "d4", "(1, 1/0)")};
        if (ply > 0)
            data.selectedPath = {e4};
        return data;
    };
    tree.Update(treeAt(0, "(2, 2/0)"));
    tree.Update(treeAt(1, "(5, 3/2)"));
    QTreeWidgetItem* e4Item = tree.itemAt({e4});
    ASSERT_NE(e4Item, nullptr);
    EXPECT_TRUE(e4Item->isSelected() && e4Item->isExpanded());
    EXPECT_EQ(e4Item->child(0)->text(0), QStringLiteral("e5 (5, 3/2)"));
    grabbed(tree, "move-tree");
    QCoreApplication::processEvents();
    EXPECT_TRUE(chosen.empty());

    const std::vector<Move> path = item({e4}, "c5", "").path;
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {},
                      tree.visualItemRect(tree.itemAt(path)).center());
    EXPECT_TRUE(chosen.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(chosen, std::vector<std::vector<Move>>{path});

    tree.itemAt({d4})->setExpanded(true);
    EXPECT_EQ(asked.back(), std::vector<Move>{d4});
    EXPECT_EQ(tree.itemAt({d4})->child(0)->text(0), QStringLiteral("d5 (1, 1/0)"));
}

} // namespace
} // namespace vez::test
