#pragma once
// TStackMultipleF ("Stack and trim images"): registers a numbered series of images on one or two
// stars of a reference image and combines it by median, average or sum into one image cropped to
// a chosen frame. The reference is shown in an OpenGL view where the crop frame and the two
// alignment boxes are drawn with the mouse and set from a popup menu.
#include "image_data.h"
#include "processing/stacking.h"

#include <QWidget>

#include <memory>
#include <string>

class ColorIndexView;
class QAction;
class QComboBox;
class QCheckBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStatusBar;
class TOpenGLPanel;

class TStackMultipleF : public QWidget
{
    Q_OBJECT
public:
    explicit TStackMultipleF(QWidget *parent = nullptr);
    ~TStackMultipleF() override;

    QLineEdit *Prefix = nullptr, *OutputPrefix = nullptr;
    QPushButton *BrowseBtn = nullptr, *BrowseBtn2 = nullptr;
    QSpinBox *FirstExtNum = nullptr, *LastExtNum = nullptr, *RefImgNum = nullptr;
    QComboBox *CombineMethod = nullptr, *SaveFormat = nullptr;
    QRadioButton *noalignbtn = nullptr, *singleboxalignbtn = nullptr, *doublealignbtn = nullptr;
    QCheckBox *Normalize = nullptr, *SubBias = nullptr;
    QSpinBox *CropXLO = nullptr, *CropXHI = nullptr, *CropYLO = nullptr, *CropYHI = nullptr;
    QSpinBox *StackXLO1 = nullptr, *StackXHI1 = nullptr, *StackYLO1 = nullptr, *StackYHI1 = nullptr;
    QSpinBox *StackXLO2 = nullptr, *StackXHI2 = nullptr, *StackYLO2 = nullptr, *StackYHI2 = nullptr;
    QWidget *Box1Group = nullptr, *Box2Group = nullptr;
    QPushButton *OpenRefImgBtn = nullptr, *NextImgBtn = nullptr, *PrevImgBtn = nullptr;
    QPushButton *StackBtn = nullptr, *CloseBtn = nullptr;
    QWidget *ViewArea = nullptr;
    TOpenGLPanel *OpenGLPanel = nullptr;
    QMenu *PopupMenu = nullptr;
    QAction *Setcroppingframe1 = nullptr, *Selectstackingreferenceframe1 = nullptr,
            *Setstackingreferenceframe21 = nullptr;
    QStatusBar *StatusBar1 = nullptr;

    ImageData Reference;
    bool ReferenceLoaded = false;
    std::string InputExtension; // without the dot
    float Zoom = 1.0f;
    // The last rectangle drawn in the view, in image coordinates.
    int RectLeft = 0, RectTop = 0, RectRight = 0, RectBottom = 0;
    bool RectValid = false;

    void FormShow();
    void FormClose();
    void CloseBtnClick();
    void BrowseBtnClick();
    void BrowseBtn2Click();
    void noalignbtnClick();
    void singleboxalignbtnClick();
    void doublealignbtnClick();
    void OpenRefImgBtnClick();
    void NextImgBtnClick();
    void PrevImgBtnClick();
    void OpenGLPanelInit();
    void OpenGLPanelPaint();
    void OpenGLPanelMouseDown(Qt::MouseButton button, int x, int y);
    void OpenGLPanelMouseMove(int x, int y);
    void OpenGLPanelMouseUp(Qt::MouseButton button, int x, int y);
    void Setcroppingframe1Click();
    void Selectstackingreferenceframe1Click();
    void Setstackingreferenceframe21Click();
    void StackBtnClick();
    void SetRegionLimits();
    void BuildDisplayMap();
    void ZoomToFit();

    // Image coordinates of a view position (rows count from the bottom).
    void ViewToImage(int x, int y, int &ix, int &iy) const;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void SetStatus(const std::string &text);
    void CopyRectangle(QSpinBox *left, QSpinBox *right, QSpinBox *top, QSpinBox *bottom);

    std::unique_ptr<ColorIndexView> view_;
    float mapGain_ = -1.0f, mapBlack_ = -1.0f;
    bool dragging_ = false;
    int dragX0_ = 0, dragY0_ = 0, dragX1_ = 0, dragY1_ = 0; // view coordinates
};

extern TStackMultipleF *StackMultipleF;
