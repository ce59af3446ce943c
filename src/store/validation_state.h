// What a validation of the image has collected so far: its problems, the pools, the
// position records with their keys, and the live records of every kind, so that each
// reference can be checked against what may stand there. Internal to validation.cpp and
// validation_games.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "store/database.h"
#include "store/packing.h"

namespace vez {

struct PoolSpan {
    DbOffset begin; // the pool's record space
    DbOffset end;   // its used end
    PoolChain chain;
};

struct PositionInfo {
    DbOffset record;
    std::uint16_t slot;
    std::uint8_t flags;
    bool keyKnown = false;
    PackedPosition key{};
};

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
    std::unordered_set<DbOffset> liveMoves;
    std::unordered_set<DbOffset> liveVariations;
    std::unordered_set<DbOffset> liveGames;
    std::unordered_set<DbOffset> liveNotes;
    std::unordered_set<DbOffset> liveChoices;
    std::unordered_set<DbOffset> liveTags;
    std::unordered_set<DbOffset> liveSets;
    std::unordered_set<DbOffset> liveRanges;
    std::unordered_set<DbOffset> liveBlocks;
    std::unordered_set<DbOffset> texts[4]; // by Dictionary: general, event, site, tag name
    std::unordered_set<DbOffset> players;
    std::unordered_map<DbOffset, GameCounts> counted; // by non-tiny record, from main lines
    std::size_t linesInGames = 0;
    bool gamesWalked = false;

private:
    std::size_t m_maxProblems;
    std::size_t m_found = 0;
    std::vector<std::string> m_problems;
};

} // namespace vez
