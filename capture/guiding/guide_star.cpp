#include "guiding/guide_star.h"

#include "processing/stars.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace
{

// The star's peak stands this many noise widths above the background, and at least this many
// counts.
constexpr double StarSigmas = 8.0;
constexpr double StarMinimumCounts = 30.0;
// Radius (pixels) of the aperture the star is measured in.
constexpr int Aperture = 5;

} // namespace

void CleanGuideBox(const UShortMatrix &rows, int w, int h, GuideBox &box)
{
    box.width = std::max(0, w);
    box.height = std::max(0, h);
    box.background = 0.0;
    box.noise = 1.0;
    if (box.width == 0 || box.height == 0) {
        box.cleaned.Free();
        return;
    }
    MedianFilterMatrix(rows, 3, box.width, box.height, box.cleaned);
    // Background and noise from the median and the median absolute deviation, which a star's few
    // pixels do not move.
    std::vector<std::uint16_t> values;
    values.reserve(static_cast<std::size_t>(box.width) * static_cast<std::size_t>(box.height));
    for (int y = 0; y < box.height; ++y)
        values.insert(values.end(), box.cleaned[y], box.cleaned[y] + box.width);
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    box.background = *middle;
    for (std::uint16_t &v : values)
        v = static_cast<std::uint16_t>(std::abs(static_cast<double>(v) - box.background));
    std::nth_element(values.begin(), middle, values.end());
    box.noise = std::max(1.0, 1.4826 * *middle);
}

GuideStar FindGuideStar(const GuideBox &box, int x0, int y0, int x1, int y1)
{
    GuideStar star;
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, box.width - 1);
    y1 = std::min(y1, box.height - 1);
    if (x0 > x1 || y0 > y1)
        return star;
    int px = x0, py = y0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (box.cleaned[y][x] > box.cleaned[py][px]) {
                px = x;
                py = y;
            }
    star.peak = box.cleaned[py][px] - box.background;
    star.x = px;
    star.y = py;
    if (!(star.peak >= std::max(StarSigmas * box.noise, StarMinimumCounts)))
        return star;
    // Flux over the aperture; the centroid from the pixels that stand above the noise, so the
    // background's noise does not pull it towards the aperture's centre.
    double flux = 0.0, sum = 0.0, sx = 0.0, sy = 0.0;
    for (int y = std::max(0, py - Aperture); y <= std::min(box.height - 1, py + Aperture); ++y)
        for (int x = std::max(0, px - Aperture); x <= std::min(box.width - 1, px + Aperture); ++x) {
            if ((x - px) * (x - px) + (y - py) * (y - py) > Aperture * Aperture)
                continue;
            const double v = box.cleaned[y][x] - box.background;
            flux += v;
            if (v > 3.0 * box.noise) {
                sum += v;
                sx += v * x;
                sy += v * y;
            }
        }
    star.found = true;
    star.flux = box.seconds > 0.0 ? flux / box.seconds : flux;
    star.x = sx / sum;
    star.y = sy / sum;
    star.width = std::sqrt(std::max(flux, 0.0) / (2.0 * std::numbers::pi * star.peak));
    return star;
}

GuideStar FindGuideStar(const GuideBox &box)
{
    return FindGuideStar(box, 0, 0, box.width - 1, box.height - 1);
}

std::string GuideStarProblem(const GuideStar &reference, const GuideStar &star)
{
    if (!star.found)
        return "no star stands above the background";
    char text[160];
    const double flux = reference.flux > 0.0 ? star.flux / reference.flux : 0.0;
    if (!(flux >= GuideStarFluxLow && flux <= GuideStarFluxHigh)) {
        std::snprintf(text, sizeof text, "the star has %.0f %% of the guide star's light", flux * 100.0);
        return text;
    }
    const double width = reference.width > 0.0 ? star.width / reference.width : 0.0;
    if (!(width >= GuideStarWidthLow && width <= GuideStarWidthHigh)) {
        std::snprintf(text, sizeof text, "the star is %.0f %% as wide as the guide star", width * 100.0);
        return text;
    }
    return {};
}
