// Registration and stacking of 50 frames of 1565 x 1032 read from disk, by median and by average,
// next to the floor no stack can beat: reading the same 50 files. Each figure is taken in a child
// process of its own, so its peak memory (maximum resident set) is its alone; the time includes
// starting the child. When siril-cli is on the PATH the series is also written as FITS, and both
// sides are measured from those same FITS files: Siril's command-line register and stack, Siril's
// conversion alone (its floor, as reading is ours), and our stack from the FITS files; otherwise
// those lines are skipped and say so.
//
// What each side does (also the label printed next to each figure):
//   ours:  reads each frame, finds the two reference stars' centroids in their boxes, turns and
//          shifts the frame onto the first, and keeps it for the per-pixel median (or adds it to
//          the mean).
//   Siril: converts the FITS files into a sequence of its own, detects the stars of every frame
//          and matches them to the reference (global star alignment: more work than two boxes),
//          writes the registered frames, and stacks them (median, or mean with no rejection),
//          without normalisation.
// Best of three repetitions of two runs each: read the "_min" lines on a loaded machine.
#include "image_data.h"
#include "image_file.h"
#include "processing/stacking.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace
{

constexpr int Width = 1565, Height = 1032, Frames = 50;
constexpr int Star1X = 400, Star1Y = 300, Star2X = 1100, Star2Y = 700;

std::string &Folder()
{
    static std::string folder;
    return folder;
}

std::string SelfPath()
{
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

// Runs this program (or another command through /bin/sh) in a child and returns its wall time in
// seconds and its peak resident memory in MB; false when it failed.
bool Measure(const std::vector<std::string> &arguments, double &seconds, double &peakMB)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char *> argv;
        for (const std::string &a : arguments)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return false;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peakMB = usage.ru_maxrss / 1024.0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string FrameName(int k, const char *extension)
{
    return Folder() + "/frame_" + std::to_string(k) + "." + extension;
}

// The series: sky 1000 with read noise 15, 60 stars, every frame shifted by up to 4 px and turned
// by up to 0.002 rad about the centre. Also written as FITS for Siril when fits is set.
int WriteSeries(bool fits)
{
    std::mt19937 random(2026);
    std::normal_distribution<float> noise(0.0f, 15.0f);
    std::uniform_real_distribution<double> shift(-4.0, 4.0), turn(-0.002, 0.002);
    std::uniform_real_distribution<double> placeX(30, Width - 30), placeY(30, Height - 30);
    std::vector<std::pair<double, double>> stars{{Star1X, Star1Y}, {Star2X, Star2Y}};
    for (int i = 0; i < 58; ++i)
        stars.emplace_back(placeX(random), placeY(random));
    ImageData frame;
    frame.Allocate(Width, Height, 1);
    for (int k = 1; k <= Frames; ++k) {
        const double dx = k == 1 ? 0 : shift(random), dy = k == 1 ? 0 : shift(random),
                     a = k == 1 ? 0 : turn(random);
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                frame.Rows[y][x] = static_cast<std::uint16_t>(1000.0f + noise(random));
        for (std::size_t s = 0; s < stars.size(); ++s) {
            const double rx = stars[s].first - Width / 2.0, ry = stars[s].second - Height / 2.0;
            const double cx = Width / 2.0 + rx * std::cos(a) - ry * std::sin(a) + dx;
            const double cy = Height / 2.0 + rx * std::sin(a) + ry * std::cos(a) + dy;
            const double peak = s < 2 ? 30000.0 : 3000.0 + 300.0 * s;
            for (int y = static_cast<int>(cy) - 8; y <= static_cast<int>(cy) + 8; ++y)
                for (int x = static_cast<int>(cx) - 8; x <= static_cast<int>(cx) + 8; ++x) {
                    const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                    frame.Rows[y][x] = static_cast<std::uint16_t>(
                        std::min(65535.0, frame.Rows[y][x] + peak * std::exp(-r2 / 4.5)));
                }
        }
        frame.OffsetLevel = 1000.0f;
        if (!frame.SaveToFile(FrameName(k, "kvr"), FormatNative) ||
            (fits && !frame.SaveToFile(FrameName(k, "fit"), FormatFits)))
            return 1;
    }
    return 0;
}

int ReadSeries()
{
    ImageData frame;
    for (int k = 1; k <= Frames; ++k)
        if (!LoadImageFile(FrameName(k, "kvr"), frame))
            return 1;
    return 0;
}

int Stack(CombineMethod method, const char *extension)
{
    ImageData reference, result;
    if (!LoadImageFile(FrameName(1, extension), reference))
        return 1;
    StackOptions options;
    options.Combine = method;
    options.Alignment = StackAlignment::TwoBoxes;
    options.Crop = {0, Width - 1, 0, Height - 1};
    options.Box1 = {Star1X - 20, Star1X + 20, Star1Y - 20, Star1Y + 20};
    options.Box2 = {Star2X - 20, Star2X + 20, Star2Y - 20, Star2Y + 20};
    std::string problem;
    if (!StackSeries(
            reference, Frames, options, SeriesFileLoader(Folder() + "/frame_", 1, extension),
            [](const std::string &) {}, result, nullptr, problem)) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    return 0;
}

bool SirilInstalled()
{
    return std::system("command -v siril-cli >/dev/null 2>&1") == 0;
}

// One figure: the child run timed per iteration, its peak memory as a counter, what it does as the
// label.
void RunChild(benchmark::State &state, const std::vector<std::string> &arguments, const char *label)
{
    state.SetLabel(label);
    double peak = 0.0;
    for (auto _ : state) {
        double seconds = 0.0;
        if (!Measure(arguments, seconds, peak)) {
            state.SkipWithError("the child run failed");
            return;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["peak_MB"] = peak;
    state.counters["frames"] = Frames;
}

void BM_ReadFiles_Floor(benchmark::State &state)
{
    RunChild(state, {SelfPath(), "--child=read", Folder()}, "ours: reads the 50 own-format files");
}

void BM_RegisterAndMedian(benchmark::State &state)
{
    RunChild(state, {SelfPath(), "--child=median", Folder()},
             "ours, own format: 2-box centroids, turn + shift, per-pixel median");
}

void BM_RegisterAndMean(benchmark::State &state)
{
    RunChild(state, {SelfPath(), "--child=mean", Folder()},
             "ours, own format: 2-box centroids, turn + shift, mean");
}

// Our stack from the FITS files Siril reads: median (argument 0) and mean (1).
void BM_RegisterAndStackFits(benchmark::State &state)
{
    if (!SirilInstalled()) {
        state.SkipWithError("siril-cli is not installed: no FITS series written, no peer figure in this run");
        return;
    }
    if (state.range(0) == 0)
        RunChild(state, {SelfPath(), "--child=median-fits", Folder()},
                 "ours, the same FITS as Siril: 2-box centroids, turn + shift, per-pixel median");
    else
        RunChild(state, {SelfPath(), "--child=mean-fits", Folder()},
                 "ours, the same FITS as Siril: 2-box centroids, turn + shift, mean");
}

// Siril's floor: converting the FITS files into its sequence, nothing else.
void BM_SirilConvert_Floor(benchmark::State &state)
{
    if (!SirilInstalled()) {
        state.SkipWithError("siril-cli is not installed: no peer figure in this run");
        return;
    }
    const std::string script = Folder() + "/convert.ssf";
    std::ofstream(script) << "requires 1.0.0\ncd " << Folder() << "\nconvert frame -out=siril\n";
    RunChild(
        state,
        {"/bin/sh", "-c", "rm -rf " + Folder() + "/siril && siril-cli -s " + script + " >/dev/null 2>&1"},
        "Siril: converts the 50 FITS files into its sequence");
}

// Siril: register and stack by median (argument 0) and by mean (1).
void BM_SirilRegisterAndStack(benchmark::State &state)
{
    if (!SirilInstalled()) {
        state.SkipWithError("siril-cli is not installed: no peer figure in this run");
        return;
    }
    // Siril converts the files into a sequence of its own (in a fresh folder each run), registers
    // it on its stars (global star alignment) and stacks it without normalisation.
    const std::string script = Folder() + "/stack.ssf";
    std::ofstream(script) << "requires 1.0.0\ncd " << Folder() << "\nconvert frame -out=siril\ncd siril\n"
                          << "register frame\nstack r_frame " << (state.range(0) == 0 ? "med" : "mean n")
                          << " -nonorm\n";
    RunChild(
        state,
        {"/bin/sh", "-c", "rm -rf " + Folder() + "/siril && siril-cli -s " + script + " >/dev/null 2>&1"},
        state.range(0) == 0
            ? "Siril, FITS: convert, star detection + matching, write registered, median stack"
            : "Siril, FITS: convert, star detection + matching, write registered, mean stack");
}

double Fastest(const std::vector<double> &v)
{
    return *std::min_element(v.begin(), v.end());
}

} // namespace

#define KORVI_STACK_FIGURE(b)                                                                                \
    BENCHMARK(b)                                                                                             \
        ->UseManualTime()                                                                                    \
        ->Iterations(2)                                                                                      \
        ->Repetitions(3)                                                                                     \
        ->ComputeStatistics("min", Fastest)                                                                  \
        ->Unit(benchmark::kMillisecond)
KORVI_STACK_FIGURE(BM_ReadFiles_Floor);
KORVI_STACK_FIGURE(BM_RegisterAndMedian);
KORVI_STACK_FIGURE(BM_RegisterAndMean);
KORVI_STACK_FIGURE(BM_RegisterAndStackFits)->Arg(0)->Arg(1);
KORVI_STACK_FIGURE(BM_SirilConvert_Floor);
KORVI_STACK_FIGURE(BM_SirilRegisterAndStack)->Arg(0)->Arg(1);

int main(int argc, char **argv)
{
    if (argc == 3 && std::string(argv[1]).rfind("--child=", 0) == 0) {
        Folder() = argv[2];
        const std::string mode = std::string(argv[1]).substr(8);
        if (mode == "write")
            return WriteSeries(SirilInstalled());
        if (mode == "read")
            return ReadSeries();
        const bool fits = mode.size() > 5 && mode.substr(mode.size() - 5) == "-fits";
        return Stack(mode.rfind("median", 0) == 0 ? CombineMethod::Median : CombineMethod::Average,
                     fits ? "fit" : "kvr");
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("stacking_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    Folder() = folder.string();
    double seconds = 0.0, peak = 0.0;
    if (!Measure({SelfPath(), "--child=write", Folder()}, seconds, peak)) {
        std::fprintf(stderr, "Could not write the series into %s\n", Folder().c_str());
        return 1;
    }
    std::printf("Series of %d frames of %d x %d written in %.1f s to %s\n", Frames, Width, Height, seconds,
                Folder().c_str());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(folder);
    return 0;
}
