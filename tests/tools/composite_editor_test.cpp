// The composite editor driven through its widgets: layers loaded from files, RGB and LRGB views
// against the blending formulas, intensity and bias, zoom, read-out and selection, trims and
// transforms with Undo and Redo, quick equalization, a processing-dialog operation and the palette
// editor on a layer, and the composite, settings and bitmap files.
#include "tools_test_support.h"

#include "composite/cf_settings.h"
#include "composite/composite_editor.h"
#include "edit_target.h"
#include "opengl_panel.h"
#include "palette_editor.h"
#include "processing_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

namespace
{

using namespace korvi::test;
using Pixels = std::vector<int>;

// A palette whose channel `channel` is the straight ramp and whose other channels stay black.
PPalette ChannelPalette(int channel)
{
    PPalette palette;
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 4; ++k)
            palette.Points[c][k] = {k / 3.0f, c == channel ? k / 3.0f : 0.0f};
    palette.BuildTables(true, true, true);
    return palette;
}

std::string FileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class CompositeEditorTest : public ToolsWindowTest
{
protected:
    void SetUp() override
    {
        Composite().Clear();
        Composite().BlendMode = BlendAdditive;
        Composite().AllLayerIntensity = 1.0f;
        Composite().Layers[CompositeViewSlot].Zoom = 1.0f;
        CompositeEditorSettings() = CFSettings{};
        ToolsWindowTest::SetUp();
        editor = CompositeF;
        ASSERT_NE(editor, nullptr);
        editor->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(editor));
    }
    // Writes a layer file and loads it into `layer` through "&Load single image".
    void LoadLayer(int layer, int width, int height, const std::function<int(int, int)> &value)
    {
        const std::string path = folder.File("layer" + std::to_string(layer) + ".kvr");
        WriteTestImage(path, width, height, value);
        editor->LayerBtn[layer]->click();
        script.ChooseFiles({QString::fromStdString(path)});
        editor->LoadSingleImage1->trigger();
        ASSERT_TRUE(script.Done());
        ASSERT_TRUE(Composite().LayerLoaded(layer));
    }
    void TypeValue(const QString &text)
    {
        editor->IntBiasValue->selectAll();
        QTest::keyClicks(editor->IntBiasValue, text);
    }
    static Pixels Frame(const ImageData &image)
    {
        Pixels pixels;
        for (int y = 0; y < image.Height; ++y)
            pixels.insert(pixels.end(), image.FrameRow(0, y), image.FrameRow(0, y) + image.Width);
        return pixels;
    }
    // The palette level of pixel (x, y) of a layer under its intensity and bias.
    static int Level(const ImageData &layer, int x, int y)
    {
        const float v =
            (layer.FrameRow(0, y)[x] - layer.DisplayOffset) * layer.Gain * Composite().AllLayerIntensity;
        return v <= 0 ? 0 : v >= 65535 ? 65535 : static_cast<int>(v);
    }
    void MouseOnPanel(QEvent::Type type, Qt::MouseButton button, QPoint at)
    {
        QMouseEvent event(type, QPointF(at), QPointF(editor->OpenGLPanel->mapToGlobal(at)), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button),
                          Qt::NoModifier);
        QApplication::sendEvent(editor->OpenGLPanel, &event);
    }

    TCompositeF *editor = nullptr;
    ModalScript script;
};

TEST_F(CompositeEditorTest, RgbAndLrgbViewsFollowTheBlendFormulasWithIntensityAndBias)
{
    for (int c = 0; c < 3; ++c)
        CompositeEditorSettings().LayerPalettes[c] = ChannelPalette(c);
    LoadLayer(0, 5, 3, [](int x, int y) { return 9000 * x + 1000 * y; });
    LoadLayer(1, 5, 3, [](int x, int y) { return 60000 - 11000 * x - 500 * y; });
    // Layer 1: intensity and bias typed in move their bars (log scale, 0 at position 1).
    editor->LayerBtn[0]->click();
    TypeValue(QStringLiteral("2.5"));
    EXPECT_FLOAT_EQ(Composite().Layers[0].Gain, 2.5f);
    EXPECT_EQ(editor->LayerTrackBar[0]->value(), 12); // trunc(log10(2.5) x 100 / 3.301)
    editor->BiasBtn->click();
    EXPECT_FALSE(editor->AllLayerTrackBar->isVisibleTo(editor));
    TypeValue(QStringLiteral("3000"));
    EXPECT_FLOAT_EQ(Composite().Layers[0].DisplayOffset, 3000.0f);
    EXPECT_EQ(editor->LayerTrackBar[0]->value(), 72); // trunc(log10(3000) x 100 / 4.8164733)
    TypeValue(QStringLiteral("0"));
    EXPECT_EQ(editor->LayerTrackBar[0]->value(), 1);
    TypeValue(QStringLiteral("-20"));
    EXPECT_EQ(editor->LayerTrackBar[0]->value(), 1); // no logarithm: clamped, not NaN
    TypeValue(QStringLiteral("3000"));
    // A bar moved by the user writes its value: position 50 of the intensity scale.
    editor->IntensityBtn->click();
    editor->LayerBtn[1]->click();
    editor->LayerTrackBar[1]->setValue(50);
    EXPECT_EQ(editor->IntBiasValue->text(), QStringLiteral("44.720")); // 10^(50 x 0.01 x 3.301)
    TypeValue(QStringLiteral("0.8"));

    editor->AdditiveMode->click();
    editor->CompositeSelect->trigger();
    const CompositeImage &c = Composite();
    const ImageData &red = c.Layers[0], &green = c.Layers[1];
    const CompositePicture &picture = editor->Picture();
    ASSERT_EQ(picture.Width, 5);
    const QImage grabbed = editor->OpenGLPanel->grabFramebuffer();
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const int r = red.Palette.ByteTable[0][Level(red, x, y)];
            const int g = green.Palette.ByteTable[1][Level(green, x, y)];
            const std::uint8_t *p = &picture.Rgba[(y * 5 + x) * 4];
            EXPECT_EQ((Pixels{p[0], p[1], p[2]}), (Pixels{r, g, 0})) << x << "," << y;
            // The panel draws the picture at zoom 1 from its top-left corner, row 0 at the bottom.
            EXPECT_EQ(grabbed.pixel(x, 2 - y) & 0xffffffu, qRgb(r, g, 0) & 0xffffffu) << x << "," << y;
        }

    // Other windows redraw the editor by name, through the meta-object system.
    Composite().Layers[1].Gain = 0.0f;
    ASSERT_TRUE(QMetaObject::invokeMethod(main->ProgramWindow("TCompositeF"), "RedrawComposite"));
    EXPECT_EQ(editor->Picture().Rgba[1], green.Palette.ByteTable[1][0]);
    Composite().Layers[1].Gain = 0.8f;

    // LRGB: layers 1-3 used, layer 3 (the last of the leading used run) sets the others' alpha.
    LoadLayer(2, 4, 2, [](int x, int y) { return 20000 * x + 7000 * y; });
    editor->LuminanceMode->click();
    editor->CompositeSelect->trigger();
    const ImageData &luminance = c.Layers[2];
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            // Alpha from the luminance layer at index y x 4 + x (row-major run-on, 0 past its end).
            const int index = y * 4 + x;
            int alpha = 0;
            if (index < 8) {
                const float v = (luminance.FramePixels(0)[index] - luminance.DisplayOffset) * luminance.Gain *
                                255.0f * (1.0f / 65535.0f);
                alpha = v <= 0 ? 0 : v >= 255 ? 255 : static_cast<int>(v);
            }
            const int r = (red.Palette.ByteTable[0][Level(red, x, y)] * alpha + 127) / 255;
            const int g = (green.Palette.ByteTable[1][Level(green, x, y)] * alpha + 127) / 255;
            const std::uint8_t *p = &editor->Picture().Rgba[(y * 5 + x) * 4];
            EXPECT_EQ((Pixels{p[0], p[1], p[2]}), (Pixels{r, g, 0})) << x << "," << y;
        }
}

TEST_F(CompositeEditorTest, ZoomReadOutSelectionAndTrimsWithUndo)
{
    const auto value = [](int x, int y) { return 100 * y + x; };
    LoadLayer(0, 6, 4, value);
    editor->LayerSelect[0]->trigger();
    editor->ZoomIn->trigger();
    EXPECT_FLOAT_EQ(Composite().Layers[0].Zoom, 1.5f);
    // Canvas 9 x 6: panel (4, 0) is image column 4 x 6 / 9 = 2 of the top row 3.
    MoveMouse(editor->OpenGLPanel, {4, 0});
    EXPECT_EQ(editor->StatusPanels[0]->text(), QStringLiteral("X=2, Y=3, Value: 302"));
    MoveMouse(editor->OpenGLPanel, {20, 5});
    EXPECT_EQ(editor->StatusPanels[0]->text(), QStringLiteral("X=13, Y=0, Excluded pixel."));

    // A drag beyond the image is held to its last column and row; a click removes the selection.
    MouseOnPanel(QEvent::MouseButtonPress, Qt::LeftButton, {2, 5});
    MouseOnPanel(QEvent::MouseButtonRelease, Qt::LeftButton, {50, -10});
    const ImageData &layer = Composite().Layers[0];
    EXPECT_TRUE(layer.SelectionShown);
    EXPECT_EQ((Pixels{layer.SelX0, layer.SelY0, layer.SelX1, layer.SelY1}), (Pixels{1, 0, 5, 3}));
    editor->SelectAreaInBox1->trigger();
    EXPECT_EQ(
        (Pixels{editor->XLO->value(), editor->YLO->value(), editor->XHI->value(), editor->YHI->value()}),
        (Pixels{1, 0, 5, 3}));

    editor->TrimToSelected1->trigger();
    ASSERT_EQ(layer.Width, 5);
    Pixels expected;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            expected.push_back(value(x + 1, y));
    EXPECT_EQ(Frame(layer), expected);
    EXPECT_EQ(editor->StatusPanels[1]->text(), QStringLiteral("Image layer 1:  (5 x 4)"));
    // Undo brings back the layer as it was before this trim (the trim takes the whole snapshot).
    ASSERT_TRUE(editor->Undo1->isEnabled());
    editor->Undo1->trigger();
    ASSERT_EQ(Composite().Layers[0].Width, 6);
    EXPECT_EQ(Frame(Composite().Layers[0]), Frame(CompositeBackup().Layers[0]));
    EXPECT_EQ(Composite().Layers[0].FrameRow(0, 3)[5], 305);
    // Redo has no way to take that selection again: it is not offered.
    EXPECT_FALSE(editor->Redo1->isEnabled());

    MouseOnPanel(QEvent::MouseButtonPress, Qt::LeftButton, {4, 4});
    MouseOnPanel(QEvent::MouseButtonRelease, Qt::LeftButton, {4, 4});
    EXPECT_FALSE(Composite().Layers[0].SelectionShown);
    editor->TrimToSelected1->trigger(); // no selection: nothing to trim
    editor->TrimToSelectedRegion1->trigger();
    EXPECT_EQ(Composite().Layers[0].Width, 6);
    MouseOnPanel(QEvent::MouseButtonPress, Qt::LeftButton, {0, 0});
    MouseOnPanel(QEvent::MouseButtonRelease, Qt::LeftButton, {5, 2}); // columns 0..3, rows 3 down to 2
    editor->TrimToSelectedRegion1->trigger();
    EXPECT_EQ((Pixels{Composite().Layers[0].Width, Composite().Layers[0].Height}), (Pixels{4, 2}));
    EXPECT_EQ(Composite().Layers[0].FrameRow(0, 0)[0], value(0, 2));
    EXPECT_EQ(LastOperation, 7);
}

TEST_F(CompositeEditorTest, TransformsApplyPreviewUndoAndRedoTheSameTransform)
{
    const auto value = [](int x, int y) { return 1000 + 100 * y + 10 * x; };
    LoadLayer(0, 5, 4, value);
    editor->LayerSelect[0]->trigger();
    ImageData &layer = Composite().Layers[0];
    const Pixels original = Frame(layer);

    // Tool-bar steps stay with the layer; a rotation wraps into 0 .. 2 pi.
    CompositeEditorSettings().RotationStep = 1.0f;
    CompositeEditorSettings().RotationCentreX = 2.0f;
    layer.Angle = 6.0f;
    editor->ShiftLayerUp->trigger();
    editor->ShiftLayerLeft->trigger();
    editor->RotateLayerCCW->trigger();
    EXPECT_FLOAT_EQ(layer.ShiftY, 0.5f);
    EXPECT_FLOAT_EQ(layer.ShiftX, -0.5f);
    EXPECT_NEAR(layer.Angle, 7.0 - 6.283185307179586, 1e-5);
    EXPECT_FLOAT_EQ(layer.RotationCentreX, 2.0f);
    editor->RotateLayerCW->trigger();
    EXPECT_NEAR(layer.Angle, 6.0, 1e-5); // below 0 wraps up by 2 pi
    EXPECT_EQ(Frame(layer), original);

    editor->XHI->setValue(1);
    editor->SelectFullRasterBtn->click();
    EXPECT_EQ(
        (Pixels{editor->XLO->value(), editor->XHI->value(), editor->YLO->value(), editor->YHI->value()}),
        (Pixels{0, 4, 0, 3}));
    editor->x_shift->setText(QStringLiteral("1"));
    // Sample (x - 1, y) over columns 0..3 and rows 0..2 (the region's far edge is kept).
    Pixels shifted = original;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            shifted[y * 5 + x] = x == 0 ? 0 : value(x - 1, y);

    editor->PreviewBtn->click();
    EXPECT_EQ(Frame(layer), original);
    EXPECT_EQ(editor->Picture().Rgba[0], 0); // the view shows the preview: column 0 is black now
    EXPECT_FALSE(editor->Undo1->isEnabled());
    EXPECT_EQ(editor->Undo1->text(), QStringLiteral("&Undo"));
    EXPECT_FALSE(editor->Redo1->isEnabled());

    editor->ApplyBtn->click();
    EXPECT_EQ(Frame(layer), shifted);
    EXPECT_EQ(editor->Undo1->text(), QStringLiteral("&Undo transform"));
    EXPECT_EQ(editor->Redo1->text(), QStringLiteral("&Redo transform"));
    // A preview after it leaves its Undo and Redo as they were.
    editor->PreviewBtn->click();
    EXPECT_EQ(Frame(Composite().Layers[0]), shifted);
    EXPECT_EQ(editor->Undo1->text(), QStringLiteral("&Undo transform"));
    editor->Undo1->trigger();
    EXPECT_EQ(Frame(Composite().Layers[0]), original);
    // Redo runs the same transform again on the restored layer: never an undo in disguise.
    ASSERT_TRUE(editor->Redo1->isEnabled());
    editor->Redo1->trigger();
    EXPECT_EQ(Frame(Composite().Layers[0]), shifted);
    editor->Redo1->trigger();
    EXPECT_EQ(Frame(Composite().Layers[0]), shifted);
    editor->Undo1->trigger();
    EXPECT_EQ(Frame(Composite().Layers[0]), original);

    QTest::keyClicks(editor->x_scale, QStringLiteral("5"));
    EXPECT_EQ(editor->y_scale->text(), editor->x_scale->text());
    editor->ClearAllBtn->click();
    EXPECT_EQ((QStringList{editor->x_shift->text(), editor->y_shift->text(), editor->rotation->text(),
                           editor->x_scale->text(), editor->y_scale->text()}),
              (QStringList{"0.0", "0.0", "0.0", "1.000", "1.000"}));
}

TEST_F(CompositeEditorTest, LoadingALayerOrARefusedTransformLeavesNothingToUndo)
{
    LoadLayer(0, 4, 2, [](int x, int) { return 100 * x + 100; });
    editor->LayerSelect[0]->trigger();
    editor->Quick1->trigger();
    ASSERT_TRUE(editor->Undo1->isEnabled());
    LoadLayer(1, 4, 2, [](int x, int) { return 50 * x; });
    EXPECT_FALSE(editor->Undo1->isEnabled());
    EXPECT_FALSE(editor->Redo1->isEnabled());
    editor->UndoClick();
    EXPECT_TRUE(Composite().LayerLoaded(1));

    // A region reaching outside the 4 x 2 layer is refused: nothing changed, nothing to undo.
    editor->XLO->setValue(0);
    editor->XHI->setValue(10);
    editor->YLO->setValue(0);
    editor->YHI->setValue(1);
    editor->x_shift->setText(QStringLiteral("1"));
    script.PressBox(QMessageBox::Ok);
    editor->ApplyBtn->click();
    EXPECT_TRUE(script.Done());
    ASSERT_FALSE(script.boxTexts.empty());
    EXPECT_TRUE(script.boxTexts.back().contains("does not lie inside"));
    EXPECT_FALSE(editor->Undo1->isEnabled());
    EXPECT_FALSE(editor->Redo1->isEnabled());
}

TEST_F(CompositeEditorTest, QuickEqualizationMedianAndPalettesActOnTheCurrentLayer)
{
    const Pixels levels{100, 100, 200, 300, 300, 300, 400, 400};
    LoadLayer(1, 4, 2, [&](int x, int y) { return levels[y * 4 + x]; });
    editor->LayerSelect[1]->trigger();
    editor->Quick1->trigger();
    // hi x (pixels below p) / (pixels below hi): 400 x {0, 2, 3, 6} / 6.
    EXPECT_EQ(Frame(Composite().Layers[1]), (Pixels{0, 0, 133, 200, 200, 200, 400, 400}));
    EXPECT_FALSE(editor->Redo1->isEnabled());
    editor->Undo1->trigger();
    EXPECT_EQ(Frame(Composite().Layers[1]), levels);

    // The processing dialog's median on the layer (EditTarget 4), with Undo and Redo.
    LoadLayer(1, 9, 9, [](int x, int y) { return x == 4 && y == 4 ? 60000 : 1000; });
    editor->findChild<QAction *>(QStringLiteral("Median1"))->trigger();
    ASSERT_EQ(EditTarget, EditCompositeLayer);
    ASSERT_TRUE(FilterF->isVisible());
    FilterF->ApplyBtn->click();
    EXPECT_EQ(Composite().Layers[1].FrameRow(0, 4)[4], 1000);
    EXPECT_EQ(editor->Undo1->text(), QStringLiteral("&Undo filter"));
    ASSERT_TRUE(editor->Redo1->isEnabled());
    editor->Undo1->trigger();
    EXPECT_EQ(Composite().Layers[1].FrameRow(0, 4)[4], 60000);
    editor->Redo1->trigger();
    EXPECT_EQ(Composite().Layers[1].FrameRow(0, 4)[4], 1000);
    EXPECT_EQ(Composite().Layers[1].FrameRow(0, 0)[0], 1000);
    FilterF->close();

    // Palette editor on the layer's palette (4), then on the layer's default palette (5).
    const PPalette red = ChannelPalette(0), green = ChannelPalette(1);
    Composite().Layers[1].DisplayOffset = 0.0f;
    Composite().Layers[1].Gain = 30.0f;
    editor->PaletteForCurrent1->trigger();
    ASSERT_EQ(EditTarget, EditCompositeLayer);
    PaletteSet->Palette.Assign(red);
    PaletteSet->PreviewBtn->click();
    EXPECT_TRUE(Composite().Layers[1].Palette.SameCurves(red));
    EXPECT_EQ(editor->Picture().Rgba[1], 0); // the view was redrawn through the red palette
    EXPECT_GT(editor->Picture().Rgba[0], 0);
    editor->DefaultPalette1->trigger();
    ASSERT_EQ(EditTarget, EditCompositePalette);
    PaletteSet->Palette.Assign(green);
    PaletteSet->PreviewBtn->click();
    EXPECT_TRUE(CompositeEditorSettings().LayerPalettes[1].SameCurves(green));
    EXPECT_TRUE(Composite().Layers[1].Palette.SameCurves(red));
    PaletteSet->close();
}

TEST_F(CompositeEditorTest, CompositeSettingsAndBitmapFilesThroughTheWindow)
{
    LoadLayer(0, 3, 2, [](int x, int y) { return 20000 * x + 5000 * y; });
    LoadLayer(1, 2, 4, [](int x, int y) { return 30000 + 1000 * x + 100 * y; });
    const Pixels first = Frame(Composite().Layers[0]), second = Frame(Composite().Layers[1]);
    const std::string qzn = folder.File("pair.qzn");
    script.ChooseFiles({QString::fromStdString(folder.File("pair"))}); // the extension is added
    editor->SaveComposite1->trigger();
    ASSERT_TRUE(script.Done());
    const std::string saved = FileBytes(qzn);
    ASSERT_FALSE(saved.empty());
    // Saving over it asks first; Cancel writes nothing even though the composite has changed.
    Composite().Layers[0].Gain = 3.0f;
    script.ChooseFiles({QString::fromStdString(folder.File("pair"))});
    script.PressBox(QMessageBox::Cancel);
    editor->SaveComposite1->trigger();
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(script.boxTexts.back(),
              QString::fromStdString("The file: " + qzn + " will be overwritten; proceed?"));
    EXPECT_EQ(FileBytes(qzn), saved);

    // Yes to saving, then the save is cancelled or cannot be written: the work stays, and Load
    // composite opens nothing.
    script.PressBox(QMessageBox::Yes);
    script.CancelDialog();
    editor->NewComposite1->trigger();
    ASSERT_TRUE(script.Done());
    EXPECT_TRUE(Composite().LayerLoaded(0));
    EXPECT_TRUE(Composite().LayerLoaded(1));
    script.PressBox(QMessageBox::Yes);
    script.ChooseFiles({QString::fromStdString(folder.File("no-such-folder/pair"))});
    script.PressBox(QMessageBox::Ok); // the write error
    editor->LoadComposite1->trigger();
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(script.unexpected, 0); // no open dialog followed
    EXPECT_TRUE(Composite().LayerLoaded(0));
    EXPECT_EQ(Composite().Layers[0].Gain, 3.0f);

    script.PressBox(QMessageBox::No);
    editor->NewComposite1->trigger();
    EXPECT_FALSE(Composite().LayerLoaded(0));
    script.ChooseFiles({QString::fromStdString(qzn)});
    editor->LoadComposite1->trigger();
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(Frame(Composite().Layers[0]), first);
    EXPECT_EQ(Frame(Composite().Layers[1]), second);
    EXPECT_EQ(CompositeEditorSettings().View, CompositeViewSlot);
    EXPECT_TRUE(Composite().UseInComposite[1]);

    // Settings file round trip: the loaded file's steps and palettes come back with their tables.
    CFSettings &settings = CompositeEditorSettings();
    settings.XShiftStep = 2.0f;
    settings.LayerPalettes[2] = ChannelPalette(2);
    script.ChooseFiles({QString::fromStdString(folder.File("mine.dat"))});
    editor->SaveSettingsAs1->trigger();
    settings.XShiftStep = 0.25f;
    settings.LayerPalettes[2] = PPalette();
    script.ChooseFiles({QString::fromStdString(folder.File("mine.dat"))});
    editor->LoadSettings1->trigger();
    ASSERT_TRUE(script.Done());
    EXPECT_FLOAT_EQ(settings.XShiftStep, 2.0f);
    EXPECT_TRUE(settings.LayerPalettes[2].SameTables(ChannelPalette(2)));
    editor->LayerBtn[0]->click();
    editor->ShiftLayerRight->trigger();
    EXPECT_FLOAT_EQ(Composite().Layers[0].ShiftX, 2.0f);

    // The bitmap of layer 1's view: 24 bits, rows bottom-up padded to 4 bytes, B G R.
    editor->LayerSelect[0]->trigger();
    const std::string bmp = folder.File("view.bmp");
    script.ChooseFiles({QString::fromStdString(bmp)});
    editor->SaveBitmap1->trigger();
    ASSERT_TRUE(script.Done());
    const std::string bytes = FileBytes(bmp);
    ASSERT_EQ(bytes.size(), 54u + 2 * 12);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    const ImageData &layer = Composite().Layers[0];
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const int level = Level(layer, x, y);
            const auto &table = layer.Palette.ByteTable;
            const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.data() + 54 + y * 12 + x * 3);
            EXPECT_EQ((Pixels{p[0], p[1], p[2]}), (Pixels{table[2][level], table[1][level], table[0][level]}))
                << x << "," << y;
        }

    // The composite's bitmap has the current layer's size (layer 2, 2 x 4), not the first loaded
    // layer's (3 x 2): rows of 2 x 3 bytes padded to 8. A name typed without ".bmp" gets it.
    editor->LayerBtn[1]->click();
    editor->CompositeSelect->trigger();
    const std::string composite = folder.File("composite.bmp");
    script.ChooseFiles({QString::fromStdString(folder.File("composite"))});
    editor->SaveBitmap1->trigger();
    ASSERT_TRUE(script.Done());
    const std::string picture = FileBytes(composite);
    ASSERT_EQ(picture.size(), 54u + 4 * 8);
    EXPECT_EQ(static_cast<int>(picture[18]), 2);
    EXPECT_EQ(static_cast<int>(picture[22]), 4);

    // In luminance mode layer 2 is the luminance of layer 1 on the screen, but the layer's bitmap
    // holds its own colours without blending: the same bytes.
    editor->LuminanceMode->click();
    editor->CompositeSelect->trigger(); // renders layer 2 as the luminance
    editor->LayerSelect[0]->trigger();
    const std::string lrgb = folder.File("lrgb.bmp");
    script.ChooseFiles({QString::fromStdString(lrgb)});
    editor->SaveBitmap1->trigger();
    ASSERT_TRUE(script.Done());
    ASSERT_EQ(RenderingLuminanceLayer(Composite()), 1);
    EXPECT_EQ(FileBytes(lrgb), bytes);
}

TEST_F(CompositeEditorTest, TheViewShowsItsOwnSightCursor)
{
    LoadLayer(0, 6, 4, [](int x, int y) { return 100 * y + x; });
    editor->LayerSelect[0]->trigger();
    const QImage sight = editor->SightCursor.bitmap().toImage();
    ASSERT_FALSE(sight.isNull());
    // The three cursors are pictures of their own.
    EXPECT_NE(editor->ZoomInCursor.bitmap().toImage(), sight);
    EXPECT_NE(editor->ZoomOutCursor.bitmap().toImage(), editor->ZoomInCursor.bitmap().toImage());
    auto shown = [this] { return editor->OpenGLPanel->cursor(); };
    MoveMouse(editor->OpenGLPanel, {2, 2});
    EXPECT_EQ(shown().shape(), Qt::BitmapCursor);
    EXPECT_EQ(shown().bitmap().toImage(), sight);
    EXPECT_EQ(shown().hotSpot(), editor->SightCursor.hotSpot());
    MouseOnPanel(QEvent::MouseButtonPress, Qt::LeftButton, {1, 1});
    EXPECT_EQ(shown().shape(), Qt::CrossCursor); // a press shows the cross while dragging
    MouseOnPanel(QEvent::MouseButtonRelease, Qt::LeftButton, {4, 3});
    EXPECT_EQ(shown().bitmap().toImage(), sight);
}

} // namespace

int main(int argc, char **argv)
{
    return korvi::test::RunQtTests(argc, argv);
}
