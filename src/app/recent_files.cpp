#include "app/recent_files.h"

#include <algorithm>

#include "app/profile_store.h"

namespace vez {

namespace {

std::string keyOf(int index) { return "Recent File " + std::to_string(index + 1); }

} // namespace

RecentFiles::RecentFiles(ProfileStore& profile) : m_profile(profile)
{
    for (int i = 0; i < kSize; ++i) {
        std::string path = m_profile.getProfileString(keyOf(i), "");
        if (!path.empty() && std::find(m_files.begin(), m_files.end(), path) == m_files.end())
            m_files.push_back(std::move(path));
    }
}

void RecentFiles::add(const std::string& path)
{
    // Already the newest: rewriting the profile would only cost its disk syncs.
    if (path.empty() || (!m_files.empty() && m_files.front() == path))
        return;
    std::erase(m_files, path);
    m_files.insert(m_files.begin(), path);
    if (m_files.size() > static_cast<std::size_t>(kSize))
        m_files.resize(kSize);
    write();
}

void RecentFiles::remove(const std::string& path)
{
    if (std::erase(m_files, path) > 0)
        write();
}

std::string RecentFiles::menuText(int index) const
{
    if (index < 0 || index >= static_cast<int>(m_files.size()))
        return {};
    const std::string& path = m_files[static_cast<std::size_t>(index)];
    const std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // A '&' of the name is shown, not taken as a mnemonic.
    std::string escaped;
    for (const char c : name)
        escaped += c == '&' ? std::string("&&") : std::string(1, c);
    return "&" + std::to_string(index + 1) + " " + escaped;
}

void RecentFiles::write()
{
    for (int i = 0; i < kSize; ++i)
        m_profile.writeProfileString(keyOf(i), i < static_cast<int>(m_files.size())
                                                   ? m_files[static_cast<std::size_t>(i)]
                                                   : "");
}

} // namespace vez
