// Reading and writing a whole range of a file at an offset, however many calls it takes;
// and the files kept beside a database, written whole or not at all.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "store/checksum.h"

namespace vez {

// False on an error, or at the end of the file before all bytes are read.
template <class Call, class Byte>
bool transferAll(Call call, int fd, Byte* p, std::size_t bytes, off_t at)
{
    while (bytes > 0) {
        const ssize_t n = call(fd, p, bytes, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        at += n;
        bytes -= std::size_t(n);
    }
    return true;
}

inline bool writeAll(int fd, const void* data, std::size_t bytes, off_t at)
{
    return transferAll(::pwrite, fd, static_cast<const std::uint8_t*>(data), bytes, at);
}

inline bool readAll(int fd, void* data, std::size_t bytes, off_t at)
{
    return transferAll(::pread, fd, static_cast<std::uint8_t*>(data), bytes, at);
}

// A file kept beside a database, written under a temporary name and renamed over its path
// only once finished, so that no reader meets part of one; the temporary goes if it is not
// finished. Its payload goes out from an offset in blocks of kBlockBytes, each hashed with
// its number, so that a reader can check what it reads.
class BesideFileWriter {
public:
    static constexpr std::size_t kBlockBytes = std::size_t(64) << 10;

    BesideFileWriter(const std::string& path, off_t payloadAt)
        : m_path(path), m_temporary(path + ".saving-" + std::to_string(::getpid())),
          m_at(payloadAt)
    {
        m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        m_block.reserve(kBlockBytes);
    }
    ~BesideFileWriter()
    {
        if (m_fd < 0)
            return;
        ::close(m_fd);
        ::unlink(m_temporary.c_str());
    }
    BesideFileWriter(const BesideFileWriter&) = delete;
    BesideFileWriter& operator=(const BesideFileWriter&) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // Appends items to the payload.
    template <class T>
    bool put(const T* items, std::size_t count)
    {
        const auto* p = reinterpret_cast<const std::uint8_t*>(items);
        for (std::size_t bytes = count * sizeof(T); bytes > 0;) {
            const std::size_t n = std::min(bytes, kBlockBytes - m_block.size());
            m_block.insert(m_block.end(), p, p + n);
            p += n;
            bytes -= n;
            if (m_block.size() == kBlockBytes && !flush())
                return false;
        }
        return true;
    }
    // Writes the payload's last block, short as it may be.
    bool flush()
    {
        if (m_block.empty())
            return true;
        m_hashes.push_back(hashBytes(m_block.data(), m_block.size(), m_hashes.size()));
        const bool ok = writeAll(m_fd, m_block.data(), m_block.size(), m_at);
        m_at += off_t(m_block.size());
        m_block.clear();
        return ok;
    }
    // The hashes of the payload's blocks written so far.
    const std::vector<std::uint64_t>& blockHashes() const { return m_hashes; }

    // Writes bytes outside the payload (a header, say).
    bool write(const void* data, std::size_t bytes, off_t at)
    {
        return writeAll(m_fd, data, bytes, at);
    }

    // Puts the file in place; false, and nothing is left, when it cannot.
    bool finish()
    {
        if (m_fd < 0)
            return false;
        const bool closed = ::close(m_fd) == 0;
        m_fd = -1;
        if (closed && ::rename(m_temporary.c_str(), m_path.c_str()) == 0)
            return true;
        ::unlink(m_temporary.c_str());
        return false;
    }

private:
    std::string m_path;
    std::string m_temporary;
    int m_fd = -1;
    off_t m_at;
    std::vector<std::uint8_t> m_block;
    std::vector<std::uint64_t> m_hashes;
};

} // namespace vez
