#pragma once
// Dark-frame (thermal) and flat-field correction of an image from calibration frames on disk.
//
// Dark step, per pixel p with dark pixel T:
//     p := trunc(p - offset level of the image - T x bottom dark level of the image / D)
// where D is the dark frame's offset level (raised to 1 when below 1, so a dark frame that carries
// no offset level cannot turn the image into NaN); results below 0 give 0.
// Flat step, after the dark step, per pixel p with flat pixel F (raised to 1 when 0):
//     p := trunc(p x offset level of the flat frame / F), at most 65535.
// A flat frame without a positive offset level (one from a file that does not carry it) would
// turn every pixel into 0: it is refused, and the image left as it was.
// Afterwards the image's top dark, bottom dark and offset levels and its display offset are 0 and
// its gain shows the brightest corrected pixel at full scale.
#include <string>

class ImageData;

struct PhotometricCorrectionRequest {
    ImageData *Image = nullptr; // the target; frame 0 is corrected
    std::string ThermalFrameFile;
    bool UseThermal = false;
    std::string FlatFrameFile;
    bool UseFlat = false;
};

// What a correction did. The image's DarkApplied / FlatApplied flags are set exactly for the
// steps that ran (and left as they were otherwise).
struct PhotometricResult {
    bool DarkApplied = false;
    bool FlatApplied = false;
    bool Failed = false; // a calibration frame could not be read or had another size (reported)
};

// Messages shown (caption "Korvi", OK) when a correction cannot be made; the image is then unchanged.
inline constexpr const char *ThermalFrameUnreadable = "Could not open thermal frame file.";
inline constexpr const char *FlatFrameUnreadable = "Could not open flat frame file.";
inline constexpr const char *CalibrationSizeMismatch =
    "Photometric correction images have different dimensions, cannot apply processing.";
inline constexpr const char *FlatFrameWithoutLevel =
    "The flat frame carries no offset level to scale by, cannot apply processing.";

// Loads the requested frames and corrects the image; nothing happens when neither flag is set.
// Failures are reported through the message hooks and leave the image as it was.
PhotometricResult ApplyPhotometricCorrection(const PhotometricCorrectionRequest &request);

// The arithmetic alone, with frames already in memory (null for a step that is not wanted). Each
// given frame must have the image's width and height, and a flat frame a positive offset level
// (otherwise nothing changes and the result is Failed, without a message).
PhotometricResult CorrectWithFrames(ImageData &image, const ImageData *dark, const ImageData *flat);
