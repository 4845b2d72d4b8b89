#pragma once
// Histogram equalization: the 65536-entry tables that remap intensities, the transfer curve the
// equalization window edits (a chain of cubic Bezier segments in the coordinates of its picture)
// and the histogram an image would have once mapped. The mapping itself is
// ApplyHistogramEqualization of the pixel filters ("processing/filters.h").
#include <array>
#include <cstdint>

class ImageData;

struct CurvePoint {
    int x = 0, y = 0;
};

// The transfer curve: SegmentCount segments through points 0 .. 3 x SegmentCount, point 3i an
// anchor and 3i + 1, 3i + 2 the handles of segment i, in picture coordinates (y downwards, the
// picture Width x Height). ModelX/ModelY are the same points in table coordinates: x / Width
// (0..1) and (Height - y) x 65535 / Height. Every editing step keeps them up to date.
class EqualizationCurve
{
public:
    static constexpr int MaxSegments = 20;
    static constexpr int MaxPoints = 3 * MaxSegments + 1;

    // The default curve of a width x height picture.
    EqualizationCurve(int width = 530, int height = 201) { Reset(width, height); }

    // One segment from the lower left to the upper right corner with its handles at a third and
    // two thirds: nearly the identity.
    void Reset(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int SegmentCount() const { return count_; }
    int PointCount() const { return 3 * count_ + 1; }
    const CurvePoint &Point(int i) const { return points_[i]; }
    float ModelX(int i) const { return modelX_[i]; }
    float ModelY(int i) const { return modelY_[i]; }
    bool IsAnchor(int i) const { return i % 3 == 0; }
    bool IsInnerAnchor(int i) const { return i % 3 == 0 && i > 0 && i < 3 * count_; }
    bool Symmetric(int anchor) const { return symmetric_[anchor / 3]; }
    int Selected() const { return selected_; }
    bool Dragging() const { return dragging_; }

    // The nearest of points 0 .. 3 x count to (x, y) (squared distance, the later point on a tie).
    int Nearest(int x, int y) const;

    // Mouse down (left or right button): unless a drag is in progress the nearest point is
    // selected; the left button starts a drag. The position is kept for a double click.
    void MouseDown(bool leftButton, int x, int y);
    // A move during a drag: y is limited to the picture height; the first and last anchors (and
    // the handle next to each) move only vertically; an inner anchor carries its handles; a handle
    // of a symmetric inner anchor mirrors the opposite handle.
    void Drag(int x, int y);
    // Mouse up: the drag ends.
    void MouseUp();
    // Double click: splits the segment beside the anchor nearest to the last mouse-down position
    // (after it when the position lies to its right, else before it) at its middle; the new anchor
    // is symmetric. False (nothing changes) at MaxSegments.
    bool Split();
    // Toggles the selected anchor's symmetric flag; turning it on for an inner anchor mirrors its
    // right handle into its left one. False when the selection is not an anchor.
    bool ToggleSymmetric();
    // Removes the selected inner anchor with its two handles. False when it is not an inner anchor.
    bool DeleteSelected();

private:
    void UpdateModel();

    int width_ = 1, height_ = 1;
    int count_ = 1;
    std::array<CurvePoint, MaxPoints> points_{};
    std::array<float, MaxPoints> modelX_{}, modelY_{};
    std::array<bool, MaxSegments + 1> symmetric_{};
    int selected_ = 0;
    CurvePoint down_;
    bool dragging_ = false;
};

// The image's own equalization table from its histogram (65536 counts): the histogram
// accumulated from value 1 up (the count of 0 is never added), scaled to 0..65535 by its total
// (taken as 1 when not positive).
void BuildEqualizationTable(const std::uint32_t *histogram, float *table);

// Writes the curve into table (65536 entries) by walking each segment with a step that keeps
// successive x about half a table entry apart. Entries the walk does not reach keep their values.
// Segments whose x span is not positive are skipped.
void BuildModelTable(const EqualizationCurve &curve, float *table);

// The histogram of frame 0 as it would be after mapping through table (each value truncated and
// kept to 0..65535, as ApplyHistogramEqualization maps it), over the region the
// equalization window examines (columns 0 .. width - 2, rows 0 .. height - 2), without changing the
// image. Minimum/maximum are those of the mapped region (1000000 / -1000000 when it is empty) and
// topCount the largest bin.
struct HistogramSummary {
    int Minimum = 1000000;
    int Maximum = -1000000;
    std::uint32_t TopCount = 0;
};
HistogramSummary EqualizedHistogram(const ImageData &image, const float *table, std::uint32_t *histogram);
