#include "acquisition_thread.h"

#include "camera_lock.h"
#include "file_names.h"
#include "gui_runtime.h"
#include "image_file.h"
#include "image_window.h"
#include "korvicom.h"
#include "levels.h"
#include "main_window.h"
#include "photometric.h"
#include "settings.h"
#include "text_format.h"
#include "time_scale.h"
#include "usb_error_handler.h"

#include <QAction>
#include <QMetaObject>
#include <QSpinBox>
#include <QStatusBar>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>

namespace
{

constexpr int ImagingCameraIndex = 0;
// The link status korvicom reports a failed or short pixel transfer with (FT_IO_ERROR).
constexpr int TransferFailedStatus = 4;
// How late the backstop ends a wait that the delay timer should have ended: one timer tick and a
// little slack, so the timer normally ends it and a busy GUI thread cannot stretch it further.
constexpr double BackstopSlack = 0.15;
// A shutter close the link refused is sent again this far apart, for this long (process seconds),
// before the observer is asked.
constexpr double ShutterRetryInterval = 0.05;
constexpr double ShutterRetrySeconds = 3.0;

bool FileExists(const std::string &path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

// The acquisition thread running on this thread, for the link error callback (a plain function).
thread_local MainCCDThread *runningAcquisition = nullptr;

} // namespace

// Link errors of the acquisition thread: counted for the frame, and asked about through the
// program's USB error box, but only until the user has answered Cancel for this run: the calls
// that remain in the frame would otherwise each raise one more box for the same fault.
void MainCCDThread::LinkError(int status)
{
    MainCCDThread *self = runningAcquisition;
    if (self) {
        ++self->linkErrors_;
        // The readout reports a pixel stream that fell short (or a transfer that failed) as an
        // I/O error; a refused transfer size, reported with another status, leaves the pixels whole.
        if (status == TransferFailedStatus)
            ++self->transferErrors_;
        if (self->StopRequested())
            return;
    }
    UsbErrorHandler(status);
}

MainCCDThread::MainCCDThread(TMainF *main) : WorkerThread(main), main_(main) {}

MainCCDThread::~MainCCDThread()
{
    if (isRunning()) {
        RequestShutdown();
        wait();
    }
    AfterThreadEnd();
}

AcquisitionSettings MainCCDThread::Snapshot()
{
    AcquisitionSettings settings;
    OnGuiThread([&] { settings = TakeAcquisitionSettings(CurrentSettings(), UserDecimalSeparator()); });
    return settings;
}

void MainCCDThread::TakeRunSettings(const AcquisitionSettings &s)
{
    // GUI thread. The default palette and the calibration frames are taken once for the run: the
    // palette buttons rewrite the palette while the run goes on, and reading image files builds
    // images from it, so neither may happen on this thread.
    palette_.Assign(CurrentSettings().DefaultPalettes[0]);
    calibrate_ = s.SaveProcessed && !s.FocusMode;
    if (!calibrate_)
        return;
    if (!FileExists(s.ThermalFrameFile) || !FileExists(s.FlatFrameFile)) {
        missingDark_ = !FileExists(s.ThermalFrameFile);
        missingCalibration_ = Q(missingDark_ ? s.ThermalFrameFile : s.FlatFrameFile);
        calibrationMissing_ = true;
        return;
    }
    useDark_ = s.ThermalFrameApply;
    useFlat_ = s.FlatFrameApply;
    if (useDark_ && !LoadImageFile(s.ThermalFrameFile, dark_)) {
        ReportAcquisitionProblemNow(QString::fromLatin1(ThermalFrameUnreadable));
        useDark_ = useFlat_ = false;
    } else if (useFlat_ && !LoadImageFile(s.FlatFrameFile, flat_)) {
        ReportAcquisitionProblemNow(QString::fromLatin1(FlatFrameUnreadable));
        useDark_ = useFlat_ = false;
    }
}

std::string MainCCDThread::PrepareSaveFolder(const AcquisitionSettings &s, bool continuous)
{
    // A series aimed at a folder that is not there would fail at its first frame with a box per
    // attempt: the folder is made when the folder above it exists, else the run says so once and
    // ends before anything is exposed.
    if (continuous || !s.SaveRawImage)
        return {};
    if (MakeFolderOf(s.SaveFile))
        return {};
    return "The folder " + ExtractDirectoryPart(s.SaveFile) +
           " does not exist and could not be made; nothing was acquired.";
}

void MainCCDThread::ReportAcquisitionProblemNow(const QString &text)
{
    if (korvi::gui::IsGuiThread()) {
        main_->ReportAcquisitionProblem(text);
        return;
    }
    OnGuiThread([this, &text] { main_->ReportAcquisitionProblem(text); });
}

void MainCCDThread::Body()
{
    // A Cancel in the USB error box asks this thread to stop, like a cleared run flag.
    WorkerStopRegistration registration(WorkerThreadKind::Acquisition, &StopFlag());
    runningAcquisition = this;

    AcquisitionSettings settings;
    std::string folderProblem;
    OnGuiThread([&] {
        settings = TakeAcquisitionSettings(CurrentSettings(), UserDecimalSeparator());
        TakeRunSettings(settings);
        folderProblem = PrepareSaveFolder(settings, main_->Continuous.load());
    });
    std::string problem = ComputeRunGeometry(settings, header_);
    if (problem.empty())
        problem = folderProblem;
    counter_ = settings.InitExt;
    if (!problem.empty()) {
        // Nothing is allocated or sent for a frame that cannot be read.
        status_ = Q(problem);
        OnGuiThread([this] { main_->ReportAcquisitionProblem(status_); });
        return;
    }
    started_ = true;

    for (;;) {
        settings = Snapshot(); // read afresh at every loop test
        const bool more = counter_ < settings.NImage + settings.InitExt || main_->Continuous.load();
        if (!main_->Acquiring.load() || StopRequested() || !more)
            break;
        const FrameOutcome outcome = AcquireFrame(settings);
        SetPriority(false);
        if (outcome == FrameOutcome::EndRun)
            break;
        // A frame that could not be read keeps its number for the frame taken in its place.
        if (outcome == FrameOutcome::Counted)
            ++counter_;
    }
}

MainCCDThread::FrameOutcome MainCCDThread::AcquireFrame(const AcquisitionSettings &s)
{
    const UsbErrorCallback callback = &MainCCDThread::LinkError;

    // The frame's storage and geometry.
    if (frame_.Empty || frame_.Width != header_.Columns || frame_.Height != header_.Rows) {
        if (!frame_.Allocate(header_.Columns, header_.Rows, 1))
            throw std::runtime_error("Not enough memory for a frame of " + std::to_string(header_.Columns) +
                                     " x " + std::to_string(header_.Rows) + " pixels.");
    }
    frame_.SetHeader(header_);
    frame_.SelectionShown = false;
    frame_.OriginFormat = s.SaveFormat;
    frame_.LogDisplay = s.LogDisplayScale;
    frame_.Modified = false;

    // Filter wheel supply off, clearing scans, amplifier, shutter. Every camera call holds the
    // camera lock, so a read-out of the GUI thread or another worker never meets it on the link.
    using korvi::gui::WithCamera;
    WithCamera([&] { _FiltWheelSupplyOff(callback); });
    for (int i = 1; i <= s.NClear; ++i) {
        ShowStatus(QStringLiteral("Clearing scan ") + QString::number(i) + QStringLiteral("."));
        WithCamera([&] { _ClearVCCD(ImagingCameraIndex, s.NROW, s.NCOL, callback); });
    }
    const bool amplifierLowered = LowersAmplifier(s);
    if (amplifierLowered)
        WithCamera([&] { _Vdd_Set_Low(callback); });
    // The exposure is timed from the moment the shutter command has gone out, so the shutter stays
    // open at least the whole time however long the link took to carry the command; nothing between
    // it and the wait waits for the GUI thread (the status texts are posted), so a busy GUI cannot
    // lengthen the exposure.
    double openSent = 0.0;
    const double exposureStart = WithCamera([&] {
        openSent = korvi::ScaledNow();
        if (s.EnableShutter)
            _Shutter(1, callback);
        return korvi::ScaledNow();
    });

    // Integration. Stop, or the program closing, ends the wait early: the shutter then closes at
    // once, and the frame says how long the sensor really integrated, from the middle of the open
    // command to the middle of the close command (where the controller carries them out).
    ShowStatus(QStringLiteral("Integration period."));
    const int exposureSeconds = WholeSeconds(s.IntTime);
    TimedWait(exposureStart, exposureSeconds);
    const double closeSent = korvi::ScaledNow();
    const bool cutShort = closeSent < exposureStart + exposureSeconds;
    // A close the link refused leaves the sensor in the light: it is sent again at once, for a few
    // seconds, and the observer is asked about the link only after that. A frame whose close did
    // not go out when due has had more light than its exposure says.
    bool shutterLate = false;
    double closeDone = closeSent;
    if (s.EnableShutter) {
        UsbErrorBoxHold hold;
        const double giveUp = korvi::ScaledNow() + ShutterRetrySeconds;
        for (int attempt = 1;; ++attempt) {
            const int errorsBefore = linkErrors_;
            closeDone = WithCamera([&] {
                _Shutter(0, callback);
                return korvi::ScaledNow();
            });
            if (linkErrors_ == errorsBefore)
                break;
            shutterLate = true;
            // At least one retry: a refused write alone waits out the acknowledgement's time-out.
            if (attempt >= 2 && korvi::ScaledNow() >= giveUp)
                break;
            korvi::ScaledSleep(ShutterRetryInterval);
        }
    }
    const double integrated = std::max(0.0, (closeSent + closeDone) / 2.0 - (openSent + exposureStart) / 2.0);

    // Name (not in continuous mode).
    const bool continuous = main_->Continuous.load();
    if (!continuous) {
        const int number = s.IncrExt ? counter_.load() : s.InitExt;
        const std::string name =
            FrameFileName(s.SaveFile, s.ProcessedPostFix, s.SaveProcessed, number, s.SaveFormat);
        frame_.FileName = name;
        frame_.HeaderFileName = name;
    }
    ShowStatus(status_);

    // Header texts.
    frame_.Palette.Assign(palette_);
    frame_.Gain = s.IntScale;
    // Date and time from one reading of the clock, so a frame taken at midnight never gets the old
    // day's date with the new day's time.
    const std::time_t now = std::time(nullptr);
    frame_.Date = GmtDateTimeText(false, now);
    frame_.Time = GmtDateTimeText(true, now);
    frame_.IntegrationTime = FormatFloat("0.000e+00", cutShort ? integrated : s.IntTime, s.DecimalSeparator);
    frame_.Description = s.Desc;
    frame_.Filters = s.Filters;
    // The calibration flags say what was done to this frame, and nothing has been yet.
    frame_.DarkApplied = false;
    frame_.FlatApplied = false;
    frame_.TimeStamp = NextImageTimeStamp();
    const int errorsBeforeTemperature = linkErrors_;
    const double temperature =
        static_cast<double>(WithCamera([&] { return _CCD_GetTemperature(ImagingCameraIndex, callback); }));
    // A temperature the controller did not send is left out of the header, not written as a reading.
    frame_.CCDTemperature = linkErrors_ == errorsBeforeTemperature
                                ? FormatFloat("##0.0", temperature, s.DecimalSeparator)
                                : std::string();

    // Coolers off for the readout, amplifier back on.
    const bool coolersSwitched = s.ReadoutCoolingDisable && !continuous;
    if (coolersSwitched) {
        if (s.CoolerPowerOn[0])
            WithCamera([&] { _CCDTESupplyOff(0, callback); });
        if (s.CoolerPowerOn[1])
            WithCamera([&] { _CCDTESupplyOff(1, callback); });
    }
    // The amplifier's settling holds the camera as long as a readout does: it lets a timed
    // command that is due go first, like the readout.
    if (amplifierLowered)
        korvi::gui::WithCameraReadout([&] {
            _Vdd_Set_High(callback);
            _Delay(200.0f);
        });

    // Readout, into a block cleared first: whatever a failed readout leaves in it is never the
    // last frame's pixels.
    ShowStatus(QStringLiteral("Reading CCD."));
    frame_.Rows.Fill(0);
    if (s.CCD1HasPriority)
        SetPriority(true);
    AcquisitionHeader header = header_;
    const int transferErrorsBefore = transferErrors_;
    const double seconds = korvi::gui::WithCameraReadout(
        [&] { return _ReadCCD(frame_.Rows.RowTable(), &header, ImagingCameraIndex, callback); });
    const float elapsed = static_cast<float>(seconds);
    frame_.SetHeader(header);
    // Nothing read (the device could not be opened) or a pixel stream that fell short.
    const bool readFailed = !(seconds > 0.0) || transferErrors_ != transferErrorsBefore;
    if (!readFailed)
        ++framesRead_;

    // Coolers back on (only where they were switched off), filter wheel supply on.
    if (coolersSwitched && (s.CoolerPowerOn[0] || s.CoolerPowerOn[1])) {
        WithCamera([&] {
            _CCDSendTargetTemp(0, s.CCDTargetTemp[0], callback);
            _CCDSendTargetTemp(1, s.CCDTargetTemp[1], callback);
        });
        if (s.CoolerPowerOn[0])
            WithCamera([&] { _CCDTESupplyOn(0, callback); });
        if (s.CoolerPowerOn[1])
            WithCamera([&] { _CCDTESupplyOn(1, callback); });
    }
    WithCamera([&] { _FiltWheelSupplyOn(callback); });

    if (cutShort && !readFailed) {
        const QString name =
            continuous ? QStringLiteral("The frame") : QStringLiteral("\"%1\"").arg(Q(frame_.FileName));
        cutShortNote_ = QStringLiteral("The exposure was cut short: %1 integrated %2 s of %3 s.")
                            .arg(name, Q(FormatFloat("0.0", integrated, s.DecimalSeparator)),
                                 Q(FormatFloat("0.0", s.IntTime, s.DecimalSeparator)));
        ShowStatus(cutShortNote_);
    }
    if (readFailed) {
        // The frame is neither saved, shown nor counted: the next frame takes its number.
        const QString text =
            continuous ? QStringLiteral("A frame could not be read from the camera; the acquisition goes on.")
                       : QStringLiteral("The frame \"%1\" could not be read from the camera and was not "
                                        "saved; the acquisition goes on.")
                             .arg(Q(frame_.FileName));
        ReportAcquisitionProblemNow(text);
        WaitOutDelay(s);
        return FrameOutcome::NotCounted;
    }
    if (shutterLate) {
        // Saved, it would pass for a frame of its stated exposure: neither saved, shown nor counted.
        ReportAcquisitionProblemNow(
            continuous ? QStringLiteral("The shutter did not close on time: a frame had more light than its "
                                        "exposure and was not shown; the acquisition goes on.")
                       : QStringLiteral("The shutter did not close on time: the frame \"%1\" had more light "
                                        "than its exposure and was not saved; the acquisition goes on.")
                             .arg(Q(frame_.FileName)));
        WaitOutDelay(s);
        return FrameOutcome::NotCounted;
    }

    // Display levels.
    SetNewFrameLevels(frame_, s.ICAutoSet, s.BiasLevel, s.IntScale);
    frame_.TimeStamp = NextImageTimeStamp();

    // Calibration and saving.
    const bool saveAllowed = !continuous && s.SaveRawImage;
    // Processed saving corrects the frame from the two calibration frames taken at the start of
    // the run, and ends the run when one of the files is missing (the frame is still saved,
    // uncorrected). Focus mode never corrects.
    const bool calibrationMissing = calibrate_ && calibrationMissing_;
    if (calibrate_ && !calibrationMissing && (useDark_ || useFlat_))
        Calibrate(s);
    bool shown = false;
    const bool saved = saveAllowed && SaveFrame(s, shown);
    if (saved || !saveAllowed) {
        lastAcquired_ = Q(frame_.FileName);
        acquiredAny_ = true;
    }
    if (calibrationMissing) {
        ReportAcquisitionProblemNow(
            QStringLiteral("The %1 frame file \"%2\" does not exist: the frame was %3not corrected and the "
                           "acquisition has ended.")
                .arg(missingDark_ ? QStringLiteral("dark") : QStringLiteral("flat"), missingCalibration_,
                     saved ? QStringLiteral("saved but ") : QString()));
        // The saved frame keeps its number: the next run must not save over it.
        if (saved)
            ++counter_;
        return FrameOutcome::EndRun;
    }
    // A frame that could not be saved ends the run (every later one would fail the same way); its
    // number stays free for the next run.
    if (saveAllowed && !saved)
        return FrameOutcome::EndRun;

    // A frame that was not saved is not on disk anywhere: its window asks about it at close, as
    // about any image changed since it was loaded or saved.
    if (!saved)
        frame_.Modified = true;
    // Display (unless saving has shown the frame already), focus monitor.
    if (s.DisplayImage && !shown)
        DisplayFrame(s);
    // The focus monitor measures the active image window, on the GUI thread that paints it.
    if (s.FocusMode && !ShuttingDown())
        OnGuiThread([this] { main_->ShowFocusData(); });

    WaitOutDelay(s);
    ShowStatus(QStringLiteral("CCD read in ") + Q(FormatFloat("###0.00", elapsed, s.DecimalSeparator)) +
               QStringLiteral(" s."));
    return FrameOutcome::Counted;
}

void MainCCDThread::Calibrate(const AcquisitionSettings &s)
{
    const ImageData *dark = useDark_ ? &dark_ : nullptr;
    const ImageData *flat = useFlat_ ? &flat_ : nullptr;
    const PhotometricResult corrected = CorrectWithFrames(frame_, dark, flat);
    if (corrected.Failed) {
        const bool sizes = (dark && (dark->Width != frame_.Width || dark->Height != frame_.Height)) ||
                           (flat && (flat->Width != frame_.Width || flat->Height != frame_.Height));
        ReportAcquisitionProblemNow(
            QString::fromLatin1(sizes ? CalibrationSizeMismatch : FlatFrameWithoutLevel));
    }
    // The correction resets the levels for the new pixel values; automatic levels are worked out
    // again from the corrected frame, as they were from the raw one.
    if (s.ICAutoSet && (corrected.DarkApplied || corrected.FlatApplied))
        ComputeDisplayLevels(frame_);
    frame_.Modified = false; // a camera frame, not an edit of the user's
}

void MainCCDThread::WaitOutDelay(const AcquisitionSettings &s)
{
    ShowStatus(QStringLiteral("Waitiing out delay."));
    TimedWait(korvi::ScaledNow(), WholeSeconds(s.Delay));
}

void MainCCDThread::TimedWait(double start, int seconds)
{
    const korvi::gui::ResumeGate::Ticket ticket = OpenWait();
    // The delay timer runs on the GUI thread; it resumes this thread when the time is up.
    TMainF *main = main_;
    PostToGuiThread(main, [main, start, seconds, ticket] { main->StartDelayTimer(start, seconds, ticket); });
    Suspend(ticket, start + seconds + BackstopSlack);
}

void MainCCDThread::SetPriority(bool timeCritical)
{
    // Where the system ignores thread priorities this changes nothing.
    setPriority(timeCritical ? QThread::TimeCriticalPriority : QThread::NormalPriority);
}

// ---------------------------------------------------------------------------------------------
// Synchronous calls

void MainCCDThread::ShowStatus(const QString &status)
{
    // Posted, not waited for: the texts are shown when the GUI thread gets to them.
    status_ = status;
    TMainF *main = main_;
    const QString acquiring = QStringLiteral("Acquiring ") + Q(frame_.FileName);
    PostToGuiThread(main, [main, status, acquiring] {
        if (!main->Continuous.load())
            main->SetStatusText(2, acquiring);
        main->SetStatusText(1, status);
    });
}

bool MainCCDThread::SaveFrame(const AcquisitionSettings &settings, bool &shown)
{
    // The displayed-view format writes a picture of the active image window: the frame is shown
    // first, so that the file holds this frame and not whatever was shown before it.
    const bool view = settings.SaveFormat == FormatBmp;
    shown = view && DisplayFrame(settings);
    if (view && !shown) {
        OnGuiThread([this] {
            main_->ReportAcquisitionProblem(
                QStringLiteral("The frame \"%1\" was not saved: it could not be shown for its picture.")
                    .arg(Q(frame_.FileName)));
        });
        return false;
    }
    const int format = settings.SaveFormat;
    bool written = false;
    OnGuiThread([this, format, &written] {
        written = main_->SaveImageInFormat(frame_.FileName, frame_, format);
        if (!written)
            main_->ReportAcquisitionProblem(
                QStringLiteral("The frame could not be saved to \"%1\"; the acquisition "
                               "has ended.")
                    .arg(Q(frame_.FileName)));
    });
    return written;
}

bool MainCCDThread::DisplayFrame(const AcquisitionSettings &settings)
{
    // While the program shuts down the frame is still saved, but no window is opened for it.
    if (ShuttingDown())
        return false;
    const bool newWindow = settings.NewFrameOnCapture;
    OnGuiThread([this, newWindow] { main_->ShowAcquiredFrame(frame_, newWindow); });
    return true;
}

void MainCCDThread::Finish()
{
    if (started_)
        korvi::gui::WithCamera([] { _FiltWheelSupplyOn(&MainCCDThread::LinkError); });
    runningAcquisition = nullptr;
    OnGuiThread([this] { FinishRun(); });
}

void MainCCDThread::FinishRun()
{
    // GUI thread.
    const QString failure = FailureText();
    Settings &settings = CurrentSettings();
    // Only a frame that was read (and saved, when saving) is announced.
    main_->SetStatusText(2, acquiredAny_ ? QStringLiteral("Acquired ") + lastAcquired_ : QString());
    main_->Acquiring = false;
    main_->Continuous = false;
    main_->Stop->setEnabled(false);
    main_->Acquire->setEnabled(true);
    main_->AcquireCont->setEnabled(true);
    // The counter holds a frame number only once the run has started.
    if (started_ && settings.IncrExt && !settings.FocusMode)
        settings.InitExt[0] = counter_.load(); // the next free number
    if (settings.IncrExt && main_->InitExt) {
        // The spin edit must be able to hold the next number: clamped, the next Acquire would copy
        // a smaller one back into the settings and save over frames already taken.
        if (main_->InitExt->maximum() < settings.InitExt[0])
            main_->InitExt->setMaximum(settings.InitExt[0]);
        main_->InitExt->setValue(settings.InitExt[0]);
    }
    // The next frame number is on disk at once: after a crash the next run must not start from an
    // older number and save over this night's frames.
    if (started_)
        main_->WriteDefaultSettings();
    // What ended the run stays on show: an exposure cut short says so, and how long it was.
    if (!cutShortNote_.isEmpty())
        main_->SetStatusText(1, cutShortNote_);
    if (!failure.isEmpty())
        main_->ReportAcquisitionProblem(QStringLiteral("The acquisition stopped: ") + failure);
}
