// The OpenGL panel: properties and the flag-set rule, events fired with the context current,
// saving, printing, textures, bitmap fonts and the colour-index helper drawn through OpenGL.
#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QFile>
#include <QOpenGLContext>
#include <QOpenGLFunctions_1_1>
#include <QPrinter>
#include <QSurfaceFormat>
#include <QTest>

#include <gtest/gtest.h>

#include "color_index_view.h"
#include "gui_test_support.h"
#include "opengl_panel.h"
#include "test_files.h"

using korvi::test::GrabPanel;
using korvi::test::PixelIs;
using korvi::test::ShowAndWait;

namespace
{

struct FlagCase {
    TPFDFlags previous;
    TPFDFlags requested;
    TPFDFlags expected;
};

// A panel of a fixed size that clears to a colour and runs a drawing function on paint.
class DrawingPanel
{
public:
    explicit DrawingPanel(int w = 64, int h = 48)
    {
        panel.resize(w, h);
        QObject::connect(&panel, &TOpenGLPanel::OnPaint, [this] {
            QOpenGLFunctions_1_1 *gl = panel.GL();
            gl->glViewport(0, 0, panel.width(), panel.height());
            gl->glMatrixMode(GL_PROJECTION);
            gl->glLoadIdentity();
            gl->glOrtho(0, panel.width(), 0, panel.height(), -1, 1);
            gl->glMatrixMode(GL_MODELVIEW);
            gl->glLoadIdentity();
            gl->glClearColor(0.0f, 0.0f, 0.5f, 1.0f);
            gl->glClear(GL_COLOR_BUFFER_BIT);
            if (draw)
                draw(gl);
        });
    }
    TOpenGLPanel panel;
    std::function<void(QOpenGLFunctions_1_1 *)> draw;
};

} // namespace

TEST(OpenGLPanelTest, DefaultsAsConstructed)
{
    TOpenGLPanel panel;
    EXPECT_EQ(panel.PixelType, TPFDPixelTypes::f_PFD_TYPE_RGBA);
    EXPECT_EQ(panel.PFDFlags(), f_PFD_DRAW_TO_WINDOW | f_PFD_SUPPORT_OPENGL | f_PFD_DOUBLEBUFFER);
    EXPECT_EQ(panel.cColorBits, 32);
    EXPECT_EQ(panel.cDepthBits, 32);
    EXPECT_EQ(panel.GLSwapBuffers, TOpenGLSwapBuffers::Auto);
    EXPECT_EQ(panel.PixelsPerInch, 96);
    EXPECT_EQ(panel.PrintScale, TOpenGLPrintScale::pglProportional);
    EXPECT_FALSE(panel.Font3D_Enabled);
    EXPECT_FALSE(panel.Font2D_Enabled);
    EXPECT_EQ(panel.Font2D_Type.family().toStdString(), "Arial");
    EXPECT_EQ(panel.Font2D_Type.pixelSize(), 9);
    EXPECT_EQ(panel.Font2D_FirstGylph, 32);
    EXPECT_EQ(panel.Font2D_NumGylph, 96);
    EXPECT_FLOAT_EQ(panel.Font3D_Extrustion, 0.1f);
    EXPECT_FLOAT_EQ(panel.Font3D_MaxDeviation, 0.0f);
    EXPECT_EQ(panel.Font3D_Format, TFont3DFormat::f_WGL_FONT_POLYGONS);
    EXPECT_FALSE(panel.HasContext());
}

TEST(OpenGLPanelTest, FlagSetHoldsExactlyOneOfGdiAndDoubleBuffer)
{
    const TPFDFlags gdi = f_PFD_SUPPORT_GDI;
    const TPFDFlags db = f_PFD_DOUBLEBUFFER;
    const TPFDFlags other = f_PFD_DRAW_TO_WINDOW | f_PFD_STEREO;
    const FlagCase cases[] = {
        {other | db, other | gdi | db, other | gdi}, // both: the one already present goes
        {other | gdi, other | gdi | db, other | db},
        {other | db, other, other | gdi}, // neither: the one absent before comes
        {other | gdi, other, other | db},
        {other | db, other | db, other | db}, // one: kept as asked
        {other | db, gdi, gdi},
    };
    for (const FlagCase &c : cases)
        EXPECT_EQ(ApplyPFDFlagRule(c.previous, c.requested), c.expected)
            << int(c.previous) << " + " << int(c.requested);
    TOpenGLPanel panel;
    panel.SetPFDFlags(f_PFD_SUPPORT_OPENGL);
    EXPECT_EQ(panel.PFDFlags(), f_PFD_SUPPORT_OPENGL | f_PFD_SUPPORT_GDI);
    panel.SetPFDFlags(f_PFD_SUPPORT_OPENGL | f_PFD_SUPPORT_GDI | f_PFD_DOUBLEBUFFER);
    EXPECT_EQ(panel.PFDFlags(), f_PFD_SUPPORT_OPENGL | f_PFD_DOUBLEBUFFER);
}

TEST(OpenGLPanelTest, EventsRunWithTheContextCurrent)
{
    TOpenGLPanel panel;
    panel.resize(40, 30);
    int inits = 0, paints = 0, resizes = 0, preInits = 0;
    bool allCurrent = true;
    QObject::connect(&panel, &TOpenGLPanel::OnPreInit, [&] { ++preInits; });
    QObject::connect(&panel, &TOpenGLPanel::OnInit, [&] {
        ++inits;
        allCurrent &= QOpenGLContext::currentContext() == panel.context() && panel.GL() != nullptr;
    });
    QObject::connect(&panel, &TOpenGLPanel::OnPaint, [&] {
        ++paints;
        allCurrent &= QOpenGLContext::currentContext() == panel.context();
    });
    QObject::connect(&panel, &TOpenGLPanel::OnResize, [&](int w, int h) {
        ++resizes;
        allCurrent &=
            QOpenGLContext::currentContext() == panel.context() && w == panel.width() && h == panel.height();
    });
    ASSERT_TRUE(ShowAndWait(&panel));
    GrabPanel(&panel);
    EXPECT_EQ(preInits, 1);
    EXPECT_EQ(inits, 1);
    EXPECT_GE(paints, 1);
    EXPECT_GE(resizes, 1);
    EXPECT_TRUE(allCurrent);
    EXPECT_TRUE(panel.HasContext());
    panel.resize(50, 20);
    GrabPanel(&panel);
    EXPECT_GE(resizes, 2);
    EXPECT_TRUE(allCurrent);
}

TEST(OpenGLPanelTest, PanelWithoutAContextSaysSoAndDrawsNothing)
{
    TOpenGLPanel panel;
    QSurfaceFormat format = panel.format();
    format.setProfile(QSurfaceFormat::CoreProfile); // no OpenGL 1.1 functions in a core profile
    format.setVersion(4, 5);
    panel.setFormat(format);
    panel.resize(30, 20);
    int paints = 0;
    QObject::connect(&panel, &TOpenGLPanel::OnPaint, [&] { ++paints; });
    korvi::test::ModalScript modals;
    modals.ExpectMessage("Korvi", "Open GL Context Create Failed", QMessageBox::Ok);
    ASSERT_TRUE(ShowAndWait(&panel));
    EXPECT_TRUE(korvi::test::WaitUntil([&] { return modals.Pending() == 0; }));
    panel.update();
    QTest::qWait(50);
    EXPECT_EQ(paints, 0);
    EXPECT_FALSE(panel.HasContext());
    EXPECT_TRUE(korvi::test::WaitUntil([&] { return QApplication::activeModalWidget() == nullptr; }));
}

TEST(OpenGLPanelTest, SaveToBmpHoldsThePaintedPicture)
{
    korvi::test::TempDir dir;
    DrawingPanel p(20, 10);
    p.draw = [](QOpenGLFunctions_1_1 *gl) {
        gl->glColor3f(1.0f, 0.0f, 0.0f);
        gl->glRecti(0, 0, 10, 10); // left half red, right half the clear colour
    };
    ASSERT_TRUE(ShowAndWait(&p.panel));
    const QString path = QString::fromStdString(dir.file("panel.bmp"));
    ASSERT_TRUE(p.panel.SaveOpenGLPanelToFile(path));
    QImage saved(path, "BMP");
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.size(), QSize(20, 10));
    EXPECT_TRUE(PixelIs(saved, 2, 5, qRgb(255, 0, 0)));
    EXPECT_TRUE(PixelIs(saved, 15, 5, qRgb(0, 0, 128)));
    EXPECT_FALSE(p.panel.SaveOpenGLPanelToFile(QString::fromStdString(dir.file("no/such/dir/x.bmp"))));
}

TEST(OpenGLPanelTest, PrintPlacement)
{
    // 300 dpi: margins trunc(0.18 x 300) = 54.
    PrintPlacement at = ComputePrintPlacement(100, 50, 300, 300, 2400, 3300, TOpenGLPrintScale::pglNone, 96);
    EXPECT_EQ(at.x, 54);
    EXPECT_EQ(at.y, 54);
    EXPECT_EQ(at.width, 100);
    EXPECT_EQ(at.height, 50);
    at = ComputePrintPlacement(100, 50, 300, 300, 2400, 3300, TOpenGLPrintScale::pglProportional, 96);
    EXPECT_EQ(at.width, 312); // 100 x 300 / 96 = 312.5
    EXPECT_EQ(at.height, 156);
    at = ComputePrintPlacement(100, 50, 300, 300, 2400, 3300, TOpenGLPrintScale::pglProportional, 0);
    EXPECT_EQ(at.width, 312); // below 1: 96
    at = ComputePrintPlacement(100, 50, 300, 300, 2400, 3300, TOpenGLPrintScale::pglProportional, 150);
    EXPECT_EQ(at.width, 200);
    // To fit: area 2292 x 3192, whole factor min(22, 63) = 22.
    at = ComputePrintPlacement(100, 50, 300, 300, 2400, 3300, TOpenGLPrintScale::pglPrintToFit, 96);
    EXPECT_EQ(at.width, 2200);
    EXPECT_EQ(at.height, 1100);
    // Larger than the page: shrunk with its aspect ratio, never printed at size 0.
    at = ComputePrintPlacement(4600, 1000, 300, 300, 2400, 3300, TOpenGLPrintScale::pglPrintToFit, 96);
    EXPECT_EQ(at.width, 2292);
    EXPECT_EQ(at.height, 498);
    at = ComputePrintPlacement(0, 0, 300, 300, 2400, 3300, TOpenGLPrintScale::pglPrintToFit, 96);
    EXPECT_EQ(at.width, 0);
}

TEST(OpenGLPanelTest, PrintsToPdf)
{
    korvi::test::TempDir dir;
    DrawingPanel p(32, 16);
    ASSERT_TRUE(ShowAndWait(&p.panel));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString path = QString::fromStdString(dir.file("panel.pdf"));
    printer.setOutputFileName(path);
    ASSERT_TRUE(p.panel.PrintOpenGLPanel(printer));
    const std::string bytes = korvi::test::ReadFileBytes(path.toStdString());
    ASSERT_GT(bytes.size(), 200u);
    EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
    EXPECT_NE(bytes.find("/Image"), std::string::npos);
}

TEST(OpenGLPanelTest, LoadBmpTextureBottomUp)
{
    korvi::test::TempDir dir;
    QImage image(2, 2, QImage::Format_RGB888);
    image.setPixel(0, 0, qRgb(10, 20, 30)); // top-left
    image.setPixel(1, 0, qRgb(40, 50, 60));
    image.setPixel(0, 1, qRgb(70, 80, 90)); // bottom-left
    image.setPixel(1, 1, qRgb(100, 110, 120));
    const QString path = QString::fromStdString(dir.file("t.bmp"));
    ASSERT_TRUE(image.save(path, "BMP"));
    auto rgb = TOpenGLPanel::LoadBMPTexture(path, false);
    ASSERT_TRUE(rgb);
    EXPECT_EQ(rgb->Components, 3);
    EXPECT_EQ(rgb->Format, unsigned(GL_RGB));
    EXPECT_EQ(rgb->ComponentType, unsigned(GL_UNSIGNED_BYTE));
    EXPECT_EQ(rgb->Pixels, (std::vector<unsigned char>{70, 80, 90, 100, 110, 120, 10, 20, 30, 40, 50, 60}));
    auto rgba = TOpenGLPanel::LoadBMPTexture(path, true);
    ASSERT_TRUE(rgba);
    EXPECT_EQ(rgba->Components, 4);
    EXPECT_EQ(rgba->Format, unsigned(GL_RGBA));
    EXPECT_EQ(rgba->Pixels[3], 255);
    EXPECT_EQ(rgba->Pixels[8], 10);
    EXPECT_FALSE(TOpenGLPanel::LoadBMPTexture(QString::fromStdString(dir.file("missing.bmp")), false));
}

TEST(OpenGLPanelTest, BitmapFontDrawsGlyphsInRangeOnly)
{
    DrawingPanel p(80, 30);
    p.panel.Font2D_Enabled = true;
    p.panel.Font2D_Type.setPixelSize(16);
    std::string text = "HI";
    p.draw = [&](QOpenGLFunctions_1_1 *gl) {
        gl->glColor3f(1.0f, 1.0f, 1.0f);
        gl->glRasterPos2i(4, 8);
        p.panel.Draw2DText(text);
    };
    ASSERT_TRUE(ShowAndWait(&p.panel));
    ASSERT_NE(p.panel.Font2D(), nullptr);
    EXPECT_EQ(p.panel.Font2D()->FirstGlyph, 32);
    EXPECT_EQ(p.panel.Font2D()->NumGlyph, 96);
    QImage picture = GrabPanel(&p.panel);
    const int white = korvi::test::CountPixels(picture, qRgb(255, 255, 255));
    EXPECT_GT(white, 20);
    text = "H\x80"; // past the 96 glyphs 32..127: nothing is drawn
    picture = GrabPanel(&p.panel);
    EXPECT_EQ(korvi::test::CountPixels(picture, qRgb(255, 255, 255)), 0);
    text = "H";
    picture = GrabPanel(&p.panel);
    const int oneGlyph = korvi::test::CountPixels(picture, qRgb(255, 255, 255));
    EXPECT_GT(oneGlyph, 10);
    EXPECT_LT(oneGlyph, white);
}

TEST(OpenGLPanelTest, OutlineFontSizes)
{
    DrawingPanel p(40, 20);
    p.panel.Font3D_Enabled = true;
    ASSERT_TRUE(ShowAndWait(&p.panel));
    ASSERT_NE(p.panel.Font3D(), nullptr);
    float size[3];
    p.panel.Get3DTextSize("MM", size);
    const GlyphMetricsFloat &m = p.panel.Font3D()->Metrics['M' - 32];
    EXPECT_GT(m.CellIncX, 0.0f);
    EXPECT_FLOAT_EQ(size[0], m.CellIncX + m.BlackBoxX);
    EXPECT_FLOAT_EQ(size[1], m.BlackBoxY);
    EXPECT_FLOAT_EQ(size[2], 0.1f);
    p.panel.Get3DTextSize("M\x01", size);
    EXPECT_EQ(size[0], 0.0f);
    EXPECT_EQ(size[2], 0.0f);
}

TEST(OpenGLPanelTest, ContextsAreMadeCurrentAndShareLists)
{
    DrawingPanel a, b;
    ASSERT_TRUE(ShowAndWait(&a.panel));
    ASSERT_TRUE(ShowAndWait(&b.panel));
    a.panel.MakeOpenGLPanelCurrent();
    EXPECT_EQ(QOpenGLContext::currentContext(), a.panel.context());
    a.panel.MakeOpenGLPanelNotCurrent();
    EXPECT_EQ(QOpenGLContext::currentContext(), nullptr);
    EXPECT_TRUE(a.panel.PanelShareLists(&b.panel));
    EXPECT_FALSE(a.panel.PanelShareLists(nullptr));
    TOpenGLPanel hidden; // never shown: no context to share
    EXPECT_FALSE(a.panel.PanelShareLists(&hidden));
}

TEST(OpenGLPanelTest, ExtensionQueryMatchesWholeNames)
{
    DrawingPanel p;
    ASSERT_TRUE(ShowAndWait(&p.panel));
    // An extension whose name cut short by one letter is no extension of its own.
    const QSet<QByteArray> all = p.panel.context()->extensions();
    QList<QByteArray> names = all.values();
    std::sort(names.begin(), names.end());
    QByteArray any;
    for (const QByteArray &name : names)
        if (name.size() > 1 && !all.contains(name.left(name.size() - 1))) {
            any = name;
            break;
        }
    ASSERT_FALSE(any.isEmpty());
    EXPECT_TRUE(p.panel.QueryOpenGLExtention(QString::fromLatin1(any)));
    EXPECT_FALSE(p.panel.QueryOpenGLExtention(QString::fromLatin1(any.left(any.size() - 1))));
    EXPECT_FALSE(p.panel.QueryOpenGLExtention(QString()));
    EXPECT_FALSE(p.panel.QueryOpenGLExtention(QStringLiteral("GL_ARB_multitexture GL_EXT_bgra")));
    EXPECT_GT(p.panel.GetDisplayBPP(), 0);
    EXPECT_TRUE(p.panel.SetDisplayBPP(p.panel.GetDisplayBPP()));
}

TEST(OpenGLPanelTest, ColorIndexViewDrawsWhatTheCpuExpects)
{
    std::vector<float> r(65536), g(65536), b(65536);
    for (int i = 0; i < 65536; ++i) {
        r[i] = (i % 256) / 255.0f;
        g[i] = i / 65535.0f;
        b[i] = (i / 7 % 3) * 0.5f;
    }
    ColorIndexView view;
    view.SetPaletteMaps(r.data(), g.data(), b.data(), 1000.0f, 3.0f);
    std::vector<std::uint16_t> pixels(16 * 8);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint16_t>(i * 517 + 600);
    view.SetPixels(pixels.data(), 16, 8);
    DrawingPanel p(16, 8);
    p.draw = [&](QOpenGLFunctions_1_1 *gl) {
        gl->glRasterPos2i(0, 0);
        gl->glPixelZoom(1.0f, 1.0f);
        view.Draw(gl);
    };
    ASSERT_TRUE(ShowAndWait(&p.panel));
    const QImage picture = GrabPanel(&p.panel);
    // Worked out here from the maps' rule: level 0 below the bias 1000, else trunc((p - 1000) x 3)
    // up to 65535; the palette intensities in 8-bit colour, rounded. Row 0 is the bottom row.
    auto byte = [](float v) { return static_cast<int>(std::lround(v * 255.0)); };
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            const int p = pixels[y * 16 + x];
            const int level = p < 1000 ? 0 : std::min(65535, (p - 1000) * 3);
            EXPECT_TRUE(PixelIs(picture, x, 7 - y, qRgb(byte(r[level]), byte(g[level]), byte(b[level]))))
                << x << ", " << y << ": pixel " << p;
        }
}

TEST(OpenGLPanelTest, PanelShownAtZeroSizeIsNoFailure)
{
    // A panel laid out at zero size (a collapsed pane) makes its context only when it gets an area:
    // until then it must not report a failure, and afterwards it draws.
    QWidget parent;
    parent.resize(100, 100);
    auto *panel = new TOpenGLPanel(&parent);
    panel->setGeometry(0, 0, 0, 0);
    int paints = 0;
    QObject::connect(panel, &TOpenGLPanel::OnPaint, [&] { ++paints; });
    korvi::test::ModalScript modals; // fails the test on any box
    ASSERT_TRUE(ShowAndWait(&parent));
    QTest::qWait(100);
    EXPECT_TRUE(modals.Seen().empty());
    panel->resize(30, 20);
    ASSERT_TRUE(korvi::test::WaitUntil([&] { return paints > 0; }));
    EXPECT_TRUE(panel->HasContext());
    EXPECT_TRUE(modals.Seen().empty());
}
