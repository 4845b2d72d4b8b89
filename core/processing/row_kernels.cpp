#include "processing/row_kernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

// Not under the sanitizers: the loader runs the chooser before their runtimes are ready.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__) &&     \
    !defined(__SANITIZE_THREAD__)
#define KORVI_ROW_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KORVI_ROW_CLONES
#endif

namespace
{

inline std::uint16_t Middle3(std::uint16_t a, std::uint16_t b, std::uint16_t c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// The vector helpers below are inlined wherever they are used: no vector is passed between functions
// built for different targets, so GCC's note on the changed calling convention does not apply.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
// Sixteen pixels in one vector (two halves on targets with 16-byte vectors), loaded from and stored
// to any address.
typedef std::uint16_t Pixels16 __attribute__((vector_size(32)));
typedef std::int16_t Masks16 __attribute__((vector_size(32)));
typedef float Floats16 __attribute__((vector_size(64)));

__attribute__((always_inline)) inline Pixels16 Load16(const std::uint16_t *p)
{
    Pixels16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
__attribute__((always_inline)) inline void Store16(std::uint16_t *p, Pixels16 v)
{
    std::memcpy(p, &v, sizeof v);
}
__attribute__((always_inline)) inline Pixels16 Min16(Pixels16 a, Pixels16 b)
{
    return a < b ? a : b;
}
__attribute__((always_inline)) inline Pixels16 Max16(Pixels16 a, Pixels16 b)
{
    return a < b ? b : a;
}
__attribute__((always_inline)) inline Pixels16 Middle16(Pixels16 a, Pixels16 b, Pixels16 c)
{
    return Max16(Min16(a, b), Min16(Max16(a, b), c));
}

// The median, minimum and maximum of the sixteen windows whose sorted columns start at lo - 1,
// mid - 1, hi - 1.
__attribute__((always_inline)) inline void Windows16(const std::uint16_t *lo, const std::uint16_t *mid,
                                                     const std::uint16_t *hi, Pixels16 &median,
                                                     Pixels16 &minimum, Pixels16 &maximum)
{
    const Pixels16 l0 = Load16(lo - 1), l1 = Load16(lo), l2 = Load16(lo + 1);
    const Pixels16 h0 = Load16(hi - 1), h1 = Load16(hi), h2 = Load16(hi + 1);
    const Pixels16 low = Max16(Max16(l0, l1), l2), high = Min16(Min16(h0, h1), h2);
    median = Middle16(low, Middle16(Load16(mid - 1), Load16(mid), Load16(mid + 1)), high);
    minimum = Min16(Min16(l0, l1), l2);
    maximum = Max16(Max16(h0, h1), h2);
}

// The median filter's choice: the median where |pixel - median| > (maximum - minimum) x factor,
// compared in float, otherwise the pixel.
__attribute__((always_inline)) inline std::uint16_t Replace(int p, int m, int minimum, int maximum,
                                                            float factor)
{
    const float spread = static_cast<float>(maximum - minimum);
    return static_cast<float>(std::abs(p - m)) > spread * factor ? static_cast<std::uint16_t>(m)
                                                                 : static_cast<std::uint16_t>(p);
}

// The median of each 3 x 3 window from sorted columns: out[x] is the middle of the nine values in
// columns x - 1, x and x + 1 (lo[-1] .. lo[n] readable), the middle of the largest of the three
// lows, the middle of the three middles and the smallest of the three highs. ReplaceSpan3: as the
// median filter chooses, the median m where |pixel - m| > (maximum - minimum) x factor.
__attribute__((always_inline)) inline void MedianSpan3(const std::uint16_t *lo, const std::uint16_t *mid,
                                                       const std::uint16_t *hi, int n, std::uint16_t *out)
{
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        Pixels16 median, minimum, maximum;
        Windows16(lo + x, mid + x, hi + x, median, minimum, maximum);
        Store16(out + x, median);
    }
    for (; x < n; ++x) {
        const std::uint16_t low = std::max(std::max(lo[x - 1], lo[x]), lo[x + 1]);
        const std::uint16_t high = std::min(std::min(hi[x - 1], hi[x]), hi[x + 1]);
        out[x] = Middle3(low, Middle3(mid[x - 1], mid[x], mid[x + 1]), high);
    }
}

__attribute__((always_inline)) inline void ReplaceSpan3(const std::uint16_t *lo, const std::uint16_t *mid,
                                                        const std::uint16_t *hi, const std::uint16_t *pixel,
                                                        int n, float factor, std::uint16_t *out)
{
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        Pixels16 m, minimum, maximum;
        Windows16(lo + x, mid + x, hi + x, m, minimum, maximum);
        const Pixels16 p = Load16(pixel + x);
        // |p - m| and the spread are exact in 16 bits, and exact in float.
        const Floats16 distance = __builtin_convertvector(p < m ? m - p : p - m, Floats16);
        const Floats16 spread = __builtin_convertvector(maximum - minimum, Floats16);
        const Masks16 take = __builtin_convertvector(distance > spread * factor, Masks16);
        Store16(out + x, take ? m : p);
    }
    for (; x < n; ++x) {
        const std::uint16_t low = std::max(std::max(lo[x - 1], lo[x]), lo[x + 1]);
        const std::uint16_t high = std::min(std::min(hi[x - 1], hi[x]), hi[x + 1]);
        const std::uint16_t m = Middle3(low, Middle3(mid[x - 1], mid[x], mid[x + 1]), high);
        const std::uint16_t minimum = std::min(std::min(lo[x - 1], lo[x]), lo[x + 1]);
        const std::uint16_t maximum = std::max(std::max(hi[x - 1], hi[x]), hi[x + 1]);
        out[x] = Replace(pixel[x], m, minimum, maximum, factor);
    }
}

// Sorts the columns from .. to - 1 of three rows into lo, mid, hi (indexed from `from`).
__attribute__((always_inline)) inline void SortSpan3(const std::uint16_t *a, const std::uint16_t *b,
                                                     const std::uint16_t *c, int from, int to,
                                                     std::uint16_t *lo, std::uint16_t *mid, std::uint16_t *hi)
{
    int x = from;
    for (; x + 16 <= to; x += 16) {
        const Pixels16 p = Load16(a + x), q = Load16(b + x), r = Load16(c + x);
        // Row c is the one read here for the first time (a and b were read for the rows before):
        // asking for it 4 KB ahead hides the memory's latency. (The address is worked out as a
        // number: past the row's end it may point anywhere, and a prefetch never faults.)
        __builtin_prefetch(reinterpret_cast<const void *>(reinterpret_cast<std::uintptr_t>(c + x) + 4096));
        const Pixels16 low = Min16(p, q), high = Max16(p, q);
        Store16(lo + (x - from), Min16(low, r));
        Store16(hi + (x - from), Max16(high, r));
        Store16(mid + (x - from), Max16(low, Min16(high, r)));
    }
    for (; x < to; ++x) {
        const std::uint16_t p = a[x], q = b[x], r = c[x];
        const std::uint16_t low = std::min(p, q), high = std::max(p, q);
        lo[x - from] = std::min(low, r);
        hi[x - from] = std::max(high, r);
        mid[x - from] = std::max(low, std::min(high, r));
    }
}

} // namespace

KORVI_ROW_CLONES
void MedianRow3(const std::uint16_t *a, const std::uint16_t *b, const std::uint16_t *c,
                const std::uint16_t *pixel, int n, float factor, std::uint16_t *out)
{
    // A few hundred columns at a time: their sorted columns stay in the first-level cache between
    // the two steps. Each span is sorted with one column on either side (the edge column repeated
    // at the ends of the row).
    constexpr int Span = 512;
    std::uint16_t lo[Span + 2], mid[Span + 2], hi[Span + 2];
    for (int x0 = 0; x0 < n; x0 += Span) {
        const int span = std::min(Span, n - x0);
        const int from = std::max(x0 - 1, 0), to = std::min(x0 + span + 1, n);
        const int skip = from - (x0 - 1); // 1 at the start of the row, where column -1 repeats column 0
        SortSpan3(a, b, c, from, to, lo + skip, mid + skip, hi + skip);
        if (skip) {
            lo[0] = lo[1];
            mid[0] = mid[1];
            hi[0] = hi[1];
        }
        if (x0 + span == n) {
            lo[span + 1] = lo[span];
            mid[span + 1] = mid[span];
            hi[span + 1] = hi[span];
        }
        if (factor == 0.0f)
            MedianSpan3(lo + 1, mid + 1, hi + 1, span, out + x0);
        else
            ReplaceSpan3(lo + 1, mid + 1, hi + 1, pixel + x0, span, factor, out + x0);
    }
}

KORVI_ROW_CLONES
void MinMaxOf3(const std::uint16_t *__restrict source, int n, bool minimum, std::uint16_t *__restrict out)
{
    if (minimum)
        for (int x = 0; x < n; ++x)
            out[x] = std::min(std::min(source[x - 1], source[x]), source[x + 1]);
    else
        for (int x = 0; x < n; ++x)
            out[x] = std::max(std::max(source[x - 1], source[x]), source[x + 1]);
}

KORVI_ROW_CLONES
void MinMaxOf2(const std::uint16_t *__restrict a, const std::uint16_t *__restrict b, int n, bool minimum,
               std::uint16_t *__restrict out)
{
    if (minimum)
        for (int x = 0; x < n; ++x)
            out[x] = std::min(a[x], b[x]);
    else
        for (int x = 0; x < n; ++x)
            out[x] = std::max(a[x], b[x]);
}

KORVI_ROW_CLONES
void MinMaxInto(std::uint16_t *__restrict acc, const std::uint16_t *__restrict source, int n, bool minimum)
{
    if (minimum)
        for (int x = 0; x < n; ++x)
            acc[x] = std::min(acc[x], source[x]);
    else
        for (int x = 0; x < n; ++x)
            acc[x] = std::max(acc[x], source[x]);
}

KORVI_ROW_CLONES
int RowMaximum(const std::uint16_t *__restrict values, int n)
{
    std::uint16_t peak = 0;
    for (int x = 0; x < n; ++x)
        peak = std::max(peak, values[x]);
    return peak;
}

namespace
{

inline void Exchange(std::uint16_t &a, std::uint16_t &b)
{
    const std::uint16_t low = std::min(a, b);
    b = std::max(a, b);
    a = low;
}

// The minimum, median and maximum of the 5 x 5 window whose columns s0[x - 2 + j] .. s4[x - 2 + j]
// (j = 0 .. 4) are sorted. Each rank row s_i[x - 2] .. s_i[x + 2] is sorted in turn (the columns stay
// sorted); then a value at row i, place j has (i + 1)(j + 1) - 1 values at or below it and
// (5 - i)(5 - j) - 1 at or above it, so six of the 25 lie below the median and six above, and the
// median of the window is the median of the other 13. Only the places that can matter are sorted.
// (inlined: the loops over x that call it are vectorised)
__attribute__((always_inline)) inline void Window5(const std::uint16_t *s0, const std::uint16_t *s1,
                                                   const std::uint16_t *s2, const std::uint16_t *s3,
                                                   const std::uint16_t *s4, int x, std::uint16_t &minimum,
                                                   std::uint16_t &median, std::uint16_t &maximum)
{
    std::uint16_t a0 = s0[x - 2], a1 = s0[x - 1], a2 = s0[x], a3 = s0[x + 1], a4 = s0[x + 2];
    std::uint16_t b0 = s1[x - 2], b1 = s1[x - 1], b2 = s1[x], b3 = s1[x + 1], b4 = s1[x + 2];
    std::uint16_t c0 = s2[x - 2], c1 = s2[x - 1], c2 = s2[x], c3 = s2[x + 1], c4 = s2[x + 2];
    std::uint16_t d0 = s3[x - 2], d1 = s3[x - 1], d2 = s3[x], d3 = s3[x + 1], d4 = s3[x + 2];
    std::uint16_t e0 = s4[x - 2], e1 = s4[x - 1], e2 = s4[x], e3 = s4[x + 1], e4 = s4[x + 2];
    // Rank row 0: places 0, 3, 4; row 1: 2, 3, 4; row 2: 1, 2, 3; row 3: 0, 1, 2; row 4: 0, 1, 4.
    Exchange(a0, a1);
    Exchange(a2, a3);
    Exchange(a0, a2);
    Exchange(a1, a3);
    a2 = std::max(a1, a2);
    Exchange(a0, a4);
    a4 = std::max(a2, a4);
    Exchange(a3, a4);
    Exchange(b0, b1);
    Exchange(b2, b3);
    Exchange(b0, b2);
    Exchange(b1, b3);
    Exchange(b1, b2);
    b4 = std::max(b0, b4);
    Exchange(b2, b4);
    b2 = std::max(b1, b2);
    Exchange(b3, b4);
    Exchange(c0, c1);
    Exchange(c2, c3);
    Exchange(c0, c2);
    Exchange(c1, c3);
    Exchange(c1, c2);
    c4 = std::max(c0, c4);
    Exchange(c2, c4);
    Exchange(c1, c2);
    c3 = std::min(c3, c4);
    Exchange(d0, d1);
    Exchange(d2, d3);
    Exchange(d0, d2);
    d1 = std::min(d1, d3);
    Exchange(d1, d2);
    Exchange(d0, d4);
    d2 = std::min(d2, d4);
    Exchange(d1, d2);
    Exchange(e0, e1);
    Exchange(e2, e3);
    Exchange(e0, e2);
    Exchange(e1, e3);
    Exchange(e1, e2);
    Exchange(e0, e4);
    Exchange(e2, e4);
    e1 = std::min(e1, e2);
    e4 = std::max(e3, e4);
    minimum = a0;
    maximum = e4;
    // The median of a3 a4 b2 b3 b4 c1 c2 c3 d0 d1 d2 e0 e1 (pairs already in order are not exchanged).
    Exchange(b4, c1);
    Exchange(d2, e0);
    Exchange(a3, b2);
    Exchange(a4, b3);
    Exchange(b4, c2);
    Exchange(c1, c3);
    Exchange(d0, d2);
    Exchange(d1, e0);
    Exchange(a4, b2);
    Exchange(c1, c2);
    Exchange(d1, d2);
    Exchange(a3, b4);
    Exchange(a4, c1);
    Exchange(b2, c2);
    b3 = std::min(b3, c3);
    Exchange(d0, e1);
    Exchange(b2, b4);
    Exchange(b3, c1);
    Exchange(d2, e1);
    Exchange(a4, b2);
    Exchange(b3, b4);
    Exchange(c1, c2);
    Exchange(d1, d2);
    Exchange(e0, e1);
    d0 = std::max(a3, d0);
    d1 = std::max(a4, d1);
    d2 = std::max(b2, d2);
    b3 = std::min(b3, e0);
    b4 = std::min(b4, e1);
    d0 = std::max(b4, d0);
    c1 = std::min(c1, d1);
    c2 = std::min(c2, d2);
    c1 = std::max(b3, c1);
    c2 = std::min(c2, d0);
    c2 = std::max(c1, c2);
    median = c2;
}

} // namespace

KORVI_ROW_CLONES
void SortColumns5(const std::uint16_t *__restrict a, const std::uint16_t *__restrict b,
                  const std::uint16_t *__restrict c, const std::uint16_t *__restrict d,
                  const std::uint16_t *__restrict e, int n, std::uint16_t *__restrict s0,
                  std::uint16_t *__restrict s1, std::uint16_t *__restrict s2, std::uint16_t *__restrict s3,
                  std::uint16_t *__restrict s4)
{
    for (int x = 0; x < n; ++x) {
        std::uint16_t p = a[x], q = b[x], r = c[x], s = d[x], t = e[x];
        Exchange(p, q);
        Exchange(r, s);
        Exchange(p, r);
        Exchange(q, s);
        Exchange(q, r);
        Exchange(p, t);
        Exchange(r, t);
        Exchange(q, r);
        Exchange(s, t);
        s0[x] = p;
        s1[x] = q;
        s2[x] = r;
        s3[x] = s;
        s4[x] = t;
    }
}

KORVI_ROW_CLONES
void MedianOfSortedColumns5(const std::uint16_t *__restrict s0, const std::uint16_t *__restrict s1,
                            const std::uint16_t *__restrict s2, const std::uint16_t *__restrict s3,
                            const std::uint16_t *__restrict s4, int n, std::uint16_t *__restrict out)
{
    for (int x = 0; x < n; ++x) {
        std::uint16_t minimum, median, maximum;
        Window5(s0, s1, s2, s3, s4, x, minimum, median, maximum);
        out[x] = median;
    }
}

KORVI_ROW_CLONES
void ReplaceByMedian5(const std::uint16_t *__restrict s0, const std::uint16_t *__restrict s1,
                      const std::uint16_t *__restrict s2, const std::uint16_t *__restrict s3,
                      const std::uint16_t *__restrict s4, const std::uint16_t *__restrict pixel, int n,
                      float factor, std::uint16_t *__restrict out)
{
    for (int x = 0; x < n; ++x) {
        std::uint16_t minimum, m, maximum;
        Window5(s0, s1, s2, s3, s4, x, minimum, m, maximum);
        const int p = pixel[x];
        const float spread = static_cast<float>(maximum - minimum);
        out[x] = static_cast<float>(std::abs(p - m)) > spread * factor ? m : static_cast<std::uint16_t>(p);
    }
}
