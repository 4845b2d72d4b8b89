// Statistics of a region chosen by the statistics window's corner numbers, and the statistics
// file byte for byte.
#include "processing/statistics.h"

#include "../image_test_images.h"
#include "image_data.h"
#include "recording_ui_hooks.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{

using namespace korvi::test;

// 4 x 3, pixel (x, y) = 1 + x + 4y: the values 1..12 once each.
ImageData Ramp()
{
    ImageData image;
    FillImage(image, 4, 3, 1, [](int x, int y, int) { return static_cast<std::uint16_t>(1 + x + 4 * y); });
    return image;
}

TEST(Statistics, FullImageCornersCoverEveryPixelWhateverTheSensorSubFrame)
{
    ImageData image = Ramp();
    image.XLo = 100; // taken from a sub-frame far from the sensor's corner
    image.XHi = 104;
    image.YLo = 50;
    image.YHi = 53;
    const StatisticsCorners corners = FullImageCorners(image);
    EXPECT_EQ(corners.XLo, 1);
    EXPECT_EQ(corners.XHi, 5);
    EXPECT_EQ(corners.YLo, 1);
    EXPECT_EQ(corners.YHi, 4);
    std::vector<std::uint32_t> histogram(65536, 99);
    const StatisticsResult r = ComputeCornerStatistics(image, corners, histogram.data());
    EXPECT_FLOAT_EQ(r.Mean, 6.5f);
    EXPECT_EQ(r.Minimum, 1);
    EXPECT_EQ(r.Maximum, 12);
    EXPECT_FLOAT_EQ(r.Median, 6.0f);                         // first value with 6 of 12 at or below it
    EXPECT_EQ(r.Mode, 1);                                    // all tie: the first pixel scanned
    EXPECT_NEAR(r.StandardDeviation, std::sqrt(13.0), 1e-5); // 143 / 11
    EXPECT_EQ(histogram[0], 0u);
    EXPECT_EQ(histogram[12], 1u);
}

TEST(Statistics, SelectionCornersDescribeTheInclusiveSelection)
{
    ImageData image = Ramp();
    image.SelX0 = 2; // corners in either order
    image.SelX1 = 1;
    image.SelY0 = 1;
    image.SelY1 = 2;
    const StatisticsCorners corners = SelectionCorners(image);
    EXPECT_EQ(corners.XLo, 2);
    EXPECT_EQ(corners.XHi, 4);
    std::vector<std::uint32_t> histogram(65536);
    const StatisticsResult r = ComputeCornerStatistics(image, corners, histogram.data());
    // Columns 1..2, rows 1..2: 6, 7, 10, 11.
    EXPECT_EQ(r.Minimum, 6);
    EXPECT_EQ(r.Maximum, 11);
    EXPECT_FLOAT_EQ(r.Mean, 8.5f);
}

TEST(Statistics, CornersOutsideTheImageAreCut)
{
    const ImageData image = Ramp();
    std::vector<std::uint32_t> histogram(65536);
    const StatisticsResult r = ComputeCornerStatistics(image, {-5, 900, 3, 900}, histogram.data());
    EXPECT_EQ(r.Minimum, 9); // rows 2.. only
    EXPECT_EQ(r.Maximum, 12);
}

TEST(Statistics, FileHoldsResultsRegionAndNonEmptyBins)
{
    RecordingUiHooks ui(',');
    TempDir dir;
    std::vector<std::uint32_t> histogram(65536);
    histogram[3] = 2;
    histogram[5] = 7;
    StatisticsResult r;
    r.Mean = 4.56f;
    r.Median = 5.9f;
    r.StandardDeviation = 0.96f;
    r.Minimum = 3;
    r.Maximum = 5;
    r.Mode = 5;
    ASSERT_TRUE(WriteStatisticsFile(dir.file("s.csv"), r, {2, 11, 3, 12}, histogram.data()));
    EXPECT_EQ(ReadFileBytes(dir.file("s.csv")), "IMAGE STATISTICS \n"
                                                "Average intensity, 4,6\n"
                                                "Maximum intensity, 5\n"
                                                "Minimum intensity, 3\n"
                                                "Median intensity, 5\n"
                                                "Maximal intensity, 5\n"
                                                "Standard deviation, 1,0\n"
                                                "\n"
                                                "SAMPLED IMAGE AREA \n"
                                                "X_LO, 2\n"
                                                "X_HI, 11\n"
                                                "Y_LO, 3\n"
                                                "Y_HI, 12\n"
                                                "\n"
                                                "HISTOGRAM DATA \n"
                                                "Intensity, Occurence \n"
                                                "3, 2\n"
                                                "5, 7\n");
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(Statistics, FileNamesWithoutADotGetTheExtension)
{
    struct Case {
        const char *chosen, *written;
    };
    for (const Case c : {Case{"/d/stats", "/d/stats.csv"}, Case{"/d/stats.txt", "/d/stats.txt"},
                         Case{"/d.x/stats", "/d.x/stats.csv"}, Case{"/d/a.b.csv", "/d/a.b.csv"}})
        EXPECT_EQ(StatisticsFileName(c.chosen), c.written) << c.chosen;
}

TEST(Statistics, AFileThatCannotBeWrittenIsReported)
{
    RecordingUiHooks ui;
    TempDir dir;
    std::vector<std::uint32_t> histogram(65536);
    EXPECT_FALSE(WriteStatisticsFile(dir.file("missing/s.csv"), {}, {}, histogram.data()));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find("missing/s.csv"), std::string::npos);
}

} // namespace
