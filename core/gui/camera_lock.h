#pragma once
// The camera is one device shared by the GUI thread and every worker thread, and korvicom opens the
// USB device for each call: two calls at once make one of them fail as busy. Every korvicom call the
// program makes therefore holds this one process-wide lock for the duration of the call (or of a
// short sequence of calls that belong together).
//
// - Workers simply wait for it.
// - A command the user starts on the GUI thread waits its turn under the busy cursor, and while it
//   waits it keeps serving the blocking calls that worker threads make onto the GUI thread (the
//   holder may be showing "Korvi USB device error" through one), so waiting never deadlocks.
// - Periodic read-outs on the GUI thread use TryOnly and skip their tick when the camera is busy.
//
// The lock is recursive, so a routine that takes it may call another that takes it too. Never hold
// it across an exposure's wait or anything else long: it serialises calls, not runs.
#include <mutex>

namespace korvi::gui
{

class CameraLock
{
public:
    enum Mode { Wait, TryOnly };

    explicit CameraLock(Mode mode = Wait);
    ~CameraLock();
    CameraLock(const CameraLock &) = delete;
    CameraLock &operator=(const CameraLock &) = delete;

    // False only for a TryOnly lock that found the camera in use.
    bool Owns() const { return owns_; }
    explicit operator bool() const { return owns_; }

private:
    bool owns_ = false;
};

// Runs fn while holding the camera lock (waiting for it) and returns what fn returns.
template <typename Fn> auto WithCamera(Fn &&fn) -> decltype(fn())
{
    CameraLock lock;
    return fn();
}

} // namespace korvi::gui
