// TCompositeF: construction, layout, the intensity and bias sliders, the view selection and the
// refresh of the controls from the composite.
#include "composite/composite_editor.h"

#include "composite/cf_settings.h"
#include "file_names.h"
#include "gui_runtime.h"
#include "main_window.h"
#include "opengl_panel.h"
#include "settings.h"
#include "text_format.h"
#include "view_cursors.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

TCompositeF *CompositeF = nullptr;

namespace
{

constexpr double IntensityDecades = 3.301;
constexpr double BiasDecades = 4.8164733;

int LogPosition(double value, double decades)
{
    // 0 (or a bias below 0, which has no logarithm either) sits at position 1; the bar holds
    // 0..100, so values outside its span stop at its ends.
    if (!(value > 0.0))
        return 1;
    const double position = std::trunc(std::log10(value) * 100.0 / decades);
    return static_cast<int>(std::clamp(position, 0.0, 100.0));
}

template <typename W> W *Named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

int TCompositeF::IntensityPosition(double value)
{
    return LogPosition(value, IntensityDecades);
}

int TCompositeF::BiasPosition(double value)
{
    return LogPosition(value, BiasDecades);
}

double TCompositeF::IntensityOf(int position)
{
    return std::pow(10.0, position * 0.01 * IntensityDecades);
}

double TCompositeF::BiasOf(int position)
{
    return std::pow(10.0, position * 0.01 * BiasDecades);
}

TCompositeF::TCompositeF(QWidget *parent)
    : QWidget(parent, Qt::Window), SightCursor(korvi::gui::MakeSightCursor()),
      ZoomInCursor(korvi::gui::MakeZoomInCursor()), ZoomOutCursor(korvi::gui::MakeZoomOutCursor())
{
    setObjectName(QStringLiteral("CompositeF"));
    setWindowTitle(QStringLiteral("Composite editor"));
    CFSettings &settings = CompositeEditorSettings();
    if (MainF) {
        const std::string path = MainF->ProgramDirectory() + "Settings/CompositeForm.dat";
        // Without a default file the constructor's values stay.
        if (QFile::exists(QString::fromStdString(path)))
            settings.LoadFromFile(path);
    }
    settings.View = 0;
    settings.CurrentLayer = 0;
    settings.PreviousView = 0;
    for (PPalette &palette : settings.LayerPalettes)
        palette.BuildTables(true, true, true);

    BuildActions();
    BuildMenus();
    if (MainF)
        connect(MainF, &TMainF::UndoChanged, this, [this] { UndoRecordChanged(); });
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(MainMenu);
    layout->addWidget(ToolBar);
    auto *body = new QHBoxLayout;
    body->addWidget(BuildLeftPanel());
    body->addWidget(BuildView(), 1);
    layout->addLayout(body, 1);
    auto *status = new QHBoxLayout;
    const int widths[] = {150, 150, 200};
    for (int i = 0; i < 3; ++i) {
        StatusPanels[i] = new QLabel(this);
        StatusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        StatusPanels[i]->setMinimumWidth(widths[i]);
        StatusPanels[i]->setFrameShape(QFrame::Panel);
        StatusPanels[i]->setFrameShadow(QFrame::Sunken);
        status->addWidget(StatusPanels[i], i == 2 ? 1 : 0);
    }
    layout->addLayout(status);

    // (0, 0) is the record's own default, no place the observer chose: the window is then placed
    // over the main window when first shown, clear of its menu bar.
    if (settings.Left != 0 || settings.Top != 0)
        move(settings.Left, settings.Top);
    // Wide enough for every tool-bar button: none hides in the overflow menu at the start.
    resize(std::max(settings.Width, ToolBar->sizeHint().width()), settings.Height);
    // Maximised only when it was left so: over the main window it hides everything else.
    if (settings.Maximized)
        setWindowState(Qt::WindowMaximized);
    SetItems(QStringLiteral("&Undo"), false, QStringLiteral("&Redo"), false);
    Composite().IsNew = true;
}

TCompositeF::~TCompositeF()
{
    if (CompositeF == this)
        CompositeF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TCompositeF::BuildActions()
{
    ToolBar = Named(new QToolBar(this), "ToolBar");
    auto add = [this](const char *name, const QString &text, auto handler) {
        QAction *action = ToolBar->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, korvi::gui::Guarded(handler));
        return action;
    };
    RotateLayerCCW = add("RotateLayerCCW", QStringLiteral("Rotate CCW"), [this] { RotateLayer(+1); });
    RotateLayerCW = add("RotateLayerCW", QStringLiteral("Rotate CW"), [this] { RotateLayer(-1); });
    ShiftLayerDown = add("ShiftLayerDown", QStringLiteral("Down"),
                         [this] { ShiftLayer(0.0f, -CompositeEditorSettings().YShiftStep); });
    ShiftLayerUp = add("ShiftLayerUp", QStringLiteral("Up"),
                       [this] { ShiftLayer(0.0f, CompositeEditorSettings().YShiftStep); });
    ShiftLayerLeft = add("ShiftLayerLeft", QStringLiteral("Left"),
                         [this] { ShiftLayer(-CompositeEditorSettings().XShiftStep, 0.0f); });
    ShiftLayerRight = add("ShiftLayerRight", QStringLiteral("Right"),
                          [this] { ShiftLayer(CompositeEditorSettings().XShiftStep, 0.0f); });
    ToolBar->addSeparator();
    Repaint = add("Repaint", QStringLiteral("Repaint"), [this] { RedrawComposite(); });
    ZoomIn = add("ZoomIn", QStringLiteral("Zoom in"), [this] { ZoomInExecute(); });
    ZoomOut = add("ZoomOut", QStringLiteral("Zoom out"), [this] { ZoomOutExecute(); });
    Zoom1 = add("Zoom1", QStringLiteral("1:1"), [this] { Zoom1Execute(); });
    ZoomFit = add("ZoomFit", QStringLiteral("Fit"), [this] { ZoomFitExecute(); });
    ShowStats = add("ShowStats", QStringLiteral("Statistics"), [this] { StatisticsClick(); });
    EditPalette = add("EditPalette", QStringLiteral("Palette"), [this] { PaletteForCurrentClick(); });
    ToolBar->addSeparator();
    const char *names[] = {"Layer1Select", "Layer2Select", "Layer3Select", "Layer4Select", "Layer5Select"};
    for (int i = 0; i < CompositeLayers; ++i)
        LayerSelect[i] = add(names[i], QStringLiteral("Layer %1").arg(i + 1), [this, i] { SelectView(i); });
    CompositeSelect =
        add("CompositeSelect", QStringLiteral("Composite"), [this] { SelectView(CompositeView); });
}

void TCompositeF::BuildMenus()
{
    MainMenu = Named(new QMenuBar(this), "MainMenu");
    auto item = [this](QMenu *menu, const char *name, const QString &text, auto handler) {
        QAction *action = menu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, korvi::gui::Guarded(handler));
        return action;
    };
    QMenu *file = MainMenu->addMenu(QStringLiteral("&File"));
    LoadSingleImage1 = item(file, "LoadSingleImage1", QStringLiteral("&Load single image"),
                            [this] { LoadSingleImageClick(); });
    LoadComposite1 = item(file, "LoadComposite1", QStringLiteral("Load &composite image"),
                          [this] { LoadCompositeClick(); });
    SaveComposite1 = item(file, "SaveComposite1", QStringLiteral("&Save composite image"), [this] {
        SaveCompositeClick(QStringLiteral("Save composite (linked data)"),
                           CurrentSettings().LastSaveDirectory[0]);
    });
    NewComposite1 =
        item(file, "NewComposite1", QStringLiteral("&New composite"), [this] { NewCompositeClick(); });
    file->addSeparator();
    SaveSingleImage1 = item(file, "SaveSingleImage1", QStringLiteral("Save single &image"),
                            [this] { SaveSingleImageClick(); });
    SaveBitmap1 =
        item(file, "SaveBitmap1", QStringLiteral("Save image as &bitmap"), [this] { SaveBitmapClick(); });
    file->addSeparator();
    SaveSettingsAs1 = item(file, "SaveSettingsAs1", QStringLiteral("Save settings as..."),
                           [this] { SaveSettingsAsClick(); });
    LoadSettings1 =
        item(file, "LoadSettings1", QStringLiteral("Load settings..."), [this] { LoadSettingsClick(); });
    SaveSettingsDefault1 = item(file, "SaveSettingsDefault1", QStringLiteral("Save settings as default"),
                                [this] { SaveSettingsDefaultClick(); });
    file->addSeparator();
    Exit1 = item(file, "Exit1", QStringLiteral("&Exit"), [this] { ExitClick(); });

    QMenu *edit = MainMenu->addMenu(QStringLiteral("&Edit"));
    Undo1 = item(edit, "Undo1", QStringLiteral("&Undo"), [this] { UndoClick(); });
    Redo1 = item(edit, "Redo1", QStringLiteral("&Redo"), [this] { RedoClick(); });
    edit->addSeparator();
    TrimToSelectedRegion1 = item(edit, "TrimToSelectedRegion1", QStringLiteral("&Trim to selected region"),
                                 [this] { TrimToSelectedRegionClick(); });
    TrimCustom1 = item(edit, "TrimCustom1", QStringLiteral("Trim &custom..."), [this] { TrimCustomClick(); });

    QMenu *filters = MainMenu->addMenu(QStringLiteral("F&ilters"));
    struct Operation {
        const char *name;
        const char *caption;
        int code;
        const char *className;
    };
    static const Operation operations[] = {
        {"Convolution1", "&Convolution filters...", 1, "TFilterF"},
        {"Gaussian1", "&Gaussian cross-convolution...", 2, "TFilterF"},
        {"LocalAverage1", "&Local average...", 4, "TFilterF"},
        {"Median1", "&Median filter...", 5, "TFilterF"},
        {"MinMax1", "Minimal/Maximal filter...", 10, "TFilterF"},
        {"Unsharp1", "&Unsharp mask...", 6, "TFilterF"},
        {"SkyModel1", "&Sky model...", 13, "TFilterF"},
        {"Threshold1", "&Threshold...", 14, "TFilterF"},
    };
    for (const Operation &op : operations)
        item(filters, op.name, QString::fromLatin1(op.caption),
             [this, op] { ProcessingItemClick(op.code, op.className); });
    QMenu *equalization = filters->addMenu(QStringLiteral("Histogram equalization"));
    Quick1 = item(equalization, "Quick1", QStringLiteral("Quick"), [this] { QuickClick(); });
    Custom1 = item(equalization, "Custom1", QStringLiteral("Custom..."),
                   [this] { ProcessingItemClick(-1, "TEqualizeF"); });
    Fourier1 = item(filters, "Fourier1", QStringLiteral("Fourier high/low pass..."),
                    [this] { ProcessingItemClick(-1, "TFourierF"); });
    RemoveBloom1 = item(filters, "RemoveBloom1", QStringLiteral("Remove bloom..."),
                        [this] { ProcessingItemClick(17, "TBloomRemovalF"); });
    filters->addSeparator();
    AlignImages1 =
        item(filters, "AlignImages1", QStringLiteral("Align images..."), [this] { AlignImagesClick(); });
    Statistics1 = item(filters, "Statistics1", QStringLiteral("&Statistics for selected"),
                       [this] { StatisticsClick(); });

    QMenu *palettes = MainMenu->addMenu(QStringLiteral("&Palettes"));
    PaletteForCurrent1 = item(palettes, "PaletteForCurrent1", QStringLiteral("Palette for current image..."),
                              [this] { PaletteForCurrentClick(); });
    DefaultPalette1 =
        item(palettes, "DefaultPalette1", QStringLiteral("Default palette for current layer..."),
             [this] { DefaultPaletteClick(); });
    EditPalette1 = item(palettes, "EditPalette1", QStringLiteral("Edit &palette"), [this] {
        if (CurrentLayerImage())
            PaletteForCurrentClick();
    });

    QMenu *help = MainMenu->addMenu(QStringLiteral("&Help"));
    Handbook1 = item(help, "Handbook1", QStringLiteral("&Handbook..."), [] {
        if (MainF)
            MainF->HandbookClick();
    });
    About1 = item(help, "About1", QStringLiteral("&About"), [] {
        if (MainF)
            MainF->ShowProgramWindow("TAboutF");
    });

    PopupMenu = Named(new QMenu(this), "PopupMenu");
    LoadNewImage1 = item(PopupMenu, "LoadNewImage1", QStringLiteral("&Load new image"),
                         [this] { LoadSingleImageClick(); });
    TrimToSelected1 = item(PopupMenu, "TrimToSelected1", QStringLiteral("&Trim to selected"),
                           [this] { TrimToSelectedClick(); });
    SelectAreaInBox1 = item(PopupMenu, "SelectAreaInBox1", QStringLiteral("Select &area in box"),
                            [this] { SelectAreaInBoxClick(); });
}

QWidget *TCompositeF::BuildLeftPanel()
{
    auto *panel = new QWidget(this);
    auto *layout = new QHBoxLayout(panel);
    PalBar = Named(new QLabel(panel), "PalBar");
    PalBar->setFixedSize(24, 256);
    layout->addWidget(PalBar, 0, Qt::AlignTop);
    auto *column = new QVBoxLayout;
    PageControl = Named(new QTabWidget(panel), "PageControl");
    PageControl->addTab(BuildSliderPage(), QStringLiteral("Intensity and bias sliders"));
    PageControl->addTab(BuildSettingsPage(), QStringLiteral("Composite settings"));
    PageControl->addTab(BuildTransformPage(), QStringLiteral("Local transformations"));
    // The panel is as wide as its three captions need: none is cut or hidden behind scroll arrows.
    PageControl->tabBar()->setUsesScrollButtons(false);
    PageControl->tabBar()->setElideMode(Qt::ElideNone);
    column->addWidget(PageControl);
    auto *box = Named(new QGroupBox(QStringLiteral("Actions are applied to layer:"), panel), "LayerBox");
    auto *boxLayout = new QVBoxLayout(box);
    auto *buttons = new QHBoxLayout;
    auto *group = new QButtonGroup(box);
    for (int i = 0; i < CompositeLayers; ++i) {
        LayerBtn[i] = new QRadioButton(QString::number(i + 1), box);
        LayerBtn[i]->setObjectName(QStringLiteral("LayerBtn%1").arg(i + 1));
        group->addButton(LayerBtn[i]);
        buttons->addWidget(LayerBtn[i]);
        connect(LayerBtn[i], &QRadioButton::clicked, this,
                korvi::gui::Guarded([this, i] { LayerBtnClick(i); }));
    }
    boxLayout->addLayout(buttons);
    ImageName = Named(new QLabel(QStringLiteral("Image: not loaded."), box), "ImageName");
    boxLayout->addWidget(ImageName);
    column->addWidget(box);
    column->addStretch(1);
    layout->addLayout(column);
    return panel;
}

QWidget *TCompositeF::BuildSliderPage()
{
    auto *page = Named(new QWidget, "SliderPage");
    auto *layout = new QGridLayout(page);
    for (int i = 0; i <= CompositeLayers; ++i) {
        auto *slider = new QSlider(Qt::Vertical, page);
        slider->setRange(0, 100);
        slider->installEventFilter(this);
        QLabel *label = new QLabel(
            i < CompositeLayers ? QStringLiteral("Layer %1").arg(i + 1) : QStringLiteral("All layers"), page);
        if (i < CompositeLayers) {
            slider->setObjectName(QStringLiteral("Layer%1TrackBar").arg(i + 1));
            LayerTrackBar[i] = slider;
        } else {
            slider->setObjectName(QStringLiteral("AllLayerTrackBar"));
            AllLayerTrackBar = slider;
            AllLayerLabel = label;
        }
        layout->addWidget(slider, 0, i, Qt::AlignHCenter);
        layout->addWidget(label, 1, i, Qt::AlignHCenter);
        connect(slider, &QSlider::valueChanged, this,
                korvi::gui::Guarded([this, i](int position) { LayerTrackBarChange(i, position); }));
    }
    IntensityBtn = Named(new QRadioButton(QStringLiteral("Intensity"), page), "IntensityBtn");
    BiasBtn = Named(new QRadioButton(QStringLiteral("Bias"), page), "BiasBtn");
    IntensityBtn->setChecked(true);
    layout->addWidget(IntensityBtn, 2, 0, 1, 3);
    layout->addWidget(BiasBtn, 2, 3, 1, 3);
    connect(IntensityBtn, &QRadioButton::clicked, this,
            korvi::gui::Guarded([this] { IntensityBiasClick(); }));
    connect(BiasBtn, &QRadioButton::clicked, this, korvi::gui::Guarded([this] { IntensityBiasClick(); }));
    layout->addWidget(new QLabel(QStringLiteral("Value:"), page), 3, 0, 1, 2);
    IntBiasValue = Named(new QLineEdit(page), "IntBiasValue");
    layout->addWidget(IntBiasValue, 3, 2, 1, 4);
    connect(IntBiasValue, &QLineEdit::textChanged, this,
            korvi::gui::Guarded([this] { IntBiasValueChange(); }));
    AutoRepaint = Named(new QCheckBox(QStringLiteral("Auto repaint"), page), "AutoRepaint");
    AutoRepaint->setChecked(true);
    layout->addWidget(AutoRepaint, 4, 0, 1, 3);
    RepaintBtn = Named(new QPushButton(QStringLiteral("Repaint"), page), "RepaintBtn");
    layout->addWidget(RepaintBtn, 4, 3, 1, 3);
    connect(RepaintBtn, &QPushButton::clicked, this, korvi::gui::Guarded([this] { RedrawComposite(); }));
    return page;
}

QWidget *TCompositeF::BuildSettingsPage()
{
    auto *page = Named(new QWidget, "SettingsPage");
    auto *layout = new QVBoxLayout(page);
    LuminanceMode =
        Named(new QRadioButton(QStringLiteral("Luminance mode (e.g. LRGB)"), page), "LuminanceMode");
    AdditiveMode = Named(new QRadioButton(QStringLiteral("Additive mode (e.g. RGB)"), page), "AdditiveMode");
    LuminanceMode->setChecked(true);
    layout->addWidget(LuminanceMode);
    layout->addWidget(AdditiveMode);
    connect(LuminanceMode, &QRadioButton::clicked, this, korvi::gui::Guarded([this] { ModeClick(); }));
    connect(AdditiveMode, &QRadioButton::clicked, this, korvi::gui::Guarded([this] { ModeClick(); }));
    for (int i = 0; i < CompositeLayers; ++i) {
        UseImage[i] = new QCheckBox(QStringLiteral("Use image %1 in composite").arg(i + 1), page);
        UseImage[i]->setObjectName(QStringLiteral("UseImage%1").arg(i + 1));
        layout->addWidget(UseImage[i]);
        connect(UseImage[i], &QCheckBox::clicked, this, korvi::gui::Guarded([this, i] { UseImageClick(i); }));
    }
    layout->addStretch(1);
    return page;
}

QWidget *TCompositeF::BuildTransformPage()
{
    auto *page = Named(new QWidget, "TransformPage");
    auto *layout = new QGridLayout(page);
    auto edit = [page](const char *name, const char *text) {
        auto *line = new QLineEdit(QString::fromLatin1(text), page);
        line->setObjectName(QString::fromLatin1(name));
        return line;
    };
    x_shift = edit("x_shift", "0.0");
    y_shift = edit("y_shift", "0.0");
    rotation = edit("rotation", "0.0");
    x_scale = edit("x_scale", "1.0000");
    y_scale = edit("y_scale", "1.0000");
    const std::pair<const char *, QLineEdit *> rows[] = {{"X shift:", x_shift},
                                                         {"Y shift:", y_shift},
                                                         {"Rotation (degrees):", rotation},
                                                         {"X scale:", x_scale},
                                                         {"Y scale:", y_scale}};
    int row = 0;
    for (const auto &[label, line] : rows) {
        layout->addWidget(new QLabel(QString::fromLatin1(label), page), row, 0);
        layout->addWidget(line, row++, 1);
    }
    connect(x_scale, &QLineEdit::textEdited, this, korvi::gui::Guarded([this] { ScaleEdited(x_scale); }));
    connect(y_scale, &QLineEdit::textEdited, this, korvi::gui::Guarded([this] { ScaleEdited(y_scale); }));
    UniformScale = Named(new QCheckBox(QStringLiteral("Uniform scale"), page), "UniformScale");
    UniformScale->setChecked(true);
    layout->addWidget(UniformScale, row++, 0, 1, 2);
    PreviewBtn = Named(new QPushButton(QStringLiteral("Preview"), page), "PreviewBtn");
    ApplyBtn = Named(new QPushButton(QStringLiteral("Apply"), page), "ApplyBtn");
    ClearAllBtn = Named(new QPushButton(QStringLiteral("Clear all"), page), "ClearAllBtn");
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(PreviewBtn);
    buttons->addWidget(ApplyBtn);
    buttons->addWidget(ClearAllBtn);
    layout->addLayout(buttons, row++, 0, 1, 2);
    connect(PreviewBtn, &QPushButton::clicked, this, korvi::gui::Guarded([this] { PreviewBtnClick(); }));
    connect(ApplyBtn, &QPushButton::clicked, this, korvi::gui::Guarded([this] { ApplyBtnClick(); }));
    connect(ClearAllBtn, &QPushButton::clicked, this, korvi::gui::Guarded([this] { ClearAllBtnClick(); }));

    auto *region = Named(new QGroupBox(QStringLiteral("Selected region to transform"), page), "RegionBox");
    auto *regionLayout = new QGridLayout(region);
    auto spin = [region](const char *name) {
        auto *box = new QSpinBox(region);
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(0, 65535);
        return box;
    };
    XLO = spin("XLO");
    XHI = spin("XHI");
    YLO = spin("YLO");
    YHI = spin("YHI");
    regionLayout->addWidget(new QLabel(QStringLiteral("X:"), region), 0, 0);
    regionLayout->addWidget(XLO, 0, 1);
    regionLayout->addWidget(XHI, 0, 2);
    regionLayout->addWidget(new QLabel(QStringLiteral("Y:"), region), 1, 0);
    regionLayout->addWidget(YLO, 1, 1);
    regionLayout->addWidget(YHI, 1, 2);
    SelectFullRasterBtn =
        Named(new QPushButton(QStringLiteral("Select full raster"), region), "SelectFullRasterBtn");
    regionLayout->addWidget(SelectFullRasterBtn, 2, 0, 1, 3);
    connect(SelectFullRasterBtn, &QPushButton::clicked, this,
            korvi::gui::Guarded([this] { SelectFullRasterBtnClick(); }));
    layout->addWidget(region, row++, 0, 1, 2);

    auto *centre = Named(new QGroupBox(QStringLiteral("Rotation center"), page), "CentreBox");
    auto *centreLayout = new QGridLayout(centre);
    static const char *const hints[] = {"Top left corner",    "Top middle",    "Top right corner",
                                        "Middle left",        "Center",        "Middle right",
                                        "Bottom left corner", "Bottom middle", "Bottom right corner"};
    for (int i = 0; i < 9; ++i) {
        CentreBtn[i] = new QRadioButton(centre);
        CentreBtn[i]->setObjectName(QStringLiteral("CentreBtn%1").arg(i + 1));
        CentreBtn[i]->setToolTip(QString::fromLatin1(hints[i]));
        centreLayout->addWidget(CentreBtn[i], i / 3, i % 3);
    }
    CentreBtn[6]->setChecked(true);
    layout->addWidget(centre, row++, 0, 1, 2);
    layout->setRowStretch(row, 1);
    return page;
}

// ---------------------------------------------------------------------------------------------
// Showing, closing, resizing

void TCompositeF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    korvi::gui::RunGuarded([this] { FormShow(); });
}

void TCompositeF::FormShow()
{
    setEnabled(false);
    DrawPaletteBar(CompositeEditorSettings().CurrentLayer);
    UpdateLayerControls();
    CompositeEditorSettingsBackup() = CompositeEditorSettings();
    setEnabled(true);
}

void TCompositeF::closeEvent(QCloseEvent *event)
{
    if (MainF)
        MainF->RepaintRequest = true;
    QWidget::closeEvent(event);
}

void TCompositeF::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (!isEnabled())
        return;
    CFSettings &settings = CompositeEditorSettings();
    settings.Height = height();
    settings.Width = width();
    settings.Maximized = isMaximized();
    DrawPaletteBar(settings.CurrentLayer);
    UpdateScrollBars();
}

void TCompositeF::StoreGeometry()
{
    CFSettings &settings = CompositeEditorSettings();
    settings.Left = x();
    settings.Top = y();
    settings.Width = width();
    settings.Height = height();
    settings.Maximized = isMaximized();
}

bool TCompositeF::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        for (int i = 0; i <= CompositeLayers; ++i) {
            QSlider *slider = i < CompositeLayers ? LayerTrackBar[i] : AllLayerTrackBar;
            if (watched == slider)
                korvi::gui::RunGuarded([this, i] { TrackBarEnter(i); });
        }
    }
    if (watched == OpenGLPanel && event->type() == QEvent::Leave)
        OpenGLPanel->unsetCursor();
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Controls

void TCompositeF::SetItems(const QString &undo, bool undoOn, const QString &redo, bool redoOn)
{
    Undo1->setText(undo);
    Undo1->setEnabled(undoOn);
    Redo1->setText(redo);
    Redo1->setEnabled(redoOn);
}

ImageData *TCompositeF::CurrentLayerImage()
{
    const int layer = CompositeEditorSettings().CurrentLayer;
    if (layer < 0 || layer >= CompositeLayers || !Composite().LayerLoaded(layer))
        return nullptr;
    return &Composite().Layers[layer];
}

void TCompositeF::DrawPaletteBar(int layer)
{
    if (layer < 0 || layer >= CompositeLayers)
        return;
    const PPalette &palette = Composite().LayerLoaded(layer) ? Composite().Layers[layer].Palette
                                                             : CompositeEditorSettings().LayerPalettes[layer];
    const int w = PalBar->width(), h = PalBar->height();
    QImage bar(w, h, QImage::Format_RGB32);
    for (int r = 0; r < h; ++r) {
        const std::uint32_t c = palette.ColorAt(static_cast<int>(std::int64_t(r) * 65536 / h));
        const QRgb rgb = qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
        auto *line = reinterpret_cast<QRgb *>(bar.scanLine(h - 1 - r)); // level 0 at the bottom
        std::fill(line, line + w, rgb);
    }
    PalBar->setPixmap(QPixmap::fromImage(bar));
}

void TCompositeF::UpdateLayerControls()
{
    const bool wasUpdating = updating_;
    updating_ = true;
    CFSettings &settings = CompositeEditorSettings();
    CompositeImage &composite = Composite();
    const int current = settings.CurrentLayer;
    const int view = settings.View;
    if (view < CompositeView) {
        QString name = QString::fromStdString(composite.Layers[std::clamp(current, 0, 4)].FileName);
        if (name.size() > 60)
            name = name.left(60) + QStringLiteral("...");
        StatusPanels[2]->setText(QStringLiteral("Image: ") + name);
        const ImageData *layer = CurrentLayerImage();
        StatusPanels[1]->setText(QStringLiteral("Image layer %1: ").arg(view + 1) +
                                 (layer ? QStringLiteral(" (%1 x %2)").arg(layer->Width).arg(layer->Height)
                                        : QStringLiteral(" not loaded.")));
    } else {
        StatusPanels[2]->setText(QStringLiteral("Composite: ") + QString::fromStdString(composite.Name));
        const int reference = ReferenceLayer(composite, CompositeView);
        QString text = QStringLiteral("Composite Image");
        if (reference != NoLuminanceLayer)
            text += QStringLiteral(" (%1 x %2)")
                        .arg(composite.Layers[reference].Width)
                        .arg(composite.Layers[reference].Height);
        StatusPanels[1]->setText(text);
    }
    for (int i = 0; i < CompositeLayers; ++i) {
        const QSignalBlocker block(UseImage[i]);
        UseImage[i]->setChecked(composite.UseInComposite[i]);
    }
    LuminanceMode->setChecked(composite.BlendMode == BlendLuminance);
    AdditiveMode->setChecked(composite.BlendMode != BlendLuminance);
    const bool bias = BiasBtn->isChecked();
    for (int i = 0; i < CompositeLayers; ++i) {
        if (!composite.LayerLoaded(i))
            continue;
        const ImageData &layer = composite.Layers[i];
        const QSignalBlocker block(LayerTrackBar[i]);
        LayerTrackBar[i]->setValue(bias ? BiasPosition(layer.DisplayOffset + 0.01)
                                        : IntensityPosition(layer.Gain + 0.01));
    }
    {
        const QSignalBlocker block(AllLayerTrackBar);
        AllLayerTrackBar->setValue(IntensityPosition(composite.AllLayerIntensity + 0.01));
    }
    if (current >= 0 && current < CompositeLayers) {
        const ImageData *layer = CurrentLayerImage();
        ImageName->setText(layer ? QStringLiteral("Image: ") +
                                       QString::fromStdString(ExtractFileNamePart(layer->FileName))
                                 : QStringLiteral("Image: not loaded."));
        LayerBtn[current]->setChecked(true);
        if (layer) {
            if (layer->SelectionShown) {
                XLO->setValue(layer->SelX0);
                XHI->setValue(layer->SelX1);
                YLO->setValue(layer->SelY0);
                YHI->setValue(layer->SelY1);
            } else {
                XLO->setValue(0);
                XHI->setValue(layer->Width - 1);
                YLO->setValue(0);
                YHI->setValue(layer->Height - 1);
            }
        }
        DrawPaletteBar(current);
    }
    updating_ = wasUpdating;
}

void TCompositeF::ShowView(int view)
{
    CFSettings &settings = CompositeEditorSettings();
    settings.PreviousView = settings.View;
    settings.View = view;
    if (view < CompositeView && !Composite().LayerLoaded(view)) {
        UpdateLayerControls();
        LoadSingleImageClick();
        return;
    }
    DrawPaletteBar(settings.CurrentLayer);
    UpdateLayerControls();
    RedrawComposite();
}

void TCompositeF::SelectView(int view)
{
    if (view < CompositeView)
        CompositeEditorSettings().CurrentLayer = view;
    ShowView(view);
}

void TCompositeF::LayerBtnClick(int layer)
{
    CompositeEditorSettings().CurrentLayer = layer;
    UpdateLayerControls();
}

void TCompositeF::TrackBarEnter(int slider)
{
    CompositeEditorSettings().CurrentLayer = slider;
    UpdateLayerControls();
}

void TCompositeF::LayerTrackBarChange(int slider, int position)
{
    if (updating_)
        return; // the refresh moves the bars; only the user's moves write a value
    if (CompositeEditorSettings().CurrentLayer != slider)
        TrackBarEnter(slider);
    const double value = BiasBtn->isChecked() ? BiasOf(position) : IntensityOf(position);
    const char *picture = BiasBtn->isChecked() ? "####0.0" : "###0.000";
    sliderWriting_ = true;
    IntBiasValue->setText(
        QString::fromStdString(FormatFloat(picture, value, korvi::gui::DecimalSeparator())));
    sliderWriting_ = false;
}

void TCompositeF::IntBiasValueChange()
{
    if (updating_)
        return;
    CompositeImage &composite = Composite();
    const int layer = CompositeEditorSettings().CurrentLayer;
    const double value = ParseNumber(IntBiasValue->text().toStdString(), korvi::gui::DecimalSeparator());
    const bool bias = BiasBtn->isChecked();
    if (!bias) {
        if (layer == AllLayers) {
            composite.AllLayerIntensity = static_cast<float>(value);
            RedrawComposite();
        } else if (layer >= 0 && layer < CompositeLayers && composite.LayerLoaded(layer)) {
            composite.Layers[layer].Gain = static_cast<float>(value);
            if (AutoRepaint->isChecked())
                RedrawComposite();
        }
    } else if (layer >= 0 && layer < CompositeLayers && composite.LayerLoaded(layer)) {
        composite.Layers[layer].DisplayOffset = static_cast<float>(value);
        RedrawComposite();
    }
    // A value typed in moves its bar; a value written by the bar leaves it where it is.
    if (!sliderWriting_ && layer >= 0 && layer <= CompositeLayers) {
        QSlider *slider = layer < CompositeLayers ? LayerTrackBar[layer] : AllLayerTrackBar;
        const QSignalBlocker block(slider);
        slider->setValue(bias ? BiasPosition(value) : IntensityPosition(value));
    }
}

void TCompositeF::IntensityBiasClick()
{
    const bool bias = BiasBtn->isChecked();
    AllLayerTrackBar->setVisible(!bias);
    AllLayerTrackBar->setEnabled(!bias);
    AllLayerLabel->setVisible(!bias);
    UpdateLayerControls();
}

void TCompositeF::UseImageClick(int layer)
{
    Composite().UseInComposite[layer] = UseImage[layer]->isChecked();
    RedrawComposite();
}

void TCompositeF::ModeClick()
{
    Composite().BlendMode = LuminanceMode->isChecked() ? BlendLuminance : BlendAdditive;
    RedrawComposite();
}
