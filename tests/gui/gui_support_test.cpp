// The GUI test harness itself: scripted answers to message boxes and file dialogs, and the
// failures it reports for boxes nobody expected.
#include <QFileDialog>
#include <QMessageBox>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "gui_test_support.h"
#include "test_files.h"

using korvi::test::ModalScript;

namespace
{

QMessageBox::StandardButton Ask(const QString &caption, const QString &text)
{
    return QMessageBox::question(nullptr, caption, text, QMessageBox::Yes | QMessageBox::No);
}

} // namespace

TEST(ModalScriptTest, AnswersMessageBoxesInOrder)
{
    ModalScript modals;
    modals.ExpectMessage("Korvi", "overwrite", QMessageBox::No);
    modals.ExpectMessage("Korvi", "leave", QMessageBox::Yes);
    EXPECT_EQ(Ask("Korvi", "The file: a.kvr, exists. Do you wish to overwrite it?"), QMessageBox::No);
    EXPECT_EQ(Ask("Korvi", "Are you sure you want to leave Korvi?"), QMessageBox::Yes);
    EXPECT_EQ(modals.Pending(), 0);
    ASSERT_EQ(modals.Seen().size(), 2u);
    EXPECT_EQ(modals.Seen()[1].text.toStdString(), "Are you sure you want to leave Korvi?");
}

TEST(ModalScriptTest, RejectsABoxWhenAskedTo)
{
    ModalScript modals;
    modals.ExpectMessage("Korvi USB device error", "timed out", QMessageBox::NoButton);
    const auto answer = QMessageBox::warning(nullptr, "Korvi USB device error", "Read timed out",
                                             QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(answer, QMessageBox::Cancel); // the box's escape button
    EXPECT_EQ(modals.Pending(), 0);
}

TEST(ModalScriptTest, UnexpectedBoxFailsAndIsRejected)
{
    EXPECT_NONFATAL_FAILURE(
        {
            ModalScript modals;
            Ask("Korvi", "Nobody expects this");
        },
        "Unexpected message box: caption \"Korvi\", text \"Nobody expects this\"");
    EXPECT_NONFATAL_FAILURE(
        {
            ModalScript modals;
            modals.ExpectMessage("Korvi", "Save changes", QMessageBox::Yes);
            EXPECT_EQ(Ask("Other", "Save changes?"), QMessageBox::No);  // rejected: Escape means No
            EXPECT_EQ(Ask("Korvi", "Save changes?"), QMessageBox::Yes); // still expected
        },
        "Unexpected message box");
}

TEST(ModalScriptTest, ExpectationNeverMetFails)
{
    EXPECT_NONFATAL_FAILURE(
        {
            ModalScript modals;
            modals.ExpectMessage("Korvi", "never", QMessageBox::Ok);
        },
        "never appeared");
}

TEST(ModalScriptTest, FillsFileDialogs)
{
    korvi::test::TempDir dir;
    korvi::test::WriteFileBytes(dir.file("a.kvr"), "x");
    korvi::test::WriteFileBytes(dir.file("b.kvr"), "y");
    ModalScript modals;
    modals.ExpectOpenFiles(
        {QString::fromStdString(dir.file("a.kvr")), QString::fromStdString(dir.file("b.kvr"))},
        "Open an image");
    modals.ExpectSaveFile(QString::fromStdString(dir.file("out.fit")), "Select save");
    modals.ExpectFileDialogCancel();
    QStringList opened = QFileDialog::getOpenFileNames(nullptr, "Open an image file", QString(),
                                                       "Korvi image file (*.kvr)|*.kvr");
    opened.sort();
    EXPECT_EQ(opened, (QStringList{QString::fromStdString(dir.file("a.kvr")),
                                   QString::fromStdString(dir.file("b.kvr"))}));
    const QString saved = QFileDialog::getSaveFileName(nullptr, "Select save file name", QString(), "*.fit",
                                                       nullptr, QFileDialog::DontConfirmOverwrite);
    EXPECT_EQ(saved.toStdString(), dir.file("out.fit"));
    EXPECT_TRUE(QFileDialog::getOpenFileName(nullptr, "Anything").isEmpty());
    ASSERT_EQ(modals.Seen().size(), 3u);
    EXPECT_EQ(modals.Seen()[0].kind.toStdString(), "open");
    EXPECT_EQ(modals.Seen()[1].kind.toStdString(), "save");
}

TEST(PixelHelpersTest, ReportMismatches)
{
    QImage a(3, 2, QImage::Format_RGB32);
    a.fill(qRgb(1, 2, 3));
    QImage b = a;
    EXPECT_TRUE(korvi::test::ImagesEqual(a, b));
    b.setPixel(2, 1, qRgb(1, 2, 4));
    const ::testing::AssertionResult r = korvi::test::ImagesEqual(a, b);
    EXPECT_FALSE(r);
    EXPECT_NE(std::string(r.message()).find("(2, 1)"), std::string::npos);
    EXPECT_TRUE(korvi::test::PixelIs(a, 0, 0, qRgb(1, 2, 3)));
    EXPECT_FALSE(korvi::test::PixelIs(a, 0, 0, qRgb(1, 2, 4)));
    EXPECT_FALSE(korvi::test::PixelIs(a, 3, 0, qRgb(1, 2, 3)));
    EXPECT_EQ(korvi::test::PixelFromBottom(b, 2, 0), qRgb(1, 2, 4));
    EXPECT_EQ(korvi::test::CountPixels(b, qRgb(1, 2, 3)), 5);
}
