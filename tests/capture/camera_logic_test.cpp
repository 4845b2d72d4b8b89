// The Qt-free helpers of the camera controls: the filter wheel's shorter way round, the checks
// of a sub-frame before a run, and the USB read test's report.
#include "filter_wheel.h"
#include "subframe_check.h"
#include "usb_read_test.h"

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace
{

struct MoveCase {
    int current, target, steps;
    bool forward;
};

// Test names and failure texts show the case, not its bytes.
void PrintTo(const MoveCase &c, std::ostream *os)
{
    *os << c.current << " to " << c.target;
}

class FilterMoveTest : public ::testing::TestWithParam<MoveCase>
{
};

TEST_P(FilterMoveTest, TakesTheShorterWayRound)
{
    const MoveCase &c = GetParam();
    const FilterMove move = PlanFilterMove(c.current, c.target);
    EXPECT_EQ(move.steps, c.steps);
    if (c.steps > 0) {
        EXPECT_EQ(move.forward, c.forward);
    }
}

INSTANTIATE_TEST_SUITE_P(Wheel, FilterMoveTest,
                         ::testing::Values(MoveCase{5, 1, 2, true},  // 5 -> 6 -> 1
                                           MoveCase{5, 2, 3, false}, // exactly three runs backward
                                           MoveCase{1, 4, 3, false}, MoveCase{1, 3, 2, true},
                                           MoveCase{2, 1, 1, false}, MoveCase{6, 1, 1, true},
                                           MoveCase{1, 6, 1, false}, MoveCase{3, 5, 2, true},
                                           MoveCase{4, 4, 0, true},
                                           // stored positions outside the wheel are clamped first
                                           MoveCase{0, 3, 2, true}, MoveCase{-4, 1, 0, true},
                                           MoveCase{9, 1, 1, true}, MoveCase{9, 6, 0, true},
                                           // targets outside the wheel never move it
                                           MoveCase{3, 0, 0, true}, MoveCase{3, 7, 0, true}),
                         [](const ::testing::TestParamInfo<MoveCase> &info) {
                             auto name = [](int p) {
                                 return p < 0 ? "Minus" + std::to_string(-p) : std::to_string(p);
                             };
                             return "From" + name(info.param.current) + "To" + name(info.param.target);
                         });

TEST(FilterPositionTest, ClampAndRange)
{
    EXPECT_EQ(ClampFilterPosition(0), 1);
    EXPECT_EQ(ClampFilterPosition(3), 3);
    EXPECT_EQ(ClampFilterPosition(12), 6);
    EXPECT_FALSE(IsFilterPosition(0));
    EXPECT_TRUE(IsFilterPosition(1));
    EXPECT_TRUE(IsFilterPosition(6));
    EXPECT_FALSE(IsFilterPosition(7));
}

struct FrameCase {
    const char *name;
    SubframeValues values;
    const char *message; // empty: accepted
};

void PrintTo(const FrameCase &c, std::ostream *os)
{
    *os << c.name;
}

class SubframeCheckTest : public ::testing::TestWithParam<FrameCase>
{
};

TEST_P(SubframeCheckTest, NamesTheFieldAtFault)
{
    EXPECT_EQ(CheckSubframe(GetParam().values), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SubframeCheckTest,
    ::testing::Values(
        FrameCase{"WholeSensor", {0, 796, 0, 519, 1, 1, 797, 520}, ""},
        FrameCase{"OnePixel", {5, 5, 7, 7, 1, 1, 797, 520}, ""},
        FrameCase{"SensorUnknown", {0, 5000, 0, 5000, 2, 2, 0, 0}, ""},
        FrameCase{"ZeroColumnBins", {0, 10, 0, 10, 0, 1, 797, 520}, "Column bins must be at least 1."},
        FrameCase{"NegativeRowBins", {0, 10, 0, 10, 1, -2, 797, 520}, "Row bins must be at least 1."},
        FrameCase{"NegativeLowColumn",
                  {-1, 10, 0, 10, 1, 1, 797, 520},
                  "Lowest column index must not be negative."},
        FrameCase{
            "NegativeLowRow", {0, 10, -3, 10, 1, 1, 797, 520}, "Lowest row index must not be negative."},
        FrameCase{"ColumnsReversed",
                  {11, 10, 0, 10, 1, 1, 797, 520},
                  "Highest column index must not be below the lowest column index."},
        FrameCase{"RowsReversed",
                  {0, 10, 9, 8, 1, 1, 797, 520},
                  "Highest row index must not be below the lowest row index."},
        FrameCase{"ColumnPastSensor",
                  {0, 797, 0, 10, 1, 1, 797, 520},
                  "Highest column index must be inside the sensor (at most 796)."},
        FrameCase{"RowPastSensor",
                  {0, 10, 0, 520, 1, 1, 797, 520},
                  "Highest row index must be inside the sensor (at most 519)."}),
    [](const ::testing::TestParamInfo<FrameCase> &info) { return std::string(info.param.name); });

TEST(UsbReadTestReportTest, RateOfATransfer)
{
    const UsbReadTestReport report = DescribeUsbReadTest(2.0, '.');
    EXPECT_TRUE(report.succeeded);
    EXPECT_EQ(report.panel, 1);
    // 2097152 bytes in 2 s = 1024 kB/s.
    EXPECT_EQ(report.text, "2097152 bytes read in 2.0 s (1024.000 kB/s).");
    EXPECT_EQ(DescribeUsbReadTest(0.25f, ',').text, "2097152 bytes read in 0,3 s (8192,000 kB/s).");
    EXPECT_EQ(DescribeUsbReadTest(3.0, '.').text, "2097152 bytes read in 3.0 s (682.667 kB/s).");
}

TEST(UsbReadTestReportTest, TenSecondsOrMoreIsATimeout)
{
    const UsbReadTestReport timeout = DescribeUsbReadTest(10.0, '.');
    EXPECT_FALSE(timeout.succeeded);
    EXPECT_EQ(timeout.panel, 2);
    EXPECT_EQ(timeout.text, "USB timeout.");
    EXPECT_EQ(DescribeUsbReadTest(37.5, '.').text, "USB timeout.");
    EXPECT_TRUE(DescribeUsbReadTest(9.99, '.').succeeded);
}

TEST(UsbReadTestReportTest, NoTimeMeasuredIsAFailureNotAnInfiniteRate)
{
    for (double seconds : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        const UsbReadTestReport report = DescribeUsbReadTest(seconds, '.');
        EXPECT_FALSE(report.succeeded) << seconds;
        EXPECT_EQ(report.panel, 2);
        EXPECT_EQ(report.text, "USB read test failed: no data was transferred.");
        EXPECT_EQ(report.text.find("inf"), std::string::npos);
    }
}

} // namespace
