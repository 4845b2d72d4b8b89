#pragma once
// TCCDSetF ("Select main camera CCD"): sets the imaging sensor's type and size in the settings and
// makes the capture sub-frame the whole sensor.
#include <QWidget>

class QComboBox;
class QPushButton;
class QSpinBox;

class TCCDSetF : public QWidget
{
    Q_OBJECT
public:
    explicit TCCDSetF(QWidget *parent = nullptr);
    ~TCCDSetF() override;

    QComboBox *CCDType = nullptr;
    QSpinBox *NCOL = nullptr;
    QSpinBox *NROW = nullptr;
    QPushButton *OKBtn = nullptr;
    QPushButton *CloseBtn = nullptr;

    void FormShow();
    void CCDTypeChange(int index);
    void OKBtnClick();
    void FormClose();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
};

extern TCCDSetF *CCDSetF;
