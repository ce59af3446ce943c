// The ECO opening book: one game from the standard start whose lines are the book lines,
// the last move of each line commented "ECO[code]: name", tagged "Special" = "ECO opening
// book". Storing it marks the book positions with their codes; every later game without
// an ECO tag takes the code of the deepest book position on its main line.
//
// buildEcoBook makes such a game from a classification file that gives one short game per
// opening (an ECO tag, "Opening", "Variation" and "SubVariation" tags, the moves), as the
// one distributed with pgn-extract does.
#pragma once

#include <string>

#include "interchange/game.h"
#include "interchange/pgn_source.h"

namespace vez {

inline constexpr std::string_view kSpecialTag = "Special";
inline constexpr std::string_view kEcoBookValue = "ECO opening book";

struct EcoBookCounts {
    int lines = 0;      // entries that became book lines
    int repeated = 0;   // entries ending on a position an earlier entry already classified
    int unusable = 0;   // entries without an ECO code, from a set-up position or without moves
    int unreadable = 0; // entries the PGN reader refused
};

// "ECO[B12]: Caro-Kann, Advance variation": the code, then the names that are given.
std::string ecoBookComment(const Game& entry);

// Adds every entry of the source as a book line. The first entry that ends on a position
// names it; later ones ending there are left out, since a position carries one code.
EcoBookCounts buildEcoBook(PgnSource& source, Game& book);

} // namespace vez
