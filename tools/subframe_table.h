#pragma once
// TSubFrameF ("Save subframe as a table"): writes the pixel values of a rectangle of the active
// image as a comma-separated table, image rows as lines or, transposed, image columns as lines.
#include <QPointer>
#include <QWidget>

#include "image_window.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TSubFrameF : public QWidget
{
    Q_OBJECT
public:
    explicit TSubFrameF(QWidget *parent = nullptr);
    ~TSubFrameF() override;

    QSpinBox *XLO = nullptr, *XHI = nullptr, *YLO = nullptr, *YHI = nullptr;
    QLineEdit *SaveFile = nullptr;
    QPushButton *SaveBtn = nullptr, *OKBtn = nullptr, *CancelBtn = nullptr;
    QCheckBox *InvertCoords = nullptr;

    void FormShow();
    void SaveBtnClick();
    void OKBtnClick();
    void CancelBtnClick();
    void FormClose();

    // The image window the table is taken from (null when none was open at showing, or it closed).
    TChild *ImageWindow() const { return window_; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QPointer<TChild> window_;
};

extern TSubFrameF *SubFrameF;
