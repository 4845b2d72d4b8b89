#include "processing/guide_shift.h"

#include <algorithm>
#include <cmath>

namespace
{

bool RectangleInside(const UShortMatrix &rows, int yEnd, int yStart, int xEnd, int xStart)
{
    return xStart >= 0 && yStart >= 0 && xEnd > xStart && yEnd > yStart && xEnd <= rows.Columns() &&
           yEnd <= rows.Rows();
}

int Clamp(int index, int length)
{
    return std::clamp(index, 0, length - 1);
}

// The error of one candidate shift; t is a whole number for the integer search.
float ShiftError(const std::vector<float> &p, const std::vector<float> &q, int start, int end, float t)
{
    const int length = static_cast<int>(q.size());
    float error = 0.0f;
    for (int i = start; i < end; ++i) {
        const float z = static_cast<float>(i) + t;
        const float low = std::floor(z);
        const float weight = z - low;
        const int k = static_cast<int>(low);
        const float value = q[Clamp(k, length)] * (1.0f - weight) + q[Clamp(k + 1, length)] * weight;
        const float d = p[i] - value;
        error += p[i] * d * d;
    }
    return error;
}

// Scales the current profile so that its light over start .. end - 1 equals the reference's; a
// profile without light stays as it is.
void ScaleToReference(std::vector<float> &current, const std::vector<float> &reference, int start, int end)
{
    double own = 0.0, wanted = 0.0;
    for (int i = start; i < end; ++i) {
        own += current[i];
        wanted += reference[i];
    }
    if (!(own > 0.0) || !(wanted > 0.0))
        return;
    const float factor = static_cast<float>(wanted / own);
    for (int i = start; i < end; ++i)
        current[i] *= factor;
}

} // namespace

double RegionMean(const UShortMatrix &rows, int yEnd, int yStart, int xEnd, int xStart)
{
    if (!RectangleInside(rows, yEnd, yStart, xEnd, xStart))
        return 0.0;
    double sum = 0.0;
    for (int y = yStart; y < yEnd; ++y) {
        const std::uint16_t *row = rows[y];
        for (int x = xStart; x < xEnd; ++x)
            sum += row[x];
    }
    return sum / (static_cast<double>(xEnd - xStart) * static_cast<double>(yEnd - yStart));
}

bool BuildProjectionProfile(std::vector<float> &profile, const UShortMatrix &rows, int yEnd, int yStart,
                            int xEnd, int xStart, double mean, bool alongRows)
{
    profile.clear();
    if (!RectangleInside(rows, yEnd, yStart, xEnd, xStart))
        return false;
    // Sums in double, one pass over the rectangle for either profile.
    std::vector<double> sums(static_cast<std::size_t>(alongRows ? rows.Rows() : rows.Columns()), 0.0);
    for (int y = yStart; y < yEnd; ++y) {
        const std::uint16_t *row = rows[y];
        if (alongRows) {
            double sum = 0.0;
            for (int x = xStart; x < xEnd; ++x)
                sum += row[x] - mean;
            sums[y] = sum;
        } else {
            for (int x = xStart; x < xEnd; ++x)
                sums[x] += row[x] - mean;
        }
    }
    profile.assign(sums.size(), 0.0f);
    const int start = alongRows ? yStart : xStart, end = alongRows ? yEnd : xEnd;
    for (int i = start; i < end; ++i)
        profile[i] = sums[i] > 0.0 ? static_cast<float>(sums[i]) : 0.0f;
    return true;
}

float ProfileShift(const std::vector<float> &reference, const std::vector<float> &current, int start, int end,
                   int range)
{
    if (current.empty() || start < 0 || end > static_cast<int>(reference.size()) || end <= start)
        return 0.0f;
    // Whole shifts: the first smallest error wins.
    int best = 0;
    float bestError = 1.0e21f;
    for (int s = -range; s <= range; ++s) {
        const float error = ShiftError(reference, current, start, end, static_cast<float>(s));
        if (error < bestError) {
            bestError = error;
            best = s;
        }
    }
    // Tenths from best - 1 to best + 1 (21 candidates, the step added in single precision).
    float result = static_cast<float>(best);
    bestError = 1.0e21f;
    float t = static_cast<float>(best) - 1.0f;
    for (int step = 0; step <= 20; ++step, t += 0.1f) {
        const float error = ShiftError(reference, current, start, end, t);
        if (error < bestError) {
            bestError = error;
            result = t;
        }
    }
    return result;
}

bool MeasureProfileShift(const std::vector<float> &referenceRows, const std::vector<float> &referenceColumns,
                         const UShortMatrix &current, float &rowShift, float &columnShift, int yEnd,
                         int yStart, int xEnd, int xStart, int rowRange, int columnRange)
{
    rowShift = columnShift = 0.0f;
    if (!RectangleInside(current, yEnd, yStart, xEnd, xStart) ||
        referenceRows.size() != static_cast<std::size_t>(current.Rows()) ||
        referenceColumns.size() != static_cast<std::size_t>(current.Columns()))
        return false;
    const double mean = RegionMean(current, yEnd, yStart, xEnd, xStart);
    std::vector<float> rowProfile, columnProfile;
    BuildProjectionProfile(rowProfile, current, yEnd, yStart, xEnd, xStart, mean, true);
    BuildProjectionProfile(columnProfile, current, yEnd, yStart, xEnd, xStart, mean, false);
    // The error weighs the difference of the profiles as they are: a star twice as bright as in
    // the reference (a longer integration, a cloud gone from the reference's frame) would fit
    // worse on itself than on the empty sky beside it, and be found at the edge of the search
    // range. The current profiles are scaled to the reference's light first.
    ScaleToReference(rowProfile, referenceRows, yStart, yEnd);
    ScaleToReference(columnProfile, referenceColumns, xStart, xEnd);
    rowShift = ProfileShift(referenceRows, rowProfile, yStart, yEnd, rowRange);
    columnShift = ProfileShift(referenceColumns, columnProfile, xStart, xEnd, columnRange);
    return true;
}
