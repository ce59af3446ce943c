// Storing a large real PGN file into a new file-backed database, and what a user then asks
// of it: the counts of a position and the games through it, at the start and deeper.
// VEZ_BENCH_GAMES limits the number of games (default: the whole file).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cpu_time.h"
#include "najdorf_line.h"
#include "chess/notation.h"
#include "interchange/game.h"
#include "interchange/pgn_reader.h"
#include "interchange/pgn_source.h"
#include "store/database.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/position_index.h"
#include "support/pgn_games.h"

namespace {

using namespace vez;
using Clock = std::chrono::steady_clock;

// CPU time of this thread: the figures stay comparable on a machine busy with other work.
using bench::cpuSeconds;

struct Imported {
    bool ok = false;
    std::size_t games = 0;
    std::size_t refused = 0;
    double storeSeconds = 0; // CPU time in storeGame
    double totalSeconds = 0; // CPU time reading and storing
    double wallSeconds = 0;
    std::uint64_t bytes = 0;
    DatabaseHeader* db = nullptr;
    std::string path;
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A new database file: an empty image written out and mapped back.
DatabaseHeader* createFile(const std::string& path)
{
    DatabaseHeader* memory = createInMemory();
    if (!memory || !writeToFile(path))
        return nullptr;
    closeDatabase(memory);
    return openMapped(path, 64u << 20);
}

std::string databasePath; // set once a database file exists

const Imported& imported()
{
    static Imported result = [] {
        Imported r;
        const char* limit = std::getenv("VEZ_BENCH_GAMES");
        const std::size_t maxGames = limit ? std::strtoul(limit, nullptr, 10) : ~std::size_t(0);
        r.path = (std::filesystem::temp_directory_path() /
                  ("vez-store-bench-" + std::to_string(::getpid()) + ".vez"))
                     .string();
        PgnSource source;
        if (!source.openFile(VEZ_CORPUS_DIR "/games-large.pgn"))
            return r;
        r.db = createFile(r.path);
        if (!r.db)
            return r;
        databasePath = r.path;
        // As an import does: the index sized once for some ten bytes of PGN per position.
        std::error_code error;
        reservePositionIndex(std::filesystem::file_size(VEZ_CORPUS_DIR "/games-large.pgn", error) / 10);
        const Clock::time_point start = Clock::now();
        const double cpuStart = cpuSeconds();
        double storing = 0;
        Game game;
        while (r.games < maxGames && test::nextReadableGame(source, game, false, &r.refused)) {
            // Room for the next game, as an import claims it: re-mapped only now and then.
            if (roomOf(r.db) < (4u << 20))
                ensureRoom(r.db, r.path, 64u << 20, 1);
            const double t = cpuSeconds();
            if (storeGame(game, false))
                ++r.games;
            else
                ++r.refused;
            storing += cpuSeconds() - t;
        }
        r.storeSeconds = storing;
        r.totalSeconds = cpuSeconds() - cpuStart;
        r.wallSeconds = seconds(Clock::now() - start);
        r.bytes = r.db->usedBytes;
        r.ok = r.games > 0;
        return r;
    }();
    return result;
}

void BM_StoreGamesLarge(benchmark::State& state)
{
    const Imported& r = imported();
    if (!r.ok) {
        state.SkipWithError("corpus not present");
        return;
    }
    for (auto _ : state)
        state.SetIterationTime(r.storeSeconds);
    state.counters["games"] = double(r.games);
    state.counters["refused"] = double(r.refused);
    state.counters["store games/s"] = double(r.games) / r.storeSeconds;
    state.counters["read+store games/s"] = double(r.games) / r.totalSeconds;
    state.counters["wall s"] = r.wallSeconds;
    state.counters["bytes/game"] = double(r.bytes) / double(r.games);
    if (const PositionIndex* index = builtPositionIndex())
        state.counters["index MB"] = double(index->memoryBytes()) / (1 << 20);
}
BENCHMARK(BM_StoreGamesLarge)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Re-opening the file and building the position index again, as the first lookup does.
void BM_ReopenAndIndex(benchmark::State& state)
{
    const Imported& r = imported();
    if (!r.ok) {
        state.SkipWithError("corpus not present");
        return;
    }
    for (auto _ : state) {
        DatabaseHeader*& db = const_cast<Imported&>(r).db;
        closeDatabase(db);
        db = openMapped(r.path, 0);
        benchmark::DoNotOptimize(currentPositionIndex());
    }
    if (const PositionIndex* index = builtPositionIndex())
        state.counters["positions"] = double(index->size());
}
BENCHMARK(BM_ReopenAndIndex)->Iterations(1)->Unit(benchmark::kMillisecond);

using bench::positionAtPly;

void BM_PositionCounts(benchmark::State& state)
{
    const Imported& r = imported();
    if (!r.ok) {
        state.SkipWithError("corpus not present");
        return;
    }
    const Position pos = positionAtPly(int(state.range(0)));
    PositionCounts counts{};
    for (auto _ : state)
        benchmark::DoNotOptimize(counts = positionCounts(pos));
    state.counters["games"] = double(counts.games);
}
BENCHMARK(BM_PositionCounts)->Arg(0)->Arg(5)->Arg(10)->Arg(20);

void BM_FindGamesThrough(benchmark::State& state)
{
    const Imported& r = imported();
    if (!r.ok) {
        state.SkipWithError("corpus not present");
        return;
    }
    const DbOffset record = findPosition(positionAtPly(int(state.range(0))));
    std::size_t found = 0;
    for (auto _ : state) {
        found = 0;
        findGamesThrough(record, [&](std::uint32_t) { ++found; });
    }
    state.counters["games"] = double(found);
}
BENCHMARK(BM_FindGamesThrough)->Arg(0)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);

// Removes the database file when the benchmarks are done.
struct Cleanup {
    ~Cleanup()
    {
        if (!databasePath.empty())
            std::filesystem::remove(databasePath);
    }
} cleanup;

} // namespace
