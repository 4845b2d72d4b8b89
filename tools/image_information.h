#pragma once
// THInfo ("Image information"): the header of the image EditTarget names, with its description
// and filters texts editable. The window shows a copy taken when it opens, or when its command
// chooses it again while it is open; Apply writes the two texts into the image shown, found again
// at the click, so neither an image made active since nor one opened after the shown one closed
// is ever written to.
#include "image_data.h"
#include "processing_target.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class THInfo : public QDialog, public TargetReader
{
    Q_OBJECT
public:
    explicit THInfo(QWidget *parent = nullptr);
    ~THInfo() override;

    QLabel *filename = nullptr, *date = nullptr, *time = nullptr, *IntTime = nullptr, *HighPixel = nullptr,
           *LowPixel = nullptr, *NCol = nullptr, *NRow = nullptr, *XBin = nullptr, *YBin = nullptr,
           *NCOLMAX = nullptr, *NROWMAX = nullptr, *TopDarkLevel = nullptr, *BottomDarkLevel = nullptr,
           *XLO = nullptr, *YLO = nullptr, *XHI = nullptr, *YHI = nullptr, *SkyLevel = nullptr,
           *BiasLevel = nullptr, *CCDTemp = nullptr;
    QLineEdit *description = nullptr, *filters = nullptr;
    QPushButton *ApplyBtn = nullptr, *UndoBtn = nullptr, *OkBtn = nullptr;

    ImageData Shown; // the copy the labels are filled from

    void FormShow();
    void ApplyBtnClick();
    void UndoBtnClick();
    void OkBtnClick();
    void FormClose();
    void ReadTarget() override { FormShow(); }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    static ImageData *GuiderImage(); // nullptr while the guider holds no image

    // The image the labels and edits were filled from: an image window, or the guider image.
    ShownTarget shown_;
    bool guiderShown_ = false;
};

extern THInfo *HInfo;
