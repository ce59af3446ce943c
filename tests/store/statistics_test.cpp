// The statistics report: its text, and that it accounts for every byte of a database that
// real games, names, notes and gamesets have filled.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
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
#include "support/graph_invariants.h"
#include "support/movetext.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

using testing::StoreTest;
using StatisticsTest = StoreTest;

using test::readGames;

// Compressed tails of the lines of the live games.
std::int64_t liveTails(DbOffset variation)
{
    std::int64_t n = at<Variation>(variation)->compressedTail != 0;
    for (DbOffset c = at<Variation>(variation)->firstChild; c != 0;
         c = at<Variation>(c)->nextSibling)
        n += liveTails(c);
    return n;
}

// The report word for word, of a new database and of one holding a game, names, gamesets
// and a hash chain with two more records of one key: the golden file is the two reports.
TEST_F(StatisticsTest, ReportsMatchTheGoldenFile)
{
    std::string report = statisticsReport() + "\n---\n";
    Game game;
    ASSERT_TRUE(readPgnText(game,
                            "[Result \"1-0\"]\n\n1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 "
                            "5. O-O Be7 1-0\n",
                            false));
    ASSERT_TRUE(storeGame(game, false).has_value());
    internString("abcd", Dictionary::Event);
    internPlayer("John Doe");
    GamesetDefinition fixed;
    fixed.rule = GamesetKind::Fixed;
    for (const std::int32_t n : {1, 3, 4, 7})
        addMember(createGameset("", fixed, false), n);
    PackedPosition key;
    ASSERT_TRUE(packPosition(game.positionAtPly(game, 10), key));
    addFullPosition(key);
    addFullPosition(key);
    report += statisticsReport() + "\n";
    EXPECT_EQ(report, test::readTextFile(VEZ_TEST_DATA_DIR "/statistics-report.txt").value_or(""));
    if (std::getenv("VEZ_WRITE_GOLDEN"))
        std::ofstream(VEZ_TEST_DATA_DIR "/statistics-report.txt") << report;
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
    for (const std::vector<Game>* list : {&std::as_const(games), &annotated})
        for (const Game& g : *list)
            storeGame(g, false);
    Position pos = games[0].startPosition;
    for (std::size_t i = 0; i < 6 && i < games[0].entries.size(); ++i) {
        makeMove(pos, games[0].entries[i].move);
        setNote(pos, std::string(20 + 20 * i, 'n'));
        addFlashcard(findPosition(pos));
        setScore(pos, int(i) * 37);
    }
    test::checkGraphStructure();
    for (std::uint32_t n = 0; n < games.size(); n += 3)
        deleteGame(n);

    const StoreStatistics st = gatherStatistics();
    std::int64_t tails = 0;
    for (std::uint32_t n = 0; n < db->gameNumbersIssued; ++n) {
        if (const DbOffset g = gameByNumber(n))
            tails += liveTails(at<GameRecord>(g)->mainLine);
    }
    const std::int64_t released =
        8 * test::freeListLength(FreeList::Disambiguation, 4) +
        64 * test::freeListLength(FreeList::Gameset, 16) +
        12 * test::freeListLength(FreeList::IntRange, 8) +
        12 * test::freeListLength(FreeList::TagVal, 8);
    // Every kind of overhead is there to be counted.
    EXPECT_TRUE(tails > 0 && st.disambiguations > 0 && st.tagVals > 0 && st.freeListBytes > 0);
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
