#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <utility>

#include "store/checksum.h"
#include "store/database.h"
#include "store/game_paths.h"
#include "store/games.h"
#include "store/gamesets.h"
#include "store/graph.h"
#include "store/heap.h"

namespace vez {

namespace {

// How far one question about the lines ahead of a position may look (records visited plus
// plies of the lines walked back). A position deep in common theory can have most of the
// database ahead of it; the question is then left unanswered and the position stays.
constexpr std::size_t kSearchSteps = 100000;

// Calls check with every Variation listed at the record or at a record ahead of it along
// the graph's moves, until check says true. nullopt when the search would go beyond its
// budget.
std::optional<bool> anyLineAhead(DbOffset from, const Position& pos,
                                 const std::function<bool(DbOffset)>& check)
{
    std::size_t budget = kSearchSteps;
    std::set<DbOffset> seen{from};
    std::vector<std::pair<DbOffset, Position>> pending{{from, pos}};
    while (!pending.empty()) {
        const auto [r, here] = pending.back();
        pending.pop_back();
        if (budget-- == 0)
            return std::nullopt;
        if (isTiny(r)) {
            TinyWalk walk(r, here);
            const DbOffset next = walk.step();
            if (next != 0 && seen.insert(next).second)
                pending.emplace_back(next, walk.position());
            continue;
        }
        if (isBig(r)) {
            for (DbOffset v = at<BigPosition>(r)->firstVariation; v != 0;
                 v = variation(v)->nextAtEnd) {
                const std::size_t plies =
                    std::size_t(std::max(1, variation(v)->endPly - variation(v)->startPly));
                if (plies > budget)
                    return std::nullopt;
                budget -= plies;
                if (check(v))
                    return true;
            }
        }
        for (DbOffset m = at<FullPosition>(r)->firstOutgoing; m != 0;
             m = at<MoveRecord>(m)->nextOutgoing) {
            const MoveRecord* mr = at<MoveRecord>(m);
            if (seen.insert(mr->to).second) {
                Position next = here;
                makeMove(next, Move(mr->move));
                pending.emplace_back(mr->to, next);
            }
        }
    }
    return false;
}

// Whether `to` can still be rebuilt once the move from r into it is gone: the way back it
// would then take reaches a huge record or the standard start without coming round to `to`
// or r (a line that repeats a position is a way in from ahead of it).
bool otherWayBack(DbOffset to, DbOffset r)
{
    DbOffset from = 0;
    for (DbOffset m = at<FullPosition>(to)->firstIncoming; m != 0 && from == 0;
         m = at<MoveRecord>(m)->nextIncoming) {
        if (at<MoveRecord>(m)->from != r)
            from = at<MoveRecord>(m)->from;
    }
    for (int steps = 0; from != 0 && steps < 1000; ++steps) {
        if (from == to || from == r)
            return false;
        if (isHuge(from))
            return true;
        const std::optional<GraphEdge> back = firstPredecessor(from);
        if (!back)
            return !isTiny(from);
        from = back->record;
    }
    return false;
}

// A way out of a position being let go: the move record (0 between two tiny records),
// where it leads and that position.
struct WayOut {
    DbOffset move;
    DbOffset to;
    Position pos;
};

// The DisambiguationRecords, of the lines through `to`, that choose an incoming move
// listed after `index`: they choose one place earlier once that move is unlinked. nullopt
// when the lines through `to` are too many to look at.
std::optional<std::vector<std::pair<DbOffset, DbOffset>>> choicesAfter(const WayOut& way, int index)
{
    std::vector<std::pair<DbOffset, DbOffset>> found; // (Variation, DisambiguationRecord)
    if (index + 1 >= incomingCount(way.to))
        return found;
    const std::optional<bool> overBudget = anyLineAhead(way.to, way.pos, [&](DbOffset v) {
        const int start = variation(v)->startPly;
        walkBack(v, [&](const PathStep& s) {
            if (s.record != way.to)
                return true;
            for (DbOffset d = variation(v)->firstChoice; d != 0;
                 d = at<DisambiguationRecord>(d)->next) {
                const DisambiguationRecord* c = at<DisambiguationRecord>(d);
                if (c->step == s.ply - start && std::uint8_t(c->choiceIndex) > index)
                    found.emplace_back(v, d);
            }
            return true;
        });
        return false;
    });
    if (!overBudget)
        return std::nullopt;
    return found;
}

void chooseOneEarlier(DbOffset v, DbOffset d)
{
    noteImageChange();
    DisambiguationRecord* c = at<DisambiguationRecord>(d);
    c->choiceIndex = std::int8_t(std::uint8_t(c->choiceIndex) - 1);
    if (c->choiceIndex != 0)
        return;
    // The first way in needs no record.
    for (DbOffset* p = &variation(v)->firstChoice; *p != 0;
         p = &at<DisambiguationRecord>(*p)->next) {
        if (*p == d) {
            *p = c->next;
            releaseRecord(RecordKind::DisambiguationRecord, d);
            return;
        }
    }
}

// Whether the record at step i of the path still serves: something is kept on it, a main
// line or any other line passes through it, or a position after it has no other way back.
// Its ways out are gathered for the removal.
bool stillServes(const UnusedPathPositions& path, std::size_t i, const std::set<DbOffset>& removed,
                 std::vector<WayOut>& ways)
{
    const DbOffset r = path.records[i];
    if (isTiny(r)) {
        // Its one way out is the path's next step, unless that position went already.
        const bool last = i + 1 == path.records.size();
        if (last || removed.count(path.records[i + 1]))
            return false;
        const DbOffset next = path.records[i + 1];
        const DbOffset m = isTiny(next) ? 0 : incomingAt(next, incomingIndex(next, r));
        if (m == 0)
            return true;
        ways.push_back({m, next, path.positions[i + 1]});
    } else {
        if (carriesKnowledge(r) || recordCounts(r).games > 0 ||
            (isBig(r) && at<BigPosition>(r)->firstVariation != 0))
            return true;
        for (DbOffset m = at<FullPosition>(r)->firstOutgoing; m != 0;
             m = at<MoveRecord>(m)->nextOutgoing) {
            Position next = path.positions[i];
            makeMove(next, Move(at<MoveRecord>(m)->move));
            ways.push_back({m, at<MoveRecord>(m)->to, next});
        }
    }
    for (const WayOut& w : ways) {
        if (isTiny(w.to) || (!isHuge(w.to) && !otherWayBack(w.to, r)))
            return true;
    }
    const std::optional<bool> passed =
        anyLineAhead(r, path.positions[i], [&](DbOffset v) { return variationContains(v, r); });
    return passed.value_or(true);
}

} // namespace

// What the user or a gameset put on a position outlives the games through it. (A flashcard
// is kept by the removal itself, as a position of its own.)
bool carriesKnowledge(DbOffset r)
{
    if (!isTiny(r) && isGamesetPosition(r))
        return true;
    if (!isBig(r))
        return false;
    const BigPosition* b = at<BigPosition>(r);
    return b->note != 0 || b->eco != kNoEco || b->scoreCode != kNoScoreCode ||
           (b->flags & kFlagUserNote) != 0;
}

std::set<DbOffset> removeUnusedPositions(const UnusedPathPositions& path, std::ptrdiff_t deepest,
                                         std::set<DbOffset> removed)
{
    noteImageChange();
    // A second pass takes positions that served only the way back of one let go after them
    // (a line that repeats a position comes back to it from ahead).
    for (int pass = 0; pass < 2; ++pass) {
        std::set<DbOffset> decided;
        for (std::ptrdiff_t i = deepest; i >= 0; --i) {
            const DbOffset r = path.records[std::size_t(i)];
            if (removed.count(r) || !decided.insert(r).second || !path.keys[std::size_t(i)])
                continue;
            std::vector<WayOut> ways;
            if (stillServes(path, std::size_t(i), removed, ways))
                continue;
            // Unlinking a way in renumbers the later ways into its position: the lines through
            // there that chose one of those must choose one place earlier.
            std::vector<std::pair<DbOffset, DbOffset>> renumber;
            bool answered = true;
            for (const WayOut& w : ways) {
                const auto found = choicesAfter(w, incomingIndex(w.to, r));
                answered = answered && found.has_value();
                if (found)
                    renumber.insert(renumber.end(), found->begin(), found->end());
            }
            if (!answered)
                continue;
            for (const auto& [v, d] : renumber)
                chooseOneEarlier(v, d);
            for (const WayOut& w : ways)
                unlinkMove(w.move);
            removePosition(r, *path.keys[std::size_t(i)]);
            removed.insert(r);
        }
    }
    return removed;
}

} // namespace vez
