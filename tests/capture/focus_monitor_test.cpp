// The focus monitor: measuring loaded star images through its menu command, the zoom, the graph
// and the history; and following the simulated camera's star through a focus-mode run while the
// focuser moves. The process time runs a hundred times faster.
#include "capture_test_support.h"

#include "focus_monitor.h"
#include "image_window.h"
#include "main_window.h"
#include "program_windows.h"
#include "settings.h"
#include "simulator/sim_control.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include <cmath>
#include <memory>

using namespace korvi::test;
namespace sim = korvi::sim;

namespace
{

// Full width at half maximum of a gaussian of this sigma.
double Fwhm(double sigma)
{
    return 2.0 * std::sqrt(2.0 * std::log(2.0)) * sigma;
}

// A star of peak about `peak` and gaussian sigma at (cx, cy) over a background of 200.
int StarPixel(int x, int y, double cx, double cy, double sigma, double peak)
{
    const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
    return static_cast<int>(std::lround(200.0 + peak * std::exp(-r2 / (2 * sigma * sigma))));
}

bool IsColour(QRgb pixel, QRgb colour)
{
    return (pixel & 0xFFFFFF) == (colour & 0xFFFFFF);
}

// Columns of the picture that hold at least one pixel of the colour.
std::vector<int> ColumnsWith(const QImage &image, QRgb colour)
{
    std::vector<int> columns;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (IsColour(image.pixel(x, y), colour)) {
                columns.push_back(x);
                break;
            }
    return columns;
}

class FocusMonitorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        main = std::make_unique<TMainF>(folder.Dir(), QStringList());
        CreateProgramWindows(main.get());
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
        ASSERT_NE(FocusMonitorF, nullptr);
        focusItem = main->findChild<QAction *>(QStringLiteral("ShowTFocusMonitorF"));
        ASSERT_NE(focusItem, nullptr);
    }
    void TearDown() override
    {
        main->ClosingDone = true;
        main.reset();
    }
    void Load(const char *name, int w, int h, const std::function<int(int, int)> &value)
    {
        WriteTestImage(folder.File(name), w, h, value);
        ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(folder.File(name))}), 1);
    }
    QStringList Lines() const
    {
        return FocusMonitorF->FocusList->toPlainText().split('\n', Qt::SkipEmptyParts);
    }

    ProgramFolder folder;
    ModalScript boxes; // no box may open
    std::unique_ptr<TMainF> main;
    QAction *focusItem = nullptr;
};

TEST_F(FocusMonitorTest, MeasuresTheStarDrawsItsZoomAndGraphsTheHistory)
{
    EXPECT_TRUE(focusItem->isEnabled());
    focusItem->trigger(); // no image window: shown, nothing measured
    EXPECT_TRUE(FocusMonitorF->isVisible());
    EXPECT_EQ(FocusMonitorF->windowTitle(), "Focus monitor");
    EXPECT_TRUE(Lines().isEmpty());

    Load("star.kvr", 90, 70, [](int x, int y) { return StarPixel(x, y, 40.0, 30.0, 2.0, 20000.0); });
    focusItem->trigger();
    ASSERT_EQ(Lines().size(), 1);
    ASSERT_EQ(FocusMonitorF->Widths().size(), 1u);
    const auto [wx, wy] = FocusMonitorF->Widths()[0];
    EXPECT_NEAR(wx, Fwhm(2.0), 0.1);
    EXPECT_NEAR(wy, Fwhm(2.0), 0.1);
    EXPECT_EQ(Lines()[0], QStringLiteral("x:%1 y:%2").arg(wx, 0, 'f', 2).arg(wy, 0, 'f', 2));
    // The zoom: the star's pixel (cell 20, 20) at full white, the darkest cells black; no graph yet.
    const QImage &zoom = FocusMonitorF->StarPicture();
    EXPECT_TRUE(IsColour(zoom.pixel(102, 102), qRgb(255, 255, 255)));
    EXPECT_TRUE(IsColour(zoom.pixel(2, 2), qRgb(0, 0, 0)));
    EXPECT_TRUE(ColumnsWith(FocusMonitorF->GraphPicture(), qRgb(255, 255, 0)).empty());

    // A wider star: the second measurement draws two samples per axis, the wider one at the top.
    Load("wide.kvr", 90, 70, [](int x, int y) { return StarPixel(x, y, 50.0, 35.0, 3.0, 20000.0); });
    main->FirstImageWindow()->Image().SelectionShown = true; // measured within the selection
    main->FirstImageWindow()->Image().SelX0 = 30;
    main->FirstImageWindow()->Image().SelY0 = 20;
    main->FirstImageWindow()->Image().SelX1 = 70;
    main->FirstImageWindow()->Image().SelY1 = 50;
    auto *popupItem = main->FirstImageWindow()->findChild<QAction *>(QStringLiteral("ShowFocusData"));
    ASSERT_NE(popupItem, nullptr);
    popupItem->trigger(); // "Show focus data" of the image window's pop-up menu
    ASSERT_EQ(FocusMonitorF->Widths().size(), 2u);
    EXPECT_NEAR(FocusMonitorF->Widths()[1].first, Fwhm(3.0), 0.15);
    const QImage &graph = FocusMonitorF->GraphPicture();
    const std::vector<int> circles = ColumnsWith(graph, qRgb(255, 255, 0));
    const std::vector<int> squares = ColumnsWith(graph, qRgb(255, 0, 0));
    ASSERT_FALSE(circles.empty());
    ASSERT_FALSE(squares.empty());
    const double step = (299 - 50) * 1.9 / 4; // sample k at x = 50 + step k
    EXPECT_LE(circles.front(), 50 - 2);
    EXPECT_GE(circles.back(), static_cast<int>(50 + step) + 2);
    // The second (widest) x sample sits at the top of the plot: y = 0 at the maximum.
    bool topCircle = false;
    for (int x = static_cast<int>(50 + step) - 3; x <= static_cast<int>(50 + step) + 3; ++x)
        for (int y = 0; y <= 3; ++y)
            topCircle |= IsColour(graph.pixel(x, y), qRgb(255, 255, 0));
    EXPECT_TRUE(topCircle);

    // Clearing empties the history; the graph keeps its drawing until the next measurement.
    const QImage before = graph.copy();
    QTest::mouseClick(FocusMonitorF->ClearBtn, Qt::LeftButton);
    EXPECT_TRUE(Lines().isEmpty());
    EXPECT_TRUE(FocusMonitorF->Widths().empty());
    EXPECT_EQ(FocusMonitorF->GraphPicture(), before);
    EXPECT_EQ(boxes.unexpected, 0);
}

TEST_F(FocusMonitorTest, FlatImagesAndStarsAtTheEdgeAreDrawnWithoutFault)
{
    Load("flat.kvr", 60, 50, [](int, int) { return 500; }); // one value: no range to stretch
    focusItem->trigger();
    ASSERT_EQ(FocusMonitorF->Widths().size(), 1u);
    EXPECT_TRUE(std::isfinite(FocusMonitorF->Widths()[0].first));
    EXPECT_TRUE(std::isfinite(FocusMonitorF->Widths()[0].second));
    const QImage &zoom = FocusMonitorF->StarPicture();
    for (int y = 0; y < 200; y += 5)
        for (int x = 0; x < 200; x += 5)
            ASSERT_TRUE(IsColour(zoom.pixel(x, y), qRgb(0, 0, 0))) << x << ", " << y;

    // A star in the corner: the cells beyond the image are 0, drawn black; the star is white.
    Load("corner.kvr", 60, 50, [](int x, int y) { return StarPixel(x, y, 2.0, 3.0, 1.5, 20000.0); });
    focusItem->trigger();
    EXPECT_TRUE(IsColour(FocusMonitorF->StarPicture().pixel(5 * 20 + 2, 5 * 20 + 2), qRgb(255, 255, 255)));
    EXPECT_TRUE(IsColour(FocusMonitorF->StarPicture().pixel(2, 2), qRgb(0, 0, 0)));
}

// A focus-mode run: every frame goes to the focus monitor, which follows the star's width as the
// focuser moves.
TEST_F(FocusMonitorTest, FollowsTheSimulatedStarThroughAFocusModeRun)
{
    sim::Config config;
    config.imaging.columns = 160;
    config.imaging.rows = 120;
    config.imaging.gain = 4000.0; // the field's bright star well below saturation however long the frame
    config.imaging.hotPixels = 0;
    config.imaging.psfSigma = 1.4;
    config.stars = 0;
    sim::Reset(config);

    Settings &s = CurrentSettings();
    s.NCOL[0] = 160;
    s.NROW[0] = 120;
    s.XLO[0] = 0;
    s.XHI[0] = 159;
    s.YLO[0] = 0;
    s.YHI[0] = 119;
    s.XBIN[0] = s.YBIN[0] = 1;
    s.NImage[0] = 1;
    s.NClear[0] = 0;
    s.IntTime[0] = 0.2f;
    s.Delay[0] = 0.0f;
    s.EnableShutter = true;
    s.SaveRawImage = false;
    s.SaveProcessed[0] = false;
    s.DisplayImage = true;
    s.NewFrameOnCapture = false;
    s.FocusMode = true;
    s.ICAutoSet = true;
    main->ApplySettingsToControls();

    main->AcquireCont->trigger();
    ASSERT_TRUE(WaitFor([] { return FocusMonitorF->Widths().size() >= 2; }, 30000));
    EXPECT_TRUE(FocusMonitorF->isVisible());
    sim::SetStarWidth(0, 2.6); // the focuser moves
    const std::size_t moved = FocusMonitorF->Widths().size();
    ASSERT_TRUE(WaitFor([moved] { return FocusMonitorF->Widths().size() >= moved + 3; }, 30000));
    main->Stop->trigger();
    ASSERT_TRUE(WaitFor([this] { return !main->Acquiring && !main->AcquisitionThreadRunning(); }, 20000));

    const auto widths = FocusMonitorF->Widths();
    ASSERT_EQ(Lines().size(), static_cast<qsizetype>(widths.size()));
    for (std::size_t k = 0; k < 2; ++k) { // before the move
        EXPECT_NEAR(widths[k].first, Fwhm(1.4), 0.25) << k;
        EXPECT_NEAR(widths[k].second, Fwhm(1.4), 0.25) << k;
    }
    for (std::size_t k = widths.size() - 2; k < widths.size(); ++k) { // well after it
        EXPECT_NEAR(widths[k].first, Fwhm(2.6), 0.3) << k;
        EXPECT_NEAR(widths[k].second, Fwhm(2.6), 0.3) << k;
    }
    EXPECT_FALSE(ColumnsWith(FocusMonitorF->GraphPicture(), qRgb(255, 255, 0)).empty());
    EXPECT_EQ(boxes.unexpected, 0);
}

} // namespace

int main(int argc, char **argv)
{
    return korvi::test::RunQtTests(argc, argv);
}
