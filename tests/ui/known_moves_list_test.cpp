// The known-moves list: a click plays a row's move once the click has been handled.
#include <QTest>

#include "ui/known_moves_list.h"
#include "ui/ui_fixture.h"

namespace vez::test {
namespace {

TEST(KnownMovesList, AClickOnARowSendsItsMoveAndGlyphAfterTheClick)
{
    KnownMovesList list;
    list.resize(350, 150);
    list.show();
    const Move e4 = encodeMove(12, 28, PieceType::Pawn);
    const Move d4 = encodeMove(11, 27, PieceType::Pawn);
    const Move nf3 = encodeMove(6, 21, PieceType::Knight);
    list.setRows({
        {"e4!", "340", "41%", "22%", "+0.35", "King's pawn", e4, MoveGlyph::Good, false},
        {"(d4 ...", "0", "0", "0", "", "", d4, MoveGlyph::None, true},
        {"Nf3", "99", "37", "20", "-1.20", "", nf3, MoveGlyph::Interesting, false},
    });
    grabbed(list, "known-moves");

    std::vector<std::pair<Move, MoveGlyph>> chosen;
    QObject::connect(&list, &KnownMovesList::moveChosen,
                     [&chosen](Move move, MoveGlyph glyph) { chosen.emplace_back(move, glyph); });
    // A click on a cell, then one below the rows: the list is rebuilt by what the move does,
    // so nothing is sent inside the click.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                      list.visualRect(list.model()->index(1, 4)).center());
    EXPECT_TRUE(chosen.empty());
    QCoreApplication::processEvents();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                      list.visualRect(list.model()->index(2, 0)).bottomLeft() + QPoint(4, 20));
    QCoreApplication::processEvents();
    EXPECT_EQ(chosen, (std::vector<std::pair<Move, MoveGlyph>>{{d4, MoveGlyph::None}}));
}

} // namespace
} // namespace vez::test
