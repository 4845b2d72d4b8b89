// Quick equalization on hand-computed layers: the table is indexed by the level itself, so a
// frame with a bias keeps its spread; a flat layer becomes 0; an empty layer is refused.
#include "composite/quick_equalization.h"
#include "image_test_images.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

TEST(QuickEqualization, HandComputedLayers)
{
    struct Case {
        const char *name;
        std::vector<std::uint16_t> in, out;
    };
    const std::vector<Case> cases = {
        // Pixels below 1001: 2, below 1002: 3 of 3 -> 1002 x 2 / 3 = 668.
        {"biased frame", {1000, 1000, 1001, 1002}, {0, 0, 668, 1002}},
        {"one pixel per level from 0", {3, 0, 2, 1}, {3, 0, 2, 1}},
        {"flat layer above 0", {500, 500, 500, 500}, {0, 0, 0, 0}},
        // Below 20: 2, below 40000: 3, below 65535: 4 -> 65535 x 2 / 4 and 65535 x 3 / 4.
        {"wide levels", {10, 10, 20, 40000, 65535}, {0, 0, 32767, 49151, 65535}},
    };
    for (const Case &t : cases) {
        ImageData layer;
        const int width = static_cast<int>(t.in.size());
        korvi::test::FillImage(layer, width, 1, 1, [&](int x, int, int) { return t.in[x]; });
        ASSERT_TRUE(QuickEqualizeLayer(layer)) << t.name;
        EXPECT_EQ(std::vector<std::uint16_t>(layer.FramePixels(0), layer.FramePixels(0) + width), t.out)
            << t.name;
    }
    ImageData empty;
    EXPECT_FALSE(QuickEqualizeLayer(empty));
}

} // namespace
