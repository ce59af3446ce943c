// What the store keeps in memory about the lines that end at each position, so that storing
// a game does not walk every line ending where it ends. Thousands of forfeits, short draws
// or miniatures ending alike would make every such walk, and with it an import, grow with
// the square of their number.
//
// Nothing of this is written to the file. A position's list in the file stays the truth:
// what is known here is built from it on first need, kept up to date as lines are listed,
// and every answer is checked against the records before it is used.
#pragma once

#include "store/records.h"

namespace vez {

// Told by listVariation of every line it lists.
void lineListed(DbOffset variation, DbOffset end);

// Whether the list at a position may hold lines with compressed tails; false only when a
// walk of that list found none and none has been listed there since.
bool mayHoldTails(DbOffset end);
// What a walk of the list at a position found.
void tailsCounted(DbOffset end, std::uint32_t count);

// The earlier game whose main line ends where the game's does, by the same path, with
// compatible header fields: the first such game in the list at the end, or 0.
DbOffset duplicateOf(DbOffset game);
// Tells the index about a game stored with its main line (and not folded into another).
void mainLineStored(DbOffset game);

// Drops everything known (player names changed under the games).
void forgetLineEnds();

} // namespace vez
