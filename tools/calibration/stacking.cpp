#include "stacking.h"

#include "batch_naming.h"
#include "color_index_view.h"
#include "file_dialogs.h"
#include "file_names.h"
#include "gui_runtime.h"
#include "image_file.h"
#include "main_window.h"
#include "opengl_panel.h"
#include "program_file_dialog.h"
#include "settings.h"
#include "text_format.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QOpenGLFunctions_1_1>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>

TStackMultipleF *StackMultipleF = nullptr;

namespace
{

constexpr int ViewWidth = 480, ViewHeight = 360;

template <typename W> W *Named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QSpinBox *Spin(QWidget *parent, const char *name, int minimum, int maximum, int value)
{
    auto *spin = Named(new QSpinBox(parent), name);
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    return spin;
}

// A group of the four rectangle fields.
QGroupBox *RectangleGroup(QWidget *parent, const QString &title, QSpinBox *&left, QSpinBox *&right,
                          QSpinBox *&top, QSpinBox *&bottom, const char *names[4])
{
    auto *group = new QGroupBox(title, parent);
    left = Spin(group, names[0], 0, 8191, 0);
    right = Spin(group, names[1], 0, 8191, 0);
    top = Spin(group, names[2], 0, 8191, 0);
    bottom = Spin(group, names[3], 0, 8191, 0);
    auto *form = new QFormLayout(group);
    form->addRow(QStringLiteral("Left X:"), left);
    form->addRow(QStringLiteral("Right X:"), right);
    form->addRow(QStringLiteral("Top Y:"), top);
    form->addRow(QStringLiteral("Bottom Y:"), bottom);
    return group;
}

StackRect RectOf(const QSpinBox *left, const QSpinBox *right, const QSpinBox *top, const QSpinBox *bottom)
{
    return {left->value(), right->value(), top->value(), bottom->value()};
}

} // namespace

TStackMultipleF::TStackMultipleF(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), view_(std::make_unique<ColorIndexView>())
{
    setObjectName(QStringLiteral("StackMultipleF"));
    setWindowTitle(QStringLiteral("Stack and trim images"));

    Prefix = Named(new QLineEdit(this), "Prefix");
    BrowseBtn = Named(new QPushButton(QStringLiteral(">>"), this), "BrowseBtn");
    FirstExtNum = Spin(this, "FirstExtNum", 0, 1000000, 1);
    LastExtNum = Spin(this, "LastExtNum", 0, 1000000, 2);
    CombineMethod = Named(new QComboBox(this), "CombineMethod");
    CombineMethod->addItems({QStringLiteral("Median"), QStringLiteral("Average"), QStringLiteral("Sum")});
    // A usable name to start with: "test1" in the frames folder (the format's extension is added
    // when the stack is saved).
    OutputPrefix =
        Named(new QLineEdit(QString::fromStdString(FramesFolder() + "test1"), this), "OutputPrefix");
    BrowseBtn2 = Named(new QPushButton(QStringLiteral(">>"), this), "BrowseBtn2");
    SaveFormat = Named(new QComboBox(this), "SaveFormat");
    SaveFormat->addItems(
        {QStringLiteral("Korvi format"), QStringLiteral("FITS image"), QStringLiteral("PNG")});
    noalignbtn = Named(new QRadioButton(QStringLiteral("Stack without aligning"), this), "noalignbtn");
    singleboxalignbtn = Named(new QRadioButton(QStringLiteral("Stack using single alignment box"), this),
                              "singleboxalignbtn");
    doublealignbtn =
        Named(new QRadioButton(QStringLiteral("Stack using two alignment boxes"), this), "doublealignbtn");
    doublealignbtn->setChecked(true);
    auto *alignGroup = new QButtonGroup(this);
    for (QRadioButton *b : {noalignbtn, singleboxalignbtn, doublealignbtn})
        alignGroup->addButton(b);
    Normalize = Named(new QCheckBox(QStringLiteral("Normalize when computing median"), this), "Normalize");
    SubBias = Named(new QCheckBox(QStringLiteral("Subtract biases when computing median"), this), "SubBias");
    Normalize->setChecked(true);
    SubBias->setChecked(true);

    const char *cropNames[] = {"CropXLO", "CropXHI", "CropYLO", "CropYHI"};
    const char *box1Names[] = {"StackXLO1", "StackXHI1", "StackYLO1", "StackYHI1"};
    const char *box2Names[] = {"StackXLO2", "StackXHI2", "StackYLO2", "StackYHI2"};
    QGroupBox *cropGroup =
        RectangleGroup(this, QStringLiteral("Cropping frame"), CropXLO, CropXHI, CropYLO, CropYHI, cropNames);
    Box1Group = RectangleGroup(this, QStringLiteral("Stacking alignment box 1"), StackXLO1, StackXHI1,
                               StackYLO1, StackYHI1, box1Names);
    Box2Group = RectangleGroup(this, QStringLiteral("Stacking alignment box 2"), StackXLO2, StackXHI2,
                               StackYLO2, StackYHI2, box2Names);

    RefImgNum = Spin(this, "RefImgNum", 1, 1000000, 1);
    OpenRefImgBtn = Named(new QPushButton(QStringLiteral("Open reference image"), this), "OpenRefImgBtn");
    NextImgBtn = Named(new QPushButton(QStringLiteral("Next image"), this), "NextImgBtn");
    PrevImgBtn = Named(new QPushButton(QStringLiteral("Prev. image"), this), "PrevImgBtn");
    StackBtn = Named(new QPushButton(QStringLiteral("Stack and trim"), this), "StackBtn");
    CloseBtn = Named(new QPushButton(QStringLiteral("Close"), this), "CloseBtn");

    ViewArea = new QWidget(this);
    ViewArea->setFixedSize(ViewWidth, ViewHeight);
    OpenGLPanel = Named(new TOpenGLPanel(ViewArea), "OpenGLPanel");
    OpenGLPanel->setMouseTracking(true);
    OpenGLPanel->setFixedSize(ViewWidth, ViewHeight);
    PopupMenu = new QMenu(this);
    Setcroppingframe1 = PopupMenu->addAction(QStringLiteral("Set cropping frame"));
    Selectstackingreferenceframe1 = PopupMenu->addAction(QStringLiteral("Set stacking reference frame 1"));
    Setstackingreferenceframe21 = PopupMenu->addAction(QStringLiteral("Set stacking reference frame 2"));
    StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);

    auto *files = new QFormLayout;
    auto *prefixRow = new QHBoxLayout;
    prefixRow->addWidget(Prefix, 1);
    prefixRow->addWidget(BrowseBtn);
    files->addRow(QStringLiteral("Input file prefix:"), prefixRow);
    files->addRow(QStringLiteral("First postfix index:"), FirstExtNum);
    files->addRow(QStringLiteral("Last postfix index:"), LastExtNum);
    files->addRow(QStringLiteral("Combine method:"), CombineMethod);
    auto *outputRow = new QHBoxLayout;
    outputRow->addWidget(OutputPrefix, 1);
    outputRow->addWidget(BrowseBtn2);
    files->addRow(QStringLiteral("Output file prefix:"), outputRow);
    files->addRow(QStringLiteral("Save format:"), SaveFormat);
    auto *left = new QVBoxLayout;
    left->addLayout(files);
    for (QWidget *w :
         std::initializer_list<QWidget *>{noalignbtn, singleboxalignbtn, doublealignbtn, Normalize, SubBias})
        left->addWidget(w);
    auto *groups = new QHBoxLayout;
    groups->addWidget(cropGroup);
    groups->addWidget(Box1Group);
    groups->addWidget(Box2Group);
    left->addLayout(groups);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(StackBtn);
    buttons->addWidget(CloseBtn);
    left->addLayout(buttons);
    auto *right = new QVBoxLayout;
    right->addWidget(ViewArea);
    auto *refRow = new QHBoxLayout;
    for (QWidget *w : std::initializer_list<QWidget *>{RefImgNum, OpenRefImgBtn, PrevImgBtn, NextImgBtn})
        refRow->addWidget(w);
    right->addLayout(refRow);
    right->addStretch(1);
    auto *columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addLayout(right);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(StatusBar1);

    using korvi::gui::Guarded;
    connect(BrowseBtn, &QPushButton::clicked, this, Guarded([this] { BrowseBtnClick(); }));
    connect(BrowseBtn2, &QPushButton::clicked, this, Guarded([this] { BrowseBtn2Click(); }));
    connect(noalignbtn, &QRadioButton::clicked, this, Guarded([this] { noalignbtnClick(); }));
    connect(singleboxalignbtn, &QRadioButton::clicked, this, Guarded([this] { singleboxalignbtnClick(); }));
    connect(doublealignbtn, &QRadioButton::clicked, this, Guarded([this] { doublealignbtnClick(); }));
    connect(OpenRefImgBtn, &QPushButton::clicked, this, Guarded([this] { OpenRefImgBtnClick(); }));
    connect(NextImgBtn, &QPushButton::clicked, this, Guarded([this] { NextImgBtnClick(); }));
    connect(PrevImgBtn, &QPushButton::clicked, this, Guarded([this] { PrevImgBtnClick(); }));
    connect(StackBtn, &QPushButton::clicked, this, Guarded([this] { StackBtnClick(); }));
    connect(CloseBtn, &QPushButton::clicked, this, Guarded([this] { CloseBtnClick(); }));
    connect(Setcroppingframe1, &QAction::triggered, this, Guarded([this] { Setcroppingframe1Click(); }));
    connect(Selectstackingreferenceframe1, &QAction::triggered, this,
            Guarded([this] { Selectstackingreferenceframe1Click(); }));
    connect(Setstackingreferenceframe21, &QAction::triggered, this,
            Guarded([this] { Setstackingreferenceframe21Click(); }));
    connect(OpenGLPanel, &TOpenGLPanel::OnInit, this, [this] { OpenGLPanelInit(); });
    connect(OpenGLPanel, &TOpenGLPanel::OnPaint, this, [this] { OpenGLPanelPaint(); });
    connect(OpenGLPanel, &TOpenGLPanel::MouseDown, this,
            Guarded([this](Qt::MouseButton b, int x, int y, Qt::KeyboardModifiers) {
                OpenGLPanelMouseDown(b, x, y);
            }));
    connect(OpenGLPanel, &TOpenGLPanel::MouseMove, this,
            Guarded([this](int x, int y, Qt::MouseButtons) { OpenGLPanelMouseMove(x, y); }));
    connect(OpenGLPanel, &TOpenGLPanel::MouseUp, this,
            Guarded([this](Qt::MouseButton b, int x, int y) { OpenGLPanelMouseUp(b, x, y); }));
}

TStackMultipleF::~TStackMultipleF()
{
    if (StackMultipleF == this)
        StackMultipleF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TStackMultipleF::showEvent(QShowEvent *event)
{
    FormShow();
    QWidget::showEvent(event);
}

void TStackMultipleF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TStackMultipleF::FormShow()
{
    ReferenceLoaded = false;
}

void TStackMultipleF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}

void TStackMultipleF::CloseBtnClick()
{
    hide();
}

void TStackMultipleF::SetStatus(const std::string &text)
{
    StatusBar1->showMessage(QString::fromStdString(text));
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TStackMultipleF::BrowseBtnClick()
{
    Settings &settings = CurrentSettings();
    const QString chosen = RunFileDialog(
        this, FileDialogKind::Open, QStringLiteral("Select file name prefix"),
        "Korvi image file (*.kvr)|*.kvr|FITS image file (*.fit, *.fts, *.fiz)|*.fit;*.fts;*.fiz|"
        "Windows bitmap (*.bmp)|*.bmp|Portable Network Graphics (*.png)|*.png|All image formats "
        "(*.kvr, *fit, *.fts, *.fiz, *.bmp, *.png)|*.kvr;*.fit;*.fts;*.fiz;*.bmp;*.png|All files "
        "(*.*)|*.*",
        QString::fromStdString(settings.LastOpenDirectory[0]));
    if (chosen.isEmpty() || !QFileInfo(chosen).isFile())
        return;
    const std::string path = chosen.toStdString();
    const std::string directory = ExtractDirectoryPart(path), file = ExtractFileNamePart(path);
    const std::size_t underscore = file.rfind('_');
    Prefix->setText(QString::fromStdString(directory + (underscore != std::string::npos
                                                            ? file.substr(0, underscore + 1)
                                                            : file.substr(0, file.find('.')))));
    const std::size_t dot = file.rfind('.');
    InputExtension = dot == std::string::npos ? std::string() : file.substr(dot + 1);
    settings.LastOpenDirectory[0] = directory;
}

void TStackMultipleF::BrowseBtn2Click()
{
    Settings &settings = CurrentSettings();
    const char *filter = "Korvi image file (*.kvr)|*.kvr|FITS image file (*.fit)|*.fit|Windows bitmap "
                         "(*.bmp)|*.bmp|Portable Network Graphics (*.png)|*.png|All files (*.*)|*.*";
    const QString chosen = RunFileDialog(this, FileDialogKind::Save, QStringLiteral("Select save filename "),
                                         filter, QString::fromStdString(settings.LastSaveDirectory[0]));
    if (chosen.isEmpty())
        return;
    const std::string path = chosen.toStdString();
    const std::string directory = ExtractDirectoryPart(path), file = ExtractFileNamePart(path);
    // The extension follows the format the name asks for; the dialog has no chosen entry to read.
    // (The extension is given without its dot; a name without a dot has none.)
    const std::string extension =
        file.find('.') == std::string::npos ? std::string() : ExtractExtension(file);
    const bool known = extension == "kvr" || extension == "fit" || extension == "bmp" || extension == "png";
    OutputPrefix->setText(
        QString::fromStdString(directory + file.substr(0, file.find('.')) + (known ? "." + extension : "")));
    settings.LastSaveDirectory[0] = directory;
}

void TStackMultipleF::noalignbtnClick()
{
    Box1Group->setEnabled(false);
    Box2Group->setEnabled(false);
    OpenRefImgBtn->setEnabled(false);
}

void TStackMultipleF::singleboxalignbtnClick()
{
    Box1Group->setEnabled(true);
    Box2Group->setEnabled(false);
    OpenRefImgBtn->setEnabled(true);
}

void TStackMultipleF::doublealignbtnClick()
{
    Box1Group->setEnabled(true);
    Box2Group->setEnabled(true);
    OpenRefImgBtn->setEnabled(true);
}

void TStackMultipleF::OpenRefImgBtnClick()
{
    // A prefix typed by hand works like a browsed one: its extension is found from the files.
    const SeriesNames series =
        ResolveSeries(Prefix->text().toStdString(), InputExtension, RefImgNum->value(), RefImgNum->value());
    if (!series.Found) {
        korvi::gui::ShowMessage(
            QString::fromStdString(SeriesNotFound(Prefix->text().toStdString(), InputExtension,
                                                  RefImgNum->value(), RefImgNum->value())),
            QStringLiteral("Korvi"));
        return;
    }
    Prefix->setText(QString::fromStdString(series.Prefix));
    InputExtension = series.Extension;
    const std::string path = SeriesFileName(series, RefImgNum->value());
    ::BusyCursor busy;
    if (!LoadImageFile(path, Reference))
        return;
    ReferenceLoaded = true;
    ZoomToFit();
    BuildDisplayMap();
    SetRegionLimits();
    CurrentSettings().LastOpenDirectory[0] = ExtractDirectoryPart(path);
}

void TStackMultipleF::NextImgBtnClick()
{
    if (RefImgNum->value() < LastExtNum->value())
        RefImgNum->setValue(RefImgNum->value() + 1);
    OpenRefImgBtnClick();
}

void TStackMultipleF::PrevImgBtnClick()
{
    if (RefImgNum->value() > FirstExtNum->value())
        RefImgNum->setValue(RefImgNum->value() - 1);
    OpenRefImgBtnClick();
}

void TStackMultipleF::SetRegionLimits()
{
    if (Reference.Empty)
        return;
    const int xMax = Reference.Width - 1, yMax = Reference.Height - 1;
    for (QSpinBox *x : {CropXLO, CropXHI, StackXLO1, StackXHI1, StackXLO2, StackXHI2})
        x->setMaximum(xMax);
    for (QSpinBox *y : {CropYLO, CropYHI, StackYLO1, StackYHI1, StackYLO2, StackYHI2})
        y->setMaximum(yMax);
    CropXLO->setValue(0);
    CropXHI->setValue(xMax);
    CropYLO->setValue(0);
    CropYHI->setValue(yMax);
}

void TStackMultipleF::ZoomToFit()
{
    if (Reference.Empty)
        return;
    const float imageAspect = static_cast<float>(Reference.Height) / Reference.Width;
    const float panelAspect = static_cast<float>(ViewArea->height()) / ViewArea->width();
    Zoom = imageAspect > panelAspect ? static_cast<float>(ViewArea->height()) / Reference.Height
                                     : static_cast<float>(ViewArea->width()) / Reference.Width;
}

void TStackMultipleF::BuildDisplayMap()
{
    if (Reference.Empty)
        return;
    if (Reference.Gain != mapGain_ || Reference.DisplayOffset != mapBlack_ || Reference.Palette.Dirty) {
        view_->SetPaletteMaps(Reference.Palette.FloatTable[0].data(), Reference.Palette.FloatTable[1].data(),
                              Reference.Palette.FloatTable[2].data(), Reference.DisplayOffset,
                              Reference.Gain);
        mapGain_ = Reference.Gain;
        mapBlack_ = Reference.DisplayOffset;
    }
    view_->SetPixels(Reference.FramePixels(0), Reference.Width, Reference.Height);
    OpenGLPanel->setFixedSize(std::max(1, static_cast<int>(Zoom * Reference.Width)),
                              std::max(1, static_cast<int>(Zoom * Reference.Height)));
    OpenGLPanel->update();
}

void TStackMultipleF::OpenGLPanelInit()
{
    QOpenGLFunctions_1_1 *gl = OpenGLPanel->GL();
    gl->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT);
}

void TStackMultipleF::OpenGLPanelPaint()
{
    QOpenGLFunctions_1_1 *gl = OpenGLPanel->GL();
    const int w = OpenGLPanel->width(), h = OpenGLPanel->height();
    const double dpr = OpenGLPanel->devicePixelRatioF();
    gl->glViewport(0, 0, static_cast<int>(w * dpr), static_cast<int>(h * dpr));
    gl->glClear(GL_COLOR_BUFFER_BIT);
    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadIdentity();
    gl->glOrtho(0, w, 0, h, -1, 1);
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glLoadIdentity();
    if (!Reference.Empty) {
        gl->glRasterPos2i(0, 0);
        gl->glPixelZoom(static_cast<float>(Zoom * dpr), static_cast<float>(Zoom * dpr));
        view_->Draw(gl);
    }
    if (dragging_) {
        DrawSelectionBox(gl, float(dragX0_), float(h - dragY0_), float(dragX1_), float(h - dragY1_));
    }
    gl->glFlush();
}

void TStackMultipleF::ViewToImage(int x, int y, int &ix, int &iy) const
{
    const int pw = std::max(1, OpenGLPanel->width()), ph = std::max(1, OpenGLPanel->height());
    ix = static_cast<int>(static_cast<long long>(x) * Reference.Width / pw);
    iy = static_cast<int>(static_cast<long long>(Reference.Height) * (ph - y) / ph);
}

void TStackMultipleF::OpenGLPanelMouseMove(int x, int y)
{
    if (dragging_) {
        dragX1_ = x;
        dragY1_ = y;
        OpenGLPanel->update();
    }
    if (Reference.Empty)
        return;
    int ix, iy;
    ViewToImage(x, y, ix, iy);
    const QString where = QStringLiteral("X=%1, Y=%2").arg(ix).arg(iy);
    if (ix >= 0 && ix < Reference.Width && iy >= 0 && iy < Reference.Height)
        StatusBar1->showMessage(where + QStringLiteral(", Value: ") +
                                QString::number(Reference.Rows[iy][ix]));
    else
        StatusBar1->showMessage(where + QStringLiteral(", Excluded pixel."));
}

void TStackMultipleF::OpenGLPanelMouseDown(Qt::MouseButton button, int x, int y)
{
    if (button == Qt::LeftButton) {
        dragging_ = true;
        dragX0_ = dragX1_ = x;
        dragY0_ = dragY1_ = y;
    } else if (button == Qt::RightButton) {
        PopupMenu->popup(OpenGLPanel->mapToGlobal(QPoint(x, y)));
    }
}

void TStackMultipleF::OpenGLPanelMouseUp(Qt::MouseButton button, int x, int y)
{
    if (button != Qt::LeftButton || !dragging_)
        return;
    dragging_ = false;
    OpenGLPanel->update();
    if (Reference.Empty || x == dragX0_ || y == dragY0_) {
        RectValid = false;
        return;
    }
    int x0, y0, x1, y1;
    ViewToImage(dragX0_, dragY0_, x0, y0);
    ViewToImage(x, y, x1, y1);
    RectLeft = std::clamp(std::min(x0, x1), 0, Reference.Width - 1);
    RectRight = std::clamp(std::max(x0, x1), 0, Reference.Width - 1);
    RectTop = std::clamp(std::min(y0, y1), 0, Reference.Height - 1);
    RectBottom = std::clamp(std::max(y0, y1), 0, Reference.Height - 1);
    RectValid = true;
}

void TStackMultipleF::CopyRectangle(QSpinBox *left, QSpinBox *right, QSpinBox *top, QSpinBox *bottom)
{
    if (!RectValid)
        return;
    left->setValue(RectLeft);
    right->setValue(RectRight);
    top->setValue(RectTop);
    bottom->setValue(RectBottom);
}

void TStackMultipleF::Setcroppingframe1Click()
{
    CopyRectangle(CropXLO, CropXHI, CropYLO, CropYHI);
}

void TStackMultipleF::Selectstackingreferenceframe1Click()
{
    CopyRectangle(StackXLO1, StackXHI1, StackYLO1, StackYHI1);
}

void TStackMultipleF::Setstackingreferenceframe21Click()
{
    CopyRectangle(StackXLO2, StackXHI2, StackYLO2, StackYHI2);
}

void TStackMultipleF::StackBtnClick()
{
    // The status tells how this run ends; an earlier run's "Done." must not stand for a refused one.
    SetStatus("");
    const int n = LastExtNum->value() - FirstExtNum->value() + 1;
    const auto say = [](const std::string &text) {
        korvi::gui::ShowMessage(QString::fromStdString(text), QStringLiteral("Korvi"));
    };
    if (n <= 0) {
        say("Last postfix index must be larger than the first postfix index.");
        return;
    }
    if (!ReferenceLoaded && !noalignbtn->isChecked()) {
        say("A reference image must be loaded");
        return;
    }
    // The output name is checked before the work: an empty name, or one that cannot be written,
    // would otherwise be found only after every frame was stacked.
    static constexpr int formats[] = {FormatNative, FormatFits, FormatPng};
    const int format = formats[std::clamp(SaveFormat->currentIndex(), 0, 2)];
    const std::string typedName(TrimText(OutputPrefix->text().toStdString()));
    if (typedName.empty()) {
        say("Enter the name of the stacked image in \"Output file prefix:\"; nothing was stacked.");
        return;
    }
    const std::string outputName = WithExtension(typedName, SaveFormatExtension(format));
    if (!ReplacingFile(outputName).Open()) {
        say("Could not open " + outputName +
            " to write (check that the folder exists and can be written); nothing was stacked.");
        return;
    }
    SeriesNames series = ResolveSeries(Prefix->text().toStdString(), InputExtension, FirstExtNum->value(),
                                       LastExtNum->value());
    if (!series.Found) {
        say(SeriesNotFound(Prefix->text().toStdString(), InputExtension, FirstExtNum->value(),
                           LastExtNum->value()));
        return;
    }
    std::vector<std::string> frames;
    for (int k = FirstExtNum->value(); k <= LastExtNum->value() && frames.size() < 100000; ++k)
        frames.push_back(SeriesFileName(series, k));
    if (const std::string clash = OutputOverInput(outputName, frames); !clash.empty()) {
        say(clash);
        return;
    }
    StackOptions options;
    options.Combine = static_cast<::CombineMethod>(std::max(0, CombineMethod->currentIndex()));
    options.Alignment = noalignbtn->isChecked()          ? StackAlignment::None
                        : singleboxalignbtn->isChecked() ? StackAlignment::SingleBox
                                                         : StackAlignment::TwoBoxes;
    options.Normalize = Normalize->isChecked();
    options.SubtractBias = SubBias->isChecked();
    options.Crop = RectOf(CropXLO, CropXHI, CropYLO, CropYHI);
    options.Box1 = RectOf(StackXLO1, StackXHI1, StackYLO1, StackYHI1);
    options.Box2 = RectOf(StackXLO2, StackXHI2, StackYLO2, StackYHI2);
    ImageData result;
    std::string problem;
    const bool stacked = StackSeries(
        Reference, n, options, SeriesFileLoader(series.Prefix, FirstExtNum->value(), series.Extension),
        [this](const std::string &text) { SetStatus(text); }, result, nullptr, problem);
    if (!stacked) {
        say(problem);
        return;
    }
    SetStatus("Saving image.");
    const bool saved = MainF ? MainF->SaveImageInFormat(outputName, result, format)
                             : SaveImageFile(outputName, format, result);
    // "Done." only once the stack is on disk.
    SetStatus(saved ? "Done." : "The stacked image was not saved to " + outputName + ".");
}
