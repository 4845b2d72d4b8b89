#include "drive_controller_window.h"

#include "camera_lock.h"
#include "file_names.h"
#include "gui_runtime.h"
#include "image_file.h"
#include "korvicom.h"
#include "main_window.h"
#include "program_file_dialog.h"
#include "settings.h"
#include "ui_hooks.h"
#include "usb_error_handler.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <array>
#include <filesystem>
#include <vector>

TTelescopeCtrlF *TelescopeCtrlF = nullptr;

namespace
{

constexpr const char *TelescopeFileFilter = "Text files (*.txt)|*.txt|All files (*.*)|*.*";
constexpr const char *TelescopeSettingsName = "TelescopeSet.txt";
constexpr const char *EraseQuestion = "KEDRO EEPROM will be erased and reprogrammed; do you wish to proceed?";

template <typename W> W *Named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QSpinBox *MakeSpin(QWidget *parent, const char *name, int minimum, int maximum, int value)
{
    auto *spin = Named(new QSpinBox(parent), name);
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    return spin;
}

QPushButton *MakeButton(QWidget *parent, const char *name, const QString &caption)
{
    return Named(new QPushButton(caption, parent), name);
}

void Report(const std::string &text)
{
    korvi::gui::ShowMessage(QString::fromStdString(text), QStringLiteral("Korvi"));
}

bool AskToProceed(const char *question)
{
    return korvi::gui::ShowMessage(QString::fromLatin1(question), QStringLiteral("Korvi"),
                                   MessageButtons::OkCancel) == MessageAnswer::Ok;
}

} // namespace

TTelescopeCtrlF::TTelescopeCtrlF(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("TelescopeCtrlF"));
    setWindowTitle(QStringLiteral("Telescope control"));

    // Panel: how slews reach the telescope.
    UseKEDRO = Named(new QRadioButton(QStringLiteral("Use KEDRO controller"), this), "UseKEDRO");
    UseKEDRO->setChecked(true);
    UseStandardInterface =
        Named(new QRadioButton(QStringLiteral("4 wire TTL/5V-CMOS slew direction interface"), this),
              "UseStandardInterface");
    InvertNorthSouth =
        Named(new QCheckBox(QStringLiteral("Logically invert north and south directions."), this),
              "InvertNorthSouth");
    InvertEastWest = Named(new QCheckBox(QStringLiteral("Logically invert east and west directions."), this),
                           "InvertEastWest");
    auto *panel = new QGridLayout;
    panel->addWidget(UseKEDRO, 0, 0);
    panel->addWidget(UseStandardInterface, 1, 0);
    panel->addWidget(InvertNorthSouth, 0, 1);
    panel->addWidget(InvertEastWest, 1, 1);

    PageControl = Named(new QTabWidget(this), "PageControl");

    // "Main control"
    auto *mainPage = new QWidget;
    Rate = Named(new QLineEdit(QStringLiteral("60.00"), mainPage), "Rate");
    auto *modeBox = new QGroupBox(QStringLiteral("Operation mode"), mainPage);
    SiderealRateBtn = Named(new QRadioButton(QStringLiteral("Sidereal rate"), modeBox), "SiderealRateBtn");
    SolarRateBtn = Named(new QRadioButton(QStringLiteral("Solar rate"), modeBox), "SolarRateBtn");
    MoonRateBtn = Named(new QRadioButton(QStringLiteral("Moon rate"), modeBox), "MoonRateBtn");
    ManualBtn = Named(new QRadioButton(QStringLiteral("Manual (no PEC)"), modeBox), "ManualBtn");
    SiderealRateBtn->setChecked(true);
    auto *modeLayout = new QVBoxLayout(modeBox);
    for (QRadioButton *button : {SiderealRateBtn, SolarRateBtn, MoonRateBtn, ManualBtn})
        modeLayout->addWidget(button);
    // The detent (halved) and the worm period share one word: 11 and 5 bits.
    PECDetent = MakeSpin(mainPage, "PECDetent", 0, MaxPECDetent, 60);
    WormPeriod = MakeSpin(mainPage, "WormPeriod", 1, MaxWormPeriod, 4);
    SendSettingsBtn = MakeButton(mainPage, "SendSettingsBtn", QStringLiteral("Send settings to KEDRO"));
    SaveSettingsBtn = MakeButton(mainPage, "SaveSettingsBtn", QStringLiteral("Save Settings..."));
    LoadSettingsBtn = MakeButton(mainPage, "LoadSettingsBtn", QStringLiteral("Load Settings..."));
    auto *mainForm = new QFormLayout;
    mainForm->addRow(QStringLiteral("Rate (Hz):"), Rate);
    mainForm->addRow(modeBox);
    mainForm->addRow(QStringLiteral("Detent (line cycles):"), PECDetent);
    mainForm->addRow(QStringLiteral("Worm period (minutes):"), WormPeriod);
    auto *mainButtons = new QHBoxLayout;
    mainButtons->addWidget(SendSettingsBtn);
    mainButtons->addWidget(SaveSettingsBtn);
    mainButtons->addWidget(LoadSettingsBtn);
    auto *mainLayout = new QVBoxLayout(mainPage);
    mainLayout->addLayout(mainForm);
    mainLayout->addLayout(mainButtons);
    mainLayout->addStretch(1);
    PageControl->addTab(mainPage, QStringLiteral("Main control"));

    // "Train PEC"
    auto *pecPage = new QWidget;
    TrackingFile = Named(new QLineEdit(pecPage), "TrackingFile");
    TrackingFileBtn = MakeButton(pecPage, "TrackingFileBtn", QStringLiteral(">>"));
    ProgramEEPROMBtn = MakeButton(pecPage, "ProgramEEPROMBtn", QStringLiteral("Program KEDRO EEPROM"));
    ReadEEPROMBtn = MakeButton(pecPage, "ReadEEPROMBtn", QStringLiteral("Read KEDRO EEPROM"));
    // Reducing a tracking file is not a function of this program; the button stays for the layout.
    ReduceTrackingFileBtn =
        MakeButton(pecPage, "ReduceTrackingFileBtn", QStringLiteral("Reduce tracking file"));
    DefaultRateBtn =
        MakeButton(pecPage, "DefaultRateBtn", QStringLiteral("Overwrite EEPROM with default rate (60 Hz)"));
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(new QLabel(QStringLiteral("Tracking file name:"), pecPage));
    fileRow->addWidget(TrackingFile, 1);
    fileRow->addWidget(TrackingFileBtn);
    auto *pecLayout = new QVBoxLayout(pecPage);
    pecLayout->addLayout(fileRow);
    for (QPushButton *button : {ProgramEEPROMBtn, ReadEEPROMBtn, ReduceTrackingFileBtn, DefaultRateBtn})
        pecLayout->addWidget(button);
    pecLayout->addStretch(1);
    PageControl->addTab(pecPage, QStringLiteral("Train PEC"));

    // "KEDRO configuration"
    auto *configPage = new QWidget;
    const DriveConfiguration defaults;
    period_delay = MakeSpin(configPage, "period_delay", 0, 65535, defaults.period_delay);
    function_delay = MakeSpin(configPage, "function_delay", 0, 65535, defaults.function_delay);
    solar_delay = MakeSpin(configPage, "solar_delay", 0, 65535, defaults.solar_delay);
    lunar_delay = MakeSpin(configPage, "lunar_delay", 0, 65535, defaults.lunar_delay);
    sidereal_delay = MakeSpin(configPage, "sidereal_delay", 0, 65535, defaults.sidereal_delay);
    code_delay = MakeSpin(configPage, "code_delay", 0, 65535, defaults.code_delay);
    pad_delay = MakeSpin(configPage, "pad_delay", 0, 65535, defaults.pad_delay);
    PEC_detent = MakeSpin(configPage, "PEC_detent", 0, 65535, defaults.PEC_detent);
    PEC_4N_cycles = MakeSpin(configPage, "PEC_4N_cycles", 0, 65535, defaults.PEC_4N_cycles);
    slow_delay = MakeSpin(configPage, "slow_delay", 0, 65535, defaults.slow_delay);
    fast_delay = MakeSpin(configPage, "fast_delay", 0, 65535, defaults.fast_delay);
    function = MakeSpin(configPage, "function", 0, 255, defaults.function);
    InvertEW = Named(new QCheckBox(configPage), "InvertEW");
    InvertNS = Named(new QCheckBox(configPage), "InvertNS");
    ReadConfigBtn = MakeButton(configPage, "ReadConfigBtn", QStringLiteral("Read configuration on EEPROM"));
    WriteConfigBtn =
        MakeButton(configPage, "WriteConfigBtn", QStringLiteral("Write configuration to EEPROM"));
    SaveSettingsBtn2 = MakeButton(configPage, "SaveSettingsBtn2", QStringLiteral("Save Settings..."));
    LoadSettingsBtn2 = MakeButton(configPage, "LoadSettingsBtn2", QStringLiteral("Load Settings..."));
    auto *configGrid = new QGridLayout;
    const std::array<QSpinBox *, 12> spins = {period_delay,   function_delay, solar_delay, lunar_delay,
                                              sidereal_delay, code_delay,     pad_delay,   PEC_detent,
                                              PEC_4N_cycles,  slow_delay,     fast_delay,  function};
    for (int i = 0; i < 12; ++i) {
        configGrid->addWidget(new QLabel(spins[i]->objectName() + QLatin1Char(':'), configPage), i % 6,
                              (i / 6) * 2);
        configGrid->addWidget(spins[i], i % 6, (i / 6) * 2 + 1);
    }
    auto *configForm = new QFormLayout;
    configForm->addRow(QStringLiteral("Invert east/west button on joystick:"), InvertEW);
    configForm->addRow(QStringLiteral("Invert north/south button on joystick:"), InvertNS);
    auto *configButtons = new QGridLayout;
    configButtons->addWidget(ReadConfigBtn, 0, 0);
    configButtons->addWidget(WriteConfigBtn, 0, 1);
    configButtons->addWidget(SaveSettingsBtn2, 1, 0);
    configButtons->addWidget(LoadSettingsBtn2, 1, 1);
    auto *configLayout = new QVBoxLayout(configPage);
    configLayout->addWidget(
        new QLabel(QStringLiteral("Refer to KEDRO AVR source for meaning of these settings."), configPage));
    configLayout->addLayout(configGrid);
    configLayout->addLayout(configForm);
    configLayout->addLayout(configButtons);
    configLayout->addStretch(1);
    PageControl->addTab(configPage, QStringLiteral("KEDRO configuration"));

    // "Diagnostics"
    auto *diagnosticsPage = new QWidget;
    OutInt = MakeSpin(diagnosticsPage, "OutInt", 0, 65535, 54321);
    TestIOBtn = MakeButton(diagnosticsPage, "TestIOBtn", QStringLiteral("Test I/O"));
    StatusLabel = Named(new QLabel(QStringLiteral("Status:"), diagnosticsPage), "StatusLabel");
    auto *diagnosticsForm = new QFormLayout;
    diagnosticsForm->addRow(QStringLiteral("Word to send:"), OutInt);
    auto *diagnosticsLayout = new QVBoxLayout(diagnosticsPage);
    diagnosticsLayout->addLayout(diagnosticsForm);
    diagnosticsLayout->addWidget(TestIOBtn);
    diagnosticsLayout->addWidget(StatusLabel);
    diagnosticsLayout->addStretch(1);
    PageControl->addTab(diagnosticsPage, QStringLiteral("Diagnostics"));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(panel);
    layout->addWidget(PageControl, 1);

    using korvi::gui::Guarded;
    connect(UseKEDRO, &QRadioButton::clicked, this, Guarded([this] { UseKEDROClick(); }));
    connect(UseStandardInterface, &QRadioButton::clicked, this, Guarded([this] { UseKEDROClick(); }));
    connect(InvertNorthSouth, &QCheckBox::clicked, this, Guarded([this] { InvertNorthSouthClick(); }));
    connect(InvertEastWest, &QCheckBox::clicked, this, Guarded([this] { InvertEastWestClick(); }));
    const std::array<std::pair<QRadioButton *, int>, 4> modes = {{{SiderealRateBtn, DriveSidereal},
                                                                  {SolarRateBtn, DriveSolar},
                                                                  {MoonRateBtn, DriveMoon},
                                                                  {ManualBtn, DriveManual}}};
    for (const auto &[button, mode] : modes)
        connect(button, &QRadioButton::clicked, this, Guarded([this, mode = mode] { RateBtnClick(mode); }));
    connect(SendSettingsBtn, &QPushButton::clicked, this, Guarded([this] { SendSettingsBtnClick(); }));
    for (QPushButton *button : {SaveSettingsBtn, SaveSettingsBtn2})
        connect(button, &QPushButton::clicked, this, Guarded([this] { SaveSettingsBtnClick(); }));
    for (QPushButton *button : {LoadSettingsBtn, LoadSettingsBtn2})
        connect(button, &QPushButton::clicked, this, Guarded([this] { LoadSettingsBtnClick(); }));
    connect(TrackingFileBtn, &QPushButton::clicked, this, Guarded([this] { TrackingFileBtnClick(); }));
    connect(ProgramEEPROMBtn, &QPushButton::clicked, this, Guarded([this] { ProgramEEPROMBtnClick(); }));
    connect(ReadEEPROMBtn, &QPushButton::clicked, this, Guarded([this] { ReadEEPROMBtnClick(); }));
    connect(DefaultRateBtn, &QPushButton::clicked, this, Guarded([this] { DefaultRateBtnClick(); }));
    connect(ReadConfigBtn, &QPushButton::clicked, this, Guarded([this] { ReadConfigBtnClick(); }));
    connect(WriteConfigBtn, &QPushButton::clicked, this, Guarded([this] { WriteConfigBtnClick(); }));
    connect(TestIOBtn, &QPushButton::clicked, this, Guarded([this] { TestIOBtnClick(); }));
}

TTelescopeCtrlF::~TTelescopeCtrlF()
{
    if (TelescopeCtrlF == this)
        TelescopeCtrlF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TTelescopeCtrlF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    korvi::gui::RunGuarded([this] { FormShow(); });
}

void TTelescopeCtrlF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

std::string TTelescopeCtrlF::SettingsDirectory() const
{
    return CurrentSettings().ProgramDirectory + "Settings/";
}

void TTelescopeCtrlF::FormShow()
{
    LoadTelescopeSettings(SettingsDirectory() + TelescopeSettingsName);
    const Settings &settings = CurrentSettings();
    UseKEDRO->setChecked(settings.UseKEDRO);
    UseStandardInterface->setChecked(!settings.UseKEDRO);
    InvertNorthSouth->setChecked(settings.InvertNorthSouth);
    InvertEastWest->setChecked(settings.InvertEastWest);
}

void TTelescopeCtrlF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}

DriveConfiguration TTelescopeCtrlF::ConfigurationFromControls() const
{
    DriveConfiguration configuration;
    const std::array<QSpinBox *, 11> spins = {period_delay,   function_delay, solar_delay, lunar_delay,
                                              sidereal_delay, code_delay,     pad_delay,   PEC_detent,
                                              PEC_4N_cycles,  slow_delay,     fast_delay};
    const auto fields = DriveDelayFields(configuration);
    for (std::size_t i = 0; i < fields.size(); ++i)
        *fields[i] = spins[i]->value();
    configuration.function = function->value();
    configuration.InvertEW = InvertEW->isChecked();
    configuration.InvertNS = InvertNS->isChecked();
    return configuration;
}

void TTelescopeCtrlF::ShowConfiguration(const DriveConfiguration &configuration)
{
    const std::array<QSpinBox *, 11> spins = {period_delay,   function_delay, solar_delay, lunar_delay,
                                              sidereal_delay, code_delay,     pad_delay,   PEC_detent,
                                              PEC_4N_cycles,  slow_delay,     fast_delay};
    const std::array<int, 11> values = DriveDelayValues(configuration);
    for (std::size_t i = 0; i < spins.size(); ++i)
        spins[i]->setValue(values[i]);
    function->setValue(configuration.function);
    InvertEW->setChecked(configuration.InvertEW);
    InvertNS->setChecked(configuration.InvertNS);
}

bool TTelescopeCtrlF::LoadTelescopeSettings(const std::string &file)
{
    DriveConfiguration configuration = ConfigurationFromControls();
    if (!LoadDriveSettings(file, configuration))
        return false;
    ShowConfiguration(configuration);
    switch (configuration.function) {
    case DriveSolar:
        SolarRateBtn->setChecked(true);
        break;
    case DriveMoon:
        MoonRateBtn->setChecked(true);
        break;
    case DriveSidereal:
        SiderealRateBtn->setChecked(true);
        break;
    case DriveManual:
        ManualBtn->setChecked(true);
        break;
    default:
        break;
    }
    PECDetent->setValue(configuration.PEC_detent * 2);
    WormPeriod->setValue(configuration.PEC_4N_cycles / 8);
    return true;
}

bool TTelescopeCtrlF::SaveTelescopeSettings(const std::string &file)
{
    if (SaveDriveSettings(file, ConfigurationFromControls()))
        return true;
    ReportWriteFailure(file);
    return false;
}

void TTelescopeCtrlF::UseKEDROClick()
{
    CurrentSettings().UseKEDRO = UseKEDRO->isChecked();
}

void TTelescopeCtrlF::InvertNorthSouthClick()
{
    CurrentSettings().InvertNorthSouth = InvertNorthSouth->isChecked();
}

void TTelescopeCtrlF::InvertEastWestClick()
{
    CurrentSettings().InvertEastWest = InvertEastWest->isChecked();
}

void TTelescopeCtrlF::RateBtnClick(int mode)
{
    switch (mode) {
    case DriveSolar:
        Rate->setText(QStringLiteral("59.83"));
        break;
    case DriveMoon:
        Rate->setText(QStringLiteral("57.86"));
        break;
    default:
        Rate->setText(QStringLiteral("60.00"));
        break;
    }
}

int TTelescopeCtrlF::CheckedMode() const
{
    if (SolarRateBtn->isChecked())
        return DriveSolar;
    if (MoonRateBtn->isChecked())
        return DriveMoon;
    if (ManualBtn->isChecked())
        return DriveManual;
    return DriveSidereal;
}

int TTelescopeCtrlF::Exchange(int subCommand, std::uint16_t *buffer, int byteCount, int replyByteCount)
{
    korvi::gui::CameraLock lock;
    return _KEDRO_Control(subCommand, buffer, byteCount, replyByteCount, UsbErrorHandler);
}

void TTelescopeCtrlF::SendSettingsBtnClick()
{
    DriveRateInput input;
    input.rateText = Rate->text().toStdString();
    input.mode = CheckedMode();
    input.wormPeriod = WormPeriod->value();
    input.pecDetent = PECDetent->value();
    std::array<std::uint16_t, 4> words{};
    std::string problem;
    if (!PackDriveRates(input, ConfigurationFromControls(), words, problem)) {
        Report(problem);
        return;
    }
    Exchange(DriveSendRates, words.data(), 8, 0);
}

void TTelescopeCtrlF::SaveSettingsBtnClick()
{
    const QString chosen = RunFileDialog(
        this, FileDialogKind::Save, QStringLiteral("Save telescope settings"), TelescopeFileFilter,
        QString::fromStdString(SettingsDirectory()), QString::fromLatin1(TelescopeSettingsName));
    if (!chosen.isEmpty())
        SaveTelescopeSettings(chosen.toStdString());
}

void TTelescopeCtrlF::LoadSettingsBtnClick()
{
    const QString chosen = RunFileDialog(
        this, FileDialogKind::Open, QStringLiteral("Load telescope settings"), TelescopeFileFilter,
        QString::fromStdString(SettingsDirectory()), QString::fromLatin1(TelescopeSettingsName));
    if (!chosen.isEmpty())
        LoadTelescopeSettings(chosen.toStdString());
}

void TTelescopeCtrlF::TrackingFileBtnClick()
{
    const QString chosen = RunFileDialog(this, FileDialogKind::Save, QStringLiteral("Select tracking file"),
                                         TelescopeFileFilter, QString::fromStdString(SettingsDirectory()));
    if (!chosen.isEmpty())
        TrackingFile->setText(chosen);
}

void TTelescopeCtrlF::ProgramEEPROMBtnClick()
{
    // The whole table is read and checked before the question, so a bad file never erases the
    // controller's memory.
    std::vector<std::uint16_t> table;
    std::string problem;
    bool notFound = false;
    if (!ReadTrackingTable(TrackingFile->text().trimmed().toStdString(), table, problem, notFound)) {
        Report(notFound ? std::string("Could not open file (file not found).") : problem);
        return;
    }
    if (!AskToProceed(EraseQuestion))
        return;
    BusyCursor busy;
    Exchange(DriveProgramMemory, table.data(), TrackingTableWords * 2, 0);
}

void TTelescopeCtrlF::DefaultRateBtnClick()
{
    if (!AskToProceed(EraseQuestion))
        return;
    std::vector<std::uint16_t> table(DefaultRateWords, DefaultRateWord);
    BusyCursor busy;
    Exchange(DriveProgramMemory, table.data(), DefaultRateWords * 2, 0);
}

void TTelescopeCtrlF::ReadEEPROMBtnClick()
{
    const QString chosen = RunFileDialog(this, FileDialogKind::Save, QStringLiteral("Save EEPROM data"),
                                         TelescopeFileFilter, QString::fromStdString(SettingsDirectory()));
    if (chosen.isEmpty())
        return;
    // The dump is a text file: the name the question names is the name written.
    const std::string path = StripExtension(chosen.toStdString()) + ".txt";
    std::error_code error;
    if (std::filesystem::exists(path, error) &&
        !AskToProceed("The existing file will be overwritten; proceed?"))
        return;
    std::array<std::uint16_t, DriveMemoryWords> words{};
    int status = 0;
    {
        BusyCursor busy;
        status = Exchange(DriveReadMemory, words.data(), 0, DriveMemoryWords * 2);
    }
    // Without the whole reply the words are not the controller's: no file claims to hold them.
    if (status != 0) {
        Report("The drive controller did not send its EEPROM contents; no file was written.");
        return;
    }
    if (!WriteDriveMemoryDump(path, words.data(), DriveMemoryWords))
        ReportWriteFailure(path);
}

void TTelescopeCtrlF::ReadConfigBtnClick()
{
    std::array<std::uint16_t, DriveConfigurationWords> words =
        PackDriveConfiguration(ConfigurationFromControls());
    if (Exchange(DriveReadConfiguration, words.data(), 0, DriveConfigurationWords * 2) != 0) {
        Report("The drive controller did not send its configuration; the settings shown were not changed.");
        return;
    }
    ShowConfiguration(UnpackDriveConfiguration(words));
}

void TTelescopeCtrlF::WriteConfigBtnClick()
{
    std::array<std::uint16_t, DriveConfigurationWords> words =
        PackDriveConfiguration(ConfigurationFromControls());
    Exchange(DriveWriteConfiguration, words.data(), DriveConfigurationWords * 2, 0);
}

void TTelescopeCtrlF::TestIOBtnClick()
{
    std::uint16_t word = static_cast<std::uint16_t>(OutInt->value());
    // A controller that did not answer leaves the word sent in the buffer: that is no reply.
    if (Exchange(DriveTestIO, &word, 2, 2) != 0) {
        StatusLabel->setText(QStringLiteral("Status: no reply from the drive controller."));
        return;
    }
    StatusLabel->setText(QStringLiteral("Integer received: ") + QString::number(word) +
                         QStringLiteral(" (expected 12345)"));
}
