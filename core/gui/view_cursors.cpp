#include "view_cursors.h"

#include <QBitmap>
#include <QPainter>

#include <functional>

namespace korvi::gui
{
namespace
{

constexpr int CursorSize = 32;

// A cursor from one drawing: drawn with a one-pixel pen it is the black shape, drawn with a
// three-pixel pen it is the mask, whose extra rim shows white.
QCursor DrawnCursor(const std::function<void(QPainter &)> &draw, int hotX, int hotY)
{
    auto paint = [&](int penWidth) {
        QBitmap bitmap(CursorSize, CursorSize);
        bitmap.fill(Qt::color0);
        QPainter painter(&bitmap);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(Qt::color1, penWidth, Qt::SolidLine, Qt::SquareCap));
        painter.setBrush(Qt::NoBrush);
        draw(painter);
        return bitmap;
    };
    return QCursor(paint(1), paint(3), hotX, hotY);
}

QCursor Magnifier(bool plus)
{
    return DrawnCursor(
        [plus](QPainter &p) {
            p.drawEllipse(QPoint(12, 12), 8, 8);
            p.drawLine(18, 18, 27, 27);
            p.drawLine(19, 18, 28, 27);
            p.drawLine(8, 12, 16, 12);
            if (plus)
                p.drawLine(12, 8, 12, 16);
        },
        12, 12);
}

} // namespace

QCursor MakeSightCursor()
{
    return DrawnCursor(
        [](QPainter &p) {
            p.drawEllipse(QPoint(15, 15), 7, 7);
            p.drawLine(15, 2, 15, 11);
            p.drawLine(15, 19, 15, 28);
            p.drawLine(2, 15, 11, 15);
            p.drawLine(19, 15, 28, 15);
        },
        15, 15);
}

QCursor MakeZoomInCursor()
{
    return Magnifier(true);
}

QCursor MakeZoomOutCursor()
{
    return Magnifier(false);
}

} // namespace korvi::gui
