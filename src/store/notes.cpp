#include "store/notes.h"

#include <algorithm>
#include <cstring>

#include "store/checksum.h"
#include "store/codes.h"
#include "store/database.h"
#include "store/flashcards.h"
#include "store/graph.h"
#include "store/heap.h"

namespace vez {

namespace {

constexpr std::size_t kPiece = sizeof(NotationRecord::text);

BigPosition* bigPosition(DbOffset r) { return at<BigPosition>(r); }

// "ECO[" followed, at least one character later, by "]".
bool isBookComment(std::string_view text, std::string_view& code)
{
    const std::size_t open = text.find("ECO[");
    if (open == std::string_view::npos)
        return false;
    const std::size_t close = text.find(']', open + 5);
    if (close == std::string_view::npos)
        return false;
    code = text.substr(open + 4);
    return true;
}

void writeNote(DbOffset record, std::string_view text)
{
    noteImageChange();
    // The text with its NUL, in 32-byte pieces; existing records are rewritten in order.
    const std::size_t pieces = text.empty() ? 0 : text.size() / kPiece + 1;
    DbOffset* link = &bigPosition(record)->note;
    for (std::size_t i = 0; i < pieces; ++i) {
        if (*link == 0) {
            // Reused records are not cleared: their link still holds the free list.
            *link = allocateRecord(RecordKind::NotationRecord);
            at<NotationRecord>(*link)->next = 0;
        }
        NotationRecord* n = at<NotationRecord>(*link);
        std::memset(n->text, 0, kPiece);
        const std::size_t start = i * kPiece;
        std::memcpy(n->text, text.data() + start, std::min(kPiece, text.size() - start));
        link = &n->next;
    }
    releaseNotePieces(*link);
}

} // namespace

DbOffset setNote(const Position& pos, std::string_view text)
{
    noteImageChange();
    const DbOffset record = ensureBig(findOrAddRoot(pos));
    if (record == 0)
        return 0;
    text = text.substr(0, text.find('\0'));
    std::string_view code;
    if (isBookComment(text, code))
        bigPosition(record)->eco = parseEco(code);
    else
        writeNote(record, text);
    return record;
}

std::string noteText(DbOffset record)
{
    std::string text;
    if (record == 0 || !isBig(record))
        return text;
    std::uint64_t limit = currentHeader().usedBytes / sizeof(NotationRecord) + 1;
    for (DbOffset n = bigPosition(record)->note; n != 0 && limit > 0;
         n = at<NotationRecord>(n)->next, --limit) {
        const char* piece = at<NotationRecord>(n)->text;
        const std::size_t length = std::find(piece, piece + kPiece, '\0') - piece;
        text.append(piece, length);
        if (length < kPiece)
            break;
    }
    return text;
}

std::string noteText(const Position& pos) { return noteText(findPosition(pos)); }

std::string ecoText(const Position& pos)
{
    const DbOffset record = findPosition(pos);
    if (record == 0 || !isBig(record))
        return {};
    return formatEco(bigPosition(record)->eco);
}

DbOffset markUserNote(DbOffset record)
{
    noteImageChange();
    record = ensureBig(record);
    if (record != 0)
        bigPosition(record)->flags |= kFlagUserNote;
    return record;
}

int forEachUserNote(const std::function<int(DbOffset)>& callback)
{
    for (std::uint32_t slot = 0; slot < kHashSlots; ++slot) {
        for (DbOffset r = hashSlot(std::uint16_t(slot)); r != 0;
             r = at<PositionRecord>(r)->nextInChain) {
            if (isBig(r) && (flagsOf(r) & kFlagUserNote)) {
                if (const int result = callback(r))
                    return result;
            }
        }
    }
    return 0;
}

bool toggleFlashcard(const Position& pos)
{
    noteImageChange();
    const DbOffset record = findOrAddRoot(pos);
    if (record == 0)
        return false;
    if (isFlashcard(record)) {
        removeFlashcard(record);
        return false;
    }
    addFlashcard(record);
    return true;
}

bool nextFlashcard(const Position& current, Position& next)
{
    const std::uint32_t count = currentHeader().flashcardCount;
    if (count == 0)
        return false;
    const DbOffset here = findPosition(current);
    std::uint32_t index = count;
    for (std::uint32_t i = 0; here != 0 && i < count; ++i) {
        if (flashcardAt(i) == here) {
            index = i;
            break;
        }
    }
    // Past the last one, or from a position that is none, the drill starts again at 0.
    const DbOffset card = flashcardAt(index + 1 >= count ? 0 : index + 1);
    return card != 0 && reconstructPosition(card, next);
}

} // namespace vez
