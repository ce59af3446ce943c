// The game search's index of main lines, kept beside a database file (DB.vez.idx) so that
// the first search after opening need not walk the graph.
//
// The file is a cache, never part of the database: it names the image it was made from
// (a hash of the header as a clean close leaves it, whose checksum word covers every byte
// of the image), and a reader takes it only for an image with that identity that has not
// changed since it was opened. Its contents are checked as they are read, in blocks of
// 64 KB with a hash each, so a damaged file is noticed before any of its bytes is
// believed: a missing, stale, damaged or unwritable file only costs the time of a walk.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "store/records.h"

namespace vez {

// One main line meeting a record: its game number and the number of steps its way back
// makes after the next record (packed as the search decides), and that next record.
struct LineIndexEntry {
    std::uint32_t gameAndSteps;
    DbOffset next; // 0 at the line's start
};
static_assert(sizeof(LineIndexEntry) == 8);

// The identity of an image whose header holds checksum in its checksum word; 0 (no
// identity, nothing is saved or read) when the checksum is 0.
std::uint64_t imageIdentity(const DatabaseHeader& header, std::uint32_t checksum);

// Where the index of the database file at path is kept.
std::string lineIndexPath(const std::string& databasePath);

// Writes the index through a temporary file renamed over path; false when it could not
// (nothing is left behind).
bool saveLineIndex(const std::string& path, std::uint64_t identity, bool tinyEnds,
                   std::span<const DbOffset> records, std::span<const std::uint32_t> starts,
                   std::span<const LineIndexEntry> entries);

// A saved index mapped for reading.
class SavedLineIndex {
public:
    SavedLineIndex() = default;
    ~SavedLineIndex();
    SavedLineIndex(const SavedLineIndex&) = delete;
    SavedLineIndex& operator=(const SavedLineIndex&) = delete;

    // Maps the file at path when it was saved for identity; false (and closed) when it is
    // missing, stale, or its header or size is wrong.
    bool open(const std::string& path, std::uint64_t identity);
    void close();
    bool isOpen() const { return m_map != nullptr; }

    bool tinyEnds() const { return m_tinyEnds; }
    // The entries of a record, in ascending game order (empty for a record no main line
    // meets); nullopt, and the file is closed, when the bytes read prove damaged.
    std::optional<std::span<const LineIndexEntry>> entriesAt(DbOffset record);

private:
    bool verified(std::uint64_t from, std::uint64_t bytes);
    const std::uint8_t* payload() const { return m_map + m_payloadOffset; }

    std::uint8_t* m_map = nullptr;
    std::size_t m_mapBytes = 0;
    std::size_t m_payloadOffset = 0;
    std::uint32_t m_records = 0;
    std::uint32_t m_entries = 0;
    bool m_tinyEnds = false;
    const std::uint64_t* m_blockHashes = nullptr;
    std::vector<bool> m_blockChecked;
};

} // namespace vez
