// The sub-frame table window on a real image window: its default rectangle, the file name rule of
// its dialog and the table written byte for byte; with no image window it writes nothing.
#include "camera_test_support.h"

#include "image_file.h"
#include "program_windows.h"
#include "subframe_table.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>

using namespace korvi::test;
namespace sim = korvi::sim;

namespace
{

class SubframeTableWindowTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        CreateProgramWindows(window.get());
        ASSERT_NE(SubFrameF, nullptr);
    }
    void OpenImage()
    {
        ImageData image;
        ASSERT_TRUE(image.Allocate(5, 4, 1));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(100 * y + x);
        const std::string path = (folder.path() / "image.kvr").string();
        ASSERT_TRUE(SaveImageFile(path, 0, image));
        ASSERT_EQ(window->LoadImageFiles({QString::fromStdString(path)}), 1);
    }
};

} // namespace

TEST_F(SubframeTableWindowTest, DefaultMiddleRowInvertedAndAChosenRectangle)
{
    OpenImage();
    ASSERT_TRUE(ShowAndWait(SubFrameF));
    EXPECT_EQ(SubFrameF->windowTitle(), "Save subframe as a table");
    EXPECT_EQ(SubFrameF->XHI->value(), 4);
    EXPECT_EQ(SubFrameF->XHI->maximum(), 4);
    EXPECT_EQ(SubFrameF->YLO->value(), 2);
    EXPECT_EQ(SubFrameF->YHI->value(), 2);
    EXPECT_EQ(SubFrameF->YHI->maximum(), 3);
    EXPECT_TRUE(SubFrameF->InvertCoords->isChecked());

    const std::string chosen = (folder.path() / "row.table.txt").string();
    {
        ModalScript modals;
        modals.ExpectSaveFile(QString::fromStdString(chosen), QStringLiteral("Select table filename"));
        SubFrameF->SaveBtn->click();
    }
    const std::string path = (folder.path() / "row.csv").string();
    EXPECT_EQ(SubFrameF->SaveFile->text().toStdString(), path);
    EXPECT_EQ(CurrentSettings().LastOpenDirectory[0], folder.path().string() + "/");
    SubFrameF->OKBtn->click();
    EXPECT_EQ(ReadFileBytes(path), "X\\Y, 1\n1, 200\n2, 201\n3, 202\n4, 203\n5, 204\n");

    // Corners given the wrong way round, one line per image row.
    SubFrameF->XLO->setValue(3);
    SubFrameF->XHI->setValue(1);
    SubFrameF->YLO->setValue(1);
    SubFrameF->YHI->setValue(0);
    SubFrameF->InvertCoords->setChecked(false);
    SubFrameF->OKBtn->click();
    EXPECT_EQ(ReadFileBytes(path), "Y\\X, 1, 2, 3\n1, 1, 2, 3\n2, 101, 102, 103\n");
    window->RepaintRequest = false;
    SubFrameF->CancelBtn->click();
    EXPECT_FALSE(SubFrameF->isVisible());
    EXPECT_TRUE(window->RepaintRequest);
}

TEST_F(SubframeTableWindowTest, NoImageWindowWritesNothing)
{
    ASSERT_TRUE(ShowAndWait(SubFrameF));
    const std::string path = (folder.path() / "none.csv").string();
    SubFrameF->SaveFile->setText(QString::fromStdString(path));
    SubFrameF->OKBtn->click();
    EXPECT_FALSE(std::filesystem::exists(path));
    SubFrameF->close();

    // The image window closes while the table window is open: still nothing.
    OpenImage();
    ASSERT_TRUE(ShowAndWait(SubFrameF));
    window->CloseAll1Click();
    ASSERT_TRUE(WaitUntil([&] { return SubFrameF->ImageWindow() == nullptr; }));
    SubFrameF->OKBtn->click();
    EXPECT_FALSE(std::filesystem::exists(path));
}
