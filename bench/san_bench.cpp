// Move text over real games: reading the SAN of every main-line move (what every PGN
// import does) and writing it back (what every PGN export does).

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "support/movetext.h"
#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/notation.h"

namespace {

constexpr int kGames = 3000;

// One main-line move as recorded, with the position it was played in.
struct Ply {
    vez::Position pos;
    std::string san;
    vez::Move move;
};

// The plies of the first games of the large corpus, replayed once with the parser.
const std::vector<Ply>& corpusPlies()
{
    static const std::vector<Ply> plies = [] {
        std::vector<Ply> list;
        const auto text = vez::test::readTextFile(VEZ_CORPUS_DIR "/games-large.pgn", 16u << 20);
        if (!text)
            return list;
        vez::test::PgnMovetextReader reader(*text);
        vez::test::PgnGame game;
        for (int games = 0; games < kGames && reader.next(game); ++games) {
            vez::Position pos;
            if (!vez::readFen(pos, game.fen))
                continue;
            for (const std::string& san : game.moves) {
                vez::Move move = vez::Move::None;
                if (!vez::parseMove(pos, move, nullptr, nullptr, san))
                    break;
                list.push_back({pos, san, move});
                vez::makeMove(pos, move);
            }
        }
        return list;
    }();
    return plies;
}

void parseSan(benchmark::State& state)
{
    const std::vector<Ply>& plies = corpusPlies();
    if (plies.empty()) {
        state.SkipWithError("no games: " VEZ_CORPUS_DIR "/games-large.pgn is missing");
        return;
    }
    std::size_t next = 0;
    vez::Move move = vez::Move::None;
    for (auto _ : state) {
        const Ply& ply = plies[next];
        next = next + 1 == plies.size() ? 0 : next + 1;
        if (!vez::parseMove(ply.pos, move, nullptr, nullptr, ply.san)) {
            state.SkipWithError(("refused: " + ply.san).c_str());
            return;
        }
        benchmark::DoNotOptimize(move);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["plies"] = static_cast<double>(plies.size());
}
BENCHMARK(parseSan);

// Writing includes the legal list the caller computes first, as the PGN writer does.
void formatSanWithList(benchmark::State& state)
{
    const std::vector<Ply>& plies = corpusPlies();
    if (plies.empty()) {
        state.SkipWithError("no games: " VEZ_CORPUS_DIR "/games-large.pgn is missing");
        return;
    }
    std::size_t next = 0;
    vez::MoveList list;
    vez::MoveText text;
    for (auto _ : state) {
        const Ply& ply = plies[next];
        next = next + 1 == plies.size() ? 0 : next + 1;
        const int count = vez::legalMoves(ply.pos, list, false);
        benchmark::DoNotOptimize(
            vez::formatSan(ply.pos, text, ply.move, list, count, vez::MoveGlyph::None));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(formatSanWithList);

} // namespace
