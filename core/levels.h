#pragma once
// Display levels and region statistics: a 65536-bin histogram of a rectangle of 16-bit pixels
// with its mean, median, standard deviation, mode and extremes, and the automatic display levels
// (black level and gain) chosen from the histogram of an image's centre.
#include "matrix.h"

#include <cstdint>

class ImageData;

// Statistics of columns xStart .. xEnd-1 and rows yStart .. yEnd-1 of rows (the rectangle is cut to
// the matrix). histogram must hold 65536 entries; it is overwritten with the counts of the pixels
// at or below ceiling.
//   minimum, maximum: over every pixel of the rectangle (1000000 / -1000000 when it is empty);
//   mean: of the pixels at or below ceiling (0 when there are none);
//   median: the smallest value k >= minimum at which the histogram summed from minimum through k
//           reaches half the pixels counted (0 when the rectangle is empty);
//   mode: the most frequent value; on ties the one that reached the top count first when the
//         rectangle is scanned column by column, each column upwards from yStart (0 when none);
//   standardDeviation: sample deviation (divided by count - 1), written only when more than one
//           pixel was counted, so a caller's value stays otherwise.
void ComputeRegionStatistics(const UShortMatrix &rows, std::uint32_t *histogram, int xStart, int yStart,
                             int xEnd, int yEnd, float &mean, float &median, float &standardDeviation,
                             int &minimum, int &maximum, int &mode, int ceiling);

// Sets the image's SkyLevel, DisplayOffset and Gain from frame 0: in the central 60 % of rows and
// columns (the whole image, less its last row and column, when a side is 50 pixels or less) the
// value below which 0.1 % of the pixels lie becomes the black level (DisplayOffset), and the value
// below which 99 % lie is shown at full scale (Gain = 65535 / (high - black), 1 when not positive).
void ComputeDisplayLevels(ImageData &image);

// The levels of an image a window is about to show after a script's DISPLAY, an operation on its
// pixels or the opening of a tool's view: automatic levels (ComputeDisplayLevels) when `automatic`
// (the observer's "Auto-set contrast/intensity"), or when the image's own levels would show an
// image with structure in one flat shade; otherwise its levels stay. True when they were computed.
bool SetDisplayLevelsAsAsked(ImageData &image, bool automatic);

// The levels of a new camera frame: automatic when asked, else the observer's bias and intensity.
void SetNewFrameLevels(ImageData &image, bool automatic, int bias, float intensity);

// True when the central pixels between the 0.1 % and 99 % points differ (the image has structure)
// but the image's display offset and gain map all of them into less than one grey step of the
// palette (all black, all white, or one flat shade between).
bool LevelsHideStructure(const ImageData &image);
