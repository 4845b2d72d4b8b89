#include "acquisition_frame.h"

#include "image_file.h"
#include "settings.h"

#include <algorithm>
#include <cmath>

AcquisitionSettings TakeAcquisitionSettings(const Settings &s, char decimalSeparator)
{
    AcquisitionSettings a;
    a.NImage = s.NImage[0];
    a.InitExt = s.InitExt[0];
    a.IncrExt = s.IncrExt;
    a.NClear = s.NClear[0];
    a.NCOL = s.NCOL[0];
    a.NROW = s.NROW[0];
    a.XHI = s.XHI[0];
    a.XLO = s.XLO[0];
    a.YHI = s.YHI[0];
    a.YLO = s.YLO[0];
    a.YBIN = s.YBIN[0];
    a.XBIN = s.XBIN[0];
    a.AmpTurnoff = s.AmpTurnoff[0];
    a.EnableShutter = s.EnableShutter;
    a.IntTime = s.IntTime[0];
    a.Delay = s.Delay[0];
    a.IntScale = s.IntScale[0];
    a.SaveFile = FramePrefixPath(s, ImagingCamera);
    a.ProcessedPostFix = s.ProcessedPostFix[0];
    a.Desc = s.Desc[0];
    a.Filters = s.Filters[0];
    a.ThermalFrameFile = s.ThermalFrameFile[0];
    a.FlatFrameFile = s.FlatFrameFile[0];
    a.SaveProcessed = s.SaveProcessed[0];
    a.SaveRawImage = s.SaveRawImage;
    a.ThermalFrameApply = s.ThermalFrameApply[0];
    a.FlatFrameApply = s.FlatFrameApply[0];
    a.SaveFormat = s.SaveFormat[0];
    a.LogDisplayScale = s.LogDisplayScale;
    a.ReadoutCoolingDisable = s.ReadoutCoolingDisable[0];
    a.CCD1HasPriority = s.CCD1HasPriority;
    a.ICAutoSet = s.ICAutoSet;
    a.BiasLevel = s.BiasLevel[0];
    a.FocusMode = s.FocusMode;
    a.DisplayImage = s.DisplayImage;
    a.NewFrameOnCapture = s.NewFrameOnCapture;
    a.CoolerPowerOn = {s.CoolerPowerOn[0], s.CoolerPowerOn[1]};
    a.CCDTargetTemp = {s.CCDTargetTemp[0], s.CCDTargetTemp[1]};
    a.DecimalSeparator = decimalSeparator;
    return a;
}

int BinnedSize(int low, int high, int binning)
{
    const double span = static_cast<double>(high) - static_cast<double>(low) + 1.0;
    return static_cast<int>(std::ceil(span / static_cast<double>(binning)));
}

std::string ComputeRunGeometry(const AcquisitionSettings &s, AcquisitionHeader &header)
{
    // The readout command carries each binning in one byte and each limit in one 16-bit word.
    if (s.XBIN < 1 || s.XBIN > 255)
        return "Column binning must be between 1 and 255; the acquisition was not started.";
    if (s.YBIN < 1 || s.YBIN > 255)
        return "Row binning must be between 1 and 255; the acquisition was not started.";
    if (s.NCOL < 1 || s.NROW < 1 || s.NCOL > 65536 || s.NROW > 65536)
        return "The sensor size is not known; select the CCD before acquiring.";
    if (s.XLO < 0 || s.XHI < s.XLO)
        return "The highest column index is below the lowest; the acquisition was not started.";
    if (s.YLO < 0 || s.YHI < s.YLO)
        return "The highest row index is below the lowest; the acquisition was not started.";
    if (s.XHI >= s.NCOL)
        return "The highest column index lies beyond the sensor (" + std::to_string(s.NCOL) +
               " columns); the acquisition was not started.";
    if (s.YHI >= s.NROW)
        return "The highest row index lies beyond the sensor (" + std::to_string(s.NROW) +
               " rows); the acquisition was not started.";
    const int columns = BinnedSize(s.XLO, s.XHI, s.XBIN);
    const int rows = BinnedSize(s.YLO, s.YHI, s.YBIN);
    if (!PlausibleImageSize(columns, rows, 1))
        return "The sub-frame is too large to be read; the acquisition was not started.";
    header.Columns = columns;
    header.Rows = rows;
    header.SensorColumns = s.NCOL;
    header.SensorRows = s.NROW;
    header.XHigh = s.XHI;
    header.XLow = s.XLO;
    header.YHigh = s.YHI;
    header.YLow = s.YLO;
    header.YBinning = s.YBIN;
    header.XBinning = s.XBIN;
    return {};
}

int WholeSeconds(float seconds)
{
    constexpr float Longest = 1.0e9f; // about 31 years, well inside int
    if (!(seconds > 0.0f))
        return 0;
    return static_cast<int>(std::trunc(std::min(seconds, Longest)));
}

std::string FrameFileName(const std::string &prefix, const std::string &processedPostfix, bool saveProcessed,
                          int number, int format)
{
    static const char *const extensions[] = {".kvr", ".fit", ".bmp", ".png"};
    std::string name = prefix;
    if (saveProcessed)
        name += processedPostfix;
    name += '_';
    name += std::to_string(number);
    if (format >= 0 && format <= 3)
        name += extensions[format];
    return name;
}
