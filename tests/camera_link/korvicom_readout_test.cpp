// Frame and diagnostic readout through the simulated controller: command bytes, transfer size
// and chunking, the prefix and offset level, the extremes, geometry that must be refused, and
// frames the controller cuts short.
#include <algorithm>
#include <memory>
#include <numeric>

#include "korvicom_wire.h"

namespace korvi::test
{
namespace
{

// A caller's image: one contiguous block with its row table.
struct Frame {
    Frame(int columns, int rows, std::uint16_t fill)
        : columns(columns), pixels(static_cast<std::size_t>(columns) * rows, fill), table(rows)
    {
        for (int j = 0; j < rows; ++j)
            table[j] = pixels.data() + static_cast<std::size_t>(j) * columns;
    }
    int columns;
    std::vector<std::uint16_t> pixels;
    std::vector<std::uint16_t *> table;
};

AcquisitionHeader Geometry(int xLow, int xHigh, int yLow, int yHigh, int xBinning, int yBinning)
{
    AcquisitionHeader header;
    header.SensorColumns = 1565;
    header.SensorRows = 1032;
    header.XLow = xLow;
    header.XHigh = xHigh;
    header.YLow = yLow;
    header.YHigh = yHigh;
    header.XBinning = xBinning;
    header.YBinning = yBinning;
    // Values the readout must replace (or, for the sky level, keep).
    header.TopDarkLevel = 5.0f;
    header.BottomDarkLevel = 6.0f;
    header.SkyLevel = 3.5f;
    header.OffsetLevel = -1.0f;
    header.Maximum = 777;
    header.Minimum = 111;
    return header;
}

std::shared_ptr<std::vector<std::uint16_t>> Pattern(std::size_t words)
{
    auto frame = std::make_shared<std::vector<std::uint16_t>>(words);
    for (std::size_t i = 0; i < words; ++i)
        (*frame)[i] = static_cast<std::uint16_t>((i * 2654435761u >> 7) & 0xFFFF);
    return frame;
}

// The offset level computed from the prefix bytes the driver actually handed over.
float OffsetFromLoggedPrefix()
{
    const auto reads = CallsOf("FT_Read");
    if (reads.empty())
        return -1.0f;
    const Bytes &prefix = reads[0].read;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < prefix.size(); i += 2)
        sum += static_cast<std::uint32_t>(prefix[i] | (prefix[i + 1] << 8));
    return static_cast<float>(sum / 100);
}

using KorvicomReadout = KorvicomWire;

TEST_F(KorvicomReadout, FullSquareFrameGoesStraightIntoTheBlockInTwoChunks)
{
    const auto replay = Pattern(512 * 512);
    sim::SetReplayFrame(0, replay);
    sim::ClearCallLog();
    Frame frame(512, 512, 0);
    AcquisitionHeader header = Geometry(0, 511, 0, 511, 1, 1);

    const double seconds = _ReadCCD(frame.table.data(), &header, 0, RecordStatus);

    EXPECT_GE(seconds, 0.0);
    EXPECT_EQ(sim::WrittenBlocks(),
              std::vector<Bytes>{MakeBytes({0x02, 0x00, 0x00, 0x00, 0xFF, 0x01, 0x00, 0x00, 0xFF, 0x01, 0x01,
                                            0x01, 0x1D, 0x06, 0x08, 0x04})});
    EXPECT_EQ(ExchangeTimeouts(), (std::vector<long long>{3000, 3000}));
    EXPECT_EQ(CallsOf("FT_SetUSBParameters").at(0).args, (std::vector<long long>{262144, 0}));
    EXPECT_EQ(ReadRequests(), (std::vector<long long>{200, 262144, 262144}));
    EXPECT_EQ(CallNames().back(), "FT_Close");
    EXPECT_EQ(frame.pixels, *replay);
    EXPECT_EQ(header.Columns, 512);
    EXPECT_EQ(header.Rows, 512);
    const auto [lo, hi] = std::minmax_element(replay->begin(), replay->end());
    EXPECT_EQ(header.Minimum, *lo);
    EXPECT_EQ(header.Maximum, *hi);
    EXPECT_EQ(header.OffsetLevel, OffsetFromLoggedPrefix());
    EXPECT_GT(header.OffsetLevel, 0.0f); // the prefix carries bias samples
    EXPECT_EQ(header.TopDarkLevel, 0.0f);
    EXPECT_EQ(header.BottomDarkLevel, 0.0f);
    EXPECT_EQ(header.SkyLevel, 3.5f);
    EXPECT_TRUE(ReportedStatuses().empty());
    EXPECT_FALSE(sim::GetSnapshot().port.open);
}

TEST_F(KorvicomReadout, OddWidthUsesWholeRowChunks)
{
    const auto replay = Pattern(1565 * 1032);
    sim::SetReplayFrame(0, replay);
    sim::ClearCallLog();
    Frame frame(1565, 1032, 0);
    AcquisitionHeader header = Geometry(0, 1564, 0, 1031, 1, 1);
    _ReadCCD(frame.table.data(), &header, 0, RecordStatus);

    // 4 x 1565 x (65536 div 1565 = 41) = 256660 bytes a chunk; 3230160 bytes = 12 chunks + 150240.
    EXPECT_EQ(CallsOf("FT_SetUSBParameters").at(0).args, (std::vector<long long>{256660, 0}));
    std::vector<long long> expected = {200};
    expected.insert(expected.end(), 12, 256660);
    expected.push_back(150240);
    EXPECT_EQ(ReadRequests(), expected);
    EXPECT_EQ(frame.pixels, *replay);
    // Pixel (column i, row j) is block index j x columns + i, reached through the row table.
    EXPECT_EQ(frame.table[1031][1564], (*replay)[1031 * 1565 + 1564]);
}

struct BinnedCase {
    const char *name;
    int xLow, xHigh, yLow, yHigh, xBinning, yBinning;
    int columns, rows;
    Bytes binningWord;
    long long transfer;
};

TEST_F(KorvicomReadout, BinnedSizesRoundUp)
{
    const BinnedCase cases[] = {
        {"x 0..510 by 2", 0, 510, 0, 9, 2, 1, 256, 10, MakeBytes({0x02, 0x01}), 262144},
        {"y 3..9 by 3", 100, 199, 3, 9, 1, 3, 100, 3, MakeBytes({0x01, 0x03}), 4 * 100 * 655},
        {"one pixel", 7, 7, 7, 7, 1, 1, 1, 1, MakeBytes({0x01, 0x01}), 262144},
        {"binning 255", 0, 1564, 0, 1031, 255, 255, 7, 5, MakeBytes({0xFF, 0xFF}), 4 * 7 * 9362},
    };
    for (const BinnedCase &c : cases) {
        SCOPED_TRACE(c.name);
        sim::SetReplayFrame(0, Pattern(static_cast<std::size_t>(c.columns) * c.rows));
        sim::ClearCallLog();
        Frame frame(c.columns, c.rows, 0);
        AcquisitionHeader header = Geometry(c.xLow, c.xHigh, c.yLow, c.yHigh, c.xBinning, c.yBinning);
        _ReadCCD(frame.table.data(), &header, 0, RecordStatus);
        EXPECT_EQ(header.Columns, c.columns);
        EXPECT_EQ(header.Rows, c.rows);
        const auto blocks = sim::WrittenBlocks();
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(Bytes(blocks[0].begin() + 10, blocks[0].begin() + 12), c.binningWord);
        EXPECT_EQ(CallsOf("FT_SetUSBParameters").at(0).args, (std::vector<long long>{c.transfer, 0}));
        const auto reads = ReadRequests();
        ASSERT_GE(reads.size(), 2u);
        EXPECT_EQ(std::accumulate(reads.begin() + 1, reads.end(), 0ll), 2ll * c.columns * c.rows);
    }
}

TEST_F(KorvicomReadout, CameraIndexTakesTheParameterByte)
{
    Frame frame(10, 10, 0);
    AcquisitionHeader header = Geometry(0, 9, 0, 9, 1, 1);
    header.SensorColumns = 211;
    header.SensorRows = 165;
    _ReadCCD(frame.table.data(), &header, 257, RecordStatus);
    const Bytes command = sim::WrittenBlocks().at(0);
    EXPECT_EQ(Bytes(command.begin(), command.begin() + 2), MakeBytes({0x02, 0x01}));
    EXPECT_EQ(Bytes(command.end() - 4, command.end()), MakeBytes({0xD3, 0x00, 0xA5, 0x00}));
    EXPECT_EQ(sim::GetSnapshot().cameras[1].readouts, 1u);
}

TEST_F(KorvicomReadout, FrameOfEqualPixelsHasEqualExtremes)
{
    sim::SetReplayFrame(0, std::make_shared<std::vector<std::uint16_t>>(40 * 30, std::uint16_t{4242}));
    Frame frame(40, 30, 0);
    AcquisitionHeader header = Geometry(0, 39, 0, 29, 1, 1);
    _ReadCCD(frame.table.data(), &header, 0, RecordStatus);
    EXPECT_EQ(header.Maximum, 4242);
    EXPECT_EQ(header.Minimum, 4242);
}

TEST_F(KorvicomReadout, SynthesisedFrameFillsEveryPixel)
{
    // No replay: the controller renders its sky; none of the fill value may survive.
    Frame frame(64, 48, 0);
    AcquisitionHeader header = Geometry(700, 763, 500, 547, 1, 1);
    _ReadCCD(frame.table.data(), &header, 0, RecordStatus);
    EXPECT_EQ(std::count(frame.pixels.begin(), frame.pixels.end(), 0), 0);
    EXPECT_EQ(header.Minimum, *std::min_element(frame.pixels.begin(), frame.pixels.end()));
    EXPECT_EQ(header.Maximum, *std::max_element(frame.pixels.begin(), frame.pixels.end()));
}

struct RefusedCase {
    const char *name;
    int xLow, xHigh, yLow, yHigh, xBinning, yBinning;
    int columns, rows;
};

// Geometry the controller could not carry out as computed: nothing is sent or read, the block
// and the extremes stay as they were, the header gets the sizes.
TEST_F(KorvicomReadout, UnreadableGeometryIsRefusedBeforeTheDeviceIsTouched)
{
    const RefusedCase cases[] = {
        {"no columns", 10, 9, 0, 9, 1, 1, 0, 10},
        {"reversed rows", 0, 9, 5, 2, 1, 1, 10, 0},
        {"x binning 0", 0, 9, 0, 9, 0, 1, 0, 10},
        {"y binning negative", 0, 9, 0, 9, 1, -1, 10, 0},
        {"x binning 256", 0, 511, 0, 9, 256, 1, 2, 10},
        {"negative x low", -1, 10, 0, 9, 1, 1, 12, 10},
        {"y high beyond 16 bits", 0, 9, 65530, 65536, 1, 1, 10, 7},
        {"huge span", 0, 2147483647, 0, 0, 1, 1, 2147483647, 1},
    };
    for (const RefusedCase &c : cases) {
        SCOPED_TRACE(c.name);
        sim::ClearCallLog();
        Frame frame(16, 16, 0xABCD);
        AcquisitionHeader header = Geometry(c.xLow, c.xHigh, c.yLow, c.yHigh, c.xBinning, c.yBinning);
        EXPECT_EQ(_ReadCCD(frame.table.data(), &header, 0, RecordStatus), 0.0);
        EXPECT_EQ(header.Columns, c.columns);
        EXPECT_EQ(header.Rows, c.rows);
        EXPECT_EQ(header.Maximum, 777);
        EXPECT_EQ(header.Minimum, 111);
        EXPECT_TRUE(sim::CallLog().empty());
        EXPECT_EQ(std::count(frame.pixels.begin(), frame.pixels.end(), 0xABCD), 256);
    }
    EXPECT_TRUE(ReportedStatuses().empty());
}

TEST_F(KorvicomReadout, MissingBlockOrHeaderIsRefused)
{
    AcquisitionHeader header = Geometry(0, 9, 0, 9, 1, 1);
    EXPECT_EQ(_ReadCCD(nullptr, &header, 0, RecordStatus), 0.0);
    EXPECT_EQ(header.Columns, 10);
    std::uint16_t *noRows[1] = {nullptr};
    EXPECT_EQ(_ReadCCD(noRows, &header, 0, RecordStatus), 0.0);
    Frame frame(10, 10, 0);
    EXPECT_EQ(_ReadCCD(frame.table.data(), nullptr, 0, RecordStatus), 0.0);
    EXPECT_TRUE(sim::CallLog().empty());
}

// An image sized for a narrower frame: streaming 32 x 16 words into its 16 x 16 block would run
// past its end, so the row table is checked against the computed width first.
TEST_F(KorvicomReadout, RowTableOfAnotherWidthIsRefused)
{
    sim::ClearCallLog();
    Frame frame(16, 16, 0x4444);
    AcquisitionHeader header = Geometry(0, 31, 0, 15, 1, 1);
    EXPECT_EQ(_ReadCCD(frame.table.data(), &header, 0, RecordStatus), 0.0);
    EXPECT_EQ(header.Columns, 32);
    EXPECT_EQ(header.Rows, 16);
    EXPECT_EQ(header.Maximum, 777);
    EXPECT_TRUE(sim::CallLog().empty());
    EXPECT_EQ(std::count(frame.pixels.begin(), frame.pixels.end(), 0x4444), 256);

    // The same block with a table for the right width is read.
    Frame wide(32, 8, 0x4444);
    EXPECT_EQ(wide.pixels.size(), frame.pixels.size());
    header = Geometry(0, 31, 0, 7, 1, 1);
    _ReadCCD(wide.table.data(), &header, 0, RecordStatus);
    EXPECT_EQ(ReadRequests(), (std::vector<long long>{200, 512}));
}

TEST_F(KorvicomReadout, OpenFailureLeavesTheBlockAndReportsOnce)
{
    sim::Faults faults;
    faults.noDevice = true;
    Inject(faults);
    Frame frame(20, 10, 0x1111);
    AcquisitionHeader header = Geometry(0, 19, 0, 9, 1, 1);
    EXPECT_EQ(_ReadCCD(frame.table.data(), &header, 0, RecordStatus), 0.0);
    EXPECT_EQ(header.Columns, 20);
    EXPECT_EQ(header.Rows, 10);
    EXPECT_EQ(header.Maximum, 777);
    EXPECT_EQ(header.OffsetLevel, -1.0f);
    EXPECT_EQ(std::count(frame.pixels.begin(), frame.pixels.end(), 0x1111), 200);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_DEVICE_NOT_FOUND});
}

TEST_F(KorvicomReadout, ShortPrefixCountsMissingWordsAsZeroAndStopsAtTheFirstEmptyRead)
{
    sim::Faults faults;
    faults.prefixBytes = 100; // half the prefix, then the controller falls silent
    Inject(faults);
    Frame frame(512, 512, 0);
    for (std::size_t i = 0; i < frame.pixels.size(); ++i)
        frame.pixels[i] = static_cast<std::uint16_t>(1000 + i % 50);
    const auto before = frame.pixels;
    AcquisitionHeader header = Geometry(0, 511, 0, 511, 1, 1);
    _ReadCCD(frame.table.data(), &header, 0, RecordStatus);

    EXPECT_EQ(CallsOf("FT_Read").at(0).outputs, std::vector<long long>{100});
    EXPECT_EQ(header.OffsetLevel, OffsetFromLoggedPrefix()); // 50 words summed, divided by 100
    EXPECT_EQ(ReadRequests(), (std::vector<long long>{200, 262144}));
    EXPECT_EQ(frame.pixels, before);
    // The extremes are those of the old block contents.
    EXPECT_EQ(header.Minimum, 1000);
    EXPECT_EQ(header.Maximum, 1049);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_IO_ERROR}); // no frame came
}

struct PrefixCase {
    const char *name;
    std::vector<std::uint16_t> prefix;
    float offset;
};

std::vector<std::uint16_t> Ramp(std::uint16_t first)
{
    std::vector<std::uint16_t> words(100);
    std::iota(words.begin(), words.end(), first);
    return words;
}

TEST_F(KorvicomReadout, OffsetLevelIsTheWholeNumberMeanOfThePrefix)
{
    std::vector<std::uint16_t> halves(100, 7);
    std::fill(halves.begin() + 50, halves.end(), std::uint16_t{8});
    const PrefixCase cases[] = {
        {"100 to 199", Ramp(100), 149.0f},                                // 14950 / 100
        {"mean 7.5 rounds down", halves, 7.0f},                           // 750 / 100
        {"full scale", std::vector<std::uint16_t>(100, 65535), 65535.0f}, // sum beyond 16 bits
        {"one word", {250}, 2.0f},                                        // 250 and 99 zeros
    };
    for (const PrefixCase &c : cases) {
        SCOPED_TRACE(c.name);
        sim::SetReplayPrefix(0, c.prefix);
        Frame frame(4, 3, 0);
        AcquisitionHeader header = Geometry(0, 3, 0, 2, 1, 1);
        _ReadCCD(frame.table.data(), &header, 0, RecordStatus);
        EXPECT_EQ(header.OffsetLevel, c.offset);
    }
}

// Coordinates travel as unsigned 16-bit words: a sub-frame high in that range is read with the
// size the library computed, and the controller sends exactly that many pixels.
TEST_F(KorvicomReadout, SubFrameInTheUpperHalfOfTheWordRange)
{
    sim::ClearCallLog();
    Frame frame(10, 2, 0);
    AcquisitionHeader header = Geometry(32760, 32769, 65534, 65535, 1, 1);
    _ReadCCD(frame.table.data(), &header, 0, RecordStatus);
    EXPECT_EQ(header.Columns, 10);
    EXPECT_EQ(header.Rows, 2);
    EXPECT_EQ(ReadRequests(), (std::vector<long long>{200, 40}));
    EXPECT_EQ(CallsOf("FT_Read").at(1).outputs, std::vector<long long>{40});
    const sim::ReadoutRequest sent = sim::GetSnapshot().cameras[0].lastReadout;
    EXPECT_EQ(sent.xHigh, 32769);
    EXPECT_EQ(sent.yHigh, 65535);
    EXPECT_EQ(sent.columns, 10);
    EXPECT_EQ(sent.rows, 2);
}

TEST_F(KorvicomReadout, NoPrefixGivesOffsetZero)
{
    sim::Faults faults;
    faults.prefixBytes = 0;
    Inject(faults);
    Frame frame(8, 8, 0);
    AcquisitionHeader header = Geometry(0, 7, 0, 7, 1, 1);
    _ReadCCD(frame.table.data(), &header, 0, RecordStatus);
    EXPECT_EQ(header.OffsetLevel, 0.0f);
}

TEST_F(KorvicomReadout, ShortFrameEndsTheReadsInsteadOfWaitingPerChunk)
{
    const auto replay = Pattern(1565 * 1032);
    sim::SetReplayFrame(0, replay);
    sim::Faults faults;
    faults.frameBytes = 1001; // 500 pixels and one stray byte
    Inject(faults);
    Frame frame(1565, 1032, 7);
    AcquisitionHeader header = Geometry(0, 1564, 0, 1031, 1, 1);
    const double seconds = _ReadCCD(frame.table.data(), &header, 0, RecordStatus);

    // One read waits out the time-out and brings the 1001 bytes, the next brings nothing: done.
    EXPECT_EQ(ReadRequests(), (std::vector<long long>{200, 256660, 256660}));
    // Two read time-outs of 3 s, not one for each of the 13 chunks.
    EXPECT_GE(seconds, 2.999);
    EXPECT_LT(seconds, 20.0);
    EXPECT_TRUE(std::equal(replay->begin(), replay->begin() + 500, frame.pixels.begin()));
    EXPECT_EQ(frame.pixels[500] & 0x00FF, (*replay)[500] & 0x00FF); // the stray low byte
    EXPECT_EQ(frame.pixels[500] & 0xFF00, 7 & 0xFF00);
    EXPECT_TRUE(
        std::all_of(frame.pixels.begin() + 501, frame.pixels.end(), [](std::uint16_t p) { return p == 7; }));
    EXPECT_EQ(header.Minimum,
              std::min<int>(7, *std::min_element(frame.pixels.begin(), frame.pixels.begin() + 501)));
    // The caller learns that the block is not a whole frame.
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_IO_ERROR});
}

TEST_F(KorvicomReadout, RefusedTransferSizeIsReportedOnceAndTheFrameStillArrives)
{
    const auto replay = Pattern(100 * 80);
    sim::SetReplayFrame(0, replay);
    sim::Faults faults;
    faults.refuseTransferSize = true;
    faults.transferSizeStatus = FT_INVALID_PARAMETER;
    Inject(faults);
    Frame frame(100, 80, 0);
    AcquisitionHeader header = Geometry(0, 99, 0, 79, 1, 1);
    _ReadCCD(frame.table.data(), &header, 0, RecordStatus);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_INVALID_PARAMETER});
    EXPECT_EQ(frame.pixels, *replay);
}

TEST_F(KorvicomReadout, FailedCommandWriteIsReportedAndTheReadoutEnds)
{
    FailCall("FT_Write", 1, FT_IO_ERROR);
    Frame frame(30, 20, 9);
    AcquisitionHeader header = Geometry(0, 29, 0, 19, 1, 1);
    _ReadCCD(frame.table.data(), &header, 0, RecordStatus);
    // The write's failure, then the frame that never came.
    EXPECT_EQ(ReportedStatuses(), (std::vector<int>{FT_IO_ERROR, FT_IO_ERROR}));
    EXPECT_EQ(ReadRequests(), (std::vector<long long>{200, 1200}));
    EXPECT_EQ(header.Minimum, 9);
    EXPECT_EQ(header.Maximum, 9);
    EXPECT_EQ(CallNames().back(), "FT_Close");
}

// The device is unplugged once the command has gone out: every later driver call fails.
void InjectDeviceGoneAfterTheCommand()
{
    sim::Faults faults;
    for (const char *function : {"FT_Read", "FT_SetUSBParameters", "FT_Close"})
        faults.failures.push_back({function, 1, FT_IO_ERROR, true});
    sim::SetFaults(faults);
    sim::ClearCallLog();
}

TEST_F(KorvicomReadout, DeviceGoneMidReadoutLeavesTheBlockAndStopsReading)
{
    InjectDeviceGoneAfterTheCommand();
    Frame frame(1565, 1032, 0x2222);
    AcquisitionHeader header = Geometry(0, 1564, 0, 1031, 1, 1);
    _ReadCCD(frame.table.data(), &header, 0, RecordStatus);
    // The prefix read fails silently, the transfer size is reported, the first pixel read ends it
    // and the missing frame is reported.
    EXPECT_EQ(ReadRequests(), (std::vector<long long>{200, 256660}));
    EXPECT_EQ(ReportedStatuses(), (std::vector<int>{FT_IO_ERROR, FT_IO_ERROR}));
    EXPECT_EQ(header.OffsetLevel, 0.0f);
    EXPECT_EQ(header.Minimum, 0x2222);
    EXPECT_EQ(header.Maximum, 0x2222);
    EXPECT_EQ(std::count(frame.pixels.begin(), frame.pixels.end(), 0x2222),
              static_cast<std::ptrdiff_t>(frame.pixels.size()));
    EXPECT_FALSE(sim::GetSnapshot().port.open);

    ReportedStatuses().clear();
    InjectDeviceGoneAfterTheCommand();
    Frame block(256, 256, 0x3333);
    _USBReadDiagnostic(block.table.data(), 256, 256, 0, RecordStatus);
    EXPECT_EQ(ReadRequests(), std::vector<long long>{65536});
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_IO_ERROR});
    EXPECT_EQ(std::count(block.pixels.begin(), block.pixels.end(), 0x3333), 256 * 256);
}

TEST_F(KorvicomReadout, DiagnosticReadsTheTestPatternInSixtyFourKilobyteChunks)
{
    sim::ClearCallLog();
    Frame block(1024, 1024, 0);
    const double seconds = _USBReadDiagnostic(block.table.data(), 1024, 1024, 0x103, RecordStatus);
    EXPECT_GE(seconds, 0.0);
    EXPECT_EQ(sim::WrittenBlocks(), std::vector<Bytes>{MakeBytes({0x0A, 0x03, 0x00, 0x04, 0x00, 0x04})});
    EXPECT_EQ(ExchangeTimeouts(), (std::vector<long long>{15000, 3000}));
    EXPECT_EQ(CallsOf("FT_SetUSBParameters").at(0).args, (std::vector<long long>{65536, 0}));
    EXPECT_EQ(ReadRequests(), std::vector<long long>(32, 65536));
    // The controller's pattern: column + row, row by row.
    bool allMatch = true;
    for (int y = 0; y < 1024 && allMatch; ++y)
        for (int x = 0; x < 1024 && allMatch; ++x)
            allMatch = block.table[y][x] == x + y;
    EXPECT_TRUE(allMatch);
    EXPECT_TRUE(ReportedStatuses().empty());
}

TEST_F(KorvicomReadout, DiagnosticOfUnevenCounts)
{
    sim::ClearCallLog();
    Frame block(3, 5, 0xFFFF);
    _USBReadDiagnostic(block.table.data(), 3, 5, 0, RecordStatus);
    EXPECT_EQ(ReadRequests(), std::vector<long long>{30});
    EXPECT_EQ(block.pixels[14], 2 + 4);
}

// The controller stops after 65546 bytes: the second read waits out the 15 s time-out with the
// last 10 bytes, the third brings nothing and ends the transfer. The time covers both waits.
TEST_F(KorvicomReadout, ShortDiagnosticEndsAtTheFirstEmptyRead)
{
    sim::Faults faults;
    faults.frameBytes = 65536 + 10;
    Inject(faults);
    Frame block(1024, 1024, 0x7777);
    const double seconds = _USBReadDiagnostic(block.table.data(), 1024, 1024, 0, RecordStatus);
    EXPECT_EQ(ReadRequests(), (std::vector<long long>{65536, 65536, 65536}));
    EXPECT_GE(seconds, 2 * 15.0 - 0.01);
    EXPECT_LT(seconds, 10 * 15.0); // far below one wait for each of the 16 chunks
    EXPECT_EQ(block.table[0][0], 0);
    EXPECT_EQ(block.table[32][4], 32 + 4); // word 32772, the last one sent
    EXPECT_EQ(block.table[32][5], 0x7777);
    EXPECT_TRUE(ReportedStatuses().empty());
}

TEST_F(KorvicomReadout, DiagnosticRefusesCountsItCannotSend)
{
    const std::pair<int, int> cases[] = {{0, 5}, {-1, 5}, {5, 0}, {5, -1024}, {65536, 1}};
    for (const auto &[a, b] : cases) {
        sim::ClearCallLog();
        Frame block(4, 4, 0x5555);
        EXPECT_EQ(_USBReadDiagnostic(block.table.data(), a, b, 0, RecordStatus), 0.0) << a << "," << b;
        EXPECT_TRUE(sim::CallLog().empty());
        EXPECT_EQ(std::count(block.pixels.begin(), block.pixels.end(), 0x5555), 16);
    }
    EXPECT_TRUE(ReportedStatuses().empty());
}

TEST_F(KorvicomReadout, DiagnosticOpenFailureReportsOnce)
{
    sim::Faults faults;
    faults.busy = true;
    Inject(faults);
    Frame block(4, 4, 0x5555);
    EXPECT_EQ(_USBReadDiagnostic(block.table.data(), 4, 4, 0, RecordStatus), 0.0);
    EXPECT_EQ(ReportedStatuses(), std::vector<int>{FT_DEVICE_NOT_OPENED});
    EXPECT_EQ(std::count(block.pixels.begin(), block.pixels.end(), 0x5555), 16);
}

} // namespace
} // namespace korvi::test
