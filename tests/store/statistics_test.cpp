// The statistics report: its text, the census of records it makes, and that it accounts
// for every byte of a database that real games, names, notes and gamesets have filled.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "interchange/game.h"
#include "interchange/pgn_reader.h"
#include "store/flashcards.h"
#include "store/games.h"
#include "store/gamesets.h"
#include "store/graph.h"
#include "store/heap.h"
#include "store/names.h"
#include "store/notes.h"
#include "store/statistics.h"
#include "store_fixture.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

using testing::StoreTest;
using StatisticsTest = StoreTest;

using test::readGames;

// The length of a free list of a kind that freeListBytes does not count.
std::int64_t freeCount(FreeList list, std::uint32_t linkOffset)
{
    std::int64_t n = 0;
    for (DbOffset r = currentHeader().freeLists[int(list)]; r != 0; ++n)
        r = *at<DbOffset>(r + linkOffset);
    return n;
}

// Compressed tails of the lines of the live games.
std::int64_t liveTails(DbOffset variation)
{
    std::int64_t n = at<Variation>(variation)->compressedTail != 0;
    for (DbOffset c = at<Variation>(variation)->firstChild; c != 0;
         c = at<Variation>(c)->nextSibling)
        n += liveTails(c);
    return n;
}

// Whether every note chain and the notation free list are apart and end: a record in two of
// them would be counted twice, and a walk along it might never end.
bool notesAreSound()
{
    std::set<DbOffset> seen;
    auto walk = [&](DbOffset n) {
        for (; n != 0; n = at<NotationRecord>(n)->next) {
            if (!seen.insert(n).second)
                return false;
        }
        return true;
    };
    bool sound = walk(currentHeader().freeLists[int(FreeList::Notation)]);
    for (std::uint32_t slot = 0; slot < kHashSlots && sound; ++slot) {
        for (DbOffset r = hashSlot(std::uint16_t(slot)); r != 0 && sound;
             r = at<PositionRecord>(r)->nextInChain)
            sound = !isBig(r) || walk(at<BigPosition>(r)->note);
    }
    return sound;
}

TEST_F(StatisticsTest, AnEmptyDatabase)
{
    const std::string reserved = std::to_string(db->committedBytes - 262324);
    const std::string want =
        "262324 total bytes in use\n\t262144 bytes total for position/move graph (99.931%)\n"
        "\t\t0 distinct uncompressed positions:\n"
        "\t\t0 tiny position records @ 12: 0 bytes\n\t\t0 full position records @ 20: 0 bytes\n"
        "\t\t0 big position records @ 40: 0 bytes\n\t\t0 huge position records @ 64: 0 bytes\n"
        "\t\t0 full move records @ 20: 0 bytes\n\t\t0 compressed moves in variations\n"
        "\t\t262144 bytes in hash table index\n"
        "\t0 bytes total for game/variation information (0%)\n"
        "\t\t0 game records @ 36: 0 bytes\n\t\t0 game index blocks @ 2056: 0 bytes\n"
        "\t\t0 variations @ 36: 0 bytes\n\t\t0 disambiguation records @ 8: 0 bytes\n"
        "\t\t0 gamesets @ 64: 0 bytes\n\t\t0 int ranges @ 12: 0 bytes\n"
        "\t\t0 tagvals @ 12: 0 bytes\n\t\t262324 average overall bytes per game\n"
        "\t0 miscellaneous bytes (0%)\n\t\t0 notation records @ 36: 0 bytes\n"
        "\t\t0 flashcard index blocks @ 264: 0 bytes\n\t\t0 dictionary entries: 0 bytes\n"
        "\t\t0 players: 0 bytes\n\t\t0 pools: 0 overhead bytes (0 total in pools)\n"
        "\t\t0 free bytes in pools\n\t\t0 wasted bytes in pools\n\t\t0 bytes on free lists\n"
        "\t\t0 free compression blocks totalling 0 bytes\n"
        "\t" +
        reserved +
        " bytes presently reserved for expansion\n"
        "\t0 bytes wasted for alignment\n\t180 bytes of unaccounted overhead (0.0686172%)\n"
        "\t0 mean positions per primary hash table entry\n\t\t0 standard deviation\n"
        "\t\tmin 0, max 0\n\t0 mean positions per secondary hash code\n"
        "\t\t0 standard deviation\n\t\t0 secondary hash collisions in same primary bucket";
    EXPECT_EQ(statisticsReport(), want);
}

TEST_F(StatisticsTest, OneGameOfTenPlies)
{
    Game game;
    ASSERT_TRUE(readPgnText(game,
                            "[Result \"1-0\"]\n\n1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 "
                            "5. O-O Be7 1-0\n",
                            false));
    ASSERT_EQ(game.entries.size(), 10u);
    ASSERT_TRUE(storeGame(game, false).has_value());
    const StoreStatistics st = gatherStatistics();
    EXPECT_EQ(st.positions, 11);
    EXPECT_EQ(st.hugePositions, 1); // the start
    EXPECT_EQ(st.bigPositions, 1);  // the end, where the game's line is listed
    EXPECT_EQ(st.fullPositions, 0);
    EXPECT_EQ(st.tinyPositions, 9);
    EXPECT_EQ(st.moveRecords, 2); // start to first tiny, last tiny to end
    EXPECT_EQ(st.gameRecords, 1);
    EXPECT_EQ(st.variations, 1);
    EXPECT_EQ(st.gameIndexBlocks, 1);
    EXPECT_EQ(st.unaccountedBytes(), 180);
}

TEST_F(StatisticsTest, NamesSetsAndPoolsAreCountedWithTheirPadding)
{
    internString("abc", Dictionary::General); // 16 bytes, no padding
    internString("abcd", Dictionary::Event);  // 17 bytes, 3 of padding
    internPlayer("John Doe");                 // "Doe": 28 bytes; "John": 17 + 3
    GamesetDefinition fixed;
    fixed.rule = GamesetKind::Fixed;
    const DbOffset a = createGameset("", fixed, false);
    addMember(a, 1);
    addMember(a, 3);
    addMember(a, 4);
    const DbOffset b = createGameset("", fixed, false);
    addMember(b, 7);
    const StoreStatistics st = gatherStatistics();
    EXPECT_EQ(st.dictionaryEntries, 3);
    EXPECT_EQ(st.dictionaryBytes, 16 + 17 + 17);
    EXPECT_EQ(st.players, 1);
    EXPECT_EQ(st.playerBytes, 28);
    EXPECT_EQ(st.alignmentWaste, 6);
    EXPECT_EQ(st.gamesets, 2);
    EXPECT_EQ(st.intRanges, 3);
    EXPECT_EQ(st.pools, 2); // misc and sets
    EXPECT_EQ(st.freeBytesInPools, 2 * 8000 - (16 + 20 + 28 + 20) - (2 * 64 + 3 * 12));
    EXPECT_EQ(st.wastedBytesInPools, 0);
    EXPECT_EQ(st.unaccountedBytes(), 180);
    EXPECT_EQ(st.graphBytes() + st.gameBytes() + st.miscellaneousBytes() + st.unaccountedBytes(),
              st.usedBytes);
}

TEST_F(StatisticsTest, HashSpread)
{
    Position start;
    setStandardStart(start);
    const DbOffset root = findOrAddRoot(start);
    auto hashPart = [] {
        const std::string report = statisticsReport();
        return report.substr(report.find("\t", report.find("unaccounted")));
    };
    // One position: 1/65536 per slot with deviation 1/256, 1/256 per code with 1/16.
    EXPECT_EQ(hashPart(), "\t1.52588e-05 mean positions per primary hash table entry\n"
                          "\t\t0.00390625 standard deviation\n\t\tmin 0, max 1\n"
                          "\t0.00390625 mean positions per secondary hash code\n"
                          "\t\t0.0625 standard deviation\n"
                          "\t\t0 secondary hash collisions in same primary bucket");
    // Two more records in the same slot with the same code: both collide.
    Position pos;
    ASSERT_TRUE(reconstructPosition(root, pos));
    PackedPosition key;
    ASSERT_TRUE(packPosition(pos, key));
    addFullPosition(key);
    addFullPosition(key);
    EXPECT_EQ(hashPart(), "\t4.57764e-05 mean positions per primary hash table entry\n"
                          "\t\t0.0117188 standard deviation\n\t\tmin 0, max 3\n"
                          "\t0.0117188 mean positions per secondary hash code\n"
                          "\t\t0.1875 standard deviation\n"
                          "\t\t2 secondary hash collisions in same primary bucket");
}

// Everything a real database holds is accounted for; what remains is the header, the
// byte each compressed tail keeps for its end mark, and the released records of the kinds
// whose free lists are not counted in bytes.
TEST_F(StatisticsTest, EveryByteOfARealDatabaseIsAccountedFor)
{
    std::vector<Game> games = readGames(VEZ_CORPUS_DIR "/games-large.pgn", 400);
    if (games.empty())
        games = readGames(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 60);
    const std::vector<Game> annotated = readGames(VEZ_CORPUS_DIR "/games-annotated.pgn", 40);
    ASSERT_FALSE(games.empty());
    GamesetRule draws, fromStart;
    draws.outcome = "Draw";
    fromStart.fen = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -";
    ASSERT_NE(createGamesetFromText("draws", draws), 0u);
    ASSERT_NE(createGamesetFromText("e4", fromStart), 0u);
    for (const std::vector<Game>* list : {&std::as_const(games), &annotated}) {
        for (const Game& g : *list) {
            storeGame(g, false);
            ASSERT_TRUE(notesAreSound()) << g.title();
        }
    }
    Position pos = games[0].startPosition;
    for (std::size_t i = 0; i < 6 && i < games[0].entries.size(); ++i) {
        makeMove(pos, games[0].entries[i].move);
        setNote(pos, std::string(20 + 20 * i, 'n'));
        addFlashcard(findPosition(pos));
        setScore(pos, int(i) * 37);
        ASSERT_TRUE(notesAreSound());
    }
    for (std::uint32_t n = 0; n < games.size(); n += 3)
        deleteGame(n);

    const StoreStatistics st = gatherStatistics();
    std::int64_t tails = 0;
    for (std::uint32_t n = 0; n < db->gameNumbersIssued; ++n) {
        if (const DbOffset g = gameByNumber(n))
            tails += liveTails(at<GameRecord>(g)->mainLine);
    }
    const std::int64_t released =
        8 * freeCount(FreeList::Disambiguation, 4) + 64 * freeCount(FreeList::Gameset, 16) +
        12 * freeCount(FreeList::IntRange, 8) + 12 * freeCount(FreeList::TagVal, 8);
    EXPECT_GT(tails, 0);
    EXPECT_GT(st.disambiguations, 0);
    EXPECT_GT(st.tagVals, 0);
    EXPECT_GT(st.freeListBytes, 0);
    EXPECT_EQ(st.unaccountedBytes(), 180 + tails + released);
    EXPECT_EQ(st.graphBytes() + st.gameBytes() + st.miscellaneousBytes() + st.unaccountedBytes(),
              st.usedBytes);
    const std::string report = formatStatistics(st);
    EXPECT_NE(report.find("\t" + std::to_string(st.unaccountedBytes()) +
                          " bytes of unaccounted overhead ("),
              std::string::npos);
    EXPECT_NE(report.find("\t\t" + std::to_string(st.usedBytes / db->gameNumbersIssued) +
                          " average overall bytes per game\n"),
              std::string::npos);
}

} // namespace
} // namespace vez
