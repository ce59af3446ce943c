// FEN and EPD text. The en-passant field is the file letter alone ("e", not "e3").
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "chess/position.h"

namespace vez {

// A position's annotation as exchanged with EPD text.
struct PositionAnnotation {
    std::int32_t score = kNoScore; // White's point of view
    std::string note;              // lines separated by "\r\n"
    std::int32_t userNotation = 0; // EPD operation "U"
    std::int32_t flashcard = 0;    // EPD operation "F"
};

using FenText = std::array<char, 128>;

// Writes FEN into out (NUL-terminated) and returns its length. With epd set the text
// ends after the fourth field.
int writeFen(const Position& pos, FenText& out, int halfmoveClock, int moveNumber, bool epd);
std::string writeFen(const Position& pos, int halfmoveClock, int moveNumber, bool epd = false);

// Reads FEN fields starting at cursor and leaves cursor where reading stopped, so that
// EPD operations can follow. Fills pos from all zeros; the numbers are 0 when absent.
// Nothing checks that the position is playable.
bool readFen(Position& pos, std::string_view text, std::size_t& cursor,
             int* halfmoveClock = nullptr, int* moveNumber = nullptr);
bool readFen(Position& pos, std::string_view text, int* halfmoveClock = nullptr,
             int* moveNumber = nullptr);

// The four FEN fields followed by the EPD operations for the annotation.
std::string writeEpd(const Position& pos, const PositionAnnotation* annotation = nullptr);

// Reads a whole EPD line; the annotation, when given, receives F, U, ce and the
// c<n> note lines (in the order they stand).
bool readEpd(Position& pos, std::string_view text, PositionAnnotation* annotation = nullptr);

} // namespace vez
