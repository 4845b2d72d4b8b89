#pragma once
// TTestClockF ("Test clocks"): starts and stops a continuous clocking test of one sensor clock.
// One test runs at a time: while it runs only its own button is enabled, captioned "Stop test".
#include <QWidget>

#include <array>

class QPushButton;

class TTestClockF : public QWidget
{
    Q_OBJECT
public:
    explicit TTestClockF(QWidget *parent = nullptr);
    ~TTestClockF() override;

    QPushButton *MainHBtn = nullptr, *MainVBtn = nullptr, *GuiderHBtn = nullptr, *GuiderVBtn = nullptr;
    bool TestRunning = false;

    // index: 0 MainHBtn, 1 MainVBtn, 2 GuiderHBtn, 3 GuiderVBtn.
    void ClockBtnClick(int index);
    void FormClose();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    std::array<QPushButton *, 4> buttons_{};
};

extern TTestClockF *TestClockF;
