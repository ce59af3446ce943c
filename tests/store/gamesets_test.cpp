// Gamesets over real games: member ranges, rules and their criteria, set operations,
// positions, keeping sets current as games come and go, deletion and the text form.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "interchange/game.h"
#include "interchange/pgn_reader.h"
#include "store/codes.h"
#include "store/games.h"
#include "store/gamesets.h"
#include "store/graph.h"
#include "store/heap.h"
#include "store/names.h"
#include "store/packing.h"
#include "store_fixture.h"
#include "support/graph_invariants.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

using testing::StoreTest;
using GamesetStoreTest = StoreTest;
using test::keyOf;
using Numbers = std::vector<std::int32_t>;

// Real games: the TWIC part of the large corpus when it is there, else the sample.
std::vector<Game> readGames(std::size_t count)
{
    std::vector<Game> games = test::readGames(VEZ_CORPUS_DIR "/games-large.pgn", count);
    if (games.empty())
        games = test::readGames(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", count);
    return games;
}

// Whether the ranges are the maximal runs of members: ascending, disjoint, never adjacent.
bool maximalRuns(DbOffset gameset)
{
    std::int64_t end = -2; // no member is below 0
    for (DbOffset r = at<Gameset>(gameset)->ranges; r != 0; r = at<IntRange>(r)->next) {
        const IntRange& range = *at<IntRange>(r);
        if (range.low > range.high || range.low <= end + 1)
            return false;
        end = range.high;
    }
    return true;
}

// The positions of a game's main line while it stays in the graph (before the plies that
// may be compressed).
std::vector<PackedPosition> graphPositions(const Game& game)
{
    std::vector<PackedPosition> keys;
    Position pos = game.startPosition;
    keys.push_back(keyOf(pos));
    for (const MoveEntry& e : game.entries) {
        if (keys.size() >= 100)
            break;
        makeMove(pos, e.move);
        keys.push_back(keyOf(pos));
    }
    return keys;
}

Position positionAfter(const Game& game, std::size_t plies)
{
    Position pos = game.startPosition;
    for (std::size_t i = 0; i < plies && i < game.entries.size(); ++i)
        makeMove(pos, game.entries[i].move);
    return pos;
}

// A rule over other sets only.
GamesetDefinition combined(DbOffset parent, DbOffset other, GamesetKind rule)
{
    GamesetDefinition d;
    d.parent = parent;
    d.other = other;
    d.rule = rule;
    return d;
}

DbOffset fixedSet(std::string_view name, const Numbers& numbers)
{
    const DbOffset s = createGameset(name, combined(0, 0, GamesetKind::Fixed), false);
    for (std::int32_t n : numbers)
        addMember(s, n);
    return s;
}

// A text rule from key and value pairs, with the keys the server's gameset lines use.
using Fields = std::vector<std::pair<std::string_view, std::string>>;
GamesetRule ruleOf(const Fields& fields)
{
    GamesetRule r;
    const std::map<std::string_view, std::string*> keys = {
        {"parent", &r.parent},    {"other", &r.other},      {"player", &r.player},
        {"event", &r.event},      {"tag", &r.tag},          {"value", &r.value},
        {"min_date", &r.minDate}, {"max_date", &r.maxDate}, {"min_ECO", &r.minEco},
        {"max_ECO", &r.maxEco},   {"FEN", &r.fen},          {"rule", &r.rule},
        {"outcome", &r.outcome},  {"color", &r.color}};
    for (const auto& [key, value] : fields)
        *keys.at(key) = value;
    return r;
}

DbOffset createFromText(std::string_view name, const Fields& fields)
{
    return createGamesetFromText(name, ruleOf(fields));
}

std::string mostFrequent(const std::map<std::string, int>& count)
{
    return std::max_element(count.begin(), count.end(),
                            [](auto& a, auto& b) { return a.second < b.second; })
        ->first;
}

class GamesetsTest : public StoreTest {
public:
    void SetUp() override
    {
        StoreTest::SetUp();
        games = readGames(300);
        ASSERT_GE(games.size(), 50u);
    }

    void storeGames(std::size_t from, std::size_t to)
    {
        for (std::size_t i = from; i < to; ++i)
            ASSERT_EQ(storeGame(games[i], false), i); // a fresh database numbers games in order
    }
    void storeAll() { storeGames(0, games.size()); }

    // The stored games whose header (as read back) satisfies a predicate.
    Numbers expected(const std::function<bool(const Game&, std::size_t)>& wanted) const
    {
        Numbers out;
        for (std::size_t n = 0; n < games.size(); ++n) {
            const DbOffset g = gameByNumber(std::uint32_t(n));
            if (g == 0)
                continue;
            Game header;
            readGame(g, header, false);
            if (wanted(header, n))
                out.push_back(std::int32_t(n));
        }
        return out;
    }

    Numbers through(const Position& pos) const
    {
        const PackedPosition key = keyOf(pos);
        return expected([&](const Game&, std::size_t n) {
            const auto keys = graphPositions(games[n]);
            return std::find(keys.begin(), keys.end(), key) != keys.end();
        });
    }

    // The player with the most games (and among those, the most kinds of result with
    // either colour), as the store names him.
    std::string busiestPlayer() const
    {
        std::map<std::string, int> score;
        std::set<std::tuple<std::string, int, int>> kinds;
        for (const Game& g : games) {
            for (const int side : {1, 2}) {
                const std::string name = normalizePlayerName(side == 1 ? g.white : g.black);
                score[name] += 10 + kinds.insert({name, side, g.result}).second;
            }
        }
        return mostFrequent(score);
    }

    std::string busiestEvent() const
    {
        std::map<std::string, int> count;
        for (const Game& g : games)
            ++count[cleanEventName(g.event)];
        return mostFrequent(count);
    }

    // The FEN of the position most games reach after the given number of plies.
    std::string commonPosition(std::size_t plies) const
    {
        std::map<std::string, int> count;
        for (const Game& g : games)
            ++count[writeFen(positionAfter(g, plies), 0, 1)];
        return mostFrequent(count);
    }

    std::vector<Game> games;
};

// --- Ranges -----------------------------------------------------------------------------

TEST_F(GamesetStoreTest, MembershipQueriesAgreeWithASetUnderRandomChanges)
{
    const DbOffset s = fixedSet("random", {});
    std::set<std::int32_t> model;
    std::mt19937 random(920);
    for (int step = 0; step < 4000; ++step) {
        const auto n = std::int32_t(random() % 121) - 1; // -1 is never a member
        if (random() % 3 == 0) {
            removeMember(s, n);
            model.erase(n);
        } else {
            addMember(s, n);
            if (n >= 0)
                model.insert(n);
        }
        ASSERT_TRUE(maximalRuns(s));
        ASSERT_EQ(members(s), Numbers(model.begin(), model.end()));
        ASSERT_EQ(size(s), model.size());
        ASSERT_EQ(isEmpty(s), model.empty());
        ASSERT_EQ(first(s), model.empty() ? -1 : *model.begin());
        ASSERT_EQ(last(s), model.empty() ? -1 : *model.rbegin());
        const auto probe = std::int32_t(random() % 130) - 5;
        ASSERT_EQ(contains(s, probe), model.count(probe) == 1);
        const auto next = model.upper_bound(probe);
        if (next != model.end())
            ASSERT_EQ(nextMember(s, probe), *next);
        else
            ASSERT_GT(nextMember(s, probe), last(s));
    }
}

// --- The list of sets --------------------------------------------------------------------

TEST_F(GamesetStoreTest, SetsAreFoundByNameAndRefusedOnesChangeNothing)
{
    EXPECT_EQ(gamesetCount(), 0);
    const DbOffset b = fixedSet("Beta", {});
    const DbOffset unnamed = createGameset("", GamesetDefinition{}, false);
    const DbOffset a = fixedSet("Alpha", {});
    ASSERT_NE(unnamed, 0u);
    EXPECT_EQ(gamesetNames(), (std::vector<std::string>{"Beta", "Alpha"}));
    EXPECT_EQ(gamesetCount(), 2);
    EXPECT_EQ(std::tuple(findGameset("Alpha"), findGameset("Beta"), findGameset("")),
              std::tuple(a, b, 0u));
    // Looking up a name the dictionary does not hold adds nothing to it.
    std::vector<std::string> before, after;
    listDictionary(Dictionary::General, before);
    EXPECT_EQ(findGameset("Gamma"), 0u);
    listDictionary(Dictionary::General, after);
    EXPECT_EQ(before, after);

    // Refused creations change nothing.
    const std::uint32_t used = db->usedBytes;
    const Position start = test::standardStart();
    const std::vector<std::function<void(GamesetDefinition&)>> refused = {
        [](auto& d) { d.rule = GamesetKind::Fixed, d.player = "Carlsen, Magnus"; },
        [&](auto& d) { d.rule = GamesetKind::Fixed, d.parent = b; },
        [&](auto& d) { d.rule = GamesetKind::Fixed, d.fen = start; },
        [](auto& d) { d.rule = GamesetKind::Fixed, d.minDate = "someday"; }, // given all the same
        [](auto& d) { d.rule = GamesetKind::Fixed, d.color = GamesetColor::White; },
        [](auto& d) { d.outcome = GamesetOutcome(7); },
        [](auto& d) { d.parent = 4096; }, // no gameset there
    };
    for (const auto& change : refused) {
        GamesetDefinition d;
        change(d);
        EXPECT_EQ(createGameset("New", d, false), 0u);
    }
    EXPECT_EQ(createGameset("Beta", GamesetDefinition{}, false), 0u);
    EXPECT_EQ(db->usedBytes, used);
    EXPECT_EQ(gamesetCount(), 2);
    std::vector<std::string> players;
    listPlayers(players);
    EXPECT_TRUE(players.empty());
}

// --- Rules over real games -----------------------------------------------------------------

struct CriteriaCase {
    std::string title;
    Fields rule;
    std::function<bool(const Game&)> wanted;
};

// Rules over real games, and over the sets "hero" (the hero's games) and "white wins".
std::vector<CriteriaCase> criteriaCases(const std::string& hero, const std::string& event)
{
    auto date = [](const Game& g) { return makeDateKey(g.year, g.month, g.day); };
    auto letter = [](const Game& g) { return g.eco.empty() ? ' ' : g.eco[0]; };
    auto his = [=](const Game& g) { return g.white == hero || g.black == hero; };
    auto heroAnd = [](const char* rule) {
        return Fields{{"parent", "hero"}, {"other", "white wins"}, {"rule", rule}};
    };
    const DateKey from = makeDateKey(2012, 6, 17), to = makeDateKey(2012, 6, 18);
    // clang-format off
    return {
        {"all", {}, [](auto&) { return true; }},
        {"draws", {{"outcome", "Draw"}}, [](auto& g) { return g.result == 3; }},
        {"black wins", {{"outcome", "Win"}, {"color", "Black"}},
         [](auto& g) { return g.result == 2; }},
        {"hero's wins with black", {{"outcome", "Win"}, {"color", "Black"}, {"player", hero}},
         [=](auto& g) { return g.result == 2 && g.black == hero; }},
        {"hero's wins", {{"outcome", "Win"}, {"player", hero}},
         [=](auto& g) { return g.result == 1 ? g.white == hero : g.result == 2 && g.black == hero; }},
        {"hero's losses", {{"outcome", "Loss"}, {"player", hero}},
         [=](auto& g) { return g.result == 1 ? g.black == hero : g.result == 2 && g.white == hero; }},
        {"hero's draws with white", {{"outcome", "Draw"}, {"color", "White"}, {"player", hero}},
         [=](auto& g) { return g.result == 3 && g.white == hero; }},
        {"hero", {{"player", hero}}, his},
        {"event", {{"event", event}}, [=](auto& g) { return g.event == event; }},
        {"ECO B", {{"min_ECO", "B00"}, {"max_ECO", "B99"}},
         [=](auto& g) { return letter(g) == 'B'; }},
        {"ECO E (codes above 32767)", {{"min_ECO", "E00"}, {"max_ECO", "E99"}},
         [=](auto& g) { return letter(g) == 'E'; }},
        {"ECO from D", {{"min_ECO", "D00"}}, [=](auto& g) { return letter(g) >= 'D'; }},
        {"dates", {{"min_date", "2012.6.17"}, {"max_date", "2012.06.18"}},
         [=](auto& g) { return date(g) >= from && date(g) <= to; }},
        {"tag value", {{"tag", "Opening"}, {"value", "Sicilian"}},
         [](auto& g) { return g.getTag("Opening") == "Sicilian"; }},
        {"tag without value", {{"tag", "Variation"}},
         [](auto& g) { return g.hasTag("Variation"); }},
        {"header tag", {{"tag", "Result"}, {"value", "1/2-1/2"}},
         [](auto& g) { return g.result == 3; }},
        {"everything at once", {{"outcome", "Draw"}, {"event", event}, {"min_ECO", "C00"}},
         [=](auto& g) { return g.result == 3 && g.event == event && letter(g) >= 'C'; }},
        {"hero's or white wins", heroAnd("Union"),
         [=](auto& g) { return his(g) || g.result == 1; }},
        {"hero's white wins", heroAnd("Intersect"),
         [=](auto& g) { return his(g) && g.result == 1; }},
        {"hero's but white wins", heroAnd("Subtract"),
         [=](auto& g) { return his(g) && g.result != 1; }},
        {"hero's, other unused", heroAnd(""), his},
        {"all or white wins", {{"other", "white wins"}, {"rule", "Union"}},
         [](auto&) { return true; }},
        {"white wins of all", {{"other", "white wins"}, {"rule", "Intersect"}},
         [](auto& g) { return g.result == 1; }},
        {"all but white wins", {{"other", "white wins"}, {"rule", "Subtract"}},
         [](auto& g) { return g.result != 1; }},
        {"drawn of hero's or white wins",
         {{"parent", "hero"}, {"other", "white wins"}, {"rule", "Union"}, {"outcome", "Draw"}},
         [=](auto& g) { return (his(g) || g.result == 1) && g.result == 3; }},
    };
    // clang-format on
}

// Sets made before the games (and kept current as they are stored), between them, after them
// and after deletions all select the same games, and keep doing so as deleted games' numbers
// are reused by other games; a Fixed set takes no reused number.
TEST_F(GamesetsTest, CriteriaSelectTheGamesTheySay)
{
    const std::string hero = busiestPlayer();
    const auto cases = criteriaCases(hero, busiestEvent());
    createFromText("hero", {{"player", hero}});
    createFromText("white wins", {{"outcome", "Win"}, {"color", "White"}});
    std::vector<DbOffset> sets;
    auto create = [&](const std::string& when) {
        for (const CriteriaCase& c : cases)
            sets.push_back(createFromText(c.title + when, c.rule));
    };
    auto check = [&](const char* when) {
        for (std::size_t i = 0; i < sets.size(); ++i) {
            const CriteriaCase& c = cases[i % cases.size()];
            ASSERT_NE(sets[i], 0u) << c.title;
            const Numbers want = expected([&](const Game& g, std::size_t) { return c.wanted(g); });
            EXPECT_EQ(members(sets[i]), want) << c.title << " " << i / cases.size() << when;
            EXPECT_TRUE(maximalRuns(sets[i])) << c.title;
            // The 300 corpus games hold examples of every case; the small sample may not.
            EXPECT_TRUE(games.size() < 300 || !want.empty() || sets.size() > 3 * cases.size())
                << c.title << " selects nothing";
        }
    };
    create(" before");
    storeGames(0, games.size() / 2);
    create(" between");
    storeGames(games.size() / 2, games.size());
    create(" after");
    check(" with every game");
    const DbOffset fixed = fixedSet("Selected Games", {0, 7, 14});
    for (std::uint32_t n = 0; n < games.size(); n += 7)
        deleteGame(n);
    create(" after deletions");
    check(" after deletions");
    for (std::size_t n = 1; n < games.size(); n += 7)
        ASSERT_TRUE(storeGame(games[n], false)); // into the numbers released
    check(" with numbers reused");
    EXPECT_TRUE(isEmpty(fixed));
}

bool in(const Numbers& set, std::int32_t n) { return std::binary_search(set.begin(), set.end(), n); }

// The numbers below count for which wanted holds.
Numbers select(std::size_t count, const std::function<bool(std::int32_t)>& wanted)
{
    Numbers out;
    for (std::int32_t n = 0; n < std::int32_t(count); ++n) {
        if (wanted(n))
            out.push_back(n);
    }
    return out;
}

// --- Positions ------------------------------------------------------------------------------

TEST_F(GamesetsTest, PositionRulesSelectTheGamesThroughThePosition)
{
    storeAll();
    const std::string fen = commonPosition(4);
    const Numbers want = through(test::positionFrom(fen));
    ASSERT_GE(want.size(), 3u);
    GamesetRule rule = ruleOf({{"FEN", fen}});

    // Without a parent the candidates outnumber the games through the position, so the set
    // starts from those games.
    EXPECT_EQ(members(createGamesetFromText("through", rule)), want);
    rule.rule = "Union"; // the form of the temporary selection set
    EXPECT_EQ(members(createGamesetFromText(std::string(kTemporarySelectionName), rule)), want);

    // A small parent is scanned, game by game.
    std::int32_t elsewhere = 0;
    while (std::binary_search(want.begin(), want.end(), elsewhere))
        ++elsewhere;
    fixedSet("few", {want[0], want[1], elsewhere});
    rule.rule = "";
    rule.parent = "few";
    EXPECT_EQ(members(createGamesetFromText("few through", rule)), (Numbers{want[0], want[1]}));

    // A large parent is cut down to the games through the position.
    const DbOffset drawSet = createFromText("draws", {{"outcome", "Draw"}});
    ASSERT_GT(size(drawSet), want.size());
    rule.parent = "draws";
    EXPECT_EQ(members(createGamesetFromText("drawn through", rule)),
              select(games.size(), [&](std::int32_t n) { return in(members(drawSet), n) && in(want, n); }));
    // ... and a Union keeps the other's games through the position as well.
    rule.other = "few";
    rule.rule = "Union";
    EXPECT_EQ(members(createGamesetFromText("drawn or few through", rule)),
              select(games.size(), [&](std::int32_t n) {
                  return (in(members(drawSet), n) || in(members(findGameset("few")), n)) && in(want, n);
              }));
}

// A position reached by only one stored game, deep enough to be its own.
std::size_t ownPositionPly(const std::vector<Game>& games, std::size_t game, std::size_t count)
{
    for (std::size_t ply = 20; ply < 40; ++ply) {
        const PackedPosition key = keyOf(positionAfter(games[game], ply));
        int users = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const auto keys = graphPositions(games[i]);
            users += std::find(keys.begin(), keys.end(), key) != keys.end();
        }
        if (users == 1)
            return ply;
    }
    return 0;
}

// A set's position stays in the graph as long as the set: named before any game reaches
// it, after the last game through it is deleted, and beyond the compression ply.
TEST_F(GamesetsTest, ThePositionOfASetLivesAsLongAsTheSet)
{
    const auto longGame = std::find_if(games.begin(), games.end(),
                                       [](const Game& g) { return g.entries.size() > 120; });
    ASSERT_NE(longGame, games.end());
    const auto number = std::int32_t(longGame - games.begin());
    const std::string endFen = writeFen(positionAfter(*longGame, longGame->entries.size()), 0, 1);
    const DbOffset end = createFromText("the end", {{"FEN", endFen}});
    const std::size_t half = games.size() / 2, later = games.size() - 1;
    storeGames(0, half);
    const std::size_t ply = ownPositionPly(games, later, games.size());
    ASSERT_NE(ply, 0u);
    const Position pos = positionAfter(games[later], ply);
    ASSERT_EQ(findPosition(pos), 0u);
    const GamesetRule rule = ruleOf({{"FEN", writeFen(pos, 0, 1)}});
    const DbOffset s = createGamesetFromText("later", rule);
    ASSERT_NE(s, 0u);
    EXPECT_TRUE(isEmpty(s));
    storeGames(half, games.size());
    EXPECT_EQ(members(s), Numbers{std::int32_t(later)});
    EXPECT_EQ(members(end), Numbers{number});
    EXPECT_EQ(describeGameset(end).fen, endFen);
    deleteGame(std::uint32_t(later));
    EXPECT_TRUE(isEmpty(s));
    EXPECT_EQ(describeGameset(s).fen, rule.fen);
    EXPECT_TRUE(isGamesetPosition(findPosition(pos)));
    ASSERT_EQ(storeGame(games[later], false), later); // the number comes back
    EXPECT_EQ(members(s), Numbers{std::int32_t(later)});
}

// --- Keeping sets current --------------------------------------------------------------------

TEST_F(GamesetsTest, GamesFromASourceFillOnlyAsTheyAreStored)
{
    for (Game& g : games)
        g.tags.push_back({"Source", "twic0920.pgn"});
    storeGames(0, 10);
    const std::string name = std::string(kGamesFromPrefix) + "twic0920.pgn";
    GamesetDefinition fromSource;
    fromSource.tag = "Source";
    fromSource.value = "twic0920.pgn";
    const DbOffset s = createGameset(name, fromSource, true);
    ASSERT_NE(s, 0u);
    EXPECT_TRUE(isEmpty(s));
    storeGames(10, 20);
    EXPECT_EQ(members(s), select(20, [](std::int32_t n) { return n >= 10; }));
    EXPECT_TRUE(maximalRuns(s));
}

// --- Deleting sets ---------------------------------------------------------------------------

// A named set takes its unnamed sets along unless another set still uses them; a set that is
// both parent and other is released once; every released record is taken before the heap grows.
TEST_F(GamesetStoreTest, DeletingSetsTakesTheirUnusedUnnamedSetsAlong)
{
    const DbOffset parent = createGameset("", GamesetDefinition{}, false);
    const DbOffset shared = createGameset("", GamesetDefinition{}, false);
    const DbOffset child =
        createGameset("child", combined(parent, shared, GamesetKind::Union), false);
    const DbOffset sibling =
        createGameset("sibling", combined(shared, 0, GamesetKind::Plain), false);
    ASSERT_TRUE(child && sibling);
    const DbOffset fixed = fixedSet("fixed", {1, 3, 5});
    EXPECT_FALSE(canDeleteGameset(parent));
    EXPECT_FALSE(deleteGameset(shared)); // still used: left alone
    EXPECT_TRUE(canDeleteGameset(child));
    EXPECT_TRUE(deleteGameset(child));
    EXPECT_EQ(gamesetNames(), (std::vector<std::string>{"sibling", "fixed"}));
    EXPECT_EQ(db->firstGameset, shared);
    EXPECT_TRUE(deleteGameset(sibling));
    EXPECT_EQ(db->firstGameset, fixed); // the other went along this time
    const DbOffset both = createGameset("", GamesetDefinition{}, false);
    ASSERT_TRUE(deleteGameset(createGameset("s", combined(both, both, GamesetKind::Intersect), false)));
    ASSERT_TRUE(deleteGameset(fixed));
    EXPECT_EQ(db->firstGameset, 0u);
    const std::uint32_t used = db->usedBytes;
    std::set<DbOffset> again;
    for (int i = 0; i < 7; ++i)
        again.insert(fixedSet("again " + std::to_string(i), i == 0 ? Numbers{1, 3, 5} : Numbers{}));
    EXPECT_EQ(again.size(), 7u);
    EXPECT_EQ(db->usedBytes, used);
    EXPECT_EQ(db->freeLists[int(FreeList::Gameset)], 0u);
}

// --- The text form ---------------------------------------------------------------------------

TEST_F(GamesetStoreTest, TextRulesOutsideTheListsAreRefused)
{
    fixedSet("Selected Games", {});
    const std::string fen = writeFen(test::standardStart(), 0, 1);
    const std::string noClocks = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e";
    const std::vector<std::tuple<const char*, Fields, bool>> cases = {
        {"plain", {}, true},
        {"fixed", {{"rule", "Fixed"}}, true},
        {"white wins of two sets", {{"rule", "Union"}, {"outcome", "Win"}, {"color", "White"}}, true},
        {"no draws", {{"rule", "Subtract"}, {"outcome", "Draw"}}, true},
        {"rule in lower case", {{"rule", "union"}}, false},
        {"outcome", {{"outcome", "Won"}}, false},
        {"color", {{"color", "white"}}, false},
        {"unknown parent", {{"parent", "Lost Games"}}, false},
        {"unknown other", {{"other", "Lost Games"}}, false},
        {"known parent", {{"parent", "Selected Games"}}, true},
        {"FEN", {{"FEN", fen}}, true},
        {"FEN with a line end", {{"FEN", fen + "\r"}}, true},
        {"FEN without clocks", {{"FEN", noClocks}}, true},
        {"FEN with extra text", {{"FEN", fen + " and more"}}, false},
        {"FEN with a glued word", {{"FEN", fen + "x"}}, false},
        {"no FEN", {{"FEN", "not a position"}}, false},
        {"FEN board only", {{"FEN", "8/8/8/8/8/8/8/8"}}, false},
        {"every field",
         {{"parent", "Selected Games"}, {"other", "Selected Games"}, {"player", "Carlsen, Magnus"},
          {"event", "Tomsk"}, {"tag", "Opening"}, {"value", "Sicilian"}, {"min_date", "2012.6.??"},
          {"max_date", "2012.6.30"}, {"min_ECO", "A00"}, {"max_ECO", "E99/99"}, {"FEN", fen},
          {"rule", "Union"}, {"outcome", "Draw"}, {"color", "White"}}, true},
    };
    int n = 0;
    for (const auto& [title, fields, accepted] : cases) {
        GamesetDefinition d;
        EXPECT_EQ(gamesetDefinitionFromText(ruleOf(fields), d), accepted) << title;
        const std::uint32_t used = db->usedBytes;
        const DbOffset s = createFromText("case " + std::to_string(n++), fields);
        EXPECT_EQ(s != 0, accepted) << title;
        if (!accepted) {
            EXPECT_EQ(db->usedBytes, used) << title;
        } else {
            // The codes read back as their texts; the FEN comes back in the writer's form.
            GamesetRule back = describeGameset(s);
            back.fen = ruleOf(fields).fen;
            EXPECT_EQ(back, ruleOf(fields)) << title;
        }
    }
    EXPECT_EQ(at<Gameset>(createFromText("draw", {{"outcome", "Draw"}}))->outcome, 3);
}

} // namespace
} // namespace vez
