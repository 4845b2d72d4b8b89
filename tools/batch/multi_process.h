#pragma once
// TMultiProcessF: "Process multiple files". Applies one operation to every file of a list and
// saves each result by the output naming: filters and format conversion, sum, subtraction,
// rescaling, and (the "Photometric frames" page) building dark and flat frames and correcting
// frames for dark, flat, bad columns and hot pixels. Runs on the GUI thread; a run shows progress
// and stops between files when Stop is pressed.
#include <QWidget>

#include "batch_naming.h"
#include "image_data.h"

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QGroupBox;
class QLineEdit;
class QListView;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTreeView;

class TMultiProcessF : public QWidget
{
    Q_OBJECT
public:
    explicit TMultiProcessF(QWidget *parent = nullptr);
    ~TMultiProcessF() override;

    // Shared panels (objectName = the member's name).
    QTabWidget *PageControl = nullptr;
    QTreeView *DirectoryListBox = nullptr;
    QListView *FileListBox = nullptr;
    QComboBox *FileMask = nullptr;
    QPushButton *AddFilesBtn = nullptr, *RemoveFilesBtn = nullptr;
    QListWidget *SelListBox = nullptr;
    QLineEdit *OutputPrefix = nullptr;
    QPushButton *BrowseBtn2 = nullptr;
    QComboBox *SaveFormat = nullptr;
    QCheckBox *PreserveFileName = nullptr, *UseOutputPath = nullptr;
    QLineEdit *Suffix = nullptr;
    QPushButton *StopBtn = nullptr; // ends a run after the file in hand
    // File Quick Select
    QLineEdit *Prefix = nullptr, *FileExtension = nullptr;
    QPushButton *BrowseBtn1 = nullptr, *AddNumFileSeqBtn = nullptr;
    QSpinBox *FirstExtNum = nullptr, *LastExtNum = nullptr;
    // Photometric frames
    QPushButton *ThermalFrameBtn = nullptr, *FlatFrameBtn = nullptr, *ApplyCorrBtn = nullptr;
    QLineEdit *ThermalFrame = nullptr, *FlatFrame = nullptr, *HotPixelMapFile = nullptr,
              *BadColumnMapFile = nullptr;
    QPushButton *BrowseBtn4 = nullptr, *BrowseBtn5 = nullptr, *BrowseBtn6 = nullptr, *BrowseBtn7 = nullptr;
    QCheckBox *ApplyDarkCount = nullptr, *ApplyFlatField = nullptr, *FixHotPixels = nullptr,
              *FixBadColumns = nullptr;
    QGroupBox *BiasGroupBox = nullptr;
    QSpinBox *XLO = nullptr, *XHI = nullptr, *YLO = nullptr, *YHI = nullptr;
    QCheckBox *UseHeaderBias = nullptr, *UseFixedBias = nullptr;
    QLineEdit *FixedBias = nullptr;
    // Filters/misc.
    QComboBox *OperationSelect = nullptr;
    QPushButton *ProcessBtn = nullptr, *FilterSettings = nullptr;
    // Sum
    QLineEdit *FixedOffset = nullptr;
    QCheckBox *Average = nullptr;
    QPushButton *SumBtn = nullptr;
    // Subtract
    QLineEdit *SubFile = nullptr, *Weight = nullptr;
    QPushButton *BrowseBtn3 = nullptr, *SubtractBtn = nullptr, *PreviewSubtractBtn = nullptr;
    // Scale size
    QLineEdit *HScale = nullptr, *VScale = nullptr;
    QCheckBox *VertHorzScaleCheckbox = nullptr;
    QPushButton *ApplyScalingBtn = nullptr;

    std::string BatchSaveExtension = ".kvr";

    // Handlers.
    void FormShow();
    void FormClose();
    void DirectoryListBoxChange(const QString &folder);
    void FileMaskChange(int index);
    void AddFilesBtnClick();
    void RemoveFilesBtnClick();
    void BrowseBtn1Click();
    void AddNumFileSeqBtnClick();
    void BrowseBtn2Click();
    void SaveFormatChange(int index);
    void ProcessBtnClick();
    void FilterSettingsClick();
    void SumBtnClick();
    void BrowseBtn3Click();
    void SubtractBtnClick();
    void PreviewSubtractBtnClick();
    void VertHorzScaleCheckboxClick();
    void ApplyScalingBtnClick();
    void ThermalFrameBtnClick();
    void FlatFrameBtnClick();
    void ApplyCorrBtnClick();
    void BrowseBtn4Click();
    void BrowseBtn5Click();
    void BrowseBtn6Click();
    void BrowseBtn7Click();
    void UseHeaderBiasClick();
    void UseFixedBiasClick();
    // A new image window holding a copy of the image.
    void ShowResultImage(const ImageData &image);

    // The listed names in order.
    std::vector<std::string> ListedFiles() const;
    // The same for a run over the list: an empty list is reported ("No files selected for
    // processing.") and gives no names.
    std::vector<std::string> FilesToProcess() const;
    // Loads each listed file (EditTarget 6 meanwhile), runs `operation` on it and saves it under
    // the output naming, with progress and Stop; unreadable files get the skip question.
    void TransformListedFiles(const char *progress, const std::function<void(ImageData &)> &operation);
    // The current folder of the folder and file lists.
    QString CurrentFolder() const;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    BatchNaming Naming() const;
    void BrowseIntoEdit(QLineEdit *edit, const QString &title, const char *filter);
    void BuildFrame(bool dark);
    // Around a run: disables the window but Stop, and enables it again afterwards.
    void BeginRun();
    void EndRun();
    bool Cancelled();
    // Saves `image` by the output naming as the next file of the run; true when written.
    bool SaveNext(ImageData &image, const std::string &listed, const BatchNaming &naming, int format,
                  int &saved);
    // False, with a message, when the output prefix is empty.
    bool OutputPrefixGiven();
    // The file of a run that saves one result (Sum, the calibration frames): the output prefix as
    // typed + the save extension.
    std::string SingleOutputName() const;
    // False, with a message, when that file is one of the listed files.
    bool OutputSpares(const std::string &output);
    // Refuses (with a message) a list whose outputs would clash, or numbered names without a prefix.
    bool NamesDistinct(const BatchNaming &naming, const std::vector<std::string> &files);

    QFileSystemModel *folderModel_ = nullptr, *fileModel_ = nullptr;
    QWidget *panels_ = nullptr;
    // The work images: the reference slot (image to subtract, dark frame), the second slot (image
    // subtracted from, flat frame) and the corrections slot.
    ImageData reference_, second_, corrections_;
    bool cancel_ = false;
};

extern TMultiProcessF *MultiProcessF;
