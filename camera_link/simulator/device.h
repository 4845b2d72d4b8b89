#pragma once
// The one simulated device of the process: the controller model behind a USB FIFO that can be
// opened by one caller at a time, with its reply queue, call log and injected faults. The link
// functions (sim_link.h) and the control API (sim_control.h) are thin doors into it.
#include "simulator/controller.h"
#include "simulator/reply_queue.h"
#include "simulator/sim_control.h"
#include "simulator/sim_link.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <span>

namespace korvi::sim
{

class Device
{
public:
    static Device &Instance();

    void Reset(const Config &config);
    Config config();
    Snapshot GetSnapshot();
    void SetFaults(const Faults &faults);
    std::vector<CallRecord> CallLog();
    void ClearCallLog();
    double Now();
    void AdvanceClock(double seconds);

    // Runs f on the controller under the device lock, with the controller brought up to now.
    template <typename F> auto WithController(F f)
    {
        std::lock_guard lock(mutex_);
        const double now = NowLocked();
        controller_->Advance(now);
        return f(*controller_, now);
    }

    void LogRefused(const char *function, FT_STATUS status);
    FT_STATUS Open(int deviceNumber, LinkId *link);
    FT_STATUS Close(LinkId link);
    // A configuration call that only records its values; apply runs when it succeeds.
    template <typename F>
    FT_STATUS Simple(const char *function, LinkId link, std::vector<long long> args, F apply)
    {
        std::lock_guard lock(mutex_);
        CallRecord record = Begin(function, std::move(args));
        Check(record, link);
        if (!record.injected && record.status == FT_OK)
            record.status = apply(port_);
        return Log(std::move(record));
    }
    FT_STATUS Purge(LinkId link, ULONG mask);
    FT_STATUS Write(LinkId link, const void *buffer, DWORD count, DWORD *written);
    FT_STATUS Read(LinkId link, void *buffer, DWORD count, DWORD *returned);
    FT_STATUS GetStatus(LinkId link, DWORD *rx, DWORD *tx, DWORD *event);
    FT_STATUS GetModemStatus(LinkId link, ULONG *status);
    FT_STATUS SetUSBParameters(LinkId link, ULONG in, ULONG out);

private:
    Device();
    double NowLocked() const;
    bool Valid(LinkId link) const { return link != 0 && link == openLink_; }
    // What a driver checks before it acts, unless an injected failure already decided the call:
    // the handle first, then the arguments.
    void Check(CallRecord &record, LinkId link, bool argumentsValid = true) const
    {
        if (record.injected)
            return;
        if (!Valid(link))
            record.status = FT_INVALID_HANDLE;
        else if (!argumentsValid)
            record.status = FT_INVALID_PARAMETER;
    }
    // Starts the record of a call and applies an injected failure, if one is due.
    CallRecord Begin(const char *function, std::vector<long long> args,
                     std::span<const std::uint8_t> bytes = {});
    // Appends the record (when logging is on) and returns its status.
    FT_STATUS Log(CallRecord record);

    std::mutex mutex_;
    std::condition_variable arrived_;
    Config config_;
    std::unique_ptr<Controller> controller_;
    ReplyQueue queue_;
    std::vector<std::uint8_t> input_;
    PortState port_;
    LinkId openLink_ = 0;
    LinkId nextLink_ = 1;
    Faults faults_;
    std::map<std::string, int> callCounts_; // per function since SetFaults
    int allCalls_ = 0;
    std::vector<int> writingCounts_; // per failure with a byte prefix: its matching writes
    std::deque<CallRecord> log_;
    unsigned unknownCommands_ = 0;
    double epoch_ = 0.0;
    double manualTime_ = 0.0;
};

} // namespace korvi::sim
