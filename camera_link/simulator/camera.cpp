#include "simulator/camera.h"

#include "simulator/random.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvi::sim
{

Cooler::Cooler(double ambient, double maxCooling, double timeConstant)
    : ambient_(ambient), maxCooling_(maxCooling), timeConstant_(timeConstant > 0.0 ? timeConstant : 1.0),
      temperature_(ambient)
{
}

double Cooler::Goal() const
{
    if (!powered_ || standby_)
        return ambient_;
    return std::max(target_, ambient_ - maxCooling_);
}

void Cooler::Advance(double now)
{
    const double dt = now - time_;
    if (!(dt > 0.0))
        return;
    const double goal = Goal();
    temperature_ = goal + (temperature_ - goal) * std::exp(-dt / timeConstant_);
    time_ = now;
}

void Cooler::SetPowered(bool powered, double now)
{
    Advance(now);
    powered_ = powered;
}

void Cooler::SetTarget(double celsius, double now)
{
    Advance(now);
    target_ = celsius;
}

void Cooler::SetTemperature(double celsius, double now)
{
    Advance(now);
    temperature_ = celsius;
}

void Cooler::SetStandby(bool standby, double now)
{
    Advance(now);
    standby_ = standby;
}

void ReadoutSize(const ReadoutRequest &geometry, int *columns, int *rows)
{
    *columns = 0;
    *rows = 0;
    if (geometry.xBinning < 1 || geometry.yBinning < 1)
        return;
    const long long xSpan = static_cast<long long>(geometry.xHigh) - geometry.xLow + 1;
    const long long ySpan = static_cast<long long>(geometry.yHigh) - geometry.yLow + 1;
    if (xSpan < 1 || ySpan < 1)
        return;
    const long long c = (xSpan + geometry.xBinning - 1) / geometry.xBinning;
    const long long r = (ySpan + geometry.yBinning - 1) / geometry.yBinning;
    if (c * r > maxFrameWords)
        return;
    *columns = static_cast<int>(c);
    *rows = static_cast<int>(r);
}

Camera::Camera(const CameraConfig &config, const Config &shared, int index)
    : config_(config), cooler_(shared.ambientCelsius, shared.maxCooling, shared.coolerTimeConstant)
{
    if (config_.columns < 1)
        config_.columns = 1;
    if (config_.rows < 1)
        config_.rows = 1;
    if (!(config_.gain > 0.0))
        config_.gain = 1.0;
    if (!(config_.pixelScale > 0.0))
        config_.pixelScale = 1.0;
    if (shared.evenlyLitField)
        config_.skyBackground = shared.evenlyLitRate;
    Random random(MixSeed(shared.seed) ^ (0x484F54ull + static_cast<std::uint64_t>(index) * 977));
    for (int i = 0; i < config_.hotPixels; ++i) {
        HotPixel hot;
        hot.x = static_cast<int>(random.Uniform() * config_.columns);
        hot.y = static_cast<int>(random.Uniform() * config_.rows);
        hotPixels_.push_back(hot);
    }
    lightOpen_ = !config_.hasShutter;
}

void Camera::Clear(double now, const Mount &mount)
{
    chargeStart_ = now;
    lightSeconds_ = 0.0;
    lightSumX_ = lightSumY_ = 0.0;
    lightSince_ = now;
    lightIntegralX_ = mount.integralX();
    lightIntegralY_ = mount.integralY();
}

void Camera::SetShutter(bool open, double now, const Mount &mount)
{
    if (!config_.hasShutter || open == lightOpen_)
        return;
    if (open) {
        lightSince_ = std::max(now, chargeStart_);
        lightIntegralX_ = mount.integralX();
        lightIntegralY_ = mount.integralY();
    } else {
        lightSeconds_ += std::max(0.0, now - lightSince_);
        lightSumX_ += mount.integralX() - lightIntegralX_;
        lightSumY_ += mount.integralY() - lightIntegralY_;
    }
    lightOpen_ = open;
}

Camera::Exposure Camera::ExposureAt(double now, const Mount &mount) const
{
    Exposure exposure;
    exposure.darkSeconds = std::max(0.0, now - chargeStart_);
    exposure.lightSeconds = lightSeconds_;
    double sumX = lightSumX_, sumY = lightSumY_;
    if (lightOpen_) {
        exposure.lightSeconds += std::max(0.0, now - lightSince_);
        sumX += mount.integralX() - lightIntegralX_;
        sumY += mount.integralY() - lightIntegralY_;
    }
    if (exposure.lightSeconds > 0.0) {
        exposure.meanX = sumX / exposure.lightSeconds;
        exposure.meanY = sumY / exposure.lightSeconds;
    } else {
        exposure.meanX = mount.x();
        exposure.meanY = mount.y();
    }
    exposure.temperature = cooler_.temperature();
    return exposure;
}

double Camera::DarkCurrent(double celsius) const
{
    const double doubling = config_.darkDoublingCelsius > 0.0 ? config_.darkDoublingCelsius : 6.3;
    return config_.darkCurrentAt0C * std::exp2(celsius / doubling);
}

void Camera::SkyToSensor(double skyX, double skyY, double offsetX, double offsetY, double *px,
                         double *py) const
{
    const double angle = config_.rotationDegrees * std::numbers::pi / 180.0;
    const double dx = skyX + offsetX - config_.centreX;
    const double dy = skyY + offsetY - config_.centreY;
    const double u = dx * std::cos(angle) + dy * std::sin(angle);
    const double v = -dx * std::sin(angle) + dy * std::cos(angle);
    *px = config_.columns / 2.0 + u / config_.pixelScale;
    *py = config_.rows / 2.0 + v / config_.pixelScale;
}

std::vector<double> Camera::ExpectedCharge(int x0, int y0, int width, int height, const Exposure &exposure,
                                           const std::vector<Star> &stars) const
{
    std::vector<double> charge(static_cast<std::size_t>(width) * height, 0.0);
    if (width < 1 || height < 1)
        return charge;
    const double dark = DarkCurrent(exposure.temperature) * exposure.darkSeconds;
    const double background = dark + config_.skyBackground * exposure.lightSeconds;
    std::fill(charge.begin(), charge.end(), background);
    for (const HotPixel &hot : hotPixels_) {
        if (hot.x >= x0 && hot.x < x0 + width && hot.y >= y0 && hot.y < y0 + height)
            charge[static_cast<std::size_t>(hot.y - y0) * width + (hot.x - x0)] +=
                dark * config_.hotPixelFactor;
    }
    if (!(exposure.lightSeconds > 0.0))
        return charge;
    // Each star adds a Gaussian image integrated over the pixel areas (separable in x and y).
    const double sigma = config_.psfSigma > 0.05 ? config_.psfSigma : 0.05;
    const int reach = static_cast<int>(std::ceil(5.0 * sigma)) + 1;
    const double scale = 1.0 / (std::sqrt(2.0) * sigma);
    std::vector<double> fx(2 * reach + 1), fy(2 * reach + 1);
    for (const Star &star : stars) {
        double cx, cy;
        SkyToSensor(star.x, star.y, exposure.meanX, exposure.meanY, &cx, &cy);
        const int ix = static_cast<int>(std::floor(cx + 0.5)), iy = static_cast<int>(std::floor(cy + 0.5));
        if (ix + reach < x0 || ix - reach >= x0 + width || iy + reach < y0 || iy - reach >= y0 + height)
            continue;
        for (int k = -reach; k <= reach; ++k) {
            const double px = ix + k, py = iy + k;
            fx[k + reach] = 0.5 * (std::erf((px + 0.5 - cx) * scale) - std::erf((px - 0.5 - cx) * scale));
            fy[k + reach] = 0.5 * (std::erf((py + 0.5 - cy) * scale) - std::erf((py - 0.5 - cy) * scale));
        }
        const double electrons = star.flux * exposure.lightSeconds;
        for (int j = -reach; j <= reach; ++j) {
            const int y = iy + j;
            if (y < y0 || y >= y0 + height)
                continue;
            double *row = charge.data() + static_cast<std::size_t>(y - y0) * width;
            const double rowWeight = electrons * fy[j + reach];
            for (int i = -reach; i <= reach; ++i) {
                const int x = ix + i;
                if (x >= x0 && x < x0 + width)
                    row[x - x0] += rowWeight * fx[i + reach];
            }
        }
    }
    return charge;
}

std::vector<std::uint16_t> Camera::Prefix(std::uint64_t frameSeed) const
{
    Random random(MixSeed(frameSeed) ^ 0x505245ull);
    std::vector<std::uint16_t> prefix(100);
    const double noise = config_.readNoise / config_.gain;
    for (auto &word : prefix) {
        const double value = std::floor(config_.bias + noise * random.Normal() + 0.5);
        word = static_cast<std::uint16_t>(std::clamp(value, 0.0, 65535.0));
    }
    return prefix;
}

std::vector<std::uint16_t> Camera::Render(const ReadoutRequest &geometry, const Exposure &exposure,
                                          const std::vector<Star> &stars, std::uint64_t frameSeed) const
{
    int columns, rows;
    ReadoutSize(geometry, &columns, &rows);
    std::vector<std::uint16_t> frame(static_cast<std::size_t>(columns) * rows);
    if (frame.empty())
        return frame;
    // The part of the sub-frame that lies on the sensor; binned pixels beyond it collect nothing.
    const long long xEnd = std::min<long long>(geometry.xHigh, config_.columns - 1);
    const long long yEnd = std::min<long long>(geometry.yHigh, config_.rows - 1);
    const int x0 = std::clamp(geometry.xLow, 0, config_.columns);
    const int y0 = std::clamp(geometry.yLow, 0, config_.rows);
    const int width = xEnd >= x0 ? static_cast<int>(xEnd - x0 + 1) : 0;
    const int height = yEnd >= y0 ? static_cast<int>(yEnd - y0 + 1) : 0;
    const std::vector<double> charge = ExpectedCharge(x0, y0, width, height, exposure, stars);

    Random random(MixSeed(frameSeed) ^ 0x465241ull);
    const double readNoise = config_.readNoise;
    const double toAdu = 1.0 / config_.gain;
    std::vector<double> binnedRow(static_cast<std::size_t>(columns));
    for (int r = 0; r < rows; ++r) {
        std::fill(binnedRow.begin(), binnedRow.end(), 0.0);
        // Charge of the rows that this binned row sums, on the sensor only.
        const long long yFirst =
            static_cast<long long>(geometry.yLow) + static_cast<long long>(r) * geometry.yBinning;
        for (long long y = yFirst; y < yFirst + geometry.yBinning && y <= geometry.yHigh; ++y) {
            if (y < y0 || y >= y0 + height)
                continue;
            const double *source = charge.data() + static_cast<std::size_t>(y - y0) * width;
            for (int c = 0; c < columns; ++c) {
                const long long xFirst =
                    static_cast<long long>(geometry.xLow) + static_cast<long long>(c) * geometry.xBinning;
                double sum = 0.0;
                for (long long x = xFirst; x < xFirst + geometry.xBinning && x <= geometry.xHigh; ++x) {
                    if (x >= x0 && x < x0 + width)
                        sum += source[x - x0];
                }
                binnedRow[c] += sum;
            }
        }
        std::uint16_t *out = frame.data() + static_cast<std::size_t>(r) * columns;
        for (int c = 0; c < columns; ++c) {
            const double electrons = random.Poisson(binnedRow[c]) + readNoise * random.Normal();
            const double adu = std::floor(config_.bias + electrons * toAdu + 0.5);
            out[c] = static_cast<std::uint16_t>(std::clamp(adu, 0.0, 65535.0));
        }
    }
    return frame;
}

} // namespace korvi::sim
