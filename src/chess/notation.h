// Move text: SAN, English descriptive and coordinate notation, and glyphs.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "chess/position.h"

namespace vez {

// Buffer for the text of one move (the longest, a qualified descriptive pawn capture
// with promotion, glyph and check sign, is 16 characters), NUL-terminated.
using MoveText = std::array<char, 24>;

// Formatter results besides 0 (success).
constexpr int kNoPieceToMove = -1; // from-square empty or holds a piece of the side not to move
constexpr int kNotInList = -2;     // the move is not in the legal list

// Formatting takes the legal list of the position (from legalMoves) and its count.
int formatSan(const Position& pos, MoveText& out, Move move, const MoveList& list, int count,
              MoveGlyph glyph);
int formatDescriptive(const Position& pos, MoveText& out, Move move, const MoveList& list,
                      int count, MoveGlyph glyph);

// Descriptive (when asked) or SAN text, falling back to "e2-e4" coordinates.
std::string formatMove(const Position& pos, Move move, bool nonstandard, MoveGlyph glyph,
                       bool descriptive);

// Formats the move (glyph 0); on failure returns the negative code and changes
// nothing. Otherwise plays it, refills list with the new position's legal moves,
// appends "+" or "#" (standard databases only) and the glyph text, and returns the
// new legal move count.
int formatMoveAndPlay(Position& pos, MoveText& out, Move move, MoveList& list, int count,
                      bool nonstandard, MoveGlyph glyph, bool descriptive);

// The SAN or descriptive text (no glyph, no check sign) of every legal move, in the
// order of the legal list.
void listMoveTexts(const Position& pos, std::vector<std::string>& out, bool nonstandard,
                   bool descriptive);

// Algebraic and coordinate parser. Sets *legal (1 first) and *glyph (0 first) when
// given. True when a move was recognised and the text is used up. Never changes pos.
bool parseMove(const Position& pos, Move& move, bool* legal, MoveGlyph* glyph,
               std::string_view text);
bool parseDescriptive(const Position& pos, Move& move, bool* legal, MoveGlyph* glyph,
                      std::string_view text);

// The shared tail: check and mate signs, a glyph, trailing white space. Advances
// cursor; true when the text ends there.
bool parseMoveSuffix(std::string_view text, std::size_t& cursor, MoveGlyph* glyph);

} // namespace vez
