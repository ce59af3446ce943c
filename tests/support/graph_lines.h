// Writes whole game lines into the position graph and takes them out again, the way
// stored games use it: for tests and benchmarks of the graph.
#pragma once

#include <algorithm>
#include <utility>
#include <set>
#include <string>
#include <vector>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/notation.h"
#include "store/graph.h"
#include "store/heap.h"
#include "support/movetext.h"

namespace vez::test {

struct Line {
    std::vector<Position> positions; // 0 the start, then one after each move
    std::vector<Move> moves;
    int result = 0;                  // 1 white win, 2 black win, else none
    DbOffset variation = 0;          // listed at the line's end while it lives
};

// The main lines of the games in a PGN text (at most maxGames), as far as they replay.
inline std::vector<Line> linesFromPgn(std::string_view text, std::size_t maxGames)
{
    std::vector<Line> lines;
    PgnMovetextReader reader(text);
    PgnGame game;
    while (lines.size() < maxGames && reader.next(game)) {
        Line line;
        Position pos;
        if (!readFen(pos, game.fen))
            continue;
        line.positions.push_back(pos);
        for (const std::string& token : game.moves) {
            Move m;
            if (!parseMove(pos, m, nullptr, nullptr, token) || !isLegalMove(pos, m))
                break;
            makeMove(pos, m);
            line.moves.push_back(m);
            line.positions.push_back(pos);
        }
        line.result = int(lines.size() % 3);
        if (!line.moves.empty())
            lines.push_back(std::move(line));
    }
    return lines;
}

inline PackedPosition keyOf(const Position& pos)
{
    PackedPosition key;
    packPosition(pos, key);
    return key;
}

inline bool hasPredecessor(DbOffset record, DbOffset pred)
{
    for (const GraphEdge& e : predecessorMoves(record)) {
        if (e.record == pred)
            return true;
    }
    return false;
}

// Stores a line the way games are written into the graph: new interior positions are
// tiny; a line's last position, repeated positions and every place where lines part or
// join become full; each position counts the game once.
inline void addLine(Line& line)
{
    const std::size_t m = line.moves.size();
    std::vector<PackedPosition> keys;
    for (const Position& p : line.positions)
        keys.push_back(keyOf(p));
    auto repeated = [&](std::size_t i) {
        return std::count(keys.begin(), keys.end(), keys[i]) > 1;
    };
    auto firstOccurrence = [&](std::size_t i) {
        return std::find(keys.begin(), keys.end(), keys[i]) - keys.begin() == std::ptrdiff_t(i);
    };
    DbOffset prev = 0, prevprev = 0;
    for (std::size_t i = 0; i <= m; ++i) {
        const Position& pos = line.positions[i];
        DbOffset rec = findPosition(pos);
        if (rec == 0 && i == 0) {
            rec = addGameCount(findOrAddRoot(pos), line.result);
        } else if (rec == 0) {
            // A new position right before a known one is where this line joins
            // others: it must count its own games, so it is full too.
            const bool joinsNext = i < m && findPosition(line.positions[i + 1]) != 0;
            if (prev == 0 || i == m || repeated(i) || joinsNext) {
                rec = addGameCount(addFullPosition(keys[i]), line.result);
            } else {
                rec = addTinyPosition(keys[i]);
            }
        } else {
            if (isTiny(rec)) {
                const DbOffset next = i < m ? findPosition(line.positions[i + 1]) : 0;
                const bool staysTiny =
                    hasPredecessor(rec, prev) && next != 0 && hasPredecessor(next, rec);
                if (!staysTiny)
                    rec = promoteToFull(rec, primaryHash(keys[i]));
            }
            // A new way into a known position: tiny records before it stop showing its
            // counts before this line adds to them.
            if (!isTiny(rec) && !hasPredecessor(rec, prev))
                promoteTinyPredecessors(rec);
            if (firstOccurrence(i))
                rec = addGameCount(rec, line.result);
        }
        if (prev != 0)
            linkMove(prev, rec, line.moves[i - 1], prevprev);
        prevprev = prev;
        prev = rec;
    }
    const DbOffset end = ensureBig(prev);
    line.variation = allocateRecord(RecordKind::Variation);
    at<Variation>(line.variation)->graphEnd = end;
    at<Variation>(line.variation)->nextAtEnd = at<BigPosition>(end)->firstVariation;
    at<BigPosition>(end)->firstVariation = line.variation;
}


// Deletes a line: uncount it, then remove the positions that only it used, going
// forward from the deepest position that something else still needs.
inline void removeLine(Line& line)
{
    const DbOffset end = at<Variation>(line.variation)->graphEnd;
    for (DbOffset* p = &at<BigPosition>(end)->firstVariation; *p != 0;
         p = &at<Variation>(*p)->nextAtEnd) {
        if (*p == line.variation) {
            *p = at<Variation>(line.variation)->nextAtEnd;
            break;
        }
    }
    releaseRecord(RecordKind::Variation, line.variation);
    line.variation = 0;

    const std::size_t m = line.moves.size();
    std::vector<DbOffset> records;
    for (const Position& p : line.positions)
        records.push_back(findPosition(p));
    std::set<DbOffset> seen;
    for (DbOffset r : records) {
        if (r == 0)
            return;
        if (seen.insert(r).second)
            subtractGameCount(r, line.result);
        at<PositionRecord>(r)->flags |= kFlagVisit;
    }
    // The deepest position something else needs: a line ends there, or a move leaves it
    // that is not one of this line's own steps. (Looking at whether the move leads to a
    // position of this line is not enough: another line may repeat back into it.)
    std::set<std::pair<DbOffset, DbOffset>> steps;
    for (std::size_t i = 0; i < m; ++i)
        steps.insert({records[i], records[i + 1]});
    std::ptrdiff_t keep = -1;
    for (std::ptrdiff_t i = std::ptrdiff_t(m); i >= 0 && keep < 0; --i) {
        const DbOffset r = records[std::size_t(i)];
        if (isTiny(r))
            continue;
        bool needed = isBig(r) && at<BigPosition>(r)->firstVariation != 0;
        for (const GraphEdge& e : successorMoves(r))
            needed = needed || !steps.count({r, e.record});
        if (needed)
            keep = i;
    }
    // A position the line visits both before and after the kept one stays.
    const std::set<DbOffset> kept(records.begin(), records.begin() + (keep + 1));
    std::set<DbOffset> removed;
    for (std::size_t i = std::size_t(keep + 1); i <= m; ++i) {
        const DbOffset r = records[i];
        if (kept.count(r) || !removed.insert(r).second)
            continue;
        removePosition(r, primaryHash(keyOf(line.positions[i])));
    }
    for (DbOffset r : kept)
        at<PositionRecord>(r)->flags &= std::uint8_t(~kFlagVisit);
}

} // namespace vez::test
