#pragma once
// TFilterF: the "Image Processing" window. One page per neighbourhood filter or point operation,
// the convolution-kernel editor with its filter files, and Preview, Apply Filter, Undo and Redo.
// Apply runs the operation of the page shown, with the values shown, on the image the dialog
// shows; Redo repeats the dialog's last operation with the values it ran with. Batch processing
// runs LastOperation on its files through DispatchLastOperation.
#include <QWidget>

#include "processing/filter_file.h"
#include "processing/filters.h"
#include "processing/sky_model.h"
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

// One run of a dialog operation: its code and every value it runs with, read from the controls
// when it is applied, so that Redo repeats it as it ran.
struct FilterOperation {
    int code = 0;
    bool kernel5 = false; // convolution: 5 x 5 kernels
    ConvolutionKernels kernels;
    int sigma = 1, averageRadius = 1, medianSize = 5;
    float medianFactor = 0.0f;
    int unsharpSigma = 2, unsharpRadius = 3, unsharpShift = 0, unsharpHigh = 10;
    float unsharpLow = 0.2f;
    bool unsharpGauss = true;
    int minMaxCorner = 0;
    int trim[4] = {}; // XLO, YLO, XHI, YHI as the spins held them
    bool manualSky = false;
    SkyModel skyFit; // the sky-model window's fit (manual sky model)
    int polyOrder = 1;
    int upper = 65535, lower = 0, bias = 0, logBias = 1, logMax = 65535;
};

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

    // "Apply Filter": the operation of the page shown, with the values shown, on the image shown.
    void ApplyBtnClick();
    // Batch processing: LastOperation with the values shown, on the image TargetImage points at.
    void DispatchLastOperation();
    // The code of the page shown (on the Minimal/Maximal page, of the radio button checked).
    int ShownOperation() const;
    // The values of `code` as the controls show them; false (reported) for a kernel cell that is
    // not a number.
    bool ReadOperation(int code, FilterOperation &operation);
    // Trim (code 7): the corners, held inside the image and ordered (the spin edits show them),
    // crop the image.
    void TrimToCorners(ImageData &image, const int (&corners)[4]);
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

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildPages();
    void PageActivated(int index);
    void DrawMinMaxPicker();
    // Snapshot, operation and refresh of one run on a target (Apply, Redo, batch).
    void ApplyOperation(const ProcessingTarget &target, const FilterOperation &operation);
    void RunOperation(const FilterOperation &operation, ImageData &image);
    int MinMaxRadioCode() const;
    void EnableButtons(bool on);
    void UpdateUndoButtons();
    ShownTarget shown_;         // the image the dialog shows (read when shown or chosen again)
    bool settingsOnly_ = false; // shown for the batch window's settings: no button acts
    bool lowPassLoaded_ = false;
    int kernelEntry_ = 0; // the list entry the kernels were last loaded as
};

extern TFilterF *FilterF;
