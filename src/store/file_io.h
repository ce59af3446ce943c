// Reading and writing a whole range of a file at an offset, however many calls it takes.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

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

} // namespace vez
