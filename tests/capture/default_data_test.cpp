// The shipped data files and the name rules of the file dialogs.
#include "default_data.h"
#include "file_dialogs.h"
#include "test_files.h"

#include "bmp_file.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace korvi::test;
namespace fs = std::filesystem;

namespace
{

std::string Resource(const std::string &relative)
{
    return std::string(KORVI_SOURCE_DIR) + "/resources/" + relative;
}

TEST(DefaultData, ShippedFilesAreExactlyWhatTheCoreWritersProduce)
{
    TempDir dir;
    for (const char *sub : {"Settings", "Palettes", "Bitmaps"})
        fs::create_directories(dir.path() / sub);
    ASSERT_TRUE(WriteDefaultData(dir.path().string()));
    std::vector<std::string> files = {DefaultSettingsFile, DefaultCompositeSettingsFile, FrameBitmapFile};
    for (const DefaultPaletteFile &p : DefaultPaletteFiles)
        files.push_back(p.name);
    for (const char *lit : PaddleBitmapNames)
        files.push_back(PaddleBitmapFile(lit));
    for (const std::string &f : files) {
        const std::string shipped = ReadFileBytes(Resource(f));
        ASSERT_FALSE(shipped.empty()) << f;
        EXPECT_EQ(shipped, ReadFileBytes(dir.file(f))) << f << " is stale: run korvi_make_data resources";
    }
}

TEST(DefaultData, ShippedCompositeSettingsColourLayersOneToThreeRedGreenBlue)
{
    CFSettings read;
    ASSERT_TRUE(read.LoadFromFile(Resource(DefaultCompositeSettingsFile)));
    const int expected[5][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {255, 255, 255}};
    for (int layer = 0; layer < 5; ++layer) {
        PPalette &palette = read.LayerPalettes[layer];
        palette.BuildTables(true, true, true);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(palette.ByteTable[c][65535], expected[layer][c]) << layer << " " << c;
            EXPECT_EQ(palette.ByteTable[c][0], 0) << layer << " " << c;
        }
    }
}

TEST(DefaultData, ShippedSettingsReadBackToTheProgramDefaults)
{
    Settings read;
    ASSERT_TRUE(read.LoadFromFile(Resource(DefaultSettingsFile)));
    EXPECT_EQ(ReadLines(Resource(DefaultSettingsFile)).size(), 139u);
    const Settings d = ProgramDefaultSettings();
    EXPECT_EQ(read.DefaultPaletteFile, d.DefaultPaletteFile);
    EXPECT_EQ(read.FilterName[4], "Visible Pass");
    EXPECT_EQ(read.NCOL[0], 797);
    EXPECT_EQ(read.NROW[0], 520);
    EXPECT_EQ(read.MaximumWindows, 10);
    EXPECT_EQ(read.WindowWidth, 1083);
    EXPECT_EQ(read.WindowHeight, 768);
    EXPECT_EQ(read.FiltPos, 2);
    EXPECT_EQ(read.CCDTargetTemp[0], -20);
    EXPECT_FLOAT_EQ(read.IntTime[0], 1.0f);
    EXPECT_TRUE(read.UseKEDRO);
    EXPECT_TRUE(read.SaveRawImage);
    // The palettes named for both cameras are shipped.
    for (const std::string &name : read.DefaultPaletteFile)
        EXPECT_TRUE(fs::exists(Resource("Palettes/" + name))) << name;
}

TEST(DefaultData, PalettesHaveTheirDesignedColours)
{
    struct Expect {
        PPalette palette;
        int level;
        int red, green, blue; // expected bytes, within 3
    };
    const Expect cases[] = {
        {GreyscalePalette(), 0, 0, 0, 0},           {GreyscalePalette(), 65535, 255, 255, 255},
        {GreyscalePalette(), 32768, 128, 128, 128}, {BlackBodyPalette(), 0, 0, 0, 0},
        {BlackBodyPalette(), 65535, 255, 255, 255}, {BlackBodyPalette(), 26214, 255, 56, 0},
        {SpectrumPalette(), 65535, 255, 0, 0},      {SpectrumPalette(), 13107, 0, 0, 255},
        {SpectrumPalette(), 36044, 0, 255, 0},      {Spectrum2Palette(), 0, 0, 0, 0},
        {Spectrum2Palette(), 65535, 255, 255, 255}, {Spectrum2Palette(), 13107, 0, 0, 255},
    };
    for (const Expect &c : cases) {
        const std::uint32_t colour = c.palette.ColorAt(c.level);
        EXPECT_NEAR(int(colour & 0xFF), c.red, 3) << c.level;
        EXPECT_NEAR(int((colour >> 8) & 0xFF), c.green, 3) << c.level;
        EXPECT_NEAR(int((colour >> 16) & 0xFF), c.blue, 3) << c.level;
    }
    // Each shipped palette file reads back to the colours it was written from (the file keeps
    // five decimals of each point).
    for (const DefaultPaletteFile &p : DefaultPaletteFiles) {
        PPalette read;
        ASSERT_TRUE(read.LoadFromFile(Resource(p.name))) << p.name;
        const PPalette made = p.make();
        EXPECT_EQ(read.SegmentCount, made.SegmentCount) << p.name;
        for (int level = 0; level < 65536; level += 97)
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(read.ByteTable[c][level], made.ByteTable[c][level], 1) << p.name << " " << level;
    }
}

TEST(DefaultData, FrameBitmapIsABitmapOfTheBarsSize)
{
    int width = 0, height = 0;
    ASSERT_TRUE(ProbeBmpImage(Resource(FrameBitmapFile), width, height));
    EXPECT_EQ(width, FrameBitmapWidth);
    EXPECT_EQ(height, FrameBitmapHeight);
}

// ---------------------------------------------------------------------------------------------

TEST(FileDialogs, FiltersKeepTheirTextsAndUseTheRealPatterns)
{
    const QStringList open = DialogNameFilters(OpenImageFilter);
    ASSERT_EQ(open.size(), 6);
    EXPECT_EQ(open[0], "Korvi image file (*.kvr) (*.kvr)");
    EXPECT_EQ(open[1], "FITS image file (*.fits, *.fit, *.fts, *.fiz) (*.fits *.fit *.fts *.fiz)");
    EXPECT_EQ(open[5], "All files (*.*) (*.*)");
    const QStringList save = DialogNameFilters(SaveImageFilter);
    ASSERT_EQ(save.size(), 6);
    EXPECT_EQ(
        save[4],
        "All image formats (*.kvr, *fit, *.fts, *.fiz, *.bmp, *.png) (*.kvr *.fit *.fts *.fiz *.bmp *.png)");
    EXPECT_EQ(NameFilterIndex(save, save[3]), 4);
    EXPECT_EQ(NameFilterIndex(save, "nothing"), 0);
    // The description alone, as a dialog with hidden details reports it.
    EXPECT_EQ(NameFilterIndex(save, "Windows bitmap (*.bmp)"), 3);
    EXPECT_EQ(NameFilterIndex(save, "All files (*.*)"), 6);
    EXPECT_EQ(NameFilterIndex(save, "All image formats (*.kvr, *fit, *.fts, *.fiz, *.bmp, *.png)"), 5);
    EXPECT_EQ(NameFilterIndex(save, "All"), 0);
    EXPECT_EQ(DialogNameFilters(SettingsFileFilter), QStringList{"Settings files (*.txt) (*.txt)"});
}

TEST(FileDialogs, SaveAsNamesAndFormats)
{
    struct Case {
        const char *chosen;
        int filterIndex;
        const char *name;
        int format;
    };
    const Case cases[] = {
        {"/data/m31", 1, "/data/m31.kvr", 0},
        {"/data/m31.fits", 2, "/data/m31.fit", 1},
        {"/data/m31", 3, "/data/m31.bmp", 2},
        {"/data/m31.kvr", 4, "/data/m31.png", 3},
        {"/data/m31.png", 5, "/data/m31.kvr", 0},                     // "All image formats": own format
        {"/data/m31.png", 6, "/data/m31.kvr", 0},                     // "All files": own format
        {"/data/m31.a.b.c", 2, "/data/m31.fit", 1},                   // everything from the first dot goes
        {"/night.2026/run.1/m31", 4, "/night.2026/run.1/m31.png", 3}, // dots in folders stay
        {"/night.2026/m31.x", 0, "/night.2026/m31.kvr", 0},
    };
    for (const Case &c : cases) {
        const SaveAsTarget t = SaveAsTargetFor(c.chosen, c.filterIndex);
        EXPECT_EQ(t.fileName, c.name) << c.chosen << " " << c.filterIndex;
        EXPECT_EQ(t.format, c.format) << c.chosen << " " << c.filterIndex;
    }
    EXPECT_STREQ(SaveFormatExtension(7), ".kvr");
}

} // namespace
