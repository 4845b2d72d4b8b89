#include "default_data.h"

#include "bmp_file.h"
#include "processing/filter_file.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <vector>

namespace
{

struct Knot {
    float x;
    float y;
};

// One channel as straight pieces through the knots (x rising from 0 to 1): each piece is a Bezier
// segment whose handles sit at a third and two thirds of the way, so the curve is the polyline.
void SetChannel(PPalette &palette, int channel, std::initializer_list<Knot> knots)
{
    const std::vector<Knot> k(knots);
    const int segments = static_cast<int>(k.size()) - 1;
    auto &points = palette.Points[channel];
    points = {};
    points[0] = {k[0].x, k[0].y};
    for (int s = 1; s <= segments; ++s) {
        const Knot a = k[s - 1], b = k[s];
        points[3 * s - 2] = {a.x + (b.x - a.x) / 3.0f, a.y + (b.y - a.y) / 3.0f};
        points[3 * s - 1] = {a.x + 2.0f * (b.x - a.x) / 3.0f, a.y + 2.0f * (b.y - a.y) / 3.0f};
        points[3 * s] = {b.x, b.y};
    }
    palette.SegmentCount[channel] = segments;
    palette.Symmetric[channel] = {};
    for (int s = 0; s <= segments && s < PaletteMaxSegments; ++s)
        palette.Symmetric[channel][s] = true;
}

PPalette Build(std::initializer_list<Knot> red, std::initializer_list<Knot> green,
               std::initializer_list<Knot> blue)
{
    PPalette palette;
    palette.Name.clear();
    SetChannel(palette, 0, red);
    SetChannel(palette, 1, green);
    SetChannel(palette, 2, blue);
    palette.BuildTables(true, true, true);
    return palette;
}

// One paddle picture: four triangles split by the diagonals around a round centre, the lit ones
// green, each with a light arrowhead pointing outwards.
bool WritePaddleBitmap(const std::string &path, const std::string &lit)
{
    const int w = PaddleBitmapSize;
    std::vector<std::uint8_t> rgba(std::size_t(w) * w * 4, 0);
    auto isLit = [&](char direction) { return lit.find(direction) != std::string::npos; };
    for (int y = 0; y < w; ++y)
        for (int x = 0; x < w; ++x) {
            // The triangle of the pixel, as a click there would choose it.
            char direction;
            if (y < w - x && y < x)
                direction = 'N';
            else if (y > w - x && y > x)
                direction = 'S';
            else if (y < w - x && y > x)
                direction = 'E';
            else
                direction = 'W';
            // Distance from the edge the triangle points to, and from its middle line.
            const int depth = direction == 'N'   ? y
                              : direction == 'S' ? w - 1 - y
                              : direction == 'E' ? x
                                                 : w - 1 - x;
            const int across =
                direction == 'N' || direction == 'S' ? std::abs(x - w / 2) : std::abs(y - w / 2);
            const int cx = x - w / 2, cy = y - w / 2;
            std::uint8_t r, g, b;
            if (std::abs(x - y) <= 1 || std::abs(x + y - (w - 1)) <= 1 || x == 0 || y == 0 || x == w - 1 ||
                y == w - 1) {
                r = g = b = 40; // the diagonals and the border
            } else if (cx * cx + cy * cy <= 14 * 14) {
                r = g = b = 120; // the centre knob
            } else if (depth >= 10 && depth <= 26 && across <= depth - 10) {
                r = g = b = 235; // the arrowhead
            } else if (isLit(direction)) {
                r = 0, g = 190, b = 60;
            } else {
                r = g = b = 150;
            }
            std::uint8_t *p = &rgba[(std::size_t(y) * w + x) * 4];
            p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
        }
    return WriteBmpImage(path, w, w, rgba.data(), false);
}

} // namespace

PPalette GreyscalePalette()
{
    return Build({{0, 0}, {1, 1}}, {{0, 0}, {1, 1}}, {{0, 0}, {1, 1}});
}

PPalette BlackBodyPalette()
{
    // Black through deep red, orange and yellow to white, like a heated body.
    return Build({{0, 0}, {0.40f, 1}, {1, 1}}, {{0, 0}, {0.30f, 0}, {0.75f, 1}, {1, 1}},
                 {{0, 0}, {0.65f, 0}, {1, 1}});
}

PPalette SpectrumPalette()
{
    // Violet, blue, cyan, green, yellow, red.
    return Build({{0, 0.5f}, {0.15f, 0}, {0.55f, 0}, {0.75f, 1}, {1, 1}},
                 {{0, 0}, {0.20f, 0}, {0.40f, 1}, {0.75f, 1}, {1, 0}},
                 {{0, 0.6f}, {0.20f, 1}, {0.40f, 1}, {0.55f, 0}, {1, 0}});
}

PPalette Spectrum2Palette()
{
    // Black, blue, cyan, green, yellow, red, white: the faint end stays dark.
    return Build({{0, 0}, {0.50f, 0}, {0.65f, 1}, {0.85f, 1}, {1, 1}},
                 {{0, 0}, {0.20f, 0}, {0.35f, 1}, {0.65f, 1}, {0.85f, 0}, {1, 1}},
                 {{0, 0}, {0.15f, 1}, {0.35f, 1}, {0.50f, 0}, {0.85f, 0}, {1, 1}});
}

CFSettings ProgramDefaultCompositeSettings()
{
    CFSettings s;
    s.LayerPalettes[0] = Build({{0, 0}, {1, 1}}, {{0, 0}, {1, 0}}, {{0, 0}, {1, 0}});
    s.LayerPalettes[1] = Build({{0, 0}, {1, 0}}, {{0, 0}, {1, 1}}, {{0, 0}, {1, 0}});
    s.LayerPalettes[2] = Build({{0, 0}, {1, 0}}, {{0, 0}, {1, 0}}, {{0, 0}, {1, 1}});
    s.LayerPalettes[3] = GreyscalePalette();
    s.LayerPalettes[4] = GreyscalePalette();
    return s;
}

Settings ProgramDefaultSettings()
{
    Settings s;
    s.DefaultPaletteFile = {"Greyscale.pal", "Greyscale.pal"};
    // Frames go into the folder "Frames" beside the program (a prefix without a folder would put
    // them wherever the program happened to be started); the program makes the folder.
    s.SaveFile = {DefaultFramesFolder + std::string("/Image"), DefaultFramesFolder + std::string("/Guide")};
    s.FilterName = {"", "Red", "Green", "Blue", "Visible Pass", "H-Beta", "O-III"};
    s.ProcessedPostFix = {"_P", "_P"};
    s.NImage = {1, 1};
    s.InitExt = {1, 1};
    // Imaging camera: KAF-401e/le, 797 x 520; guiding camera: TC211, 192 x 165.
    s.CCDType = 0;
    s.NCOL = {797, 192};
    s.NROW = {520, 165};
    s.XLO = {0, 0};
    s.XHI = {796, 191};
    s.YLO = {0, 0};
    s.YHI = {511, 164};
    s.XBIN = {1, 1};
    s.YBIN = {1, 1};
    s.NClear = {10, 10};
    s.SaveFormat = {0, 0};
    s.WindowTop = 40;
    s.WindowLeft = 40;
    s.WindowWidth = 1083;
    s.WindowHeight = 768;
    s.GuideMode = 0;
    s.GuideDetent = 5;
    s.GuideMaxExcursion = 5; // as the guider window shows by default: an outlier is five times the mean
    s.FiltPos = 2;
    s.MaximumWindows = 10;
    s.WindowArrangement = 0;
    s.CCDTargetTemp = {-20, -20};
    s.XSectionMode = 0;
    s.SaveRawImage = true;
    s.Save211 = false;
    s.DisplayImage = true;
    s.DisplayTC = true;
    s.EnableShutter = true;
    s.IncrExt = true;
    s.IncrExt211 = true;
    s.CCD1HasPriority = true;
    s.UseFiltDesc = true;
    // Raw frames first: processed saving needs dark and flat frames the observer has yet to take.
    s.SaveProcessed = {false, false};
    s.ICAutoSet = true; // a new frame shows its stars without setting levels by hand
    s.AmpTurnoff = {true, false};
    s.UseKEDRO = true;
    s.IntTime = {1.0f, 1.0f}; // a first frame long enough to show the stars, also at a short time scale
    s.Delay = {0.2f, 0.2f};
    s.IntScale = {1.0f, 1.0f};
    return s;
}

bool WriteDefaultData(const std::string &directory)
{
    std::string dir = directory;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    if (!ProgramDefaultSettings().SaveToFile(dir + DefaultSettingsFile) ||
        !ProgramDefaultCompositeSettings().SaveToFile(dir + DefaultCompositeSettingsFile))
        return false;
    for (const DefaultPaletteFile &file : DefaultPaletteFiles)
        if (!file.make().SaveToFile(dir + file.name))
            return false;

    // The palette-bar frame: a dark outline and a light bevel around a black well.
    std::vector<std::uint8_t> rgba(std::size_t(FrameBitmapWidth) * FrameBitmapHeight * 4, 0);
    for (int y = 0; y < FrameBitmapHeight; ++y)
        for (int x = 0; x < FrameBitmapWidth; ++x) {
            const int edge = std::min({x, y, FrameBitmapWidth - 1 - x, FrameBitmapHeight - 1 - y});
            const std::uint8_t level = edge == 0 ? 64 : edge == 1 ? 224 : edge == 2 ? 160 : 0;
            std::uint8_t *p = &rgba[(std::size_t(y) * FrameBitmapWidth + x) * 4];
            p[0] = p[1] = p[2] = level;
            p[3] = 255;
        }
    if (!WriteBmpImage(dir + FrameBitmapFile, FrameBitmapWidth, FrameBitmapHeight, rgba.data(), false))
        return false;
    for (const char *lit : PaddleBitmapNames)
        if (!WritePaddleBitmap(dir + PaddleBitmapFile(lit), lit))
            return false;

    // The convolution filters of the processing dialog's list.
    std::error_code ec;
    std::filesystem::create_directories(dir + "Filters", ec);
    for (int entry = 0; entry < FilterListEntries; ++entry)
        if (!WriteConvolutionFilterFile(dir + ShippedFilterFileNames[entry], ShippedFilter(entry)))
            return false;
    return true;
}

std::string PaddleBitmapFile(const std::string &lit)
{
    return "Bitmaps/trackbtn" + lit + ".bmp";
}
