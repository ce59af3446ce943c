#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "interchange/game.h"
#include "store/games.h"
#include "store/gamesets.h"
#include "store/names.h"
#include "store_fixture.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

using testing::StoreTest;
using NamesTest = StoreTest;
using Numbers = std::vector<std::int32_t>;

TEST_F(NamesTest, DictionariesStoreEachTextOnceAndListInOrder)
{
    const DbOffset a = internString("Wijk aan Zee", Dictionary::Event);
    const DbOffset b = internString("Linares", Dictionary::Event);
    EXPECT_EQ(internString("Wijk aan Zee", Dictionary::Event), a);
    EXPECT_NE(internString("Wijk aan Zee", Dictionary::Site), a); // dictionaries are apart
    EXPECT_EQ(dictionaryText(a), "Wijk aan Zee");
    EXPECT_EQ(dictionaryText(b), "Linares");
    internString("", Dictionary::Event); // an empty text is an entry of its own
    internString("Dortmund", Dictionary::Event);
    std::vector<std::string> events;
    listDictionary(Dictionary::Event, events);
    EXPECT_EQ(events, (std::vector<std::string>{"", "Dortmund", "Linares", "Wijk aan Zee"}));

    // The reference is the text itself, 8 bytes into a record of length + 13 rounded to 4.
    const std::uint32_t used = db->usedBytes;
    const DbOffset c = internString("abc", Dictionary::General);
    EXPECT_EQ(std::string(at<char>(c)), "abc");
    EXPECT_LE(db->usedBytes, used + 8008 + 16);
}

TEST_F(NamesTest, OverlongTextsAreCutToFitAPool)
{
    const std::string huge(20000, 'x');
    const DbOffset t = internString(huge, Dictionary::General);
    EXPECT_EQ(dictionaryText(t).size(), kMaxDictionaryText);
    EXPECT_EQ(internString(huge, Dictionary::General), t);
    const DbOffset p = internPlayer(std::string(9000, 'L') + ", John");
    EXPECT_EQ(playerDisplayName(p).size(), kMaxPlayerLastName + 6);
}

TEST(PlayerNames, Normalization)
{
    using Row = std::pair<const char*, const char*>;
    const Row cases[] = {
        {"Doe, John", "Doe, John"}, {"John Doe", "Doe, John"}, {"Doe J", "Doe, J."},
        {"Doe J.", "Doe, J."}, {"Doe J. K.", "Doe, J. K."}, {"Kasparov, G", "Kasparov, G."},
        {"  Kasparov ,  Garry  ", "Kasparov, Garry"}, {"Carlsen", "Carlsen"},
        {"Carlsen (3)", "Carlsen"}, {"Deep_Blue Computer", "Deep_Blue Computer"},
        {"Fritz * 8", "Fritz * 8"}, {"Kasparov, .", "Kasparov"}, {"Kasparov, . G", "Kasparov, G."},
        {"Lasker, Emanuel .", "Lasker, Emanuel"},
        {"Doe, John  Paul   George", "Doe, John Paul George"},
        {"John Paul George Doe", "Doe, John Paul George"},
    };
    for (const auto& [written, normalized] : cases)
        EXPECT_EQ(normalizePlayerName(written), normalized) << written;

    const PlayerName split = splitPlayerName("Doe, John Paul");
    EXPECT_EQ(split.last + "|" + split.first + "|" + split.middle, "Doe|John|Paul");
    EXPECT_EQ(splitPlayerName("Carlsen").last, "Carlsen");
    EXPECT_EQ(splitPlayerName("Doe,John").first, "John");
}

TEST_F(NamesTest, PlayersMatchTheWaysANameIsWritten)
{
    const DbOffset p = internPlayer("Doe, John");
    for (const char* same : {"John Doe", "Doe J", "Doe, J."})
        EXPECT_EQ(internPlayer(same), p) << same;
    EXPECT_EQ(playerDisplayName(p), "Doe, John"); // the fullest first name stays

    const DbOffset q = internPlayer("Roe, J.");
    EXPECT_EQ(internPlayer("Roe, Jane"), q);
    EXPECT_EQ(playerDisplayName(q), "Roe, Jane"); // a longer form replaces the initial
    EXPECT_NE(internPlayer("Roe, Mary"), q);
    EXPECT_EQ(internPlayer(""), 0u);

    EXPECT_EQ(internPlayer("Doe J. K."), p); // Doe, J. matches John; the middle initial is added
    EXPECT_EQ(playerDisplayName(p), "Doe, John K.");

    std::vector<std::string> players;
    listPlayers(players);
    EXPECT_EQ(players, (std::vector<std::string>{"Doe, John K.", "Roe, Jane", "Roe, Mary"}));

    db->nameNormalizationOff = 1;
    const DbOffset a = internPlayer("Jim Doe");
    EXPECT_EQ(playerDisplayName(a), "Jim Doe");
    EXPECT_NE(internPlayer("Doe, Jim"), a);
}

// Names met again are answered from memory: always as the walk through the tree would
// answer, also once another name has refined a player on the way (here "Jim C." first goes
// left of "J. D.", and right of it once that is "Jane D."). The walks run in a second image,
// with another image used between them so that nothing is remembered.
TEST_F(NamesTest, NamesMetAgainFindWhatTheTreeFinds)
{
    const char* names[] = {"Smith, J. D", "Smith, Jim C", "Smith, Jim C", "Smith, Jane D",
                           "Smith, Jim C", "Smith, J. D", "Jones, Jim",   "Smith, Jim C"};
    DatabaseHeader* walked = createInMemory();
    DatabaseHeader* between = createInMemory();
    ASSERT_TRUE(walked && between);
    std::vector<std::string> remembered, found, rememberedList, foundList;
    setCurrentBase(db);
    for (const char* name : names)
        remembered.push_back(playerDisplayName(internPlayer(name)));
    listPlayers(rememberedList);
    for (const char* name : names) {
        setCurrentBase(between);
        internPlayer(name);
        setCurrentBase(walked);
        found.push_back(playerDisplayName(internPlayer(name)));
    }
    listPlayers(foundList);
    EXPECT_EQ(remembered, found);
    EXPECT_EQ(rememberedList, foundList);
    closeDatabase(walked);
    closeDatabase(between);
    setCurrentBase(db);
}

// An alias's games name the kept player, rule sets are evaluated again, hand-made sets
// keep their members, and the player list shows one name per ring.
TEST_F(NamesTest, AliasesReachGamesAndGamesets)
{
    std::vector<Game> games = test::readGames(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 6);
    ASSERT_EQ(games.size(), 6u);
    // Games 0 and 1 by the kept spelling, 2 and 3 by the alias, 4 and 5 by others.
    const char* whites[] = {"Kasparov, Garry", "Kasparov, Garry", "Kasparow, G.",
                            "Kasparow, G.",    "Karpov, Anatoly", "Short, Nigel"};
    for (std::size_t i = 0; i < games.size(); ++i) {
        games[i].white = whites[i];
        games[i].black = "Anand, Viswanathan";
        ASSERT_EQ(storeGame(games[i], false), std::optional<std::uint32_t>(i));
    }
    auto createSet = [](const char* name, std::string GamesetRule::*field, const char* value) {
        GamesetRule rule;
        rule.*field = value;
        return createGamesetFromText(name, rule);
    };
    const DbOffset aliasSet = createSet("By alias", &GamesetRule::player, "Kasparow, G.");
    const DbOffset keptSet = createSet("By kept", &GamesetRule::player, "Kasparov, Garry");
    const DbOffset childSet = createSet("Child of alias", &GamesetRule::parent, "By alias");
    const DbOffset handSet = createSet("Hand picked", &GamesetRule::rule, "Fixed");
    ASSERT_TRUE(aliasSet && keptSet && childSet && handSet);
    for (const std::int32_t n : {2, 5})
        addMember(handSet, n);
    EXPECT_EQ(members(aliasSet), (Numbers{2, 3}));
    EXPECT_EQ(members(keptSet), (Numbers{0, 1}));

    aliasPlayer("Kasparov, Garry", "Kasparow, G.");

    Game read;
    readGame(gameByNumber(3), read, false);
    EXPECT_EQ(read.white, "Kasparov, Garry");
    std::vector<std::string> players;
    listPlayers(players);
    EXPECT_EQ(players, (std::vector<std::string>{"Anand, Viswanathan", "Karpov, Anatoly",
                                                 "Kasparov, Garry", "Short, Nigel"}));
    // The rule that named the alias names the kept player now, and so do the sets on it.
    EXPECT_EQ(describeGameset(aliasSet).player, "Kasparov, Garry");
    const Numbers four = {0, 1, 2, 3};
    EXPECT_EQ(std::tuple(members(keptSet), members(aliasSet), members(childSet), members(handSet)),
              std::tuple(four, four, four, Numbers{2, 5}));

    // New games under the alias spelling land with the kept player.
    games[4].white = "Kasparow, G.";
    ASSERT_EQ(storeGame(games[4], false), std::optional<std::uint32_t>(6));
    EXPECT_EQ(members(keptSet), (Numbers{0, 1, 2, 3, 6}));

    // A third name joins the ring; aliasing two names of one ring again keeps it whole.
    aliasPlayer("Kasparov, Garry", "Kasparoff");
    aliasPlayer("Kasparov, Garry", "Kasparow, G.");
    EXPECT_EQ(playerDisplayName(internPlayer("Kasparoff")), "Kasparov, Garry");
    const DbOffset kept = internPlayer("Kasparov, Garry");
    int ring = 1;
    for (DbOffset q = at<Player>(kept)->nextAlias; q != kept && ring < 10;
         q = at<Player>(q)->nextAlias)
        ++ring;
    EXPECT_EQ(ring, 3);
    EXPECT_EQ(std::tuple(members(aliasSet), members(handSet)),
              std::tuple(Numbers{0, 1, 2, 3, 6}, Numbers{2, 5}));
}

} // namespace
} // namespace vez
