// The validation of gamesets, notes, flashcards, free lists and the counters of the header
// and of the positions (see validation.cpp).
#include <cstring>

#include "store/games.h"
#include "store/graph.h"
#include "store/heap.h"
#include "store/names.h"
#include "store/validation_state.h"

namespace vez {

namespace {

void checkRanges(ValidationState& st, DbOffset set)
{
    std::int64_t above = -2; // the next range must start beyond this
    WalkGuard guard("IntRange", sizeof(IntRange));
    for (DbOffset r = at<Gameset>(set)->ranges; r != 0; r = at<IntRange>(r)->next) {
        guard.step(r);
        const IntRange range = *at<IntRange>(r);
        if (!st.inPool(r, sizeof range, PoolChain::Sets) || !st.liveRanges.insert(r) ||
            range.low <= above + 1 || range.high < range.low ||
            std::uint32_t(range.high) >= currentHeader().gameNumbersIssued)
            return st.problem(r, "a range of gameset " + std::to_string(set) +
                                     " above the one before, of issued game numbers");
        for (std::int32_t n = range.low; n <= range.high; ++n)
            if (gameByNumber(std::uint32_t(n)) == 0)
                return st.problem(r, "game " + std::to_string(n) + " of a gameset to exist");
        above = range.high;
    }
}

void checkGameset(ValidationState& st, DbOffset set, const OffsetSet& before)
{
    const Gameset g = *at<Gameset>(set);
    const auto inDictionary = [&](DbOffset text, Dictionary d) {
        return text == 0 || st.texts[int(d)].contains(text);
    };
    const bool siteTag = g.tag != 0 && inDictionary(g.tag, Dictionary::TagName) &&
                         std::strcmp(at<char>(g.tag), "Site") == 0;
    if (!inDictionary(g.name, Dictionary::General) || !inDictionary(g.event, Dictionary::Event) ||
        !inDictionary(g.tag, Dictionary::TagName) ||
        !inDictionary(g.value, siteTag ? Dictionary::Site : Dictionary::General) ||
        (g.player != 0 && !st.players.contains(g.player)) ||
        (g.fen != 0 && st.position(g.fen) == nullptr) ||
        (g.parent != 0 && !before.contains(g.parent)) ||
        (g.other != 0 && !before.contains(g.other)) || g.rule < 0 || g.rule > 4 || g.outcome < 0 ||
        g.outcome > 3 || g.color < 0 || g.color > 2)
        st.problem(set, "a gameset's rule to name what exists, and gamesets made before it");
    checkRanges(st, set);
}

} // namespace

void checkGamesets(ValidationState& st)
{
    WalkGuard guard("Gameset", sizeof(Gameset));
    for (DbOffset s = currentHeader().firstGameset; s != 0; s = at<Gameset>(s)->next) {
        guard.step(s);
        if (!st.inPool(s, sizeof(Gameset), PoolChain::Sets))
            return st.problem(s, "a Gameset in the sets pool");
        checkGameset(st, s, st.liveSets);
        st.liveSets.insert(s);
    }
}

void checkNotesAndFlashcards(ValidationState& st)
{
    for (const PositionInfo& p : st.positions) {
        if (!(p.flags & kFlagBig))
            continue;
        WalkGuard guard("NotationRecord", sizeof(NotationRecord));
        for (DbOffset n = at<BigPosition>(p.record)->note; n != 0;
             n = at<NotationRecord>(n)->next) {
            guard.step(n);
            if (!st.inPool(n, sizeof(NotationRecord), PoolChain::Misc) ||
                !st.liveNotes.insert(n))
                return st.problem(n, "a NotationRecord of position " + std::to_string(p.record));
            // A note's text runs on through every piece; only its last piece ends it.
            const NotationRecord& piece = *at<NotationRecord>(n);
            const bool ends = std::memchr(piece.text, 0, sizeof piece.text) != nullptr;
            if (ends != (piece.next == 0))
                st.problem(n, "a note's end in its last piece only");
            if (n == at<BigPosition>(p.record)->note && piece.text[0] == 0)
                st.problem(n, "a note with text (an empty one is never kept)");
        }
    }
    const DatabaseHeader& h = currentHeader();
    st.counter("notation record count", h.notationRecordCount, st.liveNotes.size());
    std::uint32_t blocks = 0;
    std::uint64_t cards = 0;
    WalkGuard guard("FlashcardIndexBlock", sizeof(FlashcardIndexBlock));
    for (DbOffset b = h.firstFlashcardBlock; b != 0;
         b = at<FlashcardIndexBlock>(b)->next, ++blocks) {
        guard.step(b);
        const FlashcardIndexBlock& block = *at<FlashcardIndexBlock>(b);
        if (block.count > std::uint32_t(kFlashcardSlots))
            return st.problem(b, "a flashcard block with 0 to 64 slots used");
        for (std::uint32_t i = 0; i < block.count; ++i)
            if (st.position(block.slots[i]) == nullptr)
                st.problem(b, "flashcard " + std::to_string(i) + " of the block on a position");
        cards += block.count;
    }
    st.counter("flashcard index block count", h.flashcardBlockCount, blocks);
    st.counter("flashcard count", h.flashcardCount, cards);
}

namespace {

// Whether a released record is still in use as what it was.
bool stillLive(const ValidationState& st, RecordKind kind, DbOffset r)
{
    switch (kind) {
    case RecordKind::MoveRecord: return st.liveMoves.contains(r);
    case RecordKind::NotationRecord: return st.liveNotes.contains(r);
    case RecordKind::DisambiguationRecord: return st.liveChoices.contains(r);
    case RecordKind::Gameset: return st.liveSets.contains(r);
    case RecordKind::IntRange: return st.liveRanges.contains(r);
    case RecordKind::TagVal: return st.liveTags.contains(r);
    case RecordKind::Variation: return st.liveVariations.contains(r);
    case RecordKind::GameRecord: return st.liveGames.contains(r);
    default: return false;
    }
}

} // namespace

void checkFreeLists(ValidationState& st)
{
    const DatabaseHeader& h = currentHeader();
    std::uint64_t freeBytes = 0;
    OffsetSet releasedTiny;
    for (int k = 0; k <= int(RecordKind::GameRecord); ++k) {
        const RecordKind kind = RecordKind(k);
        const RecordKindInfo& info = recordKindInfo(kind);
        WalkGuard guard("free", info.size);
        for (DbOffset r = h.freeLists[int(info.freeList)]; r != 0;
             r = *at<DbOffset>(r + info.linkOffset)) {
            guard.step(r);
            const bool position = kind <= RecordKind::BigPosition;
            if (!st.inPool(r, info.size, info.chain) ||
                (position ? st.position(r) != nullptr : stillLive(st, kind, r)))
                return st.problem(r, "a released record in its pool and not in use");
            if (info.countsAsFreeBytes)
                freeBytes += info.size;
            if (kind == RecordKind::TinyPosition)
                releasedTiny.insert(r);
        }
    }
    st.counter("bytes on free lists", h.freeListBytes, freeBytes);
    // A tiny slot is chained or released: walks take the slot beside a tiny record for
    // its successor when that slot names it as its way back.
    for (const PoolSpan& pool : st.pools) {
        if (pool.chain != PoolChain::Tiny)
            continue;
        for (DbOffset t = pool.begin; t + sizeof(TinyPosition) <= pool.end;
             t += sizeof(TinyPosition)) {
            if (st.position(t) == nullptr && !releasedTiny.contains(t))
                return st.problem(t, "a tiny record slot that is chained or released");
        }
    }
    std::uint32_t larger = ~0u;
    WalkGuard guard("CompressionBlock", sizeof(CompressionBlock));
    for (DbOffset b = h.freeBlocks; b != 0; b = at<CompressionBlock>(b)->next) {
        guard.step(b);
        const std::uint32_t size = at<CompressionBlock>(b)->size;
        if (size == 0 || size % 8 != 0 || size > larger || !st.inPool(b, size, PoolChain::Blocks) ||
            st.liveBlocks.contains(b))
            return st.problem(b, "a free compression block no larger than the one before");
        larger = size;
    }
}

void checkCounts(ValidationState& st)
{
    if (!st.gamesWalked)
        return;
    if (st.linesInGames != st.liveVariations.size())
        st.problem(0, std::to_string(st.liveVariations.size()) + " lines of games, found " +
                          std::to_string(st.linesInGames));
    // The counters of a position are the main lines through it and their results.
    for (const PositionInfo& p : st.positions) {
        if (!(p.flags & kFlagFull))
            continue;
        const auto it = st.counted.find(p.record);
        const GameCounts found = it == st.counted.end() ? GameCounts{} : it->second;
        const PositionCounts stored = recordCounts(p.record);
        if (stored.games != found.games || stored.whiteWins != found.whiteWins ||
            stored.blackWins != found.blackWins)
            st.problem(p.record, "the counters of " + std::to_string(found.games) +
                                     " games through this position");
    }
}

} // namespace vez
