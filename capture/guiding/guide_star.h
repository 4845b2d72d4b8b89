#pragma once
// The guide star as a blob, not a pixel. A sensor's hot pixels and cosmic-ray hits are single
// bright pixels (or a few in a row); a star spreads its light over several pixels. So a guide
// frame is first cleaned of lone bright pixels by a 3 x 3 median, and the star is found and
// measured on the cleaned box: where its light is centred, how much light it has (flux above the
// background) and how wide it is. Each frame's star is compared with the reference star: a frame
// whose star is far fainter or brighter, or far narrower or wider, shows something else (a cloud,
// another star, a hit on the sensor) and must not move the mount.
#include "matrix.h"

#include <string>

// The band a frame's star must lie in against the reference star: its flux between these
// multiples of the reference flux (thin cloud and seeing change a star's light, a cloud or
// another star more), its width between these multiples of the reference width.
constexpr double GuideStarFluxLow = 0.4, GuideStarFluxHigh = 2.5;
constexpr double GuideStarWidthLow = 0.6, GuideStarWidthHigh = 1.7;

// A guide frame cleaned of lone bright pixels, with its background and noise.
struct GuideBox {
    UShortMatrix cleaned; // 3 x 3 median of the frame
    int width = 0, height = 0;
    double background = 0.0; // median of the cleaned box
    double noise = 1.0;      // its noise width (from the median absolute deviation), at least 1
    // The seconds the frame gathered light: a star's flux is compared per second, so a frame that
    // integrated longer than asked (a busy moment) is not taken for a brighter star.
    double seconds = 1.0;
};

// Cleans the top-left w x h pixels of rows into box (its seconds are left to the caller).
void CleanGuideBox(const UShortMatrix &rows, int w, int h, GuideBox &box);

struct GuideStar {
    bool found = false;      // a blob stands clear of the background
    double x = 0.0, y = 0.0; // centroid (column, row)
    double flux = 0.0;       // counts per second above the background within the star's aperture
    double width = 0.0;      // sqrt(flux / (2 pi peak)): the sigma of a gaussian star, in pixels
    double peak = 0.0;       // the brightest cleaned pixel above the background
};

// The brightest blob of the cleaned box whose peak lies within columns x0 .. x1 and rows y0 .. y1
// (clamped to the box), measured. found is false when its peak does not stand 8 noise widths and
// 30 counts above the background.
GuideStar FindGuideStar(const GuideBox &box, int x0, int y0, int x1, int y1);
GuideStar FindGuideStar(const GuideBox &box);

// Empty when star can be the reference star (found, flux and width within the bands), else why
// it cannot.
std::string GuideStarProblem(const GuideStar &reference, const GuideStar &star);
