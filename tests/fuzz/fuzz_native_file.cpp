// Fuzz target: the own-format reader.
#include "fuzz_image_reader.h"
#include "native_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    korvi::fuzz::ReadOneInput(
        ".kvr", data, size,
        [](const std::string &path, int &w, int &h, int &frames) {
            frames = 1;
            return ProbeNativeImage(path, w, h);
        },
        [](const std::string &path, ImageData &image) { return ReadNativeImage(path, image); });
    return 0;
}
