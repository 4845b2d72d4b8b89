// The Fourier filter of a square frame (padding, forward transform, radial mask, inverse
// transform, scaling back into the image) next to the floor: the same steps written plainly around
// FFTW's own forward and inverse transforms of the same size, planned the same way, on warm
// buffers, in the same run. A real frame needs only the
// real-to-complex pair; the complex pair of the same size is shown as well for reference.
#include "image_data.h"
#include "processing/fourier.h"
#include "sky_frame.h"

#include <benchmark/benchmark.h>

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace
{

ImageData Frame(int side)
{
    ImageData image;
    FillSkyBackground(image, side);
    return image;
}

void BM_FourierFilter(benchmark::State &state)
{
    const int side = static_cast<int>(state.range(0));
    ImageData image = Frame(side);
    FourierFilter filter;
    // The buffers and plans are made once for a size and reused, as the window reuses them.
    if (!filter.Transform(image))
        state.SkipWithError("filter refused");
    for (auto _ : state) {
        if (!filter.Transform(image) || !filter.Filter(image, side / 8, false, 20))
            state.SkipWithError("filter refused");
        benchmark::DoNotOptimize(image.Rows.Data());
    }
}

// The floor: the same steps as the filter done plainly around FFTW's forward real-to-complex and
// inverse complex-to-real transforms of side x side, with the filter's buffer layout (real input
// -> spectrum, inverse in place): the pixels converted in, a radial mask with a gaussian edge over
// the spectrum, and the result scaled back into the pixels. The buffers are touched and the plans
// run once before the timing, so no pass pays for fresh pages.
void BM_FftwRealPairFloor(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    ImageData image = Frame(n);
    const std::size_t half = static_cast<std::size_t>(n) * (n / 2 + 1);
    fftw_complex *input = fftw_alloc_complex(half);
    fftw_complex *spectrum = fftw_alloc_complex(half);
    double *real = reinterpret_cast<double *>(input);
    fftw_plan forward = fftw_plan_dft_r2c_2d(n, n, real, spectrum, FFTW_ESTIMATE);
    fftw_plan inverse =
        fftw_plan_dft_c2r_2d(n, n, spectrum, reinterpret_cast<double *>(spectrum), FFTW_ESTIMATE);
    std::fill_n(reinterpret_cast<double *>(input), 2 * half, 0.0);
    std::fill_n(reinterpret_cast<double *>(spectrum), 2 * half, 0.0);
    fftw_execute(forward);
    fftw_execute(inverse);
    const double radius = n / 8, edge = 20.0, far = radius + 8.0 * edge,
                 scale = 1.0 / (static_cast<double>(n) * n);
    const int columns = n / 2 + 1;
    for (auto _ : state) {
        for (int y = 0; y < n; ++y) {
            const std::uint16_t *row = image.Rows[y];
            for (int x = 0; x < n; ++x)
                real[static_cast<std::size_t>(y) * n + x] = row[x];
        }
        fftw_execute(forward);
        for (int y = 0; y < n; ++y) {
            const double fy = y <= n / 2 ? y : n - y;
            fftw_complex *line = spectrum + static_cast<std::size_t>(y) * columns;
            for (int x = 0; x < columns; ++x) {
                // (beyond eight edge widths the gaussian is below 1e-13 and is taken as 0)
                const double r2 = fy * fy + static_cast<double>(x) * x;
                double w = 0.0;
                if (r2 <= radius * radius)
                    w = 1.0;
                else if (r2 < far * far) {
                    const double r = std::sqrt(r2);
                    w = std::exp(-(r - radius) * (r - radius) / (2.0 * edge * edge));
                }
                line[x][0] *= w;
                line[x][1] *= w;
            }
        }
        fftw_execute(inverse);
        const double *back = reinterpret_cast<const double *>(spectrum);
        for (int y = 0; y < n; ++y) {
            std::uint16_t *row = image.Rows[y];
            const double *line = back + static_cast<std::size_t>(y) * 2 * columns; // padded rows
            for (int x = 0; x < n; ++x)
                row[x] = static_cast<std::uint16_t>(std::clamp(line[x] * scale, 0.0, 65535.0));
        }
        benchmark::DoNotOptimize(image.Rows.Data());
    }
    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    fftw_free(input);
    fftw_free(spectrum);
}

// Forward and inverse complex transforms of side x side in place.
void BM_FftwComplexPair(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    fftw_complex *data = fftw_alloc_complex(static_cast<std::size_t>(n) * n);
    fftw_plan forward = fftw_plan_dft_2d(n, n, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_plan inverse = fftw_plan_dft_2d(n, n, data, data, FFTW_BACKWARD, FFTW_ESTIMATE);
    std::fill(&data[0][0], &data[0][0] + 2 * static_cast<std::size_t>(n) * n, 0.0);
    for (auto _ : state) {
        state.PauseTiming();
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) * n; ++i) {
            data[i][0] = static_cast<double>(i % 4093);
            data[i][1] = 0.0;
        }
        state.ResumeTiming();
        fftw_execute(forward);
        fftw_execute(inverse);
        benchmark::DoNotOptimize(data);
    }
    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    fftw_free(data);
}

} // namespace

BENCHMARK(BM_FourierFilter)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FftwRealPairFloor)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FftwComplexPair)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
