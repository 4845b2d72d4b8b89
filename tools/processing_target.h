#pragma once
// What every processing window does around its operation, in one place:
//
//   void TMyF::ApplyBtnClick()
//   {
//       ProcessingTarget target = ProcessingTarget::Resolve(TargetImage); // afresh at every click
//       if (!target)
//           return;                       // nothing to act on: no change, no snapshot
//       target.Snapshot(MyOperationCode); // UndoImage, UndoWindowTag, SettingsBackup, LastOperation
//       RunMyAlgorithm(target.Image());
//       target.Refresh({});               // display levels, redraw, the Undo/Redo items
//   }
//   void TMyF::PreviewBtnClick() { PreviewOperation(TargetImage, [this] { ApplyBtnClick(); }); }
//
// The target is never kept between clicks: the window it lives in may have closed since. Windows
// that own a target other than the active image window (the guider image, a composite layer)
// implement ProcessingTargetOwner; windows whose operation Redo repeats implement OperationOwner.
// Both are found through the main window's window registry by class name.
#include <QString>

#include <cstdint>
#include <functional>

class ImageData;
class TChild;
class QWidget;

// A window that holds the image (or the backups) of an EditTarget value other than the active
// image window: the guider window (EditGuiderImage), the composite editor (EditCompositeLayer).
class ProcessingTargetOwner
{
public:
    virtual ~ProcessingTargetOwner() = default;
    // The image the processing windows act on; nullptr when there is none (an empty layer).
    virtual ImageData *ProcessingImage(int editTarget) = 0;
    // Before an operation (and before a preview): the backups Undo restores besides UndoImage.
    virtual void BackUpForUndo(int /*editTarget*/) {}
    // After an operation: redraw and enable the owner's own Undo/Redo items.
    virtual void ProcessingApplied(int /*editTarget*/, const QString & /*undoCaption*/, bool /*redo*/) {}
    // After a preview put the pixels back: the owner's Undo/Redo items read "&Undo"/"&Redo", disabled.
    virtual void ProcessingPreviewed(int /*editTarget*/) {}
    // Undo (and the restore before Redo) for this target; false when the owner keeps no backup.
    virtual bool UndoProcessing(int /*editTarget*/) { return false; }
};

// A window that can run an operation code again on the current target (Redo).
class OperationOwner
{
public:
    virtual ~OperationOwner() = default;
    virtual bool CanRepeatOperation(int code) const = 0;
    // Resolves the target, snapshots, runs `code` and refreshes, as the window's Apply does.
    virtual void RepeatOperation(int code) = 0;
};

// Class names of the windows that own a target value or an operation code ("" for none).
const char *TargetOwnerClass(int editTarget);
const char *OperationOwnerClass(int code);
// The registered window of that class as the interface, or nullptr (not built, or not an owner).
ProcessingTargetOwner *FindTargetOwner(int editTarget);
OperationOwner *FindOperationOwner(int code);

class ProcessingTarget
{
public:
    // What EditTarget names now: the first image window (EditActiveImage), the image of the window
    // that owns the target (guider image, composite layer), or `batchImage`, which batch processing
    // points a processing window at (EditBatchImage and any other value). Empty when there is none.
    static ProcessingTarget Resolve(ImageData *batchImage = nullptr);

    explicit operator bool() const { return image_ != nullptr; }
    int EditTargetValue() const { return editTarget_; }
    // The pixels to change. For an image window this goes through TChild::Image(), so the next
    // render recomputes the display.
    ImageData &Image() const;
    TChild *Window() const { return window_; } // EditActiveImage only

    // The settings part of the snapshot (SettingsBackup, UndoWindowTag; the owner's backups).
    void SnapshotSettings() const;
    // Before an operation: SnapshotSettings, UndoImage := a deep copy of the target (not for a
    // batch image), and LastOperation := code (code < 0 keeps it). Only a snapshot of an image
    // window keeps UndoWindowTag; any other one invalidates it (and the calibration's tag), so
    // Undo never pastes this image into an unrelated window.
    void Snapshot(int code) const;

    struct RefreshOptions {
        bool autoLevels = true; // automatic display levels (else render only)
        QString undoCaption = QStringLiteral("&Undo filter");
        bool redo = true; // Redo offered (only if the code is repeatable)
    };
    // After an operation: image window: levels and redraw, the main window's Undo item enabled
    // with undoCaption and its Redo item enabled when asked and LastOperation can be repeated;
    // owned targets: the owner's ProcessingApplied; a batch image: nothing.
    void Refresh(const RefreshOptions &options) const;
    // Puts UndoImage back into the target (the display buffer keeps the rendered result).
    void RestoreSnapshot() const;

private:
    int editTarget_ = 0;
    ImageData *image_ = nullptr;
    TChild *window_ = nullptr;
    ProcessingTargetOwner *owner_ = nullptr;
};

// Preview: resolve, take the settings part of the snapshot, run `apply` (the window's Apply
// handler: snapshot, operation, refresh), then put the pixels back and reset the Undo/Redo items.
// Returns false (nothing done) when there is no target.
bool PreviewOperation(ImageData *batchImage, const std::function<void()> &apply);

// True when Redo can repeat `code`: its owning window is built and says it can.
bool CanRepeatOperation(int code);
// Redo: runs LastOperation again through the window that owns it. False (nothing changes, and no
// snapshot is taken) when no window can repeat it.
bool RepeatLastOperation();

// The main window's UndoImage lent to a window as scratch (not as a snapshot): the undo tags are
// invalidated first, so a later Undo cannot paste the scratch image into a window.
ImageData &BorrowUndoBuffer();
