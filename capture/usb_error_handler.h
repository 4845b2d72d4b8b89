#pragma once
// The program's USB error callback, passed as the last argument of every camera-link call that
// talks to the device, and the registry of the worker threads' stop requests it uses.
//
// UsbErrorHandler(status) records the failure on the calling thread; the driver's text for it is
// shown in a modal box with OK and Cancel captioned "Korvi USB device error" once that thread
// holds the camera lock no more (at once when it holds none), so nothing (a guide pulse's end
// above all) waits for the camera while the box waits for the observer. The failures recorded
// while the camera was held, or during a UsbErrorBoxHold, are one fault and raise one box, with
// the first failure's text. The box is shown by the GUI thread whichever thread made the failing
// call (a worker waits for the answer). Cancel also asks every worker thread that exists to stop,
// in the order acquisition, script, guide.
//
// A worker thread registers its stop request while it runs and polls it at its loop tests:
//
//     std::atomic<bool> stopRequested{false};
//     WorkerStopRegistration registration(WorkerThreadKind::Acquisition, &stopRequested);
//     while (MainF->Acquiring && !stopRequested) { ... }
#include <atomic>

enum class WorkerThreadKind { Acquisition = 0, Script = 1, Guide = 2 };

// The UsbErrorCallback of korvicom.h.
extern "C" void UsbErrorHandler(int status);

// How many failures UsbErrorHandler has recorded on this thread since it started: a caller compares
// it before and after a call to know whether the call went through.
int UsbErrorsOnThisThread();

// While one lives on this thread, the boxes of its link errors wait (a stop is sent again before
// the observer is asked); they are shown when the last one ends and the camera is free.
class UsbErrorBoxHold
{
public:
    UsbErrorBoxHold();
    ~UsbErrorBoxHold();
    UsbErrorBoxHold(const UsbErrorBoxHold &) = delete;
    UsbErrorBoxHold &operator=(const UsbErrorBoxHold &) = delete;
};

// Registers the stop request of a worker thread that now exists (replacing one of the same kind).
void RegisterWorkerStopRequest(WorkerThreadKind kind, std::atomic<bool> *request);
// Removes it again; a request registered since by another thread of the kind stays.
void UnregisterWorkerStopRequest(WorkerThreadKind kind, std::atomic<bool> *request);
// Sets every registered stop request, acquisition first, then script, then guide.
// Returns how many were set.
int RequestWorkerThreadsStop();

// Registers for its lifetime.
class WorkerStopRegistration
{
public:
    WorkerStopRegistration(WorkerThreadKind kind, std::atomic<bool> *request);
    ~WorkerStopRegistration();
    WorkerStopRegistration(const WorkerStopRegistration &) = delete;
    WorkerStopRegistration &operator=(const WorkerStopRegistration &) = delete;

private:
    WorkerThreadKind kind_;
    std::atomic<bool> *request_;
};
