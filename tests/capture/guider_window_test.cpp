// The guider window driven through its widgets against the simulated camera (time running twenty
// times faster): runs in every mode, the pages' settings through the settings file, the view's
// pixels against the colour maps worked out here, selection and zoom limits, the guider image's
// files, the LCD switch and key slewing on the wire, the palette editor and header window on the
// guider image, and a screenshot with a guider frame.
#include "camera_test_support.h"
#include "edit_target.h"
#include "guiding/guider_window.h"
#include "guiding/track_window.h"
#include "image_information.h"
#include "image_render.h"
#include "levels.h"
#include "main_window.h"
#include "opengl_panel.h"
#include "palette_editor.h"
#include "processing/sky_model.h"
#include "program_windows.h"
#include "statistics_window.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollArea>
#include <QSet>
#include <QSlider>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>

#include <cmath>
#include <fstream>

using namespace korvi::test;
namespace fs = std::filesystem;
namespace sim = korvi::sim;

namespace
{

constexpr int G = GuidingCamera;

// A pointer move over the widget, delivered to it directly (no real pointer is needed).
void MoveTo(QWidget *widget, QPoint p)
{
    QMouseEvent move(QEvent::MouseMove, p, widget->mapToGlobal(p), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

class GuiderWindowTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        CreateProgramWindows(window.get());
        ASSERT_NE(GuiderF, nullptr);
        ASSERT_EQ(window->ProgramWindow("TGuiderF"), GuiderF);
        g = GuiderF;
        Settings &s = CurrentSettings();
        s.NCOL[G] = 211;
        s.NROW[G] = 165;
        s.XBIN[G] = s.YBIN[G] = 1;
        s.IntTime[G] = 1.0f;
        s.Delay[G] = 0.0f;
        s.NClear[G] = 1;
        s.NImage[G] = 2;
        s.InitExt[G] = 1;
        s.Save211 = false;
        s.DisplayTC = true;
        s.UseKEDRO = false;
        s.InvertEastWest = s.InvertNorthSouth = false;
        s.ManualSlewFlags = {};
        g->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(g));
        sim::ClearCallLog();
    }
    void TearDown() override
    {
        g->StopExecute();
        WaitUntil([&] { return !g->GuideRunning(); }, 20000);
        window->ClosingDone = true;
        MainWindowTest::TearDown();
    }
    bool WaitIdle(int ms = 60000)
    {
        return WaitUntil([&] { return !g->Acquiring && !g->GuideRunning(); }, ms);
    }
    unsigned GuiderReadouts() const { return sim::GetSnapshot().cameras[1].readouts; }
    // Writes a test image (pixel (x, y) = value(x, y)) and opens it in the window.
    void OpenImage(int w, int h, const std::function<int(int, int)> &value)
    {
        ImageData image;
        ASSERT_TRUE(image.Allocate(w, h, 1));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.Rows[y][x] = static_cast<std::uint16_t>(value(x, y));
        image.MaxColumns = w;
        image.MaxRows = h;
        const std::string path = (folder.path() / "guide.kvr").string();
        ASSERT_TRUE(image.SaveToFile(path, FormatNative));
        ModalScript modals;
        modals.ExpectOpenFiles({QString::fromStdString(path)}, QStringLiteral("Open an image file"));
        g->Open->trigger();
        ASSERT_EQ(modals.Pending(), 0);
        ASSERT_FALSE(g->GuiderImage.Empty);
    }

    TGuiderF *g = nullptr;
};

TEST_F(GuiderWindowTest, RunsEveryModeAgainstTheSimulator)
{
    // A counted series: two frames read, shown, and the window idle again.
    g->NImage211->setValue(2);
    g->Save211->setChecked(false);
    g->Acquire->trigger();
    EXPECT_TRUE(g->Acquiring);
    EXPECT_EQ(g->StatusBar[2]->text(), QStringLiteral("0 s"));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(GuiderReadouts(), 2u);
    EXPECT_EQ(g->GuiderImage.Width, 211);
    EXPECT_EQ(g->GuiderImage.Height, 165);
    EXPECT_EQ(g->StatusBar[1]->text(), QStringLiteral("Status: Ready."));

    // Continuous until Stop; the guide button's picture is "noguide" after Stop.
    g->ContAcquire->trigger();
    EXPECT_TRUE(g->Continuous);
    ASSERT_TRUE(WaitUntil([&] { return GuiderReadouts() >= 5u; }, 30000));
    g->Stop->trigger();
    EXPECT_FALSE(g->Continuous);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(g->GuidePicture(), QStringLiteral("noguide.bmp"));

    // The guide button during an acquisition ends it and leaves the mode at 0.
    g->ContAcquire->trigger();
    ASSERT_TRUE(WaitUntil([&] { return GuiderReadouts() >= 6u; }, 30000));
    g->GuideBtn->click();
    EXPECT_EQ(CurrentSettings().GuideMode, 0);
    ASSERT_TRUE(WaitIdle());

    // Calibration: the rates are stored and the mode becomes 1.
    CurrentSettings().GuideRates = {};
    g->MetricBtn->click();
    EXPECT_EQ(CurrentSettings().GuideMode, 2);
    ASSERT_TRUE(WaitIdle(120000));
    EXPECT_EQ(CurrentSettings().GuideMode, 1);
    // The result stays on the status bar and the guide page: the rates and the axis angle.
    EXPECT_TRUE(g->StatusBar[1]->text().startsWith(QStringLiteral("Status: Calibrated. Rates (px/s): east ")))
        << g->StatusBar[1]->text().toStdString();
    EXPECT_TRUE(g->StatusBar[1]->text().contains(QStringLiteral("Axis angle ")));
    EXPECT_EQ(g->GuideStatus->text(), g->StatusBar[1]->text());
    // The calibration frames integrate twice as long as the acquired ones: they are shown with
    // levels of their own, not with the acquired frame's, which would show them white.
    {
        ImageData shown;
        shown.Assign(g->GuiderImage);
        ComputeDisplayLevels(shown);
        EXPECT_FLOAT_EQ(g->GuiderImage.Gain, shown.Gain);
        EXPECT_FLOAT_EQ(g->GuiderImage.DisplayOffset, shown.DisplayOffset);
    }
    EXPECT_GT(
        std::hypot(CurrentSettings().GuideRates[GuideEast].x, CurrentSettings().GuideRates[GuideEast].y),
        0.05);

    // Guiding with those rates: cycles run until the button is pressed again, the mount stops.
    const unsigned before = GuiderReadouts();
    g->GuideBtn->click();
    EXPECT_EQ(g->GuidePicture(), QStringLiteral("guide.bmp"));
    ASSERT_TRUE(WaitUntil([&] { return GuiderReadouts() >= before + 3; }, 60000));
    EXPECT_TRUE(g->Correction->text().startsWith(QStringLiteral("dx:")));
    g->GuideBtn->click();
    EXPECT_EQ(g->GuidePicture(), QStringLiteral("noguide.bmp"));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
    // Both the status bar and the guide page say that guiding has stopped.
    ASSERT_TRUE(WaitUntil([&] { return g->GuideStatus->text() == QStringLiteral("Guiding stopped."); }))
        << g->GuideStatus->text().toStdString();
    EXPECT_EQ(g->StatusBar[1]->text(), QStringLiteral("Status: Guiding stopped."));
}

// A long notice wraps in its own place on the guide page: no button or spin moves or stretches.
TEST_F(GuiderWindowTest, ANoticeDoesNotMoveTheGuidePageControls)
{
    g->PageControl1->setCurrentIndex(0);
    QApplication::processEvents();
    const std::vector<QWidget *> controls = {g->GuideBtn, g->MetricBtn, g->GuideDetent_,
                                             g->GuideMaxExcursion_, g->Correction};
    std::vector<QRect> before;
    for (QWidget *w : controls)
        before.push_back(w->geometry());
    const QString notice = QStringLiteral(
        "Guiding stopped: the star was lost for 12 cycles in a row (the star has 25 % of the guide "
        "star's light). Guiding resumed at 01:02:03 after the star was lost for 3 cycles.");
    g->ShowGuideNotice(notice);
    g->ShowGuideOffset(-123.4f, -56.7f);
    QApplication::processEvents();
    for (std::size_t i = 0; i < controls.size(); ++i)
        EXPECT_EQ(controls[i]->geometry(), before[i]) << controls[i]->objectName().toStdString();
    EXPECT_EQ(g->GuideStatus->text(), notice);
    EXPECT_EQ(g->GuideStatus->toolTip(), notice);
}

// Guide pressed before any calibration, and a calibration in which the mount does not move: a box
// says so, a status that stays says so, and the buttons are idle again.
TEST_F(GuiderWindowTest, FailedRunsSayWhyAndLeaveTheButtonsIdle)
{
    CurrentSettings().GuideRates = {}; // as shipped: never calibrated
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("Guiding did not start: "),
                             QMessageBox::Ok);
        g->GuideBtn->click();
        ASSERT_TRUE(WaitIdle());
        ASSERT_TRUE(WaitUntil([&] { return modals.Pending() == 0; }, 20000));
    }
    QTest::qWait(50);
    EXPECT_EQ(g->GuidePicture(), QStringLiteral("noguide.bmp"));
    EXPECT_EQ(g->StatusBar[1]->text(), QStringLiteral("Status: Not guiding; calibrate first."));
    EXPECT_TRUE(g->GuideStatus->text().contains(QStringLiteral("calibrate first")))
        << g->GuideStatus->text().toStdString();

    sim::Config still;
    still.guideRate = 0.0; // the mount does not answer the slews
    sim::Reset(still);
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"),
                             QStringLiteral("Calibration failed: no measurable motion east"),
                             QMessageBox::Ok);
        g->MetricBtn->click();
        ASSERT_TRUE(WaitIdle(120000));
        ASSERT_TRUE(WaitUntil([&] { return modals.Pending() == 0; }, 20000));
    }
    QTest::qWait(50);
    EXPECT_EQ(
        g->StatusBar[1]->text(),
        QStringLiteral(
            "Status: Calibration failed (no measurable motion east); the previous guide rates were kept."));
    EXPECT_EQ(CurrentSettings().GuideRates[GuideEast].x, 0.0f);
    EXPECT_EQ(g->GuidePicture(), QStringLiteral("noguide.bmp"));
}

// Frames of a guiding run keep what the observer set on the view: the zoom and display levels
// set before the run, a selection dragged and a quick palette chosen during it. A paddle
// direction pressed during guiding is not left lit once guiding has taken over the mount.
TEST_F(GuiderWindowTest, GuideFramesKeepTheViewAndThePaddleIsFreeAfterGuiding)
{
    g->NImage211->setValue(1);
    g->Acquire->trigger();
    ASSERT_TRUE(WaitIdle());
    g->Zoom1->trigger();
    g->ZoomIn->trigger();
    const float zoom = g->GuiderImage.Zoom;
    g->IntScale->setText(QStringLiteral("3.00"));
    g->BiasLevel->setValue(850);
    ASSERT_FLOAT_EQ(g->GuiderImage.Gain, 3.0f);

    sim::Config c;
    const double a = c.mountRotationDegrees * std::acos(-1.0) / 180.0, k = c.guideRate / c.guiding.pixelScale;
    const GuideRate east{static_cast<float>(k * std::cos(a)), static_cast<float>(k * std::sin(a))};
    const GuideRate north{static_cast<float>(-k * std::sin(a)), static_cast<float>(k * std::cos(a))};
    CurrentSettings().GuideRates = {east, GuideRate{-east.x, -east.y}, north, GuideRate{-north.x, -north.y}};
    g->GuideBtn->click();
    ASSERT_TRUE(WaitUntil([&] { return GuiderReadouts() >= 3u; }, 60000));
    // During the run: a selection and a quick palette.
    QTest::mousePress(g->OpenGLPanel1, Qt::LeftButton, {}, QPoint(30, 30));
    MoveTo(g->OpenGLPanel1, QPoint(90, 60));
    QTest::mouseRelease(g->OpenGLPanel1, Qt::LeftButton, {}, QPoint(90, 60));
    const std::array<int, 4> selection{g->GuiderImage.SelX0, g->GuiderImage.SelY0, g->GuiderImage.SelX1,
                                       g->GuiderImage.SelY1};
    ASSERT_TRUE(g->GuiderImage.SelectionShown);
    g->BlackbodyBtn->click();
    PPalette chosen;
    chosen.Assign(g->GuiderImage.Palette);
    ASSERT_FALSE(chosen.SameCurves(PPalette{}));
    // A paddle press while guiding: the guide pulses take the mount over.
    ASSERT_NE(TrackF, nullptr);
    TrackF->show();
    TrackF->ImageMouseDown(57, 10); // the top triangle: north
    const unsigned readouts = GuiderReadouts();
    ASSERT_TRUE(WaitUntil([&] { return GuiderReadouts() >= readouts + 2; }, 60000));

    const ImageData &i = g->GuiderImage;
    EXPECT_FLOAT_EQ(i.Zoom, zoom);
    EXPECT_FLOAT_EQ(i.Gain, 3.0f);
    EXPECT_FLOAT_EQ(i.DisplayOffset, 850.0f);
    EXPECT_EQ(g->IntScale->text(), QStringLiteral("3.00"));
    EXPECT_TRUE(i.SelectionShown);
    EXPECT_EQ((std::array{i.SelX0, i.SelY0, i.SelX1, i.SelY1}), selection);
    EXPECT_TRUE(i.Palette.SameCurves(chosen));

    g->GuideBtn->click();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
    // The next press of north slews north.
    TrackF->ImageMouseDown(57, 10);
    EXPECT_TRUE(CurrentSettings().ManualSlewFlags[GuideNorth]);
    EXPECT_NE(sim::GetSnapshot().slewBits, 0);
    TrackF->ImageMouseDown(57, 10);
    EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
    TrackF->hide();
}

// At the window's default width every tool-bar action has its own button (none hides in the
// overflow menu).
TEST_F(GuiderWindowTest, EveryToolBarActionIsVisibleAtTheDefaultSize)
{
    for (QAction *action : g->ActionToolBar->actions()) {
        QWidget *button = g->ActionToolBar->widgetForAction(action);
        ASSERT_NE(button, nullptr) << action->objectName().toStdString();
        EXPECT_TRUE(button->isVisible()) << action->objectName().toStdString();
    }
}

TEST_F(GuiderWindowTest, SubframeIsCheckedBeforeAFrameIsAcquired)
{
    const struct {
        int xlo, xhi, ylo, yhi, cols, rows, xbin;
        const char *message;
    } cases[] = {
        {0, 210, 0, 164, 0, 165, 1, "Maximum CCD columns must be at least 1."},
        {0, 210, 0, 164, 211, 0, 1, "Maximum CCD rows must be at least 1."},
        {-1, 210, 0, 164, 211, 165, 1, "Lowest column index must not be negative."},
        {50, 40, 0, 164, 211, 165, 1, "Highest column index must not be below the lowest column index."},
        {0, 210, 0, 165, 211, 165, 1, "Highest row index must be inside the sensor (at most 164)."},
        {0, 210, 0, 164, 211, 165, 0, "Column bins must be at least 1."},
    };
    for (const auto &c : cases) {
        g->XLO->setValue(c.xlo);
        g->XHI->setValue(c.xhi);
        g->YLO->setValue(c.ylo);
        g->YHI->setValue(c.yhi);
        g->MAXNCOL->setValue(c.cols);
        g->MAXNROW->setValue(c.rows);
        CurrentSettings().XBIN[G] = c.xbin;
        CurrentSettings().XLO[G] = 7;
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QString::fromLatin1(c.message), QMessageBox::Ok);
        g->Acquire->trigger();
        EXPECT_EQ(modals.Pending(), 0) << c.message;
        EXPECT_FALSE(g->Acquiring) << c.message;
        EXPECT_EQ(CurrentSettings().XLO[G], 7) << c.message; // nothing entered the settings
    }
    // Runs that take the settings as they stand are checked too.
    CurrentSettings().XBIN[G] = 1;
    CurrentSettings().XHI[G] = 300;
    ModalScript modals;
    modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("Highest column index must be inside"),
                         QMessageBox::Ok);
    g->MetricBtn->click();
    EXPECT_EQ(modals.Pending(), 0);
    EXPECT_FALSE(g->Acquiring);
    EXPECT_EQ(GuiderReadouts(), 0u);
}

TEST_F(GuiderWindowTest, PagesRoundTripThroughTheSettingsFile)
{
    g->IntTime211->setText(QStringLiteral("3.25"));
    g->Delay211->setText(QStringLiteral("1.50"));
    g->NImage211->setValue(17);
    g->NClearTC->setValue(4);
    g->ReadoutCoolingDisable->setChecked(false);
    g->DisplayTC->setChecked(false);
    g->SaveFile->setText(QStringLiteral("/data/guide"));
    g->Ext211->setValue(9);
    g->IncrExt211->setChecked(false);
    g->Save211->setChecked(false);
    g->SaveFormat->setCurrentIndex(3);
    g->XLO->setValue(10);
    g->XHI->setValue(100);
    g->YLO->setValue(20);
    g->YHI->setValue(120);
    g->MAXNCOL->setValue(200);
    g->MAXNROW->setValue(150);
    g->CCDTargetTemp->setValue(-12);
    g->GuideDetent_->setValue(8);
    g->GuideMaxExcursion_->setValue(3);
    g->ReadControlsIntoSettings();
    const std::string path = (folder.path() / "guider.ini").string();
    ASSERT_TRUE(CurrentSettings().SaveToFile(path));

    CurrentSettings() = Settings();
    g->IntTime211->clear();
    g->SaveFile->clear();
    g->NImage211->setValue(1);
    g->SaveFormat->setCurrentIndex(0);
    ASSERT_TRUE(CurrentSettings().LoadFromFile(path));
    g->ApplySettingsToControls();
    const Settings &s = CurrentSettings();
    EXPECT_EQ(g->IntTime211->text(), QStringLiteral("3.25"));
    EXPECT_EQ(g->Delay211->text(), QStringLiteral("1.50"));
    EXPECT_EQ(g->NImage211->value(), 17);
    EXPECT_EQ(g->NClearTC->value(), 4);
    EXPECT_FALSE(g->ReadoutCoolingDisable->isChecked());
    EXPECT_FALSE(g->DisplayTC->isChecked());
    EXPECT_EQ(g->SaveFile->text(), QStringLiteral("/data/guide"));
    EXPECT_EQ(g->Ext211->value(), 9);
    EXPECT_FALSE(g->IncrExt211->isChecked());
    EXPECT_FALSE(g->Save211->isChecked());
    EXPECT_EQ(g->SaveFormat->currentIndex(), 3);
    EXPECT_EQ(g->CCDTargetTemp->value(), -12);
    EXPECT_EQ(g->GuideDetent_->value(), 8);
    EXPECT_EQ(g->GuideMaxExcursion_->value(), 3);
    // The sub-frame page is not set from the settings; its values are in the file.
    EXPECT_EQ((std::array{s.XLO[G], s.XHI[G], s.YLO[G], s.YHI[G], s.NCOL[G], s.NROW[G]}),
              (std::array{10, 100, 20, 120, 200, 150}));
    // The display page's values go to the settings as they are edited.
    g->IntTrackBar->setValue(100);
    EXPECT_EQ(g->IntScale->text(), QStringLiteral("1999.86"));
    EXPECT_FLOAT_EQ(CurrentSettings().IntScale[G], 1999.86f);
    g->IntScale->setText(QStringLiteral("0"));
    EXPECT_EQ(g->IntTrackBar->value(), 0);
    g->BiasTrackBar->setValue(100);
    EXPECT_EQ(g->BiasLevel->value(), 65534);
    EXPECT_EQ(CurrentSettings().BiasLevel[G], 65534);
}

TEST_F(GuiderWindowTest, ViewAndMagnifierShowTheColourMapsOfThePixels)
{
    OpenImage(40, 30, [](int x, int y) { return 200 + 97 * x + 1013 * y; });
    g->Zoom1->trigger();
    g->BiasLevel->setValue(500);
    g->IntScale->setText(QStringLiteral("2.5"));
    const ImageData &image = g->GuiderImage;
    EXPECT_FLOAT_EQ(image.Gain, 2.5f);
    EXPECT_FLOAT_EQ(image.DisplayOffset, 500.0f);
    const int builds = g->MapBuilds();
    g->Repaint->trigger();
    EXPECT_EQ(g->MapBuilds(), builds); // same levels and palette: the maps stay

    const QImage picture = GrabPanel(g->OpenGLPanel1);
    ASSERT_EQ(picture.width(), 40);
    ASSERT_EQ(picture.height(), 30);
    const PPalette &p = image.Palette;
    auto byte = [](float v) { return static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0)); };
    int wrong = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const int v = image.Rows[y][x];
            const int level = v < 500 ? 0 : std::min(65535, static_cast<int>((v - 500) * 2.5));
            const QRgb want = qRgb(byte(p.FloatTable[0][level]), byte(p.FloatTable[1][level]),
                                   byte(p.FloatTable[2][level]));
            wrong += !PixelIs(picture, x, 29 - y, want);
        }
    EXPECT_EQ(wrong, 0);

    // The magnifier: 200 / (1 x 10) = 20 columns and rows around the pointer, 0 outside the image.
    MoveTo(g->OpenGLPanel1, QPoint(3, 29 - 2));
    ASSERT_EQ(g->MagnifierCentre, (std::array{3, 2}));
    EXPECT_EQ(g->StatusBar[0]->text(), QStringLiteral("X=3, Y=2, Value: %1").arg(200 + 97 * 3 + 1013 * 2));
    GrabPanel(g->OpenGLPanel2);
    ASSERT_EQ(g->MagnifierColumns(), 20);
    ASSERT_EQ(g->MagnifierRows(), 20);
    const auto &m = g->MagnifierBuffer();
    EXPECT_EQ(m[0], 0);                                   // column -7, row -8
    EXPECT_EQ(m[10 + 20 * 10], image.Rows[2][3]);         // the centre
    EXPECT_EQ(m[19 + 20 * 19], image.Rows[2 + 9][3 + 9]); // the far corner
    EXPECT_EQ(m[7 + 20 * 8], image.Rows[0][0]);
}

TEST_F(GuiderWindowTest, ZoomAndSelectionsStayInsideTheImage)
{
    OpenImage(40, 30, [](int x, int y) { return x + y; });
    // An image that records no sensor size zooms to fit itself.
    g->GuiderImage.MaxRows = g->GuiderImage.MaxColumns = 0;
    g->ZoomToSensor();
    const float fitted = g->GuiderImage.Zoom;
    EXPECT_TRUE(std::isfinite(fitted));
    g->GuiderImage.MaxRows = 30;
    g->GuiderImage.MaxColumns = 40;
    g->ZoomToSensor();
    EXPECT_FLOAT_EQ(g->GuiderImage.Zoom, fitted);
    for (int i = 0; i < 40; ++i)
        g->ZoomOut->trigger();
    EXPECT_GE(g->GuiderImage.Zoom, MinimumZoom * 0.999);
    EXPECT_GE(g->OpenGLPanel1->width(), 1);
    MoveTo(g->OpenGLPanel1, QPoint(0, 0)); // no division by a zero-sized view
    for (int i = 0; i < 40; ++i)
        g->ZoomIn->trigger();
    EXPECT_LE(g->GuiderImage.Zoom, MaximumZoom * 1.001);
    g->Zoom1->trigger();
    ASSERT_EQ(g->OpenGLPanel1->width(), 40);

    // A drag that ends beyond the view is clamped to the last column and row.
    QTest::mousePress(g->OpenGLPanel1, Qt::LeftButton, {}, QPoint(5, 24));
    MoveTo(g->OpenGLPanel1, QPoint(80, -20));
    QTest::mouseRelease(g->OpenGLPanel1, Qt::LeftButton, {}, QPoint(80, -20));
    const ImageData &i = g->GuiderImage;
    EXPECT_TRUE(i.SelectionShown);
    EXPECT_EQ((std::array{i.SelX0, i.SelY0, i.SelX1, i.SelY1}), (std::array{5, 5, 39, 29}));
    g->Setselectiontocapturesubframe1->trigger();
    EXPECT_EQ((std::array{g->XLO->value(), g->YLO->value(), g->XHI->value(), g->YHI->value()}),
              (std::array{5, 5, 39, 29}));
    EXPECT_EQ(CurrentSettings().XHI[G], 39);

    // A click removes the selection; a one-pixel-wide selection restores the settings.
    QTest::mouseClick(g->OpenGLPanel1, Qt::LeftButton, {}, QPoint(9, 9));
    EXPECT_FALSE(i.SelectionShown);
    g->GuiderImage.SelX0 = g->GuiderImage.SelX1 = 12;
    g->Setselectiontocapturesubframe1->trigger();
    EXPECT_EQ(CurrentSettings().XLO[G], 5);
    EXPECT_EQ(g->XLO->value(), 5);
}

TEST_F(GuiderWindowTest, FileCommandsOnTheGuiderImage)
{
    OpenImage(24, 16, [](int x, int y) { return 1000 * y + x; });
    const auto name = [&](const char *file) {
        return QString::fromStdString((folder.path() / file).string());
    };
    {
        // "All files": the own format, with its extension.
        ModalScript modals;
        modals.ExpectSaveFile(name("copy"), QStringLiteral("Save image"));
        CurrentSettings().LastSaveDirectory[G] = folder.path().string();
        g->GuiderImage.OriginFormat = 4; // the dialog opens on "All files"
        g->Save->trigger();
        ASSERT_EQ(modals.Pending(), 0);
    }
    ImageData back;
    ASSERT_TRUE(back.LoadFromFile((folder.path() / "copy.kvr").string()));
    ASSERT_EQ(back.Width, 24);
    EXPECT_EQ(back.Rows[15][23], 15023);
    EXPECT_EQ(CurrentSettings().LastSaveDirectory[G], folder.path().string() + "/");
    {
        // The FITS filter writes a FITS file.
        ModalScript modals;
        modals.ExpectSaveFile(name("copy2"));
        g->GuiderImage.OriginFormat = FormatFits;
        g->Save->trigger();
    }
    ASSERT_TRUE(fs::exists(folder.path() / "copy2.fit"));
    {
        // The prefix dialog takes the name without extension and the format of its filter.
        ModalScript modals;
        modals.ExpectSaveFile(name("night.png"), QStringLiteral("Select filename prefix"));
        g->GuiderImage.OriginFormat = FormatPng;
        g->SaveBtn->click();
    }
    EXPECT_EQ(g->SaveFile->text(), name("night"));
    EXPECT_EQ(g->SaveFormat->currentIndex(), 3);
    EXPECT_EQ(CurrentSettings().SaveFormat[G], 3);
    {
        // A file that does not load leaves the image as it was.
        std::ofstream(folder.path() / "bad.kvr") << "not an image";
        ModalScript modals;
        modals.ExpectOpenFiles({name("bad.kvr")});
        g->Open->trigger();
    }
    EXPECT_EQ(g->GuiderImage.Width, 24);
    EXPECT_EQ(g->GuiderImage.Rows[15][23], 15023);
}

TEST_F(GuiderWindowTest, LcdSwitchKeySlewingAndTemperatureOnTheWire)
{
    g->LCDTempToggle->click();
    EXPECT_EQ(g->LCDTempToggle->text(), QStringLiteral("Disable LCD display"));
    g->LCDTempToggle->click();
    EXPECT_EQ(g->LCDTempToggle->text(), QStringLiteral("Enable LCD display"));
    EXPECT_EQ(Written(), (std::vector<Bytes>{MakeBytes({0x24, 0x01}), MakeBytes({0x24, 0x00})}));

    // Ctrl+Left then Ctrl+Right: east, then west alone (four-wire word: east 1, west 2).
    sim::ClearCallLog();
    QTest::keyClick(g->IntTime211, Qt::Key_Left, Qt::ControlModifier);
    QTest::keyClick(g->IntTime211, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(CurrentSettings().ManualSlewFlags, (std::array{false, true, false, false}));
    EXPECT_EQ(Written(), (std::vector<Bytes>{MakeBytes({20, 1}), MakeBytes({20, 2})}));
    // While a run is going the keys change the flags only.
    sim::ClearCallLog();
    g->Acquiring = true;
    QTest::keyClick(g->IntTime211, Qt::Key_Up, Qt::ControlModifier);
    g->Acquiring = false;
    EXPECT_EQ(CurrentSettings().ManualSlewFlags, (std::array{false, true, true, false}));
    EXPECT_TRUE(Written().empty());

    // A stop the link refuses once is sent again before the observer is asked about the link.
    QTest::keyClick(g->IntTime211, Qt::Key_Up, Qt::ControlModifier);
    ASSERT_EQ(sim::GetSnapshot().slewBits, 2);
    sim::Faults refuse;
    refuse.failures.push_back({"FT_Open", 1, FT_DEVICE_NOT_OPENED, false});
    sim::SetFaults(refuse);
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi USB device error"), QStringLiteral("Device not opened."),
                             QMessageBox::Ok);
        QTest::keyClick(g->IntTime211, Qt::Key_Right, Qt::ControlModifier);
        EXPECT_EQ(modals.Pending(), 0);
    }
    EXPECT_EQ(sim::GetSnapshot().slewBits, 0);

    // A temperature the controller does not send shows no number.
    sim::Faults silent;
    silent.noReply = true;
    sim::SetFaults(silent);
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi USB device error"), QStringLiteral("Device IO error."),
                             QMessageBox::Ok);
        g->CCDReadTempBtn->click();
        EXPECT_EQ(modals.Pending(), 0);
    }
    EXPECT_EQ(g->CCD1Temp->text(), QStringLiteral("Guiding camera CCD temperature: not read"));
    sim::ClearFaults();
}

TEST_F(GuiderWindowTest, PaletteEditorAndHeaderWindowTargetTheGuiderImage)
{
    // Without an image the editor works on the guider's default palette.
    g->Palettes->trigger();
    EXPECT_EQ(EditTarget.load(), EditGuiderPalette);
    PaletteSet->close();

    OpenImage(16, 16, [](int x, int y) { return 4000 * x + y; });
    g->GuiderImage.Description = "guider frame";
    g->HeaderInfo->trigger();
    EXPECT_EQ(EditTarget.load(), EditGuiderImage);
    ASSERT_TRUE(HInfo->isVisible());
    EXPECT_EQ(HInfo->description->text(), QStringLiteral("guider frame"));
    HInfo->close();

    g->Palettes->trigger();
    EXPECT_EQ(EditTarget.load(), EditGuiderImage);
    ASSERT_TRUE(PaletteSet->isVisible());
    EXPECT_TRUE(PaletteSet->Palette.SameCurves(g->GuiderImage.Palette));
    ASSERT_TRUE(
        PaletteSet->Palette.LoadFromFile(CurrentSettings().ProgramDirectory + "Palettes/Spectrum.pal"));
    const int builds = g->MapBuilds();
    PaletteSet->PreviewBtnClick();
    EXPECT_TRUE(g->GuiderImage.Palette.SameCurves(PaletteSet->Palette));
    EXPECT_EQ(g->MapBuilds(), builds + 1);
    PaletteSet->close();

    // A quick palette goes into the guider's default palette and the image.
    g->BlackbodyBtn->click();
    EXPECT_EQ(CurrentSettings().DefaultPalettes[G].Name,
              CurrentSettings().ProgramDirectory + "Palettes/BlackBody2.pal");
    EXPECT_TRUE(g->GuiderImage.Palette.SameCurves(CurrentSettings().DefaultPalettes[G]));
    EXPECT_FALSE(g->GuiderImage.Palette.SameCurves(PaletteSet->Palette));
    EXPECT_EQ(g->MapBuilds(), builds + 2);
}

TEST_F(GuiderWindowTest, StatisticsAndSubtractSkyActOnTheGuiderImage)
{
    OpenImage(64, 48, [](int x, int y) { return 2000 + 10 * x + 5 * y; });
    g->Stats->trigger();
    ASSERT_TRUE(StatsForm->isVisible());
    EXPECT_EQ(StatsForm->SourceImage(), &g->GuiderImage);
    StatsForm->close();

    g->PolyOrder->setValue(1);
    g->SkyModelBtn->click();
    EXPECT_EQ(EditTarget.load(), EditGuiderImage);
    EXPECT_EQ(LastOperation.load(), 13);
    EXPECT_EQ(MainF->UndoImage.Rows[10][20], 2000 + 10 * 20 + 5 * 10); // the snapshot
    // The plane is taken off whole: what is left is level (the samples are taken less the display
    // offset, so the level is that offset above the pedestal and the windows' margin).
    const int centre = g->GuiderImage.Rows[24][32];
    for (auto [x, y] : {std::pair{12, 10}, {50, 40}, {20, 35}})
        EXPECT_NEAR(g->GuiderImage.Rows[y][x], centre, 2) << x << "," << y;
    EXPECT_GE(centre, SkyPedestal);
    EXPECT_EQ(MainF->UndoWindowTag, -1); // the snapshot belongs to no image window
}

TEST_F(GuiderWindowTest, ScreenshotShowsAGuiderFrame)
{
    g->NImage211->setValue(1);
    g->Acquire->trigger();
    ASSERT_TRUE(WaitIdle());
    ASSERT_FALSE(g->GuiderImage.Empty);
    // The window's own picture (other tests' windows may cover it on the shared screen).
    int distinct = 0;
    QImage shot;
    WaitUntil([&] {
        shot = g->grab().toImage();
        const QRect view(g->OpenGLPanel1->mapTo(g, QPoint(0, 0)),
                         g->OpenGLPanel1->size().boundedTo(g->ImgScrollBox->viewport()->size()));
        QSet<QRgb> colours;
        for (int y = view.top(); y <= view.bottom(); ++y)
            for (int x = view.left(); x <= view.right(); ++x)
                colours.insert(shot.pixel(x, y) & 0xFFFFFF);
        distinct = colours.size();
        return distinct > 20;
    });
    shot.save(QString::fromStdString((fs::current_path() / "guider_window.png").string()));
    EXPECT_GT(distinct, 20) << "the view shows no frame";
}

} // namespace
