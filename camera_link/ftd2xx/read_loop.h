#pragma once
// The blocking read that the driver interface promises, built on a source that returns early:
// libftdi hands back whatever the chip had (often nothing), so a read loops until it has the
// requested bytes or its deadline on a steady clock has passed. Kept apart from libftdi so that
// its logic can be tested against a stub source and a stub clock.
#include "ftd2xx/ftd2xx.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace korvi::ftd2xx
{

struct ReadSource {
    // Reads up to count bytes into buffer: the number read (0 when none were there), or a
    // negative value on a failure of the device.
    std::function<long(std::uint8_t *buffer, std::size_t count)> readSome;
    std::function<std::chrono::steady_clock::time_point()> now = [] {
        return std::chrono::steady_clock::now();
    };
    // Called after a pass that brought nothing, before the next (a short sleep on a real device).
    std::function<void()> idle;
};

// What a libftdi read result means to the loop: libftdi passes libusb's time-out (-7) on as an
// error when a USB poll brought nothing, which is no failure of the device, only an empty pass.
constexpr long libusbTimeout = -7;
inline long FromLibftdiRead(int result)
{
    return result == libusbTimeout ? 0 : result;
}

// Reads count bytes into buffer, passing at least once over the source, until all have come or
// timeout has passed since the start (a time-out of 0 makes a single pass). FT_OK with
// *bytesReturned < count on a time-out; FT_IO_ERROR when the source fails (the bytes read so
// far are kept and counted).
FT_STATUS ReadWithDeadline(const ReadSource &source, std::uint8_t *buffer, DWORD count, DWORD *bytesReturned,
                           std::chrono::steady_clock::duration timeout);

} // namespace korvi::ftd2xx
