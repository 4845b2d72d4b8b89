// The pixel filters against direct transcriptions of their formulas (one pixel at a time, in the
// plain order), on small images, plus a few results computed by hand; the OpenMP result equals the
// serial one; the refusals (resize factors) and the progress texts.
#include "processing/filters.h"

#include "recording_ui_hooks.h"

#include <gtest/gtest.h>

#include "openmp_threads.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace
{

ImageData MakeImage(int width, int height, const std::function<int(int, int)> &value, int frames = 1)
{
    ImageData image;
    EXPECT_TRUE(image.Allocate(width, height, frames));
    for (int f = 0; f < frames; ++f)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.FrameRow(f, y)[x] = static_cast<std::uint16_t>(value(x, y) + 1000 * f);
    return image;
}

// Noise with flat patches and saturated spots: ties, borders and near-integer sums all occur.
ImageData TestImage(int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<int> values(static_cast<std::size_t>(width) * height);
    for (int &v : values)
        v = static_cast<int>(random() % 4000);
    return MakeImage(width, height, [&](int x, int y) {
        if (x < 4 && y < 5)
            return 500; // flat corner
        if ((x + 3 * y) % 17 == 0)
            return 65535;
        return values[static_cast<std::size_t>(y) * width + x];
    });
}

using Pixels = std::vector<std::uint16_t>;
Pixels Frame0(const ImageData &image)
{
    return Pixels(image.FramePixels(0), image.FramePixels(0) + image.Width * image.Height);
}
int At(const ImageData &image, int x, int y)
{
    return image.FrameRow(0, std::clamp(y, 0, image.Height - 1))[std::clamp(x, 0, image.Width - 1)];
}
std::uint16_t Clamped(double v)
{
    return v <= 0 ? 0 : v >= 65535 ? 65535 : static_cast<std::uint16_t>(std::trunc(v));
}

// ---- transcriptions

Pixels ConvolutionByFormula(const ImageData &image, bool five, const ConvolutionKernels &k)
{
    const int size = five ? 5 : 3, c = size / 2;
    bool single = true;
    float nA = 0, nB = 0;
    for (int m = 0; m < size; ++m)
        for (int n = 0; n < size; ++n) {
            if (k.Cell[m][n][0] != 0 && m != c && n != c)
                single = false;
            nA += k.Cell[m][n][0];
            nB += k.Cell[m][n][1];
        }
    if (!(nA > 0))
        nA = 1;
    if (!(nB > 0))
        nB = 1;
    Pixels out;
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            float sa = 0, sb = 0;
            for (int m = 0; m < size; ++m)
                for (int n = 0; n < size; ++n) {
                    sa += k.Cell[m][n][0] * At(image, x + m - c, y + n - c);
                    sb += k.Cell[m][n][1] * At(image, x + m - c, y + n - c);
                }
            out.push_back(
                Clamped(single ? sa / nA : std::sqrt((sa / nA) * (sa / nA) + (sb / nB) * (sb / nB))));
        }
    return out;
}

Pixels GaussianByFormula(const ImageData &image, int sigma)
{
    double w[31][31], total = 0;
    for (int i = 0; i < 31; ++i)
        for (int j = 0; j < 31; ++j)
            total += w[i][j] = std::exp(-((i - 15) * (i - 15) + (j - 15) * (j - 15)) / (2.0 * sigma * sigma));
    const int r = std::min(3 * sigma, 15);
    Pixels out;
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            double sum = 0;
            for (int i = -r; i <= r; ++i)
                for (int j = -r; j <= r; ++j) {
                    const int xx = x + i, yy = y + j;
                    if (xx >= 1 && xx <= image.Width - 2 && yy >= 1 && yy <= image.Height - 2)
                        sum += w[i + 15][j + 15] / total * At(image, xx, yy);
                }
            out.push_back(Clamped(std::min(sum, 65535.0)));
        }
    return out;
}

Pixels LocalAverageByFormula(const ImageData &image, int radius)
{
    Pixels out;
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            long long sum = 0, count = 0;
            for (int dx = -radius; dx <= radius; ++dx)
                for (int dy = -radius; dy <= radius; ++dy) {
                    const int xx = x + dx, yy = y + dy;
                    if (dx * dx + dy * dy <= radius * radius && xx >= 0 && xx < image.Width && yy >= 0 &&
                        yy < image.Height) {
                        sum += At(image, xx, yy);
                        ++count;
                    }
                }
            out.push_back(static_cast<std::uint16_t>(sum / count));
        }
    return out;
}

Pixels MedianByFormula(const ImageData &image, int n, float factor)
{
    Pixels out;
    std::vector<int> window;
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            window.clear();
            for (int u = 0; u < n; ++u)
                for (int v = 0; v < n; ++v) {
                    const int value = At(image, x + u - n / 2, y + v - n / 2);
                    auto at = window.end(); // insertion sort
                    while (at != window.begin() && *(at - 1) > value)
                        --at;
                    window.insert(at, value);
                }
            const int median = window[n * n / 2], spread = window.back() - window.front(),
                      p = At(image, x, y);
            out.push_back(static_cast<std::uint16_t>(
                static_cast<float>(std::abs(p - median)) > static_cast<float>(spread) * factor ? median : p));
        }
    return out;
}

Pixels MinMaxByFormula(const ImageData &image, int element, bool minimum)
{
    Pixels out;
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            std::vector<int> values;
            for (int row = 0; row < 5; ++row)
                for (int column = 0; column < 5; ++column)
                    if (StructuringElementRows[element][row][column] == '1')
                        values.push_back(At(image, x + column - 2, y + row - 2));
            std::sort(values.begin(), values.end());
            out.push_back(static_cast<std::uint16_t>(minimum ? values.front() : values.back()));
        }
    return out;
}

struct FilterRun {
    const char *name;
    std::function<void(ImageData &)> filter;
    std::function<Pixels(const ImageData &)> formula;
};

ConvolutionKernels Kernel(std::initializer_list<float> a, std::initializer_list<float> b = {}, int size = 3)
{
    ConvolutionKernels k;
    int i = 0;
    for (float v : a) { // given row by row
        k.Cell[i % size][i / size][0] = v;
        ++i;
    }
    i = 0;
    for (float v : b) {
        k.Cell[i % size][i / size][1] = v;
        ++i;
    }
    return k;
}

std::vector<FilterRun> Runs()
{
    std::vector<FilterRun> runs;
    const ConvolutionKernels kernels[] = {
        Kernel({0, -1, 0, -1, 4, -1, 0, -1, 0}),                                // Laplacian cross: single
        Kernel({1, 1, 1, 1, 1, 1, 1, 1, 1}),                                    // box: magnitude, B zero
        Kernel({-1, 0, 1, -2, 0, 2, -1, 0, 1}, {-1, -2, -1, 0, 0, 0, 1, 2, 1}), // Sobel
        Kernel({0.1f, 0.7f, 0.3f, 1.3f, 2.5f, 0.9f, 0.2f, 0.4f, 3.3f}),         // sums like 9.7 round
        Kernel({0, 0, 40, 0, 0, 0, 0, 3, 0, 0, 1, 2, 9, 2, 1, 0, 0, 3, 0, 0, 0, 0, 5, 0, 0}, {}, 5),
        Kernel({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25},
               {-3, 1, 0.5f, 2, 7, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 9, 9, 9, 9, 9, -1, -1, -1, -1, -1}, 5),
    };
    int index = 0;
    for (const ConvolutionKernels &k : kernels) {
        const bool five = index++ >= 4;
        runs.push_back({"convolution", [=](ImageData &i) { ApplyConvolution(i, five, k); },
                        [=](const ImageData &i) { return ConvolutionByFormula(i, five, k); }});
    }
    for (int sigma : {1, 2, 3, 5, 6})
        runs.push_back({"gaussian", [=](ImageData &i) { ApplyGaussianConvolution(i, sigma); },
                        [=](const ImageData &i) { return GaussianByFormula(i, sigma); }});
    for (int radius : {1, 2, 3, 7})
        runs.push_back({"local average", [=](ImageData &i) { ApplyLocalAverage(i, radius); },
                        [=](const ImageData &i) { return LocalAverageByFormula(i, radius); }});
    for (int n : {3, 5, 7})
        for (float factor : {0.0f, 0.5f, 1.0f})
            runs.push_back({"median", [=](ImageData &i) { ApplyMedianFilter(i, n, factor); },
                            [=](const ImageData &i) { return MedianByFormula(i, n, factor); }});
    for (int element = 0; element < 4; ++element)
        for (bool minimum : {true, false})
            runs.push_back({"min/max", [=](ImageData &i) { ApplyMinMaxFilter(element, minimum, i); },
                            [=](const ImageData &i) { return MinMaxByFormula(i, element, minimum); }});
    for (bool gaussian : {true, false})
        runs.push_back(
            {"unsharp mask", [=](ImageData &i) { ApplyUnsharpMask(i, 2, 3, 150, 10, 0.2f, gaussian); },
             [=](const ImageData &i) {
                 const Pixels blurred = gaussian ? GaussianByFormula(i, 2) : LocalAverageByFormula(i, 3);
                 Pixels out;
                 for (std::size_t p = 0; p < blurred.size(); ++p) {
                     const int o = i.FramePixels(0)[p];
                     out.push_back(Clamped(static_cast<float>(10 * (o + 150 - blurred[p])) +
                                           0.2f * static_cast<float>(o)));
                 }
                 return out;
             }});
    return runs;
}

TEST(Filters, EveryFilterEqualsItsFormulaPixelForPixel)
{
    for (const auto &[width, height, seed] :
         {std::tuple{23, 17, 1u}, {40, 31, 2u}, {2, 5, 3u}, {1, 1, 4u}, {1030, 3, 5u}}) {
        const ImageData input = TestImage(width, height, seed);
        for (const FilterRun &run : Runs()) {
            ImageData image;
            image.Assign(input);
            run.filter(image);
            EXPECT_EQ(Frame0(image), run.formula(input)) << run.name << " on " << width << " x " << height;
        }
    }
}

TEST(Filters, FlatImagesGiveTheFormulasTruncationsEvenWhereTheSumsAreWholeNumbers)
{
    // Large sigmas sum the whole normalised table over flat ground: the sums sit on whole numbers.
    const ImageData input = MakeImage(45, 40, [](int x, int) { return x < 30 ? 1000 : 65535; });
    for (int sigma : {5, 9}) {
        ImageData image;
        image.Assign(input);
        ApplyGaussianConvolution(image, sigma);
        EXPECT_EQ(Frame0(image), GaussianByFormula(input, sigma)) << sigma;
    }
    // A frame of ones, 33 x 33: the centre's window (radius 15) lies wholly on contributing pixels,
    // so its weights add up to one and it stays 1. Summed along rows and then columns, the sum
    // falls just below 1 for these sigmas (and would truncate to 0).
    const ImageData ones = MakeImage(33, 33, [](int, int) { return 1; });
    for (int sigma : {7, 10}) {
        ImageData image;
        image.Assign(ones);
        ApplyGaussianConvolution(image, sigma);
        EXPECT_EQ(image.FrameRow(0, 16)[16], 1) << sigma;
        EXPECT_EQ(Frame0(image), GaussianByFormula(ones, sigma)) << sigma;
    }
}

TEST(Filters, SerialAndParallelResultsAreIdentical)
{
    const ImageData input = TestImage(211, 700, 7); // tall enough for several row blocks at every reach
    const int threads = omp_get_max_threads();
    for (const FilterRun &run : Runs()) {
        ImageData serial, parallel;
        serial.Assign(input);
        parallel.Assign(input);
        omp_set_num_threads(1);
        run.filter(serial);
        omp_set_num_threads(std::max(threads, 4));
        run.filter(parallel);
        EXPECT_EQ(Frame0(serial), Frame0(parallel)) << run.name;
    }
    omp_set_num_threads(threads);
}

TEST(Filters, HandComputedResults)
{
    // Local average radius 1: the pixel and its four direct neighbours (three in a corner).
    ImageData image = MakeImage(3, 3, [](int x, int y) { return 10 * (x + 3 * y); });
    ApplyLocalAverage(image, 1);
    EXPECT_EQ(image.FrameRow(0, 1)[1], (40 + 10 + 30 + 50 + 70) / 5);
    EXPECT_EQ(image.FrameRow(0, 0)[0], (0 + 10 + 30) / 3);

    // A box of ones is |SA| / 9; a negative Laplacian response is clamped to 0, not wrapped.
    image = MakeImage(3, 3, [](int x, int y) { return x == 1 && y == 1 ? 900 : 0; });
    ApplyConvolution(image, false, Kernel({1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(image.FrameRow(0, 0)[0], 100);
    image = MakeImage(3, 3, [](int x, int y) { return x == 1 && y == 1 ? 0 : 900; });
    ApplyConvolution(image, false, Kernel({0, -1, 0, -1, 4, -1, 0, -1, 0}));
    EXPECT_EQ(image.FrameRow(0, 1)[1], 0);
    image = MakeImage(3, 3, [](int x, int y) { return x == 1 && y == 1 ? 60000 : 0; });
    ApplyConvolution(image, false, Kernel({0, -1, 0, -1, 4, -1, 0, -1, 0}));
    EXPECT_EQ(image.FrameRow(0, 1)[1], 65535);

    // Median 3, factor 0.5: a spike of 2000 over 10..18 (median 15, spread 1990) goes; with
    // factor 1 it differs by less than the spread and stays.
    image = MakeImage(3, 3, [](int x, int y) { return x == 1 && y == 1 ? 2000 : 10 + x + 3 * y; });
    ApplyMedianFilter(image, 3, 0.5f);
    EXPECT_EQ(image.FrameRow(0, 1)[1], 15);
    image = MakeImage(3, 3, [](int x, int y) { return x == 1 && y == 1 ? 2000 : 10 + x + 3 * y; });
    ApplyMedianFilter(image, 3, 1.0f);
    EXPECT_EQ(image.FrameRow(0, 1)[1], 2000);

    // Threshold, bias, equalization mapping.
    image = MakeImage(4, 1, [](int x, int) { return std::vector{5, 100, 7000, 65535}[x]; });
    ClipImage(image, 6000, 50);
    EXPECT_EQ(Frame0(image), (Pixels{50, 100, 6000, 6000}));
    SubtractThreshold(image, 99);
    EXPECT_EQ(Frame0(image), (Pixels{0, 1, 5901, 5901}));
    std::vector<float> table(65536);
    for (int i = 0; i < 65536; ++i)
        table[i] = i * 20.5f - 10.0f;
    ApplyHistogramEqualization(image, table.data());
    EXPECT_EQ(Frame0(image), (Pixels{0, 10, 65535, 65535}));
    int minimum = 0, maximum = 0;
    FindRegionMinMax(image, minimum, maximum, 1, 0, 2, 0);
    EXPECT_EQ(minimum, 10);
    EXPECT_EQ(maximum, 65535);
}

TEST(Filters, ResizeTakesTheNearestPixelAndNeverReadsPastARow)
{
    ImageData image = MakeImage(
        101, 101, [](int x, int y) { return x + 200 * y; }, 3);
    image.XBin = image.YBin = 2;
    ASSERT_TRUE(ResizeImage(0.5, 0.5, image));
    EXPECT_EQ(image.Width, 51);
    EXPECT_EQ(image.Height, 51);
    EXPECT_EQ(image.Frames, 1);
    EXPECT_EQ(image.XBin, 1);
    // The display buffer, cut down from the old one, fits the new size and stays opaque.
    ASSERT_EQ(image.Rgba.size(), std::size_t{51 * 51 * 4});
    EXPECT_EQ(std::count(image.Rgba.begin(), image.Rgba.end(), 255), 51 * 51 * 4);
    EXPECT_EQ(image.FrameRow(0, 50)[50], 100 + 200 * 100);
    EXPECT_EQ(image.FrameRow(0, 7)[3], 6 + 200 * 14);

    // 5 x 12.200000000000001 rounds up to 62 columns; the last one's source, 61 / 12.2..., comes
    // out as column 5, past the row's end, and is taken as its last pixel.
    image = MakeImage(5, 2, [](int x, int y) { return x + 10 * y; });
    ASSERT_TRUE(ResizeImage(122 * 0.1, 1.0, image));
    ASSERT_EQ(image.Width, 62);
    EXPECT_EQ(image.FrameRow(0, 1)[61], 14);

    for (double bad : {0.0, -1.0, std::nan("")}) {
        ImageData kept = MakeImage(4, 4, [](int x, int) { return x; });
        EXPECT_FALSE(ResizeImage(bad, 1.0, kept));
        EXPECT_FALSE(ResizeImage(1.0, bad, kept));
        EXPECT_EQ(kept.Width, 4);
        EXPECT_EQ(kept.FrameRow(0, 3)[3], 3);
    }
}

TEST(Filters, ProgressTextsAndSilentProcessing)
{
    korvi::test::RecordingUiHooks hooks;
    ImageData image = TestImage(20, 20, 9);
    ApplyMedianFilter(image, 3, 0.0f);
    std::vector<std::string> events = hooks.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "start Applying median filter...");
    EXPECT_EQ(events[events.size() - 2], "step 100");
    EXPECT_EQ(events.back(), "end");
    hooks.Clear();
    SilentProcessing = true;
    ApplyUnsharpMask(image, 1, 1, 0, 1, 1.0f, true);
    SilentProcessing = false;
    EXPECT_TRUE(hooks.Events().empty());
}

} // namespace
