#pragma once
// Statistics of a rectangle of an image as the statistics window shows and saves them: the region
// chosen through four 1-based corner numbers, its results, and the statistics file (a small CSV
// with the results, the region and the non-empty histogram bins).
#include <cstdint>
#include <string>

class ImageData;

struct StatisticsResult {
    float Mean = 0.0f;
    float Median = 0.0f;
    float StandardDeviation = 0.0f;
    std::int32_t Minimum = 0;
    std::int32_t Maximum = 0;
    std::int32_t Mode = 0; // the most frequent value
};

// The four corner numbers of the statistics window. The region they describe covers columns
// XLo - 1 .. XHi - 2 and rows YLo - 1 .. YHi - 2 (the upper numbers are one past the last pixel,
// counted from 1), cut to the image.
struct StatisticsCorners {
    int XLo = 1, XHi = 1, YLo = 1, YHi = 1;
};

// Corners of the whole image (1, width + 1, 1, height + 1), in the image's own pixels whatever
// sub-frame of the sensor it was taken from.
StatisticsCorners FullImageCorners(const ImageData &image);
// Corners of the image's selection (inclusive pixel corners SelX0..SelX1, SelY0..SelY1, in either
// order).
StatisticsCorners SelectionCorners(const ImageData &image);

// Statistics of frame 0 of image over the corners' region (every pixel counts: ceiling 65535);
// histogram (65536 entries) receives the counts.
StatisticsResult ComputeCornerStatistics(const ImageData &image, const StatisticsCorners &corners,
                                         std::uint32_t *histogram);

// The statistics file's text: results, corners and one "value, count" line per non-empty value
// from the minimum to the maximum. Decimal numbers use decimalSeparator.
std::string StatisticsFileText(const StatisticsResult &result, const StatisticsCorners &corners,
                               const std::uint32_t *histogram, char decimalSeparator);
// Writes that text to path (an existing file is replaced only once the new one is complete);
// false, with a message, when it could not be written.
bool WriteStatisticsFile(const std::string &path, const StatisticsResult &result,
                         const StatisticsCorners &corners, const std::uint32_t *histogram);
// The name a chosen file is written under: ".csv" appended when its file-name part holds no '.'.
std::string StatisticsFileName(const std::string &chosen);
