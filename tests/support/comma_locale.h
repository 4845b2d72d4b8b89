#pragma once
// Switches the C library's numeric locale to one with a decimal comma, to show that file texts do
// not depend on it: an installed locale, or one compiled from the system's locale sources into a
// test folder. Restores the "C" numeric locale on destruction.
#include "test_files.h"

#include <clocale>
#include <cstdlib>
#include <string>

namespace korvi::test
{

class CommaCLocale
{
public:
    CommaCLocale()
    {
        for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
            if (std::setlocale(LC_NUMERIC, name)) {
                name_ = name;
                return;
            }
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + dir_.file("de_DE.UTF-8") + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            return;
        setenv("LOCPATH", dir_.path().c_str(), 1);
        if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
            name_ = "de_DE.UTF-8";
        unsetenv("LOCPATH");
    }
    ~CommaCLocale() { std::setlocale(LC_NUMERIC, "C"); }
    CommaCLocale(const CommaCLocale &) = delete;
    CommaCLocale &operator=(const CommaCLocale &) = delete;

    // False when no such locale could be made (the caller skips).
    bool Active() const { return !name_.empty(); }

private:
    TempDir dir_;
    std::string name_;
};

} // namespace korvi::test
