#pragma once
// Row kernels shared by the pixel filters and the star measurement: short loops over one or a few
// rows of 16-bit pixels that the compiler turns into vector code. Each is built for AVX2 and for
// the baseline and the loader picks one; both give the same results (integer minima and maxima,
// or float arithmetic in a fixed order without fused multiply-add).
#include <cstdint>

// One row of the 3 x 3 median filter, edge pixels repeated: a, b, c are the rows above, at and
// below (n values each), pixel the row as it was. With factor 0 out[x] is each window's median;
// otherwise pixel[x] becomes the window's median m when |pixel - m| > (maximum - minimum) x factor
// (in float), and stays otherwise. The columns of the three rows are sorted a span at a time, and
// the median of the nine is the middle of: the largest of the three lows, the middle of the three
// middles, the smallest of the three highs.
void MedianRow3(const std::uint16_t *a, const std::uint16_t *b, const std::uint16_t *c,
                const std::uint16_t *pixel, int n, float factor, std::uint16_t *out);

// out[x] = the minimum (or maximum) of source[x - 1], source[x], source[x + 1], x = 0 .. n - 1.
void MinMaxOf3(const std::uint16_t *source, int n, bool minimum, std::uint16_t *out);
// out[x] = the minimum (or maximum) of a[x] and b[x].
void MinMaxOf2(const std::uint16_t *a, const std::uint16_t *b, int n, bool minimum, std::uint16_t *out);
// acc[x] = the minimum (or maximum) of acc[x] and source[x].
void MinMaxInto(std::uint16_t *acc, const std::uint16_t *source, int n, bool minimum);
// The largest of values[0 .. n - 1] (n >= 1).
int RowMaximum(const std::uint16_t *values, int n);

// Sorts each column of five rows: s0[x] <= s1[x] <= ... <= s4[x] are the values of a[x] .. e[x].
void SortColumns5(const std::uint16_t *a, const std::uint16_t *b, const std::uint16_t *c,
                  const std::uint16_t *d, const std::uint16_t *e, int n, std::uint16_t *s0, std::uint16_t *s1,
                  std::uint16_t *s2, std::uint16_t *s3, std::uint16_t *s4);
// The median of each 5 x 5 window from sorted columns (SortColumns5): out[x] is the middle of the 25
// values in columns x - 2 .. x + 2 (so s_i[-2] .. s_i[n + 1] must be readable; x = 0 .. n - 1).
void MedianOfSortedColumns5(const std::uint16_t *s0, const std::uint16_t *s1, const std::uint16_t *s2,
                            const std::uint16_t *s3, const std::uint16_t *s4, int n, std::uint16_t *out);
// As MedianOfSortedColumns5, for the median filter: pixel[x] becomes the window's median m when
// |pixel - m| > (maximum - minimum) x factor (in float), and stays otherwise.
void ReplaceByMedian5(const std::uint16_t *s0, const std::uint16_t *s1, const std::uint16_t *s2,
                      const std::uint16_t *s3, const std::uint16_t *s4, const std::uint16_t *pixel, int n,
                      float factor, std::uint16_t *out);
