#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "store/database.h"
#include "store/heap.h"
#include "store_fixture.h"
#include "support/child_scripts.h"
#include "support/movetext.h"

namespace vez {
namespace {

namespace fs = std::filesystem;
using testing::StoreTest;

using TempDir = test::ScriptFolder;

std::uint64_t fileSize(const std::string& path) { return fs::file_size(path); }

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TEST_F(StoreTest, FreshDatabaseFiguresAndRawAllocationGrowingByWholeUnits)
{
    EXPECT_EQ(std::memcmp(db->magic, "vez1b1a", 8), 0);
    EXPECT_EQ(std::tuple(db->usedBytes, db->committedBytes, db->fileHandle, db->hashTable),
              std::tuple(262324u, 327680u, 0xFFFFFFFFu, 180u));
    EXPECT_EQ(db->compressionThresholdPly, 100);
    const std::uint32_t used = db->usedBytes;
    EXPECT_EQ(allocateRaw(0), used); // the heap top, nothing changes
    EXPECT_EQ(db->usedBytes, used);
    const DbOffset a = allocateRaw(5);
    EXPECT_EQ(a, used);
    EXPECT_EQ(db->usedBytes, used + 8);

    // Fill up to one byte below the committed end, then cross it by one byte.
    const std::uint32_t committed = db->committedBytes;
    allocateRaw(committed - db->usedBytes - 4);
    EXPECT_EQ(db->committedBytes, committed);
    allocateRaw(5);
    EXPECT_EQ(db->committedBytes, committed + kAllocationGranularity);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(StoreTest, InMemoryDatabaseGrowsPastTheOldHundredMegabyteLimit)
{
    std::vector<DbOffset> chunks;
    for (int i = 0; i < 40; ++i) {
        const DbOffset chunk = allocateRaw(4 << 20);
        std::memset(at<std::uint8_t>(chunk), i + 1, 4 << 20);
        chunks.push_back(chunk);
    }
    EXPECT_GT(db->usedBytes, 160u << 20);
    for (int i = 0; i < 40; ++i) {
        const std::uint8_t* chunk = at<std::uint8_t>(chunks[std::size_t(i)]);
        EXPECT_EQ(chunk[0] + chunk[(4 << 20) - 1], 2 * (i + 1));
    }
}

// The file grows in place, by the allocator and by ensureRoom, up to what 32 bits can hold.
TEST_F(StoreTest, SaveAsOpenGrowAndCloseKeepTheImage)
{
    TempDir dir;
    const std::string path = dir.file("games.vez");
    // Some records so that the image is more than a header.
    std::vector<DbOffset> records;
    for (int i = 0; i < 1000; ++i) {
        const DbOffset r = allocateRecord(RecordKind::Variation);
        at<Variation>(r)->endPly = std::int16_t(i);
        records.push_back(r);
    }
    const std::uint32_t used = db->usedBytes;
    ASSERT_TRUE(writeToFile(path));
    EXPECT_EQ(fileSize(path), used);

    DatabaseHeader* file = openMapped(path, 65536);
    ASSERT_NE(file, nullptr);
    closeDatabase(db); // the in-memory image is done with; the file is current
    db = file;
    EXPECT_EQ(db->usedBytes, used);
    EXPECT_EQ(db->committedBytes, (used + 65536 + 65535) / 65536 * 65536);
    EXPECT_EQ(fileSize(path), db->committedBytes); // the room is on disk while open
    EXPECT_NE(db->fileHandle, kInMemoryHandle);

    // Growth across many units keeps every offset valid and lands in the file.
    const DbOffset big = allocateRaw(3 * kAllocationGranularity + 17);
    std::memset(at<std::uint8_t>(big), 0xAB, 3 * kAllocationGranularity + 17);
    const std::uint32_t grownUsed = db->usedBytes;
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(at<Variation>(records[std::size_t(i)])->endPly, i);

    closeDatabase(db);
    db = nullptr;
    EXPECT_EQ(fileSize(path), grownUsed); // trimmed to the used part
    db = openMapped(path, 0);
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->usedBytes, grownUsed);
    EXPECT_EQ(at<std::uint8_t>(big)[3 * kAllocationGranularity + 16], 0xAB);
    EXPECT_EQ(at<Variation>(records[999])->endPly, 999);
    EXPECT_TRUE(ensureRoom(db, path, 1000, 2000));
    EXPECT_TRUE(ensureRoom(db, path, 10, 100)); // enough room already
    EXPECT_GE(roomOf(db), 2000000u);
    EXPECT_EQ(fileSize(path), db->committedBytes);
    const std::uint32_t committed = db->committedBytes;
    EXPECT_FALSE(ensureRoom(db, path, 1u << 20, 1u << 13));
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts[0].rfind("Could not expand " + path + " by ", 0), 0u);
    EXPECT_EQ(std::tuple(db->committedBytes, fileSize(path), db->usedBytes),
              std::tuple(committed, std::uint64_t(committed), grownUsed));
    EXPECT_EQ(at<Variation>(records[999])->endPly, 999);
}

// A file open already, a missing one, and files that are no database of ours are refused,
// the latter left as they were.
TEST_F(StoreTest, RefusedFilesAreLeftAsTheyWere)
{
    TempDir dir;
    const std::string path = dir.file("bad.vez");
    ASSERT_TRUE(writeToFile(dir.file("good.vez")));
    DatabaseHeader* first = openMapped(dir.file("good.vez"), 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(openMapped(dir.file("good.vez"), 0), nullptr);
    EXPECT_EQ(openMapped(dir.file("missing/x.vez"), 0), nullptr);
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{
                  "Could not open database " + dir.file("good.vez") + " for mapping",
                  "Could not open database " + dir.file("missing/x.vez") + " for mapping"}));
    closeDatabase(first);
    const std::string good = *test::readTextFile(dir.file("good.vez"));
    auto patched = [&](std::size_t offset, std::uint32_t value) {
        std::string bytes = good;
        std::memcpy(bytes.data() + offset, &value, 4);
        return bytes;
    };
    const std::string cases[] = {
        "",                                         // empty
        "PGN [Event \"x\"]\n",                       // not a database
        std::string("vez1b1b\0", 8) + good.substr(8), // another magic
        good.substr(0, 1000),                       // cut short
        patched(offsetof(DatabaseHeader, usedBytes), 100),
        patched(offsetof(DatabaseHeader, usedBytes), std::uint32_t(good.size()) + 4),
        patched(offsetof(DatabaseHeader, hashTable), 0),
        patched(offsetof(DatabaseHeader, hashTable), std::uint32_t(good.size()) - 8),
        patched(offsetof(DatabaseHeader, firstGameset), std::uint32_t(good.size()) - 4),
        patched(offsetof(DatabaseHeader, poolChains) + 4, 3),
        patched(offsetof(DatabaseHeader, freeLists) + 8, 0xFFFFFFF0u),
        patched(offsetof(DatabaseHeader, moveRecordCount), 0x7FFFFFFFu),
        patched(offsetof(DatabaseHeader, gameNumbersIssued), 5),
    };
    for (const std::string& bytes : cases) {
        writeBytes(path, bytes);
        messages.texts.clear();
        EXPECT_EQ(openMapped(path, 65536), nullptr);
        ASSERT_EQ(messages.texts.size(), 1u);
        EXPECT_EQ(messages.texts[0], "Incompatible database file: " + path);
        EXPECT_EQ(fileSize(path), bytes.size()); // nothing appended to a refused file
    }
    setCurrentBase(db);
}

TEST(StoreDeathTest, InMemoryGrowthBeyondFourGigabytesStopsWithItsMessage)
{
    EXPECT_EXIT(
        {
            createInMemory();
            for (int i = 0; i < 2; ++i)
                allocateRaw(0xC0000000u);
        },
        ::testing::ExitedWithCode(70), "Could not allocate [0-9]+ more bytes in database with [0-9]+ bytes");
}

} // namespace
} // namespace vez
