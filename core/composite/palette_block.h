#pragma once
// The binary palette block of composite and composite-settings files (1590 bytes): the three
// segment counts as 16-bit integers, the 60 symmetry flags as 16-bit words (1 set, 0 clear), then
// the 3 x 61 curve points as 366 single-precision floats (x, y of each point, channel by channel).
// Little-endian; the palette's name and lookup tables are not part of it.
#include <array>
#include <cstddef>
#include <cstdint>

class PPalette;

inline constexpr std::size_t CompositePaletteBlockBytes = 3 * 2 + 60 * 2 + 366 * 4;
using CompositePaletteBlock = std::array<std::uint8_t, CompositePaletteBlockBytes>;

CompositePaletteBlock EncodePaletteBlock(const PPalette &palette);
// Fills counts, flags and points of palette from a block; the tables are not rebuilt. False, with
// the palette unchanged, when a count lies outside 1..20 or a point is not a finite number.
bool DecodePaletteBlock(const CompositePaletteBlock &block, PPalette &palette);
