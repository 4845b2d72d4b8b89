#pragma once
// Colour-index views: 16-bit pixels drawn through three 65536-entry float colour maps (red, green,
// blue, intensities 0..1), the way a colour-index pixel map would draw them. OpenGL drivers without
// a vendor implementation limit pixel maps to 256 entries, so the maps are applied here on the CPU:
// a packed RGBA lookup table is rebuilt only when the maps change, and the converted picture is
// kept until the pixels or the maps change, then drawn with glDrawPixels(GL_RGBA).
#include <cstdint>
#include <vector>

class QOpenGLFunctions_1_1;

// Fills the three maps from a palette's float tables: entry i is the palette colour at
// trunc((i - bias) x intensity), clamped to 0..65535, for i at or above the bias, and the colour
// of level 0 below it.
void BuildColorIndexMaps(const float *paletteRed, const float *paletteGreen, const float *paletteBlue,
                         float bias, float intensity, float *mapRed, float *mapGreen, float *mapBlue);

// The byte an intensity becomes in an 8-bit colour buffer: clamped to 0..1, times 255, rounded.
std::uint8_t IntensityToByte(float intensity);

class ColorIndexView
{
public:
    static constexpr int MapSize = 65536;

    ColorIndexView();

    // Installs the three maps (MapSize floats each); the lookup table is rebuilt only when they
    // differ from the installed ones.
    void SetMaps(const float *red, const float *green, const float *blue);
    // Convenience: the maps from a palette's float tables with bias and intensity.
    void SetPaletteMaps(const float *paletteRed, const float *paletteGreen, const float *paletteBlue,
                        float bias, float intensity);
    // The pixels to show (width x height, row 0 at the bottom); not copied, they must outlive the
    // view's use. Marks the picture for conversion at the next draw.
    void SetPixels(const std::uint16_t *pixels, int width, int height);
    // The pixels given to SetPixels changed in place.
    void PixelsChanged() { pictureCurrent_ = false; }

    int Width() const { return width_; }
    int Height() const { return height_; }
    // The picture as RGBA bytes (4 per pixel, row 0 first), converted when stale.
    const std::uint8_t *Rgba();
    // The packed colour of a 16-bit value (bytes R, G, B, 255 in memory order).
    std::uint32_t ColourOf(std::uint16_t value) const { return lookup_[value]; }

    // Draws the picture at the current raster position and pixel zoom. The caller has the context
    // current; does nothing without pixels.
    void Draw(QOpenGLFunctions_1_1 *gl);

    // How often the lookup table and the picture were rebuilt (lets callers check the caching).
    int LookupBuilds() const { return lookupBuilds_; }
    int PictureBuilds() const { return pictureBuilds_; }

private:
    void RebuildLookup();

    std::vector<float> maps_; // 3 x MapSize: red, green, blue
    std::vector<std::uint32_t> lookup_;
    std::vector<std::uint8_t> picture_;
    const std::uint16_t *pixels_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    bool pictureCurrent_ = false;
    int lookupBuilds_ = 0;
    int pictureBuilds_ = 0;
};
