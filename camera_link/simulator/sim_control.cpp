// The control API: doors into the one simulated device.
#include "simulator/sim_control.h"

#include "simulator/device.h"

namespace korvi::sim
{

void Reset(const Config &config)
{
    Device::Instance().Reset(config);
}
void Reset()
{
    Device::Instance().Reset(DefaultConfig());
}
Config CurrentConfig()
{
    return Device::Instance().config();
}
Snapshot GetSnapshot()
{
    return Device::Instance().GetSnapshot();
}
void SetFaults(const Faults &faults)
{
    Device::Instance().SetFaults(faults);
}
void ClearFaults()
{
    Device::Instance().SetFaults(Faults{});
}
std::vector<CallRecord> CallLog()
{
    return Device::Instance().CallLog();
}
void ClearCallLog()
{
    Device::Instance().ClearCallLog();
}
double Now()
{
    return Device::Instance().Now();
}
void AdvanceClock(double seconds)
{
    Device::Instance().AdvanceClock(seconds);
}

std::vector<std::vector<std::uint8_t>> WrittenBlocks()
{
    std::vector<std::vector<std::uint8_t>> blocks;
    for (const CallRecord &record : CallLog()) {
        if (record.function == "FT_Write" && record.status == FT_OK)
            blocks.push_back(record.written);
    }
    return blocks;
}

void SetMountOffset(double x, double y)
{
    Device::Instance().WithController(
        [&](Controller &controller, double now) { controller.mount().SetOffset(x, y, now); });
}

void SetCoolerTemperature(int camera, double celsius)
{
    if (camera != 0 && camera != 1)
        return;
    Device::Instance().WithController([&](Controller &controller, double now) {
        controller.camera(camera).cooler().SetTemperature(celsius, now);
    });
}

void SetBatteryVolts(double volts)
{
    Device::Instance().WithController(
        [&](Controller &controller, double) { controller.SetBatteryVolts(volts); });
}

void SetStarWidth(int camera, double psfSigma)
{
    if (camera != 0 && camera != 1)
        return;
    Device::Instance().WithController(
        [&](Controller &controller, double) { controller.camera(camera).SetPsfSigma(psfSigma); });
}

void SetReplayFrame(int camera, std::shared_ptr<const std::vector<std::uint16_t>> words)
{
    if (camera != 0 && camera != 1)
        return;
    Device::Instance().WithController(
        [&](Controller &controller, double) { controller.SetReplay(camera, std::move(words)); });
}

void SetReplayPrefix(int camera, std::vector<std::uint16_t> words)
{
    if (camera != 0 && camera != 1)
        return;
    Device::Instance().WithController(
        [&](Controller &controller, double) { controller.SetReplayPrefix(camera, std::move(words)); });
}

std::vector<std::uint16_t> PeekFrame(int camera, const ReadoutRequest &geometry)
{
    if (camera != 0 && camera != 1)
        return {};
    return Device::Instance().WithController(
        [&](Controller &controller, double now) { return controller.PeekFrame(camera, geometry, now); });
}

} // namespace korvi::sim
