// The position graph: one record per position reached in any stored game, linked by
// move records, found through a 65,536-slot hash table. Records do not store their
// position (except huge ones): it is rebuilt by walking back to a huge record or to the
// standard start and replaying the moves.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "chess/position.h"
#include "store/database.h"
#include "store/packing.h"

namespace vez {

class PositionIndex;

inline std::uint8_t flagsOf(DbOffset record) { return at<PositionRecord>(record)->flags; }
inline bool isTiny(DbOffset record) { return !(flagsOf(record) & kFlagFull); }
inline bool isBig(DbOffset record) { return flagsOf(record) & kFlagBig; }
inline bool isHuge(DbOffset record) { return flagsOf(record) & kFlagHuge; }

// The head of a hash chain.
DbOffset& hashSlot(std::uint16_t hash);

// Rebuilds the position of a record; false when the record's way back is broken.
bool reconstructPosition(DbOffset record, Position& pos);

// The record of a position, or 0.
DbOffset findPosition(const Position& pos);
// The same for a position already packed.
DbOffset findPackedPosition(const PackedPosition& key);

// The record after a tiny one: plays its successor move on pos (the tiny record's
// position) and finds the result, trusting a unique secondary-code match in the chain.
DbOffset tinySuccessor(DbOffset tiny, Position& pos);

// The successors of several tiny records at once, each given with its position after the
// record's move: the same answers as tinySuccessor, found side by side.
struct SuccessorQuery {
    DbOffset tiny;
    Position position;
    DbOffset successor; // the answer, 0 for none
};
void findTinySuccessors(std::span<SuccessorQuery> queries);

// The slots taken from one pool of tiny records (they may be on the free list now), from
// first up to end; both 0 for none.
struct TinyPoolSlots {
    DbOffset first = 0;
    DbOffset end = 0;
    bool holds(DbOffset t) const { return t >= first && t < end; }
};

// Follows tiny records along their one way out, as tinySuccessor does, but keeps the moves
// and plays them on the position only when a successor must be looked up by position or
// the caller asks for it: along a line's own records a walk makes no moves.
class TinyWalk {
public:
    TinyWalk(DbOffset start, const Position& pos) : m_record(start), m_pos(pos) {}
    DbOffset record() const { return m_record; }
    // From the current record, which must be tiny, to its successor (0 when it has none).
    DbOffset step();
    // The same step when it needs no lookup by position (the successor lies beside the
    // record); false, and the walk stays, when it would.
    bool stepNearby();
    // The position of the current record.
    const Position& position();

private:
    DbOffset m_record;
    Position m_pos;
    std::array<Move, 64> m_pending{};
    std::size_t m_pendingCount = 0;
    // The pool the walk is in: the graph does not change while a walk lasts.
    TinyPoolSlots m_pool;
};

// The record of a position, or a new huge record holding its key; 0 when the position
// cannot be packed.
DbOffset findOrAddRoot(const Position& pos);

// A new record chained in the position's slot; tiny and full ones start without moves.
DbOffset addTinyPosition(const PackedPosition& key);
DbOffset addFullPosition(const PackedPosition& key);
// The same with the key's hashes (its chain and its place in the in-memory index) known.
struct KeyHashes {
    std::uint16_t primary;
    std::uint64_t index;
    std::uint8_t secondary; // secondaryCode(key)
};
DbOffset addTinyPosition(const PackedPosition& key, const KeyHashes& hashes);
DbOffset addFullPosition(const PackedPosition& key, const KeyHashes& hashes);
// The record of a key, as findPackedPosition finds it through the current image's index,
// where pred (0 for none) is the record of the position before it and move the move played
// from there: the edge between them is taken as proof of the key, sparing a rebuilt
// position.
DbOffset findReached(const PositionIndex& index, const PackedPosition& key,
                     const KeyHashes& hashes, DbOffset pred, Move move);

struct PredecessorStep {
    DbOffset record;
    Move move;
};
std::optional<PredecessorStep> predecessorStep(DbOffset record);

// Links from -> to by move (previous: the record the line came from before from, or 0);
// returns the MoveRecord of the edge, 0 for an edge between two tiny records.
DbOffset linkMove(DbOffset from, DbOffset to, Move move, DbOffset previous);
void unlinkMove(DbOffset moveRecord);

// The record a non-tiny record's move leads to, or 0 when it has no such move.
DbOffset successorByMove(DbOffset from, Move move);
// Whether pred is one of the record's ways in.
bool comesFrom(DbOffset record, DbOffset pred);

// Index of the incoming move from a record, or the list length when there is none.
int incomingIndex(DbOffset to, DbOffset from);
int incomingCount(DbOffset record);
DbOffset incomingAt(DbOffset record, int index);

DbOffset promoteToFull(DbOffset tiny, std::uint16_t hash);
// The same for a caller that knows the tiny record's position.
// key: pos packed, when the caller knows it.
DbOffset promoteToFull(DbOffset tiny, const Position& pos, const PackedPosition* key = nullptr);

// A tiny record shows the counts of the next non-tiny record on its line. That holds
// only while every line through that record came through the tiny one: before a new way
// into a non-tiny record is linked, its tiny predecessors are made full with the counts
// they show, so that they keep counting exactly their own lines.
// Records promoted on the way are reported as (old, new) pairs when moved is given.
void promoteTinyPredecessors(DbOffset record,
                             std::vector<std::pair<DbOffset, DbOffset>>* moved = nullptr);
DbOffset promoteToBig(DbOffset record, std::uint16_t hash);
// key, when the caller knows it, spares rebuilding the record's position (to find its
// chain); so does known with key, the position itself, where a tiny record is promoted.
DbOffset ensureBig(DbOffset record, const PackedPosition* key = nullptr,
                   const Position* known = nullptr);

// Counts a game (result 1 white win, 2 black win) on a non-tiny record; returns the
// record, which may have been made big.
DbOffset addGameCount(DbOffset record, int result);
// Takes a game off a non-tiny record's counters, never below 0.
void subtractGameCount(DbOffset record, int result);

struct PositionCounts {
    std::uint32_t games = 0;
    std::uint32_t whiteWins = 0;
    std::uint32_t blackWins = 0;
};
PositionCounts recordCounts(DbOffset nonTinyRecord);
PositionCounts positionCounts(const Position& pos);

// Stores a score (kNoScore clears it); returns the big record.
DbOffset setScore(const Position& pos, std::int32_t value);
bool getScore(DbOffset record, std::int32_t& value);

// Sets the glyph of the move into a record and returns the one it replaced; glyphs of 7
// and more are refused (None, nothing changes).
MoveGlyph setMoveGlyph(DbOffset to, Move move, MoveGlyph glyph);

struct GraphEdge {
    DbOffset record; // the other end; 0 where a tiny record does not name it
    Move move;
    MoveGlyph glyph;
};
std::vector<GraphEdge> successorMoves(DbOffset record);
std::vector<GraphEdge> predecessorMoves(DbOffset record);
// The first entry of predecessorMoves without building the list; nullopt when it is empty.
std::optional<GraphEdge> firstPredecessor(DbOffset record);
std::vector<Move> pathFromRoot(DbOffset record);

// Removes a record with its edges, and every predecessor left without purpose.
void removePosition(DbOffset record, std::uint16_t hash);
void removePosition(DbOffset record, const PackedPosition& key);
void removeIfOrphan(DbOffset record);

// For a file a process left in the middle of a change: moves the links that a stopped
// promotion left on the record it replaced over to the record in its place (or puts the old
// record back when its replacement never went in), finishes an edge linked at one end only,
// and takes out the records chained but never linked, which cannot be rebuilt. records:
// every record of the hash chains. Returns the records chained afterwards.
std::vector<DbOffset> repairInterruptedGraph(const std::vector<DbOffset>& records);

// While one lives, removals take the keys of the records given here instead of rebuilding
// their positions: for a caller that removes records of a line it has just replayed.
class KnownPositionKeys {
public:
    KnownPositionKeys();
    ~KnownPositionKeys();
    KnownPositionKeys(const KnownPositionKeys&) = delete;
    KnownPositionKeys& operator=(const KnownPositionKeys&) = delete;

    void add(DbOffset record, const PackedPosition& key) { m_keys[record] = key; }
    static const PackedPosition* find(DbOffset record);

private:
    std::unordered_map<DbOffset, PackedPosition> m_keys;
    KnownPositionKeys* m_outer;
};

} // namespace vez
