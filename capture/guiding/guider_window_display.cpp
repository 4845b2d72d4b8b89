// TGuiderF: the guider image's display. The view and the magnifier draw the 16-bit pixels through
// the window's three colour maps with the image window's colour-index helper (the maps are applied
// on the processor, since pixel maps of 65536 entries are not generally available); the maps are
// rebuilt only when the gain, the display offset or the palette changed. Also the zoom commands,
// the level controls and their logarithmic track bars, the palette bar and quick palettes, the
// pointer read-out, the selection and the capture sub-frame taken from it.
#include "guiding/guider_window.h"

#include "color_index_view.h"
#include "gui_runtime.h"
#include "image_render.h"
#include "levels.h"
#include "main_window.h"
#include "opengl_panel.h"
#include "selection.h"
#include "settings.h"
#include "text_format.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QOpenGLFunctions_1_1>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>
#include <cmath>

namespace
{

constexpr int G = GuidingCamera;
constexpr int MapSize = ColorIndexView::MapSize;

} // namespace

// ---------------------------------------------------------------------------------------------
// Colour maps and drawing

void TGuiderF::RefreshDisplay()
{
    ImageData &image = GuiderImage;
    PPalette &palette = image.Palette;
    if (image.Gain != lastGain_ || image.DisplayOffset != lastOffset_ || palette.Dirty) {
        BuildColorIndexMaps(palette.FloatTable[0].data(), palette.FloatTable[1].data(),
                            palette.FloatTable[2].data(), image.DisplayOffset, image.Gain, displayMap_.data(),
                            displayMap_.data() + MapSize, displayMap_.data() + 2 * MapSize);
        palette.Dirty = 0;
        ++mapBuilds_;
    }
    lastGain_ = image.Gain;
    lastOffset_ = image.DisplayOffset;
    view_->PixelsChanged();
    if (!image.Empty) {
        image.Zoom = static_cast<float>(ClampZoom(image.Zoom));
        const int h = std::max(1, static_cast<int>(image.Height * image.Zoom));
        const int w = std::max(1, static_cast<int>(image.Width * image.Zoom));
        if (h != lastPanelHeight_ || w != lastPanelWidth_) {
            OpenGLPanel1->resize(w, h);
            lastPanelHeight_ = h;
            lastPanelWidth_ = w;
        }
    }
    OpenGLPanel1->update();
    OpenGLPanel2->update();
}

void TGuiderF::OpenGLPanel1Init()
{
    auto *panel = qobject_cast<TOpenGLPanel *>(sender());
    QOpenGLFunctions_1_1 *gl = panel ? panel->GL() : nullptr;
    if (!gl)
        return;
    gl->glLoadIdentity();
    gl->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 2);
    gl->glShadeModel(GL_SMOOTH);
}

namespace
{

// Viewport and projection of a panel in its own (device-independent) pixels.
void SetUpPanel(TOpenGLPanel *panel, QOpenGLFunctions_1_1 *gl)
{
    const double dpr = panel->devicePixelRatioF();
    gl->glViewport(0, 0, static_cast<int>(panel->width() * dpr), static_cast<int>(panel->height() * dpr));
    gl->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT);
    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadIdentity();
    gl->glOrtho(0, panel->width(), 0, panel->height(), -1, 1);
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glLoadIdentity();
    gl->glRasterPos2i(0, 0);
}

} // namespace

void TGuiderF::OpenGLPanel1Paint()
{
    QOpenGLFunctions_1_1 *gl = OpenGLPanel1->GL();
    if (!gl)
        return;
    SetUpPanel(OpenGLPanel1, gl);
    const ImageData &image = GuiderImage;
    if (image.Empty)
        return;
    const float *map = displayMap_.data();
    view_->SetMaps(map, map + MapSize, map + 2 * MapSize);
    view_->SetPixels(image.FramePixels(0), image.Width, image.Height);
    const float zoom = image.Zoom * static_cast<float>(OpenGLPanel1->devicePixelRatioF());
    gl->glPixelZoom(zoom, zoom);
    view_->Draw(gl);
    if (Selecting) {
        const int h = OpenGLPanel1->height();
        DrawSelectionBox(gl, float(pressPoint_[0]), float(h - pressPoint_[1]), float(endPoint_[0]),
                         float(h - endPoint_[1]));
    }
    gl->glFlush();
}

void TGuiderF::OpenGLPanel2Paint()
{
    QOpenGLFunctions_1_1 *gl = OpenGLPanel2->GL();
    if (!gl)
        return;
    SetUpPanel(OpenGLPanel2, gl);
    const ImageData &image = GuiderImage;
    if (image.Empty)
        return;
    const double scale = static_cast<double>(image.Zoom) * 10.0;
    const int cols = static_cast<int>(OpenGLPanel2->width() / scale);
    const int rows = static_cast<int>(OpenGLPanel2->height() / scale);
    if (cols != magnifierColumns_ || rows != magnifierRows_) {
        magnifier_.assign(static_cast<std::size_t>(std::max(0, cols)) * std::max(0, rows), 0);
        magnifierColumns_ = cols;
        magnifierRows_ = rows;
    }
    if (cols <= 0 || rows <= 0)
        return;
    const int x0 = MagnifierCentre[0] - cols / 2, y0 = MagnifierCentre[1] - rows / 2;
    for (int j = 0; j < rows; ++j) {
        const int y = y0 + j;
        const bool rowInside = y >= 0 && y < image.Height;
        for (int i = 0; i < cols; ++i) {
            const int x = x0 + i;
            magnifier_[i + static_cast<std::size_t>(cols) * j] =
                rowInside && x >= 0 && x < image.Width ? image.FrameRow(0, y)[x] : 0;
        }
    }
    const float *map = displayMap_.data();
    magnifierView_->SetMaps(map, map + MapSize, map + 2 * MapSize);
    magnifierView_->SetPixels(magnifier_.data(), cols, rows);
    magnifierView_->PixelsChanged();
    const float zoom = static_cast<float>(scale * OpenGLPanel2->devicePixelRatioF());
    gl->glPixelZoom(zoom, zoom);
    magnifierView_->Draw(gl);
    gl->glFlush();
}

// ---------------------------------------------------------------------------------------------
// Zoom

void TGuiderF::SetZoom(double zoom)
{
    if (GuiderImage.Empty)
        return;
    GuiderImage.Zoom = static_cast<float>(ClampZoom(zoom));
    RefreshDisplay();
}

void TGuiderF::ZoomInExecute()
{
    SetZoom(GuiderImage.Zoom * 1.5);
}

void TGuiderF::ZoomOutExecute()
{
    SetZoom(GuiderImage.Zoom * 2.0 / 3.0);
}

void TGuiderF::Zoom1Execute()
{
    SetZoom(1.0);
}

void TGuiderF::ZoomFitExecute()
{
    const ImageData &image = GuiderImage;
    if (image.Empty || image.Width <= 0 || image.Height <= 0)
        return;
    const QSize client = ImgScrollBox->viewport()->size();
    const double ch = std::max(1, client.height()), cw = std::max(1, client.width());
    SetZoom(double(image.Height) / image.Width > ch / cw ? ch / image.Height : cw / image.Width);
}

void TGuiderF::ZoomToSensor()
{
    ImageData &image = GuiderImage;
    if (image.Empty || image.Width <= 0 || image.Height <= 0)
        return;
    const QSize client = ImgScrollBox->viewport()->size();
    const double ch = std::max(1, client.height()), cw = std::max(1, client.width());
    // An image that records no sensor size fits its own size instead.
    const int rows = image.MaxRows > 0 ? image.MaxRows : image.Height;
    const int columns = image.MaxColumns > 0 ? image.MaxColumns : image.Width;
    const double zoom = double(image.Height) / image.Width > ch / cw ? ch / rows : cw / columns;
    image.Zoom = static_cast<float>(ClampZoom(zoom));
}

// ---------------------------------------------------------------------------------------------
// Levels

void TGuiderF::RepaintExecute()
{
    if (GuiderImage.Empty)
        return;
    GuiderImage.DisplayOffset = static_cast<float>(BiasLevel->value());
    GuiderImage.Gain = static_cast<float>(ParseNumber(IntScale->text().toStdString()));
    RefreshDisplay();
}

void TGuiderF::AutoSetContrastBtnClick()
{
    if (GuiderImage.Empty)
        return;
    ComputeDisplayLevels(GuiderImage);
    const char separator = korvi::gui::DecimalSeparator();
    const float gain = GuiderImage.Gain, offset = GuiderImage.DisplayOffset;
    IntScale->setText(QString::fromStdString(FormatFloat("#####0.00", gain, separator)));
    BiasLevel->setValue(static_cast<int>(offset));
    RepaintExecute();
}

void TGuiderF::IntScaleChange()
{
    Settings &s = CurrentSettings();
    s.IntScale[G] = static_cast<float>(ParseNumber(IntScale->text().toStdString()));
    if (!GuiderImage.Empty) {
        GuiderImage.Gain = s.IntScale[G];
        RefreshDisplay();
    }
    TrackBarGuard = true;
    const float v = s.IntScale[G];
    IntTrackBar->setValue(v > 0.0f ? static_cast<int>(std::log10(v) * 100.0 * 0.30293850348379275) : 0);
    TrackBarGuard = false;
}

void TGuiderF::BiasLevelChange()
{
    Settings &s = CurrentSettings();
    s.BiasLevel[G] = BiasLevel->value();
    if (!GuiderImage.Empty) {
        GuiderImage.DisplayOffset = static_cast<float>(s.BiasLevel[G]);
        RefreshDisplay();
    }
    TrackBarGuard = true;
    const int v = s.BiasLevel[G];
    BiasTrackBar->setValue(v > 0 ? static_cast<int>(std::log10(double(v)) * 100.0 * 0.20762079175233877) : 0);
    TrackBarGuard = false;
}

void TGuiderF::IntTrackBarChange()
{
    if (TrackBarGuard)
        return;
    const double scale = std::pow(10.0, IntTrackBar->value() * 0.01 * 3.301);
    IntScale->setText(QString::fromStdString(FormatFloat("###0.00", scale, korvi::gui::DecimalSeparator())));
    IntScale->repaint();
}

void TGuiderF::BiasTrackBarChange()
{
    if (TrackBarGuard)
        return;
    BiasLevel->setValue(static_cast<int>(std::pow(10.0, BiasTrackBar->value() * 0.01 * 4.8164733)));
    BiasLevel->repaint();
}

// ---------------------------------------------------------------------------------------------
// Palettes

QImage TGuiderF::PaletteBarImage(const PPalette &palette, float step) const
{
    const int w = PalBar->width(), h = PalBar->height();
    QImage bar = MainF && !MainF->PaletteFrameBitmap.isNull()
                     ? MainF->PaletteFrameBitmap.convertToFormat(QImage::Format_RGB32).scaled(w, h)
                     : QImage(w, h, QImage::Format_RGB32);
    if (!MainF || MainF->PaletteFrameBitmap.isNull())
        bar.fill(Qt::black);
    // Level 0 at the bottom: line `row` is drawn at h - row (the first falls below the picture).
    for (int row = 0; row < h; ++row) {
        const int y = h - row;
        if (y >= h)
            continue;
        const std::uint32_t c = palette.ColorAt(static_cast<int>(row * step));
        const QRgb rgb = qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
        auto *line = reinterpret_cast<QRgb *>(bar.scanLine(y));
        std::fill(line, line + w, rgb);
    }
    return bar;
}

void TGuiderF::UpdatePalBar()
{
    const float step = 65536.0f / std::max(1, PalBar->height());
    PalBar->setPixmap(QPixmap::fromImage(PaletteBarImage(GuiderImage.Palette, step)));
}

void TGuiderF::DrawDefaultPaletteBar()
{
    const float step = 65535.0f / std::max(1, PalBar->height());
    PalBar->setPixmap(QPixmap::fromImage(PaletteBarImage(CurrentSettings().DefaultPalettes[G], step)));
}

void TGuiderF::LoadQuickPalette(const std::string &path)
{
    PPalette &palette = CurrentSettings().DefaultPalettes[G];
    palette.LoadFromFile(path);
    GuiderImage.Palette.Assign(palette);
    UpdatePalBar();
}

// ---------------------------------------------------------------------------------------------
// Pointer and selection

void TGuiderF::OpenGLPanel1MouseDown(Qt::MouseButton button, int x, int y)
{
    if (button != Qt::LeftButton) {
        PopupMenu->popup(OpenGLPanel1->mapToGlobal(QPoint(x, y)));
        return;
    }
    OpenGLPanel1->setCursor(Qt::CrossCursor);
    Selecting = true;
    // The press point stays in panel pixels here; the selection corners are set, in image
    // pixels, only when the drag ends.
    pressPoint_ = {x, y};
    endPoint_ = {x, y};
    GuiderImage.SelectionShown = true;
}

void TGuiderF::OpenGLPanel1MouseMove(int x, int y)
{
    OpenGLPanel1->setCursor(Qt::CrossCursor);
    const ImageData &image = GuiderImage;
    if (image.Empty)
        return;
    const int ix = ImageXOf(x, image.Width, OpenGLPanel1->width());
    const int iy = ImageYOf(y, image.Height, OpenGLPanel1->height());
    QString text = QStringLiteral("X=%1, Y=%2").arg(ix).arg(iy);
    if (ix >= 0 && ix < image.Width && iy >= 0 && iy < image.Height)
        text += QStringLiteral(", Value: %1").arg(image.FrameRow(0, iy)[ix]);
    else
        text += QStringLiteral(", Excluded pixel.");
    StatusBar[0]->setText(text);
    if (Selecting) {
        endPoint_ = {x, y};
        OpenGLPanel1->update();
    }
    MagnifierCentre = {ix, iy};
    OpenGLPanel2->update();
}

void TGuiderF::OpenGLPanel1MouseUp(Qt::MouseButton button, int x, int y)
{
    OpenGLPanel1->setCursor(Qt::CrossCursor);
    if (button != Qt::LeftButton)
        return;
    ImageData &image = GuiderImage;
    const SelectionResult r =
        FinishSelection(image.Width, image.Height, pressPoint_[0], pressPoint_[1], x, y,
                        OpenGLPanel1->width(), OpenGLPanel1->height(), image.Zoom, false);
    if (!r.shown || image.Empty) {
        image.SelectionShown = false;
    } else {
        image.SelX0 = r.selection.x0;
        image.SelY0 = r.selection.y0;
        image.SelX1 = r.selection.x1;
        image.SelY1 = r.selection.y1;
    }
    Selecting = false;
}

void TGuiderF::Setselectiontocapturesubframe1Click()
{
    Settings &s = CurrentSettings();
    SettingsBackup() = s;
    s.XLO[G] = GuiderImage.SelX0;
    s.YLO[G] = GuiderImage.SelY0;
    s.XHI[G] = GuiderImage.SelX1;
    s.YHI[G] = GuiderImage.SelY1;
    if (s.XHI[G] - s.XLO[G] + 1 >= 2 && s.YHI[G] - s.YLO[G] + 1 >= 2) {
        XLO->setValue(s.XLO[G]);
        XHI->setValue(s.XHI[G]);
        YLO->setValue(s.YLO[G]);
        YHI->setValue(s.YHI[G]);
    } else {
        s = SettingsBackup();
    }
}
