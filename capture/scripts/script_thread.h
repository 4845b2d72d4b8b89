#pragma once
// TScriptThread: runs a checked script line by line on its own thread. It works on a copy of the
// script's lines taken when the run starts and on its own copy of the variables, which it hands
// back to the window after every command. Camera calls hold the camera lock for the call alone;
// the status, the current line, the variables, new image windows and saving reach the GUI thread
// through blocking calls.
//
// The run flag is TMainF::Acquiring (shared with acquisition): the script runs while it is set and
// no stop was requested. Pause is a gate the thread passes before each line, before each camera
// call and inside DELAY and WAIT; a stop also releases a paused script and ends a DELAY or WAIT.
// A line whose value cannot be worked out (a division by zero, a frame that cannot be read as
// asked, a SAVE whose file cannot be written) stops the run with "Error on line N, ...", never
// with a box that would hold an unattended script. Whatever ends the run, FinishScript ends it.
#include "image_data.h"
#include "script_language.h"
#include "worker_thread.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TMainF;
class TScriptF;

class TScriptThread : public korvi::gui::WorkerThread
{
public:
    TScriptThread(TScriptF *window, TMainF *main, std::vector<std::string> lines,
                  const ScriptVariables &variables);
    ~TScriptThread() override;

    // Pause holds the thread at its next gate; Resume lets it go on.
    void Pause();
    void Resume();
    // The line being executed (0-based).
    int LineIndex() const { return lineIndex_.load(); }

protected:
    void Body() override;
    void Finish() override;

private:
    static void LinkError(int status);
    // The run goes on: the run flag is set, no stop was asked.
    bool Running() const;
    // The pause gate; false when the run has been stopped meanwhile (or was already).
    bool Gate();
    // One command; false when the run must stop (error_ says why, when it is an error).
    bool ExecuteCommand(const ScriptLine &line);
    bool Fail(const std::string &reason);
    bool Value(const std::string &text, float &value);
    bool Integer(const std::string &text, std::int32_t &value);
    bool Delay(double seconds);
    bool WaitUntil(std::time_t target);
    bool Read(int camera);
    bool Save();

    // What the window shows of the run (status, line, variables) is handed over and shown by the
    // GUI thread when it gets to it: the script does not wait for it, since a wait here could hold
    // an exposure open (between a SHUTTEROPEN and its SHUTTERCLOSE) while the GUI thread is busy.
    void ShowStatus(const QString &status);
    void HighlightLine();
    void RefreshVariables();
    void PostDisplay();

    TScriptF *window_;
    TMainF *main_;
    const std::vector<std::string> lines_;
    ScriptVariables variables_;
    ImageData image_; // the script image
    // The frame's exposure on the process clock: from the end of the last clearing scan or from
    // the shutter's opening, to its closing or to the readout (negative: not known yet).
    double exposureStart_ = -1.0, exposureEnd_ = -1.0;
    std::atomic<int> lineIndex_{0};
    // Link errors reported on this thread, and the status of the last one.
    std::atomic<int> linkErrors_{0};
    std::atomic<int> lastLinkError_{0};
    QString status_;
    QString error_; // what stopped the run, empty for a normal end or a stop
    // The newest display state not yet shown; one update is queued at a time.
    struct Display {
        std::mutex mutex;
        std::optional<QString> status;
        std::optional<int> line;
        std::optional<ScriptVariables> variables;
        bool queued = false;
    };
    std::shared_ptr<Display> display_ = std::make_shared<Display>();

    std::mutex pauseMutex_;
    std::condition_variable pauseChanged_;
    bool paused_ = false;
};
