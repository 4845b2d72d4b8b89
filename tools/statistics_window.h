#pragma once
// TStatsForm ("Image statistics"): the statistics and the histogram of a rectangle of one image,
// saved on request as a small CSV file. The caller chooses the image (SetSource) and shows the
// window; it changes no image.
#include <QImage>
#include <QPointer>
#include <QWidget>

#include "matrix.h"
#include "processing/statistics.h"
#include "processing_target.h"

class ImageData;
class QCheckBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QSpinBox;
class QStatusBar;

class TStatsForm : public QWidget, public TargetReader
{
    Q_OBJECT
public:
    explicit TStatsForm(QWidget *parent = nullptr);
    ~TStatsForm() override;

    // The image examined and the object that holds it (an image window, the guider window): when
    // that object goes away the window has no image rather than a stale one.
    void SetSource(const ImageData *image, QObject *holder);
    const ImageData *SourceImage() const;
    // Chosen again while open (for the same window or another): the statistics are measured anew
    // on the image SetSource named, which may have been replaced by a newer frame since.
    void ReadTarget() override { FormShow(); }

    QSpinBox *XLo = nullptr, *YLo = nullptr, *XHi = nullptr, *YHi = nullptr;
    QPushButton *FullImageBtn = nullptr, *SelectionBtn = nullptr, *RecomputeBtn = nullptr;
    QLabel *AverageLabel = nullptr, *MaximumLabel = nullptr, *MinimumLabel = nullptr, *MedianLabel = nullptr,
           *MaximalLabel = nullptr, *DeviationLabel = nullptr;
    QLabel *Image = nullptr; // the histogram picture
    QScrollBar *ScrollBar = nullptr;
    QSpinBox *HistMin = nullptr, *HistMax = nullptr, *CursorPos = nullptr;
    QCheckBox *LogScale = nullptr;
    QPushButton *RedrawBtn = nullptr, *SaveBtn = nullptr, *OKBtn = nullptr;
    QStatusBar *StatusBar = nullptr;
    QLabel *StatusPanel = nullptr; // panel 0

    // The last results and the histogram they came from.
    const StatisticsResult &Results() const { return result_; }
    const UIntVector &Histogram() const { return histogram_; }
    const QImage &Picture() const { return picture_; }

    void FormShow();
    void RecomputeBtnClick();
    void FullImageBtnClick();
    void SelectionBtnClick();
    void DrawHistogram();
    void LogScaleClick();
    void CursorPosChange(int value);
    void HistogramMouseMove(int x);
    void SaveBtnClick();
    void FormClose();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void SetCorners(const StatisticsCorners &corners);
    StatisticsCorners Corners() const;

    const ImageData *source_ = nullptr;
    QPointer<QObject> holder_;
    bool hasHolder_ = false;
    UIntVector histogram_;
    StatisticsResult result_;
    QImage picture_;
};

extern TStatsForm *StatsForm;
