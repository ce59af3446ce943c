// Builds position graphs from real games, adding and removing whole lines at random, and
// checks the graph's invariants after every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/notation.h"
#include "store/graph.h"
#include "store/heap.h"
#include "store_fixture.h"
#include "support/graph_invariants.h"
#include "support/graph_lines.h"
#include "support/movetext.h"

namespace vez {
namespace {

using testing::StoreTest;

using test::Line;
using test::keyOf;
using test::hasPredecessor;
using test::addLine;
using test::removeLine;

std::vector<Line> loadLines(std::size_t maxGames)
{
    std::vector<Line> lines;
    for (const char* file : {VEZ_CORPUS_DIR "/games-annotated.pgn", VEZ_CORPUS_DIR "/games-large.pgn",
                             VEZ_TEST_DATA_DIR "/twic0920-sample.pgn"}) {
        if (const auto text = test::readTextFile(file, 3u << 20)) {
            std::vector<Line> more = test::linesFromPgn(*text, maxGames - lines.size());
            std::move(more.begin(), more.end(), std::back_inserter(lines));
        }
    }
    return lines;
}

// Expected counters of every position of the live lines.
std::map<std::string, PositionCounts> expectedCounts(const std::vector<Line>& lines,
                                                      const std::vector<bool>& live)
{
    std::map<std::string, PositionCounts> counts;
    for (std::size_t l = 0; l < lines.size(); ++l) {
        if (!live[l])
            continue;
        std::set<std::string> once;
        for (const Position& p : lines[l].positions) {
            const PackedPosition key = keyOf(p);
            std::string k(reinterpret_cast<const char*>(key.bytes), 24);
            if (!once.insert(k).second)
                continue;
            PositionCounts& c = counts[k];
            ++c.games;
            c.whiteWins += lines[l].result == 1;
            c.blackWins += lines[l].result == 2;
        }
    }
    return counts;
}

void checkInvariants(const std::vector<Line>& lines, const std::vector<bool>& live)
{
    std::size_t records = 0;
    test::checkGraphStructure(&records);
    if (::testing::Test::HasFatalFailure())
        return;
    const auto expected = expectedCounts(lines, live);
    EXPECT_GE(records, expected.size());
    // Removal keeps everything up to the deepest position another line needs, so a
    // removed line's own opening moves before a transposition into another line stay
    // behind; they must at least count no game.
    for (std::uint32_t slot = 0; slot < kHashSlots; ++slot) {
        for (DbOffset r = hashSlot(std::uint16_t(slot)); r != 0;
             r = at<PositionRecord>(r)->nextInChain) {
            Position pos;
            ASSERT_TRUE(reconstructPosition(r, pos));
            const PackedPosition key = keyOf(pos);
            if (!expected.count(std::string(reinterpret_cast<const char*>(key.bytes), 24))) {
                ASSERT_EQ(recordCounts(r).games, 0u) << "a position no line uses counts games";
            }
        }
    }
    for (std::size_t l = 0; l < lines.size(); ++l) {
        if (!live[l])
            continue;
        for (const Position& p : lines[l].positions) {
            // A tiny record shows the counts of the next non-tiny record on its line,
            // which lines joining there raise too: exact counts live on the others.
            if (isTiny(findPosition(p)))
                continue;
            const PackedPosition key = keyOf(p);
            const PositionCounts want = expected.at(std::string(reinterpret_cast<const char*>(key.bytes), 24));
            const PositionCounts got = positionCounts(p);
            ASSERT_EQ(got.games, want.games) << "line " << l << " ply " << (&p - &lines[l].positions[0]);
            ASSERT_EQ(got.whiteWins, want.whiteWins);
            ASSERT_EQ(got.blackWins, want.blackWins);
        }
    }
}

using GraphRandomTest = StoreTest;

TEST_F(GraphRandomTest, AddAndRemoveRealGamesKeepsTheGraphSound)
{
#if defined(__SANITIZE_ADDRESS__)
    const std::size_t games = 50, steps = 120;
#else
    const std::size_t games = 120, steps = 400;
#endif
    std::vector<Line> lines = loadLines(games);
    if (lines.size() < 20)
        GTEST_SKIP() << "no games to build from";
    // Some games twice, so that identical lines share every record.
    lines.reserve(lines.size() + 10);
    for (std::size_t i = 0; i < 10; ++i)
        lines.push_back(lines[i * 3]);

    std::mt19937 rng(20261206);
    std::vector<bool> live(lines.size(), false);
    std::size_t liveCount = 0;
    for (std::size_t step = 0; step < steps; ++step) {
        const std::size_t l = rng() % lines.size();
        const bool add = !live[l] && (liveCount < lines.size() / 2 || rng() % 3 != 0);
        if (add) {
            addLine(lines[l]);
        } else if (live[l]) {
            removeLine(lines[l]);
        } else {
            continue;
        }
        live[l] = add;
        liveCount += add ? 1 : std::size_t(-1);
        if (step < 80 || step % 8 == 0)
            checkInvariants(lines, live);
        if (::testing::Test::HasFatalFailure() || ::testing::Test::HasFailure())
            FAIL() << "after step " << step << (add ? " adding" : " removing") << " line " << l;
    }
    // Remove everything: the graph empties and every record is back on a free list.
    for (std::size_t l = 0; l < lines.size(); ++l) {
        if (live[l]) {
            removeLine(lines[l]);
            live[l] = false;
            if (l % 4 == 0)
                checkInvariants(lines, live);
            if (HasFailure())
                FAIL() << "removing line " << l << " at the end";
        }
    }
    checkInvariants(lines, live);
    EXPECT_EQ(currentHeader().variationCount, 0u);
}

} // namespace
} // namespace vez
