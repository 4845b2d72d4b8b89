#pragma once
// Number and date texts: the one picture formatter every writer uses, the readers' number
// conversions (which accept '.' and ',' alike), the lenient parser of typed-in numbers and the
// UTC date and time texts of image headers. Nothing here reads the C library's locale.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// Formats value with a picture such as "0.00000e+00", "#####0.00", "##0.###" or "#.######e+##":
//   '0'  a digit that is always written, '#' a digit written only when significant,
//   '.'  the place of the decimal separator (written as decimalSeparator),
//   'e+' / 'E+' (or 'e-' / 'E-') scientific notation; the '0's after it give the least number
//        of exponent digits ('+' always writes the exponent's sign, '-' only a minus).
// Rounding is half away from zero on the decimal digits. Characters other than these are copied
// (before the first and after the last digit place). Like the pictures it mirrors, an all-'#'
// picture writes nothing for zero ("#.##" of 0 is empty; of 0.5 it is ".5").
std::string FormatFloat(std::string_view picture, double value, char decimalSeparator);

// Removes every leading and trailing character whose code is 32 or less.
std::string_view TrimText(std::string_view text);

// Converts a trimmed decimal number; '.' and ',' both count as the decimal separator. False (and
// value unchanged) when the text is not one whole number.
bool ParseFloatText(std::string_view text, double &value);
bool ParseFloatText(std::string_view text, float &value);
// Converts a trimmed decimal integer with an optional sign; false (value unchanged) when the text
// is not one whole integer or does not fit.
bool ParseIntText(std::string_view text, std::int32_t &value);

// Lenient conversion of a typed-in number: trim; empty counts as "0"; every character that is not
// a digit, a '+', a '-' or a decimal separator becomes '0' ("12 s" reads 1200, "1e3" reads 103).
// The decimal separator is '.', and ',' as well when the user's separator is ','; with a '.'
// separator a comma becomes '0'. A text that still does not convert ("1.2.3", "5-") gives 0.
double ParseNumber(std::string_view text, char decimalSeparator);
double ParseNumber(std::string_view text); // with UserDecimalSeparator()
// ParseNumber truncated toward zero (clamped to the int32 range).
std::int32_t ParseRoundedInt(std::string_view text);
std::int32_t ParseRoundedInt(std::string_view text, char decimalSeparator);

// The current UTC date ("Tuesday December 8, 2026") or time ("07:16:14 (GMT)"); English names
// whatever the locale.
std::string GmtDateTimeText(bool timeOnly);
// The same for a given moment (seconds since the epoch), for tests and replays.
std::string GmtDateTimeText(bool timeOnly, std::time_t when);
