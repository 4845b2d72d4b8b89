#include "simulator/device.h"

#include "time_scale.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace korvi::sim
{

namespace
{

bool ParseDouble(const char *text, double *value)
{
    if (text == nullptr)
        return false;
    const char *end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, *value);
    return ec == std::errc() && ptr == end && std::isfinite(*value);
}

} // namespace

Config DefaultConfig()
{
    Config config;
    if (const char *seed = std::getenv("KORVI_SIM_SEED")) {
        std::uint64_t value = 0;
        const char *end = seed + std::strlen(seed);
        auto [ptr, ec] = std::from_chars(seed, end, value);
        if (ec == std::errc() && ptr == end)
            config.seed = value;
    }
    double rate = 0.0;
    if (ParseDouble(std::getenv("KORVI_SIM_GUIDE_RATE"), &rate) && rate >= 0.0)
        config.guideRate = rate;
    if (const char *drift = std::getenv("KORVI_SIM_DRIFT")) {
        std::string text(drift);
        const auto comma = text.find(',');
        double x = 0.0, y = 0.0;
        if (comma != std::string::npos && ParseDouble(text.substr(0, comma).c_str(), &x) &&
            ParseDouble(text.substr(comma + 1).c_str(), &y)) {
            config.driftX = x;
            config.driftY = y;
        }
    }
    if (const char *flat = std::getenv("KORVI_SIM_FLAT")) {
        if (std::strcmp(flat, "1") == 0)
            config.evenlyLitField = true;
        else if (std::strcmp(flat, "0") == 0)
            config.evenlyLitField = false;
    }
    return config;
}

Device &Device::Instance()
{
    static Device device;
    return device;
}

Device::Device()
{
    Reset(DefaultConfig());
}

void Device::Reset(const Config &config)
{
    std::lock_guard lock(mutex_);
    config_ = config;
    epoch_ = ScaledNow();
    manualTime_ = 0.0;
    controller_ = std::make_unique<Controller>(config_);
    queue_.Clear();
    input_.clear();
    port_ = PortState{};
    openLink_ = 0;
    faults_ = Faults{};
    callCounts_.clear();
    allCalls_ = 0;
    writingCounts_.clear();
    log_.clear();
    unknownCommands_ = 0;
    arrived_.notify_all();
}

Config Device::config()
{
    std::lock_guard lock(mutex_);
    return config_;
}

double Device::NowLocked() const
{
    return config_.manualClock ? manualTime_ : ScaledNow() - epoch_;
}

double Device::Now()
{
    std::lock_guard lock(mutex_);
    return NowLocked();
}

void Device::AdvanceClock(double seconds)
{
    std::lock_guard lock(mutex_);
    if (config_.manualClock && seconds > 0.0)
        manualTime_ += seconds;
}

Snapshot Device::GetSnapshot()
{
    std::lock_guard lock(mutex_);
    Snapshot snapshot;
    snapshot.time = NowLocked();
    controller_->Advance(snapshot.time);
    controller_->Fill(snapshot);
    snapshot.port = port_;
    snapshot.port.queuedBytes = queue_.size();
    snapshot.unknownCommands = unknownCommands_;
    return snapshot;
}

void Device::SetFaults(const Faults &faults)
{
    std::lock_guard lock(mutex_);
    faults_ = faults;
    callCounts_.clear();
    allCalls_ = 0;
    writingCounts_.clear();
}

std::vector<CallRecord> Device::CallLog()
{
    std::lock_guard lock(mutex_);
    return {log_.begin(), log_.end()};
}

void Device::ClearCallLog()
{
    std::lock_guard lock(mutex_);
    log_.clear();
}

CallRecord Device::Begin(const char *function, std::vector<long long> args,
                         std::span<const std::uint8_t> bytes)
{
    CallRecord record;
    record.function = function;
    record.args = std::move(args);
    record.time = NowLocked();
    const int nth = ++callCounts_[record.function];
    const int any = ++allCalls_;
    writingCounts_.resize(faults_.failures.size(), 0);
    for (std::size_t i = 0; i < faults_.failures.size(); ++i) {
        const CallFailure &failure = faults_.failures[i];
        int count = failure.function.empty() ? any : (failure.function == record.function ? nth : 0);
        if (!failure.writing.empty()) {
            const bool matches = record.function == "FT_Write" && bytes.size() >= failure.writing.size() &&
                                 std::equal(failure.writing.begin(), failure.writing.end(), bytes.begin());
            count = matches ? ++writingCounts_[i] : 0;
        }
        if (count == 0)
            continue;
        if (count == failure.ordinal || (failure.repeat && count > failure.ordinal)) {
            record.status = failure.status;
            record.injected = true;
            break;
        }
    }
    return record;
}

FT_STATUS Device::Log(CallRecord record)
{
    const FT_STATUS status = record.status;
    if (config_.callLog) {
        log_.push_back(std::move(record));
        while (log_.size() > config_.callLogLimit && !log_.empty())
            log_.pop_front();
    }
    return status;
}

void Device::LogRefused(const char *function, FT_STATUS status)
{
    std::lock_guard lock(mutex_);
    CallRecord record;
    record.function = function;
    record.status = status;
    record.time = NowLocked();
    Log(std::move(record));
}

FT_STATUS Device::Open(int deviceNumber, LinkId *link)
{
    std::lock_guard lock(mutex_);
    CallRecord record = Begin("FT_Open", {deviceNumber});
    if (link == nullptr && !record.injected)
        record.status = FT_INVALID_PARAMETER;
    else if (!record.injected) {
        // One device, index 0; open elsewhere (or in this process) means it cannot be opened.
        if (faults_.noDevice || deviceNumber != 0)
            record.status = FT_DEVICE_NOT_FOUND;
        else if (faults_.busy || openLink_ != 0)
            record.status = FT_DEVICE_NOT_OPENED;
        else {
            openLink_ = nextLink_++;
            port_.open = true;
            ++port_.opens;
            *link = openLink_;
            record.outputs = {static_cast<long long>(openLink_)};
        }
    }
    return Log(std::move(record));
}

FT_STATUS Device::Close(LinkId link)
{
    std::lock_guard lock(mutex_);
    CallRecord record = Begin("FT_Close", {});
    if (!Valid(link)) {
        if (!record.injected)
            record.status = FT_INVALID_HANDLE;
    } else {
        openLink_ = 0;
        port_.open = false;
        arrived_.notify_all();
    }
    return Log(std::move(record));
}

FT_STATUS Device::Purge(LinkId link, ULONG mask)
{
    std::lock_guard lock(mutex_);
    CallRecord record = Begin("FT_Purge", {mask});
    Check(record, link);
    if (!record.injected && record.status == FT_OK) {
        if (mask & FT_PURGE_RX)
            queue_.Clear();
        if (mask & FT_PURGE_TX)
            input_.clear();
    }
    return Log(std::move(record));
}

FT_STATUS Device::Write(LinkId link, const void *buffer, DWORD count, DWORD *written)
{
    std::lock_guard lock(mutex_);
    CallRecord record = Begin(
        "FT_Write", {count},
        buffer != nullptr ? std::span<const std::uint8_t>(static_cast<const std::uint8_t *>(buffer), count)
                          : std::span<const std::uint8_t>());
    if (written != nullptr)
        *written = 0;
    Check(record, link, (buffer != nullptr || count == 0) && written != nullptr);
    if (record.status == FT_OK) {
        const auto *bytes = static_cast<const std::uint8_t *>(buffer);
        record.written.assign(bytes, bytes + count);
        input_.insert(input_.end(), bytes, bytes + count);
        *written = count;
        record.outputs = {count};
        // Carry out every complete command; an unknown opcode makes the controller drop what it has.
        const double now = record.time;
        std::size_t start = 0;
        while (start < input_.size()) {
            const long long length = CommandLength(input_.data() + start, input_.size() - start);
            if (length < 0) {
                ++unknownCommands_;
                start = input_.size();
                break;
            }
            if (length == 0 || static_cast<std::size_t>(length) > input_.size() - start)
                break;
            controller_->Execute(input_.data() + start, static_cast<std::size_t>(length), now, faults_,
                                 queue_);
            start += static_cast<std::size_t>(length);
        }
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(start));
        arrived_.notify_all();
    }
    return Log(std::move(record));
}

FT_STATUS Device::Read(LinkId link, void *buffer, DWORD count, DWORD *returned)
{
    std::unique_lock lock(mutex_);
    CallRecord record = Begin("FT_Read", {count});
    if (returned != nullptr)
        *returned = 0;
    Check(record, link, (buffer != nullptr || count == 0) && returned != nullptr);
    if (record.status != FT_OK)
        return Log(std::move(record));
    // Wait for the bytes up to the read time-out (process time). A time-out of 0, which would
    // wait for ever on a real driver, returns at once: the simulated controller answers as the
    // command is written, so nothing more could come.
    if (queue_.size() < count && port_.readTimeoutMs > 0) {
        const auto deadline = std::chrono::steady_clock::now() + ScaledMilliseconds(port_.readTimeoutMs);
        const LinkId waiting = link;
        arrived_.wait_until(lock, deadline, [&] { return queue_.size() >= count || openLink_ != waiting; });
    }
    if (!Valid(link)) {
        record.status = FT_INVALID_HANDLE;
        return Log(std::move(record));
    }
    auto *bytes = static_cast<std::uint8_t *>(buffer);
    const std::size_t taken = queue_.Take(bytes, count);
    *returned = static_cast<DWORD>(taken);
    record.outputs = {static_cast<long long>(taken)};
    if (config_.callLog)
        record.read.assign(bytes, bytes + std::min(taken, config_.callLogReadBytes));
    return Log(std::move(record));
}

FT_STATUS Device::GetStatus(LinkId link, DWORD *rx, DWORD *tx, DWORD *event)
{
    std::lock_guard lock(mutex_);
    CallRecord record = Begin("FT_GetStatus", {});
    Check(record, link, rx != nullptr && tx != nullptr && event != nullptr);
    if (record.status == FT_OK) {
        if (!faults_.unsolicited.empty()) {
            queue_.Append(std::move(faults_.unsolicited));
            faults_.unsolicited.clear();
        }
        *rx = static_cast<DWORD>(std::min<std::size_t>(queue_.size(), UINT32_MAX));
        *tx = 0;
        *event = 0;
        record.outputs = {*rx, 0, 0};
    }
    return Log(std::move(record));
}

FT_STATUS Device::GetModemStatus(LinkId link, ULONG *status)
{
    std::lock_guard lock(mutex_);
    CallRecord record = Begin("FT_GetModemStatus", {});
    Check(record, link, status != nullptr);
    if (record.status == FT_OK) {
        *status = config_.modemStatus;
        record.outputs = {*status};
    }
    return Log(std::move(record));
}

FT_STATUS Device::SetUSBParameters(LinkId link, ULONG in, ULONG out)
{
    std::lock_guard lock(mutex_);
    CallRecord record = Begin("FT_SetUSBParameters", {in, out});
    Check(record, link);
    if (record.status == FT_OK && faults_.refuseTransferSize)
        record.status = faults_.transferSizeStatus;
    if (record.status == FT_OK) {
        port_.inTransferSize = in;
        if (out != 0)
            port_.outTransferSize = out;
    }
    return Log(std::move(record));
}

} // namespace korvi::sim
