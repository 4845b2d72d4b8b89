// The process time scale: parsing of KORVI_TIME_SCALE and the scaled waits and clock.
#include "time_scale.h"

#include <gtest/gtest.h>

#include <chrono>

namespace
{

TEST(SimTimeScale, ParsesPositiveNumbersOnly)
{
    struct Case {
        const char *text;
        double scale;
    };
    const Case cases[] = {{nullptr, 1.0},  {"", 1.0},    {"0.01", 0.01}, {"2", 2.0},
                          {"1e-3", 0.001}, {"0", 1.0},   {"-0.5", 1.0},  {"abc", 1.0},
                          {"0.5x", 1.0},   {"0,5", 1.0}, {"inf", 1.0},   {"nan", 1.0}};
    for (const Case &c : cases)
        EXPECT_DOUBLE_EQ(korvi::ParseTimeScale(c.text), c.scale) << (c.text ? c.text : "(null)");
}

TEST(SimTimeScale, TestsRunAtTheirConfiguredScale)
{
    // The simulator tests are registered with KORVI_TIME_SCALE=0.01.
    EXPECT_DOUBLE_EQ(korvi::TimeScale(), 0.01);
    EXPECT_EQ(korvi::ScaledDuration(20.0), std::chrono::milliseconds(200));
    EXPECT_EQ(korvi::ScaledMilliseconds(3000), std::chrono::milliseconds(30));
    EXPECT_EQ(korvi::ScaledDuration(-1.0), std::chrono::steady_clock::duration::zero());
}

TEST(SimTimeScale, ScaledSleepAdvancesTheScaledClock)
{
    const double before = korvi::ScaledNow();
    const auto realBefore = std::chrono::steady_clock::now();
    korvi::ScaledSleep(5.0); // 50 ms of real time
    const double elapsed = korvi::ScaledNow() - before;
    EXPECT_GE(elapsed, 5.0);
    EXPECT_LT(elapsed, 1000.0); // 10 s of real time: room for a busy machine
    EXPECT_GE(std::chrono::steady_clock::now() - realBefore, std::chrono::milliseconds(50));
}

} // namespace
