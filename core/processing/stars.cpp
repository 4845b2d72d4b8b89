#include "processing/stars.h"

#include "processing/row_kernels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace
{

// Clamps the extent of a call to the matrix it names; false when nothing is left.
bool ClampExtent(const UShortMatrix &rows, int &w, int &h)
{
    w = std::min(w, rows.Columns());
    h = std::min(h, rows.Rows());
    return w > 0 && h > 0;
}

// The first maximum of a column-by-column scan (rows upwards within a column) that starts from
// `start` and takes only strictly greater values. The scan runs row by row for the cache: among
// equal values the one of the lowest column wins, then (by the row order) the lowest row.
bool FirstMaximum(const UShortMatrix &rows, int w, int h, long start, int &bx, int &by)
{
    long best = start;
    bx = by = -1;
    for (int y = 0; y < h; ++y) {
        const std::uint16_t *row = rows[y];
        for (int x = 0; x < w; ++x) {
            const long v = row[x];
            if (v > best || (v == best && bx >= 0 && x < bx)) {
                best = v;
                bx = x;
                by = y;
            }
        }
    }
    return bx >= 0;
}

// Inclusive window lo .. hi of half-width `half` around centre, clamped to 0 .. size - 1.
void Window(int centre, int half, int size, int &lo, int &hi)
{
    lo = std::clamp(centre - half, 0, size - 1);
    hi = std::clamp(centre + half, 0, size - 1);
}

// Least-squares search for the width of a background-free profile: the first sigma, from `start`
// in single-precision steps of 0.01 while below 15, whose gaussian amplitude x exp(-((i - c) /
// sigma)^2) fits the profile best.
float FitGaussianSigma(const double *profile, int n, double centre, double amplitude, float start)
{
    double bestError = std::numeric_limits<double>::infinity();
    float bestSigma = start;
    for (float sigma = start; sigma < 15.0f; sigma += 0.01f) {
        double error = 0.0;
        for (int i = 0; i < n; ++i) {
            const double t = (i - centre) / sigma;
            const double d = profile[i] - amplitude * std::exp(-t * t);
            error += d * d;
        }
        if (error < bestError) {
            bestError = error;
            bestSigma = sigma;
        }
    }
    return bestSigma;
}

// Takes the minimum off a profile and returns its centroid (the centre when nothing is left) and
// its range (maximum - minimum).
double FlattenProfile(double *profile, int n, double &range)
{
    double low = 100000000.0, high = -10000000.0;
    for (int i = 0; i < n; ++i) {
        low = std::min(low, profile[i]);
        high = std::max(high, profile[i]);
    }
    range = high - low;
    double sum = 0.0, moment = 0.0;
    for (int i = 0; i < n; ++i) {
        profile[i] -= low;
        sum += profile[i];
        moment += i * profile[i];
    }
    return sum > 0.0 ? moment / sum : (n - 1) / 2.0;
}

// Gaussian blur of sigma 3 of a small matrix: the normalised 31 x 31 weight table applied over
// radius 9, leaving out neighbours in the first and last column and row; the sum is lowered to
// 65535 and truncated.
void GaussianBlurSigma3(const UShortMatrix &source, UShortMatrix &target)
{
    constexpr int Sigma = 3, Half = 15, Radius = std::min(3 * Sigma, Half);
    static const std::array<double, (2 * Radius + 1) * (2 * Radius + 1)> weights = [] {
        double total = 0.0;
        for (int i = -Half; i <= Half; ++i)
            for (int j = -Half; j <= Half; ++j)
                total += std::exp(-(i * i + j * j) / (2.0 * Sigma * Sigma));
        std::array<double, (2 * Radius + 1) * (2 * Radius + 1)> w{};
        for (int j = -Radius; j <= Radius; ++j)
            for (int i = -Radius; i <= Radius; ++i)
                w[(j + Radius) * (2 * Radius + 1) + (i + Radius)] =
                    std::exp(-(i * i + j * j) / (2.0 * Sigma * Sigma)) / total;
        return w;
    }();
    const int w = source.Columns(), h = source.Rows();
    target.Allocate(h, w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double sum = 0.0;
            for (int j = std::max(y - Radius, 1); j <= std::min(y + Radius, h - 2); ++j)
                for (int i = std::max(x - Radius, 1); i <= std::min(x + Radius, w - 2); ++i)
                    sum += weights[(j - y + Radius) * (2 * Radius + 1) + (i - x + Radius)] * source[j][i];
            target[y][x] = static_cast<std::uint16_t>(std::min(sum, 65535.0));
        }
}

// The 3 x 3 median of one row with coordinates clamped to the matrix (the row kernel repeats the
// edge columns).
void MedianRow3(const UShortMatrix &rows, int h, int w, int y, std::uint16_t *out)
{
    const std::uint16_t *row = rows[y];
    ::MedianRow3(rows[std::max(y - 1, 0)], row, rows[std::min(y + 1, h - 1)], row, w, 0.0f, out);
}

} // namespace

bool FindBrightestPixel(const UShortMatrix &rows, int w, int h, float &x, float &y)
{
    int bx = 0, by = 0;
    const bool found = ClampExtent(rows, w, h) && FirstMaximum(rows, w, h, 0, bx, by);
    if (!found) {
        bx = std::max(w, 0) / 2;
        by = std::max(h, 0) / 2;
    }
    x = static_cast<float>(bx);
    y = static_cast<float>(by);
    return found;
}

void MedianFilterMatrix(const UShortMatrix &source, int n, int w, int h, UShortMatrix &target)
{
    if (!ClampExtent(source, w, h)) {
        target.Free();
        return;
    }
    n = std::max(n, 1);
    // The target's storage is reused when it has the size (a fresh block costs a page fault per
    // page); a target that is the source gets a new block.
    UShortMatrix fresh;
    UShortMatrix &result = &target == &source ? fresh : target;
    if (result.Rows() != h || result.Columns() != w)
        result.Allocate(h, w);
    if (n == 3) { // the common case (star finding over whole frames) through sorted columns
#pragma omp parallel for schedule(dynamic, 16) if (static_cast <long>(w) * h >= 65536)
        for (int y = 0; y < h; ++y)
            MedianRow3(source, h, w, y, result[y]);
    } else {
        const int lo = -(n / 2), hi = n - 1 - n / 2, middle = n * n / 2;
#pragma omp parallel if (static_cast <long>(w) * h >= 65536)
        {
            std::vector<std::uint16_t> window(static_cast<std::size_t>(n) * n); // one per thread
#pragma omp for schedule(static)
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    std::size_t k = 0;
                    for (int v = lo; v <= hi; ++v) {
                        const std::uint16_t *row = source[std::clamp(y + v, 0, h - 1)];
                        for (int u = lo; u <= hi; ++u)
                            window[k++] = row[std::clamp(x + u, 0, w - 1)];
                    }
                    std::nth_element(window.begin(), window.begin() + middle, window.end());
                    result[y][x] = window[middle];
                }
        }
    }
    if (&result == &fresh)
        target = std::move(fresh);
}

void FindStarCentroid(const UShortMatrix &rows, int w, int h, float &x, float &y)
{
    if (!ClampExtent(rows, w, h)) {
        x = y = 0.0f;
        return;
    }
    // The median copy is made a row at a time and never stored whole: each block of rows keeps
    // its first maximum (the largest value, among equal values the lowest column, then the lowest
    // row, as FirstMaximum finds it), the blocks are merged in order, and the rows of the window
    // are made again.
    constexpr int BlockRows = 32;
    struct Best {
        int value = -1, x = -1, y = -1;
    };
    const int blocks = (h + BlockRows - 1) / BlockRows;
    std::vector<Best> best(static_cast<std::size_t>(blocks));
#pragma omp parallel if (static_cast <long>(w) * h >= 65536)
    {
        std::vector<std::uint16_t> out(static_cast<std::size_t>(w));
#pragma omp for schedule(dynamic, 1)
        for (int b = 0; b < blocks; ++b) {
            Best found;
            for (int row = b * BlockRows; row < std::min(h, (b + 1) * BlockRows); ++row) {
                MedianRow3(rows, h, w, row, out.data());
                const int peak = RowMaximum(out.data(), w);
                if (peak < found.value)
                    continue;
                const int column = static_cast<int>(std::find(out.begin(), out.end(), peak) - out.begin());
                if (peak > found.value || column < found.x)
                    found = {peak, column, row};
            }
            best[static_cast<std::size_t>(b)] = found;
        }
    }
    Best found = best[0];
    for (const Best &b : best)
        if (b.value > found.value || (b.value == found.value && b.x < found.x))
            found = b;
    const int bx = found.x, by = found.y;
    std::vector<std::uint16_t> out(static_cast<std::size_t>(w));
    double sum = 0.0, sumX = 0.0, sumY = 0.0;
    for (int row = std::max(by - 6, 1); row <= std::min(by + 6, h - 1); ++row) {
        MedianRow3(rows, h, w, row, out.data());
        for (int column = std::max(bx - 6, 1); column <= std::min(bx + 6, w - 1); ++column) {
            const double v = out[static_cast<std::size_t>(column)];
            sum += v;
            sumX += column * v;
            sumY += row * v;
        }
    }
    x = static_cast<float>(sum > 0.0 ? sumX / sum : bx);
    y = static_cast<float>(sum > 0.0 ? sumY / sum : by);
}

void MeasureStarFwhm(const UShortMatrix &rows, int w, int h, float cx, float cy, float &fwhmX, float &fwhmY)
{
    fwhmX = fwhmY = 0.0f;
    if (!ClampExtent(rows, w, h) || !std::isfinite(cx) || !std::isfinite(cy))
        return;
    int x0, x1, y0, y1;
    Window(static_cast<int>(std::clamp(cx, -1.0e6f, 1.0e6f)), 10, w, x0, x1);
    Window(static_cast<int>(std::clamp(cy, -1.0e6f, 1.0e6f)), 10, h, y0, y1);
    const int nx = x1 - x0 + 1, ny = y1 - y0 + 1;
    std::array<double, 21> columns{}, rowSums{};
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            columns[x - x0] += rows[y][x];
            rowSums[y - y0] += rows[y][x];
        }
    double rangeX, rangeY;
    const double centreX = FlattenProfile(columns.data(), nx, rangeX);
    const double centreY = FlattenProfile(rowSums.data(), ny, rangeY);
    fwhmX = FitGaussianSigma(columns.data(), nx, centreX, rangeX, 1.0f) * 0.832f * 2.0f;
    fwhmY = FitGaussianSigma(rowSums.data(), ny, centreY, rangeY, 0.2f) * 0.832f * 2.0f;
}

float ProfileCentroid(const float *values, int n)
{
    if (n <= 0)
        return 0.0f;
    float low = 1.0e38f;
    for (int i = 0; i < n; ++i)
        low = std::min(low, values[i]);
    double sum = 0.0, moment = 0.0;
    for (int i = 0; i < n; ++i) {
        sum += values[i] - low;
        moment += static_cast<double>(i) * (values[i] - low);
    }
    return static_cast<float>(sum > 0.0 ? moment / sum : (n - 1) / 2.0);
}

void RefineStarCentroid(const ImageData &image, float &x, float &y)
{
    if (image.Empty || image.Width <= 0 || image.Height <= 0 || !std::isfinite(x) || !std::isfinite(y))
        return;
    int x0, x1, y0, y1;
    Window(static_cast<int>(std::clamp(x, -1.0e6f, 1.0e6f)), 10, image.Width, x0, x1);
    Window(static_cast<int>(std::clamp(y, -1.0e6f, 1.0e6f)), 10, image.Height, y0, y1);
    const int w = x1 - x0 + 1, h = y1 - y0 + 1;
    UShortMatrix cut(h, w);
    for (int row = 0; row < h; ++row)
        std::copy_n(image.Rows[y0 + row] + x0, w, cut[row]);
    UShortMatrix median, blurred;
    MedianFilterMatrix(cut, 3, w, h, median);
    // The sky is taken off first: left in, its light (which the blur leaves as a dome over the
    // cut-out) would pull the centroid towards the cut-out's centre, the pixel the refinement
    // starts from, by up to a good part of a pixel. The star covers far less than half of the
    // cut-out, so the median of its pixels is the sky.
    std::vector<std::uint16_t> values;
    values.reserve(static_cast<std::size_t>(w) * h);
    for (int row = 0; row < h; ++row)
        values.insert(values.end(), median[row], median[row] + w);
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    const std::uint16_t sky = *middle;
    for (int row = 0; row < h; ++row)
        for (int column = 0; column < w; ++column) {
            std::uint16_t &v = median[row][column];
            v = v > sky ? static_cast<std::uint16_t>(v - sky) : std::uint16_t{0};
        }
    GaussianBlurSigma3(median, blurred);
    double sum = 0.0, sumX = 0.0, sumY = 0.0;
    for (int row = 0; row < h; ++row)
        for (int column = 0; column < w; ++column) {
            const double v = blurred[row][column];
            sum += v;
            sumX += column * v;
            sumY += row * v;
        }
    if (sum > 0.0) {
        x = static_cast<float>(sumX / sum + x0);
        y = static_cast<float>(sumY / sum + y0);
    }
}

// ---------------------------------------------------------------------------------------------
// Resampling

TransformSampler::TransformSampler(const ImageData &image, const ImageTransform &t)
    : rows_(image.Empty ? nullptr : image.Rows.RowTable()), width_(image.Empty ? 0 : image.Width),
      height_(image.Empty ? 0 : image.Height)
{
    const double c = std::cos(static_cast<double>(t.angle)), s = std::sin(static_cast<double>(t.angle));
    const double kx = t.kx == 0.0f ? 1.0 : t.kx, ky = t.ky == 0.0f ? 1.0 : t.ky;
    const double ox = static_cast<double>(t.tx) + t.rx, oy = static_cast<double>(t.ty) + t.ry;
    x0_ = t.rx + (-ox * c + oy * s) / kx;
    xx_ = c / kx;
    xy_ = -s / kx;
    y0_ = t.ry + (-oy * c - ox * s) / ky;
    yx_ = s / ky;
    yy_ = c / ky;
}

std::uint16_t TransformSampler::SampleAt(double X, double Y) const
{
    // The negated tests also turn away NaN.
    if (!(X >= 0.0 && X < width_ && Y >= 0.0 && Y < height_))
        return 0;
    const int i = static_cast<int>(X), j = static_cast<int>(Y);
    const double fx = X - i, fy = Y - j;
    const int i1 = i + 1 < width_ ? i + 1 : i, j1 = j + 1 < height_ ? j + 1 : j;
    const std::uint16_t *row0 = rows_[j], *row1 = rows_[j1];
    const double v = (1.0 - fx) * (1.0 - fy) * row0[i] + (1.0 - fx) * fy * row1[i] +
                     fx * (1.0 - fy) * row0[i1] + fx * fy * row1[i1];
    return v <= 0.0 ? 0 : v >= 65535.0 ? 65535 : static_cast<std::uint16_t>(v);
}

std::uint16_t SampleTransformedPixel(const ImageData &image, float x, float y, float tx, float ty,
                                     float angle, float rx, float ry, float kx, float ky)
{
    return TransformSampler(image, {tx, ty, angle, rx, ry, kx, ky}).Sample(x, y);
}

void ResampleFrame(const ImageData &image, const ImageTransform &transform, UShortMatrix &target)
{
    if (image.Empty || image.Width <= 0 || image.Height <= 0) {
        target.Free();
        return;
    }
    const int w = image.Width, h = image.Height;
    if (target.Rows() != h || target.Columns() != w)
        target.Allocate(h, w);
    const TransformSampler sampler(image, transform);
#pragma omp parallel for schedule(static) if (static_cast <long>(w) * h >= 65536)
    for (int y = 0; y < h; ++y) {
        const double X0 = sampler.RowX(y), Y0 = sampler.RowY(y);
        std::uint16_t *out = target[y];
        for (int x = 0; x < w; ++x)
            out[x] = sampler.SampleAt(X0 + x * sampler.xx_, Y0 + x * sampler.yx_);
    }
}

bool CropImage(ImageData &image, int x0, int y0, int x1, int y1)
{
    if (image.Empty || image.Width <= 0 || image.Height <= 0)
        return false;
    const int left = std::clamp(std::min(x0, x1), 0, image.Width - 1);
    const int right = std::clamp(std::max(x0, x1), 0, image.Width - 1);
    const int top = std::clamp(std::min(y0, y1), 0, image.Height - 1);
    const int bottom = std::clamp(std::max(y0, y1), 0, image.Height - 1);
    const int width = right - left + 1, height = bottom - top + 1;
    UShortMatrix cropped(height, width);
    for (int y = 0; y < height; ++y)
        std::copy_n(image.Rows[top + y] + left, width, cropped[y]);
    if (!image.Allocate(width, height, 1))
        return false;
    image.CopyPixelsFrom(cropped);
    image.XLo = left;
    image.YLo = top;
    image.XHi = left + width - 1;
    image.YHi = top + height - 1;
    image.ShiftX += static_cast<float>(left);
    image.ShiftY += static_cast<float>(top);
    return true;
}
