// The in-memory position index must answer exactly as the walk along the file's hash
// chains does: after any mix of stores and deletions, and when rebuilt from a file.
#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>
#include <map>
#include <random>

#include "interchange/game.h"
#include "store/database.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/position_index.h"
#include "store_fixture.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

TEST(PositionIndexTable, AgreesWithAMapThroughGrowthAndRemoval)
{
    PositionIndex index;
    std::map<std::vector<std::uint8_t>, DbOffset> reference;
    std::mt19937 rng(5);
    // Few distinct keys, so that removals hit clusters of collisions often.
    auto randomKey = [&] {
        PackedPosition key;
        key.bytes[0] = std::uint8_t(rng() % 64);
        key.bytes[9] = std::uint8_t(rng() % 64);
        return key;
    };
    for (int step = 0; step < 200000; ++step) {
        if (step == 100000)
            index.reserve(50000); // a rehash in the middle keeps every key
        const PackedPosition key = randomKey();
        const std::vector<std::uint8_t> bytes(key.bytes, key.bytes + 24);
        if (rng() % 3 == 0) {
            const auto it = reference.find(bytes);
            const DbOffset held = it == reference.end() ? 0 : it->second;
            // Removing under another record's name leaves the key alone.
            EXPECT_FALSE(index.erase(key, held + 4));
            EXPECT_EQ(index.erase(key, held), held != 0);
            reference.erase(bytes);
        } else if (rng() % 2 == 0) {
            const DbOffset record = 4 + 4 * (rng() % 100000);
            index.assign(key, record);
            reference[bytes] = record;
        } else {
            const DbOffset record = 4 + 4 * (rng() % 100000);
            EXPECT_EQ(index.insertIfAbsent(key, record), reference.emplace(bytes, record).second);
        }
    }
    ASSERT_EQ(index.size(), reference.size());
    for (const auto& [bytes, record] : reference) {
        PackedPosition key;
        std::copy(bytes.begin(), bytes.end(), key.bytes);
        EXPECT_EQ(index.find(key), record);
    }
}

// Every position of the games, and the same boards with the other side to move (mostly
// absent), looked up with and without the index.
void expectIndexAgrees(const std::vector<Game>& games)
{
    std::size_t checked = 0;
    for (const Game& game : games) {
        Position pos = game.startPosition;
        for (const MoveEntry& e : game.entries) {
            makeMove(pos, e.move);
            Position other = pos;
            other.sideToMove ^= 1;
            other.enPassant = 0;
            for (const Position& p : {pos, other}) {
                setPositionIndexEnabled(true);
                const DbOffset indexed = findPosition(p);
                setPositionIndexEnabled(false);
                const DbOffset walked = findPosition(p);
                setPositionIndexEnabled(true);
                ASSERT_EQ(indexed, walked) << "position " << checked++;
            }
        }
    }
}

using testing::StoreTest;
using PositionIndexTest = StoreTest;

TEST_F(PositionIndexTest, RebuiltFromAFileItAgreesWithTheChains)
{
    const auto games = test::readGames(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 60);
    ASSERT_FALSE(games.empty());
    for (const Game& game : games)
        ASSERT_TRUE(storeGame(game, false));
    const std::string path =
        (std::filesystem::temp_directory_path() / ("vez-index-" + std::to_string(::getpid()) + ".vez")).string();
    ASSERT_TRUE(writeToFile(path));
    closeDatabase(db);
    db = openMapped(path, 1u << 20);
    ASSERT_NE(db, nullptr);
    // Opened, a database answers lookups by walking its chains until the walking would
    // have paid for the index; then the index is built.
    setPositionIndexBuilding(IndexBuilding::WhenWorthIt);
    const Position& known = games[0].startPosition;
    EXPECT_NE(findPosition(known), 0u);
    EXPECT_EQ(builtPositionIndex(), nullptr);
    for (int round = 0; round < 1000000 && builtPositionIndex() == nullptr; ++round)
        EXPECT_NE(findPosition(known), 0u);
    EXPECT_NE(builtPositionIndex(), nullptr);
    setPositionIndexBuilding(IndexBuilding::OnFirstLookup);
    expectIndexAgrees(games);
    ASSERT_NE(builtPositionIndex(), nullptr);
    // Growing the file re-maps it; the index moves along and stays right.
    const PositionIndex* before = builtPositionIndex();
    ASSERT_TRUE(ensureRoom(db, path, 64u << 20, 1));
    EXPECT_EQ(builtPositionIndex(), before);
    expectIndexAgrees(games);
    closeDatabase(db);
    db = createInMemory();
    std::filesystem::remove(path);
}

} // namespace
} // namespace vez
