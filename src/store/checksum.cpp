#include "store/checksum.h"

#include <cassert>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "store/database.h"

namespace vez {

namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;

std::uint64_t rotl(std::uint64_t v, int bits) { return (v << bits) | (v >> (64 - bits)); }

std::uint64_t load(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint64_t lane(std::uint64_t acc, std::uint64_t word)
{
    return rotl(acc + word * kPrime2, 31) * kPrime1;
}

std::uint64_t avalanche(std::uint64_t h)
{
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 33);
}

} // namespace

// Four independent lanes over 32 bytes a step keep the multiplier busy: the hash runs at
// memory speed, which matters because a close of a changed database reads all of it.
std::uint64_t hashBytes(const std::uint8_t* p, std::size_t n, std::uint64_t seed)
{
    std::uint64_t a = seed + kPrime1, b = seed ^ kPrime2, c = seed, d = seed - kPrime1;
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        a = lane(a, load(p + i));
        b = lane(b, load(p + i + 8));
        c = lane(c, load(p + i + 16));
        d = lane(d, load(p + i + 24));
    }
    std::uint64_t h = rotl(a, 1) + rotl(b, 7) + rotl(c, 12) + rotl(d, 18) + n;
    for (; i + 8 <= n; i += 8)
        h = lane(h, load(p + i));
    for (; i < n; ++i)
        h = lane(h, p[i]);
    return avalanche(h);
}

namespace {

struct ImageState {
    const void* base;
    bool changed;
    std::uint32_t openedWith; // the checksum word as opened
#ifndef NDEBUG
    std::uint32_t checksumAtOpen = 0; // to catch a write that was not noted as a change
#endif
};

std::vector<ImageState> images;

ImageState* stateOf(const void* base)
{
    for (ImageState& s : images)
        if (s.base == base)
            return &s;
    return nullptr;
}

} // namespace

const void* imageNotedChanged = nullptr;

std::uint32_t imageChecksum(const DatabaseHeader& db)
{
    DatabaseHeader header;
    std::memcpy(&header, &db, sizeof header);
    header.committedBytes = 0;
    header.fileHandle = 0;
    header.reserved = 0;
    header.currentGameNumber = 0;
    const auto* image = reinterpret_cast<const std::uint8_t*>(&db);
    const std::uint64_t h =
        hashBytes(image + kHeaderBytes, db.usedBytes - kHeaderBytes,
                  hashBytes(reinterpret_cast<const std::uint8_t*>(&header), sizeof header, 0));
    const auto folded = std::uint32_t(h ^ (h >> 32));
    return folded == 0 ? 1 : folded;
}

void noteImageChange(const DatabaseHeader* db)
{
    if (ImageState* s = stateOf(db)) {
        s->changed = true;
        if (db == reinterpret_cast<const DatabaseHeader*>(currentBase))
            imageNotedChanged = db;
    }
}

bool imageChanged(const DatabaseHeader* db)
{
    const ImageState* s = stateOf(db);
    return !s || s->changed;
}

void imageOpened(const DatabaseHeader* db, bool changed)
{
    // A base may be handed out again after its image was unmapped.
    std::erase_if(images, [db](const ImageState& s) { return s.base == db; });
    if (imageNotedChanged == db)
        imageNotedChanged = nullptr;
    ImageState state{db, changed, db->reserved};
#ifndef NDEBUG
    state.checksumAtOpen = changed ? 0 : imageChecksum(*db);
#endif
    images.push_back(state);
}

void imageClosed(const DatabaseHeader* db)
{
    if (imageNotedChanged == db)
        imageNotedChanged = nullptr;
    for (std::size_t i = 0; i < images.size(); ++i)
        if (images[i].base == db) {
#ifndef NDEBUG
            assert((images[i].changed || imageChecksum(*db) == images[i].checksumAtOpen) &&
                   "the image changed without noteImageChange");
#endif
            images.erase(images.begin() + std::ptrdiff_t(i));
            return;
        }
}

std::uint32_t checksumToStore(const DatabaseHeader* db)
{
    const ImageState* s = stateOf(db);
    return !s || s->changed ? imageChecksum(*db) : s->openedWith;
}

std::optional<std::string> checksumProblem()
{
    const auto* db = reinterpret_cast<const DatabaseHeader*>(currentBase);
    const ImageState* s = stateOf(db);
    if (!s || s->changed || s->openedWith == 0)
        return std::nullopt;
    const std::uint32_t found = imageChecksum(*db);
    if (found == s->openedWith)
        return std::nullopt;
    char text[160];
    std::snprintf(text, sizeof text,
                  "header: expected checksum %08X as stored at the last close, found %08X: the "
                  "file changed outside VEZ or is damaged",
                  unsigned(s->openedWith), unsigned(found));
    return std::string(text);
}

} // namespace vez
