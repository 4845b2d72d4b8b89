#pragma once
// TProblemPixelMapF ("Problem pixels/columns"): finds the sensor's hot pixels in a dark frame and
// its bright and dim pixels in an evenly lit flat frame and writes them, with the lines of an
// existing problem-pixel list, as the hot-pixel list the calibration reads; shows a list as an
// image; and edits, loads and saves the bad-column list in a grid of 128 entries.
#include <QWidget>

class ImageData;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTabWidget;

class TProblemPixelMapF : public QWidget
{
    Q_OBJECT
public:
    explicit TProblemPixelMapF(QWidget *parent = nullptr);
    ~TProblemPixelMapF() override;

    QTabWidget *PageControl1 = nullptr;
    QLineEdit *DarkCountFile = nullptr, *FlatFile = nullptr, *PixelListFile = nullptr,
              *HotPixelFile = nullptr;
    QPushButton *BrowseBtn1 = nullptr, *BrowseBtn2 = nullptr, *BrowseBtn3 = nullptr, *BrowseBtn4 = nullptr;
    QPushButton *OpenDarkCountFile = nullptr, *OpenFlatFrameFile = nullptr;
    QSpinBox *HotLevel = nullptr, *BrightLevel = nullptr, *DimLevel = nullptr;
    QCheckBox *UseDarkCount = nullptr, *UseFlatFile = nullptr, *UsePixelList = nullptr;
    QPushButton *CreatePixelListBtn = nullptr, *PixelMapImgBtn = nullptr;
    QLabel *NumProblemPixels = nullptr;
    QTableWidget *ColumnMap = nullptr;
    QPushButton *OpenColumnMapBtn = nullptr, *SaveColumnMapBtn = nullptr;

    void FormShow();
    void FormClose();
    void BrowseBtn1Click();
    void BrowseBtn2Click();
    void BrowseBtn3Click();
    void BrowseBtn4Click();
    void ShowStatistics(const ImageData &frame);
    void OpenDarkCountFileClick();
    void OpenFlatFrameFileClick();
    void CreatePixelListBtnClick();
    void PixelMapImgBtnClick();
    void OpenColumnMapBtnClick();
    void SaveColumnMapBtnClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Loads a frame into the main window's load buffer; a missing file is reported here, an
    // unreadable one by the reader.
    bool LoadFrame(const QString &name);
    bool BrowseImage(const QString &title, QLineEdit *target);
};

extern TProblemPixelMapF *ProblemPixelMapF;
