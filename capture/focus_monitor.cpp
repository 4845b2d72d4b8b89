#include "focus_monitor.h"

#include "gui_runtime.h"
#include "image_data.h"
#include "image_window.h"
#include "main_window.h"
#include "matrix.h"
#include "processing/stars.h"
#include "text_format.h"
#include "ui_hooks.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

TFocusMonitorF *FocusMonitorF = nullptr;

namespace
{

constexpr int ZoomCells = 40, ZoomCell = 5;
constexpr int GraphWidth = 299, GraphHeight = 164;
constexpr int LeftMargin = 50, BottomMargin = 20;

QString Width2(double value)
{
    return QString::fromStdString(FormatFloat("#0.00", value, UserDecimalSeparator()));
}

} // namespace

TFocusMonitorF::TFocusMonitorF(QWidget *parent)
    : QWidget(parent, Qt::Window), star_(ZoomCells * ZoomCell, ZoomCells * ZoomCell, QImage::Format_RGB32),
      graph_(GraphWidth, GraphHeight, QImage::Format_RGB32)
{
    setObjectName(QStringLiteral("FocusMonitorF"));
    setWindowTitle(QStringLiteral("Focus monitor"));
    star_.fill(Qt::black);
    graph_.fill(Qt::black);

    auto *caption =
        new QLabel(QStringLiteral("Star selected for measurement             Gaussian FWHM"), this);
    StarImg = new QLabel(this);
    StarImg->setObjectName(QStringLiteral("StarImg"));
    StarImg->setFixedSize(star_.size());
    StarImg->setPixmap(QPixmap::fromImage(star_));
    FocusGraph = new QLabel(this);
    FocusGraph->setObjectName(QStringLiteral("FocusGraph"));
    FocusGraph->setFixedSize(graph_.size());
    FocusGraph->setPixmap(QPixmap::fromImage(graph_));
    FocusList = new QTextEdit(this);
    FocusList->setObjectName(QStringLiteral("FocusList"));
    FocusList->setReadOnly(true);
    ClearBtn = new QPushButton(QStringLiteral("Clear focus history"), this);
    ClearBtn->setObjectName(QStringLiteral("ClearBtn"));
    connect(ClearBtn, &QPushButton::clicked, this, korvi::gui::Guarded([this](bool) { ClearBtnClick(); }));

    auto *pictures = new QHBoxLayout;
    pictures->addWidget(StarImg);
    pictures->addWidget(FocusGraph, 0, Qt::AlignTop);
    pictures->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(caption);
    layout->addLayout(pictures);
    layout->addWidget(FocusList, 1);
    layout->addWidget(ClearBtn, 0, Qt::AlignLeft);
    resize(540, 420);
    FocusList->clear(); // the history starts empty with every run of the program
}

TFocusMonitorF::~TFocusMonitorF()
{
    if (FocusMonitorF == this)
        FocusMonitorF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TFocusMonitorF::MeasureFocus()
{
    if (!korvi::gui::IsGuiThread()) {
        korvi::gui::RunOnGuiThread([this] { MeasureFocus(); });
        return;
    }
    TChild *window = MainF ? MainF->FirstImageWindow() : nullptr;
    if (!window)
        return;
    const ImageData &image = window->ConstImage();
    if (image.Empty || image.Width <= 0 || image.Height <= 0)
        return;

    // The selected rectangle, or the whole image.
    int x0 = 0, y0 = 0, x1 = image.Width - 1, y1 = image.Height - 1;
    if (image.SelectionShown && !image.SelectionIsLine) {
        x0 = std::clamp(std::min(image.SelX0, image.SelX1), 0, image.Width - 1);
        x1 = std::clamp(std::max(image.SelX0, image.SelX1), 0, image.Width - 1);
        y0 = std::clamp(std::min(image.SelY0, image.SelY1), 0, image.Height - 1);
        y1 = std::clamp(std::max(image.SelY0, image.SelY1), 0, image.Height - 1);
    }
    const int w = x1 - x0 + 1, h = y1 - y0 + 1;
    UShortMatrix region(h, w);
    if (!image.CopyRegionTo(region, x0, x1, y0, y1))
        return;

    float starX = 0.0f, starY = 0.0f, widthX = 0.0f, widthY = 0.0f;
    FindBrightestPixel(region, w, h, starX, starY);
    MeasureStarFwhm(region, w, h, starX, starY, widthX, widthY);
    widths_.push_back({widthX, widthY});
    FocusList->append(QStringLiteral("x:") + Width2(widthX) + QStringLiteral(" y:") + Width2(widthY));

    DrawZoom(region, w, h, static_cast<int>(starX), static_cast<int>(starY));
    DrawFocusGraph();
}

void TFocusMonitorF::DrawZoom(const UShortMatrix &region, int w, int h, int starX, int starY)
{
    int cells[ZoomCells][ZoomCells]; // [row][column]
    int low = 0, high = 0;
    bool anyPositive = false;
    for (int r = 0; r < ZoomCells; ++r)
        for (int c = 0; c < ZoomCells; ++c) {
            const int x = starX - ZoomCells / 2 + c, y = starY - ZoomCells / 2 + r;
            const int v = x >= 0 && x < w && y >= 0 && y < h ? region[y][x] : 0;
            cells[r][c] = v;
            high = std::max(high, v);
            if (v > 0 && (!anyPositive || v < low)) {
                low = v;
                anyPositive = true;
            }
        }
    if (high == 0)
        high = 1;
    // A cut-out of one value (a flat or saturated patch) has no range to stretch: it is drawn
    // black rather than divided by zero.
    const double range = high > low ? high - low : 1.0;

    star_.fill(QColor(0, 128, 0));
    QPainter painter(&star_);
    for (int r = 0; r < ZoomCells; ++r)
        for (int c = 0; c < ZoomCells; ++c) {
            const int grey = static_cast<int>(std::clamp((cells[r][c] - low) * 255.0 / range, 0.0, 255.0));
            painter.fillRect(c * ZoomCell, r * ZoomCell, ZoomCell, ZoomCell, QColor(grey, grey, grey));
        }
    painter.end();
    StarImg->setPixmap(QPixmap::fromImage(star_));
}

void TFocusMonitorF::DrawFocusGraph()
{
    const int n = static_cast<int>(widths_.size());
    if (n < 2)
        return;
    double high = 0.0, low = 10000.0;
    for (const auto &[x, y] : widths_) {
        high = std::max({high, static_cast<double>(x), static_cast<double>(y)});
        low = std::min({low, static_cast<double>(x), static_cast<double>(y)});
    }
    if (high == 0.0)
        high = 1.0;
    if (high == low)
        low = 0.0;
    const int width = graph_.width(), height = graph_.height();
    const double step = (width - LeftMargin) * 1.9 / (2.0 * n);
    const double scale = (height - BottomMargin) / (high - low);
    auto at = [&](int k, double v) {
        return QPointF(LeftMargin + step * k, height - ((v - low) * scale + BottomMargin));
    };

    graph_.fill(Qt::black);
    QPainter painter(&graph_);
    painter.setPen(Qt::yellow);
    for (int k = 0; k < n; ++k)
        painter.drawEllipse(at(k, widths_[k].first), 3.0, 3.0);
    painter.setPen(Qt::red);
    for (int k = 0; k < n; ++k) {
        const QPointF p = at(k, widths_[k].second);
        painter.drawRect(QRectF(p.x() - 2, p.y() - 2, 5, 5));
    }
    painter.setPen(Qt::white);
    painter.drawLine(LeftMargin, height - BottomMargin, width - 1, height - BottomMargin);
    painter.drawLine(LeftMargin, height - BottomMargin, LeftMargin, 0);

    QFont font = painter.font();
    font.setPointSize(9);
    painter.setFont(font);
    painter.setBackground(Qt::black);
    painter.setBackgroundMode(Qt::OpaqueMode);
    const QFontMetrics metrics(font);
    auto text = [&](int x, int y, const QString &s) { painter.drawText(x, y + metrics.ascent(), s); };
    text(width / 2, height - BottomMargin + 3, QStringLiteral("Focus samples"));
    text(20, height - 23, Width2(low));
    text(20, 3, Width2(high));
    const QString letters = QStringLiteral("FWHM");
    const int top = (height - BottomMargin) / 2 - 2 * metrics.height();
    for (int i = 0; i < letters.size(); ++i)
        text(4, top + i * metrics.height(), letters.mid(i, 1));
    text(width / 2 + 50, 3, QStringLiteral("x: circles, y: squares"));
    painter.end();
    FocusGraph->setPixmap(QPixmap::fromImage(graph_));
}

void TFocusMonitorF::ClearBtnClick()
{
    FocusList->clear();
    widths_.clear();
}
