#include "store/game_paths.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>
#include <vector>

#include "chess/movegen.h"
#include "interchange/game.h"
#include "store/checksum.h"
#include "store/database.h"
#include "store/flashcards.h"
#include "store/graph.h"
#include "store/heap.h"
#include "store/line_ends.h"
#include "store/notes.h"
#include "store/position_index.h"
#include "store/prefetch.h"
#include "store/prepared_game.h"

namespace vez {

namespace {

// Records replaced by promotions while a path is written. Every reference the writer
// holds (the lookups made before writing, the records behind it, those it has counted)
// follows a promotion at once: a released record's offset can come back as a new record
// within the same write (the free lists are last in, first out), so an offset must never
// be translated later.
struct WriterRecords {
    std::vector<DbOffset>& path;
    DbOffset& prev;
    DbOffset& prevprev;
    std::vector<DbOffset>& counted;

    void moved(DbOffset from, DbOffset to)
    {
        if (from == to)
            return;
        std::replace(path.begin(), path.end(), from, to);
        for (DbOffset* r : {&prev, &prevprev}) {
            if (*r == from)
                *r = to;
        }
        std::replace(counted.begin(), counted.end(), from, to);
    }
};

KeyHashes hashesOf(const PlannedStep& e) { return {e.hash, e.indexHash, e.code}; }

// Looks every position of a planned line up before anything changes: records[i] is the
// record of path[i], or 0.
void lookUpPath(const Position& start, std::span<const Move> moves,
                const std::vector<PlannedStep>& path, std::vector<DbOffset>& records)
{
    records.assign(path.size(), 0);
    // The line's chains are fetched together rather than one miss after another.
    const PositionIndex* index = lookupPositionIndex();
    if (index != nullptr) {
        for (const PlannedStep& e : path)
            index->prefetchChain(e.hash);
        for (const PlannedStep& e : path) {
            index->prefetchHead(e.hash, PositionIndex::tagOf(e.indexHash));
            prefetch(&hashSlot(e.hash));
        }
        for (const PlannedStep& e : path)
            index->prefetchTags(e.hash, PositionIndex::tagOf(e.indexHash));
        for (const PlannedStep& e : path)
            index->prefetchCandidates(e.hash, PositionIndex::tagOf(e.indexHash), currentBase);
    }
    if (index != nullptr && !index->sawDuplicates) {
        // One record for each key: the index names the record a move would lead to.
        for (std::size_t i = 0; i < path.size(); ++i) {
            const DbOffset prev = i > 0 ? records[i - 1] : 0;
            records[i] = findReached(*index, path[i].key, hashesOf(path[i]), prev,
                                     i > 0 ? moves[i - 1] : Move::None);
        }
    } else {
        for (std::size_t i = 0; i < path.size(); ++i) {
            const DbOffset prev = i > 0 ? records[i - 1] : 0;
            DbOffset r = prev != 0 && !isTiny(prev) ? successorByMove(prev, moves[i - 1]) : 0;
            records[i] = r != 0 ? r : findPackedPosition(path[i].key);
        }
    }
    if (records[0] == 0)
        records[0] = findOrAddRoot(start);
}

// A tiny record shows the counts of the record after it, so a game that comes into that
// record another way must not count there while the tiny one is still tiny.
bool hasTinyPredecessorBesides(DbOffset record, DbOffset pred)
{
    for (DbOffset m = at<FullPosition>(record)->firstIncoming; m != 0;
         m = at<MoveRecord>(m)->nextIncoming) {
        const DbOffset from = at<MoveRecord>(m)->from;
        if (from != pred && isTiny(from))
            return true;
    }
    return false;
}

// The record of a position the line reaches more than once. Where every key has one record,
// a position met before on this line is the record written there (records[j] for j < i),
// found without rebuilding any record's position; otherwise the lookup decides.
DbOffset recordOfRepeat(const std::vector<PlannedStep>& path, const std::vector<DbOffset>& records,
                        std::size_t i, bool uniqueKeys)
{
    if (uniqueKeys) {
        for (std::size_t j = 0; j < i; ++j) {
            if (path[j].repeated && path[j].key == path[i].key)
                return records[j];
        }
    }
    return findPackedPosition(path[i].key);
}

DbOffset countGame(DbOffset record, int weight, int result)
{
    noteImageChange();
    return weight > 0 ? addGameCount(record, result) : record;
}

} // namespace

std::optional<WrittenPath> writePath(const Position& start, std::span<const Move> moves, int weight,
                                     int result, const PlannedLine* plan)
{
    noteImageChange();
    std::vector<PlannedStep> planned;
    std::vector<Position> plannedPositions;
    const bool usePlan = plan != nullptr && plan->steps.size() == moves.size() + 1 &&
                         samePosition(plan->positions[0], start);
    if (!usePlan && !planSteps(start, moves.data(), moves.size(), planned, plannedPositions))
        return std::nullopt;
    const std::vector<PlannedStep>& path = usePlan ? plan->steps : planned;
    const std::vector<Position>& positions = usePlan ? plan->positions : plannedPositions;
    thread_local std::vector<DbOffset> records;
    lookUpPath(start, moves, path, records);
    const std::size_t m = moves.size();
    WrittenPath written;
    DbOffset prev = 0, prevprev = 0;
    std::vector<DbOffset> counted;
    WriterRecords refs{records, prev, prevprev, counted};
    const PositionIndex* index = lookupPositionIndex();
    const bool uniqueKeys = index != nullptr && !index->sawDuplicates;
    for (std::size_t i = 0; i <= m; ++i) {
        const PlannedStep& e = path[i];
        DbOffset rec = records[i];
        bool createdByThisLine = false;
        if (e.repeated) {
            const DbOffset again = recordOfRepeat(path, records, i, uniqueKeys);
            if (rec == 0 && again != 0)
                createdByThisLine = true;
            rec = again;
        }
        if (rec == 0) {
            // A new position right before a known one is where this line joins others: it
            // counts its own games, so it is full like the line's ends and repeats.
            const bool joinsNext = i < m && records[i + 1] != 0;
            if (prev == 0 || i == m || e.repeated || joinsNext) {
                rec = countGame(addFullPosition(e.key, hashesOf(e)), weight, result);
                counted.push_back(rec);
            } else {
                rec = addTinyPosition(e.key, hashesOf(e));
            }
        } else if (!createdByThisLine) {
            if (isTiny(rec)) {
                const DbOffset next = i < m ? records[i + 1] : 0;
                const bool staysTiny = comesFrom(rec, prev) && next != 0 && comesFrom(next, rec);
                if (!staysTiny) {
                    const DbOffset promoted = promoteToFull(rec, positions[i], &e.key);
                    refs.moved(rec, promoted);
                    rec = promoted;
                }
            }
            const bool seen = std::find(counted.begin(), counted.end(), rec) != counted.end();
            if (!seen) {
                if (!isTiny(rec) &&
                    (!comesFrom(rec, prev) || hasTinyPredecessorBesides(rec, prev))) {
                    std::vector<std::pair<DbOffset, DbOffset>> promoted;
                    promoteTinyPredecessors(rec, &promoted);
                    for (const auto& [from, to] : promoted) {
                        const bool wasPrev = from == prev;
                        refs.moved(from, to);
                        // The step before, promoted, no longer shows this game's count.
                        if (wasPrev) {
                            const DbOffset now = countGame(prev, weight, result);
                            refs.moved(prev, now);
                            counted.push_back(now);
                        }
                    }
                }
                const DbOffset before = rec;
                rec = countGame(rec, weight, result);
                refs.moved(before, rec);
                counted.push_back(rec);
                if (isBig(rec) && at<BigPosition>(rec)->eco != kNoEco)
                    written.eco = at<BigPosition>(rec)->eco;
            }
        }
        if (prev != 0) {
            linkMove(prev, rec, moves[i - 1], prevprev);
            if (!isTiny(rec)) {
                const int k = incomingIndex(rec, prev);
                if (k != 0) {
                    const DbOffset d = allocateRecord(RecordKind::DisambiguationRecord);
                    DisambiguationRecord* choice = at<DisambiguationRecord>(d);
                    choice->step = std::int16_t(i);
                    // The index is kept in one byte, read as unsigned.
                    choice->choiceIndex = std::int8_t(std::uint8_t(std::min(k, 255)));
                    choice->unused = 0;
                    choice->next = written.choices;
                    written.choices = d;
                }
            }
        }
        prevprev = prev;
        prev = rec;
        records[i] = rec; // from here on, what was written (kept up to date as records move)
    }
    written.end = prev;
    written.hash = path[m].hash;
    return written;
}

int compressedLength(DbOffset v)
{
    const DbOffset block = variation(v)->compressedTail;
    if (block == 0)
        return 0;
    const char* bytes = at<char>(block);
    return int(strnlen(bytes, 1001));
}

void listVariation(DbOffset v, DbOffset end)
{
    noteImageChange();
    variation(v)->graphEnd = end;
    variation(v)->nextAtEnd = at<BigPosition>(end)->firstVariation;
    at<BigPosition>(end)->firstVariation = v;
    lineListed(v, end);
}

void unlistVariation(DbOffset v)
{
    noteImageChange();
    const DbOffset end = variation(v)->graphEnd;
    if (end == 0 || !isBig(end))
        return;
    for (DbOffset* p = &at<BigPosition>(end)->firstVariation; *p != 0;
         p = &variation(*p)->nextAtEnd) {
        if (*p == v) {
            *p = variation(v)->nextAtEnd;
            variation(v)->nextAtEnd = 0;
            return;
        }
    }
}

} // namespace vez

namespace vez {

namespace {

int plyLimitFor(const Variation& v)
{
    return std::max<int>(v.startPly, currentHeader().compressionThresholdPly);
}

// 1 + the index of each move in the move lists from pos; false when a move is missing or
// its index does not fit a byte.
bool encodeMoves(Position pos, const std::vector<Move>& moves, std::string& bytes)
{
    const bool nonstandard = currentHeader().nonstandard == 1;
    for (Move move : moves) {
        const int index = legalMoveIndex(pos, move, nonstandard);
        if (index < 0 || index > 254)
            return false;
        bytes += char(1 + index);
        makeMove(pos, move);
    }
    return true;
}

DbOffset storeBytes(const std::string& bytes)
{
    const DbOffset block = allocateBlock(std::uint32_t(bytes.size() + 1));
    std::memcpy(at<char>(block), bytes.data(), bytes.size());
    at<char>(block)[bytes.size()] = '\0';
    return block;
}

} // namespace

// Whether a plan of the line holds the positions from step at to its end, and the moves
// from there are those given.
bool planCovers(const PlannedLine* plan, std::size_t at, const std::vector<Move>& moves)
{
    if (plan == nullptr || plan->line == nullptr || at + moves.size() + 1 != plan->steps.size() ||
        plan->line->entries.size() != plan->steps.size() - 1)
        return false;
    for (std::size_t j = 0; j < moves.size(); ++j) {
        if (plan->line->entries[at + j].move != moves[j])
            return false;
    }
    return true;
}

void compressTail(DbOffset v, const PlannedLine* plan)
{
    noteImageChange();
    Variation* var = variation(v);
    const DbOffset end = var->graphEnd;
    if (var->compressedTail != 0 || at<BigPosition>(end)->firstVariation != v ||
        var->nextAtEnd != 0)
        return;
    const BigPosition* e = at<BigPosition>(end);
    // A flashcard keeps its record in the graph, where its games are counted.
    if (e->firstOutgoing != 0 || e->note != 0 || incomingCount(end) != 1 || isFlashcard(end))
        return;
    // Collect the tiny, unannotated records behind the end, deepest first.
    std::vector<Move> moves;       // from each collected record to its successor, deepest first
    std::vector<DbOffset> records; // the collected records, deepest first
    DbOffset r = at<MoveRecord>(e->firstIncoming)->from;
    int ply = var->endPly - 1;
    const int limit = plyLimitFor(*var);
    while (r != 0 && isTiny(r) && (flagsOf(r) & kTinyGlyphMask) == 0 && ply >= limit &&
           moves.size() < 1000 && !isFlashcard(r)) {
        moves.push_back(Move(at<TinyPosition>(r)->successorMove));
        records.push_back(r);
        r = at<TinyPosition>(r)->predecessor;
        --ply;
    }
    if (moves.size() <= 1 || r == 0)
        return;
    // r is the new graph end; the move from it to the last record collected leads in.
    const std::optional<GraphEdge> in = firstPredecessor(records.back());
    if (!in)
        return;
    moves.push_back(in->move);
    std::reverse(moves.begin(), moves.end());
    std::reverse(records.begin(), records.end());
    records.push_back(end);
    // The positions of r, the collected records and the old end: from the line's plan when
    // it has them, else rebuilt from r's. The removal below takes them from here.
    const std::size_t atStep = std::size_t(std::max(0, ply - var->startPly));
    const bool planned = ply >= var->startPly && planCovers(plan, atStep, moves);
    Position pos;
    std::string bytes;
    KnownPositionKeys keys;
    PackedPosition key;
    bool keyed = true;
    if (planned) {
        for (std::size_t j = 0; j < moves.size(); ++j) {
            const std::size_t i = atStep + j;
            int code = 0;
            if (i >= plan->codesFrom) {
                code = plan->moveCodes[i];
            } else {
                std::string one;
                if (encodeMoves(plan->positions[i], {moves[j]}, one))
                    code = static_cast<unsigned char>(one[0]);
            }
            if (code == 0)
                return;
            bytes += char(code);
            key = plan->steps[i + 1].key;
            keys.add(records[j], key);
        }
    } else {
        if (!reconstructPosition(r, pos) || !encodeMoves(pos, moves, bytes))
            return;
        for (std::size_t i = 0; i < moves.size() && keyed; ++i) {
            makeMove(pos, moves[i]);
            keyed = packPosition(pos, key);
            if (keyed)
                keys.add(records[i], key);
        }
    }
    const DbOffset block = storeBytes(bytes);
    const DbOffset newEnd = planned ? ensureBig(r, &plan->steps[atStep].key,
                                                &plan->positions[atStep])
                                    : ensureBig(r);
    unlistVariation(v);
    variation(v)->compressedTail = block;
    listVariation(v, newEnd);
    if (keyed)
        removePosition(end, key);
}

namespace {

// Moves a Variation's tail back into the graph as far as the graph now has its moves.
// endPosition, when the caller knows it, is the position of the Variation's graph end.
void expandOne(DbOffset v, const Position* endPosition)
{
    noteImageChange();
    Variation* var = variation(v);
    const std::string tail(at<char>(var->compressedTail), std::size_t(compressedLength(v)));
    const DbOffset oldEnd = var->graphEnd;
    Position pos;
    if (endPosition != nullptr)
        pos = *endPosition;
    else if (!reconstructPosition(oldEnd, pos))
        return;
    const DbOffset game = var->game;
    const bool mainLine = game != 0 && at<GameRecord>(game)->mainLine == v;
    const int result = mainLine ? gameResultOf(*at<GameRecord>(game)) : 0;
    const bool nonstandard = currentHeader().nonstandard == 1;
    DbOffset current = oldEnd;
    int ply = var->endPly - int(tail.size());
    DbOffset newChoices = 0; // the choices the expansion adds, highest step first
    DbOffset firstAdded = 0; // the first one added, to go in front of the line's own
    std::size_t used = 0;
    bool endIsTiny = false;
    std::unordered_set<DbOffset> counted; // the records this line's game is counted on
    for (; used < tail.size(); ++used) {
        MoveList list;
        const int n = legalMoves(pos, list, nonstandard);
        const int index = std::uint8_t(tail[used]) - 1;
        if (index < 0 || index >= n)
            break;
        const Move move = list[std::size_t(index)];
        Position next = pos;
        DbOffset reached = 0;
        if (isTiny(current)) {
            if (at<TinyPosition>(current)->successorMove != moveCode(move))
                break;
            reached = tinySuccessor(current, next);
        } else {
            reached = successorByMove(current, move);
            makeMove(next, move);
        }
        if (reached == 0)
            break;
        ++ply;
        if (!isTiny(reached)) {
            // As in writePath: tiny records that lead into reached from elsewhere show its
            // counts, which this game is about to change, so they are made full first. The
            // step before, when that promotes it, counts this game itself.
            if (mainLine && hasTinyPredecessorBesides(reached, current)) {
                std::vector<std::pair<DbOffset, DbOffset>> promoted;
                promoteTinyPredecessors(reached, &promoted);
                for (const auto& [from, to] : promoted) {
                    if (from == current) {
                        current = addGameCount(to, result);
                        counted.insert(current);
                    }
                }
            }
            // A line that comes back to a position counts there once.
            if (mainLine && !counted.contains(reached)) {
                reached = addGameCount(reached, result);
                counted.insert(reached);
            }
            const int k = incomingIndex(reached, current);
            if (k != 0) {
                const DbOffset d = allocateRecord(RecordKind::DisambiguationRecord);
                DisambiguationRecord* choice = at<DisambiguationRecord>(d);
                choice->step = std::int16_t(ply - variation(v)->startPly);
                choice->choiceIndex = std::int8_t(std::uint8_t(std::min(k, 255)));
                choice->unused = 0;
                choice->next = newChoices;
                newChoices = d;
                if (firstAdded == 0)
                    firstAdded = d;
            }
        }
        endIsTiny = isTiny(reached);
        current = reached;
        pos = next;
    }
    if (used == 0)
        return;
    // The line keeps reading its old end and tail until everything it needs exists; then
    // it switches over with plain stores, and the old tail goes last.
    const DbOffset newEnd = ensureBig(current);
    const DbOffset newTail = used < tail.size() ? storeBytes(tail.substr(used)) : 0;
    // A tiny record shows the counts of the record after it, which this game does not
    // reach: once it is the line's end it counts the game itself.
    if (endIsTiny && mainLine)
        addGameCount(newEnd, result);
    const DbOffset oldBlock = variation(v)->compressedTail;
    if (newChoices != 0) {
        at<DisambiguationRecord>(firstAdded)->next = variation(v)->firstChoice;
        variation(v)->firstChoice = newChoices;
    }
    variation(v)->compressedTail = newTail;
    unlistVariation(v);
    listVariation(v, newEnd);
    freeBlock(oldBlock, std::uint32_t(tail.size() + 1));
}

} // namespace

void expandTails(DbOffset v, const PlannedLine* plan)
{
    // The big records of the line's way back, with their plies.
    std::vector<std::pair<DbOffset, int>> bigs;
    const Variation* var = variation(v);
    bigs.emplace_back(var->graphEnd, var->endPly - compressedLength(v));
    walkBack(v, [&](const PathStep& s) {
        if (isBig(s.prev))
            bigs.emplace_back(s.prev, s.ply - 1);
        return true;
    });
    const int startPly = var->startPly;
    const bool planned =
        plan != nullptr && plan->steps.size() == std::size_t(var->endPly - startPly + 1);
    for (const auto& [b, ply] : bigs) {
        // Most positions hold no tails, and some hold thousands of lines: walk a list only
        // when it may have a tail.
        if (!mayHoldTails(b))
            continue;
        std::vector<DbOffset> withTails;
        for (DbOffset w = at<BigPosition>(b)->firstVariation; w != 0; w = variation(w)->nextAtEnd) {
            if (variation(w)->compressedTail != 0)
                withTails.push_back(w);
        }
        tailsCounted(b, std::uint32_t(withTails.size()));
        const Position* known = planned ? &plan->positions[std::size_t(ply - startPly)]
                                        : nullptr;
        for (DbOffset w : withTails)
            expandOne(w, known);
    }
}

bool gamesCompatible(DbOffset a, DbOffset b)
{
    const GameRecord& x = *at<GameRecord>(a);
    const GameRecord& y = *at<GameRecord>(b);
    auto agree = [](auto p, auto q) { return p == 0 || q == 0 || p == q; };
    return agree(gameResultOf(x), gameResultOf(y)) && agree(x.white, y.white) &&
           agree(x.black, y.black) && agree(x.event, y.event) &&
           agree(gameRoundOf(x), gameRoundOf(y)) && agree(x.site, y.site) &&
           agree(gameYearOf(x), gameYearOf(y)) && agree(gameMonthOf(x), gameMonthOf(y)) &&
           agree(gameDayOf(x), gameDayOf(y));
}

bool samePath(DbOffset a, DbOffset b)
{
    const Variation& x = *variation(a);
    const Variation& y = *variation(b);
    if (x.endPly != y.endPly || x.startPly != y.startPly || x.graphEnd != y.graphEnd ||
        (x.compressedTail == 0) != (y.compressedTail == 0))
        return false;
    DbOffset p = x.firstChoice, q = y.firstChoice;
    for (; p != 0 && q != 0;
         p = at<DisambiguationRecord>(p)->next, q = at<DisambiguationRecord>(q)->next) {
        if (at<DisambiguationRecord>(p)->step != at<DisambiguationRecord>(q)->step ||
            at<DisambiguationRecord>(p)->choiceIndex != at<DisambiguationRecord>(q)->choiceIndex)
            return false;
    }
    if (p != 0 || q != 0)
        return false;
    return x.compressedTail == 0 ||
           std::strcmp(at<char>(x.compressedTail), at<char>(y.compressedTail)) == 0;
}

namespace {

void mergeVariationTree(DbOffset counterpart, DbOffset v, DbOffset earlierGame)
{
    noteImageChange();
    std::vector<DbOffset> children;
    for (DbOffset c = variation(v)->firstChild; c != 0; c = variation(c)->nextSibling)
        children.push_back(c);
    for (DbOffset c : children) {
        DbOffset match = 0;
        for (DbOffset w = at<BigPosition>(variation(c)->graphEnd)->firstVariation;
             w != 0 && match == 0; w = variation(w)->nextAtEnd) {
            if (w != c && variation(w)->game == earlierGame && samePath(w, c))
                match = w;
        }
        if (match == 0) {
            // Moves over to the earlier game, under the counterpart of its parent.
            for (DbOffset* p = &variation(v)->firstChild; *p != 0;
                 p = &variation(*p)->nextSibling) {
                if (*p == c) {
                    *p = variation(c)->nextSibling;
                    break;
                }
            }
            variation(c)->parent = counterpart;
            variation(c)->nextSibling = variation(counterpart)->firstChild;
            variation(counterpart)->firstChild = c;
            variation(c)->game = earlierGame;
            std::vector<DbOffset> stack{c};
            while (!stack.empty()) {
                const DbOffset w = stack.back();
                stack.pop_back();
                variation(w)->game = earlierGame;
                for (DbOffset g = variation(w)->firstChild; g != 0; g = variation(g)->nextSibling)
                    stack.push_back(g);
            }
            continue;
        }
        mergeVariationTree(match, c, earlierGame);
    }
}

} // namespace

void mergeGameInto(DbOffset earlier, DbOffset duplicate)
{
    noteImageChange();
    GameRecord& a = *at<GameRecord>(earlier);
    const GameRecord& b = *at<GameRecord>(duplicate);
    if (a.white == 0)
        a.white = b.white;
    if (a.black == 0)
        a.black = b.black;
    if (a.event == 0)
        a.event = b.event;
    if (gameRoundOf(a) == 0)
        setGameRound(a, gameRoundOf(b));
    if (a.site == 0)
        a.site = b.site;
    if (gameYearOf(a) == 0)
        setGameYear(a, gameYearOf(b));
    if (gameMonthOf(a) == 0)
        setGameMonth(a, gameMonthOf(b));
    if (gameDayOf(a) == 0)
        setGameDay(a, gameDayOf(b));
    for (DbOffset t = b.firstTag; t != 0; t = at<TagVal>(t)->next) {
        bool has = false;
        for (DbOffset u = a.firstTag; u != 0 && !has; u = at<TagVal>(u)->next)
            has = at<TagVal>(u)->name == at<TagVal>(t)->name;
        if (has)
            continue;
        const DbOffset copy = allocateRecord(RecordKind::TagVal);
        at<TagVal>(copy)->name = at<TagVal>(t)->name;
        at<TagVal>(copy)->value = at<TagVal>(t)->value;
        at<TagVal>(copy)->next = at<GameRecord>(earlier)->firstTag;
        at<GameRecord>(earlier)->firstTag = copy;
    }
    mergeVariationTree(at<GameRecord>(earlier)->mainLine, at<GameRecord>(duplicate)->mainLine,
                       earlier);
}

} // namespace vez
