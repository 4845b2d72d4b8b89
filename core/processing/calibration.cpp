#include "processing/calibration.h"

#include "image_file.h"
#include "levels.h"
#include "text_format.h"
#include "ui_hooks.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>

bool AskSkipUnreadable(const std::string &name)
{
    return Ui().ShowMessage(KorviCaption, "Could not open file: " + name + ". Skip file and proceed?",
                            MessageButtons::YesNo, MessageIcon::Question) == MessageAnswer::Yes;
}

bool AskSkipMismatch(const std::string &name, int width, int height, int expectedWidth, int expectedHeight)
{
    const std::string text = "File: " + name + " is " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels, not " + std::to_string(expectedWidth) +
                             " x " + std::to_string(expectedHeight) +
                             " like the first image. Skip file and proceed?";
    return Ui().ShowMessage(KorviCaption, text, MessageButtons::YesNo, MessageIcon::Question) ==
           MessageAnswer::Yes;
}

LoopResult ForEachListedImage(const std::vector<std::string> &files, ImageData &image,
                              ListedImageLoop options,
                              const std::function<bool(ImageData &, int index)> &each)
{
    LoopResult result;
    result.Width = options.ExpectedWidth;
    result.Height = options.ExpectedHeight;
    const int listed = static_cast<int>(files.size());
    for (int i = 0; i < listed; ++i) {
        if (options.Cancelled && options.Cancelled()) {
            result.Cancelled = true;
            break;
        }
        const int remaining = listed - result.Skipped;
        Ui().ProgressStep(remaining > 0 ? result.Loaded * 100 / remaining : 0);
        image.Free(); // one input image at a time
        if (!image.LoadFromFile(files[i])) {
            if (!AskSkipUnreadable(files[i])) {
                result.Stopped = true;
                break;
            }
            ++result.Skipped;
            continue;
        }
        if (options.CheckSize) {
            if (result.Width == 0) {
                result.Width = image.Width;
                result.Height = image.Height;
            } else if (image.Width != result.Width || image.Height != result.Height) {
                if (options.MismatchEnds) {
                    Ui().ShowMessage(KorviCaption, options.MismatchEnds, MessageButtons::Ok,
                                     MessageIcon::Warning);
                    result.Stopped = true;
                    break;
                }
                if (!AskSkipMismatch(files[i], image.Width, image.Height, result.Width, result.Height)) {
                    result.Stopped = true;
                    break;
                }
                ++result.Skipped;
                continue;
            }
        }
        ++result.Loaded;
        if (!each(image, i)) {
            result.Stopped = true;
            break;
        }
    }
    return result;
}

// ---------------------------------------------------------------------------------------------

namespace
{

// The frame arithmetic below runs across the cores: every pixel's result depends on that pixel
// alone (and the largest value is the same in any order), so it is the same on any number of
// threads. Pieces are taken in turn by whichever thread is free, so one the system holds back
// delays only its own piece. Small frames stay on the calling thread.
constexpr std::ptrdiff_t ParallelPixels = 32768;
constexpr std::ptrdiff_t PiecePixels = 65536; // pixels of a piece of a flat loop
constexpr int PieceRows = 16;                 // rows of a piece of a loop over rows

} // namespace

void FrameAccumulator::Start(int width, int height)
{
    sums_.Allocate(height, width);
    sums_.Fill(0);
}

void FrameAccumulator::AddAboveBias(const ImageData &image, double bias)
{
    // trunc(acc + (p - b)) with an integral acc and p >= b is acc + (p - ceil(b)), and p >= b is
    // p >= ceil(b) for an integral p: so the sum runs in integers.
    if (!std::isfinite(bias))
        bias = 0.0;
    const std::int32_t cb = static_cast<std::int32_t>(std::clamp(std::ceil(bias), -65536.0, 65536.0));
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(sums_.Size());
    const std::uint16_t *p = image.FramePixels(0);
    std::uint32_t *acc = sums_.Data();
#pragma omp parallel for schedule(dynamic, PiecePixels) if (count >= ParallelPixels)
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::int32_t d = static_cast<std::int32_t>(p[i]) - cb;
        acc[i] += static_cast<std::uint32_t>(d > 0 ? d : 0);
    }
}

void FrameAccumulator::Add(const ImageData &image)
{
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(sums_.Size());
    const std::uint16_t *p = image.FramePixels(0);
    std::uint32_t *acc = sums_.Data();
#pragma omp parallel for schedule(dynamic, PiecePixels) if (count >= ParallelPixels)
    for (std::ptrdiff_t i = 0; i < count; ++i)
        acc[i] += p[i];
}

std::uint32_t FrameAccumulator::Maximum() const
{
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(sums_.Size());
    const std::uint32_t *acc = sums_.Data();
    std::uint32_t m = 0;
#pragma omp parallel for schedule(dynamic, PiecePixels) reduction(max : m) if (count >= ParallelPixels)
    for (std::ptrdiff_t i = 0; i < count; ++i)
        m = std::max(m, acc[i]);
    return m;
}

namespace
{

// Runs the loop that feeds an accumulator; `last` ends holding the header (not the pixels) of the
// last loaded image, and the accumulator the sums.
LoopResult Accumulate(const std::vector<std::string> &files, FrameAccumulator &accumulator, ImageData &last,
                      const std::function<bool()> &cancelled, const char *mismatchEnds,
                      const std::function<void(const ImageData &)> &add)
{
    ImageData image;
    ListedImageLoop options;
    options.Cancelled = cancelled;
    options.MismatchEnds = mismatchEnds;
    bool started = false;
    Ui().ProgressStart("Processing images");
    LoopResult run = ForEachListedImage(files, image, options, [&](ImageData &loaded, int) {
        if (!started) {
            accumulator.Start(loaded.Width, loaded.Height);
            started = true;
        }
        add(loaded);
        last = std::move(loaded);
        last.Free(); // the header stays; the pixels are not needed
        return true;
    });
    Ui().ProgressEnd();
    return run;
}

} // namespace

BuiltFrame BuildCalibrationFrame(const std::vector<std::string> &files, CalibrationFrameKind kind,
                                 ImageData &result, const std::function<bool()> &cancelled)
{
    BuiltFrame built;
    if (files.empty()) {
        Ui().ShowMessage(KorviCaption, NoFilesSelected, MessageButtons::Ok);
        return built;
    }
    FrameAccumulator accumulator;
    ImageData last;
    const LoopResult run =
        Accumulate(files, accumulator, last, cancelled, FramesDifferInSize,
                   [&](const ImageData &image) { accumulator.AddAboveBias(image, image.OffsetLevel); });
    if (run.Loaded == 0 || run.Stopped || run.Cancelled)
        return built;
    built.Maximum = accumulator.Maximum();
    if (built.Maximum == 0) {
        Ui().ShowMessage(KorviCaption, NothingAboveBias, MessageButtons::Ok, MessageIcon::Warning);
        return built;
    }
    const int w = run.Width, h = run.Height;
    result = std::move(last);
    if (!result.Allocate(w, h, 1))
        return built;
    const std::uint64_t m = built.Maximum;
    const std::uint32_t *acc = accumulator.Sums().Data();
    std::uint16_t *out = result.FramePixels(0);
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(w) * h;
#pragma omp parallel for schedule(dynamic, PiecePixels) if (count >= ParallelPixels)
    for (std::ptrdiff_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint16_t>(acc[i] * std::uint64_t{65535} / m);
    accumulator.Free();

    auto histogram = std::make_unique<std::uint32_t[]>(65536);
    float mean = 0, median = 0, deviation = 0;
    int minimum = 0, maximum = 0, mode = 0;
    ComputeRegionStatistics(result.Rows, histogram.get(), w / 4, h / 4, 3 * w / 4, 3 * h / 4, mean, median,
                            deviation, minimum, maximum, mode, 65535);
    built.Median = median;
    result.Description = kind == CalibrationFrameKind::Dark ? "Dark (thermal) frame, bias subtracted."
                                                            : "Flat field frame, bias subtracted.";
    const double spread = static_cast<double>(built.Maximum) - median;
    result.Gain = spread > 0 ? static_cast<float>(65535.0 / spread) : 1.0f;
    result.TopDark = result.BottomDark = result.SkyLevel = 0.0f;
    result.OffsetLevel = median;
    built.Made = true;
    return built;
}

bool SumListedImages(const std::vector<std::string> &files, bool average, ImageData &result,
                     const std::function<bool()> &cancelled)
{
    if (files.empty()) {
        Ui().ShowMessage(KorviCaption, NoFilesSelected, MessageButtons::Ok);
        return false;
    }
    if (files.size() == 1) {
        Ui().ShowMessage(KorviCaption, CannotSumOneFile, MessageButtons::Ok);
        return false;
    }
    FrameAccumulator accumulator;
    ImageData last;
    std::int64_t offsetSum = 0;
    const LoopResult run =
        Accumulate(files, accumulator, last, cancelled, nullptr, [&](const ImageData &image) {
            accumulator.Add(image);
            offsetSum =
                static_cast<std::int64_t>(std::trunc(static_cast<double>(offsetSum) + image.OffsetLevel));
        });
    if (run.Loaded == 0 || run.Stopped || run.Cancelled)
        return false;
    result = std::move(last);
    if (!result.Allocate(run.Width, run.Height, 1))
        return false;
    result.TopDark = result.BottomDark = result.SkyLevel = 0.0f;
    result.OffsetLevel = static_cast<float>(offsetSum / run.Loaded);
    const std::uint32_t divisor = average ? static_cast<std::uint32_t>(run.Loaded) : 1u;
    const std::uint32_t *acc = accumulator.Sums().Data();
    std::uint16_t *out = result.FramePixels(0);
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(result.PixelCount());
#pragma omp parallel for schedule(dynamic, PiecePixels) if (count >= ParallelPixels)
    for (std::ptrdiff_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint16_t>(std::min<std::uint32_t>(acc[i] / divisor, 65535));
    return true;
}

int SubtractWeighted(ImageData &image, const ImageData &reference, double weight, int width, int height)
{
    int largest = -100000;
    const bool parallel = static_cast<std::ptrdiff_t>(width) * height >= ParallelPixels;
#pragma omp parallel for schedule(dynamic, PieceRows) reduction(max : largest) if (parallel)
    for (int y = 0; y < height; ++y) {
        std::uint16_t *p = image.FrameRow(0, y);
        const std::uint16_t *s = reference.FrameRow(0, y);
        for (int x = 0; x < width; ++x) {
            const long double v =
                std::trunc(static_cast<long double>(p[x]) - s[x] * static_cast<long double>(weight));
            const int r = v < 0 ? 0 : (v > 65535 ? 65535 : static_cast<int>(v));
            p[x] = static_cast<std::uint16_t>(r);
            largest = std::max(largest, r);
        }
    }
    return largest <= 0 ? 1 : largest;
}

void SetResultHeader(ImageData &image, int width, int height, int maximum, int originFormat)
{
    image.MaxColumns = width;
    image.MaxRows = height;
    image.XLo = 0;
    image.XHi = width - 1;
    image.YLo = 0;
    image.YHi = height - 1;
    image.XBin = image.YBin = 1;
    image.TopDark = image.BottomDark = image.OffsetLevel = 0.0f;
    image.Gain = 65535.0f / static_cast<float>(maximum > 0 ? maximum : 1);
    image.OriginFormat = originFormat;
}

// ---------------------------------------------------------------------------------------------
// Corrections

bool FlatNormalisationUsable(const ImageData &flat)
{
    return std::isfinite(flat.OffsetLevel) && flat.OffsetLevel > 0.0f;
}

int CorrectDarkFlat(ImageData &image, const ImageData *dark, const ImageData *flat)
{
    const int w = image.Width, h = image.Height;
    const double offset = image.OffsetLevel;
    const std::int64_t t = static_cast<std::int64_t>(std::trunc(offset));
    std::int64_t v =
        static_cast<std::int64_t>(std::trunc(static_cast<double>(image.BottomDark) + offset - t));
    if (v < 0)
        v = 0;
    const long double darkLevel = dark ? std::max(1.0L, static_cast<long double>(dark->OffsetLevel)) : 1.0L;
    const long double flatLevel = flat ? static_cast<long double>(flat->OffsetLevel) : 1.0L;
    int largest = 0;
    const bool parallel = static_cast<std::ptrdiff_t>(w) * h >= ParallelPixels;
#pragma omp parallel for schedule(dynamic, PieceRows) reduction(max : largest) if (parallel)
    for (int y = 0; y < h; ++y) {
        std::uint16_t *p = image.FrameRow(0, y);
        const std::uint16_t *d = dark ? dark->FrameRow(0, y) : nullptr;
        const std::uint16_t *f = flat ? flat->FrameRow(0, y) : nullptr;
        for (int x = 0; x < w; ++x) {
            long double r = p[x];
            if (d) {
                const std::int64_t diff = static_cast<std::int64_t>(p[x]) - t;
                const std::int64_t dv = static_cast<std::int64_t>(d[x]) * v;
                r = std::trunc(static_cast<long double>(diff) - static_cast<long double>(dv) / darkLevel);
                r = std::clamp(r, 0.0L, 65535.0L);
            }
            if (f) {
                const long double fv = f[x] < 1 ? 1.0L : f[x];
                r = std::min(std::trunc(r * flatLevel / fv), 65535.0L);
            }
            const int out = static_cast<int>(r);
            p[x] = static_cast<std::uint16_t>(out);
            largest = std::max(largest, out);
        }
    }
    return largest == 0 ? 1 : largest;
}

int FixBadColumns(ImageData &image, const std::vector<BadColumnEntry> &columns)
{
    const int w = image.Width, h = image.Height;
    int clipped = 0;
    for (const BadColumnEntry &entry : columns) {
        const int x = entry.Column;
        const int y0 = std::max(entry.StartRow, 0), y1 = std::min(entry.EndRow, h - 1);
        const bool outside = x < 0 || x >= w || w < 2;
        if (outside || entry.EndRow >= h)
            ++clipped;
        if (outside)
            continue;
        for (int y = y0; y <= y1; ++y) {
            std::uint16_t *p = image.FrameRow(0, y);
            if (x == 0)
                p[0] = p[1];
            else if (x + 1 < w)
                p[x] = p[x - 1] < p[x + 1] ? p[x - 1] : p[x + 1];
            else
                p[x] = p[x - 1];
        }
    }
    return clipped;
}

void FixHotPixels(ImageData &image, const std::vector<PixelPosition> &pixels)
{
    const int w = image.Width, h = image.Height;
    for (const PixelPosition &entry : pixels) {
        const int x = entry.Column, y = entry.Row;
        if (x < 0 || y < 0 || x > w - 1 || y > h - 1)
            return;
        int sum = 0, count = 0;
        const auto take = [&](int cx, int cy) {
            if (cx >= 0 && cx < w && cy >= 0 && cy < h) {
                sum += image.FrameRow(0, cy)[cx];
                ++count;
            }
        };
        take(x - 1, y);
        take(x, y - 1);
        take(x + 1, y);
        take(x, y + 1);
        if (count > 0)
            image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(sum / count);
    }
}
