#include "levels.h"

#include "image_data.h"
#include "image_test_images.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{

using korvi::test::FillImage;

struct Stats {
    float mean = -1.0f, median = -1.0f, deviation = -1.0f;
    int minimum = -7, maximum = -7, mode = -7;
    std::vector<std::uint32_t> histogram = std::vector<std::uint32_t>(65536, 99);
};

Stats Measure(const ImageData &image, int x0, int y0, int x1, int y1, int ceiling = 65535)
{
    Stats s;
    ComputeRegionStatistics(image.Rows, s.histogram.data(), x0, y0, x1, y1, s.mean, s.median, s.deviation,
                            s.minimum, s.maximum, s.mode, ceiling);
    return s;
}

// A 4 x 3 image given row by row (row 0 first).
void FromRows(ImageData &image, const std::vector<std::vector<std::uint16_t>> &rows)
{
    FillImage(image, static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 1,
              [&](int x, int y, int) { return rows[y][x]; });
}

TEST(RegionStatistics, SmallImageByHand)
{
    ImageData image;
    FromRows(image, {{10, 20, 30, 99}, {20, 40, 20, 99}, {50, 60, 70, 99}});
    // Columns 0..2, rows 0..1: 10 20 30 20 40 20 -> sum 140, count 6, mean 23.333.
    const Stats s = Measure(image, 0, 0, 3, 2);
    EXPECT_EQ(s.minimum, 10);
    EXPECT_EQ(s.maximum, 40);
    EXPECT_NEAR(s.mean, 140.0 / 6.0, 1e-4);
    EXPECT_EQ(s.mode, 20);
    // Sorted 10 20 20 20 30 40: half of 6 is 3, reached at 20.
    EXPECT_EQ(s.median, 20.0f);
    // Squares about 23.333: 177.78 + 3*11.11 + 44.44 + 277.78 = 533.33; / 5 -> 106.67.
    EXPECT_NEAR(s.deviation, std::sqrt(533.3333 / 5.0), 1e-3);
    EXPECT_EQ(s.histogram[20], 3u);
    EXPECT_EQ(s.histogram[99], 0u); // outside the rectangle, and the histogram was cleared
    EXPECT_EQ(s.histogram[60], 0u);
}

TEST(RegionStatistics, MedianIsSmallestValueReachingHalf)
{
    ImageData image;
    // Odd count 1 2 3: half is 1.5, reached at 2. Even count 1 2 3 4: half is 2, reached at 2.
    FromRows(image, {{1, 2, 3, 4}});
    EXPECT_EQ(Measure(image, 0, 0, 3, 1).median, 2.0f);
    EXPECT_EQ(Measure(image, 0, 0, 4, 1).median, 2.0f);
    // 5 5 5 100: half 2 reached at 5.
    FromRows(image, {{5, 100, 5, 5}});
    EXPECT_EQ(Measure(image, 0, 0, 4, 1).median, 5.0f);
}

TEST(RegionStatistics, ModeTiesGoToTheValueFirstToReachTheTopCountColumnByColumn)
{
    ImageData image;
    // Column by column: 9 (0,0), 9 (0,1) -> 9 reaches two first. Row by row 7 would (7 7 at
    // (1,0), (2,0)), and 7 is also the lower value.
    FromRows(image, {{9, 7, 7}, {9, 1, 2}});
    EXPECT_EQ(Measure(image, 0, 0, 3, 2).mode, 9);
    // Column order 1 5 | 5 1 : 5 reaches two at the third pixel, 1 at the fourth.
    FromRows(image, {{1, 5}, {5, 1}});
    EXPECT_EQ(Measure(image, 0, 0, 2, 2).mode, 5);
    // No tie: the most frequent value wins wherever it lies.
    FromRows(image, {{1, 2, 2}, {3, 3, 3}});
    EXPECT_EQ(Measure(image, 0, 0, 3, 2).mode, 3);
}

TEST(RegionStatistics, CeilingLeavesPixelsOutOfCountsButNotExtremes)
{
    ImageData image;
    FromRows(image, {{100, 200, 5000, 300}});
    const Stats s = Measure(image, 0, 0, 4, 1, 1000);
    EXPECT_EQ(s.maximum, 5000);
    EXPECT_EQ(s.minimum, 100);
    EXPECT_NEAR(s.mean, 200.0f, 1e-4);
    EXPECT_EQ(s.median, 200.0f);
    EXPECT_EQ(s.histogram[5000], 0u);
    EXPECT_NEAR(s.deviation, 100.0f, 1e-3);
}

TEST(RegionStatistics, ConstantImage)
{
    ImageData image;
    FillImage(image, 8, 8, 1, [](int, int, int) { return std::uint16_t{321}; });
    const Stats s = Measure(image, 0, 0, 8, 8);
    EXPECT_EQ(s.minimum, 321);
    EXPECT_EQ(s.maximum, 321);
    EXPECT_EQ(s.median, 321.0f);
    EXPECT_EQ(s.mode, 321);
    EXPECT_EQ(s.mean, 321.0f);
    EXPECT_EQ(s.deviation, 0.0f);
}

TEST(RegionStatistics, SinglePixelLeavesDeviationAndEmptyRegionLeavesExtremes)
{
    ImageData image;
    FromRows(image, {{4, 8}, {15, 16}});
    Stats one = Measure(image, 1, 1, 2, 2);
    EXPECT_EQ(one.minimum, 16);
    EXPECT_EQ(one.deviation, -1.0f); // not written for a single pixel
    Stats none = Measure(image, 1, 1, 1, 2);
    EXPECT_EQ(none.minimum, 1000000);
    EXPECT_EQ(none.maximum, -1000000);
    EXPECT_EQ(none.mean, 0.0f);
    EXPECT_EQ(none.deviation, -1.0f);
}

TEST(RegionStatistics, RectangleIsCutToTheImage)
{
    ImageData image;
    FromRows(image, {{1, 2}, {3, 4}});
    const Stats s = Measure(image, -5, -5, 50, 50);
    EXPECT_EQ(s.minimum, 1);
    EXPECT_EQ(s.maximum, 4);
    EXPECT_NEAR(s.mean, 2.5f, 1e-6);
}

TEST(DisplayLevels, ConstantImageGetsValuePlusOneAndGainOne)
{
    ImageData image;
    FillImage(image, 20, 20, 1, [](int, int, int) { return std::uint16_t{1000}; });
    image.OffsetLevel = 300.0f;
    image.BottomDark = 20.0f;
    ComputeDisplayLevels(image);
    EXPECT_EQ(image.DisplayOffset, 1001.0f);
    EXPECT_EQ(image.SkyLevel, 1001.0f - 300.0f - 20.0f);
    EXPECT_EQ(image.Gain, 1.0f);
}

TEST(DisplayLevels, OnePixelWideImageHasEmptyRegion)
{
    ImageData image;
    FillImage(image, 1, 10, 1, [](int, int y, int) { return static_cast<std::uint16_t>(y); });
    ComputeDisplayLevels(image);
    EXPECT_EQ(image.DisplayOffset, 1000000.0f);
    EXPECT_EQ(image.Gain, 1.0f);
}

TEST(DisplayLevels, SmallImagesUseAllButLastRowAndColumn)
{
    // 50 x 50: rows and columns 0..48. Only the last row and column are bright: they must not count.
    ImageData image;
    FillImage(image, 50, 50, 1,
              [](int x, int y, int) { return std::uint16_t(x == 49 || y == 49 ? 60000 : 100); });
    ComputeDisplayLevels(image);
    EXPECT_EQ(image.DisplayOffset, 101.0f);
    EXPECT_EQ(image.Gain, 1.0f);
}

TEST(DisplayLevels, LargerImagesUseTheCentre)
{
    // 51 x 51: columns and rows 10..39. Everything outside is 0; inside, value = 1000 + x + 100*y
    // ... simpler: inside a ramp of 900 distinct values in 30 x 30 pixels.
    ImageData image;
    FillImage(image, 51, 51, 1, [](int x, int y, int) {
        const bool inside = x >= 10 && x < 40 && y >= 10 && y < 40;
        return std::uint16_t(inside ? 1000 + (y - 10) * 30 + (x - 10) : 0);
    });
    ComputeDisplayLevels(image);
    // 900 pixels valued 1000..1899, one each. 0.1 % of 900 = 0.9: the first k with at least 0.9
    // pixels below is 1001. 99 % = 891: k - 1000 >= 891 gives 1891.
    EXPECT_EQ(image.DisplayOffset, 1001.0f);
    EXPECT_NEAR(image.Gain, 65535.0f / (1891.0f - 1001.0f), 1e-3);
    EXPECT_EQ(image.SkyLevel, 1001.0f);
}

} // namespace
