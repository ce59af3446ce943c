// The in-memory game: tags, lines and their positions, adding analysis lines, merging.
#include "interchange/game.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "chess/fen.h"
#include "chess/notation.h"
#include "interchange/pgn_reader.h"
#include "interchange/pgn_writer.h"
#include "support/game_text.h"

namespace vez {
namespace {

using test::movetextOf;

Move moveIn(const Position& pos, const char* san)
{
    Move move = Move::None;
    EXPECT_TRUE(parseMove(pos, move, nullptr, nullptr, san)) << san;
    return move;
}

std::vector<MoveWithGlyph> movesFrom(const Position& start, std::initializer_list<const char*> sans)
{
    std::vector<MoveWithGlyph> moves;
    Position pos = start;
    for (const char* san : sans) {
        const Move move = moveIn(pos, san);
        makeMove(pos, move);
        moves.push_back({move, 0});
    }
    return moves;
}

// Appends moves given in SAN at the end of the line.
void play(Game& game, GameLine& line, std::initializer_list<const char*> sans)
{
    for (const MoveWithGlyph& m : movesFrom(game.positionAtPly(line, line.endPly), sans))
        line.append(m.move);
}

// The reader sets every tag it reads through setTag (pgn_reader_test); these are the rules
// for a tag set again, and the title.
TEST(GameTags, MapNamesToTheHeader)
{
    Game game;
    EXPECT_FALSE(game.hasTag("Round"));    // the writer prints "?" instead
    EXPECT_EQ(game.getTag("Result"), "*"); // a result is always there, given or not
    EXPECT_EQ(game.title(), "? -- ? [?]");
    // Name, value set, value read back.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"White", "Kasparov, G.", "Kasparov, G."},
        {"Black", "Karpov, A.", "Karpov, A."},
        {"ECO", "b12", "b12"}, // kept as given, like the reader does
        {"Date", "1985.09.03", "1985.9.3"},
        {"Result", "0-1", "0-1"},
        {"Result", "*", "0-1"}, // "*" is not looked for: the earlier result stays
        {"Result", "draw", "0-1"},
        {"Date", "1998.13.01", "1985.9.3"}, // not a date: left as it was
        {"AnalysisMins", "5", "5"},
        {"Annotator", "me", "me"},
        {"AnalysisMins", "7", "7"}, // replaced in place
    };
    for (const auto& [name, value, readBack] : cases) {
        game.setTag(name, value);
        EXPECT_EQ(game.hasTag(name) ? game.getTag(name) : "missing", readBack) << name;
    }
    EXPECT_EQ(game.result * 10000 + game.year, 21985);
    ASSERT_EQ(game.tags.size(), 2u); // other tags in their order, one replaced in place
    EXPECT_EQ(game.tags[0].name + game.tags[1].name, "AnalysisMinsAnnotator");
    EXPECT_EQ(game.title(), "Kasparov, G. -- Karpov, A. [1985] b12");
}

TEST(GameCommentOnly, OnlyACommentAndASource)
{
    Game game;
    std::string comment;
    EXPECT_FALSE(game.isCommentOnly(&comment)); // no comment
    game.initialComment = "White to play and win";
    game.setTag("Source", "Clipboard");
    EXPECT_TRUE(game.isCommentOnly(&comment));
    EXPECT_EQ(comment, "White to play and win");
    game.event = "Study";
    EXPECT_FALSE(game.isCommentOnly());
    game.event.clear();
    game.setTag("Annotator", "me");
    EXPECT_FALSE(game.isCommentOnly());
    game.tags.pop_back();
    play(game, game, {"e4"});
    EXPECT_FALSE(game.isCommentOnly());

    // Cleared, it is an empty game from the standard start again, in what a file shows of
    // it and in the lines after its end, which no file shows.
    ASSERT_TRUE(readFen(game.startPosition, "4k3/8/8/8/8/8/8/4K3 w - - 0 1"));
    game.createSubLine(game, 0);
    game.year = game.round = game.result = 1;
    game.clear();
    EXPECT_EQ(writeGameToText(game, false), writeGameToText(Game{}, false));
    EXPECT_TRUE(game.subLinesAfterEnd.empty() && game.endPly == 0 && game.mainLine);
}

TEST(GameLines, SubLinesAttachToTheMoveTheyReplaceAreFoundAndMove)
{
    Game game;
    play(game, game, {"e4", "e5", "Nf3"});
    GameLine& c5 = game.createSubLine(game, 1);
    play(game, game.createSubLine(game, 1), {"c6"}); // newest first
    play(game, game.createSubLine(game, 1, SubLinePlace::Last), {"e6"});
    play(game, c5, {"c5"});
    // A line branching where a sub-line starts is an alternative in the parent's list;
    // later in the sub-line it hangs on its own move; at a line's end, after it.
    GameLine& d5 = game.createSubLine(c5, 1);
    play(game, d5, {"d5"});
    play(game, c5, {"Nf3"});
    play(game, game.createSubLine(c5, 2), {"c3"});
    play(game, game.createSubLine(c5, 3), {"Nc6"});
    play(game, game.createSubLine(game, 3), {"Nc6"});
    EXPECT_EQ(movetextOf(game), "e4 e5 (d5) (c6) (c5 Nf3 (c3) |(Nc6)) (e6) Nf3 |(Nc6)");
    EXPECT_EQ(d5.parent, &game);
    const GameLine* c3 = c5.entries[1].subLines[0].get();
    EXPECT_EQ(c3->parent, &c5);

    // findLine looks at the alternatives; asked at its first ply, a sub-line answers for its
    // parent; beyond a line's end, the sub-lines after it answer.
    const Position afterE4 = game.positionAtPly(game, 1);
    EXPECT_EQ(game.findLine(game, 1, moveIn(afterE4, "e5")), &game);
    EXPECT_EQ(game.findLine(game, 1, moveIn(afterE4, "c5")), &c5);
    EXPECT_EQ(game.findLine(game, 1, moveIn(afterE4, "a6")), nullptr);
    EXPECT_EQ(game.findLine(c5, 1, moveIn(afterE4, "e5")), &game);
    EXPECT_EQ(game.findLine(c5, 1, moveIn(afterE4, "c5")), &c5);
    EXPECT_EQ(game.findLine(c5, 2, c5.entries[1].move), &c5);
    EXPECT_EQ(game.findLine(c5, 2, c3->entries[0].move), c3);
    EXPECT_EQ(game.findLine(game, 2, c3->entries[0].move), nullptr);
    const GameLine* after = game.subLinesAfterEnd[0].get();
    EXPECT_EQ(game.findLine(game, 3, after->entries[0].move), after);

    // Moved, the lines go along and their parent is the new game.
    Game moved(std::move(game));
    EXPECT_EQ(movetextOf(moved), "e4 e5 (d5) (c6) (c5 Nf3 (c3) |(Nc6)) (e6) Nf3 |(Nc6)");
    EXPECT_TRUE(game.entries.empty() && d5.parent == &moved && c3->parent == &c5);
    Game assigned;
    assigned = std::move(moved);
    EXPECT_EQ(d5.parent, &assigned);
    // Swapped, each game's lines follow it.
    Game other;
    play(other, other.createSubLine(other, 0), {"d4"});
    other.swap(assigned);
    EXPECT_EQ(movetextOf(other), "e4 e5 (d5) (c6) (c5 Nf3 (c3) |(Nc6)) (e6) Nf3 |(Nc6)");
    EXPECT_EQ(movetextOf(assigned), "|(d4)");
    EXPECT_TRUE(d5.parent == &other && after->parent == &other &&
                assigned.subLinesAfterEnd[0]->parent == &assigned);
}

TEST(GameLines, AddLineFollowsExistingMovesFirst)
{
    Game game;
    play(game, game, {"e4", "e5", "Nf3", "Nc6"});
    const Position start = game.positionAtPly(game, 0);
    // Existing completely: nothing added.
    EXPECT_FALSE(game.addLine(game, 0, movesFrom(start, {"e4", "e5", "Nf3"}), 25, "old"));
    // Leaves the game after two moves: one sub-line at the third ply with the rest. The
    // comment goes only with a line that leaves at once.
    auto moves = movesFrom(start, {"e4", "e5", "Bc4", "Nf6", "d3"});
    moves[3].glyph = 5;
    EXPECT_TRUE(game.addLine(game, 0, moves, 31, "Bishop's opening"));
    // Through the new sub-line, and on from a later ply.
    const Position afterE5 = game.positionAtPly(game, 2);
    EXPECT_FALSE(game.addLine(game, 2, movesFrom(afterE5, {"Bc4", "Nf6"}), 0, ""));
    EXPECT_TRUE(game.addLine(game, 2, movesFrom(afterE5, {"d4"}), 12, "centre"));
    // After the end of the game, once.
    const Position end = game.positionAtPly(game, 4);
    EXPECT_TRUE(game.addLine(game, 4, movesFrom(end, {"Bb5", "a6"}), 40, ""));
    EXPECT_FALSE(game.addLine(game, 4, movesFrom(end, {"Bb5", "a6"}), 40, ""));
    EXPECT_EQ(movetextOf(game), "e4 e5 Nf3 (d4[12] {centre}) (Bc4[31] Nf6$5 d3) Nc6 |(Bb5[40] a6)");
}

// Two copies of one game: ours shows 1. e4 e5 2. Nf3 with a variation 1... c5; the other has
// the header, a longer main line, glyphs, comments, scores and another variation.
TEST(GameMerge, TakesWhatIsMissingAndReportsDifferences)
{
    Game mine, other;
    ASSERT_TRUE(readPgnText(mine, "[Result \"*\"]\n1. e4 e5 (1... c5) 2. Nf3 *", false));
    ASSERT_TRUE(readPgnText(other,
                            "[Event \"Wch\"]\n[White \"Anand\"]\n[Round \"3\"]\n[Result \"1-0\"]\n"
                            "[Date \"2008.10.14\"]\n[ECO \"C65\"]\n[Annotator \"Pein\"]\n"
                            "1. e4 $1 {best by test} e5 (1... c5 2. Nf3) (1... e6) 2. Nf3 Nc6 1-0",
                            false));
    other.entries[1].score = 20;
    // A sub-line after our end moves to the move appended there.
    mine.entries[1].score = 15;
    mine.entries[2].score = 33;
    ASSERT_TRUE(
        mine.addLine(mine, 3, movesFrom(mine.positionAtPly(mine, 3), {"Nf6"}), kNoScore, ""));
    mergeGame(mine, other);
    EXPECT_EQ(mine.white + mine.event + mine.eco + mine.getTag("Annotator"), "AnandWchC65Pein");
    EXPECT_EQ(mine.result * 10 + mine.round, 13);
    EXPECT_EQ(mine.year * 10000 + mine.month * 100 + mine.day, 20081014); // the whole date
    // A real score replaces ours, "no score" does not; a variation is matched by its first
    // move and extended, or added after ours.
    EXPECT_EQ(movetextOf(mine), "e4$1 {best by test} e5[20] (c5 Nf3) (e6) Nf3[33] Nc6 (Nf6)");
    EXPECT_EQ(mine.endPly, 4);
    EXPECT_EQ(mine.entries[1].subLines[1]->parent, &mine);

    // A copy that matches has nothing to report, also when merged again; a copy with anything
    // set on both sides that differs reports it.
    const std::pair<const char*, void (*)(Game&)> cases[] = {
        {"nothing", [](Game&) {}},
        {"white", [](Game& g) { g.white = "Kramnik"; }},
        {"result", [](Game& g) { g.result = 3; }},
        {"round", [](Game& g) { g.round = 4; }},
        {"year", [](Game& g) { g.year = 2007; }},
        {"month", [](Game& g) { g.year = 2008, g.month = 11; }},
        {"day", [](Game& g) { g.year = 2008, g.month = 10, g.day = 15; }},
        {"eco", [](Game& g) { g.eco = "C67"; }},
        {"tag", [](Game& g) { g.setTag("Annotator", "Nunn"); }},
        {"extra tag", [](Game& g) { g.setTag("Opening", "Spanish"); }},
        {"glyph", [](Game& g) { g.entries[0].glyph = 2; }},
        {"comment", [](Game& g) { g.entries[0].comment = "weak"; }},
    };
    for (const auto& [what, change] : cases) {
        Game copy;
        ASSERT_TRUE(
            readPgnText(copy, "[Result \"*\"]\n1. e4 e5 (1... e6) (1... c5) 2. Nf3 Nc6 *", false));
        change(copy);
        const bool same = std::string(what) == "nothing";
        EXPECT_EQ(mergeGame(copy, other), !same) << what;
        if (same) {
            EXPECT_FALSE(mergeGame(copy, other)); // merging again changes nothing
            EXPECT_EQ(copy.entries[1].subLines.size(), 2u);
        }
    }
}

} // namespace
} // namespace vez
