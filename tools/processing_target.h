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
//
// A window that shows its target (a header, a histogram, a palette, a fit) implements
// TargetReader and keeps a ShownTarget: its commands act on the image it shows, never on one
// that became active since; a result it computed from that image's pixels is kept in a
// ComputedFor and used on nothing else.
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
    // Around a preview: KeepUndo before the operation runs, ProcessingPreviewed after the pixels
    // were put back: the owner's backups and Undo/Redo items are as they were kept.
    virtual void KeepUndo(int /*editTarget*/) {}
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

// A window that reads what EditTarget names when it is shown. Choosing its command again while
// it is open only raises it, and raising runs no show handler: the window registry
// (TMainF::ShowProgramWindow) calls ReadTarget then, so the window shows the new target.
class TargetReader
{
public:
    virtual ~TargetReader() = default;
    virtual void ReadTarget() = 0;
};

class ProcessingTarget
{
public:
    // What EditTarget names now: the first image window (EditActiveImage), the image of the window
    // that owns the target (guider image, composite layer), or `batchImage`, which batch processing
    // points a processing window at (EditBatchImage and any other value). Empty when there is none.
    static ProcessingTarget Resolve(ImageData *batchImage = nullptr);
    // The same for a given EditTarget value; for EditActiveImage the image window with that tag
    // (the first one when the tag is negative).
    static ProcessingTarget ResolveFor(int editTarget, ImageData *batchImage, std::int64_t windowTag = -1);

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
    // Puts UndoImage back into the target (the display buffer keeps the rendered result); nothing
    // when it holds no snapshot.
    void RestoreSnapshot() const;

private:
    int editTarget_ = 0;
    ImageData *image_ = nullptr;
    TChild *window_ = nullptr;
    ProcessingTargetOwner *owner_ = nullptr;
};

// The image a window shows, taken when it reads its target: the EditTarget value with the image
// window's tag, or the owned (guider, composite layer) or batch image itself.
class ShownTarget
{
public:
    ShownTarget() = default;
    explicit ShownTarget(const ProcessingTarget &target);

    explicit operator bool() const { return image_ != nullptr; }
    int EditTargetValue() const { return editTarget_; }
    // That image found again; empty when it is gone (its window closed, another layer current).
    ProcessingTarget Find(ImageData *batchImage = nullptr) const;
    bool Is(const ProcessingTarget &target) const;
    void Clear() { *this = ShownTarget{}; }

private:
    int editTarget_ = -1;
    const ImageData *image_ = nullptr; // compared only, never read through
    std::int64_t windowTag_ = -1;
};

// What a result computed from one image's pixels (an image-based table, a sky fit, a spectrum)
// was computed for: that image, its size and its pixels. The result fits only that image while it
// still holds those pixels (back again after an Undo or a Preview) or the result last applied.
class ComputedFor
{
public:
    void Take(const ProcessingTarget &target);   // computed from the target's pixels as they are
    void Follow(const ProcessingTarget &target); // applied to it: its new pixels fit too
    bool Fits(const ProcessingTarget &target) const;
    const ShownTarget &Shown() const { return shown_; }
    void Clear() { *this = ComputedFor{}; }

private:
    ShownTarget shown_;
    int width_ = 0, height_ = 0;
    std::uint64_t source_ = 0, result_ = 0;
};

// FNV-1a over the pixels of frame 0: tells whether an image still holds the pixels it held.
std::uint64_t PixelChecksum(const ImageData &image);

// Preview: resolve, run `apply` (the window's Apply handler: snapshot, operation, refresh), then
// put the pixels back. The snapshot, LastOperation and the Undo/Redo items of the work done
// before are kept: a Preview changes nothing that Undo or Redo would act on. Returns false
// (nothing done) when there is no target.
bool PreviewOperation(ImageData *batchImage, const std::function<void()> &apply);

// True when Redo can repeat `code`: its owning window is built and says it can.
bool CanRepeatOperation(int code);
// Redo: runs LastOperation again through the window that owns it. False (nothing changes, and no
// snapshot is taken) when no window can repeat it.
bool RepeatLastOperation();

// The main window's UndoImage lent to a window as scratch (not as a snapshot): the undo tags are
// invalidated first, so a later Undo cannot paste the scratch image into a window.
ImageData &BorrowUndoBuffer();
