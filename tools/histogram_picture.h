#pragma once
// The histogram picture shared by the statistics and equalization windows: a background, then in
// black either one vertical line per non-empty value (when the values outnumber the picture's
// columns) or one filled bar per value, each value v at x = trunc(xScale * (v - origin)) and as
// high as the caller's height(v) in pixels. Each window chooses its own value range and heights.
#include <QColor>
#include <QImage>

#include <functional>

struct HistogramDrawing {
    int origin = 0; // the value drawn at x = 0
    int first = 0;  // values drawn, first .. last inclusive
    int last = -1;
    double xScale = 1.0; // pixels per value
    bool lines = false;  // a line per non-empty value, else a bar per value
};

// Fills picture with background and draws the histogram over it (nothing when last < first).
void DrawHistogram(QImage &picture, QColor background, const HistogramDrawing &drawing,
                   const std::function<int(int)> &height);
