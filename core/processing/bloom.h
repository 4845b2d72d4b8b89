#pragma once
// Bloom and star removal. Saturated stars leave vertical trails along their CCD columns; each
// trail is refilled from the background interpolated between the neighbouring columns, with
// synthetic noise. Stars are removed or counted; a selected rectangle can be replaced by a
// resampled copy. All work in place on frame 0; rows are the readout direction.
#include "processing/stars.h"

#include <cstdint>
#include <random>

class ImageData;

// Uniform and normally distributed numbers for the synthetic noise, from a seeded generator so a
// result repeats. Gaussian draws come in pairs (polar Box-Muller): every other call returns the
// cached partner of the previous one.
class NoiseSource
{
public:
    explicit NoiseSource(std::uint32_t seed = 1) : generator_(seed) {}
    // (random mod 100000) x 0.00001: 0 .. 0.99999.
    float UniformRandom();
    // A normal deviate scaled by 0.9090909.
    float GaussianRandom();

private:
    std::mt19937 generator_;
    bool cached_ = false;
    float cache_ = 0.0f;
};

struct BloomOptions {
    std::uint16_t threshold = 60000; // a pixel above it is saturated
    bool flip = false;               // the readout runs from the bottom row up
    bool removeStreaks = false;      // refill the column above the trail too (transfer streaks)
    float streakThreshold = 3.0f;    // ... except pixels more than this many noise levels above the sky
    bool removeSmear = false;        // refill the column below the trail too (readout smear)
    float noise = 10.0f;             // noise level N of the sky
    std::uint32_t seed = 1;          // of the synthetic noise
};

// Smallest image the bloom and star removal work on (their search boxes need the room).
inline constexpr int MinBloomImageSide = 32;

// Removes the trails of every saturated star. False, with a message and the image unchanged, when
// the image is smaller than MinBloomImageSide in either direction.
bool RemoveBlooming(ImageData &image, const BloomOptions &options);

// Fills the blob around (column, row) whose pixels reach min(background + 3 noise, levelCap) with
// fillValue, up to 15 rows and columns from the start, as the star removal does.
void FillStarRegion(ImageData &image, int column, int row, int background, int noise, int levelCap,
                    std::uint16_t fillValue);

// Smooths a copy (3 x 3 median, Gaussian of sigma 1), measures the sky (background, noise) in the
// 100 x 100 box at the centre, fills the stars reaching brightLevel with the background and then
// those reaching acceptableLevel with 0, counting the latter. With writeBack the copy replaces the
// image. Returns the number of acceptable stars, -1 (with a message) for an image that is too small.
int DetectAndRemoveStars(ImageData &image, float &background, float &noise, int acceptableLevel,
                         int brightLevel, bool writeBack);

// Replaces columns SelX0 .. SelX1-1 and rows SelY0 .. SelY1-1 of frame 0 by their transformed
// samples. Nothing happens for a reversed, negative or out-of-image selection.
void TransformImageRegion(ImageData &image, const ImageTransform &transform);
