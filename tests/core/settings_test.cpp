#include "comma_locale.h"
#include "recording_ui_hooks.h"
#include "settings.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/resource.h>

using korvi::test::ReadFileBytes;
using korvi::test::ReadLines;
using korvi::test::RecordingUiHooks;
using korvi::test::TempDir;
using korvi::test::WriteFileBytes;

namespace
{

std::string Repeat(const std::string &line, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += line;
    return out;
}

TEST(Settings, ConstructionDefaults)
{
    const Settings s;
    EXPECT_TRUE(s.UseKEDRO);
    EXPECT_FALSE(s.SaveRawImage);
    EXPECT_FALSE(s.TempUpdate);
    EXPECT_EQ(s.NImage[0], 0);
    EXPECT_EQ(s.SaveFormat[1], 0);
    EXPECT_EQ(s.IntTime[0], 0.0f);
    EXPECT_EQ(s.GuideRates[GuideSouth].y, 0.0f);
    EXPECT_TRUE(s.SaveFile[0].empty());
    EXPECT_TRUE(s.ProgramDirectory.empty());
    EXPECT_TRUE(s.DefaultPalettes[0].Name.empty());
}

TEST(SettingsFile, DefaultRecordExactBytes)
{
    TempDir dir;
    RecordingUiHooks hooks;
    ASSERT_TRUE(Settings().SaveToFile(dir.file("d.txt")));
    const std::string expected = Repeat("\n", 29) + Repeat("0\n", 51) + Repeat("false\n", 31) + "true\n" +
                                 Repeat("false\n", 6) + Repeat("0.00000e+00\n", 21);
    EXPECT_EQ(ReadFileBytes(dir.file("d.txt")), expected);
    EXPECT_TRUE(hooks.Messages().empty());
}

// Where each value sits in the file: line number, how to set it, the line's text.
struct LineCase {
    int line;
    std::function<void(Settings &)> set;
    const char *text;
};

TEST(SettingsFile, EachValueOnItsLine)
{
    const LineCase cases[] = {
        {1, [](Settings &s) { s.DefaultPaletteFile[0] = "Greyscale.pal"; }, "Greyscale.pal"},
        {2, [](Settings &s) { s.DefaultPaletteFile[1] = "Spectrum.pal"; }, "Spectrum.pal"},
        {3, [](Settings &s) { s.LastScriptFile = "/s/run.kvq"; }, "/s/run.kvq"},
        {5, [](Settings &s) { s.LastOpenDirectory[1] = "/g/open"; }, "/g/open"},
        {6, [](Settings &s) { s.LastSaveDirectory[0] = "/i/save"; }, "/i/save"},
        {8, [](Settings &s) { s.SaveFile[0] = "/i/m31"; }, "/i/m31"},
        {9, [](Settings &s) { s.SaveFile[1] = "/g/guide"; }, "/g/guide"},
        {10, [](Settings &s) { s.FilterName[1] = "Red"; }, "Red"},
        {15, [](Settings &s) { s.FilterName[6] = "Ha"; }, "Ha"},
        {16, [](Settings &s) { s.Filters[0] = "RGB"; }, "RGB"},
        {19, [](Settings &s) { s.Desc[1] = "guide desc"; }, "guide desc"},
        {20, [](Settings &s) { s.ProcessedPostFix[0] = "_P"; }, "_P"},
        {22, [](Settings &s) { s.DarkFrameDirectory = "/dark"; }, "/dark"},
        {23, [](Settings &s) { s.SpareFileText[0] = "spare23"; }, "spare23"},
        {24, [](Settings &s) { s.FlatFrameDirectory = "/flat"; }, "/flat"},
        {26, [](Settings &s) { s.FlatFrameFile[0] = "/flat/f.kvr"; }, "/flat/f.kvr"},
        {29, [](Settings &s) { s.ThermalFrameFile[1] = "/dark/g.kvr"; }, "/dark/g.kvr"},
        {30, [](Settings &s) { s.SpareInt[0] = 30; }, "30"},
        {31, [](Settings &s) { s.NImage[0] = 12; }, "12"},
        {34, [](Settings &s) { s.InitExt[1] = 999; }, "999"},
        {36, [](Settings &s) { s.XHI[0] = 1564; }, "1564"},
        {39, [](Settings &s) { s.XLO[1] = 3; }, "3"},
        {40, [](Settings &s) { s.YHI[0] = 1031; }, "1031"},
        {43, [](Settings &s) { s.YLO[1] = 4; }, "4"},
        {44, [](Settings &s) { s.YBIN[0] = 2; }, "2"},
        {47, [](Settings &s) { s.XBIN[1] = 3; }, "3"},
        {48, [](Settings &s) { s.NCOL[0] = 1565; }, "1565"},
        {51, [](Settings &s) { s.NROW[1] = 165; }, "165"},
        {56, [](Settings &s) { s.BiasLevel[0] = -100; }, "-100"},
        {61, [](Settings &s) { s.NClear[1] = 20; }, "20"},
        {62, [](Settings &s) { s.SaveFormat[0] = 3; }, "3"},
        {63, [](Settings &s) { s.SaveFormat[1] = 1; }, "1"},
        {64, [](Settings &s) { s.WindowTop = 11; }, "11"},
        {65, [](Settings &s) { s.WindowLeft = 12; }, "12"},
        {66, [](Settings &s) { s.WindowWidth = 1024; }, "1024"},
        {67, [](Settings &s) { s.WindowHeight = 768; }, "768"},
        {68, [](Settings &s) { s.GuideMode = 2; }, "2"},
        {69, [](Settings &s) { s.GuideDetent = 10; }, "10"},
        {70, [](Settings &s) { s.GuideMaxExcursion = 5; }, "5"},
        {73, [](Settings &s) { s.SpareInt[10] = 73; }, "73"},
        {74, [](Settings &s) { s.CCDType = 1; }, "1"},
        {75, [](Settings &s) { s.FiltPos = 6; }, "6"},
        {76, [](Settings &s) { s.MaximumWindows = 50; }, "50"},
        {77, [](Settings &s) { s.WindowArrangement = 3; }, "3"},
        {78, [](Settings &s) { s.CCDTargetTemp[0] = -25; }, "-25"},
        {79, [](Settings &s) { s.CCDTargetTemp[1] = -5; }, "-5"},
        {80, [](Settings &s) { s.XSectionMode = 2; }, "2"},
        {81, [](Settings &s) { s.SaveRawImage = true; }, "true"},
        {82, [](Settings &s) { s.Save211 = true; }, "true"},
        {83, [](Settings &s) { s.DisplayImage = true; }, "true"},
        {84, [](Settings &s) { s.DisplayTC = true; }, "true"},
        {85, [](Settings &s) { s.EnableShutter = true; }, "true"},
        {86, [](Settings &s) { s.SpareFlag[0] = true; }, "true"},
        {87, [](Settings &s) { s.IncrExt = true; }, "true"},
        {88, [](Settings &s) { s.IncrExt211 = true; }, "true"},
        {92, [](Settings &s) { s.CCD1HasPriority = true; }, "true"},
        {93, [](Settings &s) { s.UseFiltDesc = true; }, "true"},
        {98, [](Settings &s) { s.SaveProcessed[0] = true; }, "true"},
        {101, [](Settings &s) { s.ThermalFrameApply[1] = true; }, "true"},
        {102, [](Settings &s) { s.FlatFrameApply[0] = true; }, "true"},
        {105, [](Settings &s) { s.AmpTurnoff[1] = true; }, "true"},
        {106, [](Settings &s) { s.DisableClosePrompt = true; }, "true"},
        {107, [](Settings &s) { s.ICAutoSet = true; }, "true"},
        {109, [](Settings &s) { s.NewFrameOnCapture = true; }, "true"},
        {110, [](Settings &s) { s.ReadoutCoolingDisable[0] = true; }, "true"},
        {111, [](Settings &s) { s.ReadoutCoolingDisable[1] = true; }, "true"},
        {112, [](Settings &s) { s.UseKEDRO = false; }, "false"},
        {113, [](Settings &s) { s.InvertEastWest = true; }, "true"},
        {114, [](Settings &s) { s.InvertNorthSouth = true; }, "true"},
        {115, [](Settings &s) { s.LogDisplayScale = true; }, "true"},
        {117, [](Settings &s) { s.FocusMode = true; }, "true"},
        {118, [](Settings &s) { s.SpareFlag[10] = true; }, "true"},
        {119, [](Settings &s) { s.IntTime[0] = 120.0f; }, "1.20000e+02"},
        {120, [](Settings &s) { s.IntTime[1] = 0.5f; }, "5.00000e-01"},
        {121, [](Settings &s) { s.Delay[0] = 2.0f; }, "2.00000e+00"},
        {122, [](Settings &s) { s.Delay[1] = 0.25f; }, "2.50000e-01"},
        {123, [](Settings &s) { s.SpareFloat[0] = 1.0f; }, "1.00000e+00"},
        {129, [](Settings &s) { s.GuideCalibrationRatio = 1.05f; }, "1.05000e+00"},
        {130, [](Settings &s) { s.IntScale[0] = 1.5f; }, "1.50000e+00"},
        {131, [](Settings &s) { s.IntScale[1] = 3.0f; }, "3.00000e+00"},
        {132, [](Settings &s) { s.GuideRates[GuideEast].x = 0.75f; }, "7.50000e-01"},
        {133, [](Settings &s) { s.GuideRates[GuideEast].y = -0.125f; }, "-1.25000e-01"},
        {134, [](Settings &s) { s.GuideRates[GuideWest].x = -0.75f; }, "-7.50000e-01"},
        {137, [](Settings &s) { s.GuideRates[GuideNorth].y = 0.5f; }, "5.00000e-01"},
        {138, [](Settings &s) { s.GuideRates[GuideSouth].x = 0.0625f; }, "6.25000e-02"},
        {139, [](Settings &s) { s.GuideRates[GuideSouth].y = -1.5f; }, "-1.50000e+00"},
    };
    TempDir dir;
    const std::vector<std::string> defaults = [&] {
        Settings().SaveToFile(dir.file("defaults.txt"));
        return ReadLines(dir.file("defaults.txt"));
    }();
    ASSERT_EQ(defaults.size(), 139u);
    for (const LineCase &c : cases) {
        Settings s;
        c.set(s);
        ASSERT_TRUE(s.SaveToFile(dir.file("one.txt")));
        const std::vector<std::string> lines = ReadLines(dir.file("one.txt"));
        ASSERT_EQ(lines.size(), 139u);
        for (int i = 0; i < 139; ++i)
            EXPECT_EQ(lines[i], i + 1 == c.line ? std::string(c.text) : defaults[i])
                << "setting line " << c.line << ", file line " << i + 1;
        // ... and reading puts it back into the same field.
        Settings back;
        ASSERT_TRUE(back.LoadFromFile(dir.file("one.txt")));
        ASSERT_TRUE(back.SaveToFile(dir.file("two.txt")));
        EXPECT_EQ(ReadFileBytes(dir.file("two.txt")), ReadFileBytes(dir.file("one.txt")))
            << "line " << c.line;
    }
}

// A record with a distinct value in every stored field.
Settings Distinct()
{
    Settings s;
    s.DefaultPaletteFile = {"BlackBody2.pal", "Greyscale.pal"};
    s.LastScriptFile = "/scripts/night.kvq";
    s.LastOpenDirectory = {"/open/i/", "/open/g/"};
    s.LastSaveDirectory = {"/save/i/", "/save/g/"};
    s.SaveFile = {"/frames/m 51", "/frames/guide"};
    for (int i = 1; i <= 6; ++i)
        s.FilterName[i] = "Filter " + std::to_string(i);
    s.Filters = {"L", "none"};
    s.Desc = {"Whirlpool, 20 x 120 s", "guide"};
    s.ProcessedPostFix = {"_P", "_G"};
    s.DarkFrameDirectory = "/darks/";
    s.FlatFrameDirectory = "/flats/";
    s.SpareFileText = {"s23", "s25"};
    s.FlatFrameFile = {"/flats/f.kvr", "/flats/g.kvr"};
    s.ThermalFrameFile = {"/darks/d.kvr", "/darks/g.kvr"};
    s.NImage = {10, 20};
    s.InitExt = {1, 7};
    s.XHI = {1564, 210};
    s.XLO = {0, 1};
    s.YHI = {1031, 164};
    s.YLO = {2, 3};
    s.YBIN = {1, 2};
    s.XBIN = {2, 1};
    s.NCOL = {1565, 211};
    s.NROW = {1032, 165};
    s.BiasLevel = {100, 200};
    s.NClear = {3, 4};
    s.SaveFormat = {3, 1};
    s.WindowTop = 10;
    s.WindowLeft = 20;
    s.WindowWidth = 1200;
    s.WindowHeight = 900;
    s.GuideMode = 1;
    s.GuideDetent = 10;
    s.GuideMaxExcursion = 3;
    s.CCDType = 2;
    s.FiltPos = 4;
    s.MaximumWindows = 20;
    s.WindowArrangement = 1;
    s.CCDTargetTemp = {-20, -10};
    s.XSectionMode = 3;
    for (int i = 0; i < 11; ++i) {
        s.SpareInt[i] = 1000 + i;
        s.SpareFlag[i] = i % 2 == 0;
    }
    s.SaveRawImage = true;
    s.DisplayTC = true;
    s.IncrExt211 = true;
    s.UseFiltDesc = true;
    s.SaveProcessed = {true, false};
    s.ThermalFrameApply = {false, true};
    s.FlatFrameApply = {true, true};
    s.AmpTurnoff = {false, true};
    s.ICAutoSet = true;
    s.ReadoutCoolingDisable = {true, false};
    s.UseKEDRO = false;
    s.InvertNorthSouth = true;
    s.FocusMode = true;
    s.IntTime = {120.0f, 0.5f};
    s.Delay = {1.5f, 0.0f};
    for (int i = 0; i < 6; ++i)
        s.SpareFloat[i] = 1.0f + i;
    s.GuideCalibrationRatio = 0.98765f;
    s.IntScale = {2.0f, 0.25f};
    s.GuideRates = {GuideRate{1.25f, -0.5f}, GuideRate{-1.25f, 0.5f}, GuideRate{0.125f, 2.0f},
                    GuideRate{-0.125f, -2.0f}};
    return s;
}

void ExpectStoredFieldsEqual(const Settings &a, const Settings &b)
{
    EXPECT_EQ(a.DefaultPaletteFile, b.DefaultPaletteFile);
    EXPECT_EQ(a.LastScriptFile, b.LastScriptFile);
    EXPECT_EQ(a.LastOpenDirectory, b.LastOpenDirectory);
    EXPECT_EQ(a.LastSaveDirectory, b.LastSaveDirectory);
    EXPECT_EQ(a.SaveFile, b.SaveFile);
    EXPECT_EQ(a.FilterName, b.FilterName);
    EXPECT_EQ(a.Filters, b.Filters);
    EXPECT_EQ(a.Desc, b.Desc);
    EXPECT_EQ(a.ProcessedPostFix, b.ProcessedPostFix);
    EXPECT_EQ(a.DarkFrameDirectory, b.DarkFrameDirectory);
    EXPECT_EQ(a.FlatFrameDirectory, b.FlatFrameDirectory);
    EXPECT_EQ(a.SpareFileText, b.SpareFileText);
    EXPECT_EQ(a.FlatFrameFile, b.FlatFrameFile);
    EXPECT_EQ(a.ThermalFrameFile, b.ThermalFrameFile);
    EXPECT_EQ(a.NImage, b.NImage);
    EXPECT_EQ(a.InitExt, b.InitExt);
    EXPECT_EQ(a.XHI, b.XHI);
    EXPECT_EQ(a.XLO, b.XLO);
    EXPECT_EQ(a.YHI, b.YHI);
    EXPECT_EQ(a.YLO, b.YLO);
    EXPECT_EQ(a.YBIN, b.YBIN);
    EXPECT_EQ(a.XBIN, b.XBIN);
    EXPECT_EQ(a.NCOL, b.NCOL);
    EXPECT_EQ(a.NROW, b.NROW);
    EXPECT_EQ(a.BiasLevel, b.BiasLevel);
    EXPECT_EQ(a.NClear, b.NClear);
    EXPECT_EQ(a.SaveFormat, b.SaveFormat);
    EXPECT_EQ(a.WindowTop, b.WindowTop);
    EXPECT_EQ(a.WindowLeft, b.WindowLeft);
    EXPECT_EQ(a.WindowWidth, b.WindowWidth);
    EXPECT_EQ(a.WindowHeight, b.WindowHeight);
    EXPECT_EQ(a.GuideMode, b.GuideMode);
    EXPECT_EQ(a.GuideDetent, b.GuideDetent);
    EXPECT_EQ(a.GuideMaxExcursion, b.GuideMaxExcursion);
    EXPECT_EQ(a.CCDType, b.CCDType);
    EXPECT_EQ(a.FiltPos, b.FiltPos);
    EXPECT_EQ(a.MaximumWindows, b.MaximumWindows);
    EXPECT_EQ(a.WindowArrangement, b.WindowArrangement);
    EXPECT_EQ(a.CCDTargetTemp, b.CCDTargetTemp);
    EXPECT_EQ(a.XSectionMode, b.XSectionMode);
    EXPECT_EQ(a.SpareInt, b.SpareInt);
    EXPECT_EQ(a.SpareFlag, b.SpareFlag);
    EXPECT_EQ(a.SaveRawImage, b.SaveRawImage);
    EXPECT_EQ(a.Save211, b.Save211);
    EXPECT_EQ(a.DisplayImage, b.DisplayImage);
    EXPECT_EQ(a.DisplayTC, b.DisplayTC);
    EXPECT_EQ(a.EnableShutter, b.EnableShutter);
    EXPECT_EQ(a.IncrExt, b.IncrExt);
    EXPECT_EQ(a.IncrExt211, b.IncrExt211);
    EXPECT_EQ(a.CCD1HasPriority, b.CCD1HasPriority);
    EXPECT_EQ(a.UseFiltDesc, b.UseFiltDesc);
    EXPECT_EQ(a.SaveProcessed, b.SaveProcessed);
    EXPECT_EQ(a.ThermalFrameApply, b.ThermalFrameApply);
    EXPECT_EQ(a.FlatFrameApply, b.FlatFrameApply);
    EXPECT_EQ(a.AmpTurnoff, b.AmpTurnoff);
    EXPECT_EQ(a.DisableClosePrompt, b.DisableClosePrompt);
    EXPECT_EQ(a.ICAutoSet, b.ICAutoSet);
    EXPECT_EQ(a.NewFrameOnCapture, b.NewFrameOnCapture);
    EXPECT_EQ(a.ReadoutCoolingDisable, b.ReadoutCoolingDisable);
    EXPECT_EQ(a.UseKEDRO, b.UseKEDRO);
    EXPECT_EQ(a.InvertEastWest, b.InvertEastWest);
    EXPECT_EQ(a.InvertNorthSouth, b.InvertNorthSouth);
    EXPECT_EQ(a.LogDisplayScale, b.LogDisplayScale);
    EXPECT_EQ(a.FocusMode, b.FocusMode);
    EXPECT_EQ(a.IntTime, b.IntTime);
    EXPECT_EQ(a.Delay, b.Delay);
    EXPECT_EQ(a.SpareFloat, b.SpareFloat);
    EXPECT_FLOAT_EQ(a.GuideCalibrationRatio, b.GuideCalibrationRatio);
    EXPECT_EQ(a.IntScale, b.IntScale);
    for (int d = 0; d < 4; ++d) {
        EXPECT_EQ(a.GuideRates[d].x, b.GuideRates[d].x) << d;
        EXPECT_EQ(a.GuideRates[d].y, b.GuideRates[d].y) << d;
    }
}

TEST(SettingsFile, RoundTripOfEveryValue)
{
    TempDir dir;
    RecordingUiHooks hooks;
    const Settings saved = Distinct();
    ASSERT_TRUE(saved.SaveToFile(dir.file("s.txt")));
    EXPECT_EQ(ReadLines(dir.file("s.txt")).size(), 139u);
    Settings loaded;
    ASSERT_TRUE(loaded.LoadFromFile(dir.file("s.txt")));
    ExpectStoredFieldsEqual(loaded, saved);
    EXPECT_TRUE(hooks.Messages().empty());
}

TEST(SettingsFile, ValuesNotStoredAreNeitherWrittenNorRead)
{
    TempDir dir;
    Settings a = Distinct();
    ASSERT_TRUE(a.SaveToFile(dir.file("a.txt")));
    a.ProgramDirectory = "/opt/korvi/";
    a.SpareText[3] = "x";
    a.TempUpdate = true;
    a.CoolerPowerOn = {true, true};
    a.ManualSlewFlags = {true, false, true, false};
    a.SpareRunFlag[2] = true;
    a.DefaultPalettes[0].Points[0][1].y = 0.9f;
    ASSERT_TRUE(a.SaveToFile(dir.file("b.txt")));
    EXPECT_EQ(ReadFileBytes(dir.file("a.txt")), ReadFileBytes(dir.file("b.txt")));
    ASSERT_TRUE(a.LoadFromFile(dir.file("a.txt")));
    EXPECT_EQ(a.ProgramDirectory, "/opt/korvi/");
    EXPECT_TRUE(a.TempUpdate);
    EXPECT_TRUE(a.CoolerPowerOn[1]);
    EXPECT_TRUE(a.ManualSlewFlags[2]);
    EXPECT_EQ(a.DefaultPalettes[0].Points[0][1].y, 0.9f);
}

TEST(SettingsFile, WritesTheUsersCommaAndReadsCrLf)
{
    TempDir dir;
    RecordingUiHooks comma(',');
    const Settings saved = Distinct();
    ASSERT_TRUE(saved.SaveToFile(dir.file("c.txt")));
    std::vector<std::string> lines = ReadLines(dir.file("c.txt"));
    ASSERT_EQ(lines.size(), 139u);
    EXPECT_EQ(lines[118], "1,20000e+02");
    EXPECT_EQ(lines[138], "-2,00000e+00");
    std::string crlf;
    for (const std::string &line : lines)
        crlf += line + "\r\n";
    WriteFileBytes(dir.file("crlf.txt"), crlf);
    Settings loaded;
    ASSERT_TRUE(loaded.LoadFromFile(dir.file("crlf.txt")));
    ExpectStoredFieldsEqual(loaded, saved);
    EXPECT_TRUE(comma.Messages().empty());
}

// The user's locale has a decimal comma, and so has the C library's: the file is written with the
// user's comma, and a file with points reads the same.
class CommaLocaleSettings : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!cLocale_.Active())
            GTEST_SKIP() << "no comma-decimal C locale available";
    }
    korvi::test::CommaCLocale cLocale_;
    RecordingUiHooks hooks_{','};
};

TEST_F(CommaLocaleSettings, RoundTripAndPointFiles)
{
    TempDir dir;
    const Settings saved = Distinct();
    ASSERT_TRUE(saved.SaveToFile(dir.file("comma.txt")));
    const std::vector<std::string> lines = ReadLines(dir.file("comma.txt"));
    EXPECT_EQ(lines[120], "1,50000e+00");
    EXPECT_EQ(lines[128], "9,87650e-01");
    Settings loaded;
    ASSERT_TRUE(loaded.LoadFromFile(dir.file("comma.txt")));
    ExpectStoredFieldsEqual(loaded, saved);
    std::string points;
    for (std::string line : lines) {
        if (line.find("e+") != std::string::npos || line.find("e-") != std::string::npos)
            for (char &c : line)
                if (c == ',')
                    c = '.';
        points += line + "\r\n";
    }
    WriteFileBytes(dir.file("points.txt"), points);
    Settings fromPoints;
    ASSERT_TRUE(fromPoints.LoadFromFile(dir.file("points.txt")));
    ExpectStoredFieldsEqual(fromPoints, saved);
    EXPECT_TRUE(hooks_.Messages().empty());
}

TEST(SettingsFile, PointFileReadsUnderACommaLocale)
{
    TempDir dir;
    const Settings saved = Distinct();
    ASSERT_TRUE(saved.SaveToFile(dir.file("p.txt"))); // '.' by the silent hooks
    RecordingUiHooks comma(',');
    Settings loaded;
    ASSERT_TRUE(loaded.LoadFromFile(dir.file("p.txt")));
    EXPECT_EQ(loaded.IntTime[1], 0.5f);
    EXPECT_EQ(loaded.GuideRates[GuideNorth].x, 0.125f);
}

TEST(SettingsFile, UseKEDRONeverChangedWritesTrueOnLine112)
{
    TempDir dir;
    Settings s;
    s.SaveRawImage = true;
    ASSERT_TRUE(s.SaveToFile(dir.file("k.txt")));
    EXPECT_EQ(ReadLines(dir.file("k.txt"))[111], "true");
}

TEST(SettingsFile, LineBreakInATextDoesNotShiftTheFile)
{
    TempDir dir;
    Settings s = Distinct();
    s.Desc[0] = "first\nsecond\r\nthird";
    ASSERT_TRUE(s.SaveToFile(dir.file("t.txt")));
    EXPECT_EQ(ReadLines(dir.file("t.txt")).size(), 139u);
    Settings loaded;
    ASSERT_TRUE(loaded.LoadFromFile(dir.file("t.txt")));
    EXPECT_EQ(loaded.Desc[0], "first second  third");
    s.Desc[0] = loaded.Desc[0];
    ExpectStoredFieldsEqual(loaded, s);
}

TEST(SettingsFile, MissingFileIsReportedOnceAndChangesNothing)
{
    TempDir dir;
    RecordingUiHooks hooks;
    Settings s = Distinct();
    EXPECT_FALSE(s.LoadFromFile(dir.file("none.txt")));
    ASSERT_EQ(hooks.Messages().size(), 1u);
    EXPECT_NE(hooks.Messages()[0].text.find("none.txt"), std::string::npos);
    ExpectStoredFieldsEqual(s, Distinct());
}

TEST(SettingsFile, ShortFileTakesWhatItHolds)
{
    TempDir dir;
    RecordingUiHooks hooks;
    Settings full = Distinct();
    ASSERT_TRUE(full.SaveToFile(dir.file("full.txt")));
    const std::vector<std::string> lines = ReadLines(dir.file("full.txt"));
    std::string first100;
    for (int i = 0; i < 100; ++i)
        first100 += lines[i] + "\n";
    WriteFileBytes(dir.file("short.txt"), first100);
    Settings s;
    s.IntTime[0] = 42.0f;          // line 119: not in the file
    s.FocusMode = false;           // line 117: not in the file
    s.ThermalFrameApply[0] = true; // line 100: in the file (false there)
    EXPECT_FALSE(s.LoadFromFile(dir.file("short.txt")));
    ASSERT_EQ(hooks.Messages().size(), 1u);
    EXPECT_NE(hooks.Messages()[0].text.find("ends after line 100"), std::string::npos)
        << hooks.Messages()[0].text;
    EXPECT_EQ(s.SaveFile, full.SaveFile);
    EXPECT_EQ(s.CCDTargetTemp, full.CCDTargetTemp);
    EXPECT_FALSE(s.ThermalFrameApply[0]);
    EXPECT_EQ(s.IntTime[0], 42.0f);
    EXPECT_FALSE(s.FocusMode);
    EXPECT_TRUE(s.UseKEDRO); // line 112 not reached: the constructed value stays
}

// A line that does not hold its field's type shows the file is not a settings file (any text
// file would otherwise be applied line by line): nothing of it is taken.
TEST(SettingsFile, ALineOfTheWrongTypeRefusesTheWholeFile)
{
    const struct {
        int line; // 0-based
        const char *text, *named;
    } cases[] = {{61, "PNG", "line 62"}, {119, "half a sec", "line 120"}, {106, "maybe", "line 107"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        TempDir dir;
        RecordingUiHooks hooks;
        ASSERT_TRUE(Distinct().SaveToFile(dir.file("m.txt")));
        std::vector<std::string> lines = ReadLines(dir.file("m.txt"));
        lines[c.line] = c.text;
        std::string text;
        for (const std::string &line : lines)
            text += line + "\n";
        WriteFileBytes(dir.file("bad.txt"), text);
        const Settings before;
        Settings s;
        EXPECT_FALSE(s.LoadFromFile(dir.file("bad.txt")));
        EXPECT_EQ(s.SaveFile, before.SaveFile); // line 8, before the bad one
        EXPECT_EQ(s.SaveFormat, before.SaveFormat);
        EXPECT_EQ(s.Delay, before.Delay);
        EXPECT_EQ(s.GuideRates[GuideSouth].y, before.GuideRates[GuideSouth].y);
        ASSERT_EQ(hooks.Messages().size(), 1u);
        EXPECT_NE(hooks.Messages()[0].text.find("is not a settings file"), std::string::npos);
        EXPECT_NE(hooks.Messages()[0].text.find(c.named), std::string::npos) << hooks.Messages()[0].text;
    }
}

TEST(SettingsFile, FailedSaveKeepsTheOldFile)
{
    TempDir dir;
    RecordingUiHooks hooks;
    const std::string path = dir.file("DefaultSettings.txt");
    ASSERT_TRUE(Distinct().SaveToFile(path));
    const std::string before = ReadFileBytes(path);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 200; // the disk fills up part way through
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = Settings().SaveToFile(path);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    ASSERT_EQ(hooks.Messages().size(), 1u);
    EXPECT_NE(hooks.Messages()[0].text.find("DefaultSettings.txt"), std::string::npos);
}

TEST(SettingsFile, SaveIntoAMissingFolderIsReported)
{
    TempDir dir;
    RecordingUiHooks hooks;
    EXPECT_FALSE(Settings().SaveToFile(dir.file("Settings/DefaultSettings.txt")));
    EXPECT_EQ(hooks.Messages().size(), 1u);
}

TEST(GlobalSettings, TwoInstancesAndWholeRecordCopies)
{
    Settings &current = CurrentSettings();
    Settings &backup = SettingsBackup();
    EXPECT_NE(&current, &backup);
    EXPECT_EQ(&current, &CurrentSettings());
    const Settings before = current;
    current.IntTime[0] = 33.0f;
    current.DefaultPalettes[1].Points[2][1].x = 0.1f;
    current.DefaultPalettes[1].ByteTable[2][7] = 42;
    current.CoolerPowerOn[0] = true;
    backup = current;
    EXPECT_EQ(backup.IntTime[0], 33.0f);
    EXPECT_TRUE(backup.CoolerPowerOn[0]);
    EXPECT_EQ(backup.DefaultPalettes[1].ByteTable[2][7], 42);
    current.DefaultPalettes[1].ByteTable[2][7] = 1; // the copy is deep
    EXPECT_EQ(backup.DefaultPalettes[1].ByteTable[2][7], 42);
    current = backup;
    EXPECT_EQ(current.DefaultPalettes[1].ByteTable[2][7], 42);
    current = before;
    backup = Settings();
}

} // namespace
