// The engine settings' profile on top of the user's settings file.
#pragma once

#include "app/profile_store.h"
#include "engine/profile.h"

namespace vez {

// Reads and writes the engine's keys in the same section as every other user setting.
class EngineProfile final : public KeyValueProfile {
public:
    explicit EngineProfile(ProfileStore& store) : m_store(store) {}

    int getProfileInt(const std::string& key, int defaultValue) override
    {
        return m_store.getProfileInt(key, defaultValue);
    }
    std::string getProfileString(const std::string& key, const std::string& defaultValue) override
    {
        return m_store.getProfileString(key, defaultValue);
    }
    void writeProfileInt(const std::string& key, int value) override
    {
        m_store.writeProfileInt(key, value);
    }
    void writeProfileString(const std::string& key, const std::string& value) override
    {
        m_store.writeProfileString(key, value);
    }

private:
    ProfileStore& m_store;
};

} // namespace vez
