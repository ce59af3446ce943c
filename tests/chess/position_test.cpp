#include <gtest/gtest.h>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/position.h"

namespace vez {
namespace {

Position fromFen(const char* fen)
{
    Position pos;
    EXPECT_TRUE(readFen(pos, fen)) << fen;
    return pos;
}

int sq(const char* name) { return makeSquare(name[0] - 'a', name[1] - '1'); }

Move mv(const char* from, const char* to, PieceType type)
{
    return encodeMove(sq(from), sq(to), type);
}

TEST(Position, StandardStart)
{
    Position pos;
    pos.squares[20] = 99; // anything left over must be cleared
    pos.enPassant = 1;
    setStandardStart(pos);
    EXPECT_EQ(pos.squares[sq("e1")], 6);
    EXPECT_EQ(pos.squares[sq("e8")], 14);
    EXPECT_EQ(pos.squares[sq("a8")], 12);
    EXPECT_EQ(pos.squares[20], 0);
    EXPECT_EQ(pos.sideToMove, kWhite);
    EXPECT_EQ(pos.enPassant, 0);
    EXPECT_EQ(writeEpd(pos), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
    EXPECT_EQ(findKing(pos), sq("e1"));
}

TEST(Position, MoveCodeLayout)
{
    const Move castle = encodeMove(4, 6, PieceType::King);
    EXPECT_EQ(moveCode(castle), (4 << 9) | (6 << 3) | 6);
    EXPECT_EQ(fromSquare(castle), 4);
    EXPECT_EQ(toSquare(castle), 6);
    EXPECT_EQ(pieceTypeOf(castle), PieceType::King);
    EXPECT_EQ(moveCode(encodeMove(63, 63, PieceType::King)) & 0x8000, 0);
}

TEST(Position, DoubleStepSetsEnPassantOnlyWhenAnEnemyPawnCanTake)
{
    Position pos;
    setStandardStart(pos);
    EXPECT_EQ(makeMove(pos, mv("e2", "e4", PieceType::Pawn)), kBlack);
    EXPECT_EQ(pos.enPassant, 0);

    pos = fromFen("4k3/8/8/8/1p6/8/P7/4K3 w - -");
    makeMove(pos, mv("a2", "a4", PieceType::Pawn));
    EXPECT_EQ(pos.enPassant, 1);
    EXPECT_EQ(pos.enPassantFile, 0);

    // A white pawn beside the target does not count for White's own double step.
    pos = fromFen("4k3/8/8/8/1P6/8/P7/4K3 w - -");
    makeMove(pos, mv("a2", "a4", PieceType::Pawn));
    EXPECT_EQ(pos.enPassant, 0);

    // No wrap-around from the h-file to the a-file of the next rank.
    pos = fromFen("4k3/8/8/8/8/p7/7P/4K3 w - -");
    makeMove(pos, mv("h2", "h4", PieceType::Pawn));
    EXPECT_EQ(pos.enPassant, 0);
}

TEST(Position, EnPassantCaptureClearsTheVictim)
{
    Position pos = fromFen("4k3/3p4/8/4P3/8/8/8/4K3 b - -");
    makeMove(pos, mv("d7", "d5", PieceType::Pawn));
    ASSERT_EQ(pos.enPassant, 1);
    ASSERT_EQ(pos.enPassantFile, 3);
    makeMove(pos, mv("e5", "d6", PieceType::Pawn));
    EXPECT_EQ(pos.squares[sq("d5")], kEmpty);
    EXPECT_EQ(pos.squares[sq("d6")], makePiece(PieceType::Pawn, kWhite));
    EXPECT_EQ(pos.squares[sq("e5")], kEmpty);
    EXPECT_EQ(pos.enPassant, 0);
}

TEST(Position, CastlingMovesTheRookAndLosesBothRights)
{
    Position pos = fromFen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
    makeMove(pos, encodeMove(4, 6, PieceType::King));
    EXPECT_EQ(pos.squares[sq("f1")], makePiece(PieceType::Rook, kWhite));
    EXPECT_EQ(pos.squares[sq("h1")], kEmpty);
    EXPECT_EQ(pos.squares[sq("g1")], makePiece(PieceType::King, kWhite));
    EXPECT_EQ(pos.castleKingsideLost[kWhite], 1);
    EXPECT_EQ(pos.castleQueensideLost[kWhite], 1);
    EXPECT_EQ(pos.castleKingsideLost[kBlack], 0);

    makeMove(pos, encodeMove(60, 58, PieceType::King));
    EXPECT_EQ(pos.squares[sq("d8")], makePiece(PieceType::Rook, kBlack));
    EXPECT_EQ(pos.squares[sq("a8")], kEmpty);
    EXPECT_EQ(writeEpd(pos), "2kr3r/8/8/8/8/8/8/R4RK1 w - -");
}

TEST(Position, RookCapturesAndRookMovesDecideCastlingFlags)
{
    struct Case {
        const char* fen;
        Move move;
        const char* castlingAfter; // castling field of the result
    };
    const Case cases[] = {
        // A bishop taking the rook on h8 takes Black's kingside right...
        {"r3k2r/8/8/8/8/8/6B1/4K3 w kq -", mv("g2", "h8", PieceType::Bishop), "q"},
        // ...a rook taking it leaves the flag alone (the rook branch comes first).
        {"r3k2r/8/8/7R/8/8/8/4K3 w kq -", mv("h5", "h8", PieceType::Rook), "kq"},
        // A rook leaving its own corner loses that wing only.
        {"4k3/8/8/8/8/8/8/R3K2R w KQ -", mv("a1", "a5", PieceType::Rook), "K"},
        {"4k3/8/8/8/8/8/8/R3K2R w KQ -", mv("h1", "h5", PieceType::Rook), "Q"},
        // A white rook leaving a8 (the other side's corner) changes nothing.
        {"R3k2r/8/8/8/8/8/8/4K3 w kq -", mv("a8", "a5", PieceType::Rook), "kq"},
        // A black queen taking on a1 takes White's queenside right.
        {"4k3/8/8/8/8/8/8/R3K2q b Q -", mv("h1", "a1", PieceType::Queen), "-"},
        // The king taking a rook on its corner: king branch only.
        {"4k2r/6K1/8/8/8/8/8/8 w k -", mv("g7", "h8", PieceType::King), "k"},
    };
    for (const Case& c : cases) {
        Position pos = fromFen(c.fen);
        makeMove(pos, c.move);
        const std::string fen = writeEpd(pos);
        const std::string castling = fen.substr(fen.find(' ') + 3, fen.rfind(' ') - fen.find(' ') - 3);
        EXPECT_EQ(castling, c.castlingAfter) << c.fen;
    }
}

TEST(Position, OddPawnMovesStayOnTheBoard)
{
    // A pawn on its first rank moved sideways (coordinate text accepts it as a geometry).
    Position pos = fromFen("4k3/8/8/8/8/8/8/1P2K3 w - -");
    makeMove(pos, mv("b1", "a1", PieceType::Pawn));
    EXPECT_EQ(pos.squares[sq("a1")], makePiece(PieceType::Pawn, kWhite));
    pos = fromFen("1p2k3/8/8/8/8/8/8/4K3 b - -");
    makeMove(pos, mv("b8", "c8", PieceType::Pawn));
    EXPECT_EQ(pos.squares[sq("c8")], makePiece(PieceType::Pawn, kBlack));
}

TEST(Position, PromotionPlacesTheTypeField)
{
    Position pos = fromFen("8/4P3/8/8/8/8/8/k3K3 w - -");
    makeMove(pos, mv("e7", "e8", PieceType::Knight));
    EXPECT_EQ(pos.squares[sq("e8")], 2);
    EXPECT_EQ(pos.squares[sq("e7")], 0);
}

TEST(Position, SamePositionIgnoresTheFileWithoutAnEnPassantRight)
{
    Position a = fromFen("4k3/8/8/8/8/8/8/4K3 w - -");
    Position b = a;
    b.enPassantFile = 5;
    EXPECT_TRUE(samePosition(a, b));
    a.enPassant = b.enPassant = 1;
    EXPECT_FALSE(samePosition(a, b));
    EXPECT_TRUE(differentPosition(a, b));
    b = a;
    b.castleQueensideLost[kBlack] = 0;
    EXPECT_FALSE(samePosition(a, b));
    b = a;
    b.sideToMove = kBlack;
    EXPECT_FALSE(samePosition(a, b));
}

TEST(Position, FindKingOfTheSideToMove)
{
    EXPECT_EQ(findKing(fromFen("4k3/8/8/8/8/8/8/4K3 b - -")), sq("e8"));
    EXPECT_EQ(findKing(fromFen("4k3/8/8/8/8/8/8/8 w - -")), kNoSquare);
    // Several kings (nonstandard set-ups): the first from a1 upwards.
    EXPECT_EQ(findKing(fromFen("4k3/8/8/8/3K4/8/8/4K3 w - -")), sq("e1"));
}

} // namespace
} // namespace vez
