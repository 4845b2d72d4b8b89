// The drive controller's words and files without a window: rate and configuration packing, the
// settings file, tracking tables and EEPROM dumps.
#include "drive_controller.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <fstream>

using korvi::test::ReadFileBytes;
using korvi::test::TempDir;
using korvi::test::WriteFileBytes;

namespace
{

struct RateCase {
    const char *name;
    const char *rate;
    int mode, worm, detent;
    bool ok;
    std::array<std::uint16_t, 4> words;
};

const RateCase RateCases[] = {
    // 4166 x 60 / 60 - 2333 = 1833; 4 x 2048 + 30 = 8222.
    {"Sidereal", "60.00", DriveSidereal, 4, 60, true, {1833, 2, 8222, 135}},
    {"Solar", "59.83", DriveSolar, 4, 60, true, {1844, 0, 8222, 135}}, // trunc(4177.84 - 2333)
    {"Moon", " 57,86 ", DriveMoon, 1, 0, true, {1987, 1, 2048, 135}},  // trunc(4320.08 - 2333)
    {"LargestBits", "60", DriveManual, 31, 4095, true, {1833, 3, 0xFFFF, 135}},
    {"ZeroRate", "0", DriveSidereal, 4, 60, false, {}},
    {"NegativeRate", "-60", DriveSidereal, 4, 60, false, {}},
    {"NotANumber", "fast", DriveSidereal, 4, 60, false, {}},
    {"DelayBelowZero", "200", DriveSidereal, 4, 60, false, {}},
    {"WormPeriodTooLong", "60", DriveSidereal, 32, 60, false, {}},
    {"DetentTooLarge", "60", DriveSidereal, 4, 4096, false, {}},
};

class RateTest : public ::testing::TestWithParam<RateCase>
{
};

} // namespace

TEST_P(RateTest, PacksOrRefuses)
{
    const RateCase &c = GetParam();
    std::array<std::uint16_t, 4> words{7, 7, 7, 7};
    std::string problem;
    const bool ok = PackDriveRates({c.rate, c.mode, c.worm, c.detent}, DriveConfiguration{}, words, problem);
    EXPECT_EQ(ok, c.ok) << problem;
    if (c.ok)
        EXPECT_EQ(words, c.words);
    else
        EXPECT_FALSE(problem.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, RateTest, ::testing::ValuesIn(RateCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(DriveConfigurationTest, LastWordCarriesFunctionAndInversions)
{
    std::array<std::uint16_t, 12> words{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x0302};
    const DriveConfiguration c = UnpackDriveConfiguration(words);
    EXPECT_EQ(c.function, 2);
    EXPECT_TRUE(c.InvertEW);
    EXPECT_TRUE(c.InvertNS);
    EXPECT_EQ(c.period_delay, 1);
    EXPECT_EQ(c.fast_delay, 11);
    EXPECT_EQ(PackDriveConfiguration(c), words);

    DriveConfiguration only;
    only.InvertNS = true;
    only.function = 3;
    EXPECT_EQ(PackDriveConfiguration(only)[11], 0x0203);
}

TEST(DriveSettingsFileTest, WritesFourteenLinesAndReadsThemBack)
{
    TempDir dir;
    DriveConfiguration c;
    c.lunar_delay = 2001;
    c.function = 1;
    c.InvertEW = true;
    ASSERT_TRUE(SaveDriveSettings(dir.file("t.txt"), c));
    EXPECT_EQ(ReadFileBytes(dir.file("t.txt")),
              "1833\n1833\n1846\n2001\n1833\n500\n135\n30\n32\n833\n833\n1\ntrue\nfalse\n");
    DriveConfiguration back;
    ASSERT_TRUE(LoadDriveSettings(dir.file("t.txt"), back));
    EXPECT_EQ(PackDriveConfiguration(back), PackDriveConfiguration(c));
}

TEST(DriveSettingsFileTest, ShortOrMissingFileLeavesTheValues)
{
    TempDir dir;
    WriteFileBytes(dir.file("short.txt"), "1\n2\n3\n");
    DriveConfiguration c;
    c.pad_delay = 99;
    EXPECT_FALSE(LoadDriveSettings(dir.file("short.txt"), c));
    EXPECT_FALSE(LoadDriveSettings(dir.file("none.txt"), c));
    EXPECT_EQ(c.pad_delay, 99);
    EXPECT_EQ(c.period_delay, 1833);
}

TEST(TrackingTableTest, ReadsTheFirst480WholeNumbersAndRefusesAnythingElse)
{
    TempDir dir;
    const auto lines = [](int count, const std::string &at100) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += (i == 100 ? at100 : std::to_string(1800 + i % 50)) + "\n";
        return text;
    };
    struct Case {
        const char *name;
        std::string text;
        bool ok;
        int value100 = 0;
    } cases[] = {
        {"Exact", lines(480, "65535"), true, 65535},
        {"LongerFileUsesFirst480", lines(500, "0") + "junk\n", true, 0},
        {"TooShort", lines(479, "1"), false},
        {"AboveAWord", lines(480, "65536"), false},
        {"Negative", lines(480, "-1"), false},
        {"NotANumber", lines(480, "12a"), false},
        {"Empty", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(dir.file("track.txt"), c.text);
        std::vector<std::uint16_t> table{1, 2};
        std::string problem;
        bool notFound = true;
        EXPECT_EQ(ReadTrackingTable(dir.file("track.txt"), table, problem, notFound), c.ok);
        EXPECT_FALSE(notFound);
        if (c.ok) {
            ASSERT_EQ(table.size(), 480u);
            EXPECT_EQ(table[0], 1800);
            EXPECT_EQ(table[100], c.value100);
            EXPECT_EQ(table[479], 1800 + 479 % 50);
        } else {
            EXPECT_FALSE(problem.empty());
            EXPECT_EQ(table.size(), 2u); // untouched
        }
    }
    std::vector<std::uint16_t> table;
    std::string problem;
    bool notFound = false;
    EXPECT_FALSE(ReadTrackingTable(dir.file("missing.txt"), table, problem, notFound));
    EXPECT_TRUE(notFound);
}

TEST(DriveMemoryDumpTest, OneUnsignedValueALine)
{
    TempDir dir;
    const std::uint16_t words[] = {0, 65535, 1833};
    ASSERT_TRUE(WriteDriveMemoryDump(dir.file("dump.txt"), words, 3));
    EXPECT_EQ(ReadFileBytes(dir.file("dump.txt")), "0\n65535\n1833\n");
}
