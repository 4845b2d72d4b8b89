#pragma once
// THInfo ("Image information"): the header of the image EditTarget names, with its description
// and filters texts editable. The window shows a copy taken when it opens; Apply writes the two
// texts into the target image found again at the click, so a window closed meanwhile is never
// written to.
#include "image_data.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class THInfo : public QDialog
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
    // The image EditTarget names now (the first image window's for 0), or nullptr.
    static ImageData *TargetImage();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
};

extern THInfo *HInfo;
