#include "comma_locale.h"
#include "palette.h"
#include "recording_ui_hooks.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using korvi::test::ReadFileBytes;
using korvi::test::ReadLines;
using korvi::test::RecordingUiHooks;
using korvi::test::TempDir;
using korvi::test::WriteFileBytes;

namespace
{

// One segment per channel with the given anchors and handles.
void SetSegment(PPalette &p, int channel, PalettePoint p0, PalettePoint p1, PalettePoint p2, PalettePoint p3)
{
    p.SegmentCount[channel] = 1;
    p.Points[channel][0] = p0;
    p.Points[channel][1] = p1;
    p.Points[channel][2] = p2;
    p.Points[channel][3] = p3;
}

// Every table entry set to a value no curve writes, so untouched entries show.
void FillTables(PPalette &p, float f, std::uint8_t b)
{
    for (int c = 0; c < PaletteChannels; ++c) {
        p.FloatTable[c].fill(f);
        p.ByteTable[c].fill(b);
    }
}

TEST(PPalette, ColorAtPacksRedLowAndClampsTheLevel)
{
    PPalette p;
    p.ByteTable[0][0] = 0x11;
    p.ByteTable[1][0] = 0x22;
    p.ByteTable[2][0] = 0x33;
    p.ByteTable[0][65535] = 0xAA;
    p.ByteTable[1][65535] = 0xBB;
    p.ByteTable[2][65535] = 0xCC;
    p.ByteTable[0][100] = 1;
    p.ByteTable[1][100] = 2;
    p.ByteTable[2][100] = 3;
    EXPECT_EQ(p.ColorAt(0), 0x332211u);
    EXPECT_EQ(p.ColorAt(-5), 0x332211u);
    EXPECT_EQ(p.ColorAt(65535), 0xCCBBAAu);
    EXPECT_EQ(p.ColorAt(70000), 0xCCBBAAu);
    EXPECT_EQ(p.ColorAt(100), 0x030201u);
}

TEST(PPalette, StraightCurveFillsEveryLevel)
{
    PPalette p;
    FillTables(p, -1.0f, 77);
    for (int c = 0; c < PaletteChannels; ++c)
        SetSegment(p, c, {0, 0}, {1 / 3.0f, 1 / 3.0f}, {2 / 3.0f, 2 / 3.0f}, {1, 1});
    p.BuildTables(true, true, true);
    for (int c = 0; c < PaletteChannels; ++c) {
        int previousByte = 0;
        for (int level = 1; level < PaletteLevels - 1; ++level) {
            // y = x here, and the last sample that lands on a level lies inside it.
            const float y = p.FloatTable[c][level];
            ASSERT_GE(y, level / 65536.0f - 1e-7f) << "level " << level << " not written";
            ASSERT_LT(y, (level + 1) / 65536.0f + 1e-7f) << "level " << level;
            ASSERT_EQ(p.ByteTable[c][level], static_cast<int>(y * 255.0f)) << "level " << level;
            ASSERT_GE(p.ByteTable[c][level], previousByte) << "level " << level;
            previousByte = p.ByteTable[c][level];
        }
        EXPECT_EQ(p.FloatTable[c][0], 0.0f);
        EXPECT_EQ(p.ByteTable[c][0], 0);
        EXPECT_EQ(p.ByteTable[c][65535], 255);
        EXPECT_EQ(p.ByteTable[c][32768], 127); // trunc(0.5 * 255)
    }
}

// The first samples of the straight line x = y = t, followed by hand. The least step m is
// 0.1 / 65536, a tenth of a level; a quarter level is 2.5 m. While a sample moves less than that the
// step grows by 1.2 and nothing is written: t = 1, 2.2, 3.64, 5.368, 7.4416, 9.92992 m (the last
// move, 2.48832 m, is still short). The next step, 2.985984 m, is long enough; from then on every
// sample is written and the step stays, since each move lies between a quarter and three quarters
// of a level. Samples 12.915904, 15.901888 and 18.887872 m fall on level 1 (10 m .. 20 m), the last
// one staying; 21.873856, 24.85984, 27.845824 m on level 2; 30.831808 .. 39.78976 m on level 3.
TEST(PPalette, StraightCurveSamplesFollowTheStepRule)
{
    PPalette p;
    FillTables(p, -1.0f, 77);
    SetSegment(p, 0, {0, 0}, {1 / 3.0f, 1 / 3.0f}, {2 / 3.0f, 2 / 3.0f}, {1, 1});
    p.BuildTables(true, false, false);
    const double m = 0.1 / 65536.0;
    EXPECT_EQ(p.FloatTable[0][0], 0.0f); // cleared, and no sample was written below level 1
    EXPECT_EQ(p.ByteTable[0][0], 0);
    EXPECT_NEAR(p.FloatTable[0][1], 18.887872 * m, 1e-5 * 18.887872 * m);
    EXPECT_NEAR(p.FloatTable[0][2], 27.845824 * m, 1e-5 * 27.845824 * m);
    EXPECT_NEAR(p.FloatTable[0][3], 39.78976 * m, 1e-5 * 39.78976 * m);
    EXPECT_EQ(p.ByteTable[0][3], 0);
}

TEST(PPalette, BuiltInRampEqualsAFreshBuildOfItsCurves)
{
    const PPalette builtIn;
    PPalette rebuilt;
    FillTables(rebuilt, 0.0f, 0); // as a palette whose tables were never built
    rebuilt.BuildTables(true, true, true);
    EXPECT_TRUE(rebuilt.SameCurves(builtIn));
    EXPECT_TRUE(rebuilt.SameTables(builtIn));
    EXPECT_EQ(builtIn.SegmentCount, (std::array<std::int32_t, 3>{1, 1, 1}));
    EXPECT_EQ(builtIn.Dirty, 1);
}

// A segment from x = -1000 to 1000 (points far outside 0..1, as in a damaged file): with the least
// step taken from its span the walk would need billions of samples, and in single precision t
// would stop advancing altogether. It must end, with the levels clamped at both ends.
TEST(PPalette, SegmentFarBeyondTheInputRangeEnds)
{
    PPalette p;
    FillTables(p, -1.0f, 77);
    SetSegment(p, 0, {-1000, 0}, {-1000 + 2000 / 3.0f, 1 / 3.0f}, {-1000 + 4000 / 3.0f, 2 / 3.0f}, {1000, 1});
    p.BuildTables(true, false, false);
    EXPECT_NEAR(p.FloatTable[0][0], 0.5f, 1e-3f); // the last sample left of x = 1/65536 has t near 0.5
    EXPECT_EQ(p.FloatTable[0][65535], 1.0f);
    EXPECT_EQ(p.ByteTable[0][65535], 255);
}

TEST(PPalette, DefaultIsAGreyRamp)
{
    const PPalette p;
    EXPECT_TRUE(p.Name.empty());
    EXPECT_EQ(p.ColorAt(0), 0u);
    EXPECT_EQ(p.ColorAt(65535), 0xFFFFFFu);
    EXPECT_EQ(p.ColorAt(32768), 0x7F7F7Fu);
}

TEST(PPalette, IntensityAboveOneIsStoredAsOne)
{
    PPalette p;
    FillTables(p, -1.0f, 77);
    // A hump that rises to 1.5 in the middle.
    SetSegment(p, 1, {0, 0}, {1 / 3.0f, 2.0f}, {2 / 3.0f, 2.0f}, {1, 0});
    p.BuildTables(false, true, false);
    int ones = 0;
    for (int level = 1; level < PaletteLevels; ++level) {
        ASSERT_LE(p.FloatTable[1][level], 1.0f);
        if (p.FloatTable[1][level] == 1.0f) {
            ++ones;
            EXPECT_EQ(p.ByteTable[1][level], 255);
        }
    }
    EXPECT_GT(ones, 1000);
    EXPECT_EQ(p.FloatTable[1][32768], 1.0f);
    EXPECT_EQ(p.FloatTable[0][5], -1.0f); // red and blue were not selected
    EXPECT_EQ(p.FloatTable[2][5], -1.0f);
}

TEST(PPalette, IntensityBelowZeroIsStoredAsZero)
{
    PPalette p;
    SetSegment(p, 0, {0, 0}, {1 / 3.0f, -1.0f}, {2 / 3.0f, -1.0f}, {1, 0});
    p.BuildTables(true, false, false);
    for (int level = 0; level < PaletteLevels; ++level) {
        ASSERT_GE(p.FloatTable[0][level], 0.0f);
        ASSERT_EQ(p.ByteTable[0][level], 0);
    }
}

TEST(PPalette, LevelsTheCurveDoesNotReachKeepTheirValues)
{
    PPalette p;
    FillTables(p, 0.5f, 9);
    SetSegment(p, 2, {0.5f, 1}, {0.6f, 1}, {0.8f, 1}, {1, 1}); // starts at half range
    p.BuildTables(false, false, true);
    EXPECT_EQ(p.FloatTable[2][0], 0.0f); // entry 0 always cleared
    EXPECT_EQ(p.FloatTable[2][1], 0.5f);
    EXPECT_EQ(p.FloatTable[2][32000], 0.5f);
    EXPECT_EQ(p.ByteTable[2][32000], 9);
    EXPECT_EQ(p.FloatTable[2][40000], 1.0f);
    EXPECT_EQ(p.ByteTable[2][65535], 255);
}

TEST(PPalette, TwoSegmentsJoin)
{
    PPalette p;
    FillTables(p, -1.0f, 0);
    p.SegmentCount[0] = 2;
    // 0..0.5 rises to 1, 0.5..1 falls back to 0, both straight.
    const PalettePoint points[7] = {{0, 0},    {1 / 6.0f, 1 / 3.0f}, {2 / 6.0f, 2 / 3.0f},
                                    {0.5f, 1}, {4 / 6.0f, 2 / 3.0f}, {5 / 6.0f, 1 / 3.0f},
                                    {1, 0}};
    for (int i = 0; i < 7; ++i)
        p.Points[0][i] = points[i];
    p.BuildTables(true, false, false);
    for (int level = 0; level < PaletteLevels; ++level) {
        const float x = level / 65536.0f;
        const float expected = x <= 0.5f ? 2 * x : 2 * (1 - x);
        ASSERT_NEAR(p.FloatTable[0][level], expected, 1e-4f) << "level " << level;
    }
}

TEST(PPalette, SegmentsThatDoNotAdvanceAreSkipped)
{
    PPalette p;
    FillTables(p, -1.0f, 0);
    p.SegmentCount[0] = 3;
    // Segment 1 has no x span, segment 2 runs backwards, segment 3 is a straight ramp.
    const PalettePoint points[10] = {{0.2f, 0},
                                     {0.2f, 1},
                                     {0.2f, 1},
                                     {0.2f, 1},
                                     {0.1f, 1},
                                     {0.0f, 1},
                                     {0, 0},
                                     {1 / 3.0f, 1 / 3.0f},
                                     {2 / 3.0f, 2 / 3.0f},
                                     {1, 1}};
    for (int i = 0; i < 10; ++i)
        p.Points[0][i] = points[i];
    p.BuildTables(true, false, false); // would never return if the first segment were walked
    EXPECT_NEAR(p.FloatTable[0][16384], 0.25f, 1e-4f);
    EXPECT_NEAR(p.FloatTable[0][49152], 0.75f, 1e-4f);
}

TEST(PPalette, OutOfRangeCountsAndPointsStayInsideTheTables)
{
    PPalette p;
    p.SegmentCount = {1000, -3, 0};
    for (int c = 0; c < PaletteChannels; ++c)
        for (int i = 0; i < PalettePoints; ++i)
            p.Points[c][i] = {i * 0.1f - 1.0f, 0.5f}; // runs from -1 to 5
    p.BuildTables(true, true, true);                  // no write outside the tables, and it ends
    EXPECT_EQ(p.FloatTable[0][0], 0.5f);              // the stretch left of 0 lands on level 0
    EXPECT_EQ(p.FloatTable[0][65535], 0.5f);
}

TEST(PPalette, DirtyIsSetOnlyWhenBlueIsRebuilt)
{
    PPalette p;
    p.Dirty = 0;
    p.BuildTables(true, false, false);
    EXPECT_EQ(p.Dirty, 0);
    p.BuildTables(true, true, false);
    EXPECT_EQ(p.Dirty, 0);
    p.BuildTables(false, false, true);
    EXPECT_EQ(p.Dirty, 1);
    p.Dirty = 0;
    p.BuildTables(true, true, true);
    EXPECT_EQ(p.Dirty, 1);
}

PPalette SamplePalette()
{
    PPalette p;
    p.Name = "sample";
    SetSegment(p, 0, {0, 0}, {0.2f, 0.9f}, {0.4f, 1.0f}, {1, 1});
    p.SegmentCount[1] = 2;
    const PalettePoint green[7] = {{0, 0},       {0.1f, 0.2f}, {0.2f, 0.3f}, {0.5f, 0.5f},
                                   {0.6f, 0.9f}, {0.8f, 0.1f}, {1, 0.7f}};
    for (int i = 0; i < 7; ++i)
        p.Points[1][i] = green[i];
    SetSegment(p, 2, {0, 1}, {0.3f, 0.6f}, {0.6f, 0.3f}, {1, 0});
    p.Symmetric[0][0] = true;
    p.Symmetric[1][19] = true;
    p.Symmetric[2][7] = true;
    p.BuildTables(true, true, true);
    return p;
}

TEST(PPalette, AssignCopiesEverythingAndSetsDirty)
{
    const PPalette source = SamplePalette();
    PPalette copy;
    copy.Dirty = 0;
    copy.Assign(source);
    EXPECT_EQ(copy.Name, "sample");
    EXPECT_TRUE(copy.SameCurves(source));
    EXPECT_TRUE(copy.SameTables(source));
    EXPECT_EQ(copy.Dirty, 1);
    copy.ByteTable[1][500] ^= 0xFF; // deep copy: the source is untouched
    EXPECT_FALSE(copy.SameTables(source));
    PPalette constructed(source);
    constructed.Points[2][1].y = 0.99f;
    EXPECT_FALSE(constructed.SameCurves(source));
    EXPECT_TRUE(PPalette(source).SameCurves(source));
}

TEST(PPalette, MovedFromPaletteStillHasTables)
{
    PPalette source = SamplePalette();
    PPalette target(std::move(source));
    EXPECT_EQ(target.Name, "sample");
    EXPECT_EQ(source.ColorAt(1000), 0u); // fresh zeroed tables, not a dangling pointer
}

TEST(PaletteFile, ExactBytes)
{
    TempDir dir;
    PPalette p;
    SetSegment(p, 0, {0, 0}, {0.25f, 1234.5f}, {0.5f, -0.001f}, {1, 1});
    SetSegment(p, 1, {0, 1}, {0.125f, 0.75f}, {0.375f, 0.5f}, {1, 0});
    p.SegmentCount[2] = 20;
    p.Points[2] = {};
    p.Points[2][1] = {1 / 60.0f, 2 / 3.0f};
    p.Points[2][60] = {1, 0};
    p.Symmetric[1][3] = true;
    p.Symmetric[2][19] = true;
    ASSERT_TRUE(p.SaveToFile(dir.file("p.pal")));

    const auto repeat = [](const std::string &line, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += line;
        return out;
    };
    const std::string zero = "0.00000e+00\n";
    std::string expected;
    // Red: count, 20 flags, points 0..3 as (x, y) lines, then points 4..60 all zero.
    expected += "1\n" + repeat("false\n", 20);
    expected += "0.00000e+00\n0.00000e+00\n2.50000e-01\n1.23450e+03\n"
                "5.00000e-01\n-1.00000e-03\n1.00000e+00\n1.00000e+00\n";
    expected += repeat(zero, 114);
    // Green: flag 3 set.
    expected += "1\n" + repeat("false\n", 3) + "true\n" + repeat("false\n", 16);
    expected += "0.00000e+00\n1.00000e+00\n1.25000e-01\n7.50000e-01\n"
                "3.75000e-01\n5.00000e-01\n1.00000e+00\n0.00000e+00\n";
    expected += repeat(zero, 114);
    // Blue: 20 segments, flag 19 set, point 1 at (1/60, 2/3), point 60 at (1, 0).
    expected += "20\n" + repeat("false\n", 19) + "true\n";
    expected += zero + zero + "1.66667e-02\n6.66667e-01\n" + repeat(zero, 2 * 58) + "1.00000e+00\n" + zero;
    EXPECT_EQ(ReadFileBytes(dir.file("p.pal")), expected);
    EXPECT_EQ(ReadLines(dir.file("p.pal")).size(), static_cast<std::size_t>(PaletteFileLines));
    EXPECT_EQ(PaletteFileLines, 429);
}

TEST(PaletteFile, RoundTrip)
{
    TempDir dir;
    RecordingUiHooks hooks;
    const PPalette saved = SamplePalette();
    ASSERT_TRUE(saved.SaveToFile(dir.file("s.pal")));
    PPalette loaded;
    loaded.Dirty = 0;
    ASSERT_TRUE(loaded.LoadFromFile(dir.file("s.pal")));
    EXPECT_EQ(loaded.Name, dir.file("s.pal"));
    EXPECT_EQ(loaded.Dirty, 1);
    EXPECT_EQ(loaded.SegmentCount, saved.SegmentCount);
    EXPECT_EQ(loaded.Symmetric, saved.Symmetric);
    for (int c = 0; c < PaletteChannels; ++c)
        for (int i = 0; i < PalettePoints; ++i) {
            EXPECT_NEAR(loaded.Points[c][i].x, saved.Points[c][i].x, 1e-6f);
            EXPECT_NEAR(loaded.Points[c][i].y, saved.Points[c][i].y, 1e-6f);
        }
    // The points were chosen to survive five decimals exactly enough for identical tables.
    EXPECT_TRUE(loaded.SameTables(saved));
    EXPECT_TRUE(hooks.Messages().empty());
}

// Written with the user's decimal comma, read back with CRLF line ends; the C library's locale has
// a decimal comma too where one can be made, which neither the writer nor the reader may depend on.
TEST(PaletteFile, ReadsCrLfAndCommaDecimals)
{
    TempDir dir;
    const korvi::test::CommaCLocale cLocale;
    RecordingUiHooks comma(',');
    const PPalette saved = SamplePalette();
    ASSERT_TRUE(saved.SaveToFile(dir.file("c.pal")));
    std::string bytes = ReadFileBytes(dir.file("c.pal"));
    ASSERT_NE(bytes.find("e-01"), std::string::npos);
    ASSERT_EQ(bytes.find('.'), std::string::npos); // written with the comma
    std::string crlf;
    for (char ch : bytes)
        crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    WriteFileBytes(dir.file("crlf.pal"), crlf);
    PPalette loaded;
    ASSERT_TRUE(loaded.LoadFromFile(dir.file("crlf.pal")));
    EXPECT_TRUE(loaded.SameTables(saved));
    EXPECT_EQ(loaded.Symmetric, saved.Symmetric);
    EXPECT_FLOAT_EQ(loaded.Points[1][4].y, 0.9f);
    EXPECT_TRUE(comma.Messages().empty());
}

TEST(PaletteFile, MissingFileIsReportedAndChangesNothing)
{
    TempDir dir;
    RecordingUiHooks hooks;
    PPalette p = SamplePalette();
    p.Dirty = 0;
    EXPECT_FALSE(p.LoadFromFile(dir.file("none.pal")));
    ASSERT_EQ(hooks.Messages().size(), 1u);
    EXPECT_NE(hooks.Messages()[0].text.find("none.pal"), std::string::npos);
    EXPECT_TRUE(p.SameCurves(SamplePalette()));
    EXPECT_EQ(p.Name, "sample");
    EXPECT_EQ(p.Dirty, 0);
}

TEST(PaletteFile, ShortFileKeepsTheRestAndIsReportedOnce)
{
    TempDir dir;
    RecordingUiHooks hooks;
    ASSERT_TRUE(SamplePalette().SaveToFile(dir.file("full.pal")));
    const std::vector<std::string> lines = ReadLines(dir.file("full.pal"));
    std::string firstChannel;
    for (int i = 0; i < 143; ++i)
        firstChannel += lines[i] + "\n";
    WriteFileBytes(dir.file("short.pal"), firstChannel);
    PPalette p; // grey ramp
    const PPalette grey;
    EXPECT_FALSE(p.LoadFromFile(dir.file("short.pal")));
    ASSERT_EQ(hooks.Messages().size(), 1u);
    EXPECT_NE(hooks.Messages()[0].text.find("ends after line 143"), std::string::npos)
        << hooks.Messages()[0].text;
    EXPECT_EQ(p.Points[0], SamplePalette().Points[0]);
    EXPECT_EQ(p.Points[1], grey.Points[1]);
    EXPECT_EQ(p.SegmentCount[2], 1);
    EXPECT_EQ(p.FloatTable[1], grey.FloatTable[1]);
    EXPECT_EQ(p.Name, dir.file("short.pal"));
}

TEST(PaletteFile, SegmentCountsAreClampedAndBadLinesKept)
{
    TempDir dir;
    RecordingUiHooks hooks;
    PPalette source;
    source.SegmentCount = {5, 5, 5};
    for (int c = 0; c < PaletteChannels; ++c) // anchors in order whatever count is read
        for (int i = 0; i < PalettePoints; ++i)
            source.Points[c][i] = {i / 60.0f, i / 60.0f};
    ASSERT_TRUE(source.SaveToFile(dir.file("a.pal")));
    std::vector<std::string> lines = ReadLines(dir.file("a.pal"));
    lines[0] = "99";
    lines[143] = "0";
    lines[286] = "abc";
    lines[22] = "garbage"; // y of point 0 of red
    std::string text;
    for (const std::string &l : lines)
        text += l + "\n";
    WriteFileBytes(dir.file("b.pal"), text);
    PPalette p;
    p.SegmentCount = {3, 3, 3};
    p.Points[0][0].y = 0.25f;
    EXPECT_FALSE(p.LoadFromFile(dir.file("b.pal")));
    EXPECT_EQ(p.SegmentCount[0], 20);
    EXPECT_EQ(p.SegmentCount[1], 1);
    EXPECT_EQ(p.SegmentCount[2], 3); // malformed: kept
    EXPECT_EQ(p.Points[0][0].y, 0.25f);
    ASSERT_EQ(hooks.Messages().size(), 1u);
    EXPECT_NE(hooks.Messages()[0].text.find("line 23"), std::string::npos) << hooks.Messages()[0].text;
}

TEST(PaletteFile, CurvesWhoseAnchorsGoBackAreRefused)
{
    TempDir dir;
    RecordingUiHooks hooks;
    PPalette bad = SamplePalette();
    bad.Points[1][3] = {0.05f, 0.5f};
    bad.Points[1][6] = {0.04f, 0.7f}; // green's last anchor lies before its middle one
    ASSERT_TRUE(bad.SaveToFile(dir.file("bad.pal")));
    PPalette p;
    const PPalette grey;
    EXPECT_FALSE(p.LoadFromFile(dir.file("bad.pal")));
    ASSERT_EQ(hooks.Messages().size(), 1u);
    EXPECT_NE(hooks.Messages()[0].text.find("out of order"), std::string::npos) << hooks.Messages()[0].text;
    EXPECT_TRUE(p.SameCurves(grey));
    EXPECT_TRUE(p.SameTables(grey));
    EXPECT_TRUE(p.Name.empty());
}

TEST(PaletteFile, FailedSaveIsReported)
{
    TempDir dir;
    RecordingUiHooks hooks;
    EXPECT_FALSE(PPalette().SaveToFile(dir.file("no/such/folder.pal")));
    ASSERT_EQ(hooks.Messages().size(), 1u);
    EXPECT_EQ(hooks.Messages()[0].buttons, MessageButtons::Ok);
}

} // namespace
