#include "clock_test.h"

#include "camera_lock.h"
#include "gui_runtime.h"
#include "korvicom.h"
#include "main_window.h"
#include "usb_error_handler.h"

#include <QPushButton>
#include <QVBoxLayout>

TTestClockF *TestClockF = nullptr;

namespace
{

struct ClockButton {
    const char *name;
    const char *caption;
    int clock;  // 0 vertical, 1 horizontal
    int camera; // 0 imaging, 1 guiding
};

constexpr std::array<ClockButton, 4> ClockButtons = {{
    {"MainHBtn", "Test main camera horizontal clocks", 1, 0},
    {"MainVBtn", "Test main camera vertical clocks", 0, 0},
    {"GuiderHBtn", "Test guider camera horizontal clocks", 1, 1},
    {"GuiderVBtn", "Test guider camera vertical clocks", 0, 1},
}};

} // namespace

TTestClockF::TTestClockF(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("TestClockF"));
    setWindowTitle(QStringLiteral("Test clocks"));
    auto *layout = new QVBoxLayout(this);
    for (int i = 0; i < 4; ++i) {
        auto *button = new QPushButton(QString::fromLatin1(ClockButtons[i].caption), this);
        button->setObjectName(QString::fromLatin1(ClockButtons[i].name));
        layout->addWidget(button);
        connect(button, &QPushButton::clicked, this, korvi::gui::Guarded([this, i] { ClockBtnClick(i); }));
        buttons_[i] = button;
    }
    MainHBtn = buttons_[0];
    MainVBtn = buttons_[1];
    GuiderHBtn = buttons_[2];
    GuiderVBtn = buttons_[3];
}

TTestClockF::~TTestClockF()
{
    if (TestClockF == this)
        TestClockF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TTestClockF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TTestClockF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}

void TTestClockF::ClockBtnClick(int index)
{
    const ClockButton &button = ClockButtons[index];
    if (!TestRunning) {
        {
            korvi::gui::CameraLock lock;
            _TestClocks(button.clock, button.camera, 1, UsbErrorHandler);
        }
        buttons_[index]->setText(QStringLiteral("Stop test"));
        for (int i = 0; i < 4; ++i)
            buttons_[i]->setEnabled(i == index);
        TestRunning = true;
        return;
    }
    {
        // Switching off stops whatever clock test runs.
        korvi::gui::CameraLock lock;
        _TestClocks(0, 0, 0, UsbErrorHandler);
    }
    buttons_[index]->setText(QString::fromLatin1(button.caption));
    for (QPushButton *b : buttons_)
        b->setEnabled(true);
    TestRunning = false;
}
