#pragma once
// Sub-frame tables: the pixel values of a rectangle of an image as comma-separated text, one line
// per image row or, transposed, one line per image column. Fields are separated by ", ", lines end
// in a line feed, and each line begins with its 1-based row (or column) number under a header of
// "Y\X, 1, 2, ..." (or "X\Y, ...").
#include <string>

class ImageData;

struct SubframeRectangle {
    int xLo = 0, xHi = 0, yLo = 0, yHi = 0;
};

// The rectangle with its corners in order and cut to the image (frame 0); false when nothing of it
// lies inside the image (or the image is empty).
bool ClipSubframe(const ImageData &image, SubframeRectangle &rectangle);

// The table text of the clipped rectangle; empty when nothing lies inside the image.
std::string SubframeTableText(const ImageData &image, SubframeRectangle rectangle, bool invertCoords);

// Writes the table to path (replacing the file only when the whole table was written). False when
// nothing lies inside the image or the file could not be written.
bool WriteSubframeTable(const std::string &path, const ImageData &image, const SubframeRectangle &rectangle,
                        bool invertCoords);
