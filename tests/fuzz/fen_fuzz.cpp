// Fuzz target: FEN and EPD text as it comes from files, the clipboard and the server.
// Whatever the readers accept must survive writing and move generation.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "chess/fen.h"
#include "chess/movegen.h"

namespace {

bool oneKingPerSide(const vez::Position& pos)
{
    const auto kings = [&](int colour) {
        return std::count(std::begin(pos.squares), std::end(pos.squares),
                          vez::makePiece(vez::PieceType::King, colour));
    };
    return kings(vez::kWhite) == 1 && kings(vez::kBlack) == 1;
}

void exercise(const vez::Position& pos, int halfmoveClock, int moveNumber)
{
    vez::FenText text;
    vez::writeFen(pos, text, halfmoveClock, moveNumber, false);
    vez::writeFen(pos, text, 0, 0, true);
    if (!oneKingPerSide(pos))
        return;
    vez::MoveList list;
    const int count = vez::legalMoves(pos, list, false);
    for (int i = 0; i < count; ++i) {
        vez::Position next = pos;
        vez::makeMove(next, list[i]);
    }
    vez::generateMoves(pos, list, true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vez::Position pos;

    int halfmoveClock = 0, moveNumber = 0;
    if (vez::readFen(pos, text, &halfmoveClock, &moveNumber))
        exercise(pos, halfmoveClock, moveNumber);

    vez::PositionAnnotation annotation;
    if (vez::readEpd(pos, text, &annotation)) {
        const std::string epd = vez::writeEpd(pos, &annotation);
        vez::Position again;
        vez::readEpd(again, epd, nullptr);
        exercise(pos, 0, 1);
    }
    return 0;
}
