#pragma once
// TFocusEnableF ("Focus mode enabled!"): shown while focus mode is on; its one button leaves
// focus mode.
#include <QWidget>

class QPushButton;

class TFocusEnableF : public QWidget
{
    Q_OBJECT
public:
    explicit TFocusEnableF(QWidget *parent = nullptr);
    ~TFocusEnableF() override;

    QPushButton *ExitBtn = nullptr;

    void ExitBtnClick();
    void FormClose();

protected:
    void closeEvent(QCloseEvent *event) override;
};

extern TFocusEnableF *FocusEnableF;
