// Internal to the game store: writing a line into the graph and walking it back.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "chess/position.h"
#include "store/codes.h"
#include "store/database.h"
#include "store/graph.h"
#include "store/packing.h"
#include "store/records.h"

namespace vez {

struct PlannedLine;

struct WrittenPath {
    DbOffset end = 0;         // the record of the line's last position
    DbOffset choices = 0;     // DisambiguationRecords, descending step
    std::uint16_t hash = 0;   // primary hash of the last position
    EcoCode eco = kNoEco;     // the code of the last book position met
};

// Writes a line into the graph: new interior positions are tiny, the last one, repeated
// ones and those where lines part or join are full or bigger; weight 1 counts the line as
// a game with its result (1 white win, 2 black win). nullopt, with nothing written, when a
// position of the line cannot be stored.
// A plan of the line (its positions worked out beforehand) spares working them out here.
std::optional<WrittenPath> writePath(const Position& start, std::span<const Move> moves,
                                     int weight, int result, const PlannedLine* plan = nullptr);

// One step back along a line: the record left, the move that led from prev to record, its
// glyph, and the ply of the record.
struct PathStep {
    DbOffset record;
    DbOffset prev;
    Move move;
    MoveGlyph glyph;
    int ply;
};

// The length of a Variation's compressed tail (0 without one).
int compressedLength(DbOffset variation);

// Walks a Variation back from its graph end to its start ply; step sees each step (deepest
// first) and may stop the walk by returning false. Returns the record at the start ply (0
// when the way back is broken). Every stored line is walked back at least once, step by
// step: the callback is a template parameter so that it is inlined.
template <class Step>
DbOffset walkBack(DbOffset v, Step&& step)
{
    const Variation* var = variation(v);
    DbOffset current = var->graphEnd;
    DbOffset choice = var->firstChoice;
    const int startPly = var->startPly;
    for (int ply = var->endPly - compressedLength(v); ply > startPly; --ply) {
        const int stepIndex = ply - startPly;
        while (choice != 0 && at<DisambiguationRecord>(choice)->step > stepIndex)
            choice = at<DisambiguationRecord>(choice)->next;
        PathStep s{current, 0, Move::None, MoveGlyph::None, ply};
        if (choice != 0 && at<DisambiguationRecord>(choice)->step == stepIndex &&
            !isTiny(current)) {
            const int index = std::uint8_t(at<DisambiguationRecord>(choice)->choiceIndex);
            const DbOffset m = incomingAt(current, index);
            if (m == 0)
                return 0;
            s.prev = at<MoveRecord>(m)->from;
            s.move = Move(at<MoveRecord>(m)->move);
            s.glyph = MoveGlyph(at<MoveRecord>(m)->glyph & kMoveGlyphMask);
            choice = at<DisambiguationRecord>(choice)->next;
        } else {
            const std::optional<GraphEdge> in = firstPredecessor(current);
            if (!in)
                return 0;
            s.prev = in->record;
            s.move = in->move;
            s.glyph = in->glyph;
        }
        if (!step(static_cast<const PathStep&>(s)))
            return 0;
        current = s.prev;
    }
    return current;
}

// Removes a Variation's link from its graph end's list.
void unlistVariation(DbOffset variation);
void listVariation(DbOffset variation, DbOffset end);

// The line's plan, when given, holds the positions and move codes the tail needs.
void compressTail(DbOffset variation, const PlannedLine* plan = nullptr);
// Moves back into the graph the tails of other lines that end on this line's way, as far
// as the graph now has their moves; the line's plan, when given, holds its positions.
void expandTails(DbOffset variation, const PlannedLine* plan = nullptr);
bool gamesCompatible(DbOffset a, DbOffset b);
bool samePath(DbOffset a, DbOffset b);
void mergeGameInto(DbOffset earlier, DbOffset duplicate);

// A deleted line's records from its start on, with their positions and keys (none where a
// position cannot be packed).
struct UnusedPathPositions {
    std::vector<DbOffset> records;
    std::vector<Position> positions;
    std::vector<std::optional<PackedPosition>> keys;
};
// Whether a record carries what the user or a gameset put on its position (note, score,
// ECO code, user mark, gameset reference), which outlives the games through it.
bool carriesKnowledge(DbOffset record);

// After a line is deleted, lets go of its records from step `deepest` back to its start
// that no stored line passes through any more, that carry nothing of their own (note,
// score, ECO code, user mark, gameset) and that no position kept after them needs as its
// only way back; a flashcard among them stays as a position of its own. The records must
// carry the visit mark, which keeps the removals of their neighbours off them. Returns the
// records let go, with those of `removed`, which were let go before.
std::set<DbOffset> removeUnusedPositions(const UnusedPathPositions& path, std::ptrdiff_t deepest,
                                         std::set<DbOffset> removed);

} // namespace vez
