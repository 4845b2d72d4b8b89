#include "processing/sky_model.h"

#include "image_data.h"
#include "image_file.h"
#include "ui_hooks.h"

#include <jama_qr.h>
#include <tnt_array1d.h>
#include <tnt_array2d.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace
{

void Report(const std::string &text)
{
    Ui().ShowMessage(KorviCaption, text, MessageButtons::Ok, MessageIcon::Warning);
}

// The darkest pixel of the 10 x 10 window x-5..x+4, y-5..y+4 (row and column 0 never count),
// less the display offset, as a non-negative whole number.
int SampleValue(const ImageData &image, int x, int y)
{
    int lowest = 65535;
    for (int row = std::max(y - 5, 1); row <= std::min(y + 4, image.Height - 1); ++row) {
        const std::uint16_t *line = image.FrameRow(0, row);
        for (int col = std::max(x - 5, 1); col <= std::min(x + 4, image.Width - 1); ++col)
            lowest = std::min<int>(lowest, line[col]);
    }
    const double value = lowest - static_cast<double>(image.DisplayOffset);
    return value > 0 ? static_cast<int>(std::trunc(value)) : 0;
}

// sum over k = 1..n of c[2k-1+axis] w^k for the scaled coordinate w of t = 0..count-1 (axis 0:
// the x terms of the columns, 1: the y terms of the rows).
std::vector<double> AxisTerms(const SkyModel &model, int axis, int count)
{
    const double centre = axis == 0 ? model.CentreX : model.CentreY;
    const double span = axis == 0 ? model.SpanX : model.SpanY;
    std::vector<double> terms(static_cast<std::size_t>(count));
    for (int t = 0; t < count; ++t) {
        const double w = (t - centre) / span;
        double power = 1.0, sum = 0.0;
        for (int k = 1; k <= model.Order; ++k) {
            power *= w;
            sum += power * static_cast<double>(model.Coefficients[2 * k - 1 + axis]);
        }
        terms[t] = sum;
    }
    return terms;
}

// Centre and half extent of the values, so that (value - centre) / span lies in -1..1; a single
// value gets a span of 1 (its terms are then all zero, and the fit is refused as undetermined).
void Scaling(int lowest, int highest, double &centre, double &span)
{
    centre = (static_cast<double>(lowest) + highest) / 2.0;
    span = (static_cast<double>(highest) - lowest) / 2.0;
    if (!(span > 0.0))
        span = 1.0;
}

} // namespace

bool SampleSky(const ImageData &image, int order, std::uint32_t seed, std::vector<SkySample> &samples)
{
    samples.clear();
    if (image.Empty || order < 1)
        return false;
    const int m = 2 * order + 1;
    if (m * m > MaxSkySamples)
        return false;
    const int dx = image.Width / (2 * order + 2), dy = image.Height / (2 * order + 2);
    const int jx = static_cast<int>(std::trunc(dx * 2.0 / 3.0)),
              jy = static_cast<int>(std::trunc(dy * 2.0 / 3.0));
    if (jx < 1 || jy < 1)
        return false;
    std::mt19937 random(seed);
    samples.reserve(static_cast<std::size_t>(m) * m);
    for (int gx = dx; gx <= m * dx; gx += dx)
        for (int gy = dy; gy <= m * dy; gy += dy) {
            SkySample s;
            s.x = gx - jx / 2 + static_cast<int>(random() % static_cast<unsigned>(jx));
            s.y = gy - jy / 2 + static_cast<int>(random() % static_cast<unsigned>(jy));
            s.value = SampleValue(image, s.x, s.y);
            samples.push_back(s);
        }
    return true;
}

bool SkyModel::Valid() const
{
    return Order >= 1 && Coefficients.size() == static_cast<std::size_t>(2 * Order + 1) && SpanX > 0.0 &&
           SpanY > 0.0 && std::isfinite(CentreX) && std::isfinite(CentreY);
}

double SkyModel::Evaluate(double x, double y) const
{
    if (!Valid())
        return 0.0;
    const double u = (x - CentreX) / SpanX, v = (y - CentreY) / SpanY;
    double s = Coefficients[0], pu = 1.0, pv = 1.0;
    for (int k = 1; k <= Order; ++k) {
        pu *= u;
        pv *= v;
        s += pu * Coefficients[2 * k - 1] + pv * Coefficients[2 * k];
    }
    return s;
}

bool SolveSkyModel(const std::vector<SkySample> &samples, SkyModel &model, int order)
{
    const int terms = 2 * order + 1;
    const int count = static_cast<int>(samples.size());
    if (order < 1 || count < terms)
        return false;
    SkyModel fit;
    fit.Order = order;
    {
        const auto [left, right] = std::minmax_element(
            samples.begin(), samples.end(), [](const SkySample &a, const SkySample &b) { return a.x < b.x; });
        const auto [bottom, top] = std::minmax_element(
            samples.begin(), samples.end(), [](const SkySample &a, const SkySample &b) { return a.y < b.y; });
        Scaling(left->x, right->x, fit.CentreX, fit.SpanX);
        Scaling(bottom->y, top->y, fit.CentreY, fit.SpanY);
    }
    TNT::Array2D<double> design(count, terms);
    TNT::Array1D<double> values(count);
    for (int i = 0; i < count; ++i) {
        const double u = (samples[i].x - fit.CentreX) / fit.SpanX,
                     v = (samples[i].y - fit.CentreY) / fit.SpanY;
        double pu = 1.0, pv = 1.0;
        design[i][0] = 1.0;
        for (int k = 1; k <= order; ++k) {
            pu *= u;
            pv *= v;
            design[i][2 * k - 1] = pu;
            design[i][2 * k] = pv;
        }
        values[i] = samples[i].value;
    }
    const JAMA::QR<double> qr(design);
    // JAMA only notices an exactly zero pivot; one that is negligible next to the largest leaves
    // the fit just as undetermined. In the scaled coordinates every column is of the same size as
    // the constant one, so this compares like with like.
    const TNT::Array2D<double> r = qr.getR();
    double largest = 0.0;
    for (int i = 0; i < terms; ++i)
        largest = std::max(largest, std::abs(r[i][i]));
    for (int i = 0; i < terms; ++i)
        if (!(std::abs(r[i][i]) > largest * 1e-12))
            return false;
    const TNT::Array1D<double> solution = qr.solve(values);
    if (solution.dim() != terms)
        return false;
    fit.Coefficients.resize(static_cast<std::size_t>(terms));
    for (int i = 0; i < terms; ++i) {
        if (!std::isfinite(solution[i]))
            return false;
        fit.Coefficients[i] = static_cast<float>(solution[i]);
    }
    model = std::move(fit);
    return true;
}

void SubtractSkyModel(ImageData &image, const SkyModel &model)
{
    if (image.Empty || !model.Valid())
        return;
    const std::vector<double> columns = AxisTerms(model, 0, image.Width);
    const std::vector<double> rows = AxisTerms(model, 1, image.Height);
    const double c0 = model.Coefficients[0];
    for (int y = 0; y < image.Height; ++y) {
        std::uint16_t *line = image.FrameRow(0, y);
        const double rowPart = c0 + rows[y];
        for (int x = 0; x < image.Width; ++x) {
            // The model is rounded to single precision before it is cut to a whole number, so a
            // fit of 1000 that came out as 999.9999999 still takes 1000 off.
            const double s = static_cast<float>(rowPart + columns[x]);
            const double p = line[x];
            line[x] =
                s <= p ? static_cast<std::uint16_t>(std::min(65535.0, p - std::trunc(s) + SkyPedestal)) : 0;
        }
    }
}

bool FitAndSubtractSkyModel(ImageData &image, int order, std::uint32_t seed)
{
    std::vector<SkySample> samples;
    if (!SampleSky(image, order, seed, samples)) {
        Report("The sky model of order " + std::to_string(order) +
               " cannot be fitted to this image: it needs an order from 1 to 31 and an image at least " +
               std::to_string(2 * (2 * order + 2)) + " pixels wide and high.");
        return false;
    }
    SkyModel model;
    if (!SolveSkyModel(samples, model, order)) {
        Report("The sky samples do not determine a model of order " + std::to_string(order) +
               "; the image is unchanged.");
        return false;
    }
    SubtractSkyModel(image, model);
    return true;
}

bool ApplyLogScale(ImageData &image, int floor, int range)
{
    if (range < 1) {
        Report("The logarithmic scale needs a range of at least 1; the image is unchanged.");
        return false;
    }
    if (image.Empty)
        return false;
    const float factor = static_cast<float>(65535.0 / std::log10(static_cast<double>(range) + 1.0));
    // The result depends on the pixel value alone: one table of all 65536 answers.
    std::vector<std::uint16_t> table(65536);
    for (int p = 0; p < 65536; ++p) {
        const double v =
            static_cast<double>(factor) * std::log10(std::max(static_cast<double>(p) - floor, 1.0));
        table[p] = static_cast<std::uint16_t>(std::clamp(std::trunc(v), 0.0, 65535.0));
    }
    std::uint16_t *pixels = image.FramePixels(0);
    const std::size_t count = image.PixelCount();
    for (std::size_t i = 0; i < count; ++i)
        pixels[i] = table[pixels[i]];
    return true;
}
