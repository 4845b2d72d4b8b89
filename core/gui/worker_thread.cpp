#include "worker_thread.h"

#include "gui_runtime.h"
#include "time_scale.h"
#include "tsan_handoff.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <algorithm>
#include <chrono>

namespace korvi::gui
{

// ---------------------------------------------------------------------------------------------
// ResumeGate

ResumeGate::Ticket ResumeGate::Open()
{
    std::lock_guard lock(mutex_);
    ++current_;
    open_ = true;
    count_ = 0;
    return current_;
}

bool ResumeGate::Resume(Ticket ticket)
{
    {
        std::lock_guard lock(mutex_);
        if (!open_ || ticket != current_)
            return false;
        ++count_;
    }
    resumed_.notify_all();
    return true;
}

bool ResumeGate::ResumeOpen()
{
    {
        std::lock_guard lock(mutex_);
        if (!open_)
            return false;
        ++count_;
    }
    resumed_.notify_all();
    return true;
}

bool ResumeGate::Wait(Ticket ticket, double deadline)
{
    std::unique_lock lock(mutex_);
    if (!open_ || ticket != current_)
        return false;
    // The deadline is in process time; the condition variable waits in real time. A real wait of
    // more than about three years is cut there: a longer one would overflow the clock's count.
    constexpr double LongestRealWait = 1.0e8;
    const double remaining = std::min(deadline - korvi::ScaledNow(), LongestRealWait / korvi::TimeScale());
    const auto realDeadline = std::chrono::steady_clock::now() + korvi::ScaledDuration(remaining);
    resumed_.wait_until(lock, realDeadline, [this] { return count_ > 0; });
    const bool resumed = count_ > 0;
    // Closing the wait drops every resume counted for it, so none is left over for the next one.
    open_ = false;
    count_ = 0;
    return resumed;
}

bool ResumeGate::IsPending(Ticket ticket) const
{
    std::lock_guard lock(mutex_);
    return open_ && ticket == current_ && count_ == 0;
}

// ---------------------------------------------------------------------------------------------
// WorkerThread

WorkerThread::WorkerThread(QObject *parent) : QThread(parent) {}

WorkerThread::~WorkerThread()
{
    // A thread object must never be destroyed while its thread runs.
    if (isRunning()) {
        RequestShutdown();
        wait();
    }
    AfterThreadEnd();
}

void WorkerThread::RequestShutdown()
{
    stopRequested_.store(true);
    shuttingDown_.store(true);
    gate_.ResumeOpen();
}

bool WorkerThread::Suspend(ResumeGate::Ticket ticket, double deadline)
{
    if (shuttingDown_.load()) {
        gate_.Wait(ticket, -1.0e300); // closes the wait without blocking
        return false;
    }
    return gate_.Wait(ticket, deadline);
}

bool WorkerThread::ShutdownAndWait(int timeoutMs)
{
    RequestShutdown();
    if (!isRunning())
        return true;
    QDeadlineTimer deadline(timeoutMs);
    // The thread may be blocked in a call onto this (GUI) thread: keep serving events until it ends.
    while (!wait(QDeadlineTimer(5))) {
        if (IsGuiThread())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (deadline.hasExpired())
            return false;
    }
    AfterThreadEnd();
    return true;
}

QString WorkerThread::FailureText() const
{
    std::lock_guard lock(failureMutex_);
    return failureText_;
}

void WorkerThread::OnGuiThread(const std::function<void()> &fn)
{
    RunOnGuiThread(fn);
}

void WorkerThread::PostToGuiThread(QObject *receiver, std::function<void()> fn)
{
    // Qt's posted-event queue is one lock: what the poster did before posting is seen by the
    // receiver when the call runs. One address stands for that lock.
    [[maybe_unused]] static const char postedEventQueue = 0;
    KORVI_HANDOFF_RELEASE(&postedEventQueue);
    KORVI_QT_POST_BEGIN();
    QMetaObject::invokeMethod(
        receiver,
        [fn = std::move(fn)] {
            KORVI_HANDOFF_ACQUIRE(&postedEventQueue);
            fn();
        },
        Qt::QueuedConnection);
    KORVI_QT_POST_END();
}

void WorkerThread::AfterThreadEnd() const
{
    KORVI_HANDOFF_ACQUIRE(this);
}

void WorkerThread::run()
{
    try {
        Body();
    } catch (...) {
        const QString text = QString::fromStdString(ExceptionText(std::current_exception()));
        std::lock_guard lock(failureMutex_);
        failureText_ = text.isEmpty() ? QStringLiteral("unknown error") : text;
    }
    // The end of a run is always announced, however the body ended.
    try {
        Finish();
    } catch (...) {
        std::lock_guard lock(failureMutex_);
        if (failureText_.isEmpty())
            failureText_ = QString::fromStdString(ExceptionText(std::current_exception()));
    }
    KORVI_HANDOFF_RELEASE(this); // paired with AfterThreadEnd()
}

} // namespace korvi::gui
