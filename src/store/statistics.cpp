#include "store/statistics.h"

#include <array>
#include <bitset>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "store/database.h"
#include "store/graph.h"
#include "store/records.h"

namespace vez {

namespace {

// Record sizes as the report prints them.
constexpr std::int64_t kTinySize = sizeof(TinyPosition);
constexpr std::int64_t kFullSize = sizeof(FullPosition);
constexpr std::int64_t kBigSize = sizeof(BigPosition);
constexpr std::int64_t kHugeSize = sizeof(HugePosition);
constexpr std::int64_t kMoveSize = sizeof(MoveRecord);
constexpr std::int64_t kGameSize = sizeof(GameRecord);
constexpr std::int64_t kIndexBlockSize = sizeof(GameIndexBlock);
constexpr std::int64_t kVariationSize = sizeof(Variation);
constexpr std::int64_t kChoiceSize = sizeof(DisambiguationRecord);
constexpr std::int64_t kGamesetSize = sizeof(Gameset);
constexpr std::int64_t kRangeSize = sizeof(IntRange);
constexpr std::int64_t kTagValSize = sizeof(TagVal);
constexpr std::int64_t kNotationSize = sizeof(NotationRecord);
constexpr std::int64_t kFlashcardBlockSize = sizeof(FlashcardIndexBlock);
constexpr std::int64_t kPoolOverhead = sizeof(Pool) - kPoolSpace;
constexpr std::int64_t kPoolSize = sizeof(Pool);

// The bytes a record takes beyond its fixed part, rounded up to a multiple of unit.
std::int64_t paddingTo(std::int64_t bytes, std::int64_t unit)
{
    return bytes % unit == 0 ? 0 : unit - bytes % unit;
}

// No chain or tree in a sound image holds more records than the image could: a walk that
// goes on longer runs in a circle, and the report would be wrong.
std::uint64_t recordLimit() { return currentHeader().usedBytes / 8 + 1; }

void spend(std::uint64_t& steps)
{
    if (--steps == 0)
        throw DamagedDatabase("a chain or tree of records that runs in a circle");
}

// The length of a NUL-terminated text in the image, never reading past the used bytes.
std::int64_t textLength(DbOffset text)
{
    const std::uint32_t used = currentHeader().usedBytes;
    return std::int64_t(strnlen(at<char>(text), used - text));
}

std::int64_t chainLength(DbOffset first, std::uint32_t linkOffset)
{
    std::int64_t n = 0;
    std::uint64_t steps = recordLimit();
    for (DbOffset r = first; r != 0 && steps > 0; spend(steps), ++n)
        r = *at<DbOffset>(r + linkOffset);
    return n;
}

// The Variations listed at a big record: lines, compressed tails, choices, and through the
// main lines their games and tags.
void countVariations(DbOffset bigRecord, StoreStatistics& st)
{
    std::uint64_t steps = recordLimit();
    for (DbOffset v = at<BigPosition>(bigRecord)->firstVariation; v != 0 && steps > 0;
         spend(steps)) {
        const Variation line = *at<Variation>(v);
        ++st.variations;
        if (line.compressedTail != 0) {
            const std::int64_t n = textLength(line.compressedTail);
            st.compressedMoves += n;
            st.alignmentWaste += paddingTo(n + 1, 8);
        }
        st.disambiguations += chainLength(line.firstChoice, offsetof(DisambiguationRecord, next));
        if (line.game != 0 && at<GameRecord>(line.game)->mainLine == v) {
            ++st.gameRecords;
            st.tagVals += chainLength(at<GameRecord>(line.game)->firstTag, offsetof(TagVal, next));
        }
        v = line.nextAtEnd;
    }
}

void countRecord(DbOffset r, StoreStatistics& st)
{
    const std::uint8_t flags = flagsOf(r);
    if (flags & kFlagHuge)
        ++st.hugePositions;
    else if (flags & kFlagBig)
        ++st.bigPositions;
    else if (flags & kFlagFull)
        ++st.fullPositions;
    else
        ++st.tinyPositions;
    if (flags & kFlagBig)
        countVariations(r, st);
}

// One pass over the hash table: every position record, its slot's chain length and its
// secondary code.
void countPositions(StoreStatistics& st)
{
    std::array<std::int64_t, 256> perCode{};
    for (std::uint32_t slot = 0; slot < kHashSlots; ++slot) {
        std::bitset<256> codesInSlot;
        std::int64_t n = 0;
        std::uint64_t steps = recordLimit();
        for (DbOffset r = hashSlot(std::uint16_t(slot)); r != 0 && steps > 0; spend(steps), ++n) {
            const std::uint8_t code = at<PositionRecord>(r)->secondary;
            ++perCode[code];
            if (codesInSlot.test(code))
                ++st.secondaryCollisions;
            codesInSlot.set(code);
            countRecord(r, st);
            r = at<PositionRecord>(r)->nextInChain;
        }
        st.positions += n;
        st.chainSquares += n * n;
        st.shortestChain = slot == 0 ? n : std::min(st.shortestChain, n);
        st.longestChain = std::max(st.longestChain, n);
    }
    for (const std::int64_t count : perCode)
        st.secondarySquares += count * count;
}

// Visits every node of a binary tree whose left and right links are its first two words.
template <class Visit>
void forEachTreeNode(DbOffset root, Visit visit)
{
    std::vector<DbOffset> pending;
    if (root != 0)
        pending.push_back(root);
    for (std::uint64_t steps = recordLimit(); !pending.empty() && steps > 0; spend(steps)) {
        const DbOffset node = pending.back();
        pending.pop_back();
        visit(node);
        for (const DbOffset child :
             {at<DictionaryEntry>(node)->left, at<DictionaryEntry>(node)->right}) {
            if (child != 0)
                pending.push_back(child);
        }
    }
}

void countNames(StoreStatistics& st)
{
    const DatabaseHeader& h = currentHeader();
    for (const DbOffset root :
         {h.generalDictionary, h.eventDictionary, h.siteDictionary, h.tagNameDictionary}) {
        forEachTreeNode(root, [&](DbOffset entry) {
            const std::int64_t bytes = textLength(entry + kDictionaryTextOffset) + 13;
            ++st.dictionaryEntries;
            st.dictionaryBytes += bytes;
            st.alignmentWaste += paddingTo(bytes, 4);
        });
    }
    forEachTreeNode(h.playerRoot, [&](DbOffset player) {
        const std::int64_t bytes = textLength(player + offsetof(Player, lastName)) + 25;
        ++st.players;
        st.playerBytes += bytes;
        st.alignmentWaste += paddingTo(bytes, 4);
    });
}

void countHeap(StoreStatistics& st)
{
    const DatabaseHeader& h = currentHeader();
    for (const PoolChain chain :
         {PoolChain::Blocks, PoolChain::Graph, PoolChain::Sets, PoolChain::Misc, PoolChain::Tiny}) {
        const DbOffset head = h.poolChains[int(chain)];
        std::uint64_t steps = recordLimit();
        for (DbOffset pool = head; pool != 0 && steps > 0; spend(steps)) {
            ++st.pools;
            const std::int64_t unused = std::int64_t(kPoolSpace) - at<Pool>(pool)->used;
            (pool == head ? st.freeBytesInPools : st.wastedBytesInPools) += unused;
            pool = at<Pool>(pool)->next;
        }
    }
    std::uint64_t steps = recordLimit();
    for (DbOffset block = h.freeBlocks; block != 0 && steps > 0; spend(steps)) {
        ++st.freeBlocks;
        st.freeBlockBytes += at<CompressionBlock>(block)->size;
        block = at<CompressionBlock>(block)->next;
    }
}

void countGamesets(StoreStatistics& st)
{
    std::uint64_t steps = recordLimit();
    for (DbOffset s = currentHeader().firstGameset; s != 0 && steps > 0; spend(steps)) {
        ++st.gamesets;
        st.intRanges += chainLength(at<Gameset>(s)->ranges, offsetof(IntRange, next));
        s = at<Gameset>(s)->next;
    }
}

double percentOfUsed(std::int64_t part, std::int64_t used)
{
    return double(part) * 100 / (double(used) + 1);
}

// The spread of count items over cells: mean and standard deviation from the sum of the
// squared cell counts.
double standardDeviation(std::int64_t total, std::int64_t squares, double cells)
{
    const double mean = double(total) / cells;
    const double variance =
        (mean * mean * cells - 2 * double(total) * mean + double(squares)) / (cells - 1);
    return std::sqrt(std::max(variance, 0.0)); // rounding never makes it an error
}

[[gnu::format(printf, 2, 3)]] void appendPrinted(std::string& out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        std::vector<char> text(std::size_t(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        out.append(text.data(), std::size_t(length));
    }
    va_end(again);
}

int asInt(std::int64_t value) { return static_cast<int>(value); }

} // namespace

std::int64_t StoreStatistics::graphBytes() const
{
    return kTinySize * tinyPositions + kFullSize * fullPositions + kBigSize * bigPositions +
           kHugeSize * hugePositions + kMoveSize * moveRecords + compressedMoves + kHashTableBytes;
}

std::int64_t StoreStatistics::gameBytes() const
{
    return kGameSize * gameRecords + kIndexBlockSize * gameIndexBlocks +
           kVariationSize * variations + kChoiceSize * disambiguations + kGamesetSize * gamesets +
           kRangeSize * intRanges + kTagValSize * tagVals;
}

std::int64_t StoreStatistics::miscellaneousBytes() const
{
    return kNotationSize * notationRecords + kFlashcardBlockSize * flashcardIndexBlocks +
           dictionaryBytes + playerBytes + kPoolOverhead * pools + freeBytesInPools +
           wastedBytesInPools + freeListBytes + freeBlockBytes + alignmentWaste;
}

std::int64_t StoreStatistics::unaccountedBytes() const
{
    return usedBytes - graphBytes() - gameBytes() - miscellaneousBytes();
}

StoreStatistics gatherStatistics()
{
    const DatabaseHeader& h = currentHeader();
    StoreStatistics st;
    st.usedBytes = h.usedBytes;
    st.committedBytes = h.committedBytes;
    st.gameNumbersIssued = h.gameNumbersIssued;
    st.moveRecords = h.moveRecordCount;
    st.gameIndexBlocks = h.gameIndexBlockCount;
    st.notationRecords = h.notationRecordCount;
    st.flashcardIndexBlocks = h.flashcardBlockCount;
    st.freeListBytes = h.freeListBytes;
    countPositions(st);
    countGamesets(st);
    countNames(st);
    countHeap(st);
    return st;
}

namespace {

void appendGraphPart(std::string& out, const StoreStatistics& st)
{
    appendPrinted(out,
                  "%d total bytes in use\n\t%d bytes total for position/move graph (%g%%)\n"
                  "\t\t%d distinct uncompressed positions:\n"
                  "\t\t%d tiny position records @ %d: %d bytes\n"
                  "\t\t%d full position records @ %d: %d bytes\n"
                  "\t\t%d big position records @ %d: %d bytes\n"
                  "\t\t%d huge position records @ %d: %d bytes\n"
                  "\t\t%d full move records @ %d: %d bytes\n"
                  "\t\t%d compressed moves in variations\n\t\t%d bytes in hash table index\n",
                  asInt(st.usedBytes), asInt(st.graphBytes()),
                  percentOfUsed(st.graphBytes(), st.usedBytes), asInt(st.positions),
                  asInt(st.tinyPositions), asInt(kTinySize), asInt(st.tinyPositions * kTinySize),
                  asInt(st.fullPositions), asInt(kFullSize), asInt(st.fullPositions * kFullSize),
                  asInt(st.bigPositions), asInt(kBigSize), asInt(st.bigPositions * kBigSize),
                  asInt(st.hugePositions), asInt(kHugeSize), asInt(st.hugePositions * kHugeSize),
                  asInt(st.moveRecords), asInt(kMoveSize), asInt(st.moveRecords * kMoveSize),
                  asInt(st.compressedMoves), asInt(kHashTableBytes));
}

void appendGamePart(std::string& out, const StoreStatistics& st)
{
    const std::int64_t games = st.gameNumbersIssued == 0 ? 1 : st.gameNumbersIssued;
    appendPrinted(
        out,
        "\t%d bytes total for game/variation information (%g%%)\n"
        "\t\t%d game records @ %d: %d bytes\n"
        "\t\t%d game index blocks @ %d: %d bytes\n"
        "\t\t%d variations @ %d: %d bytes\n"
        "\t\t%d disambiguation records @ %d: %d bytes\n"
        "\t\t%d gamesets @ %d: %d bytes\n"
        "\t\t%d int ranges @ %d: %d bytes\n"
        "\t\t%d tagvals @ %d: %d bytes\n"
        "\t\t%d average overall bytes per game\n",
        asInt(st.gameBytes()), percentOfUsed(st.gameBytes(), st.usedBytes), asInt(st.gameRecords),
        asInt(kGameSize), asInt(st.gameRecords * kGameSize), asInt(st.gameIndexBlocks),
        asInt(kIndexBlockSize), asInt(st.gameIndexBlocks * kIndexBlockSize), asInt(st.variations),
        asInt(kVariationSize), asInt(st.variations * kVariationSize), asInt(st.disambiguations),
        asInt(kChoiceSize), asInt(st.disambiguations * kChoiceSize), asInt(st.gamesets),
        asInt(kGamesetSize), asInt(st.gamesets * kGamesetSize), asInt(st.intRanges),
        asInt(kRangeSize), asInt(st.intRanges * kRangeSize), asInt(st.tagVals), asInt(kTagValSize),
        asInt(st.tagVals * kTagValSize), asInt(st.usedBytes / games));
}

void appendMiscellaneousPart(std::string& out, const StoreStatistics& st)
{
    appendPrinted(
        out,
        "\t%d miscellaneous bytes (%g%%)\n\t\t%d notation records @ %d: %d bytes\n"
        "\t\t%d flashcard index blocks @ %d: %d bytes\n"
        "\t\t%d dictionary entries: %d bytes\n\t\t%d players: %d bytes\n"
        "\t\t%d pools: %d overhead bytes (%d total in pools)\n"
        "\t\t%d free bytes in pools\n\t\t%d wasted bytes in pools\n"
        "\t\t%d bytes on free lists\n"
        "\t\t%d free compression blocks totalling %d bytes\n"
        "\t%d bytes presently reserved for expansion\n"
        "\t%d bytes wasted for alignment\n"
        "\t%d bytes of unaccounted overhead (%g%%)\n",
        asInt(st.miscellaneousBytes()), percentOfUsed(st.miscellaneousBytes(), st.usedBytes),
        asInt(st.notationRecords), asInt(kNotationSize), asInt(st.notationRecords * kNotationSize),
        asInt(st.flashcardIndexBlocks), asInt(kFlashcardBlockSize),
        asInt(st.flashcardIndexBlocks * kFlashcardBlockSize), asInt(st.dictionaryEntries),
        asInt(st.dictionaryBytes), asInt(st.players), asInt(st.playerBytes), asInt(st.pools),
        asInt(st.pools * kPoolOverhead), asInt(st.pools * kPoolSize), asInt(st.freeBytesInPools),
        asInt(st.wastedBytesInPools), asInt(st.freeListBytes), asInt(st.freeBlocks),
        asInt(st.freeBlockBytes), asInt(st.committedBytes - st.usedBytes), asInt(st.alignmentWaste),
        asInt(st.unaccountedBytes()), percentOfUsed(st.unaccountedBytes(), st.usedBytes));
}

void appendHashPart(std::string& out, const StoreStatistics& st)
{
    const double slots = kHashSlots;
    appendPrinted(
        out,
        "\t%g mean positions per primary hash table entry\n\t\t%g standard deviation\n"
        "\t\tmin %d, max %d\n\t%g mean positions per secondary hash code\n"
        "\t\t%g standard deviation\n"
        "\t\t%d secondary hash collisions in same primary bucket",
        double(st.positions) / slots, standardDeviation(st.positions, st.chainSquares, slots),
        asInt(st.shortestChain), asInt(st.longestChain), double(st.positions) / 256,
        standardDeviation(st.positions, st.secondarySquares, 256), asInt(st.secondaryCollisions));
}

} // namespace

std::string formatStatistics(const StoreStatistics& stats)
{
    std::string report;
    appendGraphPart(report, stats);
    appendGamePart(report, stats);
    appendMiscellaneousPart(report, stats);
    appendHashPart(report, stats);
    return report;
}

std::string statisticsReport() { return formatStatistics(gatherStatistics()); }

} // namespace vez
