#pragma once
// TTelescopeCtrlF ("Telescope control"): chooses how slews reach the telescope (the KEDRO drive
// controller or the four-wire direction interface) and the axes' logical inversion, and
// configures the drive controller: tracking rate and periodic-error correction, its EEPROM
// tracking table, its configuration words and an input/output test. Every controller operation is
// one drive-controller exchange from the GUI thread.
#include <QWidget>

#include <cstdint>

#include "drive_controller.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

class TTelescopeCtrlF : public QWidget
{
    Q_OBJECT
public:
    explicit TTelescopeCtrlF(QWidget *parent = nullptr);
    ~TTelescopeCtrlF() override;

    // Panel.
    QRadioButton *UseKEDRO = nullptr, *UseStandardInterface = nullptr;
    QCheckBox *InvertNorthSouth = nullptr, *InvertEastWest = nullptr;
    QTabWidget *PageControl = nullptr;
    // "Main control".
    QLineEdit *Rate = nullptr;
    QRadioButton *SiderealRateBtn = nullptr, *SolarRateBtn = nullptr, *MoonRateBtn = nullptr,
                 *ManualBtn = nullptr;
    QSpinBox *PECDetent = nullptr, *WormPeriod = nullptr;
    QPushButton *SendSettingsBtn = nullptr, *SaveSettingsBtn = nullptr, *LoadSettingsBtn = nullptr;
    // "Train PEC".
    QLineEdit *TrackingFile = nullptr;
    QPushButton *TrackingFileBtn = nullptr, *ProgramEEPROMBtn = nullptr, *ReadEEPROMBtn = nullptr,
                *ReduceTrackingFileBtn = nullptr, *DefaultRateBtn = nullptr;
    // "KEDRO configuration".
    QSpinBox *period_delay = nullptr, *function_delay = nullptr, *solar_delay = nullptr,
             *lunar_delay = nullptr, *sidereal_delay = nullptr, *code_delay = nullptr, *pad_delay = nullptr,
             *PEC_detent = nullptr, *PEC_4N_cycles = nullptr, *slow_delay = nullptr, *fast_delay = nullptr,
             *function = nullptr;
    QCheckBox *InvertEW = nullptr, *InvertNS = nullptr;
    QPushButton *ReadConfigBtn = nullptr, *WriteConfigBtn = nullptr, *SaveSettingsBtn2 = nullptr,
                *LoadSettingsBtn2 = nullptr;
    // "Diagnostics".
    QSpinBox *OutInt = nullptr;
    QPushButton *TestIOBtn = nullptr;
    QLabel *StatusLabel = nullptr;

    void FormShow();
    void FormClose();
    bool LoadTelescopeSettings(const std::string &file);
    bool SaveTelescopeSettings(const std::string &file);
    void UseKEDROClick();
    void InvertNorthSouthClick();
    void InvertEastWestClick();
    void RateBtnClick(int mode);
    void SendSettingsBtnClick();
    void SaveSettingsBtnClick();
    void LoadSettingsBtnClick();
    void TrackingFileBtnClick();
    void ProgramEEPROMBtnClick();
    void ReadEEPROMBtnClick();
    void DefaultRateBtnClick();
    void ReadConfigBtnClick();
    void WriteConfigBtnClick();
    void TestIOBtnClick();

    // The configuration page as a record, and back.
    DriveConfiguration ConfigurationFromControls() const;
    void ShowConfiguration(const DriveConfiguration &configuration);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    int CheckedMode() const;
    std::string SettingsDirectory() const;
    // One exchange under the camera lock; returns the link status.
    int Exchange(int subCommand, std::uint16_t *buffer, int byteCount, int replyByteCount);
};

extern TTelescopeCtrlF *TelescopeCtrlF;
