// Fixed-size records carved from pools, typed free lists, and compression blocks.
#pragma once

#include <cstdint>

#include "store/checksum.h"
#include "store/records.h"

namespace vez {

// The record kinds with pools and free lists of their own.
enum class RecordKind : int {
    TinyPosition, FullPosition, BigPosition, MoveRecord, NotationRecord, DisambiguationRecord,
    Gameset, IntRange, TagVal, Variation, GameRecord
};

struct RecordKindInfo {
    std::uint32_t size;
    PoolChain chain;
    FreeList freeList;
    std::uint32_t linkOffset;   // where a released record keeps the next free one
    bool zeroedOnReuse;
    bool countsAsFreeBytes;     // counted in freeListBytes while released
};

const RecordKindInfo& recordKindInfo(RecordKind kind);

// Bytes carved from the head pool of a chain (a new 8008-byte pool when the head cannot
// take them). Sizes round up to 4; more than the 8000 bytes of a pool is never asked for
// (texts are cut to fit) and gives 0.
DbOffset poolAllocate(std::uint32_t size, PoolChain chain);

// A record of the kind: the last released one when there is one, else a fresh one from
// the kind's pool. Maintains freeListBytes and the kind's header counter. A fresh
// GameRecord takes the next game number; a reused one keeps its own.
DbOffset allocateRecord(RecordKind kind);
void releaseRecord(RecordKind kind, DbOffset record);

// HugePositions come only from the graph pool; a released one waits on the BigPosition
// list as 40 bytes, and a later BigPosition reuses its front.
DbOffset allocateHugePosition();
void releaseHugePosition(DbOffset record);

// Compressed move strings: blocks whose size is a multiple of 8, reused only when a
// released block has exactly the size asked for.
DbOffset allocateBlock(std::uint32_t bytes);
void freeBlock(DbOffset block, std::uint32_t bytes);

// Runs before every record, block or raw table is taken or given back, and between the
// writes of a promotion or of an edge: the points between which the store changes the
// image. Tests stop a process there to see what a kill at that moment leaves; null (the
// default) runs nothing.
using StoreStepHook = void (*)();
void setStoreStepHook(StoreStepHook hook);
extern StoreStepHook storeStepHook;
// Called by the allocators, and by the writers between the steps of a change.
inline void storeStep()
{
    noteImageChange();
    if (storeStepHook)
        storeStepHook();
}

// Counts the records of the graph and of the games (positions, moves, choices, lines,
// game records) and the compressed tails taken or given back, in any image. Every change
// to the graph or to the games takes or releases at least one of them (a new record, a
// promotion, an edge, a game, a line, a choice, a tail), so memory derived from the graph
// and the games is current while this count stays the same. Names, notes, tags and
// gamesets do not count.
std::uint64_t graphChanges();

} // namespace vez
