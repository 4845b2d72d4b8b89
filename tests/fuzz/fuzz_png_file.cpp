// Fuzz target: the PNG reader (through libpng).
#include "fuzz_image_reader.h"
#include "png_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    korvi::fuzz::ReadOneInput(
        ".png", data, size,
        [](const std::string &path, int &w, int &h, int &frames) {
            frames = 1;
            return ProbePngImage(path, w, h);
        },
        [](const std::string &path, ImageData &image) { return ReadPngImage(path, image); });
    return 0;
}
