#include "fits_file.h"

#include "image_data.h"
#include "image_file.h"
#include "image_test_images.h"
#include "recording_ui_hooks.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fitsio.h>
#include <sys/resource.h>
#include <zlib.h>

namespace
{

using namespace korvi::test;

// Points the FITS error log into the test's folder for the test's lifetime.
class LogInFolder
{
public:
    explicit LogInFolder(const std::filesystem::path &folder)
    {
        if (const char *old = std::getenv("TMPDIR"))
            previous_ = old, hadPrevious_ = true;
        setenv("TMPDIR", folder.c_str(), 1);
    }
    ~LogInFolder()
    {
        if (hadPrevious_)
            setenv("TMPDIR", previous_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

private:
    std::string previous_;
    bool hadPrevious_ = false;
};

// Keyword cards of the primary HDU of a file, as CFITSIO reads them.
struct Card {
    std::string name, value, comment;
};

std::vector<Card> ReadCards(const std::string &path, int hdu = 1)
{
    std::vector<Card> cards;
    fitsfile *f = nullptr;
    int status = 0;
    fits_open_diskfile(&f, path.c_str(), READONLY, &status);
    int type = 0;
    if (hdu != 1)
        fits_movabs_hdu(f, hdu, &type, &status);
    int count = 0;
    fits_get_hdrspace(f, &count, nullptr, &status);
    for (int i = 1; i <= count && status == 0; ++i) {
        char name[FLEN_KEYWORD], value[FLEN_VALUE], comment[FLEN_COMMENT];
        fits_read_keyn(f, i, name, value, comment, &status);
        cards.push_back({name, value, comment});
    }
    fits_close_file(f, &status);
    EXPECT_EQ(status, 0);
    return cards;
}

const Card *Find(const std::vector<Card> &cards, const std::string &name)
{
    for (const Card &c : cards)
        if (c.name == name)
            return &c;
    return nullptr;
}

// Writes an image of another program with CFITSIO: type, axes and values given.
template <typename T>
void WriteForeign(const std::string &path, int bitpix, int datatype, std::vector<long> axes,
                  const std::vector<T> &values)
{
    fitsfile *f = nullptr;
    int status = 0;
    fits_create_diskfile(&f, path.c_str(), &status);
    fits_create_img(f, bitpix, static_cast<int>(axes.size()), axes.data(), &status);
    fits_write_img(f, datatype, 1, static_cast<LONGLONG>(values.size()), const_cast<T *>(values.data()),
                   &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
}

TEST(FitsFile, WritesTheProgramsKeywordsInOrder)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 6, 4, 1, [](int x, int y, int) { return std::uint16_t(x * 10000 + y); });
    SetFrameHeader(image);
    image.Brightest = 50003;
    image.Dimmest = 0;
    ASSERT_TRUE(WriteFitsImage(dir.file("k.fits"), image));
    EXPECT_TRUE(ui.Messages().empty());

    const auto cards = ReadCards(dir.file("k.fits"));
    std::vector<std::string> names;
    for (const Card &c : cards)
        if (c.name != "COMMENT")
            names.push_back(c.name);
    const std::vector<std::string> expected = {
        "SIMPLE",      "BITPIX",        "NAXIS",        "NAXIS1",
        "NAXIS2",      "EXTEND",        "BZERO",        "BSCALE",
        "CCDTYPE",     "FILENAME",      "DATE",         "TIME",
        "DESCRIPT",    "FILTERS",       "INTTIME",      "CCDTEMPERATURE",
        "HIGHPIX",     "LOWPIX",        "NCOLMAX",      "NROWMAX",
        "XHI",         "XLO",           "YHI",          "YLO",
        "YBIN",        "XBIN",          "TOPDARKLEVEL", "BOTTOMDARKLEVEL",
        "OFFSETLEVEL", "DISPLAYOFFSET", "SKYLEVEL"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(Find(cards, "BITPIX")->value, "16");
    EXPECT_EQ(Find(cards, "BZERO")->value, "32768");
    EXPECT_EQ(Find(cards, "CCDTYPE")->value, "'KORVI_GENERATED_FILE'");
    EXPECT_EQ(Find(cards, "CCDTYPE")->comment, "CCD chip used");
    EXPECT_EQ(Find(cards, "DATE")->value, "'2026-12-08'");
    EXPECT_EQ(Find(cards, "TIME")->value, "'21:16:14 (GMT)'");
    EXPECT_EQ(Find(cards, "CCDTEMPERATURE")->value, "'-20.5   '"); // FITS pads to 8
    EXPECT_EQ(Find(cards, "CCDTEMPERATURE")->comment, "CCD temperature");
    EXPECT_EQ(Find(cards, "HIGHPIX")->value, "50003");
    EXPECT_EQ(Find(cards, "XHI")->value, "105");
    EXPECT_EQ(Find(cards, "YLO")->comment, "lower corner pixel y");
    EXPECT_EQ(Find(cards, "TOPDARKLEVEL")->value, "12"); // truncated
    EXPECT_EQ(Find(cards, "OFFSETLEVEL")->value, "812");
    EXPECT_EQ(Find(cards, "SKYLEVEL")->value, "1234");
}

TEST(FitsFile, RoundTripOfOneFrame)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 17, 9, 1, [](int x, int y, int) { return std::uint16_t(x * 3853 + y * 11); });
    SetFrameHeader(image);
    ASSERT_TRUE(SaveImageFile(dir.file("r.fits"), FormatFits, image));
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("r.fits"), back));
    EXPECT_EQ(DifferingPixels(image, back), 0);
    EXPECT_EQ(back.Frames, 1);
    EXPECT_EQ(back.OriginFormat, FormatFits);
    EXPECT_EQ(back.HeaderFileName, image.HeaderFileName);
    EXPECT_EQ(back.Date, image.Date);
    EXPECT_EQ(back.Time, image.Time);
    EXPECT_EQ(back.Description, image.Description);
    EXPECT_EQ(back.Filters, image.Filters);
    EXPECT_EQ(back.IntegrationTime, image.IntegrationTime);
    EXPECT_EQ(back.CCDTemperature, image.CCDTemperature);
    EXPECT_EQ(back.MaxColumns, 1600);
    EXPECT_EQ(back.XLo, 100);
    EXPECT_EQ(back.XHi, 116);
    EXPECT_EQ(back.YHi, 58);
    EXPECT_EQ(back.XBin, 1);
    EXPECT_EQ(back.TopDark, 12.0f);
    EXPECT_EQ(back.OffsetLevel, 812.0f);
    EXPECT_EQ(back.Brightest, 16 * 3853 + 8 * 11);
    EXPECT_EQ(back.FileName, dir.file("r.fits"));
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(FitsFile, ThreeFramesMakeACube)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 5, 4, 3, [](int x, int y, int f) { return std::uint16_t(f * 20000 + y * 5 + x); });
    SetFrameHeader(image);
    ASSERT_TRUE(WriteFitsImage(dir.file("c.fits"), image));
    const auto cards = ReadCards(dir.file("c.fits"));
    EXPECT_EQ(Find(cards, "NAXIS")->value, "3");
    EXPECT_EQ(Find(cards, "NAXIS3")->value, "3");
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("c.fits"), back));
    EXPECT_EQ(back.Frames, 3);
    EXPECT_EQ(DifferingPixels(image, back), 0);
    EXPECT_EQ(back.FrameRow(2, 3)[4], 40019);
}

TEST(FitsFile, LongTextsSurviveWhole)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 2, 2, 1, [](int, int, int) { return std::uint16_t(1); });
    SetFrameHeader(image);
    image.Description = std::string(150, 'd') + " end";
    ASSERT_TRUE(WriteFitsImage(dir.file("l.fits"), image));
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("l.fits"), back));
    EXPECT_EQ(back.Description, image.Description);
}

TEST(FitsFile, ForeignFileTakesGeometryFromTheAxesAndResetsTheHeader)
{
    RecordingUiHooks ui;
    TempDir dir;
    // A signed 16-bit image without BZERO: negative values keep their low 16 bits.
    WriteForeign<short>(dir.file("foreign.fits"), SHORT_IMG, TSHORT, {3, 2}, {-1, 0, 1, 2, 32767, -32768});
    ImageData image;
    FillImage(image, 2, 2, 1, [](int, int, int) { return std::uint16_t(1); });
    SetFrameHeader(image); // what a previous image left in the record
    ASSERT_TRUE(LoadImageFile(dir.file("foreign.fits"), image));
    EXPECT_EQ(image.Width, 3);
    EXPECT_EQ(image.Height, 2);
    EXPECT_EQ(image.XLo, 0);
    EXPECT_EQ(image.XHi, 2);
    EXPECT_EQ(image.YHi, 1);
    EXPECT_EQ(image.XBin, 1);
    EXPECT_EQ(image.YBin, 1);
    EXPECT_EQ(image.MaxColumns, 3);
    EXPECT_EQ(image.MaxRows, 2);
    EXPECT_EQ(image.Description, "not specified");
    EXPECT_EQ(image.Date, "not specified");
    EXPECT_EQ(image.CCDTemperature, "0");
    EXPECT_EQ(image.TopDark, 0.0f);
    EXPECT_EQ(image.Rows[0][0], 65535);
    EXPECT_EQ(image.Rows[0][2], 1);
    EXPECT_EQ(image.Rows[1][0], 2);
    EXPECT_EQ(image.Rows[1][1], 32767);
    EXPECT_EQ(image.Rows[1][2], 32768);
}

TEST(FitsFile, ValuesAbove65535KeepTheirLow16Bits)
{
    RecordingUiHooks ui;
    TempDir dir;
    WriteForeign<int>(dir.file("big.fits"), LONG_IMG, TINT, {2, 2}, {65536 + 5, 70000, 3, 1 << 20});
    ImageData image;
    ASSERT_TRUE(LoadImageFile(dir.file("big.fits"), image));
    EXPECT_EQ(image.Rows[0][0], 5);
    EXPECT_EQ(image.Rows[0][1], 70000 - 65536);
    EXPECT_EQ(image.Rows[1][0], 3);
    EXPECT_EQ(image.Rows[1][1], 0);
    EXPECT_EQ(image.Brightest, 4464);
    EXPECT_EQ(image.Dimmest, 0);
}

// Images larger than one read: unsigned 16-bit pixels go straight into the rows, 32-bit ones
// through a bounded buffer; every chunk lands in place and the extremes span all chunks.
TEST(FitsFile, ImagesOfSeveralReadChunksLoadWhole)
{
    RecordingUiHooks ui;
    TempDir dir;
    constexpr long Width = 1100, Height = 1000; // three chunks, the last one short
    const auto value = [](long i) { return 1000 + (i * 7919) % 50000; };
    std::vector<unsigned short> narrow(Width * Height);
    std::vector<int> wide(Width * Height);
    for (long i = 0; i < Width * Height; ++i) {
        narrow[i] = static_cast<unsigned short>(value(i));
        wide[i] = static_cast<int>(value(i) + 65536 * (i % 3));
    }
    narrow.front() = 65535; // the brightest in the first chunk, the dimmest in the last
    narrow.back() = 3;
    wide.front() = 65535 + 65536;
    wide.back() = 3 - 65536;
    WriteForeign<unsigned short>(dir.file("u16.fits"), USHORT_IMG, TUSHORT, {Width, Height}, narrow);
    WriteForeign<int>(dir.file("i32.fits"), LONG_IMG, TINT, {Width, Height}, wide);
    for (const char *name : {"u16.fits", "i32.fits"}) {
        ImageData image;
        ASSERT_TRUE(LoadImageFile(dir.file(name), image)) << name;
        long wrong = 0;
        for (long i = 0; i < Width * Height; ++i)
            wrong += image.Rows.Data()[i] != narrow[i];
        EXPECT_EQ(wrong, 0) << name;
        EXPECT_EQ(image.Brightest, 65535) << name;
        EXPECT_EQ(image.Dimmest, 3) << name;
    }
}

TEST(FitsFile, ForeignFloatCubeOfFourFrames)
{
    RecordingUiHooks ui;
    TempDir dir;
    std::vector<float> values(2 * 3 * 4);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = 100.0f * static_cast<float>(i);
    WriteForeign<float>(dir.file("cube.fits"), FLOAT_IMG, TFLOAT, {2, 3, 4}, values);
    ImageData image;
    ASSERT_TRUE(LoadImageFile(dir.file("cube.fits"), image));
    EXPECT_EQ(image.Frames, 4);
    EXPECT_EQ(image.FrameRow(3, 2)[1], 2300);
}

TEST(FitsFile, MissingDateReadsNotFound)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 2, 2, 1, [](int, int, int) { return std::uint16_t(1); });
    SetFrameHeader(image);
    image.Date = "sometime"; // not a date: left out of the file
    ASSERT_TRUE(WriteFitsImage(dir.file("nd.fits"), image));
    EXPECT_EQ(Find(ReadCards(dir.file("nd.fits")), "DATE"), nullptr);
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("nd.fits"), back));
    EXPECT_EQ(back.Date, "Not found.");
    EXPECT_EQ(back.Time, "21:16:14 (GMT)");
}

TEST(FitsFile, DateTexts)
{
    EXPECT_EQ(FitsDateFromText("Tuesday December 8, 2026"), "2026-12-08");
    EXPECT_EQ(FitsDateFromText("Monday, January 1, 2024"), "2024-01-01");
    EXPECT_EQ(FitsDateFromText("February 30, 2024"), "");
    EXPECT_EQ(FitsDateFromText("not specified"), "");
    EXPECT_EQ(TextFromFitsDate("2026-12-08"), "Tuesday December 8, 2026");
    EXPECT_EQ(TextFromFitsDate("2024-01-01T10:00:00"), "Monday January 1, 2024");
    EXPECT_EQ(TextFromFitsDate("Tuesday, December 8, 2026"), "Tuesday, December 8, 2026");
    EXPECT_EQ(TextFromFitsDate("2024-13-01"), "2024-13-01");
}

TEST(FitsFile, SavingOverAnExistingFileReplacesIt)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData first, second;
    FillImage(first, 8, 8, 1, [](int x, int, int) { return std::uint16_t(x); });
    FillImage(second, 3, 5, 1, [](int, int y, int) { return std::uint16_t(1000 + y); });
    ASSERT_TRUE(WriteFitsImage(dir.file("o.fits"), first));
    ASSERT_TRUE(WriteFitsImage(dir.file("o.fits"), second));
    EXPECT_TRUE(ui.Messages().empty());
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("o.fits"), back));
    EXPECT_EQ(DifferingPixels(second, back), 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(FitsFile, BracketsInFolderNamesArePlainCharacters)
{
    RecordingUiHooks ui;
    TempDir dir;
    const auto folder = dir.path() / "night [2026] #1";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "m42[1].fits").string();
    ImageData image;
    FillImage(image, 4, 3, 1, [](int x, int y, int) { return std::uint16_t(x * y); });
    ASSERT_TRUE(SaveImageFile(path, FormatFits, image));
    ASSERT_TRUE(std::filesystem::exists(path));
    ImageData back;
    ASSERT_TRUE(LoadImageFile(path, back));
    EXPECT_EQ(DifferingPixels(image, back), 0);
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(FitsFile, FailedSaveShowsOneMessageAndLeavesNoFile)
{
    RecordingUiHooks ui;
    TempDir dir;
    LogInFolder log(dir.path());
    ImageData image;
    FillImage(image, 4, 3, 1, [](int, int, int) { return std::uint16_t(7); });
    EXPECT_FALSE(SaveImageFile(dir.file("no/such/folder/x.fits"), FormatFits, image));
    // The missing folder is named as the problem, as for the other formats, before CFITSIO
    // (whose own text would blame an existing file) is asked.
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].caption, "Korvi");
    EXPECT_EQ(ui.Messages()[0].text,
              std::string(CannotOpenForWriting) + "\n" + dir.file("no/such/folder/x.fits"));
    EXPECT_EQ(ReadFileBytes(dir.file("fits_log.txt")), "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
}

// A disk that fills up part way through the pixels: one box, which names the file, and nothing left.
TEST(FitsFile, SaveOntoAFullDiskNamesTheFile)
{
    RecordingUiHooks ui;
    TempDir dir;
    LogInFolder log(dir.path());
    ImageData image;
    FillImage(image, 200, 100, 1, [](int x, int y, int) { return std::uint16_t(x + y); });
    const std::string path = dir.file("m42_3.fit");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 3 * 2880; // room for the header and a little of the pixels
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = SaveImageFile(path, FormatFits, image);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(saved);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find(path), std::string::npos) << ui.Messages()[0].text;
    EXPECT_NE(ReadFileBytes(dir.file("fits_log.txt")).find(path), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(path));
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename(), "fits_log.txt");
}

TEST(FitsFile, ErrorReportsAppendOneLineEach)
{
    RecordingUiHooks ui;
    TempDir dir;
    LogInFolder log(dir.path());
    EXPECT_EQ(FitsErrorLogPath(), dir.file("fits_log.txt"));
    ReportFitsError(104);
    ReportFitsError(507);
    ReportFitsError(9999);
    EXPECT_EQ(ReadFileBytes(dir.file("fits_log.txt")),
              "error opening existing file\nFile not created with Korvi, continue?\nFITS error 9999\n");
    ASSERT_EQ(ui.Messages().size(), 3u);
    EXPECT_EQ(ui.Messages()[0].caption, "FITS file I/O error");
    EXPECT_EQ(ui.Messages()[0].text, "error opening existing file");
    EXPECT_EQ(ui.Messages()[2].text, "FITS error 9999");
    // Statuses outside the program's own wording take the library's text.
    EXPECT_EQ(FitsErrorText(112), "Cannot modify file with readonly access");
    EXPECT_FALSE(FitsErrorText(419).empty());
}

TEST(FitsFile, UnwritableLogStillShowsTheBox)
{
    RecordingUiHooks ui;
    TempDir dir;
    LogInFolder log(dir.path() / "missing");
    ReportFitsError(104);
    ASSERT_EQ(ui.Messages().size(), 1u);
}

TEST(FitsFile, CompressedImageInTheFirstExtensionIsRead)
{
    RecordingUiHooks ui;
    TempDir dir;
    const std::string path = dir.file("z.fits");
    fitsfile *f = nullptr;
    int status = 0;
    long axes[2] = {40, 30};
    std::vector<unsigned short> values(40 * 30);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<unsigned short>(i * 37);
    fits_create_diskfile(&f, path.c_str(), &status);
    fits_set_compression_type(f, RICE_1, &status);
    fits_create_img(f, USHORT_IMG, 2, axes, &status);
    fits_write_img(f, TUSHORT, 1, 1200, values.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
    ImageData image;
    ASSERT_TRUE(LoadImageFile(path, image)) << (ui.Messages().empty() ? "" : ui.Messages()[0].text);
    EXPECT_EQ(image.Width, 40);
    EXPECT_EQ(image.Height, 30);
    EXPECT_EQ(image.Rows[29][39], static_cast<unsigned short>(1199 * 37));
}

// CFITSIO divides by the tile sizes of a compressed image without checking them; such headers
// are refused before the library reads them.
TEST(FitsFile, CompressedImageWithZeroTileSizeIsRefused)
{
    RecordingUiHooks ui;
    TempDir dir;
    const std::string path = dir.file("z.fits");
    fitsfile *f = nullptr;
    int status = 0;
    long axes[2] = {5, 3};
    long tiles[2] = {5, 3};
    std::vector<unsigned short> values(15, 7);
    fits_create_diskfile(&f, path.c_str(), &status);
    fits_set_compression_type(f, RICE_1, &status);
    fits_set_tile_dim(f, 2, tiles, &status);
    fits_create_img(f, USHORT_IMG, 2, axes, &status);
    fits_write_img(f, TUSHORT, 1, 15, values.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
    std::string bytes = ReadFileBytes(path);
    const std::size_t card = bytes.find("ZTILE2  =");
    ASSERT_NE(card, std::string::npos);
    bytes.replace(card + 10, 20, "                   0");
    WriteFileBytes(path, bytes);

    ImageData image;
    EXPECT_FALSE(LoadImageFile(path, image));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find("compressed image in the FITS file is damaged"), std::string::npos);

    // A second ZNAXIS1 card of 0 (and no tile size, so the row length is the tile size).
    bytes.replace(card, 30, "ZNAXIS1 =                    0");
    WriteFileBytes(path, bytes);
    ui.Clear();
    EXPECT_FALSE(LoadImageFile(path, image));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find("compressed image in the FITS file is damaged"), std::string::npos);
}

TEST(FitsFile, TableInTheFirstExtensionIsNoImage)
{
    RecordingUiHooks ui;
    TempDir dir;
    const std::string path = dir.file("table.fits");
    fitsfile *f = nullptr;
    int status = 0;
    char *names[] = {const_cast<char *>("A")};
    char *forms[] = {const_cast<char *>("1J")};
    fits_create_diskfile(&f, path.c_str(), &status);
    fits_create_img(f, SHORT_IMG, 0, nullptr, &status);
    fits_create_tbl(f, BINARY_TBL, 2, 1, names, forms, nullptr, "T", &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
    ImageData image;
    EXPECT_FALSE(LoadImageFile(path, image));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find("holds no image"), std::string::npos);
}

void GzipFile(const std::string &from, const std::string &to)
{
    const std::string bytes = ReadFileBytes(from);
    gzFile out = gzopen(to.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(gzwrite(out, bytes.data(), static_cast<unsigned>(bytes.size())),
              static_cast<int>(bytes.size()));
    ASSERT_EQ(gzclose(out), Z_OK);
}

TEST(FitsFile, GzipCompressedFilesLoad)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 30, 20, 2, [](int x, int y, int f) { return std::uint16_t(x * 100 + y + f * 7); });
    SetFrameHeader(image);
    ASSERT_TRUE(WriteFitsImage(dir.file("p.fits"), image));
    GzipFile(dir.file("p.fits"), dir.file("p.fits.gz"));
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("p.fits.gz"), back)) << ui.Messages().at(0).text;
    EXPECT_EQ(DifferingPixels(image, back), 0);
    EXPECT_EQ(back.Description, image.Description);

    // A compressed image in the first extension, inside a gzip file.
    fitsfile *f = nullptr;
    int status = 0;
    long axes[2] = {6, 4};
    std::vector<unsigned short> values(24, 4242);
    fits_create_diskfile(&f, dir.file("t.fits").c_str(), &status);
    fits_set_compression_type(f, GZIP_1, &status);
    fits_create_img(f, USHORT_IMG, 2, axes, &status);
    fits_write_img(f, TUSHORT, 1, 24, values.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
    GzipFile(dir.file("t.fits"), dir.file("t.fits.gz"));
    ASSERT_TRUE(LoadImageFile(dir.file("t.fits.gz"), back));
    EXPECT_EQ(back.Width, 6);
    EXPECT_EQ(back.Rows[3][5], 4242);

    // An empty primary array alone.
    fits_create_diskfile(&f, dir.file("e.fits").c_str(), &status);
    fits_create_img(f, SHORT_IMG, 0, nullptr, &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
    GzipFile(dir.file("e.fits"), dir.file("e.fits.gz"));
    EXPECT_FALSE(LoadImageFile(dir.file("e.fits.gz"), back));
    ASSERT_FALSE(ui.Messages().empty());
    EXPECT_NE(ui.Messages().back().text.find("holds no image"), std::string::npos);
}

TEST(FitsFile, GzipFileWithAnImpossibleSizeIsRefused)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 8, 8, 1, [](int x, int, int) { return std::uint16_t(x); });
    ASSERT_TRUE(WriteFitsImage(dir.file("p.fits"), image));
    GzipFile(dir.file("p.fits"), dir.file("p.fits.gz"));
    std::string bytes = ReadFileBytes(dir.file("p.fits.gz"));
    bytes.replace(bytes.size() - 4, 4, "\xf0\xff\xff\xff"); // the unpacked size in the trailer: 4 GB
    WriteFileBytes(dir.file("p.fits.gz"), bytes);
    ImageData back;
    EXPECT_FALSE(LoadImageFile(dir.file("p.fits.gz"), back));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find("compressed FITS file is damaged"), std::string::npos);

    // A stated size below the packed size of a larger file reads as a file beyond 4 GB.
    bytes.insert(bytes.size() - 8, std::string(12000, '\0'));
    bytes.replace(bytes.size() - 4, 4, "\x80\x16\x00\x00"); // 5760
    WriteFileBytes(dir.file("p.fits.gz"), bytes);
    ui.Clear();
    EXPECT_FALSE(LoadImageFile(dir.file("p.fits.gz"), back));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find("compressed FITS file is damaged"), std::string::npos);
}

TEST(FitsFile, MalformedNumberKeywordsFallBackToDefaults)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 4, 3, 1, [](int x, int, int) { return std::uint16_t(10 + x); });
    SetFrameHeader(image);
    ASSERT_TRUE(WriteFitsImage(dir.file("m.fits"), image));
    std::string bytes = ReadFileBytes(dir.file("m.fits"));
    // A value that overruns CFITSIO's own number conversion, and one that is not a number.
    const std::size_t low = bytes.find("LOWPIX  =");
    bytes.replace(low + 10, 70, std::string(60, '=') + "         0");
    const std::size_t bin = bytes.find("XBIN    =");
    bytes.replace(bin + 10, 20, "               'two'");
    WriteFileBytes(dir.file("m.fits"), bytes);
    ImageData back;
    ASSERT_TRUE(LoadImageFile(dir.file("m.fits"), back));
    EXPECT_EQ(back.Dimmest, 10);
    EXPECT_EQ(back.XBin, 1);
    EXPECT_EQ(back.YBin, 1);
    EXPECT_EQ(back.XLo, 100);
}

TEST(FitsFile, MalformedNumbersThatCfitsioReadsItselfAreRefused)
{
    RecordingUiHooks ui;
    TempDir dir;
    fitsfile *f = nullptr;
    int status = 0;
    long axes[2] = {5, 3};
    std::vector<unsigned short> values(15, 9);
    fits_create_diskfile(&f, dir.file("z.fits").c_str(), &status);
    fits_set_compression_type(f, RICE_1, &status);
    fits_create_img(f, USHORT_IMG, 2, axes, &status);
    fits_write_img(f, TUSHORT, 1, 15, values.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
    std::string bytes = ReadFileBytes(dir.file("z.fits"));
    const std::size_t zval = bytes.find("ZVAL2   =");
    ASSERT_NE(zval, std::string::npos);
    bytes.replace(zval + 10, 20, "(                  2");
    WriteFileBytes(dir.file("z.fits"), bytes);
    ImageData image;
    EXPECT_FALSE(LoadImageFile(dir.file("z.fits"), image));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find("compressed image in the FITS file is damaged"), std::string::npos);

    FillImage(image, 3, 3, 1, [](int, int, int) { return std::uint16_t(1); });
    ASSERT_TRUE(WriteFitsImage(dir.file("p.fits"), image));
    bytes = ReadFileBytes(dir.file("p.fits"));
    const std::size_t bzero = bytes.find("BZERO   =");
    bytes.replace(bzero + 10, 20, "(              32768");
    WriteFileBytes(dir.file("p.fits"), bytes);
    ui.Clear();
    EXPECT_FALSE(LoadImageFile(dir.file("p.fits"), image));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find("FITS header is damaged (BZERO)"), std::string::npos);
}

TEST(FitsFile, RiceBlockSizeOfZeroIsRefused)
{
    RecordingUiHooks ui;
    TempDir dir;
    fitsfile *f = nullptr;
    int status = 0;
    long axes[2] = {5, 3};
    std::vector<unsigned short> values(15, 9);
    fits_create_diskfile(&f, dir.file("z.fits").c_str(), &status);
    fits_set_compression_type(f, RICE_1, &status);
    fits_create_img(f, USHORT_IMG, 2, axes, &status);
    fits_write_img(f, TUSHORT, 1, 15, values.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
    std::string bytes = ReadFileBytes(dir.file("z.fits"));
    const std::size_t zname = bytes.find("ZNAME1  =");
    ASSERT_NE(zname, std::string::npos);
    bytes.replace(zname, 8, "ZNAMEX  "); // CFITSIO takes ZVAL1 as the block size whatever the name
    const std::size_t zval = bytes.find("ZVAL1   =");
    bytes.replace(zval + 10, 20, "                   0");
    WriteFileBytes(dir.file("z.fits"), bytes);
    ImageData image;
    EXPECT_FALSE(LoadImageFile(dir.file("z.fits"), image));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find("compressed image in the FITS file is damaged"), std::string::npos);
}

// Files that are FITS but hold nothing the program can show.
TEST(FitsFile, FilesWithoutAUsableImageAreRefused)
{
    RecordingUiHooks ui;
    TempDir dir;
    {
        fitsfile *f = nullptr;
        int status = 0;
        fits_create_diskfile(&f, dir.file("empty.fits").c_str(), &status);
        fits_create_img(f, SHORT_IMG, 0, nullptr, &status);
        fits_close_file(f, &status);
        ASSERT_EQ(status, 0);
    }
    WriteForeign<short>(dir.file("line.fits"), SHORT_IMG, TSHORT, {5}, {1, 2, 3, 4, 5});
    WriteForeign<short>(dir.file("four.fits"), SHORT_IMG, TSHORT, {1, 1, 1, 2}, {1, 2});
    struct Case {
        const char *file;
        const char *message;
    } cases[] = {{"empty.fits", "holds no image"},
                 {"line.fits", "two or three axes"},
                 {"four.fits", "two or three axes"}};
    for (const Case &c : cases) {
        ui.Clear();
        ImageData image;
        EXPECT_FALSE(LoadImageFile(dir.file(c.file), image)) << c.file;
        ASSERT_EQ(ui.Messages().size(), 1u) << c.file;
        EXPECT_NE(ui.Messages()[0].text.find(c.message), std::string::npos) << ui.Messages()[0].text;
        EXPECT_TRUE(image.Empty);
    }
}

TEST(FitsFile, TruncatedFileIsRefused)
{
    RecordingUiHooks ui;
    TempDir dir;
    LogInFolder log(dir.path());
    ImageData image;
    FillImage(image, 100, 100, 1, [](int x, int, int) { return std::uint16_t(x); });
    ASSERT_TRUE(WriteFitsImage(dir.file("t.fits"), image));
    const std::string bytes = ReadFileBytes(dir.file("t.fits"));
    WriteFileBytes(dir.file("cut.fits"), bytes.substr(0, 2880 + 5000));
    ImageData back;
    EXPECT_FALSE(LoadImageFile(dir.file("cut.fits"), back));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find("shorter than its header says"), std::string::npos);
    // A header cut short is a FITS error of the library.
    ui.Clear();
    WriteFileBytes(dir.file("head.fits"), bytes.substr(0, 1000));
    EXPECT_FALSE(LoadImageFile(dir.file("head.fits"), back));
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].caption, "FITS file I/O error");
}

// Interop with other FITS software, when it is installed.
TEST(FitsInterop, KorviFilesPassFitsverifyAndReadInAstropy)
{
    RecordingUiHooks ui;
    TempDir dir;
    ImageData image;
    FillImage(image, 31, 7, 2,
              [](int x, int y, int f) { return std::uint16_t((x * 2111 + y * 97 + f * 30011) % 65536); });
    SetFrameHeader(image);
    image.Description = std::string(100, 'w'); // needs the long-string convention
    ASSERT_TRUE(WriteFitsImage(dir.file("k.fits"), image));
    if (std::filesystem::exists("/usr/bin/fitsverify")) {
        const std::string command =
            "/usr/bin/fitsverify -q '" + dir.file("k.fits") + "' > '" + dir.file("v.txt") + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << ReadFileBytes(dir.file("v.txt"));
        EXPECT_NE(ReadFileBytes(dir.file("v.txt")).find("verification OK"), std::string::npos)
            << ReadFileBytes(dir.file("v.txt"));
    }
    if (!PythonHas("astropy, numpy"))
        GTEST_SKIP() << "Debian's python3 with astropy and numpy is not installed";
    const std::string script = "from astropy.io import fits\nimport numpy as np\n"
                               "h = fits.open('" +
                               dir.file("k.fits") +
                               "')[0]\n"
                               "d = h.data\n"
                               "assert d.dtype == np.uint16, d.dtype\n"
                               "assert d.shape == (2, 7, 31), d.shape\n"
                               "z, y, x = np.indices(d.shape)\n"
                               "assert (d == (x * 2111 + y * 97 + z * 30011) % 65536).all()\n"
                               "assert h.header['CCDTYPE'] == 'KORVI_GENERATED_FILE'\n"
                               "assert h.header['DESCRIPT'] == 'w' * 100\n"
                               "assert h.header['XLO'] == 100\n";
    EXPECT_EQ(RunPython(dir.path(), script), 0);
}

TEST(FitsInterop, AstropyFilesLoad)
{
    if (!PythonHas("astropy, numpy"))
        GTEST_SKIP() << "Debian's python3 with astropy and numpy is not installed";
    RecordingUiHooks ui;
    TempDir dir;
    const std::string script = "from astropy.io import fits\nimport numpy as np\n"
                               "y, x = np.indices((6, 9))\n"
                               "u = (x * 7000 + y * 13).astype(np.uint16)\n"
                               "fits.PrimaryHDU(u).writeto('" +
                               dir.file("u16.fits") +
                               "')\n"
                               "z, y, x = np.indices((3, 4, 5))\n"
                               "c = (z * 1000 + y * 10 + x).astype(np.uint16)\n"
                               "fits.PrimaryHDU(c).writeto('" +
                               dir.file("cube.fits") +
                               "')\n"
                               "fits.HDUList([fits.PrimaryHDU(), fits.CompImageHDU(u)]).writeto('" +
                               dir.file("comp.fits") + "')\n";
    ASSERT_EQ(RunPython(dir.path(), script), 0);

    ImageData image;
    ASSERT_TRUE(LoadImageFile(dir.file("u16.fits"), image));
    ASSERT_EQ(image.Width, 9);
    ASSERT_EQ(image.Height, 6);
    EXPECT_EQ(image.Rows[5][8], 8 * 7000 + 5 * 13);
    EXPECT_EQ(image.Rows[0][0], 0);

    ASSERT_TRUE(LoadImageFile(dir.file("cube.fits"), image));
    ASSERT_EQ(image.Frames, 3);
    EXPECT_EQ(image.FrameRow(2, 3)[4], 2034);

    ASSERT_TRUE(LoadImageFile(dir.file("comp.fits"), image));
    ASSERT_EQ(image.Width, 9);
    EXPECT_EQ(image.Rows[5][8], 8 * 7000 + 5 * 13);
    EXPECT_TRUE(ui.Messages().empty());
}

} // namespace
