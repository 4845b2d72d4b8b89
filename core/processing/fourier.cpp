#include "processing/fourier.h"

#include "image_data.h"
#include "ui_hooks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include <unistd.h>

namespace
{

// FFTW's planner keeps global tables; plans are made and destroyed under this one lock.
std::mutex &PlannerLock()
{
    static std::mutex lock;
    return lock;
}

std::string Megabytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

// Signed frequency of index i of an n-point transform: i up to n/2, i - n above.
inline int SignedFrequency(int i, int n)
{
    return i <= n / 2 ? i : i - n;
}

} // namespace

std::uint64_t AvailableMemoryBytes()
{
    if (std::FILE *meminfo = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kb = 0;
        bool found = false;
        while (std::fgets(line, sizeof line, meminfo))
            if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
                found = true;
                break;
            }
        std::fclose(meminfo);
        if (found)
            return static_cast<std::uint64_t>(kb) * 1024u;
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0
               ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize)
               : 0;
}

std::uint64_t FourierFilter::BytesNeeded(int n)
{
    if (n <= 0)
        return 0;
    return 2u * static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n / 2 + 1) * sizeof(fftw_complex);
}

FourierFilter::~FourierFilter()
{
    Clear();
}

void FourierFilter::FreeBuffers()
{
    {
        std::lock_guard lock(PlannerLock());
        if (forwardPlan_)
            fftw_destroy_plan(forwardPlan_);
        if (inversePlan_)
            fftw_destroy_plan(inversePlan_);
    }
    forwardPlan_ = inversePlan_ = nullptr;
    fftw_free(spectrum_);
    fftw_free(work_);
    spectrum_ = work_ = nullptr;
}

void FourierFilter::Clear()
{
    FreeBuffers();
    n_ = width_ = height_ = 0;
    edgeMean_ = peakPower_ = 0.0;
}

bool FourierFilter::Prepare(int n)
{
    if (n == n_ && spectrum_ && forwardPlan_ && inversePlan_)
        return true; // same size: buffers and plans are reused
    Clear();
    const std::uint64_t needed = BytesNeeded(n);
    const std::uint64_t available = AvailableMemoryBytes();
    const std::uint64_t elements = static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n / 2 + 1);
    if ((available != 0 && needed > available) || elements > SIZE_MAX / sizeof(fftw_complex)) {
        Ui().ShowMessage("Korvi",
                         "Not enough memory for the Fourier transform of a " + std::to_string(n) + " x " +
                             std::to_string(n) + " square: it needs " + Megabytes(needed) + ", " +
                             Megabytes(available) + " are available.",
                         MessageButtons::Ok, MessageIcon::Error);
        return false;
    }
    spectrum_ = fftw_alloc_complex(elements);
    work_ = fftw_alloc_complex(elements);
    if (!spectrum_ || !work_) {
        FreeBuffers();
        Ui().ShowMessage("Korvi",
                         "Not enough memory for the Fourier transform: it needs " + Megabytes(needed) + ".",
                         MessageButtons::Ok, MessageIcon::Error);
        return false;
    }
    {
        std::lock_guard lock(PlannerLock());
        // Estimate planning writes nothing into the buffers.
        forwardPlan_ =
            fftw_plan_dft_r2c_2d(n, n, reinterpret_cast<double *>(work_), spectrum_, FFTW_ESTIMATE);
        inversePlan_ = fftw_plan_dft_c2r_2d(n, n, work_, reinterpret_cast<double *>(work_), FFTW_ESTIMATE);
    }
    if (!forwardPlan_ || !inversePlan_) {
        FreeBuffers();
        Ui().ShowMessage("Korvi", "The Fourier transform could not be planned.", MessageButtons::Ok,
                         MessageIcon::Error);
        return false;
    }
    n_ = n;
    return true;
}

bool FourierFilter::Transform(const ImageData &image)
{
    if (image.Empty || image.Width <= 0 || image.Height <= 0) {
        Clear();
        return false;
    }
    const int width = image.Width, height = image.Height;
    const int n = std::max(width, height);
    BusyCursor busy;
    if (!Prepare(n))
        return false;
    width_ = width;
    height_ = height;

    // The mean of the edge pixels: first and last row, first and last column (corners twice).
    double edge = 0.0;
    for (const int y : {0, height - 1}) {
        const std::uint16_t *row = image.FrameRow(0, y);
        for (int x = 0; x < width; ++x)
            edge += row[x];
    }
    for (int y = 0; y < height; ++y) {
        const std::uint16_t *row = image.FrameRow(0, y);
        edge += row[0];
        edge += row[width - 1];
    }
    edgeMean_ = edge / (2.0 * width + 2.0 * height);

    // The N x N real input, row after row, with the image centred along its shorter side.
    double *input = reinterpret_cast<double *>(work_);
    const std::size_t side = static_cast<std::size_t>(n);
    const bool rowsOffset = n == width;
    const int offset = rowsOffset ? (n - height) / 2 : (n - width) / 2;
    for (int k = 0; k < n; ++k) {
        double *out = input + static_cast<std::size_t>(k) * side;
        if (rowsOffset) {
            if (k < offset || k >= offset + height) {
                std::fill(out, out + side, edgeMean_);
                continue;
            }
            const std::uint16_t *row = image.FrameRow(0, k - offset);
            for (int j = 0; j < width; ++j)
                out[j] = row[j];
        } else {
            const std::uint16_t *row = image.FrameRow(0, k);
            std::fill(out, out + offset, edgeMean_);
            for (int j = 0; j < width; ++j)
                out[offset + j] = row[j];
            std::fill(out + offset + width, out + side, edgeMean_);
        }
    }
    fftw_execute(forwardPlan_);

    double peak = 0.0;
    const std::size_t elements = side * static_cast<std::size_t>(n / 2 + 1);
    for (std::size_t i = 0; i < elements; ++i)
        peak = std::max(peak, spectrum_[i][0] * spectrum_[i][0] + spectrum_[i][1] * spectrum_[i][1]);
    peakPower_ = peak;
    return true;
}

void FourierFilter::Element(int column, int row, double &re, double &im) const
{
    const int half = n_ / 2 + 1;
    if (column < half) {
        const fftw_complex &e = spectrum_[static_cast<std::size_t>(row) * half + column];
        re = e[0];
        im = e[1];
        return;
    }
    // The spectrum of a real image: element (-column, -row) is the conjugate.
    const int mirrorRow = row == 0 ? 0 : n_ - row;
    const fftw_complex &e = spectrum_[static_cast<std::size_t>(mirrorRow) * half + (n_ - column)];
    re = e[0];
    im = -e[1];
}

double FourierFilter::Power(int column, int row) const
{
    double re = 0.0, im = 0.0;
    Element(column, row, re, im);
    return re * re + im * im;
}

bool FourierFilter::Filter(ImageData &image, int cutoff, bool highPass, int edgeWidth)
{
    if (Empty() || image.Empty || image.Width != width_ || image.Height != height_)
        return false;
    BusyCursor busy;
    const int n = n_, half = n / 2 + 1;
    const int r = cutoff, w = edgeWidth;
    const int g = std::max(highPass ? r - 3 * w : r + 3 * w, 0);
    const float inverseWidthSquared = w > 0 ? 1.0f / (static_cast<float>(w) * static_cast<float>(w)) : 0.0f;

    // Every element's factor depends only on its whole distance d from zero frequency.
    const int largest = static_cast<int>(std::sqrt(2.0) * (n / 2)) + 2;
    std::vector<double> factor(static_cast<std::size_t>(largest) + 1);
    for (int d = 0; d <= largest; ++d) {
        const double edge = std::exp(-static_cast<double>(d - r) * (d - r) * inverseWidthSquared);
        if (highPass)
            factor[d] = d >= r ? 1.0 : (w > 0 && d >= g ? edge : 0.0);
        else
            factor[d] = d <= r ? 1.0 : (w > 0 && d <= g ? edge : 0.0);
    }

    // Filtered copy of the kept spectrum, transformed back in place.
    for (int k = 0; k < n; ++k) {
        const double fy = SignedFrequency(k, n);
        const fftw_complex *in = spectrum_ + static_cast<std::size_t>(k) * half;
        fftw_complex *out = work_ + static_cast<std::size_t>(k) * half;
        for (int j = 0; j < half; ++j) {
            const int d = static_cast<int>(std::sqrt(static_cast<double>(j) * j + fy * fy));
            const double f = factor[d];
            out[j][0] = in[j][0] * f;
            out[j][1] = in[j][1] * f;
        }
    }
    fftw_execute(inversePlan_);

    // The real result, scaled, limited to 0..65535 and truncated, back into the image area.
    const double *result = reinterpret_cast<const double *>(work_);
    const std::size_t stride = 2u * static_cast<std::size_t>(half);
    const double squared = static_cast<double>(n) * static_cast<double>(n);
    const bool rowsOffset = n == width_;
    const int offset = rowsOffset ? (n - height_) / 2 : (n - width_) / 2;
    for (int y = 0; y < height_; ++y) {
        const double *row = rowsOffset ? result + static_cast<std::size_t>(y + offset) * stride
                                       : result + static_cast<std::size_t>(y) * stride + offset;
        std::uint16_t *pixels = image.FrameRow(0, y);
        for (int x = 0; x < width_; ++x) {
            const double v = std::clamp(row[x] / squared, 0.0, 65535.0);
            pixels[x] = static_cast<std::uint16_t>(v);
        }
    }
    return true;
}
