#include "processing_target.h"

#include "edit_target.h"
#include "image_data.h"
#include "image_window.h"
#include "levels.h"
#include "main_window.h"
#include "settings.h"

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
    ProcessingTarget target;
    target.editTarget_ = EditTarget;
    switch (target.editTarget_) {
    case EditActiveImage:
        if (MainF) {
            target.window_ = MainF->FirstImageWindow();
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
        MainF->Redo1->setEnabled(redo);
        MainF->Redo1->setText(QStringLiteral("&Redo filter"));
    } else if (owner_) {
        owner_->ProcessingApplied(editTarget_, options.undoCaption,
                                  options.redo && CanRepeatOperation(LastOperation));
    }
}

void ProcessingTarget::RestoreSnapshot() const
{
    if (!image_ || editTarget_ == EditBatchImage || !MainF)
        return;
    Image().Assign(MainF->UndoImage);
}

// ---------------------------------------------------------------------------------------------

bool PreviewOperation(ImageData *batchImage, const std::function<void()> &apply)
{
    const ProcessingTarget before = ProcessingTarget::Resolve(batchImage);
    if (!before || before.EditTargetValue() == EditBatchImage)
        return false;
    before.SnapshotSettings();
    apply();
    // Resolved again: the operation may have replaced the target's storage.
    const ProcessingTarget after = ProcessingTarget::Resolve(batchImage);
    if (!after)
        return true;
    after.RestoreSnapshot();
    if (after.EditTargetValue() == EditActiveImage) {
        MainF->Undo1->setText(QStringLiteral("&Undo"));
        MainF->Undo1->setEnabled(false);
        MainF->Redo1->setText(QStringLiteral("&Redo"));
        MainF->Redo1->setEnabled(false);
    } else if (ProcessingTargetOwner *owner = FindTargetOwner(after.EditTargetValue())) {
        owner->ProcessingPreviewed(after.EditTargetValue());
    }
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
    MainF->UndoWindowTag = -1;
    MainF->CalibrationUndoTag = -1;
    return MainF->UndoImage;
}
