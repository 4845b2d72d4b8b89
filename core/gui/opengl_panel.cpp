#include "opengl_panel.h"

#include "gui_runtime.h"

#include <algorithm>
#include <cmath>

#include <QFile>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions_1_1>
#include <QOpenGLVersionFunctionsFactory>
#include <QPainter>
#include <QPainterPath>
#include <QPrinter>
#include <QScreen>
#include <QSurfaceFormat>
#include <QTimer>
#include <QWheelEvent>

TPFDFlags ApplyPFDFlagRule(TPFDFlags previous, TPFDFlags requested)
{
    const bool gdi = requested.testFlag(f_PFD_SUPPORT_GDI);
    const bool doubleBuffer = requested.testFlag(f_PFD_DOUBLEBUFFER);
    if (gdi && doubleBuffer) {
        if (previous.testFlag(f_PFD_SUPPORT_GDI))
            requested &= ~TPFDFlags(f_PFD_SUPPORT_GDI);
        else
            requested &= ~TPFDFlags(f_PFD_DOUBLEBUFFER);
    } else if (!gdi && !doubleBuffer) {
        if (!previous.testFlag(f_PFD_SUPPORT_GDI))
            requested |= f_PFD_SUPPORT_GDI;
        else
            requested |= f_PFD_DOUBLEBUFFER;
    }
    return requested;
}

PrintPlacement ComputePrintPlacement(int imageWidth, int imageHeight, int dpiX, int dpiY, int pageWidth,
                                     int pageHeight, TOpenGLPrintScale scale, int pixelsPerInch)
{
    PrintPlacement p;
    p.x = static_cast<int>(0.18 * dpiX);
    p.y = static_cast<int>(0.18 * dpiY);
    if (imageWidth <= 0 || imageHeight <= 0)
        return p;
    switch (scale) {
    case TOpenGLPrintScale::pglNone:
        p.width = imageWidth;
        p.height = imageHeight;
        break;
    case TOpenGLPrintScale::pglPrintToFit: {
        const int areaWidth = std::max(1, pageWidth - 2 * p.x);
        const int areaHeight = std::max(1, pageHeight - 2 * p.y);
        const int factor = std::min(areaWidth / imageWidth, areaHeight / imageHeight);
        if (factor >= 1) {
            p.width = imageWidth * factor;
            p.height = imageHeight * factor;
        } else {
            // Larger than the page: shrink, keeping the aspect ratio, instead of printing nothing.
            const double f = std::min(double(areaWidth) / imageWidth, double(areaHeight) / imageHeight);
            p.width = std::max(1, static_cast<int>(imageWidth * f));
            p.height = std::max(1, static_cast<int>(imageHeight * f));
        }
        break;
    }
    case TOpenGLPrintScale::pglProportional: {
        const int ppi = pixelsPerInch < 1 ? 96 : pixelsPerInch;
        p.width = static_cast<int>(double(imageWidth) * dpiX / ppi);
        p.height = static_cast<int>(double(imageHeight) * dpiY / ppi);
        break;
    }
    }
    return p;
}

TOpenGLPanel::TOpenGLPanel(QWidget *parent) : QOpenGLWidget(parent)
{
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    format.setDepthBufferSize(std::min<int>(cDepthBits, 24));
    format.setAlphaBufferSize(8);
    setFormat(format);
    setMouseTracking(true);
    Font2D_Type = QFont(QStringLiteral("Arial"));
    Font2D_Type.setPixelSize(9);
    Font3D_Type = Font2D_Type;
}

TOpenGLPanel::~TOpenGLPanel()
{
    if (QOpenGLContext *ctx = context()) {
        // The base class destroys the context after this object is gone: its notice must not
        // reach DestroyGLContext then.
        disconnect(ctx, nullptr, this, nullptr);
        DestroyGLContext();
    }
}

void TOpenGLPanel::initializeGL()
{
    emit OnPreInit();
    QOpenGLContext *ctx = context();
    gl_ = ctx && ctx->isValid() ? QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_1_1>(ctx) : nullptr;
    if (gl_ && !gl_->initializeOpenGLFunctions())
        gl_ = nullptr;
    if (!gl_) {
        // Not from inside the GL callback: the box runs its own event loop.
        QTimer::singleShot(0, this, &TOpenGLPanel::ReportContextFailure);
        return;
    }
    connect(ctx, &QOpenGLContext::aboutToBeDestroyed, this, &TOpenGLPanel::DestroyGLContext,
            Qt::UniqueConnection);
    if (Font3D_Enabled)
        Create3DFont();
    if (Font2D_Enabled)
        Create2DFont();
    emit OnInit();
}

void TOpenGLPanel::paintEvent(QPaintEvent *event)
{
    QOpenGLWidget::paintEvent(event);
    // When the context cannot even be created, initializeGL never runs. Painting a panel that has
    // an area is where the context is made, so a panel still without one here has none. (A panel
    // shown at zero size has not tried yet: it is not a failure.)
    if (!isValid() && !size().isEmpty())
        QTimer::singleShot(0, this, &TOpenGLPanel::ReportContextFailure);
}

void TOpenGLPanel::ReportContextFailure()
{
    if (contextFailed_)
        return;
    contextFailed_ = true;
    korvi::gui::ShowMessage(QString::fromLatin1(OpenGLContextFailedText), QStringLiteral("Korvi"),
                            MessageButtons::Ok, MessageIcon::Error);
}

void TOpenGLPanel::DestroyGLContext()
{
    makeCurrent();
    DeleteFontLists();
    doneCurrent();
    gl_ = nullptr;
}

void TOpenGLPanel::DeleteFontLists()
{
    if (!gl_)
        return;
    if (font2D_ && font2D_->ListBase)
        gl_->glDeleteLists(font2D_->ListBase, font2D_->NumGlyph);
    if (font3D_ && font3D_->ListBase)
        gl_->glDeleteLists(font3D_->ListBase, font3D_->NumGlyph);
    font2D_.reset();
    font3D_.reset();
}

void TOpenGLPanel::paintGL()
{
    if (!gl_)
        return; // a panel without a context draws nothing
    emit OnPaint();
}

void TOpenGLPanel::resizeGL(int width, int height)
{
    if (!gl_)
        return;
    emit OnResize(width, height);
}

void TOpenGLPanel::MakeOpenGLPanelCurrent()
{
    makeCurrent();
}

void TOpenGLPanel::MakeOpenGLPanelNotCurrent()
{
    doneCurrent();
}

void TOpenGLPanel::SwapBuffers()
{
    update();
}

bool TOpenGLPanel::PanelShareLists(TOpenGLPanel *other)
{
    if (!other || !context() || !other->context())
        return false;
    return QOpenGLContext::areSharing(context(), other->context());
}

bool TOpenGLPanel::SaveOpenGLPanelToFile(const QString &fileName)
{
    raise();
    const QImage picture = grabFramebuffer().convertToFormat(QImage::Format_RGB888);
    if (picture.isNull())
        return false;
    if (!picture.save(fileName, "BMP")) {
        QFile::remove(fileName);
        return false;
    }
    return true;
}

bool TOpenGLPanel::PrintOpenGLPanel(QPrinter &printer)
{
    const QImage picture = grabFramebuffer().convertToFormat(QImage::Format_RGB888);
    if (picture.isNull()) {
        korvi::gui::ShowMessage(QStringLiteral("Print: Malloc Error"), QStringLiteral("Korvi"),
                                MessageButtons::Ok, MessageIcon::Error);
        return false;
    }
    const QRect page = printer.pageRect(QPrinter::DevicePixel).toRect();
    const int dpi = printer.resolution();
    const PrintPlacement at = ComputePrintPlacement(picture.width(), picture.height(), dpi, dpi, page.width(),
                                                    page.height(), PrintScale, PixelsPerInch);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    painter.drawImage(QRect(at.x, at.y, at.width, at.height), picture);
    return painter.end();
}

std::unique_ptr<BMPTexture> TOpenGLPanel::LoadBMPTexture(const QString &fileName, bool withAlpha)
{
    QImage image(fileName, "BMP");
    if (image.isNull())
        return nullptr;
    image = image.convertToFormat(withAlpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888)
                .mirrored(false, true);
    auto texture = std::make_unique<BMPTexture>();
    texture->Components = withAlpha ? 4 : 3;
    texture->Width = image.width();
    texture->Height = image.height();
    texture->Format = withAlpha ? GL_RGBA : GL_RGB;
    texture->ComponentType = GL_UNSIGNED_BYTE;
    const int rowBytes = texture->Width * texture->Components;
    texture->Pixels.resize(std::size_t(rowBytes) * texture->Height);
    for (int y = 0; y < texture->Height; ++y)
        std::copy_n(image.constScanLine(y), rowBytes, texture->Pixels.data() + std::size_t(y) * rowBytes);
    return texture;
}

std::unique_ptr<OpenGLFont2D> TOpenGLPanel::Create2DFont(const QFont &font, int first, int count)
{
    if (!gl_ || count <= 0)
        return nullptr;
    const GLuint base = gl_->glGenLists(count);
    if (base == 0)
        return nullptr;
    QFont bitmapFont = font;
    bitmapFont.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics metrics(bitmapFont);
    GLint alignment = 4;
    gl_->glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    gl_->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int i = 0; i < count; ++i) {
        const QChar c(first + i);
        const QRect box = metrics.boundingRect(c);
        const float advance = metrics.horizontalAdvance(c);
        std::vector<GLubyte> bits;
        const int w = std::max(0, box.width());
        const int h = std::max(0, box.height());
        if (w > 0 && h > 0) {
            QImage glyph(w, h, QImage::Format_Grayscale8);
            glyph.fill(0);
            QPainter painter(&glyph);
            painter.setFont(bitmapFont);
            painter.setPen(Qt::white);
            painter.drawText(-box.left(), -box.top(), QString(c));
            painter.end();
            const int rowBytes = (w + 7) / 8;
            bits.assign(std::size_t(rowBytes) * h, 0);
            for (int row = 0; row < h; ++row) { // bitmap rows run bottom-up
                const uchar *line = glyph.constScanLine(h - 1 - row);
                for (int x = 0; x < w; ++x)
                    if (line[x] >= 128)
                        bits[std::size_t(row) * rowBytes + x / 8] |= GLubyte(0x80 >> (x % 8));
            }
        }
        gl_->glNewList(base + i, GL_COMPILE);
        gl_->glBitmap(w, h, float(-box.left()), float(box.bottom()), advance, 0.0f,
                      bits.empty() ? nullptr : bits.data());
        gl_->glEndList();
    }
    gl_->glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    auto result = std::make_unique<OpenGLFont2D>();
    result->FirstGlyph = first;
    result->NumGlyph = count;
    result->ListBase = base;
    return result;
}

std::unique_ptr<OpenGLFont3D> TOpenGLPanel::Create3DFont(const QFont &font, int first, TFont3DFormat format,
                                                         float extrusion, float deviation, int count)
{
    (void)deviation; // Qt's outlines are already flattened finely enough for glyph sizes
    if (!gl_ || count <= 0)
        return nullptr;
    const GLuint base = gl_->glGenLists(count);
    if (base == 0)
        return nullptr;
    QFont outlineFont = font;
    outlineFont.setPixelSize(256); // outlines are scaled to em units below
    const QFontMetricsF metrics(outlineFont);
    const float em = float(metrics.height());
    auto result = std::make_unique<OpenGLFont3D>();
    result->FirstGlyph = first;
    result->NumGlyph = count;
    result->ListBase = base;
    result->Extrusion = extrusion;
    result->Metrics.resize(count);
    for (int i = 0; i < count; ++i) {
        const QChar c(first + i);
        QPainterPath path;
        path.addText(0, 0, outlineFont, QString(c));
        const QRectF box = path.boundingRect();
        GlyphMetricsFloat &m = result->Metrics[i];
        m.BlackBoxX = float(box.width()) / em;
        m.BlackBoxY = float(box.height()) / em;
        m.OriginX = float(box.left()) / em;
        m.OriginY = float(-box.top()) / em;
        m.CellIncX = float(metrics.horizontalAdvance(c)) / em;
        m.CellIncY = 0.0f;
        const QList<QPolygonF> outlines = path.toSubpathPolygons();
        gl_->glNewList(base + i, GL_COMPILE);
        // Outline glyphs: the contour at the front face and, when extruded, at the back face with
        // the edges joining them. Filled faces would need a tessellator that OpenGL 1.1 lacks, so
        // the polygon format draws the same contours.
        for (const QPolygonF &outline : outlines) {
            for (float z : {0.0f, -extrusion}) {
                gl_->glBegin(GL_LINE_LOOP);
                for (const QPointF &pt : outline)
                    gl_->glVertex3f(float(pt.x()) / em, float(-pt.y()) / em, z);
                gl_->glEnd();
                if (extrusion == 0.0f)
                    break;
            }
            if (extrusion != 0.0f && format == TFont3DFormat::f_WGL_FONT_POLYGONS) {
                gl_->glBegin(GL_LINES);
                for (const QPointF &pt : outline) {
                    gl_->glVertex3f(float(pt.x()) / em, float(-pt.y()) / em, 0.0f);
                    gl_->glVertex3f(float(pt.x()) / em, float(-pt.y()) / em, -extrusion);
                }
                gl_->glEnd();
            }
        }
        gl_->glTranslatef(m.CellIncX, m.CellIncY, 0.0f);
        gl_->glEndList();
    }
    return result;
}

bool TOpenGLPanel::Create2DFont()
{
    if (font2D_ && gl_)
        gl_->glDeleteLists(font2D_->ListBase, font2D_->NumGlyph);
    font2D_ = Create2DFont(Font2D_Type, Font2D_FirstGylph, Font2D_NumGylph);
    return font2D_ != nullptr;
}

bool TOpenGLPanel::Create3DFont()
{
    if (font3D_ && gl_)
        gl_->glDeleteLists(font3D_->ListBase, font3D_->NumGlyph);
    font3D_ = Create3DFont(Font3D_Type, Font3D_FirstGylph, Font3D_Format, Font3D_Extrustion,
                           Font3D_MaxDeviation, Font3D_NumGylph);
    return font3D_ != nullptr;
}

namespace
{
bool InRange(const std::string &text, int first, int count)
{
    return std::all_of(text.begin(), text.end(), [&](char ch) {
        const int c = static_cast<unsigned char>(ch);
        return c >= first && c < first + count;
    });
}
} // namespace

void TOpenGLPanel::Draw2DText(const std::string &text)
{
    if (font2D_)
        Draw2DText(*font2D_, text);
}

void TOpenGLPanel::Draw2DText(const OpenGLFont2D &font, const std::string &text)
{
    if (!gl_ || text.empty() || !InRange(text, font.FirstGlyph, font.NumGlyph))
        return;
    gl_->glListBase(font.ListBase - font.FirstGlyph);
    gl_->glCallLists(GLsizei(text.size()), GL_UNSIGNED_BYTE, text.data());
}

void TOpenGLPanel::Draw3DText(const std::string &text)
{
    if (font3D_)
        Draw3DText(*font3D_, text);
}

void TOpenGLPanel::Draw3DText(const OpenGLFont3D &font, const std::string &text)
{
    if (!gl_ || text.empty() || !InRange(text, font.FirstGlyph, font.NumGlyph))
        return;
    GLint frontFace = GL_CCW;
    gl_->glGetIntegerv(GL_FRONT_FACE, &frontFace);
    gl_->glListBase(font.ListBase - font.FirstGlyph);
    gl_->glCallLists(GLsizei(text.size()), GL_UNSIGNED_BYTE, text.data());
    gl_->glFrontFace(GLenum(frontFace));
}

void TOpenGLPanel::Get3DTextSize(const std::string &text, float size[3]) const
{
    size[0] = size[1] = size[2] = 0.0f;
    if (!font3D_ || text.empty() || !InRange(text, font3D_->FirstGlyph, font3D_->NumGlyph))
        return;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        size[0] += font3D_->Metrics[static_cast<unsigned char>(text[i]) - font3D_->FirstGlyph].CellIncX;
    const GlyphMetricsFloat &last =
        font3D_->Metrics[static_cast<unsigned char>(text.back()) - font3D_->FirstGlyph];
    size[0] += last.BlackBoxX;
    size[1] = last.BlackBoxY;
    size[2] = font3D_->Extrusion;
}

bool TOpenGLPanel::QueryOpenGLExtention(const QString &name)
{
    if (!context() || name.isEmpty() || name.contains(QLatin1Char(' ')))
        return false;
    makeCurrent();
    const bool has = context()->hasExtension(name.toLatin1());
    doneCurrent();
    return has;
}

int TOpenGLPanel::GetDisplayBPP() const
{
    const QScreen *s = screen();
    return s ? s->depth() : 0;
}

bool TOpenGLPanel::SetDisplayBPP(int bits)
{
    // The display mode is the desktop's to choose here; only the current depth "succeeds".
    return bits == GetDisplayBPP();
}

void TOpenGLPanel::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    emit MouseDown(event->button(), p.x(), p.y(), event->modifiers());
}

void TOpenGLPanel::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    emit MouseMove(p.x(), p.y(), event->buttons());
}

void TOpenGLPanel::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    emit MouseUp(event->button(), p.x(), p.y());
}

void TOpenGLPanel::mouseDoubleClickEvent(QMouseEvent *event)
{
    // As the press it replaces: the double click first, then the press of the second click.
    emit DblClick();
    mousePressEvent(event);
}

void TOpenGLPanel::wheelEvent(QWheelEvent *event)
{
    emit Wheel(event->angleDelta().x(), event->angleDelta().y());
    event->accept();
}

void DrawSelectionBox(QOpenGLFunctions_1_1 *gl, float x0, float y0, float x1, float y1)
{
    gl->glEnable(GL_LINE_STIPPLE);
    gl->glLineStipple(2, 0xAAAA);
    gl->glColor3f(0.0f, 1.0f, 1.0f);
    gl->glBegin(GL_LINE_LOOP);
    gl->glVertex2f(x0, y0);
    gl->glVertex2f(x1, y0);
    gl->glVertex2f(x1, y1);
    gl->glVertex2f(x0, y1);
    gl->glEnd();
    gl->glDisable(GL_LINE_STIPPLE);
}
