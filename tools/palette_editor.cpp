#include "palette_editor.h"

#include "color_index_view.h"
#include "composite/cf_settings.h"
#include "composite/composite_editor.h"
#include "edit_target.h"
#include "gui_runtime.h"
#include "guiding/guider_window.h"
#include "image_window.h"
#include "main_window.h"
#include "opengl_panel.h"
#include "settings.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QOpenGLFunctions_1_1>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include <filesystem>

TPaletteSet *PaletteSet = nullptr;

namespace
{

// The curve view: paints what the editor's curve model holds and hands mouse events to the editor.
class CurveView : public QWidget
{
public:
    explicit CurveView(TPaletteSet *editor) : QWidget(editor), editor_(editor)
    {
        setObjectName(QStringLiteral("BImage"));
        setFixedSize(TPaletteSet::CurveWidth, TPaletteSet::CurveHeight);
        setCursor(Qt::CrossCursor);
        setMouseTracking(false);
    }
    int shownChannel = 0;

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *e) override
    {
        editor_->BImageMouseDown(e->button(), e->position().toPoint().x(), e->position().toPoint().y(),
                                 e->globalPosition().toPoint());
    }
    void mouseMoveEvent(QMouseEvent *e) override
    {
        editor_->BImageMouseMove(e->position().toPoint().x(), e->position().toPoint().y(), e->buttons());
    }
    void mouseReleaseEvent(QMouseEvent *) override { editor_->BImageMouseUp(); }
    void mouseDoubleClickEvent(QMouseEvent *) override { editor_->BImageDblClick(); }

private:
    TPaletteSet *editor_;
};

void CurveView::paintEvent(QPaintEvent *)
{
    const PaletteCurves &curves = editor_->Curves;
    const PPalette &palette = editor_->Palette;
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor colours[] = {QColor(255, 0, 0), QColor(0, 128, 0), QColor(0, 0, 255)};
    const int curvesShown = curves.GreyScale ? 1 : PaletteChannels;
    for (int c = 0; c < curvesShown; ++c) {
        QPainterPath path(QPointF(curves.ScreenX[0][c], curves.ScreenY[0][c]));
        for (int s = 0; s < palette.SegmentCount[c]; ++s) {
            const int a = 3 * s;
            path.cubicTo(curves.ScreenX[a + 1][c], curves.ScreenY[a + 1][c], curves.ScreenX[a + 2][c],
                         curves.ScreenY[a + 2][c], curves.ScreenX[a + 3][c], curves.ScreenY[a + 3][c]);
        }
        p.setPen(colours[c]);
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
    // The points of the shown channel: white squares at anchors, white dots at handles, grey
    // lines from each anchor to its handles.
    const int c = shownChannel;
    auto at = [&](int i) { return QPoint(curves.ScreenX[i][c], curves.ScreenY[i][c]); };
    const QColor grey(0x80, 0x80, 0x80);
    p.setBrush(Qt::white);
    p.setPen(Qt::white);
    p.drawRect(QRect(at(0) - QPoint(2, 2), at(0) + QPoint(2, 2)));
    for (int s = 0; s < palette.SegmentCount[c]; ++s) {
        const int a = 3 * s;
        p.setPen(grey);
        p.drawLine(at(a), at(a + 1));
        p.drawLine(at(a + 2), at(a + 3));
        p.setPen(Qt::white);
        p.drawEllipse(QRect(at(a + 1) - QPoint(1, 1), at(a + 1) + QPoint(1, 1)));
        p.drawEllipse(QRect(at(a + 2) - QPoint(1, 1), at(a + 2) + QPoint(1, 1)));
        p.drawRect(QRect(at(a + 3) - QPoint(2, 2), at(a + 3) + QPoint(2, 2)));
    }
}

QFileDialog *PaletteDialog(QWidget *parent, const char *name, const QString &title, const QString &file,
                           const QStringList &filters, QFileDialog::AcceptMode mode)
{
    auto *dialog = new QFileDialog(parent);
    dialog->setObjectName(QString::fromLatin1(name));
    korvi::gui::PrepareFileDialog(*dialog);
    dialog->setWindowTitle(title);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog->setDefaultSuffix(QStringLiteral("pal"));
    dialog->setNameFilters(filters);
    dialog->selectFile(file);
    if (MainF)
        dialog->setDirectory(QString::fromStdString(MainF->ProgramDirectory() + "Palettes/"));
    return dialog;
}

} // namespace

TPaletteSet::TPaletteSet(QWidget *parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("PaletteSet"));
    setWindowTitle(QStringLiteral("Palette Settings"));
    PreviewRow.resize(PreviewWidth);
    preview_ = std::make_unique<ColorIndexView>();

    auto *menuBar = new QMenuBar(this);
    QMenu *file = menuBar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("MainMenu1"));
    Open1 = file->addAction(QStringLiteral("&Open..."));
    SaveAs1 = file->addAction(QStringLiteral("Save &As..."));
    file->addSeparator();
    Close1 = file->addAction(QStringLiteral("&Close"));
    Open1->setObjectName(QStringLiteral("Open1"));
    SaveAs1->setObjectName(QStringLiteral("SaveAs1"));
    Close1->setObjectName(QStringLiteral("Close1"));

    auto makeButton = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    BRed = makeButton("BRed", QStringLiteral("Red Curve"));
    BGreen = makeButton("BGreen", QStringLiteral("Green Curve"));
    BBlue = makeButton("BBlue", QStringLiteral("Blue Curve"));
    const QColor colours[] = {Qt::red, Qt::darkGreen, Qt::blue};
    QPushButton *channelButtons[] = {BRed, BGreen, BBlue};
    for (int c = 0; c < 3; ++c) {
        QFont f = channelButtons[c]->font();
        f.setBold(true);
        channelButtons[c]->setFont(f);
        QPalette pal = channelButtons[c]->palette();
        pal.setColor(QPalette::ButtonText, colours[c]);
        channelButtons[c]->setPalette(pal);
    }
    BImage = new CurveView(this);
    OpenGLPanel = new TOpenGLPanel(this);
    OpenGLPanel->setObjectName(QStringLiteral("OpenGLPanel"));
    OpenGLPanel->setFixedSize(PreviewWidth, PreviewHeight);
    GreyScale = new QCheckBox(QStringLiteral("grey-scale palette"), this);
    GreyScale->setObjectName(QStringLiteral("GreyScale"));
    auto *fileLabel = new QLabel(QStringLiteral("Palette file:"), this);
    fileLabel->setObjectName(QStringLiteral("Label1"));
    PaletteFile = new QLineEdit(this);
    PaletteFile->setObjectName(QStringLiteral("PaletteFile"));
    PaletteFile->setEnabled(false);
    ResetBtn = makeButton("ResetBtn", QStringLiteral("Revert to original"));
    PreviewBtn = makeButton("PreviewBtn", QStringLiteral("Preview"));
    OkBtn = makeButton("OkBtn", QStringLiteral("OK"));

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar);
    auto *channels = new QHBoxLayout;
    for (QPushButton *b : channelButtons)
        channels->addWidget(b);
    layout->addLayout(channels);
    layout->addWidget(BImage, 0, Qt::AlignHCenter);
    layout->addWidget(OpenGLPanel, 0, Qt::AlignHCenter);
    layout->addWidget(GreyScale);
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(fileLabel);
    fileRow->addWidget(PaletteFile, 1);
    layout->addLayout(fileRow);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(ResetBtn);
    buttons->addWidget(PreviewBtn);
    buttons->addWidget(OkBtn);
    layout->addLayout(buttons);

    BezPopup = new QMenu(this);
    BezPopup->setObjectName(QStringLiteral("BezPopup"));
    Symmetrize1 = BezPopup->addAction(QStringLiteral("&Symmetrize"));
    DeletePoint1 = BezPopup->addAction(QStringLiteral("&Delete Point"));
    Symmetrize1->setObjectName(QStringLiteral("Symmetrize1"));
    DeletePoint1->setObjectName(QStringLiteral("DeletePoint1"));

    using korvi::gui::Guarded;
    connect(BRed, &QPushButton::clicked, this, Guarded([this] { ChannelClick(0); }));
    connect(BGreen, &QPushButton::clicked, this, Guarded([this] { ChannelClick(1); }));
    connect(BBlue, &QPushButton::clicked, this, Guarded([this] { ChannelClick(2); }));
    connect(GreyScale, &QCheckBox::clicked, this, Guarded([this] { GreyScaleClick(); }));
    connect(ResetBtn, &QPushButton::clicked, this, Guarded([this] { ResetBtnClick(); }));
    connect(PreviewBtn, &QPushButton::clicked, this, Guarded([this] { PreviewBtnClick(); }));
    connect(OkBtn, &QPushButton::clicked, this, Guarded([this] { OkBtnClick(); }));
    connect(Symmetrize1, &QAction::triggered, this, Guarded([this] { Symmetrize1Click(); }));
    connect(DeletePoint1, &QAction::triggered, this, Guarded([this] { DeletePoint1Click(); }));
    connect(Open1, &QAction::triggered, this, Guarded([this] { Open1Click(); }));
    connect(SaveAs1, &QAction::triggered, this, Guarded([this] { SaveAs1Click(); }));
    connect(Close1, &QAction::triggered, this, &QWidget::close);
    connect(OpenGLPanel, &TOpenGLPanel::OnInit, this, [this] { OpenGLPanelInit(); });
    connect(OpenGLPanel, &TOpenGLPanel::OnPaint, this, [this] { OpenGLPanelPaint(); });
    PointsToScreen();
}

TPaletteSet::~TPaletteSet()
{
    if (PaletteSet == this)
        PaletteSet = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TPaletteSet::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    korvi::gui::RunGuarded([this] { FormShow(); });
}

void TPaletteSet::closeEvent(QCloseEvent *event)
{
    korvi::gui::RunGuarded([this] { FormClose(); });
    QWidget::closeEvent(event);
}

void TPaletteSet::TakeShownTarget()
{
    shownTarget_ = EditTarget;
    shownWindowTag_ = -1;
    shownLayer_ = CompositeEditorSettings().CurrentLayer;
    if (shownTarget_ == EditActiveImage)
        if (TChild *window = MainF ? MainF->FirstImageWindow() : nullptr)
            shownWindowTag_ = window->Tag();
}

TChild *TPaletteSet::ShownWindow() const
{
    return MainF && shownWindowTag_ >= 0 ? MainF->FindImageWindow(shownWindowTag_) : nullptr;
}

PPalette *TPaletteSet::TargetPalette()
{
    // The palette shown: the one read when the window was shown, or chosen again while open.
    switch (shownTarget_) {
    case EditActiveImage: {
        TChild *window = ShownWindow();
        return window ? &window->Image().Palette : nullptr;
    }
    case EditDefaultPalette:
        return &CurrentSettings().DefaultPalettes[0];
    case EditGuiderImage:
        return GuiderF ? &GuiderF->GuiderImage.Palette : nullptr;
    case EditGuiderPalette:
        return &CurrentSettings().DefaultPalettes[1];
    case EditCompositeLayer:
    case EditCompositePalette: {
        const int layer = shownLayer_;
        if (!CompositeF || layer < 0 || layer >= CompositeLayers)
            return nullptr; // the "All layers" bar has no palette
        return shownTarget_ == EditCompositeLayer ? &Composite().Layers[layer].Palette
                                                  : &CompositeEditorSettings().LayerPalettes[layer];
    }
    default:
        return nullptr;
    }
}

void TPaletteSet::FormShow()
{
    // The palette being edited is the target's, taken as the window opens and whenever its
    // command chooses it again while it is open.
    TakeShownTarget();
    if (PPalette *target = TargetPalette())
        Palette.Assign(*target);
    PaletteBackup = Palette;
    if (Curves.GreyScale) // still on from before: this palette's green and blue are kept aside
        Curves.SetGreyScale(Palette, true);
    RepaintPreview();
    PointsToScreen();
    DrawCurve(0);
    DrawCurve(1);
    DrawCurve(2);
    PaletteFile->setText(QString::fromStdString(LoadedFileName));
    Curves.Channel = 0;
}

void TPaletteSet::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}

void TPaletteSet::DrawCurve(int channel)
{
    shownChannel_ = channel;
    static_cast<CurveView *>(BImage)->shownChannel = channel;
    BImage->update();
}

void TPaletteSet::RepaintPreview()
{
    OpenGLPanel->update();
}

void TPaletteSet::BuildTables()
{
    const int c = Curves.Channel;
    Palette.BuildTables(c == 0, c == 1, c == 2);
}

void TPaletteSet::ChannelClick(int channel)
{
    Curves.Channel = channel;
    DrawCurve(channel);
}

void TPaletteSet::GreyScaleClick()
{
    const bool on = GreyScale->isChecked();
    // On, green and blue become copies of red; off, they come back as they were.
    Curves.SetGreyScale(Palette, on);
    for (QPushButton *b : {BRed, BGreen, BBlue})
        b->setEnabled(!on);
    if (on)
        Curves.Channel = 0;
    RepaintPreview();
    DrawCurve(Curves.Channel);
}

void TPaletteSet::BImageMouseDown(Qt::MouseButton button, int x, int y, QPoint globalPos)
{
    const bool left = button == Qt::LeftButton;
    const bool right = button == Qt::RightButton || button == Qt::MiddleButton;
    doubleClicked_ = false;
    if (Curves.Press(Palette, x, y, left, right)) {
        const bool symmetric = PaletteCurves::AnchorSymmetric(Palette, Curves.Channel, Curves.SelectedPoint);
        Symmetrize1->setText(symmetric ? QStringLiteral("Asymmetric") : QStringLiteral("Symmetric"));
        BezPopup->popup(globalPos);
    }
}

void TPaletteSet::BImageMouseMove(int x, int y, Qt::MouseButtons buttons)
{
    if (!(buttons & Qt::LeftButton) || !Curves.Drag(Palette, x, y))
        return;
    ScreenToPoints();
    if (Curves.GreyScale) {
        Palette.BuildTables(true, true, true);
        DrawCurve(0);
    } else {
        BuildTables();
        DrawCurve(Curves.Channel);
    }
    RepaintPreview();
}

void TPaletteSet::BImageMouseUp()
{
    Curves.Release();
    if (doubleClicked_)
        return;
    ScreenToPoints();
    BuildTables();
    RepaintPreview();
}

void TPaletteSet::RebuildAfterEdit(bool allThree)
{
    ScreenToPoints();
    if (allThree)
        Palette.BuildTables(true, true, true);
    else
        BuildTables();
    RepaintPreview();
    DrawCurve(Curves.Channel);
}

void TPaletteSet::BImageDblClick()
{
    doubleClicked_ = true;
    Curves.Release();
    // In grey-scale mode the three curves are one, so all three tables follow at once.
    if (Curves.Insert(Palette))
        RebuildAfterEdit(Curves.GreyScale);
}

void TPaletteSet::Symmetrize1Click()
{
    const bool set = Curves.ToggleSymmetry(Palette);
    Symmetrize1->setText(set ? QStringLiteral("Asymmetric") : QStringLiteral("Symmetric"));
    DrawCurve(Curves.Channel);
}

void TPaletteSet::DeletePoint1Click()
{
    if (Curves.DeleteSelected(Palette))
        RebuildAfterEdit(Curves.GreyScale);
}

void TPaletteSet::LoadPalette(const std::string &path)
{
    Palette.LoadFromFile(path);
    PaletteFile->setText(QString::fromStdString(path));
    if (Curves.GreyScale)
        Curves.SetGreyScale(Palette, true);
    PointsToScreen();
    RepaintPreview();
    DrawCurve(Curves.Channel);
}

void TPaletteSet::Open1Click()
{
    if (GreyScale->isChecked()) {
        GreyScale->setChecked(false);
        GreyScaleClick();
    }
    std::unique_ptr<QFileDialog> dialog(PaletteDialog(
        this, "LoadPalFile", QStringLiteral("Load Palette File"), QStringLiteral("BlackBody.pal"),
        {QStringLiteral("CCD palette files (*.pal)"), QStringLiteral("All files (*.*)")},
        QFileDialog::AcceptOpen));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    const std::string path = dialog->selectedFiles().front().toStdString();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return;
    LoadedFileName = path;
    LoadPalette(path);
}

void TPaletteSet::SaveAs1Click()
{
    std::unique_ptr<QFileDialog> dialog(
        PaletteDialog(this, "SavePalette", QStringLiteral("Save Palette"), QStringLiteral("UserPalette.pal"),
                      {QStringLiteral("CCD palette files (*.pal)"), QStringLiteral("Text files (*.txt)")},
                      QFileDialog::AcceptSave));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    Palette.SaveToFile(dialog->selectedFiles().front().toStdString());
}

void TPaletteSet::ApplyToTarget()
{
    PPalette *target = TargetPalette();
    if (!target || !MainF)
        return;
    target->Assign(Palette);
    switch (shownTarget_) {
    case EditActiveImage:
        if (TChild *window = ShownWindow()) {
            // The own format stores the palette: closing must ask before it is lost.
            window->Image().Modified = true;
            MainF->DrawPaletteBar(window->ConstImage().Palette);
            window->RenderImage();
        }
        break;
    case EditDefaultPalette:
        MainF->DrawDefaultPaletteBar();
        break;
    case EditGuiderImage:
        if (GuiderF) {
            if (!GuiderF->GuiderImage.Empty)
                GuiderF->GuiderImage.Modified = true;
            GuiderF->UpdatePalBar();
            if (!GuiderF->GuiderImage.Empty)
                GuiderF->RefreshDisplay();
        }
        break;
    case EditGuiderPalette:
        if (GuiderF)
            GuiderF->UpdatePalBar();
        break;
    case EditCompositeLayer: {
        const int layer = shownLayer_;
        if (Composite().LayerLoaded(layer))
            Composite().Layers[layer].Modified = true;
        if (layer == CompositeEditorSettings().View)
            CompositeF->DrawPaletteBar(layer);
        CompositeF->RedrawComposite();
        break;
    }
    case EditCompositePalette: {
        const int layer = shownLayer_;
        if (!Composite().LayerLoaded(layer))
            CompositeF->DrawPaletteBar(layer);
        break;
    }
    default:
        break;
    }
}

void TPaletteSet::PreviewBtnClick()
{
    PaletteBackup = Palette;
    ApplyToTarget();
}

void TPaletteSet::OkBtnClick()
{
    PreviewBtnClick();
    close();
}

void TPaletteSet::ResetBtnClick()
{
    Palette.Assign(PaletteBackup);
    if (Curves.GreyScale)
        Curves.SetGreyScale(Palette, true);
    PointsToScreen();
    DrawCurve(0);
    DrawCurve(1);
    DrawCurve(2);
    Palette.BuildTables(true, true, true);
    RepaintPreview();
    ApplyToTarget();
}

void TPaletteSet::OpenGLPanelInit()
{
    QOpenGLFunctions_1_1 *gl = OpenGLPanel->GL();
    gl->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gl->glShadeModel(GL_SMOOTH);
}

void TPaletteSet::OpenGLPanelPaint()
{
    QOpenGLFunctions_1_1 *gl = OpenGLPanel->GL();
    const int wp = OpenGLPanel->width(), hq = OpenGLPanel->height();
    PreviewRow.resize(static_cast<std::size_t>(wp));
    for (int i = 0; i < wp; ++i)
        PreviewRow[i] = static_cast<std::uint16_t>(std::int64_t{i} * 65536 / wp);
    const double dpr = OpenGLPanel->devicePixelRatioF();
    gl->glViewport(0, 0, static_cast<int>(wp * dpr), static_cast<int>(hq * dpr));
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadIdentity();
    gl->glOrtho(0, wp, 0, hq, -1, 1);
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glLoadIdentity();
    gl->glRasterPos2i(0, 0);
    preview_->SetMaps(Palette.FloatTable[0].data(), Palette.FloatTable[1].data(),
                      Palette.FloatTable[2].data());
    preview_->SetPixels(PreviewRow.data(), wp, 1);
    gl->glPixelZoom(static_cast<float>(dpr), static_cast<float>(hq * dpr));
    preview_->Draw(gl);
    gl->glFlush();
}
