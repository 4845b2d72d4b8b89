// Star measurement and resampling: small matrices worked out by hand, and synthetic stars of known
// position and width (gaussians integrated over the pixel areas) for the accuracy reached.
#include "processing/stars.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace
{

UShortMatrix MatrixOf(int w, int h, std::uint16_t value)
{
    UShortMatrix m(h, w);
    m.Fill(value);
    return m;
}

ImageData ImageOf(int w, int h, int frames = 1)
{
    ImageData image;
    EXPECT_TRUE(image.Allocate(w, h, frames));
    for (int y = 0; y < h * frames; ++y)
        for (int x = 0; x < w; ++x)
            image.Rows[y][x] = static_cast<std::uint16_t>(1000 * (y / h) + 10 * y + x); // distinct values
    return image;
}

// A star of total `flux` and gaussian sigma centred at (cx, cy) on a background, each pixel the
// integral of the gaussian over its area (pixel (x, y) covers x - 0.5 .. x + 0.5).
void AddStar(UShortMatrix &m, double cx, double cy, double sigma, double flux, double background)
{
    const double k = 1.0 / (std::sqrt(2.0) * sigma);
    for (int y = 0; y < m.Rows(); ++y)
        for (int x = 0; x < m.Columns(); ++x) {
            const double fx = 0.5 * (std::erf((x + 0.5 - cx) * k) - std::erf((x - 0.5 - cx) * k));
            const double fy = 0.5 * (std::erf((y + 0.5 - cy) * k) - std::erf((y - 0.5 - cy) * k));
            m[y][x] = static_cast<std::uint16_t>(std::lround(background + flux * fx * fy));
        }
}

TEST(Stars, BrightestPixelScansColumnByColumn)
{
    UShortMatrix m = MatrixOf(80, 60, 0);
    float x = -1, y = -1;
    EXPECT_FALSE(FindBrightestPixel(m, 80, 60, x, y)); // nothing lit: the centre, never unset
    EXPECT_EQ(x, 40.0f);
    EXPECT_EQ(y, 30.0f);
    m[40][50] = 900;
    EXPECT_TRUE(FindBrightestPixel(m, 80, 60, x, y));
    EXPECT_EQ(x, 50.0f);
    EXPECT_EQ(y, 40.0f);
    m[20][10] = 900; // equal value in an earlier column wins
    m[50][10] = 900; // ... but not over a lower row of that column
    m[5][30] = 900;
    EXPECT_TRUE(FindBrightestPixel(m, 80, 60, x, y));
    EXPECT_EQ(x, 10.0f);
    EXPECT_EQ(y, 20.0f);
    EXPECT_FALSE(FindBrightestPixel(m, 10, 60, x, y)); // the first ten columns hold no light
    EXPECT_EQ(x, 5.0f);
    EXPECT_EQ(y, 30.0f);
}

TEST(Stars, MedianFilterMatrixClampsTheWindow)
{
    UShortMatrix m(3, 4);
    for (int i = 0; i < 12; ++i)
        m.Data()[i] = static_cast<std::uint16_t>(i + 1); // 1 2 3 4 / 5 6 7 8 / 9 10 11 12
    UShortMatrix out;
    MedianFilterMatrix(m, 3, 4, 3, out);
    // (0,0): 1 1 2 / 1 1 2 / 5 5 6 -> 2; (1,1): 1..11 without 4, 8 -> 6; (3,2): 7 8 8 / 11 12 12 x2 -> 11.
    EXPECT_EQ(out[0][0], 2);
    EXPECT_EQ(out[1][1], 6);
    EXPECT_EQ(out[2][3], 11);
    MedianFilterMatrix(m, 2, 4, 3, out); // offsets -1 .. 0, element 2 of 4
    EXPECT_EQ(out[0][0], 1);
    EXPECT_EQ(out[1][1], 5);
    EXPECT_EQ(out[2][3], 11); // 7 8 11 12
}

TEST(Stars, CentroidsOfFlatAndLoneProfilesAreDefined)
{
    const float peak[] = {0, 0, 10, 0, 0}, ramp[] = {0, 1, 3}, flat[] = {7, 7, 7, 7, 7};
    EXPECT_FLOAT_EQ(ProfileCentroid(peak, 5), 2.0f);
    EXPECT_FLOAT_EQ(ProfileCentroid(ramp, 3), 1.75f); // (1 x 1 + 2 x 3) / 4
    EXPECT_FLOAT_EQ(ProfileCentroid(flat, 5), 2.0f);  // no peak: the centre, not 0 / 0
    EXPECT_FLOAT_EQ(ProfileCentroid(flat, 0), 0.0f);

    // A lone bright pixel on an even background: the median removes it, so the first background
    // pixel wins and the centroid is that of columns and rows 1..6 of its window.
    UShortMatrix m = MatrixOf(100, 80, 100);
    m[40][50] = 60000;
    float x, y;
    FindStarCentroid(m, 100, 80, x, y);
    EXPECT_FLOAT_EQ(x, 3.5f);
    EXPECT_FLOAT_EQ(y, 3.5f);
    m.Fill(0); // no light at all: the centre of the window, never NaN
    FindStarCentroid(m, 100, 80, x, y);
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
    float fx, fy;
    MeasureStarFwhm(m, 100, 80, 50.0f, 40.0f, fx, fy);
    EXPECT_TRUE(std::isfinite(fx) && std::isfinite(fy));
    ImageData dark = ImageOf(30, 30);
    dark.Rows.Fill(0);
    x = 12.25f, y = 17.5f;
    RefineStarCentroid(dark, x, y);
    EXPECT_EQ(x, 12.25f);
    EXPECT_EQ(y, 17.5f);
}

// Accuracy reached on synthetic stars of peak 10000 at sub-pixel positions, worst over the
// positions (pixels, FWHM relative to the true 2.3548 sigma):
//   background  sigma          FindStarCentroid  RefineStarCentroid  MeasureStarFwhm
//   0           1.2 .. 2.0     0.015             0.035               9 % (too wide: pixel area)
//   0           2.5 .. 3.0     0.11              0.095               2.5 %
//   100         1.2 .. 3.0     0.12              0.07                9 %
// FindStarCentroid leaves the background in, so it pulls that centroid towards the pixel its
// window is centred on; the refinement takes the sky off first, so it finds the star wherever in
// it the refinement starts (alignment refines stars picked by hand).
TEST(Stars, SyntheticStarsAreMeasuredToTheStatedAccuracy)
{
    struct Row {
        double background;
        std::vector<double> sigmas;
        double centroid, refined, width;
    } rows[] = {
        {0, {1.2, 1.6, 2.0}, 0.015, 0.035, 0.09},
        {0, {2.5, 3.0}, 0.11, 0.095, 0.025},
        {100, {1.2, 1.6, 2.0, 2.5, 3.0}, 0.12, 0.07, 0.09},
    };
    for (const Row &row : rows)
        for (double sigma : row.sigmas)
            for (double offset : {0.0, 0.23, 0.5, 0.71}) {
                const double cx = 41 + offset, cy = 33 - offset * 0.6;
                UShortMatrix m(64, 80);
                AddStar(m, cx, cy, sigma, 10000.0 * 2 * std::numbers::pi * sigma * sigma, row.background);
                ImageData image;
                ASSERT_TRUE(image.Allocate(80, 64, 1));
                image.CopyPixelsFrom(m);
                float x, y, wx, wy;
                FindStarCentroid(m, 80, 64, x, y);
                EXPECT_LT(std::max(std::abs(x - cx), std::abs(y - cy)), row.centroid)
                    << sigma << " " << offset;
                RefineStarCentroid(image, x, y);
                EXPECT_LT(std::max(std::abs(x - cx), std::abs(y - cy)), row.refined)
                    << sigma << " " << offset;
                MeasureStarFwhm(m, 80, 64, static_cast<float>(cx), static_cast<float>(cy), wx, wy);
                const double truth = 2.0 * std::sqrt(2.0 * std::log(2.0)) * sigma;
                EXPECT_LT(std::max(std::abs(wx - truth), std::abs(wy - truth)) / truth, row.width)
                    << sigma << " " << offset;
            }
}

TEST(Stars, SampleTransformedPixelBilinear)
{
    ImageData image = ImageOf(20, 15); // pixel (x, y) = 10 y + x
    struct Case {
        float x, y, tx, ty, angle, rx, ry, kx, ky;
        int expected;
    } cases[] = {
        {10, 10, 2.5f, 0, 0, 0, 0, 1, 1, 107}, // average of (7, 10) and (8, 10): (107 + 108) / 2 trunc
        {10, 10, 0, 0, 0, 0, 0, 0, 0, 110},    // scale 0 counts as 1: the identity
        {19.5f, 3, 1, 0, 0, 0, 0, 1, 1, 48},   // X = 18.5: mixes the last real column (48, 49)
        {19.5f, 3, 0, 0, 0, 0, 0, 1, 1, 49},   // X = 19.5: within the last column, the edge repeats
        {5, 14.5f, 0, 0, 0, 0, 0, 1, 1, 145},  // Y = 14.5: within the last row
        {20, 3, 0, 0, 0, 0, 0, 1, 1, 0},       // X = 20: outside
        {-0.5f, 3, 0, 0, 0, 0, 0, 1, 1, 0},    // X = -0.5: outside
        {12, 4, 0, 0, 0, 0, 0, 2, 2, 26},      // scale 2: source (6, 2)
        // 90 degrees about (10, 5): source (8.5, 5.3); then shifted by (3, -1): source (7.5, 2.3).
        {10.3f, 6.5f, 0, 0, std::numbers::pi_v<float> / 2, 10, 5, 1, 1, 61},
        {10.3f, 6.5f, 3, -1, std::numbers::pi_v<float> / 2, 10, 5, 1, 1, 30},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SampleTransformedPixel(image, c.x, c.y, c.tx, c.ty, c.angle, c.rx, c.ry, c.kx, c.ky),
                  c.expected)
            << c.x << ", " << c.y << " shift " << c.tx << ", " << c.ty << " angle " << c.angle;
}

// A star shifted, rotated and scaled by known transforms lands where each puts it: the
// intensity-weighted centre of the resampled frame is within 0.01 px of the transformed centre
// (the accuracy of the resampling itself, apart from any star finding).
TEST(Stars, ResampledStarLandsWhereTheTransformPutsIt)
{
    ImageData image;
    ASSERT_TRUE(image.Allocate(120, 100, 1));
    const double cx = 70.3, cy = 38.6, sigma = 2.0;
    AddStar(image.Rows, cx, cy, sigma, 20000.0 * 2 * std::numbers::pi * sigma * sigma, 0);
    const ImageTransform transforms[] = {
        {4.4f, -3.3f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f},
        {4.4f, -3.3f, 0.35f, 60.0f, 50.0f, 1.0f, 1.0f},
        {-2.1f, 5.7f, -0.8f, 55.0f, 45.0f, 1.25f, 0.8f},
    };
    for (const ImageTransform &t : transforms) {
        UShortMatrix out;
        ResampleFrame(image, t, out);
        double sum = 0, sumX = 0, sumY = 0;
        for (int y = 0; y < out.Rows(); ++y)
            for (int x = 0; x < out.Columns(); ++x) {
                sum += out[y][x];
                sumX += x * static_cast<double>(out[y][x]);
                sumY += y * static_cast<double>(out[y][x]);
            }
        // The forward transform of the star's centre: the inverse of the sampling map.
        const double c = std::cos(t.angle), s = std::sin(t.angle), ux = (cx - t.rx) * t.kx,
                     uy = (cy - t.ry) * t.ky;
        const double ex = t.rx + ux * c + uy * s + t.tx, ey = t.ry + uy * c - ux * s + t.ty;
        EXPECT_NEAR(sumX / sum, ex, 0.01) << t.angle;
        EXPECT_NEAR(sumY / sum, ey, 0.01) << t.angle;
    }
}

TEST(Stars, ParallelLoopsGiveTheSerialResult)
{
    ImageData image;
    ASSERT_TRUE(image.Allocate(517, 389, 1));
    for (std::size_t i = 0; i < image.PixelCount(); ++i)
        image.FramePixels(0)[i] = static_cast<std::uint16_t>((i * 2654435761u) >> 16);
    const ImageTransform t{1.7f, -2.2f, 0.3f, 250, 190, 1.1f, 0.9f};
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    UShortMatrix serialSample, serialMedian;
    ResampleFrame(image, t, serialSample);
    MedianFilterMatrix(image.Rows, 3, 517, 389, serialMedian);
    omp_set_num_threads(std::max(threads, 4));
    UShortMatrix parallelSample, parallelMedian;
    ResampleFrame(image, t, parallelSample);
    MedianFilterMatrix(image.Rows, 3, 517, 389, parallelMedian);
    omp_set_num_threads(threads);
    ASSERT_EQ(parallelSample.Size(), serialSample.Size());
    EXPECT_EQ(std::memcmp(parallelSample.Data(), serialSample.Data(), serialSample.Size() * 2), 0);
    EXPECT_EQ(std::memcmp(parallelMedian.Data(), serialMedian.Data(), serialMedian.Size() * 2), 0);
    // The median is that of the sorted clamped window; the frame loop is the single-pixel routine.
    for (int y = 0; y < 389; y += 11)
        for (int x : {0, 1, 250, 515, 516}) {
            std::vector<std::uint16_t> window;
            for (int v = -1; v <= 1; ++v)
                for (int u = -1; u <= 1; ++u)
                    window.push_back(image.Rows[std::clamp(y + v, 0, 388)][std::clamp(x + u, 0, 516)]);
            std::sort(window.begin(), window.end());
            ASSERT_EQ(serialMedian[y][x], window[4]) << x << ", " << y;
        }
    for (int y = 0; y < 389; y += 7)
        for (int x = 0; x < 517; x += 5)
            ASSERT_EQ(serialSample[y][x],
                      SampleTransformedPixel(image, x, y, 1.7f, -2.2f, 0.3f, 250, 190, 1.1f, 0.9f))
                << x << ", " << y;
}

TEST(Stars, CropImageKeepsTheClampedRectangle)
{
    ImageData image = ImageOf(30, 40, 3);
    image.ShiftX = 1.5f;
    ASSERT_TRUE(CropImage(image, 10, 20, 19, 39));
    EXPECT_EQ(image.Width, 10);
    EXPECT_EQ(image.Height, 20);
    EXPECT_EQ(image.Frames, 1);
    EXPECT_EQ(image.XLo, 10);
    EXPECT_EQ(image.XHi, 19);
    EXPECT_EQ(image.YLo, 20);
    EXPECT_EQ(image.YHi, 39);
    EXPECT_FLOAT_EQ(image.ShiftX, 11.5f);
    EXPECT_FLOAT_EQ(image.ShiftY, 20.0f);
    EXPECT_EQ(image.Rows[0][0], 210);
    EXPECT_EQ(image.Rows[19][9], 409);

    ImageData other = ImageOf(30, 40);
    ASSERT_TRUE(CropImage(other, 3, 50, -5, -7)); // corners swapped and beyond the image
    EXPECT_EQ(other.Width, 4);
    EXPECT_EQ(other.Height, 40);
    EXPECT_EQ(other.XLo, 0);
    EXPECT_EQ(other.YHi, 39);
    EXPECT_EQ(other.Rows[39][3], 393);
    ImageData empty;
    EXPECT_FALSE(CropImage(empty, 0, 0, 5, 5));
}

} // namespace
