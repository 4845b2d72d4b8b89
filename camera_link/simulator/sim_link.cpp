// The simulated driver calls: doors into the one simulated device.
#include "simulator/sim_link.h"

#include "simulator/device.h"

namespace korvi::sim
{

namespace
{
Device &D()
{
    return Device::Instance();
}
} // namespace

void LogRefusedCall(const char *function, FT_STATUS status)
{
    D().LogRefused(function, status);
}

FT_STATUS LinkOpen(int deviceNumber, LinkId *link)
{
    return D().Open(deviceNumber, link);
}
FT_STATUS LinkClose(LinkId link)
{
    return D().Close(link);
}

FT_STATUS LinkResetDevice(LinkId link)
{
    return D().Simple("FT_ResetDevice", link, {}, [](PortState &port) {
        ++port.resets;
        return FT_STATUS{FT_OK};
    });
}

FT_STATUS LinkSetBaudRate(LinkId link, ULONG baudRate)
{
    return D().Simple("FT_SetBaudRate", link, {baudRate}, [&](PortState &port) {
        if (baudRate == 0)
            return FT_STATUS{FT_INVALID_PARAMETER};
        port.baudRate = baudRate;
        return FT_STATUS{FT_OK};
    });
}

FT_STATUS LinkSetDataCharacteristics(LinkId link, UCHAR wordLength, UCHAR stopBits, UCHAR parity)
{
    return D().Simple("FT_SetDataCharacteristics", link, {wordLength, stopBits, parity},
                      [&](PortState &port) {
                          if ((wordLength != FT_BITS_7 && wordLength != FT_BITS_8) ||
                              (stopBits != FT_STOP_BITS_1 && stopBits != FT_STOP_BITS_2) || parity > 4)
                              return FT_STATUS{FT_INVALID_PARAMETER};
                          port.wordLength = wordLength;
                          port.stopBits = stopBits;
                          port.parity = parity;
                          return FT_STATUS{FT_OK};
                      });
}

FT_STATUS LinkSetFlowControl(LinkId link, USHORT flowControl, UCHAR xon, UCHAR xoff)
{
    return D().Simple("FT_SetFlowControl", link, {flowControl, xon, xoff}, [&](PortState &port) {
        port.flowControl = flowControl;
        return FT_STATUS{FT_OK};
    });
}

FT_STATUS LinkSetChars(LinkId link, UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                       UCHAR errorCharEnabled)
{
    return D().Simple("FT_SetChars", link, {eventChar, eventCharEnabled, errorChar, errorCharEnabled},
                      [](PortState &) { return FT_STATUS{FT_OK}; });
}

FT_STATUS LinkSetEventNotification(LinkId link, DWORD mask, void *)
{
    return D().Simple("FT_SetEventNotification", link, {mask}, [](PortState &) { return FT_STATUS{FT_OK}; });
}

FT_STATUS LinkSetDtr(LinkId link, bool on)
{
    return D().Simple(on ? "FT_SetDtr" : "FT_ClrDtr", link, {}, [&](PortState &port) {
        port.dtr = on;
        return FT_STATUS{FT_OK};
    });
}

FT_STATUS LinkSetRts(LinkId link, bool on)
{
    return D().Simple(on ? "FT_SetRts" : "FT_ClrRts", link, {}, [&](PortState &port) {
        port.rts = on;
        return FT_STATUS{FT_OK};
    });
}

FT_STATUS LinkSetTimeouts(LinkId link, ULONG readTimeoutMs, ULONG writeTimeoutMs)
{
    return D().Simple("FT_SetTimeouts", link, {readTimeoutMs, writeTimeoutMs}, [&](PortState &port) {
        port.readTimeoutMs = readTimeoutMs;
        port.writeTimeoutMs = writeTimeoutMs;
        return FT_STATUS{FT_OK};
    });
}

FT_STATUS LinkPurge(LinkId link, ULONG mask)
{
    return D().Purge(link, mask);
}
FT_STATUS LinkWrite(LinkId link, const void *buffer, DWORD bytesToWrite, DWORD *written)
{
    return D().Write(link, buffer, bytesToWrite, written);
}
FT_STATUS LinkRead(LinkId link, void *buffer, DWORD bytesToRead, DWORD *bytesReturned)
{
    return D().Read(link, buffer, bytesToRead, bytesReturned);
}
FT_STATUS LinkGetStatus(LinkId link, DWORD *rxBytes, DWORD *txBytes, DWORD *eventStatus)
{
    return D().GetStatus(link, rxBytes, txBytes, eventStatus);
}
FT_STATUS LinkGetModemStatus(LinkId link, ULONG *modemStatus)
{
    return D().GetModemStatus(link, modemStatus);
}
FT_STATUS LinkSetUSBParameters(LinkId link, ULONG inTransferSize, ULONG outTransferSize)
{
    return D().SetUSBParameters(link, inTransferSize, outTransferSize);
}

} // namespace korvi::sim
