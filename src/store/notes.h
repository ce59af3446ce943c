// Notes, ECO codes and user marks on positions, and the store side of flashcard drill.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "chess/position.h"
#include "store/records.h"

namespace vez {

// Sets the note of a position (made big first) and returns its record; 0 when the
// position cannot be stored. A text holding "ECO[" with a "]" at least one character later
// sets the position's ECO code instead and leaves the note alone; an empty text removes
// the note.
DbOffset setNote(const Position& pos, std::string_view text);
std::string noteText(DbOffset record);
std::string noteText(const Position& pos);
// The ECO code of a position as text; empty when it has none.
std::string ecoText(const Position& pos);
// Marks the note of a record as the user's own; returns the (big) record.
DbOffset markUserNote(DbOffset record);
// Visits every big record with the user mark, slot by slot and down each chain, until the
// callback returns non-zero, which is returned (0 when all were visited).
int forEachUserNote(const std::function<int(DbOffset)>& callback);

// Makes the position a flashcard, or stops it being one; true when it is one afterwards.
bool toggleFlashcard(const Position& pos);
// The flashcard after the current position in sequence order (the first when the position
// is none), wrapping round; false when there are no flashcards.
bool nextFlashcard(const Position& current, Position& next);

} // namespace vez
