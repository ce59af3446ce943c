// Position lookups in a graph built from real games, and the bytes each position costs.
// VEZ_BENCH_GAMES sets how many games of the corpus build the graph (default 40,000).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>

#include "interchange/game.h"
#include "store/database.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/packing.h"
#include "support/pgn_games.h"

namespace {

using namespace vez;

struct BuiltGraph {
    DatabaseHeader* db = nullptr;
    std::vector<Position> sample; // positions known to be in the graph
    std::vector<Position> absent; // positions that are not
    std::size_t games = 0;
    std::size_t records = 0;
    bool ok = false;
};

std::size_t countRecords()
{
    std::size_t n = 0;
    for (std::uint32_t slot = 0; slot < kHashSlots; ++slot) {
        for (DbOffset r = hashSlot(std::uint16_t(slot)); r != 0;
             r = at<PositionRecord>(r)->nextInChain)
            ++n;
    }
    return n;
}

const BuiltGraph& graph()
{
    static BuiltGraph g = [] {
        BuiltGraph built;
        const char* env = std::getenv("VEZ_BENCH_GAMES");
        const std::size_t maxGames = env ? std::strtoul(env, nullptr, 10) : 40000;
        const std::vector<Game> games =
            test::readGames(VEZ_CORPUS_DIR "/games-large.pgn", maxGames);
        if (games.empty())
            return built;
        built.db = createInMemory();
        std::mt19937 rng(1);
        for (const Game& game : games) {
            if (!storeGame(game, false) || game.entries.empty())
                continue;
            Position p = game.startPosition;
            const std::size_t plies = rng() % (game.entries.size() + 1);
            for (std::size_t i = 0; i < plies && i < 100; ++i)
                makeMove(p, game.entries[i].move);
            built.sample.push_back(p);
            Position q = p; // the same board with the other side to move is (almost) never known
            q.sideToMove ^= 1;
            q.enPassant = 0;
            if (findPosition(q) == 0)
                built.absent.push_back(q);
        }
        built.games = games.size();
        built.records = countRecords();
        built.ok = true;
        return built;
    }();
    return g;
}

void reportSize(benchmark::State& state, const BuiltGraph& g)
{
    state.counters["games"] = double(g.games);
    state.counters["positions"] = double(g.records);
    state.counters["bytes/position"] = double(g.db->usedBytes) / double(g.records);
}

void BM_FindKnownPosition(benchmark::State& state)
{
    const BuiltGraph& g = graph();
    if (!g.ok) {
        state.SkipWithError("corpus not present");
        return;
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(findPosition(g.sample[i]));
        i = i + 1 == g.sample.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
    reportSize(state, g);
}
BENCHMARK(BM_FindKnownPosition);

void BM_FindAbsentPosition(benchmark::State& state)
{
    const BuiltGraph& g = graph();
    if (!g.ok || g.absent.empty()) {
        state.SkipWithError("corpus not present");
        return;
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(findPosition(g.absent[i]));
        i = i + 1 == g.absent.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindAbsentPosition);

void BM_PackPosition(benchmark::State& state)
{
    const BuiltGraph& g = graph();
    if (!g.ok || g.sample.empty()) {
        state.SkipWithError("corpus not present");
        return;
    }
    std::size_t i = 0;
    PackedPosition key;
    for (auto _ : state) {
        benchmark::DoNotOptimize(packPosition(g.sample[i], key));
        benchmark::DoNotOptimize(key);
        i = i + 1 == g.sample.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PackPosition);

} // namespace
