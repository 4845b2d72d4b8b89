#pragma once
// The outcome of the USB read test (1024 x 1024 words from the controller) as the status bar
// shows it. No Qt.
#include <string>

inline constexpr int UsbReadTestSize = 1024;
inline constexpr long UsbReadTestBytes = 2L * UsbReadTestSize * UsbReadTestSize; // 2097152
inline constexpr double UsbReadTestTimeout = 10.0;                               // seconds

struct UsbReadTestReport {
    int panel = 1; // the status-bar panel the text goes to
    std::string text;
    bool succeeded = false;
};

// seconds: what the diagnostic readout returned. 10 s or more is a time-out; no time at all (0,
// negative or not a number) means nothing was transferred, which is a failure and not an
// infinitely fast link.
UsbReadTestReport DescribeUsbReadTest(double seconds, char decimalSeparator);
