#pragma once
// MainCCDThread: the imaging camera's acquisition thread. One object runs one single, counted or
// continuous series: per frame it clears the sensor, times the integration through the main
// window's delay timer, reads the frame, handles coolers, supplies and shutter, names, corrects,
// saves and shows the frame and waits out the frame delay. Everything that touches windows or
// settings happens on the GUI thread through blocking calls (ShowStatus, SaveFrame,
// DisplayFrame, FinishRun and the per-frame copy of the settings); FinishRun always ends the run,
// also after an exception.
#include "acquisition_frame.h"
#include "image_data.h"
#include "worker_thread.h"

#include <QString>

#include <atomic>
#include <string>

class TMainF;

class MainCCDThread : public korvi::gui::WorkerThread
{
public:
    explicit MainCCDThread(TMainF *main);
    ~MainCCDThread() override;

    // The frame counter (the number the next frame gets).
    int Counter() const { return counter_.load(); }
    // The number of frames read so far in this run.
    int FramesRead() const { return framesRead_.load(); }

protected:
    void Body() override;
    void Finish() override;

private:
    static void LinkError(int status);
    // One frame; false when the run must end at once (a calibration file is missing).
    bool AcquireFrame(const AcquisitionSettings &settings);
    AcquisitionSettings Snapshot();
    // Waits the given whole seconds through the delay timer (with a deadline backstop).
    void TimedWait(int seconds);
    void SetPriority(bool timeCritical);

    // The synchronous calls onto the GUI thread.
    void ShowStatus(const QString &status);
    // SaveFrame returns whether the file was written and tells whether the frame was shown for
    // it; DisplayFrame returns whether the frame was shown.
    bool SaveFrame(const AcquisitionSettings &settings, bool &shown);
    bool DisplayFrame(const AcquisitionSettings &settings);
    void FinishRun();

    TMainF *main_;
    QString status_;
    std::atomic<int> counter_{0};
    std::atomic<int> framesRead_{0};
    ImageData frame_;
    AcquisitionHeader header_;
    bool incrExt_ = false;
    bool focusMode_ = false;
    bool started_ = false; // the run's geometry was accepted
    int linkErrors_ = 0;   // link errors reported on this thread
};
