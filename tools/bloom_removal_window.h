#pragma once
// TBloomRemovalF ("Remove blooming blemishes"): the parameters of the bloom removal, applied to
// the active image window or the current composite layer with preview and undo. Redo runs it again
// with the parameters on show.
#include "processing/bloom.h"
#include "processing_target.h"

#include <QWidget>

class QCheckBox;
class QPushButton;
class QSpinBox;

class TBloomRemovalF : public QWidget, public OperationOwner
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
    void ApplyBtnClick();
    void PreviewBtnClick();
    void UndoBtnClick();
    void FormClose();

    bool CanRepeatOperation(int code) const override { return code == OperationCode; }
    void RepeatOperation(int code) override;

protected:
    void closeEvent(QCloseEvent *event) override;
};

extern TBloomRemovalF *BloomRemovalF;
