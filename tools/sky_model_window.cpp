#include "sky_model_window.h"

#include "color_index_view.h"
#include "edit_target.h"
#include "gui_runtime.h"
#include "levels.h"
#include "main_window.h"
#include "opengl_panel.h"
#include "processing_target.h"
#include "settings.h"
#include "text_format.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QOpenGLFunctions_1_1>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

TSkyModelF *SkyModelF = nullptr;

namespace
{

// The log-scaled track-bar position of a value (1 for 0), as the intensity and bias sliders use.
int TrackPosition(double value, double decades)
{
    if (value <= 0)
        return 1;
    return static_cast<int>(std::trunc(std::log10(value) * 100.0 / decades));
}

} // namespace

TSkyModelF::TSkyModelF(QWidget *parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("SkyModelF"));
    setWindowTitle(QStringLiteral("Subtract model sky"));
    Samples.resize(MaxSkySamples);
    view_ = std::make_unique<ColorIndexView>();

    NPoint = new QSpinBox(this);
    NPoint->setObjectName(QStringLiteral("NPoint"));
    NPoint->setRange(0, MaxSkySamples);
    PolynomialOrder = new QSpinBox(this);
    PolynomialOrder->setObjectName(QStringLiteral("PolynomialOrder"));
    PolynomialOrder->setRange(1, 9);
    PolynomialOrder->setValue(1);
    IntScale = new QLineEdit(QStringLiteral("1.00"), this);
    IntScale->setObjectName(QStringLiteral("IntScale"));
    IntTrackBar = new QSlider(Qt::Horizontal, this);
    IntTrackBar->setObjectName(QStringLiteral("IntTrackBar"));
    IntTrackBar->setRange(0, 100);
    BiasLevel = new QSpinBox(this);
    BiasLevel->setObjectName(QStringLiteral("BiasLevel"));
    BiasLevel->setRange(0, 65535);
    BiasTrackBar = new QSlider(Qt::Horizontal, this);
    BiasTrackBar->setObjectName(QStringLiteral("BiasTrackBar"));
    BiasTrackBar->setRange(0, 100);
    auto button = [this](QPushButton *&b, const char *name, const QString &caption) {
        b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    button(PreviewFitBtn, "PreviewFitBtn", QStringLiteral("Preview fit"));
    button(DeleteLastBtn, "DeleteLastBtn", QStringLiteral("Delete last point"));
    button(ApplyBtn, "ApplyBtn", QStringLiteral("Apply"));
    button(UndoBtn, "UndoBtn", QStringLiteral("Undo"));

    ScrollBox = new QScrollArea(this);
    ScrollBox->setObjectName(QStringLiteral("ScrollBox"));
    ScrollBox->setMinimumSize(400, 300);
    OpenGLPanel = new TOpenGLPanel;
    OpenGLPanel->setObjectName(QStringLiteral("OpenGLPanel"));
    OpenGLPanel->setMouseTracking(true);
    ScrollBox->setWidget(OpenGLPanel);
    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Number of points: "), NPoint);
    form->addRow(QStringLiteral("Polynomial order: "), PolynomialOrder);
    auto *intensity = new QHBoxLayout;
    intensity->addWidget(IntScale);
    intensity->addWidget(IntTrackBar, 1);
    form->addRow(QStringLiteral("Intensity scaling: "), intensity);
    auto *bias = new QHBoxLayout;
    bias->addWidget(BiasLevel);
    bias->addWidget(BiasTrackBar, 1);
    form->addRow(QStringLiteral("Intensity bias: "), bias);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {PreviewFitBtn, DeleteLastBtn, ApplyBtn, UndoBtn})
        buttons->addWidget(b);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ScrollBox, 1);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(StatusBar);

    using korvi::gui::Guarded;
    connect(NPoint, &QSpinBox::valueChanged, this, Guarded([this](int n) {
                SampleCount = std::min(n, MaxSkySamples);
                UpdatePreviewEnabled();
            }));
    connect(PolynomialOrder, &QSpinBox::valueChanged, this, Guarded([this](int n) {
                Order = n;
                UpdatePreviewEnabled();
            }));
    connect(DeleteLastBtn, &QPushButton::clicked, this, Guarded([this] { DeleteLastBtnClick(); }));
    connect(PreviewFitBtn, &QPushButton::clicked, this, Guarded([this] { PreviewFitBtnClick(); }));
    connect(ApplyBtn, &QPushButton::clicked, this, Guarded([this] { ApplyBtnClick(); }));
    connect(UndoBtn, &QPushButton::clicked, this, Guarded([this] { UndoBtnClick(); }));
    if (MainF)
        connect(MainF, &TMainF::UndoChanged, this,
                [this] { UndoBtn->setEnabled(CanUndoLastOperation("TSkyModelF")); });
    UndoBtn->setEnabled(false);
    connect(IntScale, &QLineEdit::textEdited, this, Guarded([this] { IntScaleChange(); }));
    connect(IntTrackBar, &QSlider::valueChanged, this, Guarded([this](int s) { IntTrackBarChange(s); }));
    connect(BiasLevel, &QSpinBox::valueChanged, this, Guarded([this] { BiasLevelChange(); }));
    connect(BiasTrackBar, &QSlider::valueChanged, this, Guarded([this](int s) { BiasTrackBarChange(s); }));
    connect(OpenGLPanel, &TOpenGLPanel::OnPaint, this, [this] { OpenGLPanelPaint(); });
    connect(OpenGLPanel, &TOpenGLPanel::MouseUp, this, Guarded([this](Qt::MouseButton b, int x, int y) {
                if (b == Qt::LeftButton)
                    PanelClick(x, y);
            }));
    connect(OpenGLPanel, &TOpenGLPanel::MouseMove, this,
            Guarded([this](int x, int y, Qt::MouseButtons) { PanelMove(x, y); }));
}

TSkyModelF::~TSkyModelF()
{
    if (SkyModelF == this)
        SkyModelF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TSkyModelF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    korvi::gui::RunGuarded([this] { FormShow(); });
}

void TSkyModelF::closeEvent(QCloseEvent *event)
{
    korvi::gui::RunGuarded([this] { FormClose(); });
    QWidget::closeEvent(event);
}

bool TSkyModelF::CopyTarget()
{
    // The image shown, found again: the samples were picked on it, and on no other.
    const ProcessingTarget target = shown_.Find();
    if (!target)
        return false;
    Copy.Assign(target.Image());
    return !Copy.Empty;
}

bool TSkyModelF::FitBelongsTo(const ProcessingTarget &target) const
{
    return Fit.Valid() && fitFor_.Fits(target);
}

ProcessingTarget TSkyModelF::FittedTarget()
{
    const ProcessingTarget target = shown_.Find();
    if (!target) {
        korvi::gui::ShowMessage(QStringLiteral("The image the sky points were taken on is no longer open; "
                                               "nothing was subtracted."),
                                QStringLiteral("Korvi"));
        return {};
    }
    if (!FitBelongsTo(target)) {
        korvi::gui::ShowMessage(QStringLiteral("The image has changed since the sky model was fitted; "
                                               "preview a new fit first."),
                                QStringLiteral("Korvi"));
        ApplyBtn->setEnabled(false);
        return {};
    }
    return target;
}

void TSkyModelF::FormShow()
{
    SampleCount = 0;
    {
        const QSignalBlocker block(NPoint);
        NPoint->setValue(0);
    }
    {
        const QSignalBlocker block(PolynomialOrder);
        PolynomialOrder->setValue(Order);
    }
    PreviewFitBtn->setEnabled(false);
    ApplyBtn->setEnabled(false);
    // A fit made before belongs to the image shown before.
    Fit = {};
    fitFor_.Clear();
    shown_ = ShownTarget(ProcessingTarget::Resolve());
    // The window works on its own copy; the undo snapshot is taken by Apply, when the target
    // actually changes, so opening the window never disturbs the main window's Undo.
    if (!CopyTarget()) {
        Copy.Free();
        RebuildView();
        return;
    }
    const QSize client = ScrollBox->viewport()->size();
    const double aspect = static_cast<double>(Copy.Height) / Copy.Width;
    Zoom = static_cast<float>(aspect > static_cast<double>(client.height()) / client.width()
                                  ? static_cast<double>(client.height()) / Copy.Height
                                  : static_cast<double>(client.width()) / Copy.Width);
    // The view opens on an intensity that shows the copy, when the observer asks for automatic
    // levels or when the target's own would show it in one flat shade: the brightest 1 % of the
    // centre reach full scale. The bias stays the target's: samples are taken less the bias.
    if (CurrentSettings().ICAutoSet || LevelsHideStructure(Copy)) {
        const float bias = Copy.DisplayOffset, sky = Copy.SkyLevel;
        ComputeDisplayLevels(Copy);
        const double high = Copy.DisplayOffset + 65535.0 / Copy.Gain;
        Copy.DisplayOffset = bias;
        Copy.SkyLevel = sky;
        Copy.Gain = high > bias ? static_cast<float>(65535.0 / (high - bias)) : 1.0f;
    }
    {
        const QSignalBlocker a(IntScale), b(BiasLevel), c(IntTrackBar), d(BiasTrackBar);
        IntScale->setText(
            QString::fromStdString(FormatFloat("#####0.00", Copy.Gain, korvi::gui::DecimalSeparator())));
        BiasLevel->setValue(static_cast<int>(std::trunc(Copy.DisplayOffset)));
        IntTrackBar->setValue(TrackPosition(Copy.Gain, 3.301));
        BiasTrackBar->setValue(TrackPosition(std::trunc(Copy.DisplayOffset), 4.8164733));
    }
    RebuildView();
}

void TSkyModelF::FormClose()
{
    Copy.Free();
    shown_.Clear();
    if (MainF)
        MainF->RepaintRequest = true;
}

void TSkyModelF::UpdatePreviewEnabled()
{
    PreviewFitBtn->setEnabled(SampleCount >= 2 * Order + 1);
}

bool TSkyModelF::ImagePoint(int px, int py, int &x, int &y) const
{
    const int pw = OpenGLPanel->width(), ph = OpenGLPanel->height();
    if (Copy.Empty || pw <= 0 || ph <= 0)
        return false;
    x = static_cast<int>(std::int64_t{px} * Copy.Width / pw);
    y = static_cast<int>(std::int64_t{Copy.Height} * (ph - py) / ph);
    return x >= 0 && y >= 0 && x < Copy.Width && y < Copy.Height;
}

void TSkyModelF::PanelClick(int px, int py)
{
    int x = 0, y = 0;
    if (!ImagePoint(px, py, x, y))
        return;
    if (SampleCount >= MaxSkySamples) {
        StatusBar->showMessage(QStringLiteral("The sample table is full."));
        return;
    }
    int lowest = 65535;
    for (int row = std::max(y - 1, 0); row <= y; ++row)
        for (int col = std::max(x - 1, 0); col <= x; ++col)
            lowest = std::min<int>(lowest, Copy.FrameRow(0, row)[col]);
    const int value = static_cast<int>(std::trunc(lowest - static_cast<double>(Copy.DisplayOffset)));
    Samples[SampleCount++] = {x, y, value};
    const QSignalBlocker block(NPoint);
    NPoint->setValue(SampleCount);
    UpdatePreviewEnabled();
}

void TSkyModelF::PanelMove(int px, int py)
{
    const int pw = std::max(OpenGLPanel->width(), 1), ph = std::max(OpenGLPanel->height(), 1);
    if (Copy.Empty)
        return;
    const int x = static_cast<int>(std::int64_t{px} * Copy.Width / pw);
    const int y = static_cast<int>(std::int64_t{Copy.Height} * (ph - py) / ph);
    QString text = QStringLiteral("X=%1, Y=%2").arg(x).arg(y);
    if (x >= 0 && y >= 0 && x < Copy.Width && y < Copy.Height)
        text += QStringLiteral(", Value: %1").arg(Copy.FrameRow(0, y)[x]);
    else
        text += QStringLiteral(", Excluded pixel.");
    StatusBar->showMessage(text);
}

void TSkyModelF::DeleteLastBtnClick()
{
    if (SampleCount > 0)
        --SampleCount;
    const QSignalBlocker block(NPoint);
    NPoint->setValue(SampleCount);
    UpdatePreviewEnabled();
}

void TSkyModelF::PreviewFitBtnClick()
{
    const ProcessingTarget target = shown_.Find();
    fitFor_.Clear();
    if (!target || !CopyTarget()) {
        Fit = {};
        korvi::gui::ShowMessage(QStringLiteral("The image the sky points were taken on is no longer open."),
                                QStringLiteral("Korvi"));
        return;
    }
    const std::vector<SkySample> used(Samples.begin(), Samples.begin() + SampleCount);
    if (!SolveSkyModel(used, Fit, Order)) {
        Fit = {};
        korvi::gui::ShowMessage(QStringLiteral("The points do not determine a sky of this order: add points "
                                               "spread across the image, or lower the order."),
                                QStringLiteral("Korvi"));
        RebuildView();
        return;
    }
    fitFor_.Take(target);
    SubtractSkyModel(Copy, Fit);
    RebuildView();
    ApplyBtn->setEnabled(true);
}

void TSkyModelF::ApplyBtnClick()
{
    // The previewed fit is applied as it was made, whatever the order spin shows since.
    if (!Fit.Valid())
        return;
    const ProcessingTarget target = FittedTarget();
    if (!target)
        return;
    // A sky model subtraction; Redo is not offered: the fit belongs to the pixels it was made on.
    const SkyModel fit = Fit;
    target.Apply({13, "TSkyModelF"}, [&fit](ImageData &image) { SubtractSkyModel(image, fit); });
    RebuildView();
}

void TSkyModelF::UndoBtnClick()
{
    // Only this window's own subtraction, on the image it changed.
    if (CanUndoLastOperation("TSkyModelF"))
        UndoLastOperation();
    CopyTarget();
    RebuildView();
}

void TSkyModelF::IntScaleChange()
{
    Copy.Gain = static_cast<float>(ParseNumber(IntScale->text().toStdString()));
    if (IntScale->hasFocus()) {
        const QSignalBlocker block(IntTrackBar);
        IntTrackBar->setValue(TrackPosition(Copy.Gain, 3.301));
    }
    RebuildView();
}

void TSkyModelF::IntTrackBarChange(int position)
{
    if (IntTrackBar->hasFocus()) {
        const double value = std::pow(10.0, position * 0.01 * 3.301);
        IntScale->setText(
            QString::fromStdString(FormatFloat("###0.00", value, korvi::gui::DecimalSeparator())));
        Copy.Gain = static_cast<float>(value);
    }
    RebuildView();
}

void TSkyModelF::BiasLevelChange()
{
    Copy.DisplayOffset = static_cast<float>(BiasLevel->value());
    if (BiasLevel->hasFocus()) {
        const QSignalBlocker block(BiasTrackBar);
        BiasTrackBar->setValue(TrackPosition(BiasLevel->value(), 4.8164733));
    }
    RebuildView();
}

void TSkyModelF::BiasTrackBarChange(int position)
{
    if (BiasTrackBar->hasFocus())
        BiasLevel->setValue(static_cast<int>(std::trunc(std::pow(10.0, position * 0.01 * 4.8164733))));
    RebuildView();
}

void TSkyModelF::RebuildView()
{
    if (Copy.Empty) {
        OpenGLPanel->resize(1, 1);
        OpenGLPanel->update();
        return;
    }
    view_->SetPaletteMaps(Copy.Palette.FloatTable[0].data(), Copy.Palette.FloatTable[1].data(),
                          Copy.Palette.FloatTable[2].data(), Copy.DisplayOffset, Copy.Gain);
    view_->SetPixels(Copy.FramePixels(0), Copy.Width, Copy.Height);
    const int w = std::max(1, static_cast<int>(Copy.Width * Zoom)),
              h = std::max(1, static_cast<int>(Copy.Height * Zoom));
    if (w != viewWidth_ || h != viewHeight_) {
        viewWidth_ = w;
        viewHeight_ = h;
        OpenGLPanel->resize(w, h);
    }
    OpenGLPanel->update();
}

void TSkyModelF::OpenGLPanelPaint()
{
    QOpenGLFunctions_1_1 *gl = OpenGLPanel->GL();
    const int w = OpenGLPanel->width(), h = OpenGLPanel->height();
    const double dpr = OpenGLPanel->devicePixelRatioF();
    gl->glViewport(0, 0, static_cast<int>(w * dpr), static_cast<int>(h * dpr));
    gl->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadIdentity();
    gl->glOrtho(0, w, 0, h, -1, 1);
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glLoadIdentity();
    if (!Copy.Empty) {
        gl->glRasterPos2i(0, 0);
        gl->glPixelZoom(static_cast<float>(Zoom * dpr), static_cast<float>(Zoom * dpr));
        view_->PixelsChanged();
        view_->Draw(gl);
    }
    gl->glFlush();
}
