// The position value type and playing moves on it.
#pragma once

#include <cstdint>
#include <cstring>

#include "chess/types.h"

namespace vez {

// The board with the side to move, castling-lost flags and the en-passant right.
// The field order and widths are fixed: positions are copied as blocks and compared
// field by field. All zero bytes is the empty board, White to move, castling allowed
// as far as the flags go, no en-passant right. There is no halfmove clock or move
// number; whoever needs them keeps them beside the position.
struct Position {
    std::uint8_t squares[64] = {};
    std::int32_t sideToMove = kWhite;
    std::int32_t castleKingsideLost[2] = {};  // indexed by colour
    std::int32_t castleQueensideLost[2] = {}; // indexed by colour
    std::int32_t enPassant = 0;               // 1 = the side to move may capture en passant
    std::int32_t enPassantFile = 0;           // file of the pawn that just advanced two squares
};

static_assert(sizeof(Position) == 92);
static_assert(std::is_trivially_copyable_v<Position>);

void setStandardStart(Position& pos);

// Plays a move (assumed legal or parser-accepted) and returns the new side to move.
int makeMove(Position& pos, Move move);

// What makeMove does besides moving the piece. A king move by two files castles (the
// generator makes them only from e1 and e8): the rook's squares, when both are on the board.
struct RookMove {
    int from = kNoSquare;
    int to = kNoSquare;
};
constexpr RookMove castlingRook(int kingFrom, int kingTo)
{
    if (kingTo == kingFrom + 2 && isSquare(kingFrom + 3))
        return {kingFrom + 3, kingFrom + 1};
    if (kingTo == kingFrom - 2 && isSquare(kingFrom - 4))
        return {kingFrom - 4, kingFrom - 1};
    return {};
}
// A pawn's sideways move onto an empty square takes en passant: the square of the pawn taken,
// kNoSquare when it would be off the board.
constexpr int enPassantVictim(int side, int to)
{
    const int victim = side == kWhite ? to - 8 : to + 8;
    return isSquare(victim) ? victim : kNoSquare;
}

// Equal side to move, castling flags, en-passant right (the file only where the
// right is set) and board.
bool samePosition(const Position& a, const Position& b);
inline bool differentPosition(const Position& a, const Position& b) { return !samePosition(a, b); }

// The first square from a1 upwards that holds a king of the side to move, or kNoSquare.
int findKing(const Position& pos);

// Eight squares at a time: the square bytes of a rank as one word (file a in the lowest
// byte), and words with the high bit of each byte set where that byte is not zero.
inline constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;
inline std::uint64_t rankWord(const Position& pos, int rank)
{
    std::uint64_t row;
    std::memcpy(&row, pos.squares + rank * 8, sizeof row);
    return row;
}
inline constexpr std::uint64_t nonZeroBytes(std::uint64_t word)
{
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    return (((word & kLow7) + kLow7) | word) & ~kLow7;
}

} // namespace vez
