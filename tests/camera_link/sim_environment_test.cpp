// The demo settings of the simulator come from the environment (this test runs with
// KORVI_SIM_SEED=42, KORVI_SIM_GUIDE_RATE=3.5 and KORVI_SIM_DRIFT=0.25,-0.5).
#include "simulator/sim_control.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{

TEST(SimEnvironment, DeviceStartsWithTheDemoSettings)
{
    const auto config = korvi::sim::CurrentConfig(); // no Reset yet: the starting device
    EXPECT_EQ(config.seed, 42u);
    EXPECT_DOUBLE_EQ(config.guideRate, 3.5);
    EXPECT_DOUBLE_EQ(config.driftX, 0.25);
    EXPECT_DOUBLE_EQ(config.driftY, -0.5);
    EXPECT_FALSE(config.manualClock);
}

TEST(SimEnvironment, MalformedValuesKeepTheDefaults)
{
    setenv("KORVI_SIM_SEED", "12abc", 1);
    setenv("KORVI_SIM_GUIDE_RATE", "-2", 1);
    setenv("KORVI_SIM_DRIFT", "0.5", 1);
    const auto config = korvi::sim::DefaultConfig();
    const korvi::sim::Config defaults;
    EXPECT_EQ(config.seed, defaults.seed);
    EXPECT_DOUBLE_EQ(config.guideRate, defaults.guideRate);
    EXPECT_DOUBLE_EQ(config.driftX, defaults.driftX);
    EXPECT_DOUBLE_EQ(config.driftY, defaults.driftY);
}

} // namespace
