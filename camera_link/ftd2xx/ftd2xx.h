#pragma once
// The FT_* calls korvicom makes on the FT245 USB FIFO, with the D2XX driver's meanings and status
// codes. Two backends stand behind them, chosen when a device is opened: libftdi1 for a real
// device, and the simulated camera controller when KORVICOM_DEVICE=simulator.
// Internal to korvicom: nothing here is exported from the shared library.
#include <cstdint>

using FT_HANDLE = void *;
using FT_STATUS = std::uint32_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using USHORT = std::uint16_t;
using UCHAR = std::uint8_t;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
};

enum : ULONG { FT_PURGE_RX = 1, FT_PURGE_TX = 2 };
enum : UCHAR { FT_BITS_8 = 8, FT_BITS_7 = 7, FT_STOP_BITS_1 = 0, FT_STOP_BITS_2 = 2, FT_PARITY_NONE = 0 };
enum : USHORT { FT_FLOW_NONE = 0x0000 };

// Hidden wherever they are linked: a shared library that carries this layer never exports it.
#pragma GCC visibility push(hidden)
// Opens device number deviceNumber: the simulated controller when KORVICOM_DEVICE=simulator (one
// device, number 0), otherwise the FTDI devices on USB in libusb's order. A device that is open
// already gives FT_DEVICE_NOT_OPENED.
FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *handle);
FT_STATUS FT_Close(FT_HANDLE handle);
FT_STATUS FT_ResetDevice(FT_HANDLE handle);
FT_STATUS FT_SetBaudRate(FT_HANDLE handle, ULONG baudRate);
FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity);
FT_STATUS FT_SetFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff);
FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                      UCHAR errorCharEnabled);
FT_STATUS FT_SetEventNotification(FT_HANDLE handle, DWORD mask, void *param);
FT_STATUS FT_SetDtr(FT_HANDLE handle);
FT_STATUS FT_ClrDtr(FT_HANDLE handle);
FT_STATUS FT_SetRts(FT_HANDLE handle);
FT_STATUS FT_ClrRts(FT_HANDLE handle);
FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs);
FT_STATUS FT_Purge(FT_HANDLE handle, ULONG mask);
// Writes all bytes or fails; *written is what the device took.
FT_STATUS FT_Write(FT_HANDLE handle, const void *buffer, DWORD bytesToWrite, DWORD *written);
// Blocks until bytesToRead bytes have arrived or the read time-out expires; a time-out is not an
// error (status FT_OK with *bytesReturned < bytesToRead). Time-outs follow the process time scale
// (time_scale.h); a read time-out of 0 returns at once with what has arrived.
FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, DWORD bytesToRead, DWORD *bytesReturned);
FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD *rxBytes, DWORD *txBytes, DWORD *eventStatus);
FT_STATUS FT_GetModemStatus(FT_HANDLE handle, ULONG *modemStatus);
FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, ULONG inTransferSize, ULONG outTransferSize);
#pragma GCC visibility pop
