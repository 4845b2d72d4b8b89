#pragma once
// PPalette: a false-colour palette. Per colour channel (0 red, 1 green, 2 blue) a curve of up to
// 20 cubic Bezier segments maps the input level (x, 0..1 = fraction of 65535) to an intensity
// (y, 0..1); from the curves BuildTables fills lookup tables of 65536 entries per channel so that
// a 16-bit display value maps directly to a colour. Stored as a 429-line ".pal" text file.
//
// The tables (about 1 MB) live on the heap; copying a palette copies them (deep copy).
#include <array>
#include <cstdint>
#include <memory>
#include <string>

inline constexpr int PaletteChannels = 3;
inline constexpr int PaletteMaxSegments = 20;
inline constexpr int PalettePoints = 3 * PaletteMaxSegments + 1; // 61
inline constexpr int PaletteLevels = 65536;
inline constexpr int PaletteFileLines = 3 * (1 + PaletteMaxSegments + 2 * PalettePoints); // 429

// Three 65536-entry tables on the heap, one per channel: table[channel][level].
template <typename T> class PaletteTables
{
public:
    using Channel = std::array<T, PaletteLevels>;
    PaletteTables() : data_(std::make_unique<Channel[]>(PaletteChannels)) {}
    PaletteTables(const PaletteTables &other)
        : data_(std::make_unique_for_overwrite<Channel[]>(PaletteChannels))
    {
        *this = other;
    }
    PaletteTables &operator=(const PaletteTables &other)
    {
        if (this != &other)
            for (int c = 0; c < PaletteChannels; ++c)
                data_[c] = other.data_[c];
        return *this;
    }
    // Moving hands over the storage; the moved-from object gets fresh zeroed tables, so every
    // palette always has its tables.
    PaletteTables(PaletteTables &&other) : PaletteTables() { data_.swap(other.data_); }
    PaletteTables &operator=(PaletteTables &&other) noexcept
    {
        data_.swap(other.data_);
        return *this;
    }
    Channel &operator[](int channel) { return data_[channel]; }
    const Channel &operator[](int channel) const { return data_[channel]; }

private:
    std::unique_ptr<Channel[]> data_;
};

struct PalettePoint {
    float x = 0.0f; // input level, 0..1
    float y = 0.0f; // output intensity, 0..1
    bool operator==(const PalettePoint &) const = default;
};

class PPalette
{
public:
    // A built-in grey ramp (one straight segment from (0,0) to (1,1) per channel, tables built),
    // so that an image shows before any palette file is loaded. Name is empty.
    PPalette();

    std::string Name; // file path the palette was last loaded from (empty when built in)
    // Per channel 61 points: Points[c][0] is the first anchor; segment s (1..SegmentCount[c]) uses
    // Points[c][3s-3] (start anchor), [3s-2], [3s-1] (handles) and [3s] (end anchor).
    std::array<std::array<PalettePoint, PalettePoints>, PaletteChannels> Points{};
    std::array<std::int32_t, PaletteChannels> SegmentCount{}; // segments in use, 1..20
    // Handle symmetry of each point, kept for the palette editor.
    std::array<std::array<bool, PaletteMaxSegments>, PaletteChannels> Symmetric{};
    // Set to 1 whenever the tables were rebuilt or replaced; the image window compares it to
    // decide whether to re-render, and clears it.
    std::uint8_t Dirty = 1;
    PaletteTables<float> FloatTable;       // FloatTable[c][level], intensity 0..1
    PaletteTables<std::uint8_t> ByteTable; // ByteTable[c][level], intensity 0..255

    // Red in the low byte, green in the next, blue in the third (level clamped to 0..65535).
    std::uint32_t ColorAt(int level) const;
    // Copies name, counts, flags, points and both tables, then sets Dirty.
    void Assign(const PPalette &source);
    // Rebuilds the tables of the selected channels from their curves. Entry 0 of a rebuilt channel
    // is 0; levels the curve does not reach keep their earlier values. Sets Dirty when blue is
    // rebuilt.
    void BuildTables(bool red, bool green, bool blue);
    // The tables BuildTables(true, true, true) would give, without the build where its result is
    // known: a channel whose tables were last built from exactly its present curve stays as it is
    // (a build over its own result changes nothing), and one whose curve `known` last built its
    // own channel from, with every level written (so that the result does not depend on what the
    // tables held before), takes known's tables. Sets Dirty. A file reader uses it: a series of
    // files saved with one palette builds it once.
    void RefreshTables(const PPalette *known = nullptr);
    // Reads a ".pal" file, sets Name to path, builds all three channels and sets Dirty. A missing,
    // short or malformed file is reported once through the message hooks; the values it does not
    // hold (or holds malformed) keep their previous values. A file in which a curve's anchors go
    // back in level is refused whole (reported; the palette is unchanged). False when anything
    // was wrong.
    bool LoadFromFile(const std::string &path);
    // Writes the ".pal" file (429 lines); false, reported once, when it could not be written whole
    // (an existing file is then left as it was).
    bool SaveToFile(const std::string &path) const;

    // Same curves: counts, flags and all 61 points of every channel.
    bool SameCurves(const PPalette &other) const;
    // Same float and byte tables.
    bool SameTables(const PPalette &other) const;

private:
    // The curve a channel's tables were last built from (as given, bit for bit), and whether that
    // build wrote every level. Code that writes the tables directly leaves this stale, so only
    // RefreshTables relies on it; a moved-from palette (whose tables are fresh) forgets it.
    struct BuiltCurve {
        bool valid = false;
        bool everyLevel = false;
        std::int32_t segments = 0;
        std::array<PalettePoint, PalettePoints> points{};
        bool Matches(const std::array<PalettePoint, PalettePoints> &curve, std::int32_t count) const;
    };
    struct BuiltCurves {
        std::array<BuiltCurve, PaletteChannels> channel{};
        BuiltCurves() = default;
        BuiltCurves(const BuiltCurves &) = default;
        BuiltCurves &operator=(const BuiltCurves &) = default;
        BuiltCurves(BuiltCurves &&other) noexcept : channel(other.channel) { other.channel = {}; }
        BuiltCurves &operator=(BuiltCurves &&other) noexcept
        {
            channel = other.channel;
            other.channel = {};
            return *this;
        }
    };
    BuiltCurves built_;
    void BuildChannelTables(int channel);
};
