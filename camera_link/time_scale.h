#pragma once
// The process time scale: how many real seconds one second of the program's time takes.
// KORVI_TIME_SCALE=0.01 makes every wait, every link time-out and the simulated camera's physics
// run a hundred times faster, so that long calibrations and acquisitions can be tested in seconds.
// Read once per process; a missing, malformed or non-positive value gives 1 (real time).
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace korvi
{

// Parses a time-scale text; 1.0 for anything that is not a finite number above 0.
inline double ParseTimeScale(const char *text)
{
    if (text == nullptr || *text == '\0')
        return 1.0;
    double value = 0.0;
    const char *end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value) || !(value > 0.0))
        return 1.0;
    return value;
}

// Real seconds per process second.
inline double TimeScale()
{
    static const double scale = ParseTimeScale(std::getenv("KORVI_TIME_SCALE"));
    return scale;
}

// The real duration that a wait of the given process seconds takes.
inline std::chrono::steady_clock::duration ScaledDuration(double processSeconds)
{
    if (!(processSeconds > 0.0))
        return std::chrono::steady_clock::duration::zero();
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(processSeconds * TimeScale()));
}

// The same for a wait given in process milliseconds.
inline std::chrono::steady_clock::duration ScaledMilliseconds(double processMilliseconds)
{
    return ScaledDuration(processMilliseconds * 0.001);
}

// Sleeps the calling thread for the given process seconds.
inline void ScaledSleep(double processSeconds)
{
    auto duration = ScaledDuration(processSeconds);
    if (duration > std::chrono::steady_clock::duration::zero())
        std::this_thread::sleep_for(duration);
}

// A monotonic clock in process seconds (arbitrary origin, the same for the whole process):
// differences of two readings are elapsed process time.
inline double ScaledNow()
{
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch()).count() /
           TimeScale();
}

} // namespace korvi
