// The list of recently used database files: four entries, newest first, kept in the
// settings ("Recent File 1" to "Recent File 4") and written through at every change.
#pragma once

#include <string>
#include <vector>

namespace vez {

class ProfileStore;

class RecentFiles {
public:
    static constexpr int kSize = 4;

    explicit RecentFiles(ProfileStore& profile);

    const std::vector<std::string>& files() const { return m_files; }
    // The path becomes the first entry (once only); the oldest falls off a full list.
    void add(const std::string& path);
    // A file that could not be opened leaves the list.
    void remove(const std::string& path);
    // The menu text of an entry: "&1 " and the file name without its folder.
    std::string menuText(int index) const;

private:
    void write();

    ProfileStore& m_profile;
    std::vector<std::string> m_files;
};

} // namespace vez
