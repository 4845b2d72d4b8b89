// The simulated controller on the wire: the bytes each command block brings back and what it
// does to the device, as korvicom sends them.
#include "sim_wire.h"
#include "simulator/sim_control.h"

#include <gtest/gtest.h>

#include "time_scale.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

namespace
{

using korvi::test::Acknowledgement;
using korvi::test::Exchange;
using korvi::test::WordAt;
using korvi::test::Words;
using Bytes = std::vector<std::uint8_t>;

class SimProtocol : public korvi::test::SimulatorTest
{
};

// Every quick command answers one byte 1; the table gives the block and the state it leaves.
struct QuickCase {
    const char *name;
    Bytes command;
    bool (*check)(const korvi::sim::Snapshot &);
};

TEST_F(SimProtocol, QuickCommandsAcknowledgeAndChangeState)
{
    const QuickCase cases[] = {
        {"vdd low", {6}, [](const korvi::sim::Snapshot &s) { return !s.vddHigh; }},
        {"power down", {41}, [](const korvi::sim::Snapshot &s) { return s.standby; }},
        {"wheel supply off", {44}, [](const korvi::sim::Snapshot &s) { return !s.filterWheelPowered; }},
        {"shutter open", {50}, [](const korvi::sim::Snapshot &s) { return s.shutterOpen; }},
        {"lcd on", Words({0x0124}), [](const korvi::sim::Snapshot &s) { return s.lcdEnabled; }},
        {"cooler on guiding",
         {0x21, 0x01},
         [](const korvi::sim::Snapshot &s) { return s.cameras[1].cooler.powered; }},
        {"clock test 1 guiding", Words({0x010C}),
         [](const korvi::sim::Snapshot &s) { return s.clockTestCamera == 1 && s.clockTestClock == 1; }},
        {"clear vertical", Words({0x0004, 512, 768}),
         [](const korvi::sim::Snapshot &s) {
             return s.cameras[0].clears == 1 && s.cameras[0].lastClearRows == 512 &&
                    s.cameras[0].lastClearColumns == 768;
         }},
        {"clear horizontal", Words({0x0103, 1, 2}),
         [](const korvi::sim::Snapshot &s) { return s.cameras[1].horizontalClears == 1; }},
        {"target -15", Words({0x001E, 480}),
         [](const korvi::sim::Snapshot &s) { return s.cameras[0].cooler.targetCelsius == -15.0; }},
        {"slew north", Words({0x0414}), [](const korvi::sim::Snapshot &s) { return s.slewBits == 4; }},
    };
    for (const QuickCase &c : cases) {
        SCOPED_TRACE(c.name);
        korvi::sim::Reset(MakeConfig());
        EXPECT_EQ(Exchange(c.command, 2), Bytes{1}); // exactly one byte comes back
        const auto state = korvi::sim::GetSnapshot();
        EXPECT_TRUE(c.check(state));
        EXPECT_EQ(state.lastCommand, c.command);
    }
}

TEST_F(SimProtocol, OneByteCommandsAreNotMistakenForTwo)
{
    // Vdd low and power up sent back to back in one write: two commands, two acknowledgements.
    EXPECT_EQ(Exchange({6, 40}, 2), (Bytes{1, 1}));
    const auto state = korvi::sim::GetSnapshot();
    EXPECT_FALSE(state.vddHigh);
    EXPECT_FALSE(state.standby);
    EXPECT_EQ(state.commands, 2u);
}

TEST_F(SimProtocol, CommandSplitOverTwoWritesIsJoined)
{
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    ASSERT_EQ(FT_SetTimeouts(handle, 10, 10), FT_OK);
    DWORD written = 0;
    const Bytes first = {52, 0}, second = {1, 0}; // one step backward
    ASSERT_EQ(FT_Write(handle, first.data(), 2, &written), FT_OK);
    EXPECT_EQ(korvi::sim::GetSnapshot().commands, 0u);
    ASSERT_EQ(FT_Write(handle, second.data(), 2, &written), FT_OK);
    ASSERT_EQ(FT_Close(handle), FT_OK);
    EXPECT_EQ(korvi::sim::GetSnapshot().filterPosition, 6);
}

TEST_F(SimProtocol, StopClocksWordEndsTheClockTest)
{
    ASSERT_EQ(Acknowledgement(Words({0x000B})), 1);
    EXPECT_EQ(korvi::sim::GetSnapshot().clockTestClock, 0);
    ASSERT_EQ(Acknowledgement(Words({0})), 1);
    EXPECT_EQ(korvi::sim::GetSnapshot().clockTestCamera, -1);
}

TEST_F(SimProtocol, UnknownOpcodeIsDroppedWithoutAnswer)
{
    EXPECT_TRUE(Exchange({99, 0, 6, 0}, 1).empty());
    const auto state = korvi::sim::GetSnapshot();
    EXPECT_EQ(state.unknownCommands, 1u);
    EXPECT_EQ(state.commands, 0u);
    EXPECT_EQ(Acknowledgement({5}), 1); // and the next command is understood
}

TEST_F(SimProtocol, CameraIndexOtherThanZeroOrOneIsIgnored)
{
    EXPECT_TRUE(Exchange({33, 2}, 1).empty());
    EXPECT_FALSE(korvi::sim::GetSnapshot().cameras[0].cooler.powered);
}

TEST_F(SimProtocol, TemperatureReplyFollowsTheCooler)
{
    korvi::sim::SetCoolerTemperature(0, -20.0);
    EXPECT_EQ(WordAt(Exchange(Words({31}), 2), 0), 440); // (440 - 640) x 0.1 = -20
    korvi::sim::SetCoolerTemperature(1, 0.0);
    EXPECT_EQ(WordAt(Exchange(Words({0x011F}), 2), 0), 640);
    korvi::sim::SetCoolerTemperature(1, 12.34);
    EXPECT_EQ(WordAt(Exchange(Words({0x011F}), 2), 0), 763);
}

TEST_F(SimProtocol, CoolerReachesTargetOverTimeLimitedBelowAmbient)
{
    ASSERT_EQ(Acknowledgement(Words({30, static_cast<unsigned>(10 * -10 + 630)})), 1); // target -10
    ASSERT_EQ(Acknowledgement(Words({33})), 1);
    korvi::sim::AdvanceClock(60.0); // one time constant: 63 % of the way from 20 to -10
    const double expected = -10.0 + 30.0 * std::exp(-1.0);
    const std::uint16_t word = WordAt(Exchange(Words({31}), 2), 0);
    EXPECT_NEAR((word - 640) * 0.1, expected, 0.051);
    korvi::sim::AdvanceClock(3600.0);
    EXPECT_EQ(WordAt(Exchange(Words({31}), 2), 0), 540);
    // -60 is beyond the cooler: it settles 40 degrees below the 20 degree ambient.
    ASSERT_EQ(Acknowledgement(Words({30, static_cast<unsigned>((10 * -60 + 630) & 0xFFFF)})), 1);
    korvi::sim::AdvanceClock(3600.0);
    EXPECT_EQ(WordAt(Exchange(Words({31}), 2), 0), 440);
    // Unpowered it warms back to ambient.
    ASSERT_EQ(Acknowledgement(Words({34})), 1);
    korvi::sim::AdvanceClock(3600.0);
    EXPECT_EQ(WordAt(Exchange(Words({31}), 2), 0), 840);
}

TEST_F(SimProtocol, StandbySwitchesTheCoolersOffUntilPowerUp)
{
    ASSERT_EQ(Acknowledgement(Words({30, 430})), 1); // -20
    ASSERT_EQ(Acknowledgement(Words({33})), 1);
    ASSERT_EQ(Acknowledgement({41}), 1);
    korvi::sim::AdvanceClock(3600.0);
    EXPECT_NEAR(korvi::sim::GetSnapshot().cameras[0].cooler.temperatureCelsius, 20.0, 1e-6);
    ASSERT_EQ(Acknowledgement({40}), 1);
    korvi::sim::AdvanceClock(3600.0);
    EXPECT_NEAR(korvi::sim::GetSnapshot().cameras[0].cooler.temperatureCelsius, -20.0, 1e-6);
}

TEST_F(SimProtocol, BatteryReplyIsVoltsTimes1777)
{
    EXPECT_EQ(WordAt(Exchange(Words({42}), 2), 0), 213); // 12.0 V
    korvi::sim::SetBatteryVolts(13.8);
    EXPECT_EQ(WordAt(Exchange(Words({42}), 2), 0), 245);
}

TEST_F(SimProtocol, FilterWheelStepsWrapBothWays)
{
    struct Step {
        unsigned word0, steps;
        int position;
    };
    const Step steps[] = {{308, 2, 3}, {308, 3, 6}, {308, 1, 1}, {52, 1, 6},
                          {52, 3, 3},  {52, 6, 3},  {308, 13, 4}};
    for (const Step &step : steps) {
        ASSERT_EQ(Acknowledgement(Words({step.word0, step.steps})), 1);
        EXPECT_EQ(korvi::sim::GetSnapshot().filterPosition, step.position) << step.word0 << " " << step.steps;
    }
    EXPECT_EQ(korvi::sim::GetSnapshot().filterSteps, 29u);
}

TEST_F(SimProtocol, FilterWheelWithoutSupplyRefusesToStep)
{
    ASSERT_EQ(Acknowledgement({44}), 1);
    EXPECT_EQ(Acknowledgement(Words({308, 2})), 2);
    EXPECT_EQ(korvi::sim::GetSnapshot().filterPosition, 1);
    ASSERT_EQ(Acknowledgement({43}), 1);
    EXPECT_EQ(Acknowledgement(Words({308, 2})), 1);
    EXPECT_EQ(korvi::sim::GetSnapshot().filterPosition, 3);
}

TEST_F(SimProtocol, TextGoesToTheDisplay)
{
    Bytes block = Words({64});
    const char text[] = "Korvi -20.0C";
    for (int i = 0; i < 32; ++i)
        block.push_back(i < 12 ? static_cast<std::uint8_t>(text[i]) : 0);
    EXPECT_EQ(Exchange(block, 1), Bytes{1});
    EXPECT_EQ(korvi::sim::GetSnapshot().lcdText, "Korvi -20.0C");
}

TEST_F(SimProtocol, ReadoutSendsPrefixThenBinnedFrameRowByRow)
{
    // x 0..510 binned by 2: ceiling(511 / 2) = 256 columns; y 0..99 by 1: 100 rows.
    const Bytes command = Words({0x0002, 0, 510, 0, 99, 0x0102, 1565, 1032});
    const std::size_t frameBytes = 256 * 100 * 2;
    const Bytes reply = Exchange(command, 200 + frameBytes + 10);
    ASSERT_EQ(reply.size(), 200 + frameBytes); // nothing after the frame
    double prefixSum = 0.0;
    for (int i = 0; i < 100; ++i)
        prefixSum += WordAt(reply, i);
    EXPECT_NEAR(prefixSum / 100.0, 1000.0, 5.0); // bias samples around the imaging bias
    const auto state = korvi::sim::GetSnapshot();
    EXPECT_EQ(state.cameras[0].readouts, 1u);
    EXPECT_EQ(state.cameras[0].lastReadout.columns, 256);
    EXPECT_EQ(state.cameras[0].lastReadout.rows, 100);
    EXPECT_EQ(state.cameras[0].lastReadout.xBinning, 2);
    EXPECT_EQ(state.cameras[0].lastReadout.yBinning, 1);
    EXPECT_EQ(state.cameras[0].lastReadout.sensorColumns, 1565);
}

TEST_F(SimProtocol, ReadoutMatchesThePeekedFrameForTheSameState)
{
    korvi::sim::ReadoutRequest geometry;
    geometry.xLow = 100;
    geometry.xHigh = 163;
    geometry.yLow = 40;
    geometry.yHigh = 71;
    const auto expected = korvi::sim::PeekFrame(1, geometry);
    ASSERT_EQ(expected.size(), 64u * 32u);
    const Bytes reply = Exchange(Words({0x0102, 100, 163, 40, 71, 0x0101, 211, 165}), 200 + 64 * 32 * 2);
    ASSERT_EQ(reply.size(), 200 + 64 * 32 * 2u);
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(WordAt(reply, 100 + i), expected[i]) << i;
}

TEST_F(SimProtocol, EmptyOrZeroBinnedSubFrameSendsThePrefixOnly)
{
    // x high = x low - 1 (columns 0), then binning 0.
    EXPECT_EQ(Exchange(Words({0x0002, 10, 9, 0, 9, 0x0101, 1565, 1032}), 400).size(), 200u);
    EXPECT_EQ(Exchange(Words({0x0002, 0, 9, 0, 9, 0x0100, 1565, 1032}), 400).size(), 200u);
    EXPECT_EQ(korvi::sim::GetSnapshot().cameras[0].lastReadout.columns, 0);
}

TEST_F(SimProtocol, SubFrameLimitsAreUnsignedWords)
{
    // x 32760..32769 lies beyond the sensor but is a valid span of 10 binned columns.
    const Bytes reply = Exchange(Words({0x0002, 32760, 32769, 0, 1, 0x0101, 1565, 1032}), 400);
    EXPECT_EQ(reply.size(), 200u + 10 * 2 * 2);
    const auto sent = korvi::sim::GetSnapshot().cameras[0].lastReadout;
    EXPECT_EQ(sent.xLow, 32760);
    EXPECT_EQ(sent.xHigh, 32769);
    EXPECT_EQ(sent.columns, 10);
}

TEST_F(SimProtocol, ReplayedPrefixIsSentAheadOfTheFrame)
{
    korvi::sim::SetReplayPrefix(0, {0x1234, 0xABCD});
    const Bytes reply = Exchange(Words({0x0002, 0, 0, 0, 0, 0x0101, 1565, 1032}), 202);
    ASSERT_EQ(reply.size(), 202u);
    EXPECT_EQ(WordAt(reply, 0), 0x1234);
    EXPECT_EQ(WordAt(reply, 1), 0xABCD);
    EXPECT_TRUE(std::all_of(reply.begin() + 4, reply.begin() + 200, [](std::uint8_t b) { return b == 0; }));
}

TEST_F(SimProtocol, ShortPrefixAndShortFrameFaults)
{
    korvi::sim::Faults faults;
    faults.prefixBytes = 50;
    korvi::sim::SetFaults(faults);
    const Bytes command = Words({0x0002, 0, 9, 0, 9, 0x0101, 1565, 1032});
    EXPECT_EQ(Exchange(command, 400).size(), 50u);
    faults.prefixBytes = -1;
    faults.frameBytes = 31;
    korvi::sim::SetFaults(faults);
    EXPECT_EQ(Exchange(command, 400).size(), 231u);
}

TEST_F(SimProtocol, AcknowledgementFaults)
{
    korvi::sim::Faults faults;
    faults.noAcknowledge = true;
    korvi::sim::SetFaults(faults);
    EXPECT_EQ(Acknowledgement({50}), -1);
    EXPECT_TRUE(korvi::sim::GetSnapshot().shutterOpen); // carried out all the same
    faults.noAcknowledge = false;
    faults.acknowledgeByte = 2;
    korvi::sim::SetFaults(faults);
    EXPECT_EQ(Acknowledgement({51}), 2);
    faults.acknowledgeByte = 1;
    faults.noReply = true;
    korvi::sim::SetFaults(faults);
    EXPECT_TRUE(Exchange(Words({31}), 2).empty());
    EXPECT_TRUE(Exchange(Words({42}), 2).empty());
    EXPECT_TRUE(Exchange(Words({0x015A, 2, 2, 12345}), 2).empty());
}

TEST_F(SimProtocol, DiagnosticPatternIsColumnPlusRow)
{
    const Bytes reply = Exchange(Words({0x000A, 300, 4}), 300 * 4 * 2 + 2);
    ASSERT_EQ(reply.size(), 300 * 4 * 2u);
    for (unsigned row = 0; row < 4; ++row)
        for (unsigned column = 0; column < 300; ++column)
            ASSERT_EQ(WordAt(reply, row * 300 + column), column + row);
}

TEST_F(SimProtocol, DriveInputOutputTestAnswers12345)
{
    const Bytes reply = Exchange({0x5A, 0x01, 0x02, 0x00, 0x02, 0x00, 0x31, 0xD4}, 4);
    EXPECT_EQ(reply, (Bytes{0x39, 0x30})); // 12345, and nothing more
    EXPECT_EQ(korvi::sim::GetSnapshot().drive.lastTestWord, 54321);
}

TEST_F(SimProtocol, DriveMemoryRoundTrip)
{
    std::vector<unsigned> table(480);
    std::iota(table.begin(), table.end(), 1000u);
    Bytes program = Words({0x145A, 960, 0});
    for (unsigned word : table) {
        program.push_back(static_cast<std::uint8_t>(word & 0xFF));
        program.push_back(static_cast<std::uint8_t>(word >> 8));
    }
    EXPECT_TRUE(Exchange(program, 1).empty()); // no acknowledgement on the drive frames
    const Bytes memory = Exchange({0x5A, 0x15, 0x00, 0x00, 0x00, 0x04}, 1024);
    ASSERT_EQ(memory.size(), 1024u);
    for (int i = 0; i < 480; ++i)
        ASSERT_EQ(WordAt(memory, i), 1000 + i);
    for (int i = 480; i < 500; ++i)
        ASSERT_EQ(WordAt(memory, i), 1833); // the rest of the default rate table
    EXPECT_EQ(korvi::sim::GetSnapshot().drive.memory[479], 1479);
}

TEST_F(SimProtocol, DriveConfigurationRatesAndSlew)
{
    const Bytes configuration = Words({0x1E5A, 24, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x0302});
    EXPECT_TRUE(Exchange(configuration, 1).empty());
    const Bytes readBack = Exchange(Words({0x285A, 0, 24}), 24);
    EXPECT_EQ(readBack, Bytes(configuration.begin() + 6, configuration.end()));

    EXPECT_TRUE(Exchange(Words({0x0A5A, 8, 0, 1833, 2, 8222, 135}), 1).empty());
    const auto state = korvi::sim::GetSnapshot();
    EXPECT_EQ(state.drive.rates, (std::array<std::uint16_t, 4>{1833, 2, 8222, 135}));

    EXPECT_TRUE(Exchange({0x5A, 0x0B, 0x02, 0x00, 0x00, 0x00, 0x05, 0x00}, 1).empty());
    EXPECT_EQ(korvi::sim::GetSnapshot().slewBits, 5); // east and north
    EXPECT_EQ(korvi::sim::GetSnapshot().drive.lastSubcommand, 11);
}

TEST_F(SimProtocol, DriveReplyIsPaddedToTheCountAsked)
{
    const Bytes reply = Exchange(Words({0x015A, 2, 6, 7}), 8);
    EXPECT_EQ(reply, (Bytes{0x39, 0x30, 0, 0, 0, 0}));
}

TEST_F(SimProtocol, SlewsMoveTheFieldAtTheGuideRate)
{
    auto config = MakeConfig();
    config.mountRotationDegrees = 0.0;
    config.guideRate = 5.0;
    korvi::sim::Reset(config);
    ASSERT_EQ(Acknowledgement(Words({0x0114})), 1); // east
    korvi::sim::AdvanceClock(10.0);
    ASSERT_EQ(Acknowledgement(Words({0x0814})), 1); // south
    korvi::sim::AdvanceClock(4.0);
    ASSERT_EQ(Acknowledgement(Words({0x0014})), 1); // stop
    korvi::sim::AdvanceClock(100.0);
    const auto state = korvi::sim::GetSnapshot();
    EXPECT_NEAR(state.mountX, 50.0, 1e-9);
    EXPECT_NEAR(state.mountY, -20.0, 1e-9);
    EXPECT_EQ(state.slewBits, 0);
}

TEST_F(SimProtocol, ReplayedFrameIsSentAsPreparedAndPaddedWithZeros)
{
    auto words = std::make_shared<std::vector<std::uint16_t>>(10 * 4);
    std::iota(words->begin(), words->end(), std::uint16_t{500});
    korvi::sim::SetReplayFrame(0, words);
    Bytes reply = Exchange(Words({0x0002, 0, 9, 0, 3, 0x0101, 1565, 1032}), 200 + 80);
    ASSERT_EQ(reply.size(), 280u);
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(WordAt(reply, 100 + i), 500 + i);
    reply = Exchange(Words({0x0002, 0, 9, 0, 4, 0x0101, 1565, 1032}), 200 + 100);
    ASSERT_EQ(reply.size(), 300u);
    EXPECT_EQ(WordAt(reply, 100 + 39), 539);
    for (int i = 40; i < 50; ++i)
        EXPECT_EQ(WordAt(reply, 100 + i), 0);
    korvi::sim::SetReplayFrame(0, nullptr);
    reply = Exchange(Words({0x0002, 0, 9, 0, 3, 0x0101, 1565, 1032}), 280);
    EXPECT_NE(WordAt(reply, 100), 500); // synthesised again
}

TEST_F(SimProtocol, ReplayedFrameIsQueuedByReferenceNotCopied)
{
    auto words = std::make_shared<std::vector<std::uint16_t>>(64 * 64, std::uint16_t{777});
    korvi::sim::SetReplayFrame(0, words);
    EXPECT_EQ(words.use_count(), 2); // this test and the controller
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    ASSERT_EQ(FT_SetTimeouts(handle, 10, 10), FT_OK);
    const Bytes command = Words({0x0002, 0, 63, 0, 63, 0x0101, 1565, 1032});
    DWORD done = 0;
    ASSERT_EQ(FT_Write(handle, command.data(), 16, &done), FT_OK);
    EXPECT_EQ(words.use_count(), 3); // the queued reply shares the prepared words
    std::vector<std::uint8_t> prefix(200);
    ASSERT_EQ(FT_Read(handle, prefix.data(), 200, &done), FT_OK);
    std::vector<std::uint16_t> frame(64 * 64);
    ASSERT_EQ(FT_Read(handle, frame.data(), 64 * 64 * 2 - 2, &done), FT_OK);
    EXPECT_EQ(words.use_count(), 3); // one word still waiting
    ASSERT_EQ(FT_Read(handle, frame.data() + 64 * 64 - 1, 2, &done), FT_OK);
    EXPECT_EQ(words.use_count(), 2);
    EXPECT_EQ(frame, *words);
    ASSERT_EQ(FT_Close(handle), FT_OK);
}

// Brightest-star centroid of a full guiding frame (the pixels after the 100-word prefix).
void GuideStarCentroid(const Bytes &reply, double *cx, double *cy)
{
    const int columns = 211, rows = 165;
    std::vector<std::uint16_t> frame(columns * rows);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = WordAt(reply, 100 + i);
    const auto peak = std::max_element(frame.begin(), frame.end()) - frame.begin();
    const int px = static_cast<int>(peak % columns), py = static_cast<int>(peak / columns);
    std::vector<std::uint16_t> sorted(frame);
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double background = sorted[sorted.size() / 2];
    double sum = 0, sx = 0, sy = 0;
    for (int y = std::max(0, py - 6); y <= std::min(rows - 1, py + 6); ++y)
        for (int x = std::max(0, px - 6); x <= std::min(columns - 1, px + 6); ++x) {
            const double w = std::max(0.0, frame[y * columns + x] - background);
            sum += w;
            sx += w * x;
            sy += w * y;
        }
    *cx = sx / sum;
    *cy = sy / sum;
}

TEST_F(SimProtocol, ExposureGetsSignalForTheTimeTheShutterWasOpen)
{
    const Bytes read = Words({0x0002, 0, 1564, 0, 1031, 0x0101, 1565, 1032});
    ASSERT_EQ(Acknowledgement(Words({0x0004, 1032, 1565})), 1); // clearing scan
    korvi::sim::AdvanceClock(3.0);
    ASSERT_EQ(Acknowledgement({50}), 1);
    korvi::sim::AdvanceClock(10.0);
    ASSERT_EQ(Acknowledgement({51}), 1);
    korvi::sim::AdvanceClock(2.0);
    const Bytes reply = Exchange(read, 200 + 1565 * 1032 * 2);
    ASSERT_EQ(reply.size(), 200 + 1565 * 1032 * 2u);
    const auto state = korvi::sim::GetSnapshot();
    EXPECT_DOUBLE_EQ(state.cameras[0].lastLightSeconds, 10.0);
    EXPECT_DOUBLE_EQ(state.cameras[0].lastDarkSeconds, 15.0);
    // Sky 20 e/s for 10 s and dark current at 20 C for 15 s, at 2 e/ADU over a bias of 1000.
    std::vector<std::uint16_t> pixels(1565 * 1032);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = WordAt(reply, 100 + i);
    std::nth_element(pixels.begin(), pixels.begin() + pixels.size() / 2, pixels.end());
    const double expected = 1000.0 + (20.0 * 10.0 + std::exp2(20.0 / 6.3) * 15.0) / 2.0;
    EXPECT_NEAR(pixels[pixels.size() / 2], expected, 2.0);
    // The readout emptied the sensor: the next frame has only the dark charge since then.
    korvi::sim::AdvanceClock(4.0);
    Exchange(read, 200 + 1565 * 1032 * 2);
    EXPECT_DOUBLE_EQ(korvi::sim::GetSnapshot().cameras[0].lastLightSeconds, 0.0);
    EXPECT_DOUBLE_EQ(korvi::sim::GetSnapshot().cameras[0].lastDarkSeconds, 4.0);
}

class SimProtocolRealClock : public korvi::test::SimulatorTest
{
protected:
    korvi::sim::Config MakeConfig() override { return korvi::sim::Config{}; }
};

TEST_F(SimProtocolRealClock, ExposureFollowsTheScaledProcessClock)
{
    ASSERT_EQ(Acknowledgement(Words({0x0004, 1032, 1565})), 1);
    ASSERT_EQ(Acknowledgement({50}), 1);
    korvi::ScaledSleep(5.0); // 50 ms of real time at the tests' scale
    ASSERT_EQ(Acknowledgement({51}), 1);
    Exchange(Words({0x0002, 0, 9, 0, 9, 0x0101, 1565, 1032}), 400);
    const double light = korvi::sim::GetSnapshot().cameras[0].lastLightSeconds;
    EXPECT_GE(light, 5.0);
    EXPECT_LT(light, 5.0 + 100.0); // generous: a loaded machine may stall the test for a while
}

TEST_F(SimProtocol, GuideStarMovesAlongTheMountsRotatedEastAxis)
{
    // Defaults: guide rate 7.5 arcsec/s, mount axes rotated 12 degrees, guider 5 arcsec a pixel.
    const Bytes read = Words({0x0102, 0, 210, 0, 164, 0x0101, 211, 165});
    const std::size_t bytes = 200 + 211 * 165 * 2;
    korvi::sim::SetCoolerTemperature(1, -30.0); // cold enough that no hot pixel outshines the star
    ASSERT_EQ(Acknowledgement(Words({0x0104, 165, 211})), 1);
    korvi::sim::AdvanceClock(2.0);
    double x1, y1, x2, y2;
    GuideStarCentroid(Exchange(read, bytes), &x1, &y1);
    ASSERT_EQ(Acknowledgement(Words({0x0114})), 1); // east
    korvi::sim::AdvanceClock(10.0);
    ASSERT_EQ(Acknowledgement(Words({0x0014})), 1); // stop
    ASSERT_EQ(Acknowledgement(Words({0x0104, 165, 211})), 1);
    korvi::sim::AdvanceClock(2.0);
    GuideStarCentroid(Exchange(read, bytes), &x2, &y2);
    const double angle = 12.0 * 3.14159265358979 / 180.0;
    EXPECT_NEAR(x2 - x1, 15.0 * std::cos(angle), 0.3);
    EXPECT_NEAR(y2 - y1, 15.0 * std::sin(angle), 0.3);
}

} // namespace
