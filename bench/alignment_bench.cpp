// Aligning five composite layers of 1565 x 1032 (a KAF-1602 frame) onto layer 1: the stars refined,
// then every layer resampled (shift, rotation and scale, bilinear) into a cropping frame of
// 1525 x 992, on all cores and on one. Next to it the floor: a plain copy of the same output pixels
// out of five layers. Figures in MB/s of output pixels.
#include "image_data.h"
#include "processing/alignment.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

namespace
{

constexpr int Width = 1565, Height = 1032, Layers = AlignmentChannels;
constexpr AlignmentCrop Crop{20, 1544, 20, 1011};
constexpr std::int64_t CropBytes = std::int64_t{Crop.XHi - Crop.XLo + 1} * (Crop.YHi - Crop.YLo + 1) * 2;

// Layer k: noisy sky with two stars, shifted by k pixels and turned by k x 0.003 rad.
struct Source {
    std::array<ImageData, Layers> layers;
    AlignmentOptions options;
    Source()
    {
        std::mt19937 random(2026);
        std::normal_distribution<float> noise(0.0f, 12.0f);
        const double stars[2][2] = {{300, 200}, {1200, 800}};
        options.Crop = Crop;
        options.ScaleCorrection = true;
        for (int k = 0; k < Layers; ++k) {
            ImageData &image = layers[k];
            image.Allocate(Width, Height, 1);
            for (int y = 0; y < Height; ++y)
                for (int x = 0; x < Width; ++x)
                    image.Rows[y][x] = static_cast<std::uint16_t>(1100.0f + noise(random));
            int picked[2][2];
            for (int s = 0; s < 2; ++s) {
                const double a = k * 0.003, c = std::cos(a), n = std::sin(a);
                const double sx = stars[s][0] * c - stars[s][1] * n + k,
                             sy = stars[s][0] * n + stars[s][1] * c + k;
                for (int y = static_cast<int>(sy) - 12; y <= static_cast<int>(sy) + 12; ++y)
                    for (int x = static_cast<int>(sx) - 12; x <= static_cast<int>(sx) + 12; ++x)
                        image.Rows[y][x] = static_cast<std::uint16_t>(
                            image.Rows[y][x] +
                            20000.0 * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / 8.0));
                picked[s][0] = static_cast<int>(std::lround(sx));
                picked[s][1] = static_cast<int>(std::lround(sy));
            }
            options.Stars[k] = {picked[0][0], picked[0][1], picked[1][0], picked[1][1]};
        }
    }
};

const Source &Layers5()
{
    static const Source source;
    return source;
}

void BM_CopyCropOfFiveLayers(benchmark::State &state)
{
    const Source &source = Layers5();
    const int t = Crop.XHi - Crop.XLo + 1, u = Crop.YHi - Crop.YLo + 1;
    std::array<UShortMatrix, Layers> targets;
    for (UShortMatrix &target : targets) {
        target.Allocate(u, t);
        target.Fill(0);
    }
    for (auto _ : state) {
        for (int k = 0; k < Layers; ++k)
            for (int row = 0; row < u; ++row)
                std::memcpy(targets[k][row], source.layers[k].Rows[Crop.YLo + row] + Crop.XLo, t * 2);
        benchmark::DoNotOptimize(targets[0].Data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * CropBytes * Layers);
}

void BM_AlignFiveLayers(benchmark::State &state)
{
    const Source &source = Layers5();
    const int threads = omp_get_max_threads();
    omp_set_num_threads(state.range(0) == 0 ? threads : static_cast<int>(state.range(0)));
    std::array<ImageData, Layers> layers;
    std::string problem;
    for (auto _ : state) {
        state.PauseTiming();
        for (int k = 0; k < Layers; ++k)
            layers[k].Assign(source.layers[k]);
        state.ResumeTiming();
        if (AlignLayers(layers, source.options, {}, problem) != AlignmentOutcome::Aligned)
            state.SkipWithError(problem.c_str());
        benchmark::DoNotOptimize(layers[4].Rows.Data());
    }
    omp_set_num_threads(threads);
    state.SetBytesProcessed(state.iterations() * CropBytes * Layers);
}

} // namespace

BENCHMARK(BM_CopyCropOfFiveLayers)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AlignFiveLayers)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("threads(0=all)")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_MAIN();
