#include "stacking.h"

#include "file_names.h"
#include "image_file.h"
#include "processing/stars.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <new>

namespace
{

constexpr const char *DifferentSizes = "Images have different dimensions, cannot proceed.";

// Frames at least this large share their rows among threads.
constexpr long ParallelPixels = 65536;

StackRect Clipped(const StackRect &r, int w, int h)
{
    return {std::max(r.Left, 0), std::min(r.Right, w - 1), std::max(r.Top, 0), std::min(r.Bottom, h - 1)};
}

bool Identity(const StackRegistration &r)
{
    return r.Dx == 0.0f && r.Dy == 0.0f && r.Angle == 0.0f;
}

// Mean of (pixel - bias) over the central 201 x 201 pixels (all columns or rows of a frame
// narrower or lower than 220).
double NormalisationLevel(const ImageData &frame, float bias)
{
    const auto span = [](int size, int &lo, int &hi) {
        lo = size >= 220 ? size / 2 - 100 : 0;
        hi = size >= 220 ? size / 2 + 100 : size - 1;
    };
    int x0, x1, y0, y1;
    span(frame.Width, x0, x1);
    span(frame.Height, y0, y1);
    double sum = 0.0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            sum += frame.Rows[y][x] - static_cast<double>(bias);
    return sum / (static_cast<double>(x1 - x0 + 1) * (y1 - y0 + 1));
}

// The crop positions of one frame as its registered samples: out(row, x) receives the sample of
// crop pixel (x, row) turned into the stored value by `value`. Rows run in parallel.
template <typename Out, typename Value>
void SampleCrop(const ImageData &frame, const StackRegistration &reg, float cx, float cy,
                const StackRect &crop, Out out, Value value)
{
    const int t = crop.Right - crop.Left + 1, u = crop.Bottom - crop.Top + 1;
    const bool identity = Identity(reg);
    const TransformSampler sampler(frame, {reg.Dx, reg.Dy, reg.Angle, cx, cy, 1.0f, 1.0f});
#pragma omp parallel for schedule(static) if (static_cast <long>(t) * u >= ParallelPixels)
    for (int row = 0; row < u; ++row) {
        const int y = crop.Top + row;
        auto *target = out(row);
        if (identity) {
            const std::uint16_t *source = frame.Rows[y] + crop.Left;
            for (int x = 0; x < t; ++x)
                value(target[x], source[x]);
        } else {
            for (int x = 0; x < t; ++x)
                value(target[x], sampler.Sample(crop.Left + x, y));
        }
    }
}

} // namespace

bool BoxStarPosition(const ImageData &image, const StackRect &box, float &x, float &y)
{
    if (image.Empty)
        return false;
    const StackRect b = Clipped(box, image.Width, image.Height);
    if (b.Right < b.Left || b.Bottom < b.Top)
        return false;
    UShortMatrix cut(b.Bottom - b.Top + 1, b.Right - b.Left + 1);
    image.CopyRegionTo(cut, b.Left, b.Right, b.Top, b.Bottom);
    float sx = 0.0f, sy = 0.0f;
    FindStarCentroid(cut, cut.Columns(), cut.Rows(), sx, sy);
    x = sx + static_cast<float>(b.Left);
    y = sy + static_cast<float>(b.Top);
    return true;
}

StackRegistration RegistrationOf(float refX1, float refY1, float refX2, float refY2, float frameX1,
                                 float frameY1, float frameX2, float frameY2, bool twoStars)
{
    StackRegistration r;
    r.Dx = refX1 - frameX1;
    r.Dy = refY1 - frameY1;
    if (twoStars) {
        const double ax = refX2 - refX1, ay = refY2 - refY1;
        const double bx = frameX2 - frameX1, by = frameY2 - frameY1;
        const double a2 = ax * ax + ay * ay, b2 = bx * bx + by * by;
        if (a2 > 0.0 && b2 > 0.0) {
            // Rounding can carry the sine of perpendicular lines past 1.
            const double sine = std::clamp((ax * by - bx * ay) / (std::sqrt(b2) * std::sqrt(a2)), -1.0, 1.0);
            r.Angle = static_cast<float>(std::asin(sine));
        }
    }
    return r;
}

StackFrameLoader SeriesFileLoader(const std::string &prefix, int first, const std::string &extension)
{
    return [=](int k, ImageData &frame, std::string &problem) {
        const std::string path = prefix + std::to_string(k + first - 1) + "." + extension;
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) {
            problem = "Could not find file: " + ExtractFileNamePart(path);
            return false;
        }
        if (!LoadImageFile(path, frame)) {
            problem = "Could not open file: " + ExtractFileNamePart(path);
            return false;
        }
        return true;
    };
}

bool StackSeries(const ImageData &reference, int n, const StackOptions &options, const StackFrameLoader &load,
                 const StackStatus &status, ImageData &result, StackRun *run, std::string &problem)
{
    if (n < 1) {
        problem = "Last postfix index must be larger than the first postfix index.";
        return false;
    }
    const bool aligned = options.Alignment != StackAlignment::None;
    const bool twoBoxes = options.Alignment == StackAlignment::TwoBoxes;
    const bool median = options.Combine == CombineMethod::Median;
    int W = 0, H = 0;
    StackRect crop = options.Crop;
    float refX1 = 0, refY1 = 0, refX2 = 0, refY2 = 0;
    if (aligned) {
        if (reference.Empty) {
            problem = "A reference image must be loaded";
            return false;
        }
        W = reference.Width;
        H = reference.Height;
        if (!BoxStarPosition(reference, options.Box1, refX1, refY1) ||
            (twoBoxes && !BoxStarPosition(reference, options.Box2, refX2, refY2))) {
            problem = "The alignment box lies outside the reference image.";
            return false;
        }
    }

    StackRun measured;
    ImageData frame;
    UIntMatrix sum;                  // average and sum
    std::vector<UShortMatrix> bands; // median: band b holds rows b*MedianBandRows.. of every frame
    int t = 0, u = 0;
    double level1 = 1.0;
    std::vector<std::uint16_t> stored(median ? 65536 : 0); // median: sample value -> stored value
    try {
        for (int k = 1; k <= n; ++k) {
            status("Loading file: " + std::to_string(k));
            if (!load(k, frame, problem))
                return false;
            if (k == 1) {
                if (!aligned) {
                    W = frame.Width;
                    H = frame.Height;
                    crop = {0, W - 1, 0, H - 1};
                }
                crop = Clipped(crop, W, H);
                t = crop.Right - crop.Left + 1;
                u = crop.Bottom - crop.Top + 1;
                if (t < 1 || u < 1) {
                    problem = "The cropping frame lies outside the image.";
                    return false;
                }
                if (median) {
                    for (int top = 0; top < u; top += MedianBandRows)
                        bands.emplace_back(n * std::min(MedianBandRows, u - top), t);
                } else {
                    sum.Allocate(u, t);
                    sum.Fill(0);
                }
            }
            if (frame.Empty || frame.Width != W || frame.Height != H) {
                problem = DifferentSizes;
                return false;
            }
            const float bias = frame.OffsetLevel;
            StackRegistration reg;
            // The frame turns about its own star 1, which the shift then lays on the reference's
            // star 1. (Turning about a fixed point of the reference instead would leave star 1
            // off by the angle times the shift.)
            float cx = 0.0f, cy = 0.0f;
            if (aligned) {
                status("Computing shifts for file " + std::to_string(k));
                float x1 = refX1, y1 = refY1, x2 = refX2, y2 = refY2;
                BoxStarPosition(frame, options.Box1, x1, y1);
                if (twoBoxes)
                    BoxStarPosition(frame, options.Box2, x2, y2);
                reg = RegistrationOf(refX1, refY1, refX2, refY2, x1, y1, x2, y2, twoBoxes);
                cx = x1;
                cy = y1;
            }
            double factor = 1.0;
            if (!median) {
                status("Processing file " + std::to_string(k));
                SampleCrop(
                    frame, reg, cx, cy, crop, [&](int row) { return sum[row]; },
                    [](std::uint32_t &a, std::uint16_t v) { a += v; });
            } else {
                if (options.Normalize) {
                    status("Normalizing file " + std::to_string(k));
                    const double level = NormalisationLevel(frame, bias);
                    if (k == 1)
                        level1 = level == 0.0 ? 1.0 : level;
                    factor = level / level1;
                    if (factor == 0.0)
                        factor = 1.0;
                }
                const double offset = options.SubtractBias ? bias : 0.0;
                const auto slot = [&](int row) {
                    UShortMatrix &band = bands[static_cast<std::size_t>(row / MedianBandRows)];
                    const int rows = band.Rows() / n;
                    return band[(k - 1) * rows + row % MedianBandRows];
                };
                if (offset == 0.0 && factor == 1.0) {
                    SampleCrop(frame, reg, cx, cy, crop, slot,
                               [](std::uint16_t &s, std::uint16_t v) { s = v; });
                } else {
                    // The stored value of every sample value, worked out once per frame.
                    for (int v = 0; v < 65536; ++v) {
                        const double d = std::trunc((v - offset) / factor);
                        stored[static_cast<std::size_t>(v)] = d <= 0.0       ? 0
                                                              : d >= 65535.0 ? 65535
                                                                             : static_cast<std::uint16_t>(d);
                    }
                    const std::uint16_t *table = stored.data();
                    SampleCrop(frame, reg, cx, cy, crop, slot,
                               [table](std::uint16_t &s, std::uint16_t v) { s = table[v]; });
                }
            }
            measured.Registrations.push_back(reg);
            measured.Biases.push_back(bias);
            measured.Factors.push_back(factor);
        }

        ImageData &combined = frame; // keeps the last frame's header
        if (!combined.Allocate(t, u, 1)) {
            problem = "Not enough memory to stack the images.";
            return false;
        }
        if (!median) {
            const bool average = options.Combine == CombineMethod::Average;
#pragma omp parallel for schedule(static) if (static_cast <long>(t) * u >= ParallelPixels)
            for (int y = 0; y < u; ++y)
                for (int x = 0; x < t; ++x) {
                    const std::uint32_t a = sum[y][x];
                    combined.Rows[y][x] = static_cast<std::uint16_t>(
                        average ? a / static_cast<std::uint32_t>(n) : std::min<std::uint32_t>(a, 65535));
                }
            sum.Free();
        } else {
            // Index ceil(n / 2) - 1 of the ascending values: the middle one, or the lower middle one.
            const int middle = (n + 1) / 2 - 1;
            for (std::size_t b = 0; b < bands.size(); ++b) {
                UShortMatrix &band = bands[b];
                const int rows = band.Rows() / n, top = static_cast<int>(b) * MedianBandRows;
#pragma omp parallel if (static_cast <long>(t) * rows * n >= ParallelPixels)
                {
                    std::vector<std::uint16_t> values(static_cast<std::size_t>(n));
#pragma omp for schedule(static)
                    for (int r = 0; r < rows; ++r) {
                        std::uint16_t *out = combined.Rows[top + r];
                        for (int x = 0; x < t; ++x) {
                            for (int k = 0; k < n; ++k)
                                values[static_cast<std::size_t>(k)] = band[k * rows + r][x];
                            std::nth_element(values.begin(), values.begin() + middle, values.end());
                            out[x] = values[static_cast<std::size_t>(middle)];
                        }
                    }
                }
                band.Free(); // the band is done: its memory goes back at once
                status("Computing median image: " + std::to_string((top + rows) * 100 / u) + "% done.");
            }
        }
    } catch (const std::bad_alloc &) {
        problem = "Not enough memory to stack the images.";
        return false;
    }

    frame.MaxColumns = t;
    frame.MaxRows = u;
    frame.XLo = 0;
    frame.XHi = t - 1;
    frame.YLo = 0;
    frame.YHi = u - 1;
    frame.TopDark = frame.BottomDark = frame.OffsetLevel = frame.SkyLevel = 0.0f;
    frame.Gain = 1.0f;
    result = std::move(frame);
    if (run)
        *run = std::move(measured);
    return true;
}
