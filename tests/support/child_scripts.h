// Small shell scripts run as real child processes, and what the engine tests observe of
// them.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "store/messages.h"

namespace vez::test {

// A fresh folder for files and executable scripts, removed with everything in it at the end.
class ScriptFolder {
public:
    ScriptFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vez-scripts-XXXXXX");
        m_path = ::mkdtemp(pattern.data());
    }
    ~ScriptFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

    // Writes "#!/bin/sh" and the body as an executable script; returns its full path.
    std::string script(const std::string& name, const std::string& body) const
    {
        const std::filesystem::path file = m_path / name;
        std::ofstream(file) << "#!/bin/sh\n" << body << '\n';
        ::chmod(file.c_str(), 0755);
        return file.string();
    }

private:
    std::filesystem::path m_path;
};

class CapturedMessages : public UserMessages {
public:
    void showMessage(const std::string& text) override
    {
        std::lock_guard lock(m_lock);
        m_texts.push_back(text);
    }
    std::vector<std::string> texts() const
    {
        std::lock_guard lock(m_lock);
        return m_texts;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_texts;
};

// Polls a condition until it holds or the time is up; the result of the last poll.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A process that no longer runs: gone, or ended and not yet collected by its parent.
inline bool processEnded(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return true;
    const std::size_t paren = text.rfind(')');
    return paren == std::string::npos || paren + 2 >= text.size() || text[paren + 2] == 'Z' ||
           text[paren + 2] == 'X';
}

} // namespace vez::test
