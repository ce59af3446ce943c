#include "store/validation.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "chess/movegen.h"
#include "interchange/move_check.h"
#include "store/checksum.h"
#include "store/codes.h"
#include "store/game_paths.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/heap.h"
#include "store/packing.h"
#include "store/validation_state.h"

namespace vez {

namespace {

// --- Pools ------------------------------------------------------------------------------

void checkPools(ValidationState& st)
{
    const DatabaseHeader& h = currentHeader();
    for (int chain = 0; chain < kPoolChainCount; ++chain) {
        WalkGuard guard("Pool", sizeof(Pool));
        for (DbOffset pool = h.poolChains[chain]; pool != 0; pool = at<Pool>(pool)->next) {
            guard.step(pool);
            const Pool* p = at<Pool>(pool);
            if (p->used < 0 || p->used > std::int16_t(kPoolSpace))
                return st.problem(pool, "a pool with 0 to 8000 bytes used");
            st.pools.push_back({pool + 8, pool + 8 + std::uint32_t(p->used), PoolChain(chain)});
        }
    }
    std::sort(st.pools.begin(), st.pools.end(),
              [](const PoolSpan& a, const PoolSpan& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < st.pools.size(); ++i)
        if (st.pools[i].begin < st.pools[i - 1].end + 8)
            st.problem(st.pools[i].begin - 8, "pools that do not overlap");
}

// --- Positions ----------------------------------------------------------------------------

RecordKind positionKind(std::uint8_t flags)
{
    return flags & kFlagBig    ? RecordKind::BigPosition
           : flags & kFlagFull ? RecordKind::FullPosition
                               : RecordKind::TinyPosition;
}

void collectPositions(ValidationState& st)
{
    // Room for as many records as the image could hold, in memory that is only taken as it
    // is written: growing the list instead would copy it, and hold both copies, on the way.
    try {
        st.positions.reserve(currentHeader().usedBytes / sizeof(TinyPosition) + 1);
    } catch (const std::bad_alloc&) {
    }
    OffsetSet seen;
    for (std::uint32_t slot = 0; slot < kHashSlots; ++slot) {
        WalkGuard guard("position", sizeof(TinyPosition));
        for (DbOffset r = hashSlot(std::uint16_t(slot)); r != 0;
             r = at<PositionRecord>(r)->nextInChain) {
            guard.step(r);
            const std::uint8_t flags = at<PositionRecord>(r)->flags;
            const bool huge = flags & kFlagHuge;
            const RecordKind kind = positionKind(flags);
            const std::uint32_t size = huge ? sizeof(HugePosition) : recordKindInfo(kind).size;
            if ((huge && !(flags & kFlagBig)) || ((flags & kFlagBig) && !(flags & kFlagFull)) ||
                (flags & kFlagVisit))
                st.problem(r, "position record flags of a known kind");
            if (!st.inPool(r, size, recordKindInfo(kind).chain))
                return st.problem(r, "a position record inside its pool (hash slot " +
                                         std::to_string(slot) + ")");
            if (!seen.insert(r))
                return st.problem(r, "a position record in one hash chain only");
            st.positions.push_back({r, std::uint16_t(slot), flags});
        }
    }
    std::sort(st.positions.begin(), st.positions.end(),
              [](const PositionInfo& a, const PositionInfo& b) { return a.record < b.record; });
}

enum Rebuilt : std::uint8_t { kNotYet, kOnTheWay, kRebuilt, kBroken };

// The key of a record's position, rebuilt as reconstructPosition rebuilds it, but from the
// key of a record on its way back that was rebuilt before: the positions come in the order
// of their records, and a record is mostly allocated after its predecessor. False when the
// way back leads to no position that packs.
bool rebuildKey(ValidationState& st, PositionInfo& first)
{
    struct Step {
        PositionInfo* info;
        bool start; // where the way back starts; else reached by move from the one before
        Move move;
    };
    thread_local std::vector<Step> way;
    way.clear();
    Position pos;
    bool ok = true;
    for (PositionInfo* p = &first;;) {
        if (isHuge(p->record)) {
            PackedPosition stored;
            std::memcpy(stored.bytes, at<HugePosition>(p->record)->key, sizeof stored.bytes);
            unpackPosition(stored, pos);
            if (p->rebuilt != kRebuilt)
                way.push_back({p, true, Move::None});
            break;
        }
        if (p->rebuilt == kRebuilt) {
            unpackPosition(p->key, pos);
            break;
        }
        if (p->rebuilt != kNotYet) {
            // A loop back into this way; or a record whose own key did not pack, which
            // those after it need not share.
            ok = p->rebuilt == kBroken && reconstructPosition(p->record, pos);
            break;
        }
        const std::optional<PredecessorStep> step = predecessorStep(p->record);
        if (!step) {
            ok = !isTiny(p->record);
            setStandardStart(pos);
            way.push_back({p, true, Move::None});
            break;
        }
        p->rebuilt = kOnTheWay;
        way.push_back({p, false, step->move});
        p = st.position(step->record);
        if (p == nullptr) { // a way back through a record outside the chains
            ok = reconstructPosition(step->record, pos);
            break;
        }
    }
    for (auto it = way.rbegin(); it != way.rend(); ++it) {
        if (ok && !it->start)
            makeMove(pos, it->move);
        ok = ok && packPosition(pos, it->info->key);
        it->info->rebuilt = ok ? kRebuilt : kBroken;
    }
    return first.rebuilt == kRebuilt;
}

// Each record's position, rebuilt by its way back, must hash to its chain and code.
void checkPositionKeys(ValidationState& st)
{
    for (PositionInfo& p : st.positions) {
        if (!rebuildKey(st, p)) {
            st.problem(p.record, "a position record whose way back leads to a position");
            continue;
        }
        if (isHuge(p.record)) {
            Position unpacked;
            PackedPosition again;
            unpackPosition(p.key, unpacked);
            if (!packPosition(unpacked, again) || !(again == p.key)) {
                st.problem(p.record, "a stored position key in its canonical form");
                continue;
            }
        }
        if (primaryHash(p.key) != p.slot ||
            secondaryCode(p.key) != at<PositionRecord>(p.record)->secondary) {
            st.problem(p.record, "a position record whose position belongs in hash slot " +
                                     std::to_string(p.slot));
            continue;
        }
        p.keyKnown = true;
    }
}

// Whether the move is one of p's moves.
bool isMoveFrom(const PositionInfo& p, Move move, Position& pos)
{
    unpackPosition(p.key, pos);
    return isListedMove(pos, move, currentHeader().nonstandard == 1);
}

bool isMoveFrom(const PositionInfo& p, Move move)
{
    Position pos;
    return isMoveFrom(p, move, pos);
}

// The position after move from p, when the move is one of p's moves.
bool playFrom(const PositionInfo& p, Move move, PackedPosition& after)
{
    Position pos;
    if (!isMoveFrom(p, move, pos))
        return false;
    makeMove(pos, move);
    return packPosition(pos, after);
}

void checkMoveRecord(ValidationState& st, DbOffset m, const PositionInfo& from)
{
    const MoveRecord& mr = *at<MoveRecord>(m);
    const PositionInfo* to = st.position(mr.to);
    if (mr.from != from.record || to == nullptr)
        return st.problem(m, "a MoveRecord from position " + std::to_string(from.record) +
                                 " to a position record");
    if ((mr.glyph & kMoveGlyphMask) == kMoveGlyphMask)
        st.problem(m, "a move glyph from 0 to 6");
    PackedPosition after;
    if (from.keyKnown && to->keyKnown &&
        (!playFrom(from, Move(mr.move), after) || !(after == to->key)))
        st.problem(m, "a MoveRecord whose move leads from its position to its successor");
}

// A MoveRecord is listed as outgoing at a non-tiny from-position and as incoming at a
// non-tiny to-position; an edge between a tiny record and a non-tiny one is listed only at
// the non-tiny end.
void checkEdges(ValidationState& st)
{
    OffsetSet outgoing;
    for (const PositionInfo& p : st.positions) {
        if (!(p.flags & kFlagFull))
            continue;
        WalkGuard guard("MoveRecord", sizeof(MoveRecord));
        for (DbOffset m = at<FullPosition>(p.record)->firstOutgoing; m != 0;
             m = at<MoveRecord>(m)->nextOutgoing) {
            guard.step(m);
            if (!st.inPool(m, sizeof(MoveRecord), PoolChain::Graph) || !outgoing.insert(m))
                return st.problem(m, "a MoveRecord in its pool, in one outgoing list");
            checkMoveRecord(st, m, p);
        }
    }
    OffsetSet incoming;
    for (const PositionInfo& p : st.positions) {
        if (!(p.flags & kFlagFull))
            continue;
        WalkGuard guard("MoveRecord", sizeof(MoveRecord));
        for (DbOffset m = at<FullPosition>(p.record)->firstIncoming; m != 0;
             m = at<MoveRecord>(m)->nextIncoming) {
            guard.step(m);
            const PositionInfo* from = st.position(at<MoveRecord>(m)->from);
            const bool tinyFrom = from != nullptr && !(from->flags & kFlagFull);
            if (!st.inPool(m, sizeof(MoveRecord), PoolChain::Graph) || !incoming.insert(m) ||
                at<MoveRecord>(m)->to != p.record || from == nullptr ||
                (!tinyFrom && !outgoing.contains(m)))
                return st.problem(m, "an incoming MoveRecord of position " +
                                         std::to_string(p.record) + " listed at its from-position");
            if (tinyFrom)
                checkMoveRecord(st, m, *from);
        }
    }
    outgoing.forEach([&](DbOffset m) {
        const PositionInfo* to = st.position(at<MoveRecord>(m)->to);
        if (to != nullptr && (to->flags & kFlagFull) && !incoming.contains(m))
            st.problem(m, "a MoveRecord listed as incoming at its to-position");
    });
    st.liveMoves = std::move(outgoing);
    st.liveMoves.insertAll(incoming);
    st.counter("move record count", currentHeader().moveRecordCount, st.liveMoves.size());
}

void checkTinyRecords(ValidationState& st)
{
    for (const PositionInfo& p : st.positions) {
        if (p.flags & kFlagFull)
            continue;
        const TinyPosition& t = *at<TinyPosition>(p.record);
        const PositionInfo* pred = st.position(t.predecessor);
        if (pred == nullptr) {
            st.problem(p.record, "a tiny position with a predecessor record");
            continue;
        }
        if (!(pred->flags & kFlagFull) && pred->keyKnown && p.keyKnown) {
            PackedPosition after;
            if (!playFrom(*pred, Move(at<TinyPosition>(pred->record)->successorMove), after) ||
                !(after == p.key))
                st.problem(p.record, "a tiny position reached by its predecessor's move");
        }
        if (t.successorMove != 0 && p.keyKnown && !isMoveFrom(p, Move(t.successorMove)))
            st.problem(p.record, "a tiny position's move among its position's moves");
    }
}

} // namespace

// Defined beside the games, names and sets.
void checkGames(ValidationState& st);
void checkNames(ValidationState& st);
void checkGamesets(ValidationState& st);
void checkNotesAndFlashcards(ValidationState& st);
void checkFreeLists(ValidationState& st);
void checkCounts(ValidationState& st);

std::vector<std::string> validateDatabase(std::size_t maxProblems)
{
    ValidationState st(maxProblems);
    // Free text and values (letters of notes and names, dates, scores) have nothing else
    // to be checked against.
    if (std::optional<std::string> mismatch = checksumProblem())
        st.problem(*mismatch);
    using Check = void (*)(ValidationState&);
    // Later checks use what earlier ones collected; each stops at the first damage it
    // cannot walk past, and the others still run.
    const Check checks[] = {checkPools,     collectPositions, checkPositionKeys,
                            checkEdges,     checkTinyRecords, checkNames,
                            checkGames,     checkGamesets,    checkNotesAndFlashcards,
                            checkFreeLists, checkCounts};
    for (const Check check : checks) {
        try {
            check(st);
        } catch (const DamagedDatabase& damage) {
            st.problem(damage.detail());
        }
    }
    return st.finish();
}

} // namespace vez
