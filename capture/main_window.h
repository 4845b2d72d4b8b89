#pragma once
// TMainF: the program's main window. A multiple-document frame (QMdiArea) that owns the image
// windows, the menus, the tool bar of actions, the three-panel status bar, the palette bar, the
// cross-section pane, the cursor magnifier and the "Main acquisition controls" panel, and the
// one-shot timer that arranges the image windows. Image windows reach it through ImageWindowHost.
//
// Handlers are split by concern: main_window.cpp (construction, showing, closing, arrangement),
// main_window_files.cpp (load, save, close, window limit, Window menu, settings files),
// main_window_display.cpp (zoom, scale, palettes, cross-section, magnifier, show commands, handbook).
#include <QImage>
#include <QMainWindow>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "image_data.h"
#include "image_window_host.h"
#include "undo_record.h"

class QAction;
class QActionGroup;
class QFileDialog;
class QGroupBox;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QRadioButton;
class QTextBrowser;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;
class TChild;
class TOpenGLPanel;
class MainCCDThread;
// settings pages and camera controls
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;

// The 65536 decimal logarithms behind the logarithmic display (entry 0 holds 0), built by the main
// window's constructor.
extern std::array<float, 65536> LogScaleTable;
// Fills a table of 65536 entries: entry 0 = 0, entry i = log10(i).
void BuildLogScaleTable(float *table);

class TMainF : public QMainWindow, public ImageWindowHost
{
    Q_OBJECT
public:
    // programDirectory: the folder holding Settings/, Palettes/, Bitmaps/, Help/ (with or without
    // a trailing '/'); arguments: the command line without the program name (an image to open).
    TMainF(const std::string &programDirectory, const QStringList &arguments, QWidget *parent = nullptr);
    ~TMainF() override;

    // Run state shared with the acquisition, guide and script threads.
    bool ClosingDone = false;
    bool ShutterOpen = false;
    std::atomic<bool> Acquiring{false};
    std::atomic<bool> Continuous{false};
    bool Standby = false;
    int FilterPosition = 1;
    int CalibrationUndoTag = -1;
    std::atomic<double> DelayStart{0.0};
    std::atomic<int> DelaySeconds{0};
    ImageData UndoImage; // load buffer of the file commands and one-level undo snapshot
    std::int64_t UndoWindowTag = -1;
    // What the snapshot belongs to: the target the last operation changed and the operation.
    UndoRecord LastUndo;
    QImage PaletteFrameBitmap;                  // the frame drawn under the palette bar
    MainCCDThread *AcquisitionThread = nullptr; // the last acquisition thread started
    bool RepaintRequest = false;                // set on activation and when another window closes

    // Controls (objectName = the name in brackets).
    QMdiArea *MdiArea = nullptr;
    QWidget *SettingsPanel = nullptr;        // "Main acquisition controls"
    QTextBrowser *HandbookBrowser = nullptr; // the handbook, where no browser opens it
    QComboBox *PageList = nullptr;           // the pages' captions; chooses the page PageControl shows
    QTabWidget *PageControl = nullptr;       // the settings pages
    QWidget *ImageDisplayPage = nullptr;     // page "Image display"
    QToolButton *GrayscaleBtn = nullptr, *BlackbodyBtn = nullptr, *SpectrumBtn1 = nullptr,
                *SpectrumBtn2 = nullptr;
    QRadioButton *LinScale2 = nullptr, *LogScale2 = nullptr;
    QLabel *PalBar = nullptr;
    QGroupBox *XSectionBox = nullptr; // "Image cross-section"
    QLabel *XSectionImage = nullptr;
    TOpenGLPanel *OpenGLPanel2 = nullptr; // cursor magnifier
    std::array<QLabel *, 3> StatusPanels{};
    QToolBar *ActionToolBar = nullptr;
    QTimer *SysTimer = nullptr;
    QFileDialog *OpenDialog = nullptr;
    QFileDialog *SaveDialog = nullptr;

    // Actions of the tool bar and menus.
    QAction *Open = nullptr, *Save = nullptr, *SaveAs = nullptr, *CloseImage = nullptr, *CloseAll = nullptr,
            *Exit1 = nullptr;
    QAction *ZoomIn = nullptr, *ZoomOut = nullptr, *Zoom1 = nullptr, *ZoomFit = nullptr, *Refresh = nullptr;
    QAction *PaletteEdit = nullptr, *HeaderInfoFormShow = nullptr, *StatsFormShow = nullptr;
    QAction *Tile1 = nullptr, *Cascade1 = nullptr, *Stack1 = nullptr, *Maximize1 = nullptr;
    QAction *LinearScale1 = nullptr, *LogScale1 = nullptr;
    QAction *XSectionHorizontal = nullptr, *XSectionVertical = nullptr, *XSectionCustom = nullptr,
            *XSectionHide = nullptr;
    QAction *MainAcquisitionControls = nullptr, *Undo1 = nullptr, *Redo1 = nullptr;
    QAction *SaveSettingsDefault = nullptr, *SaveSettings = nullptr, *LoadSettings = nullptr;
    QAction *Handbook1 = nullptr;
    std::vector<QAction *> MaximumFilesItems; // "1", "2", "3", "4", "5", "10", "20", "50"
    QMenu *FileMenu = nullptr, *WindowMenu = nullptr, *ViewMenu = nullptr, *FiltersMenu = nullptr,
          *ToolsMenu = nullptr, *HelpMenu = nullptr;

    // The program directory with a trailing '/'.
    const std::string &ProgramDirectory() const { return programDirectory_; }

    // Image windows, index 0 the active (first) one, then the others from the top of the stack down.
    std::vector<TChild *> ImageWindows() const;
    TChild *FirstImageWindow() const;
    TChild *FindImageWindow(std::int64_t tag) const;
    // A new image window (base size height x width) in the frame; not yet shown.
    TChild *CreateImageWindow(int height, int width);

    // The program's singleton windows, registered at start in their creation order.
    void RegisterWindow(const char *className, QWidget *window);
    QWidget *ProgramWindow(const char *className) const;

    // ---- start, show, close (main_window.cpp)
    void FormShow();
    void FormActivate();
    void FormResize();
    bool FormCloseQuery();
    void FormClose();
    // Closes every image window, stores the rectangle and writes the settings. False (and the
    // program keeps running) when an image window refused to close.
    bool CloseSequence();
    void SysTimerTimer();
    void Exit1Click();
    void SetStatusText(int panel, const QString &text);
    QString StatusText(int panel) const;
    // Controls from CurrentSettings (the menus and pages this window holds).
    void ApplySettingsToControls();
    // Adds an action to the tool bar (and keeps it for the window's actions list).
    void AddToolAction(QAction *action);

    // ---- files (main_window_files.cpp)
    void LoadImage1Click();
    // Loads the files in turn (at most MaximumWindows, stopping at the first unreadable one) and
    // opens a window for each; returns the number of windows opened.
    int LoadImageFiles(const QStringList &files);
    void Save1Click();
    void SaveAsClick();
    bool SaveImageInFormat(const std::string &name, ImageData &image, int format) override;
    void File1Click();
    void Close1Click();
    void CloseAll1Click();
    void MaximumFilesClick(int maximum);
    void LimitOpenWindows() override;
    void WindowMenuItemClick(std::int64_t itemTag);
    void TileClick();
    void CascadeClick();
    void StackClick();
    void MaximizeClick();
    void SaveSettingsAsDefaultClick();
    void SaveSettingsClick();
    void LoadSettingsClick();
    // Writes CurrentSettings to the default settings file; false (reported) when it failed.
    bool WriteDefaultSettings();
    // Makes the folders of relative frame prefixes (at start-up and after a settings file is loaded).
    void MakeFrameFolders();

    // ---- display (main_window_display.cpp)
    void ZoomInExecute();
    void ZoomOutExecute();
    void Zoom1Execute();
    void ZoomFitExecute();
    void RefreshExecute();
    void SetDisplayScale(bool logarithmic);
    void DrawPaletteBar(const PPalette &palette);
    void DrawDefaultPaletteBar();
    void QuickPaletteClick(int index); // 0 GrayscaleBtn .. 3 SpectrumBtn2
    // "&Palette for current image..." (action PaletteEdit) and "&Default palette...": choose what
    // the palette editor edits (EditTarget) and show it.
    void PaletteForCurrentImageClick();
    void DefaultPaletteClick();
    void XSectionClick(CrossSectionMode mode);
    void UpdateImageControls(TChild *window);
    void HandbookClick();
    void ShowProgramWindow(const char *className);
    void MainAcquisitionControlsClick();

    // ---- processing menu, undo and redo (main_window_processing.cpp)
    // Undo restores what the last operation changed, on the target it changed (LastUndo); Redo
    // repeats that operation with its own values on an image window.
    void UndoActionExecute();
    void RedoActionExecute();
    // UndoImage no longer holds a window's earlier state (a file was loaded into it, or it was
    // lent as scratch): Undo and Redo are disabled until the next operation.
    void DropUndoSnapshot();
    // Undo and Redo enabled only while they can restore or repeat the last operation (its window
    // may have closed); then UndoChanged tells the processing windows to update their buttons.
    void UpdateUndoItems();
    // "Quick" histogram equalization of the first image window.
    void Quick1Click();
    // "Subtract sky": fits and subtracts the sky model of order PolyOrder in the first image window.
    void SkySubtractBtnClick();
    // "Trim custom...": the processing dialog's Trim page, its corners preset from the selection.
    void TrimCustomClick();
    // Enables each processing item whose window is built and whose operation is available.
    void UpdateProcessingItems();
    // The profile last drawn in the cross-section pane (tests read it back).
    const std::vector<int> &CrossSectionSamples() const { return crossSection_; }

    // ---- settings pages (main_window_settings.cpp) and camera controls (main_window_camera.cpp)
    // Pages "Acquisition settings", "Image descriptors", "Subframe selection", "Filter wheel
    // control", "Temperature and power control", "Calibration frames" and the level controls of
    // "Image display"; built by BuildSettingsPages() from the constructor.
    QLineEdit *IntTime = nullptr, *Delay = nullptr, *ThermalFrameFile = nullptr, *FlatFrameFile = nullptr;
    QSpinBox *NImage = nullptr, *NClear = nullptr;
    QCheckBox *DisplayImage_ = nullptr, *CCD1HasPriority = nullptr, *ThermalFrameApply = nullptr,
              *FlatFrameApply = nullptr, *AmpTurnoff = nullptr, *EnableShutter = nullptr,
              *DisableClosePrompt = nullptr, *ICAutoSet = nullptr, *NewFrameOnCapture = nullptr,
              *ReadoutCoolingDisable = nullptr, *FocusModeEnable = nullptr;
    QPushButton *DarkFileBtn = nullptr, *FlatFileBtn = nullptr;
    QCheckBox *IncrExt = nullptr, *UseFiltDesc = nullptr, *SaveProcessed = nullptr, *SaveRawImage = nullptr;
    QSpinBox *InitExt = nullptr;
    QLineEdit *Desc = nullptr, *Filters = nullptr, *SaveFile = nullptr, *ProcessedPostFix = nullptr;
    QPushButton *SaveBtn = nullptr;
    QComboBox *SaveFormat = nullptr;
    QSpinBox *XLO = nullptr, *XHI = nullptr, *YLO = nullptr, *YHI = nullptr, *YBIN = nullptr, *XBIN = nullptr;
    QAction *FullFrameAcquire = nullptr;
    QLineEdit *IntScale = nullptr;
    QSlider *IntTrackBar = nullptr, *BiasTrackBar = nullptr;
    QSpinBox *BiasLevel = nullptr, *BiasRange = nullptr, *PolyOrder = nullptr;
    QPushButton *AutoLevelsBtn = nullptr, *SkySubtractBtn = nullptr;
    QCheckBox *ThermalFrameApplyImg = nullptr, *FlatFrameApplyImg = nullptr;
    QLineEdit *ThermalFrameFileImg = nullptr, *FlatFrameFileImg = nullptr;
    QPushButton *DarkFrameBtn = nullptr, *FlatFrameBtn = nullptr, *ProcessBtn = nullptr, *BitBtn1 = nullptr;
    // Camera controls.
    QSpinBox *CCDTargetTemp = nullptr, *TempUDPeriod = nullptr, *FiltPos = nullptr;
    QPushButton *SendTargetTempBtn = nullptr, *TEPowerUpBtn = nullptr, *CCDReadTempBtn = nullptr,
                *StandbyBtn = nullptr, *ReadBatteryBtn = nullptr, *SCWBtn = nullptr, *SCCWBtn = nullptr;
    QCheckBox *TempUpdate = nullptr;
    QLabel *CCD0Temp = nullptr;
    std::array<QLineEdit *, 6> FiltName{};   // Filt1Name .. Filt6Name
    std::array<QRadioButton *, 6> FiltBtn{}; // Filt1Btn .. Filt6Btn
    QAction *ShutterStateToggle = nullptr, *USBreadtest1 = nullptr;
    QTimer *TempUDTimer = nullptr;
    // The guider window's acquiring flag, set by that window when it is built; the standby command
    // asks before powering down while it is set, and clears it.
    std::atomic<bool> *GuiderAcquiring = nullptr;

    void BuildSettingsPages(); // builds the pages above and the camera controls
    // A page inside a scroll area; a number in one of the pages' pictures ("#####0.00") with the
    // user's decimal separator.
    static QWidget *ScrolledPage(QWidget *page);
    static QString PictureText(const char *picture, double value);
    // Computes an image's display levels and shows its gain and offset in IntScale and BiasLevel.
    void ShowComputedLevels(ImageData &image);
    void BuildCameraControls();
    void ApplySettingsToPages(); // the pages' part of ApplySettingsToControls
    void ApplySettingsToCameraControls();
    void ReadCameraControlsIntoSettings();
    void UpdatePageImageControls(TChild *window); // the pages' part of UpdateImageControls
    void SetSubframeSpinEdits(int xLo, int xHi, int yLo, int yHi);
    // Copies the controls into CurrentSettings (Acquire). A value that cannot be taken (a gain that
    // is not a number, a sub-frame or binning that makes no frame) is reported, nothing is copied
    // and the result is false: the run must not start.
    bool ReadControlsIntoSettings();
    void FullFrameAcquireExecute();
    void FocusModeEnableClick();
    void SaveFormatChange();
    void UseFiltDescClick();
    void IntTrackBarChange(int position);
    void IntScaleChange();
    void BiasLevelChange();
    void BiasTrackBarChange(int position);
    void AutoLevelsBtnClick();
    void SaveBtnClick();
    void DarkFileBtnClick();
    void FlatFileBtnClick();
    void DarkFrameBtnClick();
    void FlatFrameBtnClick();
    void ProcessBtnClick();
    void BitBtn1Click();
    void CCDTargetTempChange();
    void SendTargetTempBtnClick();
    void TEPowerUpBtnClick();
    void CCDReadTempBtnClick();
    void TempUDTimerTimer();
    void TempUpdateClick();
    void TempUDPeriodChange();
    void ReadBatteryBtnClick();
    void StandbyBtnClick();
    void ShutterStateToggleExecute();
    void SCWBtnClick();
    void SCCWBtnClick();
    void FiltPosChange();
    void FiltBtnClick(int k);   // Filt1BtnClick .. Filt6BtnClick, k = 1..6
    void FiltNameChange(int k); // Filt1NameChange .. Filt6NameChange, k = 1..6
    // Turns the wheel the shorter way round to target (1..6) and shows the new position on the
    // page. Callable from the script thread. False when the wheel did not acknowledge (reported)
    // or target is not a wheel position.
    bool SelectFilter(int target);
    void USBreadtest1Click();
    // ---- end of settings pages and camera controls

    // ---- acquisition (main_window_acquire.cpp)
    QAction *Acquire = nullptr, *AcquireCont = nullptr, *Stop = nullptr;
    QTimer *DelayTimer = nullptr;                    // times the acquisition thread's waits
    std::uint64_t DelayTicket = 0;                   // the thread's wait that DelayTimer is timing
    class QMessageBox *AcquisitionMessage = nullptr; // problems of a run, shown without blocking it
    void BuildAcquisitionControls();                 // the three actions and the delay timer (constructor)
    void AcquireExecute();
    void AcquireContExecute();
    void StopExecute();
    void DelayTimerTimer();
    // Starts DelayTimer for the thread's wait `ticket` of `seconds` from `start` (process seconds).
    void StartDelayTimer(double start, int seconds, std::uint64_t ticket);
    bool AcquisitionThreadRunning() const;
    void StartAcquisitionThread(); // replaces the finished thread before and starts a new one
    // Status panel 1 and a message box that does not block the run.
    void ReportAcquisitionProblem(const QString &text);
    // Shows an acquired frame: in the active image window, or in a new one when asked, when there
    // is none, or when the active one holds unsaved changes other than the unsaved frame the run
    // put there itself (a continuous run, or frames not saved, replace their own frame and ask
    // about it once, at close). Returns the window.
    TChild *ShowAcquiredFrame(const ImageData &frame, bool newWindow);
    // The window that holds an acquired frame that was never saved, and a check sum of its pixels
    // when it was shown (an edit since changes them); null when there is none.
    TChild *UnsavedFrameWindow = nullptr;
    std::uint64_t UnsavedFramePixels = 0;
    // Ends a running acquisition at once and waits for its thread (shut-down).
    void StopAcquisitionThread();
    // ---- end of acquisition

    // ---- ImageWindowHost
    bool IsActiveImageWindow(const TChild *window) const override;
    void ImageWindowActivated(TChild *window) override;
    void ShowStatusText(const QString &text) override;
    void SetMagnifierPoint(int x, int y) override;
    void RepaintMagnifier() override;
    CrossSectionMode CrossSectionItem() const override;
    bool CrossSectionVisible() const override;
    void ShowCrossSection(CrossSectionMode mode) override;
    void XSectionHideClick() override;
    void DrawCrossSection(TChild *window, int x0, int y0, int x1, int y1) override;
    void AddWindowMenuItem(TChild *window, const QString &caption, std::int64_t itemTag) override;
    void RemoveWindowMenuItem(std::int64_t itemTag) override;
    void FastTrimClick() override;
    void StatsFormShowExecute() override;
    void ShowFocusData() override;
    void SetCaptureSpinEdits(int xLo, int xHi, int yLo, int yHi) override;
    bool TakeRepaintRequest() override;
    const float *LogScaleTable() const override;

signals:
    // Emitted after the close sequence has written the settings.
    void SettingsWritten();
    // The undo record, or whether its target is still there, may have changed.
    void UndoChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void BuildActions();
    void BuildMenus();
    void BuildCentralArea();
    void BuildStatusBar();
    void BuildImageDisplayPage();
    void OpenCommandLineImage(const QString &path);
    void StoreWindowRectangle();
    void ArrangeImageWindows(int arrangement);
    void CascadeImageWindows();
    void OpenGLPanel2Init();
    void OpenGLPanel2Paint();
    QAction *AddShowItem(QMenu *menu, const QString &caption, const char *className);
    void BuildProcessingMenu();
    // Shows the window that owns `code` after setting EditTarget 0 and LastOperation := code.
    QAction *AddProcessingItem(QMenu *menu, const char *name, const QString &caption, int code,
                               const char *className = nullptr);
    QImage PaletteBarImage(const PPalette &palette, bool defaultBar) const;
    bool CloseImageWindow(TChild *window);
    int EffectiveMaximumWindows() const;

    std::string programDirectory_;
    QStringList arguments_;
    bool shown_ = false;
    std::vector<std::pair<std::string, QWidget *>> windows_;
    std::vector<std::pair<QAction *, std::string>> showItems_;
    struct ProcessingItem {
        QAction *action;
        int code;              // operation code set before showing, -1 for none
        std::string className; // the window shown
    };
    std::vector<ProcessingItem> processingItems_;
    QActionGroup *arrangementGroup_ = nullptr;
    QActionGroup *maximumFilesGroup_ = nullptr;
    QActionGroup *scaleGroup_ = nullptr;
    QActionGroup *xSectionGroup_ = nullptr;
    std::vector<int> crossSection_;
    int magnifierX_ = 0, magnifierY_ = 0;
};

extern TMainF *MainF;
