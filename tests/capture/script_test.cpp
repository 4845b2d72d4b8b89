// The script window and thread against the simulated camera, driven through the window's buttons:
// a loop's files, headers and wire, pause and resume inside a DELAY, stop while paused, Run Script
// stopping an acquisition, run-time errors, FWGOTO's positions, the window limit, the script files
// and unsaved edits, and the shipped scripts. The process time runs a hundred times faster.
#include "capture_test_support.h"
#include "image_data.h"
#include "image_file.h"
#include "image_window.h"
#include "main_window.h"
#include "program_windows.h"
#include "script_thread.h"
#include "script_window.h"
#include "settings.h"
#include "simulator/sim_control.h"
#include "time_scale.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <sstream>

#include <sys/resource.h>

using namespace korvi::test;
namespace fs = std::filesystem;
namespace sim = korvi::sim;

namespace
{

constexpr int Width = 64;
constexpr int Height = 32;

// Simulator times (process seconds) of the writes of one opcode.
std::vector<double> CommandTimes(int opcode)
{
    std::vector<double> times;
    for (const sim::CallRecord &call : sim::CallLog())
        if (call.function == "FT_Write" && !call.written.empty() && call.written[0] == opcode)
            times.push_back(call.time);
    return times;
}

constexpr Command Clear0{4, 0}, Open{50, -1}, Close{51, -1}, Read0{2, 0}, Temperature0{31, 0};

class ScriptTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim::Reset(sim::Config{});
        auto words = std::make_shared<std::vector<std::uint16_t>>();
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                words->push_back(static_cast<std::uint16_t>(1000 + x + Width * y));
        sim::SetReplayFrame(0, words);
        fs::create_directories(folder.File("Scripts"));
        main = std::make_unique<TMainF>(folder.Dir(), QStringList());
        CreateProgramWindows(main.get());
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
        Settings &s = CurrentSettings();
        s.NCOL[0] = 1565;
        s.NROW[0] = 1032;
        s.MaximumWindows = 10;
        s.LastScriptFile.clear();
        window = ScriptF;
        ASSERT_NE(window, nullptr);
        window->Variables.FILENAME = folder.File("m42");
        sim::ClearCallLog();
    }
    void TearDown() override
    {
        if (main) {
            main->ClosingDone = true; // no leave prompt
            main.reset();
        }
        sim::ClearFaults();
    }
    void SetScript(const QString &text)
    {
        window->ScriptEdit->setPlainText(text);
        window->ScriptEdit->document()->setModified(false);
    }
    // Text as the user would leave it after typing: not saved.
    void Type(const QString &text)
    {
        window->ScriptEdit->setPlainText(text);
        window->ScriptEdit->document()->setModified(true);
    }
    bool ScriptRunning() const { return window->ScriptThread && window->ScriptThread->isRunning(); }
    bool WaitForEnd(int ms = 20000)
    {
        return WaitFor([this] { return !ScriptRunning() && !main->Acquiring; }, ms);
    }
    QString Status() const { return window->StatusText(); }

    ProgramFolder folder;
    std::unique_ptr<TMainF> main;
    TScriptF *window = nullptr;
};

const QString Geometry = QStringLiteral("XLO 0\nXHI 63\nYLO 0\nYHI 31\nXBIN 1\nYBIN 1\n");

TEST_F(ScriptTest, LoopWritesNumberedFramesWithTheCommandsInOrder)
{
    SetScript(Geometry + QStringLiteral("FORMAT FITS\nEXTNUM 7\nLOOP 3\nclear 0  2\nSHUTTEROPEN\n"
                                        "DELAY SOLVE(1+LOOPN*0.2) S % longer each pass\nSHUTTERCLOSE\n"
                                        "READ 0\nSAVE 0\nDISPLAY 0\nENDLOOP\n"));
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    EXPECT_TRUE(main->Acquiring);
    EXPECT_EQ(window->RunBtn->text(), QStringLiteral("Stop script"));
    EXPECT_TRUE(window->PauseBtn->isEnabled());
    ASSERT_TRUE(WaitForEnd());

    EXPECT_EQ(Status(), QStringLiteral("Status: Ready. (script terminated normally)"));
    EXPECT_EQ(window->RunBtn->text(), QStringLiteral("Run script"));
    EXPECT_FALSE(window->PauseBtn->isEnabled());
    EXPECT_EQ(window->Variables.LOOPN, 4);
    EXPECT_EQ(window->Variables.EXTNUM, 10);
    for (int n = 7; n <= 9; ++n) {
        SCOPED_TRACE(n);
        ImageData image;
        ASSERT_TRUE(LoadImageFile(folder.File("m42_" + std::to_string(n) + ".fit"), image));
        ASSERT_EQ(image.Width, Width);
        ASSERT_EQ(image.Height, Height);
        EXPECT_EQ(image.FrameRow(0, 5)[7], 1000 + 7 + Width * 5);
        EXPECT_EQ(image.XHi, Width - 1);
        EXPECT_EQ(image.YHi, Height - 1);
        EXPECT_EQ(image.XBin, 1);
        EXPECT_EQ(image.MaxColumns, 1565);
        EXPECT_EQ(image.MaxRows, 1032);
        EXPECT_EQ(image.Brightest, 1000 + Width * Height - 1);
        EXPECT_FALSE(image.Date.empty());
        EXPECT_FALSE(image.CCDTemperature.empty());
    }
    EXPECT_EQ(main->ImageWindows().size(), 3u);

    std::vector<Command> expected;
    for (int pass = 0; pass < 3; ++pass)
        expected.insert(expected.end(), {Clear0, Clear0, Open, Close, Read0, Temperature0});
    EXPECT_EQ(Commands(), expected);
    // The shutter stayed open for the pass's DELAY: 1.2, 1.4 and 1.6 s.
    const std::vector<double> opened = CommandTimes(50), closed = CommandTimes(51);
    ASSERT_EQ(opened.size(), 3u);
    ASSERT_EQ(closed.size(), 3u);
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_GE(closed[pass] - opened[pass], 1.2 + 0.2 * pass - 0.01) << pass;
        // The frame's header says how long the shutter was open.
        ImageData image;
        ASSERT_TRUE(LoadImageFile(folder.File("m42_" + std::to_string(7 + pass) + ".fit"), image));
        EXPECT_NEAR(std::atof(image.IntegrationTime.c_str()), closed[pass] - opened[pass], 1.0)
            << image.IntegrationTime;
    }
}

TEST_F(ScriptTest, DisplayKeepsToTheWindowLimit)
{
    CurrentSettings().MaximumWindows = 2;
    SetScript(Geometry + QStringLiteral("READ 0\nLOOP 4\nDISPLAY 0\nENDLOOP\n"));
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(Status(), QStringLiteral("Status: Ready. (script terminated normally)"));
    EXPECT_EQ(main->ImageWindows().size(), 2u);
}

// The observer watches a running script in its window, in front of the main window: each DISPLAY
// shows its frame in the main window without taking the script window's place in front.
TEST_F(ScriptTest, DisplayLeavesTheScriptWindowInFront)
{
    main->setGeometry(50, 50, 1000, 700);
    window->setGeometry(300, 250, 500, 400);
    window->show();
    window->raise();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    const QPoint inside = window->geometry().center();
    ASSERT_EQ(QApplication::topLevelAt(inside), window);
    SetScript(Geometry + QStringLiteral("READ 0\nLOOP 3\nDISPLAY 0\nENDLOOP\n"));
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(main->ImageWindows().size(), 3u);
    QTest::qWait(200); // the window system's answer to any raise or activation
    EXPECT_EQ(QApplication::topLevelAt(inside), window);
    EXPECT_EQ(QApplication::activeWindow(), window);
}

// With automatic levels asked for, a script's DISPLAY shows its frame with levels worked out for
// it, not the frame's raw ones, which draw a camera frame black.
TEST_F(ScriptTest, DisplayGivesTheFrameAutomaticLevelsWhenAsked)
{
    CurrentSettings().ICAutoSet = true;
    SetScript(Geometry + QStringLiteral("READ 0\nDISPLAY 0\n"));
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(main->ImageWindows().size(), 1u);
    const ImageData &shown = main->ImageWindows()[0]->ConstImage();
    EXPECT_GT(shown.DisplayOffset, 500.0f); // the bias of the frame, not 0
    std::set<int> greys;
    for (std::size_t i = 0; i < shown.PixelCount(); ++i)
        greys.insert(shown.Rgba[4 * i]);
    EXPECT_GT(greys.size(), 50u); // the read noise spread over the grey scale
}

TEST_F(ScriptTest, FilterPositionsCountFromZero)
{
    CurrentSettings().FiltPos = 1; // where the simulated wheel starts
    SetScript(QStringLiteral("FWGOTO 2\n"));
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(sim::GetSnapshot().filterPosition, 3);
    EXPECT_EQ(CurrentSettings().FiltPos, 3);

    // While running, each status carries the running note; the end replaces it.
    SetScript(QStringLiteral("FWGOTO 0\nDELAY 2 S\n"));
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([this] { return Status().startsWith(QStringLiteral("Waiting out delay, ")); }));
    EXPECT_TRUE(Status().endsWith(QStringLiteral(" s remaining. (script is running)")));
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(sim::GetSnapshot().filterPosition, 1);
}

TEST_F(ScriptTest, PauseAndResumeInsideADelay)
{
    SetScript(QStringLiteral("SHUTTEROPEN\nDELAY 30 S\nSHUTTERCLOSE\n"));
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([this] { return Status().startsWith(QStringLiteral("Waiting out delay, ")); }));
    QTest::mouseClick(window->PauseBtn, Qt::LeftButton);
    EXPECT_EQ(window->PauseBtn->text(), QStringLiteral("Resume"));
    EXPECT_EQ(Status(), QStringLiteral("Status: Script paused by user."));
    // The running line is selected in the editor; a key pressed there does not replace it.
    QTest::keyClick(window->ScriptEdit, Qt::Key_X);
    EXPECT_EQ(window->ScriptEdit->toPlainText(), QStringLiteral("SHUTTEROPEN\nDELAY 30 S\nSHUTTERCLOSE\n"));
    // Twice the delay passes, paused: the shutter stays open and the pause stays on show.
    QTest::qWait(600);
    EXPECT_TRUE(ScriptRunning());
    EXPECT_EQ(Commands(), (std::vector<Command>{Open}));
    EXPECT_EQ(Status(), QStringLiteral("Status: Script paused by user."));
    QTest::mouseClick(window->PauseBtn, Qt::LeftButton);
    EXPECT_EQ(window->PauseBtn->text(), QStringLiteral("Pause"));
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(Commands(), (std::vector<Command>{Open, Close}));
    EXPECT_EQ(Status(), QStringLiteral("Status: Ready. (script terminated normally)"));
    EXPECT_FALSE(window->ScriptEdit->isReadOnly()); // editable again after the run
}

// The windows are busy (the GUI thread serves nothing) from before a DELAY between the shutter's
// opening and closing ends until well after: the shutter closes when the delay ends, not when the
// windows are free again to show the script's progress.
TEST_F(ScriptTest, ABusyWindowDoesNotHoldTheShutterOpen)
{
    SetScript(QStringLiteral("SHUTTEROPEN\nDELAY 10 S\nSHUTTERCLOSE\n"));
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([] { return !CommandTimes(50).empty(); }));
    korvi::ScaledSleep(40.0); // busy: no event is served
    const double busyEnd = sim::Now();
    ASSERT_TRUE(WaitForEnd());
    const std::vector<double> opened = CommandTimes(50), closed = CommandTimes(51);
    ASSERT_EQ(opened.size(), 1u);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_GE(closed[0] - opened[0], 10.0 - 0.01);
    EXPECT_LT(closed[0], busyEnd) << "the shutter closed " << closed[0] - opened[0] << " s after it opened";
    EXPECT_EQ(Status(), QStringLiteral("Status: Ready. (script terminated normally)"));
}

TEST_F(ScriptTest, StopWhilePausedEndsTheScript)
{
    SetScript(QStringLiteral("SHUTTEROPEN\nDELAY 1 H\nSHUTTERCLOSE\n"));
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([this] { return Status().startsWith(QStringLiteral("Waiting out delay, ")); }));
    QTest::mouseClick(window->PauseBtn, Qt::LeftButton);
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    EXPECT_FALSE(main->Acquiring);
    EXPECT_EQ(Status(), QStringLiteral("Status: Script terminated by user."));
    ASSERT_TRUE(WaitForEnd(3000)); // not an hour
    EXPECT_EQ(Status(), QStringLiteral("Status: Ready. (script terminated normally)"));
    EXPECT_EQ(Commands(), (std::vector<Command>{Open}));
    EXPECT_FALSE(window->PauseBtn->isEnabled());
    EXPECT_EQ(window->PauseBtn->text(), QStringLiteral("Pause"));
}

TEST_F(ScriptTest, RunScriptStopsAnAcquisition)
{
    Settings &s = CurrentSettings();
    s.XLO[0] = s.YLO[0] = 0;
    s.XHI[0] = Width - 1;
    s.YHI[0] = Height - 1;
    s.XBIN[0] = s.YBIN[0] = 1;
    s.NImage[0] = 50;
    s.IntTime[0] = 5.0f;
    s.SaveRawImage = false;
    s.DisplayImage = false;
    main->ApplySettingsToControls();
    main->Acquire->trigger();
    ASSERT_TRUE(main->Acquiring);
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    EXPECT_FALSE(main->Acquiring);
    EXPECT_EQ(Status(), QStringLiteral("Status: Script terminated by user."));
    ASSERT_TRUE(WaitFor([this] { return !main->AcquisitionThreadRunning(); }, 10000));
    EXPECT_LT(sim::GetSnapshot().cameras[0].readouts, 3u);
    EXPECT_FALSE(ScriptRunning());
}

TEST_F(ScriptTest, ARunTimeFaultStopsTheScriptNamingItsLine)
{
    struct Case {
        const char *script, *status;
        std::vector<Command> wire;
    } cases[] = {
        {"DATA1 0\nDATA2 SOLVE(1/DATA1)\nSHUTTEROPEN\n",
         "Status: Error on line 2, division by zero in SOLVE(1/DATA1). The script has stopped.",
         {}},
        // The binnings start at 0: nothing is read until the script sets them.
        {"SHUTTEROPEN\nREAD 0\n",
         "Status: Error on line 2, XLO 0, XHI 0, YLO 0, YHI 0, XBIN 0, YBIN 0: column bins must be at least "
         "1. "
         "The script has stopped.",
         {Open}},
        {"SAVE 0\n", "Status: Error on line 1, no image has been read yet. The script has stopped.", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script);
        sim::ClearCallLog();
        window->Variables = ScriptVariables{};
        SetScript(QString::fromLatin1(c.script));
        QTest::mouseClick(window->RunBtn, Qt::LeftButton);
        ASSERT_TRUE(WaitForEnd());
        EXPECT_EQ(Status(), QString::fromLatin1(c.status));
        EXPECT_EQ(Commands(), c.wire);
        EXPECT_EQ(window->RunBtn->text(), QStringLiteral("Run script"));
    }

    // A SAVE into a folder that does not exist: no box holds the unattended script; it stops on
    // the SAVE's line naming the path, before the second frame is read.
    sim::ClearCallLog();
    window->Variables = ScriptVariables{};
    const std::string target = folder.File("no-such-folder/m");
    SetScript(Geometry +
              QString::fromStdString("FILENAME " + target + "\nLOOP 2\nREAD 0\nSAVE 0\nENDLOOP\n"));
    ModalScript modals;
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(modals.unexpected, 0);
    EXPECT_TRUE(modals.boxTexts.empty());
    EXPECT_EQ(Status().toStdString(),
              "Status: Error on line 10, could not open " + target +
                  "_1.kvr to write (check that the folder exists and can be written). The "
                  "script has stopped.");
    const std::vector<Command> wire = Commands();
    EXPECT_EQ(std::count(wire.begin(), wire.end(), Read0), 1);

    // A SAVE on a disk that fills (every file is cut at 1000 bytes, a frame takes 4 KB): no box
    // waits for the observer either; the script stops on the SAVE's line naming the file, and
    // nothing is left on the disk.
    sim::ClearCallLog();
    window->Variables = ScriptVariables{};
    const std::string night = folder.File("night");
    SetScript(Geometry + QString::fromStdString("FILENAME " + night + "\nLOOP 2\nREAD 0\nSAVE 0\nENDLOOP\n"));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ModalScript full;
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    const bool ended = WaitForEnd();
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(ended);
    EXPECT_EQ(full.unexpected, 0);
    EXPECT_TRUE(full.boxTexts.empty());
    EXPECT_EQ(Status().toStdString(), "Status: Error on line 10, could not save the image to " + night +
                                          "_1.kvr (Could not write file: " + night +
                                          "_1.kvr). The script has stopped.");
    EXPECT_FALSE(fs::exists(night + "_1.kvr"));
    const std::vector<Command> fullWire = Commands();
    EXPECT_EQ(std::count(fullWire.begin(), fullWire.end(), Read0), 1);
}

// Every kind of fault the simulated camera can give a readout, at a READ picked at random in a
// ten-frame script: the frames before it are on disk with exactly the pixels the camera sent
// (each pass sends its own pattern), the faulty one and those after it are not, and the script
// ends on the READ's line saying the frame was not read whole. The USB error boxes are answered
// OK, so the script would go on if the READ did not fail its line.
TEST_F(ScriptTest, AFaultAtAnyReadSavesNothingFromItAndStopsOnItsLine)
{
    const auto pattern = [](int pass, int x, int y) {
        return static_cast<std::uint16_t>(pass * 2311 + 7 * x + 131 * y);
    };
    const auto fault = [](auto change) {
        sim::Faults f;
        change(f);
        return f;
    };
    const auto failing = [](const char *function, int ordinal, FT_STATUS status) {
        sim::Faults f;
        f.failures.push_back({function, ordinal, status, false});
        return f;
    };
    const struct {
        const char *name;
        sim::Faults faults;
    } cases[] = {
        {"no device", fault([](sim::Faults &f) { f.noDevice = true; })},
        {"device busy", fault([](sim::Faults &f) { f.busy = true; })},
        {"no pixels sent", fault([](sim::Faults &f) { f.frameBytes = 0; })},
        {"frame cut short", fault([](sim::Faults &f) { f.frameBytes = 4096 - 64 * 2 * 16; })},
        {"prefix cut short", fault([](sim::Faults &f) { f.prefixBytes = 120; })},
        {"transfer size refused", fault([](sim::Faults &f) { f.refuseTransferSize = true; })},
        {"open fails", failing("FT_Open", 1, FT_DEVICE_NOT_OPENED)},
        // The open's own first purge and time-outs are not looked at and leave the link as it was:
        // the second ones are those of the readout.
        {"purge fails", failing("FT_Purge", 2, FT_IO_ERROR)},
        {"time-outs refused", failing("FT_SetTimeouts", 2, FT_IO_ERROR)},
        {"command write fails", failing("FT_Write", 1, FT_IO_ERROR)},
        {"pixel read fails", failing("FT_Read", 2, FT_IO_ERROR)},
    };
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    constexpr int ReadLine = 10;
    const std::string base = folder.File("sweep");
    for (const auto &c : cases) {
        const int faultAt = std::uniform_int_distribution<int>(1, 10)(random);
        SCOPED_TRACE(std::string(c.name) + " at READ " + std::to_string(faultAt));
        sim::ClearFaults();
        for (int n = 1; n <= 10; ++n)
            fs::remove(base + "_" + std::to_string(n) + ".kvr");
        window->Variables = ScriptVariables{};
        SetScript(Geometry + QString::fromStdString("FILENAME " + base +
                                                    "\nLOOP 10\nCLEAR 0 1\nREAD 0\nSAVE 0\nENDLOOP\n"));
        // The READ line is highlighted on the GUI thread before the readout begins (the READ reads
        // the sensor's size there, after the highlight queued before it): each pass gets its own
        // pixels there, and the chosen pass its fault.
        int reads = 0;
        const QMetaObject::Connection hook =
            QObject::connect(window->ScriptEdit, &QPlainTextEdit::cursorPositionChanged, [&] {
                if (!ScriptRunning() || window->ScriptEdit->textCursor().blockNumber() + 1 != ReadLine)
                    return;
                ++reads;
                auto words = std::make_shared<std::vector<std::uint16_t>>();
                for (int y = 0; y < Height; ++y)
                    for (int x = 0; x < Width; ++x)
                        words->push_back(pattern(reads, x, y));
                sim::SetReplayFrame(0, words);
                if (reads == faultAt)
                    sim::SetFaults(c.faults);
            });
        ModalScript modals;
        for (int i = 0; i < 20; ++i)
            modals.PressBox(QMessageBox::Ok);
        QTest::mouseClick(window->RunBtn, Qt::LeftButton);
        const bool ended = WaitForEnd(60000);
        QObject::disconnect(hook);
        sim::ClearFaults();
        ASSERT_TRUE(ended);
        EXPECT_EQ(reads, faultAt);
        EXPECT_EQ(modals.unexpected, 0);
        for (const QString &caption : modals.boxCaptions)
            EXPECT_EQ(caption, QStringLiteral("Korvi USB device error"));
        EXPECT_TRUE(Status().startsWith(QStringLiteral("Status: Error on line 10, the frame of CCD 0 was not "
                                                       "read whole (")))
            << Status().toStdString();
        EXPECT_TRUE(
            Status().endsWith(QStringLiteral("); nothing was saved from it. The script has stopped.")))
            << Status().toStdString();
        for (int n = 1; n <= 10; ++n) {
            SCOPED_TRACE(n);
            const std::string file = base + "_" + std::to_string(n) + ".kvr";
            if (n >= faultAt) {
                EXPECT_FALSE(fs::exists(file));
                continue;
            }
            ImageData image;
            ASSERT_TRUE(LoadImageFile(file, image));
            ASSERT_EQ(image.Width, Width);
            ASSERT_EQ(image.Height, Height);
            int wrong = 0;
            for (int y = 0; y < Height; ++y)
                for (int x = 0; x < Width; ++x)
                    wrong += image.FrameRow(0, y)[x] != pattern(n, x, y) ? 1 : 0;
            EXPECT_EQ(wrong, 0);
        }
    }
}

TEST_F(ScriptTest, CancelInTheUsbErrorBoxStopsTheScriptWithOneBox)
{
    sim::Faults faults;
    faults.busy = true; // every open of the device fails
    sim::SetFaults(faults);
    SetScript(QStringLiteral("CLEAR 0 5\nSHUTTEROPEN\nSHUTTERCLOSE\n"));
    ModalScript modals;
    modals.PressBox(QMessageBox::Cancel);
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(modals.Done());
    EXPECT_EQ(modals.unexpected, 0);
    EXPECT_EQ(modals.boxCaptions, std::vector<QString>{QStringLiteral("Korvi USB device error")});
    EXPECT_EQ(Status(), QStringLiteral("Status: Ready. (script terminated normally)"));
    EXPECT_EQ(window->ScriptThread->LineIndex(), 0); // no line after the CLEAR ran
}

TEST_F(ScriptTest, ACheckErrorDoesNotStartTheScript)
{
    SetScript(QStringLiteral("SHUTTEROPEN\nREAD 0 1\n"));
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    EXPECT_FALSE(main->Acquiring);
    EXPECT_FALSE(ScriptRunning());
    EXPECT_EQ(Status(), QStringLiteral("Status: Error on line 2, READ takes only 1 parameter."));
    SetScript(QStringLiteral("SHUTTEROPEN\n"));
    QTest::mouseClick(window->CheckScriptBtn, Qt::LeftButton);
    EXPECT_EQ(Status(), QStringLiteral("Status: No errors found. Ready."));
    EXPECT_TRUE(Commands().empty());
}

TEST_F(ScriptTest, SavesAndLoadsScriptFilesWithoutLosingEdits)
{
    // Saved with trailing blanks removed, one line feed a line, the name's extension replaced.
    Type(QStringLiteral("READ 0   \n% note\t\nSAVE 0"));
    const QString dir = QString::fromStdString(folder.File("Scripts/"));
    {
        ModalScript modals;
        modals.ChooseFiles({dir + QStringLiteral("night.v2")});
        QTest::mouseClick(window->SaveBtn, Qt::LeftButton);
        ASSERT_TRUE(modals.Done());
        EXPECT_EQ(modals.dialogTitles.front(), QStringLiteral("Save Korvi execution script"));
    }
    std::ifstream in(folder.File("Scripts/night.kvq"), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(bytes.str(), "READ 0\n% note\nSAVE 0\n");
    EXPECT_EQ(window->ScriptName->text(), QStringLiteral("Script file: night.kvq"));
    EXPECT_EQ(CurrentSettings().LastScriptFile, "night.kvq");

    // Saving over it asks; Cancel writes nothing.
    Type(QStringLiteral("CLEAR 0 1"));
    {
        ModalScript modals;
        modals.ChooseFiles({dir + QStringLiteral("night.kvq")});
        modals.PressBox(QMessageBox::Cancel);
        QTest::mouseClick(window->SaveBtn, Qt::LeftButton);
        ASSERT_TRUE(modals.Done());
        EXPECT_EQ(modals.boxTexts.front(), QStringLiteral("The file: ") + dir +
                                               QStringLiteral("night.kvq will be overwritten; proceed?"));
    }
    // Unsaved edits: activation keeps them, Load asks and Cancel keeps them, No loads the file.
    window->FormActivate();
    EXPECT_EQ(window->ScriptEdit->toPlainText(), QStringLiteral("CLEAR 0 1"));
    {
        ModalScript modals;
        modals.PressBox(QMessageBox::Cancel);
        QTest::mouseClick(window->LoadBtn, Qt::LeftButton);
        ASSERT_TRUE(modals.Done());
        EXPECT_EQ(modals.boxTexts.front(),
                  QStringLiteral("The script has changes that are not saved. Save them first?"));
    }
    EXPECT_EQ(window->ScriptEdit->toPlainText(), QStringLiteral("CLEAR 0 1"));
    {
        ModalScript modals;
        modals.PressBox(QMessageBox::No);
        modals.ChooseFiles({dir + QStringLiteral("night.kvq")});
        QTest::mouseClick(window->LoadBtn, Qt::LeftButton);
        ASSERT_TRUE(modals.Done());
    }
    EXPECT_EQ(window->ScriptEdit->toPlainText(), QStringLiteral("READ 0\n% note\nSAVE 0"));
    // Closing with edits asks too; Cancel keeps the window open.
    window->show();
    Type(QStringLiteral("READ 1"));
    {
        ModalScript modals;
        modals.PressBox(QMessageBox::Cancel);
        window->close();
        ASSERT_TRUE(modals.Done());
    }
    EXPECT_TRUE(window->isVisible());
    window->ScriptEdit->document()->setModified(false);

    // A script written in an 8-bit code page: read as Latin-1, and saved unchanged byte for byte.
    const std::string latin1 = "FILENAME /data/M\xFC"
                               "cke\nSAVE 0\n";
    const std::string old = folder.File("Scripts/old.kvq");
    WriteFileBytes(old, latin1);
    ASSERT_TRUE(window->LoadScriptFile(old));
    EXPECT_EQ(window->ScriptEdit->toPlainText().toStdString(), "FILENAME /data/M\u00FC"
                                                               "cke\nSAVE 0");
    ASSERT_TRUE(window->SaveScriptFile(old));
    std::ifstream again(folder.File("Scripts/old.kvq"), std::ios::binary);
    std::stringstream written;
    written << again.rdbuf();
    EXPECT_EQ(written.str(), latin1);
}

// The window reads the script it loaded again when it is activated, by that file's full path: a
// script of the same name in the Scripts folder is another one.
TEST_F(ScriptTest, ActivationKeepsTheScriptLoadedFromAnotherFolder)
{
    WriteFileBytes(folder.File("Scripts/run.kvq"), "CLEAR 0 1\n");
    fs::create_directories(folder.File("tonight"));
    WriteFileBytes(folder.File("tonight/run.kvq"), "READ 0\n");
    CurrentSettings().LastScriptFile = "run.kvq";
    {
        ModalScript modals;
        modals.ChooseFiles({QString::fromStdString(folder.File("tonight/run.kvq"))});
        QTest::mouseClick(window->LoadBtn, Qt::LeftButton);
        ASSERT_TRUE(modals.Done());
    }
    EXPECT_EQ(window->ScriptEdit->toPlainText(), QStringLiteral("READ 0"));
    window->FormActivate();
    EXPECT_EQ(window->ScriptEdit->toPlainText(), QStringLiteral("READ 0"));
    // Changed on disk meanwhile: it is that file that is read again.
    WriteFileBytes(folder.File("tonight/run.kvq"), "READ 1\n");
    window->FormActivate();
    EXPECT_EQ(window->ScriptEdit->toPlainText(), QStringLiteral("READ 1"));
}

TEST_F(ScriptTest, ShippedScriptsCheckCleanAndRun)
{
    const QString example = window->ScriptEdit->toPlainText();
    ASSERT_TRUE(example.startsWith(QStringLiteral("% Three 10 s exposures")));
    const fs::path shipped = fs::path(KORVI_SOURCE_DIR) / "resources" / "Scripts";
    int scripts = 0;
    for (const auto &entry : fs::directory_iterator(shipped)) {
        if (entry.path().extension() != ".kvq")
            continue;
        SCOPED_TRACE(entry.path().string());
        ++scripts;
        ASSERT_TRUE(window->LoadScriptFile(entry.path().string()));
        EXPECT_TRUE(window->CheckScript()) << Status().toStdString();
        QTest::mouseClick(window->RunBtn, Qt::LeftButton);
        ASSERT_TRUE(WaitForEnd(30000));
        EXPECT_EQ(Status(), QStringLiteral("Status: Ready. (script terminated normally)"));
    }
    EXPECT_GE(scripts, 2);
    EXPECT_GT(sim::GetSnapshot().cameras[0].readouts, 0u);
    // Their frames are in the program's frames folder (numbered on from one script to the next).
    const auto framesNamed = [this](const std::string &prefix) {
        int n = 0;
        for (const auto &entry : fs::directory_iterator(folder.File("Frames")))
            n += entry.path().filename().string().rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    };
    EXPECT_EQ(framesNamed("ThreeFrames_"), 3);
    EXPECT_EQ(framesNamed("Dark_"), 3);

    // So are those of the example the editor shows at first.
    SetScript(example);
    window->Variables = ScriptVariables{};
    QTest::mouseClick(window->RunBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitForEnd(30000));
    EXPECT_EQ(Status(), QStringLiteral("Status: Ready. (script terminated normally)"));
    for (const char *name : {"Frames/Script_1.fit", "Frames/Script_3.fit"})
        EXPECT_TRUE(fs::exists(folder.File(name))) << name;
}

} // namespace

int main(int argc, char **argv)
{
    return RunQtTests(argc, argv);
}

// The variables grid shows every variable's name whole.
TEST_F(ScriptTest, VariableNamesAreShownWhole)
{
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    const QFontMetrics metrics(window->VbGrid->font());
    for (int row = 0; row < window->VbGrid->rowCount(); ++row) {
        const QString name = window->VbGrid->item(row, 0)->text();
        EXPECT_LE(metrics.horizontalAdvance(name) + 6, window->VbGrid->columnWidth(0)) << name.toStdString();
    }
}
