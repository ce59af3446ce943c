// An in-memory index of the position records of an open image, by packed key.
//
// The file's own hash table has 65,536 chains. With millions of positions every chain is
// a hundred records long, and proving a position absent means rebuilding the position of
// every record in the chain whose secondary code matches. The index answers the same
// question with one probe: it maps each key to the record the chain walk would find
// first. It lives beside the mapping while the image is open, is built on the first
// lookup (one pass over the records, each position rebuilt from its predecessor's) and is
// kept up to date by the graph operations that add, promote and remove records. Nothing
// of it is stored in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <memory>
#include <vector>

#include "store/packing.h"
#include "store/records.h"

namespace vez {

class PositionIndex {
public:
    PositionIndex();

    // The hash a key is placed by; pure, so it can be worked out anywhere beforehand.
    static std::uint64_t hashOf(const PackedPosition& key);
    DbOffset find(const PackedPosition& key) const { return find(key, hashOf(key)); }
    DbOffset find(const PackedPosition& key, std::uint64_t hash) const;
    // Starts fetching the memory a find or assign of a key with this hash will read, so
    // that the lookups of a whole line overlap rather than wait one after the other.
    void prefetch(std::uint64_t hash) const;
    // Makes key name record (a new record at the head of its chain wins over an older one).
    void assign(const PackedPosition& key, DbOffset record) { assign(key, record, hashOf(key)); }
    void assign(const PackedPosition& key, DbOffset record, std::uint64_t hash);
    // Adds key for record unless it is there already (then false, nothing changes).
    bool insertIfAbsent(const PackedPosition& key, DbOffset record);
    // Forgets key when it names record; false when it names another record or none.
    bool erase(const PackedPosition& key, DbOffset record);
    std::size_t size() const { return m_size; }
    // Room for count keys without growing on the way (a bulk import knows roughly how
    // many positions are coming).
    void reserve(std::size_t count);
    std::size_t memoryBytes() const { return m_capacity * (sizeof(Slot) + 1); }
    // The tables' memory, as (start, bytes).
    std::vector<std::pair<void*, std::size_t>> memory() const
    {
        return {{&m_tags[0], m_capacity}, {&m_slots[0], m_capacity * sizeof(Slot)}};
    }

    // The file's hash chains, linked backwards: for each chained record the record whose
    // link leads to it (0 when the hash slot does), so that taking a record out of the
    // middle of a chain needs no walk. The graph keeps it in step with the file.
    // record now heads its chain, and oldHead (0 for none) follows it.
    void chainedAtHead(DbOffset record, DbOffset oldHead)
    {
        m_before.set(record, 0);
        if (oldHead != 0)
            m_before.set(oldHead, record);
    }
    DbOffset chainedBefore(DbOffset record) const { return m_before.get(record); }
    void prefetchChainedBefore(DbOffset record) const { m_before.prefetch(record); }
    // The record between before and next has left its chain.
    void unchained(DbOffset next, DbOffset before)
    {
        if (next != 0)
            m_before.set(next, before);
    }
    void setChainedBefore(DbOffset record, DbOffset before) { m_before.set(record, before); }
    void takeChainLinks(PositionIndex&& other) { m_before.swap(other.m_before); }

    // Set when the image held two records of one key: the index then names the one the
    // chain walk meets first, and removing it needs a look at the chain for the next one.
    bool sawDuplicates = false;

private:
    struct Slot {
        PackedPosition key;
        DbOffset record;
    };
    static_assert(sizeof(Slot) == 28);
    // Zeroed tables, mapped as untouched zero pages (huge pages where the system gives
    // them: a probe then rarely misses the TLB as well as the cache).
    template <class T>
    class Table {
    public:
        Table() = default;
        explicit Table(std::size_t count)
            : m_items(static_cast<T*>(mapZeroed(count * sizeof(T)))), m_bytes(count * sizeof(T))
        {
        }
        Table(Table&& other) noexcept { swap(other); }
        Table& operator=(Table&& other) noexcept
        {
            swap(other);
            return *this;
        }
        ~Table() { unmap(m_items, m_bytes); }
        T& operator[](std::size_t i) const { return m_items[i]; }
        void swap(Table& other) noexcept
        {
            std::swap(m_items, other.m_items);
            std::swap(m_bytes, other.m_bytes);
        }

    private:
        T* m_items = nullptr;
        std::size_t m_bytes = 0;
    };

    static void* mapZeroed(std::size_t bytes);
    static void unmap(void* items, std::size_t bytes);
    void allocate(std::size_t capacity);
    void rehash(std::size_t capacity);
    std::size_t home(std::uint64_t hash) const { return hash & m_mask; }
    void grow();

    // One entry per 8 bytes of image: position records are at least 12 bytes long, so no
    // two live ones share an entry. Grows as records appear further on; untouched parts
    // stay unallocated zero pages.
    class RecordLinks {
    public:
        RecordLinks() = default;
        RecordLinks(const RecordLinks&) = delete;
        RecordLinks& operator=(const RecordLinks&) = delete;
        ~RecordLinks() { unmap(m_items, m_count * sizeof(DbOffset)); }
        DbOffset get(DbOffset record) const { return record / 8 < m_count ? m_items[record / 8] : 0; }
        void prefetch(DbOffset record) const
        {
            if (record / 8 < m_count)
                __builtin_prefetch(&m_items[record / 8], 1);
        }
        void set(DbOffset record, DbOffset value)
        {
            if (record / 8 >= m_count)
                grow(record / 8 + 1);
            m_items[record / 8] = value;
        }
        void swap(RecordLinks& other) noexcept
        {
            std::swap(m_items, other.m_items);
            std::swap(m_count, other.m_count);
        }

    private:
        void grow(std::size_t atLeast);
        DbOffset* m_items = nullptr;
        std::size_t m_count = 0;
    };

    // A probe reads the tag bytes first (0 for an empty slot, else 0x80 and seven bits of
    // the key's hash), and a slot only where its tag matches: proving a key absent stays
    // within a few bytes of one cache line.
    RecordLinks m_before;
    Table<std::uint8_t> m_tags;
    Table<Slot> m_slots;
    std::size_t m_capacity = 0;
    std::size_t m_mask = 0;
    std::size_t m_size = 0;
};

// The index of the current image, built now if it is not. Null when the current image's
// graph cannot be indexed so that every lookup agrees with the chain walk (records whose
// positions cannot be rebuilt, chains that loop); lookups then walk the chains.
PositionIndex* currentPositionIndex();

// The index a lookup should use: the built one; or null, and the lookup walks its chain,
// until the walking done since the image was opened would have paid for building it (then
// it is built). Opening a large database and looking a few positions up costs no build;
// a long run of lookups (an import, a search) soon has the index.
PositionIndex* lookupPositionIndex();
// A lookup walked this many records of a chain.
void noteChainWalk(std::size_t records);

// When lookups build the index: once worth it (the default), or at the first lookup (tests
// use this to exercise the index in every graph operation).
enum class IndexBuilding { WhenWorthIt, OnFirstLookup };
void setPositionIndexBuilding(IndexBuilding building);

// The current image's index when it is built; null otherwise. Changes to the graph keep a
// built index up to date and need not build one.
PositionIndex* builtPositionIndex();

// Lookups use the index unless this is switched off; the index is kept up to date either
// way. Tests and benchmarks compare the two.
void setPositionIndexEnabled(bool enabled);

// Makes room in the current image's index for this many positions to come; builds the
// index first when that many lookups would walk more than building it costs.
void reservePositionIndex(std::size_t positions);

// Marks the current image's index as stale after a change it could not follow; the next
// lookup rebuilds it.
void invalidatePositionIndex();

// Hands an image's index over when the image is mapped again at another address with the
// same content, and forgets it when the image is closed.
std::unique_ptr<PositionIndex> detachPositionIndex(const void* base);
void attachPositionIndex(const void* base, std::unique_ptr<PositionIndex> index);
void forgetPositionIndex(const void* base);

} // namespace vez
