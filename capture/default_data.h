#pragma once
// The data the program ships beside itself and falls back on: the settings a fresh installation
// starts with and the palettes it offers (grey, black body and two spectra).
#include "palette.h"
#include "settings.h"

#include <string>

// The settings of a fresh installation: the record's defaults with the values the windows show
// before any settings file was applied (sensor KAF-401e/le, 0.2 s integrations, tiled windows...).
Settings ProgramDefaultSettings();

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
inline constexpr int FrameBitmapWidth = 24;
inline constexpr int FrameBitmapHeight = 256;

// Writes the settings file, the palettes, the palette-bar frame and the convolution filter files
// under `directory` (which must hold the Settings, Palettes and Bitmaps folders; Filters is made
// when missing). False at the first file that failed.
bool WriteDefaultData(const std::string &directory);
