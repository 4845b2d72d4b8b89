#pragma once
// TAlignF ("Align images in composite"): registers the composite's layers 2-5 onto layer 1. The
// user views each channel, picks two reference stars in it from the view's pop-up menu and draws
// the cropping frame; "1. Initial stack and trim" then refines the stars, works out each channel's
// rotation, optional scale and shift, and resamples every loaded layer into the cropping frame.
#include "image_data.h"
#include "processing/alignment.h"

#include <QWidget>

#include <array>
#include <memory>

class ColorIndexView;
class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSpinBox;
class QStatusBar;
class TOpenGLPanel;

class TAlignF : public QWidget
{
    Q_OBJECT
public:
    explicit TAlignF(QWidget *parent = nullptr);
    ~TAlignF() override;

    std::array<QRadioButton *, AlignmentChannels> ChannelButtons{}; // "Channel 1" .. "Channel 5"
    QRadioButton *TwoBoxesBtn = nullptr, *SingleBoxBtn = nullptr;
    QSpinBox *CropXLO = nullptr, *CropXHI = nullptr, *CropYLO = nullptr, *CropYHI = nullptr;
    QSpinBox *Stack_X1 = nullptr, *Stack_Y1 = nullptr, *Stack_X2 = nullptr, *Stack_Y2 = nullptr;
    QCheckBox *ScaleCorrection = nullptr;
    QLineEdit *nudge_x = nullptr, *nudge_y = nullptr;
    QPushButton *StackBtn = nullptr, *CloseBtn = nullptr;
    QGroupBox *ChromaticGroup = nullptr; // shown, never enabled
    QScrollArea *ScrollBox = nullptr;
    TOpenGLPanel *OpenGLPanel = nullptr;
    QMenu *PopupMenu = nullptr;
    QAction *SetCroppingFrame = nullptr, *SetReferenceStar1 = nullptr, *SetReferenceStar2 = nullptr;
    QStatusBar *StatusBar = nullptr;
    std::array<QLabel *, 2> StatusPanels{}; // 300 and 50 pixels

    ImageData ViewCopy; // the channel being viewed, zoom 1.0
    // The star table: reference stars 1 and 2 of every channel, in that channel's pixels.
    std::array<int, AlignmentChannels> x1{}, y1{}, x2{}, y2{};
    int ChannelIndex = 0;       // channel the pick commands set (0-4)
    int PointX = 0, PointY = 0; // image position last pointed at

    void FormShow();
    void FormClose();
    void ChannelClick(int channel);
    void PanelMouseDown(Qt::MouseButton button, int x, int y);
    void PanelMouseMove(int x, int y);
    void PanelMouseUp(Qt::MouseButton button, int x, int y);
    void SetCroppingFrameClick();
    void SetReferenceStar1Click();
    void SetReferenceStar2Click();
    void StackBtnClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void RebuildView();
    void PanelPaint();
    void ShowStars();
    void SetStatus(const QString &text);

    std::unique_ptr<ColorIndexView> view_;
    float mapScale_ = -1.0f, mapOffset_ = -1.0f;
    int panelWidth_ = 0, panelHeight_ = 0;
    bool dragging_ = false;
    int pressX_ = 0, pressY_ = 0, currentX_ = 0, currentY_ = 0; // panel pixels
};

extern TAlignF *AlignF;
