// main() of the GUI tests: one QApplication for the whole test program, made in a fixed
// environment (C locale, UTC, no high-DPI scaling, Mesa's software OpenGL) so that pixels and
// texts are the same on every machine.
#include <clocale>
#include <cstdlib>
#include <ctime>

#include <QApplication>
#include <QLocale>
#include <QSurfaceFormat>

#include <gtest/gtest.h>

#include "gui_test_support.h"

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (done at build time, without an X server) needs no application.
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    korvi::test::PrepareGuiEnvironment();
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_ALL, "C"); // QApplication takes the system locale; put C back for numbers
    return RUN_ALL_TESTS();
}
