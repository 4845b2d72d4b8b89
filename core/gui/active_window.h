#pragma once
// ActiveWindowKeeper: gives the window that was active when it was made its activation back when
// it goes. Arranging or maximising image windows makes the frame's window the active one, and a
// window manager then puts the window the observer was working in (a running script's, say)
// behind it.
#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace korvi::gui
{

class ActiveWindowKeeper
{
public:
    ActiveWindowKeeper() : window_(QApplication::activeWindow()) {}
    ~ActiveWindowKeeper()
    {
        // The activation the work asked for reaches the window system before this request, so
        // this one wins; the window that was active already is asked again, which changes nothing.
        if (window_ && window_->isVisible() && !window_->isMinimized())
            window_->activateWindow();
    }
    ActiveWindowKeeper(const ActiveWindowKeeper &) = delete;
    ActiveWindowKeeper &operator=(const ActiveWindowKeeper &) = delete;

private:
    QPointer<QWidget> window_;
};

} // namespace korvi::gui
