#include "png_file.h"

#include "image_data.h"
#include "image_file.h"
#include "settings.h"
#include "text_format.h"
#include "ui_hooks.h"

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include <png.h>

namespace
{

constexpr const char *UnsupportedColourMode = "Unsupported color mode (must be 8 or 16-bit grayscale).";
constexpr const char *FloatPicture = "0.000000e+00";
// Deflate never shrinks data by more than about 1032 to 1; a header that promises more pixel
// bytes than that from the file's size is damaged.
constexpr std::uint64_t MaxDeflateRatio = 1040;
constexpr png_alloc_size_t MaxChunkBytes = 8u << 20;

// libpng reports errors through a callback that must not return; it jumps back to the one
// setjmp point of the running step, and the message is kept for the user.
struct PngErrors {
    char message[256] = "";
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message)
{
    auto *errors = static_cast<PngErrors *>(png_get_error_ptr(png));
    if (errors)
        std::snprintf(errors->message, sizeof errors->message, "%s", message ? message : "libpng error");
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Runs one libpng step; false when libpng signalled an error during it. The steps hold no objects
// with destructors, so the jump back skips nothing that needs cleaning up.
template <typename Step> bool Guarded(png_structp png, Step &&step)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    step();
    return true;
}

// A read structure with its file, released in every case.
class PngReader
{
public:
    explicit PngReader(const std::string &path) : file_(std::fopen(path.c_str(), "rb"))
    {
        if (!file_)
            return;
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors_, OnPngError, OnPngWarning);
        if (png_) {
            // Text and other ancillary chunks are small; a damaged length must not make libpng
            // allocate gigabytes before it finds the file too short.
            png_set_chunk_malloc_max(png_, MaxChunkBytes);
            info_ = png_create_info_struct(png_);
        }
    }
    ~PngReader()
    {
        if (png_)
            png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
        if (file_)
            std::fclose(file_);
    }
    PngReader(const PngReader &) = delete;
    PngReader &operator=(const PngReader &) = delete;

    bool Opened() const { return file_ != nullptr; }
    bool Created() const { return png_ != nullptr && info_ != nullptr; }
    png_structp Png() const { return png_; }
    png_infop Info() const { return info_; }
    std::FILE *File() const { return file_; }
    const char *Error() const { return errors_.message; }

    // Reads the signature and the chunks up to the image data; false on a damaged file.
    bool ReadInfo()
    {
        png_structp png = png_;
        png_infop info = info_;
        std::FILE *file = file_;
        return Guarded(png, [=] {
            png_init_io(png, file);
            png_read_info(png, info);
        });
    }
    png_uint_32 Width() const { return png_get_image_width(png_, info_); }
    png_uint_32 Height() const { return png_get_image_height(png_, info_); }
    int BitDepth() const { return png_get_bit_depth(png_, info_); }
    int ColourType() const { return png_get_color_type(png_, info_); }

private:
    std::FILE *file_ = nullptr;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    PngErrors errors_;
};

void ShowPngError(const std::string &path, const std::string &what)
{
    Ui().ShowMessage(KorviErrorCaption, "Could not read the PNG file " + path + ": " + what,
                     MessageButtons::Ok, MessageIcon::Error);
}

// Walks the chunk list: every chunk must lie within the file, so that no length in a damaged
// file makes libpng allocate for data that is not there. Leaves the file at its start.
bool ChunksFitInFile(std::FILE *file)
{
    if (std::fseek(file, 0, SEEK_END) != 0)
        return false;
    const long size = std::ftell(file);
    bool fits = size >= 8;
    std::uint64_t position = 8;
    while (fits && position + 8 <= static_cast<std::uint64_t>(size)) {
        std::uint8_t header[8];
        if (std::fseek(file, static_cast<long>(position), SEEK_SET) != 0 ||
            std::fread(header, 1, 8, file) != 8) {
            fits = false;
            break;
        }
        const std::uint64_t length =
            (std::uint64_t{header[0]} << 24) | (header[1] << 16) | (header[2] << 8) | header[3];
        position += 12 + length;
        fits = position <= static_cast<std::uint64_t>(size);
        if (std::memcmp(header + 4, "IEND", 4) == 0)
            break;
    }
    return std::fseek(file, 0, SEEK_SET) == 0 && fits;
}

// Opens the file and reads its header; checks the kind and that the size is possible.
bool OpenAndCheck(const std::string &path, PngReader &reader)
{
    if (!reader.Opened()) {
        ShowPngError(path, "the file cannot be opened.");
        return false;
    }
    if (!reader.Created()) {
        ShowPngError(path, "libpng could not be set up.");
        return false;
    }
    if (!ChunksFitInFile(reader.File())) {
        ShowPngError(path, "the file is damaged (a chunk runs past its end).");
        return false;
    }
    if (!reader.ReadInfo()) {
        ShowPngError(path, reader.Error());
        return false;
    }
    const int depth = reader.BitDepth();
    if (reader.ColourType() != PNG_COLOR_TYPE_GRAY || (depth != 8 && depth != 16)) {
        Ui().ShowMessage(KorviErrorCaption, UnsupportedColourMode, MessageButtons::Ok, MessageIcon::Error);
        return false;
    }
    const std::uint64_t width = reader.Width();
    const std::uint64_t height = reader.Height();
    if (!PlausibleImageSize(static_cast<std::int64_t>(width), static_cast<std::int64_t>(height), 1)) {
        ShowPngError(path, "the header gives an impossible image size.");
        return false;
    }
    std::error_code sizeError;
    const std::uintmax_t fileSize = std::filesystem::file_size(path, sizeError);
    const std::uint64_t rawBytes = height * (1 + width * static_cast<std::uint64_t>(depth / 8));
    if (sizeError || rawBytes > MaxDeflateRatio * static_cast<std::uint64_t>(fileSize)) {
        ShowPngError(path, "the file is shorter than its header says.");
        return false;
    }
    return true;
}

std::string TextValue(const png_text &entry)
{
    return std::string(entry.text ? entry.text : "", entry.text_length);
}

bool ReadRows(png_structp png, png_bytepp rows)
{
    return Guarded(png, [=] { png_read_image(png, rows); });
}

bool ReadEnd(png_structp png, png_infop info)
{
    return Guarded(png, [=] { png_read_end(png, info); });
}

} // namespace

bool ProbePngImage(const std::string &path, int &width, int &height)
{
    PngReader reader(path);
    if (!OpenAndCheck(path, reader))
        return false;
    width = static_cast<int>(reader.Width());
    height = static_cast<int>(reader.Height());
    return true;
}

bool ReadPngImage(const std::string &path, ImageData &image)
{
    PngReader reader(path);
    if (!OpenAndCheck(path, reader))
        return false;
    const int width = static_cast<int>(reader.Width());
    const int height = static_cast<int>(reader.Height());
    if (image.Empty || image.Width != width || image.Height != height) {
        ShowPngError(path, "the file changed while it was read.");
        return false;
    }
    png_structp png = reader.Png();
    png_infop info = reader.Info();
    const bool sixteen = reader.BitDepth() == 16;

    // File row i is image row height - 1 - i, read straight into the image: 16-bit rows as they
    // are (their bytes are the stored low-byte-first samples); an 8-bit row into the first half of
    // its image row, widened in place afterwards (from the end, so no byte is overwritten before
    // it is read). Interlaced files build up in the same rows pass by pass.
    std::vector<png_bytep> rowPointers(static_cast<std::size_t>(height));
    for (int i = 0; i < height; ++i)
        rowPointers[i] = reinterpret_cast<png_bytep>(image.Rows[height - 1 - i]);
    if (!ReadRows(png, rowPointers.data()) || !ReadEnd(png, info)) {
        ShowPngError(path, reader.Error());
        return false;
    }
    for (int y = 0; y < height; ++y) {
        std::uint16_t *row = image.Rows[y];
        if (!sixteen) {
            const auto *narrow = reinterpret_cast<const std::uint8_t *>(row);
            for (int x = width - 1; x >= 0; --x)
                row[x] = narrow[x];
        } else if constexpr (std::endian::native == std::endian::big) {
            for (int x = 0; x < width; ++x)
                row[x] = static_cast<std::uint16_t>((row[x] >> 8) | (row[x] << 8));
        }
    }

    png_textp texts = nullptr;
    int textCount = 0;
    png_get_text(png, info, &texts, &textCount);
    // The program's entries are taken by position when the file carries all 22 with the program's
    // keys; a file from another program gets the header of a plain full frame.
    bool ours = textCount >= 22;
    for (int i = 0; ours && i < 22; ++i)
        ours = texts[i].key && PngTextKeys[i] == texts[i].key;
    if (ours) {
        image.HeaderFileName = TextValue(texts[0]);
        image.Date = TextValue(texts[1]);
        image.Time = TextValue(texts[2]);
        image.Description = TextValue(texts[3]);
        image.Filters = TextValue(texts[4]);
        image.IntegrationTime = TextValue(texts[5]);
        image.CCDTemperature = TextValue(texts[6]);
        std::int32_t *const integers[10] = {
            &image.Brightest, &image.Dimmest, &image.MaxColumns, &image.MaxRows, &image.XBin,
            &image.YBin,      &image.XLo,     &image.XHi,        &image.YLo,     &image.YHi};
        for (int i = 0; i < 10; ++i)
            *integers[i] = ParseRoundedInt(TextValue(texts[7 + i]));
        float *const floats[5] = {&image.TopDark, &image.BottomDark, &image.OffsetLevel, &image.DisplayOffset,
                                  &image.SkyLevel};
        for (int i = 0; i < 5; ++i) {
            float value = 0.0f;
            *floats[i] = ParseFloatText(TrimText(TextValue(texts[17 + i])), value) ? value : 0.0f;
        }
    } else {
        image.HeaderFileName = path;
        image.Date = image.Time = image.Description = image.Filters = "not specified";
        image.IntegrationTime = image.CCDTemperature = "0";
        image.MaxColumns = width;
        image.MaxRows = height;
        image.XBin = image.YBin = 1;
        image.XLo = 0;
        image.XHi = width - 1;
        image.YLo = 0;
        image.YHi = height - 1;
        image.TopDark = image.BottomDark = image.OffsetLevel = image.DisplayOffset = image.SkyLevel = 0.0f;
    }
    image.FileName = path;
    // Frame 0's rows are one contiguous run.
    MeasureExtremes(image.Rows.Data(), static_cast<std::size_t>(width) * height, image.Dimmest,
                    image.Brightest);
    image.Palette.Assign(CurrentSettings().DefaultPalettes[0]);
    return true;
}

namespace
{

// The write side: structures created for the running library and released in every case.
class PngWriter
{
public:
    explicit PngWriter(std::FILE *file) : file_(file)
    {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors_, OnPngError, OnPngWarning);
        if (png_)
            info_ = png_create_info_struct(png_);
    }
    ~PngWriter()
    {
        if (png_)
            png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
    }
    PngWriter(const PngWriter &) = delete;
    PngWriter &operator=(const PngWriter &) = delete;

    bool Created() const { return png_ != nullptr && info_ != nullptr; }
    const char *Error() const { return errors_.message; }

    bool WriteHeader(int width, int height, png_textp texts, int textCount)
    {
        png_structp png = png_;
        png_infop info = info_;
        std::FILE *file = file_;
        return Guarded(png, [=] {
            png_init_io(png, file);
            png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 16,
                         PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                         PNG_FILTER_TYPE_DEFAULT);
            png_set_text(png, info, texts, textCount);
            // zlib's fastest level with one fixed row filter: a noisy 16-bit frame then compresses
            // about as well as with the default search, in a tenth of the time (a frame is saved
            // between two exposures).
            png_set_compression_level(png, 1);
            png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
            png_write_info(png, info);
        });
    }
    bool WriteRow(const void *row)
    {
        png_structp png = png_;
        return Guarded(png, [=] { png_write_row(png, static_cast<png_const_bytep>(row)); });
    }
    bool WriteEnd()
    {
        png_structp png = png_;
        png_infop info = info_;
        return Guarded(png, [=] { png_write_end(png, info); });
    }

private:
    std::FILE *file_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    PngErrors errors_;
};

} // namespace

bool WritePngImage(const std::string &path, const ImageData &image)
{
    if (image.Empty) {
        Ui().ShowMessage(KorviCaption, "There is no image to save.", MessageButtons::Ok, MessageIcon::Error);
        return false;
    }
    const char separator = UserDecimalSeparator();
    std::string values[22] = {
        image.HeaderFileName,
        image.Date,
        image.Time,
        image.Description,
        image.Filters,
        image.IntegrationTime,
        image.CCDTemperature,
        std::to_string(image.Brightest),
        std::to_string(image.Dimmest),
        std::to_string(image.MaxColumns),
        std::to_string(image.MaxRows),
        std::to_string(image.XBin),
        std::to_string(image.YBin),
        std::to_string(image.XLo),
        std::to_string(image.XHi),
        std::to_string(image.YLo),
        std::to_string(image.YHi),
        FormatFloat(FloatPicture, image.TopDark, separator),
        FormatFloat(FloatPicture, image.BottomDark, separator),
        FormatFloat(FloatPicture, image.OffsetLevel, separator),
        FormatFloat(FloatPicture, image.DisplayOffset, separator),
        FormatFloat(FloatPicture, image.SkyLevel, separator),
    };
    std::string keys[22];
    png_text texts[22] = {};
    for (int i = 0; i < 22; ++i) {
        keys[i] = std::string(PngTextKeys[i]);
        texts[i].compression = PNG_TEXT_COMPRESSION_NONE;
        texts[i].key = keys[i].data();
        texts[i].text = values[i].data();
        texts[i].text_length = values[i].size();
    }

    ReplacingFile file(path);
    if (!file.Open()) {
        ReportCannotOpenForWriting(path);
        return false;
    }
    bool ok;
    std::string error;
    {
        PngWriter writer(file.Open());
        ok = writer.Created() && writer.WriteHeader(image.Width, image.Height, texts, 22);
        // Rows bottom-up; each sample low byte first, which is the memory order of the pixels on a
        // little-endian machine, so rows go out without a copy there.
        std::vector<std::uint16_t> swapped;
        if constexpr (std::endian::native == std::endian::big)
            swapped.resize(static_cast<std::size_t>(image.Width));
        for (int y = image.Height - 1; ok && y >= 0; --y) {
            const std::uint16_t *row = image.Rows[y];
            if constexpr (std::endian::native == std::endian::big) {
                for (int x = 0; x < image.Width; ++x)
                    swapped[x] = static_cast<std::uint16_t>((row[x] >> 8) | (row[x] << 8));
                row = swapped.data();
            }
            ok = writer.WriteRow(row);
        }
        ok = ok && writer.WriteEnd();
        if (!ok)
            error = writer.Created() ? writer.Error() : "libpng could not be set up.";
    }
    if (!ok)
        file.MarkFailed();
    if (!file.Commit()) {
        if (!error.empty())
            Ui().ShowMessage(KorviCaption, "Could not write file: " + path + " (" + error + ")",
                             MessageButtons::Ok, MessageIcon::Error);
        else
            ReportWriteFailure(path);
        return false;
    }
    return true;
}
