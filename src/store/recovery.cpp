#include "store/recovery.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "store/checksum.h"
#include "store/damage.h"
#include "store/database.h"
#include "store/flashcards.h"
#include "store/game_paths.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/heap.h"

namespace vez {

namespace {

std::vector<DbOffset> positionRecords()
{
    std::vector<DbOffset> records;
    const std::uint64_t limit = currentHeader().usedBytes / sizeof(TinyPosition) + 1;
    for (std::uint32_t slot = 0; slot < kHashSlots; ++slot) {
        for (DbOffset r = hashSlot(std::uint16_t(slot)); r != 0 && records.size() < limit;
             r = at<PositionRecord>(r)->nextInChain)
            records.push_back(r);
    }
    // Chains that run in a circle: what is chained is not known, and nothing may be taken
    // for unused.
    if (records.size() >= limit)
        throwDamaged(currentHeader().hashTable, "hash chains that end");
    return records;
}

bool listedGame(DbOffset game)
{
    return game != 0 && gameByNumber(gameNumberOf(*at<GameRecord>(game))) == game;
}

// Unlists the lines whose game is not listed; returns how many lines stay.
std::uint32_t dropUnlistedLines(const std::vector<DbOffset>& positions)
{
    std::uint32_t kept = 0;
    const std::uint64_t limit = currentHeader().usedBytes / sizeof(Variation);
    for (DbOffset r : positions) {
        if (!(at<PositionRecord>(r)->flags & kFlagBig))
            continue;
        DbOffset* link = &at<BigPosition>(r)->firstVariation;
        for (std::uint64_t steps = 0; *link != 0 && steps < limit; ++steps) {
            const DbOffset v = *link;
            if (listedGame(at<Variation>(v)->game)) {
                ++kept;
                link = &at<Variation>(v)->nextAtEnd;
                continue;
            }
            *link = at<Variation>(v)->nextAtEnd;
            releaseRecord(RecordKind::Variation, v);
        }
    }
    return kept;
}

struct Counts {
    std::uint32_t games = 0, whiteWins = 0, blackWins = 0;
};

// The games and results of the main lines through every non-tiny record.
std::unordered_map<DbOffset, Counts> countMainLines()
{
    std::unordered_map<DbOffset, Counts> counted;
    const std::uint32_t issued = currentHeader().gameNumbersIssued;
    for (std::uint32_t n = 0; n < issued; ++n) {
        const DbOffset g = gameByNumber(n);
        if (g == 0 || at<GameRecord>(g)->mainLine == 0)
            continue;
        const int result = gameResultOf(*at<GameRecord>(g));
        std::unordered_set<DbOffset> passed;
        auto count = [&](DbOffset r) {
            if (isTiny(r) || !passed.insert(r).second)
                return;
            Counts& c = counted[r];
            ++c.games;
            c.whiteWins += result == 1;
            c.blackWins += result == 2;
        };
        const DbOffset main = at<GameRecord>(g)->mainLine;
        count(at<Variation>(main)->graphEnd);
        walkBack(main, [&](const PathStep& s) {
            count(s.prev);
            return true;
        });
    }
    return counted;
}

void setCounts(DbOffset r, const Counts& c)
{
    noteImageChange();
    if (at<PositionRecord>(r)->flags & kFlagBig) {
        BigPosition* b = at<BigPosition>(r);
        b->games = c.games;
        b->whiteWins = c.whiteWins;
        b->blackWins = c.blackWins;
        return;
    }
    FullPosition* f = at<FullPosition>(r);
    f->games = std::uint8_t(std::min<std::uint32_t>(c.games, 255));
    f->whiteWins = std::uint8_t(std::min<std::uint32_t>(c.whiteWins, 255));
    f->blackWins = std::uint8_t(std::min<std::uint32_t>(c.blackWins, 255));
}

// The MoveRecords linked at the non-tiny records, from either end.
std::uint32_t linkedMoves(const std::vector<DbOffset>& positions)
{
    std::unordered_set<DbOffset> moves;
    const std::uint64_t limit = currentHeader().usedBytes / sizeof(MoveRecord);
    for (DbOffset r : positions) {
        if (isTiny(r))
            continue;
        std::uint64_t steps = 0;
        for (DbOffset m = at<FullPosition>(r)->firstOutgoing; m != 0 && ++steps < limit;
             m = at<MoveRecord>(m)->nextOutgoing)
            moves.insert(m);
        steps = 0;
        for (DbOffset m = at<FullPosition>(r)->firstIncoming; m != 0 && ++steps < limit;
             m = at<MoveRecord>(m)->nextIncoming)
            moves.insert(m);
    }
    return std::uint32_t(moves.size());
}

// Counts a chain of index blocks again, visiting each. A block is chained before it is
// counted, so a stop in between leaves the chain one longer than count; false (count
// unchanged) for any other length, which is damage for validation to report.
template <class Block, class Visit>
bool recountBlocks(DbOffset first, std::uint32_t& count, Visit visit)
{
    std::uint32_t blocks = 0;
    for (DbOffset b = first; b != 0; b = at<Block>(b)->next) {
        if (++blocks > count + 1u)
            return false;
        visit(*at<Block>(b));
    }
    count = blocks;
    return true;
}

// A stop while a game went into the index may also leave one number issued with no block
// for it: that game never made it, and its number is issued again.
void mendGameIndex()
{
    DatabaseHeader& h = currentHeader();
    if (recountBlocks<GameIndexBlock>(h.firstGameIndexBlock, h.gameIndexBlockCount,
                                      [](const GameIndexBlock&) {}))
        h.gameNumbersIssued = std::uint32_t(std::min<std::uint64_t>(
            h.gameNumbersIssued, std::uint64_t(h.gameIndexBlockCount) * kGameIndexSlots));
}

// A stop while a record went onto a free list or came off it leaves the free-byte count a
// record off, and a count run below zero would leave a file that no longer opens.
void recountFreeBytes()
{
    DatabaseHeader& h = currentHeader();
    std::uint64_t bytes = 0;
    for (int k = 0; k <= int(RecordKind::GameRecord); ++k) {
        const RecordKindInfo& info = recordKindInfo(RecordKind(k));
        if (!info.countsAsFreeBytes)
            continue;
        std::uint64_t left = h.usedBytes / info.size + 1;
        for (DbOffset r = h.freeLists[int(info.freeList)]; r != 0;
             r = *at<DbOffset>(r + info.linkOffset)) {
            if (--left == 0)
                return; // a list in a circle: damage, for validation to report
            bytes += info.size;
        }
    }
    h.freeListBytes = std::uint32_t(bytes);
}

// Adding a flashcard fills its slot before the header counts it: a stop in between leaves
// the count one short, which removing that card would run below zero.
void recountFlashcards()
{
    DatabaseHeader& h = currentHeader();
    std::uint64_t cards = 0;
    if (recountBlocks<FlashcardIndexBlock>(
            h.firstFlashcardBlock, h.flashcardBlockCount, [&](const FlashcardIndexBlock& b) {
                cards += std::min<std::uint32_t>(b.count, kFlashcardSlots);
            }))
        h.flashcardCount = std::uint32_t(cards);
}

// Ends every note in its last piece: a note being rewritten when the process stopped keeps
// what was written up to its first end, and one with no text yet goes. Returns the
// NotationRecords the notes keep.
std::uint32_t mendNotes(const std::vector<DbOffset>& positions)
{
    const std::uint64_t limit = currentHeader().usedBytes / sizeof(NotationRecord);
    std::uint32_t kept = 0;
    for (DbOffset r : positions) {
        if (!(at<PositionRecord>(r)->flags & kFlagBig))
            continue;
        DbOffset& note = at<BigPosition>(r)->note;
        std::uint64_t pieces = 0;
        for (DbOffset n = note; n != 0; n = at<NotationRecord>(n)->next) {
            if (++pieces > limit)
                throwDamaged(r, "a note that ends");
        }
        if (note != 0 && at<NotationRecord>(note)->text[0] == 0)
            releaseNotePieces(note);
        for (DbOffset n = note; n != 0; n = at<NotationRecord>(n)->next, ++kept) {
            NotationRecord* piece = at<NotationRecord>(n);
            if (std::memchr(piece->text, 0, sizeof piece->text) != nullptr)
                releaseNotePieces(piece->next);
            else if (piece->next == 0)
                piece->text[sizeof piece->text - 1] = 0;
        }
    }
    return kept;
}

} // namespace

bool closedCleanly() { return currentHeader().fileHandle == kInMemoryHandle; }

void recoverInterruptedChanges()
{
    noteImageChange();
    try {
        mendGameIndex();
        recountFreeBytes();
        recountFlashcards();
        const std::vector<DbOffset> positions = repairInterruptedGraph(positionRecords());
        const std::uint32_t lines = dropUnlistedLines(positions);
        const std::unordered_map<DbOffset, Counts> counted = countMainLines();
        for (DbOffset r : positions) {
            if (isTiny(r))
                continue;
            const auto it = counted.find(r);
            setCounts(r, it == counted.end() ? Counts{} : it->second);
        }
        currentHeader().variationCount = lines;
        currentHeader().moveRecordCount = linkedMoves(positions);
        currentHeader().notationRecordCount = mendNotes(positions);
    } catch (const DamagedDatabase&) {
        // Damage is for validation to report; what was changed so far is only closer to
        // the truth.
    }
}

} // namespace vez
