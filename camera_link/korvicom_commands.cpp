// The controller's short commands: camera clocks and clearing, supplies, coolers, filter wheel,
// shutter, display, slews and texts. Each builds a block of 16-bit words and sends it as one
// quick command, or reads a reply word.
#include <cstring>
#include <utility>

#include "korvicom_link.h"

namespace korvicom
{
namespace
{

enum Opcode : int {
    kClearHReg = 3,
    kClearVCCD = 4,
    kVddHigh = 5,
    kVddLow = 6,
    kFirstTestClock = 11,
    kSlew = 20,
    kTargetTemp = 30,
    kGetTemperature = 31,
    kTESupplyOn = 33,
    kTESupplyOff = 34,
    kLCD = 36,
    kPowerup = 40,
    kPowerdown = 41,
    kBattery = 42,
    kFilterWheelOn = 43,
    kFilterWheelOff = 44,
    kShutterOpen = 50,
    kShutterClose = 51,
    kStepFilterWheel = 52,
    kText = 64,
};

constexpr int kClearTimeoutMs = 30000;
constexpr int kStatusTimeoutMs = 3000;
constexpr int kDriveSlewSubCommand = 11;
constexpr int kTextChars = 32;
// The clocks a test can run: 0 vertical, 1 horizontal. Others would land on unrelated opcodes.
constexpr int kTestClockCount = 2;

std::uint16_t Low16(int value)
{
    return static_cast<std::uint16_t>(value);
}

// A quick command of one word: the low byte only (1-byte commands) or the whole word.
int SendWord(std::uint16_t word, int byteCount, int timeoutMs, UsbErrorCallback callback)
{
    return _FT_USB_SendQuickCmd(&word, byteCount, timeoutMs, callback);
}

} // namespace
} // namespace korvicom

using namespace korvicom;

extern "C" {

int _TestClocks(int clock, int camera, int on, UsbErrorCallback callback)
{
    if (!Flag(on)) // the word 0 stops all clocking, whatever the clock and camera
        return SendWord(0, 2, kQuickCommandTimeoutMs, callback);
    if (clock < 0 || clock >= kTestClockCount)
        return -1;
    return SendWord(CommandWord(camera, kFirstTestClock + clock), 2, kQuickCommandTimeoutMs, callback);
}

int _ClearHReg(int camera, int value1, int value2, UsbErrorCallback callback)
{
    const std::uint16_t words[3] = {CommandWord(camera, kClearHReg), Low16(value1), Low16(value2)};
    return _FT_USB_SendQuickCmd(words, sizeof words, kClearTimeoutMs, callback);
}

int _ClearVCCD(int camera, int rows, int columns, UsbErrorCallback callback)
{
    const std::uint16_t words[3] = {CommandWord(camera, kClearVCCD), Low16(rows), Low16(columns)};
    return _FT_USB_SendQuickCmd(words, sizeof words, kClearTimeoutMs, callback);
}

int _Vdd_Set_High(UsbErrorCallback callback)
{
    return SendWord(kVddHigh, 1, kQuickCommandTimeoutMs, callback);
}

int _Vdd_Set_Low(UsbErrorCallback callback)
{
    return SendWord(kVddLow, 1, kQuickCommandTimeoutMs, callback);
}

int _ControllerPowerup(UsbErrorCallback callback)
{
    return SendWord(kPowerup, 1, kQuickCommandTimeoutMs, callback);
}

int _ControllerPowerdown(UsbErrorCallback callback)
{
    return SendWord(kPowerdown, 1, kQuickCommandTimeoutMs, callback);
}

int _CCDSendTargetTemp(int camera, int target, UsbErrorCallback callback)
{
    // The controller's target word is 10 x degrees + 630, wrapped to 16 bits (computed in
    // unsigned arithmetic so no target overflows).
    const std::uint16_t word = static_cast<std::uint16_t>(10u * static_cast<unsigned>(target) + 630u);
    const std::uint16_t words[2] = {CommandWord(camera, kTargetTemp), word};
    return _FT_USB_SendQuickCmd(words, sizeof words, kQuickCommandTimeoutMs, callback);
}

long double _CCD_GetTemperature(int camera, UsbErrorCallback callback)
{
    const std::uint16_t w = ReplyCommand(CommandWord(camera, kGetTemperature), callback);
    return (static_cast<long double>(w) - 640.0L) * 0.1L;
}

int _CCDTESupplyOn(int camera, UsbErrorCallback callback)
{
    return SendWord(CommandWord(camera, kTESupplyOn), 2, kQuickCommandTimeoutMs, callback);
}

int _CCDTESupplyOff(int camera, UsbErrorCallback callback)
{
    return SendWord(CommandWord(camera, kTESupplyOff), 2, kQuickCommandTimeoutMs, callback);
}

int _LCD_CCD2Display(int enable, UsbErrorCallback callback)
{
    return SendWord(CommandWord(enable, kLCD), 2, kQuickCommandTimeoutMs, callback);
}

long double _ReadBatteryVolts(UsbErrorCallback callback)
{
    const std::uint16_t w = ReplyCommand(kBattery, callback);
    return static_cast<long double>(w) * 0.056274620146314014L;
}

int _FiltWheelSupplyOn(UsbErrorCallback callback)
{
    return SendWord(kFilterWheelOn, 1, kQuickCommandTimeoutMs, callback);
}

int _FiltWheelSupplyOff(UsbErrorCallback callback)
{
    return SendWord(kFilterWheelOff, 1, kQuickCommandTimeoutMs, callback);
}

void _Shutter(int open, UsbErrorCallback callback)
{
    const bool opening = Flag(open);
    SendWord(opening ? kShutterOpen : kShutterClose, 1, kQuickCommandTimeoutMs, callback);
    if (!opening)
        _Delay(10.0f); // let the blades come to rest before the caller reads out
}

int _StepFilterWheel(int steps, int forward, UsbErrorCallback callback)
{
    const std::uint16_t words[2] = {CommandWord(Flag(forward) ? 1 : 0, kStepFilterWheel), Low16(steps)};
    return _FT_USB_SendQuickCmd(words, sizeof words, kQuickCommandTimeoutMs, callback);
}

int _Slew(int east, int west, int north, int south, int viaDrive, int swapEastWest, int swapNorthSouth,
          UsbErrorCallback callback)
{
    bool e = Flag(east), w = Flag(west), n = Flag(north), s = Flag(south);
    // Opposite directions at once cancel out.
    if (e && w)
        e = w = false;
    if (n && s)
        n = s = false;
    if (Flag(swapEastWest))
        std::swap(e, w);
    if (Flag(swapNorthSouth))
        std::swap(n, s);
    const int bits = (e ? 1 : 0) | (w ? 2 : 0) | (n ? 4 : 0) | (s ? 8 : 0);
    if (Flag(viaDrive)) {
        std::uint16_t payload = static_cast<std::uint16_t>(bits);
        return _KEDRO_Control(kDriveSlewSubCommand, &payload, 2, 0, callback);
    }
    return SendWord(CommandWord(bits, kSlew), 2, kQuickCommandTimeoutMs, callback);
}

void _SendText(const char *text, UsbErrorCallback callback)
{
    std::uint16_t words[1 + kTextChars / 2] = {};
    words[0] = kText;
    // At most 32 characters; an odd length pairs the last one with the terminating zero.
    const std::size_t length = text != nullptr ? strnlen(text, kTextChars) : 0;
    for (std::size_t i = 0; i < length; i += 2) {
        const auto low = static_cast<unsigned char>(text[i]);
        const auto high = i + 1 < length ? static_cast<unsigned char>(text[i + 1]) : 0u;
        words[1 + i / 2] = static_cast<std::uint16_t>((high << 8) | low);
    }
    _FT_USB_SendQuickCmd(words, sizeof words, kQuickCommandTimeoutMs, callback);
}

uint16_t _CheckDeviceStatus(UsbErrorCallback callback)
{
    FT_HANDLE handle = OpenCameraLink(kStatusTimeoutMs, kCommandWriteTimeoutMs, callback);
    if (handle == nullptr)
        return 0;
    DWORD rxBytes = 0, txBytes = 0, events = 0;
    Report(callback, FT_GetStatus(handle, &rxBytes, &txBytes, &events));
    // Nothing queued by the controller: there is no word to read.
    if (rxBytes == 0) {
        FT_Close(handle);
        return 0;
    }
    std::uint8_t reply[2] = {0, 0};
    ReadReported(handle, reply, sizeof reply, callback);
    FT_Close(handle);
    return static_cast<std::uint16_t>(reply[0] | (reply[1] << 8));
}

} // extern "C"
