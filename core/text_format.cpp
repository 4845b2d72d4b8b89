#include "text_format.h"

#include "ui_hooks.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace
{

// What a picture asks for.
struct Picture {
    std::string prefix, suffix;
    int intPlaces = 0;     // '0' and '#' before the decimal point
    int minIntDigits = 0;  // digits always written before the point
    int fracPlaces = 0;    // '0' and '#' after the point
    int minFracDigits = 0; // digits always written after the point (up to the last '0')
    bool scientific = false;
    char expChar = 'e';
    bool expAlwaysSign = false;
    int expDigits = 0;
};

Picture ParsePicture(std::string_view text)
{
    Picture p;
    bool seenPlace = false, afterPoint = false;
    int firstZero = -1; // index among the integer places of the first '0'
    std::string *literal = &p.prefix;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ';')
            break; // only the first section is used
        if (c == '"' || c == '\'') {
            const std::size_t end = text.find(c, i + 1);
            const std::size_t stop = end == std::string_view::npos ? text.size() : end;
            literal->append(text.substr(i + 1, stop - i - 1));
            i = stop;
            continue;
        }
        if (p.scientific) {
            if (c != '#' && c != '0')
                p.suffix += c;
            continue;
        }
        if (c == '0' || c == '#') {
            seenPlace = true;
            literal = &p.suffix;
            if (afterPoint) {
                ++p.fracPlaces;
                if (c == '0')
                    p.minFracDigits = p.fracPlaces;
            } else {
                if (c == '0' && firstZero < 0)
                    firstZero = p.intPlaces;
                ++p.intPlaces;
            }
        } else if (c == '.' && !afterPoint) {
            afterPoint = true;
            seenPlace = true;
            literal = &p.suffix;
        } else if (c == ',') {
            // thousands grouping is not used by any of our pictures
        } else if ((c == 'e' || c == 'E') && seenPlace && i + 1 < text.size() &&
                   (text[i + 1] == '+' || text[i + 1] == '-')) {
            p.scientific = true;
            p.expChar = c;
            p.expAlwaysSign = text[i + 1] == '+';
            i += 1;
            while (i + 1 < text.size() && text[i + 1] == '0') {
                ++i;
                if (p.expDigits < 4)
                    ++p.expDigits;
            }
        } else {
            *literal += c;
        }
    }
    p.minIntDigits = firstZero < 0 ? 0 : p.intPlaces - firstZero;
    return p;
}

// The decimal digits of a positive finite value: 18 significant digits and the power of ten of the
// first one.
struct Digits {
    std::string digits;
    int exponent = 0;
};

Digits DecimalDigits(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17e", value); // d.ddddddddddddddddde+XX
    Digits d;
    const char *p = buffer;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            d.digits += *p;
    if (*p == 'e')
        d.exponent = std::atoi(p + 1);
    return d;
}

// Keeps count leading digits, rounding half away from zero on the next one. A carry out of the
// first digit makes the result one digit longer. count <= 0 gives "1" or "" (a rounded-away value).
std::string RoundDigits(const std::string &digits, int count)
{
    if (count < 0)
        return {};
    if (count == 0)
        return digits[0] >= '5' ? "1" : "";
    if (count >= static_cast<int>(digits.size()))
        return digits + std::string(count - digits.size(), '0');
    std::string kept = digits.substr(0, count);
    if (digits[count] >= '5') {
        int i = count - 1;
        for (; i >= 0 && kept[i] == '9'; --i)
            kept[i] = '0';
        if (i >= 0)
            ++kept[i];
        else
            kept.insert(kept.begin(), '1');
    }
    return kept;
}

bool AllZero(const std::string &digits)
{
    return digits.find_first_not_of('0') == std::string::npos;
}

std::string TrimFraction(std::string fraction, int minDigits)
{
    while (static_cast<int>(fraction.size()) > minDigits && fraction.back() == '0')
        fraction.pop_back();
    return fraction;
}

std::string FormatScientific(const Picture &p, double magnitude, bool negative, char separator)
{
    const int intDigits = std::max(p.intPlaces, 1);
    const int count = intDigits + p.fracPlaces;
    std::string kept;
    int exponent = 0;
    if (magnitude == 0.0) {
        kept.assign(count, '0');
    } else {
        const Digits d = DecimalDigits(magnitude);
        kept = RoundDigits(d.digits, count);
        exponent = d.exponent;
        if (static_cast<int>(kept.size()) > count) { // 9.99 -> 10.0
            kept.pop_back();
            ++exponent;
        }
        exponent -= intDigits - 1;
    }
    std::string out = p.prefix;
    if (negative && !AllZero(kept))
        out += '-';
    out += kept.substr(0, intDigits);
    const std::string fraction = TrimFraction(kept.substr(intDigits), p.minFracDigits);
    if (!fraction.empty()) {
        out += separator;
        out += fraction;
    }
    out += p.expChar;
    if (exponent < 0)
        out += '-';
    else if (p.expAlwaysSign)
        out += '+';
    std::string expText = std::to_string(exponent < 0 ? -exponent : exponent);
    if (static_cast<int>(expText.size()) < p.expDigits)
        expText.insert(0, p.expDigits - expText.size(), '0');
    out += expText;
    out += p.suffix;
    return out;
}

std::string FormatFixed(const Picture &p, double magnitude, bool negative, char separator)
{
    // The value times 10^fracPlaces, rounded, as a decimal integer.
    std::string scaled;
    if (magnitude != 0.0) {
        const Digits d = DecimalDigits(magnitude);
        scaled = RoundDigits(d.digits, d.exponent + p.fracPlaces + 1);
    }
    if (static_cast<int>(scaled.size()) < p.fracPlaces)
        scaled.insert(0, p.fracPlaces - scaled.size(), '0');
    std::string integer = scaled.substr(0, scaled.size() - p.fracPlaces);
    const std::string fraction = TrimFraction(scaled.substr(scaled.size() - p.fracPlaces), p.minFracDigits);
    const std::size_t firstNonZero = integer.find_first_not_of('0');
    integer = firstNonZero == std::string::npos ? std::string() : integer.substr(firstNonZero);
    if (static_cast<int>(integer.size()) < p.minIntDigits)
        integer.insert(0, p.minIntDigits - integer.size(), '0');

    std::string out = p.prefix;
    if (negative && !AllZero(scaled))
        out += '-';
    out += integer;
    if (!fraction.empty()) {
        out += separator;
        out += fraction;
    }
    out += p.suffix;
    return out;
}

// Plain decimal number: [+|-]digits[.digits][e[+|-]digits] with '.' as the point, whole text.
template <typename T> bool ConvertFloat(std::string_view text, T &value)
{
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    const std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() <= start || !((text[start] >= '0' && text[start] <= '9') || text[start] == '.'))
        return false; // also refuses "inf", "nan" and a doubled sign
    T result{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
    if (error != std::errc() || end != text.data() + text.size())
        return false;
    value = result;
    return true;
}

template <typename T> bool ParseFloatTemplate(std::string_view text, T &value)
{
    std::string copy(TrimText(text));
    for (char &c : copy)
        if (c == ',')
            c = '.';
    return ConvertFloat(copy, value);
}

const char *const WeekdayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                    "Thursday", "Friday", "Saturday"};
const char *const MonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};

} // namespace

std::string FormatFloat(std::string_view picture, double value, char decimalSeparator)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    const Picture p = ParsePicture(picture);
    const bool negative = std::signbit(value);
    const double magnitude = std::fabs(value);
    return p.scientific ? FormatScientific(p, magnitude, negative, decimalSeparator)
                        : FormatFixed(p, magnitude, negative, decimalSeparator);
}

std::string_view TrimText(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
        text.remove_suffix(1);
    return text;
}

bool ParseFloatText(std::string_view text, double &value)
{
    return ParseFloatTemplate(text, value);
}

bool ParseFloatText(std::string_view text, float &value)
{
    return ParseFloatTemplate(text, value);
}

bool ParseIntText(std::string_view text, std::int32_t &value)
{
    text = TrimText(text);
    if (text.size() > 1 && text[0] == '+' && text[1] != '-')
        text.remove_prefix(1);
    std::int32_t result = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return false;
    value = result;
    return true;
}

double ParseNumber(std::string_view text, char decimalSeparator)
{
    std::string cleaned(TrimText(text));
    if (cleaned.empty())
        cleaned = "0";
    for (char &c : cleaned) {
        if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')
            continue;
        c = (c == ',' && decimalSeparator == ',') ? '.' : '0';
    }
    double value = 0.0;
    if (!ConvertFloat(cleaned, value))
        return 0.0;
    return value;
}

double ParseNumber(std::string_view text)
{
    return ParseNumber(text, UserDecimalSeparator());
}

std::int32_t ParseRoundedInt(std::string_view text, char decimalSeparator)
{
    const double value = std::trunc(ParseNumber(text, decimalSeparator));
    if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

std::int32_t ParseRoundedInt(std::string_view text)
{
    return ParseRoundedInt(text, UserDecimalSeparator());
}

std::string GmtDateTimeText(bool timeOnly, std::time_t when)
{
    std::tm utc{};
    gmtime_r(&when, &utc);
    char buffer[64];
    if (timeOnly)
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d (GMT)", utc.tm_hour, utc.tm_min, utc.tm_sec);
    else
        std::snprintf(buffer, sizeof buffer, "%s %s %d, %04d", WeekdayNames[utc.tm_wday],
                      MonthNames[utc.tm_mon], utc.tm_mday, utc.tm_year + 1900);
    return buffer;
}

std::string GmtDateTimeText(bool timeOnly)
{
    return GmtDateTimeText(timeOnly, std::time(nullptr));
}
