#include "multi_process.h"

#include "edit_target.h"
#include "equalization_window.h"
#include "file_names.h"
#include "gui_runtime.h"
#include "image_file.h"
#include "image_window.h"
#include "main_window.h"
#include "photometric.h"
#include "processing/calibration.h"
#include "processing/filters.h"
#include "processing_dialog.h"
#include "processing_target.h"
#include "program_file_dialog.h"
#include "settings.h"
#include "text_format.h"
#include "ui_hooks.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <filesystem>

TMultiProcessF *MultiProcessF = nullptr;

namespace
{

constexpr const char *ImageFilter6 =
    "Korvi image file (*.kvr)|*.kvr|FITS image file (*.fit, *.fts, *.fiz)|*.fit;*.fts;*.fiz|Windows bitmap "
    "(*.bmp)|*.bmp|Portable Network Graphics (*.png)|*.png|All image formats (*.kvr, *fit, *.fts, *.fiz, "
    "*.bmp, "
    "*.png)|*.kvr;*.fit;*.fts;*.fiz;*.bmp;*.png|All files (*.*)|*.*";
constexpr const char *ImageFilter5 =
    "Korvi image file (*.kvr)|*.kvr|FITS image file (*.fit)|*.fit|Windows bitmap "
    "(*.bmp)|*.bmp|Portable Network Graphics (*.png)|*.png|All files (*.*)|*.*";
constexpr const char *CsvFilter = "Comma delimited text file (*.csv)|*.csv|All files (*.*)|*.*";

// "Equalize": run by the equalization window with its transfer curve, not by the processing dialog.
constexpr int EqualizeOperation = 3;

void Message(const std::string &text)
{
    Ui().ShowMessage(KorviCaption, text, MessageButtons::Ok, MessageIcon::Warning);
}

std::string &OpenDirectory()
{
    return CurrentSettings().LastOpenDirectory[0];
}

std::string &SaveDirectory()
{
    return CurrentSettings().LastSaveDirectory[0];
}

// EditTarget for the length of a run, restored on every way out.
class EditTargetScope
{
public:
    explicit EditTargetScope(int value) : saved_(EditTarget) { EditTarget = value; }
    ~EditTargetScope() { EditTarget = saved_; }

private:
    int saved_;
};

template <typename T> T *Named(T *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

TMultiProcessF::TMultiProcessF(QWidget *parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("MultiProcessF"));
    setWindowTitle(QStringLiteral("Process multiple files"));
    const auto button = [this](const char *name, const char *caption) {
        return Named(new QPushButton(QString::fromLatin1(caption), this), name);
    };
    const auto edit = [this](const char *name, const char *text = "") {
        return Named(new QLineEdit(QString::fromLatin1(text), this), name);
    };
    const auto check = [this](const char *name, const char *caption, bool on) {
        auto *box = Named(new QCheckBox(QString::fromLatin1(caption), this), name);
        box->setChecked(on);
        return box;
    };
    const auto row = [](QWidget *a, QWidget *b) {
        auto *layout = new QHBoxLayout;
        layout->addWidget(a, 1);
        layout->addWidget(b);
        return layout;
    };

    // File selection: folder tree, filtered file list, the list of files to process.
    folderModel_ = new QFileSystemModel(this);
    folderModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    folderModel_->setRootPath(QStringLiteral("/"));
    fileModel_ = new QFileSystemModel(this);
    fileModel_->setFilter(QDir::Files);
    fileModel_->setNameFilterDisables(false);
    fileModel_->sort(0, Qt::AscendingOrder); // by name, as the list shows them and adds them
    DirectoryListBox = Named(new QTreeView(this), "DirectoryListBox");
    DirectoryListBox->setModel(folderModel_);
    for (int c = 1; c < folderModel_->columnCount(); ++c)
        DirectoryListBox->hideColumn(c);
    DirectoryListBox->setHeaderHidden(true);
    FileListBox = Named(new QListView(this), "FileListBox");
    FileListBox->setModel(fileModel_);
    FileListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FileMask = Named(new QComboBox(this), "FileMask");
    FileMask->addItems({QStringLiteral("Korvi format (*.kvr)"),
                        QStringLiteral("FITS image (*.fit, *.fts, *.fiz)"), QStringLiteral("PNG (*.png)"),
                        QStringLiteral("All image formats (*.kvr, *fit, *.fts, *.fiz, *.png)"),
                        QStringLiteral("All files (*.*)")});
    AddFilesBtn = button("AddFilesBtn", "Add selected to list");
    RemoveFilesBtn = button("RemoveFilesBtn", "Remove from list");
    SelListBox = Named(new QListWidget(this), "SelListBox");
    SelListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);

    auto *browser = new QGroupBox(QStringLiteral("List of files to process"), this);
    auto *browserLayout = new QVBoxLayout(browser);
    auto *lists = new QHBoxLayout;
    lists->addWidget(DirectoryListBox, 1);
    lists->addWidget(FileListBox, 1);
    browserLayout->addLayout(lists);
    auto *mask = new QFormLayout;
    mask->addRow(QStringLiteral("List files of type: "), FileMask);
    browserLayout->addLayout(mask);
    auto *listButtons = new QHBoxLayout;
    listButtons->addWidget(AddFilesBtn);
    listButtons->addWidget(RemoveFilesBtn);
    browserLayout->addLayout(listButtons);
    browserLayout->addWidget(SelListBox, 1);

    // Output panel.
    OutputPrefix = edit("OutputPrefix");
    BrowseBtn2 = button("BrowseBtn2", ">>");
    SaveFormat = Named(new QComboBox(this), "SaveFormat");
    SaveFormat->addItems(
        {QStringLiteral("Korvi format"), QStringLiteral("FITS image"), QStringLiteral("PNG")});
    PreserveFileName =
        check("PreserveFileName", "Save processed files with same name + the suffix below", true);
    Suffix = edit("Suffix", "_p");
    UseOutputPath = check("UseOutputPath", "Use path shown in \"Output file prefix\"", true);
    StopBtn = button("StopBtn", "Stop");
    StopBtn->setEnabled(false);
    auto *output = new QGroupBox(QStringLiteral("Output"), this);
    auto *outputForm = new QFormLayout(output);
    outputForm->addRow(QStringLiteral("Output file prefix:"), row(OutputPrefix, BrowseBtn2));
    outputForm->addRow(QStringLiteral("Save format:"), SaveFormat);
    outputForm->addRow(PreserveFileName);
    outputForm->addRow(QStringLiteral("Suffix:"), Suffix);
    outputForm->addRow(UseOutputPath);

    // Pages.
    PageControl = Named(new QTabWidget(this), "PageControl");
    // As wide as its row of page captions: none is cut or hidden behind scroll arrows.
    PageControl->tabBar()->setUsesScrollButtons(false);
    PageControl->tabBar()->setElideMode(Qt::ElideNone);
    const auto page = [this](const char *title) {
        auto *widget = new QWidget;
        auto *form = new QFormLayout(widget);
        PageControl->addTab(widget, QString::fromLatin1(title));
        return form;
    };
    const auto spin = [this](const char *name, int low, int high, int value) {
        auto *s = Named(new QSpinBox(this), name);
        s->setRange(low, high);
        s->setValue(value);
        return s;
    };
    {
        QFormLayout *form = page("File Quick Select");
        Prefix = edit("Prefix");
        BrowseBtn1 = button("BrowseBtn1", ">>");
        FirstExtNum = spin("FirstExtNum", 0, 999999, 0);
        LastExtNum = spin("LastExtNum", 0, 999999, 0);
        FileExtension = edit("FileExtension");
        AddNumFileSeqBtn = button("AddNumFileSeqBtn", "Add files to list");
        form->addRow(QStringLiteral("Input file prefix:"), row(Prefix, BrowseBtn1));
        form->addRow(QStringLiteral("First postfix index:"), FirstExtNum);
        form->addRow(QStringLiteral("Last postfix index:"), LastExtNum);
        form->addRow(QStringLiteral("File extension:"), FileExtension);
        form->addRow(AddNumFileSeqBtn);
    }
    {
        QFormLayout *form = page("Photometric frames");
        ThermalFrameBtn = button("ThermalFrameBtn", "Create dark frame");
        FlatFrameBtn = button("FlatFrameBtn", "Create flat field frame");
        ThermalFrame = edit("ThermalFrame");
        FlatFrame = edit("FlatFrame");
        HotPixelMapFile = edit("HotPixelMapFile");
        BadColumnMapFile = edit("BadColumnMapFile");
        BrowseBtn4 = button("BrowseBtn4", ">>");
        BrowseBtn5 = button("BrowseBtn5", ">>");
        BrowseBtn6 = button("BrowseBtn6", ">>");
        BrowseBtn7 = button("BrowseBtn7", ">>");
        ApplyDarkCount = check("ApplyDarkCount", "Dark count correction", false);
        ApplyFlatField = check("ApplyFlatField", "Flat field correction", false);
        FixHotPixels = check("FixHotPixels", "Remove hot/bad pixels", false);
        FixBadColumns = check("FixBadColumns", "Fix bad columns", false);
        ApplyCorrBtn = button("ApplyCorrBtn", "Apply corrections");
        auto *make = new QHBoxLayout;
        make->addWidget(ThermalFrameBtn);
        make->addWidget(FlatFrameBtn);
        form->addRow(make);
        form->addRow(QStringLiteral("Dark frame:"), row(ThermalFrame, BrowseBtn4));
        form->addRow(QStringLiteral("Flat field frame:"), row(FlatFrame, BrowseBtn5));
        form->addRow(QStringLiteral("Hot pixel map:"), row(HotPixelMapFile, BrowseBtn6));
        form->addRow(QStringLiteral("Bad column map:"), row(BadColumnMapFile, BrowseBtn7));
        form->addRow(ApplyDarkCount);
        form->addRow(ApplyFlatField);
        form->addRow(FixHotPixels);
        form->addRow(FixBadColumns);
        form->addRow(ApplyCorrBtn);
        BiasGroupBox = Named(new QGroupBox(QStringLiteral("Image region to use for bias estimation"), this),
                             "BiasGroupBox");
        auto *bias = new QFormLayout(BiasGroupBox);
        XLO = spin("XLO", 0, 8192, 1);
        XHI = spin("XHI", 0, 8192, 10);
        YLO = spin("YLO", 0, 8192, 20);
        YHI = spin("YHI", 0, 8192, 500);
        UseHeaderBias = check("UseHeaderBias", "Only use bias level quoted in image header.", true);
        UseFixedBias = check("UseFixedBias", "Only subtract the following fixed level ", false);
        FixedBias = edit("FixedBias");
        bias->addRow(QStringLiteral("Lower X:"), XLO);
        bias->addRow(QStringLiteral("Upper X:"), XHI);
        bias->addRow(QStringLiteral("Lower Y:"), YLO);
        bias->addRow(QStringLiteral("Upper Y:"), YHI);
        bias->addRow(UseHeaderBias);
        bias->addRow(UseFixedBias, FixedBias);
        UseHeaderBiasClick();
        UseFixedBiasClick();
        BiasGroupBox->setEnabled(false); // every image's bias is its header's offset level
        form->addRow(BiasGroupBox);
    }
    {
        QFormLayout *form = page("Filters/misc.");
        OperationSelect = Named(new QComboBox(this), "OperationSelect");
        const char *const operations[] = {"No action (use for changing file format)",
                                          "Convolution",
                                          "Gaussian convolution",
                                          "Equalize",
                                          "Local average filter",
                                          "Median filter",
                                          "Unsharp mask filter",
                                          "Trim images (no registration)",
                                          "Minimal filter (erosion)",
                                          "Maximal filter (expansion)",
                                          "Opening operation (expansion/erosion)",
                                          "Closing operation (erosion/expansion)",
                                          "Rescale image",
                                          "Apply model sky subtraction",
                                          "Threshold intensities",
                                          "Subtract bias",
                                          "Logarithmic rescaling"};
        for (const char *item : operations)
            OperationSelect->addItem(QString::fromLatin1(item));
        ProcessBtn = button("ProcessBtn", "Process images");
        FilterSettings = button("FilterSettings", "Filter settings...");
        form->addRow(QStringLiteral("Filter or process:"), OperationSelect);
        form->addRow(FilterSettings);
        form->addRow(ProcessBtn);
    }
    {
        QFormLayout *form = page("Sum");
        FixedOffset = edit("FixedOffset", "0");
        Average = check("Average", "Average", true);
        SumBtn = button("SumBtn", "Sum Listed Images");
        form->addRow(QStringLiteral("Fixed offset level to subtract:"), FixedOffset);
        form->addRow(Average);
        form->addRow(SumBtn);
    }
    {
        QFormLayout *form = page("Subtract");
        SubFile = edit("SubFile");
        BrowseBtn3 = button("BrowseBtn3", ">>");
        Weight = edit("Weight", "1.0");
        SubtractBtn = button("SubtractBtn", "Subtract image from listed images");
        PreviewSubtractBtn = button("PreviewSubtractBtn", "Preview result (1st image in list)");
        form->addRow(QStringLiteral("Image to subtract:"), row(SubFile, BrowseBtn3));
        form->addRow(QStringLiteral("Subtraction weighting factor:"), Weight);
        form->addRow(SubtractBtn);
        form->addRow(PreviewSubtractBtn);
    }
    {
        QFormLayout *form = page("Scale size");
        HScale = edit("HScale", "1");
        VScale = edit("VScale", "1");
        VScale->setEnabled(false);
        VertHorzScaleCheckbox =
            check("VertHorzScaleCheckbox", "Vertical and horizontal factors are identical", true);
        ApplyScalingBtn = button("ApplyScalingBtn", "Apply scaling");
        form->addRow(QStringLiteral("Horizontal scale factor: "), HScale);
        form->addRow(QStringLiteral("Vertical scale factor:"), VScale);
        form->addRow(VertHorzScaleCheckbox);
        form->addRow(ApplyScalingBtn);
    }

    panels_ = new QWidget(this);
    auto *panelsLayout = new QHBoxLayout(panels_);
    panelsLayout->setContentsMargins(0, 0, 0, 0);
    auto *left = new QVBoxLayout;
    left->addWidget(PageControl);
    left->addWidget(output);
    panelsLayout->addLayout(left, 1);
    panelsLayout->addWidget(browser, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(panels_, 1);
    auto *stopRow = new QHBoxLayout;
    stopRow->addStretch(1);
    stopRow->addWidget(StopBtn);
    layout->addLayout(stopRow);

    using korvi::gui::Guarded;
    const auto on = [this](QPushButton *b, void (TMultiProcessF::*handler)()) {
        connect(b, &QPushButton::clicked, this, Guarded([this, handler] { (this->*handler)(); }));
    };
    on(AddFilesBtn, &TMultiProcessF::AddFilesBtnClick);
    on(RemoveFilesBtn, &TMultiProcessF::RemoveFilesBtnClick);
    on(BrowseBtn1, &TMultiProcessF::BrowseBtn1Click);
    on(AddNumFileSeqBtn, &TMultiProcessF::AddNumFileSeqBtnClick);
    on(BrowseBtn2, &TMultiProcessF::BrowseBtn2Click);
    on(ProcessBtn, &TMultiProcessF::ProcessBtnClick);
    on(FilterSettings, &TMultiProcessF::FilterSettingsClick);
    on(SumBtn, &TMultiProcessF::SumBtnClick);
    on(BrowseBtn3, &TMultiProcessF::BrowseBtn3Click);
    on(SubtractBtn, &TMultiProcessF::SubtractBtnClick);
    on(PreviewSubtractBtn, &TMultiProcessF::PreviewSubtractBtnClick);
    on(ApplyScalingBtn, &TMultiProcessF::ApplyScalingBtnClick);
    on(ThermalFrameBtn, &TMultiProcessF::ThermalFrameBtnClick);
    on(FlatFrameBtn, &TMultiProcessF::FlatFrameBtnClick);
    on(ApplyCorrBtn, &TMultiProcessF::ApplyCorrBtnClick);
    on(BrowseBtn4, &TMultiProcessF::BrowseBtn4Click);
    on(BrowseBtn5, &TMultiProcessF::BrowseBtn5Click);
    on(BrowseBtn6, &TMultiProcessF::BrowseBtn6Click);
    on(BrowseBtn7, &TMultiProcessF::BrowseBtn7Click);
    connect(StopBtn, &QPushButton::clicked, this, [this] { cancel_ = true; });
    connect(VertHorzScaleCheckbox, &QCheckBox::clicked, this,
            Guarded([this](bool) { VertHorzScaleCheckboxClick(); }));
    connect(UseHeaderBias, &QCheckBox::clicked, this, Guarded([this](bool) { UseHeaderBiasClick(); }));
    connect(UseFixedBias, &QCheckBox::clicked, this, Guarded([this](bool) { UseFixedBiasClick(); }));
    connect(SaveFormat, &QComboBox::currentIndexChanged, this,
            Guarded([this](int i) { SaveFormatChange(i); }));
    connect(FileMask, &QComboBox::currentIndexChanged, this, Guarded([this](int i) { FileMaskChange(i); }));
    connect(DirectoryListBox->selectionModel(), &QItemSelectionModel::currentChanged, this,
            Guarded([this](const QModelIndex &current, const QModelIndex &) {
                DirectoryListBoxChange(folderModel_->filePath(current));
            }));
    FileMaskChange(0);
}

TMultiProcessF::~TMultiProcessF()
{
    if (MultiProcessF == this)
        MultiProcessF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TMultiProcessF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TMultiProcessF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

// ---------------------------------------------------------------------------------------------
// List building

void TMultiProcessF::FormShow()
{
    if (parentWidget()) {
        const QRect main = parentWidget()->frameGeometry();
        move(main.center() - rect().center());
    }
    const std::string folder = OpenDirectory();
    DirectoryListBoxChange(!folder.empty() && std::filesystem::is_directory(folder)
                               ? QString::fromStdString(folder)
                               : QStringLiteral("/"));
    SaveFormat->setCurrentIndex(0);
    SaveFormatChange(0);
    SelListBox->clear();
}

void TMultiProcessF::FormClose()
{
    if (FilterF)
        for (QPushButton *b : {FilterF->ApplyBtn, FilterF->PreviewBtn, FilterF->UndoBtn, FilterF->RedoBtn})
            b->setEnabled(true);
    if (MainF)
        MainF->RepaintRequest = true;
}

void TMultiProcessF::DirectoryListBoxChange(const QString &folder)
{
    const QModelIndex index = folderModel_->index(folder);
    if (DirectoryListBox->currentIndex() != index) {
        const QSignalBlocker block(DirectoryListBox->selectionModel());
        DirectoryListBox->setCurrentIndex(index);
        DirectoryListBox->scrollTo(index);
    }
    FileListBox->setRootIndex(fileModel_->setRootPath(folder));
    std::string stored = folder.toStdString();
    if (!stored.empty() && stored.back() != '/')
        stored += '/';
    OpenDirectory() = stored;
}

QString TMultiProcessF::CurrentFolder() const
{
    return fileModel_->rootPath();
}

void TMultiProcessF::FileMaskChange(int index)
{
    static const QStringList masks[] = {
        {QStringLiteral("*.kvr")},
        {QStringLiteral("*.fit"), QStringLiteral("*.fts"), QStringLiteral("*.fiz")},
        {QStringLiteral("*.png")},
        {QStringLiteral("*.kvr"), QStringLiteral("*.fit"), QStringLiteral("*.fts"), QStringLiteral("*.fiz"),
         QStringLiteral("*.png")},
        {QStringLiteral("*")}};
    fileModel_->setNameFilters(masks[std::clamp(index, 0, 4)]);
}

void TMultiProcessF::AddFilesBtnClick()
{
    // Files that arrived since the list was last sorted are sorted in now (the model defers that),
    // so the files are added in the name order the list shows.
    fileModel_->sort(0, Qt::AscendingOrder);
    QModelIndexList selected = FileListBox->selectionModel()->selectedIndexes();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    for (const QModelIndex &index : selected) {
        const QString path = fileModel_->filePath(index);
        if (SelListBox->findItems(path, Qt::MatchExactly).isEmpty())
            SelListBox->addItem(path);
    }
}

void TMultiProcessF::RemoveFilesBtnClick()
{
    qDeleteAll(SelListBox->selectedItems());
}

std::vector<std::string> TMultiProcessF::ListedFiles() const
{
    std::vector<std::string> files;
    files.reserve(SelListBox->count());
    for (int i = 0; i < SelListBox->count(); ++i)
        files.push_back(SelListBox->item(i)->text().toStdString());
    return files;
}

std::vector<std::string> TMultiProcessF::FilesToProcess() const
{
    std::vector<std::string> files = ListedFiles();
    if (files.empty())
        Message(NoFilesSelected);
    return files;
}

void TMultiProcessF::BrowseBtn1Click()
{
    QString chosen = RunFileDialog(this, FileDialogKind::Open, QStringLiteral("Select file name prefix"),
                                   ImageFilter6, QString::fromStdString(OpenDirectory()));
    if (chosen.isEmpty())
        return;
    const std::string name = chosen.toStdString();
    if (std::filesystem::exists(name)) {
        const std::string file = ExtractFileNamePart(name);
        const std::size_t underscore = file.rfind('_');
        const std::string prefix = underscore != std::string::npos
                                       ? ExtractDirectoryPart(name) + file.substr(0, underscore + 1)
                                       : StripExtension(name);
        Prefix->setText(QString::fromStdString(prefix));
        const std::size_t dot = file.rfind('.');
        FileExtension->setText(
            QString::fromStdString(dot == std::string::npos ? std::string() : file.substr(dot + 1)));
    }
    OpenDirectory() = ExtractDirectoryPart(name);
}

void TMultiProcessF::AddNumFileSeqBtnClick()
{
    // Typed names work like browsed ones: "kvr" or ".kvr", a prefix without its "_", or no
    // extension at all (found from the files).
    const std::string prefix = Prefix->text().toStdString();
    const std::string extension = FileExtension->text().toStdString();
    const int first = FirstExtNum->value(), last = LastExtNum->value();
    const SeriesNames series = ResolveSeries(prefix, extension, first, last);
    if (!series.Found) {
        Message(SeriesNotFound(prefix, extension, first, last));
        return;
    }
    for (int n = first; n <= last; ++n) {
        const std::string name = SeriesFileName(series, n);
        if (std::filesystem::is_regular_file(name))
            SelListBox->addItem(QString::fromStdString(name));
    }
}

void TMultiProcessF::BrowseBtn2Click()
{
    const QString chosen = RunFileDialog(this, FileDialogKind::Save, QStringLiteral("Select save filename "),
                                         ImageFilter5, QString::fromStdString(SaveDirectory()));
    if (chosen.isEmpty())
        return;
    const std::string name = chosen.toStdString();
    OutputPrefix->setText(QString::fromStdString(StripExtension(name)));
    SaveDirectory() = ExtractDirectoryPart(name);
}

void TMultiProcessF::BrowseBtn3Click()
{
    const QString chosen =
        RunFileDialog(this, FileDialogKind::Open, QStringLiteral("Select file to subtract"), ImageFilter6,
                      QString::fromStdString(OpenDirectory()));
    if (chosen.isEmpty())
        return;
    SubFile->setText(chosen);
    OpenDirectory() = ExtractDirectoryPart(chosen.toStdString());
}

void TMultiProcessF::SaveFormatChange(int index)
{
    BatchSaveExtension = BatchSaveExtensionFor(index);
}

void TMultiProcessF::VertHorzScaleCheckboxClick()
{
    VScale->setEnabled(!VertHorzScaleCheckbox->isChecked());
}

void TMultiProcessF::UseHeaderBiasClick()
{
    for (QSpinBox *s : {XLO, XHI, YLO, YHI})
        s->setEnabled(!UseHeaderBias->isChecked());
}

void TMultiProcessF::UseFixedBiasClick()
{
    FixedBias->setEnabled(UseFixedBias->isChecked());
}

void TMultiProcessF::BrowseIntoEdit(QLineEdit *edit, const QString &title, const char *filter)
{
    // The calibration page's file choosers all start in, and remember, the save folder.
    const QString chosen =
        RunFileDialog(this, FileDialogKind::Open, title, filter, QString::fromStdString(SaveDirectory()));
    if (!chosen.isEmpty()) {
        edit->setText(chosen);
        SaveDirectory() = ExtractDirectoryPart(chosen.toStdString());
    }
}

void TMultiProcessF::BrowseBtn4Click()
{
    BrowseIntoEdit(ThermalFrame, QStringLiteral("Select thermal correction image "), ImageFilter5);
}

void TMultiProcessF::BrowseBtn5Click()
{
    BrowseIntoEdit(FlatFrame, QStringLiteral("Select flat field image "), ImageFilter5);
}

void TMultiProcessF::BrowseBtn6Click()
{
    BrowseIntoEdit(HotPixelMapFile, QStringLiteral("Select hot-pixel list file"), CsvFilter);
}

void TMultiProcessF::BrowseBtn7Click()
{
    BrowseIntoEdit(BadColumnMapFile, QStringLiteral("Select bad-column list file"), CsvFilter);
}

// ---------------------------------------------------------------------------------------------
// Runs

BatchNaming TMultiProcessF::Naming() const
{
    BatchNaming naming;
    naming.PreserveFileName = PreserveFileName->isChecked();
    naming.UseOutputPath = UseOutputPath->isChecked();
    naming.OutputPrefix = OutputPrefix->text().toStdString();
    naming.Suffix = Suffix->text().toStdString();
    naming.Extension = BatchSaveExtension;
    naming.LastSaveDirectory = SaveDirectory();
    return naming;
}

bool TMultiProcessF::NamesDistinct(const BatchNaming &naming, const std::vector<std::string> &files)
{
    if (!naming.PreserveFileName && !OutputPrefixGiven())
        return false;
    const std::string clash = BatchNameClash(naming, files);
    if (!clash.empty())
        Message(clash);
    return clash.empty();
}

std::string TMultiProcessF::SingleOutputName() const
{
    return OutputPrefix->text().toStdString() + BatchSaveExtension;
}

bool TMultiProcessF::OutputSpares(const std::string &output)
{
    const std::string clash = OutputOverInput(output, ListedFiles());
    if (!clash.empty())
        Message(clash);
    return clash.empty();
}

bool TMultiProcessF::OutputPrefixGiven()
{
    // An empty prefix would save ".kvr" (or "_1.kvr") into whatever folder the program was
    // started from.
    if (!TrimText(OutputPrefix->text().toStdString()).empty())
        return true;
    Message("Enter an output file prefix; nothing was processed.");
    return false;
}

void TMultiProcessF::BeginRun()
{
    cancel_ = false;
    panels_->setEnabled(false);
    StopBtn->setEnabled(true);
}

void TMultiProcessF::EndRun()
{
    StopBtn->setEnabled(false);
    panels_->setEnabled(true);
}

bool TMultiProcessF::Cancelled()
{
    // Lets Stop (and the progress bar) be seen between files; the rest of the window is disabled.
    QCoreApplication::processEvents();
    return cancel_;
}

bool TMultiProcessF::SaveNext(ImageData &image, const std::string &listed, const BatchNaming &naming,
                              int format, int &saved)
{
    // A file that cannot be written ends the run: the next ones would fail the same way, one box
    // each. The writer's box names the path.
    const std::string name = BatchOutputName(naming, listed, saved);
    if (!MainF || !MainF->SaveImageInFormat(name, image, format))
        return false;
    ++saved;
    return true;
}

void TMultiProcessF::TransformListedFiles(const char *progress,
                                          const std::function<void(ImageData &)> &operation)
{
    const EditTargetScope target(EditBatchImage);
    const std::vector<std::string> files = FilesToProcess();
    if (files.empty())
        return;
    const BatchNaming naming = Naming();
    if (!NamesDistinct(naming, files))
        return;
    const int format = BatchSaveFormatCode(SaveFormat->currentIndex());
    int saved = 0;
    ImageData image;
    BeginRun();
    Ui().ProgressStart(progress);
    ListedImageLoop options;
    options.CheckSize = false;
    options.Cancelled = [this] { return Cancelled(); };
    ForEachListedImage(files, image, options, [&](ImageData &loaded, int index) {
        operation(loaded);
        return SaveNext(loaded, files[index], naming, format, saved);
    });
    Ui().ProgressEnd();
    EndRun();
}

void TMultiProcessF::ProcessBtnClick()
{
    const int code = OperationSelect->currentIndex();
    TransformListedFiles("Processing images", [code](ImageData &loaded) {
        LastOperation = code;
        if (code == EqualizeOperation && EqualizeF) {
            // The equalization window's transfer curve, as it stands, maps every file.
            EqualizeF->UseModelHistogram->setChecked(true);
            EqualizeF->TargetImage = &loaded;
            EqualizeF->ApplyBtnClick();
            EqualizeF->TargetImage = nullptr;
        } else if (FilterF && TFilterF::Dispatches(code)) {
            FilterF->TargetImage = &loaded;
            FilterF->DispatchLastOperation();
            FilterF->TargetImage = nullptr;
        }
    });
}

void TMultiProcessF::FilterSettingsClick()
{
    EditTarget = EditActiveImage;
    LastOperation = OperationSelect->currentIndex();
    if (LastOperation == EqualizeOperation) {
        // The setting of "Equalize" is the equalization window's transfer curve: the window opens
        // on the active image with "Use model histogram" chosen, and the curve left there maps
        // every file of the run. Nothing is applied until the user asks.
        if (EqualizeF) {
            EqualizeF->show();
            EqualizeF->raise();
            EqualizeF->UseModelHistogram->setChecked(true);
        }
        return;
    }
    if (!FilterF || !TFilterF::Dispatches(LastOperation))
        return; // nothing to set for "No action" and "Rescale image"
    FilterF->ShowForSettings();
}

void TMultiProcessF::SumBtnClick()
{
    if (ListedFiles().size() > 1 && (!OutputPrefixGiven() || !OutputSpares(SingleOutputName())))
        return;
    ImageData result;
    BeginRun();
    const bool made =
        SumListedImages(ListedFiles(), Average->isChecked(), result, [this] { return Cancelled(); });
    EndRun();
    if (made && MainF)
        MainF->SaveImageInFormat(SingleOutputName(), result, BatchSaveFormatCode(SaveFormat->currentIndex()));
}

void TMultiProcessF::SubtractBtnClick()
{
    const double weight = ParseNumber(Weight->text().toStdString());
    const std::vector<std::string> files = FilesToProcess();
    if (files.empty())
        return;
    const std::string subFile = SubFile->text().toStdString();
    if (!reference_.LoadFromFile(subFile)) {
        Message("Could not open file: " + subFile + ".");
        return;
    }
    const BatchNaming naming = Naming();
    if (!NamesDistinct(naming, files)) {
        reference_.Free();
        return;
    }
    const int w = reference_.Width, h = reference_.Height;
    const int format = BatchSaveFormatCode(SaveFormat->currentIndex());
    int saved = 0;
    BeginRun();
    Ui().ProgressStart("Subtracting images");
    ListedImageLoop options;
    options.ExpectedWidth = w;
    options.ExpectedHeight = h;
    options.MismatchEnds = SubtractSizeDiffers;
    options.Cancelled = [this] { return Cancelled(); };
    ForEachListedImage(files, second_, options, [&](ImageData &image, int index) {
        const int largest = SubtractWeighted(image, reference_, weight, w, h);
        SetResultHeader(image, w, h, largest, format);
        image.SkyLevel = 0.0f;
        image.Palette.Assign(CurrentSettings().DefaultPalettes[0]);
        return SaveNext(image, files[index], naming, format, saved);
    });
    Ui().ProgressEnd();
    EndRun();
    reference_.Free();
    second_.Free();
}

void TMultiProcessF::PreviewSubtractBtnClick()
{
    const std::vector<std::string> files = FilesToProcess();
    if (files.empty())
        return;
    const std::string subFile = SubFile->text().toStdString();
    for (const auto &[slot, name] : {std::pair{&reference_, subFile}, std::pair{&second_, files.front()}})
        if (!slot->LoadFromFile(name)) {
            Message("Could not open file: " + ExtractFileNamePart(name) + ".");
            reference_.Free();
            second_.Free();
            return;
        }
    const int w = std::min(reference_.Width, second_.Width), h = std::min(reference_.Height, second_.Height);
    const int largest =
        SubtractWeighted(second_, reference_, ParseNumber(Weight->text().toStdString()), w, h);
    ImageData result;
    if (result.Allocate(w, h, 1)) {
        for (int y = 0; y < h; ++y)
            std::copy_n(second_.FrameRow(0, y), w, result.FrameRow(0, y));
        // A new image with no file: "Save Image" asks for a name rather than write over the listed
        // file the preview was computed from.
        result.FileName.clear();
        result.Description = second_.Description;
        SetResultHeader(result, w, h, largest, BatchSaveFormatCode(SaveFormat->currentIndex()));
        result.SkyLevel = 0.0f;
        result.Palette.Assign(CurrentSettings().DefaultPalettes[0]);
        ShowResultImage(result);
    }
    reference_.Free();
    second_.Free();
}

void TMultiProcessF::ApplyScalingBtnClick()
{
    const double fx = ParseNumber(HScale->text().toStdString());
    const double fy = VertHorzScaleCheckbox->isChecked() ? fx : ParseNumber(VScale->text().toStdString());
    TransformListedFiles("Rescaling images", [fx, fy](ImageData &loaded) { ResizeImage(fx, fy, loaded); });
}

void TMultiProcessF::ShowResultImage(const ImageData &image)
{
    if (!MainF)
        return;
    TChild *child = MainF->CreateImageWindow(image.Height, image.Width);
    child->Image().Assign(image);
    child->show();
    MainF->UpdateImageControls(child);
    child->FitToWindow();
    child->RenderImage();
}

// ---------------------------------------------------------------------------------------------
// Calibration frames and corrections

void TMultiProcessF::BuildFrame(bool dark)
{
    if (!ListedFiles().empty() && (!OutputPrefixGiven() || !OutputSpares(SingleOutputName())))
        return;
    ImageData frame;
    BeginRun();
    const BuiltFrame built =
        BuildCalibrationFrame(ListedFiles(), dark ? CalibrationFrameKind::Dark : CalibrationFrameKind::Flat,
                              frame, [this] { return Cancelled(); });
    EndRun();
    if (!built.Made || !MainF)
        return;
    const std::string name = SingleOutputName();
    // The frame box names the new frame only once it is on disk: after a failed save it keeps
    // its old name rather than point "Apply corrections" at an older file of the new name.
    if (MainF->SaveImageInFormat(name, frame, BatchSaveFormatCode(SaveFormat->currentIndex())))
        (dark ? ThermalFrame : FlatFrame)->setText(QString::fromStdString(name));
}

void TMultiProcessF::ThermalFrameBtnClick()
{
    BuildFrame(true);
}

void TMultiProcessF::FlatFrameBtnClick()
{
    BuildFrame(false);
}

void TMultiProcessF::ApplyCorrBtnClick()
{
    const std::vector<std::string> files = FilesToProcess();
    if (files.empty())
        return;
    const BatchNaming naming = Naming();
    const int format = BatchSaveFormatCode(SaveFormat->currentIndex());
    const bool useDark = ApplyDarkCount->isChecked(), useFlat = ApplyFlatField->isChecked();
    const bool useColumns = FixBadColumns->isChecked(), useHot = FixHotPixels->isChecked();
    struct Release {
        TMultiProcessF *w;
        ~Release()
        {
            w->reference_.Free();
            w->second_.Free();
            w->corrections_.Free();
        }
    } release{this};
    int w = 0, h = 0;
    if (useDark) {
        if (!reference_.LoadFromFile(ThermalFrame->text().toStdString())) {
            Message(ThermalFrameUnreadable);
            return;
        }
        w = reference_.Width;
        h = reference_.Height;
        if (reference_.OffsetLevel < 1.0f || !std::isfinite(reference_.OffsetLevel))
            reference_.OffsetLevel = 1.0f;
    }
    if (useFlat) {
        if (!second_.LoadFromFile(FlatFrame->text().toStdString())) {
            Message(FlatFrameUnreadable);
            return;
        }
        if (useDark && (second_.Width != w || second_.Height != h)) {
            Message(FramesDifferInSize);
            return;
        }
        if (!FlatNormalisationUsable(second_)) {
            Message(FlatNormalisationZero);
            return;
        }
        w = second_.Width;
        h = second_.Height;
    }
    std::vector<BadColumnEntry> columns;
    std::vector<PixelPosition> hotPixels;
    std::string error;
    if (useColumns) {
        const std::string path = BadColumnMapFile->text().toStdString();
        if (!std::filesystem::is_regular_file(path)) {
            Message(CannotOpenBadColumnList);
            return;
        }
        if (!ReadBadColumnList(path, columns, error)) {
            Message(error);
            return;
        }
        if (columns.size() > MaxBadColumns) {
            Message(TooManyBadColumns);
            return;
        }
    }
    if (useHot) {
        const std::string path = HotPixelMapFile->text().toStdString();
        if (!std::filesystem::is_regular_file(path)) {
            Message(CannotOpenHotPixelList);
            return;
        }
        if (!ReadHotPixelList(path, hotPixels, error)) {
            Message(error);
            return;
        }
    }
    if (!NamesDistinct(naming, files))
        return;

    int saved = 0;
    int clippedColumns = 0;
    BeginRun();
    Ui().ProgressStart("Applying corrections");
    ListedImageLoop options;
    options.ExpectedWidth = w;
    options.ExpectedHeight = h;
    options.Cancelled = [this] { return Cancelled(); };
    const LoopResult run = ForEachListedImage(files, corrections_, options, [&](ImageData &image, int index) {
        const int largest =
            CorrectDarkFlat(image, useDark ? &reference_ : nullptr, useFlat ? &second_ : nullptr);
        if (useColumns)
            clippedColumns = std::max(clippedColumns, ::FixBadColumns(image, columns));
        if (useHot)
            ::FixHotPixels(image, hotPixels);
        SetResultHeader(image, image.Width, image.Height, largest, format);
        return SaveNext(image, files[index], naming, format, saved);
    });
    Ui().ProgressEnd();
    EndRun();
    if (clippedColumns > 0 && run.Loaded > 0)
        Message(std::to_string(clippedColumns) +
                " entries of the bad-column list lie partly or wholly outside the images; only their parts "
                "inside the images were fixed.");
}
