#include "compositor.h"

#include <algorithm>
#include <cmath>

namespace
{

// Below this many pixels the rows run on the calling thread alone.
constexpr long long ParallelPixels = 32768;

// trunc(x) clamped to lo..hi, without converting an out-of-range float.
inline int TruncClamped(float x, int lo, int hi)
{
    if (!(x > static_cast<float>(lo)))
        return lo;
    if (x >= static_cast<float>(hi))
        return hi;
    return static_cast<int>(x);
}

// colour x alpha / 255 rounded to the nearest integer.
inline int Weighted(int colour, int alpha)
{
    return (colour * alpha + 127) / 255;
}

// The palette colours of one row of a layer: level trunc((p - bias) x k), clamped to 0..65535.
inline void ColourRow(const std::uint16_t *row, int width, float bias, float k, const PPalette &palette,
                      std::uint8_t *out)
{
    const auto &table = palette.ByteTable;
    const std::uint8_t *red = table[0].data(), *green = table[1].data(), *blue = table[2].data();
    for (int x = 0; x < width; ++x) {
        const int v = TruncClamped((row[x] - bias) * k, 0, 65535);
        out[4 * x] = red[v];
        out[4 * x + 1] = green[v];
        out[4 * x + 2] = blue[v];
    }
}

} // namespace

int RenderingLuminanceLayer(const CompositeImage &composite)
{
    if (composite.BlendMode != BlendLuminance)
        return NoLuminanceLayer;
    for (int i = 0; i < CompositeLayers; ++i)
        if (!composite.LayerLoaded(i))
            return i == 0 ? NoLuminanceLayer : i - 1;
    return NoLuminanceLayer;
}

int PaintingLuminanceLayer(const CompositeImage &composite)
{
    if (composite.BlendMode != BlendLuminance)
        return NoLuminanceLayer;
    int last = NoLuminanceLayer;
    for (int i = 0; i < CompositeLayers && composite.UseInComposite[i]; ++i)
        last = i;
    return last;
}

void RenderCompositeLayer(CompositeImage &composite, int layer)
{
    if (layer < 0 || layer >= CompositeLayers || !composite.LayerLoaded(layer))
        return;
    ImageData &image = composite.Layers[layer];
    const float k = image.Gain * composite.AllLayerIntensity;
    const float bias = image.DisplayOffset;
    const int width = image.Width, height = image.Height;
    std::uint8_t *rgba = image.FrameRgba(0);
    const int luminance = RenderingLuminanceLayer(composite);
    const long long pixels = static_cast<long long>(width) * height;

    if (layer == luminance) {
        const float scale = 255.0f * (1.0f / 65535.0f);
#pragma omp parallel for schedule(static) if (pixels >= ParallelPixels)
        for (int y = 0; y < height; ++y) {
            const std::uint16_t *row = image.FrameRow(0, y);
            std::uint8_t *out = rgba + static_cast<std::size_t>(y) * width * 4;
            for (int x = 0; x < width; ++x)
                out[4 * x + 3] = static_cast<std::uint8_t>(TruncClamped((row[x] - bias) * k * scale, 0, 255));
        }
    } else {
        // The luminance layer's alpha at the same index, where it has one.
        const std::uint8_t *alphaSource = nullptr;
        long long alphaCount = 0;
        if (luminance != NoLuminanceLayer) {
            const ImageData &l = composite.Layers[luminance];
            alphaSource = l.FrameRgba(0);
            alphaCount = static_cast<long long>(l.Width) * l.Height;
        }
        const int alphaWidth = alphaSource ? composite.Layers[luminance].Width : 0;
#pragma omp parallel for schedule(static) if (pixels >= ParallelPixels)
        for (int y = 0; y < height; ++y) {
            const std::uint16_t *row = image.FrameRow(0, y);
            std::uint8_t *out = rgba + static_cast<std::size_t>(y) * width * 4;
            ColourRow(row, width, bias, k, image.Palette, out);
            if (!alphaSource) {
                for (int x = 0; x < width; ++x)
                    out[4 * x + 3] = 255;
                continue;
            }
            // Indexes y x width(L) + x run on from the luminance layer's row y; past its last
            // pixel they find nothing.
            const long long first = static_cast<long long>(y) * alphaWidth;
            const int reach = static_cast<int>(std::clamp<long long>(alphaCount - first, 0, width));
            for (int x = 0; x < reach; ++x)
                out[4 * x + 3] = alphaSource[4 * (first + x) + 3];
            for (int x = reach; x < width; ++x)
                out[4 * x + 3] = 0;
        }
    }
    image.Palette.Dirty = 0;
}

int ReferenceLayer(const CompositeImage &composite, int view)
{
    if (view >= 0 && view < CompositeLayers)
        return composite.LayerLoaded(view) ? view : NoLuminanceLayer;
    for (int i = 0; i < CompositeLayers; ++i)
        if (composite.LayerLoaded(i))
            return i;
    return NoLuminanceLayer;
}

bool BlendView(const CompositeImage &composite, int view, CompositePicture &picture, int sizeLayer)
{
    int reference = ReferenceLayer(composite, view);
    if (reference == NoLuminanceLayer) {
        picture = {};
        return false;
    }
    if (sizeLayer >= 0 && sizeLayer < CompositeLayers && composite.LayerLoaded(sizeLayer))
        reference = sizeLayer;
    const int width = composite.Layers[reference].Width, height = composite.Layers[reference].Height;
    picture.Width = width;
    picture.Height = height;
    picture.Rgba.assign(static_cast<std::size_t>(width) * height * 4, 0);

    // The layers blended, in order 1 to 5.
    int blended[CompositeLayers];
    int count = 0;
    if (view < CompositeLayers) {
        blended[count++] = view;
    } else {
        const int luminance = PaintingLuminanceLayer(composite);
        for (int i = 0; i < CompositeLayers; ++i)
            if (composite.UseInComposite[i] && composite.LayerLoaded(i) && i != luminance)
                blended[count++] = i;
    }
    const long long pixels = static_cast<long long>(width) * height;
#pragma omp parallel for schedule(static) if (pixels >= ParallelPixels)
    for (int y = 0; y < height; ++y) {
        std::uint8_t *out = picture.Rgba.data() + static_cast<std::size_t>(y) * width * 4;
        for (int n = 0; n < count; ++n) {
            const ImageData &layer = composite.Layers[blended[n]];
            if (y >= layer.Height)
                continue;
            const std::uint8_t *in = layer.FrameRgba(0) + static_cast<std::size_t>(y) * layer.Width * 4;
            const int columns = std::min(width, layer.Width);
            for (int x = 0; x < columns; ++x) {
                const int alpha = in[4 * x + 3];
                if (alpha == 255) {
                    for (int c = 0; c < 3; ++c)
                        out[4 * x + c] =
                            static_cast<std::uint8_t>(std::min(255, out[4 * x + c] + in[4 * x + c]));
                    continue;
                }
                for (int c = 0; c < 3; ++c)
                    out[4 * x + c] = static_cast<std::uint8_t>(
                        std::min(255, out[4 * x + c] + Weighted(in[4 * x + c], alpha)));
            }
        }
        for (int x = 0; x < width; ++x)
            out[4 * x + 3] = 255;
    }
    return true;
}

bool ComposeView(CompositeImage &composite, int view, CompositePicture &picture, int sizeLayer)
{
    if (view >= 0 && view < CompositeLayers) {
        RenderCompositeLayer(composite, view);
    } else {
        for (int i = CompositeLayers - 1; i >= 0; --i)
            if (composite.UseInComposite[i])
                RenderCompositeLayer(composite, i);
    }
    return BlendView(composite, view, picture, sizeLayer);
}

bool ComposeExport(CompositeImage &composite, int view, CompositePicture &picture, int sizeLayer)
{
    if (view < 0 || view >= CompositeLayers)
        return ComposeView(composite, view, picture, sizeLayer);
    if (!composite.LayerLoaded(view)) {
        picture = {};
        return false;
    }
    const ImageData &image = composite.Layers[view];
    const float k = image.Gain * composite.AllLayerIntensity;
    const int width = image.Width, height = image.Height;
    picture.Width = width;
    picture.Height = height;
    picture.Rgba.assign(static_cast<std::size_t>(width) * height * 4, 255);
    const long long pixels = static_cast<long long>(width) * height;
#pragma omp parallel for schedule(static) if (pixels >= ParallelPixels)
    for (int y = 0; y < height; ++y)
        ColourRow(image.FrameRow(0, y), width, image.DisplayOffset, k, image.Palette,
                  picture.Rgba.data() + static_cast<std::size_t>(y) * width * 4);
    return true;
}
