// Move generation speed: leaf positions per second of legalMoves, counted in bulk at
// the last ply (the legal count of a position is its number of leaves).
#include <benchmark/benchmark.h>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/position.h"

namespace {

using namespace vez;

long long perft(const Position& pos, int depth)
{
    MoveList list;
    const int n = legalMoves(pos, list, false);
    if (depth == 1)
        return n;
    long long total = 0;
    for (int i = 0; i < n; ++i) {
        Position next = pos;
        makeMove(next, list[i]);
        total += perft(next, depth - 1);
    }
    return total;
}

void runPerft(benchmark::State& state, const char* fen, int depth, long long expected)
{
    Position pos;
    if (!readFen(pos, fen)) {
        state.SkipWithError("bad FEN");
        return;
    }
    long long leaves = 0;
    for (auto _ : state) {
        leaves = perft(pos, depth);
        benchmark::DoNotOptimize(leaves);
    }
    if (leaves != expected)
        state.SkipWithError("wrong leaf count");
    state.SetItemsProcessed(state.iterations() * leaves);
    state.counters["leaves"] = double(leaves);
}

void BM_PerftStart5(benchmark::State& state)
{
    runPerft(state, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 5, 4865609);
}
BENCHMARK(BM_PerftStart5)->Unit(benchmark::kMillisecond);

void BM_PerftMiddlegame4(benchmark::State& state)
{
    // Castling both ways, pins, en passant and promotions within four plies.
    runPerft(state, "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 4,
             4085603);
}
BENCHMARK(BM_PerftMiddlegame4)->Unit(benchmark::kMillisecond);

} // namespace
