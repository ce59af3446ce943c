// An in-memory index of the position records of an open image, by packed key.
//
// The file's own hash table has 65,536 chains. With millions of positions every chain is
// a hundred records long, and proving a position absent means rebuilding the position of
// every record in the chain whose secondary code matches. The index keeps each chain
// beside the file as two packed arrays, in chain order: the records, and for each a
// 16-bit tag taken from a hash of its key. A lookup compares the tags of one chain (a few
// hundred contiguous bytes) and looks only at the records whose tag matches; the caller
// proves a candidate is the key's record (mostly by the move that leads to it, else by
// rebuilding its position), so the index needs no keys and answers exactly as the chain
// walk does, duplicates included. Knowing the chain order also makes taking a record out
// of the middle of its chain cheap. It lives beside the mapping while the image is open,
// is built on the first lookup (one pass over the records, each position rebuilt from its
// predecessor's) and is kept up to date by the graph operations that chain and unchain
// records. Nothing of it is stored in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "store/large_pages.h"
#include "store/packing.h"
#include "store/prefetch.h"
#include "store/records.h"

namespace vez {

class BesideFileWriter;

class PositionIndex {
public:
    PositionIndex();
    ~PositionIndex();
    PositionIndex(const PositionIndex&) = delete;
    PositionIndex& operator=(const PositionIndex&) = delete;

    // The hash a key's tag is taken from; pure, so it can be worked out anywhere beforehand.
    static std::uint64_t hashOf(const PackedPosition& key);
    // Never 0: that tag marks records no lookup may find.
    static std::uint16_t tagOf(std::uint64_t hash)
    {
        const auto tag = std::uint16_t(hash >> 48);
        return tag != 0 ? tag : 1;
    }

    // The first record of the chain, from its head, whose tag matches and that isKey
    // accepts (isKey decides whether a record holds the key looked for); 0 for none.
    template <class IsKey>
    DbOffset find(std::uint16_t chain, std::uint16_t tag, IsKey&& isKey) const;
    // Whether some record of the chain may carry the tag; false only when none does, so
    // that a find can answer at once.
    bool mayHold(std::uint16_t chain, std::uint16_t tag) const
    {
        const Chain& c = m_chains[chain];
        if (c.seenWords == 0)
            return false;
        const std::uint32_t bit = tag & (c.seenWords * 64 - 1);
        return (seenOf(c)[bit / 64] >> (bit % 64) & 1) != 0;
    }
    // Start fetching what a find in this chain reads, so that the lookups of a whole line
    // overlap rather than wait one after the other: first the chain's place, then whether
    // it may hold the tag and where a new record would go, then its tags (a few cache
    // lines) when it may, then the records whose tag matches.
    void prefetchChain(std::uint16_t chain) const { prefetch(&m_chains[chain]); }
    void prefetchHead(std::uint16_t chain, std::uint16_t tag) const
    {
        const Chain& c = m_chains[chain];
        if (c.size >= c.capacity)
            return;
        prefetch(&seenOf(c)[(tag & (c.seenWords * 64 - 1)) / 64]);
        prefetch(&c.records[c.size]);
        prefetch(&c.tags[c.size]);
    }
    void prefetchTags(std::uint16_t chain, std::uint16_t tag) const
    {
        if (!mayHold(chain, tag))
            return;
        const Chain& c = m_chains[chain];
        const auto* tags = reinterpret_cast<const char*>(c.tags);
        for (std::size_t at = 0; at < c.size * sizeof(std::uint16_t); at += 64)
            prefetch(tags + at);
    }
    void prefetchCandidates(std::uint16_t chain, std::uint16_t tag, const std::uint8_t* base) const
    {
        (void)find(chain, tag, [base](DbOffset r) {
            prefetch(base + r);
            return false;
        });
    }

    // record now heads its chain.
    void chainedAtHead(std::uint16_t chain, DbOffset record, std::uint16_t tag);
    // Where a record stands in its chain: the record whose link leads to it (0 when the
    // hash slot does) and its tag; nullopt when the chain does not hold it.
    struct Place {
        std::uint32_t at;
        DbOffset before;
        std::uint16_t tag;
    };
    std::optional<Place> locate(std::uint16_t chain, DbOffset record) const;
    // The record at a located place has left its chain.
    void unchained(std::uint16_t chain, const Place& place);

    // The key of a record as last rebuilt, when it is still known; null otherwise. Proving
    // that a record holds a key means rebuilding its position along its way back to the
    // start, and an import asks that again and again of the positions its games transpose
    // into. Records that leave their chains are forgotten here.
    const PackedPosition* knownKey(DbOffset record) const
    {
        const std::size_t slot = knownSlot(record);
        return m_knownRecords[slot] == record ? &m_knownKeys[slot] : nullptr;
    }
    void rememberKey(DbOffset record, const PackedPosition& key)
    {
        const std::size_t slot = knownSlot(record);
        m_knownRecords[slot] = record;
        m_knownKeys[slot] = key;
    }

    std::size_t size() const { return m_size; }
    // A chain's records, oldest first, and their tags.
    std::span<const std::uint32_t> chainRecords(std::uint16_t chain) const
    {
        return {m_chains[chain].records, m_chains[chain].size};
    }
    std::span<const std::uint16_t> chainTags(std::uint16_t chain) const
    {
        return {m_chains[chain].tags, m_chains[chain].size};
    }
    // Room for count more records without growing on the way (a bulk import knows roughly
    // how many positions are coming).
    void reserve(std::size_t count);
    std::size_t memoryBytes() const;

    // Set when the image held two records of one key: a lookup then finds the one nearer
    // the head of its chain, which need not be the one a move leads to.
    bool sawDuplicates = false;

private:
    // One block per chain: a bit for each tag its records carry (hashed down to four bits
    // or more a record; set as records join and never cleared, so a set bit only says
    // "look"), then capacity records, then capacity tags; oldest first, so the head of the
    // chain is the last entry. Most lookups of an import are of positions not stored yet: a
    // clear bit spares them the scan of their chain's tags, from the block's first line.
    struct Chain {
        std::uint32_t* records = nullptr;
        std::uint16_t* tags = nullptr;
        std::uint32_t size = 0;
        std::uint32_t capacity = 0;
        std::uint32_t seenWords = 0; // a power of two; 0 without a block
    };
    static std::uint64_t* seenOf(const Chain& c)
    {
        return reinterpret_cast<std::uint64_t*>(c.records) - c.seenWords;
    }
    static std::uint32_t seenWordsFor(std::uint32_t capacity);
    static std::size_t blockBytes(std::uint32_t capacity);
    // Lays the chain out in a block of blockBytes(capacity) at place, with what it held.
    void moveTo(Chain& c, std::uint8_t* place, std::uint32_t capacity);
    void resize(Chain& c, std::uint32_t capacity);
    bool inArena(const Chain& c) const
    {
        const auto* p = reinterpret_cast<const std::uint8_t*>(c.records);
        return p >= m_arena && p < m_arena + m_arenaBytes;
    }

    static constexpr int kKnownKeyBits = 14;
    static std::size_t knownSlot(DbOffset record)
    {
        return std::uint32_t(record * 0x9E3779B1u) >> (32 - kKnownKeyBits);
    }
    void forgetKey(DbOffset record)
    {
        DbOffset& known = m_knownRecords[knownSlot(record)];
        if (known == record)
            known = 0;
    }

    // Read at random at every lookup: in large pages.
    std::vector<Chain, LargePages<Chain>> m_chains;
    // The remembered keys: the records apart from their keys, so that forgetting a record,
    // as every record that leaves its chain is, reads 64 KB that stay in the cache.
    std::unique_ptr<DbOffset[]> m_knownRecords;
    std::unique_ptr<PackedPosition[]> m_knownKeys;
    std::size_t m_size = 0;
    // The chains as reserved, in one mapping of large pages: a lookup or an insertion in a
    // random chain then costs its cache lines but seldom a page walk besides. A chain that
    // outgrows its room moves to a block of its own.
    std::uint8_t* m_arena = nullptr;
    std::size_t m_arenaBytes = 0;
};

template <class IsKey>
DbOffset PositionIndex::find(std::uint16_t chain, std::uint16_t tag, IsKey&& isKey) const
{
    if (!mayHold(chain, tag))
        return 0;
    const Chain& c = m_chains[chain];
    std::size_t i = c.size;
#if defined(__SSE2__)
    // Eight tags at a time, from the head backwards; a match sets two mask bits.
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(tag));
    while (i >= 8) {
        i -= 8;
        const __m128i tags = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.tags + i));
        unsigned bits = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(tags, wanted)));
        while (bits != 0) {
            const int high = 31 - __builtin_clz(bits);
            const std::size_t j = i + std::size_t(high / 2);
            if (isKey(DbOffset(c.records[j])))
                return c.records[j];
            bits &= ~(3u << (high & ~1));
        }
    }
#endif
    while (i-- > 0) {
        if (c.tags[i] == tag && isKey(DbOffset(c.records[i])))
            return c.records[i];
    }
    return 0;
}

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

// Whether the current image's built index was read from the copy kept beside its file.
bool positionIndexReadFromFile();

// Lookups use the index unless this is switched off; the index is kept up to date either
// way. Tests and benchmarks compare the two.
void setPositionIndexEnabled(bool enabled);

// Makes room in the current image's index for this many positions to come; builds the
// index first when that many lookups would walk more than building it costs.
void reservePositionIndex(std::size_t positions);

// Marks the current image's index as stale after a change it could not follow; the next
// lookup rebuilds it.
void invalidatePositionIndex();

// The index kept beside a database file, so that adding games to a large database need
// not rebuild it: a cache, valid only for the image it names (by the image's identity, as
// a clean close leaves it) and read whole and checked before any of it is believed.
// Nothing of it is required: a missing, stale or damaged file only costs a build.
std::string positionIndexPath(const std::string& databasePath);

// Saves the built index of the image at base beside its file, in two steps: the contents
// when the object is made, while the index is held; then, once the image's identity is
// known (its checksum is worked out meanwhile), finish makes the file valid. An index too
// small to be worth a file, or a save that fails or is not finished, leaves no file.
class SavingPositionIndex {
public:
    SavingPositionIndex(const void* base, const std::string& path);
    ~SavingPositionIndex();
    SavingPositionIndex(const SavingPositionIndex&) = delete;
    SavingPositionIndex& operator=(const SavingPositionIndex&) = delete;

    bool finish(std::uint64_t identity);

private:
    std::unique_ptr<BesideFileWriter> m_out; // the file on its way, until finished
    std::uint64_t m_positions = 0;
    std::uint64_t m_payloadHash = 0;
    bool m_sawDuplicates = false;
};

// Hands an image's index over when the image is mapped again at another address with the
// same content, and forgets it when the image is closed.
std::unique_ptr<PositionIndex> detachPositionIndex(const void* base);
void attachPositionIndex(const void* base, std::unique_ptr<PositionIndex> index);
void forgetPositionIndex(const void* base);

} // namespace vez
