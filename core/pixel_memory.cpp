#include "pixel_memory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/mman.h>

namespace
{

std::size_t RoundUpToHugePage(std::size_t bytes)
{
    return (bytes + HugePageBytes - 1) & ~(HugePageBytes - 1);
}

// A fill is shared out only in parts of at least this size (a thread costs about as much to start
// as clearing a few pages), among at most this many threads.
constexpr std::size_t FillPartBytes = 8 * HugePageBytes;
constexpr unsigned MaxFillThreads = 4;

} // namespace

void *AllocatePixelBlock(std::size_t bytes)
{
    if (!IsLargePixelBlock(bytes))
        return ::operator new(bytes == 0 ? 1 : bytes);
    if (bytes > static_cast<std::size_t>(-1) - 2 * HugePageBytes)
        throw std::bad_alloc();
    // Map one huge page more than needed, then give back the parts before the first 2 MiB boundary
    // and after the block, so that the block is made of whole, aligned huge pages.
    const std::size_t length = RoundUpToHugePage(bytes);
    const std::size_t mapped = length + HugePageBytes;
    void *area = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(area);
    const std::uintptr_t aligned = (start + HugePageBytes - 1) & ~(std::uintptr_t{HugePageBytes} - 1);
    const std::size_t head = aligned - start;
    const std::size_t tail = mapped - head - length;
    if (head != 0)
        ::munmap(area, head);
    if (tail != 0)
        ::munmap(reinterpret_cast<void *>(aligned + length), tail);
    auto *block = reinterpret_cast<void *>(aligned);
    ::madvise(block, length, MADV_HUGEPAGE); // refused advice only costs speed
    return block;
}

void FreePixelBlock(void *block, std::size_t bytes) noexcept
{
    if (!block)
        return;
    if (!IsLargePixelBlock(bytes)) {
        ::operator delete(block);
        return;
    }
    ::munmap(block, RoundUpToHugePage(bytes));
}

void FillPixelBlock(void *block, unsigned char value, std::size_t bytes)
{
    auto *start = static_cast<unsigned char *>(block);
    const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t parts = std::min<std::size_t>({bytes / FillPartBytes, hardware, MaxFillThreads});
    if (parts <= 1) {
        std::memset(start, value, bytes);
        return;
    }
    // Parts of whole huge pages, so that no page is cleared by two threads; the caller's thread
    // fills the last one.
    const std::size_t part = RoundUpToHugePage(bytes / parts);
    std::vector<std::thread> helpers;
    helpers.reserve(parts - 1);
    std::size_t offset = 0;
    for (std::size_t i = 0; i + 1 < parts && offset + part < bytes; ++i, offset += part) {
        try {
            helpers.emplace_back([=] { std::memset(start + offset, value, part); });
        } catch (const std::system_error &) {
            std::memset(start + offset, value, part); // no thread to be had: fill it here
        }
    }
    std::memset(start + offset, value, bytes - offset);
    for (std::thread &helper : helpers)
        helper.join();
}
