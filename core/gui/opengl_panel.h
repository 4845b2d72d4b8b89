#pragma once
// TOpenGLPanel: the panel every image display draws on. It owns one OpenGL 1.1 compatibility
// context and hands it to its owner through signals fired with the context current (OnInit,
// OnPaint, OnResize). Pixel-format descriptors and logical palettes do not exist on this platform:
// their properties are kept (with the flag-set rule) for callers that set them, and change nothing.
#include <memory>
#include <string>
#include <vector>

#include <QFlags>
#include <QFont>
#include <QImage>
#include <QOpenGLWidget>

class QOpenGLFunctions_1_1;
class QPrinter;

enum class TPFDPixelTypes { f_PFD_TYPE_RGBA, f_PFD_TYPE_COLORINDEX };

enum TPFDFlag : unsigned {
    f_PFD_DRAW_TO_WINDOW = 1u << 0,
    f_PFD_DRAW_TO_BITMAP = 1u << 1,
    f_PFD_SUPPORT_GDI = 1u << 2,
    f_PFD_SUPPORT_OPENGL = 1u << 3,
    f_PFD_GENERIC_ACCELERATED = 1u << 4,
    f_PFD_GENERIC_FORMAT = 1u << 5,
    f_PFD_NEED_PALETTE = 1u << 6,
    f_PFD_NEED_SYSTEM_PALETTE = 1u << 7,
    f_PFD_DOUBLEBUFFER = 1u << 8,
    f_PFD_STEREO = 1u << 9,
    f_PFD_SWAP_LAYER_BUFFERS = 1u << 10,
};
Q_DECLARE_FLAGS(TPFDFlags, TPFDFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TPFDFlags)

// A flag set always holds exactly one of SUPPORT_GDI and DOUBLEBUFFER: a new set holding both
// loses the one that was already present; a set holding neither gets the one that was absent.
TPFDFlags ApplyPFDFlagRule(TPFDFlags previous, TPFDFlags requested);

enum class TOpenGLSwapBuffers { Auto, Manual };
enum class TOpenGLPrintScale { pglNone, pglPrintToFit, pglProportional };
enum class TFont3DFormat { f_WGL_FONT_LINES, f_WGL_FONT_POLYGONS };

// Bitmap font as display lists: list base + (character - first glyph) draws one glyph.
struct OpenGLFont2D {
    int FirstGlyph = 32;
    int NumGlyph = 96;
    unsigned ListBase = 0;
};

// Per-glyph metrics of an outline font, in em units (the font height is 1).
struct GlyphMetricsFloat {
    float BlackBoxX = 0, BlackBoxY = 0;
    float OriginX = 0, OriginY = 0;
    float CellIncX = 0, CellIncY = 0;
};

struct OpenGLFont3D {
    int FirstGlyph = 32;
    int NumGlyph = 96;
    unsigned ListBase = 0;
    float Extrusion = 0.1f;
    std::vector<GlyphMetricsFloat> Metrics;
};

// A BMP loaded for use as a texture: rows bottom-up, 3 (GL_RGB) or 4 (GL_RGBA) bytes per pixel.
struct BMPTexture {
    int Components = 3;
    int Width = 0;
    int Height = 0;
    unsigned Format = 0;        // GL_RGB or GL_RGBA
    unsigned ComponentType = 0; // GL_UNSIGNED_BYTE
    std::vector<unsigned char> Pixels;
};

// Where a printed panel lands on the page, in printer dots.
struct PrintPlacement {
    int x = 0, y = 0, width = 0, height = 0;
};
// Margins of trunc(0.18 x dpi); pglPrintToFit scales by the largest whole factor that fits in the
// printable area minus both margins (by the largest fitting fraction when even 1 does not fit),
// pglProportional by printer dpi / PixelsPerInch (96 when below 1), pglNone 1:1.
PrintPlacement ComputePrintPlacement(int imageWidth, int imageHeight, int dpiX, int dpiY, int pageWidth,
                                     int pageHeight, TOpenGLPrintScale scale, int pixelsPerInch);

class TOpenGLPanel : public QOpenGLWidget
{
    Q_OBJECT
public:
    explicit TOpenGLPanel(QWidget *parent = nullptr);
    ~TOpenGLPanel() override;

    // Properties (defaults as constructed).
    TPFDPixelTypes PixelType = TPFDPixelTypes::f_PFD_TYPE_RGBA;
    unsigned char cColorBits = 32;
    unsigned char cDepthBits = 32;
    TOpenGLSwapBuffers GLSwapBuffers = TOpenGLSwapBuffers::Auto;
    int PixelsPerInch = 96;
    TOpenGLPrintScale PrintScale = TOpenGLPrintScale::pglProportional;
    bool Font3D_Enabled = false;
    QFont Font3D_Type;
    int Font3D_FirstGylph = 32;
    int Font3D_NumGylph = 96;
    float Font3D_MaxDeviation = 0.0f;
    float Font3D_Extrustion = 0.1f;
    TFont3DFormat Font3D_Format = TFont3DFormat::f_WGL_FONT_POLYGONS;
    bool Font2D_Enabled = false;
    QFont Font2D_Type;
    int Font2D_FirstGylph = 32;
    int Font2D_NumGylph = 96;

    TPFDFlags PFDFlags() const { return pfdFlags_; }
    void SetPFDFlags(TPFDFlags flags) { pfdFlags_ = ApplyPFDFlagRule(pfdFlags_, flags); }

    // The panel's OpenGL 1.1 functions; null until the context exists (or when it could not be made).
    QOpenGLFunctions_1_1 *GL() const { return gl_; }
    bool HasContext() const { return gl_ != nullptr; }

    void MakeOpenGLPanelCurrent();
    void MakeOpenGLPanelNotCurrent();
    // Every paint draws the whole picture, so this only asks for a repaint.
    void SwapBuffers();
    // True when both panels' contexts share display lists.
    bool PanelShareLists(TOpenGLPanel *other);

    // The panel as painted, saved as a BMP file; false when nothing could be written.
    bool SaveOpenGLPanelToFile(const QString &fileName);
    // Prints the painted panel on one page of `printer`; false when nothing was printed.
    bool PrintOpenGLPanel(QPrinter &printer);

    static std::unique_ptr<BMPTexture> LoadBMPTexture(const QString &fileName, bool withAlpha);

    // Font display lists (the context must be current). Null when no lists could be reserved.
    std::unique_ptr<OpenGLFont2D> Create2DFont(const QFont &font, int first, int count);
    std::unique_ptr<OpenGLFont3D> Create3DFont(const QFont &font, int first, TFont3DFormat format,
                                               float extrusion, float deviation, int count);
    bool Create2DFont();
    bool Create3DFont();
    void Draw2DText(const std::string &text);
    void Draw2DText(const OpenGLFont2D &font, const std::string &text);
    void Draw3DText(const std::string &text);
    void Draw3DText(const OpenGLFont3D &font, const std::string &text);
    // Width, height and depth of a text in the panel's 3-D font; all zero when a character is
    // outside the font.
    void Get3DTextSize(const std::string &text, float size[3]) const;
    const OpenGLFont2D *Font2D() const { return font2D_.get(); }
    const OpenGLFont3D *Font3D() const { return font3D_.get(); }

    bool QueryOpenGLExtention(const QString &name);
    int GetDisplayBPP() const;
    bool SetDisplayBPP(int bits);

signals:
    void OnPreInit();
    void OnInit();
    void OnPaint();
    void OnResize(int width, int height);
    void MouseDown(Qt::MouseButton button, int x, int y, Qt::KeyboardModifiers modifiers);
    void MouseMove(int x, int y, Qt::MouseButtons buttons);
    void MouseUp(Qt::MouseButton button, int x, int y);
    void DblClick();
    void Wheel(int angleDeltaX, int angleDeltaY);

protected:
    void initializeGL() override;
    void paintGL() override;
    void resizeGL(int width, int height) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void ReportContextFailure();
    void DestroyGLContext();
    void DeleteFontLists();

    TPFDFlags pfdFlags_ = f_PFD_DRAW_TO_WINDOW | f_PFD_SUPPORT_OPENGL | f_PFD_DOUBLEBUFFER;
    QOpenGLFunctions_1_1 *gl_ = nullptr;
    bool contextFailed_ = false;
    std::unique_ptr<OpenGLFont2D> font2D_;
    std::unique_ptr<OpenGLFont3D> font3D_;
};

// The message a panel shows when it gets no context.
inline const char *const OpenGLContextFailedText = "Open GL Context Create Failed";

// The selection rubber band every view draws while the mouse drags: a stippled cyan rectangle
// with corners (x0, y0) and (x1, y1) in the panel's GL coordinates (y upwards).
void DrawSelectionBox(QOpenGLFunctions_1_1 *gl, float x0, float y0, float x1, float y1);
