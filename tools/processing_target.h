#pragma once
// What every processing window does around its operation, in one place:
//
//   void TMyF::ApplyBtnClick()
//   {
//       // The image the window shows (read when it was shown or raised), found again.
//       const ProcessingTarget target = CommandTarget(shown_, TargetImage);
//       if (!target)
//           return; // nothing to act on: no change, no snapshot
//       Run(target, ShownValues()); // the values the window shows, now
//   }
//   void TMyF::Run(const ProcessingTarget &target, const MyValues &values)
//   {
//       const QPointer<TMyF> self(this); // Redo repeats it with these values
//       const auto again = [self, values](const ProcessingTarget &t) { if (self) self->Run(t, values); };
//       target.Apply({MyOperationCode, "TMyF", again},
//                    [&](ImageData &image) { RunMyAlgorithm(image, values); });
//   }
//   void TMyF::PreviewBtnClick()
//   {
//       PreviewOperation(CommandTarget(shown_, nullptr), [this] { ApplyBtnClick(); });
//   }
//
// Apply runs the operation on a copy first: an operation that refuses, or changes nothing, leaves
// the undo snapshot, Redo and the image's Modified flag as they were. Otherwise the snapshot
// (UndoImage, UndoWindowTag, SettingsBackup, the owner's backups) is taken, the result goes into
// the target, the main window's UndoRecord names the target and the operation, and the display
// and the Undo/Redo items are refreshed. No button reads EditTarget or LastOperation to decide what
// to do: EditTarget names what a window reads when it is shown, LastOperation records what ran.
//
// Windows that own a target other than an image window (the guider image, a composite layer)
// implement ProcessingTargetOwner; windows whose pages the main menu offers implement
// OperationOwner. Both are found through the main window's window registry by class name.
//
// A window that shows its target (a header, a histogram, a palette, a fit) implements
// TargetReader and keeps a ShownTarget: its commands act on the image it shows, never on one
// that became active since; a result it computed from that image's pixels is kept in a
// ComputedFor and used on nothing else.
#include <QString>

#include <cstdint>
#include <functional>

#include "undo_record.h"

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
    // True while UndoProcessing would restore something.
    virtual bool CanUndoProcessing(int /*editTarget*/) const { return false; }
};

// A window that runs an operation code (the main menu offers its items while it can).
class OperationOwner
{
public:
    virtual ~OperationOwner() = default;
    virtual bool CanRepeatOperation(int code) const = 0;
};

// An operation as a value: its code, the window that ran it, and how to run it again, with the
// values it ran with, on a target (empty where Redo cannot repeat it).
struct Operation {
    int code = -1;
    const char *owner = ""; // the window's class name; "" for a main-window command
    std::function<void(const ProcessingTarget &)> repeat{};
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
    };
    // Runs `run` on a copy of the target. When the copy differs from the target (size or pixels),
    // the snapshot is taken, the result put into the target, the undo record made of this target
    // and `operation`, and the target refreshed; true. Otherwise (refused, or nothing to change)
    // nothing else happens: false. A batch image is changed in place, without a snapshot.
    bool Apply(const Operation &operation, const std::function<void(ImageData &)> &run,
               const RefreshOptions &options) const;
    bool Apply(const Operation &operation, const std::function<void(ImageData &)> &run) const;
    // After an operation: image window: levels and redraw, the main window's Undo item enabled
    // with undoCaption and its Redo item enabled when the undo record can be repeated; owned
    // targets: the owner's ProcessingApplied; a batch image: nothing.
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

// The target a window's command acts on: `batchImage` while batch processing points the window at
// one (EditTarget 6), else the image the window shows, found again. Where that image is gone, a
// box says so and the target is empty; a window that shows nothing acts on nothing.
ProcessingTarget CommandTarget(const ShownTarget &shown, ImageData *batchImage);

// Preview on `target` (the one the window's Apply acts on): run `apply` (the window's Apply
// handler), then put the pixels back. The snapshot, LastOperation, the undo record and the
// Undo/Redo items of the work done before are kept: a Preview changes nothing that Undo or Redo
// would act on. Returns false (nothing done) when there is no target.
bool PreviewOperation(const ProcessingTarget &target, const std::function<void()> &apply);

// True when the main menu can offer `code`: its owning window is built and runs it.
bool CanRepeatOperation(int code);

// Undo and Redo of the last operation, on the target it changed, whatever EditTarget names now.
// `owner`: only when the last operation was that window's (nullptr: any window's, or the menu's).
bool CanUndoLastOperation(const char *owner = nullptr);
bool CanRedoLastOperation(const char *owner = nullptr);
// Restores what the last operation changed (the pixels and header of its target; a palette or a
// position chosen since is kept). False when its target is gone or nothing was recorded.
bool UndoLastOperation();
// Repeats the last operation with its own values: on an image window or the guider image on top
// of its result, on a composite layer after restoring the layer first. False when it cannot.
bool RedoLastOperation();
// The last operation changed a target outside the shared pattern (the composite editor's own
// commands): the record names it, and Redo is left to that window.
void RecordOperation(int editTarget, int code, const char *owner);
// Puts `before` back into `image` (the pixels, size and header), keeping what no operation
// changes and other commands may have changed since: the palette and the layer's shift and angle,
// and with `keepLevels` the intensity and bias (a composite layer's, which its sliders set).
void RestoreOperationChanges(ImageData &image, const ImageData &before, bool keepLevels = false);

// The main window's UndoImage lent to a window as scratch (not as a snapshot): the undo tags are
// invalidated first, so a later Undo cannot paste the scratch image into a window.
ImageData &BorrowUndoBuffer();
