#include "program_file_dialog.h"

#include "default_data.h"
#include "file_dialogs.h"
#include "gui_runtime.h"
#include "settings.h"

#include <QFileDialog>

#include <algorithm>
#include <filesystem>
#include <system_error>

std::string FramesFolder()
{
    return CurrentSettings().ProgramDirectory + DefaultFramesFolder + "/";
}

std::string DialogStartDirectory(const std::string &directory)
{
    std::error_code ec;
    if (!directory.empty() && std::filesystem::is_directory(directory, ec))
        return directory;
    return std::filesystem::is_directory(FramesFolder(), ec) ? FramesFolder()
                                                             : CurrentSettings().ProgramDirectory;
}

FileDialogChoice RunFileDialogChoice(QWidget *parent, FileDialogKind kind, const QString &title,
                                     const char *filterList, int filterIndex, const std::string &directory,
                                     const std::string &name)
{
    QFileDialog dialog(parent);
    korvi::gui::PrepareFileDialog(dialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setWindowTitle(title);
    const QStringList filters = DialogNameFilters(filterList);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(std::clamp(filterIndex - 1, 0, int(filters.size()) - 1)));
    const bool save = kind == FileDialogKind::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const std::string start = DialogStartDirectory(directory);
    if (!start.empty())
        dialog.setDirectory(QString::fromStdString(start));
    if (!name.empty())
        dialog.selectFile(QString::fromStdString(name));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return {dialog.selectedFiles().front(), NameFilterIndex(filters, dialog.selectedNameFilter())};
}

QString RunFileDialog(QWidget *parent, FileDialogKind kind, const QString &title, const char *filterList,
                      const QString &directory, const QString &name)
{
    return RunFileDialogChoice(parent, kind, title, filterList, 1, directory.toStdString(),
                               name.toStdString())
        .file;
}
