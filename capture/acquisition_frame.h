#pragma once
// The Qt-free pieces of an acquisition run: the settings one frame uses (copied on the GUI thread,
// the only writer of the settings), the run's geometry with its checks, and the frame file names.
#include "acquisition_header.h"
#include "palette.h"

#include <array>
#include <cstdint>
#include <string>

struct Settings;

// The imaging camera's settings as one frame reads them.
struct AcquisitionSettings {
    int NImage = 1, InitExt = 1;
    bool IncrExt = false;
    int NClear = 0;
    int NCOL = 0, NROW = 0, XHI = 0, XLO = 0, YHI = 0, YLO = 0, YBIN = 1, XBIN = 1;
    bool AmpTurnoff = false, EnableShutter = false;
    float IntTime = 0.0f, Delay = 0.0f, IntScale = 1.0f;
    std::string SaveFile, ProcessedPostFix, Desc, Filters, ThermalFrameFile, FlatFrameFile;
    bool SaveProcessed = false, SaveRawImage = false, ThermalFrameApply = false, FlatFrameApply = false;
    int SaveFormat = 0;
    bool LogDisplayScale = false, ReadoutCoolingDisable = false, CCD1HasPriority = false, ICAutoSet = false;
    int BiasLevel = 0;
    bool FocusMode = false, DisplayImage = false, NewFrameOnCapture = false;
    std::array<bool, 2> CoolerPowerOn{};
    std::array<int, 2> CCDTargetTemp{};
    char DecimalSeparator = '.';
};

AcquisitionSettings TakeAcquisitionSettings(const Settings &settings, char decimalSeparator);

// Columns and rows of a sub-frame span under binning: ceil((high - low + 1) / bin).
int BinnedSize(int low, int high, int binning);

// Fills the header's sensor size, sub-frame, binning and computed columns and rows (the other
// fields keep their defaults). Returns an empty text when the values make a readable frame, else
// the message that says what is wrong (nothing is filled then).
std::string ComputeRunGeometry(const AcquisitionSettings &settings, AcquisitionHeader &header);

// The integration is long enough for the amplifier to be switched off during it.
inline bool LowersAmplifier(const AcquisitionSettings &settings)
{
    return settings.AmpTurnoff && settings.IntTime > 5.0f;
}

// The whole seconds a wait of the given length lasts: the length truncated, 0 for a negative or
// non-numeric length, and at most 10^9 s, so a mistyped length cannot overflow the conversion
// to int.
int WholeSeconds(float seconds);

// "<prefix>[<postfix>]_<number><extension>": the postfix only when processed frames are saved;
// extension by format 0 ".kvr", 1 ".fit", 2 ".bmp", 3 ".png", none for any other.
std::string FrameFileName(const std::string &prefix, const std::string &processedPostfix, bool saveProcessed,
                          int number, int format);
