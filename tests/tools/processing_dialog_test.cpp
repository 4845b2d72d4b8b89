// The processing dialog and the Filters menu driven through their widgets: every operation code
// the dialog runs, with undo, redo and preview; the codes its pages set; the kernel editor and its
// filter files; quick equalization.
#include "capture_test_support.h"

#include "edit_target.h"
#include "image_window.h"
#include "main_window.h"
#include "processing/filter_file.h"
#include "processing/filters.h"
#include "processing_dialog.h"
#include "program_windows.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

using namespace korvi::test;

namespace
{

using Pixels = std::vector<std::uint16_t>;

int Noise(int x, int y)
{
    return (x * 7919 + y * 104729 + x * y * 31) % 3000 + (x == 5 && y == 4 ? 60000 : 0);
}

class ProcessingDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        main = std::make_unique<TMainF>(folder.Dir(), QStringList{});
        CreateProgramWindows(main.get());
        main->show();
        dialog = FilterF;
        ASSERT_NE(dialog, nullptr);
        const std::string path = folder.File("noise.kvr");
        WriteTestImage(path, 24, 17, Noise);
        ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(path)}), 1);
        window = main->FirstImageWindow();
    }
    void TearDown() override
    {
        dialog->close();
        main->ClosingDone = true;
        main.reset();
        EditTarget = EditActiveImage;
        LastOperation = 0;
        EXPECT_EQ(script.unexpected, 0);
    }
    Pixels Frame() const
    {
        const ImageData &image = window->ConstImage();
        return Pixels(image.FramePixels(0), image.FramePixels(0) + image.Width * image.Height);
    }
    // What a core filter makes of the window's current image.
    Pixels Expected(const std::function<void(ImageData &)> &filter) const
    {
        ImageData copy;
        copy.Assign(window->ConstImage());
        filter(copy);
        return Pixels(copy.FramePixels(0), copy.FramePixels(0) + copy.Width * copy.Height);
    }
    // Near the left edge: a radio button takes clicks on its indicator and its text only.
    void Click(QAbstractButton *button)
    {
        QTest::mouseClick(button, Qt::LeftButton, Qt::KeyboardModifiers(), QPoint(8, button->height() / 2));
    }
    void ClickTab(QWidget *page)
    {
        QTabBar *bar = dialog->PageControl->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::KeyboardModifiers(),
                          bar->tabRect(dialog->PageControl->indexOf(page)).center());
    }
    QAction *MenuItem(const char *name) const
    {
        return main->findChild<QAction *>(QString::fromLatin1(name));
    }
    void OpenFromMenu(const char *name)
    {
        MenuItem(name)->trigger();
        ASSERT_TRUE(WaitFor([this] { return dialog->isVisible(); }));
    }

    ProgramFolder folder;
    ModalScript script;
    std::unique_ptr<TMainF> main;
    TFilterF *dialog = nullptr;
    TChild *window = nullptr;
};

TEST_F(ProcessingDialogTest, EveryOperationAppliesUndoesRedoesAndPreviews)
{
    OpenFromMenu("Convolutionfilters1");
    ASSERT_EQ(dialog->PageControl->currentWidget(), dialog->ConvolutionPage);
    ASSERT_EQ(dialog->FilterBox->currentIndex(), 0); // the low-pass file is loaded on first use
    ConvolutionKernels lowPass;
    const ConvolutionFilterFile shipped = ShippedFilter(0);
    for (int m = 0; m < 5; ++m)
        for (int n = 0; n < 5; ++n)
            for (int k = 0; k < 2; ++k)
                lowPass.Cell[m][n][k] = shipped.Kernels[m][n][0][0][k];

    struct Case {
        const char *what;
        std::function<void()> choose; // brings the operation up through the dialog's widgets
        int code;
        std::function<void(ImageData &)> filter;
    };
    const Case cases[] = {
        {"convolution", [] {}, 1, [&](ImageData &i) { ApplyConvolution(i, false, lowPass); }},
        {"gaussian",
         [&] {
             ClickTab(dialog->GaussPage);
             dialog->Sigma->setValue(2);
         },
         2, [](ImageData &i) { ApplyGaussianConvolution(i, 2); }},
        {"local average",
         [&] {
             ClickTab(dialog->AveragePage);
             dialog->AvgRadius->setValue(3);
         },
         4, [](ImageData &i) { ApplyLocalAverage(i, 3); }},
        {"median, sensitivity 100 is factor 0",
         [&] {
             ClickTab(dialog->MedianPage);
             dialog->SSize->setValue(3);
         },
         5, [](ImageData &i) { ApplyMedianFilter(i, 3, 0.0f); }},
        {"median, sensitivity 50 is factor 0.5", [&] { dialog->Sensitivity->setValue(50); }, 5,
         [](ImageData &i) { ApplyMedianFilter(i, 3, 0.5f); }},
        {"unsharp mask",
         [&] {
             ClickTab(dialog->UnsharpPage);
             Click(dialog->LocalAvgBtn);
             dialog->ShiftVal->setValue(100);
             dialog->LFWeight->setText(QStringLiteral("0.5"));
         },
         6, [](ImageData &i) { ApplyUnsharpMask(i, 2, 3, 100, 10, 0.5f, false); }},
        {"closing",
         [&] {
             ClickTab(dialog->MinMaxPage);
             Click(dialog->ClosingBtn);
         },
         10,
         [](ImageData &i) {
             ApplyMinMaxFilter(0, false, i);
             ApplyMinMaxFilter(0, true, i);
         }},
        {"minimal filter with the disc",
         [&] {
             QTest::mouseClick(dialog->MMImage, Qt::LeftButton, Qt::KeyboardModifiers(),
                               QPoint(150, 10)); // upper right
             Click(dialog->MinimalBtn);
         },
         8, [](ImageData &i) { ApplyMinMaxFilter(3, true, i); }},
        {"maximal filter", [&] { Click(dialog->MaximalBtn); }, 9,
         [](ImageData &i) { ApplyMinMaxFilter(3, false, i); }},
        {"opening", [&] { Click(dialog->OpeningBtn); }, 11,
         [](ImageData &i) {
             ApplyMinMaxFilter(3, true, i);
             ApplyMinMaxFilter(3, false, i);
         }},
        {"threshold",
         [&] {
             ClickTab(dialog->ThresholdPage);
             dialog->UpperThreshold->setValue(2000);
             dialog->LowerThreshold->setValue(300);
         },
         14, [](ImageData &i) { ClipImage(i, 2000, 300); }},
        {"subtract bias",
         [&] {
             ClickTab(dialog->SubtractBiasPage);
             dialog->BiasLevel->setValue(700);
         },
         15, [](ImageData &i) { SubtractThreshold(i, 700); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        c.choose();
        ASSERT_EQ(LastOperation.load(), c.code);
        const Pixels before = Frame();
        const Pixels once = Expected(c.filter);
        ASSERT_NE(once, before); // the case shows something

        const bool undoOn = main->Undo1->isEnabled(), redoOn = main->Redo1->isEnabled();
        Click(dialog->PreviewBtn); // rendered, then the pixels put back; Undo of earlier work kept
        EXPECT_EQ(Frame(), before);
        EXPECT_EQ(main->Undo1->isEnabled(), undoOn);
        EXPECT_EQ(main->Redo1->isEnabled(), redoOn);

        Click(dialog->ApplyBtn);
        EXPECT_EQ(Frame(), once);
        EXPECT_EQ(main->Undo1->text(), "&Undo filter");
        EXPECT_TRUE(main->Redo1->isEnabled());
        const Pixels twice = Expected(c.filter);
        main->Redo1->trigger();
        EXPECT_EQ(Frame(), twice);
        // The snapshot Redo took: after one application. A second application that changes
        // nothing (closing and opening are idempotent) takes none: the original comes back.
        const Pixels undone = twice == once ? before : once;
        main->Undo1->trigger();
        EXPECT_EQ(Frame(), undone);
        Click(dialog->UndoBtn); // undoing twice restores the same state twice
        EXPECT_EQ(Frame(), undone);

        UShortMatrix original(17, 24); // the next case starts from the original again
        std::copy(before.begin(), before.end(), original.Data());
        window->Image().CopyPixelsFrom(original);
    }
}

TEST_F(ProcessingDialogTest, ItemsChosenWhileOpenSwitchThePageAndWorkIsKeptAndMarked)
{
    OpenFromMenu("Gaussiancrossconvolution1");
    ASSERT_EQ(dialog->PageControl->currentWidget(), dialog->GaussPage);
    // Chosen while the dialog is open, an item brings its own page up.
    MenuItem("Medianfilter1")->trigger();
    EXPECT_EQ(dialog->PageControl->currentWidget(), dialog->MedianPage);
    MenuItem("Convolutionfilters1")->trigger();
    ASSERT_EQ(dialog->PageControl->currentWidget(), dialog->ConvolutionPage);
    ASSERT_NE(dialog->Matrix1->item(1, 1), nullptr);
    EXPECT_FALSE(dialog->Matrix1->item(1, 1)->text().isEmpty()); // the low-pass kernel is shown

    // The convolution marks the image changed and its extremes measured again.
    const Pixels original = Frame();
    EXPECT_FALSE(window->ConstImage().Modified);
    Click(dialog->ApplyBtn);
    const Pixels convolved = Frame();
    ASSERT_NE(convolved, original);
    EXPECT_TRUE(window->ConstImage().Modified);
    EXPECT_EQ(window->ConstImage().Brightest, *std::max_element(convolved.begin(), convolved.end()));
    EXPECT_EQ(window->ConstImage().Dimmest, *std::min_element(convolved.begin(), convolved.end()));

    // A Preview of another operation leaves the Undo of that Apply.
    MenuItem("Threshold1")->trigger();
    dialog->UpperThreshold->setValue(500);
    Click(dialog->PreviewBtn);
    EXPECT_EQ(Frame(), convolved);
    EXPECT_TRUE(window->ConstImage().Modified);
    main->Undo1->trigger();
    EXPECT_EQ(Frame(), original);

    // A Preview the operation refuses (no manual sky fit for this image) puts nothing back.
    Click(dialog->ApplyBtn);
    const Pixels clipped = Frame();
    ASSERT_NE(clipped, original);
    MenuItem("Skymodel1")->trigger();
    ASSERT_EQ(dialog->PageControl->currentWidget(), dialog->ModelSkyPage);
    dialog->ManualSkyModel->setChecked(true);
    script.PressBox(QMessageBox::Ok);
    Click(dialog->PreviewBtn);
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(Frame(), clipped);
    dialog->AutoSkyModel->setChecked(true);

    // A file loaded into the snapshot buffer leaves nothing to undo.
    const std::string path = folder.File("second.kvr");
    WriteTestImage(path, 5, 5, Noise);
    ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(path)}), 1);
    EXPECT_FALSE(main->Undo1->isEnabled());
    EXPECT_FALSE(main->Redo1->isEnabled());

    // Closing the processed image asks.
    script.PressBox(QMessageBox::No);
    window->close();
    EXPECT_TRUE(script.Done()); // the box came
    ASSERT_FALSE(script.boxTexts.empty());
    EXPECT_TRUE(script.boxTexts.back().contains("Save changes to image"));
    EXPECT_EQ(script.unexpected, 0);
}

TEST_F(ProcessingDialogTest, PagesSetTheirOwnCodesAndOtherWindowsOperationsAreNotRepeated)
{
    LastOperation = 2;
    EditTarget = EditActiveImage;
    main->ShowProgramWindow("TFilterF");
    ASSERT_TRUE(WaitFor([this] { return dialog->isVisible(); }));
    EXPECT_EQ(dialog->PageControl->currentWidget(), dialog->GaussPage);
    EXPECT_EQ(LastOperation.load(), 2);
    ClickTab(dialog->SubtractBiasPage); // a page without a menu item sets its code too
    EXPECT_EQ(LastOperation.load(), 15);
    ClickTab(dialog->MinMaxPage);
    EXPECT_TRUE(dialog->MinimalBtn->isChecked());
    EXPECT_EQ(LastOperation.load(), 10);
    for (QWidget *page : {dialog->TrimPage, dialog->ModelSkyPage, dialog->LogRescalePage})
        EXPECT_TRUE(dialog->PageControl->isTabEnabled(dialog->PageControl->indexOf(page)));
    for (const char *item :
         {"Convolutionfilters1", "Medianfilter1", "Threshold1", "Quick1", "Custom1", "Fourierhighlowpass1",
          "Skymodel1", "Logarithmicrescaling1", "TrimCustom1", "Removebloom1"})
        EXPECT_TRUE(MenuItem(item)->isEnabled()) << item;

    // Trim: corners held inside the 24 x 17 image and put in order, then cropped inclusively.
    ClickTab(dialog->TrimPage);
    EXPECT_EQ(LastOperation.load(), 7);
    dialog->TrimXLO->setValue(30);
    dialog->TrimYLO->setValue(10);
    dialog->TrimXHI->setValue(5);
    dialog->TrimYHI->setValue(-3);
    dialog->ApplyBtnClick();
    EXPECT_EQ(dialog->TrimXLO->value(), 5);
    EXPECT_EQ(dialog->TrimXHI->value(), 23);
    EXPECT_EQ(dialog->TrimYLO->value(), 0);
    EXPECT_EQ(dialog->TrimYHI->value(), 10);
    EXPECT_EQ(window->ConstImage().Width, 19);
    EXPECT_EQ(window->ConstImage().Height, 11);
    main->Undo1->trigger();
    ASSERT_EQ(window->ConstImage().Width, 24);
    ClickTab(dialog->MinMaxPage);
    Click(dialog->ClosingBtn);

    // Whatever another window records in LastOperation, the dialog's Apply runs the page shown
    // and its Redo repeats its own operation: closing, which changes a closed image no more, so
    // Redo takes no snapshot and Undo brings the original back.
    LastOperation = 100;
    const Pixels original = Frame();
    Click(dialog->ApplyBtn);
    const Pixels closed = Frame();
    ASSERT_NE(closed, original);
    Click(dialog->RedoBtn);
    main->RedoActionExecute();
    EXPECT_EQ(Frame(), closed);
    main->Undo1->trigger();
    EXPECT_EQ(Frame(), original);
    EXPECT_EQ(main->UndoWindowTag, window->Tag());
    EXPECT_TRUE(main->Undo1->isEnabled());
}

TEST_F(ProcessingDialogTest, KernelEditorAndFilterFiles)
{
    OpenFromMenu("Convolutionfilters1");
    QTableWidget *grid = dialog->Matrix1;
    EXPECT_EQ(grid->item(0, 3)->text(), "3");
    EXPECT_EQ(grid->item(2, 2)->text(), "8"); // low pass, power 1: centre 8
    dialog->FiltPower->setValue(3);
    EXPECT_EQ(grid->item(2, 2)->text(), "2");
    dialog->FiltPower->setValue(1);

    // Sobel from the list: the secondary matrix holds the vertical gradient.
    dialog->FilterBox->setFocus();
    QTest::keyClick(dialog->FilterBox, Qt::Key_Down);
    QTest::keyClick(dialog->FilterBox, Qt::Key_Down);
    QTest::keyClick(dialog->FilterBox, Qt::Key_Down);
    ASSERT_EQ(dialog->FilterBox->currentIndex(), 3);
    EXPECT_EQ(dialog->Matrix2->item(1, 2)->text(), "-2");

    // A cell that is not a number is reported and nothing is applied.
    grid->item(2, 2)->setText(QStringLiteral("abc"));
    script.PressBox(QMessageBox::Ok);
    const Pixels before = Frame();
    main->UndoWindowTag = -7;
    Click(dialog->ApplyBtn);
    EXPECT_EQ(Frame(), before);
    EXPECT_EQ(main->UndoWindowTag, -7);
    ASSERT_FALSE(script.boxTexts.empty());
    EXPECT_EQ(script.boxTexts.back(), "'abc' is not a valid floating point value");
    grid->item(2, 2)->setText(QStringLiteral("0.125"));

    // Save under an upper-case extension: ".qzk" is appended once more.
    const std::string saved = folder.File("Filters/Mine.QZK");
    script.ChooseFiles({QString::fromStdString(saved)});
    Click(dialog->SaveFilterBtn);
    ConvolutionFilterFile read;
    ASSERT_EQ(ReadConvolutionFilterFile(saved + ".qzk", read), FilterFileResult::Ok);
    EXPECT_EQ(read.Entry, 3);
    EXPECT_EQ(read.Name, "Sobel filter");
    EXPECT_EQ(read.Kernels[1][1][0][0][0], 0.125f);

    // A damaged file is refused with a message and the editor stays; a good one is loaded.
    const std::string damaged = folder.File("Filters/Damaged.qzk");
    std::filesystem::copy_file(saved + ".qzk", damaged);
    std::filesystem::resize_file(damaged, 100);
    dialog->FilterBox->setCurrentIndex(0);
    script.ChooseFiles({QString::fromStdString(damaged)});
    script.PressBox(QMessageBox::Ok);
    const QString centre = grid->item(2, 2)->text();
    Click(dialog->LoadFilterBtn);
    EXPECT_TRUE(script.boxTexts.back().contains("damaged"));
    EXPECT_EQ(dialog->FilterBox->currentIndex(), 0);
    EXPECT_EQ(grid->item(2, 2)->text(), centre);
    script.ChooseFiles({QString::fromStdString(saved + ".qzk")});
    Click(dialog->LoadFilterBtn);
    EXPECT_EQ(dialog->FilterBox->currentIndex(), 3);
    EXPECT_EQ(grid->item(2, 2)->text(), "0.125");
    EXPECT_EQ(dialog->FilterFileNames[3], saved + ".qzk");
    EXPECT_TRUE(script.Done());
}

TEST_F(ProcessingDialogTest, AFilterFileThatCannotBeOpenedLeavesTheListOnTheKernelsShown)
{
    std::filesystem::remove(folder.File("Filters/Laplace.qzk"));
    OpenFromMenu("Convolutionfilters1");
    dialog->FilterBox->setFocus();
    QTest::keyClick(dialog->FilterBox, Qt::Key_Down); // the high-pass filter
    ASSERT_EQ(dialog->FilterBox->currentIndex(), 1);
    const QString centre = dialog->Matrix1->item(2, 2)->text();
    script.PressBox(QMessageBox::Ok);
    QTest::keyClick(dialog->FilterBox, Qt::Key_Down); // the Laplacian, whose file is gone
    ASSERT_FALSE(script.boxTexts.empty());
    EXPECT_TRUE(script.boxTexts.back().contains("could not be opened"));
    EXPECT_EQ(dialog->FilterBox->currentIndex(), 1);
    EXPECT_EQ(dialog->Matrix1->item(2, 2)->text(), centre);

    // Save Filter then offers the high-pass file and writes the kernels under their own name.
    const std::string saved = folder.File("Filters/Copy.qzk");
    script.ChooseFiles({QString::fromStdString(saved)});
    Click(dialog->SaveFilterBtn);
    ConvolutionFilterFile read;
    ASSERT_EQ(ReadConvolutionFilterFile(saved, read), FilterFileResult::Ok);
    EXPECT_EQ(read.Entry, 1);
    EXPECT_EQ(read.Name, "High pass filter");
    EXPECT_TRUE(script.Done());
}

TEST_F(ProcessingDialogTest, TrimCustomFromTheMenuStartsFromTheSelection)
{
    ImageData &image = window->Image();
    image.SelX0 = 3;
    image.SelY0 = 2;
    image.SelX1 = 12;
    image.SelY1 = 9;
    image.SelectionShown = true;
    OpenFromMenu("TrimCustom1");
    EXPECT_EQ(dialog->PageControl->currentWidget(), dialog->TrimPage);
    EXPECT_EQ((std::vector<int>{dialog->TrimXLO->value(), dialog->TrimYLO->value(), dialog->TrimXHI->value(),
                                dialog->TrimYHI->value()}),
              (std::vector<int>{3, 2, 12, 9}));
    Click(dialog->ApplyBtn);
    EXPECT_EQ(window->ConstImage().Width, 10);
    EXPECT_EQ(window->ConstImage().Height, 8);
    EXPECT_EQ(window->ConstImage().FrameRow(0, 0)[0], Noise(3, 2));
}

TEST_F(ProcessingDialogTest, QuickEqualization)
{
    // Levels 0, 10, 10, 20 in a 2 x 2 image: level 0 is not counted, so 10 -> 2/3 and 20 -> all.
    const std::string path = folder.File("four.kvr");
    WriteTestImage(path, 2, 2, [](int x, int y) { return std::vector{0, 10, 10, 20}[x + 2 * y]; });
    ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(path)}), 1);
    window = main->FirstImageWindow();
    MenuItem("Quick1")->trigger();
    EXPECT_EQ(Frame(), (Pixels{0, 43690, 43690, 65535}));
    EXPECT_EQ(LastOperation.load(), 3);
    EXPECT_EQ(main->Undo1->text(), "&Undo equalization");
    EXPECT_FALSE(main->Redo1->isEnabled());
    main->Undo1->trigger();
    EXPECT_EQ(Frame(), (Pixels{0, 10, 10, 20}));

    WriteTestImage(path, 2, 2, [](int, int) { return 0; });
    ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(path)}), 1);
    window = main->FirstImageWindow();
    MenuItem("Quick1")->trigger();
    EXPECT_EQ(Frame(), (Pixels{0, 0, 0, 0}));
}

} // namespace

int main(int argc, char **argv)
{
    return korvi::test::RunQtTests(argc, argv);
}
