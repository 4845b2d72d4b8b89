#pragma once
// CompositeImage: the colour composite of the composite editor. Five image layers (slots 0-4) and
// the composite view's slot (5, of which only Zoom is used), with per-layer use flags, the blend
// mode and an intensity factor applied to every layer. Each layer keeps its intensity in Gain, its
// bias in DisplayOffset, its placement in ShiftX/ShiftY/Angle/RotationCentre and its own palette.
// Stored as a ".qzn" composite file. Held by value; copied only with Assign.
#include "image_data.h"

#include <array>
#include <cstdint>
#include <string>

inline constexpr int CompositeLayers = 5;
inline constexpr int CompositeViewSlot = 5;
inline constexpr const char *CompositeFormatLine = "Composite CCD data format V2.01";

enum CompositeBlendMode : std::int32_t { BlendAdditive = 0, BlendLuminance = 1 };

class CompositeImage
{
public:
    // Six empty images with Zoom 1.0; IsNew set, every flag clear, intensity 1.0.
    CompositeImage();
    CompositeImage(const CompositeImage &) = delete;
    CompositeImage &operator=(const CompositeImage &) = delete;

    std::string Name;  // path of the composite file last read
    bool IsNew = true; // no layer loaded since construction or Clear: replacing it needs no question
    std::array<std::uint8_t, CompositeLayers> Spare{};
    std::array<bool, CompositeLayers> UseInComposite{};
    std::int32_t BlendMode = BlendAdditive;
    float AllLayerIntensity = 1.0f;
    std::int32_t LayerCount = 0; // layers in the file last read or written
    std::array<ImageData, CompositeLayers + 1> Layers;

    bool LayerLoaded(int layer) const { return !Layers[layer].Empty; }

    // Loads an image file into layer 0-4 (format detection and automatic levels as any load),
    // resets its placement, marks it used and gives it the palette. False, with the layer
    // unchanged, when the file cannot be read.
    bool LoadLayer(int layer, const std::string &path, const PPalette &palette);
    // Deep copy of Name, Spare, BlendMode, LayerCount, IsNew and all six images; the use flags and
    // the all-layer intensity stay as they are.
    void Assign(const CompositeImage &source);
    // Frees layers 0-4 and clears their use flags, Name and LayerCount; sets IsNew. Slot 5, the
    // blend mode and the intensity keep their values.
    void Clear();
    // Reads a composite file into slots 0..N-1. False when the first line is not the format line
    // (nothing changed, no message) or when the file is damaged (reported): the whole file, pixels
    // and palettes, is read and checked before anything changes, so a damaged file changes nothing.
    bool LoadFromFile(const std::string &path);
    // Writes the loaded and used layers as a composite file (sets LayerCount to their number). The
    // file is written beside the target and renamed over it, so a failure (reported) leaves an
    // existing file untouched. False on failure.
    bool SaveToFile(const std::string &path);
};

// The editor's composite and its undo copy.
CompositeImage &Composite();
CompositeImage &CompositeBackup();
