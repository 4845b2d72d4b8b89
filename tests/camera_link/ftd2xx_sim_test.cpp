// The FT_* layer on the simulated controller: the driver semantics korvicom relies on (one open
// at a time, time-outs, purges, invalid handles), the call log and the injected faults.
#include "ftd2xx/ftd2xx.h"
#include "sim_wire.h"
#include "simulator/sim_control.h"
#include "time_scale.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace
{

using korvi::test::Exchange;
using korvi::test::Words;

class Ftd2xxSim : public korvi::test::SimulatorTest
{
protected:
    FT_HANDLE OpenOrFail()
    {
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(FT_Open(0, &handle), FT_OK);
        return handle;
    }
    // Reads the one-byte acknowledgement of the command just written, expects 1, closes.
    static void ExpectAcknowledgedAndClose(FT_HANDLE handle)
    {
        std::uint8_t ack = 0;
        DWORD got = 0;
        ASSERT_EQ(FT_Read(handle, &ack, 1, &got), FT_OK);
        EXPECT_EQ(got, 1u);
        EXPECT_EQ(ack, 1);
        EXPECT_EQ(FT_Close(handle), FT_OK);
    }
};

TEST_F(Ftd2xxSim, QuickCommandIsAcknowledgedAndCarriedOut)
{
    FT_HANDLE handle = OpenOrFail();
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(FT_SetTimeouts(handle, 300, 300), FT_OK);
    const std::uint8_t command[] = {0x21, 0x01}; // cooler supply on, guiding camera
    DWORD written = 0;
    ASSERT_EQ(FT_Write(handle, command, 2, &written), FT_OK);
    EXPECT_EQ(written, 2u);
    ExpectAcknowledgedAndClose(handle);
    const auto state = korvi::sim::GetSnapshot();
    EXPECT_TRUE(state.cameras[1].cooler.powered);
    EXPECT_FALSE(state.cameras[0].cooler.powered);
}

TEST_F(Ftd2xxSim, SecondOpenFailsAsBusyUntilTheFirstCloses)
{
    FT_HANDLE first = OpenOrFail();
    FT_HANDLE second = nullptr;
    EXPECT_EQ(FT_Open(0, &second), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(FT_Close(first), FT_OK);
    FT_HANDLE third = OpenOrFail();
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(FT_Close(third), FT_OK);
    EXPECT_EQ(korvi::sim::GetSnapshot().port.opens, 2u);
}

TEST_F(Ftd2xxSim, OnlyDeviceIndexZeroExists)
{
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_Open(1, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Open(-1, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Open(0, nullptr), FT_INVALID_PARAMETER);
}

TEST_F(Ftd2xxSim, ClosedOrForeignHandleIsInvalid)
{
    FT_HANDLE handle = OpenOrFail();
    ASSERT_EQ(FT_Close(handle), FT_OK);
    DWORD written = 0;
    const std::uint8_t byte = 5;
    EXPECT_EQ(FT_Write(handle, &byte, 1, &written), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(handle), FT_INVALID_HANDLE);
    int notAHandle = 0;
    EXPECT_EQ(FT_Purge(&notAHandle, FT_PURGE_RX), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(nullptr), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Open(0, nullptr), FT_INVALID_PARAMETER);
    EXPECT_TRUE(korvi::sim::GetSnapshot().vddHigh); // the refused write did nothing
    // Refused calls are in the call log all the same, with their status.
    std::vector<std::pair<std::string, FT_STATUS>> calls;
    for (const auto &record : korvi::sim::CallLog())
        calls.emplace_back(record.function, record.status);
    const std::vector<std::pair<std::string, FT_STATUS>> expected = {
        {"FT_Open", FT_OK},
        {"FT_Close", FT_OK},
        {"FT_Write", FT_INVALID_HANDLE},
        {"FT_Close", FT_INVALID_HANDLE},
        {"FT_Purge", FT_INVALID_HANDLE},
        {"FT_Close", FT_INVALID_HANDLE},
        {"FT_Open", FT_INVALID_PARAMETER},
    };
    EXPECT_EQ(calls, expected);
}

TEST_F(Ftd2xxSim, StateOutlivesOpenAndClose)
{
    ASSERT_EQ(korvi::test::Acknowledgement({52, 1, 2, 0}), 1); // two steps forward
    ASSERT_EQ(korvi::test::Acknowledgement({52, 1, 2, 0}), 1);
    EXPECT_EQ(korvi::sim::GetSnapshot().filterPosition, 5);
}

TEST_F(Ftd2xxSim, ShortReadWaitsOutTheScaledTimeoutAndReturnsWhatCame)
{
    FT_HANDLE handle = OpenOrFail();
    const ULONG timeoutMs = 2000; // 20 ms of real time at the tests' scale of 0.01
    ASSERT_EQ(FT_SetTimeouts(handle, timeoutMs, 300), FT_OK);
    const auto command = Words({31}); // temperature: a 2-byte reply
    DWORD written = 0;
    ASSERT_EQ(FT_Write(handle, command.data(), 2, &written), FT_OK);
    std::uint8_t reply[8] = {};
    DWORD got = 99;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FT_Read(handle, reply, sizeof reply, &got), FT_OK);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(got, 2u);
    EXPECT_GE(elapsed, korvi::ScaledMilliseconds(timeoutMs));
    EXPECT_LT(elapsed, korvi::ScaledMilliseconds(timeoutMs) + std::chrono::seconds(2));
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

TEST_F(Ftd2xxSim, ReadOfQueuedBytesDoesNotWait)
{
    FT_HANDLE handle = OpenOrFail();
    ASSERT_EQ(FT_SetTimeouts(handle, 3000000, 300), FT_OK); // would be 30 s of real time
    const auto command = Words({42});
    DWORD written = 0;
    ASSERT_EQ(FT_Write(handle, command.data(), 2, &written), FT_OK);
    std::uint8_t reply[2] = {};
    DWORD got = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FT_Read(handle, reply, 2, &got), FT_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

TEST_F(Ftd2xxSim, PurgeEmptiesQueuedReplyAndPartialCommand)
{
    FT_HANDLE handle = OpenOrFail();
    ASSERT_EQ(FT_SetTimeouts(handle, 10, 10), FT_OK);
    DWORD written = 0, rx = 0, tx = 0, event = 0;
    const auto battery = Words({42});
    ASSERT_EQ(FT_Write(handle, battery.data(), 2, &written), FT_OK);
    ASSERT_EQ(FT_GetStatus(handle, &rx, &tx, &event), FT_OK);
    EXPECT_EQ(rx, 2u);
    ASSERT_EQ(FT_Purge(handle, FT_PURGE_RX), FT_OK);
    ASSERT_EQ(FT_GetStatus(handle, &rx, &tx, &event), FT_OK);
    EXPECT_EQ(rx, 0u);

    // Half a target-temperature command, then a transmit purge: the half is forgotten, so the
    // next bytes start a new command.
    const std::uint8_t half[] = {30, 0};
    ASSERT_EQ(FT_Write(handle, half, 2, &written), FT_OK);
    ASSERT_EQ(FT_Purge(handle, FT_PURGE_TX), FT_OK);
    const auto coolerOn = Words({33});
    ASSERT_EQ(FT_Write(handle, coolerOn.data(), 2, &written), FT_OK);
    ExpectAcknowledgedAndClose(handle);
    const auto state = korvi::sim::GetSnapshot();
    EXPECT_TRUE(state.cameras[0].cooler.powered);
    EXPECT_DOUBLE_EQ(state.cameras[0].cooler.targetCelsius, 0.0);
}

TEST_F(Ftd2xxSim, ConfigurationCallsAreRecordedInThePortState)
{
    FT_HANDLE handle = OpenOrFail();
    EXPECT_EQ(FT_ResetDevice(handle), FT_OK);
    EXPECT_EQ(FT_SetBaudRate(handle, 115200), FT_OK);
    EXPECT_EQ(FT_SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);
    EXPECT_EQ(FT_SetDataCharacteristics(handle, 9, FT_STOP_BITS_1, FT_PARITY_NONE), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetFlowControl(handle, FT_FLOW_NONE, 0, 0), FT_OK);
    EXPECT_EQ(FT_SetChars(handle, 0, 0, 0, 1), FT_OK);
    EXPECT_EQ(FT_SetEventNotification(handle, 0, nullptr), FT_OK);
    EXPECT_EQ(FT_SetDtr(handle), FT_OK);
    EXPECT_EQ(FT_SetRts(handle), FT_OK);
    EXPECT_EQ(FT_ClrRts(handle), FT_OK);
    EXPECT_EQ(FT_SetTimeouts(handle, 3000, 1500), FT_OK);
    EXPECT_EQ(FT_SetUSBParameters(handle, 262144, 0), FT_OK);
    ULONG modem = 0;
    EXPECT_EQ(FT_GetModemStatus(handle, &modem), FT_OK);
    EXPECT_EQ(modem, 0x30u);
    const auto port = korvi::sim::GetSnapshot().port;
    EXPECT_TRUE(port.open);
    EXPECT_EQ(port.resets, 1u);
    EXPECT_EQ(port.baudRate, 115200u);
    EXPECT_EQ(port.wordLength, 8);
    EXPECT_EQ(port.flowControl, 0);
    EXPECT_TRUE(port.dtr);
    EXPECT_FALSE(port.rts);
    EXPECT_EQ(port.readTimeoutMs, 3000u);
    EXPECT_EQ(port.writeTimeoutMs, 1500u);
    EXPECT_EQ(port.inTransferSize, 262144u);
    EXPECT_EQ(FT_Close(handle), FT_OK);
    EXPECT_FALSE(korvi::sim::GetSnapshot().port.open);
}

TEST_F(Ftd2xxSim, CallLogHoldsArgumentsBytesAndStatuses)
{
    korvi::sim::ClearCallLog();
    const auto reply = Exchange(Words({31}), 2);
    ASSERT_EQ(reply.size(), 2u);
    const auto log = korvi::sim::CallLog();
    std::vector<std::string> names;
    for (const auto &record : log)
        names.push_back(record.function);
    EXPECT_EQ(names, (std::vector<std::string>{"FT_Open", "FT_Purge", "FT_SetTimeouts", "FT_Write", "FT_Read",
                                               "FT_Close"}));
    EXPECT_EQ(log[0].args, (std::vector<long long>{0}));
    EXPECT_EQ(log[1].args, (std::vector<long long>{3}));
    EXPECT_EQ(log[2].args, (std::vector<long long>{50, 3000}));
    EXPECT_EQ(log[3].written, (std::vector<std::uint8_t>{31, 0}));
    EXPECT_EQ(log[3].outputs, (std::vector<long long>{2}));
    EXPECT_EQ(log[4].args, (std::vector<long long>{2}));
    EXPECT_EQ(log[4].read, reply);
    EXPECT_EQ(log[4].outputs, (std::vector<long long>{2}));
    for (const auto &record : log) {
        EXPECT_EQ(record.status, FT_OK) << record.function;
        EXPECT_FALSE(record.injected);
    }
    EXPECT_EQ(korvi::sim::WrittenBlocks(), (std::vector<std::vector<std::uint8_t>>{{31, 0}}));
}

TEST_F(Ftd2xxSim, CallLogCanBeSwitchedOffAndIsBounded)
{
    auto config = MakeConfig();
    config.callLogLimit = 4;
    korvi::sim::Reset(config);
    Exchange(Words({33}), 1); // six calls
    auto log = korvi::sim::CallLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log.front().function, "FT_SetTimeouts"); // the two oldest dropped
    config.callLog = false;
    korvi::sim::Reset(config);
    Exchange(Words({33}), 1);
    EXPECT_TRUE(korvi::sim::CallLog().empty());
}

TEST_F(Ftd2xxSim, NoDeviceAndBusyFaultsRefuseTheOpen)
{
    korvi::sim::Faults faults;
    faults.noDevice = true;
    korvi::sim::SetFaults(faults);
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_FOUND);
    faults.noDevice = false;
    faults.busy = true;
    korvi::sim::SetFaults(faults);
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_OPENED);
    korvi::sim::ClearFaults();
    handle = OpenOrFail();
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

TEST_F(Ftd2xxSim, InjectedFailureHitsTheNthCallOfTheNamedFunctionOnly)
{
    korvi::sim::Faults faults;
    faults.failures.push_back({"FT_Write", 2, FT_IO_ERROR, false});
    korvi::sim::SetFaults(faults);
    EXPECT_EQ(korvi::test::Acknowledgement(Words({33})), 1); // first write passes
    korvi::sim::ClearCallLog();

    FT_HANDLE handle = OpenOrFail();
    ASSERT_EQ(FT_SetTimeouts(handle, 10, 10), FT_OK);
    const auto off = Words({34});
    DWORD written = 77;
    EXPECT_EQ(FT_Write(handle, off.data(), 2, &written), FT_IO_ERROR);
    EXPECT_EQ(written, 0u);
    DWORD got = 0;
    std::uint8_t ack = 0;
    EXPECT_EQ(FT_Read(handle, &ack, 1, &got), FT_OK);
    EXPECT_EQ(got, 0u);                                          // the failed write reached nobody
    EXPECT_EQ(FT_Write(handle, off.data(), 2, &written), FT_OK); // third write passes again
    EXPECT_EQ(FT_Close(handle), FT_OK);
    EXPECT_FALSE(korvi::sim::GetSnapshot().cameras[0].cooler.powered);

    const auto log = korvi::sim::CallLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[2].function, "FT_Write");
    EXPECT_EQ(log[2].status, FT_IO_ERROR);
    EXPECT_TRUE(log[2].injected);
}

TEST_F(Ftd2xxSim, InjectedFailureByOrdinalAmongAllCallsAndRepeating)
{
    korvi::sim::Faults faults;
    faults.failures.push_back({"", 2, FT_INSUFFICIENT_RESOURCES, false}); // the second call of any kind
    faults.failures.push_back({"FT_GetModemStatus", 1, FT_IO_ERROR, true});
    korvi::sim::SetFaults(faults);
    FT_HANDLE handle = OpenOrFail();
    EXPECT_EQ(FT_ResetDevice(handle), FT_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(FT_ResetDevice(handle), FT_OK);
    ULONG modem = 0;
    EXPECT_EQ(FT_GetModemStatus(handle, &modem), FT_IO_ERROR);
    EXPECT_EQ(FT_GetModemStatus(handle, &modem), FT_IO_ERROR);
    EXPECT_EQ(korvi::sim::GetSnapshot().port.resets, 1u);
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

TEST_F(Ftd2xxSim, InjectedFailureOfOpenAndCloseLeavesTheDeviceUsable)
{
    korvi::sim::Faults faults;
    faults.failures.push_back({"FT_Open", 1, FT_DEVICE_NOT_FOUND, false});
    faults.failures.push_back({"FT_Close", 1, FT_IO_ERROR, false});
    korvi::sim::SetFaults(faults);
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_FOUND);
    handle = OpenOrFail();
    EXPECT_EQ(FT_Close(handle), FT_IO_ERROR);
    handle = OpenOrFail(); // the failed close still let go of the device
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

TEST_F(Ftd2xxSim, RefusedTransferSize)
{
    korvi::sim::Faults faults;
    faults.refuseTransferSize = true;
    faults.transferSizeStatus = FT_INVALID_PARAMETER;
    korvi::sim::SetFaults(faults);
    FT_HANDLE handle = OpenOrFail();
    EXPECT_EQ(FT_SetUSBParameters(handle, 262144, 0), FT_INVALID_PARAMETER);
    EXPECT_EQ(korvi::sim::GetSnapshot().port.inTransferSize, 0u);
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

TEST_F(Ftd2xxSim, ResetDropsAnOpenLink)
{
    FT_HANDLE handle = OpenOrFail();
    korvi::sim::Reset(MakeConfig());
    EXPECT_EQ(FT_ResetDevice(handle), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(handle), FT_INVALID_HANDLE); // the layer forgets the handle all the same
    FT_HANDLE again = OpenOrFail();
    EXPECT_EQ(FT_Close(again), FT_OK);
}

TEST_F(Ftd2xxSim, TwoThreadsOpeningAtOnceOneGetsBusy)
{
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> ready{0};
        FT_STATUS results[2] = {};
        FT_HANDLE handles[2] = {};
        auto opener = [&](int i) {
            ++ready;
            while (ready < 2) {
            }
            results[i] = FT_Open(0, &handles[i]);
        };
        std::thread a(opener, 0), b(opener, 1);
        a.join();
        b.join();
        const int opened = (results[0] == FT_OK) + (results[1] == FT_OK);
        const int busy = (results[0] == FT_DEVICE_NOT_OPENED) + (results[1] == FT_DEVICE_NOT_OPENED);
        ASSERT_EQ(opened, 1);
        ASSERT_EQ(busy, 1);
        EXPECT_EQ(FT_Close(results[0] == FT_OK ? handles[0] : handles[1]), FT_OK);
    }
}

// Without KORVICOM_DEVICE=simulator the layer looks for real FTDI devices on USB and never
// reaches the simulator. (No FT245 is attached where the tests run; one that is attached but
// held by another program is refused as well.)
TEST_F(Ftd2xxSim, WithoutTheSimulatorSettingTheRealBackendIsAsked)
{
    const std::string saved = std::getenv("KORVICOM_DEVICE") ? std::getenv("KORVICOM_DEVICE") : "";
    unsetenv("KORVICOM_DEVICE");
    korvi::sim::ClearCallLog();
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(0x1234);
    const FT_STATUS status = FT_Open(57, &handle); // no system has 58 FTDI devices
    if (!saved.empty())
        setenv("KORVICOM_DEVICE", saved.c_str(), 1);
    EXPECT_EQ(status, FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, reinterpret_cast<FT_HANDLE>(0x1234));
    EXPECT_TRUE(korvi::sim::CallLog().empty());
}

} // namespace
