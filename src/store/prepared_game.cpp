#include "store/prepared_game.h"

#include <algorithm>
#include <cstring>

#include "chess/movegen.h"
#include "interchange/game.h"
#include "interchange/opening_tree.h"
#include "store/database.h"
#include "store/position_index.h"

namespace vez {

namespace {

// A step as planned, with the position it stands for.
struct PlannedPosition {
    PlannedStep step;
    Position position;
};

// The steps of the openings that this thread's games share: most games of a collection
// begin with moves many others have, and their positions are packed and hashed once.
OpeningTree<PlannedPosition>& plannedOpenings()
{
    thread_local OpeningTree<PlannedPosition> tree(4096);
    return tree;
}

bool isStandardStart(const Position& pos)
{
    static const Position standard = [] {
        Position p;
        setStandardStart(p);
        return p;
    }();
    return std::memcmp(&pos, &standard, sizeof pos) == 0;
}

} // namespace

bool planSteps(const Position& start, const Move* moves, std::size_t count,
               std::vector<PlannedStep>& steps, std::vector<Position>& positions)
{
    steps.resize(count + 1);
    positions.resize(count + 1);
    Position pos = start;
    using Tree = OpeningTree<PlannedPosition>;
    Tree* const openings = isStandardStart(start) ? &plannedOpenings() : nullptr;
    std::uint32_t node = openings != nullptr ? Tree::kRoot : Tree::kNone;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        PlannedStep& s = steps[i];
        const std::uint64_t move = i > 0 ? std::uint64_t(moves[i - 1]) : 0;
        if (i > 0) {
            if (const std::uint32_t known =
                    node != Tree::kNone ? openings->child(node, move) : Tree::kNone;
                known != Tree::kNone) {
                const PlannedPosition& planned = openings->value(known);
                s = planned.step;
                pos = positions[i] = planned.position;
                node = known;
                continue;
            }
            makeMove(pos, moves[i - 1]);
        }
        positions[i] = pos;
        s.repeated = false;
        if (!packPosition(pos, s.key))
            return false;
        s.hash = primaryHash(s.key);
        s.code = secondaryCode(s.key);
        s.indexHash = PositionIndex::hashOf(s.key);
        if (i > 0 && node != Tree::kNone)
            node = openings->taken(node, move, {s, pos});
    }
    // Positions of the line with equal hashes: each position's first sighting by hashes, in
    // a small open table.
    std::size_t size = 64;
    while (size < 2 * steps.size())
        size *= 2;
    thread_local std::vector<std::uint32_t> seen; // 1 + the step, or 0
    seen.assign(size, 0);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const std::uint32_t key = std::uint32_t(steps[i].hash) << 8 | steps[i].code;
        std::size_t at = (key * 0x9E3779B1u) >> 7 & (size - 1);
        for (;; at = (at + 1) & (size - 1)) {
            const std::uint32_t j = seen[at];
            if (j == 0) {
                seen[at] = std::uint32_t(i + 1);
                break;
            }
            const PlannedStep& first = steps[j - 1];
            if ((std::uint32_t(first.hash) << 8 | first.code) == key) {
                steps[j - 1].repeated = steps[i].repeated = true;
                break;
            }
        }
    }
    return true;
}

StoreSettings currentStoreSettings()
{
    const DatabaseHeader& h = currentHeader();
    return {h.compressionThresholdPly, h.nonstandard == 1};
}

void PreparedGame::prepare(const Game& game, const StoreSettings& settings)
{
    m_used = 0; // the lines' storage is kept for the next game
    m_next = 0;
    m_settings = settings;
    m_storable = true;
    prepareLine(game, game.startPosition);
}

// Lines in the order the game's lines are stored: each line, then the sub-lines at each of
// its moves, then those after its end.
void PreparedGame::prepareLine(const GameLine& line, const Position& start)
{
    thread_local std::vector<Move> moves; // only until the sub-lines are prepared
    moves.clear();
    for (const MoveEntry& e : line.entries)
        moves.push_back(e.move);
    const std::size_t planned = m_used;
    {
        if (m_used == m_lines.size())
            m_lines.emplace_back();
        PlannedLine& plan = m_lines[m_used++];
        plan.line = &line;
        if (!planSteps(start, moves.data(), moves.size(), plan.steps, plan.positions)) {
            m_storable = false;
            return;
        }
        // The moves a compressed tail may hold: those from the ply before the threshold on.
        const int limit = std::max(line.startPly, m_settings.compressionThresholdPly);
        const std::size_t first = std::size_t(std::max(0, limit - 1 - line.startPly));
        plan.moveCodes.assign(moves.size(), 0);
        plan.codesFrom = first;
        for (std::size_t i = first; i < moves.size(); ++i) {
            const int index =
                legalMoveIndex(plan.positions[i], moves[i], m_settings.nonstandard);
            plan.moveCodes[i] = index >= 0 && index <= 254 ? std::uint8_t(1 + index) : 0;
        }
    }
    // The sub-lines start from the line's planned positions, copied: preparing a sub-line
    // may move the plans.
    const auto prepareFrom = [&](const std::vector<std::unique_ptr<GameLine>>& subLines,
                                 std::size_t step) {
        for (const auto& sub : subLines) {
            const Position from = m_lines[planned].positions[step];
            prepareLine(*sub, from);
            if (!m_storable)
                return false;
        }
        return true;
    };
    for (std::size_t i = 0; i < line.entries.size(); ++i) {
        if (!prepareFrom(line.entries[i].subLines, i))
            return;
    }
    prepareFrom(line.subLinesAfterEnd, line.entries.size());
}

bool PreparedGame::madeFor(const Game& game, const StoreSettings& settings) const
{
    return m_used > 0 && m_lines[0].line == &game &&
           m_settings.compressionThresholdPly == settings.compressionThresholdPly &&
           m_settings.nonstandard == settings.nonstandard;
}

const PlannedLine* PreparedGame::lineFor(const GameLine& line) const
{
    if (m_next < m_used && m_lines[m_next].line == &line)
        return &m_lines[m_next++];
    for (std::size_t i = 0; i < m_used; ++i) {
        if (m_lines[i].line == &line) {
            m_next = i + 1;
            return &m_lines[i];
        }
    }
    return nullptr;
}

} // namespace vez
