// The user's settings: named integers and strings in the section "Version 1.0" of one INI
// file per user, read with a default at the point of use and written through at once.
#pragma once

#include <memory>
#include <string>

class QSettings;

namespace vez {

class ProfileStore {
public:
    // The user's own file (~/.config/VEZ/vez.ini on Linux).
    ProfileStore();
    // A given INI file, for tests and tools.
    explicit ProfileStore(const std::string& iniPath);
    ~ProfileStore();
    ProfileStore(const ProfileStore&) = delete;
    ProfileStore& operator=(const ProfileStore&) = delete;

    int getProfileInt(const std::string& key, int defaultValue) const;
    std::string getProfileString(const std::string& key, const std::string& defaultValue) const;
    void writeProfileInt(const std::string& key, int value);
    void writeProfileString(const std::string& key, const std::string& value);

    // The file that holds the settings.
    std::string fileName() const;

    static constexpr const char* kSection = "Version 1.0";

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace vez
