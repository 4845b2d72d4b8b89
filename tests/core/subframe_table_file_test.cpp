// Sub-frame tables written byte for byte from a small image whose pixel (x, y) is 10 y + x.
#include "subframe_table_file.h"

#include "image_data.h"
#include "test_files.h"

#include <gtest/gtest.h>

using korvi::test::ReadFileBytes;
using korvi::test::TempDir;

namespace
{

ImageData TestImage()
{
    ImageData image;
    EXPECT_TRUE(image.Allocate(4, 3, 1));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(10 * y + x);
    image.FrameRow(0, 2)[3] = 65535;
    return image;
}

struct TableCase {
    const char *name;
    SubframeRectangle rectangle;
    bool invert;
    const char *text;
};

const TableCase TableCases[] = {
    {"ThreeByTwoRows", {1, 3, 1, 2}, false, "Y\\X, 1, 2, 3\n1, 11, 12, 13\n2, 21, 22, 65535\n"},
    {"ThreeByTwoColumns", {1, 3, 1, 2}, true, "X\\Y, 1, 2\n1, 11, 21\n2, 12, 22\n3, 13, 65535\n"},
    {"MiddleRowInverted", {0, 3, 1, 1}, true, "X\\Y, 1\n1, 10\n2, 11\n3, 12\n4, 13\n"},
    {"SinglePixel", {0, 0, 0, 0}, false, "Y\\X, 1\n1, 0\n"},
    // Corners the wrong way round name the same rectangle; parts outside the image are cut off.
    {"ReversedCorners", {3, 1, 2, 1}, false, "Y\\X, 1, 2, 3\n1, 11, 12, 13\n2, 21, 22, 65535\n"},
    {"CutToTheImage", {2, 9, -5, 0}, false, "Y\\X, 1, 2\n1, 2, 3\n"},
    {"WhollyOutside", {4, 6, 0, 1}, false, ""},
};

class SubframeTableTest : public ::testing::TestWithParam<TableCase>
{
};

} // namespace

TEST_P(SubframeTableTest, WritesTheTable)
{
    const TableCase &c = GetParam();
    const ImageData image = TestImage();
    TempDir dir;
    const std::string path = dir.file("table.csv");
    const bool expectWritten = c.text[0] != '\0';
    EXPECT_EQ(WriteSubframeTable(path, image, c.rectangle, c.invert), expectWritten);
    if (expectWritten)
        EXPECT_EQ(ReadFileBytes(path), c.text);
    else
        EXPECT_FALSE(std::filesystem::exists(path));
}

INSTANTIATE_TEST_SUITE_P(Cases, SubframeTableTest, ::testing::ValuesIn(TableCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(SubframeTableFileTest, EmptyImageWritesNothing)
{
    ImageData empty;
    TempDir dir;
    EXPECT_FALSE(WriteSubframeTable(dir.file("t.csv"), empty, {0, 0, 0, 0}, false));
    EXPECT_FALSE(std::filesystem::exists(dir.file("t.csv")));
}
