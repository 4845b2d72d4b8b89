#include "histogram_picture.h"

#include <QPainter>

#include <cmath>

void DrawHistogram(QImage &picture, QColor background, const HistogramDrawing &drawing,
                   const std::function<int(int)> &height)
{
    picture.fill(background);
    if (drawing.last < drawing.first)
        return;
    QPainter painter(&picture);
    painter.setPen(Qt::black);
    const int bottom = picture.height();
    for (int v = drawing.first; v <= drawing.last; ++v) {
        const int h = height(v);
        const int x = static_cast<int>(std::trunc(drawing.xScale * (v - drawing.origin)));
        if (drawing.lines) {
            if (h > 0)
                painter.drawLine(x, bottom, x, bottom - h);
        } else if (h > 0) {
            const int x1 = static_cast<int>(std::trunc(drawing.xScale * (v - drawing.origin + 1)));
            painter.fillRect(x, bottom - h, std::max(x1 - x, 1), h, Qt::black);
        }
    }
}
