// What storing a game can work out from the game alone, without the database: every
// position of every line with its packed key and hashes, and the move codes a compressed
// tail would hold. It touches no image, so an import works it out on its reading thread
// while the document's thread stores the games before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "chess/position.h"
#include "store/packing.h"
#include "store/records.h"

namespace vez {

struct Game;
struct GameLine;

// What looking a position of a line up needs: its key and hashes. The storing passes over
// these again and again, so the positions themselves, seldom needed there, are kept apart.
struct PlannedStep {
    PackedPosition key;
    std::uint16_t hash = 0;
    std::uint8_t code = 0;
    bool repeated = false;       // another position of the line has the same hashes
    std::uint64_t indexHash = 0; // where the in-memory position index places the key
};

// Works out the positions after each of moves from start (positions[i] after i moves) and
// their steps, and marks repeated ones; false when a position cannot be packed (the steps
// are then incomplete).
bool planSteps(const Position& start, const Move* moves, std::size_t count,
               std::vector<PlannedStep>& steps, std::vector<Position>& positions);

struct PlannedLine {
    const GameLine* line = nullptr;
    std::vector<PlannedStep> steps; // steps[i]: after i of the line's moves
    std::vector<Position> positions; // of steps[i]
    // For each move i from codesFrom on: 1 + its place among the legal moves of steps[i],
    // 0 when it has none that fits a byte.
    std::vector<std::uint8_t> moveCodes;
    std::size_t codesFrom = 0;
};

// How the database stores: the settings a preparation depends on.
struct StoreSettings {
    int compressionThresholdPly = 100;
    bool nonstandard = false;
};

// The open database's settings.
StoreSettings currentStoreSettings();

class PreparedGame {
public:
    // Works the game out. The game must stay where it is (its lines are known by address)
    // until it is stored.
    void prepare(const Game& game, const StoreSettings& settings);

    bool storable() const { return m_storable; }
    // Whether this is a preparation of the game under these settings.
    bool madeFor(const Game& game, const StoreSettings& settings) const;
    // The plan of a line of the game, or null.
    const PlannedLine* lineFor(const GameLine& line) const;

private:
    void prepareLine(const GameLine& line, const Position& start);

    std::vector<PlannedLine> m_lines; // in the order storing meets them; the first m_used
    std::size_t m_used = 0;           // are this game's
    mutable std::size_t m_next = 0;
    StoreSettings m_settings;
    bool m_storable = true;
};

} // namespace vez
