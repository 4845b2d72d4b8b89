// Convolution filter files: exact bytes, round trip, and refusal of files that are not filter
// files or are damaged (nothing read into the caller's record).
#include "processing/filter_file.h"

#include "recording_ui_hooks.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

using namespace korvi::test;

namespace
{

std::string Bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
void Write(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(FilterFile, BytesAndRoundTrip)
{
    TempDir dir;
    ConvolutionFilterFile file = ShippedFilter(3);
    file.KernelSize = 1;
    file.Kernels[4][0][3][1][1] = -2.5f;
    const std::string path = dir.file("Sobel.qzk");
    ASSERT_TRUE(WriteConvolutionFilterFile(path, file));
    const std::string bytes = Bytes(path);
    const std::string text = "Quentarbolisk filter format\r\nSobel filter\r\n";
    const std::string head = text + std::string("\x01\x00\x03\x00", 4);
    ASSERT_EQ(bytes.size(), head.size() + 1600);
    EXPECT_EQ(bytes.substr(0, head.size()), head);
    // Weight [column 4][row 0][power 3][size 1][matrix 1] is the last of the 80 of column 4, row 0.
    const std::size_t at = head.size() + 4 * ((4 * 5 + 0) * 16 + 3 * 4 + 1 * 2 + 1);
    EXPECT_EQ(bytes.substr(at, 4), std::string("\x00\x00\x20\xc0", 4));

    ConvolutionFilterFile read;
    ASSERT_EQ(ReadConvolutionFilterFile(path, read), FilterFileResult::Ok);
    EXPECT_EQ(read.Name, "Sobel filter");
    EXPECT_EQ(read.KernelSize, 1);
    EXPECT_EQ(read.Entry, 3);
    EXPECT_EQ(std::memcmp(read.Kernels, file.Kernels, sizeof file.Kernels), 0);
}

TEST(FilterFile, ForeignAndDamagedFilesChangeNothing)
{
    TempDir dir;
    const std::string path = dir.file("f.qzk");
    ASSERT_TRUE(WriteConvolutionFilterFile(path, ShippedFilter(0)));
    const std::string good = Bytes(path);
    const std::size_t head = good.size() - 1604;
    struct Case {
        const char *what;
        std::string bytes;
        FilterFileResult result;
    } cases[] = {
        {"other header", "quentarbolisk filter format\r\n" + good.substr(29),
         FilterFileResult::NotAFilterFile},
        {"empty", "", FilterFileResult::NotAFilterFile},
        {"cut in the kernels", good.substr(0, good.size() - 1), FilterFileResult::Damaged},
        {"cut after the name", good.substr(0, head), FilterFileResult::Damaged},
        {"size 2", good.substr(0, head) + std::string("\x02\x00\x00\x00", 4) + good.substr(head + 4),
         FilterFileResult::Damaged},
        {"entry 6", good.substr(0, head) + std::string("\x00\x00\x06\x00", 4) + good.substr(head + 4),
         FilterFileResult::Damaged},
        {"entry -1", good.substr(0, head) + std::string("\x00\x00\xff\xff", 4) + good.substr(head + 4),
         FilterFileResult::Damaged},
    };
    for (const Case &c : cases) {
        Write(path, c.bytes);
        ConvolutionFilterFile read = ShippedFilter(5);
        read.Name = "kept";
        EXPECT_EQ(ReadConvolutionFilterFile(path, read), c.result) << c.what;
        EXPECT_EQ(read.Name, "kept") << c.what;
        EXPECT_EQ(read.Kernels[1][1][0][0][0], 1.0f) << c.what;
    }
    ConvolutionFilterFile read;
    EXPECT_EQ(ReadConvolutionFilterFile(dir.file("missing.qzk"), read), FilterFileResult::CannotOpen);

    RecordingUiHooks hooks;
    EXPECT_FALSE(WriteConvolutionFilterFile(dir.file("no/such/folder/f.qzk"), ShippedFilter(0)));
    EXPECT_EQ(hooks.Messages().size(), 1u);
}

TEST(FilterFile, ShippedFilesAreTheProgramsOwn)
{
    for (int entry = 0; entry < FilterListEntries; ++entry) {
        const std::string path =
            std::string(KORVI_SOURCE_DIR) + "/resources/" + ShippedFilterFileNames[entry];
        ConvolutionFilterFile shipped;
        ASSERT_EQ(ReadConvolutionFilterFile(path, shipped), FilterFileResult::Ok) << path;
        const ConvolutionFilterFile made = ShippedFilter(entry);
        EXPECT_EQ(shipped.Entry, entry);
        EXPECT_EQ(shipped.Name, FilterListTexts[entry]);
        EXPECT_EQ(std::memcmp(shipped.Kernels, made.Kernels, sizeof made.Kernels), 0)
            << path << " is stale: run korvi_make_data resources";
    }
}

} // namespace
