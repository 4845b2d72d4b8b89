// TMainF: the settings pages ("Acquisition settings", "Image descriptors", "Subframe selection",
// "Calibration frames" and the level controls of "Image display"), the two copies between those
// controls and CurrentSettings, the frame-size command, the browse buttons and the calibration
// and display-level handlers. The camera pages are in main_window_camera.cpp.
#include "main_window.h"

#include "file_dialogs.h"
#include "file_names.h"
#include "filter_wheel.h"
#include "gui_runtime.h"
#include "image_window.h"
#include "levels.h"
#include "photometric.h"
#include "settings.h"
#include "subframe_check.h"
#include "text_format.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace
{

// The filter of the prefix and calibration-file browse dialogs; its first four entries are the
// save formats 0..3.
const char *const BrowseImageFilter =
    "Korvi image file (*.kvr)|*.kvr|FITS image file (*.fit, *.fts, *.fiz)|*.fit;*.fts;*.fiz|"
    "Windows bitmap (*.bmp)|*.bmp|Portable Network Graphics (*.png)|*.png|"
    "All image formats (*.kvr, *fit, *.fts, *.fiz, *.bmp, *.png)|*.kvr;*.fit;*.fts;*.fiz;*.bmp;*.png|"
    "All files (*.*)|*.*";

// The track bars run 0..480 over the logarithm of the gain (0 .. 10^3.301).
constexpr int TrackBarSteps = 480;
constexpr double GainDecades = 3.301;

std::string Text(const QLineEdit *edit)
{
    return edit->text().toStdString();
}

// The display gain a typed Intensity may hold (the track bar reaches about 2000).
constexpr float LargestGain = 1.0e6f;

// A number typed into a field of the pages. A text that is no number, or a number outside
// low..high, is refused with a box that names the field and says what it expects, and the field
// gets the focus so it can be mended.
bool ReadTypedNumber(QLineEdit *edit, const QString &field, const QString &expected, float low, float high,
                     float &value)
{
    if (ParseFloatText(TrimText(Text(edit)), value) && value >= low && value <= high)
        return true;
    korvi::gui::ShowMessage(
        QStringLiteral("%1: '%2' is not %3 from %4 to %5.")
            .arg(field, edit->text(), expected, QString::number(low, 'g', 7), QString::number(high, 'f', 0)),
        QStringLiteral("Korvi"), MessageButtons::Ok, MessageIcon::Error);
    edit->setFocus();
    return false;
}

bool ReadGain(QLineEdit *edit, float &gain)
{
    return ReadTypedNumber(edit, QStringLiteral("Intensity"), QStringLiteral("a display gain"), 0.0f,
                           LargestGain, gain);
}

QSpinBox *MakeSpin(QWidget *parent, const char *name, int minimum, int maximum, int value)
{
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    return spin;
}

QCheckBox *MakeCheck(QWidget *parent, const char *name, const QString &caption, bool checked)
{
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(checked);
    return box;
}

QLineEdit *MakeEdit(QWidget *parent, const char *name, const QString &text = QString())
{
    auto *edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

QPushButton *MakeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

// An edit with a ">>" browse button beside it.
QHBoxLayout *WithBrowseButton(QLineEdit *edit, QPushButton *button)
{
    auto *row = new QHBoxLayout;
    button->setFixedWidth(32);
    row->addWidget(edit, 1);
    row->addWidget(button);
    return row;
}

// One file dialog of the browse buttons. Returns the chosen file (empty when cancelled) and
// the 1-based filter index chosen.
struct BrowseResult {
    QString file;
    int filterIndex = 0;
};

BrowseResult Browse(QWidget *parent, const char *name, bool save, const QString &title,
                    const std::string &directory, int filterIndex, const QString &currentName)
{
    QFileDialog dialog(parent);
    dialog.setObjectName(QString::fromLatin1(name));
    korvi::gui::PrepareFileDialog(dialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (save)
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    else
        dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setWindowTitle(title);
    const QStringList filters = DialogNameFilters(BrowseImageFilter);
    dialog.setNameFilters(filters);
    if (filterIndex >= 1 && filterIndex <= filters.size())
        dialog.selectNameFilter(filters[filterIndex - 1]);
    if (!directory.empty())
        dialog.setDirectory(QString::fromStdString(directory));
    if (!currentName.isEmpty())
        dialog.selectFile(currentName);
    BrowseResult result;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return result;
    result.file = dialog.selectedFiles().front();
    // The dialog hides the patterns and answers with the shortened text; match either form.
    const QString selected = dialog.selectedNameFilter();
    for (int i = 0; i < filters.size(); ++i)
        if (filters[i] == selected || filters[i].startsWith(selected + QStringLiteral(" ("))) {
            result.filterIndex = i + 1;
            break;
        }
    return result;
}

// The browse of a dark or flat frame file: the dialog opens in `directory`, on the current save
// format's filter, with the edit's text as name. A choice goes into the edit and, when given, into
// `field`; its folder becomes `directory` for the next browse.
void BrowseFrameFile(QWidget *parent, const char *dialogName, const QString &title, QLineEdit *edit,
                     std::string *field, std::string &directory)
{
    const BrowseResult chosen = Browse(parent, dialogName, false, title, directory,
                                       CurrentSettings().SaveFormat[0] + 1, edit->text());
    if (chosen.file.isEmpty())
        return;
    const std::string file = chosen.file.toStdString();
    edit->setText(chosen.file);
    if (field)
        *field = file;
    if (const std::string folder = ExtractDirectoryPart(file); !folder.empty())
        directory = folder;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction

// A page inside a scroll area, so that a tall page never makes the main window taller than the
// user wants it.
QWidget *TMainF::ScrolledPage(QWidget *page)
{
    auto *area = new QScrollArea;
    area->setObjectName(page->objectName() + QStringLiteral("Scroll"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(page);
    return area;
}

QString TMainF::PictureText(const char *picture, double value)
{
    return QString::fromStdString(FormatFloat(picture, value, korvi::gui::DecimalSeparator()));
}

void TMainF::BuildSettingsPages()
{
    // "Acquisition settings"
    auto *acquisition = new QWidget(PageControl);
    acquisition->setObjectName(QStringLiteral("AcquisitionPage"));
    auto *form = new QFormLayout(acquisition);
    IntTime = MakeEdit(acquisition, "IntTime", QStringLiteral("0.2"));
    form->addRow(QStringLiteral("Integration time (s):"), IntTime);
    Delay = MakeEdit(acquisition, "Delay", QStringLiteral("0.2"));
    form->addRow(QStringLiteral("Frame delay (s):"), Delay);
    NImage = MakeSpin(acquisition, "NImage", 1, 999, 1);
    form->addRow(QStringLiteral("Number of frames:"), NImage);
    NClear = MakeSpin(acquisition, "NClear", 0, 20, 10);
    form->addRow(QStringLiteral("Clearing scans:"), NClear);
    DisplayImage_ = MakeCheck(acquisition, "DisplayImage_", QStringLiteral("Display images"), true);
    form->addRow(DisplayImage_);
    CCD1HasPriority = MakeCheck(acquisition, "CCD1HasPriority", QStringLiteral("High thread priority"), true);
    form->addRow(CCD1HasPriority);
    ThermalFrameFile = MakeEdit(acquisition, "ThermalFrameFile");
    DarkFileBtn = MakeButton(acquisition, "DarkFileBtn", QStringLiteral(">>"));
    form->addRow(QStringLiteral("Dark frame file:"), WithBrowseButton(ThermalFrameFile, DarkFileBtn));
    FlatFrameFile = MakeEdit(acquisition, "FlatFrameFile");
    FlatFileBtn = MakeButton(acquisition, "FlatFileBtn", QStringLiteral(">>"));
    form->addRow(QStringLiteral("Flat frame file:"), WithBrowseButton(FlatFrameFile, FlatFileBtn));
    ThermalFrameApply =
        MakeCheck(acquisition, "ThermalFrameApply", QStringLiteral("Apply dark frame correction."), false);
    form->addRow(ThermalFrameApply);
    FlatFrameApply =
        MakeCheck(acquisition, "FlatFrameApply", QStringLiteral("Apply flat field correction."), false);
    form->addRow(FlatFrameApply);
    AmpTurnoff =
        MakeCheck(acquisition, "AmpTurnoff", QStringLiteral("Turn off amplifier during integration"), true);
    form->addRow(AmpTurnoff);
    EnableShutter = MakeCheck(acquisition, "EnableShutter", QStringLiteral("Enable shutter"), true);
    form->addRow(EnableShutter);
    DisableClosePrompt =
        MakeCheck(acquisition, "DisableClosePrompt", QStringLiteral("Disable window close prompt"), false);
    form->addRow(DisableClosePrompt);
    ICAutoSet = MakeCheck(acquisition, "ICAutoSet", QStringLiteral("Auto-set contrast/intensity"), false);
    form->addRow(ICAutoSet);
    NewFrameOnCapture =
        MakeCheck(acquisition, "NewFrameOnCapture", QStringLiteral("Open each frame in new window"), false);
    form->addRow(NewFrameOnCapture);
    ReadoutCoolingDisable = MakeCheck(acquisition, "ReadoutCoolingDisable",
                                      QStringLiteral("Turn off cooling during readout "), false);
    form->addRow(ReadoutCoolingDisable);
    FocusModeEnable = MakeCheck(acquisition, "FocusModeEnable", QStringLiteral("Enable focus mode"), false);
    form->addRow(FocusModeEnable);

    // "Image descriptors"
    auto *descriptors = new QWidget(PageControl);
    descriptors->setObjectName(QStringLiteral("DescriptorsPage"));
    form = new QFormLayout(descriptors);
    IncrExt = MakeCheck(descriptors, "IncrExt", QStringLiteral("Increment postfix #:"), true);
    form->addRow(IncrExt);
    InitExt = MakeSpin(descriptors, "InitExt", 1, 999, 1);
    form->addRow(QStringLiteral("File postfix #:"), InitExt);
    Desc = MakeEdit(descriptors, "Desc");
    form->addRow(QStringLiteral("Description:"), Desc);
    Filters = MakeEdit(descriptors, "Filters");
    form->addRow(QStringLiteral("Filters:"), Filters);
    UseFiltDesc = MakeCheck(descriptors, "UseFiltDesc", QStringLiteral("Apply from filter wheel:"), true);
    form->addRow(UseFiltDesc);
    SaveFile = MakeEdit(descriptors, "SaveFile");
    SaveBtn = MakeButton(descriptors, "SaveBtn", QStringLiteral(">>"));
    form->addRow(QStringLiteral("File prefix:"), WithBrowseButton(SaveFile, SaveBtn));
    SaveFormat = new QComboBox(descriptors);
    SaveFormat->setObjectName(QStringLiteral("SaveFormat"));
    SaveFormat->addItems({QStringLiteral("Korvi format"), QStringLiteral("FITS image"),
                          QStringLiteral("Windows bitmap"), QStringLiteral("PNG")});
    form->addRow(QStringLiteral("File format:"), SaveFormat);
    ProcessedPostFix = MakeEdit(descriptors, "ProcessedPostFix", QStringLiteral("_P"));
    form->addRow(QStringLiteral("Processed file postfix:"), ProcessedPostFix);
    SaveProcessed = MakeCheck(descriptors, "SaveProcessed", QStringLiteral("Save processed image:"), true);
    form->addRow(SaveProcessed);
    SaveRawImage = MakeCheck(descriptors, "SaveRawImage", QStringLiteral("Save raw  images:"), true);
    form->addRow(SaveRawImage);

    // "Subframe selection"
    auto *subframe = new QWidget(PageControl);
    subframe->setObjectName(QStringLiteral("SubframePage"));
    form = new QFormLayout(subframe);
    XLO = MakeSpin(subframe, "XLO", 0, 10000, 0);
    form->addRow(QStringLiteral("Lowest column index:"), XLO);
    XHI = MakeSpin(subframe, "XHI", 1, 10000, 2);
    form->addRow(QStringLiteral("Highest column index:"), XHI);
    YLO = MakeSpin(subframe, "YLO", 0, 10000, 0);
    form->addRow(QStringLiteral("Lowest row index:"), YLO);
    YHI = MakeSpin(subframe, "YHI", 1, 10000, 2);
    form->addRow(QStringLiteral("Highest row index:"), YHI);
    YBIN = MakeSpin(subframe, "YBIN", 1, 255, 1);
    form->addRow(QStringLiteral("Row bins:"), YBIN);
    XBIN = MakeSpin(subframe, "XBIN", 1, 255, 1);
    form->addRow(QStringLiteral("Column bins:"), XBIN);

    // "Calibration frames"
    auto *calibration = new QWidget(PageControl);
    calibration->setObjectName(QStringLiteral("CalibrationPage"));
    form = new QFormLayout(calibration);
    ThermalFrameApplyImg =
        MakeCheck(calibration, "ThermalFrameApplyImg", QStringLiteral("Apply dark frame"), false);
    form->addRow(ThermalFrameApplyImg);
    ThermalFrameFileImg = MakeEdit(calibration, "ThermalFrameFileImg");
    DarkFrameBtn = MakeButton(calibration, "DarkFrameBtn", QStringLiteral(">>"));
    form->addRow(WithBrowseButton(ThermalFrameFileImg, DarkFrameBtn));
    FlatFrameApplyImg =
        MakeCheck(calibration, "FlatFrameApplyImg", QStringLiteral("Apply flat frame"), false);
    form->addRow(FlatFrameApplyImg);
    FlatFrameFileImg = MakeEdit(calibration, "FlatFrameFileImg");
    FlatFrameBtn = MakeButton(calibration, "FlatFrameBtn", QStringLiteral(">>"));
    form->addRow(WithBrowseButton(FlatFrameFileImg, FlatFrameBtn));
    ProcessBtn = MakeButton(calibration, "ProcessBtn", QStringLiteral("Process image"));
    BitBtn1 = MakeButton(calibration, "BitBtn1", QStringLiteral("&Undo"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(ProcessBtn);
    buttons->addWidget(BitBtn1);
    form->addRow(buttons);

    // The level controls go on the "Image display" page, under its palette and scale controls.
    auto *display = qobject_cast<QVBoxLayout *>(ImageDisplayPage->layout());
    auto *levels = new QFormLayout;
    IntScale = MakeEdit(ImageDisplayPage, "IntScale", QStringLiteral("1.00"));
    levels->addRow(QStringLiteral("Intensity"), IntScale);
    IntTrackBar = new QSlider(Qt::Horizontal, ImageDisplayPage);
    IntTrackBar->setObjectName(QStringLiteral("IntTrackBar"));
    IntTrackBar->setRange(0, TrackBarSteps);
    levels->addRow(IntTrackBar);
    BiasLevel = MakeSpin(ImageDisplayPage, "BiasLevel", 0, 65535, 0);
    levels->addRow(QStringLiteral("Bias"), BiasLevel);
    BiasTrackBar = new QSlider(Qt::Horizontal, ImageDisplayPage);
    BiasTrackBar->setObjectName(QStringLiteral("BiasTrackBar"));
    BiasTrackBar->setRange(0, TrackBarSteps);
    levels->addRow(BiasTrackBar);
    BiasRange = MakeSpin(ImageDisplayPage, "BiasRange", 1000, 65000, 20000);
    BiasRange->setSingleStep(1000);
    levels->addRow(QStringLiteral("Bias slider range:"), BiasRange);
    PolyOrder = MakeSpin(ImageDisplayPage, "PolyOrder", 1, 9, 1);
    levels->addRow(QStringLiteral("Polynomial order:"), PolyOrder);
    SkySubtractBtn = MakeButton(ImageDisplayPage, "SkySubtractBtn", QStringLiteral("Subtract sky"));
    levels->addRow(SkySubtractBtn);
    AutoLevelsBtn = MakeButton(ImageDisplayPage, "AutoLevelsBtn", QStringLiteral("Autoset contrast"));
    levels->addRow(AutoLevelsBtn);
    if (display)
        display->insertLayout(display->count() - 1, levels); // above the closing stretch
    else
        ImageDisplayPage->layout()->addItem(levels);

    // Page order: the capture pages first, then the camera pages, "Image display", calibration.
    PageControl->insertTab(0, ScrolledPage(acquisition), QStringLiteral("Acquisition settings"));
    PageControl->insertTab(1, ScrolledPage(descriptors), QStringLiteral("Image descriptors"));
    PageControl->insertTab(2, ScrolledPage(subframe), QStringLiteral("Subframe selection"));
    BuildCameraControls(); // "Filter wheel control" and "Temperature and power control" at 3 and 4
    PageControl->addTab(ScrolledPage(calibration), QStringLiteral("Calibration frames"));
    PageControl->setCurrentIndex(0);
    for (int i = 0; i < PageControl->count(); ++i)
        PageList->addItem(PageControl->tabText(i));
    PageList->setCurrentIndex(PageControl->currentIndex());
    connect(PageList, &QComboBox::currentIndexChanged, PageControl, &QTabWidget::setCurrentIndex);
    connect(PageControl, &QTabWidget::currentChanged, PageList, &QComboBox::setCurrentIndex);

    FullFrameAcquire = new QAction(QStringLiteral("Full frame"), this);
    FullFrameAcquire->setObjectName(QStringLiteral("FullFrameAcquire"));
    FullFrameAcquire->setToolTip(QStringLiteral("Set capture to maximum frame size (Ctrl+F)"));
    FullFrameAcquire->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    FullFrameAcquire->setIcon(QIcon::fromTheme(QStringLiteral("zoom-fit-best")));
    AddToolAction(FullFrameAcquire);
    addAction(FullFrameAcquire);

    using korvi::gui::Guarded;
    connect(FullFrameAcquire, &QAction::triggered, this, Guarded([this] { FullFrameAcquireExecute(); }));
    connect(FocusModeEnable, &QCheckBox::clicked, this, Guarded([this] { FocusModeEnableClick(); }));
    connect(SaveFormat, &QComboBox::activated, this, Guarded([this] { SaveFormatChange(); }));
    connect(UseFiltDesc, &QCheckBox::clicked, this, Guarded([this] { UseFiltDescClick(); }));
    connect(IntTrackBar, &QSlider::valueChanged, this,
            Guarded([this](int position) { IntTrackBarChange(position); }));
    connect(IntScale, &QLineEdit::textEdited, this, Guarded([this] { IntScaleChange(); }));
    // While typing, a text that is not yet a number changes nothing; once the typing ends (Enter,
    // or the focus leaves the field) a text that is no gain is named, as Acquire would.
    connect(IntScale, &QLineEdit::editingFinished, this, Guarded([this] {
                float gain = 0.0f;
                ReadGain(IntScale, gain);
            }));
    connect(BiasLevel, &QSpinBox::valueChanged, this, Guarded([this] { BiasLevelChange(); }));
    connect(BiasTrackBar, &QSlider::valueChanged, this,
            Guarded([this](int position) { BiasTrackBarChange(position); }));
    connect(AutoLevelsBtn, &QPushButton::clicked, this, Guarded([this] { AutoLevelsBtnClick(); }));
    connect(SkySubtractBtn, &QPushButton::clicked, this, Guarded([this] { SkySubtractBtnClick(); }));
    connect(SaveBtn, &QPushButton::clicked, this, Guarded([this] { SaveBtnClick(); }));
    connect(DarkFileBtn, &QPushButton::clicked, this, Guarded([this] { DarkFileBtnClick(); }));
    connect(FlatFileBtn, &QPushButton::clicked, this, Guarded([this] { FlatFileBtnClick(); }));
    connect(DarkFrameBtn, &QPushButton::clicked, this, Guarded([this] { DarkFrameBtnClick(); }));
    connect(FlatFrameBtn, &QPushButton::clicked, this, Guarded([this] { FlatFrameBtnClick(); }));
    connect(ProcessBtn, &QPushButton::clicked, this, Guarded([this] { ProcessBtnClick(); }));
    connect(BitBtn1, &QPushButton::clicked, this, Guarded([this] { BitBtn1Click(); }));
}

// ---------------------------------------------------------------------------------------------
// Settings <-> controls

void TMainF::ApplySettingsToPages()
{
    Settings &s = CurrentSettings();
    // Filling the controls is not an edit: no handler runs for it.
    std::vector<QSignalBlocker> blockers;
    for (QObject *control : std::initializer_list<QObject *>{IntTime,
                                                             Delay,
                                                             NImage,
                                                             NClear,
                                                             DisplayImage_,
                                                             CCD1HasPriority,
                                                             ThermalFrameFile,
                                                             FlatFrameFile,
                                                             ThermalFrameApply,
                                                             FlatFrameApply,
                                                             AmpTurnoff,
                                                             EnableShutter,
                                                             DisableClosePrompt,
                                                             ICAutoSet,
                                                             NewFrameOnCapture,
                                                             ReadoutCoolingDisable,
                                                             FocusModeEnable,
                                                             IncrExt,
                                                             InitExt,
                                                             Desc,
                                                             Filters,
                                                             UseFiltDesc,
                                                             SaveFile,
                                                             SaveFormat,
                                                             ProcessedPostFix,
                                                             SaveProcessed,
                                                             SaveRawImage,
                                                             XLO,
                                                             XHI,
                                                             YLO,
                                                             YHI,
                                                             YBIN,
                                                             XBIN,
                                                             IntScale,
                                                             IntTrackBar,
                                                             BiasLevel,
                                                             BiasTrackBar,
                                                             ThermalFrameApplyImg,
                                                             FlatFrameApplyImg})
        blockers.emplace_back(control);

    IntTime->setText(PictureText("#####0.00", s.IntTime[0]));
    Delay->setText(PictureText("#####0.00", s.Delay[0]));
    NImage->setValue(s.NImage[0]);
    NClear->setValue(s.NClear[0]);
    DisplayImage_->setChecked(s.DisplayImage);
    CCD1HasPriority->setChecked(s.CCD1HasPriority);
    ThermalFrameFile->setText(QString::fromStdString(s.ThermalFrameFile[0]));
    FlatFrameFile->setText(QString::fromStdString(s.FlatFrameFile[0]));
    ThermalFrameApply->setChecked(s.ThermalFrameApply[0]);
    FlatFrameApply->setChecked(s.FlatFrameApply[0]);
    AmpTurnoff->setChecked(s.AmpTurnoff[0]);
    EnableShutter->setChecked(s.EnableShutter);
    DisableClosePrompt->setChecked(s.DisableClosePrompt);
    ICAutoSet->setChecked(s.ICAutoSet);
    NewFrameOnCapture->setChecked(s.NewFrameOnCapture);
    ReadoutCoolingDisable->setChecked(s.ReadoutCoolingDisable[0]);
    FocusModeEnable->setChecked(s.FocusMode);

    IncrExt->setChecked(s.IncrExt);
    // A run can number past the spin's usual range; a stored number is never pulled back into it,
    // or the next run would save over the frames already taken.
    InitExt->setMaximum(std::max(InitExt->maximum(), s.InitExt[0]));
    InitExt->setValue(s.InitExt[0]);
    Desc->setText(QString::fromStdString(s.Desc[0]));
    Filters->setText(QString::fromStdString(s.Filters[0]));
    UseFiltDesc->setChecked(s.UseFiltDesc);
    SaveFile->setText(QString::fromStdString(s.SaveFile[0]));
    // A format code the list does not hold (an old file's 4) leaves the list as it is.
    if (s.SaveFormat[0] >= 0 && s.SaveFormat[0] < SaveFormat->count())
        SaveFormat->setCurrentIndex(s.SaveFormat[0]);
    ProcessedPostFix->setText(QString::fromStdString(s.ProcessedPostFix[0]));
    SaveProcessed->setChecked(s.SaveProcessed[0]);
    SaveRawImage->setChecked(s.SaveRawImage);

    // The highest indices stop at the last column and row of the sensor (when its size is known).
    XHI->setMaximum(s.NCOL[0] >= 2 ? s.NCOL[0] - 1 : 10000);
    YHI->setMaximum(s.NROW[0] >= 2 ? s.NROW[0] - 1 : 10000);
    XLO->setValue(s.XLO[0]);
    XHI->setValue(s.XHI[0]);
    YLO->setValue(s.YLO[0]);
    YHI->setValue(s.YHI[0]);
    YBIN->setValue(s.YBIN[0]);
    XBIN->setValue(s.XBIN[0]);

    IntScale->setText(PictureText("#####0.00", s.IntScale[0]));
    BiasLevel->setValue(s.BiasLevel[0]);
    ThermalFrameApplyImg->setChecked(s.ThermalFrameApply[0]);
    FlatFrameApplyImg->setChecked(s.FlatFrameApply[0]);
    blockers.clear();

    ApplySettingsToCameraControls();
}

bool TMainF::ReadControlsIntoSettings()
{
    Settings &s = CurrentSettings();

    // Everything that can be refused is checked first, so a refused Acquire changes nothing.
    float gain = 0.0f;
    if (!ReadGain(IntScale, gain))
        return false;
    // Times in seconds: a text that is no number, or a negative or absurd length, is refused with
    // the field's name rather than taken as 0 (or as a negative wait).
    constexpr float LongestSeconds = 1.0e6f;
    const auto seconds = [](QLineEdit *edit, const QString &field, float &value) {
        return ReadTypedNumber(edit, field, QStringLiteral("a number of seconds"), 0.0f, LongestSeconds,
                               value);
    };
    float integration = 0.0f;
    float delay = 0.0f;
    if (!seconds(IntTime, QStringLiteral("Integration time (s)"), integration) ||
        !seconds(Delay, QStringLiteral("Frame delay (s)"), delay))
        return false;
    SubframeValues frame;
    frame.xLow = XLO->value();
    frame.xHigh = XHI->value();
    frame.yLow = YLO->value();
    frame.yHigh = YHI->value();
    frame.xBinning = XBIN->value();
    frame.yBinning = YBIN->value();
    frame.sensorColumns = s.NCOL[0];
    frame.sensorRows = s.NROW[0];
    if (const std::string problem = CheckSubframe(frame); !problem.empty()) {
        korvi::gui::ShowMessage(QString::fromStdString(problem), QStringLiteral("Korvi"), MessageButtons::Ok,
                                MessageIcon::Error);
        return false;
    }

    s.IntTime[0] = integration;
    s.Delay[0] = delay;
    s.NImage[0] = NImage->value();
    s.NClear[0] = NClear->value();
    s.DisplayImage = DisplayImage_->isChecked();
    s.CCD1HasPriority = CCD1HasPriority->isChecked();
    s.ThermalFrameFile[0] = Text(ThermalFrameFile);
    s.FlatFrameFile[0] = Text(FlatFrameFile);
    s.AmpTurnoff[0] = AmpTurnoff->isChecked();
    s.EnableShutter = EnableShutter->isChecked();
    s.DisableClosePrompt = DisableClosePrompt->isChecked();
    s.ICAutoSet = ICAutoSet->isChecked();
    s.NewFrameOnCapture = NewFrameOnCapture->isChecked();
    s.ReadoutCoolingDisable[0] = ReadoutCoolingDisable->isChecked();
    s.FocusMode = FocusModeEnable->isChecked();

    s.IncrExt = IncrExt->isChecked();
    s.InitExt[0] = InitExt->value();
    s.Desc[0] = Text(Desc);
    s.Filters[0] = Text(Filters);
    s.UseFiltDesc = UseFiltDesc->isChecked();
    s.SaveFile[0] = Text(SaveFile);
    if (SaveFormat->currentIndex() >= 0)
        s.SaveFormat[0] = SaveFormat->currentIndex();
    s.ProcessedPostFix[0] = Text(ProcessedPostFix);
    s.SaveProcessed[0] = SaveProcessed->isChecked();
    s.SaveRawImage = SaveRawImage->isChecked();

    s.XLO[0] = frame.xLow;
    s.XHI[0] = frame.xHigh;
    s.YLO[0] = frame.yLow;
    s.YHI[0] = frame.yHigh;
    s.YBIN[0] = frame.yBinning;
    s.XBIN[0] = frame.xBinning;

    ReadCameraControlsIntoSettings();

    s.IntScale[0] = gain;
    s.BiasLevel[0] = BiasLevel->value();

    // The menus this window holds.
    s.MaximumWindows = 10;
    for (QAction *item : MaximumFilesItems)
        if (item->isChecked())
            s.MaximumWindows = item->text().toInt();
    s.LogDisplayScale = LogScale1 && LogScale1->isChecked();

    // The acquisition page's and the calibration page's dark and flat boxes share one field each;
    // the calibration page's decide.
    s.ThermalFrameApply[0] = ThermalFrameApplyImg->isChecked();
    s.FlatFrameApply[0] = FlatFrameApplyImg->isChecked();
    return true;
}

void TMainF::UpdatePageImageControls(TChild *window)
{
    if (!window)
        return;
    const ImageData &image = window->ConstImage();
    const QSignalBlocker blockScale(IntScale);
    const QSignalBlocker blockBias(BiasLevel);
    const QSignalBlocker blockDark(ThermalFrameApplyImg);
    const QSignalBlocker blockFlat(FlatFrameApplyImg);
    IntScale->setText(image.Gain > 0.0f ? PictureText("####0.00", image.Gain) : QStringLiteral("0"));
    BiasLevel->setValue(image.DisplayOffset > 0.0f ? static_cast<int>(image.DisplayOffset) : 0);
    ThermalFrameApplyImg->setChecked(image.DarkApplied);
    FlatFrameApplyImg->setChecked(image.FlatApplied);
}

void TMainF::SetSubframeSpinEdits(int xLo, int xHi, int yLo, int yHi)
{
    XLO->setValue(xLo);
    XHI->setValue(xHi);
    YLO->setValue(yLo);
    YHI->setValue(yHi);
}

void TMainF::FullFrameAcquireExecute()
{
    Settings &s = CurrentSettings();
    s.XLO[0] = 0;
    s.YLO[0] = 0;
    s.XHI[0] = s.NCOL[0] - 1;
    // The last eight rows of the sensor carry no image: the full frame stops nine rows short.
    s.YHI[0] = s.NROW[0] - 9;
    ApplySettingsToControls();
}

// ---------------------------------------------------------------------------------------------
// Handlers that write one field at once

void TMainF::FocusModeEnableClick()
{
    CurrentSettings().FocusMode = FocusModeEnable->isChecked();
    if (FocusModeEnable->isChecked())
        ShowProgramWindow("TFocusEnableF");
}

void TMainF::SaveFormatChange()
{
    if (SaveFormat->currentIndex() >= 0)
        CurrentSettings().SaveFormat[0] = SaveFormat->currentIndex();
}

void TMainF::UseFiltDescClick()
{
    Settings &s = CurrentSettings();
    s.UseFiltDesc = UseFiltDesc->isChecked();
    if (s.UseFiltDesc)
        Filters->setText(QString::fromStdString(s.FilterName[ClampFilterPosition(s.FiltPos)]));
}

void TMainF::IntTrackBarChange(int position)
{
    const double gain = std::pow(10.0, static_cast<double>(position) / TrackBarSteps * GainDecades);
    IntScale->setText(PictureText("###0.00", gain));
    IntScaleChange();
}

void TMainF::IntScaleChange()
{
    // A text that is not (yet) a positive number changes nothing; Acquire reports it.
    float gain = 0.0f;
    if (!ParseFloatText(TrimText(Text(IntScale)), gain) || !(gain > 0.0f))
        return;
    CurrentSettings().IntScale[0] = gain;
    if (TChild *window = FirstImageWindow()) {
        window->Image().Gain = gain;
        window->RenderImage();
    }
    if (IntScale->hasFocus()) {
        const QSignalBlocker block(IntTrackBar);
        IntTrackBar->setValue(
            static_cast<int>(std::trunc(std::log10(gain) * TrackBarSteps * 0.30293850348379275)));
    }
}

void TMainF::BiasLevelChange()
{
    const int value = BiasLevel->value();
    CurrentSettings().BiasLevel[0] = value;
    if (TChild *window = FirstImageWindow()) {
        window->Image().DisplayOffset = static_cast<float>(value);
        window->RenderImage();
    }
    if (BiasLevel->hasFocus()) {
        const QSignalBlocker block(BiasTrackBar);
        BiasTrackBar->setValue(value == 0 ? 1 : value * TrackBarSteps / BiasRange->value());
    }
}

void TMainF::BiasTrackBarChange(int position)
{
    BiasLevel->setValue(
        static_cast<int>(std::trunc(static_cast<double>(BiasRange->value()) * position / TrackBarSteps)));
}

void TMainF::AutoLevelsBtnClick()
{
    TChild *window = FirstImageWindow();
    if (!window)
        return;
    ShowComputedLevels(window->Image());
    window->RenderImage();
}

void TMainF::ShowComputedLevels(ImageData &image)
{
    ComputeDisplayLevels(image);
    // The image already holds these levels: showing them is not an edit.
    const QSignalBlocker blockScale(IntScale);
    const QSignalBlocker blockBias(BiasLevel);
    IntScale->setText(PictureText("#####0.00", image.Gain));
    BiasLevel->setValue(image.DisplayOffset > 0.0f ? static_cast<int>(image.DisplayOffset) : 0);
}

// ---------------------------------------------------------------------------------------------
// Browse buttons

void TMainF::SaveBtnClick()
{
    Settings &s = CurrentSettings();
    const BrowseResult chosen =
        Browse(this, "SavePrefixDialog", true, QStringLiteral("Select save file prefix"),
               s.LastOpenDirectory[0], s.SaveFormat[0] + 1, SaveFile->text());
    if (chosen.file.isEmpty())
        return;
    s.SaveFile[0] = chosen.file.toStdString();
    SaveFile->setText(chosen.file);
    // "All image formats" and "All files" name no format: the format stays as it was rather
    // than becoming a code that no frame could be saved in.
    if (chosen.filterIndex >= 1 && chosen.filterIndex <= 4) {
        s.SaveFormat[0] = chosen.filterIndex - 1;
        SaveFormat->setCurrentIndex(s.SaveFormat[0]);
    }
    if (const std::string directory = ExtractDirectoryPart(s.SaveFile[0]); !directory.empty())
        s.LastOpenDirectory[0] = directory;
}

void TMainF::DarkFileBtnClick()
{
    Settings &s = CurrentSettings();
    BrowseFrameFile(this, "DarkFrameDialog", QStringLiteral("Select dark frame image"), ThermalFrameFile,
                    &s.ThermalFrameFile[0], s.DarkFrameDirectory);
}

void TMainF::FlatFileBtnClick()
{
    Settings &s = CurrentSettings();
    BrowseFrameFile(this, "FlatFrameDialog", QStringLiteral("Select flat frame image"), FlatFrameFile,
                    &s.FlatFrameFile[0], s.FlatFrameDirectory);
}

// The calibration page's files are its own: only the edit takes the name.
void TMainF::DarkFrameBtnClick()
{
    BrowseFrameFile(this, "DarkFrameDialog", QStringLiteral("Select dark frame image"), ThermalFrameFileImg,
                    nullptr, CurrentSettings().DarkFrameDirectory);
}

void TMainF::FlatFrameBtnClick()
{
    BrowseFrameFile(this, "FlatFrameDialog", QStringLiteral("Select flat frame image"), FlatFrameFileImg,
                    nullptr, CurrentSettings().FlatFrameDirectory);
}

// ---------------------------------------------------------------------------------------------
// Calibration page

void TMainF::ProcessBtnClick()
{
    TChild *window = FirstImageWindow();
    if (!window)
        return;
    ImageData &image = window->Image();
    image.Modified = true;
    CalibrationUndoTag = window->Tag();
    UndoImage.Assign(image);
    // The snapshot buffer now holds this image: the filter Undo must not copy it into whatever
    // window it last snapshotted.
    UndoWindowTag = -1;
    LastUndo = {};
    UpdateUndoItems();
    PhotometricCorrectionRequest request;
    request.Image = &image;
    request.ThermalFrameFile = Text(ThermalFrameFileImg);
    request.UseThermal = ThermalFrameApplyImg->isChecked();
    request.FlatFrameFile = Text(FlatFrameFileImg);
    request.UseFlat = FlatFrameApplyImg->isChecked();
    ApplyPhotometricCorrection(request);
    UpdateImageControls(window);
    window->RenderImage();
}

void TMainF::BitBtn1Click()
{
    if (CalibrationUndoTag < 0)
        return;
    TChild *window = FindImageWindow(CalibrationUndoTag);
    if (!window)
        return;
    window->Image().Assign(UndoImage);
    UpdateImageControls(window);
    window->RenderImage();
    CalibrationUndoTag = -1;
}
