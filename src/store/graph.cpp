#include "store/graph.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <unordered_map>
#include <vector>

#include "chess/movegen.h"
#include "store/checksum.h"
#include "store/damage.h"
#include "store/flashcards.h"
#include "store/heap.h"
#include "store/position_index.h"
#include "store/prefetch.h"

namespace vez {

namespace {

TinyPosition* tiny(DbOffset r) { return at<TinyPosition>(r); }
FullPosition* full(DbOffset r) { return at<FullPosition>(r); }
BigPosition* big(DbOffset r) { return at<BigPosition>(r); }
MoveRecord* moveRecord(DbOffset r) { return at<MoveRecord>(r); }

MoveGlyph tinyGlyph(DbOffset r)
{
    return MoveGlyph((flagsOf(r) & kTinyGlyphMask) >> kTinyGlyphShift);
}

void setTinyGlyph(DbOffset r, MoveGlyph glyph)
{
    noteImageChange();
    std::uint8_t& flags = tiny(r)->flags;
    flags = std::uint8_t((flags & ~kTinyGlyphMask) | (int(glyph) << kTinyGlyphShift));
}

// No real walk is longer than the number of records the image could hold.
std::uint64_t walkLimit() { return currentHeader().usedBytes / sizeof(TinyPosition) + 1; }

bool packAndHash(const Position& pos, PackedPosition& key, std::uint16_t& hash)
{
    if (!packPosition(pos, key))
        return false;
    hash = primaryHash(key);
    return true;
}

bool sameKey(DbOffset record, const PackedPosition& key)
{
    PositionIndex* index = builtPositionIndex();
    if (const PackedPosition* known = index != nullptr ? index->knownKey(record) : nullptr)
        return *known == key;
    Position pos;
    PackedPosition other;
    if (!reconstructPosition(record, pos) || !packPosition(pos, other))
        return false;
    if (index != nullptr)
        index->rememberKey(record, other);
    return other == key;
}

// The specified lookup: walk the chain and compare rebuilt keys.
DbOffset findInChain(const PackedPosition& key, std::uint16_t hash)
{
    const std::uint8_t code = secondaryCode(key);
    std::size_t walked = 0;
    for (DbOffset r = hashSlot(hash); r != 0; r = at<PositionRecord>(r)->nextInChain, ++walked) {
        if (at<PositionRecord>(r)->secondary == code && sameKey(r, key)) {
            noteChainWalk(walked);
            return r;
        }
    }
    noteChainWalk(walked);
    return 0;
}

// Whether a record holds the key, as the chain walk decides it.
bool holdsKey(DbOffset record, const PackedPosition& key)
{
    return at<PositionRecord>(record)->secondary == secondaryCode(key) && sameKey(record, key);
}

DbOffset findPacked(const PackedPosition& key, std::uint16_t hash)
{
    if (const PositionIndex* index = lookupPositionIndex()) {
        return index->find(hash, PositionIndex::tagOf(PositionIndex::hashOf(key)),
                           [&key](DbOffset r) { return holdsKey(r, key); });
    }
    return findInChain(key, hash);
}

void chainAtHead(DbOffset record, std::uint16_t hash, std::uint16_t tag)
{
    noteImageChange();
    DbOffset& slot = hashSlot(hash);
    const DbOffset oldHead = slot;
    at<PositionRecord>(record)->nextInChain = oldHead;
    slot = record;
    if (PositionIndex* index = builtPositionIndex())
        index->chainedAtHead(hash, record, tag);
}

bool unchainFrom(DbOffset record, DbOffset& link)
{
    for (DbOffset* p = &link; *p != 0; p = &at<PositionRecord>(*p)->nextInChain) {
        if (*p == record) {
            *p = at<PositionRecord>(record)->nextInChain;
            return true;
        }
    }
    return false;
}

// Takes a record out of its chain; returns its tag in the index, for the record that
// takes its place (0 when there is no index to keep).
std::uint16_t unchain(DbOffset record, std::uint16_t hash)
{
    noteImageChange();
    if (PositionIndex* index = builtPositionIndex()) {
        if (const auto place = index->locate(hash, record)) {
            const DbOffset before = place->before;
            const bool inImage =
                std::uint64_t(before) + sizeof(TinyPosition) <= currentHeader().usedBytes;
            DbOffset* link = before == 0 ? &hashSlot(hash)
                             : inImage   ? &at<PositionRecord>(before)->nextInChain
                                         : nullptr;
            if (link != nullptr && *link == record) {
                *link = at<PositionRecord>(record)->nextInChain;
                index->unchained(hash, *place);
                return place->tag;
            }
        }
        invalidatePositionIndex(); // the index no longer matches the file's chains
    }
    if (unchainFrom(record, hashSlot(hash)))
        return 0;
    // A record whose position could not be rebuilt: look for it in every chain.
    for (std::uint32_t slot = 0; slot < kHashSlots; ++slot) {
        if (unchainFrom(record, hashSlot(std::uint16_t(slot))))
            return 0;
    }
    return 0;
}

// Appends a MoveRecord at the tail of a list threaded through the given link field.
void appendTo(DbOffset& head, DbOffset record, DbOffset MoveRecord::*link)
{
    noteImageChange();
    DbOffset* p = &head;
    while (*p != 0)
        p = &(moveRecord(*p)->*link);
    *p = record;
}

void removeFrom(DbOffset& head, DbOffset record, DbOffset MoveRecord::*link)
{
    noteImageChange();
    for (DbOffset* p = &head; *p != 0; p = &(moveRecord(*p)->*link)) {
        if (*p == record) {
            *p = moveRecord(record)->*link;
            return;
        }
    }
}

DbOffset newMoveRecord(Move move, std::uint8_t mask, MoveGlyph glyph, DbOffset from, DbOffset to)
{
    const DbOffset r = allocateRecord(RecordKind::MoveRecord);
    MoveRecord* m = moveRecord(r);
    m->move = moveCode(move);
    m->pathMask = mask;
    m->glyph = std::uint8_t(int(glyph) & kMoveGlyphMask);
    m->from = from;
    m->to = to;
    return r;
}

// The outgoing MoveRecord of a non-tiny record that leads to another record.
DbOffset outgoingTo(DbOffset from, DbOffset to)
{
    WalkGuard guard("MoveRecord", sizeof(MoveRecord));
    for (DbOffset m = full(from)->firstOutgoing; m != 0; m = moveRecord(m)->nextOutgoing) {
        guard.step(m);
        if (moveRecord(m)->to == to)
            return m;
    }
    return 0;
}

DbOffset incomingFrom(DbOffset to, DbOffset from)
{
    WalkGuard guard("MoveRecord", sizeof(MoveRecord));
    for (DbOffset m = full(to)->firstIncoming; m != 0; m = moveRecord(m)->nextIncoming) {
        guard.step(m);
        if (moveRecord(m)->from == from)
            return m;
    }
    return 0;
}

// Counters of the record a tiny one carries the counts of: the next non-tiny record
// along its successors (pos is the position of start).
PositionCounts countsFollowing(DbOffset start, const Position& pos)
{
    TinyWalk walk(start, pos);
    for (std::uint64_t steps = walkLimit();
         walk.record() != 0 && isTiny(walk.record()) && steps > 0; --steps)
        walk.step();
    const DbOffset r = walk.record();
    return r != 0 && !isTiny(r) ? recordCounts(r) : PositionCounts{};
}

DbOffset newPositionRecord(RecordKind kind, std::uint8_t flags, const KeyHashes& hashes)
{
    const DbOffset r = allocateRecord(kind);
    at<PositionRecord>(r)->secondary = hashes.secondary;
    at<PositionRecord>(r)->flags = flags;
    chainAtHead(r, hashes.primary, PositionIndex::tagOf(hashes.index));
    return r;
}

// Whether the edge from pred by move ends at record.
bool leadsTo(DbOffset pred, Move move, DbOffset record)
{
    if (isTiny(pred)) {
        return tiny(pred)->successorMove == moveCode(move) &&
               (isTiny(record) ? tiny(record)->predecessor == pred
                               : incomingFrom(record, pred) != 0);
    }
    if (!isTiny(record)) {
        const DbOffset m = incomingFrom(record, pred);
        return m != 0 && moveRecord(m)->move == moveCode(move);
    }
    return tiny(record)->predecessor == pred && successorByMove(pred, move) == record;
}

} // namespace

// findPacked for the position that pred (0 for none) leads to by move, were it in the
// graph. With one record per key, a candidate the edge ends at needs no rebuilt position:
// that proof covers a line running along known moves, and only where a line joins the
// graph from elsewhere is a position rebuilt.
DbOffset findReached(const PositionIndex& index, const PackedPosition& key,
                     const KeyHashes& hashes, DbOffset pred, Move move)
{
    const std::uint8_t code = hashes.secondary;
    const bool provable = pred != 0 && !index.sawDuplicates;
    return index.find(hashes.primary, PositionIndex::tagOf(hashes.index), [&](DbOffset r) {
        if (at<PositionRecord>(r)->secondary != code)
            return false;
        return (provable && leadsTo(pred, move, r)) || sameKey(r, key);
    });
}

DbOffset& hashSlot(std::uint16_t hash) { return at<DbOffset>(currentHeader().hashTable)[hash]; }

std::optional<PredecessorStep> predecessorStep(DbOffset record)
{
    if (isTiny(record)) {
        const DbOffset pred = tiny(record)->predecessor;
        if (pred == 0)
            return std::nullopt;
        if (isTiny(pred))
            return PredecessorStep{pred, Move(tiny(pred)->successorMove)};
        const DbOffset m = outgoingTo(pred, record);
        if (m == 0)
            return std::nullopt;
        return PredecessorStep{pred, Move(moveRecord(m)->move)};
    }
    const DbOffset m = full(record)->firstIncoming;
    if (m == 0)
        return std::nullopt;
    return PredecessorStep{moveRecord(m)->from, Move(moveRecord(m)->move)};
}

bool reconstructPosition(DbOffset record, Position& pos)
{
    thread_local std::vector<Move> moves;
    moves.clear();
    DbOffset r = record;
    for (std::uint64_t steps = walkLimit();; --steps) {
        if (steps == 0)
            return false;
        if (isHuge(r)) {
            PackedPosition key;
            std::memcpy(key.bytes, at<HugePosition>(r)->key, sizeof key.bytes);
            unpackPosition(key, pos);
            break;
        }
        const std::optional<PredecessorStep> step = predecessorStep(r);
        if (!step) {
            if (isTiny(r))
                return false;
            setStandardStart(pos);
            break;
        }
        moves.push_back(step->move);
        r = step->record;
    }
    for (auto it = moves.rbegin(); it != moves.rend(); ++it)
        makeMove(pos, *it);
    return true;
}

DbOffset findPosition(const Position& pos)
{
    PackedPosition key;
    std::uint16_t hash;
    return packAndHash(pos, key, hash) ? findPacked(key, hash) : 0;
}

DbOffset findPackedPosition(const PackedPosition& key) { return findPacked(key, primaryHash(key)); }

namespace {

// The pools of tiny records in ascending order, kept in memory for the image they were
// read from. Pools are only ever added, at the head of their chain and at the heap top,
// so a new head means new pools to add at the end.
class TinyPools {
public:
    // The slots taken from t's pool; none when t is in no pool.
    TinyPoolSlots takenAround(DbOffset t)
    {
        refresh();
        // Walks stay in one pool for hundreds of steps: try the last pool first.
        if (m_last >= m_pools.size() || t < m_pools[m_last].pool ||
            t >= m_pools[m_last].pool + sizeof(Pool)) {
            const auto it = std::upper_bound(
                m_pools.begin(), m_pools.end(), t,
                [](DbOffset offset, const Known& known) { return offset < known.pool; });
            if (it == m_pools.begin())
                return {};
            m_last = std::size_t(it - m_pools.begin()) - 1;
        }
        const DbOffset pool = m_pools[m_last].pool;
        // Only the newest pool still fills; the others' fill is known.
        const std::int16_t used = pool == m_head ? at<Pool>(pool)->used : m_pools[m_last].used;
        const DbOffset first = pool + DbOffset(offsetof(Pool, space));
        return {first, first + std::uint32_t(std::max<std::int16_t>(used, 0))};
    }

    // The record slots right after and right before t among those taken from its pool; 0
    // for none.
    static std::pair<DbOffset, DbOffset> neighbours(DbOffset t, const TinyPoolSlots& taken)
    {
        constexpr DbOffset kSize = sizeof(TinyPosition);
        if (t < taken.first || (t - taken.first) % kSize != 0 || t + kSize > taken.end)
            return {0, 0};
        return {t + 2 * kSize <= taken.end ? t + kSize : 0, t > taken.first ? t - kSize : 0};
    }
    std::pair<DbOffset, DbOffset> neighbours(DbOffset t) { return neighbours(t, takenAround(t)); }

private:
    struct Known {
        DbOffset pool;
        std::int16_t used; // as it was when the pool stopped being the newest
    };

    void refresh()
    {
        const DbOffset head = currentHeader().poolChains[int(PoolChain::Tiny)];
        if (m_base == currentBase && m_epoch == imageEpoch() && m_head == head)
            return;
        const bool extend = m_base == currentBase && m_epoch == imageEpoch() && m_head != 0;
        std::vector<Known> added;
        const std::uint64_t limit = currentHeader().usedBytes / sizeof(Pool) + 1;
        for (DbOffset p = head; p != 0 && added.size() < limit; p = at<Pool>(p)->next) {
            if (extend && p == m_head)
                break;
            added.push_back({p, at<Pool>(p)->used});
        }
        const auto byPlace = [](const Known& a, const Known& b) { return a.pool < b.pool; };
        if (!extend || added.size() >= limit) {
            m_pools.clear();
        } else {
            // The pool that was the newest has filled since.
            const auto old =
                std::lower_bound(m_pools.begin(), m_pools.end(), Known{m_head, 0}, byPlace);
            if (old != m_pools.end() && old->pool == m_head)
                old->used = at<Pool>(m_head)->used;
        }
        // New pools come from the heap top, above the ones known.
        const std::size_t from = m_pools.size();
        m_pools.insert(m_pools.end(), added.rbegin(), added.rend());
        const auto junction = m_pools.begin() + std::ptrdiff_t(from == 0 ? 0 : from - 1);
        if (!std::is_sorted(junction, m_pools.end(), byPlace))
            std::sort(m_pools.begin(), m_pools.end(), byPlace);
        m_base = currentBase;
        m_epoch = imageEpoch();
        m_head = head;
        m_last = m_pools.size();
    }

    const std::uint8_t* m_base = nullptr;
    std::uint64_t m_epoch = 0;
    DbOffset m_head = 0;
    std::size_t m_last = 0; // the pool of the last question, when below m_pools.size()
    std::vector<Known> m_pools;
};

// Never destroyed: walks may run in other statics' destructors at exit.
TinyPools& tinyPools = *new TinyPools;

} // namespace

namespace {

// A line's new records are taken one after another, from the pool upwards or, when they
// come back from the free list of a released line, downwards: a tiny record's successor
// is most often a neighbouring slot of the same pool. A tiny record there that names this
// one as its predecessor is the successor: a record has one way out, and a released
// record's link can name this record only while this one is released too (the free list
// is last in, first out). 0 when neither neighbour is.
DbOffset successorAmong(DbOffset tinyRecord, std::pair<DbOffset, DbOffset> neighbours)
{
    for (const DbOffset next : {neighbours.first, neighbours.second}) {
        if (next != 0 && isTiny(next) && tiny(next)->predecessor == tinyRecord)
            return next;
    }
    return 0;
}

DbOffset neighbouringSuccessor(DbOffset tinyRecord)
{
    return successorAmong(tinyRecord, tinyPools.neighbours(tinyRecord));
}

// The successor of a tiny record found by its position (pos, after the move), as the
// chain lookup defines it.
DbOffset chainSuccessor(const PackedPosition& key, std::uint16_t hash)
{
    const std::uint8_t code = secondaryCode(key);
    DbOffset match = 0;
    int matches = 0;
    for (DbOffset r = hashSlot(hash); r != 0; r = at<PositionRecord>(r)->nextInChain) {
        if (at<PositionRecord>(r)->secondary == code && matches++ == 0)
            match = r;
    }
    if (matches <= 1)
        return match;
    return findPacked(key, hash);
}

// Whether record is the one a line enters from the tiny record from. A tiny record has one
// way out, so in a sound graph one record alone names it as the way in: the chain walk
// can stop there, with no key rebuilt however many records share its secondary code.
bool entersFrom(DbOffset record, DbOffset from)
{
    return isTiny(record) ? tiny(record)->predecessor == from : incomingFrom(record, from) != 0;
}

// A lookup in flight: a cursor in the chain of the position after the tiny record's move.
struct ChainCursor {
    SuccessorQuery* query = nullptr;
    PackedPosition key;
    std::uint16_t hash = 0;
    std::uint8_t code = 0;
    DbOffset record = 0;
    std::uint64_t left = 0;
};

void prefetchRecord(DbOffset record)
{
    if (record != 0 && record < currentHeader().usedBytes)
        prefetch(currentBase + record);
}

// One step of a cursor; true when its query is answered.
bool advance(ChainCursor& c)
{
    if (c.record == 0) {
        // No record of the chain enters from the tiny one (a damaged graph): the answer
        // is the chain lookup's.
        c.query->successor = chainSuccessor(c.key, c.hash);
        return true;
    }
    if (c.left-- == 0)
        throwDamaged(c.record, "the end of a hash chain");
    const PositionRecord* r = at<PositionRecord>(c.record);
    if (r->secondary == c.code && entersFrom(c.record, c.query->tiny)) {
        c.query->successor = c.record;
        return true;
    }
    c.record = r->nextInChain;
    prefetchRecord(c.record);
    return false;
}

} // namespace

void findTinySuccessors(std::span<SuccessorQuery> queries)
{
    const PositionIndex* index = lookupPositionIndex();
    // A chain is a hundred records in a large image, each a cache miss of its own; walked
    // side by side, the misses of several chains overlap.
    constexpr std::size_t kLanes = 32;
    // Every key first, with its hash slot fetched ahead of the walks.
    struct Key {
        PackedPosition key;
        std::uint16_t hash;
        bool packed;
    };
    thread_local std::vector<Key> keys;
    keys.resize(queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) {
        Key& k = keys[i];
        queries[i].successor = 0;
        k.packed = packAndHash(queries[i].position, k.key, k.hash);
        if (k.packed && index != nullptr)
            queries[i].successor = findReached(
                *index, k.key, {k.hash, PositionIndex::hashOf(k.key), secondaryCode(k.key)},
                queries[i].tiny, Move(tiny(queries[i].tiny)->successorMove));
        else if (k.packed)
            prefetch(&hashSlot(k.hash));
    }
    if (index != nullptr)
        return;
    std::array<ChainCursor, kLanes> lanes;
    std::size_t next = 0;
    const auto load = [&](ChainCursor& c) {
        for (; next < queries.size(); ++next) {
            const Key& k = keys[next];
            if (!k.packed)
                continue;
            c = {&queries[next],   k.key,      k.hash, secondaryCode(k.key),
                 hashSlot(k.hash), walkLimit()};
            prefetchRecord(c.record);
            ++next;
            return true;
        }
        return false;
    };
    std::size_t active = 0;
    std::array<bool, kLanes> busy{};
    for (std::size_t i = 0; i < kLanes; ++i)
        active += busy[i] = load(lanes[i]);
    while (active > 0) {
        for (std::size_t i = 0; i < kLanes; ++i) {
            if (busy[i] && advance(lanes[i]) && !(busy[i] = load(lanes[i])))
                --active;
        }
    }
}

namespace {

DbOffset successorAt(DbOffset tinyRecord, const Position& pos)
{
    SuccessorQuery query{tinyRecord, pos, 0};
    findTinySuccessors({&query, 1});
    return query.successor;
}

} // namespace

DbOffset tinySuccessor(DbOffset tinyRecord, Position& pos)
{
    const Move move = Move(tiny(tinyRecord)->successorMove);
    if (move == Move::None)
        return 0;
    makeMove(pos, move);
    if (const DbOffset next = neighbouringSuccessor(tinyRecord))
        return next;
    return successorAt(tinyRecord, pos);
}

DbOffset TinyWalk::step()
{
    if (stepNearby())
        return m_record;
    const Move move = Move(tiny(m_record)->successorMove);
    if (move == Move::None)
        return m_record = 0;
    makeMove(const_cast<Position&>(position()), move);
    const DbOffset from = m_record;
    return m_record = successorAt(from, m_pos);
}

bool TinyWalk::stepNearby()
{
    const Move move = Move(tiny(m_record)->successorMove);
    if (move == Move::None)
        return false;
    // The graph stands still while a walk lasts: the pool it walks in is looked up again
    // only when the walk leaves it.
    if (!m_pool.holds(m_record))
        m_pool = tinyPools.takenAround(m_record);
    const DbOffset next = successorAmong(m_record, TinyPools::neighbours(m_record, m_pool));
    if (next == 0)
        return false;
    if (m_pendingCount == m_pending.size())
        position();
    m_pending[m_pendingCount++] = move;
    m_record = next;
    return true;
}

const Position& TinyWalk::position()
{
    for (std::size_t i = 0; i < m_pendingCount; ++i)
        makeMove(m_pos, m_pending[i]);
    m_pendingCount = 0;
    return m_pos;
}

KeyHashes hashesOf(const PackedPosition& key)
{
    return {primaryHash(key), PositionIndex::hashOf(key), secondaryCode(key)};
}

DbOffset addTinyPosition([[maybe_unused]] const PackedPosition& key, const KeyHashes& hashes)
{
    assert(hashes.secondary == secondaryCode(key) && hashes.primary == primaryHash(key));
    return newPositionRecord(RecordKind::TinyPosition, 0, hashes);
}

DbOffset addFullPosition([[maybe_unused]] const PackedPosition& key, const KeyHashes& hashes)
{
    assert(hashes.secondary == secondaryCode(key) && hashes.primary == primaryHash(key));
    return newPositionRecord(RecordKind::FullPosition, kNewFullFlags, hashes);
}

DbOffset addTinyPosition(const PackedPosition& key) { return addTinyPosition(key, hashesOf(key)); }
DbOffset addFullPosition(const PackedPosition& key) { return addFullPosition(key, hashesOf(key)); }

namespace {

DbOffset addRoot(const PackedPosition& key, std::uint16_t hash)
{
    const DbOffset r = allocateHugePosition();
    HugePosition* h = at<HugePosition>(r);
    h->big.secondary = secondaryCode(key);
    h->big.flags = kNewHugeFlags;
    h->big.scoreCode = kNoScoreCode;
    std::memcpy(h->key, key.bytes, sizeof key.bytes);
    chainAtHead(r, hash, PositionIndex::tagOf(PositionIndex::hashOf(key)));
    return r;
}

} // namespace

DbOffset findOrAddRoot(const Position& pos)
{
    PackedPosition key;
    std::uint16_t hash;
    if (!packAndHash(pos, key, hash))
        return 0;
    if (const DbOffset found = findPacked(key, hash))
        return found;
    return addRoot(key, hash);
}

DbOffset successorByMove(DbOffset from, Move move)
{
    for (DbOffset m = full(from)->firstOutgoing; m != 0; m = moveRecord(m)->nextOutgoing) {
        if (moveRecord(m)->move == moveCode(move))
            return moveRecord(m)->to;
    }
    return 0;
}

bool comesFrom(DbOffset record, DbOffset pred)
{
    if (pred == 0)
        return false;
    if (isTiny(record))
        return tiny(record)->predecessor == pred;
    return incomingFrom(record, pred) != 0;
}

int incomingCount(DbOffset record)
{
    if (isTiny(record))
        return tiny(record)->predecessor != 0;
    int n = 0;
    for (DbOffset m = full(record)->firstIncoming; m != 0; m = moveRecord(m)->nextIncoming)
        ++n;
    return n;
}

int incomingIndex(DbOffset to, DbOffset from)
{
    int k = 0;
    for (DbOffset m = full(to)->firstIncoming; m != 0; m = moveRecord(m)->nextIncoming, ++k) {
        if (moveRecord(m)->from == from)
            return k;
    }
    return k;
}

DbOffset incomingAt(DbOffset record, int index)
{
    DbOffset m = full(record)->firstIncoming;
    while (m != 0 && index-- > 0)
        m = moveRecord(m)->nextIncoming;
    return m;
}

DbOffset linkMove(DbOffset from, DbOffset to, Move move, DbOffset previous)
{
    noteImageChange();
    int k = 0;
    if (isTiny(from)) {
        if (tiny(from)->successorMove == moveCode(move)) {
            if (isTiny(to))
                return 0;
            const DbOffset m = incomingFrom(to, from);
            if (m != 0)
                moveRecord(m)->pathMask |= 1;
            return m;
        }
    } else {
        k = previous != 0 ? incomingIndex(from, previous) : 0;
        if (const DbOffset m = outgoingTo(from, to)) {
            if (k < 8)
                moveRecord(m)->pathMask |= std::uint8_t(1 << k);
            return m;
        }
    }
    DbOffset m = 0;
    if (!isTiny(from) || !isTiny(to)) {
        m = newMoveRecord(move, k < 8 ? std::uint8_t(1 << k) : 0, MoveGlyph::None, from, to);
        if (!isTiny(from))
            appendTo(full(from)->firstOutgoing, m, &MoveRecord::nextOutgoing);
    }
    storeStep();
    if (isTiny(from))
        tiny(from)->successorMove = moveCode(move);
    storeStep();
    if (!isTiny(to))
        appendTo(full(to)->firstIncoming, m, &MoveRecord::nextIncoming);
    else
        tiny(to)->predecessor = from;
    return m;
}

void unlinkMove(DbOffset m)
{
    noteImageChange();
    const DbOffset from = moveRecord(m)->from;
    const DbOffset to = moveRecord(m)->to;
    if (!isTiny(from))
        removeFrom(full(from)->firstOutgoing, m, &MoveRecord::nextOutgoing);
    if (!isTiny(to))
        removeFrom(full(to)->firstIncoming, m, &MoveRecord::nextIncoming);
    else
        tiny(to)->predecessor = 0;
    releaseRecord(RecordKind::MoveRecord, m);
}

PositionCounts recordCounts(DbOffset r)
{
    if (isTiny(r))
        return {};
    if (isBig(r))
        return {big(r)->games, big(r)->whiteWins, big(r)->blackWins};
    return {full(r)->games, full(r)->whiteWins, full(r)->blackWins};
}

namespace {

DbOffset promoteKnownToBig(DbOffset record, std::uint16_t hash, const Position* known = nullptr);
DbOffset promoteKnownToFull(DbOffset tinyRecord, std::uint16_t hash, const Position* known);

} // namespace

DbOffset promoteToFull(DbOffset tinyRecord, std::uint16_t hash)
{
    noteImageChange();
    return promoteKnownToFull(tinyRecord, hash, nullptr);
}

DbOffset promoteToFull(DbOffset tinyRecord, const Position& pos, const PackedPosition* key)
{
    PackedPosition packed;
    if (key == nullptr) {
        if (!packPosition(pos, packed))
            return promoteKnownToFull(tinyRecord, 0, nullptr);
        key = &packed;
    }
    return promoteKnownToFull(tinyRecord, primaryHash(*key), &pos);
}

namespace {

DbOffset promoteKnownToFull(DbOffset tinyRecord, std::uint16_t hash, const Position* known)
{
    noteImageChange();
    Position pos;
    const bool rebuilt =
        known != nullptr ? (pos = *known, true) : reconstructPosition(tinyRecord, pos);
    const TinyPosition old = *tiny(tinyRecord);
    Position next = pos;
    const DbOffset succ = rebuilt && old.successorMove != 0 ? tinySuccessor(tinyRecord, next) : 0;

    // Every record the promotion needs is taken, and the new record is complete with its
    // lists, before it is chained in the tiny one's place; the links of the neighbours
    // follow, and the tiny record is given back last. A process stopped between these
    // writes leaves links to the unchained tiny record, which recovery moves over to the
    // chained one (repairInterruptedGraph).
    const DbOffset pred = old.predecessor;
    const DbOffset r = allocateRecord(RecordKind::FullPosition);
    const DbOffset in = pred != 0 && isTiny(pred) ? newMoveRecord(Move(tiny(pred)->successorMove),
                                                                  1, tinyGlyph(pred), pred, r)
                                                  : 0;
    const DbOffset out =
        succ != 0 && isTiny(succ)
            ? newMoveRecord(Move(old.successorMove), 1,
                            MoveGlyph((old.flags & kTinyGlyphMask) >> kTinyGlyphShift), r, succ)
            : 0;
    // The neighbours' MoveRecords to and from the tiny record: a tiny record has no lists
    // of its own, so their links on its side are free to be taken over.
    const DbOffset inShared = pred != 0 && in == 0 ? outgoingTo(pred, tinyRecord) : 0;
    const DbOffset outShared = succ != 0 && out == 0 ? incomingFrom(succ, tinyRecord) : 0;
    full(r)->secondary = old.secondary;
    full(r)->flags = kNewFullFlags;
    if (inShared != 0)
        moveRecord(inShared)->nextIncoming = 0;
    if (outShared != 0)
        moveRecord(outShared)->nextOutgoing = 0;
    full(r)->firstIncoming = in != 0 ? in : inShared;
    full(r)->firstOutgoing = out != 0 ? out : outShared;
    PositionCounts counts;
    if (out != 0)
        counts = countsFollowing(succ, next);
    else if (outShared != 0)
        counts = recordCounts(succ);
    if (counts.games < 256) {
        full(r)->games = std::uint8_t(counts.games);
        full(r)->whiteWins = std::uint8_t(counts.whiteWins);
        full(r)->blackWins = std::uint8_t(counts.blackWins);
    }
    storeStep();

    const std::uint16_t tag = unchain(tinyRecord, hash);
    storeStep();
    chainAtHead(r, hash, tag);
    storeStep();
    if (inShared != 0)
        moveRecord(inShared)->to = r;
    storeStep();
    if (out != 0)
        tiny(succ)->predecessor = r;
    if (outShared != 0)
        moveRecord(outShared)->from = r;
    replaceFlashcard(tinyRecord, r);
    releaseRecord(RecordKind::TinyPosition, tinyRecord);

    if (counts.games < 256)
        return r;
    const DbOffset b = promoteToBig(r, hash);
    big(b)->games = counts.games;
    big(b)->whiteWins = counts.whiteWins;
    big(b)->blackWins = counts.blackWins;
    return b;
}

} // namespace

void promoteTinyPredecessors(DbOffset record, std::vector<std::pair<DbOffset, DbOffset>>* moved)
{
    noteImageChange();
    if (isTiny(record))
        return;
    // A tiny record whose way back is broken (what a process stopped in the middle of a
    // game left) cannot be promoted: its position is unknown. No stored line passes it, so
    // it is passed over; promoting it anyway would release it while record still lists it.
    std::vector<DbOffset> stranded;
    for (;;) {
        WalkGuard guard("MoveRecord", sizeof(MoveRecord));
        DbOffset tinyPred = 0;
        for (DbOffset m = full(record)->firstIncoming; m != 0 && tinyPred == 0;
             m = moveRecord(m)->nextIncoming) {
            guard.step(m);
            const DbOffset from = moveRecord(m)->from;
            if (isTiny(from) && std::find(stranded.begin(), stranded.end(), from) == stranded.end())
                tinyPred = from;
        }
        if (tinyPred == 0)
            return;
        Position pos;
        PackedPosition key;
        std::uint16_t hash = 0;
        if (!reconstructPosition(tinyPred, pos) || !packAndHash(pos, key, hash)) {
            stranded.push_back(tinyPred);
            continue;
        }
        const DbOffset promoted = promoteToFull(tinyPred, pos, &key);
        if (moved)
            moved->emplace_back(tinyPred, promoted);
    }
}

DbOffset promoteToBig(DbOffset record, std::uint16_t hash)
{
    return promoteKnownToBig(record, hash);
}

namespace {

DbOffset promoteKnownToBig(DbOffset record, std::uint16_t hash, const Position* known)
{
    noteImageChange();
    if (isTiny(record))
        record = promoteKnownToFull(record, hash, known);
    if (isBig(record))
        return record;
    const FullPosition old = *full(record);
    // As a promotion to full: complete, then chained, then the neighbours' links.
    const DbOffset r = allocateRecord(RecordKind::BigPosition);
    BigPosition* b = big(r);
    b->secondary = old.secondary;
    b->flags = kNewBigFlags;
    b->scoreCode = kNoScoreCode;
    b->games = old.games;
    b->whiteWins = old.whiteWins;
    b->blackWins = old.blackWins;
    b->firstIncoming = old.firstIncoming;
    b->firstOutgoing = old.firstOutgoing;
    storeStep();
    const std::uint16_t tag = unchain(record, hash);
    storeStep();
    chainAtHead(r, hash, tag);
    for (DbOffset m = old.firstIncoming; m != 0; m = moveRecord(m)->nextIncoming) {
        storeStep();
        moveRecord(m)->to = r;
    }
    for (DbOffset m = old.firstOutgoing; m != 0; m = moveRecord(m)->nextOutgoing) {
        storeStep();
        moveRecord(m)->from = r;
        if (isTiny(moveRecord(m)->to))
            tiny(moveRecord(m)->to)->predecessor = r;
    }
    replaceFlashcard(record, r);
    releaseRecord(RecordKind::FullPosition, record);
    return r;
}

} // namespace

DbOffset ensureBig(DbOffset record, const PackedPosition* key, const Position* known)
{
    if (record == 0 || isBig(record))
        return record;
    if (key != nullptr)
        return promoteKnownToBig(record, primaryHash(*key), known);
    Position pos;
    PackedPosition rebuilt;
    std::uint16_t hash = 0;
    if (!reconstructPosition(record, pos) || !packAndHash(pos, rebuilt, hash))
        return promoteKnownToBig(record, 0); // unchain searches every chain
    return promoteKnownToBig(record, hash, &pos);
}

DbOffset addGameCount(DbOffset record, int result)
{
    noteImageChange();
    if (isTiny(record))
        return record;
    if (!isBig(record) && full(record)->games == 255)
        record = ensureBig(record);
    if (isBig(record)) {
        BigPosition* b = big(record);
        ++b->games;
        b->whiteWins += result == 1;
        b->blackWins += result == 2;
    } else {
        FullPosition* f = full(record);
        ++f->games;
        f->whiteWins = std::uint8_t(f->whiteWins + (result == 1));
        f->blackWins = std::uint8_t(f->blackWins + (result == 2));
    }
    return record;
}

void subtractGameCount(DbOffset record, int result)
{
    noteImageChange();
    auto down = [](auto& counter) {
        if (counter > 0)
            --counter;
    };
    if (isTiny(record))
        return;
    if (isBig(record)) {
        BigPosition* b = big(record);
        down(b->games);
        if (result == 1)
            down(b->whiteWins);
        if (result == 2)
            down(b->blackWins);
    } else {
        FullPosition* f = full(record);
        down(f->games);
        if (result == 1)
            down(f->whiteWins);
        if (result == 2)
            down(f->blackWins);
    }
}

PositionCounts positionCounts(const Position& pos)
{
    const DbOffset r = findPosition(pos);
    return r == 0 ? PositionCounts{} : countsFollowing(r, pos);
}

DbOffset setScore(const Position& pos, std::int32_t value)
{
    noteImageChange();
    const DbOffset r = ensureBig(findOrAddRoot(pos));
    if (r != 0)
        big(r)->scoreCode = value == kNoScore ? kNoScoreCode : encodeScore(value);
    return r;
}

bool getScore(DbOffset record, std::int32_t& value)
{
    value = kNoScore;
    if (record == 0 || !isBig(record) || big(record)->scoreCode == kNoScoreCode)
        return false;
    value = decodeScore(big(record)->scoreCode);
    return true;
}

MoveGlyph setMoveGlyph(DbOffset to, Move move, MoveGlyph glyph)
{
    noteImageChange();
    if (int(glyph) >= 7)
        return MoveGlyph::None;
    if (isTiny(to)) {
        const DbOffset pred = tiny(to)->predecessor;
        if (pred == 0)
            return MoveGlyph::None;
        if (isTiny(pred)) {
            const MoveGlyph previous = tinyGlyph(pred);
            setTinyGlyph(pred, glyph);
            return previous;
        }
        const DbOffset m = outgoingTo(pred, to);
        if (m == 0)
            return MoveGlyph::None;
        const MoveGlyph previous = MoveGlyph(moveRecord(m)->glyph & kMoveGlyphMask);
        moveRecord(m)->glyph = std::uint8_t((moveRecord(m)->glyph & ~kMoveGlyphMask) | int(glyph));
        return previous;
    }
    std::optional<MoveGlyph> previous;
    WalkGuard guard("MoveRecord", sizeof(MoveRecord));
    for (DbOffset m = full(to)->firstIncoming; m != 0; m = moveRecord(m)->nextIncoming) {
        guard.step(m);
        MoveRecord* mr = moveRecord(m);
        if (mr->move != moveCode(move))
            continue;
        if (!previous)
            previous = MoveGlyph(mr->glyph & kMoveGlyphMask);
        mr->glyph = std::uint8_t((mr->glyph & ~kMoveGlyphMask) | int(glyph));
        if (isTiny(mr->from))
            setTinyGlyph(mr->from, glyph);
    }
    return previous.value_or(MoveGlyph::None);
}

std::vector<GraphEdge> successorMoves(DbOffset record)
{
    std::vector<GraphEdge> out;
    if (isTiny(record)) {
        if (tiny(record)->successorMove != 0)
            out.push_back({0, Move(tiny(record)->successorMove), tinyGlyph(record)});
        return out;
    }
    WalkGuard guard("MoveRecord", sizeof(MoveRecord));
    for (DbOffset m = full(record)->firstOutgoing; m != 0; m = moveRecord(m)->nextOutgoing) {
        guard.step(m);
        const MoveRecord* mr = moveRecord(m);
        out.push_back({mr->to, Move(mr->move), MoveGlyph(mr->glyph & kMoveGlyphMask)});
    }
    return out;
}

std::optional<GraphEdge> firstPredecessor(DbOffset record)
{
    if (isTiny(record)) {
        const DbOffset pred = tiny(record)->predecessor;
        if (pred == 0)
            return std::nullopt;
        if (isTiny(pred))
            return GraphEdge{pred, Move(tiny(pred)->successorMove), tinyGlyph(pred)};
        if (const DbOffset m = outgoingTo(pred, record))
            return GraphEdge{pred, Move(moveRecord(m)->move),
                             MoveGlyph(moveRecord(m)->glyph & kMoveGlyphMask)};
        return std::nullopt;
    }
    const DbOffset m = full(record)->firstIncoming;
    if (m == 0)
        return std::nullopt;
    return GraphEdge{moveRecord(m)->from, Move(moveRecord(m)->move),
                     MoveGlyph(moveRecord(m)->glyph & kMoveGlyphMask)};
}

std::vector<GraphEdge> predecessorMoves(DbOffset record)
{
    std::vector<GraphEdge> out;
    if (isTiny(record)) {
        const DbOffset pred = tiny(record)->predecessor;
        if (pred == 0)
            return out;
        if (isTiny(pred)) {
            out.push_back({pred, Move(tiny(pred)->successorMove), tinyGlyph(pred)});
        } else if (const DbOffset m = outgoingTo(pred, record)) {
            out.push_back({pred, Move(moveRecord(m)->move),
                           MoveGlyph(moveRecord(m)->glyph & kMoveGlyphMask)});
        }
        return out;
    }
    WalkGuard guard("MoveRecord", sizeof(MoveRecord));
    for (DbOffset m = full(record)->firstIncoming; m != 0; m = moveRecord(m)->nextIncoming) {
        guard.step(m);
        const MoveRecord* mr = moveRecord(m);
        out.push_back({mr->from, Move(mr->move), MoveGlyph(mr->glyph & kMoveGlyphMask)});
    }
    return out;
}

std::vector<Move> pathFromRoot(DbOffset record)
{
    std::vector<Move> path;
    DbOffset r = record;
    for (std::uint64_t steps = walkLimit(); steps > 0 && !isHuge(r); --steps) {
        const std::optional<PredecessorStep> step = predecessorStep(r);
        if (!step)
            break;
        path.push_back(step->move);
        r = step->record;
    }
    std::reverse(path.begin(), path.end());
    return path;
}

namespace {

// What a flashcard's record knew about its position, for the record that takes its place
// when the graph lets it go.
struct KeptFlashcard {
    PackedPosition key;
    BigPosition annotations{};
};

std::optional<KeptFlashcard> flashcardToKeep(DbOffset record, const PackedPosition* knownKey)
{
    if (!isFlashcard(record))
        return std::nullopt;
    KeptFlashcard kept;
    if (knownKey != nullptr) {
        kept.key = *knownKey;
    } else if (const PackedPosition* key = KnownPositionKeys::find(record)) {
        kept.key = *key;
    } else {
        Position pos;
        if (!reconstructPosition(record, pos) || !packPosition(pos, kept.key))
            return std::nullopt;
    }
    if (isBig(record)) {
        kept.annotations = *big(record);
        big(record)->note = 0; // the note moves to the new record
    }
    return kept;
}

// The user chose the position, not the games through it: it stays as a huge record of its
// own, which needs no way back to be rebuilt, in the flashcard's place of the sequence, with
// the note, score, ECO code and user mark it had.
void keepFlashcard(DbOffset oldRecord, const KeptFlashcard& kept)
{
    noteImageChange();
    const DbOffset r = addRoot(kept.key, primaryHash(kept.key));
    BigPosition* b = big(r);
    b->eco = kept.annotations.eco;
    if (kept.annotations.flags & kFlagBig)
        b->scoreCode = kept.annotations.scoreCode;
    b->note = kept.annotations.note;
    b->flags |= kept.annotations.flags & kFlagUserNote;
    replaceFlashcard(oldRecord, r);
}

void removeRecord(DbOffset record, std::uint16_t hash)
{
    noteImageChange();
    // Marked for the whole removal, so that a cycle through repeated positions never
    // comes back to remove it twice.
    at<PositionRecord>(record)->flags |= kFlagVisit;
    if (isTiny(record)) {
        const DbOffset pred = tiny(record)->predecessor;
        if (pred != 0 && !isTiny(pred)) {
            if (const DbOffset m = outgoingTo(pred, record))
                unlinkMove(m);
        }
        removeIfOrphan(pred);
        unchain(record, hash);
        releaseRecord(RecordKind::TinyPosition, record);
        return;
    }
    while (const DbOffset m = full(record)->firstIncoming) {
        const DbOffset from = moveRecord(m)->from;
        unlinkMove(m);
        removeIfOrphan(from);
    }
    while (const DbOffset m = full(record)->firstOutgoing)
        unlinkMove(m);
    unchain(record, hash);
    if (isBig(record)) {
        releaseNote(record);
        releaseRecord(RecordKind::BigPosition, record);
    } else {
        releaseRecord(RecordKind::FullPosition, record);
    }
}

void removeKeyed(DbOffset record, std::uint16_t hash, const PackedPosition* knownKey)
{
    const std::optional<KeptFlashcard> card = flashcardToKeep(record, knownKey);
    if (!card)
        removeFlashcard(record);
    removeRecord(record, hash);
    if (card)
        keepFlashcard(record, *card);
}

} // namespace

void removePosition(DbOffset record, std::uint16_t hash) { removeKeyed(record, hash, nullptr); }

void removePosition(DbOffset record, const PackedPosition& key)
{
    removeKeyed(record, primaryHash(key), &key);
}

void removeIfOrphan(DbOffset record)
{
    noteImageChange();
    if (record == 0 || (flagsOf(record) & kFlagVisit))
        return;
    const bool orphan = isTiny(record) || (full(record)->firstOutgoing == 0 &&
                                           (!isBig(record) || big(record)->firstVariation == 0));
    if (!orphan)
        return;
    Position pos;
    PackedPosition key;
    std::uint16_t hash = 0;
    bool keyed = false;
    if (const PackedPosition* known = KnownPositionKeys::find(record)) {
        key = *known;
        hash = primaryHash(key);
        keyed = true;
    } else {
        keyed = reconstructPosition(record, pos) && packAndHash(pos, key, hash);
    }
    at<PositionRecord>(record)->flags |= kFlagVisit;
    removeKeyed(record, keyed ? hash : 0, keyed ? &key : nullptr);
}

namespace {
thread_local KnownPositionKeys* innermostKnownKeys = nullptr;
}

KnownPositionKeys::KnownPositionKeys() : m_outer(innermostKnownKeys) { innermostKnownKeys = this; }

KnownPositionKeys::~KnownPositionKeys() { innermostKnownKeys = m_outer; }

const PackedPosition* KnownPositionKeys::find(DbOffset record)
{
    for (const KnownPositionKeys* k = innermostKnownKeys; k != nullptr; k = k->m_outer) {
        const auto it = k->m_keys.find(record);
        if (it != k->m_keys.end())
            return &it->second;
    }
    return nullptr;
}

} // namespace vez

namespace vez {

namespace {

// A set of record offsets (4-byte aligned, below the heap top) as one bit each.
class RecordSet {
public:
    explicit RecordSet(std::uint64_t usedBytes) : m_bits(usedBytes / 256 + 1) {}
    void insert(DbOffset r)
    {
        if ((r >> 8) < m_bits.size()) // a damaged link may point anywhere
            m_bits[r >> 8] |= bit(r);
    }
    bool contains(DbOffset r) const
    {
        return (r >> 8) < m_bits.size() && (m_bits[r >> 8] & bit(r));
    }

private:
    static std::uint64_t bit(DbOffset r) { return std::uint64_t(1) << ((r >> 2) & 63); }
    std::vector<std::uint64_t> m_bits;
};

template <typename Visit>
void forEachMove(DbOffset head, DbOffset MoveRecord::*link, Visit visit)
{
    WalkGuard guard("MoveRecord", sizeof(MoveRecord));
    for (DbOffset m = head; m != 0; m = moveRecord(m)->*link) {
        guard.step(m);
        visit(m);
    }
}

bool listsIncoming(DbOffset record, DbOffset move)
{
    bool found = false;
    forEachMove(full(record)->firstIncoming, &MoveRecord::nextIncoming,
                [&](DbOffset m) { found = found || m == move; });
    return found;
}

// Chains a record that a stopped promotion had taken out before its replacement went
// in, when nothing else holds its position.
bool rechainIfMissing(DbOffset record, RecordSet& chained, std::vector<DbOffset>& all)
{
    Position pos;
    PackedPosition key;
    std::uint16_t hash = 0;
    if (!reconstructPosition(record, pos) || !packAndHash(pos, key, hash) ||
        findPacked(key, hash) != 0)
        return false;
    chainAtHead(record, hash, PositionIndex::tagOf(PositionIndex::hashOf(key)));
    chained.insert(record);
    all.push_back(record);
    return true;
}

// Gives back every slot of the tiny pools that is neither chained nor released. A
// promotion stopped after its replacement was chained leaves the tiny record it replaced
// out of the chains but still naming its way back, and a walk that takes the record beside
// it in its pool for its successor (neighbouringSuccessor) would step onto it.
void releaseStrayTinyRecords(const RecordSet& chained, std::uint64_t used)
{
    const RecordKindInfo& info = recordKindInfo(RecordKind::TinyPosition);
    RecordSet released(used);
    WalkGuard freeGuard("free", info.size);
    for (DbOffset r = currentHeader().freeLists[int(FreeList::Tiny)]; r != 0;
         r = *at<DbOffset>(r + info.linkOffset)) {
        freeGuard.step(r);
        released.insert(r);
    }
    WalkGuard poolGuard("Pool", sizeof(Pool));
    for (DbOffset pool = currentHeader().poolChains[int(PoolChain::Tiny)]; pool != 0;
         pool = at<Pool>(pool)->next) {
        poolGuard.step(pool);
        const DbOffset first = pool + DbOffset(offsetof(Pool, space));
        const DbOffset end =
            first + std::uint32_t(std::clamp<int>(at<Pool>(pool)->used, 0, int(kPoolSpace)));
        for (DbOffset t = first; t + sizeof(TinyPosition) <= end; t += sizeof(TinyPosition)) {
            if (!chained.contains(t) && !released.contains(t))
                releaseRecord(RecordKind::TinyPosition, t);
        }
    }
}

} // namespace

std::vector<DbOffset> repairInterruptedGraph(const std::vector<DbOffset>& records)
{
    noteImageChange();
    const std::uint64_t used = currentHeader().usedBytes;
    std::vector<DbOffset> all = records; // and those put back below
    RecordSet chained(used);
    for (const DbOffset r : records)
        chained.insert(r);
    auto live = [&](DbOffset r) { return r != 0 && chained.contains(r); };

    // Where a record was taken out and its replacement never went in, the old one goes
    // back: its lists and its neighbours' links are as they were. One taken out to be
    // removed (marked while its removal runs) stays out.
    auto restore = [&](DbOffset r) {
        return live(r) ||
               (r != 0 && !(flagsOf(r) & kFlagVisit) && rechainIfMissing(r, chained, all));
    };
    // A MoveRecord belongs to the lists it is on: a promotion stopped before it moved
    // the records' ends over left them naming the record it replaced.
    RecordSet incoming(used), outgoingSet(used);
    std::vector<DbOffset> outgoing;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const DbOffset x = all[i];
        if (isTiny(x)) {
            restore(tiny(x)->predecessor);
            continue;
        }
        forEachMove(full(x)->firstIncoming, &MoveRecord::nextIncoming, [&](DbOffset m) {
            if (moveRecord(m)->to != x)
                moveRecord(m)->to = x;
            incoming.insert(m);
            restore(moveRecord(m)->from);
        });
        forEachMove(full(x)->firstOutgoing, &MoveRecord::nextOutgoing, [&](DbOffset m) {
            if (moveRecord(m)->from != x)
                moveRecord(m)->from = x;
            outgoing.push_back(m);
            outgoingSet.insert(m);
            restore(moveRecord(m)->to);
        });
    }
    std::unordered_map<DbOffset, DbOffset> reachedFrom; // a tiny record -> the edge into it
    for (const DbOffset m : outgoing) {
        const DbOffset to = moveRecord(m)->to;
        if (!live(to))
            continue;
        if (isTiny(to)) {
            reachedFrom.emplace(to, moveRecord(m)->from);
        } else if (!incoming.contains(m) && !listsIncoming(to, m)) {
            // An edge stopped after its first end was linked.
            moveRecord(m)->nextIncoming = 0;
            appendTo(full(to)->firstIncoming, m, &MoveRecord::nextIncoming);
            incoming.insert(m);
        }
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        const DbOffset x = all[i];
        if (isTiny(x)) {
            TinyPosition* t = tiny(x);
            if (const auto it = reachedFrom.find(x); it != reachedFrom.end())
                t->predecessor = it->second; // the promotion's last link, or an edge's
            else if (t->predecessor != 0 && (!live(t->predecessor) || !isTiny(t->predecessor)))
                t->predecessor = 0; // no edge leads here any more
            continue;
        }
        // An edge stopped after its first end was unlinked goes on to its end.
        DbOffset* link = &full(x)->firstIncoming;
        WalkGuard guard("MoveRecord", sizeof(MoveRecord));
        while (*link != 0) {
            const DbOffset m = *link;
            guard.step(m);
            const DbOffset from = moveRecord(m)->from;
            if (live(from) && !isTiny(from) && !outgoingSet.contains(m)) {
                *link = moveRecord(m)->nextIncoming;
                releaseRecord(RecordKind::MoveRecord, m);
                continue;
            }
            link = &moveRecord(m)->nextIncoming;
        }
    }

    // What cannot be rebuilt any more goes: records without a way back (chained by a line
    // stopped before it linked them, or left by a removal stopped half way) and those
    // reached only through them. None of them is on a listed game's line. Huge records
    // know their position, and a record where lines end stays.
    RecordSet removed(used);
    auto cameFromRemoved = [&](DbOffset x) {
        bool all = true;
        forEachMove(full(x)->firstIncoming, &MoveRecord::nextIncoming,
                    [&](DbOffset m) { all = all && removed.contains(moveRecord(m)->from); });
        return all;
    };
    for (bool more = true; more;) {
        more = false;
        for (const DbOffset x : all) {
            if (removed.contains(x) || !live(x) || isFlashcard(x))
                continue;
            const bool stranded =
                isTiny(x) ? tiny(x)->predecessor == 0 || removed.contains(tiny(x)->predecessor)
                          : !isHuge(x) && cameFromRemoved(x) &&
                                (!isBig(x) || big(x)->firstVariation == 0);
            if (stranded) {
                removed.insert(x);
                more = true;
            }
        }
    }
    std::vector<DbOffset> kept;
    kept.reserve(all.size());
    RecordSet unlinked(used);
    std::vector<DbOffset> edges;
    for (const DbOffset x : all) {
        if (!live(x) || isTiny(x))
            continue;
        const bool gone = removed.contains(x);
        auto take = [&](DbOffset m, DbOffset other) {
            if ((gone || removed.contains(other)) && !unlinked.contains(m)) {
                unlinked.insert(m);
                edges.push_back(m);
            }
        };
        forEachMove(full(x)->firstIncoming, &MoveRecord::nextIncoming,
                    [&](DbOffset m) { take(m, moveRecord(m)->from); });
        forEachMove(full(x)->firstOutgoing, &MoveRecord::nextOutgoing,
                    [&](DbOffset m) { take(m, moveRecord(m)->to); });
    }
    for (const DbOffset m : edges)
        unlinkMove(m);
    RecordSet successors(used); // records a tiny one leads to
    for (const DbOffset x : all) {
        if (removed.contains(x)) {
            unchain(x, 0); // its position is unknown: every chain is searched
            if (isBig(x)) {
                releaseNote(x);
                releaseRecord(RecordKind::BigPosition, x);
            } else {
                releaseRecord(isTiny(x) ? RecordKind::TinyPosition : RecordKind::FullPosition, x);
            }
            continue;
        }
        at<PositionRecord>(x)->flags &= std::uint8_t(~kFlagVisit);
        kept.push_back(x);
        if (isTiny(x)) {
            successors.insert(tiny(x)->predecessor);
        } else {
            forEachMove(full(x)->firstIncoming, &MoveRecord::nextIncoming,
                        [&](DbOffset m) { successors.insert(moveRecord(m)->from); });
        }
    }
    // A tiny record's move must lead somewhere: to a record that names it as its way
    // back, or to a non-tiny one that takes a new edge from it.
    for (const DbOffset x : kept) {
        if (!isTiny(x) || tiny(x)->successorMove == 0 || successors.contains(x))
            continue;
        Position pos;
        DbOffset next = 0;
        if (reconstructPosition(x, pos)) {
            makeMove(pos, Move(tiny(x)->successorMove));
            next = findPosition(pos);
        }
        if (next != 0 && !isTiny(next)) {
            const DbOffset m =
                newMoveRecord(Move(tiny(x)->successorMove), 1, tinyGlyph(x), x, next);
            appendTo(full(next)->firstIncoming, m, &MoveRecord::nextIncoming);
        } else {
            tiny(x)->successorMove = 0;
        }
    }
    // Flashcards of a replaced record move to its replacement.
    for (std::uint32_t i = 0; i < currentHeader().flashcardCount; ++i) {
        const DbOffset card = flashcardAt(i);
        if (card == 0 || live(card))
            continue;
        Position pos;
        const DbOffset now = reconstructPosition(card, pos) ? findPosition(pos) : 0;
        if (now != 0)
            replaceFlashcard(card, now);
        else if (rechainIfMissing(card, chained, all))
            kept.push_back(card);
    }
    releaseStrayTinyRecords(chained, used);
    return kept;
}

} // namespace vez
