#pragma once
// TGuiderF: the window of the guiding camera. It starts the guide thread in its three modes
// (acquire guider frames, guide, calibrate), edits the guider's settings on its pages, drives the
// guiding camera's cooler and the controller's LCD, shows the guider image through 16-bit colour
// maps on a view and a ten-fold magnifier, turns a dragged selection into the guider's capture
// sub-frame, loads and saves guider images, and slews the telescope from the keyboard.
//
// The window is the guide thread's owner (GuideThreadOwner): the thread hands it every frame to
// show as a copy, posts its status texts and directions, and reports the end of its run.
#include "guiding/guide_thread.h"

#include "image_data.h"
#include "processing_target.h"

#include <QWidget>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

class ColorIndexView;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;
class TOpenGLPanel;

class TGuiderF : public QWidget, public GuideThreadOwner, public ProcessingTargetOwner
{
    Q_OBJECT
public:
    explicit TGuiderF(QWidget *parent = nullptr);
    ~TGuiderF() override;

    // ProcessingTargetOwner: the guider image as the target of the processing windows
    // (EditGuiderImage); its snapshot is the main window's UndoImage.
    ImageData *ProcessingImage(int editTarget) override;
    void BackUpForUndo(int editTarget) override;
    void ProcessingApplied(int editTarget, const QString &undoCaption, bool redo) override;
    bool UndoProcessing(int editTarget) override;
    bool CanUndoProcessing(int editTarget) const override;

    // ---- Controls (objectName = the member's name)
    QToolBar *ActionToolBar = nullptr;
    QAction *Save = nullptr, *Open = nullptr, *Acquire = nullptr, *ContAcquire = nullptr, *Stop = nullptr,
            *Clear = nullptr, *Resize = nullptr, *TrackPaddle = nullptr, *Stats = nullptr,
            *Palettes = nullptr, *HeaderInfo = nullptr, *ZoomIn = nullptr, *ZoomOut = nullptr,
            *Zoom1 = nullptr, *ZoomFit = nullptr, *Repaint = nullptr;
    QScrollArea *ImgScrollBox = nullptr;
    TOpenGLPanel *OpenGLPanel1 = nullptr; // the view
    TOpenGLPanel *OpenGLPanel2 = nullptr; // the magnifier
    QLabel *PalBar = nullptr;
    QTabWidget *PageControl1 = nullptr;
    std::array<QLabel *, 3> StatusBar{}; // pointer read-out, status text, elapsed time
    QMenu *PopupMenu = nullptr;
    QAction *Setselectiontocapturesubframe1 = nullptr, *Showstatsforselected1 = nullptr;
    QTimer *GTimer = nullptr;
    // "Guide"
    QToolButton *GuideBtn = nullptr, *MetricBtn = nullptr;
    QLabel *Correction = nullptr, *GuideStatus = nullptr, *TCtimelabel = nullptr, *TCTimeStatus = nullptr;
    QSpinBox *GuideDetent_ = nullptr, *GuideMaxExcursion_ = nullptr;
    // "Acquisition Settings"
    QLineEdit *IntTime211 = nullptr, *Delay211 = nullptr;
    QSpinBox *NImage211 = nullptr, *NClearTC = nullptr;
    QCheckBox *ReadoutCoolingDisable = nullptr, *DisplayTC = nullptr;
    // "Display settings"
    QLineEdit *IntScale = nullptr;
    QSpinBox *BiasLevel = nullptr, *PolyOrder = nullptr;
    QSlider *IntTrackBar = nullptr, *BiasTrackBar = nullptr;
    QToolButton *GrayscaleBtn = nullptr, *BlackbodyBtn = nullptr, *SpectrumBtn1 = nullptr,
                *SpectrumBtn2 = nullptr;
    QPushButton *AutoSetContrastBtn = nullptr, *SkyModelBtn = nullptr;
    // "Image descriptors"
    QLineEdit *SaveFile = nullptr;
    QPushButton *SaveBtn = nullptr;
    QSpinBox *Ext211 = nullptr;
    QCheckBox *IncrExt211 = nullptr, *Save211 = nullptr;
    QComboBox *SaveFormat = nullptr;
    // "Acquisition subframe"
    QSpinBox *XLO = nullptr, *XHI = nullptr, *YLO = nullptr, *YHI = nullptr, *MAXNCOL = nullptr,
             *MAXNROW = nullptr;
    // "Temperature control"
    QLabel *CCD1Temp = nullptr;
    QSpinBox *CCDTargetTemp = nullptr;
    QPushButton *SendTargetTempBtn = nullptr, *CCDReadTempBtn = nullptr, *TEPowerUpBtn = nullptr,
                *LCDTempToggle = nullptr;

    // ---- State shared with the guide thread and the main window
    bool Selecting = false;
    std::atomic<bool> Acquiring{false};
    std::atomic<bool> Continuous{false};
    std::array<bool, 4> GuideDirectionFlags{}; // east, west, north, south of the current pulse
    std::array<int, 2> MagnifierCentre{};      // image pixel under the pointer, last seen
    ImageData GuiderImage;
    bool TrackBarGuard = false;
    bool LCDDisplayOn = false;
    TGuiderThread *GuideThread() const { return runner_.Thread(); }
    bool GuideRunning() const { return runner_.Running(); }

    // ---- Commands
    void AcquireExecute();
    void ContAcquireExecute();
    void StopExecute();
    void GuideBtnClick();
    void MetricBtnClick();
    void ClearExecute();
    void ResizeExecute();
    void TrackPaddleExecute();
    void HeaderInfoExecute();
    void PalettesExecute();
    // Cooling and LCD
    void SendTargetTempBtnClick();
    void CCDReadTempBtnClick();
    void TEPowerUpBtnClick();
    void LCDTempToggleClick();
    // Files
    void OpenExecute();
    void SaveExecute();
    void SaveBtnClick();
    // Display
    void ZoomInExecute();
    void ZoomOutExecute();
    void Zoom1Execute();
    void ZoomFitExecute();
    void ZoomToSensor();
    void RepaintExecute();
    void AutoSetContrastBtnClick();
    void StatsExecute();     // "Show image statistics", "Show stats for selected"
    void SkyModelBtnClick(); // "Subtract sky"

    void LoadQuickPalette(const std::string &path);
    void RefreshDisplay();
    void UpdatePalBar();
    void Setselectiontocapturesubframe1Click();
    // Key slewing: Ctrl + arrow key released.
    void FormKeyUp(int key, Qt::KeyboardModifiers modifiers);

    void ApplySettingsToControls();
    void ReadControlsIntoSettings();

    // ---- View state, for the owner of the view and its tests
    // The three colour maps (red, green, blue; 65536 entries each) the view draws through.
    const std::vector<float> &DisplayMap() const { return displayMap_; }
    int MapBuilds() const { return mapBuilds_; }
    const std::vector<std::uint16_t> &MagnifierBuffer() const { return magnifier_; }
    int MagnifierColumns() const { return magnifierColumns_; }
    int MagnifierRows() const { return magnifierRows_; }
    // The name of the guide button's picture ("guide.bmp" or "noguide.bmp").
    const QString &GuidePicture() const { return guidePicture_; }

    // ---- GuideThreadOwner (all on the GUI thread)
    std::atomic<bool> &GuideAcquiring() override { return Acquiring; }
    std::atomic<bool> &GuideContinuous() override { return Continuous; }
    void ShowGuideStatus(const QString &text) override;
    void ShowGuideImageName(const QString &text) override;
    void ShowGuideFrame(const ImageData &frame, GuideFrameView view) override;
    void ShowGuideNotice(const QString &text) override;
    void ShowGuideOffset(float dx, float dy) override;
    void ShowGuideDirections(const std::array<bool, 4> &directions) override;
    bool SaveGuideFrame(ImageData &frame, int format) override;
    std::string StoreCalibration(const CalibrationResult &result) override;
    void StartGuideTimer(int intervalMs) override;
    void GuideRunFinished(const QString &failure) override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // guider_window.cpp
    void BuildToolBar();
    void BuildPages();
    QWidget *BuildGuidePage();
    QWidget *BuildAcquisitionPage();
    QWidget *BuildDisplayPage();
    QWidget *BuildDescriptorsPage();
    QWidget *BuildSubframePage();
    QWidget *BuildTemperaturePage();
    void ConnectControls();
    void FormShow();
    // Starts a run of the guide thread in the mode set in the settings; false (with a message
    // naming the field) when the guider's sub-frame or binning cannot be read.
    bool StartRun();
    void SetGuidePicture(bool guiding);
    void SetStatus(int panel, const QString &text);

    // guider_window_display.cpp
    void IntScaleChange();
    void BiasLevelChange();
    void IntTrackBarChange();
    void BiasTrackBarChange();
    void DrawDefaultPaletteBar();
    QImage PaletteBarImage(const PPalette &palette, float step) const;
    void OpenGLPanel1Init();
    void OpenGLPanel1Paint();
    void OpenGLPanel2Paint();
    void OpenGLPanel1MouseDown(Qt::MouseButton button, int x, int y);
    void OpenGLPanel1MouseMove(int x, int y);
    void OpenGLPanel1MouseUp(Qt::MouseButton button, int x, int y);
    void SetZoom(double zoom);

    GuideRunner runner_{this};
    QString guidePicture_;
    std::vector<float> displayMap_; // 3 x 65536: red, green, blue
    float lastGain_ = -1.0f, lastOffset_ = -1.0f;
    int lastPanelHeight_ = -1, lastPanelWidth_ = -1;
    int mapBuilds_ = 0;
    std::unique_ptr<ColorIndexView> view_, magnifierView_;
    std::vector<std::uint16_t> magnifier_;
    int magnifierColumns_ = 0, magnifierRows_ = 0;
    std::array<int, 2> pressPoint_{}, endPoint_{};
};

extern TGuiderF *GuiderF;
