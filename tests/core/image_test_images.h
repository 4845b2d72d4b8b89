#pragma once
// Small helpers for the image-file tests: images filled by a rule, pixel comparison and the
// external tools (Debian's Python with astropy/Pillow/numpy, fitsverify) used for interop checks.
#include "image_data.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace korvi::test
{

// A width x height x frames image whose pixel (x, y) of frame f is value(x, y, f).
inline void FillImage(ImageData &image, int width, int height, int frames,
                      const std::function<std::uint16_t(int, int, int)> &value)
{
    image.Allocate(width, height, frames);
    for (int f = 0; f < frames; ++f)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.FrameRow(f, y)[x] = value(x, y, f);
}

// Header fields of a frame read out of the camera: a sensor window matching the image.
inline void SetFrameHeader(ImageData &image)
{
    image.HeaderFileName = "m42_0001.kvr";
    image.Date = "Tuesday December 8, 2026";
    image.Time = "21:16:14 (GMT)";
    image.Description = "Orion nebula, test frame";
    image.Filters = "Red";
    image.IntegrationTime = "3.000e+01";
    image.CCDTemperature = "-20.5";
    image.MaxColumns = 1600;
    image.MaxRows = 1200;
    image.XBin = 1;
    image.YBin = 1;
    image.XLo = 100;
    image.XHi = 100 + image.Width - 1;
    image.YLo = 50;
    image.YHi = 50 + image.Height - 1;
    image.TopDark = 12.25f;
    image.BottomDark = 13.5f;
    image.OffsetLevel = 812.5f;
    image.DisplayOffset = 900.0f;
    image.SkyLevel = 1234.75f;
}

// Number of pixels (all frames) that differ between two images of the same size; -1 when the
// sizes differ.
inline long DifferingPixels(const ImageData &a, const ImageData &b)
{
    if (a.Width != b.Width || a.Height != b.Height || a.Frames != b.Frames)
        return -1;
    long differ = 0;
    for (int y = 0; y < a.Height * a.Frames; ++y)
        for (int x = 0; x < a.Width; ++x)
            differ += a.Rows[y][x] != b.Rows[y][x];
    return differ;
}

inline const char *DebianPython = "/usr/bin/python3";

// True when Debian's Python can import the given modules (e.g. "astropy, numpy").
inline bool PythonHas(const std::string &modules)
{
    if (!std::filesystem::exists(DebianPython))
        return false;
    const std::string command = std::string(DebianPython) + " -c 'import " + modules + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Runs a Python script with Debian's Python; returns the exit status (0 on success).
inline int RunPython(const std::filesystem::path &folder, const std::string &script)
{
    const auto file = folder / "script.py";
    FILE *out = std::fopen(file.c_str(), "w");
    if (!out)
        return -1;
    std::fputs(script.c_str(), out);
    std::fclose(out);
    const std::string command = std::string(DebianPython) + " '" + file.string() + "'";
    return std::system(command.c_str());
}

} // namespace korvi::test
