// A resize that shrinks writes the new rows over the old ones in the image's own block, the
// threads taking blocks of rows in order and waiting where a block overwrites rows another still
// reads. Every pixel must still be the nearest old one, on any number of threads.
#include "../image_test_images.h"
#include "image_data.h"
#include "openmp_threads.h"
#include "processing/filters.h"
#include "ui_hooks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace
{

using korvi::test::FillImage;

std::uint16_t Value(int x, int y)
{
    return static_cast<std::uint16_t>(x + 617 * y);
}

TEST(Resize, ShrinkInPlaceGivesTheNearestPixelsOnAnyThreadCount)
{
    SilentProcessing = true;
    const int width = 613, height = 411; // large enough to be shared among the threads
    const int threads = omp_get_max_threads();
    const struct {
        double fx, fy;
    } factors[] = {{0.5, 0.5}, {0.5, 1.0}, {1.0, 0.5}, {0.7, 0.6}, {0.3, 0.9}, {0.5, 0.75}, {1.0, 1.0}};
    for (int team : {1, 4}) {
        omp_set_num_threads(team);
        for (const auto &f : factors) {
            ImageData image;
            FillImage(image, width, height, 1, [](int x, int y, int) { return Value(x, y); });
            ASSERT_TRUE(ResizeImage(f.fx, f.fy, image));
            const int w = image.Width, h = image.Height;
            ASSERT_EQ(w, static_cast<int>(std::ceil(width * f.fx)));
            ASSERT_EQ(h, static_cast<int>(std::ceil(height * f.fy)));
            // The old block is kept (these all fill at least a quarter of it).
            EXPECT_EQ(image.Rows.Capacity(), std::size_t{width} * height);
            ASSERT_EQ(image.Rows.Size(), static_cast<std::size_t>(w) * h);
            int wrong = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int sx = std::min(static_cast<int>(x / f.fx), width - 1);
                    const int sy = std::min(static_cast<int>(y / f.fy), height - 1);
                    wrong += image.Rows[y][x] != Value(sx, sy);
                }
            EXPECT_EQ(wrong, 0) << team << " threads, " << f.fx << " x " << f.fy;
            ASSERT_EQ(image.Rgba.size(), static_cast<std::size_t>(w) * h * 4);
            EXPECT_EQ(std::count(image.Rgba.begin(), image.Rgba.end(), 255), w * h * 4);
        }
    }
    omp_set_num_threads(threads);
    SilentProcessing = false;
}

} // namespace
