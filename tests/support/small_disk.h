// A 2 MB tmpfs mounted for a test, where the test may mount one (as root), to see what a
// full disk does; and a way to fill what is left of it.
#pragma once

#include <sys/mount.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace vez::test {

class SmallDisk {
public:
    explicit SmallDisk(const std::filesystem::path& where) : m_path(where)
    {
        std::filesystem::create_directories(m_path);
        m_mounted = ::mount("tmpfs", m_path.c_str(), "tmpfs", 0, "size=2m") == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount(m_path.c_str());
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

    // Writes a file until the disk is full.
    void fill() const
    {
        std::ofstream out(file("filler"), std::ios::binary);
        const std::string block(4096, 'x');
        while (out.write(block.data(), std::streamsize(block.size())) && out.flush()) {
        }
    }

private:
    std::filesystem::path m_path;
    bool m_mounted = false;
};

} // namespace vez::test
