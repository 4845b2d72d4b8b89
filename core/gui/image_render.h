#pragma once
// The display mapping of the image window: 16-bit pixels through the display offset and gain
// (linear, or logarithmic through the table of decimal logarithms) into palette colours. Plain
// C++ so it can be tested and measured without a window.
#include <cstddef>
#include <cstdint>

// Zoom limits of the image window: keep the canvas at least one pixel and at most a size whose
// coordinates fit in an int.
constexpr double MinimumZoom = 1.0 / 64.0;
constexpr double MaximumZoom = 64.0;

// Clamps a zoom factor into MinimumZoom..MaximumZoom (NaN gives 1).
double ClampZoom(double zoom);

// 65536 decimal logarithms, entry 0 holding 0: the table the logarithmic display uses.
const float *StandardLogScaleTable();

// Display index 0..65535 of each 16-bit value for the given levels.
// Linear: trunc((p - offset) x gain) in extended precision. Logarithmic: s = gain x 6553 /
// log[65535] (single precision), t = trunc(p - offset) clamped to 0..65535, index trunc(s x log[t]).
// Both clamped to 0..65535.
void BuildDisplayIndexTable(float gain, float displayOffset, bool logScale, const float *logTable,
                            std::uint16_t *indexTable);

// Colour of each 16-bit value as packed RGBA bytes (alpha 255), through the palette's byte tables.
void BuildDisplayColourTable(float gain, float displayOffset, bool logScale, const float *logTable,
                             const std::uint8_t *red, const std::uint8_t *green, const std::uint8_t *blue,
                             std::uint32_t *colourTable);

// Maps `count` pixels through a packed colour table into RGBA bytes (4 per pixel).
void MapPixelsToRgba(const std::uint16_t *pixels, std::size_t count, const std::uint32_t *colourTable,
                     std::uint8_t *rgba);

// What a display buffer was computed from; equal keys mean the buffer is current.
struct RenderKey {
    float gain = -1.0f;
    float displayOffset = -1.0f;
    bool logScale = false;
    int width = 0;
    int height = 0;
    const void *pixels = nullptr;
    const void *rgba = nullptr;
    const void *paletteTables = nullptr;
    std::uint64_t contentGeneration = 0;

    bool operator==(const RenderKey &) const = default;
};
