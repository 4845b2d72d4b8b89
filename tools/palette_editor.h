#pragma once
// TPaletteSet ("Palette Settings"): the false-colour palette editor. The three colour curves of one
// palette are shaped with the mouse in the curve view, the colour bar below shows the result, and
// Preview, OK and "Revert to original" copy the palette into whatever EditTarget names. The
// curve edits themselves live in the Qt-free PaletteCurves model.
#include "palette.h"
#include "palette_curves.h"
#include "processing_target.h"

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QLineEdit;
class QMenu;
class QPushButton;
class TChild;
class TOpenGLPanel;
class ColorIndexView;

class TPaletteSet : public QWidget, public TargetReader
{
    Q_OBJECT
public:
    explicit TPaletteSet(QWidget *parent = nullptr);
    ~TPaletteSet() override;

    static constexpr int CurveWidth = 374, CurveHeight = 341;
    static constexpr int PreviewWidth = 376, PreviewHeight = 24;

    QPushButton *BRed = nullptr, *BGreen = nullptr, *BBlue = nullptr;
    QWidget *BImage = nullptr; // the curve view
    TOpenGLPanel *OpenGLPanel = nullptr;
    QCheckBox *GreyScale = nullptr;
    QLineEdit *PaletteFile = nullptr;
    QPushButton *ResetBtn = nullptr, *PreviewBtn = nullptr, *OkBtn = nullptr;
    QMenu *BezPopup = nullptr;
    QAction *Symmetrize1 = nullptr, *DeletePoint1 = nullptr;
    QAction *Open1 = nullptr, *SaveAs1 = nullptr, *Close1 = nullptr;

    std::string LoadedFileName;
    PPalette Palette;       // the palette being edited
    PPalette PaletteBackup; // what "Revert to original" restores
    PaletteCurves Curves{CurveWidth, CurveHeight};
    std::vector<std::uint16_t> PreviewRow;

    void FormShow();
    void FormClose();
    void ChannelClick(int channel); // BRedClick, BGreenClick, BBlueClick
    void GreyScaleClick();
    void BImageMouseDown(Qt::MouseButton button, int x, int y, QPoint globalPos);
    void BImageMouseMove(int x, int y, Qt::MouseButtons buttons);
    void BImageMouseUp();
    void BImageDblClick();
    void Symmetrize1Click();
    void DeletePoint1Click();
    void Open1Click();
    void SaveAs1Click();
    void PreviewBtnClick();
    void OkBtnClick();
    void ResetBtnClick();

    void PointsToScreen() { Curves.PointsToScreen(Palette); }
    void ScreenToPoints() { Curves.ScreenToPoints(Palette); }
    void DrawCurve(int channel);
    void RepaintPreview();
    void LoadPalette(const std::string &path);
    void ApplyToTarget();
    // The palette shown: of what EditTarget named when the window was shown (or its command chose
    // it again while open), or nullptr when it is gone (the image window closed since).
    PPalette *TargetPalette();
    void ReadTarget() override { FormShow(); }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void BuildTables();                   // the edited channel, or all three in grey-scale mode
    void RebuildAfterEdit(bool allThree); // ScreenToPoints, tables, preview, curve
    void OpenGLPanelInit();
    void OpenGLPanelPaint();

    void TakeShownTarget();
    TChild *ShownWindow() const;

    // What the palette was read from: the EditTarget value, the image window's tag, the layer.
    int shownTarget_ = -1;
    std::int64_t shownWindowTag_ = -1;
    int shownLayer_ = -1;
    std::unique_ptr<ColorIndexView> preview_;
    int shownChannel_ = 0; // channel whose points the curve view shows
    bool doubleClicked_ = false;
};

extern TPaletteSet *PaletteSet;
