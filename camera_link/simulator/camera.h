#pragma once
// One simulated camera: its sensor (charge from sky, stars, dark current and hot pixels, read
// out binned with bias, read noise and shot noise) and its thermo-electric cooler. Plain code
// driven with explicit simulator times, so tests can use it without the link.
#include "simulator/sim_control.h"
#include "simulator/sky.h"

#include <cstdint>
#include <vector>

namespace korvi::sim
{

// The cooler: while powered the sensor temperature approaches the target (but never more than
// maxCooling below ambient) with a first-order lag; unpowered it drifts back to ambient.
class Cooler
{
public:
    Cooler(double ambient, double maxCooling, double timeConstant);

    void Advance(double now);
    void SetPowered(bool powered, double now);
    void SetTarget(double celsius, double now);
    void SetTemperature(double celsius, double now);
    // Standby switches the cooler supplies off without forgetting that they were on.
    void SetStandby(bool standby, double now);

    double temperature() const { return temperature_; }
    bool powered() const { return powered_; }
    double target() const { return target_; }
    // The temperature the cooler heads for now.
    double Goal() const;

private:
    double ambient_, maxCooling_, timeConstant_;
    bool powered_ = false;
    bool standby_ = false;
    double target_ = 0.0;
    double temperature_;
    double time_ = 0.0;
};

// Columns and rows a readout of this geometry sends: each span divided by its binning, rounded up
// (the same arithmetic as the host). 0 x 0 for a geometry the controller does not read: a binning
// of 0, an empty span, or more than maxFrameWords words in all.
void ReadoutSize(const ReadoutRequest &geometry, int *columns, int *rows);
constexpr long long maxFrameWords = 16ll * 1024 * 1024; // a 4096 x 4096 sensor

class Camera
{
public:
    Camera(const CameraConfig &config, const Config &shared, int index);

    const CameraConfig &config() const { return config_; }
    // Star image width from now on (a focuser moving): gaussian sigma in pixels.
    void SetPsfSigma(double sigma) { config_.psfSigma = sigma; }
    Cooler &cooler() { return cooler_; }
    const Cooler &cooler() const { return cooler_; }

    // Charge bookkeeping. Clear() empties the sensor; light collects while the shutter is open
    // (always, for a camera without one); dark charge all the time since the last clear or read.
    void Clear(double now, const Mount &mount);
    void SetShutter(bool open, double now, const Mount &mount);
    bool lightReaching() const { return lightOpen_; }

    // Light and charge seconds collected up to now, and the mean field offset while lit.
    struct Exposure {
        double lightSeconds = 0.0;
        double darkSeconds = 0.0;
        double meanX = 0.0, meanY = 0.0;
        double temperature = 0.0;
    };
    Exposure ExposureAt(double now, const Mount &mount) const;

    // The 100 bias samples that precede every frame.
    std::vector<std::uint16_t> Prefix(std::uint64_t frameSeed) const;
    // The frame for this geometry and exposure, row by row (columns x rows words).
    std::vector<std::uint16_t> Render(const ReadoutRequest &geometry, const Exposure &exposure,
                                      const std::vector<Star> &stars, std::uint64_t frameSeed) const;
    // Expected electrons in each unbinned sensor pixel of the sub-frame rectangle, row by row,
    // before noise (for tests of the sky and the dark model).
    std::vector<double> ExpectedCharge(int x0, int y0, int width, int height, const Exposure &exposure,
                                       const std::vector<Star> &stars) const;

    // Dark current of one ordinary pixel at the given temperature, electrons per second.
    double DarkCurrent(double celsius) const;
    struct HotPixel {
        int x, y;
    };
    const std::vector<HotPixel> &hotPixels() const { return hotPixels_; }
    // Sensor pixel position of a sky point for the given field offset.
    void SkyToSensor(double skyX, double skyY, double offsetX, double offsetY, double *px, double *py) const;

private:
    CameraConfig config_;
    Cooler cooler_;
    std::vector<HotPixel> hotPixels_;
    double chargeStart_ = 0.0;
    bool lightOpen_ = false;
    double lightSince_ = 0.0;
    double lightIntegralX_ = 0.0, lightIntegralY_ = 0.0; // mount integral at lightSince_
    double lightSeconds_ = 0.0;                          // closed intervals since the clear
    double lightSumX_ = 0.0, lightSumY_ = 0.0;
};

} // namespace korvi::sim
