#include "image_data.h"
#include "matrix.h"
#include "recording_ui_hooks.h"
#include "settings.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

// Pixel value that encodes its place, so misplaced copies show.
std::uint16_t Code(int x, int row)
{
    return static_cast<std::uint16_t>((row * 131 + x * 7) & 0xFFFF);
}

void FillCoded(ImageData &image)
{
    for (int row = 0; row < image.Height * image.Frames; ++row)
        for (int x = 0; x < image.Width; ++x)
            image.Rows[row][x] = Code(x, row);
}

bool AllAlpha255(const ImageData &image)
{
    for (std::size_t i = 3; i < image.Rgba.size(); i += 4)
        if (image.Rgba[i] != 255)
            return false;
    return true;
}

TEST(Matrix, RowsAreOneContiguousBlock)
{
    // 100 columns, 50 rows, 2 frames.
    UShortMatrix m = AllocUShortMatrix(50 * 2, 100);
    ASSERT_EQ(m.Size(), 10000u);
    for (int r = 0; r < m.Rows(); ++r)
        ASSERT_EQ(m[r], m.Data() + r * 100);
    EXPECT_EQ(m.RowTable()[m.Rows()], nullptr);
    for (int r = 0; r < m.Rows(); ++r)
        for (int c = 0; c < m.Columns(); ++c)
            m[r][c] = static_cast<std::uint16_t>(r * 100 + c);
    for (int i = 0; i < 10000; ++i)
        ASSERT_EQ(m.Data()[i], i); // row 0 addresses every element in row order
    FreeUShortMatrix(m);
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_EQ(m.Data(), nullptr);
}

TEST(Matrix, ElementTypesAndVectors)
{
    ByteMatrix b = AllocByteMatrix(3, 4);
    UIntMatrix u = AllocUIntMatrix(3, 4);
    FloatMatrix f = AllocFloatMatrix(3, 4);
    b.Fill(200);
    u.Fill(70000);
    f.Fill(-1.5f);
    EXPECT_EQ(b[2][3], 200);
    EXPECT_EQ(u[2][3], 70000u);
    EXPECT_EQ(f[2][3], -1.5f);
    UIntVector histogram = AllocUIntVector(65536);
    EXPECT_EQ(histogram.size(), 65536u);
    EXPECT_TRUE(std::all_of(histogram.begin(), histogram.end(), [](std::uint32_t v) { return v == 0; }));
    FreeUIntVector(histogram);
    EXPECT_TRUE(histogram.empty());
    const ByteMatrix none = AllocByteMatrix(0, 5);
    EXPECT_TRUE(none.IsEmpty());
}

TEST(Matrix, MoveAndCopyFrom)
{
    FloatMatrix a(2, 3);
    a.Fill(4.0f);
    FloatMatrix b(std::move(a));
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_EQ(b[1][2], 4.0f);
    FloatMatrix c;
    c.CopyFrom(b);
    c[0][0] = 9.0f;
    EXPECT_EQ(b[0][0], 4.0f);
    EXPECT_EQ(c.Rows(), 2);
    EXPECT_EQ(c.Columns(), 3);
}

TEST(Matrix, CopyUShortMatrixCopiesTheTopLeftCorner)
{
    UShortMatrix source(4, 5), destination(3, 3);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c)
            source[r][c] = static_cast<std::uint16_t>(10 * r + c);
    destination.Fill(999);
    EXPECT_TRUE(CopyUShortMatrix(source, destination, 2, 3));
    EXPECT_EQ(destination[0][0], 0);
    EXPECT_EQ(destination[2][1], 21);
    EXPECT_EQ(destination[2][2], 999);
    EXPECT_FALSE(CopyUShortMatrix(source, destination, 4, 3)); // would overrun the destination
    EXPECT_EQ(destination[0][3 - 1], 999);
}

TEST(ImageData, Defaults)
{
    const ImageData image;
    EXPECT_TRUE(image.Empty);
    EXPECT_FALSE(image.DarkApplied || image.FlatApplied || image.SelectionShown || image.SelectionIsLine ||
                 image.Modified || image.LogDisplay);
    EXPECT_TRUE(image.FileName.empty() && image.Date.empty() && image.Time.empty() &&
                image.Description.empty());
    EXPECT_EQ(image.IntegrationTime, "0.000e+00");
    EXPECT_EQ(image.Gain, 1.0f);
    EXPECT_EQ(image.Zoom, 1.0f);
    EXPECT_EQ(image.DisplayOffset, 0.0f);
    EXPECT_EQ(image.Reserved1, -1);
    EXPECT_EQ(image.Reserved2, -1);
    EXPECT_EQ(image.OriginFormat, 0);
    EXPECT_EQ(image.Brightest, 65535);
    EXPECT_EQ(image.Dimmest, 0);
    EXPECT_EQ(image.Width, 0);
    EXPECT_EQ(image.Height, 0);
    EXPECT_EQ(image.Frames, 1);
    EXPECT_EQ(image.TimeStamp, 2147483647u);
    EXPECT_TRUE(image.Rows.IsEmpty());
    EXPECT_TRUE(image.Rgba.empty());
}

TEST(ImageData, PaletteComesFromTheImagingDefaultPalette)
{
    PPalette &defaultPalette = CurrentSettings().DefaultPalettes[0];
    const PPalette saved(defaultPalette);
    defaultPalette.Name = "Palettes/Spectrum.pal";
    defaultPalette.Points[0][1].y = 0.9f;
    defaultPalette.BuildTables(true, false, false);
    defaultPalette.Dirty = 0;
    const ImageData image;
    EXPECT_EQ(image.Palette.Name, "Palettes/Spectrum.pal");
    EXPECT_TRUE(image.Palette.SameCurves(defaultPalette));
    EXPECT_TRUE(image.Palette.SameTables(defaultPalette));
    EXPECT_EQ(image.Palette.Dirty, 1);
    defaultPalette = saved;
}

TEST(ImageData, AllocateSameSizeKeepsPixels)
{
    ImageData image;
    ASSERT_TRUE(image.Allocate(7, 5, 2));
    EXPECT_FALSE(image.Empty);
    EXPECT_EQ(image.Rows.Rows(), 10);
    EXPECT_EQ(image.Rows.Columns(), 7);
    EXPECT_EQ(image.Rgba.size(), 7u * 5 * 2 * 4);
    EXPECT_TRUE(AllAlpha255(image));
    FillCoded(image);
    const std::uint16_t *block = image.Rows.Data();
    ASSERT_TRUE(image.Allocate(7, 5, 2));
    EXPECT_EQ(image.Rows.Data(), block);
    for (int row = 0; row < 10; ++row)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(image.Rows[row][x], Code(x, row));
}

TEST(ImageData, AllocateNewSizeGivesFreshStorage)
{
    ImageData image;
    ASSERT_TRUE(image.Allocate(4, 4, 1));
    std::fill(image.Rgba.begin(), image.Rgba.end(), 0);
    ASSERT_TRUE(image.Allocate(3, 6, 2));
    EXPECT_EQ(image.Width, 3);
    EXPECT_EQ(image.Height, 6);
    EXPECT_EQ(image.Frames, 2);
    EXPECT_EQ(image.Rows.Rows(), 12);
    EXPECT_EQ(image.Rgba.size(), 3u * 6 * 2 * 4);
    EXPECT_TRUE(AllAlpha255(image));
    EXPECT_EQ(image.PixelCount(), 36u);
}

TEST(ImageData, AllocateRefusesImpossibleSizes)
{
    ImageData image;
    ASSERT_TRUE(image.Allocate(4, 4, 1));
    EXPECT_FALSE(image.Allocate(0, 4, 1));
    EXPECT_TRUE(image.Empty);
    EXPECT_EQ(image.Width, 0);
    EXPECT_EQ(image.Frames, 1);
    EXPECT_FALSE(image.Allocate(4, -1, 1));
    EXPECT_FALSE(image.Allocate(1, 65536, 65536)); // more rows than a row table can hold
    EXPECT_TRUE(image.Empty);
    EXPECT_TRUE(image.Rows.IsEmpty());
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KORVI_HUGE_ALLOCATIONS_ABORT 1 // the sanitizers' allocators stop the program instead of failing
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KORVI_HUGE_ALLOCATIONS_ABORT 1
#endif
#endif

// A damaged header may ask for more than any memory holds: 2^25 x 2^20 pixels need 64 TB of pixels
// and 128 TB of display bytes, more than the address space, however memory is overcommitted. The
// loader reports "Not enough memory" when Allocate says no; an exception would end the program.
TEST(ImageData, AllocateRefusesMoreThanTheMemoryHolds)
{
#ifdef KORVI_HUGE_ALLOCATIONS_ABORT
    GTEST_SKIP() << "the sanitizer's allocator aborts on such a request";
#endif
    ImageData image;
    ASSERT_TRUE(image.Allocate(4, 4, 1));
    EXPECT_FALSE(image.Allocate(1 << 25, 1 << 20, 1));
    EXPECT_TRUE(image.Empty);
    EXPECT_EQ(image.Width, 0);
    EXPECT_EQ(image.Height, 0);
    EXPECT_EQ(image.Frames, 1);
    EXPECT_TRUE(image.Rows.IsEmpty());
    EXPECT_TRUE(image.Rgba.empty());
    EXPECT_TRUE(image.Allocate(3, 2, 1)); // and it can still be used
    EXPECT_EQ(image.Rows.Rows(), 2);
}

TEST(ImageData, FreeTwiceIsHarmless)
{
    ImageData image;
    ASSERT_TRUE(image.Allocate(5, 5, 3));
    image.Free();
    image.Free();
    EXPECT_TRUE(image.Empty);
    EXPECT_EQ(image.Frames, 1);
    EXPECT_EQ(image.Width, 0);
    EXPECT_EQ(image.Height, 0);
    EXPECT_TRUE(image.Rows.IsEmpty());
    EXPECT_TRUE(image.Rgba.empty());
}

TEST(ImageData, PixelAddressing)
{
    ImageData image;
    ASSERT_TRUE(image.Allocate(4, 3, 2));
    FillCoded(image);
    // Pixel (x, y) of frame f is Rows[f*Height + y][x].
    EXPECT_EQ(image.FrameRow(1, 2)[3], Code(3, 1 * 3 + 2));
    EXPECT_EQ(image.FramePixels(1)[0], Code(0, 3));
    EXPECT_EQ(image.FrameRgba(1), image.Rgba.data() + 4 * 3 * 4);
}

ImageData ThreeFrameImage()
{
    ImageData source;
    EXPECT_TRUE(source.Allocate(6, 4, 3));
    FillCoded(source);
    source.DarkApplied = true;
    source.SelectionShown = true;
    source.LogDisplay = true;
    source.Modified = true;
    source.SelectionIsLine = true;
    source.FileName = "/data/m42.kvr";
    source.Spare1 = "spare one";
    source.HeaderFileName = "m42.kvr";
    source.Date = "Tuesday December 8, 2026";
    source.Time = "07:16:14 (GMT)";
    source.Description = "Orion";
    source.Filters = "Ha";
    source.IntegrationTime = "1.200e+02";
    source.Spare2 = "spare two";
    source.CCDTemperature = "-20.5";
    source.Gain = 2.5f;
    source.TopDark = 101;
    source.BottomDark = 102;
    source.SkyLevel = 300;
    source.OffsetLevel = 99.5f;
    source.DisplayOffset = 50;
    source.Zoom = 0.5f;
    source.ShiftX = 1.25f;
    source.ShiftY = -2;
    source.Angle = 3;
    source.RotationCentreX = 3;
    source.RotationCentreY = 2;
    source.CurrentFrame = 2;
    source.OriginFormat = 3;
    source.Brightest = 4000;
    source.Dimmest = 12;
    source.MaxColumns = 1565;
    source.MaxRows = 1032;
    source.XHi = 105;
    source.XLo = 100;
    source.YHi = 203;
    source.YLo = 200;
    source.YBin = 1;
    source.XBin = 1;
    source.SelX0 = 1;
    source.SelY0 = 2;
    source.SelX1 = 4;
    source.SelY1 = 3;
    source.TimeStamp = 1234567;
    source.Palette.Name = "Palettes/BlackBody2.pal";
    source.Palette.SegmentCount[1] = 2;
    source.Palette.Points[1][4] = {0.7f, 0.2f};
    source.Palette.Points[1][5] = {0.8f, 0.3f};
    source.Palette.Points[1][6] = {1.0f, 0.5f};
    source.Palette.BuildTables(false, true, false);
    source.Palette.Dirty = 0;
    return source;
}

TEST(ImageData, AssignCopiesAThreeFrameImage)
{
    const ImageData source = ThreeFrameImage();
    ImageData copy;
    copy.SelectionIsLine = false;
    copy.Spare1 = "mine";
    copy.Assign(source);
    EXPECT_FALSE(copy.Empty);
    EXPECT_EQ(copy.Frames, 3);
    EXPECT_EQ(copy.Width, 6);
    EXPECT_EQ(copy.Height, 4);
    EXPECT_NE(copy.Rows.Data(), source.Rows.Data());
    for (int row = 0; row < 12; ++row)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(copy.Rows[row][x], Code(x, row));
    EXPECT_TRUE(copy.Palette.SameCurves(source.Palette));
    EXPECT_TRUE(copy.Palette.SameTables(source.Palette));
    EXPECT_EQ(copy.Palette.Name, "Palettes/BlackBody2.pal");
    EXPECT_EQ(copy.Palette.Dirty, 0);   // the dirty byte is copied as it was
    EXPECT_FALSE(copy.SelectionIsLine); // not copied
    EXPECT_EQ(copy.Spare1, "mine");     // not copied
    EXPECT_TRUE(copy.DarkApplied && copy.SelectionShown && copy.LogDisplay && copy.Modified);
    EXPECT_FALSE(copy.FlatApplied);
    EXPECT_EQ(copy.FileName, "/data/m42.kvr");
    EXPECT_EQ(copy.HeaderFileName, "m42.kvr");
    EXPECT_EQ(copy.Date, source.Date);
    EXPECT_EQ(copy.Time, source.Time);
    EXPECT_EQ(copy.Description, "Orion");
    EXPECT_EQ(copy.Filters, "Ha");
    EXPECT_EQ(copy.IntegrationTime, "1.200e+02");
    EXPECT_EQ(copy.Spare2, "spare two");
    EXPECT_EQ(copy.CCDTemperature, "-20.5");
    EXPECT_EQ(copy.Gain, 2.5f);
    EXPECT_EQ(copy.TopDark, 101.0f);
    EXPECT_EQ(copy.BottomDark, 102.0f);
    EXPECT_EQ(copy.SkyLevel, 300.0f);
    EXPECT_EQ(copy.OffsetLevel, 99.5f);
    EXPECT_EQ(copy.DisplayOffset, 50.0f);
    EXPECT_EQ(copy.Zoom, 0.5f);
    EXPECT_EQ(copy.ShiftX, 1.25f);
    EXPECT_EQ(copy.ShiftY, -2.0f);
    EXPECT_EQ(copy.Angle, 3.0f);
    EXPECT_EQ(copy.RotationCentreX, 3.0f);
    EXPECT_EQ(copy.RotationCentreY, 2.0f);
    EXPECT_EQ(copy.CurrentFrame, 2);
    EXPECT_EQ(copy.OriginFormat, 3);
    EXPECT_EQ(copy.Brightest, 4000);
    EXPECT_EQ(copy.Dimmest, 12);
    EXPECT_EQ(copy.MaxColumns, 1565);
    EXPECT_EQ(copy.MaxRows, 1032);
    EXPECT_EQ(copy.XHi, 105);
    EXPECT_EQ(copy.XLo, 100);
    EXPECT_EQ(copy.YHi, 203);
    EXPECT_EQ(copy.YLo, 200);
    EXPECT_EQ(copy.YBin, 1);
    EXPECT_EQ(copy.XBin, 1);
    EXPECT_EQ(copy.SelX0, 1);
    EXPECT_EQ(copy.SelY0, 2);
    EXPECT_EQ(copy.SelX1, 4);
    EXPECT_EQ(copy.SelY1, 3);
    EXPECT_EQ(copy.TimeStamp, 1234567u);
    EXPECT_EQ(copy.Rgba.size(), 6u * 4 * 3 * 4);
    EXPECT_TRUE(AllAlpha255(copy));

    // The destination's line flag stays whichever way round.
    ImageData plain = ThreeFrameImage();
    plain.SelectionIsLine = false;
    ImageData lined;
    lined.SelectionIsLine = true;
    lined.Assign(plain);
    EXPECT_TRUE(lined.SelectionIsLine);
}

TEST(ImageData, AssignIntoAnImageOfTheSameSizeReusesItsStorage)
{
    const ImageData source = ThreeFrameImage();
    ImageData target;
    ASSERT_TRUE(target.Allocate(6, 4, 3));
    const std::uint16_t *block = target.Rows.Data();
    target.Assign(source);
    EXPECT_EQ(target.Rows.Data(), block);
    EXPECT_EQ(target.Rows[11][5], Code(5, 11));
}

TEST(ImageData, AssignFromAnEmptyImageLeavesTheDestinationEmptyAndFreed)
{
    ImageData empty;
    empty.Description = "nothing";
    ImageData target = ThreeFrameImage();
    target.Assign(empty);
    EXPECT_TRUE(target.Empty);
    EXPECT_TRUE(target.Rows.IsEmpty());
    EXPECT_TRUE(target.Rgba.empty());
    EXPECT_EQ(target.Width, 0);
    EXPECT_EQ(target.Height, 0);
    EXPECT_EQ(target.Frames, 1);
    EXPECT_EQ(target.Description, "nothing");
    target.Free(); // still harmless
    EXPECT_TRUE(target.Empty);
}

TEST(ImageData, SelfAssignKeepsTheImage)
{
    ImageData image = ThreeFrameImage();
    image.Assign(image);
    EXPECT_FALSE(image.Empty);
    EXPECT_EQ(image.Rows[7][3], Code(3, 7));
}

TEST(ImageData, MoveLeavesTheSourceEmpty)
{
    ImageData source = ThreeFrameImage();
    const std::uint16_t *block = source.Rows.Data();
    ImageData moved(std::move(source));
    EXPECT_EQ(moved.Rows.Data(), block);
    EXPECT_EQ(moved.Frames, 3);
    EXPECT_TRUE(moved.SelectionIsLine);
    EXPECT_EQ(moved.Palette.Name, "Palettes/BlackBody2.pal");
    EXPECT_TRUE(source.Empty);
    EXPECT_TRUE(source.Rows.IsEmpty());
    EXPECT_TRUE(source.Rgba.empty());
    EXPECT_EQ(source.Width, 0);
    EXPECT_EQ(source.Frames, 1);
    ImageData other;
    other = std::move(moved);
    EXPECT_EQ(other.Rows[11][5], Code(5, 11));
    EXPECT_TRUE(moved.Empty);
    source.Assign(other); // a moved-from image is a usable empty image
    EXPECT_EQ(source.Rows[11][5], Code(5, 11));
}

TEST(ImageData, CopyPixelsToAndFrom)
{
    const ImageData source = ThreeFrameImage();
    UShortMatrix exact(12, 6), wider(12, 9), small(11, 6);
    wider.Fill(7);
    small.Fill(7);
    EXPECT_TRUE(source.CopyPixelsTo(exact));
    EXPECT_TRUE(source.CopyPixelsTo(wider));
    EXPECT_FALSE(source.CopyPixelsTo(small));
    EXPECT_EQ(small[0][0], 7);
    for (int row = 0; row < 12; ++row)
        for (int x = 0; x < 6; ++x) {
            ASSERT_EQ(exact[row][x], Code(x, row));
            ASSERT_EQ(wider[row][x], Code(x, row));
        }
    EXPECT_EQ(wider[3][8], 7);

    ImageData target;
    ASSERT_TRUE(target.Allocate(6, 4, 3));
    for (int row = 0; row < 12; ++row)
        for (int x = 0; x < 9; ++x)
            wider[row][x] = static_cast<std::uint16_t>(row + x);
    EXPECT_TRUE(target.CopyPixelsFrom(wider));
    EXPECT_EQ(target.Rows[11][5], 16);
    EXPECT_FALSE(target.CopyPixelsFrom(small));
    ImageData empty;
    EXPECT_FALSE(empty.CopyPixelsTo(exact));
}

TEST(ImageData, CopyRegionToCopiesTheInclusiveRectangle)
{
    const ImageData source = ThreeFrameImage();
    UShortMatrix region(3, 4);
    ASSERT_TRUE(source.CopyRegionTo(region, 1, 4, 5, 7)); // columns 1..4, rows 5..7
    for (int y = 5; y <= 7; ++y)
        for (int x = 1; x <= 4; ++x)
            EXPECT_EQ(region[y - 5][x - 1], Code(x, y));
    region.Fill(0);
    EXPECT_FALSE(source.CopyRegionTo(region, 3, 6, 0, 1));   // x1 past the last column
    EXPECT_FALSE(source.CopyRegionTo(region, 0, 4, 0, 1));   // five columns into four
    EXPECT_FALSE(source.CopyRegionTo(region, 0, 1, 10, 12)); // past the last row
    EXPECT_FALSE(source.CopyRegionTo(region, 2, 1, 0, 0));
    EXPECT_EQ(region[0][0], 0);
}

TEST(ImageData, SetHeaderPlacesEveryField)
{
    ImageData image;
    ASSERT_TRUE(image.Allocate(10, 8, 1));
    AcquisitionHeader header;
    EXPECT_EQ(header.Maximum, 65535); // default construction
    EXPECT_EQ(header.Columns, 0);
    header.TopDarkLevel = 1.5f;
    header.BottomDarkLevel = 2.5f;
    header.SkyLevel = 3.5f;
    header.OffsetLevel = 4.5f;
    header.Maximum = 5000;
    header.Minimum = 6;
    header.Columns = 10;
    header.Rows = 8;
    header.SensorColumns = 1565;
    header.SensorRows = 1032;
    header.XHigh = 19;
    header.XLow = 0;
    header.YHigh = 23;
    header.YLow = 8;
    header.YBinning = 2;
    header.XBinning = 3;
    EXPECT_TRUE(image.SetHeader(header));
    EXPECT_EQ(image.TopDark, 1.5f);
    EXPECT_EQ(image.BottomDark, 2.5f);
    EXPECT_EQ(image.SkyLevel, 3.5f);
    EXPECT_EQ(image.OffsetLevel, 4.5f);
    EXPECT_EQ(image.Brightest, 5000);
    EXPECT_EQ(image.Dimmest, 6);
    EXPECT_EQ(image.Width, 10);
    EXPECT_EQ(image.Height, 8);
    EXPECT_EQ(image.MaxColumns, 1565);
    EXPECT_EQ(image.MaxRows, 1032);
    EXPECT_EQ(image.XHi, 19);
    EXPECT_EQ(image.XLo, 0);
    EXPECT_EQ(image.YHi, 23);
    EXPECT_EQ(image.YLo, 8);
    EXPECT_EQ(image.YBin, 2);
    EXPECT_EQ(image.XBin, 3);
}

TEST(ImageData, SetHeaderNeverResizesPastTheStorage)
{
    ImageData image;
    ASSERT_TRUE(image.Allocate(10, 8, 1));
    AcquisitionHeader header;
    header.Columns = 4000;
    header.Rows = 8;
    header.XBinning = 2;
    EXPECT_FALSE(image.SetHeader(header));
    EXPECT_EQ(image.Width, 10);
    EXPECT_EQ(image.Height, 8);
    EXPECT_EQ(image.XBin, 2); // the rest is still taken
    ImageData empty;
    header.Columns = 10;
    EXPECT_FALSE(empty.SetHeader(header));
    EXPECT_EQ(empty.Width, 0);
}

} // namespace

namespace
{

TEST(ImageData, SaveAndLoadGoThroughTheFileDispatch)
{
    korvi::test::TempDir dir;
    korvi::test::RecordingUiHooks hooks;
    ImageData source;
    ASSERT_TRUE(source.Allocate(9, 7, 1));
    FillCoded(source);
    source.XLo = 0;
    source.XHi = 8;
    source.YLo = 0;
    source.YHi = 6;
    source.XBin = source.YBin = 1;
    source.MaxColumns = 9;
    source.MaxRows = 7;
    const std::string path = dir.file("round.kvr");
    ASSERT_TRUE(source.SaveToFile(path, FormatNative));
    ImageData loaded;
    ASSERT_TRUE(loaded.LoadFromFile(path));
    ASSERT_EQ(loaded.Width, 9);
    ASSERT_EQ(loaded.Height, 7);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(loaded.Rows[y][x], Code(x, y)) << x << "," << y;
    EXPECT_FALSE(loaded.LoadFromFile(dir.file("missing.kvr")));
    EXPECT_EQ(loaded.Rows[6][8], Code(8, 6)); // a failed load leaves the image as it was
}

} // namespace
