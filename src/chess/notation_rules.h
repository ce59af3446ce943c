// Piece letters, descriptive file names and board facts shared by the move formatters
// and parsers. Internal to the notation code.
#pragma once

#include "chess/position.h"

namespace vez::notation {

inline constexpr char kPieceLetters[] = "?PNBRQK?";

// Descriptive file names and file groups (the piece that starts on the file).
inline constexpr const char* kDescriptiveFileName[8] = {"QR", "QN", "QB", "Q", "K", "KB", "KN", "KR"};
inline constexpr char kFileGroup[8] = {'R', 'N', 'B', 'Q', 'K', 'B', 'N', 'R'};
inline constexpr const char* kFileGroupName[8] = {"R", "N", "B", "Q", "K", "B", "N", "R"};

inline char pieceLetter(PieceType type) { return kPieceLetters[static_cast<int>(type) & 7]; }

inline int pawnDirection(int side) { return side == kWhite ? 8 : -8; }
inline int rankStep(int side) { return side == kWhite ? 1 : -1; }
inline int lastRank(int side) { return side == kWhite ? 7 : 0; }

// Descriptive ranks count from the mover's side: 1 is the mover's first rank.
inline int relativeRank(int rank, int side) { return side == kWhite ? rank : 7 - rank; }

inline bool isOwnPiece(const Position& pos, int square, PieceType type)
{
    return isSquare(square) && pos.squares[square] == makePiece(type, pos.sideToMove);
}

inline bool isEnemyPiece(const Position& pos, int square)
{
    const std::uint8_t piece = pos.squares[square];
    return piece != kEmpty && colourOf(piece) != pos.sideToMove;
}

// The square an en-passant capture of the side to move would land on, when the right is set.
inline bool isEnPassantTarget(const Position& pos, int square)
{
    return pos.enPassant == 1 && fileOf(square) == pos.enPassantFile &&
           rankOf(square) == (pos.sideToMove == kWhite ? 5 : 2);
}

} // namespace vez::notation
