// The Qt-free pieces of a run: geometry and its checks, frame names, the amplifier threshold and
// the copy of the settings a frame uses.
#include "acquisition_frame.h"

#include "settings.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{

AcquisitionSettings Sensor(int ncol, int nrow)
{
    AcquisitionSettings s;
    s.NCOL = ncol;
    s.NROW = nrow;
    return s;
}

struct GeometryCase {
    const char *name;
    int xlo, xhi, ylo, yhi, xbin, ybin;
    int columns, rows; // -1: refused
    const char *messagePart;
};

class Geometry : public ::testing::TestWithParam<GeometryCase>
{
};

TEST_P(Geometry, ComputesOrRefuses)
{
    const GeometryCase &c = GetParam();
    AcquisitionSettings s = Sensor(1565, 1032);
    s.XLO = c.xlo;
    s.XHI = c.xhi;
    s.YLO = c.ylo;
    s.YHI = c.yhi;
    s.XBIN = c.xbin;
    s.YBIN = c.ybin;
    AcquisitionHeader header;
    const std::string problem = ComputeRunGeometry(s, header);
    if (c.columns < 0) {
        EXPECT_NE(problem.find(c.messagePart), std::string::npos) << problem;
        EXPECT_EQ(header.Columns, 0); // nothing filled
        EXPECT_EQ(header.SensorColumns, 0);
    } else {
        EXPECT_EQ(problem, "");
        EXPECT_EQ(header.Columns, c.columns);
        EXPECT_EQ(header.Rows, c.rows);
        EXPECT_EQ(header.SensorColumns, 1565);
        EXPECT_EQ(header.SensorRows, 1032);
        EXPECT_EQ(header.XHigh, c.xhi);
        EXPECT_EQ(header.XLow, c.xlo);
        EXPECT_EQ(header.YHigh, c.yhi);
        EXPECT_EQ(header.YLow, c.ylo);
        EXPECT_EQ(header.XBinning, c.xbin);
        EXPECT_EQ(header.YBinning, c.ybin);
        EXPECT_EQ(header.Maximum, 65535);
        EXPECT_EQ(header.Minimum, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Acquisition, Geometry,
    ::testing::Values(
        GeometryCase{"Full", 0, 1564, 0, 1031, 1, 1, 1565, 1032, ""},
        GeometryCase{"OddSpanRoundsUp", 0, 510, 0, 511, 2, 1, 256, 512, ""},
        GeometryCase{"ThreeByThree", 10, 19, 5, 14, 3, 3, 4, 4, ""},
        GeometryCase{"SinglePixel", 7, 7, 9, 9, 1, 1, 1, 1, ""},
        GeometryCase{"ZeroColumnBinning", 0, 99, 0, 99, 0, 1, -1, -1, "Column binning"},
        GeometryCase{"ZeroRowBinning", 0, 99, 0, 99, 1, 0, -1, -1, "Row binning"},
        GeometryCase{"BinningBeyondAByte", 0, 99, 0, 99, 256, 1, -1, -1, "Column binning"},
        GeometryCase{"HighColumnBelowLow", 50, 49, 0, 99, 1, 1, -1, -1, "column index is below"},
        GeometryCase{"HighRowBelowLow", 0, 99, 60, 10, 1, 1, -1, -1, "row index is below"},
        GeometryCase{"NegativeLow", -1, 99, 0, 99, 1, 1, -1, -1, "column index is below"},
        GeometryCase{"BeyondTheSensorColumns", 0, 1565, 0, 99, 1, 1, -1, -1, "beyond the sensor (1565"},
        GeometryCase{"BeyondTheSensorRows", 0, 99, 0, 1032, 1, 1, -1, -1, "beyond the sensor (1032"}),
    [](const ::testing::TestParamInfo<GeometryCase> &info) { return std::string(info.param.name); });

TEST(Geometry, UnknownSensorIsRefused)
{
    AcquisitionSettings s = Sensor(0, 0);
    s.XHI = 10;
    s.YHI = 10;
    AcquisitionHeader header;
    EXPECT_NE(ComputeRunGeometry(s, header).find("sensor size is not known"), std::string::npos);
}

struct NameCase {
    const char *prefix, *postfix;
    bool processed;
    int number, format;
    const char *expected;
};

TEST(FrameFileName, FollowsPrefixPostfixNumberAndFormat)
{
    const NameCase cases[] = {
        {"/obs/m42", "_P", true, 7, 1, "/obs/m42_P_7.fit"},
        {"/obs/m42", "_P", false, 7, 1, "/obs/m42_7.fit"},
        {"/obs/m42", "_P", false, 12, 0, "/obs/m42_12.kvr"},
        {"/obs/m42", "_P", false, 1, 2, "/obs/m42_1.bmp"},
        {"/obs/m42", "_P", false, 1, 3, "/obs/m42_1.png"},
        {"/obs/m42", "_P", false, 1, 4, "/obs/m42_1"}, // "All image formats" names no format
        {"/obs/m42", "_P", false, 1, -1, "/obs/m42_1"},
        {"", "", true, 5, 1, "_5.fit"},
    };
    for (const NameCase &c : cases)
        EXPECT_EQ(FrameFileName(c.prefix, c.postfix, c.processed, c.number, c.format), c.expected);
}

TEST(WholeSeconds, TruncatesAndStaysWithinInt)
{
    EXPECT_EQ(WholeSeconds(30.7f), 30);
    EXPECT_EQ(WholeSeconds(0.2f), 0);
    EXPECT_EQ(WholeSeconds(-3.0f), 0);
    EXPECT_EQ(WholeSeconds(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(WholeSeconds(1.0e12f), 1000000000);
    EXPECT_EQ(WholeSeconds(std::numeric_limits<float>::infinity()), 1000000000);
}

TEST(LowersAmplifier, OnlyAboveFiveSecondsAndWhenSet)
{
    AcquisitionSettings s;
    s.AmpTurnoff = true;
    s.IntTime = 5.0f;
    EXPECT_FALSE(LowersAmplifier(s));
    s.IntTime = 5.1f;
    EXPECT_TRUE(LowersAmplifier(s));
    s.AmpTurnoff = false;
    EXPECT_FALSE(LowersAmplifier(s));
}

TEST(TakeAcquisitionSettings, CopiesTheImagingCameraValues)
{
    Settings settings;
    settings.NImage = {3, 9};
    settings.InitExt = {5, 1};
    settings.XHI = {63, 1};
    settings.XBIN = {2, 4};
    settings.IntTime = {0.2f, 7.0f};
    settings.SaveFile = {"/d/m42", "/d/guide"};
    settings.ThermalFrameApply = {true, false};
    settings.CoolerPowerOn = {false, true};
    settings.CCDTargetTemp = {-20, -5};
    settings.IncrExt = true;
    settings.FocusMode = true;
    const AcquisitionSettings a = TakeAcquisitionSettings(settings, ',');
    EXPECT_EQ(a.NImage, 3);
    EXPECT_EQ(a.InitExt, 5);
    EXPECT_EQ(a.XHI, 63);
    EXPECT_EQ(a.XBIN, 2);
    EXPECT_FLOAT_EQ(a.IntTime, 0.2f);
    EXPECT_EQ(a.SaveFile, "/d/m42");
    EXPECT_TRUE(a.ThermalFrameApply);
    EXPECT_FALSE(a.CoolerPowerOn[0]);
    EXPECT_TRUE(a.CoolerPowerOn[1]);
    EXPECT_EQ(a.CCDTargetTemp[1], -5);
    EXPECT_TRUE(a.IncrExt);
    EXPECT_TRUE(a.FocusMode);
    EXPECT_EQ(a.DecimalSeparator, ',');
}

} // namespace
