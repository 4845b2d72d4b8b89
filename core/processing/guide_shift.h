#pragma once
// How far a guide-camera frame has moved against a reference frame, measured on projection
// profiles: the sums along the rows and along the columns of a rectangle after taking off the
// rectangle's mean. The guide thread builds the two reference profiles once from its reference
// frame and measures every later frame against them.
//
// Profiles are indexed by absolute row (row profile) or column (column profile) number of the
// matrix they were built from: a row profile holds one value per matrix row, a column profile one
// per matrix column, and the entries outside the rectangle are 0. The rectangle is columns
// xStart .. xEnd - 1 by rows yStart .. yEnd - 1 and must lie inside the matrix.
#include "matrix.h"

#include <vector>

// Mean of the rectangle's pixels (double-precision sum over the pixel count); 0 for a rectangle
// that is empty or not inside the matrix.
double RegionMean(const UShortMatrix &rows, int yEnd, int yStart, int xEnd, int xStart);

// Fills profile (resized to the matrix's rows when alongRows, else to its columns, and zeroed):
// alongRows: profile[y] = max(0, sum over the rectangle's columns of (pixel - mean));
// otherwise: profile[x] = max(0, sum over the rectangle's rows of (pixel - mean)).
// False (and an empty profile) when the rectangle is empty or not inside the matrix.
bool BuildProjectionProfile(std::vector<float> &profile, const UShortMatrix &rows, int yEnd, int yStart,
                            int xEnd, int xStart, double mean, bool alongRows);

// One axis of the measurement: the shift s (within -range .. range, refined to a tenth) that best
// maps the reference profile onto the current one over indices start .. end - 1. The error of a
// candidate weighs each index by the reference value: sum of P[i] (P[i] - Q(i + s))^2, with Q
// read at clamped indices and linearly interpolated between them.
float ProfileShift(const std::vector<float> &reference, const std::vector<float> &current, int start, int end,
                   int range);

// Builds the current matrix's profiles over the rectangle (with its own mean), scales each to the
// reference profile's sum over the rectangle (so a star brighter or fainter than in the reference
// is measured as well), and measures the row shift (along y, against the reference row profile)
// and the column shift (along x, against the reference column profile). The current matrix stays the
// caller's. False, with both shifts 0, when the rectangle is not inside the matrix or a reference profile
// does not match its size.
bool MeasureProfileShift(const std::vector<float> &referenceRows, const std::vector<float> &referenceColumns,
                         const UShortMatrix &current, float &rowShift, float &columnShift, int yEnd,
                         int yStart, int xEnd, int xStart, int rowRange, int columnRange);
