#include "store/damage.h"

#include <string_view>

#include "store/database.h"

namespace vez {

DamagedDatabase::DamagedDatabase(const std::string& detail)
    : std::runtime_error("Damaged database: " + detail)
{
}

std::string DamagedDatabase::detail() const
{
    return std::string(what()).substr(std::string_view("Damaged database: ").size());
}

void throwDamaged(DbOffset offset, const std::string& expected)
{
    throw DamagedDatabase("offset " + std::to_string(offset) + ": expected " + expected);
}

void throwBadOffset(DbOffset offset, const char* kind, std::size_t size, std::size_t alignment)
{
    const std::uint32_t used = currentHeader().usedBytes;
    if (offset == 0)
        throw DamagedDatabase(std::string("a reference to a ") + kind + " is missing");
    if (offset < kHeaderBytes)
        throwDamaged(offset, std::string("a ") + kind + ", not a place in the header");
    if (offset % alignment != 0)
        throwDamaged(offset, std::string("a ") + kind + " on a " + std::to_string(alignment) +
                                 "-byte boundary");
    throwDamaged(offset, std::string("a ") + kind + " of " + std::to_string(size) +
                             " bytes inside the " + std::to_string(used) + " bytes in use");
}

WalkGuard::WalkGuard(const char* kind, std::size_t recordSize)
    : m_kind(kind), m_left(currentHeader().usedBytes / recordSize + 2)
{
}

} // namespace vez
