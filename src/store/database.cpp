#include "store/database.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "store/games.h"
#include "store/messages.h"
#include "store/position_index.h"

namespace vez {

std::uint8_t* currentBase = nullptr;

namespace {
std::uint64_t openedOrClosed = 0;
}

std::uint64_t imageEpoch() { return openedOrClosed; }

namespace {

std::uint64_t roundUp(std::uint64_t value, std::uint64_t unit) { return (value + unit - 1) / unit * unit; }

void say(const std::string& text) { storeMessages().showMessage(text); }

[[noreturn]] void fatal(const std::string& text)
{
    say(text);
    stopAfterFatalStoreError();
}

std::uint8_t* reserveAddressSpace()
{
    void* p = ::mmap(nullptr, kReservationBytes, PROT_NONE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
}

void releaseAddressSpace(std::uint8_t* base) { ::munmap(base, kReservationBytes); }

bool offsetFits(DbOffset offset, std::uint32_t size, std::uint32_t used)
{
    return offset == 0 ||
           (offset >= kHeaderBytes && offset % 4 == 0 && std::uint64_t(offset) + size <= used);
}

// Reads the header from the file without mapping anything; a short file reads as zeros.
bool readHeader(int fd, DatabaseHeader& header)
{
    std::memset(&header, 0, sizeof header);
    std::size_t done = 0;
    while (done < sizeof header) {
        const ssize_t n = ::pread(fd, reinterpret_cast<char*>(&header) + done, sizeof header - done,
                                  off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    return true;
}

void closeFile(int fd) { ::close(fd); }

} // namespace

bool headerIsSound(const DatabaseHeader& h, std::uint64_t fileSize)
{
    if (std::memcmp(h.magic, kDatabaseMagic, sizeof kDatabaseMagic) != 0)
        return false;
    const std::uint32_t used = h.usedBytes;
    if (used < kHeaderBytes + kHashTableBytes || used > fileSize || used % 4 != 0)
        return false;
    if (h.hashTable == 0 || !offsetFits(h.hashTable, kHashTableBytes, used))
        return false;
    bool ok = offsetFits(h.firstGameIndexBlock, sizeof(GameIndexBlock), used) &&
              offsetFits(h.firstFlashcardBlock, sizeof(FlashcardIndexBlock), used) &&
              offsetFits(h.playerRoot, playerRecordSize(0), used) &&
              offsetFits(h.firstGameset, sizeof(Gameset), used) &&
              offsetFits(h.freeBlocks, sizeof(CompressionBlock), used) &&
              offsetFits(h.generalDictionary, dictionaryEntrySize(0), used) &&
              offsetFits(h.eventDictionary, dictionaryEntrySize(0), used) &&
              offsetFits(h.siteDictionary, dictionaryEntrySize(0), used) &&
              offsetFits(h.tagNameDictionary, dictionaryEntrySize(0), used);
    for (DbOffset pool : h.poolChains)
        ok = ok && offsetFits(pool, sizeof(Pool), used);
    static constexpr std::uint32_t kFreeRecordSizes[kFreeListCount] = {12, 20, 40, 20, 36, 8,
                                                                      64, 12, 12, 36, 36};
    for (int i = 0; i < kFreeListCount; ++i)
        ok = ok && offsetFits(h.freeLists[i], kFreeRecordSizes[i], used);
    if (!ok)
        return false;
    // Counts must fit the used bytes their records take.
    const std::uint64_t u = used;
    return std::uint64_t(h.gameIndexBlockCount) * sizeof(GameIndexBlock) <= u &&
           std::uint64_t(h.flashcardBlockCount) * sizeof(FlashcardIndexBlock) <= u &&
           h.flashcardCount <= std::uint64_t(h.flashcardBlockCount) * kFlashcardSlots &&
           h.gameNumbersIssued <= std::uint64_t(h.gameIndexBlockCount) * kGameIndexSlots &&
           std::uint64_t(h.moveRecordCount) * sizeof(MoveRecord) <= u &&
           std::uint64_t(h.variationCount) * sizeof(Variation) <= u &&
           std::uint64_t(h.notationRecordCount) * sizeof(NotationRecord) <= u &&
           h.freeListBytes <= used && h.hasEcoBook <= 1 && h.nonstandard <= 1 &&
           h.nameNormalizationOff <= 1;
}

DatabaseHeader* createInMemory()
{
    std::uint8_t* base = reserveAddressSpace();
    if (!base)
        return nullptr;
    if (::mprotect(base, kAllocationGranularity, PROT_READ | PROT_WRITE) != 0) {
        releaseAddressSpace(base);
        return nullptr;
    }
    currentBase = base;
    ++openedOrClosed;
    forgetPositionIndex(base);
    DatabaseHeader& h = currentHeader();
    std::memcpy(h.magic, kDatabaseMagic, sizeof kDatabaseMagic);
    h.usedBytes = kHeaderBytes;
    h.committedBytes = kAllocationGranularity;
    h.fileHandle = kInMemoryHandle;
    h.compressionThresholdPly = 100;
    h.hashTable = allocateRaw(kHashTableBytes);
    return &h;
}

DatabaseHeader* openMapped(const std::string& path, std::uint64_t extraBytes)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    // No sharing: a second open of the same database, by this or another process, fails.
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (fd >= 0)
            closeFile(fd);
        say("Could not open database " + path + " for mapping");
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        closeFile(fd);
        say("Could not discern size of database file " + path);
        return nullptr;
    }
    const std::uint64_t fileSize = std::uint64_t(st.st_size);
    const std::uint64_t mappedSize = roundUp(fileSize + extraBytes, kAllocationGranularity);
    if (fileSize > 0xFFFFFFFFu || mappedSize > 0xFFFFFFFFu) {
        closeFile(fd);
        say("Database file " + path + " too big");
        return nullptr;
    }
    DatabaseHeader header;
    readHeader(fd, header);
    if (!headerIsSound(header, fileSize)) {
        closeFile(fd);
        say("Incompatible database file: " + path);
        return nullptr;
    }
    // Reserve the disk blocks of the room now, so that a full disk is reported here
    // rather than as a fault at some later write.
    if (mappedSize > fileSize &&
        ::posix_fallocate(fd, off_t(fileSize), off_t(mappedSize - fileSize)) != 0) {
        (void)::ftruncate(fd, off_t(fileSize));
        closeFile(fd);
        say("Could not create file mapping object of " + std::to_string(mappedSize) + " bytes for " +
            path);
        return nullptr;
    }
    std::uint8_t* base = reserveAddressSpace();
    if (!base || ::mmap(base, mappedSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) ==
                     MAP_FAILED) {
        if (base)
            releaseAddressSpace(base);
        (void)::ftruncate(fd, off_t(fileSize));
        closeFile(fd);
        say("Could not map database file " + path);
        return nullptr;
    }
    currentBase = base;
    ++openedOrClosed;
    forgetPositionIndex(base);
    DatabaseHeader& h = currentHeader();
    h.committedBytes = std::uint32_t(mappedSize);
    h.fileHandle = std::uint32_t(fd);
    return &h;
}

bool writeToFile(const std::string& path, std::string* error)
{
    namespace fs = std::filesystem;
    const DatabaseHeader& h = currentHeader();
    const fs::path target(path);
    fs::path temporary = target;
    temporary += ".vez-saving";
    auto fail = [&](const std::string& what) {
        if (error)
            *error = path + ": " + what + ":\n\t" + std::strerror(errno);
        return false;
    };
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail("could not open");
    std::uint64_t done = 0;
    while (done < h.usedBytes) {
        const ssize_t n = ::write(fd, currentBase + done, std::size_t(h.usedBytes - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int saved = errno;
            closeFile(fd);
            ::unlink(temporary.c_str());
            errno = saved;
            return fail("could not write");
        }
        done += std::uint64_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return fail("could not write");
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return fail("could not write");
    }
    return true;
}

void closeDatabase(DatabaseHeader* db)
{
    if (!db)
        return;
    const std::uint32_t handle = db->fileHandle;
    const std::uint32_t used = db->usedBytes;
    std::uint8_t* base = reinterpret_cast<std::uint8_t*>(db);
    const bool mapped = handle != kInMemoryHandle;
    ++openedOrClosed;
    forgetPositionIndex(base);
    forgetGameSearchIndex(base);
    if (::munmap(base, kReservationBytes) != 0)
        fatal(mapped ? "UnmapViewOfFile for mapped database failed"
                     : "VirtualFree of mapped database failed");
    if (!mapped)
        return;
    const int fd = int(handle);
    if (::ftruncate(fd, off_t(used)) != 0)
        say("Could not trim size of database file");
    closeFile(fd);
}

void setCurrentBase(DatabaseHeader* db) { currentBase = reinterpret_cast<std::uint8_t*>(db); }

std::uint32_t usedBytesOf(const DatabaseHeader* db) { return db->usedBytes; }

std::uint32_t roomOf(const DatabaseHeader* db) { return db->committedBytes - db->usedBytes; }

namespace {

void growImage(DatabaseHeader& h, std::uint64_t grow)
{
    const std::uint64_t newSize = std::uint64_t(h.committedBytes) + grow;
    std::uint8_t* extension = currentBase + h.committedBytes;
    if (h.fileHandle == kInMemoryHandle) {
        if (newSize > 0xFFFFFFFFu ||
            ::mprotect(extension, grow, PROT_READ | PROT_WRITE) != 0)
            fatal("Could not allocate " + std::to_string(grow) + " more bytes in database with " +
                  std::to_string(h.usedBytes) + " bytes");
    } else {
        const int fd = int(h.fileHandle);
        if (newSize > 0xFFFFFFFFu ||
            ::posix_fallocate(fd, off_t(h.committedBytes), off_t(grow)) != 0)
            fatal("Could not create file mapping object of " + std::to_string(newSize) +
                  " bytes to extend database");
        if (::mmap(extension, grow, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd,
                   off_t(h.committedBytes)) == MAP_FAILED)
            fatal("Could not map extension to database file");
    }
    h.committedBytes = std::uint32_t(newSize);
}

} // namespace

DbOffset allocateRaw(std::uint32_t size)
{
    DatabaseHeader& h = currentHeader();
    const std::uint64_t rounded = roundUp(size, 4);
    const std::uint64_t top = std::uint64_t(h.usedBytes) + rounded;
    const std::uint64_t oldCommitted = h.committedBytes;
    if (top > oldCommitted)
        growImage(h, roundUp(top - oldCommitted, kAllocationGranularity));
    const DbOffset offset = h.usedBytes;
    // Newly mapped pages are zero. The old room behind usedBytes is zero in any image we
    // wrote, but not necessarily in a file from elsewhere.
    const std::uint64_t oldRoomEnd = std::min(top, oldCommitted);
    if (oldRoomEnd > offset)
        std::memset(currentBase + offset, 0, std::size_t(oldRoomEnd - offset));
    h.usedBytes = std::uint32_t(top);
    return offset;
}

bool ensureRoom(DatabaseHeader*& db, const std::string& path, std::uint64_t count,
                std::uint64_t bytesPerItem)
{
    if (!db || db->fileHandle == kInMemoryHandle || path.empty())
        return true;
    const std::uint64_t needed = count * bytesPerItem;
    const std::uint64_t room = roomOf(db);
    if (needed <= room)
        return true;
    const std::uint64_t shortfall = needed - room;
    // The content stays the same, so the position index moves with the image.
    std::unique_ptr<PositionIndex> index = detachPositionIndex(db);
    closeDatabase(db);
    db = openMapped(path, needed);
    if (db) {
        attachPositionIndex(db, std::move(index));
        return true;
    }
    say("Could not expand " + path + " by " + std::to_string(shortfall) + " bytes");
    db = openMapped(path, room);
    if (!db)
        say("Could not re-map database after expansion failure!");
    return false;
}

} // namespace vez
