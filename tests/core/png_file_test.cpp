#include "png_file.h"

#include "image_data.h"
#include "image_file.h"
#include "image_test_images.h"
#include "recording_ui_hooks.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <png.h>

namespace
{

using namespace korvi::test;

// A PNG as libpng stores it, read without any transformation: stored rows and text entries.
struct RawPng {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0;
    std::vector<std::vector<std::uint8_t>> rows; // in file order
    std::vector<std::pair<std::string, std::string>> texts;
};

// The libpng calls that may jump back on an error, kept apart from every C++ object.
bool ReadAll(png_structp png, png_infop info, std::FILE *file)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    return true;
}

bool WriteAll(png_structp png, png_infop info, std::FILE *file, int width, int height, int depth,
              int colourType, int interlace, png_textp texts, int textCount, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, depth, colourType, interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (textCount > 0)
        png_set_text(png, info, texts, textCount);
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    return true;
}

RawPng ReadRaw(const std::string &path)
{
    RawPng raw;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return raw;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (ReadAll(png, info, file)) {
        png_get_IHDR(png, info, &raw.width, &raw.height, &raw.depth, &raw.colourType, &raw.interlace, nullptr,
                     nullptr);
        png_bytepp rows = png_get_rows(png, info);
        const std::size_t bytes = png_get_rowbytes(png, info);
        for (png_uint_32 y = 0; y < raw.height; ++y)
            raw.rows.emplace_back(rows[y], rows[y] + bytes);
        png_textp texts = nullptr;
        int count = 0;
        png_get_text(png, info, &texts, &count);
        for (int i = 0; i < count; ++i)
            raw.texts.emplace_back(texts[i].key, std::string(texts[i].text, texts[i].text_length));
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return raw;
}

// Writes a PNG with libpng from stored rows (bytes as they go into the file).
void WriteRaw(const std::string &path, int width, int height, int depth, int colourType, int interlace,
              const std::vector<std::vector<std::uint8_t>> &rows,
              const std::vector<std::pair<std::string, std::string>> &texts = {})
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_text> entries(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        entries[i].compression = PNG_TEXT_COMPRESSION_NONE;
        entries[i].key = const_cast<char *>(texts[i].first.c_str());
        entries[i].text = const_cast<char *>(texts[i].second.c_str());
        entries[i].text_length = texts[i].second.size();
    }
    std::vector<png_bytep> pointers;
    for (const auto &row : rows)
        pointers.push_back(const_cast<png_bytep>(row.data()));
    if (!WriteAll(png, info, file, width, height, depth, colourType, interlace, entries.data(),
                  static_cast<int>(entries.size()), pointers.data()))
        ADD_FAILURE() << "libpng could not write the test file";
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

TEST(PngFile, StoresRowsBottomUpLowByteFirstWithTheHeaderTexts)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    // 3 x 2: row 0 = 0x0102 0x0304 0x0506, row 1 = 0xa1b2 0xc3d4 0xe5f6.
    const std::uint16_t values[2][3] = {{0x0102, 0x0304, 0x0506}, {0xa1b2, 0xc3d4, 0xe5f6}};
    FillImage(image, 3, 2, 1, [&](int x, int y, int) { return values[y][x]; });
    SetFrameHeader(image);
    image.Brightest = 0xe5f6;
    image.Dimmest = 0x0102;
    ASSERT_TRUE(WritePngImage(dir.file("s.png"), image));
    EXPECT_TRUE(ui.Messages().empty());

    const RawPng raw = ReadRaw(dir.file("s.png"));
    EXPECT_EQ(raw.width, 3u);
    EXPECT_EQ(raw.height, 2u);
    EXPECT_EQ(raw.depth, 16);
    EXPECT_EQ(raw.colourType, PNG_COLOR_TYPE_GRAY);
    EXPECT_EQ(raw.interlace, PNG_INTERLACE_NONE);
    ASSERT_EQ(raw.rows.size(), 2u);
    EXPECT_EQ(raw.rows[0], (std::vector<std::uint8_t>{0xb2, 0xa1, 0xd4, 0xc3, 0xf6, 0xe5})); // image row 1
    EXPECT_EQ(raw.rows[1], (std::vector<std::uint8_t>{0x02, 0x01, 0x04, 0x03, 0x06, 0x05})); // image row 0

    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Original filename", "m42_0001.kvr"},
        {"Creation date", "Tuesday December 8, 2026"},
        {"Creation time", "21:16:14 (GMT)"},
        {"Description", "Orion nebula, test frame"},
        {"Filters", "Red"},
        {"Integration time", "3.000e+01"},
        {"CCD temperature", "-20.5"},
        {"Highest pixel intensity", "58870"},
        {"Lowest pixel intensity", "258"},
        {"CCD max num columns", "1600"},
        {"CCD max num rows", "1200"},
        {"horizontal pixel bins", "1"},
        {"vertical pixel bins", "1"},
        {"CCD lowest X coordinate", "100"},
        {"CCD highest X coordinate", "102"},
        {"CCD lowest Y coordinate", "50"},
        {"CCD highest Y coordinate", "51"},
        {"Dark level in top rows of CCD", "1.225000e+01"},
        {"Dark level in bottom rows of CCD", "1.350000e+01"},
        {"Readout offset level", "8.125000e+02"},
        {"Display offset level", "9.000000e+02"},
        {"Sky level", "1.234750e+03"},
    };
    EXPECT_EQ(raw.texts, expected);
}

TEST(PngFile, RoundTripKeepsPixelsHeaderAndRowOrder)
{
    RecordingUiHooks ui(',');
    TempDir dir;
    ImageData image;
    FillImage(image, 33, 21, 1, [](int x, int y, int) { return std::uint16_t(x * 1987 + y * 3); });
    SetFrameHeader(image);
    image.XBin = 2;
    ASSERT_TRUE(SaveImageFile(dir.file("r.png"), FormatPng, image));
    EXPECT_EQ(ReadRaw(dir.file("r.png")).texts[19].second, "8,125000e+02");
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("r.png"), back));
    EXPECT_EQ(DifferingPixels(image, back), 0);
    EXPECT_EQ(back.OriginFormat, FormatPng);
    EXPECT_EQ(back.FileName, dir.file("r.png"));
    EXPECT_EQ(back.HeaderFileName, image.HeaderFileName);
    EXPECT_EQ(back.Date, image.Date);
    EXPECT_EQ(back.Time, image.Time);
    EXPECT_EQ(back.Description, image.Description);
    EXPECT_EQ(back.Filters, image.Filters);
    EXPECT_EQ(back.IntegrationTime, image.IntegrationTime);
    EXPECT_EQ(back.CCDTemperature, image.CCDTemperature);
    EXPECT_EQ(back.XBin, 2);
    EXPECT_EQ(back.XHi, image.XHi);
    EXPECT_EQ(back.YLo, image.YLo);
    EXPECT_EQ(back.MaxRows, 1200);
    EXPECT_EQ(back.TopDark, 12.25f);
    EXPECT_EQ(back.OffsetLevel, 812.5f);
    EXPECT_EQ(back.Brightest, 32 * 1987 + 20 * 3);
    EXPECT_EQ(back.Dimmest, 0);
    EXPECT_EQ(back.Frames, 1);
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(PngFile, EightBitGreyReadsUnscaledAndBottomUp)
{
    RecordingUiHooks ui;
    TempDir dir;
    WriteRaw(dir.file("8.png"), 3, 2, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
             {{0, 1, 2}, {253, 254, 255}});
    ImageData image;
    ASSERT_TRUE(LoadImageFile(dir.file("8.png"), image));
    EXPECT_EQ(image.Rows[1][0], 0); // first file row is the image's last row
    EXPECT_EQ(image.Rows[1][2], 2);
    EXPECT_EQ(image.Rows[0][0], 253);
    EXPECT_EQ(image.Rows[0][2], 255);
    EXPECT_EQ(image.Brightest, 255);
    EXPECT_EQ(image.Dimmest, 0);
    // Fewer than 22 texts: the header of a plain full frame.
    EXPECT_EQ(image.HeaderFileName, dir.file("8.png"));
    EXPECT_EQ(image.Date, "not specified");
    EXPECT_EQ(image.Description, "not specified");
    EXPECT_EQ(image.IntegrationTime, "0");
    EXPECT_EQ(image.XHi, 2);
    EXPECT_EQ(image.YHi, 1);
    EXPECT_EQ(image.MaxColumns, 3);
    EXPECT_EQ(image.XBin, 1);
}

TEST(PngFile, StandardByteOrderReadsSwapped)
{
    RecordingUiHooks ui;
    TempDir dir;
    // Other programs store 0x1234 as 12 34; the program reads the first byte as the low one.
    WriteRaw(dir.file("be.png"), 2, 1, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
             {{0x12, 0x34, 0xff, 0x00}});
    ImageData image;
    ASSERT_TRUE(LoadImageFile(dir.file("be.png"), image));
    EXPECT_EQ(image.Rows[0][0], 0x3412);
    EXPECT_EQ(image.Rows[0][1], 0x00ff);
}

TEST(PngFile, InterlacedFilesReadCorrectly)
{
    RecordingUiHooks ui;
    TempDir dir;
    const int w = 13, h = 11;
    std::vector<std::vector<std::uint8_t>> rows16(h), rows8(h);
    for (int i = 0; i < h; ++i)
        for (int x = 0; x < w; ++x) {
            const int v = i * 100 + x;
            rows16[i].push_back(static_cast<std::uint8_t>(v & 0xff));
            rows16[i].push_back(static_cast<std::uint8_t>(v >> 8));
            rows8[i].push_back(static_cast<std::uint8_t>(i * 20 + x));
        }
    WriteRaw(dir.file("i16.png"), w, h, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_ADAM7, rows16);
    WriteRaw(dir.file("i8.png"), w, h, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_ADAM7, rows8);
    ASSERT_EQ(ReadRaw(dir.file("i16.png")).interlace, PNG_INTERLACE_ADAM7);
    ImageData image;
    ASSERT_TRUE(LoadImageFile(dir.file("i16.png"), image));
    long wrong = 0;
    for (int i = 0; i < h; ++i)
        for (int x = 0; x < w; ++x)
            wrong += image.Rows[h - 1 - i][x] != i * 100 + x;
    EXPECT_EQ(wrong, 0);
    ASSERT_TRUE(LoadImageFile(dir.file("i8.png"), image));
    for (int i = 0; i < h; ++i)
        for (int x = 0; x < w; ++x)
            wrong += image.Rows[h - 1 - i][x] != i * 20 + x;
    EXPECT_EQ(wrong, 0);
}

TEST(PngFile, ColourAndOtherDepthsAreRefused)
{
    RecordingUiHooks ui;
    TempDir dir;
    WriteRaw(dir.file("rgb.png"), 1, 1, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, {{1, 2, 3}});
    WriteRaw(dir.file("grey4.png"), 2, 1, 4, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, {{0x12}});
    WriteRaw(dir.file("ga.png"), 1, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_INTERLACE_NONE, {{1, 2}});
    for (const char *name : {"rgb.png", "grey4.png", "ga.png"}) {
        ui.Clear();
        ImageData image;
        EXPECT_FALSE(LoadImageFile(dir.file(name), image)) << name;
        ASSERT_EQ(ui.Messages().size(), 1u) << name;
        EXPECT_EQ(ui.Messages()[0].caption, "Korvi error message");
        EXPECT_EQ(ui.Messages()[0].text, "Unsupported color mode (must be 8 or 16-bit grayscale).");
    }
}

TEST(PngFile, ForeignTextsAreNotTakenForTheHeader)
{
    RecordingUiHooks ui;
    TempDir dir;
    std::vector<std::pair<std::string, std::string>> texts;
    for (int i = 0; i < 25; ++i)
        texts.emplace_back("Comment" + std::to_string(i), "words " + std::to_string(i));
    WriteRaw(dir.file("t.png"), 2, 2, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, {{1, 2}, {3, 4}}, texts);
    ImageData image;
    ASSERT_TRUE(LoadImageFile(dir.file("t.png"), image));
    EXPECT_EQ(image.Description, "not specified");
    EXPECT_EQ(image.XHi, 1);
    EXPECT_EQ(image.TopDark, 0.0f);
}

struct DamagedPng {
    const char *name;
    std::string (*damage)(const std::string &valid);
};

const DamagedPng DamagedPngs[] = {
    {"Truncated", [](const std::string &v) { return v.substr(0, v.size() / 2); }},
    {"SignatureOnly", [](const std::string &v) { return v.substr(0, 8); }},
    {"BadCrcInData",
     [](const std::string &v) {
         std::string d = v;
         d[d.find("IDAT") + 6] ^= 0x55;
         return d;
     }},
    {"ChunkLengthBeyondEnd",
     [](const std::string &v) {
         std::string d = v;
         d.replace(d.find("tEXt") - 4, 4, std::string("\x7f\xff\xff\xf0", 4));
         return d;
     }},
    {"HugeSizeInHeader",
     [](const std::string &v) {
         std::string d = v;
         d.replace(16, 8, std::string("\x00\x01\x00\x00\x00\x01\x00\x00", 8)); // 65536 x 65536, CRC now wrong
         return d;
     }},
};

class PngDamaged : public ::testing::TestWithParam<DamagedPng>
{
};

TEST_P(PngDamaged, FailsWithAMessage)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 40, 30, 1, [](int x, int y, int) { return std::uint16_t(x * y * 17); });
    ASSERT_TRUE(WritePngImage(dir.file("v.png"), image));
    WriteFileBytes(dir.file("bad.png"), GetParam().damage(ReadFileBytes(dir.file("v.png"))));
    ImageData back;
    EXPECT_FALSE(LoadImageFile(dir.file("bad.png"), back));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].caption, "Korvi error message");
    EXPECT_TRUE(back.Empty);
}

INSTANTIATE_TEST_SUITE_P(Files, PngDamaged, ::testing::ValuesIn(DamagedPngs),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(PngInterop, GreyscaleFilesFromPillowLoad)
{
    if (!PythonHas("PIL, numpy"))
        GTEST_SKIP() << "Debian's python3 with Pillow and numpy is not installed";
    RecordingUiHooks ui;
    TempDir dir;
    const std::string script = "from PIL import Image\nimport numpy as np\n"
                               "y, x = np.indices((5, 7))\n"
                               "Image.fromarray((x * 30 + y).astype(np.uint8), 'L').save('" +
                               dir.file("l8.png") +
                               "')\n"
                               "v = (x * 9000 + y * 3 + 1).astype(np.uint16)\n"
                               "Image.fromarray(v).save('" +
                               dir.file("l16.png") + "')\n";
    ASSERT_EQ(RunPython(dir.path(), script), 0);
    ImageData image;
    ASSERT_TRUE(LoadImageFile(dir.file("l8.png"), image));
    ASSERT_EQ(image.Width, 7);
    ASSERT_EQ(image.Height, 5);
    long wrong = 0;
    for (int py = 0; py < 5; ++py) // Pillow's row 0 is the top, the image's row 4
        for (int px = 0; px < 7; ++px)
            wrong += image.Rows[4 - py][px] != px * 30 + py;
    EXPECT_EQ(wrong, 0);
    ASSERT_TRUE(LoadImageFile(dir.file("l16.png"), image));
    for (int py = 0; py < 5; ++py)
        for (int px = 0; px < 7; ++px) {
            const std::uint16_t v = static_cast<std::uint16_t>(px * 9000 + py * 3 + 1);
            wrong += image.Rows[4 - py][px] != static_cast<std::uint16_t>((v >> 8) | (v << 8));
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(ui.Messages().empty());
}

} // namespace
