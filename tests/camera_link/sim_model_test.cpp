// The simulated device model driven directly, without the link: coolers, mount, sky and sensor.
#include "simulator/camera.h"
#include "simulator/controller.h"
#include "simulator/sim_control.h"
#include "simulator/sky.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <numeric>
#include <vector>

namespace
{

using korvi::sim::Camera;
using korvi::sim::Config;
using korvi::sim::Cooler;
using korvi::sim::Mount;
using korvi::sim::ReadoutRequest;

ReadoutRequest Geometry(int xLow, int xHigh, int yLow, int yHigh, int xBinning = 1, int yBinning = 1)
{
    ReadoutRequest g;
    g.xLow = xLow;
    g.xHigh = xHigh;
    g.yLow = yLow;
    g.yHigh = yHigh;
    g.xBinning = xBinning;
    g.yBinning = yBinning;
    return g;
}

double Mean(const std::vector<std::uint16_t> &values)
{
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

double Variance(const std::vector<std::uint16_t> &values)
{
    const double mean = Mean(values);
    double sum = 0.0;
    for (auto v : values)
        sum += (v - mean) * (v - mean);
    return sum / static_cast<double>(values.size() - 1);
}

// A camera with no stars in view, for flat-field arithmetic.
Config EmptySky()
{
    Config config;
    config.stars = 0;
    config.imaging.centreX = 1.0e6; // the placed stars stay near the origin, far away
    config.guiding.centreX = 1.0e6;
    return config;
}

TEST(SimModel, ReadoutSizeDividesSpansByBinningRoundingUp)
{
    struct Case {
        ReadoutRequest g;
        int columns, rows;
    };
    const Case cases[] = {
        {Geometry(0, 511, 0, 511), 512, 512},
        {Geometry(0, 510, 0, 9, 2, 1), 256, 10},
        {Geometry(10, 10, 5, 5), 1, 1},
        {Geometry(0, 9, 0, 9, 3, 4), 4, 3},
        {Geometry(0, -1, 0, 9), 0, 0},
        {Geometry(0, 9, 0, 9, 0, 1), 0, 0},
        {Geometry(0, 9, 0, 9, 1, 0), 0, 0},
        {Geometry(0, 32767, 0, 32767), 0, 0}, // beyond any sensor
        {Geometry(0, 4095, 0, 4095), 4096, 4096},
    };
    for (const Case &c : cases) {
        int columns = -1, rows = -1;
        korvi::sim::ReadoutSize(c.g, &columns, &rows);
        EXPECT_EQ(columns, c.columns) << c.g.xLow << ".." << c.g.xHigh << " / " << c.g.xBinning;
        EXPECT_EQ(rows, c.rows) << c.g.yLow << ".." << c.g.yHigh << " / " << c.g.yBinning;
    }
}

TEST(SimModel, CoolerApproachesTargetFirstOrderAndWarmsWhenOff)
{
    Cooler cooler(20.0, 40.0, 60.0);
    cooler.SetTarget(-10.0, 0.0);
    cooler.Advance(100.0);
    EXPECT_DOUBLE_EQ(cooler.temperature(), 20.0); // unpowered: stays at ambient
    cooler.SetPowered(true, 100.0);
    cooler.Advance(160.0);
    EXPECT_NEAR(cooler.temperature(), -10.0 + 30.0 * std::exp(-1.0), 1e-9);
    cooler.Advance(220.0);
    EXPECT_NEAR(cooler.temperature(), -10.0 + 30.0 * std::exp(-2.0), 1e-9);
    cooler.SetTarget(-50.0, 220.0); // more than 40 below ambient: held at -20
    EXPECT_DOUBLE_EQ(cooler.Goal(), -20.0);
    cooler.Advance(10000.0);
    EXPECT_NEAR(cooler.temperature(), -20.0, 1e-6);
    cooler.SetStandby(true, 10000.0);
    EXPECT_DOUBLE_EQ(cooler.Goal(), 20.0);
    cooler.SetStandby(false, 10000.0);
    cooler.SetPowered(false, 10000.0);
    cooler.Advance(10060.0);
    EXPECT_NEAR(cooler.temperature(), 20.0 - 40.0 * std::exp(-1.0), 1e-9);
}

TEST(SimModel, MountMovesAlongRotatedAxesWithDrift)
{
    Config config;
    config.guideRate = 3.0;
    config.mountRotationDegrees = 30.0;
    config.driftX = 0.5;
    config.driftY = -0.25;
    Mount mount(config);
    const double c = std::cos(std::numbers::pi / 6), s = std::sin(std::numbers::pi / 6);
    mount.SetSlew(korvi::sim::SlewEast, 0.0);
    mount.SetSlew(korvi::sim::SlewNorth, 2.0);
    mount.SetSlew(korvi::sim::SlewWest | korvi::sim::SlewSouth, 3.0);
    mount.SetSlew(0, 4.0);
    mount.Advance(10.0);
    // east 2 s, north 1 s, west and south 1 s, drift 10 s
    const double east = 3.0 * (2.0 - 1.0), north = 3.0 * (1.0 - 1.0);
    EXPECT_NEAR(mount.x(), east * c - north * s + 0.5 * 10.0, 1e-9);
    EXPECT_NEAR(mount.y(), east * s + north * c - 0.25 * 10.0, 1e-9);
    EXPECT_EQ(mount.slewBits(), 0);
}

TEST(SimModel, MountIntegralGivesTheMeanPositionOverAnInterval)
{
    Config config;
    config.guideRate = 4.0;
    config.mountRotationDegrees = 0.0;
    Mount mount(config);
    mount.SetSlew(korvi::sim::SlewEast, 0.0);
    mount.Advance(10.0);
    // x(t) = 4 t: its integral over 0..10 is 200, the mean 20.
    EXPECT_NEAR(mount.integralX(), 200.0, 1e-9);
    EXPECT_NEAR(mount.x(), 40.0, 1e-9);
    mount.SetSlew(0, 10.0);
    mount.Advance(15.0);
    EXPECT_NEAR(mount.integralX(), 400.0, 1e-9);
}

TEST(SimModel, DarkCurrentDoublesEveryDoublingInterval)
{
    Config config;
    Camera camera(config.imaging, config, 0);
    EXPECT_NEAR(camera.DarkCurrent(0.0), 1.0, 1e-12);
    EXPECT_NEAR(camera.DarkCurrent(6.3), 2.0, 1e-12);
    EXPECT_NEAR(camera.DarkCurrent(-12.6), 0.25, 1e-12);
}

TEST(SimModel, ExposureCountsShutterOpenTimeAndChargeTimeSeparately)
{
    Config config;
    Mount mount(config);
    Camera camera(config.imaging, config, 0);
    camera.Clear(0.0, mount);
    camera.SetShutter(true, 2.0, mount);
    camera.SetShutter(false, 12.0, mount);
    camera.SetShutter(true, 20.0, mount);
    camera.SetShutter(false, 25.0, mount);
    auto exposure = camera.ExposureAt(30.0, mount);
    EXPECT_DOUBLE_EQ(exposure.lightSeconds, 15.0);
    EXPECT_DOUBLE_EQ(exposure.darkSeconds, 30.0);
    camera.Clear(30.0, mount);
    exposure = camera.ExposureAt(31.0, mount);
    EXPECT_DOUBLE_EQ(exposure.lightSeconds, 0.0);
    EXPECT_DOUBLE_EQ(exposure.darkSeconds, 1.0);

    Camera guider(config.guiding, config, 1); // no shutter: lit all the time
    guider.Clear(5.0, mount);
    exposure = guider.ExposureAt(9.0, mount);
    EXPECT_DOUBLE_EQ(exposure.lightSeconds, 4.0);
}

TEST(SimModel, ExposureTakesTheMeanFieldOffsetWhileLit)
{
    Config config;
    config.guideRate = 2.0;
    config.mountRotationDegrees = 0.0;
    Mount mount(config);
    Camera guider(config.guiding, config, 1);
    guider.Clear(0.0, mount);
    mount.SetSlew(korvi::sim::SlewEast, 0.0);
    mount.Advance(10.0);
    const auto exposure = guider.ExposureAt(10.0, mount);
    EXPECT_NEAR(exposure.meanX, 10.0, 1e-9); // the field ran from 0 to 20
    EXPECT_NEAR(exposure.meanY, 0.0, 1e-9);
}

TEST(SimModel, StarImageMovesWithTheFieldOffset)
{
    Config config;
    config.guiding.rotationDegrees = 0.0;
    Camera guider(config.guiding, config, 1);
    const auto stars = korvi::sim::MakeStarField(config);
    Camera::Exposure exposure;
    exposure.lightSeconds = 1.0;
    exposure.temperature = -40.0;
    auto centroid = [&](double offsetX, double offsetY, double *cx, double *cy) {
        exposure.meanX = offsetX;
        exposure.meanY = offsetY;
        // The guide star sits near (0.47, 0.53) of the sensor; measure in a window around it.
        const int x0 = 70, y0 = 60, size = 60;
        const auto charge = guider.ExpectedCharge(x0, y0, size, size, exposure, stars);
        const double floor = *std::min_element(charge.begin(), charge.end());
        double sum = 0, sx = 0, sy = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const double w = charge[y * size + x] - floor;
                sum += w;
                sx += w * (x0 + x);
                sy += w * (y0 + y);
            }
        *cx = sx / sum;
        *cy = sy / sum;
    };
    double x1, y1, x2, y2;
    centroid(0.0, 0.0, &x1, &y1);
    centroid(10.0, -15.0, &x2, &y2); // 5 arcseconds a pixel: 2 px right, 3 px down
    EXPECT_NEAR(x2 - x1, 2.0, 0.05);
    EXPECT_NEAR(y2 - y1, -3.0, 0.05);
}

TEST(SimModel, BinningSumsTheChargeOfTheBinnedPixels)
{
    Config config = EmptySky();
    config.imaging.readNoise = 0.0;
    config.imaging.gain = 4.0;
    config.imaging.bias = 100.0;
    config.imaging.hotPixels = 0;
    Camera camera(config.imaging, config, 0);
    Camera::Exposure exposure;
    exposure.darkSeconds = 1000.0;
    exposure.lightSeconds = 1000.0; // 1000 e dark at 0 C + 20000 e sky per pixel
    const auto single = camera.Render(Geometry(0, 99, 0, 99), exposure, {}, 7);
    const auto binned = camera.Render(Geometry(0, 99, 0, 99, 2, 2), exposure, {}, 7);
    ASSERT_EQ(single.size(), 10000u);
    ASSERT_EQ(binned.size(), 2500u);
    EXPECT_NEAR(Mean(single), 100.0 + 21000.0 / 4.0, 5.0);
    EXPECT_NEAR(Mean(binned), 100.0 + 4 * 21000.0 / 4.0, 20.0);
}

TEST(SimModel, ShotAndReadNoiseHaveTheirKnownSize)
{
    Config config = EmptySky();
    config.imaging.hotPixels = 0;
    Camera camera(config.imaging, config, 0); // gain 2, read noise 12 e, bias 1000
    Camera::Exposure exposure;
    exposure.lightSeconds = 100.0; // 2000 e of sky
    const auto frame = camera.Render(Geometry(0, 199, 0, 199), exposure, {}, 11);
    // variance in ADU^2 = (shot e + read e^2) / gain^2 = (2000 + 144) / 4
    EXPECT_NEAR(Mean(frame), 1000.0 + 1000.0, 1.0);
    EXPECT_NEAR(Variance(frame), 536.0, 536.0 * 0.06);
    const auto prefix = camera.Prefix(11);
    ASSERT_EQ(prefix.size(), 100u);
    EXPECT_NEAR(Mean(prefix), 1000.0, 3.0);
}

TEST(SimModel, HotPixelsStandOutInADarkFrame)
{
    Config config = EmptySky();
    Camera camera(config.imaging, config, 0);
    ASSERT_EQ(camera.hotPixels().size(), 6u);
    Camera::Exposure exposure;
    exposure.darkSeconds = 60.0;
    exposure.temperature = 0.0; // 60 e ordinary, 24000 e hot
    const auto frame = camera.Render(Geometry(0, 1564, 0, 1031), exposure, {}, 3);
    for (const auto &hot : camera.hotPixels()) {
        const auto value = frame[static_cast<std::size_t>(hot.y) * 1565 + hot.x];
        EXPECT_GT(value, 1000 + 10000) << hot.x << "," << hot.y;
    }
    EXPECT_NEAR(Mean(frame), 1000.0 + 30.0, 3.0);
}

TEST(SimModel, ClosedShutterShowsNoStarsAndOpenShowsSaturation)
{
    Config config;
    Camera camera(config.imaging, config, 0);
    const auto stars = korvi::sim::MakeStarField(config);
    Camera::Exposure dark;
    dark.darkSeconds = 10.0;
    dark.temperature = -20.0;
    const auto full = Geometry(0, 1564, 0, 1031);
    const auto closed = camera.Render(full, dark, stars, 1);
    EXPECT_LT(*std::max_element(closed.begin(), closed.end()), 1500); // bias, a little dark, hot pixels
    Camera::Exposure lit = dark;
    lit.lightSeconds = 10.0;
    const auto open = camera.Render(full, lit, stars, 1);
    EXPECT_EQ(*std::max_element(open.begin(), open.end()), 65535);
    const auto saturated = std::count(open.begin(), open.end(), std::uint16_t{65535});
    EXPECT_GT(saturated, 4);
    EXPECT_LT(saturated, 2000); // one saturated star, not a saturated frame
}

// KORVI_SIM_FLAT=1 puts an evenly lit field in front of the telescope: a lit frame is flat within
// its noise (no star, the light far above the bias), as a series for flats needs; 0 brings the
// stars back.
TEST(SimModel, TheEvenlyLitFieldSettingGivesAFlatFrame)
{
    setenv("KORVI_SIM_FLAT", "1", 1);
    Config config = korvi::sim::DefaultConfig();
    config.imaging.hotPixels = 0;
    const auto stars = korvi::sim::MakeStarField(config);
    Camera camera(config.imaging, config, 0); // gain 2, read noise 12 e, bias 1000
    Camera::Exposure lit;
    lit.lightSeconds = 10.0;
    const auto frame = camera.Render(Geometry(0, 1564, 0, 1031), lit, stars, 1);
    // 15000 e a pixel: 7500 ADU above the bias, noise sqrt(15000 + 144) / 2 = 61.5 ADU.
    EXPECT_NEAR(Mean(frame), 1000.0 + 7500.0, 5.0);
    const auto [low, high] = std::minmax_element(frame.begin(), frame.end());
    EXPECT_GT(*low, 8500 - 6 * 62);
    EXPECT_LT(*high, 8500 + 6 * 62);
    setenv("KORVI_SIM_FLAT", "0", 1);
    EXPECT_FALSE(korvi::sim::MakeStarField(korvi::sim::DefaultConfig()).empty());
    unsetenv("KORVI_SIM_FLAT");
}

TEST(SimModel, StarFieldHasACloseResolvedPair)
{
    Config config;
    const auto stars = korvi::sim::MakeStarField(config);
    Camera camera(config.imaging, config, 0);
    // Two stars that fall on the imaging sensor between 2 and 4 sigma apart.
    int pairs = 0;
    const double sigma = config.imaging.psfSigma;
    for (std::size_t i = 0; i < stars.size(); ++i)
        for (std::size_t j = i + 1; j < stars.size(); ++j) {
            double xi, yi, xj, yj;
            camera.SkyToSensor(stars[i].x, stars[i].y, 0, 0, &xi, &yi);
            camera.SkyToSensor(stars[j].x, stars[j].y, 0, 0, &xj, &yj);
            const double d = std::hypot(xi - xj, yi - yj);
            if (xi > 0 && xi < 1565 && yi > 0 && yi < 1032 && d > 2 * sigma && d < 4 * sigma)
                ++pairs;
        }
    EXPECT_GE(pairs, 1);
    EXPECT_GE(stars.size(), 200u);
}

TEST(SimModel, FramesAreDeterministicPerSeedAndDifferFromFrameToFrame)
{
    Config config;
    config.manualClock = true;
    korvi::sim::Controller a(config), b(config);
    const auto geometry = Geometry(500, 699, 300, 449);
    a.camera(0).SetShutter(true, 0.0, a.mount());
    b.camera(0).SetShutter(true, 0.0, b.mount());
    EXPECT_EQ(a.PeekFrame(0, geometry, 5.0), b.PeekFrame(0, geometry, 5.0));
    config.seed = 2;
    korvi::sim::Controller c(config);
    c.camera(0).SetShutter(true, 0.0, c.mount());
    EXPECT_NE(a.PeekFrame(0, geometry, 5.0), c.PeekFrame(0, geometry, 5.0));
    // Reading the frame moves to the next noise draw.
    korvi::sim::ReplyQueue reply;
    korvi::sim::Faults faults;
    const std::uint8_t readout[16] = {2, 0, 0xF4, 1, 0xBB, 2, 0x2C, 1, 0xC1, 1, 1, 1, 0x1D, 6, 8, 4};
    a.Execute(readout, 16, 5.0, faults, reply);
    EXPECT_EQ(reply.size(), 200u + 200u * 150u * 2u);
    EXPECT_NE(a.PeekFrame(0, geometry, 10.0), b.PeekFrame(0, geometry, 10.0));
}

TEST(SimModel, SubFrameBeyondTheSensorReadsBiasThere)
{
    Config config = EmptySky();
    config.guiding.readNoise = 0.0;
    config.guiding.hotPixels = 0;
    Camera guider(config.guiding, config, 1); // 211 x 165
    Camera::Exposure exposure;
    exposure.lightSeconds = 100.0; // 2000 e a pixel
    const auto frame = guider.Render(Geometry(200, 219, 0, 0, 4, 1), exposure, {}, 5);
    ASSERT_EQ(frame.size(), 5u);
    // bins: 200..203 and 204..207 on the sensor (4 pixels), 208..211 holds 208..210 (3), beyond: 0
    EXPECT_NEAR(frame[0], 800 + 8000 / 1.5, 200);
    EXPECT_NEAR(frame[2], 800 + 6000 / 1.5, 200);
    EXPECT_EQ(frame[3], 800);
    EXPECT_EQ(frame[4], 800);
}

} // namespace
