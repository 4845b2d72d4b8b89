// Composing a three-layer RGB picture from 4096 x 4096 16-bit layers (render each layer through
// its palette, then blend), next to its floor: the three colour lookups of every pixel of every
// layer summed into one RGBA buffer, on one thread, without scaling or saturation.
#include "composite/compositor.h"

#include <benchmark/benchmark.h>

#include <random>

namespace
{

constexpr int Side = 4096;
constexpr std::size_t Pixels = std::size_t(Side) * Side;

CompositeImage &Layers()
{
    static CompositeImage composite;
    static const bool ready = [] {
        std::mt19937 random(7);
        std::normal_distribution<float> sky(1200.0f, 300.0f);
        for (int i = 0; i < 3; ++i) {
            ImageData &layer = composite.Layers[i];
            layer.Allocate(Side, Side, 1);
            std::uint16_t *p = layer.FramePixels(0);
            for (std::size_t k = 0; k < Pixels; ++k) {
                const float v = sky(random);
                p[k] = static_cast<std::uint16_t>(v < 0 ? 0 : v > 65535 ? 65535 : v);
            }
            layer.Gain = 4.0f;
            layer.DisplayOffset = 500.0f;
            composite.UseInComposite[i] = true;
        }
        return true;
    }();
    (void)ready;
    return composite;
}

void SetMpixels(benchmark::State &state)
{
    state.counters["Mpixel"] =
        benchmark::Counter(double(Pixels) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

void BM_ComposeRgb(benchmark::State &state)
{
    CompositeImage &composite = Layers();
    CompositePicture picture;
    for (auto _ : state) {
        ComposeView(composite, CompositeViewSlot, picture);
        benchmark::DoNotOptimize(picture.Rgba.data());
    }
    SetMpixels(state);
}
BENCHMARK(BM_ComposeRgb)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainLookupFloor(benchmark::State &state)
{
    CompositeImage &composite = Layers();
    std::vector<std::uint8_t> out(Pixels * 4);
    for (auto _ : state) {
        for (int i = 0; i < 3; ++i) {
            const ImageData &layer = composite.Layers[i];
            const std::uint16_t *p = layer.FramePixels(0);
            const auto &table = layer.Palette.ByteTable;
            for (std::size_t k = 0; k < Pixels; ++k)
                for (int c = 0; c < 3; ++c)
                    out[4 * k + c] += table[c][p[k]];
        }
        benchmark::DoNotOptimize(out.data());
    }
    SetMpixels(state);
}
BENCHMARK(BM_PlainLookupFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
