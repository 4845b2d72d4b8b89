#pragma once
// Test helpers that talk to the simulated controller through the FT_* layer the way korvicom
// does: open, set the time-outs, empty the queues, write one command block, read the reply.
#include "ftd2xx/ftd2xx.h"
#include "simulator/sim_control.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace korvi::test
{

// A fresh simulated device on a manual clock for each test.
class SimulatorTest : public ::testing::Test
{
protected:
    void SetUp() override { korvi::sim::Reset(MakeConfig()); }
    virtual korvi::sim::Config MakeConfig()
    {
        korvi::sim::Config config;
        config.manualClock = true;
        return config;
    }
};

// Little-endian bytes of 16-bit words.
inline std::vector<std::uint8_t> Words(std::initializer_list<unsigned> words)
{
    std::vector<std::uint8_t> bytes;
    for (unsigned word : words) {
        bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((word >> 8) & 0xFF));
    }
    return bytes;
}

inline std::uint16_t WordAt(const std::vector<std::uint8_t> &bytes, std::size_t index)
{
    return static_cast<std::uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

// One exchange: writes the command and reads up to replyBytes (read time-out in ms).
// Returns the bytes that came back.
inline std::vector<std::uint8_t> Exchange(const std::vector<std::uint8_t> &command, std::size_t replyBytes,
                                          ULONG readTimeoutMs = 50)
{
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_Open(0, &handle), FT_OK);
    if (handle == nullptr)
        return {};
    EXPECT_EQ(FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    EXPECT_EQ(FT_SetTimeouts(handle, readTimeoutMs, 3000), FT_OK);
    DWORD written = 0;
    EXPECT_EQ(FT_Write(handle, command.data(), static_cast<DWORD>(command.size()), &written), FT_OK);
    EXPECT_EQ(written, command.size());
    std::vector<std::uint8_t> reply(replyBytes);
    DWORD got = 0;
    if (replyBytes > 0) {
        EXPECT_EQ(FT_Read(handle, reply.data(), static_cast<DWORD>(replyBytes), &got), FT_OK);
    }
    reply.resize(got);
    EXPECT_EQ(FT_Close(handle), FT_OK);
    return reply;
}

// A quick command's acknowledgement byte, or -1 when none came.
inline int Acknowledgement(const std::vector<std::uint8_t> &command)
{
    const auto reply = Exchange(command, 1);
    return reply.empty() ? -1 : reply[0];
}

} // namespace korvi::test
