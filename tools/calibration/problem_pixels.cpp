#include "problem_pixels.h"

#include "file_names.h"
#include "gui_runtime.h"
#include "image_file.h"
#include "image_window.h"
#include "main_window.h"
#include "processing/problem_pixels.h"
#include "program_file_dialog.h"
#include "settings.h"
#include "statistics_window.h"
#include "text_format.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <climits>

TProblemPixelMapF *ProblemPixelMapF = nullptr;

namespace
{

constexpr const char *ImageFilter =
    "Korvi image file (*.kvr)|*.kvr|FITS image file (*.fit)|*.fit|Windows bitmap "
    "(*.bmp)|*.bmp|Portable Network Graphics (*.png)|*.png|All files (*.*)|*.*";
constexpr const char *CsvFilter = "Comma delimited text file (*.csv)|*.csv";
constexpr int GridRows = MaxBadColumns;

template <typename W> W *Named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

void Say(const QString &text)
{
    korvi::gui::ShowMessage(text, QStringLiteral("Korvi"));
}

void Say(const std::string &text)
{
    Say(QString::fromStdString(text));
}

bool FileExists(const QString &path)
{
    return QFileInfo(path).isFile();
}

// The chosen name up to the first '.' of its file name, with ".csv".
std::string CsvName(const QString &chosen)
{
    const std::string path = chosen.toStdString();
    const std::string directory = ExtractDirectoryPart(path), file = ExtractFileNamePart(path);
    return directory + file.substr(0, file.find('.')) + ".csv";
}

QSpinBox *Threshold(QWidget *parent, const char *name)
{
    auto *spin = Named(new QSpinBox(parent), name);
    spin->setRange(INT_MIN, INT_MAX);
    spin->setValue(0);
    return spin;
}

} // namespace

TProblemPixelMapF::TProblemPixelMapF(QWidget *parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("ProblemPixelMapF"));
    setWindowTitle(QStringLiteral("Problem pixels/columns"));
    PageControl1 = Named(new QTabWidget(this), "PageControl1");

    auto *pixels = new QWidget;
    const auto fileRow = [pixels](QGridLayout *grid, int row, const char *caption, QLineEdit *&edit,
                                  const char *editName, QPushButton *&browse, const char *browseName,
                                  const char *hint) {
        edit = Named(new QLineEdit(pixels), editName);
        edit->setToolTip(QString::fromUtf8(hint));
        browse = Named(new QPushButton(QStringLiteral(">>"), pixels), browseName);
        grid->addWidget(new QLabel(QString::fromUtf8(caption), pixels), row, 0);
        grid->addWidget(edit, row, 1);
        grid->addWidget(browse, row, 2);
    };
    auto *grid = new QGridLayout;
    fileRow(
        grid, 0, "Dark count file:", DarkCountFile, "DarkCountFile", BrowseBtn1, "BrowseBtn1",
        "A dark (thermal count) image taken at typical operating temperature for sufficient time to show hot "
        "pixels and processed to remove cosmic ray counts.");
    OpenDarkCountFile = Named(new QPushButton(QStringLiteral("Show histogram for dark count file"), pixels),
                              "OpenDarkCountFile");
    grid->addWidget(OpenDarkCountFile, 1, 1);
    HotLevel = Threshold(pixels, "HotLevel");
    grid->addWidget(new QLabel(QStringLiteral("Hot pixel threshold:"), pixels), 2, 0);
    grid->addWidget(HotLevel, 2, 1);
    fileRow(grid, 3, "True flat frame file:", FlatFile, "FlatFile", BrowseBtn2, "BrowseBtn2",
            "A \"true\" flat frame is a CCD image with the CCD under even illumination");
    OpenFlatFrameFile = Named(new QPushButton(QStringLiteral("Show histogram for flat frame file"), pixels),
                              "OpenFlatFrameFile");
    grid->addWidget(OpenFlatFrameFile, 4, 1);
    BrightLevel = Threshold(pixels, "BrightLevel");
    DimLevel = Threshold(pixels, "DimLevel");
    grid->addWidget(new QLabel(QStringLiteral("Bright pixel threshold:"), pixels), 5, 0);
    grid->addWidget(BrightLevel, 5, 1);
    grid->addWidget(new QLabel(QStringLiteral("Dim pixel threshold:"), pixels), 6, 0);
    grid->addWidget(DimLevel, 6, 1);
    fileRow(grid, 7, "Problem pixel list file:", PixelListFile, "PixelListFile", BrowseBtn3, "BrowseBtn3",
            "A CSV format file listing the bad pixels; first column is the pixel column index, second is the "
            "pixel "
            "row index");
    UseDarkCount = Named(new QCheckBox(QStringLiteral("Use dark count frame file"), pixels), "UseDarkCount");
    UseDarkCount->setChecked(true);
    UseFlatFile = Named(new QCheckBox(QStringLiteral("Use true flat frame file"), pixels), "UseFlatFile");
    UsePixelList =
        Named(new QCheckBox(QStringLiteral("Include the pixels listed in the problem pixel list file above"),
                            pixels),
              "UsePixelList");
    grid->addWidget(UseDarkCount, 8, 1);
    grid->addWidget(UseFlatFile, 9, 1);
    grid->addWidget(UsePixelList, 10, 1);
    fileRow(grid, 11, "Hot/bad pixel file:", HotPixelFile, "HotPixelFile", BrowseBtn4, "BrowseBtn4",
            "The name of the file in which the list of problem pixels will be saved");
    CreatePixelListBtn =
        Named(new QPushButton(QStringLiteral("Create pixel list"), pixels), "CreatePixelListBtn");
    PixelMapImgBtn =
        Named(new QPushButton(QStringLiteral("View pixel map as image"), pixels), "PixelMapImgBtn");
    NumProblemPixels =
        Named(new QLabel(QStringLiteral("Number of problem pixels: "), pixels), "NumProblemPixels");
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(CreatePixelListBtn);
    buttons->addWidget(PixelMapImgBtn);
    auto *pixelsLayout = new QVBoxLayout(pixels);
    pixelsLayout->addLayout(grid);
    pixelsLayout->addLayout(buttons);
    pixelsLayout->addWidget(NumProblemPixels);
    PageControl1->addTab(pixels, QStringLiteral("Hot/problem pixel map"));

    auto *columns = new QWidget;
    ColumnMap = Named(new QTableWidget(GridRows + 1, 4, columns), "ColumnMap");
    ColumnMap->horizontalHeader()->hide();
    ColumnMap->verticalHeader()->hide();
    OpenColumnMapBtn =
        Named(new QPushButton(QStringLiteral("Load bad column map..."), columns), "OpenColumnMapBtn");
    SaveColumnMapBtn =
        Named(new QPushButton(QStringLiteral("Save bad column map..."), columns), "SaveColumnMapBtn");
    auto *columnButtons = new QHBoxLayout;
    columnButtons->addWidget(OpenColumnMapBtn);
    columnButtons->addWidget(SaveColumnMapBtn);
    auto *columnsLayout = new QVBoxLayout(columns);
    columnsLayout->addWidget(ColumnMap);
    columnsLayout->addLayout(columnButtons);
    PageControl1->addTab(columns, QStringLiteral("Bad column map"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    FormShow();

    using korvi::gui::Guarded;
    connect(BrowseBtn1, &QPushButton::clicked, this, Guarded([this] { BrowseBtn1Click(); }));
    connect(BrowseBtn2, &QPushButton::clicked, this, Guarded([this] { BrowseBtn2Click(); }));
    connect(BrowseBtn3, &QPushButton::clicked, this, Guarded([this] { BrowseBtn3Click(); }));
    connect(BrowseBtn4, &QPushButton::clicked, this, Guarded([this] { BrowseBtn4Click(); }));
    connect(OpenDarkCountFile, &QPushButton::clicked, this, Guarded([this] { OpenDarkCountFileClick(); }));
    connect(OpenFlatFrameFile, &QPushButton::clicked, this, Guarded([this] { OpenFlatFrameFileClick(); }));
    connect(CreatePixelListBtn, &QPushButton::clicked, this, Guarded([this] { CreatePixelListBtnClick(); }));
    connect(PixelMapImgBtn, &QPushButton::clicked, this, Guarded([this] { PixelMapImgBtnClick(); }));
    connect(OpenColumnMapBtn, &QPushButton::clicked, this, Guarded([this] { OpenColumnMapBtnClick(); }));
    connect(SaveColumnMapBtn, &QPushButton::clicked, this, Guarded([this] { SaveColumnMapBtnClick(); }));
}

TProblemPixelMapF::~TProblemPixelMapF()
{
    if (ProblemPixelMapF == this)
        ProblemPixelMapF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TProblemPixelMapF::showEvent(QShowEvent *event)
{
    FormShow();
    QWidget::showEvent(event);
}

void TProblemPixelMapF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TProblemPixelMapF::FormShow()
{
    const int widths[] = {30, 94, 94, 94};
    const char *headers[] = {"", "Column index", "Start row", "End row"};
    for (int c = 0; c < 4; ++c) {
        ColumnMap->setColumnWidth(c, widths[c]);
        auto *header = new QTableWidgetItem(QString::fromLatin1(headers[c]));
        header->setFlags(Qt::ItemIsEnabled);
        ColumnMap->setItem(0, c, header);
    }
    for (int r = 1; r <= GridRows; ++r) {
        auto *number = new QTableWidgetItem(QString::number(r));
        number->setFlags(Qt::ItemIsEnabled);
        ColumnMap->setItem(r, 0, number);
    }
}

void TProblemPixelMapF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}

bool TProblemPixelMapF::BrowseImage(const QString &title, QLineEdit *target)
{
    Settings &settings = CurrentSettings();
    const QString chosen = RunFileDialog(this, FileDialogKind::Open, title, ImageFilter,
                                         QString::fromStdString(settings.LastSaveDirectory[0]));
    if (chosen.isEmpty())
        return false;
    target->setText(chosen);
    settings.LastSaveDirectory[0] = ExtractDirectoryPart(chosen.toStdString());
    return true;
}

void TProblemPixelMapF::BrowseBtn1Click()
{
    BrowseImage(QStringLiteral("Select dark count image "), DarkCountFile);
}

void TProblemPixelMapF::BrowseBtn2Click()
{
    BrowseImage(QStringLiteral("Select true flat frame image"), FlatFile);
}

void TProblemPixelMapF::BrowseBtn3Click()
{
    Settings &settings = CurrentSettings();
    const QString chosen =
        RunFileDialog(this, FileDialogKind::Open, QStringLiteral("Select problem pixel list file"),
                      "Comma delimited text file (*.csv)|*.csv|Text file (*.txt)|*.txt|All files (*.*)|*.*",
                      QString::fromStdString(settings.LastSaveDirectory[0]));
    if (chosen.isEmpty())
        return;
    PixelListFile->setText(chosen);
    settings.LastSaveDirectory[0] = ExtractDirectoryPart(chosen.toStdString());
}

void TProblemPixelMapF::BrowseBtn4Click()
{
    Settings &settings = CurrentSettings();
    const QString chosen = RunFileDialog(this, FileDialogKind::Save, QStringLiteral("Select save filename "),
                                         CsvFilter, QString::fromStdString(settings.LastSaveDirectory[0]));
    if (chosen.isEmpty())
        return;
    HotPixelFile->setText(QString::fromStdString(CsvName(chosen)));
    settings.LastSaveDirectory[0] = ExtractDirectoryPart(chosen.toStdString());
}

bool TProblemPixelMapF::LoadFrame(const QString &name)
{
    if (!MainF)
        return false;
    if (!FileExists(name)) {
        Say(QStringLiteral("Could not open file: ") + name);
        return false;
    }
    ::BusyCursor busy;
    if (!LoadImageFile(name.toStdString(), MainF->UndoImage))
        return false;
    // The buffer no longer holds any window's earlier state, so Undo must not copy it anywhere.
    MainF->UndoWindowTag = -1;
    MainF->CalibrationUndoTag = -1;
    return true;
}

void TProblemPixelMapF::ShowStatistics(const ImageData &frame)
{
    // The statistics window examines the frame just loaded (the main window holds it).
    if (StatsForm)
        StatsForm->SetSource(&frame, MainF);
    MainF->ShowProgramWindow("TStatsForm");
}

void TProblemPixelMapF::OpenDarkCountFileClick()
{
    if (!FileExists(DarkCountFile->text()) || !LoadFrame(DarkCountFile->text()))
        return;
    ImageData &image = MainF->UndoImage;
    image.SelX0 = image.Width / 4;
    image.SelX1 = 3 * image.Width / 4;
    image.SelY0 = image.Height / 4;
    image.SelY1 = 3 * image.Height / 4;
    ShowStatistics(image);
}

void TProblemPixelMapF::OpenFlatFrameFileClick()
{
    if (!FileExists(FlatFile->text()) || !LoadFrame(FlatFile->text()))
        return;
    ImageData &image = MainF->UndoImage;
    image.SelX0 = image.SelX1 = image.SelY0 = image.SelY1 = 0;
    ShowStatistics(image);
}

void TProblemPixelMapF::CreatePixelListBtnClick()
{
    const QString name = HotPixelFile->text();
    const bool nameValid = !name.trimmed().isEmpty();
    std::string text;
    long count = 0;
    long long examined = 0; // pixels of the last frame examined
    if (UsePixelList->isChecked()) {
        if (!FileExists(PixelListFile->text())) {
            Say(QStringLiteral("Could not open problem pixel list file."));
            return;
        }
        if (!nameValid) {
            Say(QStringLiteral("Save filename for pixel list is invalid."));
            return;
        }
        std::vector<std::string> lines;
        std::string problem;
        if (!ReadListLines(PixelListFile->text().toStdString(), lines, problem)) {
            Say(problem);
            return;
        }
        for (const std::string &line : lines) {
            text += line;
            text += '\n';
            ++count;
        }
    }
    if (!nameValid) {
        Say(QStringLiteral("Save filename for pixel list is invalid."));
        return;
    }
    // The new list is built whole before anything is written: a frame that cannot be loaded, or a
    // failed write, leaves the previous list as it was.
    if (UseDarkCount->isChecked()) {
        if (!LoadFrame(DarkCountFile->text()))
            return;
        count += AppendHotPixelRecords(MainF->UndoImage, HotLevel->value(), text);
        examined = static_cast<long long>(MainF->UndoImage.Width) * MainF->UndoImage.Height;
    }
    if (UseFlatFile->isChecked()) {
        if (!LoadFrame(FlatFile->text()))
            return;
        count += AppendFlatProblemRecords(MainF->UndoImage, BrightLevel->value(), DimLevel->value(), text);
        examined = static_cast<long long>(MainF->UndoImage.Width) * MainF->UndoImage.Height;
    }
    if (!WriteListFile(name.toStdString(), text)) {
        ReportWriteFailure(name.toStdString());
        return;
    }
    QString shown = QStringLiteral("Number of problem pixels: ") + QString::number(count);
    // Without a frame there is no image size to give a share of.
    if (examined > 0)
        shown += QStringLiteral(" (") + QString::number(count * 100LL / examined) + QStringLiteral("%)");
    NumProblemPixels->setText(shown);
}

void TProblemPixelMapF::PixelMapImgBtnClick()
{
    const QString name = HotPixelFile->text();
    if (!FileExists(name)) {
        Say(QStringLiteral("Could not open pixel list file."));
        return;
    }
    if (!MainF)
        return;
    std::vector<PixelPosition> pixels;
    std::string problem;
    if (!ReadHotPixelList(name.toStdString(), pixels, problem) ||
        !BuildPixelMapImage(pixels, MainF->UndoImage, problem)) {
        Say(problem);
        return;
    }
    MainF->UndoWindowTag = -1;
    MainF->CalibrationUndoTag = -1;
    ImageData &map = MainF->UndoImage;
    TChild *child = MainF->CreateImageWindow(map.Height, map.Width);
    child->Image().Assign(map);
    child->show();
    child->AttachToWindowMenu();
    child->FitToWindow();
    child->RenderImage();
    MainF->UpdateImageControls(child);
}

void TProblemPixelMapF::OpenColumnMapBtnClick()
{
    Settings &settings = CurrentSettings();
    const QString chosen =
        RunFileDialog(this, FileDialogKind::Open, QStringLiteral("Open bad-column map file"),
                      "Comma delimited text file (*.csv)|*.csv|All files (*.*)|*.*",
                      QString::fromStdString(settings.LastSaveDirectory[0]));
    if (chosen.isEmpty() || !FileExists(chosen))
        return;
    settings.LastSaveDirectory[0] = ExtractDirectoryPart(chosen.toStdString());
    std::vector<BadColumnEntry> entries;
    std::string problem;
    if (!ReadBadColumnList(chosen.toStdString(), entries, problem)) {
        Say(problem);
        return;
    }
    // The grid holds MaxBadColumns entries; a longer list fills it with its first ones.
    for (std::size_t i = 0; i < std::min<std::size_t>(entries.size(), MaxBadColumns); ++i) {
        const int row = static_cast<int>(i) + 1;
        ColumnMap->setItem(row, 1, new QTableWidgetItem(QString::number(entries[i].Column)));
        ColumnMap->setItem(row, 2, new QTableWidgetItem(QString::number(entries[i].StartRow)));
        ColumnMap->setItem(row, 3, new QTableWidgetItem(QString::number(entries[i].EndRow)));
    }
}

void TProblemPixelMapF::SaveColumnMapBtnClick()
{
    Settings &settings = CurrentSettings();
    const QString chosen = RunFileDialog(this, FileDialogKind::Save, QStringLiteral("Select save filename "),
                                         CsvFilter, QString::fromStdString(settings.LastSaveDirectory[0]));
    if (chosen.isEmpty())
        return;
    const std::string path = CsvName(chosen);
    settings.LastSaveDirectory[0] = ExtractDirectoryPart(path);
    std::string text;
    for (int row = 1; row <= GridRows; ++row) {
        QString cells[3];
        for (int c = 0; c < 3; ++c) {
            const QTableWidgetItem *item = ColumnMap->item(row, c + 1);
            cells[c] = item ? item->text() : QString();
        }
        if (cells[0].isEmpty() && cells[1].isEmpty() && cells[2].isEmpty())
            continue;
        int values[3];
        for (int c = 0; c < 3; ++c) {
            std::int32_t value = 0;
            const std::string cell = cells[c].toStdString();
            if (!ParseIntText(TrimText(cell), value)) {
                // Nothing is written: the file keeps what it held.
                Say(NotAnIntegerText(cell));
                return;
            }
            values[c] = value;
        }
        text += BadColumnRecord({values[0], values[1], values[2]});
    }
    if (!WriteListFile(path, text))
        ReportWriteFailure(path);
}
