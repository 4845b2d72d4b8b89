#include "processing/bloom.h"

#include "image_data.h"
#include "image_file.h"
#include "levels.h"
#include "processing/filters.h"
#include "ui_hooks.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace
{

void ReportTooSmall(int width, int height)
{
    Ui().ShowMessage(KorviCaption,
                     "The image (" + std::to_string(width) + " x " + std::to_string(height) +
                         ") is too small for bloom and star removal; it needs at least " +
                         std::to_string(MinBloomImageSide) + " pixels each way. Nothing was changed.",
                     MessageButtons::Ok, MessageIcon::Warning);
}

// Sets SilentProcessing for its lifetime (the filters called meanwhile show no progress), and puts
// back what it was.
class QuietFilters
{
public:
    QuietFilters() : was_(SilentProcessing.exchange(true)) {}
    ~QuietFilters() { SilentProcessing = was_; }

private:
    bool was_;
};

void FlipRows(ImageData &image)
{
    for (int top = 0, bottom = image.Height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(image.FrameRow(0, top), image.FrameRow(0, top) + image.Width,
                         image.FrameRow(0, bottom));
}

// The sky in a box, found by four passes that each drop what lies above median + 3 sigma of the
// last: returns the median, and the deviation through `deviation`.
float SkyOfBox(const ImageData &image, int x0, int y0, int x1, int y1, int firstCeiling, bool looseSecond,
               float &deviation)
{
    std::vector<std::uint32_t> histogram(65536);
    int ceiling = firstCeiling;
    float mean = 0, median = 0, sd = 0;
    for (int pass = 0; pass < 4; ++pass) {
        int low = 0, high = 0, mode = 0;
        ComputeRegionStatistics(image.Rows, histogram.data(), x0, y0, x1, y1, mean, median, sd, low, high,
                                mode, ceiling);
        const double next = std::trunc(static_cast<double>(median) + 3.0 * sd);
        if (next <= 65535)
            ceiling = static_cast<int>(next);
        else if (!looseSecond)
            ceiling = 50000;
        else {
            const double wider = std::trunc(static_cast<double>(median) + 1000.0);
            ceiling = wider <= 65535 ? static_cast<int>(wider) : 32000;
        }
    }
    deviation = sd;
    return median;
}

// Columns m .. right of the trail through the saturated pixel the scan met.
struct BloomSpan {
    int m = 0, right = 0;
};

BloomSpan HorizontalExtent(const ImageData &image, int cx, int cy, int threshold)
{
    const int w = image.Width, h = image.Height;
    auto saturated = [&](int column) {
        for (int y = std::max(cy - 12, 0); y <= std::min(cy + 12, h - 1); ++y)
            if (image.FrameRow(0, y)[column] > threshold)
                return true;
        return false;
    };
    int first = -1, after = -1;
    for (int i = std::max(cx - 10, 0); i <= std::min(cx + 10, w - 1); ++i) {
        const bool in = saturated(i);
        if (in && first < 0)
            first = i;
        else if (!in && first >= 0) {
            after = i;
            break;
        }
    }
    BloomSpan span;
    span.m = first >= 0 ? first : cx;
    span.right = after >= 0 ? after - 1 : cx - 1;
    span.right = std::clamp(span.right, 2, w - 2);
    span.m = std::clamp(span.m, 1, w - 3);
    return span;
}

} // namespace

float NoiseSource::UniformRandom()
{
    return static_cast<float>(generator_() % 100000u) * 0.00001f;
}

float NoiseSource::GaussianRandom()
{
    constexpr float scale = 0.9090909f;
    if (cached_) {
        cached_ = false;
        return cache_ * scale;
    }
    float u = 0, v = 0, s = 0;
    do {
        u = 2.0f * UniformRandom() - 1.0f;
        v = 2.0f * UniformRandom() - 1.0f;
        s = u * u + v * v;
    } while (!(s > 0.0f && s < 1.0f));
    const float f = std::sqrt(std::abs(-2.0f * std::log(s) / s));
    cache_ = u * f;
    cached_ = true;
    return v * f * scale;
}

bool RemoveBlooming(ImageData &image, const BloomOptions &options)
{
    if (image.Empty)
        return false;
    const int w = image.Width, h = image.Height;
    if (w < MinBloomImageSide || h < MinBloomImageSide) {
        ReportTooSmall(w, h);
        return false;
    }
    const QuietFilters quiet;
    const int t = options.threshold;
    const double n = options.noise;
    NoiseSource noise(options.seed);

    // Trails that reach the first or last rows: cleared to 0 from the edge while saturated.
    for (int c = 0; c < w; ++c) {
        auto p = [&](int r) -> std::uint16_t & { return image.FrameRow(0, r)[c]; };
        if (p(0) > t || p(1) > t || p(2) > t)
            for (int r = 0; r < h - 2 && (p(r) >= t || p(r + 1) >= t || p(r + 2) >= t); ++r)
                p(r) = 0;
        if (p(h - 1) > t || p(h - 2) > t || p(h - 3) > t)
            for (int r = h - 1; r > 2 && (p(r) >= t || p(r - 1) >= t || p(r - 2) >= t); --r)
                p(r) = 0;
    }
    if (options.flip)
        FlipRows(image);
    UShortMatrix copy(h, w);
    for (int y = 0; y < h; ++y)
        std::copy_n(image.FrameRow(0, y), w, copy[y]);

    float deviation = 0;
    const double sky = SkyOfBox(image, w / 4, h / 4, 3 * w / 4, 3 * h / 4, 32000, false, deviation);
    const double near = 3.0 * n;

    std::vector<float> block(static_cast<std::size_t>(32) * h);
    std::array<float, 29> profile{};
    for (int col = 0; col < w; ++col)
        for (int row = 0; row < h; ++row) {
            if (copy[row][col] <= t)
                continue;
            float fx = static_cast<float>(col), fy = static_cast<float>(row);
            RefineStarCentroid(image, fx, fy);
            const int cx = std::clamp(static_cast<int>(fx), 0, w - 1),
                      cy = std::clamp(static_cast<int>(fy), 0, h - 1);
            const BloomSpan span = HorizontalExtent(image, cx, cy, t);
            const int m = span.m, right = span.right;

            // The star's row: the centroid of the rows beside the trail, on both sides.
            const int r0 = std::max(cy - 14, 0), r1 = std::min(cy + 14, h - 1) - 1;
            profile.fill(0.0f);
            for (int r = r0; r <= r1; ++r) {
                float sum = 0;
                for (int i = m - 4; i <= m - 2; ++i)
                    if (i >= 0 && i < w)
                        sum += image.FrameRow(0, r)[i];
                for (int i = right + 2; i <= right + 4; ++i)
                    if (i >= 0 && i < w)
                        sum += image.FrameRow(0, r)[i];
                profile[r - r0] = sum;
            }
            const int starRow = std::clamp(
                static_cast<int>(r0 + ProfileCentroid(profile.data(), std::max(r1 - r0 + 1, 1))), 0, h - 1);

            for (int i = m; i <= right; ++i) {
                const int d = i - m;
                auto pixel = [&](int y) { return static_cast<double>(image.FrameRow(0, y)[i]); };
                int lower = starRow;
                while (lower < h - 1 && std::abs(pixel(lower) - sky) > near)
                    ++lower;
                int upper = lower;
                bool passedSaturated = false;
                while (upper > 0) {
                    if (pixel(upper) > t) {
                        copy[upper][i] = 0;
                        passedSaturated = true;
                    } else if (passedSaturated && std::abs(pixel(upper) - sky) <= near) {
                        --upper;
                        break;
                    }
                    --upper;
                }
                upper = std::max(upper, 0);
                float *column = block.data() + static_cast<std::size_t>(d) * h;
                for (int y = 0; y < h; ++y) {
                    const double g = noise.GaussianRandom();
                    const double left = image.FrameRow(0, y)[m - 1],
                                 rightValue = image.FrameRow(0, y)[right + 1];
                    double v = n * 0.5 * (g + 0.5) + left + (rightValue - left) * d / (right - m + 1);
                    v = std::min(std::clamp(v, 0.0, 65535.0), pixel(y));
                    const bool above = y<upper, below = y> lower + 1;
                    if ((above && !options.removeStreaks) || (below && !options.removeSmear) ||
                        (above && pixel(y) - sky > n * options.streakThreshold))
                        v = pixel(y);
                    column[y] = static_cast<float>(v);
                }
            }
            for (int i = m; i <= right; ++i) {
                const float *column = block.data() + static_cast<std::size_t>(i - m) * h;
                for (int y = 0; y < h; ++y)
                    image.FrameRow(0, y)[i] = static_cast<std::uint16_t>(column[y]);
            }
        }
    if (options.flip)
        FlipRows(image);
    return true;
}

void FillStarRegion(ImageData &image, int column, int row, int background, int noise, int levelCap,
                    std::uint16_t fillValue)
{
    const int w = image.Width, h = image.Height;
    if (image.Empty || column < 0 || column >= w || row < 0 || row >= h)
        return;
    const int level = std::min(background + 3 * noise, levelCap);
    auto at = [&](int x, int y) -> std::uint16_t & { return image.FrameRow(0, y)[x]; };
    int last = row, first = row;
    while (last + 1 < h - 1 && last - row < 15 && at(column, last + 1) >= level)
        ++last;
    while (first - 1 >= 0 && row - first < 15 && at(column, first - 1) >= level)
        --first;
    for (int y = first; y < last; ++y) {
        int right = column, left = column;
        while (right + 1 < w - 1 && right - column < 15 && at(right + 1, y) >= level)
            ++right;
        while (left - 1 >= 1 && column - left < 15 && at(left - 1, y) >= level)
            --left;
        std::fill(&at(left, y), &at(left, y) + (right - left), fillValue);
    }
}

int DetectAndRemoveStars(ImageData &image, float &background, float &noise, int acceptableLevel,
                         int brightLevel, bool writeBack)
{
    if (image.Empty)
        return 0;
    const int w = image.Width, h = image.Height;
    if (w < 2 * MinBloomImageSide || h < 2 * MinBloomImageSide) {
        ReportTooSmall(w, h);
        return -1;
    }
    ImageData copy;
    copy.Assign(image);
    ApplyMedianFilter(copy, 3, 0.0f);
    ApplyGaussianConvolution(copy, 1);

    // The sky box: 100 x 100 at the centre, cut to the image.
    const int x0 = std::max(w / 2 - 50, 0), y0 = std::max(h / 2 - 50, 0);
    const int x1 = std::min(x0 + 100, w), y1 = std::min(y0 + 100, h);
    background = SkyOfBox(copy, x0, y0, x1, y1, 65535, true, noise);
    const int sky = static_cast<int>(background), spread = static_cast<int>(noise);

    auto scan = [&](const char *caption, int level, bool count) {
        int stars = 0;
        if (!SilentProcessing)
            Ui().ProgressStart(caption);
        for (int col = 35; col <= w - 31; ++col) {
            for (int row = 30; row <= h - 31; ++row) {
                if (copy.FrameRow(0, row)[col] < level)
                    continue;
                int bx = col, by = row, best = -1;
                for (int y = row - 15; y <= row + 14; ++y)
                    for (int x = col - 15; x <= col + 14; ++x)
                        if (copy.FrameRow(0, y)[x] > best) {
                            best = copy.FrameRow(0, y)[x];
                            bx = x;
                            by = y;
                        }
                FillStarRegion(copy, bx, by, sky, spread, acceptableLevel,
                               count ? 0 : static_cast<std::uint16_t>(std::clamp(sky, 0, 65535)));
                stars += count;
            }
            if (!SilentProcessing)
                Ui().ProgressStep(static_cast<int>(std::int64_t{col - 35} * 100 / std::max(w - 65, 1)));
        }
        if (!SilentProcessing)
            Ui().ProgressEnd();
        return stars;
    };
    scan("Removing bright stars...", brightLevel, false);
    const int stars = scan("Finding acceptable stars...", acceptableLevel, true);
    if (writeBack)
        for (int y = 0; y < h; ++y)
            std::copy_n(copy.FrameRow(0, y), w, image.FrameRow(0, y));
    return stars;
}

void TransformImageRegion(ImageData &image, const ImageTransform &transform)
{
    const int x0 = image.SelX0, y0 = image.SelY0, x1 = image.SelX1, y1 = image.SelY1;
    if (image.Empty || x1 - x0 < 0 || y1 - y0 < 0 || x0 < 0 || y0 < 0 || x0 > image.Width - 1 ||
        x1 > image.Width - 1 || y0 > image.Height - 1 || y1 > image.Height - 1)
        return;
    const TransformSampler sampler(image, transform);
    const int columns = x1 - x0, rows = y1 - y0;
    std::vector<std::uint16_t> block(static_cast<std::size_t>(columns) * rows);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            block[static_cast<std::size_t>(y) * columns + x] = sampler.Sample(x0 + x, y0 + y);
    for (int y = 0; y < rows; ++y)
        std::copy_n(block.data() + static_cast<std::size_t>(y) * columns, columns,
                    image.FrameRow(0, y0 + y) + x0);
}
