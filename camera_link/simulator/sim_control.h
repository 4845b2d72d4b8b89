#pragma once
// Control of the simulated camera controller, for tests, benchmarks and demos.
//
// The simulator is one device per process (it lives in the shared library korvi_sim, so korvicom
// and a test program see the same instance). Its state outlives every open and close of the link.
// A test typically does:
//
//     korvi::sim::Config config;          // defaults: 1565 x 1032 imaging, 211 x 165 guiding
//     config.manualClock = true;          // physics time moves only by AdvanceClock()
//     korvi::sim::Reset(config);          // fresh device, empty call log, no faults
//     ... call korvicom or FT_* ...
//     auto log = korvi::sim::CallLog();   // every FT_* call with its bytes and status
//     auto state = korvi::sim::GetSnapshot();
//
// Faults are injected with SetFaults() and stay until the next SetFaults(), ClearFaults() or Reset().
// Environment variables (read by DefaultConfig(), which the device starts with):
//   KORVI_SIM_SEED        star field and noise seed (unsigned integer)
//   KORVI_SIM_GUIDE_RATE  mount guide rate in arcseconds per second
//   KORVI_SIM_DRIFT       mount drift "x,y" in arcseconds per second on the sky
//   KORVI_SIM_FLAT        1: the telescope looks at an evenly lit field (for flats), 0: at the stars
#include "ftd2xx/ftd2xx.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#define KORVI_SIM_API __attribute__((visibility("default")))

namespace korvi::sim
{

// One of the two cameras on the controller (index 0 imaging, 1 guiding).
struct CameraConfig {
    int columns = 1565; // physical sensor size in pixels
    int rows = 1032;
    double gain = 2.0;                // electrons per ADU
    double bias = 1000.0;             // ADU
    double readNoise = 12.0;          // electrons RMS per (binned) pixel read
    double darkCurrentAt0C = 1.0;     // electrons per second per pixel at 0 degrees C
    double darkDoublingCelsius = 6.3; // dark current doubles every this many degrees
    int hotPixels = 6;                // pixels with a far higher dark current
    double hotPixelFactor = 400.0;    // their dark current against the normal one
    double skyBackground = 20.0;      // electrons per second per pixel while light reaches it
    double pixelScale = 2.5;          // arcseconds per pixel
    double rotationDegrees = 0.0;     // of the sensor's x axis against the sky's x axis
    double centreX = 0.0;             // sky point (arcseconds) at the sensor's centre
    double centreY = 0.0;
    double psfSigma = 1.4;  // star image Gaussian sigma in pixels
    bool hasShutter = true; // false: light reaches the sensor all the time
};

struct Config {
    std::uint64_t seed = 1;
    CameraConfig imaging;
    CameraConfig guiding = [] {
        CameraConfig c;
        c.columns = 211;
        c.rows = 165;
        c.gain = 1.5;
        c.bias = 800.0;
        c.readNoise = 10.0;
        c.pixelScale = 5.0;
        c.centreX = 2600.0; // beside the imaging field, off axis
        c.centreY = 0.0;
        c.psfSigma = 1.2;
        c.hotPixels = 3;
        c.hasShutter = false;
        return c;
    }();
    int stars = 220;                    // random stars in the sky region both cameras see
    double starFieldHalfWidth = 4200.0; // arcseconds around the origin that the stars fill
    // A rich cluster on the corner of the imaging sensor that a KAF-401e/le sized frame reads
    // (columns 0-796, rows 0-511, the program's shipped sub-frame): a first one-second frame shows
    // dozens of stars thousands of counts above the sky, enough of them for automatic levels to
    // keep the sky dark.
    int clusterStars = 160;
    double clusterFluxLow = 2.0e4, clusterFluxHigh = 6.0e5; // electrons per second, log-uniform
    // An evenly lit field in front of the telescope (a flat panel, the twilight sky): no star is in
    // view, and both sensors collect evenlyLitRate electrons per second per pixel instead of the
    // sky background, so a series of a few seconds each gives flats.
    bool evenlyLitField = false;
    double evenlyLitRate = 1500.0;

    // Mount: a slew moves the field at the guide rate along the mount's axes, which are rotated
    // by mountRotationDegrees against the sky's x (east-west) and y (north-south) axes.
    double guideRate = 7.5; // arcseconds per second
    double mountRotationDegrees = 12.0;
    double driftX = 0.0; // arcseconds per second, always
    double driftY = 0.0;

    // Coolers: first-order approach to the target, at most maxCooling below ambient.
    double ambientCelsius = 20.0;
    double maxCooling = 40.0;
    double coolerTimeConstant = 60.0; // seconds
    double batteryVolts = 12.0;

    std::uint16_t modemStatus = 0x30;    // CTS and DSR set
    bool manualClock = false;            // true: physics time starts at 0 and moves only by AdvanceClock()
    bool callLog = true;                 // record every FT_* call
    std::size_t callLogLimit = 20000;    // oldest records are dropped beyond this
    std::size_t callLogReadBytes = 1024; // bytes of each read kept in its record (the count is always kept)
};

// One failing driver call: the ordinal-th call of the named function (counted from the
// SetFaults() that installed it) returns status and does nothing else (a failing FT_Close still
// lets go of the device, as a driver does with a handle it failed to close cleanly).
struct CallFailure {
    std::string function; // "FT_Write"; empty matches every FT_* call
    int ordinal = 1;      // 1: the next matching call
    FT_STATUS status = FT_IO_ERROR;
    bool repeat = false; // also every matching call after the ordinal-th
    // Not empty: only the FT_Write calls whose bytes begin with these match (and are counted), so a
    // fault can hit one command (one camera's temperature read) whoever else uses the link.
    std::vector<std::uint8_t> writing{};
};

struct Faults {
    bool noDevice = false;           // FT_Open gives FT_DEVICE_NOT_FOUND
    bool busy = false;               // FT_Open gives FT_DEVICE_NOT_OPENED (held elsewhere)
    bool noAcknowledge = false;      // quick commands are carried out but send no byte back
    int acknowledgeByte = 1;         // the byte quick commands send back (2: refused)
    bool noReply = false;            // temperature, battery, drive-controller and status replies not sent
    int prefixBytes = -1;            // readout prefix bytes actually sent (-1: all 200)
    long long frameBytes = -1;       // readout and diagnostic pixel bytes actually sent (-1: all)
    bool refuseTransferSize = false; // FT_SetUSBParameters fails ...
    FT_STATUS transferSizeStatus = FT_INVALID_PARAMETER; // ... with this status
    // Bytes the controller pushes unasked; they reach the receive queue at the next FT_GetStatus
    // (after the link's purges), once.
    std::vector<std::uint8_t> unsolicited;
    std::vector<CallFailure> failures;
};

// One FT_* call as the simulated driver saw it.
struct CallRecord {
    std::string function;              // "FT_Open", "FT_Write", ...
    std::vector<long long> args;       // the numeric arguments in signature order (no handle, no buffers)
    std::vector<long long> outputs;    // values returned through pointers (FT_Write: written; FT_Read:
                                       // returned; FT_GetStatus: rx, tx, event; FT_GetModemStatus: status)
    std::vector<std::uint8_t> written; // FT_Write: the bytes given
    std::vector<std::uint8_t> read;    // FT_Read: the bytes returned (at most callLogReadBytes of them)
    FT_STATUS status = FT_OK;
    bool injected = false; // the status came from an injected failure
    double time = 0.0;     // simulator time in seconds
};

struct CoolerState {
    bool powered = false;
    double targetCelsius = 0.0;       // from the last target command
    double temperatureCelsius = 20.0; // now
};

// Geometry of the last readout command a camera received.
struct ReadoutRequest {
    int xLow = 0, xHigh = -1, yLow = 0, yHigh = -1;
    int xBinning = 1, yBinning = 1;
    int sensorColumns = 0, sensorRows = 0;
    int columns = 0, rows = 0; // what the controller sent (0 x 0 when it sent no pixels)
};

struct CameraState {
    CoolerState cooler;
    unsigned readouts = 0;
    unsigned clears = 0; // clearing scans (opcode of the vertical clear)
    unsigned horizontalClears = 0;
    int lastClearRows = 0, lastClearColumns = 0;
    ReadoutRequest lastReadout;
    double lastLightSeconds = 0.0; // light time of the last frame read
    double lastDarkSeconds = 0.0;  // charge time of the last frame read
};

struct PortState {
    bool open = false;
    unsigned opens = 0;
    unsigned resets = 0;
    std::uint32_t baudRate = 0;
    int wordLength = 0, stopBits = 0, parity = 0;
    int flowControl = -1;
    bool dtr = false, rts = false;
    std::uint32_t readTimeoutMs = 0, writeTimeoutMs = 0;
    std::uint32_t inTransferSize = 0, outTransferSize = 0;
    std::size_t queuedBytes = 0; // reply bytes waiting to be read
};

struct DriveState {
    std::array<std::uint16_t, 512> memory{};
    std::array<std::uint16_t, 12> configuration{};
    std::array<std::uint16_t, 4> rates{};
    std::uint16_t lastTestWord = 0; // the word the last input/output test carried
    unsigned commands = 0;
    int lastSubcommand = -1;
};

struct Snapshot {
    double time = 0.0; // simulator time in seconds
    PortState port;
    std::array<CameraState, 2> cameras;
    bool shutterOpen = false;
    bool filterWheelPowered = true;
    int filterPosition = 1;   // 1..6
    unsigned filterSteps = 0; // steps the wheel has turned in all
    bool standby = false;
    bool vddHigh = true;
    bool lcdEnabled = false;
    std::string lcdText;
    double batteryVolts = 12.0;
    int clockTestCamera = -1; // -1: no clock test runs
    int clockTestClock = -1;
    int slewBits = 0;                  // east 1, west 2, north 4, south 8 now in motion
    double mountX = 0.0, mountY = 0.0; // field offset on the sky, arcseconds
    DriveState drive;
    unsigned commands = 0;                 // complete commands received
    unsigned unknownCommands = 0;          // bytes dropped for an unknown opcode
    std::vector<std::uint8_t> lastCommand; // bytes of the last complete command
};

// The configuration the device starts with: Config{} with the demo environment variables applied.
KORVI_SIM_API Config DefaultConfig();

// Puts the device into its starting state for config: closed, empty queues, no faults, empty log,
// clock at 0. A link still open is dropped: its handle gives FT_INVALID_HANDLE from then on.
KORVI_SIM_API void Reset(const Config &config);
KORVI_SIM_API void Reset(); // with DefaultConfig()
KORVI_SIM_API Config CurrentConfig();

KORVI_SIM_API Snapshot GetSnapshot();

KORVI_SIM_API void SetFaults(const Faults &faults);
KORVI_SIM_API void ClearFaults();

KORVI_SIM_API std::vector<CallRecord> CallLog();
KORVI_SIM_API void ClearCallLog();
// The bytes of every FT_Write in the log, one entry per call (handy for exact-wire checks).
KORVI_SIM_API std::vector<std::vector<std::uint8_t>> WrittenBlocks();

// Simulator time in seconds (manual clock: the sum of AdvanceClock() calls since Reset()).
KORVI_SIM_API double Now();
// Moves the manual clock forward (ignored without manualClock).
KORVI_SIM_API void AdvanceClock(double seconds);

// Setting the sky and device state directly, for tests and demos.
KORVI_SIM_API void SetMountOffset(double x, double y);
KORVI_SIM_API void SetCoolerTemperature(int camera, double celsius);
KORVI_SIM_API void SetBatteryVolts(double volts);
// Star images of this camera from the next readout on have this gaussian sigma in pixels (the
// focuser has moved); the stars keep their fluxes.
KORVI_SIM_API void SetStarWidth(int camera, double psfSigma);

// Replay: readouts of this camera send these words (row by row) in place of a synthesised frame,
// straight from this buffer without a copy; a readout larger than the buffer gets zeros after it.
// An empty pointer returns to synthesised frames.
KORVI_SIM_API void SetReplayFrame(int camera, std::shared_ptr<const std::vector<std::uint16_t>> words);
// Readouts of this camera send these words as their 100-word prefix (fewer are padded with zeros,
// more are cut) in place of synthesised bias samples. An empty vector returns to the bias samples.
KORVI_SIM_API void SetReplayPrefix(int camera, std::vector<std::uint16_t> words);

// The frame the next readout of this camera would send now for this geometry (for model tests):
// it reads nothing out, so the charge and the noise draw stay for the real readout.
KORVI_SIM_API std::vector<std::uint16_t> PeekFrame(int camera, const ReadoutRequest &geometry);

} // namespace korvi::sim
