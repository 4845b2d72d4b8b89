// The palette editor and the image information window against the main window and its image
// windows: what reaches the target, when, and what the editor writes and shows.
#include "capture_test_support.h"

#include "edit_target.h"
#include "image_information.h"
#include "image_window.h"
#include "main_window.h"
#include "opengl_panel.h"
#include "palette_editor.h"
#include "program_windows.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace korvi::test;

namespace
{

class InformationAndPalettesTest : public ::testing::Test
{
protected:
    void Start(bool withImage = true)
    {
        QStringList arguments;
        if (withImage) {
            const std::string path = folder.File("m31.kvr");
            WriteTestImage(path, 64, 48, [](int x, int y) { return 100 * x + y; });
            arguments << QString::fromStdString(path);
        }
        main = std::make_unique<TMainF>(folder.Dir(), arguments);
        CreateProgramWindows(main.get());
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
        if (withImage)
            ASSERT_TRUE(WaitFor([this] { return main->FirstImageWindow() != nullptr; }));
    }
    void TearDown() override
    {
        if (PaletteSet)
            PaletteSet->hide();
        if (HInfo)
            HInfo->hide();
        main->ClosingDone = true;
        main.reset();
        EditTarget = EditActiveImage;
    }
    ImageData &Image() { return main->FirstImageWindow()->Image(); }
    // A mouse event on the curve view with the left button held.
    void Mouse(QEvent::Type type, int x, int y)
    {
        const QPointF at(x, y);
        QMouseEvent e(type, at, PaletteSet->BImage->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(PaletteSet->BImage, &e);
    }

    ProgramFolder folder;
    ModalScript script;
    std::unique_ptr<TMainF> main;
};

TEST_F(InformationAndPalettesTest, InformationShowsTheHeaderAndApplyReachesEveryFormat)
{
    Start();
    Image().Description = "before";
    Image().TopDark = 12.9f;
    main->HeaderInfoFormShow->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(HInfo));
    EXPECT_EQ(HInfo->NCol->text(), "Number of columns: 64");
    EXPECT_EQ(HInfo->NRow->text(), "Number of rows: 48");
    EXPECT_EQ(HInfo->TopDarkLevel->text(), "Dark level at top of image: 12");
    EXPECT_TRUE(HInfo->CCDTemp->text().endsWith(QStringLiteral(" \u00b0C")));
    EXPECT_EQ(HInfo->description->text(), "before");

    HInfo->description->setText("M31 core");
    QTest::mouseClick(HInfo->UndoBtn, Qt::LeftButton); // before Apply: back to the image's text
    EXPECT_EQ(HInfo->description->text(), "before");
    HInfo->description->setText("M31 core");
    HInfo->filters->setText("Luminance");
    QTest::mouseClick(HInfo->ApplyBtn, Qt::LeftButton);
    EXPECT_EQ(Image().Description, "M31 core");
    EXPECT_EQ(Image().Filters, "Luminance");

    for (int format : {FormatNative, FormatFits, FormatPng}) {
        SCOPED_TRACE(format);
        const std::string path = folder.File("saved" + std::to_string(format));
        ASSERT_TRUE(Image().SaveToFile(path, format));
        ImageData back;
        ASSERT_TRUE(back.LoadFromFile(path));
        EXPECT_EQ(back.Description, "M31 core");
        EXPECT_EQ(back.Filters, "Luminance");
    }

    // The image window closed behind the open information window, and another image opened:
    // Apply writes nowhere, and says so.
    main->FirstImageWindow()->Image().Modified = false;
    main->CloseAll->trigger();
    ASSERT_TRUE(WaitFor([this] { return main->FirstImageWindow() == nullptr; }));
    const std::string other = folder.File("other.kvr");
    WriteTestImage(other, 8, 4, [](int x, int) { return x; });
    ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(other)}), 1);
    const std::string otherText = Image().Description;
    HInfo->description->setText("lost");
    script.PressBox(QMessageBox::Ok);
    QTest::mouseClick(HInfo->ApplyBtn, Qt::LeftButton);
    EXPECT_TRUE(script.Done()); // the box came
    ASSERT_FALSE(script.boxTexts.empty());
    EXPECT_TRUE(script.boxTexts.back().contains("no longer open"));
    EXPECT_EQ(Image().Description, otherText);
    EXPECT_FALSE(Image().Modified);

    HInfo->hide();
    EditTarget = EditDefaultPalette;
    HInfo->show();
    EXPECT_FALSE(HInfo->ApplyBtn->isEnabled());
    EXPECT_FALSE(HInfo->UndoBtn->isEnabled());
}

TEST_F(InformationAndPalettesTest, ChosenAgainWhileOpenTheWindowsShowAndWriteTheNewTarget)
{
    Start();
    TChild *first = main->FirstImageWindow();
    Image().Description = "first";
    main->HeaderInfoFormShow->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(HInfo));
    EXPECT_EQ(HInfo->NCol->text(), "Number of columns: 64");

    // A second image becomes active; the item chosen again re-reads the open window.
    const std::string path = folder.File("second.kvr");
    WriteTestImage(path, 32, 16, [](int x, int y) { return 7 * x + y; });
    ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(path)}), 1);
    TChild *second = main->FirstImageWindow();
    ASSERT_NE(second, first);
    second->Image().Description = "second";
    main->HeaderInfoFormShow->trigger();
    EXPECT_EQ(HInfo->NCol->text(), "Number of columns: 32");
    EXPECT_EQ(HInfo->description->text(), "second");

    // Apply writes into the image shown, even with the other one made active meanwhile.
    HInfo->description->setText("typed for the second");
    main->MdiArea->setActiveSubWindow(first);
    ASSERT_EQ(main->FirstImageWindow(), first);
    QTest::mouseClick(HInfo->ApplyBtn, Qt::LeftButton);
    EXPECT_EQ(second->ConstImage().Description, "typed for the second");
    EXPECT_EQ(first->ConstImage().Description, "first");

    // The palette editor, open on the default palette, chosen again for the active image: it
    // edits the image's palette, and OK writes that back, not the default curves.
    Image().Palette.Points[0][1].y = 0.9f;
    Image().Palette.BuildTables(true, true, true);
    const PPalette own = Image().Palette;
    ASSERT_FALSE(own.SameCurves(CurrentSettings().DefaultPalettes[0]));
    main->findChild<QAction *>(QStringLiteral("Defaultpalette1"))->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(PaletteSet));
    EXPECT_TRUE(PaletteSet->Palette.SameCurves(CurrentSettings().DefaultPalettes[0]));
    main->PaletteEdit->trigger();
    EXPECT_TRUE(PaletteSet->Palette.SameCurves(own));
    QTest::mouseClick(PaletteSet->OkBtn, Qt::LeftButton);
    EXPECT_TRUE(first->ConstImage().Palette.SameCurves(own));
}

TEST_F(InformationAndPalettesTest, CurveEditsReachTheImageOnlyThroughPreviewAndRevert)
{
    Start();
    main->PaletteEdit->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(PaletteSet));
    EXPECT_TRUE(PaletteSet->Palette.SameCurves(Image().Palette));
    const PPalette original = Image().Palette;

    // A double click on the red curve's first segment inserts an anchor.
    const int segments = PaletteSet->Palette.SegmentCount[0];
    const int ax = PaletteSet->Curves.ScreenX[0][0], ay = PaletteSet->Curves.ScreenY[0][0];
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease})
        Mouse(type, ax + 5, ay);
    EXPECT_EQ(PaletteSet->Palette.SegmentCount[0], segments + 1);
    EXPECT_TRUE(Image().Palette.SameCurves(original)); // not yet applied

    // Drag the new anchor upwards; Preview copies the palette into the image.
    const int k = 3;
    const int kx = PaletteSet->Curves.ScreenX[k][0], ky = PaletteSet->Curves.ScreenY[k][0];
    Mouse(QEvent::MouseButtonPress, kx, ky);
    ASSERT_EQ(PaletteSet->Curves.SelectedPoint, k);
    Mouse(QEvent::MouseMove, kx, ky - 40);
    Mouse(QEvent::MouseButtonRelease, kx, ky - 40);
    EXPECT_EQ(PaletteSet->Curves.ScreenY[k][0], ky - 40);
    QTest::mouseClick(PaletteSet->PreviewBtn, Qt::LeftButton);
    const PPalette previewed = PaletteSet->Palette;
    EXPECT_TRUE(Image().Palette.SameCurves(previewed));
    EXPECT_TRUE(Image().Palette.SameTables(previewed));

    // A further edit, then Revert: back to what was previewed, not to the opening palette.
    Mouse(QEvent::MouseButtonPress, kx, ky - 40);
    Mouse(QEvent::MouseMove, kx, ky - 80);
    Mouse(QEvent::MouseButtonRelease, kx, ky - 80);
    QTest::mouseClick(PaletteSet->ResetBtn, Qt::LeftButton);
    EXPECT_TRUE(PaletteSet->Palette.SameCurves(previewed));
    EXPECT_TRUE(Image().Palette.SameCurves(previewed));
}

TEST_F(InformationAndPalettesTest, PreviewBarShowsThePaletteAndFilesRoundTrip)
{
    Start(false);
    main->findChild<QAction *>(QStringLiteral("Defaultpalette1"))->trigger();
    ASSERT_EQ(EditTarget.load(), EditDefaultPalette);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(PaletteSet));

    script.ChooseFiles({QString::fromStdString(folder.File("Palettes/BlackBody2.pal"))});
    PaletteSet->Open1->trigger();
    EXPECT_EQ(PaletteSet->PaletteFile->text().toStdString(), folder.File("Palettes/BlackBody2.pal"));
    PPalette blackBody;
    blackBody.LoadFromFile(folder.File("Palettes/BlackBody2.pal"));
    EXPECT_TRUE(PaletteSet->Palette.SameCurves(blackBody));

    PaletteSet->OpenGLPanel->update();
    QTest::qWait(50);
    const QImage bar = PaletteSet->OpenGLPanel->grabFramebuffer();
    ASSERT_EQ(bar.width(), TPaletteSet::PreviewWidth);
    for (int x : {0, 40, 188, 300, 375}) {
        const std::uint32_t c = blackBody.ColorAt(static_cast<int>(std::int64_t{x} * 65536 / bar.width()));
        const QColor seen = bar.pixelColor(x, bar.height() / 2);
        EXPECT_NEAR(seen.red(), int(c & 0xff), 1) << x;
        EXPECT_NEAR(seen.green(), int((c >> 8) & 0xff), 1) << x;
        EXPECT_NEAR(seen.blue(), int((c >> 16) & 0xff), 1) << x;
    }

    script.ChooseFiles({QString::fromStdString(folder.File("mine.pal"))});
    PaletteSet->SaveAs1->trigger();
    ASSERT_TRUE(blackBody.SaveToFile(folder.File("core.pal")));
    EXPECT_EQ(ReadFileBytes(folder.File("mine.pal")), ReadFileBytes(folder.File("core.pal")));

    // Grey scale on makes the three curves red's; off gives green and blue back as they were.
    const PPalette loaded = PaletteSet->Palette;
    QTest::mouseClick(PaletteSet->GreyScale, Qt::LeftButton, {},
                      QPoint(8, PaletteSet->GreyScale->height() / 2));
    ASSERT_TRUE(PaletteSet->GreyScale->isChecked());
    EXPECT_EQ(PaletteSet->Palette.SegmentCount[1], blackBody.SegmentCount[0]);
    EXPECT_EQ(PaletteSet->Palette.ByteTable[2], PaletteSet->Palette.ByteTable[0]);
    QTest::mouseClick(PaletteSet->GreyScale, Qt::LeftButton, {},
                      QPoint(8, PaletteSet->GreyScale->height() / 2));
    ASSERT_FALSE(PaletteSet->GreyScale->isChecked());
    EXPECT_TRUE(PaletteSet->Palette.SameCurves(blackBody));
    EXPECT_TRUE(PaletteSet->Palette.SameTables(loaded));
    EXPECT_TRUE(PaletteSet->BGreen->isEnabled());

    QTest::mouseClick(PaletteSet->OkBtn, Qt::LeftButton);
    EXPECT_FALSE(PaletteSet->isVisible());
    EXPECT_TRUE(CurrentSettings().DefaultPalettes[0].SameCurves(blackBody));
    EXPECT_TRUE(script.Done());
}

} // namespace

int main(int argc, char **argv)
{
    return korvi::test::RunQtTests(argc, argv);
}
