#pragma once
// Frame arithmetic of batch processing: summing, subtracting, building dark and flat frames from a
// list of files, and correcting frames for dark, flat, bad columns and hot pixels; with the
// per-file loop they share (load, size check, skip question, progress, cancel) and the readers of
// the hot-pixel and bad-column lists.
//
// Files are streamed: a sum or a built frame holds its 32-bit accumulator and one loaded image at
// a time, never the whole list.
#include "image_data.h"
#include "matrix.h"
#include "processing/problem_pixels.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Messages (caption "Korvi").
inline constexpr const char *NoFilesSelected = "No files selected for processing.";
inline constexpr const char *CannotSumOneFile = "Cannot sum only one file!";
inline constexpr const char *FramesDifferInSize = "Images have different dimensions, cannot proceed.";
inline constexpr const char *SubtractSizeDiffers = "Image has different size from image being subtracted.";
inline constexpr const char *NothingAboveBias =
    "Every pixel of the listed images is at or below its bias level; no frame was made.";
inline constexpr const char *CannotOpenBadColumnList = "Could not open bad-column list file.";
inline constexpr const char *CannotOpenHotPixelList = "Could not open hot-pixel map file.";
inline constexpr const char *TooManyBadColumns =
    "The bad-column list holds more than 128 lines; at most 128 columns can be fixed. Nothing was processed.";
static_assert(MaxBadColumns == 128, "TooManyBadColumns names the table size");

// "Could not open file: <name>. Skip file and proceed?" (Yes/No); true for Yes.
bool AskSkipUnreadable(const std::string &name);
// "File: <name> is W x H pixels, not W0 x H0 like the first image. Skip file and proceed?"
bool AskSkipMismatch(const std::string &name, int width, int height, int expectedWidth, int expectedHeight);

// The per-file loop of every batch operation. Each listed file is loaded into `image` (whose
// previous pixels are released first); a file that cannot be loaded, or whose size differs from
// the expected size, gets the skip question: Yes skips it, No ends the run (with MismatchEnds set,
// a size that differs ends the run with that message). `each` gets every
// loaded image and returns false to end the run. Cancel is tested before every file, so a
// cancelled run leaves the files it has not reached untouched. Progress goes to Ui().
struct ListedImageLoop {
    int ExpectedWidth = 0, ExpectedHeight = 0; // 0: the first loaded image fixes the size
    bool CheckSize = true;
    // When set, an image of another size shows this message (OK) and ends the run instead of the
    // skip question.
    const char *MismatchEnds = nullptr;
    std::function<bool()> Cancelled; // may be empty
};
struct LoopResult {
    int Loaded = 0;
    int Skipped = 0;
    bool Stopped = false;   // No to a skip question, or `each` said stop
    bool Cancelled = false; // the cancel test said stop
    int Width = 0, Height = 0;
};
LoopResult ForEachListedImage(const std::vector<std::string> &files, ImageData &image,
                              ListedImageLoop options,
                              const std::function<bool(ImageData &, int index)> &each);

// A 32-bit sum of frames of one size.
class FrameAccumulator
{
public:
    void Start(int width, int height); // all zero
    // acc += trunc(p - bias) for every pixel p at or above the bias; pixels below add nothing.
    void AddAboveBias(const ImageData &image, double bias);
    // acc += p.
    void Add(const ImageData &image);
    std::uint32_t Maximum() const;
    const UIntMatrix &Sums() const { return sums_; }
    void Free() { sums_.Free(); }

private:
    UIntMatrix sums_;
};

enum class CalibrationFrameKind { Dark, Flat };

struct BuiltFrame {
    bool Made = false;
    std::uint32_t Maximum = 0; // M, the largest accumulator value
    float Median = 0.0f;       // m, the median of the central half
};
// Builds a dark or flat frame from the listed files (each bias-subtracted by its offset level,
// summed, scaled so the largest sum is 65535) into `result`, which ends with the last loaded
// image's header, the description of the kind, offset level m (median of the central half), gain
// 65535 / (M - m) (1 when not positive) and top dark, bottom dark and sky level 0. An image of
// another size ends the run ("Images have different dimensions, cannot proceed."). Nothing is made (a message
// says why, where there is one) when no file could be loaded, the run was ended or cancelled, or every sum is
// 0.
BuiltFrame BuildCalibrationFrame(const std::vector<std::string> &files, CalibrationFrameKind kind,
                                 ImageData &result, const std::function<bool()> &cancelled = {});

// Sum of the listed files into `result` (the last loaded image's header): pixel := sum, divided by
// the number loaded when averaging, at most 65535; offset level := (integer sum of truncated
// offset levels) div loaded; top dark, bottom dark and sky level 0. False when nothing was loaded
// or the run was ended (No, cancel).
bool SumListedImages(const std::vector<std::string> &files, bool average, ImageData &result,
                     const std::function<bool()> &cancelled = {});

// p := trunc(p - s x weight) clamped to 0..65535 over the width and height common to both;
// returns the largest result (1 when it is 0).
int SubtractWeighted(ImageData &image, const ImageData &reference, double weight, int width, int height);
// The header of a subtraction or correction result of size W x H: sensor and image size W x H,
// sub-frame 0..W-1, 0..H-1, binning 1, top dark, bottom dark and offset level 0, gain 65535 / maximum,
// origin format.
void SetResultHeader(ImageData &image, int width, int height, int maximum, int originFormat);

// Dark and flat correction of one image of the frames' size. `dark` and `flat` may be null; the
// dark frame's offset level below 1 counts as 1, a flat pixel below 1 as 1. The flat frame's
// offset level must be positive (checked by the caller with FlatNormalisationUsable). Returns the
// largest pixel written (1 when it is 0); with neither frame the largest pixel of the image.
int CorrectDarkFlat(ImageData &image, const ImageData *dark, const ImageData *flat);
bool FlatNormalisationUsable(const ImageData &flat);
inline constexpr const char *FlatNormalisationZero =
    "The flat frame's offset level (its normalisation) is not above 0, so it cannot scale the images; "
    "nothing was processed.";
// Replaces each listed column over its rows (clipped to the image) by the smaller of its
// neighbours (column 0 by column 1, the last column by the one before it). Returns the number of
// entries that lay partly or wholly outside the image (those parts are left alone).
int FixBadColumns(ImageData &image, const std::vector<BadColumnEntry> &columns);
// Replaces each listed pixel, in list order, by the integer mean of its existing 4-neighbours; an
// entry outside the image ends the pass.
void FixHotPixels(ImageData &image, const std::vector<PixelPosition> &pixels);
