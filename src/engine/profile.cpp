#include "engine/profile.h"

namespace vez {

int MemoryProfile::getProfileInt(const std::string& key, int defaultValue)
{
    const auto found = m_ints.find(key);
    return found == m_ints.end() ? defaultValue : found->second;
}

std::string MemoryProfile::getProfileString(const std::string& key, const std::string& defaultValue)
{
    const auto found = m_strings.find(key);
    return found == m_strings.end() ? defaultValue : found->second;
}

void MemoryProfile::writeProfileInt(const std::string& key, int value) { m_ints[key] = value; }

void MemoryProfile::writeProfileString(const std::string& key, const std::string& value)
{
    m_strings[key] = value;
}

} // namespace vez
