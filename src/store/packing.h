// The canonical 24-byte key of a position, its hashes, and the one-byte score code.
#pragma once

#include <cstdint>
#include <cstring>

#include "chess/position.h"

namespace vez {

// Bytes 0..7: occupancy, byte f has bit r set when square r * 8 + f is occupied.
// Bytes 8..23: a 4-bit code per occupied square in square order (high nibble first):
// colour bit 8 plus 1..6 the piece type, 7 a rook on its corner while that wing may still
// castle, 0 a pawn of the side not to move marked to carry the side to move and the
// en-passant state; when no pawn is marked, one extra code after the last piece names
// the side not to move.
struct PackedPosition {
    std::uint8_t bytes[24] = {};

    friend bool operator==(const PackedPosition& a, const PackedPosition& b)
    {
        return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
    }
};
static_assert(sizeof(PackedPosition) == 24);

// False when the position needs a 33rd code (32 pieces and no pawn to mark): such a
// position cannot be stored, and out is left unspecified.
bool packPosition(const Position& pos, PackedPosition& out);
// packPosition without the vector instructions and the bit-gathering instructions of newer
// processors, which it uses where the processor has them. Both give the same keys.
bool packPositionPortably(const Position& pos, PackedPosition& out);
// Whether packPosition would succeed, without packing when fewer than 32 pieces stand.
bool packable(const Position& pos);
void unpackPosition(const PackedPosition& key, Position& pos);

std::uint16_t primaryHash(const PackedPosition& key);
std::uint8_t secondaryCode(const PackedPosition& key);

// Scores are centipawns from White's side, kept in one byte on a big record with
// precision falling off as they grow; 0x80 means none.
std::uint8_t encodeScore(std::int32_t value);
std::int32_t decodeScore(std::uint8_t code);

} // namespace vez
