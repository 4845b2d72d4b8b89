#include "gui_runtime.h"

#include "tsan_handoff.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QCursor>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QScopeGuard>
#include <QScreen>
#include <QThread>
#include <QWidget>

#include <algorithm>

namespace korvi::gui
{

namespace
{

// The window message boxes belong to, and the progress display the main window installed.
// Both are only touched on the GUI thread.
QPointer<QWidget> messageParent;
ProgressHandler progressHandler;

// The window a box belongs to and opens over: the dialog that waits for it when a modal window
// raised it, else the window the observer works in, else the main window.
QWidget *BoxOwner()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget *active = QApplication::activeWindow())
        return active;
    return messageParent.data();
}

// Whether a box must stay on top to be seen: its owner, or any other shown window of the program,
// stays on top of the normal windows, and a window manager would open a box of the normal layer
// beneath it, where nobody can answer it and the program seems frozen.
bool KeepAboveProgramWindows(const QWidget *box)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [box](const QWidget *window) {
        return window != box && window->isVisible() && (window->windowFlags() & Qt::WindowStaysOnTopHint);
    });
}

} // namespace

void DetachHandlers(QObject *window)
{
    QObject::disconnect(window, nullptr, window, nullptr);
    for (QObject *child : window->findChildren<QObject *>())
        QObject::disconnect(child, nullptr, window, nullptr);
}

bool IsGuiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void RunOnGuiThread(const std::function<void()> &fn)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    std::exception_ptr error;
    const void *handoff = &fn; // the ordering Qt's blocking call gives, stated for ThreadSanitizer
    KORVI_HANDOFF_RELEASE(handoff);
    KORVI_QT_POST_BEGIN();
    QMetaObject::invokeMethod(
        app,
        [&fn, &error, handoff] {
            KORVI_HANDOFF_ACQUIRE(handoff);
            try {
                fn();
            } catch (...) {
                error = std::current_exception();
            }
            KORVI_HANDOFF_RELEASE(handoff);
        },
        Qt::BlockingQueuedConnection);
    KORVI_QT_POST_END();
    KORVI_HANDOFF_ACQUIRE(handoff);
    if (error)
        std::rethrow_exception(error);
}

std::string ExceptionText(std::exception_ptr error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return e.what();
    } catch (...) {
    }
    return std::string();
}

bool RunGuarded(const std::function<void()> &fn) noexcept
{
    try {
        fn();
        return true;
    } catch (...) {
        const QString text = QString::fromStdString(ExceptionText(std::current_exception()));
        try {
            ShowMessage(text, QStringLiteral("Korvi error message"), MessageButtons::Ok, MessageIcon::Error);
        } catch (...) {
            // Nothing more can be done for a failure while reporting a failure.
        }
        return false;
    }
}

MessageAnswer ShowMessage(const QString &text, const QString &caption, MessageButtons buttons,
                          MessageIcon icon)
{
    return CallOnGuiThread([&] {
        // Watched rather than owned: the owner may close, and delete its children, while the box
        // waits for its answer.
        QPointer<QMessageBox> box = new QMessageBox(BoxOwner());
        const auto drop = qScopeGuard([&box] { delete box.data(); });
        if (KeepAboveProgramWindows(box))
            box->setWindowFlag(Qt::WindowStaysOnTopHint);
        box->setWindowTitle(caption);
        box->setText(text);
        switch (icon) {
        case MessageIcon::None:
            break;
        case MessageIcon::Information:
            box->setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Warning:
            box->setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Error:
            box->setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Question:
            box->setIcon(QMessageBox::Question);
            break;
        }
        QMessageBox::StandardButtons standard = QMessageBox::Ok;
        MessageAnswer dismissed = MessageAnswer::Ok;
        switch (buttons) {
        case MessageButtons::Ok:
            break;
        case MessageButtons::OkCancel:
            standard = QMessageBox::Ok | QMessageBox::Cancel;
            dismissed = MessageAnswer::Cancel;
            break;
        case MessageButtons::YesNo:
            standard = QMessageBox::Yes | QMessageBox::No;
            dismissed = MessageAnswer::No;
            break;
        case MessageButtons::YesNoCancel:
            standard = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            dismissed = MessageAnswer::Cancel;
            break;
        }
        box->setStandardButtons(standard);
        const int pressed = box->exec();
        if (!box)
            return dismissed; // its owner went away while it waited
        switch (pressed) {
        case QMessageBox::Ok:
            return MessageAnswer::Ok;
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        case QMessageBox::Cancel:
            return MessageAnswer::Cancel;
        default:
            return dismissed;
        }
    });
}

void SetMessageParent(QWidget *parent)
{
    RunOnGuiThread([parent] { messageParent = parent; });
}

void BeginBusyCursor()
{
    RunOnGuiThread([] {
        if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    });
}

void EndBusyCursor()
{
    RunOnGuiThread([] {
        if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()) &&
            QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
    });
}

void SetProgressHandler(ProgressHandler handler)
{
    RunOnGuiThread([&] { progressHandler = std::move(handler); });
}

static void SendProgress(const ProgressEvent &event)
{
    RunOnGuiThread([&] {
        if (progressHandler)
            progressHandler(event);
    });
}

void BeginProgress(const QString &caption)
{
    SendProgress(ProgressEvent{ProgressEvent::Begin, caption, 0});
}

void SetProgressPosition(int percent)
{
    SendProgress(ProgressEvent{ProgressEvent::Step, QString(), std::clamp(percent, 0, 100)});
}

void EndProgress()
{
    SendProgress(ProgressEvent{ProgressEvent::End, QString(), 100});
}

char DecimalSeparator()
{
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 128)
        return static_cast<char>(point.at(0).unicode());
    // A separator outside ASCII cannot be written into the one-byte pictures of the files.
    return '.';
}

MessageAnswer QtUiHooks::ShowMessage(const std::string &caption, const std::string &text,
                                     MessageButtons buttons, MessageIcon icon)
{
    return gui::ShowMessage(QString::fromStdString(text), QString::fromStdString(caption), buttons, icon);
}

void QtUiHooks::SetBusy(bool busy)
{
    if (busy)
        BeginBusyCursor();
    else
        EndBusyCursor();
}

void QtUiHooks::ProgressStart(const std::string &caption)
{
    BeginProgress(QString::fromStdString(caption));
}

void QtUiHooks::ProgressStep(int percent)
{
    SetProgressPosition(percent);
}

void QtUiHooks::ProgressEnd()
{
    EndProgress();
}

char QtUiHooks::DecimalSeparator() const
{
    return gui::DecimalSeparator();
}

void InstallCoreUiHooks()
{
    static QtUiHooks hooks;
    InstallUiHooks(&hooks);
}

void PrepareFileDialog(QFileDialog &dialog)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (KeepAboveProgramWindows(&dialog))
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    QObject::connect(&dialog, &QDialog::finished, &dialog, [&dialog] {
        for (QCompleter *completer : dialog.findChildren<QCompleter *>())
            if (QAbstractItemView *list = completer->popup(); list->isVisible())
                list->hide();
    });
}

QRect WindowArea(const QWidget *window)
{
    QScreen *screen = window && window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return QRect(0, 0, 1920, 1080);
    const QRect available = screen->availableGeometry();
    return available.intersected(QRect(screen->geometry().topLeft(), QSize(1920, 1080)));
}

namespace
{

// Where a box of the given size with its top-left corner at `at` lies within the area, moved as
// little as possible (to the area's top-left corner when it is larger than the area).
QPoint InsideArea(const QRect &area, QPoint at, QSize size)
{
    return {std::max(area.left(), std::min(at.x(), area.left() + area.width() - size.width())),
            std::max(area.top(), std::min(at.y(), area.top() + area.height() - size.height()))};
}

} // namespace

void PlaceBeforeFirstShow(QWidget *window, const QWidget *over)
{
    if (!window || !window->isWindow() || window->isVisible() || window->testAttribute(Qt::WA_Moved))
        return;
    window->ensurePolished();
    if (!window->testAttribute(Qt::WA_Resized))
        window->adjustSize(); // the size showing would give it
    const QRect area = WindowArea(over ? over : window);
    QRect placed(QPoint(), window->size().boundedTo(area.size()));
    placed.moveCenter(over ? over->frameGeometry().center() : area.center());
    window->move(InsideArea(area, placed.topLeft(), placed.size()));
}

void KeepInsideScreen(QWidget *window)
{
    if (!window || !window->isWindow() ||
        (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    const QRect area = WindowArea(window);
    // The frame's decoration (title bar, borders) around the client area.
    const QSize decoration = window->frameGeometry().size() - window->geometry().size();
    const QSize client = window->size().boundedTo(area.size() - decoration);
    if (client != window->size())
        window->resize(client);
    const QSize frame = window->frameGeometry().size();
    const QPoint at = window->frameGeometry().topLeft();
    const QPoint inside = InsideArea(area, at, frame);
    if (inside != at)
        window->move(inside); // a top-level window's position is its frame's
}

} // namespace korvi::gui
