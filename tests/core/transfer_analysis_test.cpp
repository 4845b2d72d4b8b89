// Gain and read-noise analysis: the sampling rules on images worked out by hand, the data file
// byte for byte, the fit on exact data, and the simulated camera's gain and read noise recovered
// from generated bias and flat series.
#include "transfer_analysis.h"

#include "image_data.h"
#include "image_file.h"
#include "simulator/sim_control.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

using korvi::test::ReadFileBytes;
using korvi::test::TempDir;
using korvi::test::WriteFileBytes;

namespace
{

ImageData Image(int width, int height, const std::function<int(int, int)> &value)
{
    ImageData image;
    EXPECT_TRUE(image.Allocate(width, height, 1));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(value(x, y));
    return image;
}

} // namespace

TEST(TransferAnalysisTest, MedianRangeIgnoresSinglePixels)
{
    struct Case {
        const char *name;
        std::function<int(int, int)> value;
        int minimum, maximum;
    } cases[] = {
        {"FlatWithHotAndColdPixel",
         [](int x, int y) { return x == 30 && y == 10   ? 5000
                                   : x == 25 && y == 20 ? 3
                                                        : 100; }, 100, 100},
        {"RampAlongX", [](int x, int) { return 7 * x; }, 7 * 19, 7 * 54},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ImageData image = Image(60, 40, c.value);
        int minimum = -1, maximum = -1;
        MedianFilteredRange(image, 19, 4, 54, 34, minimum, maximum);
        EXPECT_EQ(minimum, c.minimum);
        EXPECT_EQ(maximum, c.maximum);
    }
}

TEST(TransferAnalysisTest, SamplesAreTheFirstClosestPixelsInColumnOrder)
{
    // Columns are scanned first: the scan meets 10, 30, 20, 20, 40, 15.
    const int values[2][3] = {{10, 20, 40}, {30, 20, 15}};
    const ImageData image = Image(3, 2, [&](int x, int y) { return values[y][x]; });
    using P = std::vector<std::pair<int, int>>;
    // Levels 10, 20, 30, 40.
    EXPECT_EQ(SelectSamplePixels(image, 0, 0, 2, 1, 4, 10, 50), (P{{0, 0}, {1, 0}, {0, 1}, {2, 0}}));
    // Levels 15 and 25: 25 lies as near 20 as 30, and 30 is met first.
    EXPECT_EQ(SelectSamplePixels(image, 0, 0, 2, 1, 2, 15, 35), (P{{2, 1}, {0, 1}}));
    // Level 36 lies nearer 40; level 12 nearer 10.
    EXPECT_EQ(SelectSamplePixels(image, 0, 0, 2, 1, 2, 12, 60), (P{{0, 0}, {2, 0}}));
}

TEST(TransferAnalysisTest, CentralBoxIsAtMostOneHundredSquare)
{
    // 120 x 40: the box is columns 10..109, all 40 rows; pixel value x gives a mean of 59.5.
    const ImageData image = Image(120, 40, [](int x, int) { return x; });
    EXPECT_DOUBLE_EQ(CentralBoxMean(image, 0.0), 59.5);
    EXPECT_DOUBLE_EQ(CentralBoxMean(image, 60.0), -0.5);
}

TEST(TransferDataFileTest, WritesFlagsByIntegerHalfAndReadsWithinTheRange)
{
    TempDir dir;
    const std::string path = dir.file("stats.csv");
    const std::vector<TransferRecord> records = {{1234.5, 36.0, 9}, {-2.0, 40.25, 9}, {0.0, 0.0, 9}};
    ASSERT_TRUE(WriteTransferDataFile(path, records));
    EXPECT_EQ(ReadFileBytes(path), "1.23450e+03, 3.60000e+01, 0\n-2.00000e+00, 4.02500e+01, 1\n"
                                   "0.00000e+00, 0.00000e+00, 1\n");
    std::vector<TransferRecord> kept;
    std::string problem;
    ASSERT_TRUE(ReadTransferDataFile(path, -65535, 65535, kept, problem));
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_DOUBLE_EQ(kept[1].X, -2.0);
    EXPECT_DOUBLE_EQ(kept[1].Y, 40.25);
    EXPECT_EQ(kept[1].F, 1);
    ASSERT_TRUE(ReadTransferDataFile(path, -1, 65535, kept, problem));
    EXPECT_EQ(kept.size(), 2u);

    // Every mean outside the range: nothing kept, and the fit finds no bias values.
    ASSERT_TRUE(ReadTransferDataFile(path, 2000, 65535, kept, problem));
    EXPECT_TRUE(kept.empty());
    TransferFit fit;
    EXPECT_FALSE(FitTransferConstant(kept, fit, problem));
    EXPECT_EQ(problem, "No bias values found!");
}

TEST(TransferDataFileTest, RefusesMissingShortAndDamagedFiles)
{
    TempDir dir;
    WriteFileBytes(dir.file("one.csv"), "1.0, 2.0, 0\n");
    WriteFileBytes(dir.file("bad.csv"), "1.0, 2.0, 0\n1.0; 2.0; 0\n");
    struct Case {
        std::string path, problem;
    } cases[] = {
        {dir.file("none.csv"), "Could not find " + dir.file("none.csv")},
        {dir.file("one.csv"), "File has less than 2 data records."},
        {dir.file("bad.csv"), "Line 2 of " + dir.file("bad.csv") + " is not a data record."},
    };
    for (const Case &c : cases) {
        std::vector<TransferRecord> kept;
        std::string problem;
        EXPECT_FALSE(ReadTransferDataFile(c.path, -65535, 65535, kept, problem));
        EXPECT_EQ(problem, c.problem);
    }
}

TEST(TransferFitTest, FindsTheSlopeOfExactData)
{
    // variance = 0.5 x mean + 10: gain 2 electrons/ADU, noise sqrt(10) x 2 electrons.
    std::vector<TransferRecord> records;
    for (int x : {100, 200, 300, 400})
        records.push_back({double(x), 0.5 * x + 10.0, 0});
    records.push_back({0.0, 10.0, 1});
    records.push_back({1.0, 10.0, 1});
    TransferFit fit;
    std::string problem;
    ASSERT_TRUE(FitTransferConstant(records, fit, problem)) << problem;
    EXPECT_NEAR(fit.gain, 2.0, 2.0 * 0.0005);
    EXPECT_DOUBLE_EQ(fit.biasVariance, 10.0);
    EXPECT_NEAR(fit.noise, std::sqrt(10.0) * 2.0, 0.01);

    // Only lit records, or only bias records: nothing to fit.
    EXPECT_FALSE(FitTransferConstant({records.begin(), records.begin() + 4}, fit, problem));
    EXPECT_FALSE(FitTransferConstant({records.begin() + 4, records.end()}, fit, problem));

    // A slope of a few hundred of the smallest doubles: a step of 0.1 % no longer moves the search
    // (it used to run forever on such a file); refused like no slope at all.
    const double y = std::numeric_limits<double>::min();
    const std::vector<TransferRecord> tiny = {
        {0.0, y, 0}, {1.0, y + 400 * std::numeric_limits<double>::denorm_min(), 0}, {0.5, y, 1}};
    EXPECT_FALSE(FitTransferConstant(tiny, fit, problem));
    EXPECT_EQ(problem, "The data give no slope to fit.");
}

// Bias and flat frames drawn with the simulated imaging camera's gain, bias and read noise: the
// analysis must give back its gain and read noise within 5 %.
TEST(TransferAnalysisTest, RecoversTheSimulatedCamerasGainAndReadNoise)
{
    const korvi::sim::CameraConfig camera = korvi::sim::Config{}.imaging;
    TempDir dir;
    std::mt19937 random(2);
    std::normal_distribution<double> readNoise(0.0, camera.readNoise);
    const int width = 120, height = 90, frames = 30;
    TransferSeries series;
    series.samples = 500;
    series.bin = 10;
    for (int f = 0; f < frames; ++f) {
        for (const bool lit : {false, true}) {
            ImageData image = Image(width, height, [&](int x, int) {
                double electrons = 0.0;
                if (lit) {
                    // A ramp from 300 to 40000 electrons across the frame.
                    const double mean = 300.0 + (40000.0 - 300.0) * x / (width - 1);
                    electrons = std::poisson_distribution<int>(mean)(random);
                }
                const double adu = camera.bias + (electrons + readNoise(random)) / camera.gain;
                return static_cast<int>(std::lround(std::clamp(adu, 0.0, 65535.0)));
            });
            const std::string path = dir.file((lit ? "flat_" : "bias_") + std::to_string(f + 1) + ".kvr");
            ASSERT_TRUE(SaveImageFile(path, 0, image));
            (lit ? series.imageFiles : series.biasFiles).push_back(path);
        }
    }
    std::vector<TransferRecord> records;
    std::string statusError;
    std::vector<std::string> statuses;
    ASSERT_TRUE(AnalyzeTransferSeries(series, records, statusError, [&](const std::string &s) {
        statuses.push_back(s);
    })) << statusError;
    EXPECT_EQ(records.size(), 100u);
    EXPECT_EQ(statuses.front(), "Selecting pixels to sample.");
    TransferFit fit;
    std::string problem;
    ASSERT_TRUE(FitTransferConstant(records, fit, problem)) << problem;
    EXPECT_NEAR(fit.gain, camera.gain, 0.05 * camera.gain);
    EXPECT_NEAR(fit.noise, camera.readNoise, 0.05 * camera.readNoise);

    // A frame of another size stops the analysis before any record is made.
    ASSERT_TRUE(
        SaveImageFile(series.biasFiles[3], 0, Image(width, height - 1, [](int, int) { return 1000; })));
    EXPECT_FALSE(AnalyzeTransferSeries(series, records, statusError, {}));
    EXPECT_TRUE(records.empty());
    EXPECT_NE(statusError.find("120 x 89, not 120 x 90"), std::string::npos) << statusError;
}
