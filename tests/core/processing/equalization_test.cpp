// Equalization tables, the transfer curve's editing and the mapping of images through a table.
#include "processing/equalization.h"

#include "../image_test_images.h"
#include "image_data.h"
#include "levels.h"
#include "processing/filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{

using namespace korvi::test;

TEST(EqualizationTable, AccumulatesFromValueOneAndScalesToFullRange)
{
    std::vector<std::uint32_t> histogram(65536);
    histogram[0] = 5; // never added
    histogram[1] = 1;
    histogram[3] = 2;
    std::vector<float> table(65536, -1.0f);
    BuildEqualizationTable(histogram.data(), table.data());
    EXPECT_EQ(table[0], 0.0f);
    EXPECT_EQ(table[1], 21845.0f);
    EXPECT_EQ(table[2], 21845.0f);
    EXPECT_EQ(table[3], 65535.0f);
    EXPECT_EQ(table[65535], 65535.0f);

    std::vector<std::uint32_t> zeros(65536);
    zeros[0] = 100; // an image of zeros
    BuildEqualizationTable(zeros.data(), table.data());
    EXPECT_EQ(table[0], 0.0f);
    EXPECT_EQ(table[65535], 0.0f);
}

TEST(ModelTable, DefaultCurveMapsEveryValueNearlyToItself)
{
    const EqualizationCurve curve; // exists before any window shows it
    std::vector<float> table(65536, -1.0f);
    BuildModelTable(curve, table.data());
    int unreached = 0;
    double worst = 0.0;
    for (int v = 1; v < 65536; ++v) {
        unreached += table[v] < 0.0f;
        worst = std::max(worst, std::abs(static_cast<double>(table[v]) - v));
    }
    EXPECT_EQ(unreached, 0);
    EXPECT_LT(worst, 0.02 * 65535); // the handles sit on whole picture pixels near the thirds
    EXPECT_NEAR(table[65535], 65535.0, 2.0);
    // The walk writes only once x has moved a quarter entry from its last step, which at the
    // start is past entry 0: that entry keeps what the table held.
    EXPECT_EQ(table[0], -1.0f);
}

TEST(ModelTable, FollowsTheBezierOfEachSegment)
{
    EqualizationCurve curve(400, 200);
    curve.MouseDown(true, 400, 0); // last anchor down to half height: handle 2 follows
    curve.Drag(123, 100);
    curve.MouseUp();
    EXPECT_EQ(curve.Point(3).x, 400);
    EXPECT_EQ(curve.Point(3).y, 100);
    EXPECT_EQ(curve.Point(2).x, 266);
    EXPECT_EQ(curve.Point(2).y, 166);
    std::vector<float> table(65536, -1.0f);
    BuildModelTable(curve, table.data());
    // The segment written out directly at a few t.
    const auto at = [&](double t, int i) {
        const double u = 1 - t;
        const auto p = [&](int k) { return i == 0 ? curve.ModelX(k) : curve.ModelY(k); };
        return u * u * u * p(0) + 3 * u * u * t * p(1) + 3 * u * t * t * p(2) + t * t * t * p(3);
    };
    for (const double t : {0.1, 0.37, 0.5, 0.81}) {
        const int index = static_cast<int>(at(t, 0) * 65535);
        EXPECT_NEAR(table[index], at(t, 1), 3.0) << t;
    }
    EXPECT_NEAR(table[65535], 32767.5, 2.0);
}

TEST(ModelTable, SegmentWithoutXSpanIsSkippedAndTheWalkEnds)
{
    EqualizationCurve curve(400, 200);
    curve.MouseDown(false, 0, 200);
    curve.MouseDown(true, 200, 100); // nowhere near a point but the double click's position
    curve.MouseUp();
    ASSERT_TRUE(curve.Split());
    ASSERT_EQ(curve.SegmentCount(), 2);
    // Drag the middle anchor onto the left edge: segment 0 spans no x at all.
    curve.MouseDown(true, 200, 100);
    ASSERT_EQ(curve.Selected(), 3);
    curve.Drag(0, 150);
    curve.MouseUp();
    ASSERT_EQ(curve.ModelX(0), curve.ModelX(3));
    std::vector<float> table(65536, -1.0f);
    BuildModelTable(curve, table.data()); // returns: the second segment fills the table
    EXPECT_GE(table[30000], 0.0f);
    EXPECT_NEAR(table[65535], 65535.0, 2.0);
}

TEST(Curve, SplitPutsASymmetricAnchorHalfwayAndStopsAtTwentySegments)
{
    EqualizationCurve curve(400, 200);
    curve.MouseDown(true, 300, 20); // right of the first anchor: the segment after it
    curve.MouseUp();
    ASSERT_TRUE(curve.Split());
    EXPECT_EQ(curve.SegmentCount(), 2);
    EXPECT_EQ(curve.Point(2).x, 100);
    EXPECT_EQ(curve.Point(2).y, 150);
    EXPECT_EQ(curve.Point(3).x, 200);
    EXPECT_EQ(curve.Point(3).y, 100);
    EXPECT_EQ(curve.Point(4).x, 300);
    EXPECT_EQ(curve.Point(1).x, 133); // the outer handles stay
    EXPECT_EQ(curve.Point(5).x, 266);
    EXPECT_EQ(curve.Point(6).x, 400);
    EXPECT_TRUE(curve.Symmetric(3));
    EXPECT_FLOAT_EQ(curve.ModelX(3), 0.5f);
    EXPECT_FLOAT_EQ(curve.ModelY(3), 32767.5f);

    while (curve.SegmentCount() < EqualizationCurve::MaxSegments)
        ASSERT_TRUE(curve.Split());
    const CurvePoint last = curve.Point(60);
    EXPECT_FALSE(curve.Split());
    EXPECT_EQ(curve.SegmentCount(), 20);
    EXPECT_EQ(curve.Point(60).x, last.x);
}

TEST(Curve, HandlesOfASymmetricAnchorMirrorAndAnInnerAnchorCarriesThem)
{
    EqualizationCurve curve(400, 200);
    curve.MouseDown(true, 300, 20);
    curve.MouseUp();
    ASSERT_TRUE(curve.Split()); // anchor 3 at (200, 100), handles (100, 150) and (300, 50)
    curve.MouseDown(true, 100, 150);
    ASSERT_EQ(curve.Selected(), 2);
    curve.Drag(150, 160);
    curve.MouseUp();
    EXPECT_EQ(curve.Point(4).x, 250); // mirror of (150, 160) about (200, 100)
    EXPECT_EQ(curve.Point(4).y, 40);

    curve.MouseDown(true, 200, 100);
    curve.Drag(210, 90);
    curve.MouseUp();
    EXPECT_EQ(curve.Point(2).x, 160);
    EXPECT_EQ(curve.Point(2).y, 150);
    EXPECT_EQ(curve.Point(4).x, 260);
    EXPECT_EQ(curve.Point(4).y, 30);

    // Asymmetric: a handle moves alone; turning symmetry on mirrors the right handle.
    curve.MouseDown(false, 210, 90);
    ASSERT_TRUE(curve.ToggleSymmetric());
    EXPECT_FALSE(curve.Symmetric(3));
    curve.MouseDown(true, 260, 30);
    curve.Drag(300, 20);
    curve.MouseUp();
    EXPECT_EQ(curve.Point(2).x, 160);
    curve.MouseDown(false, 210, 90);
    ASSERT_TRUE(curve.ToggleSymmetric());
    EXPECT_EQ(curve.Point(2).x, 120);
    EXPECT_EQ(curve.Point(2).y, 160);
}

TEST(Curve, DeletingAnInnerAnchorRemovesItWithItsHandles)
{
    EqualizationCurve curve(400, 200);
    curve.MouseDown(true, 300, 20);
    curve.MouseUp();
    ASSERT_TRUE(curve.Split());
    curve.MouseDown(false, 0, 200);
    EXPECT_FALSE(curve.DeleteSelected()); // the first anchor stays
    curve.MouseDown(false, 200, 100);
    ASSERT_TRUE(curve.DeleteSelected());
    EXPECT_EQ(curve.SegmentCount(), 1);
    EXPECT_EQ(curve.Point(1).x, 133);
    EXPECT_EQ(curve.Point(2).x, 266);
    EXPECT_EQ(curve.Point(3).x, 400);
    EXPECT_FLOAT_EQ(curve.ModelX(2), 266.0f / 400.0f);
}

TEST(Equalization, MappingAndTheEqualizedHistogramAgreeWithAMappedCopy)
{
    ImageData image;
    FillImage(image, 7, 5, 2,
              [](int x, int y, int f) { return static_cast<std::uint16_t>(x * 9000 + y * 11 + f); });
    std::vector<float> table(65536);
    for (int v = 0; v < 65536; ++v)
        table[v] = v % 3 == 0 ? 70000.0f : v * 0.5f + 0.75f; // some beyond the pixel range
    std::vector<std::uint32_t> histogram(65536);
    const HistogramSummary summary = EqualizedHistogram(image, table.data(), histogram.data());

    ImageData mapped;
    mapped.Assign(image);
    ApplyHistogramEqualization(mapped, table.data());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            const int v = image.FrameRow(0, y)[x];
            ASSERT_EQ(mapped.FrameRow(0, y)[x], v % 3 == 0 ? 65535 : static_cast<int>(v * 0.5f + 0.75f));
        }
    std::vector<std::uint32_t> expected(65536);
    float mean, median, deviation;
    int minimum, maximum, mode;
    ComputeRegionStatistics(mapped.Rows, expected.data(), 0, 0, 6, 4, mean, median, deviation, minimum,
                            maximum, mode, 65535);
    EXPECT_EQ(histogram, expected);
    EXPECT_EQ(summary.Minimum, minimum);
    EXPECT_EQ(summary.Maximum, maximum);
    EXPECT_EQ(summary.TopCount, expected[mode]);
}

} // namespace
