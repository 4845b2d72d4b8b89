// Fuzz target: the FITS reader (through CFITSIO).
#include "fits_file.h"
#include "fuzz_image_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    korvi::fuzz::ReadOneInput(
        ".fits", data, size,
        [](const std::string &path, int &w, int &h, int &frames) {
            return ProbeFitsImage(path, w, h, frames);
        },
        [](const std::string &path, ImageData &image) { return ReadFitsImage(path, image); });
    return 0;
}
