#pragma once
// The data the program ships beside itself and falls back on: the settings a fresh installation
// starts with and the palettes it offers (grey, black body and two spectra).
#include "composite/cf_settings.h"
#include "palette.h"
#include "settings.h"

#include <string>

// The settings of a fresh installation: the record's defaults with the values the windows show
// before any settings file was applied (sensor KAF-401e/le, tiled windows...), with 1 s integrations.
Settings ProgramDefaultSettings();

// The composite editor's settings of a fresh installation: the record's defaults, with layers 1-3
// coloured red, green and blue (an RGB composite) and layers 4 and 5 grey (a luminance layer).
CFSettings ProgramDefaultCompositeSettings();
inline constexpr const char *DefaultCompositeSettingsFile = "Settings/CompositeForm.dat";

// The palettes, curves built and tables filled. Name stays empty.
PPalette GreyscalePalette();
PPalette BlackBodyPalette();
PPalette SpectrumPalette();  // violet - blue - green - yellow - red
PPalette Spectrum2Palette(); // black - blue - cyan - green - yellow - red - white

// The files written by WriteDefaultData, relative to the program directory.
struct DefaultPaletteFile {
    const char *name;
    PPalette (*make)();
};
inline constexpr DefaultPaletteFile DefaultPaletteFiles[] = {
    {"Palettes/QuickPalette1.pal", GreyscalePalette}, {"Palettes/QuickPalette2.pal", BlackBodyPalette},
    {"Palettes/QuickPalette3.pal", Spectrum2Palette}, {"Palettes/QuickPalette4.pal", SpectrumPalette},
    {"Palettes/Greyscale.pal", GreyscalePalette},     {"Palettes/BlackBody2.pal", BlackBodyPalette},
    {"Palettes/Spectrum2.pal", Spectrum2Palette},     {"Palettes/Spectrum.pal", SpectrumPalette},
};
inline constexpr const char *FrameBitmapFile = "Bitmaps/frame.bmp";
// The folder the shipped settings save frames into, relative to the program directory (a relative
// save prefix is taken from there).
inline constexpr const char *DefaultFramesFolder = "Frames";
inline constexpr int FrameBitmapWidth = 24;
inline constexpr int FrameBitmapHeight = 256;
// The slew paddle's pictures, one per set of lit directions ("Bitmaps/trackbtn" + the lit
// directions + ".bmp": "0" for none, else N, S, E, W, NE, NW, SE, SW). The paddle is square: north
// the top triangle, south the bottom, east the left, west the right.
inline constexpr const char *PaddleBitmapNames[] = {"0", "N", "S", "E", "W", "NE", "NW", "SE", "SW"};
inline constexpr int PaddleBitmapSize = 115;
std::string PaddleBitmapFile(const std::string &lit); // "Bitmaps/trackbtn" + lit + ".bmp"

// Writes the settings file, the composite editor's settings, the palettes, the palette-bar frame, the paddle
// pictures and the convolution filter files under `directory` (which must hold the Settings, Palettes and
// Bitmaps folders; Filters is made when missing). False at the first file that failed.
bool WriteDefaultData(const std::string &directory);
