#include "guiding/guide_arithmetic.h"

#include "acquisition_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace
{

// The slowest rate a calibration accepts: half a pixel over its 10 s slews, well above the
// tenth of a pixel the shift measurement resolves.
constexpr double MinimumRate = 0.05;
// East and north must be at least this far from one line (sine of the angle between them).
constexpr double MinimumAxisSine = 0.25;

double Length(GuideRate v)
{
    return std::hypot(static_cast<double>(v.x), static_cast<double>(v.y));
}

bool Finite(GuideRate v)
{
    return std::isfinite(v.x) && std::isfinite(v.y);
}

// Cross product a x b: the determinant of the two rates as columns.
double Cross(GuideRate a, GuideRate b)
{
    return static_cast<double>(a.x) * b.y - static_cast<double>(a.y) * b.x;
}

double PulseTime(double t)
{
    return std::isfinite(t) && t > 0.0 ? t : 0.0;
}

} // namespace

GuideSettings TakeGuideSettings(const Settings &s, char decimalSeparator)
{
    constexpr int G = GuidingCamera;
    GuideSettings g;
    g.GuideMode = s.GuideMode;
    g.XHI = s.XHI[G];
    g.XLO = s.XLO[G];
    g.YHI = s.YHI[G];
    g.YLO = s.YLO[G];
    g.XBIN = s.XBIN[G];
    g.YBIN = s.YBIN[G];
    g.NCOL = s.NCOL[G];
    g.NROW = s.NROW[G];
    g.NClear = s.NClear[G];
    g.IntTime = s.IntTime[G];
    g.Delay = s.Delay[G];
    g.InitExt = s.InitExt[G];
    g.NImage = s.NImage[G];
    g.Save = s.Save211;
    g.Display = s.DisplayTC;
    g.IncrExt = s.IncrExt211;
    g.SaveFormat = s.SaveFormat[G];
    g.SaveFile = FramePrefixPath(s, G);
    g.ReadoutCoolingDisable = s.ReadoutCoolingDisable[G];
    g.CoolerPowerOn = s.CoolerPowerOn[G];
    g.CCDTargetTemp = s.CCDTargetTemp[G];
    g.GuideDetent = s.GuideDetent;
    g.GuideMaxExcursion = s.GuideMaxExcursion;
    g.GuideRates = s.GuideRates;
    g.UseKEDRO = s.UseKEDRO;
    g.InvertEastWest = s.InvertEastWest;
    g.InvertNorthSouth = s.InvertNorthSouth;
    g.Palette.Assign(s.DefaultPalettes[G]);
    g.DecimalSeparator = decimalSeparator;
    return g;
}

std::string GuideFrameGeometry(const GuideSettings &g, AcquisitionHeader &header)
{
    AcquisitionSettings a;
    a.NCOL = g.NCOL;
    a.NROW = g.NROW;
    a.XHI = g.XHI;
    a.XLO = g.XLO;
    a.YHI = g.YHI;
    a.YLO = g.YLO;
    a.XBIN = g.XBIN;
    a.YBIN = g.YBIN;
    return ComputeRunGeometry(a, header);
}

GuidePulse ComputeGuidePulse(float dx, float dy, const std::array<GuideRate, 4> &rates)
{
    // The correction moves the star back.
    const double x = -static_cast<double>(dx), y = -static_cast<double>(dy);
    const GuideRate north = rates[GuideNorth];
    GuideRate e = rates[GuideEast];
    GuidePulse pulse;
    pulse.directions[GuideEast] = true;
    pulse.directions[GuideNorth] = true;
    double tE = (y * north.x - x * north.y) /
                (static_cast<double>(north.x) * e.y - static_cast<double>(north.y) * e.x);
    if (tE < 0.0) {
        pulse.directions[GuideEast] = false;
        pulse.directions[GuideWest] = true;
        e = rates[GuideWest];
        tE = (y * north.x - x * north.y) /
             (static_cast<double>(north.x) * e.y - static_cast<double>(north.y) * e.x);
    }
    double tN =
        (x * e.y - y * e.x) / (static_cast<double>(e.y) * north.x - static_cast<double>(e.x) * north.y);
    if (tN < 0.0) {
        pulse.directions[GuideNorth] = false;
        pulse.directions[GuideSouth] = true;
        tN = -tN;
    }
    pulse.eastWestSeconds = PulseTime(tE);
    pulse.northSouthSeconds = PulseTime(tN);
    return pulse;
}

std::string GuideRatesProblem(const std::array<GuideRate, 4> &rates)
{
    for (const GuideRate &rate : rates)
        if (!Finite(rate))
            return "The guide rates are not numbers; calibrate first.";
    const GuideRate east = rates[GuideEast], west = rates[GuideWest], north = rates[GuideNorth];
    const double tiny = 1e-6;
    if (!(std::abs(Cross(north, east)) > tiny) || !(std::abs(Cross(north, west)) > tiny))
        return "The guide rates give no usable east-west and north-south axes; calibrate first.";
    return {};
}

double GuidePulseLimiter::Limited(Axis &axis, double seconds, bool positive)
{
    if (cycles_ <= 40)
        return seconds;
    const double mean = axis.sum / cycles_;
    if (!(seconds > excursion_ * mean)) {
        axis.run = 0;
        return seconds;
    }
    if (axis.run == 0 || axis.positive != positive) {
        axis.run = 0;
        axis.positive = positive;
    }
    if (++axis.run <= MaxCutsInARow)
        return mean;
    axis.run = 0; // this pulse takes the star back; a later long time starts a new run
    return seconds;
}

void GuidePulseLimiter::Limit(GuidePulse &pulse)
{
    if (resumed_) {
        resumed_ = false;
        eastWest_.run = northSouth_.run = 0;
    } else {
        pulse.eastWestSeconds = Limited(eastWest_, pulse.eastWestSeconds, !pulse.directions[GuideWest]);
        pulse.northSouthSeconds =
            Limited(northSouth_, pulse.northSouthSeconds, !pulse.directions[GuideSouth]);
    }
    const double cap = std::max(0, detent_);
    pulse.eastWestSeconds = std::min(pulse.eastWestSeconds, cap);
    pulse.northSouthSeconds = std::min(pulse.northSouthSeconds, cap);
    eastWest_.sum += pulse.eastWestSeconds;
    northSouth_.sum += pulse.northSouthSeconds;
    ++cycles_;
}

CalibrationResult ComputeCalibration(const CalibrationShifts &shifts)
{
    CalibrationResult result;
    // Each shift over the time it really took (nominally 20 s of drift and 10 s of each slew).
    auto perSecond = [](GuideRate v, double seconds, GuideRate less) {
        const float factor = static_cast<float>(1.0 / seconds);
        return GuideRate{v.x * factor - less.x, v.y * factor - less.y};
    };
    const GuideRate drift = perSecond(shifts.drift, shifts.driftSeconds, {});
    GuideRate east = perSecond(shifts.east, shifts.eastSeconds, drift);
    GuideRate west = perSecond(shifts.west, shifts.westSeconds, drift);
    GuideRate north = perSecond(shifts.north, shifts.northSeconds, drift);
    // The check slew's motion as the rates predict it: its time (20 s) of north with the drift.
    const auto check = static_cast<float>(shifts.checkSeconds);
    const GuideRate predicted{(north.x + drift.x) * check, (north.y + drift.y) * check};

    for (GuideRate v : {drift, east, west, north, shifts.check})
        if (!Finite(v)) {
            result.problem = "the measured motion is not a number";
            return result;
        }
    const char *names[] = {"east", "west", "north"};
    const GuideRate measured[] = {east, west, north};
    for (int i = 0; i < 3; ++i)
        if (Length(measured[i]) < MinimumRate) {
            result.problem = std::string("no measurable motion ") + names[i];
            return result;
        }
    const double eastLength = Length(east), westLength = Length(west);
    if (std::abs(Cross(east, north)) < MinimumAxisSine * eastLength * Length(north)) {
        result.problem = "east and north move the star along one line";
        return result;
    }
    // How far the measured check motion lies from the prediction, as a share of the prediction:
    // 0 for a calibration whose rates foretell the check slew exactly.
    result.checkRatio = static_cast<float>(
        std::hypot(shifts.check.x - predicted.x, shifts.check.y - predicted.y) / Length(predicted));
    if (!(result.checkRatio <= CalibrationCheckTolerance)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the check slew moved the star %.0f %% away from where the measured rates put it",
                      result.checkRatio * 100.0);
        result.problem = text;
        return result;
    }

    // North perpendicular to east: keep the component along east's smaller coordinate and solve
    // for the other, so the division is never by a near-zero coordinate.
    if (std::abs(east.x) >= std::abs(east.y))
        north.x = -east.y * north.y / east.x;
    else
        north.y = -east.x * north.x / east.y;
    // West against east, at the speed west was measured to move.
    const float w = static_cast<float>(westLength / eastLength);
    west = {-w * east.x, -w * east.y};
    result.rates[GuideEast] = east;
    result.rates[GuideWest] = west;
    result.rates[GuideNorth] = north;
    result.rates[GuideSouth] = {-north.x, -north.y};
    result.ok = true;
    return result;
}

std::string ApplyCalibration(Settings &settings, const CalibrationResult &result)
{
    settings.GuideMode = 1;
    if (!result.ok)
        return "Status: Calibration failed (" + result.problem + "); the previous guide rates were kept.";
    settings.GuideRates = result.rates;
    settings.GuideCalibrationRatio = result.checkRatio;
    const GuideRate e = result.rates[GuideEast], w = result.rates[GuideWest], n = result.rates[GuideNorth];
    const double angle =
        std::atan2(static_cast<double>(e.y), static_cast<double>(e.x)) * 180.0 / std::numbers::pi;
    char text[256];
    std::snprintf(text, sizeof text,
                  "Status: Calibrated. Rates (px/s): east %.3f, %.3f; west %.3f, %.3f; north %.3f, %.3f. "
                  "Axis angle %.1f deg; the check slew lay %.1f %% from the rates' prediction.",
                  e.x, e.y, w.x, w.y, n.x, n.y, angle, result.checkRatio * 100.0);
    return text;
}
