#include "usb_error_handler.h"

#include "camera_lock.h"
#include "gui_runtime.h"
#include "korvicom.h"

#include <QCursor>
#include <QGuiApplication>

#include <array>
#include <mutex>

namespace
{

// Threads register and unregister on their own threads while the box may be answered on another,
// so the table is guarded; the requests themselves are atomics the threads poll.
std::mutex registryMutex;
std::array<std::atomic<bool> *, 3> registry{};

// This thread's link errors: how many so far, the first one whose box has not been shown yet (0:
// none), the holds open, and whether a box of this thread is up (a failure meanwhile waits for it).
thread_local int errorsRecorded = 0;
thread_local int unshownStatus = 0;
thread_local int holds = 0;
thread_local bool boxUp = false;

MessageAnswer ShowUsbErrorBox(int status)
{
    const char *text = _FT_Error(status);
    const QString message = QString::fromUtf8(text ? text : "");
    // The box is shown by the GUI thread (a worker waits for the answer there). A camera call made
    // on the GUI thread shows the busy cursor; it is lifted while the box waits for the user and
    // put back afterwards, as often as it was set.
    return korvi::gui::CallOnGuiThread([&message] {
        int lifted = 0;
        while (QGuiApplication::overrideCursor()) {
            QGuiApplication::restoreOverrideCursor();
            ++lifted;
        }
        const MessageAnswer pressed = korvi::gui::ShowMessage(
            message, QStringLiteral("Korvi USB device error"), MessageButtons::OkCancel, MessageIcon::Error);
        for (int i = 0; i < lifted; ++i)
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        return pressed;
    });
}

// Runs once this thread holds the camera no more.
void ShowUnshownUsbError()
{
    if (holds > 0 || boxUp)
        return;
    boxUp = true;
    while (unshownStatus != 0) {
        const int status = unshownStatus;
        unshownStatus = 0;
        if (ShowUsbErrorBox(status) == MessageAnswer::Cancel) {
            RequestWorkerThreadsStop();
            // What failed while the box was up belongs to the fault the observer has just
            // answered.
            unshownStatus = 0;
        }
    }
    boxUp = false;
}

// A status of 0 (a reply that did not come, which the driver does not count as an error) is shown
// as the driver's input/output error.
constexpr int IoErrorStatus = 4;

} // namespace

void RegisterWorkerStopRequest(WorkerThreadKind kind, std::atomic<bool> *request)
{
    std::lock_guard lock(registryMutex);
    registry[static_cast<int>(kind)] = request;
}

void UnregisterWorkerStopRequest(WorkerThreadKind kind, std::atomic<bool> *request)
{
    std::lock_guard lock(registryMutex);
    auto &slot = registry[static_cast<int>(kind)];
    if (slot == request)
        slot = nullptr;
}

int RequestWorkerThreadsStop()
{
    std::lock_guard lock(registryMutex);
    int count = 0;
    for (std::atomic<bool> *request : registry)
        if (request) {
            request->store(true);
            ++count;
        }
    return count;
}

WorkerStopRegistration::WorkerStopRegistration(WorkerThreadKind kind, std::atomic<bool> *request)
    : kind_(kind), request_(request)
{
    RegisterWorkerStopRequest(kind_, request_);
}

WorkerStopRegistration::~WorkerStopRegistration()
{
    UnregisterWorkerStopRequest(kind_, request_);
}

extern "C" void UsbErrorHandler(int status)
{
    ++errorsRecorded;
    if (unshownStatus == 0)
        unshownStatus = status != 0 ? status : IoErrorStatus;
    if (holds == 0)
        korvi::gui::RunWhenCameraFree(&ShowUnshownUsbError);
}

int UsbErrorsOnThisThread()
{
    return errorsRecorded;
}

UsbErrorBoxHold::UsbErrorBoxHold()
{
    ++holds;
}

UsbErrorBoxHold::~UsbErrorBoxHold()
{
    if (--holds == 0 && unshownStatus != 0)
        korvi::gui::RunWhenCameraFree(&ShowUnshownUsbError);
}
