// The unit every processing window shares, driven through the main window with a stand-in
// processing window: target resolution at every click, snapshot and undo, preview, the redo
// routing to the window that owns the operation, and the undo buffer lent as scratch.
#include "capture_test_support.h"
#include "tools_test_support.h"

#include "bloom_removal_window.h"
#include "composite/cf_settings.h"
#include "composite/composite_editor.h"
#include "edit_target.h"
#include "equalization_window.h"
#include "fourier_window.h"
#include "guiding/guider_window.h"
#include "image_information.h"
#include "image_window.h"
#include "main_window.h"
#include "palette_editor.h"
#include "processing/filters.h"
#include "processing_dialog.h"
#include "processing_target.h"
#include "sky_model_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QWidget>

#include <memory>
#include <vector>

using namespace korvi::test;

namespace
{

// Adds 5 to every pixel of the target; owns one operation code.
class StandInWindow : public QWidget, public OperationOwner
{
public:
    StandInWindow(int code, bool repeats) : code_(code), repeats_(repeats) {}
    void ApplyBtnClick() { Run(ProcessingTarget::Resolve(nullptr)); }
    void Run(const ProcessingTarget &target)
    {
        if (!target)
            return;
        Operation operation{code_, "StandIn", {}};
        if (repeats_)
            operation.repeat = [this](const ProcessingTarget &again) { Run(again); };
        target.Apply(operation, [](ImageData &image) {
            for (int y = 0; y < image.Height; ++y)
                for (int x = 0; x < image.Width; ++x)
                    image.FrameRow(0, y)[x] += 5;
        });
        ++applied;
    }
    bool CanRepeatOperation(int code) const override { return repeats_ && code == code_; }
    int applied = 0;

private:
    int code_;
    bool repeats_;
};

class ProcessingTargetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        main = std::make_unique<TMainF>(folder.Dir(), QStringList{});
        main->show();
        const std::string path = folder.File("ramp.kvr");
        WriteTestImage(path, 16, 8, [](int x, int y) { return 100 + x + 20 * y; });
        ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(path)}), 1);
        window = main->FirstImageWindow();
        EditTarget = EditActiveImage;
    }
    void TearDown() override
    {
        main->ClosingDone = true;
        main.reset();
        EditTarget = EditActiveImage;
        LastOperation = 0;
    }
    int Pixel(int x, int y) const { return window->ConstImage().FrameRow(0, y)[x]; }

    ProgramFolder folder;
    ModalScript script;
    std::unique_ptr<TMainF> main;
    TChild *window = nullptr;
};

TEST_F(ProcessingTargetTest, NoImageWindowMeansNoTargetAndNothingChanges)
{
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    StandInWindow tool(1, true);
    main->RegisterWindow("TFilterF", &tool);
    main->UndoWindowTag = 1234;
    tool.ApplyBtnClick();
    EXPECT_EQ(tool.applied, 0);
    EXPECT_EQ(main->UndoWindowTag, 1234);
    EXPECT_FALSE(PreviewOperation(ProcessingTarget::Resolve(nullptr), [&] { tool.ApplyBtnClick(); }));
}

TEST_F(ProcessingTargetTest, ApplyUndoRedoAndPreview)
{
    StandInWindow tool(4, true);
    main->RegisterWindow("TFilterF", &tool);
    tool.ApplyBtnClick();
    EXPECT_EQ(Pixel(3, 2), 100 + 3 + 40 + 5);
    EXPECT_EQ(LastOperation.load(), 4);
    EXPECT_EQ(main->UndoWindowTag, window->Tag());
    EXPECT_TRUE(main->Undo1->isEnabled());
    EXPECT_EQ(main->Undo1->text(), "&Undo filter");
    EXPECT_TRUE(main->Redo1->isEnabled());

    main->Redo1->trigger(); // repeats through the owner: a new snapshot of the processed image
    EXPECT_EQ(Pixel(3, 2), 100 + 3 + 40 + 10);
    main->Undo1->trigger();
    EXPECT_EQ(Pixel(3, 2), 100 + 3 + 40 + 5);

    // Preview: the operation runs and is rendered, then the pixels are put back; the Undo of
    // the Apply before it is kept.
    tool.ApplyBtnClick();
    ASSERT_EQ(Pixel(3, 2), 100 + 3 + 40 + 10);
    const std::vector<std::uint16_t> before(window->ConstImage().FramePixels(0),
                                            window->ConstImage().FramePixels(0) + 16 * 8);
    EXPECT_TRUE(PreviewOperation(ProcessingTarget::Resolve(nullptr), [&] { tool.ApplyBtnClick(); }));
    EXPECT_EQ(tool.applied, 4);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), window->ConstImage().FramePixels(0)));
    EXPECT_TRUE(main->Undo1->isEnabled());
    EXPECT_EQ(main->Undo1->text(), "&Undo filter");
    EXPECT_TRUE(main->Redo1->isEnabled());
    main->Undo1->trigger();
    EXPECT_EQ(Pixel(3, 2), 100 + 3 + 40 + 5);
}

TEST_F(ProcessingTargetTest, RedoOfAnOperationNoWindowRepeatsKeepsTheOriginalForUndo)
{
    StandInWindow fourier(100, false);
    main->RegisterWindow("TFourierF", &fourier);
    fourier.ApplyBtnClick();
    EXPECT_FALSE(main->Redo1->isEnabled());
    main->RedoActionExecute(); // nothing repeats code 100: no snapshot of the processed image
    EXPECT_EQ(fourier.applied, 1);
    main->UndoActionExecute();
    EXPECT_EQ(Pixel(0, 0), 100);
}

TEST_F(ProcessingTargetTest, SnapshotsOfOtherTargetsAndBorrowedScratchInvalidateTheUndoTag)
{
    StandInWindow tool(2, true);
    main->RegisterWindow("TFilterF", &tool);
    tool.ApplyBtnClick();
    ASSERT_EQ(main->UndoWindowTag, window->Tag());
    ImageData &scratch = BorrowUndoBuffer();
    scratch.Allocate(4, 4, 1);
    EXPECT_EQ(main->UndoWindowTag, -1);
    main->UndoActionExecute();
    EXPECT_EQ(window->ConstImage().Width, 16); // the scratch image did not land in the window
    EXPECT_EQ(Pixel(0, 0), 105);

    // A batch image is changed without a snapshot; a snapshot of another image drops the tag.
    tool.ApplyBtnClick();
    ImageData batch;
    batch.Allocate(2, 2, 1);
    EditTarget = EditBatchImage;
    const ProcessingTarget target = ProcessingTarget::Resolve(&batch);
    ASSERT_TRUE(target);
    EXPECT_EQ(&target.Image(), &batch);
    target.Snapshot(2);
    EXPECT_EQ(main->UndoWindowTag, window->Tag());
    EditTarget = EditGuiderImage; // no guider window built: no target
    EXPECT_FALSE(ProcessingTarget::Resolve(&batch));
}

// ---------------------------------------------------------------------------------------------
// The real processing windows, each acting on the image it shows, with one undo record.

using Pixels = std::vector<std::uint16_t>;

int Noise(int x, int y)
{
    return (x * 7919 + y * 104729 + x * y * 31) % 3000 + 1000 + (x == 5 && y == 4 ? 60000 : 0);
}

class ProcessingWindowsTest : public ToolsWindowTest
{
protected:
    void TearDown() override
    {
        EXPECT_EQ(script.unexpected, 0);
        ToolsWindowTest::TearDown();
        EditTarget = EditActiveImage;
        LastOperation = 0;
    }
    QAction *Menu(const char *name) const { return main->findChild<QAction *>(QString::fromLatin1(name)); }
    // Makes `window` the active one and chooses a menu item for it.
    void ChooseFor(TChild *window, const char *item)
    {
        main->MdiArea->setActiveSubWindow(window);
        Menu(item)->trigger();
        QApplication::processEvents();
    }
    static Pixels Frame(const ImageData &image)
    {
        return Pixels(image.FramePixels(0), image.FramePixels(0) + image.Width * image.Height);
    }
    static Pixels Frame(const TChild *window) { return Frame(window->ConstImage()); }
    // What `filter` makes of a copy of the window's pixels.
    static Pixels Filtered(const TChild *window, const std::function<void(ImageData &)> &filter)
    {
        ImageData copy;
        copy.Assign(window->ConstImage());
        filter(copy);
        return Frame(copy);
    }
    static void Select(TChild *window, int x0, int y0, int x1, int y1)
    {
        ImageData &image = window->Image();
        image.SelX0 = x0;
        image.SelY0 = y0;
        image.SelX1 = x1;
        image.SelY1 = y1;
        image.SelectionShown = true;
    }
    ImageData &Layer(int layer) { return Composite().Layers[layer]; }
    void FillLayer(int layer, int width, int height, const std::function<int(int, int)> &value)
    {
        ImageData &image = Layer(layer);
        image.Allocate(width, height, 1);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(value(x, y));
        Composite().UseInComposite[layer] = true;
    }

    ModalScript script;
};

TEST_F(ProcessingWindowsTest, ApplyAndRedoRunTheOperationShownWithItsOwnValues)
{
    TChild *a = OpenImage(60, 40, Noise);
    // The trim page is brought up with corners that are never applied, then the median page.
    ChooseFor(a, "TrimCustom1");
    FilterF->TrimXLO->setValue(10);
    FilterF->TrimYLO->setValue(5);
    FilterF->TrimXHI->setValue(30);
    FilterF->TrimYHI->setValue(25);
    ChooseFor(a, "Medianfilter1");
    ASSERT_EQ(FilterF->PageControl->currentWidget(), FilterF->MedianPage);
    Select(a, 2, 2, 50, 35);
    ChooseFor(a, "FastTrim1"); // LastOperation 7 again, from the main window
    ASSERT_EQ(a->ConstImage().Width, 49);
    const Pixels trimmed = Frame(a);
    const Pixels median = Filtered(a, [](ImageData &i) { ApplyMedianFilter(i, 5, 0.0f); });
    FilterF->ApplyBtn->click(); // the median shown, not the trim
    EXPECT_EQ(a->ConstImage().Width, 49);
    EXPECT_EQ(a->ConstImage().Height, 34);
    EXPECT_EQ(Frame(a), median);
    main->Undo1->trigger();
    EXPECT_EQ(Frame(a), trimmed);
    FilterF->RedoBtn->click(); // repeats the median on the trimmed image
    EXPECT_EQ(Frame(a), median);
    main->Undo1->trigger();

    // Redo repeats the values the operation ran with, not those the spins show now.
    ChooseFor(a, "Gaussiancrossconvolution1");
    FilterF->Sigma->setValue(1);
    FilterF->ApplyBtn->click();
    const Pixels sigma1 = Frame(a);
    ASSERT_NE(sigma1, trimmed);
    FilterF->UndoBtn->click();
    ASSERT_EQ(Frame(a), trimmed);
    FilterF->Sigma->setValue(4);
    FilterF->RedoBtn->click();
    EXPECT_EQ(Frame(a), sigma1);
    main->Undo1->trigger();

    // After another window's operation the dialog offers neither Undo nor Redo, and its Apply
    // runs the page shown (not the equalization, which would change nothing and take the Undo).
    Menu("Quick1")->trigger();
    const Pixels equalized = Frame(a);
    ASSERT_NE(equalized, trimmed);
    EXPECT_FALSE(FilterF->UndoBtn->isEnabled());
    EXPECT_FALSE(FilterF->RedoBtn->isEnabled());
    const Pixels gauss4 = Filtered(a, [](ImageData &i) { ApplyGaussianConvolution(i, 4); });
    FilterF->ApplyBtn->click();
    EXPECT_EQ(Frame(a), gauss4);
    main->Undo1->trigger();
    EXPECT_EQ(Frame(a), equalized);

    // The Minimal/Maximal page with "Minimal filter" checked runs the minimal filter.
    ChooseFor(a, "Minimalmaximalfilter1");
    ASSERT_TRUE(FilterF->MinimalBtn->isChecked());
    const Pixels minimal = Filtered(a, [](ImageData &i) { ApplyMinMaxFilter(0, true, i); });
    FilterF->ApplyBtn->click();
    EXPECT_EQ(Frame(a), minimal);

    // A file load replaces the snapshot: nothing of the dialog's to undo or redo.
    const std::string path = folder.File("loaded.kvr");
    WriteTestImage(path, 8, 8, Noise);
    ASSERT_EQ(main->LoadImageFiles({QString::fromStdString(path)}), 1);
    EXPECT_FALSE(FilterF->UndoBtn->isEnabled());
    EXPECT_FALSE(FilterF->RedoBtn->isEnabled());
}

TEST_F(ProcessingWindowsTest, UndoRestoresTheTargetTheOperationChangedAndNothingElse)
{
    TChild *a = OpenImage(60, 40, [](int x, int y) { return x == 30 && y > 4 ? 65535 : Noise(x, y); });
    const Pixels original = Frame(a);
    // A composite layer, quick-equalized by the editor.
    CompositeF->show();
    FillLayer(0, 40, 32, Noise);
    FillLayer(1, 40, 32, [](int x, int y) { return 2 * Noise(x, y); });
    CompositeF->LayerBtn[0]->click();
    CompositeF->QuickClick();
    const Pixels layerEqualized = Frame(Layer(0));
    // The bloom window removes A's trail; then a composite command names the layer.
    ChooseFor(a, "Removebloom1");
    BloomRemovalF->ApplyBtn->click();
    const Pixels bloomed = Frame(a);
    ASSERT_NE(bloomed, original);
    EXPECT_TRUE(BloomRemovalF->UndoBtn->isEnabled());
    EXPECT_FALSE(FilterF->UndoBtn->isEnabled());
    CompositeF->PaletteForCurrentClick();
    PaletteSet->hide();
    EXPECT_FALSE(CompositeF->Undo1->isEnabled()); // the last operation was on A
    BloomRemovalF->UndoBtn->click();
    EXPECT_EQ(Frame(a), original);
    EXPECT_EQ(Frame(Layer(0)), layerEqualized);

    // Composite: a median on layer 0, then a palette and an intensity on layer 1; Undo brings
    // back layer 0's pixels only.
    CompositeF->LayerBtn[0]->click();
    CompositeF->ProcessingItemClick(5, "TFilterF");
    ASSERT_EQ(FilterF->PageControl->currentWidget(), FilterF->MedianPage);
    FilterF->ApplyBtn->click();
    ASSERT_NE(Frame(Layer(0)), layerEqualized);
    EXPECT_EQ(Frame(a), original);
    CompositeF->LayerBtn[1]->click();
    CompositeF->PaletteForCurrentClick();
    PPalette spectrum;
    spectrum.Assign(CurrentSettings().DefaultPalettes[0]);
    PaletteSet->Palette.Assign(Layer(0).Palette.SameCurves(spectrum) ? PPalette() : spectrum);
    const PPalette chosen = [] {
        PPalette copy;
        copy.Assign(PaletteSet->Palette);
        return copy;
    }();
    Layer(1).Modified = false;
    PaletteSet->OkBtnClick();
    EXPECT_TRUE(Layer(1).Modified); // the palette is stored with the layer: closing must ask
    Layer(1).Gain = 3.5f;
    CompositeF->Undo1->trigger();
    EXPECT_EQ(Frame(Layer(0)), layerEqualized);
    EXPECT_TRUE(Layer(1).Palette.SameCurves(chosen));
    EXPECT_FLOAT_EQ(Layer(1).Gain, 3.5f);

    // A refused operation leaves the Undo of the work before, and the Modified flag, alone.
    a->Image().Modified = false;
    ChooseFor(a, "Medianfilter1");
    FilterF->ApplyBtn->click();
    const Pixels median = Frame(a);
    TChild *small = OpenImage(30, 20, Noise);
    ChooseFor(small, "Removebloom1");
    script.PressBox(QMessageBox::Ok);
    BloomRemovalF->ApplyBtn->click();
    EXPECT_TRUE(script.Done());
    EXPECT_FALSE(small->ConstImage().Modified);
    EXPECT_EQ(main->UndoWindowTag, a->Tag());
    main->PolyOrder->setValue(9);
    script.PressBox(QMessageBox::Ok);
    main->SkySubtractBtn->click();
    EXPECT_TRUE(script.Done());
    EXPECT_FALSE(small->ConstImage().Modified);
    main->Undo1->trigger(); // still the median on A
    EXPECT_EQ(Frame(a), original);
    ASSERT_NE(median, original);
    main->PolyOrder->setValue(1);

    // The processed window closes: Undo and Redo no longer offered.
    ChooseFor(a, "Medianfilter1");
    FilterF->ApplyBtn->click();
    ASSERT_TRUE(main->Undo1->isEnabled());
    ASSERT_TRUE(main->Redo1->isEnabled());
    a->Image().Modified = false;
    a->close();
    ASSERT_TRUE(WaitFor([&] { return !main->Undo1->isEnabled(); }));
    EXPECT_FALSE(main->Redo1->isEnabled());
    EXPECT_FALSE(FilterF->RedoBtn->isEnabled());
}

TEST_F(ProcessingWindowsTest, WindowsActOnTheImageTheyShow)
{
    TChild *a = OpenImage(48, 36, Noise);
    TChild *b = OpenImage(20, 20, [](int x, int y) { return 3000 + 10 * x + y; });
    const Pixels bOriginal = Frame(b);
    CompositeF->show();
    FillLayer(0, 40, 32, Noise);
    CompositeF->LayerBtn[0]->click();
    const Pixels layer = Frame(Layer(0));

    // The dialog opened for A keeps acting on A after a composite command and after B is clicked.
    ChooseFor(a, "Gaussiancrossconvolution1");
    CompositeF->PaletteForCurrentClick();
    PaletteSet->hide();
    main->MdiArea->setActiveSubWindow(b);
    const Pixels gaussA = Filtered(a, [](ImageData &i) { ApplyGaussianConvolution(i, 1); });
    FilterF->ApplyBtn->click();
    EXPECT_EQ(Frame(a), gaussA);
    EXPECT_EQ(Frame(b), bOriginal);
    EXPECT_EQ(Frame(Layer(0)), layer);

    // The log rescale filled from A is applied to A, not to B clicked since.
    ChooseFor(a, "Logarithmicrescaling1");
    main->MdiArea->setActiveSubWindow(b);
    FilterF->ApplyBtn->click();
    EXPECT_NE(Frame(a), gaussA);
    EXPECT_EQ(Frame(b), bOriginal);

    // The equalization window showing A equalizes A, not B.
    ChooseFor(a, "Custom1");
    const Pixels beforeEqualization = Frame(a);
    main->MdiArea->setActiveSubWindow(b);
    EqualizeF->ApplyBtn->click();
    EXPECT_NE(Frame(a), beforeEqualization);
    EXPECT_EQ(Frame(b), bOriginal);

    // The guider image is a processing target: its "Subtract sky" is undone on it, and the
    // windows opened for A still act on A after the guider's commands.
    ImageData &guider = GuiderF->GuiderImage;
    guider.Allocate(64, 48, 1);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            guider.FrameRow(0, y)[x] = static_cast<std::uint16_t>(2000 + 7 * x + 5 * y + (x * y) % 13);
    const Pixels guiderOriginal = Frame(guider);
    GuiderF->SkyModelBtnClick();
    ASSERT_NE(Frame(guider), guiderOriginal);
    EXPECT_EQ(EditTarget, EditGuiderImage);
    const Pixels aBefore = Frame(a);
    BloomRemovalF->hide();
    ChooseFor(a, "Removebloom1");
    GuiderF->HeaderInfoExecute();
    HInfo->hide();
    const Pixels medianA = Filtered(a, [](ImageData &i) { ApplyMedianFilter(i, 5, 0.0f); });
    ChooseFor(a, "Medianfilter1");
    GuiderF->PalettesExecute();
    PaletteSet->hide();
    FilterF->ApplyBtn->click();
    EXPECT_EQ(Frame(a), medianA);
    main->Undo1->trigger();
    EXPECT_EQ(Frame(a), aBefore);
    EditTarget = EditGuiderImage; // the sky window opened while the guider image is named
    SkyModelF->show();
    EXPECT_EQ(SkyModelF->Copy.Width, 64);
    SkyModelF->hide();

    // "Image information" shows the active image window after the guider's header command, and
    // after "Default palette...", and writes into it.
    GuiderF->HeaderInfoExecute();
    main->DefaultPaletteClick();
    PaletteSet->hide();
    main->MdiArea->setActiveSubWindow(a);
    main->HeaderInfoFormShow->trigger();
    EXPECT_EQ(HInfo->NCol->text(), QStringLiteral("Number of columns: 48"));
    EXPECT_TRUE(HInfo->ApplyBtn->isEnabled());
    HInfo->description->setText(QStringLiteral("M 42"));
    HInfo->ApplyBtn->click();
    EXPECT_EQ(a->ConstImage().Description, "M 42");
    EXPECT_NE(guider.Description, "M 42");
    HInfo->hide();

    // A palette OK marks the image changed.
    a->Image().Modified = false;
    ChooseFor(a, "PaletteEdit");
    PaletteSet->OkBtnClick();
    EXPECT_TRUE(a->ConstImage().Modified);
}

TEST_F(ProcessingWindowsTest, InterleavedOperationsChangeOnlyTheirTargetAndUndoRestoresIt)
{
    TChild *a = OpenImage(48, 36, Noise);
    TChild *b = OpenImage(
        48, 36, [](int x, int y) { return x == 20 && y > 3 ? 65535 : 500 + Noise(x, y) * 2 % 9000; });
    TChild *c = OpenImage(40, 40, [](int x, int y) { return 1500 + 40 * x + 13 * y + (x * y) % 97; });
    CompositeF->show();
    FillLayer(0, 40, 32, [](int x, int y) { return Noise(y, x); });
    CompositeF->LayerBtn[0]->click();
    ImageData &guider = GuiderF->GuiderImage;
    guider.Allocate(64, 48, 1);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            guider.FrameRow(0, y)[x] = static_cast<std::uint16_t>(2000 + 7 * x + 5 * y + (x * y) % 13);

    enum { A, B, C, L, G, Targets };
    const auto sums = [&] {
        return std::vector<std::uint64_t>{PixelChecksum(a->ConstImage()), PixelChecksum(b->ConstImage()),
                                          PixelChecksum(c->ConstImage()), PixelChecksum(Layer(0)),
                                          PixelChecksum(guider)};
    };
    struct Button {
        std::string owner;
        QAbstractButton *undo;
        QAction *composite; // the composite editor's item instead of a button
    };
    const Button undos[] = {
        {"TFilterF", FilterF->UndoBtn, nullptr},     {"TEqualizeF", EqualizeF->UndoBtn, nullptr},
        {"TFourierF", FourierF->UndoBtn, nullptr},   {"TBloomRemovalF", BloomRemovalF->UndoBtn, nullptr},
        {"TSkyModelF", SkyModelF->UndoBtn, nullptr}, {"TCompositeF", nullptr, CompositeF->Undo1}};
    struct Step {
        const char *what;
        int target;
        std::string owner; // the window whose Undo restores it ("" the main menu's)
        std::function<void()> run;
    };
    const Step steps[] = {
        {"dialog gaussian on A", A, "TFilterF",
         [&] {
             ChooseFor(a, "Gaussiancrossconvolution1");
             FilterF->Sigma->setValue(2);
             FilterF->ApplyBtn->click();
         }},
        {"quick equalization of B", B, "", [&] { ChooseFor(b, "Quick1"); }},
        {"equalization window on C, A clicked since", C, "TEqualizeF",
         [&] {
             ChooseFor(c, "Custom1");
             EqualizeF->UseImageHistogram->setChecked(true);
             main->MdiArea->setActiveSubWindow(a);
             EqualizeF->ApplyBtn->click();
         }},
        {"composite median on the layer", L, "TFilterF",
         [&] {
             CompositeF->ProcessingItemClick(5, "TFilterF");
             FilterF->ApplyBtn->click();
         }},
        {"Fourier low pass on A", A, "TFourierF",
         [&] {
             ChooseFor(a, "Fourierhighlowpass1");
             FourierF->f_cut->setValue(4);
             FourierF->LowPass->setChecked(true);
             FourierF->ApplyBtn->click();
         }},
        {"bloom on B", B, "TBloomRemovalF",
         [&] {
             ChooseFor(b, "Removebloom1");
             BloomRemovalF->ApplyBtn->click();
         }},
        {"guider subtract sky", G, "", [&] { GuiderF->SkyModelBtnClick(); }},
        {"dialog threshold on the layer after the guider command", L, "TFilterF",
         [&] {
             CompositeF->ProcessingItemClick(14, "TFilterF");
             GuiderF->PalettesExecute();
             PaletteSet->hide();
             FilterF->UpperThreshold->setValue(2500);
             FilterF->ApplyBtn->click();
         }},
        {"main trim of C", C, "",
         [&] {
             Select(c, 3, 4, 30, 33);
             ChooseFor(c, "FastTrim1");
         }},
        {"composite quick equalization", L, "TCompositeF", [&] { CompositeF->QuickClick(); }},
        {"main subtract sky on B", B, "",
         [&] {
             main->MdiArea->setActiveSubWindow(b);
             main->SkySubtractBtn->click();
         }},
        {"dialog threshold on A", A, "TFilterF",
         [&] {
             ChooseFor(a, "Threshold1");
             FilterF->UpperThreshold->setValue(2600);
             FilterF->ApplyBtn->click();
         }},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        const std::vector<std::uint64_t> before = sums();
        step.run();
        const std::vector<std::uint64_t> after = sums();
        for (int t = 0; t < Targets; ++t)
            if (t != step.target) {
                EXPECT_EQ(after[t], before[t]) << "target " << t;
            }
        ASSERT_NE(after[step.target], before[step.target]);
        // Every other window's Undo leaves everything alone (the composite editor's undoes its layer).
        for (const Button &button : undos) {
            if (button.owner == step.owner || (step.target == L && button.composite))
                continue;
            button.undo ? button.undo->click() : button.composite->trigger();
            EXPECT_EQ(sums(), after) << button.owner;
        }
        // The acting window's Undo brings back exactly the pixels before the operation.
        const Button *own = nullptr;
        for (const Button &button : undos)
            if (button.owner == step.owner)
                own = &button;
        if (!own)
            main->Undo1->trigger();
        else
            own->undo ? own->undo->click() : own->composite->trigger();
        EXPECT_EQ(sums(), before);
        // Redo, where the window offers it, repeats the operation on that target only.
        QAbstractButton *dialogRedo = step.owner == "TFilterF" ? FilterF->RedoBtn : nullptr;
        QAction *redo = step.target == L ? CompositeF->Redo1 : main->Redo1;
        if (dialogRedo && dialogRedo->isEnabled())
            dialogRedo->click();
        else if (redo->isEnabled())
            redo->trigger();
        else
            continue;
        EXPECT_EQ(sums(), after);
    }
}

} // namespace

int main(int argc, char **argv)
{
    return korvi::test::RunQtTests(argc, argv);
}
