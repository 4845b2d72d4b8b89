#pragma once
// Problem pixels of the sensor and the two list files the calibration reads: the hot-pixel list
// (one "column, row" record a line) and the bad-column list (one "column, start row, end row"
// record a line). Detection runs on frame 0 of a dark frame (hot pixels) or of an evenly lit flat
// frame (bright and dim pixels); each frame's records are followed by a closing record (width - 1,
// height - 1) from which a reader learns the frame's size.
#include "image_data.h"

#include <cstdint>
#include <string>
#include <vector>

struct PixelPosition {
    int Column = 0;
    int Row = 0;
};

struct BadColumnEntry {
    int Column = 0;
    int StartRow = 0;
    int EndRow = 0;
};

// The bad-column table of the calibration holds this many entries.
inline constexpr int MaxBadColumns = 128;

// One "%i, %i\n" record per pixel of frame 0 whose value is above hotLevel, columns outermost
// (x from 0 up, within each x the rows from 0 up), then the closing record. Returns the number of
// listed pixels (the closing record does not count). An empty image adds nothing.
long AppendHotPixelRecords(const ImageData &frame, int hotLevel, std::string &text);
// The same for pixels above brightLevel or below dimLevel.
long AppendFlatProblemRecords(const ImageData &frame, int brightLevel, int dimLevel, std::string &text);

// One bad-column record, "%i, %i, %i\n".
std::string BadColumnRecord(const BadColumnEntry &entry);

// The text of a list file split into its lines (without line ends); false with a message text when
// the file cannot be read.
bool ReadListLines(const std::string &path, std::vector<std::string> &lines, std::string &problem);

// Reads a hot-pixel list: each line split at its last ','; the row is the trimmed text after it,
// the column the trimmed text before it. Blank lines are passed over. A text that is not an
// integer, or a coordinate outside 0..65535, stops the read with a message text naming the line.
bool ReadHotPixelList(const std::string &path, std::vector<PixelPosition> &pixels, std::string &problem);
// Reads a bad-column list: end row after the last ',', start row after the last ',' of the rest,
// column before it; the same checks. Every line is read: a caller whose table holds MaxBadColumns
// entries decides what to do with a longer list.
bool ReadBadColumnList(const std::string &path, std::vector<BadColumnEntry> &columns, std::string &problem);

// The message for a text that is not an integer.
std::string NotAnIntegerText(const std::string &text);

// The pixel map: a one-frame image of (largest column + 1) x (largest row + 1) pixels, 0 but for
// the listed pixels, which are 65535. False with a message text for an empty list or a size too
// large to hold.
bool BuildPixelMapImage(const std::vector<PixelPosition> &pixels, ImageData &image, std::string &problem);

// Writes text to path under a temporary name and renames it onto path, so a failed write leaves
// the previous file whole. False when anything failed.
bool WriteListFile(const std::string &path, const std::string &text);
