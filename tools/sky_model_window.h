#pragma once
// TSkyModelF ("Subtract model sky"): background points are picked by clicking on a view of the
// target image, a polynomial sky is fitted through them and its subtraction previewed on the
// window's own copy, then applied to the target with undo. The processing dialog's sky-model
// operation uses this window's fit when "manually sampled" is chosen.
#include "image_data.h"
#include "processing/sky_model.h"
#include "processing_target.h"

#include <QWidget>

#include <memory>
#include <vector>

class ColorIndexView;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSlider;
class QSpinBox;
class QStatusBar;
class TOpenGLPanel;

class TSkyModelF : public QWidget, public TargetReader
{
    Q_OBJECT
public:
    explicit TSkyModelF(QWidget *parent = nullptr);
    ~TSkyModelF() override;

    QSpinBox *NPoint = nullptr, *PolynomialOrder = nullptr, *BiasLevel = nullptr;
    QLineEdit *IntScale = nullptr;
    QSlider *IntTrackBar = nullptr, *BiasTrackBar = nullptr;
    QPushButton *PreviewFitBtn = nullptr, *DeleteLastBtn = nullptr, *ApplyBtn = nullptr, *UndoBtn = nullptr;
    QScrollArea *ScrollBox = nullptr;
    TOpenGLPanel *OpenGLPanel = nullptr;
    QStatusBar *StatusBar = nullptr;

    std::vector<SkySample> Samples; // the first SampleCount are in use
    int SampleCount = 0;
    int Order = 1;  // the order the next fit takes (the spin's value)
    SkyModel Fit;   // the last previewed fit, with its own order and scaling (Order 0: none)
    ImageData Copy; // the target as shown, with the preview's subtraction
    float Zoom = 1.0f;

    void FormShow();
    void ReadTarget() override { FormShow(); }
    void FormClose();
    // A left-button release at panel position (px, py): appends a sample.
    void PanelClick(int px, int py);
    void PanelMove(int px, int py);
    void DeleteLastBtnClick();
    void PreviewFitBtnClick();
    void ApplyBtnClick();
    void UndoBtnClick();
    void IntScaleChange();
    void IntTrackBarChange(int position);
    void BiasLevelChange();
    void BiasTrackBarChange(int position);
    // The fit the processing dialog's manual sky model uses (not Valid before a preview).
    const SkyModel &FittedModel() const { return Fit; }
    // True when the fit was made on this target and its pixels are still those it was fitted to.
    bool FitBelongsTo(const ProcessingTarget &target) const;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool CopyTarget();
    // The image shown when the fit still belongs to it; else a message and an empty target.
    ProcessingTarget FittedTarget();
    void UpdatePreviewEnabled();
    void RebuildView();
    void OpenGLPanelPaint();
    // Image coordinates of a panel position; false outside the image.
    bool ImagePoint(int px, int py, int &x, int &y) const;

    ShownTarget shown_;  // the image the copy (and the samples) came from
    ComputedFor fitFor_; // the pixels Fit was made on
    std::unique_ptr<ColorIndexView> view_;
    int viewWidth_ = 0, viewHeight_ = 0;
};

extern TSkyModelF *SkyModelF;
