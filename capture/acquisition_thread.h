#pragma once
// MainCCDThread: the imaging camera's acquisition thread. One object runs one single, counted or
// continuous series: per frame it clears the sensor, times the integration through the main
// window's delay timer, reads the frame, handles coolers, supplies and shutter, names, corrects,
// saves and shows the frame and waits out the frame delay. Everything that touches windows or
// settings happens on the GUI thread: blocking calls (SaveFrame, DisplayFrame, FinishRun, the
// per-frame copy of the settings, and at the start the default palette and calibration frames)
// outside the exposure, and posted status texts (ShowStatus), so nothing between the shutter
// commands waits for the GUI thread. Every camera call holds korvi::gui::CameraLock. FinishRun
// always ends the run, also after an exception.
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
    enum class FrameOutcome {
        Counted,    // the frame was read (and saved when saving): the counter moves on
        NotCounted, // the readout failed: the next frame takes this one's number
        EndRun,     // a calibration file is missing or the frame could not be saved
    };
    static void LinkError(int status);
    FrameOutcome AcquireFrame(const AcquisitionSettings &settings);
    AcquisitionSettings Snapshot();
    // GUI thread, at the start of the run: the palette and the calibration frames.
    void TakeRunSettings(const AcquisitionSettings &settings);
    // GUI thread: makes the save folder of a saving series when the folder above it exists; the
    // problem to report when it can be neither found nor made (empty otherwise).
    static std::string PrepareSaveFolder(const AcquisitionSettings &settings, bool continuous);
    void Calibrate(const AcquisitionSettings &settings);
    void ReportAcquisitionProblemNow(const QString &text);
    void WaitOutDelay(const AcquisitionSettings &settings);
    // Waits until `seconds` whole seconds after start (process seconds) through the delay timer
    // (with a deadline backstop).
    void TimedWait(double start, int seconds);
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
    bool started_ = false;   // the run's geometry was accepted
    int linkErrors_ = 0;     // link errors reported on this thread
    int transferErrors_ = 0; // of them, failed or short transfers (FT_IO_ERROR)
    QString lastAcquired_;   // name of the last frame read (and saved, when saving)
    bool acquiredAny_ = false;
    QString cutShortNote_; // the status of an exposure cut short (Stop, closing): how long it ran
    // Taken at the start of the run on the GUI thread.
    PPalette palette_;
    bool calibrate_ = false, useDark_ = false, useFlat_ = false;
    bool calibrationMissing_ = false, missingDark_ = false;
    QString missingCalibration_; // the calibration file that does not exist
    ImageData dark_, flat_;
};
