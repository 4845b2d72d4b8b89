// The alignment window through its widgets: channels are viewed, stars picked from the pop-up after
// pointing at them, the cropping frame drawn, and the stack button aligns the composite's layers.
#include "tools_test_support.h"

#include "composite/align_window.h"
#include "composite/cf_settings.h"
#include "composite/composite_editor.h"
#include "composite/composite_image.h"
#include "opengl_panel.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <cmath>

using namespace korvi::test;

namespace
{

constexpr int W = 200, H = 150;
const int StarX[] = {40, 160, 100}, StarY[] = {30, 120, 80};

// Three stars on a sky of 100, shifted by (dx, dy).
void Layer(int layer, double dx, double dy)
{
    ImageData &image = Composite().Layers[layer];
    ASSERT_TRUE(image.Allocate(W, H, 1));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            double v = 100.0;
            for (int s = 0; s < 3; ++s) {
                const double rx = x - StarX[s] - dx, ry = y - StarY[s] - dy;
                v += 20000.0 * std::exp(-(rx * rx + ry * ry) / 8.0);
            }
            image.Rows[y][x] = static_cast<std::uint16_t>(std::lround(v));
        }
}

// The star's centroid above the sky near (x, y).
double CentroidX(const ImageData &image, int x, int y)
{
    double sum = 0, sx = 0;
    for (int j = y - 6; j <= y + 6; ++j)
        for (int i = x - 6; i <= x + 6; ++i) {
            const double v = std::max(0.0, image.Rows[j][i] - 100.0);
            sum += v;
            sx += v * i;
        }
    return sx / sum;
}

class AlignWindowTest : public ToolsWindowTest
{
protected:
    void SetUp() override
    {
        ToolsWindowTest::SetUp();
        Composite().Clear();
        Layer(0, 0, 0);
        Layer(1, 5, -3);
        CompositeF->AlignImages1->trigger(); // opened from the composite editor
        ASSERT_TRUE(QTest::qWaitForWindowExposed(AlignF));
    }
    void TearDown() override
    {
        AlignF->close();
        Composite().Clear();
        ToolsWindowTest::TearDown();
    }
    // Points at image pixel (x, y) of the view (zoom 1, row 0 at the bottom) and picks it as star
    // 1 or 2 from the pop-up.
    void Pick(int x, int y, int star)
    {
        MoveMouse(AlignF->OpenGLPanel, {x, H - 1 - y});
        (star == 1 ? AlignF->SetReferenceStar1 : AlignF->SetReferenceStar2)->trigger();
    }
    // A click on the button's indicator (the button is wider than what it takes clicks on).
    static void ClickChannel(int c)
    {
        QTest::mouseClick(AlignF->ChannelButtons[c], Qt::LeftButton, {},
                          {8, AlignF->ChannelButtons[c]->height() / 2});
    }
    QString Status() const { return AlignF->StatusPanels[0]->text(); }

    ModalScript script;
};

TEST_F(AlignWindowTest, PicksStarsPerChannelCropsAndStacks)
{
    EXPECT_EQ(AlignF->windowTitle(), QStringLiteral("Align images in composite"));
    EXPECT_FALSE(AlignF->ChromaticGroup->isEnabled());
    EXPECT_EQ(AlignF->CropXHI->value(), W - 1);
    EXPECT_EQ(AlignF->CropYHI->value(), H - 1);
    ASSERT_EQ(AlignF->OpenGLPanel->width(), W);

    MoveMouse(AlignF->OpenGLPanel, {40, H - 1 - 30});
    EXPECT_EQ(Status(), QStringLiteral("X=40, Y=30, Value: %1").arg(Composite().Layers[0].Rows[30][40]));
    MoveMouse(AlignF->OpenGLPanel, {W + 5, 10});
    EXPECT_EQ(Status(), QStringLiteral("X=205, Y=139, Excluded pixel."));
    Pick(40, 30, 1);
    Pick(160, 120, 2);
    EXPECT_EQ(AlignF->Stack_X1->value(), 40);
    EXPECT_EQ(AlignF->Stack_Y2->value(), 120);

    // Channel 2 shows its own layer and its own (unpicked) stars; channel 3 is empty and is not shown.
    ClickChannel(1);
    EXPECT_EQ(AlignF->Stack_X1->value(), 0);
    MoveMouse(AlignF->OpenGLPanel, {45, H - 1 - 27});
    EXPECT_EQ(Status(), QStringLiteral("X=45, Y=27, Value: %1").arg(Composite().Layers[1].Rows[27][45]));
    Pick(45, 27, 1);
    Pick(165, 117, 2);
    ClickChannel(2);
    EXPECT_TRUE(AlignF->ChannelButtons[1]->isChecked());
    ClickChannel(0);
    EXPECT_EQ(AlignF->Stack_X1->value(), 40);
    EXPECT_EQ(AlignF->Stack_X2->value(), 160);

    // A drag from image (20, 130) to (179, 10) becomes the cropping frame; a click drops it.
    QTest::mousePress(AlignF->OpenGLPanel, Qt::LeftButton, {}, {20, H - 1 - 130});
    MoveMouse(AlignF->OpenGLPanel, {120, 80}, Qt::LeftButton);
    QTest::mouseRelease(AlignF->OpenGLPanel, Qt::LeftButton, {}, {179, H - 1 - 10});
    AlignF->SetCroppingFrame->trigger();
    EXPECT_EQ(AlignF->CropXLO->value(), 20);
    EXPECT_EQ(AlignF->CropXHI->value(), 179);
    EXPECT_EQ(AlignF->CropYLO->value(), 10);
    EXPECT_EQ(AlignF->CropYHI->value(), 130);
    QTest::mouseClick(AlignF->OpenGLPanel, Qt::LeftButton, {}, {50, 50});
    AlignF->CropXLO->setValue(15);
    AlignF->SetCroppingFrame->trigger();
    EXPECT_EQ(AlignF->CropXLO->value(), 15);
    QTest::mouseClick(AlignF->OpenGLPanel, Qt::RightButton, {}, {50, 50});
    EXPECT_TRUE(WaitFor([] { return AlignF->PopupMenu->isVisible(); }));
    AlignF->PopupMenu->close();

    ASSERT_NE(CompositeF, nullptr);
    CompositeEditorSettings().View = 0; // the editor shows layer 1
    AlignF->nudge_x->setText(QStringLiteral("0"));
    AlignF->nudge_y->setText(QStringLiteral("0"));
    QTest::mouseClick(AlignF->StackBtn, Qt::LeftButton);
    EXPECT_EQ(Status(), QStringLiteral("Done."));
    EXPECT_EQ(CompositeF->Picture().Width, 165); // the editor was redrawn with the cropped layer
    EXPECT_EQ(script.boxTexts.size(), 0u);
    for (int layer : {0, 1}) {
        ASSERT_EQ(Composite().Layers[layer].Width, 165) << layer;
        ASSERT_EQ(Composite().Layers[layer].Height, 121) << layer;
    }
    EXPECT_NEAR(CentroidX(Composite().Layers[1], 100 - 15, 80 - 10), 100 - 15, 0.2);
    EXPECT_EQ(AlignF->ViewCopy.Width, 165);
    // The editor's Undo brings back every layer as it was before the crop.
    ASSERT_TRUE(CompositeF->Undo1->isEnabled());
    CompositeF->Undo1->trigger();
    for (int layer : {0, 1})
        EXPECT_EQ(Composite().Layers[layer].Width, W) << layer;

    AlignF->close();
    EXPECT_TRUE(main->RepaintRequest);
}

TEST_F(AlignWindowTest, RefusesBadInputWithAMessageAndOneLayerDoesNothing)
{
    script.PressBox(QMessageBox::Ok);
    script.PressBox(QMessageBox::Ok);
    Pick(40, 30, 1);
    Pick(160, 120, 2);
    QTest::mouseClick(AlignF->StackBtn, Qt::LeftButton); // channel 2 has no stars
    AlignF->CropXLO->setValue(100);
    AlignF->CropXHI->setValue(99);
    ClickChannel(1);
    Pick(45, 27, 1);
    Pick(165, 117, 2);
    QTest::mouseClick(AlignF->StackBtn, Qt::LeftButton); // reversed
    ASSERT_EQ(script.boxTexts.size(), 2u);
    EXPECT_TRUE(script.boxTexts[0].contains(QStringLiteral("reference stars of channel 2")));
    EXPECT_TRUE(script.boxTexts[1].contains(QStringLiteral("reversed")));
    EXPECT_EQ(Composite().Layers[1].Width, W);
    EXPECT_NE(Status(), QStringLiteral("Done."));

    Composite().Layers[1].Free();
    AlignF->CropXHI->setValue(150);
    QTest::mouseClick(AlignF->StackBtn, Qt::LeftButton);
    EXPECT_EQ(script.boxTexts.size(), 2u);
    EXPECT_EQ(script.unexpected, 0);
    EXPECT_EQ(Composite().Layers[0].Width, W);
    EXPECT_NE(Status(), QStringLiteral("Done."));
}

} // namespace

int main(int argc, char **argv)
{
    return korvi::test::RunQtTests(argc, argv);
}
