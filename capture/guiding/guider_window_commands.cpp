// TGuiderF: the camera commands (clearing, cooling, the controller's LCD), the sub-frame and
// window commands of the tool bar, and the guider image's files (open, save, the prefix of
// acquired frames).
#include "guiding/guider_window.h"

#include "camera_lock.h"
#include "edit_target.h"
#include "file_dialogs.h"
#include "file_names.h"
#include "gui_runtime.h"
#include "korvicom.h"
#include "main_window.h"
#include "program_file_dialog.h"
#include "settings.h"
#include "text_format.h"
#include "usb_error_handler.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace
{

constexpr int G = GuidingCamera;
constexpr int GuiderCamera = 1; // korvicom's index of the guiding camera

const char *const GuiderOpenFilter =
    "Korvi image file (*.kvr)|*.kvr|FITS image file (*.fit, *.fts, *.fiz)|*.fit;*.fts;*.fiz|"
    "Windows bitmap (*.bmp)|*.bmp|Portable Network Graphics (*.png)|*.png|"
    "All image formats (*.kvr, *fit, *.fts, *.fiz, *.bmp, *.png)|*.kvr;*.fit;*.fts;*.fiz;*.bmp;*.png|"
    "All files (*.*)|*.*";
const char *const GuiderSaveFilter = "Korvi image file (*.kvr)|*.kvr|FITS image file (*.fit)|*.fit|"
                                     "Windows bitmap (*.bmp)|*.bmp|Portable Network Graphics (*.png)|*.png|"
                                     "All files (*.*)|*.*";

template <typename Fn> auto Camera(Fn &&fn) -> decltype(fn())
{
    korvi::gui::CameraLock lock;
    return fn();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Camera

void TGuiderF::ClearExecute()
{
    const int scans = CurrentSettings().NClear[G];
    for (int n = 1; n <= scans; ++n) {
        Camera([&] {
            return _ClearVCCD(GuiderCamera, GuiderImage.MaxRows, GuiderImage.MaxColumns, UsbErrorHandler);
        });
        SetStatus(1, QStringLiteral("Status: Clearing (%1)").arg(n));
    }
    SetStatus(1, QStringLiteral("Status: Ready."));
}

void TGuiderF::SendTargetTempBtnClick()
{
    const int target = CCDTargetTemp->value();
    CurrentSettings().CCDTargetTemp[G] = target;
    Camera([&] { return _CCDSendTargetTemp(GuiderCamera, target, UsbErrorHandler); });
}

void TGuiderF::CCDReadTempBtnClick()
{
    const int errorsBefore = UsbErrorsOnThisThread();
    const float t =
        static_cast<float>(Camera([] { return _CCD_GetTemperature(GuiderCamera, UsbErrorHandler); }));
    // A read the link failed (no reply) shows no number: the library's value then is no reading.
    CCD1Temp->setText(
        UsbErrorsOnThisThread() == errorsBefore
            ? QStringLiteral("Guiding camera CCD temperature: ") +
                  QString::fromStdString(FormatFloat("##0.0", t, korvi::gui::DecimalSeparator())) +
                  QStringLiteral(" °C")
            : QStringLiteral("Guiding camera CCD temperature: not read"));
}

void TGuiderF::TEPowerUpBtnClick()
{
    bool &on = CurrentSettings().CoolerPowerOn[G];
    on = !on;
    if (on) {
        Camera([] { return _CCDTESupplyOn(GuiderCamera, UsbErrorHandler); });
        TEPowerUpBtn->setText(QStringLiteral("Power off CCD TE cooler"));
    } else {
        Camera([] { return _CCDTESupplyOff(GuiderCamera, UsbErrorHandler); });
        TEPowerUpBtn->setText(QStringLiteral("Power on CCD TE cooler"));
    }
}

void TGuiderF::LCDTempToggleClick()
{
    LCDDisplayOn = !LCDDisplayOn;
    LCDTempToggle->setText(LCDDisplayOn ? QStringLiteral("Disable LCD display")
                                        : QStringLiteral("Enable LCD display"));
    const int enable = LCDDisplayOn ? 1 : 0;
    Camera([enable] { return _LCD_CCD2Display(enable, UsbErrorHandler); });
}

// ---------------------------------------------------------------------------------------------
// Tool-bar commands

void TGuiderF::ResizeExecute()
{
    XLO->setValue(0);
    YLO->setValue(0);
    XHI->setValue(MAXNCOL->value() - 1);
    YHI->setValue(MAXNROW->value() - 1);
}

void TGuiderF::TrackPaddleExecute()
{
    if (MainF)
        MainF->ShowProgramWindow("TTrackF");
}

void TGuiderF::HeaderInfoExecute()
{
    EditTarget = EditGuiderImage;
    if (!GuiderImage.Empty && MainF)
        MainF->ShowProgramWindow("THInfo");
}

void TGuiderF::PalettesExecute()
{
    // The palette editor copies the target's palette as it opens and applies its result back.
    EditTarget = GuiderImage.Empty ? EditGuiderPalette : EditGuiderImage;
    if (MainF)
        MainF->ShowProgramWindow("TPaletteSet");
}

// ---------------------------------------------------------------------------------------------
// Files

void TGuiderF::OpenExecute()
{
    Settings &s = CurrentSettings();
    const FileDialogChoice choice =
        RunFileDialogChoice(this, FileDialogKind::Open, QStringLiteral("Open an image file"),
                            GuiderOpenFilter, 5, s.LastOpenDirectory[G], {});
    if (choice.file.isEmpty())
        return;
    const std::string name = choice.file.toStdString();
    // The file is read aside first: one that does not load leaves the shown image as it was.
    ImageData loaded;
    if (!loaded.LoadFromFile(name))
        return;
    GuiderImage = std::move(loaded);
    ZoomToSensor();
    ApplySettingsToControls();
    RefreshDisplay();
    s.LastOpenDirectory[G] = ExtractDirectoryPart(name);
}

void TGuiderF::SaveExecute()
{
    if (GuiderImage.Empty)
        return;
    Settings &s = CurrentSettings();
    const FileDialogChoice choice = RunFileDialogChoice(
        this, FileDialogKind::Save, QStringLiteral("Save image"), GuiderSaveFilter,
        GuiderImage.OriginFormat + 1, s.LastSaveDirectory[G], StripExtension(GuiderImage.FileName));
    if (choice.file.isEmpty())
        return;
    // "All files" saves in the own format; the name gets the format's extension, as "Save Image
    // As..." does, so that the open dialog's image filters find the file again.
    const SaveAsTarget target = SaveAsTargetFor(choice.file.toStdString(), choice.filterIndex);
    EditTarget = EditGuiderImage;
    if (!MainF || !MainF->SaveImageInFormat(target.fileName, GuiderImage, target.format)) {
        korvi::gui::ShowMessage(QStringLiteral("The image could not be saved to: ") +
                                    QString::fromStdString(target.fileName),
                                QStringLiteral("Korvi"), MessageButtons::Ok, MessageIcon::Warning);
        return;
    }
    s.LastSaveDirectory[G] = ExtractDirectoryPart(target.fileName);
}

void TGuiderF::SaveBtnClick()
{
    Settings &s = CurrentSettings();
    const FileDialogChoice choice = RunFileDialogChoice(
        this, FileDialogKind::Save, QStringLiteral("Select filename prefix"), GuiderSaveFilter,
        GuiderImage.OriginFormat + 1, s.LastSaveDirectory[G], StripExtension(GuiderImage.FileName));
    if (choice.file.isEmpty())
        return;
    const std::string name = choice.file.toStdString();
    // "All files" names no format: the list keeps its entry and the prefix is taken.
    if (choice.filterIndex >= 1 && choice.filterIndex <= 4)
        SaveFormat->setCurrentIndex(choice.filterIndex - 1);
    SaveFile->setText(QString::fromStdString(StripExtension(name)));
    s.LastSaveDirectory[G] = ExtractDirectoryPart(name);
}
