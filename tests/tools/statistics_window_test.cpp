// The statistics window driven through its controls: the region buttons, the results, the
// histogram picture, the cursor read-out and the statistics file.
#include "tools_test_support.h"

#include "settings.h"
#include "statistics_window.h"
#include "test_files.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>

using namespace korvi::test;

namespace
{

constexpr QRgb Silver = 0xffc0c0c0;
constexpr QRgb Black = 0xff000000;

class StatisticsWindowTest : public ToolsWindowTest
{
protected:
    // 4 x 2: columns 0-1 hold 100, columns 2-3 hold 300.
    TChild *OpenTwoLevels()
    {
        TChild *window = OpenImage(4, 2, [](int x, int) { return x < 2 ? 100 : 300; });
        window->Image().XLo = 500; // a sub-frame of the sensor
        window->Image().XHi = 504;
        return window;
    }
    void ShowStats()
    {
        main->StatsFormShow->trigger();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(StatsForm));
    }
};

TEST_F(StatisticsWindowTest, ShowsTheWholeImageInItsOwnPixels)
{
    ASSERT_NE(StatsForm, nullptr);
    OpenTwoLevels();
    ShowStats();
    EXPECT_EQ(StatsForm->windowTitle(), "Image statistics");
    EXPECT_EQ(StatsForm->XLo->value(), 1);
    EXPECT_EQ(StatsForm->XHi->value(), 5);
    EXPECT_EQ(StatsForm->YLo->value(), 1);
    EXPECT_EQ(StatsForm->YHi->value(), 3);
    EXPECT_EQ(StatsForm->AverageLabel->text(), "Average value: 200.0");
    EXPECT_EQ(StatsForm->MaximumLabel->text(), "Maximum value: 300");
    EXPECT_EQ(StatsForm->MinimumLabel->text(), "Minimum value: 100");
    EXPECT_EQ(StatsForm->MedianLabel->text(), "Median value: 100");
    EXPECT_EQ(StatsForm->MaximalLabel->text(), "Maximal value: 100");
    EXPECT_EQ(StatsForm->DeviationLabel->text(), "Standard deviation: 106.9"); // sqrt(80000 / 7)
    EXPECT_EQ(StatsForm->HistMin->value(), 100);
    EXPECT_EQ(StatsForm->HistMax->value(), 300);
    EXPECT_EQ(StatsForm->ScrollBar->value(), 100);
}

TEST_F(StatisticsWindowTest, HistogramBarsScaleWithTheScrollBar)
{
    OpenTwoLevels();
    ShowStats();
    // 201 values on 400 columns: bars 2 pixels wide; value 100 (4 pixels) is
    // trunc(4 * 200 / (5 * 1.1)) = 145 high at scroll position 100.
    const QImage &picture = StatsForm->Picture();
    EXPECT_EQ(picture.pixel(1, 199), Black);
    EXPECT_EQ(picture.pixel(1, 200 - 145), Black);
    EXPECT_EQ(picture.pixel(1, 200 - 146), Silver);
    EXPECT_EQ(picture.pixel(2, 199), Silver); // the empty values between
    StatsForm->ScrollBar->setValue(100 - 1);  // twice the scale: the bar fills the height
    EXPECT_EQ(StatsForm->Picture().pixel(1, 0), Black);

    StatsForm->HistMin->setValue(100);
    StatsForm->HistMax->setValue(100);
    QTest::mouseClick(StatsForm->RedrawBtn, Qt::LeftButton);
    EXPECT_EQ(CountPixels(StatsForm->Picture(), Silver), 400 * 200); // one value: background only
}

TEST_F(StatisticsWindowTest, CursorReadsTheCountUnderTheMouse)
{
    OpenTwoLevels();
    ShowStats();
    MoveMouse(StatsForm->Image, QPoint(399, 10));
    ASSERT_TRUE(WaitFor([] { return StatsForm->CursorPos->value() == 299; }));
    MoveMouse(StatsForm->Image, QPoint(0, 10));
    ASSERT_TRUE(WaitFor([] { return StatsForm->CursorPos->value() == 100; }));
    EXPECT_EQ(StatsForm->StatusPanel->text(), "Pixel value: 100, Number of instances: 4");
}

TEST_F(StatisticsWindowTest, SelectionButtonExaminesTheSelectedPixels)
{
    TChild *window = OpenTwoLevels();
    ShowStats();
    ImageData &image = window->Image();
    image.SelX0 = 1;
    image.SelX1 = 2;
    image.SelY0 = 1;
    image.SelY1 = 1;
    QTest::mouseClick(StatsForm->SelectionBtn, Qt::LeftButton);
    EXPECT_EQ(StatsForm->XLo->value(), 2);
    EXPECT_EQ(StatsForm->XHi->value(), 4);
    EXPECT_EQ(StatsForm->AverageLabel->text(), "Average value: 200.0");
    EXPECT_EQ(StatsForm->Histogram()[100], 1u);
    EXPECT_EQ(StatsForm->Histogram()[300], 1u);

    // The image window closes: the statistics window keeps its results and reads no stale image.
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(WaitFor([] { return StatsForm->SourceImage() == nullptr; }));
    QTest::mouseClick(StatsForm->FullImageBtn, Qt::LeftButton);
    EXPECT_EQ(StatsForm->Results().Maximum, 300);
}

TEST_F(StatisticsWindowTest, SaveWritesTheStatisticsFile)
{
    OpenTwoLevels();
    ShowStats();
    CurrentSettings().LastOpenDirectory[0] = folder.Dir();
    {
        ModalScript script;
        script.ChooseFiles({QString::fromStdString(folder.File("night"))});
        QTest::mouseClick(StatsForm->SaveBtn, Qt::LeftButton);
        ASSERT_TRUE(script.Done());
        ASSERT_EQ(script.dialogTitles.size(), 1u);
        EXPECT_EQ(script.dialogTitles[0], "Save histogram ");
    }
    EXPECT_EQ(ReadFileBytes(folder.File("night.csv")), "IMAGE STATISTICS \n"
                                                       "Average intensity, 200.0\n"
                                                       "Maximum intensity, 300\n"
                                                       "Minimum intensity, 100\n"
                                                       "Median intensity, 100\n"
                                                       "Maximal intensity, 100\n"
                                                       "Standard deviation, 106.9\n"
                                                       "\n"
                                                       "SAMPLED IMAGE AREA \n"
                                                       "X_LO, 1\n"
                                                       "X_HI, 5\n"
                                                       "Y_LO, 1\n"
                                                       "Y_HI, 3\n"
                                                       "\n"
                                                       "HISTOGRAM DATA \n"
                                                       "Intensity, Occurence \n"
                                                       "100, 4\n"
                                                       "300, 4\n");
    {
        ModalScript script;
        script.CancelDialog();
        QTest::mouseClick(StatsForm->SaveBtn, Qt::LeftButton);
        EXPECT_TRUE(script.Done());
    }
}

} // namespace

int main(int argc, char **argv)
{
    return RunQtTests(argc, argv);
}
