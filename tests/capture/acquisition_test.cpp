// Whole acquisition runs of the main window against the simulated camera: files and their
// contents, the commands on the wire in their order, the run flags and actions, Stop, continuous
// runs, calibration, failures and shut-down. The process time runs a hundred times faster.
#include "acquisition_thread.h"
#include "capture_test_support.h"
#include "image_data.h"
#include "image_file.h"
#include "image_window.h"
#include "main_window.h"
#include "program_windows.h"
#include "sensor_window.h"
#include "settings.h"
#include "simulator/sim_control.h"
#include "text_format.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>
#include <vector>

using namespace korvi::test;
namespace fs = std::filesystem;
namespace sim = korvi::sim;

namespace
{

constexpr int Width = 64;
constexpr int Height = 32;

int ReplayPixel(int x, int y)
{
    return 1000 + x + Width * y;
}

// Presses a button of every modal message box that opens, and records what they said.
class BoxAnswerer
{
public:
    BoxAnswerer()
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }
    std::vector<std::pair<QString, QString>> seen; // caption, text
    int Count(const QString &caption) const
    {
        int n = 0;
        for (const auto &box : seen)
            n += box.first == caption ? 1 : 0;
        return n;
    }

private:
    void Poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        seen.emplace_back(box->windowTitle(), box->text());
        // The USB error box is answered Cancel, every other box with its first button.
        QAbstractButton *button = box->button(QMessageBox::Cancel);
        if (!button || box->windowTitle() != QStringLiteral("Korvi USB device error"))
            button = box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok) : box->buttons().value(0);
        if (button)
            button->click();
    }
    QTimer timer_;
};

std::vector<std::vector<std::uint8_t>> ReadoutBlocks()
{
    std::vector<std::vector<std::uint8_t>> blocks;
    for (const auto &block : sim::WrittenBlocks())
        if (block.size() == 16 && block[0] == 2)
            blocks.push_back(block);
    return blocks;
}

// The offset level the readout computed: the mean of the 100-word prefix the controller sent
// after each readout command, read back from the call log.
std::vector<int> PrefixMeans()
{
    std::vector<int> means;
    bool afterReadout = false;
    for (const sim::CallRecord &call : sim::CallLog()) {
        if (call.function == "FT_Write")
            afterReadout = call.written.size() == 16 && call.written[0] == 2;
        else if (call.function == "FT_Read" && afterReadout && call.read.size() == 200) {
            unsigned sum = 0;
            for (int i = 0; i < 100; ++i)
                sum += call.read[2 * i] | (call.read[2 * i + 1] << 8);
            means.push_back(static_cast<int>(sum / 100));
            afterReadout = false;
        }
    }
    return means;
}

// Simulator times (process seconds) of the writes of one opcode.
std::vector<double> CommandTimes(int opcode)
{
    std::vector<double> times;
    for (const sim::CallRecord &call : sim::CallLog())
        if (call.function == "FT_Write" && !call.written.empty() && call.written[0] == opcode)
            times.push_back(call.time);
    return times;
}

class AcquisitionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetSimulator(sim::Config{});

        main = std::make_unique<TMainF>(folder.Dir(), QStringList());
        CreateProgramWindows(main.get());
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));

        Settings &s = CurrentSettings();
        s.NCOL[0] = 1565;
        s.NROW[0] = 1032;
        s.XLO[0] = 0;
        s.XHI[0] = Width - 1;
        s.YLO[0] = 0;
        s.YHI[0] = Height - 1;
        s.XBIN[0] = s.YBIN[0] = 1;
        s.NImage[0] = 3;
        s.InitExt[0] = 5;
        s.IncrExt = true;
        s.NClear[0] = 2;
        s.IntTime[0] = 0.2f;
        s.Delay[0] = 0.0f;
        s.EnableShutter = true;
        s.AmpTurnoff[0] = false;
        s.ReadoutCoolingDisable[0] = true;
        s.CoolerPowerOn = {true, false};
        s.CCDTargetTemp = {-20, -5};
        s.SaveFile[0] = folder.File("m42");
        s.SaveFormat[0] = 1;
        s.SaveRawImage = true;
        s.SaveProcessed[0] = false;
        s.ProcessedPostFix[0] = "_P";
        s.ThermalFrameApply[0] = false;
        s.FlatFrameApply[0] = false;
        s.DisplayImage = true;
        s.NewFrameOnCapture = false;
        s.FocusMode = false;
        s.ICAutoSet = false;
        s.IntScale[0] = 1.0f;
        s.Desc[0] = "Orion nebula";
        s.Filters[0] = "Red";
        s.UseFiltDesc = false;
        s.CCD1HasPriority = true;
        main->ApplySettingsToControls();
        main->Desc->setText(QStringLiteral("Orion nebula"));
        main->Filters->setText(QStringLiteral("Red"));
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
    // A fresh simulated controller whose imaging readouts send the replay frame.
    static void ResetSimulator(const sim::Config &config)
    {
        sim::Reset(config);
        auto words = std::make_shared<std::vector<std::uint16_t>>();
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                words->push_back(static_cast<std::uint16_t>(ReplayPixel(x, y)));
        sim::SetReplayFrame(0, words);
    }
    // Waits until the run has ended and its thread is gone.
    bool WaitForEnd(int ms = 20000)
    {
        return WaitFor([this] { return !main->Acquiring && !main->AcquisitionThreadRunning(); }, ms);
    }
    std::vector<std::string> SavedFiles() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(folder.Dir()))
            if (entry.is_regular_file() && entry.path().filename().string().rfind("m42", 0) == 0)
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<TChild *> Windows() const { return main->ImageWindows(); }

    ProgramFolder folder;
    BoxAnswerer boxes;
    std::unique_ptr<TMainF> main;
};

void ExpectReplayPixels(const ImageData &image, int divisor = 1)
{
    ASSERT_EQ(image.Width, Width);
    ASSERT_EQ(image.Height, Height);
    int wrong = 0;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            wrong += image.FrameRow(0, y)[x] != ReplayPixel(x, y) / divisor ? 1 : 0;
    EXPECT_EQ(wrong, 0);
}

// ---------------------------------------------------------------------------------------------

TEST_F(AcquisitionTest, CountedRunWritesTheNumberedFilesWithTheCommandsInOrder)
{
    // Below zero (the sign is part of the text), and staying there however slowly the machine
    // runs the frames: the room itself is below zero.
    sim::Config cold;
    cold.ambientCelsius = -30.0;
    ResetSimulator(cold);
    sim::SetCoolerTemperature(0, -12.5);
    const std::time_t before = std::time(nullptr);
    main->Acquire->trigger();
    EXPECT_TRUE(main->Acquiring);
    EXPECT_FALSE(main->Acquire->isEnabled());
    EXPECT_FALSE(main->AcquireCont->isEnabled());
    EXPECT_TRUE(main->Stop->isEnabled());
    ASSERT_TRUE(WaitForEnd());
    const std::time_t after = std::time(nullptr);

    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_5.fit", "m42_6.fit", "m42_7.fit"}));
    const std::vector<int> offsets = PrefixMeans();
    ASSERT_EQ(offsets.size(), 3u);
    for (int n = 5; n <= 7; ++n) {
        SCOPED_TRACE(n);
        ImageData image;
        ASSERT_TRUE(LoadImageFile(folder.File("m42_" + std::to_string(n) + ".fit"), image));
        ExpectReplayPixels(image);
        EXPECT_EQ(image.Description, "Orion nebula");
        EXPECT_EQ(image.Filters, "Red");
        EXPECT_EQ(image.IntegrationTime, "2.000e-01");
        EXPECT_EQ(image.XHi, Width - 1);
        EXPECT_EQ(image.YHi, Height - 1);
        EXPECT_EQ(image.XBin, 1);
        EXPECT_EQ(image.MaxColumns, 1565);
        EXPECT_EQ(image.OffsetLevel, static_cast<float>(offsets[n - 5]));
        // "##0.0"; the simulated sensor's temperature moves with its cooler meanwhile.
        const QString temperature = QString::fromStdString(image.CCDTemperature);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^-\\d{1,2}\\.\\d$")).match(temperature).hasMatch())
            << image.CCDTemperature;
        // UTC date and time of one moment of the run.
        bool matched = false;
        for (std::time_t t = before; t <= after && !matched; ++t)
            matched = image.Date == GmtDateTimeText(false, t) && image.Time == GmtDateTimeText(true, t);
        EXPECT_TRUE(matched) << image.Date << " " << image.Time;
    }

    // Per frame: filter-wheel supply off, two clearing scans, shutter open and closed, the
    // temperature, imaging cooler off, readout, both targets, imaging cooler on, wheel supply on;
    // the run ends with the wheel supply on once more.
    const std::vector<Command> frame = {{44, -1}, {4, 0}, {4, 0},  {50, -1}, {51, -1}, {31, 0},
                                        {34, 0},  {2, 0}, {30, 0}, {30, 1},  {33, 0},  {43, -1}};
    std::vector<Command> expected;
    for (int i = 0; i < 3; ++i)
        expected.insert(expected.end(), frame.begin(), frame.end());
    expected.push_back({43, -1});
    EXPECT_EQ(Commands(), expected);

    // The readout command carries the sub-frame, binning and sensor size.
    for (const auto &block : ReadoutBlocks()) {
        auto word = [&](int i) { return block[2 * i] | (block[2 * i + 1] << 8); };
        EXPECT_EQ(word(1), 0);
        EXPECT_EQ(word(2), Width - 1);
        EXPECT_EQ(word(3), 0);
        EXPECT_EQ(word(4), Height - 1);
        EXPECT_EQ(word(5), 0x0101);
        EXPECT_EQ(word(6), 1565);
        EXPECT_EQ(word(7), 1032);
    }

    EXPECT_EQ(CurrentSettings().InitExt[0], 8);
    EXPECT_EQ(main->InitExt->value(), 8);
    // The next number is on disk when the run ends, so a crash cannot send the next run back.
    Settings onDisk;
    ASSERT_TRUE(onDisk.LoadFromFile(folder.File(DefaultSettingsFile)));
    EXPECT_EQ(onDisk.InitExt[0], 8);
    EXPECT_FALSE(main->Continuous);
    EXPECT_TRUE(main->Acquire->isEnabled());
    EXPECT_TRUE(main->AcquireCont->isEnabled());
    EXPECT_FALSE(main->Stop->isEnabled());
    EXPECT_EQ(main->StatusText(2),
              QStringLiteral("Acquired ") + QString::fromStdString(folder.File("m42_7.fit")));
    EXPECT_EQ(main->StatusText(1), QStringLiteral("CCD read in ") + main->StatusText(1).mid(12));
    EXPECT_TRUE(main->StatusText(1).endsWith(QStringLiteral(" s.")));

    // One window, reused for every frame, showing the last.
    ASSERT_EQ(Windows().size(), 1u);
    ExpectReplayPixels(Windows()[0]->ConstImage());
    EXPECT_EQ(Windows()[0]->ConstImage().FileName, folder.File("m42_7.fit"));
    EXPECT_TRUE(boxes.seen.empty());
}

TEST_F(AcquisitionTest, WithoutIncrementEveryFrameGetsTheStartNumber)
{
    main->IncrExt->setChecked(false);
    main->NImage->setValue(2);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_5.fit"}));
    EXPECT_EQ(ReadoutBlocks().size(), 2u);
    EXPECT_EQ(CurrentSettings().InitExt[0], 5);
}

TEST_F(AcquisitionTest, NumbersPastTheSpinEditsRangeAreNotReusedByTheNextRun)
{
    main->InitExt->setValue(998);
    main->NImage->setValue(3);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_1000.fit", "m42_998.fit", "m42_999.fit"}));
    EXPECT_EQ(CurrentSettings().InitExt[0], 1001);
    EXPECT_EQ(main->InitExt->value(), 1001);
    // The next run goes on from 1001 instead of saving over 999 and 1000.
    main->NImage->setValue(1);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(SavedFiles(),
              (std::vector<std::string>{"m42_1000.fit", "m42_1001.fit", "m42_998.fit", "m42_999.fit"}));
    EXPECT_EQ(CurrentSettings().InitExt[0], 1002);
}

TEST_F(AcquisitionTest, AmplifierAndCoolersFollowTheirSettings)
{
    // 5.1 s lowers the amplifier supply for the integration; no cooler is on, so none is switched.
    CurrentSettings().CoolerPowerOn = {false, false};
    main->AmpTurnoff->setChecked(true);
    main->IntTime->setText(QStringLiteral("5.1"));
    main->NImage->setValue(1);
    main->NClear->setValue(0);
    main->EnableShutter->setChecked(false);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    const std::vector<Command> expected = {{44, -1}, {6, -1}, {31, 0}, {5, -1}, {2, 0}, {43, -1}, {43, -1}};
    EXPECT_EQ(Commands(), expected);
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_5.fit"}));
}

TEST_F(AcquisitionTest, StopWhileIntegratingStillReadsSavesAndShowsTheFrame)
{
    main->IntTime->setText(QStringLiteral("3000")); // 30 s of real time
    main->Acquire->trigger();
    ASSERT_TRUE(
        WaitFor([this] { return main->StatusText(1).startsWith(QStringLiteral("Elapsed: ")); }, 5000));
    EXPECT_TRUE(main->DelayTimer->isActive());
    EXPECT_TRUE(ReadoutBlocks().empty());
    // "Elapsed: " and " s, Remaining: " with both times to one decimal.
    const QRegularExpression readOut(QStringLiteral("^Elapsed: \\d+\\.\\d s, Remaining: -?\\d+\\.\\d$"));
    EXPECT_TRUE(readOut.match(main->StatusText(1)).hasMatch()) << main->StatusText(1).toStdString();
    // Stopped once the sensor has integrated 100 s or more of its 3000 s.
    ASSERT_TRUE(WaitFor([] { return !CommandTimes(50).empty() && sim::Now() - CommandTimes(50)[0] >= 100.0; },
                        10000));
    main->Stop->trigger();
    ASSERT_TRUE(WaitForEnd(20000));
    EXPECT_EQ(ReadoutBlocks().size(), 1u);
    // Stop cut the integration short (the simulator's clock runs on the process time scale).
    const std::vector<double> open = CommandTimes(50), closed = CommandTimes(51);
    ASSERT_EQ(open.size(), 1u);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_LT(closed[0] - open[0], 1500.0);
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_5.fit"}));
    // The frame says how long the sensor was lit, not the 3000 s asked for, and the status says
    // that the exposure was cut short.
    const double light = sim::GetSnapshot().cameras[0].lastLightSeconds;
    EXPECT_GE(light, 100.0);
    ImageData saved;
    ASSERT_TRUE(LoadImageFile(folder.File("m42_5.fit"), saved));
    EXPECT_NEAR(std::atof(saved.IntegrationTime.c_str()), light, std::max(2.0, 0.02 * light))
        << saved.IntegrationTime;
    EXPECT_TRUE(main->StatusText(1).startsWith(QStringLiteral("The exposure was cut short: \"") +
                                               QString::fromStdString(folder.File("m42_5.fit")) +
                                               QStringLiteral("\" integrated ")))
        << main->StatusText(1).toStdString();
    ASSERT_EQ(Windows().size(), 1u);
    ExpectReplayPixels(Windows()[0]->ConstImage());
    EXPECT_EQ(CurrentSettings().InitExt[0], 6);
    // The shutter was closed before the readout.
    const std::vector<Command> commands = Commands();
    const auto close = std::find(commands.begin(), commands.end(), Command{51, -1});
    const auto read = std::find(commands.begin(), commands.end(), Command{2, 0});
    EXPECT_LT(close - commands.begin(), read - commands.begin());
}

TEST_F(AcquisitionTest, TheIntegrationLastsItsWholeSecondsPlusAboutATick)
{
    main->IntTime->setText(QStringLiteral("30.7")); // waits 30 s of process time
    main->NImage->setValue(1);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    const std::vector<double> open = CommandTimes(50), close = CommandTimes(51);
    ASSERT_EQ(open.size(), 1u);
    ASSERT_EQ(close.size(), 1u);
    EXPECT_GE(close[0] - open[0], 30.0);
    // A tick is 0.1 s; the rest (0.4 s of real time) is room for a loaded machine. Waiting the
    // untruncated 30.7 s cannot be told apart here; waiting a second tick or more can.
    EXPECT_LT(close[0] - open[0], 30.0 + 40.0);
}

TEST_F(AcquisitionTest, ABusyGuiThreadDoesNotStretchTheExposure)
{
    main->IntTime->setText(QStringLiteral("20")); // 0.2 s of real time
    main->NImage->setValue(1);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitFor([this] { return main->DelayTimer->isActive(); }, 5000));
    // The GUI thread is busy for 1.5 s of real time (150 s of process time): the delay timer
    // cannot fire, and the thread ends the integration by its own deadline.
    QThread::msleep(1500);
    ASSERT_TRUE(WaitForEnd());
    const std::vector<double> open = CommandTimes(50), close = CommandTimes(51);
    ASSERT_EQ(open.size(), 1u);
    ASSERT_EQ(close.size(), 1u);
    EXPECT_GE(close[0] - open[0], 20.0);
    EXPECT_LT(close[0] - open[0], 20.0 + 80.0); // far below the 150 s the GUI thread was busy
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_5.fit"}));
}

// The GUI thread turns busy for 1.5 s of real time (150 s of process time) at the first call the
// acquisition thread makes onto it after the shutter opened. The exposure still lasts its 20 s.
TEST_F(AcquisitionTest, ABusyGuiThreadRightAfterTheShutterOpensDoesNotStretchTheExposure)
{
    class BusyAfterShutter : public QObject
    {
    public:
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (!done && event->type() == QEvent::MetaCall && sim::GetSnapshot().shutterOpen) {
                done = true;
                QThread::msleep(1500);
            }
            return false;
        }
        bool done = false;
    } busy;
    main->IntTime->setText(QStringLiteral("20"));
    main->NImage->setValue(1);
    qApp->installEventFilter(&busy);
    main->Acquire->trigger();
    const bool ended = WaitForEnd();
    qApp->removeEventFilter(&busy);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(busy.done);
    const std::vector<double> open = CommandTimes(50), close = CommandTimes(51);
    ASSERT_EQ(open.size(), 1u);
    ASSERT_EQ(close.size(), 1u);
    EXPECT_GE(close[0] - open[0], 20.0);
    EXPECT_LT(close[0] - open[0], 20.0 + 80.0);
    ImageData saved;
    ASSERT_TRUE(LoadImageFile(folder.File("m42_5.fit"), saved));
    EXPECT_EQ(saved.IntegrationTime, "2.000e+01");
}

TEST_F(AcquisitionTest, AfterStopTheFrameDelayIsStillTimedUntilASecondStop)
{
    main->IntTime->setText(QStringLiteral("3000")); // 30 s of real time
    main->Delay->setText(QStringLiteral("3000"));
    main->Acquire->trigger();
    ASSERT_TRUE(
        WaitFor([this] { return main->StatusText(1).startsWith(QStringLiteral("Elapsed: ")); }, 5000));
    main->Stop->trigger();
    // The frame is read and saved, then the frame delay is timed again by the delay timer.
    ASSERT_TRUE(
        WaitFor([this] { return main->DelayTimer->isActive() && ReadoutBlocks().size() == 1; }, 5000));
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_5.fit"}));
    QTest::qWait(300);
    EXPECT_TRUE(main->AcquisitionThreadRunning());
    EXPECT_TRUE(main->Stop->isEnabled());
    main->Stop->trigger();
    ASSERT_TRUE(WaitForEnd(20000));
    EXPECT_EQ(ReadoutBlocks().size(), 1u);
    // The run's last command (the wheel supply at its end) came long before the delay was out.
    const std::vector<double> read = CommandTimes(2), wheel = CommandTimes(43);
    ASSERT_EQ(read.size(), 1u);
    ASSERT_FALSE(wheel.empty());
    EXPECT_LT(wheel.back() - read[0], 1500.0);
}

TEST_F(AcquisitionTest, AnOverlongIntegrationWaitsUntilStop)
{
    // A length beyond any int must not wrap round into a wait that is already over. (The page
    // refuses such a length; a continuous run takes the settings as they stand.)
    CurrentSettings().IntTime[0] = 1.0e12f;
    main->AcquireCont->trigger();
    ASSERT_TRUE(
        WaitFor([this] { return main->StatusText(1).startsWith(QStringLiteral("Elapsed: ")); }, 5000));
    QTest::qWait(200);
    EXPECT_TRUE(ReadoutBlocks().empty());
    EXPECT_TRUE(main->DelayTimer->isActive());
    main->Stop->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(ReadoutBlocks().size(), 1u);
    EXPECT_EQ(main->AcquisitionThread->FramesRead(), 1);
}

TEST_F(AcquisitionTest, FocusModeSavesRawFramesAndKeepsTheStartNumber)
{
    // Processed saving with a missing flat file would end the run, but focus mode applies no
    // correction: every frame is saved raw and the start number stays for the real series.
    main->SaveProcessed->setChecked(true);
    main->FlatFrameFile->setText(QString::fromStdString(folder.File("flat-missing.fit")));
    main->FocusModeEnable->setChecked(true);
    main->NImage->setValue(2);
    main->IncrExt->setChecked(true);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(ReadoutBlocks().size(), 2u);
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_P_5.fit", "m42_P_6.fit"}));
    ImageData saved;
    ASSERT_TRUE(LoadImageFile(folder.File("m42_P_6.fit"), saved));
    ExpectReplayPixels(saved);
    EXPECT_EQ(CurrentSettings().InitExt[0], 5);
    EXPECT_EQ(main->InitExt->value(), 5);
    EXPECT_EQ(main->AcquisitionMessage, nullptr);
}

TEST_F(AcquisitionTest, AutomaticLevelsOrTheSettingsLevelsGoWithTheFrame)
{
    main->NImage->setValue(1);
    main->ICAutoSet->setChecked(false);
    main->BiasLevel->setValue(1234);
    main->IntScale->setText(QStringLiteral("2.50"));
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(Windows().size(), 1u);
    EXPECT_EQ(Windows()[0]->ConstImage().DisplayOffset, 1234.0f);
    EXPECT_FLOAT_EQ(Windows()[0]->ConstImage().Gain, 2.5f);

    main->ICAutoSet->setChecked(true);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    // The replayed frame runs from 1000 to 3047: the automatic black level lies in that range.
    const ImageData &image = Windows()[0]->ConstImage();
    EXPECT_GE(image.DisplayOffset, 1000.0f);
    EXPECT_LT(image.DisplayOffset, 3047.0f);
    EXPECT_GT(image.Gain, 1.0f);
}

TEST_F(AcquisitionTest, ContinuousRunSavesNothingUntilAcquireMakesItCounted)
{
    CurrentSettings().NImage[0] = 1;
    CurrentSettings().InitExt[0] = 1;
    main->AcquireCont->trigger();
    EXPECT_TRUE(main->Continuous);
    ASSERT_TRUE(WaitFor([this] { return main->AcquisitionThread->FramesRead() >= 3; }, 10000));
    EXPECT_TRUE(main->Acquiring);
    EXPECT_TRUE(SavedFiles().empty());
    // No cooler was switched for a continuous readout.
    for (const Command &c : Commands())
        EXPECT_NE(c.opcode, 34);

    // The next frame integrates for 200 s (2 s of real time): a continuous run takes the settings
    // as they stand at each frame.
    CurrentSettings().IntTime[0] = 200.0f;
    ASSERT_TRUE(WaitFor([this] { return main->DelaySeconds == 200 && main->DelayTimer->isActive(); }, 10000));
    const int before = main->AcquisitionThread->FramesRead();

    // Acquire while the continuous run goes on (its action is disabled meanwhile, so as a script
    // or shortcut would): it does nothing but end the continuous mode.
    main->AcquireExecute();
    EXPECT_FALSE(main->Continuous);
    EXPECT_TRUE(main->Acquiring);
    ASSERT_TRUE(WaitForEnd());
    // The counter is past NImage + InitExt already: the frame in progress, now of a counted run,
    // is named with its number and saved, and the run ends after it.
    EXPECT_EQ(main->AcquisitionThread->FramesRead(), before + 1);
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_" + std::to_string(1 + before) + ".fit"}));
    EXPECT_EQ(CurrentSettings().InitExt[0], 2 + before);
    EXPECT_EQ(main->InitExt->value(), 2 + before);
    EXPECT_TRUE(main->Acquire->isEnabled());
}

TEST_F(AcquisitionTest, AStartDuringARunDoesNothing)
{
    main->IntTime->setText(QStringLiteral("300"));
    main->Acquire->trigger();
    MainCCDThread *thread = main->AcquisitionThread;
    // Called directly, as a script or shortcut would (the action is disabled during a run).
    main->AcquireContExecute();
    EXPECT_FALSE(main->Continuous);
    EXPECT_EQ(main->AcquisitionThread, thread);

    // After Stop the thread still finishes its frame, and it cannot end before this (GUI) thread
    // serves its last call: a start meanwhile must not replace it.
    ASSERT_TRUE(WaitFor([this] { return main->DelayTimer->isActive(); }, 5000));
    main->Stop->trigger();
    EXPECT_FALSE(main->Acquiring);
    main->AcquireExecute();
    main->AcquireContExecute();
    EXPECT_FALSE(main->Acquiring);
    EXPECT_EQ(main->AcquisitionThread, thread);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(ReadoutBlocks().size(), 1u);
}

TEST_F(AcquisitionTest, MissingFlatFileSavesOneRawFrameAndSaysWhy)
{
    ImageData dark;
    dark.Allocate(Width, Height, 1);
    dark.Rows.Fill(10);
    ASSERT_TRUE(SaveImageFile(folder.File("dark.kvr"), NativeFormat, dark));
    main->SaveProcessed->setChecked(true);
    main->ThermalFrameFile->setText(QString::fromStdString(folder.File("dark.kvr")));
    main->FlatFrameFile->setText(QString::fromStdString(folder.File("flat-missing.fit")));
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_P_5.fit"}));
    EXPECT_EQ(ReadoutBlocks().size(), 1u);
    ImageData saved;
    ASSERT_TRUE(LoadImageFile(folder.File("m42_P_5.fit"), saved));
    ExpectReplayPixels(saved);
    // Said in the status bar and in a box that does not hold up the program.
    EXPECT_TRUE(main->StatusText(1).contains(QStringLiteral("flat-missing.fit")));
    ASSERT_NE(main->AcquisitionMessage, nullptr);
    EXPECT_TRUE(main->AcquisitionMessage->isVisible());
    EXPECT_TRUE(main->AcquisitionMessage->text().contains(QStringLiteral("flat")));
    EXPECT_TRUE(main->AcquisitionMessage->text().contains(QStringLiteral("saved but not corrected")));
    // The run ended without the frame delay; the next run starts after the saved frame.
    EXPECT_EQ(CurrentSettings().InitExt[0], 6);
    EXPECT_EQ(main->InitExt->value(), 6);
}

TEST_F(AcquisitionTest, MissingCalibrationFileAfterAFailedSaveDoesNotClaimTheFrameWasSaved)
{
    // The frame's name is taken by a folder, so its save fails.
    fs::create_directories(folder.File("blocked/m42_P_5.fit"));
    main->SaveFile->setText(QString::fromStdString(folder.File("blocked/m42")));
    main->SaveProcessed->setChecked(true);
    main->FlatFrameFile->setText(QString::fromStdString(folder.File("flat-missing.fit")));
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(ReadoutBlocks().size(), 1u);
    ASSERT_NE(main->AcquisitionMessage, nullptr);
    EXPECT_TRUE(main->AcquisitionMessage->text().contains(QStringLiteral("does not exist")));
    EXPECT_FALSE(main->AcquisitionMessage->text().contains(QStringLiteral("saved")));
    EXPECT_EQ(CurrentSettings().InitExt[0], 5); // nothing took the number
}

TEST_F(AcquisitionTest, FlatCorrectionIsAppliedAndFlaggedDuringTheRun)
{
    ImageData dark, flat;
    dark.Allocate(Width, Height, 1);
    dark.Rows.Fill(0);
    dark.OffsetLevel = 1.0f;
    flat.Allocate(Width, Height, 1);
    flat.Rows.Fill(2000);
    flat.OffsetLevel = 1000.0f; // every pixel halved
    ASSERT_TRUE(SaveImageFile(folder.File("dark.kvr"), NativeFormat, dark));
    ASSERT_TRUE(SaveImageFile(folder.File("flat.kvr"), NativeFormat, flat));
    main->SaveProcessed->setChecked(true);
    main->ThermalFrameFile->setText(QString::fromStdString(folder.File("dark.kvr")));
    main->FlatFrameFile->setText(QString::fromStdString(folder.File("flat.kvr")));
    main->ThermalFrameApply->setChecked(false);
    main->ThermalFrameApplyImg->setChecked(false);
    main->FlatFrameApply->setChecked(true);
    main->FlatFrameApplyImg->setChecked(true);
    main->ICAutoSet->setChecked(true);
    main->NImage->setValue(2);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_P_5.fit", "m42_P_6.fit"}));
    ImageData saved;
    ASSERT_TRUE(LoadImageFile(folder.File("m42_P_6.fit"), saved));
    ExpectReplayPixels(saved, 2);
    ASSERT_EQ(Windows().size(), 1u);
    const ImageData &shown = Windows()[0]->ConstImage();
    EXPECT_TRUE(shown.FlatApplied);
    EXPECT_FALSE(shown.DarkApplied);
    EXPECT_EQ(shown.OffsetLevel, 0.0f);
    // Automatic levels come from the corrected pixels (halved: 500 to 1523).
    EXPECT_GE(shown.DisplayOffset, 500.0f);
    EXPECT_LT(shown.DisplayOffset, 1523.0f);
    EXPECT_TRUE(boxes.seen.empty());
}

TEST_F(AcquisitionTest, DarkCorrectionSubtractsTheFramesOwnOffsetLevel)
{
    // A fresh readout carries a bottom dark level of 0, so the dark frame's pixels weigh nothing
    // and the step takes the frame's own offset level (the readout prefix's mean) off every pixel.
    ImageData dark, flat;
    dark.Allocate(Width, Height, 1);
    dark.Rows.Fill(500);
    dark.OffsetLevel = 0.0f; // taken as 1: no 0/0 for the pixels
    flat.Allocate(Width, Height, 1);
    flat.Rows.Fill(1);
    ASSERT_TRUE(SaveImageFile(folder.File("dark.kvr"), NativeFormat, dark));
    ASSERT_TRUE(SaveImageFile(folder.File("flat.kvr"), NativeFormat, flat));
    main->SaveProcessed->setChecked(true);
    main->ThermalFrameFile->setText(QString::fromStdString(folder.File("dark.kvr")));
    main->FlatFrameFile->setText(QString::fromStdString(folder.File("flat.kvr")));
    main->ThermalFrameApply->setChecked(true);
    main->ThermalFrameApplyImg->setChecked(true);
    main->FlatFrameApply->setChecked(false);
    main->FlatFrameApplyImg->setChecked(false);
    main->NImage->setValue(1);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    const std::vector<int> offsets = PrefixMeans();
    ASSERT_EQ(offsets.size(), 1u);
    ASSERT_GT(offsets[0], 0); // the simulated prefix carries a bias
    ImageData saved;
    ASSERT_TRUE(LoadImageFile(folder.File("m42_P_5.fit"), saved));
    ASSERT_EQ(saved.Width, Width);
    ASSERT_EQ(saved.Height, Height);
    int wrong = 0;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            wrong += saved.FrameRow(0, y)[x] != std::max(0, ReplayPixel(x, y) - offsets[0]) ? 1 : 0;
    EXPECT_EQ(wrong, 0);
    ASSERT_EQ(Windows().size(), 1u);
    EXPECT_TRUE(Windows()[0]->ConstImage().DarkApplied);
    EXPECT_FALSE(Windows()[0]->ConstImage().FlatApplied);
    EXPECT_EQ(Windows()[0]->ConstImage().OffsetLevel, 0.0f);
}

TEST_F(AcquisitionTest, UsbFaultAnsweredWithCancelEndsTheRunWithOneBox)
{
    sim::Faults faults;
    faults.busy = true; // every open of the device fails
    sim::SetFaults(faults);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd(20000));
    EXPECT_EQ(boxes.Count(QStringLiteral("Korvi USB device error")), 1);
    // The frame that could not be read is neither saved, shown, announced nor counted.
    EXPECT_TRUE(SavedFiles().empty());
    EXPECT_TRUE(Windows().empty());
    EXPECT_FALSE(main->StatusText(2).startsWith(QStringLiteral("Acquired ")));
    EXPECT_TRUE(main->Acquire->isEnabled());
    EXPECT_FALSE(main->Stop->isEnabled());
    EXPECT_EQ(main->AcquisitionThread->FramesRead(), 0);
    EXPECT_EQ(CurrentSettings().InitExt[0], 5);
}

// The controller stops sending halfway through the second frame: that frame is not saved with the
// first one's pixels in its lower half, and its number stays free.
TEST_F(AcquisitionTest, AReadoutCutShortIsNeitherSavedNorCounted)
{
    main->NImage->setValue(2);
    main->Delay->setText(QStringLiteral("100")); // 1 s of real time to inject the fault
    main->Acquire->trigger();
    ASSERT_TRUE(WaitFor([this] { return SavedFiles().size() == 1; }, 10000));
    sim::Faults faults;
    faults.frameBytes = Width * Height; // half the frame
    sim::SetFaults(faults);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(ReadoutBlocks().size(), 2u);
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_5.fit"}));
    EXPECT_EQ(boxes.Count(QStringLiteral("Korvi USB device error")), 1);
    EXPECT_EQ(main->AcquisitionThread->FramesRead(), 1);
    EXPECT_EQ(CurrentSettings().InitExt[0], 6);
    ASSERT_EQ(Windows().size(), 1u);
    EXPECT_EQ(Windows()[0]->ConstImage().FileName, folder.File("m42_5.fit"));
    EXPECT_EQ(main->StatusText(2),
              QStringLiteral("Acquired ") + QString::fromStdString(folder.File("m42_5.fit")));
}

// A shutter close the link refuses is sent again at once and the shutter closes; the frame, which
// had light beyond its exposure, is reported and not saved, and its number stays free.
TEST_F(AcquisitionTest, ARefusedShutterCloseIsSentAgainAndItsFrameIsNotSaved)
{
    main->NImage->setValue(1);
    main->IntTime->setText(QStringLiteral("100"));
    sim::Faults faults;
    faults.failures.push_back({"FT_Write", 1, FT_IO_ERROR, false, {51}}); // the first close
    sim::SetFaults(faults);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd(30000));
    const sim::Snapshot after = sim::GetSnapshot();
    EXPECT_FALSE(after.shutterOpen);
    // Sent again at once: the frame's extra light is a moment (here 0.1 s of real time is allowed for a
    // loaded machine), not the rest of the frame's steps.
    EXPECT_LT(after.cameras[0].lastLightSeconds, 100.0 + 10.0);
    EXPECT_EQ(boxes.Count(QStringLiteral("Korvi USB device error")), 1);
    EXPECT_TRUE(SavedFiles().empty());
    EXPECT_TRUE(Windows().empty());
    ASSERT_NE(main->AcquisitionMessage, nullptr);
    EXPECT_TRUE(
        main->AcquisitionMessage->text().startsWith(QStringLiteral("The shutter did not close on time")))
        << main->AcquisitionMessage->text().toStdString();
    EXPECT_EQ(CurrentSettings().InitExt[0], 5);
}

// A temperature the controller does not send is a link error, and the frame is saved without a
// temperature rather than with the -64.0 that no reply would read as.
TEST_F(AcquisitionTest, ATemperatureThatDidNotComeIsReportedAndLeftOutOfTheHeader)
{
    main->NImage->setValue(1);
    sim::Faults faults;
    faults.noReply = true; // the temperature is not answered
    sim::SetFaults(faults);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd(30000));
    EXPECT_EQ(boxes.Count(QStringLiteral("Korvi USB device error")), 1);
    ASSERT_EQ(SavedFiles(), (std::vector<std::string>{"m42_5.fit"}));
    ImageData saved;
    ASSERT_TRUE(LoadImageFile(folder.File("m42_5.fit"), saved));
    EXPECT_EQ(saved.CCDTemperature, "");
}

// A transfer size the driver refuses is reported, but the pixels all arrive: the frame is kept.
TEST_F(AcquisitionTest, ARefusedTransferSizeKeepsTheCompleteFrame)
{
    sim::Faults faults;
    faults.refuseTransferSize = true;
    sim::SetFaults(faults);
    main->NImage->setValue(1);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(boxes.Count(QStringLiteral("Korvi USB device error")), 1);
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_5.fit"}));
    ImageData saved;
    ASSERT_TRUE(LoadImageFile(folder.File("m42_5.fit"), saved));
    ExpectReplayPixels(saved);
    EXPECT_EQ(main->AcquisitionThread->FramesRead(), 1);
}

// The temperature read-out every second of process time (10 ms of real time) runs on the GUI
// thread beside the acquisition thread's commands: they take turns at the camera, so no command
// fails as busy and every frame is saved.
TEST_F(AcquisitionTest, PeriodicTemperatureReadoutsNeverCollideWithARun)
{
    main->IntTime->setText(QStringLiteral("0"));
    main->Delay->setText(QStringLiteral("0"));
    main->NClear->setValue(1);
    main->NImage->setValue(300);
    main->InitExt->setValue(1);
    main->TempUDPeriod->setValue(1);
    sim::Config config;
    config.callLogLimit = 1000000; // the whole run
    config.callLogReadBytes = 2;
    ResetSimulator(config);
    main->TempUpdate->click();
    ASSERT_TRUE(main->TempUDTimer->isActive());
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd(300000));
    main->TempUpdate->click();
    EXPECT_EQ(boxes.Count(QStringLiteral("Korvi USB device error")), 0);
    EXPECT_EQ(SavedFiles().size(), 300u);
    EXPECT_EQ(main->AcquisitionThread->FramesRead(), 300);
    int temperatureReads = 0;
    for (const Command &c : Commands())
        temperatureReads += c.opcode == 31 ? 1 : 0;
    EXPECT_GT(temperatureReads, 300); // the timer's read-outs did run between the frames
}

TEST_F(AcquisitionTest, InvalidGeometryEndsTheRunBeforeAnythingIsSent)
{
    CurrentSettings().XBIN[0] = 0; // a continuous run takes the settings as they stand
    main->AcquireCont->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(sim::WrittenBlocks().empty());
    EXPECT_TRUE(main->StatusText(1).contains(QStringLiteral("binning")));
    ASSERT_NE(main->AcquisitionMessage, nullptr);
    EXPECT_TRUE(main->AcquisitionMessage->isVisible());
    EXPECT_TRUE(main->Acquire->isEnabled());
    EXPECT_EQ(main->AcquisitionThread->FramesRead(), 0);
    EXPECT_TRUE(Windows().empty());
}

// A series aimed at a missing folder: the folder is made when the folder above it exists; else
// the run says so once, with no modal box, and ends before anything is exposed or claimed.
TEST_F(AcquisitionTest, AFailedSaveIsReportedAndNeverAnnouncedAsAcquired)
{
    main->SaveFile->setText(QString::fromStdString(folder.File("no-such-folder/deeper/m42")));
    main->NImage->setValue(2);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(ReadoutBlocks().size(), 0u);
    EXPECT_TRUE(boxes.seen.empty());
    ASSERT_NE(main->AcquisitionMessage, nullptr);
    EXPECT_EQ(main->AcquisitionMessage->text().toStdString(),
              "The folder " + folder.File("no-such-folder/deeper/") +
                  " does not exist and could not be made; nothing was acquired.");
    EXPECT_FALSE(main->StatusText(2).startsWith(QStringLiteral("Acquired")));
    EXPECT_TRUE(Windows().empty());
    EXPECT_EQ(CurrentSettings().InitExt[0], 5);

    main->SaveFile->setText(QString::fromStdString(folder.File("no-such-folder/m42")));
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(ReadoutBlocks().size(), 2u);
    EXPECT_TRUE(boxes.seen.empty());
    EXPECT_TRUE(fs::is_regular_file(folder.File("no-such-folder/m42_5.fit")));
    EXPECT_TRUE(fs::is_regular_file(folder.File("no-such-folder/m42_6.fit")));
}

TEST_F(AcquisitionTest, AnImageWithUnsavedChangesIsNotReplaced)
{
    TChild *edited = main->CreateImageWindow(8, 8);
    edited->Image().Allocate(8, 8, 1);
    edited->Image().Rows.Fill(7);
    edited->Image().Modified = true;
    edited->show();
    QApplication::processEvents();
    main->NImage->setValue(1);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(Windows().size(), 2u);
    EXPECT_EQ(edited->ConstImage().Width, 8);
    EXPECT_EQ(edited->ConstImage().FrameRow(0, 0)[0], 7);
    EXPECT_TRUE(edited->ConstImage().Modified);
}

TEST_F(AcquisitionTest, ADisplayedViewSavePicturesTheFrameItIsNamedFor)
{
    // An edited 8 x 8 image is the active window before the run: the first frame's picture must
    // not be taken of it, nor any frame's picture of the frame before.
    TChild *edited = main->CreateImageWindow(8, 8);
    edited->Image().Allocate(8, 8, 1);
    edited->Image().Rows.Fill(7);
    edited->Image().Modified = true;
    edited->show();
    QApplication::processEvents();
    main->SaveFormat->setCurrentIndex(2);
    main->DisplayImage_->setChecked(false); // the picture needs the frame shown all the same
    main->NImage->setValue(2);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(SavedFiles(), (std::vector<std::string>{"m42_5.bmp", "m42_6.bmp"}));
    for (const char *name : {"m42_5.bmp", "m42_6.bmp"}) {
        SCOPED_TRACE(name);
        ImageData picture;
        ASSERT_TRUE(LoadImageFile(folder.File(name), picture));
        EXPECT_EQ(picture.Width, Width);
        EXPECT_EQ(picture.Height, Height);
    }
    EXPECT_EQ(Windows().size(), 2u);
    EXPECT_EQ(edited->ConstImage().Width, 8);
    EXPECT_EQ(main->AcquisitionMessage, nullptr);
}

TEST_F(AcquisitionTest, NewFrameOnCaptureOpensAWindowPerFrame)
{
    main->NewFrameOnCapture->setChecked(true);
    main->NImage->setValue(2);
    main->Acquire->trigger();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(Windows().size(), 2u);
}

TEST_F(AcquisitionTest, ShutDownDuringAnIntegrationDoesNotHang)
{
    main->IntTime->setText(QStringLiteral("3000")); // 30 s of real time
    main->Acquire->trigger();
    ASSERT_TRUE(WaitFor([this] { return main->DelayTimer->isActive(); }, 5000));
    ASSERT_TRUE(
        WaitFor([] { return !CommandTimes(50).empty() && sim::Now() - CommandTimes(50)[0] >= 50.0; }, 10000));
    QElapsedTimer timer;
    timer.start();
    main->ClosingDone = true;
    main.reset();
    EXPECT_LT(timer.elapsed(), 20000); // well before the 30 s integration would end
    // The frame cut short is saved, as saving is on, with the time it was really lit.
    ASSERT_EQ(SavedFiles(), (std::vector<std::string>{"m42_5.fit"}));
    const double light = sim::GetSnapshot().cameras[0].lastLightSeconds;
    ImageData saved;
    ASSERT_TRUE(LoadImageFile(folder.File("m42_5.fit"), saved));
    EXPECT_NEAR(std::atof(saved.IntegrationTime.c_str()), light, std::max(2.0, 0.02 * light))
        << saved.IntegrationTime;
}

// A frame that was never saved is on disk nowhere: its window asks before it closes, as a changed
// image does. A run that does not save shows its frames in one window, each replacing the one
// before (which was its own), and the window asks once.
TEST_F(AcquisitionTest, AFrameThatWasNeverSavedAsksBeforeItsWindowCloses)
{
    CurrentSettings().DisableClosePrompt = false;
    for (const bool continuous : {false, true}) {
        SCOPED_TRACE(continuous ? "continuous" : "counted, saving off");
        main->SaveRawImage->setChecked(false);
        main->NImage->setValue(3);
        if (continuous) {
            main->AcquireCont->trigger();
            ASSERT_TRUE(WaitFor([this] { return main->AcquisitionThread->FramesRead() >= 3; }, 10000));
            main->Stop->trigger();
        } else {
            main->Acquire->trigger();
        }
        ASSERT_TRUE(WaitForEnd());
        EXPECT_TRUE(SavedFiles().empty());
        ASSERT_EQ(Windows().size(), 1u);
        EXPECT_TRUE(Windows()[0]->ConstImage().Modified);
        // The next run keeps it, and shows its own frame beside it.
        main->NImage->setValue(1);
        main->Acquire->trigger();
        ASSERT_TRUE(WaitForEnd());
        ASSERT_EQ(Windows().size(), 2u);
        const std::size_t before = boxes.seen.size();
        // Whichever button the box is answered with, the window can go (Yes saves it here).
        for (TChild *window : Windows())
            window->Image().FileName = folder.File("kept.fit");
        main->Close1Click();
        ASSERT_EQ(boxes.seen.size(), before + 1);
        EXPECT_TRUE(boxes.seen.back().second.startsWith(QStringLiteral("Save changes to image ")))
            << boxes.seen.back().second.toStdString();
        for (TChild *window : Windows())
            window->Image().Modified = false;
        main->CloseAll1Click();
        ASSERT_TRUE(Windows().empty());
    }
}

} // namespace

int main(int argc, char **argv)
{
    return korvi::test::RunQtTests(argc, argv);
}

// After another sensor is chosen, Continuous (which takes the settings as they stand) reads the
// whole new sensor, as Acquire does.
TEST_F(AcquisitionTest, ASensorChoiceGivesContinuousTheWholeNewSensor)
{
    CCDSetF->show();
    CCDSetF->CCDType->setCurrentIndex(2); // another sensor
    CCDSetF->NCOL->setValue(300);
    CCDSetF->NROW->setValue(200);
    QTest::mouseClick(CCDSetF->OKBtn, Qt::LeftButton);
    main->AcquireCont->trigger();
    ASSERT_TRUE(WaitFor([this] { return main->AcquisitionThread->FramesRead() >= 1; }, 10000));
    main->StopExecute();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(main->AcquisitionMessage, nullptr);
    const std::vector<std::vector<std::uint8_t>> blocks = ReadoutBlocks();
    ASSERT_FALSE(blocks.empty());
    const std::vector<std::uint8_t> &block = blocks[0];
    auto word = [&](int i) { return block[2 * i] | (block[2 * i + 1] << 8); };
    EXPECT_EQ((std::vector<int>{word(1), word(2), word(3), word(4), word(6), word(7)}),
              (std::vector<int>{0, 299, 0, 199, 300, 200}));
}

// Times typed into the acquisition page are checked when Acquire takes them: a text that is no
// number or a length out of range is named in a message and nothing starts.
TEST_F(AcquisitionTest, TimesThatAreNoNumberOrOutOfRangeAreRefusedByName)
{
    const struct {
        const char *integration, *delay, *field;
    } cases[] = {{"abc", "0", "Integration time (s)"},
                 {"0.2", "-1", "Frame delay (s)"},
                 {"2e6", "0", "Integration time (s)"},
                 {"0.2", "", "Frame delay (s)"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.integration + std::string("/") + c.delay);
        boxes.seen.clear();
        main->IntTime->setText(QString::fromLatin1(c.integration));
        main->Delay->setText(QString::fromLatin1(c.delay));
        main->Acquire->trigger();
        EXPECT_FALSE(main->Acquiring);
        ASSERT_TRUE(WaitFor([this] { return !boxes.seen.empty(); }, 3000));
        EXPECT_TRUE(boxes.seen[0].second.startsWith(QString::fromLatin1(c.field) + QStringLiteral(": '")));
    }
    EXPECT_TRUE(sim::WrittenBlocks().empty());
}

// The shipped settings and the shipped simulated camera: the first Acquire saves a raw frame into
// the program's "Frames" folder and shows a dark sky with bright stars, without a single message.
TEST(FirstNight, AcquireWithTheShippedSettingsSavesAndShowsAFrame)
{
    sim::Reset();
    ProgramFolder folder;
    BoxAnswerer boxes;
    auto main = std::make_unique<TMainF>(folder.Dir(), QStringList());
    CreateProgramWindows(main.get());
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    EXPECT_EQ(main->SaveFile->text(), QStringLiteral("Frames/Image")); // as the file holds it
    EXPECT_TRUE(main->ICAutoSet->isChecked());
    EXPECT_FALSE(main->SaveProcessed->isChecked());
    main->Acquire->trigger();
    ASSERT_TRUE(WaitFor([&] { return !main->Acquiring && !main->AcquisitionThreadRunning(); }, 20000));
    EXPECT_TRUE(boxes.seen.empty()) << (boxes.seen.empty() ? QString() : boxes.seen[0].second).toStdString();
    EXPECT_EQ(main->AcquisitionMessage, nullptr);
    EXPECT_TRUE(fs::is_regular_file(folder.File("Frames/Image_1.kvr")));
    ASSERT_EQ(main->ImageWindows().size(), 1u);
    const ImageData &frame = main->ImageWindows()[0]->ConstImage();
    EXPECT_GT(frame.DisplayOffset, 0.0f); // levels worked out from the frame, not the page's 0
    // Several stars stand thousands of counts above the sky (the median pixel).
    const std::uint16_t *pixels = frame.FramePixels(0);
    std::vector<std::uint16_t> sorted(pixels, pixels + frame.PixelCount());
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const int sky = sorted[sorted.size() / 2];
    EXPECT_GT(std::count_if(pixels, pixels + frame.PixelCount(), [&](int p) { return p > sky + 2000; }), 200);
    // The view as rendered: the sky dark, the stars bright.
    std::vector<int> grey;
    for (std::size_t i = 0; i < frame.PixelCount(); ++i)
        grey.push_back(frame.Rgba[4 * i]);
    std::nth_element(grey.begin(), grey.begin() + grey.size() / 2, grey.end());
    EXPECT_LT(grey[grey.size() / 2], 48);
    EXPECT_GT(std::count(grey.begin(), grey.end(), 255), 200);
    main->ClosingDone = true;
}

// The shipped prefix "Frames/Image" names the program's Frames folder however the settings were
// read: loaded with "Load Settings..." (from a working directory that has no Frames folder) it saves
// there as at start-up, and "Save Settings as Default" writes the prefixes back as they were read.
TEST(FirstNight, TheShippedRelativePrefixMeansTheProgramFolderAfterALoadToo)
{
    sim::Reset();
    ProgramFolder folder;
    TempDir elsewhere;
    struct WorkingDirectory {
        fs::path before = fs::current_path();
        explicit WorkingDirectory(const fs::path &to) { fs::current_path(to); }
        ~WorkingDirectory() { fs::current_path(before); }
    } inElsewhere(elsewhere.path());
    ModalScript script;
    auto main = std::make_unique<TMainF>(folder.Dir(), QStringList());
    CreateProgramWindows(main.get());
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    script.ChooseFiles({QString::fromStdString(folder.File(DefaultSettingsFile))});
    main->LoadSettings->trigger();
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(CurrentSettings().SaveFile[0], "Frames/Image");
    main->Acquire->trigger();
    ASSERT_TRUE(WaitFor([&] { return !main->Acquiring && !main->AcquisitionThreadRunning(); }, 20000));
    EXPECT_EQ(main->AcquisitionMessage, nullptr);
    EXPECT_TRUE(fs::is_regular_file(folder.File("Frames/Image_1.kvr")));
    EXPECT_FALSE(fs::exists(elsewhere.path() / "Frames"));

    main->SaveSettingsDefault->trigger();
    std::ifstream written(folder.File(DefaultSettingsFile));
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(written, line))
        lines.push_back(line);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(SettingsFileLines));
    EXPECT_EQ(lines[7], "Frames/Image");
    EXPECT_EQ(lines[8], "Frames/Guide");
    EXPECT_EQ(script.unexpected, 0);
    main->ClosingDone = true;
}
