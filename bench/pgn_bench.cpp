// PGN reading (every move checked against the rules of a standard database), reading with the
// preparation an import adds, and writing over the 103 MB, 150,175-game corpus file: bytes and
// games per second.
//
// To compare with pgn-extract on the same machine, in the same session:
//   time pgn-extract -s -o /dev/null ../shared/corpus/games-large.pgn

#include <filesystem>
#include <fstream>
#include <vector>

#include <benchmark/benchmark.h>

#include "interchange/pgn_reader.h"
#include "interchange/pgn_writer.h"
#include "store/prepared_game.h"

namespace {

using namespace vez;

constexpr const char* kLargeFile = VEZ_CORPUS_DIR "/games-large.pgn";

bool openLarge(benchmark::State& state, PgnSource& source)
{
    if (source.openFile(kLargeFile))
        return true;
    state.SkipWithError("no games: " VEZ_CORPUS_DIR "/games-large.pgn is missing");
    return false;
}

// Reads the games of the source (at most maxGames), handing each to `onGame`; returns the
// number read. openings: the opening moves kept from game to game, as an import keeps them.
template <class OnGame>
long readAll(PgnSource& source, OnGame onGame, long maxGames = 1L << 40,
             OpeningMoves* openings = nullptr)
{
    Game game;
    long games = 0;
    while (games < maxGames) {
        game.clear();
        try {
            if (!readPgnGame(game, source, false, openings))
                return games;
            ++games;
            onGame(game);
        } catch (const PGNGameException&) {
            source.rewindToMark();
            source.skipGame();
        }
    }
    return games;
}

void report(benchmark::State& state, long games, std::uintmax_t bytes)
{
    state.SetItemsProcessed(state.iterations() * games);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
    state.counters["games"] = static_cast<double>(games);
}

// Reading alone; and what an import's reading thread does, each game read and then prepared
// for storing (every position packed and hashed, the move codes of long games worked out).
void BM_PgnReadLargeFile(benchmark::State& state, bool prepare)
{
    long games = 0;
    for (auto _ : state) {
        PgnSource source;
        if (!openLarge(state, source))
            return;
        PreparedGame prepared;
        OpeningMoves openings(4096);
        games = readAll(
            source,
            [&](Game& game) {
                if (prepare)
                    prepared.prepare(game, StoreSettings{});
            },
            1L << 40, prepare ? &openings : nullptr);
    }
    report(state, games, std::filesystem::file_size(kLargeFile));
}
BENCHMARK_CAPTURE(BM_PgnReadLargeFile, read, false)
    ->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK_CAPTURE(BM_PgnReadLargeFile, prepare, true)
    ->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

// What "pgn-extract -o /dev/null" does: read each game and write it out again.
void BM_PgnReadWriteLargeFile(benchmark::State& state)
{
    long games = 0;
    for (auto _ : state) {
        PgnSource source;
        if (!openLarge(state, source))
            return;
        std::ofstream out("/dev/null", std::ios::binary);
        PgnSink sink(out);
        games = readAll(source, [&](Game& game) { writeGame(game, sink, false); });
    }
    report(state, games, std::filesystem::file_size(kLargeFile));
}
BENCHMARK(BM_PgnReadWriteLargeFile)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

// Writing alone: the first 20,000 games, held in memory, written to a text.
void BM_PgnWrite(benchmark::State& state)
{
    std::vector<Game> games;
    PgnSource source;
    if (!openLarge(state, source))
        return;
    readAll(
        source, [&](Game& game) { games.push_back(std::move(game)); }, 20000);
    std::size_t bytes = 0;
    for (auto _ : state) {
        PgnSink sink;
        for (const Game& game : games)
            writeGame(game, sink, false);
        bytes = sink.text().size();
        benchmark::DoNotOptimize(sink.text().data());
    }
    report(state, static_cast<long>(games.size()), bytes);
}
BENCHMARK(BM_PgnWrite)->Unit(benchmark::kMillisecond);

} // namespace
