#pragma once
// What an image window needs from the window that hosts it: the status bar, the cursor magnifier,
// the cross-section pane, the Window menu, the window limit and the one save routine. The main
// window implements it; tests use a small fake that records the calls.
#include <cstdint>
#include <string>

#include <QString>

class ImageData;
class TChild;

// The cross-section item that is ticked in the host's menu.
enum class CrossSectionMode { None, Horizontal, Vertical, Custom };

class ImageWindowHost
{
public:
    virtual ~ImageWindowHost() = default;

    // True when the window is the active image window (child 0 of the host's list).
    virtual bool IsActiveImageWindow(const TChild *window) const = 0;
    // The window became active: show its levels, palette bar and scale (UpdateImageControls).
    virtual void ImageWindowActivated(TChild *window) = 0;

    // Text of status-bar panel 0 (pointer read-out, "Inactive window.").
    virtual void ShowStatusText(const QString &text) = 0;
    // Image pixel under the pointer for the magnifier read-out; the host repaints its status bar.
    virtual void SetMagnifierPoint(int x, int y) = 0;
    // The window's 32 x 12 cursor patch changed: repaint the magnifier panel.
    virtual void RepaintMagnifier() = 0;

    // Cross-section pane: which item is ticked, whether the box is visible, switching it, drawing.
    virtual CrossSectionMode CrossSectionItem() const = 0;
    virtual bool CrossSectionVisible() const = 0;
    // Ticks the item of `mode`, unticks the others and shows the box.
    virtual void ShowCrossSection(CrossSectionMode mode) = 0;
    virtual void XSectionHideClick() = 0;
    // Draws the profile from (x0, y0) to (x1, y1), image pixels; the host clamps to the image.
    virtual void DrawCrossSection(TChild *window, int x0, int y0, int x1, int y1) = 0;

    // Window menu: one item per image window, tagged with the window's tag + 5. Clicking the item
    // focuses the window whose tag + 5 equals the item's tag (the host handles the click).
    virtual void AddWindowMenuItem(TChild *window, const QString &caption, std::int64_t itemTag) = 0;
    virtual void RemoveWindowMenuItem(std::int64_t itemTag) = 0;
    // Closes the oldest image windows while more than the maximum are open.
    virtual void LimitOpenWindows() = 0;

    // Saves the image under `name` in format `format` (0 own, 1 FITS, 2 displayed view, 3 PNG);
    // true when the file was written.
    virtual bool SaveImageInFormat(const std::string &name, ImageData &image, int format) = 0;

    // Pop-up menu commands that act on the active window.
    virtual void FastTrimClick() = 0;
    virtual void StatsFormShowExecute() = 0;
    // Shows the focus monitor and measures the focus of the active window.
    virtual void ShowFocusData() = 0;

    // Writes the capture sub-frame into the host's XLO, XHI, YLO, YHI spin edits.
    virtual void SetCaptureSpinEdits(int xLo, int xHi, int yLo, int yHi) = 0;

    // Returns the host's repaint request and clears it.
    virtual bool TakeRepaintRequest() = 0;
    // The 65536 decimal logarithms of the logarithmic display (entry 0 holds 0); nullptr lets the
    // window use its own copy of the same table.
    virtual const float *LogScaleTable() const = 0;
};
