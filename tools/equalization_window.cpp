#include "equalization_window.h"

#include "edit_target.h"
#include "gui_runtime.h"
#include "histogram_picture.h"
#include "image_data.h"
#include "levels.h"
#include "main_window.h"
#include "processing/filters.h"
#include "processing_target.h"

#include <QAction>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>

TEqualizeF *EqualizeF = nullptr;

namespace
{

QLabel *Picture(QWidget *parent, const char *name, int width, int height)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFixedSize(width, height);
    return label;
}

QPushButton *Button(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

// The equalization window's histogram picture: values minimum .. maximum - 1, heights from
// height(v); nothing when the histogram spans a single value.
void DrawValueHistogram(QImage &picture, int minimum, int maximum, const std::function<int(int)> &height)
{
    HistogramDrawing drawing;
    const int n = maximum - minimum;
    if (n >= 1) {
        drawing.origin = minimum;
        drawing.first = minimum;
        drawing.last = maximum - 1;
        drawing.xScale = static_cast<double>(picture.width()) / n;
        drawing.lines = n > picture.width();
    }
    DrawHistogram(picture, Qt::white, drawing, height);
}

} // namespace

TEqualizeF::TEqualizeF(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::Dialog | Qt::WindowStaysOnTopHint), histogram_(65536),
      equalizationTable_(65536), modelTable_(65536)
{
    setObjectName(QStringLiteral("EqualizeF"));
    setWindowTitle(QStringLiteral("Custom intensity equalization"));
    // Until a curve is walked the model table is the identity.
    for (int v = 0; v < 65536; ++v)
        modelTable_[v] = static_cast<float>(v);

    HImage = Picture(this, "HImage", 261, 201);
    MHImage = Picture(this, "MHImage", 260, 201);
    BImage = Picture(this, "BImage", CurveWidth, CurveHeight);
    BImage->setMouseTracking(false);
    BImage->installEventFilter(this);
    histogramPicture_ = QImage(261, 201, QImage::Format_RGB32);
    equalizedPicture_ = QImage(260, 201, QImage::Format_RGB32);
    curvePicture_ = QImage(CurveWidth, CurveHeight, QImage::Format_RGB32);
    curveLayer_ = curvePicture_;
    histogramLayer_ = curvePicture_;
    for (QImage *picture : {&histogramPicture_, &equalizedPicture_, &curvePicture_, &histogramLayer_})
        picture->fill(Qt::white);
    curveLayer_.fill(Qt::black);
    HImage->setPixmap(QPixmap::fromImage(histogramPicture_));
    MHImage->setPixmap(QPixmap::fromImage(equalizedPicture_));

    UseImageHistogram = new QRadioButton(QStringLiteral("Use image based histogram"), this);
    UseImageHistogram->setObjectName(QStringLiteral("UseImageHistogram"));
    UseModelHistogram = new QRadioButton(QStringLiteral("Use model histogram"), this);
    UseModelHistogram->setObjectName(QStringLiteral("UseModelHistogram"));
    UseModelHistogram->setChecked(true);
    ShowModifiedBtn = Button(this, "ShowModifiedBtn", QStringLiteral("Show modified histogram"));
    PreviewBtn = Button(this, "PreviewBtn", QStringLiteral("Preview"));
    ApplyBtn = Button(this, "ApplyBtn", QStringLiteral("Apply"));
    UndoBtn = Button(this, "UndoBtn", QStringLiteral("Undo"));
    CloseBtn = Button(this, "CloseBtn", QStringLiteral("Close"));

    CurveMenu = new QMenu(this);
    CurveMenu->setObjectName(QStringLiteral("CurveMenu"));
    Symmetrize1 = CurveMenu->addAction(QStringLiteral("&Symmetrize"));
    Symmetrize1->setObjectName(QStringLiteral("Symmetrize1"));
    DeletePoint1 = CurveMenu->addAction(QStringLiteral("&Delete ppint"));
    DeletePoint1->setObjectName(QStringLiteral("DeletePoint1"));

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Original image histogram"), this), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Equalized image histogram"), this), 0, 1);
    grid->addWidget(HImage, 1, 0);
    grid->addWidget(MHImage, 1, 1);
    grid->addWidget(
        new QLabel(QStringLiteral("Original image accumulated histogram (model histogram superimposed)"),
                   this),
        2, 0, 1, 2);
    grid->addWidget(BImage, 3, 0, 1, 2);
    auto *choices = new QHBoxLayout;
    choices->addWidget(UseImageHistogram);
    choices->addWidget(UseModelHistogram);
    choices->addStretch(1);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *button : {ShowModifiedBtn, PreviewBtn, ApplyBtn, UndoBtn, CloseBtn})
        buttons->addWidget(button);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(choices);
    layout->addLayout(buttons);

    using korvi::gui::Guarded;
    connect(ShowModifiedBtn, &QPushButton::clicked, this, Guarded([this](bool) { ShowModifiedBtnClick(); }));
    connect(PreviewBtn, &QPushButton::clicked, this, Guarded([this](bool) { PreviewBtnClick(); }));
    connect(ApplyBtn, &QPushButton::clicked, this, Guarded([this](bool) { ApplyBtnClick(); }));
    connect(UndoBtn, &QPushButton::clicked, this, Guarded([this](bool) { UndoBtnClick(); }));
    if (MainF)
        connect(MainF, &TMainF::UndoChanged, this,
                [this] { UndoBtn->setEnabled(CanUndoLastOperation("TEqualizeF")); });
    UndoBtn->setEnabled(false);
    connect(CloseBtn, &QPushButton::clicked, this, [this] { close(); });
    connect(Symmetrize1, &QAction::triggered, this, Guarded([this](bool) { SymmetrizeClick(); }));
    connect(DeletePoint1, &QAction::triggered, this, Guarded([this](bool) { DeletePointClick(); }));
    DrawCurve();
}

TEqualizeF::~TEqualizeF()
{
    if (EqualizeF == this)
        EqualizeF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TEqualizeF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (MainF)
        move(MainF->geometry().center() - rect().center());
    korvi::gui::RunGuarded([this] { FormShow(); });
}

void TEqualizeF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TEqualizeF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}

void TEqualizeF::FormShow()
{
    curve_.Reset(CurveWidth, CurveHeight);
    const ProcessingTarget target = ProcessingTarget::Resolve(TargetImage);
    shown_ = ShownTarget(target);
    if (!target) {
        tableFor_.Clear();
        DrawCurve();
        return;
    }
    ReadHistograms(target);
}

ProcessingTarget TEqualizeF::ActingTarget()
{
    if (!shown_ && !TargetImage)
        FormShow(); // shown before any image was open: the image there is now
    return CommandTarget(shown_, TargetImage);
}

void TEqualizeF::ReadHistograms(const ProcessingTarget &target)
{
    // The histograms and the image-based table belong to this target's pixels as they are now.
    const ImageData &image = target.Image();
    float mean = 0.0f, median = 0.0f, deviation = 0.0f;
    ComputeRegionStatistics(image.Rows, histogram_.data(), 0, 0, image.Width - 1, image.Height - 1, mean,
                            median, deviation, minimum_, maximum_, mode_, 65535);
    BuildEqualizationTable(histogram_.data(), equalizationTable_.data());
    tableFor_.Take(target);

    const double top = mode_ >= 0 && mode_ < 65536 ? histogram_[mode_] : 0.0;
    const double scale = histogramPicture_.height() / (top + 1.0);
    DrawValueHistogram(histogramPicture_, minimum_, maximum_,
                       [&](int v) { return static_cast<int>(std::trunc(scale * histogram_[v])); });
    HImage->setPixmap(QPixmap::fromImage(histogramPicture_));

    // The accumulated histogram, scaled by its value at the maximum.
    const double total = maximum_ >= 0 && maximum_ < 65536 ? equalizationTable_[maximum_] : 0.0;
    const double accumulatedScale = total > 0.0 ? histogramLayer_.height() / total : 0.0;
    DrawValueHistogram(histogramLayer_, minimum_, maximum_, [&](int v) {
        return equalizationTable_[v] > 0.0f
                   ? static_cast<int>(std::trunc(accumulatedScale * equalizationTable_[v]))
                   : 0;
    });
    DrawCurve();
}

const float *TEqualizeF::TableFor(const ProcessingTarget &target)
{
    if (UseModelHistogram->isChecked()) {
        BuildModelTable(curve_, modelTable_.data());
        return modelTable_.data();
    }
    // The image-based table is the accumulated histogram of one image: for any other image, or
    // this one changed since, it is built again from the pixels it will map.
    if (!tableFor_.Fits(target))
        ReadHistograms(target);
    return equalizationTable_.data();
}

void TEqualizeF::DrawCurve()
{
    curveLayer_.fill(Qt::black);
    {
        QPainter painter(&curveLayer_);
        painter.setRenderHint(QPainter::Antialiasing, false);
        const auto at = [&](int i) { return QPointF(curve_.Point(i).x, curve_.Point(i).y); };
        QPainterPath path(at(0));
        for (int s = 0; s < curve_.SegmentCount(); ++s)
            path.cubicTo(at(3 * s + 1), at(3 * s + 2), at(3 * s + 3));
        painter.setPen(QPen(QColor::fromRgb(0x008000), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.setPen(QPen(Qt::white, 1));
        for (int s = 0; s < curve_.SegmentCount(); ++s) {
            const int a = 3 * s;
            painter.drawLine(at(a), at(a + 1));
            painter.drawLine(at(a + 3), at(a + 2));
            if (s == 0) {
                painter.fillRect(QRect(curve_.Point(0).x - 3, curve_.Point(0).y - 3, 7, 7), Qt::blue);
                for (const int h : {1, 2})
                    painter.drawEllipse(at(a + h), 2, 2);
            }
            painter.drawRect(QRect(curve_.Point(a + 3).x - 3, curve_.Point(a + 3).y - 3, 6, 6));
        }
    }
    curvePicture_ = curveLayer_;
    {
        QPainter painter(&curvePicture_);
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.drawImage(0, 0, histogramLayer_);
    }
    BImage->setPixmap(QPixmap::fromImage(curvePicture_));
}

void TEqualizeF::ShowEqualizedHistogram(const ImageData &image, const float *table)
{
    UIntVector equalized(65536);
    const HistogramSummary summary = EqualizedHistogram(image, table, equalized.data());
    const double scale = equalizedPicture_.height() / (summary.TopCount + 1.0);
    DrawValueHistogram(equalizedPicture_, summary.Minimum, summary.Maximum,
                       [&](int v) { return static_cast<int>(std::trunc(scale * equalized[v])); });
    MHImage->setPixmap(QPixmap::fromImage(equalizedPicture_));
}

void TEqualizeF::ShowModifiedBtnClick()
{
    const ProcessingTarget target = ActingTarget();
    if (!target)
        return;
    ShowEqualizedHistogram(target.Image(), TableFor(target));
}

void TEqualizeF::ApplyBtnClick()
{
    // The image the window shows (or the batch image), found again at every click.
    const ProcessingTarget target = ActingTarget();
    if (!target)
        return;
    const float *table = TableFor(target);
    ShowEqualizedHistogram(target.Image(), table);
    // Redo is not offered: the table belongs to the pixels it was built for.
    ProcessingTarget::RefreshOptions options;
    options.autoLevels = false;
    options.undoCaption = QStringLiteral("&Undo equalization");
    target.Apply(
        {3, "TEqualizeF"}, [table](ImageData &image) { ApplyHistogramEqualization(image, table); }, options);
}

void TEqualizeF::PreviewBtnClick()
{
    if (const ProcessingTarget target = ActingTarget())
        PreviewOperation(target, [this] { ApplyBtnClick(); });
}

void TEqualizeF::UndoBtnClick()
{
    if (CanUndoLastOperation("TEqualizeF"))
        UndoLastOperation();
}

bool TEqualizeF::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != BImage)
        return QWidget::eventFilter(watched, event);
    const auto *mouse = dynamic_cast<QMouseEvent *>(event);
    if (!mouse)
        return QWidget::eventFilter(watched, event);
    const QPoint p = mouse->position().toPoint();
    korvi::gui::RunGuarded([&] {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            BImageMouseDown(mouse->button(), p.x(), p.y(), mouse->globalPosition().toPoint());
            break;
        case QEvent::MouseMove:
            BImageMouseMove(p.x(), p.y()); // moves only during a drag
            break;
        case QEvent::MouseButtonRelease:
            BImageMouseUp();
            break;
        case QEvent::MouseButtonDblClick:
            BImageDblClick();
            break;
        default:
            break;
        }
    });
    return true;
}

void TEqualizeF::BImageMouseDown(Qt::MouseButton button, int x, int y, const QPoint &globalPosition)
{
    if (button != Qt::LeftButton && button != Qt::RightButton)
        return;
    curve_.MouseDown(button == Qt::LeftButton, x, y);
    if (button == Qt::RightButton && curve_.IsAnchor(curve_.Selected())) {
        Symmetrize1->setText(curve_.Symmetric(curve_.Selected()) ? QStringLiteral("Asymmetric")
                                                                 : QStringLiteral("Symmetric"));
        CurveMenu->popup(globalPosition);
    }
}

void TEqualizeF::BImageMouseMove(int x, int y)
{
    if (!curve_.Dragging())
        return;
    curve_.Drag(x, y);
    DrawCurve();
}

void TEqualizeF::BImageMouseUp()
{
    curve_.MouseUp();
}

void TEqualizeF::BImageDblClick()
{
    if (curve_.Split())
        DrawCurve();
}

void TEqualizeF::SymmetrizeClick()
{
    if (curve_.ToggleSymmetric())
        DrawCurve();
}

void TEqualizeF::DeletePointClick()
{
    if (curve_.DeleteSelected())
        DrawCurve();
}
