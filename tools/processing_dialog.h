#pragma once
// TFilterF: the "Image Processing" window. One page per neighbourhood filter or point operation,
// the convolution-kernel editor with its filter files, and Preview, Apply Filter, Undo and Redo.
// Its ApplyBtnClick is the dispatcher of the repeatable operations: Redo and batch processing run
// LastOperation again through it.
#include <QWidget>

#include "processing/filter_file.h"
#include "processing_target.h"

#include <array>
#include <string>

class ImageData;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;

class TFilterF : public QWidget, public OperationOwner, public TargetReader
{
    Q_OBJECT
public:
    explicit TFilterF(QWidget *parent = nullptr);
    ~TFilterF() override;

    // The codes the dispatcher runs (crop, sky model and the logarithmic rescale join when their
    // algorithms do; until then their pages are disabled).
    static bool Dispatches(int code);

    // Pages and controls (objectName = the member's name).
    QTabWidget *PageControl = nullptr;
    QWidget *ConvolutionPage = nullptr, *AveragePage = nullptr, *GaussPage = nullptr, *MedianPage = nullptr,
            *MinMaxPage = nullptr, *UnsharpPage = nullptr, *ThresholdPage = nullptr,
            *SubtractBiasPage = nullptr, *TrimPage = nullptr, *ModelSkyPage = nullptr,
            *LogRescalePage = nullptr;
    QTabWidget *MatrixPages = nullptr;
    QTableWidget *Matrix1 = nullptr, *Matrix2 = nullptr;
    QComboBox *FilterBox = nullptr;
    QRadioButton *Size3 = nullptr, *Size5 = nullptr;
    QSpinBox *FiltPower = nullptr;
    QPushButton *SaveFilterBtn = nullptr, *LoadFilterBtn = nullptr;
    QSpinBox *AvgRadius = nullptr, *Sigma = nullptr, *SSize = nullptr, *Sensitivity = nullptr;
    QLabel *MMImage = nullptr;
    QRadioButton *MinimalBtn = nullptr, *MaximalBtn = nullptr, *ClosingBtn = nullptr, *OpeningBtn = nullptr;
    QRadioButton *GaussBtn = nullptr, *LocalAvgBtn = nullptr;
    QSpinBox *CSpinEdit1 = nullptr, *AvgRad = nullptr, *ShiftVal = nullptr, *HFWeight = nullptr;
    QLineEdit *LFWeight = nullptr;
    QSpinBox *UpperThreshold = nullptr, *LowerThreshold = nullptr, *BiasLevel = nullptr;
    QSpinBox *TrimXLO = nullptr, *TrimYLO = nullptr, *TrimXHI = nullptr, *TrimYHI = nullptr;
    QSpinBox *PolyOrder = nullptr;
    QRadioButton *AutoSkyModel = nullptr, *ManualSkyModel = nullptr;
    QPushButton *ManualSkyBtn = nullptr;
    QSpinBox *BiasLevel2 = nullptr, *MaxInt = nullptr;
    QPushButton *PreviewBtn = nullptr, *ApplyBtn = nullptr, *UndoBtn = nullptr, *RedoBtn = nullptr;

    // The image batch processing points the dialog at (EditTarget 6); not owned.
    ImageData *TargetImage = nullptr;
    bool FirstUse = true;

    // Kernel editor state: weights [column][row][power][size][matrix], 0 = 3 x 3 / 1 = 5 x 5,
    // filter power - 1, the picked structuring element, the filter file of each list entry.
    FilterKernelTable FilterKernels = {};
    int KernelSize = 0;
    int FilterPower = 0;
    int MinMaxCorner = 0;
    std::array<std::string, FilterListEntries> FilterFileNames;

    void ApplyBtnClick();
    // Trim (code 7): the corner spin edits, held inside the image and ordered, crop the image.
    void TrimToCorners(ImageData &image);
    void PreviewBtnClick();
    void UndoBtnClick();
    void RedoBtnClick();
    void ShowOperationPage();
    // A menu item or tool-bar button chose the dialog again while it is open: the target and the
    // page of LastOperation are read as when it is shown, and the buttons serve that target.
    void ReadTarget() override;
    // Shown for the batch window's "Filter settings...": the page of LastOperation with Preview,
    // Apply, Undo and Redo disabled, until the dialog is closed or chosen again for an image.
    void ShowForSettings();
    // True when the file was read; otherwise reported, nothing changes and the filter list goes
    // back to the entry whose kernels the editor holds.
    bool LoadFilterFile(const std::string &path);
    bool SaveFilterFile(const std::string &path);
    void ShowKernel();
    // False (reported, nothing taken) when a cell is not a number.
    bool ReadKernel();
    void SaveFilterBtnClick();
    void LoadFilterBtnClick();
    void FilterBoxChange(int entry);
    void MMImageClick(int x, int y);
    // The operation code of the page (page activation), -1 for none.
    int PageCode(const QWidget *page) const;

    // OperationOwner
    bool CanRepeatOperation(int code) const override;
    void RepeatOperation(int code) override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildPages();
    void PageActivated(int index);
    void DrawMinMaxPicker();
    void RunOperation(int code, ImageData &image);
    int MinMaxRadioCode() const;
    void EnableButtons(bool on);
    bool lowPassLoaded_ = false;
    int kernelEntry_ = 0; // the list entry the kernels were last loaded as
};

extern TFilterF *FilterF;
