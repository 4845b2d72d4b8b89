#include "photometric.h"

#include "image_data.h"
#include "image_file.h"
#include "ui_hooks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace
{

void Report(const char *text)
{
    Ui().ShowMessage(KorviCaption, text, MessageButtons::Ok, MessageIcon::Warning);
}

bool SameSize(const ImageData &image, const ImageData *frame)
{
    return frame == nullptr ||
           (!frame->Empty && frame->Width == image.Width && frame->Height == image.Height);
}

// A finite value truncated toward zero and kept within 0..65535; NaN gives 0. Converting a float
// outside the target range to an integer is undefined, so the range is settled first.
inline std::uint16_t ToPixel(double value)
{
    if (!(value > 0.0))
        return 0;
    if (value >= 65535.0)
        return 65535;
    return static_cast<std::uint16_t>(value);
}

// A level read from a file header: anything that is not a finite number counts as 0.
inline double Level(float value)
{
    return std::isfinite(value) ? static_cast<double>(value) : 0.0;
}

// A flat frame scales by its offset level; without a positive one it would zero the image.
bool HasFlatLevel(const ImageData *flat)
{
    return flat == nullptr || Level(flat->OffsetLevel) > 0.0;
}

} // namespace

PhotometricResult CorrectWithFrames(ImageData &image, const ImageData *dark, const ImageData *flat)
{
    PhotometricResult result;
    if (dark == nullptr && flat == nullptr)
        return result;
    if (image.Empty || !SameSize(image, dark) || !SameSize(image, flat) || !HasFlatLevel(flat)) {
        result.Failed = true;
        return result;
    }

    const std::size_t count = static_cast<std::size_t>(image.Width) * static_cast<std::size_t>(image.Height);
    std::uint16_t *pixels = image.FramePixels(0);

    if (dark != nullptr) {
        const double offset = Level(image.OffsetLevel);
        // A dark frame without an offset level (0, or none in its file) is taken as normalised to 1.
        const double darkOffset = std::max(1.0, Level(dark->OffsetLevel));
        const double scale = Level(image.BottomDark) / darkOffset;
        const std::uint16_t *thermal = dark->FramePixels(0);
        for (std::size_t i = 0; i < count; ++i)
            pixels[i] = ToPixel(std::trunc(static_cast<double>(pixels[i]) - offset - thermal[i] * scale));
        result.DarkApplied = true;
    }
    if (flat != nullptr) {
        const double flatOffset = Level(flat->OffsetLevel);
        const std::uint16_t *field = flat->FramePixels(0);
        for (std::size_t i = 0; i < count; ++i) {
            const double f = field[i] == 0 ? 1.0 : static_cast<double>(field[i]);
            pixels[i] = ToPixel(std::trunc(static_cast<double>(pixels[i]) * flatOffset / f));
        }
        result.FlatApplied = true;
    }

    std::uint16_t brightest = 0;
    for (std::size_t i = 0; i < count; ++i)
        brightest = std::max(brightest, pixels[i]);
    image.TopDark = 0.0f;
    image.BottomDark = 0.0f;
    image.OffsetLevel = 0.0f;
    image.DisplayOffset = 0.0f;
    image.Gain = 65535.0f / static_cast<float>(brightest == 0 ? 1 : brightest);
    if (result.DarkApplied)
        image.DarkApplied = true;
    if (result.FlatApplied)
        image.FlatApplied = true;
    image.Modified = true;
    return result;
}

PhotometricResult ApplyPhotometricCorrection(const PhotometricCorrectionRequest &request)
{
    PhotometricResult result;
    if (request.Image == nullptr || (!request.UseThermal && !request.UseFlat))
        return result;

    // The calibration frames live only for this call.
    ImageData dark;
    ImageData flat;
    if (request.UseThermal && !LoadImageFile(request.ThermalFrameFile, dark)) {
        Report(ThermalFrameUnreadable);
        result.Failed = true;
        return result;
    }
    if (request.UseFlat && !LoadImageFile(request.FlatFrameFile, flat)) {
        Report(FlatFrameUnreadable);
        result.Failed = true;
        return result;
    }
    ImageData &image = *request.Image;
    if (image.Empty || (request.UseThermal && !SameSize(image, &dark)) ||
        (request.UseFlat && !SameSize(image, &flat))) {
        Report(CalibrationSizeMismatch);
        result.Failed = true;
        return result;
    }
    if (request.UseFlat && !HasFlatLevel(&flat)) {
        Report(FlatFrameWithoutLevel);
        result.Failed = true;
        return result;
    }
    return CorrectWithFrames(image, request.UseThermal ? &dark : nullptr, request.UseFlat ? &flat : nullptr);
}
