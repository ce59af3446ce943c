// FEN reading and writing over real test positions.

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "chess/fen.h"

namespace {

// The four position fields of an EPD line in this system's FEN dialect: the operations are
// cut off and a standard en-passant square ("e3") becomes its file letter ("e").
std::string dialectFen(const std::string& line)
{
    std::istringstream fields(line);
    std::string board, side, castling, enPassant;
    fields >> board >> side >> castling >> enPassant;
    if (enPassant.size() == 2)
        enPassant.pop_back();
    return board + ' ' + side + ' ' + castling + ' ' + enPassant;
}

std::vector<std::string> loadCorpusPositions()
{
    std::vector<std::string> fens;
    std::ifstream in(VEZ_CORPUS_DIR "/positions.epd");
    std::string line;
    while (std::getline(in, line))
        fens.push_back(dialectFen(line));
    return fens;
}

void fenRoundTrip(benchmark::State& state)
{
    const std::vector<std::string> fens = loadCorpusPositions();
    if (fens.empty()) {
        state.SkipWithError("no positions: " VEZ_CORPUS_DIR "/positions.epd is missing");
        return;
    }
    vez::Position pos;
    vez::FenText text;
    std::size_t next = 0;
    for (auto _ : state) {
        const std::string& fen = fens[next];
        next = next + 1 == fens.size() ? 0 : next + 1;
        if (!vez::readFen(pos, fen)) {
            state.SkipWithError(("refused: " + fen).c_str());
            return;
        }
        benchmark::DoNotOptimize(vez::writeFen(pos, text, 0, 1, false));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(fenRoundTrip);

} // namespace
