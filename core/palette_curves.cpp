#include "palette_curves.h"

#include <algorithm>
#include <cmath>

namespace
{

// Symmetry entry of the anchor at point index a, or -1 when it has none.
int FlagIndex(int a)
{
    const int j = a / 3;
    return a % 3 == 0 && j < PaletteMaxSegments ? j : -1;
}

} // namespace

void PaletteCurves::PointsToScreen(PPalette &palette)
{
    const int hp = ZeroLine();
    for (int c = 0; c < PaletteChannels; ++c) {
        const int source = GreyScale ? 0 : c;
        if (GreyScale)
            palette.SegmentCount[c] = palette.SegmentCount[0];
        for (int i = 0; i <= 3 * palette.SegmentCount[c]; ++i) {
            const PalettePoint &p = palette.Points[source][i];
            ScreenX[i][c] = static_cast<int>(std::trunc(width_ * static_cast<double>(p.x)));
            ScreenY[i][c] = static_cast<int>(std::trunc(hp - hp * static_cast<double>(p.y)));
        }
    }
}

void PaletteCurves::ScreenToPoints(PPalette &palette) const
{
    const int hp = ZeroLine();
    for (int c = 0; c < PaletteChannels; ++c) {
        const int source = GreyScale ? 0 : c;
        if (GreyScale)
            palette.SegmentCount[c] = palette.SegmentCount[0];
        for (int i = 0; i <= 3 * palette.SegmentCount[c]; ++i) {
            palette.Points[c][i].x = static_cast<float>(static_cast<double>(ScreenX[i][source]) / width_);
            palette.Points[c][i].y = static_cast<float>(static_cast<double>(hp - ScreenY[i][source]) / hp);
        }
    }
}

void PaletteCurves::SetGreyScale(PPalette &palette, bool on)
{
    const int hp = ZeroLine();
    if (on) {
        for (int c = 1; c < PaletteChannels; ++c) {
            KeptCurve &kept = kept_[c];
            kept.count = palette.SegmentCount[c];
            kept.flags = palette.Symmetric[c];
            kept.points = palette.Points[c];
            kept.floats.assign(palette.FloatTable[c].begin(), palette.FloatTable[c].end());
            kept.bytes.assign(palette.ByteTable[c].begin(), palette.ByteTable[c].end());
            palette.SegmentCount[c] = palette.SegmentCount[0];
            palette.Points[c] = palette.Points[0];
            palette.FloatTable[c] = palette.FloatTable[0];
            palette.ByteTable[c] = palette.ByteTable[0];
            for (int i = 0; i < PalettePoints; ++i) {
                ScreenX[i][c] = ScreenX[i][0];
                ScreenY[i][c] = ScreenY[i][0];
            }
        }
        keptValid_ = true;
    } else if (GreyScale && keptValid_) {
        // The kept points come back exactly, not through the view's whole-pixel coordinates.
        for (int c = 1; c < PaletteChannels; ++c) {
            palette.SegmentCount[c] = kept_[c].count;
            palette.Symmetric[c] = kept_[c].flags;
            palette.Points[c] = kept_[c].points;
            std::copy(kept_[c].floats.begin(), kept_[c].floats.end(), palette.FloatTable[c].begin());
            std::copy(kept_[c].bytes.begin(), kept_[c].bytes.end(), palette.ByteTable[c].begin());
            for (int i = 0; i <= 3 * palette.SegmentCount[c]; ++i) {
                const PalettePoint &p = palette.Points[c][i];
                ScreenX[i][c] = static_cast<int>(std::trunc(width_ * static_cast<double>(p.x)));
                ScreenY[i][c] = static_cast<int>(std::trunc(hp - hp * static_cast<double>(p.y)));
            }
        }
        keptValid_ = false;
    }
    GreyScale = on;
    palette.Dirty = 1;
}

int PaletteCurves::Nearest(int x, int y, int last, int step) const
{
    float best = 10000000.0f;
    int chosen = 0;
    for (int i = 0; i <= last; i += step) {
        const long long dx = x - ScreenX[i][Channel], dy = y - ScreenY[i][Channel];
        const float d = static_cast<float>(dx * dx + dy * dy);
        if (d <= best) {
            best = d;
            chosen = i;
        }
    }
    return chosen;
}

bool PaletteCurves::Press(const PPalette &palette, int x, int y, bool left, bool right)
{
    bool popup = false;
    if ((left || right) && !Dragging) {
        SelectedPoint = Nearest(x, y, 3 * Segments(palette), 1);
        if (left)
            Dragging = true;
        else
            popup = SelectedPoint % 3 == 0;
    }
    PressX = x;
    PressY = y;
    return popup;
}

void PaletteCurves::MovePoint(int k, int dx, int dy)
{
    ScreenX[k][Channel] += dx;
    ScreenY[k][Channel] += dy;
}

bool PaletteCurves::AnchorSymmetric(const PPalette &palette, int channel, int a)
{
    const int j = FlagIndex(a);
    return j >= 0 && palette.Symmetric[channel][j];
}

bool PaletteCurves::Drag(const PPalette &palette, int x, int y)
{
    if (!Dragging)
        return false;
    y = std::min(y, ZeroLine());
    const int n = Segments(palette), last = 3 * n, k = SelectedPoint;
    auto &X = ScreenX, &Y = ScreenY;
    const int c = Channel;
    if (k % 3 == 0 && k > 0 && k < last) {
        // An anchor stays strictly between its neighbours. A loaded palette may hold anchors out
        // of order or less than two pixels apart: there is no room between them, and the anchor
        // then keeps its x.
        const int lo = X[k - 3][c] + 1, hi = X[k + 3][c] - 1;
        x = lo <= hi ? std::clamp(x, lo, hi) : X[k][c];
    }
    const int dx = x - X[k][c], dy = y - Y[k][c];
    if (k > 0 && k < last)
        X[k][c] = x;
    else if (k == 0)
        MovePoint(1, 0, dy);
    else
        MovePoint(last - 1, 0, dy);
    Y[k][c] = y;
    if (k % 3 == 0 && k > 0 && k < last) {
        MovePoint(k - 1, dx, dy);
        MovePoint(k + 1, dx, dy);
    } else if (k % 3 != 0 && k != 1 && k != last - 1) {
        const int anchor = k % 3 == 1 ? k - 1 : k + 1;
        const int partner = k % 3 == 1 ? k - 2 : k + 2;
        if (AnchorSymmetric(palette, c, anchor)) {
            X[partner][c] = 2 * X[anchor][c] - X[k][c];
            Y[partner][c] = 2 * Y[anchor][c] - Y[k][c];
        }
    }
    return true;
}

bool PaletteCurves::Insert(PPalette &palette)
{
    const int n = Segments(palette);
    if (n >= PaletteMaxSegments)
        return false;
    const int c = Channel;
    const int a = Nearest(PressX, PressY, 3 * (n - 1), 3);
    const bool right = ScreenX[a][c] < PressX;
    if (!right && a == 0) // no segment lies before the first anchor
        return false;
    const int from = right ? a : a - 3; // the segment being split runs from point `from` to from + 3
    const int dx = ScreenX[from + 3][c] - ScreenX[from][c], dy = ScreenY[from + 3][c] - ScreenY[from][c];
    if (dx < 2)
        return false;
    const int at = right ? a + 2 : a - 1; // the first of the three new points
    for (int i = 3 * n; i >= at; --i) {
        ScreenX[i + 3][c] = ScreenX[i][c];
        ScreenY[i + 3][c] = ScreenY[i][c];
    }
    const int x0 = ScreenX[from][c], y0 = ScreenY[from][c];
    ScreenX[at][c] = x0 + dx / 4;
    ScreenY[at][c] = y0 + dy / 4;
    ScreenX[at + 1][c] = x0 + dx / 2;
    ScreenY[at + 1][c] = y0 + dy / 2;
    ScreenX[at + 2][c] = x0 + 3 * dx / 4;
    ScreenY[at + 2][c] = y0 + 3 * dy / 4;
    // The new anchor's flag is inserted (set) and the later anchors' flags move up with them.
    auto &flags = palette.Symmetric[c];
    const int j = (at + 1) / 3;
    for (int i = PaletteMaxSegments - 1; i > j; --i)
        flags[i] = flags[i - 1];
    flags[j] = true;
    palette.SegmentCount[c] = n + 1;
    SelectedPoint = a;
    return true;
}

bool PaletteCurves::DeleteSelected(PPalette &palette)
{
    const int n = Segments(palette), a = SelectedPoint, c = Channel;
    if (a % 3 != 0 || a <= 0 || a >= 3 * n)
        return false;
    for (int i = a + 2; i <= 3 * n; ++i) {
        ScreenX[i - 3][c] = ScreenX[i][c];
        ScreenY[i - 3][c] = ScreenY[i][c];
    }
    auto &flags = palette.Symmetric[c];
    for (int i = a / 3; i + 1 < PaletteMaxSegments; ++i)
        flags[i] = flags[i + 1];
    flags[PaletteMaxSegments - 1] = false;
    palette.SegmentCount[c] = n - 1;
    SelectedPoint = a - 3;
    return true;
}

bool PaletteCurves::ToggleSymmetry(PPalette &palette)
{
    const int a = SelectedPoint, c = Channel, j = FlagIndex(a);
    if (j < 0)
        return false;
    bool &flag = palette.Symmetric[c][j];
    flag = !flag;
    if (flag && a > 0 && a < 3 * Segments(palette)) {
        ScreenX[a - 1][c] = 2 * ScreenX[a][c] - ScreenX[a + 1][c];
        ScreenY[a - 1][c] = 2 * ScreenY[a][c] - ScreenY[a + 1][c];
    }
    return flag;
}
