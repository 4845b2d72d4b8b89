// The image window driven through real widgets: what its OpenGL panel shows (pixel for pixel),
// the pointer read-out, the selection and the rubber band, zoom, the pop-up commands, the close
// prompt and the saved view.
#include <cmath>
#include <limits>

#include <QApplication>
#include <QMdiArea>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include "fake_image_window_host.h"
#include "gui_test_support.h"
#include "image_window.h"
#include "opengl_panel.h"
#include "selection.h"
#include "settings.h"
#include "test_files.h"

using korvi::test::GrabPanel;
using korvi::test::ModalScript;
using korvi::test::PixelIs;
using korvi::test::ShowAndWait;
using korvi::test::WaitUntil;

// Readable selections in failure messages.
void PrintTo(const ImageSelection &s, std::ostream *os)
{
    *os << "(" << s.x0 << ", " << s.y0 << ") - (" << s.x1 << ", " << s.y1 << ")";
}

namespace
{

constexpr QRgb Black = 0xFF000000u;
constexpr QRgb Cyan = 0xFF00FFFFu;

// A palette whose colour tells the display index back: red = v >> 8, green = 255 - (v >> 8),
// blue = v & 255.
void SetIndexPalette(PPalette &palette)
{
    for (int v = 0; v < 65536; ++v) {
        palette.ByteTable[0][v] = static_cast<std::uint8_t>(v >> 8);
        palette.ByteTable[1][v] = static_cast<std::uint8_t>(255 - (v >> 8));
        palette.ByteTable[2][v] = static_cast<std::uint8_t>(v & 0xFF);
    }
    palette.Dirty = 1;
}

QRgb IndexColour(int v)
{
    return qRgb(v >> 8, 255 - (v >> 8), v & 0xFF);
}

// A grey palette: every channel = v >> 8.
void SetGreyPalette(PPalette &palette)
{
    for (int v = 0; v < 65536; ++v)
        palette.ByteTable[0][v] = palette.ByteTable[1][v] = palette.ByteTable[2][v] =
            static_cast<std::uint8_t>(v >> 8);
    palette.Dirty = 1;
}

void SendMouse(QWidget *w, QEvent::Type type, Qt::MouseButton button, QPoint at)
{
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(at), w->mapToGlobal(QPointF(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void MoveTo(QWidget *w, QPoint at, Qt::MouseButtons held = Qt::NoButton)
{
    QMouseEvent event(QEvent::MouseMove, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::NoButton, held,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void Drag(QWidget *w, QPoint from, QPoint to)
{
    SendMouse(w, QEvent::MouseButtonPress, Qt::LeftButton, from);
    MoveTo(w, to, Qt::LeftButton);
    SendMouse(w, QEvent::MouseButtonRelease, Qt::LeftButton, to);
}

ImageSelection SelectionOf(const ImageData &image)
{
    return {image.SelX0, image.SelY0, image.SelX1, image.SelY1};
}

class ImageWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CurrentSettings().LogDisplayScale = false;
        CurrentSettings().DisableClosePrompt = false;
    }
    void TearDown() override
    {
        if (window) {
            window->Image().Modified = false;
            delete window.data();
        }
        CurrentSettings().LogDisplayScale = false;
        CurrentSettings().DisableClosePrompt = false;
    }

    // A window with a width x height image whose pixel (x, y) is value(x, y).
    template <typename F> void Make(int width, int height, F value, int frames = 1)
    {
        window = new TChild(&host, height, width);
        ImageData &image = window->Image();
        image.Allocate(width, height, frames);
        for (int f = 0; f < frames; ++f)
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    image.Rows[f * height + y][x] = static_cast<std::uint16_t>(value(x, y) + 7 * f);
        SetIndexPalette(image.Palette);
        image.Gain = 1.0f;
        image.DisplayOffset = 0.0f;
        image.FileName = "/data/night.1/m31.kvr";
        image.TimeStamp = 1234;
        ASSERT_TRUE(ShowAndWait(window));
    }

    TOpenGLPanel *Panel() { return window->OpenGLPanel(); }
    // What the view of a window outside a workspace shows where the canvas does not reach.
    QRgb Background() const { return window->palette().color(QPalette::Window).rgb(); }

    FakeImageWindowHost host;
    QPointer<TChild> window;
};

int Ramp(int x, int y)
{
    return 1000 * (x + 1) + 20000 * y;
}

} // namespace

TEST_F(ImageWindowTest, DrawsFrameZeroAtZoomTwoWithRowZeroAtTheBottom)
{
    Make(4, 3, Ramp, 2);
    window->SetZoom(2.0);
    window->RenderImage();
    EXPECT_EQ(window->PanelWidth(), 8);
    EXPECT_EQ(window->PanelHeight(), 6);
    const QImage picture = GrabPanel(Panel());
    ASSERT_GE(picture.width(), 10);
    ASSERT_GE(picture.height(), 8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) // grab rows run top-down; image row 0 is the lowest
                    EXPECT_TRUE(PixelIs(picture, 2 * x + dx, 6 - 2 * (y + 1) + dy, IndexColour(Ramp(x, y))))
                        << "image pixel " << x << ", " << y;
    // Outside the 8 x 6 canvas the panel shows the window's background.
    EXPECT_TRUE(PixelIs(picture, 8, 0, Background()));
    EXPECT_TRUE(PixelIs(picture, 0, 6, Background()));
}

TEST_F(ImageWindowTest, GreyAndFalseColourPalettesWithLinearLevels)
{
    Make(3, 1, [](int x, int) { return 500 + 1000 * x; });
    ImageData &image = window->Image();
    image.Gain = 2.5f;
    image.DisplayOffset = 1000.0f;
    window->RenderImage();
    QImage picture = GrabPanel(Panel());
    // v = trunc((p - 1000) x 2.5), clamped at 0: 500 -> 0, 1500 -> 1250, 2500 -> 3750.
    EXPECT_TRUE(PixelIs(picture, 0, 0, IndexColour(0)));
    EXPECT_TRUE(PixelIs(picture, 1, 0, IndexColour(1250)));
    EXPECT_TRUE(PixelIs(picture, 2, 0, IndexColour(3750)));

    SetGreyPalette(window->Image().Palette);
    window->Image().Gain = 20.0f; // 2500 -> 30000, 1500 -> 10000
    window->RenderImage();
    picture = GrabPanel(Panel());
    EXPECT_TRUE(PixelIs(picture, 0, 0, qRgb(0, 0, 0)));
    EXPECT_TRUE(PixelIs(picture, 1, 0, qRgb(10000 >> 8, 10000 >> 8, 10000 >> 8)));
    EXPECT_TRUE(PixelIs(picture, 2, 0, qRgb(30000 >> 8, 30000 >> 8, 30000 >> 8)));
}

TEST_F(ImageWindowTest, LogarithmicScale)
{
    Make(4, 1, [](int x, int) { return std::array{50, 60, 150, 1050}[x]; });
    window->Image().DisplayOffset = 50.0f;
    window->Image().Gain = 10.0f;
    CurrentSettings().LogDisplayScale = true;
    window->RenderImage();
    const QImage picture = GrabPanel(Panel());
    // s = 10 x 6553 / log10(65535) = 13605.35: index = trunc(s x log10(p - 50)), log10(0) taken as 0.
    EXPECT_TRUE(PixelIs(picture, 0, 0, IndexColour(0)));
    EXPECT_TRUE(PixelIs(picture, 1, 0, IndexColour(13605)));
    EXPECT_TRUE(PixelIs(picture, 2, 0, IndexColour(27210)));
    EXPECT_TRUE(PixelIs(picture, 3, 0, IndexColour(40816)));
}

TEST_F(ImageWindowTest, ZoomedOutShowsThePixelUnderEachCanvasPixelCentre)
{
    // Zoom 0.5: canvas pixel j (from the left, and row k from the bottom) shows the image pixel
    // under its centre, column trunc((j + 0.5) / 0.5) = 2j + 1 and row 2k + 1.
    Make(8, 6, [](int x, int y) { return 1000 * x + 100 * y; });
    window->SetZoom(0.5);
    window->RenderImage();
    EXPECT_EQ(window->PanelWidth(), 4);
    EXPECT_EQ(window->PanelHeight(), 3);
    QImage picture = GrabPanel(Panel());
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 4; ++j)
            EXPECT_TRUE(PixelIs(picture, j, 2 - k, IndexColour(1000 * (2 * j + 1) + 100 * (2 * k + 1))))
                << "canvas " << j << ", " << k;
    EXPECT_TRUE(PixelIs(picture, 4, 0, Background()));
    EXPECT_TRUE(PixelIs(picture, 0, 3, Background()));

    // New pixels at the same zoom are shown.
    window->Image().Rows[1][1] = 9999;
    window->RenderImage();
    picture = GrabPanel(Panel());
    EXPECT_TRUE(PixelIs(picture, 0, 2, IndexColour(9999)));

    // Zoom 0.4 of a 10 x 5 image: centres 1.25, 3.75, 6.25, 8.75 fall on columns 1, 3, 6, 8 and
    // rows 1, 3 from the bottom.
    window->Image().Allocate(10, 5, 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 10; ++x)
            window->Image().Rows[y][x] = static_cast<std::uint16_t>(1000 * x + 100 * y);
    window->SetZoom(0.4);
    window->RenderImage();
    EXPECT_EQ(window->PanelWidth(), 4);
    EXPECT_EQ(window->PanelHeight(), 2);
    picture = GrabPanel(Panel());
    const int columns[] = {1, 3, 6, 8};
    const int rows[] = {1, 3};
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 4; ++j)
            EXPECT_TRUE(PixelIs(picture, j, 1 - k, IndexColour(1000 * columns[j] + 100 * rows[k])))
                << "canvas " << j << ", " << k;
    EXPECT_TRUE(PixelIs(picture, 4, 0, Background()));
    EXPECT_TRUE(PixelIs(picture, 0, 2, Background()));
}

TEST_F(ImageWindowTest, ZoomedImageScrollsAndDrawsOnlyWhatIsVisible)
{
    Make(300, 200, [](int x, int y) { return 100 * x + y; });
    window->SetZoom(4.0);
    window->RenderImage();
    QApplication::processEvents();
    EXPECT_EQ(window->PanelWidth(), 1200);
    EXPECT_EQ(window->PanelHeight(), 800);
    ASSERT_TRUE(window->HorizontalScrollBar()->isVisible());
    ASSERT_TRUE(window->VerticalScrollBar()->isVisible());
    ASSERT_TRUE(WaitUntil([&] {
        return window->HorizontalScrollBar()->maximum() == 1200 - Panel()->width() &&
               window->VerticalScrollBar()->maximum() == 800 - Panel()->height();
    }));

    // At the start the top-left of the canvas shows: image column 0, the top row (199).
    QImage picture = GrabPanel(Panel());
    EXPECT_TRUE(PixelIs(picture, 0, 0, IndexColour(100 * 0 + 199)));
    EXPECT_TRUE(PixelIs(picture, 5, 3, IndexColour(100 * 1 + 199)));

    // Scrolled to the far corner: the last canvas pixel (image pixel 299, row 0) is the last one shown.
    window->HorizontalScrollBar()->setValue(window->HorizontalScrollBar()->maximum());
    window->VerticalScrollBar()->setValue(window->VerticalScrollBar()->maximum());
    picture = GrabPanel(Panel());
    const int vw = Panel()->width();
    const int vh = Panel()->height();
    EXPECT_TRUE(PixelIs(picture, vw - 1, vh - 1, IndexColour(100 * 299 + 0)));
    // Viewport pixel (0, 0) is canvas pixel (hmax, vmax).
    const int cx = window->HorizontalScrollBar()->value();
    const int cy = window->VerticalScrollBar()->value();
    EXPECT_TRUE(PixelIs(picture, 0, 0, IndexColour(100 * (cx / 4) + (199 - cy / 4))));

    // The read-out uses canvas pixels too.
    MoveTo(Panel(), QPoint(vw - 1, vh - 1));
    ASSERT_FALSE(host.statusTexts.empty());
    EXPECT_EQ(host.statusTexts.back().toStdString(), "Frame 1: X=299, Y=0, Value: 29900");
}

TEST_F(ImageWindowTest, RenderCacheIsPerWindowAndFollowsThePixels)
{
    Make(2, 1, [](int x, int) { return 1000 + 1000 * x; });
    window->RenderImage();
    EXPECT_EQ(window->RenderCount(), 1);
    window->SetZoom(2.0); // zoom alone needs no new display buffer
    window->RenderImage();
    EXPECT_EQ(window->RenderCount(), 1);

    // Pixels changed with the same levels (an undo, an equalization): the window shows them.
    window->Image().Rows[0][0] = 7000;
    window->RenderImage();
    EXPECT_EQ(window->RenderCount(), 2);
    QImage picture = GrabPanel(Panel());
    EXPECT_TRUE(PixelIs(picture, 0, window->PanelHeight() - 1, IndexColour(7000)));

    window->Image().Palette.Dirty = 1;
    window->RenderImage();
    EXPECT_EQ(window->RenderCount(), 3);
    EXPECT_EQ(window->ConstImage().Palette.Dirty, 0);

    CurrentSettings().LogDisplayScale = true;
    window->RenderImage();
    EXPECT_EQ(window->RenderCount(), 4);

    // A second window with the same levels and a clean palette still renders its own pixels.
    CurrentSettings().LogDisplayScale = false;
    FakeImageWindowHost otherHost;
    QPointer<TChild> other = new TChild(&otherHost, 1, 2);
    other->Image().Allocate(2, 1, 1);
    other->Image().Rows[0][0] = 3000;
    other->Image().Rows[0][1] = 5000;
    SetIndexPalette(other->Image().Palette);
    other->Image().Palette.Dirty = 0;
    ASSERT_TRUE(ShowAndWait(other));
    window->RenderImage();
    other->RenderImage();
    EXPECT_EQ(other->RenderCount(), 1);
    picture = GrabPanel(other->OpenGLPanel());
    EXPECT_TRUE(PixelIs(picture, 0, 0, IndexColour(3000)));
    EXPECT_TRUE(PixelIs(picture, 1, 0, IndexColour(5000)));
    delete other.data();
}

TEST_F(ImageWindowTest, ReallocatedImageIsRenderedBeforeItIsShown)
{
    Make(2, 2, [](int, int) { return 4000; });
    window->RenderImage();
    // A crop to another size gives fresh buffers; the next render must fill them.
    ImageData &image = window->Image();
    image.Allocate(3, 1, 1);
    image.Rows[0][0] = 100;
    image.Rows[0][1] = 200;
    image.Rows[0][2] = 300;
    window->RenderImage();
    EXPECT_EQ(window->BaseWidth(), 3);
    EXPECT_EQ(window->BaseHeight(), 1);
    const QImage picture = GrabPanel(Panel());
    EXPECT_TRUE(PixelIs(picture, 0, 0, IndexColour(100)));
    EXPECT_TRUE(PixelIs(picture, 2, 0, IndexColour(300)));
    EXPECT_TRUE(PixelIs(picture, 0, 1, Background()));

    // Freed: the old picture is not shown any more.
    window->Image().Free();
    window->RenderImage();
    const QImage cleared = GrabPanel(Panel());
    EXPECT_EQ(korvi::test::CountPixels(cleared, Black), cleared.width() * cleared.height());
}

TEST_F(ImageWindowTest, FirstRenderKeepsTheConstructorSize)
{
    window = new TChild(&host, 2, 3);
    window->Image().Allocate(5, 4, 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            window->Image().Rows[y][x] = static_cast<std::uint16_t>(300 * (x + 5 * y));
    SetIndexPalette(window->Image().Palette);
    ASSERT_TRUE(ShowAndWait(window));
    window->RenderImage();
    EXPECT_EQ(window->PanelWidth(), 3);
    EXPECT_EQ(window->PanelHeight(), 2);
    window->RenderImage();
    EXPECT_EQ(window->PanelWidth(), 5);
    EXPECT_EQ(window->PanelHeight(), 4);
}

TEST_F(ImageWindowTest, EmptyImagePaintsBlackWithoutCrashing)
{
    window = new TChild(&host, 10, 10);
    ASSERT_TRUE(ShowAndWait(window));
    window->RenderImage();
    const QImage picture = GrabPanel(Panel());
    EXPECT_EQ(korvi::test::CountPixels(picture, Black), picture.width() * picture.height());
    MoveTo(Panel(), QPoint(3, 3));
    EXPECT_EQ(host.statusTexts.back().toStdString(), "X=0, Y=0, Excluded pixel.");
    window->FitToWindow(); // no pixels: no division by zero
    EXPECT_TRUE(std::isfinite(window->Zoom()));
    EXPECT_GE(window->Zoom(), MinimumZoom);
}

TEST_F(ImageWindowTest, PointerReadOutAndMagnifier)
{
    Make(4, 3, Ramp, 2);
    window->SetZoom(2.0);
    window->Image().CurrentFrame = 1;
    window->RenderImage();
    host.mode = CrossSectionMode::Horizontal;

    MoveTo(Panel(), QPoint(3, 0)); // canvas (3, 0): image column 1, top row 2
    ASSERT_FALSE(host.statusTexts.empty());
    EXPECT_EQ(host.statusTexts.back().toStdString(),
              "Frame 2: X=1, Y=2, Value: " + std::to_string(Ramp(1, 2) + 7));
    ASSERT_FALSE(host.magnifierPoints.empty());
    EXPECT_EQ(host.magnifierPoints.back(), std::make_pair(1, 2));
    ASSERT_FALSE(host.crossSections.empty());
    EXPECT_EQ(host.crossSections.back().x0, 0);
    EXPECT_EQ(host.crossSections.back().y0, 2);
    EXPECT_EQ(host.crossSections.back().x1, 4);
    EXPECT_EQ(host.crossSections.back().y1, 2);

    MoveTo(Panel(), QPoint(7, 5)); // the last canvas pixel: image (3, 0)
    EXPECT_EQ(host.statusTexts.back().toStdString(),
              "Frame 2: X=3, Y=0, Value: " + std::to_string(Ramp(3, 0) + 7));

    MoveTo(Panel(), QPoint(9, 1)); // right of the canvas
    EXPECT_EQ(host.statusTexts.back().toStdString(), "X=4, Y=2, Excluded pixel.");
    MoveTo(Panel(), QPoint(2, 6)); // below the canvas
    EXPECT_EQ(host.statusTexts.back().toStdString(), "X=1, Y=-1, Excluded pixel.");

    host.mode = CrossSectionMode::Vertical;
    MoveTo(Panel(), QPoint(5, 3)); // image (2, 1)
    EXPECT_EQ(host.crossSections.back().x0, 2);
    EXPECT_EQ(host.crossSections.back().x1, 2);
    EXPECT_EQ(host.crossSections.back().y1, 3);

    host.active = false;
    const std::size_t points = host.magnifierPoints.size();
    MoveTo(Panel(), QPoint(1, 1));
    EXPECT_EQ(host.statusTexts.back().toStdString(), "Inactive window.");
    EXPECT_EQ(host.magnifierPoints.size(), points);
}

TEST_F(ImageWindowTest, CursorPatchIsReadAroundThePointer)
{
    Make(60, 40, [](int x, int) { return x < 30 ? 256 * 10 : 256 * 200; });
    window->RenderImage();
    // Pointer at canvas (30, 20): the 32 x 12 block starts 15 to the left, at column 15.
    MoveTo(Panel(), QPoint(30, 20));
    ASSERT_TRUE(WaitUntil([&] { return host.magnifierRepaints > 0; }));
    const std::uint8_t *patch = window->CursorPatch();
    // Patch column 14 is canvas column 29 (left half), column 15 is canvas column 30 (right half).
    EXPECT_EQ(patch[4 * 14], 10);
    EXPECT_EQ(patch[4 * 15], 200);
    EXPECT_EQ(patch[4 * 14 + 1], 245);
}

TEST_F(ImageWindowTest, DragSelectsImagePixelsOrderedAndClamped)
{
    Make(20, 10, [](int, int) { return 256 * 40; });
    window->SetZoom(2.0);
    window->RenderImage();
    // From canvas (30, 4) to (6, 15): image x 15 -> 3, y (19 - 4) x 10 / 20 = 7 -> (19 - 15) / 2 = 2.
    Drag(Panel(), QPoint(30, 4), QPoint(6, 15));
    const ImageData &image = window->ConstImage();
    EXPECT_TRUE(image.SelectionShown);
    EXPECT_EQ(SelectionOf(image), (ImageSelection{3, 2, 15, 7}));

    // Dragged beyond the canvas: clamped to the image.
    Drag(Panel(), QPoint(2, 2), QPoint(300, 200));
    EXPECT_EQ(SelectionOf(image), (ImageSelection{1, 0, 19, 8}));

    // A click, or a drag along one row, removes the selection.
    Drag(Panel(), QPoint(10, 10), QPoint(11, 11));
    EXPECT_FALSE(image.SelectionShown);
    Drag(Panel(), QPoint(2, 2), QPoint(300, 200));
    Drag(Panel(), QPoint(4, 6), QPoint(30, 7));
    EXPECT_FALSE(image.SelectionShown);
}

TEST_F(ImageWindowTest, DoubleClickDrawsALineOrderedByX)
{
    Make(20, 10, [](int, int) { return 256 * 40; });
    window->SetZoom(2.0);
    window->RenderImage();
    host.crossSectionVisible = true;
    SendMouse(Panel(), QEvent::MouseButtonPress, Qt::LeftButton, QPoint(30, 16));
    SendMouse(Panel(), QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(30, 16));
    SendMouse(Panel(), QEvent::MouseButtonDblClick, Qt::LeftButton, QPoint(30, 16));
    MoveTo(Panel(), QPoint(4, 2), Qt::LeftButton);
    SendMouse(Panel(), QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(4, 2));
    const ImageData &image = window->ConstImage();
    // Press (15, 1), release (2, 8): the end points swap so x rises, y follows its point.
    EXPECT_TRUE(image.SelectionShown);
    EXPECT_EQ(SelectionOf(image), (ImageSelection{2, 8, 15, 1}));
    EXPECT_FALSE(image.SelectionIsLine); // cleared on release
    EXPECT_TRUE(window->LineSelectionShown());
    ASSERT_EQ(host.crossSections.size(), 1u);
    EXPECT_EQ(host.crossSections[0].x0, 2);
    EXPECT_EQ(host.crossSections[0].y0, 8);
    EXPECT_EQ(host.crossSections[0].y1, 1);

    // A vertical line (press and release in one column) survives, unlike a rectangle.
    SendMouse(Panel(), QEvent::MouseButtonDblClick, Qt::LeftButton, QPoint(10, 2));
    MoveTo(Panel(), QPoint(10, 18), Qt::LeftButton);
    SendMouse(Panel(), QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(10, 18));
    EXPECT_TRUE(image.SelectionShown);
    EXPECT_EQ(image.SelX0, 5);
    EXPECT_EQ(image.SelX1, 5);

    // A rectangle afterwards is no line.
    Drag(Panel(), QPoint(2, 2), QPoint(20, 12));
    EXPECT_TRUE(image.SelectionShown);
    EXPECT_FALSE(window->LineSelectionShown());
}

TEST_F(ImageWindowTest, RubberBandIsADottedCyanLoopWhileDragging)
{
    Make(40, 20, [](int, int) { return 256 * 40; });
    window->SetZoom(2.0);
    window->RenderImage();
    QImage picture = GrabPanel(Panel());
    EXPECT_EQ(korvi::test::CountPixels(picture, Cyan), 0);

    SendMouse(Panel(), QEvent::MouseButtonPress, Qt::LeftButton, QPoint(10, 6));
    picture = GrabPanel(Panel());
    EXPECT_EQ(korvi::test::CountPixels(picture, Cyan), 0) << "nothing before the pointer moves";

    MoveTo(Panel(), QPoint(50, 26), Qt::LeftButton);
    picture = GrabPanel(Panel());
    auto cyanInRow = [&](int y, int x0, int x1) {
        int n = 0;
        for (int x = x0; x <= x1; ++x)
            n += (picture.pixel(x, y) & 0xFFFFFFu) == 0x00FFFFu;
        return n;
    };
    auto cyanInColumn = [&](int x, int y0, int y1) {
        int n = 0;
        for (int y = y0; y <= y1; ++y)
            n += (picture.pixel(x, y) & 0xFFFFFFu) == 0x00FFFFu;
        return n;
    };
    // Stippled (factor 2, pattern 0xAAAA): every edge is dotted, never solid, never missing.
    for (const int n : {cyanInRow(6, 10, 50), cyanInRow(26, 10, 50)}) {
        EXPECT_GE(n, 10);
        EXPECT_LE(n, 25);
    }
    for (const int n : {cyanInColumn(10, 6, 26), cyanInColumn(50, 6, 26)}) {
        EXPECT_GE(n, 4);
        EXPECT_LE(n, 13);
    }
    EXPECT_EQ(cyanInRow(16, 12, 48), 0) << "the inside is left as it was";
    EXPECT_TRUE(PixelIs(picture, 30, 16, IndexColour(256 * 40)));
    EXPECT_EQ(korvi::test::CountPixels(picture, Cyan), cyanInRow(6, 10, 50) + cyanInRow(26, 10, 50) +
                                                           cyanInColumn(10, 7, 25) + cyanInColumn(50, 7, 25));

    // Released: the selection stays outlined; a click removes it and its outline.
    SendMouse(Panel(), QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(50, 26));
    picture = GrabPanel(Panel());
    EXPECT_GT(korvi::test::CountPixels(picture, Cyan), 40);
    Drag(Panel(), QPoint(20, 20), QPoint(20, 20));
    picture = GrabPanel(Panel());
    EXPECT_EQ(korvi::test::CountPixels(picture, Cyan), 0);
}

TEST_F(ImageWindowTest, SelectionBecomesCaptureCoordinatesOnlyWhenAtLeastTwoByTwo)
{
    Make(20, 10, [](int, int) { return 256 * 40; });
    window->RenderImage();
    Settings &settings = CurrentSettings();
    settings.XLO[ImagingCamera] = 11;
    settings.XHI[ImagingCamera] = 12;
    settings.YLO[ImagingCamera] = 13;
    settings.YHI[ImagingCamera] = 14;
    settings.XLO[1] = 99;

    ImageData &image = window->Image();
    image.SelX0 = 4, image.SelX1 = 4, image.SelY0 = 1, image.SelY1 = 8; // 1 x 8
    window->SetCaptureCoordClick();
    EXPECT_EQ(settings.XLO[ImagingCamera], 11);
    EXPECT_EQ(settings.YHI[ImagingCamera], 14);
    EXPECT_TRUE(host.captureEdits.empty());

    image.SelX0 = 5, image.SelX1 = 6, image.SelY0 = 8, image.SelY1 = 7; // 2 x 2, rows reversed
    QKeyEvent press(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(window, &press);
    QApplication::sendEvent(window, &release);
    EXPECT_EQ(settings.XLO[ImagingCamera], 5);
    EXPECT_EQ(settings.XHI[ImagingCamera], 6);
    EXPECT_EQ(settings.YLO[ImagingCamera], 7);
    EXPECT_EQ(settings.YHI[ImagingCamera], 8);
    EXPECT_EQ(settings.XLO[1], 99);
    ASSERT_EQ(host.captureEdits.size(), 1u);
    EXPECT_EQ(host.captureEdits[0], (std::vector<int>{5, 6, 7, 8}));
    EXPECT_EQ(SettingsBackup().XLO[ImagingCamera], 11); // the settings before the change

    // A stale selection larger than the image is clamped before it is used.
    image.SelX0 = -3, image.SelX1 = 500, image.SelY0 = 2, image.SelY1 = 70;
    window->SetCaptureCoordClick();
    EXPECT_EQ(settings.XLO[ImagingCamera], 0);
    EXPECT_EQ(settings.XHI[ImagingCamera], 19);
    EXPECT_EQ(settings.YHI[ImagingCamera], 9);
}

TEST_F(ImageWindowTest, DraggedSelectionBecomesTheCaptureSubFrame)
{
    Make(20, 10, [](int, int) { return 256 * 40; });
    window->SetZoom(2.0);
    window->RenderImage();
    // Canvas (13, 15) to (4, 4) at zoom 2: columns 6 and 2, rows (19 - 15) x 10 / 20 = 2 and
    // (19 - 4) x 10 / 20 = 7, counted from the bottom.
    Drag(Panel(), QPoint(13, 15), QPoint(4, 4));
    QAction *item = window->PopupMenu()->findChild<QAction *>(QStringLiteral("SetCaptureCoordinates"));
    ASSERT_NE(item, nullptr);
    item->trigger();
    const Settings &settings = CurrentSettings();
    EXPECT_EQ(settings.XLO[ImagingCamera], 2);
    EXPECT_EQ(settings.XHI[ImagingCamera], 6);
    EXPECT_EQ(settings.YLO[ImagingCamera], 2);
    EXPECT_EQ(settings.YHI[ImagingCamera], 7);
    ASSERT_EQ(host.captureEdits.size(), 1u);
    EXPECT_EQ(host.captureEdits[0], (std::vector<int>{2, 6, 2, 7}));
}

TEST_F(ImageWindowTest, ZoomIsClampedAndSetsTheCanvas)
{
    Make(10, 8, [](int, int) { return 1000; });
    window->SetZoom(1.5);
    window->RenderImage();
    EXPECT_EQ(window->PanelWidth(), 15);
    EXPECT_EQ(window->PanelHeight(), 12);
    window->SetZoom(window->Zoom() * 2.0 / 3.0);
    window->RenderImage();
    EXPECT_EQ(window->PanelWidth(), 10);

    window->SetZoom(0.0);
    EXPECT_DOUBLE_EQ(window->Zoom(), MinimumZoom);
    window->RenderImage();
    EXPECT_EQ(window->PanelWidth(), 1);
    MoveTo(Panel(), QPoint(0, 0));
    EXPECT_EQ(host.statusTexts.back().toStdString(), "Frame 1: X=0, Y=0, Value: 1000");
    window->SetZoom(std::numeric_limits<double>::quiet_NaN());
    EXPECT_DOUBLE_EQ(window->Zoom(), 1.0);
    window->SetZoom(1e9);
    EXPECT_DOUBLE_EQ(window->Zoom(), MaximumZoom);
    window->SetZoom(-2.0);
    EXPECT_DOUBLE_EQ(window->Zoom(), MinimumZoom);
}

TEST_F(ImageWindowTest, FitToWindowUsesTheLimitingSide)
{
    Make(100, 50, [](int, int) { return 1000; });
    window->FitToWindow();
    const QSize client = window->widget()->size();
    const double expected = 50.0 / 100.0 > double(client.height()) / client.width() ? client.height() / 50.0
                                                                                    : client.width() / 100.0;
    EXPECT_FLOAT_EQ(window->Zoom(), static_cast<float>(expected));
    window->RenderImage();
    EXPECT_LE(window->PanelWidth(), client.width());
    EXPECT_LE(window->PanelHeight(), client.height());
}

TEST_F(ImageWindowTest, InAnMdiAreaFitMaximisesAndActivationReachesTheHost)
{
    QMdiArea area;
    area.resize(900, 700);
    ASSERT_TRUE(ShowAndWait(&area));
    auto make = [&](int width, int height) {
        auto *child = new TChild(&host, height, width);
        child->Image().Allocate(width, height, 1);
        child->Image().Rows.Fill(5000);
        area.addSubWindow(child);
        child->show();
        return child;
    };
    QPointer<TChild> first = make(100, 50);
    QPointer<TChild> second = make(40, 60);
    area.setActiveSubWindow(first);
    ASSERT_TRUE(WaitUntil([&] { return host.activations >= 1; }));
    const int before = host.activations;
    area.setActiveSubWindow(second);
    ASSERT_TRUE(WaitUntil([&] { return host.activations > before; }));

    // One call, as the host makes it: the zoom comes from the maximised client area at once.
    second->FitToWindow();
    EXPECT_TRUE(second->isMaximized());
    const QSize client = second->widget()->size();
    EXPECT_GT(client.width(), 640);
    // 60 / 40 against the client's height / width: the taller side limits.
    const double expected = 60.0 / 40.0 > double(client.height()) / client.width() ? client.height() / 60.0
                                                                                   : client.width() / 40.0;
    EXPECT_FLOAT_EQ(second->Zoom(), static_cast<float>(expected));
    second->RenderImage();
    EXPECT_LE(second->PanelHeight(), client.height());
    EXPECT_FALSE(second->HorizontalScrollBar()->isVisible());
    EXPECT_FALSE(second->VerticalScrollBar()->isVisible());
    delete first.data();
    delete second.data();
}

TEST_F(ImageWindowTest, FittedPictureOfAnotherAspectLeavesTheWorkspaceBackgroundBelowIt)
{
    QMdiArea area;
    const QRgb workspace = qRgb(30, 60, 90);
    area.setBackground(QColor(workspace));
    area.resize(900, 700);
    ASSERT_TRUE(ShowAndWait(&area));
    // 300 x 100, wider than the client: fitted by width, the canvas ends well above the view's bottom.
    window = new TChild(&host, 100, 300);
    ImageData &image = window->Image();
    image.Allocate(300, 100, 1);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 300; ++x)
            image.Rows[y][x] = static_cast<std::uint16_t>(100 * x + y);
    SetIndexPalette(image.Palette);
    area.addSubWindow(window);
    window->show();
    window->FitToWindow();
    window->RenderImage();
    ASSERT_TRUE(WaitUntil([&] { return Panel()->isVisible() && Panel()->height() > 300; }));
    const int vw = Panel()->width();
    const int vh = Panel()->height();
    const int ch = window->PanelHeight();
    ASSERT_EQ(window->PanelWidth(), vw);
    ASSERT_LT(ch, vh - 50);

    const QImage picture = GrabPanel(Panel());
    const double zoom = window->Zoom();
    // The canvas' lowest row shows image row 0; every pixel of the band below reads back as the
    // workspace's background.
    EXPECT_TRUE(PixelIs(picture, vw / 2, ch - 1, IndexColour(100 * int((vw / 2 + 0.5) / zoom))));
    const QRect band(0, ch, vw, vh - ch);
    int background = 0;
    for (int y = band.top(); y <= band.bottom(); ++y)
        for (int x = band.left(); x <= band.right(); ++x)
            background += (picture.pixel(x, y) & 0xFFFFFFu) == (workspace & 0xFFFFFFu);
    EXPECT_EQ(background, band.width() * band.height());

    // The pointer over the centre of image pixel (120, 10) reads out that pixel, which is what the
    // view shows under it.
    const QPoint at(int((120 + 0.5) * zoom), ch - 1 - int((10 + 0.5) * zoom));
    EXPECT_TRUE(PixelIs(picture, at.x(), at.y(), IndexColour(100 * 120 + 10)));
    MoveTo(Panel(), at);
    ASSERT_FALSE(host.statusTexts.empty());
    EXPECT_EQ(host.statusTexts.back().toStdString(), "Frame 1: X=120, Y=10, Value: 12010");
    EXPECT_EQ(host.magnifierPoints.back(), std::make_pair(120, 10));
    // In the band the read-out says so.
    MoveTo(Panel(), QPoint(at.x(), ch + 20));
    EXPECT_NE(host.statusTexts.back().toStdString().find("Excluded pixel."), std::string::npos);
    delete window.data();
}

TEST_F(ImageWindowTest, AttachToWindowMenu)
{
    Make(4, 4, [](int, int) { return 1000; });
    window->Image().Zoom = 3.0f;
    window->Image().SelectionShown = true;
    window->AttachToWindowMenu();
    EXPECT_EQ(window->Tag(), 1234);
    EXPECT_EQ(window->windowTitle().toStdString(), "/data/night.1/m31.kvr");
    EXPECT_FLOAT_EQ(window->Zoom(), 1.0f);
    EXPECT_FALSE(window->ConstImage().SelectionShown);
    EXPECT_EQ(host.limitCalls, 1);
    ASSERT_EQ(host.menuItems.size(), 1u);
    EXPECT_EQ(host.menuItems[0].first.toStdString(), "m31.kvr");
    EXPECT_EQ(host.menuItems[0].second, 1239);
}

TEST_F(ImageWindowTest, PopupMenuCommands)
{
    Make(20, 10, [](int, int) { return 1000; });
    window->RenderImage();
    ImageData &image = window->Image();
    image.SelX0 = 12, image.SelY0 = 9, image.SelX1 = 3, image.SelY1 = 2;
    auto trigger = [&](const char *name) {
        QAction *action = window->PopupMenu()->findChild<QAction *>(QString::fromLatin1(name));
        ASSERT_NE(action, nullptr) << name;
        action->trigger();
    };
    const QList<QAction *> items = window->PopupMenu()->actions();
    const char *const captions[] = {"Set capture &coordinates",
                                    "&Trim to selected",
                                    "Show cross-section for selected",
                                    "Show horizontal cross-section ",
                                    "Show vertical cross-section",
                                    "Hide cross-sections",
                                    "Show focus data",
                                    "Show &stats for selected"};
    ASSERT_EQ(items.size(), 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(items[i]->text().toStdString(), captions[i]) << "item " << i;
    EXPECT_EQ(items[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
    EXPECT_EQ(items[7]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));

    trigger("CrossSectionSelected");
    ASSERT_EQ(host.shownModes.size(), 1u);
    EXPECT_EQ(host.shownModes[0], CrossSectionMode::Custom);
    ASSERT_EQ(host.crossSections.size(), 1u);
    EXPECT_EQ(host.crossSections[0].x0, 3);
    EXPECT_EQ(host.crossSections[0].y0, 2);
    EXPECT_EQ(host.crossSections[0].x1, 12);
    EXPECT_EQ(host.crossSections[0].y1, 9);

    trigger("CrossSectionHorizontal");
    EXPECT_EQ(host.shownModes.back(), CrossSectionMode::Horizontal);
    EXPECT_EQ(host.crossSections.back().x1, 19);
    EXPECT_EQ(host.crossSections.back().y1, 0);
    trigger("CrossSectionVertical");
    EXPECT_EQ(host.shownModes.back(), CrossSectionMode::Vertical);
    EXPECT_EQ(host.crossSections.back().x1, 0);
    EXPECT_EQ(host.crossSections.back().y1, 9);
    trigger("HideCrossSections");
    EXPECT_EQ(host.hideClicks, 1);
    trigger("ShowFocusData");
    EXPECT_EQ(host.focusClicks, 1);
    trigger("TrimToSelected");
    EXPECT_EQ(host.trimClicks, 1);
    // The host reads an ordered selection.
    EXPECT_EQ(image.SelX0, 3);
    EXPECT_EQ(image.SelY1, 9);
    trigger("ShowStatsForSelected");
    EXPECT_EQ(host.statsClicks, 1);
    // The keys reach the window from the panel, which has the focus after a click.
    QTest::keyClick(Panel(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(host.statsClicks, 2);

    SendMouse(Panel(), QEvent::MouseButtonPress, Qt::RightButton, QPoint(5, 5));
    EXPECT_TRUE(WaitUntil([&] { return window->PopupMenu()->isVisible(); }));
    window->PopupMenu()->close();
}

TEST_F(ImageWindowTest, SaveViewBitmapWritesTheDisplayedPicture)
{
    korvi::test::TempDir dir;
    Make(3, 2, [](int x, int y) { return 256 * (10 * x + 100 * y); });
    window->SetZoom(3.0);
    window->RenderImage();
    const std::string path = dir.file("view.bmp");
    ASSERT_TRUE(window->SaveViewBitmap(path));
    const std::string bytes = korvi::test::ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 54u);
    auto u32 = [&](int at) {
        return std::uint32_t(std::uint8_t(bytes[at])) | std::uint32_t(std::uint8_t(bytes[at + 1])) << 8 |
               std::uint32_t(std::uint8_t(bytes[at + 2])) << 16 |
               std::uint32_t(std::uint8_t(bytes[at + 3])) << 24;
    };
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(u32(18), 3u);                 // image width, not the zoomed canvas
    EXPECT_EQ(u32(22), 2u);                 // height, positive: rows stored bottom-up
    EXPECT_EQ(std::uint8_t(bytes[28]), 24); // bits per pixel
    const std::uint32_t data = u32(10);
    const int stride = 12; // 3 x 3 bytes padded to 4
    ASSERT_EQ(bytes.size(), data + 2 * stride);
    for (int row = 0; row < 2; ++row) // the first stored row is the bottom of the picture: image row 0
        for (int x = 0; x < 3; ++x) {
            const QRgb c = IndexColour(256 * (10 * x + 100 * row));
            const std::size_t at = data + row * stride + 3 * x;
            EXPECT_EQ(std::uint8_t(bytes[at]), qBlue(c));
            EXPECT_EQ(std::uint8_t(bytes[at + 1]), qGreen(c));
            EXPECT_EQ(std::uint8_t(bytes[at + 2]), qRed(c));
        }

    EXPECT_FALSE(window->SaveViewBitmap(dir.file("missing-folder/view.bmp")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing-folder/view.bmp")));
}

TEST_F(ImageWindowTest, ClosingAnUnmodifiedWindowAsksNothing)
{
    Make(4, 4, [](int, int) { return 1000; });
    window->AttachToWindowMenu();
    ModalScript modals;
    window->close();
    EXPECT_TRUE(WaitUntil([&] { return window.isNull(); }));
    EXPECT_TRUE(host.saves.empty());
    EXPECT_EQ(host.removedMenuItems, (std::vector<std::int64_t>{1239}));
}

TEST_F(ImageWindowTest, CloseModifiedAnswerYesSavesInTheOriginFormat)
{
    Make(4, 4, [](int, int) { return 1000; });
    window->AttachToWindowMenu();
    window->Image().Modified = true;
    window->Image().OriginFormat = FormatFits;
    ModalScript modals;
    modals.ExpectMessage("Korvi", "Save changes to image /data/night.1/m31.kvr before closing?",
                         QMessageBox::Yes);
    window->close();
    EXPECT_TRUE(WaitUntil([&] { return window.isNull(); }));
    ASSERT_EQ(host.saves.size(), 1u);
    EXPECT_EQ(host.saves[0].name, "/data/night.1/m31.kvr");
    EXPECT_EQ(host.saves[0].format, FormatFits);
    EXPECT_EQ(host.removedMenuItems.size(), 1u);
}

TEST_F(ImageWindowTest, CloseModifiedWhoseSaveFailsKeepsTheWindowAndItsPixels)
{
    Make(4, 4, [](int, int) { return 1000; });
    window->AttachToWindowMenu();
    window->Image().Modified = true;
    host.saveSucceeds = false;
    {
        ModalScript modals;
        modals.ExpectMessage("Korvi", "before closing?", QMessageBox::Yes);
        EXPECT_FALSE(window->close());
    }
    QApplication::processEvents();
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->ConstImage().Empty);
    EXPECT_EQ(window->ConstImage().Rows[0][0], 1000);
    EXPECT_TRUE(host.removedMenuItems.empty());
    EXPECT_EQ(host.saves.size(), 1u);
}

TEST_F(ImageWindowTest, CloseModifiedBitmapSavesThisWindowsOwnView)
{
    // A BMP holds the displayed picture. Closing a window that is not the active one (Close All
    // starts with the last) must write its own picture, not the active window's.
    korvi::test::TempDir dir;
    Make(2, 1, [](int x, int) { return 256 * (10 + 100 * x); });
    window->RenderImage();
    window->Image().FileName = dir.file("own.bmp");
    window->Image().OriginFormat = FormatBmp;
    window->Image().Modified = true;
    host.active = false;
    ModalScript modals;
    modals.ExpectMessage("Korvi", "before closing?", QMessageBox::Yes);
    window->close();
    EXPECT_TRUE(WaitUntil([&] { return window.isNull(); }));
    EXPECT_TRUE(host.saves.empty()) << "the host's view save pictures the active window";
    QImage saved(QString::fromStdString(dir.file("own.bmp")), "BMP");
    ASSERT_FALSE(saved.isNull());
    ASSERT_EQ(saved.size(), QSize(2, 1));
    EXPECT_TRUE(PixelIs(saved, 0, 0, IndexColour(256 * 10)));
    EXPECT_TRUE(PixelIs(saved, 1, 0, IndexColour(256 * 110)));
}

TEST_F(ImageWindowTest, CloseModifiedAnswerNoDiscards)
{
    Make(4, 4, [](int, int) { return 1000; });
    window->Image().Modified = true;
    ModalScript modals;
    modals.ExpectMessage("Korvi", "before closing?", QMessageBox::No);
    window->close();
    EXPECT_TRUE(WaitUntil([&] { return window.isNull(); }));
    EXPECT_TRUE(host.saves.empty());
}

TEST_F(ImageWindowTest, CloseModifiedWithThePromptDisabledAsksNothing)
{
    Make(4, 4, [](int, int) { return 1000; });
    window->Image().Modified = true;
    CurrentSettings().DisableClosePrompt = true;
    ModalScript modals;
    window->close();
    EXPECT_TRUE(WaitUntil([&] { return window.isNull(); }));
    EXPECT_TRUE(host.saves.empty());
}

TEST_F(ImageWindowTest, ControlsCarryTheirNames)
{
    Make(4, 4, [](int, int) { return 1000; });
    EXPECT_EQ(window->findChild<TOpenGLPanel *>(QStringLiteral("OpenGLPanel")), Panel());
    EXPECT_NE(window->findChild<QMenu *>(QStringLiteral("PopupMenu")), nullptr);
    TChild fresh(nullptr, 5, 5);
    EXPECT_EQ(fresh.windowTitle().toStdString(), "Korvi image");
    EXPECT_EQ(fresh.size(), QSize(640, 406));
    EXPECT_TRUE(Panel()->PFDFlags().testFlag(f_PFD_DOUBLEBUFFER));
    EXPECT_TRUE(Panel()->PFDFlags().testFlag(f_PFD_DRAW_TO_BITMAP));
    EXPECT_FALSE(Panel()->PFDFlags().testFlag(f_PFD_DRAW_TO_WINDOW));
    EXPECT_EQ(Panel()->GLSwapBuffers, TOpenGLSwapBuffers::Manual);
}
