// The main window driven through its real widgets: start with and without an image, loading,
// the window limit, the Window menu, saving in every format, arrangement, the close prompt,
// keyboard shortcuts, palettes, display scale, cross-section and the handbook.
#include "capture_test_support.h"

#include "default_data.h"
#include "edit_target.h"
#include "gui_runtime.h"
#include "image_file.h"
#include "image_information.h"
#include "image_window.h"
#include "main_window.h"
#include "program_file_dialog.h"
#include "program_windows.h"
#include "sensor_window.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCompleter>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

using namespace korvi::test;
namespace fs = std::filesystem;

namespace
{

int Ramp(int x, int y)
{
    return 100 + x + 10 * y;
}

// Same colours within one step (palette files keep five decimals of each curve point).
bool SameColours(const PPalette &a, const PPalette &b)
{
    for (int level = 0; level < 65536; level += 61)
        for (int c = 0; c < 3; ++c)
            if (std::abs(int(a.ByteTable[c][level]) - int(b.ByteTable[c][level])) > 1)
                return false;
    return true;
}

class MainWindowTest : public ::testing::Test
{
protected:
    void Start(const QStringList &arguments = {})
    {
        main = std::make_unique<TMainF>(folder.Dir(), arguments);
        CreateProgramWindows(main.get());
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    }
    void TearDown() override
    {
        if (main) {
            main->ClosingDone = true; // no leave prompt from the teardown
            main.reset();
        }
        EditTarget = EditActiveImage;
    }
    // Loads n ramp images named img<i>.kvr; returns their paths.
    QStringList MakeImages(int n, int width = 64, int height = 32)
    {
        QStringList files;
        for (int i = 0; i < n; ++i) {
            const std::string path = folder.File("img" + std::to_string(i) + ".kvr");
            WriteTestImage(path, width, height, [i](int x, int y) { return Ramp(x, y) + i; });
            files << QString::fromStdString(path);
        }
        return files;
    }
    int WindowMenuEntries() const
    {
        int n = 0;
        for (QAction *a : main->WindowMenu->actions())
            n += a->data().isValid() ? 1 : 0;
        return n;
    }
    // Shortcuts go to the active window. Other tests' windows share the virtual screen, so the
    // window is also made active in Qt's own book-keeping, right before the keys are sent.
    void MakeActive()
    {
        main->activateWindow();
        QTest::qWaitForWindowActive(main.get(), 1000);
        QApplication::setActiveWindow(main.get());
        ASSERT_EQ(QApplication::activeWindow(), main.get());
    }
    // Lets the one-shot arrangement timer fire and closed windows go: waits for the events, not
    // for a time, so a busy machine cannot make a test see the windows before they are arranged.
    void Settle()
    {
        ASSERT_TRUE(WaitFor([this] { return !main->SysTimer->isActive(); }, 20000));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    ProgramFolder folder;
    ModalScript script;
    std::unique_ptr<TMainF> main;
};

// ---------------------------------------------------------------------------------------------

TEST_F(MainWindowTest, StartsWithoutImageFromTheShippedSettings)
{
    Start();
    EXPECT_EQ(main->windowTitle(), "Korvi CCD Image Capture");
    EXPECT_TRUE(main->ImageWindows().empty());
    EXPECT_EQ(main->width(), 1083);
    EXPECT_EQ(main->height(), 768);
    EXPECT_EQ(main->StatusPanels[0]->minimumWidth(), 250);
    EXPECT_EQ(main->StatusPanels[1]->minimumWidth(), 250);
    EXPECT_EQ(main->StatusPanels[2]->minimumWidth(), 50);
    EXPECT_EQ(CurrentSettings().ProgramDirectory, folder.Dir());
    EXPECT_EQ(CurrentSettings().NCOL[0], 797);
    EXPECT_TRUE(main->MaximumFilesItems[5]->isChecked()); // "10"
    EXPECT_TRUE(main->Tile1->isChecked());
    EXPECT_FALSE(main->XSectionBox->isVisible());
    // The palette bar is drawn inside its frame; the quick-palette buttons show their palettes.
    ASSERT_FALSE(main->PalBar->pixmap().isNull());
    EXPECT_EQ(main->PalBar->pixmap().size(), QSize(FrameBitmapWidth, FrameBitmapHeight));
    for (QToolButton *b : {main->GrayscaleBtn, main->BlackbodyBtn, main->SpectrumBtn1, main->SpectrumBtn2})
        EXPECT_FALSE(b->icon().isNull()) << b->objectName().toStdString();
    // The sensor and progress windows exist and their commands are enabled.
    EXPECT_EQ(main->ProgramWindow("TCCDSetF"), CCDSetF);
    EXPECT_NE(CCDSetF, nullptr);
    ASSERT_NE(main->findChild<QAction *>("SelectCCD1"), nullptr);
    EXPECT_TRUE(main->findChild<QAction *>("SelectCCD1")->isEnabled());
    // The logarithms of the display were built by the constructor.
    EXPECT_EQ(::LogScaleTable[0], 0.0f);
    EXPECT_EQ(::LogScaleTable[1], 0.0f);
    EXPECT_FLOAT_EQ(::LogScaleTable[65535], std::log10(65535.0f));
    EXPECT_EQ(script.unexpected, 0);
}

TEST_F(MainWindowTest, ActivatingTheMainWindowAsksTheImageWindowsToRepaint)
{
    Start();
    QWidget other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    QApplication::setActiveWindow(&other);
    main->RepaintRequest = false;
    QApplication::setActiveWindow(main.get());
    EXPECT_TRUE(main->RepaintRequest);
    // The image windows' paint handler takes the request once.
    EXPECT_TRUE(main->TakeRepaintRequest());
    EXPECT_FALSE(main->TakeRepaintRequest());
}

TEST(LogScaleTable, HoldsDecimalLogarithmsWithZeroAtZero)
{
    std::vector<float> table(65536, -1.0f);
    BuildLogScaleTable(table.data());
    EXPECT_EQ(table[0], 0.0f);
    EXPECT_EQ(table[1], 0.0f);
    EXPECT_FLOAT_EQ(table[10], 1.0f);
    EXPECT_FLOAT_EQ(table[1000], 3.0f);
    EXPECT_FLOAT_EQ(table[65535], std::log10(65535.0f));
}

TEST_F(MainWindowTest, CommandLineImageOpensOneFittedRenderedWindow)
{
    const QStringList files = MakeImages(1);
    Start(files);
    Settle();
    const std::vector<TChild *> windows = main->ImageWindows();
    ASSERT_EQ(windows.size(), 1u);
    const ImageData &image = windows[0]->ConstImage();
    ASSERT_EQ(image.Width, 64);
    ASSERT_EQ(image.Height, 32);
    EXPECT_EQ(image.FrameRow(0, 7)[5], Ramp(5, 7));
    EXPECT_GE(windows[0]->RenderCount(), 1);
    EXPECT_TRUE(windows[0]->isMaximized());
    EXPECT_GT(windows[0]->Zoom(), 2.0); // fitted: a 64 x 32 image fills the big window
    EXPECT_EQ(WindowMenuEntries(), 0);  // the command-line window has no Window-menu entry
    EXPECT_EQ(CurrentSettings().LastOpenDirectory[0], folder.Dir());
}

TEST_F(MainWindowTest, UnreadableCommandLineImageIsReportedAndOpensNoWindow)
{
    WriteFileBytes(folder.File("broken.kvr"), "KORVI_IMAGE_FILE\nthis is not an image\n");
    script.PressBox(QMessageBox::Ok);
    Start({QString::fromStdString(folder.File("broken.kvr"))});
    Settle();
    EXPECT_TRUE(main->ImageWindows().empty());
    EXPECT_FALSE(script.boxTexts.empty());
}

TEST_F(MainWindowTest, LoadingSevenFilesWithMaximumFiveOpensFive)
{
    Start();
    main->MaximumFilesClick(5);
    EXPECT_TRUE(main->MaximumFilesItems[4]->isChecked());
    EXPECT_EQ(main->LoadImageFiles(MakeImages(7)), 5);
    Settle();
    EXPECT_EQ(main->ImageWindows().size(), 5u);
    EXPECT_EQ(WindowMenuEntries(), 5);
    // The load buffer holds the last file loaded.
    EXPECT_EQ(main->UndoImage.FrameRow(0, 0)[0], Ramp(0, 0) + 4);
}

TEST_F(MainWindowTest, LoadingStopsAtTheFirstUnreadableFile)
{
    Start();
    QStringList files = MakeImages(2);
    WriteFileBytes(folder.File("bad.png"), "not a picture at all");
    files.insert(1, QString::fromStdString(folder.File("bad.png")));
    script.PressBox(QMessageBox::Ok);
    EXPECT_EQ(main->LoadImageFiles(files), 1);
    Settle();
    ASSERT_EQ(main->ImageWindows().size(), 1u);
    EXPECT_EQ(main->ImageWindows()[0]->ConstImage().FrameRow(0, 0)[0], Ramp(0, 0));
    EXPECT_EQ(script.boxTexts.size(), 1u);
}

TEST_F(MainWindowTest, LoadDialogOpensTheChosenFiles)
{
    Start();
    const QStringList files = MakeImages(2);
    script.ChooseFiles(files);
    main->Open->trigger();
    Settle();
    ASSERT_EQ(script.dialogTitles.size(), 1u);
    EXPECT_EQ(script.dialogTitles[0], "Open an image file");
    ASSERT_EQ(script.dialogFilters[0].size(), 6);
    EXPECT_EQ(script.dialogFilterIndex[0], 5);
    EXPECT_TRUE(script.dialogFilters[0][4].startsWith(
        "All image formats (*.kvr, *.fits, *fit, *.fts, *.fiz, *.bmp, *.png)"));
    EXPECT_EQ(main->ImageWindows().size(), 2u);
    EXPECT_EQ(CurrentSettings().LastOpenDirectory[0], folder.Dir());
    EXPECT_EQ(main->OpenDialog->fileMode(), QFileDialog::ExistingFiles);
}

TEST_F(MainWindowTest, LoweringTheMaximumClosesTheOldestWindows)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(4)), 4);
    Settle();
    std::vector<std::int64_t> tags;
    for (TChild *w : main->ImageWindows())
        tags.push_back(w->Tag());
    std::sort(tags.begin(), tags.end());
    main->MaximumFilesItems[1]->trigger(); // "2"
    Settle();
    std::vector<std::int64_t> left;
    for (TChild *w : main->ImageWindows())
        left.push_back(w->Tag());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::int64_t>{tags[2], tags[3]}));
    EXPECT_EQ(CurrentSettings().MaximumWindows, 2);
    EXPECT_EQ(WindowMenuEntries(), 2);
    int ticked = 0;
    for (QAction *a : main->MaximumFilesItems)
        ticked += a->isChecked();
    EXPECT_EQ(ticked, 1);
}

TEST_F(MainWindowTest, WindowMenuFocusesItsWindowAndLosesTheEntryOnClose)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(3)), 3);
    Settle();
    TChild *oldest = nullptr;
    for (TChild *w : main->ImageWindows())
        if (!oldest || w->Tag() < oldest->Tag())
            oldest = w;
    ASSERT_NE(main->FirstImageWindow(), oldest);
    QAction *entry = nullptr;
    for (QAction *a : main->WindowMenu->actions())
        if (a->data().isValid() && a->data().toLongLong() == oldest->Tag() + 5)
            entry = a;
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text(), "img0.kvr");
    entry->trigger();
    EXPECT_EQ(main->FirstImageWindow(), oldest);
    main->CloseImage->trigger(); // closes the first window: the one just focused
    Settle();
    EXPECT_EQ(main->ImageWindows().size(), 2u);
    EXPECT_EQ(WindowMenuEntries(), 2);
    main->CloseAll->trigger();
    Settle();
    EXPECT_TRUE(main->ImageWindows().empty());
    EXPECT_EQ(WindowMenuEntries(), 0);
}

// ---------------------------------------------------------------------------------------------
// Saving

struct SaveCase {
    int filterIndex;     // 1-based, as chosen in the dialog
    const char *written; // the file name that must appear
    int format;
    bool existing; // the file is there already: the question is asked and answered Yes
};

// How the case shows in test listings (a stable text instead of the bytes of the struct).
void PrintTo(const SaveCase &c, std::ostream *os)
{
    *os << "filter " << c.filterIndex << " to " << c.written << (c.existing ? " over an existing file" : "");
}

std::string SaveCaseName(const ::testing::TestParamInfo<SaveCase> &info)
{
    std::string name = "Filter" + std::to_string(info.param.filterIndex) + "Writes";
    for (const char *c = std::strchr(info.param.written, '.') + 1; *c; ++c)
        name += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    return name + (info.param.existing ? "OverAnExistingFile" : "");
}

class SaveAsTest : public MainWindowTest, public ::testing::WithParamInterface<SaveCase>
{
};

TEST_P(SaveAsTest, WritesTheChosenFormatUnderTheFormatsExtension)
{
    const SaveCase c = GetParam();
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    fs::create_directories(folder.File("out"));
    const std::string written = folder.File(std::string("out/") + c.written);
    if (c.existing)
        WriteFileBytes(written, "an older file");
    script.ChooseFiles({QString::fromStdString(folder.File("out/night.one.two"))}, c.filterIndex);
    if (c.existing)
        script.PressBox(QMessageBox::Yes);
    main->SaveAs->trigger();
    Settle();
    ASSERT_EQ(script.dialogTitles.size(), 1u);
    EXPECT_EQ(script.dialogTitles[0], "Select save file name");
    EXPECT_EQ(script.dialogFilterIndex[0], 1); // origin format 0 + 1
    if (c.existing) {
        ASSERT_EQ(script.boxTexts.size(), 1u);
        EXPECT_EQ(script.boxTexts[0].toStdString(),
                  std::string("The file: ") + c.written + ", exists. Do you wish to overwrite it?");
    } else {
        EXPECT_TRUE(script.boxTexts.empty());
    }
    ASSERT_TRUE(fs::exists(written)) << written;
    TChild *window = main->FirstImageWindow();
    EXPECT_EQ(window->windowTitle().toStdString(), c.written);
    EXPECT_EQ(window->ConstImage().FileName, written);
    EXPECT_EQ(window->ConstImage().OriginFormat, c.format);
    EXPECT_EQ(CurrentSettings().LastSaveDirectory[0], folder.File("out/"));
    ImageData back;
    ASSERT_TRUE(LoadImageFile(written, back));
    ASSERT_EQ(back.Width, 64);
    ASSERT_EQ(back.Height, 32);
    EXPECT_EQ(back.OriginFormat, c.format); // the file's content is of the format its name says
    if (c.format == FormatBmp) {
        // A picture of the displayed view: grey levels that rise along each row like the ramp.
        for (int y : {0, 13, 31})
            EXPECT_LT(back.FrameRow(0, y)[2], back.FrameRow(0, y)[60]) << y;
    } else {
        for (int y : {0, 13, 31})
            for (int x : {0, 40, 63})
                EXPECT_EQ(back.FrameRow(0, y)[x], Ramp(x, y));
    }
    EXPECT_EQ(script.unexpected, 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFilter, SaveAsTest,
    ::testing::Values(SaveCase{1, "night.kvr", 0, false}, SaveCase{2, "night.fit", 1, false},
                      SaveCase{3, "night.bmp", 2, false}, SaveCase{4, "night.png", 3, false},
                      SaveCase{5, "night.kvr", 0, false}, SaveCase{6, "night.kvr", 0, false},
                      SaveCase{1, "night.kvr", 0, true}, SaveCase{2, "night.fit", 1, true},
                      SaveCase{3, "night.bmp", 2, true}, SaveCase{4, "night.png", 3, true}),
    SaveCaseName);

TEST_F(MainWindowTest, SaveAsAsksBeforeOverwritingAndNoChoosesAgain)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    const std::string target = folder.File("taken.kvr");
    WriteFileBytes(target, "precious");
    const QString chosen = QString::fromStdString(folder.File("taken.kvr"));
    script.ChooseFiles({chosen}, 1);
    script.PressBox(QMessageBox::No);
    script.CancelDialog(); // the dialog opens again after No
    main->SaveAs->trigger();
    Settle();
    ASSERT_EQ(script.boxTexts.size(), 1u);
    EXPECT_EQ(script.boxTexts[0], "The file: taken.kvr, exists. Do you wish to overwrite it?");
    EXPECT_EQ(script.boxCaptions[0], "Korvi");
    EXPECT_EQ(script.dialogTitles.size(), 2u);
    EXPECT_EQ(ReadFileBytes(target), "precious");

    script.ChooseFiles({chosen}, 1);
    script.PressBox(QMessageBox::Yes);
    main->SaveAs->trigger();
    Settle();
    ImageData back;
    ASSERT_TRUE(LoadImageFile(target, back));
    EXPECT_EQ(back.FrameRow(0, 3)[2], Ramp(2, 3));
    EXPECT_TRUE(script.Done());
}

// A name typed into the save dialog, accepted with Enter while its completer lists a file: once
// the dialog has closed and the new file is on disk, none of the completer's list is left on screen.
TEST_F(MainWindowTest, SaveAsTypedWithTheCompleterShowingLeavesNoListOnScreen)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    fs::create_directories(folder.File("out"));
    WriteFileBytes(folder.File("out/saved.kvr"), "an older file");
    CurrentSettings().LastSaveDirectory[0] = folder.File("out/");
    QPointer<QWidget> list;
    bool listed = false;
    script.Add([&](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        auto *edit = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
        if (!edit || !edit->completer()) {
            qobject_cast<QDialog *>(w)->reject();
            return;
        }
        // The completer lists what the dialog's model has read of the folder, and the model reads
        // it on a thread of its own: type once the older file is in it, as a user who waits for
        // the dialog to show the folder does (on a busy machine that takes a while).
        auto *files = dialog->findChild<QFileSystemModel *>();
        const QString out = QString::fromStdString(folder.File("out"));
        const auto olderFileListed = [&] { return files->rowCount(files->index(out)) >= 1; };
        const bool folderRead = files && WaitFor(olderFileListed, 30000);
        edit->setFocus();
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("sav"));
        list = edit->completer()->popup();
        listed = folderRead && WaitFor([&] { return list && list->isVisible(); }, 10000);
        // Enter as the X server delivers it to the focused dialog: the name field leaves it to
        // the dialog, whose default button accepts the typed name.
        QTest::keyClick(edit, Qt::Key_Return);
    });
    main->SaveAs->trigger();
    ASSERT_TRUE(listed) << "the completer never showed its list (or the dialog never read the folder)";
    ASSERT_TRUE(WaitFor([&] { return fs::exists(folder.File("out/sav.kvr")); }));
    // The dialog's file list learns of the new file; the completer follows its model.
    QAbstractItemModel *model = main->SaveDialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                                    ->completer()
                                    ->completionModel();
    EXPECT_TRUE(WaitFor([&] { return model->rowCount() >= 2; }, 30000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(main->SaveDialog->isVisible());
    ASSERT_FALSE(list.isNull());
    EXPECT_FALSE(list->isVisible()) << "the completer's list stayed on screen";
    EXPECT_EQ(script.unexpected, 0);
}

// The test helper chooses a name in a dialog shown again whose name box has focus and still holds
// the name chosen before (an open of an existing file, a save under a new name): the dialog
// accepts the new name, as it does for a user who types it.
TEST(ModalScriptChooseFiles, AReusedDialogWithTheNameBoxFocusedTakesTheNewName)
{
    TempDir dir;
    WriteFileBytes(dir.file("first.kvr"), "1");
    WriteFileBytes(dir.file("second.kvr"), "2");
    struct Case {
        QFileDialog::AcceptMode mode;
        const char *before, *chosen;
    };
    for (const Case &c : {Case{QFileDialog::AcceptOpen, "first.kvr", "second.kvr"},
                          Case{QFileDialog::AcceptSave, "earlier.kvr", "new.kvr"}}) {
        SCOPED_TRACE(c.chosen);
        QFileDialog dialog(nullptr, QStringLiteral("Choose"), QString::fromStdString(dir.path().string()));
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        dialog.setAcceptMode(c.mode);
        dialog.setFileMode(c.mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                             : QFileDialog::AnyFile);
        dialog.setWindowModality(Qt::ApplicationModal); // as exec() shows it
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        QApplication::setActiveWindow(&dialog);
        auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(edit, nullptr);
        edit->setFocus();
        edit->setText(QString::fromLatin1(c.before)); // the earlier choice
        ASSERT_TRUE(edit->hasFocus());
        ModalScript script;
        const std::string chosen = dir.file(c.chosen);
        script.ChooseFiles({QString::fromStdString(chosen)});
        ASSERT_EQ(dialog.exec(), QDialog::Accepted);
        EXPECT_EQ(dialog.selectedFiles().join(QLatin1Char('|')).toStdString(), chosen);
        EXPECT_TRUE(script.Done());
    }
}

// With no folder remembered (the shipped settings), Load Images and Save Image As open in the frames
// folder, not at the file system's root, where a first save would otherwise land.
// A save killed part way leaves its temporary file; the program removes those of processes that
// no longer run from the frames folder when it starts.
TEST_F(MainWindowTest, StartRemovesTheLeftoversOfKilledSavesFromTheFramesFolder)
{
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    fs::create_directories(folder.File("Frames"));
    const std::string dead = folder.File("Frames/Image_12.kvr.part-" + std::to_string(gone) + "-0");
    const std::string running = folder.File("Frames/Image_13.kvr.part-1-0");
    WriteFileBytes(dead, std::string(4096, 'p'));
    WriteFileBytes(running, "in use");
    for (const std::string &leftover : {dead, running})
        fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::hours(1));
    Start();
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(running));
}

TEST_F(MainWindowTest, LoadAndSaveDialogsWithoutARememberedFolderOpenInTheFramesFolder)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    fs::create_directories(FramesFolder());
    CurrentSettings().LastOpenDirectory[0].clear();
    CurrentSettings().LastSaveDirectory[0].clear();
    std::vector<std::string> opened;
    for (int i = 0; i < 2; ++i)
        script.Add([&](QWidget *w) {
            opened.push_back(qobject_cast<QFileDialog *>(w)->directory().absolutePath().toStdString() + "/");
            qobject_cast<QDialog *>(w)->reject();
        });
    main->Open->trigger();
    main->SaveAs->trigger();
    Settle();
    const std::string frames = fs::canonical(FramesFolder()).string() + "/";
    EXPECT_EQ(opened, (std::vector<std::string>{frames, frames}));
    EXPECT_EQ(script.unexpected, 0);
}

TEST_F(MainWindowTest, SaveImageWritesTheOriginFormatToTheSameFile)
{
    Start();
    const QStringList files = MakeImages(1);
    ASSERT_EQ(main->LoadImageFiles(files), 1);
    Settle();
    TChild *window = main->FirstImageWindow();
    window->Image().FrameRow(0, 2)[3] = 4321;
    window->Image().Modified = true;
    main->Save->trigger();
    ImageData back;
    ASSERT_TRUE(LoadImageFile(files[0].toStdString(), back));
    EXPECT_EQ(back.FrameRow(0, 2)[3], 4321);
    EXPECT_FALSE(window->ConstImage().Modified);
    EXPECT_EQ(script.unexpected, 0);
}

TEST_F(MainWindowTest, SaveImageInFormatReportsWhatItCannotWrite)
{
    Start();
    ImageData image;
    image.Allocate(8, 8, 1);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            image.FrameRow(0, y)[x] = 7;
    // Unknown format codes write nothing.
    for (int format : {-1, 4, 99})
        EXPECT_FALSE(main->SaveImageInFormat(folder.File("odd.kvr"), image, format)) << format;
    EXPECT_FALSE(fs::exists(folder.File("odd.kvr")));
    // The displayed view needs a displayed target.
    EXPECT_FALSE(main->SaveImageInFormat(folder.File("view.bmp"), image, FormatBmp)); // no window
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    EditTarget = EditDefaultPalette;
    EXPECT_FALSE(main->SaveImageInFormat(folder.File("view.bmp"), image, FormatBmp));
    EditTarget = EditCompositeLayer;
    EXPECT_FALSE(main->SaveImageInFormat(folder.File("view.bmp"), image, FormatBmp));
    EXPECT_FALSE(fs::exists(folder.File("view.bmp")));
    EditTarget = EditActiveImage;
    EXPECT_TRUE(main->SaveImageInFormat(folder.File("view.bmp"), image, FormatBmp));
    EXPECT_TRUE(fs::exists(folder.File("view.bmp")));
    EXPECT_TRUE(main->SaveImageInFormat(folder.File("ok.kvr"), image, FormatNative));
    EXPECT_EQ(image.FileName, folder.File("ok.kvr"));

    // "Save Image" of an image that has no file yet asks for a name, as "Save Image As" does.
    main->FirstImageWindow()->Image().FileName.clear();
    script.CancelDialog();
    main->Save->trigger();
    ASSERT_EQ(script.dialogTitles.size(), 1u);
    EXPECT_EQ(script.dialogTitles[0], "Select save file name");
    EXPECT_TRUE(script.boxTexts.empty());
    EXPECT_EQ(script.unexpected, 0);
}

// With the filter the dialog opened with, a typed known extension chooses the format; a filter the
// user chose decides itself.
TEST_F(MainWindowTest, SaveAsTakesTheFormatOfATypedExtension)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    struct Case {
        const char *typed;
        int filterIndex; // 0: left as the dialog opened (own format)
        const char *written;
        int format;
    };
    const Case cases[] = {{"a.fit", 0, "a.fit", 1}, {"b.FITS", 0, "b.fit", 1}, {"c.png", 0, "c.png", 3},
                          {"d.bmp", 0, "d.bmp", 2}, {"e.txt", 0, "e.kvr", 0},  {"g.fit", 4, "g.png", 3}};
    for (const Case &c : cases) {
        main->FirstImageWindow()->Image().OriginFormat = FormatNative;
        // A fresh dialog each time: the script answers each modal widget once.
        delete main->SaveDialog;
        main->SaveDialog = nullptr;
        script.ChooseFiles({QString::fromStdString(folder.File(c.typed))}, c.filterIndex);
        main->SaveAs->trigger();
        Settle();
        const std::string written = folder.File(c.written);
        ImageData back;
        ASSERT_TRUE(LoadImageFile(written, back))
            << c.typed << " " << (script.boxTexts.empty() ? "" : script.boxTexts.back().toStdString());
        EXPECT_EQ(back.OriginFormat, c.format) << c.typed;
        EXPECT_EQ(main->FirstImageWindow()->ConstImage().FileName, written);
    }
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(script.unexpected, 0);
}

TEST_F(MainWindowTest, SaveFromAWorkerThreadRunsOnTheGuiThread)
{
    Start();
    ImageData image;
    image.Allocate(4, 4, 1);
    std::fill_n(image.FramePixels(0), 16, std::uint16_t(9));
    // The writer asks for the busy cursor on the thread it runs on: record which that is.
    struct RecordingHooks : korvi::gui::QtUiHooks {
        std::atomic<QThread *> busyThread{nullptr};
        void SetBusy(bool busy) override
        {
            busyThread = QThread::currentThread();
            QtUiHooks::SetBusy(busy);
        }
    } hooks;
    UiHooks *before = InstallUiHooks(&hooks);
    bool saved = false;
    QThread *worker =
        QThread::create([&] { saved = main->SaveImageInFormat(folder.File("w.png"), image, FormatPng); });
    worker->start();
    const bool finished = WaitFor([&] { return worker->isFinished(); });
    InstallUiHooks(before);
    ASSERT_TRUE(finished);
    delete worker;
    EXPECT_TRUE(saved);
    EXPECT_EQ(hooks.busyThread.load(), QApplication::instance()->thread());
    ImageData back;
    ASSERT_TRUE(LoadImageFile(folder.File("w.png"), back));
    EXPECT_EQ(back.FrameRow(0, 3)[3], 9);
}

TEST_F(MainWindowTest, SavingIsEnabledOnlyWithAnImage)
{
    Start();
    emit main->FileMenu->aboutToShow(); // the File menu opens with no image
    EXPECT_FALSE(main->Save->isEnabled());
    EXPECT_FALSE(main->SaveAs->isEnabled());
    // The save button of the tool bar is the same action: it follows the windows without the
    // File menu being opened again.
    ASSERT_EQ(main->LoadImageFiles(MakeImages(2)), 2);
    Settle();
    EXPECT_TRUE(main->Save->isEnabled());
    EXPECT_TRUE(main->SaveAs->isEnabled());
    main->CloseImage->trigger();
    Settle();
    EXPECT_TRUE(main->Save->isEnabled());
    main->CloseImage->trigger();
    Settle();
    ASSERT_TRUE(main->ImageWindows().empty());
    EXPECT_FALSE(main->Save->isEnabled());
    EXPECT_FALSE(main->SaveAs->isEnabled());
}

// ---------------------------------------------------------------------------------------------
// Arrangement

TEST_F(MainWindowTest, TimerMaximisesTheFirstWindowWithLayoutThree)
{
    Start();
    main->Maximize1->trigger();
    EXPECT_EQ(CurrentSettings().WindowArrangement, 3);
    ASSERT_EQ(main->LoadImageFiles(MakeImages(3)), 3);
    Settle();
    EXPECT_FALSE(main->SysTimer->isActive()); // one shot
    EXPECT_TRUE(main->FirstImageWindow()->isMaximized());
}

TEST_F(MainWindowTest, TimerMaximisesASingleWindowWhateverTheLayout)
{
    Start();
    main->Cascade1->trigger();
    EXPECT_EQ(CurrentSettings().WindowArrangement, 1);
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    main->FirstImageWindow()->showNormal();
    main->LimitOpenWindows(); // starts the timer
    EXPECT_TRUE(main->SysTimer->isActive());
    Settle();
    EXPECT_TRUE(main->FirstImageWindow()->isMaximized());
}

// The timer arranges the windows by the layout setting (0 tile, 1 cascade, 2 stack) after loads.
class TimerArrangementTest : public MainWindowTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(TimerArrangementTest, ArrangesEveryWindowByTheLayout)
{
    const int layout = GetParam();
    Start();
    CurrentSettings().WindowArrangement = layout;
    ASSERT_EQ(main->LoadImageFiles(MakeImages(3)), 3);
    Settle();
    const std::vector<TChild *> windows = main->ImageWindows();
    ASSERT_EQ(windows.size(), 3u);
    std::set<std::pair<int, int>> corners;
    for (TChild *w : windows) {
        EXPECT_FALSE(w->isMaximized());
        corners.insert({w->x(), w->y()});
        // Each image was fitted for the whole frame when it was loaded; in its arranged place it
        // is fitted again: all of it in view, no scroll bar, one side filling the window.
        const QSize client = w->widget()->size();
        EXPECT_FALSE(w->HorizontalScrollBar()->isVisible()) << w->PanelWidth() << " > " << client.width();
        EXPECT_FALSE(w->VerticalScrollBar()->isVisible()) << w->PanelHeight() << " > " << client.height();
        EXPECT_LE(w->PanelWidth(), client.width());
        EXPECT_LE(w->PanelHeight(), client.height());
        EXPECT_TRUE(w->PanelWidth() >= client.width() - 1 || w->PanelHeight() >= client.height() - 1);
    }
    switch (layout) {
    case 0: // tiles never overlap
        for (std::size_t i = 0; i < windows.size(); ++i)
            for (std::size_t j = i + 1; j < windows.size(); ++j)
                EXPECT_FALSE(windows[i]->geometry().intersects(windows[j]->geometry())) << i << " " << j;
        break;
    case 1: { // a staircase: each corner lower and further right than the one before
        ASSERT_EQ(corners.size(), 3u);
        // ... of windows that stay usable: at least two thirds of the frame each way.
        for (TChild *w : windows) {
            EXPECT_GE(w->width(), main->MdiArea->viewport()->width() * 2 / 3);
            EXPECT_GE(w->height(), main->MdiArea->viewport()->height() * 2 / 3);
        }
        std::pair<int, int> previous{-1, -1};
        for (const auto &corner : corners) {
            EXPECT_GT(corner.first, previous.first);
            EXPECT_GT(corner.second, previous.second);
            previous = corner;
        }
        break;
    }
    default: // stacked at the frame's corner
        EXPECT_EQ(corners, (std::set<std::pair<int, int>>{{0, 0}}));
        break;
    }
}

std::string LayoutName(const ::testing::TestParamInfo<int> &info)
{
    static const char *const names[] = {"Tile", "Cascade", "Stack"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Layouts, TimerArrangementTest, ::testing::Values(0, 1, 2), LayoutName);

TEST_F(MainWindowTest, StackAndTileArrangeEveryWindow)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(3)), 3);
    Settle();
    main->Stack1->trigger();
    EXPECT_EQ(CurrentSettings().WindowArrangement, 2);
    for (TChild *w : main->ImageWindows()) {
        EXPECT_FALSE(w->isMaximized());
        EXPECT_EQ(w->pos(), QPoint(0, 0));
    }
    main->Tile1->trigger();
    EXPECT_EQ(CurrentSettings().WindowArrangement, 0);
    // Tiled windows do not overlap.
    const std::vector<TChild *> windows = main->ImageWindows();
    for (std::size_t i = 0; i < windows.size(); ++i)
        for (std::size_t j = i + 1; j < windows.size(); ++j)
            EXPECT_FALSE(windows[i]->geometry().intersects(windows[j]->geometry()));
}

// ---------------------------------------------------------------------------------------------
// Closing

TEST_F(MainWindowTest, CancellingTheLeavePromptKeepsRunningAndWritesNothing)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(2)), 2);
    Settle();
    const std::string settingsFile = folder.File(DefaultSettingsFile);
    const std::string before = ReadFileBytes(settingsFile);
    main->resize(900, 650);
    ASSERT_TRUE(WaitFor([&] { return main->size() == QSize(900, 650); }));
    script.PressBox(QMessageBox::Cancel);
    EXPECT_EQ(main->Exit1->text(), "E&xit");
    main->Exit1->trigger(); // closes the main window, which asks first
    ASSERT_EQ(script.boxTexts.size(), 1u);
    EXPECT_EQ(script.boxTexts[0], "Are you sure you want to leave Korvi?");
    EXPECT_EQ(script.boxCaptions[0], "Korvi");
    EXPECT_TRUE(main->isVisible());
    EXPECT_TRUE(main->isEnabled());
    EXPECT_EQ(main->ImageWindows().size(), 2u);
    EXPECT_EQ(ReadFileBytes(settingsFile), before);
}

TEST_F(MainWindowTest, ConfirmingClosesEveryImageWindowThenWritesTheFinalRectangle)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(2)), 2);
    Settle();
    main->resize(917, 655);
    // The window system confirms the new size with an event of its own.
    ASSERT_TRUE(WaitFor([&] { return main->size() == QSize(917, 655); }));
    Settle();
    int windowsWhenWritten = -1;
    QObject::connect(main.get(), &TMainF::SettingsWritten,
                     [&] { windowsWhenWritten = static_cast<int>(main->ImageWindows().size()); });
    const QPoint position = main->pos();
    script.PressBox(QMessageBox::Ok);
    EXPECT_TRUE(main->close());
    EXPECT_EQ(windowsWhenWritten, 0);
    EXPECT_TRUE(main->ClosingDone);

    Settings written;
    ASSERT_TRUE(written.LoadFromFile(folder.File(DefaultSettingsFile)));
    EXPECT_EQ(written.WindowWidth, 917);
    EXPECT_EQ(written.WindowHeight, 655);
    EXPECT_EQ(written.WindowLeft, position.x());
    EXPECT_EQ(written.WindowTop, position.y());

    // A second close asks nothing and writes nothing; resizing no longer stores the rectangle.
    fs::remove(folder.File(DefaultSettingsFile));
    EXPECT_TRUE(main->close());
    // Shown again so the resize reaches the window as an event.
    main->show();
    main->resize(1000, 720);
    ASSERT_TRUE(WaitFor([&] { return main->size() == QSize(1000, 720); }));
    EXPECT_EQ(CurrentSettings().WindowWidth, 917);
    main->hide();
    EXPECT_FALSE(fs::exists(folder.File(DefaultSettingsFile)));
    EXPECT_EQ(script.boxTexts.size(), 1u);
}

TEST_F(MainWindowTest, UnreadableSettingsAreReportedAndTheProgramStartsWithDefaults)
{
    std::string lines;
    for (int i = 0; i < 29; ++i)
        lines += "text\n";
    lines += "three\n"; // line 30 must be a number
    WriteFileBytes(folder.File(DefaultSettingsFile), lines);
    script.PressBox(QMessageBox::Ok);
    Start();
    EXPECT_GE(script.boxTexts.size(), 1u);
    const Settings defaults = ProgramDefaultSettings();
    EXPECT_EQ(CurrentSettings().DefaultPaletteFile[0], defaults.DefaultPaletteFile[0]); // not "text"
    EXPECT_EQ(CurrentSettings().MaximumWindows, 10);
    EXPECT_EQ(CurrentSettings().NCOL[0], 797);
    EXPECT_EQ(main->width(), 1083);
}

TEST_F(MainWindowTest, MissingSettingsFileStartsSilentlyWithDefaults)
{
    fs::remove(folder.File(DefaultSettingsFile));
    Start();
    EXPECT_EQ(script.unexpected, 0);
    EXPECT_TRUE(script.boxTexts.empty());
    EXPECT_EQ(CurrentSettings().MaximumWindows, 10);
    EXPECT_EQ(main->width(), 1083);
}

// ---------------------------------------------------------------------------------------------
// Keys shared by a menu item and an action go to the menu item

TEST_F(MainWindowTest, CtrlZUndoesTheLastOperationInsteadOfZooming)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    TChild *window = main->FirstImageWindow();
    ImageData &image = window->Image();
    image.SelectionShown = true;
    image.SelX0 = 10;
    image.SelY0 = 4;
    image.SelX1 = 19;
    image.SelY1 = 8;
    main->FastTrimClick();
    ASSERT_EQ(window->ConstImage().Width, 10);
    ASSERT_EQ(window->ConstImage().Height, 5);
    EXPECT_EQ(window->ConstImage().FrameRow(0, 0)[0], Ramp(10, 4));
    EXPECT_EQ(LastOperation.load(), 7);
    const double zoom = window->Zoom();

    MakeActive();
    QTest::keyClick(main.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(window->ConstImage().Width, 64);
    EXPECT_EQ(window->ConstImage().Height, 32);
    EXPECT_EQ(window->ConstImage().FrameRow(0, 31)[63], Ramp(63, 31));
    EXPECT_DOUBLE_EQ(window->Zoom(), zoom);
    EXPECT_EQ(main->Undo1->text(), "&Undo filter");
}

TEST_F(MainWindowTest, CtrlHShowsTheImageInformationOnlyWithAnImage)
{
    Start();
    QAction *item = nullptr;
    for (QAction *a : main->ViewMenu->actions())
        if (a->text() == "Image information")
            item = a;
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H)); // shown beside the item
    ASSERT_NE(HInfo, nullptr);
    MakeActive();
    QTest::keyClick(main.get(), Qt::Key_H, Qt::ControlModifier);
    EXPECT_FALSE(HInfo->isVisible());
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    MakeActive();
    QTest::keyClick(main.get(), Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(HInfo->isVisible());
    HInfo->hide();
}

// Tool-bar buttons and shortcuts that show a window are enabled exactly when the window exists,
// like their menu items; no tooltip names a shortcut its action does not have.
TEST_F(MainWindowTest, WindowCommandsWaitForTheirWindowsAndTooltipsNameTheirOwnShortcuts)
{
    Start();
    const std::pair<QAction *, const char *> shows[] = {{main->PaletteEdit, "TPaletteSet"},
                                                        {main->HeaderInfoFormShow, "THInfo"},
                                                        {main->StatsFormShow, "TStatsForm"}};
    std::vector<std::unique_ptr<QWidget>> windows;
    for (const auto &[action, className] : shows) {
        SCOPED_TRACE(className);
        EXPECT_EQ(action->isEnabled(), main->ProgramWindow(className) != nullptr);
        if (!main->ProgramWindow(className)) {
            windows.push_back(std::make_unique<QWidget>(nullptr, Qt::Window));
            main->RegisterWindow(className, windows.back().get());
        }
        EXPECT_TRUE(action->isEnabled());
    }
    const QRegularExpression named(QStringLiteral("\\((Ctrl\\+.)\\)"));
    for (QAction *action : main->findChildren<QAction *>()) {
        const QRegularExpressionMatch match = named.match(action->toolTip());
        if (match.hasMatch())
            EXPECT_EQ(action->shortcut(), QKeySequence(match.captured(1))) << action->toolTip().toStdString();
    }
}

TEST_F(MainWindowTest, CtrlAShowsAndHidesTheAcquisitionControlsInsteadOfRepainting)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    TChild *window = main->FirstImageWindow();
    window->Image().SelectionShown = true;
    MakeActive();
    ASSERT_TRUE(main->SettingsPanel->isVisible());
    QTest::keyClick(main.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_FALSE(main->SettingsPanel->isVisible());
    EXPECT_FALSE(main->MainAcquisitionControls->isChecked());
    EXPECT_TRUE(window->ConstImage().SelectionShown); // the repaint command would have cleared it
    QTest::keyClick(main.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(main->SettingsPanel->isVisible());
    // The zoom-in and repaint actions carry no key of their own.
    EXPECT_TRUE(main->ZoomIn->shortcut().isEmpty());
    EXPECT_TRUE(main->Refresh->shortcut().isEmpty());
    // The repaint action itself clears the selection flag.
    main->Refresh->trigger();
    EXPECT_FALSE(window->ConstImage().SelectionShown);
}

TEST_F(MainWindowTest, ZoomCommandsScaleTheFirstWindow)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    TChild *window = main->FirstImageWindow();
    main->Zoom1->trigger();
    EXPECT_DOUBLE_EQ(window->Zoom(), 1.0);
    main->ZoomIn->trigger();
    EXPECT_NEAR(window->Zoom(), 1.5, 1e-6);
    main->ZoomOut->trigger();
    EXPECT_NEAR(window->Zoom(), 1.0, 1e-6);
    main->ZoomFit->trigger();
    EXPECT_GT(window->Zoom(), 2.0);
}

// ---------------------------------------------------------------------------------------------
// Palettes, display scale, cross-section

TEST_F(MainWindowTest, QuickPaletteGoesToTheFirstWindowOrTheDefaultPalette)
{
    Start();
    main->SpectrumBtn2->click(); // no window: the default palette
    EXPECT_TRUE(SameColours(CurrentSettings().DefaultPalettes[0], SpectrumPalette()));
    EXPECT_FALSE(SameColours(CurrentSettings().DefaultPalettes[0], Spectrum2Palette()));
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    main->BlackbodyBtn->click();
    TChild *window = main->FirstImageWindow();
    EXPECT_TRUE(SameColours(window->ConstImage().Palette, BlackBodyPalette()));
    // The bar shows the black-body colours: the top of the well is near white, the bottom dark.
    const QImage bar = main->PalBar->pixmap().toImage();
    EXPECT_GT(qRed(bar.pixel(12, 4)), 200);
    EXPECT_LT(qBlue(bar.pixel(12, bar.height() - 5)), 30);
    EXPECT_EQ(script.unexpected, 0);
}

TEST_F(MainWindowTest, DisplayScaleReachesTheImageAndTheSettings)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    TChild *window = main->FirstImageWindow();
    main->LogScale1->trigger();
    EXPECT_TRUE(window->ConstImage().LogDisplay);
    EXPECT_TRUE(CurrentSettings().LogDisplayScale);
    EXPECT_TRUE(main->LogScale2->isChecked());
    main->LinScale2->click();
    EXPECT_FALSE(window->ConstImage().LogDisplay);
    EXPECT_FALSE(CurrentSettings().LogDisplayScale);
    EXPECT_TRUE(main->LinearScale1->isChecked());
}

TEST_F(MainWindowTest, CrossSectionSamplesTheClampedLine)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    main->XSectionHorizontal->trigger();
    EXPECT_TRUE(main->XSectionBox->isVisible());
    EXPECT_EQ(CurrentSettings().XSectionMode, 1);
    EXPECT_EQ(main->CrossSectionItem(), CrossSectionMode::Horizontal);
    TChild *window = main->FirstImageWindow();
    main->DrawCrossSection(window, -20, 3, 500, 3); // clamped to columns 0..63
    const std::vector<int> &row = main->CrossSectionSamples();
    ASSERT_EQ(row.size(), 63u);
    EXPECT_EQ(row.front(), Ramp(0, 3));
    EXPECT_EQ(row.back(), Ramp(63, 3));
    EXPECT_TRUE(std::is_sorted(row.begin(), row.end()));
    main->DrawCrossSection(window, 5, 0, 5, 31);
    const std::vector<int> &column = main->CrossSectionSamples();
    ASSERT_EQ(column.size(), 31u);
    EXPECT_EQ(column.front(), Ramp(5, 0));
    EXPECT_EQ(column.back(), Ramp(5, 31));
    EXPECT_FALSE(main->XSectionImage->pixmap().isNull());
    main->XSectionHide->trigger();
    EXPECT_FALSE(main->XSectionBox->isVisible());
    EXPECT_EQ(CurrentSettings().XSectionMode, 0);
}

// ---------------------------------------------------------------------------------------------
// Start-up palettes, settings commands, undo snapshot

TEST_F(MainWindowTest, DefaultPalettesComeFromTheSettingsAfterTheQuickPalettes)
{
    CurrentSettings(); // the shipped settings name Greyscale.pal for both cameras
    Settings s;
    ASSERT_TRUE(s.LoadFromFile(folder.File(DefaultSettingsFile)));
    s.DefaultPaletteFile = {"Spectrum2.pal", "BlackBody2.pal"};
    ASSERT_TRUE(s.SaveToFile(folder.File(DefaultSettingsFile)));
    Start();
    // Palette 0 went through the four quick palettes and then took the imaging camera's file.
    EXPECT_TRUE(SameColours(CurrentSettings().DefaultPalettes[0], Spectrum2Palette()));
    EXPECT_TRUE(SameColours(CurrentSettings().DefaultPalettes[1], BlackBodyPalette()));
    EXPECT_EQ(CurrentSettings().DefaultPalettes[0].Name, folder.File("Palettes/Spectrum2.pal"));
    // New images take palette 0.
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    EXPECT_TRUE(SameColours(main->FirstImageWindow()->ConstImage().Palette, Spectrum2Palette()));
}

TEST_F(MainWindowTest, PaletteCommandsChooseWhatTheEditorEdits)
{
    Start();
    QWidget editor(nullptr, Qt::Window);
    if (!main->ProgramWindow("TPaletteSet"))
        main->RegisterWindow("TPaletteSet", &editor);
    main->PaletteEdit->trigger();
    EXPECT_EQ(EditTarget.load(), EditDefaultPalette);
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    main->PaletteEdit->trigger();
    EXPECT_EQ(EditTarget.load(), EditActiveImage);
    main->findChild<QAction *>("Defaultpalette1")->trigger();
    EXPECT_EQ(EditTarget.load(), EditDefaultPalette);
}

TEST_F(MainWindowTest, SettingsCommandsWriteAndReadTheChosenFiles)
{
    Start();
    CurrentSettings().GuideDetent = 42;
    main->SaveSettingsDefault->trigger();
    Settings written;
    ASSERT_TRUE(written.LoadFromFile(folder.File(DefaultSettingsFile)));
    EXPECT_EQ(written.GuideDetent, 42);

    // "Save Settings...": the chosen name gets ".txt"; cancelling writes nothing.
    CurrentSettings().GuideDetent = 77;
    script.ChooseFiles({QString::fromStdString(folder.File("Settings/night"))});
    main->SaveSettings->trigger();
    ASSERT_TRUE(fs::exists(folder.File("Settings/night.txt")));
    EXPECT_EQ(script.dialogTitles.back(), "Save program settings");
    script.CancelDialog();
    CurrentSettings().GuideDetent = 78;
    main->SaveSettings->trigger();
    ASSERT_TRUE(written.LoadFromFile(folder.File("Settings/night.txt")));
    EXPECT_EQ(written.GuideDetent, 77);

    // "Load Se&ttings...": the file's values replace the record's.
    CurrentSettings().GuideDetent = 5;
    script.ChooseFiles({QString::fromStdString(folder.File("Settings/night.txt"))});
    main->LoadSettings->trigger();
    EXPECT_EQ(script.dialogTitles.back(), "Load program settings");
    EXPECT_EQ(CurrentSettings().GuideDetent, 77);
    EXPECT_EQ(CurrentSettings().ProgramDirectory, folder.Dir());
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(script.unexpected, 0);
}

// A text file that is not a settings file is refused whole: no value of it is taken, whether a
// number line shows it (long notes) or it ends before the first number line (three short lines).
TEST_F(MainWindowTest, LoadSettingsRefusesAFileThatIsNotASettingsFile)
{
    Start();
    const Settings before = CurrentSettings();
    const struct {
        int lines;
        const char *text;
    } cases[] = {{200, "observing notes, line "}, {3, "hello"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lines);
        script.boxTexts.clear();
        {
            std::ofstream notes(folder.File("Settings/notes.txt"));
            for (int i = 0; i < c.lines; ++i)
                notes << c.text << (c.lines > 3 ? std::to_string(i) : std::string()) << "\n";
        }
        script.ChooseFiles({QString::fromStdString(folder.File("Settings/notes.txt"))});
        script.PressBox(QMessageBox::Ok);
        main->LoadSettings->trigger();
        ASSERT_TRUE(script.Done());
        ASSERT_EQ(script.boxTexts.size(), 1u);
        EXPECT_TRUE(script.boxTexts[0].contains(QStringLiteral("is not a settings file")))
            << script.boxTexts[0].toStdString();
        EXPECT_EQ(CurrentSettings().DefaultPaletteFile, before.DefaultPaletteFile);
        EXPECT_EQ(CurrentSettings().LastScriptFile, before.LastScriptFile);
        EXPECT_EQ(CurrentSettings().SaveFile, before.SaveFile);
        EXPECT_EQ(CurrentSettings().NCOL, before.NCOL);
    }
    EXPECT_EQ(script.unexpected, 0);
}

TEST_F(MainWindowTest, LoadedSettingsReachTheControlsSoAcquireKeepsThem)
{
    Start();
    Settings file = CurrentSettings();
    file.IntTime[0] = 5.5f;
    file.NImage[0] = 12;
    file.MaximumWindows = 3;
    file.WindowArrangement = 1;
    file.LogDisplayScale = true;
    ASSERT_TRUE(file.SaveToFile(folder.File("Settings/night.txt")));
    ASSERT_NE(main->NImage->value(), 12);
    script.ChooseFiles({QString::fromStdString(folder.File("Settings/night.txt"))});
    main->LoadSettings->trigger();
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(main->NImage->value(), 12);
    EXPECT_TRUE(main->MaximumFilesItems[2]->isChecked()); // "3"
    EXPECT_TRUE(main->Cascade1->isChecked());
    EXPECT_TRUE(main->LogScale1->isChecked());
    EXPECT_TRUE(main->LogScale2->isChecked());
    // What Acquire copies from the controls is what was loaded, not what was shown before.
    ASSERT_TRUE(main->ReadControlsIntoSettings());
    EXPECT_FLOAT_EQ(CurrentSettings().IntTime[0], 5.5f);
    EXPECT_EQ(CurrentSettings().NImage[0], 12);
    EXPECT_EQ(CurrentSettings().MaximumWindows, 3);
    EXPECT_TRUE(CurrentSettings().LogDisplayScale);
    EXPECT_EQ(script.unexpected, 0);
}

TEST_F(MainWindowTest, UndoAfterALoadOrAfterTheWindowClosedChangesNothing)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(2)), 2);
    Settle();
    TChild *processed = main->FirstImageWindow();
    // Trims the processed window to its top-left size x size pixels.
    auto trim = [&](int size) {
        ImageData &image = processed->Image();
        image.SelectionShown = true;
        image.SelX0 = 0;
        image.SelY0 = 0;
        image.SelX1 = size - 1;
        image.SelY1 = size - 1;
        main->FastTrimClick();
        ASSERT_EQ(processed->ConstImage().Width, size);
    };
    trim(4);

    // A later load fills the same buffer: undo must not copy the loaded file into the trimmed
    // window, whose 4 x 4 picture would then be lost.
    const std::string third = folder.File("third.kvr");
    WriteTestImage(third, 20, 10, [](int x, int y) { return 5000 + x * y; });
    ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(third)}), 1);
    EditTarget = EditActiveImage;
    main->UndoActionExecute();
    EXPECT_EQ(processed->ConstImage().Width, 4);
    EXPECT_EQ(processed->ConstImage().FrameRow(0, 3)[3], Ramp(3, 3) + 1);
    // A load that fails leaves the snapshot and its owner: undo still restores the window.
    WriteFileBytes(folder.File("bad.kvr"), "KORVI_IMAGE_FILE\nbroken\n");
    main->WindowMenuItemClick(processed->Tag() + 5);
    trim(2);
    script.PressBox(QMessageBox::Ok);
    ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(folder.File("bad.kvr"))}), 0);
    main->UndoActionExecute();
    EXPECT_EQ(processed->ConstImage().Width, 4);
    EXPECT_EQ(processed->ConstImage().FrameRow(0, 3)[3], Ramp(3, 3) + 1);

    // With the processed window gone, undo changes nothing.
    const std::int64_t tag = processed->Tag();
    processed->Image().Modified = false;
    processed->close();
    Settle();
    ASSERT_EQ(main->FindImageWindow(tag), nullptr);
    std::vector<int> widths;
    for (TChild *w : main->ImageWindows())
        widths.push_back(w->ConstImage().Width);
    main->UndoActionExecute();
    std::vector<int> after;
    for (TChild *w : main->ImageWindows())
        after.push_back(w->ConstImage().Width);
    EXPECT_EQ(after, widths);
}

TEST_F(MainWindowTest, CalibrationUndoAfterALoadChangesNothing)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    TChild *processed = main->FirstImageWindow();
    main->ProcessBtnClick(); // no dark or flat ticked: the snapshot is taken, the pixels stay
    ASSERT_EQ(main->CalibrationUndoTag, processed->Tag());
    const std::string other = folder.File("other.kvr");
    WriteTestImage(other, 20, 10, [](int x, int y) { return 5000 + x * y; });
    ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(other)}), 1);
    main->BitBtn1Click();
    ASSERT_EQ(processed->ConstImage().Width, 64);
    EXPECT_EQ(processed->ConstImage().FrameRow(0, 5)[7], Ramp(7, 5));
    EXPECT_EQ(script.unexpected, 0);
}

TEST_F(MainWindowTest, SaveAsRenamesTheWindowAndItsMenuEntry)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    script.ChooseFiles({QString::fromStdString(folder.File("renamed.old"))}, 4);
    main->SaveAs->trigger();
    Settle();
    TChild *window = main->FirstImageWindow();
    EXPECT_EQ(window->windowTitle(), "renamed.png");
    // The next Save As offers the new name, without its extension.
    EXPECT_EQ(main->SaveDialog->selectedFiles().value(0).toStdString(), folder.File("renamed"));
    QStringList entries;
    for (QAction *a : main->WindowMenu->actions())
        if (a->data().isValid())
            entries << a->text();
    EXPECT_EQ(entries, QStringList{"renamed.png"});
    // "Save Image" now writes PNG to the new file.
    window->Image().FrameRow(0, 0)[0] = 999;
    main->Save->trigger();
    ImageData back;
    ASSERT_TRUE(LoadImageFile(folder.File("renamed.png"), back));
    EXPECT_EQ(back.OriginFormat, FormatPng);
    EXPECT_EQ(back.FrameRow(0, 0)[0], 999);
}

// ---------------------------------------------------------------------------------------------
// Nothing the user has is lost

TEST_F(MainWindowTest, AFailedSaveAsLeavesTheExistingFileWhole)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    const std::string target = folder.File("keep.kvr");
    WriteFileBytes(target, "precious");
    main->FirstImageWindow()->Image().Free(); // nothing to write: the save fails
    script.ChooseFiles({QString::fromStdString(target)}, 1);
    script.PressBox(QMessageBox::Yes);
    script.PressBox(QMessageBox::Ok);
    script.PressBox(QMessageBox::Ok);
    main->SaveAs->trigger();
    Settle();
    ASSERT_GE(script.boxTexts.size(), 2u);
    EXPECT_EQ(script.boxTexts.back(), QString::fromStdString("The image could not be saved to: " + target));
    EXPECT_EQ(ReadFileBytes(target), "precious");
}

// Makes the first window's image modified with no file to save to, so its close prompt's save fails
// and the window stays open.
TChild *MakeUnsavable(TMainF &main)
{
    TChild *window = main.FirstImageWindow();
    window->Image().Modified = true;
    window->Image().FileName.clear();
    CurrentSettings().DisableClosePrompt = false;
    return window;
}

TEST_F(MainWindowTest, TheWindowLimitStopsAtAWindowThatCannotClose)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(2)), 2);
    Settle();
    TChild *oldest = main->ImageWindows()[1];
    main->WindowMenuItemClick(oldest->Tag() + 5);
    ASSERT_EQ(MakeUnsavable(*main), oldest);
    script.PressBox(QMessageBox::Yes); // save changes? yes - and the save fails
    for (int i = 0; i < 4; ++i)
        script.PressBox(QMessageBox::Ok);
    main->MaximumFilesClick(1); // returns although the oldest window cannot be closed
    Settle();
    EXPECT_EQ(main->ImageWindows().size(), 2u);
    EXPECT_NE(main->FindImageWindow(oldest->Tag()), nullptr);
    EXPECT_TRUE(script.boxTexts.front().startsWith("Save changes to image"));
}

TEST_F(MainWindowTest, ClosingStopsWhenAnImageWindowCannotSaveItsChanges)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    MakeUnsavable(*main);
    const std::string settingsBefore = ReadFileBytes(folder.File(DefaultSettingsFile));
    script.PressBox(QMessageBox::Ok);  // leave Korvi? OK
    script.PressBox(QMessageBox::Yes); // save changes? yes - and the save fails
    for (int i = 0; i < 4; ++i)
        script.PressBox(QMessageBox::Ok);
    EXPECT_FALSE(main->close());
    Settle();
    EXPECT_TRUE(main->isVisible());
    EXPECT_TRUE(main->isEnabled());
    EXPECT_FALSE(main->ClosingDone);
    EXPECT_EQ(main->ImageWindows().size(), 1u);
    EXPECT_EQ(ReadFileBytes(folder.File(DefaultSettingsFile)), settingsBefore);
}

TEST_F(MainWindowTest, PaletteBarShowsEachRowsLevelInsideTheFrame)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    main->FirstImageWindow()->Image().Palette.Assign(BlackBodyPalette());
    main->UpdateImageControls(main->FirstImageWindow());
    EXPECT_EQ(main->StatusText(2), "img0.kvr");
    const QImage bar = main->PalBar->pixmap().toImage();
    const int h = bar.height();
    const PPalette palette = BlackBodyPalette();
    for (int r : {4, 57, 128, 200, h - 4}) {
        const std::uint32_t c = palette.ColorAt(static_cast<int>(std::int64_t(r) * 65536 / h));
        EXPECT_EQ(bar.pixel(bar.width() / 2, h - r) & 0xFFFFFF,
                  qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF) & 0xFFFFFF)
            << r;
    }
    // The frame's outline stays around the colours.
    const QImage frame(QString::fromStdString(folder.File(FrameBitmapFile)));
    EXPECT_EQ(bar.pixel(0, h / 2), frame.pixel(0, h / 2));
    EXPECT_EQ(bar.pixel(bar.width() - 1, 10), frame.pixel(bar.width() - 1, 10));
}

TEST_F(MainWindowTest, BatchCommandsOpenTheBatchWindowOnTheirPage)
{
    Start();
    QWidget *batch = main->ProgramWindow("TMultiProcessF");
    ASSERT_NE(batch, nullptr);
    auto *pages = batch->findChild<QTabWidget *>();
    ASSERT_NE(pages, nullptr);
    const struct {
        const char *item;
        const char *page;
    } cases[] = {{"SumImages1", "Sum"},
                 {"SubtractImages1", "Subtract"},
                 {"ProcessMultipleImages1", "Filters/misc."},
                 {"CreateDarkFlatFrame1", "Photometric frames"},
                 {"PhotometricCorrections1", "Photometric frames"},
                 {"RescaleImages1", "Scale size"}};
    for (const auto &c : cases) {
        pages->setCurrentIndex(0);
        batch->hide();
        QAction *item = main->findChild<QAction *>(c.item);
        ASSERT_NE(item, nullptr) << c.item;
        EXPECT_TRUE(item->isEnabled()) << c.item;
        item->trigger();
        EXPECT_TRUE(batch->isVisible()) << c.item;
        EXPECT_EQ(pages->tabText(pages->currentIndex()), c.page) << c.item;
    }
    batch->hide();
}

// ---------------------------------------------------------------------------------------------
// Handbook

class UrlRecorder : public QObject
{
    Q_OBJECT
public slots:
    void open(const QUrl &url) { urls << url; }

public:
    QList<QUrl> urls;
};

TEST_F(MainWindowTest, HandbookOpensThePageWithTheDesktopHandler)
{
    Start();
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    main->Handbook1->trigger();
    ASSERT_EQ(recorder.urls.size(), 1);
    EXPECT_EQ(recorder.urls[0].toLocalFile().toStdString(), folder.File("Help/menu.html"));
    EXPECT_TRUE(script.boxTexts.empty());

    fs::remove(folder.File("Help/menu.html"));
    script.PressBox(QMessageBox::Ok);
    main->Handbook1->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(recorder.urls.size(), 1);
    ASSERT_EQ(script.boxTexts.size(), 1u);
    EXPECT_TRUE(script.boxTexts[0].startsWith("Could not open default browser: "));
    EXPECT_EQ(script.boxCaptions[0], "Korvi");
}

} // namespace

#include "main_window_test.moc"

int main(int argc, char **argv)
{
    return korvi::test::RunQtTests(argc, argv);
}

// Every window the menus name is built: with an image open, the only item disabled is Redo,
// which waits for an operation to repeat.
TEST_F(MainWindowTest, WithAnImageOpenEveryMenuItemIsOffered)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1)), 1);
    Settle();
    QStringList disabled;
    std::function<void(QMenu *)> walk = [&](QMenu *menu) {
        for (QAction *action : menu->actions()) {
            if (action->isSeparator())
                continue;
            if (action->menu())
                walk(action->menu());
            else if (!action->isEnabled())
                disabled << action->text();
        }
    };
    for (QAction *top : main->menuBar()->actions())
        if (top->menu())
            walk(top->menu());
    // Nothing has been processed since the image was loaded: neither Undo nor Redo has work.
    EXPECT_EQ(disabled.join(" | ").toStdString(), "&Undo | &Redo");
}

// Every window the menus open lies inside a 1920 x 1080 screen (and inside the screen it is shown
// on, when that is smaller), at its shipped size and place, and shows each of its tab captions
// whole (no scroll arrows, no elided caption). Opened again from where a window manager put it at
// an earlier opening, or the observer dragged it, partly below such a screen (a stacking window
// was seen at y = 669, 526 high), it comes back inside. What is read is the geometry the program
// gives the window, so the check holds on a screen without a window manager too.
TEST_F(MainWindowTest, EveryWindowTheMenusOpenFitsA1080LineScreenWithReadableTabs)
{
    Start();
    ASSERT_EQ(main->LoadImageFiles(MakeImages(1, 200, 150)), 1);
    Settle();
    const QRect screen = QRect(0, 0, 1920, 1080).intersected(main->screen()->availableGeometry());
    bool fromBelow = false;
    const auto tabsReadable = [](QWidget *window) {
        QStringList cut;
        for (QTabBar *bar : window->findChildren<QTabBar *>()) {
            if (!bar->isVisibleTo(window))
                continue;
            for (int i = 0; i < bar->count(); ++i) {
                const QRect tab = bar->tabRect(i);
                const int text = bar->fontMetrics().horizontalAdvance(bar->tabText(i).remove('&'));
                if (tab.left() < 0 || tab.right() >= bar->width() || tab.width() < text)
                    cut << bar->tabText(i);
            }
        }
        // A tool bar too narrow for its buttons puts the rest behind an overflow arrow.
        for (QToolBar *bar : window->findChildren<QToolBar *>()) {
            const auto *more = bar->findChild<QToolButton *>("qt_toolbar_ext_button");
            if (bar->isVisibleTo(window) && more && more->isVisibleTo(window))
                cut << bar->objectName() + " overflows";
        }
        return cut.join(", ").toStdString();
    };
    EXPECT_EQ(tabsReadable(main.get()), "");
    EXPECT_TRUE(QRect(0, 0, 1920, 1080).contains(main->frameGeometry())) << main->objectName().toStdString();
    std::function<void(QMenu *)> walk = [&](QMenu *menu) {
        for (QAction *action : menu->actions()) {
            if (action->menu()) {
                walk(action->menu());
                continue;
            }
            if (!action->isEnabled() || action->isSeparator())
                continue;
            // The processing commands that open a window for their settings and the tools' items
            // named after their work (the batch window's pages, the sensor choice), checked as
            // they open; those that act at once (undo, redo, quick equalization, trim) are left out.
            if (!action->objectName().startsWith("Show") &&
                QStringList{"Filters1", "Histogramequalization1", "Tools1"}.contains(menu->objectName())) {
                if (QStringList{"Undo1", "Redo1", "Quick1", "FastTrim1"}.contains(action->objectName()) ||
                    fromBelow)
                    continue;
                action->trigger();
                QTest::qWait(50);
                SCOPED_TRACE(action->objectName().toStdString());
                int shown = 0;
                for (QWidget *window : QApplication::topLevelWidgets()) {
                    if (window == main.get() || !window->isVisible() || qobject_cast<QMenu *>(window))
                        continue;
                    ++shown;
                    const QRect frame = window->frameGeometry();
                    EXPECT_TRUE(screen.contains(frame))
                        << window->objectName().toStdString() << " " << frame.x() << "," << frame.y() << " "
                        << frame.width() << "x" << frame.height();
                    EXPECT_EQ(tabsReadable(window), "") << window->objectName().toStdString();
                    window->hide();
                }
                EXPECT_EQ(shown, 1);
                continue;
            }
            if (!action->objectName().startsWith("Show"))
                continue;
            const QString className = action->objectName().mid(4);
            QWidget *window = main->ProgramWindow(className.toLatin1().constData());
            ASSERT_NE(window, nullptr) << className.toStdString();
            if (fromBelow)
                window->move(screen.right() - window->width() / 2, 669);
            action->trigger();
            QTest::qWait(50);
            SCOPED_TRACE(className.toStdString() + (fromBelow ? " opened again from below the screen" : ""));
            if (window->isVisible()) {
                const QRect frame = window->frameGeometry();
                EXPECT_TRUE(screen.contains(frame))
                    << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
                EXPECT_FALSE(window->isMaximized());
                // A position the program set, which a window manager keeps, rather than none.
                EXPECT_TRUE(window->testAttribute(Qt::WA_Moved));
                // Placed over the main window, it leaves the main menu free.
                if (!fromBelow)
                    EXPECT_FALSE(frame.contains(main->menuBar()->mapToGlobal(QPoint(4, 4))));
                EXPECT_EQ(tabsReadable(window), "");
            }
            window->hide();
        }
    };
    for (QAction *top : main->menuBar()->actions())
        if (top->menu())
            walk(top->menu());
    fromBelow = true;
    for (QAction *top : main->menuBar()->actions())
        if (top->menu())
            walk(top->menu());
}

// Where no browser can open the handbook (none on the path), the shipped page is shown in a
// window of the program's own, without a message.
TEST_F(MainWindowTest, HandbookWithoutABrowserIsShownInTheProgramsOwnWindow)
{
    Start();
    const QByteArray path = qgetenv("PATH");
    const QByteArray browser = qgetenv("BROWSER");
    qputenv("PATH", QByteArray("/nonexistent"));
    qunsetenv("BROWSER");
    main->Handbook1->trigger();
    qputenv("PATH", path);
    if (!browser.isEmpty())
        qputenv("BROWSER", browser);
    EXPECT_TRUE(script.boxTexts.empty())
        << (script.boxTexts.empty() ? QString() : script.boxTexts[0]).toStdString();
    ASSERT_NE(main->HandbookBrowser, nullptr);
    EXPECT_TRUE(main->HandbookBrowser->isVisible());
    EXPECT_EQ(main->HandbookBrowser->source().toLocalFile().toStdString(), folder.File("Help/menu.html"));
    EXPECT_FALSE(main->HandbookBrowser->toPlainText().trimmed().isEmpty());
    EXPECT_TRUE(QRect(0, 0, 1920, 1080).contains(main->HandbookBrowser->frameGeometry()));
}
