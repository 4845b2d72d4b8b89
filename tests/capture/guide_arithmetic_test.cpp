// The guide arithmetic: pulses, their limits, calibration and what a calibration leaves behind, and
// the guide star as a blob measured against its reference.
#include "guiding/guide_arithmetic.h"
#include "guiding/guide_star.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace
{

using Rates = std::array<GuideRate, 4>;

Rates Square(float east = 1.0f, float west = 1.0f, float north = 1.0f)
{
    return {GuideRate{east, 0.0f}, GuideRate{-west, 0.0f}, GuideRate{0.0f, north}, GuideRate{0.0f, -north}};
}

TEST(GuidePulse, SolvesForTheDirectionsAndTimesThatMoveTheStarBack)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float dx, dy;
        Rates rates;
        bool east, west, north, south;
        double eastWest, northSouth;
    } cases[] = {
        // A star gone west and north is pulsed east and south.
        {-2.0f, 3.0f, Square(), true, false, false, true, 2.0, 3.0},
        {2.0f, -1.0f, Square(), false, true, true, false, 2.0, 1.0},
        // West solved with its own, faster rate.
        {3.0f, 0.0f, Square(1.0f, 2.0f), false, true, false, false, 1.5, 0.0},
        {0.0f, -4.0f, Square(1.0f, 1.0f, 0.5f), false, false, true, false, 0.0, 8.0},
        // A shift that is not a number gives no pulse.
        {nan, 1.0f, Square(), false, false, false, false, 0.0, 0.0},
    };
    for (const auto &c : cases) {
        const GuidePulse p = ComputeGuidePulse(c.dx, c.dy, c.rates);
        EXPECT_NEAR(p.eastWestSeconds, c.eastWest, 1e-6) << c.dx << "," << c.dy;
        EXPECT_NEAR(p.northSouthSeconds, c.northSouth, 1e-6) << c.dx << "," << c.dy;
        if (p.eastWestSeconds > 0.0) {
            EXPECT_EQ(p.directions[GuideEast], c.east);
            EXPECT_EQ(p.directions[GuideWest], c.west);
        }
        if (p.northSouthSeconds > 0.0) {
            EXPECT_EQ(p.directions[GuideNorth], c.north);
            EXPECT_EQ(p.directions[GuideSouth], c.south);
        }
    }
    // Rotated axes: the pulse's motion is the shift reversed.
    const Rates rotated = {GuideRate{1.4f, 0.3f}, GuideRate{-1.4f, -0.3f}, GuideRate{-0.3f, 1.4f},
                           GuideRate{0.3f, -1.4f}};
    const GuidePulse p = ComputeGuidePulse(1.7f, -2.2f, rotated);
    const GuideRate e = rotated[p.directions[GuideEast] ? GuideEast : GuideWest];
    const double sign = p.directions[GuideSouth] ? -1.0 : 1.0;
    EXPECT_NEAR(p.eastWestSeconds * e.x + sign * p.northSouthSeconds * -0.3, -1.7, 1e-5);
    EXPECT_NEAR(p.eastWestSeconds * e.y + sign * p.northSouthSeconds * 1.4, 2.2, 1e-5);
}

TEST(GuidePulse, RatesThatCannotGuideAreRefused)
{
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(GuideRatesProblem(Square()), "");
    EXPECT_NE(GuideRatesProblem(Rates{}), "");
    Rates infinite = Square();
    infinite[GuideWest].x = inf;
    EXPECT_NE(GuideRatesProblem(infinite), "");
    Rates parallel = Square();
    parallel[GuideNorth] = {2.0f, 0.0f};
    EXPECT_NE(GuideRatesProblem(parallel), "");
}

TEST(GuidePulse, EveryPulseEndsWithinItsCycleAndLateOutliersBecomeTheMean)
{
    GuidePulseLimiter limiter(5, 2);
    GuidePulse p;
    p.eastWestSeconds = 7.0; // longer than the cycle
    p.northSouthSeconds = 1.0;
    limiter.Limit(p);
    EXPECT_EQ(p.eastWestSeconds, 5.0);
    EXPECT_EQ(p.northSouthSeconds, 1.0);
    for (int i = 1; i < 41; ++i) {
        GuidePulse q;
        q.eastWestSeconds = 5.0;
        q.northSouthSeconds = 1.0;
        limiter.Limit(q);
    }
    ASSERT_EQ(limiter.Cycles(), 41);
    // Cycle 42: above twice the mean is replaced by the mean; within it stays.
    GuidePulse late;
    late.eastWestSeconds = 4.0;
    late.northSouthSeconds = 2.5;
    limiter.Limit(late);
    EXPECT_EQ(late.eastWestSeconds, 4.0);
    EXPECT_DOUBLE_EQ(late.northSouthSeconds, 1.0);
}

// Guiding on a drifting mount, 0.1 px a cycle east-west at 1 px/s: after 40 cycles the mean pulse
// is the 0.1 s that keeps up with the drift, and the limit is 5 x 0.1 s.
TEST(GuidePulse, AnOffsetMeasuredCycleAfterCycleIsCorrectedWhileLoneOutliersAreCut)
{
    GuidePulseLimiter limiter(5, 5);
    double star = 0.0; // the star's true offset from its place (px)
    // One cycle: the drift, a real move of the mount, a frame measuring the star (plus an error
    // of its own), the pulse sent and the star moved back by it. Returns the signed pulse.
    auto cycle = [&](double move, double measurementError = 0.0) {
        star += 0.1 + move;
        GuidePulse p = ComputeGuidePulse(static_cast<float>(star + measurementError), 0.0f, Square());
        limiter.Limit(p);
        const double signedPulse = p.directions[GuideWest] ? -p.eastWestSeconds : p.eastWestSeconds;
        star += signedPulse;
        return signedPulse;
    };
    for (int i = 0; i < 41; ++i)
        cycle(0.0);
    ASSERT_NEAR(star, 0.0, 1e-6);
    // Single frames far off are cut to the mean, also three in a row that point different ways;
    // the next good frame takes the star back.
    for (double error : {2.0, -2.0, 2.0})
        EXPECT_NEAR(std::abs(cycle(0.0, error)), 0.1, 1e-6) << error;
    cycle(0.0);
    EXPECT_NEAR(star, 0.0, 1e-6);
    // A gust moves the mount 1.5 px. The first two frames that show it are taken for outliers;
    // the third's pulse takes the star back (cut to the mean for good, it would stay 1.5 px off).
    EXPECT_NEAR(cycle(1.5), -0.1, 0.01);
    EXPECT_NEAR(cycle(0.0), -0.1, 0.01);
    EXPECT_NEAR(star, 1.5, 0.02);
    EXPECT_NEAR(cycle(0.0), -1.6, 0.02);
    EXPECT_NEAR(star, 0.0, 1e-5);
    // The next long time is an outlier again.
    EXPECT_LT(std::abs(cycle(0.0, 3.0)), 0.2);
    cycle(0.0);
    // A cloud hid the star while the mount drifted 2 px: the first frame with the star again takes
    // it back whole, and a long time after it is an outlier again.
    const double beforeCloud = star;
    star += 2.0;
    limiter.Resume();
    EXPECT_NEAR(cycle(0.0), -(beforeCloud + 2.1), 1e-4);
    EXPECT_NEAR(star, 0.0, 1e-4);
    EXPECT_LT(std::abs(cycle(0.0, 3.0)), 0.2);
}

TEST(GuideCalibration, RecoversRatesFromTheShiftsOfItsSlews)
{
    const GuideRate east{1.4f, 0.3f}, north{-0.3f, 1.4f}, drift{0.05f, -0.02f};
    CalibrationShifts s;
    s.drift = {drift.x * 20, drift.y * 20};
    s.east = {east.x * 10 + drift.x * 10, east.y * 10 + drift.y * 10};
    s.west = {-0.8f * east.x * 10 + drift.x * 10, -0.8f * east.y * 10 + drift.y * 10}; // a slower west
    s.north = {north.x * 10 + drift.x * 10, north.y * 10 + drift.y * 10};
    s.check = {north.x * 20 + drift.x * 20, north.y * 20 + drift.y * 20};
    const CalibrationResult r = ComputeCalibration(s);
    ASSERT_TRUE(r.ok) << r.problem;
    const GuideRate expected[4] = {east, {-0.8f * east.x, -0.8f * east.y}, north, {-north.x, -north.y}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(r.rates[i].x, expected[i].x, 1e-4) << i;
        EXPECT_NEAR(r.rates[i].y, expected[i].y, 1e-4) << i;
    }
    // The check slew went where the rates put it.
    EXPECT_NEAR(r.checkRatio, 0.0, 1e-4);

    // The check is the distance between the measured check motion and the predicted one (20 s of
    // north and drift: 28.62 px), over the predicted one; beyond 25 % the calibration is refused.
    const GuideRate predicted = s.check;
    const struct {
        GuideRate check;
        double ratio;
        bool ok;
    } checks[] = {
        {{predicted.x * 0.9f, predicted.y * 0.9f}, 0.10, true},                             // 10 % short
        {{predicted.x + 0.2f * predicted.y, predicted.y - 0.2f * predicted.x}, 0.20, true}, // 20 % aside
        {{predicted.x * 0.5f, predicted.y * 0.5f}, 0.50, false}, // half: rates twice the true ones
        {{predicted.x * 1.3f, predicted.y * 1.3f}, 0.30, false},
    };
    for (const auto &c : checks) {
        CalibrationShifts checked = s;
        checked.check = c.check;
        const CalibrationResult k = ComputeCalibration(checked);
        EXPECT_NEAR(k.checkRatio, c.ratio, 1e-4) << c.ratio;
        EXPECT_EQ(k.ok, c.ok) << c.ratio;
        if (!c.ok) {
            EXPECT_EQ(k.problem, "the check slew moved the star " + std::to_string(int(c.ratio * 100 + 0.5)) +
                                     " % away from where the measured rates put it");
        }
    }

    // A busy moment lengthened the waits and slews (13 s of east, a 27 s check slew): the shifts
    // are taken over the times they really lasted, and the same rates come out.
    CalibrationShifts late;
    late.driftSeconds = 24.0;
    late.eastSeconds = 13.0;
    late.westSeconds = 10.5;
    late.northSeconds = 11.0;
    late.checkSeconds = 27.0;
    const auto over = [&](GuideRate rate, double seconds) {
        const auto t = static_cast<float>(seconds);
        return GuideRate{(rate.x + drift.x) * t, (rate.y + drift.y) * t};
    };
    late.drift = over({}, late.driftSeconds);
    late.east = over(east, late.eastSeconds);
    late.west = over(expected[GuideWest], late.westSeconds);
    late.north = over(north, late.northSeconds);
    late.check = over(north, late.checkSeconds);
    const CalibrationResult lr = ComputeCalibration(late);
    ASSERT_TRUE(lr.ok) << lr.problem;
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(lr.rates[i].x, expected[i].x, 1e-4) << i;
        EXPECT_NEAR(lr.rates[i].y, expected[i].y, 1e-4) << i;
    }
    EXPECT_NEAR(lr.checkRatio, 0.0, 1e-4);

    // North measured off the perpendicular is turned onto it.
    CalibrationShifts skew = s;
    skew.north = {(north.x + 0.2f) * 10 + drift.x * 10, north.y * 10 + drift.y * 10};
    const CalibrationResult k = ComputeCalibration(skew);
    ASSERT_TRUE(k.ok);
    EXPECT_NEAR(k.rates[GuideNorth].x * east.x + k.rates[GuideNorth].y * east.y, 0.0, 1e-5);
}

TEST(GuideCalibration, RefusesCalibrationsThatMeasuredNothingUsableAndKeepsThePreviousRates)
{
    CalibrationShifts good;
    good.east = {14.0f, 3.0f};
    good.west = {-14.0f, -3.0f};
    good.north = {-3.0f, 14.0f};
    good.check = {-6.0f, 28.0f};
    const struct {
        const char *name;
        CalibrationShifts shifts;
        const char *problem;
    } cases[] = {
        {"still", CalibrationShifts{}, "no measurable motion east"},
        {"no west",
         [&] {
             auto s = good;
             s.west = {0.2f, 0.0f};
             return s;
         }(),
         "no measurable motion west"},
        {"along east",
         [&] {
             auto s = good;
             s.north = {28.0f, 6.0f};
             return s;
         }(),
         "east and north move the star along one line"},
        {"nan",
         [&] {
             auto s = good;
             s.drift.x = std::numeric_limits<float>::quiet_NaN();
             return s;
         }(),
         "the measured motion is not a number"},
    };
    for (const auto &c : cases) {
        const CalibrationResult r = ComputeCalibration(c.shifts);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_EQ(r.problem, c.problem) << c.name;
        Settings settings;
        settings.GuideMode = 2;
        settings.GuideRates = Square(1.5f);
        settings.GuideCalibrationRatio = 3.0f;
        const std::string status = ApplyCalibration(settings, r);
        EXPECT_EQ(status, std::string("Status: Calibration failed (") + c.problem +
                              "); the previous guide rates were kept.");
        EXPECT_EQ(settings.GuideMode, 1);
        EXPECT_EQ(settings.GuideRates[GuideEast].x, 1.5f);
        EXPECT_EQ(settings.GuideCalibrationRatio, 3.0f);
    }
    Settings settings;
    const CalibrationResult r = ComputeCalibration(good);
    // The guider window shows this text when the calibration ends: the rates, the axis angle
    // (atan(3/14) = 12.09 degrees) and how far the check slew lay from the rates' prediction.
    EXPECT_EQ(ApplyCalibration(settings, r),
              "Status: Calibrated. Rates (px/s): east 1.400, 0.300; west -1.400, -0.300; north -0.300, "
              "1.400. Axis angle 12.1 deg; the check slew lay 0.0 % from the rates' prediction.");
    EXPECT_EQ(settings.GuideCalibrationRatio, 0.0f);
    EXPECT_EQ(settings.GuideRates[GuideEast].x, r.rates[GuideEast].x);
    EXPECT_EQ(settings.GuideMode, 1);
}

} // namespace

namespace
{

// A 60 x 50 box: bias 800 with a fixed +-3 ripple, a lone hot pixel at 2400, and (when flux > 0) a
// gaussian star of sigma 1.2 at (x, y).
UShortMatrix StarBox(double x, double y, double flux)
{
    UShortMatrix box(50, 60);
    for (int r = 0; r < 50; ++r)
        for (int c = 0; c < 60; ++c) {
            const double d2 = (c - x) * (c - x) + (r - y) * (r - y);
            const double star = flux / (2 * std::numbers::pi * 1.44) * std::exp(-d2 / (2 * 1.44));
            box[r][c] = static_cast<std::uint16_t>(std::lround(800 + ((r * 7 + c * 3) % 7 - 3) + star));
        }
    box[10][45] = 2400;
    return box;
}

} // namespace

TEST(GuideStar, IsABlobMeasuredPastHotPixelsAndComparedWithTheReferenceWithinItsBand)
{
    GuideBox box;
    CleanGuideBox(StarBox(20.3, 30.6, 20000), 60, 50, box);
    const GuideStar reference = FindGuideStar(box);
    ASSERT_TRUE(reference.found);
    EXPECT_NEAR(reference.x, 20.3, 0.1);
    EXPECT_NEAR(reference.y, 30.6, 0.1);
    EXPECT_NEAR(box.background, 800, 1);

    // The hot pixel alone is no star, neither is the box without its star.
    EXPECT_FALSE(FindGuideStar(box, 40, 5, 50, 15).found);
    CleanGuideBox(StarBox(20.3, 30.6, 0), 60, 50, box);
    EXPECT_FALSE(FindGuideStar(box).found);
    EXPECT_EQ(GuideStarProblem(reference, FindGuideStar(box)), "no star stands above the background");

    // The flux band, 40 % to 250 % of the reference's light (the star elsewhere on its pixels).
    const struct {
        double flux;
        bool accepted;
    } cases[] = {{20000 * 0.6, true},
                 {20000 * 0.45, true},
                 {20000 * 2.3, true},
                 {20000 * 0.3, false},
                 {20000 * 3.0, false}};
    for (const auto &c : cases) {
        CleanGuideBox(StarBox(22.0, 29.0, c.flux), 60, 50, box);
        const GuideStar star = FindGuideStar(box);
        const std::string problem = GuideStarProblem(reference, star);
        if (c.accepted)
            EXPECT_EQ(problem, "") << c.flux;
        else
            EXPECT_EQ(problem.rfind("the star has ", 0), 0u) << c.flux << ": " << problem;
        EXPECT_NEAR(star.x, 22.0, 0.1) << c.flux;
    }
    // A frame that gathered light for longer than the reference (a busy moment) is measured per
    // second: 280 % of the light in twice the time is the same star.
    CleanGuideBox(StarBox(22.0, 29.0, 20000 * 2.8), 60, 50, box);
    box.seconds = 2.0;
    EXPECT_EQ(GuideStarProblem(reference, FindGuideStar(box)), "");
    // A star far wider than the reference (out of focus, or a blend) is not the guide star.
    GuideStar wide = reference;
    wide.width = reference.width * 1.8;
    EXPECT_EQ(GuideStarProblem(reference, wide), "the star is 180 % as wide as the guide star");
}
