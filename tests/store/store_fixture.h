// A fresh in-memory database per test, with the store's messages captured, and games of
// new positions.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "chess/movegen.h"
#include "interchange/game.h"

#include "store/database.h"
#include "store/games.h"
#include "store/messages.h"
#include "store/position_index.h"
#include "support/board.h"

namespace vez::testing {

class CapturedMessages final : public UserMessages {
public:
    void showMessage(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setStoreMessages(&messages);
        // Every graph operation keeps a built index up to date: build it at once, so that
        // the tests go through that as well as through the chains.
        setPositionIndexBuilding(IndexBuilding::OnFirstLookup);
        db = createInMemory();
        ASSERT_NE(db, nullptr);
    }
    void TearDown() override
    {
        closeDatabase(db);
        setPositionIndexBuilding(IndexBuilding::WhenWorthIt);
        setStoreMessages(nullptr);
    }

    CapturedMessages messages;
    DatabaseHeader* db = nullptr;
};

} // namespace vez::testing

namespace vez::test {

inline Position standardStart()
{
    Position pos;
    setStandardStart(pos);
    return pos;
}

// A line's moves, without what branches off them.
inline std::vector<Move> movesOf(const GameLine& line)
{
    std::vector<Move> moves;
    for (const MoveEntry& e : line.entries)
        moves.push_back(e.move);
    return moves;
}

// The games through a position, found the given way.
inline std::vector<std::uint32_t> gamesThrough(DbOffset position,
                                               GameSearchMode mode = GameSearchMode::Automatic)
{
    std::vector<std::uint32_t> found;
    setGameSearchMode(mode);
    findGamesThrough(position, [&](std::uint32_t n) { found.push_back(n); });
    setGameSearchMode(GameSearchMode::Automatic);
    return found;
}

// A game of many plies whose positions are all new: kings walking with rooks.
inline Game longGame(std::uint32_t seed, int plies, const Game* prefix = nullptr,
                     int prefixPlies = 0)
{
    Game game;
    readFen(game.startPosition, "1r2k3/8/8/8/8/8/8/1R2K3 w - -");
    Position pos = game.startPosition;
    std::set<std::string> seen{writeEpd(pos)};
    for (int i = 0; i < prefixPlies && prefix; ++i) {
        game.append(prefix->entries[std::size_t(i)].move);
        makeMove(pos, prefix->entries[std::size_t(i)].move);
        seen.insert(writeEpd(pos));
    }
    std::mt19937 rng(seed);
    while (int(game.entries.size()) < plies) {
        MoveList list;
        const int n = legalMoves(pos, list, false);
        std::shuffle(list.begin(), list.begin() + n, rng);
        bool moved = false;
        for (int i = 0; i < n && !moved; ++i) {
            Position next = pos;
            makeMove(next, list[std::size_t(i)]);
            if (seen.insert(writeEpd(next)).second) {
                game.append(list[std::size_t(i)]);
                pos = next;
                moved = true;
            }
        }
        if (!moved)
            break;
    }
    return game;
}

} // namespace vez::test
