#include "quick_equalization.h"

#include <algorithm>
#include <cstdint>
#include <vector>

bool QuickEqualizeLayer(ImageData &layer)
{
    if (layer.Empty)
        return false;
    const int width = layer.Width, height = layer.Height;
    std::vector<std::int64_t> count(65536, 0);
    for (int y = 0; y < height; ++y) {
        const std::uint16_t *row = layer.FrameRow(0, y);
        for (int x = 0; x < width; ++x)
            ++count[row[x]];
    }
    int lo = 0, hi = 65535;
    while (count[lo] == 0)
        ++lo;
    while (count[hi] == 0)
        --hi;
    // below[v]: pixels below level v, for lo <= v <= hi.
    std::vector<std::uint16_t> map(65536, 0);
    std::int64_t below = 0;
    std::vector<std::int64_t> cumulative(static_cast<std::size_t>(hi - lo) + 1);
    for (int v = lo; v <= hi; ++v) {
        cumulative[v - lo] = below;
        below += count[v];
    }
    const std::int64_t total = cumulative[hi - lo];
    if (total > 0)
        for (int v = lo; v <= hi; ++v)
            map[v] = static_cast<std::uint16_t>(static_cast<double>(hi) * cumulative[v - lo] / total);
    const long long pixels = static_cast<long long>(width) * height;
#pragma omp parallel for schedule(static) if (pixels >= 32768)
    for (int y = 0; y < height; ++y) {
        std::uint16_t *row = layer.FrameRow(0, y);
        for (int x = 0; x < width; ++x)
            row[x] = map[row[x]];
    }
    layer.Modified = true;
    return true;
}
