// The blocking read of the libftdi backend, against a stub source and a stub clock: libftdi
// returns early (often with nothing), so the loop must gather bytes until the count or the
// deadline, never overrun the caller's block, and report a device failure.
#include "ftd2xx/read_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <vector>

namespace
{

using korvi::ftd2xx::ReadSource;
using korvi::ftd2xx::ReadWithDeadline;
using namespace std::chrono_literals;

// A device that delivers planned pieces (a negative piece is a failure) while a fake clock
// moves 1 ms per pass.
struct StubDevice {
    std::deque<long> pieces; // bytes offered per pass
    std::uint8_t next = 1;   // value of the next byte delivered
    std::chrono::steady_clock::time_point clock{};
    int passes = 0;
    int idles = 0;

    ReadSource Source()
    {
        ReadSource source;
        source.readSome = [this](std::uint8_t *buffer, std::size_t count) -> long {
            ++passes;
            clock += 1ms;
            if (pieces.empty())
                return 0;
            long piece = pieces.front();
            pieces.pop_front();
            if (piece < 0)
                return piece;
            const long n = std::min<long>(piece, static_cast<long>(count));
            for (long i = 0; i < n; ++i)
                buffer[i] = next++;
            return n;
        };
        source.now = [this] { return clock; };
        source.idle = [this] { ++idles; };
        return source;
    }
};

TEST(Ftd2xxReadLoop, GathersPiecesUntilTheCount)
{
    StubDevice device;
    device.pieces = {0, 3, 0, 0, 4, 5};
    std::vector<std::uint8_t> buffer(10, 0xEE);
    DWORD got = 0;
    EXPECT_EQ(ReadWithDeadline(device.Source(), buffer.data(), 10, &got, 1000ms), FT_OK);
    EXPECT_EQ(got, 10u);
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(device.passes, 6);
    EXPECT_EQ(device.idles, 3); // after each empty pass only
}

TEST(Ftd2xxReadLoop, TimeOutReturnsOkWithWhatCame)
{
    StubDevice device;
    device.pieces = {2};
    std::vector<std::uint8_t> buffer(8, 0xEE);
    DWORD got = 0;
    EXPECT_EQ(ReadWithDeadline(device.Source(), buffer.data(), 8, &got, 50ms), FT_OK);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(buffer[2], 0xEE); // the rest untouched
    EXPECT_GE(device.clock - std::chrono::steady_clock::time_point{}, 50ms);
    EXPECT_LE(device.passes, 52);
}

TEST(Ftd2xxReadLoop, ZeroTimeoutMakesOnePass)
{
    StubDevice device;
    device.pieces = {1, 1, 1};
    std::uint8_t buffer[3] = {};
    DWORD got = 0;
    EXPECT_EQ(ReadWithDeadline(device.Source(), buffer, 3, &got, 0ms), FT_OK);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(device.passes, 1);
}

TEST(Ftd2xxReadLoop, DeviceFailureKeepsTheBytesReadSoFar)
{
    StubDevice device;
    device.pieces = {4, -7, 4};
    std::uint8_t buffer[10] = {};
    DWORD got = 0;
    EXPECT_EQ(ReadWithDeadline(device.Source(), buffer, 10, &got, 1000ms), FT_IO_ERROR);
    EXPECT_EQ(got, 4u);
}

TEST(Ftd2xxReadLoop, NeverAsksForMoreThanIsMissing)
{
    StubDevice device;
    std::vector<std::size_t> asked;
    ReadSource source = device.Source();
    auto inner = source.readSome;
    source.readSome = [&](std::uint8_t *buffer, std::size_t count) {
        asked.push_back(count);
        return inner(buffer, count);
    };
    device.pieces = {5, 5, 100};
    std::vector<std::uint8_t> buffer(12);
    DWORD got = 0;
    EXPECT_EQ(ReadWithDeadline(source, buffer.data(), 12, &got, 1000ms), FT_OK);
    EXPECT_EQ(got, 12u);
    EXPECT_EQ(asked, (std::vector<std::size_t>{12, 7, 2}));
}

TEST(Ftd2xxReadLoop, BadArguments)
{
    StubDevice device;
    DWORD got = 0;
    EXPECT_EQ(ReadWithDeadline(device.Source(), nullptr, 4, &got, 10ms), FT_INVALID_PARAMETER);
    std::uint8_t byte = 0;
    EXPECT_EQ(ReadWithDeadline(device.Source(), &byte, 1, nullptr, 10ms), FT_INVALID_PARAMETER);
    EXPECT_EQ(ReadWithDeadline(device.Source(), &byte, 0, &got, 10ms), FT_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(device.passes, 0);
}

TEST(Ftd2xxReadLoop, LibusbTimeOutOfAPollIsAnEmptyPassNotAFailure)
{
    EXPECT_EQ(korvi::ftd2xx::FromLibftdiRead(-7), 0);
    EXPECT_EQ(korvi::ftd2xx::FromLibftdiRead(-1), -1);
    EXPECT_EQ(korvi::ftd2xx::FromLibftdiRead(-4), -4);
    EXPECT_EQ(korvi::ftd2xx::FromLibftdiRead(62), 62);
}

} // namespace
