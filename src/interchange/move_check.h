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

// isListedMove in standard chess for the moves of a line played one after another, mostly
// without testing the whole board. It follows from the moves played whether the side to
// move is in check; when it is not, a move other than the king's (or en passant) can only
// leave its king attacked by opening the line from the king through the square it leaves.
// Lines it cannot follow that way (not one king a side, or a start position where the side
// not to move is in check) are judged in full throughout.
class LineLegality {
public:
    // Judges every move in full.
    LineLegality() = default;
    explicit LineLegality(const Position& start);

    // isListedMove(pos, move, false), where pos is the line's position after the moves
    // played so far.
    bool isListed(const Position& pos, Move move) const;
    // The move, listed in before, was played and gave after.
    void played(const Position& before, Move move, const Position& after);

private:
    bool m_followed = false;
    bool m_inCheck = false; // the side to move, when followed
    int m_king[2] = {kNoSquare, kNoSquare};
};

} // namespace vez
