// The script language without windows: splitting, the validators, the checker's message for every
// command with good and bad arguments, expression values and their faults, grid texts, WAIT moments.
#include "script_language.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <string>
#include <vector>

namespace
{

TEST(ScriptLanguage, SplitsLines)
{
    struct Case {
        const char *line, *keyword, *arg1, *arg2;
    } cases[] = {
        {"DELAY 1 S % one second", "DELAY", "1", "S"},
        {"clear 0  10", "CLEAR", "0", "10"},
        {"  read 0", "READ", "0", ""},
        {"READ 0 1 2", "READ", "0", "1 2"},
        {"FILENAME /data/m 42  ", "FILENAME", "/data/m 42", ""},
        {"desc Orion, 3 x 10 s", "DESC", "Orion, 3 x 10 s", ""},
        {"extincr true", "EXTINCR", "true", ""},
        {"X", "", "", ""},
        {"% LOOP 3", "", "", ""},
        {"  s %", "", "", ""},
        {"SHUTTEROPEN", "SHUTTEROPEN", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const ScriptLine line = SplitScriptLine(c.line);
        EXPECT_EQ(line.keyword, c.keyword);
        EXPECT_EQ(line.arg1, c.arg1);
        EXPECT_EQ(line.arg2, c.arg2);
    }
}

TEST(ScriptLanguage, Validators)
{
    for (const char *good :
         {"", "12", "-1.5", "1e-5", "+1e+5", ".5", "-1-", "DATA1", "YLO", "SOLVE(", "SOLVEx"})
        EXPECT_TRUE(IsValidScriptNumber(good)) << good;
    for (const char *bad : {"1.2.3", "1e5.0", "1-2e5", "1+2-3", "abc", "1E5", "data1", "1,5"})
        EXPECT_FALSE(IsValidScriptNumber(bad)) << bad;
    for (const char *good : {"02/29/08", "12/31/99", "01-01_01", "04\\30\\10"})
        EXPECT_TRUE(IsValidScriptDate(good)) << good;
    for (const char *bad :
         {"02/30/07", "02/29/07", "13/01/01", "01/01/00", "04/31/10", "1/1/01", "01.01.01", ""})
        EXPECT_FALSE(IsValidScriptDate(bad)) << bad;
    for (const char *good : {"00:00:00", "23:59:59"})
        EXPECT_TRUE(IsValidScriptTime(good)) << good;
    for (const char *bad : {"24:00:00", "12:60:00", "12:00:60", "1a:00:00", "12-00-00", "12:00", "NOW"})
        EXPECT_FALSE(IsValidScriptTime(bad)) << bad;
}

TEST(ScriptLanguage, CheckerMessages)
{
    // One line each; an empty message means the line passes.
    struct Case {
        const char *line, *message;
    } cases[] = {
        {"clear 0  10", ""},
        {"CLEAR 1 1", ""},
        {"CLEAR x 1", ", CCD index can only be 0 or 1."},
        {"CLEAR 2 1", ", CCD index can only be 0 or 1."},
        {"CLEAR 0 y", ", number of clearing scans must be at least 1."},
        {"CLEAR 0 0", ", number of clearing scans must be at least 1."},
        {"CLEAR 0", ", CLEAR requires 2 parameters."},
        {"DELAY 1.5 M", ""},
        {"DELAY SOLVE(1+LOOPN*0.2) S", ""},
        {"DELAY DATA1 H", ""},
        {"DELAY -1 S", ", delay cannot be negative."},
        {"DELAY 1-2 S", ", 1-2 is not a valid floating point value."},
        {"DELAY 1 X", ", X must be S, M or H."},
        {"DELAY 1", ", DELAY requires 2 parameters."},
        {"DELAY SOLVE(1/0) S", ", division by zero in SOLVE(1/0)."},
        {"DELAY SOLVE((1+2) S", ", unbalanced parentheses in SOLVE((1+2)."},
        {"READ 0", ""},
        {"READ 0 1", ", READ takes only 1 parameter."},
        {"SAVE a", ", CCD index can only be 0 or 1."},
        {"DISPLAY 3", ", CCD index can only be 0 or 1."},
        {"PELTIERON", ", PELTIERON requires a parameter."},
        {"PELTIEROFF 1", ""},
        {"SHUTTEROPEN", ""},
        {"SHUTTERCLOSE now", ", SHUTTERCLOSE takes no parameters."},
        {"FWENABLE 1", ", FWENABLE takes no parameters."},
        {"FWDISABLE", ""},
        {"WAIT 02/29/08 12:00:00", ""},
        {"WAIT TOMORROW NOW", ""},
        {"WAIT 02/30/07 12:00:00", ", 02/30/07 is not a valid date."},
        {"WAIT TODAY 25:00:00", ", 25:00:00 is not a valid time."},
        {"WAIT TODAY", ", WAIT requires 2 parameters."},
        {"LOOP 0", ", positive integer value required."},
        {"LOOP 2 3", ", LOOP takes only 1 value."},
        {"ENDLOOP", ", missing ENDLOOP encountered before LOOP."},
        {"FWGOTO 5", ""},
        {"FWGOTO 6", ", Filter index must be in the range 0 to 5."},
        {"FWGOTO 1 2", ", FWGOTO takes only 1 parameter."},
        {"FWGOTO", ", FWGOTO requires a parameter."},
        {"DATE 12/24/26", ""},
        {"DATE 24/12/26", ", date value must be in format MM/DD/YY."},
        {"TIME 21:30:00", ""},
        {"TIME 9:30", ", time value must be in format HH:MM:SS."},
        {"EXTINCR FALSE", ""},
        {"EXTINCR true", ", boolean value required (TRUE or FALSE)."},
        {"APPENDEXT TRUE", ", can't interpret APPENDEXT."},
        {"EXPOSE 10", ", can't interpret EXPOSE."},
        {"EXTNUM 0", ", positive integer value required."},
        {"EXTNUM LOOPN", ""},
        {"XLO 0", ""},
        {"YLO -1", ", positive integer value required."},
        {"XHI 0", ", positive integer value required."},
        {"YHI 1031 1", ", YHI takes only 1 value."},
        {"XBIN 256", ", can only bin 255 lines or columns."},
        {"XBIN LOOPN", ""},
        {"YBIN 0", ", positive integer value required."},
        {"FILENAME", ", FILENAME contains a null string."},
        {"FORMAT FITS", ""},
        {"FORMAT PNG", ", FORMAT must be either KVR or FITS."},
        {"DATA1 SOLVE(2*3*4)", ""},
        {"DATA2 1e", ", 1e is not a valid floating point value."},
        {"DATA3", ""}, // the value left out is 0, as the number check lets it through
        {"DATA3 SOLVE(1e30*1e30)", ", a result that is not a finite number in SOLVE(1e30*1e30)."},
        {"DESC anything % at all", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const ScriptCheck check = CheckScript({"% first line", c.line});
        EXPECT_EQ(check.ok, c.message[0] == '\0');
        EXPECT_EQ(check.message, c.message[0] ? std::string("Error on line 2") + c.message : std::string());
    }
}

TEST(ScriptLanguage, CheckerStopsAtTheFirstErrorAndTracksLoops)
{
    EXPECT_TRUE(CheckScript({}).ok);
    EXPECT_TRUE(CheckScript({"LOOP 2", "READ 0"}).ok); // an open LOOP at the end is not reported
    const ScriptCheck nested = CheckScript({"LOOP 2", "LOOP 3", "ENDLOOP", "READ 7"});
    EXPECT_EQ(nested.line, 2);
    EXPECT_EQ(nested.message, "Error on line 2, missing ENDLOOP on preceeding LOOP.");
    EXPECT_EQ(CheckScript({"LOOP 2", "ENDLOOP", "ENDLOOP"}).line, 3);
}

TEST(ScriptLanguage, ExpressionValues)
{
    ScriptVariables v;
    v.LOOPN = 1;
    v.DATA1 = 2.5f;
    v.EXTNUM = 7;
    struct Case {
        const char *text;
        float value;
    } cases[] = {
        {"SOLVE(2*3*4)", 24.0f},
        {"SOLVE(1-2-3)", -4.0f},
        {"SOLVE(8/2*2)", 2.0f}, // "*" binds tighter than "/"
        {"SOLVE((2+3)*4)", 20.0f},
        {"SOLVE( 1 + LOOPN * 0.2 )", 1.2f},
        {"SOLVE(-2*3)", -6.0f},
        {"SOLVE(3*(1-2))", -3.0f},
        {"SOLVE(10-(1-4))", 13.0f},
        {"SOLVE(-(1-4))", 3.0f},
        {"SOLVE(1.5e+2/3)", 50.0f},
        {"SOLVE((1/3)*3)", 0.999999f}, // a group keeps six significant digits
        {"SOLVE(EXTNUM*DATA1)", 17.5f},
        {"DATA1", 2.5f},
        {"-4.5", -4.5f},
        {"", 0.0f}, // "DATA1" alone: the number check lets the empty value through
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const ScriptValue result = EvaluateScriptValue(c.text, v);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_FLOAT_EQ(result.value, c.value);
    }
}

TEST(ScriptLanguage, MalformedExpressionsAreErrorsNotValues)
{
    ScriptVariables v; // DATA1 = 0
    std::string many = "SOLVE(1";
    for (int i = 0; i < 101; ++i)
        many += "+1";
    many += ")";
    struct Case {
        std::string text, error;
    } cases[] = {
        {"SOLVE((1+2)", "unbalanced parentheses in SOLVE((1+2)"},
        {"SOLVE(1+2))", "unbalanced parentheses in SOLVE(1+2))"},
        {"SOLVE(1/DATA1)", "division by zero in SOLVE(1/DATA1)"},
        {"SOLVE(1e30*1e30)", "a result that is not a finite number in SOLVE(1e30*1e30)"},
        {"SOLVE(1**2)", "an operator lacks its operand in SOLVE(1**2)"},
        {"SOLVE(2*)", "an operator lacks its operand in SOLVE(2*)"},
        {"SOLVE()", "an empty expression in SOLVE()"},
        {"SOLVE(2(3))", "a group that does not follow an operator in SOLVE(2(3))"},
        {"SOLVE(DATA4+1)", "DATA4 is not a valid floating point value in SOLVE(DATA4+1)"},
        {"SOLVE", "an expression not written SOLVE(...) in SOLVE"},
        {"SOLVE(1", "an expression not written SOLVE(...) in SOLVE(1"},
        {many, "more than 100 operators in " + many},
        {"1-2", "1-2 is not a valid floating point value"},
        {"1e39", "1e39 is not a valid floating point value"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const ScriptValue result = EvaluateScriptValue(c.text, v);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, c.error);
    }
    // The checker cannot know a variable's value, so only constant faults are its to report.
    EXPECT_EQ(CheckScriptValue("SOLVE(1/DATA1)"), "");
    EXPECT_EQ(CheckScriptValue("SOLVE(1/(DATA1-1))"), "");
    EXPECT_EQ(CheckScriptValue("SOLVE(1/(2-2))"), "division by zero in SOLVE(1/(2-2))");
    std::int32_t whole = 0;
    EXPECT_TRUE(ScriptIntegerPart(-2.9f, whole));
    EXPECT_EQ(whole, -2);
    EXPECT_FALSE(ScriptIntegerPart(3.0e9f, whole));
}

TEST(ScriptLanguage, GridTexts)
{
    struct Case {
        double value;
        const char *text;
    } cases[] = {{0.0, "0"},   {5.6, "6"},     {10000.0, "10000"},     {12345.0, "1.2345e+04"},
                 {0.5, "0.5"}, {0.25, "0.25"}, {0.0005, "5.0000e-04"}, {-3.0, "-3"}};
    for (const Case &c : cases)
        EXPECT_EQ(FormatScriptNumber(c.value, '.'), c.text) << c.value;
    ScriptVariables v;
    v.DATA1 = 0.125f;
    EXPECT_EQ(ScriptGridValue(v, 0, ','), "true");
    EXPECT_EQ(ScriptGridValue(v, 1, ','), "0,125");
    EXPECT_EQ(ScriptGridValue(v, 10, ','), "KVR");
    EXPECT_EQ(ScriptGridNames[18], std::string("YLO"));
}

TEST(ScriptLanguage, WaitMoments)
{
    // The tests run in UTC: local time is UTC. Now: Wednesday 9 December 2026, 08:30:00.
    const std::time_t now = 1796805000;
    std::time_t target = 0;
    ASSERT_TRUE(ScriptWaitTarget("TODAY", "12:00:00", now, target));
    EXPECT_EQ(ScriptMomentText(target), "12/09/2026 12:00:00");
    ASSERT_TRUE(ScriptWaitTarget("TOMORROW", "NOW", now, target));
    EXPECT_EQ(target, now + 86400);
    ASSERT_TRUE(ScriptWaitTarget("01/01/27", "00:00:01", now, target));
    EXPECT_EQ(ScriptMomentText(target), "01/01/2027 00:00:01");
    EXPECT_FALSE(ScriptWaitTarget("TODAY", "later", now, target));
}

} // namespace
