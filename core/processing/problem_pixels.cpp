#include "problem_pixels.h"

#include "image_file.h"
#include "text_format.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace
{

template <typename Listed> long AppendRecords(const ImageData &frame, Listed listed, std::string &text)
{
    if (frame.Empty || frame.Width <= 0 || frame.Height <= 0)
        return 0;
    long count = 0;
    char record[32];
    for (int x = 0; x < frame.Width; ++x)
        for (int y = 0; y < frame.Height; ++y)
            if (listed(frame.Rows[y][x])) {
                text.append(record,
                            static_cast<std::size_t>(std::snprintf(record, sizeof record, "%i, %i\n", x, y)));
                ++count;
            }
    text.append(record, static_cast<std::size_t>(std::snprintf(record, sizeof record, "%i, %i\n",
                                                               frame.Width - 1, frame.Height - 1)));
    return count;
}

// Converts one field of a list line; a coordinate must fit the calibration's 16-bit tables.
bool FieldValue(std::string_view field, int lineNumber, const std::string &path, int &value,
                std::string &problem)
{
    const std::string_view trimmed = TrimText(field);
    std::int32_t parsed = 0;
    if (!ParseIntText(trimmed, parsed)) {
        problem = NotAnIntegerText(std::string(trimmed));
        return false;
    }
    if (parsed < 0 || parsed > 65535) {
        problem = "Pixel coordinate " + std::to_string(parsed) + " out of range on line " +
                  std::to_string(lineNumber) + " of " + path + ".";
        return false;
    }
    value = parsed;
    return true;
}

bool Blank(const std::string &line)
{
    return TrimText(line).empty();
}

} // namespace

long AppendHotPixelRecords(const ImageData &frame, int hotLevel, std::string &text)
{
    return AppendRecords(
        frame, [hotLevel](int v) { return v > hotLevel; }, text);
}

long AppendFlatProblemRecords(const ImageData &frame, int brightLevel, int dimLevel, std::string &text)
{
    return AppendRecords(
        frame, [=](int v) { return v > brightLevel || v < dimLevel; }, text);
}

std::string BadColumnRecord(const BadColumnEntry &entry)
{
    char record[48];
    const int n =
        std::snprintf(record, sizeof record, "%i, %i, %i\n", entry.Column, entry.StartRow, entry.EndRow);
    return std::string(record, static_cast<std::size_t>(n));
}

std::string NotAnIntegerText(const std::string &text)
{
    return "'" + text + "' is not a valid integer value";
}

bool ReadListLines(const std::string &path, std::vector<std::string> &lines, std::string &problem)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        problem = "Could not open file: " + path;
        return false;
    }
    lines.clear();
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    if (file.bad()) {
        problem = "Could not read file: " + path;
        return false;
    }
    return true;
}

bool ReadHotPixelList(const std::string &path, std::vector<PixelPosition> &pixels, std::string &problem)
{
    std::vector<std::string> lines;
    if (!ReadListLines(path, lines, problem))
        return false;
    std::vector<PixelPosition> read;
    read.reserve(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (Blank(lines[i]))
            continue;
        const std::string_view line(lines[i]);
        const std::size_t comma = line.rfind(',');
        PixelPosition pixel;
        const int number = static_cast<int>(i + 1);
        if (comma == std::string_view::npos) {
            problem = NotAnIntegerText(std::string(TrimText(line)));
            return false;
        }
        if (!FieldValue(line.substr(comma + 1), number, path, pixel.Row, problem) ||
            !FieldValue(line.substr(0, comma), number, path, pixel.Column, problem))
            return false;
        read.push_back(pixel);
    }
    pixels = std::move(read);
    return true;
}

bool ReadBadColumnList(const std::string &path, std::vector<BadColumnEntry> &columns, std::string &problem)
{
    std::vector<std::string> lines;
    if (!ReadListLines(path, lines, problem))
        return false;
    std::vector<BadColumnEntry> read;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (Blank(lines[i]))
            continue;
        const std::string_view line(lines[i]);
        const int number = static_cast<int>(i + 1);
        BadColumnEntry entry;
        const std::size_t last = line.rfind(',');
        const std::size_t middle = last == std::string_view::npos ? last : line.substr(0, last).rfind(',');
        if (middle == std::string_view::npos) {
            problem = NotAnIntegerText(std::string(TrimText(line)));
            return false;
        }
        if (!FieldValue(line.substr(last + 1), number, path, entry.EndRow, problem) ||
            !FieldValue(line.substr(middle + 1, last - middle - 1), number, path, entry.StartRow, problem) ||
            !FieldValue(line.substr(0, middle), number, path, entry.Column, problem))
            return false;
        read.push_back(entry);
    }
    columns = std::move(read);
    return true;
}

bool BuildPixelMapImage(const std::vector<PixelPosition> &pixels, ImageData &image, std::string &problem)
{
    if (pixels.empty()) {
        problem = "The pixel list is empty.";
        return false;
    }
    int width = 0, height = 0;
    for (const PixelPosition &p : pixels) {
        width = std::max(width, p.Column + 1);
        height = std::max(height, p.Row + 1);
    }
    if (!PlausibleImageSize(width, height, 1) || !image.Allocate(width, height, 1)) {
        problem = "The pixel list describes an image too large to show.";
        return false;
    }
    image.Rows.Fill(0);
    for (const PixelPosition &p : pixels)
        image.Rows[p.Row][p.Column] = 65535;
    return true;
}

bool WriteListFile(const std::string &path, const std::string &text)
{
    ReplacingFile file(path);
    if (!file.Open())
        return false;
    file.Write(text.data(), text.size());
    return file.Commit();
}
