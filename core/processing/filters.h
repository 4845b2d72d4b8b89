#pragma once
// The pixel filters. Each works in place on frame 0 of an image; filters that read neighbours
// compute every output from the unfiltered input. Unless SilentProcessing is set they show the
// progress window with their own text. Rows are spread over the cores (OpenMP); every result is
// the same as the serial one.
//
// Results are whole numbers clamped to 0..65535 before they are stored.
#include "image_data.h"

#include <cstdint>

// One cell of the convolution table: primary (A) and secondary (B) kernel weight.
// Cell [m][n] weights the pixel at column x + m - c and row y + n - c (c = 1 for 3 x 3, 2 for 5 x 5);
// a 3 x 3 convolution uses the cells with both indices 0..2.
struct ConvolutionKernels {
    float Cell[5][5][2] = {};
};

// Single-kernel mode when every non-zero A cell of the used block lies on its centre row or
// centre column: SA / nA; otherwise the magnitude sqrt((SA / nA)^2 + (SB / nB)^2). nA, nB: the
// sums of the used cells, 1 when not positive. Edge pixels repeat.
void ApplyConvolution(ImageData &image, bool fiveByFive, const ConvolutionKernels &kernels);
// True when the used block of `kernels` runs in single-kernel mode.
bool IsSingleKernel(bool fiveByFive, const ConvolutionKernels &kernels);

// Gaussian of half-width sigma (>= 1) over the radius min(3 sigma, 15); pixels in the first or
// last column or row do not contribute and the weights are not renormalised.
void ApplyGaussianConvolution(ImageData &image, int sigma);
// The normalised 31 x 31 weight table of ApplyGaussianConvolution, w[i][j] for column offset
// i - 15 and row offset j - 15.
void GaussianWeightTable(int sigma, double (&weights)[31][31]);

// Every pixel becomes trunc(table[pixel]) (table: 65536 entries).
void ApplyHistogramEqualization(ImageData &image, const float *table);
// A pixel above high becomes high, then one below low becomes low.
void ClipImage(ImageData &image, int high, int low);
// pixel - t, 0 when negative.
void SubtractThreshold(ImageData &image, int t);
// Integer mean of the pixels inside the image within the disc of this radius (radius 0: as is).
void ApplyLocalAverage(ImageData &image, int radius);
// 16-bit minimum and maximum over the inclusive rectangle (clipped to the image).
void FindRegionMinMax(const ImageData &image, int &minimum, int &maximum, int x0, int y0, int x1, int y1);
// n x n window (odd n >= 1), edge pixels repeated: the pixel becomes the window's median when it
// differs from it by more than (maximum - minimum) x factor.
void ApplyMedianFilter(ImageData &image, int n, float factor);

// Structuring elements of the minimum/maximum filter (5 x 5 masks centred on cell (2, 2)).
enum StructuringElement { ElementPlus = 0, ElementSquare = 1, ElementDiamond = 2, ElementDisc = 3 };
extern const char *const StructuringElementRows[4][5]; // rows of '0'/'1', top row first
// Erosion (minimum) or dilation (maximum) over the element; offsets clamped to the image.
void ApplyMinMaxFilter(int element, bool minimum, ImageData &image);

// pixel = trunc(amount x (O + offset - blurred) + weight x O), the blur a Gaussian of sigma or
// a local average of radius.
void ApplyUnsharpMask(ImageData &image, int sigma, int radius, int offset, int amount, float weight,
                      bool useGaussian);

// Nearest-neighbour resampling to ceil(width x fx) x ceil(height x fy), one frame, binning 1.
// False (the image unchanged) for a factor that is not positive or a size that cannot be held.
bool ResizeImage(double fx, double fy, ImageData &image);

// Clamps a filter's floating result to the pixel range and truncates it toward zero.
inline std::uint16_t PixelFromFloat(double value)
{
    if (!(value > 0.0)) // also NaN
        return 0;
    if (value >= 65535.0)
        return 65535;
    return static_cast<std::uint16_t>(value);
}
