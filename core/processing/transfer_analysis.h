#pragma once
// Camera gain and read noise from two numbered series: bias frames and evenly lit frames. Pixels
// are sampled at many intensity levels; for each sample the frame-to-frame mean and variance over
// each series give one record (mean, variance, flag 0 for the lit frames, 1 for the bias frames).
// A straight line variance = k x mean + bias variance fitted to the lit records gives the gain
// 1/k in electrons per ADU and the read noise sqrt(bias variance) / k in electrons.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class ImageData;

struct TransferRecord {
    double X = 0.0; // mean (ADU above the bias)
    double Y = 0.0; // variance (ADU squared)
    int F = 0;      // 0 lit-frame sample, 1 bias sample
};

struct TransferSeries {
    std::vector<std::string> biasFiles;
    std::vector<std::string> imageFiles;
    int samples = 500;          // N: levels sampled
    int bin = 10;               // records averaged together (1: none)
    bool useHeaderBias = false; // subtract each lit frame's header offset level instead of the bias level
};

// Smallest and largest value of the image (frame 0) after a 5 x 5 median filter (window clamped at
// the edges), over columns x0..x1 and rows y0..y1. The image is not changed.
void MedianFilteredRange(const ImageData &image, int x0, int y0, int x1, int y1, int &minimum, int &maximum);

// The sample pixels: for each level L[k] = (max - min) x k / n + min, k = 0..n-1, the first pixel
// scanning columns x0..x1 and within each column rows y0..y1 whose value is closest to L[k].
// Returned as (x, y) pairs.
std::vector<std::pair<int, int>> SelectSamplePixels(const ImageData &image, int x0, int y0, int x1, int y1,
                                                    int n, int minimum, int maximum);

// Mean of the central min(100, width) x min(100, height) pixels of frame 0, less offset.
double CentralBoxMean(const ImageData &image, double offset);

// Runs the analysis. status receives the progress texts; on failure the result is false and
// statusError holds the status-bar text ("Status: ..."), and records is left empty.
bool AnalyzeTransferSeries(const TransferSeries &series, std::vector<TransferRecord> &records,
                           std::string &statusError, const std::function<void(const std::string &)> &status);

// The data file: "mean, variance, flag" a line, numbers in the picture "0.00000e+00", flag 0 for the
// first half of the records (integer half) and 1 for the rest.
bool WriteTransferDataFile(const std::string &path, const std::vector<TransferRecord> &records);
std::string TransferDataText(const std::vector<TransferRecord> &records);

// Reads a data file, keeping the records whose mean lies in minX..maxX. False with problem set for
// a missing file ("Could not find " + path), fewer than 2 records ("File has less than 2 data
// records.") or a line that is not "number, number, whole number".
bool ReadTransferDataFile(const std::string &path, double minX, double maxX,
                          std::vector<TransferRecord> &kept, std::string &problem);

struct TransferRanges {
    double xMin = 0.0, xMax = 0.0, yMin = 0.0, yMax = 0.0;
};
// Minimum and maximum of X and of Y over the records (all zero for none).
TransferRanges RangesOf(const std::vector<TransferRecord> &records);

struct TransferFit {
    double k = 0.0;            // variance per ADU of mean
    double biasVariance = 0.0; // mean variance of the bias records
    double gain = 0.0;         // electrons per ADU (1 / k)
    double noise = 0.0;        // read noise in electrons (sqrt(|bias variance|) / k)
};
// The slope is searched from d/4 to 4d in steps of 0.1 % (d: the records' variance range over
// their mean range), minimising the squared residuals of the lit records with the intercept held
// at the bias variance. False with problem set when there are no bias records or the records give
// no positive slope to search around.
bool FitTransferConstant(const std::vector<TransferRecord> &records, TransferFit &fit, std::string &problem);
