#pragma once
// TFocusMonitorF ("Focus monitor"): measures the width of the brightest star in the active image
// window, keeps the history of the widths, draws it as a graph and shows a 40 x 40-pixel zoom of
// the star. Opened from "Focus monitor..." and the image window's "Show focus data"; in focus
// mode the acquisition thread has it measure every frame it shows.
//
// The window is a GUI-thread object: MeasureFocus called from another thread runs on the GUI
// thread (and the caller waits for it), so the image it reads is never being written meanwhile.
#include "matrix.h"

#include <QImage>
#include <QWidget>

#include <utility>
#include <vector>

class QLabel;
class QPushButton;
class QTextEdit;

class TFocusMonitorF : public QWidget
{
    Q_OBJECT
public:
    explicit TFocusMonitorF(QWidget *parent = nullptr);
    ~TFocusMonitorF() override;

    QTextEdit *FocusList = nullptr; // one line per measurement: "x:" w " y:" h
    QLabel *StarImg = nullptr;      // the 200 x 200 zoom
    QLabel *FocusGraph = nullptr;   // the 299 x 164 graph
    QPushButton *ClearBtn = nullptr;

    // Measures the star of image window 0 (its selection when it has one), adds the history line,
    // draws the zoom and the graph. Nothing without an image window.
    void MeasureFocus();
    void DrawFocusGraph();
    void ClearBtnClick();

    // The widths measured since the last clear (x, y), kept beside the list's text so widths of
    // 100 pixels and more keep their digits.
    const std::vector<std::pair<float, float>> &Widths() const { return widths_; }
    const QImage &StarPicture() const { return star_; }
    const QImage &GraphPicture() const { return graph_; }

private:
    void DrawZoom(const UShortMatrix &region, int w, int h, int starX, int starY);

    std::vector<std::pair<float, float>> widths_;
    QImage star_;
    QImage graph_;
};

extern TFocusMonitorF *FocusMonitorF;
