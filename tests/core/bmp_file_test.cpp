#include "bmp_file.h"

#include "image_data.h"
#include "image_file.h"
#include "image_test_images.h"
#include "recording_ui_hooks.h"
#include "test_files.h"

#include <gtest/gtest.h>

namespace
{

using namespace korvi::test;

// The grey of a colour whose components add up to sum: trunc(sum x 85.6666), worked out by hand.
// 85.6666 lies just below 257 / 3, so a sum divisible by 3 reads one count below sum x 257 / 3
// (60 gives 5139, not 5140); other sums read as sum x 257 / 3 truncated. White reads 65535.
int Grey(int sum)
{
    if (sum == 765)
        return 65535;
    return sum * 257 / 3 - (sum > 0 && sum % 3 == 0 ? 1 : 0);
}

void Put16(std::string &s, std::size_t at, unsigned v)
{
    s[at] = static_cast<char>(v & 0xff);
    s[at + 1] = static_cast<char>((v >> 8) & 0xff);
}
void Put32(std::string &s, std::size_t at, std::uint32_t v)
{
    Put16(s, at, v & 0xffff);
    Put16(s, at + 2, v >> 16);
}

// A bitmap with a 40-byte information header. rows are the stored rows (already padded), in file
// order; palette entries are B, G, R, 0 quadruples.
std::string MakeBmp(int width, int height, int bits, const std::vector<std::string> &rows,
                    const std::string &palette = "", std::uint32_t compression = 0,
                    const std::string &masks = "")
{
    std::string s(54, '\0');
    s[0] = 'B';
    s[1] = 'M';
    const std::size_t offset = 54 + masks.size() + palette.size();
    Put32(s, 10, static_cast<std::uint32_t>(offset));
    Put32(s, 14, 40);
    Put32(s, 18, static_cast<std::uint32_t>(width));
    Put32(s, 22, static_cast<std::uint32_t>(height));
    Put16(s, 26, 1);
    Put16(s, 28, static_cast<unsigned>(bits));
    Put32(s, 30, compression);
    Put32(s, 46, static_cast<std::uint32_t>(palette.size() / 4));
    s += masks + palette;
    for (const std::string &row : rows)
        s += row;
    Put32(s, 2, static_cast<std::uint32_t>(s.size()));
    return s;
}

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

ImageData Load(const std::string &path, RecordingUiHooks &ui)
{
    ImageData image;
    EXPECT_TRUE(LoadImageFile(path, image)) << (ui.Messages().empty() ? "" : ui.Messages()[0].text);
    return image;
}

TEST(BmpFile, WhiteIs65535AndTheBottomRowIsRowZero)
{
    RecordingUiHooks ui;
    TempDir dir;
    // 3 x 2, 24-bit, rows padded to 12 bytes. Stored first: the bottom row (white, black, white).
    const std::string bottom = Bytes({255, 255, 255, 0, 0, 0, 255, 255, 255, 0, 0, 0});
    const std::string top = Bytes({255, 255, 255, 255, 255, 255, 30, 20, 10, 0, 0, 0}); // last: B30 G20 R10
    WriteFileBytes(dir.file("w.bmp"), MakeBmp(3, 2, 24, {bottom, top}));
    const ImageData image = Load(dir.file("w.bmp"), ui);
    ASSERT_EQ(image.Width, 3);
    ASSERT_EQ(image.Height, 2);
    EXPECT_EQ(image.Rows[0][0], 65535);
    EXPECT_EQ(image.Rows[0][1], 0);
    EXPECT_EQ(image.Rows[0][2], 65535);
    EXPECT_EQ(image.Rows[1][0], 65535);
    EXPECT_EQ(image.Rows[1][2], Grey(60)); // trunc(60 x 85.6666): 5139
    EXPECT_EQ(image.Brightest, 65535);
    EXPECT_EQ(image.Dimmest, 0);
    EXPECT_EQ(image.OriginFormat, FormatBmp);
    EXPECT_EQ(image.HeaderFileName, dir.file("w.bmp"));
    EXPECT_EQ(image.FileName, dir.file("w.bmp"));
    EXPECT_EQ(image.Date, "not specified");
    EXPECT_EQ(image.Filters, "not specified");
    EXPECT_EQ(image.IntegrationTime, "0");
    EXPECT_EQ(image.CCDTemperature, "0");
    EXPECT_EQ(image.MaxColumns, 3);
    EXPECT_EQ(image.MaxRows, 2);
    EXPECT_EQ(image.XHi, 2);
    EXPECT_EQ(image.YHi, 1);
    EXPECT_EQ(image.XBin, 1);
    EXPECT_EQ(image.YBin, 1);
}

TEST(BmpFile, TopDownRowsAreTurned)
{
    RecordingUiHooks ui;
    TempDir dir;
    const std::string first = Bytes({3, 0, 0, 0}); // 1 x 2, stored top row first
    const std::string second = Bytes({6, 0, 0, 0});
    WriteFileBytes(dir.file("td.bmp"), MakeBmp(1, -2, 24, {first, second}));
    const ImageData image = Load(dir.file("td.bmp"), ui);
    EXPECT_EQ(image.Rows[1][0], Grey(3)); // the top row of the picture is the image's last row
    EXPECT_EQ(image.Rows[0][0], Grey(6));
}

// A bitmap larger than one block of rows is read block by block; its last row may end without
// its padding.
TEST(BmpFile, LargeBitmapReadsWholeAndItsLastRowMayLackPadding)
{
    RecordingUiHooks ui;
    TempDir dir;
    constexpr int Width = 701, Height = 600; // rows of 2103 bytes padded to 2104: two blocks
    std::vector<std::string> rows;
    for (int y = 0; y < Height; ++y) {
        std::string row;
        for (int x = 0; x < Width; ++x)
            row += std::string(3, static_cast<char>((x + y) % 256));
        rows.push_back(row + '\0');
    }
    std::string bytes = MakeBmp(Width, Height, 24, rows);
    bytes.pop_back();
    WriteFileBytes(dir.file("large.bmp"), bytes);
    const ImageData image = Load(dir.file("large.bmp"), ui);
    ASSERT_EQ(image.Height, Height);
    int wrong = 0;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            wrong += image.Rows[y][x] != Grey(3 * ((x + y) % 256));
    EXPECT_EQ(wrong, 0);
}

TEST(BmpFile, EightBitPaletteAndThirtyTwoBitPixels)
{
    RecordingUiHooks ui;
    TempDir dir;
    const std::string palette = Bytes({0, 0, 0, 0, 255, 255, 255, 0, 1, 2, 3, 0});
    WriteFileBytes(dir.file("p.bmp"), MakeBmp(3, 1, 8, {Bytes({2, 1, 0, 0})}, palette));
    ImageData image = Load(dir.file("p.bmp"), ui);
    EXPECT_EQ(image.Rows[0][0], Grey(6));
    EXPECT_EQ(image.Rows[0][1], 65535);
    EXPECT_EQ(image.Rows[0][2], 0);

    WriteFileBytes(dir.file("q.bmp"), MakeBmp(2, 1, 32, {Bytes({10, 20, 30, 99, 255, 255, 255, 0})}));
    image = Load(dir.file("q.bmp"), ui);
    EXPECT_EQ(image.Rows[0][0], Grey(60));
    EXPECT_EQ(image.Rows[0][1], 65535);

    // Bit fields: red in the low byte, green next, blue in the third.
    const std::string masks = Bytes({0xff, 0, 0, 0, 0, 0xff, 0, 0, 0, 0, 0xff, 0});
    WriteFileBytes(dir.file("f.bmp"), MakeBmp(1, 1, 32, {Bytes({40, 50, 60, 0})}, "", 3, masks));
    image = Load(dir.file("f.bmp"), ui);
    EXPECT_EQ(image.Rows[0][0], Grey(150));
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(BmpFile, WriterStoresA24BitBottomUpBitmap)
{
    RecordingUiHooks ui;
    TempDir dir;
    // 2 x 2 RGBA, top row first: red, green / blue, white.
    const std::uint8_t rgba[] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    ASSERT_TRUE(WriteBmpImage(dir.file("o.bmp"), 2, 2, rgba, false));
    std::string expected = MakeBmp(2, 2, 24,
                                   {Bytes({255, 0, 0, 255, 255, 255, 0, 0}), // bottom: blue, white
                                    Bytes({0, 0, 255, 0, 255, 0, 0, 0})});   // top: red, green
    Put32(expected, 34, 16);                                                 // image size
    Put32(expected, 38, 2835);
    Put32(expected, 42, 2835);
    EXPECT_EQ(ReadFileBytes(dir.file("o.bmp")), expected);
    // Rows given bottom first make the same file.
    const std::uint8_t flipped[] = {0, 0, 255, 255, 255, 255, 255, 255, 255, 0, 0, 255, 0, 255, 0, 255};
    ASSERT_TRUE(WriteBmpImage(dir.file("p.bmp"), 2, 2, flipped, true));
    EXPECT_EQ(ReadFileBytes(dir.file("p.bmp")), expected);
    EXPECT_FALSE(WriteBmpImage(dir.file("none/x.bmp"), 2, 2, rgba, false));
}

struct DamagedBmp {
    const char *name;
    std::string bytes;
    const char *message;
};

class BmpDamaged : public ::testing::TestWithParam<DamagedBmp>
{
};

TEST_P(BmpDamaged, IsRefusedWithAMessage)
{
    RecordingUiHooks ui;
    TempDir dir;
    WriteFileBytes(dir.file("bad.bmp"), GetParam().bytes);
    ImageData image;
    EXPECT_FALSE(LoadImageFile(dir.file("bad.bmp"), image));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].caption, "Korvi error message");
    EXPECT_NE(ui.Messages()[0].text.find(GetParam().message), std::string::npos) << ui.Messages()[0].text;
    EXPECT_TRUE(image.Empty);
}

std::string WithField32(std::string s, std::size_t at, std::uint32_t v)
{
    Put32(s, at, v);
    return s;
}

const std::string GoodBmp = MakeBmp(4, 4, 24, std::vector<std::string>(4, std::string(12, '\x40')));

INSTANTIATE_TEST_SUITE_P(
    Files, BmpDamaged,
    ::testing::Values(
        DamagedBmp{"JustTheMagic", "BM", "not a Windows bitmap"},
        DamagedBmp{"Truncated", GoodBmp.substr(0, GoodBmp.size() - 13), "shorter than its header says"},
        DamagedBmp{"HugeHeight", WithField32(GoodBmp, 22, 0x7fffffff), "impossible size"},
        DamagedBmp{"NegativeWidth", WithField32(GoodBmp, 18, 0xfffffff0), "impossible size"},
        DamagedBmp{"MostNegativeHeight", WithField32(GoodBmp, 22, 0x80000000), "impossible size"},
        DamagedBmp{"SixteenBit", MakeBmp(1, 1, 16, {Bytes({0, 0, 0, 0})}), "8-, 24- or 32-bit"},
        DamagedBmp{"RunLength", MakeBmp(1, 1, 8, {Bytes({0, 0, 0, 0})}, "", 1), "compressed"},
        DamagedBmp{"PixelOffsetBeyondEnd", WithField32(GoodBmp, 10, 1u << 30), "shorter than"},
        DamagedBmp{"InfoSizeBeyondEnd", WithField32(GoodBmp, 14, 1u << 30), "header is damaged"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(BmpInterop, TwentyFourBitFilesFromPillowLoad)
{
    if (!PythonHas("PIL, numpy"))
        GTEST_SKIP() << "Debian's python3 with Pillow and numpy is not installed";
    RecordingUiHooks ui;
    TempDir dir;
    const std::string script = "from PIL import Image\nimport numpy as np\n"
                               "y, x = np.indices((5, 7))\n"
                               "a = np.stack([x * 30, y * 50, (x + y) * 10], axis=-1).astype(np.uint8)\n"
                               "Image.fromarray(a, 'RGB').save('" +
                               dir.file("c.bmp") + "')\n";
    ASSERT_EQ(RunPython(dir.path(), script), 0);
    const ImageData image = Load(dir.file("c.bmp"), ui);
    ASSERT_EQ(image.Width, 7);
    ASSERT_EQ(image.Height, 5);
    long wrong = 0;
    for (int py = 0; py < 5; ++py)
        for (int px = 0; px < 7; ++px)
            wrong += image.Rows[4 - py][px] != Grey(px * 30 + py * 50 + (px + py) * 10);
    EXPECT_EQ(wrong, 0);
}

TEST(BmpInterop, WrittenBitmapsOpenInPillow)
{
    if (!PythonHas("PIL"))
        GTEST_SKIP() << "Debian's python3 with Pillow is not installed";
    RecordingUiHooks ui;
    TempDir dir;
    std::vector<std::uint8_t> rgba;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            rgba.insert(rgba.end(), {std::uint8_t(x * 50), std::uint8_t(y * 100), 7, 255});
    ASSERT_TRUE(WriteBmpImage(dir.file("v.bmp"), 5, 3, rgba.data(), false));
    const std::string script = "from PIL import Image\n"
                               "im = Image.open('" +
                               dir.file("v.bmp") +
                               "')\n"
                               "assert im.size == (5, 3) and im.mode == 'RGB'\n"
                               "assert im.getpixel((4, 2)) == (200, 200, 7), im.getpixel((4, 2))\n"
                               "assert im.getpixel((1, 0)) == (50, 0, 7)\n";
    EXPECT_EQ(RunPython(dir.path(), script), 0);
}

} // namespace
