#pragma once
// The file dialogs of the program's smaller windows: Qt's own dialog (the same on every desktop,
// and one the tests can answer), its filters given in the "description|patterns|..." form.
#include <QString>

#include <string>

class QWidget;

enum class FileDialogKind { Open, Save };

// The folder the program's frames go to by default: "Frames/" in the program directory.
std::string FramesFolder();

// The folder a file dialog opens in for a remembered `directory`: that folder when it exists, else
// the frames folder (or the program directory when there is none), never the file system's root.
std::string DialogStartDirectory(const std::string &directory);

// Runs the dialog modally and returns the chosen path, or an empty text when it was cancelled.
// A save dialog never asks about overwriting: the window that uses the name decides that. A
// directory that is empty or missing is replaced by the frames folder (or the program directory),
// so a dialog never opens on the file system's root.
QString RunFileDialog(QWidget *parent, FileDialogKind kind, const QString &title, const char *filterList,
                      const QString &directory, const QString &name = {});

// The same dialog starting on the 1-based filter `filterIndex`; also tells which filter (1-based)
// was chosen, for windows whose save format follows it.
struct FileDialogChoice {
    QString file;        // empty: cancelled
    int filterIndex = 0; // 1-based
};
FileDialogChoice RunFileDialogChoice(QWidget *parent, FileDialogKind kind, const QString &title,
                                     const char *filterList, int filterIndex, const std::string &directory,
                                     const std::string &name = {});
