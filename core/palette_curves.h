#pragma once
// The palette editor's curve model: the three colour curves of a palette in view coordinates
// (integer pixels of a W x H curve view, y = 0 intensity lying 20 pixels above the bottom edge) and
// the mouse edits on them: select the nearest point, drag it, insert an anchor, delete one and
// make an anchor's handles mirror each other. Qt-free; the window feeds it mouse positions and
// paints what it holds.
//
// Each edited channel has n segments (1..20) and points 0..3n; anchors are the multiples of 3,
// handles the others. The symmetry flag of the anchor at point 3j is entry j of the channel's row
// of PPalette::Symmetric (the last anchor of a 20-segment curve has none; it has no partner
// handle anyway).
//
// Anchors stay in strictly increasing x: a drag stops an interior anchor one pixel short of its
// neighbours and an insert needs a segment at least two pixels wide, so the table build always
// walks segments of positive width.
#include "palette.h"

#include <array>
#include <cstdint>
#include <vector>

class PaletteCurves
{
public:
    PaletteCurves(int viewWidth, int viewHeight) : width_(viewWidth), height_(viewHeight) {}

    int ViewWidth() const { return width_; }
    int ViewHeight() const { return height_; }
    int ZeroLine() const { return height_ - 20; } // Hp: the row of intensity 0

    // View coordinates of every point, [point][channel].
    std::array<std::array<int, PaletteChannels>, PalettePoints> ScreenX{}, ScreenY{};
    int Channel = 0;       // edited channel
    int SelectedPoint = 0; // 0..3n of the edited channel
    bool Dragging = false;
    int PressX = 0, PressY = 0;
    bool GreyScale = false; // the red curve stands for all three

    // Palette points -> view coordinates (grey scale: every channel takes red's count and points).
    void PointsToScreen(PPalette &palette);
    // View coordinates -> palette points (grey scale: the three curves become red's).
    void ScreenToPoints(PPalette &palette) const;
    // Grey scale on: green and blue take red's segment count, points, view coordinates and tables,
    // their own curves and tables being kept aside; off: they get those back exactly as they were
    // when it came on. Called while already on (another palette was put into the editor), it keeps
    // that palette's green and blue instead. Sets the palette's Dirty byte.
    void SetGreyScale(PPalette &palette, bool on);

    // A press at (x, y): selects the nearest point of the edited channel (ties go to the higher
    // index) unless a drag is on, and remembers the press. Starts a drag for the left button.
    // Returns true when the pop-up menu should open: a right press on an anchor.
    bool Press(const PPalette &palette, int x, int y, bool left, bool right);
    // Moves the selected point while dragging; false when nothing moved. The caller then runs
    // ScreenToPoints and rebuilds the tables.
    bool Drag(const PPalette &palette, int x, int y);
    void Release() { Dragging = false; }
    // Double click: inserts an anchor into the segment beside the nearest anchor (at the last
    // press), on the chord, with symmetric handles. False when the channel has 20 segments, when
    // no segment lies on that side, or when the segment is too narrow to split.
    bool Insert(PPalette &palette);
    // Deletes the selected anchor when it is interior; false otherwise.
    bool DeleteSelected(PPalette &palette);
    // Toggles the selected anchor's symmetry; when set on an interior anchor, handle a - 1 becomes
    // the mirror of handle a + 1. Returns the new state of the flag.
    bool ToggleSymmetry(PPalette &palette);
    // The symmetry flag of the anchor at point index a of a channel (false when it has none).
    static bool AnchorSymmetric(const PPalette &palette, int channel, int a);

private:
    int Segments(const PPalette &palette) const { return palette.SegmentCount[Channel]; }
    int Nearest(int x, int y, int last, int step) const;
    void MovePoint(int k, int dx, int dy);

    struct KeptCurve {
        std::int32_t count = 1;
        std::array<bool, PaletteMaxSegments> flags{};
        std::array<PalettePoint, PalettePoints> points{};
        std::vector<float> floats;
        std::vector<std::uint8_t> bytes;
    };
    int width_, height_;
    std::array<KeptCurve, PaletteChannels> kept_{}; // green's and blue's own curves in grey scale
    bool keptValid_ = false;
};
