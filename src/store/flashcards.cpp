#include "store/flashcards.h"

#include <utility>

#include "store/checksum.h"
#include "store/database.h"
#include "store/heap.h"

namespace vez {

void releaseNote(DbOffset bigRecord) { releaseNotePieces(at<BigPosition>(bigRecord)->note); }

void releaseNotePieces(DbOffset& link)
{
    noteImageChange();
    for (DbOffset record = std::exchange(link, 0); record != 0;) {
        const DbOffset next = at<NotationRecord>(record)->next;
        releaseRecord(RecordKind::NotationRecord, record);
        record = next;
    }
}

namespace {

// The block and slot holding a record, if any.
bool findFlashcard(DbOffset record, DbOffset& block, std::uint32_t& slot)
{
    for (block = currentHeader().firstFlashcardBlock; block != 0;
         block = at<FlashcardIndexBlock>(block)->next) {
        const FlashcardIndexBlock* b = at<FlashcardIndexBlock>(block);
        for (slot = 0; slot < b->count && slot < kFlashcardSlots; ++slot) {
            if (b->slots[slot] == record)
                return true;
        }
    }
    return false;
}

} // namespace

bool isFlashcard(DbOffset record)
{
    DbOffset block;
    std::uint32_t slot;
    return record != 0 && findFlashcard(record, block, slot);
}

DbOffset addFlashcard(DbOffset record)
{
    noteImageChange();
    if (record == 0 || isFlashcard(record))
        return record;
    DbOffset block = currentHeader().firstFlashcardBlock;
    while (block != 0 && at<FlashcardIndexBlock>(block)->count >= kFlashcardSlots)
        block = at<FlashcardIndexBlock>(block)->next;
    if (block == 0) {
        block = allocateRaw(sizeof(FlashcardIndexBlock));
        DatabaseHeader& h = currentHeader();
        at<FlashcardIndexBlock>(block)->next = h.firstFlashcardBlock;
        h.firstFlashcardBlock = block;
        ++h.flashcardBlockCount;
    }
    FlashcardIndexBlock* b = at<FlashcardIndexBlock>(block);
    b->slots[b->count++] = record;
    storeStep(); // a stop here leaves the header's count one short of the blocks'
    ++currentHeader().flashcardCount;
    return record;
}

void removeFlashcard(DbOffset record)
{
    noteImageChange();
    DbOffset block;
    std::uint32_t slot;
    if (record == 0 || !findFlashcard(record, block, slot))
        return;
    FlashcardIndexBlock* b = at<FlashcardIndexBlock>(block);
    --b->count;
    b->slots[slot] = b->slots[b->count];
    b->slots[b->count] = 0;
    --currentHeader().flashcardCount;
}

void replaceFlashcard(DbOffset oldRecord, DbOffset newRecord)
{
    noteImageChange();
    DbOffset block;
    std::uint32_t slot;
    // Promotions call this for every record they replace: most databases have no cards.
    if (currentHeader().flashcardCount == 0 || oldRecord == 0 ||
        !findFlashcard(oldRecord, block, slot))
        return;
    at<FlashcardIndexBlock>(block)->slots[slot] = newRecord;
}

DbOffset flashcardAt(std::uint32_t index)
{
    if (index >= currentHeader().flashcardCount)
        return 0;
    for (DbOffset block = currentHeader().firstFlashcardBlock; block != 0;
         block = at<FlashcardIndexBlock>(block)->next) {
        const FlashcardIndexBlock* b = at<FlashcardIndexBlock>(block);
        if (index < b->count)
            return b->slots[index];
        index -= b->count;
    }
    return 0;
}

} // namespace vez
