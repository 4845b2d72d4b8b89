// The batch window end to end on small generated files: the file browser and list, format
// conversion with the naming rules, subtraction with the skip question and Stop, and the
// photometric page (dark frame built from files, then dark, bad-column and hot-pixel corrections)
// checked against a transcription of the formulas.
#include "camera_test_support.h"

#include "edit_target.h"
#include "equalization_window.h"
#include "gui_runtime.h"
#include "image_file.h"
#include "image_window.h"
#include "multi_process.h"
#include "processing/calibration.h"
#include "processing_dialog.h"
#include "program_windows.h"
#include "settings.h"
#include "stacking.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>

using namespace korvi::test;

namespace
{

class MultiProcessTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        korvi::gui::InstallCoreUiHooks(); // the program's boxes, as main() installs them
        CreateProgramWindows(window.get());
        ASSERT_NE(MultiProcessF, nullptr);
        CurrentSettings().LastOpenDirectory[0] = folder.path().string() + "/";
        ASSERT_TRUE(ShowAndWait(MultiProcessF));
    }
    void TearDown() override
    {
        InstallUiHooks(nullptr);
        MainWindowTest::TearDown();
    }
    template <typename F>
    std::string Write(const std::string &name, int w, int h, F f, float offset = 0, float bottomDark = 0)
    {
        ImageData image;
        EXPECT_TRUE(image.Allocate(w, h, 1));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(f(x, y));
        image.OffsetLevel = offset;
        image.BottomDark = bottomDark;
        const std::string path = folder.file(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        EXPECT_TRUE(SaveImageFile(path, FormatNative, image));
        return path;
    }
    static void List(const std::vector<std::string> &files)
    {
        MultiProcessF->SelListBox->clear();
        for (const std::string &f : files)
            MultiProcessF->SelListBox->addItem(QString::fromStdString(f));
    }
    static ImageData Load(const std::string &path)
    {
        ImageData image;
        EXPECT_TRUE(LoadImageFile(path, image)) << path;
        return image;
    }
};

} // namespace

TEST_F(MultiProcessTest, BrowserListAndFormatConversionBesideTheInputs)
{
    MultiProcessF->PageControl->setCurrentIndex(2);
    EXPECT_EQ(MultiProcessF->PageControl->tabText(2), "Filters/misc.");
    {
        ModalScript modals; // an empty list leaves EditTarget as it was
        modals.ExpectMessage("Korvi", NoFilesSelected, QMessageBox::Ok);
        EditTarget = EditGuiderImage;
        MultiProcessF->ProcessBtn->click();
    }
    EXPECT_EQ(EditTarget, EditGuiderImage);
    EditTarget = EditActiveImage;

    const std::string a = Write("night.1/a.001.kvr", 3, 2, [](int x, int y) { return 1000 * y + x; });
    const std::string b = Write("night.1/b.kvr", 3, 2, [](int x, int y) { return 7 + x + y; });
    Write("night.1/c.fit", 3, 2, [](int, int) { return 0; });
    MultiProcessF->DirectoryListBoxChange(QString::fromStdString(folder.file("night.1")));
    QListView *files = MultiProcessF->FileListBox;
    ASSERT_TRUE(WaitUntil([&] { return files->model()->rowCount(files->rootIndex()) == 2; })); // *.kvr only
    files->selectAll();
    MultiProcessF->AddFilesBtn->click();
    MultiProcessF->AddFilesBtn->click(); // no duplicates
    ASSERT_EQ(MultiProcessF->ListedFiles(), (std::vector<std::string>{a, b}));
    EXPECT_EQ(CurrentSettings().LastOpenDirectory[0], folder.file("night.1") + "/");

    MultiProcessF->SaveFormat->setCurrentIndex(2);
    EXPECT_EQ(MultiProcessF->BatchSaveExtension, ".png");
    MultiProcessF->UseOutputPath->setChecked(false);
    MultiProcessF->OperationSelect->setCurrentIndex(0);
    MultiProcessF->ProcessBtn->click();
    for (const auto &[input, output] : {std::pair{a, "night.1/a_p.png"}, std::pair{b, "night.1/b_p.png"}}) {
        const ImageData in = Load(input), out = Load(folder.file(output));
        EXPECT_EQ(out.OriginFormat, FormatPng);
        ASSERT_EQ(out.Width, 3);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(out.FrameRow(0, y)[x], in.FrameRow(0, y)[x]);
    }

    // Two inputs that would write one output name: refused before anything is written.
    const std::string a2 = Write("night.2/a.002.kvr", 3, 2, [](int, int) { return 1; });
    MultiProcessF->UseOutputPath->setChecked(true);
    MultiProcessF->OutputPrefix->setText(QString::fromStdString(folder.file("out/run")));
    List({a, a2});
    {
        ModalScript modals;
        modals.ExpectMessage("Korvi",
                             "would both be saved as " + QString::fromStdString(folder.file("out/a_p.png")),
                             QMessageBox::Ok);
        MultiProcessF->ProcessBtn->click();
    }
    EXPECT_FALSE(std::filesystem::exists(folder.file("out")));

    // An output folder that cannot be made (nor the one above it): one box, naming the file, and the run
    // ends.
    List({a, b});
    MultiProcessF->OutputPrefix->setText(QString::fromStdString(folder.file("missing/deeper/run")));
    {
        ModalScript modals;
        modals.ExpectMessage("Korvi",
                             "Could not open file to write (check that path exists).\n" +
                                 QString::fromStdString(folder.file("missing/deeper/a_p.png")),
                             QMessageBox::Ok);
        MultiProcessF->ProcessBtn->click();
    }
    List({a, a2});
    MultiProcessF->RemoveFilesBtn->click(); // nothing selected: the list stays
    MultiProcessF->SelListBox->item(0)->setSelected(true);
    MultiProcessF->RemoveFilesBtn->click();
    EXPECT_EQ(MultiProcessF->ListedFiles(), (std::vector<std::string>{a2}));
}

// For every command of the batch window and for stacking: an output that names a listed input, as
// written or in another spelling of the same file, is refused before anything is written, and
// every input keeps its bytes.
TEST_F(MultiProcessTest, NoCommandSavesOverAListedInputHoweverItIsSpelt)
{
    const std::string x = Write("sweep/x.kvr", 3, 2, [](int x, int y) { return 10 + x + y; });
    const std::string l1 = Write("sweep/l_1.kvr", 3, 2, [](int x, int) { return 500 + x; });
    const std::string l2 = Write("sweep/l_2.kvr", 3, 2, [](int, int y) { return 700 + y; });
    MultiProcessF->SubFile->setText(
        QString::fromStdString(Write("sub.kvr", 3, 2, [](int, int) { return 1; })));
    const std::string dir = folder.file("sweep");
    std::filesystem::create_directory_symlink(dir, folder.file("link"));
    std::map<std::string, std::string> bytes;
    for (const std::string &input : {x, l1, l2})
        bytes[input] = ReadFileBytes(input);
    // The folder of the inputs, spelt as typed into an output name.
    const std::string folders[] = {dir,
                                   dir + "/.",
                                   dir + "/",
                                   dir + "/../sweep",
                                   folder.file("link"),
                                   std::filesystem::relative(dir, std::filesystem::current_path()).string()};
    constexpr const char *StillToRead = "which is still to be processed";
    constexpr const char *ListedInput = "which is the listed input";
    MultiProcessF->SaveFormat->setCurrentIndex(0);
    MultiProcessF->PreserveFileName->setChecked(false); // numbered: x is saved as l_1
    for (QCheckBox *box : {MultiProcessF->ApplyDarkCount, MultiProcessF->ApplyFlatField,
                           MultiProcessF->FixHotPixels, MultiProcessF->FixBadColumns})
        box->setChecked(false);
    TStackMultipleF *stack = StackMultipleF;
    ASSERT_NE(stack, nullptr);
    stack->Prefix->setText(QString::fromStdString(dir + "/l_"));
    stack->InputExtension = "kvr";
    stack->FirstExtNum->setValue(1);
    stack->LastExtNum->setValue(2);
    stack->noalignbtn->click();
    struct Command {
        const char *name;
        QPushButton *button;
        const char *output; // after the folder
        const char *refusal;
    };
    const Command commands[] = {
        {"Process images", MultiProcessF->ProcessBtn, "/l", StillToRead},
        {"Subtract", MultiProcessF->SubtractBtn, "/l", StillToRead},
        {"Apply scaling", MultiProcessF->ApplyScalingBtn, "/l", StillToRead},
        {"Apply corrections", MultiProcessF->ApplyCorrBtn, "/l", StillToRead},
        {"Sum", MultiProcessF->SumBtn, "/l_1", ListedInput},
        {"Create dark frame", MultiProcessF->ThermalFrameBtn, "/l_1", ListedInput},
        {"Create flat frame", MultiProcessF->FlatFrameBtn, "/l_1", ListedInput},
        {"Stack and trim", stack->StackBtn, "/l_1.kvr", ListedInput},
    };
    List({x, l1, l2});
    for (const Command &c : commands)
        for (const std::string &spelt : folders) {
            const QString output = QString::fromStdString(spelt + c.output);
            (c.button == stack->StackBtn ? stack->OutputPrefix : MultiProcessF->OutputPrefix)
                ->setText(output);
            ModalScript modals;
            modals.ExpectMessage("Korvi", c.refusal, QMessageBox::Ok);
            c.button->click();
            EXPECT_EQ(modals.Pending(), 0) << c.name << " with " << output.toStdString();
            for (const auto &[input, kept] : bytes)
                EXPECT_TRUE(ReadFileBytes(input) == kept)
                    << input << " changed by " << c.name << " with " << output.toStdString();
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 3)
                << c.name << " with " << output.toStdString();
        }
}

// "Preview result" opens a new image: "Save Image" asks for its name instead of writing over the
// listed file it was computed from.
TEST_F(MultiProcessTest, SubtractionPreviewIsANewImageThatSaveAsksToName)
{
    const std::string light = Write("light.kvr", 3, 2, [](int, int) { return 500; });
    MultiProcessF->SubFile->setText(
        QString::fromStdString(Write("dark.kvr", 3, 2, [](int, int) { return 100; })));
    MultiProcessF->Weight->setText(QStringLiteral("1"));
    MultiProcessF->SaveFormat->setCurrentIndex(1);
    List({light});
    const std::string before = ReadFileBytes(light);
    MultiProcessF->PreviewSubtractBtn->click();
    TChild *preview = window->FirstImageWindow();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->ConstImage().FileName, "");
    EXPECT_EQ(preview->ConstImage().FrameRow(0, 1)[2], 400);
    {
        ModalScript modals;
        modals.ExpectSaveFile(QString::fromStdString(folder.file("preview.fit")), "Select save file name");
        window->Save->trigger();
        EXPECT_EQ(modals.Pending(), 0);
    }
    EXPECT_TRUE(ReadFileBytes(light) == before) << "the listed file was written over";
    const ImageData saved = Load(folder.file("preview.fit"));
    EXPECT_EQ(saved.OriginFormat, FormatFits);
    EXPECT_EQ(saved.FrameRow(0, 1)[2], 400);
}

TEST_F(MultiProcessTest, QuickSelectTakesNamesTypedByHand)
{
    const std::string m1 = Write("m31_1.kvr", 2, 2, [](int, int) { return 1; });
    const std::string m2 = Write("m31_2.kvr", 2, 2, [](int, int) { return 2; });
    MultiProcessF->FirstExtNum->setValue(1);
    MultiProcessF->LastExtNum->setValue(3);
    struct Case {
        std::string prefix, extension;
    } cases[] = {{folder.file("m31_"), "kvr"},
                 {folder.file("m31_"), ".kvr"},
                 {folder.file("m31"), "kvr"},
                 {folder.file("m31_"), ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.prefix + " " + c.extension);
        MultiProcessF->SelListBox->clear();
        MultiProcessF->Prefix->setText(QString::fromStdString(c.prefix));
        MultiProcessF->FileExtension->setText(QString::fromStdString(c.extension));
        MultiProcessF->AddNumFileSeqBtn->click();
        EXPECT_EQ(MultiProcessF->ListedFiles(), (std::vector<std::string>{m1, m2}));
    }
    // Nothing matches: the message says what was looked for.
    MultiProcessF->SelListBox->clear();
    MultiProcessF->Prefix->setText(QString::fromStdString(folder.file("m32_")));
    MultiProcessF->FileExtension->setText(QStringLiteral("fit"));
    {
        ModalScript modals;
        modals.ExpectMessage("Korvi",
                             QString::fromStdString("No files were found named " + folder.file("m32_") +
                                                    "<n>.fit for n from 1 to 3."),
                             QMessageBox::Ok);
        MultiProcessF->AddNumFileSeqBtn->click();
    }
    EXPECT_TRUE(MultiProcessF->ListedFiles().empty());

    // With no folder used yet, the dialogs open on the frames folder, not on the root.
    CurrentSettings().LastSaveDirectory[0].clear();
    {
        ModalScript modals;
        modals.ExpectFileDialogCancel(QStringLiteral("Select save filename"));
        MultiProcessF->BrowseBtn2->click();
        ASSERT_EQ(modals.Seen().size(), 1u);
        EXPECT_EQ(QDir::cleanPath(modals.Seen()[0].directory).toStdString(),
                  QDir::cleanPath(QString::fromStdString(CurrentSettings().ProgramDirectory + "Frames"))
                      .toStdString());
    }
}

TEST_F(MultiProcessTest, SubtractEndsAtAFrameOfAnotherSize)
{
    MultiProcessF->SubFile->setText(
        QString::fromStdString(Write("ref.kvr", 3, 2, [](int x, int) { return 100 * x; })));
    MultiProcessF->Weight->setText(QStringLiteral("2"));
    MultiProcessF->OutputPrefix->setText(QString::fromStdString(folder.file("out/x")));
    std::filesystem::create_directories(folder.file("out"));
    const std::string a = Write("a.kvr", 3, 2, [](int x, int y) { return y == 0 ? 150 + x : 65535; });
    const std::string small = Write("small.kvr", 2, 2, [](int, int) { return 5; });
    const std::string b = Write("b.kvr", 3, 2, [](int, int) { return 9; });
    List({a, small, b});
    BoxWatcher boxes([](QMessageBox *) {
        MultiProcessF->StopBtn->click(); // pressed while the question is open: ends after it
        return QMessageBox::Yes;
    });
    MultiProcessF->SubtractBtn->click();
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], QString::fromLatin1(SubtractSizeDiffers));
    const ImageData out = Load(folder.file("out/a_p.kvr"));
    // p - 2 s: 150 - 0, 151 - 200 -> 0, 152 - 400 -> 0; 65535 - 0 stays 65535.
    EXPECT_EQ(out.FrameRow(0, 0)[0], 150);
    EXPECT_EQ(out.FrameRow(0, 0)[1], 0);
    EXPECT_EQ(out.FrameRow(0, 1)[0], 65535);
    EXPECT_EQ(out.FrameRow(0, 1)[2], 65535 - 400);
    EXPECT_FALSE(std::filesystem::exists(folder.file("out/b_p.kvr")));
    EXPECT_TRUE(MultiProcessF->SumBtn->isEnabled()); // the window is usable again
    EXPECT_FALSE(MultiProcessF->StopBtn->isEnabled());
}

TEST_F(MultiProcessTest, DarkFrameThenDarkBadColumnAndHotPixelCorrections)
{
    const int w = 6, h = 5;
    std::vector<std::string> darks;
    for (int k = 0; k < 3; ++k)
        darks.push_back(Write(
            "dark" + std::to_string(k) + ".kvr", w, h,
            [k](int x, int y) { return 100 + (x + 6 * y + k) % 7 * 10; }, 100));
    List(darks);
    // A master frame that cannot be saved leaves the dark frame box as it was; so does a list
    // with a frame of another size, which saves nothing; an empty output prefix is refused.
    MultiProcessF->ThermalFrame->setText(QStringLiteral("older.kvr"));
    MultiProcessF->OutputPrefix->setText(
        QString::fromStdString(folder.file("no-such-folder/deeper/master_dark")));
    {
        ModalScript modals;
        modals.ExpectMessage("Korvi",
                             "Could not open file to write (check that path exists).\n" +
                                 QString::fromStdString(folder.file("no-such-folder/deeper/master_dark.kvr")),
                             QMessageBox::Ok);
        MultiProcessF->ThermalFrameBtn->click();
    }
    EXPECT_EQ(MultiProcessF->ThermalFrame->text(), QStringLiteral("older.kvr"));
    MultiProcessF->OutputPrefix->setText(QString::fromStdString(folder.file("master_dark")));
    List({darks[0], Write("odd.kvr", 3, 3, [](int, int) { return 1; }), darks[1]});
    {
        ModalScript modals;
        modals.ExpectMessage("Korvi", FramesDifferInSize, QMessageBox::Ok);
        MultiProcessF->ThermalFrameBtn->click();
    }
    EXPECT_FALSE(std::filesystem::exists(folder.file("master_dark.kvr")));
    EXPECT_EQ(MultiProcessF->ThermalFrame->text(), QStringLiteral("older.kvr"));
    MultiProcessF->OutputPrefix->setText(QStringLiteral(" "));
    {
        ModalScript modals;
        modals.ExpectMessage("Korvi", "Enter an output file prefix; nothing was processed.", QMessageBox::Ok);
        MultiProcessF->ThermalFrameBtn->click();
    }
    List(darks);
    MultiProcessF->OutputPrefix->setText(QString::fromStdString(folder.file("master_dark")));
    MultiProcessF->ThermalFrameBtn->click();
    const std::string darkName = folder.file("master_dark.kvr");
    EXPECT_EQ(MultiProcessF->ThermalFrame->text().toStdString(), darkName);
    const ImageData dark = Load(darkName);
    EXPECT_EQ(dark.Description, "Dark (thermal) frame, bias subtracted.");
    // Sum of (p - 100) is 10 x (three residues mod 7); the largest is 10 x (6 + 5 + 4) = 150.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sum = 0;
            for (int k = 0; k < 3; ++k)
                sum += (x + 6 * y + k) % 7 * 10;
            ASSERT_EQ(dark.FrameRow(0, y)[x], sum * 65535 / 150) << x << "," << y;
        }

    const auto light = [](int x, int y) { return 3000 + 37 * x + 101 * y; };
    const std::string l1 = Write("night.3/l1.001.kvr", w, h, light, 50.5f, 20);
    const std::string l2 = Write("night.3/l2.kvr", 4, 4, light, 50.5f, 20);
    List({l1, l2});
    WriteFileBytes(folder.file("columns.csv"), "2, 1, 3\n9, 0, 4\n");
    WriteFileBytes(folder.file("hot.csv"), "0, 0\n5, 4\n");
    MultiProcessF->BadColumnMapFile->setText(QString::fromStdString(folder.file("columns.csv")));
    MultiProcessF->HotPixelMapFile->setText(QString::fromStdString(folder.file("hot.csv")));
    MultiProcessF->ApplyDarkCount->setChecked(true);
    MultiProcessF->FixBadColumns->setChecked(true);
    MultiProcessF->FixHotPixels->setChecked(true);
    {
        ModalScript modals;
        modals.ExpectMessage("Korvi", "is 4 x 4 pixels, not 6 x 5", QMessageBox::Yes);
        modals.ExpectMessage("Korvi", "1 entries of the bad-column list lie partly or wholly outside",
                             QMessageBox::Ok);
        MultiProcessF->ApplyCorrBtn->click();
    }
    // Transcription: t = 50, v = trunc(20 + 50.5 - 50) = 20, r = max(0, trunc((p - t) - d v / D)).
    std::vector<std::vector<long double>> e(h, std::vector<long double>(w));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            e[y][x] = std::max(0.0L, std::trunc((light(x, y) - 50) - dark.FrameRow(0, y)[x] * 20.0L /
                                                                         std::max(1.0f, dark.OffsetLevel)));
    for (int y = 1; y <= 3; ++y)
        e[y][2] = std::min(e[y][1], e[y][3]);
    e[0][0] = std::trunc((e[0][1] + e[1][0]) / 2);
    e[4][5] = std::trunc((e[4][4] + e[3][5]) / 2);
    const ImageData out = Load(folder.file("l1_p.kvr"));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(out.FrameRow(0, y)[x], static_cast<int>(e[y][x])) << x << "," << y;
    EXPECT_EQ(out.OffsetLevel, 0.0f);
    EXPECT_EQ(out.XHi, w - 1);
    EXPECT_FALSE(std::filesystem::exists(folder.file("l2_p.kvr")));

    // A bad-column list longer than the table is refused before any file is touched.
    std::filesystem::remove(folder.file("l1_p.kvr"));
    std::string many;
    for (int i = 0; i <= MaxBadColumns; ++i)
        many += "1, 0, 1\n";
    WriteFileBytes(folder.file("columns.csv"), many);
    {
        ModalScript modals;
        modals.ExpectMessage("Korvi", TooManyBadColumns, QMessageBox::Ok);
        MultiProcessF->ApplyCorrBtn->click();
    }
    EXPECT_FALSE(std::filesystem::exists(folder.file("l1_p.kvr")));
    MultiProcessF->FixBadColumns->setChecked(false);

    // A flat frame whose normalisation is 0 is refused before any file is touched.
    const std::string flat = Write(
        "flat.kvr", w, h, [](int, int) { return 1000; }, 0);
    MultiProcessF->FlatFrame->setText(QString::fromStdString(flat));
    MultiProcessF->ApplyFlatField->setChecked(true);
    {
        ModalScript modals;
        modals.ExpectMessage("Korvi", "normalisation", QMessageBox::Ok);
        MultiProcessF->ApplyCorrBtn->click();
    }
    EXPECT_FALSE(std::filesystem::exists(folder.file("l1_p.kvr")));
}

TEST_F(MultiProcessTest, FilterSumAndScalePagesNumberTheirOutputs)
{
    const std::string a = Write("a.kvr", 3, 2, [](int x, int y) { return 100 * x + y; });
    const std::string b = Write("b.kvr", 3, 2, [](int x, int) { return 40 + x; });
    List({a, folder.file("missing.kvr"), b});
    MultiProcessF->PreserveFileName->setChecked(false);
    MultiProcessF->OutputPrefix->setText(QString::fromStdString(folder.file("run")));

    // "Subtract bias" with the processing dialog's level, on each file; the skipped file leaves
    // no gap in the numbering.
    FilterF->BiasLevel->setValue(50);
    MultiProcessF->OperationSelect->setCurrentIndex(15);
    {
        ModalScript modals;
        modals.ExpectMessage("Korvi",
                             "Could not open file: " + QString::fromStdString(folder.file("missing.kvr")) +
                                 ". Skip file and proceed?",
                             QMessageBox::Yes);
        MultiProcessF->ProcessBtn->click();
    }
    const ImageData first = Load(folder.file("run_1.kvr")), second = Load(folder.file("run_2.kvr"));
    EXPECT_EQ(first.FrameRow(0, 1)[2], 201 - 50);
    EXPECT_EQ(first.FrameRow(0, 0)[0], 0);
    EXPECT_EQ(second.FrameRow(0, 0)[2], 0);
    EXPECT_EQ(EditTarget, EditActiveImage);

    // Sum (averaged) of the two readable files, saved as the prefix itself.
    List({a, b});
    MultiProcessF->SumBtn->click();
    const ImageData sum = Load(folder.file("run.kvr"));
    EXPECT_EQ(sum.FrameRow(0, 1)[2], (201 + 42) / 2);

    // Scale size: 2 x horizontally, 1 x vertically.
    MultiProcessF->VertHorzScaleCheckbox->click();
    EXPECT_TRUE(MultiProcessF->VScale->isEnabled());
    MultiProcessF->HScale->setText(QStringLiteral("2"));
    MultiProcessF->ApplyScalingBtn->click();
    const ImageData scaled = Load(folder.file("run_1.kvr"));
    EXPECT_EQ(scaled.Width, 6);
    EXPECT_EQ(scaled.Height, 2);
    EXPECT_EQ(scaled.FrameRow(0, 1)[5], 201);
}

TEST_F(MultiProcessTest, FilterSettingsHoldTheDialogOnlyUntilItServesAnImageAgain)
{
    const std::string a = Write("a.kvr", 4, 3, [](int x, int y) { return 100 * x + y; });
    ASSERT_EQ(window->LoadImageFiles({QString::fromStdString(a)}), 1);
    QAction *median = window->findChild<QAction *>(QStringLiteral("Medianfilter1"));
    ASSERT_NE(median, nullptr);
    MultiProcessF->OperationSelect->setCurrentIndex(5);
    MultiProcessF->FilterSettings->click();
    ASSERT_TRUE(FilterF->isVisible());
    EXPECT_FALSE(FilterF->ApplyBtn->isEnabled()); // settings for the batch only
    median->trigger();                            // chosen for the active image while open
    EXPECT_TRUE(FilterF->ApplyBtn->isEnabled());
    EXPECT_TRUE(FilterF->PreviewBtn->isEnabled());

    MultiProcessF->FilterSettings->click();
    EXPECT_FALSE(FilterF->RedoBtn->isEnabled());
    FilterF->close(); // closed and opened again, with the batch window still open
    median->trigger();
    ASSERT_TRUE(FilterF->isVisible());
    EXPECT_TRUE(FilterF->ApplyBtn->isEnabled());
    EXPECT_FALSE(FilterF->UndoBtn->isEnabled()); // the dialog has changed nothing to undo
    FilterF->close();
}

TEST_F(MultiProcessTest, EqualizeMapsEveryFileThroughTheEqualizationWindowsCurve)
{
    ASSERT_NE(EqualizeF, nullptr);
    const std::string a = Write("a.kvr", 4, 3, [](int x, int y) { return 5000 * x + 700 * y + 3; });
    const std::string b = Write("b.kvr", 4, 3, [](int x, int y) { return 60000 - 4000 * x - 900 * y; });
    List({a, b});
    MultiProcessF->PreserveFileName->setChecked(false);
    MultiProcessF->OutputPrefix->setText(QString::fromStdString(folder.file("eq")));

    // "Filter settings..." opens the curve the run will use, applying nothing.
    MultiProcessF->OperationSelect->setCurrentIndex(3);
    EqualizeF->UseImageHistogram->setChecked(true);
    MultiProcessF->FilterSettings->click();
    EXPECT_TRUE(EqualizeF->isVisible());
    EXPECT_TRUE(EqualizeF->UseModelHistogram->isChecked());

    // Bend the curve: its top end pulled down to half height, so levels are roughly halved.
    EqualizationCurve &curve = EqualizeF->Curve();
    curve.MouseDown(true, curve.Width(), 0);
    curve.Drag(curve.Width(), curve.Height() / 2);
    curve.MouseUp();
    EqualizeF->UseImageHistogram->setChecked(true); // the run chooses the curve again
    MultiProcessF->ProcessBtn->click();

    const FloatVector &table = EqualizeF->ModelTable();
    for (const auto &[input, output] :
         {std::pair{a, folder.file("eq_1.kvr")}, std::pair{b, folder.file("eq_2.kvr")}}) {
        const ImageData in = Load(input), out = Load(output);
        ASSERT_EQ(out.Width, 4);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                const int v = in.FrameRow(0, y)[x];
                EXPECT_EQ(out.FrameRow(0, y)[x], static_cast<int>(table[v])) << x << "," << y;
                if (v > 20000) {
                    EXPECT_LT(out.FrameRow(0, y)[x], v * 0.75) << "the bent curve was not used";
                }
            }
    }
    EXPECT_EQ(EditTarget, EditActiveImage);
}
