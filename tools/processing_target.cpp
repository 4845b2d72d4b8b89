#include "processing_target.h"

#include "edit_target.h"
#include "image_data.h"
#include "image_window.h"
#include "levels.h"
#include "main_window.h"
#include "settings.h"

#include <utility>

#include <QAction>

namespace
{

bool IsOperationCode(int code, std::initializer_list<int> codes)
{
    for (int c : codes)
        if (c == code)
            return true;
    return false;
}

template <typename Interface> Interface *RegisteredAs(const char *className)
{
    if (!MainF || !*className)
        return nullptr;
    return dynamic_cast<Interface *>(MainF->ProgramWindow(className));
}

} // namespace

const char *TargetOwnerClass(int editTarget)
{
    switch (editTarget) {
    case EditGuiderImage:
        return "TGuiderF";
    case EditCompositeLayer:
        return "TCompositeF";
    default:
        return "";
    }
}

const char *OperationOwnerClass(int code)
{
    if (IsOperationCode(code, {1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 15, 16}))
        return "TFilterF";
    switch (code) {
    case 3:
        return "TEqualizeF";
    case 17:
        return "TBloomRemovalF";
    case 100:
        return "TFourierF";
    default:
        return "";
    }
}

ProcessingTargetOwner *FindTargetOwner(int editTarget)
{
    return RegisteredAs<ProcessingTargetOwner>(TargetOwnerClass(editTarget));
}

OperationOwner *FindOperationOwner(int code)
{
    return RegisteredAs<OperationOwner>(OperationOwnerClass(code));
}

// ---------------------------------------------------------------------------------------------

ProcessingTarget ProcessingTarget::Resolve(ImageData *batchImage)
{
    return ResolveFor(EditTarget, batchImage);
}

ProcessingTarget ProcessingTarget::ResolveFor(int editTarget, ImageData *batchImage, std::int64_t windowTag)
{
    ProcessingTarget target;
    target.editTarget_ = editTarget;
    switch (target.editTarget_) {
    case EditActiveImage:
        if (MainF) {
            target.window_ = windowTag < 0 ? MainF->FirstImageWindow() : MainF->FindImageWindow(windowTag);
            if (target.window_ && !target.window_->ConstImage().Empty)
                target.image_ = &target.window_->Image();
        }
        break;
    case EditGuiderImage:
    case EditCompositeLayer:
        target.owner_ = FindTargetOwner(target.editTarget_);
        if (target.owner_) {
            target.image_ = target.owner_->ProcessingImage(target.editTarget_);
            if (target.image_ && target.image_->Empty)
                target.image_ = nullptr;
        }
        break;
    default: // the batch image, or whatever a window was pointed at
        if (batchImage && !batchImage->Empty)
            target.image_ = batchImage;
        break;
    }
    if (!target.image_)
        return ProcessingTarget{};
    return target;
}

ImageData &ProcessingTarget::Image() const
{
    return window_ ? window_->Image() : *image_;
}

void ProcessingTarget::SnapshotSettings() const
{
    if (!image_)
        return;
    if (editTarget_ == EditActiveImage) {
        SettingsBackup() = CurrentSettings();
        MainF->UndoWindowTag = window_->Tag();
    } else if (owner_) {
        owner_->BackUpForUndo(editTarget_);
    }
}

void ProcessingTarget::Snapshot(int code) const
{
    if (!image_)
        return;
    SnapshotSettings();
    if (editTarget_ != EditBatchImage && MainF) {
        if (editTarget_ != EditActiveImage)
            MainF->UndoWindowTag = -1;
        MainF->CalibrationUndoTag = -1; // the calibration's snapshot is replaced too
        MainF->UndoImage.Assign(*image_);
    }
    if (code >= 0)
        LastOperation = code;
}

void ProcessingTarget::Refresh(const RefreshOptions &options) const
{
    if (!image_)
        return;
    // The image now differs from its file: closing asks, and a save describes these pixels.
    Image().PixelsEdited();
    if (editTarget_ == EditActiveImage) {
        // Operations that always work out new levels do so; the others when the observer asks for
        // automatic levels, or when the levels the window had would show the result in one flat shade.
        ImageData &image = window_->Image();
        if (options.autoLevels || CurrentSettings().ICAutoSet || LevelsHideStructure(image))
            MainF->ShowComputedLevels(image);
        window_->RenderImage();
        MainF->Undo1->setEnabled(true);
        MainF->Undo1->setText(options.undoCaption);
        const bool redo = options.redo && CanRepeatOperation(LastOperation);
        // Redo repeats this operation, whatever other windows record in LastOperation meanwhile.
        MainF->RedoOperation = redo ? LastOperation.load() : -1;
        MainF->Redo1->setEnabled(redo);
        MainF->Redo1->setText(QStringLiteral("&Redo filter"));
    } else if (owner_) {
        owner_->ProcessingApplied(editTarget_, options.undoCaption,
                                  options.redo && CanRepeatOperation(LastOperation));
    }
}

void ProcessingTarget::RestoreSnapshot() const
{
    if (!image_ || editTarget_ == EditBatchImage || !MainF || MainF->UndoImage.Empty)
        return;
    Image().Assign(MainF->UndoImage);
}

// ---------------------------------------------------------------------------------------------

namespace
{

// Everything Undo and Redo of an image window work from, kept across a Preview.
struct KeptUndo {
    ImageData image;
    std::int64_t windowTag = -1;
    int calibrationTag = -1, redoOperation = -1, lastOperation = 0;
    Settings settings;
    QString undoText, redoText;
    bool undoOn = false, redoOn = false;

    void Take()
    {
        // Moved out: an operation that refuses to run takes no snapshot, and then the empty
        // buffer tells the preview that there is nothing to put back.
        image = std::move(MainF->UndoImage);
        MainF->UndoImage.Free();
        windowTag = MainF->UndoWindowTag;
        calibrationTag = MainF->CalibrationUndoTag;
        redoOperation = MainF->RedoOperation;
        lastOperation = LastOperation;
        settings = SettingsBackup();
        undoText = MainF->Undo1->text();
        redoText = MainF->Redo1->text();
        undoOn = MainF->Undo1->isEnabled();
        redoOn = MainF->Redo1->isEnabled();
    }
    void PutBack()
    {
        MainF->UndoImage = std::move(image);
        MainF->UndoWindowTag = windowTag;
        MainF->CalibrationUndoTag = calibrationTag;
        MainF->RedoOperation = redoOperation;
        LastOperation = lastOperation;
        SettingsBackup() = settings;
        MainF->Undo1->setText(undoText);
        MainF->Undo1->setEnabled(undoOn);
        MainF->Redo1->setText(redoText);
        MainF->Redo1->setEnabled(redoOn);
    }
};

} // namespace

bool PreviewOperation(ImageData *batchImage, const std::function<void()> &apply)
{
    const ProcessingTarget before = ProcessingTarget::Resolve(batchImage);
    if (!before || before.EditTargetValue() == EditBatchImage || !MainF)
        return false;
    // The operation's own snapshot restores the pixels afterwards; the snapshot of the work done
    // before (the main window's, and that of the target's owner) is put back, so Undo still
    // undoes that work.
    const int editTarget = before.EditTargetValue();
    ProcessingTargetOwner *owner = FindTargetOwner(editTarget);
    KeptUndo kept;
    kept.Take();
    if (owner)
        owner->KeepUndo(editTarget);
    before.SnapshotSettings();
    apply();
    // Resolved again: the operation may have replaced the target's storage. The snapshot brings
    // back the pixels with their header (Modified, Brightest, Dimmest) as they were.
    if (const ProcessingTarget after = ProcessingTarget::Resolve(batchImage))
        after.RestoreSnapshot();
    kept.PutBack();
    if (owner)
        owner->ProcessingPreviewed(editTarget);
    return true;
}

bool CanRepeatOperation(int code)
{
    const OperationOwner *owner = FindOperationOwner(code);
    return owner && owner->CanRepeatOperation(code);
}

bool RepeatLastOperation()
{
    const int code = LastOperation;
    OperationOwner *owner = FindOperationOwner(code);
    if (!owner || !owner->CanRepeatOperation(code))
        return false;
    owner->RepeatOperation(code);
    return true;
}

ImageData &BorrowUndoBuffer()
{
    MainF->DropUndoSnapshot();
    return MainF->UndoImage;
}

// ---------------------------------------------------------------------------------------------

ShownTarget::ShownTarget(const ProcessingTarget &target)
{
    if (!target)
        return;
    editTarget_ = target.EditTargetValue();
    image_ = &target.Image();
    windowTag_ = target.Window() ? target.Window()->Tag() : -1;
}

ProcessingTarget ShownTarget::Find(ImageData *batchImage) const
{
    if (!image_)
        return {};
    // An image window is found by its tag alone: a window closed meanwhile is not found, and a
    // window made active meanwhile is not the one shown.
    const ProcessingTarget target = ProcessingTarget::ResolveFor(
        editTarget_, batchImage, editTarget_ == EditActiveImage ? windowTag_ : -1);
    return Is(target) ? target : ProcessingTarget{};
}

bool ShownTarget::Is(const ProcessingTarget &target) const
{
    if (!image_ || !target || target.EditTargetValue() != editTarget_)
        return false;
    if (editTarget_ == EditActiveImage)
        return target.Window() && target.Window()->Tag() == windowTag_;
    return &target.Image() == image_;
}

void ComputedFor::Take(const ProcessingTarget &target)
{
    Clear();
    if (!target)
        return;
    shown_ = ShownTarget(target);
    width_ = target.Image().Width;
    height_ = target.Image().Height;
    source_ = result_ = PixelChecksum(target.Image());
}

void ComputedFor::Follow(const ProcessingTarget &target)
{
    if (shown_.Is(target))
        result_ = PixelChecksum(target.Image());
}

bool ComputedFor::Fits(const ProcessingTarget &target) const
{
    if (!shown_.Is(target))
        return false;
    const ImageData &image = target.Image();
    if (image.Width != width_ || image.Height != height_)
        return false;
    const std::uint64_t now = PixelChecksum(image);
    return now == source_ || now == result_;
}

std::uint64_t PixelChecksum(const ImageData &image)
{
    std::uint64_t hash = 14695981039346656037ull;
    if (image.Empty)
        return hash;
    const std::uint16_t *pixels = image.FramePixels(0);
    for (std::size_t i = 0, n = static_cast<std::size_t>(image.Width) * image.Height; i < n; ++i)
        hash = (hash ^ pixels[i]) * 1099511628211ull;
    return hash;
}
