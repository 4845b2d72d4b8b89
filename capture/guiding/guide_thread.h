#pragma once
// TGuiderThread: all camera work of the autoguider with the guiding camera, in one of three modes
// chosen when the run starts: acquire guider frames (a counted or continuous series), guide (hold
// the star at its place in a reference frame by pulsing the mount), calibrate (measure the image
// motion of each slew direction). One object runs one mode to its end.
//
// The thread reads frames into an image of its own and waits on its own clock, so neither the
// GUI nor the imaging camera's delay timer waits for it. It talks to its owner (the guider
// window, or a test) only through GuideThreadOwner: every call of that interface runs on the GUI
// thread, the displayed frame is handed over as a copy, and status texts, offsets, directions and
// the cycle timer are posted without waiting, so nothing on a guide pulse's timing path waits for
// the GUI thread.
#include "guiding/guide_arithmetic.h"
#include "guiding/guide_star.h"

#include "camera_lock.h"
#include "image_data.h"
#include "worker_thread.h"

#include <QString>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

// How the owner shows a frame of a run.
enum class GuideFrameView {
    Fit,       // zoom to fit and show the frame's own levels in the display controls (acquisition)
    Keep,      // replace the pixels only: the view keeps its zoom and display levels (guiding)
    OwnLevels, // keep the zoom, show the frame with its own display levels (calibration frames,
               // which integrate longer than the frame the view's levels were set on)
};

// What the thread needs from the window that runs it.
class GuideThreadOwner
{
public:
    virtual ~GuideThreadOwner() = default;

    // Flags shared with the thread, read at every loop test: the run goes on while acquiring is
    // set; continuous makes acquisition mode run until stopped. The owner clears them to stop.
    virtual std::atomic<bool> &GuideAcquiring() = 0;
    virtual std::atomic<bool> &GuideContinuous() = 0;

    // All of the following run on the GUI thread.
    // Status panel 1: "Status: ..." texts and the "Elapsed: ..." read-out of waits.
    virtual void ShowGuideStatus(const QString &text) = 0;
    // The frame's name ("GUIDER IMAGE: ..."), only outside continuous series.
    virtual void ShowGuideImageName(const QString &text) = 0;
    // A frame to show, as view says: the owner copies it.
    virtual void ShowGuideFrame(const ImageData &frame, GuideFrameView view) = 0;
    // A message about the guide or calibration run that stays until the next one replaces it (the
    // star lost or found again, the step a calibration is at, how the run ended).
    virtual void ShowGuideNotice(const QString &text) = 0;
    // The star's measured shift against the reference (pixels).
    virtual void ShowGuideOffset(float dx, float dy) = 0;
    // The directions now pulsed (east, west, north, south); the owner keeps them and redraws the
    // slew paddle.
    virtual void ShowGuideDirections(const std::array<bool, 4> &directions) = 0;
    // Saves the frame under its FileName in the given format; false when it was not written.
    virtual bool SaveGuideFrame(ImageData &frame, int format) = 0;
    // The end of a calibration: store the rates and check ratio when result.ok, else keep the
    // previous rates; the guide mode becomes 1 either way. Returns the status shown, which says
    // which it was (with the measured rates and axis angle).
    virtual std::string StoreCalibration(const CalibrationResult &result) = 0;
    // A guide cycle of the given length has started (the window's cycle timer).
    virtual void StartGuideTimer(int intervalMs) = 0;
    // The run has ended: clear the acquiring and continuous flags, return the buttons to idle, and
    // report failure (in a box) when it is not empty.
    virtual void GuideRunFinished(const QString &failure) = 0;
};

class TGuiderThread : public korvi::gui::WorkerThread
{
public:
    // The settings are the snapshot the run uses from start to end.
    TGuiderThread(GuideThreadOwner *owner, GuideSettings settings, QObject *parent = nullptr);
    ~TGuiderThread() override;

    // Guide cycles in a row whose frame showed no measurable star, after which guiding stops.
    static constexpr int MaxLostCycles = 12;

    // Frames read in this run, guide cycles completed (and of them those whose frame showed no
    // measurable star, which sent no correction), link errors seen and reported.
    int FramesRead() const { return framesRead_.load(); }
    int GuideCycles() const { return guideCycles_.load(); }
    int LostCycles() const { return lostCycles_.load(); }
    int LinkErrors() const { return linkErrors_.load(); }
    int LinkErrorsReported() const { return linkErrorsReported_.load(); }

protected:
    void Body() override;
    void Finish() override;

private:
    static void LinkError(int status);
    template <typename Fn> auto Camera(Fn &&fn) -> decltype(fn());

    void AcquireFrames();
    void Guide();
    void Calibrate();

    // True while the run should go on: the owner's flag is set and no stop was asked for.
    bool Running() const;
    // Waits the given process seconds on this thread, showing the elapsed and remaining time when
    // asked; false when the run was stopped during the wait.
    bool WaitSeconds(double seconds, bool showTimes);
    // Sizes the frame for the sub-frame and fills its header texts.
    void PrepareFrame();
    // Clears the sensor for an integration of the given process seconds, reserving the camera for
    // the readout that ends it (ReadFrame lets the reservation go).
    void ClearSensor(bool showStatus, double integration);
    // Reads one frame (with the cooler handling of acquisition mode when asked); false when the
    // link reported an error during the readout, so its pixels are not this frame's.
    bool ReadFrame(bool switchCooler);
    // A calibration frame: clear, integrate, read, show, wait out the delay.
    bool CalibrationFrame(int number);
    void TakeReference();
    bool Measure(float &dx, float &dy, int range);
    // Empty when the frame holds a star the shift (dx, dy) can be trusted on, else why not.
    QString LostStarReason(float dx, float dy, int range) const;
    // Pulses the directions for their times, ending each on time and the cycle after the detent;
    // false when the run was stopped meanwhile.
    bool Pulse(GuidePulse pulse);
    // Moves in one direction for the given seconds, then stops; *moved (when given) gets the
    // process seconds from the start command to the stop command as the controller took them.
    bool SlewFor(int direction, double seconds, double *moved = nullptr);
    // Sends the current directions, again for a short while when the link refuses them; true
    // when the controller took them.
    bool SendSlew();
    // Stops the mount at the end of a run: sent until the controller takes it, or until the
    // observer, told that the mount may still be moving, gives up.
    void StopMount();
    // After a camera call: ends a link fault that is over and shows the box of a new one, now
    // that the camera lock is free again.
    void AfterCameraCall(int errorsBefore);

    void ShowStatus(const QString &text);
    void ShowNotice(const QString &text);
    void ShowFrame(GuideFrameView view);
    // Cleans the frame just read of lone bright pixels into box_, where the star is measured.
    void CleanFrame();

    GuideThreadOwner *owner_;
    GuideSettings settings_;
    ImageData frame_;
    AcquisitionHeader header_;
    std::vector<float> referenceRows_, referenceColumns_;
    GuideBox box_;                  // the last frame read, cleaned of lone bright pixels
    GuideStar referenceStar_;       // the star of the reference frame
    GuideStar calibrationStar_;     // the star of a calibration's first frame
    QString calibrationFault_;      // why a calibration ended before its end (a frame not read, no star)
    double integrationStart_ = 0.0; // process time the last clearing ended
    double integrated_ = 1.0;       // process seconds the last frame read gathered light
    std::array<bool, 4> directions_{};
    std::unique_ptr<korvi::gui::CameraReservation> readoutReservation_; // from the clearing to the readout
    bool slewSent_ = false;
    double slewTaken_ = 0.0;   // process time the controller took the last slew command
    bool inLinkFault_ = false; // the last camera call failed and was reported
    bool quietLink_ = false;   // link errors are counted but not shown (the final stop has its own box)
    int pendingReport_ = 0;    // link status whose box waits until the camera lock is free
    QString problem_;          // why the run failed, shown in a box at its end
    QString endStatus_;        // the status the run ends with, in place of "Status: Ready."
    QString lostReason_;       // why the star is lost now; empty while it is measured
    std::atomic<int> framesRead_{0};
    std::atomic<int> guideCycles_{0};
    std::atomic<int> lostCycles_{0};
    std::atomic<int> linkErrors_{0};
    std::atomic<int> linkErrorsReported_{0};
};

// Starts and keeps the guide thread of one owner: a new run starts only when no earlier thread of
// this runner is still running (also after its flags were cleared, while it finishes).
class GuideRunner
{
public:
    explicit GuideRunner(GuideThreadOwner *owner) : owner_(owner) {}
    ~GuideRunner();

    // Starts a run with the snapshot; false, doing nothing, while the previous thread still runs.
    bool Start(const GuideSettings &settings);
    bool Running() const;
    TGuiderThread *Thread() const { return thread_.get(); }
    // Program end: stops the run and waits for the thread (serving its GUI calls meanwhile).
    void Shutdown();

private:
    GuideThreadOwner *owner_;
    std::unique_ptr<TGuiderThread> thread_;
};
