#include "processing/equalization.h"

#include "image_data.h"
#include "levels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace
{

// trunc(table[v]) for every value, kept to 0..65535 (a value the table puts outside the pixel
// range is clamped rather than wrapped).
std::vector<std::uint16_t> TruncatedTable(const float *table)
{
    std::vector<std::uint16_t> lookup(65536);
    for (int v = 0; v < 65536; ++v) {
        const float t = table[v];
        lookup[v] = t >= 65535.0f ? 65535 : t > 0.0f ? static_cast<std::uint16_t>(t) : 0;
    }
    return lookup;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The curve

void EqualizationCurve::Reset(int width, int height)
{
    width_ = std::max(width, 1);
    height_ = std::max(height, 1);
    count_ = 1;
    points_ = {};
    points_[0] = {0, height_};
    points_[1] = {static_cast<int>(width_ * 0.3333), static_cast<int>(height_ * 0.6666)};
    points_[2] = {static_cast<int>(width_ * 0.6666), static_cast<int>(height_ * 0.3333)};
    points_[3] = {width_, 0};
    symmetric_ = {};
    selected_ = 0;
    down_ = {};
    dragging_ = false;
    UpdateModel();
}

void EqualizationCurve::UpdateModel()
{
    for (int i = 0; i < PointCount(); ++i) {
        modelX_[i] = static_cast<float>(points_[i].x) / static_cast<float>(width_);
        modelY_[i] = static_cast<float>(height_ - points_[i].y) * 65535.0f / static_cast<float>(height_);
    }
}

int EqualizationCurve::Nearest(int x, int y) const
{
    int best = 0;
    long long bestDistance = -1;
    for (int i = 0; i < PointCount(); ++i) {
        const long long dx = points_[i].x - x, dy = points_[i].y - y;
        const long long d = dx * dx + dy * dy;
        if (bestDistance < 0 || d <= bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

void EqualizationCurve::MouseDown(bool leftButton, int x, int y)
{
    if (!dragging_)
        selected_ = Nearest(x, y);
    if (leftButton)
        dragging_ = true;
    down_ = {x, y};
}

void EqualizationCurve::Drag(int x, int y)
{
    if (!dragging_)
        return;
    y = std::min(y, height_);
    const int k = selected_, last = 3 * count_;
    CurvePoint &p = points_[k];
    if (k == 0 || k == last) {
        // The end anchors keep their x; the handle next to each follows its height change.
        const int dy = y - p.y;
        p.y = y;
        points_[k == 0 ? 1 : last - 1].y += dy;
    } else if (k % 3 == 0) {
        const int dx = x - p.x, dy = y - p.y;
        p = {x, y};
        for (const int h : {k - 1, k + 1}) {
            points_[h].x += dx;
            points_[h].y += dy;
        }
    } else {
        p = {x, y};
        const int anchor = k % 3 == 1 ? k - 1 : k + 1;
        if (IsInnerAnchor(anchor) && symmetric_[anchor / 3]) {
            const int opposite = 2 * anchor - k;
            points_[opposite] = {2 * points_[anchor].x - x, 2 * points_[anchor].y - y};
        }
    }
    UpdateModel();
}

void EqualizationCurve::MouseUp()
{
    dragging_ = false;
    UpdateModel();
}

bool EqualizationCurve::Split()
{
    if (count_ >= MaxSegments)
        return false;
    // The nearest anchor among all but the last one.
    int k = 0;
    long long bestDistance = -1;
    for (int i = 0; i <= 3 * (count_ - 1); i += 3) {
        const long long dx = points_[i].x - down_.x, dy = points_[i].y - down_.y;
        const long long d = dx * dx + dy * dy;
        if (bestDistance < 0 || d <= bestDistance) {
            k = i;
            bestDistance = d;
        }
    }
    int segment = down_.x > points_[k].x ? k / 3 : k / 3 - 1;
    segment = std::clamp(segment, 0, count_ - 1);

    const int a = 3 * segment;
    const CurvePoint from = points_[a], to = points_[a + 3];
    const auto along = [&](int quarters) {
        return CurvePoint{from.x + (to.x - from.x) * quarters / 4, from.y + (to.y - from.y) * quarters / 4};
    };
    // A, H1, [Q1, M, Q3], H2, B: the segment's outer handles stay.
    std::copy_backward(points_.begin() + a + 2, points_.begin() + PointCount(),
                       points_.begin() + PointCount() + 3);
    points_[a + 2] = along(1);
    points_[a + 3] = along(2);
    points_[a + 4] = along(3);
    std::copy_backward(symmetric_.begin() + segment + 1, symmetric_.begin() + count_ + 1,
                       symmetric_.begin() + count_ + 2);
    symmetric_[segment + 1] = true;
    ++count_;
    UpdateModel();
    return true;
}

bool EqualizationCurve::ToggleSymmetric()
{
    const int k = selected_;
    if (k % 3 != 0 || k > 3 * count_)
        return false;
    symmetric_[k / 3] = !symmetric_[k / 3];
    if (symmetric_[k / 3] && IsInnerAnchor(k))
        points_[k - 1] = {2 * points_[k].x - points_[k + 1].x, 2 * points_[k].y - points_[k + 1].y};
    UpdateModel();
    return true;
}

bool EqualizationCurve::DeleteSelected()
{
    const int k = selected_;
    if (!IsInnerAnchor(k))
        return false;
    std::copy(points_.begin() + k + 2, points_.begin() + PointCount(), points_.begin() + k - 1);
    std::copy(symmetric_.begin() + k / 3 + 1, symmetric_.begin() + count_ + 1, symmetric_.begin() + k / 3);
    symmetric_[count_] = false;
    --count_;
    selected_ = k - 3;
    UpdateModel();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Tables

void BuildEqualizationTable(const std::uint32_t *histogram, float *table)
{
    std::vector<double> sum(65536);
    sum[0] = 0.0;
    for (int i = 1; i < 65536; ++i)
        sum[i] = sum[i - 1] + histogram[i];
    const double total = sum[65535] > 0.0 ? sum[65535] : 1.0;
    for (int i = 0; i < 65536; ++i)
        table[i] = static_cast<float>(sum[i] * 65535.0 / total);
}

void BuildModelTable(const EqualizationCurve &curve, float *table)
{
    constexpr double level = 1.0 / 65535.0;
    double previousX = 0.0;
    for (int segment = 0; segment < curve.SegmentCount() && previousX < 1.0; ++segment) {
        const int i = 3 * segment;
        const double x0 = curve.ModelX(i), x1 = curve.ModelX(i + 1), x2 = curve.ModelX(i + 2),
                     x3 = curve.ModelX(i + 3);
        const double y0 = curve.ModelY(i), y1 = curve.ModelY(i + 1), y2 = curve.ModelY(i + 2),
                     y3 = curve.ModelY(i + 3);
        // A segment that does not advance in x has no table entries of its own (and its start
        // step would not be positive, so its walk would never end).
        if (!(x3 > x0))
            continue;
        const double cx = 3.0 * (x1 - x0), bx = 3.0 * (x2 - x1) - cx, ax = x3 - x0 - cx - bx;
        const double cy = 3.0 * (y1 - y0), by = 3.0 * (y2 - y1) - cy, ay = y3 - y0 - cy - by;
        const double s0 = 0.1 / ((x3 - x0) * 65535.0);
        double s = s0, t = 0.0;
        previousX = x0;
        while (t < 1.0) {
            t += s;
            const double x = ((ax * t + bx) * t + cx) * t + x0;
            const double d = std::abs(x - previousX);
            if (d >= 0.25 * level) {
                if (d > 0.75 * level)
                    s *= 0.8333333333333334;
                const double position = std::clamp(x * 65535.0, 0.0, 65535.0);
                const double y = std::clamp(((ay * t + by) * t + cy) * t + y0, 0.0, 65535.0);
                table[static_cast<int>(position)] = static_cast<float>(y);
                s = std::max(s, s0);
            } else {
                s *= 1.2;
                if (s > 20.0 * s0)
                    s = s0;
            }
            previousX = x;
        }
    }
}

HistogramSummary EqualizedHistogram(const ImageData &image, const float *table, std::uint32_t *histogram)
{
    HistogramSummary summary;
    std::vector<std::uint32_t> original(65536);
    float mean = 0.0f, median = 0.0f, deviation = 0.0f;
    int minimum = 0, maximum = 0, mode = 0;
    ComputeRegionStatistics(image.Rows, original.data(), 0, 0, image.Width - 1,
                            image.Empty ? 0 : image.Height - 1, mean, median, deviation, minimum, maximum,
                            mode, 65535);
    std::fill(histogram, histogram + 65536, 0u);
    if (minimum > maximum)
        return summary;
    const std::vector<std::uint16_t> lookup = TruncatedTable(table);
    for (int v = minimum; v <= maximum; ++v) {
        if (original[v] == 0)
            continue;
        const int mapped = lookup[v];
        histogram[mapped] += original[v];
        summary.Minimum = std::min(summary.Minimum, mapped);
        summary.Maximum = std::max(summary.Maximum, mapped);
    }
    for (int v = summary.Minimum; v <= summary.Maximum; ++v)
        summary.TopCount = std::max(summary.TopCount, histogram[v]);
    return summary;
}
