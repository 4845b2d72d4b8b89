// Problem-pixel lists: exact bytes for frames with planted hot pixels and columns, the readers on
// good and damaged lines, the pixel map built from a list.
#include "processing/problem_pixels.h"

#include "test_files.h"

#include <gtest/gtest.h>

namespace
{

using korvi::test::ReadFileBytes;
using korvi::test::TempDir;
using korvi::test::WriteFileBytes;

// A 4 x 3 frame of 100 with a hot column 2 (rows 0 and 1 at 900, row 2 exactly at the level 500)
// and a hot pixel at (0, 2).
ImageData PlantedFrame()
{
    ImageData frame;
    EXPECT_TRUE(frame.Allocate(4, 3, 1));
    frame.Rows.Fill(100);
    frame.Rows[0][2] = frame.Rows[1][2] = 900;
    frame.Rows[2][2] = 500;
    frame.Rows[2][0] = 501;
    return frame;
}

TEST(ProblemPixels, RecordsOfDarkAndFlatFramesInColumnOrderWithClosingRecords)
{
    const ImageData frame = PlantedFrame();
    std::string text;
    EXPECT_EQ(AppendHotPixelRecords(frame, 500, text), 3);
    EXPECT_EQ(text, "0, 2\n2, 0\n2, 1\n3, 2\n");
    // Flat: above 500 or below 100 (the 100s and the 500 itself are not listed).
    ImageData flat = PlantedFrame();
    flat.Rows[1][3] = 99;
    EXPECT_EQ(AppendFlatProblemRecords(flat, 500, 100, text), 4);
    EXPECT_EQ(text, "0, 2\n2, 0\n2, 1\n3, 2\n"
                    "0, 2\n2, 0\n2, 1\n3, 1\n3, 2\n");
    ImageData empty;
    EXPECT_EQ(AppendHotPixelRecords(empty, 0, text), 0);
}

TEST(ProblemPixels, ListRoundTripAndPixelMap)
{
    TempDir dir;
    const std::string path = dir.file("hot.csv");
    std::string text;
    AppendHotPixelRecords(PlantedFrame(), 500, text);
    ASSERT_TRUE(WriteListFile(path, text));
    EXPECT_EQ(ReadFileBytes(path), text);
    std::vector<PixelPosition> pixels;
    std::string problem;
    ASSERT_TRUE(ReadHotPixelList(path, pixels, problem)) << problem;
    ASSERT_EQ(pixels.size(), 4u);
    EXPECT_EQ(pixels[1].Column, 2);
    EXPECT_EQ(pixels[1].Row, 0);
    ImageData map;
    ASSERT_TRUE(BuildPixelMapImage(pixels, map, problem));
    ASSERT_EQ(map.Width, 4);
    ASSERT_EQ(map.Height, 3);
    const std::vector<int> expected{0, 0, 65535, 0, 0, 0, 65535, 0, 65535, 0, 0, 65535};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(map.FramePixels(0)[i], expected[static_cast<std::size_t>(i)]) << i;
    // A failed write leaves the previous list whole.
    EXPECT_FALSE(WriteListFile(dir.file("missing/hot.csv"), text));
    EXPECT_FALSE(BuildPixelMapImage({{65535, 65535}}, map, problem)); // 4G pixels: refused
    EXPECT_EQ(map.Width, 4);
}

TEST(ProblemPixels, ReadersCheckEveryField)
{
    TempDir dir;
    const std::string path = dir.file("list.csv");
    struct Case {
        const char *text;
        bool hotOk, columnsOk;
        const char *problem; // start of the message of the hot-pixel reader
    };
    const Case cases[] = {
        {" 12 ,  7\r\n\n3,4\n", true, false, ""},
        {"5, 10, 20\n6,1,2\n", false, true, "'5, 10' is not"},
        {"12, x\n", false, false, "'x' is not a valid integer value"},
        {"-1, 3\n", false, false, "Pixel coordinate -1 out of range on line 1"},
        {"1, 2\n70000, 3\n", false, false, "Pixel coordinate 70000 out of range on line 2"},
        {"17\n", false, false, "'17' is not"},
    };
    for (const Case &c : cases) {
        WriteFileBytes(path, c.text);
        std::vector<PixelPosition> pixels;
        std::vector<BadColumnEntry> columns;
        std::string problem, columnProblem;
        EXPECT_EQ(ReadHotPixelList(path, pixels, problem), c.hotOk) << c.text;
        EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
        EXPECT_EQ(ReadBadColumnList(path, columns, columnProblem), c.columnsOk) << c.text;
        if (c.hotOk) {
            ASSERT_EQ(pixels.size(), 2u);
            EXPECT_EQ(pixels[0].Column, 12);
            EXPECT_EQ(pixels[0].Row, 7);
        }
        if (c.columnsOk) {
            ASSERT_EQ(columns.size(), 2u);
            EXPECT_EQ(BadColumnRecord(columns[0]) + BadColumnRecord(columns[1]), "5, 10, 20\n6, 1, 2\n");
        }
    }
    std::string many;
    for (int i = 0; i < 130; ++i)
        many += BadColumnRecord({i, 0, 1});
    WriteFileBytes(path, many);
    std::vector<BadColumnEntry> columns;
    std::string problem;
    ASSERT_TRUE(ReadBadColumnList(path, columns, problem));
    EXPECT_EQ(columns.size(), 130u); // the caller sees that the list is too long for its table
    EXPECT_FALSE(ReadBadColumnList(dir.file("none.csv"), columns, problem));
}

} // namespace
