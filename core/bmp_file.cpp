#include "bmp_file.h"

#include "image_data.h"
#include "image_file.h"
#include "settings.h"
#include "ui_hooks.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace
{

std::uint32_t U16(const std::uint8_t *p)
{
    return p[0] | (p[1] << 8);
}
std::uint32_t U32(const std::uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::int32_t I32(const std::uint8_t *p)
{
    return static_cast<std::int32_t>(U32(p));
}

void PutU16(std::uint8_t *p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(std::uint8_t *p, std::uint32_t v)
{
    PutU16(p, v);
    PutU16(p + 2, v >> 16);
}

constexpr std::size_t FileHeaderSize = 14;
constexpr std::uint32_t BiRgb = 0;
constexpr std::uint32_t BiBitfields = 3;

// One colour component of a 32-bit pixel under a channel mask, scaled to 0..255.
unsigned MaskedComponent(std::uint32_t pixel, std::uint32_t mask)
{
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const std::uint32_t field = mask >> shift;
    const std::uint32_t value = (pixel & mask) >> shift;
    return static_cast<unsigned>((static_cast<std::uint64_t>(value) * 255u + field / 2) / field);
}

} // namespace

bool ParseBmpLayout(const std::uint8_t *data, std::size_t size, BmpLayout &layout, std::string &error)
{
    return ParseBmpLayout(data, size, size, layout, error);
}

bool ParseBmpLayout(const std::uint8_t *data, std::size_t available, std::uint64_t fileSize,
                    BmpLayout &layout, std::string &error)
{
    const std::size_t size = available;
    layout = BmpLayout{};
    if (size < FileHeaderSize + 12 || data[0] != 'B' || data[1] != 'M') {
        error = "The file is not a Windows bitmap.";
        return false;
    }
    const std::uint32_t infoSize = U32(data + 14);
    const std::uint32_t pixelOffset = U32(data + 10);
    if (infoSize < 12 || FileHeaderSize + infoSize > size) {
        error = "The bitmap header is damaged.";
        return false;
    }
    const std::uint8_t *info = data + FileHeaderSize;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t bitCount = 0;
    std::uint32_t compression = BiRgb;
    std::uint32_t coloursUsed = 0;
    std::size_t paletteEntrySize = 4;
    if (infoSize == 12) { // the old OS/2 header: 16-bit sizes, 3-byte palette entries
        width = U16(info + 4);
        height = static_cast<std::int16_t>(U16(info + 6));
        bitCount = U16(info + 10);
        paletteEntrySize = 3;
    } else if (infoSize >= 40) {
        width = I32(info + 4);
        height = I32(info + 8);
        bitCount = U16(info + 14);
        compression = U32(info + 16);
        coloursUsed = U32(info + 32);
    } else {
        error = "The bitmap header is of an unknown kind.";
        return false;
    }
    if (bitCount != 8 && bitCount != 24 && bitCount != 32) {
        error = "Unsupported bitmap format (8-, 24- or 32-bit bitmaps only).";
        return false;
    }
    if (!(compression == BiRgb || (compression == BiBitfields && bitCount == 32))) {
        error = "Unsupported bitmap format (compressed bitmaps cannot be read).";
        return false;
    }
    layout.TopDown = height < 0;
    height = height < 0 ? -height : height;
    if (!PlausibleImageSize(width, height, 1)) {
        error = "The bitmap header gives an impossible size.";
        return false;
    }
    layout.Width = static_cast<int>(width);
    layout.Height = static_cast<int>(height);
    layout.BitCount = static_cast<int>(bitCount);

    std::size_t tableStart = FileHeaderSize + infoSize;
    if (compression == BiBitfields) {
        const std::uint8_t *masks = nullptr;
        if (infoSize >= 52) {
            masks = info + 40;
        } else {
            if (tableStart + 12 > size) {
                error = "The bitmap header is damaged.";
                return false;
            }
            masks = data + tableStart;
            tableStart += 12;
        }
        for (int c = 0; c < 3; ++c)
            layout.Masks[c] = U32(masks + 4 * c);
    }
    if (bitCount == 8) {
        std::size_t entries = coloursUsed == 0 ? 256 : std::min<std::uint32_t>(coloursUsed, 256);
        // A table cut short by the pixel offset keeps only the entries before it.
        const std::size_t tableEnd =
            std::min<std::size_t>(size, pixelOffset > tableStart ? pixelOffset : size);
        entries = std::min(entries, tableEnd > tableStart ? (tableEnd - tableStart) / paletteEntrySize : 0);
        layout.Colours.assign(256 * 3, 0);
        for (std::size_t i = 0; i < entries; ++i) {
            const std::uint8_t *entry = data + tableStart + i * paletteEntrySize;
            layout.Colours[3 * i] = entry[2];
            layout.Colours[3 * i + 1] = entry[1];
            layout.Colours[3 * i + 2] = entry[0];
        }
    }
    layout.PixelOffset = pixelOffset;
    layout.RowStride = ((static_cast<std::size_t>(width) * bitCount + 31) / 32) * 4;
    const std::uint64_t lastRowBytes = (static_cast<std::uint64_t>(width) * bitCount + 7) / 8;
    if (pixelOffset < FileHeaderSize + 12 || pixelOffset > fileSize ||
        fileSize - pixelOffset < lastRowBytes ||
        (fileSize - pixelOffset - lastRowBytes) / layout.RowStride < static_cast<std::uint64_t>(height - 1)) {
        error = "The bitmap file is shorter than its header says.";
        return false;
    }
    return true;
}

void DecodeBmpRow(const std::uint8_t *in, const BmpLayout &layout, std::uint16_t *out)
{
    const int width = layout.Width;
    switch (layout.BitCount) {
    case 8:
        for (int x = 0; x < width; ++x) {
            const std::uint8_t *c = &layout.Colours[3 * in[x]];
            out[x] = BmpGrey(c[0], c[1], c[2]);
        }
        break;
    case 24:
        for (int x = 0; x < width; ++x, in += 3)
            out[x] = BmpGrey(in[2], in[1], in[0]);
        break;
    default:
        for (int x = 0; x < width; ++x, in += 4) {
            const std::uint32_t pixel = U32(in);
            out[x] = BmpGrey(MaskedComponent(pixel, layout.Masks[0]), MaskedComponent(pixel, layout.Masks[1]),
                             MaskedComponent(pixel, layout.Masks[2]));
        }
        break;
    }
}

void DecodeBmpGrey(const std::uint8_t *data, const BmpLayout &layout, std::uint16_t *const *rows)
{
    for (int stored = 0; stored < layout.Height; ++stored)
        DecodeBmpRow(data + layout.PixelOffset + static_cast<std::size_t>(stored) * layout.RowStride, layout,
                     rows[layout.TopDown ? layout.Height - 1 - stored : stored]);
}

namespace
{

// The headers and the colour table lie in the first bytes; the pixels are read after them.
constexpr std::size_t HeaderReadLimit = 64 * 1024;
// Stored rows read per block while decoding.
constexpr std::size_t PixelReadBytes = 1 << 20;

// An open bitmap file with its checked layout, closed in every case.
class BmpFile
{
public:
    BmpFile(const std::string &path) : path_(path), file_(std::fopen(path.c_str(), "rb")) {}
    ~BmpFile()
    {
        if (file_)
            std::fclose(file_);
    }
    BmpFile(const BmpFile &) = delete;
    BmpFile &operator=(const BmpFile &) = delete;

    // Reads and checks the headers; shows a message and returns false when the file is not a
    // bitmap this decoder reads.
    bool ReadLayout()
    {
        std::string error;
        if (!ReadHead(error) || !ParseBmpLayout(head_.data(), head_.size(), fileSize_, layout_, error)) {
            Ui().ShowMessage(KorviErrorCaption, "Could not read the bitmap " + path_ + ": " + error,
                             MessageButtons::Ok, MessageIcon::Error);
            return false;
        }
        return true;
    }
    const BmpLayout &Layout() const { return layout_; }

    // Decodes the stored rows a block at a time into rows[y] (y counted from the bottom).
    bool ReadPixels(std::uint16_t *const *rows)
    {
        const std::size_t stride = layout_.RowStride;
        const std::size_t rowBytes = (static_cast<std::size_t>(layout_.Width) * layout_.BitCount + 7) / 8;
        const int height = layout_.Height;
        const int blockRows = static_cast<int>(std::clamp<std::size_t>(PixelReadBytes / stride, 1, height));
        std::vector<std::uint8_t> block(static_cast<std::size_t>(blockRows) * stride);
        if (std::fseek(file_, static_cast<long>(layout_.PixelOffset), SEEK_SET) != 0)
            return false;
        for (int stored = 0; stored < height; stored += blockRows) {
            const int count = std::min(blockRows, height - stored);
            // The last stored row may end without its padding.
            const std::size_t needed = static_cast<std::size_t>(count - 1) * stride + rowBytes;
            if (std::fread(block.data(), 1, static_cast<std::size_t>(count) * stride, file_) < needed)
                return false;
            for (int i = 0; i < count; ++i) {
                const int y = layout_.TopDown ? height - 1 - (stored + i) : stored + i;
                DecodeBmpRow(block.data() + static_cast<std::size_t>(i) * stride, layout_, rows[y]);
            }
        }
        return true;
    }

private:
    bool ReadHead(std::string &error)
    {
        error = "The file could not be read.";
        if (!file_ || std::fseek(file_, 0, SEEK_END) != 0)
            return false;
        const long size = std::ftell(file_);
        if (size < 0 || std::fseek(file_, 0, SEEK_SET) != 0)
            return false;
        fileSize_ = static_cast<std::uint64_t>(size);
        head_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(fileSize_, HeaderReadLimit)));
        return std::fread(head_.data(), 1, head_.size(), file_) == head_.size();
    }

    std::string path_;
    std::FILE *file_;
    std::uint64_t fileSize_ = 0;
    std::vector<std::uint8_t> head_;
    BmpLayout layout_;
};

} // namespace

bool ProbeBmpImage(const std::string &path, int &width, int &height)
{
    BmpFile file(path);
    if (!file.ReadLayout())
        return false;
    width = file.Layout().Width;
    height = file.Layout().Height;
    return true;
}

bool ReadBmpImage(const std::string &path, ImageData &image)
{
    BmpFile file(path);
    if (!file.ReadLayout())
        return false;
    const BmpLayout &layout = file.Layout();
    if (image.Empty || image.Width != layout.Width || image.Height != layout.Height) {
        Ui().ShowMessage(KorviErrorCaption, "The bitmap " + path + " changed while it was read.",
                         MessageButtons::Ok, MessageIcon::Error);
        return false;
    }
    if (!file.ReadPixels(image.Rows.RowTable())) {
        Ui().ShowMessage(KorviErrorCaption,
                         "Could not read the bitmap " + path + ": The file could not be read.",
                         MessageButtons::Ok, MessageIcon::Error);
        return false;
    }

    image.HeaderFileName = path;
    image.FileName = path;
    image.Date = image.Time = image.Description = image.Filters = "not specified";
    image.IntegrationTime = image.CCDTemperature = "0";
    image.MaxColumns = layout.Width;
    image.MaxRows = layout.Height;
    image.XBin = image.YBin = 1;
    image.XLo = 0;
    image.XHi = layout.Width - 1;
    image.YLo = 0;
    image.YHi = layout.Height - 1;
    image.TopDark = image.BottomDark = image.OffsetLevel = image.DisplayOffset = image.SkyLevel = 0.0f;
    MeasureExtremes(image.Rows.Data(), static_cast<std::size_t>(layout.Width) * layout.Height, image.Dimmest,
                    image.Brightest);
    image.Palette.Assign(CurrentSettings().DefaultPalettes[0]);
    return true;
}

bool WriteBmpImage(const std::string &path, int width, int height, const std::uint8_t *rgba,
                   bool bottomRowFirst)
{
    if (width <= 0 || height <= 0 || !PlausibleImageSize(width, height, 1))
        return false;
    const std::size_t stride = ((static_cast<std::size_t>(width) * 24 + 31) / 32) * 4;
    const std::size_t dataSize = stride * static_cast<std::size_t>(height);
    std::uint8_t header[54] = {};
    header[0] = 'B';
    header[1] = 'M';
    PutU32(header + 2, static_cast<std::uint32_t>(54 + dataSize));
    PutU32(header + 10, 54);
    PutU32(header + 14, 40);
    PutU32(header + 18, static_cast<std::uint32_t>(width));
    PutU32(header + 22, static_cast<std::uint32_t>(height));
    PutU16(header + 26, 1);
    PutU16(header + 28, 24);
    PutU32(header + 34, static_cast<std::uint32_t>(dataSize));
    PutU32(header + 38, 2835); // 72 dots per inch
    PutU32(header + 42, 2835);

    ReplacingFile file(path);
    if (!file.Open()) {
        ReportCannotOpenForWriting(path);
        return false;
    }
    file.Write(header, sizeof header);
    std::vector<std::uint8_t> row(stride, 0);
    for (int y = 0; y < height && !file.Failed(); ++y) { // stored bottom row first
        const int source = bottomRowFirst ? y : height - 1 - y;
        const std::uint8_t *in = rgba + static_cast<std::size_t>(source) * width * 4;
        for (int x = 0; x < width; ++x, in += 4) {
            row[3 * x] = in[2];
            row[3 * x + 1] = in[1];
            row[3 * x + 2] = in[0];
        }
        file.Write(row.data(), stride);
    }
    if (!file.Commit()) {
        ReportWriteFailure(path);
        return false;
    }
    return true;
}
