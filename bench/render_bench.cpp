// Rendering a 4096 x 4096 16-bit frame through a palette into RGBA (what the image window does on
// every change of levels or pixels) next to a plain table lookup over the same pixels, the floor
// of this step: the render builds a 65536-entry colour table and then does exactly that lookup.
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "color_index_view.h"
#include "image_render.h"

namespace
{

constexpr int Side = 4096;
constexpr std::size_t Pixels = std::size_t(Side) * Side;

const std::vector<std::uint16_t> &Frame()
{
    static const std::vector<std::uint16_t> frame = [] {
        std::vector<std::uint16_t> f(Pixels);
        std::mt19937 random(7);
        std::normal_distribution<float> sky(1200.0f, 300.0f);
        for (auto &p : f) {
            const float v = sky(random);
            p = static_cast<std::uint16_t>(v < 0 ? 0 : v > 65535 ? 65535 : v);
        }
        return f;
    }();
    return frame;
}

struct Palette {
    std::vector<std::uint8_t> red = std::vector<std::uint8_t>(65536), green = red, blue = red;
    std::vector<float> fred = std::vector<float>(65536), fgreen = fred, fblue = fred;
    Palette()
    {
        for (int i = 0; i < 65536; ++i) {
            red[i] = static_cast<std::uint8_t>(i >> 8);
            green[i] = static_cast<std::uint8_t>((i >> 7) & 0xFF);
            blue[i] = static_cast<std::uint8_t>(255 - (i >> 8));
            fred[i] = red[i] / 255.0f;
            fgreen[i] = green[i] / 255.0f;
            fblue[i] = blue[i] / 255.0f;
        }
    }
};

void SetMpixels(benchmark::State &state)
{
    state.counters["Mpixel"] =
        benchmark::Counter(double(Pixels) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

// The image window's render: colour table for the levels, then every pixel through it.
void BM_RenderThroughPalette(benchmark::State &state)
{
    const auto &frame = Frame();
    const Palette palette;
    std::vector<std::uint32_t> colours(65536);
    std::vector<std::uint8_t> rgba(Pixels * 4);
    const bool log = state.range(0) != 0;
    float gain = 20.0f;
    for (auto _ : state) {
        BuildDisplayColourTable(gain, 900.0f, log, StandardLogScaleTable(), palette.red.data(),
                                palette.green.data(), palette.blue.data(), colours.data());
        MapPixelsToRgba(frame.data(), Pixels, colours.data(), rgba.data());
        benchmark::DoNotOptimize(rgba.data());
        gain += 0.001f; // new levels each time, as when the user changes them
    }
    SetMpixels(state);
}
BENCHMARK(BM_RenderThroughPalette)->Arg(0)->Arg(1)->ArgName("log")->Unit(benchmark::kMillisecond);

// The colour-index helper of the guider, stacking, sky-model and alignment views.
void BM_ColorIndexView(benchmark::State &state)
{
    const auto &frame = Frame();
    const Palette palette;
    ColorIndexView view;
    view.SetPaletteMaps(palette.fred.data(), palette.fgreen.data(), palette.fblue.data(), 900.0f, 20.0f);
    view.SetPixels(frame.data(), Side, Side);
    for (auto _ : state) {
        view.PixelsChanged();
        benchmark::DoNotOptimize(view.Rgba());
    }
    SetMpixels(state);
}
BENCHMARK(BM_ColorIndexView)->Unit(benchmark::kMillisecond);

// The floor: one 32-bit table lookup and store per pixel, nothing else.
void BM_PlainTableLookup(benchmark::State &state)
{
    const auto &frame = Frame();
    std::vector<std::uint32_t> table(65536);
    for (int i = 0; i < 65536; ++i)
        table[i] = 0xFF000000u | std::uint32_t(i) * 2654435761u >> 8;
    std::vector<std::uint32_t> out(Pixels);
    for (auto _ : state) {
        const std::uint16_t *p = frame.data();
        std::uint32_t *o = out.data();
        for (std::size_t i = 0; i < Pixels; ++i)
            o[i] = table[p[i]];
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    SetMpixels(state);
}
BENCHMARK(BM_PlainTableLookup)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
