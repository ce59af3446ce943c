// Named integer and string settings of the user, as the engine parts read and write them.
#pragma once

#include <map>
#include <string>

namespace vez {

// Each value is read with a default at the point of use and written through at once. The
// desktop program backs this with its settings file; tests and tools use MemoryProfile.
class KeyValueProfile {
public:
    virtual ~KeyValueProfile() = default;
    virtual int getProfileInt(const std::string& key, int defaultValue) = 0;
    virtual std::string getProfileString(const std::string& key,
                                         const std::string& defaultValue) = 0;
    virtual void writeProfileInt(const std::string& key, int value) = 0;
    virtual void writeProfileString(const std::string& key, const std::string& value) = 0;
};

// Settings kept in memory only.
class MemoryProfile : public KeyValueProfile {
public:
    int getProfileInt(const std::string& key, int defaultValue) override;
    std::string getProfileString(const std::string& key, const std::string& defaultValue) override;
    void writeProfileInt(const std::string& key, int value) override;
    void writeProfileString(const std::string& key, const std::string& value) override;

private:
    std::map<std::string, int> m_ints;
    std::map<std::string, std::string> m_strings;
};

} // namespace vez
