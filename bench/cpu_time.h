// CPU time of the calling thread, so that a busy machine distorts a measurement little.
#pragma once

#include <ctime>

namespace vez::bench {

inline double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

} // namespace vez::bench
