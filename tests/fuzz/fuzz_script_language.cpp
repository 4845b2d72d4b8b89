// Fuzz target: the script checker and the expression evaluator. The input is a script: every line
// is checked, its arguments are evaluated, and the whole input is evaluated as one expression. None
// of it may crash, overrun or hang, and a value that is given is a finite number.
#include "script_language.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace
{

void Expect(bool condition)
{
    if (!condition)
        std::abort();
}

void Evaluate(std::string_view text, const ScriptVariables &variables)
{
    const ScriptValue value = EvaluateScriptValue(text, variables);
    Expect(!value.ok || std::isfinite(value.value));
    Expect(value.ok || !value.error.empty());
    CheckScriptValue(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    const ScriptCheck check = CheckScript(lines);
    Expect(check.ok == check.message.empty());
    Expect(check.ok || (check.line >= 1 && static_cast<std::size_t>(check.line) <= lines.size()));

    ScriptVariables variables;
    variables.DATA1 = 3.5f;
    variables.XBIN = 2;
    for (const std::string &line : lines) {
        const ScriptLine parts = SplitScriptLine(line);
        Evaluate(parts.arg1, variables);
        Evaluate(parts.arg2, variables);
        IsValidScriptDate(parts.arg1);
        IsValidScriptTime(parts.arg2);
    }
    Evaluate("SOLVE(" + text + ")", variables);
    return 0;
}
