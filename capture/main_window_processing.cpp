// The main window's "F&ilters" menu: the items that open the processing windows, the direct
// operations, and the one-level Undo and Redo that every processing window shares.
#include "main_window.h"

#include "edit_target.h"
#include "gui_runtime.h"
#include "image_window.h"
#include "levels.h"
#include "processing/equalization.h"
#include "processing/filters.h"
#include "processing/sky_model.h"
#include "processing_dialog.h"
#include "processing_target.h"

#include <QAction>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QSpinBox>

#include <vector>

void TMainF::BuildProcessingMenu()
{
    using korvi::gui::Guarded;
    FiltersMenu = menuBar()->addMenu(QStringLiteral("F&ilters"));
    FiltersMenu->setObjectName(QStringLiteral("Filters1"));
    Undo1 = FiltersMenu->addAction(QStringLiteral("&Undo"));
    Undo1->setObjectName(QStringLiteral("Undo1"));
    Undo1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    Undo1->setToolTip(QStringLiteral("Undo last processing"));
    connect(Undo1, &QAction::triggered, this, Guarded([this](bool) {
                EditTarget = EditActiveImage;
                UndoActionExecute();
            }));
    Redo1 = FiltersMenu->addAction(QStringLiteral("&Redo"));
    Redo1->setObjectName(QStringLiteral("Redo1"));
    Redo1->setShortcut(QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_Z));
    Redo1->setEnabled(false);
    connect(Redo1, &QAction::triggered, this, Guarded([this](bool) {
                EditTarget = EditActiveImage;
                RedoActionExecute();
            }));
    FiltersMenu->addSeparator();
    AddProcessingItem(FiltersMenu, "Convolutionfilters1", QStringLiteral("Convolution filters..."), 1);
    AddProcessingItem(FiltersMenu, "Gaussiancrossconvolution1",
                      QStringLiteral("Gaussian cross-convolution..."), 2);
    AddProcessingItem(FiltersMenu, "Localaverage1", QStringLiteral("Local average..."), 4);
    AddProcessingItem(FiltersMenu, "Medianfilter1", QStringLiteral("Median filter..."), 5);
    AddProcessingItem(FiltersMenu, "Unsharpmask1", QStringLiteral("Unsharp mask..."), 6);
    AddProcessingItem(FiltersMenu, "Minimalmaximalfilter1", QStringLiteral("Minimal/maximal filter..."), 10);
    AddProcessingItem(FiltersMenu, "Threshold1", QStringLiteral("Threshold..."), 14);
    FiltersMenu->addSeparator();
    QMenu *equalization = FiltersMenu->addMenu(QStringLiteral("Histogram equalization"));
    equalization->setObjectName(QStringLiteral("Histogramequalization1"));
    QAction *quick = equalization->addAction(QStringLiteral("Quick"));
    quick->setObjectName(QStringLiteral("Quick1"));
    connect(quick, &QAction::triggered, this, Guarded([this](bool) { Quick1Click(); }));
    AddProcessingItem(equalization, "Custom1", QStringLiteral("Custom"), -1, "TEqualizeF");
    AddProcessingItem(FiltersMenu, "Fourierhighlowpass1", QStringLiteral("Fourier high/low pass..."), -1,
                      "TFourierF");
    AddProcessingItem(FiltersMenu, "Skymodel1", QStringLiteral("Sky model..."), 13);
    AddProcessingItem(FiltersMenu, "Logarithmicrescaling1", QStringLiteral("Logarithmic rescaling..."), 16);
    AddProcessingItem(FiltersMenu, "Removebloom1", QStringLiteral("Remove bloom..."), 17, "TBloomRemovalF");
    FiltersMenu->addSeparator();
    QAction *trim = FiltersMenu->addAction(QStringLiteral("&Trim to selected region"));
    trim->setObjectName(QStringLiteral("FastTrim1"));
    connect(trim, &QAction::triggered, this, Guarded([this](bool) { FastTrimClick(); }));
    // Offered like the dialog's other pages, but it presets the corners before showing the dialog.
    QAction *trimCustom = FiltersMenu->addAction(QStringLiteral("Trim &custom..."));
    trimCustom->setObjectName(QStringLiteral("TrimCustom1"));
    connect(trimCustom, &QAction::triggered, this, Guarded([this](bool) { TrimCustomClick(); }));
    processingItems_.push_back({trimCustom, 7, "TFilterF"});
    connect(FiltersMenu, &QMenu::aboutToShow, this, [this] { UpdateProcessingItems(); });
    UpdateProcessingItems();
}

QAction *TMainF::AddProcessingItem(QMenu *menu, const char *name, const QString &caption, int code,
                                   const char *className)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    const std::string owner = className ? className : OperationOwnerClass(code);
    connect(action, &QAction::triggered, this, korvi::gui::Guarded([this, code, owner](bool) {
                EditTarget = EditActiveImage;
                if (code >= 0)
                    LastOperation = code;
                ShowProgramWindow(owner.c_str());
            }));
    processingItems_.push_back({action, code, owner});
    return action;
}

void TMainF::UpdateProcessingItems()
{
    for (const ProcessingItem &item : processingItems_) {
        bool available = ProgramWindow(item.className.c_str()) != nullptr;
        // A page of the processing dialog is offered once the dialog runs its operation; other
        // windows are offered as soon as they are built.
        if (available && item.className == "TFilterF")
            available = CanRepeatOperation(item.code);
        item.action->setEnabled(available);
    }
}

void TMainF::UndoActionExecute()
{
    const int target = EditTarget;
    if (target != EditActiveImage) {
        if (ProcessingTargetOwner *owner = FindTargetOwner(target))
            owner->UndoProcessing(target);
        return;
    }
    TChild *window = FindImageWindow(UndoWindowTag);
    if (!window || UndoImage.Empty)
        return;
    window->Image().Assign(UndoImage);
    window->RenderImage();
    Undo1->setEnabled(true);
    Undo1->setText(QStringLiteral("&Undo filter"));
    Redo1->setEnabled(RedoOperation >= 0 && CanRepeatOperation(RedoOperation));
    Redo1->setText(QStringLiteral("&Redo filter"));
}

void TMainF::DropUndoSnapshot()
{
    UndoWindowTag = -1;
    CalibrationUndoTag = -1;
    RedoOperation = -1;
    Undo1->setText(QStringLiteral("&Undo"));
    Undo1->setEnabled(false);
    Redo1->setText(QStringLiteral("&Redo"));
    Redo1->setEnabled(false);
}

void TMainF::RedoActionExecute()
{
    const int target = EditTarget;
    if (target == EditCompositeLayer) {
        ProcessingTargetOwner *owner = FindTargetOwner(target);
        if (owner && CanRepeatOperation(LastOperation) && owner->UndoProcessing(target))
            RepeatLastOperation();
        return;
    }
    if (target != EditActiveImage || !FirstImageWindow())
        return;
    // Redo repeats the operation of the snapshot, on the window the snapshot was taken of. One no
    // window can repeat changes nothing here: in particular no new snapshot is taken of the
    // processed image, so Undo still brings back the original.
    TChild *undone = FindImageWindow(UndoWindowTag);
    if (RedoOperation < 0 || !undone || !CanRepeatOperation(RedoOperation))
        return;
    if (undone != FirstImageWindow())
        MdiArea->setActiveSubWindow(undone);
    LastOperation = RedoOperation;
    if (!RepeatLastOperation())
        return;
    if (TChild *window = FirstImageWindow())
        window->RenderImage();
    Undo1->setEnabled(true);
    Undo1->setText(QStringLiteral("&Undo filter"));
    Redo1->setEnabled(true);
    Redo1->setText(QStringLiteral("&Redo filter"));
}

void TMainF::Quick1Click()
{
    EditTarget = EditActiveImage;
    const ProcessingTarget target = ProcessingTarget::Resolve();
    if (!target)
        return;
    ImageData &image = target.Image();
    std::vector<std::uint32_t> histogram(65536);
    float mean = 0.0f, median = 0.0f, deviation = 0.0f;
    int minimum = 0, maximum = 0, mode = 0;
    ComputeRegionStatistics(image.Rows, histogram.data(), 0, 0, image.Width, image.Height, mean, median,
                            deviation, minimum, maximum, mode, 65535);
    // Cumulative counts from level 1 up (level 0 is not counted), scaled to 0..65535.
    std::vector<float> table(65536);
    BuildEqualizationTable(histogram.data(), table.data());
    target.Snapshot(3);
    ApplyHistogramEqualization(image, table.data());
    target.Refresh({.autoLevels = false, .undoCaption = QStringLiteral("&Undo equalization"), .redo = false});
}

void TMainF::SkySubtractBtnClick()
{
    EditTarget = EditActiveImage;
    const ProcessingTarget target = ProcessingTarget::Resolve();
    if (!target)
        return;
    target.Snapshot(13);
    // A refused fit is reported and leaves the image as it was.
    FitAndSubtractSkyModel(target.Image(), PolyOrder->value());
    // Redo would run the processing dialog's sky model, with that dialog's order: not offered.
    target.Refresh({.redo = false});
}

void TMainF::TrimCustomClick()
{
    EditTarget = EditActiveImage;
    LastOperation = 7;
    auto *filter = qobject_cast<TFilterF *>(ProgramWindow("TFilterF"));
    TChild *window = FirstImageWindow();
    if (filter && window && !window->Image().Empty) {
        const ImageData &image = window->Image();
        // The shown selection, or the whole image when there is none (a trim that keeps it all).
        const bool shown = image.SelectionShown;
        filter->TrimXLO->setValue(shown ? image.SelX0 : 0);
        filter->TrimYLO->setValue(shown ? image.SelY0 : 0);
        filter->TrimXHI->setValue(shown ? image.SelX1 : image.Width - 1);
        filter->TrimYHI->setValue(shown ? image.SelY1 : image.Height - 1);
    }
    ShowProgramWindow("TFilterF");
}
