#include "image_render.h"

#include <cmath>
#include <cstring>
#include <vector>

double ClampZoom(double zoom)
{
    if (!(zoom == zoom))
        return 1.0;
    if (zoom < MinimumZoom)
        return MinimumZoom;
    if (zoom > MaximumZoom)
        return MaximumZoom;
    return zoom;
}

const float *StandardLogScaleTable()
{
    // Built once on first use; constant afterwards.
    static const std::vector<float> table = [] {
        std::vector<float> t(65536);
        t[0] = 0.0f;
        for (int i = 1; i < 65536; ++i)
            t[i] = static_cast<float>(std::log10(static_cast<double>(i)));
        return t;
    }();
    return table.data();
}

namespace
{

// Converts a mapped value to a palette index without undefined behaviour for values far outside
// the int range (huge gains, NaN levels).
template <typename Real> std::uint16_t ClampIndex(Real v)
{
    if (!(v >= 0))
        return 0;
    if (v >= 65535)
        return 65535;
    return static_cast<std::uint16_t>(static_cast<int>(v)); // v in [0, 65535): trunc
}

} // namespace

void BuildDisplayIndexTable(float gain, float displayOffset, bool logScale, const float *logTable,
                            std::uint16_t *indexTable)
{
    if (!logScale) {
        const long double g = gain;
        const long double offset = displayOffset;
        for (int p = 0; p < 65536; ++p)
            indexTable[p] = ClampIndex(std::trunc((static_cast<long double>(p) - offset) * g));
        return;
    }
    const float top = logTable[65535];
    const float s = top != 0.0f ? gain * 6553.0f / top : 0.0f;
    for (int p = 0; p < 65536; ++p) {
        const float t = std::trunc(static_cast<float>(p) - displayOffset);
        const int ti = ClampIndex(t);
        indexTable[p] = ClampIndex(std::trunc(s * logTable[ti]));
    }
}

void BuildDisplayColourTable(float gain, float displayOffset, bool logScale, const float *logTable,
                             const std::uint8_t *red, const std::uint8_t *green, const std::uint8_t *blue,
                             std::uint32_t *colourTable)
{
    std::vector<std::uint16_t> index(65536);
    BuildDisplayIndexTable(gain, displayOffset, logScale, logTable, index.data());
    for (int p = 0; p < 65536; ++p) {
        const std::uint16_t v = index[p];
        const std::uint8_t bytes[4] = {red[v], green[v], blue[v], 255};
        std::memcpy(&colourTable[p], bytes, 4);
    }
}

void MapPixelsToRgba(const std::uint16_t *pixels, std::size_t count, const std::uint32_t *colourTable,
                     std::uint8_t *rgba)
{
    for (std::size_t i = 0; i < count; ++i)
        std::memcpy(rgba + 4 * i, &colourTable[pixels[i]], 4);
}
