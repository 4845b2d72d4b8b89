#include "script_thread.h"

#include "active_window.h"
#include "camera_lock.h"
#include "image_file.h"
#include "image_window.h"
#include "korvicom.h"
#include "levels.h"
#include "main_window.h"
#include "script_window.h"
#include "settings.h"
#include "subframe_check.h"
#include "text_format.h"
#include "time_scale.h"
#include "ui_hooks.h"
#include "usb_error_handler.h"

#include <QMdiArea>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cmath>
#include <ctime>
#include <filesystem>

namespace
{

// How long the thread sleeps between looks at the clock, the run flag and the pause gate while it
// waits (process seconds).
constexpr double WaitSlice = 0.05;

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

// The script thread running on this thread, for the link error callback (a plain function).
thread_local TScriptThread *runningScript = nullptr;

// The sensor and the settings a command reads, copied on the GUI thread (their only writer).
struct CameraSettings {
    int columns = 0, rows = 0;
    bool priority = false;
    std::string filterName;
};

} // namespace

TScriptThread::TScriptThread(TScriptF *window, TMainF *main, std::vector<std::string> lines,
                             const ScriptVariables &variables)
    : WorkerThread(window), window_(window), main_(main), lines_(std::move(lines)), variables_(variables)
{
}

TScriptThread::~TScriptThread()
{
    if (isRunning()) {
        RequestShutdown();
        wait();
    }
    AfterThreadEnd();
}

// Link errors are asked about through the program's USB error box until the user has answered
// Cancel: the calls left in the command would otherwise each raise one more box for the same fault.
void TScriptThread::LinkError(int status)
{
    if (runningScript) {
        // Counted, with the last status, so a command can tell whether its calls went through (a
        // READ, that its frame did not come whole).
        runningScript->linkErrors_.fetch_add(1);
        runningScript->lastLinkError_.store(status);
        if (runningScript->StopRequested())
            return;
    }
    UsbErrorHandler(status);
}

void TScriptThread::Pause()
{
    {
        std::lock_guard lock(pauseMutex_);
        paused_ = true;
    }
    pauseChanged_.notify_all();
}

void TScriptThread::Resume()
{
    {
        std::lock_guard lock(pauseMutex_);
        paused_ = false;
    }
    pauseChanged_.notify_all();
}

bool TScriptThread::Running() const
{
    return main_->Acquiring.load() && !StopRequested() && !ShuttingDown();
}

bool TScriptThread::Gate()
{
    std::unique_lock lock(pauseMutex_);
    // The run flag is cleared without a word to this thread (Stop of the main window): look at it
    // every few milliseconds while paused.
    while (paused_ && Running())
        pauseChanged_.wait_for(lock, std::chrono::milliseconds(20));
    return Running();
}

bool TScriptThread::Fail(const std::string &reason)
{
    error_ = QStringLiteral("Error on line %1, %2. The script has stopped.")
                 .arg(lineIndex_.load() + 1)
                 .arg(Q(reason));
    return false;
}

bool TScriptThread::Value(const std::string &text, float &value)
{
    const ScriptValue result = EvaluateScriptValue(text, variables_);
    if (!result.ok)
        return Fail(result.error);
    value = result.value;
    return true;
}

bool TScriptThread::Integer(const std::string &text, std::int32_t &value)
{
    float number = 0.0f;
    if (!Value(text, number))
        return false;
    if (!ScriptIntegerPart(number, value))
        return Fail(text + " is too large for a whole number");
    return true;
}

// ---------------------------------------------------------------------------------------------
// Execute

void TScriptThread::Body()
{
    // A Cancel in the USB error box asks this thread to stop, like a cleared run flag.
    WorkerStopRegistration registration(WorkerThreadKind::Script, &StopFlag());
    runningScript = this;
    window_->Running = true;
    variables_.LOOPN = 0;
    const int count = static_cast<int>(lines_.size());
    for (int index = 0; index < count && Running(); ++index) {
        if (!Gate())
            break;
        lineIndex_ = index;
        const ScriptLine line = SplitScriptLine(lines_[index]);
        if (line.keyword != "LOOP") {
            if (!ExecuteCommand(line))
                return;
            continue;
        }
        // The body runs to the first ENDLOOP (loops do not nest), or to the end of the script.
        const int first = index + 1;
        int end = first;
        while (end < count && SplitScriptLine(lines_[end]).keyword != "ENDLOOP")
            ++end;
        std::int32_t passes = 0;
        if (!Integer(line.arg1, passes))
            return;
        variables_.LOOPN = 1;
        while (passes >= variables_.LOOPN && Running()) {
            for (int j = first; j < end && Running(); ++j) {
                if (!Gate())
                    break;
                lineIndex_ = j;
                if (!ExecuteCommand(SplitScriptLine(lines_[j])))
                    return;
            }
            if (variables_.LOOPN == INT_MAX)
                break;
            ++variables_.LOOPN;
            if (variables_.EXTINCR && variables_.EXTNUM < INT_MAX)
                ++variables_.EXTNUM;
            RefreshVariables();
        }
        index = end; // on the ENDLOOP line
    }
}

bool TScriptThread::ExecuteCommand(const ScriptLine &line)
{
    HighlightLine();
    const std::string &k = line.keyword;
    const auto is = [&k](std::initializer_list<const char *> words) {
        return std::any_of(words.begin(), words.end(), [&k](const char *w) { return k == w; });
    };
    std::int32_t camera = 0;
    if (is({"CLEAR", "DISPLAY", "READ", "SAVE", "PELTIERON", "PELTIEROFF"})) {
        if (!Integer(line.arg1, camera))
            return false;
        if (camera != 0 && camera != 1)
            return Fail("CCD index can only be 0 or 1");
    }
    const UsbErrorCallback callback = &TScriptThread::LinkError;
    // Every camera call passes the pause gate first and holds the camera lock for the call alone.
    const auto cameraCall = [this](auto call) {
        if (!Gate())
            return false;
        korvi::gui::CameraLock lock;
        call();
        return true;
    };
    const auto settingsOf = [this](int cameraIndex, int filter) {
        CameraSettings s;
        OnGuiThread([&] {
            const Settings &settings = CurrentSettings();
            s.columns = settings.NCOL[cameraIndex];
            s.rows = settings.NROW[cameraIndex];
            s.priority = settings.CCD1HasPriority;
            if (filter >= 1 && filter <= 6)
                s.filterName = settings.FilterName[filter];
        });
        return s;
    };

    if (k == "CLEAR") {
        const CameraSettings s = settingsOf(camera, 0);
        for (int i = 1;; ++i) {
            float scans = 0.0f;
            if (!Value(line.arg2, scans))
                return false;
            if (!(scans > static_cast<float>(i - 1)))
                break;
            if (!cameraCall([&] { _ClearVCCD(camera, s.rows, s.columns, callback); }))
                return false;
            ShowStatus(QStringLiteral("Status: Clearing (%1)").arg(i));
        }
        exposureStart_ = korvi::ScaledNow();
        exposureEnd_ = -1.0;
    } else if (k == "DELAY") {
        ShowStatus(status_);
        float value = 0.0f;
        if (!Value(line.arg1, value))
            return false;
        const double unit = line.arg2 == "H" ? 3600.0 : line.arg2 == "M" ? 60.0 : 1.0;
        if (!Delay(static_cast<double>(value) * unit))
            return false;
    } else if (k == "DISPLAY") {
        ShowStatus(QStringLiteral("Status: Displaying image."));
        if (image_.Empty)
            return Fail("no image has been read yet");
        if (!ShuttingDown())
            OnGuiThread([this] {
                // The frame is shown in the main window; the window the observer watches stays in front.
                const korvi::gui::ActiveWindowKeeper keepActive;
                TChild *child = main_->CreateImageWindow(image_.Height, image_.Width);
                child->Image().Assign(image_);
                // Shown as an acquired frame is: automatic levels when the observer asks for them.
                const Settings &s = CurrentSettings();
                SetNewFrameLevels(child->Image(), s.ICAutoSet, s.BiasLevel[0], s.IntScale[0]);
                // Every window has its own tag, also when the same image is shown twice.
                child->Image().TimeStamp = NextImageTimeStamp();
                child->show();
                // Joins the Window menu and keeps the number of open windows within the limit.
                child->AttachToWindowMenu();
                main_->MdiArea->setActiveSubWindow(child);
                child->FitToWindow();
                child->RenderImage();
                main_->UpdateImageControls(child);
            });
    } else if (k == "READ") {
        ShowStatus(QStringLiteral("Status: Reading CCD."));
        if (!Read(camera))
            return false;
    } else if (k == "SHUTTERCLOSE" || k == "SHUTTEROPEN") {
        const bool open = k == "SHUTTEROPEN";
        if (!cameraCall([&] { _Shutter(open ? 1 : 0, callback); }))
            return false;
        (open ? exposureStart_ : exposureEnd_) = korvi::ScaledNow();
        if (open)
            exposureEnd_ = -1.0;
        ShowStatus(open ? QStringLiteral("Status: Opened shutter.")
                        : QStringLiteral("Status: Closed shutter."));
    } else if (k == "WAIT") {
        std::time_t target = 0;
        if (!ScriptWaitTarget(line.arg1, line.arg2, std::time(nullptr), target))
            return Fail(line.arg1 + " " + line.arg2 + " is not a moment to wait for");
        ShowStatus(QStringLiteral("Status: Waiting until ") + Q(ScriptMomentText(target)));
        setPriority(QThread::LowestPriority);
        const bool waited = WaitUntil(target);
        setPriority(QThread::NormalPriority);
        if (!waited)
            return false;
    } else if (k == "SAVE") {
        if (!Save())
            return false;
    } else if (k == "FWENABLE" || k == "FWDISABLE") {
        const bool on = k == "FWENABLE";
        if (!cameraCall([&] { (void)(on ? _FiltWheelSupplyOn(callback) : _FiltWheelSupplyOff(callback)); }))
            return false;
        ShowStatus(on ? QStringLiteral("Status: Powered on the filter wheel sensor.")
                      : QStringLiteral("Status: Powered off the filter wheel sensor."));
    } else if (k == "FWGOTO") {
        std::int32_t n = 0;
        if (!Integer(line.arg1, n))
            return false;
        if (n < 0 || n > 5)
            return Fail("Filter index must be in the range 0 to 5");
        ShowStatus(QStringLiteral("Status: Moving filter wheel."));
        // The script counts the wheel's positions from 0, the wheel from 1.
        const int position = n + 1;
        if (!cameraCall([&] { main_->SelectFilter(position); }))
            return false;
        const CameraSettings s = settingsOf(0, position);
        ShowStatus(
            QStringLiteral("Status: Moved filter wheel to position %1 (%2).").arg(n).arg(Q(s.filterName)));
    } else if (k == "PELTIERON" || k == "PELTIEROFF") {
        const bool on = k == "PELTIERON";
        if (!cameraCall(
                [&] { (void)(on ? _CCDTESupplyOn(camera, callback) : _CCDTESupplyOff(camera, callback)); }))
            return false;
        ShowStatus((on ? QStringLiteral("Status: Powered on Peltier supply (CCD %1).")
                       : QStringLiteral("Status: Powered off Peltier supply (CCD %1)."))
                       .arg(camera));
    } else if (k == "APPENDEXT" || k == "EXTINCR") {
        (k == "APPENDEXT" ? variables_.APPENDEXT : variables_.EXTINCR) = line.arg1 == "TRUE";
    } else if (is({"DATE", "TIME", "DESC", "FILENAME", "FILTERS", "FORMAT"})) {
        std::string &text = k == "DATE"       ? variables_.DATE
                            : k == "TIME"     ? variables_.TIME
                            : k == "DESC"     ? variables_.DESC
                            : k == "FILENAME" ? variables_.FILENAME
                            : k == "FILTERS"  ? variables_.FILTERS
                                              : variables_.FORMAT;
        text = line.arg1;
    } else if (is({"EXTNUM", "LOOPN", "XHI", "XLO", "YHI", "YLO", "XBIN", "YBIN"})) {
        std::int32_t value = 0;
        if (!Integer(line.arg1, value))
            return false;
        std::int32_t &variable = k == "EXTNUM"  ? variables_.EXTNUM
                                 : k == "LOOPN" ? variables_.LOOPN
                                 : k == "XHI"   ? variables_.XHI
                                 : k == "XLO"   ? variables_.XLO
                                 : k == "YHI"   ? variables_.YHI
                                 : k == "YLO"   ? variables_.YLO
                                 : k == "XBIN"  ? variables_.XBIN
                                                : variables_.YBIN;
        variable = value;
    } else if (is({"DATA1", "DATA2", "DATA3"})) {
        float value = 0.0f;
        if (!Value(line.arg1, value))
            return false;
        (k == "DATA1" ? variables_.DATA1 : k == "DATA2" ? variables_.DATA2 : variables_.DATA3) = value;
    }
    // Anything else (an ENDLOOP outside a loop, a LOOP inside one, a blank line) does nothing.
    ShowStatus(QStringLiteral("Status: Ready."));
    RefreshVariables();
    return true;
}

bool TScriptThread::Delay(double seconds)
{
    TScriptF *window = window_;
    PostToGuiThread(window, [window] { window->StartDelayDisplay(); });
    const double start = korvi::ScaledNow();
    bool completed = true;
    for (;;) {
        const double remaining = seconds - (korvi::ScaledNow() - start);
        window_->RemainingDelay = remaining;
        if (remaining <= 0.0)
            break;
        // A pause holds the delay here; its time runs on meanwhile. A stop ends it.
        if (!Gate()) {
            completed = false;
            break;
        }
        korvi::ScaledSleep(std::min(remaining, WaitSlice));
    }
    PostToGuiThread(window, [window] { window->StopDelayDisplay(); });
    return completed;
}

bool TScriptThread::WaitUntil(std::time_t target)
{
    while (std::time(nullptr) < target) {
        if (!Gate())
            return false;
        korvi::ScaledSleep(WaitSlice);
    }
    return true;
}

bool TScriptThread::Read(int camera)
{
    const auto &v = variables_;
    CameraSettings s;
    OnGuiThread([&] {
        const Settings &settings = CurrentSettings();
        s.columns = settings.NCOL[camera];
        s.rows = settings.NROW[camera];
        s.priority = settings.CCD1HasPriority;
    });
    // The frame must be one the controller can read as asked: nothing is sent otherwise.
    if (s.columns < 1 || s.rows < 1)
        return Fail("the sensor size of CCD " + std::to_string(camera) + " is not known");
    std::string problem = CheckSubframe({v.XLO, v.XHI, v.YLO, v.YHI, v.XBIN, v.YBIN, s.columns, s.rows});
    if (problem.empty() && (v.XBIN > 255 || v.YBIN > 255))
        problem = "Bins can only be 255 lines or columns.";
    if (!problem.empty()) {
        problem.pop_back(); // the sentence's full stop: the status adds its own
        problem[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(problem[0])));
        return Fail("XLO " + std::to_string(v.XLO) + ", XHI " + std::to_string(v.XHI) + ", YLO " +
                    std::to_string(v.YLO) + ", YHI " + std::to_string(v.YHI) + ", XBIN " +
                    std::to_string(v.XBIN) + ", YBIN " + std::to_string(v.YBIN) + ": " + problem);
    }
    AcquisitionHeader header;
    header.Columns = static_cast<int>((static_cast<long long>(v.XHI) - v.XLO + v.XBIN) / v.XBIN);
    header.Rows = static_cast<int>((static_cast<long long>(v.YHI) - v.YLO + v.YBIN) / v.YBIN);
    header.SensorColumns = s.columns;
    header.SensorRows = s.rows;
    header.XHigh = v.XHI;
    header.XLow = v.XLO;
    header.YHigh = v.YHI;
    header.YLow = v.YLO;
    header.YBinning = v.YBIN;
    header.XBinning = v.XBIN;
    if (image_.Empty || image_.Width != header.Columns || image_.Height != header.Rows) {
        if (!PlausibleImageSize(header.Columns, header.Rows, 1) ||
            !image_.Allocate(header.Columns, header.Rows, 1))
            return Fail("not enough memory for a frame of " + std::to_string(header.Columns) + " x " +
                        std::to_string(header.Rows) + " pixels");
    }
    // A readout that fails leaves the block as it was: never the last frame's pixels or garbage.
    image_.Rows.Fill(0);
    if (!Gate())
        return false;
    if (camera == 0 && s.priority)
        setPriority(QThread::HighestPriority);
    const int errorsBefore = linkErrors_.load();
    double seconds = 0.0;
    {
        korvi::gui::CameraLock lock(korvi::gui::CameraLock::Readout);
        seconds = _ReadCCD(image_.Rows.RowTable(), &header, camera, &TScriptThread::LinkError);
    }
    setPriority(QThread::NormalPriority);
    // Nothing read (the device could not be opened), or a link error while the frame came (a pixel
    // stream that fell short, a failed transfer): the block is not the frame the camera took, so
    // nothing may be saved or shown from it. The script image is emptied, and the line fails.
    const bool nothingRead = !(seconds > 0.0);
    if (nothingRead || linkErrors_.load() != errorsBefore) {
        image_.Free();
        const std::string why = nothingRead && linkErrors_.load() == errorsBefore
                                    ? std::string("nothing came from the camera")
                                    : std::string(_FT_Error(lastLinkError_.load()));
        return Fail("the frame of CCD " + std::to_string(camera) + " was not read whole (" + why +
                    "); nothing was saved from it");
    }
    image_.SetHeader(header);
    // Saved frames say what they are: the script's description and filters, the exposure the
    // script gave them and the sensor's temperature at the readout.
    const double exposureEnd = exposureEnd_ >= 0.0 ? exposureEnd_ : korvi::ScaledNow();
    const double exposure = exposureStart_ >= 0.0 ? std::max(0.0, exposureEnd - exposureStart_) : 0.0;
    float temperature = 0.0f;
    const int errorsBeforeTemperature = linkErrors_.load();
    {
        korvi::gui::CameraLock lock;
        temperature = static_cast<float>(_CCD_GetTemperature(camera, &TScriptThread::LinkError));
    }
    const bool temperatureRead = linkErrors_.load() == errorsBeforeTemperature;
    const char separator = UserDecimalSeparator();
    image_.Description = v.DESC;
    image_.Filters = v.FILTERS;
    image_.IntegrationTime = FormatFloat("0.000e+00", exposure, separator);
    // A temperature the controller did not send is left out of the header, not written as a reading.
    image_.CCDTemperature = temperatureRead ? FormatFloat("##0.0", temperature, separator) : std::string();
    exposureStart_ = exposureEnd_ = -1.0;
    // The frame carries the moment it was read, from one reading of the clock.
    const std::time_t now = std::time(nullptr);
    image_.Date = GmtDateTimeText(false, now);
    image_.Time = GmtDateTimeText(true, now);
    image_.FileName.clear();
    image_.HeaderFileName.clear();
    image_.Modified = false;
    image_.TimeStamp = NextImageTimeStamp();
    return true;
}

bool TScriptThread::Save()
{
    const auto &v = variables_;
    const int format = v.FORMAT == "FITS"  ? FormatFits
                       : v.FORMAT == "BMP" ? FormatBmp
                       : v.FORMAT == "PNG" ? FormatPng
                                           : FormatNative;
    std::string extension = v.FORMAT.substr(0, 3);
    for (char &c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // A name without a folder of its own path ("Frames/Dark") lies in the program folder, as the
    // acquisition's save prefix does, not in whatever folder the program was started from.
    std::string base = v.FILENAME;
    if (!base.empty() && !std::filesystem::path(base).is_absolute())
        base = main_->ProgramDirectory() + base;
    const std::string name =
        base + (v.APPENDEXT ? "_" + std::to_string(v.EXTNUM) : std::string()) + "." + extension;
    ShowStatus(QStringLiteral("Status: Saving image."));
    if (image_.Empty)
        return Fail("no image has been read yet");
    // A folder that is missing or cannot be written would raise the writer's box for every frame
    // and hold an unattended script until someone answers: the file is tried first, and the
    // script stops on its line naming the path.
    {
        ReplacingFile probe(name);
        if (!probe.Open())
            return Fail("could not open " + name +
                        " to write (check that the folder exists and can be written)");
    }
    // A write that fails on the way (the disk fills) must not wait on the writer's box either: its
    // text is taken, and the script stops on its line naming the file.
    bool written = false;
    std::string problem;
    OnGuiThread([&] {
        CollectMessages messages;
        image_.HeaderFileName = name;
        written = main_->SaveImageInFormat(name, image_, format);
        if (!messages.Texts().empty())
            problem = messages.Texts().back();
    });
    if (!written)
        return Fail("could not save the image to " + name +
                    (problem.empty() ? std::string() : " (" + problem + ")"));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Calls onto the GUI thread

void TScriptThread::ShowStatus(const QString &status)
{
    status_ = status;
    {
        std::lock_guard lock(display_->mutex);
        display_->status = status;
    }
    PostDisplay();
}

void TScriptThread::HighlightLine()
{
    {
        std::lock_guard lock(display_->mutex);
        display_->line = lineIndex_.load();
    }
    PostDisplay();
}

void TScriptThread::RefreshVariables()
{
    {
        std::lock_guard lock(display_->mutex);
        display_->variables = variables_;
    }
    PostDisplay();
}

void TScriptThread::PostDisplay()
{
    {
        std::lock_guard lock(display_->mutex);
        if (display_->queued)
            return; // the queued update will show this state too
        display_->queued = true;
    }
    TScriptF *window = window_;
    PostToGuiThread(window, [window, display = display_] {
        std::optional<QString> status;
        std::optional<int> line;
        std::optional<ScriptVariables> variables;
        {
            std::lock_guard lock(display->mutex);
            status.swap(display->status);
            line.swap(display->line);
            variables.swap(display->variables);
            display->queued = false;
        }
        if (line)
            window->HighlightLine(*line);
        if (variables) {
            window->Variables = *variables;
            window->ShowVariables();
        }
        if (status && window->Running)
            window->SetStatus(*status + QStringLiteral(" (script is running)"));
    });
}

void TScriptThread::Finish()
{
    runningScript = nullptr;
    window_->Running = false;
    QString problem = error_;
    if (problem.isEmpty() && !FailureText().isEmpty())
        problem = QStringLiteral("The script has stopped: ") + FailureText();
    OnGuiThread([this, problem] {
        window_->HighlightLine(lineIndex_.load());
        window_->Variables = variables_;
        window_->ShowVariables();
        window_->FinishScript(problem);
    });
}
