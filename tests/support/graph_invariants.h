// Checks of the position graph's invariants, shared by the store's randomized tests.
#pragma once

#include <gtest/gtest.h>

#include <set>

#include "store/graph.h"
#include "store/packing.h"

namespace vez::test {

inline PackedPosition keyOf(const Position& pos)
{
    PackedPosition key;
    packPosition(pos, key);
    return key;
}

inline bool hasPredecessor(DbOffset record, DbOffset pred)
{
    for (const GraphEdge& e : predecessorMoves(record)) {
        if (e.record == pred)
            return true;
    }
    return false;
}

inline std::uint32_t freeListLength(FreeList list, std::uint32_t linkOffset)
{
    std::uint32_t n = 0;
    for (DbOffset r = currentHeader().freeLists[int(list)]; r != 0;
         r = *at<DbOffset>(r + linkOffset))
        ++n;
    return n;
}

// The graph's own invariants: every record in the chain of its hash, rebuilt to the
// position that made it; tiny records with one way in and one out; both ends of every edge
// agreeing; counters sound; note chains and the notation free list apart and ending; the
// header's counts equal to what the lists hold.
inline void checkGraphStructure()
{
    std::set<DbOffset> noteRecords;
    auto walkNotes = [&](DbOffset n) {
        for (; n != 0; n = at<NotationRecord>(n)->next)
            ASSERT_TRUE(noteRecords.insert(n).second) << "note record " << n << " met twice";
    };
    walkNotes(currentHeader().freeLists[int(FreeList::Notation)]);
    std::uint32_t moveRecords = 0;
    for (std::uint32_t slot = 0; slot < kHashSlots; ++slot) {
        for (DbOffset r = hashSlot(std::uint16_t(slot)); r != 0;
             r = at<PositionRecord>(r)->nextInChain) {
            ASSERT_FALSE(flagsOf(r) & kFlagVisit) << "mark left behind";
            Position pos;
            ASSERT_TRUE(reconstructPosition(r, pos)) << "record " << r;
            const PackedPosition key = keyOf(pos);
            ASSERT_EQ(primaryHash(key), slot) << "record in the wrong chain";
            ASSERT_EQ(secondaryCode(key), at<PositionRecord>(r)->secondary);
            ASSERT_EQ(findPosition(pos), r);
            if (isTiny(r)) {
                const TinyPosition* t = at<TinyPosition>(r);
                ASSERT_NE(t->predecessor, 0u) << "tiny record without predecessor";
                ASSERT_NE(t->successorMove, 0) << "tiny record without successor";
                Position next = pos;
                const DbOffset succ = tinySuccessor(r, next);
                ASSERT_NE(succ, 0u);
                ASSERT_TRUE(hasPredecessor(succ, r));
                continue;
            }
            if (isBig(r))
                walkNotes(at<BigPosition>(r)->note);
            const PositionCounts c = recordCounts(r);
            ASSERT_LE(c.whiteWins + c.blackWins, c.games) << "record " << r;
            ASSERT_LT(c.games, 1000000u) << "counter went below zero";
            for (const GraphEdge& e : successorMoves(r)) {
                ++moveRecords;
                ASSERT_TRUE(hasPredecessor(e.record, r));
                Position next = pos;
                makeMove(next, e.move);
                ASSERT_EQ(findPosition(next), e.record);
            }
            for (const GraphEdge& e : predecessorMoves(r)) {
                if (isTiny(e.record)) {
                    ++moveRecords; // tiny -> non-tiny edges are in no outgoing list
                    ASSERT_EQ(at<TinyPosition>(e.record)->successorMove, moveCode(e.move));
                } else {
                    bool listed = false;
                    for (const GraphEdge& out : successorMoves(e.record))
                        listed = listed || (out.record == r && out.move == e.move);
                    ASSERT_TRUE(listed);
                }
            }
        }
    }
    const DatabaseHeader& h = currentHeader();
    EXPECT_EQ(h.moveRecordCount, moveRecords);
    const std::uint32_t onLists = freeListLength(FreeList::Tiny, 8) * 12 +
                                  freeListLength(FreeList::Full, 0) * 20 +
                                  freeListLength(FreeList::Big, 0) * 40 +
                                  freeListLength(FreeList::MoveRecord, 16) * 20 +
                                  freeListLength(FreeList::Variation, 16) * 36 +
                                  freeListLength(FreeList::Notation, 0) * 36 +
                                  freeListLength(FreeList::GameRecord, 0) * 36;
    EXPECT_EQ(h.freeListBytes, onLists);
}

} // namespace vez::test
