// The benches' sky background: bias and sky near 1100 counts with a read noise of 12 and a gentle
// gradient, the same pixels from run to run.
#pragma once

#include "image_data.h"

#include <cstdint>
#include <random>

inline void FillSkyBackground(ImageData &image, int side)
{
    image.Allocate(side, side, 1);
    std::mt19937 random(2026);
    std::normal_distribution<float> noise(0.0f, 12.0f);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            image.Rows[y][x] =
                static_cast<std::uint16_t>(1100.0f + 0.05f * static_cast<float>(x + y) + noise(random));
}
