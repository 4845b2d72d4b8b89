#include "comma_locale.h"
#include "file_names.h"
#include "recording_ui_hooks.h"
#include "test_files.h"
#include "text_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <regex>

namespace
{

struct PictureCase {
    const char *picture;
    double value;
    char separator;
    const char *expected;
};

class FormatFloatTest : public testing::TestWithParam<PictureCase>
{
};

TEST_P(FormatFloatTest, WritesThePicture)
{
    const PictureCase &c = GetParam();
    EXPECT_EQ(FormatFloat(c.picture, c.value, c.separator), c.expected)
        << "picture " << c.picture << " value " << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, FormatFloatTest,
    testing::Values(
        // Line-per-value floats: five decimals, signed exponent of at least two digits.
        PictureCase{"0.00000e+00", 0.0, '.', "0.00000e+00"},
        PictureCase{"0.00000e+00", 1234.5, '.', "1.23450e+03"},
        PictureCase{"0.00000e+00", -0.000123456, '.', "-1.23456e-04"},
        PictureCase{"0.00000e+00", 1e-100, '.', "1.00000e-100"},
        PictureCase{"0.00000e+00", 9.999996, '.', "1.00000e+01"}, // rounding carries into the exponent
        PictureCase{"0.00000e+00", 0.5, ',', "5,00000e-01"},
        PictureCase{"0.00000e+00", 1.0f / 3.0f, '.', "3.33333e-01"},
        PictureCase{"0.00000e+00", 65535.0, '.', "6.55350e+04"},
        // Integration-time and PNG pictures.
        PictureCase{"0.000e+00", 30.0, '.', "3.000e+01"},
        PictureCase{"0.000000e+00", 65535.0, ',', "6,553500e+04"},
        PictureCase{"0.00e+00", -0.0, '.', "0.00e+00"},
        // Own-format header picture: optional digits and exponent digits.
        PictureCase{"#.######e+##", 1234.5, '.', "1.2345e+3"}, PictureCase{"#.######e+##", 0.5, '.', "5e-1"},
        PictureCase{"#.######e+##", 0.0, '.', "0e+0"}, PictureCase{"#.######e+##", -1.5e-12, ',', "-1,5e-12"},
        PictureCase{"#.######e+##", 123.4567891, '.', "1.234568e+2"},
        // Fixed pictures.
        PictureCase{"#####0.00", 3.14159, '.', "3.14"}, PictureCase{"#####0.00", 0.0, '.', "0.00"},
        PictureCase{"#####0.00", 1234567.891, ',', "1234567,89"},
        PictureCase{"#####0.00", 0.125, '.', "0.13"}, PictureCase{"#####0.00", -0.001, '.', "0.00"},
        PictureCase{"#####0.00", -2.5, '.', "-2.50"}, PictureCase{"#####0.00", 0.625, '.', "0.63"},
        PictureCase{"##0.###", 2.5, '.', "2.5"}, PictureCase{"##0.###", 2.0, '.', "2"},
        PictureCase{"##0.###", 0.0004, '.', "0"}, PictureCase{"##0.###", 1.23456, '.', "1.235"},
        PictureCase{"0.0###", 3.0, '.', "3.0"}, PictureCase{"0.0###", 3.14159265, ',', "3,1416"},
        PictureCase{"#.##", 0.5, '.', ".5"}, PictureCase{"#.##", 0.0, '.', ""},
        PictureCase{"#####", 42.6, '.', "43"}, PictureCase{"0", -7.5, '.', "-8"},
        PictureCase{"###0.000", 12.0, ',', "12,000"}, PictureCase{"#0.0", 99.96, '.', "100.0"},
        PictureCase{"0.00 s", 1.5, '.', "1.50 s"}));

TEST(FormatFloat, NotANumberAndInfinity)
{
    EXPECT_EQ(FormatFloat("0.00", std::numeric_limits<double>::quiet_NaN(), '.'), "NAN");
    EXPECT_EQ(FormatFloat("0.00", -std::numeric_limits<double>::infinity(), '.'), "-INF");
}

TEST(FormatFloat, IgnoresTheCLibraryLocale)
{
    const korvi::test::CommaCLocale comma;
    if (!comma.Active())
        GTEST_SKIP() << "no comma-decimal C locale available";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5") << "the locale is in force";
    EXPECT_EQ(FormatFloat("0.00000e+00", 1234.5, '.'), "1.23450e+03");
    EXPECT_EQ(FormatFloat("#####0.00", 0.125, '.'), "0.13");
    double value = 0;
    EXPECT_TRUE(ParseFloatText("2.5", value));
    EXPECT_EQ(value, 2.5);
    EXPECT_EQ(ParseNumber("-2.5", '.'), -2.5);
}

TEST(TrimText, RemovesControlCharactersAndBlanksAtBothEnds)
{
    EXPECT_EQ(TrimText(" \t\r\n a b \x01\r\n"), "a b");
    EXPECT_EQ(TrimText("   "), "");
}

TEST(ParseFloatText, AcceptsPointAndComma)
{
    struct Case {
        const char *text;
        bool ok;
        double value;
    };
    for (const Case &c :
         {Case{"1.5", true, 1.5}, Case{" 1,5 \r", true, 1.5}, Case{"-2.5e3", true, -2500.0},
          Case{"6,55350e+04", true, 65535.0}, Case{"+3", true, 3.0}, Case{".5", true, 0.5},
          Case{"1.2.3", false, 0}, Case{"abc", false, 0}, Case{"", false, 0}, Case{"inf", false, 0},
          Case{"nan", false, 0}, Case{"1e", false, 0}, Case{"--1", false, 0}, Case{"1 2", false, 0}}) {
        double value = 99.0;
        EXPECT_EQ(ParseFloatText(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 99.0) << c.text;
    }
    float single = 0;
    EXPECT_TRUE(ParseFloatText("3,33333e-01", single));
    EXPECT_FLOAT_EQ(single, 0.333333f);
}

TEST(ParseIntText, AcceptsOnlyWholeIntegers)
{
    struct Case {
        const char *text;
        bool ok;
        std::int32_t value;
    };
    for (const Case &c :
         {Case{"42", true, 42}, Case{" -7 \r", true, -7}, Case{"+8", true, 8},
          Case{"2147483647", true, 2147483647}, Case{"3.5", false, 0}, Case{"99999999999", false, 0},
          Case{"", false, 0}, Case{"--1", false, 0}, Case{"+-1", false, 0}, Case{"1x", false, 0}}) {
        std::int32_t value = 99;
        EXPECT_EQ(ParseIntText(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 99) << c.text;
    }
}

TEST(ParseNumber, ReadsTypedNumbersLeniently)
{
    EXPECT_EQ(ParseNumber("", '.'), 0.0);
    EXPECT_EQ(ParseNumber("  -2.5 ", '.'), -2.5);
    EXPECT_EQ(ParseNumber("12 s", '.'), 1200.0);
    EXPECT_EQ(ParseNumber("1e3", '.'), 103.0);
    EXPECT_EQ(ParseNumber("1,5", '.'), 105.0); // a comma is no decimal separator here
    EXPECT_EQ(ParseNumber("abc", '.'), 0.0);
    EXPECT_EQ(ParseNumber("1.2.3", '.'), 0.0); // still not a number after the cleaning
    EXPECT_EQ(ParseNumber("5-", '.'), 0.0);
    EXPECT_EQ(ParseNumber("+4", '.'), 4.0);
}

TEST(ParseNumber, TakesTheUsersCommaAsDecimalSeparator)
{
    EXPECT_EQ(ParseNumber("1,5", ','), 1.5);
    EXPECT_EQ(ParseNumber("2.25", ','), 2.25);
    korvi::test::RecordingUiHooks comma(',');
    EXPECT_EQ(ParseNumber("0,125"), 0.125);
    EXPECT_EQ(ParseRoundedInt("7,9"), 7);
}

TEST(ParseRoundedInt, TruncatesTowardZeroAndClamps)
{
    EXPECT_EQ(ParseRoundedInt("-2.9", '.'), -2);
    EXPECT_EQ(ParseRoundedInt("2.9", '.'), 2);
    EXPECT_EQ(ParseRoundedInt("", '.'), 0);
    EXPECT_EQ(ParseRoundedInt("99999999999", '.'), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(ParseRoundedInt("-99999999999", '.'), std::numeric_limits<std::int32_t>::min());
}

std::time_t Utc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return timegm(&t);
}

TEST(GmtDateTimeText, WritesEnglishDateAndTwoDigitTime)
{
    const std::time_t when = Utc(2026, 12, 8, 7, 16, 14);
    EXPECT_EQ(GmtDateTimeText(false, when), "Tuesday December 8, 2026");
    EXPECT_EQ(GmtDateTimeText(true, when), "07:16:14 (GMT)");
    EXPECT_EQ(GmtDateTimeText(false, Utc(2024, 1, 1, 23, 59, 59)), "Monday January 1, 2024");
    EXPECT_EQ(GmtDateTimeText(true, Utc(2024, 1, 1, 23, 59, 59)), "23:59:59 (GMT)");
    EXPECT_EQ(GmtDateTimeText(false, Utc(2023, 7, 30, 0, 0, 0)), "Sunday July 30, 2023");
}

TEST(GmtDateTimeText, NowHasTheShapes)
{
    EXPECT_TRUE(std::regex_match(GmtDateTimeText(true), std::regex(R"(\d\d:\d\d:\d\d \(GMT\))")));
    EXPECT_TRUE(std::regex_match(GmtDateTimeText(false),
                                 std::regex(R"([A-Z][a-z]+day [A-Z][a-z]+ [1-9]\d?, \d{4})")));
}

TEST(FileNames, WorkOnTheNamePartOnly)
{
    struct Case {
        const char *path, *extension, *stripped, *name, *directory;
    };
    for (const Case &c : {
             Case{"a.b.fits", "fits", "a", "a.b.fits", ""},
             Case{"/data/m31/frame.kvr", "kvr", "/data/m31/frame", "frame.kvr", "/data/m31/"},
             Case{"/data/v1.2/frame", "frame", "/data/v1.2/frame", "frame", "/data/v1.2/"},
             Case{"/data/v1.2/a.b.fits", "fits", "/data/v1.2/a", "a.b.fits", "/data/v1.2/"},
             Case{"/data/.hidden", "hidden", "/data/", ".hidden", "/data/"},
             Case{"/data/dir/", "", "/data/dir/", "", "/data/dir/"},
             Case{"plain", "plain", "plain", "plain", ""},
         }) {
        EXPECT_EQ(ExtractExtension(c.path), c.extension) << c.path;
        EXPECT_EQ(StripExtension(c.path), c.stripped) << c.path;
        EXPECT_EQ(ExtractFileNamePart(c.path), c.name) << c.path;
        EXPECT_EQ(ExtractDirectoryPart(c.path), c.directory) << c.path;
    }
}

} // namespace
