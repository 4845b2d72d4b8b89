#pragma once
// korvicom: the camera link library. Every call that talks to the camera controller opens the
// USB device, configures it, performs one exchange and closes it again, so no handle or state
// lasts between calls; link failures are reported through the caller's UsbErrorCallback with the
// failing driver status, on the calling thread, and the exchange then carries on.
//
// Camera arguments are the camera index (0 imaging, 1 guiding); only their low 8 bits reach the
// command word. Flag arguments declared int are tested on their low byte only (0x100 is false).
// A null callback means "do not report".
#ifdef __cplusplus
#include <cstdint>

#include "acquisition_header.h"
extern "C" {
#else
#include <stdint.h>
typedef struct AcquisitionHeader AcquisitionHeader;
#endif

#if defined(__GNUC__)
#define KORVICOM_API __attribute__((visibility("default")))
#else
#define KORVICOM_API
#endif

// Receives the non-zero status of a driver call that failed.
typedef void (*UsbErrorCallback)(int status);

// Link and framing.
// Text for a driver status: "FT245 USB FIFO status - " and the code's meaning. Static storage.
KORVICOM_API const char *_FT_Error(int status);
// Writes byteCount bytes from words, then reads the one-byte acknowledgement within readTimeoutMs.
// Returns the bytes written when the acknowledgement is 1, otherwise -1.
KORVICOM_API int _FT_USB_SendQuickCmd(const uint16_t *words, int byteCount, int readTimeoutMs,
                                      UsbErrorCallback callback);
// Busy-waits at least the given milliseconds of process time on the calling thread.
KORVICOM_API void _Delay(float milliseconds);

// Frame and diagnostic readout. rows is the caller's row table over ONE contiguous pixel block
// sized to the frame's columns x rows (see the header's computed sizes). Both return the seconds
// taken by the command and the transfer, or 0.0 when nothing was read.
// _ReadCCD always stores the computed columns and rows in the header. It sends nothing and
// leaves the block as it was for a geometry the controller cannot take as computed (binning
// outside 1..255, an empty or reversed span, limits outside 0..65535) and for a row table whose
// rows are not spaced by the computed width. A frame whose pixel stream ends before the frame is
// complete is reported through the callback as FT_IO_ERROR (4) once the transfer is over; the
// pixels past the last byte that came are then the block's old contents. _USBReadDiagnostic refuses counts
// outside 1..65535.
KORVICOM_API double _ReadCCD(uint16_t **rows, AcquisitionHeader *header, int camera,
                             UsbErrorCallback callback);
KORVICOM_API double _USBReadDiagnostic(uint16_t **rows, int countA, int countB, int parameter,
                                       UsbErrorCallback callback);

// Camera, cooler, filter-wheel, shutter, supply, display and slew commands. int results are those
// of _FT_USB_SendQuickCmd.
KORVICOM_API int _TestClocks(int clock, int camera, int on, UsbErrorCallback callback);
KORVICOM_API int _ClearHReg(int camera, int value1, int value2, UsbErrorCallback callback);
KORVICOM_API int _ClearVCCD(int camera, int rows, int columns, UsbErrorCallback callback);
KORVICOM_API int _Vdd_Set_High(UsbErrorCallback callback);
KORVICOM_API int _Vdd_Set_Low(UsbErrorCallback callback);
KORVICOM_API int _ControllerPowerdown(UsbErrorCallback callback);
KORVICOM_API int _ControllerPowerup(UsbErrorCallback callback);
// Sensor temperature in degrees C; -64.0 when no reply came.
KORVICOM_API long double _CCD_GetTemperature(int camera, UsbErrorCallback callback);
KORVICOM_API int _CCDTESupplyOn(int camera, UsbErrorCallback callback);
KORVICOM_API int _CCDTESupplyOff(int camera, UsbErrorCallback callback);
KORVICOM_API int _FiltWheelSupplyOn(UsbErrorCallback callback);
KORVICOM_API int _FiltWheelSupplyOff(UsbErrorCallback callback);
// Opens or closes the shutter; after closing waits 10 ms.
KORVICOM_API void _Shutter(int open, UsbErrorCallback callback);
// Target temperature in whole degrees C.
KORVICOM_API int _CCDSendTargetTemp(int camera, int target, UsbErrorCallback callback);
// Supply voltage in volts; 0 when no reply came.
KORVICOM_API long double _ReadBatteryVolts(UsbErrorCallback callback);
KORVICOM_API int _LCD_CCD2Display(int enable, UsbErrorCallback callback);
KORVICOM_API int _StepFilterWheel(int steps, int forward, UsbErrorCallback callback);
// Starts motion in the given directions (all false stops it), through the four-wire interface or
// the drive controller; returns the quick-command result or the drive-controller exchange's status.
KORVICOM_API int _Slew(int east, int west, int north, int south, int viaDrive, int swapEastWest,
                       int swapNorthSouth, UsbErrorCallback callback);
// Sends up to 32 characters for the controller's display.
KORVICOM_API void _SendText(const char *text, UsbErrorCallback callback);
// The controller's pending 16-bit word, or 0 when the driver holds nothing to read.
KORVICOM_API uint16_t _CheckDeviceStatus(UsbErrorCallback callback);

// Drive controller: sends subCommand with byteCount payload bytes from buffer and reads
// replyByteCount bytes back into buffer (which must hold the larger of the two). Returns the
// driver status of the closing call (0 on success), or a non-zero status when the device did not
// open or the call was refused without sending anything (an odd, negative or above-65535 count,
// or no buffer for a payload or reply). A reply shorter than replyByteCount is reported through
// the callback as FT_IO_ERROR (4) and returned as 4; the buffer past the bytes that came is then
// as it was.
KORVICOM_API int _KEDRO_Control(int subCommand, uint16_t *buffer, int byteCount, int replyByteCount,
                                UsbErrorCallback callback);

#ifdef __cplusplus
} // extern "C"
#endif
