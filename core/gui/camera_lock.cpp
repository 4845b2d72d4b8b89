#include "camera_lock.h"

#include "gui_runtime.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>

namespace korvi::gui
{
namespace
{

std::recursive_timed_mutex &CameraMutex()
{
    static std::recursive_timed_mutex mutex;
    return mutex;
}

} // namespace

CameraLock::CameraLock(Mode mode)
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
    BeginBusyCursor();
    while (!mutex.try_lock_for(std::chrono::milliseconds(5)))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
    EndBusyCursor();
    owns_ = true;
}

CameraLock::~CameraLock()
{
    if (owns_)
        CameraMutex().unlock();
}

} // namespace korvi::gui
