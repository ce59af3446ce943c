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
#include <string>
#include <utility>
#include <vector>

#include "store/beside.h"
#include "store/checksum.h"
#include "store/file_io.h"
#include "store/games.h"
#include "store/heap.h"
#include "store/large_pages.h"
#include "store/line_index_file.h"
#include "store/messages.h"
#include "store/position_index.h"
#include "store/recovery.h"

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

// The reservation starts at a large page's boundary, so that the file's offsets and the
// addresses agree on where large pages may begin.
std::uint8_t* reserveAddressSpace()
{
    return mapAligned(kReservationBytes, PROT_NONE, MAP_PRIVATE | MAP_NORESERVE);
}

// Room that growth adds is written all over, record by record, as the graph grows: mapped
// in large pages it does not miss the address cache at nearly every record. The part of a
// file a session opens is left as it is: it is read sparsely, and large pages would read
// it 2 MB at a time.
void adviseLargePages(std::uint8_t* p, std::uint64_t bytes)
{
    (void)::madvise(p, bytes, MADV_HUGEPAGE); // advice only: systems without them ignore it
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
    (void)readAll(fd, &header, sizeof header, 0); // what a short file lacks stays zero
    return true;
}

void closeFile(int fd) { ::close(fd); }

// Makes the image at least grow bytes longer (the new end rounded up to the
// granularity). A file gets the disk blocks of the new part before it is mapped, so that
// no later store into it can fault on a full disk. Returns the store's message when the
// image cannot grow, empty when it grew; a failed growth leaves the image as it was.
std::string growImage(DatabaseHeader& h, std::uint64_t grow)
{
    const std::uint64_t oldSize = h.committedBytes;
    const std::uint64_t newSize = roundUp(oldSize + grow, kAllocationGranularity);
    if (h.fileHandle == kInMemoryHandle) {
        std::uint8_t* extension = currentBase + oldSize;
        if (newSize > 0xFFFFFFFFu ||
            ::mprotect(extension, std::size_t(newSize - oldSize), PROT_READ | PROT_WRITE) != 0)
            return "Could not allocate " + std::to_string(newSize - oldSize) +
                   " more bytes in database with " + std::to_string(h.usedBytes) + " bytes";
        adviseLargePages(extension, newSize - oldSize);
        h.committedBytes = std::uint32_t(newSize);
        return {};
    }
    const int fd = int(h.fileHandle);
    const int error = newSize > 0xFFFFFFFFu
                          ? EFBIG
                          : ::posix_fallocate(fd, off_t(oldSize), off_t(newSize - oldSize));
    if (error != 0) {
        (void)::ftruncate(fd, off_t(oldSize)); // gives back whatever part was taken
        return "Could not create file mapping object of " + std::to_string(newSize) +
               " bytes to extend database:\n\t" + std::strerror(error);
    }
    // The file's last page may have been mapped only in part: map from its start.
    const std::uint64_t page = std::uint64_t(::sysconf(_SC_PAGESIZE));
    const std::uint64_t from = oldSize / page * page;
    if (::mmap(currentBase + from, std::size_t(newSize - from), PROT_READ | PROT_WRITE,
               MAP_SHARED | MAP_FIXED, fd, off_t(from)) == MAP_FAILED) {
        (void)::ftruncate(fd, off_t(oldSize));
        return "Could not map extension to database file";
    }
    adviseLargePages(currentBase + from, newSize - from);
    h.committedBytes = std::uint32_t(newSize);
    return {};
}

} // namespace

namespace {

// The files of the open mapped images. Never destroyed: an image may be closed by another
// static's destructor at exit.
std::vector<std::pair<const void*, std::string>>& imagePaths()
{
    static auto* paths = new std::vector<std::pair<const void*, std::string>>;
    return *paths;
}

void forgetImagePath(const void* base)
{
    std::erase_if(imagePaths(), [base](const auto& p) { return p.first == base; });
}

} // namespace

std::string imagePath(const DatabaseHeader* db)
{
    for (const auto& [base, path] : imagePaths())
        if (base == db)
            return path;
    return {};
}

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
    // Counts must fit the used bytes their records take. A process stopped between issuing
    // a game's number and adding the index block for it leaves one number over, which
    // recovery takes back.
    const std::uint64_t u = used;
    const std::uint64_t numbered = std::uint64_t(h.gameIndexBlockCount) * kGameIndexSlots +
                                   (h.fileHandle != kInMemoryHandle ? 1 : 0);
    return std::uint64_t(h.gameIndexBlockCount) * sizeof(GameIndexBlock) <= u &&
           std::uint64_t(h.flashcardBlockCount) * sizeof(FlashcardIndexBlock) <= u &&
           h.flashcardCount <= std::uint64_t(h.flashcardBlockCount) * kFlashcardSlots &&
           h.gameNumbersIssued <= numbered &&
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
    forgetImagePath(base);
    DatabaseHeader& h = currentHeader();
    std::memcpy(h.magic, kDatabaseMagic, sizeof kDatabaseMagic);
    h.usedBytes = kHeaderBytes;
    h.committedBytes = kAllocationGranularity;
    h.fileHandle = kInMemoryHandle;
    h.compressionThresholdPly = 100;
    imageOpened(&h, true);
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
    if (fileSize > 0xFFFFFFFFu) {
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
    // Only the file itself is mapped: opening asks the disk for nothing, so a database on
    // a full disk still opens. The room behind usedBytes is claimed when a write needs it.
    std::uint8_t* base = reserveAddressSpace();
    if (!base || (fileSize > 0 && ::mmap(base, std::size_t(fileSize), PROT_READ | PROT_WRITE,
                                         MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED)) {
        if (base)
            releaseAddressSpace(base);
        closeFile(fd);
        say("Could not map database file " + path);
        return nullptr;
    }
    currentBase = base;
    ++openedOrClosed;
    forgetPositionIndex(base);
    forgetImagePath(base);
    std::error_code ignored;
    imagePaths().emplace_back(base, std::filesystem::absolute(path, ignored).string());
    DatabaseHeader& h = currentHeader();
    const bool interrupted = !closedCleanly();
    h.committedBytes = std::uint32_t(fileSize);
    h.fileHandle = std::uint32_t(fd);
    imageOpened(&h, interrupted);
    if (interrupted)
        recoverInterruptedChanges();
    // The room asked for is welcome but not needed: without it the file still opens.
    if (mappedSize > fileSize)
        (void)growImage(h, mappedSize - fileSize);
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
    // The copy is a cleanly closed image of its own.
    DatabaseHeader copy;
    std::memcpy(&copy, &h, sizeof copy);
    copy.reserved = checksumToStore(&h);
    copy.committedBytes = h.usedBytes;
    copy.fileHandle = kInMemoryHandle;
    if (!writeAll(fd, &copy, kHeaderBytes, 0) ||
        !writeAll(fd, currentBase + kHeaderBytes, h.usedBytes - kHeaderBytes, kHeaderBytes)) {
        const int saved = errno;
        closeFile(fd);
        ::unlink(temporary.c_str());
        errno = saved;
        return fail("could not write");
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
    std::uint32_t checksum = 0;
    if (mapped && imageChanged(db)) {
        const std::string path = imagePath(db);
        // The checksum reads the whole image, and saving the indexes beside the file may
        // first walk every game: they only read, side by side. The position index this
        // session kept up to date is saved, then let go of before the search's is built.
        std::jthread summing = startBeside([db, &checksum] { checksum = imageChecksum(*db); });
        const auto summed = [&summing, &checksum] {
            if (summing.joinable())
                summing.join();
            return checksum;
        };
        const std::string positionsPath = path.empty() ? path : positionIndexPath(path);
        SavingPositionIndex positions(base, positionsPath);
        forgetPositionIndex(base);
        saveGameSearchIndex(db, path, summed);
        // A copy saved for the image before this session's changes would only be refused.
        if (!positions.finish(imageIdentity(*db, summed())) && !positionsPath.empty())
            (void)::unlink(positionsPath.c_str());
    } else {
        forgetPositionIndex(base);
        if (mapped)
            checksum = checksumToStore(db);
    }
    // Only now: until here the search's index built in this session is that of the image.
    ++openedOrClosed;
    forgetGameSearchIndex(base);
    forgetImagePath(base);
    // Marks the file as closed cleanly: its next opening need not look for what a stopped
    // process left. A session that changed nothing leaves every byte as it found it.
    if (mapped) {
        db->reserved = checksum;
        db->committedBytes = used;
        db->fileHandle = kInMemoryHandle;
    }
    imageClosed(db);
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

DbOffset allocateRaw(std::uint32_t size)
{
    storeStep();
    DatabaseHeader& h = currentHeader();
    const std::uint64_t rounded = roundUp(size, 4);
    const std::uint64_t top = std::uint64_t(h.usedBytes) + rounded;
    const std::uint64_t oldCommitted = h.committedBytes;
    // A record is asked for in the middle of a change that cannot be refused halfway: a
    // failure here would leave the file half changed, so it stops the process. Changes
    // that may meet a full disk claim their room ahead with reserveRoom.
    if (top > oldCommitted) {
        const std::string failure = growImage(h, top - oldCommitted);
        if (!failure.empty())
            fatal(failure);
    }
    const DbOffset offset = h.usedBytes;
    // Newly mapped pages are zero. The old room behind usedBytes is zero in any image we
    // wrote, but not necessarily in a file from elsewhere.
    const std::uint64_t oldRoomEnd = std::min(top, oldCommitted);
    if (oldRoomEnd > offset)
        std::memset(currentBase + offset, 0, std::size_t(oldRoomEnd - offset));
    h.usedBytes = std::uint32_t(top);
    return offset;
}

bool reserveRoom(std::uint64_t bytes, std::string* failure)
{
    DatabaseHeader& h = currentHeader();
    if (std::uint64_t(h.committedBytes) - h.usedBytes >= bytes)
        return true;
    std::string why = growImage(h, std::uint64_t(h.usedBytes) + bytes - h.committedBytes);
    if (why.empty())
        return true;
    if (failure)
        *failure = std::move(why);
    else
        say(why);
    return false;
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
    // The image grows in place (its base never moves), so nothing is re-mapped and the
    // database stays open as it was when the disk cannot give the room.
    std::uint8_t* const previous = currentBase;
    setCurrentBase(db);
    const std::string failure = growImage(*db, needed - room);
    currentBase = previous;
    if (failure.empty())
        return true;
    say("Could not expand " + path + " by " + std::to_string(needed - room) + " bytes:\n\t" +
        failure.substr(failure.find('\t') + 1));
    return false;
}

} // namespace vez
