// Fuzz target: the bitmap decoder, in memory and through the file reader.
#include "bmp_file.h"
#include "fuzz_image_reader.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    BmpLayout layout;
    std::string error;
    if (ParseBmpLayout(data, size, layout, error) &&
        static_cast<long>(layout.Width) * layout.Height <= korvi::fuzz::MaxFuzzPixels) {
        std::vector<std::uint16_t> pixels(static_cast<std::size_t>(layout.Width) * layout.Height);
        std::vector<std::uint16_t *> rows(static_cast<std::size_t>(layout.Height));
        for (int y = 0; y < layout.Height; ++y)
            rows[y] = pixels.data() + static_cast<std::size_t>(y) * layout.Width;
        DecodeBmpGrey(data, layout, rows.data());
    }
    korvi::fuzz::ReadOneInput(
        ".bmp", data, size,
        [](const std::string &path, int &w, int &h, int &frames) {
            frames = 1;
            return ProbeBmpImage(path, w, h);
        },
        [](const std::string &path, ImageData &image) { return ReadBmpImage(path, image); });
    return 0;
}
