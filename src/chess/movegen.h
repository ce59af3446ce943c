// Move generation, attacks and legality over the 64-byte board.
#pragma once

#include "chess/position.h"

namespace vez {

// Ray directions in the order of the king-target table: up, up-right, right,
// down-right, down, down-left, left, up-left.
enum Ray : int { Up, UpRight, Right, DownRight, Down, DownLeft, Left, UpLeft };
constexpr int kRayOffset[8] = {8, 9, 1, -7, -8, -9, -1, 7};

// Precomputed per-square tables. Target order is part of the file format (it
// fixes the order of the legal move list).
struct MoveTables {
    std::uint8_t knightCount[64];
    std::int8_t knightTargets[64][8];
    std::uint8_t kingCount[64];
    std::int8_t kingTargets[64][8];
    std::uint8_t rayLength[64][8]; // squares to the edge, indexed by Ray
};

const MoveTables& moveTables();

// Pseudo-legal moves of the side to move in the fixed generation order.
int generateMoves(const Position& pos, MoveList& list, bool nonstandard);

// The move list every other part of the system uses: pseudo-legal moves with those
// that leave the king attacked removed by swapping in the last move (unfiltered when
// nonstandard).
int legalMoves(const Position& pos, MoveList& list, bool nonstandard);

// The place of a move in that list, or -1 when it is not there; the list is worked out
// only as far as the move.
int legalMoveIndex(const Position& pos, Move move, bool nonstandard);

// Whether the square is attacked by the side not to move.
bool isAttacked(const Position& pos, int square);

// Whether the side to move would have its king attacked after the move. The board is
// changed during the test and restored exactly. With kingSquare == kNoSquare (no king
// of the side to move) only king moves can leave a king attacked.
bool leavesKingAttacked(Position& pos, Move move, int kingSquare);

// Whether the code is one of legalMoves with standard rules, whatever the database.
bool isLegalMove(const Position& pos, Move move);

// Squares of the side to move's pieces of the given type (knight to king) that could
// reach the target, ignoring pins and what stands on the target. Returns the count.
int piecesReaching(const Position& pos, PieceType type, int target, int (&out)[8]);

} // namespace vez
