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
    // The record names the target: whatever EditTarget names now is not asked.
    UndoLastOperation();
}

void TMainF::DropUndoSnapshot()
{
    UndoWindowTag = -1;
    CalibrationUndoTag = -1;
    LastUndo = {};
    Undo1->setText(QStringLiteral("&Undo"));
    Redo1->setText(QStringLiteral("&Redo"));
    UpdateUndoItems();
}

void TMainF::UpdateUndoItems()
{
    Undo1->setEnabled(CanUndoLastOperation());
    // The menu's Redo works on image windows; a composite layer has the editor's own Redo.
    Redo1->setEnabled(LastUndo.editTarget == EditActiveImage && CanRedoLastOperation());
    emit UndoChanged();
}

void TMainF::RedoActionExecute()
{
    // Redo repeats the operation of the snapshot, with its own values, on the window the snapshot
    // was taken of. One that cannot be repeated changes nothing here: in particular no new
    // snapshot is taken of the processed image, so Undo still brings back the original.
    if (LastUndo.editTarget != EditActiveImage || !CanRedoLastOperation())
        return;
    if (TChild *undone = FindImageWindow(UndoWindowTag); undone && undone != FirstImageWindow())
        MdiArea->setActiveSubWindow(undone);
    RedoLastOperation();
}

void TMainF::Quick1Click()
{
    EditTarget = EditActiveImage;
    const ProcessingTarget target = ProcessingTarget::Resolve();
    if (!target)
        return;
    const ImageData &image = target.Image();
    std::vector<std::uint32_t> histogram(65536);
    float mean = 0.0f, median = 0.0f, deviation = 0.0f;
    int minimum = 0, maximum = 0, mode = 0;
    ComputeRegionStatistics(image.Rows, histogram.data(), 0, 0, image.Width, image.Height, mean, median,
                            deviation, minimum, maximum, mode, 65535);
    // Cumulative counts from level 1 up (level 0 is not counted), scaled to 0..65535.
    std::vector<float> table(65536);
    BuildEqualizationTable(histogram.data(), table.data());
    target.Apply({3, ""}, [&](ImageData &result) { ApplyHistogramEqualization(result, table.data()); },
                 {.autoLevels = false, .undoCaption = QStringLiteral("&Undo equalization")});
}

void TMainF::SkySubtractBtnClick()
{
    EditTarget = EditActiveImage;
    const ProcessingTarget target = ProcessingTarget::Resolve();
    if (!target)
        return;
    // A refused fit is reported and leaves the image, its Undo and its Modified flag as they were.
    // Redo would run the processing dialog's sky model, with that dialog's order: not offered.
    const int order = PolyOrder->value();
    target.Apply({13, ""}, [order](ImageData &result) { FitAndSubtractSkyModel(result, order); });
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
