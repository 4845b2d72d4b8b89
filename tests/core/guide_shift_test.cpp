// Guide-image shift measurement: profiles by hand, and shifts of a star moved by known amounts.
#include "processing/guide_shift.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{

// A frame of the given size with a background and one Gaussian star at (cx, cy); brightness
// scales both (a longer integration).
UShortMatrix StarFrame(int columns, int rows, double cx, double cy, double brightness = 1.0)
{
    UShortMatrix m(rows, columns);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x) {
            const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            m[y][x] =
                static_cast<std::uint16_t>(brightness * (800.0 + 5000.0 * std::exp(-r2 / (2.0 * 1.5 * 1.5))));
        }
    return m;
}

TEST(GuideShift, ProfilesAreSizedByTheirOwnAxisAndHoldClampedSumsInsideTheRectangle)
{
    // 5 columns, 3 rows; rectangle columns 1..3, rows 0..1.
    UShortMatrix m(3, 5);
    const std::uint16_t values[3][5] = {{9, 1, 2, 3, 9}, {9, 7, 8, 9, 9}, {9, 9, 9, 9, 9}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            m[y][x] = values[y][x];
    const double mean = RegionMean(m, 2, 0, 4, 1);
    EXPECT_DOUBLE_EQ(mean, 30.0 / 6.0);
    std::vector<float> rows, columns;
    ASSERT_TRUE(BuildProjectionProfile(rows, m, 2, 0, 4, 1, mean, true));
    ASSERT_TRUE(BuildProjectionProfile(columns, m, 2, 0, 4, 1, mean, false));
    // Row 0: 1+2+3 - 15 < 0 -> 0; row 1: 24 - 15 = 9; row 2 outside.
    EXPECT_EQ(rows, (std::vector<float>{0.0f, 9.0f, 0.0f}));
    // Column 1: 8 - 10 < 0 -> 0; column 2: 10 - 10 = 0; column 3: 12 - 10 = 2; 0 and 4 outside.
    EXPECT_EQ(columns, (std::vector<float>{0.0f, 0.0f, 0.0f, 2.0f, 0.0f}));
    // A rectangle that leaves the matrix is refused instead of read past its end.
    EXPECT_FALSE(BuildProjectionProfile(rows, m, 4, 0, 5, 0, mean, true));
    EXPECT_EQ(RegionMean(m, 3, 0, 6, 0), 0.0);
}

TEST(GuideShift, MeasuresKnownShiftsToATenthOfAPixel)
{
    // A wide, short frame like the guiding sensor's, so the two axes differ in length.
    const int columns = 60, rows = 40;
    const UShortMatrix reference = StarFrame(columns, rows, 28.0, 19.0);
    std::vector<float> refRows, refColumns;
    const double mean = RegionMean(reference, rows, 0, columns, 0);
    BuildProjectionProfile(refRows, reference, rows, 0, columns, 0, mean, true);
    BuildProjectionProfile(refColumns, reference, rows, 0, columns, 0, mean, false);
    ASSERT_EQ(refRows.size(), std::size_t(rows));
    ASSERT_EQ(refColumns.size(), std::size_t(columns));
    const struct {
        double dx, dy;
        double brightness;
    } cases[] = {{0.0, 0.0, 1.0},
                 {2.3, -1.6, 1.0},
                 {-7.0, 4.5, 1.0},
                 {0.4, 9.2, 1.0},
                 {-9.6, -0.3, 1.0},
                 // The same star in a frame that integrated three times as long, or a third as long.
                 {1.2, -0.8, 3.0},
                 {-2.5, 1.4, 1.0 / 3.0}};
    for (const auto &c : cases) {
        const UShortMatrix current = StarFrame(columns, rows, 28.0 + c.dx, 19.0 + c.dy, c.brightness);
        float dy = 99.0f, dx = 99.0f;
        ASSERT_TRUE(MeasureProfileShift(refRows, refColumns, current, dy, dx, rows, 0, columns, 0, 10, 10));
        EXPECT_NEAR(dx, c.dx, 0.1) << c.dx << "," << c.dy;
        EXPECT_NEAR(dy, c.dy, 0.1) << c.dx << "," << c.dy;
        // The current frame stays the caller's: measuring it again gives the same result.
        float dy2 = 0.0f, dx2 = 0.0f;
        MeasureProfileShift(refRows, refColumns, current, dy2, dx2, rows, 0, columns, 0, 10, 10);
        EXPECT_EQ(dx2, dx);
        EXPECT_EQ(dy2, dy);
    }
    // Reference profiles of another size are refused.
    const UShortMatrix other = StarFrame(rows, columns, 19.0, 28.0);
    float dy = 1.0f, dx = 1.0f;
    EXPECT_FALSE(MeasureProfileShift(refRows, refColumns, other, dy, dx, columns, 0, rows, 0, 10, 10));
    EXPECT_EQ(dx, 0.0f);
    EXPECT_EQ(dy, 0.0f);
}

TEST(GuideShift, SearchStaysInItsRangeAndComparesPastTheEdgeWithTheEdgeValue)
{
    const std::vector<float> reference = {0, 0, 1, 4, 1, 0, 0, 0};
    // The peak moved 3 to the right: found within a range of 3, not within a range of 1 (whose
    // refinement reaches at most 2).
    const std::vector<float> moved = {0, 0, 0, 0, 0, 1, 4, 1};
    EXPECT_NEAR(ProfileShift(reference, moved, 0, 8, 3), 3.0f, 1e-4);
    const float limited = ProfileShift(reference, moved, 0, 8, 1);
    EXPECT_LE(limited, 2.0f + 1e-4f);
    // Moved off the end: the clamped indices read the last value, and the result is the edge.
    const std::vector<float> atEdge = {0, 0, 0, 0, 0, 0, 0, 4};
    const float edge = ProfileShift(reference, atEdge, 0, 8, 8);
    EXPECT_GE(edge, 4.0f - 1e-4f);
    EXPECT_LE(edge, 5.0f + 1e-4f);
}

} // namespace
