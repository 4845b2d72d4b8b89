// TCompositeF: the view. The CPU compositor blends the shown view into one picture; the panel
// draws it at the view's zoom, scrolled inside a panel the size of the visible area, with the
// selection's rubber band over it while a drag lasts. Also zoom, the pointer read-out, the
// selection and the bitmap export.
#include "composite/composite_editor.h"

#include "bmp_file.h"
#include "composite/cf_settings.h"
#include "gui_runtime.h"
#include "opengl_panel.h"
#include "selection.h"

#include <QCursor>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QOpenGLFunctions_1_1>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace
{

// A zoom that keeps the canvas drawable: not zero, negative or absurd.
double UsableZoom(double zoom)
{
    return std::isfinite(zoom) && zoom > 1e-3 ? std::min(zoom, 64.0) : 1.0;
}

} // namespace

QWidget *TCompositeF::BuildView()
{
    auto *box = new QWidget(this);
    box->setObjectName(QStringLiteral("ImgScrollBox"));
    auto *grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    OpenGLPanel = new TOpenGLPanel(box);
    OpenGLPanel->setObjectName(QStringLiteral("OpenGLPanel"));
    OpenGLPanel->setMouseTracking(true);
    OpenGLPanel->setMinimumSize(64, 64);
    OpenGLPanel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    OpenGLPanel->installEventFilter(this);
    HScroll = new QScrollBar(Qt::Horizontal, box);
    HScroll->setObjectName(QStringLiteral("HScroll"));
    VScroll = new QScrollBar(Qt::Vertical, box);
    VScroll->setObjectName(QStringLiteral("VScroll"));
    grid->addWidget(OpenGLPanel, 0, 0);
    grid->addWidget(VScroll, 0, 1);
    grid->addWidget(HScroll, 1, 0);
    HScroll->hide();
    VScroll->hide();
    connect(HScroll, &QScrollBar::valueChanged, OpenGLPanel, qOverload<>(&QWidget::update));
    connect(VScroll, &QScrollBar::valueChanged, OpenGLPanel, qOverload<>(&QWidget::update));
    connect(OpenGLPanel, &TOpenGLPanel::OnInit, this, korvi::gui::Guarded([this] { OpenGLPanelInit(); }));
    connect(OpenGLPanel, &TOpenGLPanel::OnResize, this, korvi::gui::Guarded([this](int, int) {
                OpenGLPanelInit();
                UpdateScrollBars();
            }));
    connect(OpenGLPanel, &TOpenGLPanel::OnPaint, this, korvi::gui::Guarded([this] { OpenGLPanelPaint(); }));
    connect(OpenGLPanel, &TOpenGLPanel::MouseDown, this,
            korvi::gui::Guarded([this](Qt::MouseButton button, int x, int y, Qt::KeyboardModifiers) {
                PanelMouseDown(button, x, y);
            }));
    connect(OpenGLPanel, &TOpenGLPanel::MouseMove, this,
            korvi::gui::Guarded([this](int x, int y, Qt::MouseButtons) { PanelMouseMove(x, y); }));
    connect(
        OpenGLPanel, &TOpenGLPanel::MouseUp, this,
        korvi::gui::Guarded([this](Qt::MouseButton button, int x, int y) { PanelMouseUp(button, x, y); }));
    return box;
}

QSize TCompositeF::ViewClientSize() const
{
    return OpenGLPanel->parentWidget()->size();
}

double TCompositeF::ViewZoom() const
{
    const int view = std::clamp(CompositeEditorSettings().View, 0, CompositeView);
    return UsableZoom(Composite().Layers[view].Zoom);
}

void TCompositeF::RenderLayer(int layer, bool /*force*/)
{
    // Rendering is cheap next to reading a layer back: every request renders.
    RenderCompositeLayer(Composite(), layer);
}

void TCompositeF::RedrawComposite()
{
    if (updating_)
        return;
    const int view = std::clamp(CompositeEditorSettings().View, 0, CompositeView);
    CompositeImage &composite = Composite();
    if (view < CompositeView) {
        if (composite.LayerLoaded(view))
            RenderLayer(view, true);
    } else {
        for (int i = CompositeLayers - 1; i >= 0; --i)
            if (composite.UseInComposite[i])
                RenderLayer(i, true);
    }
    if (BlendView(composite, view, picture_)) {
        const double zoom = ViewZoom();
        canvasWidth_ = static_cast<int>(picture_.Width * zoom);
        canvasHeight_ = static_cast<int>(picture_.Height * zoom);
    } else {
        canvasWidth_ = canvasHeight_ = 0; // nothing to show: an empty layer, or no layer at all
    }
    UpdateScrollBars();
    OpenGLPanel->update();
}

void TCompositeF::UpdateScrollBars()
{
    if (!HScroll)
        return;
    const QSize client = ViewClientSize();
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    bool needH = canvasWidth_ > client.width();
    bool needV = canvasHeight_ > client.height();
    needH = canvasWidth_ > client.width() - (needV ? extent : 0);
    needV = canvasHeight_ > client.height() - (needH ? extent : 0);
    const int w = client.width() - (needV ? extent : 0);
    const int h = client.height() - (needH ? extent : 0);
    const QSignalBlocker blockH(HScroll), blockV(VScroll);
    HScroll->setRange(0, std::max(0, canvasWidth_ - w));
    HScroll->setPageStep(std::max(1, w));
    HScroll->setSingleStep(16);
    VScroll->setRange(0, std::max(0, canvasHeight_ - h));
    VScroll->setPageStep(std::max(1, h));
    VScroll->setSingleStep(16);
    HScroll->setVisible(needH);
    VScroll->setVisible(needV);
}

void TCompositeF::OpenGLPanelInit()
{
    QOpenGLFunctions_1_1 *gl = OpenGLPanel->GL();
    if (!gl)
        return;
    const int w = OpenGLPanel->width(), h = OpenGLPanel->height();
    const double dpr = OpenGLPanel->devicePixelRatioF();
    gl->glViewport(0, 0, int(w * dpr), int(h * dpr));
    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadIdentity();
    gl->glOrtho(0, w, 0, h, -1, 1);
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glLoadIdentity();
    gl->glShadeModel(GL_SMOOTH);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 2);
    gl->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
}

void TCompositeF::OpenGLPanelPaint()
{
    QOpenGLFunctions_1_1 *gl = OpenGLPanel->GL();
    if (!gl)
        return;
    gl->glClear(GL_COLOR_BUFFER_BIT);
    const int vw = OpenGLPanel->width(), vh = OpenGLPanel->height();
    if (!picture_.Rgba.empty() && canvasWidth_ > 0 && canvasHeight_ > 0) {
        const double zoom = ViewZoom();
        // Window position of the canvas' lower-left corner: picture row 0 sits at the canvas bottom.
        const double originX = -HScroll->value();
        const double originY = vh - canvasHeight_ + VScroll->value();
        const int c0 = std::clamp(static_cast<int>(std::floor(-originX / zoom)), 0, picture_.Width);
        const int r0 = std::clamp(static_cast<int>(std::floor(-originY / zoom)), 0, picture_.Height);
        const int c1 = std::clamp(static_cast<int>(std::ceil((vw - originX) / zoom)), 0, picture_.Width);
        const int r1 = std::clamp(static_cast<int>(std::ceil((vh - originY) / zoom)), 0, picture_.Height);
        if (c1 > c0 && r1 > r0) {
            const double dpr = OpenGLPanel->devicePixelRatioF();
            gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
            gl->glRasterPos2i(0, 0);
            // Moves the raster position without drawing; it may go below zero where glRasterPos may not.
            gl->glBitmap(0, 0, 0, 0, float((originX + c0 * zoom) * dpr), float((originY + r0 * zoom) * dpr),
                         nullptr);
            gl->glPixelZoom(float(zoom * dpr), float(zoom * dpr));
            gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, picture_.Width);
            gl->glPixelStorei(GL_UNPACK_SKIP_PIXELS, c0);
            gl->glPixelStorei(GL_UNPACK_SKIP_ROWS, r0);
            gl->glDrawPixels(c1 - c0, r1 - r0, GL_RGBA, GL_UNSIGNED_BYTE, picture_.Rgba.data());
            gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
            gl->glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
            gl->glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
            gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 2);
            gl->glPixelZoom(1.0f, 1.0f);
        }
    }
    if (dragging_) {
        // The rubber band: a stippled cyan rectangle from the press point to the pointer.
        const float px = float(pressX_ - HScroll->value()), py = float(vh - (pressY_ - VScroll->value()));
        const float cx = float(currentX_ - HScroll->value()), cy = float(vh - (currentY_ - VScroll->value()));
        DrawSelectionBox(gl, px, py, cx, cy);
    }
    gl->glFlush();
}

// ---------------------------------------------------------------------------------------------
// Zoom

void TCompositeF::ZoomInExecute()
{
    Composite().Layers[std::clamp(CompositeEditorSettings().View, 0, CompositeView)].Zoom *= 1.5f;
    RedrawComposite();
}

void TCompositeF::ZoomOutExecute()
{
    Composite().Layers[std::clamp(CompositeEditorSettings().View, 0, CompositeView)].Zoom *=
        static_cast<float>(0.6666666666666666);
    RedrawComposite();
}

void TCompositeF::Zoom1Execute()
{
    Composite().Layers[std::clamp(CompositeEditorSettings().View, 0, CompositeView)].Zoom = 1.0f;
    RedrawComposite();
}

void TCompositeF::ZoomFitExecute()
{
    CompositeImage &composite = Composite();
    const int view = std::clamp(CompositeEditorSettings().View, 0, CompositeView);
    int reference = NoLuminanceLayer;
    if (view < CompositeView) {
        reference = composite.LayerLoaded(view) ? view : NoLuminanceLayer;
    } else {
        // The first used layer; with none used, the first loaded one (the one the view shows).
        for (int i = 0; i < CompositeLayers && reference == NoLuminanceLayer; ++i)
            if (composite.UseInComposite[i] && composite.LayerLoaded(i))
                reference = i;
        if (reference == NoLuminanceLayer)
            reference = ReferenceLayer(composite, CompositeView);
    }
    if (reference == NoLuminanceLayer)
        return; // nothing to fit
    const double w = composite.Layers[reference].Width, h = composite.Layers[reference].Height;
    const QSize client = ViewClientSize();
    const double cw = std::max(1, client.width()), ch = std::max(1, client.height());
    composite.Layers[view].Zoom = static_cast<float>(cw / ch >= w / h ? ch / h : cw / w);
    RedrawComposite();
}

// ---------------------------------------------------------------------------------------------
// Pointer: read-out and selection

int TCompositeF::CanvasX(int panelX) const
{
    return panelX + HScroll->value();
}

int TCompositeF::CanvasY(int panelY) const
{
    // The canvas' top row is at the panel's top when not scrolled.
    return panelY + VScroll->value();
}

void TCompositeF::PanelMouseMove(int x, int y)
{
    OpenGLPanel->setCursor(SightCursor);
    ImageData *layer = CurrentLayerImage();
    if (layer && canvasWidth_ > 0 && canvasHeight_ > 0) {
        const int ix = ImageXOf(CanvasX(x), layer->Width, canvasWidth_);
        const int iy = ImageYOf(CanvasY(y), layer->Height, canvasHeight_);
        QString text = QStringLiteral("X=%1, Y=%2").arg(ix).arg(iy);
        if (ix >= 0 && iy >= 0 && ix < layer->Width && iy < layer->Height)
            text += QStringLiteral(", Value: %1").arg(layer->FrameRow(0, iy)[ix]);
        else
            text += QStringLiteral(", Excluded pixel.");
        StatusPanels[0]->setText(text);
    }
    if (dragging_) {
        currentX_ = CanvasX(x);
        currentY_ = CanvasY(y);
        OpenGLPanel->update();
    }
}

void TCompositeF::PanelMouseDown(Qt::MouseButton button, int x, int y)
{
    if (button == Qt::RightButton) {
        PopupMenu->popup(OpenGLPanel->mapToGlobal(QPoint(x, y)));
        return;
    }
    if (button != Qt::LeftButton)
        return;
    ImageData *layer = CurrentLayerImage();
    if (!layer || canvasWidth_ <= 0 || canvasHeight_ <= 0)
        return;
    OpenGLPanel->setCursor(Qt::CrossCursor);
    dragging_ = true;
    pressX_ = currentX_ = CanvasX(x);
    pressY_ = currentY_ = CanvasY(y);
    layer->SelX0 = ImageXOf(pressX_, layer->Width, canvasWidth_);
    layer->SelY0 = ImageYOf(pressY_, layer->Height, canvasHeight_);
    layer->SelectionShown = true;
}

void TCompositeF::PanelMouseUp(Qt::MouseButton button, int x, int y)
{
    if (button != Qt::LeftButton || !dragging_)
        return;
    dragging_ = false;
    OpenGLPanel->setCursor(SightCursor);
    ImageData *layer = CurrentLayerImage();
    if (!layer) {
        OpenGLPanel->update();
        return;
    }
    const SelectionResult result =
        FinishSelection(layer->Width, layer->Height, pressX_, pressY_, CanvasX(x), CanvasY(y), canvasWidth_,
                        canvasHeight_, ViewZoom(), false);
    layer->SelectionShown = result.shown;
    if (result.shown) {
        layer->SelX0 = result.selection.x0;
        layer->SelY0 = result.selection.y0;
        layer->SelX1 = result.selection.x1;
        layer->SelY1 = result.selection.y1;
    }
    OpenGLPanel->update();
}

// ---------------------------------------------------------------------------------------------
// Bitmap export

bool TCompositeF::SaveViewBitmap(const QString &path)
{
    // The composite view exports the composite; a layer view exports the current layer (the view's
    // own layer when the current one is empty).
    const CFSettings &settings = CompositeEditorSettings();
    int view = std::clamp(settings.View, 0, CompositeView);
    if (view < CompositeView && settings.CurrentLayer < CompositeLayers &&
        Composite().LayerLoaded(settings.CurrentLayer))
        view = settings.CurrentLayer;
    // The bitmap has the current layer's size (a composite of layers of several sizes is not
    // cropped to the first one); the first used layer's when the current one is empty.
    int sizeLayer = -1;
    if (settings.CurrentLayer >= 0 && settings.CurrentLayer < CompositeLayers &&
        Composite().LayerLoaded(settings.CurrentLayer))
        sizeLayer = settings.CurrentLayer;
    else
        for (int i = 0; i < CompositeLayers && sizeLayer < 0; ++i)
            if (Composite().UseInComposite[i] && Composite().LayerLoaded(i))
                sizeLayer = i;
    CompositePicture picture;
    if (!ComposeExport(Composite(), view, picture, sizeLayer)) // a single layer without blending
        return false;
    return WriteBmpImage(path.toStdString(), picture.Width, picture.Height, picture.Rgba.data(), true);
}
