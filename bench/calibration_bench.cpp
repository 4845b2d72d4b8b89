// Building a master dark and a master flat from 50 frames of 1565 x 1032 on disk, next to the
// floor of merely reading the 50 files, and next to Siril's command-line stack of the same files
// when siril-cli is installed (a run that fails is reported as an error, not a time). Each figure
// also reports the peak memory of one run, measured the same way for both sides: the peak resident
// size the kernel reports for one child process (this program run afresh, or siril-cli, each
// spawned by a small fresh run of this program), less that of the same program doing nothing, so the streamed
// accumulation can be compared with holding the frames. Best of three repetitions of three iterations.
#include "image_data.h"
#include "image_file.h"
#include "processing/calibration.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace
{

constexpr int Width = 1565, Height = 1032, Count = 50;

const std::filesystem::path &Folder()
{
    static const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "korvi_calibration_bench";
    return folder;
}

// The 50 frames as FITS files (written once, one frame in memory at a time): bias 1000 with
// read noise, a little dark current and a few hot pixels.
const std::vector<std::string> &Files()
{
    static const std::vector<std::string> files = [] {
        std::filesystem::create_directories(Folder());
        std::vector<std::string> names;
        std::mt19937 random(50);
        std::normal_distribution<float> noise(0.0f, 8.0f);
        for (int k = 0; k < Count; ++k) {
            const std::string name = (Folder() / ("dark_" + std::to_string(k + 1) + ".fit")).string();
            names.push_back(name);
            if (std::filesystem::exists(name))
                continue;
            ImageData image;
            image.Allocate(Width, Height, 1);
            for (int y = 0; y < Height; ++y)
                for (int x = 0; x < Width; ++x)
                    image.Rows[y][x] = static_cast<std::uint16_t>(
                        1000.0f + 0.002f * static_cast<float>(x * y % 9000) + noise(random) +
                        ((x * 7919 + y * 104729) % 50000 == 0 ? 30000.0f : 0.0f));
            image.OffsetLevel = 1000.0f;
            image.XHi = Width - 1;
            image.YHi = Height - 1;
            image.XBin = image.YBin = 1;
            image.MaxColumns = Width;
            image.MaxRows = Height;
            SaveImageFile(name, FormatFits, image);
        }
        return names;
    }();
    return files;
}

// Runs a program (its output thrown away) and returns its exit status and its peak resident size
// in kB, as the kernel reports it for that one child (wait4). Both sides' peaks are measured this
// way, each less the peak of the same program doing nothing.
int RunChild(const std::vector<std::string> &arguments, long &peakKb)
{
    peakKb = 0;
    std::vector<char *> argv;
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child)
        return -1;
    peakKb = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Self()
{
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

// The peak of one run of a program, spawned by a fresh small run of this program ("--peak-child"):
// the kernel carries the spawner's own peak into its child's figure, so the spawner must not be
// this large benchmark process. False when the run failed.
bool FreshPeakKb(const std::vector<std::string> &run, long &peakKb)
{
    std::vector<std::string> arguments = {Self(), "--peak-child"};
    arguments.insert(arguments.end(), run.begin(), run.end());
    std::string command;
    for (const std::string &a : arguments)
        command += "'" + a + "' ";
    FILE *pipe = popen(command.c_str(), "r");
    int status = -1;
    peakKb = 0;
    if (pipe) {
        if (std::fscanf(pipe, "%d %ld", &status, &peakKb) != 2)
            status = -1;
        pclose(pipe);
    }
    return status == 0;
}

void ReportPeak(benchmark::State &state, const std::vector<std::string> &run,
                const std::vector<std::string> &idle)
{
    long peak = 0, idlePeak = 0;
    if (!FreshPeakKb(run, peak) || !FreshPeakKb(idle, idlePeak)) {
        state.SkipWithError("the peak-memory run failed");
        return;
    }
    state.counters["peak_extra_MB"] = static_cast<double>(peak - idlePeak) / 1024.0;
}

void ReportPeak(benchmark::State &state, const std::string &what)
{
    ReportPeak(state, {Self(), "--peak-run=" + what}, {Self(), "--peak-run=idle"});
}

void Build(CalibrationFrameKind kind)
{
    ImageData frame;
    BuildCalibrationFrame(Files(), kind, frame);
    benchmark::DoNotOptimize(frame.Rows.Data());
}

void ReadAll()
{
    ImageData image;
    for (const std::string &name : Files()) {
        image.Free();
        LoadImageFile(name, image);
        benchmark::DoNotOptimize(image.Rows.Data());
    }
}

// Floor: reading the 50 files, one at a time, and nothing else.
void BM_ReadFiftyFrames(benchmark::State &state)
{
    Files();
    for (auto _ : state)
        ReadAll();
    ReportPeak(state, "read");
}
BENCHMARK(BM_ReadFiftyFrames)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);

void BM_MasterFrame(benchmark::State &state)
{
    const auto kind = state.range(0) == 0 ? CalibrationFrameKind::Dark : CalibrationFrameKind::Flat;
    Files();
    for (auto _ : state)
        Build(kind);
    ReportPeak(state, kind == CalibrationFrameKind::Dark ? "dark" : "flat");
    state.SetLabel(kind == CalibrationFrameKind::Dark ? "master dark" : "master flat");
}
BENCHMARK(BM_MasterFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);

// Siril's stack (sum) of the same files, through its command line, when it is installed.
void BM_SirilStack(benchmark::State &state)
{
    if (std::system("command -v siril-cli > /dev/null 2>&1") != 0) {
        state.SkipWithError("siril-cli is not installed: no peer figure in this run");
        return;
    }
    Files();
    const std::filesystem::path script = Folder() / "stack.ssf";
    {
        std::ofstream out(script);
        out << "requires 1.0.0\ncd " << Folder().string()
            << "\nconvert dark -out=" << (Folder() / "seq").string() << "\ncd " << (Folder() / "seq").string()
            << "\nstack dark sum -nonorm\n";
    }
    const std::vector<std::string> command = {"siril-cli", "-s", script.string()};
    for (auto _ : state) {
        long peak = 0;
        if (RunChild(command, peak) != 0) { // a failed run is not a time
            state.SkipWithError("siril-cli failed: no peer figure in this run");
            return;
        }
    }
    ReportPeak(state, command, {"siril-cli", "--version"});
}
BENCHMARK(BM_SirilStack)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && std::string(argv[1]) == "--peak-child") {
        long peak = 0;
        const int status = RunChild(std::vector<std::string>(argv + 2, argv + argc), peak);
        std::printf("%d %ld\n", status, peak);
        return 0;
    }
    if (argc == 2 && std::string(argv[1]).rfind("--peak-run=", 0) == 0) {
        const std::string what = argv[1] + 11;
        if (what == "read")
            ReadAll();
        else if (what == "dark")
            Build(CalibrationFrameKind::Dark);
        else if (what == "flat")
            Build(CalibrationFrameKind::Flat);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
