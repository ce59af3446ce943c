// The PGN writer: the exact output, escapes, line wrapping, and what survives our own
// write-then-read.
#include "interchange/pgn_writer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "chess/fen.h"
#include "interchange/pgn_reader.h"
#include "support/game_text.h"

namespace vez {
namespace {

constexpr const char* kEmptyRoster = "[Event \"?\"]\r\n[Round \"?\"]\r\n[Site \"?\"]\r\n"
                                     "[Date \"????.??.??\"]\r\n[White \"?\"]\r\n[Black \"?\"]\r\n"
                                     "[Result \"*\"]\r\n\r\n";

Game reread(const std::string& text, bool nonstandard = false)
{
    Game game;
    EXPECT_TRUE(readPgnText(game, text, nonstandard)) << text;
    return game;
}

TEST(PgnWriter, WritesTheHeader)
{
    Game game;
    EXPECT_EQ(writeGameToText(game, false), std::string(kEmptyRoster) + "*\r\n\r\n");

    game.event = "The \"Big\" Open";
    game.site = "C:\\Chess";
    game.round = 7;
    game.year = 2012;
    game.month = 6;
    game.white = "W";
    game.black = "B";
    game.result = 3;
    game.eco = "B12";
    game.setTag("Annotator", "me");
    game.setTag("WhiteElo", "");
    ASSERT_TRUE(readFen(game.startPosition, "4k3/8/8/3pP3/8/8/8/4K3 w - d 0 9"));
    EXPECT_EQ(writeGameToText(game, false),
              "[Event \"The \\\"Big\\\" Open\"]\r\n[Round \"7\"]\r\n[Site \"C:\\\\Chess\"]\r\n"
              "[Date \"2012.6.??\"]\r\n[White \"W\"]\r\n[Black \"B\"]\r\n[Result \"1/2-1/2\"]\r\n"
              "[ECO \"B12\"]\r\n[SetUp \"1\"]\r\n[FEN \"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 0\"]\r\n"
              "[Annotator \"me\"]\r\n[WhiteElo \"\"]\r\n\r\n1/2-1/2\r\n\r\n");
}

// Real games check that our files read back (pgn_corpus_test) and that other readers find
// the same moves in them (pgn_extract_test); this is the exact layout.
TEST(PgnWriter, WritesMovesGlyphsNumbersAndVariationsExactly)
{
    // Variations replace a White and a Black move; a line after the end is not written.
    Game game =
        reread("[Result \"*\"]\n1. e4 (1. d4) e5 (1... c5 2. Nf3) 2. Nf3 $5 {main line} Nc6 $14 *");
    game.createSubLine(game, 4);
    const std::string expected = std::string(kEmptyRoster) +
                                 "1. e4 ( 1. d4)  e5 ( 1... c5 2. Nf3)  2. Nf3!?\r\n{main line} "
                                 " Nc6 $14 *\r\n\r\n";
    EXPECT_EQ(writeGameToText(game, false), expected);
    std::ostringstream file;
    writeGameToFile(game, file, false);
    EXPECT_EQ(file.str(), expected);

    // A FEN tag of the standard start is not written back.
    EXPECT_EQ(writeGameToText(reread("[FEN \"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - "
                                     "0 1\"]\n[Result \"*\"]\n1. e4 *"),
                              false),
              std::string(kEmptyRoster) + "1. e4 *\r\n\r\n");

    // Check and mate signs in standard chess only.
    const Game mate = reread("[Result \"*\"]\n1. f3 e5 2. g4 Qh4 *");
    EXPECT_NE(writeGameToText(mate, false).find("2. g4 Qh4# *"), std::string::npos);
    EXPECT_NE(writeGameToText(mate, true).find("2. g4 Qh4 *"), std::string::npos);

    // A set-up game with Black to move is numbered from White's first move.
    const std::string text = writeGameToText(
        reread("[FEN \"4k3/8/8/8/8/8/8/R3K3 b - - 0 1\"]\n5... Kd7 6. Ra7+ Kc6 *"), false);
    EXPECT_NE(text.find("\r\n1. Kd7 Ra7+ 2. Kc6 *"), std::string::npos) << text;
    EXPECT_EQ(writeGameToText(reread(text), false), text);
}

TEST(PgnWriter, WrapsMovetextAt79Columns)
{
    std::string moves = "[Result \"*\"]\n";
    for (int i = 0; i < 30; ++i)
        moves += "Nf3 Nf6 Ng1 Ng8 ";
    const std::string text = writeGameToText(reread(moves + "*"), false);
    std::istringstream movetext(text.substr(text.find("\r\n\r\n") + 4));
    int lines = 0;
    for (std::string line; std::getline(movetext, line) && line != "\r"; ++lines) {
        EXPECT_LE(line.size(), 80u) << line; // 79 and the carriage return
        EXPECT_NE(line.front(), ' ') << line;
    }
    EXPECT_GT(lines, 8);
}

TEST(PgnWriter, CommentsAndTagsSurviveOurOwnReader)
{
    const std::string longLine(120, 'w');
    const char* comments[] = {
        "a } inside",
        "}",
        "{nested} and \\x7d written out and \\x5c and \\ alone and \\\\",
        "   leading and trailing blanks   ",
        "line one\r\nline two\r\n  indented line three",
        "ends in a line break\r\n",
        "a long comment that goes on and on well past the seventy-nine columns of a line",
        "(not a variation) $14 1-0 * [%clk 0:01:00] ; %",
        "first\r\n% not an escape line\r\n%",
    };
    for (const char* comment : comments) {
        Game game = reread("[Result \"*\"]\n1. d4 d5 2. c4 *");
        game.initialComment = comment;
        game.entries[0].comment = comment;
        game.entries[1].comment = std::string(comment) + longLine;
        game.entries[2].comment = longLine + comment;
        game.event = std::string(comment) + longLine;
        game.setTag("Annotator", comment);
        const std::string text = writeGameToText(game, false);
        const Game back = reread(text);
        EXPECT_EQ(test::movetextOf(back), test::movetextOf(game)) << text;
        // Tag values lose carriage returns; a "?" alone reads as empty.
        std::string value = comment;
        std::erase(value, '\r');
        EXPECT_EQ(back.event + "|" + back.getTag("Annotator"), value + longLine + "|" + value);
        EXPECT_EQ(writeGameToText(back, false), text);
    }
}

} // namespace
} // namespace vez
