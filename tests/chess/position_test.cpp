#include <gtest/gtest.h>

#include <tuple>

#include "chess/movegen.h"
#include "chess/position.h"
#include "support/board.h"

namespace vez {
namespace {

using test::moveFrom, test::positionFrom, test::sq;

TEST(Position, MakeMove)
{
    // The position, the move, and the position after it.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        // A double step gives an en-passant right only when an enemy pawn can take.
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", "e2e4P",
         "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -"},
        {"4k3/8/8/8/1p6/8/P7/4K3 w - -", "a2a4P", "4k3/8/8/8/Pp6/8/8/4K3 b - a"},
        {"4k3/8/8/8/1P6/8/P7/4K3 w - -", "a2a4P", "4k3/8/8/8/PP6/8/8/4K3 b - -"},
        {"4k3/8/8/8/8/p7/7P/4K3 w - -", "h2h4P", "4k3/8/8/8/7P/p7/8/4K3 b - -"}, // no wrap
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d", "e5d6P", "4k3/8/3P4/8/8/8/8/4K3 b - -"},
        // Taking a rook on its corner loses its right, unless the taker is a rook (the
        // rook branch comes first) or the king (king branch only).
        {"r3k2r/8/8/8/8/8/6B1/4K3 w kq -", "g2h8B", "r3k2B/8/8/8/8/8/8/4K3 b q -"},
        {"r3k2r/8/8/7R/8/8/8/4K3 w kq -", "h5h8R", "r3k2R/8/8/8/8/8/8/4K3 b kq -"},
        {"4k3/8/8/8/8/8/8/R3K2q b Q -", "h1a1Q", "4k3/8/8/8/8/8/8/q3K3 w - -"},
        {"4k2r/6K1/8/8/8/8/8/8 w k -", "g7h8K", "4k2K/8/8/8/8/8/8/8 b k -"},
        // A rook leaving a corner loses that wing only; the other side's corner, nothing.
        // (Castling and the common cases are in the perft counts.)
        {"4k3/8/8/8/8/8/8/R3K2R w KQ -", "a1a5R", "4k3/8/8/R7/8/8/8/4K2R b K -"},
        {"R3k2r/8/8/8/8/8/8/4K3 w kq -", "a8a5R", "4k2r/8/8/R7/8/8/8/4K3 b kq -"},
        // Odd pawn moves on an edge rank (coordinate text accepts any geometry).
        {"4k3/8/8/8/8/8/8/1P2K3 w - -", "b1a1P", "4k3/8/8/8/8/8/8/P3K3 b - -"},
        {"1p2k3/8/8/8/8/8/8/4K3 b - -", "b8c8P", "2p1k3/8/8/8/8/8/8/4K3 w - -"},
        {"8/4P3/8/8/8/8/8/k3K3 w - -", "e7e8N", "4N3/8/8/8/8/8/8/k3K3 b - -"},
    };
    for (const auto& [fen, move, after] : cases) {
        Position pos = positionFrom(fen);
        EXPECT_EQ(makeMove(pos, moveFrom(move)), pos.sideToMove);
        EXPECT_EQ(writeEpd(pos), after) << fen << " " << move;
    }
}

TEST(Position, SamePositionAndKing)
{
    Position a = positionFrom("4k3/8/8/8/8/8/8/4K3 w - -");
    Position b = a;
    b.enPassantFile = 5; // no right: the file does not count
    EXPECT_TRUE(samePosition(a, b));
    a.enPassant = b.enPassant = 1;
    EXPECT_TRUE(differentPosition(a, b));
    b = a;
    b.castleQueensideLost[kBlack] = 0;
    EXPECT_FALSE(samePosition(a, b));
    b = a;
    b.sideToMove = kBlack;
    EXPECT_FALSE(samePosition(a, b));
    EXPECT_EQ(findKing(b), sq("e8"));
    EXPECT_EQ(findKing(positionFrom("4k3/8/8/8/8/8/8/8 w - -")), kNoSquare);
    // Several kings (nonstandard set-ups): the first from a1 upwards.
    EXPECT_EQ(findKing(positionFrom("4k3/8/8/8/3K4/8/8/4K3 w - -")), sq("e1"));
}

} // namespace
} // namespace vez
