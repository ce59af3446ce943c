// Every game of the corpus stored, read back and written as PGN equals what the writer makes
// of the game as read from its file, except where the database merges on purpose: a note and
// a score belong to a position (games annotating one position share them), a glyph belongs
// to a move of the graph (games playing one move share it), the round keeps 4 bits, and the
// player tree takes a name for a longer spelling of the same player met before.
// The merges are allowed for in a fixed order, each on top of those before it, until the
// game written back agrees; a difference they do not explain together fails the test. The
// large file is sampled unless VEZ_FULL_CORPUS is set.
#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "interchange/game.h"
#include "interchange/pgn_reader.h"
#include "interchange/pgn_source.h"
#include "interchange/pgn_writer.h"
#include "store/codes.h"
#include "store/database.h"
#include "store/games.h"
#include "store/names.h"
#include "store/validation.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

enum Merge : unsigned { kRound = 1, kPositionNotes = 2, kEdgeGlyphs = 4, kPlayerNames = 8, kEcoCode = 16, kEventName = 32 };
constexpr unsigned kAllMerges = 63;

void forEachEntry(GameLine& line, const std::function<void(MoveEntry&)>& visit)
{
    for (MoveEntry& e : line.entries) {
        visit(e);
        for (auto& sub : e.subLines)
            forEachEntry(*sub, visit);
    }
    for (auto& sub : line.subLinesAfterEnd)
        forEachEntry(*sub, visit);
}

// What is left of a game when the given merges are allowed for.
std::string writtenWithout(Game& game, unsigned merges, const Game& stored)
{
    if (merges & kRound)
        game.round = stored.round;
    if (merges & kPlayerNames) {
        // The stored name is the fuller spelling the tree knew the player by.
        const auto samePlayer = [](const std::string& read, const std::string& kept) {
            const PlayerName a = splitPlayerName(normalizePlayerName(kept));
            const PlayerName b = splitPlayerName(normalizePlayerName(read));
            return a.last == b.last && (b.first.empty() || namesMatch(a.first, b.first)) &&
                   (b.middle.empty() || namesMatch(a.middle, b.middle));
        };
        if (samePlayer(game.white, stored.white))
            game.white = stored.white;
        if (samePlayer(game.black, stored.black))
            game.black = stored.black;
    }
    if ((merges & kEcoCode) && parseEco(game.eco) == parseEco(stored.eco))
        game.eco = stored.eco;
    if ((merges & kEventName) && cleanEventName(game.event) == stored.event)
        game.event = stored.event;
    if (merges & kPositionNotes) {
        game.initialComment.clear();
        forEachEntry(game, [](MoveEntry& e) {
            e.comment.clear();
            e.score = kNoScore;
        });
    }
    if (merges & kEdgeGlyphs)
        forEachEntry(game, [](MoveEntry& e) { e.glyph = 0; });
    return writeGameToText(game, false);
}

struct Census {
    std::size_t games = 0, refused = 0, identical = 0;
    std::map<unsigned, std::size_t> byMerges; // the merges allowed for -> games
    std::size_t unexplainedGames = 0;
    std::vector<std::string> unexplained;
};

// The last of the merges allowed for, in the order they are tried.
const char* lastMerge(unsigned merges)
{
    const char* names[] = {
        "round", "position notes/scores", "edge glyphs", "player names", "ECO code", "event name"};
    return names[std::bit_width(merges) - 1];
}

// Stores every game of a file into a fresh database, then reads each back and compares.
void roundTrip(const std::string& file, std::size_t limit, Census& census)
{
    DatabaseHeader* db = createInMemory();
    ASSERT_NE(db, nullptr);
    PgnSource source;
    ASSERT_TRUE(source.openFile(file));
    std::vector<std::pair<std::uint32_t, Game>> stored;
    Game game;
    while (stored.size() < limit && test::nextReadableGame(source, game, false)) {
        ++census.games;
        if (const auto number = storeGame(game, false))
            stored.emplace_back(*number, std::move(game));
        else
            ++census.refused;
    }
    for (auto& [number, source] : stored) {
        Game back;
        readGame(gameByNumber(number), back, true);
        const std::string written = writeGameToText(back, false);
        unsigned merges = 0;
        bool same = false;
        for (;; merges = merges * 2 + 1) {
            same = writtenWithout(source, merges, back) == writtenWithout(back, merges, back);
            if (same || merges == kAllMerges)
                break;
        }
        if (same && merges == 0)
            ++census.identical;
        else if (same)
            ++census.byMerges[merges];
        else if (++census.unexplainedGames <= 3)
            census.unexplained.push_back(file + " game " + std::to_string(number) + ":\n" +
                                         writeGameToText(source, false) + "\n--- stored:\n" + written);
    }
    EXPECT_EQ(validateDatabase(), std::vector<std::string>{}) << file;
    closeDatabase(db);
}

TEST(CorpusRoundTrip, StoredGamesWriteAsTheyWereReadButForTheDesignedMerges)
{
    const std::filesystem::path corpus = VEZ_CORPUS_DIR;
    if (!std::filesystem::exists(corpus / "games-annotated.pgn"))
        GTEST_SKIP() << "corpus not present";
    std::vector<std::pair<std::string, std::size_t>> files;
    const bool full = std::getenv("VEZ_FULL_CORPUS") != nullptr;
#if defined(__SANITIZE_ADDRESS__)
    const std::size_t sample = 300;
#else
    // Game 3187 of the large file reuses, within one write, a record its own promotion released.
    const std::size_t sample = 3200;
#endif
    for (const char* name : {"games-annotated.pgn", "messy.pgn", "eco.pgn"})
        files.emplace_back((corpus / name).string(), full ? ~std::size_t(0) : sample);
    for (const auto& entry : std::filesystem::directory_iterator(corpus / "messy"))
        files.emplace_back(entry.path().string(), ~std::size_t(0));
    files.emplace_back((corpus / "games-large.pgn").string(), full ? ~std::size_t(0) : sample);

    Census census;
    for (const auto& [file, limit] : files) {
        roundTrip(file, limit, census);
        ASSERT_FALSE(HasFatalFailure()) << file;
    }
    std::string report = "games " + std::to_string(census.games) + ", refused " +
                         std::to_string(census.refused) + ", identical " +
                         std::to_string(census.identical);
    for (const auto& [merges, count] : census.byMerges)
        report += "; up to " + std::string(lastMerge(merges)) + ": " + std::to_string(count);
    report += "; unexplained: " + std::to_string(census.unexplainedGames);
    RecordProperty("census", report);
    std::printf("%s\n", report.c_str());
    for (const std::string& text : census.unexplained)
        ADD_FAILURE() << "a difference no designed merge explains, in " << text;
    EXPECT_EQ(census.unexplainedGames, 0u);
    EXPECT_GT(census.identical, 0u);
}

} // namespace
} // namespace vez
