// The mapped database image: creation, opening, growth, saving and closing.
//
// Every open image reserves the whole range a 32-bit offset can name (plus a guard) once,
// with no access and no swap reservation; the file, or committed memory, is mapped at
// its start and every extension is mapped in place right behind it. So the base of an
// image never moves while it grows, and no offset, however corrupt, reaches memory
// outside its reservation.
#pragma once

#include <cassert>
#include <cstdint>
#include <string>
#include <type_traits>

#include "store/damage.h"
#include "store/records.h"

namespace vez {

constexpr std::uint32_t kAllocationGranularity = 65536;
constexpr std::uint32_t kHashSlots = 65536;
constexpr std::uint32_t kHashTableBytes = kHashSlots * sizeof(DbOffset);
constexpr std::uint32_t kHeaderBytes = sizeof(DatabaseHeader);
constexpr std::uint32_t kInMemoryHandle = 0xFFFFFFFF;
constexpr std::uint64_t kReservationBytes = (std::uint64_t(1) << 32) + kAllocationGranularity;

// The image every store operation works on. Set by createInMemory and openMapped, and
// by setCurrentBase while two databases are open at once.
extern std::uint8_t* currentBase;

inline DatabaseHeader& currentHeader() { return *reinterpret_cast<DatabaseHeader*>(currentBase); }

// The name of a record kind in messages about damage.
template <class T>
inline constexpr const char* kRecordKindName = "record";
template <>
inline constexpr const char* kRecordKindName<TinyPosition> = "TinyPosition";
template <>
inline constexpr const char* kRecordKindName<FullPosition> = "FullPosition";
template <>
inline constexpr const char* kRecordKindName<BigPosition> = "BigPosition";
template <>
inline constexpr const char* kRecordKindName<HugePosition> = "HugePosition";
template <>
inline constexpr const char* kRecordKindName<PositionRecord> = "PositionRecord";
template <>
inline constexpr const char* kRecordKindName<MoveRecord> = "MoveRecord";
template <>
inline constexpr const char* kRecordKindName<GameRecord> = "GameRecord";
template <>
inline constexpr const char* kRecordKindName<GameIndexBlock> = "GameIndexBlock";
template <>
inline constexpr const char* kRecordKindName<TagVal> = "TagVal";
template <>
inline constexpr const char* kRecordKindName<Variation> = "Variation";
template <>
inline constexpr const char* kRecordKindName<DisambiguationRecord> = "DisambiguationRecord";
template <>
inline constexpr const char* kRecordKindName<Pool> = "Pool";
template <>
inline constexpr const char* kRecordKindName<CompressionBlock> = "CompressionBlock";
template <>
inline constexpr const char* kRecordKindName<DictionaryEntry> = "DictionaryEntry";
template <>
inline constexpr const char* kRecordKindName<Player> = "Player";
template <>
inline constexpr const char* kRecordKindName<Gameset> = "Gameset";
template <>
inline constexpr const char* kRecordKindName<IntRange> = "IntRange";
template <>
inline constexpr const char* kRecordKindName<NotationRecord> = "NotationRecord";
template <>
inline constexpr const char* kRecordKindName<FlashcardIndexBlock> = "FlashcardIndexBlock";
template <>
inline constexpr const char* kRecordKindName<char> = "text";

// The one accessor from offsets to records of the current image. Offsets come from the
// file, so each is checked before it is followed: a whole record inside the used image,
// past the header, on its record's boundary; anything else throws DamagedDatabase.
template <class T>
T* at(DbOffset offset)
{
    const std::uint32_t used = currentHeader().usedBytes;
    if (offset < kHeaderBytes || offset % alignof(T) != 0 ||
        std::uint64_t(offset) + sizeof(T) > used) [[unlikely]]
        throwBadOffset(offset, kRecordKindName<T>, sizeof(T), alignof(T));
    return reinterpret_cast<T*>(currentBase + offset);
}

// The records that most code follows, by their offsets.
inline Variation* variation(DbOffset v) { return at<Variation>(v); }
inline GameRecord* gameRecord(DbOffset g) { return at<GameRecord>(g); }

inline DbOffset offsetOf(const void* address)
{
    return DbOffset(static_cast<const std::uint8_t*>(address) - currentBase);
}

// A new, unnamed database in memory; null when the address space cannot be reserved.
DatabaseHeader* createInMemory();

// Maps an existing database file and asks for extraBytes of room behind it; null (after a
// message) when the file cannot be opened, is not a database or cannot be mapped. The
// header is checked before anything is changed: a refused file keeps its length. A disk
// that cannot give the room does not stop the opening: the file opens without room.
DatabaseHeader* openMapped(const std::string& path, std::uint64_t extraBytes);

// Writes the used part of the current image to path (through a temporary file in the
// same folder, renamed over it). False with the reason in *error on failure.
bool writeToFile(const std::string& path, std::string* error = nullptr);

// Unmaps the image; a file is trimmed to usedBytes and closed. currentBase is unchanged.
void closeDatabase(DatabaseHeader* db);

// The file an open image was mapped from; empty for an image in memory.
std::string imagePath(const DatabaseHeader* db);

void setCurrentBase(DatabaseHeader* db);

// Changes whenever an image is created, opened or closed: memory kept about an image
// (with its base address) is valid only while this stays the same.
std::uint64_t imageEpoch();

std::uint32_t usedBytesOf(const DatabaseHeader* db);
std::uint32_t roomOf(const DatabaseHeader* db);

// Zero-filled bytes (rounded up to 4) at the heap top of the current image. A growth that
// fails here shows its message and stops the process (the change under way could not be
// finished), so callers may assume success; reserveRoom first where the disk may be full.
DbOffset allocateRaw(std::uint32_t size);

// Makes sure the current image has at least bytes of room behind its heap top, growing
// it (and its file) when needed. False when it cannot grow, the image then unchanged:
// the store's message is shown, or put in *failure when that is given.
bool reserveRoom(std::uint64_t bytes, std::string* failure = nullptr);

// Makes room for count items of bytesPerItem in a file-backed database, growing it in
// place. False after "Could not expand ..." when the disk cannot give the room; the
// database stays open with the room it had. db is never replaced.
bool ensureRoom(DatabaseHeader*& db, const std::string& path, std::uint64_t count,
                std::uint64_t bytesPerItem);

// Whether a header can be trusted for an image of fileSize bytes: the magic, the used
// size, the hash table and every offset and chain head inside the used part, counts
// that fit.
bool headerIsSound(const DatabaseHeader& header, std::uint64_t fileSize);

} // namespace vez
