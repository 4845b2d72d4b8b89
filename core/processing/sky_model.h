#pragma once
// Sky background removal and logarithmic rescaling, in place on frame 0 (the sky model) or on
// every pixel (the log scale).
//
// The sky model is a polynomial of order n in x (column) and y (row, row 0 at the bottom) without
// cross terms: S(x, y) = c[0] + sum over k = 1..n of (c[2k-1] x^k + c[2k] y^k). It is fitted by
// least squares to the darkest pixels of small windows around jittered grid points, and
// subtracted leaving a pedestal of 75.
#include <cstdint>
#include <vector>

class ImageData;

struct SkySample {
    int x = 0, y = 0, value = 0;
};

inline constexpr int SkyPedestal = 75;
// At most this many samples enter a fit (64 x 64 grid points, so orders up to 31).
inline constexpr int MaxSkySamples = 4096;
// The jitter of the sample grid comes from a generator with this seed, so a fit repeats.
inline constexpr std::uint32_t SkySampleSeed = 20261209;

// The m x m jittered grid samples (m = 2n + 1) of frame 0. False, with no samples, when the order
// is below 1, the grid would exceed MaxSkySamples or the image is too small for the grid's jitter
// (narrower or lower than 2 x (2n + 2) pixels).
bool SampleSky(const ImageData &image, int order, std::uint32_t seed, std::vector<SkySample> &samples);
// Least-squares coefficients (2n + 1) through JAMA's QR decomposition. False, with the
// coefficients untouched, when there are fewer samples than coefficients or the samples do not
// determine them (a rank-deficient fit).
bool SolveSkyModel(const std::vector<SkySample> &samples, std::vector<float> &coefficients, int order);
// p := p - trunc(S) + 75 where S <= p (held at 65535), else 0; the model is evaluated in double
// from powers computed once per column and once per row.
void SubtractSkyModel(ImageData &image, const std::vector<float> &coefficients, int order);
// The three steps above; a refused sampling or fit is reported and leaves the image unchanged.
bool FitAndSubtractSkyModel(ImageData &image, int order, std::uint32_t seed = SkySampleSeed);
// Every pixel p becomes trunc(65535 / log10(range + 1) x log10(max(p - floor, 1))), held to
// 0..65535. A range below 1 is refused (reported), leaving the image unchanged.
bool ApplyLogScale(ImageData &image, int floor, int range);
