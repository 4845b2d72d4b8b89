#include "pixel_memory.h"

#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

namespace
{

std::size_t RoundUpToHugePage(std::size_t bytes)
{
    return (bytes + HugePageBytes - 1) & ~(HugePageBytes - 1);
}

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
