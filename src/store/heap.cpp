#include "store/heap.h"

#include <cassert>
#include <cstring>

#include "store/checksum.h"
#include "store/database.h"

namespace vez {

namespace {

constexpr RecordKindInfo kKinds[] = {
    {12, PoolChain::Tiny, FreeList::Tiny, 8, true, true},
    {20, PoolChain::Graph, FreeList::Full, 0, true, true},
    {40, PoolChain::Graph, FreeList::Big, 0, true, true},
    {20, PoolChain::Graph, FreeList::MoveRecord, 16, true, true},
    {36, PoolChain::Misc, FreeList::Notation, 0, false, true},
    {8, PoolChain::Misc, FreeList::Disambiguation, 4, false, false},
    {64, PoolChain::Sets, FreeList::Gameset, 16, true, false},
    {12, PoolChain::Sets, FreeList::IntRange, 8, false, false},
    {12, PoolChain::Misc, FreeList::TagVal, 8, false, false},
    {36, PoolChain::Misc, FreeList::Variation, 16, true, true},
    {36, PoolChain::Misc, FreeList::GameRecord, 0, true, true},
};

DbOffset& linkOf(DbOffset record, std::uint32_t linkOffset)
{
    return *reinterpret_cast<DbOffset*>(currentBase + record + linkOffset);
}

// The header counter a kind maintains, if any.
std::uint32_t* counterOf(RecordKind kind)
{
    DatabaseHeader& h = currentHeader();
    switch (kind) {
    case RecordKind::MoveRecord: return &h.moveRecordCount;
    case RecordKind::NotationRecord: return &h.notationRecordCount;
    case RecordKind::Variation: return &h.variationCount;
    default: return nullptr;
    }
}

// Records of the graph and the games, and blocks, taken or given back since the process
// started.
std::uint64_t changes = 0;

void countChange(RecordKind kind)
{
    switch (kind) {
    case RecordKind::NotationRecord:
    case RecordKind::Gameset:
    case RecordKind::IntRange:
    case RecordKind::TagVal: return;
    default: ++changes;
    }
}

} // namespace

StoreStepHook storeStepHook = nullptr;

void setStoreStepHook(StoreStepHook hook) { storeStepHook = hook; }

std::uint64_t graphChanges() { return changes; }

const RecordKindInfo& recordKindInfo(RecordKind kind) { return kKinds[int(kind)]; }

DbOffset poolAllocate(std::uint32_t size, PoolChain chain)
{
    storeStep();
    const std::uint32_t rounded = (size + 3) & ~3u;
    assert(rounded <= kPoolSpace && "records larger than a pool are cut by their callers");
    if (rounded > kPoolSpace)
        return 0;
    DbOffset& head = currentHeader().poolChains[int(chain)];
    if (head == 0 || std::uint32_t(at<Pool>(head)->used) + rounded > kPoolSpace) {
        const DbOffset pool = allocateRaw(sizeof(Pool));
        at<Pool>(pool)->used = 0;
        at<Pool>(pool)->next = head; // head is re-read: allocateRaw never moves the image
        currentHeader().poolChains[int(chain)] = pool;
    }
    Pool* pool = at<Pool>(currentHeader().poolChains[int(chain)]);
    pool->used = std::int16_t(pool->used + rounded);
    return offsetOf(pool->space) + std::uint32_t(pool->used) - rounded;
}

DbOffset allocateRecord(RecordKind kind)
{
    storeStep();
    const RecordKindInfo& info = kKinds[int(kind)];
    DatabaseHeader& h = currentHeader();
    DbOffset& freeHead = h.freeLists[int(info.freeList)];
    DbOffset record = 0;
    countChange(kind);
    if (freeHead != 0) {
        record = freeHead;
        freeHead = linkOf(record, info.linkOffset);
        if (info.countsAsFreeBytes)
            h.freeListBytes -= info.size;
        if (kind == RecordKind::GameRecord) {
            // Cleared, but a reused game record keeps its number.
            const std::uint32_t number = gameNumberOf(*at<GameRecord>(record));
            std::memset(currentBase + record, 0, info.size);
            setGameNumber(*at<GameRecord>(record), number);
        } else if (info.zeroedOnReuse) {
            std::memset(currentBase + record, 0, info.size);
        }
    } else {
        record = poolAllocate(info.size, info.chain);
        if (kind == RecordKind::GameRecord)
            setGameNumber(*at<GameRecord>(record), currentHeader().gameNumbersIssued++);
    }
    if (std::uint32_t* counter = counterOf(kind))
        ++*counter;
    return record;
}

void releaseRecord(RecordKind kind, DbOffset record)
{
    storeStep();
    const RecordKindInfo& info = kKinds[int(kind)];
    DatabaseHeader& h = currentHeader();
    DbOffset& freeHead = h.freeLists[int(info.freeList)];
    countChange(kind);
    linkOf(record, info.linkOffset) = freeHead;
    freeHead = record;
    storeStep(); // a stop here leaves the free bytes one record behind the list
    if (info.countsAsFreeBytes)
        h.freeListBytes += info.size;
    if (std::uint32_t* counter = counterOf(kind))
        --*counter;
}

DbOffset allocateHugePosition()
{
    storeStep();
    ++changes;
    return poolAllocate(sizeof(HugePosition), PoolChain::Graph);
}

void releaseHugePosition(DbOffset record) { releaseRecord(RecordKind::BigPosition, record); }

DbOffset allocateBlock(std::uint32_t bytes)
{
    storeStep();
    ++changes;
    const std::uint32_t rounded = bytes <= 8 ? 8 : (bytes + 7) & ~7u;
    DbOffset previous = 0;
    DbOffset block = currentHeader().freeBlocks;
    while (block != 0 && at<CompressionBlock>(block)->size > rounded) {
        previous = block;
        block = at<CompressionBlock>(block)->next;
    }
    if (block == 0 || at<CompressionBlock>(block)->size != rounded)
        return poolAllocate(rounded, PoolChain::Blocks);
    const DbOffset next = at<CompressionBlock>(block)->next;
    if (previous == 0)
        currentHeader().freeBlocks = next;
    else
        at<CompressionBlock>(previous)->next = next;
    std::memset(currentBase + block, 0, rounded);
    return block;
}

void freeBlock(DbOffset block, std::uint32_t bytes)
{
    storeStep();
    ++changes;
    const std::uint32_t rounded = bytes <= 8 ? 8 : (bytes + 7) & ~7u;
    DbOffset previous = 0;
    DbOffset next = currentHeader().freeBlocks;
    while (next != 0 && at<CompressionBlock>(next)->size >= rounded) {
        previous = next;
        next = at<CompressionBlock>(next)->next;
    }
    CompressionBlock* freed = at<CompressionBlock>(block);
    freed->size = rounded;
    freed->next = next;
    if (previous == 0)
        currentHeader().freeBlocks = block;
    else
        at<CompressionBlock>(previous)->next = block;
}

} // namespace vez
