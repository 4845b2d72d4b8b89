// The display mapping: levels to palette index (linear and logarithmic), colours, zoom limits.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "image_render.h"

namespace
{

std::vector<std::uint16_t> Indices(float gain, float offset, bool log)
{
    std::vector<std::uint16_t> table(65536);
    BuildDisplayIndexTable(gain, offset, log, StandardLogScaleTable(), table.data());
    return table;
}

struct LinearCase {
    float gain;
    float offset;
    int pixel;
    int index;
};

} // namespace

TEST(DisplayIndexTest, LinearTruncatesAndClamps)
{
    const LinearCase cases[] = {
        {1.0f, 0.0f, 0, 0},
        {1.0f, 0.0f, 65535, 65535},
        {2.0f, 100.0f, 100, 0},
        {2.0f, 100.0f, 150, 100},
        {2.0f, 100.0f, 99, 0},
        {2.0f, 100.0f, 40000, 65535},
        {0.5f, 0.0f, 3, 1},
        {0.5f, 0.0f, 65535, 32767},
        {1.5f, 0.25f, 10, 14}, // 9.75 x 1.5 = 14.625
        {1.0f, -300.0f, 65300, 65535},
    };
    for (const LinearCase &c : cases)
        EXPECT_EQ(Indices(c.gain, c.offset, false)[c.pixel], c.index)
            << "gain " << c.gain << " offset " << c.offset << " pixel " << c.pixel;
}

TEST(DisplayIndexTest, LinearUsesExtendedPrecision)
{
    // 0.7f is 0.69999998807907: 10 x 0.7f is 6.9999998807907 exactly (index 6), while a product in
    // single precision would round to 7.0.
    EXPECT_EQ(Indices(0.7f, 0.0f, false)[10], 6);
}

TEST(DisplayIndexTest, LogarithmicScale)
{
    // Gain 1: the brightest pixel reaches trunc(6553 x log10(65535) / log10(65535)), about 6553.
    const auto gain1 = Indices(1.0f, 0.0f, true);
    EXPECT_GE(gain1[65535], 6552);
    EXPECT_LE(gain1[65535], 6553);
    EXPECT_EQ(gain1[0], 0);
    EXPECT_EQ(gain1[1], 0);
    EXPECT_EQ(gain1[10], 1360);  // 6553 / 4.8164733 = 1360.54
    EXPECT_EQ(gain1[100], 2721); // 2721.09
    // Gain 10 reaches 65530 at the top.
    EXPECT_EQ(Indices(10.0f, 0.0f, true)[65535], 65530);
    // The offset is subtracted first and values below it clamp to level 0.
    const auto offset = Indices(1.0f, 50.0f, true);
    EXPECT_EQ(offset[60], 1360);
    EXPECT_EQ(offset[40], 0);
    // A gain that overshoots clamps at 65535.
    EXPECT_EQ(Indices(100.0f, 0.0f, true)[1000], 65535);
}

TEST(DisplayIndexTest, AbsurdLevelsNeverOverflow)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float huge = 1e30f;
    EXPECT_EQ(Indices(nan, 0.0f, false)[1000], 0);
    EXPECT_EQ(Indices(huge, 0.0f, false)[1000], 65535);
    EXPECT_EQ(Indices(-huge, 0.0f, false)[1000], 0);
    EXPECT_EQ(Indices(1.0f, huge, false)[1000], 0);
    EXPECT_EQ(Indices(1.0f, -huge, true)[1000], Indices(1.0f, 0.0f, true)[65535]); // t clamps at 65535
    EXPECT_EQ(Indices(nan, nan, true)[1000], 0);
}

TEST(DisplayColourTest, ColoursComeFromThePaletteByteTables)
{
    std::vector<std::uint8_t> red(65536), green(65536), blue(65536);
    for (int i = 0; i < 65536; ++i) {
        red[i] = static_cast<std::uint8_t>(i >> 8);
        green[i] = static_cast<std::uint8_t>(i & 0xFF);
        blue[i] = static_cast<std::uint8_t>(255 - (i >> 8));
    }
    std::vector<std::uint32_t> colours(65536);
    BuildDisplayColourTable(4.0f, 1000.0f, false, StandardLogScaleTable(), red.data(), green.data(),
                            blue.data(), colours.data());
    const std::uint16_t pixels[3] = {500, 1100, 17000};
    std::uint8_t rgba[12];
    std::memset(rgba, 0x11, sizeof rgba);
    MapPixelsToRgba(pixels, 3, colours.data(), rgba);
    // 500 -> 0; 1100 -> 400 = 0x0190; 17000 -> 64000 = 0xFA00.
    const std::uint8_t expected[12] = {0, 0, 255, 255, 0x01, 0x90, 254, 255, 0xFA, 0x00, 5, 255};
    EXPECT_EQ(0, std::memcmp(rgba, expected, 12));
}

TEST(ZoomTest, ClampedToTheLimits)
{
    EXPECT_DOUBLE_EQ(ClampZoom(2.0), 2.0);
    EXPECT_DOUBLE_EQ(ClampZoom(0.0), MinimumZoom);
    EXPECT_DOUBLE_EQ(ClampZoom(-5.0), MinimumZoom);
    EXPECT_DOUBLE_EQ(ClampZoom(1e12), MaximumZoom);
    EXPECT_DOUBLE_EQ(ClampZoom(std::numeric_limits<double>::quiet_NaN()), 1.0);
    EXPECT_DOUBLE_EQ(ClampZoom(std::numeric_limits<double>::infinity()), MaximumZoom);
}

TEST(LogScaleTableTest, DecimalLogarithmsWithZeroAtZero)
{
    const float *table = StandardLogScaleTable();
    EXPECT_EQ(table[0], 0.0f);
    EXPECT_EQ(table[1], 0.0f);
    EXPECT_FLOAT_EQ(table[1000], 3.0f);
    EXPECT_FLOAT_EQ(table[65535], 4.8164733f);
}
