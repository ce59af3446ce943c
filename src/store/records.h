// Every record layout of the database image. The image is little-endian and used in
// place through DbOffsets (32-bit offsets from its first byte); these structs are the
// byte layouts of the file, so each carries compile-time checks of its size and of
// every field offset. Packed sub-fields are read and written through the accessors
// below, never through C bitfields.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vez {

static_assert(std::endian::native == std::endian::little, "the image is little-endian");

// Offset of a record from the start of the image; 0 means "none" (offset 0 is the header).
using DbOffset = std::uint32_t;

#define VEZ_RECORD_CHECKS(Type, size)                                                        \
    static_assert(sizeof(Type) == (size));                                                   \
    static_assert(std::is_trivially_copyable_v<Type>);                                       \
    static_assert(std::is_standard_layout_v<Type>)

// --- Header (180 bytes at offset 0) ---------------------------------------------------

// Pool chains, in header order from 0x48.
enum class PoolChain : int { Misc = 0, Tiny = 1, Graph = 2, Sets = 3, Blocks = 4 };
constexpr int kPoolChainCount = 5;

// Typed free lists, in header order from 0x5C.
enum class FreeList : int {
    Tiny = 0, Full, Big, MoveRecord, Notation, Disambiguation, Gameset, IntRange, TagVal,
    Variation, GameRecord
};
constexpr int kFreeListCount = 11;

constexpr char kDatabaseMagic[8] = {'v', 'e', 'z', '1', 'b', '1', 'a', '\0'};

struct DatabaseHeader {
    char magic[8];                        // 0x00 "vez1b1a\0"
    std::uint32_t usedBytes;              // 0x08 heap top, the file's length on disk
    std::uint32_t committedBytes;         // 0x0C mapped or committed bytes (rewritten at open)
    std::uint32_t fileHandle;             // 0x10 runtime; 0xFFFFFFFF in memory
    std::uint32_t gameNumbersIssued;      // 0x14 next new game number
    std::uint32_t variationCount;         // 0x18 live Variations
    std::uint32_t moveRecordCount;        // 0x1C live MoveRecords
    std::uint32_t freeListBytes;          // 0x20 bytes held on the typed free lists
    std::uint32_t notationRecordCount;    // 0x24
    std::uint32_t gameIndexBlockCount;    // 0x28
    std::uint32_t flashcardBlockCount;    // 0x2C
    std::uint32_t reserved;               // 0x30 checksum at the last clean close, 0 none
    DbOffset hashTable;                   // 0x34 65,536 DbOffset slots
    DbOffset firstGameIndexBlock;         // 0x38
    DbOffset firstFlashcardBlock;         // 0x3C
    DbOffset playerRoot;                  // 0x40
    DbOffset firstGameset;                // 0x44
    DbOffset poolChains[kPoolChainCount]; // 0x48 newest pool of each chain
    DbOffset freeLists[kFreeListCount];   // 0x5C heads, last released first
    DbOffset freeBlocks;                  // 0x88 CompressionBlocks, largest first
    std::uint32_t hasEcoBook;             // 0x8C
    std::uint32_t nonstandard;            // 0x90
    std::uint32_t nameNormalizationOff;   // 0x94
    std::int32_t compressionThresholdPly; // 0x98
    DbOffset generalDictionary;           // 0x9C
    DbOffset eventDictionary;             // 0xA0
    DbOffset siteDictionary;              // 0xA4
    DbOffset tagNameDictionary;           // 0xA8
    std::uint32_t flashcardCount;         // 0xAC
    std::int32_t currentGameNumber;       // 0xB0 -1 none
};
VEZ_RECORD_CHECKS(DatabaseHeader, 180);
static_assert(offsetof(DatabaseHeader, usedBytes) == 0x08);
static_assert(offsetof(DatabaseHeader, committedBytes) == 0x0C);
static_assert(offsetof(DatabaseHeader, fileHandle) == 0x10);
static_assert(offsetof(DatabaseHeader, gameNumbersIssued) == 0x14);
static_assert(offsetof(DatabaseHeader, variationCount) == 0x18);
static_assert(offsetof(DatabaseHeader, moveRecordCount) == 0x1C);
static_assert(offsetof(DatabaseHeader, freeListBytes) == 0x20);
static_assert(offsetof(DatabaseHeader, notationRecordCount) == 0x24);
static_assert(offsetof(DatabaseHeader, gameIndexBlockCount) == 0x28);
static_assert(offsetof(DatabaseHeader, flashcardBlockCount) == 0x2C);
static_assert(offsetof(DatabaseHeader, reserved) == 0x30);
static_assert(offsetof(DatabaseHeader, hashTable) == 0x34);
static_assert(offsetof(DatabaseHeader, firstGameIndexBlock) == 0x38);
static_assert(offsetof(DatabaseHeader, firstFlashcardBlock) == 0x3C);
static_assert(offsetof(DatabaseHeader, playerRoot) == 0x40);
static_assert(offsetof(DatabaseHeader, firstGameset) == 0x44);
static_assert(offsetof(DatabaseHeader, poolChains) == 0x48);
static_assert(offsetof(DatabaseHeader, freeLists) == 0x5C);
static_assert(offsetof(DatabaseHeader, freeBlocks) == 0x88);
static_assert(offsetof(DatabaseHeader, hasEcoBook) == 0x8C);
static_assert(offsetof(DatabaseHeader, nonstandard) == 0x90);
static_assert(offsetof(DatabaseHeader, nameNormalizationOff) == 0x94);
static_assert(offsetof(DatabaseHeader, compressionThresholdPly) == 0x98);
static_assert(offsetof(DatabaseHeader, generalDictionary) == 0x9C);
static_assert(offsetof(DatabaseHeader, eventDictionary) == 0xA0);
static_assert(offsetof(DatabaseHeader, siteDictionary) == 0xA4);
static_assert(offsetof(DatabaseHeader, tagNameDictionary) == 0xA8);
static_assert(offsetof(DatabaseHeader, flashcardCount) == 0xAC);
static_assert(offsetof(DatabaseHeader, currentGameNumber) == 0xB0);

// --- Heap -----------------------------------------------------------------------------

// An 8008-byte block of fixed-size records, carved from the front.
struct Pool {
    std::int16_t used;     // bytes used in space, 0..8000
    std::uint16_t reserved;
    DbOffset next;         // older pool of the same chain
    std::uint8_t space[8000];
};
VEZ_RECORD_CHECKS(Pool, 8008);
static_assert(offsetof(Pool, next) == 4);
static_assert(offsetof(Pool, space) == 8);
constexpr std::uint32_t kPoolSpace = 8000;

// A byte string whose size is a multiple of 8; on the free list its first word is the
// size and its second the next free block.
struct CompressionBlock {
    std::uint32_t size;
    DbOffset next;
};
VEZ_RECORD_CHECKS(CompressionBlock, 8);
static_assert(offsetof(CompressionBlock, next) == 4);

// --- Position graph -------------------------------------------------------------------

// Flags byte of every position record.
constexpr std::uint8_t kFlagFull = 0x01;      // full, big and huge
constexpr std::uint8_t kFlagBig = 0x02;       // big and huge
constexpr std::uint8_t kFlagVisit = 0x04;     // set only during a walk
constexpr std::uint8_t kFlagHuge = 0x08;
constexpr std::uint8_t kFlagUserNote = 0x10;  // big records: the note was entered by the user
constexpr std::uint8_t kTinyGlyphShift = 4;   // tiny records: glyph of the one outgoing move
constexpr std::uint8_t kTinyGlyphMask = 0x70;

constexpr std::uint8_t kNewFullFlags = 0x01;
constexpr std::uint8_t kNewBigFlags = 0x03;
constexpr std::uint8_t kNewHugeFlags = 0x0B;
constexpr std::uint8_t kNoScoreCode = 0x80;

// Common prefix of the four kinds.
struct PositionRecord {
    DbOffset nextInChain;
    std::uint8_t secondary;
    std::uint8_t flags;
};
static_assert(offsetof(PositionRecord, secondary) == 4);
static_assert(offsetof(PositionRecord, flags) == 5);

// One way in, one way out, no counters: it carries the counts of the next non-tiny
// record on its line.
struct TinyPosition {
    DbOffset nextInChain;
    std::uint8_t secondary;
    std::uint8_t flags;
    std::uint16_t successorMove; // Move of its only successor, 0 none
    DbOffset predecessor;        // its only predecessor (any kind)
};
VEZ_RECORD_CHECKS(TinyPosition, 12);
static_assert(offsetof(TinyPosition, successorMove) == 6);
static_assert(offsetof(TinyPosition, predecessor) == 8);

struct FullPosition {
    DbOffset nextInChain;
    std::uint8_t secondary;
    std::uint8_t flags;
    std::uint8_t games;
    std::uint8_t whiteWins;
    std::uint8_t blackWins;
    std::uint8_t unused[3];
    DbOffset firstIncoming; // MoveRecord list, in order of first insertion
    DbOffset firstOutgoing;
};
VEZ_RECORD_CHECKS(FullPosition, 20);
static_assert(offsetof(FullPosition, games) == 6);
static_assert(offsetof(FullPosition, whiteWins) == 7);
static_assert(offsetof(FullPosition, blackWins) == 8);
static_assert(offsetof(FullPosition, firstIncoming) == 12);
static_assert(offsetof(FullPosition, firstOutgoing) == 16);

struct BigPosition {
    DbOffset nextInChain;
    std::uint8_t secondary;
    std::uint8_t flags;
    std::uint16_t eco;       // EcoCode, 0 none
    std::uint8_t scoreCode;  // 0x80 none
    std::uint8_t unused[3];
    DbOffset firstIncoming;
    DbOffset firstOutgoing;
    std::uint32_t games;     // main lines through here
    std::uint32_t whiteWins;
    std::uint32_t blackWins;
    DbOffset firstVariation; // Variations ending here
    DbOffset note;           // first NotationRecord
};
VEZ_RECORD_CHECKS(BigPosition, 40);
static_assert(offsetof(BigPosition, eco) == 6);
static_assert(offsetof(BigPosition, scoreCode) == 8);
static_assert(offsetof(BigPosition, firstIncoming) == 12);
static_assert(offsetof(BigPosition, firstOutgoing) == 16);
static_assert(offsetof(BigPosition, games) == 20);
static_assert(offsetof(BigPosition, whiteWins) == 24);
static_assert(offsetof(BigPosition, blackWins) == 28);
static_assert(offsetof(BigPosition, firstVariation) == 32);
static_assert(offsetof(BigPosition, note) == 36);

// A big record that also stores its key: where position rebuilding starts.
struct HugePosition {
    BigPosition big;
    std::uint8_t key[24]; // PackedPosition
};
VEZ_RECORD_CHECKS(HugePosition, 64);
static_assert(offsetof(HugePosition, key) == 40);

// An edge that touches at least one non-tiny record.
struct MoveRecord {
    std::uint16_t move;
    std::uint8_t pathMask; // bit k: a line came in by incoming move k and went on here
    std::uint8_t glyph;    // bits 0..2
    DbOffset from;
    DbOffset to;
    DbOffset nextIncoming; // of the to-position
    DbOffset nextOutgoing; // of the from-position
};
VEZ_RECORD_CHECKS(MoveRecord, 20);
static_assert(offsetof(MoveRecord, pathMask) == 2);
static_assert(offsetof(MoveRecord, glyph) == 3);
static_assert(offsetof(MoveRecord, from) == 4);
static_assert(offsetof(MoveRecord, to) == 8);
static_assert(offsetof(MoveRecord, nextIncoming) == 12);
static_assert(offsetof(MoveRecord, nextOutgoing) == 16);
constexpr std::uint8_t kMoveGlyphMask = 0x07;

// --- Games ----------------------------------------------------------------------------

struct GameRecord {
    DbOffset mainLine;     // Variation; 0 only while the game is being deleted
    DbOffset white;        // Player
    DbOffset black;
    DbOffset event;        // event dictionary text
    DbOffset site;         // site dictionary text
    std::uint32_t number;  // bits 0..21
    std::uint8_t resultRound; // bits 0..1 result, bits 2..5 round (low 4 bits)
    std::uint8_t month;       // bits 0..3
    std::uint16_t eco;
    std::uint16_t year;       // bits 0..10
    std::uint8_t day;         // bits 0..4
    std::uint8_t unused;
    DbOffset firstTag;        // TagVal
};
VEZ_RECORD_CHECKS(GameRecord, 36);
static_assert(offsetof(GameRecord, white) == 4);
static_assert(offsetof(GameRecord, black) == 8);
static_assert(offsetof(GameRecord, event) == 12);
static_assert(offsetof(GameRecord, site) == 16);
static_assert(offsetof(GameRecord, number) == 20);
static_assert(offsetof(GameRecord, resultRound) == 24);
static_assert(offsetof(GameRecord, month) == 25);
static_assert(offsetof(GameRecord, eco) == 26);
static_assert(offsetof(GameRecord, year) == 28);
static_assert(offsetof(GameRecord, day) == 30);
static_assert(offsetof(GameRecord, firstTag) == 32);

constexpr std::uint32_t gameNumberOf(const GameRecord& g) { return g.number & 0x3FFFFF; }
constexpr void setGameNumber(GameRecord& g, std::uint32_t n)
{
    g.number = (g.number & ~0x3FFFFFu) | (n & 0x3FFFFF);
}
constexpr int gameResultOf(const GameRecord& g) { return g.resultRound & 0x03; }
constexpr void setGameResult(GameRecord& g, int result)
{
    g.resultRound = std::uint8_t((g.resultRound & ~0x03) | (result & 0x03));
}
constexpr int gameRoundOf(const GameRecord& g) { return (g.resultRound >> 2) & 0x0F; }
constexpr void setGameRound(GameRecord& g, int round)
{
    g.resultRound = std::uint8_t((g.resultRound & ~0x3C) | ((round & 0x0F) << 2));
}
constexpr int gameMonthOf(const GameRecord& g) { return g.month & 0x0F; }
constexpr void setGameMonth(GameRecord& g, int month)
{
    g.month = std::uint8_t((g.month & ~0x0F) | (month & 0x0F));
}
constexpr int gameYearOf(const GameRecord& g) { return g.year & 0x07FF; }
constexpr void setGameYear(GameRecord& g, int year)
{
    g.year = std::uint16_t((g.year & ~0x07FF) | (year & 0x07FF));
}
constexpr int gameDayOf(const GameRecord& g) { return g.day & 0x1F; }
constexpr void setGameDay(GameRecord& g, int day)
{
    g.day = std::uint8_t((g.day & ~0x1F) | (day & 0x1F));
}

// Maps game numbers to records: number n is slot n mod 512 of block n / 512.
constexpr int kGameIndexSlots = 512;
struct GameIndexBlock {
    std::uint32_t used; // one more than the highest slot filled in order
    DbOffset next;
    DbOffset games[kGameIndexSlots];
};
VEZ_RECORD_CHECKS(GameIndexBlock, 2056);
static_assert(offsetof(GameIndexBlock, next) == 4);
static_assert(offsetof(GameIndexBlock, games) == 8);

struct TagVal {
    DbOffset name;  // tag-name dictionary text
    DbOffset value; // general dictionary text
    DbOffset next;
};
VEZ_RECORD_CHECKS(TagVal, 12);
static_assert(offsetof(TagVal, next) == 8);

// One line of a game: a path through the graph told by its end and its choices.
struct Variation {
    DbOffset graphEnd;          // last position of the line in the graph (big)
    std::int16_t endPly;
    std::int16_t startPly;
    DbOffset firstChoice;       // DisambiguationRecord
    DbOffset game;              // GameRecord
    DbOffset nextAtEnd;         // next Variation with the same graph end
    DbOffset parent;            // 0 for a main line
    DbOffset nextSibling;
    DbOffset firstChild;
    DbOffset compressedTail;    // CompressionBlock, 0 none
};
VEZ_RECORD_CHECKS(Variation, 36);
static_assert(offsetof(Variation, endPly) == 4);
static_assert(offsetof(Variation, startPly) == 6);
static_assert(offsetof(Variation, firstChoice) == 8);
static_assert(offsetof(Variation, game) == 12);
static_assert(offsetof(Variation, nextAtEnd) == 16);
static_assert(offsetof(Variation, parent) == 20);
static_assert(offsetof(Variation, nextSibling) == 24);
static_assert(offsetof(Variation, firstChild) == 28);
static_assert(offsetof(Variation, compressedTail) == 32);

// Where a line arrives at a position by other than its first incoming move.
struct DisambiguationRecord {
    std::int16_t step;       // ply - start ply of the position
    std::int8_t choiceIndex; // index in the position's incoming list
    std::uint8_t unused;
    DbOffset next;           // descending step
};
VEZ_RECORD_CHECKS(DisambiguationRecord, 8);
static_assert(offsetof(DisambiguationRecord, choiceIndex) == 2);
static_assert(offsetof(DisambiguationRecord, next) == 4);

// --- Names ----------------------------------------------------------------------------

// Followed by the NUL-terminated text; references point at the text (entry + 8).
struct DictionaryEntry {
    DbOffset left;  // texts comparing lower
    DbOffset right; // texts comparing higher
};
VEZ_RECORD_CHECKS(DictionaryEntry, 8);
constexpr std::uint32_t kDictionaryTextOffset = 8;
constexpr std::uint32_t dictionaryEntrySize(std::uint32_t textLength)
{
    return (textLength + 13 + 3) & ~3u;
}
// The longest text an entry can hold and still fit a pool; longer texts are cut.
constexpr std::uint32_t kMaxDictionaryText = 7987;
static_assert(dictionaryEntrySize(kMaxDictionaryText) == kPoolSpace);
static_assert(dictionaryEntrySize(kMaxDictionaryText + 1) > kPoolSpace);

// Followed at offset 21 by the NUL-terminated last name.
struct Player {
    DbOffset left;
    DbOffset right;
    DbOffset firstName;  // general dictionary text
    DbOffset middleName; // general dictionary text
    DbOffset nextAlias;  // ring; a ring of one points at itself
    std::uint8_t canonical;
    std::uint8_t lastName[3]; // first bytes of the last name, which runs on past the struct
};
VEZ_RECORD_CHECKS(Player, 24);
static_assert(offsetof(Player, firstName) == 8);
static_assert(offsetof(Player, middleName) == 12);
static_assert(offsetof(Player, nextAlias) == 16);
static_assert(offsetof(Player, canonical) == 20);
static_assert(offsetof(Player, lastName) == 21);
constexpr std::uint32_t playerRecordSize(std::uint32_t lastNameLength)
{
    return (lastNameLength + 25 + 3) & ~3u;
}
// The longest last name a player record can hold and still fit a pool.
constexpr std::uint32_t kMaxPlayerLastName = 7975;
static_assert(playerRecordSize(kMaxPlayerLastName) == kPoolSpace);
static_assert(playerRecordSize(kMaxPlayerLastName + 1) > kPoolSpace);

// --- Gamesets -------------------------------------------------------------------------

struct Gameset {
    DbOffset ranges;  // first IntRange
    DbOffset name;    // general dictionary text
    DbOffset parent;
    DbOffset other;
    DbOffset next;    // creation order
    DbOffset player;
    DbOffset event;
    DbOffset tag;
    DbOffset value;
    DbOffset fen;     // position record the games must pass through
    std::int16_t minEco;
    std::int16_t maxEco;
    std::int32_t minDate;
    std::int32_t maxDate;
    std::int32_t rule;    // 0 Fixed, 1 plain rule, 2 Union, 3 Intersect, 4 Subtract
    std::int32_t outcome; // 0 any, 1 Win, 2 Loss, 3 Draw
    std::int32_t color;   // 0 any, 1 White, 2 Black
};
VEZ_RECORD_CHECKS(Gameset, 64);
static_assert(offsetof(Gameset, name) == 0x04);
static_assert(offsetof(Gameset, parent) == 0x08);
static_assert(offsetof(Gameset, other) == 0x0C);
static_assert(offsetof(Gameset, next) == 0x10);
static_assert(offsetof(Gameset, player) == 0x14);
static_assert(offsetof(Gameset, event) == 0x18);
static_assert(offsetof(Gameset, tag) == 0x1C);
static_assert(offsetof(Gameset, value) == 0x20);
static_assert(offsetof(Gameset, fen) == 0x24);
static_assert(offsetof(Gameset, minEco) == 0x28);
static_assert(offsetof(Gameset, maxEco) == 0x2A);
static_assert(offsetof(Gameset, minDate) == 0x2C);
static_assert(offsetof(Gameset, maxDate) == 0x30);
static_assert(offsetof(Gameset, rule) == 0x34);
static_assert(offsetof(Gameset, outcome) == 0x38);
static_assert(offsetof(Gameset, color) == 0x3C);

struct IntRange {
    std::int32_t low;
    std::int32_t high; // inclusive
    DbOffset next;
};
VEZ_RECORD_CHECKS(IntRange, 12);
static_assert(offsetof(IntRange, next) == 8);

// --- Notes and flashcards -------------------------------------------------------------

// 32 bytes of a note's NUL-terminated text.
struct NotationRecord {
    DbOffset next;
    char text[32];
};
VEZ_RECORD_CHECKS(NotationRecord, 36);
static_assert(offsetof(NotationRecord, text) == 4);

constexpr int kFlashcardSlots = 64;
struct FlashcardIndexBlock {
    std::uint32_t count;
    DbOffset next;
    DbOffset slots[kFlashcardSlots];
};
VEZ_RECORD_CHECKS(FlashcardIndexBlock, 264);
static_assert(offsetof(FlashcardIndexBlock, next) == 4);
static_assert(offsetof(FlashcardIndexBlock, slots) == 8);

#undef VEZ_RECORD_CHECKS

} // namespace vez
