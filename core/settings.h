#pragma once
// Settings: every setting that lasts between runs plus a few run-time states. Most values are a
// pair indexed by camera: [0] imaging camera, [1] guiding camera. Two instances live for the whole
// run: CurrentSettings(), which every part reads and writes, and SettingsBackup(), into which
// handlers save CurrentSettings() before a temporary change. Stored as a 139-line line-per-value
// file ("Settings/DefaultSettings.txt" under ProgramDirectory by default); one table of fields
// drives both reading and writing (settings.cpp).
#include "palette.h"

#include <array>
#include <cstdint>
#include <string>

inline constexpr int ImagingCamera = 0;
inline constexpr int GuidingCamera = 1;
inline constexpr int SettingsFileLines = 139;
inline constexpr const char *DefaultSettingsFile = "Settings/DefaultSettings.txt"; // under ProgramDirectory

// Image motion in pixels per second of slew along one direction.
struct GuideRate {
    float x = 0.0f;
    float y = 0.0f;
};
enum GuideDirection { GuideEast = 0, GuideWest = 1, GuideNorth = 2, GuideSouth = 3 };

template <typename T> using CameraPair = std::array<T, 2>;

struct Settings {
    Settings();
    // Whole-record copies (CurrentSettings() <-> SettingsBackup()) copy every value, palettes too.
    Settings(const Settings &) = default;
    Settings &operator=(const Settings &) = default;

    // ---- Texts (file lines 1-29, then values not stored) ----
    CameraPair<std::string> DefaultPaletteFile; // 1-2: palette file under "Palettes/" for DefaultPalettes[i]
    std::string LastScriptFile;                 // 3: last script loaded in the script window
    CameraPair<std::string> LastOpenDirectory;  // 4-5: initial directory of the open dialogs
    CameraPair<std::string> LastSaveDirectory;  // 6-7: initial directory of the save dialogs
    CameraPair<std::string> SaveFile;           // 8-9: path and name prefix of acquired frames
    std::array<std::string, 7> FilterName; // 10-15: FilterName[1..6] name filter positions 1..6; [0] unused
    CameraPair<std::string> Filters;       // 16-17: "filters" descriptor written into acquired images
    CameraPair<std::string> Desc;          // 18-19: description written into acquired images
    CameraPair<std::string> ProcessedPostFix; // 20-21: inserted into names of processed frames
    std::string DarkFrameDirectory;           // 22: initial directory of the dark-frame selection
    std::string FlatFrameDirectory;           // 24: initial directory of the flat-frame selection
    std::array<std::string, 2> SpareFileText; // 23, 25
    CameraPair<std::string> FlatFrameFile;    // 26-27: flat frame for on-the-fly correction
    CameraPair<std::string> ThermalFrameFile; // 28-29: dark frame for on-the-fly correction
    std::string ProgramDirectory;             // not stored: the program's directory, trailing '/'
    std::array<std::string, 10> SpareText;    // not stored

    // ---- Integers (file lines 30-80) ----
    CameraPair<std::int32_t> NImage{};        // 31-32: frames in a counted series (1..999)
    CameraPair<std::int32_t> InitExt{};       // 33-34: number appended to the prefix of the next frame
    CameraPair<std::int32_t> XHI{};           // 36-37: sub-frame high column
    CameraPair<std::int32_t> XLO{};           // 38-39: sub-frame low column
    CameraPair<std::int32_t> YHI{};           // 40-41: sub-frame high row
    CameraPair<std::int32_t> YLO{};           // 42-43: sub-frame low row
    CameraPair<std::int32_t> YBIN{};          // 44-45: row binning
    CameraPair<std::int32_t> XBIN{};          // 46-47: column binning
    CameraPair<std::int32_t> NCOL{};          // 48-49: sensor columns
    CameraPair<std::int32_t> NROW{};          // 50-51: sensor rows
    CameraPair<std::int32_t> BiasLevel{};     // 56-57: display offset for new frames (levels not automatic)
    CameraPair<std::int32_t> NClear{};        // 60-61: clearing scans before an integration (0..20)
    CameraPair<std::int32_t> SaveFormat{};    // 62-63: 0 own, 1 FITS, 2 bitmap, 3 PNG (ImageFormat)
    std::int32_t WindowTop = 0;               // 64: main-window rectangle
    std::int32_t WindowLeft = 0;              // 65
    std::int32_t WindowWidth = 0;             // 66
    std::int32_t WindowHeight = 0;            // 67
    std::int32_t GuideMode = 0;               // 68: 0 acquire guider frames, 1 guide, 2 calibrate
    std::int32_t GuideDetent = 0;             // 69: guide cycle length in seconds
    std::int32_t GuideMaxExcursion = 0;       // 70: excursion factor of the guide corrections
    std::int32_t CCDType = 0;                 // 74: 0 "KAF-401e/le", 1 "KAF-1602e/le", 2 "other KAF sensor"
    std::int32_t FiltPos = 0;                 // 75: current filter-wheel position 1..6
    std::int32_t MaximumWindows = 0;          // 76: most image windows open at once
    std::int32_t WindowArrangement = 0;       // 77: 0 tile, 1 cascade, 2 stack, 3 maximise
    CameraPair<std::int32_t> CCDTargetTemp{}; // 78-79: target sensor temperature, whole degrees C
    std::int32_t XSectionMode = 0;            // 80: cross-section 0 hide, 1 horizontal, 2 vertical, 3 custom
    std::array<std::int32_t, 11> SpareInt{};  // 30, 35, 52-55, 58-59, 71-73

    // ---- Flags (file lines 81-118, then values not stored) ----
    bool SaveRawImage = false;                // 81: save each acquired frame (imaging)
    bool Save211 = false;                     // 82: the same, guiding camera
    bool DisplayImage = false;                // 83: display each acquired frame (imaging)
    bool DisplayTC = false;                   // 84: the same, guiding camera
    bool EnableShutter = false;               // 85: open and close the shutter around integrations
    bool IncrExt = false;                     // 87: increment the frame number after each frame (imaging)
    bool IncrExt211 = false;                  // 88: the same, guiding camera
    bool CCD1HasPriority = false;             // 92: acquisition thread at time-critical priority
    bool UseFiltDesc = false;                 // 93: "filters" descriptor from the current filter name
    CameraPair<bool> SaveProcessed{};         // 98-99: save dark/flat corrected frames
    CameraPair<bool> ThermalFrameApply{};     // 100-101: apply dark-frame correction
    CameraPair<bool> FlatFrameApply{};        // 102-103: apply flat-field correction
    CameraPair<bool> AmpTurnoff{};            // 104-105: amplifier off during integration
    bool DisableClosePrompt = false;          // 106: close image windows without asking
    bool ICAutoSet = false;                   // 107: automatic display levels for new frames
    bool NewFrameOnCapture = false;           // 109: each frame in a new window
    CameraPair<bool> ReadoutCoolingDisable{}; // 110-111: cooler supply off during readout
    bool UseKEDRO = true;                     // 112: slews through the drive controller, else four-wire
    bool InvertEastWest = false;              // 113
    bool InvertNorthSouth = false;            // 114
    bool LogDisplayScale = false;             // 115: logarithmic display scale for new frames
    bool FocusMode = false;                   // 117: each frame goes to the focus monitor
    std::array<bool, 11> SpareFlag{};         // 86, 89-91, 94-97, 108, 116, 118
    bool TempUpdate = false;                  // not stored: "Periodically read CCD temperature"
    CameraPair<bool> CoolerPowerOn{};         // not stored: cooler supply on
    std::array<bool, 4> ManualSlewFlags{};    // not stored: east, west, north, south (GuideDirection)
    std::array<bool, 3> SpareRunFlag{};       // not stored

    // ---- Floats (file lines 119-139) ----
    CameraPair<float> IntTime{};           // 119-120: integration time in seconds
    CameraPair<float> Delay{};             // 121-122: delay between frames in seconds
    std::array<float, 6> SpareFloat{};     // 123-128
    float GuideCalibrationRatio = 0.0f;    // 129: written by the guide calibration
    CameraPair<float> IntScale{};          // 130-131: display scale (gain) for new frames
    std::array<GuideRate, 4> GuideRates{}; // 132-139: east, west, north, south (GuideDirection)

    // ---- Not stored: loaded from the files named on lines 1 and 2 ----
    std::array<PPalette, 2> DefaultPalettes; // [0] imaging (copied into every new image), [1] guiding

    // Writes the 139 lines to a temporary file and renames it over path, so a failed write leaves
    // the old file whole. False, reported once through the message hooks, on failure.
    bool SaveToFile(const std::string &path) const;
    // Reads the 139 lines into the record. A line that does not hold its field's type (a number
    // line that is no number, a flag line that is not true or false) shows the file is not a
    // settings file: it is reported and nothing is taken. So is a file that ends before its first
    // number line (line 30): none of its lines could show it is a settings file. A file that ends
    // later gives the values it holds; the others keep theirs. False, reported once, when anything
    // was wrong.
    bool LoadFromFile(const std::string &path);
};

// The path acquired frames of a camera are saved under: the record's prefix as it was read, where a
// relative prefix (the shipped "Frames/Image") lies in ProgramDirectory. Every reader of the record
// resolves it here, so a prefix means the same folder whether the settings were read at start-up or
// loaded later, and a settings file written from the record keeps the prefix as it was.
std::string FramePrefixPath(const Settings &s, int camera);

// The two global instances, constructed on first use.
Settings &CurrentSettings();
Settings &SettingsBackup();
