// The simulated backend: each call goes to the simulated controller's driver end.
#include "ftd2xx/port.h"
#include "simulator/sim_link.h"

namespace korvi::ftd2xx
{

namespace
{

class SimulatedPort final : public Port
{
public:
    explicit SimulatedPort(sim::LinkId link) : link_(link) {}
    ~SimulatedPort() override
    {
        if (open_)
            sim::LinkClose(link_);
    }

    FT_STATUS Close() override
    {
        open_ = false;
        return sim::LinkClose(link_);
    }
    FT_STATUS ResetDevice() override { return sim::LinkResetDevice(link_); }
    FT_STATUS SetBaudRate(ULONG baudRate) override { return sim::LinkSetBaudRate(link_, baudRate); }
    FT_STATUS SetDataCharacteristics(UCHAR wordLength, UCHAR stopBits, UCHAR parity) override
    {
        return sim::LinkSetDataCharacteristics(link_, wordLength, stopBits, parity);
    }
    FT_STATUS SetFlowControl(USHORT flowControl, UCHAR xon, UCHAR xoff) override
    {
        return sim::LinkSetFlowControl(link_, flowControl, xon, xoff);
    }
    FT_STATUS SetChars(UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                       UCHAR errorCharEnabled) override
    {
        return sim::LinkSetChars(link_, eventChar, eventCharEnabled, errorChar, errorCharEnabled);
    }
    FT_STATUS SetEventNotification(DWORD mask, void *param) override
    {
        return sim::LinkSetEventNotification(link_, mask, param);
    }
    FT_STATUS SetDtr(bool on) override { return sim::LinkSetDtr(link_, on); }
    FT_STATUS SetRts(bool on) override { return sim::LinkSetRts(link_, on); }
    FT_STATUS SetTimeouts(ULONG readTimeoutMs, ULONG writeTimeoutMs) override
    {
        return sim::LinkSetTimeouts(link_, readTimeoutMs, writeTimeoutMs);
    }
    FT_STATUS Purge(ULONG mask) override { return sim::LinkPurge(link_, mask); }
    FT_STATUS Write(const void *buffer, DWORD bytesToWrite, DWORD *written) override
    {
        return sim::LinkWrite(link_, buffer, bytesToWrite, written);
    }
    FT_STATUS Read(void *buffer, DWORD bytesToRead, DWORD *bytesReturned) override
    {
        return sim::LinkRead(link_, buffer, bytesToRead, bytesReturned);
    }
    FT_STATUS GetStatus(DWORD *rxBytes, DWORD *txBytes, DWORD *eventStatus) override
    {
        return sim::LinkGetStatus(link_, rxBytes, txBytes, eventStatus);
    }
    FT_STATUS GetModemStatus(ULONG *modemStatus) override
    {
        return sim::LinkGetModemStatus(link_, modemStatus);
    }
    FT_STATUS SetUSBParameters(ULONG inTransferSize, ULONG outTransferSize) override
    {
        return sim::LinkSetUSBParameters(link_, inTransferSize, outTransferSize);
    }

private:
    sim::LinkId link_;
    bool open_ = true;
};

} // namespace

FT_STATUS OpenSimulatedPort(int deviceNumber, std::unique_ptr<Port> *port)
{
    sim::LinkId link = 0;
    const FT_STATUS status = sim::LinkOpen(deviceNumber, &link);
    if (status == FT_OK)
        *port = std::make_unique<SimulatedPort>(link);
    return status;
}

} // namespace korvi::ftd2xx
