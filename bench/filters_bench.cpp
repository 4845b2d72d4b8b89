// Each pixel filter on a 4096 x 4096 frame, on one thread and on all cores, next to OpenCV's
// nearest operation on one thread and on all cores (when OpenCV was found at configure time).
//
// Both sides run on warm memory: the frame our filters work on is reused from one iteration to the
// next, OpenCV writes into the same destination cv::Mat every time, and the C heap is kept from
// handing OpenCV's per-call temporaries back to the system (mallopt in main), so neither side pays
// the first touch of fresh pages. Run with --benchmark_repetitions=5
// --benchmark_enable_random_interleaving=true and read the "_min" lines (best of the interleaved
// repetitions) on a loaded machine. Idle OpenMP threads wait passively unless OMP_WAIT_POLICY is
// set (see main): with OpenMP's own default they spin between calls, and on a shared machine the
// all-core figures then measure the contention.
//
// Pairs to read together (same frame, same border handling where OpenCV has it):
//   Convolution3/5   - filter2D with the same kernel, replicated border
//   Gaussian/s       - GaussianBlur with the same radius and sigma
//   LocalAverage/r   - filter2D with the normalised disc
//   Median3/5        - medianBlur 3 and 5
//   MinMax           - erode with the same element (the disc: our 21 cells, not OpenCV's 17-cell
//                      ellipse)
//   Resize           - resize, nearest neighbour
#include "processing/filters.h"
#include "ui_hooks.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <malloc.h>
#include <random>
#include <string>
#include <unistd.h>

#ifdef KORVI_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace
{

constexpr int Side = 4096;

// A sky: noise over a slope, with stars.
const ImageData &Frame()
{
    static ImageData frame = [] {
        ImageData image;
        image.Allocate(Side, Side, 1);
        std::mt19937 random(42);
        std::normal_distribution<float> noise(0.0f, 30.0f);
        for (int y = 0; y < Side; ++y)
            for (int x = 0; x < Side; ++x)
                image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(1000 + x / 64 + noise(random));
        for (int star = 0; star < 2000; ++star) {
            const int cx = static_cast<int>(random() % (Side - 8)) + 4,
                      cy = static_cast<int>(random() % (Side - 8)) + 4;
            for (int dy = -3; dy <= 3; ++dy)
                for (int dx = -3; dx <= 3; ++dx)
                    image.FrameRow(0, cy + dy)[cx + dx] = static_cast<std::uint16_t>(std::min(
                        65535, image.FrameRow(0, cy + dy)[cx + dx] + 40000 / (1 + dx * dx + dy * dy)));
        }
        return image;
    }();
    return frame;
}

// Runs a filter on a fresh copy of the frame each iteration (the copy is not timed).
template <typename Filter> void RunOurs(benchmark::State &state, bool allCores, Filter filter)
{
    const int threads = omp_get_max_threads();
    omp_set_num_threads(allCores ? threads : 1);
    SilentProcessing = true;
    ImageData image;
    for (auto _ : state) {
        state.PauseTiming();
        image.Assign(Frame());
        state.ResumeTiming();
        filter(image);
        benchmark::DoNotOptimize(image.FramePixels(0));
    }
    omp_set_num_threads(threads);
    state.SetItemsProcessed(state.iterations() * Side * Side);
}

double Fastest(const std::vector<double> &v)
{
    return *std::min_element(v.begin(), v.end());
}

void Ours(const char *name, std::function<void(ImageData &)> filter)
{
    benchmark::RegisterBenchmark((std::string(name) + "/korvi_1_thread").c_str(),
                                 [filter](benchmark::State &s) { RunOurs(s, false, filter); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->ComputeStatistics("min", Fastest);
    benchmark::RegisterBenchmark((std::string(name) + "/korvi_all_cores").c_str(),
                                 [filter](benchmark::State &s) { RunOurs(s, true, filter); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->ComputeStatistics("min", Fastest);
}

ConvolutionKernels LowPass(int size)
{
    ConvolutionKernels k;
    for (int m = 0; m < size; ++m)
        for (int n = 0; n < size; ++n)
            k.Cell[m][n][0] = m == size / 2 && n == size / 2 ? 8.0f : 1.0f;
    return k;
}

#ifdef KORVI_HAVE_OPENCV
template <typename Operation> void RunOpenCv(benchmark::State &state, bool allCores, Operation operation)
{
    cv::setNumThreads(allCores ? omp_get_max_threads() : 1);
    const cv::Mat source(Side, Side, CV_16UC1, const_cast<std::uint16_t *>(Frame().FramePixels(0)));
    cv::Mat target;
    for (auto _ : state) {
        operation(source, target);
        benchmark::DoNotOptimize(target.data);
    }
    cv::setNumThreads(1);
    state.SetItemsProcessed(state.iterations() * Side * Side);
}

void Peer(const char *name, std::function<void(const cv::Mat &, cv::Mat &)> operation)
{
    for (bool allCores : {false, true})
        benchmark::RegisterBenchmark(
            (std::string(name) + (allCores ? "/opencv_all_cores" : "/opencv_1_thread")).c_str(),
            [operation, allCores](benchmark::State &s) { RunOpenCv(s, allCores, operation); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->ComputeStatistics("min", Fastest);
}

// Our element as an OpenCV structuring element.
cv::Mat Element(int element)
{
    cv::Mat kernel(5, 5, CV_8U);
    for (int row = 0; row < 5; ++row)
        for (int column = 0; column < 5; ++column)
            kernel.at<unsigned char>(row, column) =
                StructuringElementRows[element][row][column] == '1' ? 1 : 0;
    return kernel;
}

cv::Mat KernelMat(const ConvolutionKernels &k, int size)
{
    cv::Mat kernel(size, size, CV_32F);
    float sum = 0.0f;
    for (int m = 0; m < size; ++m)
        for (int n = 0; n < size; ++n)
            sum += k.Cell[m][n][0];
    for (int m = 0; m < size; ++m)
        for (int n = 0; n < size; ++n)
            kernel.at<float>(n, m) = k.Cell[m][n][0] / sum;
    return kernel;
}

cv::Mat Disc(int radius)
{
    cv::Mat kernel = cv::Mat::zeros(2 * radius + 1, 2 * radius + 1, CV_32F);
    int count = 0;
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx)
            if (dx * dx + dy * dy <= radius * radius) {
                kernel.at<float>(dy + radius, dx + radius) = 1.0f;
                ++count;
            }
    return kernel / count;
}
#endif

void Register()
{
    for (int size : {3, 5}) {
        const std::string name = "Convolution" + std::to_string(size);
        const ConvolutionKernels k = LowPass(size);
        Ours(name.c_str(), [k, size](ImageData &i) { ApplyConvolution(i, size == 5, k); });
#ifdef KORVI_HAVE_OPENCV
        const cv::Mat kernel = KernelMat(k, size);
        Peer(name.c_str(), [kernel](const cv::Mat &s, cv::Mat &t) {
            cv::filter2D(s, t, CV_16U, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
        });
#endif
    }
    for (int sigma : {1, 2, 5}) {
        const std::string name = "Gaussian/" + std::to_string(sigma);
        Ours(name.c_str(), [sigma](ImageData &i) { ApplyGaussianConvolution(i, sigma); });
#ifdef KORVI_HAVE_OPENCV
        const int radius = std::min(3 * sigma, 15);
        Peer(name.c_str(), [sigma, radius](const cv::Mat &s, cv::Mat &t) {
            cv::GaussianBlur(s, t, cv::Size(2 * radius + 1, 2 * radius + 1), sigma, sigma,
                             cv::BORDER_CONSTANT);
        });
#endif
    }
    for (int radius : {1, 3, 8}) {
        const std::string name = "LocalAverage/" + std::to_string(radius);
        Ours(name.c_str(), [radius](ImageData &i) { ApplyLocalAverage(i, radius); });
#ifdef KORVI_HAVE_OPENCV
        const cv::Mat kernel = Disc(radius);
        Peer(name.c_str(), [kernel](const cv::Mat &s, cv::Mat &t) {
            cv::filter2D(s, t, CV_16U, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
        });
#endif
    }
    for (int n : {3, 5}) {
        const std::string name = "Median" + std::to_string(n);
        Ours(name.c_str(), [n](ImageData &i) { ApplyMedianFilter(i, n, 0.0f); });
#ifdef KORVI_HAVE_OPENCV
        Peer(name.c_str(), [n](const cv::Mat &s, cv::Mat &t) { cv::medianBlur(s, t, n); });
#endif
    }
    Ours("Median9", [](ImageData &i) { ApplyMedianFilter(i, 9, 0.0f); });
    Ours("MinMax/square", [](ImageData &i) { ApplyMinMaxFilter(ElementSquare, true, i); });
    Ours("MinMax/disc", [](ImageData &i) { ApplyMinMaxFilter(ElementDisc, true, i); });
#ifdef KORVI_HAVE_OPENCV
    Peer("MinMax/square", [](const cv::Mat &s, cv::Mat &t) {
        cv::erode(s, t, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)), cv::Point(-1, -1), 1,
                  cv::BORDER_REPLICATE);
    });
    const cv::Mat disc = Element(ElementDisc);
    Peer("MinMax/disc", [disc](const cv::Mat &s, cv::Mat &t) {
        cv::erode(s, t, disc, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    });
#endif
    Ours("UnsharpMask", [](ImageData &i) { ApplyUnsharpMask(i, 2, 3, 0, 10, 0.2f, true); });
    Ours("Resize/0.5", [](ImageData &i) { ResizeImage(0.5, 0.5, i); });
#ifdef KORVI_HAVE_OPENCV
    Peer("Resize/0.5", [](const cv::Mat &s, cv::Mat &t) {
        cv::resize(s, t, cv::Size(Side / 2, Side / 2), 0, 0, cv::INTER_NEAREST);
    });
#endif
}

} // namespace

int main(int argc, char **argv)
{
    // Idle OpenMP threads wait passively unless the caller chose otherwise: spinning threads compete
    // with the working ones on a loaded machine and the all-core figures measure that contention.
    // The runtime reads the policy when it is loaded, before main, so the bench starts itself again
    // with it set (and carries on as it is should that fail).
    if (!std::getenv("OMP_WAIT_POLICY") && setenv("OMP_WAIT_POLICY", "passive", 1) == 0)
        execv("/proc/self/exe", argv);
    // Large blocks from the heap, kept when freed: OpenCV's temporaries reuse warm pages.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, -1);
    Register();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
