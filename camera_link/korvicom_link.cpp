// The link: device opening and configuration, the quick command with its one-byte
// acknowledgement, reply commands, status texts and the busy-wait delay.
#include <cstdlib>
#include <iterator>

#include "korvicom_link.h"
#include "time_scale.h"

namespace korvicom
{

ULONG BaudRateForIndex(int index)
{
    static constexpr ULONG kRates[] = {300,   600,   1200,  2400,   4800,   9600,   14400,
                                       19200, 38400, 57600, 115200, 230400, 460800, 921600};
    if (index < 0 || index >= static_cast<int>(std::size(kRates)))
        return 115200;
    return kRates[index];
}

bool ConfigureCameraPort(FT_HANDLE handle, const CameraPortSettings &settings, UsbErrorCallback callback,
                         FT_STATUS &failedStatus)
{
    // A failing reset is reported here; the other set-up failures only fail the open, which the
    // link opener reports once.
    FT_STATUS status = FT_ResetDevice(handle);
    if (status != FT_OK) {
        Report(callback, status);
        failedStatus = status;
        return false;
    }
    const UCHAR dataBits = static_cast<UCHAR>(settings.WordLengthCode + 7);
    const UCHAR stopBits = settings.StopBitCode == 1 ? FT_STOP_BITS_2 : FT_STOP_BITS_1;
    // Steps run one after another and stop at the first failure.
    status = FT_SetBaudRate(handle, BaudRateForIndex(settings.BaudRateIndex));
    if (status == FT_OK)
        status = FT_SetDataCharacteristics(handle, dataBits, stopBits, static_cast<UCHAR>(settings.Parity));
    if (status == FT_OK)
        status = FT_SetFlowControl(handle, FT_FLOW_NONE, 0, 0);
    if (status == FT_OK)
        status = FT_SetChars(handle, settings.EventChar, settings.EventCharEnabled != 0 ? 1 : 0,
                             static_cast<UCHAR>(settings.ErrorChar), 1);
    if (status != FT_OK) {
        failedStatus = status;
        return false;
    }
    // The rest cannot make the link unusable; their statuses are not looked at.
    FT_SetEventNotification(handle, static_cast<DWORD>(settings.EventMask), nullptr);
    if (settings.Dtr != 0)
        FT_SetDtr(handle);
    else
        FT_ClrDtr(handle);
    if (settings.Rts != 0)
        FT_SetRts(handle);
    else
        FT_ClrRts(handle);
    FT_SetTimeouts(handle, static_cast<ULONG>(settings.ReadTimeoutMs),
                   static_cast<ULONG>(settings.WriteTimeoutMs));
    FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
    return true;
}

bool OpenCameraDevice(const char *deviceName, FT_HANDLE &handle, UsbErrorCallback callback,
                      FT_STATUS &failedStatus)
{
    // "DEVn": the number after the first three characters is the index among FTDI devices.
    const int index = static_cast<int>(std::strtol(deviceName + 3, nullptr, 10));
    handle = nullptr;
    FT_STATUS status = FT_Open(index, &handle);
    if (status != FT_OK) {
        failedStatus = status;
        handle = nullptr;
        return false;
    }
    CameraPortSettings settings;
    ULONG modem = 0;
    bool ok = ConfigureCameraPort(handle, settings, callback, failedStatus);
    if (ok) {
        status = FT_GetModemStatus(handle, &modem);
        if (status != FT_OK) {
            failedStatus = status;
            ok = false;
        }
    }
    if (!ok) {
        // Whatever step failed (the reset included), the device is released, or every later
        // call would find it busy.
        FT_Close(handle);
        handle = nullptr;
        return false;
    }
    settings.Cts = (modem & 0x10) != 0 ? 1 : 0;
    settings.Dsr = (modem & 0x20) != 0 ? 1 : 0;
    return true;
}

FT_HANDLE OpenCameraLink(int readTimeoutMs, int writeTimeoutMs, UsbErrorCallback callback,
                         FT_STATUS *failedStatus)
{
    FT_HANDLE handle = nullptr;
    FT_STATUS failed = FT_OK;
    if (!OpenCameraDevice("DEV0", handle, callback, failed)) {
        Report(callback, failed);
        if (failedStatus != nullptr)
            *failedStatus = failed;
        return nullptr;
    }
    // Empty the queues before and after the time-outs change, so nothing left from an earlier
    // exchange is taken for this one's reply.
    Report(callback, FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX));
    Report(callback,
           FT_SetTimeouts(handle, static_cast<ULONG>(readTimeoutMs), static_cast<ULONG>(writeTimeoutMs)));
    FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
    return handle;
}

DWORD WriteReported(FT_HANDLE handle, const void *bytes, DWORD count, UsbErrorCallback callback)
{
    DWORD written = 0;
    Report(callback, FT_Write(handle, bytes, count, &written));
    return written;
}

DWORD ReadReported(FT_HANDLE handle, void *bytes, DWORD count, UsbErrorCallback callback)
{
    DWORD received = 0;
    Report(callback, FT_Read(handle, bytes, count, &received));
    return received;
}

std::uint16_t ReplyCommand(std::uint16_t command, UsbErrorCallback callback)
{
    FT_HANDLE handle = OpenCameraLink(kReplyTimeoutMs, kCommandWriteTimeoutMs, callback);
    if (handle == nullptr)
        return 0;
    DWORD written = 0;
    const FT_STATUS write = FT_Write(handle, &command, sizeof command, &written);
    Report(callback, write);
    std::uint8_t reply[2] = {0, 0};
    if (write != FT_OK) {
        // No command, no reply: the failure is reported once and the link let go at once.
        FT_Close(handle);
        return 0;
    }
    DWORD received = 0;
    const FT_STATUS read = FT_Read(handle, reply, sizeof reply, &received);
    Report(callback, read);
    FT_Close(handle);
    // A reply that did not come (or came short) would read as a value (-64.0 degrees, 0 volts):
    // it is reported like a failed read, so the caller knows there is no reading.
    if (read == FT_OK && received < sizeof reply)
        Report(callback, FT_IO_ERROR);
    return static_cast<std::uint16_t>(reply[0] | (reply[1] << 8));
}

double NowSeconds()
{
    return korvi::ScaledNow();
}

} // namespace korvicom

using namespace korvicom;

extern "C" {

const char *_FT_Error(int status)
{
    switch (status) {
    case 0:
        return "FT245 USB FIFO status - OK";
    case 1:
        return "FT245 USB FIFO status - Invalid device handle.";
    case 2:
        return "FT245 USB FIFO status - Device not found.";
    case 3:
        return "FT245 USB FIFO status - Device not opened.";
    case 4:
        return "FT245 USB FIFO status - Device IO error.";
    case 5:
        return "FT245 USB FIFO status - Insufficient resources.";
    default:
        return "FT245 USB FIFO status - ";
    }
}

int _FT_USB_SendQuickCmd(const uint16_t *words, int byteCount, int readTimeoutMs, UsbErrorCallback callback)
{
    if (byteCount < 0 || (byteCount > 0 && words == nullptr))
        return -1;
    FT_HANDLE handle = OpenCameraLink(readTimeoutMs, kCommandWriteTimeoutMs, callback);
    if (handle == nullptr)
        return -1;
    DWORD written = 0;
    const FT_STATUS write = FT_Write(handle, words, static_cast<DWORD>(byteCount), &written);
    Report(callback, write);
    std::uint8_t acknowledgement = 0;
    // A command that did not go out is not acknowledged: waiting out the read time-out would only
    // hold the link (and a timed command behind it, such as a guide pulse's end).
    if (write == FT_OK)
        ReadReported(handle, &acknowledgement, 1, callback);
    FT_Close(handle);
    return acknowledgement == 1 ? static_cast<int>(written) : -1;
}

void _Delay(float milliseconds)
{
    const double start = NowSeconds();
    if (!(milliseconds > 0.0f)) // zero, negative and NaN: one clock reading
        return;
    const double seconds = static_cast<double>(milliseconds) * 0.001;
    while (NowSeconds() - start < seconds) {
    }
}

} // extern "C"
