// The Fourier window driven through its controls: the spectrum picture, the cut-off dragged on
// it, apply, preview and undo on the active image window, and a target that changed since show.
#include "tools_test_support.h"

#include "edit_target.h"
#include "fourier_window.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <cmath>
#include <numbers>

using namespace korvi::test;

namespace
{

// A level of 1000 with vertical stripes of amplitude 500, 8 periods across 64 columns.
int Stripes(int x, int)
{
    return static_cast<int>(std::lround(1000 + 500 * std::sin(2 * std::numbers::pi * 8 * x / 64)));
}

class FourierWindowTest : public ToolsWindowTest
{
protected:
    void ShowFourier()
    {
        EditTarget = EditCompositePalette; // the menu item sets the image window as target
        auto *item = main->findChild<QAction *>(QStringLiteral("Fourierhighlowpass1"));
        ASSERT_NE(item, nullptr);
        main->UpdateProcessingItems();
        ASSERT_TRUE(item->isEnabled());
        item->trigger();
        EXPECT_EQ(EditTarget, EditActiveImage);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FourierF));
    }
    static int Worst(TChild *window, const std::function<int(int, int)> &value)
    {
        const ImageData &image = window->ConstImage();
        int worst = 0;
        for (int y = 0; y < image.Height; ++y)
            for (int x = 0; x < image.Width; ++x)
                worst = std::max(worst, std::abs(image.FrameRow(0, y)[x] - value(x, y)));
        return worst;
    }
};

TEST_F(FourierWindowTest, TransformSizeAndFrequencyScaleFollowTheImage)
{
    ASSERT_NE(FourierF, nullptr);
    OpenImage(100, 300, [](int, int) { return 500; });
    ShowFourier();
    EXPECT_EQ(FourierF->windowTitle(), "Fourier transform filter");
    EXPECT_EQ(FourierF->Spectrum().Size(), 300);
    EXPECT_DOUBLE_EQ(FourierF->FrequencyScale(), 300.0 / 512);
    // A constant image has power only at zero frequency, drawn white at the centre; the other
    // elements are black.
    const QImage &picture = FourierF->SpectrumPicture();
    EXPECT_EQ(picture.pixel(256, 256), qRgb(255, 255, 255));
    EXPECT_EQ(picture.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(CountPixels(picture, qRgb(0, 0, 0)) + CountPixels(picture, qRgb(255, 255, 255)), 512 * 512);
}

TEST_F(FourierWindowTest, DraggingSetsTheCutoffAndTheApodizationFollows)
{
    OpenImage(1024, 4, [](int x, int) { return x; });
    ShowFourier();
    FourierF->Apod->setValue(300);
    QTest::mousePress(FourierF->Image, Qt::LeftButton, {}, QPoint(256, 256));
    MoveMouse(FourierF->Image, QPoint(256 + 128, 256), Qt::LeftButton);
    QTest::mouseRelease(FourierF->Image, Qt::LeftButton, {}, QPoint(256 + 128, 256));
    EXPECT_EQ(FourierF->CutoffRadius(), 128);
    EXPECT_EQ(FourierF->f_cut->value(), 256);
    EXPECT_EQ(FourierF->Apod->value(), 256);                              // lowered with the cut-off
    EXPECT_NE(FourierF->DisplayedPicture(), FourierF->SpectrumPicture()); // the circle is drawn
}

TEST_F(FourierWindowTest, LowPassApplyRemovesStripesAndUndoBringsThemBack)
{
    TChild *window = OpenImage(64, 64, Stripes);
    ShowFourier();
    FourierF->f_cut->setValue(4);
    FourierF->Apod->setValue(1);
    QTest::mouseClick(FourierF->LowPass, Qt::LeftButton);
    QTest::mouseClick(FourierF->ApplyBtn, Qt::LeftButton);
    EXPECT_LE(Worst(window, [](int, int) { return 1000; }), 1);
    EXPECT_EQ(LastOperation, 100);
    EXPECT_TRUE(main->Undo1->isEnabled());
    EXPECT_EQ(main->Undo1->text(), "&Undo filter");
    // Display levels of the result: its black level is shown in the main window.
    EXPECT_GE(window->ConstImage().DisplayOffset, 999.0f);
    EXPECT_EQ(main->BiasLevel->value(), static_cast<int>(window->ConstImage().DisplayOffset));

    // A second Apply filters the spectrum taken at show, not the filtered image.
    QTest::mouseClick(FourierF->HighPass, Qt::LeftButton);
    QTest::mouseClick(FourierF->ApplyBtn, Qt::LeftButton);
    EXPECT_LE(Worst(window, [](int x, int y) { return std::max(0, Stripes(x, y) - 1000); }), 1);

    QTest::mouseClick(FourierF->UndoBtn, Qt::LeftButton);
    EXPECT_LE(Worst(window, [](int, int) { return 1000; }), 1); // back to the result before

    // Pixels changed by another operation are transformed afresh before filtering.
    ImageData &image = window->Image();
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(Stripes(x, y) + 300);
    QTest::mouseClick(FourierF->LowPass, Qt::LeftButton);
    QTest::mouseClick(FourierF->ApplyBtn, Qt::LeftButton);
    EXPECT_LE(Worst(window, [](int, int) { return 1300; }), 1);
}

TEST_F(FourierWindowTest, PreviewLeavesThePixels)
{
    TChild *window = OpenImage(64, 64, Stripes);
    ShowFourier();
    FourierF->f_cut->setValue(4);
    QTest::mouseClick(FourierF->LowPass, Qt::LeftButton);
    const QString undo = main->Undo1->text();
    const bool undoOn = main->Undo1->isEnabled();
    QTest::mouseClick(FourierF->PreviewBtn, Qt::LeftButton);
    EXPECT_EQ(Worst(window, Stripes), 0);
    EXPECT_EQ(main->Undo1->isEnabled(), undoOn); // the Undo of earlier work is left alone
    EXPECT_EQ(main->Undo1->text(), undo);
}

TEST_F(FourierWindowTest, ApplyActsOnTheImageShownUntilChosenAgain)
{
    OpenImage(64, 64, Stripes);
    ShowFourier();
    ASSERT_EQ(FourierF->Spectrum().Size(), 64);
    // Another, larger window becomes the active one after the spectrum was taken: the window
    // still acts on the image it shows, until it is chosen again for the other one.
    const auto shifted = [](int x, int y) { return Stripes(x, y) + 200; };
    TChild *other = OpenImage(96, 96, shifted);
    FourierF->f_cut->setValue(4);
    FourierF->Apod->setValue(1);
    QTest::mouseClick(FourierF->LowPass, Qt::LeftButton);
    QTest::mouseClick(FourierF->ApplyBtn, Qt::LeftButton);
    EXPECT_EQ(Worst(other, shifted), 0);
    ShowFourier();
    EXPECT_EQ(FourierF->Spectrum().Size(), 96);
    FourierF->f_cut->setValue(4);
    FourierF->Apod->setValue(1);
    QTest::mouseClick(FourierF->ApplyBtn, Qt::LeftButton);
    const int mean = 1200; // 12 whole periods across 96 columns
    EXPECT_LE(Worst(other, [&](int, int) { return mean; }), 2);
}

TEST_F(FourierWindowTest, WithoutAnImageWindowNothingHappens)
{
    LastOperation = 0;
    ShowFourier();
    EXPECT_TRUE(FourierF->Spectrum().Empty());
    QTest::mouseClick(FourierF->ApplyBtn, Qt::LeftButton);
    QTest::mouseClick(FourierF->PreviewBtn, Qt::LeftButton);
    EXPECT_EQ(LastOperation, 0);
    EXPECT_TRUE(main->UndoImage.Empty); // no snapshot taken
    FourierF->f_cut->setValue(50);
    FourierF->close();
    EXPECT_EQ(FourierF->f_cut->value(), 1); // closing resets the cut-off
}

} // namespace

int main(int argc, char **argv)
{
    return RunQtTests(argc, argv);
}

namespace
{

// At the default display exponent the power spectrum of a star frame (a sky of 1000 with noise
// and a few stars) shows its structure: most of the picture is not black.
TEST_F(FourierWindowTest, SpectrumOfAStarFrameIsNotBlackAtTheDefaultExponent)
{
    OpenImage(128, 128, [](int x, int y) {
        const int dx = x % 32 - 16, dy = y % 32 - 16;
        std::uint32_t noise =
            (static_cast<std::uint32_t>(x) * 73856093u) ^ (static_cast<std::uint32_t>(y) * 19349663u);
        noise = (noise ^ (noise >> 13)) * 2654435761u;
        return 1000 + static_cast<int>((noise >> 16) % 25) + (dx * dx + dy * dy < 5 ? 8000 : 0);
    });
    ShowFourier();
    ASSERT_EQ(FourierF->MaxExp_->value(), 10);
    const QImage &picture = FourierF->SpectrumPicture();
    int dark = 0, all = 0;
    for (int y = 0; y < picture.height(); y += 2)
        for (int x = 0; x < picture.width(); x += 2, ++all)
            dark += qGray(picture.pixel(x, y)) < 32;
    EXPECT_LT(dark, all / 4);
}

} // namespace
