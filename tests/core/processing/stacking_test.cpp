// Registration and stacking: combinations worked out by hand on tiny frames, a simulated series
// with known shifts and rotation, the noise of stacks of N noisy frames, and the checks on sizes
// and files.
#include "processing/stacking.h"

#include "processing/stars.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <random>

namespace
{

using korvi::test::TempDir;

ImageData Constant(int w, int h, std::uint16_t value, float bias = 0.0f)
{
    ImageData image;
    EXPECT_TRUE(image.Allocate(w, h, 1));
    image.Rows.Fill(value);
    image.OffsetLevel = bias;
    return image;
}

// A loader over frames held by the test; frame k is frames[k - 1].
StackFrameLoader Loader(const std::vector<ImageData> &frames)
{
    return [&frames](int k, ImageData &frame, std::string &) {
        frame.Assign(frames[static_cast<std::size_t>(k - 1)]);
        return true;
    };
}

const StackStatus Quiet = [](const std::string &) {};

StackOptions Unaligned(CombineMethod method, bool normalize = false, bool subtractBias = true)
{
    StackOptions options;
    options.Combine = method;
    options.Alignment = StackAlignment::None;
    options.Normalize = normalize;
    options.SubtractBias = subtractBias;
    return options;
}

TEST(Stacking, CombinationsOfConstantFrames)
{
    struct Case {
        CombineMethod method;
        std::vector<int> values;
        float bias;
        int expected;
    };
    const Case cases[] = {
        {CombineMethod::Median, {30, 10, 20}, 0.0f, 20},
        {CombineMethod::Median, {40, 10, 30, 20}, 0.0f, 20}, // the lower middle of four
        {CombineMethod::Median, {5, 50, 60}, 10.0f, 40},     // 5 - 10 counts as 0: 0, 40, 50
        {CombineMethod::Median, {5, 8, 60}, 10.0f, 0},       // below the bias: 0, not a wrapped value
        {CombineMethod::Average, {10, 20, 31}, 10.0f, 20},   // no bias taken off; truncated
        {CombineMethod::Sum, {30000, 30000, 5535}, 0.0f, 65535},
        {CombineMethod::Sum, {30000, 30000, 5536}, 0.0f, 65535}, // clamped
        {CombineMethod::Sum, {1, 2, 3}, 0.0f, 6},
    };
    for (const Case &c : cases) {
        std::vector<ImageData> frames;
        for (int v : c.values)
            frames.push_back(Constant(3, 2, static_cast<std::uint16_t>(v), c.bias));
        frames.back().Description = "last";
        ImageData result;
        std::string problem;
        ASSERT_TRUE(StackSeries(ImageData(), static_cast<int>(frames.size()), Unaligned(c.method),
                                Loader(frames), Quiet, result, nullptr, problem))
            << problem;
        ASSERT_EQ(result.Width, 3);
        ASSERT_EQ(result.Height, 2);
        EXPECT_EQ(result.Rows[1][2], c.expected) << static_cast<int>(c.method) << " " << c.values[0];
        EXPECT_EQ(result.Description, "last");
        EXPECT_EQ(result.OffsetLevel, 0.0f);
        EXPECT_EQ(result.XHi, 2);
        EXPECT_EQ(result.YHi, 1);
    }
}

TEST(Stacking, MedianNormalisesEveryFrameToTheFirst)
{
    // Levels 100, 200 and 400 above a bias of 50; pixel (1, 1) of the second frame is a cosmic ray.
    std::vector<ImageData> frames;
    for (int level : {100, 200, 400})
        frames.push_back(Constant(5, 4, static_cast<std::uint16_t>(level + 50), 50.0f));
    frames[1].Rows[1][1] = 20000;
    ImageData result;
    StackRun run;
    std::string problem;
    ASSERT_TRUE(StackSeries(ImageData(), 3, Unaligned(CombineMethod::Median, true), Loader(frames), Quiet,
                            result, &run, problem));
    EXPECT_DOUBLE_EQ(run.Factors[2], 4.0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(result.Rows[y][x], 100);
}

// Two stars on a dark sky, rotated by angle about (rx, ry) and then shifted by (dx, dy).
struct Pose {
    double dx, dy, angle;
};
constexpr double Star1X = 90.3, Star1Y = 80.6, Star2X = 220.7, Star2Y = 150.2, RX = 150.0, RY = 120.0;

void Place(const Pose &p, double x, double y, double &px, double &py)
{
    const double c = std::cos(p.angle), s = std::sin(p.angle);
    px = RX + (x - RX) * c - (y - RY) * s + p.dx;
    py = RY + (x - RX) * s + (y - RY) * c + p.dy;
}

ImageData StarFrame(const Pose &p)
{
    ImageData frame = Constant(320, 240, 0);
    for (const auto &[sx, sy] : {std::pair{Star1X, Star1Y}, std::pair{Star2X, Star2Y}}) {
        double cx, cy;
        Place(p, sx, sy, cx, cy);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x) {
                const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                frame.Rows[y][x] =
                    static_cast<std::uint16_t>(frame.Rows[y][x] + 30000.0 * std::exp(-r2 / 8.0));
            }
    }
    return frame;
}

TEST(Stacking, RegistrationRecoversShiftsAndRotation)
{
    // The last frame turns by 0.035 rad and moves star 1 by 11 px: a turn about any point but
    // the frame's own star 1 would leave the stacked star 0.38 px off.
    const std::vector<Pose> poses{{0, 0, 0}, {3.4, -2.7, 0.0}, {-5.25, 4.5, 0.012}, {6.5, -5.5, 0.035}};
    std::vector<ImageData> frames;
    for (const Pose &p : poses)
        frames.push_back(StarFrame(p));
    const ImageData reference = StarFrame({0, 0, 0});
    StackOptions options;
    options.Combine = CombineMethod::Median;
    options.Normalize = options.SubtractBias = false;
    options.Crop = {0, 319, 0, 239};
    options.Box1 = {75, 105, 65, 95};
    options.Box2 = {200, 240, 130, 170};
    for (const Pose &p : poses) // every star stays inside its box
        for (const auto &[sx, sy] : {std::pair{Star1X, Star1Y}, std::pair{Star2X, Star2Y}}) {
            double x, y;
            Place(p, sx, sy, x, y);
            ASSERT_TRUE(std::abs(x - sx) < 9 && std::abs(y - sy) < 9);
        }
    ImageData median, serial;
    StackRun run;
    std::string problem;
    ASSERT_TRUE(StackSeries(reference, 4, options, Loader(frames), Quiet, median, &run, problem)) << problem;
    for (std::size_t k = 0; k < poses.size(); ++k) {
        double x1, y1;
        Place(poses[k], Star1X, Star1Y, x1, y1);
        EXPECT_NEAR(run.Registrations[k].Dx, Star1X - x1, 0.2) << k;
        EXPECT_NEAR(run.Registrations[k].Dy, Star1Y - y1, 0.2) << k;
        // 0.0015 rad moves the far star by 0.2 px.
        EXPECT_NEAR(run.Registrations[k].Angle, poses[k].angle, 0.0015) << k;
    }
    // The stacked stars sit where the reference has them.
    for (const StackRect &box : {options.Box1, options.Box2}) {
        float rx, ry, sx, sy;
        ASSERT_TRUE(BoxStarPosition(reference, box, rx, ry));
        ASSERT_TRUE(BoxStarPosition(median, box, sx, sy));
        EXPECT_NEAR(sx, rx, 0.2);
        EXPECT_NEAR(sy, ry, 0.2);
    }
    // The turned and shifted frame alone lands on the reference's stars.
    std::vector<ImageData> turned;
    turned.push_back(StarFrame(poses.back()));
    options.Combine = CombineMethod::Sum;
    ImageData single;
    ASSERT_TRUE(StackSeries(reference, 1, options, Loader(turned), Quiet, single, nullptr, problem));
    for (const StackRect &box : {options.Box1, options.Box2}) {
        float rx, ry, sx, sy;
        ASSERT_TRUE(BoxStarPosition(reference, box, rx, ry));
        ASSERT_TRUE(BoxStarPosition(single, box, sx, sy));
        EXPECT_NEAR(std::hypot(sx - rx, sy - ry), 0.0, 0.15);
    }
    options.Combine = CombineMethod::Median;
    // Rows shared among threads give the serial result.
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    ASSERT_TRUE(StackSeries(reference, 4, options, Loader(frames), Quiet, serial, nullptr, problem));
    omp_set_num_threads(threads);
    ASSERT_EQ(serial.Width, median.Width);
    EXPECT_TRUE(std::equal(serial.FramePixels(0), serial.FramePixels(0) + serial.PixelCount(),
                           median.FramePixels(0)));
    options.Combine = CombineMethod::Average;
    ImageData average, averageSerial;
    ASSERT_TRUE(StackSeries(reference, 4, options, Loader(frames), Quiet, average, nullptr, problem));
    omp_set_num_threads(1);
    ASSERT_TRUE(StackSeries(reference, 4, options, Loader(frames), Quiet, averageSerial, nullptr, problem));
    omp_set_num_threads(threads);
    EXPECT_TRUE(std::equal(average.FramePixels(0), average.FramePixels(0) + average.PixelCount(),
                           averageSerial.FramePixels(0)));
}

TEST(Stacking, AngleOfCoincidentAndPerpendicularStars)
{
    EXPECT_EQ(RegistrationOf(1, 1, 1, 1, 0, 0, 5, 5, true).Angle, 0.0f);
    EXPECT_EQ(RegistrationOf(1, 1, 9, 1, 0, 0, 5, 5, false).Angle, 0.0f);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> position(-3000.0f, 3000.0f);
    for (int i = 0; i < 2000; ++i) { // exactly perpendicular: the sine may round past 1
        const float ax = position(random), ay = position(random);
        const float angle = RegistrationOf(0, 0, ax, ay, 0, 0, -ay, ax, true).Angle;
        ASSERT_TRUE(std::isfinite(angle)) << ax << " " << ay;
        EXPECT_NEAR(angle, 1.5707963f, 1e-3f);
    }
}

TEST(Stacking, NoiseFallsWithTheSquareRootOfTheFrameCount)
{
    constexpr int N = 16, Side = 96;
    constexpr double Sigma = 20.0;
    std::mt19937 random(2026);
    std::normal_distribution<double> noise(0.0, Sigma);
    std::vector<ImageData> frames;
    for (int k = 0; k < N; ++k) {
        frames.push_back(Constant(Side, Side, 0));
        for (int y = 0; y < Side; ++y)
            for (int x = 0; x < Side; ++x)
                frames.back().Rows[y][x] = static_cast<std::uint16_t>(std::lround(1000.0 + noise(random)));
    }
    const auto deviation = [](const ImageData &image) {
        double sum = 0, sum2 = 0;
        const std::size_t n = image.PixelCount();
        for (std::size_t i = 0; i < n; ++i) {
            sum += image.FramePixels(0)[i];
            sum2 += double(image.FramePixels(0)[i]) * image.FramePixels(0)[i];
        }
        return std::sqrt(sum2 / n - (sum / n) * (sum / n));
    };
    std::string problem;
    ImageData average, median;
    ASSERT_TRUE(StackSeries(ImageData(), N, Unaligned(CombineMethod::Average), Loader(frames), Quiet, average,
                            nullptr, problem));
    ASSERT_TRUE(StackSeries(ImageData(), N, Unaligned(CombineMethod::Median), Loader(frames), Quiet, median,
                            nullptr, problem));
    // sigma / sqrt(N) = 5; the median's efficiency gives about 1.25 times that.
    EXPECT_NEAR(deviation(average), Sigma / std::sqrt(N), 0.4);
    EXPECT_NEAR(deviation(median), 1.2533 * Sigma / std::sqrt(N), 0.6);
}

TEST(Stacking, RefusesMissingFilesDifferentSizesAndEmptyCrops)
{
    TempDir dir;
    ImageData frame = Constant(4, 3, 9);
    ASSERT_TRUE(frame.SaveToFile(dir.file("s_1.kvr"), FormatNative));
    ImageData result = Constant(1, 1, 5);
    std::string problem;
    const StackOptions none = Unaligned(CombineMethod::Sum);
    EXPECT_FALSE(StackSeries(ImageData(), 2, none, SeriesFileLoader(dir.file("s_"), 1, "kvr"), Quiet, result,
                             nullptr, problem));
    EXPECT_EQ(problem, "Could not find file: s_2.kvr");
    EXPECT_EQ(result.Width, 1); // untouched
    ASSERT_TRUE(StackSeries(ImageData(), 1, none, SeriesFileLoader(dir.file("s_"), 1, "kvr"), Quiet, result,
                            nullptr, problem));
    EXPECT_EQ(result.Width, 4);

    std::vector<ImageData> frames;
    frames.push_back(Constant(4, 3, 9));
    frames.push_back(Constant(3, 4, 9));
    EXPECT_FALSE(StackSeries(ImageData(), 2, none, Loader(frames), Quiet, result, nullptr, problem));
    EXPECT_EQ(problem, "Images have different dimensions, cannot proceed.");

    StackOptions aligned = Unaligned(CombineMethod::Average);
    aligned.Alignment = StackAlignment::SingleBox;
    aligned.Box1 = {0, 3, 0, 2};
    aligned.Crop = {10, 20, 0, 2};
    EXPECT_FALSE(StackSeries(Constant(4, 3, 9), 1, aligned, Loader(frames), Quiet, result, nullptr, problem));
    EXPECT_EQ(problem, "The cropping frame lies outside the image.");
    EXPECT_FALSE(StackSeries(ImageData(), 1, aligned, Loader(frames), Quiet, result, nullptr, problem));
    EXPECT_EQ(problem, "A reference image must be loaded");
    EXPECT_FALSE(StackSeries(ImageData(), 0, none, Loader(frames), Quiet, result, nullptr, problem));
}

} // namespace
