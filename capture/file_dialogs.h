#pragma once
// The file dialogs' filters and the name rules of "Save Image As...", kept apart from the windows
// so they can be tested on their own.
#include <QString>
#include <QStringList>

#include <string>

// Filter lists in the "description|patterns|description|patterns" form the program's dialogs use.
extern const char *const OpenImageFilter;
extern const char *const SaveImageFilter;
extern const char *const SettingsFileFilter;

// Turns a "description|patterns|..." list into QFileDialog name filters. Each description keeps
// its own text; the patterns (';'-separated) are appended in parentheses, which the dialogs hide
// (QFileDialog::HideNameFilterDetails), so descriptions such as "All image formats (*.kvr, *fit ...)"
// show as written while the real patterns select the files.
QStringList DialogNameFilters(const char *filterList);

// 1-based index of `filter` in `filters` (0 when absent). `filter` may be the whole entry or, as
// dialogs that hide the details report it, the description alone.
int NameFilterIndex(const QStringList &filters, const QString &filter);

// What "Save Image As..." writes for a chosen name and filter index (1-based): the format is the
// index - 1, or 0 (own format) above 4; the name is cut at the first '.' of its file-name part
// (never of a folder) and gets the format's extension.
struct SaveAsTarget {
    std::string fileName;
    int format = 0;
};
// presetFilterIndex is the filter the dialog opened with: when the user left it as it was and typed
// a known image extension (".kvr"; ".fit", ".fits", ".fts", ".fiz"; ".bmp"; ".png"), the typed
// extension chooses the format, as it is what the user asked for.
SaveAsTarget SaveAsTargetFor(const std::string &chosenName, int filterIndex, int presetFilterIndex = 0);

// ".kvr", ".fit", ".bmp" or ".png" for save formats 0..3 (".kvr" for any other code).
const char *SaveFormatExtension(int format);
