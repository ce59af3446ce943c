#include "store/line_index_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "store/checksum.h"
#include "store/file_io.h"

namespace vez {

namespace {

constexpr char kMagic[8] = {'v', 'e', 'z', 'i', 'd', 'x', '1', '\0'};
constexpr std::size_t kBlockBytes = BesideFileWriter::kBlockBytes;

struct FileHeader {
    char magic[8];
    std::uint64_t identity;
    std::uint32_t records;
    std::uint32_t entries;
    std::uint32_t tinyEnds;
    std::uint32_t blocks;
    std::uint64_t tableHash;  // of the block hashes that follow the header
    std::uint64_t headerHash; // of the fields above
};
static_assert(sizeof(FileHeader) == 48);

// The payload: the records in ascending order, the start of each record's entries (and
// one past the last), then the entries.
std::uint64_t payloadBytes(std::uint64_t records, std::uint64_t entries)
{
    return 4 * records + 4 * (records + 1) + sizeof(LineIndexEntry) * entries;
}

std::uint64_t blocksFor(std::uint64_t bytes) { return (bytes + kBlockBytes - 1) / kBlockBytes; }

std::uint64_t headerHash(const FileHeader& h)
{
    return hashBytes(reinterpret_cast<const std::uint8_t*>(&h), offsetof(FileHeader, headerHash),
                     0x1D);
}

} // namespace

std::uint64_t imageIdentity(const DatabaseHeader& header, std::uint32_t checksum)
{
    if (checksum == 0)
        return 0;
    // The runtime words are not part of the image, as for its checksum.
    DatabaseHeader h;
    std::memcpy(&h, &header, sizeof h);
    h.committedBytes = 0;
    h.fileHandle = 0;
    h.currentGameNumber = 0;
    h.reserved = checksum;
    const std::uint64_t identity =
        hashBytes(reinterpret_cast<const std::uint8_t*>(&h), sizeof h, 0x1DE);
    return identity != 0 ? identity : 1;
}

std::string lineIndexPath(const std::string& databasePath) { return databasePath + ".idx"; }

bool saveLineIndex(const std::string& path, std::uint64_t identity, bool tinyEnds,
                   std::span<const DbOffset> records, std::span<const std::uint32_t> starts,
                   std::span<const LineIndexEntry> entries)
{
    if (identity == 0 || starts.size() != records.size() + 1 || entries.size() > UINT32_MAX)
        return false;
    FileHeader header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.identity = identity;
    header.records = std::uint32_t(records.size());
    header.entries = std::uint32_t(entries.size());
    header.tinyEnds = tinyEnds ? 1 : 0;
    const std::uint64_t bytes = payloadBytes(records.size(), entries.size());
    header.blocks = std::uint32_t(blocksFor(bytes));
    BesideFileWriter out(path, off_t(sizeof header + header.blocks * sizeof(std::uint64_t)));
    bool ok = out.isOpen() && out.put(records.data(), records.size()) &&
              out.put(starts.data(), starts.size()) && out.put(entries.data(), entries.size()) &&
              out.flush();
    const std::vector<std::uint64_t>& table = out.blockHashes();
    header.tableHash = hashBytes(reinterpret_cast<const std::uint8_t*>(table.data()),
                                 table.size() * sizeof(std::uint64_t), identity);
    header.headerHash = headerHash(header);
    ok = ok && table.size() == header.blocks &&
         out.write(table.data(), table.size() * sizeof(std::uint64_t), sizeof header) &&
         out.write(&header, sizeof header, 0);
    return ok && out.finish();
}

SavedLineIndex::~SavedLineIndex() { close(); }

void SavedLineIndex::close()
{
    if (m_map != nullptr)
        ::munmap(m_map, m_mapBytes);
    m_map = nullptr;
    m_mapBytes = 0;
    m_blockHashes = nullptr;
    m_blockChecked.clear();
}

bool SavedLineIndex::open(const std::string& path, std::uint64_t identity)
{
    close();
    if (identity == 0)
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    FileHeader header{};
    struct stat st {};
    bool ok = readAll(fd, &header, sizeof header, 0) &&
              ::fstat(fd, &st) == 0 && std::memcmp(header.magic, kMagic, sizeof kMagic) == 0 &&
              header.headerHash == headerHash(header) && header.identity == identity;
    const std::uint64_t bytes = payloadBytes(header.records, header.entries);
    const std::uint64_t tableBytes = std::uint64_t(header.blocks) * sizeof(std::uint64_t);
    ok = ok && header.blocks == blocksFor(bytes) &&
         std::uint64_t(st.st_size) == sizeof header + tableBytes + bytes;
    void* map =
        ok ? ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
    ::close(fd);
    if (map == MAP_FAILED)
        return false;
    m_map = static_cast<std::uint8_t*>(map);
    m_mapBytes = std::size_t(st.st_size);
    m_payloadOffset = sizeof header + tableBytes;
    m_records = header.records;
    m_entries = header.entries;
    m_tinyEnds = header.tinyEnds != 0;
    m_blockHashes = reinterpret_cast<const std::uint64_t*>(m_map + sizeof header);
    m_blockChecked.assign(header.blocks, false);
    if (hashBytes(m_map + sizeof header, tableBytes, identity) != header.tableHash) {
        close();
        return false;
    }
    return true;
}

// Whether the payload's bytes [from, from + bytes) are as saved, hashing each block
// the first time it is read.
bool SavedLineIndex::verified(std::uint64_t from, std::uint64_t bytes)
{
    if (bytes == 0)
        return true;
    const std::uint64_t size = m_mapBytes - m_payloadOffset;
    for (std::uint64_t b = from / kBlockBytes; b <= (from + bytes - 1) / kBlockBytes; ++b) {
        if (m_blockChecked[b])
            continue;
        const std::uint64_t at = b * kBlockBytes;
        const std::size_t n = std::size_t(std::min<std::uint64_t>(kBlockBytes, size - at));
        if (hashBytes(payload() + at, n, b) != m_blockHashes[b])
            return false;
        m_blockChecked[b] = true;
    }
    return true;
}

std::optional<std::span<const LineIndexEntry>> SavedLineIndex::entriesAt(DbOffset record)
{
    if (!isOpen())
        return std::nullopt;
    const std::uint64_t startsAt = 4 * std::uint64_t(m_records);
    const std::uint64_t entriesAt = startsAt + 4 * (std::uint64_t(m_records) + 1);
    const auto word = [&](std::uint64_t at, std::uint32_t& value) {
        if (!verified(at, 4))
            return false;
        std::memcpy(&value, payload() + at, 4);
        return true;
    };
    // The first record not below the one asked for.
    std::uint32_t low = 0, high = m_records;
    while (low < high) {
        const std::uint32_t mid = low + (high - low) / 2;
        DbOffset r;
        if (!word(4 * std::uint64_t(mid), r)) {
            close();
            return std::nullopt;
        }
        if (r < record)
            low = mid + 1;
        else
            high = mid;
    }
    DbOffset found = 0;
    std::uint32_t first = 0, last = 0;
    if (low == m_records || (word(4 * std::uint64_t(low), found) && found != record))
        return std::span<const LineIndexEntry>();
    if (found != record || !word(startsAt + 4 * std::uint64_t(low), first) ||
        !word(startsAt + 4 * std::uint64_t(low) + 4, last) || first > last || last > m_entries ||
        !verified(entriesAt + sizeof(LineIndexEntry) * std::uint64_t(first),
                  sizeof(LineIndexEntry) * std::uint64_t(last - first))) {
        close();
        return std::nullopt;
    }
    const auto* entries = reinterpret_cast<const LineIndexEntry*>(payload() + entriesAt);
    return std::span<const LineIndexEntry>(entries + first, last - first);
}

} // namespace vez
