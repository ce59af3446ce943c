// Anonymous memory in the system's large (2 MB) pages where it gives them, for the large
// tables that are read and written at random places: in 4 KB pages nearly every such
// access would also miss the processor's address cache and walk the page tables.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace vez {

inline constexpr std::size_t kLargePageBytes = std::size_t(2) << 20;

// An anonymous mapping of bytes (with mmap's protection and flags) that starts at a large
// page's boundary; nullptr when the system gives none.
inline std::uint8_t* mapAligned(std::size_t bytes, int protection, int flags)
{
    void* p = ::mmap(nullptr, bytes + kLargePageBytes, protection, flags | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    auto* const raw = static_cast<std::uint8_t*>(p);
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(raw);
    auto* const start = raw + (kLargePageBytes - at % kLargePageBytes) % kLargePageBytes;
    if (start > raw)
        ::munmap(raw, std::size_t(start - raw));
    ::munmap(start + bytes, std::size_t(raw + kLargePageBytes - start));
    return start;
}

// Maps bytes of zeroed memory starting at a large page's boundary, advised to be backed by
// large pages; nullptr when the system gives no memory.
inline void* mapLargePages(std::size_t bytes)
{
    std::uint8_t* const start = mapAligned(bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE);
    if (start != nullptr)
        (void)::madvise(start, bytes, MADV_HUGEPAGE); // advice only: old systems ignore it
    return start;
}

inline void unmapLargePages(void* p, std::size_t bytes) { ::munmap(p, bytes); }

// An allocator that gives arrays of 2 MB or more in large pages.
template <class T>
struct LargePages {
    using value_type = T;

    LargePages() = default;
    template <class U>
    LargePages(const LargePages<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kLargePageBytes)
            return std::allocator<T>().allocate(n);
        void* p = mapLargePages(bytes);
        if (p == nullptr)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }

    void deallocate(T* p, std::size_t n) noexcept
    {
        if (n * sizeof(T) < kLargePageBytes)
            std::allocator<T>().deallocate(p, n);
        else
            unmapLargePages(p, n * sizeof(T));
    }

    template <class U>
    bool operator==(const LargePages<U>&) const noexcept
    {
        return true;
    }
};

} // namespace vez
