// Alignment of composite layers: layers made from layer 1 by a known shift, rotation and scale are
// brought back onto it; matching layers are only cropped; bad input changes nothing.
#include "processing/alignment.h"

#include "processing/stars.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace
{

constexpr int W = 300, H = 240;
constexpr double Sky = 100.0, CentreX = 150.0, CentreY = 120.0;
// Stars 1 and 2 are the reference stars; the others are only checked.
const std::vector<std::array<double, 2>> Stars{{60, 50}, {240, 190}, {150, 120}, {70, 200}, {230, 60}};

// Where a star of layer 1 lies on a layer magnified by scale and turned by angle about the centre,
// then shifted.
struct Pose {
    double dx = 0, dy = 0, angle = 0, scale = 1;
    std::array<double, 2> Place(const std::array<double, 2> &p) const
    {
        const double c = std::cos(angle), s = std::sin(angle), x = p[0] - CentreX, y = p[1] - CentreY;
        return {CentreX + scale * (x * c - y * s) + dx, CentreY + scale * (x * s + y * c) + dy};
    }
};

void Render(ImageData &layer, const Pose &pose)
{
    ASSERT_TRUE(layer.Allocate(W, H, 1));
    std::vector<double> sky(static_cast<std::size_t>(W) * H, Sky);
    for (const auto &star : Stars) {
        const auto [sx, sy] = pose.Place(star);
        const double sigma = 2.0 * pose.scale;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                sky[y * W + x] +=
                    20000.0 * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / (2 * sigma * sigma));
    }
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            layer.Rows[y][x] = static_cast<std::uint16_t>(std::lround(sky[y * W + x]));
}

// The star's centroid above the sky within 7 pixels of (x, y).
std::array<double, 2> Centroid(const ImageData &image, double x, double y)
{
    double sum = 0, sx = 0, sy = 0;
    for (int j = static_cast<int>(y) - 7; j <= static_cast<int>(y) + 7; ++j)
        for (int i = static_cast<int>(x) - 7; i <= static_cast<int>(x) + 7; ++i) {
            const double v = std::max(0.0, image.Rows[j][i] - Sky);
            sum += v;
            sx += v * i;
            sy += v * j;
        }
    return {sx / sum, sy / sum};
}

AlignmentStars Picks(const Pose &pose)
{
    const auto a = pose.Place(Stars[0]), b = pose.Place(Stars[1]);
    return {static_cast<int>(std::lround(a[0])), static_cast<int>(std::lround(a[1])),
            static_cast<int>(std::lround(b[0])), static_cast<int>(std::lround(b[1]))};
}

bool SamePixels(const ImageData &a, const ImageData &b)
{
    return a.Width == b.Width && a.Height == b.Height &&
           std::memcmp(a.FramePixels(0), b.FramePixels(0), a.PixelCount() * 2) == 0;
}

TEST(Alignment, KnownShiftRotationAndScaleAreUndone)
{
    struct Case {
        Pose pose;
        bool scaleCorrection;
    };
    // The last two also catch a rotation about layer 1's star instead of the layer's own (0.3 px
    // off here), and a scale of sqrt(|b| / |a|) or |a| / |b| (several pixels off at the far stars).
    const Case cases[] = {
        {{7.5, -4.25, 0.0, 1.0}, false},
        {{-6.0, 5.5, 0.02, 1.0}, false},
        {{6.5, -4.25, -0.015, 1.03}, true},
        {{-3.0, 2.0, 0.01, 0.96}, true},
    };
    for (const Case &c : cases) {
        std::array<ImageData, 5> layers;
        Render(layers[0], {});
        Render(layers[1], c.pose);
        Render(layers[3], c.pose); // channel 4 as channel 2; channels 3 and 5 stay empty
        AlignmentOptions options;
        options.Crop = {20, 279, 15, 224};
        options.ScaleCorrection = c.scaleCorrection;
        options.Stars[0] = Picks({});
        options.Stars[1] = options.Stars[3] = Picks(c.pose);
        // Progress: channels 1, 2 and 4 in turn, each rising to 100 %.
        std::array<int, 6> last{-1, -1, -1, -1, -1, -1};
        std::vector<int> order;
        const AlignmentProgress progress = [&](int ch, int percent) {
            if (last[ch] < 0)
                order.push_back(ch);
            EXPECT_GT(percent, last[ch]);
            last[ch] = percent;
        };
        std::array<ChannelAlignment, AlignmentChannels> measured;
        std::string problem;
        ASSERT_EQ(AlignLayers(layers, options, progress, problem, &measured), AlignmentOutcome::Aligned)
            << problem;
        EXPECT_EQ(order, (std::vector<int>{1, 2, 4}));
        EXPECT_EQ(last, (std::array<int, 6>{-1, 100, 100, -1, 100, -1}));
        EXPECT_NEAR(measured[1].Angle, c.pose.angle, 0.001);
        EXPECT_NEAR(measured[1].Scale, c.scaleCorrection ? c.pose.scale : 1.0, 0.002);
        ASSERT_EQ(layers[1].Width, 260);
        ASSERT_EQ(layers[1].Height, 210);
        EXPECT_TRUE(layers[2].Empty);
        for (const auto &star : Stars) {
            const auto ref = Centroid(layers[0], star[0] - 20, star[1] - 15);
            const auto got = Centroid(layers[1], star[0] - 20, star[1] - 15);
            EXPECT_NEAR(got[0], ref[0], 0.2) << star[0] << "," << star[1];
            EXPECT_NEAR(got[1], ref[1], 0.2) << star[0] << "," << star[1];
        }
        EXPECT_TRUE(SamePixels(layers[1], layers[3]));
    }
}

TEST(Alignment, MatchingLayersAreOnlyCroppedOnAnyNumberOfThreads)
{
    std::array<ImageData, 5> layers;
    Render(layers[0], {});
    layers[1].Assign(layers[0]);
    layers[1].ShiftX = 3.0f;
    layers[1].Angle = 0.5f;
    layers[1].RotationCentreY = 9.0f;
    AlignmentOptions options;
    options.Crop = {10, 249, 5, 199};
    options.ScaleCorrection = true;
    options.Stars[0] = options.Stars[1] = Picks({});
    std::string problem;
    ASSERT_EQ(AlignLayers(layers, options, {}, problem), AlignmentOutcome::Aligned) << problem;
    ImageData cropped;
    Render(cropped, {});
    ASSERT_TRUE(CropImage(cropped, 10, 5, 249, 199));
    EXPECT_TRUE(SamePixels(layers[0], cropped));
    EXPECT_TRUE(SamePixels(layers[1], cropped));
    EXPECT_EQ(layers[1].ShiftX, 0.0f);
    EXPECT_EQ(layers[1].Angle, 0.0f);
    EXPECT_EQ(layers[1].RotationCentreY, 0.0f);

    // A turned layer resampled on one thread and on all of them.
    std::array<ImageData, 2> serial, parallel;
    const Pose pose{2.5, -1.5, 0.03, 1.02};
    for (auto *set : {&serial, &parallel}) {
        Render((*set)[0], {});
        Render((*set)[1], pose);
    }
    options.Stars[1] = Picks(pose);
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    ASSERT_EQ(AlignLayers(serial, options, {}, problem), AlignmentOutcome::Aligned);
    omp_set_num_threads(std::max(threads, 4));
    ASSERT_EQ(AlignLayers(parallel, options, {}, problem), AlignmentOutcome::Aligned);
    omp_set_num_threads(threads);
    EXPECT_TRUE(SamePixels(serial[1], parallel[1]));
}

TEST(Alignment, CoincidentStarsGiveNoTurnAndNoScale)
{
    std::array<ImageData, 5> layers;
    Render(layers[0], {});
    Render(layers[1], {4.0, 3.0, 0.0, 1.0});
    AlignmentOptions options;
    options.Crop = {0, W - 1, 0, H - 1};
    options.ScaleCorrection = true;
    options.NudgeX = 0.25f;
    options.NudgeY = -0.5f;
    const auto pick = Picks({4.0, 3.0, 0.0, 1.0});
    for (const auto &[first, second] :
         {std::pair{AlignmentStars{60, 50, 60, 50}, AlignmentStars{pick.X1, pick.Y1, pick.X2, pick.Y2}},
          std::pair{Picks({}), AlignmentStars{pick.X1, pick.Y1, pick.X1, pick.Y1}}}) {
        options.Stars[0] = first;
        options.Stars[1] = second;
        std::array<ChannelAlignment, AlignmentChannels> measured;
        std::string problem;
        ASSERT_EQ(MeasureAlignment(layers, options, measured, problem), AlignmentOutcome::Aligned);
        EXPECT_EQ(measured[1].Angle, 0.0f);
        EXPECT_EQ(measured[1].Scale, 1.0f);
        EXPECT_NEAR(measured[1].ShiftX, -4.0 + 0.25, 0.1);
        EXPECT_NEAR(measured[1].ShiftY, -3.0 - 0.5, 0.1);
    }
}

TEST(Alignment, BadInputChangesNothing)
{
    struct Case {
        AlignmentCrop crop;
        bool pickChannel2;
        const char *problem;
    };
    const Case cases[] = {
        {{100, 99, 0, 10}, true, "reversed"},
        {{0, 10, 50, 49}, true, "reversed"},
        {{0, W, 0, 10}, true, "within layer 1 (X 0 to 299, Y 0 to 239)"},
        {{-1, 10, 0, 10}, true, "within layer 1"},
        {{0, 10, 0, H}, true, "within layer 1"},
        {{0, 10, 0, 10}, false, "reference stars of channel 2"},
    };
    for (const Case &c : cases) {
        std::array<ImageData, 5> layers;
        Render(layers[0], {});
        Render(layers[1], {1, 1, 0, 1});
        AlignmentOptions options;
        options.Crop = c.crop;
        options.Stars[0] = Picks({});
        if (c.pickChannel2)
            options.Stars[1] = Picks({1, 1, 0, 1});
        std::string problem;
        EXPECT_EQ(AlignLayers(layers, options, {}, problem), AlignmentOutcome::Refused);
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        EXPECT_EQ(layers[0].Width, W);
        EXPECT_EQ(layers[1].Width, W);
    }
    // One loaded layer: nothing to do, nothing said.
    std::array<ImageData, 5> one;
    Render(one[0], {});
    std::string problem;
    EXPECT_EQ(AlignLayers(one, {}, {}, problem), AlignmentOutcome::TooFewLayers);
    EXPECT_TRUE(problem.empty());
    EXPECT_EQ(one[0].Width, W);
    // Layers without layer 1 have nothing to be aligned on.
    std::array<ImageData, 5> noReference;
    Render(noReference[1], {});
    Render(noReference[2], {});
    EXPECT_EQ(AlignLayers(noReference, {}, {}, problem), AlignmentOutcome::Refused);
    EXPECT_NE(problem.find("Layer 1 is the reference"), std::string::npos) << problem;
    EXPECT_EQ(noReference[1].Width, W);
    // A scale that is not positive is refused by the resampling itself.
    for (float scale : {0.0f, -1.0f, NAN}) {
        ChannelAlignment placement;
        placement.Scale = scale;
        EXPECT_FALSE(ResampleIntoCrop(one[0], placement, {0, 9, 0, 9}, 0, {}, problem));
        EXPECT_EQ(one[0].Width, W);
    }
}

} // namespace
