#pragma once
// CFSettings: the composite editor's settings: window geometry, the shown view and current layer,
// the step sizes of the shift and rotation actions, and one default palette per layer (given to a
// layer when an image is loaded into it). Stored as a ".dat" composite settings file.
#include "composite/composite_image.h"
#include "palette.h"

#include <array>
#include <cstdint>
#include <string>

class CFSettings
{
public:
    CFSettings() = default;

    std::string Name; // first line of the file; no other use
    std::int32_t Left = 0, Top = 0;
    std::int32_t Height = 577, Width = 795;
    std::int32_t View = 0;         // 0-4 a layer, 5 the composite
    std::int32_t PreviousView = 0; // not stored
    std::int32_t CurrentLayer = 0; // 0-4 (5 while the all-layers slider has focus)
    std::int32_t Spare1 = 0, Spare2 = 0;
    float YShiftStep = 0.5f, XShiftStep = 0.5f;
    float RotationStep = 0.0f; // radians
    float RotationCentreX = 0.0f, RotationCentreY = 0.0f;
    bool SpareFlag = false;
    bool Maximized = false;
    std::array<PPalette, CompositeLayers> LayerPalettes;

    // Reads every stored field and the palettes' names, counts, flags and points; the palettes'
    // tables are left for the caller to build. A missing, short or malformed file is reported and
    // changes nothing; false then.
    bool LoadFromFile(const std::string &path);
    // Writes the file beside the target and renames it over it; false (reported) on failure, with
    // an existing file left as it was.
    bool SaveToFile(const std::string &path) const;
};

// The editor's settings and their undo copy.
CFSettings &CompositeEditorSettings();
CFSettings &CompositeEditorSettingsBackup();
