// What a validation of the image has collected so far: its problems, the pools, the
// position records with their keys, and the live records of every kind, so that each
// reference can be checked against what may stand there. Internal to validation.cpp and
// validation_games.cpp.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "store/database.h"
#include "store/packing.h"

namespace vez {

// A set of record offsets: a bit for each 4-byte unit below the image's used end, taken
// when the first offset goes in (zeroed memory that is only provided where bits are set),
// and a hash set apart for any other offset, which only a damaged image gives. Visited in
// ascending order.
class OffsetSet {
public:
    OffsetSet() = default;
    OffsetSet(OffsetSet&& other) noexcept { *this = std::move(other); }
    OffsetSet& operator=(OffsetSet&& other) noexcept
    {
        m_bits = std::move(other.m_bits);
        m_words = std::exchange(other.m_words, 0);
        m_others = std::move(other.m_others);
        m_size = std::exchange(other.m_size, 0);
        return *this;
    }

    // True when the offset was not in the set yet.
    bool insert(DbOffset offset)
    {
        if (!inBits(offset) && (offset % 4 != 0 || !takeBits(offset)))
            return m_others.insert(offset).second ? (++m_size, true) : false;
        std::uint64_t& word = m_bits[offset / 256];
        const std::uint64_t bit = std::uint64_t(1) << (offset / 4 % 64);
        if (word & bit)
            return false;
        word |= bit;
        ++m_size;
        return true;
    }
    bool contains(DbOffset offset) const
    {
        if (inBits(offset))
            return (m_bits[offset / 256] >> (offset / 4 % 64) & 1) != 0;
        return m_others.contains(offset);
    }
    std::size_t size() const { return m_size; }
    void insertAll(const OffsetSet& other)
    {
        other.forEach([this](DbOffset offset) { insert(offset); });
    }
    template <class Visit>
    void forEach(Visit visit) const
    {
        std::vector<DbOffset> others(m_others.begin(), m_others.end());
        std::sort(others.begin(), others.end());
        auto other = others.begin();
        for (std::size_t w = 0; w < m_words; ++w) {
            for (std::uint64_t word = m_bits[w]; word != 0; word &= word - 1) {
                const auto offset = DbOffset(w * 256 + std::size_t(std::countr_zero(word)) * 4);
                for (; other != others.end() && *other < offset; ++other)
                    visit(*other);
                visit(offset);
            }
        }
        for (; other != others.end(); ++other)
            visit(*other);
    }

private:
    bool inBits(DbOffset offset) const { return offset % 4 == 0 && offset / 256 < m_words; }
    // Lays out the bits, once, for the image's used part; false when the offset lies beyond.
    bool takeBits(DbOffset offset)
    {
        if (!m_bits) {
            const std::size_t words = std::size_t(currentHeader().usedBytes) / 256 + 1;
            m_bits.reset(static_cast<std::uint64_t*>(std::calloc(words, sizeof(std::uint64_t))));
            if (!m_bits)
                throw std::bad_alloc();
            m_words = words;
        }
        return offset / 256 < m_words;
    }

    struct FreeBits {
        void operator()(std::uint64_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint64_t[], FreeBits> m_bits;
    std::size_t m_words = 0;
    std::unordered_set<DbOffset> m_others;
    std::size_t m_size = 0;
};

struct PoolSpan {
    DbOffset begin; // the pool's record space
    DbOffset end;   // its used end
    PoolChain chain;
};

struct PositionInfo {
    DbOffset record;
    std::uint16_t slot;
    std::uint8_t flags;
    bool keyKnown : 1 = false;
    std::uint8_t rebuilt : 2 = 0; // while the keys are rebuilt: how far this record's is
    PackedPosition key{};
};
static_assert(sizeof(PositionInfo) == 32);

// The games, wins of White and wins of Black counted on a non-tiny record.
struct GameCounts {
    std::uint32_t games = 0;
    std::uint32_t whiteWins = 0;
    std::uint32_t blackWins = 0;
};

class ValidationState {
public:
    explicit ValidationState(std::size_t maxProblems) : m_maxProblems(maxProblems) {}

    // "offset N: expected WHAT"; offset 0 for a figure of the header.
    void problem(DbOffset offset, const std::string& expected)
    {
        problem(offset == 0 ? "header: expected " + expected
                            : "offset " + std::to_string(offset) + ": expected " + expected);
    }
    void problem(const std::string& text)
    {
        if (m_problems.size() < m_maxProblems)
            m_problems.push_back(text);
        ++m_found;
    }
    void counter(const char* name, std::uint64_t stored, std::uint64_t found)
    {
        if (stored != found)
            problem(0, std::string(name) + " " + std::to_string(found) + ", stored " +
                           std::to_string(stored));
    }
    std::vector<std::string> finish()
    {
        if (m_found > m_problems.size())
            m_problems.push_back("and " + std::to_string(m_found - m_problems.size()) +
                                 " more problems");
        return std::move(m_problems);
    }

    // Whether size bytes at offset lie in the used part of a pool of the chain, on a
    // 4-byte boundary.
    bool inPool(DbOffset offset, std::uint32_t size, PoolChain chain) const
    {
        auto it = std::upper_bound(pools.begin(), pools.end(), offset,
                                   [](DbOffset o, const PoolSpan& p) { return o < p.begin; });
        if (it == pools.begin() || offset % 4 != 0)
            return false;
        --it;
        return it->chain == chain && std::uint64_t(offset) + size <= it->end;
    }

    PositionInfo* position(DbOffset record)
    {
        auto it = std::lower_bound(positions.begin(), positions.end(), record,
                                   [](const PositionInfo& p, DbOffset r) { return p.record < r; });
        return it != positions.end() && it->record == record ? &*it : nullptr;
    }

    std::vector<PoolSpan> pools;         // ascending
    std::vector<PositionInfo> positions; // ascending by record
    OffsetSet liveMoves;
    OffsetSet liveVariations;
    OffsetSet liveGames;
    OffsetSet liveNotes;
    OffsetSet liveChoices;
    OffsetSet liveTags;
    OffsetSet liveSets;
    OffsetSet liveRanges;
    OffsetSet liveBlocks;
    OffsetSet texts[4]; // by Dictionary: general, event, site, tag name
    OffsetSet players;
    std::unordered_map<DbOffset, GameCounts> counted; // by non-tiny record, from main lines
    std::size_t linesInGames = 0;
    bool gamesWalked = false;

private:
    std::size_t m_maxProblems;
    std::size_t m_found = 0;
    std::vector<std::string> m_problems;
};

} // namespace vez
