#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "store/database.h"
#include "store/heap.h"
#include "store_fixture.h"

namespace vez {
namespace {

using testing::StoreTest;

using HeapTest = StoreTest;

TEST_F(HeapTest, PoolBoundary)
{
    const DbOffset first = poolAllocate(7988, PoolChain::Misc);
    const DbOffset pool = db->poolChains[int(PoolChain::Misc)];
    EXPECT_EQ(first, pool + 8);
    // 7,988 used: a 12-byte record fits exactly.
    EXPECT_EQ(poolAllocate(12, PoolChain::Misc), pool + 8 + 7988);
    EXPECT_EQ(std::tuple(at<Pool>(pool)->used, db->poolChains[int(PoolChain::Misc)]),
              std::tuple(8000, pool));

    // 7,990 used: a 12-byte record starts a new pool and the 10 bytes stay unused.
    poolAllocate(7990, PoolChain::Sets);
    const DbOffset setsPool = db->poolChains[int(PoolChain::Sets)];
    const DbOffset next = poolAllocate(12, PoolChain::Sets);
    const DbOffset newPool = db->poolChains[int(PoolChain::Sets)];
    EXPECT_NE(newPool, setsPool);
    // 7,990 rounded up to 4 stay used in the old pool.
    EXPECT_EQ(std::tuple(at<Pool>(newPool)->next, next, at<Pool>(setsPool)->used),
              std::tuple(setsPool, newPool + 8, 7992));
}

TEST_F(HeapTest, FreeListsReuseLastReleasedFirstAndZero)
{
    const DbOffset a = allocateRecord(RecordKind::TinyPosition);
    const DbOffset b = allocateRecord(RecordKind::TinyPosition);
    at<TinyPosition>(a)->successorMove = 77;
    at<TinyPosition>(b)->successorMove = 88;
    const std::uint32_t freeBytes = db->freeListBytes;
    releaseRecord(RecordKind::TinyPosition, a);
    releaseRecord(RecordKind::TinyPosition, b);
    EXPECT_EQ(db->freeListBytes, freeBytes + 24);
    EXPECT_EQ(allocateRecord(RecordKind::TinyPosition), b);
    // Zeroed, the link field too.
    EXPECT_EQ(std::tuple(at<TinyPosition>(b)->successorMove, at<TinyPosition>(b)->predecessor),
              std::tuple(0, 0u));
    EXPECT_EQ(allocateRecord(RecordKind::TinyPosition), a);
    EXPECT_EQ(db->freeListBytes, freeBytes);
}

TEST_F(HeapTest, ReleasedHugeRecordIsReusedAsBig)
{
    const DbOffset huge = allocateHugePosition();
    std::memset(at<std::uint8_t>(huge), 0x5A, sizeof(HugePosition));
    releaseHugePosition(huge);
    EXPECT_EQ(db->freeListBytes, 40u);
    const DbOffset big = allocateRecord(RecordKind::BigPosition);
    EXPECT_EQ(
        std::tuple(big, at<BigPosition>(big)->games, at<BigPosition>(big)->note, db->freeListBytes),
        std::tuple(huge, 0u, 0u, 0u));
}

TEST_F(HeapTest, CompressionBlocksReuseOnlyExactSizes)
{
    const DbOffset b16 = allocateBlock(13); // 13 bytes take a 16-byte block
    const DbOffset b24 = allocateBlock(17);
    EXPECT_EQ(b24, b16 + 16);
    freeBlock(b24, 17);
    const DbOffset fresh = allocateBlock(13);
    EXPECT_NE(fresh, b24); // a free 24-byte block is not split for 16
    freeBlock(b16, 13);
    EXPECT_EQ(allocateBlock(9), b16); // a free 16-byte block is reused
    EXPECT_EQ(db->freeBlocks, b24);

    // Equal sizes come back in the order they were released; the list is largest first.
    const DbOffset x = allocateBlock(16);
    const DbOffset y = allocateBlock(16);
    const DbOffset big = allocateBlock(40);
    std::memset(at<std::uint8_t>(x), 0xFF, 16);
    freeBlock(x, 16);
    freeBlock(big, 40);
    freeBlock(y, 16);
    EXPECT_EQ(std::tuple(db->freeBlocks, at<CompressionBlock>(big)->size), std::tuple(big, 40u));
    EXPECT_EQ(allocateBlock(16), x);
    EXPECT_EQ(at<std::uint8_t>(x)[15], 0); // zeroed
    EXPECT_EQ(allocateBlock(16), y);
}

} // namespace
} // namespace vez
