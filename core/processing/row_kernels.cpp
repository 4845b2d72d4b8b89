#include "processing/row_kernels.h"

#include <algorithm>
#include <cstdlib>

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

} // namespace

KORVI_ROW_CLONES
void SortColumns3(const std::uint16_t *__restrict a, const std::uint16_t *__restrict b,
                  const std::uint16_t *__restrict c, int n, std::uint16_t *__restrict lo,
                  std::uint16_t *__restrict mid, std::uint16_t *__restrict hi)
{
    for (int x = 0; x < n; ++x) {
        const std::uint16_t p = a[x], q = b[x], r = c[x];
        const std::uint16_t low = std::min(p, q), high = std::max(p, q);
        lo[x] = std::min(low, r);
        hi[x] = std::max(high, r);
        mid[x] = std::max(low, std::min(high, r));
    }
}

KORVI_ROW_CLONES
void MedianOfSortedColumns3(const std::uint16_t *__restrict lo, const std::uint16_t *__restrict mid,
                            const std::uint16_t *__restrict hi, int n, std::uint16_t *__restrict out)
{
    for (int x = 0; x < n; ++x) {
        const std::uint16_t low = std::max(std::max(lo[x - 1], lo[x]), lo[x + 1]);
        const std::uint16_t high = std::min(std::min(hi[x - 1], hi[x]), hi[x + 1]);
        out[x] = Middle3(low, Middle3(mid[x - 1], mid[x], mid[x + 1]), high);
    }
}

KORVI_ROW_CLONES
void ReplaceByMedian3(const std::uint16_t *__restrict lo, const std::uint16_t *__restrict mid,
                      const std::uint16_t *__restrict hi, const std::uint16_t *__restrict pixel, int n,
                      float factor, std::uint16_t *__restrict out)
{
    for (int x = 0; x < n; ++x) {
        const std::uint16_t low = std::max(std::max(lo[x - 1], lo[x]), lo[x + 1]);
        const std::uint16_t high = std::min(std::min(hi[x - 1], hi[x]), hi[x + 1]);
        const std::uint16_t m = Middle3(low, Middle3(mid[x - 1], mid[x], mid[x + 1]), high);
        const std::uint16_t minimum = std::min(std::min(lo[x - 1], lo[x]), lo[x + 1]);
        const std::uint16_t maximum = std::max(std::max(hi[x - 1], hi[x]), hi[x + 1]);
        const int p = pixel[x];
        const float spread = static_cast<float>(maximum - minimum);
        out[x] = static_cast<float>(std::abs(p - m)) > spread * factor ? m : static_cast<std::uint16_t>(p);
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
