// TCompositeF: layer, composite and settings files, the bitmap export's dialog, and Exit.
#include "composite/composite_editor.h"

#include "composite/cf_settings.h"
#include "edit_target.h"
#include "file_dialogs.h"
#include "file_names.h"
#include "gui_runtime.h"
#include "main_window.h"
#include "program_file_dialog.h"
#include "settings.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace
{

const char *const LayerOpenFilter =
    "Korvi image file (*.kvr)|*.kvr|FITS image file (*.fit, *.fts, *.fiz)|*.fit;*.fts;*.fiz|"
    "Windows bitmap (*.bmp)|*.bmp|Portable Network Graphics (*.png)|*.png|"
    "All image formats (*.kvr, *fit, *.fts, *.fiz, *.bmp, *.png)|*.kvr;*.fit;*.fts;*.fiz;*.bmp;*.png|"
    "All files (*.*)|*.*";
const char *const LayerSaveFilter = "Korvi image file (*.kvr)|*.kvr|FITS image file (*.fit)|*.fit|"
                                    "Windows bitmap (*.bmp)|*.bmp|Portable Network Graphics (*.png)|*.png|"
                                    "All files (*.*)|*.*";
const char *const CompositeFilter = "Quentarbolisk file format (*.qzn)|*.qzn";
const char *const BitmapFilter = "Windows bitmap (*.bmp)|*.bmp";
const char *const CompositeSettingsFilter = "Settings files (*.dat)|*.dat";

std::string SettingsDirectory()
{
    return MainF ? MainF->ProgramDirectory() + "Settings/" : std::string();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Layers and composites

void TCompositeF::LoadSingleImageClick()
{
    const int current = CompositeEditorSettings().CurrentLayer;
    if (current < 0 || current >= CompositeLayers)
        return;
    Settings &s = CurrentSettings();
    const FileDialogChoice choice =
        RunFileDialogChoice(this, FileDialogKind::Open, QStringLiteral("Load a new image layer"),
                            LayerOpenFilter, 5, s.LastOpenDirectory[0], {});
    if (choice.file.isEmpty())
        return;
    const std::string path = choice.file.toStdString();
    s.LastOpenDirectory[0] = ExtractDirectoryPart(path);
    if (!QFile::exists(choice.file))
        return;
    if (!Composite().LoadLayer(current, path, CompositeEditorSettings().LayerPalettes[current]))
        return;
    ForgetUndo(); // the backup holds the composite without this layer
    DrawPaletteBar(current);
    UpdateLayerControls();
    RedrawComposite();
}

void TCompositeF::LoadCompositeClick()
{
    // The unsaved composite stays when the observer wanted it saved and it was not.
    if (!Composite().IsNew && !NewCompositeClick())
        return;
    const FileDialogChoice choice =
        RunFileDialogChoice(this, FileDialogKind::Open, QStringLiteral("Open a composite image"),
                            CompositeFilter, 1, CurrentSettings().LastOpenDirectory[0], {});
    if (choice.file.isEmpty() || !QFile::exists(choice.file))
        return;
    // Read aside: a refused or damaged file leaves the editor's composite as it was.
    CompositeImage loaded;
    if (!loaded.LoadFromFile(choice.file.toStdString()))
        return;
    CompositeImage &composite = Composite();
    composite.Clear();
    composite.Name = loaded.Name;
    composite.BlendMode = loaded.BlendMode;
    composite.AllLayerIntensity = loaded.AllLayerIntensity;
    composite.LayerCount = loaded.LayerCount;
    for (int i = 0; i < loaded.LayerCount && i < CompositeLayers; ++i) {
        composite.Layers[i] = std::move(loaded.Layers[i]);
        composite.UseInComposite[i] = true;
    }
    composite.IsNew = false;
    CompositeEditorSettings().View = CompositeView;
    ShowView(CompositeView);
    CompositeEditorSettingsBackup() = CompositeEditorSettings();
    ForgetUndo();
}

bool TCompositeF::SaveCompositeClick(const QString &title, const std::string &directory)
{
    const FileDialogChoice choice = RunFileDialogChoice(this, FileDialogKind::Save, title, CompositeFilter, 1,
                                                        directory, Composite().Name);
    if (choice.file.isEmpty())
        return false;
    // The name written is the one asked about: an existing "name.qzn" is not replaced unasked
    // when the name was typed without its extension.
    const std::string name = StripExtension(choice.file.toStdString()) + ".qzn";
    if (QFile::exists(QString::fromStdString(name)) &&
        korvi::gui::ShowMessage(QStringLiteral("The file: ") + QString::fromStdString(name) +
                                    QStringLiteral(" will be overwritten; proceed?"),
                                QStringLiteral("Korvi"), MessageButtons::OkCancel,
                                MessageIcon::Question) != MessageAnswer::Ok)
        return false;
    return Composite().SaveToFile(name);
}

bool TCompositeF::NewCompositeClick()
{
    // Yes clears the composite only once it is on disk: a cancelled save dialog, a refused
    // overwrite or a write error keep the work in the editor.
    if (korvi::gui::ShowMessage(QStringLiteral("Would you like to save changes to your work?"),
                                QStringLiteral("Korvi"), MessageButtons::YesNo,
                                MessageIcon::Question) == MessageAnswer::Yes &&
        !SaveCompositeClick(QStringLiteral("Save composite and pixel data"),
                            CurrentSettings().LastOpenDirectory[0]))
        return false;
    Composite().Clear();
    redoTransform_.reset();
    UpdateLayerControls();
    RedrawComposite();
    return true;
}

void TCompositeF::SaveSingleImageClick()
{
    ImageData *layer = CurrentLayerImage();
    if (!layer || !MainF)
        return;
    Settings &s = CurrentSettings();
    const FileDialogChoice choice =
        RunFileDialogChoice(this, FileDialogKind::Save, QStringLiteral("Save image"), LayerSaveFilter,
                            layer->OriginFormat + 1, s.LastSaveDirectory[0], StripExtension(layer->FileName));
    if (choice.file.isEmpty())
        return;
    const SaveAsTarget target = SaveAsTargetFor(choice.file.toStdString(), choice.filterIndex);
    EditTarget = EditCompositeLayer;
    if (!MainF->SaveImageInFormat(target.fileName, *layer, target.format))
        return;
    s.LastSaveDirectory[0] = ExtractDirectoryPart(target.fileName);
    UpdateLayerControls();
}

void TCompositeF::SaveBitmapClick()
{
    const FileDialogChoice choice = RunFileDialogChoice(
        this, FileDialogKind::Save, QStringLiteral("Save image as a bitmap"), BitmapFilter, 1,
        CurrentSettings().LastSaveDirectory[0], StripExtension(Composite().Name) + ".bmp");
    if (choice.file.isEmpty())
        return;
    // A name typed without its extension gets ".bmp", as the dialog's only format.
    QString file = choice.file;
    if (!QFileInfo(file).fileName().contains(QLatin1Char('.')))
        file += QStringLiteral(".bmp");
    korvi::gui::BeginBusyCursor();
    ZoomFitExecute();
    SaveViewBitmap(file);
    korvi::gui::EndBusyCursor();
    RedrawComposite();
}

// ---------------------------------------------------------------------------------------------
// Settings files

void TCompositeF::SaveSettingsAsClick()
{
    const FileDialogChoice choice =
        RunFileDialogChoice(this, FileDialogKind::Save, QStringLiteral("Save application settings"),
                            CompositeSettingsFilter, 1, SettingsDirectory(), "CompositeForm.dat");
    if (choice.file.isEmpty())
        return;
    StoreGeometry();
    CompositeEditorSettings().SaveToFile(choice.file.toStdString());
}

void TCompositeF::LoadSettingsClick()
{
    const FileDialogChoice choice =
        RunFileDialogChoice(this, FileDialogKind::Open, QStringLiteral("Load settings"),
                            CompositeSettingsFilter, 1, SettingsDirectory(), "CompositeForm.dat");
    if (choice.file.isEmpty() || !QFile::exists(choice.file))
        return;
    CFSettings &settings = CompositeEditorSettings();
    if (!settings.LoadFromFile(choice.file.toStdString()))
        return;
    for (PPalette &palette : settings.LayerPalettes)
        palette.BuildTables(true, true, true);
    settings.View = std::clamp(settings.View, 0, static_cast<int>(CompositeView));
    settings.CurrentLayer = std::clamp(settings.CurrentLayer, 0, static_cast<int>(AllLayers));
    UpdateLayerControls();
    RedrawComposite();
}

void TCompositeF::SaveSettingsDefaultClick()
{
    StoreGeometry();
    CompositeEditorSettings().SaveToFile(SettingsDirectory() + "CompositeForm.dat");
}

void TCompositeF::ExitClick()
{
    StoreGeometry();
    CompositeEditorSettings().SaveToFile(SettingsDirectory() + "CFSaveSettings");
    close();
}
