#include "palette.h"

#include "line_file.h"
#include "ui_hooks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace
{

const char *const MessageCaption = "Korvi";

// Fills one channel's tables from its Bezier curve. Single precision throughout: the step adapts
// so that consecutive samples move between a quarter and three quarters of a table level, so every
// level along the curve is written while flat stretches are crossed quickly.
// True when every level was written.
bool BuildChannel(const std::array<PalettePoint, PalettePoints> &points, int segmentCount,
                  PaletteTables<float>::Channel &floats, PaletteTables<std::uint8_t>::Channel &bytes)
{
    std::vector<bool> written(PaletteLevels, false);
    int writtenLevels = 1;
    written[0] = true;
    constexpr float QuarterLevel = 1.0f / 262144.0f; // 2^-18
    floats[0] = 0.0f;
    bytes[0] = 0;
    const int segments = std::clamp(segmentCount, 1, PaletteMaxSegments);
    float lastX = 0.0f;
    for (int s = 1; s <= segments && lastX < 1.0f; ++s) {
        const PalettePoint &p0 = points[3 * s - 3];
        const PalettePoint &p1 = points[3 * s - 2];
        const PalettePoint &p2 = points[3 * s - 1];
        const PalettePoint &p3 = points[3 * s];
        const float span = p3.x - p0.x;
        // A segment that does not advance in x cannot be sampled (its step would be infinite or
        // negative and the walk would never end): skip it.
        if (!(span > 0.0f) || !std::isfinite(span))
            continue;
        const float kx1 = 3.0f * (p1.x - p0.x);
        const float kx2 = 3.0f * (p2.x - p1.x) - kx1;
        const float kx3 = p3.x - p0.x - kx1 - kx2;
        const float ky1 = 3.0f * (p1.y - p0.y);
        const float ky2 = 3.0f * (p2.y - p1.y) - ky1;
        const float ky3 = p3.y - p0.y - ky1 - ky2;
        // A span beyond the whole input range (points outside 0..1) would make the least step so
        // small that the walk could take practically forever; such a segment is walked as if its
        // span were 1.
        const float minStep = 0.1f / (std::min(span, 1.0f) * 65536.0f);
        float step = minStep;
        float t = 0.0f;
        float previousX = p0.x;
        float x = p0.x;
        while (t < 1.0f) {
            t = t + step;
            x = ((kx3 * t + kx2) * t + kx1) * t + p0.x;
            const float d = std::fabs(x - previousX);
            previousX = x;
            if (d < QuarterLevel) {
                step = step * 1.2f;
                if (step > 20.0f * minStep)
                    step = minStep;
                continue;
            }
            if (d > 3.0f * QuarterLevel)
                step = step * 0.8333333333333334f;
            if (step < minStep)
                step = minStep;
            // Clamp before converting: a curve may run outside 0..1.
            const float scaled = x * 65536.0f;
            int level = 0;
            if (scaled >= 65535.0f)
                level = 65535;
            else if (scaled > 0.0f)
                level = static_cast<int>(scaled);
            float y = ((ky3 * t + ky2) * t + ky1) * t + p0.y;
            if (y > 1.0f)
                y = 1.0f;
            if (!(y >= 0.0f)) // below 0 (or not a number): black, not a wrapped byte
                y = 0.0f;
            floats[level] = y;
            bytes[level] = static_cast<std::uint8_t>(y * 255.0f);
            if (!written[level]) {
                written[level] = true;
                ++writtenLevels;
            }
        }
        lastX = x;
    }
    return writtenLevels == PaletteLevels;
}

void Report(const std::string &text)
{
    Ui().ShowMessage(MessageCaption, text, MessageButtons::Ok, MessageIcon::Warning);
}

// The built-in grey ramp: one straight segment from (0,0) to (1,1), the same in every channel.
// Its tables are built once and copied into each new palette, since a build takes milliseconds
// and every settings record, image record and composite layer starts with a palette.
struct GreyRamp {
    std::array<PalettePoint, PalettePoints> points{};
    PaletteTables<float> floats;
    PaletteTables<std::uint8_t> bytes;

    bool everyLevel = false;

    GreyRamp()
    {
        for (int i = 0; i <= 3; ++i)
            points[i] = {i / 3.0f, i / 3.0f};
        everyLevel = BuildChannel(points, 1, floats[0], bytes[0]);
        for (int c = 1; c < PaletteChannels; ++c) {
            floats[c] = floats[0];
            bytes[c] = bytes[0];
        }
    }
};

const GreyRamp &BuiltInGreyRamp()
{
    static const GreyRamp ramp;
    return ramp;
}

} // namespace

PPalette::PPalette() : FloatTable(BuiltInGreyRamp().floats), ByteTable(BuiltInGreyRamp().bytes)
{
    const GreyRamp &ramp = BuiltInGreyRamp();
    for (int c = 0; c < PaletteChannels; ++c) {
        SegmentCount[c] = 1;
        Points[c] = ramp.points;
        built_.channel[c] = {true, ramp.everyLevel, 1, ramp.points};
    }
}

bool PPalette::BuiltCurve::Matches(const std::array<PalettePoint, PalettePoints> &curve,
                                   std::int32_t count) const
{
    // Bit for bit: -0 and 0, or two NaNs, would compare otherwise than they build.
    return valid && segments == count && std::memcmp(points.data(), curve.data(), sizeof points) == 0;
}

void PPalette::BuildChannelTables(int c)
{
    const bool everyLevel = BuildChannel(Points[c], SegmentCount[c], FloatTable[c], ByteTable[c]);
    built_.channel[c] = {true, everyLevel, SegmentCount[c], Points[c]};
}

void PPalette::RefreshTables(const PPalette *known)
{
    for (int c = 0; c < PaletteChannels; ++c) {
        if (built_.channel[c].Matches(Points[c], SegmentCount[c]))
            continue;
        if (known && known != this && known->built_.channel[c].everyLevel &&
            known->built_.channel[c].Matches(Points[c], SegmentCount[c])) {
            FloatTable[c] = known->FloatTable[c];
            ByteTable[c] = known->ByteTable[c];
            built_.channel[c] = known->built_.channel[c];
            continue;
        }
        BuildChannelTables(c);
    }
    Dirty = 1;
}

std::uint32_t PPalette::ColorAt(int level) const
{
    level = std::clamp(level, 0, PaletteLevels - 1);
    return static_cast<std::uint32_t>(ByteTable[0][level]) |
           static_cast<std::uint32_t>(ByteTable[1][level]) << 8 |
           static_cast<std::uint32_t>(ByteTable[2][level]) << 16;
}

void PPalette::Assign(const PPalette &source)
{
    if (this != &source) {
        Name = source.Name;
        SegmentCount = source.SegmentCount;
        Symmetric = source.Symmetric;
        Points = source.Points;
        FloatTable = source.FloatTable;
        ByteTable = source.ByteTable;
        built_ = source.built_;
    }
    Dirty = 1;
}

void PPalette::BuildTables(bool red, bool green, bool blue)
{
    const bool selected[PaletteChannels] = {red, green, blue};
    for (int c = 0; c < PaletteChannels; ++c)
        if (selected[c])
            BuildChannelTables(c);
    // The image window re-renders when it sees Dirty; a build always ends with the blue channel
    // when all three are rebuilt.
    if (blue)
        Dirty = 1;
}

bool PPalette::LoadFromFile(const std::string &path)
{
    LineFileReader file;
    if (!file.Open(path)) {
        Report("The palette file " + path + " " + file.Problem() + ". The palette is unchanged.");
        return false;
    }
    // Read into copies: a file whose curves run backwards is refused whole.
    auto counts = SegmentCount;
    auto flags = Symmetric;
    auto points = Points;
    for (int c = 0; c < PaletteChannels; ++c) {
        std::int32_t count = counts[c];
        if (ReadIntLine(file, count))
            counts[c] = std::clamp(count, 1, PaletteMaxSegments);
        for (int i = 0; i < PaletteMaxSegments; ++i)
            ReadBoolLine(file, flags[c][i]);
        for (int i = 0; i < PalettePoints; ++i) {
            ReadFloatLine(file, points[c][i].x);
            ReadFloatLine(file, points[c][i].y);
        }
    }
    // The anchors of a curve follow each other in level (x); equal levels are allowed.
    for (int c = 0; c < PaletteChannels; ++c)
        for (int a = 3; a <= 3 * counts[c]; a += 3)
            if (!(points[c][a].x >= points[c][a - 3].x)) {
                Report("The palette file " + path +
                       " holds a curve whose points are out of order. The palette is unchanged.");
                return false;
            }
    SegmentCount = counts;
    Symmetric = flags;
    Points = points;
    Name = path;
    BuildTables(true, true, true);
    Dirty = 1;
    if (file.HadProblem()) {
        Report("The palette file " + path + " could not be read whole: " + file.Problem() +
               ". The values it does not hold keep their previous values.");
        return false;
    }
    return true;
}

bool PPalette::SaveToFile(const std::string &path) const
{
    LineFileWriter file;
    if (file.Open(path)) {
        for (int c = 0; c < PaletteChannels; ++c) {
            WriteIntLine(file, SegmentCount[c]);
            for (int i = 0; i < PaletteMaxSegments; ++i)
                WriteBoolLine(file, Symmetric[c][i]);
            for (int i = 0; i < PalettePoints; ++i) {
                WriteFloatLine(file, Points[c][i].x);
                WriteFloatLine(file, Points[c][i].y);
            }
        }
        if (file.Close())
            return true;
    }
    Report("The palette file " + path + " could not be written (" + file.Error() + ").");
    return false;
}

bool PPalette::SameCurves(const PPalette &other) const
{
    if (SegmentCount != other.SegmentCount || Symmetric != other.Symmetric)
        return false;
    for (int c = 0; c < PaletteChannels; ++c)
        for (int i = 0; i < PalettePoints; ++i)
            if (Points[c][i].x != other.Points[c][i].x || Points[c][i].y != other.Points[c][i].y)
                return false;
    return true;
}

bool PPalette::SameTables(const PPalette &other) const
{
    for (int c = 0; c < PaletteChannels; ++c)
        if (FloatTable[c] != other.FloatTable[c] || ByteTable[c] != other.ByteTable[c])
            return false;
    return true;
}
