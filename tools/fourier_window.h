#pragma once
// TFourierF ("Fourier transform filter"): shows the power spectrum of the target image and filters
// it with a radial low-pass or high-pass cut-off that the user drags out on the spectrum.
#include <QImage>
#include <QWidget>

#include "processing/fourier.h"
#include "processing_target.h"

#include <cstdint>

class ImageData;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;

class TFourierF : public QWidget, public TargetReader
{
    Q_OBJECT
public:
    static constexpr int PictureSize = 512;

    explicit TFourierF(QWidget *parent = nullptr);
    ~TFourierF() override;

    // An image a caller points the window at for EditTarget values other than the image window
    // and the composite layer; not owned.
    ImageData *TargetImage = nullptr;

    QLabel *Image = nullptr; // the spectrum picture
    QSpinBox *f_cut = nullptr, *Apod = nullptr, *MaxExp_ = nullptr;
    QRadioButton *HighPass = nullptr, *LowPass = nullptr;
    QPushButton *RedrawBtn = nullptr, *PreviewBtn = nullptr, *ApplyBtn = nullptr, *UndoBtn = nullptr,
                *CloseBtn = nullptr;

    const FourierFilter &Spectrum() const { return filter_; }
    const QImage &SpectrumPicture() const { return spectrumPicture_; }
    const QImage &DisplayedPicture() const { return displayed_; }
    int CutoffRadius() const { return radius_; }
    // Transform size per picture pixel (N / picture width).
    double FrequencyScale() const;

    void FormShow();
    void ReadTarget() override { FormShow(); }
    void DrawPowerSpectrum();
    void f_cutChange(int value);
    void ApplyBtnClick();
    void PreviewBtnClick();
    void UndoBtnClick();
    void FormClose();
    void ImageMouseDown(int x, int y);
    void ImageMouseMove(int x, int y);
    void ImageMouseUp();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Transforms the target's frame 0 and remembers which image the spectrum belongs to.
    bool TransformTarget(const class ProcessingTarget &target);
    bool SpectrumBelongsTo(const class ProcessingTarget &target) const;
    // The image shown (or the one TargetImage points at); empty, with a box, when it is gone.
    ProcessingTarget ActingTarget();
    void ShowPicture();

    FourierFilter filter_;
    // The image and pixels the spectrum was taken from, and the last result filtered from it.
    ComputedFor spectrumFor_;
    ShownTarget shown_; // the image whose spectrum the window shows
    QImage spectrumPicture_, displayed_;
    int radius_ = 0;
    bool dragging_ = false, firstMove_ = false, circleShown_ = false;
};

extern TFourierF *FourierF;
