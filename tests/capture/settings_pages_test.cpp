// The settings pages of the main window: settings to controls and back, the settings-file
// commands, the frame-size command, the checks made when Acquire takes the controls, and the
// handlers that write one field at once.
#include "camera_test_support.h"

#include "image_data.h"
#include "image_window.h"
#include "sensor_window.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>

using namespace korvi::test;

namespace
{

// A record whose every page-edited value differs from the controls' own defaults.
void FillDistinctValues(Settings &s)
{
    s.IntTime[0] = 12.5f;
    s.Delay[0] = 3.25f;
    s.NImage[0] = 7;
    s.NClear[0] = 4;
    s.DisplayImage = false;
    s.CCD1HasPriority = false;
    s.ThermalFrameFile[0] = "/data/dark frame.kvr";
    s.FlatFrameFile[0] = "/data/flat.fit";
    s.ThermalFrameApply[0] = true;
    s.FlatFrameApply[0] = true;
    s.AmpTurnoff[0] = false;
    s.EnableShutter = false;
    s.DisableClosePrompt = true;
    s.ICAutoSet = true;
    s.NewFrameOnCapture = true;
    s.ReadoutCoolingDisable[0] = true;
    s.FocusMode = true;
    s.IncrExt = false;
    s.InitExt[0] = 42;
    s.Desc[0] = "M42 test field";
    s.Filters[0] = "Ha 7nm";
    s.UseFiltDesc = false;
    s.SaveFile[0] = "/obs/m42";
    s.SaveFormat[0] = 3;
    s.ProcessedPostFix[0] = "_cal";
    s.SaveProcessed[0] = false;
    s.SaveRawImage = false;
    s.NCOL[0] = 797;
    s.NROW[0] = 520;
    s.XLO[0] = 10;
    s.XHI[0] = 700;
    s.YLO[0] = 20;
    s.YHI[0] = 500;
    s.YBIN[0] = 2;
    s.XBIN[0] = 3;
    s.FiltPos = 4;
    const char *names[] = {"", "L", "R", "G", "B", "Ha", "SII"};
    for (int k = 1; k <= 6; ++k)
        s.FilterName[k] = names[k];
    s.CCDTargetTemp[0] = -15;
    s.IntScale[0] = 2.5f;
    s.BiasLevel[0] = 1234;
    s.MaximumWindows = 20;
    s.LogDisplayScale = true;
    s.XSectionMode = 0;
}

// Overwrites every value that the controls carry, so only a faithful copy back restores them.
void Scramble(Settings &s)
{
    s.IntTime[0] = 99.0f;
    s.Delay[0] = 98.0f;
    s.NImage[0] = 1;
    s.NClear[0] = 0;
    s.DisplayImage = true;
    s.CCD1HasPriority = true;
    s.ThermalFrameFile[0] = "x";
    s.FlatFrameFile[0] = "y";
    s.ThermalFrameApply[0] = false;
    s.FlatFrameApply[0] = false;
    s.AmpTurnoff[0] = true;
    s.EnableShutter = true;
    s.DisableClosePrompt = false;
    s.ICAutoSet = false;
    s.NewFrameOnCapture = false;
    s.ReadoutCoolingDisable[0] = false;
    s.FocusMode = false;
    s.IncrExt = true;
    s.InitExt[0] = 1;
    s.Desc[0] = "";
    s.Filters[0] = "";
    s.UseFiltDesc = true;
    s.SaveFile[0] = "";
    s.SaveFormat[0] = 0;
    s.ProcessedPostFix[0] = "";
    s.SaveProcessed[0] = true;
    s.SaveRawImage = true;
    s.XLO[0] = 0;
    s.XHI[0] = 1;
    s.YLO[0] = 0;
    s.YHI[0] = 1;
    s.YBIN[0] = 1;
    s.XBIN[0] = 1;
    s.FiltPos = 1;
    for (int k = 1; k <= 6; ++k)
        s.FilterName[k] = "?";
    s.CCDTargetTemp[0] = 0;
    s.IntScale[0] = 7.0f;
    s.BiasLevel[0] = 0;
    s.MaximumWindows = 5;
    s.LogDisplayScale = false;
}

class SettingsPagesTest : public MainWindowTest
{
};

} // namespace

TEST_F(SettingsPagesTest, EveryPageRoundTripsThroughASettingsFileByteForByte)
{
    Settings written = CurrentSettings();
    FillDistinctValues(written);
    const std::string original = folder.file("original.txt");
    ASSERT_TRUE(written.SaveToFile(original));

    Settings &current = CurrentSettings();
    ASSERT_TRUE(current.LoadFromFile(original));
    window->ApplySettingsToControls();
    Scramble(current);
    ASSERT_TRUE(window->ReadControlsIntoSettings());
    const std::string copy = folder.file("copy.txt");
    ASSERT_TRUE(current.SaveToFile(copy));

    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(original));
}

TEST_F(SettingsPagesTest, ControlsShowTheRecordInTheirOwnFormats)
{
    Settings &s = CurrentSettings();
    FillDistinctValues(s);
    window->ApplySettingsToControls();

    EXPECT_EQ(window->IntTime->text(), "12.50");
    EXPECT_EQ(window->Delay->text(), "3.25");
    EXPECT_EQ(window->IntScale->text(), "2.50");
    EXPECT_EQ(window->SaveFormat->currentText(), "PNG");
    // The highest indices stop at the sensor's last column and row.
    EXPECT_EQ(window->XHI->maximum(), 796);
    EXPECT_EQ(window->YHI->maximum(), 519);
    // The filter position ticks its button; the names reach the edits and the buttons.
    EXPECT_TRUE(window->FiltBtn[3]->isChecked());
    EXPECT_EQ(window->FiltPos->value(), 4);
    EXPECT_EQ(window->FiltName[4]->text(), "Ha");
    EXPECT_EQ(window->FiltBtn[4]->text(), "Ha");
    EXPECT_EQ(window->CCDTargetTemp->value(), -15);
    // The controls carry the names the rest of the program looks them up by.
    for (const char *name : {"IntTime",
                             "Delay",
                             "NImage",
                             "NClear",
                             "DisplayImage_",
                             "CCD1HasPriority",
                             "IncrExt",
                             "InitExt",
                             "SaveFormat",
                             "XLO",
                             "XHI",
                             "YLO",
                             "YHI",
                             "YBIN",
                             "XBIN",
                             "IntScale",
                             "BiasLevel",
                             "BiasRange",
                             "PolyOrder",
                             "ThermalFrameApplyImg",
                             "FlatFrameApplyImg",
                             "Filt1Name",
                             "Filt6Btn",
                             "FiltPos",
                             "CCDTargetTemp",
                             "TempUDPeriod",
                             "CCD0Temp"})
        EXPECT_NE(window->findChild<QWidget *>(QString::fromLatin1(name)), nullptr) << name;
}

TEST_F(SettingsPagesTest, AFilterPositionOutsideTheWheelIsShownAsTheNearestOne)
{
    CurrentSettings().FiltPos = 0; // a script-style count from 0
    window->ApplySettingsToControls();
    EXPECT_EQ(window->FiltPos->value(), 1);
    EXPECT_TRUE(window->FiltBtn[0]->isChecked());
    CurrentSettings().FiltPos = 9;
    window->ApplySettingsToControls();
    EXPECT_EQ(window->FiltPos->value(), 6);
    EXPECT_TRUE(window->FiltBtn[5]->isChecked());
}

TEST_F(SettingsPagesTest, AStartNumberPastTheSpinsRangeSurvivesTheNextAcquire)
{
    // After a long night the next free frame number is 1203; pulling it back to 999 would make
    // the next run save over frames 999 to 1202.
    CurrentSettings().InitExt[0] = 1203;
    window->ApplySettingsToControls();
    EXPECT_EQ(window->InitExt->value(), 1203);
    ASSERT_TRUE(window->ReadControlsIntoSettings());
    EXPECT_EQ(CurrentSettings().InitExt[0], 1203);
}

TEST_F(SettingsPagesTest, FullFrameTakesTheSensorLessItsLastNineRows)
{
    Settings &s = CurrentSettings();
    s.NCOL[0] = 797;
    s.NROW[0] = 520;
    s.XLO[0] = 5;
    s.YLO[0] = 6;
    window->FullFrameAcquire->trigger();
    EXPECT_EQ(s.XLO[0], 0);
    EXPECT_EQ(s.XHI[0], 796);
    EXPECT_EQ(s.YLO[0], 0);
    EXPECT_EQ(s.YHI[0], 511);
    EXPECT_EQ(window->XLO->value(), 0);
    EXPECT_EQ(window->XHI->value(), 796);
    EXPECT_EQ(window->YLO->value(), 0);
    EXPECT_EQ(window->YHI->value(), 511);
    EXPECT_EQ(window->FullFrameAcquire->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
}

TEST_F(SettingsPagesTest, TheSensorWindowMakesTheSubframePageTheWholeSensor)
{
    ASSERT_EQ(MainF, window.get());
    Settings &s = CurrentSettings();
    s.XLO[0] = 5;
    s.YLO[0] = 6;
    s.XBIN[0] = 2;
    window->ApplySettingsToControls();
    TCCDSetF sensor;
    sensor.CCDType->setCurrentIndex(0);
    sensor.NCOL->setValue(797);
    sensor.NROW->setValue(520);
    sensor.OKBtn->click();
    // The page takes the new sensor: its highest indices stop at the last column and row.
    EXPECT_EQ(window->XHI->maximum(), 796);
    EXPECT_EQ(window->YHI->maximum(), 519);
    EXPECT_EQ(window->XLO->value(), 0);
    EXPECT_EQ(window->YLO->value(), 0);
    EXPECT_EQ(window->XHI->value(), 796);
    EXPECT_EQ(window->YHI->value(), 519);
    EXPECT_EQ(window->XBIN->value(), 2);
    // What Acquire then takes is a frame inside the sensor.
    ASSERT_TRUE(window->ReadControlsIntoSettings());
    EXPECT_EQ(s.XLO[0], 0);
    EXPECT_EQ(s.XHI[0], 796);
    EXPECT_EQ(s.YLO[0], 0);
    EXPECT_EQ(s.YHI[0], 519);
}

TEST_F(SettingsPagesTest, TheImageWindowsSelectionReachesTheSpinEdits)
{
    CurrentSettings().NCOL[0] = 797;
    CurrentSettings().NROW[0] = 520;
    window->ApplySettingsToControls();
    window->SetCaptureSpinEdits(11, 222, 33, 444);
    ASSERT_TRUE(window->ReadControlsIntoSettings());
    EXPECT_EQ(CurrentSettings().XLO[0], 11);
    EXPECT_EQ(CurrentSettings().XHI[0], 222);
    EXPECT_EQ(CurrentSettings().YLO[0], 33);
    EXPECT_EQ(CurrentSettings().YHI[0], 444);
}

TEST_F(SettingsPagesTest, TypedTimesAreTakenAsNumbers)
{
    window->IntTime->setText(QStringLiteral(" 12.5 "));
    window->Delay->setText(QStringLiteral("0"));
    ASSERT_TRUE(window->ReadControlsIntoSettings());
    EXPECT_FLOAT_EQ(CurrentSettings().IntTime[0], 12.5f);
    EXPECT_FLOAT_EQ(CurrentSettings().Delay[0], 0.0f);
}

TEST_F(SettingsPagesTest, AGainThatIsNotANumberIsReportedAndChangesNothing)
{
    Settings &s = CurrentSettings();
    s.IntTime[0] = 4.0f;
    s.IntScale[0] = 3.0f;
    window->IntTime->setText(QStringLiteral("8"));
    window->IntScale->setText(QStringLiteral("bright"));
    const QString expects = QStringLiteral("Intensity: 'bright' is not a display gain from 0 to 1000000.");
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), expects, QMessageBox::Ok);
        EXPECT_FALSE(window->ReadControlsIntoSettings());
    }
    EXPECT_FLOAT_EQ(s.IntTime[0], 4.0f);
    EXPECT_FLOAT_EQ(s.IntScale[0], 3.0f);
    // Typed into the field, the letters are named when the typing ends, as Acquire names them;
    // the gain stays what it was.
    window->IntScale->clear();
    QTest::keyClicks(window->IntScale, QStringLiteral("bright"));
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), expects, QMessageBox::Ok);
        QTest::keyClick(window->IntScale, Qt::Key_Return);
    }
    EXPECT_FLOAT_EQ(s.IntScale[0], 3.0f);
}

struct SubframeCase {
    const char *name;
    int xLo, xHi, yLo, yHi;
    const char *message; // part of the message naming the field
};

void PrintTo(const SubframeCase &c, std::ostream *os)
{
    *os << c.name;
}

class SubframeRefusalTest : public MainWindowTest, public ::testing::WithParamInterface<SubframeCase>
{
};

TEST_P(SubframeRefusalTest, IsReportedByFieldAndNothingIsCopied)
{
    const SubframeCase &c = GetParam();
    Settings &s = CurrentSettings();
    s.NCOL[0] = 797;
    s.NROW[0] = 520;
    s.XLO[0] = 1;
    s.XHI[0] = 2;
    s.NImage[0] = 3;
    window->ApplySettingsToControls();
    window->XLO->setMaximum(20000);
    window->XHI->setMaximum(20000);
    window->YLO->setMaximum(20000);
    window->YHI->setMaximum(20000);
    window->XLO->setValue(c.xLo);
    window->XHI->setValue(c.xHi);
    window->YLO->setValue(c.yLo);
    window->YHI->setValue(c.yHi);
    window->NImage->setValue(9);
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QString::fromLatin1(c.message), QMessageBox::Ok);
        EXPECT_FALSE(window->ReadControlsIntoSettings());
    }
    EXPECT_EQ(s.XLO[0], 1);
    EXPECT_EQ(s.XHI[0], 2);
    EXPECT_EQ(s.NImage[0], 3);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SubframeRefusalTest,
    ::testing::Values(
        SubframeCase{"ColumnsReversed", 500, 100, 0, 100, "Highest column index must not be below"},
        SubframeCase{"RowsReversed", 0, 100, 300, 200, "Highest row index must not be below"},
        SubframeCase{"ColumnsBeyondSensor", 0, 797, 0, 100, "Highest column index must be inside"},
        SubframeCase{"RowsBeyondSensor", 0, 100, 0, 520, "Highest row index must be inside"}),
    [](const ::testing::TestParamInfo<SubframeCase> &info) { return std::string(info.param.name); });

TEST_F(SettingsPagesTest, WithNoMaximumTickedTheSavedMaximumIsTen)
{
    for (QAction *item : window->MaximumFilesItems)
        item->setChecked(false);
    bool anyTicked = false;
    for (QAction *item : window->MaximumFilesItems)
        anyTicked = anyTicked || item->isChecked();
    ASSERT_FALSE(anyTicked);
    CurrentSettings().MaximumWindows = 3;
    ASSERT_TRUE(window->ReadControlsIntoSettings());
    EXPECT_EQ(CurrentSettings().MaximumWindows, 10);
}

TEST_F(SettingsPagesTest, TheCalibrationPagesBoxesDecideTheSharedFields)
{
    window->ThermalFrameApplyImg->setChecked(true);
    window->ThermalFrameApply->setChecked(false);
    window->FlatFrameApplyImg->setChecked(false);
    window->FlatFrameApply->setChecked(true);
    ASSERT_TRUE(window->ReadControlsIntoSettings());
    EXPECT_TRUE(CurrentSettings().ThermalFrameApply[0]);
    EXPECT_FALSE(CurrentSettings().FlatFrameApply[0]);
}

TEST_F(SettingsPagesTest, SaveSettingsWritesTheRecordAndCancelWritesNothing)
{
    Settings &s = CurrentSettings();
    s.Desc[0] = "written by the save command";
    const std::string target = folder.file("Settings/mine.txt");
    {
        ModalScript modals;
        modals.ExpectSaveFile(QString::fromStdString(target), QStringLiteral("Save program settings"));
        window->SaveSettings->trigger();
    }
    const std::string expected = folder.file("expected.txt");
    ASSERT_TRUE(s.SaveToFile(expected));
    EXPECT_EQ(ReadFileBytes(target), ReadFileBytes(expected));

    // Cancelling writes nothing: no file appears, and neither the file chosen before nor the
    // default settings take the record's new value.
    s.Desc[0] = "changed after the save";
    const auto settingsFolder = [&] {
        std::vector<std::pair<std::string, std::string>> files;
        for (const auto &entry : std::filesystem::directory_iterator(folder.file("Settings")))
            files.emplace_back(entry.path().filename().string(), ReadFileBytes(entry.path().string()));
        std::sort(files.begin(), files.end());
        return files;
    };
    const auto before = settingsFolder();
    {
        ModalScript modals;
        modals.ExpectFileDialogCancel(QStringLiteral("Save program settings"));
        window->SaveSettings->trigger();
    }
    EXPECT_EQ(settingsFolder(), before);
}

TEST_F(SettingsPagesTest, LoadSettingsReadsTheChosenFileIntoTheRecord)
{
    Settings other = CurrentSettings();
    other.Desc[0] = "from another file";
    other.NImage[0] = 77;
    const std::string path = folder.file("Settings/other.txt");
    ASSERT_TRUE(other.SaveToFile(path));
    {
        ModalScript modals;
        modals.ExpectOpenFiles({QString::fromStdString(path)}, QStringLiteral("Load program settings"));
        window->LoadSettings->trigger();
    }
    EXPECT_EQ(CurrentSettings().Desc[0], "from another file");
    EXPECT_EQ(CurrentSettings().NImage[0], 77);
}

TEST_F(SettingsPagesTest, SaveAsDefaultWritesTheDefaultSettingsFile)
{
    CurrentSettings().Desc[0] = "default now";
    window->SaveSettingsDefault->trigger();
    Settings read;
    ASSERT_TRUE(read.LoadFromFile(folder.file("Settings/DefaultSettings.txt")));
    EXPECT_EQ(read.Desc[0], "default now");
}

TEST_F(SettingsPagesTest, DirectHandlersWriteTheirFieldAtOnce)
{
    Settings &s = CurrentSettings();
    s.FiltPos = 3;
    s.FilterName[3] = "Blue 3";
    window->UseFiltDesc->setChecked(false);
    window->UseFiltDesc->click();
    EXPECT_TRUE(s.UseFiltDesc);
    EXPECT_EQ(window->Filters->text(), "Blue 3");

    window->SaveFormat->setCurrentIndex(0);
    s.SaveFormat[0] = 0;
    // activated is the user's choice in the list
    window->SaveFormat->setCurrentIndex(1);
    emit window->SaveFormat->activated(1);
    EXPECT_EQ(s.SaveFormat[0], 1);

    window->BiasLevel->setValue(321);
    EXPECT_EQ(s.BiasLevel[0], 321);

    // Focus mode: ticking it also brings up the window that sets the focus monitor going.
    auto *focusEnable = new QWidget(window.get(), Qt::Window); // lives as long as the main window
    window->RegisterWindow("TFocusEnableF", focusEnable);
    window->FocusModeEnable->setChecked(false);
    window->FocusModeEnable->click();
    EXPECT_TRUE(s.FocusMode);
    EXPECT_TRUE(focusEnable->isVisible());
    focusEnable->hide();
    window->FocusModeEnable->click();
    EXPECT_FALSE(s.FocusMode);
    EXPECT_FALSE(focusEnable->isVisible());
}

TEST_F(SettingsPagesTest, GainAndBiasReachTheFirstImageWindow)
{
    TChild *child = window->CreateImageWindow(20, 30);
    child->Image().Allocate(30, 20, 1);
    child->show();
    window->MdiArea->setActiveSubWindow(child);
    ASSERT_EQ(window->FirstImageWindow(), child);

    window->IntScale->setFocus();
    window->IntScale->setText(QString());
    QTest::keyClicks(window->IntScale, QStringLiteral("10"));
    EXPECT_FLOAT_EQ(child->ConstImage().Gain, 10.0f);
    EXPECT_FLOAT_EQ(CurrentSettings().IntScale[0], 10.0f);
    // A text that is no positive number (yet) changes nothing: never a gain of 0.
    for (const char *typed : {"x", "0"}) {
        window->IntScale->setText(QString());
        QTest::keyClicks(window->IntScale, QString::fromLatin1(typed));
        EXPECT_FLOAT_EQ(child->ConstImage().Gain, 10.0f);
        EXPECT_FLOAT_EQ(CurrentSettings().IntScale[0], 10.0f);
    }

    // The track bar spans 10^0 .. 10^3.301 over 0..480: position 240 is 10^1.6505.
    window->IntTrackBar->setValue(240);
    EXPECT_EQ(window->IntScale->text(), "44.72");
    EXPECT_NEAR(child->ConstImage().Gain, 44.72f, 1e-4);

    window->BiasRange->setValue(48000);
    window->BiasTrackBar->setValue(10);
    EXPECT_EQ(window->BiasLevel->value(), 1000);
    EXPECT_FLOAT_EQ(child->ConstImage().DisplayOffset, 1000.0f);
}

TEST_F(SettingsPagesTest, TrackBarsFollowWhatIsTypedIntoTheirEdits)
{
    // Gives an edit the keyboard focus. Other tests' windows share the virtual screen, so the
    // main window is also made active in Qt's own book-keeping right before.
    auto focus = [this](QWidget *edit) {
        window->activateWindow();
        static_cast<void>(QTest::qWaitForWindowActive(window.get(), 1000));
        QApplication::setActiveWindow(window.get());
        edit->setFocus(Qt::OtherFocusReason);
        return edit->hasFocus();
    };

    ASSERT_TRUE(focus(window->IntScale));
    window->IntScale->selectAll();
    QTest::keyClicks(window->IntScale, QStringLiteral("100"));
    EXPECT_EQ(window->IntTrackBar->value(), 290); // trunc(2 x 480 x 0.30293850348379275)
    window->IntScale->selectAll();
    QTest::keyClicks(window->IntScale, QStringLiteral("1"));
    EXPECT_EQ(window->IntTrackBar->value(), 0);

    window->BiasRange->setValue(20000);
    ASSERT_TRUE(focus(window->BiasLevel));
    window->BiasLevel->setValue(5000);
    EXPECT_EQ(window->BiasTrackBar->value(), 120); // 5000 x 480 div 20000
    window->BiasLevel->setValue(0);
    EXPECT_EQ(window->BiasTrackBar->value(), 1);
    // Without the focus (a value set by the program) the track bar stays.
    window->IntScale->setFocus(Qt::OtherFocusReason);
    window->BiasLevel->setValue(10000);
    EXPECT_EQ(window->BiasTrackBar->value(), 1);
}

TEST_F(SettingsPagesTest, ImageControlsFollowTheImageShown)
{
    TChild *child = window->CreateImageWindow(10, 10);
    ImageData &image = child->Image();
    image.Allocate(10, 10, 1);
    image.Gain = 3.14159f;
    image.DisplayOffset = 812.9f;
    image.DarkApplied = true;
    image.FlatApplied = false;
    window->UpdateImageControls(child);
    EXPECT_EQ(window->IntScale->text(), "3.14");
    EXPECT_EQ(window->BiasLevel->value(), 812);
    EXPECT_TRUE(window->ThermalFrameApplyImg->isChecked());
    EXPECT_FALSE(window->FlatFrameApplyImg->isChecked());
    // Showing an image's values is not an edit of the window's gain.
    EXPECT_FLOAT_EQ(image.Gain, 3.14159f);

    image.Gain = -1.0f;
    image.DisplayOffset = -5.0f;
    window->UpdateImageControls(child);
    EXPECT_EQ(window->IntScale->text(), "0");
    EXPECT_EQ(window->BiasLevel->value(), 0);
}

namespace
{

// Answers the next file dialog with a name and the filter at 1-based `filterIndex`; returns the
// 1-based index of the filter the dialog opened with.
int ChooseInNextDialog(const std::function<void()> &open, const QString &name, int filterIndex)
{
    int shownIndex = -1;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || shownIndex >= 0)
            return;
        auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        shownIndex = types ? types->currentIndex() + 1 : 0;
        dialog->selectNameFilter(dialog->nameFilters().value(filterIndex - 1));
        dialog->selectFile(name);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    answer.start(5);
    open();
    return shownIndex;
}

} // namespace

TEST_F(SettingsPagesTest, ThePrefixDialogSetsTheFormatFromItsFilter)
{
    Settings &s = CurrentSettings();
    s.SaveFormat[0] = 1;
    window->ApplySettingsToControls();
    std::filesystem::create_directories(folder.file("frames"));
    const QString chosen = QString::fromStdString(folder.file("frames/m31"));

    // The dialog opens on the current format's filter; choosing PNG makes PNG the format.
    EXPECT_EQ(ChooseInNextDialog([&] { window->SaveBtn->click(); }, chosen, 4), 2);
    EXPECT_EQ(s.SaveFile[0], chosen.toStdString());
    EXPECT_EQ(window->SaveFile->text(), chosen);
    EXPECT_EQ(s.SaveFormat[0], 3);
    EXPECT_EQ(window->SaveFormat->currentIndex(), 3);
    EXPECT_EQ(s.LastOpenDirectory[0], folder.file("frames/"));

    // "All image formats" names no format: the format stays PNG rather than becoming 4.
    const QString other = QString::fromStdString(folder.file("frames/m33"));
    EXPECT_EQ(ChooseInNextDialog([&] { window->SaveBtn->click(); }, other, 5), 4);
    EXPECT_EQ(s.SaveFile[0], other.toStdString());
    EXPECT_EQ(s.SaveFormat[0], 3);
    EXPECT_EQ(window->SaveFormat->currentIndex(), 3);
}

TEST_F(SettingsPagesTest, CalibrationFileButtonsFillTheirEditsAndDirectories)
{
    std::filesystem::create_directories(folder.file("darks"));
    const std::string dark = folder.file("darks/dark1.kvr");
    WriteFileBytes(dark, "x");
    Settings &s = CurrentSettings();
    s.SaveFormat[0] = 0;
    EXPECT_EQ(ChooseInNextDialog([&] { window->DarkFileBtn->click(); }, QString::fromStdString(dark), 1), 1);
    EXPECT_EQ(s.ThermalFrameFile[0], dark);
    EXPECT_EQ(window->ThermalFrameFile->text().toStdString(), dark);
    EXPECT_EQ(s.DarkFrameDirectory, folder.file("darks/"));

    // The calibration page's own button fills only its edit (and the directory).
    s.ThermalFrameFile[0] = "kept";
    s.DarkFrameDirectory.clear();
    EXPECT_EQ(ChooseInNextDialog([&] { window->DarkFrameBtn->click(); }, QString::fromStdString(dark), 1), 1);
    EXPECT_EQ(window->ThermalFrameFileImg->text().toStdString(), dark);
    EXPECT_EQ(s.ThermalFrameFile[0], "kept");
    EXPECT_EQ(s.DarkFrameDirectory, folder.file("darks/"));
}

TEST_F(SettingsPagesTest, ProcessImageCorrectsTheFirstWindowAndUndoRestoresIt)
{
    // A flat frame whose pixels are twice its offset level halves every pixel.
    ImageData flat;
    ASSERT_TRUE(flat.Allocate(4, 3, 1));
    std::fill(flat.FramePixels(0), flat.FramePixels(0) + flat.PixelCount(), std::uint16_t{2000});
    flat.OffsetLevel = 1000.0f;
    const std::string flatPath = folder.file("flat.kvr");
    ASSERT_TRUE(flat.SaveToFile(flatPath, 0));

    TChild *child = window->CreateImageWindow(3, 4);
    ImageData &image = child->Image();
    ASSERT_TRUE(image.Allocate(4, 3, 1));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(800 + 10 * x + y);
    image.TimeStamp = 123456;
    child->AttachToWindowMenu();
    child->show();
    window->MdiArea->setActiveSubWindow(child);
    ASSERT_EQ(window->FirstImageWindow(), child);

    window->FlatFrameFileImg->setText(QString::fromStdString(flatPath));
    window->FlatFrameApplyImg->setChecked(true);
    window->ThermalFrameApplyImg->setChecked(false);
    window->ProcessBtn->click();
    EXPECT_EQ(window->CalibrationUndoTag, child->Tag());
    EXPECT_TRUE(image.Modified);
    EXPECT_TRUE(image.FlatApplied);
    EXPECT_TRUE(window->FlatFrameApplyImg->isChecked()); // the image's flags are shown
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(image.FrameRow(0, y)[x], (800 + 10 * x + y) / 2) << x << "," << y;

    window->BitBtn1->click();
    EXPECT_EQ(window->CalibrationUndoTag, -1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(child->ConstImage().FrameRow(0, y)[x], 800 + 10 * x + y);
    // A second Undo has nothing to restore.
    child->Image().FrameRow(0, 0)[0] = 7;
    window->BitBtn1->click();
    EXPECT_EQ(child->ConstImage().FrameRow(0, 0)[0], 7);
}

TEST_F(SettingsPagesTest, ProcessImageLeavesNothingForTheFilterUndoOfAnotherWindow)
{
    // Another window was snapshotted for the filter Undo; Process image then takes the shared
    // snapshot buffer for the first window. The filter Undo must not pour that image into the other.
    TChild *other = window->CreateImageWindow(2, 2);
    ASSERT_TRUE(other->Image().Allocate(2, 2, 1));
    std::fill(other->Image().FramePixels(0), other->Image().FramePixels(0) + 4, std::uint16_t{42});
    other->Image().TimeStamp = 1001;
    other->AttachToWindowMenu();
    other->show();
    TChild *child = window->CreateImageWindow(3, 4);
    ASSERT_TRUE(child->Image().Allocate(4, 3, 1));
    std::fill(child->Image().FramePixels(0), child->Image().FramePixels(0) + 12, std::uint16_t{900});
    child->Image().TimeStamp = 1002;
    child->AttachToWindowMenu();
    child->show();
    window->MdiArea->setActiveSubWindow(child);
    ASSERT_EQ(window->FirstImageWindow(), child);
    ASSERT_NE(other->Tag(), child->Tag());
    window->UndoWindowTag = other->Tag();
    window->UndoImage.Assign(other->ConstImage());
    window->ThermalFrameApplyImg->setChecked(false);
    window->FlatFrameApplyImg->setChecked(false);
    window->ProcessBtn->click();
    EXPECT_EQ(window->CalibrationUndoTag, child->Tag());

    window->UndoActionExecute();
    EXPECT_EQ(other->ConstImage().Width, 2);
    EXPECT_EQ(other->ConstImage().FrameRow(0, 1)[1], 42);
}
