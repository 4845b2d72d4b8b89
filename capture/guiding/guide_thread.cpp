#include "guiding/guide_thread.h"

#include "camera_lock.h"
#include "guiding/guide_star.h"
#include "image_file.h"
#include "korvicom.h"
#include "levels.h"
#include "processing/guide_shift.h"
#include "text_format.h"
#include "time_scale.h"
#include "usb_error_handler.h"

#include "gui_runtime.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace
{

constexpr int GuideCameraIndex = 1;
// How often a wait shows its elapsed and remaining time (process seconds).
constexpr double DisplayInterval = 0.1;
// Search ranges of the shift measurement (pixels): guiding looks for small corrections, a
// calibration for the long slews between its frames.
constexpr int GuideSearchRange = 10;
constexpr int CalibrationSearchRange = 40;
// A refused slew is sent again this many times in all, this far apart (process seconds).
constexpr int SlewAttempts = 20;
constexpr double SlewRetryInterval = 0.05;
// The stop at the end of a run is sent this long (process seconds) before the observer is asked.
constexpr double StopRetrySeconds = 3.0;
// The profile shift and the star's own displacement agree within this many pixels when the shift
// follows the star.
constexpr double ShiftAgreement = 1.5;
// Beyond the search range the star is looked for this many pixels further, so a star that has
// left the range is seen as such and not mistaken for whatever lies inside it.
constexpr int SearchMargin = 3;
// A box with this share of its pixels at full scale is saturated.
constexpr double SaturatedShare = 0.02;

// The guide thread running on this thread, for the link error callback (a plain function).
thread_local TGuiderThread *runningGuide = nullptr;

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

double WholeSecondsOf(float seconds)
{
    return std::isfinite(seconds) && seconds > 0.0f ? std::trunc(std::min(seconds, 1.0e9f)) : 0.0;
}

} // namespace

// Link errors of the guide thread are counted, and reported through the program's USB error box
// once per fault: the calls that fail one after the other (a link held elsewhere for a while)
// raise one box, and the next call that goes through ends the fault. After a Cancel no more boxes
// are shown for this run. The box is shown after the call, once the camera lock is free: the
// other threads go on using the camera while it waits for the observer.
void TGuiderThread::LinkError(int status)
{
    TGuiderThread *self = runningGuide;
    if (!self) {
        UsbErrorHandler(status);
        return;
    }
    ++self->linkErrors_;
    if (self->inLinkFault_ || self->StopRequested() || self->quietLink_)
        return;
    self->inLinkFault_ = true;
    ++self->linkErrorsReported_;
    self->pendingReport_ = status != 0 ? status : 4; // 4: the driver's input/output error
}

void TGuiderThread::AfterCameraCall(int errorsBefore)
{
    if (linkErrors_.load() == errorsBefore)
        inLinkFault_ = false;
    if (pendingReport_ != 0) {
        const int status = pendingReport_;
        pendingReport_ = 0;
        // The box waits for the observer: the readouts of other threads are not held back for a
        // frame whose link has failed meanwhile.
        readoutReservation_.reset();
        UsbErrorHandler(status);
    }
}

// Every camera call holds the camera lock for the call alone.
template <typename Fn> auto TGuiderThread::Camera(Fn &&fn) -> decltype(fn())
{
    const int errorsBefore = linkErrors_.load();
    if constexpr (std::is_void_v<decltype(fn())>) {
        {
            korvi::gui::CameraLock lock;
            fn();
        }
        AfterCameraCall(errorsBefore);
    } else {
        auto result = [&] {
            korvi::gui::CameraLock lock;
            return fn();
        }();
        AfterCameraCall(errorsBefore);
        return result;
    }
}

TGuiderThread::TGuiderThread(GuideThreadOwner *owner, GuideSettings settings, QObject *parent)
    : WorkerThread(parent), owner_(owner), settings_(std::move(settings))
{
}

TGuiderThread::~TGuiderThread()
{
    if (isRunning()) {
        RequestShutdown();
        wait();
    }
    AfterThreadEnd();
}

bool TGuiderThread::Running() const
{
    return owner_->GuideAcquiring().load() && !StopRequested() && !ShuttingDown();
}

void TGuiderThread::Body()
{
    // A Cancel in the USB error box asks this thread to stop, like a cleared acquiring flag.
    WorkerStopRegistration registration(WorkerThreadKind::Guide, &StopFlag());
    runningGuide = this;

    const std::string problem = GuideFrameGeometry(settings_, header_);
    if (!problem.empty()) {
        problem_ = Q(problem);
        ShowStatus(Q(problem));
        return;
    }
    if (!frame_.Allocate(header_.Columns, header_.Rows, 1))
        throw std::runtime_error("Not enough memory for a guider frame.");
    // A readout that fails leaves the block as it was: never let that be uninitialised memory.
    frame_.Rows.Fill(0);
    frame_.Palette.Assign(settings_.Palette);

    switch (settings_.GuideMode) {
    case 0:
        AcquireFrames();
        break;
    case 1:
        Guide();
        break;
    case 2:
        Calibrate();
        break;
    default:
        ShowStatus(QStringLiteral("Status: Unknown guide mode."));
        return;
    }
    // A guide or calibration run ends with a status that says how it ended; it is not
    // overwritten by "Status: Ready.".
    ShowStatus(endStatus_.isEmpty() ? QStringLiteral("Status: Ready.") : endStatus_);
}

void TGuiderThread::Finish()
{
    readoutReservation_.reset(); // a run stopped during an integration reads nothing more
    // Whatever ended the run, the mount must not keep moving.
    if (settings_.GuideMode == 1 || settings_.GuideMode == 2 || slewSent_)
        StopMount();
    runningGuide = nullptr;
    const QString failure = !FailureText().isEmpty() ? FailureText() : problem_;
    OnGuiThread([this, failure] { owner_->GuideRunFinished(failure); });
}

// ---------------------------------------------------------------------------------------------
// Frames

void TGuiderThread::PrepareFrame()
{
    const GuideSettings &s = settings_;
    frame_.SetHeader(header_);
    frame_.Description = "TC211 guider image";
    frame_.IntegrationTime = FormatFloat("0.000e+00", s.IntTime, s.DecimalSeparator);
    const std::time_t now = std::time(nullptr);
    frame_.Date = GmtDateTimeText(false, now);
    frame_.Time = GmtDateTimeText(true, now);
    frame_.OriginFormat = s.SaveFormat;
    frame_.Modified = false;
}

void TGuiderThread::ClearSensor(bool showStatus, double integration)
{
    // The frame integrates from the last clearing scan to its readout. A readout of another
    // thread (a light of the imaging camera) that began meanwhile would hold this readout back
    // and lengthen the integration by the length of that transfer, so the frame would neither
    // have the integration asked for nor show the star where it stands now. So the camera is
    // reserved for this readout from the clearing on.
    readoutReservation_.reset();
    readoutReservation_ = std::make_unique<korvi::gui::CameraReservation>(korvi::ScaledNow() + integration);
    for (int n = 1; n <= settings_.NClear; ++n) {
        Camera([&] { return _ClearVCCD(GuideCameraIndex, settings_.NROW, settings_.NCOL, &LinkError); });
        if (showStatus)
            ShowStatus(QStringLiteral("Status: Clearing (") + QString::number(n) + QStringLiteral(")"));
    }
    if (readoutReservation_) // gone when a link box was shown meanwhile
        readoutReservation_->Renew(korvi::ScaledNow() + integration);
    integrationStart_ = korvi::ScaledNow();
}

bool TGuiderThread::ReadFrame(bool switchCooler)
{
    const GuideSettings &s = settings_;
    const bool cooler = switchCooler && s.ReadoutCoolingDisable && s.CoolerPowerOn;
    if (cooler)
        Camera([&] { return _CCDTESupplyOff(GuideCameraIndex, &LinkError); });
    const int errorsBefore = linkErrors_.load();
    AcquisitionHeader header = header_;
    Camera([&] {
        // The sensor has gathered light until now (a busy moment can make it longer than asked).
        integrated_ = korvi::ScaledNow() - integrationStart_;
        return _ReadCCD(frame_.Rows.RowTable(), &header, GuideCameraIndex, &LinkError);
    });
    readoutReservation_.reset();
    const bool read = linkErrors_.load() == errorsBefore && frame_.SetHeader(header);
    ++framesRead_;
    if (cooler) {
        Camera([&] { return _CCDSendTargetTemp(GuideCameraIndex, s.CCDTargetTemp, &LinkError); });
        Camera([&] { return _CCDTESupplyOn(GuideCameraIndex, &LinkError); });
    }
    frame_.TimeStamp = NextImageTimeStamp();
    return read;
}

void TGuiderThread::AcquireFrames()
{
    const GuideSettings &s = settings_;
    for (int i = s.InitExt;; ++i) {
        const bool continuous = owner_->GuideContinuous().load();
        if ((i >= s.InitExt + s.NImage && !continuous) || !Running())
            break;
        PrepareFrame();
        if (!continuous) {
            frame_.FileName = s.SaveFile + "_" + std::to_string(s.IncrExt ? i : s.InitExt);
            QString name = Q(frame_.FileName);
            if (name.size() > 30)
                name = name.left(30) + QStringLiteral("... ");
            OnGuiThread(
                [this, name] { owner_->ShowGuideImageName(QStringLiteral("GUIDER IMAGE: ") + name); });
        }
        ClearSensor(true, WholeSecondsOf(s.IntTime));
        ShowStatus(QStringLiteral("Status: Integrating."));
        if (!WaitSeconds(WholeSecondsOf(s.IntTime), true))
            break;
        ShowStatus(QStringLiteral("Status: Reading CCD."));
        const bool read = ReadFrame(true);
        const int errorsBeforeTemperature = linkErrors_.load();
        const double temperature =
            static_cast<double>(Camera([] { return _CCD_GetTemperature(GuideCameraIndex, &LinkError); }));
        // A temperature the controller did not send is left out of the header, not written as a reading.
        frame_.CCDTemperature = linkErrors_.load() == errorsBeforeTemperature
                                    ? FormatFloat("##0.0", temperature, s.DecimalSeparator)
                                    : std::string();
        ComputeDisplayLevels(frame_);
        // A frame the link failed to read holds the last frame's pixels: it is not saved as new.
        if (s.Save && !continuous && read) {
            const int format = s.SaveFormat;
            OnGuiThread([this, format] { owner_->SaveGuideFrame(frame_, format); });
        }
        if (s.Display)
            ShowFrame(GuideFrameView::Fit);
        ShowStatus(QStringLiteral("Status: Waiting out delay."));
        if (!WaitSeconds(WholeSecondsOf(s.Delay), true))
            break;
    }
}

void TGuiderThread::ShowFrame(GuideFrameView view)
{
    if (ShuttingDown())
        return;
    OnGuiThread([this, view] { owner_->ShowGuideFrame(frame_, view); });
}

// ---------------------------------------------------------------------------------------------
// Guiding

void TGuiderThread::CleanFrame()
{
    CleanGuideBox(frame_.Rows, frame_.Width, frame_.Height, box_);
    box_.seconds = integrated_;
}

// The profiles are built on the cleaned frame: the sensor's hot pixels stay where they are while
// the star moves, and profiles that held them would pull every shift towards 0.
void TGuiderThread::TakeReference()
{
    const int rows = box_.height, columns = box_.width;
    const double background = RegionMean(box_.cleaned, rows, 0, columns, 0);
    BuildProjectionProfile(referenceRows_, box_.cleaned, rows, 0, columns, 0, background, true);
    BuildProjectionProfile(referenceColumns_, box_.cleaned, rows, 0, columns, 0, background, false);
    referenceStar_ = FindGuideStar(box_);
}

bool TGuiderThread::Measure(float &dx, float &dy, int range)
{
    return MeasureProfileShift(referenceRows_, referenceColumns_, box_.cleaned, dy, dx, box_.height, 0,
                               box_.width, 0, range, range);
}

void TGuiderThread::Guide()
{
    const GuideSettings &s = settings_;
    const std::string problem = GuideRatesProblem(s.GuideRates);
    if (!problem.empty()) {
        problem_ = QStringLiteral("Guiding did not start: ") + Q(problem);
        endStatus_ = QStringLiteral("Status: Not guiding; calibrate first.");
        ShowNotice(problem_);
        return;
    }

    // A stopped run says so on the guide page too: its "Guiding." would otherwise stay beside the
    // stopped status.
    auto stopped = [this] {
        endStatus_ = QStringLiteral("Status: Guiding stopped.");
        ShowNotice(QStringLiteral("Guiding stopped."));
    };

    // The reference frame.
    PrepareFrame();
    ClearSensor(true, WholeSecondsOf(s.IntTime));
    ShowStatus(QStringLiteral("Status: Integrating."));
    if (!WaitSeconds(WholeSecondsOf(s.IntTime), true)) {
        stopped();
        return;
    }
    if (!ReadFrame(false)) {
        problem_ = QStringLiteral("Guiding did not start: the reference frame could not be read.");
        endStatus_ = QStringLiteral("Status: Not guiding; the reference frame could not be read.");
        ShowNotice(problem_);
        return;
    }
    if (s.Display)
        ShowFrame(GuideFrameView::Keep);
    CleanFrame();
    TakeReference();
    lostReason_ = LostStarReason(0.0f, 0.0f, GuideSearchRange);
    if (!lostReason_.isEmpty()) {
        problem_ = QStringLiteral("Guiding did not start: ") + lostReason_ +
                   QStringLiteral(" in the reference frame.");
        endStatus_ = QStringLiteral("Status: Not guiding; no star in the reference frame.");
        ShowNotice(problem_);
        return;
    }
    ShowNotice(QStringLiteral("Guiding."));
    int lostCycles = 0, lostInEpisode = 0;

    GuidePulseLimiter limiter(s.GuideDetent, s.GuideMaxExcursion);
    while (Running()) {
        PrepareFrame();
        ClearSensor(true, WholeSecondsOf(s.IntTime));
        ShowStatus(QStringLiteral("Status: Integrating."));
        if (!WaitSeconds(WholeSecondsOf(s.IntTime), true))
            break;
        ShowStatus(QStringLiteral("Status: Processing."));
        const bool read = ReadFrame(false);
        if (s.Display)
            ShowFrame(GuideFrameView::Keep);
        float dx = 0.0f, dy = 0.0f;
        GuidePulse pulse;
        if (read)
            CleanFrame();
        if (read && Measure(dx, dy, GuideSearchRange)) {
            GuideThreadOwner *owner = owner_;
            PostToGuiThread(QCoreApplication::instance(),
                            [owner, dx, dy] { owner->ShowGuideOffset(dx, dy); });
            // A measurement that cannot be a star sends no pulse: following it would drive the
            // mount away from a star that is only hidden.
            const QString reason = LostStarReason(dx, dy, GuideSearchRange);
            if (reason.isEmpty()) {
                if (!lostReason_.isEmpty())
                    ShowNotice(
                        QStringLiteral("Guiding resumed at %1 after the star was lost for %2 cycles (%3).")
                            .arg(Q(GmtDateTimeText(true, std::time(nullptr))))
                            .arg(lostInEpisode)
                            .arg(lostReason_));
                if (!lostReason_.isEmpty())
                    limiter.Resume();
                lostReason_.clear();
                lostCycles = lostInEpisode = 0;
                pulse = ComputeGuidePulse(dx, dy, s.GuideRates);
                limiter.Limit(pulse);
            } else {
                if (lostReason_.isEmpty())
                    ShowNotice(
                        QStringLiteral("Star lost at %1: %2. No corrections until it is measurable again.")
                            .arg(Q(GmtDateTimeText(true, std::time(nullptr))))
                            .arg(reason));
                lostReason_ = reason;
                ++lostCycles_;
                ++lostInEpisode;
                if (++lostCycles >= MaxLostCycles) {
                    problem_ =
                        QStringLiteral("Guiding stopped: the star was lost for %1 cycles in a row (%2).")
                            .arg(lostCycles)
                            .arg(reason);
                    endStatus_ = QStringLiteral("Status: Guiding stopped; star lost.");
                    ShowNotice(problem_);
                    break;
                }
                ShowStatus(QStringLiteral("Status: Star lost; no correction this cycle."));
            }
        } else {
            // No correction from a frame the link did not deliver; the cycle still takes its time.
            ShowStatus(QStringLiteral("Status: Frame not read; no correction this cycle."));
        }
        if (!Pulse(pulse))
            break;
        ++guideCycles_;
    }
    if (endStatus_.isEmpty())
        stopped();
}

// A star is a blob, not a pixel: it is looked for on the cleaned frame near the reference star's
// place, and must have about the reference star's light and width there. A frame of cloud, hot
// pixels or a cosmic-ray hit alone, a star that has jumped out of the search range, another star
// that has come into it, or a shift measurement that does not follow the star sends no pulse.
QString TGuiderThread::LostStarReason(float dx, float dy, int range) const
{
    const int w = frame_.Width, h = frame_.Height;
    if (w < 1 || h < 1)
        return QStringLiteral("the frame is empty");
    std::size_t saturated = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            saturated += frame_.Rows[y][x] == 65535 ? 1 : 0;
    if (static_cast<double>(saturated) >= SaturatedShare * static_cast<double>(w) * h)
        return QStringLiteral("the guide box is saturated");
    if (!referenceStar_.found)
        return QStringLiteral("no star stands above the background");
    const int reach = range + SearchMargin;
    const int cx = static_cast<int>(std::lround(referenceStar_.x)),
              cy = static_cast<int>(std::lround(referenceStar_.y));
    const GuideStar star = FindGuideStar(box_, cx - reach, cy - reach, cx + reach, cy + reach);
    if (!star.found)
        return QStringLiteral("no star stands above the background");
    const double sx = star.x - referenceStar_.x, sy = star.y - referenceStar_.y;
    if (!(std::hypot(sx, sy) <= range))
        return QStringLiteral("the star is beyond the search range");
    const std::string problem = GuideStarProblem(referenceStar_, star);
    if (!problem.empty())
        return Q(problem);
    if (!(std::hypot(dx - sx, dy - sy) <= ShiftAgreement))
        return QStringLiteral("the shift measurement does not follow the star");
    if (!(std::abs(dx) < range && std::abs(dy) < range))
        return QStringLiteral("the star is beyond the search range");
    return {};
}

bool TGuiderThread::Pulse(GuidePulse pulse)
{
    const GuideSettings &s = settings_;
    // A direction whose time is 0 is not pulsed at all.
    if (!(pulse.eastWestSeconds > 0.0))
        pulse.directions[GuideEast] = pulse.directions[GuideWest] = false;
    if (!(pulse.northSouthSeconds > 0.0))
        pulse.directions[GuideNorth] = pulse.directions[GuideSouth] = false;
    directions_ = pulse.directions;
    const bool moving = std::any_of(directions_.begin(), directions_.end(), [](bool d) { return d; });
    // A link error raised by the pulse is asked about once the pulse is over: the box must not
    // keep its end from going out.
    UsbErrorBoxHold hold;
    // The ends of the pulse are reserved on the camera, so no readout of another thread begins
    // before they have gone out: each end is timed by this thread's clock alone.
    std::unique_ptr<korvi::gui::CameraReservation> reservation;
    if (moving)
        reservation = std::make_unique<korvi::gui::CameraReservation>(
            korvi::ScaledNow() + std::max(pulse.eastWestSeconds, pulse.northSouthSeconds));
    bool unsent = moving && !SendSlew();
    // The pulse is timed from the moment its start reached the controller.
    const double start = korvi::ScaledNow();
    // The reservation is always for the next end that is due.
    auto nextEnd = [&] {
        double end = 0.0;
        if (directions_[GuideEast] || directions_[GuideWest])
            end = start + pulse.eastWestSeconds;
        if ((directions_[GuideNorth] || directions_[GuideSouth]) &&
            (end == 0.0 || start + pulse.northSouthSeconds < end))
            end = start + pulse.northSouthSeconds;
        return end;
    };
    if (reservation)
        reservation->Renew(nextEnd());
    if (lostReason_.isEmpty())
        ShowStatus(QStringLiteral("Status: Ready."));
    GuideThreadOwner *owner = owner_;
    const int interval = std::max(0, s.GuideDetent) * 1000 + 1;
    PostToGuiThread(QCoreApplication::instance(), [owner, interval] { owner->StartGuideTimer(interval); });

    // Each axis stops when its time is up; the cycle ends after the detent.
    const double eastWestEnd = start + pulse.eastWestSeconds;
    const double northSouthEnd = start + pulse.northSouthSeconds;
    const double cycleEnd = start + interval * 0.001;
    for (;;) {
        const double now = korvi::ScaledNow();
        bool changed = unsent;
        if ((directions_[GuideEast] || directions_[GuideWest]) && now >= eastWestEnd) {
            directions_[GuideEast] = directions_[GuideWest] = false;
            changed = true;
        }
        if ((directions_[GuideNorth] || directions_[GuideSouth]) && now >= northSouthEnd) {
            directions_[GuideNorth] = directions_[GuideSouth] = false;
            changed = true;
        }
        // A pulse end the link refused is sent again at every poll until it goes through.
        if (changed)
            unsent = !SendSlew();
        if (reservation && !unsent) {
            if (std::any_of(directions_.begin(), directions_.end(), [](bool d) { return d; }))
                reservation->Renew(nextEnd());
            else
                reservation.reset();
        }
        if (now >= cycleEnd)
            return true;
        if (!Running())
            return false;
        double next = cycleEnd;
        if (directions_[GuideEast] || directions_[GuideWest])
            next = std::min(next, eastWestEnd);
        if (directions_[GuideNorth] || directions_[GuideSouth])
            next = std::min(next, northSouthEnd);
        // Short slices, so a stop is noticed soon.
        Suspend(OpenWait(), std::min(next, now + DisplayInterval));
    }
}

bool TGuiderThread::SendSlew()
{
    const GuideSettings &s = settings_;
    const std::array<bool, 4> d = directions_;
    // A slew the link refused leaves the mount doing what it did before, which may be moving:
    // it is sent again until it goes through (the fault is reported once), for a short while; a
    // stop as long as the stop at the end of a run. The box waits until then.
    const bool stop = std::none_of(d.begin(), d.end(), [](bool on) { return on; });
    UsbErrorBoxHold hold;
    const double giveUp = korvi::ScaledNow() + StopRetrySeconds;
    bool taken = false;
    for (int attempt = 0; !taken && (attempt < SlewAttempts || (stop && korvi::ScaledNow() < giveUp));
         ++attempt) {
        if (attempt > 0)
            korvi::ScaledSleep(SlewRetryInterval);
        const int errorsBefore = linkErrors_.load();
        Camera([&] {
            const int status = _Slew(d[GuideEast], d[GuideWest], d[GuideNorth], d[GuideSouth], s.UseKEDRO,
                                     s.InvertEastWest, s.InvertNorthSouth, &LinkError);
            slewTaken_ = korvi::ScaledNow();
            return status;
        });
        slewSent_ = true;
        taken = linkErrors_.load() == errorsBefore;
    }
    GuideThreadOwner *owner = owner_;
    PostToGuiThread(QCoreApplication::instance(), [owner, d] { owner->ShowGuideDirections(d); });
    return taken;
}

void TGuiderThread::StopMount()
{
    directions_ = {};
    // The stop has its own box; the link's boxes would only come in front of it.
    quietLink_ = true;
    for (;;) {
        const double giveUp = korvi::ScaledNow() + StopRetrySeconds;
        bool taken = false;
        while (!(taken = SendSlew()) && korvi::ScaledNow() < giveUp) {
        }
        if (taken)
            break;
        const MessageAnswer answer = korvi::gui::ShowMessage(
            QStringLiteral("The telescope drive did not take the stop command: the mount may still be "
                           "moving.\n\nOK sends the stop again; Cancel gives up (stop the mount by hand)."),
            QStringLiteral("Korvi"), MessageButtons::OkCancel, MessageIcon::Warning);
        if (answer != MessageAnswer::Ok) {
            // The run's end status has been shown already; this one replaces it, as it is what
            // the observer must know now.
            endStatus_ = QStringLiteral("Status: The mount may still be moving.");
            ShowStatus(endStatus_);
            ShowNotice(
                QStringLiteral("The telescope drive did not take the stop: the mount may still be moving. "
                               "Stop it by hand."));
            break;
        }
    }
    quietLink_ = false;
}

// ---------------------------------------------------------------------------------------------
// Calibration

bool TGuiderThread::CalibrationFrame(int number)
{
    const GuideSettings &s = settings_;
    PrepareFrame();
    ClearSensor(false, 2.0 * WholeSecondsOf(s.IntTime));
    ShowStatus(QStringLiteral("Status: Integrating (") + QString::number(number) + QStringLiteral(")."));
    if (!WaitSeconds(WholeSecondsOf(s.IntTime), false) || !WaitSeconds(WholeSecondsOf(s.IntTime), true))
        return false;
    const bool read = ReadFrame(false);
    // A calibration always shows its frames. They integrate about twice as long as the frame the
    // view's levels were set on, so they are shown with levels of their own.
    ComputeDisplayLevels(frame_);
    ShowFrame(GuideFrameView::OwnLevels);
    // Rates measured on a frame that was not read, or on one without the star, would be stored
    // as if they were right: the calibration ends here and keeps the previous rates.
    if (!read) {
        calibrationFault_ = QStringLiteral("frame %1 could not be read").arg(number);
        return false;
    }
    CleanFrame();
    if (number == 1) {
        calibrationStar_ = FindGuideStar(box_);
        if (!calibrationStar_.found) {
            calibrationFault_ = QStringLiteral("no star stands above the background in frame 1");
            return false;
        }
    } else {
        const std::string star = GuideStarProblem(calibrationStar_, FindGuideStar(box_));
        if (!star.empty()) {
            calibrationFault_ = QStringLiteral("the star was lost in frame %1 (%2)").arg(number).arg(Q(star));
            return false;
        }
    }
    return WaitSeconds(WholeSecondsOf(s.Delay), true);
}

bool TGuiderThread::SlewFor(int direction, double seconds, double *moved)
{
    directions_ = {};
    directions_[direction] = true;
    // The box of a refused start waits until the slew has been stopped.
    UsbErrorBoxHold hold;
    // The stop must go out on time: no readout of another thread may begin before it.
    korvi::gui::CameraReservation stop(korvi::ScaledNow() + seconds);
    SendSlew();
    const double started = slewTaken_;
    const bool waited = WaitSeconds(seconds, true);
    directions_ = {};
    SendSlew();
    if (moved)
        *moved = slewTaken_ - started;
    return waited;
}

void TGuiderThread::Calibrate()
{
    CalibrationShifts shifts;
    auto step = [this](const QString &text) {
        ShowStatus(text);
        ShowNotice(QStringLiteral("Calibrating: ") + text.mid(8));
    };
    auto processing = [this](int a, int b) {
        ShowStatus(QStringLiteral("Status: Processing (%1,%2).").arg(a).arg(b));
    };
    auto measure = [this](GuideRate &shift) {
        float dx = 0.0f, dy = 0.0f;
        const bool ok = Measure(dx, dy, CalibrationSearchRange);
        shift = {dx, dy};
        GuideThreadOwner *owner = owner_;
        PostToGuiThread(QCoreApplication::instance(), [owner, dx, dy] { owner->ShowGuideOffset(dx, dy); });
        return ok;
    };
    // Every step must run to its end for the rates to mean anything; a stopped calibration
    // keeps the previous rates.
    bool done = false;
    do {
        if (!CalibrationFrame(1))
            break;
        TakeReference();

        step(QStringLiteral("Status: Determining drift rate."));
        const double driftStart = korvi::ScaledNow();
        if (!WaitSeconds(20.0, true))
            break;
        shifts.driftSeconds = korvi::ScaledNow() - driftStart;
        if (!CalibrationFrame(2))
            break;
        processing(1, 2);
        measure(shifts.drift);
        TakeReference();

        step(QStringLiteral("Status: Slewing GuiderF->East."));
        if (!SlewFor(GuideEast, 10.0, &shifts.eastSeconds) || !CalibrationFrame(3))
            break;
        processing(2, 3);
        measure(shifts.east);
        TakeReference();

        step(QStringLiteral("Status: Slewing GuiderF->West."));
        if (!SlewFor(GuideWest, 10.0, &shifts.westSeconds) || !CalibrationFrame(4))
            break;
        processing(3, 4);
        measure(shifts.west);

        step(QStringLiteral("Status: Slewing GuiderF->North."));
        if (!SlewFor(GuideNorth, 10.0) || !CalibrationFrame(5))
            break;
        TakeReference();

        step(QStringLiteral("Status: Slewing GuiderF->North."));
        if (!SlewFor(GuideNorth, 10.0, &shifts.northSeconds) || !CalibrationFrame(6))
            break;
        processing(5, 6);
        measure(shifts.north);
        TakeReference();

        step(QStringLiteral("Status: Slewing north."));
        if (!SlewFor(GuideNorth, 20.0, &shifts.checkSeconds) || !CalibrationFrame(7))
            break;
        processing(6, 7);
        measure(shifts.check);
        done = true;
    } while (false);

    CalibrationResult result;
    if (done)
        result = ComputeCalibration(shifts);
    else if (!calibrationFault_.isEmpty())
        result.problem = calibrationFault_.toStdString();
    else
        result.problem = "the calibration was stopped";
    // A calibration that ran to its end and was refused, or that ended on a frame without its
    // star, is a failure the observer must see; the owner shows the result (or the refusal) in a
    // status that stays.
    if ((done && !result.ok) || !calibrationFault_.isEmpty())
        problem_ = QStringLiteral("Calibration failed: ") + Q(result.problem) +
                   QStringLiteral(". The previous guide rates were kept.");
    QString shown;
    OnGuiThread([this, &result, &shown] { shown = Q(owner_->StoreCalibration(result)); });
    endStatus_ = shown;
}

// ---------------------------------------------------------------------------------------------
// Waits and status

bool TGuiderThread::WaitSeconds(double seconds, bool showTimes)
{
    const double start = korvi::ScaledNow();
    const double end = start + seconds;
    double lastShown = -1.0;
    for (;;) {
        const double now = korvi::ScaledNow();
        if (showTimes && (lastShown < 0.0 || now - lastShown >= DisplayInterval || now >= end)) {
            lastShown = now;
            const double elapsed = now - start;
            const double remaining = std::max(0.0, end - now);
            const char separator = settings_.DecimalSeparator;
            ShowStatus(QStringLiteral("Elapsed: ") + Q(FormatFloat("######0.0", elapsed, separator)) +
                       QStringLiteral(" s, Remaining: ") + Q(FormatFloat("######0.0", remaining, separator)));
        }
        if (now >= end)
            return true;
        if (!Running())
            return false;
        Suspend(OpenWait(), std::min(end, now + DisplayInterval));
    }
}

void TGuiderThread::ShowNotice(const QString &text)
{
    GuideThreadOwner *owner = owner_;
    PostToGuiThread(QCoreApplication::instance(), [owner, text] { owner->ShowGuideNotice(text); });
}

void TGuiderThread::ShowStatus(const QString &text)
{
    GuideThreadOwner *owner = owner_;
    PostToGuiThread(QCoreApplication::instance(), [owner, text] { owner->ShowGuideStatus(text); });
}

// ---------------------------------------------------------------------------------------------
// GuideRunner

GuideRunner::~GuideRunner()
{
    Shutdown();
}

bool GuideRunner::Running() const
{
    return thread_ && !thread_->isFinished();
}

bool GuideRunner::Start(const GuideSettings &settings)
{
    if (thread_ && !thread_->isFinished())
        return false;
    thread_.reset(); // the earlier run has ended
    owner_->GuideAcquiring().store(true);
    thread_ = std::make_unique<TGuiderThread>(owner_, settings);
    thread_->start();
    return true;
}

void GuideRunner::Shutdown()
{
    if (thread_ && !thread_->isFinished())
        thread_->ShutdownAndWait(-1);
}
