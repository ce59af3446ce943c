// What the panes show: status lines, known-move rows, arrows, the scoresheet, the move tree
// and the game list, against real games stored in a document.
#include "app/pane_builders.h"
#include "view_fixture.h"

#include <algorithm>
#include <map>

namespace vez::test {
namespace {

// Cuts never split a character, foreign bytes read as Latin-1; the status lines and the game
// list's row of the sample's first game.
TEST(PaneText, CutsStatusLinesAndGameListRows)
{
    // é stays whole, and so does a three-byte knight.
    EXPECT_EQ(cutCharacters("R\xC3\xA9ti opening", 2) +
                  cutCharacters("\xE2\x99\x9E\xE2\x99\x9E", 1),
              "R\xC3\xA9\xE2\x99\x9E");
    EXPECT_EQ(displayText("R\xE9ti") + displayText("R\xC3\xA9ti"), "R\xC3\xA9tiR\xC3\xA9ti");

    Game game = std::move(gamesOfText(readFile(kSamplePgn)).at(0));
    EXPECT_EQ(buildGameListRow(17, game).columns,
              (std::vector<std::string>{"17", "Navara,D", "Svidler,P", "1/2-1/2", "B38",
                                        "2012.6.20", "Prague CZE", "Cez Trophy 2012", "1"}));
    GameLine& variation = game.createSubLine(game, 0);
    variation.append(encodeMove(11, 27, PieceType::Pawn)).comment =
        "A queen's pawn opening instead\r\nsecond line";
    const auto lines = [&game](const StatusFacts& facts, const GameLine& line) {
        const StatusLines status = buildStatusLines(facts, game, line);
        return status.first + "|" + status.second;
    };
    // The facts are counts, score, ECO code, set-up, stored, modified.
    EXPECT_EQ(lines({{101, 37, 20}, -120, "B12", false, true, true}, game),
              "101 games (36%/19%) -1.20 B12|Navara,D -- Svidler,P [2012] B38 (modified)");
    EXPECT_EQ(lines({{3, 1, 1}, 0, "", false, false, true}, variation),
              "3 games (1/1) +0.00|(New unsaved game) (Variation: A queen's pawn openi...)");
}

using PaneBuilderTest = ViewTest;

// The counts of the move's successor show as counts below 100 games, as percentages from
// 100 on; the score and note come from the successor when the row brings none.
TEST_F(PaneBuilderTest, KnownMoveRowThresholds)
{
    const Position start = after(""), afterE4 = after("e4");
    const Move e4 = encodeMove(12, 28, PieceType::Pawn);
    const auto counts = [&] {
        const KnownMoveRow row =
            buildKnownMoveRow(*doc, start, e4, false, MoveGlyph::Good, kNoScore, "");
        return row.move + " " + row.column(KnownMoveColumn::Games) + " " + row.whiteWins + " " +
               row.blackWins;
    };
    for (int i = 0; i < 99; ++i)
        storeMoves("1. e4", i < 37 ? "1-0" : i < 57 ? "0-1" : "1/2-1/2");
    EXPECT_EQ(counts(), "e4! 99 37 20");
    storeMoves("1. e4", "1/2-1/2");
    EXPECT_EQ(counts(), "e4! 100 37% 20%");

    doc->setPositionScore(afterE4, 35, nullptr);
    doc->setPositionNote(afterE4, std::string(150, 'x') + "\r\nsecond", nullptr);
    const KnownMoveRow stored =
        buildKnownMoveRow(*doc, start, e4, true, MoveGlyph::None, kNoScore, "");
    EXPECT_EQ(stored.move + stored.score + stored.note, "(e4 ...+0.35" + std::string(100, 'x'));
    const KnownMoveRow own =
        buildKnownMoveRow(*doc, start, e4, false, MoveGlyph::None, 0, "line one\r\nline two");
    EXPECT_EQ(own.score + own.note, "+0.00line one");
}

// The game's next move comes first, then its variations here, then the database's other
// moves, none repeated; at the end of a variation its own sub-lines are the variations.
TEST_F(PaneBuilderTest, KnownMoveRowOrder)
{
    storeMoves("1. d4", "1-0");
    storeMoves("1. c4", "0-1");
    storeMoves("1. e4 e5", "1-0");
    play("Nf3");
    viewLogic->rewind();
    play("e4");
    viewLogic->backUp(); // back on the main line
    const auto rowTexts = [this] {
        std::vector<std::string> texts;
        for (const KnownMoveRow& row : viewLogic->knownMoveRows())
            texts.push_back(row.move);
        return texts;
    };
    EXPECT_EQ(rowTexts(), (std::vector<std::string>{"Nf3", "(e4 ...", "d4", "c4"}));

    // At the end of the variation 1.e4 e5 (1...c5), the engine's line after its end.
    play("e4 e5");
    viewLogic->backUp();
    play("c5");
    EXPECT_EQ(rowTexts(), (std::vector<std::string>{}));
    AnalysisJob job(*doc, viewLogic.get(), viewLogic->shownPosition(), false);
    viewLogic->analysisVariation(job, 30, viewLogic->shownPosition(),
                                 {encodeMove(6, 21, PieceType::Knight)});
    EXPECT_EQ(rowTexts(), (std::vector<std::string>{"(Nf3 ..."}));
    EXPECT_EQ(viewLogic->statusLines().first, "0 games +0.30");
}

TEST_F(PaneBuilderTest, ArrowsOfEachKind)
{
    storeMoves("1. e4 e5", "1-0");
    storeMoves("1. d4 d5", "1-0");
    play("e4 e5 Nf3");
    viewLogic->backUp();
    viewLogic->backUp();
    play("c5");
    viewLogic->backUp();
    // After 1.e4: 20 legal replies, two known moves (e5 stored, c5 the game's variation is
    // not stored), 1.e4 as the known prior move and the move just played, e5 next.
    std::map<ArrowKind, int> kinds;
    for (const BoardArrow& arrow : viewLogic->boardState().arrows)
        ++kinds[arrow.kind];
    EXPECT_EQ(kinds, (std::map<ArrowKind, int>{{ArrowKind::Legal, 20},
                                               {ArrowKind::Known, 1},
                                               {ArrowKind::Prior, 1},
                                               {ArrowKind::Next, 1},
                                               {ArrowKind::Variation, 1}}));
}

TEST_F(PaneBuilderTest, ScoresheetAndMoveTreeOfAVariation)
{
    storeSample(3);
    doc->selectGame(0, {}, nullptr);
    viewLogic->advance();
    viewLogic->advance();
    play("d4"); // 2.d4 instead of the game's 2.e4
    const ScoresheetData sheet = viewLogic->scoresheet();
    EXPECT_EQ(sheet.moves.at(2).text, "d4");
    EXPECT_FALSE(sheet.showResult); // a variation has no result

    const MoveTreeData tree = viewLogic->moveTree();
    ASSERT_EQ(tree.selectedPath.size(), 3u);
    const auto item = std::find_if(tree.items.begin(), tree.items.end(), [&](const auto& root) {
        return root.move == tree.selectedPath[0];
    });
    ASSERT_NE(item, tree.items.end());
    EXPECT_TRUE(item->text.starts_with("1. Nf3 (") && item->expanded);
}

} // namespace
} // namespace vez::test
