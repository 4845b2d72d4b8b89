#pragma once
// Pointer arithmetic of the image window, free of any widget: canvas pixels (origin top-left, the
// picture scaled by the zoom) to image pixels (row 0 at the bottom), the pointer read-out text and
// the selection a drag leaves behind.
#include <string>

class ImageData;

struct ImageSelection {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool operator==(const ImageSelection &) const = default;
};

// Clamps the corners to the image and orders them: a rectangle on each axis independently, a
// line by x only (both end points swap). An image without pixels gives all zeros.
ImageSelection NormalisedSelection(ImageSelection s, int width, int height, bool line);
// The image's selection corners, normalised as a rectangle (or as a line when `line`).
ImageSelection ClampedSelection(const ImageData &image, bool line = false);
// Writes the normalised rectangle back into the image's selection corners.
void NormaliseSelection(ImageData &image);

// Image column / row under a canvas pixel (may lie outside the image). The row counts from the
// bottom: the top canvas pixel row belongs to image row height - 1.
int ImageXOf(int canvasX, int width, int canvasWidth);
int ImageYOf(int canvasY, int height, int canvasHeight);

struct PointerReadout {
    bool inside = false;
    int x = 0, y = 0;
    std::string text; // "Frame n: X=x, Y=y, Value: v" or "X=x, Y=y, Excluded pixel."
};
PointerReadout ReadPointer(const ImageData &image, int canvasX, int canvasY, int canvasWidth,
                           int canvasHeight);

struct SelectionResult {
    bool shown = false; // false: the press and release were a click, the selection is removed
    ImageSelection selection;
};
// The selection of a drag from (pressX, pressY) to (x, y), canvas pixels. A click (press and
// release in the same image column or row at this zoom) removes a rectangle selection; a line
// survives it.
SelectionResult FinishSelection(int width, int height, int pressX, int pressY, int x, int y, int canvasWidth,
                                int canvasHeight, double zoom, bool line);
