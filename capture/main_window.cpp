#include "main_window.h"

#include "active_window.h"
#include "default_data.h"
#include "edit_target.h"
#include "file_names.h"
#include "gui_runtime.h"
#include "image_file.h"
#include "image_window.h"
#include "opengl_panel.h"
#include "processing_target.h"
#include "progress_window.h"
#include "script_window.h"
#include "settings.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QPointer>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <filesystem>

TMainF *MainF = nullptr;
std::array<float, 65536> LogScaleTable{};

void BuildLogScaleTable(float *table)
{
    table[0] = 0.0f;
    for (int i = 1; i < 65536; ++i)
        table[i] = static_cast<float>(std::log10(static_cast<double>(i)));
}

namespace
{

std::string WithTrailingSlash(std::string directory)
{
    if (directory.empty())
        directory = "./";
    if (directory.back() != '/')
        directory += '/';
    return directory;
}

// The sizes of the "Maximum files open" items.
constexpr int MaximumFilesChoices[] = {1, 2, 3, 4, 5, 10, 20, 50};

// Makes the items checkable, one of them at a time (a tick moves from item to item).
QActionGroup *ExclusiveGroup(QObject *owner, std::initializer_list<QAction *> items)
{
    auto *group = new QActionGroup(owner);
    for (QAction *item : items) {
        item->setCheckable(true);
        group->addAction(item);
    }
    return group;
}

// Menu items that open the batch window on one of its pages.
struct BatchCommand {
    const char *name;
    const char *caption;
    const char *page;
};
constexpr BatchCommand BatchCommands[] = {
    {"SumImages1", "Sum images...", "Sum"},
    {"SubtractImages1", "Subtract two images...", "Subtract"},
    {"ProcessMultipleImages1", "Process multiple images...", "Filters/misc."},
    {"CreateDarkFlatFrame1", "Create dark/flat frame...", "Photometric frames"},
    {"PhotometricCorrections1", "Photometric corrections...", "Photometric frames"},
    {"RescaleImages1", "Rescale images...", "Scale size"},
};

// Turns the window's page control (the first QTabWidget in it) to the page titled `title`
// (mnemonic '&' ignored); a window without one, or without such a page, is left as it is.
void SelectPage(QWidget *window, const QString &title)
{
    auto *pages = window ? window->findChild<QTabWidget *>() : nullptr;
    if (!pages)
        return;
    for (int i = 0; i < pages->count(); ++i)
        if (QString(pages->tabText(i)).remove(QLatin1Char('&')) == title) {
            pages->setCurrentIndex(i);
            return;
        }
}

} // namespace

TMainF::TMainF(const std::string &programDirectory, const QStringList &arguments, QWidget *parent)
    : QMainWindow(parent), programDirectory_(WithTrailingSlash(programDirectory)), arguments_(arguments)
{
    MainF = this;
    setObjectName(QStringLiteral("MainF"));
    setWindowTitle(QStringLiteral("Korvi CCD Image Capture"));
    resize(1083, 768);

    // Run state starts cleared (the members' initialisers); the palette frame starts empty.
    BuildLogScaleTable(::LogScaleTable.data());

    // Settings: the file beside the program, or the defaults of a fresh installation. A file that
    // exists but cannot be read whole has been reported by the reader; the program then starts
    // from the defaults rather than from a half-read record.
    Settings &settings = CurrentSettings();
    const std::string settingsPath = programDirectory_ + DefaultSettingsFile;
    std::error_code ec;
    if (std::filesystem::exists(settingsPath, ec)) {
        if (!settings.LoadFromFile(settingsPath))
            settings = ProgramDefaultSettings();
    } else {
        settings = ProgramDefaultSettings();
    }
    settings.ProgramDirectory = programDirectory_;
    MakeFrameFolders();
    // Frames of a save that was killed part way (tens of megabytes each) go at start.
    for (int camera : {ImagingCamera, GuidingCamera})
        if (!settings.SaveFile[camera].empty())
            RemoveStaleTemporaryFiles(
                std::filesystem::path(FramePrefixPath(settings, camera)).parent_path().string());

    PaletteFrameBitmap.load(QString::fromStdString(programDirectory_ + FrameBitmapFile));

    BuildActions();
    BuildCentralArea();
    BuildMenus();
    BuildStatusBar();
    BuildSettingsPages();
    BuildAcquisitionControls();

    SysTimer = new QTimer(this);
    SysTimer->setObjectName(QStringLiteral("SysTimer"));
    SysTimer->setInterval(100);
    SysTimer->setSingleShot(true);
    connect(SysTimer, &QTimer::timeout, this, korvi::gui::Guarded([this] { SysTimerTimer(); }));

    korvi::gui::SetMessageParent(this);
    korvi::gui::SetProgressHandler([](const korvi::gui::ProgressEvent &event) {
        if (ProgressF)
            ProgressF->HandleProgress(event);
    });
}

TMainF::~TMainF()
{
    StopAcquisitionThread();
    // The script thread calls into this window: it must end while the window is whole.
    if (ScriptF)
        ScriptF->StopScriptThread();
    korvi::gui::SetProgressHandler(nullptr);
    korvi::gui::SetMessageParent(nullptr);
    if (MainF == this)
        MainF = nullptr;
    korvi::gui::DetachHandlers(this);
}

// ---------------------------------------------------------------------------------------------
// Construction of the controls

void TMainF::BuildActions()
{
    auto make = [this](const char *name, const QString &caption, const QString &hint) {
        auto *action = new QAction(caption, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setToolTip(hint);
        action->setStatusTip(hint);
        return action;
    };
    QStyle *style = QApplication::style();
    Open = make("Open", QStringLiteral("&Load Images..."), QStringLiteral("Open image"));
    Open->setIcon(style->standardIcon(QStyle::SP_DialogOpenButton));
    connect(Open, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { LoadImage1Click(); }));
    Save = make("Save", QStringLiteral("&Save Image"), QStringLiteral("Save image"));
    Save->setIcon(style->standardIcon(QStyle::SP_DialogSaveButton));
    connect(Save, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { Save1Click(); }));
    SaveAs = make("SaveAs1", QStringLiteral("Save Image &As..."), QString());
    connect(SaveAs, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { SaveAsClick(); }));
    CloseImage = make("Close1", QStringLiteral("&Close"), QString());
    connect(CloseImage, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { Close1Click(); }));
    CloseAll = make("CloseAll1", QStringLiteral("Cl&ose All"), QString());
    connect(CloseAll, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { CloseAll1Click(); }));
    Exit1 = make("Exit1", QStringLiteral("E&xit"), QString());
    connect(Exit1, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { Exit1Click(); }));

    // Ctrl+Z and Ctrl+A belong to the menu items "&Undo" and "Main acquisition controls": a key
    // that two actions share would fire neither, so the zoom-in and repaint actions have none.
    ZoomIn = make("ZoomIn", QStringLiteral("Zoom in"), QStringLiteral("Zoom in"));
    connect(ZoomIn, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { ZoomInExecute(); }));
    ZoomOut = make("ZoomOut", QStringLiteral("Zoom out"), QStringLiteral("Zoom out (Ctrl+X)"));
    ZoomOut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    connect(ZoomOut, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { ZoomOutExecute(); }));
    Zoom1 = make("Zoom1", QStringLiteral("1:1"), QStringLiteral("Screen scale (Ctrl+W)"));
    Zoom1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(Zoom1, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { Zoom1Execute(); }));
    ZoomFit = make("ZoomFit", QStringLiteral("Fit"), QStringLiteral("Fit the image to the window"));
    connect(ZoomFit, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { ZoomFitExecute(); }));
    Refresh = make("Refresh", QStringLiteral("Repaint"), QStringLiteral("Repaint the image"));
    connect(Refresh, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { RefreshExecute(); }));
    PaletteEdit = make("PaletteEdit", QStringLiteral("Palette"), QStringLiteral("Edit the palette (Ctrl+P)"));
    PaletteEdit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(PaletteEdit, &QAction::triggered, this,
            korvi::gui::Guarded([this](bool) { PaletteForCurrentImageClick(); }));
    HeaderInfoFormShow = make("HeaderInfoFormShow", QStringLiteral("Image information"),
                              QStringLiteral("Image information (Ctrl+H)"));
    HeaderInfoFormShow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(HeaderInfoFormShow, &QAction::triggered, this, korvi::gui::Guarded([this](bool) {
                // The header of the active image window, whatever another window named before.
                EditTarget = EditActiveImage;
                if (FirstImageWindow())
                    ShowProgramWindow("THInfo");
            }));
    StatsFormShow =
        make("StatsFormShow", QStringLiteral("&Statistics..."), QStringLiteral("Statistics (Ctrl+S)"));
    StatsFormShow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(StatsFormShow, &QAction::triggered, this,
            korvi::gui::Guarded([this](bool) { StatsFormShowExecute(); }));

    ActionToolBar = new QToolBar(QStringLiteral("Actions"), this);
    ActionToolBar->setObjectName(QStringLiteral("ActionToolBar"));
    ActionToolBar->setMovable(false);
    addToolBar(Qt::TopToolBarArea, ActionToolBar);
    for (QAction *action : {Open, Save, ZoomIn, ZoomOut, Zoom1, ZoomFit, Refresh, PaletteEdit,
                            HeaderInfoFormShow, StatsFormShow})
        AddToolAction(action);
    // The three that show a window (tool-bar button, menu item and shortcut alike) are enabled
    // once their window exists, as the menu items that show one are.
    const std::pair<QAction *, const char *> shows[] = {
        {PaletteEdit, "TPaletteSet"}, {HeaderInfoFormShow, "THInfo"}, {StatsFormShow, "TStatsForm"}};
    for (const auto &[action, className] : shows) {
        action->setEnabled(false);
        showItems_.push_back({action, className});
    }
}

void TMainF::AddToolAction(QAction *action)
{
    ActionToolBar->addAction(action);
}

void TMainF::BuildCentralArea()
{
    auto *central = new QWidget(this);
    auto *row = new QHBoxLayout(central);
    row->setContentsMargins(2, 2, 2, 2);

    // "Main acquisition controls": the settings pages and the magnifier below them.
    SettingsPanel = new QWidget(central);
    SettingsPanel->setObjectName(QStringLiteral("SettingsPanel"));
    auto *panelColumn = new QVBoxLayout(SettingsPanel);
    panelColumn->setContentsMargins(0, 0, 0, 0);
    PageControl = new QTabWidget(SettingsPanel);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    // Seven captions do not fit one row of tabs in the panel's width: the page is chosen from a
    // list that shows every caption whole, and the page control shows the chosen page.
    PageList = new QComboBox(SettingsPanel);
    PageList->setObjectName(QStringLiteral("PageList"));
    PageControl->tabBar()->hide();
    panelColumn->addWidget(PageList);
    panelColumn->addWidget(PageControl, 1);
    BuildImageDisplayPage();
    // The magnifier: the image around the pointer, ten times enlarged.
    auto *magnifier = new QGroupBox(QStringLiteral("Cursor magnifier"), SettingsPanel);
    magnifier->setObjectName(QStringLiteral("MagnifierBox"));
    auto *magnifierLayout = new QVBoxLayout(magnifier);
    magnifierLayout->setContentsMargins(2, 2, 2, 2);
    OpenGLPanel2 = new TOpenGLPanel(magnifier);
    OpenGLPanel2->setObjectName(QStringLiteral("OpenGLPanel2"));
    OpenGLPanel2->setFixedSize(320, 120);
    connect(OpenGLPanel2, &TOpenGLPanel::OnInit, this, [this] { OpenGLPanel2Init(); });
    connect(OpenGLPanel2, &TOpenGLPanel::OnPaint, this, [this] { OpenGLPanel2Paint(); });
    magnifierLayout->addWidget(OpenGLPanel2, 0, Qt::AlignHCenter);
    panelColumn->addWidget(magnifier, 0, Qt::AlignHCenter);
    SettingsPanel->setFixedWidth(340);
    row->addWidget(SettingsPanel);

    // The image windows, with the cross-section pane under them.
    auto *middle = new QVBoxLayout;
    MdiArea = new QMdiArea(central);
    MdiArea->setObjectName(QStringLiteral("MdiArea"));
    MdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    MdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    middle->addWidget(MdiArea, 1);
    XSectionBox = new QGroupBox(QStringLiteral("Image cross-section"), central);
    XSectionBox->setObjectName(QStringLiteral("XSectionBox"));
    auto *xsLayout = new QVBoxLayout(XSectionBox);
    XSectionImage = new QLabel(XSectionBox);
    XSectionImage->setObjectName(QStringLiteral("XSectionImage"));
    XSectionImage->setMinimumSize(200, 140);
    XSectionImage->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    xsLayout->addWidget(XSectionImage);
    XSectionBox->hide();
    middle->addWidget(XSectionBox);
    row->addLayout(middle, 1);

    // The palette bar on the right.
    PalBar = new QLabel(central);
    PalBar->setObjectName(QStringLiteral("PalBar"));
    const QSize barSize =
        PaletteFrameBitmap.isNull() ? QSize(FrameBitmapWidth, FrameBitmapHeight) : PaletteFrameBitmap.size();
    PalBar->setFixedSize(barSize);
    row->addWidget(PalBar, 0, Qt::AlignTop);

    setCentralWidget(central);
}

void TMainF::BuildImageDisplayPage()
{
    ImageDisplayPage = new QWidget(PageControl);
    ImageDisplayPage->setObjectName(QStringLiteral("ImageDisplayPage"));
    auto *layout = new QVBoxLayout(ImageDisplayPage);
    auto *buttons = new QHBoxLayout;
    const char *names[] = {"GrayscaleBtn", "BlackbodyBtn", "SpectrumBtn1", "SpectrumBtn2"};
    QToolButton **targets[] = {&GrayscaleBtn, &BlackbodyBtn, &SpectrumBtn1, &SpectrumBtn2};
    for (int k = 0; k < 4; ++k) {
        auto *button = new QToolButton(ImageDisplayPage);
        button->setObjectName(QString::fromLatin1(names[k]));
        button->setIconSize(QSize(48, 16));
        connect(button, &QToolButton::clicked, this,
                korvi::gui::Guarded([this, k](bool) { QuickPaletteClick(k); }));
        buttons->addWidget(button);
        *targets[k] = button;
    }
    layout->addLayout(buttons);
    LinScale2 = new QRadioButton(QStringLiteral("Linear scale"), ImageDisplayPage);
    LinScale2->setObjectName(QStringLiteral("LinScale2"));
    LogScale2 = new QRadioButton(QStringLiteral("Log scale"), ImageDisplayPage);
    LogScale2->setObjectName(QStringLiteral("LogScale2"));
    LinScale2->setChecked(true);
    connect(LinScale2, &QRadioButton::clicked, this,
            korvi::gui::Guarded([this](bool) { SetDisplayScale(false); }));
    connect(LogScale2, &QRadioButton::clicked, this,
            korvi::gui::Guarded([this](bool) { SetDisplayScale(true); }));
    layout->addWidget(LinScale2);
    layout->addWidget(LogScale2);
    layout->addStretch(1);
    PageControl->addTab(ImageDisplayPage, QStringLiteral("Image display"));
}

void TMainF::BuildMenus()
{
    QMenuBar *bar = menuBar();
    auto item = [this](QMenu *menu, const char *name, const QString &caption) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };

    FileMenu = bar->addMenu(QStringLiteral("&File"));
    FileMenu->setObjectName(QStringLiteral("File1"));
    connect(FileMenu, &QMenu::aboutToShow, this, [this] { File1Click(); });
    // "Save" is a tool-bar button too, so its state must also follow the windows opening and
    // closing, not only the opening of this menu.
    // Undo and Redo follow too: the window the snapshot was taken of may just have closed.
    connect(MdiArea, &QMdiArea::subWindowActivated, this, [this] {
        File1Click();
        UpdateUndoItems();
    });
    FileMenu->addAction(Open);
    FileMenu->addAction(Save);
    FileMenu->addAction(SaveAs);
    FileMenu->addSeparator();
    FileMenu->addAction(CloseImage);
    FileMenu->addAction(CloseAll);
    QMenu *maximum = FileMenu->addMenu(QStringLiteral("Maximum files open"));
    maximum->setObjectName(QStringLiteral("MaximumFilesOpen1"));
    maximumFilesGroup_ = new QActionGroup(this);
    for (int n : MaximumFilesChoices) {
        QAction *action = maximum->addAction(QString::number(n));
        action->setObjectName(QStringLiteral("MaxFiles%1").arg(n));
        action->setCheckable(true);
        maximumFilesGroup_->addAction(action);
        connect(action, &QAction::triggered, this,
                korvi::gui::Guarded([this, n](bool) { MaximumFilesClick(n); }));
        MaximumFilesItems.push_back(action);
    }
    FileMenu->addSeparator();
    SaveSettingsDefault =
        item(FileMenu, "SaveSettingsasDefault1", QStringLiteral("Save Settings as &Default"));
    connect(SaveSettingsDefault, &QAction::triggered, this,
            korvi::gui::Guarded([this](bool) { SaveSettingsAsDefaultClick(); }));
    SaveSettings = item(FileMenu, "SaveSettings1", QStringLiteral("Save Sett&ings..."));
    connect(SaveSettings, &QAction::triggered, this,
            korvi::gui::Guarded([this](bool) { SaveSettingsClick(); }));
    LoadSettings = item(FileMenu, "LoadSettings1", QStringLiteral("Load Se&ttings..."));
    connect(LoadSettings, &QAction::triggered, this,
            korvi::gui::Guarded([this](bool) { LoadSettingsClick(); }));
    FileMenu->addSeparator();
    FileMenu->addAction(Exit1);

    ViewMenu = bar->addMenu(QStringLiteral("&View"));
    ViewMenu->setObjectName(QStringLiteral("View1"));
    MainAcquisitionControls =
        item(ViewMenu, "MainAcquisitionControls1", QStringLiteral("Main acquisition controls"));
    MainAcquisitionControls->setCheckable(true);
    MainAcquisitionControls->setChecked(true);
    MainAcquisitionControls->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    connect(MainAcquisitionControls, &QAction::triggered, this,
            korvi::gui::Guarded([this](bool) { MainAcquisitionControlsClick(); }));
    ViewMenu->addSeparator();
    LinearScale1 = item(ViewMenu, "Lineardisplayscale1", QStringLiteral("Linear display scale"));
    LogScale1 = item(ViewMenu, "Logarithmicdisplayscale1", QStringLiteral("Logarithmic display scale"));
    scaleGroup_ = ExclusiveGroup(this, {LinearScale1, LogScale1});
    LinearScale1->setChecked(true);
    connect(LinearScale1, &QAction::triggered, this,
            korvi::gui::Guarded([this](bool) { SetDisplayScale(false); }));
    connect(LogScale1, &QAction::triggered, this,
            korvi::gui::Guarded([this](bool) { SetDisplayScale(true); }));
    ViewMenu->addSeparator();
    QAction *paletteCurrent =
        item(ViewMenu, "Paletteforcurrentimage1", QStringLiteral("&Palette for current image..."));
    connect(paletteCurrent, &QAction::triggered, this,
            korvi::gui::Guarded([this](bool) { PaletteForCurrentImageClick(); }));
    QAction *paletteDefault = item(ViewMenu, "Defaultpalette1", QStringLiteral("&Default palette..."));
    connect(paletteDefault, &QAction::triggered, this,
            korvi::gui::Guarded([this](bool) { DefaultPaletteClick(); }));
    showItems_.push_back({paletteCurrent, "TPaletteSet"});
    showItems_.push_back({paletteDefault, "TPaletteSet"});
    ViewMenu->addSeparator();
    QMenu *xsection = ViewMenu->addMenu(QStringLiteral("Image cross-section"));
    xsection->setObjectName(QStringLiteral("ImageCrossSection1"));
    XSectionHorizontal = item(xsection, "XSectionHorizontal", QStringLiteral("Horizontal slice"));
    XSectionVertical = item(xsection, "XSectionVertical", QStringLiteral("Vertical slice"));
    XSectionCustom = item(xsection, "XSectionCustom", QStringLiteral("Custom"));
    XSectionHide = item(xsection, "XSectionHide", QStringLiteral("Hide"));
    xSectionGroup_ =
        ExclusiveGroup(this, {XSectionHorizontal, XSectionVertical, XSectionCustom, XSectionHide});
    const CrossSectionMode modes[] = {CrossSectionMode::Horizontal, CrossSectionMode::Vertical,
                                      CrossSectionMode::Custom, CrossSectionMode::None};
    QAction *xsItems[] = {XSectionHorizontal, XSectionVertical, XSectionCustom, XSectionHide};
    for (int i = 0; i < 4; ++i) {
        const CrossSectionMode mode = modes[i];
        connect(xsItems[i], &QAction::triggered, this,
                korvi::gui::Guarded([this, mode](bool) { XSectionClick(mode); }));
    }
    XSectionHide->setChecked(true);
    ViewMenu->addSeparator();
    ViewMenu->addAction(HeaderInfoFormShow); // "Image information", Ctrl+H
    ViewMenu->addAction(StatsFormShow);
    ViewMenu->addSeparator();
    ViewMenu->addAction(ZoomIn);
    ViewMenu->addAction(ZoomOut);
    ViewMenu->addAction(Zoom1);
    ViewMenu->addAction(ZoomFit);
    ViewMenu->addAction(Refresh);

    BuildProcessingMenu();

    ToolsMenu = bar->addMenu(QStringLiteral("&Tools"));
    ToolsMenu->setObjectName(QStringLiteral("Tools1"));
    AddShowItem(ToolsMenu, QStringLiteral("Guider controls..."), "TGuiderF");
    AddShowItem(ToolsMenu, QStringLiteral("Tracking control..."), "TTrackF");
    AddShowItem(ToolsMenu, QStringLiteral("Telescope control..."), "TTelescopeCtrlF");
    AddShowItem(ToolsMenu, QStringLiteral("S&cripts..."), "TScriptF");
    // "Focus monitor..." shows the monitor and has it measure the active image at once.
    QAction *focus = AddShowItem(ToolsMenu, QStringLiteral("Focus monitor..."), "TFocusMonitorF");
    disconnect(focus, &QAction::triggered, this, nullptr);
    connect(focus, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { ShowFocusData(); }));
    ToolsMenu->addSeparator();
    AddShowItem(ToolsMenu, QStringLiteral("&Composite editor..."), "TCompositeF");
    AddShowItem(ToolsMenu, QStringLiteral("&Transfer constant..."), "TXferConstF");
    AddShowItem(ToolsMenu, QStringLiteral("Stack and trim... "), "TStackMultipleF");
    AddShowItem(ToolsMenu, QStringLiteral("Create problem pixel/colum map..."), "TProblemPixelMapF");
    AddShowItem(ToolsMenu, QStringLiteral("Save sub-frame as a table..."), "TSubFrameF");
    ToolsMenu->addSeparator();
    // The batch window's commands open it on the page of their kind of work.
    for (const BatchCommand &command : BatchCommands) {
        QAction *action = AddShowItem(ToolsMenu, QString::fromLatin1(command.caption), "TMultiProcessF");
        action->setObjectName(QString::fromLatin1(command.name));
        const QString page = QString::fromLatin1(command.page);
        connect(action, &QAction::triggered, this, korvi::gui::Guarded([this, page](bool) {
                    SelectPage(ProgramWindow("TMultiProcessF"), page);
                }));
    }
    ToolsMenu->addSeparator();
    QAction *ccd = AddShowItem(ToolsMenu, QStringLiteral("Select &CCD..."), "TCCDSetF");
    ccd->setObjectName(QStringLiteral("SelectCCD1"));
    QMenu *diagnostics = ToolsMenu->addMenu(QStringLiteral("Diagnostics"));
    diagnostics->setObjectName(QStringLiteral("Diagnostics1"));
    AddShowItem(diagnostics, QStringLiteral("Test clocks..."), "TTestClockF");

    WindowMenu = bar->addMenu(QStringLiteral("&Window"));
    WindowMenu->setObjectName(QStringLiteral("Window1"));
    Tile1 = item(WindowMenu, "Tile1", QStringLiteral("&Tile"));
    Cascade1 = item(WindowMenu, "Cascade1", QStringLiteral("&Cascade"));
    Stack1 = item(WindowMenu, "Stack1", QStringLiteral("&Stack"));
    Maximize1 = item(WindowMenu, "Maximize1", QStringLiteral("&Maximize"));
    arrangementGroup_ = ExclusiveGroup(this, {Tile1, Cascade1, Stack1, Maximize1});
    connect(Tile1, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { TileClick(); }));
    connect(Cascade1, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { CascadeClick(); }));
    connect(Stack1, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { StackClick(); }));
    connect(Maximize1, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { MaximizeClick(); }));
    WindowMenu->addSeparator();

    HelpMenu = bar->addMenu(QStringLiteral("&Help"));
    HelpMenu->setObjectName(QStringLiteral("Help1"));
    Handbook1 = item(HelpMenu, "Handbook1", QStringLiteral("&Handbook..."));
    connect(Handbook1, &QAction::triggered, this, korvi::gui::Guarded([this](bool) { HandbookClick(); }));
    AddShowItem(HelpMenu, QStringLiteral("&About..."), "TAboutF");

    // Items that show a window are enabled once that window exists.
    for (QMenu *menu : {ViewMenu, ToolsMenu, HelpMenu, diagnostics})
        connect(menu, &QMenu::aboutToShow, this, [this] {
            for (auto &[action, className] : showItems_)
                action->setEnabled(ProgramWindow(className.c_str()) != nullptr);
        });
}

QAction *TMainF::AddShowItem(QMenu *menu, const QString &caption, const char *className)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QStringLiteral("Show") + QString::fromLatin1(className));
    const std::string name = className;
    connect(action, &QAction::triggered, this,
            korvi::gui::Guarded([this, name](bool) { ShowProgramWindow(name.c_str()); }));
    action->setEnabled(false);
    showItems_.push_back({action, name});
    return action;
}

void TMainF::BuildStatusBar()
{
    const int widths[] = {250, 250, 50};
    for (int i = 0; i < 3; ++i) {
        auto *label = new QLabel(this);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        label->setMinimumWidth(widths[i]);
        statusBar()->addWidget(label, i == 2 ? 1 : 0);
        StatusPanels[i] = label;
    }
}

// ---------------------------------------------------------------------------------------------
// Registered singleton windows

void TMainF::RegisterWindow(const char *className, QWidget *window)
{
    windows_.push_back({className, window});
    for (auto &[action, name] : showItems_)
        if (name == className)
            action->setEnabled(true);
    UpdateProcessingItems();
}

QWidget *TMainF::ProgramWindow(const char *className) const
{
    for (const auto &[name, window] : windows_)
        if (name == className)
            return window;
    return nullptr;
}

void TMainF::ShowProgramWindow(const char *className)
{
    if (QWidget *window = ProgramWindow(className)) {
        // Shown, the window reads its target in its show handler; already open, it is only
        // raised, so it is asked to read the target its command has just named.
        const bool open = window->isVisible();
        korvi::gui::PlaceBeforeFirstShow(window, this);
        window->show();
        korvi::gui::KeepInsideScreen(window);
        window->raise();
        window->activateWindow();
        if (auto *reader = dynamic_cast<TargetReader *>(window); reader && open)
            reader->ReadTarget();
    }
}

// ---------------------------------------------------------------------------------------------
// Image windows

std::vector<TChild *> TMainF::ImageWindows() const
{
    std::vector<TChild *> result;
    // Top of the stack first, the current window at index 0.
    const QList<QMdiSubWindow *> stacked = MdiArea->subWindowList(QMdiArea::StackingOrder);
    // A closed window is hidden at once and deleted a little later: it no longer counts.
    TChild *current = qobject_cast<TChild *>(MdiArea->currentSubWindow());
    if (current && current->isHidden())
        current = nullptr;
    if (current)
        result.push_back(current);
    for (auto it = stacked.rbegin(); it != stacked.rend(); ++it)
        if (auto *child = qobject_cast<TChild *>(*it); child && child != current && !child->isHidden())
            result.push_back(child);
    return result;
}

TChild *TMainF::FirstImageWindow() const
{
    const std::vector<TChild *> windows = ImageWindows();
    return windows.empty() ? nullptr : windows.front();
}

TChild *TMainF::FindImageWindow(std::int64_t tag) const
{
    for (TChild *child : ImageWindows())
        if (child->Tag() == tag)
            return child;
    return nullptr;
}

TChild *TMainF::CreateImageWindow(int height, int width)
{
    auto *child = new TChild(this, height, width);
    child->setAttribute(Qt::WA_DeleteOnClose);
    MdiArea->addSubWindow(child);
    return child;
}

bool TMainF::CloseImageWindow(TChild *window)
{
    QPointer<TChild> guard(window);
    window->close();
    // A window whose close prompt failed to save stays open.
    return guard.isNull() || !guard->isVisible();
}

// ---------------------------------------------------------------------------------------------
// Showing, activation, resizing, closing

void TMainF::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!shown_)
        korvi::gui::RunGuarded([this] { FormShow(); });
}

void TMainF::FormShow()
{
    Settings &settings = CurrentSettings();
    ShutterOpen = false;
    Acquiring = false;
    Continuous = false;
    PalBar->hide();

    // The quick-palette buttons show their palettes.
    QToolButton *buttons[] = {GrayscaleBtn, BlackbodyBtn, SpectrumBtn1, SpectrumBtn2};
    for (int k = 1; k <= 4; ++k) {
        settings.DefaultPalettes[0].LoadFromFile(programDirectory_ + "Palettes/QuickPalette" +
                                                 std::to_string(k) + ".pal");
        DrawDefaultPaletteBar();
        const QPixmap bar = PalBar->pixmap();
        buttons[k - 1]->setIcon(QIcon(bar.transformed(QTransform().rotate(90))));
    }
    for (int i = 0; i < 2; ++i)
        if (!settings.DefaultPaletteFile[i].empty())
            settings.DefaultPalettes[i].LoadFromFile(programDirectory_ + "Palettes/" +
                                                     settings.DefaultPaletteFile[i]);

    FilterPosition = settings.FiltPos;
    DrawDefaultPaletteBar();
    PalBar->show();

    // The stored rectangle; a rectangle without size (no settings yet) keeps the default size.
    // Position and size are those of the client area, as StoreWindowRectangle keeps them: mixing
    // in the frame's position would move the window by the title bar at every start.
    if (settings.WindowWidth > 0 && settings.WindowHeight > 0)
        setGeometry(settings.WindowLeft, settings.WindowTop, settings.WindowWidth, settings.WindowHeight);
    shown_ = true;

    if (!arguments_.isEmpty())
        OpenCommandLineImage(arguments_.front());

    ApplySettingsToControls();
}

void TMainF::OpenCommandLineImage(const QString &path)
{
    const std::string name = path.toStdString();
    // The reader reports a file it cannot read; no window is opened for it.
    if (!LoadImageFile(name, UndoImage))
        return;
    DropUndoSnapshot(); // the load buffer was the undo snapshot
    TChild *child = CreateImageWindow(UndoImage.Height, UndoImage.Width);
    child->Image().Assign(UndoImage);
    child->setWindowTitle(QString::fromStdString(name));
    child->show();
    child->FitToWindow();
    child->RenderImage();
    CurrentSettings().LastOpenDirectory[0] = ExtractDirectoryPart(name);
}

void TMainF::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TMainF::FormActivate()
{
    RepaintRequest = true;
}

void TMainF::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TMainF::FormResize()
{
    // Nothing before the stored rectangle was applied, nothing once closing has begun.
    if (ClosingDone || !shown_)
        return;
    const int arrangement = CurrentSettings().WindowArrangement;
    if (arrangement == 0 || arrangement == 1)
        ArrangeImageWindows(arrangement);
    StoreWindowRectangle();
}

void TMainF::StoreWindowRectangle()
{
    Settings &settings = CurrentSettings();
    const QRect client = geometry();
    settings.WindowTop = client.y();
    settings.WindowLeft = client.x();
    settings.WindowWidth = client.width();
    settings.WindowHeight = client.height();
}

void TMainF::SysTimerTimer()
{
    const korvi::gui::ActiveWindowKeeper keepActive;
    const int arrangement = CurrentSettings().WindowArrangement;
    ArrangeImageWindows(arrangement);
    const std::vector<TChild *> windows = ImageWindows();
    if (!windows.empty() && (windows.size() == 1 || arrangement == 3))
        windows.front()->showMaximized();
    SysTimer->stop();
}

void TMainF::ArrangeImageWindows(int arrangement)
{
    switch (arrangement) {
    case 0:
        MdiArea->tileSubWindows();
        break;
    case 1:
        CascadeImageWindows();
        break;
    case 2:
        for (TChild *child : ImageWindows()) {
            if (child->isMaximized() || child->isMinimized())
                child->showNormal();
            child->move(0, 0);
        }
        break;
    default:
        return;
    }
    // A window fitted for the whole frame (every new window is) would show a corner of its image
    // with scroll bars in its new place: a fitted zoom is fitted again to the arranged size.
    for (TChild *child : ImageWindows())
        if (child->ZoomFitted() && !child->isMaximized() && !child->isMinimized()) {
            child->FitZoomToClient();
            child->RenderImage();
        }
}

void TMainF::CascadeImageWindows()
{
    // The frame's own cascade shrinks every window to its size hint, a few pixels of image. Here
    // each window keeps a usable size (at least two thirds of the frame) and lies one title bar
    // lower and further right than the one below it, the active one on top.
    const std::vector<TChild *> windows = ImageWindows();
    if (windows.empty())
        return;
    const QRect area = MdiArea->viewport()->rect();
    const int step =
        std::max(8, MdiArea->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, windows[0]));
    const int count = static_cast<int>(windows.size());
    const int width = std::max(area.width() * 2 / 3, area.width() - step * (count - 1));
    const int height = std::max(area.height() * 2 / 3, area.height() - step * (count - 1));
    // Offsets start again at the corner once the next window would leave the frame.
    const int room = std::max(0, std::min(area.width() - width, area.height() - height));
    int k = 0;
    for (auto it = windows.rbegin(); it != windows.rend(); ++it, ++k) {
        TChild *child = *it;
        if (child->isMaximized() || child->isMinimized())
            child->showNormal();
        const int offset = room > 0 ? (k * step) % (room + 1) : 0;
        child->setGeometry(area.x() + offset, area.y() + offset, width, height);
        child->raise();
    }
    MdiArea->setActiveSubWindow(windows[0]);
}

void TMainF::Exit1Click()
{
    close();
}

void TMainF::closeEvent(QCloseEvent *event)
{
    if (ClosingDone) {
        event->accept();
        return;
    }
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    if (ClosingDone)
        event->accept();
    else
        event->ignore();
}

bool TMainF::FormCloseQuery()
{
    return korvi::gui::ShowMessage(QStringLiteral("Are you sure you want to leave Korvi?"),
                                   QStringLiteral("Korvi"), MessageButtons::OkCancel,
                                   MessageIcon::Question) == MessageAnswer::Ok;
}

void TMainF::FormClose()
{
    setEnabled(false);
    if (!CloseSequence())
        setEnabled(true);
}

bool TMainF::CloseSequence()
{
    if (ClosingDone)
        return true;
    ClosingDone = true;
    // A script with unsaved changes is asked about like an image; Cancel keeps the program running.
    if (ScriptF && !ScriptF->QuerySaveChanges()) {
        ClosingDone = false;
        return false;
    }
    StopAcquisitionThread();
    if (ScriptF)
        ScriptF->StopScriptThread();
    std::vector<TChild *> windows = ImageWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if (!CloseImageWindow(*it)) {
            // The window could not save its image and stays open; leaving now would lose it.
            ClosingDone = false;
            return false;
        }
    }
    StoreWindowRectangle();
    WriteDefaultSettings();
    emit SettingsWritten();
    return true;
}

void TMainF::SetStatusText(int panel, const QString &text)
{
    if (panel >= 0 && panel < 3)
        StatusPanels[panel]->setText(text);
}

QString TMainF::StatusText(int panel) const
{
    return panel >= 0 && panel < 3 ? StatusPanels[panel]->text() : QString();
}

int TMainF::EffectiveMaximumWindows() const
{
    const int value = CurrentSettings().MaximumWindows;
    for (int n : MaximumFilesChoices)
        if (n == value)
            return value;
    return 10;
}

void TMainF::ApplySettingsToControls()
{
    Settings &settings = CurrentSettings();
    QAction *arrangement[] = {Tile1, Cascade1, Stack1, Maximize1};
    if (settings.WindowArrangement >= 0 && settings.WindowArrangement <= 3)
        arrangement[settings.WindowArrangement]->setChecked(true);

    switch (settings.XSectionMode) {
    case 1:
        XSectionClick(CrossSectionMode::Horizontal);
        break;
    case 2:
        XSectionClick(CrossSectionMode::Vertical);
        break;
    case 3:
        XSectionClick(CrossSectionMode::Custom);
        break;
    default:
        XSectionClick(CrossSectionMode::None);
        break;
    }

    (settings.LogDisplayScale ? LogScale1 : LinearScale1)->setChecked(true);
    (settings.LogDisplayScale ? LogScale2 : LinScale2)->setChecked(true);

    // A maximum that is none of the offered choices is taken as 10, in the menu and the record.
    settings.MaximumWindows = EffectiveMaximumWindows();
    for (std::size_t i = 0; i < MaximumFilesItems.size(); ++i)
        MaximumFilesItems[i]->setChecked(MaximumFilesChoices[i] == settings.MaximumWindows);
    ApplySettingsToPages();
}

// ---------------------------------------------------------------------------------------------
// ImageWindowHost: small pieces

bool TMainF::IsActiveImageWindow(const TChild *window) const
{
    return window && FirstImageWindow() == window;
}

void TMainF::ImageWindowActivated(TChild *window)
{
    UpdateImageControls(window);
}

void TMainF::ShowStatusText(const QString &text)
{
    SetStatusText(0, text);
}

bool TMainF::TakeRepaintRequest()
{
    const bool request = RepaintRequest;
    RepaintRequest = false;
    return request;
}

const float *TMainF::LogScaleTable() const
{
    return ::LogScaleTable.data();
}

void TMainF::SetCaptureSpinEdits(int xLo, int xHi, int yLo, int yHi)
{
    SetSubframeSpinEdits(xLo, xHi, yLo, yHi);
}
