#include "fourier_window.h"

#include "edit_target.h"
#include "gui_runtime.h"
#include "image_data.h"
#include "image_window.h"
#include "main_window.h"
#include "processing_target.h"

#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

TFourierF *FourierF = nullptr;

namespace
{

QSpinBox *Spin(QWidget *parent, const char *name, int minimum, int maximum, int value)
{
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    return spin;
}

QPushButton *Button(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

// The Fourier window works on the active image window or the current composite layer only.
ProcessingTarget ResolveFourierTarget(ImageData *targetImage)
{
    if (EditTarget != EditActiveImage && EditTarget != EditCompositeLayer)
        return {};
    return ProcessingTarget::Resolve(targetImage);
}

} // namespace

TFourierF::TFourierF(QWidget *parent) : QWidget(parent, Qt::Window | Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("FourierF"));
    setWindowTitle(QStringLiteral("Fourier transform filter"));

    Image = new QLabel(this);
    Image->setObjectName(QStringLiteral("Image"));
    Image->setFixedSize(PictureSize, PictureSize);
    Image->setToolTip(QStringLiteral("Click and drag to select spatial frequency cutoff"));
    Image->installEventFilter(this);
    spectrumPicture_ = QImage(PictureSize, PictureSize, QImage::Format_RGB32);
    spectrumPicture_.fill(Qt::black);
    displayed_ = spectrumPicture_;
    Image->setPixmap(QPixmap::fromImage(displayed_));

    f_cut = Spin(this, "f_cut", 1, 16000, 1);
    HighPass = new QRadioButton(QStringLiteral("Pass all frequencies above cutoff (high pass)"), this);
    HighPass->setObjectName(QStringLiteral("HighPass"));
    HighPass->setChecked(true);
    LowPass = new QRadioButton(QStringLiteral("Pass all frequencies below cutoff (low pass)"), this);
    LowPass->setObjectName(QStringLiteral("LowPass"));
    Apod = Spin(this, "Apod", 1, 100000, 60);
    MaxExp_ = Spin(this, "MaxExp_", 3, 16, 10);
    RedrawBtn = Button(this, "RedrawBtn", QStringLiteral("Redraw power spectrum"));
    PreviewBtn = Button(this, "PreviewBtn", QStringLiteral("Preview"));
    ApplyBtn = Button(this, "ApplyBtn", QStringLiteral("Apply"));
    UndoBtn = Button(this, "UndoBtn", QStringLiteral("Undo"));
    CloseBtn = Button(this, "CloseBtn", QStringLiteral("Close"));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Spatial frequency cutoff:"), f_cut);
    form->addRow(HighPass);
    form->addRow(LowPass);
    form->addRow(QStringLiteral("Apodization width:"), Apod);
    form->addRow(QStringLiteral("Minimum exponent in base 10 log scale for display:"), MaxExp_);
    auto *buttons = new QVBoxLayout;
    for (QPushButton *button : {RedrawBtn, PreviewBtn, ApplyBtn, UndoBtn, CloseBtn})
        buttons->addWidget(button);
    buttons->addStretch(1);
    auto *side = new QVBoxLayout;
    side->addLayout(form);
    side->addLayout(buttons);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(Image);
    layout->addLayout(side);

    using korvi::gui::Guarded;
    connect(f_cut, &QSpinBox::valueChanged, this, Guarded([this](int value) { f_cutChange(value); }));
    connect(RedrawBtn, &QPushButton::clicked, this, Guarded([this](bool) { DrawPowerSpectrum(); }));
    connect(PreviewBtn, &QPushButton::clicked, this, Guarded([this](bool) { PreviewBtnClick(); }));
    connect(ApplyBtn, &QPushButton::clicked, this, Guarded([this](bool) { ApplyBtnClick(); }));
    connect(UndoBtn, &QPushButton::clicked, this, Guarded([this](bool) { UndoBtnClick(); }));
    if (MainF)
        connect(MainF, &TMainF::UndoChanged, this,
                [this] { UndoBtn->setEnabled(CanUndoLastOperation("TFourierF")); });
    UndoBtn->setEnabled(false);
    connect(CloseBtn, &QPushButton::clicked, this, [this] { close(); });
}

TFourierF::~TFourierF()
{
    if (FourierF == this)
        FourierF = nullptr;
    korvi::gui::DetachHandlers(this);
}

double TFourierF::FrequencyScale() const
{
    return static_cast<double>(filter_.Size()) / PictureSize;
}

void TFourierF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    korvi::gui::RunGuarded([this] { FormShow(); });
}

void TFourierF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TFourierF::FormClose()
{
    radius_ = 0;
    f_cut->setValue(1);
    dragging_ = firstMove_ = circleShown_ = false;
    filter_.Clear();
    spectrumFor_.Clear();
    if (MainF)
        MainF->RepaintRequest = true;
}

bool TFourierF::TransformTarget(const ProcessingTarget &target)
{
    spectrumFor_.Clear();
    if (!filter_.Transform(target.Image()))
        return false;
    spectrumFor_.Take(target);
    return true;
}

bool TFourierF::SpectrumBelongsTo(const ProcessingTarget &target) const
{
    // The pixels taken at show (again after an Undo or a Preview), or the last result filtered
    // from them; anything else was changed by another operation and is transformed afresh.
    return !filter_.Empty() && spectrumFor_.Fits(target);
}

void TFourierF::FormShow()
{
    f_cut->setValue(1);
    const ProcessingTarget target = ResolveFourierTarget(TargetImage);
    shown_ = ShownTarget(target);
    if (!target || !TransformTarget(target)) {
        filter_.Clear();
        spectrumPicture_.fill(Qt::black);
        radius_ = 0;
        circleShown_ = false;
        ShowPicture();
        return;
    }
    DrawPowerSpectrum();
}

void TFourierF::DrawPowerSpectrum()
{
    spectrumPicture_.fill(Qt::black);
    if (filter_.Empty()) {
        ShowPicture();
        return;
    }
    const int w = PictureSize, h = PictureSize / 2, n = filter_.Size();
    // Powers are shown against the strongest frequency but the zero one: the zero frequency holds
    // the image's mean level, which outweighs every structure of a sky frame by ten decades and would
    // leave the whole picture black. It is shown white.
    double peak = 0.0;
    for (int b = 0; b < n; ++b)
        for (int a = 0; a < n; ++a)
            if (a != 0 || b != 0)
                peak = std::max(peak, filter_.Power(a, b));
    if (!(peak > 0.0))
        peak = filter_.PeakPower();
    const double q = FrequencyScale(), halfN = n / 2.0;
    const int exponent = MaxExp_->value();
    const double floor = std::pow(10.0, -exponent);
    const auto grey = [&](double column, double row) {
        // Indices are kept inside the N x N spectrum whatever the rounding of odd sizes.
        const int a = std::clamp(static_cast<int>(std::trunc(column)), 0, n - 1);
        const int b = std::clamp(static_cast<int>(std::trunc(row)), 0, n - 1);
        double p = peak > 0.0 ? filter_.Power(a, b) / peak : 0.0;
        if (p == 0.0)
            p = floor;
        const int g = static_cast<int>(std::trunc((std::log10(p) + exponent) * 255.0 / exponent));
        const int v = std::clamp(g, 0, 255);
        return qRgb(v, v, v);
    };
    const auto set = [&](int x, int y, QRgb colour) {
        if (x >= 0 && x < w && y >= 0 && y < w)
            spectrumPicture_.setPixel(x, y, colour);
    };
    for (int i = 0; i < h; ++i)
        for (int j = 0; j < h; ++j) {
            set(i, w - j, grey(halfN - i * q, halfN - j * q));
            set(i + h, h - j, grey(i * q, j * q));
            set(i, h - j, grey(halfN - i * q, j * q));
            set(i + h, w - j, grey(i * q, halfN - j * q));
        }
    ShowPicture();
}

void TFourierF::ShowPicture()
{
    displayed_ = spectrumPicture_;
    if (circleShown_ && radius_ > 0) {
        QPainter painter(&displayed_);
        painter.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
        painter.setPen(QPen(Qt::black, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QPoint(PictureSize / 2, PictureSize / 2), radius_, radius_);
    }
    Image->setPixmap(QPixmap::fromImage(displayed_));
}

void TFourierF::f_cutChange(int value)
{
    Apod->setMaximum(std::max(value, Apod->minimum())); // a larger width is lowered with it
}

bool TFourierF::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Image) {
        const auto *mouse = dynamic_cast<QMouseEvent *>(event);
        if (mouse && mouse->button() == Qt::LeftButton && event->type() == QEvent::MouseButtonPress) {
            const QPoint p = mouse->position().toPoint();
            korvi::gui::RunGuarded([&] { ImageMouseDown(p.x(), p.y()); });
            return true;
        }
        if (mouse && event->type() == QEvent::MouseMove) {
            const QPoint p = mouse->position().toPoint();
            korvi::gui::RunGuarded([&] { ImageMouseMove(p.x(), p.y()); });
            return true;
        }
        if (mouse && mouse->button() == Qt::LeftButton && event->type() == QEvent::MouseButtonRelease) {
            korvi::gui::RunGuarded([&] { ImageMouseUp(); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFourierF::ImageMouseDown(int, int)
{
    Image->setCursor(Qt::CrossCursor);
    if (!firstMove_)
        circleShown_ = false; // the circle drawn last is erased
    dragging_ = true;
    firstMove_ = true;
    ShowPicture();
}

void TFourierF::ImageMouseMove(int x, int y)
{
    if (!dragging_)
        return;
    const int cx = Image->width() / 2, cy = Image->height() / 2;
    radius_ = static_cast<int>(std::trunc(std::sqrt(double(x - cx) * (x - cx) + double(y - cy) * (y - cy))));
    circleShown_ = true;
    firstMove_ = false;
    ShowPicture();
    f_cut->setValue(static_cast<int>(std::trunc(radius_ * FrequencyScale())));
}

void TFourierF::ImageMouseUp()
{
    dragging_ = false;
}

ProcessingTarget TFourierF::ActingTarget()
{
    if (!shown_ && !TargetImage)
        FormShow(); // shown before any image was open: the image there is now
    return CommandTarget(shown_, TargetImage);
}

void TFourierF::ApplyBtnClick()
{
    const ProcessingTarget target = ActingTarget();
    if (!target)
        return;
    // The kept spectrum is filtered only into the image it was taken from; one changed since by
    // another operation is transformed first.
    if (!SpectrumBelongsTo(target)) {
        if (!TransformTarget(target))
            return;
        DrawPowerSpectrum();
    }
    const int cutoff = f_cut->value(), apodization = Apod->value();
    const bool highPass = HighPass->isChecked();
    // Not repeated by Redo: the spectrum belongs to the pixels it was taken from.
    if (target.Apply({100, "TFourierF"},
                     [&](ImageData &image) { filter_.Filter(image, cutoff, highPass, apodization); }))
        spectrumFor_.Follow(target);
}

void TFourierF::PreviewBtnClick()
{
    if (const ProcessingTarget target = ActingTarget())
        PreviewOperation(target, [this] { ApplyBtnClick(); });
}

void TFourierF::UndoBtnClick()
{
    if (CanUndoLastOperation("TFourierF"))
        UndoLastOperation();
}
