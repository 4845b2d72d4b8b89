// Fourier filtering on synthetic images with known spectra, and against numpy's FFT.
#include "processing/fourier.h"

#include "../image_test_images.h"
#include "image_data.h"
#include "recording_ui_hooks.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

namespace
{

using namespace korvi::test;

constexpr double Pi = std::numbers::pi;

// The largest difference between the image and value(x, y).
template <typename F> int WorstDifference(const ImageData &image, F value)
{
    int worst = 0;
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x)
            worst = std::max(worst, std::abs(image.FrameRow(0, y)[x] - static_cast<int>(value(x, y))));
    return worst;
}

// 64 x 64: a level of 1000 with a sine of amplitude 500 and 8 periods across the image.
ImageData Stripes()
{
    ImageData image;
    FillImage(image, 64, 64, 1, [](int x, int, int) {
        return static_cast<std::uint16_t>(std::lround(1000 + 500 * std::sin(2 * Pi * 8 * x / 64)));
    });
    return image;
}

TEST(Fourier, LowPassBelowTheStripesRemovesThemAndHighPassKeepsOnlyThem)
{
    ImageData image = Stripes();
    FourierFilter filter;
    ASSERT_TRUE(filter.Transform(image));
    EXPECT_EQ(filter.Size(), 64);
    // Zero frequency holds the sum; the stripes sit at (8, 0) and (56, 0) with N^2 * 500 / 2.
    EXPECT_NEAR(filter.Power(0, 0), std::pow(64.0 * 64 * 1000, 2), 1e6);
    EXPECT_NEAR(std::sqrt(filter.Power(8, 0)), 64.0 * 64 * 250, 2000);
    EXPECT_NEAR(std::sqrt(filter.Power(56, 0)), 64.0 * 64 * 250, 2000);
    EXPECT_LT(filter.Power(8, 1), 1.0);
    EXPECT_DOUBLE_EQ(filter.PeakPower(), filter.Power(0, 0));

    ASSERT_TRUE(filter.Filter(image, 4, false, 0));
    EXPECT_LE(WorstDifference(image, [](int, int) { return 1000; }), 1);

    // The kept spectrum is unchanged by a filter: a high pass works from the same spectrum.
    ASSERT_TRUE(filter.Filter(image, 4, true, 0));
    EXPECT_LE(
        WorstDifference(image, [](int x, int) { return std::max(0.0, 500 * std::sin(2 * Pi * 8 * x / 64)); }),
        1);
}

TEST(Fourier, FiltersThatPassEverythingGiveTheImageBack)
{
    ImageData image;
    FillImage(image, 100, 60, 1,
              [](int x, int y, int) { return static_cast<std::uint16_t>((x * 37 + y * 101) % 4000); });
    ImageData original;
    original.Assign(image);
    FourierFilter filter;
    ASSERT_TRUE(filter.Transform(image));
    EXPECT_EQ(filter.Size(), 100);
    ASSERT_TRUE(filter.Filter(image, 0, true, 5)); // high pass from 0
    EXPECT_LE(WorstDifference(image, [&](int x, int y) { return original.FrameRow(0, y)[x]; }), 1);
    ASSERT_TRUE(filter.Filter(image, 71, false, 9)); // low pass beyond N / sqrt(2)
    EXPECT_LE(WorstDifference(image, [&](int x, int y) { return original.FrameRow(0, y)[x]; }), 1);
}

TEST(Fourier, PaddingHoldsTheEdgeMeanAroundTheCentredImage)
{
    // 6 x 2 image, N = 6: rows 2 and 3 of the square hold the image, the rest the edge mean.
    ImageData image;
    FillImage(image, 6, 2, 1, [](int x, int y, int) { return static_cast<std::uint16_t>(10 * x + y); });
    FourierFilter filter;
    ASSERT_TRUE(filter.Transform(image));
    // Edge: both rows (every pixel) plus the first and last column of each row, over 2*6 + 2*2.
    const double edge = (150 + 156 + (0 + 50 + 1 + 51)) / 16.0;
    EXPECT_DOUBLE_EQ(filter.EdgeMean(), edge);
    double re = 0, im = 0;
    filter.Element(0, 0, re, im);
    EXPECT_NEAR(re, 306 + 24 * edge, 1e-9);
    // Along the columns the square is image rows 2..3 between constant rows: row frequency 3
    // (the Nyquist row) sums (-1)^k over the rows: 4 edge rows cancel, rows 2 and 3 give
    // sum(row 0) - sum(row 1) = -6.
    filter.Element(0, 3, re, im);
    EXPECT_NEAR(re, 150 - 156, 1e-9);
    EXPECT_NEAR(im, 0, 1e-9);
}

TEST(Fourier, AnImageOfAnotherSizeIsRefused)
{
    ImageData image = Stripes();
    FourierFilter filter;
    ASSERT_TRUE(filter.Transform(image));
    ImageData other;
    FillImage(other, 64, 32, 1, [](int, int, int) { return 7; });
    EXPECT_FALSE(filter.Filter(other, 4, false, 0));
    EXPECT_EQ(other.FrameRow(0, 0)[0], 7);
    EXPECT_EQ(FourierFilter::BytesNeeded(4096), 2ull * 4096 * 2049 * 16);
}

// numpy reference: the same padding, numpy's fft2, the radial mask on signed frequencies, ifft2.
const char *NumpyFilter = R"(import numpy as np, sys
w, h, r, high, ew = [int(a) for a in sys.argv[1:6]]
img = np.fromfile(sys.argv[6], dtype='<u2').reshape(h, w).astype(np.float64)
n = max(w, h)
edge = (img[0].sum() + img[-1].sum() + img[:, 0].sum() + img[:, -1].sum()) / (2 * w + 2 * h)
a = np.full((n, n), edge)
if n == w:
    o = (n - h) // 2; a[o:o + h, :] = img
else:
    o = (n - w) // 2; a[:, o:o + w] = img
spectrum_values = np.fft.fft2(a)
spectrum_values.astype('<c16').tofile(sys.argv[7] + '.spectrum')
f = np.fft.fftfreq(n) * n
d = np.trunc(np.sqrt(f[:, None] ** 2 + f[None, :] ** 2)).astype(int)
inv = np.float32(1.0) / np.float32(ew * ew) if ew > 0 else 0.0
g = max(r - 3 * ew if high else r + 3 * ew, 0)
edgef = np.exp(-((d - r) ** 2) * float(inv))
if high:
    m = np.where(d >= r, 1.0, np.where((ew > 0) & (d >= g), edgef, 0.0))
else:
    m = np.where(d <= r, 1.0, np.where((ew > 0) & (d <= g), edgef, 0.0))
out = np.trunc(np.clip(np.fft.ifft2(spectrum_values * m).real, 0, 65535))
out = out[o:o + h, :] if n == w else out[:, o:o + w]
out.astype('<u2').tofile(sys.argv[7])
)";

struct NumpyCase {
    const char *name;
    int width, height, cutoff;
    bool highPass;
    int edgeWidth;
};

class FourierNumpy : public ::testing::TestWithParam<NumpyCase>
{
};

TEST_P(FourierNumpy, MatchesNumpy)
{
    if (!PythonHas("numpy"))
        GTEST_SKIP() << "Debian's python3 with numpy is not installed";
    const NumpyCase c = GetParam();
    TempDir dir;
    ImageData image;
    unsigned seed = 12345;
    FillImage(image, c.width, c.height, 1, [&](int x, int y, int) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<std::uint16_t>(20000 + 8000 * std::sin(0.3 * x + 0.2 * y) + (seed >> 16) % 3000);
    });
    std::string raw(reinterpret_cast<const char *>(image.FramePixels(0)), image.PixelCount() * 2);
    WriteFileBytes(dir.file("in.raw"), raw);
    WriteFileBytes(dir.file("filter.py"), NumpyFilter);
    const std::string command =
        std::string(DebianPython) + " " + dir.file("filter.py") + " " + std::to_string(c.width) + " " +
        std::to_string(c.height) + " " + std::to_string(c.cutoff) + " " + std::to_string(c.highPass) + " " +
        std::to_string(c.edgeWidth) + " " + dir.file("in.raw") + " " + dir.file("out.raw");
    ASSERT_EQ(std::system(command.c_str()), 0);

    FourierFilter filter;
    ASSERT_TRUE(filter.Transform(image));
    const int n = filter.Size();
    const std::string spectrum = ReadFileBytes(dir.file("out.raw.spectrum"));
    ASSERT_EQ(spectrum.size(), static_cast<std::size_t>(n) * n * 16);
    const double *expected = reinterpret_cast<const double *>(spectrum.data());
    double worstSpectrum = 0;
    for (int k = 0; k < n; ++k)
        for (int j = 0; j < n; ++j) {
            double re, im;
            filter.Element(j, k, re, im);
            const double *e = expected + 2 * (static_cast<std::size_t>(k) * n + j);
            worstSpectrum = std::max({worstSpectrum, std::abs(re - e[0]), std::abs(im - e[1])});
        }
    EXPECT_LT(worstSpectrum, 1e-6 * n * n * 65535);

    ASSERT_TRUE(filter.Filter(image, c.cutoff, c.highPass, c.edgeWidth));
    const std::string out = ReadFileBytes(dir.file("out.raw"));
    ASSERT_EQ(out.size(), image.PixelCount() * 2);
    const std::uint16_t *want = reinterpret_cast<const std::uint16_t *>(out.data());
    int worst = 0;
    for (std::size_t i = 0; i < image.PixelCount(); ++i)
        worst = std::max(worst, std::abs(image.FramePixels(0)[i] - want[i]));
    EXPECT_LE(worst, 1); // truncation of values a rounding error away from a whole number
}

INSTANTIATE_TEST_SUITE_P(Cases, FourierNumpy,
                         ::testing::Values(NumpyCase{"WideLowPassGaussianEdge", 48, 30, 7, false, 3},
                                           NumpyCase{"TallHighPassGaussianEdge", 20, 33, 5, true, 2},
                                           NumpyCase{"OddSquareLowPassSharp", 45, 45, 9, false, 0},
                                           NumpyCase{"OddHighPassSharp", 31, 17, 3, true, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

// With signed frequencies an odd square treats a pattern and its mirror image alike.
TEST(Fourier, OddSizeCutOffIsSymmetric)
{
    const auto make = [](int sign) {
        ImageData image;
        FillImage(image, 63, 63, 1, [sign](int x, int y, int) {
            return static_cast<std::uint16_t>(
                std::lround(2000 + 900 * std::cos(2 * Pi * (5 * x + sign * 3 * y) / 63)));
        });
        return image;
    };
    for (const int sign : {1, -1}) {
        ImageData image = make(sign);
        FourierFilter filter;
        ASSERT_TRUE(filter.Transform(image));
        // d(5, 3) = trunc(5.83) = 5: a low pass to 5 keeps the pattern, to 4 removes it.
        ImageData kept;
        kept.Assign(image);
        ASSERT_TRUE(filter.Filter(kept, 5, false, 0));
        EXPECT_LE(WorstDifference(kept, [&](int x, int y) { return image.FrameRow(0, y)[x]; }), 2) << sign;
        ASSERT_TRUE(filter.Filter(image, 4, false, 0));
        EXPECT_LE(WorstDifference(image, [](int, int) { return 2000; }), 2) << sign;
    }
}

} // namespace
