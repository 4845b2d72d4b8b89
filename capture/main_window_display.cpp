// TMainF: zoom, repaint, display scale, palette bar and quick palettes, cross-section pane,
// cursor magnifier, undo of the last operation, the show commands and the handbook.
#include "main_window.h"

#include "edit_target.h"
#include "file_names.h"
#include "focus_monitor.h"
#include "gui_runtime.h"
#include "image_window.h"
#include "opengl_panel.h"
#include "processing_target.h"
#include "settings.h"
#include "statistics_window.h"

#include <QAction>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QOpenGLFunctions_1_1>
#include <QPainter>
#include <QRadioButton>
#include <QStatusBar>
#include <QTextBrowser>
#include <QUrl>

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------------------------
// Zoom and repaint

void TMainF::ZoomInExecute()
{
    if (TChild *window = FirstImageWindow()) {
        window->SetZoom(window->Zoom() * 1.5);
        window->RenderImage();
    }
}

void TMainF::ZoomOutExecute()
{
    if (TChild *window = FirstImageWindow()) {
        window->SetZoom(window->Zoom() * 2.0 / 3.0);
        window->RenderImage();
    }
}

void TMainF::Zoom1Execute()
{
    if (TChild *window = FirstImageWindow()) {
        window->SetZoom(1.0);
        window->RenderImage();
    }
}

void TMainF::ZoomFitExecute()
{
    TChild *window = FirstImageWindow();
    if (!window || window->Image().Empty)
        return;
    const ImageData &image = window->ConstImage();
    const QSize client = window->widget() ? window->widget()->size() : window->contentsRect().size();
    if (client.width() <= 0 || client.height() <= 0)
        return;
    const double imageRatio = double(image.Height) / double(image.Width);
    const double clientRatio = double(client.height()) / double(client.width());
    window->SetZoom(imageRatio > clientRatio ? double(client.height()) / image.Height
                                             : double(client.width()) / image.Width);
    window->RenderImage();
}

void TMainF::RefreshExecute()
{
    if (TChild *window = FirstImageWindow()) {
        window->RenderImage();
        window->Image().SelectionShown = false;
    }
}

// ---------------------------------------------------------------------------------------------
// Display scale

void TMainF::SetDisplayScale(bool logarithmic)
{
    (logarithmic ? LogScale1 : LinearScale1)->setChecked(true);
    (logarithmic ? LogScale2 : LinScale2)->setChecked(true);
    Settings &settings = CurrentSettings();
    if (settings.LogDisplayScale == logarithmic)
        return;
    settings.LogDisplayScale = logarithmic;
    if (TChild *window = FirstImageWindow()) {
        window->Image().LogDisplay = logarithmic;
        window->RenderImage();
    }
}

// ---------------------------------------------------------------------------------------------
// Palette bar and quick palettes

QImage TMainF::PaletteBarImage(const PPalette &palette, bool defaultBar) const
{
    QImage bar = PaletteFrameBitmap.isNull() ? QImage(PalBar->size(), QImage::Format_RGB32)
                                             : PaletteFrameBitmap.convertToFormat(QImage::Format_RGB32);
    if (PaletteFrameBitmap.isNull())
        bar.fill(Qt::black);
    const int height = bar.height();
    const int width = bar.width();
    // The colours go inside the frame's three-pixel border; value 0 at the bottom.
    const int border = 3;
    for (int r = 0; r < height; ++r) {
        const int y = height - r;
        if (y < border || y >= height - border)
            continue;
        const int value =
            defaultBar ? r * 65535 / height : static_cast<int>(std::int64_t(r) * 65536 / height);
        const std::uint32_t c = palette.ColorAt(value);
        const QRgb rgb = qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
        auto *line = reinterpret_cast<QRgb *>(bar.scanLine(y));
        for (int x = border; x < width - border; ++x)
            line[x] = rgb;
    }
    return bar;
}

void TMainF::DrawPaletteBar(const PPalette &palette)
{
    PalBar->setPixmap(QPixmap::fromImage(PaletteBarImage(palette, false)));
}

void TMainF::DrawDefaultPaletteBar()
{
    PalBar->setPixmap(QPixmap::fromImage(PaletteBarImage(CurrentSettings().DefaultPalettes[0], true)));
}

void TMainF::QuickPaletteClick(int index)
{
    static const char *const files[] = {"Greyscale.pal", "BlackBody2.pal", "Spectrum2.pal", "Spectrum.pal"};
    if (index < 0 || index > 3)
        return;
    Settings &settings = CurrentSettings();
    settings.DefaultPalettes[0].LoadFromFile(programDirectory_ + "Palettes/" + files[index]);
    TChild *window = FirstImageWindow();
    if (!window) {
        DrawDefaultPaletteBar();
        return;
    }
    window->Image().Palette.Assign(settings.DefaultPalettes[0]);
    window->RenderImage();
    DrawPaletteBar(window->ConstImage().Palette);
}

void TMainF::PaletteForCurrentImageClick()
{
    // The palette editor takes its copy of the target's palette when it is shown.
    EditTarget = FirstImageWindow() ? EditActiveImage : EditDefaultPalette;
    ShowProgramWindow("TPaletteSet");
}

void TMainF::DefaultPaletteClick()
{
    EditTarget = EditDefaultPalette;
    ShowProgramWindow("TPaletteSet");
}

void TMainF::UpdateImageControls(TChild *window)
{
    if (!window)
        return;
    const ImageData &image = window->ConstImage();
    SetStatusText(2, QString::fromStdString(ExtractFileNamePart(image.FileName)));
    SetDisplayScale(image.LogDisplay);
    DrawPaletteBar(image.Palette);
    UpdatePageImageControls(window);
}

// ---------------------------------------------------------------------------------------------
// Cross-section pane

void TMainF::XSectionClick(CrossSectionMode mode)
{
    ShowCrossSection(mode);
    if (mode == CrossSectionMode::Custom)
        if (TChild *window = FirstImageWindow();
            window && window->ConstImage().SelectionShown && window->ConstImage().SelectionIsLine) {
            const ImageData &image = window->ConstImage();
            DrawCrossSection(window, image.SelX0, image.SelY0, image.SelX1, image.SelY1);
        }
}

void TMainF::XSectionHideClick()
{
    ShowCrossSection(CrossSectionMode::None);
}

CrossSectionMode TMainF::CrossSectionItem() const
{
    if (XSectionHorizontal->isChecked())
        return CrossSectionMode::Horizontal;
    if (XSectionVertical->isChecked())
        return CrossSectionMode::Vertical;
    if (XSectionCustom->isChecked())
        return CrossSectionMode::Custom;
    return CrossSectionMode::None;
}

bool TMainF::CrossSectionVisible() const
{
    return !XSectionBox->isHidden();
}

void TMainF::ShowCrossSection(CrossSectionMode mode)
{
    Settings &settings = CurrentSettings();
    switch (mode) {
    case CrossSectionMode::Horizontal:
        XSectionHorizontal->setChecked(true);
        settings.XSectionMode = 1;
        break;
    case CrossSectionMode::Vertical:
        XSectionVertical->setChecked(true);
        settings.XSectionMode = 2;
        break;
    case CrossSectionMode::Custom:
        XSectionCustom->setChecked(true);
        settings.XSectionMode = 3;
        break;
    case CrossSectionMode::None:
        XSectionHide->setChecked(true);
        settings.XSectionMode = 0;
        XSectionBox->hide();
        return;
    }
    XSectionBox->show();
}

void TMainF::DrawCrossSection(TChild *window, int x0, int y0, int x1, int y1)
{
    if (!window || window->ConstImage().Empty)
        return;
    const ImageData &image = window->ConstImage();
    x0 = std::clamp(x0, 0, image.Width - 1);
    x1 = std::clamp(x1, 0, image.Width - 1);
    y0 = std::clamp(y0, 0, image.Height - 1);
    y1 = std::clamp(y1, 0, image.Height - 1);
    const double dx = x1 - x0, dy = y1 - y0;
    const int count = std::max(1, static_cast<int>(std::sqrt(dx * dx + dy * dy)));
    crossSection_.assign(count, 0);
    for (int k = 0; k < count; ++k) {
        const double t = count == 1 ? 0.0 : double(k) / double(count - 1);
        const int x = static_cast<int>(std::lround(x0 + t * dx));
        const int y = static_cast<int>(std::lround(y0 + t * dy));
        crossSection_[k] = image.FrameRow(0, y)[x];
    }
    const auto [lo, hi] = std::minmax_element(crossSection_.begin(), crossSection_.end());
    const int minimum = *lo, maximum = *hi;

    const QSize size = XSectionImage->size().expandedTo(QSize(200, 100));
    QPixmap picture(size);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    const int left = 50, right = 10, top = 8, bottom = 18;
    const int plotWidth = size.width() - left - right, plotHeight = size.height() - top - bottom;
    painter.setPen(Qt::darkGray);
    painter.drawRect(left, top, plotWidth, plotHeight);
    painter.setPen(Qt::green);
    const double span = std::max(1, maximum - minimum);
    QPolygonF line;
    for (int k = 0; k < count; ++k) {
        const double px = left + (count == 1 ? 0.0 : double(k) * plotWidth / (count - 1));
        const double py = top + plotHeight - (crossSection_[k] - minimum) * plotHeight / span;
        line << QPointF(px, py);
    }
    painter.drawPolyline(line);
    painter.setPen(Qt::white);
    painter.drawText(2, top + 10, QString::number(maximum));
    painter.drawText(2, top + plotHeight, QString::number(minimum));
    painter.drawText(left, size.height() - 4, QStringLiteral("(%1, %2)").arg(x0).arg(y0));
    const QString end = QStringLiteral("(%1, %2)").arg(x1).arg(y1);
    painter.drawText(left + plotWidth - painter.fontMetrics().horizontalAdvance(end), size.height() - 4, end);
    painter.end();
    XSectionImage->setPixmap(picture);
}

// ---------------------------------------------------------------------------------------------
// Cursor magnifier

void TMainF::SetMagnifierPoint(int x, int y)
{
    magnifierX_ = x;
    magnifierY_ = y;
    statusBar()->repaint();
}

void TMainF::RepaintMagnifier()
{
    OpenGLPanel2->update();
}

void TMainF::OpenGLPanel2Init()
{
    QOpenGLFunctions_1_1 *gl = OpenGLPanel2->GL();
    if (!gl)
        return;
    gl->glLoadIdentity();
    gl->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 2);
    gl->glShadeModel(GL_SMOOTH);
}

void TMainF::OpenGLPanel2Paint()
{
    QOpenGLFunctions_1_1 *gl = OpenGLPanel2->GL();
    if (!gl)
        return;
    gl->glClear(GL_COLOR_BUFFER_BIT);
    TChild *window = FirstImageWindow();
    if (!window)
        return;
    gl->glViewport(0, 0, 320, 120);
    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadIdentity();
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glLoadIdentity();
    gl->glRasterPos2f(-1.0f, -1.0f);
    gl->glPixelZoom(10.0f, 10.0f);
    gl->glDrawPixels(TChild::CursorPatchWidth, TChild::CursorPatchHeight, GL_RGBA, GL_UNSIGNED_BYTE,
                     window->CursorPatch());
    gl->glPixelZoom(1.0f, 1.0f);
    gl->glFlush();
}

// ---------------------------------------------------------------------------------------------
// Trim and commands that show other windows

void TMainF::FastTrimClick()
{
    TChild *window = FirstImageWindow();
    if (!window)
        return;
    const ImageData &image = window->ConstImage();
    if (image.Empty || !image.SelectionShown)
        return;
    const int x0 = std::clamp(std::min(image.SelX0, image.SelX1), 0, image.Width - 1);
    const int x1 = std::clamp(std::max(image.SelX0, image.SelX1), 0, image.Width - 1);
    const int y0 = std::clamp(std::min(image.SelY0, image.SelY1), 0, image.Height - 1);
    const int y1 = std::clamp(std::max(image.SelY0, image.SelY1), 0, image.Height - 1);
    // The crop takes its corners from the selection, which Redo has no way to repeat.
    const ProcessingTarget target = ProcessingTarget::ResolveFor(EditActiveImage, nullptr, window->Tag());
    target.Apply({7, ""},
                 [&](ImageData &result) {
                     // The selected rectangle of every frame becomes the image.
                     const int width = x1 - x0 + 1, height = y1 - y0 + 1, frames = result.Frames;
                     UShortMatrix cropped(height * frames, width);
                     for (int f = 0; f < frames; ++f)
                         for (int y = 0; y < height; ++y)
                             std::copy_n(result.FrameRow(f, y0 + y) + x0, width, cropped[f * height + y]);
                     result.Allocate(width, height, frames);
                     result.CopyPixelsFrom(cropped);
                     result.SelectionShown = false;
                     result.SelX0 = result.SelY0 = 0;
                     result.SelX1 = width - 1;
                     result.SelY1 = height - 1;
                 },
                 {.autoLevels = false});
}

void TMainF::StatsFormShowExecute()
{
    if (StatsForm) {
        TChild *window = FirstImageWindow();
        StatsForm->SetSource(window ? &window->ConstImage() : nullptr, window);
    }
    ShowProgramWindow("TStatsForm");
}

void TMainF::ShowFocusData()
{
    ShowProgramWindow("TFocusMonitorF");
    if (auto *monitor = qobject_cast<TFocusMonitorF *>(ProgramWindow("TFocusMonitorF")))
        monitor->MeasureFocus();
}

void TMainF::MainAcquisitionControlsClick()
{
    SettingsPanel->setVisible(MainAcquisitionControls->isChecked());
}

void TMainF::HandbookClick()
{
    const QString page = QString::fromStdString(programDirectory_ + "Help/menu.html");
    if (!QFileInfo::exists(page)) {
        korvi::gui::ShowMessage(QStringLiteral("Could not open default browser: ") + page,
                                QStringLiteral("Korvi"));
        return;
    }
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(page)))
        return;
    // No browser on this machine: the shipped handbook is shown in a window of the program's own.
    if (!HandbookBrowser) {
        HandbookBrowser = new QTextBrowser(this);
        HandbookBrowser->setObjectName(QStringLiteral("HandbookBrowser"));
        HandbookBrowser->setWindowFlag(Qt::Window);
        HandbookBrowser->setWindowTitle(QStringLiteral("Korvi handbook"));
        HandbookBrowser->setOpenExternalLinks(false);
        HandbookBrowser->resize(760, 640);
    }
    HandbookBrowser->setSource(QUrl::fromLocalFile(page));
    HandbookBrowser->show();
    korvi::gui::KeepInsideScreen(HandbookBrowser);
    HandbookBrowser->raise();
    HandbookBrowser->activateWindow();
}
