#include "store/games.h"

#include <algorithm>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "chess/movegen.h"
#include "interchange/game.h"
#include "store/damage.h"
#include "store/database.h"
#include "store/game_paths.h"
#include "store/gamesets.h"
#include "store/graph.h"
#include "store/heap.h"
#include "store/line_ends.h"
#include "store/names.h"
#include "store/notes.h"
#include "store/prepared_game.h"

namespace vez {

namespace {

// --- Game index -------------------------------------------------------------------------

// The game index blocks of the current image in list order, kept in memory: blocks are
// only ever appended, so the copy holds while the image, its first block and its count
// stay the same.
struct IndexBlocks {
    const std::uint8_t* base = nullptr;
    std::uint64_t epoch = ~std::uint64_t(0);
    DbOffset first = 0;
    std::uint32_t count = 0;
    std::vector<DbOffset> blocks;
};

std::vector<DbOffset>& indexBlocks()
{
    static auto& cache = *new IndexBlocks; // never destroyed: used until the last close
    const DatabaseHeader& h = currentHeader();
    if (cache.base != currentBase || cache.epoch != imageEpoch() || cache.first != h.firstGameIndexBlock ||
        cache.count != h.gameIndexBlockCount) {
        cache.base = currentBase;
        cache.epoch = imageEpoch();
        cache.first = h.firstGameIndexBlock;
        cache.count = h.gameIndexBlockCount;
        cache.blocks.clear();
        // A chain that ends early would quietly hide every game behind the break.
        cache.base = nullptr;
        const std::uint64_t limit = h.usedBytes / sizeof(GameIndexBlock) + 1;
        DbOffset b = h.firstGameIndexBlock;
        for (; b != 0 && cache.blocks.size() < limit; b = at<GameIndexBlock>(b)->next)
            cache.blocks.push_back(b);
        if (b != 0 || cache.blocks.size() != h.gameIndexBlockCount)
            throwDamaged(cache.blocks.empty() ? h.firstGameIndexBlock : cache.blocks.back(),
                         std::to_string(h.gameIndexBlockCount) + " game index blocks in a chain");
        cache.base = currentBase;
    }
    return cache.blocks;
}

DbOffset indexBlock(std::uint32_t number, bool create)
{
    const std::uint32_t wanted = number / kGameIndexSlots;
    if (wanted < indexBlocks().size())
        return indexBlocks()[wanted];
    if (!create)
        return 0;
    while (indexBlocks().size() <= wanted) {
        const std::vector<DbOffset>& blocks = indexBlocks();
        const DbOffset last = blocks.empty() ? 0 : blocks.back();
        const DbOffset block = allocateRaw(sizeof(GameIndexBlock));
        if (last == 0)
            currentHeader().firstGameIndexBlock = block;
        else
            at<GameIndexBlock>(last)->next = block;
        ++currentHeader().gameIndexBlockCount;
    }
    return indexBlocks()[wanted];
}

void enterGameIndex(DbOffset game)
{
    const std::uint32_t number = gameNumberOf(*gameRecord(game));
    GameIndexBlock* block = at<GameIndexBlock>(indexBlock(number, true));
    const std::uint32_t slot = number % kGameIndexSlots;
    block->games[slot] = game;
    if (slot >= block->used)
        block->used = slot + 1;
}

void leaveGameIndex(std::uint32_t number)
{
    if (const DbOffset block = indexBlock(number, false))
        at<GameIndexBlock>(block)->games[number % kGameIndexSlots] = 0;
}

// --- Storing ----------------------------------------------------------------------------

std::vector<Move> movesOf(const GameLine& line)
{
    std::vector<Move> moves;
    moves.reserve(line.entries.size());
    for (const MoveEntry& e : line.entries)
        moves.push_back(e.move);
    return moves;
}

// Whether every position of a line and its sub-lines can be stored.
bool storable(const GameLine& line, Position pos)
{
    if (!packable(pos))
        return false;
    auto subLinesFit = [](const std::vector<std::unique_ptr<GameLine>>& lines, const Position& at) {
        return std::all_of(lines.begin(), lines.end(), [&](const auto& l) { return storable(*l, at); });
    };
    for (const MoveEntry& e : line.entries) {
        if (!subLinesFit(e.subLines, pos))
            return false;
        makeMove(pos, e.move);
        if (!packable(pos))
            return false;
    }
    return subLinesFit(line.subLinesAfterEnd, pos);
}

DbOffset storeVariation(const GameLine& line, const Position& start, int result, DbOffset game,
                        EcoCode* eco, const PreparedGame* prepared);

void storeSubLines(const std::vector<std::unique_ptr<GameLine>>& lines, const Position& pos,
                   DbOffset parent, DbOffset game, const PreparedGame* prepared)
{
    for (const auto& sub : lines) {
        const DbOffset child = storeVariation(*sub, pos, 0, game, nullptr, prepared);
        if (child == 0)
            continue;
        variation(child)->parent = parent;
        variation(child)->nextSibling = variation(parent)->firstChild;
        variation(parent)->firstChild = child;
    }
}

// Notes, scores and glyphs of the line's moves go onto the positions they reach.
void annotateLine(const GameLine& line, Position pos, DbOffset v, DbOffset game,
                  const PreparedGame* prepared, const PlannedLine* plan)
{
    const bool planned = plan != nullptr && plan->steps.size() == line.entries.size() + 1;
    // A planned line's positions are read where they are: most moves need none of them.
    const auto after = [&](std::size_t moves) -> const Position& {
        return planned && moves > 0 ? plan->positions[moves] : pos;
    };
    for (std::size_t i = 0; i < line.entries.size(); ++i) {
        const MoveEntry& e = line.entries[i];
        storeSubLines(e.subLines, after(i), v, game, prepared);
        if (!planned)
            makeMove(pos, e.move);
        if (!e.comment.empty())
            setNote(after(i + 1), e.comment);
        if (e.score != kNoScore)
            setScore(after(i + 1), e.score);
        if (e.glyph > 0 && e.glyph < 7)
            setMoveGlyph(findPosition(after(i + 1)), e.move, MoveGlyph(e.glyph));
    }
    storeSubLines(line.subLinesAfterEnd, after(line.entries.size()), v, game, prepared);
}

DbOffset storeVariation(const GameLine& line, const Position& start, int result, DbOffset game,
                        EcoCode* eco, const PreparedGame* prepared)
{
    const std::vector<Move> moves = movesOf(line);
    const PlannedLine* plan = prepared != nullptr ? prepared->lineFor(line) : nullptr;
    const std::optional<WrittenPath> path =
        writePath(start, moves, line.mainLine ? 1 : 0, line.mainLine ? result : 0, plan);
    if (!path)
        return 0;
    const bool endPlanned = plan != nullptr && plan->steps.size() == moves.size() + 1;
    const DbOffset end = ensureBig(path->end, endPlanned ? &plan->steps.back().key : nullptr);
    // Taken only now, so that it is counted and listed at its end together.
    const DbOffset v = allocateRecord(RecordKind::Variation);
    listVariation(v, end);
    variation(v)->game = game;
    variation(v)->startPly = std::int16_t(line.startPly);
    variation(v)->endPly = std::int16_t(line.endPly);
    variation(v)->firstChoice = path->choices;
    if (eco)
        *eco = path->eco;
    annotateLine(line, start, v, game, prepared, plan);
    compressTail(v, plan);
    expandTails(v, plan);
    return v;
}

void fillHeader(DbOffset g, const Game& game, EcoCode pathEco)
{
    GameRecord& r = *gameRecord(g);
    setGameResult(r, game.result);
    r.white = canonicalPlayer(internPlayer(game.white));
    r.black = canonicalPlayer(internPlayer(game.black));
    const std::string event = cleanEventName(game.event);
    r.event = event.empty() ? 0 : internString(event, Dictionary::Event);
    r.site = game.site.empty() ? 0 : internString(game.site, Dictionary::Site);
    setGameRound(*gameRecord(g), game.round);
    setGameYear(*gameRecord(g), game.year);
    setGameMonth(*gameRecord(g), game.month);
    setGameDay(*gameRecord(g), game.day);
    const EcoCode own = parseEco(game.eco);
    gameRecord(g)->eco = own != kNoEco ? own : pathEco;
    for (const TagPair& tag : game.tags) {
        const DbOffset name = internString(tag.name, Dictionary::TagName);
        const DbOffset value = internString(tag.value, Dictionary::General);
        const DbOffset t = allocateRecord(RecordKind::TagVal);
        at<TagVal>(t)->name = name;
        at<TagVal>(t)->value = value;
        at<TagVal>(t)->next = gameRecord(g)->firstTag;
        gameRecord(g)->firstTag = t;
    }
}

} // namespace

DbOffset gameByNumber(std::uint32_t number)
{
    const DbOffset block = indexBlock(number, false);
    if (block == 0)
        return 0;
    const GameIndexBlock* b = at<GameIndexBlock>(block);
    const std::uint32_t slot = number % kGameIndexSlots;
    return slot < b->used ? b->games[slot] : 0;
}

namespace {

// A text kept in a pool: its record, and a pool started for it when the head could not
// take it.
std::uint64_t roomForText(std::size_t length) { return 2 * (std::uint64_t(length) + 32); }

std::uint64_t roomForLine(const GameLine& line)
{
    // Per move: a new position up to a huge record, a promotion, a move record, a choice,
    // a note record and the note's text, a glyph's record. Per line: its Variation and tail.
    constexpr std::uint64_t kPerMove = 64 + 40 + 20 + 8 + 36 + 36;
    std::uint64_t bytes = sizeof(Variation) + 8 + line.entries.size() * (kPerMove + 1);
    auto subLines = [&](const std::vector<std::unique_ptr<GameLine>>& lines) {
        for (const auto& sub : lines)
            bytes += roomForLine(*sub);
    };
    for (const MoveEntry& e : line.entries) {
        subLines(e.subLines);
        if (!e.comment.empty())
            bytes += roomForText(e.comment.size());
    }
    subLines(line.subLinesAfterEnd);
    return bytes;
}

} // namespace

std::uint64_t roomToStore(const Game& game)
{
    // A fresh pool on every chain, a game index block, and an older line's tail that the
    // new one takes back into the graph (at most a thousand moves) come on top.
    constexpr std::uint64_t kTails = 1000 * (64 + 20);
    std::uint64_t bytes = 5 * sizeof(Pool) + sizeof(GameIndexBlock) + kTails;
    bytes += roomForLine(game) + roomForText(game.initialComment.size());
    for (const std::string* text : {&game.white, &game.black, &game.event, &game.site})
        bytes += roomForText(text->size());
    for (const TagPair& tag : game.tags)
        bytes += sizeof(TagVal) + roomForText(tag.name.size()) + roomForText(tag.value.size());
    // Pools lose their ends to records that do not fit: count everything twice.
    return 2 * bytes;
}

std::optional<std::uint32_t> storeGame(const Game& game, bool combineDuplicates,
                                       const PreparedGame* prepared, bool* combined)
{
    if (combined)
        *combined = false;
    // A preparation made under other settings is not used.
    if (prepared != nullptr && !prepared->madeFor(game, currentStoreSettings()))
        prepared = nullptr;
    if (!(prepared != nullptr ? prepared->storable() : storable(game, game.startPosition)))
        return std::nullopt;
    // The game is written whole before anything shows it: its lines, notes and header
    // first, the game index last (and then the gamesets). A process stopped on the way
    // leaves the game out of every list; what it wrote stays unreachable.
    const DbOffset g = allocateRecord(RecordKind::GameRecord);
    // The index block the game will go into is made now: entering it at the end takes
    // nothing new.
    indexBlock(gameNumberOf(*gameRecord(g)), true);
    if (!game.initialComment.empty())
        setNote(game.startPosition, game.initialComment);
    EcoCode pathEco = kNoEco;
    const DbOffset mainLine =
        storeVariation(game, game.startPosition, game.result, g, &pathEco, prepared);
    fillHeader(g, game, pathEco);
    gameRecord(g)->mainLine = mainLine;
    const std::uint32_t number = gameNumberOf(*gameRecord(g));
    if (combineDuplicates) {
        if (const DbOffset earlier = duplicateOf(g)) {
            mergeGameInto(earlier, g);
            deleteGameRecord(g);
            if (combined)
                *combined = true;
            return gameNumberOf(*gameRecord(earlier));
        }
    }
    enterGameIndex(g);
    offerGame(g);
    mainLineStored(g);
    return number;
}

// --- Reading ------------------------------------------------------------------------------

namespace {

// Sub-lines nest far less deep than this; a tree deeper than it (a damaged one that runs in
// a circle) is refused before the recursion exhausts the stack.
constexpr int kMaxSubLineDepth = 1000;

// The walk of one game's tree of lines: every line it visits counts, so that a damaged tree
// whose links run in a circle ends the read as damage.
struct TreeWalk {
    WalkGuard guard{"Variation", sizeof(Variation)};
    int depth = 0;
};

void readVariation(Game& game, GameLine& line, DbOffset v, TreeWalk& walk);

void readChildren(Game& game, GameLine& line, DbOffset v, TreeWalk& walk)
{
    if (++walk.depth > kMaxSubLineDepth)
        throwDamaged(v, "sub-lines nested at most " + std::to_string(kMaxSubLineDepth) + " deep");
    for (DbOffset c = variation(v)->firstChild; c != 0; c = variation(c)->nextSibling) {
        walk.guard.step(c);
        GameLine& sub = game.createSubLine(line, variation(c)->startPly, SubLinePlace::First);
        readVariation(game, sub, c, walk);
    }
    --walk.depth;
}

void appendTail(GameLine& line, DbOffset v, Position pos)
{
    const int n = compressedLength(v);
    const char* bytes = at<char>(variation(v)->compressedTail);
    const bool nonstandard = currentHeader().nonstandard == 1;
    for (int i = 0; i < n; ++i) {
        MoveList list;
        const int count = legalMoves(pos, list, nonstandard);
        const int index = std::uint8_t(bytes[i]) - 1;
        if (index < 0 || index >= count)
            return;
        line.append(list[std::size_t(index)]);
        makeMove(pos, list[std::size_t(index)]);
    }
}

void readVariation(Game& game, GameLine& line, DbOffset v, TreeWalk& walk)
{
    struct Step {
        Move move;
        MoveGlyph glyph;
        DbOffset reached;
    };
    std::vector<Step> steps;
    const DbOffset startRecord = walkBack(v, [&](const PathStep& s) {
        steps.push_back({s.move, s.glyph, s.record});
        return true;
    });
    std::reverse(steps.begin(), steps.end());
    if (line.mainLine) {
        if (startRecord != 0)
            reconstructPosition(startRecord, game.startPosition);
        game.initialComment = noteText(startRecord);
    }
    line.entries.clear();
    line.endPly = line.startPly;
    for (const Step& s : steps) {
        MoveEntry& e = line.append(s.move, int(s.glyph));
        getScore(s.reached, e.score);
        e.comment = noteText(s.reached);
    }
    if (variation(v)->compressedTail != 0) {
        Position end;
        if (reconstructPosition(variation(v)->graphEnd, end))
            appendTail(line, v, end);
    }
    readChildren(game, line, v, walk);
}

} // namespace

void readGame(DbOffset g, Game& game, bool withMoves)
{
    game.clear();
    const GameRecord& r = *gameRecord(g);
    game.result = gameResultOf(r);
    game.white = playerDisplayName(r.white);
    game.black = playerDisplayName(r.black);
    game.event = dictionaryText(r.event);
    game.site = dictionaryText(r.site);
    game.round = gameRoundOf(r);
    game.year = gameYearOf(r);
    game.month = gameMonthOf(r);
    game.day = gameDayOf(r);
    game.eco = formatEco(r.eco);
    // The record lists the tags newest first; the game gets them in the order they came.
    WalkGuard tags("TagVal", sizeof(TagVal));
    for (DbOffset t = r.firstTag; t != 0; t = at<TagVal>(t)->next, tags.step(t))
        game.tags.push_back({std::string(dictionaryText(at<TagVal>(t)->name)),
                             std::string(dictionaryText(at<TagVal>(t)->value))});
    std::reverse(game.tags.begin(), game.tags.end());
    if (withMoves && r.mainLine != 0) {
        game.startPly = variation(r.mainLine)->startPly;
        game.endPly = game.startPly;
        TreeWalk walk;
        readVariation(game, game, r.mainLine, walk);
    }
}

// --- Deleting -----------------------------------------------------------------------------

namespace {


// A position that a gameset names, or that carries the user's note, score or mark, stays:
// it becomes a huge record of its own, which needs no way back to be rebuilt, and the
// gamesets follow it there.
void keepAsRoot(DbOffset record, const Position& pos, const PackedPosition& key)
{
    while (const DbOffset m = at<FullPosition>(record)->firstIncoming)
        unlinkMove(m);
    while (const DbOffset m = at<FullPosition>(record)->firstOutgoing)
        unlinkMove(m);
    if (isHuge(record)) {
        at<PositionRecord>(record)->flags &= std::uint8_t(~kFlagVisit); // the walk's mark
        return;
    }
    const BigPosition old = *at<BigPosition>(record);
    at<BigPosition>(record)->note = 0; // the note moves with the rest
    removePosition(record, key);
    const DbOffset root = findOrAddRoot(pos);
    BigPosition* b = at<BigPosition>(root);
    b->eco = old.eco;
    b->scoreCode = old.scoreCode;
    b->note = old.note;
    b->flags |= old.flags & kFlagUserNote;
    b->firstVariation = old.firstVariation;
    // The lines move to another record without being listed again: what is known of the
    // lines ending at each position no longer holds.
    forgetLineEnds();
    redirectGamesetPosition(record, root);
}

struct WalkedPath {
    std::vector<DbOffset> records; // from the start ply to the graph end
    std::vector<Move> moves;       // moves[i] leads from records[i] to records[i + 1]
    std::vector<bool> markedBefore;
};

WalkedPath walkAndMark(DbOffset v)
{
    WalkedPath path;
    std::vector<DbOffset> back{variation(v)->graphEnd};
    std::vector<Move> moves;
    walkBack(v, [&](const PathStep& s) {
        back.push_back(s.prev);
        moves.push_back(s.move);
        return true;
    });
    path.records.assign(back.rbegin(), back.rend());
    path.moves.assign(moves.rbegin(), moves.rend());
    // Walked from the end: a record met again closer to the start was marked at its
    // deeper occurrence.
    path.markedBefore.assign(path.records.size(), false);
    for (std::size_t i = path.records.size(); i-- > 0;) {
        std::uint8_t& flags = at<PositionRecord>(path.records[i])->flags;
        path.markedBefore[i] = flags & kFlagVisit;
        flags |= kFlagVisit;
    }
    return path;
}

// The deepest position something else needs: a line ends there, or a move leaves it that
// is not one of this line's own steps (a move back into a position of this line may be
// another game's repetition).
std::ptrdiff_t deepestNeeded(const WalkedPath& path)
{
    std::set<std::pair<DbOffset, DbOffset>> steps;
    for (std::size_t i = 0; i + 1 < path.records.size(); ++i)
        steps.insert({path.records[i], path.records[i + 1]});
    for (std::ptrdiff_t i = std::ptrdiff_t(path.records.size()) - 1; i >= 0; --i) {
        const DbOffset r = path.records[std::size_t(i)];
        if (isTiny(r))
            continue;
        if (isBig(r) && at<BigPosition>(r)->firstVariation != 0)
            return i;
        for (const GraphEdge& e : successorMoves(r)) {
            if (!steps.count({r, e.record}))
                return i;
        }
    }
    return -1;
}

void removeOwnPositions(const WalkedPath& path, std::ptrdiff_t keep, Position pos)
{
    UnusedPathPositions line;
    line.records = path.records;
    for (std::size_t i = 0; i < path.records.size(); ++i) {
        if (i > 0)
            makeMove(pos, path.moves[i - 1]);
        PackedPosition key;
        line.positions.push_back(pos);
        line.keys.push_back(packPosition(pos, key) ? std::optional(key) : std::nullopt);
    }
    const std::set<DbOffset> kept(path.records.begin(), path.records.begin() + (keep + 1));
    std::set<DbOffset> gone;
    for (std::size_t i = 0; i < path.records.size(); ++i) {
        const DbOffset r = path.records[i];
        if (std::ptrdiff_t(i) <= keep || kept.count(r) || !gone.insert(r).second)
            continue;
        if (!line.keys[i])
            removePosition(r, std::uint16_t(0)); // found by a search of every chain
        else if (carriesKnowledge(r))
            keepAsRoot(r, line.positions[i], *line.keys[i]);
        else
            removePosition(r, *line.keys[i]);
    }
    // Before the deepest position needed, the line may have come by a way of its own into
    // positions that others reach differently.
    const std::set<DbOffset> unused = removeUnusedPositions(line, keep, gone);
    for (DbOffset r : kept) {
        if (!unused.count(r))
            at<PositionRecord>(r)->flags &= std::uint8_t(~kFlagVisit);
    }
}

void deleteVariation(DbOffset v)
{
    while (const DbOffset child = variation(v)->firstChild)
        deleteVariation(child);
    const DbOffset game = variation(v)->game;
    const bool mainLine = game != 0 && gameRecord(game)->mainLine == v;
    const int result = mainLine ? gameResultOf(*gameRecord(game)) : 0;
    if (mainLine) {
        gameRecord(game)->mainLine = 0;
    } else if (const DbOffset parent = variation(v)->parent) {
        for (DbOffset* p = &variation(parent)->firstChild; *p != 0; p = &variation(*p)->nextSibling) {
            if (*p == v) {
                *p = variation(v)->nextSibling;
                break;
            }
        }
    }
    // The walk needs the tail's length to know the ply of the graph end: walk first.
    const WalkedPath path = walkAndMark(v);
    if (const DbOffset tail = variation(v)->compressedTail) {
        freeBlock(tail, std::uint32_t(compressedLength(v) + 1));
        variation(v)->compressedTail = 0;
    }
    unlistVariation(v);

    Position start;
    const bool rebuilt = !path.records.empty() && reconstructPosition(path.records[0], start);
    for (DbOffset d = variation(v)->firstChoice; d != 0;) {
        const DbOffset next = at<DisambiguationRecord>(d)->next;
        releaseRecord(RecordKind::DisambiguationRecord, d);
        d = next;
    }
    variation(v)->firstChoice = 0;
    for (std::size_t i = 0; i < path.records.size(); ++i) {
        if (!path.markedBefore[i] && !isTiny(path.records[i]) && mainLine)
            subtractGameCount(path.records[i], result);
    }
    if (rebuilt) {
        removeOwnPositions(path, deepestNeeded(path), start);
    } else {
        for (DbOffset r : path.records)
            at<PositionRecord>(r)->flags &= std::uint8_t(~kFlagVisit);
    }
    releaseRecord(RecordKind::Variation, v);
}

} // namespace

void setGameTag(DbOffset g, std::string_view name, std::string_view value)
{
    for (DbOffset t = gameRecord(g)->firstTag; t != 0; t = at<TagVal>(t)->next) {
        if (dictionaryText(at<TagVal>(t)->name) != name)
            continue;
        if (dictionaryText(at<TagVal>(t)->value) != value) {
            const DbOffset text = internString(value, Dictionary::General);
            at<TagVal>(t)->value = text;
        }
        return;
    }
    const DbOffset tagName = internString(name, Dictionary::TagName);
    const DbOffset text = internString(value, Dictionary::General);
    const DbOffset t = allocateRecord(RecordKind::TagVal);
    at<TagVal>(t)->name = tagName;
    at<TagVal>(t)->value = text;
    at<TagVal>(t)->next = gameRecord(g)->firstTag;
    gameRecord(g)->firstTag = t;
}

void deleteGameRecord(DbOffset g)
{
    if (gameRecord(g)->mainLine != 0)
        deleteVariation(gameRecord(g)->mainLine);
    for (DbOffset t = gameRecord(g)->firstTag; t != 0;) {
        const DbOffset next = at<TagVal>(t)->next;
        releaseRecord(RecordKind::TagVal, t);
        t = next;
    }
    gameRecord(g)->firstTag = 0;
    const std::uint32_t number = gameNumberOf(*gameRecord(g));
    removeGameEverywhere(number);
    leaveGameIndex(number);
    releaseRecord(RecordKind::GameRecord, g);
}

void deleteGame(std::uint32_t number)
{
    if (const DbOffset g = gameByNumber(number))
        deleteGameRecord(g);
}

} // namespace vez
