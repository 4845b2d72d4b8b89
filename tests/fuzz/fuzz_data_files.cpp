// Fuzz target: every reader of the program's own data files besides the images. The first byte of
// the input picks the reader (modulo their number), the rest is the file. None may crash, overrun
// or hang; a reader whose file is refused reports it, and one that promises to change nothing on
// a damaged file leaves its record exactly as it was.
// Readers: 0 composite (".qzn"), 1 composite-editor settings, 2 palette (".pal"), 3 settings file,
// 4 filter file (".qzk"), 5 hot-pixel list, 6 bad-column list, 7 transfer data file, 8 tracking
// file, 9 drive-controller settings.
#include "composite/cf_settings.h"
#include "composite/composite_image.h"
#include "drive_controller.h"
#include "fuzz_image_reader.h"
#include "palette.h"
#include "processing/filter_file.h"
#include "processing/problem_pixels.h"
#include "processing/transfer_analysis.h"
#include "settings.h"
#include "ui_hooks.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace
{

void Expect(bool condition)
{
    if (!condition)
        std::abort();
}

// Silent hooks that count the messages, so a refused file can be checked for its report.
class CountingUiHooks : public SilentUiHooks
{
public:
    MessageAnswer ShowMessage(const std::string &caption, const std::string &text, MessageButtons buttons,
                              MessageIcon icon) override
    {
        ++messages;
        return SilentUiHooks::ShowMessage(caption, text, buttons, icon);
    }
    long messages = 0;
};

CountingUiHooks &Hooks()
{
    static CountingUiHooks hooks;
    static const bool installed = (InstallUiHooks(&hooks), true);
    (void)installed;
    return hooks;
}

template <typename T> void Append(std::string &out, const T &value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

void AppendCurves(std::string &out, const PPalette &palette)
{
    out += palette.Name + '\n';
    Append(out, palette.SegmentCount);
    Append(out, palette.Symmetric);
    Append(out, palette.Points);
}

void AppendImage(std::string &out, const ImageData &image)
{
    out += image.FileName + '\n';
    for (float value : {image.Gain, image.DisplayOffset, image.ShiftX, image.ShiftY, image.Angle,
                        image.RotationCentreX, image.RotationCentreY, image.Zoom})
        Append(out, value);
    for (std::int32_t value : {image.Width, image.Height, image.Frames, image.MaxColumns, image.MaxRows,
                               image.XHi, image.YHi, image.XBin, static_cast<std::int32_t>(image.Empty)})
        Append(out, value);
    for (int y = 0; !image.Empty && y < image.Height * image.Frames; ++y)
        out.append(reinterpret_cast<const char *>(image.Rows[y]), static_cast<std::size_t>(image.Width) * 2);
    AppendCurves(out, image.Palette);
}

std::string Snapshot(const CompositeImage &c)
{
    std::string out = c.Name + '\n';
    Append(out, c.IsNew);
    Append(out, c.UseInComposite);
    Append(out, c.BlendMode);
    Append(out, c.AllLayerIntensity);
    Append(out, c.LayerCount);
    for (const ImageData &layer : c.Layers)
        AppendImage(out, layer);
    return out;
}

std::string Snapshot(const CFSettings &s)
{
    std::string out = s.Name + '\n';
    for (std::int32_t value :
         {s.Left, s.Top, s.Height, s.Width, s.View, s.PreviousView, s.CurrentLayer, s.Spare1, s.Spare2})
        Append(out, value);
    for (float value : {s.YShiftStep, s.XShiftStep, s.RotationStep, s.RotationCentreX, s.RotationCentreY})
        Append(out, value);
    Append(out, s.SpareFlag);
    Append(out, s.Maximized);
    for (const PPalette &palette : s.LayerPalettes)
        AppendCurves(out, palette);
    return out;
}

// The records live for the whole run (a fresh one would copy the default palette into each of
// its images every time); each read starts from the same pixels and numbers.
void ReadComposite(const std::string &path)
{
    static CompositeImage c;
    c.Clear();
    c.Layers[0].Allocate(4, 4, 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            c.Layers[0].FrameRow(0, y)[x] = static_cast<std::uint16_t>(7 * x + y);
    c.UseInComposite[0] = true;
    c.IsNew = false;
    c.BlendMode = BlendLuminance;
    c.AllLayerIntensity = 0.5f;
    c.Layers[CompositeViewSlot].Zoom = 2.0f;
    const std::string before = Snapshot(c);
    if (!c.LoadFromFile(path)) {
        Expect(Snapshot(c) == before);
        return;
    }
    Expect(c.LayerCount >= 0 && c.LayerCount <= CompositeLayers && !c.IsNew);
    for (int i = 0; i < c.LayerCount; ++i)
        Expect(c.LayerLoaded(i) && c.UseInComposite[i] && c.Layers[i].Frames == 1);
}

void ReadCompositeSettings(const std::string &path)
{
    static CFSettings s;
    s.Left = 17;
    s.LayerPalettes[2].Name = "kept.pal";
    const std::string before = Snapshot(s);
    const long messages = Hooks().messages;
    if (!s.LoadFromFile(path)) {
        Expect(Snapshot(s) == before);
        Expect(Hooks().messages > messages);
        return;
    }
    for (const PPalette &palette : s.LayerPalettes)
        for (std::int32_t count : palette.SegmentCount)
            Expect(count >= 1 && count <= PaletteMaxSegments);
}

void ReadPalette(const std::string &path)
{
    static PPalette palette;
    const long messages = Hooks().messages;
    if (!palette.LoadFromFile(path))
        Expect(Hooks().messages == messages + 1);
    for (std::int32_t count : palette.SegmentCount)
        Expect(count >= 1 && count <= PaletteMaxSegments);
    for (int c = 0; c < PaletteChannels; ++c)
        Expect(std::isfinite(palette.FloatTable[c][PaletteLevels - 1]));
}

void ReadSettings(const std::string &path)
{
    static Settings settings;
    const long messages = Hooks().messages;
    if (!settings.LoadFromFile(path))
        Expect(Hooks().messages == messages + 1);
}

void ReadFilter(const std::string &path)
{
    ConvolutionFilterFile file;
    file.Name = "kept";
    file.KernelSize = 1;
    file.Entry = 4;
    file.Kernels[1][2][3][1][0] = 0.25f;
    const ConvolutionFilterFile before = file;
    if (ReadConvolutionFilterFile(path, file) != FilterFileResult::Ok) {
        Expect(file.Name == before.Name && file.KernelSize == before.KernelSize &&
               file.Entry == before.Entry &&
               std::memcmp(file.Kernels, before.Kernels, sizeof file.Kernels) == 0);
        return;
    }
    Expect(file.KernelSize >= 0 && file.KernelSize <= 1 && file.Entry >= 0 && file.Entry < FilterListEntries);
}

bool InRange(int value)
{
    return value >= 0 && value <= 65535;
}

void ReadHotPixels(const std::string &path)
{
    std::vector<PixelPosition> pixels;
    std::string problem;
    if (!ReadHotPixelList(path, pixels, problem)) {
        Expect(!problem.empty());
        return;
    }
    for (const PixelPosition &p : pixels)
        Expect(InRange(p.Column) && InRange(p.Row));
}

void ReadBadColumns(const std::string &path)
{
    std::vector<BadColumnEntry> columns;
    std::string problem;
    if (!ReadBadColumnList(path, columns, problem)) {
        Expect(!problem.empty());
        return;
    }
    for (const BadColumnEntry &c : columns)
        Expect(InRange(c.Column) && InRange(c.StartRow) && InRange(c.EndRow));
}

void ReadTransferData(const std::string &path)
{
    std::vector<TransferRecord> kept;
    std::string problem;
    if (!ReadTransferDataFile(path, -1.0e6, 1.0e6, kept, problem)) {
        Expect(!problem.empty());
        return;
    }
    for (const TransferRecord &r : kept)
        Expect(r.X >= -1.0e6 && r.X <= 1.0e6);
    TransferFit fit;
    FitTransferConstant(kept, fit, problem);
}

void ReadTracking(const std::string &path)
{
    std::vector<std::uint16_t> table{1, 2, 3};
    std::string problem;
    bool notFound = true;
    if (!ReadTrackingTable(path, table, problem, notFound)) {
        Expect(!notFound && !problem.empty() && table == std::vector<std::uint16_t>{1, 2, 3});
        return;
    }
    Expect(static_cast<int>(table.size()) == TrackingTableWords && !notFound);
}

void ReadDriveSettings(const std::string &path)
{
    DriveConfiguration configuration;
    configuration.pad_delay = 77;
    configuration.InvertNS = true;
    const DriveConfiguration before = configuration;
    if (!LoadDriveSettings(path, configuration))
        Expect(DriveDelayValues(configuration) == DriveDelayValues(before) &&
               configuration.function == before.function && configuration.InvertEW == before.InvertEW &&
               configuration.InvertNS == before.InvertNS);
}

using Reader = void (*)(const std::string &);
// Keyed by the first byte: keep the order, the seeds begin with their reader's number.
constexpr Reader Readers[] = {ReadComposite, ReadCompositeSettings, ReadPalette,    ReadSettings,
                              ReadFilter,    ReadHotPixels,         ReadBadColumns, ReadTransferData,
                              ReadTracking,  ReadDriveSettings};
constexpr int ReaderCount = sizeof Readers / sizeof Readers[0];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    Hooks();
    // KORVI_FUZZ_READER=<number> holds a long run to one reader (the first byte is then ignored).
    static const int only = [] {
        const char *text = std::getenv("KORVI_FUZZ_READER");
        return text ? std::atoi(text) % ReaderCount : -1;
    }();
    const int reader = only >= 0 ? only : data[0] % ReaderCount;
    const std::string &path = korvi::fuzz::InputPath(".data");
    if (!korvi::fuzz::WriteInput(path, data + 1, size - 1))
        std::abort();
    Readers[reader](path);
    return 0;
}
