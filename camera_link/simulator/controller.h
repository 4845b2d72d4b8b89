#pragma once
// The simulated camera controller: the command words the host writes, what each does to the
// device model, and the bytes it sends back. Commands are little-endian 16-bit words; word 0
// holds the opcode in its low byte and a parameter (camera index or flag) in its high byte, and
// a few commands are sent as the opcode byte alone.
#include "simulator/camera.h"
#include "simulator/reply_queue.h"
#include "simulator/sim_control.h"
#include "simulator/sky.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace korvi::sim
{

// Opcodes the controller knows.
enum Opcode : std::uint8_t {
    OpStopClocks = 0,
    OpReadFrame = 2,
    OpClearHorizontal = 3,
    OpClearVertical = 4,
    OpVddHigh = 5,
    OpVddLow = 6,
    OpDiagnostic = 10,
    OpClockTest0 = 11,
    OpClockTest1 = 12,
    OpSlew = 20,
    OpTargetTemperature = 30,
    OpGetTemperature = 31,
    OpCoolerOn = 33,
    OpCoolerOff = 34,
    OpLcd = 36,
    OpPowerUp = 40,
    OpPowerDown = 41,
    OpBattery = 42,
    OpWheelSupplyOn = 43,
    OpWheelSupplyOff = 44,
    OpShutterOpen = 50,
    OpShutterClose = 51,
    OpStepWheel = 52,
    OpText = 64,
    OpDrive = 90,
};

// Drive-controller sub-commands (high byte of the drive frame's word 0).
enum DriveCommand : int {
    DriveTest = 1,
    DriveRates = 10,
    DriveSlew = 11,
    DriveProgram = 20,
    DriveReadMemory = 21,
    DriveWriteConfiguration = 30,
    DriveReadConfiguration = 40,
};

// Bytes of the whole command that starts with these bytes: 0 when more bytes are needed to tell
// (the drive frame's header), -1 for an opcode the controller does not know.
long long CommandLength(const std::uint8_t *data, std::size_t available);

class Controller
{
public:
    explicit Controller(const Config &config);

    // Carries out one complete command received at time now and queues its reply.
    void Execute(const std::uint8_t *command, std::size_t length, double now, const Faults &faults,
                 ReplyQueue &reply);

    // Brings every time-dependent part up to now.
    void Advance(double now);
    void Fill(Snapshot &snapshot) const;

    Mount &mount() { return mount_; }
    Camera &camera(int index) { return *cameras_[index]; }
    const std::vector<Star> &stars() const { return stars_; }
    void SetBatteryVolts(double volts) { batteryVolts_ = volts; }
    void SetReplay(int camera, std::shared_ptr<const std::vector<std::uint16_t>> words)
    {
        replay_[camera] = std::move(words);
    }
    void SetReplayPrefix(int camera, std::vector<std::uint16_t> words)
    {
        replayPrefix_[camera] = std::move(words);
    }
    // The frame and prefix the next readout of this camera would send.
    std::vector<std::uint16_t> PeekFrame(int camera, const ReadoutRequest &geometry, double now);

private:
    void Acknowledge(const Faults &faults, ReplyQueue &reply) const;
    void ReadFrame(int camera, const ReadoutRequest &geometry, double now, const Faults &faults,
                   ReplyQueue &reply);
    void Diagnostic(int columns, int rows, const Faults &faults, ReplyQueue &reply) const;
    void Drive(int subcommand, const std::uint16_t *payload, int payloadWords, int replyBytes, double now,
               const Faults &faults, ReplyQueue &reply);
    std::uint64_t FrameSeed(int camera) const;

    Config config_;
    std::vector<Star> stars_;
    Mount mount_;
    std::array<std::unique_ptr<Camera>, 2> cameras_;
    std::array<CameraState, 2> cameraStates_{};
    std::array<std::shared_ptr<const std::vector<std::uint16_t>>, 2> replay_;
    std::array<std::vector<std::uint16_t>, 2> replayPrefix_;
    bool shutterOpen_ = false;
    bool wheelPowered_ = true;
    int filterPosition_ = 1;
    unsigned filterSteps_ = 0;
    bool standby_ = false;
    bool vddHigh_ = true;
    bool lcdEnabled_ = false;
    std::string lcdText_;
    double batteryVolts_;
    int clockCamera_ = -1, clockClock_ = -1;
    DriveState drive_;
    unsigned commands_ = 0;
    std::vector<std::uint8_t> lastCommand_;
};

} // namespace korvi::sim
