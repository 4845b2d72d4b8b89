#include "align_window.h"

#include "color_index_view.h"
#include "composite/composite_image.h"
#include "edit_target.h"
#include "gui_runtime.h"
#include "main_window.h"
#include "opengl_panel.h"
#include "processing_target.h"
#include "selection.h"
#include "text_format.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QOpenGLFunctions_1_1>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <span>

TAlignF *AlignF = nullptr;

namespace
{

template <typename W> W *Named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QSpinBox *Spin(QWidget *parent, const char *name, int minimum, int maximum, int value, int step = 1)
{
    auto *spin = Named(new QSpinBox(parent), name);
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    spin->setSingleStep(step);
    return spin;
}

// The composite's five layers.
std::span<ImageData> Layers()
{
    return {Composite().Layers.data(), AlignmentChannels};
}

} // namespace

TAlignF::TAlignF(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), view_(std::make_unique<ColorIndexView>())
{
    setObjectName(QStringLiteral("AlignF"));
    setWindowTitle(QStringLiteral("Align images in composite"));

    auto *viewGroup = new QGroupBox(QStringLiteral("Image to view and identify stacking stars"), this);
    auto *viewLayout = new QVBoxLayout(viewGroup);
    auto *channels = new QButtonGroup(this);
    for (int c = 0; c < AlignmentChannels; ++c) {
        ChannelButtons[c] = new QRadioButton(QStringLiteral("Channel %1").arg(c + 1), viewGroup);
        ChannelButtons[c]->setObjectName(QStringLiteral("Channel%1").arg(c + 1));
        channels->addButton(ChannelButtons[c], c);
        viewLayout->addWidget(ChannelButtons[c]);
    }
    ChannelButtons[0]->setChecked(true);
    TwoBoxesBtn =
        Named(new QRadioButton(QStringLiteral("Stack using two alignment boxes"), this), "TwoBoxesBtn");
    SingleBoxBtn =
        Named(new QRadioButton(QStringLiteral("Stack using single alignment box"), this), "SingleBoxBtn");
    TwoBoxesBtn->setChecked(true);
    auto *boxes = new QButtonGroup(this);
    boxes->addButton(TwoBoxesBtn);
    boxes->addButton(SingleBoxBtn);

    auto *cropGroup = new QGroupBox(QStringLiteral("Cropping frame"), this);
    CropXLO = Spin(cropGroup, "CropXLO", 0, 65535, 0);
    CropXHI = Spin(cropGroup, "CropXHI", 0, 65535, 0);
    CropYLO = Spin(cropGroup, "CropYLO", 0, 65535, 0);
    CropYHI = Spin(cropGroup, "CropYHI", 0, 65535, 0);
    auto *cropForm = new QFormLayout(cropGroup);
    cropForm->addRow(QStringLiteral("Left X:"), CropXLO);
    cropForm->addRow(QStringLiteral("Right X:"), CropXHI);
    cropForm->addRow(QStringLiteral("Top Y:"), CropYLO);
    cropForm->addRow(QStringLiteral("Bottom Y:"), CropYHI);
    auto starGroup = [this](const QString &title, QSpinBox *&x, QSpinBox *&y, const char *xName,
                            const char *yName) {
        auto *group = new QGroupBox(title, this);
        x = Spin(group, xName, 0, 65535, 0);
        y = Spin(group, yName, 0, 65535, 0);
        auto *form = new QFormLayout(group);
        form->addRow(QStringLiteral("X:"), x);
        form->addRow(QStringLiteral("Y:"), y);
        return group;
    };
    QGroupBox *star1Group =
        starGroup(QStringLiteral("Stacking star 1:"), Stack_X1, Stack_Y1, "Stack_X1", "Stack_Y1");
    QGroupBox *star2Group =
        starGroup(QStringLiteral("Stacking star 2:"), Stack_X2, Stack_Y2, "Stack_X2", "Stack_Y2");

    ScaleCorrection = Named(new QCheckBox(QStringLiteral("Apply scale correction"), this), "ScaleCorrection");
    ScaleCorrection->setToolTip(
        QStringLiteral("Only select this if there are no nonlinear chromatic distortions"));
    nudge_x = Named(new QLineEdit(QStringLiteral("0.250"), this), "nudge_x");
    nudge_y = Named(new QLineEdit(QStringLiteral("0.25"), this), "nudge_y");
    StackBtn = Named(new QPushButton(QStringLiteral("1. Initial stack and trim"), this), "StackBtn");
    StackBtn->setToolTip(QStringLiteral(
        "Stacks and trims images applying rotation and shift (OK for images with no chromatic distortions)"));
    CloseBtn = Named(new QPushButton(QStringLiteral("Close"), this), "CloseBtn");

    // The distortion model is not part of this window's work: its controls are shown but stay off.
    ChromaticGroup =
        Named(new QGroupBox(QStringLiteral("Chromatic distortion correction"), this), "ChromaticGroup");
    auto *chromatic = new QFormLayout(ChromaticGroup);
    chromatic->addRow(QStringLiteral("Reference channel:"),
                      Spin(ChromaticGroup, "ReferenceChannel", 1, 5, 2));
    chromatic->addRow(QStringLiteral("Star lower threshold:"),
                      Spin(ChromaticGroup, "StarLowerThreshold", 0, 65535, 150, 1000));
    chromatic->addRow(QStringLiteral("Star upper threshold:"),
                      Spin(ChromaticGroup, "StarUpperThreshold", 0, 65535, 1500, 1000));
    chromatic->addRow(Named(new QPushButton(QStringLiteral("2. Preview star selection"), ChromaticGroup),
                            "PreviewStarsBtn"));
    chromatic->addRow(Named(new QPushButton(QStringLiteral("3. Model chromatic distortion"), ChromaticGroup),
                            "ModelDistortionBtn"));
    ChromaticGroup->setEnabled(false);

    ScrollBox = Named(new QScrollArea(this), "ScrollBox");
    ScrollBox->setMinimumSize(480, 360);
    OpenGLPanel = Named(new TOpenGLPanel, "OpenGLPanel");
    OpenGLPanel->setMouseTracking(true);
    OpenGLPanel->resize(1, 1);
    ScrollBox->setWidget(OpenGLPanel);
    PopupMenu = Named(new QMenu(this), "PopupMenu");
    SetCroppingFrame = PopupMenu->addAction(QStringLiteral("Set cropping frame"));
    SetCroppingFrame->setObjectName(QStringLiteral("SetCroppingFrame"));
    SetReferenceStar1 = PopupMenu->addAction(QStringLiteral("Set reference star 1"));
    SetReferenceStar1->setObjectName(QStringLiteral("SetReferenceStar1"));
    SetReferenceStar2 = PopupMenu->addAction(QStringLiteral("Set reference star 2"));
    SetReferenceStar2->setObjectName(QStringLiteral("SetReferenceStar2"));
    StatusBar = Named(new QStatusBar(this), "StatusBar");
    StatusBar->setSizeGripEnabled(false);
    for (int i = 0; i < 2; ++i) {
        StatusPanels[i] = new QLabel(StatusBar);
        StatusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        StatusPanels[i]->setFixedWidth(i == 0 ? 300 : 50);
        StatusBar->addWidget(StatusPanels[i]);
    }

    auto *nudges = new QFormLayout;
    nudges->addRow(QStringLiteral("Nudge x:"), nudge_x);
    nudges->addRow(QStringLiteral("Nudge y:"), nudge_y);
    auto *left = new QVBoxLayout;
    left->addWidget(viewGroup);
    left->addWidget(TwoBoxesBtn);
    left->addWidget(SingleBoxBtn);
    auto *groups = new QHBoxLayout;
    groups->addWidget(cropGroup);
    groups->addWidget(star1Group);
    groups->addWidget(star2Group);
    left->addLayout(groups);
    left->addWidget(ScaleCorrection);
    left->addLayout(nudges);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(StackBtn);
    buttons->addWidget(CloseBtn);
    left->addLayout(buttons);
    left->addWidget(ChromaticGroup);
    left->addStretch(1);
    auto *columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addWidget(ScrollBox, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addWidget(StatusBar);

    using korvi::gui::Guarded;
    connect(channels, &QButtonGroup::idClicked, this, Guarded([this](int c) { ChannelClick(c); }));
    connect(StackBtn, &QPushButton::clicked, this, Guarded([this] { StackBtnClick(); }));
    connect(CloseBtn, &QPushButton::clicked, this, [this] { close(); });
    connect(SetCroppingFrame, &QAction::triggered, this, Guarded([this] { SetCroppingFrameClick(); }));
    connect(SetReferenceStar1, &QAction::triggered, this, Guarded([this] { SetReferenceStar1Click(); }));
    connect(SetReferenceStar2, &QAction::triggered, this, Guarded([this] { SetReferenceStar2Click(); }));
    connect(OpenGLPanel, &TOpenGLPanel::OnPaint, this, [this] { PanelPaint(); });
    connect(
        OpenGLPanel, &TOpenGLPanel::MouseDown, this,
        Guarded([this](Qt::MouseButton b, int x, int y, Qt::KeyboardModifiers) { PanelMouseDown(b, x, y); }));
    connect(OpenGLPanel, &TOpenGLPanel::MouseMove, this,
            Guarded([this](int x, int y, Qt::MouseButtons) { PanelMouseMove(x, y); }));
    connect(OpenGLPanel, &TOpenGLPanel::MouseUp, this,
            Guarded([this](Qt::MouseButton b, int x, int y) { PanelMouseUp(b, x, y); }));
}

TAlignF::~TAlignF()
{
    if (AlignF == this)
        AlignF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TAlignF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    korvi::gui::RunGuarded([this] { FormShow(); });
}

void TAlignF::closeEvent(QCloseEvent *event)
{
    korvi::gui::RunGuarded([this] { FormClose(); });
    QWidget::closeEvent(event);
}

void TAlignF::FormShow()
{
    ChannelButtons[0]->setChecked(true);
    ChannelIndex = 0;
    const ImageData &layer = Layers()[0];
    if (!layer.Empty) {
        CropXLO->setValue(0);
        CropXHI->setValue(layer.Width - 1);
        CropYLO->setValue(0);
        CropYHI->setValue(layer.Height - 1);
        ViewCopy.Assign(layer);
        ViewCopy.Zoom = 1.0f;
    } else {
        ViewCopy.Free();
    }
    ShowStars();
    RebuildView();
}

void TAlignF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}

void TAlignF::ChannelClick(int channel)
{
    const ImageData &layer = Layers()[channel];
    if (layer.Empty) { // nothing to view: the checked button stays with the channel shown
        ChannelButtons[ChannelIndex]->setChecked(true);
        return;
    }
    ChannelIndex = channel;
    ViewCopy.Assign(layer);
    ViewCopy.Zoom = 1.0f;
    RebuildView();
    ShowStars();
}

void TAlignF::ShowStars()
{
    Stack_X1->setValue(x1[ChannelIndex]);
    Stack_Y1->setValue(y1[ChannelIndex]);
    Stack_X2->setValue(x2[ChannelIndex]);
    Stack_Y2->setValue(y2[ChannelIndex]);
}

void TAlignF::SetStatus(const QString &text)
{
    StatusPanels[0]->setText(text);
    StatusPanels[0]->repaint();
}

void TAlignF::RebuildView()
{
    if (ViewCopy.Empty) {
        view_->SetPixels(nullptr, 0, 0);
        panelWidth_ = panelHeight_ = 1;
        OpenGLPanel->resize(1, 1);
        OpenGLPanel->update();
        return;
    }
    if (ViewCopy.Gain != mapScale_ || ViewCopy.DisplayOffset != mapOffset_ || ViewCopy.Palette.Dirty) {
        view_->SetPaletteMaps(ViewCopy.Palette.FloatTable[0].data(), ViewCopy.Palette.FloatTable[1].data(),
                              ViewCopy.Palette.FloatTable[2].data(), ViewCopy.DisplayOffset, ViewCopy.Gain);
        mapScale_ = ViewCopy.Gain;
        mapOffset_ = ViewCopy.DisplayOffset;
        ViewCopy.Palette.Dirty = 0;
    }
    view_->SetPixels(ViewCopy.FramePixels(0), ViewCopy.Width, ViewCopy.Height);
    const int w = std::max(1, static_cast<int>(ViewCopy.Width * ViewCopy.Zoom));
    const int h = std::max(1, static_cast<int>(ViewCopy.Height * ViewCopy.Zoom));
    if (w != panelWidth_ || h != panelHeight_) {
        panelWidth_ = w;
        panelHeight_ = h;
        OpenGLPanel->resize(w, h);
    }
    OpenGLPanel->update();
}

void TAlignF::PanelPaint()
{
    QOpenGLFunctions_1_1 *gl = OpenGLPanel->GL();
    const int w = OpenGLPanel->width(), h = OpenGLPanel->height();
    const double dpr = OpenGLPanel->devicePixelRatioF();
    gl->glViewport(0, 0, static_cast<int>(w * dpr), static_cast<int>(h * dpr));
    gl->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT);
    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadIdentity();
    gl->glOrtho(0, w, 0, h, -1, 1);
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glLoadIdentity();
    if (!ViewCopy.Empty) {
        gl->glRasterPos2i(0, 0);
        gl->glPixelZoom(static_cast<float>(ViewCopy.Zoom * dpr), static_cast<float>(ViewCopy.Zoom * dpr));
        view_->Draw(gl);
    }
    if (dragging_) {
        DrawSelectionBox(gl, float(pressX_), float(h - pressY_), float(currentX_), float(h - currentY_));
    }
    gl->glFlush();
}

void TAlignF::PanelMouseDown(Qt::MouseButton button, int x, int y)
{
    if (button == Qt::LeftButton) {
        dragging_ = true;
        pressX_ = currentX_ = x;
        pressY_ = currentY_ = y;
    } else if (button == Qt::RightButton) {
        PopupMenu->popup(OpenGLPanel->mapToGlobal(QPoint(x, y)));
    }
}

void TAlignF::PanelMouseMove(int x, int y)
{
    if (dragging_) {
        currentX_ = x;
        currentY_ = y;
        OpenGLPanel->update();
    }
    if (ViewCopy.Empty)
        return;
    const int ix = ImageXOf(x, ViewCopy.Width, OpenGLPanel->width());
    const int iy = ImageYOf(y, ViewCopy.Height, OpenGLPanel->height());
    QString text = QStringLiteral("X=%1, Y=%2").arg(ix).arg(iy);
    if (ix >= 0 && ix < ViewCopy.Width && iy >= 0 && iy < ViewCopy.Height) {
        text += QStringLiteral(", Value: %1").arg(ViewCopy.FrameRow(0, iy)[ix]);
        // Only a pixel of the image can become a reference star.
        PointX = ix;
        PointY = iy;
    } else {
        text += QStringLiteral(", Excluded pixel.");
    }
    StatusPanels[0]->setText(text);
}

void TAlignF::PanelMouseUp(Qt::MouseButton button, int x, int y)
{
    if (button != Qt::LeftButton || !dragging_)
        return;
    dragging_ = false;
    OpenGLPanel->update();
    if (ViewCopy.Empty)
        return;
    const SelectionResult result =
        FinishSelection(ViewCopy.Width, ViewCopy.Height, pressX_, pressY_, x, y, OpenGLPanel->width(),
                        OpenGLPanel->height(), ViewCopy.Zoom, false);
    ViewCopy.SelectionShown = result.shown;
    if (result.shown) {
        ViewCopy.SelX0 = result.selection.x0;
        ViewCopy.SelY0 = result.selection.y0;
        ViewCopy.SelX1 = result.selection.x1;
        ViewCopy.SelY1 = result.selection.y1;
    }
}

void TAlignF::SetCroppingFrameClick()
{
    if (ViewCopy.Empty || !ViewCopy.SelectionShown)
        return;
    const ImageSelection s = ClampedSelection(ViewCopy);
    CropXLO->setValue(s.x0);
    CropXHI->setValue(s.x1);
    CropYLO->setValue(s.y0);
    CropYHI->setValue(s.y1);
}

void TAlignF::SetReferenceStar1Click()
{
    Stack_X1->setValue(PointX);
    Stack_Y1->setValue(PointY);
    x1[ChannelIndex] = PointX;
    y1[ChannelIndex] = PointY;
}

void TAlignF::SetReferenceStar2Click()
{
    Stack_X2->setValue(PointX);
    Stack_Y2->setValue(PointY);
    x2[ChannelIndex] = PointX;
    y2[ChannelIndex] = PointY;
}

void TAlignF::StackBtnClick()
{
    AlignmentOptions options;
    options.NudgeX = static_cast<float>(ParseNumber(nudge_x->text().toStdString()));
    options.NudgeY = static_cast<float>(ParseNumber(nudge_y->text().toStdString()));
    for (int c = 0; c < AlignmentChannels; ++c)
        options.Stars[c] = {x1[c], y1[c], x2[c], y2[c]};
    options.Crop = {CropXLO->value(), CropXHI->value(), CropYLO->value(), CropYHI->value()};
    options.TwoStars = TwoBoxesBtn->isChecked();
    options.ScaleCorrection = ScaleCorrection->isChecked();
    std::string problem;
    // Measured first: a refusal changes nothing, not even the editor's Undo of earlier work.
    std::array<ChannelAlignment, AlignmentChannels> placements;
    const AlignmentOutcome check = MeasureAlignment(Layers(), options, placements, problem);
    if (check == AlignmentOutcome::TooFewLayers)
        return;
    if (check == AlignmentOutcome::Refused) {
        korvi::gui::ShowMessage(QString::fromStdString(problem), QStringLiteral("Korvi"));
        return;
    }
    // The crop replaces every layer: the editor's Undo brings them back.
    ProcessingTargetOwner *editor = FindTargetOwner(EditCompositeLayer);
    if (editor)
        editor->BackUpForUndo(EditCompositeLayer);
    const AlignmentOutcome outcome = AlignLayers(
        Layers(), options,
        [this](int channel, int percent) {
            SetStatus(QStringLiteral("Processing channel %1: %2%").arg(channel).arg(percent));
        },
        problem);
    if (outcome == AlignmentOutcome::TooFewLayers)
        return;
    if (outcome == AlignmentOutcome::Refused) {
        korvi::gui::ShowMessage(QString::fromStdString(problem), QStringLiteral("Korvi"));
        return;
    }
    if (editor)
        editor->ProcessingApplied(EditCompositeLayer, QStringLiteral("&Undo filter"), false);
    if (MainF)
        if (QWidget *window = MainF->ProgramWindow("TCompositeF"))
            QMetaObject::invokeMethod(window, "RedrawComposite");
    // The view follows its channel into the cropping frame.
    ViewCopy.Assign(Layers()[ChannelIndex]);
    ViewCopy.Zoom = 1.0f;
    RebuildView();
    SetStatus(QStringLiteral("Done."));
}
