// Composite files and composite-editor settings files: exact bytes, what a read puts where, and
// damaged files refused before anything changes.
#include "composite/cf_settings.h"
#include "composite/composite_image.h"
#include "composite/palette_block.h"
#include "image_test_images.h"
#include "recording_ui_hooks.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace
{

using korvi::test::FillImage;
using korvi::test::ReadFileBytes;
using korvi::test::RecordingUiHooks;
using korvi::test::TempDir;

std::uint16_t Pixel(int layer, int x, int y)
{
    return static_cast<std::uint16_t>(1000 * layer + 10 * x + y);
}

std::string Le16(std::uint16_t v)
{
    return std::string{static_cast<char>(v & 0xff), static_cast<char>(v >> 8)};
}

void WriteBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Layers 1 and 3 (slots 0 and 2) loaded and used, layer 2 loaded but not used.
void MakeComposite(CompositeImage &c)
{
    FillImage(c.Layers[0], 3, 2, 1, [](int x, int y, int) { return Pixel(0, x, y); });
    FillImage(c.Layers[1], 2, 2, 1, [](int x, int y, int) { return Pixel(1, x, y); });
    FillImage(c.Layers[2], 2, 3, 3,
              [](int x, int y, int f) { return static_cast<std::uint16_t>(Pixel(2, x, y) + f); });
    c.UseInComposite = {true, false, true, false, false};
    c.BlendMode = BlendLuminance;
    c.AllLayerIntensity = 0.5f;
    c.Layers[0].FileName = "red.fits";
    c.Layers[0].Gain = 2.0f;
    c.Layers[0].DisplayOffset = 12.7f;
    c.Layers[0].ShiftX = 1.5f;
    c.Layers[0].Palette.SegmentCount[0] = 2;
    c.Layers[0].Palette.Symmetric[0][1] = true;
    c.Layers[0].Palette.Points[0][3] = {0.25f, 0.5f};
    c.Layers[2].FileName = "";
    c.Layers[2].Gain = 1.0f;
    c.Layers[2].DisplayOffset = -3.9f;
}

TEST(CompositeFile, StoresTheUsedLayersInItsExactLayout)
{
    TempDir dir;
    CompositeImage c;
    MakeComposite(c);
    ASSERT_TRUE(c.SaveToFile(dir.file("c.qzn")));
    EXPECT_EQ(c.LayerCount, 2);

    std::string expected = "Composite CCD data format V2.01\n2\n1\n0\n0\n";
    expected +=
        "red.fits\n12\n1.00000e+00\n1.50000e+00\n0.00000e+00\n0.00000e+00\n0.00000e+00\n0.00000e+00\n3\n2\n";
    expected += "\n-3\n5.00000e-01\n0.00000e+00\n0.00000e+00\n0.00000e+00\n0.00000e+00\n0.00000e+00\n2\n3\n";
    for (int x = 0; x < 3; ++x) // column by column, frame 0 only
        for (int y = 0; y < 2; ++y)
            expected += Le16(Pixel(0, x, y));
    for (int x = 0; x < 2; ++x)
        for (int y = 0; y < 3; ++y)
            expected += Le16(Pixel(2, x, y));
    const std::string bytes = ReadFileBytes(dir.file("c.qzn"));
    ASSERT_EQ(bytes.size(), expected.size() + 2 * CompositePaletteBlockBytes);
    EXPECT_EQ(bytes.substr(0, expected.size()), expected);

    const std::string palette = bytes.substr(expected.size(), CompositePaletteBlockBytes);
    EXPECT_EQ(palette.substr(0, 2), Le16(2));     // channel 0 count
    EXPECT_EQ(palette.substr(6 + 2, 2), Le16(1)); // channel 0, flag 1
    float x = 0, y = 0;
    std::memcpy(&x, palette.data() + 126 + 3 * 8, 4);
    std::memcpy(&y, palette.data() + 126 + 3 * 8 + 4, 4);
    EXPECT_EQ(x, 0.25f);
    EXPECT_EQ(y, 0.5f);
}

TEST(CompositeFile, ReadingPacksTheStoredLayersIntoTheFirstSlots)
{
    TempDir dir;
    {
        CompositeImage c;
        MakeComposite(c);
        ASSERT_TRUE(c.SaveToFile(dir.file("c.qzn")));
    }
    RecordingUiHooks ui;
    CompositeImage r;
    r.AllLayerIntensity = 3.0f;
    r.Layers[1].Description = "kept";
    ASSERT_TRUE(r.LoadFromFile(dir.file("c.qzn")));
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_EQ(r.Name, dir.file("c.qzn"));
    EXPECT_FALSE(r.IsNew);
    EXPECT_EQ(r.LayerCount, 2);
    EXPECT_EQ(r.BlendMode, BlendLuminance);
    EXPECT_EQ(r.AllLayerIntensity, 1.0f);
    EXPECT_TRUE(r.UseInComposite[0] && r.UseInComposite[1]);
    EXPECT_FALSE(r.LayerLoaded(2));

    const ImageData &a = r.Layers[0], &b = r.Layers[1];
    EXPECT_EQ(a.Gain, 1.0f); // 2.0 x 0.5, the intensity folded in
    EXPECT_EQ(a.DisplayOffset, 12.0f);
    EXPECT_EQ(a.ShiftX, 1.5f);
    EXPECT_EQ(a.Palette.SegmentCount[0], 2);
    EXPECT_TRUE(a.Palette.Symmetric[0][1]);
    EXPECT_EQ(a.Palette.Points[0][3], (PalettePoint{0.25f, 0.5f}));
    EXPECT_EQ(b.FileName, "Unnamed image file.");
    EXPECT_EQ(b.DisplayOffset, -3.0f);
    EXPECT_EQ(b.Description, "kept");
    EXPECT_EQ(b.Frames, 1); // the three-frame layer keeps frame 0
    EXPECT_EQ(b.MaxColumns, 2);
    EXPECT_EQ(b.YHi, 2);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(b.FrameRow(0, y)[x], Pixel(2, x, y));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(a.FrameRow(0, y)[x], Pixel(0, x, y));
}

TEST(CompositeFile, RefusesOtherFilesAndDamagedOnesBeforeChangingAnything)
{
    TempDir dir;
    {
        CompositeImage c;
        MakeComposite(c);
        ASSERT_TRUE(c.SaveToFile(dir.file("good.qzn")));
    }
    const std::string good = ReadFileBytes(dir.file("good.qzn"));
    const std::size_t header = good.find("red.fits");
    struct Case {
        const char *what;
        std::string bytes;
        bool reported;
    };
    const Case cases[] = {
        {"other version", "Composite CCD data format V2.02" + good.substr(31), false},
        {"other case", "composite CCD data format V2.01" + good.substr(31), false},
        {"six layers", good.substr(0, 32) + "6" + good.substr(33), true},
        {"one byte short", good.substr(0, good.size() - 1), true},
        {"one byte more", good + "x", true},
        {"huge width",
         good.substr(0, header) + std::string("red.fits\n12\n1\n0\n0\n0\n0\n0\n99999999\n2\n") +
             good.substr(good.find("\n", good.find("\n3\n2\n", header) + 3) + 1),
         true},
        {"records cut", good.substr(0, header + 12), true},
        // Everything read but the second palette's red segment count, 0.
        {"damaged palette",
         good.substr(0, good.size() - CompositePaletteBlockBytes) + Le16(0) +
             good.substr(good.size() - CompositePaletteBlockBytes + 2),
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(dir.file("bad.qzn"), c.bytes);
        RecordingUiHooks ui;
        CompositeImage r;
        FillImage(r.Layers[0], 4, 4, 1, [](int, int, int) { return 7; });
        r.BlendMode = BlendAdditive;
        EXPECT_FALSE(r.LoadFromFile(dir.file("bad.qzn")));
        EXPECT_EQ(ui.Messages().size(), c.reported ? 1u : 0u);
        EXPECT_EQ(r.Layers[0].Width, 4);
        EXPECT_EQ(r.Layers[0].FrameRow(0, 3)[3], 7);
        EXPECT_EQ(r.BlendMode, BlendAdditive);
        EXPECT_TRUE(r.Name.empty());
        EXPECT_TRUE(r.IsNew);
    }
}

TEST(CompositeImage, ClearAssignAndLoadLayerKeepWhatTheyShould)
{
    TempDir dir;
    CompositeImage c;
    MakeComposite(c);
    c.Layers[CompositeViewSlot].Zoom = 2.0f;
    c.Name = "x.qzn";
    c.IsNew = false;

    CompositeImage copy;
    copy.UseInComposite[4] = true;
    copy.AllLayerIntensity = 0.25f;
    copy.Assign(c);
    EXPECT_EQ(copy.Name, "x.qzn");
    EXPECT_EQ(copy.Layers[2].Frames, 3);
    EXPECT_EQ(copy.Layers[CompositeViewSlot].Zoom, 2.0f);
    EXPECT_EQ(copy.UseInComposite, (std::array<bool, 5>{false, false, false, false, true}));
    EXPECT_EQ(copy.AllLayerIntensity, 0.25f);

    c.Clear();
    EXPECT_EQ(c.UseInComposite, (std::array<bool, 5>{}));
    EXPECT_TRUE(c.IsNew && c.Name.empty() && !c.LayerLoaded(0));
    EXPECT_EQ(c.BlendMode, BlendLuminance);
    EXPECT_EQ(c.Layers[CompositeViewSlot].Zoom, 2.0f);

    ImageData image;
    FillImage(image, 5, 4, 1, [](int x, int y, int) { return static_cast<std::uint16_t>(x + y); });
    ASSERT_TRUE(image.SaveToFile(dir.file("l.kvr"), FormatNative));
    PPalette red;
    red.Points[0][1] = {0.1f, 0.9f};
    c.Layers[3].ShiftX = 4.0f;
    ASSERT_TRUE(c.LoadLayer(3, dir.file("l.kvr"), red));
    EXPECT_TRUE(c.UseInComposite[3]);
    EXPECT_FALSE(c.IsNew);
    EXPECT_EQ(c.Layers[3].ShiftX, 0.0f);
    EXPECT_EQ(c.Layers[3].Width, 5);
    EXPECT_TRUE(c.Layers[3].Palette.SameCurves(red));

    RecordingUiHooks ui;
    EXPECT_FALSE(c.LoadLayer(4, dir.file("missing.kvr"), red));
    EXPECT_FALSE(c.UseInComposite[4]);
}

TEST(CFSettingsFile, RoundTripsByteForByteAndRefusesAShortFile)
{
    TempDir dir;
    CFSettings s;
    s.Name = "Composite form";
    s.Left = 10;
    s.Top = -4;
    s.View = 5;
    s.CurrentLayer = 3;
    s.XShiftStep = 0.25f;
    s.RotationStep = 0.01f;
    s.Maximized = true;
    s.LayerPalettes[2].Name = "Palettes/Red.pal";
    s.LayerPalettes[2].SegmentCount[1] = 3;
    s.LayerPalettes[2].Symmetric[2][19] = true;
    s.LayerPalettes[2].Points[1][60] = {1.0f, 0.75f};
    ASSERT_TRUE(s.SaveToFile(dir.file("a.dat")));
    const std::string bytes = ReadFileBytes(dir.file("a.dat"));
    const std::string head = "Composite form\n10\n-4\n577\n795\n5\n3\n0\n0\n2.50000e-01\n5.00000e-01\n"
                             "1.00000e-02\n0.00000e+00\n0.00000e+00\nfalse\ntrue\n\n";
    EXPECT_EQ(bytes.substr(0, head.size()), head);
    EXPECT_EQ(bytes.size(), head.size() + 4 * CompositePaletteBlockBytes + 3 +
                                std::string("Palettes/Red.pal\n").size() + CompositePaletteBlockBytes);

    CFSettings r;
    r.PreviousView = 4;
    ASSERT_TRUE(r.LoadFromFile(dir.file("a.dat")));
    EXPECT_EQ(r.PreviousView, 4);
    EXPECT_EQ(r.View, 5);
    EXPECT_EQ(r.XShiftStep, 0.25f);
    EXPECT_TRUE(r.Maximized);
    EXPECT_EQ(r.LayerPalettes[2].Name, "Palettes/Red.pal");
    EXPECT_TRUE(r.LayerPalettes[2].SameCurves(s.LayerPalettes[2]));
    ASSERT_TRUE(r.SaveToFile(dir.file("b.dat")));
    EXPECT_EQ(ReadFileBytes(dir.file("b.dat")), bytes);

    WriteBytes(dir.file("short.dat"), bytes.substr(0, bytes.size() - 10));
    RecordingUiHooks ui;
    CFSettings kept;
    EXPECT_FALSE(kept.LoadFromFile(dir.file("short.dat")));
    EXPECT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(kept.Left, 0);
    EXPECT_EQ(kept.Height, 577);
    EXPECT_TRUE(kept.Name.empty());
}

} // namespace
