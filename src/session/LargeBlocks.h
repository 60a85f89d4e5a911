#pragma once
// Memory for the tables a full lobby fills at once (the user table, the trees' nodes). Fresh
// memory costs a page fault at the first touch of each page, and a full lobby's log-in
// touches thousands of pages: a block of 1 MiB or more is therefore mapped on its own, in
// whole 2 MiB pieces aligned to 2 MiB and marked for the system's large pages, so that it
// costs a fault per 2 MiB. Smaller blocks, and systems without large pages, take ordinary
// memory.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace stonecall::largeBlocks {

inline constexpr std::size_t LargePage = std::size_t(2) << 20;

inline constexpr bool mappedAlone(std::size_t bytes)
{
    return bytes >= LargePage / 2;
}

inline void* allocate(std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (mappedAlone(bytes)) {
        const std::size_t size = (bytes + LargePage - 1) / LargePage * LargePage;
        // Mapped a large page longer than needed, then trimmed at both ends to the alignment.
        void* raw = mmap(nullptr, size + LargePage, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED)
            throw std::bad_alloc();
        const auto from = reinterpret_cast<std::uintptr_t>(raw);
        const std::uintptr_t start = (from + LargePage - 1) / LargePage * LargePage;
        if (start > from)
            munmap(raw, start - from);
        if (from + LargePage > start)
            munmap(reinterpret_cast<void*>(start + size), from + LargePage - start);
        madvise(reinterpret_cast<void*>(start), size, MADV_HUGEPAGE);
        return reinterpret_cast<void*>(start);
    }
#endif
    return ::operator new(bytes);
}

inline void release(void* block, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (mappedAlone(bytes)) {
        munmap(block, (bytes + LargePage - 1) / LargePage * LargePage);
        return;
    }
#endif
    // Unsized: not every compiler declares the sized form by default.
    ::operator delete(block);
}

// As allocate, filled with zeros: a block mapped on its own is so already and is left
// untouched, so that only the pages in use are ever filled.
inline void* allocateZeroed(std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (mappedAlone(bytes))
        return allocate(bytes);
#endif
    return std::memset(allocate(bytes), 0, bytes);
}

// For a std::vector that may grow to a large block.
template <typename T> struct Allocator {
    using value_type = T;
    Allocator() = default;
    template <typename U> Allocator(const Allocator<U>&) {}
    T* allocate(std::size_t count)
    {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(largeBlocks::allocate(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) { release(block, count * sizeof(T)); }
    template <typename U> friend bool operator==(const Allocator&, const Allocator<U>&)
    {
        return true;
    }
};

} // namespace stonecall::largeBlocks
