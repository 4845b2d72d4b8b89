#include "processing_target.h"

#include "edit_target.h"
#include "gui_runtime.h"
#include "image_data.h"
#include "image_window.h"
#include "levels.h"
#include "main_window.h"
#include "settings.h"

#include <algorithm>
#include <utility>

#include <QAction>

namespace
{

// True when the two images hold the same frames of the same size with the same pixels.
bool SamePixels(const ImageData &a, const ImageData &b)
{
    if (a.Empty != b.Empty || a.Width != b.Width || a.Height != b.Height || a.Frames != b.Frames)
        return false;
    if (a.Empty)
        return true;
    const std::size_t count = static_cast<std::size_t>(a.Width) * a.Height;
    for (int f = 0; f < a.Frames; ++f)
        if (!std::equal(a.FramePixels(f), a.FramePixels(f) + count, b.FramePixels(f)))
            return false;
    return true;
}

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

bool ProcessingTarget::Apply(const Operation &operation, const std::function<void(ImageData &)> &run,
                             const RefreshOptions &options) const
{
    if (!image_)
        return false;
    if (editTarget_ == EditBatchImage || !MainF) {
        // Batch processing changes its own loaded copy of a file: no snapshot, no record.
        run(Image());
        if (operation.code >= 0)
            LastOperation = operation.code;
        Refresh(options);
        return true;
    }
    // On a copy first: a refused or empty operation must leave Undo, Redo and Modified alone.
    ImageData result;
    result.Assign(*image_);
    run(result);
    if (SamePixels(result, *image_))
        return false;
    Snapshot(operation.code);
    Image().Assign(result);
    MainF->LastUndo = UndoRecord{editTarget_, operation.code, operation.owner, operation.repeat};
    Refresh(options);
    return true;
}

bool ProcessingTarget::Apply(const Operation &operation, const std::function<void(ImageData &)> &run) const
{
    return Apply(operation, run, RefreshOptions{});
}

void ProcessingTarget::Refresh(const RefreshOptions &options) const
{
    if (!image_)
        return;
    // The image now differs from its file: closing asks, and a save describes these pixels.
    Image().PixelsEdited();
    if (!MainF || editTarget_ == EditBatchImage)
        return;
    const bool redo = static_cast<bool>(MainF->LastUndo.repeat);
    if (editTarget_ == EditActiveImage) {
        // Operations that always work out new levels do so; the others when the observer asks for
        // automatic levels, or when the levels the window had would show the result in one flat shade.
        ImageData &image = window_->Image();
        if (options.autoLevels || CurrentSettings().ICAutoSet || LevelsHideStructure(image))
            MainF->ShowComputedLevels(image);
        window_->RenderImage();
        MainF->Undo1->setText(options.undoCaption);
        MainF->Redo1->setText(QStringLiteral("&Redo filter"));
    } else if (owner_) {
        owner_->ProcessingApplied(editTarget_, options.undoCaption, redo);
    }
    MainF->UpdateUndoItems();
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
    int calibrationTag = -1, lastOperation = 0;
    UndoRecord record;
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
        record = MainF->LastUndo;
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
        MainF->LastUndo = record;
        LastOperation = lastOperation;
        SettingsBackup() = settings;
        MainF->Undo1->setText(undoText);
        MainF->Undo1->setEnabled(undoOn);
        MainF->Redo1->setText(redoText);
        MainF->Redo1->setEnabled(redoOn);
        MainF->UpdateUndoItems();
    }
};

} // namespace

ProcessingTarget CommandTarget(const ShownTarget &shown, ImageData *batchImage)
{
    if (batchImage)
        return ProcessingTarget::ResolveFor(EditBatchImage, batchImage);
    if (!shown)
        return {};
    const ProcessingTarget target = shown.Find();
    if (!target)
        korvi::gui::ShowMessage(QStringLiteral("The image this window was showing is no longer open; "
                                               "nothing was changed."),
                                QStringLiteral("Korvi"));
    return target;
}

bool PreviewOperation(const ProcessingTarget &before, const std::function<void()> &apply)
{
    if (!before || before.EditTargetValue() == EditBatchImage || !MainF)
        return false;
    // The operation's own snapshot restores the pixels afterwards; the snapshot of the work done
    // before (the main window's, and that of the target's owner) is put back, so Undo still
    // undoes that work.
    const int editTarget = before.EditTargetValue();
    const ShownTarget shown(before);
    ProcessingTargetOwner *owner = FindTargetOwner(editTarget);
    KeptUndo kept;
    kept.Take();
    if (owner)
        owner->KeepUndo(editTarget);
    before.SnapshotSettings();
    apply();
    // Found again: the operation may have replaced the target's storage. The snapshot brings
    // back the pixels with their header (Modified, Brightest, Dimmest) as they were.
    if (const ProcessingTarget after = shown.Find())
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

namespace
{

bool RecordedBy(const char *owner)
{
    return MainF && MainF->LastUndo && (!owner || MainF->LastUndo.owner == owner);
}

// The target the record names, as it is now; empty when it is gone.
ProcessingTarget RecordedTarget()
{
    const UndoRecord &record = MainF->LastUndo;
    if (record.editTarget == EditActiveImage)
        return MainF->UndoWindowTag < 0
                   ? ProcessingTarget{}
                   : ProcessingTarget::ResolveFor(EditActiveImage, nullptr, MainF->UndoWindowTag);
    return ProcessingTarget::ResolveFor(record.editTarget, nullptr);
}

} // namespace

bool CanUndoLastOperation(const char *owner)
{
    if (!RecordedBy(owner))
        return false;
    const int editTarget = MainF->LastUndo.editTarget;
    if (editTarget == EditActiveImage)
        return !MainF->UndoImage.Empty && MainF->UndoWindowTag >= 0 &&
               MainF->FindImageWindow(MainF->UndoWindowTag) != nullptr;
    const ProcessingTargetOwner *targetOwner = FindTargetOwner(editTarget);
    return targetOwner && targetOwner->CanUndoProcessing(editTarget);
}

bool CanRedoLastOperation(const char *owner)
{
    return CanUndoLastOperation(owner) && MainF->LastUndo.repeat && RecordedTarget();
}

bool UndoLastOperation()
{
    if (!CanUndoLastOperation())
        return false;
    const int editTarget = MainF->LastUndo.editTarget;
    if (editTarget == EditActiveImage) {
        TChild *window = MainF->FindImageWindow(MainF->UndoWindowTag);
        RestoreOperationChanges(window->Image(), MainF->UndoImage);
        window->RenderImage();
        MainF->Undo1->setText(QStringLiteral("&Undo filter"));
        MainF->Redo1->setText(QStringLiteral("&Redo filter"));
    } else if (!FindTargetOwner(editTarget)->UndoProcessing(editTarget)) {
        return false;
    }
    MainF->UpdateUndoItems();
    return true;
}

bool RedoLastOperation()
{
    if (!CanRedoLastOperation())
        return false;
    const UndoRecord record = MainF->LastUndo; // the repeat makes a new record
    if (record.editTarget == EditCompositeLayer) {
        // A layer's operation is repeated on the layer as it was before it.
        ProcessingTargetOwner *owner = FindTargetOwner(record.editTarget);
        if (!owner || !owner->UndoProcessing(record.editTarget))
            return false;
    }
    const ProcessingTarget target = RecordedTarget();
    if (!target)
        return false;
    record.repeat(target);
    return true;
}

void RecordOperation(int editTarget, int code, const char *owner)
{
    if (!MainF)
        return;
    if (code >= 0)
        LastOperation = code;
    MainF->LastUndo = UndoRecord{editTarget, code, owner, {}};
    MainF->UpdateUndoItems();
}

void RestoreOperationChanges(ImageData &image, const ImageData &before, bool keepLevels)
{
    PPalette palette = std::move(image.Palette);
    const float shiftX = image.ShiftX, shiftY = image.ShiftY, angle = image.Angle,
                centreX = image.RotationCentreX, centreY = image.RotationCentreY, gain = image.Gain,
                offset = image.DisplayOffset;
    const bool modified = image.Modified;
    image.Assign(before);
    image.Palette = std::move(palette);
    image.ShiftX = shiftX;
    image.ShiftY = shiftY;
    image.Angle = angle;
    image.RotationCentreX = centreX;
    image.RotationCentreY = centreY;
    if (keepLevels) {
        image.Gain = gain;
        image.DisplayOffset = offset;
    }
    // A palette chosen since the operation is still unsaved.
    image.Modified = before.Modified || modified;
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
