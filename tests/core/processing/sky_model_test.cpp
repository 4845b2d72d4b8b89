// Sky model fit and subtraction and the logarithmic rescale, on images whose answers are known.
#include "processing/sky_model.h"

#include "image_data.h"
#include "image_test_images.h"
#include "recording_ui_hooks.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{

using korvi::test::FillImage;
using korvi::test::RecordingUiHooks;

// A second-order background: 500 + 2x - 0.5y + 0.01x^2 + 0.004y^2.
double Background(int x, int y)
{
    return 500.0 + 2.0 * x - 0.5 * y + 0.01 * x * x + 0.004 * y * y;
}

// A gentle sky, as a real one is across a frame: 800 + 0.08x - 0.03y + 0.0002x^2.
double GentleSky(int x, int y)
{
    return 800.0 + 0.08 * x - 0.03 * y + 0.0002 * x * x;
}

TEST(SkyModel, TheFitRecoversAKnownPolynomial)
{
    std::vector<SkySample> samples;
    for (int x = 0; x < 200; x += 17)
        for (int y = 0; y < 150; y += 13)
            samples.push_back({x, y, static_cast<int>(std::lround(Background(x, y) * 16))});
    SkyModel model;
    ASSERT_TRUE(SolveSkyModel(samples, model, 2));
    ASSERT_EQ(model.Order, 2);
    ASSERT_EQ(model.Coefficients.size(), 5u);
    for (int x = 0; x < 200; x += 23)
        for (int y = 0; y < 150; y += 19)
            EXPECT_NEAR(model.Evaluate(x, y), Background(x, y) * 16, 1.0) << x << "," << y;
}

TEST(SkyModel, EveryOrderOfTheSpinFitsASmoothSkyOnLargeFrames)
{
    // The coefficients of raw pixel powers span some thirty decades at order 9: the fit works in
    // coordinates scaled to -1..1, so full-rank fits are not taken for undetermined ones.
    RecordingUiHooks ui;
    for (const auto [width, height] : {std::pair{765, 510}, {1536, 1024}, {4096, 4096}}) {
        ImageData sky;
        FillImage(sky, width, height, 1, [&](int x, int y, int) {
            const double u = static_cast<double>(x) / width;
            return static_cast<std::uint16_t>(900 + 0.1 * x - 0.06 * y + 60 * u * u * (1 - u));
        });
        for (int order = 1; order <= 9; ++order) {
            ImageData image;
            image.Assign(sky);
            ASSERT_TRUE(FitAndSubtractSkyModel(image, order)) << width << " x " << height << ", " << order;
            if (order < 3)
                continue; // the cubic term needs order 3
            int highest = 0;
            for (int y = 8; y < height - 8; y += height / 37)
                for (int x = 8; x < width - 8; x += width / 41)
                    highest = std::max<int>(highest, image.FrameRow(0, y)[x]);
            EXPECT_LE(highest, SkyPedestal + 4) << width << " x " << height << ", " << order;
        }
    }
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(SkyModel, SubtractingTheFittedBackgroundLeavesThePedestal)
{
    ImageData image;
    FillImage(image, 240, 180, 1,
              [](int x, int y, int) { return static_cast<std::uint16_t>(GentleSky(x, y)); });
    ASSERT_TRUE(FitAndSubtractSkyModel(image, 2));
    // The samples are the darkest pixels of their windows, so the fit sits a count or two under
    // the background; what is left is the pedestal plus that small margin, seldom a pixel under
    // the background (a pixel the model passes by a fraction becomes 0, as any pixel under the sky does).
    int highest = 0, zeros = 0;
    for (int y = 10; y < 170; ++y)
        for (int x = 10; x < 230; ++x) {
            const int p = image.FrameRow(0, y)[x];
            highest = std::max(highest, p);
            zeros += p == 0;
            EXPECT_TRUE(p == 0 || p >= SkyPedestal) << x << "," << y;
        }
    EXPECT_LE(highest, SkyPedestal + 3);
    EXPECT_LT(zeros, 160 * 220 / 50);

    ImageData flat;
    FillImage(flat, 60, 60, 1, [](int, int, int) { return 1000; });
    std::vector<SkySample> samples;
    ASSERT_TRUE(SampleSky(flat, 1, SkySampleSeed, samples));
    EXPECT_EQ(samples.size(), 9u);
    for (const SkySample &s : samples)
        EXPECT_EQ(s.value, 1000);
    ASSERT_TRUE(FitAndSubtractSkyModel(flat, 1));
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x)
            ASSERT_EQ(flat.FrameRow(0, y)[x], SkyPedestal);
}

TEST(SkyModel, DarkPixelsGoToZeroAndBrightOnesStayInRange)
{
    ImageData image;
    FillImage(image, 4, 1, 1, [](int x, int, int) {
        return std::array<std::uint16_t, 4>{99, 100, 65530, 65535}[x];
    });
    SubtractSkyModel(image, {.Order = 1, .Coefficients = {100.5f, 0.0f, 0.0f}}); // S = 100.5
    EXPECT_EQ(image.FrameRow(0, 0)[0], 0);
    EXPECT_EQ(image.FrameRow(0, 0)[1], 0); // 100 < 100.5
    EXPECT_EQ(image.FrameRow(0, 0)[2], 65505);
    SubtractSkyModel(image, {.Order = 1, .Coefficients = {10.0f, 0.0f, 0.0f}}); // 65505 - 10 + 75: held
    EXPECT_EQ(image.FrameRow(0, 0)[2], 65535);
}

TEST(SkyModel, ImpossibleFitsAreRefusedAndLeaveTheImage)
{
    RecordingUiHooks ui;
    ImageData small;
    FillImage(small, 7, 40, 1, [](int x, int y, int) { return static_cast<std::uint16_t>(x + y); });
    EXPECT_FALSE(FitAndSubtractSkyModel(small, 1)); // 7 / 4 = 1: no room for any jitter
    EXPECT_EQ(small.FrameRow(0, 3)[5], 8);
    EXPECT_FALSE(FitAndSubtractSkyModel(small, 0));
    ImageData large;
    FillImage(large, 1000, 1000, 1, [](int, int, int) { return 5; });
    EXPECT_FALSE(FitAndSubtractSkyModel(large, 32)); // 65 x 65 samples are too many
    EXPECT_EQ(ui.Messages().size(), 3u);

    // Samples all in one column cannot tell the x terms apart.
    std::vector<SkySample> column;
    for (int y = 0; y < 20; ++y)
        column.push_back({7, y, 100 + y});
    SkyModel c{.Order = 1, .Coefficients = {1.0f, 2.0f, 3.0f}};
    EXPECT_FALSE(SolveSkyModel(column, c, 1));
    EXPECT_EQ(c.Coefficients, (std::vector<float>{1.0f, 2.0f, 3.0f}));
    EXPECT_FALSE(SolveSkyModel({{1, 2, 3}, {4, 5, 6}}, c, 1)); // fewer samples than terms
}

TEST(LogScale, MapsTheRangeOntoTheFullScale)
{
    ImageData image;
    const std::uint16_t values[] = {0, 100, 101, 199, 1099, 1100};
    FillImage(image, 6, 1, 1, [&](int x, int, int) { return values[x]; });
    ASSERT_TRUE(ApplyLogScale(image, 100, 999));
    const std::uint16_t *row = image.FrameRow(0, 0);
    EXPECT_EQ(row[0], 0);
    EXPECT_EQ(row[2], 0);
    EXPECT_EQ(row[3], static_cast<std::uint16_t>(std::trunc(21845.0 * std::log10(99.0))));
    // The rule takes log10(p - floor) against log10(range + 1): the top of the range falls just
    // short of full scale, and one count above it reaches it.
    EXPECT_EQ(row[4], static_cast<std::uint16_t>(std::trunc(21845.0 * std::log10(999.0))));
    EXPECT_EQ(row[5], 65535); // beyond the range: held at the top

    RecordingUiHooks ui;
    EXPECT_FALSE(ApplyLogScale(image, 0, 0));
    EXPECT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(image.FrameRow(0, 0)[3], row[3]);
}

} // namespace
