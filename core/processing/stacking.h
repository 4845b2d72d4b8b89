#pragma once
// Registration and combination of a numbered series of frames. Each frame is registered on one
// or two stars against a reference (the shift of the first star, and with two stars the rotation
// of the line between them), resampled into the crop frame and combined by median, average or
// sum. Frames are streamed: the average and the sum hold one input frame and an accumulator; the
// median keeps every registered frame, cropped and already bias-subtracted and normalised, as
// 16-bit rows in bands of a bounded number of rows, and takes the median band by band.
#include "image_data.h"

#include <functional>
#include <string>
#include <vector>

enum class CombineMethod { Median = 0, Average = 1, Sum = 2 };
enum class StackAlignment { None = 0, SingleBox = 1, TwoBoxes = 2 };

// An inclusive rectangle of pixel columns left..right and rows top..bottom.
struct StackRect {
    int Left = 0, Right = 0, Top = 0, Bottom = 0;
};

// How frame k is placed on the reference: its pixel (x, y) in reference coordinates is sampled by
// SampleTransformedPixel(frame, x, y, Dx, Dy, Angle, x1, y1, 1, 1), (x1, y1) the frame's star 1.
struct StackRegistration {
    float Dx = 0.0f, Dy = 0.0f, Angle = 0.0f;
};

struct StackOptions {
    CombineMethod Combine = CombineMethod::Median;
    StackAlignment Alignment = StackAlignment::TwoBoxes;
    bool Normalize = true;    // median: scale every frame to frame 1's level
    bool SubtractBias = true; // median: take each frame's offset level off
    StackRect Crop, Box1, Box2;
};

// What one run measured, frame by frame (index k - 1 for frame k).
struct StackRun {
    std::vector<StackRegistration> Registrations;
    std::vector<float> Biases;
    std::vector<double> Factors; // median normalisation factors (1 when not normalised)
};

// Loads frame k (1..n) into frame; on failure false with the message to show.
using StackFrameLoader = std::function<bool(int k, ImageData &frame, std::string &problem)>;
// Receives the status texts of the run.
using StackStatus = std::function<void(const std::string &text)>;

// The star in a box of frame 0: FindStarCentroid of the box cut-out (clipped to the image) plus
// the box's left and top. False, position untouched, when the box lies outside the image.
bool BoxStarPosition(const ImageData &image, const StackRect &box, float &x, float &y);

// Shift of star 1 (reference minus frame) and, with two stars, the rotation angle
// asin((a.x b.y - b.x a.y) / (|a| |b|)) of b = frame star 2 - star 1 against a = the same in the
// reference; the sine is clamped to -1..1, and an angle is 0 when either pair of stars coincides.
StackRegistration RegistrationOf(float refX1, float refY1, float refX2, float refY2, float frameX1,
                                 float frameY1, float frameX2, float frameY2, bool twoStars);

// The files of a series: prefix + decimal (k + first - 1) + "." + extension for k = 1..n. Missing
// files give "Could not find file: " and unreadable ones "Could not open file: " with the name
// without its folder.
StackFrameLoader SeriesFileLoader(const std::string &prefix, int first, const std::string &extension);

// Stacks frames 1..n. With alignment the reference gives the size W x H and the star positions;
// without it the first frame gives the size and the crop becomes its whole area. Every frame must
// have the size W x H. The crop frame is clipped to the image. result becomes the combined image
// (crop width x crop height, one frame) with the header of the last frame loaded and the sizes,
// sub-frame and levels of a stacked image. False with the message to show when n < 1, a frame
// cannot be loaded, sizes differ or the crop is empty; result is then untouched.
bool StackSeries(const ImageData &reference, int n, const StackOptions &options, const StackFrameLoader &load,
                 const StackStatus &status, ImageData &result, StackRun *run, std::string &problem);

// Rows per band of the median's frame store.
inline constexpr int MedianBandRows = 32;
