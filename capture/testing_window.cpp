#include "testing_window.h"

#include "gui_runtime.h"
#include "main_window.h"

#include <QTimer>

TTestF *TestF = nullptr;

TTestF::TTestF(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("TestF"));
    setWindowTitle(QStringLiteral("Testing output form"));
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(2000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Timer1->start();
}

TTestF::~TTestF()
{
    if (TestF == this)
        TestF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TTestF::Timer1Timer()
{
    Done = true;
    Timer1->stop();
}

void TTestF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TTestF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}
