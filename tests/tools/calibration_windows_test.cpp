// The problem-pixel window and the stacking window driven through their controls on a real main
// window: lists written byte for byte from planted frames, a failed run that keeps the previous
// list, the pixel map as an image window, the bad-column grid; a series stacked and saved, the
// reference view's rectangles and the refusals.
#include "camera_test_support.h"

#include "image_file.h"
#include "image_window.h"
#include "opengl_panel.h"
#include "problem_pixels.h"
#include "program_windows.h"
#include "stacking.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>

using namespace korvi::test;

namespace
{

class CalibrationWindowsTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        CreateProgramWindows(window.get());
        ASSERT_NE(ProblemPixelMapF, nullptr);
        ASSERT_NE(StackMultipleF, nullptr);
    }
    std::string Path(const std::string &name) const { return (folder.path() / name).string(); }
    // A w x h frame of `value` saved in the own format.
    std::string SaveFrame(const std::string &name, int w, int h, std::uint16_t value,
                          const std::vector<std::array<int, 3>> &pixels = {}, float bias = 0.0f)
    {
        ImageData image;
        EXPECT_TRUE(image.Allocate(w, h, 1));
        image.Rows.Fill(value);
        for (const auto &[x, y, v] : pixels)
            image.Rows[y][x] = static_cast<std::uint16_t>(v);
        image.OffsetLevel = bias;
        EXPECT_TRUE(SaveImageFile(Path(name), 0, image));
        return Path(name);
    }
};

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

TEST_F(CalibrationWindowsTest, PixelListFromListDarkAndFlatThenPixelMap)
{
    TProblemPixelMapF *f = ProblemPixelMapF;
    ASSERT_TRUE(ShowAndWait(f));
    EXPECT_EQ(f->windowTitle(), "Problem pixels/columns");
    WriteFileBytes(Path("known.csv"), "7, 1\n");
    f->PixelListFile->setText(Q(Path("known.csv")));
    f->UsePixelList->setChecked(true);
    f->DarkCountFile->setText(Q(SaveFrame("dark.kvr", 5, 4, 100, {{3, 1, 900}, {3, 2, 900}, {1, 3, 500}})));
    f->HotLevel->setValue(500);
    f->FlatFile->setText(Q(SaveFrame("flat.kvr", 5, 4, 1000, {{0, 0, 1500}, {4, 3, 400}, {2, 2, 1200}})));
    f->UseFlatFile->setChecked(true);
    f->BrightLevel->setValue(1200);
    f->DimLevel->setValue(500);
    {
        ModalScript modals;
        modals.ExpectSaveFile(Q(Path("hot.list.txt")), QStringLiteral("Select save filename "));
        f->BrowseBtn4->click();
    }
    ASSERT_EQ(f->HotPixelFile->text().toStdString(), Path("hot.csv"));
    f->CreatePixelListBtn->click();
    const std::string list = "7, 1\n"
                             "3, 1\n3, 2\n4, 3\n"
                             "0, 0\n4, 3\n4, 3\n";
    EXPECT_EQ(ReadFileBytes(Path("hot.csv")), list);
    // 5 listed pixels of a 5 x 4 frame.
    EXPECT_EQ(f->NumProblemPixels->text(), "Number of problem pixels: 5 (25%)");

    // A missing flat frame is reported and the list stays as it was.
    f->FlatFile->setText(Q(Path("gone.kvr")));
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("gone.kvr"), QMessageBox::Ok);
        f->CreatePixelListBtn->click();
    }
    EXPECT_EQ(ReadFileBytes(Path("hot.csv")), list);

    // The pixel map: (largest column + 1) x (largest row + 1), listed pixels white.
    const auto before = window->ImageWindows().size();
    f->PixelMapImgBtn->click();
    ASSERT_EQ(window->ImageWindows().size(), before + 1);
    const ImageData &map = window->ImageWindows().back()->ConstImage();
    ASSERT_EQ(map.Width, 8);
    ASSERT_EQ(map.Height, 4);
    EXPECT_EQ(map.Rows[1][7], 65535);
    EXPECT_EQ(map.Rows[3][4], 65535);
    EXPECT_EQ(map.Rows[3][3], 0);

    // Only the copied list: no frame, no share of an image size.
    f->UseDarkCount->setChecked(false);
    f->UseFlatFile->setChecked(false);
    f->CreatePixelListBtn->click();
    EXPECT_EQ(ReadFileBytes(Path("hot.csv")), "7, 1\n");
    EXPECT_EQ(f->NumProblemPixels->text(), "Number of problem pixels: 1");
}

TEST_F(CalibrationWindowsTest, BadColumnGridLoadsAndSaves)
{
    TProblemPixelMapF *f = ProblemPixelMapF;
    ASSERT_TRUE(ShowAndWait(f));
    QTableWidget *grid = f->ColumnMap;
    EXPECT_EQ(grid->item(0, 1)->text(), "Column index");
    EXPECT_EQ(grid->item(128, 0)->text(), "128");
    grid->setItem(4, 1, new QTableWidgetItem(QStringLiteral("99")));
    grid->setItem(4, 2, new QTableWidgetItem(QStringLiteral("1")));
    grid->setItem(4, 3, new QTableWidgetItem(QStringLiteral("2")));
    WriteFileBytes(Path("columns.csv"), "10, 0, 511\n 12,3 ,4\n600, 7, 8\n");
    {
        ModalScript modals;
        modals.ExpectOpenFiles({Q(Path("columns.csv"))}, QStringLiteral("Open bad-column map file"));
        f->OpenColumnMapBtn->click();
    }
    EXPECT_EQ(grid->item(2, 1)->text(), "12");
    EXPECT_EQ(grid->item(2, 2)->text(), "3");
    EXPECT_EQ(grid->item(4, 1)->text(), "99"); // beyond the file's lines: unchanged
    {
        ModalScript modals;
        modals.ExpectSaveFile(Q(Path("saved.data")), QStringLiteral("Select save filename "));
        f->SaveColumnMapBtn->click();
    }
    EXPECT_EQ(ReadFileBytes(Path("saved.csv")), "10, 0, 511\n12, 3, 4\n600, 7, 8\n99, 1, 2\n");
    // A partly filled row is not a number: the save stops and the file keeps its lines.
    grid->setItem(9, 1, new QTableWidgetItem(QStringLiteral("5")));
    {
        ModalScript modals;
        modals.ExpectSaveFile(Q(Path("saved.csv")), QStringLiteral("Select save filename "));
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("'' is not a valid integer value"),
                             QMessageBox::Ok);
        f->SaveColumnMapBtn->click();
    }
    EXPECT_EQ(ReadFileBytes(Path("saved.csv")), "10, 0, 511\n12, 3, 4\n600, 7, 8\n99, 1, 2\n");
}

TEST_F(CalibrationWindowsTest, StackASeriesWithAndWithoutReference)
{
    TStackMultipleF *f = StackMultipleF;
    ASSERT_TRUE(ShowAndWait(f));
    EXPECT_EQ(f->windowTitle(), "Stack and trim images");
    // The output name starts as a usable name in the frames folder.
    EXPECT_EQ(f->OutputPrefix->text().toStdString(), CurrentSettings().ProgramDirectory + "Frames/test1");
    // Three 6 x 4 frames 10, 40, 20 above a bias of 5; one hot pixel in the middle frame.
    SaveFrame("s_3.kvr", 6, 4, 15, {}, 5.0f);
    SaveFrame("s_4.kvr", 6, 4, 45, {{2, 1, 60000}}, 5.0f);
    SaveFrame("s_5.kvr", 6, 4, 25, {}, 5.0f);
    {
        ModalScript modals;
        modals.ExpectOpenFiles({Q(Path("s_4.kvr"))}, QStringLiteral("Select file name prefix"));
        f->BrowseBtn->click();
    }
    EXPECT_EQ(f->Prefix->text().toStdString(), Path("s_"));
    f->FirstExtNum->setValue(3);
    f->LastExtNum->setValue(5);
    f->OutputPrefix->setText(Q(Path("stacked.kvr")));
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("A reference image must be loaded"),
                             QMessageBox::Ok);
        f->StackBtn->click();
    }
    f->noalignbtn->click();
    EXPECT_FALSE(f->OpenRefImgBtn->isEnabled());
    EXPECT_FALSE(f->Box2Group->isEnabled());
    f->Normalize->setChecked(false);
    f->StackBtn->click();
    ImageData result;
    ASSERT_TRUE(LoadImageFile(Path("stacked.kvr"), result));
    ASSERT_EQ(result.Width, 6);
    ASSERT_EQ(result.Height, 4);
    EXPECT_EQ(result.Rows[1][2], 20); // the middle of 10, 20 and the hot pixel
    EXPECT_EQ(result.Rows[3][5], 20);
    EXPECT_EQ(f->StatusBar1->currentMessage(), "Done.");

    // Names typed by hand: a prefix without its "_" and no extension find the series; the output
    // typed without an extension gets the format's. An empty or unwritable output name is refused
    // before the stack runs, and "Done." is never shown for a stack that was not saved: the refusal
    // clears the "Done." of the run before.
    f->Prefix->setText(Q(Path("s")));
    f->InputExtension.clear();
    f->OutputPrefix->setText(Q(Path("typed")));
    f->StatusBar1->clearMessage();
    f->StackBtn->click();
    EXPECT_TRUE(std::filesystem::exists(Path("typed.kvr")));
    EXPECT_EQ(f->StatusBar1->currentMessage(), "Done.");
    for (const std::string &bad : {std::string(" "), Path("no-such-folder/typed")}) {
        f->StatusBar1->showMessage(QStringLiteral("Done."));
        f->OutputPrefix->setText(Q(bad));
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("nothing was stacked."),
                             QMessageBox::Ok);
        f->StackBtn->click();
        EXPECT_NE(f->StatusBar1->currentMessage(), "Done.");
    }
    // ">>" keeps the extension of a known format typed into its dialog, and drops any other.
    for (const auto &[chosen, prefix] : {std::pair{"out.fit", "out.fit"}, std::pair{"m.2.png", "m.png"},
                                         std::pair{"plain", "plain"}, std::pair{"notes.txt", "notes"}}) {
        ModalScript modals;
        modals.ExpectSaveFile(Q(Path(chosen)), QStringLiteral("Select save filename"));
        f->BrowseBtn2->click();
        EXPECT_EQ(f->OutputPrefix->text().toStdString(), Path(prefix)) << chosen;
    }
    f->OutputPrefix->setText(Q(Path("stacked.kvr")));
    {
        ModalScript modals;
        f->Prefix->setText(Q(Path("t_")));
        modals.ExpectMessage(
            QStringLiteral("Korvi"),
            Q("No files were found named " + Path("t_") + "<n>.<kvr, fit or png> for n from 3 to 5."),
            QMessageBox::Ok);
        f->StackBtn->click();
    }

    // The reference: the crop frame becomes the whole image; a drawn rectangle goes to box 1.
    // The prefix typed by hand opens it too.
    f->Prefix->setText(Q(Path("s_")));
    f->InputExtension.clear();
    f->doublealignbtn->click();
    f->RefImgNum->setValue(4);
    f->OpenRefImgBtn->click();
    ASSERT_TRUE(f->ReferenceLoaded);
    EXPECT_EQ(f->CropXHI->value(), 5);
    EXPECT_EQ(f->CropYHI->maximum(), 3);
    const int w = f->OpenGLPanel->width(), h = f->OpenGLPanel->height();
    f->OpenGLPanelMouseDown(Qt::LeftButton, w / 6 + 1, h - 1);
    f->OpenGLPanelMouseUp(Qt::LeftButton, w - 1, h / 2 + 1);
    ASSERT_TRUE(f->RectValid);
    f->Selectstackingreferenceframe1->trigger();
    EXPECT_EQ(f->StackXLO1->value(), 1);
    EXPECT_EQ(f->StackXHI1->value(), 5);
    EXPECT_EQ(f->StackYLO1->value(), 0);
    EXPECT_EQ(f->StackYHI1->value(), 1);
    f->OpenGLPanelMouseMove(w / 2, h / 2 - 1);
    EXPECT_EQ(f->StatusBar1->currentMessage(), "X=3, Y=2, Value: 45");

    // A frame of another size stops the run before anything is saved.
    SaveFrame("s_5.kvr", 5, 4, 25);
    std::filesystem::remove(Path("stacked.kvr"));
    {
        ModalScript modals;
        modals.ExpectMessage(QStringLiteral("Korvi"), QStringLiteral("Images have different dimensions"),
                             QMessageBox::Ok);
        f->StackBtn->click();
    }
    EXPECT_FALSE(std::filesystem::exists(Path("stacked.kvr")));
}
