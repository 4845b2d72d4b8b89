#include "progress_window.h"

#include "gui_runtime.h"
#include "main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

TProgressF *ProgressF = nullptr;

TProgressF::TProgressF(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("ProgressF"));
    setWindowTitle(QStringLiteral("Korvi operation progress"));
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ProgressBar);
    resize(360, 60);
}

TProgressF::~TProgressF()
{
    if (ProgressF == this)
        ProgressF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TProgressF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    FormShow();
}

void TProgressF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TProgressF::FormShow()
{
    ProgressBar->setRange(0, 100);
    if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

void TProgressF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}

void TProgressF::HandleProgress(const korvi::gui::ProgressEvent &event)
{
    using korvi::gui::ProgressEvent;
    switch (event.kind) {
    case ProgressEvent::Begin:
        if (!event.caption.isEmpty())
            setWindowTitle(event.caption);
        ProgressBar->setValue(0);
        show();
        break;
    case ProgressEvent::Step:
        ProgressBar->setValue(event.position);
        // The work runs on the GUI thread: let the bar repaint without taking user input.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        break;
    case ProgressEvent::End:
        close();
        setWindowTitle(QStringLiteral("Korvi operation progress"));
        break;
    }
}
