#pragma once
// The small runtime that every window and worker thread of the program shares on the GUI side:
// - run a function on the GUI thread and wait for it (a direct call when already there),
// - run a handler guarded, so an exception that escapes it becomes a message box instead of
//   ending the program,
// - modal message boxes, the busy cursor and the progress display, callable from any thread,
// - the set-up every file dialog shares,
// - the user's decimal separator for picture-formatted numbers,
// - the cut of a window's handlers before its base classes are destroyed.
#include <QString>

#include "ui_hooks.h"

#include <exception>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

class QFileDialog;
class QObject;
class QWidget;

class QRect;

namespace korvi::gui
{

// Runs fn on the GUI thread and returns when it has finished. On the GUI thread (or before a
// QApplication exists) fn is called directly; from any other thread it is a blocking queued call.
// An exception thrown by fn is carried back and rethrown on the calling thread.
// Never call it from a worker while the GUI thread is itself waiting for that worker.
void RunOnGuiThread(const std::function<void()> &fn);

template <typename Fn> auto CallOnGuiThread(Fn &&fn) -> decltype(fn())
{
    using R = decltype(fn());
    if constexpr (std::is_void_v<R>) {
        RunOnGuiThread(std::forward<Fn>(fn));
    } else {
        R result{};
        RunOnGuiThread([&] { result = fn(); });
        return result;
    }
}

bool IsGuiThread();

// Runs fn; an exception that escapes it is shown in a modal box captioned "Korvi error message"
// (its text, or an empty text for an exception that is not a std::exception) and then dropped.
// Returns false when fn threw.
bool RunGuarded(const std::function<void()> &fn) noexcept;

// Wraps a handler for QObject::connect so that nothing thrown inside escapes into Qt's event loop:
//   connect(button, &QPushButton::clicked, this, korvi::gui::Guarded([this] { OKBtnClick(); }));
// The handler gets the signal's arguments when it takes them, else none.
template <typename F> auto Guarded(F f)
{
    return [f = std::move(f)](auto &&...args) {
        RunGuarded([&] {
            if constexpr (std::is_invocable_v<const F &, decltype(args)...>)
                f(std::forward<decltype(args)>(args)...);
            else
                f();
        });
    };
}

// Cuts every connection from window itself and from its children (at any depth) to handlers whose
// context is window. The last statement of the destructor of every window that connects handlers
// to its own or its children's signals: the base classes' destructors still close sub-windows,
// move the focus and delete children, and the signals that raises must not reach a window whose
// own members are already destroyed.
void DetachHandlers(QObject *window);

// The text shown for an escaping exception.
std::string ExceptionText(std::exception_ptr error);

// Modal message boxes. Safe from any thread: a worker thread's box is shown by the GUI thread
// while the worker waits for the answer. Closing a box without a button gives Cancel when the box
// has one, else No, else OK. A box belongs to the window that raised it (the waiting dialog, else
// the active window, else the main window), opens centred over it, and stays on top while any
// window of the program does, so that no window can cover it.
MessageAnswer ShowMessage(const QString &text, const QString &caption,
                          MessageButtons buttons = MessageButtons::Ok, MessageIcon icon = MessageIcon::None);

// The window a box belongs to when no window of the program is active (the main window once it
// exists); nullptr for none.
void SetMessageParent(QWidget *parent);

// Busy (hourglass) cursor; nests, so every Begin needs its End (the core's BusyCursor does both).
void BeginBusyCursor();
void EndBusyCursor();

// Progress of a long operation on the GUI thread. The main window installs the handler (it drives
// the progress window); without one, progress is not shown.
struct ProgressEvent {
    enum Kind { Begin, Step, End } kind = Step;
    QString caption;  // Begin: the text shown above the bar
    int position = 0; // Step: 0..100
};
using ProgressHandler = std::function<void(const ProgressEvent &)>;
void SetProgressHandler(ProgressHandler handler);
void BeginProgress(const QString &caption);
void SetProgressPosition(int percent);
void EndProgress();

// Sets up a file dialog the way every dialog of the program is: Qt's own dialog (the same on every
// desktop, and one the tests can drive), whose name completer takes its list off the screen when
// the dialog closes. Enter pressed while the list shows reaches the dialog itself when the window
// system gives the key to the focused dialog rather than to the list; the dialog then accepts and
// hides, and a dialog kept for later uses would leave the list standing over the program. Like a
// message box, a dialog prepared while a window of the program stays on top stays on top too.
void PrepareFileDialog(QFileDialog &dialog);

// The screen area a top-level window opens in: the available geometry of its screen, and no more
// than a 1920 x 1080 screen's from that screen's corner, so that windows placed for one screen stay
// inside a common laptop or projector screen too.
QRect WindowArea(const QWidget *window);
// Gives a top-level window that nobody has placed yet (not shown before, not moved) a place of the
// program's own before it is first shown: centred over `over`, inside WindowArea. A window manager
// keeps a position the program set, where it would otherwise choose one itself, which can lie
// partly below the bottom of the screen and after KeepInsideScreen has run.
void PlaceBeforeFirstShow(QWidget *window, const QWidget *over);
// Moves (and when it must, shrinks) a shown top-level window so that its frame lies inside
// WindowArea. A maximised or full-screen window is left alone.
void KeepInsideScreen(QWidget *window);

// The decimal separator of the user's locale (QLocale's default), for "0.00000e+00"-style pictures.
char DecimalSeparator();

// The image core's user-interface hooks implemented by this runtime.
class QtUiHooks : public UiHooks
{
public:
    MessageAnswer ShowMessage(const std::string &caption, const std::string &text, MessageButtons buttons,
                              MessageIcon icon = MessageIcon::None) override;
    void SetBusy(bool busy) override;
    void ProgressStart(const std::string &caption) override;
    void ProgressStep(int percent) override;
    void ProgressEnd() override;
    char DecimalSeparator() const override;
};

// Installs one QtUiHooks as the image core's hooks, so core routines that report, show progress or
// ask for the busy cursor reach these Qt implementations. Call once the QApplication exists.
void InstallCoreUiHooks();

} // namespace korvi::gui
