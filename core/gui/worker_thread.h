#pragma once
// What every worker thread of the program shares (the acquisition thread now; the guide and script
// threads reuse it):
// - ResumeGate: suspend/resume as a counting semaphore. A wait is opened with a ticket before the
//   thread asks anyone to resume it, so a resume that arrives before the thread blocks is kept;
//   a resume meant for an earlier wait is ignored. Every wait has a deadline backstop, so a GUI
//   thread that is too busy to fire its timer cannot stretch an exposure.
// - an atomic stop request (the USB error box's Cancel) and a shut-down request,
// - WorkerThread: a QThread that runs Body() with every exception caught and then always runs
//   Finish(), and the blocking calls onto the GUI thread.
#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace korvi::gui
{

class ResumeGate
{
public:
    using Ticket = std::uint64_t;

    // Opens a new wait and returns its ticket; resumes of earlier tickets no longer count.
    Ticket Open();
    // Counts one resume for the ticket when it is still the open wait. Returns whether it counted.
    bool Resume(Ticket ticket);
    // Resumes whatever wait is open (Stop, shut-down); false when none is.
    bool ResumeOpen();
    // Blocks until the ticket's wait is resumed, or the deadline (process seconds on the
    // korvi::ScaledNow() clock) passes. Closes the wait either way; true when it was resumed.
    bool Wait(Ticket ticket, double deadline);
    // True while the ticket is the open wait and has not been resumed.
    bool IsPending(Ticket ticket) const;

private:
    mutable std::mutex mutex_;
    std::condition_variable resumed_;
    Ticket current_ = 0;
    bool open_ = false;
    int count_ = 0;
};

class WorkerThread : public QThread
{
public:
    explicit WorkerThread(QObject *parent = nullptr);
    ~WorkerThread() override;

    // Asked to end (treated like a cleared run flag at the thread's next test).
    void RequestStop() { stopRequested_.store(true); }
    bool StopRequested() const { return stopRequested_.load(); }
    std::atomic<bool> &StopFlag() { return stopRequested_; }

    // Asked to end at once: open and later waits return immediately. Implies RequestStop.
    void RequestShutdown();
    bool ShuttingDown() const { return shuttingDown_.load(); }

    ResumeGate &Gate() { return gate_; }
    // Opens a wait (before asking anyone to resume it) and waits for it, at most until the deadline
    // (process seconds on korvi::ScaledNow()); returns at once while shutting down. True when resumed.
    ResumeGate::Ticket OpenWait() { return gate_.Open(); }
    bool Suspend(ResumeGate::Ticket ticket, double deadline);
    // Resumes the thread's open wait (Stop, the delay timer).
    bool Resume(ResumeGate::Ticket ticket) { return gate_.Resume(ticket); }
    bool ResumeOpenWait() { return gate_.ResumeOpen(); }

    // Shut-down from the GUI thread: asks the thread to stop, resumes any wait, and runs the
    // GUI event loop until the thread has ended, so the calls it makes onto the GUI thread are
    // still served meanwhile. False when it did not end within the given real milliseconds (a
    // negative timeout waits as long as it takes).
    bool ShutdownAndWait(int timeoutMs = 30000);

    // Text of the exception that ended Body(), empty when none did.
    QString FailureText() const;

protected:
    // The thread's work and the step that always follows it (also after an exception).
    virtual void Body() = 0;
    virtual void Finish() = 0;

    // Runs fn on the GUI thread and waits for it (direct when already there), through the
    // GUI-thread runtime.
    static void OnGuiThread(const std::function<void()> &fn);
    // Queues fn to run on the receiver's (GUI) thread and returns at once.
    static void PostToGuiThread(QObject *receiver, std::function<void()> fn);
    // Called by a derived destructor once the thread has ended (wait() returned), before the
    // members the thread used are destroyed.
    void AfterThreadEnd() const;

private:
    void run() final;

    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> shuttingDown_{false};
    ResumeGate gate_;
    mutable std::mutex failureMutex_;
    QString failureText_;
};

} // namespace korvi::gui
