#include "color_index_view.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <QOpenGLFunctions_1_1>

#include "image_render.h"

void BuildColorIndexMaps(const float *paletteRed, const float *paletteGreen, const float *paletteBlue,
                         float bias, float intensity, float *mapRed, float *mapGreen, float *mapBlue)
{
    for (int i = 0; i < ColorIndexView::MapSize; ++i) {
        int level = 0;
        if (static_cast<float>(i) >= bias) {
            const float v = std::trunc((static_cast<float>(i) - bias) * intensity);
            level = !(v > 0.0f) ? 0 : v >= 65535.0f ? 65535 : static_cast<int>(v);
        }
        mapRed[i] = paletteRed[level];
        mapGreen[i] = paletteGreen[level];
        mapBlue[i] = paletteBlue[level];
    }
}

std::uint8_t IntensityToByte(float intensity)
{
    if (!(intensity > 0.0f))
        return 0;
    if (intensity >= 1.0f)
        return 255;
    return static_cast<std::uint8_t>(std::lround(intensity * 255.0f));
}

ColorIndexView::ColorIndexView() : maps_(3 * MapSize, 0.0f), lookup_(MapSize)
{
    RebuildLookup();
    lookupBuilds_ = 0;
}

void ColorIndexView::SetMaps(const float *red, const float *green, const float *blue)
{
    const std::size_t bytes = MapSize * sizeof(float);
    if (std::memcmp(maps_.data(), red, bytes) == 0 &&
        std::memcmp(maps_.data() + MapSize, green, bytes) == 0 &&
        std::memcmp(maps_.data() + 2 * MapSize, blue, bytes) == 0)
        return;
    std::memcpy(maps_.data(), red, bytes);
    std::memcpy(maps_.data() + MapSize, green, bytes);
    std::memcpy(maps_.data() + 2 * MapSize, blue, bytes);
    RebuildLookup();
}

void ColorIndexView::SetPaletteMaps(const float *paletteRed, const float *paletteGreen,
                                    const float *paletteBlue, float bias, float intensity)
{
    std::vector<float> maps(3 * MapSize);
    BuildColorIndexMaps(paletteRed, paletteGreen, paletteBlue, bias, intensity, maps.data(),
                        maps.data() + MapSize, maps.data() + 2 * MapSize);
    SetMaps(maps.data(), maps.data() + MapSize, maps.data() + 2 * MapSize);
}

void ColorIndexView::RebuildLookup()
{
    for (int i = 0; i < MapSize; ++i) {
        const std::uint8_t bytes[4] = {IntensityToByte(maps_[i]), IntensityToByte(maps_[MapSize + i]),
                                       IntensityToByte(maps_[2 * MapSize + i]), 255};
        std::memcpy(&lookup_[i], bytes, 4);
    }
    ++lookupBuilds_;
    pictureCurrent_ = false;
}

void ColorIndexView::SetPixels(const std::uint16_t *pixels, int width, int height)
{
    if (!pixels || width <= 0 || height <= 0) {
        pixels_ = nullptr;
        width_ = height_ = 0;
    } else {
        pixels_ = pixels;
        width_ = width;
        height_ = height;
    }
    pictureCurrent_ = false;
}

const std::uint8_t *ColorIndexView::Rgba()
{
    if (!pixels_)
        return nullptr;
    if (!pictureCurrent_) {
        const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
        picture_.resize(count * 4);
        MapPixelsToRgba(pixels_, count, lookup_.data(), picture_.data());
        pictureCurrent_ = true;
        ++pictureBuilds_;
    }
    return picture_.data();
}

void ColorIndexView::Draw(QOpenGLFunctions_1_1 *gl)
{
    const std::uint8_t *rgba = Rgba();
    if (!gl || !rgba)
        return;
    GLint alignment = 4;
    gl->glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 4); // RGBA rows are whole words
    gl->glDrawPixels(width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
}
