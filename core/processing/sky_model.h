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

// A fitted sky. The order and the coefficients travel with the scaling of the coordinates they
// were fitted in, so whoever keeps a fit evaluates it as it was made, whatever an order control
// shows later. The fit is made in u = (x - CentreX) / SpanX and v = (y - CentreY) / SpanY, which
// bring the samples into -1..1: raw pixel powers (x^9 near 1e29 beside a constant of 1) would make
// full-rank fits look undetermined. The default scaling is the identity (coefficients in pixels).
struct SkyModel {
    int Order = 0;                   // 0: nothing fitted
    std::vector<float> Coefficients; // 2 x Order + 1: c[0], then c[2k-1] of u^k and c[2k] of v^k
    double CentreX = 0.0, CentreY = 0.0, SpanX = 1.0, SpanY = 1.0;

    bool Valid() const;
    // S at column x and row y, in double precision.
    double Evaluate(double x, double y) const;
};

// The m x m jittered grid samples (m = 2n + 1) of frame 0. False, with no samples, when the order
// is below 1, the grid would exceed MaxSkySamples or the image is too small for the grid's jitter
// (narrower or lower than 2 x (2n + 2) pixels).
bool SampleSky(const ImageData &image, int order, std::uint32_t seed, std::vector<SkySample> &samples);
// Least-squares fit of order n (2n + 1 coefficients) through JAMA's QR decomposition, in the
// coordinates scaled to the samples' extent. False, with the model untouched, when there are
// fewer samples than coefficients or the samples do not determine them (a rank-deficient fit).
bool SolveSkyModel(const std::vector<SkySample> &samples, SkyModel &model, int order);
// p := p - trunc(S) + 75 where S <= p (held at 65535), else 0; S is evaluated in double from
// powers computed once per column and once per row, then rounded to single precision. An invalid
// model changes nothing.
void SubtractSkyModel(ImageData &image, const SkyModel &model);
// The three steps above; a refused sampling or fit is reported and leaves the image unchanged.
bool FitAndSubtractSkyModel(ImageData &image, int order, std::uint32_t seed = SkySampleSeed);
// Every pixel p becomes trunc(65535 / log10(range + 1) x log10(max(p - floor, 1))), held to
// 0..65535. A range below 1 is refused (reported), leaving the image unchanged.
bool ApplyLogScale(ImageData &image, int floor, int range);
