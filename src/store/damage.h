// Damage in a database file. A database file is outside input: every offset read from it
// is checked where it is followed and every walk along a chain is bounded. A violation
// throws DamagedDatabase, which the operation's caller (the document, vezdb, the server)
// catches and reports as a failure; the store's own absence-by-null convention stays for
// what a sound file may legitimately lack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vez {

using DbOffset = std::uint32_t;

// what() is the whole message, "Damaged database: ...".
class DamagedDatabase : public std::runtime_error {
public:
    explicit DamagedDatabase(const std::string& detail);
    // The message without its "Damaged database: " lead.
    std::string detail() const;
};

// "Damaged database: offset N: expected WHAT".
[[noreturn]] void throwDamaged(DbOffset offset, const std::string& expected);

// An offset that does not name a whole record of size bytes inside the used image, or
// that is off the record's boundary.
[[noreturn]] void throwBadOffset(DbOffset offset, const char* kind, std::size_t size,
                                 std::size_t alignment);

// Bounds a walk along a chain or a list: no sound list holds more records than the image
// could, so a walk that goes on longer runs in a circle.
class WalkGuard {
public:
    // kind names the records of the list, for the message.
    WalkGuard(const char* kind, std::size_t recordSize);
    void step(DbOffset record)
    {
        if (--m_left == 0) [[unlikely]]
            throwDamaged(record, std::string("the end of a list of ") + m_kind + " records");
    }

private:
    const char* m_kind;
    std::uint64_t m_left;
};

} // namespace vez
