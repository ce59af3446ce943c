// Player aliases reach the games and the gamesets: the alias's games name the kept player,
// rule sets are evaluated again, hand-made sets keep their members.
#include <gtest/gtest.h>

#include <string>
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
using AliasTest = StoreTest;
using Numbers = std::vector<std::int32_t>;

TEST_F(AliasTest, GamesAndGamesetsFollowTheKeptName)
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
    ASSERT_NE(aliasSet, 0u);
    ASSERT_NE(keptSet, 0u);
    ASSERT_NE(childSet, 0u);
    ASSERT_NE(handSet, 0u);
    addMember(handSet, 2);
    addMember(handSet, 5);
    EXPECT_EQ(members(aliasSet), (Numbers{2, 3}));
    EXPECT_EQ(members(keptSet), (Numbers{0, 1}));

    aliasPlayer("Kasparov, Garry", "Kasparow, G.");

    Game read;
    readGame(gameByNumber(3), read, false);
    EXPECT_EQ(read.white, "Kasparov, Garry");
    EXPECT_EQ(members(keptSet), (Numbers{0, 1, 2, 3}));
    // The rule that named the alias names the kept player now, and so do the sets on it.
    EXPECT_EQ(describeGameset(aliasSet).player, "Kasparov, Garry");
    EXPECT_EQ(members(aliasSet), (Numbers{0, 1, 2, 3}));
    EXPECT_EQ(members(childSet), (Numbers{0, 1, 2, 3}));
    EXPECT_EQ(members(handSet), (Numbers{2, 5}));

    // New games under the alias spelling land with the kept player.
    games[4].white = "Kasparow, G.";
    ASSERT_EQ(storeGame(games[4], false), std::optional<std::uint32_t>(6));
    EXPECT_EQ(members(keptSet), (Numbers{0, 1, 2, 3, 6}));

    // Aliasing again within one ring changes nothing.
    aliasPlayer("Kasparov, Garry", "Kasparow, G.");
    EXPECT_EQ(members(aliasSet), (Numbers{0, 1, 2, 3, 6}));
    EXPECT_EQ(members(handSet), (Numbers{2, 5}));
}

} // namespace
} // namespace vez
