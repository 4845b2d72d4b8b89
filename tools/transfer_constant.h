#pragma once
// TXferConstF ("Determine camera transfer constant"): measures the camera's gain in electrons per
// ADU and its read noise from a numbered series of bias frames and one of evenly lit frames. Step 3
// samples the series and writes the per-sample mean and variance to a data file; step 4 fits
// variance = k x mean + bias variance to it and shows 1/k and the noise, with a plot of the data.
#include <QImage>
#include <QWidget>

#include <string>
#include <vector>

#include "transfer_analysis.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStatusBar;

class TXferConstF : public QWidget
{
    Q_OBJECT
public:
    explicit TXferConstF(QWidget *parent = nullptr);
    ~TXferConstF() override;

    QLineEdit *BiasFileName = nullptr, *ImageFileName = nullptr, *OutFileName = nullptr;
    QPushButton *BrowseBtn1 = nullptr, *BrowseBtn2 = nullptr, *BrowseBtn3 = nullptr;
    QSpinBox *FirstExtNum1 = nullptr, *LastExtNum1 = nullptr, *FirstExtNum2 = nullptr, *LastExtNum2 = nullptr;
    QCheckBox *UseHeaderBias = nullptr;
    QSpinBox *NSamples = nullptr, *BinVal = nullptr, *MinADU = nullptr, *MaxADU = nullptr;
    QPushButton *AnalyzeBtn = nullptr, *DetermineBtn = nullptr, *PlotBtn = nullptr;
    QLabel *CameraConst = nullptr, *Noise = nullptr, *GImage = nullptr;
    QStatusBar *StatusBar1 = nullptr;

    std::string BiasExtension, ImageExtension; // taken from the browsed files, with their '.'
    std::vector<TransferRecord> Records;       // the records of the last load that lie in MinADU..MaxADU
    TransferRanges Ranges;
    QImage Plot; // the picture GImage shows

    void BrowseBtn1Click();
    void BrowseBtn2Click();
    void BrowseBtn3Click();
    void AnalyzeBtnClick();
    void PlotBtnClick();
    void DetermineBtnClick();
    bool LoadDataFile(const std::string &path);
    void FormClose();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The browse rule of steps 1 and 2: prefix up to and including the last '_', and the extension.
    bool BrowseSeries(const QString &title, const char *filter, QLineEdit *prefix, std::string &extension);
    // The names of a series; a prefix or extension typed by hand is resolved from the files that
    // exist (and the fields take the resolved prefix and extension).
    std::vector<std::string> SeriesFiles(QLineEdit *prefix, std::string &extension, int first, int last);
    void DrawPlot(const TransferFit *fit);
    void SetStatus(const std::string &text);
};

extern TXferConstF *XferConstF;
