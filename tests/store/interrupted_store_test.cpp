// A process stopped while it stores games: the file must open and read afterwards, every
// game it lists whole, and check sound once recovery has mended what the stop left. (A disk that
// fills during an import: tests/tools.)
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <vector>

#include "interchange/game.h"
#include "store/database.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/heap.h"
#include "store/notes.h"
#include "store/statistics.h"
#include "store/validation.h"
#include "store_fixture.h"
#include "support/child_scripts.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

namespace fs = std::filesystem;

class InterruptedStoreTest : public testing::StoreTest {
protected:
    void TearDown() override
    {
        setCurrentBase(db);
        StoreTest::TearDown();
    }
    std::string file(const std::string& name) const { return m_folder.file(name); }

    // Checks an image a stopped process left: the games it lists are the first ones of
    // games, each whole, and the census agrees with the counters. Returns how many it lists.
    std::size_t expectWholeGames(const std::vector<Game>& games)
    {
        std::size_t listed = 0;
        const std::uint32_t issued = currentHeader().gameNumbersIssued;
        for (std::uint32_t n = 0; n < issued && n < games.size(); ++n) {
            const DbOffset record = gameByNumber(n);
            if (record == 0)
                continue;
            EXPECT_EQ(n, listed) << "game " << n << " is listed after a gap";
            ++listed;
            Game read;
            readGame(record, read, true);
            EXPECT_EQ(test::movesOf(read), test::movesOf(games[n])) << "game " << n;
            EXPECT_EQ(read.result, games[n].result) << "game " << n;
        }
        const StoreStatistics stats = gatherStatistics();
        EXPECT_EQ(stats.gameRecords, std::int64_t(listed));
        EXPECT_EQ(stats.variations, std::int64_t(currentHeader().variationCount));
        // What a game cut short counted is taken back when the file opens again.
        EXPECT_EQ(positionCounts(games[0].startPosition).games, listed);
        EXPECT_EQ(validateDatabase(), std::vector<std::string>{});
        return listed;
    }

    test::ScriptFolder m_folder;
};

int g_stepsLeft = 0;
void stopWhenCounted()
{
    if (--g_stepsLeft == 0)
        ::_exit(0); // as a kill: nothing more reaches the file
}

// Runs store on a copy of base at path in a child process stopped at the step'th store
// step; false when store ended first.
bool storeStopped(const std::string& base, const std::string& path, int step,
                  const std::function<void()>& store)
{
    fs::copy_file(base, path, fs::copy_options::overwrite_existing);
    const pid_t child = ::fork();
    if (child == 0) {
        if (!openMapped(path, 0))
            ::_exit(2);
        g_stepsLeft = step;
        setStoreStepHook(stopWhenCounted);
        store();
        ::_exit(3);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) % 3 == 0) << status;
    return WEXITSTATUS(status) == 0;
}

// Stores the games from a copy of a file with some games, in a child process stopped at
// step after step, then opens what each stop left, checks it and goes on storing there.
TEST_F(InterruptedStoreTest, AStopAtAnyStepLeavesWholeGamesOnly)
{
    const std::vector<Game> games = test::readGames(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 8);
    ASSERT_EQ(games.size(), 8u);
    constexpr std::size_t kBefore = 4; // stored before the stops, so that lines share positions
    const std::string base = file("base.vez");
    for (std::size_t i = 0; i < kBefore; ++i)
        ASSERT_TRUE(storeGame(games[i], false));
    ASSERT_TRUE(writeToFile(base));
    const auto storeRest = [&] {
        for (std::size_t i = kBefore; i < games.size(); ++i)
            storeGame(games[i], false);
        setNote(games[0].startPosition, std::string(100, 'n')); // four pieces, then one
        setNote(games[0].startPosition, "n");
        toggleFlashcard(games[0].startPosition);
    };
#ifdef VEZ_SANITIZER_BUILD
    const int stride = 13; // every step is taken in the other builds
#else
    const int stride = 1;
#endif
    const std::string path = file("stopped.vez");
    int step = 1;
    for (; storeStopped(base, path, step, storeRest); step += stride) {
        SCOPED_TRACE("stopped at step " + std::to_string(step));
        DatabaseHeader* reopened = openMapped(path, 65536);
        ASSERT_NE(reopened, nullptr);
        const std::size_t listed = expectWholeGames(games);
        EXPECT_GE(listed, kBefore);
        // The file takes the games that did not make it, and reads them back whole.
        for (std::size_t i = listed; i < games.size(); ++i)
            ASSERT_TRUE(storeGame(games[i], false));
        for (std::size_t i = listed; i < games.size(); ++i) {
            const std::uint32_t number =
                currentHeader().gameNumbersIssued - std::uint32_t(games.size() - i);
            Game read;
            ASSERT_NE(gameByNumber(number), 0u);
            readGame(gameByNumber(number), read, true);
            EXPECT_EQ(test::movesOf(read), test::movesOf(games[i])) << "game " << i;
        }
        closeDatabase(reopened);
        if (HasFailure())
            break;
    }
    EXPECT_GT(step, 100);
}

// The game numbered 512 takes the game index's second block: a stop as it goes in leaves
// a file that opens and takes the next game.
TEST_F(InterruptedStoreTest, AStopAsTheGameIndexGrowsLeavesAFileThatOpens)
{
    std::vector<Game> games = test::readGames(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 2);
    games[1].entries.resize(games[1].endPly = 12); // a new line, in few steps
    const std::string base = file("base.vez"), path = file("stopped.vez");
    for (int i = 0; i < kGameIndexSlots; ++i)
        ASSERT_TRUE(storeGame(games[0], false));
    ASSERT_TRUE(writeToFile(base));
    for (int step = 1; storeStopped(base, path, step, [&] { storeGame(games[1], false); });
         ++step) {
        SCOPED_TRACE("stopped at step " + std::to_string(step));
        ASSERT_NE(openMapped(path, 0), nullptr);
        ASSERT_EQ(validateDatabase(), std::vector<std::string>{});
        closeDatabase(&currentHeader());
        DatabaseHeader* reopened = openMapped(path, 65536);
        ASSERT_NE(reopened, nullptr);
        ASSERT_TRUE(storeGame(games[1], false));
        ASSERT_NE(gameByNumber(currentHeader().gameNumbersIssued - 1), 0u);
        closeDatabase(reopened);
    }
}

} // namespace
} // namespace vez
