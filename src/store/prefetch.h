// A prefetch hint that stays where it is written. GCC takes a function whose only effects
// are __builtin_prefetch calls for a function without effects, and drops every call to it
// that it has not inlined: a helper that prefetches would then do nothing. An asm statement
// marked volatile is an effect it keeps, so the helpers that call this one stay.
#pragma once

namespace vez {

// Starts fetching the cache line of p; p need not point at readable memory.
inline void prefetch(const void* p)
{
    __builtin_prefetch(p);
    asm volatile("" : : "r"(p));
}

} // namespace vez
