#include "native_file.h"

#include "image_data.h"
#include "image_file.h"
#include "image_test_images.h"
#include "recording_ui_hooks.h"
#include "settings.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <limits>

namespace
{

using namespace korvi::test;

// A palette with a value in every stored item, so that misplaced bytes show.
void SetDistinctPalette(PPalette &palette)
{
    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < 61; ++i)
            palette.Points[c][i] = {static_cast<float>(i) / 60.0f, 0.25f * static_cast<float>(c + 1)};
        palette.SegmentCount[c] = c + 1;
        for (int i = 0; i < 20; ++i)
            palette.Symmetric[c][i] = (i + c) % 3 == 0;
    }
    palette.BuildTables(true, true, true);
}

std::string Little32(std::uint32_t v)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xff);
    return out;
}

// 3 x 2 frame: row 0 = 1, 2, 3; row 1 = 0x0102, 0xa0b0, 0xffff.
void MakeSmallFrame(ImageData &image)
{
    const std::uint16_t values[2][3] = {{1, 2, 3}, {0x0102, 0xa0b0, 0xffff}};
    FillImage(image, 3, 2, 1, [&](int x, int y, int) { return values[y][x]; });
    SetFrameHeader(image);
    image.Brightest = 65535;
    image.Dimmest = 1;
    SetDistinctPalette(image.Palette);
}

TEST(NativeFile, WritesTheExactLayout)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    MakeSmallFrame(image);
    ASSERT_TRUE(WriteNativeImage(dir.file("a.kvr"), image));

    std::string expected = "KORVI_IMAGE_FILE\n"
                           "VERSION: 3.2\n"
                           "FILENAME: m42_0001.kvr\n"
                           "SYSTEM_CREATE_DATE: Tuesday December 8, 2026\n"
                           "SYSTEM_CREATE_TIME: 21:16:14 (GMT)\n"
                           "DESCRIPTION: Orion nebula, test frame\n"
                           "FILTERS: Red\n"
                           "INTEGRATION_TIME: 3.000e+01\n"
                           "CCD_TEMPERATURE: -20.5\n"
                           "BRIGHTEST_PIXEL_VALUE: 65535\n"
                           "DIMMEST_PIXEL_VALUE: 1\n"
                           "CCD_MAX_N_COL: 1600\n"
                           "CCD_MAX_N_ROW: 1200\n"
                           "X_BIN: 1\n"
                           "Y_BIN: 1\n"
                           "X_LO: 100\n"
                           "X_HI: 102\n"
                           "Y_LO: 50\n"
                           "Y_HI: 51\n"
                           "TOP_DARK_LEVEL: 1.225e+01\n"
                           "BOTTOM_DARK_LEVEL: 1.35e+01\n"
                           "OFFSET_LEVEL: 8.125e+02\n"
                           "DISPLAY_OFFSET: 9e+02\n"
                           "SKY_LEVEL: 1.23475e+03\n"
                           "\n"
                           "END_HEADER******************\n";
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 61; ++i) {
            expected += Little32(std::bit_cast<std::uint32_t>(static_cast<float>(i) / 60.0f));
            expected += Little32(std::bit_cast<std::uint32_t>(0.25f * static_cast<float>(c + 1)));
        }
    expected += Little32(1) + Little32(2) + Little32(3);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 20; ++i)
            expected += Little32((i + c) % 3 == 0 ? 1 : 0);
    expected += "END_PALETTE******************\n";
    // Column after column, each from row 0: (0,0) (0,1) (1,0) (1,1) (2,0) (2,1), low byte first.
    expected += std::string("\x01\x00\x02\x01\x02\x00\xb0\xa0\x03\x00\xff\xff", 12);

    const std::string written = ReadFileBytes(dir.file("a.kvr"));
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_EQ(written, expected);
    EXPECT_TRUE(ui.Messages().empty());
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(NativeFile, RoundTripKeepsHeaderPixelsAndPalette)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 37, 23, 1, [](int x, int y, int) { return std::uint16_t(x * 1000 + y * 7); });
    SetFrameHeader(image);
    SetDistinctPalette(image.Palette);
    ASSERT_TRUE(SaveImageFile(dir.file("r.kvr"), FormatNative, image));

    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("r.kvr"), back));
    EXPECT_EQ(DifferingPixels(image, back), 0);
    EXPECT_EQ(back.FileName, dir.file("r.kvr"));
    EXPECT_EQ(back.HeaderFileName, image.HeaderFileName);
    EXPECT_EQ(back.Date, image.Date);
    EXPECT_EQ(back.Time, image.Time);
    EXPECT_EQ(back.Description, image.Description);
    EXPECT_EQ(back.Filters, image.Filters);
    EXPECT_EQ(back.IntegrationTime, image.IntegrationTime);
    EXPECT_EQ(back.CCDTemperature, image.CCDTemperature);
    EXPECT_EQ(back.MaxColumns, 1600);
    EXPECT_EQ(back.MaxRows, 1200);
    EXPECT_EQ(back.XLo, 100);
    EXPECT_EQ(back.XHi, 136);
    EXPECT_EQ(back.YLo, 50);
    EXPECT_EQ(back.YHi, 72);
    EXPECT_EQ(back.TopDark, 12.25f);
    EXPECT_EQ(back.BottomDark, 13.5f);
    EXPECT_EQ(back.OffsetLevel, 812.5f);
    EXPECT_EQ(back.Brightest, 36 * 1000 + 22 * 7);
    EXPECT_EQ(back.Dimmest, 0);
    EXPECT_EQ(back.OriginFormat, FormatNative);
    EXPECT_TRUE(back.Palette.SameCurves(image.Palette));
    EXPECT_TRUE(back.Palette.SameTables(image.Palette));
    EXPECT_TRUE(ui.Messages().empty());
    // Loading sets automatic levels; the stored sky level and display offset show in a plain read.
    ImageData plain;
    plain.Allocate(37, 23, 1);
    ASSERT_TRUE(ReadNativeImage(dir.file("r.kvr"), plain));
    EXPECT_EQ(plain.SkyLevel, 1234.75f);
    EXPECT_EQ(plain.DisplayOffset, 900.0f);
}

// One full-range curve per channel (every level written), with its own shape.
void SetFullRangePalette(PPalette &palette, float lift)
{
    for (int c = 0; c < 3; ++c) {
        palette.SegmentCount[c] = 1;
        palette.Points[c][0] = {0.0f, lift};
        palette.Points[c][1] = {0.3f, 0.1f * static_cast<float>(c + 1)};
        palette.Points[c][2] = {0.6f, 1.0f - lift};
        palette.Points[c][3] = {1.0f, 0.5f + 0.5f * lift};
    }
}

// The tables a file's palette must load with: its curves built over the default palette's tables.
PPalette ExpectedTables(const PPalette &curves)
{
    PPalette expected = CurrentSettings().DefaultPalettes[0];
    expected.Points = curves.Points;
    expected.SegmentCount = curves.SegmentCount;
    expected.Symmetric = curves.Symmetric;
    expected.BuildTables(true, true, true);
    return expected;
}

bool SameTableBytes(const PPalette &a, const PPalette &b)
{
    for (int c = 0; c < 3; ++c)
        if (std::memcmp(a.FloatTable[c].data(), b.FloatTable[c].data(), sizeof a.FloatTable[c]) != 0 ||
            std::memcmp(a.ByteTable[c].data(), b.ByteTable[c].data(), sizeof a.ByteTable[c]) != 0)
            return false;
    return true;
}

// Loads into one image take tables already built where they can (the image's own palette, the
// default one): files with different palettes, one after the other into the same image, each load
// with exactly the tables of their own palette.
TEST(NativeFile, FilesWithDifferentPalettesLoadWithTheirOwnTables)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData a, b, c;
    for (ImageData *image : {&a, &b, &c})
        FillImage(*image, 37, 23, 1, [](int x, int y, int) { return std::uint16_t(x * 1000 + y * 7); });
    SetFullRangePalette(a.Palette, 0.0f);
    SetFullRangePalette(b.Palette, 0.25f);
    SetDistinctPalette(c.Palette); // curves that leave levels unwritten
    const PPalette expected[] = {ExpectedTables(a.Palette), ExpectedTables(b.Palette),
                                 ExpectedTables(c.Palette)};
    ASSERT_FALSE(SameTableBytes(expected[0], expected[1]));
    ASSERT_TRUE(SaveImageFile(dir.file("a.kvr"), FormatNative, a));
    ASSERT_TRUE(SaveImageFile(dir.file("b.kvr"), FormatNative, b));
    ASSERT_TRUE(SaveImageFile(dir.file("c.kvr"), FormatNative, c));

    ImageData image;
    const int order[] = {0, 0, 1, 0, 1, 1, 2, 2, 0, 2};
    for (int step = 0; step < 10; ++step) {
        const int file = order[step];
        ASSERT_TRUE(LoadImageFile(dir.file(std::string(1, static_cast<char>('a' + file)) + ".kvr"), image));
        EXPECT_TRUE(SameTableBytes(image.Palette, expected[file])) << "step " << step;
        EXPECT_TRUE(image.Palette.SameCurves(expected[file])) << "step " << step;
    }
    // The image's palette has c's curves, built over other tables: the levels the curves leave
    // unwritten hold what those tables held, so the file's palette cannot take them.
    for (int channel = 0; channel < 3; ++channel) {
        image.Palette.FloatTable[channel].fill(0.5f);
        image.Palette.ByteTable[channel].fill(99);
    }
    image.Palette.Points = c.Palette.Points;
    image.Palette.SegmentCount = c.Palette.SegmentCount;
    image.Palette.BuildTables(true, true, true);
    ASSERT_TRUE(LoadImageFile(dir.file("c.kvr"), image));
    EXPECT_TRUE(SameTableBytes(image.Palette, expected[2]));
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(NativeFile, ZeroDisplayOffsetIsTakenFromTheOffsetLevel)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 4, 4, 1, [](int x, int, int) { return std::uint16_t(x); });
    SetFrameHeader(image);
    image.DisplayOffset = 0.0f;
    ASSERT_TRUE(WriteNativeImage(dir.file("d.kvr"), image));
    // Read without the dispatch, which would set automatic levels afterwards.
    ImageData back;
    back.Allocate(4, 4, 1);
    ASSERT_TRUE(ReadNativeImage(dir.file("d.kvr"), back));
    EXPECT_EQ(back.DisplayOffset, 812.5f);
}

TEST(NativeFile, SeveralFramesStoreFrameZeroOnly)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 5, 4, 3, [](int x, int y, int f) { return std::uint16_t(f * 10000 + y * 5 + x); });
    SetFrameHeader(image);
    ASSERT_TRUE(WriteNativeImage(dir.file("f.kvr"), image));
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("f.kvr"), back));
    ASSERT_EQ(back.Frames, 1);
    ASSERT_EQ(back.Width, 5);
    ASSERT_EQ(back.Height, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(back.Rows[y][x], y * 5 + x);
}

TEST(NativeFile, BrightestAndDimmestAreMeasured)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 6, 3, 1, [](int x, int y, int) { return std::uint16_t(500 + x + y); });
    SetFrameHeader(image);
    image.Brightest = 12;
    image.Dimmest = 60000;
    ASSERT_TRUE(WriteNativeImage(dir.file("b.kvr"), image));
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("b.kvr"), back));
    EXPECT_EQ(back.Brightest, 507);
    EXPECT_EQ(back.Dimmest, 500);
}

// A file assembled by hand: keys in another order, the shorter palette block of earlier versions,
// CRLF-free lines with extra blanks.
TEST(NativeFile, ReadsKeysInAnyOrderAndTheShorterPaletteBlock)
{
    RecordingUiHooks ui;
    TempDir dir;
    std::string file = "KORVI_IMAGE_FILE\nVERSION: 3.2\n"
                       "Y_HI: 1\nX_HI: 2\nDESCRIPTION:   spaced out  \nX_LO: 1\nY_LO: 0\n"
                       "OFFSET_LEVEL: 5.5e+01\nFILTERS: V\n\nEND_HEADER******************\n";
    file += std::string(1512, '\0');
    file += "END_PALETTE******************\n";
    file += std::string("\x10\x00\x20\x00\x30\x00\x40\x00", 8); // 2 x 2, column order
    WriteFileBytes(dir.file("hand.kvr"), file);

    ImageData back;
    back.Allocate(2, 2, 1);
    ASSERT_TRUE(ReadNativeImage(dir.file("hand.kvr"), back));
    EXPECT_EQ(back.Description, "spaced out");
    EXPECT_EQ(back.Filters, "V");
    EXPECT_EQ(back.OffsetLevel, 55.0f);
    EXPECT_EQ(back.DisplayOffset, 55.0f);
    EXPECT_EQ(back.Rows[0][0], 0x10);
    EXPECT_EQ(back.Rows[1][0], 0x20);
    EXPECT_EQ(back.Rows[0][1], 0x30);
    EXPECT_EQ(back.Rows[1][1], 0x40);
    EXPECT_EQ(back.XBin, 1); // missing keys get harmless values
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(NativeFile, BinnedFrameReadsWithTheBinnedSize)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    // Sensor window 0..9 x 0..4 read out binned 2 x 2: 5 x 3 pixels (rounded up).
    FillImage(image, 5, 3, 1, [](int x, int y, int) { return std::uint16_t(100 * y + x); });
    SetFrameHeader(image);
    image.XLo = 0;
    image.XHi = 9;
    image.YLo = 0;
    image.YHi = 4;
    image.XBin = 2;
    image.YBin = 2;
    ASSERT_TRUE(WriteNativeImage(dir.file("bin.kvr"), image));
    EXPECT_NE(ReadFileBytes(dir.file("bin.kvr")).find("X_HI: 9\n"), std::string::npos);
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("bin.kvr"), back));
    EXPECT_EQ(back.Width, 5);
    EXPECT_EQ(back.Height, 3);
    EXPECT_EQ(back.XHi, 9);
    EXPECT_EQ(DifferingPixels(image, back), 0);
}

TEST(NativeFile, ImageWhoseSizeDisagreesWithItsLimitsStillReadsBack)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 7, 4, 1, [](int x, int y, int) { return std::uint16_t(x + 10 * y); });
    SetFrameHeader(image);
    image.XHi = image.XLo + 99; // limits of the frame before it was cut
    ASSERT_TRUE(WriteNativeImage(dir.file("cut.kvr"), image));
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("cut.kvr"), back));
    EXPECT_EQ(back.Width, 7);
    EXPECT_EQ(back.Height, 4);
    EXPECT_EQ(DifferingPixels(image, back), 0);
}

TEST(NativeFile, LineBreaksInTextsCannotForgeHeaderLines)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 3, 3, 1, [](int x, int, int) { return std::uint16_t(x); });
    SetFrameHeader(image);
    image.Description = "first\nX_LO: 7\r\nY_HI: 900";
    ASSERT_TRUE(WriteNativeImage(dir.file("t.kvr"), image));
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("t.kvr"), back));
    EXPECT_EQ(back.Description, "first X_LO: 7  Y_HI: 900");
    EXPECT_EQ(back.XLo, 100);
    EXPECT_EQ(back.Width, 3);
}

TEST(NativeFile, CommaSeparatorIsWrittenAndRead)
{
    RecordingUiHooks ui(',');
    TempDir dir;
    ImageData image;
    FillImage(image, 2, 2, 1, [](int, int, int) { return std::uint16_t(1); });
    SetFrameHeader(image);
    ASSERT_TRUE(WriteNativeImage(dir.file("c.kvr"), image));
    EXPECT_NE(ReadFileBytes(dir.file("c.kvr")).find("OFFSET_LEVEL: 8,125e+02\n"), std::string::npos);
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("c.kvr"), back));
    EXPECT_EQ(back.OffsetLevel, 812.5f);
}

struct FloatCase {
    double value;
    const char *text;
};

class NativeFloatPicture : public ::testing::TestWithParam<FloatCase>
{
};

TEST_P(NativeFloatPicture, RendersWithoutTrailingZerosAndTwoExponentDigits)
{
    EXPECT_EQ(FormatNativeFloat(GetParam().value, '.'), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, NativeFloatPicture,
                         ::testing::Values(FloatCase{0.0, "0e+00"}, FloatCase{-0.0, "0e+00"},
                                           FloatCase{812.5, "8.125e+02"}, FloatCase{-0.0015, "-1.5e-03"},
                                           FloatCase{1e20, "1e+20"}, FloatCase{123456.7, "1.234567e+05"},
                                           FloatCase{1.23456789, "1.234568e+00"},
                                           FloatCase{2.5e-120, "2.5e-120"},
                                           FloatCase{static_cast<double>(0.1f), "1e-01"}));

// Damaged files: a clear message and a failed load that leaves the caller's image as it was.
struct DamagedCase {
    const char *name;
    std::string (*damage)(const std::string &valid);
    const char *message;
};

std::string ValidFileBytes()
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 4, 3, 1, [](int x, int y, int) { return std::uint16_t(x + y); });
    SetFrameHeader(image);
    WriteNativeImage(dir.file("v.kvr"), image);
    return ReadFileBytes(dir.file("v.kvr"));
}

class NativeDamaged : public ::testing::TestWithParam<DamagedCase>
{
};

TEST_P(NativeDamaged, IsRefusedWithAMessage)
{
    RecordingUiHooks ui;
    TempDir dir;
    WriteFileBytes(dir.file("bad.kvr"), GetParam().damage(ValidFileBytes()));
    ImageData image;
    FillImage(image, 2, 2, 1, [](int, int, int) { return std::uint16_t(77); });
    image.Description = "kept";
    EXPECT_FALSE(LoadImageFile(dir.file("bad.kvr"), image));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].caption, "Korvi error message");
    EXPECT_NE(ui.Messages()[0].text.find(GetParam().message), std::string::npos) << ui.Messages()[0].text;
    EXPECT_EQ(image.Description, "kept");
    EXPECT_EQ(image.Width, 2);
    EXPECT_EQ(image.Rows[1][1], 77);
}

std::string Replaced(std::string text, const std::string &from, const std::string &to)
{
    return text.replace(text.find(from), from.size(), to);
}

const DamagedCase DamagedCases[] = {
    {"Truncated", [](const std::string &v) { return v.substr(0, v.size() - 3); },
     "shorter than its header says"},
    {"NoPixels", [](const std::string &v) { return v.substr(0, v.find("END_PALETTE") + 30); },
     "shorter than its header says"},
    {"NoHeaderEnd", [](const std::string &v) { return v.substr(0, v.find("END_HEADER")); },
     "no END_HEADER line"},
    {"NoPaletteEnd", [](const std::string &v) { return v.substr(0, v.find("END_HEADER") + 100); },
     "no END_PALETTE line"},
    {"NoLimits", [](const std::string &v) { return Replaced(v, "X_HI:", "X_XX:"); },
     "lacks the sub-frame limits"},
    {"AbsurdSize", [](const std::string &v) { return Replaced(v, "X_HI: 103", "X_HI: 2000000000"); },
     "impossible image size"},
    {"NegativeSize", [](const std::string &v) { return Replaced(v, "Y_HI: 52", "Y_HI: 10"); },
     "impossible image size"},
    {"NotANumber", [](const std::string &v) { return Replaced(v, "Y_LO: 50", "Y_LO: fifty"); },
     "lacks the sub-frame limits"},
};

INSTANTIATE_TEST_SUITE_P(Files, NativeDamaged, ::testing::ValuesIn(DamagedCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(NativeFile, UnwritablePathGivesTheOpenMessage)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 2, 2, 1, [](int, int, int) { return std::uint16_t(1); });
    EXPECT_FALSE(SaveImageFile(dir.file("missing/folder/x.kvr"), FormatNative, image));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].caption, "Korvi");
    EXPECT_EQ(ui.Messages()[0].text,
              "Could not open file to write (check that path exists).\n" + dir.file("missing/folder/x.kvr"));
}

TEST(NativeFile, SavingOverAnExistingFileReplacesIt)
{
    RecordingUiHooks ui;
    TempDir dir;
    WriteFileBytes(dir.file("o.kvr"), std::string(100000, 'x'));
    ImageData image;
    FillImage(image, 3, 2, 1, [](int x, int, int) { return std::uint16_t(x); });
    SetFrameHeader(image);
    ASSERT_TRUE(SaveImageFile(dir.file("o.kvr"), FormatNative, image));
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("o.kvr"), back));
    EXPECT_EQ(DifferingPixels(image, back), 0);
}

} // namespace

namespace
{

using namespace korvi::test;

std::string PaletteBlock(const std::vector<std::uint32_t> &items)
{
    std::string block;
    for (std::uint32_t v : items)
        block += Little32(v);
    return block;
}

TEST(NativePalette, DamagedValuesAreTamed)
{
    std::vector<std::uint32_t> items(NativePaletteBytes / 4, 0);
    items[0] = std::bit_cast<std::uint32_t>(std::numeric_limits<float>::quiet_NaN()); // channel 0 point 0 x
    items[1] = std::bit_cast<std::uint32_t>(std::numeric_limits<float>::infinity());  // its y
    items[2] = std::bit_cast<std::uint32_t>(1e30f);                                   // point 1 x
    items[3] = std::bit_cast<std::uint32_t>(0.75f);
    items[4] = std::bit_cast<std::uint32_t>(-3.0f); // point 2 x
    items[366] = 99;                                // segment counts
    items[367] = static_cast<std::uint32_t>(-5);
    items[368] = 7;
    items[369] = 7; // first flag of channel 0
    const std::string block = PaletteBlock(items);
    PPalette palette;
    ReadNativePalette(reinterpret_cast<const std::uint8_t *>(block.data()), block.size(), palette);
    EXPECT_EQ(palette.Points[0][0].x, 0.0f);
    EXPECT_EQ(palette.Points[0][0].y, 0.0f);
    EXPECT_EQ(palette.Points[0][1].x, 1.0f);
    EXPECT_EQ(palette.Points[0][1].y, 0.75f);
    EXPECT_EQ(palette.Points[0][2].x, 0.0f);
    EXPECT_EQ(palette.SegmentCount[0], 20);
    EXPECT_EQ(palette.SegmentCount[1], 1);
    EXPECT_EQ(palette.SegmentCount[2], 7);
    EXPECT_TRUE(palette.Symmetric[0][0]);
    EXPECT_FALSE(palette.Symmetric[0][1]);
}

TEST(NativePalette, AShortBlockKeepsTheItemsItDoesNotHold)
{
    PPalette palette;
    palette.SegmentCount = {3, 3, 3};
    palette.Symmetric[2][19] = true;
    // Points of channels 0 and 1 and half of channel 2 only.
    std::vector<std::uint32_t> items(61 * 2 * 2 + 61, std::bit_cast<std::uint32_t>(0.5f));
    const std::string block = PaletteBlock(items);
    ReadNativePalette(reinterpret_cast<const std::uint8_t *>(block.data()), block.size(), palette);
    EXPECT_EQ(palette.Points[1][60].x, 0.5f);
    EXPECT_EQ(palette.Points[2][29].y, 0.5f);
    EXPECT_EQ(palette.SegmentCount[0], 3);
    EXPECT_TRUE(palette.Symmetric[2][19]);
}

} // namespace
