#pragma once
// The one allocation path for large pixel blocks: matrix storage and the RGBA display buffer.
//
// A fresh block is paid for at its first touch, page by page. On the machines this program runs on
// a 4 KiB page fault is expensive enough that touching a new 4096 x 4096 frame costs more than
// reading it from disk; with 2 MiB pages the same block costs a few milliseconds. So blocks of
// HugePageBytes or more are mapped on a 2 MiB boundary, rounded up to whole 2 MiB pages, and advised
// for transparent huge pages (madvise(MADV_HUGEPAGE), which the kernel honours in its "madvise"
// mode). Smaller blocks come from the ordinary heap. When the kernel refuses the advice the block
// simply stays in small pages.
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

constexpr std::size_t HugePageBytes = std::size_t{2} << 20;

// A block of at least `bytes` bytes (uninitialised), aligned for any element type and, from
// HugePageBytes on, on a 2 MiB boundary. Throws std::bad_alloc when the memory cannot be had. A
// zero size gives a valid block that holds nothing.
void *AllocatePixelBlock(std::size_t bytes);
// Releases a block of AllocatePixelBlock; `bytes` is the size it was allocated with.
void FreePixelBlock(void *block, std::size_t bytes) noexcept;
// Sets `bytes` bytes from block on to value. This is where a fresh block's pages are first touched,
// and most of the time goes to the kernel clearing each new page; on a large block that work is
// shared among a few threads, each filling whole 2 MiB pages of its own.
void FillPixelBlock(void *block, unsigned char value, std::size_t bytes);
// True when a block of this many bytes takes the huge-page path.
constexpr bool IsLargePixelBlock(std::size_t bytes)
{
    return bytes >= HugePageBytes;
}

// A standard allocator over the pixel-block path, for buffers kept as std::vector.
template <typename T> struct PixelAllocator {
    using value_type = T;

    PixelAllocator() noexcept = default;
    template <typename U> PixelAllocator(const PixelAllocator<U> &) noexcept {}

    T *allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_alloc();
        return static_cast<T *>(AllocatePixelBlock(n * sizeof(T)));
    }
    void deallocate(T *p, std::size_t n) noexcept { FreePixelBlock(p, n * sizeof(T)); }
    // Elements made without a value stay uninitialised (as in a matrix): resize() does not touch
    // the pages, so the owner can fill them with FillPixelBlock.
    template <typename U> void construct(U *p) noexcept { ::new (static_cast<void *>(p)) U; }
    template <typename U, typename... Args> void construct(U *p, Args &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U> bool operator==(const PixelAllocator<U> &) const noexcept { return true; }
};

// A vector whose storage takes the pixel-block path (the RGBA display buffer).
template <typename T> using PixelVector = std::vector<T, PixelAllocator<T>>;
