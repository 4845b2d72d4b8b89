#include "selection.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "image_data.h"

namespace
{

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

int ToInt(std::int64_t v)
{
    return static_cast<int>(std::clamp<std::int64_t>(v, -2147483647, 2147483647));
}

} // namespace

ImageSelection NormalisedSelection(ImageSelection s, int width, int height, bool line)
{
    if (width <= 0 || height <= 0)
        return {};
    if (line) {
        if (s.x0 > s.x1) {
            std::swap(s.x0, s.x1);
            std::swap(s.y0, s.y1);
        }
    } else {
        if (s.x0 > s.x1)
            std::swap(s.x0, s.x1);
        if (s.y0 > s.y1)
            std::swap(s.y0, s.y1);
    }
    s.x0 = std::clamp(s.x0, 0, width - 1);
    s.x1 = std::clamp(s.x1, 0, width - 1);
    s.y0 = std::clamp(s.y0, 0, height - 1);
    s.y1 = std::clamp(s.y1, 0, height - 1);
    return s;
}

ImageSelection ClampedSelection(const ImageData &image, bool line)
{
    return NormalisedSelection({image.SelX0, image.SelY0, image.SelX1, image.SelY1}, image.Width,
                               image.Height, line);
}

void NormaliseSelection(ImageData &image)
{
    const ImageSelection s = ClampedSelection(image);
    image.SelX0 = s.x0;
    image.SelY0 = s.y0;
    image.SelX1 = s.x1;
    image.SelY1 = s.y1;
}

int ImageXOf(int canvasX, int width, int canvasWidth)
{
    return ToInt(FloorDiv(std::int64_t(canvasX) * width, std::max(1, canvasWidth)));
}

int ImageYOf(int canvasY, int height, int canvasHeight)
{
    const int h = std::max(1, canvasHeight);
    return ToInt(FloorDiv((std::int64_t(h) - 1 - canvasY) * height, h));
}

PointerReadout ReadPointer(const ImageData &image, int canvasX, int canvasY, int canvasWidth,
                           int canvasHeight)
{
    PointerReadout r;
    r.x = ImageXOf(canvasX, image.Width, canvasWidth);
    r.y = ImageYOf(canvasY, image.Height, canvasHeight);
    r.inside = !image.Empty && r.x >= 0 && r.x < image.Width && r.y >= 0 && r.y < image.Height;
    const std::string at = "X=" + std::to_string(r.x) + ", Y=" + std::to_string(r.y);
    if (!r.inside) {
        r.text = at + ", Excluded pixel.";
        return r;
    }
    const int frame = std::clamp(image.CurrentFrame, 0, std::max(0, image.Frames - 1));
    const int value = image.Rows[frame * image.Height + r.y][r.x];
    r.text = "Frame " + std::to_string(frame + 1) + ": " + at + ", Value: " + std::to_string(value);
    return r;
}

SelectionResult FinishSelection(int width, int height, int pressX, int pressY, int x, int y, int canvasWidth,
                                int canvasHeight, double zoom, bool line)
{
    SelectionResult result;
    const double z = zoom > 0 ? zoom : 1.0;
    const bool sameColumn = std::floor(pressX / z) == std::floor(x / z);
    const bool sameRow = std::floor(pressY / z) == std::floor(y / z);
    if ((sameColumn || sameRow) && !line)
        return result;
    result.shown = true;
    result.selection =
        NormalisedSelection({ImageXOf(pressX, width, canvasWidth), ImageYOf(pressY, height, canvasHeight),
                             ImageXOf(x, width, canvasWidth), ImageYOf(y, height, canvasHeight)},
                            width, height, line);
    return result;
}
