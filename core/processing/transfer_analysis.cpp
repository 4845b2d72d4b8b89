#include "transfer_analysis.h"

#include "file_names.h"
#include "image_data.h"
#include "image_file.h"
#include "line_file.h"
#include "text_format.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>

namespace
{

constexpr int MinimumWidth = 40;
constexpr int MinimumHeight = 30;

// Mean of the values, with a mean of 0 taken as 1 so that dividing by it is always defined.
double NonZeroMean(const std::vector<double> &values)
{
    double sum = 0.0;
    for (double v : values)
        sum += v;
    const double mean = values.empty() ? 0.0 : sum / static_cast<double>(values.size());
    return mean == 0.0 ? 1.0 : mean;
}

// Frame-to-frame mean (truncated) and variance about it (truncated) of one sample over a series,
// each value divided by its frame's level.
void SampleStatistics(const std::vector<std::uint16_t> &values, std::size_t sample, std::size_t samples,
                      const std::vector<double> &levels, double &mean, double &variance)
{
    const std::size_t frames = levels.size();
    double sum = 0.0;
    for (std::size_t f = 0; f < frames; ++f)
        sum += values[f * samples + sample] / levels[f];
    mean = std::trunc(sum / static_cast<double>(frames));
    double squares = 0.0;
    for (std::size_t f = 0; f < frames; ++f) {
        const double d = values[f * samples + sample] / levels[f] - mean;
        squares += d * d;
    }
    variance = std::trunc(squares / static_cast<double>(frames - 1));
}

bool LoadFrame(const std::string &path, ImageData &frame, const ImageData &first, std::string &statusError)
{
    if (!LoadImageFile(path, frame)) {
        statusError = "Status: Error loading " + path;
        return false;
    }
    // Sample positions come from the first lit frame: every frame must have its size.
    if (frame.Width != first.Width || frame.Height != first.Height) {
        statusError = "Status: " + path + " is " + std::to_string(frame.Width) + " x " +
                      std::to_string(frame.Height) + ", not " + std::to_string(first.Width) + " x " +
                      std::to_string(first.Height) + " like the first image.";
        return false;
    }
    return true;
}

} // namespace

void MedianFilteredRange(const ImageData &image, int x0, int y0, int x1, int y1, int &minimum, int &maximum)
{
    minimum = 65535;
    maximum = 0;
    const int w = image.Width, h = image.Height;
    std::array<std::uint16_t, 25> window{};
    for (int y = y0; y <= y1; ++y) {
        std::array<const std::uint16_t *, 5> rows{};
        for (int v = 0; v < 5; ++v)
            rows[v] = image.FrameRow(0, std::clamp(y + v - 2, 0, h - 1));
        for (int x = x0; x <= x1; ++x) {
            int n = 0;
            for (int v = 0; v < 5; ++v)
                for (int u = 0; u < 5; ++u)
                    window[n++] = rows[v][std::clamp(x + u - 2, 0, w - 1)];
            std::nth_element(window.begin(), window.begin() + 12, window.end());
            const int median = window[12];
            minimum = std::min(minimum, median);
            maximum = std::max(maximum, median);
        }
    }
}

std::vector<std::pair<int, int>> SelectSamplePixels(const ImageData &image, int x0, int y0, int x1, int y1,
                                                    int n, int minimum, int maximum)
{
    // The first pixel (in scan order: columns, then rows within a column) of every value, and for
    // every value the nearest present value at or below it and at or above it. The closest pixel to
    // a level is then found without another scan; between two equally close values the one met
    // first in the scan wins, as a scan keeping only strictly closer pixels would find.
    constexpr std::uint32_t None = std::numeric_limits<std::uint32_t>::max();
    const int columnLength = y1 - y0 + 1;
    std::vector<std::uint32_t> first(65536, None);
    std::uint32_t index = 0;
    for (int x = x0; x <= x1; ++x)
        for (int y = y0; y <= y1; ++y, ++index) {
            std::uint32_t &slot = first[image.FrameRow(0, y)[x]];
            if (slot == None)
                slot = index;
        }
    std::vector<std::int32_t> below(65536), above(65536);
    for (int v = 0, last = -1; v < 65536; ++v) {
        if (first[v] != None)
            last = v;
        below[v] = last;
    }
    for (int v = 65535, next = -1; v >= 0; --v) {
        if (first[v] != None)
            next = v;
        above[v] = next;
    }
    std::vector<std::pair<int, int>> pixels;
    pixels.reserve(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        const auto level64 = static_cast<std::int64_t>(maximum - minimum) * k / n + minimum;
        const int level = static_cast<int>(std::clamp<std::int64_t>(level64, 0, 65535));
        const int lo = below[level], hi = above[level];
        int chosen = lo;
        if (lo < 0 ||
            (hi >= 0 && (hi - level < level - lo || (hi - level == level - lo && first[hi] < first[lo]))))
            chosen = hi;
        const std::uint32_t at = first[chosen];
        pixels.emplace_back(x0 + static_cast<int>(at / columnLength),
                            y0 + static_cast<int>(at % columnLength));
    }
    return pixels;
}

double CentralBoxMean(const ImageData &image, double offset)
{
    const int bw = std::min(100, image.Width), bh = std::min(100, image.Height);
    const int bx = (image.Width - bw) / 2, by = (image.Height - bh) / 2;
    double sum = 0.0;
    for (int y = by; y < by + bh; ++y) {
        const std::uint16_t *row = image.FrameRow(0, y);
        for (int x = bx; x < bx + bw; ++x)
            sum += row[x] - offset;
    }
    return sum / (static_cast<double>(bw) * bh);
}

bool AnalyzeTransferSeries(const TransferSeries &series, std::vector<TransferRecord> &records,
                           std::string &statusError, const std::function<void(const std::string &)> &status)
{
    records.clear();
    const auto say = [&](const std::string &text) {
        if (status)
            status(text);
    };
    const int n = series.samples;
    const std::size_t nB = series.biasFiles.size(), nI = series.imageFiles.size();
    if (n < 1 || nB < 2 || nI < 2) {
        statusError = "Status: Too few files or samples.";
        return false;
    }
    ImageData first;
    if (!LoadImageFile(series.imageFiles.front(), first)) {
        statusError = "Status: Error loading " + series.imageFiles.front();
        return false;
    }
    if (first.Width < MinimumWidth || first.Height < MinimumHeight) {
        statusError = "Status: Image must have minimum dimension 40 x 30.";
        return false;
    }
    const int x0 = 19, x1 = first.Width - 6, y0 = 4, y1 = first.Height - 6;
    int minimum = 0, maximum = 0;
    MedianFilteredRange(first, x0, y0, x1, y1, minimum, maximum);
    if (minimum == maximum)
        maximum = minimum + 1;

    say("Selecting pixels to sample.");
    const std::vector<std::pair<int, int>> pixels =
        SelectSamplePixels(first, x0, y0, x1, y1, n, minimum, maximum);
    const auto samples = static_cast<std::size_t>(n);

    // Sample values of every frame (frame-major) and every frame's level.
    std::vector<std::uint16_t> biasValues(nB * samples), imageValues(nI * samples);
    std::vector<double> biasLevels(nB), imageLevels(nI);
    ImageData frame;
    for (std::size_t k = 0; k < nB; ++k) {
        say("Loading bias frame " + std::to_string(k + 1));
        if (!LoadFrame(series.biasFiles[k], frame, first, statusError))
            return false;
        for (std::size_t s = 0; s < samples; ++s)
            biasValues[k * samples + s] = frame.FrameRow(0, pixels[s].second)[pixels[s].first];
        biasLevels[k] = CentralBoxMean(frame, 0.0);
    }
    const double biasMean = NonZeroMean(biasLevels);
    double bias = std::trunc(biasMean);
    if (bias == 0.0)
        bias = 1.0;
    for (double &level : biasLevels)
        level /= biasMean;

    for (std::size_t g = 0; g < nI; ++g) {
        say("Loading image frame " + std::to_string(g + 1));
        if (!LoadFrame(series.imageFiles[g], frame, first, statusError))
            return false;
        const double offset = series.useHeaderBias ? std::trunc(frame.OffsetLevel) : bias;
        for (std::size_t s = 0; s < samples; ++s) {
            // A pixel below the offset counts as 0, never wraps round to a bright value.
            const double v = frame.FrameRow(0, pixels[s].second)[pixels[s].first] - offset;
            imageValues[g * samples + s] = static_cast<std::uint16_t>(std::clamp(v, 0.0, 65535.0));
        }
        imageLevels[g] = CentralBoxMean(frame, offset);
    }
    const double imageMean = NonZeroMean(imageLevels);
    for (double &level : imageLevels)
        level /= imageMean;

    std::vector<TransferRecord> all(2 * samples);
    say("Computing frame to frame average of image pixels.");
    say("Computing frame to frame average of bias pixels.");
    say("Computing frame to frame pixel variances for image frames.");
    say("Computing frame to frame pixel variances for bias frames.");
    for (std::size_t s = 0; s < samples; ++s) {
        TransferRecord &lit = all[s];
        SampleStatistics(imageValues, s, samples, imageLevels, lit.X, lit.Y);
        TransferRecord &dark = all[samples + s];
        SampleStatistics(biasValues, s, samples, biasLevels, dark.X, dark.Y);
        dark.X -= bias;
    }

    const int b = std::max(series.bin, 1);
    if (b >= 2) {
        for (std::size_t j = 0; j * b < all.size(); ++j) {
            const std::size_t begin = j * b, end = std::min(all.size(), begin + b);
            double sx = 0.0, sy = 0.0;
            for (std::size_t i = begin; i < end; ++i) {
                sx += all[i].X;
                sy += all[i].Y;
            }
            const double count = static_cast<double>(end - begin);
            records.push_back({std::trunc(sx / count), std::trunc(sy / count), 0});
        }
    } else {
        records = std::move(all);
    }
    const std::size_t half = records.size() / 2;
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i].F = i < half ? 0 : 1;
    return true;
}

std::string TransferDataText(const std::vector<TransferRecord> &records)
{
    std::string text;
    const std::size_t half = records.size() / 2;
    for (std::size_t i = 0; i < records.size(); ++i) {
        text += FormatFloat("0.00000e+00", records[i].X, '.');
        text += ", ";
        text += FormatFloat("0.00000e+00", records[i].Y, '.');
        text += i < half ? ", 0\n" : ", 1\n";
    }
    return text;
}

bool WriteTransferDataFile(const std::string &path, const std::vector<TransferRecord> &records)
{
    const std::string text = TransferDataText(records);
    ReplacingFile file(path);
    if (!file.Open())
        return false;
    file.Write(text.data(), text.size());
    return file.Commit();
}

bool ReadTransferDataFile(const std::string &path, double minX, double maxX,
                          std::vector<TransferRecord> &kept, std::string &problem)
{
    kept.clear();
    std::error_code error;
    LineFileReader file;
    if (!std::filesystem::is_regular_file(path, error) || !file.Open(path)) {
        problem = "Could not find " + path;
        return false;
    }
    std::vector<TransferRecord> records;
    std::string line;
    while (file.ReadLine(line)) {
        const std::string_view text = TrimText(line);
        if (text.empty())
            continue;
        const std::size_t comma1 = text.find(',');
        const std::string_view rest =
            comma1 == std::string_view::npos ? std::string_view{} : TrimText(text.substr(comma1 + 1));
        const std::size_t comma2 = rest.find(',');
        TransferRecord record;
        std::int32_t flag = 0;
        if (comma1 == std::string_view::npos || comma2 == std::string_view::npos ||
            !ParseFloatText(TrimText(text.substr(0, comma1)), record.X) ||
            !ParseFloatText(TrimText(rest.substr(0, comma2)), record.Y) ||
            !ParseIntText(TrimText(rest.substr(comma2 + 1)), flag)) {
            problem = "Line " + std::to_string(file.LineNumber()) + " of " + path + " is not a data record.";
            return false;
        }
        record.F = flag;
        records.push_back(record);
    }
    if (records.size() < 2) {
        problem = "File has less than 2 data records.";
        return false;
    }
    for (const TransferRecord &record : records)
        if (record.X >= minX && record.X <= maxX)
            kept.push_back(record);
    return true;
}

TransferRanges RangesOf(const std::vector<TransferRecord> &records)
{
    TransferRanges r;
    if (records.empty())
        return r;
    r.xMin = r.xMax = records.front().X;
    r.yMin = r.yMax = records.front().Y;
    for (const TransferRecord &record : records) {
        r.xMin = std::min(r.xMin, record.X);
        r.xMax = std::max(r.xMax, record.X);
        r.yMin = std::min(r.yMin, record.Y);
        r.yMax = std::max(r.yMax, record.Y);
    }
    return r;
}

bool FitTransferConstant(const std::vector<TransferRecord> &records, TransferFit &fit, std::string &problem)
{
    double biasSum = 0.0;
    int biasCount = 0, litCount = 0;
    for (const TransferRecord &record : records) {
        if (record.F == 1) {
            biasSum += record.Y;
            ++biasCount;
        } else if (record.F == 0) {
            ++litCount;
        }
    }
    if (biasCount == 0) {
        problem = "No bias values found!";
        return false;
    }
    // Without lit records every slope fits equally well: there is nothing to measure.
    if (litCount == 0) {
        problem = "No image values found!";
        return false;
    }
    const double b = biasSum / biasCount;
    const TransferRanges r = RangesOf(records);
    const double d = (r.yMax - r.yMin) / (r.xMax - r.xMin);
    // The search multiplies the slope by 1.001 from d/4 up to 4d: that needs d/4 to be a normal
    // number (a subnormal one has too few bits for the step to move it) and 4d to be finite.
    if (!std::isnormal(d / 4.0) || d <= 0.0 || !std::isfinite(4.0 * d)) {
        problem = "The data give no slope to fit.";
        return false;
    }
    double best = std::numeric_limits<double>::infinity(), bestK = d / 4.0;
    for (double k = d / 4.0; k < 4.0 * d; k *= 1.001) {
        double sum = 0.0;
        for (const TransferRecord &record : records)
            if (record.F == 0) {
                const double e = k * record.X + b - record.Y;
                sum += e * e;
            }
        if (sum < best) {
            best = sum;
            bestK = k;
        }
    }
    fit.k = bestK;
    fit.biasVariance = b;
    fit.gain = 1.0 / bestK;
    fit.noise = std::sqrt(std::fabs(b)) / bestK;
    return true;
}
