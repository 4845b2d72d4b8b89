#pragma once
// The acquisition script language, without Qt: the line splitter, the value validators, the
// checker with its messages, the script variables, the expression evaluator and the texts the
// script window shows for values. The script window and the script thread are thin over these.
//
// Expressions ("SOLVE(...)") are evaluated with a bounded amount of work whatever the text: a
// malformed expression, a division by zero or a result that is not a finite number gives an error
// text instead of a value, which the checker reports for the line and which stops a running script.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// One split script line: the keyword in upper case, the two arguments with their case kept.
struct ScriptLine {
    std::string keyword, arg1, arg2;
};

// Splits one line: drops a comment from '%' on, trims, takes the keyword before the first blank
// and the arguments after it (FILENAME, DESC and FILTERS take the whole rest as their argument).
// A line of fewer than 2 characters gives an empty keyword.
ScriptLine SplitScriptLine(std::string_view line);

// The 33 keywords the checker knows (the assignments to DATA1 to DATA3 included).
bool IsScriptKeyword(std::string_view keyword);
// The 11 numeric variable names an argument or an expression operand may name.
bool IsScriptVariableName(std::string_view text);

// A text that looks like a script value: any text beginning "SOLVE", a numeric variable name, or a
// text of digits, "e", "+", "-" and "." with at most one ".", no "." after the "e" and at most one
// sign beside a leading one (after the "e" when there is one). The empty text passes.
bool IsValidScriptNumber(std::string_view text);
// MM/DD/YY (separators "\", "/", "-" or "_"; February 29 when YY is divisible by 4; YY at least 1).
bool IsValidScriptDate(std::string_view text);
// HH:MM:SS, 00:00:00 to 23:59:59.
bool IsValidScriptTime(std::string_view text);

// The script variables, held by the script window between runs and copied by each run.
struct ScriptVariables {
    bool APPENDEXT = true;
    float DATA1 = 0.0f, DATA2 = 0.0f, DATA3 = 0.0f;
    std::string DATE = "01/01/99";
    std::string DESC;
    std::int32_t EXTNUM = 1;
    bool EXTINCR = true;
    std::string FILENAME; // the window sets "Frames/Script" (relative: in the program folder)
    std::string FILTERS;
    std::string FORMAT = "KVR";
    std::int32_t LOOPN = 0;
    std::string TIME = "00:00:00";
    std::int32_t XBIN = 0, YBIN = 0;
    std::int32_t XHI = 0, XLO = 0, YHI = 0, YLO = 0;
};

// The 19 variable names in the order of the variables grid.
extern const char *const ScriptGridNames[19];
// The grid's text for variable `row` (0..18 in ScriptGridNames order): booleans "true"/"false",
// texts as they are, numbers through FormatScriptNumber.
std::string ScriptGridValue(const ScriptVariables &variables, int row, char decimalSeparator);
// Numbers of the grid: "0" for 0; "0.0000e+00" above 10000 or below 0.001 in magnitude; "#####"
// from 1 to 10000; "0.0###" from 0.001 to below 1.
std::string FormatScriptNumber(double value, char decimalSeparator);

// The outcome of evaluating a value: the value, or the reason there is none ("division by zero in
// SOLVE(1/0)"), which callers put after "Error on line N, ".
struct ScriptValue {
    bool ok = false;
    float value = 0.0f;
    std::string error;
};

// A plain number of the language ("12", "-1.5e3"); false for anything that is not wholly one
// finite number.
bool ParseScriptNumber(std::string_view text, float &value);
// The value of a numeric variable or a plain number; an error for any other text.
ScriptValue ScriptOperandValue(std::string_view text, const ScriptVariables &variables);
// One parenthesis-free expression: "*" first, then "/", then "+" and "-" from left to right (so
// 8/2*2 is 2). A sign at the start or right after an operator belongs to its operand; a sign after
// the exponent letter of a number belongs to the number. At most 100 operators.
ScriptValue EvaluateFlatExpression(std::string_view text, const ScriptVariables &variables);
// A value argument: "SOLVE(...)" with blanks removed and inner groups evaluated first (each group's
// result rounded to six significant digits), otherwise ScriptOperandValue.
ScriptValue EvaluateScriptValue(std::string_view text, const ScriptVariables &variables);
// The checker's view of a value argument: empty when it can be evaluated; otherwise the reason.
// Expressions without variables are evaluated (so SOLVE(1/0) is caught); with variables only their
// form is checked, their value being known at run time.
std::string CheckScriptValue(std::string_view text);

// The integer part (toward zero) of a value; false when it does not fit 32 bits.
bool ScriptIntegerPart(float value, std::int32_t &result);

// The checker's result: the 1-based line of the first error and its message ("Error on line N, ...").
struct ScriptCheck {
    bool ok = true;
    int line = 0;
    std::string message;
};
// Examines the lines in order and stops at the first error.
ScriptCheck CheckScript(const std::vector<std::string> &lines);

// The moment a WAIT line waits for, in local time: day "TODAY", "TOMORROW" or MM/DD/YY (20YY),
// time HH:MM:SS or "NOW" (the current time of day). False for a text that names no moment.
bool ScriptWaitTarget(std::string_view day, std::string_view time, std::time_t now, std::time_t &target);
// "MM/DD/YYYY HH:MM:SS" of a local moment.
std::string ScriptMomentText(std::time_t moment);
