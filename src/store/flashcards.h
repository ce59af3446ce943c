// Notes on big records and the flashcard index: the parts the graph needs to release
// a position.
#pragma once

#include "store/records.h"

namespace vez {

// Releases the NotationRecords of a big record's note and clears the field.
void releaseNote(DbOffset bigRecord);
// Releases the NotationRecords from link on (the note field or a piece's next) and clears it.
void releaseNotePieces(DbOffset& link);

bool isFlashcard(DbOffset record);
DbOffset addFlashcard(DbOffset record);
// The block's last filled slot moves into the freed one; empty blocks stay.
void removeFlashcard(DbOffset record);
// The index names records, not positions: when a position's record is replaced by
// another, its flashcard moves over in the same place of the sequence.
void replaceFlashcard(DbOffset oldRecord, DbOffset newRecord);
// The record at an index of the flashcard sequence, or 0.
DbOffset flashcardAt(std::uint32_t index);

} // namespace vez
