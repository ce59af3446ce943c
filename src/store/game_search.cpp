// Containment of a position in a game, and the search of all games through a position.
//
// The search has two ways to its answer. The walk goes forward from the position along
// every stored move and checks the main lines that end on the way; its cost grows with
// the games through the position and the lines that join it. The index knows, for every
// non-tiny record, the main lines whose way back meets it; it costs one pass over every
// game to build and is good only until the next change of the graph or of the games,
// but then answers any search at once. A search uses the index while it is current, and
// builds it when searches since the last change have walked through enough games to pay
// for it. An index built while the file is as a clean close left it is saved beside the
// file, and a later session that has changed nothing answers from that copy.
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "chess/position.h"
#include "store/beside.h"
#include "store/checksum.h"
#include "store/database.h"
#include "store/game_paths.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/heap.h"
#include "store/large_pages.h"
#include "store/line_index_file.h"
#include "store/prefetch.h"

namespace vez {

bool variationContains(DbOffset v, DbOffset position)
{
    if (variation(v)->graphEnd == position)
        return true;
    bool found = false;
    walkBack(v, [&](const PathStep& s) {
        found = s.prev == position;
        return !found;
    });
    return found;
}

bool gameContains(DbOffset g, DbOffset position)
{
    const DbOffset main = gameRecord(g)->mainLine;
    return main != 0 && variationContains(main, position);
}

namespace {

// --- The walk -------------------------------------------------------------------------------

// The walk of the games through a position goes forward from it along every stored move,
// each record once however many ways lead to it, and takes the main lines ending on the
// way that pass through the position.
class GameSearch {
public:
    GameSearch(DbOffset target, std::uint32_t budget) : m_target(target), m_budget(budget) {}

    // False when a position on the way counts more games than the budget allows.
    bool run(const Position& targetPos)
    {
        const std::uint64_t tinyLimit = currentHeader().usedBytes / sizeof(TinyPosition) + 1;
        std::vector<Pending> pending{{m_target, targetPos, 0, true, tinyLimit}};
        // Ways whose next record must be looked up by position wait here, and are looked
        // up together when nothing else is left: one lookup walks a long hash chain, and
        // the walks of many overlap.
        std::vector<Pending> waiting;
        std::vector<SuccessorQuery> queries;
        while (!pending.empty() || !waiting.empty()) {
            if (pending.empty()) {
                queries.clear();
                for (const Pending& w : waiting)
                    queries.push_back({w.record, w.pos, 0});
                findTinySuccessors(queries);
                for (std::size_t i = 0; i < waiting.size(); ++i) {
                    if (queries[i].successor != 0)
                        pending.push_back({queries[i].successor, waiting[i].pos, waiting[i].plies,
                                           waiting[i].onlyWay, waiting[i].tinySteps});
                }
                waiting.clear();
                continue;
            }
            const Pending p = pending.back();
            pending.pop_back();
            TinyWalk walk(p.record, p.pos);
            std::uint32_t plies = p.plies;
            std::uint64_t steps = p.tinySteps;
            for (; walk.record() != 0 && isTiny(walk.record()) && steps > 0; --steps, ++plies) {
                if (walk.stepNearby())
                    continue;
                const Move move = Move(at<TinyPosition>(walk.record())->successorMove);
                if (move != Move::None) {
                    Pending w{walk.record(), walk.position(), plies + 1, p.onlyWay, steps - 1};
                    makeMove(w.pos, move);
                    waiting.push_back(w);
                }
                break;
            }
            const DbOffset r = walk.record();
            if (r == 0 || isTiny(r))
                continue;
            if (recordCounts(r).games > m_budget)
                return false;
            // Whether every record after the target on this way has this one way in: the
            // way back from here then leads to the target.
            const DbOffset in = at<FullPosition>(r)->firstIncoming;
            const bool onlyWay =
                p.onlyWay && (r == m_target || (in != 0 && at<MoveRecord>(in)->nextIncoming == 0));
            if (isBig(r))
                collectGamesEndingAt(r, plies, onlyWay);
            if (!m_seen.insert(r).second)
                continue;
            // Every move on: the path masks would keep the search to the lines that came
            // in the way it came, but they name incoming moves by their place in the list,
            // which shifts when a line's records are released, and a game behind a stale
            // mask would be missed. The lines found are checked below in any case.
            for (DbOffset m = at<FullPosition>(r)->firstOutgoing; m != 0;
                 m = at<MoveRecord>(m)->nextOutgoing) {
                const MoveRecord* mr = at<MoveRecord>(m);
                if (mr->to < currentHeader().usedBytes)
                    prefetch(currentBase + mr->to);
                Pending next{mr->to, walk.position(), plies + 1, onlyWay, tinyLimit};
                makeMove(next.pos, Move(mr->move));
                pending.push_back(next);
            }
        }
        return true;
    }

    // The games found through the target, and the main lines ending on the way whose way
    // back is yet to be walked to tell.
    std::set<std::uint32_t>& found() { return m_found; }
    const std::vector<std::pair<std::uint32_t, DbOffset>>& unsure() const { return m_unsure; }

private:
    struct Pending {
        DbOffset record;
        Position pos;
        std::uint32_t plies; // from the target
        bool onlyWay;        // every record after the target so far has one way in
        std::uint64_t tinySteps; // left on this stretch of tiny records
    };

    // The main lines ending at r that pass through the target. When the way here from the
    // target is the only way into every record on it, a line that ends here and is long
    // enough, with no choice recorded on that stretch, walks back along it to the target:
    // the walk need not be made.
    void collectGamesEndingAt(DbOffset r, std::uint32_t plies, bool onlyWay)
    {
        for (DbOffset v = at<BigPosition>(r)->firstVariation; v != 0; v = variation(v)->nextAtEnd) {
            const Variation* var = variation(v);
            if (var->parent != 0 || var->game == 0 || !m_checked.insert(v).second)
                continue;
            const std::int64_t graphPlies =
                std::int64_t(var->endPly) - compressedLength(v) - var->startPly;
            const std::int64_t targetStep = graphPlies - std::int64_t(plies);
            const bool walkedAlready =
                onlyWay && targetStep >= 0 &&
                (var->firstChoice == 0 ||
                 at<DisambiguationRecord>(var->firstChoice)->step <= targetStep);
            const std::uint32_t number = gameNumberOf(*gameRecord(var->game));
            if (walkedAlready)
                m_found.insert(number);
            else
                m_unsure.push_back({number, v});
        }
    }

    DbOffset m_target;
    std::uint32_t m_budget;
    std::set<std::uint32_t> m_found;
    std::vector<std::pair<std::uint32_t, DbOffset>> m_unsure;
    std::unordered_set<DbOffset> m_seen;
    std::unordered_set<DbOffset> m_checked;
};

// --- The index ------------------------------------------------------------------------------

// The index's large arrays: a build writes a hundred megabytes at once, and taking them in
// 4 KB page faults costs a quarter of it.
template <class T>
using LargeVector = std::vector<T, LargePages<T>>;

// A non-tiny record that the way back of a main line meets, with the line's entry there.
struct MainLineItem {
    DbOffset record;
    LineIndexEntry entry;
};

constexpr std::uint32_t kLineStepBits = 10;
constexpr std::uint32_t kLineStepCap = (1u << kLineStepBits) - 1;

// The non-tiny records the way back of a main line meets, with what the index keeps of
// each: where it meets them (0 at the graph end) and the record it steps to from there.
struct MetRecords {
    struct Met {
        DbOffset record;
        std::uint32_t place;
        DbOffset next; // 0 where the way back ends
    };
    std::uint32_t number = 0; // the game's
    std::uint32_t length = 0; // records met, tiny ones included
    bool tinyEnd = false;     // the graph end is tiny
    std::vector<Met> met;     // in the order met
};

// An item for each non-tiny record met by the way back of a main line.
void addMainLine(const MetRecords& line, LargeVector<MainLineItem>& items, bool& tinyEnds)
{
    if (line.tinyEnd)
        tinyEnds = true;
    // From the line's start: a record the line meets twice gets its items in ascending
    // steps, the order of the index.
    for (auto it = line.met.rbegin(); it != line.met.rend(); ++it) {
        const bool last = it->place + 1 == line.length;
        const std::size_t after = last ? 0 : line.length - it->place - 2;
        const std::uint32_t steps = std::uint32_t(std::min<std::size_t>(after, kLineStepCap));
        items.push_back({it->record, {line.number << kLineStepBits | steps, last ? 0 : it->next}});
    }
}

// For each non-tiny record that the way back of a main line meets (its graph end or a
// record walkBack steps to), the games of those lines, in ascending order, each with the
// record the way back steps to from there and the number of steps it makes after that.
// A tiny record has one way in and one way out: the lines through it are those that meet
// the next non-tiny record along its successors, step from there into its tiny stretch
// and walk back far enough. So the tiny records, most of the graph, need no entries.
class MainLineIndex {
public:
    static constexpr std::uint32_t kStepBits = kLineStepBits;
    static constexpr std::uint32_t kStepCap = kLineStepCap;

    // gameAndSteps: game number << kStepBits | steps after next (capped); next: where the
    // way back goes from the record, 0 at its end.
    using Entry = LineIndexEntry;

    bool current() const
    {
        return m_built && m_base == currentBase && m_epoch == imageEpoch() &&
               m_changes == graphChanges();
    }

    bool builtFor(const void* base) const { return m_built && m_base == base; }

    void build();

    std::span<const Entry> entriesAt(DbOffset record) const
    {
        const auto it = std::lower_bound(m_records.begin(), m_records.end(), record);
        if (it == m_records.end() || *it != record)
            return {};
        const std::size_t i = std::size_t(it - m_records.begin());
        return {m_entries.data() + m_starts[i], m_starts[i + 1] - m_starts[i]};
    }

    // Whether some line ends on a tiny record (never in a sound graph): the entries then
    // do not tell the lines through tiny records.
    bool tinyEnds() const { return m_tinyEnds; }

    std::size_t memoryBytes() const
    {
        return m_records.capacity() * sizeof(DbOffset) +
               m_starts.capacity() * sizeof(std::uint32_t) + m_entries.capacity() * sizeof(Entry);
    }

    void clear() { *this = MainLineIndex(); }

    bool save(const std::string& path, std::uint64_t identity) const
    {
        return saveLineIndex(path, identity, m_tinyEnds, m_records, m_starts, m_entries);
    }

private:
    using Item = MainLineItem;

    void fill(const LargeVector<Item>& one, const LargeVector<Item>& other);

    bool m_built = false;
    const std::uint8_t* m_base = nullptr;
    std::uint64_t m_epoch = 0;
    std::uint64_t m_changes = 0;
    bool m_tinyEnds = false;
    LargeVector<DbOffset> m_records;     // ascending
    LargeVector<std::uint32_t> m_starts; // entries of m_records[i] from m_starts[i]
    LargeVector<Entry> m_entries;
};

// The way back of one main line, exactly as walkBack goes, keeping the non-tiny records it
// meets: the index is built walking several lines side by side, so that while the memory of
// one line's next record is fetched the others go on. A line's own tiny records mostly lie
// one after another: a step to one in the same or the next cache line is taken at once.
class LineWalk {
public:
    // The walk stops at stopAt (0 for nowhere), whose step is never taken at once.
    void start(std::uint32_t number, DbOffset v, DbOffset stopAt = 0)
    {
        const Variation* var = variation(v);
        m_stopAt = stopAt;
        m_current = var->graphEnd;
        m_choice = var->firstChoice;
        m_ply = var->endPly - compressedLength(v);
        m_startPly = var->startPly;
        m_line.number = number;
        m_line.length = 1;
        m_line.met.clear();
    }

    // Steps back; false when the line is at its start or its way back is broken.
    bool step()
    {
        for (;;) {
            const TinyPosition* here = at<TinyPosition>(m_current);
            const bool tiny = (here->flags & kFlagFull) == 0;
            if (m_line.length == 1)
                m_line.tinyEnd = tiny;
            if (!tiny)
                m_line.met.push_back({m_current, m_line.length - 1, 0});
            if (m_ply <= m_startPly)
                return false;
            DbOffset prev = 0;
            if (tiny) {
                prev = here->predecessor;
                // A non-tiny predecessor must also have the move to this record.
                if (prev == 0 || (!isTiny(prev) && !firstPredecessor(m_current)))
                    return false;
            } else {
                // A choice applies only where the way back leaves a non-tiny record: those
                // of steps taken from tiny ones are passed over here.
                const int stepIndex = m_ply - m_startPly;
                while (m_choice != 0 && at<DisambiguationRecord>(m_choice)->step > stepIndex)
                    m_choice = at<DisambiguationRecord>(m_choice)->next;
                DbOffset m = 0;
                if (m_choice != 0 && at<DisambiguationRecord>(m_choice)->step == stepIndex) {
                    m = incomingAt(m_current,
                                   std::uint8_t(at<DisambiguationRecord>(m_choice)->choiceIndex));
                    if (m == 0)
                        return false;
                    m_choice = at<DisambiguationRecord>(m_choice)->next;
                } else {
                    m = at<FullPosition>(m_current)->firstIncoming;
                    if (m == 0)
                        return false;
                }
                prev = at<MoveRecord>(m)->from;
                m_line.met.back().next = prev;
            }
            const bool near = prev / 64 == m_current / 64 || prev / 64 + 1 == m_current / 64;
            m_current = prev;
            ++m_line.length;
            --m_ply;
            if (!(tiny && near) || prev == m_stopAt) {
                prefetch(currentBase + prev);
                return true;
            }
        }
    }

    std::uint32_t number() const { return m_line.number; }
    DbOffset current() const { return m_current; }
    const MetRecords& line() const { return m_line; }

private:
    DbOffset m_stopAt = 0;
    DbOffset m_current = 0;
    DbOffset m_choice = 0;
    int m_ply = 0;
    int m_startPly = 0;
    MetRecords m_line;
};

// Walks lines side by side in kLanes lanes, so that their memory misses overlap: load(lane)
// starts the next line in a lane (false when none is left), advance(lane) takes one step and
// returns false once that lane's line is done with.
constexpr std::size_t kLanes = 16;
// The main lines a walk building the index takes at a time: a second thread is worth
// starting for more than one run, and a few runs more or less even out the two threads.
constexpr std::size_t kLinesPerRun = 256;

template <class Load, class Advance>
void walkSideBySide(Load load, Advance advance)
{
    std::array<bool, kLanes> busy{};
    std::size_t active = 0;
    for (std::size_t lane = 0; lane < kLanes; ++lane)
        active += busy[lane] = load(lane);
    while (active > 0) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            if (!busy[lane] || advance(lane))
                continue;
            if (!(busy[lane] = load(lane)))
                --active;
        }
    }
}

// Walks the ways back of the given main lines, number and line each, and makes their items,
// line after line in the order given (a line that is done before those loaded ahead of it
// waits for them).
void walkMainLines(std::span<const std::pair<std::uint32_t, DbOffset>> lines,
                   LargeVector<MainLineItem>& items, bool& tinyEnds)
{
    std::array<LineWalk, kLanes> lanes;
    std::array<std::size_t, kLanes> lineOf{};
    std::size_t next = 0;
    std::size_t added = 0; // lines whose items are in
    std::map<std::size_t, MetRecords> waiting;
    const auto load = [&](std::size_t lane) {
        if (next == lines.size())
            return false;
        lanes[lane].start(lines[next].first, lines[next].second);
        lineOf[lane] = next++;
        return true;
    };
    walkSideBySide(load, [&](std::size_t lane) {
        if (lanes[lane].step())
            return true;
        if (lineOf[lane] != added) {
            waiting.emplace(lineOf[lane], lanes[lane].line());
            return false;
        }
        addMainLine(lanes[lane].line(), items, tinyEnds);
        for (++added; !waiting.empty() && waiting.begin()->first == added; ++added) {
            addMainLine(waiting.begin()->second, items, tinyEnds);
            waiting.erase(waiting.begin());
        }
        return false;
    });
}

// Sorts items by record, keeping their order among equal records: two passes of a
// counting sort, on the record's low half and then its high half, through a second array.
void sortByRecord(LargeVector<MainLineItem>& items)
{
    using Item = MainLineItem;
    const std::size_t n = items.size();
    LargePages<Item> pages;
    const auto release = [&pages, n](Item* p) { pages.deallocate(p, n); };
    const std::unique_ptr<Item[], decltype(release)> other(n != 0 ? pages.allocate(n) : nullptr,
                                                           release);
    const auto scatter = [n](const Item* from, Item* to, auto bucketOf) {
        std::vector<std::size_t> next(65537, 0);
        for (std::size_t i = 0; i < n; ++i)
            ++next[bucketOf(from[i]) + 1];
        for (std::size_t b = 1; b < next.size(); ++b)
            next[b] += next[b - 1];
        for (std::size_t i = 0; i < n; ++i)
            to[next[bucketOf(from[i])]++] = from[i];
    };
    scatter(items.data(), other.get(), [](const Item& item) { return item.record & 0xFFFFu; });
    scatter(other.get(), items.data(), [](const Item& item) { return item.record >> 16; });
}

void MainLineIndex::build()
{
    clear();
    const std::uint32_t issued = currentHeader().gameNumbersIssued;
    std::vector<std::pair<std::uint32_t, DbOffset>> lines;
    lines.reserve(issued);
    for (std::uint32_t n = 0; n < issued; ++n) {
        const DbOffset g = gameByNumber(n);
        if (g != 0 && gameRecord(g)->mainLine != 0)
            lines.emplace_back(n, gameRecord(g)->mainLine);
    }
    // The walks wait on memory far more than they compute: the lines are walked on two
    // threads, each taking the next run of lines in turn so that both finish together, and
    // each sorting what it made. A side's runs come in game order, so its items do; the
    // walks only read the graph.
    const std::span<const std::pair<std::uint32_t, DbOffset>> all(lines);
    struct Side {
        LargeVector<Item> items;
        bool tinyEnds = false;
        std::exception_ptr failed;
    };
    std::array<Side, 2> sides;
    const bool apart = lines.size() > kLinesPerRun;
    // About the non-tiny records of a main line, for a side's share of the lines.
    const std::size_t share = apart ? lines.size() / 2 + kLinesPerRun : lines.size();
    sides[0].items.reserve(share * 24);
    if (apart)
        sides[1].items.reserve(share * 24);
    // Each side walks a run of its own first (so that both always have lines, however the
    // threads are scheduled), then the runs left in turn.
    std::atomic<std::size_t> nextRun{2};
    const auto walk = [&](Side& side, std::size_t run) {
        try {
            for (; run * kLinesPerRun < all.size(); run = nextRun.fetch_add(1)) {
                const std::size_t from = run * kLinesPerRun;
                walkMainLines(all.subspan(from, std::min(kLinesPerRun, all.size() - from)),
                              side.items, side.tinyEnds);
            }
            sortByRecord(side.items);
        } catch (...) {
            side.failed = std::current_exception();
        }
    };
    std::jthread second;
    if (apart)
        second = startBeside([&] { walk(sides[1], 1); });
    walk(sides[0], 0);
    if (second.joinable())
        second.join();
    for (const Side& side : sides) {
        if (side.failed)
            std::rethrow_exception(side.failed);
    }
    m_tinyEnds = sides[0].tinyEnds || sides[1].tinyEnds;
    fill(sides[0].items, sides[1].items);
    m_built = true;
    m_base = currentBase;
    m_epoch = imageEpoch();
    m_changes = graphChanges();
}

// Lays the items of the two sides out for lookup, by record and game: each side comes
// sorted by record and, for a record, in game order, each line's items in ascending steps;
// a game's items are all on one side.
void MainLineIndex::fill(const LargeVector<Item>& one, const LargeVector<Item>& other)
{
    const auto before = [](const Item& a, const Item& b) {
        if (a.record != b.record)
            return a.record < b.record;
        return a.entry.gameAndSteps >> kStepBits < b.entry.gameAndSteps >> kStepBits;
    };
    m_entries.reserve(one.size() + other.size());
    std::size_t i = 0, j = 0;
    while (i < one.size() || j < other.size()) {
        const bool fromOne = j == other.size() || (i < one.size() && before(one[i], other[j]));
        const Item& item = fromOne ? one[i++] : other[j++];
        if (m_records.empty() || item.record != m_records.back()) {
            m_records.push_back(item.record);
            m_starts.push_back(std::uint32_t(m_entries.size()));
        }
        m_entries.push_back(item.entry);
    }
    m_starts.push_back(std::uint32_t(m_entries.size()));
    m_records.shrink_to_fit();
    m_starts.shrink_to_fit();
}

// The games through the target from an index (entriesAt gives a record's entries, nullopt
// when the index cannot be read); nullopt when the index cannot tell (a tiny target whose
// way to the next non-tiny record is broken or very long).
template <class EntriesAt>
std::optional<std::vector<std::uint32_t>> gamesFromIndex(EntriesAt entriesAt, bool tinyEnds,
                                                         DbOffset target, const Position& targetPos)
{
    std::vector<std::uint32_t> games;
    const auto add = [&](const MainLineIndex::Entry& e) {
        const std::uint32_t n = e.gameAndSteps >> MainLineIndex::kStepBits;
        if (games.empty() || games.back() != n)
            games.push_back(n);
    };
    if (!isTiny(target)) {
        const auto entries = entriesAt(target);
        if (!entries)
            return std::nullopt;
        for (const MainLineIndex::Entry& e : *entries)
            add(e);
        return games;
    }
    if (tinyEnds)
        return std::nullopt;
    // Forward to the next non-tiny record; last is the tiny record before it.
    TinyWalk walk(target, targetPos);
    DbOffset last = target;
    std::uint32_t distance = 0;
    while (walk.record() != 0 && isTiny(walk.record())) {
        if (distance == MainLineIndex::kStepCap)
            return std::nullopt;
        last = walk.record();
        walk.step();
        ++distance;
    }
    const DbOffset reached = walk.record();
    if (reached == 0)
        return std::nullopt;
    // The way back from last must lead to the target, through tiny records only.
    DbOffset back = last;
    for (std::uint32_t i = 1; i < distance; ++i) {
        back = at<TinyPosition>(back)->predecessor;
        if (back == 0 || !isTiny(back))
            return std::nullopt;
    }
    if (back != target)
        return std::nullopt;
    const auto entries = entriesAt(reached);
    if (!entries)
        return std::nullopt;
    for (const MainLineIndex::Entry& e : *entries) {
        if (e.next == last && (e.gameAndSteps & MainLineIndex::kStepCap) >= distance - 1)
            add(e);
    }
    return games;
}

// Adds the games of the main lines (game number, main line) whose way back meets the
// target, as variationContains tells, walking the lines side by side: each step back is a
// cache miss, and the misses of several lines overlap.
void addLinesThrough(const std::vector<std::pair<std::uint32_t, DbOffset>>& lines, DbOffset target,
                     std::set<std::uint32_t>& found)
{
    std::array<LineWalk, kLanes> lanes;
    std::size_t next = 0;
    const auto load = [&](std::size_t lane) {
        for (; next < lines.size(); ++next) {
            lanes[lane].start(lines[next].first, lines[next].second, target);
            if (lanes[lane].current() != target) {
                ++next;
                return true;
            }
            found.insert(lines[next].first);
        }
        return false;
    };
    walkSideBySide(load, [&](std::size_t lane) {
        const bool more = lanes[lane].step();
        if (more && lanes[lane].current() != target)
            return true;
        if (more)
            found.insert(lanes[lane].number());
        return false;
    });
}

// --- Choosing the way ------------------------------------------------------------------------

struct SearchState {
    MainLineIndex index;
    GameSearchMode mode = GameSearchMode::Automatic;
    // Games through the targets walked since the graph or the games last changed.
    std::uint64_t walkedGames = 0;
    std::uint64_t changesSeen = ~std::uint64_t(0);
    const std::uint8_t* baseSeen = nullptr;
    std::uint64_t epochSeen = 0;
    // The index saved beside the file of the image at savedBase, opened once per opening.
    SavedLineIndex saved;
    const std::uint8_t* savedBase = nullptr;
    std::uint64_t savedEpoch = 0;
};

SearchState& searchState()
{
    static auto& state = *new SearchState; // never destroyed: searches may run at exit
    return state;
}

// Whether to answer from the index (building it when it is not current). A walk costs
// about four times as much per game through its target as the index costs per game to
// build, so the index is built once the searches since the last change would have walked
// through a quarter of the games, or when the walk exceeds its budget and would test
// every game, which costs more than building the index.
bool useIndex(SearchState& state, std::uint64_t targetGames, bool overBudget)
{
    if (state.mode != GameSearchMode::Automatic)
        return state.mode == GameSearchMode::IndexOnly;
    if (state.index.current())
        return true;
    if (state.changesSeen != graphChanges() || state.baseSeen != currentBase ||
        state.epochSeen != imageEpoch()) {
        state.walkedGames = 0;
        state.changesSeen = graphChanges();
        state.baseSeen = currentBase;
        state.epochSeen = imageEpoch();
    }
    state.walkedGames += targetGames;
    return overBudget || state.walkedGames >= currentHeader().gameNumbersIssued / 4;
}

// The index saved beside the current image's file, when it was saved for the image as
// it was opened and nothing has changed since; null otherwise.
SavedLineIndex* savedIndex(SearchState& state)
{
    const DatabaseHeader& h = currentHeader();
    if (imageChanged(&h))
        return nullptr;
    if (state.savedBase != currentBase || state.savedEpoch != imageEpoch()) {
        state.savedBase = currentBase;
        state.savedEpoch = imageEpoch();
        const std::string path = imagePath(&h);
        state.saved.close();
        if (!path.empty())
            state.saved.open(lineIndexPath(path), imageIdentity(h, h.reserved));
    }
    return state.saved.isOpen() ? &state.saved : nullptr;
}

// Builds the index, and saves it beside the file when the image is as a clean close left
// it and no saved copy serves it already.
void buildIndex(SearchState& state)
{
    state.index.build();
    const DatabaseHeader& h = currentHeader();
    const std::string path = imagePath(&h);
    if (!path.empty() && savedIndex(state) == nullptr && !imageChanged(&h))
        (void)state.index.save(lineIndexPath(path), imageIdentity(h, h.reserved));
}

std::optional<std::vector<std::uint32_t>> gamesFromBuiltIndex(const MainLineIndex& index,
                                                              DbOffset target, const Position& pos)
{
    return gamesFromIndex([&index](DbOffset r) { return std::optional(index.entriesAt(r)); },
                          index.tinyEnds(), target, pos);
}

void testEveryGame(DbOffset position, const std::function<void(std::uint32_t)>& add)
{
    const std::uint32_t issued = currentHeader().gameNumbersIssued;
    for (std::uint32_t n = 0; n < issued; ++n) {
        const DbOffset g = gameByNumber(n);
        if (g != 0 && gameContains(g, position))
            add(n);
    }
}

} // namespace

void findGamesThrough(DbOffset position, const std::function<void(std::uint32_t)>& add)
{
    if (position == 0)
        return;
    Position pos;
    if (!reconstructPosition(position, pos)) {
        testEveryGame(position, add);
        return;
    }
    SearchState& state = searchState();
    if (state.mode == GameSearchMode::Automatic && !state.index.current()) {
        if (SavedLineIndex* saved = savedIndex(state)) {
            const auto found = gamesFromIndex([saved](DbOffset r) { return saved->entriesAt(r); },
                                              saved->tinyEnds(), position, pos);
            if (found) {
                for (std::uint32_t n : *found)
                    add(n);
                return;
            }
        }
    }
    const std::uint32_t issued = currentHeader().gameNumbersIssued;
    const std::uint64_t games = positionCounts(pos).games;
    const std::uint64_t budget =
        std::max<std::uint64_t>(std::min<std::uint64_t>(3 * games + 20, issued / 5), 10);
    if (useIndex(state, games, games > budget)) {
        if (!state.index.current())
            buildIndex(state);
        if (const auto found = gamesFromBuiltIndex(state.index, position, pos)) {
            for (std::uint32_t n : *found)
                add(n);
            return;
        }
    }
    GameSearch search(position, std::uint32_t(budget));
    if (search.run(pos)) {
        addLinesThrough(search.unsure(), position, search.found());
        for (std::uint32_t n : search.found())
            add(n);
        return;
    }
    // Over budget: building the index costs less than testing every game.
    if (state.mode == GameSearchMode::Automatic) {
        buildIndex(state);
        if (const auto found = gamesFromBuiltIndex(state.index, position, pos)) {
            for (std::uint32_t n : *found)
                add(n);
            return;
        }
    }
    testEveryGame(position, add);
}

void setGameSearchMode(GameSearchMode mode) { searchState().mode = mode; }

std::size_t gameSearchIndexBytes() { return searchState().index.memoryBytes(); }

void saveGameSearchIndex(DatabaseHeader* db, const std::string& databasePath,
                         const std::function<std::uint32_t()>& checksum)
{
    if (databasePath.empty())
        return;
    SearchState& state = searchState();
    const std::string path = lineIndexPath(databasePath);
    std::uint8_t* const current = currentBase;
    setCurrentBase(db);
    bool saved = false;
    try {
        if (state.index.current() || db->gameNumbersIssued >= kSavedIndexMinGames) {
            if (!state.index.current()) {
                // The position index the session grew has just been let go of: its memory
                // is handed back first, so that the build does not raise the session's peak.
                ::malloc_trim(0);
                state.index.build();
            }
            saved = state.index.save(path, imageIdentity(*db, checksum()));
        }
    } catch (const std::exception&) {
        // A damaged graph or no memory for the index: the next search walks.
    }
    setCurrentBase(reinterpret_cast<DatabaseHeader*>(current));
    // A copy saved for the image before this session's changes would only be read to be
    // refused.
    if (!saved)
        (void)::unlink(path.c_str());
}

void forgetGameSearchIndex(const void* base)
{
    SearchState& state = searchState();
    if (state.index.builtFor(base))
        state.index.clear();
    if (state.savedBase == base) {
        state.saved.close();
        state.savedBase = nullptr;
    }
}

} // namespace vez
