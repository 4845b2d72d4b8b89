#pragma once
// TChild: the window that shows one image. It owns the image, renders frame 0 through the image's
// palette into the image's RGBA buffer and draws that on an OpenGL panel at the image's zoom. The
// panel is only as large as the visible part of the window; the picture (image size x zoom) is a
// virtual canvas scrolled by two scroll bars, and every pointer formula works in canvas pixels.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QMdiSubWindow>

#include "image_data.h"
#include "image_render.h"

class ImageWindowHost;
class TOpenGLPanel;
class QMenu;
class QScrollBar;
class QAction;

class TChild : public QMdiSubWindow
{
    Q_OBJECT
public:
    static constexpr int CursorPatchWidth = 32;
    static constexpr int CursorPatchHeight = 12;

    // `host` may be null for a window shown alone (tests); height and width are the base size
    // used by the first render.
    TChild(ImageWindowHost *host, int height, int width, QWidget *parent = nullptr);
    ~TChild() override;

    // The window's image. The non-const form marks the pixels as changed, so the next render
    // recomputes the display buffer even when the levels are unchanged. Take it afresh for each
    // change: pixels changed through a reference kept from before a render need MarkImageChanged.
    ImageData &Image();
    const ImageData &Image() const { return image_; }
    const ImageData &ConstImage() const { return image_; }
    void MarkImageChanged() { ++contentGeneration_; }

    // The window's tag: the time stamp of its image, set by AttachToWindowMenu.
    std::int64_t Tag() const { return tag_; }

    void AttachToWindowMenu();
    // Maximises the window in its frame and fits the zoom to it.
    void FitToWindow();
    // Zoom that shows the whole image in the window as it is now (its size is kept).
    void FitZoomToClient();
    // True while the zoom is the one the last fit gave: arranging the windows fits it again.
    bool ZoomFitted() const { return zoomFitted_; }
    void RenderImage();
    // Writes the displayed picture (image size, row 0 at the bottom) as a 24-bit BMP; false and
    // nothing left behind when the file cannot be written.
    bool SaveViewBitmap(const std::string &fileName);

    // Zoom without touching the pixels (zoom commands); kept within MinimumZoom..MaximumZoom.
    void SetZoom(double zoom);
    double Zoom() const { return image_.Zoom; }

    // Pop-up menu handlers.
    void SetCaptureCoordClick();
    void TrimToSelectedClick();
    void CrossSectionSelectedClick();
    void CrossSectionHorizontalClick();
    void CrossSectionVerticalClick();
    void HideCrossSectionsClick();
    void ShowFocusDataClick();
    void ShowStatsClick();

    // The 32 x 12 RGBA block of the picture around the pointer, for the host's magnifier.
    const std::uint8_t *CursorPatch() const { return cursorPatch_.data(); }

    TOpenGLPanel *OpenGLPanel() const { return panel_; }
    QMenu *PopupMenu() const { return popup_; }
    QScrollBar *HorizontalScrollBar() const { return hScroll_; }
    QScrollBar *VerticalScrollBar() const { return vScroll_; }
    // The virtual canvas: trunc(base size x zoom), at least 1 x 1.
    int PanelWidth() const { return canvasWidth_; }
    int PanelHeight() const { return canvasHeight_; }
    int BaseWidth() const { return baseWidth_; }
    int BaseHeight() const { return baseHeight_; }
    // True while the shown selection was drawn as a line (the image's line flag only lasts for
    // the drag that draws it).
    bool LineSelectionShown() const { return image_.SelectionShown && lastSelectionWasLine_; }
    // Number of times the display buffer was recomputed (the render cache's effect is visible).
    int RenderCount() const { return renderCount_; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildPopupMenu();
    void OpenGLPanelInit();
    void OpenGLPanelPaint();
    void OpenGLPanelResize(int width, int height);
    void MouseDown(Qt::MouseButton button, int x, int y);
    void MouseMove(int x, int y);
    void MouseUp(Qt::MouseButton button, int x, int y);
    void DblClick();
    void UpdateScrollBars();
    // Viewport pixel -> canvas pixel.
    int CanvasX(int viewX) const;
    int CanvasY(int viewY) const;
    void FillAroundCanvas();
    void DrawImage();
    void BuildReducedPicture(int drawWidth, int drawHeight, double zoom);
    void DrawRubberBand();
    void ReadCursorPatch();
    const float *LogTable() const;

    ImageWindowHost *host_;
    ImageData image_;
    std::int64_t tag_ = 0;
    int baseWidth_;
    int baseHeight_;
    bool firstRender_ = true;
    bool zoomFitted_ = false;
    int canvasWidth_ = 1;
    int canvasHeight_ = 1;

    // Pointer state in canvas pixels.
    int pressX_ = 0, pressY_ = 0;
    int dragX_ = 0, dragY_ = 0;
    bool dragging_ = false;
    bool notYetMoved_ = false;
    int patchX_ = 0, patchY_ = 0; // viewport pixels
    bool cursorPatchPending_ = false;

    std::array<std::uint8_t, CursorPatchWidth * CursorPatchHeight * 4> cursorPatch_{};

    // What the display buffer was last computed from; per window.
    RenderKey lastRender_;
    bool lastSelectionWasLine_ = false;
    bool rendered_ = false;
    std::uint64_t contentGeneration_ = 0;
    int renderCount_ = 0;

    // Zoomed out: the picture reduced to the canvas, made at the first paint after a render.
    std::vector<std::uint8_t> reduced_;
    int reducedWidth_ = 0;
    int reducedHeight_ = 0;
    double reducedZoom_ = 0.0;
    bool reducedCurrent_ = false;

    TOpenGLPanel *panel_ = nullptr;
    QScrollBar *hScroll_ = nullptr;
    QScrollBar *vScroll_ = nullptr;
    QMenu *popup_ = nullptr;
};
