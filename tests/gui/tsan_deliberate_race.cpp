// Built only in a ThreadSanitizer tree (-DKORVI_TSAN=ON): a deliberate data race in the program's
// own code between a std::thread and a QTimer slot that Qt's event loop calls on the GUI thread.
// Its test passes only when ThreadSanitizer reports this race with threads_tsan.supp in force, so
// the suppressions, which must hide races inside Qt, Mesa and libc, cannot hide one of ours.
#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <thread>

namespace
{

int unguardedCount = 0; // both threads write it, with nothing to order the two writes

void CountOnWorker()
{
    ++unguardedCount;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::thread worker(CountOnWorker);
    // The slot runs from the event loop a while after the worker has written (timing does not
    // matter to ThreadSanitizer: no lock, join or queued call orders the two writes).
    QTimer::singleShot(std::chrono::milliseconds(100), &app, [&app] {
        ++unguardedCount;
        app.quit();
    });
    const int result = app.exec();
    worker.join();
    return result == 0 && unguardedCount == 2 ? 0 : 1;
}
