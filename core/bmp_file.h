#pragma once
// Windows bitmaps: a small decoder for the files users open as images (8-bit palette, 24-bit and
// 32-bit, bottom-up and top-down rows), read as greyscale, and a 24-bit writer for saved views.
// The decoder works on bytes in memory so that it can be checked on malformed input directly.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ImageData;

// Where the pixels of a checked bitmap lie in its bytes.
struct BmpLayout {
    int Width = 0;
    int Height = 0;              // always positive; TopDown tells the row order
    bool TopDown = false;        // first stored row is the top row of the picture
    int BitCount = 0;            // 8, 24 or 32
    std::size_t PixelOffset = 0; // offset of the first stored row
    std::size_t RowStride = 0;   // bytes per stored row, padded to 4
    std::uint32_t Masks[3] = {0x00ff0000u, 0x0000ff00u, 0x000000ffu}; // red, green, blue (32-bit)
    std::vector<std::uint8_t> Colours; // 8-bit: palette as R, G, B triples (256 entries)
};

// Checks the file and information headers and that every row lies inside the data. On failure
// returns false with a sentence for the user in error.
bool ParseBmpLayout(const std::uint8_t *data, std::size_t size, BmpLayout &layout, std::string &error);
// The same for a file read in part: the headers and the colour table must lie in the first
// `available` bytes at data; the rows are checked against the whole file's size.
bool ParseBmpLayout(const std::uint8_t *data, std::size_t available, std::uint64_t fileSize,
                    BmpLayout &layout, std::string &error);

// The grey value of a colour: trunc((red + green + blue) x 85.6666), the scaling bitmaps have always
// been read with (a sum divisible by 3 reads one count below sum x 257 / 3); white, whose product
// falls just short, is 65535.
inline std::uint16_t BmpGrey(unsigned red, unsigned green, unsigned blue)
{
    const unsigned sum = red + green + blue;
    return sum >= 765u ? std::uint16_t{65535} : static_cast<std::uint16_t>(sum * 85.6666);
}

// Converts the pixels into grey rows: image row y (counted from the bottom of the picture) goes to
// rows[y], Width values each. The layout must come from ParseBmpLayout on the same bytes.
void DecodeBmpGrey(const std::uint8_t *data, const BmpLayout &layout, std::uint16_t *const *rows);
// Converts one stored row (its bytes at in) into Width grey values.
void DecodeBmpRow(const std::uint8_t *in, const BmpLayout &layout, std::uint16_t *out);

// Reads the bitmap's size; shows a message and returns false when the file is not a bitmap this
// decoder reads.
bool ProbeBmpImage(const std::string &path, int &width, int &height);

// Reads the bitmap into an image already allocated as width x height x 1 (LoadImageFile does it):
// grey pixels, header texts "not specified", geometry of a full frame, default palette.
bool ReadBmpImage(const std::string &path, ImageData &image);

// Writes a 24-bit bitmap of width x height pixels from RGBA bytes (4 per pixel). rgbaRows[0] is
// the bottom row of the picture when bottomRowFirst, else the top row. Shows a message and
// returns false when the file cannot be written; an existing file is replaced only on success.
bool WriteBmpImage(const std::string &path, int width, int height, const std::uint8_t *rgba,
                   bool bottomRowFirst);
