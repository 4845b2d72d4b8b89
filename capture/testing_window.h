#pragma once
// TTestF ("Testing output form"): a window kept for test output. Its timer runs from start-up and
// sets the done flag once, 2000 ms later.
#include <QWidget>

class QTimer;

class TTestF : public QWidget
{
    Q_OBJECT
public:
    explicit TTestF(QWidget *parent = nullptr);
    ~TTestF() override;

    QTimer *Timer1 = nullptr;
    bool Done = false;

    void Timer1Timer();
    void FormClose();

protected:
    void closeEvent(QCloseEvent *event) override;
};

extern TTestF *TestF;
