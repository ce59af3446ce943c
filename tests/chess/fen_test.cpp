#include <gtest/gtest.h>

#include <string>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/position.h"

namespace vez {
namespace {

TEST(Fen, WritesReadsAcceptsAndRefuses)
{
    Position pos; // empty board, every flag 0: castling allowed as far as flags go
    EXPECT_EQ(writeEpd(pos), "8/8/8/8/8/8/8/8 w KQkq -");
    pos.castleKingsideLost[kWhite] = 1;
    pos.castleQueensideLost[kBlack] = 1;
    pos.sideToMove = kBlack;
    EXPECT_EQ(writeEpd(pos), "8/8/8/8/8/8/8/8 b Qk -");
    // 1. e4 c5 2. e5 d5: en passant on the d-file, written as the file letter.
    ASSERT_TRUE(readFen(pos, "rnbqkbnr/pp2pppp/8/2ppP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d 0 3"));
    FenText text;
    const int n = writeFen(pos, text, 3, 17, false);
    EXPECT_EQ(std::string(text.data(), std::size_t(n)),
              "rnbqkbnr/pp2pppp/8/2ppP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d 3 17");
    EXPECT_EQ(text[std::size_t(n)], '\0');

    // Counters missing or given in part.
    int halfmove = -1, number = -1;
    ASSERT_TRUE(readFen(pos, "8/8/8/8/8/8/8/8 w", &halfmove, &number));
    EXPECT_EQ(std::pair(halfmove, number), std::pair(0, 0));
    EXPECT_EQ(writeEpd(pos), "8/8/8/8/8/8/8/8 w - -");
    ASSERT_TRUE(readFen(pos, "4k3/8/8/8/8/8/8/4K3 w - - 12", &halfmove, &number));
    EXPECT_EQ(number, 0);

    // Castling letters in any order and repeated; digits adding up to 8; a counter that is
    // not a number ends the text there.
    for (const char* text :
         {"8/8/8/8/8/8/8/8 w", "8/8/8/8/8/8/8/8 w qkQKKq -", "8/8/8/8/8/8/8/44 w",
          "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e 0 1", "8/8/8/8/8/8/8/8 w - - x"})
        EXPECT_TRUE(readFen(pos, text)) << text;
    // A standard en-passant square, seven squares before "/", side in upper case, seven or
    // nine ranks, no side, a bad letter or digit, a bad en-passant file, two blanks.
    for (const char* text :
         {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
          "ppppppp/8/8/8/8/8/8/8/8 w", "8/8/8/8/8/8/8/8 W", "8/8/8/8/8/8/8 w",
          "8/8/8/8/8/8/8/8/8 w", "8/8/8/8/8/8/8/8", "8/8/8/8/8/8/8/7x w", "8/8/8/8/8/8/8/8 w - i",
          "8/8/8/8/8/8/8/8 w -  -", "8/8/8/8/8/8/8/8 w - - 12x", ""})
        EXPECT_FALSE(readFen(pos, text)) << '"' << text << '"';
}

// What is read: "score|note", "-" for no score, then the flashcard and user-notation marks.
TEST(Epd, ReadsWritesAndReadsBackOperations)
{
    const std::pair<const char*, const char*> cases[] = {
        {"4k3/8/8/8/8/8/8/4K3 w - - ce 35;", "35|"},
        {"4k3/8/8/8/8/8/8/4K3 b - - ce 35;", "-35|"},
        {"4k3/8/8/8/8/8/8/4K3 w - - ce 35 ;", "refused"},
        {"4k3/8/8/8/8/8/8/4K3 w - - ce x;", "refused"},
        {"4k3/8/8/8/8/8/8/4K3 w - - ce 99999999999;", "refused"},
        {"4k3/8/8/8/8/8/8/4K3 w - - c0 'it''s';", "-|it's"},
        {"4k3/8/8/8/8/8/8/4K3 w - - c0 'abc", "refused"},
        {"4k3/8/8/8/8/8/8/4K3 w - - c0 'abc' d;", "refused"},
        {"4k3/8/8/8/8/8/8/4K3 w - - c3 'x'; c1 'y';", "-|x\r\ny"},
        {"4k3/8/8/8/8/8/8/4K3 w - - id 'x'; bm e4; c0 'kept'", "-|kept"},
        {"4k3/8/8/8/8/8/8/4K3 w - - c0 \"a;b\";", "-|\"a"},
        {"4k3/8/8/8/8/8/8/4K3 w - - 0 1 bm Kd2; c0 'n';", "-|n"},
        {"4k3/8/8/8/8/8/8/4K3 w - - cx 'no'; c 'no';", "-|"},
        {"4k3/8/8/8/8/8/8/4K3 w - - F; U;", "-| F U"},
        {"4k3/8/8/8/8/8/8/4K3 e - -", "refused"},
    };
    for (const auto& [text, expected] : cases) {
        Position pos;
        PositionAnnotation a;
        a.note = "left over";
        const bool ok = readEpd(pos, text, &a);
        EXPECT_EQ(!ok ? "refused"
                      : (a.score == kNoScore ? "-" : std::to_string(a.score)) + "|" + a.note +
                            (a.flashcard ? " F" : "") + (a.userNotation ? " U" : ""),
                  expected)
            << text;
    }
    // Annotations written and read back (first by a caller that wants none).
    Position pos;
    ASSERT_TRUE(readEpd(pos, "4k3/8/8/8/8/8/8/4K3 b - - ce 1;"));
    PositionAnnotation a;
    a.score = 35;
    a.note = "Main line\r\nBlack's idea";
    EXPECT_EQ(writeEpd(pos, &a),
              "4k3/8/8/8/8/8/8/4K3 b - - ce -35; c0 'Main line'; c1 'Black''s idea';");
    a = PositionAnnotation{};
    a.flashcard = 1;
    a.userNotation = 1;
    a.note = "one\r\n"; // a final line break adds no empty line
    EXPECT_EQ(writeEpd(pos, &a), "4k3/8/8/8/8/8/8/4K3 b - - F; U; c0 'one';");
    setStandardStart(pos);
    for (int lines : {1, 10, 11, 250}) {
        a = PositionAnnotation{};
        for (int i = 0; i < lines; ++i) {
            // Empty lines inside survive; a trailing line break is not kept.
            const bool empty = i % 7 == 3 && i + 1 < lines;
            a.note += (i > 0 ? "\r\n" : "") + (empty ? "" : "line " + std::to_string(i) + " it's");
        }
        a.score = -lines;
        a.flashcard = lines % 2;
        PositionAnnotation back;
        Position read;
        ASSERT_TRUE(readEpd(read, writeEpd(pos, &a), &back)) << lines;
        EXPECT_TRUE(samePosition(read, pos));
        EXPECT_EQ(back.note, a.note) << lines;
        EXPECT_EQ(back.score * 10 + back.flashcard, a.score * 10 + a.flashcard);
    }
}

} // namespace
} // namespace vez
