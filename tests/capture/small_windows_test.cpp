// The sensor selection and progress windows, driven through their controls.
#include "capture_test_support.h"

#include "gui_runtime.h"
#include "main_window.h"
#include "program_windows.h"
#include "progress_window.h"
#include "sensor_window.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTest>

#include <memory>

using namespace korvi::test;

namespace
{

bool IsCentredOnItsScreen(const QWidget *window)
{
    const QPoint offset = window->geometry().center() - window->screen()->availableGeometry().center();
    return offset.manhattanLength() <= 2;
}

class SmallWindowsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        main = std::make_unique<TMainF>(folder.Dir(), QStringList());
        CreateProgramWindows(main.get());
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
        ASSERT_NE(CCDSetF, nullptr);
        ASSERT_NE(ProgressF, nullptr);
    }
    void TearDown() override
    {
        main->ClosingDone = true;
        main.reset();
    }
    void ShowSensorWindow(int type, int columns, int rows)
    {
        Settings &s = CurrentSettings();
        s.CCDType = type;
        s.NCOL[0] = columns;
        s.NROW[0] = rows;
        CCDSetF->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(CCDSetF));
    }

    ProgramFolder folder;
    std::unique_ptr<TMainF> main;
};

TEST_F(SmallWindowsTest, SensorWindowShowsTheSettings)
{
    ShowSensorWindow(1, 1565, 1032);
    EXPECT_EQ(CCDSetF->windowTitle(), "Select main camera CCD");
    EXPECT_EQ(CCDSetF->CCDType->currentIndex(), 1);
    EXPECT_EQ(CCDSetF->CCDType->currentText(), "KAF-1602e/le");
    EXPECT_EQ(CCDSetF->NCOL->value(), 1565);
    EXPECT_EQ(CCDSetF->NROW->value(), 1032);
    EXPECT_EQ(CCDSetF->NCOL->maximum(), 10000);
    EXPECT_EQ(CCDSetF->NROW->minimum(), 1);
}

TEST_F(SmallWindowsTest, ChoosingASensorPresetsItsSizeAndOtherKeepsTheCounts)
{
    ShowSensorWindow(2, 1200, 900);
    emit CCDSetF->CCDType->activated(0);
    EXPECT_EQ(CCDSetF->NCOL->value(), 797);
    EXPECT_EQ(CCDSetF->NROW->value(), 520);
    emit CCDSetF->CCDType->activated(1);
    EXPECT_EQ(CCDSetF->NCOL->value(), 1565);
    EXPECT_EQ(CCDSetF->NROW->value(), 1032);
    CCDSetF->NCOL->setValue(2048);
    CCDSetF->CCDType->setCurrentIndex(2);
    emit CCDSetF->CCDType->activated(2);
    EXPECT_EQ(CCDSetF->NCOL->value(), 2048);
    EXPECT_EQ(CCDSetF->NROW->value(), 1032);
}

TEST_F(SmallWindowsTest, OkStoresTheSensorAndMakesTheCaptureAreaTheWholeSensor)
{
    ShowSensorWindow(0, 797, 520);
    CurrentSettings().XLO[0] = 17;
    CurrentSettings().YHI[0] = 100;
    CurrentSettings().MaximumWindows = 7; // not a menu choice: the controls show 10
    CCDSetF->CCDType->setCurrentIndex(2);
    emit CCDSetF->CCDType->activated(2);
    CCDSetF->NCOL->setValue(3000);
    CCDSetF->NROW->setValue(2000);
    main->RepaintRequest = false;
    QTest::mouseClick(CCDSetF->OKBtn, Qt::LeftButton);
    const Settings &s = CurrentSettings();
    EXPECT_EQ(s.CCDType, 2);
    EXPECT_EQ(s.NCOL[0], 3000);
    EXPECT_EQ(s.NROW[0], 2000);
    // The whole sensor, up to its last column and row (Continuous takes these as they stand).
    EXPECT_EQ(s.XLO[0], 0);
    EXPECT_EQ(s.XHI[0], 2999);
    EXPECT_EQ(s.YLO[0], 0);
    EXPECT_EQ(s.YHI[0], 1999);
    EXPECT_FALSE(CCDSetF->isVisible());
    EXPECT_TRUE(main->RepaintRequest);
    // The main window's controls were refreshed from the settings.
    EXPECT_TRUE(main->MaximumFilesItems[5]->isChecked());
    EXPECT_EQ(s.MaximumWindows, 10);
}

TEST_F(SmallWindowsTest, CloseChangesNoSetting)
{
    ShowSensorWindow(0, 797, 520);
    const Settings before = CurrentSettings();
    emit CCDSetF->CCDType->activated(1);
    CCDSetF->NROW->setValue(99);
    main->RepaintRequest = false;
    QTest::mouseClick(CCDSetF->CloseBtn, Qt::LeftButton);
    EXPECT_FALSE(CCDSetF->isVisible());
    EXPECT_TRUE(main->RepaintRequest);
    const Settings &after = CurrentSettings();
    EXPECT_EQ(after.CCDType, before.CCDType);
    EXPECT_EQ(after.NCOL[0], before.NCOL[0]);
    EXPECT_EQ(after.NROW[0], before.NROW[0]);
    EXPECT_EQ(after.XHI[0], before.XHI[0]);
    EXPECT_EQ(after.YHI[0], before.YHI[0]);
}

TEST_F(SmallWindowsTest, ProgressFollowsTheCoresProgressCalls)
{
    EXPECT_EQ(ProgressF->windowTitle(), "Korvi operation progress");
    EXPECT_TRUE(ProgressF->windowFlags() & Qt::WindowStaysOnTopHint);
    Ui().ProgressStart("Applying convolution...");
    EXPECT_TRUE(ProgressF->isVisible());
    EXPECT_EQ(ProgressF->windowTitle(), "Applying convolution...");
    EXPECT_EQ(ProgressF->ProgressBar->minimum(), 0);
    EXPECT_EQ(ProgressF->ProgressBar->maximum(), 100);
    EXPECT_EQ(ProgressF->ProgressBar->value(), 0);
    Ui().ProgressStep(37);
    EXPECT_EQ(ProgressF->ProgressBar->value(), 37);
    main->RepaintRequest = false;
    Ui().ProgressEnd();
    EXPECT_FALSE(ProgressF->isVisible());
    EXPECT_TRUE(main->RepaintRequest);
}

TEST_F(SmallWindowsTest, ProgressWindowShownByACallerStartsAtZeroToHundredCentred)
{
    ProgressF->ProgressBar->setRange(0, 7); // left by an earlier use
    ProgressF->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ProgressF));
    EXPECT_EQ(ProgressF->ProgressBar->minimum(), 0);
    EXPECT_EQ(ProgressF->ProgressBar->maximum(), 100);
    EXPECT_TRUE(IsCentredOnItsScreen(ProgressF));
    main->RepaintRequest = false;
    ProgressF->close();
    EXPECT_TRUE(main->RepaintRequest);
}

TEST_F(SmallWindowsTest, SensorWindowIsCentred)
{
    ShowSensorWindow(0, 797, 520);
    EXPECT_TRUE(IsCentredOnItsScreen(CCDSetF));
}

} // namespace

int main(int argc, char **argv)
{
    return korvi::test::RunQtTests(argc, argv);
}
