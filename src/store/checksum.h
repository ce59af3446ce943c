// The image's checksum and whether an open image has changed.
//
// A clean close of a changed image stores a checksum of it in the header's reserved word,
// so that a later validation can tell the image from one that changed outside VEZ or was
// damaged on disk. An image that did not change keeps the value it had: a session that
// only reads leaves the file as it was and never blesses damage it met. Zero means "no
// checksum" (files closed before this, or never closed cleanly).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "store/database.h"
#include "store/records.h"

namespace vez {

// A 64-bit hash of n bytes, never of the bytes' alignment.
std::uint64_t hashBytes(const std::uint8_t* p, std::size_t n, std::uint64_t seed);

// The checksum of an image: the header with its runtime fields (mapped size, file handle,
// the checksum itself and the game last shown) taken as zero, and every byte up to
// usedBytes. Never zero.
std::uint32_t imageChecksum(const DatabaseHeader& db);

// Records that the current image has changed since it was opened. Every allocator and
// every store operation that writes in place calls it, millions of times in an import; so
// does code that sets a header field. Noting it again for the image that was noted last
// costs a comparison.
void noteImageChange(const DatabaseHeader* db);
extern const void* imageNotedChanged;
inline void noteImageChange()
{
    if (currentBase != imageNotedChanged)
        noteImageChange(reinterpret_cast<const DatabaseHeader*>(currentBase));
}

// Whether the image has changed since it was opened (always, for a new one).
bool imageChanged(const DatabaseHeader* db);

// Called as an image is created or opened (changed: recovery ran, or it is new), and as
// it is closed.
void imageOpened(const DatabaseHeader* db, bool changed);
void imageClosed(const DatabaseHeader* db);

// What the header's checksum word holds after a clean close, or in a saved copy: a fresh
// checksum when the image changed, else the value it was opened with.
std::uint32_t checksumToStore(const DatabaseHeader* db);

// A problem when the current image was closed cleanly with a checksum, has not changed
// since, and no longer matches it.
std::optional<std::string> checksumProblem();

} // namespace vez
