#pragma once
// PNG images through libpng: 16-bit greyscale, frame 0 only, with the image header as 22 tEXt
// entries. The layout keeps what files of earlier versions of the program hold: rows are stored
// bottom-up (the first row of the file is the image's last row) and every 16-bit sample low byte
// first, the reverse of the usual PNG byte order. 8-bit greyscale files are read with values
// 0..255; interlaced files are read as well.
#include <string>
#include <string_view>

class ImageData;

// The keys of the 22 text entries, in the order they are written.
inline constexpr std::string_view PngTextKeys[22] = {
    "Original filename",
    "Creation date",
    "Creation time",
    "Description",
    "Filters",
    "Integration time",
    "CCD temperature",
    "Highest pixel intensity",
    "Lowest pixel intensity",
    "CCD max num columns",
    "CCD max num rows",
    "horizontal pixel bins",
    "vertical pixel bins",
    "CCD lowest X coordinate",
    "CCD highest X coordinate",
    "CCD lowest Y coordinate",
    "CCD highest Y coordinate",
    "Dark level in top rows of CCD",
    "Dark level in bottom rows of CCD",
    "Readout offset level",
    "Display offset level",
    "Sky level",
};

// Writes frame 0; false (after a message) when the file could not be written whole. An existing
// file is replaced only when the new one is complete.
bool WritePngImage(const std::string &path, const ImageData &image);

// Reads the size of a greyscale PNG of bit depth 8 or 16. Shows "Unsupported color mode (must be
// 8 or 16-bit grayscale)." for other kinds, and a message for damaged files; false then.
bool ProbePngImage(const std::string &path, int &width, int &height);

// Reads the PNG into an image allocated as width x height x 1 (LoadImageFile does it). When the
// file carries the program's 22 text entries they fill the header; otherwise the header describes
// a full frame with "not specified" texts. False after a message when it cannot be read.
bool ReadPngImage(const std::string &path, ImageData &image);
