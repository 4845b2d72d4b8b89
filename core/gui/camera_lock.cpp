#include "camera_lock.h"

#include "gui_runtime.h"
#include "time_scale.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <vector>

namespace korvi::gui
{
namespace
{

std::recursive_mutex &CameraMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

// Pending reservations: their deadlines (process seconds), 0 for a free slot. Part of the one
// camera lock's state.
constexpr int ReservationSlots = 8;
constexpr double ReservationGrace = 1.0;
// Another thread's short command waits while a reservation falls due within this time (process
// seconds), so it cannot be on the link when the timed command is due.
constexpr double ShortCommandGuard = 0.25;

struct Reservations {
    std::mutex mutex;
    std::array<double, ReservationSlots> deadlines{};
    std::array<std::thread::id, ReservationSlots> owners{};
};

Reservations &PendingReservations()
{
    static Reservations reservations;
    return reservations;
}

// True while another thread's reservation that has not lapsed is pending and falls due within
// the horizon (process seconds; a negative horizon: whenever it falls due).
bool ReservationPending(double horizon)
{
    Reservations &r = PendingReservations();
    const double now = korvi::ScaledNow();
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> guard(r.mutex);
    for (int i = 0; i < ReservationSlots; ++i) {
        const double deadline = r.deadlines[i];
        if (deadline > 0.0 && r.owners[i] != self && now < deadline + ReservationGrace &&
            (horizon < 0.0 || deadline - now <= horizon))
            return true;
    }
    return false;
}

} // namespace

CameraReservation::CameraReservation(double deadline) : slot_(-1)
{
    Reservations &r = PendingReservations();
    std::lock_guard<std::mutex> guard(r.mutex);
    for (int i = 0; i < ReservationSlots; ++i)
        if (r.deadlines[i] <= 0.0) {
            r.deadlines[i] = deadline > 0.0 ? deadline : 1e-9;
            r.owners[i] = std::this_thread::get_id();
            slot_ = i;
            return;
        }
    // All slots taken (cannot happen with the program's one guide thread): no reservation.
}

CameraReservation::~CameraReservation()
{
    if (slot_ < 0)
        return;
    Reservations &r = PendingReservations();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.deadlines[slot_] = 0.0;
}

void CameraReservation::Renew(double deadline)
{
    if (slot_ < 0)
        return;
    Reservations &r = PendingReservations();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.deadlines[slot_] = deadline > 0.0 ? deadline : 1e-9;
}

// How deep this thread holds the camera lock (it is recursive), and what it runs once it lets go.
static thread_local int heldDepth = 0;
static thread_local std::vector<void (*)()> whenFree;

void RunWhenCameraFree(void (*action)())
{
    if (heldDepth == 0) {
        action();
        return;
    }
    if (std::find(whenFree.begin(), whenFree.end(), action) == whenFree.end())
        whenFree.push_back(action);
}

void CameraLock::Take(Mode mode)
{
    auto &mutex = CameraMutex();
    if (mutex.try_lock()) {
        owns_ = true;
        return;
    }
    if (mode == TryOnly)
        return;
    if (!IsGuiThread() || QCoreApplication::instance() == nullptr) {
        mutex.lock();
        owns_ = true;
        return;
    }
    // On the GUI thread: the holder may be waiting for this thread (a message box, a status text),
    // so keep its queued calls running while waiting. User input stays queued until we have the
    // camera, so a second click cannot start another command meanwhile.
    // The wait between tries is a plain steady-clock sleep: a timed lock on the steady clock goes
    // through pthread_mutex_clocklock, which ThreadSanitizer does not see, so it would take the
    // later unlock for one of an unlocked mutex.
    BeginBusyCursor();
    while (!mutex.try_lock()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EndBusyCursor();
    owns_ = true;
}

CameraLock::CameraLock(Mode mode)
{
    // A readout lets every pending timed command of another thread go first, a short command
    // those that fall due soon; a thread that already holds the camera cannot step aside, so its
    // command goes on at once.
    const bool yield = heldDepth == 0;
    const double horizon = mode == Readout ? -1.0 : ShortCommandGuard;
    const bool onGui = IsGuiThread() && QCoreApplication::instance() != nullptr;
    for (;;) {
        while (yield && mode != TryOnly && ReservationPending(horizon)) {
            if (onGui)
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 2);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (mode == TryOnly && yield && ReservationPending(horizon))
            return;
        Take(mode == Readout ? Wait : mode);
        // A reservation made while this thread waited for the lock is served first too.
        if (!owns_ || !yield || !ReservationPending(horizon))
            break;
        CameraMutex().unlock();
        owns_ = false;
    }
    if (owns_)
        ++heldDepth;
}

CameraLock::~CameraLock()
{
    if (!owns_)
        return;
    --heldDepth;
    CameraMutex().unlock();
    // Released for good: what waited for that runs now (a box may wait for the observer there).
    while (heldDepth == 0 && !whenFree.empty()) {
        std::vector<void (*)()> actions;
        actions.swap(whenFree);
        for (void (*action)() : actions)
            action();
    }
}

} // namespace korvi::gui
