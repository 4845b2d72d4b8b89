#pragma once
// Convolution filter files (".qzk"): the kernels of the processing dialog's editor. Binary,
// little-endian: the line "Quentarbolisk filter format" and the name of the filter list entry,
// each ended by CR LF, then int16 kernel size (0 = 3 x 3, 1 = 5 x 5), int16 list entry (0..5) and
// the 400 float32 kernel weights in their table order (column, row, power, size, matrix; matrix
// fastest).
#include <cstdint>
#include <string>

// Kernel weights indexed [column 0..4][row 0..4][power 0..3][size 0..1][matrix 0..1].
using FilterKernelTable = float[5][5][4][2][2];

struct ConvolutionFilterFile {
    std::string Name; // the list entry's text at saving
    std::int16_t KernelSize = 0;
    std::int16_t Entry = 0;
    FilterKernelTable Kernels = {};
};

inline constexpr const char *FilterFileHeader = "Quentarbolisk filter format";
inline constexpr int FilterListEntries = 6;

enum class FilterFileResult { Ok, CannotOpen, NotAFilterFile, Damaged };

// Reads a whole filter file into `file`; on any result but Ok `file` is left unchanged. A file
// whose size or entry is out of range, or that ends early, is Damaged.
FilterFileResult ReadConvolutionFilterFile(const std::string &path, ConvolutionFilterFile &file);
// Writes the file; false (reported) when it could not be written whole.
bool WriteConvolutionFilterFile(const std::string &path, const ConvolutionFilterFile &file);

// The six filters the program ships (entries 0..5: low pass, high pass, Laplacian, Sobel,
// Prewitt, user defined) and their file names under the program directory.
ConvolutionFilterFile ShippedFilter(int entry);
extern const char *const ShippedFilterFileNames[FilterListEntries]; // "Filters/Lowpass.qzk", ...
extern const char *const FilterListTexts[FilterListEntries];        // "Low pass filter", ...
