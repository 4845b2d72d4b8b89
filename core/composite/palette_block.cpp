#include "palette_block.h"

#include "palette.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace
{

static_assert(std::endian::native == std::endian::little, "the block is stored little-endian");

template <typename T> void Put(std::uint8_t *&at, T value)
{
    std::memcpy(at, &value, sizeof value);
    at += sizeof value;
}

template <typename T> T Take(const std::uint8_t *&at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
}

} // namespace

CompositePaletteBlock EncodePaletteBlock(const PPalette &palette)
{
    CompositePaletteBlock block{};
    std::uint8_t *at = block.data();
    for (std::int32_t count : palette.SegmentCount)
        Put(at, static_cast<std::int16_t>(count));
    for (const auto &channel : palette.Symmetric)
        for (bool flag : channel)
            Put(at, static_cast<std::int16_t>(flag ? 1 : 0));
    for (const auto &channel : palette.Points)
        for (const PalettePoint &point : channel) {
            Put(at, point.x);
            Put(at, point.y);
        }
    return block;
}

bool DecodePaletteBlock(const CompositePaletteBlock &block, PPalette &palette)
{
    const std::uint8_t *at = block.data();
    std::array<std::int32_t, PaletteChannels> counts{};
    for (auto &count : counts) {
        count = Take<std::int16_t>(at);
        if (count < 1 || count > PaletteMaxSegments)
            return false;
    }
    decltype(palette.Symmetric) flags{};
    for (auto &channel : flags)
        for (bool &flag : channel)
            flag = Take<std::int16_t>(at) == 1;
    decltype(palette.Points) points{};
    for (auto &channel : points)
        for (PalettePoint &point : channel) {
            point.x = Take<float>(at);
            point.y = Take<float>(at);
            if (!std::isfinite(point.x) || !std::isfinite(point.y))
                return false;
        }
    palette.SegmentCount = counts;
    palette.Symmetric = flags;
    palette.Points = points;
    return true;
}
