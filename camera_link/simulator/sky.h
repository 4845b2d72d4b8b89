#pragma once
// The one sky both cameras look at: a seeded star field on a plane in arcseconds (x east-west,
// y north-south), and the mount that moves the field across the sensors. Plain code without any
// link framing, so that tests can drive it directly.
#include "simulator/sim_control.h"

#include <vector>

namespace korvi::sim
{

struct Star {
    double x = 0.0; // arcseconds
    double y = 0.0;
    double flux = 0.0; // electrons per second collected by the sensor (all pixels together)
};

// The star field: random stars over the configured region plus a few placed on purpose: one star
// bright enough to saturate the imaging sensor, one close pair near the imaging centre, and a
// well-exposed guide star near the guiding sensor's centre. None in front of an evenly lit field.
std::vector<Star> MakeStarField(const Config &config);

// Slew direction bits as the controller receives them.
enum SlewBits : int { SlewEast = 1, SlewWest = 2, SlewNorth = 4, SlewSouth = 8 };

// The mount: the field offset on the sky moves with the drift at all times and with the guide
// rate along the mount's rotated axes while a slew runs. Time is simulator seconds; Advance()
// must be called with times that never go back. It also keeps the running time integral of the
// offset, so a sensor can take the mean field position over any interval.
class Mount
{
public:
    explicit Mount(const Config &config);

    void Advance(double now);
    void SetSlew(int bits, double now);
    void SetOffset(double x, double y, double now);

    int slewBits() const { return slewBits_; }
    double x() const { return x_; }
    double y() const { return y_; }
    // Integral of the offset over time since the start, arcsecond-seconds.
    double integralX() const { return integralX_; }
    double integralY() const { return integralY_; }
    // Field velocity (arcseconds per second) for the given bits, drift included.
    void Velocity(int bits, double *vx, double *vy) const;

private:
    double guideRate_;
    double eastX_, eastY_, northX_, northY_;
    double driftX_, driftY_;
    int slewBits_ = 0;
    double time_ = 0.0;
    double x_ = 0.0, y_ = 0.0;
    double integralX_ = 0.0, integralY_ = 0.0;
};

} // namespace korvi::sim
