// The sky-model window picks samples on its view, fits, previews on its copy and applies with undo;
// the bloom removal window applies, previews, undoes and redoes;
// the processing dialog subtracts that fit and rescales logarithmically.
#include "capture_test_support.h"

#include "bloom_removal_window.h"

#include "edit_target.h"
#include "image_test_images.h"
#include "image_window.h"
#include "main_window.h"
#include "opengl_panel.h"
#include "processing/sky_model.h"
#include "processing_dialog.h"
#include "program_windows.h"
#include "sky_model_window.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include <set>

#include <cmath>
#include <memory>

using namespace korvi::test;
using korvi::test::DifferingPixels;

namespace
{

int Sky(int x, int y)
{
    return 1000 + 3 * x + 2 * y;
}

// A sky curved in x, which a fit of order 1 cannot follow.
int CurvedSky(int x, int y)
{
    return 1000 + (x - 40) * (x - 40) / 4 + y;
}

class SkyModelWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string path = folder.File("sky.kvr");
        WriteTestImage(path, 80, 60, [](int x, int y) { return Sky(x, y); });
        main = std::make_unique<TMainF>(folder.Dir(), QStringList{QString::fromStdString(path)});
        CreateProgramWindows(main.get());
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
        ASSERT_TRUE(WaitFor([this] { return main->FirstImageWindow() != nullptr; }));
        EditTarget = EditActiveImage;
    }
    void TearDown() override
    {
        SkyModelF->hide();
        FilterF->hide();
        BloomRemovalF->hide();
        main->ClosingDone = true;
        main.reset();
        EditTarget = EditActiveImage;
    }
    ImageData &Image() { return main->FirstImageWindow()->Image(); }
    ImageData CurveTheSky()
    {
        ImageData &image = Image();
        for (int y = 0; y < image.Height; ++y)
            for (int x = 0; x < image.Width; ++x)
                image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(CurvedSky(x, y));
        image.DisplayOffset = 0;
        ImageData copy;
        copy.Assign(image);
        return copy;
    }
    // A click on the view at image pixel (x, y).
    void ClickAt(int x, int y)
    {
        const TOpenGLPanel *panel = SkyModelF->OpenGLPanel;
        const int px = (2 * x + 1) * panel->width() / (2 * Image().Width);
        const int py = panel->height() - (2 * y + 1) * panel->height() / (2 * Image().Height);
        SkyModelF->PanelClick(px, py);
    }

    ProgramFolder folder;
    ModalScript script;
    std::unique_ptr<TMainF> main;
};

TEST_F(SkyModelWindowTest, SamplesFitPreviewApplyAndUndo)
{
    const ImageData original = [&] {
        ImageData copy;
        copy.Assign(Image());
        return copy;
    }();
    Image().DisplayOffset = 0; // sample values are taken less the display bias
    SkyModelF->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(SkyModelF));
    EXPECT_FALSE(SkyModelF->PreviewFitBtn->isEnabled());
    EXPECT_FALSE(SkyModelF->ApplyBtn->isEnabled());

    ClickAt(10, 10);
    ClickAt(70, 12);
    EXPECT_FALSE(SkyModelF->PreviewFitBtn->isEnabled());
    ClickAt(40, 50);
    EXPECT_EQ(SkyModelF->NPoint->value(), 3);
    EXPECT_TRUE(SkyModelF->PreviewFitBtn->isEnabled()); // order 1: three samples
    // The value is the darkest of the 2 x 2 block ending at the pixel.
    EXPECT_EQ(SkyModelF->Samples[0].value, Sky(9, 9));
    SkyModelF->PolynomialOrder->setValue(2);
    EXPECT_FALSE(SkyModelF->PreviewFitBtn->isEnabled());
    SkyModelF->PolynomialOrder->setValue(1);
    ClickAt(0, 0); // the block's pixels outside the image are left out
    EXPECT_EQ(SkyModelF->Samples[3].value, Sky(0, 0));
    QTest::mouseClick(SkyModelF->DeleteLastBtn, Qt::LeftButton);
    EXPECT_EQ(SkyModelF->NPoint->value(), 3);

    QTest::mouseClick(SkyModelF->PreviewFitBtn, Qt::LeftButton);
    ASSERT_TRUE(SkyModelF->ApplyBtn->isEnabled());
    EXPECT_EQ(Image().FrameRow(0, 30)[40], Sky(40, 30)); // the preview changes only the copy
    EXPECT_NEAR(SkyModelF->Copy.FrameRow(0, 30)[40], SkyPedestal + 5, 5);

    QTest::mouseClick(SkyModelF->ApplyBtn, Qt::LeftButton);
    for (int y = 1; y < 60; y += 7)
        for (int x = 1; x < 80; x += 9)
            EXPECT_NEAR(Image().FrameRow(0, y)[x], SkyPedestal + 5, 5) << x << "," << y;
    EXPECT_TRUE(main->Undo1->isEnabled());

    QTest::mouseClick(SkyModelF->UndoBtn, Qt::LeftButton);
    EXPECT_EQ(DifferingPixels(Image(), original), 0);
    EXPECT_EQ(SkyModelF->Copy.FrameRow(0, 30)[40], Sky(40, 30));

    // The processing dialog's manual sky model subtracts the same fit.
    LastOperation = 13;
    FilterF->show();
    FilterF->ManualSkyModel->setChecked(true);
    LastOperation = 13;
    FilterF->ApplyBtnClick();
    EXPECT_NEAR(Image().FrameRow(0, 30)[40], SkyPedestal + 5, 5);
}

TEST_F(SkyModelWindowTest, TheFitKeepsItsOrderWhenTheSpinChangesAfterIt)
{
    const ImageData original = CurveTheSky();
    SkyModelF->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(SkyModelF));
    SkyModelF->PolynomialOrder->setValue(3);
    for (int x : {4, 14, 24, 34, 46, 56, 66, 76})
        for (int y : {6, 22, 38, 54})
            ClickAt(x, y);
    QTest::mouseClick(SkyModelF->PreviewFitBtn, Qt::LeftButton);
    ASSERT_TRUE(SkyModelF->ApplyBtn->isEnabled());
    // Fitted at order 3; the spin set to 1 afterwards changes nothing of that fit.
    SkyModelF->PolynomialOrder->setValue(1);
    ImageData expected;
    expected.Assign(original);
    SubtractSkyModel(expected, SkyModelF->FittedModel());

    QTest::mouseClick(SkyModelF->ApplyBtn, Qt::LeftButton);
    EXPECT_EQ(DifferingPixels(Image(), expected), 0);
    // 1354, 1030, 1354 before; the samples, the darkest of 2 x 2 blocks, lie a little off the
    // parabola, so the edges keep up to some twenty counts.
    for (int x : {4, 40, 76})
        EXPECT_LE(Image().FrameRow(0, 30)[x], SkyPedestal + 25) << x;

    // The processing dialog's manual sky subtracts all seven coefficients of that fit.
    QTest::mouseClick(SkyModelF->UndoBtn, Qt::LeftButton);
    ASSERT_EQ(DifferingPixels(Image(), original), 0);
    FilterF->show();
    FilterF->ManualSkyModel->setChecked(true);
    LastOperation = 13;
    FilterF->ApplyBtnClick();
    EXPECT_EQ(DifferingPixels(Image(), expected), 0);
}

TEST_F(SkyModelWindowTest, SubtractSkyOnTheMainWindowFitsTheOrderOfItsSpin)
{
    const ImageData original = CurveTheSky();
    main->PolyOrder->setValue(2);
    main->SkySubtractBtn->click();
    ImageData second, first;
    second.Assign(original);
    ASSERT_TRUE(FitAndSubtractSkyModel(second, 2));
    first.Assign(original);
    ASSERT_TRUE(FitAndSubtractSkyModel(first, 1));
    EXPECT_EQ(DifferingPixels(Image(), second), 0);
    EXPECT_GT(DifferingPixels(Image(), first), 100);
    EXPECT_EQ(LastOperation.load(), 13);
    ASSERT_TRUE(main->Undo1->isEnabled());
    main->Undo1->trigger();
    EXPECT_EQ(DifferingPixels(Image(), original), 0);
}

TEST_F(SkyModelWindowTest, ToolWindowsStayOnTop)
{
    for (const char *name :
         {"TBloomRemovalF", "TStatsForm", "TSkyModelF", "TFilterF", "TEqualizeF", "TFourierF"}) {
        const QWidget *window = main->ProgramWindow(name);
        ASSERT_NE(window, nullptr) << name;
        EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint) << name;
    }
}

TEST_F(SkyModelWindowTest, AFitReachesOnlyItsImageAndRedoRunsNoEarlierOperation)
{
    TChild *first = main->FirstImageWindow();
    // A log rescale first: an operation the dialog can repeat.
    FilterF->show();
    FilterF->PageControl->setCurrentWidget(FilterF->LogRescalePage);
    FilterF->BiasLevel2->setValue(500);
    FilterF->MaxInt->setValue(2000);
    FilterF->ApplyBtnClick();
    ASSERT_TRUE(main->Redo1->isEnabled());
    FilterF->hide();

    Image().DisplayOffset = 0;
    SkyModelF->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(SkyModelF));
    ClickAt(10, 10);
    ClickAt(70, 12);
    ClickAt(40, 50);
    QTest::mouseClick(SkyModelF->PreviewFitBtn, Qt::LeftButton);
    const ImageData fitted = [&] {
        ImageData copy;
        copy.Assign(Image());
        return copy;
    }();
    QTest::mouseClick(SkyModelF->ApplyBtn, Qt::LeftButton);
    ASSERT_NE(DifferingPixels(Image(), fitted), 0);
    EXPECT_TRUE(main->Undo1->isEnabled());
    EXPECT_FALSE(main->Redo1->isEnabled()); // the log rescale is not what Redo would repeat
    main->Undo1->trigger();
    EXPECT_EQ(DifferingPixels(Image(), fitted), 0);
    EXPECT_FALSE(main->Redo1->isEnabled());
    main->Redo1->trigger();
    EXPECT_EQ(DifferingPixels(Image(), fitted), 0);

    // A second image opens and the fitted one closes: the fit is not subtracted from it.
    const std::string path = folder.File("other.kvr");
    WriteTestImage(path, 80, 60, [](int x, int y) { return 3000 + x + y; });
    ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(path)}), 1);
    first->Image().Modified = false;
    first->close();
    ASSERT_TRUE(WaitFor([&] { return main->ImageWindows().size() == 1; }));
    const ImageData other = [&] {
        ImageData copy;
        copy.Assign(Image());
        return copy;
    }();
    ASSERT_TRUE(SkyModelF->ApplyBtn->isEnabled());
    script.PressBox(QMessageBox::Ok);
    QTest::mouseClick(SkyModelF->ApplyBtn, Qt::LeftButton);
    EXPECT_TRUE(script.Done()); // the box came
    ASSERT_FALSE(script.boxTexts.empty());
    EXPECT_TRUE(script.boxTexts.back().contains("no longer open"));
    EXPECT_EQ(DifferingPixels(Image(), other), 0);
}

TEST_F(SkyModelWindowTest, LogRescaleFromTheDialogMapsTheRange)
{
    FilterF->show();
    FilterF->PageControl->setCurrentWidget(FilterF->LogRescalePage);
    FilterF->BiasLevel2->setValue(1000);
    FilterF->MaxInt->setValue(999);
    FilterF->ApplyBtnClick();
    // Pixel 1000 + 3x + 2y: log10(p - 1000) against log10(1000).
    for (int x : {1, 10, 79}) {
        const int p = Sky(x, 5);
        const float factor = static_cast<float>(65535.0 / std::log10(1000.0));
        EXPECT_EQ(Image().FrameRow(0, 5)[x],
                  static_cast<int>(std::trunc(static_cast<double>(factor) * std::log10(p - 1000.0))));
    }
    EXPECT_TRUE(main->LinearScale1->isChecked());
}

TEST_F(SkyModelWindowTest, BloomRemovalPreviewsAppliesUndoesAndRedoes)
{
    ImageData &image = Image();
    for (int y = 10; y <= 30; ++y) // a saturated trail in column 40
        image.FrameRow(0, y)[40] = 65535;
    main->FirstImageWindow()->MarkImageChanged();
    ImageData before;
    before.Assign(Image());

    BloomRemovalF->show();
    BloomRemovalF->NoiseLevel->setValue(2);
    QTest::mouseClick(BloomRemovalF->PreviewBtn, Qt::LeftButton);
    EXPECT_EQ(DifferingPixels(Image(), before), 0);
    EXPECT_FALSE(main->Undo1->isEnabled());

    QTest::mouseClick(BloomRemovalF->ApplyBtn, Qt::LeftButton);
    EXPECT_EQ(LastOperation.load(), 17);
    for (int y = 12; y <= 28; ++y)
        EXPECT_LT(Image().FrameRow(0, y)[40], 2000) << y; // refilled from the sky beside it
    ImageData applied;
    applied.Assign(Image());

    QTest::mouseClick(BloomRemovalF->UndoBtn, Qt::LeftButton);
    EXPECT_EQ(DifferingPixels(Image(), before), 0);
    ASSERT_TRUE(main->Redo1->isEnabled());
    main->Redo1->trigger(); // runs the removal again through this window, with the same noise
    EXPECT_EQ(DifferingPixels(Image(), applied), 0);
}

} // namespace

int main(int argc, char **argv)
{
    return korvi::test::RunQtTests(argc, argv);
}

// The sampling view opens on levels that show the target, with the sliders at those levels, even
// when the image window's own levels (here everything above 0 at 21845 times) would draw it white.
TEST_F(SkyModelWindowTest, ViewOpensOnLevelsThatShowTheImage)
{
    Image().DisplayOffset = 0.0f;
    Image().Gain = 21845.0f;
    SkyModelF->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(SkyModelF));
    QApplication::processEvents();
    const QImage view = SkyModelF->OpenGLPanel->grabFramebuffer();
    ASSERT_FALSE(view.isNull());
    std::set<QRgb> colours;
    for (int y = 0; y < view.height(); y += 2)
        for (int x = 0; x < view.width(); x += 2)
            colours.insert(view.pixel(x, y) & 0xffffff);
    EXPECT_GT(colours.size(), 20u);
    EXPECT_GT(SkyModelF->IntTrackBar->value(), 0);
    EXPECT_GT(SkyModelF->BiasTrackBar->value(), 0);
    EXPECT_NE(SkyModelF->IntScale->text(), "21845.00");
}
