#pragma once
// Checks of the sub-frame and binning a user enters before a run is started with them. No Qt.
#include <string>

struct SubframeValues {
    int xLow = 0, xHigh = 0, yLow = 0, yHigh = 0;
    int xBinning = 1, yBinning = 1;
    int sensorColumns = 0, sensorRows = 0; // 0: the sensor size is not known, not checked
};

// An empty text when the values make a readable frame; otherwise the message to show, naming the
// field at fault by its caption.
std::string CheckSubframe(const SubframeValues &values);
