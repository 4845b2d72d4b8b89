#include "file_dialogs.h"

#include "file_names.h"

#include <cctype>

const char *const OpenImageFilter =
    "Korvi image file (*.kvr)|*.kvr|FITS image file (*.fits, *.fit, *.fts, *.fiz)|*.fits;*.fit;*.fts;*.fiz|"
    "Windows bitmap (*.bmp)|*.bmp|Portable Network Graphics (*.png)|*.png|"
    "All image formats (*.kvr, *.fits, *fit, *.fts, *.fiz, *.bmp, "
    "*.png)|*.kvr;*.fits;*.fit;*.fts;*.fiz;*.bmp;*.png|"
    "All files (*.*)|*.*";

const char *const SaveImageFilter =
    "Korvi image file (*.kvr)|*.kvr|FITS image file (*.fit, *.fts, *.fiz, *.fits)|*.fit;*.fts;*.fiz;*.fits|"
    "Windows bitmap (*.bmp)|*.bmp|Portable Network Graphics (*.png)|*.png|"
    "All image formats (*.kvr, *fit, *.fts, *.fiz, *.bmp, *.png)|*.kvr;*.fit;*.fts;*.fiz;*.bmp;*.png|"
    "All files (*.*)|*.*";

const char *const SettingsFileFilter = "Settings files (*.txt)|*.txt";

QStringList DialogNameFilters(const char *filterList)
{
    const QStringList parts = QString::fromLatin1(filterList).split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters;
}

int NameFilterIndex(const QStringList &filters, const QString &filter)
{
    const qsizetype exact = filters.indexOf(filter);
    if (exact >= 0)
        return static_cast<int>(exact) + 1;
    // With the details hidden, a dialog may report the description alone.
    for (qsizetype i = 0; i < filters.size(); ++i)
        if (filters[i].startsWith(filter + QStringLiteral(" (")))
            return static_cast<int>(i) + 1;
    return 0;
}

const char *SaveFormatExtension(int format)
{
    switch (format) {
    case 1:
        return ".fit";
    case 2:
        return ".bmp";
    case 3:
        return ".png";
    default:
        return ".kvr";
    }
}

namespace
{

// The save format a typed extension names, -1 for none.
int FormatOfTypedExtension(const std::string &name)
{
    const std::string file = ExtractFileNamePart(name);
    const std::size_t dot = file.rfind('.');
    if (dot == std::string::npos)
        return -1;
    std::string extension = file.substr(dot + 1);
    for (char &c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == "kvr")
        return 0;
    if (extension == "fit" || extension == "fits" || extension == "fts" || extension == "fiz")
        return 1;
    if (extension == "bmp")
        return 2;
    if (extension == "png")
        return 3;
    return -1;
}

} // namespace

SaveAsTarget SaveAsTargetFor(const std::string &chosenName, int filterIndex, int presetFilterIndex)
{
    SaveAsTarget target;
    target.format = (filterIndex >= 1 && filterIndex <= 4) ? filterIndex - 1 : 0;
    if (presetFilterIndex > 0 && filterIndex == presetFilterIndex) {
        if (const int typed = FormatOfTypedExtension(chosenName); typed >= 0)
            target.format = typed;
    }
    target.fileName = StripExtension(chosenName) + SaveFormatExtension(target.format);
    return target;
}
