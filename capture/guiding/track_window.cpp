#include "guiding/track_window.h"

#include "camera_lock.h"
#include "gui_runtime.h"
#include "korvicom.h"
#include "main_window.h"
#include "settings.h"
#include "time_scale.h"
#include "usb_error_handler.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QStyle>

#include <algorithm>

TTrackF *TrackF = nullptr;

namespace
{

// Link errors of the stop sent when the paddle window goes, counted instead of shown: that stop
// has its own box.
thread_local int stopErrors = 0;
void CountStopError(int)
{
    ++stopErrors;
}

constexpr int ClientSize = 115;
// A refused stop of a manual slew is sent again this far apart, for this long (process seconds).
constexpr double StopRetryInterval = 0.05;
constexpr double StopRetrySeconds = 3.0;

} // namespace

void PaddleClick(std::array<bool, 4> &flags, int x, int y, int w)
{
    auto toggle = [&flags](int direction, int opposite) {
        flags[direction] = !flags[direction];
        flags[opposite] = false;
    };
    if (y < w - x && y < x)
        toggle(GuideNorth, GuideSouth);
    else if (y > w - x && y > x)
        toggle(GuideSouth, GuideNorth);
    else if (y < w - x && y > x)
        toggle(GuideEast, GuideWest);
    else if (y > w - x && y < x)
        toggle(GuideWest, GuideEast);
}

std::string PaddlePictureName(const std::array<bool, 4> &f)
{
    const std::string ns = f[GuideNorth] ? "N" : f[GuideSouth] ? "S" : "";
    if (f[GuideEast])
        return "trackbtn" + ns + "E";
    if (f[GuideWest])
        return "trackbtn" + ns + "W";
    if (!ns.empty())
        return "trackbtn" + ns;
    return "trackbtn0";
}

TTrackF::TTrackF(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("TrackF"));
    setWindowTitle(QStringLiteral("Track control"));
    // The window manager draws the title beside its menu and close buttons: a window only as wide
    // as the paddle shows the title cut to "...". The window is as wide as the title needs (in a
    // bold title font, with room for the buttons) and the paddle sits in its middle.
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    const int buttons = 3 * style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    const int width =
        std::max(ClientSize, QFontMetrics(titleFont).horizontalAdvance(windowTitle()) + buttons + 16);
    setFixedSize(width, ClientSize);
    Image = new QLabel(this);
    Image->setObjectName(QStringLiteral("Image"));
    Image->setGeometry((width - ClientSize) / 2, 0, ClientSize, ClientSize);
    Image->setScaledContents(true);
    Image->setCursor(Qt::PointingHandCursor);
    Image->installEventFilter(this);
}

TTrackF::~TTrackF()
{
    // The program is ending: a slew of the paddle or the keys must not outlive it.
    korvi::gui::RunGuarded([] { StopManualSlew(); });
    if (TrackF == this)
        TrackF = nullptr;
    korvi::gui::DetachHandlers(this);
}

bool TTrackF::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Image && event->type() == QEvent::MouseButtonPress) {
        const QPoint p = static_cast<QMouseEvent *>(event)->position().toPoint();
        korvi::gui::RunGuarded([&] { ImageMouseDown(p.x(), p.y()); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TTrackF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    FormShow();
}

void TTrackF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TTrackF::FormShow()
{
    if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    UpdatePaddleBitmap();
}

void TTrackF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}

void TTrackF::UpdatePaddleBitmap()
{
    const Settings &s = CurrentSettings();
    pictureName_ = PaddlePictureName(s.ManualSlewFlags);
    // A missing picture leaves the paddle blank; clicks still work.
    Image->setPixmap(
        QPixmap(QString::fromStdString(s.ProgramDirectory + "Bitmaps/" + pictureName_ + ".bmp")));
}

void TTrackF::ImageMouseDown(int x, int y)
{
    Settings &s = CurrentSettings();
    PaddleClick(s.ManualSlewFlags, x, y, Image->width());
    UpdatePaddleBitmap();
    SendManualSlew();
}

void TTrackF::SendManualSlew()
{
    const Settings &s = CurrentSettings();
    const std::array<bool, 4> f = s.ManualSlewFlags;
    const bool stop = !(f[GuideEast] || f[GuideWest] || f[GuideNorth] || f[GuideSouth]);
    // The link's box waits until the stop has been tried for a while, and it is shown with the
    // camera free.
    UsbErrorBoxHold hold;
    const double giveUp = korvi::ScaledNow() + StopRetrySeconds;
    for (int attempt = 1;; ++attempt) {
        const int before = UsbErrorsOnThisThread();
        {
            korvi::gui::CameraLock lock;
            _Slew(f[GuideEast], f[GuideWest], f[GuideNorth], f[GuideSouth], s.UseKEDRO, s.InvertEastWest,
                  s.InvertNorthSouth, UsbErrorHandler);
        }
        // A stop is sent at least twice: a refused write alone waits out the acknowledgement's time-out.
        if (UsbErrorsOnThisThread() == before || !stop || (attempt >= 2 && korvi::ScaledNow() >= giveUp))
            return;
        korvi::ScaledSleep(StopRetryInterval);
    }
}

void TTrackF::StopManualSlew()
{
    Settings &s = CurrentSettings();
    std::array<bool, 4> &f = s.ManualSlewFlags;
    if (!(f[GuideEast] || f[GuideWest] || f[GuideNorth] || f[GuideSouth]))
        return;
    f = {};
    for (;;) {
        // Sent until the controller takes it, for a short while, then the observer is asked.
        for (int attempt = 0; attempt < 20; ++attempt) {
            if (attempt > 0)
                korvi::ScaledSleep(0.05);
            const int before = stopErrors;
            {
                korvi::gui::CameraLock lock;
                _Slew(0, 0, 0, 0, s.UseKEDRO, s.InvertEastWest, s.InvertNorthSouth, CountStopError);
            }
            if (stopErrors == before)
                return;
        }
        const MessageAnswer answer = korvi::gui::ShowMessage(
            QStringLiteral("The telescope drive did not take the stop command: the mount may still be "
                           "moving.\n\nOK sends the stop again; Cancel gives up (stop the mount by hand)."),
            QStringLiteral("Korvi"), MessageButtons::OkCancel, MessageIcon::Warning);
        if (answer != MessageAnswer::Ok)
            return;
    }
}
