// TMainF: the direct camera commands of the pages "Temperature and power control" and "Filter wheel
// control", the shutter action and the USB read test. Each command is one or two camera-link calls
// on the GUI thread (TMainF::SelectFilter also runs on the script thread) with UsbErrorHandler as
// the callback; camera 0 is the imaging camera.
#include "main_window.h"

#include "camera_lock.h"
#include "filter_wheel.h"
#include "gui_runtime.h"
#include "image_window.h"
#include "korvicom.h"
#include "settings.h"
#include "text_format.h"
#include "time_scale.h"
#include "usb_error_handler.h"
#include "usb_read_test.h"

#include <QAction>
#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace
{

constexpr int Camera = 0; // the imaging camera

const char *const DefaultFilterNames[6] = {"Red", "Green", "Blue", "Visible Pass", "H-Beta", "O-III"};

// A command's camera-link call: it waits its turn for the camera (a worker thread may be in a
// call) and runs under the hourglass.
class LinkBusy
{
public:
    LinkBusy() { korvi::gui::BeginBusyCursor(); }
    ~LinkBusy() { korvi::gui::EndBusyCursor(); }
    LinkBusy(const LinkBusy &) = delete;
    LinkBusy &operator=(const LinkBusy &) = delete;

private:
    korvi::gui::CameraLock lock_;
};

// The tool-bar pictures of the shutter action: image 11 open, image 13 closed.
QIcon ShutterIcon(bool open)
{
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(open ? QBrush(Qt::white) : QBrush(Qt::darkGray));
    painter.drawEllipse(QRectF(3, 3, 18, 18));
    if (open) {
        painter.setBrush(Qt::black);
        painter.drawEllipse(QRectF(9, 9, 6, 6));
    }
    return QIcon(pixmap);
}

// The read-out timer's period in real milliseconds: seconds of program time, scaled like every
// other wait of the process (rounded, and never 0, which would make the timer spin).
int TimerMilliseconds(int seconds)
{
    return static_cast<int>(std::max(1L, std::lround(seconds * 1000.0 * korvi::TimeScale())));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction

void TMainF::BuildCameraControls()
{
    using korvi::gui::Guarded;

    // "Filter wheel control"
    auto *wheel = new QWidget(PageControl);
    wheel->setObjectName(QStringLiteral("FilterWheelPage"));
    auto *grid = new QGridLayout(wheel);
    for (int k = 1; k <= 6; ++k) {
        QLineEdit *name = new QLineEdit(QString::fromLatin1(DefaultFilterNames[k - 1]), wheel);
        name->setObjectName(QStringLiteral("Filt%1Name").arg(k));
        // The layout's own caption for position 5 differs in case from its name.
        QRadioButton *button = new QRadioButton(
            k == 5 ? QStringLiteral("H-beta") : QString::fromLatin1(DefaultFilterNames[k - 1]), wheel);
        button->setObjectName(QStringLiteral("Filt%1Btn").arg(k));
        grid->addWidget(button, k - 1, 0);
        grid->addWidget(name, k - 1, 1);
        FiltName[k - 1] = name;
        FiltBtn[k - 1] = button;
        connect(name, &QLineEdit::textChanged, this, Guarded([this, k] { FiltNameChange(k); }));
        connect(button, &QRadioButton::clicked, this, Guarded([this, k] { FiltBtnClick(k); }));
    }
    FiltBtn[1]->setChecked(true);
    FiltPos = new QSpinBox(wheel);
    FiltPos->setObjectName(QStringLiteral("FiltPos"));
    FiltPos->setRange(1, FilterPositions);
    FiltPos->setValue(2);
    grid->addWidget(new QLabel(QStringLiteral("Current filter position:"), wheel), 6, 0);
    grid->addWidget(FiltPos, 6, 1);
    SCWBtn = new QPushButton(QStringLiteral("Step forward"), wheel);
    SCWBtn->setObjectName(QStringLiteral("SCWBtn"));
    SCCWBtn = new QPushButton(QStringLiteral("Step backward"), wheel);
    SCCWBtn->setObjectName(QStringLiteral("SCCWBtn"));
    grid->addWidget(SCWBtn, 7, 0);
    grid->addWidget(SCCWBtn, 7, 1);
    grid->setRowStretch(8, 1);
    connect(FiltPos, &QSpinBox::valueChanged, this, Guarded([this] { FiltPosChange(); }));
    connect(SCWBtn, &QPushButton::clicked, this, Guarded([this] { SCWBtnClick(); }));
    connect(SCCWBtn, &QPushButton::clicked, this, Guarded([this] { SCCWBtnClick(); }));

    // "Temperature and power control"
    auto *power = new QWidget(PageControl);
    power->setObjectName(QStringLiteral("TemperaturePage"));
    auto *column = new QVBoxLayout(power);
    auto *form = new QFormLayout;
    CCDTargetTemp = new QSpinBox(power);
    CCDTargetTemp->setObjectName(QStringLiteral("CCDTargetTemp"));
    CCDTargetTemp->setRange(-64, 39);
    CCDTargetTemp->setValue(-20);
    form->addRow(QStringLiteral("Target CCD temperature:"), CCDTargetTemp);
    column->addLayout(form);
    auto button = [power, column](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, power);
        b->setObjectName(QString::fromLatin1(name));
        column->addWidget(b);
        return b;
    };
    SendTargetTempBtn = button("SendTargetTempBtn", QStringLiteral("Send target CCD temperature"));
    TEPowerUpBtn = button("TEPowerUpBtn", QStringLiteral("Power on CCD TE cooler"));
    TempUpdate = new QCheckBox(QStringLiteral("Periodically read CCD temperature"), power);
    TempUpdate->setObjectName(QStringLiteral("TempUpdate"));
    column->addWidget(TempUpdate);
    auto *period = new QFormLayout;
    TempUDPeriod = new QSpinBox(power);
    TempUDPeriod->setObjectName(QStringLiteral("TempUDPeriod"));
    TempUDPeriod->setRange(1, 100000);
    TempUDPeriod->setValue(5);
    TempUDPeriod->setSuffix(QStringLiteral(" s"));
    period->addRow(QStringLiteral("Period:"), TempUDPeriod);
    column->addLayout(period);
    CCDReadTempBtn = button("CCDReadTempBtn", QStringLiteral("Read CCD temperature"));
    StandbyBtn = button("StandbyBtn", QStringLiteral("Place system in standby mode"));
    ReadBatteryBtn = button("ReadBatteryBtn", QStringLiteral("Read battery voltage"));
    CCD0Temp = new QLabel(QStringLiteral("Imaging camera CCD temperature: "), power);
    CCD0Temp->setObjectName(QStringLiteral("CCD0Temp"));
    column->addWidget(CCD0Temp);
    column->addStretch(1);

    PageControl->insertTab(3, ScrolledPage(wheel), QStringLiteral("Filter wheel control"));
    PageControl->insertTab(4, ScrolledPage(power), QStringLiteral("Temperature and power control"));

    TempUDTimer = new QTimer(this);
    TempUDTimer->setObjectName(QStringLiteral("TempUDTimer"));
    TempUDTimer->setInterval(TimerMilliseconds(TempUDPeriod->value()));

    connect(CCDTargetTemp, &QSpinBox::valueChanged, this, Guarded([this] { CCDTargetTempChange(); }));
    connect(SendTargetTempBtn, &QPushButton::clicked, this, Guarded([this] { SendTargetTempBtnClick(); }));
    connect(TEPowerUpBtn, &QPushButton::clicked, this, Guarded([this] { TEPowerUpBtnClick(); }));
    connect(TempUpdate, &QCheckBox::clicked, this, Guarded([this] { TempUpdateClick(); }));
    connect(TempUDPeriod, &QSpinBox::valueChanged, this, Guarded([this] { TempUDPeriodChange(); }));
    connect(CCDReadTempBtn, &QPushButton::clicked, this, Guarded([this] { CCDReadTempBtnClick(); }));
    connect(StandbyBtn, &QPushButton::clicked, this, Guarded([this] { StandbyBtnClick(); }));
    connect(ReadBatteryBtn, &QPushButton::clicked, this, Guarded([this] { ReadBatteryBtnClick(); }));
    connect(TempUDTimer, &QTimer::timeout, this, Guarded([this] { TempUDTimerTimer(); }));

    // The shutter toggle on the tool bar, the USB read test under Tools, Diagnostics.
    ShutterStateToggle = new QAction(QStringLiteral("Shutter"), this);
    ShutterStateToggle->setObjectName(QStringLiteral("ShutterStateToggle"));
    ShutterStateToggle->setToolTip(QStringLiteral("Toggle shuter open/closed (Ctrl+T)"));
    ShutterStateToggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    ShutterStateToggle->setProperty("ImageIndex", 13);
    ShutterStateToggle->setIcon(ShutterIcon(false));
    AddToolAction(ShutterStateToggle);
    addAction(ShutterStateToggle);
    connect(ShutterStateToggle, &QAction::triggered, this, Guarded([this] { ShutterStateToggleExecute(); }));

    USBreadtest1 = new QAction(QStringLiteral("USB read test"), this);
    USBreadtest1->setObjectName(QStringLiteral("USBreadtest1"));
    if (QMenu *diagnostics = menuBar()->findChild<QMenu *>(QStringLiteral("Diagnostics1")))
        diagnostics->addAction(USBreadtest1);
    else if (ToolsMenu)
        ToolsMenu->addAction(USBreadtest1);
    connect(USBreadtest1, &QAction::triggered, this, Guarded([this] { USBreadtest1Click(); }));
}

void TMainF::ApplySettingsToCameraControls()
{
    Settings &s = CurrentSettings();
    std::vector<QSignalBlocker> blockers;
    for (QObject *control : std::initializer_list<QObject *>{CCDTargetTemp, TempUpdate, FiltPos})
        blockers.emplace_back(control);
    for (int k = 0; k < 6; ++k)
        blockers.emplace_back(FiltName[k]);

    CCDTargetTemp->setValue(s.CCDTargetTemp[0]);
    TempUpdate->setChecked(s.TempUpdate);
    // A position outside the wheel (a hand-edited file, a script's 0-based count) is shown and
    // used as the nearest real one.
    const int position = ClampFilterPosition(s.FiltPos);
    FiltPos->setValue(position);
    FiltBtn[position - 1]->setChecked(true);
    for (int k = 1; k <= 6; ++k) {
        FiltName[k - 1]->setText(QString::fromStdString(s.FilterName[k]));
        FiltBtn[k - 1]->setText(QString::fromStdString(s.FilterName[k]));
    }
    TEPowerUpBtn->setText(s.CoolerPowerOn[0] ? QStringLiteral("Power off CCD TE cooler")
                                             : QStringLiteral("Power on CCD TE cooler"));
    blockers.clear();
    // The read-out timer runs exactly while the box is ticked.
    if (TempUpdate->isChecked() && !TempUDTimer->isActive())
        TempUDTimer->start();
    else if (!TempUpdate->isChecked())
        TempUDTimer->stop();
}

void TMainF::ReadCameraControlsIntoSettings()
{
    Settings &s = CurrentSettings();
    s.FiltPos = FiltPos->value();
    for (int k = 1; k <= 6; ++k)
        s.FilterName[k] = FiltName[k - 1]->text().toStdString();
    s.CCDTargetTemp[0] = CCDTargetTemp->value();
    s.TempUpdate = TempUpdate->isChecked();
}

// ---------------------------------------------------------------------------------------------
// Temperature and power

void TMainF::CCDTargetTempChange()
{
    CurrentSettings().CCDTargetTemp[0] = CCDTargetTemp->value();
}

void TMainF::SendTargetTempBtnClick()
{
    const int target = CCDTargetTemp->value();
    CurrentSettings().CCDTargetTemp[0] = target;
    LinkBusy busy;
    _CCDSendTargetTemp(Camera, target, UsbErrorHandler);
}

void TMainF::TEPowerUpBtnClick()
{
    Settings &s = CurrentSettings();
    const bool wasOn = s.CoolerPowerOn[0];
    s.CoolerPowerOn[0] = !wasOn;
    LinkBusy busy;
    if (wasOn) {
        _CCDTESupplyOff(Camera, UsbErrorHandler);
        TEPowerUpBtn->setText(QStringLiteral("Power on CCD TE cooler"));
    } else {
        _CCDTESupplyOn(Camera, UsbErrorHandler);
        TEPowerUpBtn->setText(QStringLiteral("Power off CCD TE cooler"));
    }
}

void TMainF::CCDReadTempBtnClick()
{
    double t = 0.0;
    const int errorsBefore = UsbErrorsOnThisThread();
    {
        LinkBusy busy;
        t = static_cast<double>(_CCD_GetTemperature(Camera, UsbErrorHandler));
    }
    // A read the link failed (no reply) shows no number: the library's value then is no reading.
    CCD0Temp->setText(UsbErrorsOnThisThread() == errorsBefore
                          ? QStringLiteral("Imaging camera CCD temperature: ") + PictureText("##0.0", t) +
                                QStringLiteral(" \u00B0C")
                          : QStringLiteral("Imaging camera CCD temperature: not read"));
}

void TMainF::TempUDTimerTimer()
{
    // The timer rests while the read-out runs: a link error box left open cannot have further
    // read-outs (and boxes) queue up behind it. A tick that finds the camera in use by another
    // thread is skipped rather than waited out.
    TempUDTimer->stop();
    if (const korvi::gui::CameraLock tick(korvi::gui::CameraLock::TryOnly); tick)
        CCDReadTempBtnClick();
    if (TempUpdate->isChecked())
        TempUDTimer->start();
}

void TMainF::TempUpdateClick()
{
    CurrentSettings().TempUpdate = TempUpdate->isChecked();
    if (TempUpdate->isChecked())
        TempUDTimer->start();
    else
        TempUDTimer->stop();
}

void TMainF::TempUDPeriodChange()
{
    TempUDTimer->setInterval(TimerMilliseconds(TempUDPeriod->value()));
}

void TMainF::ReadBatteryBtnClick()
{
    double volts = 0.0;
    const int errorsBefore = UsbErrorsOnThisThread();
    {
        LinkBusy busy;
        volts = static_cast<double>(_ReadBatteryVolts(UsbErrorHandler));
    }
    CCD0Temp->setText(UsbErrorsOnThisThread() == errorsBefore
                          ? QStringLiteral("DC supply voltage: ") + PictureText("##0.0", volts) +
                                QStringLiteral(" V")
                          : QStringLiteral("DC supply voltage: not read"));
}

void TMainF::StandbyBtnClick()
{
    if (Standby) {
        {
            LinkBusy busy;
            _ControllerPowerup(UsbErrorHandler);
        }
        StandbyBtn->setText(QStringLiteral("Place system in standby mode"));
        Standby = false;
        return;
    }
    const bool guiderAcquiring = GuiderAcquiring && GuiderAcquiring->load();
    if (Acquiring || guiderAcquiring) {
        if (korvi::gui::ShowMessage(
                QStringLiteral(
                    "Images being acquired will be lost.       Continue with controller powerdown?"),
                QStringLiteral("Korvi"), MessageButtons::YesNo, MessageIcon::Question) != MessageAnswer::Yes)
            return;
        Acquiring = false;
        if (GuiderAcquiring)
            GuiderAcquiring->store(false);
    }
    {
        LinkBusy busy;
        _ControllerPowerdown(UsbErrorHandler);
    }
    StandbyBtn->setText(QStringLiteral("Return system from standby mode"));
    Standby = true;
}

// ---------------------------------------------------------------------------------------------
// Shutter

void TMainF::ShutterStateToggleExecute()
{
    ShutterOpen = !ShutterOpen;
    {
        LinkBusy busy;
        _Shutter(ShutterOpen ? 1 : 0, UsbErrorHandler);
    }
    ShutterStateToggle->setProperty("ImageIndex", ShutterOpen ? 11 : 13);
    ShutterStateToggle->setIcon(ShutterIcon(ShutterOpen));
}

// ---------------------------------------------------------------------------------------------
// Filter wheel

void TMainF::SCWBtnClick()
{
    LinkBusy busy;
    _StepFilterWheel(3, 1, UsbErrorHandler);
}

void TMainF::SCCWBtnClick()
{
    LinkBusy busy;
    _StepFilterWheel(3, 0, UsbErrorHandler);
}

void TMainF::FiltPosChange()
{
    CurrentSettings().FiltPos = FiltPos->value();
}

void TMainF::FiltBtnClick(int k)
{
    if (!IsFilterPosition(k))
        return;
    FilterPosition = k;
    if (CurrentSettings().FiltPos != k)
        SelectFilter(k);
    // The spin edit shows where the wheel stands: k once it got there, the old position when it
    // did not acknowledge (showing k then would make the next move start from the wrong place).
    const int position = ClampFilterPosition(CurrentSettings().FiltPos);
    FiltPos->setValue(position);
    FiltBtn[position - 1]->setChecked(true);
}

void TMainF::FiltNameChange(int k)
{
    if (!IsFilterPosition(k))
        return;
    const QString name = FiltName[k - 1]->text();
    CurrentSettings().FilterName[k] = name.toStdString();
    FiltBtn[k - 1]->setText(name);
}

bool TMainF::SelectFilter(int target)
{
    Settings &s = CurrentSettings();
    if (!IsFilterPosition(target))
        return false;
    // The stored position may come from a file or a script; the wheel is only ever stepped
    // from a position it has.
    s.FiltPos = ClampFilterPosition(s.FiltPos);
    const FilterMove move = PlanFilterMove(s.FiltPos, target);
    if (move.steps == 0)
        return true;
    int result = -1;
    {
        LinkBusy busy;
        result = _StepFilterWheel(move.steps, move.forward ? 1 : 0, UsbErrorHandler);
    }
    if (result < 0) {
        korvi::gui::ShowMessage(QStringLiteral("Device fault. Could not operate filter rotator."),
                                QStringLiteral("Korvi"), MessageButtons::Ok, MessageIcon::Error);
        return false;
    }
    s.FiltPos = target;
    // The page shows where the wheel now stands. Acquire copies the spin edit back into the
    // record, so a spin edit left behind (after a script's move) would make the next move start
    // from a position the wheel is not at.
    korvi::gui::RunOnGuiThread([this, target] {
        const Settings &settings = CurrentSettings();
        FiltPos->setValue(target);
        FiltBtn[target - 1]->setChecked(true);
        if (settings.UseFiltDesc)
            Filters->setText(QString::fromStdString(settings.FilterName[target]));
    });
    return true;
}

// ---------------------------------------------------------------------------------------------
// USB read test

void TMainF::USBreadtest1Click()
{
    TChild *window = CreateImageWindow(UsbReadTestSize, UsbReadTestSize);
    ImageData &image = window->Image();
    if (!image.Allocate(UsbReadTestSize, UsbReadTestSize, 1)) {
        window->close();
        korvi::gui::ShowMessage(QStringLiteral("Not enough memory for the USB read test."),
                                QStringLiteral("Korvi"), MessageButtons::Ok, MessageIcon::Error);
        return;
    }
    std::fill(image.FramePixels(0), image.FramePixels(0) + image.PixelCount(), std::uint16_t{0});
    image.Date = GmtDateTimeText(false);
    image.Time = GmtDateTimeText(true);
    image.Description = "USB read test (intensity = x + y)";
    SetStatusText(1, QStringLiteral("Acquiring test data."));
    StatusPanels[1]->repaint();

    float seconds = 0.0f;
    {
        LinkBusy busy;
        seconds = static_cast<float>(_USBReadDiagnostic(image.Rows.RowTable(), UsbReadTestSize,
                                                        UsbReadTestSize, Camera, UsbErrorHandler));
    }
    // The window is shown whatever the outcome: it holds what did arrive.
    window->show();
    UpdateImageControls(window);
    // After the image's values, which put its (empty) file name into panel 2: a time-out or
    // failure reported there must stay readable.
    const UsbReadTestReport report = DescribeUsbReadTest(seconds, korvi::gui::DecimalSeparator());
    SetStatusText(report.panel, QString::fromStdString(report.text));
    StatusPanels[report.panel]->repaint();
    window->FitToWindow();
    ShowComputedLevels(image);
    RefreshExecute();
}
