#pragma once
// Star measurement and resampling: where a star is (brightest pixel, centroid after a median,
// refinement on a cut-out), how wide it is (FWHM from fitted gaussians along x and y), the
// centroid of a 1-D profile, an n x n median of a matrix, bilinear sampling of an image under
// rotation, scale and shift, and cropping to a rectangle. Used by the focus monitor, registration,
// stacking, alignment, the composite editor and the crop command.
//
// Coordinates are column x and row y of the pixel rows. Functions that take (rows, w, h) work on
// the top-left w x h elements of the matrix (frame 0 when given an image's Rows); functions that
// take an ImageData work on its frame 0.
#include "image_data.h"
#include "matrix.h"

#include <cstdint>

// The brightest pixel, scanning column by column (rows upwards within a column): the first pixel
// strictly brighter than all before it wins. When every pixel is 0 there is no star: the result
// is false and the position is the centre pixel (w / 2, h / 2), so callers never read an unset
// position.
bool FindBrightestPixel(const UShortMatrix &rows, int w, int h, float &x, float &y);

// The n x n median of every pixel: the window at offsets -n/2 .. n - 1 - n/2 with coordinates
// clamped to the matrix, sorted ascending, element n*n / 2. target becomes a h x w matrix.
void MedianFilterMatrix(const UShortMatrix &source, int n, int w, int h, UShortMatrix &target);

// The star's centroid: the brightest pixel of a 3 x 3 median copy (so a lone hot pixel does not
// count), then the intensity-weighted centroid of the median copy over the 13 x 13 window centred
// there (pixels of column 0 and row 0 are left out). A window without light gives that centre.
void FindStarCentroid(const UShortMatrix &rows, int w, int h, float &x, float &y);

// Full widths at half maximum along x and y of the star at (cx, cy): the column and row sums of
// the 21 x 21 window around it (clamped to the image), each less its minimum, are fitted with
// A exp(-((i - c) / sigma)^2) around their centroid c by a search over sigma in steps of 0.01
// (from 1.0 for x, from 0.2 for y, below 15); fwhm = 1.664 sigma.
void MeasureStarFwhm(const UShortMatrix &rows, int w, int h, float cx, float cy, float &fwhmX, float &fwhmY);

// Centroid sum(i (v[i] - min)) / sum(v[i] - min) of a profile. A flat profile has no peak: the
// result is its centre, (n - 1) / 2 (0 for an empty one).
float ProfileCentroid(const float *values, int n);

// Refines (x, y) to the intensity-weighted centroid of the 21 x 21 cut-out around it (clamped to
// frame 0) after a 3 x 3 median, the cut-out's median (its sky) taken off, and a gaussian blur
// of sigma 3. A cut-out without light above its sky leaves (x, y) as they are.
void RefineStarCentroid(const ImageData &image, float &x, float &y);

// A shift (tx, ty), a rotation by angle (radians) about (rx, ry) and a scale (kx, ky; 0 counts as
// 1): pixel (x, y) of the transformed image takes the source at
//   X = rx + ((ex - rx) cos - (ey - ry) sin) / kx,  Y = ry + ((ey - ry) cos + (ex - rx) sin) / ky
// with ex = x - tx, ey = y - ty.
struct ImageTransform {
    float tx = 0.0f, ty = 0.0f;
    float angle = 0.0f;
    float rx = 0.0f, ry = 0.0f;
    float kx = 1.0f, ky = 1.0f;
};

// Bilinear sampling of frame 0 of an image under one transform. The sine, cosine and scale are
// worked out once at construction, so a loop over output pixels pays only for the sampling.
// The image must outlive the sampler and keep its storage.
class TransformSampler
{
public:
    TransformSampler(const ImageData &image, const ImageTransform &transform);

    // The value of pixel (x, y) of the transformed image: the bilinear mix of the four source
    // pixels around (X, Y), truncated; 0 when (X, Y) falls outside the image. A sample within the
    // last column or row mixes with that column or row again (the edge is repeated, not darkened).
    std::uint16_t Sample(double x, double y) const { return SampleAt(RowX(y) + x * xx_, RowY(y) + x * yx_); }

private:
    friend void ResampleFrame(const ImageData &image, const ImageTransform &transform, UShortMatrix &target);
    // Source position of (0, y); a row's loop adds x times (xx_, yx_) to it, as Sample does.
    double RowX(double y) const { return x0_ + y * xy_; }
    double RowY(double y) const { return y0_ + y * yy_; }
    std::uint16_t SampleAt(double X, double Y) const;

    const std::uint16_t *const *rows_;
    int width_, height_;
    // X = x0_ + x xx_ + y xy_, Y = y0_ + x yx_ + y yy_.
    double x0_, xx_, xy_, y0_, yx_, yy_;
};

// One transformed pixel (see ImageTransform and TransformSampler::Sample). Works the sine and
// cosine out on every call: loops over many pixels use a TransformSampler or ResampleFrame.
std::uint16_t SampleTransformedPixel(const ImageData &image, float x, float y, float tx, float ty,
                                     float angle, float rx, float ry, float kx, float ky);

// The whole transformed frame 0: target becomes Height x Width with target[y][x] =
// TransformSampler(image, transform).Sample(x, y). Rows are shared among threads; the result is
// the same as a serial loop's.
void ResampleFrame(const ImageData &image, const ImageTransform &transform, UShortMatrix &target);

// Keeps the inclusive rectangle x0..x1, y0..y1 of frame 0 (corners in either order, clamped to the
// image) as a one-frame image; XLo = x0, YLo = y0, XHi and YHi its far corner; ShiftX and ShiftY
// grow by x0 and y0. False, and nothing changed, for an empty image.
bool CropImage(ImageData &image, int x0, int y0, int x1, int y1);
