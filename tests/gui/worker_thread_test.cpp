// The shared worker-thread helpers: the resume gate's counting and deadline, the thread base that
// always runs its finish step, and shut-down while the thread waits on the GUI thread.
#include "worker_thread.h"

#include "camera_lock.h"
#include "gui_runtime.h"

#include "time_scale.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace
{

using korvi::gui::ResumeGate;
using korvi::gui::WorkerThread;

double Now()
{
    return korvi::ScaledNow();
}

// Real milliseconds a call takes.
template <typename F> double ElapsedMs(F &&f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

TEST(ResumeGate, AResumeBeforeTheWaitIsKept)
{
    ResumeGate gate;
    const auto ticket = gate.Open();
    EXPECT_TRUE(gate.IsPending(ticket));
    EXPECT_TRUE(gate.Resume(ticket));
    EXPECT_FALSE(gate.IsPending(ticket));
    bool resumed = false;
    const double ms = ElapsedMs([&] { resumed = gate.Wait(ticket, Now() + 60.0 / korvi::TimeScale()); });
    EXPECT_TRUE(resumed);
    EXPECT_LT(ms, 15000.0); // at once, not at the minute's deadline
}

TEST(ResumeGate, TheDeadlineEndsAWaitNobodyResumes)
{
    ResumeGate gate;
    const auto ticket = gate.Open();
    const double wait = 0.15 / korvi::TimeScale(); // 150 ms of real time
    bool resumed = true;
    const double ms = ElapsedMs([&] { resumed = gate.Wait(ticket, Now() + wait); });
    EXPECT_FALSE(resumed);
    EXPECT_GE(ms, 140.0);
    EXPECT_LT(ms, 15000.0); // the deadline ended it: room for a busy machine, nowhere near "never"
    EXPECT_FALSE(gate.IsPending(ticket));
}

TEST(ResumeGate, AResumeForAnEarlierWaitIsIgnored)
{
    ResumeGate gate;
    const auto first = gate.Open();
    EXPECT_FALSE(gate.Wait(first, Now() - 1.0)); // ends at once by its deadline
    // The late resume (a timer that fired after the backstop) must not end the next wait.
    EXPECT_FALSE(gate.Resume(first));
    const auto second = gate.Open();
    EXPECT_NE(first, second);
    EXPECT_FALSE(gate.Resume(first));
    const double ms = ElapsedMs([&] { EXPECT_FALSE(gate.Wait(second, Now() + 0.1 / korvi::TimeScale())); });
    EXPECT_GE(ms, 90.0);
}

TEST(ResumeGate, ResumesCountedForOneWaitDoNotCarryOver)
{
    ResumeGate gate;
    const auto first = gate.Open();
    gate.Resume(first);
    gate.ResumeOpen(); // Stop pressed as the timer fired: two resumes for one wait
    EXPECT_TRUE(gate.Wait(first, Now() + 5.0));
    const auto second = gate.Open();
    EXPECT_FALSE(gate.Wait(second, Now() + 0.05 / korvi::TimeScale()));
}

TEST(ResumeGate, ResumeOpenWithoutAWaitIsNotRemembered)
{
    ResumeGate gate;
    EXPECT_FALSE(gate.ResumeOpen());
    const auto ticket = gate.Open();
    EXPECT_FALSE(gate.Wait(ticket, Now() + 0.05 / korvi::TimeScale()));
}

// Waits on the gate with the deadline (process seconds from now) while another thread resumes it
// after a short sleep. Returns how many real milliseconds after the resume the wait ended: negative
// when it ended before the resume went out. Timed from the resume itself, so however late either
// thread is scheduled, the result says only whether the resume (and not the deadline) ended it.
double MsFromResumeToWaitEnd(ResumeGate &gate, double deadlineFromNow, bool &resumed)
{
    const auto ticket = gate.Open();
    std::atomic<std::chrono::steady_clock::rep> resumeAt{0};
    std::thread resumer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        resumeAt = std::chrono::steady_clock::now().time_since_epoch().count();
        gate.Resume(ticket);
    });
    resumed = gate.Wait(ticket, Now() + deadlineFromNow);
    const auto waitEnd = std::chrono::steady_clock::now();
    resumer.join();
    const std::chrono::steady_clock::time_point resume{std::chrono::steady_clock::duration(resumeAt.load())};
    return std::chrono::duration<double, std::milli>(waitEnd - resume).count();
}

TEST(ResumeGate, AnotherThreadEndsTheWaitEarly)
{
    ResumeGate gate;
    bool resumed = false;
    const double ms = MsFromResumeToWaitEnd(gate, 30.0 / korvi::TimeScale(), resumed); // 30 s
    EXPECT_TRUE(resumed);
    EXPECT_GE(ms, 0.0);
    EXPECT_LT(ms, 15000.0); // far from the 30 s deadline, however busy the machine
}

TEST(ResumeGate, AFarDeadlineStillWaitsForTheResume)
{
    // A deadline beyond what the clock can count must not wrap round into one already past.
    ResumeGate gate;
    bool resumed = false;
    const double ms = MsFromResumeToWaitEnd(gate, 1.0e300, resumed);
    EXPECT_TRUE(resumed);
    EXPECT_GE(ms, 0.0);
}

// ---- the thread base

class ScriptedThread : public WorkerThread
{
public:
    std::function<void(ScriptedThread &)> body;
    std::atomic<int> finishes{0};
    std::atomic<bool> finishedOnGui{false};
    std::atomic<bool> resumed{true};
    using WorkerThread::OnGuiThread;

protected:
    void Body() override { body(*this); }
    void Finish() override
    {
        OnGuiThread(
            [this] { finishedOnGui = QThread::currentThread() == QCoreApplication::instance()->thread(); });
        ++finishes;
    }
};

bool RunUntil(const std::function<bool()> &done, int ms = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

TEST(WorkerThread, FinishRunsOnceAfterANormalBody)
{
    ScriptedThread thread;
    std::atomic<int> ran{0};
    thread.body = [&](ScriptedThread &) { ++ran; };
    thread.start();
    ASSERT_TRUE(RunUntil([&] { return thread.isFinished(); }));
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(thread.finishes.load(), 1);
    EXPECT_TRUE(thread.finishedOnGui.load());
    EXPECT_TRUE(thread.FailureText().isEmpty());
}

TEST(WorkerThread, FinishStillRunsAfterTheBodyThrows)
{
    ScriptedThread thread;
    thread.body = [](ScriptedThread &) { throw std::runtime_error("readout buffer lost"); };
    thread.start();
    ASSERT_TRUE(RunUntil([&] { return thread.isFinished(); }));
    EXPECT_EQ(thread.finishes.load(), 1);
    EXPECT_EQ(thread.FailureText(), QStringLiteral("readout buffer lost"));
}

TEST(WorkerThread, ShutdownEndsALongSuspendAtOnce)
{
    ScriptedThread thread;
    std::atomic<bool> waiting{false};
    thread.body = [&](ScriptedThread &self) {
        const auto ticket = self.OpenWait();
        waiting = true;
        self.resumed = self.Suspend(ticket, korvi::ScaledNow() + 3600.0);
        // Waits after the shut-down request do not block either.
        const auto next = self.OpenWait();
        self.Suspend(next, korvi::ScaledNow() + 3600.0);
    };
    thread.start();
    ASSERT_TRUE(RunUntil([&] { return waiting.load(); }));
    // Ended within a minute: the hour-long suspends did not hold it.
    EXPECT_TRUE(thread.ShutdownAndWait(60000));
    EXPECT_TRUE(thread.StopRequested());
    EXPECT_EQ(thread.finishes.load(), 1);
}

TEST(WorkerThread, ShutdownServesTheCallsTheThreadMakesOntoTheGuiThread)
{
    // The thread blocks in calls onto the GUI thread while the GUI thread waits for it: the wait
    // must keep serving them or both would hang.
    ScriptedThread thread;
    std::atomic<int> calls{0};
    thread.body = [&](ScriptedThread &self) {
        while (!self.StopRequested()) {
            ScriptedThread::OnGuiThread([&] { ++calls; });
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (int i = 0; i < 3; ++i)
            ScriptedThread::OnGuiThread([&] { ++calls; });
    };
    thread.start();
    ASSERT_TRUE(RunUntil([&] { return calls.load() > 3; }));
    EXPECT_TRUE(thread.ShutdownAndWait(60000));
    EXPECT_TRUE(thread.finishedOnGui.load());
    EXPECT_EQ(thread.finishes.load(), 1);
}

TEST(WorkerThread, StopRequestIsSeparateFromShutdown)
{
    ScriptedThread thread;
    thread.RequestStop();
    EXPECT_TRUE(thread.StopRequested());
    EXPECT_FALSE(thread.ShuttingDown());
    thread.StopFlag() = false;
    EXPECT_FALSE(thread.StopRequested());
}

// A worker holding the camera may need the GUI thread (its USB error box); a GUI command waiting for
// the camera meanwhile must serve that call instead of deadlocking. A periodic read-out skips.
TEST(CameraLock, TheGuiThreadServesTheHolderWhileItWaits)
{
    using korvi::gui::CameraLock;
    std::atomic<bool> holding{false};
    std::atomic<bool> servedWhileHeld{false};
    std::thread holder([&] {
        CameraLock lock;
        holding = true;
        korvi::gui::RunOnGuiThread([&] { servedWhileHeld = true; });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    while (!holding.load())
        std::this_thread::yield();
    {
        CameraLock tick(CameraLock::TryOnly);
        EXPECT_FALSE(tick.Owns());
    }
    {
        CameraLock command;
        EXPECT_TRUE(command.Owns());
        EXPECT_TRUE(servedWhileHeld.load());
        CameraLock nested(CameraLock::TryOnly); // the same thread may take it again
        EXPECT_TRUE(nested.Owns());
    }
    holder.join();
    CameraLock after(CameraLock::TryOnly);
    EXPECT_TRUE(after.Owns());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
