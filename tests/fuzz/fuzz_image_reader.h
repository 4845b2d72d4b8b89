#pragma once
// Shared body of the image-reader fuzz targets: the input is written to a file and read the way
// the program reads a file of that format (size probe, allocation, reader), with the silent user
// interface. Inputs whose header asks for a very large image are read only up to the probe, so a
// run measures the readers rather than the allocator.
#include "image_data.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace korvi::fuzz
{

inline constexpr long MaxFuzzPixels = 1 << 20;

inline const std::string &InputPath(const char *extension)
{
    static const std::string path = [extension] {
        const char *folder = std::getenv("KORVI_FUZZ_TMP");
        std::string base = folder ? folder : "/tmp";
        return base + "/fuzz-input-" + std::to_string(::getpid()) + extension;
    }();
    return path;
}

inline bool WriteInput(const std::string &path, const std::uint8_t *data, std::size_t size)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

// Probe gives the size (false: refused); Read reads into an allocated image.
template <typename Probe, typename Read>
void ReadOneInput(const char *extension, const std::uint8_t *data, std::size_t size, Probe probe, Read read)
{
    const std::string &path = InputPath(extension);
    if (!WriteInput(path, data, size))
        std::abort();
    int width = 0, height = 0, frames = 1;
    if (probe(path, width, height, frames) && static_cast<long>(width) * height * frames <= MaxFuzzPixels) {
        // One record for the whole run: a fresh one would copy the default palette every time.
        static ImageData image;
        if (image.Allocate(width, height, frames))
            read(path, image);
    }
}

} // namespace korvi::fuzz
