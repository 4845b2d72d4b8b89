// The controller's short commands: exact bytes on the wire, the time-out of each exchange, the
// acknowledgement and reply handling, and what the controller did with them.
#include <functional>
#include <string>

#include "korvicom_wire.h"
#include "time_scale.h"

namespace korvi::test
{
namespace
{

using KorvicomCommands = KorvicomWire;

struct QuickCase {
    const char *name;
    std::function<int()> call;
    Bytes wire;
    int readTimeoutMs;
};

TEST_F(KorvicomCommands, EachQuickCommandWritesItsBytesWithItsTimeOut)
{
    const QuickCase cases[] = {
        {"clock 0 on", [] { return _TestClocks(0, 0, 1, RecordStatus); }, MakeBytes({0x0B, 0x00}), 5000},
        {"clock 1 on, guiding", [] { return _TestClocks(1, 1, 1, RecordStatus); }, MakeBytes({0x0C, 0x01}),
         5000},
        {"clocks off", [] { return _TestClocks(1, 1, 0, RecordStatus); }, MakeBytes({0x00, 0x00}), 5000},
        {"clocks off, flag 0x100", [] { return _TestClocks(0, 1, 0x100, RecordStatus); }, MakeBytes({0, 0}),
         5000},
        {"clear horizontal", [] { return _ClearHReg(1, 0x1234, 70000, RecordStatus); },
         MakeBytes({0x03, 0x01, 0x34, 0x12, 0x70, 0x11}), 30000},
        {"clear vertical", [] { return _ClearVCCD(0, 512, 768, RecordStatus); },
         MakeBytes({0x04, 0x00, 0x00, 0x02, 0x00, 0x03}), 30000},
        {"vdd high", [] { return _Vdd_Set_High(RecordStatus); }, MakeBytes({5}), 5000},
        {"vdd low", [] { return _Vdd_Set_Low(RecordStatus); }, MakeBytes({6}), 5000},
        {"power up", [] { return _ControllerPowerup(RecordStatus); }, MakeBytes({40}), 5000},
        {"power down", [] { return _ControllerPowerdown(RecordStatus); }, MakeBytes({41}), 5000},
        {"target -15", [] { return _CCDSendTargetTemp(0, -15, RecordStatus); },
         MakeBytes({0x1E, 0x00, 0xE0, 0x01}), 5000},
        {"target -20 guiding", [] { return _CCDSendTargetTemp(1, -20, RecordStatus); },
         MakeBytes({0x1E, 0x01, 0xAE, 0x01}), 5000},
        {"target 0", [] { return _CCDSendTargetTemp(0, 0, RecordStatus); },
         MakeBytes({0x1E, 0x00, 0x76, 0x02}), 5000},
        {"target -70 wraps", [] { return _CCDSendTargetTemp(0, -70, RecordStatus); },
         MakeBytes({0x1E, 0x00, 0xBA, 0xFF}), 5000},
        {"cooler on", [] { return _CCDTESupplyOn(1, RecordStatus); }, MakeBytes({0x21, 0x01}), 5000},
        {"cooler off", [] { return _CCDTESupplyOff(0, RecordStatus); }, MakeBytes({0x22, 0x00}), 5000},
        {"lcd on", [] { return _LCD_CCD2Display(1, RecordStatus); }, MakeBytes({0x24, 0x01}), 5000},
        {"lcd off", [] { return _LCD_CCD2Display(0, RecordStatus); }, MakeBytes({0x24, 0x00}), 5000},
        {"wheel supply on", [] { return _FiltWheelSupplyOn(RecordStatus); }, MakeBytes({43}), 5000},
        {"wheel back 2", [] { return _StepFilterWheel(2, 0, RecordStatus); },
         MakeBytes({0x34, 0x00, 0x02, 0x00}), 5000},
        {"wheel forward 2", [] { return _StepFilterWheel(2, 1, RecordStatus); },
         MakeBytes({0x34, 0x01, 0x02, 0x00}), 5000},
        {"wheel supply off", [] { return _FiltWheelSupplyOff(RecordStatus); }, MakeBytes({44}), 5000},
        {"slew east", [] { return _Slew(1, 0, 0, 0, 0, 0, 0, RecordStatus); }, MakeBytes({0x14, 0x01}), 5000},
        {"slew stop", [] { return _Slew(0, 0, 0, 0, 0, 0, 0, RecordStatus); }, MakeBytes({0x14, 0x00}), 5000},
    };
    for (const QuickCase &c : cases) {
        SCOPED_TRACE(c.name);
        sim::ClearCallLog();
        ReportedStatuses().clear();
        EXPECT_EQ(c.call(), static_cast<int>(c.wire.size()));
        EXPECT_EQ(sim::WrittenBlocks(), std::vector<Bytes>{c.wire});
        EXPECT_EQ(ExchangeTimeouts(), (std::vector<long long>{c.readTimeoutMs, 3000}));
        EXPECT_EQ(ReadRequests(), std::vector<long long>{1});
        EXPECT_TRUE(ReportedStatuses().empty());
    }
}

TEST_F(KorvicomCommands, QuickCommandsReturnMinusOneWithoutTheAcknowledgementOne)
{
    sim::Faults refused;
    refused.acknowledgeByte = 2;
    Inject(refused);
    EXPECT_EQ(_CCDTESupplyOn(0, RecordStatus), -1);
    EXPECT_EQ(_StepFilterWheel(1, 1, RecordStatus), -1);
    EXPECT_EQ(_ClearVCCD(0, 10, 10, RecordStatus), -1);
    EXPECT_TRUE(ReportedStatuses().empty());
}

TEST_F(KorvicomCommands, ControllerCarriesOutWhatWasSent)
{
    ASSERT_EQ(_CCDSendTargetTemp(1, -15, RecordStatus), 4);
    ASSERT_EQ(_CCDTESupplyOn(1, RecordStatus), 2);
    ASSERT_EQ(_StepFilterWheel(2, 1, RecordStatus), 4);
    ASSERT_EQ(_StepFilterWheel(3, 0, RecordStatus), 4);
    ASSERT_EQ(_LCD_CCD2Display(1, RecordStatus), 2);
    ASSERT_EQ(_ControllerPowerdown(RecordStatus), 1);
    ASSERT_EQ(_Vdd_Set_Low(RecordStatus), 1);
    const sim::Snapshot state = sim::GetSnapshot();
    EXPECT_DOUBLE_EQ(state.cameras[1].cooler.targetCelsius, -15.0);
    EXPECT_TRUE(state.cameras[1].cooler.powered);
    EXPECT_FALSE(state.cameras[0].cooler.powered);
    EXPECT_EQ(state.filterPosition, 6); // 1 + 2 - 3, wrapping round six positions
    EXPECT_TRUE(state.lcdEnabled);
    EXPECT_TRUE(state.standby);
    EXPECT_FALSE(state.vddHigh);
}

TEST_F(KorvicomCommands, ClockTestAcceptsOnlyTheTwoClocks)
{
    sim::ClearCallLog();
    for (int clock : {2, -1, -9, 19, 245})
        EXPECT_EQ(_TestClocks(clock, 0, 1, RecordStatus), -1) << clock;
    EXPECT_TRUE(sim::CallLog().empty());
    // Stopping needs no clock, so any clock stops.
    EXPECT_EQ(_TestClocks(1, 1, 1, RecordStatus), 2);
    EXPECT_EQ(sim::GetSnapshot().clockTestClock, 1);
    EXPECT_EQ(_TestClocks(7, 0, 0, RecordStatus), 2);
    EXPECT_EQ(sim::GetSnapshot().clockTestCamera, -1);
}

struct TemperatureCase {
    double celsius;  // the cooler's temperature in the simulated controller
    int replyWord;   // what the controller sends for it
    double expected; // what the library gives back
};

TEST_F(KorvicomCommands, TemperatureReplyWordIsConverted)
{
    const TemperatureCase cases[] = {
        {-20.0, 440, -20.0}, {0.0, 640, 0.0}, {12.3, 763, 12.3}, {-64.0, 0, -64.0}};
    for (const TemperatureCase &c : cases) {
        SCOPED_TRACE(c.celsius);
        sim::SetCoolerTemperature(1, c.celsius);
        sim::ClearCallLog();
        EXPECT_NEAR(static_cast<double>(_CCD_GetTemperature(1, RecordStatus)), c.expected, 1e-12);
        EXPECT_EQ(sim::WrittenBlocks(), std::vector<Bytes>{MakeBytes({0x1F, 0x01})});
        const auto reads = CallsOf("FT_Read");
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0].args, std::vector<long long>{2}); // no acknowledgement byte
        EXPECT_EQ(reads[0].read, MakeBytes({c.replyWord & 0xFF, c.replyWord >> 8}));
        EXPECT_EQ(ExchangeTimeouts(), (std::vector<long long>{3000, 3000}));
    }
    EXPECT_TRUE(ReportedStatuses().empty());
}

// A silent controller's -64.0 is no reading: the missing reply is reported as a failed read.
TEST_F(KorvicomCommands, MissingTemperatureReplyIsReportedAsALinkError)
{
    sim::Faults faults;
    faults.noReply = true;
    Inject(faults);
    EXPECT_EQ(_CCD_GetTemperature(0, RecordStatus), -64.0L);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_IO_ERROR});
    ReportedStatuses().clear();
    sim::ClearFaults();
    FailCall("FT_Read", 1, FT_IO_ERROR);
    EXPECT_EQ(_CCD_GetTemperature(0, RecordStatus), -64.0L);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_IO_ERROR});
}

TEST_F(KorvicomCommands, BatteryReplyWordIsConverted)
{
    sim::SetBatteryVolts(213.0 / 17.77);
    EXPECT_EQ(_ReadBatteryVolts(RecordStatus), 213.0L * 0.056274620146314014L);
    EXPECT_NEAR(static_cast<double>(_ReadBatteryVolts(RecordStatus)), 11.9865, 1e-4);
    EXPECT_EQ(sim::WrittenBlocks().back(), MakeBytes({0x2A, 0x00}));
    EXPECT_EQ(ExchangeTimeouts(), (std::vector<long long>{3000, 3000}));

    EXPECT_TRUE(ReportedStatuses().empty());
    sim::Faults faults;
    faults.noReply = true;
    Inject(faults);
    EXPECT_EQ(_ReadBatteryVolts(RecordStatus), 0.0L);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_IO_ERROR});
    ReportedStatuses().clear();
    sim::ClearFaults();
    faults = {};
    faults.noDevice = true;
    Inject(faults);
    EXPECT_EQ(_ReadBatteryVolts(RecordStatus), 0.0L);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_DEVICE_NOT_FOUND});
}

TEST_F(KorvicomCommands, ShutterSendsOneByteAndWaitsAfterClosing)
{
    _Shutter(1, RecordStatus);
    EXPECT_TRUE(sim::GetSnapshot().shutterOpen);
    const double start = korvi::ScaledNow();
    _Shutter(0x100, RecordStatus); // low byte 0: close
    EXPECT_GE(korvi::ScaledNow() - start, 0.010);
    EXPECT_FALSE(sim::GetSnapshot().shutterOpen);
    EXPECT_EQ(sim::WrittenBlocks(), (std::vector<Bytes>{MakeBytes({50}), MakeBytes({51})}));
    EXPECT_EQ(ExchangeTimeouts(), (std::vector<long long>{5000, 3000}));
}

struct SlewCase {
    const char *name;
    int east, west, north, south, swapEastWest, swapNorthSouth;
    int bits;
};

TEST_F(KorvicomCommands, SlewDirectionsCancelSwapAndPack)
{
    const SlewCase cases[] = {
        {"east west cancel", 1, 1, 1, 0, 0, 0, 4},   {"swapped north", 1, 1, 1, 0, 0, 1, 8},
        {"swap east west", 1, 0, 0, 1, 1, 0, 2 | 8}, {"both swaps", 0, 1, 1, 0, 1, 1, 1 | 8},
        {"all four cancel", 1, 1, 1, 1, 1, 1, 0},    {"flags on low byte", 0x101, 0x200, 0, 0, 0, 0, 1},
    };
    for (const SlewCase &c : cases) {
        SCOPED_TRACE(c.name);
        sim::ClearCallLog();
        EXPECT_EQ(_Slew(c.east, c.west, c.north, c.south, 0, c.swapEastWest, c.swapNorthSouth, RecordStatus),
                  2);
        EXPECT_EQ(sim::WrittenBlocks(), std::vector<Bytes>{MakeBytes({0x14, c.bits})});
        EXPECT_EQ(sim::GetSnapshot().slewBits, c.bits);
    }
}

TEST_F(KorvicomCommands, SlewThroughTheDriveControllerSendsSubCommandEleven)
{
    EXPECT_EQ(_Slew(1, 0, 1, 0, 1, 0, 0, RecordStatus), 0); // closing status of the exchange
    EXPECT_EQ(sim::WrittenBlocks(),
              std::vector<Bytes>{MakeBytes({0x5A, 0x0B, 0x02, 0x00, 0x00, 0x00, 0x05, 0x00})});
    EXPECT_TRUE(ReadRequests().empty());
    EXPECT_EQ(ExchangeTimeouts(), (std::vector<long long>{30000, 30000}));
    EXPECT_EQ(sim::GetSnapshot().slewBits, 5);
}

TEST_F(KorvicomCommands, TextIsPackedTwoCharactersAWordAndCappedAtThirtyTwo)
{
    auto sent = [](const char *text) {
        sim::ClearCallLog();
        _SendText(text, RecordStatus);
        const auto blocks = sim::WrittenBlocks();
        return blocks.size() == 1 ? blocks[0] : Bytes{};
    };
    Bytes expected(34, 0);
    expected[0] = 64;
    expected[2] = 'A';
    expected[3] = 'B';
    EXPECT_EQ(sent("AB"), expected);
    EXPECT_EQ(sim::GetSnapshot().lcdText, "AB");
    EXPECT_EQ(ExchangeTimeouts(), (std::vector<long long>{5000, 3000}));

    expected[4] = 'C'; // odd length: the last character pairs with the terminating zero
    EXPECT_EQ(sent("ABC"), expected);

    const std::string longText = "0123456789abcdefghijklmnopqrstuvwxyz";
    Bytes capped(34, 0);
    capped[0] = 64;
    for (int i = 0; i < 32; ++i)
        capped[2 + i] = static_cast<std::uint8_t>(longText[i]);
    EXPECT_EQ(sent(longText.c_str()), capped);

    Bytes high(34, 0);
    high[0] = 64;
    high[2] = 0xE9;
    high[3] = 0xFF;
    EXPECT_EQ(sent("\xE9\xFF"), high);

    Bytes empty(34, 0);
    empty[0] = 64;
    EXPECT_EQ(sent(""), empty);
    EXPECT_EQ(sent(nullptr), empty);
    EXPECT_TRUE(ReportedStatuses().empty());
}

TEST_F(KorvicomCommands, DeviceStatusWithNothingQueuedIsZeroAndReadsNothing)
{
    EXPECT_EQ(_CheckDeviceStatus(RecordStatus), 0);
    EXPECT_TRUE(sim::WrittenBlocks().empty());
    EXPECT_EQ(CallsOf("FT_GetStatus").size(), 1u);
    EXPECT_TRUE(ReadRequests().empty());
    EXPECT_EQ(ExchangeTimeouts(), (std::vector<long long>{3000, 3000}));
    EXPECT_EQ(CallNames().back(), "FT_Close");

    FailCall("FT_GetStatus", 1, FT_IO_ERROR);
    EXPECT_EQ(_CheckDeviceStatus(RecordStatus), 0);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_IO_ERROR});
    EXPECT_EQ(CallNames().back(), "FT_Close");
}

TEST_F(KorvicomCommands, DeviceStatusReadsTheWordTheControllerHolds)
{
    sim::Faults faults;
    faults.unsolicited = MakeBytes({0x34, 0x12});
    Inject(faults);
    EXPECT_EQ(_CheckDeviceStatus(RecordStatus), 0x1234);
    EXPECT_TRUE(sim::WrittenBlocks().empty());
    EXPECT_EQ(ReadRequests(), std::vector<long long>{2});
    EXPECT_EQ(CallNames().back(), "FT_Close");
    EXPECT_TRUE(ReportedStatuses().empty());

    // A failing read is reported and gives no word.
    faults.failures.push_back({"FT_Read", 1, FT_IO_ERROR, false});
    Inject(faults);
    EXPECT_EQ(_CheckDeviceStatus(RecordStatus), 0);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_IO_ERROR});
    EXPECT_EQ(CallNames().back(), "FT_Close");
}

} // namespace
} // namespace korvi::test
