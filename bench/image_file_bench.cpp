// Loading and saving a 16-bit 4096 x 4096 frame in every image format, in MB/s of pixel data
// (32 MB per frame), next to CFITSIO reading the same FITS file into a freshly allocated block: the
// floor below which no load can go (a load allocates its image too), and next to CFITSIO writing the
// frame's pixels to a new FITS file with nothing else: the anchor of both savers. And
// ImageData::Allocate of the frame (pixels and display buffer); the plain std::vector of as many
// pixels beside it is context only: it times this machine's page faults, not the program.
// Before the benchmarks it prints the peak memory that one FITS load adds to the process.
#include "bmp_file.h"
#include "fits_file.h"
#include "image_data.h"
#include "image_file.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <fitsio.h>

namespace
{

constexpr int Side = 4096;
constexpr std::int64_t FrameBytes = std::int64_t{Side} * Side * 2;

// A sky frame: bias and sky with read noise, a gradient and some stars, so that PNG compression
// meets data like a real frame's.
const ImageData &Frame()
{
    static ImageData frame = [] {
        ImageData image;
        image.Allocate(Side, Side, 1);
        std::mt19937 random(2026);
        std::normal_distribution<float> noise(0.0f, 12.0f);
        for (int y = 0; y < Side; ++y)
            for (int x = 0; x < Side; ++x)
                image.Rows[y][x] =
                    static_cast<std::uint16_t>(1100.0f + 0.05f * static_cast<float>(x + y) + noise(random));
        std::uniform_int_distribution<int> place(8, Side - 9);
        for (int star = 0; star < 2000; ++star) {
            const int cx = place(random), cy = place(random);
            for (int dy = -3; dy <= 3; ++dy)
                for (int dx = -3; dx <= 3; ++dx)
                    image.Rows[cy + dy][cx + dx] = static_cast<std::uint16_t>(
                        std::min(65535, image.Rows[cy + dy][cx + dx] + 20000 / (1 + dx * dx + dy * dy)));
        }
        image.XLo = 0;
        image.XHi = Side - 1;
        image.YLo = 0;
        image.YHi = Side - 1;
        image.XBin = image.YBin = 1;
        image.MaxColumns = image.MaxRows = Side;
        return image;
    }();
    return frame;
}

std::string FileFor(const char *extension)
{
    const auto folder = std::filesystem::temp_directory_path() / "korvi_image_file_bench";
    std::filesystem::create_directories(folder);
    return (folder / (std::string("frame.") + extension)).string();
}

void Save(benchmark::State &state, int format, const char *extension)
{
    const ImageData &frame = Frame();
    const std::string path = FileFor(extension);
    for (auto _ : state)
        if (!SaveImageFile(path, format, frame))
            state.SkipWithError("save failed");
    state.SetBytesProcessed(state.iterations() * FrameBytes);
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
    Save(state, FormatNative, "kvr");
}
void BM_LoadOwnFormat(benchmark::State &state)
{
    Load(state, FormatNative, "kvr");
}
void BM_SaveFits(benchmark::State &state)
{
    Save(state, FormatFits, "fits");
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

// The floor: CFITSIO alone opening the same FITS file, reading its pixels into a freshly
// allocated block (the fastest block there is: huge-page advised) and closing it.
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

// The savers' anchor: CFITSIO alone creating a FITS file and writing the frame's pixels to it.
void BM_CfitsioWrite(benchmark::State &state)
{
    const std::string path = FileFor("raw.fits");
    const ImageData &frame = Frame();
    for (auto _ : state) {
        int status = 0;
        fitsfile *file = nullptr;
        long axes[2] = {Side, Side};
        std::filesystem::remove(path); // (as a saver replaces the file it writes)
        fits_create_diskfile(&file, path.c_str(), &status);
        fits_create_img(file, USHORT_IMG, 2, axes, &status);
        fits_write_img(file, TUSHORT, 1, static_cast<LONGLONG>(frame.Rows.Size()),
                       const_cast<std::uint16_t *>(frame.Rows.Data()), &status);
        fits_close_file(file, &status);
        if (status)
            state.SkipWithError("CFITSIO write failed");
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

} // namespace

BENCHMARK(BM_SaveOwnFormat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadOwnFormat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveFits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CfitsioReadFreshBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CfitsioWrite)->Unit(benchmark::kMillisecond);
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
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
