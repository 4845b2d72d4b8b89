// The composite blends against a direct transcription of their formulas on small layers with
// random pixels and palettes: additive, luminance (the luminance layer's alpha by index, 0 beyond
// it), the two different luminance-layer choices of rendering and painting, a single-layer view,
// hand-computed colours and serial equal to parallel.
#include "composite/compositor.h"
#include "image_test_images.h"

#include <gtest/gtest.h>

#include "openmp_threads.h"

#include <algorithm>
#include <random>

namespace
{

using korvi::test::FillImage;

struct LayerSpec {
    int width, height;
    float gain, bias;
};

void Load(CompositeImage &c, int layer, const LayerSpec &s, std::mt19937 &rng)
{
    std::uniform_int_distribution<int> pixel(0, 65535), byte(0, 255);
    FillImage(c.Layers[layer], s.width, s.height, 1, [&](int, int, int) { return pixel(rng); });
    ImageData &image = c.Layers[layer];
    image.Gain = s.gain;
    image.DisplayOffset = s.bias;
    for (int ch = 0; ch < 3; ++ch)
        for (int v = 0; v < 65536; ++v)
            image.Palette.ByteTable[ch][v] = static_cast<std::uint8_t>(byte(rng));
    c.UseInComposite[layer] = true;
}

int Clamp(float x, int hi)
{
    return x <= 0 ? 0 : x >= hi ? hi : static_cast<int>(x);
}

// The picture by the formulas, one pixel at a time: blended layers, the luminance layer giving
// alpha, -1 for none.
std::vector<std::uint8_t> ByFormula(const CompositeImage &c, int width, int height,
                                    const std::vector<int> &blended, int luminance)
{
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height * 4, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int sum[3] = {0, 0, 0};
            for (int n : blended) {
                const ImageData &l = c.Layers[n];
                if (x >= l.Width || y >= l.Height)
                    continue;
                const float k = l.Gain * c.AllLayerIntensity;
                const int v = Clamp((l.FrameRow(0, y)[x] - l.DisplayOffset) * k, 65535);
                int alpha = 255;
                if (luminance >= 0) {
                    const ImageData &lum = c.Layers[luminance];
                    const long long index = static_cast<long long>(y) * lum.Width + x;
                    alpha = 0;
                    if (index < static_cast<long long>(lum.Width) * lum.Height) {
                        const std::uint16_t p = lum.FramePixels(0)[index];
                        const float kl = lum.Gain * c.AllLayerIntensity;
                        alpha = Clamp((p - lum.DisplayOffset) * kl * 255.0f * (1.0f / 65535.0f), 255);
                    }
                }
                for (int ch = 0; ch < 3; ++ch)
                    sum[ch] += static_cast<int>(std::lround(l.Palette.ByteTable[ch][v] * alpha / 255.0));
            }
            std::uint8_t *o = &out[(static_cast<std::size_t>(y) * width + x) * 4];
            for (int ch = 0; ch < 3; ++ch)
                o[ch] = static_cast<std::uint8_t>(std::min(255, sum[ch]));
            o[3] = 255;
        }
    return out;
}

TEST(Compositor, BlendsMatchTheFormulas)
{
    struct Case {
        const char *name;
        CompositeBlendMode mode;
        std::vector<LayerSpec> layers; // loaded into layers 1..n
        int view;
        std::vector<int> blended;
        int luminance; // layer giving alpha while rendering
    };
    const std::vector<Case> cases = {
        {"additive",
         BlendAdditive,
         {{13, 9, 1.5f, 300}, {11, 12, 0.7f, -20}, {13, 9, 2.0f, 5000}},
         5,
         {0, 1, 2},
         -1},
        // Layers 1-4: layer 4 (smaller, so later rows find no alpha) is the luminance of 1-3.
        {"luminance",
         BlendLuminance,
         {{13, 9, 1.2f, 100}, {13, 9, 0.9f, 0}, {14, 10, 1.0f, 2000}, {10, 7, 3.0f, 1000}},
         5,
         {0, 1, 2},
         3},
        // All five: rendering takes no luminance layer, painting leaves out layer 5.
        {"five layers",
         BlendLuminance,
         {{9, 8, 1, 0}, {9, 8, 1, 0}, {9, 8, 1, 0}, {9, 8, 1, 0}, {9, 8, 1, 0}},
         5,
         {0, 1, 2, 3},
         -1},
        {"single layer", BlendAdditive, {{13, 9, 1.5f, 300}, {11, 12, 0.7f, -20}}, 1, {1}, -1},
    };
    for (const Case &t : cases) {
        std::mt19937 rng(7);
        CompositeImage c;
        c.BlendMode = t.mode;
        c.AllLayerIntensity = 1.25f;
        for (std::size_t i = 0; i < t.layers.size(); ++i)
            Load(c, static_cast<int>(i), t.layers[i], rng);
        CompositePicture picture;
        ASSERT_TRUE(ComposeView(c, t.view, picture)) << t.name;
        const ImageData &reference = c.Layers[t.view == 5 ? 0 : t.view];
        EXPECT_EQ(picture.Width, reference.Width) << t.name;
        EXPECT_EQ(picture.Height, reference.Height) << t.name;
        EXPECT_EQ(picture.Rgba, ByFormula(c, reference.Width, reference.Height, t.blended, t.luminance))
            << t.name;
        EXPECT_EQ(c.Layers[t.blended[0]].Palette.Dirty, 0) << t.name;
    }
}

TEST(Compositor, HandComputedColours)
{
    // Red and green palettes at full scale add to yellow; two reds saturate at 255; a pixel below
    // the bias takes level 0.
    CompositeImage c;
    c.BlendMode = BlendAdditive;
    const std::uint16_t values[] = {65535, 65535, 65535};
    const int red[] = {255, 0, 200};
    const int green[] = {0, 255, 0};
    for (int i = 0; i < 3; ++i) {
        FillImage(c.Layers[i], 2, 1, 1, [&](int x, int, int) { return x == 0 ? values[i] : 10; });
        c.Layers[i].DisplayOffset = 20;
        for (int v = 0; v < 65536; ++v) {
            c.Layers[i].Palette.ByteTable[0][v] = static_cast<std::uint8_t>(v == 0 ? 0 : red[i]);
            c.Layers[i].Palette.ByteTable[1][v] = static_cast<std::uint8_t>(v == 0 ? 0 : green[i]);
            c.Layers[i].Palette.ByteTable[2][v] = 0;
        }
    }
    c.UseInComposite[0] = c.UseInComposite[1] = true;
    CompositePicture picture;
    ASSERT_TRUE(ComposeView(c, 5, picture));
    EXPECT_EQ(picture.Rgba, (std::vector<std::uint8_t>{255, 255, 0, 255, 0, 0, 0, 255}));
    c.UseInComposite[1] = false;
    c.UseInComposite[2] = true;
    ASSERT_TRUE(ComposeView(c, 5, picture));
    EXPECT_EQ(picture.Rgba, (std::vector<std::uint8_t>{255, 0, 0, 255, 0, 0, 0, 255}));
    // Nothing loaded: nothing to show.
    CompositeImage empty;
    EXPECT_FALSE(ComposeView(empty, 5, picture));
    EXPECT_FALSE(ComposeView(c, 3, picture));
}

TEST(Compositor, SerialAndParallelPicturesAreIdentical)
{
    std::mt19937 rng(3);
    CompositeImage c;
    c.BlendMode = BlendLuminance;
    for (int i = 0; i < 4; ++i)
        Load(c, i, {311, 257 - 10 * i, 1.1f, 50.0f * i}, rng);
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    CompositePicture serial, parallel;
    ComposeView(c, 5, serial);
    omp_set_num_threads(std::max(threads, 4));
    ComposeView(c, 5, parallel);
    omp_set_num_threads(threads);
    EXPECT_EQ(serial.Rgba, parallel.Rgba);
}

} // namespace
