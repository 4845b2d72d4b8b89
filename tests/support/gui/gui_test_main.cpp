// main() of the GUI tests: one QApplication for the whole test program, made in a fixed
// environment (C locale, UTC, no high-DPI scaling, Mesa's software OpenGL) so that pixels and
// texts are the same on every machine.
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <ctime>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLocale>
#include <QSurfaceFormat>

#include <gtest/gtest.h>

#include "gui_test_support.h"

namespace
{

// When many test programs start at once the X server now and then refuses a connection, and
// Qt's platform plugin then ends the program before any test ran. The tests therefore run in a
// child process, which reports on a pipe once its application object exists; a child that ends
// before that is started again, a few times, before its end becomes the program's.
constexpr int StartAttempts = 5;

// Returns in the child (with `startedFd` to write to) or ends the parent with the child's result.
void RunInRetriedChild(int &startedFd)
{
    startedFd = -1;
    for (int attempt = 1;; ++attempt) {
        int fds[2];
        if (pipe(fds) != 0)
            return; // run in this process, without the retry
        const pid_t parent = getpid();
        const pid_t child = fork();
        if (child < 0) {
            close(fds[0]);
            close(fds[1]);
            return;
        }
        if (child == 0) {
            close(fds[0]);
            // A test run that times out kills the parent: the child must not live on without it.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(1);
            startedFd = fds[1];
            return;
        }
        close(fds[1]);
        char byte = 0;
        ssize_t got;
        do
            got = read(fds[0], &byte, 1);
        while (got < 0 && errno == EINTR);
        close(fds[0]);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        if (got != 1 && attempt < StartAttempts) {
            usleep(200000 * attempt);
            continue;
        }
        if (WIFSIGNALED(status)) {
            std::signal(WTERMSIG(status), SIG_DFL);
            raise(WTERMSIG(status));
        }
        std::exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
    }
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (done at build time, without an X server) needs no application.
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    int startedFd = -1;
    // KORVI_TEST_NO_FORK=1 keeps everything in one process (for a debugger).
    const char *noFork = std::getenv("KORVI_TEST_NO_FORK");
    if (!noFork || *noFork == '\0' || *noFork == '0')
        RunInRetriedChild(startedFd);
    korvi::test::PrepareGuiEnvironment();
    QApplication app(argc, argv);
    if (startedFd >= 0) {
        const char started = 1;
        (void)!write(startedFd, &started, 1);
        close(startedFd);
    }
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_ALL, "C"); // QApplication takes the system locale; put C back for numbers
    return RUN_ALL_TESTS();
}
