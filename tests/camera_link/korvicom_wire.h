#pragma once
// Shared pieces of the korvicom tests: a fixture that starts every test on a fresh simulated
// controller, a recording error callback, and readers of the simulated driver's call log.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "korvicom.h"
#include "simulator/sim_control.h"

namespace korvi::test
{

using Bytes = std::vector<std::uint8_t>;

inline Bytes MakeBytes(std::initializer_list<int> values)
{
    Bytes bytes;
    for (int v : values)
        bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

// Statuses the callback received on this thread since the test started.
inline std::vector<int> &ReportedStatuses()
{
    thread_local std::vector<int> statuses;
    return statuses;
}

inline void RecordStatus(int status)
{
    ReportedStatuses().push_back(status);
}

inline std::vector<sim::CallRecord> CallsOf(const std::string &function)
{
    std::vector<sim::CallRecord> calls;
    for (sim::CallRecord &record : sim::CallLog())
        if (record.function == function)
            calls.push_back(std::move(record));
    return calls;
}

inline std::vector<std::string> CallNames()
{
    std::vector<std::string> names;
    for (const sim::CallRecord &record : sim::CallLog())
        names.push_back(record.function);
    return names;
}

// The exchange's own time-outs: the second FT_SetTimeouts of a call (the first belongs to the
// port configuration). Empty when the link never got that far.
inline std::vector<long long> ExchangeTimeouts()
{
    const auto calls = CallsOf("FT_SetTimeouts");
    return calls.size() >= 2 ? calls[1].args : std::vector<long long>{};
}

// Byte counts asked of FT_Read, in order.
inline std::vector<long long> ReadRequests()
{
    std::vector<long long> counts;
    for (const sim::CallRecord &record : CallsOf("FT_Read"))
        counts.push_back(record.args.at(0));
    return counts;
}

class KorvicomWire : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim::Config config = sim::DefaultConfig();
        config.manualClock = true;
        sim::Reset(config);
        ReportedStatuses().clear();
    }
    void TearDown() override { sim::ClearFaults(); }

    static void Inject(const sim::Faults &faults)
    {
        sim::SetFaults(faults);
        sim::ClearCallLog();
    }

    // Makes the ordinal-th call of the function fail with status.
    static void FailCall(const std::string &function, int ordinal, FT_STATUS status)
    {
        sim::Faults faults;
        faults.failures.push_back({function, ordinal, status, false});
        Inject(faults);
    }
};

} // namespace korvi::test
