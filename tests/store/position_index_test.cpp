// The in-memory position index must answer exactly as the walk along the file's hash
// chains does: after any mix of stores and deletions, and when rebuilt from a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>

#include "chess/movegen.h"
#include "interchange/game.h"
#include "store/database.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/position_index.h"
#include "store_fixture.h"
#include "support/child_scripts.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

TEST(PositionIndexTable, MirrorsChainsThroughGrowthAndRemoval)
{
    PositionIndex index;
    std::map<std::uint16_t, std::vector<std::pair<DbOffset, std::uint16_t>>> chains; // head last
    std::mt19937 rng(5);
    DbOffset next = 4;
    for (int step = 0; step < 100000; ++step) {
        if (step == 50000)
            index.reserve(50000);
        const auto chain = std::uint16_t(rng() % 3);
        auto& reference = chains[chain];
        if (rng() % 3 == 0 && !reference.empty()) {
            const std::size_t at = rng() % reference.size();
            const auto place = index.locate(chain, reference[at].first);
            ASSERT_TRUE(place);
            EXPECT_EQ(place->before, at + 1 < reference.size() ? reference[at + 1].first : 0);
            EXPECT_EQ(place->tag, reference[at].second);
            index.unchained(chain, *place);
            reference.erase(reference.begin() + std::ptrdiff_t(at));
        } else {
            const auto tag = std::uint16_t(1 + rng() % 4); // many records share a tag
            index.chainedAtHead(chain, next, tag);
            reference.emplace_back(next, tag);
            next += 12;
        }
        // The record nearest the head among those of a tag that the caller accepts.
        const auto tag = std::uint16_t(1 + rng() % 4);
        const DbOffset odd = index.find(chain, tag, [](DbOffset r) { return r % 8 == 4; });
        DbOffset expected = 0;
        for (auto it = reference.rbegin(); it != reference.rend() && expected == 0; ++it)
            expected = it->second == tag && it->first % 8 == 4 ? it->first : 0;
        ASSERT_EQ(odd, expected) << "step " << step;
    }
    EXPECT_FALSE(index.locate(0, next));
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

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

using testing::StoreTest;
using PositionIndexTest = StoreTest;

TEST_F(PositionIndexTest, RebuiltFromAFileItAgreesWithTheChains)
{
    const auto games = test::readGames(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 60);
    ASSERT_FALSE(games.empty());
    for (const Game& game : games)
        ASSERT_TRUE(storeGame(game, false));
    const test::ScriptFolder folder;
    const std::string path = folder.file("index.vez");
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
}

// Every chain's records and tags, head last.
using Chains = std::vector<std::pair<std::vector<std::uint32_t>, std::vector<std::uint16_t>>>;
Chains chainsOf(const PositionIndex& index)
{
    Chains chains;
    for (std::size_t slot = 0; slot < kHashSlots; ++slot) {
        const auto records = index.chainRecords(std::uint16_t(slot));
        const auto tags = index.chainTags(std::uint16_t(slot));
        chains.emplace_back(std::vector<std::uint32_t>(records.begin(), records.end()),
                            std::vector<std::uint16_t>(tags.begin(), tags.end()));
    }
    return chains;
}

// A session that changed a large database keeps its index beside the file. The next
// session reads it instead of building one, and gets what a build gives; a copy that is
// damaged, or was kept for the image before a change, is refused and the index is built.
TEST_F(PositionIndexTest, KeptBesideTheFileItServesOnlyTheImageItWasKeptFor)
{
    // Random games: enough new positions that the index is worth keeping.
    std::mt19937 rng(11);
    const auto randomGame = [&rng] {
        Game game;
        setStandardStart(game.startPosition);
        Position pos = game.startPosition;
        for (int ply = 0; ply < 70; ++ply) {
            MoveList list;
            const int count = legalMoves(pos, list, false);
            if (count == 0)
                break;
            const Move move = list[rng() % unsigned(count)];
            game.append(move);
            makeMove(pos, move);
        }
        return game;
    };
    for (int n = 0; n < 1100; ++n)
        ASSERT_TRUE(storeGame(randomGame(), false));
    const test::ScriptFolder folder;
    const std::string path = folder.file("kept.vez");
    const std::string kept = positionIndexPath(path);
    ASSERT_TRUE(writeToFile(path));
    closeDatabase(db);
    const auto session = [&](const std::function<void()>& work) {
        db = openMapped(path, 1u << 20);
        ASSERT_NE(db, nullptr);
        work();
        closeDatabase(db);
        db = nullptr;
    };
    const auto freshlyBuilt = [&] {
        std::filesystem::rename(kept, kept + ".aside");
        invalidatePositionIndex();
        const auto chains = chainsOf(*currentPositionIndex());
        EXPECT_FALSE(positionIndexReadFromFile());
        std::filesystem::rename(kept + ".aside", kept);
        return chains;
    };
    session([&] { ASSERT_TRUE(storeGame(randomGame(), false)); });
    ASSERT_TRUE(std::filesystem::exists(kept));
    const std::string before = fileBytes(kept);
    session([&] {
        const auto read = chainsOf(*currentPositionIndex());
        EXPECT_TRUE(positionIndexReadFromFile());
        EXPECT_EQ(read, freshlyBuilt());
    });
    // A changed tag: the copy no longer reads back as kept.
    std::string damaged = before;
    damaged.back() ^= 1;
    writeFileBytes(kept, damaged);
    session([&] {
        const auto read = chainsOf(*currentPositionIndex());
        EXPECT_FALSE(positionIndexReadFromFile());
        EXPECT_EQ(read, freshlyBuilt());
    });
    // A copy from before the last change.
    session([&] { ASSERT_TRUE(storeGame(randomGame(), false)); });
    ASSERT_NE(fileBytes(kept), before);
    writeFileBytes(kept, before);
    session([&] {
        const auto read = chainsOf(*currentPositionIndex());
        EXPECT_FALSE(positionIndexReadFromFile());
        EXPECT_EQ(read, freshlyBuilt());
    });
    db = createInMemory();
}

} // namespace
} // namespace vez
