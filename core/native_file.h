#pragma once
// The program's own image file (extension kvr): a text header of "KEY: value" lines, a binary copy
// of the image's palette, then frame 0 as unsigned 16-bit little-endian pixels, column after
// column, each column from row 0 up.
//
//   KORVI_IMAGE_FILE
//   VERSION: 3.2
//   FILENAME: ... (22 key lines, see NativeHeaderKeys)
//   <empty line>
//   END_HEADER******************
//   palette: 3 x 61 x 2 point floats, 3 segment counts, 3 x 20 symmetry flags, 4 bytes each (LE)
//   END_PALETTE******************
//   pixels
//
// The image size is not stored as such: it follows from the sub-frame limits X_LO..X_HI and
// Y_LO..Y_HI, either as they are or divided by the binning (frames read out binned keep the
// sensor limits); the reader takes whichever matches the pixel bytes in the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class ImageData;
class PPalette;

inline constexpr std::string_view NativeFileTag = "KORVI_IMAGE_FILE";
inline constexpr std::string_view NativeVersionLine = "VERSION: 3.2";
inline constexpr std::string_view NativeHeaderEnd = "END_HEADER******************";
inline constexpr std::string_view NativePaletteEnd = "END_PALETTE******************";
// Bytes of the palette block the writer stores: 366 point floats, 3 counts, 60 flags.
inline constexpr std::size_t NativePaletteBytes = (3 * 61 * 2 + 3 + 3 * 20) * 4;

// The float picture of the header: up to seven significant digits, no trailing zeros in the
// fraction, an exponent of at least two digits ("8.125e+02", "-1.5e-03", "0e+00").
std::string FormatNativeFloat(double value, char decimalSeparator);

// The value of the first header line that begins with key: the text after the key, its colon and
// blank, trimmed. Empty when no line of the header (the text before END_HEADER) begins with key.
std::string FindNativeHeaderValue(std::string_view header, std::string_view key);

// Where the parts of an own-format file lie, found from its first bytes and its total size.
struct NativeLayout {
    std::string Header; // the lines between the first line and END_HEADER
    std::size_t PaletteStart = 0;
    std::size_t PaletteSize = 0; // bytes between the END_HEADER line and the END_PALETTE marker
    std::size_t PixelStart = 0;
    int Width = 0;
    int Height = 0;
};

// Parses the start of a file (at least up to its END_PALETTE line) whose whole length is
// fileSize. False with a sentence for the user when it is not a readable own-format file.
bool ParseNativeLayout(const std::uint8_t *data, std::size_t size, std::uint64_t fileSize,
                       NativeLayout &layout, std::string &error);

// Takes the palette items a block holds (as many as fit in size bytes, in the stored order) into
// palette and builds its tables. Damaged values are tamed so the table build stays bounded: point
// coordinates that are not finite become 0, x is kept to 0..1, segment counts to 1..20; a flag
// other than 0 reads as set.
// The tables are built as PPalette::RefreshTables(known) builds them: taken from palette itself or
// from `known` where they would come out the same.
void ReadNativePalette(const std::uint8_t *block, std::size_t size, PPalette &palette,
                       const PPalette *known = nullptr);

// Writes the file; false (after a message) when it could not be written whole. An existing file is
// replaced only when the new one is complete.
bool WriteNativeImage(const std::string &path, const ImageData &image);

// Reads the size of an own-format file; false after a message when it cannot be read.
bool ProbeNativeImage(const std::string &path, int &width, int &height);

// Reads the file into an image allocated as width x height x 1 (LoadImageFile does it). Header
// fields as stored, DisplayOffset taken from OffsetLevel when it is 0, the palette from the file,
// Brightest and Dimmest measured from the pixels. False after a message when it cannot be read.
// `known` is a palette whose tables may serve the file's palette (ReadNativePalette).
bool ReadNativeImage(const std::string &path, ImageData &image, const PPalette *known = nullptr);
