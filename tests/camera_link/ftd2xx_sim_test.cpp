// The FT_* layer on the simulated controller: D2XX semantics as korvicom relies on them.
#include "ftd2xx/ftd2xx.h"
#include "simulator/sim_control.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

class Ftd2xxSim : public ::testing::Test
{
protected:
    void SetUp() override
    {
        korvi::sim::Config config;
        config.manualClock = true;
        korvi::sim::Reset(config);
    }
};

TEST_F(Ftd2xxSim, QuickCommandIsAcknowledged)
{
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    ASSERT_EQ(FT_SetTimeouts(handle, 300, 300), FT_OK);
    const std::uint8_t command[] = {0x21, 0x01};
    DWORD written = 0;
    ASSERT_EQ(FT_Write(handle, command, 2, &written), FT_OK);
    EXPECT_EQ(written, 2u);
    std::uint8_t ack = 0;
    DWORD got = 0;
    ASSERT_EQ(FT_Read(handle, &ack, 1, &got), FT_OK);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(ack, 1);
    EXPECT_EQ(FT_Close(handle), FT_OK);
    EXPECT_TRUE(korvi::sim::GetSnapshot().cameras[1].cooler.powered);
}

} // namespace
