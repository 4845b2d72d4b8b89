// A whole observing night through the real windows on the simulated camera, time running 33 times
// faster and the mount drifting: first start on a new machine, cooling, focusing, a guide run beside
// a script that takes lights through three filters, darks and flats, the statistics window on the
// newest frame, then the batch window's master frames and calibration with the problem-pixel
// window's list, stacking, the composite editor with its alignment window, a FITS round trip,
// shut-down and a restart. Every box and dialog is answered by caption and text; any other one
// fails the night. `ctest -L night` runs it alone.
#include "camera_test_support.h"

#include "composite/align_window.h"
#include "composite/composite_editor.h"
#include "composite/composite_image.h"
#include "focus_monitor.h"
#include "gui_runtime.h"
#include "guiding/guide_thread.h"
#include "guiding/guider_window.h"
#include "image_file.h"
#include "image_window.h"
#include "multi_process.h"
#include "opengl_panel.h"
#include "problem_pixels.h"
#include "program_windows.h"
#include "script_thread.h"
#include "script_window.h"
#include "stacking.h"
#include "statistics_window.h"
#include "time_scale.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <numeric>

using namespace korvi::test;
namespace fs = std::filesystem;
namespace sim = korvi::sim;

namespace
{

// The imaging sub-frame every light, dark and flat is read with, inside the shipped sensor.
constexpr int XLo = 80, XHi = 719, YLo = 20, YHi = 499;
constexpr int FrameWidth = XHi - XLo + 1, FrameHeight = YHi - YLo + 1;
constexpr int TargetCelsius = -10;
constexpr int LightSeconds = 20, DarkSeconds = 20, FlatSeconds = 100;
const char *const FilterNames[] = {"Red", "Green", "Blue"}; // wheel positions 1 to 3 as shipped
const char *const FilterTags[] = {"R", "G", "B"};
// Far enough to leave the simulated star field: the blank twilight sky the flats are taken of.
constexpr double TwilightOffset = 20000.0;

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

ImageData Load(const std::string &path)
{
    ImageData image;
    EXPECT_TRUE(LoadImageFile(path, image)) << path;
    return image;
}

std::vector<double> Pixels(const ImageData &image, int x0, int y0, int x1, int y1)
{
    std::vector<double> values;
    for (int y = std::max(0, y0); y <= std::min(y1, image.Height - 1); ++y)
        for (int x = std::max(0, x0); x <= std::min(x1, image.Width - 1); ++x)
            values.push_back(image.FrameRow(0, y)[x]);
    return values;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// The sky's noise: 1.4826 x the median absolute deviation, which the stars hardly move.
double SkyNoise(const ImageData &image)
{
    const std::vector<double> values = Pixels(image, 0, 0, image.Width - 1, image.Height - 1);
    const double median = Median(values);
    std::vector<double> deviations;
    for (double v : values)
        deviations.push_back(std::abs(v - median));
    return 1.4826 * Median(deviations);
}

struct Star {
    double x = 0, y = 0, peak = 0;
    bool saturated = false;
};

// Local maxima well above the sky whose neighbours share their light, at least `margin` (5 or
// more) from the edges, brightest first, with their centroids above the sky; the ones with a
// pixel near full scale are marked saturated.
std::vector<Star> FindPeaks(const ImageData &image, int margin)
{
    const double sky = Median(Pixels(image, 0, 0, image.Width - 1, image.Height - 1));
    const double threshold = sky + 12.0 * std::max(1.0, SkyNoise(image));
    auto at = [&](int x, int y) { return static_cast<double>(image.FrameRow(0, y)[x]); };
    std::vector<Star> stars;
    for (int y = margin; y < image.Height - margin; ++y)
        for (int x = margin; x < image.Width - margin; ++x) {
            const double v = at(x, y);
            if (v < threshold)
                continue;
            bool peak = true;
            for (int j = -2; j <= 2 && peak; ++j)
                for (int i = -2; i <= 2 && peak; ++i)
                    peak = (i == 0 && j == 0) || at(x + i, y + j) < v ||
                           (at(x + i, y + j) == v && (j > 0 || (j == 0 && i > 0)));
            // A hot pixel stands alone; a star's light reaches its neighbours.
            const double around = (at(x - 1, y) + at(x + 1, y) + at(x, y - 1) + at(x, y + 1)) / 4.0 - sky;
            if (!peak || around < 0.25 * (v - sky))
                continue;
            double sum = 0, sx = 0, sy = 0, highest = 0;
            for (int j = -5; j <= 5; ++j)
                for (int i = -5; i <= 5; ++i) {
                    const double w = std::max(0.0, at(x + i, y + j) - sky);
                    highest = std::max(highest, at(x + i, y + j));
                    sum += w;
                    sx += w * (x + i);
                    sy += w * (y + j);
                }
            if (sum > 0)
                stars.push_back({sx / sum, sy / sum, v - sky, highest > 60000.0});
        }
    std::sort(stars.begin(), stars.end(), [](const Star &a, const Star &b) { return a.peak > b.peak; });
    return stars;
}

// Stars found in the frame: the peaks that are not saturated, away from each other.
std::vector<Star> FindStars(const ImageData &image, int margin = 12)
{
    std::vector<Star> apart;
    for (const Star &s : FindPeaks(image, margin))
        if (!s.saturated && std::none_of(apart.begin(), apart.end(), [&](const Star &t) {
                return std::hypot(s.x - t.x, s.y - t.y) < 15.0;
            }))
            apart.push_back(s);
    return apart;
}

// The stars with no other peak (saturated ones included) within 16 px, so that no neighbour's
// light enters their measurement; brightest first.
std::vector<Star> IsolatedStars(const ImageData &image, int margin = 20)
{
    const std::vector<Star> peaks = FindPeaks(image, 6);
    std::vector<Star> alone;
    for (const Star &s : FindStars(image, margin))
        if (std::none_of(peaks.begin(), peaks.end(), [&](const Star &o) {
                const double d = std::hypot(o.x - s.x, o.y - s.y);
                return d > 0.5 && d < 16.0;
            }))
            alone.push_back(s);
    return alone;
}

// The centroid of the star nearest (x, y), measured afresh in `image`: the light within `reach`
// pixels of the centroid above the sky right around it (the median of a ring beyond the star),
// each pass centred on the last one's result. Neither the frame's overall sky nor the noise
// clipped at it pulls the result towards the starting point.
Star CentroidNear(const ImageData &image, double x, double y, int reach = 6)
{
    Star star{x, y, 0};
    for (int pass = 0; pass < 5; ++pass) {
        const int cx = static_cast<int>(std::lround(star.x)), cy = static_cast<int>(std::lround(star.y));
        const int outer = reach + 9;
        std::vector<double> ring;
        for (int j = cy - outer; j <= cy + outer; ++j)
            for (int i = cx - outer; i <= cx + outer; ++i) {
                const double r = std::hypot(i - star.x, j - star.y);
                if (i >= 0 && j >= 0 && i < image.Width && j < image.Height && r >= reach + 4 && r <= outer)
                    ring.push_back(image.FrameRow(0, j)[i]);
            }
        const double sky = Median(ring);
        double sum = 0, sx = 0, sy = 0;
        for (int j = cy - reach - 1; j <= cy + reach + 1; ++j)
            for (int i = cx - reach - 1; i <= cx + reach + 1; ++i) {
                if (i < 0 || j < 0 || i >= image.Width || j >= image.Height ||
                    std::hypot(i - star.x, j - star.y) > reach)
                    continue;
                const double w = image.FrameRow(0, j)[i] - sky;
                sum += w;
                sx += w * i;
                sy += w * j;
            }
        if (!(sum > 0))
            return {x, y, 0};
        star = {sx / sum, sy / sum, sum};
    }
    return star;
}

// A number at the end of a label ("CCD temperature: -9.8" -> -9.8); NaN when there is none.
double TrailingNumber(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("(-?\\d+(?:[.,]\\d+)?)[^\\d]*$"));
    const QRegularExpressionMatch m = number.match(text);
    return m.hasMatch() ? m.captured(1).replace(QLatin1Char(','), QLatin1Char('.')).toDouble() : std::nan("");
}

// Samples the guider's shift read-out once per completed guide cycle, and whether the guider
// counted the cycle as one whose star was lost (no correction sent).
class GuideLog
{
public:
    explicit GuideLog(TGuiderF *guider) : guider_(guider)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Sample(); });
        timer_.start(5);
    }
    struct Cycle {
        double dx, dy;
        int phase; // what the night was doing (NightPhase)
        bool lost;
    };
    std::vector<Cycle> cycles;
    int phase = 0;
    // The root mean square of the shifts of the cycles in this phase (NaN without any) whose star
    // was measured: a lost star's read-out measures nothing.
    double Rms(int inPhase, std::size_t skipFirst = 0) const
    {
        double sum = 0;
        std::size_t n = 0, seen = 0;
        for (const Cycle &c : cycles)
            if (c.phase == inPhase && seen++ >= skipFirst && !c.lost) {
                sum += c.dx * c.dx + c.dy * c.dy;
                ++n;
            }
        return n ? std::sqrt(sum / n) : std::nan("");
    }
    // The shifts of a phase, for a failure's message.
    std::string Trace(int inPhase) const
    {
        std::string text;
        for (const Cycle &c : cycles)
            if (c.phase == inPhase)
                text +=
                    " (" + std::to_string(c.dx) + ", " + std::to_string(c.dy) + (c.lost ? ", lost)" : ")");
        return text;
    }
    std::size_t Count(int inPhase) const
    {
        return std::count_if(cycles.begin(), cycles.end(),
                             [&](const Cycle &c) { return c.phase == inPhase; });
    }
    std::size_t Lost(int inPhase) const
    {
        return std::count_if(cycles.begin(), cycles.end(),
                             [&](const Cycle &c) { return c.phase == inPhase && c.lost; });
    }

private:
    void Sample()
    {
        const TGuiderThread *thread = guider_->GuideThread();
        if (!thread || !guider_->GuideRunning())
            return;
        if (thread != thread_) { // a new run counts from 0
            thread_ = thread;
            last_ = lastLost_ = 0;
        }
        const int done = thread->GuideCycles();
        if (done == last_)
            return;
        last_ = done;
        // The thread counts a lost cycle before it completes the cycle.
        const int lost = thread->LostCycles();
        const bool wasLost = lost != lastLost_;
        lastLost_ = lost;
        static const QRegularExpression shift(QStringLiteral("dx:\\s*(-?[\\d.,]+)\\s+dy:\\s*(-?[\\d.,]+)"));
        const QRegularExpressionMatch m = shift.match(guider_->Correction->text());
        if (m.hasMatch())
            cycles.push_back({m.captured(1).replace(',', '.').toDouble(),
                              m.captured(2).replace(',', '.').toDouble(), phase, wasLost});
    }
    TGuiderF *guider_;
    QTimer timer_;
    const TGuiderThread *thread_ = nullptr;
    int last_ = 0;
    int lastLost_ = 0;
};

// The night's waits are sized for its usual clock, 33 times faster than real time. On a slower
// clock (the ThreadSanitizer run) each lasts longer in proportion, so that it still bounds the same
// stretch of the night rather than a stretch of the machine's time.
constexpr double UsualTimeScale = 0.03;
bool NightWait(const std::function<bool()> &done, int usualMs = 5000)
{
    const double longer = std::max(1.0, korvi::TimeScale() / UsualTimeScale);
    return WaitUntil(done, static_cast<int>(usualMs * longer));
}

enum NightPhase { Calibrating, Lights, Darks, Twilight, BackOnField, Cloud };

class WholeNight : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The shipped simulator with its drift from the environment; only the call log is kept
        // whole, to count the temperature read-outs.
        sim::Config config = sim::DefaultConfig();
        config.callLogLimit = 2000000;
        config.callLogReadBytes = 2;
        sim::Reset(config);
        korvi::gui::InstallCoreUiHooks();
        // A first start on a new machine: the program folder as shipped.
        fs::copy(fs::path(KORVI_SOURCE_DIR) / "resources", programDir(), fs::copy_options::recursive);
        for (const auto &entry : fs::recursive_directory_iterator(programDir()))
            if (entry.path().filename() == ".keep")
                fs::remove(entry.path());
        StartProgram();
    }
    void TearDown() override
    {
        if (GuiderF && GuiderF->GuideRunning()) {
            GuiderF->StopExecute();
            NightWait([] { return !GuiderF->GuideRunning(); }, 20000);
        }
        if (main) {
            main->ClosingDone = true;
            main.reset();
        }
        InstallUiHooks(nullptr);
        sim::ClearFaults();
    }

    fs::path programDir() const { return folder.path() / "Korvi"; }
    std::string Frames(const std::string &name = {}) const
    {
        return (folder.path() / "frames" / name).string();
    }
    std::string Work(const std::string &name = {}) const { return (folder.path() / "work" / name).string(); }
    std::string Light(int filter, int n) const
    {
        return Frames(std::string(FilterTags[filter]) + "_" + std::to_string(n) + ".fit");
    }

    void StartProgram()
    {
        main = std::make_unique<TMainF>(programDir().string(), QStringList());
        CreateProgramWindows(main.get());
        ASSERT_TRUE(ShowAndWait(main.get()));
    }
    bool WaitForAcquisition(int ms = 60000)
    {
        return NightWait([&] { return !main->Acquiring && !main->AcquisitionThreadRunning(); }, ms);
    }
    bool WaitForGuider(int ms = 120000)
    {
        return NightWait([] { return !GuiderF->Acquiring && !GuiderF->GuideRunning(); }, ms);
    }

    // ---- the steps of the night

    void TypeFramesFolderAndSubframe()
    {
        ASSERT_FALSE(fs::exists(Frames()));
        main->SaveFile->setText(Q(Frames("m42")));
        main->XLO->setValue(XLo);
        main->XHI->setValue(XHi);
        main->YLO->setValue(YLo);
        main->YHI->setValue(YHi);
        main->XBIN->setValue(1);
        main->YBIN->setValue(1);
        main->SaveFormat->setCurrentIndex(1); // FITS
    }

    void Cool()
    {
        main->CCDTargetTemp->setValue(TargetCelsius);
        QTest::mouseClick(main->SendTargetTempBtn, Qt::LeftButton);
        QTest::mouseClick(main->TEPowerUpBtn, Qt::LeftButton);
        main->TempUDPeriod->setValue(1);
        if (!main->TempUpdate->isChecked())
            main->TempUpdate->click();
        ASSERT_TRUE(main->TempUDTimer->isActive());
        ASSERT_TRUE(NightWait(
            [&] { return std::abs(TrailingNumber(main->CCD0Temp->text()) - TargetCelsius) < 1.0; }, 60000))
            << main->CCD0Temp->text().toStdString();
    }

    // Three frames in focus mode while the focuser moves in: the monitor records a narrowing star.
    void Focus()
    {
        main->IntTime->setText(QStringLiteral("5"));
        main->NImage->setValue(1);
        main->FocusModeEnable->setChecked(true);
        const std::size_t before = FocusMonitorF->Widths().size();
        for (double sigma : {3.2, 2.2, 1.4}) {
            sim::SetStarWidth(0, sigma);
            main->Acquire->trigger();
            ASSERT_TRUE(WaitForAcquisition());
        }
        ASSERT_EQ(FocusMonitorF->Widths().size(), before + 3);
        // A width for every frame (the brightest pixel it measures at may be another star's or a
        // hot pixel's from one frame to the next, so the widths need not fall in order).
        for (std::size_t i = before; i < FocusMonitorF->Widths().size(); ++i) {
            EXPECT_GT(FocusMonitorF->Widths()[i].first, 0.0f) << i;
            EXPECT_GT(FocusMonitorF->Widths()[i].second, 0.0f) << i;
        }
        EXPECT_EQ(FocusMonitorF->FocusList->toPlainText().split('\n', Qt::SkipEmptyParts).size(),
                  static_cast<qsizetype>(before + 3));
        main->FocusModeEnable->setChecked(false);
        sim::SetStarWidth(0, sim::CurrentConfig().imaging.psfSigma);
        // One frame out of focus mode: numbered, and the number goes on to the next.
        main->Acquire->trigger();
        ASSERT_TRUE(WaitForAcquisition());
        EXPECT_TRUE(fs::is_regular_file(Frames("m42_1.fit")));
        EXPECT_EQ(main->InitExt->value(), 2);
    }

    // A guide frame, a box round its brightest single star, calibration, then guiding.
    void StartGuiding()
    {
        TGuiderF *g = GuiderF;
        g->show();
        ASSERT_TRUE(ShowAndWait(g));
        g->Save211->setChecked(false);
        g->NImage211->setValue(1);
        g->Acquire->trigger();
        ASSERT_TRUE(WaitForGuider());
        ASSERT_FALSE(g->GuiderImage.Empty);
        // The whole frame is calibrated on (the slews move the star far), the star's box guided on.
        guideLog = std::make_unique<GuideLog>(g);
        guideLog->phase = Calibrating;
        const sim::Snapshot target = sim::GetSnapshot();
        g->MetricBtn->click();
        ASSERT_TRUE(WaitForGuider(240000));
        ASSERT_EQ(CurrentSettings().GuideMode, 1);
        // The calibration's slews took the telescope off the target; the observer centres it again.
        sim::SetMountOffset(target.mountX, target.mountY);
        ASSERT_TRUE(NightWait([&] { return g->Acquire->isEnabled(); }));
        g->Acquire->trigger();
        ASSERT_TRUE(WaitForGuider());
        const std::vector<Star> stars = FindStars(g->GuiderImage, 20);
        ASSERT_FALSE(stars.empty()) << "no guide star in the guider frame";
        const Star &star = stars.front();
        g->Zoom1->trigger();
        QApplication::processEvents();
        const int w = g->GuiderImage.Width, h = g->GuiderImage.Height;
        const int x0 = std::max(0, static_cast<int>(star.x) - 20),
                  x1 = std::min(w - 1, static_cast<int>(star.x) + 20);
        const int y0 = std::max(0, static_cast<int>(star.y) - 20),
                  y1 = std::min(h - 1, static_cast<int>(star.y) + 20);
        QTest::mousePress(g->OpenGLPanel1, Qt::LeftButton, {}, QPoint(x0, h - 1 - y0));
        QMouseEvent move(QEvent::MouseMove, QPointF(x1, h - 1 - y1),
                         g->OpenGLPanel1->mapToGlobal(QPointF(x1, h - 1 - y1)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(g->OpenGLPanel1, &move);
        QTest::mouseRelease(g->OpenGLPanel1, Qt::LeftButton, {}, QPoint(x1, h - 1 - y1));
        g->Setselectiontocapturesubframe1->trigger();
        ASSERT_EQ(g->XLO->value(), std::min(x0, x1));
        ASSERT_EQ(g->YHI->value(), std::max(y0, y1));
        // Two frames of the box taken 60 px apart make a cloud for later: their pixel-wise minimum
        // keeps the sensor's sky, noise and hot pixels, and no star.
        {
            std::vector<std::uint16_t> boxes[2];
            const sim::Snapshot here = sim::GetSnapshot();
            for (int k = 0; k < 2; ++k) {
                sim::SetMountOffset(here.mountX + 60.0 * k * sim::CurrentConfig().guiding.pixelScale,
                                    here.mountY);
                ASSERT_TRUE(NightWait([&] { return g->Acquire->isEnabled(); }));
                g->Acquire->trigger();
                ASSERT_TRUE(WaitForGuider());
                const ImageData &box = g->GuiderImage;
                ASSERT_EQ(box.Width, x1 - x0 + 1);
                ASSERT_EQ(box.Height, y1 - y0 + 1);
                for (int y = 0; y < box.Height; ++y)
                    boxes[k].insert(boxes[k].end(), box.Rows[y], box.Rows[y] + box.Width);
            }
            sim::SetMountOffset(here.mountX, here.mountY);
            cloud.resize(boxes[0].size());
            for (std::size_t i = 0; i < cloud.size(); ++i)
                cloud[i] = std::min(boxes[0][i], boxes[1][i]);
        }

        ASSERT_TRUE(NightWait([&] { return g->GuideBtn->isEnabled(); }));
        QApplication::processEvents();
        g->GuideBtn->click();
        ASSERT_TRUE(g->GuideRunning() || g->Acquiring);
        ASSERT_TRUE(
            NightWait([&] { return g->GuideThread() && g->GuideThread()->GuideCycles() >= 2; }, 60000))
            << g->StatusBar[1]->text().toStdString() << " running " << g->GuideRunning() << " mode "
            << CurrentSettings().GuideMode << " " << g->GuideStatus->text().toStdString();
    }

    QString NightScript() const
    {
        QString s;
        const auto line = [&s](const QString &text) { s += text + QLatin1Char('\n'); };
        line(QStringLiteral("% Lights through three filters, darks, then flats of the twilight sky"));
        line(QStringLiteral("XLO %1\nXHI %2\nYLO %3\nYHI %4\nXBIN 1\nYBIN 1")
                 .arg(XLo)
                 .arg(XHi)
                 .arg(YLo)
                 .arg(YHi));
        line(QStringLiteral("FORMAT FITS"));
        const auto series = [&](const QString &name, int seconds, bool shutter) {
            line(QStringLiteral("FILENAME ") + Q(Frames(name.toStdString())));
            line(QStringLiteral("EXTNUM 1"));
            line(QStringLiteral("LOOP 4"));
            line(QStringLiteral("CLEAR 0 2"));
            if (shutter)
                line(QStringLiteral("SHUTTEROPEN"));
            line(QStringLiteral("DELAY %1 S").arg(seconds));
            if (shutter)
                line(QStringLiteral("SHUTTERCLOSE"));
            line(QStringLiteral("READ 0\nSAVE 0\nDISPLAY 0"));
            line(QStringLiteral("ENDLOOP"));
        };
        for (int f = 0; f < 3; ++f) {
            line(QStringLiteral("FWGOTO %1").arg(f));
            line(QStringLiteral("FILTERS ") + QLatin1String(FilterNames[f]));
            series(QLatin1String(FilterTags[f]), LightSeconds, true);
        }
        line(QStringLiteral("FILTERS dark"));
        series(QStringLiteral("dark"), DarkSeconds, false);
        line(QStringLiteral("FWGOTO 0"));
        line(QStringLiteral("FILTERS Red"));
        line(QStringLiteral("DELAY 60 S % the telescope turns to the twilight sky"));
        series(QStringLiteral("flat"), FlatSeconds, true);
        return s;
    }

    // Written, saved, cleared, loaded back, checked: what runs is what the file holds.
    void WriteAndLoadScript()
    {
        TScriptF *w = ScriptF;
        w->show();
        ASSERT_TRUE(ShowAndWait(w));
        w->ScriptEdit->setPlainText(NightScript());
        w->ScriptEdit->document()->setModified(true);
        const std::string path = (programDir() / "Scripts" / "night.kvq").string();
        modals.ExpectSaveFile(Q(path), QStringLiteral("Save Korvi execution script"));
        QTest::mouseClick(w->SaveBtn, Qt::LeftButton);
        ASSERT_EQ(modals.Pending(), 0);
        ASSERT_TRUE(fs::is_regular_file(path));
        w->ScriptEdit->setPlainText(QString());
        w->ScriptEdit->document()->setModified(false);
        modals.ExpectOpenFiles({Q(path)});
        QTest::mouseClick(w->LoadBtn, Qt::LeftButton);
        ASSERT_EQ(modals.Pending(), 0);
        ASSERT_EQ(w->ScriptEdit->toPlainText().trimmed(), NightScript().trimmed());
        QTest::mouseClick(w->CheckScriptBtn, Qt::LeftButton);
        ASSERT_EQ(w->StatusText(), QStringLiteral("Status: No errors found. Ready."));
    }

    int TemperatureReads() const
    {
        int n = 0;
        for (const auto &block : sim::WrittenBlocks())
            n += block.size() >= 2 && block[0] == 31 && block[1] == 0 ? 1 : 0;
        return n;
    }

    // The statistics window on the newest frame, opened again for the next one.
    void StatisticsOnTheLastFrame(int filter)
    {
        ASSERT_TRUE(NightWait([&] { return fs::exists(Light(filter, 2)); }, 120000))
            << ScriptF->StatusText().toStdString();
        for (int n : {2, 3}) {
            ASSERT_TRUE(NightWait([&] { return fs::exists(Light(filter, n)); }, 120000));
            // The frame saved is shown next; the newest window is the active one.
            ASSERT_TRUE(NightWait(
                [&] {
                    TChild *first = main->FirstImageWindow();
                    return first && first->ConstImage().HeaderFileName == Light(filter, n);
                },
                30000))
                << n;
            main->StatsFormShow->trigger();
            ASSERT_TRUE(StatsForm->isVisible());
            const ImageData &shown = main->FirstImageWindow()->ConstImage();
            EXPECT_EQ(StatsForm->SourceImage(), &shown) << n;
            const std::vector<double> all = Pixels(shown, 0, 0, shown.Width - 1, shown.Height - 1);
            const double mean = std::accumulate(all.begin(), all.end(), 0.0) / all.size();
            const ImageData previous = Load(Light(filter, n - 1));
            const std::vector<double> old = Pixels(previous, 0, 0, previous.Width - 1, previous.Height - 1);
            EXPECT_NEAR(TrailingNumber(StatsForm->AverageLabel->text()), mean, 2.0 + mean * 1e-3)
                << StatsForm->AverageLabel->text().toStdString()
                << " (the frame before: " << std::accumulate(old.begin(), old.end(), 0.0) / old.size() << ")";
        }
        StatsForm->close();
    }

    void RunScriptBesideGuiding()
    {
        const int readsBefore = TemperatureReads();
        scriptStart = sim::Now();
        guideLog->phase = Lights;
        QTest::mouseClick(ScriptF->RunBtn, Qt::LeftButton);
        ASSERT_TRUE(main->Acquiring);
        StatisticsOnTheLastFrame(1);
        ASSERT_TRUE(NightWait([&] { return fs::exists(Frames("dark_1.fit")); }, 120000));
        guideLog->phase = Darks;
        // A cloud passes while the darks are taken: the guide frames hold the sensor's sky, noise
        // and hot pixels but no star. The guider says the star is lost, sends no pulse (the mount
        // moves by the drift alone) and resumes by itself when the cloud has gone.
        guideLog->phase = Cloud;
        sim::SetReplayFrame(1, std::make_shared<const std::vector<std::uint16_t>>(cloud));
        ASSERT_TRUE(NightWait([&] { return guideLog->Lost(Cloud) >= 1; }, 60000)) << guideLog->Trace(Cloud);
        const sim::Snapshot cloudFrom = sim::GetSnapshot();
        ASSERT_TRUE(NightWait([&] { return guideLog->Lost(Cloud) >= 4; }, 60000)) << guideLog->Trace(Cloud);
        const sim::Snapshot cloudTo = sim::GetSnapshot();
        sim::SetReplayFrame(1, nullptr);
        EXPECT_TRUE(GuiderF->GuideStatus->text().startsWith(QStringLiteral("Star lost at ")))
            << GuiderF->GuideStatus->text().toStdString();
        const sim::Config config = sim::CurrentConfig();
        const double dt = cloudTo.time - cloudFrom.time;
        EXPECT_LT(std::hypot(cloudTo.mountX - cloudFrom.mountX - config.driftX * dt,
                             cloudTo.mountY - cloudFrom.mountY - config.driftY * dt) /
                      config.guiding.pixelScale,
                  0.2)
            << "the mount moved under the cloud";
        guideLog->phase = Darks;
        ASSERT_TRUE(NightWait(
            [&] { return GuiderF->GuideStatus->text().startsWith(QStringLiteral("Guiding resumed at ")); },
            60000))
            << GuiderF->GuideStatus->text().toStdString();
        ASSERT_TRUE(NightWait([&] { return fs::exists(Frames("dark_4.fit")); }, 120000));
        // Enough guide cycles after the cloud to judge the guiding by (the first two are left out):
        // on a busy machine the darks can end first, and the script's minute before the flats
        // leaves room for them.
        ASSERT_TRUE(NightWait([&] { return guideLog->Count(Darks) >= 4; }, 60000)) << guideLog->Trace(Darks);
        // The telescope points at the blank twilight sky for the flats; the guide star is gone.
        // The guider sends no pulse for the blank frames, says the star is lost, and after its
        // limit of lost cycles stops guiding with a box that the observer answers.
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("Guiding stopped: the star was lost"),
                             QMessageBox::Ok);
        sim::Snapshot at = sim::GetSnapshot();
        sim::SetMountOffset(at.mountX + TwilightOffset, at.mountY);
        guideLog->phase = Twilight;
        ASSERT_TRUE(NightWait([&] { return !ScriptF->Running && !main->Acquiring; }, 240000));
        EXPECT_EQ(ScriptF->StatusText(), QStringLiteral("Status: Ready. (script terminated normally)"));
        ASSERT_TRUE(WaitForGuider(60000));
        ASSERT_EQ(modals.Pending(), 0) << "guiding went on without a star";
        EXPECT_TRUE(GuiderF->GuideStatus->text().contains(QStringLiteral("lost")))
            << GuiderF->GuideStatus->text().toStdString();
        // The lost star left the mount where the drift took it: nothing ran away.
        at = sim::GetSnapshot();
        sim::SetMountOffset(at.mountX - TwilightOffset, at.mountY);
        // Back on the field, the observer guides again on the same star.
        guideLog->phase = BackOnField;
        const std::size_t resumed = guideLog->cycles.size();
        ASSERT_TRUE(NightWait([] { return GuiderF->GuideBtn->isEnabled(); }));
        GuiderF->GuideBtn->click();
        ASSERT_TRUE(NightWait([&] { return guideLog->cycles.size() >= resumed + 4; }, 60000));
        EXPECT_GT(TemperatureReads(), readsBefore + 10) << "the temperature read-out stopped ticking";
        EXPECT_FALSE(main->CCD0Temp->text().isEmpty());
    }

    void StopGuiding()
    {
        GuiderF->GuideBtn->click();
        ASSERT_TRUE(WaitForGuider(60000));
        EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
        ASSERT_GE(guideLog->Count(Lights), 10u);
        // The guide frames beside the imaging readouts show the star: one cycle without it at
        // the most (a busy machine's moment at the tests' clock).
        EXPECT_LE(guideLog->Lost(Lights), 1u) << guideLog->Trace(Lights);
        EXPECT_LT(guideLog->Rms(Lights), 1.0) << guideLog->Trace(Lights);
        // The darks' guide cycles follow the cloud: the first two may still show the drift
        // gathered while the star was hidden, which the guider then takes back.
        EXPECT_LT(guideLog->Rms(Darks, 2), 1.0) << guideLog->Trace(Darks);
        EXPECT_GE(guideLog->Lost(Cloud), 4u) << guideLog->Trace(Cloud);
        // The blank sky gave the guider nothing to follow: it sent no pulse for noise, so the star
        // is where it was left when the telescope comes back (the first cycle may still see the
        // blank frame).
        ASSERT_GE(guideLog->Count(BackOnField), 3u);
        EXPECT_LT(guideLog->Rms(BackOnField, 1), 1.0);
        guideLog.reset();
    }

    void CheckScriptFrames()
    {
        const auto check = [&](const std::string &path, const std::string &filters) {
            SCOPED_TRACE(path);
            ASSERT_TRUE(fs::is_regular_file(path));
            const ImageData frame = Load(path);
            EXPECT_EQ(frame.Width, FrameWidth);
            EXPECT_EQ(frame.Height, FrameHeight);
            EXPECT_EQ(frame.XLo, XLo);
            EXPECT_EQ(frame.YHi, YHi);
            EXPECT_EQ(frame.Filters, filters);
            EXPECT_FALSE(frame.IntegrationTime.empty());
            EXPECT_NEAR(TrailingNumber(Q(frame.CCDTemperature)), TargetCelsius, 1.0) << frame.CCDTemperature;
        };
        // The shutter's openings during the script as the simulated controller saw them: the
        // twelve lights' first, then the flats'.
        std::vector<double> opened, closed;
        for (const sim::CallRecord &call : sim::CallLog())
            if (call.function == "FT_Write" && call.status == FT_OK && call.time >= scriptStart &&
                call.written.size() == 1 && (call.written[0] == 50 || call.written[0] == 51))
                (call.written[0] == 50 ? opened : closed).push_back(call.time);
        ASSERT_EQ(opened.size(), 16u);
        ASSERT_EQ(closed.size(), 16u);
        for (int f = 0; f < 3; ++f)
            for (int n = 1; n <= 4; ++n) {
                check(Light(f, n), FilterNames[f]);
                // The shutter's time as the script kept it open: its DELAY and the commands' own
                // time, as long as the controller had the shutter open (to a second of program
                // time: the commands' replies and a busy machine's moments at the tests' clock).
                const double exposure = std::atof(Load(Light(f, n)).IntegrationTime.c_str());
                const std::size_t k = static_cast<std::size_t>(4 * f + n - 1);
                EXPECT_GE(exposure, LightSeconds - 0.01);
                EXPECT_NEAR(exposure, closed[k] - opened[k], 1.0) << Light(f, n);
            }
        for (int n = 1; n <= 4; ++n) {
            check(Frames("dark_" + std::to_string(n) + ".fit"), "dark");
            check(Frames("flat_" + std::to_string(n) + ".fit"), "Red");
        }
        // What the guiding did, seen in the lights: the brightest isolated star of the first light
        // stays put through all twelve, within a pixel of the guide camera.
        const ImageData first = Load(Light(0, 1));
        const std::vector<Star> stars = IsolatedStars(first);
        ASSERT_FALSE(stars.empty());
        const Star star = CentroidNear(first, stars[0].x, stars[0].y);
        const sim::Config config = sim::CurrentConfig();
        const double toGuidePixels = config.imaging.pixelScale / config.guiding.pixelScale;
        double sum = 0;
        for (int f = 0; f < 3; ++f)
            for (int n = 1; n <= 4; ++n) {
                const Star at = CentroidNear(Load(Light(f, n)), star.x, star.y);
                sum += std::pow(std::hypot(at.x - star.x, at.y - star.y) * toGuidePixels, 2);
            }
        EXPECT_LT(std::sqrt(sum / 12), 1.0) << "the imaging field moved while guiding";

        // A dark is the simulator's bias plus its dark current at the target temperature.
        const sim::CameraConfig cam = sim::CurrentConfig().imaging;
        const double electrons =
            cam.darkCurrentAt0C * std::pow(2.0, TargetCelsius / cam.darkDoublingCelsius) * DarkSeconds;
        const ImageData dark = Load(Frames("dark_1.fit"));
        EXPECT_NEAR(Median(Pixels(dark, 0, 0, FrameWidth - 1, FrameHeight - 1)),
                    cam.bias + electrons / cam.gain, 3.0 + 0.5 * electrons / cam.gain);
    }

    // The batch list filled from the acquisition's names through the quick-select page.
    void ListSeries(const std::string &prefix, int first, int last, const std::string &extension)
    {
        TMultiProcessF *b = MultiProcessF;
        b->SelListBox->clear();
        b->Prefix->setText(Q(prefix));
        b->FirstExtNum->setValue(first);
        b->LastExtNum->setValue(last);
        b->FileExtension->setText(Q(extension));
        QTest::mouseClick(b->AddNumFileSeqBtn, Qt::LeftButton);
        ASSERT_EQ(b->SelListBox->count(), last - first + 1) << prefix;
    }

    void BuildMasterFramesAndHotPixels()
    {
        TMultiProcessF *b = MultiProcessF;
        b->show();
        ASSERT_TRUE(ShowAndWait(b));
        b->SaveFormat->setCurrentIndex(0);
        ListSeries(Frames("dark_"), 1, 4, "fit");
        b->OutputPrefix->setText(Q(Work("master_dark")));
        QTest::mouseClick(b->ThermalFrameBtn, Qt::LeftButton);
        ASSERT_TRUE(fs::is_regular_file(Work("master_dark.kvr")));
        EXPECT_EQ(b->ThermalFrame->text(), Q(Work("master_dark.kvr")));
        ListSeries(Frames("flat_"), 1, 4, "fit");
        b->OutputPrefix->setText(Q(Work("master_flat")));
        QTest::mouseClick(b->FlatFrameBtn, Qt::LeftButton);
        ASSERT_TRUE(fs::is_regular_file(Work("master_flat.kvr")));
        EXPECT_EQ(b->FlatFrame->text(), Q(Work("master_flat.kvr")));

        // The master dark: bias taken off, scaled to its brightest (hot) pixel; its header's level
        // is the median of its central half. The simulator's hot pixels stand out of it.
        const ImageData dark = Load(Work("master_dark.kvr"));
        ASSERT_EQ(dark.Width, FrameWidth);
        const double darkMedian = Median(
            Pixels(dark, FrameWidth / 4, FrameHeight / 4, 3 * FrameWidth / 4 - 1, 3 * FrameHeight / 4 - 1));
        EXPECT_NEAR(dark.OffsetLevel, darkMedian, 1.0);
        EXPECT_LT(darkMedian, 65535.0 / 4);
        // The master flat: normalised by its median, and the evenly lit sky leaves nearly every
        // pixel within a tenth of it.
        const ImageData flat = Load(Work("master_flat.kvr"));
        const std::vector<double> flatPixels = Pixels(flat, 0, 0, FrameWidth - 1, FrameHeight - 1);
        const double flatMedian = Median(flatPixels);
        EXPECT_NEAR(flat.OffsetLevel, flatMedian, 0.01 * flatMedian);
        EXPECT_GT(flatMedian, 1000.0);
        const auto even = std::count_if(flatPixels.begin(), flatPixels.end(), [&](double v) {
            return std::abs(v - flatMedian) < 0.1 * flatMedian;
        });
        EXPECT_GT(even, static_cast<long>(0.95 * flatPixels.size()));

        // The problem-pixel window lists the dark's hot pixels.
        TProblemPixelMapF *p = ProblemPixelMapF;
        p->show();
        ASSERT_TRUE(ShowAndWait(p));
        p->DarkCountFile->setText(Q(Work("master_dark.kvr")));
        p->UseDarkCount->setChecked(true);
        p->UseFlatFile->setChecked(false);
        p->UsePixelList->setChecked(false);
        p->HotLevel->setValue(
            static_cast<int>(std::min(65000.0, darkMedian + 0.25 * (65535.0 - darkMedian))));
        modals.ExpectSaveFile(Q(Work("hot.csv")), QStringLiteral("Select save filename "));
        QTest::mouseClick(p->BrowseBtn4, Qt::LeftButton);
        ASSERT_EQ(modals.Pending(), 0);
        QTest::mouseClick(p->CreatePixelListBtn, Qt::LeftButton);
        ASSERT_TRUE(fs::is_regular_file(Work("hot.csv")));
        const std::string list = ReadFileBytes(Work("hot.csv"));
        const int listed = static_cast<int>(std::count(list.begin(), list.end(), '\n'));
        EXPECT_GE(listed, 1);
        EXPECT_LT(listed, 200) << "far more hot pixels than the sensor has";
        p->close();
    }

    void CalibrateLights()
    {
        TMultiProcessF *b = MultiProcessF;
        b->SelListBox->clear();
        for (int f = 0; f < 3; ++f)
            for (int n = 1; n <= 4; ++n)
                b->SelListBox->addItem(Q(Light(f, n)));
        std::vector<std::string> rawBytes;
        for (int f = 0; f < 3; ++f)
            rawBytes.push_back(ReadFileBytes(Light(f, 1)));
        b->HotPixelMapFile->setText(Q(Work("hot.csv")));
        b->ApplyDarkCount->setChecked(true);
        b->ApplyFlatField->setChecked(true);
        b->FixHotPixels->setChecked(true);
        b->FixBadColumns->setChecked(false);
        // First numbered after the second filter's lights, in the lights' own format: the first
        // result would be saved over a light the run has still to read. The batch refuses, naming
        // the file, and writes nothing.
        b->PreserveFileName->setChecked(false);
        b->OutputPrefix->setText(Q(Frames(FilterTags[1])));
        b->SaveFormat->setCurrentIndex(1);
        modals.ExpectMessage(QStringLiteral("Korvi"), Q(Light(1, 1)), QMessageBox::NoButton);
        QTest::mouseClick(b->ApplyCorrBtn, Qt::LeftButton);
        ASSERT_EQ(modals.Pending(), 0) << "the batch wrote its results over its inputs without a word";
        for (int f = 0; f < 3; ++f)
            ASSERT_EQ(ReadFileBytes(Light(f, 1)), rawBytes[f]) << "an input was overwritten";
        // Then with their own names into a folder of their own (not made yet), in the own format.
        b->PreserveFileName->setChecked(true);
        b->Suffix->setText(QString());
        b->UseOutputPath->setChecked(true);
        b->SaveFormat->setCurrentIndex(0);
        b->OutputPrefix->setText(Q(Work("cal/")));
        QTest::mouseClick(b->ApplyCorrBtn, Qt::LeftButton);
        for (int f = 0; f < 3; ++f) {
            EXPECT_EQ(ReadFileBytes(Light(f, 1)), rawBytes[f]) << "an input was overwritten";
            for (int n = 1; n <= 4; ++n) {
                const std::string path =
                    Work(std::string("cal/") + FilterTags[f] + "_" + std::to_string(n) + ".kvr");
                ASSERT_TRUE(fs::is_regular_file(path)) << path;
            }
            // The calibrated sky is flat across the frame: each quarter's median within a few
            // percent of the sky above the bias.
            const ImageData cal = Load(Work(std::string("cal/") + FilterTags[f] + "_1.kvr"));
            ASSERT_EQ(cal.Width, FrameWidth);
            const double sky = Median(Pixels(cal, 0, 0, FrameWidth - 1, FrameHeight - 1));
            EXPECT_GT(sky, 10.0);
            for (int q = 0; q < 4; ++q) {
                const int x0 = (q % 2) * FrameWidth / 2, y0 = (q / 2) * FrameHeight / 2;
                EXPECT_NEAR(Median(Pixels(cal, x0, y0, x0 + FrameWidth / 2 - 1, y0 + FrameHeight / 2 - 1)),
                            sky, 0.05 * sky)
                    << FilterTags[f] << " quarter " << q;
            }
        }
        b->close();
    }

    // Each filter's calibrated series registered on its brightest isolated star and stacked.
    void Stack(int filter)
    {
        TStackMultipleF *s = StackMultipleF;
        s->show();
        ASSERT_TRUE(ShowAndWait(s));
        const std::string first = Work(std::string("cal/") + FilterTags[filter] + "_1.kvr");
        modals.ExpectOpenFiles({Q(first)}, QStringLiteral("Select file name prefix"));
        QTest::mouseClick(s->BrowseBtn, Qt::LeftButton);
        ASSERT_EQ(modals.Pending(), 0);
        ASSERT_EQ(s->Prefix->text(), Q(Work(std::string("cal/") + FilterTags[filter] + "_")));
        s->FirstExtNum->setValue(1);
        s->LastExtNum->setValue(4);
        s->CombineMethod->setCurrentIndex(filter == 0 ? 0 : 1); // median for red, average for the others
        s->SaveFormat->setCurrentIndex(0);
        const std::string output = Work(std::string("stack_") + FilterTags[filter] + ".kvr");
        s->OutputPrefix->setText(Q(output));
        s->singleboxalignbtn->click();
        s->RefImgNum->setValue(1);
        QTest::mouseClick(s->OpenRefImgBtn, Qt::LeftButton);
        ASSERT_TRUE(s->ReferenceLoaded);
        const std::vector<Star> stars = IsolatedStars(Load(first));
        ASSERT_FALSE(stars.empty());
        const Star &star = stars.front();
        s->StackXLO1->setValue(static_cast<int>(star.x) - 8);
        s->StackXHI1->setValue(static_cast<int>(star.x) + 8);
        s->StackYLO1->setValue(static_cast<int>(star.y) - 8);
        s->StackYHI1->setValue(static_cast<int>(star.y) + 8);
        QTest::mouseClick(s->StackBtn, Qt::LeftButton);
        EXPECT_EQ(s->StatusBar1->currentMessage(), QStringLiteral("Done."));
        ASSERT_TRUE(fs::is_regular_file(output)) << "\"Done.\" without the stack on disk";
        const ImageData stack = Load(output);
        const ImageData single = Load(first);
        ASSERT_EQ(stack.Width, FrameWidth);
        ASSERT_EQ(stack.Height, FrameHeight);
        // On failure, what each frame of the series was: its light's time and the calibrated sky's
        // noise (a frame that integrated longer, or one the stack left out, reads here).
        std::string series;
        for (int n = 1; n <= 4; ++n) {
            const ImageData cal =
                Load(Work(std::string("cal/") + FilterTags[filter] + "_" + std::to_string(n) + ".kvr"));
            series += " frame " + std::to_string(n) + ": " + Load(Light(filter, n)).IntegrationTime +
                      " s, noise " + std::to_string(SkyNoise(cal)) + ";";
        }
        EXPECT_LT(SkyNoise(stack), 0.8 * SkyNoise(single)) << FilterTags[filter] << series;
        s->close();
    }

    void LoadLayer(TCompositeF *c, int layer, const std::string &path)
    {
        c->LayerBtn[layer]->click();
        modals.ExpectOpenFiles({Q(path)});
        c->LoadSingleImage1->trigger();
        ASSERT_EQ(modals.Pending(), 0);
        ASSERT_EQ(Composite().Layers[layer].Width, FrameWidth) << layer;
    }

    // Points at a layer's pixel in the alignment view and picks it as star 1 or 2.
    void PickStar(double x, double y, int star)
    {
        TAlignF *a = AlignF;
        const ImageData &layer = Composite().Layers[0];
        const double zx = double(a->OpenGLPanel->width()) / layer.Width;
        const double zy = double(a->OpenGLPanel->height()) / layer.Height;
        const QPointF at((x + 0.5) * zx, a->OpenGLPanel->height() - (y + 0.5) * zy);
        QMouseEvent move(QEvent::MouseMove, at, a->OpenGLPanel->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(a->OpenGLPanel, &move);
        (star == 1 ? a->SetReferenceStar1 : a->SetReferenceStar2)->trigger();
    }

    void Composite3Colours()
    {
        TCompositeF *c = CompositeF;
        c->show();
        ASSERT_TRUE(ShowAndWait(c));
        for (int f = 0; f < 3; ++f)
            LoadLayer(c, f, Work(std::string("stack_") + FilterTags[f] + ".kvr"));
        // Two stars far apart, found in the red stack, picked in every channel where they are.
        const ImageData redStack = Load(Work("stack_R.kvr"));
        ASSERT_EQ(Composite().Layers[0].FrameRow(0, 7)[9], redStack.FrameRow(0, 7)[9]);
        // Isolated stars: the brightest and the one farthest from it.
        std::vector<Star> alone = IsolatedStars(redStack);
        ASSERT_GE(alone.size(), 5u);
        Star a = alone[0], b = alone[1];
        for (const Star &s : alone)
            if (std::hypot(s.x - a.x, s.y - a.y) > std::hypot(b.x - a.x, b.y - a.y))
                b = s;
        c->AlignImages1->trigger();
        ASSERT_TRUE(ShowAndWait(AlignF));
        for (int f = 0; f < 3; ++f) {
            QTest::mouseClick(AlignF->ChannelButtons[f], Qt::LeftButton, {},
                              {8, AlignF->ChannelButtons[f]->height() / 2});
            ASSERT_TRUE(AlignF->ChannelButtons[f]->isChecked());
            const Star sa = CentroidNear(Composite().Layers[f], a.x, a.y),
                       sb = CentroidNear(Composite().Layers[f], b.x, b.y);
            PickStar(sa.x, sa.y, 1);
            PickStar(sb.x, sb.y, 2);
        }
        // The filters' stacks lie within a fraction of a pixel of one another already; the nudge
        // asks for a shift of the other channels that the alignment must add to its own, to the
        // tenth of a pixel.
        const double nudgeX = 1.5, nudgeY = -0.75;
        AlignF->nudge_x->setText(QStringLiteral("1.5"));
        AlignF->nudge_y->setText(QStringLiteral("-0.75"));
        QTest::mouseClick(AlignF->StackBtn, Qt::LeftButton);
        EXPECT_EQ(AlignF->StatusPanels[0]->text(), QStringLiteral("Done."));
        AlignF->close();
        // After the alignment the stars of the three filters lie on one another, the nudge apart:
        // the median over the brightest isolated stars.
        alone.resize(std::min<std::size_t>(alone.size(), 9));
        for (int f = 1; f < 3; ++f) {
            std::vector<double> misses;
            std::string where;
            for (const Star &s : alone) {
                const Star red = CentroidNear(Composite().Layers[0], s.x, s.y);
                const Star other = CentroidNear(Composite().Layers[f], red.x + nudgeX, red.y + nudgeY);
                misses.push_back(std::hypot(other.x - red.x - nudgeX, other.y - red.y - nudgeY));
                where += " (" + std::to_string(red.x) + ", " + std::to_string(red.y) +
                         "): " + std::to_string(misses.back());
            }
            EXPECT_LT(Median(misses), 0.1) << FilterTags[f] << where;
        }
        c->CompositeSelect->trigger();
        modals.ExpectSaveFile(Q(Work("night")));
        c->SaveComposite1->trigger();
        ASSERT_EQ(modals.Pending(), 0);
        EXPECT_TRUE(fs::is_regular_file(Work("night.qzn")));
        modals.ExpectSaveFile(Q(Work("night.bmp")));
        c->SaveBitmap1->trigger();
        ASSERT_EQ(modals.Pending(), 0);
        const QImage bitmap(Q(Work("night.bmp")));
        ASSERT_FALSE(bitmap.isNull());
        int redGreen = 0, greenBlue = 0;
        for (int y = 0; y < bitmap.height(); ++y)
            for (int x = 0; x < bitmap.width(); ++x) {
                const QRgb p = bitmap.pixel(x, y);
                redGreen += qRed(p) != qGreen(p);
                greenBlue += qGreen(p) != qBlue(p);
            }
        // The dark sky may come out black in every channel; the stars and the sky around them
        // carry the colour, so a grey composite (all channels equal) fails here.
        const int pixels = bitmap.width() * bitmap.height();
        EXPECT_GT(redGreen, pixels / 100);
        EXPECT_GT(greenBlue, pixels / 100);
        c->close();
    }

    void RedStackAsFits()
    {
        ASSERT_EQ(main->LoadImageFiles({Q(Work("stack_R.kvr"))}), 1);
        modals.ExpectSaveFile(Q(Work("red.fit")), QStringLiteral("Select save file name"),
                              QStringLiteral("FITS"));
        main->SaveAs->trigger();
        ASSERT_EQ(modals.Pending(), 0);
        const ImageData kvr = Load(Work("stack_R.kvr")), fits = Load(Work("red.fit"));
        EXPECT_EQ(fits.OriginFormat, FormatFits);
        ASSERT_EQ(fits.Width, kvr.Width);
        ASSERT_EQ(fits.Height, kvr.Height);
        EXPECT_TRUE(
            std::equal(kvr.FramePixels(0), kvr.FramePixels(0) + kvr.PixelCount(), fits.FramePixels(0)));
    }

    void QuitAndRestart()
    {
        main->TempUpdate->click();
        main->CloseAll->trigger();
        EXPECT_TRUE(main->ImageWindows().empty());
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("Are you sure you want to leave Korvi?"),
                             QMessageBox::Ok);
        main->close();
        ASSERT_TRUE(NightWait([&] { return !main->isVisible(); }, 10000));
        ASSERT_EQ(modals.Pending(), 0);
        Settings saved;
        ASSERT_TRUE(saved.LoadFromFile((programDir() / DefaultSettingsFile).string()));
        EXPECT_EQ(saved.InitExt[0], 2);
        EXPECT_EQ(saved.SaveFile[0], Frames("m42"));
        main.reset();
        StartProgram();
        EXPECT_EQ(main->InitExt->value(), 2);
        main->Acquire->trigger();
        ASSERT_TRUE(WaitForAcquisition());
        EXPECT_TRUE(fs::is_regular_file(Frames("m42_2.fit")));
    }

    TempDir folder;
    std::unique_ptr<TMainF> main;
    std::unique_ptr<GuideLog> guideLog;
    std::vector<std::uint16_t> cloud; // a guide box of the sensor's sky, noise and hot pixels, no star
    double scriptStart = 0.0;         // simulator time
    ModalScript modals;               // every box of the night is expected by name, any other one fails
};

TEST_F(WholeNight, FromFirstStartToRestart)
{
    ASSERT_NO_FATAL_FAILURE(TypeFramesFolderAndSubframe());
    ASSERT_NO_FATAL_FAILURE(Cool());
    ASSERT_NO_FATAL_FAILURE(Focus());
    ASSERT_NO_FATAL_FAILURE(StartGuiding());
    ASSERT_NO_FATAL_FAILURE(WriteAndLoadScript());
    ASSERT_NO_FATAL_FAILURE(RunScriptBesideGuiding());
    ASSERT_NO_FATAL_FAILURE(StopGuiding());
    ASSERT_NO_FATAL_FAILURE(CheckScriptFrames());
    ASSERT_NO_FATAL_FAILURE(BuildMasterFramesAndHotPixels());
    ASSERT_NO_FATAL_FAILURE(CalibrateLights());
    for (int f = 0; f < 3; ++f)
        ASSERT_NO_FATAL_FAILURE(Stack(f));
    ASSERT_NO_FATAL_FAILURE(Composite3Colours());
    ASSERT_NO_FATAL_FAILURE(RedStackAsFits());
    ASSERT_NO_FATAL_FAILURE(QuitAndRestart());
    EXPECT_EQ(modals.Pending(), 0);
}

} // namespace
