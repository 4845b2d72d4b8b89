#include "simulator/sky.h"

#include "simulator/random.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvi::sim
{

namespace
{

// Total electrons per second that put the given peak (electrons per second in the brightest
// pixel) into a Gaussian image of sigma pixels.
double FluxForPeak(double peak, double sigma)
{
    return peak * 2.0 * std::numbers::pi * sigma * sigma;
}

// Sky position of a sensor pixel position (inverse of the sensor's projection).
void SensorToSky(const CameraConfig &camera, double px, double py, double *x, double *y)
{
    const double angle = camera.rotationDegrees * std::numbers::pi / 180.0;
    const double u = (px - camera.columns / 2.0) * camera.pixelScale;
    const double v = (py - camera.rows / 2.0) * camera.pixelScale;
    *x = camera.centreX + u * std::cos(angle) - v * std::sin(angle);
    *y = camera.centreY + u * std::sin(angle) + v * std::cos(angle);
}

} // namespace

std::vector<Star> MakeStarField(const Config &config)
{
    if (config.evenlyLitField)
        return {};
    Random random(MixSeed(config.seed) ^ 0x5354415253ull);
    std::vector<Star> stars;
    stars.reserve(static_cast<std::size_t>(std::max(config.stars, 0) + std::max(config.clusterStars, 0)) + 4);
    const double half = config.starFieldHalfWidth;
    const double low = std::log(300.0), high = std::log(80000.0);
    for (int i = 0; i < config.stars; ++i) {
        Star star;
        star.x = random.Uniform(-half, half);
        star.y = random.Uniform(-half, half);
        star.flux = std::exp(random.Uniform(low, high));
        stars.push_back(star);
    }
    const CameraConfig &imaging = config.imaging;
    const double imagingSigma = imaging.psfSigma;
    // The cluster (its own random stream, so the field stars stay where they were).
    Random clusterRandom(MixSeed(config.seed) ^ 0x434C555354ull);
    const double clusterLow = std::log(config.clusterFluxLow), clusterHigh = std::log(config.clusterFluxHigh);
    for (int i = 0; i < config.clusterStars; ++i) {
        Star star;
        SensorToSky(imaging, clusterRandom.Uniform(12.0, 785.0), clusterRandom.Uniform(12.0, 500.0), &star.x,
                    &star.y);
        star.flux = std::exp(clusterRandom.Uniform(clusterLow, clusterHigh));
        stars.push_back(star);
    }
    Star saturated;
    SensorToSky(imaging, imaging.columns * 0.62, imaging.rows * 0.41, &saturated.x, &saturated.y);
    saturated.flux = FluxForPeak(2.0e6, imagingSigma); // millions of electrons a second at the peak
    stars.push_back(saturated);
    // The close pair: about 2.5 sigma apart, so the two images overlap but keep a dip between them.
    Star first, second;
    SensorToSky(imaging, imaging.columns * 0.35, imaging.rows * 0.58, &first.x, &first.y);
    SensorToSky(imaging, imaging.columns * 0.35 + 2.5 * imagingSigma, imaging.rows * 0.58 + 1.0, &second.x,
                &second.y);
    first.flux = FluxForPeak(3000.0, imagingSigma);
    second.flux = FluxForPeak(1800.0, imagingSigma);
    stars.push_back(first);
    stars.push_back(second);
    const CameraConfig &guiding = config.guiding;
    Star guide;
    SensorToSky(guiding, guiding.columns * 0.47, guiding.rows * 0.53, &guide.x, &guide.y);
    guide.flux = FluxForPeak(4000.0, guiding.psfSigma);
    stars.push_back(guide);
    return stars;
}

Mount::Mount(const Config &config)
    : guideRate_(config.guideRate), driftX_(config.driftX), driftY_(config.driftY)
{
    const double angle = config.mountRotationDegrees * std::numbers::pi / 180.0;
    eastX_ = std::cos(angle);
    eastY_ = std::sin(angle);
    northX_ = -std::sin(angle);
    northY_ = std::cos(angle);
}

void Mount::Velocity(int bits, double *vx, double *vy) const
{
    double east = ((bits & SlewEast) ? 1.0 : 0.0) - ((bits & SlewWest) ? 1.0 : 0.0);
    double north = ((bits & SlewNorth) ? 1.0 : 0.0) - ((bits & SlewSouth) ? 1.0 : 0.0);
    *vx = driftX_ + guideRate_ * (east * eastX_ + north * northX_);
    *vy = driftY_ + guideRate_ * (east * eastY_ + north * northY_);
}

void Mount::Advance(double now)
{
    const double dt = now - time_;
    if (!(dt > 0.0))
        return;
    double vx, vy;
    Velocity(slewBits_, &vx, &vy);
    integralX_ += x_ * dt + 0.5 * vx * dt * dt;
    integralY_ += y_ * dt + 0.5 * vy * dt * dt;
    x_ += vx * dt;
    y_ += vy * dt;
    time_ = now;
}

void Mount::SetSlew(int bits, double now)
{
    Advance(now);
    slewBits_ = bits & 0x0F;
}

void Mount::SetOffset(double x, double y, double now)
{
    Advance(now);
    x_ = x;
    y_ = y;
}

} // namespace korvi::sim
