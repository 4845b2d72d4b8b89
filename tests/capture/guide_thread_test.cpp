// The guide thread against the simulated camera and mount, with the process time running twenty
// times faster: a calibration recovers the mount's rates and axis angle, guiding holds the star
// against a drift, pulses end within their cycle and a stopped run always stops the mount, a busy
// link is reported once, guider frames are named and saved, a start waits for the last run to
// end, another thread's readouts do not lengthen a guide frame, and guiding runs beside an
// imaging acquisition.
#include "acquisition_thread.h"
#include "camera_lock.h"
#include "capture_test_support.h"
#include "guiding/guide_thread.h"
#include "main_window.h"
#include "program_windows.h"
#include "script_thread.h"
#include "script_window.h"
#include "settings.h"
#include "simulator/controller.h"
#include "simulator/sim_control.h"
#include "time_scale.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <thread>

using namespace korvi::test;
namespace sim = korvi::sim;

namespace
{

const QString UsbCaption = QStringLiteral("Korvi USB device error");

// The window's part, recorded. Every call comes on the GUI thread.
class TestOwner : public GuideThreadOwner
{
public:
    struct Position {
        double x, y, time; // mount offset (arcseconds) and simulator time when a frame was shown
        double light;      // the seconds the frame integrated, as the simulated sensor saw it
    };
    std::atomic<bool> acquiring{false}, continuous{false};
    std::atomic<bool> &GuideAcquiring() override { return acquiring; }
    std::atomic<bool> &GuideContinuous() override { return continuous; }
    void ShowGuideStatus(const QString &text) override { statuses.push_back(text); }
    void ShowGuideImageName(const QString &text) override { names.push_back(text); }
    void ShowGuideFrame(const ImageData &frame, GuideFrameView) override
    {
        const sim::Snapshot s = sim::GetSnapshot();
        positions.push_back({s.mountX, s.mountY, s.time, s.cameras[1].lastLightSeconds});
        image.Assign(frame);
    }
    void ShowGuideNotice(const QString &text) override
    {
        notices.push_back(text);
        noticeTimes.push_back(sim::Now());
    }
    void ShowGuideOffset(float dx, float dy) override { offsets.push_back({dx, dy}); }
    void ShowGuideDirections(const std::array<bool, 4> &) override {}
    bool SaveGuideFrame(ImageData &frame, int format) override
    {
        saved.push_back(frame.FileName + "/" + std::to_string(format));
        return true;
    }
    std::string StoreCalibration(const CalibrationResult &result) override
    {
        calibration = result;
        calibrated = true;
        return result.ok ? "Status: Calibrated." : "Status: Calibration failed.";
    }
    void StartGuideTimer(int ms) override { timerIntervals.push_back(ms); }
    void GuideRunFinished(const QString &failureText) override
    {
        acquiring = false;
        continuous = false;
        failure = failureText;
        ++finished;
    }
    bool Saw(const QString &status) const
    {
        return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
    }

    std::vector<QString> statuses, names, notices;
    std::vector<double> noticeTimes; // simulator time of each notice
    std::vector<Position> positions;
    std::vector<std::pair<float, float>> offsets;
    std::vector<std::string> saved;
    std::vector<int> timerIntervals;
    ImageData image;
    CalibrationResult calibration;
    bool calibrated = false;
    int finished = 0;
    QString failure;
};

// Answers the USB error box with OK (after ending the injected fault) and records every box.
class UsbBoxAnswerer
{
public:
    UsbBoxAnswerer()
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            captions.push_back(box->windowTitle());
            // Whoever shows the box does not hold the camera meanwhile.
            cameraFreeDuringBox.push_back(korvi::gui::CameraLock(korvi::gui::CameraLock::TryOnly).Owns());
            sim::ClearFaults();
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        });
        timer_.start();
    }
    std::vector<QString> captions;
    std::vector<bool> cameraFreeDuringBox;

private:
    QTimer timer_;
};

// The mount's image motion on the guiding sensor, pixels per second, for one direction.
GuideRate SimulatorRate(const sim::Config &c, int direction)
{
    const double a = c.mountRotationDegrees * std::numbers::pi / 180.0;
    const double k = c.guideRate / c.guiding.pixelScale;
    const double east[2] = {std::cos(a), std::sin(a)}, north[2] = {-std::sin(a), std::cos(a)};
    const double *axis = direction == GuideEast || direction == GuideWest ? east : north;
    const double sign = direction == GuideWest || direction == GuideSouth ? -1.0 : 1.0;
    return {static_cast<float>(sign * k * axis[0]), static_cast<float>(sign * k * axis[1])};
}

GuideSettings Settings211(int mode)
{
    GuideSettings s;
    s.GuideMode = mode;
    s.NCOL = 211;
    s.NROW = 165;
    s.XLO = 0;
    s.XHI = 210;
    s.YLO = 0;
    s.YHI = 164;
    s.NClear = 2;
    s.IntTime = 1.0f;
    s.Delay = 0.0f;
    s.InitExt = 1;
    s.NImage = 3;
    s.Display = true;
    s.GuideDetent = 5;
    s.GuideMaxExcursion = 5;
    s.UseKEDRO = false; // four-wire: the slew word is on the wire as it is
    s.SaveFile = "Guide";
    return s;
}

// Guide mode on the 211 x 165 frame with the rates the simulated mount really has.
GuideSettings GuidingAtSimulatorRates(const sim::Config &c)
{
    GuideSettings s = Settings211(1);
    for (int d = 0; d < 4; ++d)
        s.GuideRates[d] = SimulatorRate(c, d);
    return s;
}

// Simulator times and direction bits of every four-wire slew word written.
std::vector<std::pair<double, int>> SlewWords()
{
    std::vector<std::pair<double, int>> words;
    for (const sim::CallRecord &call : sim::CallLog())
        if (call.function == "FT_Write" && call.written.size() == 2 && call.written[0] == 20)
            words.push_back({call.time, call.written[1]});
    return words;
}

using Words = std::vector<std::uint16_t>;
constexpr int GuideColumns = 211, GuideRows = 165;
// Where the simulated guide star lies on the guiding sensor with the mount at its origin.
constexpr double GuideStarX = 0.47 * GuideColumns, GuideStarY = 0.53 * GuideRows;

// A 1 s frame of the simulated guiding sensor as it is (bias, sky, noise and its hot pixels),
// read by an acquisition run of the guide thread with the mount set to (x, y) arcseconds.
Words SensorFrame(double x, double y)
{
    TestOwner owner;
    GuideRunner runner(&owner);
    sim::SetMountOffset(x, y);
    GuideSettings s = Settings211(0);
    s.NImage = 1;
    Words words;
    if (!runner.Start(s) || !WaitFor([&] { return owner.finished && !runner.Running(); }, 20000) ||
        owner.image.Width != GuideColumns || owner.image.Height != GuideRows)
        return words;
    for (int y = 0; y < GuideRows; ++y)
        words.insert(words.end(), owner.image.Rows[y], owner.image.Rows[y] + GuideColumns);
    return words;
}

// A cloud: the pixel-wise minimum of two sensor frames taken 60 px apart. The sky, the noise and
// the hot pixels stay; no star does.
Words CloudFrame()
{
    const Words a = SensorFrame(0.0, 0.0), b = SensorFrame(300.0, 0.0);
    Words cloud(a.size());
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        cloud[i] = std::min(a[i], b[i]);
    return cloud;
}

void Replay(const Words &words)
{
    sim::SetReplayFrame(1, std::make_shared<const Words>(words));
}

// Slew words that move the mount (any direction bit set) in the simulator time span (from, to).
int PulsesBetween(double from, double to)
{
    int n = 0;
    for (const auto &[time, bits] : SlewWords())
        n += bits != 0 && time > from && time < to ? 1 : 0;
    return n;
}

// Another thread reading frames out one after another, as an imaging run does: it holds the camera
// for `hold` seconds at a time (a readout, which waits for reservations), `gap` seconds apart,
// until it is destroyed. Records the simulator time each hold began.
class BusyReader
{
public:
    BusyReader(double hold, double gap)
        : thread_([this, hold, gap] {
              while (reading_) {
                  {
                      korvi::gui::CameraLock lock(korvi::gui::CameraLock::Readout);
                      starts_.push_back(sim::Now());
                      korvi::ScaledSleep(hold);
                  }
                  korvi::ScaledSleep(gap);
              }
          })
    {
    }
    ~BusyReader() { Stop(); }
    // Ends the reading and returns when each hold began.
    const std::vector<double> &Stop()
    {
        reading_ = false;
        if (thread_.joinable())
            thread_.join();
        return starts_;
    }

private:
    std::atomic<bool> reading_{true};
    std::vector<double> starts_;
    std::thread thread_;
};

// Waits until the run has guided this many cycles, or has ended.
bool WaitForGuideCycles(GuideRunner &runner, const TestOwner &owner, int cycles, int ms = 60000)
{
    return WaitFor([&] { return runner.Thread()->GuideCycles() >= cycles || owner.finished; }, ms);
}

class GuideThreadTest : public ::testing::Test
{
protected:
    void Start(const sim::Config &config, const GuideSettings &settings)
    {
        this->config = config;
        sim::Reset(config);
        ASSERT_TRUE(runner.Start(settings));
    }
    bool WaitForCycles(int cycles, int ms = 60000) { return WaitForGuideCycles(runner, owner, cycles, ms); }
    bool StopAndWait()
    {
        owner.acquiring = false;
        return WaitFor([&] { return owner.finished && !runner.Running(); }, 20000);
    }
    void TearDown() override
    {
        runner.Shutdown();
        sim::ClearFaults();
    }

    sim::Config config;
    TestOwner owner;
    GuideRunner runner{&owner};
};

// Beside an imaging run whose readouts hold the camera four seconds at a time: no readout holds
// a slew's stop back, and the rates hold however long the machine made a slew last.
TEST_F(GuideThreadTest, CalibrationRecoversTheMountsRatesAndAxisAngle)
{
    sim::Config c;
    c.driftX = 0.1; // arcseconds per second: a slow drift the calibration takes off
    c.driftY = -0.1;
    Start(c, Settings211(2));
    BusyReader imaging(4.0, 0.5);
    ASSERT_TRUE(WaitFor([&] { return owner.finished > 0; }, 60000));
    imaging.Stop();
    ASSERT_TRUE(owner.calibrated);
    ASSERT_TRUE(owner.calibration.ok) << owner.calibration.problem;
    for (int d : {GuideEast, GuideWest, GuideNorth, GuideSouth}) {
        const GuideRate want = SimulatorRate(c, d), got = owner.calibration.rates[d];
        EXPECT_LT(std::hypot(got.x - want.x, got.y - want.y), 0.1 * std::hypot(want.x, want.y))
            << d << ": " << got.x << "," << got.y << " against " << want.x << "," << want.y;
    }
    const GuideRate east = owner.calibration.rates[GuideEast];
    const double angle = std::atan2(east.y, east.x) * 180.0 / std::numbers::pi;
    EXPECT_NEAR(angle, c.mountRotationDegrees, 0.1 * c.mountRotationDegrees);
    // The check slew went within 10 % of where the measured rates put it.
    EXPECT_LT(owner.calibration.checkRatio, 0.10f);
    // Seven frames, the steps in order, and the mount left still.
    EXPECT_EQ(sim::GetSnapshot().cameras[1].readouts, 7u);
    EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
    std::vector<QString> steps;
    for (const QString &s : owner.statuses)
        if (!s.startsWith(QStringLiteral("Elapsed")) && (steps.empty() || steps.back() != s))
            steps.push_back(s);
    const std::vector<QString> expected = {"Status: Integrating (1).",
                                           "Status: Determining drift rate.",
                                           "Status: Integrating (2).",
                                           "Status: Processing (1,2).",
                                           "Status: Slewing GuiderF->East.",
                                           "Status: Integrating (3).",
                                           "Status: Processing (2,3).",
                                           "Status: Slewing GuiderF->West.",
                                           "Status: Integrating (4).",
                                           "Status: Processing (3,4).",
                                           "Status: Slewing GuiderF->North.",
                                           "Status: Integrating (5).",
                                           "Status: Slewing GuiderF->North.",
                                           "Status: Integrating (6).",
                                           "Status: Processing (5,6).",
                                           "Status: Slewing north.",
                                           "Status: Integrating (7).",
                                           "Status: Processing (6,7).",
                                           "Status: Calibrated."};
    EXPECT_EQ(steps, expected);
    // The steps also stay on the guide page while the waits count their seconds.
    EXPECT_EQ(owner.notices.front(), QStringLiteral("Calibrating: Determining drift rate."));
    EXPECT_EQ(owner.notices.back(), QStringLiteral("Calibrating: Slewing north."));
}

TEST_F(GuideThreadTest, CalibrationWithoutMotionIsRefused)
{
    sim::Config c;
    c.guideRate = 0.0; // the mount does not answer the slews
    Start(c, Settings211(2));
    ASSERT_TRUE(WaitFor([&] { return owner.finished > 0; }, 60000));
    ASSERT_TRUE(owner.calibrated);
    EXPECT_FALSE(owner.calibration.ok);
    EXPECT_EQ(owner.calibration.problem, "no measurable motion east");
}

// A calibration frame that the link does not deliver (no pixels sent; the USB box answered OK), or
// one whose star a cloud hides, ends the calibration at once with a box that says so: the rates
// measured so far are not stored.
TEST_F(GuideThreadTest, ACalibrationFrameNotReadOrWithoutItsStarEndsTheCalibration)
{
    sim::Config c;
    sim::Reset(c);
    const Words cloud = CloudFrame();
    ASSERT_EQ(cloud.size(), std::size_t(GuideColumns * GuideRows));
    for (int frame = 1; frame <= 8; ++frame) {
        const bool clouded = frame == 8; // frame 4 under a cloud
        const int n = clouded ? 4 : frame;
        SCOPED_TRACE(frame);
        UsbBoxAnswerer boxes;
        TestOwner owner;
        GuideRunner runner(&owner);
        sim::Reset(c);
        ASSERT_TRUE(runner.Start(Settings211(2)));
        // Frame n's readout begins after frame n - 1's: the fault is in place before it.
        ASSERT_TRUE(
            WaitFor([&] { return sim::GetSnapshot().cameras[1].readouts >= unsigned(n - 1); }, 60000));
        if (clouded) {
            Replay(cloud);
        } else {
            sim::Faults unread;
            unread.frameBytes = 0;
            sim::SetFaults(unread);
        }
        ASSERT_TRUE(WaitFor([&] { return owner.finished && !runner.Running(); }, 60000));
        sim::SetReplayFrame(1, nullptr);
        sim::ClearFaults();
        ASSERT_TRUE(owner.calibrated);
        EXPECT_FALSE(owner.calibration.ok);
        const QString why =
            clouded ? QStringLiteral("the star was lost in frame 4 (no star stands above the background)")
                    : QStringLiteral("frame %1 could not be read").arg(n);
        EXPECT_EQ(owner.failure, QStringLiteral("Calibration failed: ") + why +
                                     QStringLiteral(". The previous guide rates were kept."));
        EXPECT_EQ(owner.calibration.problem, why.toStdString());
        EXPECT_EQ(sim::GetSnapshot().cameras[1].readouts, unsigned(n));
        EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
        EXPECT_EQ(boxes.captions.size(), clouded ? 0u : 1u);
    }
}

TEST_F(GuideThreadTest, GuidingHoldsTheStarWhileTheDriftWouldCarryItAway)
{
    sim::Config c;
    c.driftX = 0.15; // 0.03 and 0.02 pixels per second on the guiding sensor
    c.driftY = 0.1;
    const GuideSettings s = GuidingAtSimulatorRates(c);
    Start(c, s);
    ASSERT_TRUE(WaitForCycles(28));
    ASSERT_TRUE(StopAndWait());
    ASSERT_GE(owner.positions.size(), 29u);
    // Star position at each frame against the reference frame, pixels.
    const TestOwner::Position first = owner.positions.front();
    double sum = 0.0;
    for (std::size_t i = 1; i < owner.positions.size(); ++i) {
        const double dx = (owner.positions[i].x - first.x) / c.guiding.pixelScale;
        const double dy = (owner.positions[i].y - first.y) / c.guiding.pixelScale;
        sum += dx * dx + dy * dy;
    }
    const double rms = std::sqrt(sum / static_cast<double>(owner.positions.size() - 1));
    const double unguided =
        std::hypot(c.driftX, c.driftY) / c.guiding.pixelScale * (owner.positions.back().time - first.time);
    EXPECT_LT(rms, 0.5);
    EXPECT_GT(unguided, 5.0);
    EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
    EXPECT_EQ(owner.timerIntervals.front(), 5001);
    EXPECT_TRUE(owner.failure.isEmpty()) << owner.failure.toStdString();
}

TEST_F(GuideThreadTest, PulsesEndWithinTheirCycleAndAStopMidPulseStopsTheMount)
{
    sim::Config c;
    c.driftX = 2.0; // far more than these slow rates can take back: every pulse hits the cap
    c.driftY = 0.0;
    GuideSettings s = Settings211(1);
    s.GuideRates = {GuideRate{0.02f, 0.0f}, GuideRate{-0.02f, 0.0f}, GuideRate{0.0f, 0.02f},
                    GuideRate{0.0f, -0.02f}};
    Start(c, s);
    ASSERT_TRUE(WaitForCycles(2));
    // In the third cycle's pulse, stop.
    ASSERT_TRUE(WaitFor([&] {
        const auto words = SlewWords();
        return words.size() >= 5 && words.back().second != 0;
    }));
    const double stopAt = sim::Now();
    ASSERT_TRUE(StopAndWait());
    const auto words = SlewWords();
    // Each pulse of a full cycle lasted the detent, not the minute its rate asked for: from the
    // word that starts it to the word that stops every direction.
    std::vector<double> pulses;
    double start = -1.0;
    for (const auto &[time, bits] : words) {
        if (bits != 0 && start < 0.0)
            start = time;
        else if (bits == 0 && start >= 0.0) {
            pulses.push_back(time - start);
            start = -1.0;
        }
    }
    ASSERT_GE(pulses.size(), 3u);
    for (std::size_t i = 0; i + 1 < pulses.size(); ++i) {
        EXPECT_GE(pulses[i], 5.0 - 0.05) << i;
        // Within its cycle (the detent and the 1 s exposure); 50 ms of real time for a busy machine.
        EXPECT_LT(pulses[i], 5.0 + 1.0) << i;
    }
    EXPECT_LT(pulses.back(), 5.0);
    // The stop went out at once after the run was stopped, long before the pulse it cut short
    // would have ended.
    EXPECT_EQ(words.back().second, 0);
    EXPECT_LT(words.back().first - stopAt, 2.5);
    EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
}

// The stop at the end of a run: refused once, it is sent again without troubling the observer;
// refused while the link stays busy, the observer is told that the mount may still be moving,
// in a box that stays until answered, and OK sends it again.
TEST_F(GuideThreadTest, AStopTheLinkRefusesIsSentUntilTakenOrTheObserverIsTold)
{
    sim::Config c;
    c.driftX = 2.0; // east-west only: a long east-west pulse and no north-south one
    c.driftY = 0.0;
    GuideSettings s = Settings211(1);
    s.GuideRates = {GuideRate{0.02f, 0.0f}, GuideRate{-0.02f, 0.0f}, GuideRate{0.0f, 0.02f},
                    GuideRate{0.0f, -0.02f}};
    // Refused once; refused while the link stays busy, answered with OK once it is free again, or
    // answered with Cancel.
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode);
        const bool staysBusy = mode > 0, cancel = mode == 2;
        TestOwner owner;
        GuideRunner runner(&owner);
        sim::Reset(c);
        ASSERT_TRUE(runner.Start(s));
        ASSERT_TRUE(WaitFor([&] { return runner.Thread()->GuideCycles() >= 1; }, 60000));
        ASSERT_TRUE(WaitFor([&] { return sim::GetSnapshot().slewBits != 0; }));
        sim::Faults refuse;
        if (staysBusy)
            refuse.busy = true; // held elsewhere, far longer than a second
        else
            refuse.failures.push_back({"FT_Open", 1, FT_DEVICE_NOT_OPENED, false});
        sim::SetFaults(refuse);
        owner.acquiring = false;
        // Every box is recorded; it is answered only after it has stayed up a while, with the
        // link free again.
        std::vector<QString> boxes;
        bool movingWhenAsked = false;
        QTimer answerer;
        answerer.setInterval(5);
        QElapsedTimer shown;
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (!shown.isValid()) {
                shown.start();
                boxes.push_back(box->windowTitle() + QStringLiteral(": ") + box->text());
                return;
            }
            if (shown.elapsed() < 300)
                return;
            shown.invalidate();
            movingWhenAsked = sim::GetSnapshot().slewBits != 0;
            if (cancel) {
                box->button(QMessageBox::Cancel)->click();
                return;
            }
            sim::ClearFaults();
            box->button(QMessageBox::Ok)->click();
        });
        answerer.start();
        ASSERT_TRUE(WaitFor([&] { return owner.finished && !runner.Running(); }, 20000));
        answerer.stop();
        // What stays on the status bar and the guide page says how the run ended.
        ASSERT_FALSE(owner.notices.empty());
        if (cancel) {
            EXPECT_NE(sim::GetSnapshot().slewBits, 0);
            EXPECT_EQ(owner.statuses.back(), QStringLiteral("Status: The mount may still be moving."));
            EXPECT_TRUE(owner.notices.back().contains(QStringLiteral("the mount may still be moving")))
                << owner.notices.back().toStdString();
        } else {
            EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
            EXPECT_EQ(SlewWords().back().second, 0);
            EXPECT_EQ(owner.statuses.back(), QStringLiteral("Status: Guiding stopped."));
            EXPECT_EQ(owner.notices.back(), QStringLiteral("Guiding stopped."));
        }
        if (staysBusy) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_TRUE(boxes[0].startsWith(QStringLiteral("Korvi: ")));
            EXPECT_TRUE(boxes[0].contains(QStringLiteral("the mount may still be moving")))
                << boxes[0].toStdString();
            EXPECT_TRUE(movingWhenAsked);
        } else {
            EXPECT_TRUE(boxes.empty());
        }
        sim::ClearFaults();
    }
}

// A box waits alone. Each row raises one link error on one kind of thread while the guide thread
// pulses (every pulse hits its 5 s cap) and holds the "Korvi USB device error" box for 40 program
// seconds: the camera is free while the box is up, and every pulse on the wire, including those
// that fell due meanwhile, ended within its length plus half a second.
TEST_F(GuideThreadTest, ABoxHeldFortySecondsOnAnyThreadLetsEveryPulseEndOnTime)
{
    enum Site { GuideThread, MainWindowCommand, ImagingThread, ScriptThread };
    // A slow drift against rates far too small: every pulse runs to its cap, and the star stays
    // well inside the search range for the whole row (a faster drift took it out, and a lost star
    // sends no pulse, so how many pulses fell in the box depended on the machine's speed).
    sim::Config c;
    c.driftX = 0.5;
    c.driftY = 0.0;
    GuideSettings s = Settings211(1);
    s.GuideRates = {GuideRate{0.02f, 0.0f}, GuideRate{-0.02f, 0.0f}, GuideRate{0.0f, 0.02f},
                    GuideRate{0.0f, -0.02f}};
    ProgramFolder folder;
    sim::Reset(c);
    auto main = std::make_unique<TMainF>(folder.Dir(), QStringList());
    CreateProgramWindows(main.get());
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    Settings &settings = CurrentSettings();
    settings.TempUpdate = false;
    settings.XLO[0] = 0;
    settings.XHI[0] = 63;
    settings.YLO[0] = 0;
    settings.YHI[0] = 31;
    // Only short commands beside the guide pulses: no clearing scans (which hold the link for
    // seconds), amplifier and coolers left alone.
    settings.NClear[0] = 0;
    settings.AmpTurnoff[0] = false;
    settings.ReadoutCoolingDisable[0] = false;
    settings.NImage[0] = 1000;
    settings.IntTime[0] = 1.0f;
    settings.Delay[0] = 0.0f;
    settings.SaveRawImage = false;
    settings.DisplayImage = false;
    main->ApplySettingsToControls();

    for (const Site site : {GuideThread, MainWindowCommand, ImagingThread, ScriptThread}) {
        SCOPED_TRACE(static_cast<int>(site));
        TestOwner owner;
        GuideRunner runner(&owner);
        sim::Reset(c);
        ASSERT_TRUE(runner.Start(s));
        ASSERT_TRUE(WaitFor([&] { return runner.Thread()->GuideCycles() >= 1; }, 60000));
        ASSERT_TRUE(WaitFor([&] { return sim::GetSnapshot().slewBits != 0; }));
        // Program times of each box's showing and answer, and whether the camera was free while it
        // was up (at some moment: another thread's short command may hold it at any one).
        struct Box {
            double shown = 0.0, answered = -1.0;
            bool cameraFree = false;
        };
        std::vector<Box> boxes;
        std::vector<QString> others;
        QTimer holder;
        holder.setInterval(5);
        QObject::connect(&holder, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (box->windowTitle() != UsbCaption) {
                others.push_back(box->text());
                box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
                return;
            }
            if (boxes.empty() || boxes.back().answered >= 0.0) {
                boxes.push_back(
                    {sim::Now(), -1.0, korvi::gui::CameraLock(korvi::gui::CameraLock::TryOnly).Owns()});
                return;
            }
            if (!boxes.back().cameraFree)
                boxes.back().cameraFree = korvi::gui::CameraLock(korvi::gui::CameraLock::TryOnly).Owns();
            if (sim::Now() - boxes.back().shown < 40.0)
                return;
            sim::ClearFaults();
            boxes.back().answered = sim::Now();
            box->button(QMessageBox::Ok)->click();
        });
        holder.start();
        sim::Faults faults;
        if (site == GuideThread || site == MainWindowCommand)
            faults.failures.push_back({"FT_Open", 1, FT_DEVICE_NOT_OPENED, false});
        else // the imaging camera's temperature read, refused
            faults.failures.push_back({"FT_Write", 1, FT_IO_ERROR, false, {31, 0}});
        sim::SetFaults(faults);
        if (site == MainWindowCommand) {
            main->CCDReadTempBtnClick();
            EXPECT_EQ(main->CCD0Temp->text(), QStringLiteral("Imaging camera CCD temperature: not read"));
        } else if (site == ImagingThread) {
            main->Acquire->trigger();
        } else if (site == ScriptThread) {
            ScriptF->ScriptEdit->setPlainText(
                QStringLiteral("XLO 0\nXHI 63\nYLO 0\nYHI 31\nXBIN 1\nYBIN 1\nREAD 0\n"));
            ScriptF->ScriptEdit->document()->setModified(false);
            QTest::mouseClick(ScriptF->RunBtn, Qt::LeftButton);
        }
        EXPECT_TRUE(WaitFor([&] { return !boxes.empty() && boxes.front().answered >= 0.0; }, 60000));
        main->Acquiring = false;
        ASSERT_TRUE(WaitFor([&] { return !main->AcquisitionThreadRunning(); }, 20000));
        ASSERT_TRUE(
            WaitFor([&] { return !(ScriptF->ScriptThread && ScriptF->ScriptThread->isRunning()); }, 20000));
        owner.acquiring = false;
        ASSERT_TRUE(WaitFor([&] { return owner.finished && !runner.Running(); }, 20000));
        holder.stop();
        sim::ClearFaults();
        EXPECT_TRUE(others.empty()) << others.front().toStdString();
        ASSERT_FALSE(boxes.empty());
        EXPECT_TRUE(boxes.front().cameraFree);
        EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
        // Every pulse, from the word that starts it to the word that stops it.
        int endedDuringBox = 0;
        double start = -1.0;
        for (const auto &[time, bits] : SlewWords()) {
            if (bits != 0 && start < 0.0) {
                start = time;
            } else if (bits == 0 && start >= 0.0) {
                EXPECT_LT(time - start, 5.0 + 0.5) << "pulse from " << start;
                endedDuringBox += time > boxes.front().shown && time < boxes.front().answered ? 1 : 0;
                start = -1.0;
            }
        }
        // The guide thread asks about its own refused pulse end once the pulse is over; every other
        // thread's box is up while the guide thread goes on pulsing.
        if (site != GuideThread) {
            EXPECT_GE(endedDuringBox, 3);
        }
    }
    main->ClosingDone = true;
}

// Clouds (frames of the guiding sensor with no star) and saturated frames in the middle of a
// guiding run with drift: no pulse
// while the star cannot be measured, so the mount moves only by the drift; one lasting message
// says the star is lost, guiding resumes by itself, and after MaxLostCycles lost cycles in a row
// the run stops with a message.
TEST_F(GuideThreadTest, ALostOrSaturatedStarSendsNoPulseAndGuidingResumes)
{
    sim::Config c;
    c.driftX = 0.15; // 0.03 and 0.02 pixels per second on the guiding sensor
    c.driftY = 0.1;
    const GuideSettings s = GuidingAtSimulatorRates(c);
    sim::Reset(c);
    const Words cloud = CloudFrame();
    ASSERT_EQ(cloud.size(), std::size_t(GuideColumns * GuideRows));
    const Words saturated(cloud.size(), 65535);
    for (const Words *frame : {&cloud, &saturated}) {
        SCOPED_TRACE(frame == &cloud ? "cloud" : "saturated");
        TestOwner owner;
        GuideRunner runner(&owner);
        sim::Reset(c);
        ASSERT_TRUE(runner.Start(s));
        ASSERT_TRUE(WaitFor([&] { return runner.Thread()->GuideCycles() >= 4 || owner.finished; }, 60000));
        // The episode: six cycles of frames that hold no star.
        const std::size_t before = owner.positions.size();
        Replay(*frame);
        const int start = runner.Thread()->GuideCycles();
        ASSERT_TRUE(
            WaitFor([&] { return runner.Thread()->GuideCycles() >= start + 6 || owner.finished; }, 60000));
        sim::SetReplayFrame(1, nullptr);
        const std::size_t after = owner.positions.size();
        ASSERT_TRUE(
            WaitFor([&] { return runner.Thread()->GuideCycles() >= start + 16 || owner.finished; }, 60000));
        EXPECT_FALSE(owner.finished);
        // During the episode the mount moved by the drift alone (no pulse).
        const TestOwner::Position a = owner.positions[before - 1], b = owner.positions[after - 1];
        const double moved = std::hypot(b.x - a.x, b.y - a.y) / c.guiding.pixelScale;
        const double drift = std::hypot(c.driftX, c.driftY) / c.guiding.pixelScale * (b.time - a.time);
        EXPECT_LT(moved, drift + 0.5) << moved << " px against a drift of " << drift;
        // After it, the star is held again.
        const TestOwner::Position first = owner.positions.front();
        double sum = 0.0;
        int n = 0;
        for (std::size_t i = owner.positions.size() - 5; i < owner.positions.size(); ++i, ++n) {
            const double dx = (owner.positions[i].x - first.x) / c.guiding.pixelScale;
            const double dy = (owner.positions[i].y - first.y) / c.guiding.pixelScale;
            sum += dx * dx + dy * dy;
        }
        EXPECT_LT(std::sqrt(sum / n), 1.0);
        // One lasting message for the episode, then one that guiding resumed.
        const auto lost = std::count_if(owner.notices.begin(), owner.notices.end(), [](const QString &t) {
            return t.startsWith(QStringLiteral("Star lost at "));
        });
        EXPECT_EQ(lost, 1);
        ASSERT_FALSE(owner.notices.empty());
        EXPECT_TRUE(owner.notices.back().startsWith(QStringLiteral("Guiding resumed at ")))
            << owner.notices.back().toStdString();

        // A star that does not come back: the run stops with a message after the limit.
        Replay(*frame);
        ASSERT_TRUE(WaitFor([&] { return owner.finished && !runner.Running(); }, 60000));
        EXPECT_TRUE(owner.failure.startsWith(
            QStringLiteral("Guiding stopped: the star was lost for %1 cycles in a row")
                .arg(TGuiderThread::MaxLostCycles)))
            << owner.failure.toStdString();
        EXPECT_EQ(owner.statuses.back(), QStringLiteral("Status: Guiding stopped; star lost."));
        EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
        sim::SetReplayFrame(1, nullptr);
    }
}

// A cloud of 30 s (frames of the guiding sensor's own sky, noise and hot pixels, without the star)
// while the mount drifts 1.0, 0.6 arcseconds a second, on twelve star fields: the mount moves by
// the drift alone, one lasting message says the star is lost, and guiding brings the star back
// after it.
TEST_F(GuideThreadTest, ACloudOnAnySkySendsNoPulseAndGuidingResumesAfterIt)
{
    sim::Config c;
    c.driftX = 1.0;
    c.driftY = 0.6;
    GuideSettings s = GuidingAtSimulatorRates(c);
    s.GuideDetent = 2;
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        c.seed = seed;
        sim::Reset(c);
        const Words cloud = CloudFrame();
        ASSERT_EQ(cloud.size(), std::size_t(GuideColumns * GuideRows));
        TestOwner owner;
        GuideRunner runner(&owner);
        sim::Reset(c);
        ASSERT_TRUE(runner.Start(s));
        ASSERT_TRUE(WaitForGuideCycles(runner, owner, 4));
        const std::size_t before = owner.positions.size();
        Replay(cloud);
        const double start = sim::Now();
        ASSERT_TRUE(WaitFor([&] { return sim::Now() >= start + 30.0 || owner.finished; }, 60000));
        sim::SetReplayFrame(1, nullptr);
        const std::size_t after = owner.positions.size();
        ASSERT_TRUE(WaitForGuideCycles(runner, owner, runner.Thread()->GuideCycles() + 10));
        ASSERT_FALSE(owner.finished) << owner.failure.toStdString();
        ASSERT_GT(after, before + 4);
        // From the first cloud frame to the last the mount moved by the drift alone.
        const TestOwner::Position a = owner.positions[before], b = owner.positions[after - 1];
        const double dt = b.time - a.time;
        EXPECT_LT(std::hypot(b.x - a.x - c.driftX * dt, b.y - a.y - c.driftY * dt) / c.guiding.pixelScale,
                  0.5);
        EXPECT_EQ(PulsesBetween(a.time, b.time), 0);
        const auto lost = std::count_if(owner.notices.begin(), owner.notices.end(), [](const QString &t) {
            return t.startsWith(QStringLiteral("Star lost at "));
        });
        EXPECT_EQ(lost, 1);
        EXPECT_TRUE(owner.notices.back().startsWith(QStringLiteral("Guiding resumed at ")))
            << owner.notices.back().toStdString();
        // The star is held again: the guide error of the last four frames, against the reference.
        const TestOwner::Position first = owner.positions.front();
        double sum = 0.0;
        for (std::size_t i = owner.positions.size() - 4; i < owner.positions.size(); ++i)
            sum += std::pow(std::hypot(owner.positions[i].x - first.x, owner.positions[i].y - first.y) /
                                c.guiding.pixelScale,
                            2);
        EXPECT_LT(std::sqrt(sum / 4.0), 1.0);
        owner.acquiring = false;
        ASSERT_TRUE(WaitFor([&] { return owner.finished && !runner.Running(); }, 20000));
    }
}

// The star jumps 15 px (beyond the 10 px search range) in each of eight directions: within two
// cycles the star is lost, and no pulse goes out while it is.
TEST_F(GuideThreadTest, AStarThatJumpsOutOfTheSearchRangeIsLostAndMovesNothing)
{
    sim::Config c;
    c.driftX = 0.15;
    c.driftY = 0.1;
    GuideSettings s = GuidingAtSimulatorRates(c);
    s.GuideDetent = 2;
    for (int direction = 0; direction < 8; ++direction) {
        SCOPED_TRACE(direction);
        TestOwner owner;
        GuideRunner runner(&owner);
        sim::Reset(c);
        ASSERT_TRUE(runner.Start(s));
        ASSERT_TRUE(WaitForGuideCycles(runner, owner, 3));
        const double angle = direction * std::numbers::pi / 4.0, jump = 15.0 * c.guiding.pixelScale;
        const sim::Snapshot at = sim::GetSnapshot();
        const std::size_t noticesBefore = owner.notices.size();
        sim::SetMountOffset(at.mountX + jump * std::cos(angle), at.mountY + jump * std::sin(angle));
        const int jumped = runner.Thread()->GuideCycles();
        ASSERT_TRUE(WaitForGuideCycles(runner, owner, jumped + 2));
        std::size_t lost = owner.notices.size();
        for (std::size_t i = noticesBefore; i < owner.notices.size() && lost == owner.notices.size(); ++i)
            if (owner.notices[i].startsWith(QStringLiteral("Star lost at ")))
                lost = i;
        ASSERT_LT(lost, owner.notices.size())
            << "no lost star after two cycles; last offset " << owner.offsets.back().first << ","
            << owner.offsets.back().second;
        ASSERT_TRUE(WaitForGuideCycles(runner, owner, jumped + 5));
        EXPECT_EQ(PulsesBetween(owner.noticeTimes[lost], sim::Now()), 0);
        owner.acquiring = false;
        ASSERT_TRUE(WaitFor([&] { return owner.finished && !runner.Running(); }, 20000));
    }
}

// Sensor frames with the star where the reference has it (no drift), changed as the sky and the
// sensor change them: a cosmic-ray hit alone on a cloud sends no pulse; one beside the star, or a
// star dimmed to 60 % by thin cloud, is guided on as it is, without a shift.
TEST_F(GuideThreadTest, CosmicRayHitsMoveNothingAndADimmedStarIsStillGuided)
{
    sim::Config c;
    const GuideSettings s = GuidingAtSimulatorRates(c);
    sim::Reset(c);
    const Words star = SensorFrame(0.0, 0.0), cloud = CloudFrame();
    ASSERT_EQ(star.size(), std::size_t(GuideColumns * GuideRows));
    ASSERT_EQ(cloud.size(), star.size());
    const int sx = static_cast<int>(GuideStarX), sy = static_cast<int>(GuideStarY);
    // A cosmic-ray hit: three pixels in a row, far brighter than the star.
    auto hit = [](Words frame, int x, int y) {
        for (int i = 0; i < 3; ++i)
            frame[static_cast<std::size_t>(y) * GuideColumns + x + i] = 20000;
        return frame;
    };
    Words dimmed = star;
    {
        Words sorted = star;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const double sky = sorted[sorted.size() / 2];
        for (int y = sy - 8; y <= sy + 8; ++y)
            for (int x = sx - 8; x <= sx + 8; ++x) {
                std::uint16_t &v = dimmed[static_cast<std::size_t>(y) * GuideColumns + x];
                v = static_cast<std::uint16_t>(std::lround(sky + 0.6 * (v - sky)));
            }
    }
    const struct {
        const char *name;
        Words frame;
        bool guided;
    } cases[] = {
        {"cosmic-ray hit on a cloud", hit(cloud, sx - 1, sy), false},
        {"cosmic-ray hit beside the star", hit(star, sx + 3, sy + 3), true},
        {"star dimmed to 60 %", dimmed, true},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        TestOwner owner;
        GuideRunner runner(&owner);
        sim::Reset(c);
        ASSERT_TRUE(runner.Start(s));
        ASSERT_TRUE(WaitForGuideCycles(runner, owner, 2));
        const std::size_t offsets = owner.offsets.size();
        Replay(k.frame);
        // The frame in integration when the replay began may be either; the next ones are all it.
        ASSERT_TRUE(WaitForGuideCycles(runner, owner, runner.Thread()->GuideCycles() + 5));
        sim::SetReplayFrame(1, nullptr);
        const bool lost = std::any_of(owner.notices.begin(), owner.notices.end(), [](const QString &t) {
            return t.startsWith(QStringLiteral("Star lost"));
        });
        EXPECT_EQ(lost, !k.guided) << owner.notices.back().toStdString();
        // The mount is not moved off: a guided frame measures no shift (the same frame replayed
        // again and again moves the mount by its own small noise shift every cycle), a lost one
        // sends no pulse, so the mount stays where it was.
        if (k.guided) {
            for (std::size_t i = offsets + 1; i < owner.offsets.size(); ++i)
                EXPECT_LT(std::hypot(owner.offsets[i].first, owner.offsets[i].second), 0.3) << i;
        } else {
            EXPECT_EQ(PulsesBetween(owner.noticeTimes.back(), sim::Now()), 0);
            const sim::Snapshot end = sim::GetSnapshot();
            EXPECT_LT(std::hypot(end.mountX, end.mountY) / c.guiding.pixelScale, 0.3);
        }
        owner.acquiring = false;
        ASSERT_TRUE(WaitFor([&] { return owner.finished && !runner.Running(); }, 20000));
    }
}

TEST_F(GuideThreadTest, ABusyLinkIsReportedOnceAndGuidingGoesOn)
{
    UsbBoxAnswerer boxes;
    sim::Config c;
    const GuideSettings s = GuidingAtSimulatorRates(c);
    Start(c, s);
    ASSERT_TRUE(WaitForCycles(2));
    sim::Faults busy;
    busy.busy = true; // held elsewhere until the box is answered
    sim::SetFaults(busy);
    ASSERT_TRUE(WaitFor([&] { return !boxes.captions.empty(); }, 20000));
    const int cycles = runner.Thread()->GuideCycles();
    ASSERT_TRUE(WaitForCycles(cycles + 3));
    EXPECT_FALSE(owner.finished);
    ASSERT_TRUE(StopAndWait());
    EXPECT_EQ(boxes.captions, std::vector<QString>{UsbCaption});
    EXPECT_EQ(boxes.cameraFreeDuringBox, std::vector<bool>{true});
    EXPECT_EQ(runner.Thread()->LinkErrorsReported(), 1);
    EXPECT_GE(runner.Thread()->LinkErrors(), 1);
}

TEST_F(GuideThreadTest, GuiderFramesAreNamedSavedAndCounted)
{
    const struct {
        bool increment, continuous;
        std::vector<std::string> saved;
    } cases[] = {
        {true, false, {"Guide_4/1", "Guide_5/1", "Guide_6/1"}},
        {false, false, {"Guide_4/1", "Guide_4/1", "Guide_4/1"}},
        {true, true, {}},
    };
    for (const auto &c : cases) {
        TestOwner owner;
        GuideRunner runner(&owner);
        sim::Reset(sim::Config{});
        GuideSettings s = Settings211(0);
        s.InitExt = 4;
        s.IncrExt = c.increment;
        s.Save = true;
        s.SaveFormat = 1;
        owner.continuous = c.continuous;
        ASSERT_TRUE(runner.Start(s));
        if (c.continuous) {
            ASSERT_TRUE(WaitFor([&] { return runner.Thread()->FramesRead() >= 5; }, 20000));
            owner.acquiring = false;
        }
        ASSERT_TRUE(WaitFor([&] { return owner.finished && !runner.Running(); }, 20000));
        EXPECT_EQ(owner.saved, c.saved);
        const sim::CameraState camera = sim::GetSnapshot().cameras[1];
        EXPECT_EQ(camera.clears, camera.readouts * 2u);
        if (!c.continuous) {
            EXPECT_EQ(camera.readouts, 3u);
            EXPECT_EQ(owner.names.front(), QStringLiteral("GUIDER IMAGE: Guide_4"));
        } else {
            EXPECT_TRUE(owner.names.empty());
        }
        EXPECT_EQ(owner.image.Description, "TC211 guider image");
        EXPECT_EQ(owner.image.Width, 211);
        EXPECT_EQ(owner.statuses.back(), QStringLiteral("Status: Ready."));
    }
}

TEST_F(GuideThreadTest, AStartWaitsUntilTheLastRunHasEnded)
{
    GuideSettings s = Settings211(0);
    owner.continuous = true;
    Start(sim::Config{}, s);
    ASSERT_TRUE(WaitFor([&] { return runner.Thread()->FramesRead() >= 1; }, 20000));
    // Stopped: the thread ends at its next test, but its last call onto this (GUI) thread cannot
    // run before the events are served, so it is still finishing now.
    owner.acquiring = false;
    QThread::msleep(100);
    TGuiderThread *finishing = runner.Thread();
    EXPECT_FALSE(runner.Start(s));
    EXPECT_EQ(runner.Thread(), finishing);
    EXPECT_FALSE(owner.acquiring);
    ASSERT_TRUE(WaitFor([&] { return owner.finished && !runner.Running(); }, 20000));
    owner.continuous = false;
    s.NImage = 1;
    EXPECT_TRUE(runner.Start(s));
    ASSERT_TRUE(WaitFor([&] { return owner.finished == 2; }, 20000));
}

// Another thread's readouts, each holding the camera for two seconds, come one after another
// while guiding runs: none begins during a guide frame's integration (from its last clearing scan
// to its readout, while the frame's reservation holds: its integration and the second a reservation
// outlives its time), so no guide frame's readout is held back behind one. (One held back would
// integrate longer than its reference and show a brighter star, which the shift measurement puts at
// the edge of its range.) The times are the simulator's: a busy machine that makes the guide thread
// late moves its readout, never another thread's readout into the frame.
TEST_F(GuideThreadTest, AnotherThreadsReadoutDoesNotLengthenAGuideFrame)
{
    sim::Config c;
    c.driftX = c.driftY = 0.0;
    Start(c, GuidingAtSimulatorRates(c));
    ASSERT_TRUE(WaitForCycles(1));
    BusyReader imaging(2.0, 0.5);
    ASSERT_TRUE(WaitForCycles(7));
    const std::vector<double> &holdStarts = imaging.Stop();
    ASSERT_TRUE(StopAndWait());
    // Each guide frame's last clearing scan and readout command, as the controller received them.
    constexpr std::uint8_t GuideCamera = 1;
    std::vector<std::pair<double, double>> frames;
    double cleared = -1.0;
    for (const sim::CallRecord &call : sim::CallLog()) {
        if (call.function != "FT_Write" || call.written.size() < 2 || call.written[1] != GuideCamera)
            continue;
        if (call.written[0] == sim::OpClearVertical)
            cleared = call.time;
        else if (call.written[0] == sim::OpReadFrame && cleared >= 0.0)
            frames.push_back({cleared, call.time});
    }
    ASSERT_GE(frames.size(), 7u);
    ASSERT_GE(holdStarts.size(), 3u) << "the other thread hardly read meanwhile";
    constexpr double Reserved = 1.0 + 1.0;
    for (const auto &[clear, read] : frames)
        for (double hold : holdStarts)
            EXPECT_FALSE(hold > clear && hold < std::min(read, clear + Reserved))
                << "a readout began " << hold - clear << " s into the guide frame cleared at " << clear;
    EXPECT_TRUE(std::none_of(owner.notices.begin(), owner.notices.end(),
                             [](const QString &n) { return n.startsWith(QStringLiteral("Star lost")); }));
}

// A guide run beside a counted imaging run of full frames: every frame saved, no USB box, and
// every pulse as long on the wire as the guide thread asked, although the imaging readouts hold
// the camera for a large part of each cycle.
TEST_F(GuideThreadTest, GuidingRunsBesideAnImagingAcquisition)
{
    std::vector<QString> boxes;
    QTimer answerer;
    answerer.setInterval(5);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        boxes.push_back(box->windowTitle() + QStringLiteral(": ") + box->text());
        sim::ClearFaults();
        box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
    });
    answerer.start();
    ProgramFolder folder;
    sim::Config c;
    c.driftX = 1.5; // 0.3 pixels per second: pulses of about a second every cycle
    c.driftY = 0.0;
    sim::Reset(c);
    auto main = std::make_unique<TMainF>(folder.Dir(), QStringList());
    CreateProgramWindows(main.get());
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    Settings &settings = CurrentSettings();
    settings.XLO[0] = 0;
    settings.XHI[0] = settings.NCOL[0] - 1;
    settings.YLO[0] = 0;
    settings.YHI[0] = settings.NROW[0] - 1;
    settings.NImage[0] = 12;
    settings.InitExt[0] = 1;
    settings.IncrExt = true;
    settings.IntTime[0] = 3.0f;
    settings.Delay[0] = 0.0f;
    settings.SaveFile[0] = folder.File("m42");
    settings.SaveFormat[0] = 0;
    settings.SaveRawImage = true;
    settings.SaveProcessed[0] = false;
    settings.DisplayImage = true;
    main->ApplySettingsToControls();

    const GuideSettings s = GuidingAtSimulatorRates(c);
    ASSERT_TRUE(runner.Start(s));
    ASSERT_TRUE(WaitForCycles(1));
    main->Acquire->trigger();
    ASSERT_TRUE(WaitFor([&] { return !main->Acquiring && !main->AcquisitionThreadRunning(); }, 120000));
    const int frames = main->AcquisitionThread->FramesRead();
    ASSERT_TRUE(StopAndWait());
    answerer.stop();
    EXPECT_EQ(frames, 12);
    for (int i = 1; i <= 12; ++i)
        EXPECT_TRUE(std::filesystem::exists(folder.File("m42_" + std::to_string(i) + ".kvr"))) << i;
    EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
    EXPECT_EQ(sim::GetSnapshot().cameras[1].readouts, static_cast<unsigned>(owner.positions.size()));
    EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
    // The pulses asked for, from the offsets shown (the first 40 cycles are only capped at the
    // detent), against the east-west and north-south lengths on the wire.
    std::vector<GuidePulse> asked;
    for (const auto &[dx, dy] : owner.offsets) {
        GuidePulse p = ComputeGuidePulse(dx, dy, s.GuideRates);
        p.eastWestSeconds = std::min(p.eastWestSeconds, 5.0);
        p.northSouthSeconds = std::min(p.northSouthSeconds, 5.0);
        if (p.eastWestSeconds > 0.0 || p.northSouthSeconds > 0.0)
            asked.push_back(p);
    }
    const auto words = SlewWords();
    std::vector<std::array<double, 2>> onWire; // east-west, north-south seconds
    for (std::size_t w = 0; w < words.size(); ++w) {
        if (words[w].second == 0 || (w > 0 && words[w - 1].second != 0))
            continue;
        std::array<double, 2> lengths{0.0, 0.0};
        const int axisBits[2] = {1 | 2, 4 | 8};
        for (int axis = 0; axis < 2; ++axis) {
            if (!(words[w].second & axisBits[axis]))
                continue;
            for (std::size_t e = w + 1; e < words.size(); ++e)
                if (!(words[e].second & axisBits[axis])) {
                    lengths[axis] = words[e].first - words[w].first;
                    break;
                }
        }
        onWire.push_back(lengths);
    }
    ASSERT_GE(onWire.size(), asked.size() - 1); // the last pulse may have been cut by the stop
    // The program's clock runs twenty times faster here, so a few milliseconds of a busy machine
    // show as a tenth of a second: the typical (median) pulse must be within 10% of its length, or
    // within 0.15 s of program time (7.5 ms of real time) for the short ones. A pulse end held
    // behind a readout (0.1-0.25 s on the simulator) misses both.
    std::vector<double> errors; // in units of the allowance
    for (std::size_t i = 0; i + 1 < asked.size(); ++i) {
        const double want[2] = {asked[i].eastWestSeconds, asked[i].northSouthSeconds};
        for (int axis = 0; axis < 2; ++axis)
            if (want[axis] >= 0.5)
                errors.push_back(std::abs(onWire[i][axis] - want[axis]) / std::max(0.1 * want[axis], 0.15));
    }
    ASSERT_GE(errors.size(), 5u);
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    EXPECT_LE(errors[errors.size() / 2], 1.0);
    main->ClosingDone = true;
}

} // namespace

int main(int argc, char **argv)
{
    return RunQtTests(argc, argv);
}
