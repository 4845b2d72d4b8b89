#pragma once
// Radial low-pass and high-pass filtering of an image in the Fourier domain.
//
// FourierFilter keeps the forward spectrum of frame 0 of one image between the two steps of the
// Fourier window: Transform() pads the image into an N x N square (N = the larger side; the added
// border holds the mean of the image's edge pixels) and transforms it; the window shows the power
// spectrum and later Filter() cuts the spectrum at a radius with a gaussian edge, transforms back
// and writes the result into the image area of the square. The kept spectrum is not changed by
// Filter(), so the same spectrum can be filtered again with other settings.
//
// The image is real, so only the non-negative column frequencies are kept (N x (N/2 + 1) complex
// values, the others are their conjugates); Power() answers for every (column, row) of the full
// square. Frequencies are signed (index j stands for j when j <= N/2, else j - N), which makes the
// cut-off circle symmetric for odd N as well as for even N.
//
// FFTW plans are made under one lock (FFTW's planner is not thread-safe) and kept for the size
// they were made for, so repeated transforms of one size plan once. Memory is checked before the
// buffers are allocated; a refusal is reported with the amount needed.
#include <fftw3.h>

#include <cstddef>
#include <cstdint>

class ImageData;

class FourierFilter
{
public:
    FourierFilter() = default;
    ~FourierFilter();
    FourierFilter(const FourierFilter &) = delete;
    FourierFilter &operator=(const FourierFilter &) = delete;

    // Bytes of the buffers a transform of size n needs.
    static std::uint64_t BytesNeeded(int n);

    // Forward transform of frame 0 of image into the kept spectrum (ForwardImageFFT). False, with
    // a message, when the image is empty or the memory cannot hold the buffers; the filter is then
    // empty.
    bool Transform(const ImageData &image);
    // Filters the kept spectrum and writes the result into image (InverseImageFFTFiltered).
    // cutoff and edgeWidth are in spectrum pixels; highPass passes the frequencies at or above the
    // cut-off, else those at or below it. The image must have the width and height the spectrum
    // was taken from (false, nothing changed, otherwise).
    bool Filter(ImageData &image, int cutoff, bool highPass, int edgeWidth);
    // Releases the buffers and plans.
    void Clear();

    bool Empty() const { return n_ == 0; }
    int Size() const { return n_; }            // N
    int SourceWidth() const { return width_; } // the image the spectrum was taken from
    int SourceHeight() const { return height_; }
    double EdgeMean() const { return edgeMean_; }   // the value of the padding
    double PeakPower() const { return peakPower_; } // the largest re^2 + im^2 of the spectrum
    // re^2 + im^2 of spectrum element (column, row), 0 <= column, row < N.
    double Power(int column, int row) const;
    // The complex element (column, row) of the full N x N spectrum.
    void Element(int column, int row, double &re, double &im) const;

private:
    bool Prepare(int n);
    void FreeBuffers();

    int n_ = 0;
    int width_ = 0, height_ = 0;
    double edgeMean_ = 0.0;
    double peakPower_ = 0.0;
    fftw_complex *spectrum_ = nullptr; // N rows of N/2 + 1 complex values
    fftw_complex *work_ = nullptr;     // the same size: the padded real input, then the filtered copy
    fftw_plan forwardPlan_ = nullptr;  // work_ (N x N reals) -> spectrum_
    fftw_plan inversePlan_ = nullptr;  // work_ in place, to N rows of 2 (N/2 + 1) reals
};

// The memory the system can give now (MemAvailable), in bytes; 0 when it cannot be told.
std::uint64_t AvailableMemoryBytes();
