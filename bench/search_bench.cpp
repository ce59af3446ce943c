// The games through a position, searched in a database file that exists already: faster
// to repeat than the store benchmark, which first stores the whole corpus. The file is
// named by VEZ_BENCH_DATABASE (the benchmarks skip without it); it is opened read and
// write, so name a copy.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "cpu_time.h"
#include "najdorf_line.h"
#include "chess/notation.h"
#include "store/database.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/heap.h"

namespace {

using namespace vez;

using bench::cpuSeconds;

struct Opened {
    DatabaseHeader* db = nullptr;
    double indexSeconds = 0; // CPU time of the first lookup, which builds the position index
};

const Opened& opened()
{
    static Opened result = [] {
        Opened r;
        const char* path = std::getenv("VEZ_BENCH_DATABASE");
        if (path == nullptr || (r.db = openMapped(path, 0)) == nullptr)
            return r;
        Position start;
        setStandardStart(start);
        const double t = cpuSeconds();
        benchmark::DoNotOptimize(findPosition(start));
        r.indexSeconds = cpuSeconds() - t;
        return r;
    }();
    return result;
}

using bench::positionAtPly;

// The known moves of a position with the counts of each, as the known-moves list shows
// them, first thing after opening (argument: the ply along the English Attack; each
// position is looked up here for the first time).
void BM_FirstKnownMovesInFile(benchmark::State& state)
{
    const Opened& r = opened();
    if (r.db == nullptr) {
        state.SkipWithError("VEZ_BENCH_DATABASE names no database");
        return;
    }
    const Position pos = positionAtPly(int(state.range(0)));
    std::size_t moves = 0;
    for (auto _ : state) {
        moves = 0;
        const DbOffset record = findPosition(pos);
        for (const GraphEdge& edge : record != 0 ? successorMoves(record) : std::vector<GraphEdge>{}) {
            Position next = pos;
            makeMove(next, edge.move);
            benchmark::DoNotOptimize(positionCounts(next));
            ++moves;
        }
    }
    state.counters["moves"] = double(moves);
}
BENCHMARK(BM_FirstKnownMovesInFile)
    ->Arg(5)
    ->Arg(10)
    ->Arg(20)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

// The first search through the Najdorf after opening (by the automatic choice, which
// walks), with the time the position index took.
void BM_FirstSearchInFile(benchmark::State& state)
{
    const Opened& r = opened();
    if (r.db == nullptr) {
        state.SkipWithError("VEZ_BENCH_DATABASE names no database");
        return;
    }
    const DbOffset record = findPosition(positionAtPly(10));
    for (auto _ : state)
        findGamesThrough(record, [](std::uint32_t) {});
    state.counters["position index s"] = r.indexSeconds;
}
BENCHMARK(BM_FirstSearchInFile)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

// The search's index built again from scratch, with a search through the Najdorf: the
// time and memory the index costs.
void BM_SearchIndexBuild(benchmark::State& state)
{
    const Opened& r = opened();
    if (r.db == nullptr) {
        state.SkipWithError("VEZ_BENCH_DATABASE names no database");
        return;
    }
    const DbOffset record = findPosition(positionAtPly(10));
    setGameSearchMode(GameSearchMode::IndexOnly);
    for (auto _ : state) {
        // A record taken and given back: the index must be built again.
        releaseRecord(RecordKind::DisambiguationRecord,
                      allocateRecord(RecordKind::DisambiguationRecord));
        findGamesThrough(record, [](std::uint32_t) {});
    }
    setGameSearchMode(GameSearchMode::Automatic);
    state.counters["index MB"] = double(gameSearchIndexBytes()) / (1 << 20);
}
BENCHMARK(BM_SearchIndexBuild)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// Arguments: the ply along the English Attack, and the way (0 automatic, 1 the walk only,
// 2 the index only).
void BM_FindGamesThroughInFile(benchmark::State& state)
{
    const Opened& r = opened();
    if (r.db == nullptr) {
        state.SkipWithError("VEZ_BENCH_DATABASE names no database");
        return;
    }
    setGameSearchMode(GameSearchMode(state.range(1)));
    const DbOffset record = findPosition(positionAtPly(int(state.range(0))));
    std::size_t found = 0;
    for (auto _ : state) {
        found = 0;
        findGamesThrough(record, [&](std::uint32_t) { ++found; });
    }
    setGameSearchMode(GameSearchMode::Automatic);
    state.counters["games"] = double(found);
}
BENCHMARK(BM_FindGamesThroughInFile)
    ->ArgsProduct({{0, 5, 10, 20}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

} // namespace
