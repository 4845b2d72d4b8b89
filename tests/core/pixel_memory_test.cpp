#include "pixel_memory.h"

#include "image_data.h"
#include "matrix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

namespace
{

// The kernel's transparent huge page mode ("always", "madvise" or "never"), or "" when unknown.
std::string HugePageMode()
{
    std::ifstream file("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string text;
    std::getline(file, text);
    const auto open = text.find('['), close = text.find(']');
    return open == std::string::npos || close == std::string::npos ? ""
                                                                   : text.substr(open + 1, close - open - 1);
}

// The THPeligible flag of the mapping that holds address, from /proc/self/smaps (-1 when absent).
int HugePageEligible(const void *address)
{
    const auto target = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        std::uintptr_t start = 0, end = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> start >> dash >> end && dash == '-') {
            inside = start <= target && target < end;
            continue;
        }
        if (inside && line.starts_with("THPeligible:"))
            return std::stoi(line.substr(12));
    }
    return -1;
}

TEST(PixelMemory, LargeBlocksAreHugePageAlignedAndAdvisedSmallOnesComeFromTheHeap)
{
    UShortMatrix large(1100, 1000); // 2.2 MB: the huge-page path
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(large.Data()) % HugePageBytes, 0u);
    for (int r = 0; r < large.Rows(); ++r) // still one contiguous run of rows
        ASSERT_EQ(large[r], large.Data() + static_cast<std::size_t>(r) * 1000);
    large.Fill(7);
    EXPECT_EQ(large[1099][999], 7);

    UShortMatrix small(10, 10);
    EXPECT_FALSE(IsLargePixelBlock(small.Size() * 2));
    EXPECT_TRUE(IsLargePixelBlock(large.Size() * 2));

    const std::string mode = HugePageMode();
    if (mode != "madvise" && mode != "always")
        GTEST_SKIP() << "transparent huge pages are off on this machine (" << mode << ")";
    EXPECT_EQ(HugePageEligible(large.Data()), 1);
}

TEST(PixelMemory, FillSetsEveryByteWhetherSharedOutOrNot)
{
    // Filled at once; in two parts, the last one uneven; in as many parts as there are threads.
    for (std::size_t bytes : {std::size_t{5}, 17 * HugePageBytes + 7, 37 * HugePageBytes + 3}) {
        ByteMatrix block(1, static_cast<int>(bytes));
        FillPixelBlock(block.Data(), 0x5a, bytes);
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            wrong += block.Data()[i] != 0x5a;
        EXPECT_EQ(wrong, 0u) << bytes << " bytes";
    }
}

TEST(PixelMemory, DisplayBufferOfALargeImageIsAllAlpha255)
{
    ImageData image;
    ASSERT_TRUE(image.Allocate(4096, 2049, 1)); // 33.6 MB of display buffer, filled by several threads
    ASSERT_EQ(image.Rgba.size(), 4096u * 2049 * 4);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image.Rgba.data()) % HugePageBytes, 0u);
    std::size_t wrong = 0;
    for (std::uint8_t byte : image.Rgba)
        wrong += byte != 255;
    EXPECT_EQ(wrong, 0u);
}

} // namespace
