// The equalization window driven through its controls: image and model tables applied to the
// active image window, preview, undo, curve editing with the mouse and a window without image.
#include "tools_test_support.h"

#include "edit_target.h"
#include "equalization_window.h"
#include "levels.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

#include <set>
#include <string>

using namespace korvi::test;

namespace
{

class EqualizationWindowTest : public ToolsWindowTest
{
protected:
    // 4 x 2: columns 0-1 hold 100, columns 2-3 hold 300.
    TChild *OpenTwoLevels()
    {
        return OpenImage(4, 2, [](int x, int) { return x < 2 ? 100 : 300; });
    }
    void ShowEqualization()
    {
        EditTarget = EditCompositePalette; // the menu item sets the image window as target
        auto *item = main->findChild<QAction *>(QStringLiteral("Custom1"));
        ASSERT_NE(item, nullptr);
        main->UpdateProcessingItems();
        ASSERT_TRUE(item->isEnabled());
        item->trigger();
        EXPECT_EQ(EditTarget, EditActiveImage);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(EqualizeF));
    }
    static int Pixel(TChild *window, int x, int y) { return window->ConstImage().FrameRow(0, y)[x]; }
};

TEST_F(EqualizationWindowTest, ImageHistogramTableEqualizesAndUndoRestores)
{
    ASSERT_NE(EqualizeF, nullptr);
    TChild *window = OpenTwoLevels();
    ShowEqualization();
    EXPECT_EQ(EqualizeF->windowTitle(), "Custom intensity equalization");
    // The histogram leaves out the last row and column: 100, 100, 300.
    EXPECT_EQ(EqualizeF->EqualizationTable()[100], 43690.0f);
    EXPECT_EQ(EqualizeF->EqualizationTable()[300], 65535.0f);
    QTest::mouseClick(EqualizeF->UseImageHistogram, Qt::LeftButton);
    QTest::mouseClick(EqualizeF->ApplyBtn, Qt::LeftButton);
    EXPECT_EQ(Pixel(window, 0, 1), 43690);
    EXPECT_EQ(Pixel(window, 3, 1), 65535);
    EXPECT_EQ(LastOperation, 3);
    EXPECT_TRUE(main->Undo1->isEnabled());
    EXPECT_EQ(main->Undo1->text(), "&Undo equalization");
    EXPECT_FALSE(main->Redo1->isEnabled());
    // The equalized histogram: two bars at the picture's edges.
    EXPECT_EQ(EqualizeF->EqualizedPicture().pixel(0, 200), qRgb(0, 0, 0));

    QTest::mouseClick(EqualizeF->UndoBtn, Qt::LeftButton);
    EXPECT_EQ(Pixel(window, 0, 1), 100);
    EXPECT_EQ(Pixel(window, 3, 1), 300);
}

TEST_F(EqualizationWindowTest, ChosenAgainForAnotherImageItsTableIsThatImages)
{
    OpenTwoLevels();
    ShowEqualization();
    TChild *second = OpenImage(4, 2, [](int x, int) { return x < 2 ? 1000 : 3000; });
    ShowEqualization(); // the item chosen again while the window is open
    EXPECT_EQ(EqualizeF->EqualizationTable()[1000], 43690.0f);
    QTest::mouseClick(EqualizeF->UseImageHistogram, Qt::LeftButton);
    QTest::mouseClick(EqualizeF->ApplyBtn, Qt::LeftButton);
    EXPECT_EQ(Pixel(second, 0, 1), 43690);
    EXPECT_EQ(Pixel(second, 3, 1), 65535);
}

TEST_F(EqualizationWindowTest, PreviewShowsButLeavesThePixels)
{
    TChild *window = OpenTwoLevels();
    ShowEqualization();
    QTest::mouseClick(EqualizeF->UseImageHistogram, Qt::LeftButton);
    const bool undoOn = main->Undo1->isEnabled(), redoOn = main->Redo1->isEnabled();
    const QString undo = main->Undo1->text();
    QTest::mouseClick(EqualizeF->PreviewBtn, Qt::LeftButton);
    EXPECT_EQ(Pixel(window, 0, 0), 100);
    // The Undo and Redo of earlier work are left as they were.
    EXPECT_EQ(main->Undo1->isEnabled(), undoOn);
    EXPECT_EQ(main->Undo1->text(), undo);
    EXPECT_EQ(main->Redo1->isEnabled(), redoOn);
    QTest::mouseClick(EqualizeF->ApplyBtn, Qt::LeftButton);
    EXPECT_EQ(Pixel(window, 0, 0), 43690);
}

TEST_F(EqualizationWindowTest, DraggedCurveIsTheModelTableApplied)
{
    TChild *window = OpenImage(2, 1, [](int x, int) { return x == 0 ? 0 : 65535; });
    ShowEqualization();
    // The last anchor dragged down to half height: full scale maps to half scale.
    const QPoint last(TEqualizeF::CurveWidth - 1, 0);
    QTest::mousePress(EqualizeF->BImage, Qt::LeftButton, {}, last);
    MoveMouse(EqualizeF->BImage, QPoint(200, 100), Qt::LeftButton);
    QTest::mouseRelease(EqualizeF->BImage, Qt::LeftButton, {}, QPoint(200, 100));
    EXPECT_EQ(EqualizeF->Curve().Point(3).x, TEqualizeF::CurveWidth);
    EXPECT_EQ(EqualizeF->Curve().Point(3).y, 100);
    QTest::mouseClick(EqualizeF->ApplyBtn, Qt::LeftButton);
    EXPECT_NEAR(Pixel(window, 1, 0), (201 - 100) * 65535 / 201, 2);
    EXPECT_NEAR(Pixel(window, 0, 0), 0, 2);

    // Each show starts again from the default curve.
    EqualizeF->close();
    ShowEqualization();
    EXPECT_EQ(EqualizeF->Curve().Point(3).y, 0);
}

TEST_F(EqualizationWindowTest, DoubleClickSplitsAndThePopUpDeletes)
{
    OpenTwoLevels();
    ShowEqualization();
    QTest::mouseDClick(EqualizeF->BImage, Qt::LeftButton, {}, QPoint(300, 100));
    ASSERT_EQ(EqualizeF->Curve().SegmentCount(), 2);
    EXPECT_EQ(EqualizeF->Curve().Point(3).x, TEqualizeF::CurveWidth / 2);
    QTest::mousePress(EqualizeF->BImage, Qt::RightButton, {}, QPoint(265, 100));
    ASSERT_TRUE(WaitFor([] { return EqualizeF->CurveMenu->isVisible(); }));
    EXPECT_EQ(EqualizeF->Symmetrize1->text(), "Asymmetric"); // a new anchor starts symmetric
    EqualizeF->CurveMenu->close();
    EqualizeF->DeletePoint1->trigger();
    EXPECT_EQ(EqualizeF->Curve().SegmentCount(), 1);
}

TEST_F(EqualizationWindowTest, WithoutAnImageWindowNothingHappens)
{
    LastOperation = 0;
    ShowEqualization();
    QTest::mouseClick(EqualizeF->ApplyBtn, Qt::LeftButton);
    QTest::mouseClick(EqualizeF->PreviewBtn, Qt::LeftButton);
    EXPECT_TRUE(main->UndoImage.Empty); // no snapshot taken
    EXPECT_EQ(LastOperation, 0);
}

} // namespace

int main(int argc, char **argv)
{
    return RunQtTests(argc, argv);
}

namespace
{

int DistinctGreys(const ImageData &image)
{
    std::set<int> greys;
    for (std::size_t i = 0; i < image.PixelCount(); ++i)
        greys.insert(image.Rgba[4 * i]);
    return static_cast<int>(greys.size());
}

} // namespace

// Custom (default curve) and Quick equalization of a star frame leave a view with its structure
// shown: the levels follow the equalized pixels, as the observer's automatic levels ask.
TEST_F(EqualizationWindowTest, EqualizedStarFrameIsNeitherBlackNorWhite)
{
    const auto star = [](int x, int y) {
        const int dx = x % 40 - 20, dy = y % 40 - 20;
        return 1000 + (x * 7 + y * 13) % 23 + (dx * dx + dy * dy < 9 ? 20000 : 0);
    };
    for (const char *command : {"Custom", "Quick"}) {
        SCOPED_TRACE(command);
        // Shown with the levels a load gives it: a sky of about 1000 with noise, and stars.
        TChild *window = OpenImage(160, 120, star);
        ComputeDisplayLevels(window->Image());
        window->RenderImage();
        ASSERT_GT(DistinctGreys(window->ConstImage()), 20);
        if (std::string(command) == "Custom") {
            ShowEqualization();
            QTest::mouseClick(EqualizeF->ApplyBtn, Qt::LeftButton);
            EqualizeF->close();
        } else {
            auto *item = main->findChild<QAction *>(QStringLiteral("Quick1"));
            ASSERT_NE(item, nullptr);
            main->UpdateProcessingItems();
            item->trigger();
        }
        EXPECT_GT(DistinctGreys(window->ConstImage()), 20);
    }
}
