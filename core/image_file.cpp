#include "image_file.h"

#include "bmp_file.h"
#include "fits_file.h"
#include "image_data.h"
#include "levels.h"
#include "native_file.h"
#include "png_file.h"
#include "text_format.h"
#include "ui_hooks.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

bool PlausibleImageSize(std::int64_t width, std::int64_t height, std::int64_t frames)
{
    if (width <= 0 || height <= 0 || frames <= 0)
        return false;
    if (width > MaxImagePixels || height > MaxImagePixels || frames > MaxImagePixels)
        return false;
    return width * height <= MaxImagePixels && width * height * frames <= MaxImagePixels;
}

void MeasureExtremes(const std::uint16_t *pixels, std::size_t count, std::int32_t &dimmest,
                     std::int32_t &brightest)
{
    // Compared as signed values with the top bit flipped (an order-keeping map): the basic vector
    // instructions have signed 16-bit minimum and maximum only, so this loop vectorises fully
    // (see image_files.cmake).
    std::int16_t low = INT16_MAX, high = INT16_MIN;
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = static_cast<std::int16_t>(pixels[i] ^ 0x8000u);
        low = std::min(low, v);
        high = std::max(high, v);
    }
    dimmest = static_cast<std::uint16_t>(low) ^ 0x8000u;
    brightest = static_cast<std::uint16_t>(high) ^ 0x8000u;
}

void AddSignOffset(std::uint16_t *pixels, std::size_t count, std::int32_t &dimmest, std::int32_t &brightest)
{
    // Stored value s stands for s + 32768, which is s with its top bit flipped; the signed order of
    // the stored values is the order of the pixels.
    std::int16_t low = INT16_MAX, high = INT16_MIN;
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = static_cast<std::int16_t>(pixels[i]);
        low = std::min(low, v);
        high = std::max(high, v);
        pixels[i] = static_cast<std::uint16_t>(pixels[i] ^ 0x8000u);
    }
    dimmest = static_cast<std::uint16_t>(low) ^ 0x8000u;
    brightest = static_cast<std::uint16_t>(high) ^ 0x8000u;
}

namespace
{

constexpr std::string_view TemporaryMark = ".part-";
// How long a temporary file of a process that is not running here must have been left unchanged
// before it is taken for a leftover.
constexpr std::chrono::minutes StaleAfter{10};

std::string TemporaryNameFor(const std::string &target)
{
    static std::atomic<unsigned> counter{0};
    return target + std::string(TemporaryMark) + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
}

// The process id of a temporary name ("<name>.part-<pid>-<n>"), 0 when the name is not one.
pid_t TemporaryOwner(const std::string &name)
{
    const std::size_t mark = name.rfind(TemporaryMark);
    if (mark == std::string::npos || mark == 0)
        return 0;
    const std::string_view rest = std::string_view(name).substr(mark + TemporaryMark.size());
    const std::size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == rest.size() || dash > 9)
        return 0;
    const auto digits = [](std::string_view text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(rest.substr(0, dash)) || !digits(rest.substr(dash + 1)))
        return 0;
    return static_cast<pid_t>(std::stol(std::string(rest.substr(0, dash))));
}

bool ProcessRuns(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

// A target that exists may be replaced only by whom may write it: renaming over it needs rights on
// the folder alone, which would replace a file its owner protected.
bool TargetMayBeReplaced(const std::string &target)
{
    struct stat info {
    };
    if (::stat(target.c_str(), &info) != 0)
        return true; // a new file: the folder decides
    return ::access(target.c_str(), W_OK) == 0;
}

} // namespace

void RemoveStaleTemporaryFiles(const std::string &folder)
{
    std::error_code error;
    std::filesystem::directory_iterator it(folder.empty() ? std::string(".") : folder, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        const pid_t owner = TemporaryOwner(name);
        if (owner <= 0 || owner == ::getpid() || ProcessRuns(owner))
            continue;
        // A file written to a moment ago may belong to a save of another computer sharing the
        // folder, whose processes are not seen here: only a file left alone for a while goes.
        std::error_code ignored;
        const auto written = it->last_write_time(ignored);
        if (ignored || std::filesystem::file_time_type::clock::now() - written < StaleAfter)
            continue;
        if (it->is_regular_file(ignored))
            std::filesystem::remove(it->path(), ignored);
    }
}

ReplacingFile::ReplacingFile(const std::string &target)
    : target_(target), temporary_(TemporaryNameFor(target))
{
    RemoveStaleTemporaryFiles(std::filesystem::path(target).parent_path().string());
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored); // a leftover of an earlier process with our id
}

ReplacingFile::~ReplacingFile()
{
    if (file_)
        std::fclose(file_);
    if (!committed_) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

std::FILE *ReplacingFile::Open()
{
    if (!file_ && !failed_ && TargetMayBeReplaced(target_))
        file_ = std::fopen(temporary_.c_str(), "wb");
    if (!file_)
        failed_ = true;
    return file_;
}

bool ReplacingFile::Reserve()
{
    if (failed_ || !TargetMayBeReplaced(target_))
        return failed_ = true, false;
    std::FILE *probe = std::fopen(temporary_.c_str(), "wb");
    if (!probe)
        return failed_ = true, false;
    std::fclose(probe);
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
    return true;
}

bool ReplacingFile::Write(const void *data, std::size_t size)
{
    if (!file_ || failed_)
        return failed_ = true, false;
    if (size != 0 && std::fwrite(data, 1, size, file_) != size)
        failed_ = true;
    return !failed_;
}

bool ReplacingFile::Commit()
{
    if (file_) {
        if (std::fflush(file_) != 0 || std::ferror(file_))
            failed_ = true;
        if (std::fclose(file_) != 0)
            failed_ = true;
        file_ = nullptr;
    }
    if (failed_)
        return false;
    // The new file takes the permissions the old one had (a file shared with a group stays so).
    struct stat old {
    };
    if (::stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
        ::chmod(temporary_.c_str(), old.st_mode & 07777) != 0)
        return failed_ = true, false;
    std::error_code error;
    std::filesystem::rename(temporary_, target_, error);
    if (error)
        return failed_ = true, false;
    committed_ = true;
    return true;
}

void ReportCannotOpenForWriting(const std::string &path)
{
    // The path is named: in a batch or a series the observer must see which file failed.
    Ui().ShowMessage(KorviCaption, std::string(CannotOpenForWriting) + "\n" + path, MessageButtons::Ok,
                     MessageIcon::Error);
}

void ReportWriteFailure(const std::string &path)
{
    Ui().ShowMessage(KorviCaption, "Could not write file: " + path, MessageButtons::Ok, MessageIcon::Error);
}

std::uint32_t NextImageTimeStamp()
{
    static std::atomic<std::uint32_t> last{0};
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));
    std::uint32_t previous = last.load();
    std::uint32_t next;
    do {
        next = now > previous ? now : previous + 1;
    } while (!last.compare_exchange_weak(previous, next));
    return next;
}

namespace
{

void ShowLoadError(const std::string &text)
{
    Ui().ShowMessage(KorviErrorCaption, text, MessageButtons::Ok, MessageIcon::Error);
}

constexpr std::uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

} // namespace

bool ProbeImageFile(const std::string &path, ImageFileInfo &info)
{
    info = ImageFileInfo{};
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return false;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        ShowLoadError("Could not open file: " + path);
        return false;
    }
    char start[256] = {};
    const std::size_t got = std::fread(start, 1, sizeof start, file);
    std::fclose(file);

    const std::string_view head(start, got);
    const std::string_view firstLine = TrimText(head.substr(0, head.find('\n')));
    if (firstLine == NativeFileTag) {
        info.Format = NativeFormat;
        return ProbeNativeImage(path, info.Width, info.Height);
    }
    // FITS, or FITS compressed whole with gzip (".fits.gz"), which CFITSIO unpacks as it opens it.
    if (head.starts_with("SIMPLE") || head.starts_with("\x1f\x8b")) {
        info.Format = FitsFormat;
        return ProbeFitsImage(path, info.Width, info.Height, info.Frames);
    }
    if (got >= sizeof PngSignature && std::memcmp(start, PngSignature, sizeof PngSignature) == 0) {
        info.Format = PngFormat;
        return ProbePngImage(path, info.Width, info.Height);
    }
    if (head.starts_with("BM")) {
        info.Format = BitmapFormat;
        return ProbeBmpImage(path, info.Width, info.Height);
    }
    ShowLoadError("Unsupported image format.");
    return false;
}

bool LoadImageFile(const std::string &path, ImageData &image)
{
    ImageFileInfo info;
    if (!ProbeImageFile(path, info))
        return false;
    // The file is read into a record of its own, so that a failed read leaves the image as it was.
    // Only the pixels are read: an image of the same size lends its display buffer (its contents
    // are rendered anew before they are shown), and gets it back when the read fails.
    ImageData loaded;
    loaded.AllocateWithDisplay(info.Width, info.Height, info.Frames, image.Rgba);
    const bool lent = image.Rgba.empty() && !image.Empty;
    if (loaded.Empty) {
        ShowLoadError("Not enough memory to load " + path);
        return false;
    }
    bool read = false;
    {
        BusyCursor busy;
        switch (info.Format) {
        case NativeFormat:
            // The image loaded into often holds the palette of the file before it, built already.
            read = ReadNativeImage(path, loaded, &image.Palette);
            break;
        case FitsFormat:
            read = ReadFitsImage(path, loaded);
            break;
        case BitmapFormat:
            read = ReadBmpImage(path, loaded);
            break;
        case PngFormat:
            read = ReadPngImage(path, loaded);
            break;
        default:
            break;
        }
    }
    if (!read) {
        if (lent)
            image.Rgba.swap(loaded.Rgba);
        return false;
    }
    loaded.DarkApplied = false;
    loaded.FlatApplied = false;
    ComputeDisplayLevels(loaded);
    loaded.TimeStamp = NextImageTimeStamp();
    loaded.OriginFormat = info.Format;
    loaded.SelX0 = loaded.SelY0 = loaded.SelX1 = loaded.SelY1 = 0;
    image = std::move(loaded);
    return true;
}

bool SaveImageFile(const std::string &path, int format, const ImageData &image)
{
    BusyCursor busy;
    if (format <= NativeFormat)
        return WriteNativeImage(path, image);
    if (format == FitsFormat)
        return WriteFitsImage(path, image);
    if (format == PngFormat)
        return WritePngImage(path, image);
    return false;
}
