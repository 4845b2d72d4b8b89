// Loading and saving a 16-bit 4096 x 4096 frame in every image format, in MB/s of pixel data
// (32 MB per frame), each next to an anchor from the same run that does the same work:
//   - loads next to CFITSIO reading the same FITS file into a fresh pixel block (a load makes a
//     fresh pixel block too; the display buffer is lent by the image loaded into, as in a series);
//   - saves next to CFITSIO writing the frame's pixels to a new FITS file with nothing else. Both
//     sides write a file whose name is free (the old one is removed in the timed loop on both
//     sides), as every frame of a series is; the "Replacing" pair writes over an existing file the
//     safe way on both sides (a temporary file renamed onto it), where ext4 writes the new blocks
//     out at the rename, which costs wall time but little CPU.
// The own format is saved at two sizes to show that its time grows with the pixels alone.
// After the benchmarks a table gives each figure beside its anchor (best of the repetitions) and
// the load average. ImageData::Allocate of the frame (pixels and display buffer) is context; so is
// the plain std::vector of as many pixels: it times this machine's page faults, not the program.
// Before the benchmarks it prints the peak memory that one FITS load adds to the process.
// Run with --benchmark_repetitions=5 on a machine as quiet as can be had.
#include "bmp_file.h"
#include "fits_file.h"
#include "image_data.h"
#include "image_file.h"
#include "sky_frame.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <fitsio.h>

namespace
{

constexpr int Side = 4096;
constexpr std::int64_t FrameBytes = std::int64_t{Side} * Side * 2;

// A sky frame of side x side: bias and sky with read noise, a gradient and some stars, so that
// PNG compression meets data like a real frame's.
const ImageData &Frame(int side = Side)
{
    static std::map<int, ImageData> frames;
    ImageData &image = frames[side];
    if (!image.Empty)
        return image;
    FillSkyBackground(image, side);
    std::mt19937 random(2026);
    std::uniform_int_distribution<int> place(8, side - 9);
    for (int star = 0; star < 2000 * (side / 1024) * (side / 1024) / 16; ++star) {
        const int cx = place(random), cy = place(random);
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx)
                image.Rows[cy + dy][cx + dx] = static_cast<std::uint16_t>(
                    std::min(65535, image.Rows[cy + dy][cx + dx] + 20000 / (1 + dx * dx + dy * dy)));
    }
    image.XLo = 0;
    image.XHi = side - 1;
    image.YLo = 0;
    image.YHi = side - 1;
    image.XBin = image.YBin = 1;
    image.MaxColumns = image.MaxRows = side;
    return image;
}

std::string FileFor(const char *extension)
{
    const auto folder = std::filesystem::temp_directory_path() / "korvi_image_file_bench";
    std::filesystem::create_directories(folder);
    return (folder / (std::string("frame.") + extension)).string();
}

// replacing: the file of the last iteration stays and is written over; otherwise it is removed
// first (in the timed loop, as the anchor does).
void Save(benchmark::State &state, int format, const char *extension, bool replacing = false, int side = Side)
{
    const ImageData &frame = Frame(side);
    const std::string path = FileFor(extension);
    for (auto _ : state) {
        if (!replacing)
            std::filesystem::remove(path);
        if (!SaveImageFile(path, format, frame))
            state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{side} * side * 2);
}

void Load(benchmark::State &state, int format, const char *extension)
{
    const std::string path = FileFor(extension);
    if (!SaveImageFile(path, format, Frame())) {
        state.SkipWithError("could not write the file to load");
        return;
    }
    ImageData image;
    for (auto _ : state)
        if (!LoadImageFile(path, image))
            state.SkipWithError("load failed");
    state.SetBytesProcessed(state.iterations() * FrameBytes);
}

void BM_SaveOwnFormat(benchmark::State &state)
{
    Save(state, FormatNative, "kvr", false, static_cast<int>(state.range(0)));
}
void BM_LoadOwnFormat(benchmark::State &state)
{
    Load(state, FormatNative, "kvr");
}
void BM_SaveFits(benchmark::State &state)
{
    Save(state, FormatFits, "fits");
}
void BM_SaveFitsReplacing(benchmark::State &state)
{
    Save(state, FormatFits, "fits", true);
}
void BM_LoadFits(benchmark::State &state)
{
    Load(state, FormatFits, "fits");
}
void BM_SavePng(benchmark::State &state)
{
    Save(state, FormatPng, "png");
}
void BM_LoadPng(benchmark::State &state)
{
    Load(state, FormatPng, "png");
}

// Bitmaps are only read as images; the 24-bit file is written from the frame's grey levels.
void BM_LoadBmp(benchmark::State &state)
{
    const std::string path = FileFor("bmp");
    {
        const ImageData &frame = Frame();
        std::vector<std::uint8_t> rgba(static_cast<std::size_t>(Side) * Side * 4);
        for (std::size_t i = 0; i < static_cast<std::size_t>(Side) * Side; ++i) {
            const std::uint8_t grey = static_cast<std::uint8_t>(frame.Rows.Data()[i] >> 8);
            rgba[4 * i] = rgba[4 * i + 1] = rgba[4 * i + 2] = grey;
            rgba[4 * i + 3] = 255;
        }
        if (!WriteBmpImage(path, Side, Side, rgba.data(), true)) {
            state.SkipWithError("could not write the bitmap");
            return;
        }
    }
    ImageData image;
    for (auto _ : state)
        if (!LoadImageFile(path, image))
            state.SkipWithError("load failed");
    state.SetBytesProcessed(state.iterations() * FrameBytes);
}

// The loads' anchor: CFITSIO alone opening the same FITS file, reading its pixels into a fresh
// pixel block (from the program's pixel-block path, as a load's) and closing it.
void BM_CfitsioReadFreshBlock(benchmark::State &state)
{
    const std::string path = FileFor("fits");
    if (!SaveImageFile(path, FormatFits, Frame())) {
        state.SkipWithError("could not write the file to read");
        return;
    }
    for (auto _ : state) {
        UShortMatrix pixels(Side, Side);
        int status = 0, anyNull = 0;
        fitsfile *file = nullptr;
        unsigned short blank = 0;
        fits_open_diskfile(&file, path.c_str(), READONLY, &status);
        fits_read_img(file, TUSHORT, 1, static_cast<LONGLONG>(pixels.Size()), &blank, pixels.Data(), &anyNull,
                      &status);
        fits_close_file(file, &status);
        if (status)
            state.SkipWithError("CFITSIO read failed");
        benchmark::DoNotOptimize(pixels.Data());
    }
    state.SetBytesProcessed(state.iterations() * FrameBytes);
}

// CFITSIO alone creating a FITS file at `path` and writing the frame's pixels to it.
bool CfitsioWrite(const std::string &path, const ImageData &frame)
{
    int status = 0;
    fitsfile *file = nullptr;
    long axes[2] = {frame.Width, frame.Height};
    fits_create_diskfile(&file, path.c_str(), &status);
    fits_create_img(file, USHORT_IMG, 2, axes, &status);
    fits_write_img(file, TUSHORT, 1, static_cast<LONGLONG>(frame.Rows.Size()),
                   const_cast<std::uint16_t *>(frame.Rows.Data()), &status);
    fits_close_file(file, &status);
    return status == 0;
}

// The savers' anchor: a new file each time (the old one removed first, as CFITSIO cannot create
// over a file).
void BM_CfitsioWrite(benchmark::State &state)
{
    const std::string path = FileFor("raw.fits");
    const ImageData &frame = Frame();
    for (auto _ : state) {
        std::filesystem::remove(path);
        if (!CfitsioWrite(path, frame))
            state.SkipWithError("CFITSIO write failed");
    }
    state.SetBytesProcessed(state.iterations() * FrameBytes);
}

// The same over an existing file, the way the savers replace one: written under another name,
// then renamed onto it.
void BM_CfitsioWriteReplacing(benchmark::State &state)
{
    const std::string path = FileFor("raw.fits");
    const std::string temporary = path + ".part";
    const ImageData &frame = Frame();
    for (auto _ : state) {
        std::filesystem::remove(temporary);
        if (!CfitsioWrite(temporary, frame))
            state.SkipWithError("CFITSIO write failed");
        std::filesystem::rename(temporary, path);
    }
    state.SetBytesProcessed(state.iterations() * FrameBytes);
}

// A fresh image of the frame's size: pixel rows and the display buffer (filled, alpha 255).
void BM_ImageDataAllocate(benchmark::State &state)
{
    for (auto _ : state) {
        ImageData image;
        image.Allocate(Side, Side, 1);
        benchmark::DoNotOptimize(image.Rows.Data());
    }
}

// The same, with every pixel written once, as a load does.
void BM_ImageDataAllocateAndWrite(benchmark::State &state)
{
    for (auto _ : state) {
        ImageData image;
        image.Allocate(Side, Side, 1);
        image.Rows.Fill(1);
        benchmark::DoNotOptimize(image.Rows.Data());
    }
}

// Context only, not a peer: a plain vector of as many 16-bit pixels (zeroed, so every page is
// touched). It measures what this machine charges for fresh 4 KiB pages, not the program.
void BM_Context_PlainVectorPageFaults(benchmark::State &state)
{
    for (auto _ : state) {
        std::vector<std::uint16_t> pixels(static_cast<std::size_t>(Side) * Side);
        benchmark::DoNotOptimize(pixels.data());
    }
}

// A /proc/self/status figure in KiB (VmRSS, VmHWM), or -1.
long StatusKib(const std::string &key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(key + ":"))
            return std::stol(line.substr(key.size() + 1));
    return -1;
}

// The memory one load of the FITS frame adds at its peak: the high-water mark is reset to the
// present resident size, the frame is loaded into an empty image, and the new mark is read.
void PrintLoadPeak()
{
    const std::string path = FileFor("fits");
    if (!SaveImageFile(path, FormatFits, Frame()))
        return;
    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";
    }
    const long before = StatusKib("VmRSS");
    ImageData image;
    const bool loaded = LoadImageFile(path, image);
    const long peak = StatusKib("VmHWM");
    if (!loaded || before < 0 || peak < 0)
        return;
    const double imageMib = static_cast<double>(image.Rows.Size() * 2 + image.Rgba.size()) / (1 << 20);
    std::printf("Peak memory added by one %d x %d FITS load: %.1f MiB (the image itself: pixels and "
                "display buffer, %.1f MiB)\n",
                Side, Side, static_cast<double>(peak - before) / 1024.0, imageMib);
}

// The console table, and each benchmark's best real time over its repetitions (ms), or its median
// when only the aggregates are reported.
class PairReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.error_occurred)
                continue;
            const double time = run.GetAdjustedRealTime();
            if (run.run_type == Run::RT_Iteration) {
                double &best = best_[run.run_name.str()];
                if (best == 0.0 || time < best)
                    best = time;
            } else if (run.aggregate_name == "median") {
                median_[run.run_name.str()] = time;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double Best(const std::string &name) const
    {
        if (const auto found = best_.find(name); found != best_.end())
            return found->second;
        const auto found = median_.find(name);
        return found == median_.end() ? 0.0 : found->second;
    }

private:
    std::map<std::string, double> best_, median_;
};

void PrintPairs(const PairReporter &reporter)
{
    const struct {
        const char *ours, *anchor;
    } pairs[] = {{"BM_LoadFits", "BM_CfitsioReadFreshBlock"},
                 {"BM_LoadOwnFormat", "BM_CfitsioReadFreshBlock"},
                 {"BM_SaveFits", "BM_CfitsioWrite"},
                 {"BM_SaveOwnFormat/4096", "BM_CfitsioWrite"},
                 {"BM_SaveFitsReplacing", "BM_CfitsioWriteReplacing"}};
    std::printf("\n%-24s %10s   %-26s %10s %7s\n", "ours", "best ms", "anchor", "best ms", "ratio");
    for (const auto &pair : pairs) {
        const double ours = reporter.Best(pair.ours), anchor = reporter.Best(pair.anchor);
        if (ours > 0.0 && anchor > 0.0)
            std::printf("%-24s %10.2f   %-26s %10.2f %6.2fx\n", pair.ours, ours, pair.anchor, anchor,
                        ours / anchor);
    }
    const double small = reporter.Best("BM_SaveOwnFormat/2048"),
                 large = reporter.Best("BM_SaveOwnFormat/4096");
    if (small > 0.0 && large > 0.0)
        std::printf("Own-format save, 4096 against 2048 (4x the pixels): %.2fx the time\n", large / small);
    std::ifstream load("/proc/loadavg");
    std::string one, five, fifteen;
    if (load >> one >> five >> fifteen)
        std::printf("Load average at the end: %s %s %s\n", one.c_str(), five.c_str(), fifteen.c_str());
}

} // namespace

BENCHMARK(BM_SaveOwnFormat)->Arg(2048)->Arg(Side)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadOwnFormat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveFits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CfitsioReadFreshBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CfitsioWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveFitsReplacing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CfitsioWriteReplacing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SavePng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadPng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageDataAllocate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageDataAllocateAndWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Context_PlainVectorPageFaults)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    PrintLoadPeak();
    PairReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintPairs(reporter);
    benchmark::Shutdown();
    return 0;
}
