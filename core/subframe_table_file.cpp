#include "subframe_table_file.h"

#include "image_data.h"
#include "image_file.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace
{

void AppendNumber(std::string &text, long value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
}

} // namespace

bool ClipSubframe(const ImageData &image, SubframeRectangle &r)
{
    if (image.Empty || image.Width <= 0 || image.Height <= 0)
        return false;
    // Corners given the wrong way round still name the same rectangle.
    if (r.xHi < r.xLo)
        std::swap(r.xLo, r.xHi);
    if (r.yHi < r.yLo)
        std::swap(r.yLo, r.yHi);
    if (r.xHi < 0 || r.yHi < 0 || r.xLo >= image.Width || r.yLo >= image.Height)
        return false;
    r.xLo = std::max(r.xLo, 0);
    r.yLo = std::max(r.yLo, 0);
    r.xHi = std::min(r.xHi, image.Width - 1);
    r.yHi = std::min(r.yHi, image.Height - 1);
    return true;
}

std::string SubframeTableText(const ImageData &image, SubframeRectangle r, bool invertCoords)
{
    std::string text;
    if (!ClipSubframe(image, r))
        return text;
    const int nx = r.xHi - r.xLo + 1;
    const int ny = r.yHi - r.yLo + 1;
    // Lines run along the image's rows, or along its columns when transposed.
    const int lines = invertCoords ? nx : ny;
    const int fields = invertCoords ? ny : nx;
    text.reserve(static_cast<std::size_t>(lines + 1) * static_cast<std::size_t>(fields + 1) * 7);
    text += invertCoords ? "X\\Y" : "Y\\X";
    for (int k = 1; k <= fields; ++k) {
        text += ", ";
        AppendNumber(text, k);
    }
    text += '\n';
    for (int line = 1; line <= lines; ++line) {
        AppendNumber(text, line);
        for (int k = 0; k < fields; ++k) {
            const int x = invertCoords ? r.xLo + line - 1 : r.xLo + k;
            const int y = invertCoords ? r.yLo + k : r.yLo + line - 1;
            text += ", ";
            AppendNumber(text, image.FrameRow(0, y)[x]);
        }
        text += '\n';
    }
    return text;
}

bool WriteSubframeTable(const std::string &path, const ImageData &image, const SubframeRectangle &rectangle,
                        bool invertCoords)
{
    const std::string text = SubframeTableText(image, rectangle, invertCoords);
    if (text.empty())
        return false;
    ReplacingFile file(path);
    if (!file.Open())
        return false;
    file.Write(text.data(), text.size());
    return file.Commit();
}
