// Writes the program's shipped data (default settings, palettes, palette-bar frame) into a folder
// that holds Settings/, Palettes/ and Bitmaps/.
#include "default_data.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: korvi_make_data <folder>\n");
        return 2;
    }
    if (!WriteDefaultData(argv[1])) {
        std::fprintf(stderr, "korvi_make_data: could not write the data into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
