// The PGN reader: tag sections, movetext, errors with their codes and lines, recovery.
#include "interchange/pgn_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "chess/fen.h"
#include "chess/notation.h"
#include "interchange/pgn_writer.h"

namespace vez {
namespace {

constexpr const char* kRoster = "[Event \"e\"]\n[White \"w\"]\n[Black \"b\"]\n[Result \"*\"]\n";

// What reading one text gives: the first game, or the error of the first game that fails.
struct Outcome {
    bool read = false;
    int code = 0;
    std::string argument;
    Game game;
};

Outcome readOne(const std::string& text, bool allowIllegal = false)
{
    Outcome outcome;
    PgnSource source;
    source.openText(text);
    try {
        outcome.read = readPgnGame(outcome.game, source, allowIllegal);
    } catch (const PGNGameException& error) {
        outcome.code = error.code();
        outcome.argument = error.argument();
    }
    return outcome;
}

std::string sanOf(const Game& game, const GameLine& line, std::size_t index)
{
    const int ply = line.startPly + static_cast<int>(index);
    return formatMove(game.positionAtPly(line, ply), line.entries[index].move, false,
                      MoveGlyph::None, false);
}

std::string mainLine(const Game& game)
{
    std::string text;
    for (std::size_t i = 0; i < game.entries.size(); ++i)
        text += (i ? " " : "") + sanOf(game, game, i);
    return text;
}

struct Case {
    const char* what;
    std::string text;
    int code; // 0: the game is read
    const char* argument;
    std::function<void(const Game&)> check;
    bool allowIllegal = false;
};

void runCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome outcome = readOne(c.text, c.allowIllegal);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.read, c.code == 0);
        if (c.code != 0)
            EXPECT_EQ(outcome.argument, c.argument);
        else if (c.check)
            c.check(outcome.game);
    }
}

// The messy corpus file shows more refusals, each at its line (pgn_corpus_test).
TEST(PgnReader, TagSections)
{
    const std::string start = "\n1. e4 *\n";
    runCases({
        {"inner quotes kept, final one dropped", "[Event \"The \"Big\" Open\"]\n" + start, 0, "",
         [](const Game& g) { EXPECT_EQ(g.event, "The \"Big\" Open"); }},
        {"blank after an inner quote is lost", "[Event \"The\" Big\"]\n" + start, 0, "",
         [](const Game& g) { EXPECT_EQ(g.event, "The\"Big"); }},
        {"escaped quotes and backslash", "[Event \"A \\\"B\\\" C\\\\D\"]\n" + start, 0, "",
         [](const Game& g) { EXPECT_EQ(g.event, "A \"B\" C\\D"); }},
        {"? is empty, and twice no duplicate", "[White \"?\"]\n[White \"?\"]\n" + start, 0, "",
         [](const Game& g) { EXPECT_EQ(g.white, ""); }},
        {"roster fields and tags in order",
         "[Site \"Tomsk\"]\n[Round \"5.2\"]\n[Date \"2012.06.30\"]\n[ECO \"b12\"]\n"
         "[SetUp \"0\"]\n[WhiteElo \"\"]\n[Opening \"Caro\"]\n" +
             start,
         0, "",
         [](const Game& g) {
             EXPECT_EQ(g.site, "Tomsk");
             EXPECT_EQ(g.round, 5);
             EXPECT_EQ(g.year * 10000 + g.month * 100 + g.day, 20120630);
             EXPECT_EQ(g.eco, "b12");
             ASSERT_EQ(g.tags.size(), 2u); // SetUp is not kept
             EXPECT_EQ(g.tags[0].name, "WhiteElo");
             EXPECT_EQ(g.tags[1].value, "Caro");
         }},
        {"a bad date is no date", "[Date \"1998.13.01\"]\n" + start, 0, "",
         [](const Game& g) { EXPECT_EQ(g.year, 0); }},
        {"tags on one line", "[White \"a\"][Black \"b\"] [Result \"0-1\"]\n1. e4 0-1", 0, "",
         [](const Game& g) { EXPECT_EQ(g.black + std::to_string(g.result), "b2"); }},
        {"blank line inside the tags", "[White \"a\"]\n\n[Black \"b\"]\n" + start, 0, "",
         [](const Game& g) { EXPECT_EQ(g.black, "b"); }},
        {"empty result ends on ?", "[Result \"?\"]\n1. e4 ?", 0, "",
         [](const Game& g) { EXPECT_EQ(g.result, 0); }},
        {"movetext ends otherwise", "[Result \"1-0\"]\n1. e4 *", 11, "*", nullptr},
        {"result not in the table", "[Result \"draw\"]\n1. e4 *", 8, "draw", nullptr},
        {"duplicate White", "[White \"a\"]\n[White \"b\"]\n" + start, 2, "White", nullptr},
        {"duplicate other tag", "[Elo \"1\"]\n[Elo \"2\"]\n" + start, 2, "Elo", nullptr},
        {"no tag name", "[ \"x\"]\n" + start, 4, "", nullptr},
        {"no value", "[White x]\n" + start, 5, "White", nullptr},
        {"no closing bracket", "[White \"x\" y\n" + start, 7, "y", nullptr},
        {"end inside a value", "[White \"x", 6, "", nullptr},
    });
}

TEST(PgnReader, StartPositions)
{
    runCases({
        {"under construction is no FEN", "[FEN \"under construction\"]\n1. e4 e5 2. Nf3 *", 0, "",
         [](const Game& g) { EXPECT_EQ(mainLine(g), "e4 e5 Nf3"); }},
        {"numbers are not compared from a FEN",
         "[FEN \"4k3/8/8/8/8/8/8/R3K3 b - - 0 1\"]\n7. Kd7 3... Ra7+ *", 0, "",
         [](const Game& g) {
             EXPECT_EQ(writeFen(g.startPosition, 0, 1), "4k3/8/8/8/8/8/8/R3K3 b - - 0 1");
             EXPECT_EQ(mainLine(g), "Kd7 Ra7");
         }},
        {"our en-passant file", "[FEN \"4k3/8/8/3pP3/8/8/8/4K3 w - d 0 2\"]\nexd6 *", 0, "",
         [](const Game& g) { EXPECT_EQ(mainLine(g), "exd6"); }},
        {"a standard en-passant square", "[FEN \"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 2\"]\nexd6 *", 0,
         "", [](const Game& g) { EXPECT_EQ(g.startPosition.enPassant, 1); }},
        {"a square no pawn can take on gives no right",
         "[FEN \"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1\"]\ne5 *", 0, "",
         [](const Game& g) {
             Position played;
             setStandardStart(played);
             makeMove(played, encodeMove(12, 28, PieceType::Pawn));
             EXPECT_TRUE(samePosition(g.startPosition, played));
         }},
        {"trailing blanks", "[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1  \"]\nKd2 *", 0, "", nullptr},
        {"bad FEN", "[FEN \"4k3/8/8 w - - 0 1\"]\nKd2 *", 14, "4k3/8/8 w - - 0 1", nullptr},
        {"text after the FEN", "[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1 x\"]\nKd2 *", 14,
         "4k3/8/8/8/8/8/8/4K3 w - - 0 1 x", nullptr},
        {"duplicate FEN",
         "[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1\"]\n[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1\"]\n*", 2,
         "FEN", nullptr},
    });
}

TEST(PgnReader, Movetext)
{
    const std::string tags = kRoster;
    runCases({
        {"numbers with and without blanks", tags + "1. e4 1... e5 2.Nf3 2...Nc6 *", 0, "",
         [](const Game& g) { EXPECT_EQ(mainLine(g), "e4 e5 Nf3 Nc6"); }},
        {"wrong number", tags + "1. e4 3. Nf3 *", 10, "3", nullptr},
        {"black's number on white's move", tags + "1... e4 *", 10, "1", nullptr},
        {"not a number", tags + "1. e4 2x Nf3 *", 9, "2x", nullptr},
        {"another result", tags + "1. e4 1-0", 9, "1-0", nullptr},
        {"glyphs; \"$\" without digits sets 0", tags + "1. e4 $14 e5 $1 Nf3!? $ Nc6?? *", 0, "",
         [](const Game& g) {
             EXPECT_EQ(g.entries[0].glyph * 1000 + g.entries[1].glyph * 100 + g.entries[3].glyph,
                       14104);
             EXPECT_EQ(g.entries[2].glyph, 0);
         }},
        {"comments join", tags + "1. e4 {a}{b} e5 {c\nd} *", 0, "",
         [](const Game& g) {
             EXPECT_EQ(g.entries[0].comment, "ab");
             EXPECT_EQ(g.entries[1].comment, "c\r\nd");
         }},
        {"comments before the first move", tags + "{a} {b} 1. e4 *", 0, "",
         [](const Game& g) { EXPECT_EQ(g.initialComment, "ab"); }},
        {"escaped brace and backslash", tags + "1. e4 {x\\x7dy \\x5cx7d \\z} *", 0, "",
         [](const Game& g) { EXPECT_EQ(g.entries[0].comment, "x}y \\x7d \\z"); }},
        {"comment runs out", tags + "1. e4 {never closed", 13, "", nullptr},
        {"variation on the last move", tags + "1. e4 (1. d4 d5) e5 *", 0, "",
         [](const Game& g) {
             ASSERT_EQ(g.entries[0].subLines.size(), 1u);
             const GameLine& sub = *g.entries[0].subLines[0];
             EXPECT_EQ(sub.startPly, 0);
             EXPECT_EQ(sub.endPly, 2);
             EXPECT_EQ(sanOf(g, sub, 1), "d5");
         }},
        {"variations keep their order", tags + "1. e4 (1. d4) (1. c4 {x}) (1. Nf3) e5 *", 0, "",
         [](const Game& g) {
             const auto& subs = g.entries[0].subLines;
             ASSERT_EQ(subs.size(), 3u);
             EXPECT_EQ(sanOf(g, *subs[0], 0) + sanOf(g, *subs[1], 0) + sanOf(g, *subs[2], 0),
                       "d4c4Nf3");
             EXPECT_EQ(subs[1]->entries[0].comment, "x");
         }},
        {"variation on a variation's first move is its sibling",
         tags + "1. e4 e5 (1... c5 (1... e6) 2. Nf3 (2. c3 Nf6)) *", 0, "",
         [](const Game& g) {
             const auto& subs = g.entries[1].subLines;
             ASSERT_EQ(subs.size(), 2u);
             EXPECT_EQ(sanOf(g, *subs[1], 0), "e6");
             ASSERT_EQ(subs[0]->entries[1].subLines.size(), 1u);
             EXPECT_EQ(subs[0]->entries[1].subLines[0]->startPly, 2);
         }},
        {"a variation's leading comment has no place", tags + "1. e4 ({before} 1. d4 {after}) *", 0,
         "",
         [](const Game& g) { EXPECT_EQ(g.entries[0].subLines[0]->entries[0].comment, "after"); }},
        {"empty variation", tags + "1. e4 ( ) *", 0, "",
         [](const Game& g) { EXPECT_TRUE(g.entries[0].subLines[0]->entries.empty()); }},
        {"move text runs out", tags + "1. e4 e5", 6, "", nullptr},
        {"percent lines are skipped", tags + "1. e4\n% 2. zz\ne5 *", 0, "",
         [](const Game& g) { EXPECT_EQ(mainLine(g), "e4 e5"); }},
        {"comment glued to a move", tags + "1. e4{a}e5 (1...c5)*", 0, "",
         [](const Game& g) { EXPECT_EQ(g.entries[1].subLines.size(), 1u); }},
        {"a parenthesis inside a move token", tags + "1. e4(1. d4) *", 11, "e4(1.", nullptr},
    });
}

TEST(PgnReader, LegalityInStandardAndNonstandardDatabases)
{
    const std::string tags = kRoster;
    // 1. d4 Nf6 2. c4 e6 3. Nc3 Bb4: the knight on c3 is pinned to the king.
    const std::string nimzo = tags + "1. d4 Nf6 2. c4 e6 3. Nc3 Bb4 4. ";
    const std::string pinnedPawn = "[FEN \"4k3/8/8/b7/8/8/3P4/4K3 w - - 0 1\"]\n";
    runCases({
        {"the king walks next to the pawn", tags + "1. e4 e5 2. Ke2 *", 0, "", nullptr},
        {"no king reaches e3", tags + "1. e4 e5 2. Ke3 *", 11, "Ke3", nullptr},
        {"pinned knight, algebraic", nimzo + "Ne4 *", 12, "Ne4", nullptr},
        {"pinned pawn, coordinates", pinnedPawn + "d2d3 *", 12, "d2d3", nullptr},
        {"into check", tags + "1. f4 e5 2. Kf2 Qh4+ 3. Kg3 *", 12, "Kg3", nullptr},
        {"castling through an attacked square", "[FEN \"4k3/8/8/8/8/8/5r2/4K2R w K - 0 1\"]\nO-O *",
         12, "O-O", nullptr},
        {"nonstandard: the pinned knight moves", nimzo + "Ne4 *", 0, "",
         [](const Game& g) { EXPECT_EQ(g.entries.size(), 7u); }, true},
        {"nonstandard: coordinates go anywhere", tags + "1. e2e6 *", 0, "",
         [](const Game& g) { EXPECT_EQ(g.entries.size(), 1u); }, true},
        {"nonstandard: promotion to a king", "[FEN \"4k3/P7/8/8/8/8/8/4K3 w - - 0 1\"]\na8=K *", 0,
         "",
         [](const Game& g) {
             Position pos = g.startPosition;
             makeMove(pos, g.entries[0].move);
             EXPECT_EQ(typeOf(pos.squares[56]), PieceType::King);
         },
         true},
        {"nonstandard: the opponent's piece does not move", tags + "1. e7e5 *", 12, "e7e5", nullptr,
         true},
        {"nonstandard: nothing to move", tags + "1. e3e4 *", 12, "e3e4", nullptr, true},
        {"nonstandard: a pawn cannot take backwards off the board",
         "[FEN \"4k3/8/8/8/8/8/8/1P2K3 w - - 0 1\"]\nb1a1 *", 12, "b1a1", nullptr, true},
    });
}

TEST(PgnReader, GamesAndTheTextBetweenThem)
{
    const std::string text = "Round one\n\n" + std::string(kRoster) + "\n1. e4 *\n\n" +
                             "------\n  \n" + kRoster + "1. d4 *\n";
    PgnSource source;
    source.openText(text);
    Game game;
    ASSERT_TRUE(readPgnGame(game, source, false));
    EXPECT_EQ(mainLine(game), "e4");
    game.clear();
    ASSERT_TRUE(readPgnGame(game, source, false));
    EXPECT_EQ(mainLine(game), "d4");
    game.clear();
    EXPECT_FALSE(readPgnGame(game, source, false));
    EXPECT_FALSE(readPgnGame(game, source, false));

    source.openText(std::string(kRoster) + "1. e4 *\n\nthe end\n");
    ASSERT_TRUE(readPgnGame(game, source, false));
    game.clear();
    try {
        readPgnGame(game, source, false);
        ADD_FAILURE() << "text after the last game is not a game";
    } catch (const PGNGameException& error) {
        EXPECT_EQ(error.code(), PGNGameException::NotPgn);
        EXPECT_EQ(error.message(), "not a PGN game");
    }
    // The text helper starts from an empty game, and finds none in blank text.
    game.white = "left over";
    ASSERT_TRUE(readPgnText(game, std::string(kRoster) + "1. e4 e5 *", false));
    EXPECT_EQ(game.white + " " + mainLine(game), "w e4 e5");
    EXPECT_FALSE(readPgnText(game, "  \n", false));
}

TEST(PgnReader, LineEndingsAndByteOrderMark)
{
    const std::string lf = std::string(kRoster) + "\n1. e4 {one\ntwo} e5 *\n";
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    for (const std::string& text : {lf, crlf, "\xEF\xBB\xBF" + crlf}) {
        Outcome outcome = readOne(text);
        ASSERT_TRUE(outcome.read);
        EXPECT_EQ(outcome.game.event, "e"); // the first tag line with a mark before it
        EXPECT_EQ(outcome.game.entries[0].comment, "one\r\ntwo");
    }
}

TEST(PgnReader, DeepNestingIsRefused)
{
    std::string text = std::string(kRoster) + "1. e4";
    for (int i = 0; i < 300; ++i)
        text += " (1. d4";
    Outcome outcome = readOne(text);
    EXPECT_EQ(outcome.code, PGNGameException::BadAnnotation);
}

TEST(PgnException, MessageTakesTheArgument)
{
    PGNGameException error(PGNGameException::IllegalMove, "Kh4");
    EXPECT_STREQ(error.what(), "illegal move: Kh4");
    char buffer[8];
    unsigned help = 7;
    EXPECT_TRUE(error.getErrorMessage(buffer, sizeof buffer, &help));
    EXPECT_STREQ(buffer, "illegal");
    EXPECT_EQ(help, 0u);
}

} // namespace
} // namespace vez
