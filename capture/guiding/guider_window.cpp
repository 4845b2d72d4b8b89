// TGuiderF: construction and layout, showing the window, the copies between the pages and the
// settings, the run commands (acquire, continuous, stop, guide, calibrate), the guide thread's
// owner interface and key slewing. The display is in guider_window_display.cpp, the camera and
// file commands in guider_window_commands.cpp.
#include "guiding/guider_window.h"

#include "camera_lock.h"
#include "color_index_view.h"
#include "edit_target.h"
#include "gui_runtime.h"
#include "guiding/track_window.h"
#include "korvicom.h"
#include "levels.h"
#include "main_window.h"
#include "opengl_panel.h"
#include "processing/sky_model.h"
#include "processing_target.h"
#include "settings.h"
#include "statistics_window.h"
#include "subframe_check.h"
#include "text_format.h"
#include "usb_error_handler.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <climits>
#include <cmath>

TGuiderF *GuiderF = nullptr;

namespace
{

constexpr int G = GuidingCamera;

QString PictureText(const char *picture, double value)
{
    return QString::fromStdString(FormatFloat(picture, value, korvi::gui::DecimalSeparator()));
}

template <typename W> W *Named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QSpinBox *Spin(QWidget *parent, const char *name, int low, int high, int value, int step = 1)
{
    auto *spin = Named(new QSpinBox(parent), name);
    spin->setRange(low, high);
    spin->setSingleStep(step);
    spin->setValue(value);
    return spin;
}

// Text of an integer spin taken as an integer, 0 when it is not one.
int SpinTextValue(const QSpinBox *spin)
{
    bool ok = false;
    const int v = spin->cleanText().trimmed().toInt(&ok);
    return ok ? v : 0;
}

// The guide button's two pictures: a crosshair, lit green while guiding.
QIcon GuideIcon(bool guiding)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(guiding ? QColor(0, 160, 0) : QColor(128, 128, 128), 3));
    painter.drawEllipse(6, 6, 20, 20);
    painter.drawLine(16, 1, 16, 31);
    painter.drawLine(1, 16, 31, 16);
    return QIcon(pixmap);
}

QIcon MetricIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(QColor(0, 0, 160), 3));
    painter.drawLine(4, 28, 28, 28);
    painter.drawLine(4, 28, 4, 4);
    painter.drawLine(4, 28, 24, 8);
    return QIcon(pixmap);
}

} // namespace

TGuiderF::TGuiderF(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), displayMap_(3 * ColorIndexView::MapSize, 0.0f),
      view_(std::make_unique<ColorIndexView>()), magnifierView_(std::make_unique<ColorIndexView>())
{
    setObjectName(QStringLiteral("GuiderF"));
    setWindowTitle(QStringLiteral("Guiding camera control"));
    resize(760, 640);
    if (!GuiderF)
        GuiderF = this;

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    BuildToolBar();
    layout->addWidget(ActionToolBar);
    // Wide enough for every tool-bar button: none hides in the overflow menu at the start.
    resize(std::max(width(), ActionToolBar->sizeHint().width() + 8), height());

    auto *middle = new QHBoxLayout;
    ImgScrollBox = Named(new QScrollArea(this), "ImgScrollBox");
    ImgScrollBox->setBackgroundRole(QPalette::Dark);
    OpenGLPanel1 = Named(new TOpenGLPanel, "OpenGLPanel1");
    OpenGLPanel1->resize(1, 1);
    OpenGLPanel1->setMouseTracking(true);
    ImgScrollBox->setWidget(OpenGLPanel1);
    middle->addWidget(ImgScrollBox, 1);
    auto *panel3 = Named(new QWidget(this), "Panel3");
    auto *right = new QVBoxLayout(panel3);
    auto *zoomPanel = Named(new QWidget(panel3), "ZImgPanel");
    auto *zoomLayout = new QVBoxLayout(zoomPanel);
    zoomLayout->setContentsMargins(0, 0, 0, 0);
    OpenGLPanel2 = Named(new TOpenGLPanel(zoomPanel), "OpenGLPanel2");
    OpenGLPanel2->setFixedSize(200, 200);
    zoomLayout->addWidget(OpenGLPanel2);
    right->addWidget(zoomPanel);
    auto *palBarPanel = Named(new QWidget(panel3), "PalBarPanel");
    auto *palLayout = new QVBoxLayout(palBarPanel);
    palLayout->setContentsMargins(0, 0, 0, 0);
    PalBar = Named(new QLabel(palBarPanel), "PalBar");
    PalBar->setFixedSize(24, 200);
    palLayout->addWidget(PalBar);
    right->addWidget(palBarPanel, 0, Qt::AlignHCenter);
    right->addStretch(1);
    middle->addWidget(panel3);
    layout->addLayout(middle, 1);

    BuildPages();
    layout->addWidget(PageControl1);

    auto *status = Named(new QWidget(this), "StatusBar");
    auto *statusLayout = new QHBoxLayout(status);
    statusLayout->setContentsMargins(2, 0, 2, 0);
    const int widths[3] = {220, 220, 50};
    for (int i = 0; i < 3; ++i) {
        StatusBar[i] = new QLabel(status);
        StatusBar[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        StatusBar[i]->setFrameShape(QFrame::Panel);
        StatusBar[i]->setFrameShadow(QFrame::Sunken);
        StatusBar[i]->setMinimumWidth(widths[i]);
        statusLayout->addWidget(StatusBar[i], i == 2 ? 1 : 0);
    }
    layout->addWidget(status);

    PopupMenu = Named(new QMenu(this), "PopupMenu");
    Setselectiontocapturesubframe1 = PopupMenu->addAction(QStringLiteral("Select capture sub-frame"));
    Setselectiontocapturesubframe1->setObjectName(QStringLiteral("Setselectiontocapturesubframe1"));
    Showstatsforselected1 = PopupMenu->addAction(QStringLiteral("Show stats for selected"));
    Showstatsforselected1->setObjectName(QStringLiteral("Showstatsforselected1"));
    connect(Showstatsforselected1, &QAction::triggered, this,
            korvi::gui::Guarded([this] { StatsExecute(); }));

    GTimer = Named(new QTimer(this), "GTimer");
    GTimer->setInterval(1000);
    GTimer->setSingleShot(true);

    SetGuidePicture(false);
    ConnectControls();

    // Ctrl + arrow keys slew wherever the focus is in the window.
    for (QWidget *child : findChildren<QWidget *>())
        child->installEventFilter(this);

    if (MainF)
        MainF->GuiderAcquiring = &Acquiring;
}

TGuiderF::~TGuiderF()
{
    Acquiring = false;
    runner_.Shutdown();
    if (MainF && MainF->GuiderAcquiring == &Acquiring)
        MainF->GuiderAcquiring = nullptr;
    if (GuiderF == this)
        GuiderF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TGuiderF::BuildToolBar()
{
    ActionToolBar = Named(new QToolBar(this), "ActionToolBar");
    struct Item {
        QAction *TGuiderF::*member;
        const char *name, *text, *hint;
    };
    const Item items[] = {
        {&TGuiderF::Save, "Save", "Save", "Save image"},
        {&TGuiderF::Open, "Open", "Open", ""},
        {&TGuiderF::Acquire, "Acquire", "Acquire", "Acquire an image or image sequence"},
        {&TGuiderF::ContAcquire, "ContAcquire", "Continuous", "Acquire images continuously (without saving)"},
        {&TGuiderF::Stop, "Stop", "Stop", "Stop acquisition"},
        {&TGuiderF::Clear, "Clear", "Clear", "Clear CCD"},
        {&TGuiderF::Resize, "Resize", "Full frame", "Select full CCD frame for acquisition"},
        {&TGuiderF::TrackPaddle, "TrackPaddle", "Paddle", "Show manual telescope tracking controls"},
        {&TGuiderF::Stats, "Stats", "Stats", "Show image statistics"},
        {&TGuiderF::Palettes, "Palettes", "Palette", "Edit palettes"},
        {&TGuiderF::HeaderInfo, "HeaderInfo", "Header", "Show image header information"},
        {&TGuiderF::ZoomIn, "ZoomIn", "Zoom +", "Zoom into image"},
        {&TGuiderF::ZoomOut, "ZoomOut", "Zoom -", "Zoom out of image"},
        {&TGuiderF::Zoom1, "Zoom1", "1:1", "Zoom to pixel scale"},
        {&TGuiderF::ZoomFit, "ZoomFit", "Fit", "Zoom to fit window"},
        {&TGuiderF::Repaint, "Repaint", "Redraw", "Redraw image"},
    };
    for (const Item &item : items) {
        QAction *action = ActionToolBar->addAction(QString::fromLatin1(item.text));
        action->setObjectName(QString::fromLatin1(item.name));
        action->setToolTip(QString::fromLatin1(item.hint));
        this->*item.member = action;
    }
    connect(Stats, &QAction::triggered, this, korvi::gui::Guarded([this] { StatsExecute(); }));
}

void TGuiderF::BuildPages()
{
    PageControl1 = Named(new QTabWidget(this), "PageControl1");
    PageControl1->addTab(BuildGuidePage(), QStringLiteral("Guide"));
    PageControl1->addTab(BuildAcquisitionPage(), QStringLiteral("Acquisition Settings"));
    PageControl1->addTab(BuildDisplayPage(), QStringLiteral("Display settings"));
    PageControl1->addTab(BuildDescriptorsPage(), QStringLiteral("Image descriptors"));
    PageControl1->addTab(BuildSubframePage(), QStringLiteral("Acquisition subframe"));
    PageControl1->addTab(BuildTemperaturePage(), QStringLiteral("Temperature control"));
}

QWidget *TGuiderF::BuildGuidePage()
{
    auto *page = Named(new QWidget(PageControl1), "Guide");
    auto *grid = new QGridLayout(page);
    GuideBtn = Named(new QToolButton(page), "GuideBtn");
    GuideBtn->setToolTip(QStringLiteral("Enable/Disable guiding"));
    GuideBtn->setIconSize(QSize(32, 32));
    MetricBtn = Named(new QToolButton(page), "MetricBtn");
    MetricBtn->setToolTip(QStringLiteral("Determine guiding metric"));
    MetricBtn->setIconSize(QSize(32, 32));
    MetricBtn->setIcon(MetricIcon());
    Correction = Named(new QLabel(QStringLiteral("dx: 0.0      dy: 0.0 (pixels)"), page), "Correction");
    GuideStatus = Named(new QLabel(QStringLiteral("Status: Ready"), page), "GuideStatus");
    TCtimelabel = Named(new QLabel(QStringLiteral("Elapsed time:"), page), "TCtimelabel");
    TCTimeStatus = Named(new QLabel(QStringLiteral("0"), page), "TCTimeStatus");
    GuideDetent_ = Spin(page, "GuideDetent_", 1, 999, 5);
    GuideMaxExcursion_ = Spin(page, "GuideMaxExcursion_", 1, 999, 5);
    // The texts the runs write change in length all night: they take no part in sizing the page's
    // columns, so a long notice never moves the buttons and spins. The notice has a row of its
    // own under the controls, three lines high, and wraps inside it; its tool tip holds it whole.
    const QFontMetrics metrics(page->font());
    Correction->setMinimumWidth(
        metrics.horizontalAdvance(QStringLiteral("dx:-000.0      dy:-000.0 (pixels)")));
    Correction->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    GuideStatus->setWordWrap(true);
    GuideStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    GuideStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    GuideStatus->setFixedHeight(3 * metrics.lineSpacing() + 4);
    TCTimeStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    grid->addWidget(GuideBtn, 0, 0);
    grid->addWidget(MetricBtn, 0, 1);
    grid->addWidget(Correction, 0, 2, 1, 2);
    grid->addWidget(TCtimelabel, 1, 2);
    grid->addWidget(TCTimeStatus, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Detent (s):"), page), 2, 0);
    grid->addWidget(GuideDetent_, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Excursion factor:"), page), 2, 2);
    grid->addWidget(GuideMaxExcursion_, 2, 3);
    grid->addWidget(GuideStatus, 3, 0, 1, 4);
    grid->setRowStretch(4, 1);
    return page;
}

QWidget *TGuiderF::BuildAcquisitionPage()
{
    auto *page = Named(new QWidget(PageControl1), "ImageSet211");
    auto *form = new QFormLayout(page);
    IntTime211 = Named(new QLineEdit(page), "IntTime211");
    NImage211 = Spin(page, "NImage211", 1, 999, 1);
    Delay211 = Named(new QLineEdit(page), "Delay211");
    NClearTC = Spin(page, "NClearTC", 1, 20, 10);
    ReadoutCoolingDisable =
        Named(new QCheckBox(QStringLiteral("Turn off cooling supply during readout?"), page),
              "ReadoutCoolingDisable");
    ReadoutCoolingDisable->setChecked(true);
    DisplayTC = Named(new QCheckBox(QStringLiteral("Display frame on capture"), page), "DisplayTC");
    DisplayTC->setChecked(true);
    form->addRow(QStringLiteral("Integration time:"), IntTime211);
    form->addRow(QStringLiteral("Number of frames:"), NImage211);
    form->addRow(QStringLiteral("Frame delay:"), Delay211);
    form->addRow(QStringLiteral("Clearing scans:"), NClearTC);
    form->addRow(ReadoutCoolingDisable);
    form->addRow(DisplayTC);
    return page;
}

QWidget *TGuiderF::BuildDisplayPage()
{
    auto *page = Named(new QWidget(PageControl1), "TabSheet1");
    auto *grid = new QGridLayout(page);
    IntScale = Named(new QLineEdit(page), "IntScale");
    IntScale->setToolTip(QStringLiteral("Intensity scaling factor"));
    BiasLevel = Spin(page, "BiasLevel", 0, 65536, 0, 10);
    BiasLevel->setToolTip(QStringLiteral("Background level to subtract"));
    IntTrackBar = Named(new QSlider(Qt::Horizontal, page), "IntTrackBar");
    BiasTrackBar = Named(new QSlider(Qt::Horizontal, page), "BiasTrackBar");
    for (QSlider *bar : {IntTrackBar, BiasTrackBar})
        bar->setRange(0, 100);
    grid->addWidget(new QLabel(QStringLiteral("Intensity scaling factor"), page), 0, 0);
    grid->addWidget(IntScale, 0, 1);
    grid->addWidget(IntTrackBar, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Intensity bias"), page), 1, 0);
    grid->addWidget(BiasLevel, 1, 1);
    grid->addWidget(BiasTrackBar, 1, 2);
    auto *palettes = new QHBoxLayout;
    QToolButton **buttons[] = {&GrayscaleBtn, &BlackbodyBtn, &SpectrumBtn1, &SpectrumBtn2};
    const char *names[] = {"GrayscaleBtn", "BlackbodyBtn", "SpectrumBtn1", "SpectrumBtn2"};
    for (int i = 0; i < 4; ++i) {
        *buttons[i] = Named(new QToolButton(page), names[i]);
        (*buttons[i])->setIconSize(QSize(48, 16));
        palettes->addWidget(*buttons[i]);
    }
    grid->addLayout(palettes, 2, 0, 1, 3);
    AutoSetContrastBtn =
        Named(new QPushButton(QStringLiteral("Autoset contrast"), page), "AutoSetContrastBtn");
    SkyModelBtn = Named(new QPushButton(QStringLiteral("Subtract sky"), page), "SkyModelBtn");
    connect(SkyModelBtn, &QPushButton::clicked, this, korvi::gui::Guarded([this] { SkyModelBtnClick(); }));
    PolyOrder = Spin(page, "PolyOrder", 1, 9, 1);
    grid->addWidget(AutoSetContrastBtn, 3, 0);
    grid->addWidget(SkyModelBtn, 3, 1);
    auto *order = new QHBoxLayout;
    order->addWidget(new QLabel(QStringLiteral("Polynomial order:"), page));
    order->addWidget(PolyOrder);
    grid->addLayout(order, 3, 2);
    return page;
}

QWidget *TGuiderF::BuildDescriptorsPage()
{
    auto *page = Named(new QWidget(PageControl1), "TabSheet2");
    auto *form = new QFormLayout(page);
    SaveFile = Named(new QLineEdit(page), "SaveFile");
    SaveBtn = Named(new QPushButton(QStringLiteral(">>"), page), "SaveBtn");
    auto *prefix = new QHBoxLayout;
    prefix->addWidget(SaveFile, 1);
    prefix->addWidget(SaveBtn);
    Ext211 = Spin(page, "Ext211", 1, 999, 1);
    IncrExt211 = Named(new QCheckBox(page), "IncrExt211");
    IncrExt211->setChecked(true);
    Save211 = Named(new QCheckBox(QStringLiteral("Save frame on capture"), page), "Save211");
    Save211->setChecked(true);
    SaveFormat = Named(new QComboBox(page), "SaveFormat");
    SaveFormat->addItems({QStringLiteral("Korvi format"), QStringLiteral("FITS image"),
                          QStringLiteral("Windows bitmap"),
                          QStringLiteral("PNG (portable network graphics)")});
    form->addRow(QStringLiteral("File prefix:"), prefix);
    form->addRow(QStringLiteral("First extension #:"), Ext211);
    form->addRow(QStringLiteral("Increment ext.# continuously:"), IncrExt211);
    form->addRow(Save211);
    form->addRow(QStringLiteral("File format:"), SaveFormat);
    return page;
}

QWidget *TGuiderF::BuildSubframePage()
{
    auto *page = Named(new QWidget(PageControl1), "TabSheet3");
    auto *form = new QFormLayout(page);
    // The sub-frame spins have no range of their own; the values are checked before a run.
    XLO = Spin(page, "XLO", INT_MIN, INT_MAX, 0);
    XHI = Spin(page, "XHI", INT_MIN, INT_MAX, 210);
    YLO = Spin(page, "YLO", INT_MIN, INT_MAX, 0);
    YHI = Spin(page, "YHI", INT_MIN, INT_MAX, 164);
    MAXNCOL = Spin(page, "MAXNCOL", INT_MIN, INT_MAX, 211);
    MAXNROW = Spin(page, "MAXNROW", INT_MIN, INT_MAX, 165);
    form->addRow(QStringLiteral("Lowest column index::"), XLO);
    form->addRow(QStringLiteral("Highest column index::"), XHI);
    form->addRow(QStringLiteral("Lowest row index::"), YLO);
    form->addRow(QStringLiteral("Highest row index::"), YHI);
    form->addRow(QStringLiteral("Maximum CCD columns:"), MAXNCOL);
    form->addRow(QStringLiteral("Maximum CCD rows:"), MAXNROW);
    return page;
}

QWidget *TGuiderF::BuildTemperaturePage()
{
    auto *page = Named(new QWidget(PageControl1), "TabSheet4");
    auto *grid = new QGridLayout(page);
    CCD1Temp = Named(new QLabel(QStringLiteral("Guiding camera CCD temperature: "), page), "CCD1Temp");
    CCDTargetTemp = Spin(page, "CCDTargetTemp", -64, 39, -5);
    SendTargetTempBtn =
        Named(new QPushButton(QStringLiteral("Send target CCD temperature"), page), "SendTargetTempBtn");
    CCDReadTempBtn = Named(new QPushButton(QStringLiteral("Read CCD temperature"), page), "CCDReadTempBtn");
    TEPowerUpBtn = Named(new QPushButton(QStringLiteral("Power on CCD TE cooler"), page), "TEPowerUpBtn");
    LCDTempToggle = Named(new QPushButton(QStringLiteral("Enable LCD display"), page), "LCDTempToggle");
    grid->addWidget(CCD1Temp, 0, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Target CCD temperature (°C):"), page), 1, 0);
    grid->addWidget(CCDTargetTemp, 1, 1);
    grid->addWidget(SendTargetTempBtn, 2, 0);
    grid->addWidget(CCDReadTempBtn, 2, 1);
    grid->addWidget(TEPowerUpBtn, 3, 0);
    grid->addWidget(LCDTempToggle, 3, 1);
    return page;
}

void TGuiderF::ConnectControls()
{
    auto guarded = [](auto fn) { return [fn] { korvi::gui::RunGuarded(fn); }; };
    auto on = [this, guarded](QAction *action, void (TGuiderF::*handler)()) {
        connect(action, &QAction::triggered, this, guarded([this, handler] { (this->*handler)(); }));
    };
    on(Save, &TGuiderF::SaveExecute);
    on(Open, &TGuiderF::OpenExecute);
    on(Acquire, &TGuiderF::AcquireExecute);
    on(ContAcquire, &TGuiderF::ContAcquireExecute);
    on(Stop, &TGuiderF::StopExecute);
    on(Clear, &TGuiderF::ClearExecute);
    on(Resize, &TGuiderF::ResizeExecute);
    on(TrackPaddle, &TGuiderF::TrackPaddleExecute);
    on(Palettes, &TGuiderF::PalettesExecute);
    on(HeaderInfo, &TGuiderF::HeaderInfoExecute);
    on(ZoomIn, &TGuiderF::ZoomInExecute);
    on(ZoomOut, &TGuiderF::ZoomOutExecute);
    on(Zoom1, &TGuiderF::Zoom1Execute);
    on(ZoomFit, &TGuiderF::ZoomFitExecute);
    on(Repaint, &TGuiderF::RepaintExecute);
    on(Setselectiontocapturesubframe1, &TGuiderF::Setselectiontocapturesubframe1Click);

    auto click = [this, guarded](QAbstractButton *button, void (TGuiderF::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, guarded([this, handler] { (this->*handler)(); }));
    };
    click(GuideBtn, &TGuiderF::GuideBtnClick);
    click(MetricBtn, &TGuiderF::MetricBtnClick);
    click(SendTargetTempBtn, &TGuiderF::SendTargetTempBtnClick);
    click(CCDReadTempBtn, &TGuiderF::CCDReadTempBtnClick);
    click(TEPowerUpBtn, &TGuiderF::TEPowerUpBtnClick);
    click(LCDTempToggle, &TGuiderF::LCDTempToggleClick);
    click(SaveBtn, &TGuiderF::SaveBtnClick);
    click(AutoSetContrastBtn, &TGuiderF::AutoSetContrastBtnClick);
    const char *quick[] = {"Greyscale.pal", "BlackBody2.pal", "Spectrum2.pal", "Spectrum.pal"};
    QToolButton *quickButtons[] = {GrayscaleBtn, BlackbodyBtn, SpectrumBtn1, SpectrumBtn2};
    for (int i = 0; i < 4; ++i) {
        const std::string file = quick[i];
        connect(quickButtons[i], &QToolButton::clicked, this, guarded([this, file] {
                    LoadQuickPalette(CurrentSettings().ProgramDirectory + "Palettes/" + file);
                    RefreshDisplay();
                }));
    }
    connect(ReadoutCoolingDisable, &QCheckBox::clicked, this,
            [this] { CurrentSettings().ReadoutCoolingDisable[G] = ReadoutCoolingDisable->isChecked(); });
    connect(CCDTargetTemp, &QSpinBox::textChanged, this,
            [this] { CurrentSettings().CCDTargetTemp[G] = SpinTextValue(CCDTargetTemp); });
    connect(SaveFormat, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            CurrentSettings().SaveFormat[G] = index;
    });
    // Edits of the two guide values take effect at once: guiding reads them at its start.
    connect(GuideDetent_, &QSpinBox::valueChanged, this, [](int v) { CurrentSettings().GuideDetent = v; });
    connect(GuideMaxExcursion_, &QSpinBox::valueChanged, this,
            [](int v) { CurrentSettings().GuideMaxExcursion = v; });
    connect(IntScale, &QLineEdit::textChanged, this, guarded([this] { IntScaleChange(); }));
    connect(BiasLevel, &QSpinBox::valueChanged, this, guarded([this] { BiasLevelChange(); }));
    connect(IntTrackBar, &QSlider::valueChanged, this, guarded([this] { IntTrackBarChange(); }));
    connect(BiasTrackBar, &QSlider::valueChanged, this, guarded([this] { BiasTrackBarChange(); }));
    connect(GTimer, &QTimer::timeout, this, [this] { GTimer->stop(); });

    connect(OpenGLPanel1, &TOpenGLPanel::OnInit, this, [this] { OpenGLPanel1Init(); });
    connect(OpenGLPanel2, &TOpenGLPanel::OnInit, this, [this] { OpenGLPanel1Init(); });
    connect(OpenGLPanel1, &TOpenGLPanel::OnPaint, this, [this] { OpenGLPanel1Paint(); });
    connect(OpenGLPanel2, &TOpenGLPanel::OnPaint, this, [this] { OpenGLPanel2Paint(); });
    connect(
        OpenGLPanel1, &TOpenGLPanel::MouseDown, this,
        [this](Qt::MouseButton b, int x, int y, Qt::KeyboardModifiers) { OpenGLPanel1MouseDown(b, x, y); });
    connect(OpenGLPanel1, &TOpenGLPanel::MouseMove, this,
            [this](int x, int y, Qt::MouseButtons) { OpenGLPanel1MouseMove(x, y); });
    connect(OpenGLPanel1, &TOpenGLPanel::MouseUp, this,
            [this](Qt::MouseButton b, int x, int y) { OpenGLPanel1MouseUp(b, x, y); });
}

// ---------------------------------------------------------------------------------------------
// Showing and closing

void TGuiderF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        korvi::gui::RunGuarded([this] { FormShow(); });
}

void TGuiderF::closeEvent(QCloseEvent *event)
{
    if (MainF)
        MainF->RepaintRequest = true;
    QWidget::closeEvent(event);
}

void TGuiderF::FormShow()
{
    if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    PalBar->hide();
    Settings &s = CurrentSettings();
    const std::string palettes = s.ProgramDirectory + "Palettes/";
    QToolButton *quick[] = {GrayscaleBtn, BlackbodyBtn, SpectrumBtn1, SpectrumBtn2};
    for (int i = 0; i < 4; ++i) {
        // A missing picture file is reported by the palette reader; the button keeps the
        // palette last loaded, and its click still loads its own palette.
        s.DefaultPalettes[G].LoadFromFile(palettes + "QuickPalette" + std::to_string(i + 1) + ".pal");
        DrawDefaultPaletteBar();
        quick[i]->setIcon(QIcon(PalBar->pixmap().transformed(QTransform().rotate(90))));
    }
    s.DefaultPalettes[G].LoadFromFile(palettes + s.DefaultPaletteFile[G]);
    UpdatePalBar();
    ApplySettingsToControls();
}

// ---------------------------------------------------------------------------------------------
// Settings and controls

void TGuiderF::ApplySettingsToControls()
{
    const Settings &s = CurrentSettings();
    IntTime211->setText(PictureText("#####0.00", s.IntTime[G]));
    Delay211->setText(PictureText("#####0.00", s.Delay[G]));
    NImage211->setValue(s.NImage[G]);
    Ext211->setValue(s.InitExt[G]);
    IncrExt211->setChecked(s.IncrExt211);
    SaveFile->setText(QString::fromStdString(s.SaveFile[G]));
    NClearTC->setValue(s.NClear[G]);
    Save211->setChecked(s.Save211);
    DisplayTC->setChecked(s.DisplayTC);
    SaveFormat->setCurrentIndex(std::clamp(s.SaveFormat[G], 0, 3));
    GuideDetent_->setValue(s.GuideDetent);
    GuideMaxExcursion_->setValue(s.GuideMaxExcursion);
    ReadoutCoolingDisable->setChecked(s.ReadoutCoolingDisable[G]);
    CCDTargetTemp->setValue(s.CCDTargetTemp[G]);
    // The track bars follow the image's levels; their change handlers then set the edits.
    const float gain = GuiderImage.Gain, offset = GuiderImage.DisplayOffset;
    IntTrackBar->setValue(gain > 0.0f ? static_cast<int>(std::log10(gain) * 100.0 * 0.30293850348379275) : 0);
    BiasTrackBar->setValue(offset > 0.0f ? static_cast<int>(std::log10(offset) * 100.0 * 0.20762079175233877)
                                         : 0);
}

void TGuiderF::ReadControlsIntoSettings()
{
    Settings &s = CurrentSettings();
    s.Save211 = Save211->isChecked();
    s.DisplayTC = DisplayTC->isChecked();
    s.SaveFile[G] = SaveFile->text().toStdString();
    s.IntTime[G] = static_cast<float>(ParseNumber(IntTime211->text().toStdString()));
    s.Delay[G] = static_cast<float>(ParseNumber(Delay211->text().toStdString()));
    s.NImage[G] = NImage211->value();
    s.NClear[G] = NClearTC->value();
    s.SaveFormat[G] = std::max(0, SaveFormat->currentIndex());
    s.InitExt[G] = Ext211->value();
    s.IncrExt211 = IncrExt211->isChecked();
    s.NCOL[G] = MAXNCOL->value();
    s.NROW[G] = MAXNROW->value();
    s.XLO[G] = XLO->value();
    s.XHI[G] = XHI->value();
    s.YLO[G] = YLO->value();
    s.YHI[G] = YHI->value();
    s.ReadoutCoolingDisable[G] = ReadoutCoolingDisable->isChecked();
    s.CCDTargetTemp[G] = SpinTextValue(CCDTargetTemp);
}

// ---------------------------------------------------------------------------------------------
// Runs

namespace
{

// The guider's sub-frame and binning as a run would read them: empty when readable, else the
// message naming the field at fault.
std::string GuiderFrameProblem(int xLow, int xHigh, int yLow, int yHigh, int columns, int rows)
{
    const Settings &s = CurrentSettings();
    if (columns < 1)
        return "Maximum CCD columns must be at least 1.";
    if (rows < 1)
        return "Maximum CCD rows must be at least 1.";
    return CheckSubframe({xLow, xHigh, yLow, yHigh, s.XBIN[G], s.YBIN[G], columns, rows});
}

void ShowProblem(const std::string &problem)
{
    korvi::gui::ShowMessage(QString::fromStdString(problem), QStringLiteral("Korvi"), MessageButtons::Ok,
                            MessageIcon::Error);
}

} // namespace

bool TGuiderF::StartRun()
{
    const Settings &s = CurrentSettings();
    const std::string problem =
        GuiderFrameProblem(s.XLO[G], s.XHI[G], s.YLO[G], s.YHI[G], s.NCOL[G], s.NROW[G]);
    if (!problem.empty()) {
        Acquiring = false;
        Continuous = false;
        ShowProblem(problem);
        return false;
    }
    Acquiring = true;
    if (!runner_.Start(TakeGuideSettings(s, korvi::gui::DecimalSeparator()))) {
        // The last run is still ending: nothing new starts.
        Acquiring = false;
        Continuous = false;
        return false;
    }
    return true;
}

void TGuiderF::AcquireExecute()
{
    if (Acquiring || runner_.Running())
        return;
    // The pages' sub-frame is checked before anything enters the settings.
    const std::string problem = GuiderFrameProblem(XLO->value(), XHI->value(), YLO->value(), YHI->value(),
                                                   MAXNCOL->value(), MAXNROW->value());
    if (!problem.empty()) {
        ShowProblem(problem);
        return;
    }
    ReadControlsIntoSettings();
    CurrentSettings().GuideMode = 0;
    SetStatus(2, QStringLiteral("0 s"));
    StartRun();
}

void TGuiderF::ContAcquireExecute()
{
    if (Acquiring || runner_.Running())
        return;
    Settings &s = CurrentSettings();
    Continuous = true;
    s.DisplayTC = DisplayTC->isChecked();
    s.Save211 = Save211->isChecked();
    s.GuideMode = 0;
    StartRun();
}

void TGuiderF::StopExecute()
{
    if (!Acquiring)
        return;
    CurrentSettings().GuideMode = 0;
    SetGuidePicture(false);
    Continuous = false;
    Acquiring = false;
}

void TGuiderF::GuideBtnClick()
{
    if (Acquiring) {
        CurrentSettings().GuideMode = 0;
        SetGuidePicture(false);
        Acquiring = false;
        return;
    }
    if (runner_.Running())
        return;
    CurrentSettings().GuideMode = 1;
    if (StartRun())
        SetGuidePicture(true);
}

void TGuiderF::MetricBtnClick()
{
    if (Acquiring || runner_.Running())
        return;
    CurrentSettings().GuideMode = 2;
    StartRun();
}

void TGuiderF::SetGuidePicture(bool guiding)
{
    guidePicture_ = guiding ? QStringLiteral("guide.bmp") : QStringLiteral("noguide.bmp");
    const QString file = QString::fromStdString(CurrentSettings().ProgramDirectory) +
                         QStringLiteral("Bitmaps/") + guidePicture_;
    const QPixmap picture(file);
    GuideBtn->setIcon(picture.isNull() ? GuideIcon(guiding) : QIcon(picture));
}

void TGuiderF::SetStatus(int panel, const QString &text)
{
    StatusBar[panel]->setText(text);
    StatusBar[panel]->repaint();
}

// ---------------------------------------------------------------------------------------------
// The guide thread's owner

void TGuiderF::ShowGuideStatus(const QString &text)
{
    SetStatus(1, text);
}

void TGuiderF::ShowGuideImageName(const QString &text)
{
    // The thread has cut the name already.
    if (!Continuous)
        SetStatus(1, text);
}

void TGuiderF::ShowGuideFrame(const ImageData &frame, GuideFrameView view)
{
    // A frame of a run replaces the pixels only: the view keeps the palette and the selection the
    // observer chose, a guide frame also the zoom and the display levels, a calibration frame the
    // zoom with levels of its own (the first frame, on an empty view, gets automatic levels and
    // fits the window).
    const bool fitAndShowLevels = view == GuideFrameView::Fit;
    const bool keepView = !GuiderImage.Empty && !fitAndShowLevels;
    const bool keepSelection =
        !GuiderImage.Empty && GuiderImage.Width == frame.Width && GuiderImage.Height == frame.Height;
    const float zoom = GuiderImage.Zoom, gain = GuiderImage.Gain, offset = GuiderImage.DisplayOffset;
    const bool selectionShown = GuiderImage.SelectionShown;
    const std::int32_t x0 = GuiderImage.SelX0, y0 = GuiderImage.SelY0, x1 = GuiderImage.SelX1,
                       y1 = GuiderImage.SelY1;
    PPalette palette;
    const bool keepPalette = !GuiderImage.Empty;
    if (keepPalette)
        palette.Assign(GuiderImage.Palette);
    GuiderImage.Assign(frame);
    if (keepPalette) {
        GuiderImage.Palette.Assign(palette);
    }
    if (keepSelection) {
        GuiderImage.SelectionShown = selectionShown;
        GuiderImage.SelX0 = x0;
        GuiderImage.SelY0 = y0;
        GuiderImage.SelX1 = x1;
        GuiderImage.SelY1 = y1;
    }
    if (keepView) {
        GuiderImage.Zoom = zoom;
        if (view == GuideFrameView::Keep) {
            GuiderImage.Gain = gain;
            GuiderImage.DisplayOffset = offset;
        }
        RefreshDisplay();
        return;
    }
    if (!fitAndShowLevels)
        ComputeDisplayLevels(GuiderImage);
    ZoomFitExecute();
    BiasLevel->setValue(static_cast<int>(GuiderImage.DisplayOffset));
    IntScale->setText(PictureText("###0.00", GuiderImage.Gain));
}

void TGuiderF::ShowGuideNotice(const QString &text)
{
    GuideStatus->setText(text);
    GuideStatus->setToolTip(text);
    GuideStatus->repaint();
}

void TGuiderF::ShowGuideOffset(float dx, float dy)
{
    Correction->setText(QStringLiteral("dx:") + PictureText("#0.0", dx) + QStringLiteral("      dy:") +
                        PictureText("#0.0", dy) + QStringLiteral(" (pixels)"));
    Correction->repaint();
}

void TGuiderF::ShowGuideDirections(const std::array<bool, 4> &directions)
{
    GuideDirectionFlags = directions;
    // The guide thread's slew has replaced any slew of the paddle or the keys: their directions
    // are no longer lit, so the next press starts a slew again.
    CurrentSettings().ManualSlewFlags = {};
    if (TrackF)
        TrackF->UpdatePaddleBitmap();
}

bool TGuiderF::SaveGuideFrame(ImageData &frame, int format)
{
    if (!MainF)
        return false;
    return MainF->SaveImageInFormat(frame.FileName, frame, format);
}

std::string TGuiderF::StoreCalibration(const CalibrationResult &result)
{
    const std::string text = ApplyCalibration(CurrentSettings(), result);
    SetStatus(1, QString::fromStdString(text));
    ShowGuideNotice(QString::fromStdString(text));
    return text;
}

void TGuiderF::StartGuideTimer(int intervalMs)
{
    GTimer->setInterval(intervalMs);
    GTimer->start();
}

void TGuiderF::GuideRunFinished(const QString &failure)
{
    // Whatever ended the run, the buttons show that nothing runs now.
    GuideBtn->setEnabled(true);
    SetGuidePicture(false);
    Acquiring = false;
    Continuous = false;
    if (!failure.isEmpty())
        korvi::gui::ShowMessage(failure, QStringLiteral("Korvi"), MessageButtons::Ok, MessageIcon::Error);
}

// ---------------------------------------------------------------------------------------------
// Key slewing

bool TGuiderF::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyRelease) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & Qt::ControlModifier) {
            const int k = key->key();
            if (k == Qt::Key_Up || k == Qt::Key_Down || k == Qt::Key_Left || k == Qt::Key_Right) {
                korvi::gui::RunGuarded([&] { FormKeyUp(k, key->modifiers()); });
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TGuiderF::FormKeyUp(int key, Qt::KeyboardModifiers modifiers)
{
    if (!(modifiers & Qt::ControlModifier))
        return;
    Settings &s = CurrentSettings();
    std::array<bool, 4> &f = s.ManualSlewFlags;
    auto toggle = [&f](int direction, int opposite) {
        f[direction] = !f[direction];
        if (f[direction])
            f[opposite] = false;
    };
    switch (key) {
    case Qt::Key_Up:
        toggle(GuideNorth, GuideSouth);
        break;
    case Qt::Key_Down:
        toggle(GuideSouth, GuideNorth);
        break;
    case Qt::Key_Right:
        toggle(GuideWest, GuideEast);
        break;
    case Qt::Key_Left:
        toggle(GuideEast, GuideWest);
        break;
    default:
        return;
    }
    if (Acquiring)
        return;
    if (TrackF)
        TrackF->UpdatePaddleBitmap();
    TTrackF::SendManualSlew();
}

void TGuiderF::StatsExecute()
{
    if (GuiderImage.Empty || !StatsForm || !MainF)
        return;
    StatsForm->SetSource(&GuiderImage, this);
    MainF->ShowProgramWindow("TStatsForm");
}

void TGuiderF::SkyModelBtnClick()
{
    EditTarget = EditGuiderImage;
    const ProcessingTarget target = ProcessingTarget::ResolveFor(EditGuiderImage, nullptr);
    if (!target)
        return;
    // The snapshot names the guider image: Undo puts it back there and in no image window. A
    // refused fit leaves the image and the Undo of the work before as they were.
    const int order = PolyOrder->value();
    if (target.Apply({13, "TGuiderF"}, [order](ImageData &image) { FitAndSubtractSkyModel(image, order); }))
        AutoSetContrastBtnClick();
}

ImageData *TGuiderF::ProcessingImage(int editTarget)
{
    return editTarget == EditGuiderImage && !GuiderImage.Empty ? &GuiderImage : nullptr;
}

void TGuiderF::BackUpForUndo(int editTarget)
{
    if (editTarget == EditGuiderImage)
        SettingsBackup() = CurrentSettings();
}

void TGuiderF::ProcessingApplied(int editTarget, const QString &, bool)
{
    if (editTarget == EditGuiderImage)
        RefreshDisplay();
}

bool TGuiderF::CanUndoProcessing(int editTarget) const
{
    return editTarget == EditGuiderImage && MainF && MainF->LastUndo.editTarget == EditGuiderImage &&
           !MainF->UndoImage.Empty;
}

bool TGuiderF::UndoProcessing(int editTarget)
{
    if (!CanUndoProcessing(editTarget))
        return false;
    RestoreOperationChanges(GuiderImage, MainF->UndoImage);
    RefreshDisplay();
    return true;
}
