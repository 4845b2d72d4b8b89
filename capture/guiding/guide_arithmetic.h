#pragma once
// The arithmetic of guiding, kept apart from the thread so it can be tested on its own: the
// guider's settings as one run reads them, the guide pulse that moves a measured shift back, the
// limits every pulse obeys, and the guide rates a calibration measures.
#include "acquisition_header.h"
#include "settings.h"

#include <array>
#include <string>

// The guiding camera's settings as one guide-thread run reads them, taken on the GUI thread when
// the run starts.
struct GuideSettings {
    int GuideMode = 0; // 0 acquire guider frames, 1 guide, 2 calibrate
    int XHI = 0, XLO = 0, YHI = 0, YLO = 0, XBIN = 1, YBIN = 1, NCOL = 0, NROW = 0;
    int NClear = 0;
    float IntTime = 0.0f, Delay = 0.0f;
    int InitExt = 1, NImage = 1;
    bool Save = false, Display = false, IncrExt = false;
    int SaveFormat = 0;
    std::string SaveFile;
    bool ReadoutCoolingDisable = false, CoolerPowerOn = false;
    int CCDTargetTemp = 0;
    int GuideDetent = 5;
    int GuideMaxExcursion = 5;
    std::array<GuideRate, 4> GuideRates{};
    bool UseKEDRO = true, InvertEastWest = false, InvertNorthSouth = false;
    PPalette Palette; // the guider's default palette, given to every frame
    char DecimalSeparator = '.';
};

GuideSettings TakeGuideSettings(const Settings &settings, char decimalSeparator);

// The readout geometry of the guider's sub-frame (sensor size, sub-frame, binning, computed
// columns and rows). Empty text when it makes a readable frame, else what is wrong.
std::string GuideFrameGeometry(const GuideSettings &settings, AcquisitionHeader &header);

// One guide correction: the directions to pulse (indexed by GuideDirection) and how long the
// east-west and the north-south pulse last, in seconds.
struct GuidePulse {
    std::array<bool, 4> directions{};
    double eastWestSeconds = 0.0;
    double northSouthSeconds = 0.0;
};

// The pulse that moves a star measured (dx, dy) pixels away from its reference position back to
// it, with the rates of the four directions (pixels per second of image motion while slewing).
// East and north are solved for first; a negative east time is solved again with the west rate
// and pulses west, a negative north time pulses south for its length. Times that come out
// negative or not finite are 0.
GuidePulse ComputeGuidePulse(float dx, float dy, const std::array<GuideRate, 4> &rates);

// Empty when the rates can guide (finite, and east and north, west and north span the plane),
// else the reason they cannot.
std::string GuideRatesProblem(const std::array<GuideRate, 4> &rates);

// The limits every pulse obeys, with the running means they need.
class GuidePulseLimiter
{
public:
    // An excursion is cut for at most this many cycles in a row in one direction of an axis.
    static constexpr int MaxCutsInARow = 2;

    GuidePulseLimiter(int detentSeconds, int maxExcursion) : detent_(detentSeconds), excursion_(maxExcursion)
    {
    }
    // After more than 40 cycles a time above the excursion factor times its running mean becomes
    // the mean: a lone measurement far off (a seeing flash, a cosmic ray beside the star) does not
    // throw the mount. An offset that every frame measures again in the same direction is no
    // such outlier but a real one (a gust of wind, a knock on the tube): cut to the mean each
    // cycle, its pulse would only keep up with the drift and the star would stay off its place
    // for the rest of the night. So a long time is cut at most MaxCutsInARow cycles in a row in
    // one direction of an axis (a time within the limit or one the other way ends the run); the
    // next one in that direction goes out whole, and counting starts again. Every time is then
    // capped at the cycle length, so a pulse always ends within its cycle. The limited times
    // enter the running means.
    void Limit(GuidePulse &pulse);
    // The star is back after cycles without it: the offset its first frame shows is the drift
    // gathered meanwhile, measured once on a real star, so the next pulse goes out whole (still
    // capped at the cycle length); cut as an excursion, it would leave the star off for two more
    // cycles.
    void Resume() { resumed_ = true; }
    int Cycles() const { return cycles_; }

private:
    // One axis's running sum and its current run of long times in one direction.
    struct Axis {
        double sum = 0.0;
        int run = 0;
        bool positive = true; // east, or north: the direction of the run
    };
    double Limited(Axis &axis, double seconds, bool positive);

    int detent_;
    int excursion_;
    int cycles_ = 0;
    bool resumed_ = false;
    Axis eastWest_, northSouth_;
};

// The shifts a calibration measures, each from one frame to the next (pixels), and how long the
// wait or the slew between those frames really lasted (seconds; a busy moment can lengthen one).
struct CalibrationShifts {
    GuideRate drift; // frames 1 to 2, over the 20 s drift wait
    GuideRate east;  // frames 2 to 3, over 10 s of east
    GuideRate west;  // frames 3 to 4, over 10 s of west
    GuideRate north; // frames 5 to 6, over 10 s of north
    GuideRate check; // frames 6 to 7, over 20 s of north
    double driftSeconds = 20.0, eastSeconds = 10.0, westSeconds = 10.0, northSeconds = 10.0,
           checkSeconds = 20.0;
};

// A calibration whose check slew lies further than this share of its predicted motion from
// where the measured rates put it is refused.
constexpr float CalibrationCheckTolerance = 0.25f;

struct CalibrationResult {
    bool ok = false;
    std::string problem; // why the rates could not be taken
    std::array<GuideRate, 4> rates{};
    // The check slew (20 s north) against the rates: the distance between its measured motion and
    // the motion the rates and the drift predict, over the predicted motion (0: exact).
    float checkRatio = 0.0f;
};

// The rates from the measured shifts: drift = drift shift / its wait (20 s); east, west and north =
// their shift / their slew's time (10 s) less the drift; north is made perpendicular to east, west points
// against east with its own measured speed, south against north. A calibration with no measurable motion,
// non-finite values, east and north along one line or a check slew beyond CalibrationCheckTolerance is
// refused with its reason.
CalibrationResult ComputeCalibration(const CalibrationShifts &shifts);

// What the owner of a calibration run does with its result: the guide mode becomes 1 (guide);
// the rates and the check ratio are stored only when the calibration succeeded, so a failed one
// keeps the rates guiding used before. Returns the status text that says which it was: the
// measured rates, the east axis's angle against the sensor's x axis and the check ratio, or why
// the calibration was refused.
std::string ApplyCalibration(Settings &settings, const CalibrationResult &result);
