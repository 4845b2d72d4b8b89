// The clock test, the focus-mode notice, the testing output window and the about box.
#include "camera_test_support.h"

#include "about_window.h"
#include "clock_test.h"
#include "focus_enable_window.h"
#include "program_windows.h"
#include "testing_window.h"

#include <QAction>
#include <QCheckBox>
#include <QTextBrowser>

#include <fftw3.h>
#include <png.h>

using namespace korvi::test;
namespace sim = korvi::sim;

namespace
{

class ClockAndNoticeWindowsTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        CreateProgramWindows(window.get());
        sim::ClearCallLog();
    }
};

} // namespace

TEST_F(ClockAndNoticeWindowsTest, ClockTestRunsOneClockAtATime)
{
    ASSERT_NE(TestClockF, nullptr);
    struct Case {
        QPushButton *button;
        const char *caption;
        Bytes start;
        int camera, clock;
    } cases[] = {
        {TestClockF->MainHBtn, "Test main camera horizontal clocks", MakeBytes({0x0C, 0x00}), 0, 1},
        {TestClockF->MainVBtn, "Test main camera vertical clocks", MakeBytes({0x0B, 0x00}), 0, 0},
        {TestClockF->GuiderHBtn, "Test guider camera horizontal clocks", MakeBytes({0x0C, 0x01}), 1, 1},
        {TestClockF->GuiderVBtn, "Test guider camera vertical clocks", MakeBytes({0x0B, 0x01}), 1, 0},
    };
    const std::array<QPushButton *, 4> all = {TestClockF->MainHBtn, TestClockF->MainVBtn,
                                              TestClockF->GuiderHBtn, TestClockF->GuiderVBtn};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.caption);
        sim::ClearCallLog();
        EXPECT_EQ(c.button->text(), c.caption);
        c.button->click();
        EXPECT_TRUE(TestClockF->TestRunning);
        EXPECT_EQ(c.button->text(), "Stop test");
        for (QPushButton *b : all)
            EXPECT_EQ(b->isEnabled(), b == c.button);
        EXPECT_EQ(sim::GetSnapshot().clockTestCamera, c.camera);
        EXPECT_EQ(sim::GetSnapshot().clockTestClock, c.clock);
        c.button->click();
        EXPECT_FALSE(TestClockF->TestRunning);
        EXPECT_EQ(c.button->text(), c.caption);
        for (QPushButton *b : all)
            EXPECT_TRUE(b->isEnabled());
        EXPECT_EQ(sim::GetSnapshot().clockTestCamera, -1);
        EXPECT_EQ(Written(), (std::vector<Bytes>{c.start, MakeBytes({0x00, 0x00})}));
    }
}

TEST_F(ClockAndNoticeWindowsTest, FocusNoticeLeavesFocusMode)
{
    window->FocusModeEnable->click();
    ASSERT_TRUE(CurrentSettings().FocusMode);
    ASSERT_TRUE(WaitUntil([] { return FocusEnableF->isVisible(); }));
    EXPECT_EQ(FocusEnableF->windowTitle(), "Focus mode enabled!");
    EXPECT_EQ(FocusEnableF->ExitBtn->text(), "Click to exit focus mode!");
    window->RepaintRequest = false;
    FocusEnableF->ExitBtn->click();
    EXPECT_FALSE(CurrentSettings().FocusMode);
    EXPECT_FALSE(window->FocusModeEnable->isChecked());
    EXPECT_FALSE(FocusEnableF->isVisible());
    EXPECT_TRUE(window->RepaintRequest);
}

TEST_F(ClockAndNoticeWindowsTest, AboutBoxNamesTheLoadedLibraryVersions)
{
    QAction *about = window->findChild<QAction *>(QStringLiteral("ShowTAboutF"));
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isEnabled());
    about->trigger();
    ASSERT_TRUE(WaitUntil([] { return AboutF->isVisible(); }));
    EXPECT_EQ(AboutF->windowTitle(), "About Korvi Astronomical Image Capture");
    const QString text = AboutF->AboutText->toPlainText();
    for (const QString &part : {QStringLiteral("Qt ") + QString::fromLatin1(qVersion()),
                                QStringLiteral("libpng ") + QString::fromLatin1(png_get_libpng_ver(nullptr)),
                                QString::fromLatin1(fftw_version), QStringLiteral("CFITSIO "),
                                QStringLiteral("TNT "), QStringLiteral("libftdi1 1.")})
        EXPECT_TRUE(text.contains(part)) << part.toStdString() << " in " << text.toStdString();
    AboutF->OKBtn->click();
    EXPECT_FALSE(AboutF->isVisible());
}

TEST_F(ClockAndNoticeWindowsTest, TestingWindowSetsItsFlagOnceAfterTwoSeconds)
{
    ASSERT_NE(TestF, nullptr);
    EXPECT_EQ(TestF->windowTitle(), "Testing output form");
    EXPECT_FALSE(TestF->Done);
    EXPECT_TRUE(TestF->Timer1->isActive());
    EXPECT_EQ(TestF->Timer1->interval(), 2000);
    EXPECT_TRUE(WaitUntil([] { return TestF->Done; }, 4000));
    EXPECT_FALSE(TestF->Timer1->isActive());
}

TEST_F(ClockAndNoticeWindowsTest, WindowsAreCreatedInOrderAndTheirMenuItemsEnabled)
{
    for (const char *name : {"TTestClockF", "TXferConstF", "TTelescopeCtrlF", "TSubFrameF", "TTestF",
                             "TFocusEnableF", "TAboutF"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(window->ProgramWindow(name), nullptr);
        if (QAction *show = window->findChild<QAction *>(QStringLiteral("Show") + QString::fromLatin1(name)))
            EXPECT_TRUE(show->isEnabled());
    }
}
