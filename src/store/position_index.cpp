#include "store/position_index.h"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <optional>

#include "chess/movegen.h"
#include "store/beside.h"
#include "store/database.h"
#include "store/graph.h"

namespace vez {

namespace {

std::uint64_t load64(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Has the system provide the pages of a new mapping now, on two threads. A large import's
// arena is tens of megabytes of large pages, each zeroed as it is first written, and where
// memory is backed lazily (a virtual machine) that takes a tenth of a second or more, while
// nothing else of the import runs yet. The contents are not touched.
void provideInParallel(std::uint8_t* p, std::size_t bytes)
{
    constexpr std::size_t kLargePage = std::size_t(2) << 20;
    const std::size_t half = bytes / 2 / kLargePage * kLargePage;
    const std::jthread other = startBeside(
        [p, bytes, half] { (void)::madvise(p + half, bytes - half, MADV_POPULATE_WRITE); });
    (void)::madvise(p, half, MADV_POPULATE_WRITE); // advice only: old systems ignore it
}

std::uint64_t mix(std::uint64_t h)
{
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

std::uint64_t keyHash(const PackedPosition& key)
{
    const std::uint64_t a = load64(key.bytes);
    const std::uint64_t b = load64(key.bytes + 8);
    const std::uint64_t c = load64(key.bytes + 16);
    return mix(a * 0x9E3779B97F4A7C15ull ^ mix(b + 0x632BE59BD9B4E019ull) ^
               (c * 0xD6E8FEB86659FD93ull));
}

} // namespace

PositionIndex::PositionIndex()
    : m_chains(new Chain[kHashSlots]),
      m_knownRecords(new DbOffset[std::size_t(1) << kKnownKeyBits]()),
      m_knownKeys(new PackedPosition[std::size_t(1) << kKnownKeyBits])
{
}

PositionIndex::~PositionIndex()
{
    for (std::size_t i = 0; i < kHashSlots; ++i) {
        if (m_chains[i].seenWords != 0 && !inArena(m_chains[i]))
            std::free(seenOf(m_chains[i]));
    }
    if (m_arena != nullptr)
        ::munmap(m_arena, m_arenaBytes);
}

std::uint64_t PositionIndex::hashOf(const PackedPosition& key) { return keyHash(key); }

std::uint32_t PositionIndex::seenWordsFor(std::uint32_t capacity)
{
    // At four bits or more a record, fewer than a quarter of the lookups of new positions
    // still scan their chain's tags.
    return std::bit_floor(std::max<std::uint32_t>(1, capacity / 16));
}

std::size_t PositionIndex::blockBytes(std::uint32_t capacity)
{
    const std::size_t bytes =
        seenWordsFor(capacity) * sizeof(std::uint64_t) +
        std::size_t(capacity) * (sizeof(std::uint32_t) + sizeof(std::uint16_t));
    return (bytes + 7) / 8 * 8;
}

void PositionIndex::moveTo(Chain& c, std::uint8_t* place, std::uint32_t capacity)
{
    const std::uint32_t words = seenWordsFor(capacity);
    auto* seen = reinterpret_cast<std::uint64_t*>(place);
    auto* records = reinterpret_cast<std::uint32_t*>(seen + words);
    auto* tags = reinterpret_cast<std::uint16_t*>(records + capacity);
    std::memset(seen, 0, words * sizeof(std::uint64_t));
    for (std::uint32_t i = 0; i < c.size; ++i) {
        const std::uint32_t bit = c.tags[i] & (words * 64 - 1);
        seen[bit / 64] |= std::uint64_t(1) << (bit % 64);
    }
    if (c.size != 0) {
        std::memcpy(records, c.records, c.size * sizeof(std::uint32_t));
        std::memcpy(tags, c.tags, c.size * sizeof(std::uint16_t));
    }
    if (c.seenWords != 0 && !inArena(c))
        std::free(seenOf(c));
    c.records = records;
    c.tags = tags;
    c.capacity = capacity;
    c.seenWords = words;
}

void PositionIndex::resize(Chain& c, std::uint32_t capacity)
{
    auto* block = static_cast<std::uint8_t*>(std::malloc(blockBytes(capacity)));
    if (block == nullptr)
        throw std::bad_alloc();
    moveTo(c, block, capacity);
    // touchHead reads the slot the next record will take: unlike the arena's, a new block's
    // slots are not zero until written.
    std::fill(c.records + c.size, c.records + capacity, 0u);
    std::fill(c.tags + c.size, c.tags + capacity, std::uint16_t(0));
}

void PositionIndex::chainedAtHead(std::uint16_t chain, DbOffset record, std::uint16_t tag)
{
    Chain& c = m_chains[chain];
    if (c.size == c.capacity)
        resize(c, std::max<std::uint32_t>(8, c.capacity + c.capacity / 2));
    c.records[c.size] = record;
    c.tags[c.size] = tag;
    ++c.size;
    ++m_size;
    const std::uint32_t bit = tag & (c.seenWords * 64 - 1);
    seenOf(c)[bit / 64] |= std::uint64_t(1) << (bit % 64);
}

std::optional<PositionIndex::Place> PositionIndex::locate(std::uint16_t chain,
                                                          DbOffset record) const
{
    const Chain& c = m_chains[chain];
    // Records promoted or removed are most often young ones, near the head.
    for (std::uint32_t i = c.size; i-- > 0;) {
        if (c.records[i] == record)
            return Place{i, i + 1 < c.size ? DbOffset(c.records[i + 1]) : 0, c.tags[i]};
    }
    return std::nullopt;
}

void PositionIndex::unchained(std::uint16_t chain, const Place& place)
{
    Chain& c = m_chains[chain];
    forgetKey(c.records[place.at]);
    const std::uint32_t after = c.size - place.at - 1;
    std::memmove(c.records + place.at, c.records + place.at + 1, after * sizeof(std::uint32_t));
    std::memmove(c.tags + place.at, c.tags + place.at + 1, after * sizeof(std::uint16_t));
    --c.size;
    --m_size;
}

void PositionIndex::reserve(std::size_t count)
{
    // Chains fill evenly; a little over the mean spares most of them a growth.
    const std::size_t each = (m_size + count) / kHashSlots;
    const auto wanted = std::uint32_t(std::min<std::size_t>(each + each / 8 + 4, UINT32_MAX / 8));
    bool growing = false;
    for (std::size_t i = 0; i < kHashSlots && !growing; ++i)
        growing = m_chains[i].capacity < wanted;
    if (!growing)
        return;
    const std::size_t perChain = blockBytes(wanted);
    const std::size_t bytes = perChain * kHashSlots;
    void* arena =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (arena == MAP_FAILED) {
        for (std::size_t i = 0; i < kHashSlots; ++i) {
            if (m_chains[i].capacity < wanted)
                resize(m_chains[i], wanted);
        }
        return;
    }
    (void)::madvise(arena, bytes, MADV_HUGEPAGE); // advice only
    auto* const block = static_cast<std::uint8_t*>(arena);
    provideInParallel(block, bytes);
    for (std::size_t i = 0; i < kHashSlots; ++i) {
        Chain& c = m_chains[i];
        if (c.capacity < wanted)
            moveTo(c, block + i * perChain, wanted);
        else if (inArena(c)) // the old arena goes
            resize(c, c.capacity);
    }
    if (m_arena != nullptr)
        ::munmap(m_arena, m_arenaBytes);
    m_arena = block;
    m_arenaBytes = bytes;
}

std::size_t PositionIndex::memoryBytes() const
{
    std::size_t bytes = kHashSlots * sizeof(Chain);
    for (std::size_t i = 0; i < kHashSlots; ++i)
        bytes += m_chains[i].capacity != 0 ? blockBytes(m_chains[i].capacity) : 0;
    return bytes;
}

// --- Building ---------------------------------------------------------------------------

namespace {

struct ChainedRecord {
    DbOffset record;
    std::uint32_t slot;
};

enum class KeyState : std::uint8_t { Unknown, OnPath, Known, Failed };

// Every record of every chain, in chain order; nullopt when a chain leaves the image or
// never ends.
std::optional<std::vector<ChainedRecord>> chainedRecords()
{
    const DatabaseHeader& h = currentHeader();
    std::uint64_t budget = h.usedBytes / sizeof(TinyPosition) + 1;
    std::vector<ChainedRecord> out;
    for (std::uint32_t slot = 0; slot < kHashSlots; ++slot) {
        for (DbOffset r = hashSlot(std::uint16_t(slot)); r != 0;
             r = at<PositionRecord>(r)->nextInChain) {
            if (budget-- == 0 || r % 4 != 0 ||
                std::uint64_t(r) + sizeof(TinyPosition) > h.usedBytes)
                return std::nullopt;
            out.push_back({r, slot});
        }
    }
    return out;
}

// The packed key of every chained record, rebuilt the way reconstructPosition rebuilds a
// position (the same predecessor steps), but each from its already known predecessor.
// Records are taken in the order of their offsets: a record is almost always allocated
// after its predecessor, so most keys follow from the one just made, and the image is
// read front to back.
class KeyBuilder {
public:
    explicit KeyBuilder(const std::vector<ChainedRecord>& chained)
    {
        // Record offsets are multiples of 4 below the heap top: one number per 4 bytes of
        // image finds a record's place (kept only while the index is built). It first
        // holds 1 + the record's chain slot, then 1 + its place in offset order.
        m_places = currentHeader().usedBytes / 4 + 1;
        m_placeOf.reset(static_cast<std::uint32_t*>(std::calloc(m_places, sizeof(std::uint32_t))));
        if (!m_placeOf)
            throw std::bad_alloc();
        for (const ChainedRecord& c : chained) {
            std::uint32_t& place = m_placeOf[c.record / 4];
            m_unique = m_unique && place == 0;
            place = c.slot + 1;
        }
        m_offsets.reserve(chained.size());
        for (std::size_t p = 0; p < m_places; ++p) {
            if (m_placeOf[p] == 0)
                continue;
            m_offsets.push_back(DbOffset(p * 4));
            m_placeOf[p] = std::uint32_t(m_offsets.size());
        }
        m_keys.resize(m_offsets.size());
        m_states.assign(m_offsets.size(), KeyState::Unknown);
    }

    // False when a record stands in two chains (or twice in one).
    bool unique() const { return m_unique; }
    std::size_t count() const { return m_offsets.size(); }
    DbOffset offsetAt(std::size_t i) const { return m_offsets[i]; }

    const PackedPosition* keyAt(std::size_t i)
    {
        if (m_states[i] == KeyState::Unknown)
            resolve(i);
        return m_states[i] == KeyState::Known ? &m_keys[i] : nullptr;
    }

    const PackedPosition* keyOf(DbOffset record)
    {
        const std::size_t i = indexOf(record);
        return i == kNone ? nullptr : keyAt(i);
    }

private:
    static constexpr std::size_t kNone = ~std::size_t(0);

    std::size_t indexOf(DbOffset record) const
    {
        if (record % 4 != 0 || record / 4 >= m_places)
            return kNone;
        const std::uint32_t place = m_placeOf[record / 4];
        return place != 0 ? std::size_t(place - 1) : kNone;
    }

    void resolve(std::size_t first)
    {
        m_path.clear();
        Position pos;
        bool ok = true;
        std::size_t i = first;
        for (;;) {
            if (m_states[i] == KeyState::Known) {
                unpackPosition(m_keys[i], pos);
                break;
            }
            if (m_states[i] != KeyState::Unknown) { // failed, or a loop back into this walk
                ok = false;
                break;
            }
            const DbOffset r = m_offsets[i];
            if (isHuge(r)) {
                std::memcpy(m_keys[i].bytes, at<HugePosition>(r)->key, sizeof m_keys[i].bytes);
                m_states[i] = KeyState::Known;
                unpackPosition(m_keys[i], pos);
                break;
            }
            const std::optional<PredecessorStep> step = predecessorStep(r);
            if (!step) {
                if (isTiny(r)) {
                    ok = false;
                    m_states[i] = KeyState::Failed;
                    break;
                }
                setStandardStart(pos);
                m_states[i] = KeyState::OnPath;
                m_path.push_back({i, Move::None});
                break;
            }
            m_states[i] = KeyState::OnPath;
            m_path.push_back({i, step->move});
            i = indexOf(step->record);
            if (i == kNone) {
                ok = false;
                break;
            }
        }
        // m_path runs from the first record back towards the root; replay it forwards.
        for (auto it = m_path.rbegin(); it != m_path.rend(); ++it) {
            if (ok && it->move != Move::None)
                makeMove(pos, it->move);
            if (ok && packPosition(pos, m_keys[it->index])) {
                m_states[it->index] = KeyState::Known;
            } else {
                ok = false;
                m_states[it->index] = KeyState::Failed;
            }
        }
    }

    struct PathStep {
        std::size_t index;
        Move move; // from the predecessor to this record; None at a root
    };
    struct FreeMemory {
        void operator()(void* p) const { std::free(p); }
    };

    std::size_t m_places = 0;
    std::unique_ptr<std::uint32_t[], FreeMemory> m_placeOf;
    std::vector<DbOffset> m_offsets;
    std::vector<PackedPosition> m_keys;
    std::vector<KeyState> m_states;
    std::vector<PathStep> m_path;
    bool m_unique = true;
};

// A record is found only through the chain of its own key and with its own secondary
// code; one that the walk along its chain could not find is left out.
bool findable(const PackedPosition* key, std::uint16_t slot, DbOffset record)
{
    return key != nullptr && primaryHash(*key) == slot &&
           secondaryCode(*key) == at<PositionRecord>(record)->secondary;
}

// Whether two findable records of a chain hold one key.
bool holdsDuplicates(std::vector<std::pair<std::uint16_t, const PackedPosition*>>& tagged)
{
    std::sort(tagged.begin(), tagged.end(),
              [](const auto& x, const auto& y) { return x.first < y.first; });
    for (std::size_t i = 0; i < tagged.size(); ++i) {
        for (std::size_t j = i + 1; j < tagged.size() && tagged[j].first == tagged[i].first; ++j) {
            if (*tagged[j].second == *tagged[i].second)
                return true;
        }
    }
    return false;
}

std::unique_ptr<PositionIndex> buildIndex()
{
    const std::optional<std::vector<ChainedRecord>> chained = chainedRecords();
    if (!chained)
        return nullptr;
    KeyBuilder keys(*chained);
    if (!keys.unique())
        return nullptr;
    // Keys in the order of the records' offsets first: most follow from the one just made.
    for (std::size_t i = 0; i < keys.count(); ++i)
        (void)keys.keyAt(i);
    auto index = std::make_unique<PositionIndex>();
    index->reserve(chained->size());
    std::vector<std::pair<std::uint16_t, const PackedPosition*>> tagged;
    for (std::size_t end = chained->size(); end > 0;) {
        // One chain, from its last record to its head.
        const std::uint32_t slot = (*chained)[end - 1].slot;
        tagged.clear();
        for (; end > 0 && (*chained)[end - 1].slot == slot; --end) {
            const DbOffset r = (*chained)[end - 1].record;
            const PackedPosition* key = keys.keyOf(r);
            // A record the chain walk could never find gets a tag no key has.
            std::uint16_t tag = 0;
            if (findable(key, std::uint16_t(slot), r)) {
                tag = PositionIndex::tagOf(PositionIndex::hashOf(*key));
                tagged.emplace_back(tag, key);
            }
            index->chainedAtHead(std::uint16_t(slot), r, tag);
        }
        index->sawDuplicates = index->sawDuplicates || holdsDuplicates(tagged);
    }
    return index;
}

struct Registered {
    const void* base = nullptr;
    std::unique_ptr<PositionIndex> index;
    bool stale = true;        // to be built before the next lookup
    bool unusable = false;    // the graph cannot be indexed exactly
    std::uint64_t walked = 0; // chain records walked by lookups while there was no index
};

// Building costs about as much as walking eight records per record of the image (a record
// takes some sixteen bytes or more); walking a chain, about that many records per lookup.
std::uint64_t walkThatPaysForBuilding() { return currentHeader().usedBytes / 2; }

// Never destroyed: a database may still be closed by another static's destructor at exit.
std::vector<Registered>& registry()
{
    static auto* entries = new std::vector<Registered>;
    return *entries;
}

Registered* entryOf(const void* base)
{
    for (Registered& e : registry()) {
        if (e.base == base)
            return &e;
    }
    return nullptr;
}

Registered& currentEntry()
{
    if (Registered* e = entryOf(currentBase))
        return *e;
    registry().push_back({currentBase, nullptr, true, false, 0});
    return registry().back();
}

} // namespace

namespace {
bool indexEnabled = true;
IndexBuilding building = IndexBuilding::WhenWorthIt;
} // namespace

void setPositionIndexEnabled(bool enabled) { indexEnabled = enabled; }
void setPositionIndexBuilding(IndexBuilding how) { building = how; }

namespace {

// The current image's index, built now when stale and buildNow says so.
PositionIndex* indexOfCurrentImage(bool (*buildNow)(const Registered&))
{
    if (!indexEnabled)
        return nullptr;
    Registered& e = currentEntry();
    if (e.unusable || (e.stale && !buildNow(e)))
        return nullptr;
    if (e.stale) {
        e.index = buildIndex();
        e.stale = false;
        e.unusable = e.index == nullptr;
        e.walked = 0;
    }
    return e.index.get();
}

} // namespace

PositionIndex* currentPositionIndex()
{
    return indexOfCurrentImage([](const Registered&) { return true; });
}

PositionIndex* lookupPositionIndex()
{
    return indexOfCurrentImage([](const Registered& e) {
        return building == IndexBuilding::OnFirstLookup || e.walked >= walkThatPaysForBuilding();
    });
}

void noteChainWalk(std::size_t records)
{
    if (indexEnabled)
        currentEntry().walked += records + 1;
}

PositionIndex* builtPositionIndex()
{
    Registered* e = entryOf(currentBase);
    return e != nullptr && !e->stale ? e->index.get() : nullptr;
}

void reservePositionIndex(std::size_t positions)
{
    if (builtPositionIndex() == nullptr) {
        // Each lookup would walk a chain of records / 65,536 records.
        const std::uint64_t walk =
            std::uint64_t(positions) * (currentHeader().usedBytes / 16 / kHashSlots + 1);
        if (walk < walkThatPaysForBuilding() && building == IndexBuilding::WhenWorthIt)
            return;
    }
    if (PositionIndex* index = currentPositionIndex()) {
        // Counted from what the index holds already.
        index->reserve(index->size() + positions);
    }
}

void invalidatePositionIndex()
{
    Registered& e = currentEntry();
    e.index.reset();
    e.stale = true;
    e.unusable = false;
}

std::unique_ptr<PositionIndex> detachPositionIndex(const void* base)
{
    Registered* e = entryOf(base);
    std::unique_ptr<PositionIndex> index =
        e != nullptr && !e->stale ? std::move(e->index) : nullptr;
    forgetPositionIndex(base);
    return index;
}

void attachPositionIndex(const void* base, std::unique_ptr<PositionIndex> index)
{
    forgetPositionIndex(base);
    if (index)
        registry().push_back({base, std::move(index), false, false});
}

void forgetPositionIndex(const void* base)
{
    auto& entries = registry();
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [base](const Registered& e) { return e.base == base; }),
                  entries.end());
}

} // namespace vez
