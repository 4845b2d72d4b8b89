#include "levels.h"

#include "image_data.h"
#include "image_file.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{

// The mode with the tie rule of a column-by-column scan: among the values that share the top
// count, the one whose last counted pixel comes first in that scan. Only ties need the scan.
int ModeOf(const UShortMatrix &rows, const std::uint32_t *histogram, int low, int high, int xStart,
           int yStart, int xEnd, int yEnd, int ceiling)
{
    std::uint32_t best = 0;
    int mode = 0;
    int tied = 0;
    for (int v = low; v <= high; ++v) {
        if (histogram[v] > best) {
            best = histogram[v];
            mode = v;
            tied = 1;
        } else if (histogram[v] == best && best > 0) {
            ++tied;
        }
    }
    if (tied <= 1)
        return mode;
    std::vector<std::uint32_t> seen(65536, 0);
    for (int x = xStart; x < xEnd; ++x)
        for (int y = yStart; y < yEnd; ++y) {
            const int v = rows[y][x];
            if (v <= ceiling && histogram[v] == best && ++seen[v] == best)
                return v;
        }
    return mode;
}

} // namespace

void ComputeRegionStatistics(const UShortMatrix &rows, std::uint32_t *histogram, int xStart, int yStart,
                             int xEnd, int yEnd, float &mean, float &median, float &standardDeviation,
                             int &minimum, int &maximum, int &mode, int ceiling)
{
    xStart = std::max(xStart, 0);
    yStart = std::max(yStart, 0);
    xEnd = std::min(xEnd, rows.Columns());
    yEnd = std::min(yEnd, rows.Rows());
    std::fill(histogram, histogram + 65536, 0u);

    int low = 1000000;
    int high = -1000000;
    // The pixel loop only counts. The count and the sum come from the histogram afterwards, as
    // exact integers (so the mean equals that of a running sum in double: every partial sum of
    // 16-bit values over an image is far below 2^53). When every pixel is counted, the extremes are
    // the histogram's first and last filled values; otherwise (pixels above the ceiling are not
    // counted but still measured) each row's extremes come from one vectorised pass.
    for (int y = yStart; y < yEnd && xStart < xEnd; ++y) {
        const std::uint16_t *row = rows[y] + xStart;
        const std::size_t n = static_cast<std::size_t>(xEnd - xStart);
        if (ceiling >= 65535) {
            for (std::size_t x = 0; x < n; ++x)
                ++histogram[row[x]];
        } else {
            std::int32_t rowLow = 0, rowHigh = 0;
            MeasureExtremes(row, n, rowLow, rowHigh);
            low = std::min(low, rowLow);
            high = std::max(high, rowHigh);
            for (std::size_t x = 0; x < n; ++x)
                if (row[x] <= ceiling)
                    ++histogram[row[x]];
        }
    }
    if (ceiling >= 65535) {
        int first = 0;
        while (first < 65536 && histogram[first] == 0)
            ++first;
        if (first < 65536) {
            int last = 65535;
            while (histogram[last] == 0)
                --last;
            low = first;
            high = last;
        }
    }
    std::uint64_t count = 0;
    std::uint64_t sum = 0;
    for (int v = 0; v < 65536; ++v) {
        count += histogram[v];
        sum += static_cast<std::uint64_t>(histogram[v]) * static_cast<std::uint64_t>(v);
    }
    minimum = low;
    maximum = high;
    const double average = count > 0 ? static_cast<double>(sum) / static_cast<double>(count) : 0.0;
    mean = static_cast<float>(average);
    if (low > high) { // nothing in the rectangle: no histogram entry to read
        median = 0.0f;
        mode = 0;
        return;
    }

    mode = ModeOf(rows, histogram, low, high, xStart, yStart, xEnd, yEnd, ceiling);

    std::uint64_t total = 0;
    for (int v = low; v <= high; ++v)
        total += histogram[v];
    const double half = static_cast<double>(total) / 2.0;
    std::uint64_t running = 0;
    int k = low;
    for (; k < high; ++k) {
        running += histogram[k];
        if (static_cast<double>(running) >= half)
            break;
    }
    median = static_cast<float>(k);

    if (count > 1) {
        double squares = 0.0;
        for (int v = low; v <= high; ++v)
            if (histogram[v] != 0) {
                const double d = v - average;
                squares += histogram[v] * d * d;
            }
        standardDeviation = static_cast<float>(std::sqrt(squares / static_cast<double>(count - 1)));
    }
}

namespace
{

// The values below which 0.1 % (low) and 99 % (high) of the pixels of the image's centre lie.
void AutomaticRange(const ImageData &image, int &low, int &high)
{
    const auto span = [](int size, int &start, int &end) {
        if (size > 50) {
            start = static_cast<int>(0.2 * size);
            end = static_cast<int>(0.8 * size);
        } else {
            start = 0;
            end = size - 1;
        }
    };
    int xStart, xEnd, yStart, yEnd;
    span(image.Width, xStart, xEnd);
    span(image.Height, yStart, yEnd);
    if (image.Empty)
        xEnd = yEnd = 0;

    std::vector<std::uint32_t> histogram(65536);
    float mean = 0.0f, median = 0.0f, deviation = 0.0f;
    int minimum = 0, maximum = 0, mode = 0;
    ComputeRegionStatistics(image.Rows, histogram.data(), xStart, yStart, xEnd, yEnd, mean, median, deviation,
                            minimum, maximum, mode, 65535);

    std::uint64_t total = 0;
    for (int v = minimum; v <= maximum; ++v)
        total += histogram[v];
    // One walk up from the minimum: k is the first value at which the pixels from the minimum to
    // k - 1 reach the share asked for. It never passes maximum + 1, where every pixel is counted.
    std::uint64_t below = 0;
    int k = minimum;
    const auto walkTo = [&](double share) {
        while (static_cast<double>(below) < share * static_cast<double>(total)) {
            below += histogram[k];
            ++k;
        }
        return k;
    };
    low = walkTo(0.001);
    high = walkTo(0.99);
}

} // namespace

void ComputeDisplayLevels(ImageData &image)
{
    int low = 0, high = 0;
    AutomaticRange(image, low, high);
    image.SkyLevel = static_cast<float>(low) - image.OffsetLevel - image.BottomDark;
    image.DisplayOffset = image.BottomDark + (image.OffsetLevel + image.SkyLevel);
    const float d = static_cast<float>(high) - image.DisplayOffset;
    image.Gain = d > 0.0f ? 65535.0f / d : 1.0f;
}

bool LevelsHideStructure(const ImageData &image)
{
    if (image.Empty || image.Width < 2 || image.Height < 2)
        return false;
    int low = 0, high = 0;
    AutomaticRange(image, low, high);
    if (high <= low + 1)
        return false; // one value (or two neighbours): nothing to show
    const auto shown = [&](double value) {
        return std::clamp((value - static_cast<double>(image.DisplayOffset)) *
                              static_cast<double>(image.Gain),
                          0.0, 65535.0);
    };
    return shown(high) - shown(low) < 65536.0 / 256.0;
}

bool SetDisplayLevelsAsAsked(ImageData &image, bool automatic)
{
    if (!automatic && !LevelsHideStructure(image))
        return false;
    ComputeDisplayLevels(image);
    return true;
}

void SetNewFrameLevels(ImageData &image, bool automatic, int bias, float intensity)
{
    if (automatic) {
        ComputeDisplayLevels(image);
    } else {
        image.DisplayOffset = static_cast<float>(bias);
        image.Gain = intensity;
    }
}
