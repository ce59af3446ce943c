// Positions and moves written as text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "chess/fen.h"
#include "chess/notation.h"
#include "chess/position.h"

namespace vez::test {

inline Position positionFrom(std::string_view fen)
{
    Position pos;
    EXPECT_TRUE(readFen(pos, fen)) << fen;
    return pos;
}

inline int sq(std::string_view name) { return makeSquare(name[0] - 'a', name[1] - '1'); }

// "e7e8Q": from-square, to-square and the letter of the type standing on the to-square
// afterwards (P for every pawn move that does not promote, "-" for none).
inline Move moveFrom(std::string_view text)
{
    constexpr std::string_view kTypes = "-PNBRQK";
    return encodeMove(sq(text), sq(text.substr(2)), static_cast<PieceType>(kTypes.find(text[4])));
}

// The move in short algebraic notation; "" for none.
inline std::string sanOf(const Position& pos, Move move)
{
    return move == Move::None ? "" : formatMove(pos, move, false, MoveGlyph::None, false);
}

} // namespace vez::test
