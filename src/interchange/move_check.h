// Checks on moves that come from outside (files, the clipboard, a caller's game) before
// they are played on a position.
#pragma once

#include "chess/position.h"

namespace vez {

// Whether makeMove can play the move without harm: a piece of the side to move stands on the
// from-square, and a pawn that moves sideways onto an empty square (which makeMove takes for
// an en-passant capture and clears the square behind) has a square behind its target.
bool isPlayable(const Position& pos, Move move);

// Plays a playable move and returns true; leaves the position alone for any other.
bool playMove(Position& pos, Move move);

// Whether the move is one of legalMoves(pos, ..., nonstandard), decided without filtering the
// whole list: the move must be generated, and in standard chess must not leave the king
// attacked (judged with the same king square the full list uses).
bool isListedMove(const Position& pos, Move move, bool nonstandard);

} // namespace vez
