#pragma once
// The simulated controller's end of the FT_* layer: the driver calls, with the D2XX meanings,
// on the one simulated device. A link is a number handed out by LinkOpen; it stays valid until
// its LinkClose (or a Reset), and every call on a stale or unknown link gives FT_INVALID_HANDLE.
// Every call is written to the call log (sim_control.h).
#include "ftd2xx/ftd2xx.h"
#include "simulator/sim_control.h"

#include <cstdint>

namespace korvi::sim
{

using LinkId = std::uint64_t;

// Records a call that the FT_* layer refused before it reached the device (an unknown handle,
// a missing argument), so that the call log holds every call made.
KORVI_SIM_API void LogRefusedCall(const char *function, FT_STATUS status);

KORVI_SIM_API FT_STATUS LinkOpen(int deviceNumber, LinkId *link);
KORVI_SIM_API FT_STATUS LinkClose(LinkId link);
KORVI_SIM_API FT_STATUS LinkResetDevice(LinkId link);
KORVI_SIM_API FT_STATUS LinkSetBaudRate(LinkId link, ULONG baudRate);
KORVI_SIM_API FT_STATUS LinkSetDataCharacteristics(LinkId link, UCHAR wordLength, UCHAR stopBits,
                                                   UCHAR parity);
KORVI_SIM_API FT_STATUS LinkSetFlowControl(LinkId link, USHORT flowControl, UCHAR xon, UCHAR xoff);
KORVI_SIM_API FT_STATUS LinkSetChars(LinkId link, UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                                     UCHAR errorCharEnabled);
KORVI_SIM_API FT_STATUS LinkSetEventNotification(LinkId link, DWORD mask, void *param);
KORVI_SIM_API FT_STATUS LinkSetDtr(LinkId link, bool on);
KORVI_SIM_API FT_STATUS LinkSetRts(LinkId link, bool on);
KORVI_SIM_API FT_STATUS LinkSetTimeouts(LinkId link, ULONG readTimeoutMs, ULONG writeTimeoutMs);
KORVI_SIM_API FT_STATUS LinkPurge(LinkId link, ULONG mask);
KORVI_SIM_API FT_STATUS LinkWrite(LinkId link, const void *buffer, DWORD bytesToWrite, DWORD *written);
// Waits up to the read time-out (in process time) for the bytes; FT_OK with fewer on a time-out.
KORVI_SIM_API FT_STATUS LinkRead(LinkId link, void *buffer, DWORD bytesToRead, DWORD *bytesReturned);
KORVI_SIM_API FT_STATUS LinkGetStatus(LinkId link, DWORD *rxBytes, DWORD *txBytes, DWORD *eventStatus);
KORVI_SIM_API FT_STATUS LinkGetModemStatus(LinkId link, ULONG *modemStatus);
KORVI_SIM_API FT_STATUS LinkSetUSBParameters(LinkId link, ULONG inTransferSize, ULONG outTransferSize);

} // namespace korvi::sim
