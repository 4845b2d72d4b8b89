// Frame readout and diagnostic readout: one command, then a stream of 16-bit words read in large
// chunks straight into the caller's pixel block (no intermediate buffer, no per-pixel work while
// the transfer runs).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "korvicom_link.h"

namespace korvicom
{
namespace
{

constexpr int kReadoutTimeoutMs = 3000;
constexpr int kDiagnosticReadTimeoutMs = 15000;
constexpr int kPrefixWords = 100;
constexpr std::uint8_t kReadoutOpcode = 2;
constexpr std::uint8_t kDiagnosticOpcode = 10;
// Coordinates and counts travel as 16-bit words; larger values would not reach the controller
// as the library computed them.
constexpr std::int64_t kWordMax = 65535;

// Frame size along one axis: the span divided by the binning, rounded up. A binning the
// controller cannot take gives 0.
std::int64_t BinnedSize(std::int32_t low, std::int32_t high, std::int32_t binning)
{
    if (binning < 1)
        return 0;
    const std::int64_t span = static_cast<std::int64_t>(high) - low + 1;
    return static_cast<std::int64_t>(std::ceil(static_cast<double>(span) / binning));
}

bool AxisReadable(std::int32_t low, std::int32_t high, std::int32_t binning)
{
    return binning >= 1 && binning <= 255 && low >= 0 && low <= high && high <= kWordMax;
}

// The frame goes into the block through the first row pointer in one stream, so row j must
// start columns x j pixels after row 0. A table laid out for another width (an image sized
// for other geometry) would take more words than its block holds: such a table is refused.
bool RowTableFits(std::uint16_t *const *rows, std::int64_t columns, std::int64_t frameRows)
{
    if (rows == nullptr || rows[0] == nullptr)
        return false;
    // Compared as addresses: a table laid out wrongly may point anywhere, and pointer arithmetic
    // past the end of the caller's block would itself be undefined.
    const auto start = reinterpret_cast<std::uintptr_t>(rows[0]);
    const auto rowBytes = static_cast<std::uintptr_t>(columns) * sizeof(std::uint16_t);
    for (std::int64_t j = 1; j < frameRows; ++j)
        if (reinterpret_cast<std::uintptr_t>(rows[j]) - start != static_cast<std::uintptr_t>(j) * rowBytes)
            return false;
    return true;
}

// A size for the header: an empty or reversed span is 0, never negative.
std::int32_t HeaderSize(std::int64_t value)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 0, INT32_MAX));
}

// Reads byteCount bytes into the block in chunks of at most chunkBytes. Each chunk lands where
// the previous one ended; a read that brings nothing (the controller stopped sending) ends the
// transfer instead of waiting out the time-out once per remaining chunk. Returns the bytes that
// did not arrive.
std::uint64_t ReadBlock(FT_HANDLE handle, std::uint8_t *block, std::uint64_t byteCount,
                        std::uint64_t chunkBytes)
{
    while (byteCount > 0) {
        const DWORD ask = static_cast<DWORD>(std::min(chunkBytes, byteCount));
        DWORD got = 0;
        FT_Read(handle, block, ask, &got);
        if (got == 0)
            break;
        got = std::min(got, ask);
        block += got;
        byteCount -= got;
    }
    return byteCount;
}

// The smallest and largest pixel through the row table. Built for several instruction sets
// (16-bit unsigned min/max is native from SSE4.1 on) and chosen when the library loads. Not
// under ThreadSanitizer: the chooser runs while the library is relocated, before that runtime is
// ready, and the program would crash at load.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx2", "sse4.1", "default")))
#endif
void ScanExtremes(std::uint16_t *const *rows, std::int64_t columns, std::int64_t frameRows, std::uint16_t &minimum,
                  std::uint16_t &maximum)
{
    std::uint16_t lo = minimum;
    std::uint16_t hi = maximum;
    for (std::int64_t j = 0; j < frameRows; ++j) {
        const std::uint16_t *row = rows[j];
        for (std::int64_t i = 0; i < columns; ++i) {
            lo = std::min(lo, row[i]);
            hi = std::max(hi, row[i]);
        }
    }
    minimum = lo;
    maximum = hi;
}

} // namespace
} // namespace korvicom

using namespace korvicom;

extern "C" {

double _ReadCCD(uint16_t **rows, AcquisitionHeader *header, int camera, UsbErrorCallback callback)
{
    if (header == nullptr)
        return 0.0;
    const std::int64_t columns = BinnedSize(header->XLow, header->XHigh, header->XBinning);
    const std::int64_t frameRows = BinnedSize(header->YLow, header->YHigh, header->YBinning);
    header->Columns = HeaderSize(columns);
    header->Rows = HeaderSize(frameRows);
    // A geometry the controller cannot carry out as computed, or a row table not laid out for
    // it, would overrun or misfill the caller's block: nothing is sent or read.
    if (!AxisReadable(header->XLow, header->XHigh, header->XBinning) ||
        !AxisReadable(header->YLow, header->YHigh, header->YBinning) ||
        !RowTableFits(rows, columns, frameRows))
        return 0.0;

    FT_HANDLE handle = OpenCameraLink(kReadoutTimeoutMs, kCommandWriteTimeoutMs, callback);
    if (handle == nullptr)
        return 0.0;
    const double t0 = NowSeconds();

    const std::uint16_t command[8] = {
        CommandWord(camera, kReadoutOpcode),
        static_cast<std::uint16_t>(header->XLow),
        static_cast<std::uint16_t>(header->XHigh),
        static_cast<std::uint16_t>(header->YLow),
        static_cast<std::uint16_t>(header->YHigh),
        static_cast<std::uint16_t>(((header->YBinning & 0xFF) << 8) | (header->XBinning & 0xFF)),
        static_cast<std::uint16_t>(header->SensorColumns),
        static_cast<std::uint16_t>(header->SensorRows),
    };
    WriteReported(handle, command, sizeof command, callback);

    std::uint16_t prefix[kPrefixWords] = {};
    DWORD prefixBytes = 0;
    FT_Read(handle, prefix, sizeof prefix, &prefixBytes);

    // Chunks of whole rows close to 256 KB, so the driver hands over large blocks.
    std::uint64_t transfer =
        4 * static_cast<std::uint64_t>(columns) * (65536 / static_cast<std::uint64_t>(columns));
    if (transfer == 0)
        transfer = 65536;
    Report(callback, FT_SetUSBParameters(handle, static_cast<ULONG>(transfer), 0));

    const std::uint64_t words = static_cast<std::uint64_t>(columns) * static_cast<std::uint64_t>(frameRows);
    const std::uint64_t missing =
        ReadBlock(handle, reinterpret_cast<std::uint8_t *>(rows[0]), words * 2, transfer);
    FT_Close(handle);
    // A frame cut short holds whatever the block held before past the last byte that came: the
    // caller must not take it for a frame, so it is reported like any failed transfer.
    if (missing > 0)
        Report(callback, FT_IO_ERROR);

    std::uint32_t prefixSum = 0;
    for (std::uint16_t word : prefix)
        prefixSum += word;
    header->OffsetLevel = static_cast<float>(prefixSum / kPrefixWords);
    header->TopDarkLevel = 0.0f;
    header->BottomDarkLevel = 0.0f;
    const double t1 = NowSeconds();

    // The extremes come after the clock stops, so the elapsed time covers command and transfer.
    std::uint16_t minimum = 65535;
    std::uint16_t maximum = 0;
    ScanExtremes(rows, columns, frameRows, minimum, maximum);
    header->Maximum = maximum;
    header->Minimum = minimum;
    return t1 - t0;
}

double _USBReadDiagnostic(uint16_t **rows, int countA, int countB, int parameter, UsbErrorCallback callback)
{
    if (countA < 1 || countA > kWordMax || countB < 1 || countB > kWordMax || rows == nullptr ||
        rows[0] == nullptr)
        return 0.0;
    FT_HANDLE handle = OpenCameraLink(kDiagnosticReadTimeoutMs, kCommandWriteTimeoutMs, callback);
    if (handle == nullptr)
        return 0.0;
    const std::uint16_t command[3] = {CommandWord(parameter, kDiagnosticOpcode),
                                      static_cast<std::uint16_t>(countA), static_cast<std::uint16_t>(countB)};
    WriteReported(handle, command, sizeof command, callback);
    const double t0 = NowSeconds();
    Report(callback, FT_SetUSBParameters(handle, 65536, 0));
    const std::uint64_t words = static_cast<std::uint64_t>(countA) * static_cast<std::uint64_t>(countB);
    ReadBlock(handle, reinterpret_cast<std::uint8_t *>(rows[0]), words * 2, 65536);
    FT_Close(handle);
    return NowSeconds() - t0;
}

} // extern "C"
