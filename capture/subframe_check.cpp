#include "subframe_check.h"

std::string CheckSubframe(const SubframeValues &v)
{
    if (v.xBinning < 1)
        return "Column bins must be at least 1.";
    if (v.yBinning < 1)
        return "Row bins must be at least 1.";
    if (v.xLow < 0)
        return "Lowest column index must not be negative.";
    if (v.yLow < 0)
        return "Lowest row index must not be negative.";
    if (v.xHigh < v.xLow)
        return "Highest column index must not be below the lowest column index.";
    if (v.yHigh < v.yLow)
        return "Highest row index must not be below the lowest row index.";
    if (v.sensorColumns > 0 && v.xHigh > v.sensorColumns - 1)
        return "Highest column index must be inside the sensor (at most " +
               std::to_string(v.sensorColumns - 1) + ").";
    if (v.sensorRows > 0 && v.yHigh > v.sensorRows - 1)
        return "Highest row index must be inside the sensor (at most " + std::to_string(v.sensorRows - 1) +
               ").";
    return {};
}
