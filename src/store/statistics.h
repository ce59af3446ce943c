// How the bytes of the current database are spent: per record kind, per pool, on free
// lists and alignment, and how well the position hash spreads. Gathering walks every
// structure of the store once and changes nothing.
#pragma once

#include <cstdint>
#include <string>

namespace vez {

struct StoreStatistics {
    std::int64_t usedBytes = 0;
    std::int64_t committedBytes = 0;
    std::int64_t gameNumbersIssued = 0;

    // The position census over the hash table.
    std::int64_t positions = 0; // distinct uncompressed positions
    std::int64_t tinyPositions = 0;
    std::int64_t fullPositions = 0;
    std::int64_t bigPositions = 0;
    std::int64_t hugePositions = 0;
    std::int64_t moveRecords = 0; // the header's count
    std::int64_t compressedMoves = 0;

    // Lines and games, found through the Variations listed at big records.
    std::int64_t gameRecords = 0;
    std::int64_t gameIndexBlocks = 0; // the header's count
    std::int64_t variations = 0;
    std::int64_t disambiguations = 0;
    std::int64_t gamesets = 0;
    std::int64_t intRanges = 0;
    std::int64_t tagVals = 0;

    std::int64_t notationRecords = 0;      // the header's count
    std::int64_t flashcardIndexBlocks = 0; // the header's count
    std::int64_t dictionaryEntries = 0;
    std::int64_t dictionaryBytes = 0;
    std::int64_t players = 0;
    std::int64_t playerBytes = 0;
    std::int64_t pools = 0;
    std::int64_t freeBytesInPools = 0;   // unused rest of the head pool of each chain
    std::int64_t wastedBytesInPools = 0; // unused rest of every older pool
    std::int64_t freeListBytes = 0;      // the header's count
    std::int64_t freeBlocks = 0;
    std::int64_t freeBlockBytes = 0;
    std::int64_t alignmentWaste = 0;

    // Hash spread: chain lengths of the 65,536 slots and the 256 secondary codes.
    std::int64_t chainSquares = 0;
    std::int64_t shortestChain = 0;
    std::int64_t longestChain = 0;
    std::int64_t secondarySquares = 0;
    std::int64_t secondaryCollisions = 0;

    std::int64_t graphBytes() const;
    std::int64_t gameBytes() const;
    std::int64_t miscellaneousBytes() const;
    std::int64_t unaccountedBytes() const;
};

StoreStatistics gatherStatistics();

// The report text: four parts, filled printf-style, one after the other.
std::string formatStatistics(const StoreStatistics& stats);

// formatStatistics of the current database.
std::string statisticsReport();

} // namespace vez
