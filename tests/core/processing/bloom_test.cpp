// Bloom trails refilled from the sky beside them, star blobs filled, selected regions resampled,
// and the synthetic noise they use.
#include "processing/bloom.h"

#include "image_data.h"
#include "image_test_images.h"
#include "recording_ui_hooks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace
{

using korvi::test::FillImage;
using korvi::test::RecordingUiHooks;

constexpr int Sky = 1000;
constexpr float SkyNoise = 10.0f;

// Sky with noise, a faint star at (140.4, 60.2) and a saturated one at (60.3, 100.7) whose trail
// runs from its row towards row 0 in columns 59..61.
void MakeField(ImageData &image, bool withTrail)
{
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, SkyNoise);
    FillImage(image, 200, 200, 1, [&](int x, int y, int) {
        auto star = [&](double cx, double cy, double peak) {
            return peak * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * 2.0 * 2.0));
        };
        double v = Sky + noise(random) + star(140.4, 60.2, 5000);
        if (withTrail) {
            v += star(60.3, 100.7, 300000);
            if (x >= 59 && x <= 61 && y >= 30 && y <= 100)
                v = 65535;
        }
        return static_cast<std::uint16_t>(std::clamp(v, 0.0, 65535.0));
    });
}

TEST(BloomRemoval, TrailsAreRefilledAndOtherStarsStayPut)
{
    ImageData image;
    MakeField(image, true);
    float fx = 140, fy = 60;
    RefineStarCentroid(image, fx, fy);

    BloomOptions options;
    options.threshold = 60000;
    options.noise = SkyNoise;
    ASSERT_TRUE(RemoveBlooming(image, options));
    for (int y = 30; y <= 88; ++y) // away from the star's own light
        for (int x = 59; x <= 61; ++x)
            ASSERT_NEAR(image.FrameRow(0, y)[x], Sky, 6 * SkyNoise) << x << "," << y;
    float gx = 140, gy = 60;
    RefineStarCentroid(image, gx, gy);
    EXPECT_NEAR(gx, fx, 0.1);
    EXPECT_NEAR(gy, fy, 0.1);

    // The same options and seed give the same pixels.
    ImageData again;
    MakeField(again, true);
    ASSERT_TRUE(RemoveBlooming(again, options));
    EXPECT_EQ(korvi::test::DifferingPixels(image, again), 0);
}

TEST(BloomRemoval, AnImageWithoutSaturationIsLeftAsItWasAndATinyOneIsRefused)
{
    ImageData image, original;
    MakeField(image, false);
    original.Assign(image);
    ASSERT_TRUE(RemoveBlooming(image, {}));
    EXPECT_EQ(korvi::test::DifferingPixels(image, original), 0);

    RecordingUiHooks ui;
    ImageData tiny;
    FillImage(tiny, 20, 200, 1, [](int, int, int) { return 65535; });
    EXPECT_FALSE(RemoveBlooming(tiny, {}));
    EXPECT_EQ(tiny.FrameRow(0, 0)[0], 65535);
    float background = 0, noise = 0;
    EXPECT_EQ(DetectAndRemoveStars(tiny, background, noise, 2000, 20000, true), -1);
    EXPECT_EQ(ui.Messages().size(), 2u);
}

TEST(BloomRemoval, EdgeTrailsAreClearedFromTheEdgeInwards)
{
    ImageData image;
    FillImage(image, 40, 40, 1, [](int x, int y, int) { return x == 5 && y < 6 ? 65535 : 500; });
    ASSERT_TRUE(RemoveBlooming(image, {}));
    for (int y = 0; y < 6; ++y)
        EXPECT_EQ(image.FrameRow(0, y)[5], 0) << y;
    EXPECT_EQ(image.FrameRow(0, 6)[5], 500);
}

TEST(StarRemoval, FillStarRegionFillsTheBlobButItsLastRowAndColumn)
{
    ImageData image;
    // A 4 x 3 blob at columns 10..13, rows 20..22.
    FillImage(image, 40, 40, 1,
              [](int x, int y, int) { return x >= 10 && x <= 13 && y >= 20 && y <= 22 ? 900 : 100; });
    FillStarRegion(image, 11, 21, 100, 10, 5000, 7);
    for (int y = 19; y <= 23; ++y)
        for (int x = 9; x <= 14; ++x) {
            const bool filled = x >= 10 && x < 13 && y >= 20 && y < 22;
            const int before = x >= 10 && x <= 13 && y >= 20 && y <= 22 ? 900 : 100;
            EXPECT_EQ(image.FrameRow(0, y)[x], filled ? 7 : before) << x << "," << y;
        }
}

TEST(StarRemoval, CountsTheAcceptableStarsOfAField)
{
    ImageData image;
    FillImage(image, 200, 200, 1, [](int x, int y, int) {
        double v = 1000;
        for (auto [cx, cy] : {std::pair{60.0, 60.0}, {140.0, 70.0}, {100.0, 150.0}})
            v += 8000 * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / 8.0);
        return static_cast<std::uint16_t>(v + (x * 7 + y * 3) % 5);
    });
    float background = 0, noise = 0;
    EXPECT_EQ(DetectAndRemoveStars(image, background, noise, 3000, 60000, true), 3);
    EXPECT_NEAR(background, 1002, 3);
    EXPECT_EQ(image.FrameRow(0, 60)[60], 0); // written back
}

TEST(RegionTransform, ReplacesOnlyTheSelection)
{
    ImageData image;
    FillImage(image, 30, 20, 1, [](int x, int y, int) { return static_cast<std::uint16_t>(100 * y + x); });
    image.SelX0 = 5;
    image.SelY0 = 4;
    image.SelX1 = 10;
    image.SelY1 = 8;
    ImageTransform shift;
    shift.tx = -2; // each pixel takes the one two columns to its right
    TransformImageRegion(image, shift);
    EXPECT_EQ(image.FrameRow(0, 4)[5], 100 * 4 + 7);
    EXPECT_EQ(image.FrameRow(0, 7)[9], 100 * 7 + 11);
    EXPECT_EQ(image.FrameRow(0, 8)[9], 100 * 8 + 9); // row SelY1 is outside the region
    EXPECT_EQ(image.FrameRow(0, 4)[10], 100 * 4 + 10);

    image.SelX1 = 2; // reversed: nothing happens
    TransformImageRegion(image, shift);
    EXPECT_EQ(image.FrameRow(0, 4)[5], 100 * 4 + 7);
}

TEST(NoiseSource, GaussianDrawsHaveTheScaledSpreadAndRepeat)
{
    NoiseSource a(3), b(3);
    double sum = 0, squares = 0;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        const double g = a.GaussianRandom();
        ASSERT_EQ(g, b.GaussianRandom());
        sum += g;
        squares += g * g;
    }
    EXPECT_NEAR(sum / n, 0.0, 0.03);
    EXPECT_NEAR(std::sqrt(squares / n), 0.9090909, 0.03);
    for (int i = 0; i < 1000; ++i) {
        const float u = a.UniformRandom();
        ASSERT_GE(u, 0.0f);
        ASSERT_LE(u, 0.99999f);
    }
}

} // namespace
