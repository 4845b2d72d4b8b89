// Reading a full imaging frame (1565 x 1032, 16 bits) through korvicom from a simulated
// controller that replays a prepared frame, next to a plain memcpy of the same bytes: the floor of
// the transfer. The library reads straight into the caller's block, so the whole difference is
// the per-call link set-up, the readout prefix and the minimum/maximum scan.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "korvicom.h"
#include "simulator/sim_control.h"

namespace
{

constexpr int kColumns = 1565;
constexpr int kRows = 1032;
constexpr std::size_t kPixels = std::size_t(kColumns) * kRows;

std::shared_ptr<const std::vector<std::uint16_t>> PreparedFrame()
{
    static const auto frame = [] {
        auto words = std::make_shared<std::vector<std::uint16_t>>(kPixels);
        std::mt19937 random(11);
        std::normal_distribution<float> sky(1100.0f, 40.0f);
        for (auto &p : *words)
            p = static_cast<std::uint16_t>(sky(random));
        return std::shared_ptr<const std::vector<std::uint16_t>>(std::move(words));
    }();
    return frame;
}

void SetThroughput(benchmark::State &state)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * std::int64_t(kPixels * 2));
}

void BM_ReadCCDFullFrame(benchmark::State &state)
{
    korvi::sim::Config config = korvi::sim::DefaultConfig();
    config.manualClock = true;
    config.callLog = false;
    korvi::sim::Reset(config);
    korvi::sim::SetReplayFrame(0, PreparedFrame());

    std::vector<std::uint16_t> block(kPixels);
    std::vector<std::uint16_t *> rows(kRows);
    for (int j = 0; j < kRows; ++j)
        rows[j] = block.data() + std::size_t(j) * kColumns;
    AcquisitionHeader header;
    header.SensorColumns = kColumns;
    header.SensorRows = kRows;
    header.XLow = 0;
    header.XHigh = kColumns - 1;
    header.YLow = 0;
    header.YHigh = kRows - 1;
    header.XBinning = 1;
    header.YBinning = 1;
    for (auto _ : state) {
        _ReadCCD(rows.data(), &header, 0, nullptr);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    if (block != *PreparedFrame())
        state.SkipWithError("the frame read is not the prepared frame");
    SetThroughput(state);
}

void BM_MemcpySameBytes(benchmark::State &state)
{
    const auto frame = PreparedFrame();
    std::vector<std::uint16_t> block(kPixels);
    for (auto _ : state) {
        std::memcpy(block.data(), frame->data(), kPixels * 2);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    SetThroughput(state);
}

BENCHMARK(BM_ReadCCDFullFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // The simulated controller stands in for the camera.
    setenv("KORVICOM_DEVICE", "simulator", 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
