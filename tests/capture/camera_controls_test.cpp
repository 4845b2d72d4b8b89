// The camera controls of the main window against the simulated controller: the bytes each
// control sends, the filter wheel's way round, the periodic temperature read-out, standby, the
// shutter, the USB read test and a link fault answered in the USB error box.
#include "camera_test_support.h"

#include "image_data.h"
#include "image_window.h"
#include "korvicom.h"
#include "time_scale.h"
#include "usb_error_handler.h"

#include <QAction>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <thread>

using namespace korvi::test;

namespace
{

class CameraControlsTest : public MainWindowTest
{
};

struct ButtonCase {
    const char *name;
    std::function<void(TMainF &)> press;
    std::vector<Bytes> sent;
};

// Test names and failure texts show the case's name, not its bytes (which hold addresses).
void PrintTo(const ButtonCase &c, std::ostream *os)
{
    *os << c.name;
}

class CameraButtonTest : public MainWindowTest, public ::testing::WithParamInterface<ButtonCase>
{
};

std::vector<ButtonCase> ButtonCases()
{
    return {
        {"SendTargetTemperature",
         [](TMainF &w) {
             w.CCDTargetTemp->setValue(-20);
             w.SendTargetTempBtn->click();
         },
         {MakeBytes({0x1E, 0x00, 0xAE, 0x01})}}, // 10 x -20 + 630 = 430
        {"SendTargetTemperatureAboveZero",
         [](TMainF &w) {
             w.CCDTargetTemp->setValue(5);
             w.SendTargetTempBtn->click();
         },
         {MakeBytes({0x1E, 0x00, 0xA8, 0x02})}}, // 680
        {"CoolerOnThenOff",
         [](TMainF &w) {
             w.TEPowerUpBtn->click();
             w.TEPowerUpBtn->click();
         },
         {MakeBytes({0x21, 0x00}), MakeBytes({0x22, 0x00})}},
        {"ReadTemperature", [](TMainF &w) { w.CCDReadTempBtn->click(); }, {MakeBytes({0x1F, 0x00})}},
        {"ReadBattery", [](TMainF &w) { w.ReadBatteryBtn->click(); }, {MakeBytes({0x2A, 0x00})}},
        {"StandbyAndBack",
         [](TMainF &w) {
             w.StandbyBtn->click();
             w.StandbyBtn->click();
         },
         {MakeBytes({0x29}), MakeBytes({0x28})}},
        {"ShutterOpenThenClose",
         [](TMainF &w) {
             w.ShutterStateToggle->trigger();
             w.ShutterStateToggle->trigger();
         },
         {MakeBytes({0x32}), MakeBytes({0x33})}},
        {"StepForward", [](TMainF &w) { w.SCWBtn->click(); }, {MakeBytes({0x34, 0x01, 0x03, 0x00})}},
        {"StepBackward", [](TMainF &w) { w.SCCWBtn->click(); }, {MakeBytes({0x34, 0x00, 0x03, 0x00})}},
        {"TargetSpinSendsNothing", [](TMainF &w) { w.CCDTargetTemp->setValue(-30); }, {}},
        {"FilterPositionSpinSendsNothing", [](TMainF &w) { w.FiltPos->setValue(5); }, {}},
    };
}

} // namespace

TEST_P(CameraButtonTest, SendsExactlyItsCommand)
{
    GetParam().press(*window);
    EXPECT_EQ(Written(), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Controls, CameraButtonTest, ::testing::ValuesIn(ButtonCases()),
                         [](const ::testing::TestParamInfo<ButtonCase> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(CameraControlsTest, TargetAndPositionSpinsWriteTheirFieldsAtOnce)
{
    window->CCDTargetTemp->setValue(-33);
    EXPECT_EQ(CurrentSettings().CCDTargetTemp[0], -33);
    window->FiltPos->setValue(5);
    EXPECT_EQ(CurrentSettings().FiltPos, 5);
    // The position spin tells the program where the wheel stands; choosing that filter then sends
    // nothing.
    window->FiltBtn[4]->click();
    EXPECT_TRUE(Written().empty());
}

TEST_F(CameraControlsTest, CoolerButtonFollowsItsState)
{
    EXPECT_EQ(window->TEPowerUpBtn->text(), "Power on CCD TE cooler");
    window->TEPowerUpBtn->click();
    EXPECT_TRUE(CurrentSettings().CoolerPowerOn[0]);
    EXPECT_TRUE(korvi::sim::GetSnapshot().cameras[0].cooler.powered);
    EXPECT_EQ(window->TEPowerUpBtn->text(), "Power off CCD TE cooler");
    window->TEPowerUpBtn->click();
    EXPECT_FALSE(CurrentSettings().CoolerPowerOn[0]);
    EXPECT_FALSE(korvi::sim::GetSnapshot().cameras[0].cooler.powered);
    EXPECT_EQ(window->TEPowerUpBtn->text(), "Power on CCD TE cooler");
}

TEST_F(CameraControlsTest, TemperatureAndVoltageReadOuts)
{
    // A stopped clock: the cooler cannot drift between setting and reading.
    korvi::sim::Config config = korvi::sim::DefaultConfig();
    config.manualClock = true;
    korvi::sim::Reset(config);
    korvi::sim::SetCoolerTemperature(0, -12.34);
    window->CCDReadTempBtn->click();
    EXPECT_EQ(window->CCD0Temp->text(), QStringLiteral("Imaging camera CCD temperature: -12.3 \u00B0C"));
    korvi::sim::SetBatteryVolts(11.99);
    window->ReadBatteryBtn->click();
    EXPECT_EQ(window->CCD0Temp->text(), QStringLiteral("DC supply voltage: 12.0 V"));

    // A silent controller: each read is reported as a link error and shows no number (not the
    // -64.0 and 0.0 that no reply would read as).
    korvi::sim::Faults silent;
    silent.noReply = true;
    korvi::sim::SetFaults(silent);
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi USB device error"), QStringLiteral("Device IO error."),
                             QMessageBox::Ok);
        window->CCDReadTempBtn->click();
        EXPECT_EQ(modals.Pending(), 0);
    }
    EXPECT_EQ(window->CCD0Temp->text(), QStringLiteral("Imaging camera CCD temperature: not read"));
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi USB device error"), QStringLiteral("Device IO error."),
                             QMessageBox::Ok);
        window->ReadBatteryBtn->click();
        EXPECT_EQ(modals.Pending(), 0);
    }
    EXPECT_EQ(window->CCD0Temp->text(), QStringLiteral("DC supply voltage: not read"));
    korvi::sim::ClearFaults();
}

TEST_F(CameraControlsTest, ReadOutTimerFollowsTheBoxAndThePeriod)
{
    // Seconds of program time: 1 s is 1000 ms, shortened like every wait by the time scale.
    window->TempUDPeriod->setValue(1);
    EXPECT_EQ(window->TempUDTimer->interval(), std::lround(1000 * korvi::TimeScale()));
    window->TempUDPeriod->setValue(7);
    EXPECT_EQ(window->TempUDTimer->interval(), std::lround(7000 * korvi::TimeScale()));
    EXPECT_FALSE(window->TempUDTimer->isActive());
    window->TempUpdate->click();
    EXPECT_TRUE(window->TempUDTimer->isActive());
    EXPECT_TRUE(CurrentSettings().TempUpdate);
    window->TempUpdate->click();
    EXPECT_FALSE(window->TempUDTimer->isActive());
    EXPECT_FALSE(CurrentSettings().TempUpdate);
}

TEST_F(CameraControlsTest, StandbyWhileIdleAsksNothing)
{
    window->StandbyBtn->click();
    EXPECT_TRUE(window->Standby);
    EXPECT_TRUE(korvi::sim::GetSnapshot().standby);
    EXPECT_EQ(window->StandbyBtn->text(), "Return system from standby mode");
    window->StandbyBtn->click();
    EXPECT_FALSE(window->Standby);
    EXPECT_FALSE(korvi::sim::GetSnapshot().standby);
    EXPECT_EQ(window->StandbyBtn->text(), "Place system in standby mode");
}

TEST_F(CameraControlsTest, LeavingStandbyNeverAsks)
{
    window->StandbyBtn->click();
    ASSERT_TRUE(window->Standby);
    korvi::sim::ClearCallLog();
    window->Acquiring = true;
    BoxWatcher boxes([](QMessageBox *) { return QMessageBox::No; });
    window->StandbyBtn->click();
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_FALSE(window->Standby);
    EXPECT_TRUE(window->Acquiring);
    EXPECT_EQ(Written(), std::vector<Bytes>{MakeBytes({0x28})});
    window->Acquiring = false;
}

TEST_F(CameraControlsTest, StandbyDuringAnAcquisitionAsksAndNoKeepsEverything)
{
    window->Acquiring = true;
    {
        ModalScript modals;
        modals.ExpectMessage(
            QStringLiteral("Korvi"),
            QStringLiteral("Images being acquired will be lost.       Continue with controller powerdown?"),
            QMessageBox::No);
        window->StandbyBtn->click();
    }
    EXPECT_TRUE(window->Acquiring);
    EXPECT_FALSE(window->Standby);
    EXPECT_TRUE(Written().empty());
}

TEST_F(CameraControlsTest, StandbyDuringGuidingStopsBothRunsOnYes)
{
    std::atomic<bool> guiderAcquiring{true};
    window->GuiderAcquiring = &guiderAcquiring;
    window->Acquiring = true;
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("Images being acquired will be lost."),
                             QMessageBox::Yes);
        window->StandbyBtn->click();
    }
    EXPECT_FALSE(window->Acquiring);
    EXPECT_FALSE(guiderAcquiring);
    EXPECT_TRUE(window->Standby);
    EXPECT_EQ(Written(), std::vector<Bytes>{MakeBytes({0x29})});
    window->GuiderAcquiring = nullptr;
}

TEST_F(CameraControlsTest, ShutterToggleSwitchesItsImage)
{
    EXPECT_EQ(window->ShutterStateToggle->property("ImageIndex").toInt(), 13);
    window->ShutterStateToggle->trigger();
    EXPECT_TRUE(window->ShutterOpen);
    EXPECT_TRUE(korvi::sim::GetSnapshot().shutterOpen);
    EXPECT_EQ(window->ShutterStateToggle->property("ImageIndex").toInt(), 11);
    window->ShutterStateToggle->trigger();
    EXPECT_FALSE(window->ShutterOpen);
    EXPECT_FALSE(korvi::sim::GetSnapshot().shutterOpen);
    EXPECT_EQ(window->ShutterStateToggle->property("ImageIndex").toInt(), 13);
}

struct WheelCase {
    int from, to;
    std::vector<Bytes> sent;
};

void PrintTo(const WheelCase &c, std::ostream *os)
{
    *os << c.from << " to " << c.to;
}

class FilterWheelTest : public MainWindowTest, public ::testing::WithParamInterface<WheelCase>
{
};

TEST_P(FilterWheelTest, ButtonTakesTheShorterWayRound)
{
    const WheelCase &c = GetParam();
    CurrentSettings().FiltPos = c.from;
    CurrentSettings().UseFiltDesc = false;
    window->ApplySettingsToControls();
    korvi::sim::ClearCallLog();
    window->FiltBtn[c.to - 1]->click();
    EXPECT_EQ(Written(), c.sent);
    EXPECT_EQ(CurrentSettings().FiltPos, c.to);
    EXPECT_EQ(window->FiltPos->value(), c.to);
    EXPECT_EQ(window->FilterPosition, c.to);
}

INSTANTIATE_TEST_SUITE_P(Moves, FilterWheelTest,
                         ::testing::Values(WheelCase{5, 1, {MakeBytes({0x34, 0x01, 0x02, 0x00})}},
                                           WheelCase{5, 2, {MakeBytes({0x34, 0x00, 0x03, 0x00})}},
                                           WheelCase{1, 4, {MakeBytes({0x34, 0x00, 0x03, 0x00})}},
                                           WheelCase{2, 3, {MakeBytes({0x34, 0x01, 0x01, 0x00})}},
                                           WheelCase{1, 6, {MakeBytes({0x34, 0x00, 0x01, 0x00})}},
                                           WheelCase{4, 4, {}}),
                         [](const ::testing::TestParamInfo<WheelCase> &info) {
                             return "From" + std::to_string(info.param.from) + "To" +
                                    std::to_string(info.param.to);
                         });

TEST_F(CameraControlsTest, TheWheelTurnsAsFarAsTheProgramThinks)
{
    // The simulated wheel starts at 1; the program is told so, then moves it about.
    CurrentSettings().FiltPos = 1;
    window->ApplySettingsToControls();
    for (int target : {4, 6, 2, 5, 1, 3}) {
        window->FiltBtn[target - 1]->click();
        EXPECT_EQ(korvi::sim::GetSnapshot().filterPosition, target);
    }
}

TEST_F(CameraControlsTest, SelectFilterTakesTheFilterNameWhenAsked)
{
    Settings &s = CurrentSettings();
    s.FiltPos = 2;
    s.UseFiltDesc = true;
    s.FilterName[6] = "O-III 5nm";
    EXPECT_TRUE(window->SelectFilter(6));
    EXPECT_EQ(s.FiltPos, 6);
    EXPECT_EQ(window->Filters->text(), "O-III 5nm");
}

TEST_F(CameraControlsTest, AStoredPositionOutsideTheWheelIsClampedBeforeStepping)
{
    Settings &s = CurrentSettings();
    s.UseFiltDesc = false;
    s.FiltPos = 0; // counted from 0, as scripts do
    EXPECT_TRUE(window->SelectFilter(3));
    EXPECT_EQ(Written(), std::vector<Bytes>{MakeBytes({0x34, 0x01, 0x02, 0x00})}); // 1 -> 3
    EXPECT_EQ(s.FiltPos, 3);

    korvi::sim::ClearCallLog();
    s.FiltPos = 11;
    EXPECT_TRUE(window->SelectFilter(5));
    EXPECT_EQ(Written(), std::vector<Bytes>{MakeBytes({0x34, 0x00, 0x01, 0x00})}); // 6 -> 5
}

TEST_F(CameraControlsTest, ATargetOutsideTheWheelNeverReachesIt)
{
    CurrentSettings().FiltPos = 3;
    EXPECT_FALSE(window->SelectFilter(0));
    EXPECT_FALSE(window->SelectFilter(7));
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(CurrentSettings().FiltPos, 3);
}

TEST_F(CameraControlsTest, AWheelThatDoesNotAcknowledgeIsAFaultAndStaysWhereItWas)
{
    Settings &s = CurrentSettings();
    s.FiltPos = 2;
    s.UseFiltDesc = true;
    window->ApplySettingsToControls();
    window->Filters->setText(QStringLiteral("unchanged"));
    korvi::sim::Faults faults;
    faults.acknowledgeByte = 2; // refused
    korvi::sim::SetFaults(faults);
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"),
                             QStringLiteral("Device fault. Could not operate filter rotator."),
                             QMessageBox::Ok);
        window->FiltBtn[4]->click();
    }
    EXPECT_EQ(s.FiltPos, 2);
    EXPECT_EQ(window->FiltPos->value(), 2);
    EXPECT_TRUE(window->FiltBtn[1]->isChecked());
    EXPECT_EQ(window->Filters->text(), "unchanged");
}

TEST_F(CameraControlsTest, FilterNamesFollowTheirEdits)
{
    window->FiltName[2]->setText(QStringLiteral("Luminance"));
    EXPECT_EQ(CurrentSettings().FilterName[3], "Luminance");
    EXPECT_EQ(window->FiltBtn[2]->text(), "Luminance");
}

TEST_F(CameraControlsTest, UsbReadTestShowsThePatternAndTheRate)
{
    auto *diagnostics = window->findChild<QMenu *>(QStringLiteral("Diagnostics1"));
    ASSERT_NE(diagnostics, nullptr);
    EXPECT_TRUE(diagnostics->actions().contains(window->USBreadtest1));
    const qsizetype windowMenuItems = window->WindowMenu->actions().size();
    const int before = static_cast<int>(window->ImageWindows().size());
    window->USBreadtest1->trigger();
    ASSERT_EQ(static_cast<int>(window->ImageWindows().size()), before + 1);
    EXPECT_EQ(Written().front(), MakeBytes({0x0A, 0x00, 0x00, 0x04, 0x00, 0x04}));
    EXPECT_TRUE(window->StatusText(1).startsWith(QStringLiteral("2097152 bytes read in ")))
        << window->StatusText(1).toStdString();
    EXPECT_TRUE(window->StatusText(1).endsWith(QStringLiteral(" kB/s).")));
    TChild *child = window->FirstImageWindow();
    ASSERT_NE(child, nullptr);
    const ImageData &image = child->ConstImage();
    ASSERT_EQ(image.Width, 1024);
    ASSERT_EQ(image.Height, 1024);
    EXPECT_EQ(image.Description, "USB read test (intensity = x + y)");
    for (int y : {0, 1, 500, 1023})
        for (int x : {0, 7, 1023})
            EXPECT_EQ(image.FrameRow(0, y)[x], x + y) << x << "," << y;
    EXPECT_FALSE(image.Date.empty());
    // The window's levels are computed and shown on the display page.
    EXPECT_GT(image.Gain, 0.0f);
    EXPECT_EQ(window->IntScale->text(), QString::number(image.Gain, 'f', 2));
    EXPECT_EQ(window->BiasLevel->value(), static_cast<int>(image.DisplayOffset));
    // A diagnostic window, not a file: the Window menu gets no entry for it.
    EXPECT_EQ(window->WindowMenu->actions().size(), windowMenuItems);
}

TEST_F(CameraControlsTest, UsbReadTestThatRunsIntoTheTimeLimitReportsATimeoutAndStillShowsTheWindow)
{
    // The controller stops after 1000 bytes: the read waits out its time-out, well past 10 s.
    korvi::sim::Faults faults;
    faults.frameBytes = 1000;
    korvi::sim::SetFaults(faults);
    window->SetStatusText(1, QString());
    const int before = static_cast<int>(window->ImageWindows().size());
    {
        BoxWatcher boxes([](QMessageBox *) { return QMessageBox::Ok; });
        window->USBreadtest1->trigger();
    }
    EXPECT_EQ(window->StatusText(2), "USB timeout.");
    EXPECT_FALSE(window->StatusText(1).contains(QStringLiteral("kB/s")));
    ASSERT_EQ(static_cast<int>(window->ImageWindows().size()), before + 1);
    // The window holds what did arrive: the first 500 words of the pattern.
    const ImageData &image = window->FirstImageWindow()->ConstImage();
    for (int x : {0, 1, 250, 499})
        EXPECT_EQ(image.FrameRow(0, 0)[x], x) << x;
}

TEST_F(CameraControlsTest, UsbReadTestWithNothingTransferredIsAFailure)
{
    korvi::sim::Faults faults;
    faults.noDevice = true;
    korvi::sim::SetFaults(faults);
    window->SetStatusText(1, QString());
    {
        BoxWatcher boxes([](QMessageBox *) { return QMessageBox::Ok; });
        window->USBreadtest1->trigger();
        ASSERT_FALSE(boxes.captions.empty());
        EXPECT_EQ(boxes.captions.front(), "Korvi USB device error");
    }
    EXPECT_EQ(window->StatusText(2), "USB read test failed: no data was transferred.");
    EXPECT_FALSE(window->StatusText(1).contains(QStringLiteral("kB/s")));
    // The window is still shown.
    EXPECT_NE(window->FirstImageWindow(), nullptr);
}

TEST_F(CameraControlsTest, ALinkFaultAnsweredWithCancelStopsTheWorkerThreads)
{
    std::atomic<bool> acquisitionStop{false}, guideStop{false}, scriptStop{false};
    WorkerStopRegistration acquisition(WorkerThreadKind::Acquisition, &acquisitionStop);
    WorkerStopRegistration guide(WorkerThreadKind::Guide, &guideStop);
    korvi::sim::Faults faults;
    faults.failures.push_back({"FT_Write", 1, FT_IO_ERROR, false});
    korvi::sim::SetFaults(faults);
    bool busyCursorDuringBox = true;
    {
        BoxWatcher boxes([&](QMessageBox *) {
            busyCursorDuringBox = QGuiApplication::overrideCursor() != nullptr;
            return QMessageBox::Cancel;
        });
        window->SendTargetTempBtn->click();
        ASSERT_EQ(boxes.captions.size(), 1u);
        EXPECT_EQ(boxes.captions.front(), "Korvi USB device error");
        EXPECT_EQ(boxes.texts.front(), QString::fromUtf8(_FT_Error(FT_IO_ERROR)));
    }
    // The busy cursor of the camera call is lifted while the box waits, and gone afterwards.
    EXPECT_FALSE(busyCursorDuringBox);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(acquisitionStop);
    EXPECT_TRUE(guideStop);
    EXPECT_FALSE(scriptStop); // never registered: no script thread exists
}

TEST_F(CameraControlsTest, ALinkFaultAnsweredWithOkStopsNothing)
{
    std::atomic<bool> acquisitionStop{false};
    WorkerStopRegistration acquisition(WorkerThreadKind::Acquisition, &acquisitionStop);
    korvi::sim::Faults faults;
    faults.failures.push_back({"FT_Write", 1, FT_IO_ERROR, false});
    korvi::sim::SetFaults(faults);
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi USB device error"), QString(), QMessageBox::Ok);
        window->CCDReadTempBtn->click();
    }
    EXPECT_FALSE(acquisitionStop);
}

TEST_F(CameraControlsTest, TheReadOutTimerRestsWhileItsErrorBoxIsOpen)
{
    window->TempUDPeriod->setValue(1);
    korvi::sim::Faults faults;
    faults.noDevice = true;
    korvi::sim::SetFaults(faults);
    std::vector<bool> timerActiveDuringBox;
    BoxWatcher boxes([&](QMessageBox *) {
        timerActiveDuringBox.push_back(window->TempUDTimer->isActive());
        // The user gives up on periodic read-outs while the box is open.
        window->TempUpdate->setChecked(false);
        CurrentSettings().TempUpdate = false;
        return QMessageBox::Ok;
    });
    window->TempUpdate->click();
    window->TempUDTimer->setInterval(1);
    ASSERT_TRUE(
        WaitUntil([&] { return !timerActiveDuringBox.empty() && !window->TempUDTimer->isActive(); }, 10000));
    EXPECT_EQ(timerActiveDuringBox, std::vector<bool>{false});
    // Unticked while the box was open: the timer is not started again, no further box comes.
    QTest::qWait(100);
    EXPECT_EQ(boxes.captions.size(), 1u);
    EXPECT_FALSE(window->TempUDTimer->isActive());
}

TEST(UsbErrorHandlerTest, ABoxFromAWorkerThreadIsShownByTheGuiThread)
{
    std::atomic<bool> acquisitionStop{false}, scriptStop{false};
    WorkerStopRegistration acquisition(WorkerThreadKind::Acquisition, &acquisitionStop);
    WorkerStopRegistration script(WorkerThreadKind::Script, &scriptStop);
    QThread *boxThread = nullptr;
    BoxWatcher boxes([&](QMessageBox *box) {
        boxThread = box->thread();
        return QMessageBox::Cancel;
    });
    std::atomic<bool> done{false};
    std::thread worker([&] {
        UsbErrorHandler(FT_IO_ERROR);
        done = true;
    });
    const bool finished = WaitUntil([&] { return done.load(); }, 10000);
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(boxThread, QApplication::instance()->thread());
    ASSERT_EQ(boxes.captions.size(), 1u);
    EXPECT_EQ(boxes.captions.front(), "Korvi USB device error");
    EXPECT_EQ(boxes.texts.front(), QString::fromUtf8(_FT_Error(FT_IO_ERROR)));
    EXPECT_TRUE(acquisitionStop);
    EXPECT_TRUE(scriptStop);
}

TEST(UsbErrorHandlerTest, AFinishedThreadIsNoLongerAskedToStop)
{
    std::atomic<bool> first{false}, second{false};
    {
        WorkerStopRegistration registration(WorkerThreadKind::Guide, &first);
    }
    EXPECT_EQ(RequestWorkerThreadsStop(), 0);
    EXPECT_FALSE(first);
    RegisterWorkerStopRequest(WorkerThreadKind::Guide, &first);
    RegisterWorkerStopRequest(WorkerThreadKind::Guide, &second);  // a newer guide thread
    UnregisterWorkerStopRequest(WorkerThreadKind::Guide, &first); // the old one ends late
    EXPECT_EQ(RequestWorkerThreadsStop(), 1);
    EXPECT_FALSE(first);
    EXPECT_TRUE(second);
    UnregisterWorkerStopRequest(WorkerThreadKind::Guide, &second);
}

TEST_F(CameraControlsTest, SelectFilterFromAWorkerThreadUpdatesTheWindowOnTheGuiThread)
{
    Settings &s = CurrentSettings();
    s.FiltPos = 1;
    s.UseFiltDesc = true;
    s.FilterName[4] = "Clear";
    std::atomic<int> result{-1};
    std::thread script([&] { result = window->SelectFilter(4) ? 1 : 0; });
    const bool finished = WaitUntil([&] { return result.load() >= 0; }, 10000);
    script.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(Written(), std::vector<Bytes>{MakeBytes({0x34, 0x00, 0x03, 0x00})});
    EXPECT_EQ(s.FiltPos, 4);
    EXPECT_EQ(window->Filters->text(), "Clear");
    // The page follows the wheel, so Acquire's copy of the controls keeps the position.
    EXPECT_EQ(window->FiltPos->value(), 4);
    EXPECT_TRUE(window->FiltBtn[3]->isChecked());
    ASSERT_TRUE(window->ReadControlsIntoSettings());
    EXPECT_EQ(s.FiltPos, 4);

    // A refused step from the worker shows the fault box (on the GUI thread) and keeps the position.
    korvi::sim::Faults faults;
    faults.acknowledgeByte = 2;
    korvi::sim::SetFaults(faults);
    BoxWatcher boxes([](QMessageBox *) { return QMessageBox::Ok; });
    result = -1;
    std::thread refused([&] { result = window->SelectFilter(6) ? 1 : 0; });
    const bool answered = WaitUntil([&] { return result.load() >= 0; }, 10000);
    refused.join();
    ASSERT_TRUE(answered);
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(s.FiltPos, 4);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts.front(), "Device fault. Could not operate filter rotator.");
}
