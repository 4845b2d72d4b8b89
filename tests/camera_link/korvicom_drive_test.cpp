// The drive-controller exchange: frames on the wire, replies into the caller's buffer, the
// controller's memory and configuration written and read back, and counts that are refused.
#include <numeric>

#include "korvicom_wire.h"

namespace korvi::test
{
namespace
{

using KorvicomDrive = KorvicomWire;

TEST_F(KorvicomDrive, InputOutputTestSendsTheWordAndReadsTheAnswerOverIt)
{
    std::uint16_t buffer[1] = {12345};
    EXPECT_EQ(_KEDRO_Control(1, buffer, 2, 2, RecordStatus), 0);
    EXPECT_EQ(sim::WrittenBlocks(),
              std::vector<Bytes>{MakeBytes({0x5A, 0x01, 0x02, 0x00, 0x02, 0x00, 0x39, 0x30})});
    EXPECT_EQ(ReadRequests(), std::vector<long long>{2});
    EXPECT_EQ(ExchangeTimeouts(), (std::vector<long long>{30000, 30000}));
    EXPECT_EQ(buffer[0], 12345);

    // The answer replaces the payload: send another word, get the controller's 12345 back.
    buffer[0] = 777;
    EXPECT_EQ(_KEDRO_Control(1, buffer, 2, 2, RecordStatus), 0);
    EXPECT_EQ(sim::GetSnapshot().drive.lastTestWord, 777);
    EXPECT_EQ(buffer[0], 12345);
    EXPECT_TRUE(ReportedStatuses().empty());
}

TEST_F(KorvicomDrive, MemoryReadSendsAnEmptyPayloadAndReadsTheWholeMemory)
{
    std::vector<std::uint16_t> buffer(512, 0xEEEE);
    EXPECT_EQ(_KEDRO_Control(21, buffer.data(), 0, 1024, RecordStatus), 0);
    EXPECT_EQ(sim::WrittenBlocks(), std::vector<Bytes>{MakeBytes({0x5A, 0x15, 0x00, 0x00, 0x00, 0x04})});
    EXPECT_EQ(ReadRequests(), std::vector<long long>{1024});
    const auto &memory = sim::GetSnapshot().drive.memory;
    EXPECT_TRUE(std::equal(memory.begin(), memory.end(), buffer.begin()));
}

TEST_F(KorvicomDrive, MemoryRoundTrip)
{
    std::vector<std::uint16_t> table(500);
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<std::uint16_t>(40000 + 37 * i);
    std::vector<std::uint16_t> payload = table;
    EXPECT_EQ(_KEDRO_Control(20, payload.data(), 1000, 0, RecordStatus), 0);
    const auto blocks = sim::WrittenBlocks();
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_EQ(blocks[0].size(), 1006u);
    EXPECT_EQ(Bytes(blocks[0].begin(), blocks[0].begin() + 6),
              MakeBytes({0x5A, 0x14, 0xE8, 0x03, 0x00, 0x00}));
    EXPECT_EQ(blocks[0][6], 40000 & 0xFF);
    EXPECT_EQ(blocks[0][7], 40000 >> 8);
    EXPECT_TRUE(ReadRequests().empty());
    EXPECT_EQ(payload, table); // nothing read back over it

    std::vector<std::uint16_t> dump(512, 0);
    EXPECT_EQ(_KEDRO_Control(21, dump.data(), 0, 1024, RecordStatus), 0);
    EXPECT_TRUE(std::equal(table.begin(), table.end(), dump.begin()));
    EXPECT_TRUE(ReportedStatuses().empty());
}

TEST_F(KorvicomDrive, ConfigurationAndRatesRoundTrip)
{
    std::vector<std::uint16_t> configuration(12);
    std::iota(configuration.begin(), configuration.end(), std::uint16_t{300});
    std::vector<std::uint16_t> payload = configuration;
    EXPECT_EQ(_KEDRO_Control(30, payload.data(), 24, 0, RecordStatus), 0);
    std::vector<std::uint16_t> back(12, 0);
    EXPECT_EQ(_KEDRO_Control(40, back.data(), 0, 24, RecordStatus), 0);
    EXPECT_EQ(back, configuration);

    std::uint16_t rates[4] = {1833, 1846, 1988, 500};
    EXPECT_EQ(_KEDRO_Control(10, rates, 8, 0, RecordStatus), 0);
    const auto &stored = sim::GetSnapshot().drive.rates;
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), rates));
    EXPECT_EQ(sim::WrittenBlocks().back().size(), 14u);
}

// A silent controller: the payload stays in the buffer, and the short reply is reported and
// returned as an input/output error, so no caller takes the payload for the answer.
TEST_F(KorvicomDrive, MissingReplyIsReportedAndLeavesThePayload)
{
    sim::Faults faults;
    faults.noReply = true;
    Inject(faults);
    std::uint16_t buffer[1] = {4321};
    EXPECT_EQ(_KEDRO_Control(1, buffer, 2, 2, RecordStatus), 4);
    EXPECT_EQ(buffer[0], 4321);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{4});
}

TEST_F(KorvicomDrive, ResultIsTheStatusOfTheClose)
{
    FailCall("FT_Close", 1, FT_IO_ERROR);
    std::uint16_t buffer[1] = {0};
    EXPECT_EQ(_KEDRO_Control(11, buffer, 2, 0, RecordStatus), static_cast<int>(FT_IO_ERROR));
    EXPECT_TRUE(ReportedStatuses().empty()); // a failing close is not reported
}

// A failed write or read is reported once and fails the call with its status, though the close
// that follows succeeds: the buffer holds no reply.
TEST_F(KorvicomDrive, WriteAndReadFailuresAreReportedAndFailTheCall)
{
    FailCall("FT_Read", 1, FT_IO_ERROR);
    std::uint16_t buffer[12] = {};
    EXPECT_EQ(_KEDRO_Control(40, buffer, 0, 24, RecordStatus), static_cast<int>(FT_IO_ERROR));
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_IO_ERROR});

    ReportedStatuses().clear();
    FailCall("FT_Read", 1, FT_DEVICE_NOT_OPENED);
    buffer[0] = 12345;
    EXPECT_EQ(_KEDRO_Control(1, buffer, 2, 2, RecordStatus), static_cast<int>(FT_DEVICE_NOT_OPENED));
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_DEVICE_NOT_OPENED});

    ReportedStatuses().clear();
    FailCall("FT_Write", 1, FT_IO_ERROR);
    EXPECT_EQ(_KEDRO_Control(10, buffer, 8, 0, RecordStatus), static_cast<int>(FT_IO_ERROR));
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_IO_ERROR});
}

TEST_F(KorvicomDrive, OpenFailureReturnsItsStatusAndLeavesTheBuffer)
{
    sim::Faults faults;
    faults.noDevice = true;
    Inject(faults);
    std::uint16_t buffer[1] = {99};
    EXPECT_EQ(_KEDRO_Control(1, buffer, 2, 2, RecordStatus), static_cast<int>(FT_DEVICE_NOT_FOUND));
    EXPECT_EQ(buffer[0], 99);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_DEVICE_NOT_FOUND});
}

struct RefusedCounts {
    int byteCount;
    int replyByteCount;
    bool nullBuffer;
};

TEST_F(KorvicomDrive, CountsThatCannotFrameWholeWordsAreRefusedWithoutSending)
{
    const RefusedCounts cases[] = {
        {3, 0, false},     {1, 2, false},     {-2, 0, false}, {2, -1, false},
        {70000, 0, false}, {0, 70000, false}, {2, 0, true},   {0, 2, true},
    };
    for (const RefusedCounts &c : cases) {
        SCOPED_TRACE(std::to_string(c.byteCount) + " / " + std::to_string(c.replyByteCount));
        sim::ClearCallLog();
        std::uint16_t buffer[2] = {0x1111, 0x2222};
        EXPECT_EQ(
            _KEDRO_Control(10, c.nullBuffer ? nullptr : buffer, c.byteCount, c.replyByteCount, RecordStatus),
            static_cast<int>(FT_INVALID_PARAMETER));
        EXPECT_TRUE(sim::CallLog().empty());
        EXPECT_EQ(buffer[0], 0x1111);
    }
    EXPECT_TRUE(ReportedStatuses().empty());
    // An empty exchange needs no buffer.
    EXPECT_EQ(_KEDRO_Control(11, nullptr, 0, 0, RecordStatus), 0);
}

} // namespace
} // namespace korvi::test
