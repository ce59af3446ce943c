// Work that only helps (reading side by side, memory asked for ahead) started on a thread of
// its own beside the caller's. When no thread is to be had, the work is done at once on the
// caller's: the returned thread is then empty. Either way the work is done once the thread
// has been joined, which its destruction does.
#pragma once

#include <system_error>
#include <thread>

namespace vez {

template <class Work>
std::jthread startBeside(Work work)
{
    try {
        return std::jthread(work);
    } catch (const std::system_error&) {
        work();
        return {};
    }
}

} // namespace vez
