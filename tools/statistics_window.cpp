#include "statistics_window.h"

#include "gui_runtime.h"
#include "histogram_picture.h"
#include "image_data.h"
#include "main_window.h"
#include "settings.h"
#include "text_format.h"

#include <QCheckBox>
#include <QEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

TStatsForm *StatsForm = nullptr;

namespace
{

constexpr int PictureWidth = 400;
constexpr int PictureHeight = 200;

QSpinBox *Spin(QWidget *parent, const char *name, int minimum, int maximum)
{
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(minimum, maximum);
    return spin;
}

QPushButton *Button(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QLabel *Label(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QString PictureText(const char *picture, double value)
{
    return QString::fromStdString(FormatFloat(picture, value, korvi::gui::DecimalSeparator()));
}

} // namespace

TStatsForm::TStatsForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::Dialog | Qt::WindowStaysOnTopHint), histogram_(65536)
{
    setObjectName(QStringLiteral("StatsForm"));
    setWindowTitle(QStringLiteral("Image statistics"));

    auto *area = new QGroupBox(QStringLiteral("Sampled image area"), this);
    XLo = Spin(area, "XLo", 1, 16000);
    YLo = Spin(area, "YLo", 1, 16000);
    XHi = Spin(area, "XHi", 1, 16000);
    YHi = Spin(area, "YHi", 1, 16000);
    FullImageBtn = Button(area, "FullImageBtn", QStringLiteral("Full image"));
    SelectionBtn = Button(area, "SelectionBtn", QStringLiteral("Selection"));
    RecomputeBtn = Button(area, "RecomputeBtn", QStringLiteral("Recompute"));
    auto *areaForm = new QFormLayout;
    areaForm->addRow(QStringLiteral("Lower X pixel:"), XLo);
    areaForm->addRow(QStringLiteral("Lower Y pixel:"), YLo);
    areaForm->addRow(QStringLiteral("Upper X pixel:"), XHi);
    areaForm->addRow(QStringLiteral("Upper Y pixel:"), YHi);
    auto *areaButtons = new QHBoxLayout;
    areaButtons->addWidget(FullImageBtn);
    areaButtons->addWidget(SelectionBtn);
    areaButtons->addWidget(RecomputeBtn);
    auto *areaLayout = new QVBoxLayout(area);
    areaLayout->addLayout(areaForm);
    areaLayout->addLayout(areaButtons);

    auto *results = new QWidget(this);
    AverageLabel = Label(results, "AverageLabel", QStringLiteral("Average value:"));
    MaximumLabel = Label(results, "MaximumLabel", QStringLiteral("Maximum value:"));
    MinimumLabel = Label(results, "MinimumLabel", QStringLiteral("Minimum value:"));
    MedianLabel = Label(results, "MedianLabel", QStringLiteral("Median value:"));
    MaximalLabel = Label(results, "MaximalLabel", QStringLiteral("Maximal value:"));
    DeviationLabel = Label(results, "DeviationLabel", QStringLiteral("Standard deviation:"));
    auto *resultsLayout = new QVBoxLayout(results);
    for (QLabel *label :
         {AverageLabel, MaximumLabel, MinimumLabel, MedianLabel, MaximalLabel, DeviationLabel})
        resultsLayout->addWidget(label);

    Image = new QLabel(this);
    Image->setObjectName(QStringLiteral("Image"));
    Image->setFixedSize(PictureWidth, PictureHeight);
    Image->setMouseTracking(true);
    Image->installEventFilter(this);
    picture_ = QImage(PictureWidth, PictureHeight, QImage::Format_RGB32);
    picture_.fill(QColor::fromRgb(12632256));
    Image->setPixmap(QPixmap::fromImage(picture_));
    ScrollBar = new QScrollBar(Qt::Vertical, this);
    ScrollBar->setObjectName(QStringLiteral("ScrollBar"));
    ScrollBar->setRange(0, 100);
    ScrollBar->setValue(60);
    ScrollBar->setFixedHeight(PictureHeight);

    auto *settings = new QGroupBox(QStringLiteral("Histogram Settings"), this);
    HistMin = Spin(settings, "HistMin", 0, 65535);
    HistMax = Spin(settings, "HistMax", 0, 65535);
    CursorPos = Spin(settings, "CursorPos", 0, 65535);
    LogScale = new QCheckBox(QStringLiteral("Logarithmic scale"), settings);
    LogScale->setObjectName(QStringLiteral("LogScale"));
    auto *settingsForm = new QFormLayout(settings);
    settingsForm->addRow(QStringLiteral("Lower limit:"), HistMin);
    settingsForm->addRow(QStringLiteral("Upper limit:"), HistMax);
    settingsForm->addRow(QStringLiteral("Cursor at:"), CursorPos);
    settingsForm->addRow(LogScale);

    RedrawBtn = Button(this, "RedrawBtn", QStringLiteral("Redraw"));
    SaveBtn = Button(this, "SaveBtn", QStringLiteral("Save to file..."));
    OKBtn = Button(this, "OKBtn", QStringLiteral("OK"));
    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    StatusPanel = Label(StatusBar, "StatusPanel0", QString());
    StatusBar->addWidget(StatusPanel, 1);

    auto *top = new QHBoxLayout;
    top->addWidget(area);
    top->addWidget(results);
    auto *pictureRow = new QHBoxLayout;
    pictureRow->addWidget(Image);
    pictureRow->addWidget(ScrollBar);
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(RedrawBtn);
    buttons->addWidget(SaveBtn);
    buttons->addWidget(OKBtn);
    buttons->addStretch(1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(settings);
    bottom->addLayout(buttons);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(pictureRow);
    layout->addLayout(bottom);
    layout->addWidget(StatusBar);

    using korvi::gui::Guarded;
    connect(RecomputeBtn, &QPushButton::clicked, this, Guarded([this](bool) { RecomputeBtnClick(); }));
    connect(FullImageBtn, &QPushButton::clicked, this, Guarded([this](bool) { FullImageBtnClick(); }));
    connect(SelectionBtn, &QPushButton::clicked, this, Guarded([this](bool) { SelectionBtnClick(); }));
    connect(RedrawBtn, &QPushButton::clicked, this, Guarded([this](bool) { DrawHistogram(); }));
    connect(ScrollBar, &QScrollBar::valueChanged, this, Guarded([this](int) { DrawHistogram(); }));
    connect(LogScale, &QCheckBox::clicked, this, Guarded([this](bool) { LogScaleClick(); }));
    connect(CursorPos, &QSpinBox::valueChanged, this, Guarded([this](int value) { CursorPosChange(value); }));
    connect(SaveBtn, &QPushButton::clicked, this, Guarded([this](bool) { SaveBtnClick(); }));
    connect(OKBtn, &QPushButton::clicked, this, [this] { close(); });

    // The imaging camera's capture area, in the spins' numbering.
    const Settings &s = CurrentSettings();
    XLo->setValue(s.XLO[0] + 1);
    XHi->setValue(s.XHI[0] + 1);
    YLo->setValue(s.YLO[0] + 1);
    YHi->setValue(s.YHI[0] + 1);
}

TStatsForm::~TStatsForm()
{
    if (StatsForm == this)
        StatsForm = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TStatsForm::SetSource(const ImageData *image, QObject *holder)
{
    source_ = image;
    holder_ = holder;
    hasHolder_ = holder != nullptr;
}

const ImageData *TStatsForm::SourceImage() const
{
    if (hasHolder_ && !holder_)
        return nullptr; // the window that held the image has closed
    return source_;
}

void TStatsForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    korvi::gui::RunGuarded([this] { FormShow(); });
}

void TStatsForm::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TStatsForm::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}

bool TStatsForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Image) {
        if (event->type() == QEvent::Enter)
            Image->setCursor(Qt::CrossCursor);
        else if (event->type() == QEvent::MouseMove)
            korvi::gui::RunGuarded(
                [&] { HistogramMouseMove(static_cast<QMouseEvent *>(event)->position().toPoint().x()); });
    }
    return QWidget::eventFilter(watched, event);
}

void TStatsForm::SetCorners(const StatisticsCorners &corners)
{
    XLo->setValue(corners.XLo);
    XHi->setValue(corners.XHi);
    YLo->setValue(corners.YLo);
    YHi->setValue(corners.YHi);
}

StatisticsCorners TStatsForm::Corners() const
{
    return {XLo->value(), XHi->value(), YLo->value(), YHi->value()};
}

void TStatsForm::FormShow()
{
    const ImageData *image = SourceImage();
    if (!image || image->Empty) {
        close();
        return;
    }
    if (image->SelX0 != 0 || image->SelY0 != 0 || image->SelX1 != 0 || image->SelY1 != 0) {
        SetCorners(SelectionCorners(*image));
        RecomputeBtnClick();
    } else {
        FullImageBtnClick();
    }
}

void TStatsForm::FullImageBtnClick()
{
    if (const ImageData *image = SourceImage())
        SetCorners(FullImageCorners(*image));
    RecomputeBtnClick();
}

void TStatsForm::SelectionBtnClick()
{
    if (const ImageData *image = SourceImage())
        SetCorners(SelectionCorners(*image));
    RecomputeBtnClick();
}

void TStatsForm::RecomputeBtnClick()
{
    const ImageData *image = SourceImage();
    if (!image || image->Empty)
        return;
    result_ = ComputeCornerStatistics(*image, Corners(), histogram_.data());
    AverageLabel->setText(QStringLiteral("Average value: ") + PictureText("#####0.0", result_.Mean));
    MaximumLabel->setText(QStringLiteral("Maximum value: ") + QString::number(result_.Maximum));
    MinimumLabel->setText(QStringLiteral("Minimum value: ") + QString::number(result_.Minimum));
    MedianLabel->setText(QStringLiteral("Median value: ") +
                         QString::number(static_cast<long long>(std::trunc(result_.Median))));
    MaximalLabel->setText(QStringLiteral("Maximal value: ") + QString::number(result_.Mode));
    DeviationLabel->setText(QStringLiteral("Standard deviation: ") +
                            PictureText("#####0.0", result_.StandardDeviation));
    HistMin->setValue(result_.Minimum);
    HistMax->setValue(result_.Maximum);
    DrawHistogram();
    ScrollBar->setValue(100);
}

void TStatsForm::DrawHistogram()
{
    const int low = HistMin->value(), high = HistMax->value();
    const int width = picture_.width(), height = picture_.height();
    HistogramDrawing drawing;
    const double top = result_.Mode >= 0 && result_.Mode < 65536 ? histogram_[result_.Mode] : 0.0;
    const bool logarithmic = LogScale->isChecked();
    double scale = logarithmic ? height / (10.0 * std::log10(top + 1.0)) : height / ((top + 1.0) * 1.1);
    scale *= 101 - ScrollBar->value();
    if (high - low >= 1 && std::isfinite(scale)) {
        drawing.origin = low;
        drawing.first = low;
        drawing.last = high;
        drawing.xScale = static_cast<double>(width) / (high - low);
        drawing.lines = high - low + 1 > width;
    }
    ::DrawHistogram(picture_, QColor::fromRgb(12632256), drawing, [&](int v) {
        const double count = histogram_[v];
        return static_cast<int>(std::trunc(logarithmic ? std::log10(count + 1.0) * scale : count * scale));
    });
    Image->setPixmap(QPixmap::fromImage(picture_));
}

void TStatsForm::LogScaleClick()
{
    ScrollBar->setValue(100);
    DrawHistogram();
}

void TStatsForm::HistogramMouseMove(int x)
{
    const int low = HistMin->value(), high = HistMax->value();
    const long long value = low + static_cast<long long>(x) * (high - low) / Image->width();
    CursorPos->setValue(static_cast<int>(std::clamp<long long>(value, 0, 65535)));
}

void TStatsForm::CursorPosChange(int value)
{
    StatusPanel->setText(QStringLiteral("Pixel value: ") + QString::number(value) +
                         QStringLiteral(", Number of instances: ") + QString::number(histogram_[value]));
}

void TStatsForm::SaveBtnClick()
{
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("StatsSaveDialog"));
    korvi::gui::PrepareFileDialog(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setWindowTitle(QStringLiteral("Save histogram "));
    dialog.setNameFilter(QStringLiteral("Comma delimited text (*.csv)"));
    dialog.setDirectory(QString::fromStdString(CurrentSettings().LastOpenDirectory[0]));
    dialog.selectFile(QStringLiteral("Image_stats.csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const std::string name = StatisticsFileName(dialog.selectedFiles().front().toStdString());
    WriteStatisticsFile(name, result_, Corners(), histogram_.data());
}
