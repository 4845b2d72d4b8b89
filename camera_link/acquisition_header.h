#pragma once
// The sixteen 32-bit values that a frame readout takes and returns, in the order the camera link
// passes them: the caller fills the sensor size, sub-frame and binning; the readout fills the
// computed columns and rows, the pixel extremes, the offset level and zeroes both dark levels.
// Shared by korvicom (which reads and writes it across its boundary) and the image core (which
// copies it into an image).
#include <cstdint>

struct AcquisitionHeader {
    float TopDarkLevel = 0.0f;
    float BottomDarkLevel = 0.0f;
    float SkyLevel = 0.0f;
    float OffsetLevel = 0.0f;
    std::int32_t Maximum = 65535;
    std::int32_t Minimum = 0;
    std::int32_t Columns = 0;
    std::int32_t Rows = 0;
    std::int32_t SensorColumns = 0;
    std::int32_t SensorRows = 0;
    std::int32_t XHigh = 0; // X_HI
    std::int32_t XLow = 0;  // X_LO
    std::int32_t YHigh = 0; // Y_HI
    std::int32_t YLow = 0;  // Y_LO
    std::int32_t YBinning = 0;
    std::int32_t XBinning = 0;
};

static_assert(sizeof(AcquisitionHeader) == 64, "sixteen 32-bit fields, no padding");
