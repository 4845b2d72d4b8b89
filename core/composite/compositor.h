#pragma once
// The composite editor's blending, on the CPU. One function set renders the layers through their
// palettes and blends them into the picture that the editor's view draws, that the bitmap export
// writes (a single layer unblended) and that the tests check.
//
// Rendering a layer fills its RGBA buffer (frame 0): the level v = trunc((p - bias) x k), clamped
// to 0..65535, with k = layer intensity x all-layer intensity, picks red, green and blue from the
// layer's palette; alpha is 255, or in luminance mode the alpha the luminance layer holds at the
// same index. The luminance layer itself only stores trunc((p - bias) x k x 255 / 65535), clamped
// to 0..255, as its alpha.
//
// Blending adds colour x alpha / 255 (rounded to nearest) of every blended layer, saturating at
// 255, over a black picture of the reference layer's size; layers smaller than it leave black
// where they do not reach, larger ones are cut. A single-layer view is that layer alone.
#include "composite/composite_image.h"

#include <cstdint>
#include <vector>

inline constexpr int NoLuminanceLayer = -1;

// The luminance layer used when rendering (luminance mode only): the layer before the first empty
// one; none when no layer is empty or layer 1 is.
int RenderingLuminanceLayer(const CompositeImage &composite);
// The luminance layer left out of the blend (luminance mode only): the last of the leading run of
// layers used in the composite; none when layer 1 is not used.
int PaintingLuminanceLayer(const CompositeImage &composite);

// Renders loaded layer 0-4 into its RGBA buffer (see above); clears its palette's changed flag.
void RenderCompositeLayer(CompositeImage &composite, int layer);

// The picture of a view (0-4 a layer, 5 the composite), RGBA bytes, row 0 first.
struct CompositePicture {
    int Width = 0, Height = 0;
    std::vector<std::uint8_t> Rgba; // Width x Height x 4, alpha 255
};

// The reference layer of a view: the layer itself, or for the composite the first loaded layer.
// NoLuminanceLayer when there is none (an empty layer, or no layer loaded).
int ReferenceLayer(const CompositeImage &composite, int view);

// Renders what the view needs (the shown layer, or every used and loaded layer from 5 down to 1)
// and blends it into picture. False, with an empty picture, when the view has nothing to show.
// The picture has the reference layer's size, or `sizeLayer`'s when that layer is loaded (the
// bitmap export of the composite takes the current layer's size).
bool ComposeView(CompositeImage &composite, int view, CompositePicture &picture, int sizeLayer = -1);
// Blends the already rendered layers of the view into picture, without rendering.
bool BlendView(const CompositeImage &composite, int view, CompositePicture &picture, int sizeLayer = -1);
// The picture the bitmap export writes: the composite as ComposeView blends it, but a single layer
// in its own colours without blending (its palette at its intensity and bias, whatever alpha a
// luminance layer would give it on the screen). The layers' buffers are left alone.
bool ComposeExport(CompositeImage &composite, int view, CompositePicture &picture, int sizeLayer = -1);
