#include "store/position_index.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <optional>

#include "chess/movegen.h"
#include "store/beside.h"
#include "store/checksum.h"
#include "store/database.h"
#include "store/file_io.h"
#include "store/graph.h"
#include "store/large_pages.h"
#include "store/line_index_file.h"
#include "store/prefetch.h"

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
    : m_chains(kHashSlots),
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
        unmapLargePages(m_arena, m_arenaBytes);
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
}

void PositionIndex::chainedAtHead(std::uint16_t chain, DbOffset record, std::uint16_t tag)
{
    Chain& c = m_chains[chain];
    if (c.size == c.capacity)
        resize(c, std::max<std::uint32_t>(8, c.capacity + c.capacity / 2));
    // The chain's fields read once, before the stores that the compiler cannot tell apart
    // from them.
    const std::uint32_t at = c.size;
    const std::uint32_t bit = tag & (c.seenWords * 64 - 1);
    std::uint64_t* const seen = seenOf(c);
    std::uint32_t* const records = c.records;
    std::uint16_t* const tags = c.tags;
    c.size = at + 1;
    ++m_size;
    records[at] = record;
    tags[at] = tag;
    seen[bit / 64] |= std::uint64_t(1) << (bit % 64);
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
    void* arena = mapLargePages(bytes);
    if (arena == nullptr) {
        for (std::size_t i = 0; i < kHashSlots; ++i) {
            if (m_chains[i].capacity < wanted)
                resize(m_chains[i], wanted);
        }
        return;
    }
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
        unmapLargePages(m_arena, m_arenaBytes);
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
// never ends. Each record is a memory miss, and the next is only known once it is read: the
// chains are walked sixteen at a time, side by side, so that their misses overlap.
std::optional<std::vector<ChainedRecord>> chainedRecords()
{
    const DatabaseHeader& h = currentHeader();
    std::uint64_t budget = h.usedBytes / sizeof(TinyPosition) + 1;
    std::vector<ChainedRecord> out;
    constexpr std::uint32_t kSideBySide = 16;
    static_assert(kHashSlots % kSideBySide == 0);
    std::array<std::vector<DbOffset>, kSideBySide> walked;
    for (std::uint32_t first = 0; first < kHashSlots; first += kSideBySide) {
        std::array<DbOffset, kSideBySide> next{};
        std::uint32_t walking = 0;
        for (std::uint32_t k = 0; k < kSideBySide; ++k) {
            walked[k].clear();
            next[k] = hashSlot(std::uint16_t(first + k));
            walking += next[k] != 0;
        }
        while (walking > 0) {
            for (std::uint32_t k = 0; k < kSideBySide; ++k) {
                const DbOffset r = next[k];
                if (r == 0)
                    continue;
                if (budget-- == 0 || r % 4 != 0 ||
                    std::uint64_t(r) + sizeof(TinyPosition) > h.usedBytes)
                    return std::nullopt;
                walked[k].push_back(r);
                next[k] = at<PositionRecord>(r)->nextInChain;
                walking -= next[k] == 0;
            }
        }
        for (std::uint32_t k = 0; k < kSideBySide; ++k) {
            for (const DbOffset r : walked[k])
                out.push_back({r, first + k});
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
        // Record offsets are multiples of 4 below the heap top: a bit for each 4 bytes of
        // image marks the chained records (kept only while the index is built), and a
        // record's place in offset order is the count of marks before its own: the count
        // before each word of marks, plus those earlier in its word.
        const std::size_t units = currentHeader().usedBytes / 4 + 1;
        m_marks.assign((units + 63) / 64, 0);
        for (const ChainedRecord& c : chained) {
            std::uint64_t& word = m_marks[c.record / 4 / 64];
            const std::uint64_t bit = std::uint64_t(1) << (c.record / 4 % 64);
            m_unique = m_unique && (word & bit) == 0;
            word |= bit;
        }
        m_marksBefore.resize(m_marks.size());
        std::uint32_t marked = 0;
        m_offsets.reserve(chained.size());
        for (std::size_t w = 0; w < m_marks.size(); ++w) {
            m_marksBefore[w] = marked;
            for (std::uint64_t bits = m_marks[w]; bits != 0; bits &= bits - 1)
                m_offsets.push_back(DbOffset((w * 64 + std::size_t(std::countr_zero(bits))) * 4));
            marked += std::uint32_t(std::popcount(m_marks[w]));
        }
        m_slots.resize(m_offsets.size());
        for (const ChainedRecord& c : chained)
            m_slots[indexOf(c.record)] = std::uint16_t(c.slot);
        m_keys.resize(m_offsets.size());
        m_states.assign(m_offsets.size(), KeyState::Unknown);
    }

    // False when a record stands in two chains (or twice in one).
    bool unique() const { return m_unique; }
    std::size_t count() const { return m_offsets.size(); }
    DbOffset offsetAt(std::size_t i) const { return m_offsets[i]; }
    // The chain the record at place i stands in.
    std::uint16_t slotAt(std::size_t i) const { return m_slots[i]; }

    static constexpr std::size_t kNone = ~std::size_t(0);
    // A record's place in offset order, or kNone.
    std::size_t indexOf(DbOffset record) const
    {
        const std::size_t unit = record / 4;
        if (record % 4 != 0 || unit / 64 >= m_marks.size())
            return kNone;
        const std::uint64_t word = m_marks[unit / 64];
        const std::uint64_t bit = std::uint64_t(1) << (unit % 64);
        if ((word & bit) == 0)
            return kNone;
        return m_marksBefore[unit / 64] + std::size_t(std::popcount(word & (bit - 1)));
    }
    // Starts fetching where indexOf finds a record's place.
    void prefetchPlace(DbOffset record) const
    {
        const std::size_t unit = record / 4;
        if (unit / 64 < m_marks.size()) {
            prefetch(&m_marks[unit / 64]);
            prefetch(&m_marksBefore[unit / 64]);
        }
    }

    const PackedPosition* keyAt(std::size_t i)
    {
        if (m_states[i] == KeyState::Unknown)
            resolve(i);
        return m_states[i] == KeyState::Known ? &m_keys[i] : nullptr;
    }

    // The key at place i once keyAt has built it.
    const PackedPosition* builtKey(std::size_t i) const { return &m_keys[i]; }

private:
    void resolve(std::size_t first)
    {
        m_path.clear();
        Position pos;
        bool ok = true;
        std::size_t i = first;
        for (;;) {
            if (m_states[i] == KeyState::Known) {
                // Mostly the record just made: its position is still at hand.
                if (i == m_lastMade)
                    pos = m_lastPosition;
                else
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
                m_lastMade = it->index;
                m_lastPosition = pos;
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
    std::vector<std::uint64_t> m_marks;
    std::vector<std::uint32_t> m_marksBefore;
    std::vector<DbOffset> m_offsets;
    std::vector<std::uint16_t> m_slots;
    std::vector<PackedPosition> m_keys;
    std::vector<KeyState> m_states;
    std::vector<PathStep> m_path;
    std::size_t m_lastMade = kNone; // the key made last, and its position
    Position m_lastPosition;
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
    // Each record's tag at once, while its key is at hand: 0 for a record the chain walk could
    // never find.
    std::vector<std::uint16_t> tags(keys.count());
    for (std::size_t i = 0; i < keys.count(); ++i) {
        const PackedPosition* key = keys.keyAt(i);
        if (findable(key, keys.slotAt(i), keys.offsetAt(i)))
            tags[i] = PositionIndex::tagOf(PositionIndex::hashOf(*key));
    }
    auto index = std::make_unique<PositionIndex>();
    index->reserve(chained->size());
    std::vector<std::pair<std::uint16_t, const PackedPosition*>> tagged;
    // The records come in chain order and their tags in offset order: each tag is a miss,
    // fetched this many records ahead (and where it is kept, twice as far).
    constexpr std::size_t kAhead = 24;
    const std::vector<ChainedRecord>& list = *chained;
    for (std::size_t end = list.size(); end > 0;) {
        // One chain, from its last record to its head.
        const std::uint32_t slot = list[end - 1].slot;
        tagged.clear();
        for (; end > 0 && list[end - 1].slot == slot; --end) {
            if (end > 2 * kAhead)
                keys.prefetchPlace(list[end - 1 - 2 * kAhead].record);
            if (end > kAhead) {
                const std::size_t ahead = keys.indexOf(list[end - 1 - kAhead].record);
                if (ahead != KeyBuilder::kNone)
                    prefetch(&tags[ahead]);
            }
            const DbOffset r = list[end - 1].record;
            const std::size_t i = keys.indexOf(r);
            // A record the chain walk could never find gets a tag no key has.
            const std::uint16_t tag = i != KeyBuilder::kNone ? tags[i] : 0;
            if (tag != 0)
                tagged.emplace_back(tag, keys.builtKey(i));
            index->chainedAtHead(std::uint16_t(slot), r, tag);
        }
        index->sawDuplicates = index->sawDuplicates || holdsDuplicates(tagged);
    }
    return index;
}

// --- Saved beside the file ---------------------------------------------------------------

constexpr char kSavedMagic[8] = {'v', 'e', 'z', 'p', 'o', 's', '1', '\0'};
constexpr std::size_t kSavedBlockBytes = BesideFileWriter::kBlockBytes;
// Smaller indexes are built faster than a file is read and checked.
constexpr std::size_t kSavedMinPositions = std::size_t(1) << 16;

// The file: this header, then the payload: each chain's size (u32), then each chain's
// records (u32, oldest first), then each chain's tags (u16) in the same order.
struct SavedHeader {
    char magic[8];
    std::uint64_t identity;
    std::uint64_t positions;
    std::uint32_t sawDuplicates;
    std::uint32_t unused;
    std::uint64_t payloadHash; // of the hashes of the payload's blocks
    std::uint64_t headerHash;  // of the fields above
};
static_assert(sizeof(SavedHeader) == 48);

constexpr std::uint64_t kSavedSeed = 0x905;

std::uint64_t savedHeaderHash(const SavedHeader& h)
{
    return hashBytes(reinterpret_cast<const std::uint8_t*>(&h), offsetof(SavedHeader, headerHash),
                     kSavedSeed);
}

// The payload's hash: of the hashes of its blocks, each seeded with the block's number.
std::uint64_t payloadHash(const std::vector<std::uint64_t>& blockHashes)
{
    return hashBytes(reinterpret_cast<const std::uint8_t*>(blockHashes.data()),
                     blockHashes.size() * sizeof(std::uint64_t), kSavedSeed);
}

// The index saved beside the current image's file, with room for more positions to come,
// when the file is for the image as it was opened (nothing changed since) and reads back
// whole and as saved; null otherwise.
std::unique_ptr<PositionIndex> loadSavedIndex(std::size_t more)
{
    const DatabaseHeader& h = currentHeader();
    const std::string path = imagePath(&h);
    if (path.empty() || imageChanged(&h))
        return nullptr;
    const std::uint64_t identity = imageIdentity(h, h.reserved);
    const int fd = ::open(positionIndexPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    SavedHeader header{};
    struct stat st {};
    const std::uint64_t positions = readAll(fd, &header, sizeof header, 0) ? header.positions : 0;
    const std::uint64_t payload = 4 * std::uint64_t(kHashSlots) + 6 * positions;
    bool ok = identity != 0 && ::fstat(fd, &st) == 0 &&
              std::memcmp(header.magic, kSavedMagic, sizeof kSavedMagic) == 0 &&
              header.headerHash == savedHeaderHash(header) && header.identity == identity &&
              positions <= h.usedBytes / sizeof(TinyPosition) &&
              std::uint64_t(st.st_size) == sizeof header + payload;
    // Mapped, not copied: the pages the system holds for the file serve as they are.
    void* map =
        ok ? ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
    ::close(fd);
    if (map == MAP_FAILED)
        return nullptr;
    const auto unmap = [size = std::size_t(st.st_size)](void* p) { ::munmap(p, size); };
    const std::unique_ptr<void, decltype(unmap)> mapped(map, unmap);
    const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(map) + sizeof header,
                                              payload);
    std::vector<std::uint64_t> hashes;
    for (std::size_t at = 0; at < bytes.size(); at += kSavedBlockBytes)
        hashes.push_back(hashBytes(bytes.data() + at, std::min(kSavedBlockBytes, bytes.size() - at),
                                   hashes.size()));
    if (payloadHash(hashes) != header.payloadHash)
        return nullptr;
    const auto* sizes = reinterpret_cast<const std::uint32_t*>(bytes.data());
    const std::uint8_t* records = bytes.data() + 4 * kHashSlots;
    const std::uint8_t* tags = records + 4 * positions;
    std::uint64_t total = 0;
    for (std::size_t chain = 0; chain < kHashSlots; ++chain)
        total += sizes[chain];
    if (total != positions)
        return nullptr;
    auto index = std::make_unique<PositionIndex>();
    index->reserve(positions + more);
    std::uint64_t i = 0;
    for (std::size_t chain = 0; chain < kHashSlots; ++chain) {
        for (std::uint32_t k = 0; k < sizes[chain]; ++k, ++i) {
            DbOffset record;
            std::uint16_t tag;
            std::memcpy(&record, records + 4 * i, sizeof record);
            std::memcpy(&tag, tags + 2 * i, sizeof tag);
            index->chainedAtHead(std::uint16_t(chain), record, tag);
        }
    }
    index->sawDuplicates = header.sawDuplicates != 0;
    return index;
}

struct Registered {
    const void* base = nullptr;
    std::unique_ptr<PositionIndex> index;
    bool stale = true;        // to be built before the next lookup
    bool unusable = false;    // the graph cannot be indexed exactly
    std::uint64_t walked = 0; // chain records walked by lookups while there was no index
    bool fromFile = false;    // read from the copy kept beside the file
};

// Building costs about as much as walking two records per record of the image (a record
// takes some sixteen bytes or more): a walk misses the cache at every record, and rebuilds
// the position of each record whose secondary code matches. Walking a chain costs about
// that many records per lookup.
std::uint64_t walkThatPaysForBuilding() { return currentHeader().usedBytes / 8; }

// Never destroyed: a database may still be closed by another static's destructor at exit.
std::vector<Registered>& registry()
{
    static auto* entries = new std::vector<Registered>;
    return *entries;
}

// The entry added last: the open image's, asked for at every record an import stores.
// Set only where entries come or go (never by a lookup, so that lookups on several threads
// stay reads), and forgotten then, as the others may move.
struct AddedEntry {
    const void* base = nullptr;
    Registered* entry = nullptr;
};
AddedEntry lastAdded;

Registered* entryOf(const void* base)
{
    if (lastAdded.entry != nullptr && base == lastAdded.base)
        return lastAdded.entry;
    for (Registered& e : registry()) {
        if (e.base == base)
            return &e;
    }
    return nullptr;
}

Registered& addEntry(Registered entry)
{
    registry().push_back(std::move(entry));
    lastAdded = {registry().back().base, &registry().back()};
    return registry().back();
}

// Apart, so that finding the entry, as nearly every call does, costs no call.
[[gnu::noinline]] Registered& addCurrentEntry()
{
    return addEntry({currentBase, nullptr, true, false, 0});
}

Registered& currentEntry()
{
    if (Registered* e = entryOf(currentBase))
        return *e;
    return addCurrentEntry();
}

} // namespace

namespace {
bool indexEnabled = true;
IndexBuilding building = IndexBuilding::WhenWorthIt;
} // namespace

void setPositionIndexEnabled(bool enabled) { indexEnabled = enabled; }
void setPositionIndexBuilding(IndexBuilding how) { building = how; }

namespace {

// The image's index from now on: read from the file beside it, or built.
void install(Registered& e, std::unique_ptr<PositionIndex> index, bool fromFile)
{
    e.index = std::move(index);
    e.fromFile = fromFile;
    e.stale = false;
    e.unusable = e.index == nullptr;
    e.walked = 0;
}

// The current image's index, built now when stale and buildNow says so.
PositionIndex* indexOfCurrentImage(bool (*buildNow)(const Registered&))
{
    if (!indexEnabled)
        return nullptr;
    Registered& e = currentEntry();
    if (e.unusable || (e.stale && !buildNow(e)))
        return nullptr;
    if (e.stale) {
        if (std::unique_ptr<PositionIndex> saved = loadSavedIndex(0))
            install(e, std::move(saved), true);
        else
            install(e, buildIndex(), false);
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

bool positionIndexReadFromFile()
{
    const Registered* e = entryOf(currentBase);
    return e != nullptr && !e->stale && e->fromFile;
}

PositionIndex* builtPositionIndex()
{
    Registered* e = entryOf(currentBase);
    return e != nullptr && !e->stale ? e->index.get() : nullptr;
}

void reservePositionIndex(std::size_t positions)
{
    if (builtPositionIndex() == nullptr && building == IndexBuilding::WhenWorthIt) {
        // Each lookup would walk a chain of records / 65,536 records. A saved index is read
        // at a small part of the cost of a build.
        const std::uint64_t walk =
            std::uint64_t(positions) * (currentHeader().usedBytes / 16 / kHashSlots + 1);
        if (walk < walkThatPaysForBuilding() / 16)
            return;
        // Read with room for what comes, so that it need not move again.
        if (std::unique_ptr<PositionIndex> saved = loadSavedIndex(positions))
            install(currentEntry(), std::move(saved), true);
        else if (walk < walkThatPaysForBuilding())
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
        addEntry({base, std::move(index), false, false});
}

std::string positionIndexPath(const std::string& databasePath) { return databasePath + ".pos"; }

SavingPositionIndex::SavingPositionIndex(const void* base, const std::string& path)
{
    const Registered* e = entryOf(base);
    const PositionIndex* index = e != nullptr && !e->stale ? e->index.get() : nullptr;
    if (path.empty() || index == nullptr || index->size() < kSavedMinPositions)
        return;
    auto out = std::make_unique<BesideFileWriter>(path, off_t(sizeof(SavedHeader)));
    bool ok = out->isOpen();
    for (std::size_t chain = 0; ok && chain < kHashSlots; ++chain) {
        const auto size = std::uint32_t(index->chainRecords(std::uint16_t(chain)).size());
        ok = out->put(&size, 1);
    }
    for (std::size_t chain = 0; ok && chain < kHashSlots; ++chain) {
        const auto records = index->chainRecords(std::uint16_t(chain));
        ok = out->put(records.data(), records.size());
    }
    for (std::size_t chain = 0; ok && chain < kHashSlots; ++chain) {
        const auto tags = index->chainTags(std::uint16_t(chain));
        ok = out->put(tags.data(), tags.size());
    }
    if (!ok || !out->flush())
        return;
    m_out = std::move(out);
    m_positions = index->size();
    m_payloadHash = payloadHash(m_out->blockHashes());
    m_sawDuplicates = index->sawDuplicates;
}

SavingPositionIndex::~SavingPositionIndex() = default;

bool SavingPositionIndex::finish(std::uint64_t identity)
{
    if (!m_out)
        return false;
    SavedHeader header{};
    std::memcpy(header.magic, kSavedMagic, sizeof kSavedMagic);
    header.identity = identity;
    header.positions = m_positions;
    header.sawDuplicates = m_sawDuplicates ? 1 : 0;
    header.payloadHash = m_payloadHash;
    header.headerHash = savedHeaderHash(header);
    const bool ok = identity != 0 && m_out->write(&header, sizeof header, 0) && m_out->finish();
    m_out.reset();
    return ok;
}

void forgetPositionIndex(const void* base)
{
    lastAdded = {};
    auto& entries = registry();
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [base](const Registered& e) { return e.base == base; }),
                  entries.end());
}

} // namespace vez
