// Fuzz target: typed and imported move text, algebraic and descriptive, in positions where
// castling, en passant and promotion are all on the board.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "chess/fen.h"
#include "chess/notation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // White: castling both ways, e5xd6 en passant, b7 and g7 promote (also capturing).
    // Black: the mirror of it, with d4xe3 en passant.
    static const std::vector<vez::Position> positions = [] {
        std::vector<vez::Position> list(3);
        vez::setStandardStart(list[0]);
        if (!vez::readFen(list[1], "r3k2r/1P4P1/8/3pP3/8/8/1p4p1/R3K2R w KQkq d 0 1") ||
            !vez::readFen(list[2], "r3k2r/1P4P1/8/8/3pP3/8/1p4p1/R3K2R b KQkq e 0 1"))
            std::abort(); // a broken harness must not look like a clean run
        return list;
    }();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const vez::Position& pos : positions) {
        vez::Move move = vez::Move::None;
        bool legal = false;
        vez::MoveGlyph glyph = vez::MoveGlyph::None;
        if (vez::parseMove(pos, move, &legal, &glyph, text)) {
            vez::formatMove(pos, move, false, glyph, false);
            vez::formatMove(pos, move, false, glyph, true);
        }
        if (vez::parseDescriptive(pos, move, &legal, &glyph, text)) {
            vez::formatMove(pos, move, false, glyph, true);
            vez::formatMove(pos, move, true, glyph, false);
        }
        vez::parseMove(pos, move, nullptr, nullptr, text);
        vez::parseDescriptive(pos, move, nullptr, nullptr, text);
    }
    return 0;
}
