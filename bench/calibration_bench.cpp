// Building a master dark and a master flat from 50 frames of 1565 x 1032 on disk, next to the
// floor of merely reading the 50 files, and next to Siril's command-line stack of the same files
// when siril-cli is installed. Each figure also reports the peak memory of one run, measured in a
// child process (peak resident size less that of an idle child), so the streamed accumulation can
// be compared with holding the frames. Each peak comes from a fresh run of this program.
#include "image_data.h"
#include "image_file.h"
#include "processing/calibration.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

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

// The peak resident size (VmHWM, kB) of this process so far.
long PeakKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// Runs this program afresh with "--peak-run=<what>" and reads the peak it reports, so each figure
// starts from a clean process, less the peak of an idle run.
long FreshPeakKb(const std::string &what)
{
    const std::string command =
        std::filesystem::read_symlink("/proc/self/exe").string() + " --peak-run=" + what + " 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    long kb = 0;
    if (pipe) {
        if (std::fscanf(pipe, "%ld", &kb) != 1)
            kb = 0;
        pclose(pipe);
    }
    return kb;
}

void ReportPeak(benchmark::State &state, const std::string &what)
{
    state.counters["peak_extra_MB"] = static_cast<double>(FreshPeakKb(what) - FreshPeakKb("idle")) / 1024.0;
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
BENCHMARK(BM_ReadFiftyFrames)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_MasterFrame(benchmark::State &state)
{
    const auto kind = state.range(0) == 0 ? CalibrationFrameKind::Dark : CalibrationFrameKind::Flat;
    Files();
    for (auto _ : state)
        Build(kind);
    ReportPeak(state, kind == CalibrationFrameKind::Dark ? "dark" : "flat");
    state.SetLabel(kind == CalibrationFrameKind::Dark ? "master dark" : "master flat");
}
BENCHMARK(BM_MasterFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

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
    const std::string command = "siril-cli -s " + script.string() + " > /dev/null 2>&1";
    for (auto _ : state)
        benchmark::DoNotOptimize(std::system(command.c_str()));
    ReportPeak(state, "siril");
}
BENCHMARK(BM_SirilStack)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::string(argv[1]).rfind("--peak-run=", 0) == 0) {
        const std::string what = argv[1] + 11;
        if (what == "read")
            ReadAll();
        else if (what == "dark")
            Build(CalibrationFrameKind::Dark);
        else if (what == "flat")
            Build(CalibrationFrameKind::Flat);
        else if (what == "siril") {
            // Siril runs in a child: its peak (the largest reaped child's) is the figure.
            std::system(("siril-cli -s " + (Folder() / "stack.ssf").string() + " > /dev/null 2>&1").c_str());
            rusage usage{};
            getrusage(RUSAGE_CHILDREN, &usage);
            std::printf("%ld\n", usage.ru_maxrss);
            return 0;
        }
        std::printf("%ld\n", PeakKb());
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
