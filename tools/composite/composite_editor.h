#pragma once
// TCompositeF ("Composite editor"): builds a colour picture from up to five 16-bit layers of the
// global Composite and shows one layer or the blended composite. Each layer has its own palette,
// intensity and bias; the composite adds the layers (RGB) or lets the last of the leading used
// layers set the others' brightness (LRGB). The editor also transforms, trims and equalizes
// layers, hands the current layer to the processing windows (EditTarget 4 and 5), and loads and
// saves layers, composites, its settings and the view as a bitmap.
//
// The handlers are split by concern: composite_editor.cpp (construction, layout, sliders, the
// controls), composite_view.cpp (painting, zoom, read-out, selection, bitmap export),
// composite_commands.cpp (transforms, trims, equalization, processing hand-over, undo and redo),
// composite_files.cpp (layer, composite and settings files).
#include "composite/compositor.h"
#include "processing/stars.h"
#include "processing_target.h"

#include <QCursor>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QSlider;
class QSpinBox;
class QTabWidget;
class QToolBar;
class TOpenGLPanel;

class TCompositeF : public QWidget, public ProcessingTargetOwner
{
    Q_OBJECT
public:
    explicit TCompositeF(QWidget *parent = nullptr);
    ~TCompositeF() override;

    static constexpr int CompositeView = CompositeViewSlot; // view 5: the blended composite
    static constexpr int AllLayers = CompositeLayers;       // current layer 5: the "All layers" bar

    // Slider positions (0..100) of the logarithmic intensity and bias scales, and back. A value of
    // 0 or below has no logarithm: it takes position 1, and the position stays inside the bar.
    static int IntensityPosition(double value);
    static int BiasPosition(double value);
    static double IntensityOf(int position);
    static double BiasOf(int position);

    // ---- Controls (objectName = the member's name)
    QMenuBar *MainMenu = nullptr;
    QToolBar *ToolBar = nullptr;
    QAction *RotateLayerCCW = nullptr, *RotateLayerCW = nullptr, *ShiftLayerDown = nullptr,
            *ShiftLayerUp = nullptr, *ShiftLayerLeft = nullptr, *ShiftLayerRight = nullptr,
            *Repaint = nullptr, *ZoomIn = nullptr, *ZoomOut = nullptr, *Zoom1 = nullptr, *ZoomFit = nullptr,
            *ShowStats = nullptr, *EditPalette = nullptr, *CompositeSelect = nullptr;
    std::array<QAction *, 5> LayerSelect{}; // Layer1Select .. Layer5Select
    // Menu items.
    QAction *LoadSingleImage1 = nullptr, *LoadComposite1 = nullptr, *SaveComposite1 = nullptr,
            *NewComposite1 = nullptr, *SaveSingleImage1 = nullptr, *SaveBitmap1 = nullptr,
            *SaveSettingsAs1 = nullptr, *LoadSettings1 = nullptr, *SaveSettingsDefault1 = nullptr,
            *Exit1 = nullptr;
    QAction *Undo1 = nullptr, *Redo1 = nullptr, *TrimToSelectedRegion1 = nullptr, *TrimCustom1 = nullptr,
            *Quick1 = nullptr, *Custom1 = nullptr, *Fourier1 = nullptr, *RemoveBloom1 = nullptr,
            *AlignImages1 = nullptr, *Statistics1 = nullptr, *PaletteForCurrent1 = nullptr,
            *DefaultPalette1 = nullptr, *EditPalette1 = nullptr, *About1 = nullptr, *Handbook1 = nullptr;
    QMenu *PopupMenu = nullptr;
    QAction *LoadNewImage1 = nullptr, *TrimToSelected1 = nullptr, *SelectAreaInBox1 = nullptr;

    QLabel *PalBar = nullptr;
    QTabWidget *PageControl = nullptr;
    // "Intensity and bias sliders"
    std::array<QSlider *, 5> LayerTrackBar{}; // Layer1TrackBar .. Layer5TrackBar
    QSlider *AllLayerTrackBar = nullptr;
    QLabel *AllLayerLabel = nullptr;
    QRadioButton *IntensityBtn = nullptr, *BiasBtn = nullptr;
    QLineEdit *IntBiasValue = nullptr;
    QCheckBox *AutoRepaint = nullptr;
    QPushButton *RepaintBtn = nullptr;
    // "Composite settings"
    QRadioButton *LuminanceMode = nullptr, *AdditiveMode = nullptr;
    std::array<QCheckBox *, 5> UseImage{}; // UseImage1 .. UseImage5
    // "Local transformations"
    QLineEdit *x_shift = nullptr, *y_shift = nullptr, *rotation = nullptr, *x_scale = nullptr,
              *y_scale = nullptr;
    QCheckBox *UniformScale = nullptr;
    QPushButton *PreviewBtn = nullptr, *ApplyBtn = nullptr, *ClearAllBtn = nullptr,
                *SelectFullRasterBtn = nullptr;
    QSpinBox *XLO = nullptr, *XHI = nullptr, *YLO = nullptr, *YHI = nullptr;
    std::array<QRadioButton *, 9> CentreBtn{}; // rows top, middle, bottom; columns left, middle, right
    // "Actions are applied to layer:"
    std::array<QRadioButton *, 5> LayerBtn{}; // "1" .. "5"
    QLabel *ImageName = nullptr;
    // The view.
    TOpenGLPanel *OpenGLPanel = nullptr;
    QScrollBar *HScroll = nullptr, *VScroll = nullptr;
    std::array<QLabel *, 3> StatusPanels{};
    // The view's own cursors, made at construction: the sight, zoom in and zoom out.
    QCursor SightCursor, ZoomInCursor, ZoomOutCursor;

    // ---- Layers, blending and display
    // Renders and blends the shown view again and repaints it. Called after any change to a layer,
    // by this window and by the windows that act on a layer (processing, palette editor, alignment).
    Q_INVOKABLE void RedrawComposite();
    // Saves the shown view as a 24-bit bitmap (the main window's save in the bitmap format).
    Q_INVOKABLE bool SaveViewBitmap(const QString &path);
    void DrawPaletteBar(int layer);
    void UpdateLayerControls();
    void RenderLayer(int layer, bool force);
    void ShowView(int view);
    void SelectView(int view); // Layer1Select .. CompositeSelect
    void LayerBtnClick(int layer);
    void LayerTrackBarChange(int slider, int position); // slider 5: "All layers"
    void TrackBarEnter(int slider);
    void IntBiasValueChange();
    void IntensityBiasClick();
    void UseImageClick(int layer);
    void ModeClick();
    void ZoomInExecute();
    void ZoomOutExecute();
    void Zoom1Execute();
    void ZoomFitExecute();
    // The picture the view shows (rows from the bottom), as last blended.
    const CompositePicture &Picture() const { return picture_; }
    // Scroll-box client size the view fits into.
    QSize ViewClientSize() const;

    // ---- Transforms, trim, processing, undo (composite_commands.cpp)
    void ApplyBtnClick();
    void PreviewBtnClick();
    void ClearAllBtnClick();
    void SelectFullRasterBtnClick();
    void SelectAreaInBoxClick();
    void ScaleEdited(QLineEdit *edited);
    void ShiftLayer(float dx, float dy);
    void RotateLayer(int direction); // +1 counter-clockwise, -1 clockwise
    void TrimToSelectedRegionClick();
    void TrimToSelectedClick();
    void TrimCustomClick();
    void QuickClick();
    void ProcessingItemClick(int code, const char *className); // code < 0: LastOperation stays
    void StatisticsClick();
    void PaletteForCurrentClick();
    void DefaultPaletteClick();
    void AlignImagesClick();
    void UndoClick();
    void RedoClick();
    // The editor's snapshot: settings and composite into their backups.
    void Snapshot();
    // The backups no longer hold the composite as it was before the last change (a layer or a
    // composite was loaded): Undo and Redo are disabled until the next operation.
    void ForgetUndo();
    // The main window's undo record changed: the items follow it.
    void UndoRecordChanged();

    // ---- Files (composite_files.cpp)
    void LoadSingleImageClick();
    void LoadCompositeClick();
    // "&Save composite image" (and the save of "&New composite"); false when nothing was written.
    bool SaveCompositeClick(const QString &title, const std::string &directory);
    // False when the composite was kept (Yes to saving, and it was not saved).
    bool NewCompositeClick();
    void SaveSingleImageClick();
    void SaveBitmapClick();
    void SaveSettingsAsClick();
    void LoadSettingsClick();
    void SaveSettingsDefaultClick();
    void ExitClick();
    void StoreGeometry();

    // ProcessingTargetOwner
    ImageData *ProcessingImage(int editTarget) override;
    void BackUpForUndo(int editTarget) override;
    void ProcessingApplied(int editTarget, const QString &undoCaption, bool redo) override;
    void KeepUndo(int editTarget) override;
    void ProcessingPreviewed(int editTarget) override;
    bool UndoProcessing(int editTarget) override;
    bool CanUndoProcessing(int editTarget) const override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildActions();
    void BuildMenus();
    QWidget *BuildLeftPanel();
    QWidget *BuildSliderPage();
    QWidget *BuildSettingsPage();
    QWidget *BuildTransformPage();
    QWidget *BuildView();
    void FormShow();
    void SetItems(const QString &undo, bool undoOn, const QString &redo, bool redoOn);
    ImageData *CurrentLayerImage(); // nullptr for an empty layer or current layer 5
    // The transform of the page applied to the current layer (Apply and Redo).
    struct TransformRun {
        int layer = 0;
        ImageTransform transform;
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    };
    std::optional<TransformRun> ReadTransform();
    bool RunTransform(const TransformRun &run);        // false: refused, nothing changed
    bool TransformRegionFits(const TransformRun &run); // else says so
    void ChangeLayerShape();                           // after a trim: selection, controls and view
    // View (composite_view.cpp).
    void OpenGLPanelInit();
    void OpenGLPanelPaint();
    void UpdateScrollBars();
    void PanelMouseDown(Qt::MouseButton button, int x, int y);
    void PanelMouseMove(int x, int y);
    void PanelMouseUp(Qt::MouseButton button, int x, int y);
    double ViewZoom() const;
    int CanvasX(int panelX) const;
    int CanvasY(int panelY) const;

    bool updating_ = false;      // refreshing the controls: redraw requests are ignored
    bool backupTaken_ = false;   // the backups hold a snapshot Undo may restore
    bool sliderWriting_ = false; // IntBiasValue is being written by a track bar
    bool dragging_ = false;
    int pressX_ = 0, pressY_ = 0, currentX_ = 0, currentY_ = 0; // canvas pixels
    int canvasWidth_ = 0, canvasHeight_ = 0;
    CompositePicture picture_;
    // The transform Redo repeats: set by Apply, dropped by any other change.
    std::optional<TransformRun> redoTransform_;
    // The processing operation Redo repeats; -1 when the last change is none Redo can repeat.
    int redoCode_ = -1;
    // The backups and Undo/Redo items of the work before a preview, put back after it.
    struct KeptUndo;
    std::shared_ptr<KeptUndo> kept_;
};

extern TCompositeF *CompositeF;
