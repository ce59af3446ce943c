#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/notation.h"
#include "interchange/game.h"
#include "interchange/pgn_reader.h"
#include "store/damage.h"
#include "store/flashcards.h"
#include "store/game_paths.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/notes.h"
#include "store/position_index.h"
#include "store/prepared_game.h"
#include "store/statistics.h"
#include "store/validation.h"
#include "store_fixture.h"
#include "support/graph_invariants.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

using testing::StoreTest;
using GamesTest = StoreTest;
using test::keyOf;
using test::movesOf;

// A game's main line: the start, then the position after each move.
struct Line {
    std::vector<Position> positions;
    std::vector<Move> moves;
};

// The main lines of the first games of the files, taken in turn until there are count.
std::vector<Line> sampleLines(std::size_t count,
                              std::initializer_list<const char*> files = {
                                  VEZ_TEST_DATA_DIR "/twic0920-sample.pgn",
                                  VEZ_CORPUS_DIR "/games-large.pgn"})
{
    std::vector<Line> lines;
    for (const char* file : files) {
        for (const Game& game : test::readGames(file, count - lines.size())) {
            Line line{{game.startPosition}, {}};
            for (const MoveEntry& e : game.entries) {
                line.moves.push_back(e.move);
                line.positions.push_back(line.positions.back());
                makeMove(line.positions.back(), e.move);
            }
            if (!line.moves.empty())
                lines.push_back(std::move(line));
        }
        if (lines.size() >= count)
            break;
    }
    return lines;
}

Game gameFromLine(const Line& line, int result)
{
    Game game;
    game.startPosition = line.positions[0];
    for (Move m : line.moves)
        game.append(m);
    game.result = result;
    return game;
}

// Adds to a game, at the first ply from `from` on where it works, a sub-line that plays
// the side's two moves there the other way round and so comes back into the game three
// plies on, by two positions of its own. Their keys go to `own`.
void addTransposition(Game& game, const Line& line, std::size_t from,
                      std::vector<PackedPosition>* own = nullptr)
{
    for (std::size_t p = from; p + 3 < line.positions.size(); ++p) {
        const Move order[] = {line.moves[p + 2], line.moves[p + 1], line.moves[p]};
        Position pos = line.positions[p];
        std::vector<PackedPosition> keys;
        for (Move m : order) {
            MoveList list;
            const int n = legalMoves(pos, list, false);
            if (std::find(list.begin(), list.begin() + n, m) == list.begin() + n)
                break;
            makeMove(pos, m);
            keys.push_back(keyOf(pos));
        }
        if (keys.size() < 3 || !(keys[2] == keyOf(line.positions[p + 3])))
            continue;
        GameLine& sub = game.createSubLine(game, int(p));
        for (Move m : order)
            sub.append(m);
        if (own)
            own->insert(own->end(), keys.begin(), keys.end() - 1);
        return;
    }
}

TEST_F(GamesTest, StoredGamesReadBackAndCount)
{
    const std::vector<Line> lines = sampleLines(60);
    ASSERT_GE(lines.size(), 50u);
    int whiteWins = 0;
    for (std::uint32_t i = 0; i < lines.size(); ++i) {
        Game game = gameFromLine(lines[i], int(i % 4));
        whiteWins += i % 4 == 1;
        game.event = "Wijk aan Zee (3)";
        game.round = 17;
        game.tags = {{"Source", "TWIC"}, {"Annotator", "x\\y"}};
        ASSERT_EQ(storeGame(game, false), i); // a fresh database numbers games in order
    }
    const Position start = test::standardStart();
    EXPECT_EQ(std::tuple(positionCounts(start).games, positionCounts(start).whiteWins),
              std::tuple(lines.size(), std::uint32_t(whiteWins)));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Game back;
        readGame(gameByNumber(std::uint32_t(i)), back, true);
        EXPECT_EQ(movesOf(back), lines[i].moves) << i;
        // The event's parenthesised number is cut, the round keeps 4 bits, and the tags come
        // back in their order.
        const std::string tag = back.tags.size() == 2 ? back.tags[1].value : "";
        EXPECT_EQ(std::tuple(back.result, back.event, back.round, tag),
                  std::tuple(int(i % 4), "Wijk aan Zee", 1, "x\\y"));
    }
    // Deleting every game brings every counter back to 0, and numbers are reused.
    for (std::uint32_t n = 0; n < lines.size(); ++n)
        deleteGame(n);
    EXPECT_EQ(std::tuple(positionCounts(start).games, db->variationCount, gameByNumber(3)),
              std::tuple(0u, 0u, 0u));
    test::checkGraphStructure();
    // The next games take their records from the free lists: the image does not grow.
    const std::uint32_t used = db->usedBytes;
    // The last released number comes first.
    ASSERT_EQ(storeGame(gameFromLine(lines[0], 1), false), lines.size() - 1);
    for (std::size_t i = 1; i < lines.size(); ++i)
        ASSERT_TRUE(storeGame(gameFromLine(lines[i], 0), false));
    EXPECT_EQ(db->usedBytes, used);
    // A chain of index blocks cut short is damage, not fewer games.
    const DbOffset first = db->firstGameIndexBlock;
    db->firstGameIndexBlock = 0;
    EXPECT_THROW(gameByNumber(0), DamagedDatabase);
    db->firstGameIndexBlock = first;
}

// Many games end alike: a new one folds into the latest stored game whose known header
// fields agree with its own (an empty field agrees with any), whatever stands between.
TEST_F(GamesTest, GamesEndingAlikeFoldIntoTheLatestThatAgrees)
{
    const Line line = sampleLines(1)[0];
    auto store = [&](const char* white, const char* black, int year) {
        Game game = gameFromLine(line, 1);
        game.white = white;
        game.black = black;
        game.year = year;
        const auto number = storeGame(game, true);
        EXPECT_TRUE(number);
        return number ? int(*number) : -1;
    };
    for (int i = 0; i < 300; ++i)
        store(("Filler " + std::to_string(i)).c_str(), "Other", 1990 + i % 20);
    // White, Black, year, and the row whose game it joins (-1: a new game).
    using Row = std::tuple<const char*, const char*, int, int>;
    const Row rows[] = {
        {"Anand", "Kramnik", 2000, -1}, {"Carlsen", "Caruana", 2000, -1},
        {"Anand", "Kramnik", 2001, -1}, // another year
        {"Anand", "", 2000, 0},         // the 2001 game is later but of another year
        {"Anand", "Kramnik", 0, 2},     // both agree; the later one
        {"", "Caruana", 0, 1},          {"Anand", "Kramnik", 2000, 0},
        {"Kramnik", "Anand", 2000, -1}, // colours count
    };
    std::vector<int> numbers;
    for (const auto& [white, black, year, foldsInto] : rows) {
        SCOPED_TRACE(std::string(white) + " - " + black + " " + std::to_string(year));
        const int number = store(white, black, year);
        if (foldsInto < 0)
            EXPECT_EQ(std::count(numbers.begin(), numbers.end(), number), 0);
        else
            EXPECT_EQ(number, numbers[std::size_t(foldsInto)]);
        numbers.push_back(number);
    }
    // A duplicate fills the fields the earlier game lacks; not combined, it is a game apart.
    Game game = gameFromLine(line, 1);
    game.black = "Caruana";
    game.site = "Moscow";
    EXPECT_EQ(storeGame(game, true), std::uint32_t(numbers[1]));
    EXPECT_NE(storeGame(game, false), std::uint32_t(numbers[1]));
    Game merged;
    readGame(gameByNumber(std::uint32_t(numbers[1])), merged, false);
    EXPECT_EQ(merged.site + "|" + merged.white, "Moscow|Carlsen");
    EXPECT_EQ(positionCounts(line.positions.back()).games, 300u + 5u);
}

TEST_F(GamesTest, LongTailsAreCompressedAndExpandedAgain)
{
    const Game first = test::longGame(1, 120);
    ASSERT_EQ(first.entries.size(), 120u);
    ASSERT_TRUE(storeGame(first, false));
    const DbOffset v = at<GameRecord>(gameByNumber(0))->mainLine;
    EXPECT_EQ(compressedLength(v), 21); // plies 0 to 99 stay, the 21 moves after as bytes
    EXPECT_EQ(findPosition(first.positionAtPly(first, 99)), at<Variation>(v)->graphEnd);
    Game back;
    readGame(gameByNumber(0), back, true);
    EXPECT_EQ(movesOf(back), movesOf(first));

    // A raised threshold: a second game following the first to ply 110 pulls 11 tail
    // moves back into the graph.
    db->compressionThresholdPly = 200;
    const Game second = test::longGame(2, 130, &first, 110);
    ASSERT_TRUE(storeGame(second, false));
    EXPECT_EQ(compressedLength(v), 10);
    EXPECT_EQ(findPosition(first.positionAtPly(first, 110)), at<Variation>(v)->graphEnd);
    readGame(gameByNumber(0), back, true);
    EXPECT_EQ(movesOf(back), movesOf(first));
    readGame(gameByNumber(1), back, true);
    EXPECT_EQ(movesOf(back), movesOf(second));
    Position end = first.positionAtPly(first, 110);
    EXPECT_EQ(positionCounts(end).games, 2u);
    deleteGame(1);
    deleteGame(0);
    EXPECT_EQ(db->variationCount, 0u);
}

// The search against the brute-force test over every game, by each of its ways: with long
// tails in the graph and compressed, at tiny and non-tiny targets, after deletions have
// shifted the incoming lists that choices and path masks refer to, and after games are
// stored again under released numbers while an index built before them is still held.
class GameSearchTest : public GamesTest, public ::testing::WithParamInterface<int> {
protected:
    std::set<std::uint32_t> containing(DbOffset target) const
    {
        std::set<std::uint32_t> expected;
        for (std::uint32_t n = 0; n < db->gameNumbersIssued; ++n) {
            if (const DbOffset g = gameByNumber(n); g != 0 && gameContains(g, target))
                expected.insert(n);
        }
        return expected;
    }

    // Probes positions of the lines at every ply by every way; returns how many of the
    // targets were tiny records.
    int expectSearchesAgree(const std::vector<Line>& lines, std::mt19937& rng, int round)
    {
        int tinyTargets = 0;
        for (int probe = 0; probe < 60; ++probe) {
            const Line& line = lines[rng() % lines.size()];
            const std::size_t ply = rng() % line.positions.size();
            const DbOffset target = findPosition(line.positions[ply]);
            if (target == 0)
                continue; // a position of a deleted game
            tinyTargets += isTiny(target);
            const std::set<std::uint32_t> expected = containing(target);
            for (const GameSearchMode mode :
                 {GameSearchMode::WalkOnly, GameSearchMode::IndexOnly, GameSearchMode::Automatic}) {
                const std::vector<std::uint32_t> found = test::gamesThrough(target, mode);
                EXPECT_TRUE(std::is_sorted(found.begin(), found.end()));
                EXPECT_EQ(std::set<std::uint32_t>(found.begin(), found.end()), expected)
                    << "round " << round << ", ply " << ply << ", probe " << probe << ", way "
                    << int(mode);
                if (HasFailure())
                    return tinyTargets;
            }
        }
        return tinyTargets;
    }
};

TEST_P(GameSearchTest, FindGamesThroughAgreesWithContainment)
{
#if defined(VEZ_SANITIZER_BUILD)
    const std::size_t count = 300; // enough for the index to be walked on two threads
#else
    const std::size_t count = 600;
#endif
    const std::vector<Line> lines = sampleLines(count);
    db->compressionThresholdPly = GetParam();
    for (std::uint32_t n = 0; n < lines.size(); ++n)
        ASSERT_EQ(storeGame(gameFromLine(lines[n], 0), false), n);
    std::mt19937 rng(3);
    int tinyTargets = expectSearchesAgree(lines, rng, 0);
    // Every third game goes; the rest keep their choices and masks.
    for (std::uint32_t n = 0; n < lines.size(); n += 3)
        deleteGame(n);
    tinyTargets += expectSearchesAgree(lines, rng, 1);
    // The same games again, now under the numbers they left, and ones of other lines.
    for (std::size_t i = 0; i < lines.size(); i += 3)
        ASSERT_TRUE(storeGame(gameFromLine(lines[(i * 7) % lines.size()], 1), false));
    tinyTargets += expectSearchesAgree(lines, rng, 2);
    EXPECT_GT(tinyTargets, 0);
}

// A game set up in the middle of another game's private stretch passes the positions
// after its start only.
TEST_F(GamesTest, SearchLeavesOutGamesStartingAfterThePosition)
{
    const Line line = sampleLines(1).at(0);
    ASSERT_GT(line.moves.size(), 30u);
    ASSERT_TRUE(storeGame(gameFromLine(line, 0), false));
    Game later;
    later.startPosition = line.positions[20];
    for (std::size_t i = 20; i < 24; ++i)
        later.append(line.moves[i]);
    ASSERT_TRUE(storeGame(later, false));
    const DbOffset before = findPosition(line.positions[19]);
    const DbOffset start = findPosition(line.positions[20]);
    for (const GameSearchMode mode : {GameSearchMode::WalkOnly, GameSearchMode::IndexOnly}) {
        EXPECT_EQ(test::gamesThrough(before, mode), std::vector<std::uint32_t>{0}) << int(mode);
        EXPECT_EQ(test::gamesThrough(start, mode), (std::vector<std::uint32_t>{0, 1})) << int(mode);
    }
}

// A change that stores no game but moves a record (a score makes it big) leaves the index
// of the search behind: it must not be used for the record's new place.
TEST_F(GamesTest, SearchIndexFollowsRecordsMovedWithoutNewGames)
{
    const std::vector<Line> lines = sampleLines(40);
    ASSERT_GE(lines.size(), 30u);
    for (const Line& line : lines)
        ASSERT_TRUE(storeGame(gameFromLine(line, 0), false));
    const Position& pos = lines[5].positions[lines[5].positions.size() / 2];
    const DbOffset before = findPosition(pos);
    ASSERT_FALSE(before == 0 || isBig(before));
    EXPECT_EQ(test::gamesThrough(before, GameSearchMode::IndexOnly), std::vector<std::uint32_t>{5});
    const DbOffset after = setScore(pos, 25);
    ASSERT_NE(after, before);
    EXPECT_EQ(test::gamesThrough(after, GameSearchMode::IndexOnly), std::vector<std::uint32_t>{5});
}

INSTANTIATE_TEST_SUITE_P(Compression, GameSearchTest, ::testing::Values(100, 20));

TEST_F(GamesTest, GamesThatCannotBeStoredAreRefusedWhole)
{
    Game game;
    ASSERT_TRUE(readFen(game.startPosition, "rnbqkbnr/nbrqnbrq/8/8/8/8/PPPPPPPP/RNBQKBNR w - -"));
    Move m;
    ASSERT_TRUE(parseMove(game.startPosition, m, nullptr, nullptr, "Nc3"));
    game.append(m);
    const std::uint32_t used = db->usedBytes;
    EXPECT_FALSE(storeGame(game, false).has_value());
    PreparedGame prepared;
    prepared.prepare(game, currentStoreSettings());
    EXPECT_FALSE(prepared.storable());
    EXPECT_FALSE(storeGame(game, false, &prepared).has_value());
    EXPECT_EQ(db->usedBytes, used);
    EXPECT_EQ(db->gameNumbersIssued, 0u);
}

// Games worked out ahead (as an import does on its reading thread) store exactly as games
// worked out while storing: the two images agree byte for byte, whatever the compression
// and whether the preparation's settings are still the database's.
TEST_F(GamesTest, PreparedGamesStoreByteForByteAsOthers)
{
    std::vector<Game> games;
    for (const char* file :
         {VEZ_CORPUS_DIR "/games-annotated.pgn", VEZ_TEST_DATA_DIR "/twic0920-sample.pgn"}) {
        std::vector<Game> more = test::readGames(file, 150);
        std::move(more.begin(), more.end(), std::back_inserter(games));
    }
    ASSERT_GE(games.size(), 60u);
    for (const int threshold : {100, 20}) {
        DatabaseHeader* plain = createInMemory();
        plain->compressionThresholdPly = threshold;
        DatabaseHeader* ahead = createInMemory();
        ahead->compressionThresholdPly = threshold;
        PreparedGame prepared;
        for (std::size_t i = 0; i < games.size(); ++i) {
            setCurrentBase(plain);
            const std::optional<std::uint32_t> a = storeGame(games[i], true);
            setCurrentBase(ahead);
            // Every third preparation is made under another threshold, and must be let be.
            StoreSettings settings = currentStoreSettings();
            if (i % 3 == 2)
                settings.compressionThresholdPly += 7;
            prepared.prepare(games[i], settings);
            // The main line's plan is its positions, packed and hashed, openings that earlier
            // games share included.
            const PlannedLine* plan = prepared.lineFor(games[i]);
            ASSERT_NE(plan, nullptr);
            Position pos = games[i].startPosition;
            for (std::size_t ply = 0; ply < plan->steps.size(); ++ply) {
                if (ply > 0)
                    makeMove(pos, games[i].entries[ply - 1].move);
                const PlannedStep& step = plan->steps[ply];
                PackedPosition key;
                ASSERT_TRUE(packPosition(pos, key));
                ASSERT_TRUE(std::memcmp(&plan->positions[ply], &pos, sizeof pos) == 0 &&
                            step.key == key && step.hash == primaryHash(key) &&
                            step.code == secondaryCode(key) &&
                            step.indexHash == PositionIndex::hashOf(key))
                    << "game " << i << " ply " << ply;
            }
            const std::optional<std::uint32_t> b = storeGame(games[i], true, &prepared);
            ASSERT_EQ(a, b) << "game " << i;
        }
        // The keys the preparation gave the index were right: it holds what a fresh one does.
        setCurrentBase(ahead);
        ASSERT_NE(builtPositionIndex(), nullptr);
        const std::size_t kept = builtPositionIndex()->size();
        invalidatePositionIndex();
        ASSERT_NE(currentPositionIndex(), nullptr);
        EXPECT_EQ(kept, currentPositionIndex()->size()) << "threshold " << threshold;
        ASSERT_EQ(plain->usedBytes, ahead->usedBytes) << "threshold " << threshold;
        const auto* x = reinterpret_cast<const std::uint8_t*>(plain);
        const auto same =
            std::mismatch(x, x + plain->usedBytes, reinterpret_cast<const std::uint8_t*>(ahead));
        EXPECT_EQ(same.first - x, plain->usedBytes)
            << "threshold " << threshold; // the first difference
        closeDatabase(plain);
        closeDatabase(ahead);
        setCurrentBase(db);
    }
}

// Games with sub-lines that transpose back into them, stored and deleted at random: every
// stored game reads back, and no position stays that no stored line passes through, down
// to a graph as empty as a new database's.
TEST_F(GamesTest, RandomStoreAndDeleteKeepsEveryGameReadable)
{
#if defined(__SANITIZE_ADDRESS__)
    const std::size_t games = 40, steps = 80;
#else
    const std::size_t games = 100, steps = 250;
#endif
    const std::vector<Line> lines = sampleLines(
        games, {VEZ_CORPUS_DIR "/games-annotated.pgn", VEZ_TEST_DATA_DIR "/twic0920-sample.pgn"});
    ASSERT_GE(lines.size(), 40u);
    std::vector<std::optional<std::uint32_t>> stored(lines.size());
    db->compressionThresholdPly = 30; // tails come and go as games share moves
    // Every other game has a sub-line that comes back into it by another move order, and
    // the keys of every position a stored line may leave in the graph are known.
    std::vector<Game> withSubLines;
    std::vector<std::set<std::string>> keysOf(lines.size());
    for (std::size_t l = 0; l < lines.size(); ++l) {
        withSubLines.push_back(gameFromLine(lines[l], int(l % 4)));
        std::vector<PackedPosition> keys;
        if (l % 2)
            addTransposition(withSubLines.back(), lines[l], l % 20, &keys);
        for (const Position& p : lines[l].positions)
            keys.push_back(keyOf(p));
        for (const PackedPosition& k : keys)
            keysOf[l].insert(std::string(reinterpret_cast<const char*>(k.bytes), 24));
    }
    // No position stays that no stored line passes through, unless it is a flashcard.
    auto noLeftovers = [&](std::size_t step) {
        std::set<std::string> used;
        for (std::size_t k = 0; k < lines.size(); ++k) {
            if (stored[k])
                used.insert(keysOf[k].begin(), keysOf[k].end());
        }
        for (std::uint32_t slot = 0; slot < kHashSlots; ++slot) {
            for (DbOffset r = hashSlot(std::uint16_t(slot)); r != 0;
                 r = at<PositionRecord>(r)->nextInChain) {
                Position pos;
                ASSERT_TRUE(reconstructPosition(r, pos));
                const PackedPosition k = keyOf(pos);
                ASSERT_TRUE(used.count(std::string(reinterpret_cast<const char*>(k.bytes), 24)) ||
                            isFlashcard(r))
                    << "a position no stored line passes through, after step " << step;
            }
        }
    };
    std::mt19937 rng(99);
    // Flashcards marked on positions of stored games, in sequence order: the records under
    // them are promoted, released and replaced as games come and go.
    std::vector<Position> cards;
    for (std::size_t step = 0; step < steps; ++step) {
        const std::size_t l = rng() % lines.size();
        if (step % 5 == 0 && stored[l]) {
            const Position& p = lines[l].positions[rng() % lines[l].positions.size()];
            if (!isFlashcard(findPosition(p)) && toggleFlashcard(p))
                cards.push_back(p);
        }
        if (stored[l]) {
            deleteGame(*stored[l]);
            stored[l].reset();
        } else {
            stored[l] = storeGame(withSubLines[l], false);
            ASSERT_TRUE(stored[l].has_value());
        }
        test::checkGraphStructure();
        for (std::size_t k = 0; k < lines.size(); ++k) {
            if (!stored[k])
                continue;
            Game back;
            readGame(gameByNumber(*stored[k]), back, true);
            ASSERT_EQ(movesOf(back), lines[k].moves) << "game " << k << " after step " << step;
        }
        ASSERT_EQ(db->flashcardCount, cards.size());
        for (std::size_t i = 0; i < cards.size(); ++i) {
            Position back;
            ASSERT_TRUE(reconstructPosition(flashcardAt(std::uint32_t(i)), back));
            ASSERT_TRUE(keyOf(back) == keyOf(cards[i]))
                << "flashcard " << i << " after step " << step;
        }
        if (step % 10 == 0) {
            noLeftovers(step);
            // The validation counts every position's games and results from the main lines.
            ASSERT_EQ(validateDatabase(), std::vector<std::string>{}) << "after step " << step;
        }
        ASSERT_FALSE(HasFailure()) << "after step " << step;
    }
    // With every game gone, no line, no game and no position but the flashcards stays.
    for (std::size_t l = 0; l < lines.size(); ++l) {
        if (stored[l])
            deleteGame(*std::exchange(stored[l], std::nullopt));
    }
    test::checkGraphStructure();
    const StoreStatistics stats = gatherStatistics();
    EXPECT_EQ(stats.variations + stats.gameRecords + stats.disambiguations, 0);
    EXPECT_LE(stats.positions, std::int64_t(cards.size()));
    noLeftovers(steps);
}

} // namespace
} // namespace vez
