// The colour-index helper on the CPU: maps from a palette with bias and intensity, the lookup and
// the cached picture.
#include <vector>

#include <gtest/gtest.h>

#include "color_index_view.h"

namespace
{

struct Palette3 {
    std::vector<float> r = std::vector<float>(65536), g = std::vector<float>(65536),
                       b = std::vector<float>(65536);
    Palette3()
    {
        for (int i = 0; i < 65536; ++i) {
            r[i] = i / 65535.0f;
            g[i] = 1.0f - i / 65535.0f;
            b[i] = (i % 2) ? 1.0f : 0.25f;
        }
    }
};

} // namespace

TEST(ColorIndexMapsTest, BiasAndIntensity)
{
    const Palette3 p;
    std::vector<float> r(65536), g(65536), b(65536);
    BuildColorIndexMaps(p.r.data(), p.g.data(), p.b.data(), 100.0f, 2.5f, r.data(), g.data(), b.data());
    // Below the bias: the colour of level 0.
    EXPECT_EQ(r[0], p.r[0]);
    EXPECT_EQ(g[99], p.g[0]);
    EXPECT_EQ(b[99], p.b[0]);
    // At and above it: level trunc((i - 100) x 2.5).
    EXPECT_EQ(r[100], p.r[0]);
    EXPECT_EQ(r[101], p.r[2]);
    EXPECT_EQ(b[101], p.b[2]);
    EXPECT_EQ(r[103], p.r[7]);
    EXPECT_EQ(b[103], p.b[7]);
    // Clamped to 65535.
    EXPECT_EQ(r[65535], p.r[65535]);
    EXPECT_EQ(r[30000], p.r[65535]);
    EXPECT_EQ(r[26313], p.r[65532]); // 26213 x 2.5 = 65532.5
}

TEST(ColorIndexMapsTest, IntensityToByteRoundsAndClamps)
{
    EXPECT_EQ(IntensityToByte(0.0f), 0);
    EXPECT_EQ(IntensityToByte(-0.5f), 0);
    EXPECT_EQ(IntensityToByte(1.0f), 255);
    EXPECT_EQ(IntensityToByte(7.0f), 255);
    EXPECT_EQ(IntensityToByte(0.5f), 128); // 127.5 rounds up
    EXPECT_EQ(IntensityToByte(0.25f), 64); // 63.75
    EXPECT_EQ(IntensityToByte(0.1f), 26);  // 25.5
}

TEST(ColorIndexViewTest, PictureMatchesTheMapsAndIsCached)
{
    const Palette3 p;
    ColorIndexView view;
    view.SetPaletteMaps(p.r.data(), p.g.data(), p.b.data(), 0.0f, 1.0f);
    EXPECT_EQ(view.LookupBuilds(), 1);
    const std::uint16_t pixels[6] = {0, 1, 65535, 32768, 255, 1000};
    view.SetPixels(pixels, 3, 2);
    const std::uint8_t *rgba = view.Rgba();
    ASSERT_NE(rgba, nullptr);
    for (int i = 0; i < 6; ++i) {
        const int v = pixels[i];
        EXPECT_EQ(rgba[4 * i], IntensityToByte(p.r[v])) << i;
        EXPECT_EQ(rgba[4 * i + 1], IntensityToByte(p.g[v])) << i;
        EXPECT_EQ(rgba[4 * i + 2], IntensityToByte(p.b[v])) << i;
        EXPECT_EQ(rgba[4 * i + 3], 255) << i;
    }
    EXPECT_EQ(rgba[4 * 2], 255);
    EXPECT_EQ(rgba[4 * 2 + 1], 0);
    EXPECT_EQ(view.PictureBuilds(), 1);

    // Same maps again: no rebuild, no reconversion.
    view.SetPaletteMaps(p.r.data(), p.g.data(), p.b.data(), 0.0f, 1.0f);
    view.Rgba();
    EXPECT_EQ(view.LookupBuilds(), 1);
    EXPECT_EQ(view.PictureBuilds(), 1);

    // New maps: both rebuilt, and the picture shows them.
    view.SetPaletteMaps(p.r.data(), p.g.data(), p.b.data(), 65535.0f, 1.0f); // everything at level 0's colour
    rgba = view.Rgba();
    EXPECT_EQ(view.LookupBuilds(), 2);
    EXPECT_EQ(view.PictureBuilds(), 2);
    EXPECT_EQ(rgba[4 * 3], IntensityToByte(p.r[0]));

    // Pixels changed in place: reconverted at the next use only.
    std::uint16_t mutablePixels[2] = {0, 0};
    view.SetPaletteMaps(p.r.data(), p.g.data(), p.b.data(), 0.0f, 1.0f);
    view.SetPixels(mutablePixels, 2, 1);
    EXPECT_EQ(view.Rgba()[4], IntensityToByte(p.r[0]));
    mutablePixels[1] = 65535;
    EXPECT_EQ(view.Rgba()[4], IntensityToByte(p.r[0])) << "cached until told";
    view.PixelsChanged();
    EXPECT_EQ(view.Rgba()[4], 255);
}

TEST(ColorIndexViewTest, NoPixelsNoPicture)
{
    ColorIndexView view;
    EXPECT_EQ(view.Rgba(), nullptr);
    const std::uint16_t one = 5;
    view.SetPixels(&one, 0, 1);
    EXPECT_EQ(view.Rgba(), nullptr);
    view.Draw(nullptr); // nothing to draw, no context: harmless
}
