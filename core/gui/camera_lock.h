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
//
// A frame readout holds the lock for its whole transfer (a tenth of a second to seconds), and no
// other command can reach the controller meanwhile. A command that must go out at a set time (the
// end of a guide pulse) therefore reserves the camera beforehand (CameraReservation): a readout
// (CameraLock::Readout) that would begin while a reservation is pending waits until it has been
// served, so the timed command is never delayed by more than one short command.
//
// Nothing may wait for the observer while it holds the lock: a link error raised inside a call is
// recorded there and asked about once this thread has let go of the camera (RunWhenCameraFree).
#include <mutex>

namespace korvi::gui
{

class CameraLock
{
public:
    // Readout: waits (also) until no reservation is pending, then holds the camera for a
    // transfer.
    enum Mode { Wait, TryOnly, Readout };

    explicit CameraLock(Mode mode = Wait);
    ~CameraLock();
    CameraLock(const CameraLock &) = delete;
    CameraLock &operator=(const CameraLock &) = delete;

    // False only for a TryOnly lock that found the camera in use.
    bool Owns() const { return owns_; }
    explicit operator bool() const { return owns_; }

private:
    void Take(Mode mode);
    bool owns_ = false;
};

// A pending short command at a set time. While one exists, readouts do not begin; it lapses by
// itself a second (process time) after its deadline, so a thread that never comes back cannot stall
// the readouts of others.
class CameraReservation
{
public:
    // deadline: the korvi::ScaledNow() time the command is due.
    explicit CameraReservation(double deadline);
    ~CameraReservation();
    CameraReservation(const CameraReservation &) = delete;
    CameraReservation &operator=(const CameraReservation &) = delete;

    // Moves the deadline (a later end of the same pulse); the reservation stays pending.
    void Renew(double deadline);

private:
    int slot_;
};

// Runs action on this thread as soon as it holds no camera lock: at once when it holds none, else
// when its outermost lock is released. The same action queued twice meanwhile runs once.
void RunWhenCameraFree(void (*action)());

// Runs fn while holding the camera lock (waiting for it) and returns what fn returns.
template <typename Fn> auto WithCamera(Fn &&fn) -> decltype(fn())
{
    CameraLock lock;
    return fn();
}

// The same for a frame readout (CameraLock::Readout).
template <typename Fn> auto WithCameraReadout(Fn &&fn) -> decltype(fn())
{
    CameraLock lock(CameraLock::Readout);
    return fn();
}

} // namespace korvi::gui
