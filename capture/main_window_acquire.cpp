// TMainF: the acquisition actions (Acquire, AcquireCont, Stop), the delay timer that times the
// acquisition thread's integrations and frame delays, and the GUI side of a run (problems
// reported without stopping it, frames shown in image windows, shut-down of the thread).
#include "main_window.h"

#include "acquisition_thread.h"
#include "file_names.h"
#include "gui_runtime.h"
#include "image_window.h"
#include "text_format.h"
#include "time_scale.h"

#include <QAction>
#include <QApplication>
#include <QMdiArea>
#include <QMessageBox>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace
{

// The delay timer's period in process milliseconds.
constexpr int DelayTimerPeriodMs = 100;

// A check sum of the image's pixels (FNV-1a over the words of every frame).
std::uint64_t PixelCheckSum(const ImageData &image)
{
    std::uint64_t sum = 1469598103934665603ull;
    for (int f = 0; f < image.Frames; ++f)
        for (int y = 0; y < image.Height; ++y) {
            const std::uint16_t *row = image.FrameRow(f, y);
            for (int x = 0; x < image.Width; ++x)
                sum = (sum ^ row[x]) * 1099511628211ull;
        }
    return sum;
}

int ScaledTimerInterval(int processMs)
{
    return std::max(1, static_cast<int>(std::lround(processMs * korvi::TimeScale())));
}

} // namespace

void TMainF::BuildAcquisitionControls()
{
    using korvi::gui::Guarded;
    QStyle *style = QApplication::style();
    auto make = [this](const char *name, const QString &caption, const QString &hint) {
        auto *action = new QAction(caption, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setToolTip(hint);
        action->setStatusTip(hint);
        AddToolAction(action);
        return action;
    };
    Acquire = make("Acquire", QStringLiteral("Acquire"), QStringLiteral("Acquire images"));
    Acquire->setIcon(style->standardIcon(QStyle::SP_MediaPlay));
    connect(Acquire, &QAction::triggered, this, Guarded([this] { AcquireExecute(); }));
    AcquireCont = make("AcquireCont", QStringLiteral("Acquire continuously"),
                       QStringLiteral("Acquire images continuously"));
    AcquireCont->setIcon(style->standardIcon(QStyle::SP_BrowserReload));
    connect(AcquireCont, &QAction::triggered, this, Guarded([this] { AcquireContExecute(); }));
    Stop = make("Stop", QStringLiteral("Stop"), QStringLiteral("Stop acquisition"));
    Stop->setIcon(style->standardIcon(QStyle::SP_MediaStop));
    Stop->setEnabled(false);
    connect(Stop, &QAction::triggered, this, Guarded([this] { StopExecute(); }));

    DelayTimer = new QTimer(this);
    DelayTimer->setObjectName(QStringLiteral("DelayTimer"));
    DelayTimer->setInterval(ScaledTimerInterval(DelayTimerPeriodMs));
    connect(DelayTimer, &QTimer::timeout, this, Guarded([this] { DelayTimerTimer(); }));
}

bool TMainF::AcquisitionThreadRunning() const
{
    return AcquisitionThread && AcquisitionThread->isRunning();
}

void TMainF::StartAcquisitionThread()
{
    // The thread before is finished (checked by the callers): it can go.
    delete AcquisitionThread;
    AcquisitionThread = new MainCCDThread(this);
    // A run replaces only the unsaved frames it showed itself, never one an earlier run left.
    UnsavedFrameWindow = nullptr;
    Stop->setEnabled(true);
    Acquire->setEnabled(false);
    AcquireCont->setEnabled(false);
    AcquisitionThread->start();
}

void TMainF::AcquireExecute()
{
    Continuous = false;
    // A run or a script is active (a continuous run has just become a counted one), or the last
    // run's thread is still finishing.
    if (Acquiring || AcquisitionThreadRunning())
        return;
    if (!ReadControlsIntoSettings())
        return; // reported; the run does not start
    Acquiring = true;
    StartAcquisitionThread();
}

void TMainF::AcquireContExecute()
{
    if (Acquiring || AcquisitionThreadRunning())
        return;
    Continuous = true;
    Acquiring = true;
    StartAcquisitionThread();
}

void TMainF::StopExecute()
{
    Acquiring = false;
    if (DelayTimer->isActive())
        DelayTimer->stop();
    // Also a wait whose timer start is still on its way to this thread.
    if (AcquisitionThread)
        AcquisitionThread->ResumeOpenWait();
}

void TMainF::StartDelayTimer(double start, int seconds, std::uint64_t ticket)
{
    // A wait that Stop or its own deadline has ended meanwhile needs no timer.
    if (!AcquisitionThread || !AcquisitionThread->Gate().IsPending(ticket))
        return;
    DelayStart = start;
    DelaySeconds = seconds;
    DelayTicket = ticket;
    DelayTimer->setInterval(ScaledTimerInterval(DelayTimerPeriodMs));
    DelayTimer->start();
}

void TMainF::DelayTimerTimer()
{
    // The thread stopped waiting by its deadline backstop: this timer is left over.
    if (!AcquisitionThread || !AcquisitionThread->Gate().IsPending(DelayTicket)) {
        DelayTimer->stop();
        return;
    }
    const double now = korvi::ScaledNow();
    const double remaining = DelaySeconds - now + DelayStart;
    const char separator = UserDecimalSeparator();
    SetStatusText(1, QStringLiteral("Elapsed: ") +
                         QString::fromStdString(FormatFloat("######0.0", now - DelayStart, separator)) +
                         QStringLiteral(" s, Remaining: ") +
                         QString::fromStdString(FormatFloat("######0.0", remaining, separator)));
    statusBar()->repaint();
    if (remaining <= 0.0) {
        DelayTimer->stop();
        AcquisitionThread->Resume(DelayTicket);
    }
}

void TMainF::ReportAcquisitionProblem(const QString &text)
{
    SetStatusText(1, text);
    // A box that does not block: the run (and the observer's night) goes on while it is shown.
    if (!AcquisitionMessage) {
        AcquisitionMessage =
            new QMessageBox(QMessageBox::Warning, QStringLiteral("Korvi"), QString(), QMessageBox::Ok, this);
        AcquisitionMessage->setObjectName(QStringLiteral("AcquisitionMessage"));
        AcquisitionMessage->setModal(false);
    }
    AcquisitionMessage->setText(text);
    AcquisitionMessage->show();
}

TChild *TMainF::ShowAcquiredFrame(const ImageData &frame, bool newWindow)
{
    TChild *window = FirstImageWindow();
    // An image with unsaved changes is never replaced by a new frame, unless it is the unsaved frame
    // shown here before, as it was shown (the window was not closed meanwhile: a closed window's
    // address is not trusted, it is looked for among the windows open now).
    const std::vector<TChild *> open = ImageWindows();
    const bool ownUnsavedFrame = window && window == UnsavedFrameWindow &&
                                 std::find(open.begin(), open.end(), window) != open.end() &&
                                 PixelCheckSum(window->ConstImage()) == UnsavedFramePixels;
    if (newWindow || !window || (window->ConstImage().Modified && !ownUnsavedFrame)) {
        window = CreateImageWindow(frame.Height, frame.Width);
        window->Image().Assign(frame);
        window->show();
        window->AttachToWindowMenu();
        // The new frame's window is the active one (the displayed-view save format pictures it).
        MdiArea->setActiveSubWindow(window);
    } else {
        window->setWindowTitle(QString::fromStdString(ExtractFileNamePart(frame.FileName)));
        window->Image().Assign(frame);
    }
    UnsavedFrameWindow = frame.Modified ? window : nullptr;
    UnsavedFramePixels = frame.Modified ? PixelCheckSum(window->ConstImage()) : 0;
    window->FitToWindow();
    window->RenderImage();
    UpdateImageControls(window);
    return window;
}

void TMainF::StopAcquisitionThread()
{
    if (!AcquisitionThread)
        return;
    Acquiring = false;
    if (DelayTimer)
        DelayTimer->stop();
    // Every wait of a shutting-down thread returns at once and its calls onto this thread are
    // served meanwhile, so it ends; giving up early would leave a running thread to the
    // destructor, whose plain wait() could then block the very call the thread is waiting on.
    AcquisitionThread->ShutdownAndWait(-1);
}
