#pragma once
// TBloomRemovalF ("Remove blooming blemishes"): the parameters of the bloom removal, applied to
// the image the window shows (the active image window or the current composite layer when it was
// shown) with preview and undo. Redo runs it again with the parameters it ran with.
#include "processing/bloom.h"
#include "processing_target.h"

#include <QWidget>

class QCheckBox;
class QPushButton;
class QSpinBox;

class TBloomRemovalF : public QWidget, public OperationOwner, public TargetReader
{
    Q_OBJECT
public:
    static constexpr int OperationCode = 17;

    explicit TBloomRemovalF(QWidget *parent = nullptr);
    ~TBloomRemovalF() override;

    QSpinBox *Threshold = nullptr, *StreakThreshold = nullptr, *NoiseLevel = nullptr;
    QCheckBox *TopToBottom = nullptr, *RemoveXferStreaks = nullptr, *ReadoutSmearRemove = nullptr;
    QPushButton *PreviewBtn = nullptr, *ApplyBtn = nullptr, *UndoBtn = nullptr;

    BloomOptions Options() const;
    void FormShow();
    void ReadTarget() override { FormShow(); }
    void ApplyBtnClick();
    void PreviewBtnClick();
    void UndoBtnClick();
    void FormClose();

    bool CanRepeatOperation(int code) const override { return code == OperationCode; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void ApplyOptions(const ProcessingTarget &target, const BloomOptions &options);
    ShownTarget shown_; // the image the window shows
};

extern TBloomRemovalF *BloomRemovalF;
