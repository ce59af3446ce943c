// The validation of games, names, gamesets, notes, flashcards, free lists and counters
// (see validation.cpp for the heap and the graph).
#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "chess/movegen.h"
#include "store/codes.h"
#include "store/game_paths.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/heap.h"
#include "store/names.h"
#include "store/validation_state.h"

namespace vez {

namespace {

constexpr std::uint16_t kLargestEco = 50505;

std::string_view textAt(DbOffset text)
{
    const char* p = at<char>(text);
    return {p, strnlen(p, currentHeader().usedBytes - text)};
}

// A binary search tree of texts: every entry in the misc pool, visited once, its text
// between the texts of the entries above it.
void checkDictionary(ValidationState& st, DbOffset root, OffsetSet& texts)
{
    struct Pending {
        DbOffset entry;
        std::string_view low, high; // exclusive bounds; empty high: none
    };
    std::vector<Pending> pending;
    if (root != 0)
        pending.push_back({root, {}, {}});
    WalkGuard guard("DictionaryEntry", dictionaryEntrySize(0));
    while (!pending.empty()) {
        const Pending p = pending.back();
        pending.pop_back();
        guard.step(p.entry);
        const DbOffset text = p.entry + kDictionaryTextOffset;
        if (!st.inPool(p.entry, dictionaryEntrySize(0), PoolChain::Misc) ||
            !texts.insert(text))
            return st.problem(p.entry, "a DictionaryEntry in the misc pool, in one tree place");
        const std::string_view t = textAt(text);
        if (!st.inPool(p.entry, dictionaryEntrySize(std::uint32_t(t.size())), PoolChain::Misc) ||
            (!p.low.empty() && t <= p.low) || (!p.high.empty() && t >= p.high))
            st.problem(p.entry, "a dictionary text in its tree's order");
        const DictionaryEntry e = *at<DictionaryEntry>(p.entry);
        if (e.left != 0)
            pending.push_back({e.left, p.low, t});
        if (e.right != 0)
            pending.push_back({e.right, t, p.high});
    }
}

void checkPlayer(ValidationState& st, DbOffset player)
{
    const Player& p = *at<Player>(player);
    for (const DbOffset name : {p.firstName, p.middleName})
        if (name != 0 && !st.texts[int(Dictionary::General)].contains(name))
            st.problem(player, "a player's names in the general dictionary");
    if (p.canonical > 1)
        st.problem(player, "a player's canonical flag of 0 or 1");
    WalkGuard guard("Player", playerRecordSize(0));
    DbOffset r = p.nextAlias;
    for (; r != player; r = at<Player>(r)->nextAlias) {
        guard.step(r);
        if (!st.inPool(r, playerRecordSize(0), PoolChain::Misc))
            return st.problem(r, "a Player in the alias ring of " + std::to_string(player));
    }
}

} // namespace

void checkNames(ValidationState& st)
{
    const DatabaseHeader& h = currentHeader();
    const DbOffset roots[] = {h.generalDictionary, h.eventDictionary, h.siteDictionary,
                              h.tagNameDictionary};
    for (int d = 0; d < 4; ++d) {
        try {
            checkDictionary(st, roots[d], st.texts[d]);
        } catch (const DamagedDatabase& damage) {
            st.problem(damage.detail());
        }
    }
    std::vector<DbOffset> pending;
    if (h.playerRoot != 0)
        pending.push_back(h.playerRoot);
    WalkGuard guard("Player", playerRecordSize(0));
    while (!pending.empty()) {
        const DbOffset player = pending.back();
        pending.pop_back();
        guard.step(player);
        if (!st.inPool(player, playerRecordSize(0), PoolChain::Misc) ||
            !st.players.insert(player))
            return st.problem(player, "a Player in the misc pool, in one tree place");
        for (const DbOffset child : {at<Player>(player)->left, at<Player>(player)->right})
            if (child != 0)
                pending.push_back(child);
    }
    st.players.forEach([&](DbOffset player) { checkPlayer(st, player); });
}

namespace {

void checkGameFields(ValidationState& st, DbOffset g, std::uint32_t number)
{
    const GameRecord& r = *at<GameRecord>(g);
    if (gameNumberOf(r) != number || (r.number >> 22) != 0)
        st.problem(g, "the GameRecord of game " + std::to_string(number));
    for (const DbOffset player : {r.white, r.black})
        if (player != 0 && !st.players.contains(player))
            st.problem(g, "a game's players in the player tree");
    if ((r.event != 0 && !st.texts[int(Dictionary::Event)].contains(r.event)) ||
        (r.site != 0 && !st.texts[int(Dictionary::Site)].contains(r.site)))
        st.problem(g, "a game's event and site in their dictionaries");
    if (r.eco > kLargestEco || (r.resultRound & 0xC0) != 0 || gameMonthOf(r) > 12 ||
        (r.month & 0xF0) != 0 || (r.year & 0xF800) != 0 || (r.day & 0xE0) != 0 || r.unused != 0)
        st.problem(g, "a game's date, round, result and ECO code in their ranges");
    WalkGuard guard("TagVal", sizeof(TagVal));
    for (DbOffset t = r.firstTag; t != 0; t = at<TagVal>(t)->next) {
        guard.step(t);
        if (!st.inPool(t, sizeof(TagVal), PoolChain::Misc) || !st.liveTags.insert(t))
            return st.problem(t, "a TagVal in the misc pool, of one game");
        const TagVal& tag = *at<TagVal>(t);
        if (!st.texts[int(Dictionary::TagName)].contains(tag.name) ||
            !st.texts[int(Dictionary::General)].contains(tag.value))
            st.problem(t, "a tag's name and value in their dictionaries");
    }
}

// The choices of a line: descending steps inside the line's graph part.
void checkChoices(ValidationState& st, DbOffset v, int graphPlies)
{
    int below = graphPlies + 1;
    WalkGuard guard("DisambiguationRecord", sizeof(DisambiguationRecord));
    for (DbOffset c = at<Variation>(v)->firstChoice; c != 0;
         c = at<DisambiguationRecord>(c)->next) {
        guard.step(c);
        const DisambiguationRecord& d = *at<DisambiguationRecord>(c);
        if (!st.inPool(c, sizeof d, PoolChain::Misc) || !st.liveChoices.insert(c) ||
            d.step <= 0 || d.step >= below || d.choiceIndex == 0)
            return st.problem(c, "a choice of line " + std::to_string(v) +
                                     " with a step below the one before");
        below = d.step;
    }
}

// The compressed tail decodes into moves, from the line's graph end.
void checkTail(ValidationState& st, const Variation& line, DbOffset v)
{
    if (!st.inPool(line.compressedTail, 8, PoolChain::Blocks) ||
        !st.liveBlocks.insert(line.compressedTail))
        return st.problem(line.compressedTail, "the compressed tail of line " + std::to_string(v));
    const PositionInfo* end = st.position(line.graphEnd);
    if (end == nullptr || !end->keyKnown)
        return;
    Position pos;
    unpackPosition(end->key, pos);
    const bool nonstandard = currentHeader().nonstandard == 1;
    for (const unsigned char byte : textAt(line.compressedTail)) {
        MoveList list;
        const int count = legalMoves(pos, list, nonstandard);
        if (byte - 1 >= count)
            return st.problem(line.compressedTail, "a compressed move within its move list");
        makeMove(pos, list[byte - 1]);
    }
}

// The records of a line's graph part, by ply from its start ply; empty when the way back
// is broken.
struct LinePath {
    int startPly = 0;
    std::vector<DbOffset> records;
};

LinePath linePath(DbOffset v, int graphEndPly)
{
    const Variation& line = *at<Variation>(v);
    LinePath path{line.startPly,
                  std::vector<DbOffset>(std::size_t(graphEndPly - line.startPly + 1))};
    path.records.back() = line.graphEnd;
    const DbOffset start = walkBack(v, [&](const PathStep& s) {
        path.records[std::size_t(s.ply - 1 - path.startPly)] = s.prev;
        return true;
    });
    if (start == 0)
        path.records.clear();
    return path;
}

// Counts the game on every non-tiny record its main line passes once.
void countMainLine(ValidationState& st, const LinePath& path, int result)
{
    std::vector<DbOffset> passed;
    for (const DbOffset r : path.records) {
        if (!isTiny(r))
            passed.push_back(r);
    }
    std::sort(passed.begin(), passed.end());
    passed.erase(std::unique(passed.begin(), passed.end()), passed.end());
    for (const DbOffset r : passed) {
        GameCounts& c = st.counted[r];
        ++c.games;
        c.whiteWins += result == 1;
        c.blackWins += result == 2;
    }
}

// A sub-line starts where its parent stands at the sub-line's start ply.
bool startsOnParent(const LinePath& path, const LinePath* parent)
{
    if (parent == nullptr || parent->records.empty())
        return true;
    const int at = path.startPly - parent->startPly;
    if (at < 0)
        return false;
    return std::size_t(at) >= parent->records.size() ||
           parent->records[std::size_t(at)] == path.records.front();
}

void checkLine(ValidationState& st, DbOffset v, DbOffset game, const LinePath* parent)
{
    if (!st.liveVariations.contains(v))
        return st.problem(v, "a line of game record " + std::to_string(game) +
                                 " listed at its graph end");
    ++st.linesInGames;
    const Variation line = *at<Variation>(v);
    const int tail = line.compressedTail != 0 ? int(textAt(line.compressedTail).size()) : 0;
    const bool parentOk = parent == nullptr ? line.parent == 0 : line.parent != 0;
    if (line.game != game || !parentOk || line.startPly < 0 || line.endPly - tail < line.startPly)
        return st.problem(v, "a line of game record " + std::to_string(game) +
                                 " with its plies in order");
    checkChoices(st, v, line.endPly - tail - line.startPly);
    if (line.compressedTail != 0)
        checkTail(st, line, v);
    const LinePath path = linePath(v, line.endPly - tail);
    if (path.records.empty())
        return st.problem(v, "a line that leads back to its start");
    if (!startsOnParent(path, parent))
        st.problem(v, "a line that starts where its parent line stands at ply " +
                          std::to_string(line.startPly));
    if (parent == nullptr)
        countMainLine(st, path, gameResultOf(*at<GameRecord>(game)));
    WalkGuard guard("Variation", sizeof(Variation));
    for (DbOffset c = line.firstChild; c != 0; c = at<Variation>(c)->nextSibling) {
        guard.step(c);
        if (at<Variation>(c)->parent != v)
            st.problem(c, "a line whose parent is line " + std::to_string(v));
        checkLine(st, c, game, &path);
    }
}

// Every line listed at a big record, with the record as its graph end.
void collectLines(ValidationState& st)
{
    for (const PositionInfo& p : st.positions) {
        if (!(p.flags & kFlagBig))
            continue;
        WalkGuard guard("Variation", sizeof(Variation));
        for (DbOffset v = at<BigPosition>(p.record)->firstVariation; v != 0;
             v = at<Variation>(v)->nextAtEnd) {
            guard.step(v);
            if (!st.inPool(v, sizeof(Variation), PoolChain::Misc) ||
                at<Variation>(v)->graphEnd != p.record || !st.liveVariations.insert(v))
                return st.problem(v, "a Variation ending at position " + std::to_string(p.record));
        }
    }
}

void checkGame(ValidationState& st, DbOffset g, std::uint32_t number)
{
    if (!st.inPool(g, sizeof(GameRecord), PoolChain::Misc) || !st.liveGames.insert(g))
        return st.problem(g, "the GameRecord of game " + std::to_string(number));
    checkGameFields(st, g, number);
    const DbOffset main = at<GameRecord>(g)->mainLine;
    if (main == 0)
        return st.problem(g, "the main line of game " + std::to_string(number));
    checkLine(st, main, g, nullptr);
}

} // namespace

void checkGames(ValidationState& st)
{
    collectLines(st);
    const DatabaseHeader& h = currentHeader();
    std::uint32_t blocks = 0;
    WalkGuard guard("GameIndexBlock", sizeof(GameIndexBlock));
    for (DbOffset b = h.firstGameIndexBlock; b != 0; b = at<GameIndexBlock>(b)->next, ++blocks) {
        guard.step(b);
        const GameIndexBlock& block = *at<GameIndexBlock>(b);
        if (block.used > std::uint32_t(kGameIndexSlots))
            return st.problem(b, "a game index block with 0 to 512 slots used");
        for (std::uint32_t slot = 0; slot < block.used; ++slot) {
            const std::uint32_t number = blocks * kGameIndexSlots + slot;
            if (block.games[slot] == 0)
                continue;
            if (number >= h.gameNumbersIssued)
                st.problem(b, "no game numbered " + std::to_string(number) + " or above");
            try {
                checkGame(st, block.games[slot], number);
            } catch (const DamagedDatabase& damage) {
                st.problem("game " + std::to_string(number) + ": " + damage.detail());
            }
        }
    }
    st.counter("game index block count", h.gameIndexBlockCount, blocks);
    st.counter("variation count", h.variationCount, st.liveVariations.size());
    st.gamesWalked = true;
}

} // namespace vez
