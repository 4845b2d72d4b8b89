// TMainF: the file commands (load, save, save as, close), the window limit, the Window menu and
// the settings-file commands.
#include "main_window.h"

#include "edit_target.h"
#include "file_dialogs.h"
#include "file_names.h"
#include "gui_runtime.h"
#include "image_file.h"
#include "image_window.h"
#include "program_file_dialog.h"
#include "settings.h"

#include <QAction>
#include <QActionGroup>
#include <QFileDialog>
#include <QMdiArea>
#include <QMenu>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace
{

QFileDialog *MakeDialog(QWidget *parent, const char *name)
{
    auto *dialog = new QFileDialog(parent);
    dialog->setObjectName(QString::fromLatin1(name));
    korvi::gui::PrepareFileDialog(*dialog);
    dialog->setOption(QFileDialog::HideNameFilterDetails, true);
    return dialog;
}

bool FileExists(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Load

void TMainF::LoadImage1Click()
{
    if (!OpenDialog) {
        OpenDialog = MakeDialog(this, "OpenDialog");
        // Multiple selection stays on for later uses of the same dialog.
        OpenDialog->setFileMode(QFileDialog::ExistingFiles);
        OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    }
    const QStringList filters = DialogNameFilters(OpenImageFilter);
    OpenDialog->setWindowTitle(QStringLiteral("Open an image file"));
    OpenDialog->setNameFilters(filters);
    OpenDialog->selectNameFilter(filters.value(4));
    OpenDialog->setDirectory(
        QString::fromStdString(DialogStartDirectory(CurrentSettings().LastOpenDirectory[0])));
    if (OpenDialog->exec() != QDialog::Accepted)
        return;
    const QStringList files = OpenDialog->selectedFiles();
    LoadImageFiles(files);
    if (!files.isEmpty())
        CurrentSettings().LastOpenDirectory[0] = ExtractDirectoryPart(files.front().toStdString());
}

int TMainF::LoadImageFiles(const QStringList &files)
{
    int opened = 0;
    const int maximum = EffectiveMaximumWindows();
    for (int i = 0; i < files.size() && i < maximum; ++i) {
        ::BusyCursor busy;
        // The file goes into the load buffer first; the reader reports a file it cannot read.
        if (!LoadImageFile(files[i].toStdString(), UndoImage))
            break;
        // The buffer no longer holds any window's earlier state: an undo now would put this file
        // into the processed window and lose what that window held.
        DropUndoSnapshot();
        TChild *child = CreateImageWindow(UndoImage.Height, UndoImage.Width);
        child->Image().Assign(UndoImage);
        child->show();
        child->AttachToWindowMenu();
        child->FitToWindow();
        child->RenderImage();
        UpdateImageControls(child);
        ++opened;
    }
    return opened;
}

// ---------------------------------------------------------------------------------------------
// Save

void TMainF::File1Click()
{
    const bool haveImage = FirstImageWindow() != nullptr;
    Save->setEnabled(haveImage);
    SaveAs->setEnabled(haveImage);
}

static void ReportSaveFailure(const std::string &name)
{
    korvi::gui::ShowMessage(QStringLiteral("The image could not be saved to: ") +
                                QString::fromStdString(name),
                            QStringLiteral("Korvi"), MessageButtons::Ok, MessageIcon::Warning);
}

void TMainF::Save1Click()
{
    TChild *window = FirstImageWindow();
    if (!window)
        return;
    EditTarget = EditActiveImage;
    ImageData &image = window->Image();
    const std::string name = image.FileName;
    if (name.empty()) {
        SaveAsClick(); // a new image (a preview ...) has no file yet: the user names one
        return;
    }
    if (!SaveImageInFormat(name, image, image.OriginFormat))
        ReportSaveFailure(name);
}

void TMainF::SaveAsClick()
{
    TChild *window = FirstImageWindow();
    if (!window)
        return;
    ImageData &image = window->Image();
    if (!SaveDialog) {
        SaveDialog = MakeDialog(this, "SaveDialog");
        SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
        SaveDialog->setFileMode(QFileDialog::AnyFile);
        // The program asks its own question about an existing file, after the extension is set.
        SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    }
    const QStringList filters = DialogNameFilters(SaveImageFilter);
    for (;;) {
        SaveDialog->setWindowTitle(QStringLiteral("Select save file name"));
        SaveDialog->setNameFilters(filters);
        const int presetFilter = std::clamp(image.OriginFormat, 0, 5) + 1;
        SaveDialog->selectNameFilter(filters.value(presetFilter - 1));
        SaveDialog->setDirectory(
            QString::fromStdString(DialogStartDirectory(CurrentSettings().LastSaveDirectory[0])));
        if (SaveDialog->exec() != QDialog::Accepted || SaveDialog->selectedFiles().isEmpty())
            return;
        const std::string chosen = SaveDialog->selectedFiles().front().toStdString();
        const SaveAsTarget target =
            SaveAsTargetFor(chosen, NameFilterIndex(filters, SaveDialog->selectedNameFilter()), presetFilter);

        if (FileExists(target.fileName)) {
            const QString question = QStringLiteral("The file: ") +
                                     QString::fromStdString(ExtractFileNamePart(target.fileName)) +
                                     QStringLiteral(", exists. Do you wish to overwrite it?");
            if (korvi::gui::ShowMessage(question, QStringLiteral("Korvi"), MessageButtons::YesNo,
                                        MessageIcon::Question) != MessageAnswer::Yes)
                continue;
            // The existing file is replaced by the writer only once the new one is complete.
        }

        EditTarget = EditActiveImage;
        if (!SaveImageInFormat(target.fileName, image, target.format)) {
            ReportSaveFailure(target.fileName);
            return;
        }
        // Later "Save Image" commands write the same format to the same file.
        image.OriginFormat = target.format;
        const QString caption = QString::fromStdString(ExtractFileNamePart(target.fileName));
        window->setWindowTitle(caption);
        for (QAction *item : WindowMenu->actions())
            if (item->data().isValid() && item->data().toLongLong() == window->Tag() + 5)
                item->setText(caption);
        CurrentSettings().LastSaveDirectory[0] = ExtractDirectoryPart(target.fileName);
        SaveDialog->selectFile(QString::fromStdString(StripExtension(image.FileName)));
        return;
    }
}

bool TMainF::SaveImageInFormat(const std::string &name, ImageData &image, int format)
{
    if (!korvi::gui::IsGuiThread())
        return korvi::gui::CallOnGuiThread([&] { return SaveImageInFormat(name, image, format); });
    if (name.empty())
        return false;
    // A folder that cannot be made fails the save like any other write.
    MakeFolderOf(name);
    bool written = false;
    switch (format) {
    case FormatBmp:
        // A picture of what is displayed: the active image window's view, or the composite
        // editor's view for a composite layer.
        if (EditTarget == EditActiveImage) {
            if (TChild *window = FirstImageWindow())
                written = window->SaveViewBitmap(name);
        } else if (EditTarget == EditCompositeLayer) {
            if (QWidget *editor = ProgramWindow("TCompositeF"))
                QMetaObject::invokeMethod(editor, "SaveViewBitmap", Qt::DirectConnection,
                                          Q_RETURN_ARG(bool, written),
                                          Q_ARG(QString, QString::fromStdString(name)));
        }
        break;
    case FormatNative:
    case FormatFits:
    case FormatPng:
        written = SaveImageFile(name, format, image);
        break;
    default:
        break; // no such format: nothing is written
    }
    if (written) {
        image.FileName = name;
        image.Modified = false;
    }
    return written;
}

// ---------------------------------------------------------------------------------------------
// Close, window limit, arrangement, Window menu

void TMainF::Close1Click()
{
    if (TChild *window = FirstImageWindow())
        CloseImageWindow(window);
}

void TMainF::CloseAll1Click()
{
    std::vector<TChild *> windows = ImageWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        CloseImageWindow(*it);
}

void TMainF::MaximumFilesClick(int maximum)
{
    CurrentSettings().MaximumWindows = maximum;
    for (QAction *item : MaximumFilesItems)
        item->setChecked(item->text().toInt() == maximum);
    LimitOpenWindows();
}

void TMainF::LimitOpenWindows()
{
    for (;;) {
        std::vector<TChild *> windows = ImageWindows();
        if (static_cast<int>(windows.size()) <= EffectiveMaximumWindows())
            break;
        TChild *oldest =
            *std::min_element(windows.begin(), windows.end(),
                              [](const TChild *a, const TChild *b) { return a->Tag() < b->Tag(); });
        // A window that cannot be closed (its image could not be saved) ends the trimming.
        if (!CloseImageWindow(oldest))
            break;
    }
    SysTimer->start();
}

void TMainF::TileClick()
{
    Tile1->setChecked(true);
    ArrangeImageWindows(0);
    CurrentSettings().WindowArrangement = 0;
}

void TMainF::CascadeClick()
{
    Cascade1->setChecked(true);
    ArrangeImageWindows(1);
    CurrentSettings().WindowArrangement = 1;
}

void TMainF::StackClick()
{
    Stack1->setChecked(true);
    ArrangeImageWindows(2);
    CurrentSettings().WindowArrangement = 2;
}

void TMainF::MaximizeClick()
{
    Maximize1->setChecked(true);
    if (TChild *window = FirstImageWindow())
        window->showMaximized();
    CurrentSettings().WindowArrangement = 3;
}

void TMainF::AddWindowMenuItem(TChild *, const QString &caption, std::int64_t itemTag)
{
    QAction *item = WindowMenu->addAction(caption);
    item->setObjectName(QStringLiteral("WindowItem%1").arg(itemTag));
    item->setData(QVariant::fromValue<qlonglong>(itemTag));
    connect(item, &QAction::triggered, this,
            korvi::gui::Guarded([this, itemTag](bool) { WindowMenuItemClick(itemTag); }));
}

void TMainF::RemoveWindowMenuItem(std::int64_t itemTag)
{
    for (QAction *item : WindowMenu->actions())
        if (item->data().isValid() && item->data().toLongLong() == itemTag) {
            WindowMenu->removeAction(item);
            item->deleteLater();
            return;
        }
}

void TMainF::WindowMenuItemClick(std::int64_t itemTag)
{
    for (TChild *window : ImageWindows())
        if (window->Tag() + 5 == itemTag) {
            MdiArea->setActiveSubWindow(window);
            window->setFocus();
            return;
        }
}

// ---------------------------------------------------------------------------------------------
// Settings files

bool TMainF::WriteDefaultSettings()
{
    // The writer reports a file it could not write and leaves the old one whole.
    return CurrentSettings().SaveToFile(programDirectory_ + DefaultSettingsFile);
}

void TMainF::MakeFrameFolders()
{
    // A relative prefix (the shipped "Frames/Image") names a folder in the program directory;
    // it is made when missing, so the first Acquire can save. The record keeps the prefix as read.
    // An absolute prefix is left alone: its folder may be a disk that is not mounted yet.
    const Settings &s = CurrentSettings();
    std::error_code ec;
    for (int camera : {ImagingCamera, GuidingCamera})
        if (!s.SaveFile[camera].empty() && std::filesystem::path(s.SaveFile[camera]).is_relative())
            std::filesystem::create_directories(
                std::filesystem::path(FramePrefixPath(s, camera)).parent_path(), ec);
}

void TMainF::SaveSettingsAsDefaultClick()
{
    WriteDefaultSettings();
}

namespace
{

// Asks for a settings file in the program's Settings folder; empty when cancelled.
QString ChooseSettingsFile(QWidget *parent, const std::string &programDirectory, bool save)
{
    // A dialog of its own each time, so the default extension does not stay for later uses.
    const std::unique_ptr<QFileDialog> dialog(
        MakeDialog(parent, save ? "SaveSettingsDialog" : "LoadSettingsDialog"));
    if (save) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
        dialog->setWindowTitle(QStringLiteral("Save program settings"));
        dialog->setDefaultSuffix(QStringLiteral("txt"));
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setWindowTitle(QStringLiteral("Load program settings"));
    }
    dialog->setNameFilters(DialogNameFilters(SettingsFileFilter));
    dialog->setDirectory(QString::fromStdString(programDirectory + "Settings"));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return QString();
    return dialog->selectedFiles().front();
}

} // namespace

void TMainF::SaveSettingsClick()
{
    const QString file = ChooseSettingsFile(this, programDirectory_, true);
    if (!file.isEmpty())
        CurrentSettings().SaveToFile(file.toStdString());
}

void TMainF::LoadSettingsClick()
{
    const QString file = ChooseSettingsFile(this, programDirectory_, false);
    if (file.isEmpty() || !FileExists(file.toStdString()))
        return;
    if (CurrentSettings().LoadFromFile(file.toStdString()))
        MakeFrameFolders();
    // The controls show what was loaded; otherwise the next Acquire, which copies the controls
    // into the settings, would put the old values back over the loaded ones.
    ApplySettingsToControls();
}
