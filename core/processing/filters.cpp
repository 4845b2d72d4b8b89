#include "processing/filters.h"

#include "ui_hooks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#ifdef _OPENMP
#include <omp.h>
#endif

// The row kernels are built twice, for AVX2 and for the baseline, and the loader picks one. Both
// do the same arithmetic in the same order (no fused multiply-add), so results do not depend on
// the machine. Not under the sanitizers: the loader runs the chooser before their runtimes are
// ready.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__) &&     \
    !defined(__SANITIZE_THREAD__)
#define KORVI_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KORVI_VECTOR_CLONES
#endif

const char *const StructuringElementRows[4][5] = {
    {"00000", "00100", "01110", "00100", "00000"},
    {"00000", "01110", "01110", "01110", "00000"},
    {"00100", "01110", "11111", "01110", "00100"},
    {"01110", "11111", "11111", "11111", "01110"},
};

namespace
{

// The progress window of one filter; only the calling (GUI) thread reports, and only when the
// percentage changes.
class FilterProgress
{
public:
    explicit FilterProgress(const char *text) : shown_(!SilentProcessing)
    {
        if (shown_)
            Ui().ProgressStart(text);
    }
    ~FilterProgress()
    {
        if (shown_)
            Ui().ProgressEnd();
    }
    FilterProgress(const FilterProgress &) = delete;
    FilterProgress &operator=(const FilterProgress &) = delete;
    void Step(long long done, long long total)
    {
        if (!shown_ || total <= 0)
            return;
        const int percent = static_cast<int>(done * 100 / total);
        if (percent != last_) {
            last_ = percent;
            Ui().ProgressStep(percent);
        }
    }

private:
    bool shown_;
    int last_ = -1;
};

// Below this many pixels a frame is filtered on the calling thread alone: waking the others
// costs more than it saves.
constexpr long long ParallelPixels = 32768;

// Runs row(y, local) for y = 0 .. height - 1, each thread over one contiguous run of rows with its
// own working storage (makeLocal()). The calling thread reports progress through its own run,
// which advances at the pace of the others.

template <typename MakeLocal, typename Row>
void ForEachRow(int height, long long pixels, FilterProgress &progress, MakeLocal makeLocal, Row row)
{
#pragma omp parallel if (pixels >= ParallelPixels)
    {
        int thread = 0, threads = 1;
#ifdef _OPENMP
        thread = omp_get_thread_num();
        threads = omp_get_num_threads();
#endif
        const int y0 = static_cast<int>(static_cast<long long>(height) * thread / threads);
        const int y1 = static_cast<int>(static_cast<long long>(height) * (thread + 1) / threads);
        auto local = makeLocal();
        for (int y = y0; y < y1; ++y) {
            row(y, local);
            if (thread == 0)
                progress.Step(y - y0 + 1, y1 - y0);
        }
    }
}

struct NoLocal {
};
NoLocal MakeNoLocal()
{
    return {};
}

// The rows of frame 0 as they were before a filter began to write over them, for one thread that
// writes its own run of rows y0 .. y1 - 1 in order, in place. The rows within `reach` outside the
// run (which other threads write) are kept from the start; each row of the run is kept in a ring
// of `reach` rows just before it is overwritten. So no frame-sized work matrix is needed.
class OriginalRows
{
public:
    OriginalRows(const ImageData &image, int reach, int y0, int y1)
        : image_(image), width_(image.Width), height_(image.Height), reach_(reach), y0_(y0), y1_(y1),
          written_(y0), ringRows_(std::max(reach, 1))
    {
        const std::size_t w = static_cast<std::size_t>(width_);
        top_.resize(static_cast<std::size_t>(reach) * w);
        bottom_.resize(static_cast<std::size_t>(reach) * w);
        ring_.resize(static_cast<std::size_t>(ringRows_) * w);
        for (int i = 0; i < reach; ++i) {
            if (const int above = y0 - reach + i; above >= 0 && above < height_)
                std::memcpy(top_.data() + i * w, image.FrameRow(0, above), w * sizeof(std::uint16_t));
            if (const int below = y1 + i; below < height_)
                std::memcpy(bottom_.data() + i * w, image.FrameRow(0, below), w * sizeof(std::uint16_t));
        }
    }
    // Row yy (0 .. height - 1, within reach of the rows still to be written) as it was.
    const std::uint16_t *Row(int yy) const
    {
        const std::size_t w = static_cast<std::size_t>(width_);
        if (yy < y0_)
            return top_.data() + static_cast<std::size_t>(yy - (y0_ - reach_)) * w;
        if (yy >= y1_)
            return bottom_.data() + static_cast<std::size_t>(yy - y1_) * w;
        if (yy < written_)
            return ring_.data() + static_cast<std::size_t>(yy % ringRows_) * w;
        return image_.FrameRow(0, yy);
    }
    // Writes the next row of the run.
    void Write(ImageData &image, int y, const std::uint16_t *row)
    {
        const std::size_t bytes = static_cast<std::size_t>(width_) * sizeof(std::uint16_t);
        std::memcpy(ring_.data() + static_cast<std::size_t>(y % ringRows_) * width_, image.FrameRow(0, y),
                    bytes);
        std::memcpy(image.FrameRow(0, y), row, bytes);
        written_ = y + 1;
    }

private:
    const ImageData &image_;
    int width_, height_, reach_, y0_, y1_, written_, ringRows_;
    std::vector<std::uint16_t> top_, bottom_, ring_;
};

// Like ForEachRow for a neighbourhood filter of the given reach (rows above and below): row(y,
// local, original, out) computes output row y into `out` from `original`; it is then written over
// frame 0.
template <typename MakeLocal, typename Row>
void ForEachRowInPlace(ImageData &image, int reach, FilterProgress &progress, MakeLocal makeLocal, Row row)
{
    const int width = image.Width, height = image.Height;
#pragma omp parallel if (static_cast <long long>(width) * height >= ParallelPixels)
    {
        int thread = 0, threads = 1;
#ifdef _OPENMP
        thread = omp_get_thread_num();
        threads = omp_get_num_threads();
#endif
        const int y0 = static_cast<int>(static_cast<long long>(height) * thread / threads);
        const int y1 = static_cast<int>(static_cast<long long>(height) * (thread + 1) / threads);
        OriginalRows original(image, reach, y0, y1);
        auto local = makeLocal();
        std::vector<std::uint16_t> out(static_cast<std::size_t>(width));
#pragma omp barrier
        for (int y = y0; y < y1; ++y) {
            row(y, local, original, out.data());
            original.Write(image, y, out.data());
            if (thread == 0)
                progress.Step(y - y0 + 1, y1 - y0);
        }
    }
}

// Row `source` with `pad` copies of its end values on each side, converted to T.
template <typename T> void PadRow(const std::uint16_t *source, int width, int pad, T *padded)
{
    for (int i = 0; i < pad; ++i) {
        padded[i] = static_cast<T>(source[0]);
        padded[pad + width + i] = static_cast<T>(source[width - 1]);
    }
    for (int x = 0; x < width; ++x)
        padded[pad + x] = static_cast<T>(source[x]);
}

// ---- convolution

struct Tap {
    int m, n;
    float weight;
};

KORVI_VECTOR_CLONES
void AccumulateTap(float *__restrict acc, const float *__restrict source, float weight, int width)
{
    for (int x = 0; x < width; ++x)
        acc[x] += weight * source[x];
}

// ---- Gaussian

KORVI_VECTOR_CLONES
void AccumulateTapDouble(double *__restrict acc, const double *__restrict source, double weight, int width)
{
    for (int x = 0; x < width; ++x)
        acc[x] += weight * source[x];
}

// ---- minimum / maximum

KORVI_VECTOR_CLONES
void MinInto(std::uint16_t *__restrict acc, const std::uint16_t *__restrict source, int width)
{
    for (int x = 0; x < width; ++x)
        acc[x] = std::min(acc[x], source[x]);
}

KORVI_VECTOR_CLONES
void MaxInto(std::uint16_t *__restrict acc, const std::uint16_t *__restrict source, int width)
{
    for (int x = 0; x < width; ++x)
        acc[x] = std::max(acc[x], source[x]);
}

// ---- median

// A compare-exchange of the selection network: position `low` gets the smaller value (when the
// smaller is needed), `high` the larger (when needed).
struct Exchange {
    int low, high;
    bool keepLow, keepHigh;
};

// Batcher's odd-even merge sort for `count` values padded to a power of two with the largest
// value, pruned to what the minimum, the median and the maximum need.
std::vector<Exchange> SelectionNetwork(int count)
{
    int size = 1;
    while (size < count)
        size <<= 1;
    std::vector<std::pair<int, int>> sort;
    for (int p = 1; p < size; p <<= 1)
        for (int k = p; k >= 1; k >>= 1)
            for (int j = k % p; j + k < size; j += 2 * k)
                for (int i = 0; i < std::min(k, size - j - k); ++i)
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p) && i + j + k < count)
                        sort.push_back({i + j, i + j + k}); // the padding never moves: dropped
    std::vector<char> needed(static_cast<std::size_t>(count), 0);
    needed[0] = needed[count / 2] = needed[count - 1] = 1;
    std::vector<Exchange> network;
    for (auto it = sort.rbegin(); it != sort.rend(); ++it) {
        const bool low = needed[it->first], high = needed[it->second];
        if (!low && !high)
            continue;
        network.push_back({it->first, it->second, low, high});
        needed[it->first] = needed[it->second] = 1;
    }
    std::reverse(network.begin(), network.end());
    return network;
}

KORVI_VECTOR_CLONES
void ExchangeColumns(std::uint16_t *__restrict a, std::uint16_t *__restrict b, int width, bool keepLow,
                     bool keepHigh)
{
    if (keepLow && keepHigh) {
        for (int x = 0; x < width; ++x) {
            const std::uint16_t lo = std::min(a[x], b[x]), hi = std::max(a[x], b[x]);
            a[x] = lo;
            b[x] = hi;
        }
    } else if (keepLow) {
        for (int x = 0; x < width; ++x)
            a[x] = std::min(a[x], b[x]);
    } else {
        for (int x = 0; x < width; ++x)
            b[x] = std::max(a[x], b[x]);
    }
}

// ---- local average

KORVI_VECTOR_CLONES
void AddChords(std::uint32_t *__restrict sum, const std::uint32_t *__restrict prefix, int from, int to,
               int half)
{
    // Columns whose chord lies inside the row: prefix[x + half + 1] - prefix[x - half].
    for (int x = from; x < to; ++x)
        sum[x] += prefix[x + half + 1] - prefix[x - half];
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Convolution

bool IsSingleKernel(bool fiveByFive, const ConvolutionKernels &kernels)
{
    const int size = fiveByFive ? 5 : 3, c = size / 2;
    for (int m = 0; m < size; ++m)
        for (int n = 0; n < size; ++n)
            if (kernels.Cell[m][n][0] != 0.0f && m != c && n != c)
                return false;
    return true;
}

void ApplyConvolution(ImageData &image, bool fiveByFive, const ConvolutionKernels &kernels)
{
    if (image.Empty)
        return;
    FilterProgress progress("Applying convolution...");
    const int size = fiveByFive ? 5 : 3, c = size / 2;
    const int width = image.Width, height = image.Height;
    const bool single = IsSingleKernel(fiveByFive, kernels);
    float normA = 0.0f, normB = 0.0f;
    std::vector<Tap> tapsA, tapsB; // column-major order, zero weights add nothing
    for (int m = 0; m < size; ++m)
        for (int n = 0; n < size; ++n) {
            const float a = kernels.Cell[m][n][0], b = kernels.Cell[m][n][1];
            normA += a;
            normB += b;
            if (a != 0.0f)
                tapsA.push_back({m, n, a});
            if (b != 0.0f)
                tapsB.push_back({m, n, b});
        }
    if (!(normA > 0.0f))
        normA = 1.0f;
    if (!(normB > 0.0f))
        normB = 1.0f;

    const int padded = width + 2 * c;
    struct Local {
        std::vector<float> rows, sumA, sumB;
    };
    ForEachRowInPlace(
        image, c, progress,
        [&] {
            return Local{std::vector<float>(static_cast<std::size_t>(size) * padded),
                         std::vector<float>(static_cast<std::size_t>(width)),
                         std::vector<float>(static_cast<std::size_t>(width))};
        },
        [&](int y, Local &local, const OriginalRows &original, std::uint16_t *target) {
            for (int n = 0; n < size; ++n)
                PadRow(original.Row(std::clamp(y + n - c, 0, height - 1)), width, c,
                       local.rows.data() + static_cast<std::size_t>(n) * padded);
            auto sum = [&](const std::vector<Tap> &taps, float *acc) {
                std::fill_n(acc, width, 0.0f);
                for (const Tap &tap : taps)
                    AccumulateTap(acc, local.rows.data() + static_cast<std::size_t>(tap.n) * padded + tap.m,
                                  tap.weight, width);
            };
            sum(tapsA, local.sumA.data());
            if (single) {
                for (int x = 0; x < width; ++x)
                    target[x] = PixelFromFloat(local.sumA[x] / normA);
            } else {
                sum(tapsB, local.sumB.data());
                for (int x = 0; x < width; ++x) {
                    const float a = local.sumA[x] / normA, b = local.sumB[x] / normB;
                    target[x] = PixelFromFloat(std::sqrt(a * a + b * b));
                }
            }
        });
}

// ---------------------------------------------------------------------------------------------
// Gaussian convolution

void GaussianWeightTable(int sigma, double (&weights)[31][31])
{
    const double twoSigmaSquared = 2.0 * sigma * sigma;
    double total = 0.0;
    for (int i = 0; i < 31; ++i)
        for (int j = 0; j < 31; ++j) {
            weights[i][j] = std::exp(-((i - 15) * (i - 15) + (j - 15) * (j - 15)) / twoSigmaSquared);
            total += weights[i][j];
        }
    for (auto &column : weights)
        for (double &w : column)
            w /= total;
}

namespace
{

// The last step of the unsharp mask, applied to each blurred row in place of storing it.
struct UnsharpStep {
    int offset, amount;
    float weight;
    // pixel = trunc(amount x (O + offset - blurred) + weight x O): the product in integers, the
    // sum in floating point.
    void Apply(const std::uint16_t *original, std::uint16_t *blurred, int width) const
    {
        for (int x = 0; x < width; ++x) {
            const int sharp = amount * (original[x] + offset - blurred[x]);
            blurred[x] = PixelFromFloat(static_cast<float>(sharp) + weight * static_cast<float>(original[x]));
        }
    }
};

void GaussianBlur(ImageData &image, int sigma, const char *text, const UnsharpStep *unsharp)
{
    sigma = std::max(sigma, 1);
    FilterProgress progress(text);
    const int width = image.Width, height = image.Height;
    const int r = std::min(3 * sigma, 15);
    double table[31][31];
    GaussianWeightTable(sigma, table);
    // The table is a product of one-dimensional weights, g(i) g(j), up to rounding: the sum is
    // taken along rows, then along columns. Where that sum comes so close to a whole number that
    // rounding could decide its truncation, the pixel is summed directly from the table.
    const double twoSigmaSquared = 2.0 * sigma * sigma;
    double total = 0.0;
    for (int i = 0; i < 31; ++i)
        for (int j = 0; j < 31; ++j)
            total += std::exp(-((i - 15) * (i - 15) + (j - 15) * (j - 15)) / twoSigmaSquared);
    double g[31];
    for (int i = 0; i < 31; ++i)
        g[i] = std::exp(-((i - 15) * (i - 15)) / twoSigmaSquared) / std::sqrt(total);
    constexpr double Margin = 1e-6;

    const int window = 2 * r + 1, padded = width + 2 * r;
    struct Local {
        std::vector<double> ring;                   // horizontal sums, row yy in slot yy % window
        std::vector<double> row;                    // one padded source row
        std::vector<double> sum;                    // the vertical sum of one output row
        int next = std::numeric_limits<int>::min(); // first row whose horizontal sum is not made
    };
    ForEachRowInPlace(
        image, r, progress,
        [&] {
            return Local{std::vector<double>(static_cast<std::size_t>(window) * width),
                         std::vector<double>(static_cast<std::size_t>(padded)),
                         std::vector<double>(static_cast<std::size_t>(width))};
        },
        [&](int y, Local &local, const OriginalRows &original, std::uint16_t *target) {
            // Only rows 1 .. height - 2 and columns 1 .. width - 2 contribute; the row is padded
            // with zeros, which add nothing.
            for (int yy = std::max({local.next, y - r, 1}); yy <= std::min(y + r, height - 2); ++yy) {
                double *h = local.ring.data() + static_cast<std::size_t>(yy % window) * width;
                std::fill_n(h, width, 0.0);
                std::fill(local.row.begin(), local.row.end(), 0.0);
                const std::uint16_t *source = original.Row(yy);
                for (int x = 1; x <= width - 2; ++x)
                    local.row[static_cast<std::size_t>(x + r)] = source[x];
                for (int i = -r; i <= r; ++i)
                    AccumulateTapDouble(h, local.row.data() + r + i, g[i + 15], width);
            }
            local.next = std::max(local.next, y + r + 1);
            std::fill(local.sum.begin(), local.sum.end(), 0.0);
            for (int j = -r; j <= r; ++j) {
                const int yy = y + j;
                if (yy < 1 || yy > height - 2)
                    continue;
                AccumulateTapDouble(local.sum.data(),
                                    local.ring.data() + static_cast<std::size_t>(yy % window) * width,
                                    g[j + 15], width);
            }
            for (int x = 0; x < width; ++x) {
                double value = local.sum[x];
                const double fraction = value - std::floor(value);
                if (fraction < Margin || fraction > 1.0 - Margin) {
                    value = 0.0;
                    for (int i = -r; i <= r; ++i) {
                        const int xx = x + i;
                        if (xx < 1 || xx > width - 2)
                            continue;
                        for (int j = -r; j <= r; ++j) {
                            const int yy = y + j;
                            if (yy >= 1 && yy <= height - 2)
                                value += table[i + 15][j + 15] * original.Row(yy)[xx];
                        }
                    }
                }
                target[x] = PixelFromFloat(std::min(value, 65535.0));
            }
            if (unsharp)
                unsharp->Apply(original.Row(y), target, width);
        });
}

void LocalAverage(ImageData &image, int radius, const char *text, const UnsharpStep *unsharp)
{
    FilterProgress progress(text);
    const int width = image.Width, height = image.Height;
    // Half-length of the disc's chord at each row offset.
    std::vector<int> half(static_cast<std::size_t>(radius) + 1);
    for (int dy = 0; dy <= radius; ++dy) {
        int h = 0;
        while ((h + 1) * (h + 1) + dy * dy <= radius * radius)
            ++h;
        half[dy] = h;
    }
    const int window = 2 * radius + 1;
    struct Local {
        std::vector<std::uint32_t> prefix; // running sums of rows, row yy in slot yy % window
        std::vector<std::uint32_t> sum, count;
        int next = std::numeric_limits<int>::min();
    };
    ForEachRowInPlace(
        image, radius, progress,
        [&] {
            return Local{std::vector<std::uint32_t>(static_cast<std::size_t>(window) * (width + 1)),
                         std::vector<std::uint32_t>(static_cast<std::size_t>(width)),
                         std::vector<std::uint32_t>(static_cast<std::size_t>(width))};
        },
        [&](int y, Local &local, const OriginalRows &original, std::uint16_t *target) {
            // Running sums along each row (modulo 2^32: a chord's sum is far below it).
            for (int yy = std::max({local.next, y - radius, 0}); yy <= std::min(y + radius, height - 1);
                 ++yy) {
                std::uint32_t *p = local.prefix.data() + static_cast<std::size_t>(yy % window) * (width + 1);
                const std::uint16_t *row = original.Row(yy);
                p[0] = 0;
                for (int x = 0; x < width; ++x)
                    p[x + 1] = p[x] + row[x];
            }
            local.next = std::max(local.next, y + radius + 1);
            std::fill(local.sum.begin(), local.sum.end(), 0u);
            std::fill(local.count.begin(), local.count.end(), 0u);
            for (int dy = -radius; dy <= radius; ++dy) {
                const int yy = y + dy;
                if (yy < 0 || yy >= height)
                    continue;
                const int h = half[std::abs(dy)];
                const std::uint32_t *p =
                    local.prefix.data() + static_cast<std::size_t>(yy % window) * (width + 1);
                const int inFrom = std::min(h, width), inTo = std::max(inFrom, width - h);
                for (int x = 0; x < inFrom; ++x) {
                    const int lo = std::max(0, x - h), hi = std::min(width - 1, x + h);
                    local.sum[x] += p[hi + 1] - p[lo];
                    local.count[x] += static_cast<std::uint32_t>(hi - lo + 1);
                }
                AddChords(local.sum.data(), p, inFrom, inTo, h);
                for (int x = inFrom; x < inTo; ++x)
                    local.count[x] += static_cast<std::uint32_t>(2 * h + 1);
                for (int x = inTo; x < width; ++x) {
                    const int lo = std::max(0, x - h), hi = std::min(width - 1, x + h);
                    local.sum[x] += p[hi + 1] - p[lo];
                    local.count[x] += static_cast<std::uint32_t>(hi - lo + 1);
                }
            }
            for (int x = 0; x < width; ++x) // exact: the quotient is far from rounding up
                target[x] = static_cast<std::uint16_t>(static_cast<double>(local.sum[x]) /
                                                       static_cast<double>(local.count[x]));
            if (unsharp)
                unsharp->Apply(original.Row(y), target, width);
        });
}

} // namespace

void ApplyGaussianConvolution(ImageData &image, int sigma)
{
    if (!image.Empty)
        GaussianBlur(image, sigma, "Applying gaussian convolution...", nullptr);
}

// ---------------------------------------------------------------------------------------------
// Point operations

void ApplyHistogramEqualization(ImageData &image, const float *table)
{
    if (image.Empty)
        return;
    FilterProgress progress("Applying histogram equalization...");
    const int width = image.Width;
    ForEachRow(image.Height, static_cast<long long>(width) * image.Height, progress, MakeNoLocal,
               [&](int y, NoLocal &) {
                   std::uint16_t *row = image.FrameRow(0, y);
                   for (int x = 0; x < width; ++x)
                       row[x] = PixelFromFloat(table[row[x]]);
               });
}

void ClipImage(ImageData &image, int high, int low)
{
    if (image.Empty)
        return;
    FilterProgress progress("Thresholding...");
    const int width = image.Width;
    ForEachRow(image.Height, static_cast<long long>(width) * image.Height, progress, MakeNoLocal,
               [&](int y, NoLocal &) {
                   std::uint16_t *row = image.FrameRow(0, y);
                   for (int x = 0; x < width; ++x) {
                       int v = row[x];
                       if (v > high)
                           v = high;
                       if (v < low)
                           v = low;
                       row[x] = static_cast<std::uint16_t>(std::clamp(v, 0, 65535));
                   }
               });
}

void SubtractThreshold(ImageData &image, int t)
{
    if (image.Empty)
        return;
    FilterProgress progress("Thresholding...");
    const int width = image.Width;
    ForEachRow(image.Height, static_cast<long long>(width) * image.Height, progress, MakeNoLocal,
               [&](int y, NoLocal &) {
                   std::uint16_t *row = image.FrameRow(0, y);
                   for (int x = 0; x < width; ++x)
                       row[x] =
                           static_cast<std::uint16_t>(std::clamp(static_cast<int>(row[x]) - t, 0, 65535));
               });
}

void FindRegionMinMax(const ImageData &image, int &minimum, int &maximum, int x0, int y0, int x1, int y1)
{
    minimum = 65535;
    maximum = 0;
    if (image.Empty)
        return;
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, image.Width - 1);
    y1 = std::min(y1, image.Height - 1);
    for (int y = y0; y <= y1; ++y) {
        const std::uint16_t *row = image.FrameRow(0, y);
        for (int x = x0; x <= x1; ++x) {
            minimum = std::min<int>(minimum, row[x]);
            maximum = std::max<int>(maximum, row[x]);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Local average

void ApplyLocalAverage(ImageData &image, int radius)
{
    if (!image.Empty && radius > 0)
        LocalAverage(image, radius, "Applying local average...", nullptr);
}

// ---------------------------------------------------------------------------------------------
// Median

void ApplyMedianFilter(ImageData &image, int n, float factor)
{
    if (image.Empty || n < 2)
        return; // a one-pixel window is its own median
    FilterProgress progress("Applying median filter...");
    const int width = image.Width, height = image.Height;
    const int half = n / 2, count = n * n, padded = width + 2 * half;
    const std::vector<Exchange> network = SelectionNetwork(count);
    // Columns handled together: the window's values for them stay in the first-level cache.
    const int chunk = std::max(16, (8192 / count) & ~15);
    struct Local {
        std::vector<std::uint16_t> rows;   // n padded source rows
        std::vector<std::uint16_t> values; // count x chunk window values
    };
    ForEachRowInPlace(
        image, half, progress,
        [&] {
            return Local{std::vector<std::uint16_t>(static_cast<std::size_t>(n) * padded),
                         std::vector<std::uint16_t>(static_cast<std::size_t>(count) * chunk)};
        },
        [&](int y, Local &local, const OriginalRows &original, std::uint16_t *target) {
            for (int v = 0; v < n; ++v)
                PadRow(original.Row(std::clamp(y + v - half, 0, height - 1)), width, half,
                       local.rows.data() + static_cast<std::size_t>(v) * padded);
            const std::uint16_t *source = original.Row(y);
            for (int x0 = 0; x0 < width; x0 += chunk) {
                const int span = std::min(chunk, width - x0);
                for (int u = 0; u < n; ++u)
                    for (int v = 0; v < n; ++v)
                        std::memcpy(local.values.data() + static_cast<std::size_t>(u * n + v) * chunk,
                                    local.rows.data() + static_cast<std::size_t>(v) * padded + x0 + u,
                                    static_cast<std::size_t>(span) * sizeof(std::uint16_t));
                for (const Exchange &e : network)
                    ExchangeColumns(local.values.data() + static_cast<std::size_t>(e.low) * chunk,
                                    local.values.data() + static_cast<std::size_t>(e.high) * chunk, span,
                                    e.keepLow, e.keepHigh);
                const std::uint16_t *lowest = local.values.data();
                const std::uint16_t *median =
                    local.values.data() + static_cast<std::size_t>(count / 2) * chunk;
                const std::uint16_t *highest =
                    local.values.data() + static_cast<std::size_t>(count - 1) * chunk;
                for (int i = 0; i < span; ++i) {
                    const int pixel = source[x0 + i], m = median[i];
                    const float spread = static_cast<float>(highest[i] - lowest[i]);
                    target[x0 + i] = static_cast<float>(std::abs(pixel - m)) > spread * factor
                                         ? static_cast<std::uint16_t>(m)
                                         : static_cast<std::uint16_t>(pixel);
                }
            }
        });
}

// ---------------------------------------------------------------------------------------------
// Minimum / maximum

void ApplyMinMaxFilter(int element, bool minimum, ImageData &image)
{
    if (image.Empty || element < 0 || element > 3)
        return;
    FilterProgress progress("Applying filter...");
    const int width = image.Width, height = image.Height, padded = width + 4;
    std::vector<std::pair<int, int>> cells; // (column offset + 2, row index 0..4)
    for (int row = 0; row < 5; ++row)
        for (int column = 0; column < 5; ++column)
            if (StructuringElementRows[element][row][column] == '1')
                cells.push_back({column, row});
    ForEachRowInPlace(
        image, 2, progress, [&] { return std::vector<std::uint16_t>(static_cast<std::size_t>(5) * padded); },
        [&](int y, std::vector<std::uint16_t> &rows, const OriginalRows &original, std::uint16_t *target) {
            for (int v = 0; v < 5; ++v)
                PadRow(original.Row(std::clamp(y + v - 2, 0, height - 1)), width, 2,
                       rows.data() + static_cast<std::size_t>(v) * padded);
            std::fill_n(target, width, minimum ? std::uint16_t{65535} : std::uint16_t{0});
            for (const auto &[column, row] : cells) {
                const std::uint16_t *source = rows.data() + static_cast<std::size_t>(row) * padded + column;
                if (minimum)
                    MinInto(target, source, width);
                else
                    MaxInto(target, source, width);
            }
        });
}

// ---------------------------------------------------------------------------------------------
// Unsharp mask

void ApplyUnsharpMask(ImageData &image, int sigma, int radius, int offset, int amount, float weight,
                      bool useGaussian)
{
    if (image.Empty)
        return;
    // One pass: each blurred row is turned into its output row at once.
    const UnsharpStep step{offset, amount, weight};
    if (useGaussian)
        GaussianBlur(image, sigma, "Applying unsharp mask...", &step);
    else
        LocalAverage(image, std::max(radius, 0), "Applying unsharp mask...", &step);
}

// ---------------------------------------------------------------------------------------------
// Resize

bool ResizeImage(double fx, double fy, ImageData &image)
{
    if (image.Empty || !(fx > 0.0) || !(fy > 0.0))
        return false;
    const double newWidth = std::ceil(image.Width * fx), newHeight = std::ceil(image.Height * fy);
    if (newWidth > 1 << 20 || newHeight > 1 << 20)
        return false;
    const int width = static_cast<int>(newWidth), height = static_cast<int>(newHeight);
    const int oldWidth = image.Width, oldHeight = image.Height;
    FilterProgress progress("Resizing image...");
    std::vector<int> column(static_cast<std::size_t>(width));
    for (int i = 0; i < width; ++i) // clamped: rounding never reads past a row
        column[i] = std::min(static_cast<int>(i / fx), oldWidth - 1);
    // The old pixels are kept aside while the image gets its new storage.
    UShortMatrix old = std::move(image.Rows);
    const int oldFrames = image.Frames;
    image.Empty = true;
    if (!image.Allocate(width, height, 1)) {
        // Put back as it was (the display buffer is rebuilt by the next render).
        image.Rows = std::move(old);
        image.Width = oldWidth;
        image.Height = oldHeight;
        image.Frames = oldFrames;
        image.Rgba.assign(image.Rows.Size() * 4, 255);
        image.Empty = false;
        return false;
    }
    ForEachRow(height, static_cast<long long>(width) * height, progress, MakeNoLocal, [&](int j, NoLocal &) {
        const std::uint16_t *source = old[std::min(static_cast<int>(j / fy), oldHeight - 1)];
        std::uint16_t *target = image.FrameRow(0, j);
        for (int i = 0; i < width; ++i)
            target[i] = source[column[i]];
    });
    image.XBin = image.YBin = 1;
    return true;
}
