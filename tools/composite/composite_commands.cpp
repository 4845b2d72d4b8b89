// TCompositeF: the operations on the current layer (local transformation, the tool-bar shifts and
// rotations, trims, quick equalization), the hand-over of the layer to the processing windows
// (EditTarget 4 and 5), and the snapshot that Undo and Redo work from.
#include "composite/composite_editor.h"

#include "composite/cf_settings.h"
#include "composite/quick_equalization.h"
#include "edit_target.h"
#include "gui_runtime.h"
#include "main_window.h"
#include "processing/bloom.h"
#include "processing_dialog.h"
#include "statistics_window.h"
#include "text_format.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>

#include <cmath>

namespace
{

constexpr double TwoPi = 6.283185307179586;

} // namespace

void TCompositeF::Snapshot()
{
    CompositeEditorSettingsBackup() = CompositeEditorSettings();
    CompositeBackup().Assign(Composite());
    backupTaken_ = true;
    redoCode_ = -1; // until the change made now says it can be repeated
    if (MainF)
        MainF->UndoWindowTag = -1; // UndoImage no longer belongs to an image window
    // The last operation is now one on the composite (a processing window's Apply names itself
    // once it has run).
    RecordOperation(EditCompositeLayer, -1, "TCompositeF");
}

void TCompositeF::ForgetUndo()
{
    backupTaken_ = false;
    redoTransform_.reset();
    redoCode_ = -1;
    SetItems(QStringLiteral("&Undo"), false, QStringLiteral("&Redo"), false);
    if (MainF && MainF->LastUndo.editTarget == EditCompositeLayer) {
        MainF->LastUndo = {};
        MainF->UpdateUndoItems();
    }
}

void TCompositeF::UndoRecordChanged()
{
    // Undo and Redo stay offered only while the last operation is one on the composite.
    if (!(MainF && MainF->LastUndo.editTarget == EditCompositeLayer && backupTaken_))
        SetItems(QStringLiteral("&Undo"), false, QStringLiteral("&Redo"), false);
}

// ---------------------------------------------------------------------------------------------
// Local transformation

std::optional<TCompositeF::TransformRun> TCompositeF::ReadTransform()
{
    if (!CurrentLayerImage())
        return std::nullopt;
    const char separator = korvi::gui::DecimalSeparator();
    auto number = [separator](const QLineEdit *edit) {
        return static_cast<float>(ParseNumber(edit->text().toStdString(), separator));
    };
    TransformRun run;
    run.layer = CompositeEditorSettings().CurrentLayer;
    run.x0 = XLO->value();
    run.y0 = YLO->value();
    run.x1 = XHI->value();
    run.y1 = YHI->value();
    ImageTransform &t = run.transform;
    t.tx = number(x_shift);
    t.ty = number(y_shift);
    t.kx = number(x_scale);
    t.ky = number(y_scale);
    t.angle = static_cast<float>(number(rotation) * 3.141592653589793 * 0.005555555555555556);
    int button = 6;
    for (int i = 0; i < 9; ++i)
        if (CentreBtn[i]->isChecked())
            button = i;
    const int column = button % 3, row = button / 3;
    t.rx = static_cast<float>(column == 0 ? run.x0 : column == 1 ? run.x0 + (run.x1 - run.x0) / 2 : run.x1);
    t.ry = static_cast<float>(row == 0 ? run.y1 : row == 1 ? run.y0 + (run.y1 - run.y0) / 2 : run.y0);
    return run;
}

bool TCompositeF::RunTransform(const TransformRun &run)
{
    if (run.layer < 0 || run.layer >= CompositeLayers || !Composite().LayerLoaded(run.layer))
        return false;
    ImageData &layer = Composite().Layers[run.layer];
    // The transform refuses a region outside the layer; then nothing changes, Undo included.
    if (!TransformRegionFits(run))
        return false;
    Snapshot();
    if (MainF) {
        MainF->CalibrationUndoTag = -1;
        MainF->UndoImage.Assign(layer);
    }
    layer.SelX0 = run.x0;
    layer.SelY0 = run.y0;
    layer.SelX1 = run.x1;
    layer.SelY1 = run.y1;
    layer.SelectionShown = true;
    TransformImageRegion(layer, run.transform);
    const int view = CompositeEditorSettings().View;
    if (view == run.layer || view == CompositeView)
        RedrawComposite();
    SetItems(QStringLiteral("&Undo transform"), true, QStringLiteral("&Redo transform"), true);
    return true;
}

bool TCompositeF::TransformRegionFits(const TransformRun &run)
{
    const ImageData &layer = Composite().Layers[run.layer];
    if (run.x0 >= 0 && run.y0 >= 0 && run.x1 >= run.x0 && run.y1 >= run.y0 && run.x1 <= layer.Width - 1 &&
        run.y1 <= layer.Height - 1)
        return true;
    korvi::gui::ShowMessage(QStringLiteral("The region to transform does not lie inside the layer."),
                            QStringLiteral("Korvi"));
    return false;
}

void TCompositeF::ApplyBtnClick()
{
    const std::optional<TransformRun> run = ReadTransform();
    if (!run || !RunTransform(*run))
        return;
    redoTransform_ = run;
}

void TCompositeF::PreviewBtnClick()
{
    const std::optional<TransformRun> run = ReadTransform();
    if (!run || !MainF || !TransformRegionFits(*run))
        return;
    // The pixels go back, and so do the backups of the work before; the view keeps the
    // transformed picture until the next redraw.
    PreviewOperation(ProcessingTarget::ResolveFor(EditCompositeLayer, nullptr), [&] { RunTransform(*run); });
}

void TCompositeF::ClearAllBtnClick()
{
    x_shift->setText(QStringLiteral("0.0"));
    y_shift->setText(QStringLiteral("0.0"));
    rotation->setText(QStringLiteral("0.0"));
    x_scale->setText(QStringLiteral("1.000"));
    y_scale->setText(QStringLiteral("1.000"));
}

void TCompositeF::ScaleEdited(QLineEdit *edited)
{
    if (UniformScale->isChecked())
        (edited == x_scale ? y_scale : x_scale)->setText(edited->text());
}

void TCompositeF::SelectFullRasterBtnClick()
{
    if (const ImageData *layer = CurrentLayerImage()) {
        XLO->setValue(0);
        XHI->setValue(layer->Width - 1);
        YLO->setValue(0);
        YHI->setValue(layer->Height - 1);
    }
}

void TCompositeF::SelectAreaInBoxClick()
{
    const ImageData *layer = CurrentLayerImage();
    if (!layer || !layer->SelectionShown)
        return;
    XLO->setValue(layer->SelX0);
    XHI->setValue(layer->SelX1);
    YLO->setValue(layer->SelY0);
    YHI->setValue(layer->SelY1);
}

// ---------------------------------------------------------------------------------------------
// Tool-bar shifts and rotations: values kept with the layer (and its composite file), not applied
// to the pixels.

void TCompositeF::ShiftLayer(float dx, float dy)
{
    ImageData *layer = CurrentLayerImage();
    if (!layer)
        return;
    layer->ShiftX += dx;
    layer->ShiftY += dy;
    RedrawComposite();
}

void TCompositeF::RotateLayer(int direction)
{
    ImageData *layer = CurrentLayerImage();
    if (!layer)
        return;
    const CFSettings &settings = CompositeEditorSettings();
    double angle = static_cast<double>(layer->Angle) + direction * static_cast<double>(settings.RotationStep);
    angle = std::fmod(angle, TwoPi);
    if (angle < 0.0)
        angle += TwoPi;
    if (angle >= TwoPi)
        angle = 0.0;
    layer->Angle = static_cast<float>(angle);
    layer->RotationCentreX = settings.RotationCentreX;
    layer->RotationCentreY = settings.RotationCentreY;
    RedrawComposite();
}

// ---------------------------------------------------------------------------------------------
// Trim and quick equalization

void TCompositeF::ChangeLayerShape()
{
    // The selection named pixels of the layer as it was.
    if (ImageData *layer = CurrentLayerImage())
        layer->SelectionShown = false;
    redoTransform_.reset();
    SetItems(QStringLiteral("&Undo filter"), true, QStringLiteral("&Redo"), false);
    UpdateLayerControls();
    RedrawComposite();
}

void TCompositeF::TrimToSelectedRegionClick()
{
    ImageData *layer = CurrentLayerImage();
    // Without a selection there is no region: a trim to stale corners would throw the layer away.
    if (!layer || !layer->SelectionShown)
        return;
    Snapshot();
    LastOperation = 7;
    CropImage(*layer, layer->SelX0, layer->SelY0, layer->SelX1, layer->SelY1);
    ChangeLayerShape();
}

void TCompositeF::TrimToSelectedClick()
{
    ImageData *layer = CurrentLayerImage();
    if (!layer || !layer->SelectionShown)
        return;
    // The whole snapshot, as for every other change: Undo restores the composite backup, which
    // must hold the layer as it was before this trim.
    Snapshot();
    LastOperation = 7;
    if (MainF) {
        MainF->CalibrationUndoTag = -1;
        MainF->UndoImage.Assign(*layer);
    }
    CropImage(*layer, layer->SelX0, layer->SelY0, layer->SelX1, layer->SelY1);
    ChangeLayerShape();
}

void TCompositeF::TrimCustomClick()
{
    ImageData *layer = CurrentLayerImage();
    auto *filter = MainF ? qobject_cast<TFilterF *>(MainF->ProgramWindow("TFilterF")) : nullptr;
    if (!layer || !filter)
        return;
    EditTarget = EditCompositeLayer;
    LastOperation = 7;
    filter->TrimXLO->setValue(layer->SelX0);
    filter->TrimYLO->setValue(layer->SelY0);
    filter->TrimXHI->setValue(layer->SelX1);
    filter->TrimYHI->setValue(layer->SelY1);
    MainF->ShowProgramWindow("TFilterF");
}

void TCompositeF::QuickClick()
{
    ImageData *layer = CurrentLayerImage();
    if (!layer)
        return;
    Snapshot();
    QuickEqualizeLayer(*layer);
    LastOperation = 3;
    redoTransform_.reset();
    RedrawComposite();
    SetItems(QStringLiteral("&Undo filter"), true, QStringLiteral("&Redo"), false);
}

// ---------------------------------------------------------------------------------------------
// Processing windows and palettes

void TCompositeF::ProcessingItemClick(int code, const char *className)
{
    if (!MainF)
        return;
    EditTarget = EditCompositeLayer;
    if (code >= 0)
        LastOperation = code;
    MainF->ShowProgramWindow(className);
}

void TCompositeF::StatisticsClick()
{
    const ImageData *layer = CurrentLayerImage();
    auto *stats = MainF ? qobject_cast<TStatsForm *>(MainF->ProgramWindow("TStatsForm")) : nullptr;
    if (!layer || !stats)
        return;
    stats->SetSource(layer, this);
    MainF->ShowProgramWindow("TStatsForm");
}

void TCompositeF::PaletteForCurrentClick()
{
    const int current = CompositeEditorSettings().CurrentLayer;
    if (!MainF || current < 0 || current >= CompositeLayers)
        return;
    // An empty layer is edited from its default palette, which a loaded image will get anyway.
    if (!Composite().LayerLoaded(current))
        Composite().Layers[current].Palette.Assign(CompositeEditorSettings().LayerPalettes[current]);
    EditTarget = EditCompositeLayer;
    MainF->ShowProgramWindow("TPaletteSet");
}

void TCompositeF::DefaultPaletteClick()
{
    const int current = CompositeEditorSettings().CurrentLayer;
    if (!MainF || current < 0 || current >= CompositeLayers)
        return;
    EditTarget = EditCompositePalette;
    MainF->ShowProgramWindow("TPaletteSet");
}

void TCompositeF::AlignImagesClick()
{
    if (MainF)
        MainF->ShowProgramWindow("TAlignF");
}

// ---------------------------------------------------------------------------------------------
// Undo and Redo

void TCompositeF::UndoClick()
{
    EditTarget = EditCompositeLayer;
    // Only an operation on the composite: the last one may have been on an image window since.
    if (MainF && MainF->LastUndo.editTarget == EditCompositeLayer)
        UndoLastOperation();
}

void TCompositeF::RedoClick()
{
    EditTarget = EditCompositeLayer;
    if (redoTransform_) {
        // A transform is not an operation of the processing dialog: Redo restores the composite
        // as it was before the transform and applies the same transform to it again.
        const TransformRun run = *redoTransform_;
        if (!UndoProcessing(EditCompositeLayer) || !RunTransform(run))
            return;
        redoTransform_ = run;
        return;
    }
    // A processing window's operation, with the values it ran with, on the layer as it was.
    if (redoCode_ < 0 || !MainF || MainF->LastUndo.editTarget != EditCompositeLayer)
        return;
    RedoLastOperation();
}

// ---------------------------------------------------------------------------------------------
// ProcessingTargetOwner

ImageData *TCompositeF::ProcessingImage(int editTarget)
{
    return editTarget == EditCompositeLayer ? CurrentLayerImage() : nullptr;
}

void TCompositeF::BackUpForUndo(int editTarget)
{
    if (editTarget == EditCompositeLayer)
        Snapshot();
}

void TCompositeF::ProcessingApplied(int editTarget, const QString &undoCaption, bool redo)
{
    if (editTarget != EditCompositeLayer)
        return;
    redoTransform_.reset();
    redoCode_ = redo ? LastOperation.load() : -1;
    const CFSettings &settings = CompositeEditorSettings();
    UpdateLayerControls(); // a trim may have changed the layer's size
    if (settings.View == settings.CurrentLayer || settings.View == CompositeView)
        RedrawComposite();
    SetItems(undoCaption, true, QStringLiteral("&Redo filter"), redo);
}

struct TCompositeF::KeptUndo {
    CompositeImage composite;
    CFSettings settings;
    bool taken = false;
    std::optional<TransformRun> transform;
    int redoCode = -1;
    QString undo, redo;
    bool undoOn = false, redoOn = false;
};

void TCompositeF::KeepUndo(int editTarget)
{
    if (editTarget != EditCompositeLayer)
        return;
    kept_ = std::make_shared<KeptUndo>();
    kept_->composite.Assign(CompositeBackup());
    kept_->settings = CompositeEditorSettingsBackup();
    kept_->taken = backupTaken_;
    kept_->transform = redoTransform_;
    kept_->redoCode = redoCode_;
    kept_->undo = Undo1->text();
    kept_->redo = Redo1->text();
    kept_->undoOn = Undo1->isEnabled();
    kept_->redoOn = Redo1->isEnabled();
}

void TCompositeF::ProcessingPreviewed(int editTarget)
{
    if (editTarget != EditCompositeLayer || !kept_)
        return;
    CompositeBackup().Assign(kept_->composite);
    CompositeEditorSettingsBackup() = kept_->settings;
    backupTaken_ = kept_->taken;
    redoTransform_ = kept_->transform;
    redoCode_ = kept_->redoCode;
    SetItems(kept_->undo, kept_->undoOn, kept_->redo, kept_->redoOn);
    kept_.reset();
}

bool TCompositeF::CanUndoProcessing(int editTarget) const
{
    return editTarget == EditCompositeLayer && backupTaken_;
}

bool TCompositeF::UndoProcessing(int editTarget)
{
    if (editTarget != EditCompositeLayer || !backupTaken_)
        return false;
    // The layers' pixels as they were; the editor's settings, and each layer's palette, intensity,
    // bias and placement chosen since, stay: no operation changes them.
    for (int layer = 0; layer < CompositeLayers; ++layer)
        RestoreOperationChanges(Composite().Layers[layer], CompositeBackup().Layers[layer], true);
    UpdateLayerControls();
    RedrawComposite();
    // Redo is offered only for what it repeats: the transform, or the processing operation of
    // the snapshot (not a trim or an equalization, whose region or table Redo cannot take again).
    if (redoTransform_)
        SetItems(QStringLiteral("&Undo filter"), true, QStringLiteral("&Redo transform"), true);
    else
        SetItems(QStringLiteral("&Undo filter"), true, QStringLiteral("&Redo filter"),
                 redoCode_ >= 0 && MainF && MainF->LastUndo.repeat);
    return true;
}
