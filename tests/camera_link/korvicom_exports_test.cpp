// The library's boundary: exactly the 26 exports by their undecorated names, nothing of the FT_*
// layer beneath, and the status texts the program shows.
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "korvicom.h"

// Defined in a unit compiled as C.
extern "C" const char *KorvicomStatusTextFromC(int status);

namespace
{

std::string RunCommand(const std::string &command)
{
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    pclose(pipe);
    return output;
}

// Lines of `nm -D`: "address type name" for defined symbols, "type name" for undefined ones.
struct DynamicSymbols {
    std::set<std::string> defined;
    std::set<std::string> all;
};

DynamicSymbols ReadDynamicSymbols()
{
    DynamicSymbols symbols;
    const std::string output = RunCommand(std::string(KORVI_NM) + " -D " + KORVICOM_LIBRARY_FILE);
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string a, b, c;
        fields >> a >> b >> c;
        if (!c.empty()) {
            // Version-node markers (type A) are not code or data.
            if (b != "A" && b != "U" && b != "w" && b != "v")
                symbols.defined.insert(c);
            symbols.all.insert(c);
        } else if (!b.empty()) {
            symbols.all.insert(b);
        }
    }
    return symbols;
}

TEST(KorvicomExports, ExactlyTheTwentySixNamesAreDefined)
{
    const std::set<std::string> expected = {
        "_FT_Error",          "_FT_USB_SendQuickCmd", "_Delay",           "_SendText",
        "_ReadCCD",           "_USBReadDiagnostic",   "_TestClocks",      "_ClearHReg",
        "_ClearVCCD",         "_Vdd_Set_High",        "_Vdd_Set_Low",     "_ControllerPowerdown",
        "_ControllerPowerup", "_CCD_GetTemperature",  "_CCDTESupplyOn",   "_CCDTESupplyOff",
        "_FiltWheelSupplyOn", "_FiltWheelSupplyOff",  "_Shutter",         "_CCDSendTargetTemp",
        "_ReadBatteryVolts",  "_LCD_CCD2Display",     "_StepFilterWheel", "_Slew",
        "_CheckDeviceStatus", "_KEDRO_Control",
    };
    ASSERT_EQ(expected.size(), 26u);
    const DynamicSymbols symbols = ReadDynamicSymbols();
    EXPECT_EQ(symbols.defined, expected);
}

TEST(KorvicomExports, NoSymbolOfTheDriverLayerIsVisible)
{
    const DynamicSymbols symbols = ReadDynamicSymbols();
    ASSERT_FALSE(symbols.all.empty()) << "nm -D gave no symbols for " << KORVICOM_LIBRARY_FILE;
    for (const std::string &name : symbols.all)
        EXPECT_NE(name.rfind("FT_", 0), 0u) << name;
}

TEST(KorvicomStatusText, EachCodeHasItsText)
{
    struct Case {
        int status;
        const char *text;
    };
    const Case cases[] = {
        {0, "FT245 USB FIFO status - OK"},
        {1, "FT245 USB FIFO status - Invalid device handle."},
        {2, "FT245 USB FIFO status - Device not found."},
        {3, "FT245 USB FIFO status - Device not opened."},
        {4, "FT245 USB FIFO status - Device IO error."},
        {5, "FT245 USB FIFO status - Insufficient resources."},
        {6, "FT245 USB FIFO status - "},
        {-1, "FT245 USB FIFO status - "},
        {1000, "FT245 USB FIFO status - "},
    };
    for (const Case &c : cases)
        EXPECT_STREQ(_FT_Error(c.status), c.text) << c.status;
}

TEST(KorvicomStatusText, TextOutlivesTheCall)
{
    const char *first = _FT_Error(4);
    _FT_Error(0);
    _FT_Error(2);
    EXPECT_STREQ(first, "FT245 USB FIFO status - Device IO error.");
}

TEST(KorvicomStatusText, CallersInCReachTheSameExports)
{
    EXPECT_STREQ(KorvicomStatusTextFromC(3), "FT245 USB FIFO status - Device not opened.");
}

} // namespace
