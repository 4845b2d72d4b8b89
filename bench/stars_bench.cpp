// Resampling a 16-bit 4096 x 4096 frame under a shift and a rotation (bilinear, all cores), in
// MB/s of output pixels, next to a plain copy of the same pixels: the floor no resampling can
// beat. The serial figure shows what the row-parallel loop gains. Also: the 3 x 3 median that
// FindStarCentroid runs over a whole frame, and FindStarCentroid itself on one thread and on all
// cores, next to the same steps in OpenCV on one thread (when OpenCV was found at configure time):
// medianBlur 3 into a reused destination, minMaxLoc, and the weighted sums over the 13 x 13 window.
#include "image_data.h"
#include "processing/stars.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>

#ifdef KORVI_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace
{

constexpr int Side = 4096;
constexpr std::int64_t FrameBytes = std::int64_t{Side} * Side * 2;

const ImageData &Frame()
{
    static ImageData frame = [] {
        ImageData image;
        image.Allocate(Side, Side, 1);
        std::mt19937 random(2026);
        std::normal_distribution<float> noise(0.0f, 12.0f);
        for (int y = 0; y < Side; ++y)
            for (int x = 0; x < Side; ++x)
                image.Rows[y][x] = static_cast<std::uint16_t>(1100.0f + noise(random));
        for (int dy = -4; dy <= 4; ++dy) // one star for the centroid
            for (int dx = -4; dx <= 4; ++dx)
                image.Rows[2900 + dy][1300 + dx] +=
                    static_cast<std::uint16_t>(30000 / (1 + dx * dx + dy * dy));
        return image;
    }();
    return frame;
}

const ImageTransform ShiftAndRotation{3.37f, -12.81f, 0.0123f, Side / 2.0f, Side / 2.0f, 1.0f, 1.0f};

void BM_CopyFrame(benchmark::State &state)
{
    const ImageData &image = Frame();
    UShortMatrix target(Side, Side);
    target.Fill(0); // its pages are in memory before the timing starts
    for (auto _ : state) {
        std::memcpy(target.Data(), image.Rows.Data(), FrameBytes);
        benchmark::DoNotOptimize(target.Data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * FrameBytes);
}

void BM_ResampleFrame(benchmark::State &state)
{
    const ImageData &image = Frame();
    const int threads = omp_get_max_threads();
    omp_set_num_threads(state.range(0) == 0 ? threads : static_cast<int>(state.range(0)));
    UShortMatrix target(Side, Side);
    target.Fill(0); // its pages are in memory before the timing starts
    for (auto _ : state) {
        ResampleFrame(image, ShiftAndRotation, target);
        benchmark::DoNotOptimize(target.Data());
        benchmark::ClobberMemory();
    }
    omp_set_num_threads(threads);
    state.SetBytesProcessed(state.iterations() * FrameBytes);
}

void BM_MedianFilterMatrix3(benchmark::State &state)
{
    const ImageData &image = Frame();
    UShortMatrix target;
    for (auto _ : state) {
        MedianFilterMatrix(image.Rows, 3, Side, Side, target);
        benchmark::DoNotOptimize(target.Data());
    }
    state.SetBytesProcessed(state.iterations() * FrameBytes);
}

void BM_FindStarCentroid(benchmark::State &state)
{
    const ImageData &image = Frame();
    const int threads = omp_get_max_threads();
    omp_set_num_threads(state.range(0) == 0 ? threads : static_cast<int>(state.range(0)));
    for (auto _ : state) {
        float x = 0.0f, y = 0.0f;
        FindStarCentroid(image.Rows, Side, Side, x, y);
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(y);
    }
    omp_set_num_threads(threads);
    state.SetBytesProcessed(state.iterations() * FrameBytes);
}

#ifdef KORVI_HAVE_OPENCV
void BM_OpenCvStarCentroid(benchmark::State &state)
{
    cv::setNumThreads(1);
    const cv::Mat source(Side, Side, CV_16UC1, const_cast<std::uint16_t *>(Frame().Rows.Data()));
    cv::Mat median;
    for (auto _ : state) {
        cv::medianBlur(source, median, 3);
        cv::Point peak;
        cv::minMaxLoc(median, nullptr, nullptr, nullptr, &peak);
        double sum = 0.0, sumX = 0.0, sumY = 0.0;
        for (int row = std::max(peak.y - 6, 1); row <= std::min(peak.y + 6, Side - 1); ++row)
            for (int column = std::max(peak.x - 6, 1); column <= std::min(peak.x + 6, Side - 1); ++column) {
                const double v = median.at<std::uint16_t>(row, column);
                sum += v;
                sumX += column * v;
                sumY += row * v;
            }
        benchmark::DoNotOptimize(sumX / sum);
        benchmark::DoNotOptimize(sumY / sum);
    }
    state.SetBytesProcessed(state.iterations() * FrameBytes);
}
BENCHMARK(BM_OpenCvStarCentroid)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

} // namespace

BENCHMARK(BM_CopyFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ResampleFrame)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("threads(0=all)")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_MedianFilterMatrix3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FindStarCentroid)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("threads(0=all)")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_MAIN();
