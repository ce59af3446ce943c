// Basic chess value types: pieces, squares, moves and glyphs.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

namespace vez {

// A square is 0..63: rank index * 8 + file index, a1 = 0, h1 = 7, a8 = 56, h8 = 63.
// "Up" (towards rank 8) is +8 and "right" (towards file h) is +1.
constexpr int kNoSquare = -1;

constexpr int makeSquare(int file, int rank) { return rank * 8 + file; }
constexpr int fileOf(int square) { return square & 7; }
constexpr int rankOf(int square) { return square >> 3; }
constexpr bool isSquare(int square) { return square >= 0 && square < 64; }

// Colours as stored in Position::sideToMove and in bit 3 of a square byte.
constexpr int kWhite = 0;
constexpr int kBlack = 1;

enum class PieceType : std::uint8_t { None = 0, Pawn = 1, Knight = 2, Bishop = 3, Rook = 4, Queen = 5, King = 6 };

// A square byte: the PieceType in bits 0-2 and the colour in bit 3; an empty square is 0.
constexpr std::uint8_t kEmpty = 0;
constexpr std::uint8_t kColourBit = 8;

constexpr std::uint8_t makePiece(PieceType type, int colour)
{
    return static_cast<std::uint8_t>(static_cast<int>(type) | (colour << 3));
}
constexpr PieceType typeOf(std::uint8_t piece) { return static_cast<PieceType>(piece & 7); }
constexpr int colourOf(std::uint8_t piece) { return (piece >> 3) & 1; }

// Move layout (16 bits):
//   bit  15     always 0
//   bits 9-14   from-square
//   bits 3-8    to-square
//   bits 0-2    PieceType standing on the to-square after the move
//               (1 for every non-promoting pawn move, the new piece for a promotion,
//               the moving piece otherwise). Never 0 for a real move, so Move::None
//               (code 0) means "no move".
// Castling is the king's own two-file move (e1-g1, e1-c1, e8-g8, e8-c8, type King).
enum class Move : std::uint16_t { None = 0 };

constexpr Move encodeMove(int from, int to, PieceType type)
{
    return static_cast<Move>((from << 9) | (to << 3) | static_cast<int>(type));
}
constexpr int fromSquare(Move m) { return (static_cast<int>(m) >> 9) & 63; }
constexpr int toSquare(Move m) { return (static_cast<int>(m) >> 3) & 63; }
constexpr PieceType pieceTypeOf(Move m) { return static_cast<PieceType>(static_cast<int>(m) & 7); }
constexpr std::uint16_t moveCode(Move m) { return static_cast<std::uint16_t>(m); }

static_assert(sizeof(Move) == 2);

// A caller-supplied buffer for move lists; generators fill it from the start and
// return the count, never writing past the end.
constexpr int kMaxMoves = 512;
using MoveList = std::array<Move, kMaxMoves>;

// Annotation of a move: 1-6 are the six glyphs the user picks from a menu; larger
// values are numeric annotation glyphs that only PGN output prints ("$n").
enum class MoveGlyph : std::uint8_t {
    None = 0,
    Good = 1,        // !
    Mistake = 2,     // ?
    Brilliant = 3,   // !!
    Blunder = 4,     // ??
    Interesting = 5, // !?
    Dubious = 6,     // ?!
};

// Text of glyphs 1-6; empty for 0 and numeric glyphs.
const char* glyphText(MoveGlyph glyph);

// Scores are centipawns from White's point of view; this value means "no score".
constexpr std::int32_t kNoScore = 0x55555555;

} // namespace vez
