#pragma once
// Alignment of the composite's layers 2-5 onto layer 1. In every channel the user picks two
// reference stars; each star is refined on its layer, and per layer a rotation (from the line
// between the two stars), an optional scale (from that line's length) and a shift (of star 1) are
// worked out. Every loaded layer is then resampled into one cropping frame in layer 1's pixels, so
// that a star of layer 1 and the same star of any other layer fall on the same pixel.
#include "image_data.h"

#include <array>
#include <functional>
#include <span>
#include <string>

inline constexpr int AlignmentChannels = 5;

// The two reference stars picked in one channel, in pixels of that channel's layer. A star left at
// (0, 0) was never picked.
struct AlignmentStars {
    int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
};

// The inclusive cropping frame, columns XLo..XHi and rows YLo..YHi of layer 1.
struct AlignmentCrop {
    int XLo = 0, XHi = 0, YLo = 0, YHi = 0;
};

struct AlignmentOptions {
    std::array<AlignmentStars, AlignmentChannels> Stars{};
    AlignmentCrop Crop;
    bool TwoStars = true;         // rotation (and scale) from the line between the two stars
    bool ScaleCorrection = false; // otherwise every scale is 1
    float NudgeX = 0.0f, NudgeY = 0.0f;
};

// How one layer is placed on layer 1: pixel p of the cropping frame (layer 1 coordinates) takes the
// layer at  star + Scale R(Angle) (p - star - shift),  where star is the layer's refined star 1 and
// shift = layer 1's star 1 - star + nudge. So layer 1's star 1 (plus the nudge) takes the layer's
// star 1, and the line to star 2 is turned and stretched onto the layer's own.
struct ChannelAlignment {
    float StarX = 0.0f, StarY = 0.0f; // star 1 refined on this layer
    float Angle = 0.0f;               // radians, from layer 1's star line to this layer's
    float Scale = 1.0f;               // this layer's star line over layer 1's
    float ShiftX = 0.0f, ShiftY = 0.0f;
};

enum class AlignmentOutcome {
    Aligned,
    TooFewLayers, // fewer than two layers loaded: nothing to do, nothing said
    Refused,      // bad input: the reason is in `problem`, nothing changed
};

// Receives the progress of the resampling of channel 1-5 in percent of its columns.
using AlignmentProgress = std::function<void(int channel, int percent)>;

// Refines the stars and works out every loaded channel's placement (channel 1: no rotation, scale
// 1, no shift). With coincident stars on either layer the angle is 0 and the scale 1. Refused when
// layer 1 is empty, the cropping frame is reversed or reaches outside layer 1, or a needed star of a
// loaded channel was never picked.
AlignmentOutcome MeasureAlignment(std::span<const ImageData> layers, const AlignmentOptions &options,
                                  std::array<ChannelAlignment, AlignmentChannels> &channels,
                                  std::string &problem);

// Replaces the layer by the cropping frame of its frame 0 resampled (bilinear) under the
// placement: a one-frame image of crop width x crop height; its stored shift, angle and rotation
// centre become 0. Progress (the share of rows done) is reported whenever the percentage rises.
// Rows run in parallel; the result equals a serial run's. `channel` (0-4) names the layer in
// messages and in the progress. False, nothing changed, for an empty layer, an empty crop, a scale
// that is not a positive number, or an angle or shift that is not a number.
bool ResampleIntoCrop(ImageData &layer, const ChannelAlignment &placement, const AlignmentCrop &crop,
                      int channel, const AlignmentProgress &progress, std::string &problem);

// Measures and then resamples every loaded layer of the five (layer 1 is only cropped). Nothing
// changes unless every layer can be aligned: all are resampled before any is replaced. `measured`
// (optional) receives the placements.
AlignmentOutcome AlignLayers(std::span<ImageData> layers, const AlignmentOptions &options,
                             const AlignmentProgress &progress, std::string &problem,
                             std::array<ChannelAlignment, AlignmentChannels> *measured = nullptr);
