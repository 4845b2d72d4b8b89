#include "composite_image.h"

#include "composite/palette_block.h"
#include "image_file.h"
#include "line_file.h"
#include "text_format.h"
#include "ui_hooks.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{

// Pixel blocks are stored column by column; they are moved through a buffer of this many columns,
// so the transposition touches each image row once per band instead of once per column.
constexpr int ColumnBand = 64;

// What one stored layer's record says.
struct LayerRecord {
    std::string FileName;
    std::int32_t Offset = 0;
    float Gain = 1.0f, ShiftX = 0.0f, ShiftY = 0.0f, Angle = 0.0f, CentreX = 0.0f, CentreY = 0.0f;
    std::int32_t Width = 0, Height = 0;
};

void ReportDamaged(const std::string &path, const std::string &why)
{
    Ui().ShowMessage(KorviErrorCaption, "The composite file " + path + " cannot be read: " + why,
                     MessageButtons::Ok, MessageIcon::Error);
}

// Progress after column x of the k-th of n layers of the given width, as the save and load report it.
int ColumnProgress(int x, int width, int k, int n)
{
    return static_cast<int>(std::int64_t{x} * 100 / (std::int64_t{width} * n)) + k * 100 / n;
}

bool WritePixels(LineFileWriter &file, const ImageData &image, int k, int n)
{
    const int width = image.Width, height = image.Height;
    std::vector<std::uint16_t> band(static_cast<std::size_t>(ColumnBand) * height);
    for (int x0 = 0; x0 < width && file.Good(); x0 += ColumnBand) {
        const int columns = std::min(ColumnBand, width - x0);
        for (int y = 0; y < height; ++y) {
            const std::uint16_t *row = image.FrameRow(0, y) + x0;
            for (int c = 0; c < columns; ++c)
                band[static_cast<std::size_t>(c) * height + y] = row[c];
        }
        file.WriteBytes(band.data(), static_cast<std::size_t>(columns) * height * sizeof(std::uint16_t));
        for (int c = 0; c < columns; ++c)
            Ui().ProgressStep(ColumnProgress(x0 + c, width, k, n));
    }
    return file.Good();
}

bool ReadPixels(LineFileReader &file, ImageData &image)
{
    const int width = image.Width, height = image.Height;
    std::vector<std::uint16_t> band(static_cast<std::size_t>(ColumnBand) * height);
    for (int x0 = 0; x0 < width; x0 += ColumnBand) {
        const int columns = std::min(ColumnBand, width - x0);
        if (!file.ReadBytes(band.data(), static_cast<std::size_t>(columns) * height * sizeof(std::uint16_t)))
            return false;
        for (int y = 0; y < height; ++y) {
            std::uint16_t *row = image.FrameRow(0, y) + x0;
            for (int c = 0; c < columns; ++c)
                row[c] = band[static_cast<std::size_t>(c) * height + y];
        }
        for (int c = 0; c < columns; ++c)
            Ui().ProgressStep(static_cast<int>(std::int64_t{x0 + c} * 100 / width));
    }
    return true;
}

bool ReadRecord(LineFileReader &file, LayerRecord &r)
{
    return ReadTextLine(file, r.FileName) && ReadIntLine(file, r.Offset) && ReadFloatLine(file, r.Gain) &&
           ReadFloatLine(file, r.ShiftX) && ReadFloatLine(file, r.ShiftY) && ReadFloatLine(file, r.Angle) &&
           ReadFloatLine(file, r.CentreX) && ReadFloatLine(file, r.CentreY) && ReadIntLine(file, r.Width) &&
           ReadIntLine(file, r.Height);
}

void ApplyRecord(const LayerRecord &r, ImageData &layer)
{
    layer.FileName = TrimText(r.FileName).empty() ? "Unnamed image file." : r.FileName;
    layer.DisplayOffset = static_cast<float>(r.Offset);
    layer.Gain = r.Gain;
    layer.ShiftX = r.ShiftX;
    layer.ShiftY = r.ShiftY;
    layer.Angle = r.Angle;
    layer.RotationCentreX = r.CentreX;
    layer.RotationCentreY = r.CentreY;
    layer.SelectionShown = layer.SelectionIsLine = layer.Modified = false;
    layer.OriginFormat = FormatNative;
    layer.Brightest = 65535;
    layer.Dimmest = 0;
    layer.MaxColumns = r.Width;
    layer.MaxRows = r.Height;
    layer.XHi = r.Width - 1;
    layer.XLo = 0;
    layer.YHi = r.Height - 1;
    layer.YLo = 0;
    layer.YBin = layer.XBin = 1;
}

// Shows the progress window for the lifetime of the object.
class Progress
{
public:
    explicit Progress(const std::string &caption) { Ui().ProgressStart(caption); }
    ~Progress() { Ui().ProgressEnd(); }
};

} // namespace

CompositeImage::CompositeImage()
{
    for (ImageData &image : Layers)
        image.Zoom = 1.0f;
}

bool CompositeImage::LoadLayer(int layer, const std::string &path, const PPalette &palette)
{
    if (layer < 0 || layer >= CompositeLayers || !Layers[layer].LoadFromFile(path))
        return false;
    ImageData &image = Layers[layer];
    UseInComposite[layer] = true;
    image.ShiftX = image.ShiftY = image.Angle = 0.0f;
    image.RotationCentreX = image.RotationCentreY = 0.0f;
    IsNew = false;
    image.Palette.Assign(palette);
    return true;
}

void CompositeImage::Assign(const CompositeImage &source)
{
    if (this == &source)
        return;
    Name = source.Name;
    Spare = source.Spare;
    BlendMode = source.BlendMode;
    LayerCount = source.LayerCount;
    IsNew = source.IsNew;
    for (std::size_t i = 0; i < Layers.size(); ++i)
        Layers[i].Assign(source.Layers[i]);
}

void CompositeImage::Clear()
{
    for (int i = 0; i < CompositeLayers; ++i) {
        Layers[i].Free();
        UseInComposite[i] = false;
    }
    Name.clear();
    LayerCount = 0;
    IsNew = true;
}

bool CompositeImage::SaveToFile(const std::string &path)
{
    std::vector<int> stored;
    for (int i = 0; i < CompositeLayers; ++i)
        if (LayerLoaded(i) && UseInComposite[i])
            stored.push_back(i);
    LayerCount = static_cast<std::int32_t>(stored.size());
    const int n = LayerCount;

    LineFileWriter file;
    if (!file.Open(path)) {
        Ui().ShowMessage(KorviErrorCaption,
                         "The composite file " + path + " cannot be written: " + file.Error(),
                         MessageButtons::Ok, MessageIcon::Error);
        return false;
    }
    const ImageData &view = Layers[CompositeViewSlot];
    WriteTextLine(file, CompositeFormatLine);
    WriteIntLine(file, n);
    WriteIntLine(file, BlendMode);
    WriteIntLine(file, view.Empty ? 0 : view.Width);
    WriteIntLine(file, view.Empty ? 0 : view.Height);
    for (int i : stored) {
        const ImageData &layer = Layers[i];
        WriteTextLine(file, layer.FileName);
        WriteIntLine(file, static_cast<std::int64_t>(std::trunc(layer.DisplayOffset)));
        WriteFloatLine(file, static_cast<float>(layer.Gain * AllLayerIntensity));
        for (float value :
             {layer.ShiftX, layer.ShiftY, layer.Angle, layer.RotationCentreX, layer.RotationCentreY})
            WriteFloatLine(file, value);
        WriteIntLine(file, layer.Width);
        WriteIntLine(file, layer.Height);
    }
    {
        Progress progress("Saving composite image...");
        for (int k = 0; k < n && file.Good(); ++k)
            WritePixels(file, Layers[stored[k]], k, n);
    }
    for (int i : stored) {
        const CompositePaletteBlock block = EncodePaletteBlock(Layers[i].Palette);
        file.WriteBytes(block.data(), block.size());
    }
    if (!file.Close()) {
        Ui().ShowMessage(KorviErrorCaption,
                         "The composite file " + path + " could not be written: " + file.Error(),
                         MessageButtons::Ok, MessageIcon::Error);
        return false;
    }
    return true;
}

bool CompositeImage::LoadFromFile(const std::string &path)
{
    LineFileReader file;
    if (!file.Open(path)) {
        ReportDamaged(path, file.Problem());
        return false;
    }
    Progress progress("Opening composite image...");
    std::string first;
    if (!file.ReadLine(first) || TrimText(first.substr(0, 63)) != CompositeFormatLine)
        return false;

    std::int32_t n = 0, blend = 0, ignored = 0;
    if (!ReadIntLine(file, n) || !ReadIntLine(file, blend) || !ReadIntLine(file, ignored) ||
        !ReadIntLine(file, ignored)) {
        ReportDamaged(path, "its header is incomplete.");
        return false;
    }
    if (n < 0 || n > CompositeLayers) {
        ReportDamaged(path, "it claims " + std::to_string(n) + " layers; a composite holds at most 5.");
        return false;
    }
    std::vector<LayerRecord> records(static_cast<std::size_t>(n));
    std::int64_t expected = 0;
    for (LayerRecord &r : records) {
        if (!ReadRecord(file, r)) {
            ReportDamaged(path, "a layer record is incomplete.");
            return false;
        }
        if (!PlausibleImageSize(r.Width, r.Height, 1)) {
            ReportDamaged(path, "a layer has an impossible size.");
            return false;
        }
        expected +=
            std::int64_t{r.Width} * r.Height * 2 + static_cast<std::int64_t>(CompositePaletteBlockBytes);
    }
    if (file.BytesLeft() != expected) {
        ReportDamaged(path, "its length does not match its layers.");
        return false;
    }

    // Pixels and palettes are read into staged layers first: the composite changes only once the
    // whole file has been read, so a damaged block leaves it as it was.
    std::vector<ImageData> staged(static_cast<std::size_t>(n));
    std::vector<PPalette> palettes(static_cast<std::size_t>(n));
    bool good = true;
    for (int i = 0; i < n && good; ++i)
        good = staged[i].Allocate(records[i].Width, records[i].Height, 1) && ReadPixels(file, staged[i]);
    for (int i = 0; i < n && good; ++i) {
        CompositePaletteBlock block;
        palettes[i].Assign(Layers[i].Palette);
        good = file.ReadBytes(block.data(), block.size()) && DecodePaletteBlock(block, palettes[i]);
        if (good)
            palettes[i].BuildTables(true, true, true);
    }
    if (!good) {
        // The sizes matched the file, so only a read error, a lack of memory or a damaged palette
        // gets here.
        ReportDamaged(path, "its pixels or palettes cannot be read.");
        return false;
    }

    Name = path;
    LayerCount = n;
    BlendMode = blend;
    AllLayerIntensity = 1.0f; // the stored intensities already include it
    for (int i = 0; i < n; ++i) {
        ImageData &layer = Layers[i];
        ApplyRecord(records[i], layer);
        UseInComposite[i] = true;
        // The staged storage has the layer's size: taking it over allocates nothing.
        std::swap(layer.Rows, staged[i].Rows);
        std::swap(layer.Rgba, staged[i].Rgba);
        std::swap(layer.Width, staged[i].Width);
        std::swap(layer.Height, staged[i].Height);
        std::swap(layer.Frames, staged[i].Frames);
        std::swap(layer.Empty, staged[i].Empty);
        layer.TimeStamp = NextImageTimeStamp();
        layer.Palette = std::move(palettes[i]);
        layer.Palette.Dirty = 1;
    }
    IsNew = false;
    return true;
}

CompositeImage &Composite()
{
    static CompositeImage composite;
    return composite;
}

CompositeImage &CompositeBackup()
{
    static CompositeImage backup;
    return backup;
}
