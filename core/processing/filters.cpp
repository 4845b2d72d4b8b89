#include "processing/filters.h"

#include "processing/row_kernels.h"

#include "ui_hooks.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#ifdef _OPENMP
#include <omp.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
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

// How many blocks of rows a frame is cut into: one on a single thread; otherwise a few per thread,
// taken in turn by whichever thread is free (so a thread the system holds back delays only its
// own block), each at least `minimumRows` high.
int RowBlocks(int height, long long pixels, int minimumRows)
{
    int threads = 1;
#ifdef _OPENMP
    if (pixels >= ParallelPixels && !omp_in_parallel())
        threads = omp_get_max_threads();
#endif
    if (threads <= 1)
        return 1;
    return std::clamp(height / std::max(minimumRows, 1), 1, 4 * threads);
}

// First row of block b of `blocks` over `height` rows.
int BlockStart(int height, int blocks, int b)
{
    return static_cast<int>(static_cast<long long>(height) * b / blocks);
}

// Counts finished rows across the threads; only the calling thread reports them.
class RowCount
{
public:
    RowCount(FilterProgress &progress, int total) : progress_(progress), total_(total) {}
    void Done(int rows)
    {
        const int done = done_.fetch_add(rows, std::memory_order_relaxed) + rows;
#ifdef _OPENMP
        if (omp_get_thread_num() != 0)
            return;
#endif
        progress_.Step(done, total_);
    }

private:
    FilterProgress &progress_;
    int total_;
    std::atomic<int> done_{0};
};

// Runs row(y, local) for y = 0 .. height - 1: blocks of rows go to the threads as they come free,
// each thread with its own working storage (makeLocal()).
template <typename MakeLocal, typename Row>
void ForEachRow(int height, long long pixels, FilterProgress &progress, MakeLocal makeLocal, Row row)
{
    const int blocks = RowBlocks(height, pixels, 16);
    RowCount count(progress, height);
#pragma omp parallel if (blocks > 1)
    {
        auto local = makeLocal();
#pragma omp for schedule(dynamic, 1) nowait
        for (int b = 0; b < blocks; ++b) {
            const int y0 = BlockStart(height, blocks, b), y1 = BlockStart(height, blocks, b + 1);
            for (int y = y0; y < y1; ++y) {
                row(y, local);
                count.Done(1);
            }
        }
    }
}

struct NoLocal {
};
NoLocal MakeNoLocal()
{
    return {};
}

// The rows of frame 0 as they were before a filter began to write over them, while one block of
// rows y0 .. y1 - 1 is written in order, in place. The rows within `reach` above and below the
// block (which other blocks write) come from copies made before any block began; each row of the
// block is kept in a ring of reach + 1 rows just before it is overwritten. So no frame-sized work
// matrix is needed.
class OriginalRows
{
public:
    // above: rows y0 - reach .. y0 - 1, below: rows y1 .. y1 + reach - 1 (those inside the image
    // are read); ring: reach + 1 rows.
    OriginalRows(const ImageData &image, int reach, int y0, int y1, const std::uint16_t *above,
                 const std::uint16_t *below, std::uint16_t *ring)
        : image_(image), width_(image.Width), reach_(reach), y0_(y0), y1_(y1), written_(y0),
          ringRows_(reach + 1), above_(above), below_(below), ring_(ring)
    {
    }
    // Row yy (0 .. height - 1, within reach of the rows still to be written) as it was.
    const std::uint16_t *Row(int yy) const
    {
        const std::size_t w = static_cast<std::size_t>(width_);
        if (yy < y0_)
            return above_ + static_cast<std::size_t>(yy - (y0_ - reach_)) * w;
        if (yy >= y1_)
            return below_ + static_cast<std::size_t>(yy - y1_) * w;
        if (yy < written_)
            return ring_ + static_cast<std::size_t>(yy % ringRows_) * w;
        return image_.FrameRow(0, yy);
    }
    // The block's first row.
    int First() const { return y0_; }
    // Keeps the next row of the block before it is written over.
    void Keep(int y)
    {
        std::memcpy(ring_ + static_cast<std::size_t>(y % ringRows_) * width_, image_.FrameRow(0, y),
                    static_cast<std::size_t>(width_) * sizeof(std::uint16_t));
        written_ = y + 1;
    }

private:
    const ImageData &image_;
    int width_, reach_, y0_, y1_, written_, ringRows_;
    const std::uint16_t *above_, *below_;
    std::uint16_t *ring_;
};

// Like ForEachRow for a neighbourhood filter of the given reach (rows above and below): row(y,
// local, original, out) computes output row y from `original` straight into row y of frame 0
// (`out`; the row as it was is kept first). Each thread makes its `local` once; a block's rows come in order,
// so `local` may carry work from one row to the next within a block (original.First() tells where a block
// begins).
template <typename MakeLocal, typename Row>
void ForEachRowInPlace(ImageData &image, int reach, FilterProgress &progress, MakeLocal makeLocal, Row row)
{
    const int width = image.Width, height = image.Height;
    const std::size_t w = static_cast<std::size_t>(width), bytes = w * sizeof(std::uint16_t);
    const int blocks = RowBlocks(height, static_cast<long long>(width) * height, 8 * reach + 8);
    // Around each inner block boundary Y, rows Y - reach .. Y + reach - 1 as they were.
    std::vector<std::uint16_t> edges(static_cast<std::size_t>(blocks - 1) * 2 * reach * w);
    RowCount count(progress, height);
#pragma omp parallel if (blocks > 1)
    {
#pragma omp for schedule(static)
        for (int b = 1; b < blocks; ++b) {
            const int boundary = BlockStart(height, blocks, b);
            for (int i = 0; i < 2 * reach; ++i)
                if (const int yy = boundary - reach + i; yy >= 0 && yy < height)
                    std::memcpy(edges.data() + (static_cast<std::size_t>(b - 1) * 2 * reach + i) * w,
                                image.FrameRow(0, yy), bytes);
        }
        // (the end of the copies is the one point every thread waits for)
        std::vector<std::uint16_t> ring(static_cast<std::size_t>(reach + 1) * w);
        auto local = makeLocal();
#pragma omp for schedule(dynamic, 1) nowait
        for (int b = 0; b < blocks; ++b) {
            const int y0 = BlockStart(height, blocks, b), y1 = BlockStart(height, blocks, b + 1);
            const std::uint16_t *above =
                b > 0 ? edges.data() + static_cast<std::size_t>(b - 1) * 2 * reach * w : nullptr;
            const std::uint16_t *below =
                b + 1 < blocks ? edges.data() + (static_cast<std::size_t>(b) * 2 + 1) * reach * w : nullptr;
            OriginalRows original(image, reach, y0, y1, above, below, ring.data());
            for (int y = y0; y < y1; ++y) {
                original.Keep(y);
                row(y, local, original, image.FrameRow(0, y));
                count.Done(1);
            }
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

// target[x] = the pixel nearest below acc[x] / norm, or below its magnitude (clamped to 0 .. 65535).
KORVI_VECTOR_CLONES
void StoreQuotients(const float *__restrict acc, float norm, bool magnitude, int width,
                    std::uint16_t *__restrict target)
{
    if (magnitude)
        for (int x = 0; x < width; ++x)
            target[x] = PixelFromFloat(std::fabs(acc[x] / norm));
    else
        for (int x = 0; x < width; ++x)
            target[x] = PixelFromFloat(acc[x] / norm);
}

// target[x] = the pixel nearest below the length of (a[x] / normA, b[x] / normB).
KORVI_VECTOR_CLONES
void StoreMagnitudes(const float *__restrict a, float normA, const float *__restrict b, float normB,
                     int width, std::uint16_t *__restrict target)
{
    for (int x = 0; x < width; ++x) {
        const float p = a[x] / normA, q = b[x] / normB;
        target[x] = PixelFromFloat(std::sqrt(p * p + q * q));
    }
}

// ---- Gaussian

// The horizontal sums of the Gaussian: out[x] = g[0] v[x] + g[1] (v[x - 1] + v[x + 1]) + ... +
// g[R] (v[x - R] + v[x + R]) for x = 0 .. width - 1 (v[-R] .. v[width + R - 1] readable). The pixel
// pairs are added as integers, which is exact. (R is fixed so that the loop over the columns is
// vectorised; inlined into each clone of its callers.)
template <int R>
__attribute__((always_inline)) inline void GaussianRowSums(const std::uint16_t *__restrict v,
                                                           const double *__restrict g, int width,
                                                           double *__restrict out)
{
    for (int x = 0; x < width; ++x) {
        double a = g[0] * v[x];
        for (int k = 1; k <= R; ++k)
            a += g[k] * (v[x - k] + v[x + k]);
        out[x] = a;
    }
}

// The vertical sum of the Gaussian in column x: g[0] centre[x] + g[1] (above[0][x] + below[0][x]) +
// ... + g[r] (above[r - 1][x] + below[r - 1][x]).
__attribute__((always_inline)) inline double GaussianColumnSum(const double *centre,
                                                               const double *const *above,
                                                               const double *const *below, const double *g,
                                                               int r, int x)
{
    double a = g[0] * centre[x];
    for (int k = 1; k <= r; ++k)
        a += g[k] * (above[k - 1][x] + below[k - 1][x]);
    return a;
}

// Whether a sum lies within `margin` of a whole number, so that rounding may have decided its
// truncation. The sums are of non-negative weights adding up to one over pixels: they lie in
// 0 .. 65535 (up to rounding), where the fraction is exact.
__attribute__((always_inline)) inline bool NearWhole(double sum, double margin)
{
    const double fraction = sum - static_cast<double>(static_cast<int>(sum));
    return fraction < margin || fraction > 1.0 - margin;
}

// The vertical sums of the Gaussian (GaussianColumnSum, R = r) truncated into target; returns
// whether any of them is NearWhole.
template <int R>
__attribute__((always_inline)) inline bool
GaussianColumnSums(const double *__restrict centre, const double *const *above, const double *const *below,
                   const double *__restrict g, int width, double margin, std::uint16_t *__restrict target)
{
    const double *__restrict l[R];
    const double *__restrict h[R];
    for (int k = 0; k < R; ++k) {
        l[k] = above[k];
        h[k] = below[k];
    }
    int found = 0;
    for (int x = 0; x < width; ++x) {
        double a = g[0] * centre[x];
        for (int k = 1; k <= R; ++k)
            a += g[k] * (l[k - 1][x] + h[k - 1][x]);
        const int whole = static_cast<int>(a);
        const double fraction = a - static_cast<double>(whole);
        found |= static_cast<int>(fraction < margin) | static_cast<int>(fraction > 1.0 - margin);
        target[x] = static_cast<std::uint16_t>(whole < 65535 ? whole : 65535);
    }
    return found != 0;
}

// The vector helpers below are inlined wherever they are used: no vector is passed between functions
// built for different targets, so GCC's note on the changed calling convention does not apply.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
// Four doubles, loaded from and stored to any address.
typedef double Doubles4 __attribute__((vector_size(32)));

__attribute__((always_inline)) inline Doubles4 LoadDoubles4(const double *p)
{
    Doubles4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// target[x] = sum[x] truncated (at most 65535); returns whether any sum is NearWhole (x = 0 .. n - 1).
__attribute__((always_inline)) inline bool TruncateSums(const double *__restrict sum, int n, double margin,
                                                        std::uint16_t *__restrict target)
{
    int found = 0;
    for (int x = 0; x < n; ++x) {
        const int whole = static_cast<int>(sum[x]);
        const double fraction = sum[x] - static_cast<double>(whole);
        found |= static_cast<int>(fraction < margin) | static_cast<int>(fraction > 1.0 - margin);
        target[x] = static_cast<std::uint16_t>(whole < 65535 ? whole : 65535);
    }
    return found != 0;
}

// The larger radii are summed along columns first, straight from the pixel rows (2r + 1 rows of
// 16 bits stay in the second-level cache, where as many rows of sums in double would not):
// out[x] = g[0] rows[r][x] + g[1] (rows[r - 1][x] + rows[r + 1][x]) + ... + g[r] (rows[0][x] +
// rows[2r][x]), each pair added as integers (exact). A few hundred columns at a time, their sums
// kept in the first-level cache while the rows go by.
KORVI_VECTOR_CLONES
void GaussianWideColumnsFirst(const std::uint16_t *const *rows, const double *g, int r, int width,
                              double *__restrict out)
{
    constexpr int Span = 512;
    for (int x0 = 0; x0 < width; x0 += Span) {
        const int span = std::min(Span, width - x0);
        double *__restrict o = out + x0;
        const std::uint16_t *__restrict c = rows[r] + x0;
        for (int i = 0; i < span; ++i)
            o[i] = g[0] * c[i];
        int k = 1;
        for (; k + 2 <= r; k += 3) { // three pairs of rows per pass over the sums, in order
            const std::uint16_t *__restrict l0 = rows[r - k] + x0, *__restrict h0 = rows[r + k] + x0;
            const std::uint16_t *__restrict l1 = rows[r - k - 1] + x0, *__restrict h1 = rows[r + k + 1] + x0;
            const std::uint16_t *__restrict l2 = rows[r - k - 2] + x0, *__restrict h2 = rows[r + k + 2] + x0;
            const double g0 = g[k], g1 = g[k + 1], g2 = g[k + 2];
            for (int i = 0; i < span; ++i)
                o[i] = ((o[i] + g0 * (l0[i] + h0[i])) + g1 * (l1[i] + h1[i])) + g2 * (l2[i] + h2[i]);
        }
        for (; k <= r; ++k) {
            const std::uint16_t *__restrict l = rows[r - k] + x0;
            const std::uint16_t *__restrict h = rows[r + k] + x0;
            const double gk = g[k];
            for (int i = 0; i < span; ++i)
                o[i] += gk * (l[i] + h[i]);
        }
    }
}

// The sum along the row of the column sums s (s[-r] .. s[width + r - 1] readable) at column x,
// in the order GaussianWideRowsTruncated adds.
__attribute__((always_inline)) inline double GaussianWideRowSum(const double *s, const double *g, int r,
                                                                int x)
{
    double a = g[0] * s[x];
    for (int k = 1; k <= r; ++k)
        a += g[k] * (s[x - k] + s[x + k]);
    return a;
}

// Then along the row, truncated into target (GaussianWideRowSum for each column); returns whether
// any sum is NearWhole. A span at a time: sixteen columns at a time in registers, then truncated.
KORVI_VECTOR_CLONES
bool GaussianWideRowsTruncated(const double *s, const double *g, int r, int width, double margin,
                               std::uint16_t *__restrict target)
{
    constexpr int Span = 512;
    double sum[Span];
    bool found = false;
    for (int x0 = 0; x0 < width; x0 += Span) {
        const int span = std::min(Span, width - x0);
        int i = 0;
        for (; i + 16 <= span; i += 16) {
            const int x = x0 + i;
            const Doubles4 g0 = Doubles4{} + g[0];
            Doubles4 a0 = g0 * LoadDoubles4(s + x), a1 = g0 * LoadDoubles4(s + x + 4),
                     a2 = g0 * LoadDoubles4(s + x + 8), a3 = g0 * LoadDoubles4(s + x + 12);
            for (int k = 1; k <= r; ++k) {
                const double *l = s + x - k, *h = s + x + k;
                const Doubles4 gk = Doubles4{} + g[k];
                a0 += gk * (LoadDoubles4(l) + LoadDoubles4(h));
                a1 += gk * (LoadDoubles4(l + 4) + LoadDoubles4(h + 4));
                a2 += gk * (LoadDoubles4(l + 8) + LoadDoubles4(h + 8));
                a3 += gk * (LoadDoubles4(l + 12) + LoadDoubles4(h + 12));
            }
            std::memcpy(sum + i, &a0, sizeof a0);
            std::memcpy(sum + i + 4, &a1, sizeof a1);
            std::memcpy(sum + i + 8, &a2, sizeof a2);
            std::memcpy(sum + i + 12, &a3, sizeof a3);
        }
        for (; i < span; ++i)
            sum[i] = GaussianWideRowSum(s, g, r, x0 + i);
        found = TruncateSums(sum, span, margin, target + x0) || found;
    }
    return found;
}

// Both passes for radii 3 and 6 (sigma 1 and 2), built for each target: with the radius fixed,
// the loops over the columns are vectorised.
#define KORVI_GAUSSIAN_ROWS(R)                                                                               \
    KORVI_VECTOR_CLONES void GaussianRowSums##R(const std::uint16_t *v, const double *g, int width,          \
                                                double *out)                                                 \
    {                                                                                                        \
        GaussianRowSums<R>(v, g, width, out);                                                                \
    }
#define KORVI_GAUSSIAN_COLUMNS(R)                                                                            \
    KORVI_VECTOR_CLONES bool GaussianColumnSums##R(const double *centre, const double *const *above,         \
                                                   const double *const *below, const double *g, int width,   \
                                                   double margin, std::uint16_t *target)                     \
    {                                                                                                        \
        return GaussianColumnSums<R>(centre, above, below, g, width, margin, target);                        \
    }
KORVI_GAUSSIAN_ROWS(3)
KORVI_GAUSSIAN_ROWS(6)
KORVI_GAUSSIAN_COLUMNS(3)
KORVI_GAUSSIAN_COLUMNS(6)
#undef KORVI_GAUSSIAN_ROWS
#undef KORVI_GAUSSIAN_COLUMNS

// The two passes of the Gaussian of radius r = min(3 sigma, 15) for r 3 and 6, with the radius
// fixed at compile time (so the loops over the columns are vectorised); none for the larger radii.
struct GaussianPasses {
    void (*rows)(const std::uint16_t *, const double *, int, double *);
    bool (*columns)(const double *, const double *const *, const double *const *, const double *, int, double,
                    std::uint16_t *);
};

GaussianPasses GaussianPassesFor(int r)
{
    if (r == 3)
        return {GaussianRowSums3, GaussianColumnSums3};
    if (r == 6)
        return {GaussianRowSums6, GaussianColumnSums6};
    return {nullptr, nullptr};
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
    // Columns summed together: the sums and the rows they read stay in the first-level cache.
    constexpr int Chunk = 512;
    struct Local {
        std::vector<float> rows;                    // padded source rows as floats, row yy in slot yy % size
        std::vector<float> sumA, sumB;              // one chunk of sums
        int next = std::numeric_limits<int>::min(); // first row not yet converted
    };
    ForEachRowInPlace(
        image, c, progress,
        [&] {
            return Local{std::vector<float>(static_cast<std::size_t>(size) * padded),
                         std::vector<float>(Chunk), std::vector<float>(Chunk)};
        },
        [&](int y, Local &local, const OriginalRows &original, std::uint16_t *target) {
            if (y == original.First())
                local.next = std::numeric_limits<int>::min();
            // Each source row is converted once, when it first comes within reach.
            for (int yy = std::max({local.next, y - c, 0}); yy <= std::min(y + c, height - 1); ++yy)
                PadRow(original.Row(yy), width, c,
                       local.rows.data() + static_cast<std::size_t>(yy % size) * padded);
            local.next = std::max(local.next, y + c + 1);
            const float *rows[5];
            for (int n = 0; n < size; ++n)
                rows[n] = local.rows.data() +
                          static_cast<std::size_t>(std::clamp(y + n - c, 0, height - 1) % size) * padded;
            // Per pixel the taps are added in the same order, from zero, whatever the chunk.
            auto sum = [&](const std::vector<Tap> &taps, float *acc, int x0, int span) {
                std::fill_n(acc, span, 0.0f);
                for (const Tap &tap : taps)
                    AccumulateTap(acc, rows[tap.n] + x0 + tap.m, tap.weight, span);
            };
            for (int x0 = 0; x0 < width; x0 += Chunk) {
                const int span = std::min(Chunk, width - x0);
                sum(tapsA, local.sumA.data(), x0, span);
                if (single || tapsB.empty()) {
                    // With no second kernel the magnitude is sqrt(a * a + 0), which in floats is |a|
                    // exactly wherever a * a neither overflows nor falls below the normal range
                    // (checked over every float); there both give 65535 or 0.
                    StoreQuotients(local.sumA.data(), normA, !single, span, target + x0);
                } else {
                    sum(tapsB, local.sumB.data(), x0, span);
                    StoreMagnitudes(local.sumA.data(), normA, local.sumB.data(), normB, span, target + x0);
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
    // taken along rows and along columns, one after the other (in double, within far less than
    // `Margin` of the direct sum). Where that sum comes so close to a whole number that
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
    const GaussianPasses passes = GaussianPassesFor(r);

    // The pixel at column x of output row y summed directly from the table, for the sums that
    // come close to a whole number.
    const auto direct = [&](const OriginalRows &original, int y, int x) {
        double value = 0.0;
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
        return PixelFromFloat(std::min(value, 65535.0));
    };
    const int window = 2 * r + 1, padded = width + 2 * r;
    if (!passes.rows) {
        // Columns first, then rows. Only rows 1 .. height - 2 and columns 1 .. width - 2
        // contribute: other rows are read as zeros, and the end columns of the column sums are
        // zero, as is their padding.
        struct Wide {
            std::vector<double> sums;         // the column sums of one output row, padded
            std::vector<std::uint16_t> zeros; // a row that adds nothing
        };
        ForEachRowInPlace(
            image, r, progress,
            [&] {
                return Wide{std::vector<double>(static_cast<std::size_t>(padded)),
                            std::vector<std::uint16_t>(static_cast<std::size_t>(width))};
            },
            [&](int y, Wide &local, const OriginalRows &original, std::uint16_t *target) {
                const std::uint16_t *rows[31];
                for (int j = -r; j <= r; ++j)
                    rows[j + r] = y + j < 1 || y + j > height - 2 ? local.zeros.data() : original.Row(y + j);
                double *s = local.sums.data() + r;
                GaussianWideColumnsFirst(rows, g + 15, r, width, s);
                s[0] = s[width - 1] = 0.0;
                if (GaussianWideRowsTruncated(s, g + 15, r, width, Margin, target))
                    for (int x = 0; x < width; ++x)
                        if (NearWhole(GaussianWideRowSum(s, g + 15, r, x), Margin))
                            target[x] = direct(original, y, x);
                if (unsharp)
                    unsharp->Apply(original.Row(y), target, width);
            });
        return;
    }
    // Rows first, each row's sums kept in a ring while they are in reach, then columns.
    struct Local {
        std::vector<double> ring;                   // horizontal sums, row yy in slot yy % window
        std::vector<std::uint16_t> row;             // one padded source row
        std::vector<double> zeros;                  // the sums of a row that adds nothing
        int next = std::numeric_limits<int>::min(); // first row whose horizontal sum is not made
    };
    ForEachRowInPlace(
        image, r, progress,
        [&] {
            return Local{std::vector<double>(static_cast<std::size_t>(window) * width),
                         std::vector<std::uint16_t>(static_cast<std::size_t>(padded)),
                         std::vector<double>(static_cast<std::size_t>(width))};
        },
        [&](int y, Local &local, const OriginalRows &original, std::uint16_t *target) {
            if (y == original.First())
                local.next = std::numeric_limits<int>::min();
            // Only rows 1 .. height - 2 and columns 1 .. width - 2 contribute; the row is padded
            // with zeros, which add nothing (the padding and the end columns stay zero).
            for (int yy = std::max({local.next, y - r, 1}); yy <= std::min(y + r, height - 2); ++yy) {
                if (width > 2)
                    std::memcpy(local.row.data() + r + 1, original.Row(yy) + 1,
                                static_cast<std::size_t>(width - 2) * sizeof(std::uint16_t));
                passes.rows(local.row.data() + r, g + 15, width,
                            local.ring.data() + static_cast<std::size_t>(yy % window) * width);
            }
            local.next = std::max(local.next, y + r + 1);
            // Rows outside 1 .. height - 2 add nothing: they are read as zeros.
            const auto sums = [&](int yy) {
                return yy < 1 || yy > height - 2
                           ? local.zeros.data()
                           : local.ring.data() + static_cast<std::size_t>(yy % window) * width;
            };
            const double *above[15], *below[15];
            for (int k = 1; k <= r; ++k) {
                above[k - 1] = sums(y - k);
                below[k - 1] = sums(y + k);
            }
            const double *centre = sums(y);
            if (passes.columns(centre, above, below, g + 15, width, Margin, target))
                for (int x = 0; x < width; ++x)
                    if (NearWhole(GaussianColumnSum(centre, above, below, g + 15, r, x), Margin))
                        target[x] = direct(original, y, x);
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
            if (y == original.First())
                local.next = std::numeric_limits<int>::min();
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
    if (n == 3) { // the common case: each window's median, minimum and maximum from sorted columns
        ForEachRowInPlace(image, 1, progress, MakeNoLocal,
                          [&](int y, NoLocal &, const OriginalRows &original, std::uint16_t *target) {
                              MedianRow3(original.Row(std::max(y - 1, 0)), original.Row(y),
                                         original.Row(std::min(y + 1, height - 1)), original.Row(y), width,
                                         factor, target);
                          });
        return;
    }
    if (n == 5) { // likewise: five sorted columns per window
        const std::size_t stride = static_cast<std::size_t>(width) + 4;
        ForEachRowInPlace(
            image, 2, progress, [&] { return std::vector<std::uint16_t>(5 * stride); },
            [&](int y, std::vector<std::uint16_t> &work, const OriginalRows &original,
                std::uint16_t *target) {
                std::uint16_t *s[5];
                for (int i = 0; i < 5; ++i)
                    s[i] = work.data() + static_cast<std::size_t>(i) * stride + 2;
                SortColumns5(original.Row(std::max(y - 2, 0)), original.Row(std::max(y - 1, 0)),
                             original.Row(y), original.Row(std::min(y + 1, height - 1)),
                             original.Row(std::min(y + 2, height - 1)), width, s[0], s[1], s[2], s[3], s[4]);
                for (std::uint16_t *column : s) { // the end columns repeated, as the edge pixels are
                    column[-2] = column[-1] = column[0];
                    column[width] = column[width + 1] = column[width - 1];
                }
                if (factor == 0.0f)
                    MedianOfSortedColumns5(s[0], s[1], s[2], s[3], s[4], width, target);
                else
                    ReplaceByMedian5(s[0], s[1], s[2], s[3], s[4], original.Row(y), width, factor, target);
            });
        return;
    }
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
    const int width = image.Width, height = image.Height;
    const std::size_t w = static_cast<std::size_t>(width);
    // Every row of every element is a run centred on the middle column: half-width 0, 1 or 2
    // (-1: the row is not used). The element's minimum is the minimum over its rows of the
    // run's minimum along that row, and the runs of a source row are worked out once.
    int reach[5];
    for (int row = 0; row < 5; ++row) {
        reach[row] = -1;
        for (int column = 0; column < 5; ++column)
            if (StructuringElementRows[element][row][column] == '1')
                reach[row] = std::max(reach[row], std::abs(column - 2));
    }
    struct Local {
        std::vector<std::uint16_t> padded; // one source row with two copies of each end value
        std::vector<std::uint16_t> runs;   // per row yy in slot yy % 5: runs of 3 (w + 2, from
                                           // column -1 on), then runs of 5 (w)
        int next = std::numeric_limits<int>::min();
    };
    const std::size_t slot = 2 * w + 2;
    const bool fives = std::find(std::begin(reach), std::end(reach), 2) != std::end(reach);
    ForEachRowInPlace(
        image, 2, progress,
        [&] {
            return Local{std::vector<std::uint16_t>(w + 4), std::vector<std::uint16_t>(5 * slot)};
        },
        [&](int y, Local &local, const OriginalRows &original, std::uint16_t *target) {
            if (y == original.First())
                local.next = std::numeric_limits<int>::min();
            for (int yy = std::max({local.next, y - 2, 0}); yy <= std::min(y + 2, height - 1); ++yy) {
                std::uint16_t *three = local.runs.data() + static_cast<std::size_t>(yy % 5) * slot,
                              *five = three + w + 2;
                PadRow(original.Row(yy), width, 2, local.padded.data());
                MinMaxOf3(local.padded.data() + 1, width + 2, minimum, three);
                if (fives)
                    MinMaxOf2(three, three + 2, width, minimum, five);
            }
            local.next = std::max(local.next, y + 3);
            const std::uint16_t *sources[5];
            int count = 0;
            for (int v = 0; v < 5; ++v) {
                if (reach[v] < 0)
                    continue;
                const int yy = std::clamp(y + v - 2, 0, height - 1);
                const std::uint16_t *three = local.runs.data() + static_cast<std::size_t>(yy % 5) * slot;
                sources[count++] = reach[v] == 0   ? original.Row(yy)
                                   : reach[v] == 1 ? three + 1
                                                   : three + w + 2;
            }
            if (count == 1) {
                std::memcpy(target, sources[0], w * sizeof(std::uint16_t));
                return;
            }
            MinMaxOf2(sources[0], sources[1], width, minimum, target);
            for (int i = 2; i < count; ++i)
                MinMaxInto(target, sources[i], width, minimum);
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

namespace
{

// A pause in a spin loop.
inline void CpuRelax()
{
#if defined(__SSE2__)
    _mm_pause();
#endif
}

// How a row of the resized image takes its values from its source row: column[i] of it.
enum class ColumnStep {
    Copy,  // column[i] == i
    Every, // column[i] == 2 i (half size)
    Table, // any other
};

ColumnStep StepOf(const std::vector<int> &column)
{
    bool copy = true, every = true;
    for (std::size_t i = 0; i < column.size(); ++i) {
        copy = copy && column[i] == static_cast<int>(i);
        every = every && column[i] == 2 * static_cast<int>(i);
    }
    return copy ? ColumnStep::Copy : every ? ColumnStep::Every : ColumnStep::Table;
}

// target[i] = source[column[i]] for i < width, reading nothing past sourceWidth values. Also right
// when the target starts at or before the source in the same block (a resize in place): every
// column[i] >= i there, so each value is read before a write reaches it.
void ResampleRow(const std::uint16_t *source, int sourceWidth, std::uint16_t *target, int width,
                 const int *column, ColumnStep step)
{
    int i = 0;
    switch (step) {
    case ColumnStep::Copy:
        if (target != source)
            std::memmove(target, source, static_cast<std::size_t>(width) * sizeof(std::uint16_t));
        return;
    case ColumnStep::Every:
#if defined(__SSE2__)
        // The values wanted are the low halves of the 32-bit lanes: sign-extended in place, they
        // pack back to 16 bits unchanged.
        for (; i + 8 <= width && 2 * i + 16 <= sourceWidth; i += 8) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source + 2 * i));
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source + 2 * i + 8));
            a = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16);
            b = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(target + i), _mm_packs_epi32(a, b));
        }
#endif
        for (; i < width; ++i)
            target[i] = source[2 * i];
        return;
    case ColumnStep::Table:
        for (; i < width; ++i)
            target[i] = source[column[i]];
        return;
    }
}

// For a resize in place (no larger in either direction, so new row j reads old row r(j) >= j):
// writing new row j overwrites old rows that only new rows up to j read; the latest of those new
// rows, q(j), is returned for every j. Row j may be written once rows up to q(j) are (q grows with
// j, and q(j) <= j: the row itself, written in order, is safe).
std::vector<int> ResizeHazards(const std::vector<int> &sourceRow, int width, int oldWidth)
{
    const int height = static_cast<int>(sourceRow.size());
    std::vector<int> latest(static_cast<std::size_t>(height));
    int reader = 0; // first new row whose old row lies past the ones row j overwrites
    for (int j = 0; j < height; ++j) {
        const long long lastOld = ((static_cast<long long>(j) + 1) * width - 1) / oldWidth;
        while (reader < height && sourceRow[reader] <= lastOld)
            ++reader;
        latest[j] = reader - 1;
    }
    return latest;
}

} // namespace

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
    std::vector<int> column(static_cast<std::size_t>(width)), sourceRow(static_cast<std::size_t>(height));
    for (int i = 0; i < width; ++i) // clamped: rounding never reads past a row
        column[i] = std::min(static_cast<int>(i / fx), oldWidth - 1);
    for (int j = 0; j < height; ++j)
        sourceRow[j] = std::min(static_cast<int>(j / fy), oldHeight - 1);
    const ColumnStep step = StepOf(column);
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    // No larger in either direction, and filling at least a quarter of the block: the new rows can
    // be written over the old ones in the same block, which is kept (no fresh pages to clear). The
    // threads take blocks of rows in order, and a block waits for the blocks before it whose old
    // rows it overwrites (ResizeHazards); that is only done when those lie well behind (at most
    // half way back), so that the threads hardly ever wait. Otherwise the rows go to a fresh block.
    const int blocks = RowBlocks(height, static_cast<long long>(pixels), 16);
    std::vector<int> hazards;
    bool inPlace = width <= oldWidth && height <= oldHeight && pixels * 4 >= image.Rows.Capacity();
    if (inPlace && blocks > 1) {
        hazards = ResizeHazards(sourceRow, width, oldWidth);
        inPlace = 2 * static_cast<long long>(hazards.back()) <= height;
    }
    // The display buffer is cut down in place when it is large enough (its alpha bytes stay 255,
    // the colours are rendered before they are shown), so only a larger image pays for a fresh one.
    UShortMatrix resized;
    const std::size_t rgbaBytes = pixels * 4;
    try {
        if (!inPlace)
            resized.Allocate(height, width);
        if (image.Rgba.size() >= rgbaBytes) {
            image.Rgba.resize(rgbaBytes);
        } else {
            PixelVector<std::uint8_t> rgba(rgbaBytes);
            FillPixelBlock(rgba.data(), 255, rgba.size());
            image.Rgba.swap(rgba);
        }
    } catch (const std::bad_alloc &) {
        return false; // the image is as it was
    }
    const auto resampleRow = [&](int j, std::uint16_t *target) {
        ResampleRow(image.Rows[sourceRow[j]], oldWidth, target, width, column.data(), step);
    };
    if (!inPlace) {
        ForEachRow(height, static_cast<long long>(pixels), progress, MakeNoLocal,
                   [&](int j, NoLocal &) { resampleRow(j, resized[j]); });
        image.Rows = std::move(resized);
    } else {
        std::uint16_t *block = image.Rows.Data();
        const auto target = [&](int j) {
            return block + static_cast<std::size_t>(j) * static_cast<std::size_t>(width);
        };
        RowCount count(progress, height);
        if (blocks <= 1) {
            for (int j = 0; j < height; ++j) // in order: every row's old rows are read by then
                resampleRow(j, target(j));
            count.Done(height);
        } else {
            std::vector<std::atomic<bool>> finished(static_cast<std::size_t>(blocks));
            for (auto &flag : finished)
                flag.store(false, std::memory_order_relaxed);
            std::atomic<int> next{0};
            const auto blockOf = [&](int row) {
                // The block holding row: the last b with BlockStart(b) <= row.
                int b = static_cast<int>(static_cast<long long>(row) * blocks / height);
                while (b + 1 < blocks && BlockStart(height, blocks, b + 1) <= row)
                    ++b;
                while (b > 0 && BlockStart(height, blocks, b) > row)
                    --b;
                return b;
            };
#pragma omp parallel
            {
                // Blocks are taken strictly in order, so every block waited for is already being
                // written by a running thread.
                for (int b = next.fetch_add(1); b < blocks; b = next.fetch_add(1)) {
                    const int y0 = BlockStart(height, blocks, b), y1 = BlockStart(height, blocks, b + 1);
                    const int needed = std::min(blockOf(hazards[y1 - 1]), b - 1);
                    // A block waited for is being written right now and takes some tens of
                    // microseconds: spun for at first (giving the processor away on a busy machine
                    // can cost a whole time slice), then yielded for.
                    for (int k = needed; k >= 0; --k)
                        for (int spin = 0;
                             !finished[static_cast<std::size_t>(k)].load(std::memory_order_acquire); ++spin)
                            if (spin < 4096)
                                CpuRelax();
                            else
                                std::this_thread::yield();
                    for (int j = y0; j < y1; ++j)
                        resampleRow(j, target(j));
                    finished[static_cast<std::size_t>(b)].store(true, std::memory_order_release);
                    count.Done(y1 - y0);
                }
            }
        }
        image.Rows.Reshape(height, width);
    }
    image.Width = width;
    image.Height = height;
    image.Frames = 1;
    image.XBin = image.YBin = 1;
    return true;
}
