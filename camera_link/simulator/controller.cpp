#include "simulator/controller.h"

#include "simulator/random.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace korvi::sim
{

static_assert(std::endian::native == std::endian::little,
              "frames are queued as the host's 16-bit words, which must already be in wire order");

namespace
{

std::uint16_t Word(const std::uint8_t *command, std::size_t index)
{
    return static_cast<std::uint16_t>(command[2 * index] | (command[2 * index + 1] << 8));
}

constexpr double batteryWordsPerVolt = 17.77;

} // namespace

long long CommandLength(const std::uint8_t *data, std::size_t available)
{
    if (available == 0)
        return 0;
    switch (data[0]) {
    case OpVddHigh:
    case OpVddLow:
    case OpPowerUp:
    case OpPowerDown:
    case OpWheelSupplyOn:
    case OpWheelSupplyOff:
    case OpShutterOpen:
    case OpShutterClose:
        return 1;
    case OpStopClocks:
    case OpClockTest0:
    case OpClockTest1:
    case OpSlew:
    case OpGetTemperature:
    case OpCoolerOn:
    case OpCoolerOff:
    case OpLcd:
    case OpBattery:
        return 2;
    case OpTargetTemperature:
    case OpStepWheel:
        return 4;
    case OpClearHorizontal:
    case OpClearVertical:
    case OpDiagnostic:
        return 6;
    case OpReadFrame:
        return 16;
    case OpText:
        return 34;
    case OpDrive:
        if (available < 4)
            return 0;
        return 6 + static_cast<long long>(Word(data, 1));
    default:
        return -1;
    }
}

Controller::Controller(const Config &config)
    : config_(config), stars_(MakeStarField(config)), mount_(config), batteryVolts_(config.batteryVolts)
{
    cameras_[0] = std::make_unique<Camera>(config.imaging, config, 0);
    cameras_[1] = std::make_unique<Camera>(config.guiding, config, 1);
    // A fresh drive controller holds the default tracking rate and the factory configuration.
    std::fill(drive_.memory.begin(), drive_.memory.begin() + 500, std::uint16_t{1833});
    drive_.configuration = {1833, 1833, 1846, 1988, 1833, 500, 135, 30, 32, 833, 833, 2};
}

void Controller::Advance(double now)
{
    mount_.Advance(now);
    for (auto &camera : cameras_)
        camera->cooler().Advance(now);
}

void Controller::Acknowledge(const Faults &faults, ReplyQueue &reply) const
{
    if (!faults.noAcknowledge)
        reply.AppendByte(static_cast<std::uint8_t>(faults.acknowledgeByte));
}

std::uint64_t Controller::FrameSeed(int camera) const
{
    return MixSeed(config_.seed) ^
           MixSeed((static_cast<std::uint64_t>(camera) << 32) | cameraStates_[camera].readouts);
}

void Controller::Execute(const std::uint8_t *command, std::size_t length, double now, const Faults &faults,
                         ReplyQueue &reply)
{
    Advance(now);
    ++commands_;
    lastCommand_.assign(command, command + length);
    const std::uint8_t opcode = command[0];
    const int parameter = length >= 2 ? command[1] : 0;
    const bool cameraValid = parameter == 0 || parameter == 1;
    switch (opcode) {
    case OpStopClocks:
        clockCamera_ = clockClock_ = -1;
        Acknowledge(faults, reply);
        break;
    case OpReadFrame: {
        if (!cameraValid)
            break;
        ReadoutRequest geometry;
        // The sub-frame limits are unsigned 16-bit words, as the host computes the frame size
        // from them; a reversed span (high below low) reads no pixels.
        geometry.xLow = Word(command, 1);
        geometry.xHigh = Word(command, 2);
        geometry.yLow = Word(command, 3);
        geometry.yHigh = Word(command, 4);
        geometry.xBinning = command[10];
        geometry.yBinning = command[11];
        geometry.sensorColumns = Word(command, 6);
        geometry.sensorRows = Word(command, 7);
        ReadFrame(parameter, geometry, now, faults, reply);
        break;
    }
    case OpClearHorizontal:
        if (!cameraValid)
            break;
        ++cameraStates_[parameter].horizontalClears;
        Acknowledge(faults, reply);
        break;
    case OpClearVertical:
        if (!cameraValid)
            break;
        ++cameraStates_[parameter].clears;
        cameraStates_[parameter].lastClearRows = Word(command, 1);
        cameraStates_[parameter].lastClearColumns = Word(command, 2);
        cameras_[parameter]->Clear(now, mount_);
        Acknowledge(faults, reply);
        break;
    case OpVddHigh:
    case OpVddLow:
        vddHigh_ = opcode == OpVddHigh;
        Acknowledge(faults, reply);
        break;
    case OpDiagnostic:
        Diagnostic(Word(command, 1), Word(command, 2), faults, reply);
        break;
    case OpClockTest0:
    case OpClockTest1:
        if (!cameraValid)
            break;
        clockCamera_ = parameter;
        clockClock_ = opcode - OpClockTest0;
        Acknowledge(faults, reply);
        break;
    case OpSlew:
        mount_.SetSlew(parameter & 0x0F, now);
        Acknowledge(faults, reply);
        break;
    case OpTargetTemperature:
        if (!cameraValid)
            break;
        // The word is 10 x T + 630 in 16 bits; a negative target arrives wrapped.
        cameras_[parameter]->cooler().SetTarget((static_cast<std::int16_t>(Word(command, 1)) - 630) / 10.0,
                                                now);
        Acknowledge(faults, reply);
        break;
    case OpGetTemperature: {
        if (!cameraValid || faults.noReply)
            break;
        const double word = std::floor(cameras_[parameter]->cooler().temperature() * 10.0 + 640.0 + 0.5);
        reply.AppendWords({static_cast<std::uint16_t>(std::clamp(word, 0.0, 65535.0))});
        break;
    }
    case OpCoolerOn:
    case OpCoolerOff:
        if (!cameraValid)
            break;
        cameras_[parameter]->cooler().SetPowered(opcode == OpCoolerOn, now);
        Acknowledge(faults, reply);
        break;
    case OpLcd:
        lcdEnabled_ = parameter != 0;
        Acknowledge(faults, reply);
        break;
    case OpPowerUp:
    case OpPowerDown:
        standby_ = opcode == OpPowerDown;
        for (auto &camera : cameras_)
            camera->cooler().SetStandby(standby_, now);
        Acknowledge(faults, reply);
        break;
    case OpBattery: {
        if (faults.noReply)
            break;
        const double word = std::floor(batteryVolts_ * batteryWordsPerVolt + 0.5);
        reply.AppendWords({static_cast<std::uint16_t>(std::clamp(word, 0.0, 65535.0))});
        break;
    }
    case OpWheelSupplyOn:
    case OpWheelSupplyOff:
        wheelPowered_ = opcode == OpWheelSupplyOn;
        Acknowledge(faults, reply);
        break;
    case OpShutterOpen:
    case OpShutterClose:
        shutterOpen_ = opcode == OpShutterOpen;
        cameras_[0]->SetShutter(shutterOpen_, now, mount_);
        Acknowledge(faults, reply);
        break;
    case OpStepWheel: {
        // A wheel without supply cannot turn: the controller refuses the step (byte 2).
        if (!wheelPowered_) {
            if (!faults.noAcknowledge)
                reply.AppendByte(2);
            break;
        }
        const int steps = Word(command, 1) % 6;
        const int direction = parameter != 0 ? 1 : -1;
        filterPosition_ = ((filterPosition_ - 1 + direction * steps) % 6 + 6) % 6 + 1;
        filterSteps_ += Word(command, 1);
        Acknowledge(faults, reply);
        break;
    }
    case OpText: {
        lcdText_.clear();
        for (std::size_t i = 2; i < length && command[i] != 0; ++i)
            lcdText_.push_back(static_cast<char>(command[i]));
        Acknowledge(faults, reply);
        break;
    }
    case OpDrive: {
        const int payloadBytes = Word(command, 1);
        const int replyBytes = Word(command, 2);
        std::vector<std::uint16_t> payload(static_cast<std::size_t>(payloadBytes / 2));
        for (std::size_t i = 0; i < payload.size(); ++i)
            payload[i] = Word(command, 3 + i);
        Drive(parameter, payload.data(), static_cast<int>(payload.size()), replyBytes, now, faults, reply);
        break;
    }
    default:
        break;
    }
}

void Controller::ReadFrame(int camera, const ReadoutRequest &request, double now, const Faults &faults,
                           ReplyQueue &reply)
{
    ReadoutRequest geometry = request;
    ReadoutSize(geometry, &geometry.columns, &geometry.rows);
    Camera &sensor = *cameras_[camera];
    const Camera::Exposure exposure = sensor.ExposureAt(now, mount_);
    const std::uint64_t seed = FrameSeed(camera);

    CameraState &state = cameraStates_[camera];
    ++state.readouts;
    state.lastReadout = geometry;
    state.lastLightSeconds = exposure.lightSeconds;
    state.lastDarkSeconds = exposure.darkSeconds;
    sensor.Clear(now, mount_); // reading moves the charge out

    const std::size_t prefixBytes =
        faults.prefixBytes < 0 ? 200 : std::min<std::size_t>(200, faults.prefixBytes);
    std::vector<std::uint16_t> prefix = sensor.Prefix(seed);
    if (!replayPrefix_[camera].empty()) {
        prefix.assign(100, 0);
        std::copy_n(replayPrefix_[camera].begin(), std::min<std::size_t>(100, replayPrefix_[camera].size()),
                    prefix.begin());
    }
    reply.AppendWords(prefix, prefixBytes);
    if (prefixBytes < 200)
        return; // the controller stopped sending
    const std::size_t frameBytes = static_cast<std::size_t>(geometry.columns) * geometry.rows * 2;
    const std::size_t sendBytes =
        faults.frameBytes < 0
            ? frameBytes
            : std::min<std::size_t>(frameBytes, static_cast<std::size_t>(faults.frameBytes));
    if (sendBytes == 0)
        return;
    if (const auto &words = replay_[camera]) {
        const std::size_t available = std::min(sendBytes, words->size() * 2);
        reply.AppendShared(words, reinterpret_cast<const std::uint8_t *>(words->data()), available);
        reply.AppendZeros(sendBytes - available);
        return;
    }
    auto frame =
        std::make_shared<std::vector<std::uint16_t>>(sensor.Render(geometry, exposure, stars_, seed));
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(frame->data());
    reply.AppendShared(std::move(frame), bytes, sendBytes);
}

std::vector<std::uint16_t> Controller::PeekFrame(int camera, const ReadoutRequest &geometry, double now)
{
    Advance(now);
    Camera &sensor = *cameras_[camera];
    return sensor.Render(geometry, sensor.ExposureAt(now, mount_), stars_, FrameSeed(camera));
}

void Controller::Diagnostic(int columns, int rows, const Faults &faults, ReplyQueue &reply) const
{
    // A test pattern whose value is column + row, sent row by row.
    const long long words = static_cast<long long>(columns) * rows;
    if (words <= 0 || words > maxFrameWords)
        return;
    auto pattern = std::make_shared<std::vector<std::uint16_t>>(static_cast<std::size_t>(words));
    std::uint16_t *out = pattern->data();
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            *out++ = static_cast<std::uint16_t>(x + y);
    const std::size_t patternBytes = static_cast<std::size_t>(words) * 2;
    const std::size_t sendBytes =
        faults.frameBytes < 0
            ? patternBytes
            : std::min<std::size_t>(patternBytes, static_cast<std::size_t>(faults.frameBytes));
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(pattern->data());
    reply.AppendShared(std::move(pattern), bytes, sendBytes);
}

void Controller::Drive(int subcommand, const std::uint16_t *payload, int payloadWords, int replyBytes,
                       double now, const Faults &faults, ReplyQueue &reply)
{
    ++drive_.commands;
    drive_.lastSubcommand = subcommand;
    std::vector<std::uint16_t> answer;
    switch (subcommand) {
    case DriveTest:
        // The controller's fixed answer to the input/output test, whatever word came in.
        drive_.lastTestWord = payloadWords > 0 ? payload[0] : 0;
        answer = {12345};
        break;
    case DriveRates:
        for (int i = 0; i < payloadWords && i < 4; ++i)
            drive_.rates[i] = payload[i];
        break;
    case DriveSlew:
        mount_.SetSlew(payloadWords > 0 ? payload[0] & 0x0F : 0, now);
        break;
    case DriveProgram:
        for (int i = 0; i < payloadWords && i < 512; ++i)
            drive_.memory[i] = payload[i];
        break;
    case DriveReadMemory:
        answer.assign(drive_.memory.begin(), drive_.memory.end());
        break;
    case DriveWriteConfiguration:
        for (int i = 0; i < payloadWords && i < 12; ++i)
            drive_.configuration[i] = payload[i];
        break;
    case DriveReadConfiguration:
        answer.assign(drive_.configuration.begin(), drive_.configuration.end());
        break;
    default:
        return; // unknown sub-command: nothing done, nothing sent
    }
    if (replyBytes <= 0 || faults.noReply)
        return;
    // The controller sends exactly the bytes asked for: its data, then zeros.
    const std::size_t dataBytes = std::min<std::size_t>(answer.size() * 2, replyBytes);
    reply.AppendWords(answer, dataBytes);
    reply.AppendZeros(static_cast<std::size_t>(replyBytes) - dataBytes);
}

void Controller::Fill(Snapshot &snapshot) const
{
    for (int i = 0; i < 2; ++i) {
        snapshot.cameras[i] = cameraStates_[i];
        const Cooler &cooler = cameras_[i]->cooler();
        snapshot.cameras[i].cooler.powered = cooler.powered();
        snapshot.cameras[i].cooler.targetCelsius = cooler.target();
        snapshot.cameras[i].cooler.temperatureCelsius = cooler.temperature();
    }
    snapshot.shutterOpen = shutterOpen_;
    snapshot.filterWheelPowered = wheelPowered_;
    snapshot.filterPosition = filterPosition_;
    snapshot.filterSteps = filterSteps_;
    snapshot.standby = standby_;
    snapshot.vddHigh = vddHigh_;
    snapshot.lcdEnabled = lcdEnabled_;
    snapshot.lcdText = lcdText_;
    snapshot.batteryVolts = batteryVolts_;
    snapshot.clockTestCamera = clockCamera_;
    snapshot.clockTestClock = clockClock_;
    snapshot.slewBits = mount_.slewBits();
    snapshot.mountX = mount_.x();
    snapshot.mountY = mount_.y();
    snapshot.drive = drive_;
    snapshot.commands = commands_;
    snapshot.lastCommand = lastCommand_;
}

} // namespace korvi::sim
