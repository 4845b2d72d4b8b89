#include "image_window.h"

#include "gui_runtime.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QGridLayout>
#include <QImage>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMenu>
#include <QOpenGLFunctions_1_1>
#include <QRegion>
#include <QSaveFile>
#include <QScrollBar>
#include <QStyle>

#include "file_names.h"
#include "image_window_host.h"
#include "opengl_panel.h"
#include "selection.h"
#include "settings.h"

namespace
{

// Scoped hourglass cursor.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace

TChild::TChild(ImageWindowHost *host, int height, int width, QWidget *parent)
    : QMdiSubWindow(parent), host_(host), baseWidth_(width), baseHeight_(height)
{
    setObjectName(QStringLiteral("Child"));
    setWindowTitle(QStringLiteral("Korvi image"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(640, 406);

    auto *client = new QWidget;
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setAutoFillBackground(true);
    QPalette black = client->palette();
    black.setColor(QPalette::Window, Qt::black);
    client->setPalette(black);
    auto *grid = new QGridLayout(client);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);

    panel_ = new TOpenGLPanel(client);
    panel_->setObjectName(QStringLiteral("OpenGLPanel"));
    panel_->SetPFDFlags(f_PFD_DRAW_TO_BITMAP | f_PFD_SUPPORT_OPENGL | f_PFD_GENERIC_ACCELERATED |
                        f_PFD_DOUBLEBUFFER | f_PFD_SWAP_LAYER_BUFFERS);
    panel_->GLSwapBuffers = TOpenGLSwapBuffers::Manual;
    panel_->setFocusPolicy(Qt::ClickFocus);
    panel_->setCursor(Qt::CrossCursor);
    hScroll_ = new QScrollBar(Qt::Horizontal, client);
    hScroll_->setObjectName(QStringLiteral("HorzScrollBar"));
    vScroll_ = new QScrollBar(Qt::Vertical, client);
    vScroll_->setObjectName(QStringLiteral("VertScrollBar"));
    hScroll_->hide();
    vScroll_->hide();
    grid->addWidget(panel_, 0, 0);
    grid->addWidget(vScroll_, 0, 1);
    grid->addWidget(hScroll_, 1, 0);
    setWidget(client);
    client->installEventFilter(this);

    connect(panel_, &TOpenGLPanel::OnInit, this, &TChild::OpenGLPanelInit);
    connect(panel_, &TOpenGLPanel::OnPaint, this, &TChild::OpenGLPanelPaint);
    connect(panel_, &TOpenGLPanel::OnResize, this, &TChild::OpenGLPanelResize);
    connect(panel_, &TOpenGLPanel::MouseDown, this,
            [this](Qt::MouseButton b, int x, int y, Qt::KeyboardModifiers) { MouseDown(b, x, y); });
    connect(panel_, &TOpenGLPanel::MouseMove, this,
            [this](int x, int y, Qt::MouseButtons) { MouseMove(x, y); });
    connect(panel_, &TOpenGLPanel::MouseUp, this, &TChild::MouseUp);
    connect(panel_, &TOpenGLPanel::DblClick, this, &TChild::DblClick);
    connect(panel_, &TOpenGLPanel::Wheel, this, [this](int dx, int dy) {
        if (dy != 0)
            vScroll_->setValue(vScroll_->value() - dy / 2);
        if (dx != 0)
            hScroll_->setValue(hScroll_->value() - dx / 2);
    });
    connect(hScroll_, &QScrollBar::valueChanged, panel_, qOverload<>(&QWidget::update));
    connect(vScroll_, &QScrollBar::valueChanged, panel_, qOverload<>(&QWidget::update));
    connect(this, &QMdiSubWindow::windowStateChanged, this,
            [this](Qt::WindowStates before, Qt::WindowStates now) {
                if (host_ && !(before & Qt::WindowActive) && (now & Qt::WindowActive))
                    host_->ImageWindowActivated(this);
            });

    BuildPopupMenu();
    UpdateScrollBars();
}

TChild::~TChild()
{
    korvi::gui::DetachHandlers(this);
}

ImageData &TChild::Image()
{
    MarkImageChanged();
    return image_;
}

void TChild::BuildPopupMenu()
{
    popup_ = new QMenu(this);
    popup_->setObjectName(QStringLiteral("PopupMenu"));
    auto add = [this](const char *name, const QString &caption, void (TChild::*handler)(),
                      const QKeySequence &shortcut = {}) {
        QAction *action = popup_->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        // Shown in the menu; the keys themselves are handled on release (keyReleaseEvent).
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, this, handler);
    };
    add("SetCaptureCoordinates", QStringLiteral("Set capture &coordinates"), &TChild::SetCaptureCoordClick,
        QKeySequence(Qt::CTRL | Qt::Key_C));
    add("TrimToSelected", QStringLiteral("&Trim to selected"), &TChild::TrimToSelectedClick);
    add("CrossSectionSelected", QStringLiteral("Show cross-section for selected"),
        &TChild::CrossSectionSelectedClick);
    add("CrossSectionHorizontal", QStringLiteral("Show horizontal cross-section "),
        &TChild::CrossSectionHorizontalClick);
    add("CrossSectionVertical", QStringLiteral("Show vertical cross-section"),
        &TChild::CrossSectionVerticalClick);
    add("HideCrossSections", QStringLiteral("Hide cross-sections"), &TChild::HideCrossSectionsClick);
    add("ShowFocusData", QStringLiteral("Show focus data"), &TChild::ShowFocusDataClick);
    add("ShowStatsForSelected", QStringLiteral("Show &stats for selected"), &TChild::ShowStatsClick,
        QKeySequence(Qt::CTRL | Qt::Key_S));
}

void TChild::AttachToWindowMenu()
{
    image_.Zoom = 1.0f;
    image_.SelectionShown = false;
    tag_ = image_.TimeStamp;
    setWindowTitle(QString::fromStdString(image_.FileName));
    if (host_) {
        host_->LimitOpenWindows();
        host_->AddWindowMenuItem(this, QString::fromStdString(ExtractFileNamePart(image_.FileName)),
                                 tag_ + 5);
    }
}

void TChild::FitToWindow()
{
    if (mdiArea())
        showMaximized();
    FitZoomToClient();
}

void TChild::FitZoomToClient()
{
    if (layout())
        layout()->activate();
    const QSize client = widget() ? widget()->size() : size();
    const double w = std::max(1, image_.Width);
    const double h = std::max(1, image_.Height);
    double zoom = 1.0;
    if (client.width() > 0 && client.height() > 0)
        zoom = h / w > double(client.height()) / client.width() ? client.height() / h : client.width() / w;
    SetZoom(zoom);
    zoomFitted_ = true;
}

void TChild::SetZoom(double zoom)
{
    image_.Zoom = static_cast<float>(ClampZoom(zoom));
    zoomFitted_ = false;
}

const float *TChild::LogTable() const
{
    const float *table = host_ ? host_->LogScaleTable() : nullptr;
    return table ? table : StandardLogScaleTable();
}

void TChild::RenderImage()
{
    if (!firstRender_) {
        baseWidth_ = image_.Width;
        baseHeight_ = image_.Height;
    }
    firstRender_ = false;

    const bool logScale = CurrentSettings().LogDisplayScale;
    const std::size_t pixels =
        static_cast<std::size_t>(image_.Width) * static_cast<std::size_t>(image_.Height);
    if (!image_.Empty && pixels > 0 && image_.Rgba.size() >= pixels * 4 && image_.Rows.Size() >= pixels) {
        RenderKey key;
        key.gain = image_.Gain;
        key.displayOffset = image_.DisplayOffset;
        key.logScale = logScale;
        key.width = image_.Width;
        key.height = image_.Height;
        key.pixels = image_.Rows.Data();
        key.rgba = image_.Rgba.data();
        key.paletteTables = image_.Palette.ByteTable[0].data();
        key.contentGeneration = contentGeneration_;
        if (!rendered_ || !(key == lastRender_) || image_.Palette.Dirty != 0) {
            std::vector<std::uint32_t> colours(65536);
            BuildDisplayColourTable(image_.Gain, image_.DisplayOffset, logScale, LogTable(),
                                    image_.Palette.ByteTable[0].data(), image_.Palette.ByteTable[1].data(),
                                    image_.Palette.ByteTable[2].data(), colours.data());
            MapPixelsToRgba(image_.Rows.Data(), pixels, colours.data(), image_.Rgba.data());
            image_.Palette.Dirty = 0;
            lastRender_ = key;
            rendered_ = true;
            ++renderCount_;
        }
    } else {
        rendered_ = false; // nothing to show until pixels arrive
    }

    const double zoom = ClampZoom(image_.Zoom);
    canvasWidth_ = std::max(1, static_cast<int>(std::max(1, baseWidth_) * zoom));
    canvasHeight_ = std::max(1, static_cast<int>(std::max(1, baseHeight_) * zoom));
    UpdateScrollBars();
    reducedCurrent_ = false;
    cursorPatchPending_ = false;
    panel_->update();
}

void TChild::UpdateScrollBars()
{
    QWidget *client = widget();
    if (!client)
        return;
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    int w = client->width();
    int h = client->height();
    bool needH = canvasWidth_ > w;
    bool needV = canvasHeight_ > h;
    if (needH)
        h -= extent;
    if (needV)
        w -= extent;
    needH = canvasWidth_ > w;
    needV = canvasHeight_ > h;
    w = client->width() - (needV ? extent : 0);
    h = client->height() - (needH ? extent : 0);
    const QSignalBlocker blockH(hScroll_), blockV(vScroll_);
    hScroll_->setRange(0, std::max(0, canvasWidth_ - w));
    hScroll_->setPageStep(std::max(1, w));
    hScroll_->setSingleStep(16);
    vScroll_->setRange(0, std::max(0, canvasHeight_ - h));
    vScroll_->setPageStep(std::max(1, h));
    vScroll_->setSingleStep(16);
    hScroll_->setVisible(needH);
    vScroll_->setVisible(needV);
}

bool TChild::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == widget() && event->type() == QEvent::Resize)
        UpdateScrollBars();
    return QMdiSubWindow::eventFilter(watched, event);
}

void TChild::resizeEvent(QResizeEvent *event)
{
    QMdiSubWindow::resizeEvent(event);
    UpdateScrollBars();
}

int TChild::CanvasX(int viewX) const
{
    return viewX + hScroll_->value();
}

int TChild::CanvasY(int viewY) const
{
    return viewY + vScroll_->value();
}

void TChild::OpenGLPanelInit()
{
    QOpenGLFunctions_1_1 *gl = panel_->GL();
    gl->glLoadIdentity();
    gl->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_ACCUM_BUFFER_BIT);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 2);
    gl->glShadeModel(GL_SMOOTH);
}

void TChild::OpenGLPanelResize(int, int)
{
    UpdateScrollBars();
}

void TChild::OpenGLPanelPaint()
{
    QOpenGLFunctions_1_1 *gl = panel_->GL();
    if (host_)
        host_->TakeRepaintRequest(); // every paint draws the whole picture anyway
    const int vw = panel_->width();
    const int vh = panel_->height();
    // Drawing is in widget pixels; the framebuffer may hold more device pixels per widget pixel.
    const double dpr = panel_->devicePixelRatioF();
    gl->glViewport(0, 0, static_cast<int>(vw * dpr), static_cast<int>(vh * dpr));
    gl->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadIdentity();
    gl->glOrtho(0, vw, 0, vh, -1, 1);
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glLoadIdentity();
    if (image_.Empty || !rendered_) {
        gl->glFlush();
        return;
    }
    FillAroundCanvas();
    DrawImage();
    DrawRubberBand();
    gl->glFlush();
    if (cursorPatchPending_) {
        ReadCursorPatch();
        cursorPatchPending_ = false;
        if (host_)
            host_->RepaintMagnifier();
    }
}

void TChild::FillAroundCanvas()
{
    // Where the canvas does not reach (a picture fitted to a window of another aspect, or zoomed
    // out) the view shows the background of the workspace the window lies in (the window's own
    // outside one), so the picture's dark edges stay apart from the empty part of the view. Only
    // that part is cleared: the picture is blended onto black.
    const QRect view(0, 0, panel_->width(), panel_->height());
    const QRect canvas(-hScroll_->value(), -vScroll_->value(), canvasWidth_, canvasHeight_);
    if (canvas.contains(view))
        return;
    QOpenGLFunctions_1_1 *gl = panel_->GL();
    const QColor background = mdiArea() ? mdiArea()->background().color() : palette().color(QPalette::Window);
    const double dpr = panel_->devicePixelRatioF();
    gl->glEnable(GL_SCISSOR_TEST);
    gl->glClearColor(float(background.redF()), float(background.greenF()), float(background.blueF()), 1.0f);
    for (const QRect &band : QRegion(view).subtracted(QRegion(canvas))) {
        // Scissor boxes count from the framebuffer's lower-left corner, in device pixels.
        const int x0 = qRound(band.left() * dpr);
        const int x1 = qRound((band.left() + band.width()) * dpr);
        const int y0 = qRound((view.height() - band.top() - band.height()) * dpr);
        const int y1 = qRound((view.height() - band.top()) * dpr);
        gl->glScissor(x0, y0, x1 - x0, y1 - y0);
        gl->glClear(GL_COLOR_BUFFER_BIT);
    }
    gl->glDisable(GL_SCISSOR_TEST);
    gl->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
}

void TChild::DrawImage()
{
    QOpenGLFunctions_1_1 *gl = panel_->GL();
    const int width = image_.Width;
    const int height = image_.Height;
    if (baseWidth_ != width || baseHeight_ != height) {
        // The first render keeps the constructor's base size; draw no more than the buffer holds.
        if (baseWidth_ > width || baseHeight_ > height || baseWidth_ <= 0 || baseHeight_ <= 0)
            return;
    }
    if (image_.Rgba.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4)
        return;
    const double zoom = ClampZoom(image_.Zoom);
    const std::uint8_t *source = image_.Rgba.data();
    int drawWidth = baseWidth_;
    int drawHeight = baseHeight_;
    int rowLength = width;
    double pixelZoom = zoom;
    if (zoom < 1.0) {
        // Zoomed out, glDrawPixels would read every pixel of the image at each paint, and every
        // pointer move paints: draw a copy reduced to the canvas instead, made once per render.
        if (!reducedCurrent_ || reducedZoom_ != zoom)
            BuildReducedPicture(drawWidth, drawHeight, zoom);
        source = reduced_.data();
        drawWidth = rowLength = reducedWidth_;
        drawHeight = reducedHeight_;
        pixelZoom = 1.0;
    }
    const int vw = panel_->width();
    const int vh = panel_->height();
    // Window position of the canvas' lower-left corner: row 0 of the image sits at the canvas bottom.
    const double originX = -hScroll_->value();
    const double originY = vh - canvasHeight_ + vScroll_->value();
    const int c0 = std::clamp(static_cast<int>(std::floor(-originX / pixelZoom)), 0, drawWidth);
    const int r0 = std::clamp(static_cast<int>(std::floor(-originY / pixelZoom)), 0, drawHeight);
    const int c1 = std::clamp(static_cast<int>(std::ceil((vw - originX) / pixelZoom)), 0, drawWidth);
    const int r1 = std::clamp(static_cast<int>(std::ceil((vh - originY) / pixelZoom)), 0, drawHeight);
    if (c1 <= c0 || r1 <= r0)
        return;
    const double dpr = panel_->devicePixelRatioF();
    gl->glRasterPos2i(0, 0);
    // Moves the raster position (in framebuffer pixels) without drawing; it may go below zero
    // where glRasterPos may not.
    gl->glBitmap(0, 0, 0, 0, float((originX + c0 * pixelZoom) * dpr), float((originY + r0 * pixelZoom) * dpr),
                 nullptr);
    gl->glPixelZoom(float(pixelZoom * dpr), float(pixelZoom * dpr));
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
    gl->glPixelStorei(GL_UNPACK_SKIP_PIXELS, c0);
    gl->glPixelStorei(GL_UNPACK_SKIP_ROWS, r0);
    gl->glEnable(GL_BLEND);
    gl->glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    gl->glDrawPixels(c1 - c0, r1 - r0, GL_RGBA, GL_UNSIGNED_BYTE, source);
    gl->glDisable(GL_BLEND);
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl->glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    gl->glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    gl->glPixelZoom(1.0f, 1.0f);
}

void TChild::BuildReducedPicture(int drawWidth, int drawHeight, double zoom)
{
    // Canvas pixel j shows the image pixel under its centre, trunc((j + 0.5) / zoom), the one
    // glPixelZoom picks; rows likewise from the bottom.
    auto sourceIndices = [zoom](int size) {
        std::vector<int> index;
        for (int j = 0;; ++j) {
            const double i = (j + 0.5) / zoom;
            if (i >= size)
                return index;
            index.push_back(static_cast<int>(i));
        }
    };
    const std::vector<int> columns = sourceIndices(drawWidth);
    const std::vector<int> rows = sourceIndices(drawHeight);
    reducedWidth_ = static_cast<int>(columns.size());
    reducedHeight_ = static_cast<int>(rows.size());
    reduced_.resize(std::size_t(reducedWidth_) * std::size_t(reducedHeight_) * 4);
    const std::size_t stride = std::size_t(image_.Width) * 4;
    std::uint8_t *target = reduced_.data();
    for (const int row : rows) {
        const std::uint8_t *line = image_.Rgba.data() + std::size_t(row) * stride;
        for (const int column : columns) {
            std::memcpy(target, line + std::size_t(column) * 4, 4);
            target += 4;
        }
    }
    reducedZoom_ = zoom;
    reducedCurrent_ = true;
}

void TChild::DrawRubberBand()
{
    double ax, ay, bx, by;
    bool line;
    if (dragging_) {
        if (notYetMoved_)
            return;
        ax = pressX_;
        ay = pressY_;
        bx = dragX_;
        by = dragY_;
        line = image_.SelectionIsLine;
    } else if (image_.SelectionShown && image_.Width > 0 && image_.Height > 0) {
        // The selection stays outlined until it is removed: a line between pixel centres, a
        // rectangle along the outer edges of its pixels.
        line = lastSelectionWasLine_;
        const ImageSelection s = ClampedSelection(image_, line);
        const double sx = double(canvasWidth_) / image_.Width;
        const double sy = double(canvasHeight_) / image_.Height;
        if (line) {
            ax = (s.x0 + 0.5) * sx;
            bx = (s.x1 + 0.5) * sx;
            ay = canvasHeight_ - (s.y0 + 0.5) * sy;
            by = canvasHeight_ - (s.y1 + 0.5) * sy;
        } else {
            ax = s.x0 * sx;
            bx = (s.x1 + 1) * sx - 1;
            ay = canvasHeight_ - 1 - s.y0 * sy;
            by = canvasHeight_ - (s.y1 + 1) * sy;
        }
    } else {
        return;
    }
    QOpenGLFunctions_1_1 *gl = panel_->GL();
    const int vh = panel_->height();
    const double sx = hScroll_->value();
    const double sy = vScroll_->value();
    auto vertex = [&](double x, double y) {
        gl->glVertex2f(float(x - sx + 0.5), float(vh - (y - sy) - 0.5));
    };
    gl->glLineStipple(2, 0xAAAA);
    gl->glEnable(GL_LINE_STIPPLE);
    gl->glColor3f(0.0f, 1.0f, 1.0f);
    if (line) {
        gl->glBegin(GL_LINES);
        vertex(ax, ay);
        vertex(bx, by);
    } else {
        gl->glBegin(GL_LINE_LOOP);
        vertex(ax, ay);
        vertex(bx, ay);
        vertex(bx, by);
        vertex(ax, by);
    }
    gl->glEnd();
    gl->glDisable(GL_LINE_STIPPLE);
}

void TChild::ReadCursorPatch()
{
    const int vw = panel_->width();
    const int vh = panel_->height();
    const int x = patchX_;
    const int y = patchY_;
    if (x - 15 > 0 && vh - y - 5 > 0 && x + 17 < vw && y > 7) {
        QOpenGLFunctions_1_1 *gl = panel_->GL();
        gl->glPixelStorei(GL_PACK_ALIGNMENT, 4);
        const double dpr = panel_->devicePixelRatioF();
        gl->glReadPixels(static_cast<int>((x - 15) * dpr), static_cast<int>((vh - y - 5) * dpr),
                         CursorPatchWidth, CursorPatchHeight, GL_RGBA, GL_UNSIGNED_BYTE, cursorPatch_.data());
    }
}

void TChild::MouseDown(Qt::MouseButton button, int x, int y)
{
    if (button == Qt::LeftButton) {
        panel_->setCursor(Qt::CrossCursor);
        dragging_ = true;
        notYetMoved_ = true;
        pressX_ = dragX_ = CanvasX(x);
        pressY_ = dragY_ = CanvasY(y);
        image_.SelectionShown = true;
        panel_->update();
        return;
    }
    popup_->popup(panel_->mapToGlobal(QPoint(x, y)));
}

void TChild::DblClick()
{
    image_.SelectionIsLine = true;
}

void TChild::MouseMove(int viewX, int viewY)
{
    panel_->setCursor(Qt::CrossCursor);
    if (host_ && !host_->IsActiveImageWindow(this)) {
        host_->ShowStatusText(QStringLiteral("Inactive window."));
        return;
    }
    const int cx = CanvasX(viewX);
    const int cy = CanvasY(viewY);
    const PointerReadout r = ReadPointer(image_, cx, cy, canvasWidth_, canvasHeight_);
    if (host_)
        host_->ShowStatusText(QString::fromStdString(r.text));
    if (dragging_) {
        dragX_ = cx;
        dragY_ = cy;
        notYetMoved_ = false;
    }
    if (host_) {
        const CrossSectionMode mode = host_->CrossSectionItem();
        if (mode == CrossSectionMode::Horizontal)
            host_->DrawCrossSection(this, 0, r.y, image_.Width, r.y);
        else if (mode == CrossSectionMode::Vertical)
            host_->DrawCrossSection(this, r.x, 0, r.x, image_.Height);
        host_->SetMagnifierPoint(r.x, r.y);
    }
    patchX_ = viewX;
    patchY_ = viewY;
    cursorPatchPending_ = true;
    panel_->update();
}

void TChild::MouseUp(Qt::MouseButton button, int viewX, int viewY)
{
    if (button != Qt::LeftButton || !dragging_)
        return;
    panel_->setCursor(Qt::CrossCursor);
    const int x = CanvasX(viewX);
    const int y = CanvasY(viewY);
    const SelectionResult result =
        FinishSelection(image_.Width, image_.Height, pressX_, pressY_, x, y, canvasWidth_, canvasHeight_,
                        ClampZoom(image_.Zoom), image_.SelectionIsLine);
    if (!result.shown) {
        image_.SelectionShown = false;
    } else {
        image_.SelectionShown = true;
        image_.SelX0 = result.selection.x0;
        image_.SelY0 = result.selection.y0;
        image_.SelX1 = result.selection.x1;
        image_.SelY1 = result.selection.y1;
        lastSelectionWasLine_ = image_.SelectionIsLine;
        if (image_.SelectionIsLine && host_ && host_->CrossSectionVisible())
            host_->DrawCrossSection(this, result.selection.x0, result.selection.y0, result.selection.x1,
                                    result.selection.y1);
    }
    dragging_ = false;
    image_.SelectionIsLine = false;
    panel_->update();
}

void TChild::SetCaptureCoordClick()
{
    const ImageSelection s = ClampedSelection(image_);
    SettingsBackup() = CurrentSettings();
    Settings &settings = CurrentSettings();
    settings.XLO[ImagingCamera] = s.x0;
    settings.XHI[ImagingCamera] = s.x1;
    settings.YLO[ImagingCamera] = s.y0;
    settings.YHI[ImagingCamera] = s.y1;
    if (s.x1 - s.x0 + 1 >= 2 && s.y1 - s.y0 + 1 >= 2) {
        if (host_)
            host_->SetCaptureSpinEdits(s.x0, s.x1, s.y0, s.y1);
    } else {
        CurrentSettings() = SettingsBackup();
    }
}

void TChild::TrimToSelectedClick()
{
    NormaliseSelection(image_);
    if (host_)
        host_->FastTrimClick();
}

void TChild::CrossSectionSelectedClick()
{
    if (!host_)
        return;
    host_->ShowCrossSection(CrossSectionMode::Custom);
    const ImageSelection s = ClampedSelection(image_, lastSelectionWasLine_);
    host_->DrawCrossSection(this, s.x0, s.y0, s.x1, s.y1);
}

void TChild::CrossSectionHorizontalClick()
{
    if (!host_)
        return;
    host_->ShowCrossSection(CrossSectionMode::Horizontal);
    host_->DrawCrossSection(this, 0, 0, image_.Width - 1, 0);
}

void TChild::CrossSectionVerticalClick()
{
    if (!host_)
        return;
    host_->ShowCrossSection(CrossSectionMode::Vertical);
    host_->DrawCrossSection(this, 0, 0, 0, image_.Height - 1);
}

void TChild::HideCrossSectionsClick()
{
    if (host_)
        host_->XSectionHideClick();
}

void TChild::ShowFocusDataClick()
{
    if (host_)
        host_->ShowFocusData();
}

void TChild::ShowStatsClick()
{
    NormaliseSelection(image_);
    if (host_)
        host_->StatsFormShowExecute();
}

void TChild::keyReleaseEvent(QKeyEvent *event)
{
    if (event->modifiers() & Qt::ControlModifier) {
        if (event->key() == Qt::Key_C) {
            SetCaptureCoordClick();
            return;
        }
        if (event->key() == Qt::Key_S) {
            ShowStatsClick();
            return;
        }
    }
    QMdiSubWindow::keyReleaseEvent(event);
}

bool TChild::SaveViewBitmap(const std::string &fileName)
{
    WaitCursor wait;
    RenderImage();
    if (image_.Empty || !rendered_)
        return false;
    const int width = image_.Width;
    const int height = image_.Height;
    QImage picture(width, height, QImage::Format_RGB888);
    if (picture.isNull())
        return false;
    // Row 0 of the image is the bottom row of the picture.
    for (int row = 0; row < height; ++row) {
        const std::uint8_t *source = image_.Rgba.data() + static_cast<std::size_t>(row) * width * 4;
        uchar *target = picture.scanLine(height - 1 - row);
        for (int x = 0; x < width; ++x) {
            target[3 * x] = source[4 * x];
            target[3 * x + 1] = source[4 * x + 1];
            target[3 * x + 2] = source[4 * x + 2];
        }
    }
    QSaveFile file(QString::fromStdString(fileName));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (!picture.save(&file, "BMP")) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void TChild::closeEvent(QCloseEvent *event)
{
    if (image_.Modified && !CurrentSettings().DisableClosePrompt) {
        if (korvi::gui::ShowMessage(QStringLiteral("Save changes to image %1 before closing?")
                                        .arg(QString::fromStdString(image_.FileName)),
                                    QStringLiteral("Korvi"), MessageButtons::YesNo,
                                    MessageIcon::Question) == MessageAnswer::Yes) {
            bool saved = false;
            if (image_.OriginFormat == FormatBmp) {
                // A BMP file holds a picture of the view. The host's view save pictures the active
                // window, which need not be this one (Close All closes the last window first), and
                // would put another image into this file: save this window's own view.
                saved = SaveViewBitmap(image_.FileName);
            } else {
                saved = host_ ? host_->SaveImageInFormat(image_.FileName, image_, image_.OriginFormat)
                              : image_.SaveToFile(image_.FileName, image_.OriginFormat);
            }
            if (!saved) {
                // The user asked for the changes to be kept: the window stays open with them.
                event->ignore();
                return;
            }
        }
    }
    QMdiSubWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    image_.Free();
    rendered_ = false;
    if (host_)
        host_->RemoveWindowMenuItem(tag_ + 5);
}
