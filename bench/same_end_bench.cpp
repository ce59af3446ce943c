// Storing many games that end in the same position, as real files hold thousands of
// forfeits, short draws and miniatures: the time per game must not grow with their number.
// Compare the games/s of the 20,000 and 80,000 runs; they should be about the same.
#include <benchmark/benchmark.h>

#include <ctime>
#include <string>

#include "cpu_time.h"
#include "chess/notation.h"
#include "interchange/game.h"
#include "store/database.h"
#include "store/games.h"

namespace {

using namespace vez;

using bench::cpuSeconds;

// Game i of a kind: a forfeit without moves, or the same four-move mate, between players
// met once each, so that no two games are duplicates.
Game gameOf(int kind, int i)
{
    Game game;
    game.clear();
    game.white = "White " + std::to_string(i);
    game.black = "Black " + std::to_string(i % 997);
    game.event = "Blitz " + std::to_string(i / 100);
    game.result = kind == 0 ? 1 : 2;
    if (kind == 1) {
        Position pos = game.startPosition;
        for (const char* san : {"f3", "e5", "g4", "Qh4#"}) {
            Move move{};
            parseMove(pos, move, nullptr, nullptr, san);
            game.append(move);
            makeMove(pos, move);
        }
    }
    return game;
}

void BM_GamesEndingAlike(benchmark::State& state)
{
    const int kind = int(state.range(0));
    const int count = int(state.range(1));
    double stored = 0;
    for (auto _ : state) {
        DatabaseHeader* db = createInMemory();
        if (!db) {
            state.SkipWithError("no database");
            return;
        }
        const double start = cpuSeconds();
        for (int i = 0; i < count; ++i) {
            const Game game = gameOf(kind, i);
            if (!storeGame(game, true))
                state.SkipWithError("a game was not stored");
        }
        stored += cpuSeconds() - start;
        closeDatabase(db);
    }
    state.counters["games/s"] = double(count) * double(state.iterations()) / stored;
    state.SetItemsProcessed(std::int64_t(count) * state.iterations());
}
// Forfeits (kind 0) and the same mate (kind 1), 20,000 and 80,000 of them.
BENCHMARK(BM_GamesEndingAlike)
    ->Args({0, 20000})
    ->Args({0, 80000})
    ->Args({1, 20000})
    ->Args({1, 80000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
