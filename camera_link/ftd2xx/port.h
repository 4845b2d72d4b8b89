#pragma once
// One open device behind an FT_HANDLE: the driver calls that the two backends (libftdi1 for a
// real FT245, the simulated controller) carry out each in their own way.
#include "ftd2xx/ftd2xx.h"

#include <memory>

namespace korvi::ftd2xx
{

class Port
{
public:
    virtual ~Port() = default;
    virtual FT_STATUS Close() = 0;
    virtual FT_STATUS ResetDevice() = 0;
    virtual FT_STATUS SetBaudRate(ULONG baudRate) = 0;
    virtual FT_STATUS SetDataCharacteristics(UCHAR wordLength, UCHAR stopBits, UCHAR parity) = 0;
    virtual FT_STATUS SetFlowControl(USHORT flowControl, UCHAR xon, UCHAR xoff) = 0;
    virtual FT_STATUS SetChars(UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                               UCHAR errorCharEnabled) = 0;
    virtual FT_STATUS SetEventNotification(DWORD mask, void *param) = 0;
    virtual FT_STATUS SetDtr(bool on) = 0;
    virtual FT_STATUS SetRts(bool on) = 0;
    virtual FT_STATUS SetTimeouts(ULONG readTimeoutMs, ULONG writeTimeoutMs) = 0;
    virtual FT_STATUS Purge(ULONG mask) = 0;
    virtual FT_STATUS Write(const void *buffer, DWORD bytesToWrite, DWORD *written) = 0;
    virtual FT_STATUS Read(void *buffer, DWORD bytesToRead, DWORD *bytesReturned) = 0;
    virtual FT_STATUS GetStatus(DWORD *rxBytes, DWORD *txBytes, DWORD *eventStatus) = 0;
    virtual FT_STATUS GetModemStatus(ULONG *modemStatus) = 0;
    virtual FT_STATUS SetUSBParameters(ULONG inTransferSize, ULONG outTransferSize) = 0;
};

// The backends' openers; on success *port holds the open device.
FT_STATUS OpenSimulatedPort(int deviceNumber, std::unique_ptr<Port> *port);
FT_STATUS OpenFtdiPort(int deviceNumber, std::unique_ptr<Port> *port);

// True when KORVICOM_DEVICE asks for the simulated controller.
bool SimulatorSelected();

} // namespace korvi::ftd2xx
