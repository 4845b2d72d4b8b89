#include "native_file.h"

#include "image_data.h"
#include "image_file.h"
#include "text_format.h"
#include "ui_hooks.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{

// The 22 header keys in the order they are written.
enum NativeKey {
    KeyFileName,
    KeyDate,
    KeyTime,
    KeyDescription,
    KeyFilters,
    KeyIntegrationTime,
    KeyTemperature,
    KeyBrightest,
    KeyDimmest,
    KeyMaxColumns,
    KeyMaxRows,
    KeyXBin,
    KeyYBin,
    KeyXLo,
    KeyXHi,
    KeyYLo,
    KeyYHi,
    KeyTopDark,
    KeyBottomDark,
    KeyOffsetLevel,
    KeyDisplayOffset,
    KeySkyLevel,
    KeyCount
};

constexpr std::string_view HeaderKeys[KeyCount] = {"FILENAME",
                                                   "SYSTEM_CREATE_DATE",
                                                   "SYSTEM_CREATE_TIME",
                                                   "DESCRIPTION",
                                                   "FILTERS",
                                                   "INTEGRATION_TIME",
                                                   "CCD_TEMPERATURE",
                                                   "BRIGHTEST_PIXEL_VALUE",
                                                   "DIMMEST_PIXEL_VALUE",
                                                   "CCD_MAX_N_COL",
                                                   "CCD_MAX_N_ROW",
                                                   "X_BIN",
                                                   "Y_BIN",
                                                   "X_LO",
                                                   "X_HI",
                                                   "Y_LO",
                                                   "Y_HI",
                                                   "TOP_DARK_LEVEL",
                                                   "BOTTOM_DARK_LEVEL",
                                                   "OFFSET_LEVEL",
                                                   "DISPLAY_OFFSET",
                                                   "SKY_LEVEL"};

// Leading bytes read to find the header and palette; headers are a few hundred bytes.
constexpr std::size_t HeaderReadLimit = 1 << 20;
// Columns moved per block between the column-ordered file and the row-ordered image.
constexpr int ColumnBlock = 32;

std::uint16_t LittleEndian16(std::uint16_t v)
{
    if constexpr (std::endian::native == std::endian::little)
        return v;
    else
        return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}

void PutLittle32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t Little32(const std::uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A header value on one line: line breaks become blanks so they cannot start a key line.
std::string OneLine(const std::string &text)
{
    std::string line = text;
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return line;
}

bool ParseInt(const std::string &header, NativeKey key, std::int32_t &value)
{
    return ParseIntText(FindNativeHeaderValue(header, HeaderKeys[key]), value);
}

float ParseFloatOrZero(const std::string &header, NativeKey key)
{
    float value = 0.0f;
    if (!ParseFloatText(FindNativeHeaderValue(header, HeaderKeys[key]), value) || !std::isfinite(value))
        return 0.0f;
    return value;
}

std::int64_t BinnedSize(std::int64_t span, std::int32_t bin)
{
    return bin > 1 ? (span + bin - 1) / bin : span;
}

#if defined(__SSE2__)
// Transposes 8 x 8 values: in[c * inStride + r] goes to out[r * outStride + c], for r, c in 0..7.
void Transpose8x8(const std::uint16_t *in, std::size_t inStride, std::uint16_t *out, std::size_t outStride)
{
    __m128i a[8], b[8], c[8];
    for (int k = 0; k < 8; ++k)
        a[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + k * inStride));
    for (int k = 0; k < 4; ++k) {
        b[2 * k] = _mm_unpacklo_epi16(a[2 * k], a[2 * k + 1]);
        b[2 * k + 1] = _mm_unpackhi_epi16(a[2 * k], a[2 * k + 1]);
    }
    for (int k = 0; k < 2; ++k) {
        c[4 * k] = _mm_unpacklo_epi32(b[4 * k], b[4 * k + 2]);
        c[4 * k + 1] = _mm_unpackhi_epi32(b[4 * k], b[4 * k + 2]);
        c[4 * k + 2] = _mm_unpacklo_epi32(b[4 * k + 1], b[4 * k + 3]);
        c[4 * k + 3] = _mm_unpackhi_epi32(b[4 * k + 1], b[4 * k + 3]);
    }
    for (int k = 0; k < 4; ++k) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 2 * k * outStride),
                         _mm_unpacklo_epi64(c[k], c[k + 4]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + (2 * k + 1) * outStride),
                         _mm_unpackhi_epi64(c[k], c[k + 4]));
    }
}
#endif

// Moves `count` columns of `rows` stored values each (column b starts at in + b * stride) into
// tile[row][column], between the machine's and the file's byte order (the same swap both ways).
// The writer uses it the other way round: the image's rows are its "columns".
void ColumnsToTile(const std::uint16_t *in, std::size_t stride, int count, int rows,
                   std::uint16_t (&tile)[ColumnBlock][ColumnBlock])
{
    int done = 0; // columns moved by whole 8 x 8 blocks, for the rows of whole blocks
    int doneRows = 0;
#if defined(__SSE2__)
    if constexpr (std::endian::native == std::endian::little) {
        done = count / 8 * 8;
        doneRows = rows / 8 * 8;
        for (int b = 0; b < done; b += 8)
            for (int j = 0; j < doneRows; j += 8)
                Transpose8x8(in + static_cast<std::size_t>(b) * stride + j, stride, &tile[j][b], ColumnBlock);
    }
#endif
    for (int b = 0; b < count; ++b) {
        const std::uint16_t *column = in + static_cast<std::size_t>(b) * stride;
        for (int j = b < done ? doneRows : 0; j < rows; ++j)
            tile[j][b] = LittleEndian16(column[j]);
    }
}

// The next line of data from pos: [begin, end) without its "\n"; pos moves past the "\n".
// False when pos is at the end or the line has no "\n" within data.
bool NextLine(const std::uint8_t *data, std::size_t size, std::size_t &pos, std::string_view &line)
{
    if (pos >= size)
        return false;
    const auto *begin = data + pos;
    const auto *newline = static_cast<const std::uint8_t *>(std::memchr(begin, '\n', size - pos));
    if (!newline)
        return false;
    line = std::string_view(reinterpret_cast<const char *>(begin), static_cast<std::size_t>(newline - begin));
    pos = static_cast<std::size_t>(newline - data) + 1;
    return true;
}

void ShowReadError(const std::string &path, const std::string &error)
{
    Ui().ShowMessage(KorviErrorCaption, "Could not read " + path + ": " + error, MessageButtons::Ok,
                     MessageIcon::Error);
}

// Reads the leading bytes of the file and finds its layout.
bool LoadLayout(std::FILE *file, NativeLayout &layout, std::string &error)
{
    if (std::fseek(file, 0, SEEK_END) != 0) {
        error = "the file cannot be read.";
        return false;
    }
    const long size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        error = "the file cannot be read.";
        return false;
    }
    std::vector<std::uint8_t> start(std::min<std::size_t>(static_cast<std::size_t>(size), HeaderReadLimit));
    if (std::fread(start.data(), 1, start.size(), file) != start.size()) {
        error = "the file cannot be read.";
        return false;
    }
    return ParseNativeLayout(start.data(), start.size(), static_cast<std::uint64_t>(size), layout, error);
}

} // namespace

std::string FormatNativeFloat(double value, char decimalSeparator)
{
    if (!std::isfinite(value) || value == 0.0)
        value = 0.0; // also turns -0 into 0
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 6);
    std::string text(buffer, result.ptr);
    const std::size_t e = text.find('e');
    std::string mantissa = text.substr(0, e);
    const std::string exponent = text.substr(e);
    if (mantissa.find('.') != std::string::npos) {
        while (mantissa.back() == '0')
            mantissa.pop_back();
        if (mantissa.back() == '.')
            mantissa.pop_back();
        else
            std::replace(mantissa.begin(), mantissa.end(), '.', decimalSeparator);
    }
    return mantissa + exponent;
}

std::string FindNativeHeaderValue(std::string_view header, std::string_view key)
{
    std::size_t pos = 0;
    while (pos <= header.size()) {
        std::size_t end = header.find('\n', pos);
        if (end == std::string_view::npos)
            end = header.size();
        const std::string_view line = header.substr(pos, end - pos);
        if (line.starts_with(key)) {
            std::string_view rest = line.substr(key.size());
            if (!rest.empty() && rest.front() == ':')
                rest.remove_prefix(1);
            return std::string(TrimText(rest));
        }
        pos = end + 1;
    }
    return {};
}

bool ParseNativeLayout(const std::uint8_t *data, std::size_t size, std::uint64_t fileSize,
                       NativeLayout &layout, std::string &error)
{
    layout = NativeLayout{};
    std::size_t pos = 0;
    std::string_view line;
    if (!NextLine(data, size, pos, line) || TrimText(line) != NativeFileTag) {
        error = "the file is not a Korvi image file.";
        return false;
    }
    const std::size_t headerStart = pos;
    std::size_t headerEnd = 0;
    for (;;) {
        const std::size_t lineStart = pos;
        if (!NextLine(data, size, pos, line)) {
            error = "the header has no END_HEADER line.";
            return false;
        }
        if (TrimText(line) == NativeHeaderEnd) {
            headerEnd = lineStart;
            break;
        }
    }
    layout.Header.assign(reinterpret_cast<const char *>(data + headerStart), headerEnd - headerStart);
    layout.PaletteStart = pos;

    // The marker normally follows a block of the written size (or of the shorter block of earlier
    // versions); otherwise it is searched for.
    const auto markerAt = [&](std::size_t at) {
        return at <= size && size - at >= NativePaletteEnd.size() &&
               std::memcmp(data + at, NativePaletteEnd.data(), NativePaletteEnd.size()) == 0;
    };
    std::size_t marker = std::string_view::npos;
    for (std::size_t blockSize : {NativePaletteBytes, std::size_t{1512}})
        if (markerAt(pos + blockSize)) {
            marker = pos + blockSize;
            break;
        }
    if (marker == std::string_view::npos) {
        const std::string_view rest(reinterpret_cast<const char *>(data + pos), size - pos);
        const std::size_t found = rest.find(NativePaletteEnd);
        if (found == std::string_view::npos) {
            error = "the palette block has no END_PALETTE line.";
            return false;
        }
        marker = pos + found;
    }
    layout.PaletteSize = marker - layout.PaletteStart;
    pos = marker;
    if (!NextLine(data, size, pos, line)) {
        if (size != fileSize) {
            error = "the END_PALETTE line is damaged.";
            return false;
        }
        pos = size; // a file that ends with the marker holds no pixels
    }
    layout.PixelStart = pos;

    std::int32_t xLo, xHi, yLo, yHi;
    if (!ParseInt(layout.Header, KeyXLo, xLo) || !ParseInt(layout.Header, KeyXHi, xHi) ||
        !ParseInt(layout.Header, KeyYLo, yLo) || !ParseInt(layout.Header, KeyYHi, yHi)) {
        error = "the header lacks the sub-frame limits X_LO, X_HI, Y_LO and Y_HI.";
        return false;
    }
    std::int32_t xBin = 1, yBin = 1;
    ParseInt(layout.Header, KeyXBin, xBin);
    ParseInt(layout.Header, KeyYBin, yBin);
    const std::int64_t width = std::int64_t{xHi} - xLo + 1;
    const std::int64_t height = std::int64_t{yHi} - yLo + 1;
    if (!PlausibleImageSize(width, height, 1)) {
        error = "the header gives an impossible image size.";
        return false;
    }
    const std::uint64_t pixelBytes = fileSize > layout.PixelStart ? fileSize - layout.PixelStart : 0;
    const std::int64_t binnedWidth = BinnedSize(width, xBin);
    const std::int64_t binnedHeight = BinnedSize(height, yBin);
    const auto bytesFor = [](std::int64_t w, std::int64_t h) {
        return static_cast<std::uint64_t>(w * h * 2);
    };
    // An exact fit decides; otherwise the first size whose pixels the file holds (extra bytes at
    // the end are ignored).
    const std::uint64_t fullBytes = bytesFor(width, height);
    const std::uint64_t binnedBytes = bytesFor(binnedWidth, binnedHeight);
    bool binned;
    if (fullBytes == pixelBytes)
        binned = false;
    else if (binnedBytes == pixelBytes)
        binned = true;
    else if (fullBytes < pixelBytes)
        binned = false;
    else if (binnedBytes < pixelBytes)
        binned = true;
    else {
        error = "the file is shorter than its header says.";
        return false;
    }
    layout.Width = static_cast<int>(binned ? binnedWidth : width);
    layout.Height = static_cast<int>(binned ? binnedHeight : height);
    return true;
}

void ReadNativePalette(const std::uint8_t *block, std::size_t size, PPalette &palette, const PPalette *known)
{
    std::size_t item = 0;
    const std::size_t items = std::min(size, NativePaletteBytes) / 4;
    const auto next = [&]() { return Little32(block + 4 * item++); };
    for (auto &channel : palette.Points)
        for (PalettePoint &point : channel) {
            if (item + 2 > items)
                break;
            const float x = std::bit_cast<float>(next());
            const float y = std::bit_cast<float>(next());
            point.x = std::isfinite(x) ? std::clamp(x, 0.0f, 1.0f) : 0.0f;
            point.y = std::isfinite(y) ? y : 0.0f;
        }
    item = std::max(item, std::min(items, std::size_t{3 * PalettePoints * 2}));
    for (std::int32_t &count : palette.SegmentCount)
        if (item < items)
            count = std::clamp(static_cast<std::int32_t>(next()), 1, PaletteMaxSegments);
    for (auto &channel : palette.Symmetric)
        for (auto &&flag : channel)
            if (item < items)
                flag = next() != 0;
    palette.Name.clear();
    palette.RefreshTables(known);
}

bool WriteNativeImage(const std::string &path, const ImageData &image)
{
    if (image.Empty) {
        Ui().ShowMessage(KorviCaption, "There is no image to save.", MessageButtons::Ok, MessageIcon::Error);
        return false;
    }
    const int width = image.Width;
    const int height = image.Height;
    const char separator = UserDecimalSeparator();

    // The reader takes the size from the sub-frame limits, as they are or divided by the binning.
    // An image whose size matches neither (cut or resampled after readout) is stored with limits
    // that describe it, so that it reads back as it was saved.
    std::int32_t xHi = image.XHi;
    std::int32_t yHi = image.YHi;
    const std::int64_t spanX = std::int64_t{image.XHi} - image.XLo + 1;
    const std::int64_t spanY = std::int64_t{image.YHi} - image.YLo + 1;
    const bool unbinnedFits = spanX == width && spanY == height;
    const bool binnedFits = BinnedSize(spanX, image.XBin) == width &&
                            BinnedSize(spanY, image.YBin) == height && spanX > 0 && spanY > 0;
    if (!unbinnedFits && !binnedFits) {
        xHi = static_cast<std::int32_t>(std::int64_t{image.XLo} + width - 1);
        yHi = static_cast<std::int32_t>(std::int64_t{image.YLo} + height - 1);
    }

    std::string header;
    header.reserve(1024);
    header += NativeFileTag;
    header += '\n';
    header += NativeVersionLine;
    header += '\n';
    const auto keyLine = [&](NativeKey key, const std::string &value) {
        header += HeaderKeys[key];
        header += ": ";
        header += value;
        header += '\n';
    };
    keyLine(KeyFileName, OneLine(image.HeaderFileName));
    keyLine(KeyDate, OneLine(image.Date));
    keyLine(KeyTime, OneLine(image.Time));
    keyLine(KeyDescription, OneLine(image.Description));
    keyLine(KeyFilters, OneLine(image.Filters));
    keyLine(KeyIntegrationTime, OneLine(image.IntegrationTime));
    keyLine(KeyTemperature, OneLine(image.CCDTemperature));
    keyLine(KeyBrightest, std::to_string(image.Brightest));
    keyLine(KeyDimmest, std::to_string(image.Dimmest));
    keyLine(KeyMaxColumns, std::to_string(image.MaxColumns));
    keyLine(KeyMaxRows, std::to_string(image.MaxRows));
    keyLine(KeyXBin, std::to_string(image.XBin));
    keyLine(KeyYBin, std::to_string(image.YBin));
    keyLine(KeyXLo, std::to_string(image.XLo));
    keyLine(KeyXHi, std::to_string(xHi));
    keyLine(KeyYLo, std::to_string(image.YLo));
    keyLine(KeyYHi, std::to_string(yHi));
    keyLine(KeyTopDark, FormatNativeFloat(image.TopDark, separator));
    keyLine(KeyBottomDark, FormatNativeFloat(image.BottomDark, separator));
    keyLine(KeyOffsetLevel, FormatNativeFloat(image.OffsetLevel, separator));
    keyLine(KeyDisplayOffset, FormatNativeFloat(image.DisplayOffset, separator));
    keyLine(KeySkyLevel, FormatNativeFloat(image.SkyLevel, separator));
    header += '\n';
    header += NativeHeaderEnd;
    header += '\n';

    std::vector<std::uint8_t> palette;
    palette.reserve(NativePaletteBytes);
    for (const auto &channel : image.Palette.Points)
        for (const PalettePoint &point : channel) {
            PutLittle32(palette, std::bit_cast<std::uint32_t>(point.x));
            PutLittle32(palette, std::bit_cast<std::uint32_t>(point.y));
        }
    for (std::int32_t count : image.Palette.SegmentCount)
        PutLittle32(palette, static_cast<std::uint32_t>(count));
    for (const auto &channel : image.Palette.Symmetric)
        for (bool flag : channel)
            PutLittle32(palette, flag ? 1u : 0u);

    ReplacingFile file(path);
    if (!file.Open()) {
        ReportCannotOpenForWriting(path);
        return false;
    }
    file.Write(header.data(), header.size());
    file.Write(palette.data(), palette.size());
    file.Write(NativePaletteEnd.data(), NativePaletteEnd.size());
    file.Write("\n", 1);

    // Frame 0, column after column: a block of columns is gathered from the rows, then written.
    // The gathering goes a square tile at a time, as in the reader: the tile's rows are read from
    // the image's rows and each of its columns goes out as one run (storing down all the columns
    // of the block at once touches lines one column apart, which evict each other).
    const int block = std::min(ColumnBlock, width);
    std::vector<std::uint16_t> columns(static_cast<std::size_t>(block) * height);
    std::uint16_t tile[ColumnBlock][ColumnBlock];
    for (int x0 = 0; x0 < width && !file.Failed(); x0 += block) {
        const int count = std::min(block, width - x0);
        for (int y0 = 0; y0 < height; y0 += ColumnBlock) {
            const int rowsInTile = std::min(ColumnBlock, height - y0);
            ColumnsToTile(image.Rows[y0] + x0, static_cast<std::size_t>(width), rowsInTile, count, tile);
            for (int b = 0; b < count; ++b)
                std::memcpy(columns.data() + static_cast<std::size_t>(b) * height + y0, tile[b],
                            static_cast<std::size_t>(rowsInTile) * sizeof(std::uint16_t));
        }
        file.Write(columns.data(), static_cast<std::size_t>(count) * height * sizeof(std::uint16_t));
    }
    if (!file.Commit()) {
        ReportWriteFailure(path);
        return false;
    }
    return true;
}

bool ProbeNativeImage(const std::string &path, int &width, int &height)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        ShowReadError(path, "the file cannot be opened.");
        return false;
    }
    NativeLayout layout;
    std::string error;
    const bool ok = LoadLayout(file, layout, error);
    std::fclose(file);
    if (!ok) {
        ShowReadError(path, error);
        return false;
    }
    width = layout.Width;
    height = layout.Height;
    return true;
}

bool ReadNativeImage(const std::string &path, ImageData &image, const PPalette *known)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        ShowReadError(path, "the file cannot be opened.");
        return false;
    }
    struct Closer {
        std::FILE *f;
        ~Closer() { std::fclose(f); }
    } closer{file};

    NativeLayout layout;
    std::string error;
    if (!LoadLayout(file, layout, error)) {
        ShowReadError(path, error);
        return false;
    }
    if (image.Empty || image.Width != layout.Width || image.Height != layout.Height) {
        ShowReadError(path, "the file changed while it was read.");
        return false;
    }
    const std::string &header = layout.Header;
    image.FileName = path;
    image.HeaderFileName = FindNativeHeaderValue(header, HeaderKeys[KeyFileName]);
    image.Date = FindNativeHeaderValue(header, HeaderKeys[KeyDate]);
    image.Time = FindNativeHeaderValue(header, HeaderKeys[KeyTime]);
    image.Description = FindNativeHeaderValue(header, HeaderKeys[KeyDescription]);
    image.Filters = FindNativeHeaderValue(header, HeaderKeys[KeyFilters]);
    image.IntegrationTime = FindNativeHeaderValue(header, HeaderKeys[KeyIntegrationTime]);
    image.CCDTemperature = FindNativeHeaderValue(header, HeaderKeys[KeyTemperature]);
    const auto intOr = [&](NativeKey key, std::int32_t fallback) {
        std::int32_t value = fallback;
        ParseInt(header, key, value);
        return value;
    };
    image.MaxColumns = intOr(KeyMaxColumns, 0);
    image.MaxRows = intOr(KeyMaxRows, 0);
    image.XBin = intOr(KeyXBin, 1);
    image.YBin = intOr(KeyYBin, 1);
    image.XLo = intOr(KeyXLo, 0);
    image.XHi = intOr(KeyXHi, 0);
    image.YLo = intOr(KeyYLo, 0);
    image.YHi = intOr(KeyYHi, 0);
    image.TopDark = ParseFloatOrZero(header, KeyTopDark);
    image.BottomDark = ParseFloatOrZero(header, KeyBottomDark);
    image.OffsetLevel = ParseFloatOrZero(header, KeyOffsetLevel);
    image.DisplayOffset = ParseFloatOrZero(header, KeyDisplayOffset);
    image.SkyLevel = ParseFloatOrZero(header, KeySkyLevel);
    if (image.DisplayOffset == 0.0f && image.OffsetLevel != 0.0f)
        image.DisplayOffset = image.OffsetLevel;

    // The palette: as many of the stored items as the block holds, in the written order. Values
    // are checked so a damaged block cannot make the table build run away.
    std::vector<std::uint8_t> block(std::min(layout.PaletteSize, NativePaletteBytes));
    if (std::fseek(file, static_cast<long>(layout.PaletteStart), SEEK_SET) != 0 ||
        std::fread(block.data(), 1, block.size(), file) != block.size()) {
        ShowReadError(path, "the palette block cannot be read.");
        return false;
    }
    ReadNativePalette(block.data(), block.size(), image.Palette, known);

    // Frame 0, column after column.
    const int width = layout.Width;
    const int height = layout.Height;
    if (std::fseek(file, static_cast<long>(layout.PixelStart), SEEK_SET) != 0) {
        ShowReadError(path, "the pixels cannot be read.");
        return false;
    }
    const int blockColumns = std::min(ColumnBlock, width);
    std::vector<std::uint16_t> columns(static_cast<std::size_t>(blockColumns) * height);
    std::int32_t low = 65535, high = 0;
    for (int x0 = 0; x0 < width; x0 += blockColumns) {
        const int count = std::min(blockColumns, width - x0);
        const std::size_t values = static_cast<std::size_t>(count) * height;
        if (std::fread(columns.data(), sizeof(std::uint16_t), values, file) != values) {
            ShowReadError(path, "the file is shorter than its header says.");
            return false;
        }
        // Turned into rows a square tile at a time: each column's part of the tile is one cache
        // line, and the tile stays in the first-level cache while it is written out row by row.
        // (Going down all the columns of the block at once reads lines one column apart, which
        // map onto the same few cache sets and evict each other.)
        // The extremes are measured while the values are in the cache: on the block as stored
        // where that is the machine's order, else on each tile's rows.
        const auto measure = [&](const std::uint16_t *pixels, std::size_t n) {
            std::int32_t partLow = 0, partHigh = 0;
            MeasureExtremes(pixels, n, partLow, partHigh);
            low = std::min(low, partLow);
            high = std::max(high, partHigh);
        };
        constexpr bool stored = std::endian::native == std::endian::little;
        if (stored)
            measure(columns.data(), values);
        std::uint16_t tile[ColumnBlock][ColumnBlock];
        for (int y0 = 0; y0 < height; y0 += ColumnBlock) {
            const int rowsInTile = std::min(ColumnBlock, height - y0);
            ColumnsToTile(columns.data() + y0, static_cast<std::size_t>(height), count, rowsInTile, tile);
            for (int j = 0; j < rowsInTile; ++j) {
                if (count == ColumnBlock) // (a copy of a known size, made in place)
                    std::memcpy(image.Rows[y0 + j] + x0, tile[j], sizeof tile[j]);
                else
                    std::memcpy(image.Rows[y0 + j] + x0, tile[j],
                                static_cast<std::size_t>(count) * sizeof(std::uint16_t));
                if (!stored)
                    measure(tile[j], static_cast<std::size_t>(count));
            }
        }
    }
    image.Dimmest = low;
    image.Brightest = high;
    return true;
}
