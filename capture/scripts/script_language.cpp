#include "script_language.h"

#include "text_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace
{

// The keywords the checker knows. DATA1 to DATA3 are among them: the checker has their checks and
// the thread their assignments, and SOLVE is of most use there. APPENDEXT is left out: the thread
// knows it, the checker refuses it.
constexpr std::array<std::string_view, 33> Keywords = {
    "CLEAR",     "ENDLOOP",    "SHUTTERCLOSE", "DELAY", "LOOP",     "SHUTTEROPEN", "DISPLAY",
    "READ",      "WAIT",       "DATE",         "DESC",  "EXTINCR",  "EXTNUM",      "FILENAME",
    "FILTERS",   "FORMAT",     "LOOPN",        "TIME",  "XBIN",     "XHI",         "XLO",
    "YBIN",      "YHI",        "YLO",          "SAVE",  "FWENABLE", "FWDISABLE",   "FWGOTO",
    "PELTIERON", "PELTIEROFF", "DATA1",        "DATA2", "DATA3"};

constexpr std::array<std::string_view, 11> VariableNames = {
    "DATA1", "DATA2", "DATA3", "EXTNUM", "LOOPN", "XBIN", "XHI", "XLO", "YBIN", "YHI", "YLO"};

// Expressions with more operators than this are refused (the splitter of one group holds at most
// this many).
constexpr std::size_t MostOperators = 100;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Upper(std::string_view text)
{
    std::string result(text);
    for (char &c : result)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return result;
}

std::string Trimmed(std::string_view text)
{
    return std::string(TrimText(text));
}

// Whole decimal integers; anything else counts as -1, as the checks expect.
bool IsInteger(std::string_view text)
{
    std::int32_t value = 0;
    return ParseIntText(text, value);
}

int IntegerOr(std::string_view text)
{
    std::int32_t value = -1;
    return ParseIntText(text, value) ? value : -1;
}

// Two decimal digits at text[at], at+1.
bool TwoDigits(std::string_view text, std::size_t at, int &value)
{
    if (at + 2 > text.size())
        return false;
    const char a = text[at], b = text[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9')
        return false;
    value = (a - '0') * 10 + (b - '0');
    return true;
}

int DaysInMonth(int month, int year)
{
    static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && year % 4 == 0 ? 29 : days[month - 1];
}

// Digits with at most one '.', at least one digit: the part of a number before its exponent.
bool IsMantissa(std::string_view text)
{
    int digits = 0, points = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.')
            ++points;
        else
            return false;
    }
    return digits > 0 && points <= 1;
}

bool IsOperator(char c)
{
    return c == '*' || c == '/' || c == '+' || c == '-';
}

// An operand's value, or unknown while checking (variables have no value before the run).
struct Operand {
    float value = 0.0f;
    bool known = true;
};

float VariableValue(std::string_view name, const ScriptVariables &v)
{
    if (name == "DATA1")
        return v.DATA1;
    if (name == "DATA2")
        return v.DATA2;
    if (name == "DATA3")
        return v.DATA3;
    if (name == "EXTNUM")
        return static_cast<float>(v.EXTNUM);
    if (name == "LOOPN")
        return static_cast<float>(v.LOOPN);
    if (name == "XBIN")
        return static_cast<float>(v.XBIN);
    if (name == "XHI")
        return static_cast<float>(v.XHI);
    if (name == "XLO")
        return static_cast<float>(v.XLO);
    if (name == "YBIN")
        return static_cast<float>(v.YBIN);
    if (name == "YHI")
        return static_cast<float>(v.YHI);
    return static_cast<float>(v.YLO);
}

// variables == nullptr: checking; variables are then unknown and arithmetic on unknowns is not
// examined.
bool OperandOf(std::string_view text, const ScriptVariables *variables, Operand &operand, std::string &error)
{
    if (IsScriptVariableName(text)) {
        operand.known = variables != nullptr;
        operand.value = variables ? VariableValue(text, *variables) : 0.0f;
        return true;
    }
    float value = 0.0f;
    if (!ParseScriptNumber(text, value)) {
        error = std::string(text) + " is not a valid floating point value";
        return false;
    }
    operand = {value, true};
    return true;
}

bool Flat(std::string_view text, const ScriptVariables *variables, Operand &result, std::string &error)
{
    std::vector<Operand> values;
    std::vector<char> operators;
    std::string body;
    int negatives = 0;
    auto take = [&]() {
        Operand operand;
        if (!OperandOf(body, variables, operand, error))
            return false;
        if (negatives % 2 != 0)
            operand.value = -operand.value;
        values.push_back(operand);
        body.clear();
        negatives = 0;
        return true;
    };
    for (char c : text) {
        if (c == '+' || c == '-') {
            // A sign before an operand (also right after an operator, as a negative group result
            // put in place of its parentheses leaves it) belongs to that operand.
            if (body.empty()) {
                negatives += c == '-' ? 1 : 0;
                continue;
            }
            // The sign of a number's exponent.
            const char last = body.back();
            if ((last == 'e' || last == 'E') &&
                IsMantissa(std::string_view(body).substr(0, body.size() - 1))) {
                body += c;
                continue;
            }
        }
        if (IsOperator(c)) {
            if (body.empty()) {
                error = "an operator lacks its operand";
                return false;
            }
            if (!take())
                return false;
            operators.push_back(c);
            if (operators.size() > MostOperators) {
                error = "more than 100 operators";
                return false;
            }
            continue;
        }
        body += c;
    }
    if (body.empty()) {
        error = operators.empty() ? "an empty expression" : "an operator lacks its operand";
        return false;
    }
    if (!take())
        return false;

    // Three passes: every "*", then every "/", then "+" and "-" together, each left to right.
    const auto pass = [&](auto applies) {
        for (std::size_t i = 0; i < operators.size();) {
            const char op = operators[i];
            if (!applies(op)) {
                ++i;
                continue;
            }
            Operand &a = values[i];
            const Operand &b = values[i + 1];
            if (a.known && b.known) {
                if (op == '/' && b.value == 0.0f) {
                    error = "division by zero";
                    return false;
                }
                const float r = op == '*'   ? a.value * b.value
                                : op == '/' ? a.value / b.value
                                : op == '+' ? a.value + b.value
                                            : a.value - b.value;
                if (!std::isfinite(r)) {
                    error = "a result that is not a finite number";
                    return false;
                }
                a.value = r;
            } else {
                a.known = false;
            }
            values.erase(values.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            operators.erase(operators.begin() + static_cast<std::ptrdiff_t>(i));
        }
        return true;
    };
    if (!pass([](char op) { return op == '*'; }) || !pass([](char op) { return op == '/'; }) ||
        !pass([](char op) { return op == '+' || op == '-'; }))
        return false;
    result = values.front();
    return true;
}

bool StartsWithSolve(std::string_view text)
{
    return text.substr(0, 5) == "SOLVE";
}

bool Evaluate(std::string_view text, const ScriptVariables *variables, Operand &result, std::string &error)
{
    // A command without its value ("DATA1" alone) passes the number check, and means 0.
    if (text.empty()) {
        result = {0.0f, true};
        return true;
    }
    if (!StartsWithSolve(text)) {
        if (!OperandOf(text, variables, result, error))
            return false;
        return true;
    }
    std::string s;
    for (char c : text)
        if (!IsBlank(c))
            s += c;
    const auto fail = [&](const std::string &reason) {
        error = reason + " in " + std::string(text);
        return false;
    };
    if (s.size() < 7 || s.compare(0, 6, "SOLVE(") != 0 || s.back() != ')')
        return fail("an expression not written SOLVE(...)");
    std::string body = s.substr(6, s.size() - 7);
    // A group stands where an operand may: after the start, an operator or "(", and before the
    // end, an operator or ")"; "2(3)" would otherwise read as the number 23.
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '(' && i > 0 && !IsOperator(body[i - 1]) && body[i - 1] != '(')
            return fail("a group that does not follow an operator");
        if (body[i] == ')' && i + 1 < body.size() && !IsOperator(body[i + 1]) && body[i + 1] != ')')
            return fail("a group that is not followed by an operator");
    }
    // Innermost groups first; every round removes one pair, so this ends.
    for (;;) {
        const std::size_t close = body.find(')');
        if (close == std::string::npos)
            break;
        const std::size_t open = body.rfind('(', close);
        if (open == std::string::npos)
            return fail("unbalanced parentheses");
        Operand group;
        if (!Flat(std::string_view(body).substr(open + 1, close - open - 1), variables, group, error))
            return fail(error);
        // A group whose value is known only at run time stands as a variable while checking.
        const std::string replacement = group.known ? FormatFloat("0.00000e+00", group.value, '.') : "DATA1";
        body.replace(open, close - open + 1, replacement);
    }
    if (body.find('(') != std::string::npos)
        return fail("unbalanced parentheses");
    if (!Flat(body, variables, result, error))
        return fail(error);
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Splitting and validation

ScriptLine SplitScriptLine(std::string_view line)
{
    ScriptLine parts;
    if (line.size() < 2)
        return parts;
    if (const std::size_t comment = line.find('%'); comment != std::string_view::npos)
        line = line.substr(0, comment);
    // Trimmed with or without a comment, so the checker and the executor read the same line.
    line = TrimText(line);
    if (line.size() < 2)
        return parts;
    const auto blank = std::find_if(line.begin(), line.end(), IsBlank);
    if (blank == line.end()) {
        parts.keyword = Upper(line);
        return parts;
    }
    const std::size_t at = static_cast<std::size_t>(blank - line.begin());
    parts.keyword = Upper(TrimText(line.substr(0, at)));
    const std::string_view rest = TrimText(line.substr(at));
    if (parts.keyword == "FILENAME" || parts.keyword == "DESC" || parts.keyword == "FILTERS") {
        parts.arg1 = std::string(rest);
        return parts;
    }
    const auto second = std::find_if(rest.begin(), rest.end(), IsBlank);
    if (second == rest.end()) {
        parts.arg1 = std::string(rest);
        return parts;
    }
    const std::size_t split = static_cast<std::size_t>(second - rest.begin());
    parts.arg1 = std::string(rest.substr(0, split));
    parts.arg2 = Trimmed(rest.substr(split));
    return parts;
}

bool IsScriptKeyword(std::string_view keyword)
{
    return std::find(Keywords.begin(), Keywords.end(), keyword) != Keywords.end();
}

bool IsScriptVariableName(std::string_view text)
{
    return std::find(VariableNames.begin(), VariableNames.end(), text) != VariableNames.end();
}

bool IsValidScriptNumber(std::string_view text)
{
    if (StartsWithSolve(text) || IsScriptVariableName(text))
        return true;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || c == 'e' || c == '+' || c == '-' || c == '.'))
            return false;
    if (std::count(text.begin(), text.end(), '.') > 1)
        return false;
    const std::size_t e = text.find('e');
    if (e != std::string_view::npos && text.find('.', e) != std::string_view::npos)
        return false;
    std::string_view unsigned_ = text;
    std::size_t offset = 0;
    if (!unsigned_.empty() && (unsigned_[0] == '+' || unsigned_[0] == '-')) {
        unsigned_.remove_prefix(1);
        offset = 1;
    }
    std::size_t signs = 0, signAt = 0;
    for (std::size_t i = 0; i < unsigned_.size(); ++i)
        if (unsigned_[i] == '+' || unsigned_[i] == '-') {
            ++signs;
            signAt = i + offset;
        }
    if (signs > 1)
        return false;
    if (signs == 1 && e != std::string_view::npos && signAt < e)
        return false;
    return true;
}

bool IsValidScriptDate(std::string_view text)
{
    if (text.size() != 8)
        return false;
    int month = 0, day = 0, year = 0;
    if (!TwoDigits(text, 0, month) || !TwoDigits(text, 3, day) || !TwoDigits(text, 6, year))
        return false;
    const auto separator = [](char c) { return c == '\\' || c == '/' || c == '-' || c == '_'; };
    if (!separator(text[2]) || !separator(text[5]))
        return false;
    return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(month, year);
}

bool IsValidScriptTime(std::string_view text)
{
    if (text.size() != 8 || text[2] != ':' || text[5] != ':')
        return false;
    int hours = 0, minutes = 0, seconds = 0;
    if (!TwoDigits(text, 0, hours) || !TwoDigits(text, 3, minutes) || !TwoDigits(text, 6, seconds))
        return false;
    return hours <= 23 && minutes <= 59 && seconds <= 59;
}

// ---------------------------------------------------------------------------------------------
// Values

bool ParseScriptNumber(std::string_view text, float &value)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || c == 'e' || c == 'E' || c == '+' || c == '-' || c == '.'))
            return false;
    if (text[0] == '+')
        text.remove_prefix(1);
    if (text.empty() || text[0] == '+')
        return false;
    float result = 0.0f;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(result))
        return false;
    value = result;
    return true;
}

ScriptValue ScriptOperandValue(std::string_view text, const ScriptVariables &variables)
{
    ScriptValue result;
    Operand operand;
    result.ok = OperandOf(text, &variables, operand, result.error);
    result.value = operand.value;
    return result;
}

ScriptValue EvaluateFlatExpression(std::string_view text, const ScriptVariables &variables)
{
    ScriptValue result;
    Operand operand;
    result.ok = Flat(text, &variables, operand, result.error);
    result.value = operand.value;
    return result;
}

ScriptValue EvaluateScriptValue(std::string_view text, const ScriptVariables &variables)
{
    ScriptValue result;
    Operand operand;
    result.ok = Evaluate(text, &variables, operand, result.error);
    result.value = operand.value;
    return result;
}

std::string CheckScriptValue(std::string_view text)
{
    if (!StartsWithSolve(text) && !IsValidScriptNumber(text))
        return std::string(text) + " is not a valid floating point value";
    Operand operand;
    std::string error;
    return Evaluate(text, nullptr, operand, error) ? std::string() : error;
}

bool ScriptIntegerPart(float value, std::int32_t &result)
{
    const double whole = std::trunc(static_cast<double>(value));
    if (!std::isfinite(whole) || whole > 2147483647.0 || whole < -2147483648.0)
        return false;
    result = static_cast<std::int32_t>(whole);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Checker

ScriptCheck CheckScript(const std::vector<std::string> &lines)
{
    ScriptCheck check;
    bool loopOpen = false;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const ScriptLine line = SplitScriptLine(lines[index]);
        const std::string &k = line.keyword, &a1 = line.arg1, &a2 = line.arg2;
        if (k.empty())
            continue;
        std::string m; // the line's message after "Error on line N"
        const auto is = [&k](std::initializer_list<std::string_view> words) {
            return std::find(words.begin(), words.end(), k) != words.end();
        };
        if (!IsScriptKeyword(k)) {
            m = ", can't interpret " + k + ".";
        } else if (is({"SHUTTERCLOSE", "SHUTTEROPEN", "FWENABLE", "FWDISABLE"})) {
            if (!a1.empty() || !a2.empty())
                m = ", " + k + " takes no parameters.";
        } else if (k == "CLEAR") {
            const int camera = IntegerOr(a1);
            if (camera < 0)
                m = ", " + a1 + " is not a valid integer value.";
            if (camera != 0 && camera != 1)
                m = ", CCD index can only be 0 or 1.";
            if (!IsInteger(a2))
                m = ", " + a2 + " is not a valid integer value.";
            if (IntegerOr(a2) < 1)
                m = ", number of clearing scans must be at least 1.";
            if (a1.empty() || a2.empty())
                m = ", " + k + " requires 2 parameters.";
        } else if (k == "DELAY") {
            if (const std::string problem = CheckScriptValue(a1); !problem.empty())
                m = ", " + problem + ".";
            float value = 0.0f;
            if (ParseScriptNumber(a1, value) && value < 0.0f)
                m = ", delay cannot be negative.";
            if (a2 != "S" && a2 != "M" && a2 != "H")
                m = ", " + a2 + " must be S, M or H.";
            if (a1.empty() || a2.empty())
                m = ", " + k + " requires 2 parameters.";
        } else if (is({"DISPLAY", "READ", "SAVE", "PELTIERON", "PELTIEROFF"})) {
            if (!IsInteger(a1))
                m = ", " + a1 + " is not a valid integer value.";
            const int camera = IntegerOr(a1);
            if (camera != 0 && camera != 1)
                m = ", CCD index can only be 0 or 1.";
            if (!a2.empty())
                m = ", " + k + " takes only 1 parameter.";
            if (a1.empty())
                m = ", " + k + " requires a parameter.";
        } else if (k == "WAIT") {
            if (!IsValidScriptDate(a1) && a1 != "TOMORROW" && a1 != "TODAY")
                m = ", " + a1 + " is not a valid date.";
            if (!IsValidScriptTime(a2) && a2 != "NOW")
                m = ", " + a2 + " is not a valid time.";
            if (a1.empty() || a2.empty())
                m = ", " + k + " requires 2 parameters.";
        } else if (k == "LOOP") {
            if (IntegerOr(a1) < 1)
                m = ", positive integer value required.";
            if (!a2.empty())
                m = ", " + k + " takes only 1 value.";
            if (loopOpen)
                m = ", missing ENDLOOP on preceeding LOOP.";
            loopOpen = true;
        } else if (k == "ENDLOOP") {
            if (!loopOpen)
                m = ", missing ENDLOOP encountered before LOOP.";
            loopOpen = false;
            if (!a1.empty() || !a2.empty())
                m = ", " + k + " takes no parameters.";
        } else if (k == "FWGOTO") {
            if (!IsInteger(a1))
                m = ", " + a1 + " is not a valid integer value.";
            const int position = IntegerOr(a1);
            if (position < 0 || position > 5)
                m = ", Filter index must be in the range 0 to 5.";
            if (!a2.empty())
                m = ", " + k + " takes only 1 parameter.";
            if (a1.empty())
                m = ", " + k + " requires a parameter.";
        } else if (is({"DESC", "FILTERS"})) {
            // Any text.
        } else {
            // The assignments that take one value.
            if (k == "DATE" && !IsValidScriptDate(a1))
                m = ", date value must be in format MM/DD/YY.";
            if (k == "EXTINCR" && a1 != "TRUE" && a1 != "FALSE")
                m = ", boolean value required (TRUE or FALSE).";
            // The lowest column and row of a sub-frame are 0 on every sensor; the others count
            // from 1.
            const int least = k == "XLO" || k == "YLO" ? 0 : 1;
            if (is({"EXTNUM", "LOOPN", "XHI", "XLO", "YHI", "YLO"}) && IntegerOr(a1) < least &&
                !IsScriptVariableName(a1))
                m = ", positive integer value required.";
            if (k == "FILENAME" && a1.empty())
                m = ", FILENAME contains a null string.";
            if (k == "FORMAT" && a1 != "FITS" && a1 != "KVR")
                m = ", FORMAT must be either KVR or FITS.";
            if (k == "TIME" && !IsValidScriptTime(a1))
                m = ", time value must be in format HH:MM:SS.";
            if (is({"XBIN", "YBIN"})) {
                if (IntegerOr(a1) < 1 && !IsScriptVariableName(a1))
                    m = ", positive integer value required.";
                if (IntegerOr(a1) > 255)
                    m = ", can only bin 255 lines or columns.";
            }
            if (is({"DATA1", "DATA2", "DATA3"}))
                if (const std::string problem = CheckScriptValue(a1); !problem.empty())
                    m = ", " + problem + ".";
            if (!a2.empty())
                m = ", " + k + " takes only 1 value.";
        }
        if (!m.empty()) {
            check.ok = false;
            check.line = static_cast<int>(index) + 1;
            check.message = "Error on line " + std::to_string(index + 1) + m;
            return check;
        }
    }
    return check;
}

// ---------------------------------------------------------------------------------------------
// Grid texts

const char *const ScriptGridNames[19] = {
    "APPENDEXT", "DATA1", "DATA2", "DATA3", "DATE", "DESC", "EXTNUM", "EXTINCR", "FILENAME", "FILTERS",
    "FORMAT",    "LOOPN", "TIME",  "XBIN",  "XHI",  "XLO",  "YBIN",   "YHI",     "YLO"};

std::string FormatScriptNumber(double value, char decimalSeparator)
{
    const double magnitude = std::fabs(value);
    if (value == 0.0)
        return "0";
    if (magnitude > 10000.0 || magnitude < 0.001)
        return FormatFloat("0.0000e+00", value, decimalSeparator);
    if (magnitude >= 1.0)
        return FormatFloat("#####", value, decimalSeparator);
    return FormatFloat("0.0###", value, decimalSeparator);
}

std::string ScriptGridValue(const ScriptVariables &v, int row, char separator)
{
    const auto flag = [](bool b) { return std::string(b ? "true" : "false"); };
    const auto number = [separator](double x) { return FormatScriptNumber(x, separator); };
    switch (row) {
    case 0:
        return flag(v.APPENDEXT);
    case 1:
        return number(v.DATA1);
    case 2:
        return number(v.DATA2);
    case 3:
        return number(v.DATA3);
    case 4:
        return v.DATE;
    case 5:
        return v.DESC;
    case 6:
        return number(v.EXTNUM);
    case 7:
        return flag(v.EXTINCR);
    case 8:
        return v.FILENAME;
    case 9:
        return v.FILTERS;
    case 10:
        return v.FORMAT;
    case 11:
        return number(v.LOOPN);
    case 12:
        return v.TIME;
    case 13:
        return number(v.XBIN);
    case 14:
        return number(v.XHI);
    case 15:
        return number(v.XLO);
    case 16:
        return number(v.YBIN);
    case 17:
        return number(v.YHI);
    case 18:
        return number(v.YLO);
    default:
        return {};
    }
}

// ---------------------------------------------------------------------------------------------
// WAIT

bool ScriptWaitTarget(std::string_view day, std::string_view time, std::time_t now, std::time_t &target)
{
    std::tm local{};
    if (!localtime_r(&now, &local))
        return false;
    std::tm moment = local;
    if (day == "TOMORROW") {
        moment.tm_mday += 1;
    } else if (day != "TODAY") {
        if (!IsValidScriptDate(day))
            return false;
        int month = 0, dayOfMonth = 0, year = 0;
        TwoDigits(day, 0, month);
        TwoDigits(day, 3, dayOfMonth);
        TwoDigits(day, 6, year);
        moment.tm_year = 100 + year; // two-digit years are this century's
        moment.tm_mon = month - 1;
        moment.tm_mday = dayOfMonth;
    }
    if (time != "NOW") {
        if (!IsValidScriptTime(time))
            return false;
        TwoDigits(time, 0, moment.tm_hour);
        TwoDigits(time, 3, moment.tm_min);
        TwoDigits(time, 6, moment.tm_sec);
    }
    moment.tm_isdst = -1;
    target = std::mktime(&moment);
    return target != static_cast<std::time_t>(-1);
}

std::string ScriptMomentText(std::time_t moment)
{
    std::tm local{};
    if (!localtime_r(&moment, &local))
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}
