#pragma once
// The exchange every korvicom call is built from: open and configure the FT245, set the
// exchange's time-outs, empty the queues, write one command block, read the reply, close.
// Internal to the library.
#include <bit>
#include <cstdint>

#include "ftd2xx/ftd2xx.h"
#include "korvicom.h"

static_assert(std::endian::native == std::endian::little,
              "command blocks are sent straight from 16-bit words in memory, low byte first");

namespace korvicom
{

// Time-outs of the exchanges, in milliseconds.
inline constexpr int kCommandWriteTimeoutMs = 3000;
inline constexpr int kQuickCommandTimeoutMs = 5000;
inline constexpr int kReplyTimeoutMs = 3000;

// The port set-up the device opener fills and the configuration applies.
struct CameraPortSettings {
    std::int32_t BaudRateIndex = 10; // 115200 baud
    std::int32_t WordLengthCode = 1; // data bits = code + 7
    std::int32_t StopBitCode = 0;    // 0 one stop bit, 1 two
    std::int32_t Parity = 0;
    std::int32_t FlowControl = 0; // flow control is always off; kept for the record
    std::uint8_t XonChar = 0x11;
    std::uint8_t XoffChar = 0x13;
    std::uint8_t EventChar = 0;
    std::uint8_t Spare = 0;
    std::int32_t EventCharEnabled = 0;
    std::int32_t ErrorChar = 0;
    std::int32_t Rts = 1;
    std::int32_t Dtr = 1;
    std::int32_t Cts = 0; // from the modem status after configuration
    std::int32_t Dsr = 0;
    std::int32_t SpareWords[2] = {0, 0};
    std::int32_t ReadTimeoutMs = 300;
    std::int32_t WriteTimeoutMs = 300;
    std::int32_t EventMask = 0;
};

// Passes a failing status to the caller's callback, if there is one.
inline void Report(UsbErrorCallback callback, FT_STATUS status)
{
    if (status != FT_OK && callback != nullptr)
        callback(static_cast<int>(status));
}

// Flags are tested on their low byte only.
inline bool Flag(int value)
{
    return (value & 0xFF) != 0;
}

// Word 0 of a command block: opcode in the low byte, parameter byte (camera index or flag) above.
inline std::uint16_t CommandWord(int parameter, int opcode)
{
    return static_cast<std::uint16_t>(((parameter & 0xFF) << 8) | (opcode & 0xFF));
}

// Baud rate for an index of the port record; unknown indices give 115200.
ULONG BaudRateForIndex(int index);

// Applies the port record; false on failure (the device stays open: the caller closes it).
bool ConfigureCameraPort(FT_HANDLE handle, const CameraPortSettings &settings, UsbErrorCallback callback,
                         FT_STATUS &failedStatus);

// Opens device "DEVn" and configures it. On failure no handle is left open and failedStatus holds
// the status of the driver call that failed.
bool OpenCameraDevice(const char *deviceName, FT_HANDLE &handle, UsbErrorCallback callback,
                      FT_STATUS &failedStatus);

// Opens and configures device 0 for one exchange with the given time-outs and empties its queues.
// Returns nullptr (after reporting the failure once) when the device could not be opened; the
// exchange is then not carried out. failedStatus, when given, receives that status.
FT_HANDLE OpenCameraLink(int readTimeoutMs, int writeTimeoutMs, UsbErrorCallback callback,
                         FT_STATUS *failedStatus = nullptr);

// Write, reporting a failing status; returns the bytes the driver took.
DWORD WriteReported(FT_HANDLE handle, const void *bytes, DWORD count, UsbErrorCallback callback);

// Read, reporting a failing status; returns the bytes that arrived.
DWORD ReadReported(FT_HANDLE handle, void *bytes, DWORD count, UsbErrorCallback callback);

// Reply command: writes the 2-byte command word and reads a 2-byte little-endian reply word
// (0 when none came; a missing or short reply is reported as FT_IO_ERROR).
std::uint16_t ReplyCommand(std::uint16_t command, UsbErrorCallback callback);

// Process-time seconds on a monotonic clock, for the readouts' elapsed times.
double NowSeconds();

} // namespace korvicom
