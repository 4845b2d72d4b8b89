#include "usb_read_test.h"

#include "text_format.h"

#include <cmath>

UsbReadTestReport DescribeUsbReadTest(double seconds, char decimalSeparator)
{
    UsbReadTestReport report;
    if (!std::isfinite(seconds) || seconds <= 0.0) {
        report.panel = 2;
        report.text = "USB read test failed: no data was transferred.";
        return report;
    }
    if (seconds >= UsbReadTestTimeout) {
        report.panel = 2;
        report.text = "USB timeout.";
        return report;
    }
    const double rate = static_cast<double>(UsbReadTestBytes) / (seconds * 1024.0);
    report.panel = 1;
    report.text = std::to_string(UsbReadTestBytes) + " bytes read in " +
                  FormatFloat("###0.0", seconds, decimalSeparator) + " s (" +
                  FormatFloat("###0.000", rate, decimalSeparator) + " kB/s).";
    report.succeeded = true;
    return report;
}
