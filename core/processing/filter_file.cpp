#include "processing/filter_file.h"

#include "ui_hooks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

const char *const ShippedFilterFileNames[FilterListEntries] = {
    "Filters/Lowpass.qzk", "Filters/Highpass.qzk", "Filters/Laplace.qzk",
    "Filters/Sobel.qzk",   "Filters/Prewitt.qzk",  "Filters/User_def.qzk",
};
const char *const FilterListTexts[FilterListEntries] = {
    "Low pass filter", "High pass filter", "Laplacian filter",
    "Sobel filter",    "Prewitt filter",   "User defined",
};

namespace
{

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// One text line as read with a 64-byte limit, without its surrounding blanks.
bool ReadLine(std::FILE *f, std::string &line)
{
    char buffer[64];
    if (!std::fgets(buffer, sizeof buffer, f))
        return false;
    line = buffer;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!line.empty() && blank(line.back()))
        line.pop_back();
    line.erase(line.begin(), std::find_if_not(line.begin(), line.end(), blank));
    return true;
}

bool ReadInt16(std::FILE *f, std::int16_t &value)
{
    unsigned char b[2];
    if (std::fread(b, 1, 2, f) != 2)
        return false;
    value = static_cast<std::int16_t>(b[0] | (b[1] << 8));
    return true;
}

void PutInt16(std::string &out, std::int16_t value)
{
    out.push_back(static_cast<char>(value & 0xff));
    out.push_back(static_cast<char>((value >> 8) & 0xff));
}

// The weight of a kernel cell for each of the four filter powers (1..4).
void SetCell(ConvolutionFilterFile &file, int size, int matrix, int column, int row, float weight,
             bool scaled)
{
    for (int power = 0; power < 4; ++power)
        file.Kernels[column][row][power][size][matrix] =
            scaled ? weight * static_cast<float>(power + 1) : weight;
}

} // namespace

FilterFileResult ReadConvolutionFilterFile(const std::string &path, ConvolutionFilterFile &file)
{
    File f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return FilterFileResult::CannotOpen;
    std::string header, name;
    if (!ReadLine(f.get(), header) || header != FilterFileHeader)
        return FilterFileResult::NotAFilterFile;
    ConvolutionFilterFile read;
    if (!ReadLine(f.get(), name) || !ReadInt16(f.get(), read.KernelSize) || !ReadInt16(f.get(), read.Entry))
        return FilterFileResult::Damaged;
    if (read.KernelSize < 0 || read.KernelSize > 1 || read.Entry < 0 || read.Entry >= FilterListEntries)
        return FilterFileResult::Damaged;
    unsigned char bytes[400 * 4];
    if (std::fread(bytes, 1, sizeof bytes, f.get()) != sizeof bytes)
        return FilterFileResult::Damaged;
    float *weights = &read.Kernels[0][0][0][0][0];
    for (int i = 0; i < 400; ++i) {
        const std::uint32_t word = bytes[4 * i] | (bytes[4 * i + 1] << 8) | (bytes[4 * i + 2] << 16) |
                                   (static_cast<std::uint32_t>(bytes[4 * i + 3]) << 24);
        std::memcpy(&weights[i], &word, 4);
    }
    read.Name = name;
    file = read;
    return FilterFileResult::Ok;
}

bool WriteConvolutionFilterFile(const std::string &path, const ConvolutionFilterFile &file)
{
    std::string out = std::string(FilterFileHeader) + "\r\n" + file.Name + "\r\n";
    PutInt16(out, file.KernelSize);
    PutInt16(out, file.Entry);
    const float *weights = &file.Kernels[0][0][0][0][0];
    for (int i = 0; i < 400; ++i) {
        std::uint32_t word;
        std::memcpy(&word, &weights[i], 4);
        for (int b = 0; b < 4; ++b)
            out.push_back(static_cast<char>((word >> (8 * b)) & 0xff));
    }
    std::FILE *f = std::fopen(path.c_str(), "wb");
    bool ok = f && std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (f && std::fclose(f) != 0)
        ok = false;
    if (!ok)
        Ui().ShowMessage("Korvi", "The filter file " + path + " could not be written.", MessageButtons::Ok,
                         MessageIcon::Error);
    return ok;
}

ConvolutionFilterFile ShippedFilter(int entry)
{
    ConvolutionFilterFile file;
    entry = std::clamp(entry, 0, FilterListEntries - 1);
    file.Name = FilterListTexts[entry];
    file.Entry = static_cast<std::int16_t>(entry);
    // The 3 x 3 kernels sit in the first three columns and rows of their 5 x 5 block.
    for (int size = 0; size < 2; ++size) {
        const int n = size == 0 ? 3 : 5, c = n / 2;
        for (int m = 0; m < n; ++m)
            for (int r = 0; r < n; ++r) {
                const int dx = m - c, dy = r - c;
                const bool centre = dx == 0 && dy == 0;
                switch (entry) {
                case 0: // low pass: a box whose centre weighs less as the power rises (8, 4, 2, 1)
                    for (int power = 0; power < 4; ++power)
                        file.Kernels[m][r][power][size][0] = centre ? static_cast<float>(8 >> power) : 1.0f;
                    break;
                case 1: // high pass: the centre outweighs the ring by 8, 4, 2, 1
                    for (int power = 0; power < 4; ++power)
                        file.Kernels[m][r][power][size][0] =
                            centre ? static_cast<float>(n * n - 1 + (8 >> power)) : -1.0f;
                    break;
                case 2: // Laplacian cross, scaled by the power
                    if (dx == 0 || dy == 0)
                        SetCell(file, size, 0, m, r, centre ? 4.0f * c : -1.0f, true);
                    break;
                case 3: { // Sobel: horizontal and vertical gradients
                    const float smooth[2][5] = {{1, 2, 1, 0, 0}, {1, 4, 6, 4, 1}};
                    const float slope[2][5] = {{-1, 0, 1, 0, 0}, {-1, -2, 0, 2, 1}};
                    const float scale = size == 0 ? 1.0f : 1.0f / 8.0f;
                    SetCell(file, size, 0, m, r, scale * slope[size][m] * smooth[size][r], true);
                    SetCell(file, size, 1, m, r, scale * smooth[size][m] * slope[size][r], true);
                    break;
                }
                case 4: // Prewitt: gradients without smoothing weights
                    SetCell(file, size, 0, m, r, static_cast<float>(dx), true);
                    SetCell(file, size, 1, m, r, static_cast<float>(dy), true);
                    break;
                default: // user defined: starts as the identity
                    if (centre)
                        SetCell(file, size, 0, m, r, 1.0f, false);
                    break;
                }
            }
    }
    return file;
}
