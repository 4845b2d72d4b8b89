#pragma once
// TEqualizeF ("Custom intensity equalization"): remaps the target image's intensities through a
// 65536-entry table, either the image's own accumulated histogram ("Use image based histogram")
// or the transfer curve drawn over it ("Use model histogram"). Shows the target's histogram, its
// accumulated histogram under the curve, and the histogram the table would give.
#include <QImage>
#include <QWidget>

#include "matrix.h"
#include "processing/equalization.h"
#include "processing_target.h"

class ImageData;
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;

class TEqualizeF : public QWidget, public TargetReader
{
    Q_OBJECT
public:
    static constexpr int CurveWidth = 530, CurveHeight = 201;

    explicit TEqualizeF(QWidget *parent = nullptr);
    ~TEqualizeF() override;

    // The image batch processing points the window at (EditTarget 6); not owned.
    ImageData *TargetImage = nullptr;

    QLabel *HImage = nullptr;  // "Original image histogram"
    QLabel *MHImage = nullptr; // "Equalized image histogram"
    QLabel *BImage = nullptr;  // accumulated histogram with the curve
    QRadioButton *UseImageHistogram = nullptr, *UseModelHistogram = nullptr;
    QPushButton *ShowModifiedBtn = nullptr, *PreviewBtn = nullptr, *ApplyBtn = nullptr, *UndoBtn = nullptr,
                *CloseBtn = nullptr;
    QMenu *CurveMenu = nullptr;
    QAction *Symmetrize1 = nullptr, *DeletePoint1 = nullptr;

    EqualizationCurve &Curve() { return curve_; }
    const FloatVector &EqualizationTable() const { return equalizationTable_; }
    const FloatVector &ModelTable() const { return modelTable_; }
    const QImage &HistogramPicture() const { return histogramPicture_; }
    const QImage &EqualizedPicture() const { return equalizedPicture_; }
    const QImage &CurvePicture() const { return curvePicture_; }

    void FormShow();
    void ReadTarget() override { FormShow(); }
    void ShowModifiedBtnClick();
    void ApplyBtnClick();
    void PreviewBtnClick();
    void UndoBtnClick();
    void FormClose();
    // Curve editing on BImage, in picture coordinates.
    void BImageMouseDown(Qt::MouseButton button, int x, int y, const QPoint &globalPosition);
    void BImageMouseMove(int x, int y);
    void BImageMouseUp();
    void BImageDblClick();
    void SymmetrizeClick();
    void DeletePointClick();
    void DrawCurve();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ShowEqualizedHistogram(const ImageData &image, const float *table);
    // Histograms, accumulated histogram and image-based table of the target, and their pictures.
    void ReadHistograms(const ProcessingTarget &target);
    // The table the choice of the radio buttons gives for this target.
    const float *TableFor(const ProcessingTarget &target);
    // The image shown (or the batch image); empty, with a box, when the shown one is gone.
    ProcessingTarget ActingTarget();

    EqualizationCurve curve_{CurveWidth, CurveHeight};
    UIntVector histogram_;
    int minimum_ = 0, maximum_ = 0, mode_ = 0;
    FloatVector equalizationTable_, modelTable_;
    ComputedFor tableFor_; // the image equalizationTable_ was accumulated from
    ShownTarget shown_;    // the image whose histograms the window shows
    QImage histogramPicture_, equalizedPicture_, curvePicture_;
    QImage curveLayer_, histogramLayer_;
};

extern TEqualizeF *EqualizeF;
