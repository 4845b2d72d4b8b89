// The link every korvicom call is built on: the open and configure sequence, the quick command
// and its acknowledgement, which driver failures reach the callback, busy devices and the delay.
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "korvicom_wire.h"
#include "time_scale.h"

namespace korvi::test
{
namespace
{

using KorvicomLink = KorvicomWire;

TEST_F(KorvicomLink, OneCommandOpensConfiguresExchangesAndCloses)
{
    ASSERT_EQ(_Vdd_Set_High(RecordStatus), 1);
    const std::vector<std::string> expected = {
        "FT_Open",
        "FT_ResetDevice",
        "FT_SetBaudRate",
        "FT_SetDataCharacteristics",
        "FT_SetFlowControl",
        "FT_SetChars",
        "FT_SetEventNotification",
        "FT_SetDtr",
        "FT_SetRts",
        "FT_SetTimeouts",
        "FT_Purge",
        "FT_GetModemStatus",
        "FT_Purge",
        "FT_SetTimeouts",
        "FT_Purge",
        "FT_Write",
        "FT_Read",
        "FT_Close",
    };
    EXPECT_EQ(CallNames(), expected);
    const auto log = sim::CallLog();
    ASSERT_EQ(log.size(), expected.size());
    EXPECT_EQ(log[0].args, (std::vector<long long>{0}));          // device index 0
    EXPECT_EQ(log[2].args, (std::vector<long long>{115200}));     // baud rate
    EXPECT_EQ(log[3].args, (std::vector<long long>{8, 0, 0}));    // 8 data bits, 1 stop bit, no parity
    EXPECT_EQ(log[4].args, (std::vector<long long>{0, 0, 0}));    // no flow control
    EXPECT_EQ(log[5].args, (std::vector<long long>{0, 0, 0, 1})); // error character enabled
    EXPECT_EQ(log[6].args, (std::vector<long long>{0}));          // no events
    EXPECT_EQ(log[9].args, (std::vector<long long>{300, 300}));   // configuration time-outs
    for (int purge : {10, 12, 14})
        EXPECT_EQ(log[purge].args, (std::vector<long long>{3})) << purge; // both queues
    EXPECT_EQ(log[13].args, (std::vector<long long>{5000, 3000}));        // the command's own time-outs
    EXPECT_EQ(log[15].written, MakeBytes({0x05}));
    EXPECT_EQ(log[16].args, (std::vector<long long>{1}));
    EXPECT_TRUE(ReportedStatuses().empty());
    const sim::Snapshot state = sim::GetSnapshot();
    EXPECT_FALSE(state.port.open);
    EXPECT_TRUE(state.port.dtr);
    EXPECT_TRUE(state.port.rts);
}

TEST_F(KorvicomLink, QuickCommandReturnsTheBytesWrittenOnlyWhenAcknowledgedWithOne)
{
    const std::uint16_t words[3] = {0x0004, 10, 20};
    EXPECT_EQ(_FT_USB_SendQuickCmd(words, 6, 700, RecordStatus), 6);
    EXPECT_EQ(ExchangeTimeouts(), (std::vector<long long>{700, 3000}));

    sim::Faults refused;
    refused.acknowledgeByte = 2;
    Inject(refused);
    EXPECT_EQ(_FT_USB_SendQuickCmd(words, 6, 700, RecordStatus), -1);

    sim::Faults silent;
    silent.noAcknowledge = true;
    Inject(silent);
    EXPECT_EQ(_FT_USB_SendQuickCmd(words, 6, 700, RecordStatus), -1);
    // A read that times out is no driver failure: nothing reported.
    EXPECT_TRUE(ReportedStatuses().empty());
    EXPECT_EQ(CallsOf("FT_Read").at(0).outputs, (std::vector<long long>{0}));
}

TEST_F(KorvicomLink, QuickCommandRefusesANegativeCountWithoutTouchingTheDevice)
{
    const std::uint16_t word = 5;
    sim::ClearCallLog();
    EXPECT_EQ(_FT_USB_SendQuickCmd(&word, -2, 5000, RecordStatus), -1);
    EXPECT_EQ(_FT_USB_SendQuickCmd(nullptr, 2, 5000, RecordStatus), -1);
    EXPECT_TRUE(sim::CallLog().empty());
}

TEST_F(KorvicomLink, OpenFailureIsReportedOnceAndNothingElseIsIssued)
{
    sim::Faults faults;
    faults.noDevice = true;
    Inject(faults);
    EXPECT_EQ(_CCDTESupplyOn(0, RecordStatus), -1);
    EXPECT_EQ(ReportedStatuses(), (std::vector<int>{FT_DEVICE_NOT_FOUND}));
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"FT_Open"}));

    faults = {};
    faults.busy = true;
    Inject(faults);
    ReportedStatuses().clear();
    EXPECT_EQ(_CCD_GetTemperature(0, RecordStatus), -64.0L);
    EXPECT_EQ(ReportedStatuses(), (std::vector<int>{FT_DEVICE_NOT_OPENED}));
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"FT_Open"}));
}

TEST_F(KorvicomLink, NullCallbackMeansNoReport)
{
    sim::Faults faults;
    faults.noDevice = true;
    Inject(faults);
    EXPECT_EQ(_FiltWheelSupplyOn(nullptr), -1);
    FailCall("FT_Write", 1, FT_IO_ERROR);
    EXPECT_EQ(_FiltWheelSupplyOn(nullptr), -1);
    EXPECT_EQ(CallsOf("FT_Write").at(0).status, FT_IO_ERROR);
}

// A failing reset is reported by the configuration and again by the link opener; the device is
// released so the next call can open it.
TEST_F(KorvicomLink, FailedResetIsReportedTwiceAndTheDeviceIsReleased)
{
    FailCall("FT_ResetDevice", 1, FT_IO_ERROR);
    EXPECT_EQ(_Vdd_Set_Low(RecordStatus), -1);
    EXPECT_EQ(ReportedStatuses(), (std::vector<int>{FT_IO_ERROR, FT_IO_ERROR}));
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"FT_Open", "FT_ResetDevice", "FT_Close"}));
    EXPECT_FALSE(sim::GetSnapshot().port.open);

    ReportedStatuses().clear();
    EXPECT_EQ(_Vdd_Set_Low(RecordStatus), 1);
    EXPECT_TRUE(ReportedStatuses().empty());
}

// Set-up steps whose failure makes the open fail: reported once (by the link opener), the device
// closed, no command sent.
TEST_F(KorvicomLink, FailedSetUpStepClosesTheDeviceAndReportsOnce)
{
    for (const char *function : {"FT_SetBaudRate", "FT_SetDataCharacteristics", "FT_SetFlowControl",
                                 "FT_SetChars", "FT_GetModemStatus"}) {
        SCOPED_TRACE(function);
        ReportedStatuses().clear();
        FailCall(function, 1, FT_INSUFFICIENT_RESOURCES);
        EXPECT_EQ(_ControllerPowerup(RecordStatus), -1);
        EXPECT_EQ(ReportedStatuses(), (std::vector<int>{FT_INSUFFICIENT_RESOURCES}));
        const auto names = CallNames();
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(names.back(), "FT_Close");
        EXPECT_EQ(CallsOf("FT_Write").size(), 0u);
        EXPECT_FALSE(sim::GetSnapshot().port.open);
    }
    // Later steps are skipped once one failed.
    FailCall("FT_SetBaudRate", 1, FT_IO_ERROR);
    _ControllerPowerup(RecordStatus);
    EXPECT_EQ(CallNames(),
              (std::vector<std::string>{"FT_Open", "FT_ResetDevice", "FT_SetBaudRate", "FT_Close"}));
}

struct IgnoredFailure {
    const char *function;
    int ordinal;
};

// Failures that cannot spoil the exchange are not reported; the command still goes through.
TEST_F(KorvicomLink, FailuresOfHarmlessCallsAreIgnored)
{
    const IgnoredFailure cases[] = {
        {"FT_SetEventNotification", 1},
        {"FT_SetDtr", 1},
        {"FT_SetRts", 1},
        {"FT_SetTimeouts", 1}, // the configuration's 300 ms
        {"FT_Purge", 1},       // the configuration's purge
        {"FT_Purge", 3},       // the link's second purge
        {"FT_Close", 1},
    };
    for (const IgnoredFailure &c : cases) {
        SCOPED_TRACE(std::string(c.function) + " #" + std::to_string(c.ordinal));
        ReportedStatuses().clear();
        FailCall(c.function, c.ordinal, FT_IO_ERROR);
        EXPECT_EQ(_FiltWheelSupplyOff(RecordStatus), 1);
        EXPECT_TRUE(ReportedStatuses().empty());
        EXPECT_EQ(sim::WrittenBlocks(), (std::vector<Bytes>{MakeBytes({44})}));
    }
}

// Failures of the exchange proper are reported once each and the exchange carries on.
TEST_F(KorvicomLink, FailuresOfTheExchangeAreReportedAndTheExchangeCarriesOn)
{
    struct Case {
        const char *function;
        int ordinal;
        int result;
        std::size_t reads;
    };
    const Case cases[] = {
        {"FT_Purge", 2, 2, 1},       // the link's first purge
        {"FT_SetTimeouts", 2, 2, 1}, // the exchange's time-outs
        {"FT_Write", 1, -1, 0},      // the command never arrives: no acknowledgement is waited for
        {"FT_Read", 1, -1, 1},       // the acknowledgement is lost
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.function) + " #" + std::to_string(c.ordinal));
        ReportedStatuses().clear();
        FailCall(c.function, c.ordinal, FT_IO_ERROR);
        EXPECT_EQ(_CCDTESupplyOff(1, RecordStatus), c.result);
        EXPECT_EQ(ReportedStatuses(), (std::vector<int>{FT_IO_ERROR}));
        const auto names = CallNames();
        EXPECT_EQ(CallsOf("FT_Write").size(), 1u);
        EXPECT_EQ(CallsOf("FT_Read").size(), c.reads);
        EXPECT_EQ(names.back(), "FT_Close");
    }
}

// The device is unplugged between the command and its acknowledgement: the read failure is
// reported, the failing close is not, and the command reports no acknowledgement.
TEST_F(KorvicomLink, DeviceGoneAfterTheWriteGivesMinusOneAndOneReport)
{
    sim::Faults faults;
    faults.failures.push_back({"FT_Read", 1, FT_IO_ERROR, true});
    faults.failures.push_back({"FT_Close", 1, FT_IO_ERROR, true});
    Inject(faults);
    EXPECT_EQ(_StepFilterWheel(1, 1, RecordStatus), -1);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_IO_ERROR});
    EXPECT_EQ(CallNames().back(), "FT_Close");
    EXPECT_FALSE(sim::GetSnapshot().port.open);
}

TEST_F(KorvicomLink, OverlappingCallFindsTheDeviceBusyAndReportsIt)
{
    // The first call holds the device while it waits out a missing acknowledgement.
    sim::Faults faults;
    faults.noAcknowledge = true;
    Inject(faults);
    std::atomic<int> firstResult{0};
    std::atomic<std::size_t> firstReports{99};
    std::thread first([&] {
        firstResult = _ClearVCCD(0, 1032, 1565, RecordStatus);
        firstReports = ReportedStatuses().size();
    });
    while (!sim::GetSnapshot().port.open)
        std::this_thread::yield();
    const int second = _ClearVCCD(0, 1032, 1565, RecordStatus);
    first.join();
    EXPECT_EQ(second, -1);
    EXPECT_EQ(ReportedStatuses(), (std::vector<int>{FT_DEVICE_NOT_OPENED}));
    EXPECT_EQ(firstResult, -1); // no acknowledgement, but no driver failure either
    EXPECT_EQ(firstReports, 0u);
    EXPECT_EQ(sim::GetSnapshot().cameras[0].clears, 1u);

    sim::ClearFaults();
    ReportedStatuses().clear();
    EXPECT_EQ(_ClearVCCD(0, 1032, 1565, RecordStatus), 6);
    EXPECT_TRUE(ReportedStatuses().empty());
}

TEST_F(KorvicomLink, CameraArgumentEntersTheParameterByteByItsLowByteOnly)
{
    _CCDTESupplyOn(1, RecordStatus);
    _CCDTESupplyOn(257, RecordStatus);
    _CCDTESupplyOn(-255, RecordStatus); // 0xFFFFFF01
    const auto blocks = sim::WrittenBlocks();
    ASSERT_EQ(blocks.size(), 3u);
    for (const Bytes &block : blocks)
        EXPECT_EQ(block, MakeBytes({0x21, 0x01}));
}

TEST(KorvicomDelay, SpinsAtLeastTheGivenProcessTime)
{
    for (float ms : {1.0f, 10.0f, 25.0f}) {
        const double start = korvi::ScaledNow();
        _Delay(ms);
        EXPECT_GE(korvi::ScaledNow() - start, ms * 0.001) << ms;
    }
}

TEST(KorvicomDelay, NothingToWaitReturnsAtOnce)
{
    const float nothing[] = {0.0f, -50.0f, std::numeric_limits<float>::quiet_NaN()};
    const double start = korvi::ScaledNow();
    for (float ms : nothing)
        _Delay(ms);
    EXPECT_LT(korvi::ScaledNow() - start, 0.5);
}

TEST_F(KorvicomLink, DelayTouchesNoDevice)
{
    sim::ClearCallLog();
    _Delay(2.0f);
    EXPECT_TRUE(sim::CallLog().empty());
}

} // namespace
} // namespace korvi::test
