// The unit every processing window shares, driven through the main window with a stand-in
// processing window: target resolution at every click, snapshot and undo, preview, the redo
// routing to the window that owns the operation, and the undo buffer lent as scratch.
#include "capture_test_support.h"

#include "edit_target.h"
#include "image_window.h"
#include "main_window.h"
#include "processing_target.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
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

} // namespace

int main(int argc, char **argv)
{
    return korvi::test::RunQtTests(argc, argv);
}
