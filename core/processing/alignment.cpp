#include "processing/alignment.h"

#include "processing/stacking.h"
#include "processing/stars.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace
{

// Frames at least this large are resampled on all cores.
constexpr long ParallelPixels = 65536;

bool Loaded(const ImageData &layer)
{
    return !layer.Empty && layer.Width > 0 && layer.Height > 0;
}

bool Picked(int x, int y)
{
    return x != 0 || y != 0;
}

std::string Channel(int c)
{
    return std::to_string(c + 1);
}

// The crop problem, or empty when the frame is ordered and inside a width x height layer.
std::string CropProblem(const AlignmentCrop &crop, int width, int height)
{
    if (crop.XHi < crop.XLo || crop.YHi < crop.YLo)
        return "The cropping frame is reversed: Right X must not be less than Left X, nor Bottom Y less "
               "than Top Y.";
    if (crop.XLo < 0 || crop.YLo < 0 || crop.XHi >= width || crop.YHi >= height)
        return "The cropping frame must lie within layer 1 (X 0 to " + std::to_string(width - 1) +
               ", Y 0 to " + std::to_string(height - 1) + ").";
    return {};
}

bool Identity(const ChannelAlignment &p)
{
    return p.Angle == 0.0f && p.Scale == 1.0f && p.ShiftX == 0.0f && p.ShiftY == 0.0f;
}

// Checks the input and allocates the new one-frame image of the crop's size; false with the
// problem otherwise.
bool PrepareCrop(const ImageData &layer, const ChannelAlignment &placement, const AlignmentCrop &crop,
                 int channel, ImageData &result, std::string &problem)
{
    if (!Loaded(layer)) {
        problem = "Layer " + Channel(channel) + " holds no image.";
        return false;
    }
    if (crop.XHi < crop.XLo || crop.YHi < crop.YLo) {
        problem = CropProblem(crop, layer.Width, layer.Height);
        return false;
    }
    if (!(placement.Scale > 0.0f) || !std::isfinite(placement.Scale)) {
        problem = "Channel " + Channel(channel) + " cannot be aligned: its scale is not a positive number.";
        return false;
    }
    if (!std::isfinite(placement.Angle) || !std::isfinite(placement.ShiftX) ||
        !std::isfinite(placement.ShiftY)) {
        problem = "Channel " + Channel(channel) + " cannot be aligned: its angle or shift is not a number.";
        return false;
    }
    if (!result.Allocate(crop.XHi - crop.XLo + 1, crop.YHi - crop.YLo + 1, 1)) {
        problem = "Not enough memory to align layer " + Channel(channel) + ".";
        return false;
    }
    return true;
}

// Fills result (of the crop's size) with the layer's frame 0 under the placement.
void ResampleCrop(const ImageData &layer, const ChannelAlignment &placement, const AlignmentCrop &crop,
                  int channel, const AlignmentProgress &progress, ImageData &result)
{
    const int t = result.Width, u = result.Height;
    // The sampler divides by its scale factors: a layer magnified by Scale is read at 1 / (1 / Scale).
    const float k = placement.Scale == 1.0f ? 1.0f : 1.0f / placement.Scale;
    const TransformSampler sampler(
        layer, {placement.ShiftX, placement.ShiftY, placement.Angle, placement.StarX, placement.StarY, k, k});
    // Pure crops within the layer (layer 1, or a layer that matches it exactly) copy their pixels.
    const bool copy = Identity(placement) && crop.XLo >= 0 && crop.YLo >= 0 && crop.XHi < layer.Width &&
                      crop.YHi < layer.Height;
    // Rows are shared among the cores in one parallel run per layer (a run per step of the
    // progress would make every core wait for the slowest at each step). The calling thread reports
    // the share of rows done whenever it finishes a row and the percentage has risen.
    std::atomic<int> rowsDone{0};
    int reported = -1;
#pragma omp parallel for schedule(dynamic, 16) if (static_cast <long>(t) * u >= ParallelPixels)
    for (int row = 0; row < u; ++row) {
        const int y = crop.YLo + row;
        std::uint16_t *out = result.Rows[row];
        if (copy) {
            std::copy_n(layer.Rows[y] + crop.XLo, t, out);
        } else {
            for (int x = 0; x < t; ++x)
                out[x] = sampler.Sample(crop.XLo + x, y);
        }
        const int done = rowsDone.fetch_add(1, std::memory_order_relaxed) + 1;
        if (progress && omp_get_thread_num() == 0) {
            const int percent = static_cast<int>(static_cast<long>(done) * 100 / u);
            if (percent > reported) {
                reported = percent;
                progress(channel + 1, percent);
            }
        }
    }
    if (progress && reported < 100)
        progress(channel + 1, 100);
}

// The layer takes the resampled pixels; its placement is spent.
void Install(ImageData &layer, ImageData &result)
{
    layer.Rows.swap(result.Rows);
    layer.Rgba.swap(result.Rgba);
    layer.Width = result.Width;
    layer.Height = result.Height;
    layer.Frames = 1;
    layer.CurrentFrame = 0;
    layer.ShiftX = layer.ShiftY = 0.0f;
    layer.Angle = 0.0f;
    layer.RotationCentreX = layer.RotationCentreY = 0.0f;
    result.Free();
}

} // namespace

AlignmentOutcome MeasureAlignment(std::span<const ImageData> layers, const AlignmentOptions &options,
                                  std::array<ChannelAlignment, AlignmentChannels> &channels,
                                  std::string &problem)
{
    const int count = std::min<int>(static_cast<int>(layers.size()), AlignmentChannels);
    int loaded = 0;
    for (int c = 0; c < count; ++c)
        loaded += Loaded(layers[c]);
    if (loaded < 2)
        return AlignmentOutcome::TooFewLayers;
    const ImageData &reference = layers[0];
    if (!Loaded(reference)) {
        problem = "Layer 1 is the reference of the alignment: load an image into it first.";
        return AlignmentOutcome::Refused;
    }
    problem = CropProblem(options.Crop, reference.Width, reference.Height);
    if (!problem.empty())
        return AlignmentOutcome::Refused;
    // Refining from a star never picked would measure the corner of the frame and scramble the layer.
    for (int c = 0; c < count; ++c) {
        const AlignmentStars &s = options.Stars[c];
        if (Loaded(layers[c]) && (!Picked(s.X1, s.Y1) || (options.TwoStars && !Picked(s.X2, s.Y2)))) {
            problem = "Pick the reference stars of channel " + Channel(c) +
                      " first: point at a star and choose \"Set reference star 1\"" +
                      (options.TwoStars ? " (and \"Set reference star 2\")." : ".");
            return AlignmentOutcome::Refused;
        }
    }

    auto refine = [](const ImageData &layer, int x, int y, float &rx, float &ry) {
        rx = static_cast<float>(x);
        ry = static_cast<float>(y);
        RefineStarCentroid(layer, rx, ry);
    };
    float X1, Y1, X2, Y2;
    refine(reference, options.Stars[0].X1, options.Stars[0].Y1, X1, Y1);
    refine(reference, options.Stars[0].X2, options.Stars[0].Y2, X2, Y2);
    const double aLength = std::hypot(static_cast<double>(X2) - X1, static_cast<double>(Y2) - Y1);
    channels.fill({});
    channels[0].StarX = X1;
    channels[0].StarY = Y1;
    for (int c = 1; c < count; ++c) {
        if (!Loaded(layers[c]))
            continue;
        const AlignmentStars &s = options.Stars[c];
        float x1, y1, x2 = 0.0f, y2 = 0.0f;
        refine(layers[c], s.X1, s.Y1, x1, y1);
        if (options.TwoStars)
            refine(layers[c], s.X2, s.Y2, x2, y2);
        // The shift and the rotation (the sine clamped against rounding, 0 for coincident stars).
        const StackRegistration r = RegistrationOf(X1, Y1, X2, Y2, x1, y1, x2, y2, options.TwoStars);
        ChannelAlignment &p = channels[c];
        p.StarX = x1;
        p.StarY = y1;
        p.Angle = r.Angle;
        if (options.TwoStars && options.ScaleCorrection) {
            const double bLength = std::hypot(static_cast<double>(x2) - x1, static_cast<double>(y2) - y1);
            // A layer magnified by m shows the star line m times as long: the frame takes the layer at
            // m times the distance from star 1, so the scale is |b| / |a| itself (no root).
            if (aLength > 0.0 && bLength > 0.0)
                p.Scale = static_cast<float>(bLength / aLength);
        }
        p.ShiftX = r.Dx + options.NudgeX;
        p.ShiftY = r.Dy + options.NudgeY;
    }
    return AlignmentOutcome::Aligned;
}

bool ResampleIntoCrop(ImageData &layer, const ChannelAlignment &placement, const AlignmentCrop &crop,
                      int channel, const AlignmentProgress &progress, std::string &problem)
{
    ImageData result;
    if (!PrepareCrop(layer, placement, crop, channel, result, problem))
        return false;
    ResampleCrop(layer, placement, crop, channel, progress, result);
    Install(layer, result);
    return true;
}

AlignmentOutcome AlignLayers(std::span<ImageData> layers, const AlignmentOptions &options,
                             const AlignmentProgress &progress, std::string &problem,
                             std::array<ChannelAlignment, AlignmentChannels> *measured)
{
    std::array<ChannelAlignment, AlignmentChannels> channels{};
    const AlignmentOutcome outcome = MeasureAlignment(layers, options, channels, problem);
    if (measured)
        *measured = channels;
    if (outcome != AlignmentOutcome::Aligned)
        return outcome;
    // Every layer is resampled before any changes, so a refusal (or a lack of memory) leaves all
    // five as they were.
    const int count = std::min<int>(static_cast<int>(layers.size()), AlignmentChannels);
    std::array<ImageData, AlignmentChannels> results;
    for (int c = 0; c < count; ++c)
        if (Loaded(layers[c]) && !PrepareCrop(layers[c], channels[c], options.Crop, c, results[c], problem))
            return AlignmentOutcome::Refused;
    for (int c = 0; c < count; ++c)
        if (Loaded(layers[c]))
            ResampleCrop(layers[c], channels[c], options.Crop, c, progress, results[c]);
    for (int c = 0; c < count; ++c)
        if (Loaded(layers[c]))
            Install(layers[c], results[c]);
    return AlignmentOutcome::Aligned;
}
