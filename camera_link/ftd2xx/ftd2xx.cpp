// The FT_* calls: each handle is one open Port of the backend chosen when it was opened. Handles
// are checked against the table of open ports, so a stale or foreign handle gives
// FT_INVALID_HANDLE instead of touching freed memory.
#include "ftd2xx/ftd2xx.h"
#include "ftd2xx/port.h"
#include "simulator/sim_link.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace korvi::ftd2xx
{

bool SimulatorSelected()
{
    const char *device = std::getenv("KORVICOM_DEVICE");
    return device != nullptr && std::strcmp(device, "simulator") == 0;
}

namespace
{

std::mutex tableMutex;
std::unordered_map<FT_HANDLE, std::shared_ptr<Port>> &Table()
{
    static std::unordered_map<FT_HANDLE, std::shared_ptr<Port>> table;
    return table;
}

std::shared_ptr<Port> Find(FT_HANDLE handle)
{
    std::lock_guard lock(tableMutex);
    auto it = Table().find(handle);
    return it == Table().end() ? nullptr : it->second;
}

// A call refused before it reaches a device. With the simulator it still goes into the
// simulator's call log, so that a test sees every FT_* call that was made.
FT_STATUS Refused(const char *function, FT_STATUS status)
{
    if (SimulatorSelected())
        sim::LogRefusedCall(function, status);
    return status;
}

template <typename F> FT_STATUS On(const char *function, FT_HANDLE handle, F call)
{
    std::shared_ptr<Port> port = Find(handle);
    return port ? call(*port) : Refused(function, FT_INVALID_HANDLE);
}

} // namespace

} // namespace korvi::ftd2xx

using korvi::ftd2xx::On;
using korvi::ftd2xx::Port;
using korvi::ftd2xx::Refused;

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *handle)
{
    if (handle == nullptr)
        return Refused("FT_Open", FT_INVALID_PARAMETER);
    std::unique_ptr<Port> opened;
    const FT_STATUS status = korvi::ftd2xx::SimulatorSelected()
                                 ? korvi::ftd2xx::OpenSimulatedPort(deviceNumber, &opened)
                                 : korvi::ftd2xx::OpenFtdiPort(deviceNumber, &opened);
    if (status != FT_OK)
        return status;
    std::shared_ptr<Port> port(std::move(opened));
    std::lock_guard lock(korvi::ftd2xx::tableMutex);
    *handle = port.get();
    korvi::ftd2xx::Table().emplace(*handle, std::move(port));
    return FT_OK;
}

FT_STATUS FT_Close(FT_HANDLE handle)
{
    std::shared_ptr<Port> port;
    {
        std::lock_guard lock(korvi::ftd2xx::tableMutex);
        auto &table = korvi::ftd2xx::Table();
        auto it = table.find(handle);
        if (it == table.end())
            return Refused("FT_Close", FT_INVALID_HANDLE);
        port = std::move(it->second);
        table.erase(it);
    }
    return port->Close();
}

FT_STATUS FT_ResetDevice(FT_HANDLE handle)
{
    return On("FT_ResetDevice", handle, [](Port &port) { return port.ResetDevice(); });
}

FT_STATUS FT_SetBaudRate(FT_HANDLE handle, ULONG baudRate)
{
    return On("FT_SetBaudRate", handle, [&](Port &port) { return port.SetBaudRate(baudRate); });
}

FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity)
{
    return On("FT_SetDataCharacteristics", handle,
              [&](Port &port) { return port.SetDataCharacteristics(wordLength, stopBits, parity); });
}

FT_STATUS FT_SetFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff)
{
    return On("FT_SetFlowControl", handle,
              [&](Port &port) { return port.SetFlowControl(flowControl, xon, xoff); });
}

FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                      UCHAR errorCharEnabled)
{
    return On("FT_SetChars", handle, [&](Port &port) {
        return port.SetChars(eventChar, eventCharEnabled, errorChar, errorCharEnabled);
    });
}

FT_STATUS FT_SetEventNotification(FT_HANDLE handle, DWORD mask, void *param)
{
    return On("FT_SetEventNotification", handle,
              [&](Port &port) { return port.SetEventNotification(mask, param); });
}

FT_STATUS FT_SetDtr(FT_HANDLE handle)
{
    return On("FT_SetDtr", handle, [](Port &port) { return port.SetDtr(true); });
}

FT_STATUS FT_ClrDtr(FT_HANDLE handle)
{
    return On("FT_ClrDtr", handle, [](Port &port) { return port.SetDtr(false); });
}

FT_STATUS FT_SetRts(FT_HANDLE handle)
{
    return On("FT_SetRts", handle, [](Port &port) { return port.SetRts(true); });
}

FT_STATUS FT_ClrRts(FT_HANDLE handle)
{
    return On("FT_ClrRts", handle, [](Port &port) { return port.SetRts(false); });
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs)
{
    return On("FT_SetTimeouts", handle,
              [&](Port &port) { return port.SetTimeouts(readTimeoutMs, writeTimeoutMs); });
}

FT_STATUS FT_Purge(FT_HANDLE handle, ULONG mask)
{
    return On("FT_Purge", handle, [&](Port &port) { return port.Purge(mask); });
}

FT_STATUS FT_Write(FT_HANDLE handle, const void *buffer, DWORD bytesToWrite, DWORD *written)
{
    return On("FT_Write", handle, [&](Port &port) { return port.Write(buffer, bytesToWrite, written); });
}

FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, DWORD bytesToRead, DWORD *bytesReturned)
{
    return On("FT_Read", handle, [&](Port &port) { return port.Read(buffer, bytesToRead, bytesReturned); });
}

FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD *rxBytes, DWORD *txBytes, DWORD *eventStatus)
{
    return On("FT_GetStatus", handle,
              [&](Port &port) { return port.GetStatus(rxBytes, txBytes, eventStatus); });
}

FT_STATUS FT_GetModemStatus(FT_HANDLE handle, ULONG *modemStatus)
{
    return On("FT_GetModemStatus", handle, [&](Port &port) { return port.GetModemStatus(modemStatus); });
}

FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, ULONG inTransferSize, ULONG outTransferSize)
{
    return On("FT_SetUSBParameters", handle,
              [&](Port &port) { return port.SetUSBParameters(inTransferSize, outTransferSize); });
}
