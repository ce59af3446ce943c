// What the database fuzz targets share: no message reaches a user, and the input becomes a
// file to open without touching the disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <string>

#include "store/messages.h"

namespace vez::fuzz {

inline void silenceStoreMessages()
{
    struct Silent final : UserMessages {
        void showMessage(const std::string&) override {}
    };
    static Silent silent;
    setStoreMessages(&silent);
}

// Calls use(path, fd) on a file in memory that holds the bytes.
template <class Use>
void withMemoryFile(const void* bytes, std::size_t size, Use use)
{
    const int fd = ::memfd_create("vez-fuzz", MFD_CLOEXEC);
    if (fd < 0)
        return;
    if (::write(fd, bytes, size) == ssize_t(size))
        use("/proc/self/fd/" + std::to_string(fd), fd);
    ::close(fd);
}

} // namespace vez::fuzz
