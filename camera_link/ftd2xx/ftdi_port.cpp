// The libftdi1 backend: a real FT245 USB FIFO, found by its index among the FTDI devices.
#include "ftd2xx/port.h"
#include "ftd2xx/read_loop.h"
#include "time_scale.h"

#include <ftdi.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>
#include <vector>

namespace korvi::ftd2xx
{

namespace
{

FT_STATUS FromFtdi(int result)
{
    return result < 0 ? FT_IO_ERROR : FT_OK;
}

class FtdiPort final : public Port
{
public:
    explicit FtdiPort(ftdi_context *context) : context_(context) {}
    ~FtdiPort() override { Release(); }

    FT_STATUS Close() override
    {
        const int result = ftdi_usb_close(context_);
        ftdi_free(context_);
        context_ = nullptr;
        return FromFtdi(result);
    }
    FT_STATUS ResetDevice() override
    {
        pending_.clear();
        return FromFtdi(ftdi_usb_reset(context_));
    }
    FT_STATUS SetBaudRate(ULONG baudRate) override
    {
        if (baudRate == 0 || baudRate > INT_MAX)
            return FT_INVALID_PARAMETER;
        return FromFtdi(ftdi_set_baudrate(context_, static_cast<int>(baudRate)));
    }
    FT_STATUS SetDataCharacteristics(UCHAR wordLength, UCHAR stopBits, UCHAR parity) override
    {
        if ((wordLength != FT_BITS_7 && wordLength != FT_BITS_8) ||
            (stopBits != FT_STOP_BITS_1 && stopBits != FT_STOP_BITS_2) || parity > 4)
            return FT_INVALID_PARAMETER;
        return FromFtdi(ftdi_set_line_property(context_, wordLength == FT_BITS_8 ? BITS_8 : BITS_7,
                                               stopBits == FT_STOP_BITS_2 ? STOP_BIT_2 : STOP_BIT_1,
                                               static_cast<ftdi_parity_type>(parity)));
    }
    FT_STATUS SetFlowControl(USHORT flowControl, UCHAR, UCHAR) override
    {
        // Only "no flow control" is used on the FIFO; the handshake modes map one to one.
        int mode = SIO_DISABLE_FLOW_CTRL;
        if (flowControl == 0x0100)
            mode = SIO_RTS_CTS_HS;
        else if (flowControl == 0x0200)
            mode = SIO_DTR_DSR_HS;
        else if (flowControl == 0x0400)
            mode = SIO_XON_XOFF_HS;
        return FromFtdi(ftdi_setflowctrl(context_, mode));
    }
    FT_STATUS SetChars(UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                       UCHAR errorCharEnabled) override
    {
        const int first = ftdi_set_event_char(context_, eventChar, eventCharEnabled);
        const int second = ftdi_set_error_char(context_, errorChar, errorCharEnabled);
        return FromFtdi(std::min(first, second));
    }
    // libftdi has no event objects; the program never waits on one.
    FT_STATUS SetEventNotification(DWORD, void *) override { return FT_OK; }
    FT_STATUS SetDtr(bool on) override { return FromFtdi(ftdi_setdtr(context_, on ? 1 : 0)); }
    FT_STATUS SetRts(bool on) override { return FromFtdi(ftdi_setrts(context_, on ? 1 : 0)); }
    FT_STATUS SetTimeouts(ULONG readTimeoutMs, ULONG writeTimeoutMs) override
    {
        readTimeoutMs_ = readTimeoutMs;
        // The write time-out is the USB transfer's own; the read time-out is our loop's deadline,
        // while each USB read waits only briefly so that the loop can watch the clock.
        const auto scaled =
            std::chrono::duration_cast<std::chrono::milliseconds>(ScaledMilliseconds(writeTimeoutMs));
        // 0 means no time-out, to the driver interface as to libusb.
        context_->usb_write_timeout =
            writeTimeoutMs == 0 ? 0 : static_cast<int>(std::clamp<long long>(scaled.count(), 1, INT_MAX));
        context_->usb_read_timeout = usbPollMs;
        return FT_OK;
    }
    FT_STATUS Purge(ULONG mask) override
    {
        int result = 0;
        if (mask & FT_PURGE_RX) {
            pending_.clear();
            result = std::min(result, ftdi_tciflush(context_));
        }
        if (mask & FT_PURGE_TX)
            result = std::min(result, ftdi_tcoflush(context_));
        return FromFtdi(result);
    }
    FT_STATUS Write(const void *buffer, DWORD bytesToWrite, DWORD *written) override
    {
        if (written == nullptr || (buffer == nullptr && bytesToWrite > 0) || bytesToWrite > INT_MAX)
            return FT_INVALID_PARAMETER;
        *written = 0;
        const int result = ftdi_write_data(context_, static_cast<const unsigned char *>(buffer),
                                           static_cast<int>(bytesToWrite));
        if (result < 0)
            return FT_IO_ERROR;
        *written = static_cast<DWORD>(result);
        return FT_OK;
    }
    FT_STATUS Read(void *buffer, DWORD bytesToRead, DWORD *bytesReturned) override
    {
        if (bytesReturned == nullptr || (buffer == nullptr && bytesToRead > 0))
            return FT_INVALID_PARAMETER;
        auto *bytes = static_cast<std::uint8_t *>(buffer);
        // Bytes fetched by an earlier queue-status poll come first.
        const DWORD early = static_cast<DWORD>(std::min<std::size_t>(pending_.size(), bytesToRead));
        std::copy_n(pending_.begin(), early, bytes);
        pending_.erase(pending_.begin(), pending_.begin() + early);
        DWORD rest = 0;
        const FT_STATUS status = ReadWithDeadline(Source(), bytes + early, bytesToRead - early, &rest,
                                                  ScaledMilliseconds(readTimeoutMs_));
        *bytesReturned = early + rest;
        return status;
    }
    FT_STATUS GetStatus(DWORD *rxBytes, DWORD *txBytes, DWORD *eventStatus) override
    {
        if (rxBytes == nullptr || txBytes == nullptr || eventStatus == nullptr)
            return FT_INVALID_PARAMETER;
        // libftdi cannot ask the chip how much it holds: fetch what is there into our own queue.
        std::vector<std::uint8_t> chunk(4096);
        const long n =
            FromLibftdiRead(ftdi_read_data(context_, chunk.data(), static_cast<int>(chunk.size())));
        if (n < 0)
            return FT_IO_ERROR;
        pending_.insert(pending_.end(), chunk.begin(), chunk.begin() + n);
        *rxBytes = static_cast<DWORD>(pending_.size());
        *txBytes = 0;
        *eventStatus = 0;
        return FT_OK;
    }
    FT_STATUS GetModemStatus(ULONG *modemStatus) override
    {
        if (modemStatus == nullptr)
            return FT_INVALID_PARAMETER;
        unsigned short status = 0;
        const int result = ftdi_poll_modem_status(context_, &status);
        if (result < 0)
            return FT_IO_ERROR;
        // Modem status in the low byte (CTS 0x10, DSR 0x20, RI 0x40, DCD 0x80), line status above.
        *modemStatus = status & 0xFFF0u;
        return FT_OK;
    }
    FT_STATUS SetUSBParameters(ULONG inTransferSize, ULONG outTransferSize) override
    {
        // The chip moves at most 64 KB a transfer; larger requests are served in 64 KB chunks.
        auto chunk = [](ULONG size) {
            const ULONG clamped = std::clamp<ULONG>(size, 64, 65536);
            return static_cast<unsigned>(clamped / 64 * 64);
        };
        int result = ftdi_read_data_set_chunksize(context_, chunk(inTransferSize));
        if (outTransferSize != 0)
            result = std::min(result, ftdi_write_data_set_chunksize(context_, chunk(outTransferSize)));
        return FromFtdi(result);
    }

private:
    // Longer than the chip's latency timer (16 ms), after which it always answers a poll.
    static constexpr int usbPollMs = 20;

    ReadSource Source()
    {
        ReadSource source;
        source.readSome = [this](std::uint8_t *buffer, std::size_t count) -> long {
            return FromLibftdiRead(
                ftdi_read_data(context_, buffer, static_cast<int>(std::min<std::size_t>(count, INT_MAX))));
        };
        source.idle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
        return source;
    }

    void Release()
    {
        if (context_ != nullptr) {
            ftdi_usb_close(context_);
            ftdi_free(context_);
            context_ = nullptr;
        }
    }

    ftdi_context *context_;
    ULONG readTimeoutMs_ = 0;
    std::vector<std::uint8_t> pending_;
};

} // namespace

FT_STATUS OpenFtdiPort(int deviceNumber, std::unique_ptr<Port> *port)
{
    if (deviceNumber < 0)
        return FT_DEVICE_NOT_FOUND;
    // No context means libusb could not start (a machine without USB): no device to be found.
    ftdi_context *context = ftdi_new();
    if (context == nullptr)
        return FT_DEVICE_NOT_FOUND;
    ftdi_device_list *devices = nullptr;
    // Vendor and product 0 make libftdi look for every FTDI chip it knows, the FT245 included.
    const int found = ftdi_usb_find_all(context, &devices, 0, 0);
    libusb_device *device = nullptr;
    int index = 0;
    for (ftdi_device_list *entry = devices; found > 0 && entry != nullptr; entry = entry->next, ++index) {
        if (index == deviceNumber) {
            device = entry->dev;
            break;
        }
    }
    FT_STATUS status = FT_DEVICE_NOT_FOUND;
    if (device != nullptr)
        status = ftdi_usb_open_dev(context, device) < 0 ? FT_DEVICE_NOT_OPENED : FT_OK;
    ftdi_list_free(&devices);
    if (status != FT_OK) {
        ftdi_free(context);
        return status;
    }
    auto opened = std::make_unique<FtdiPort>(context);
    opened->SetTimeouts(0, 0);
    *port = std::move(opened);
    return FT_OK;
}

} // namespace korvi::ftd2xx
