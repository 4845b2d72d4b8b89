#include "processing_dialog.h"

#include "processing/stars.h"
#include "sky_model_window.h"

#include "edit_target.h"
#include "gui_runtime.h"
#include "image_data.h"
#include "image_window.h"
#include "main_window.h"
#include "processing/filters.h"
#include "settings.h"
#include "text_format.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <memory>

TFilterF *FilterF = nullptr;

namespace
{

using korvi::gui::Guarded;

QSpinBox *MakeSpin(QWidget *parent, const char *name, int minimum, int maximum, int value, int step = 1)
{
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(minimum, maximum);
    spin->setSingleStep(step);
    spin->setValue(value);
    return spin;
}

QRadioButton *MakeRadio(QWidget *parent, const char *name, const QString &caption)
{
    auto *radio = new QRadioButton(caption, parent);
    radio->setObjectName(QString::fromLatin1(name));
    return radio;
}

QWidget *MakePage(QTabWidget *pages, const char *name, const QString &caption)
{
    auto *page = new QWidget(pages);
    page->setObjectName(QString::fromLatin1(name));
    pages->addTab(page, caption);
    return page;
}

QTableWidget *MakeGrid(QWidget *parent, const char *name)
{
    auto *grid = new QTableWidget(6, 6, parent);
    grid->setObjectName(QString::fromLatin1(name));
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    for (int i = 0; i < 6; ++i) {
        grid->setColumnWidth(i, 52);
        for (int j = 0; j < 6; ++j) {
            auto *item = new QTableWidgetItem;
            if (i == 0 || j == 0) { // the headers, 1..5 along row 0 and column 0
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(grid->palette().button());
                if (i + j > 0)
                    item->setText(QString::number(i + j));
            }
            grid->setItem(i, j, item);
        }
    }
    return grid;
}

QString ProgramDirectory()
{
    return QString::fromStdString(MainF ? MainF->ProgramDirectory() : CurrentSettings().ProgramDirectory);
}

void Report(const QString &text)
{
    korvi::gui::ShowMessage(text, QStringLiteral("Korvi"), MessageButtons::Ok, MessageIcon::Warning);
}

// The filter file dialog: Qt's own, so it looks the same everywhere and tests can drive it.
QString ChooseFilterFile(QWidget *parent, bool save, const std::string &current)
{
    const std::unique_ptr<QFileDialog> dialog(new QFileDialog(parent));
    dialog->setObjectName(save ? QStringLiteral("SaveFilterDialog") : QStringLiteral("LoadFilterDialog"));
    korvi::gui::PrepareFileDialog(*dialog);
    dialog->setWindowTitle(save ? QStringLiteral("Save convolution filter")
                                : QStringLiteral("Load convolution filter"));
    if (save) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    dialog->setNameFilter(QStringLiteral("Filter file format (*.qzk)"));
    dialog->setDirectory(ProgramDirectory() + QStringLiteral("Filters"));
    dialog->selectFile(QString::fromStdString(current));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return QString();
    return dialog->selectedFiles().front();
}

struct PageEntry {
    QWidget *TFilterF::*page;
    int code;
};
constexpr PageEntry PageCodes[] = {
    {&TFilterF::ConvolutionPage, 1}, {&TFilterF::AveragePage, 4},       {&TFilterF::GaussPage, 2},
    {&TFilterF::MedianPage, 5},      {&TFilterF::MinMaxPage, 10},       {&TFilterF::UnsharpPage, 6},
    {&TFilterF::ThresholdPage, 14},  {&TFilterF::SubtractBiasPage, 15}, {&TFilterF::TrimPage, 7},
    {&TFilterF::ModelSkyPage, 13},   {&TFilterF::LogRescalePage, 16},
};

} // namespace

TFilterF::TFilterF(QWidget *parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("FilterF"));
    setWindowTitle(QStringLiteral("Image Processing"));
    const std::string directory = ProgramDirectory().toStdString();
    for (int i = 0; i < FilterListEntries; ++i)
        FilterFileNames[i] = directory + ShippedFilterFileNames[i];
    BuildPages();
    FilterF = this;
}

TFilterF::~TFilterF()
{
    if (FilterF == this)
        FilterF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TFilterF::BuildPages()
{
    auto *layout = new QVBoxLayout(this);
    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    // Every page's caption stays in sight: the window is as wide as its row of tabs.
    PageControl->tabBar()->setUsesScrollButtons(false);
    PageControl->tabBar()->setElideMode(Qt::ElideNone);
    layout->addWidget(PageControl);

    // Convolution: the two kernels, the filter list, the size, the power and the filter files.
    ConvolutionPage = MakePage(PageControl, "ConvolutionPage", QStringLiteral("Convolution"));
    auto *convolution = new QGridLayout(ConvolutionPage);
    MatrixPages = new QTabWidget(ConvolutionPage);
    MatrixPages->setObjectName(QStringLiteral("MatrixPages"));
    Matrix1 = MakeGrid(MatrixPages, "Matrix1");
    Matrix2 = MakeGrid(MatrixPages, "Matrix2");
    MatrixPages->addTab(Matrix1, QStringLiteral("Primary matrix"));
    MatrixPages->addTab(Matrix2, QStringLiteral("Secondary matrix"));
    convolution->addWidget(MatrixPages, 0, 0, 6, 1);
    FilterBox = new QComboBox(ConvolutionPage);
    FilterBox->setObjectName(QStringLiteral("FilterBox"));
    for (const char *text : FilterListTexts)
        FilterBox->addItem(QString::fromLatin1(text));
    convolution->addWidget(FilterBox, 0, 1);
    Size3 = MakeRadio(ConvolutionPage, "Size3", QStringLiteral("Use 3 x 3 convolution matrices"));
    Size5 = MakeRadio(ConvolutionPage, "Size5", QStringLiteral("Use 5 x 5 convolution matrices"));
    Size3->setChecked(true);
    convolution->addWidget(Size3, 1, 1);
    convolution->addWidget(Size5, 2, 1);
    auto *power = new QHBoxLayout;
    power->addWidget(new QLabel(QStringLiteral("Filter power:"), ConvolutionPage));
    FiltPower = MakeSpin(ConvolutionPage, "FiltPower", 1, 4, 1);
    power->addWidget(FiltPower);
    convolution->addLayout(power, 3, 1);
    SaveFilterBtn = new QPushButton(QStringLiteral("Save Filter"), ConvolutionPage);
    SaveFilterBtn->setObjectName(QStringLiteral("SaveFilterBtn"));
    LoadFilterBtn = new QPushButton(QStringLiteral("Load Filter"), ConvolutionPage);
    LoadFilterBtn->setObjectName(QStringLiteral("LoadFilterBtn"));
    convolution->addWidget(SaveFilterBtn, 4, 1);
    convolution->addWidget(LoadFilterBtn, 5, 1);
    connect(FilterBox, &QComboBox::activated, this, Guarded([this](int entry) { FilterBoxChange(entry); }));
    connect(Size3, &QRadioButton::clicked, this, Guarded([this] {
                KernelSize = 0;
                ShowKernel();
            }));
    connect(Size5, &QRadioButton::clicked, this, Guarded([this] {
                KernelSize = 1;
                ShowKernel();
            }));
    connect(FiltPower, &QSpinBox::valueChanged, this, Guarded([this](int value) {
                FilterPower = value - 1;
                ShowKernel();
            }));
    connect(SaveFilterBtn, &QPushButton::clicked, this, Guarded([this] { SaveFilterBtnClick(); }));
    connect(LoadFilterBtn, &QPushButton::clicked, this, Guarded([this] { LoadFilterBtnClick(); }));

    AveragePage = MakePage(PageControl, "AveragePage", QStringLiteral("Local average"));
    AvgRadius = MakeSpin(AveragePage, "AvgRadius", 1, 100, 1);
    (new QFormLayout(AveragePage))->addRow(QStringLiteral("Averaging radius:"), AvgRadius);

    GaussPage = MakePage(PageControl, "GaussPage", QStringLiteral("Gaussian convolution"));
    Sigma = MakeSpin(GaussPage, "Sigma", 1, 20, 1);
    (new QFormLayout(GaussPage))->addRow(QStringLiteral("Gaussian half-width for convolution:"), Sigma);

    MedianPage = MakePage(PageControl, "MedianPage", QStringLiteral("Local median"));
    SSize = MakeSpin(MedianPage, "SSize", 3, 21, 5, 2);
    Sensitivity = MakeSpin(MedianPage, "Sensitivity", 0, 100, 100);
    auto *median = new QFormLayout(MedianPage);
    median->addRow(QStringLiteral("Sampling matrix size:"), SSize);
    median->addRow(QStringLiteral("Sensitivity (0 to 100):"), Sensitivity);
    // Only odd sizes make a window centred on the pixel.
    connect(SSize, &QSpinBox::editingFinished, this, [this] {
        if (SSize->value() % 2 == 0)
            SSize->setValue(SSize->value() + 1);
    });

    MinMaxPage = MakePage(PageControl, "MinMaxPage", QStringLiteral("Minimal/Maximal"));
    auto *minMax = new QHBoxLayout(MinMaxPage);
    MMImage = new QLabel(MinMaxPage);
    MMImage->setObjectName(QStringLiteral("MMImage"));
    MMImage->setFixedSize(160, 160);
    MMImage->installEventFilter(this);
    minMax->addWidget(MMImage);
    auto *radios = new QVBoxLayout;
    MinimalBtn = MakeRadio(MinMaxPage, "MinimalBtn", QStringLiteral("Minimal filter"));
    MaximalBtn = MakeRadio(MinMaxPage, "MaximalBtn", QStringLiteral("Maximal filter"));
    ClosingBtn = MakeRadio(MinMaxPage, "ClosingBtn", QStringLiteral("Closing operation"));
    OpeningBtn = MakeRadio(MinMaxPage, "OpeningBtn", QStringLiteral("Opening operation"));
    MinimalBtn->setChecked(true);
    int code = 8;
    for (QRadioButton *radio : {MinimalBtn, MaximalBtn, ClosingBtn, OpeningBtn}) {
        radios->addWidget(radio);
        connect(radio, &QRadioButton::clicked, this, [code] { LastOperation = code; });
        ++code;
    }
    radios->addStretch(1);
    minMax->addLayout(radios);
    MinMaxPage->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(MinMaxPage, &QWidget::customContextMenuRequested, this,
            [this] { LastOperation = MinMaxRadioCode(); });
    DrawMinMaxPicker();

    UnsharpPage = MakePage(PageControl, "UnsharpPage", QStringLiteral("Unsharp mask"));
    auto *unsharp = new QFormLayout(UnsharpPage);
    GaussBtn = MakeRadio(UnsharpPage, "GaussBtn", QStringLiteral("Use gaussian convolution in unsharp mask"));
    LocalAvgBtn = MakeRadio(UnsharpPage, "LocalAvgBtn", QStringLiteral("Use local average for unsharp mask"));
    GaussBtn->setChecked(true);
    CSpinEdit1 = MakeSpin(UnsharpPage, "CSpinEdit1", 1, 20, 2);
    AvgRad = MakeSpin(UnsharpPage, "AvgRad", 1, 20, 3);
    ShiftVal = MakeSpin(UnsharpPage, "ShiftVal", 0, 16000, 0, 50);
    HFWeight = MakeSpin(UnsharpPage, "HFWeight", 1, 100, 10);
    LFWeight = new QLineEdit(QStringLiteral("0.2"), UnsharpPage);
    LFWeight->setObjectName(QStringLiteral("LFWeight"));
    unsharp->addRow(GaussBtn);
    unsharp->addRow(LocalAvgBtn);
    unsharp->addRow(QStringLiteral("Gaussian half-width for convolution"), CSpinEdit1);
    unsharp->addRow(QStringLiteral("Averaging radius"), AvgRad);
    unsharp->addRow(QStringLiteral("Offset in final intensity"), ShiftVal);
    unsharp->addRow(QStringLiteral("High frequency weighting factor"), HFWeight);
    unsharp->addRow(QStringLiteral("Low frequency weighting factor"), LFWeight);

    ThresholdPage = MakePage(PageControl, "ThresholdPage", QStringLiteral("Threshold"));
    UpperThreshold = MakeSpin(ThresholdPage, "UpperThreshold", 0, 65535, 65535);
    LowerThreshold = MakeSpin(ThresholdPage, "LowerThreshold", 0, 65535, 0);
    auto *threshold = new QFormLayout(ThresholdPage);
    threshold->addRow(QStringLiteral("Upper intensity threshold:"), UpperThreshold);
    threshold->addRow(QStringLiteral("Lower intensity threshold:"), LowerThreshold);

    SubtractBiasPage = MakePage(PageControl, "SubtractBiasPage", QStringLiteral("Subtract bias"));
    BiasLevel = MakeSpin(SubtractBiasPage, "BiasLevel", 0, 65535, 0);
    (new QFormLayout(SubtractBiasPage))->addRow(QStringLiteral("Bias to subtract:"), BiasLevel);

    TrimPage = MakePage(PageControl, "TrimPage", QStringLiteral("Trim"));
    auto *trim = new QFormLayout(TrimPage);
    trim->addRow(new QLabel(QStringLiteral("Subframe corner coordinates"), TrimPage));
    TrimXLO = MakeSpin(TrimPage, "TrimXLO", -65535, 65535, 0);
    TrimYLO = MakeSpin(TrimPage, "TrimYLO", -65535, 65535, 0);
    TrimXHI = MakeSpin(TrimPage, "TrimXHI", -65535, 65535, 0);
    TrimYHI = MakeSpin(TrimPage, "TrimYHI", -65535, 65535, 0);
    trim->addRow(QStringLiteral("Lower X coordinate:"), TrimXLO);
    trim->addRow(QStringLiteral("Lower Y coordinate:"), TrimYLO);
    trim->addRow(QStringLiteral("Upper X coordinate:"), TrimXHI);
    trim->addRow(QStringLiteral("Upper Y coordinate:"), TrimYHI);

    ModelSkyPage = MakePage(PageControl, "ModelSkyPage", QStringLiteral("Model sky"));
    auto *sky = new QFormLayout(ModelSkyPage);
    PolyOrder = MakeSpin(ModelSkyPage, "PolyOrder", 1, 9, 1);
    AutoSkyModel = MakeRadio(ModelSkyPage, "AutoSkyModel", QStringLiteral("Automatically sampled sky model"));
    ManualSkyModel =
        MakeRadio(ModelSkyPage, "ManualSkyModel", QStringLiteral("Use manually sampled sky model"));
    AutoSkyModel->setChecked(true);
    ManualSkyBtn = new QPushButton(QStringLiteral("Manual sky sampling..."), ModelSkyPage);
    ManualSkyBtn->setObjectName(QStringLiteral("ManualSkyBtn"));
    sky->addRow(QStringLiteral("Polynomial order:"), PolyOrder);
    sky->addRow(AutoSkyModel);
    sky->addRow(ManualSkyModel);
    sky->addRow(ManualSkyBtn);
    connect(ManualSkyModel, &QRadioButton::clicked, this, [this] { PolyOrder->setEnabled(false); });
    connect(AutoSkyModel, &QRadioButton::clicked, this, [this] { PolyOrder->setEnabled(true); });
    connect(ManualSkyBtn, &QPushButton::clicked, this, Guarded([] {
                if (MainF)
                    MainF->ShowProgramWindow("TSkyModelF");
            }));

    LogRescalePage = MakePage(PageControl, "LogRescalePage", QStringLiteral("Log rescale"));
    auto *logRescale = new QFormLayout(LogRescalePage);
    logRescale->addRow(new QLabel(
        QStringLiteral("Note: Image display will be set to a linear scale after preview is clicked."),
        LogRescalePage));
    BiasLevel2 = MakeSpin(LogRescalePage, "BiasLevel2", 1, 65535, 1);
    MaxInt = MakeSpin(LogRescalePage, "MaxInt", 0, 65535, 65535);
    logRescale->addRow(QStringLiteral("Bias level:"), BiasLevel2);
    logRescale->addRow(QStringLiteral("Maximum intensity:"), MaxInt);

    // A page whose operation is not built yet cannot be chosen.
    for (const PageEntry &entry : PageCodes)
        PageControl->setTabEnabled(PageControl->indexOf(this->*entry.page), Dispatches(entry.code));
    connect(PageControl, &QTabWidget::currentChanged, this,
            Guarded([this](int index) { PageActivated(index); }));

    auto *buttons = new QHBoxLayout;
    const std::pair<QPushButton **, const char *> made[] = {
        {&PreviewBtn, "PreviewBtn"}, {&ApplyBtn, "ApplyBtn"}, {&UndoBtn, "UndoBtn"}, {&RedoBtn, "RedoBtn"}};
    const QString captions[] = {QStringLiteral("Preview"), QStringLiteral("Apply Filter"),
                                QStringLiteral("Undo"), QStringLiteral("Redo")};
    for (int i = 0; i < 4; ++i) {
        *made[i].first = new QPushButton(captions[i], this);
        (*made[i].first)->setObjectName(QString::fromLatin1(made[i].second));
        buttons->addWidget(*made[i].first);
    }
    layout->addLayout(buttons);
    connect(PreviewBtn, &QPushButton::clicked, this, Guarded([this] { PreviewBtnClick(); }));
    connect(ApplyBtn, &QPushButton::clicked, this, Guarded([this] { ApplyBtnClick(); }));
    connect(UndoBtn, &QPushButton::clicked, this, Guarded([this] { UndoBtnClick(); }));
    connect(RedoBtn, &QPushButton::clicked, this, Guarded([this] { RedoBtnClick(); }));
    if (MainF)
        connect(MainF, &TMainF::UndoChanged, this, [this] { UpdateUndoButtons(); });
    UpdateUndoButtons();
}

// ---------------------------------------------------------------------------------------------
// Dispatch

bool TFilterF::Dispatches(int code)
{
    switch (code) {
    case 1:
    case 2:
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 13:
    case 14:
    case 15:
    case 16:
        return true;
    default:
        return false;
    }
}

bool TFilterF::CanRepeatOperation(int code) const
{
    return Dispatches(code);
}

int TFilterF::ShownOperation() const
{
    const QWidget *page = PageControl->currentWidget();
    return page == MinMaxPage ? MinMaxRadioCode() : PageCode(page);
}

bool TFilterF::ReadOperation(int code, FilterOperation &operation)
{
    operation.code = code;
    if (code == 1) {
        if (!ReadKernel())
            return false;
        for (int m = 0; m < 5; ++m)
            for (int n = 0; n < 5; ++n)
                for (int k = 0; k < 2; ++k)
                    operation.kernels.Cell[m][n][k] = FilterKernels[m][n][FilterPower][KernelSize][k];
        operation.kernel5 = KernelSize == 1;
    }
    operation.sigma = Sigma->value();
    operation.averageRadius = AvgRadius->value();
    operation.medianSize = SSize->value() | 1;
    operation.medianFactor = static_cast<float>((100 - Sensitivity->value()) * 0.01);
    operation.unsharpSigma = CSpinEdit1->value();
    operation.unsharpRadius = AvgRad->value();
    operation.unsharpShift = ShiftVal->value();
    operation.unsharpHigh = HFWeight->value();
    operation.unsharpLow = static_cast<float>(ParseNumber(LFWeight->text().toStdString()));
    operation.unsharpGauss = GaussBtn->isChecked();
    operation.minMaxCorner = MinMaxCorner;
    const QSpinBox *const corners[] = {TrimXLO, TrimYLO, TrimXHI, TrimYHI};
    for (int i = 0; i < 4; ++i)
        operation.trim[i] = corners[i]->value();
    operation.manualSky = ManualSkyModel->isChecked();
    if (operation.manualSky && SkyModelF)
        operation.skyFit = SkyModelF->FittedModel();
    operation.polyOrder = PolyOrder->value();
    operation.upper = UpperThreshold->value();
    operation.lower = LowerThreshold->value();
    operation.bias = BiasLevel->value();
    operation.logBias = BiasLevel2->value();
    operation.logMax = MaxInt->value();
    return true;
}

void TFilterF::ApplyBtnClick()
{
    if (settingsOnly_)
        return;
    if (!shown_)
        ReadTarget(); // shown before any image was open: the image there is now
    const ProcessingTarget target = CommandTarget(shown_, nullptr);
    FilterOperation operation;
    if (!target || !ReadOperation(ShownOperation(), operation))
        return; // nothing to act on, or a kernel cell that is not a number: nothing changed
    ApplyOperation(target, operation);
}

void TFilterF::DispatchLastOperation()
{
    const ProcessingTarget target = ProcessingTarget::Resolve(TargetImage);
    FilterOperation operation;
    if (!target || !Dispatches(LastOperation) || !ReadOperation(LastOperation, operation))
        return;
    ApplyOperation(target, operation);
}

void TFilterF::ApplyOperation(const ProcessingTarget &target, const FilterOperation &operation)
{
    const int code = operation.code;
    if (code == 13 && operation.manualSky && target.EditTargetValue() != EditBatchImage &&
        !(SkyModelF && SkyModelF->FitBelongsTo(target))) {
        // The sky-model window's fit belongs to the image its points were taken on.
        korvi::gui::ShowMessage(QStringLiteral("The manually sampled sky model was not fitted on this image; "
                                               "fit it in the sky model window first."),
                                QStringLiteral("Korvi"));
        return;
    }
    // Redo repeats the operation with these values. Not a manual sky model: its fit belongs to
    // the pixels it was taken on, which the subtraction has just changed.
    Operation run{code, "TFilterF", {}};
    if (!(code == 13 && operation.manualSky)) {
        const QPointer<TFilterF> self(this);
        run.repeat = [self, operation](const ProcessingTarget &again) {
            if (self)
                self->ApplyOperation(again, operation);
        };
    }
    const bool applied = target.Apply(run, [&](ImageData &image) { RunOperation(operation, image); });
    if (applied && code == 16 && target.Window() && MainF) {
        MainF->SetDisplayScale(false); // a log-rescaled image is shown on the linear scale
        target.Window()->RenderImage();
    }
}

void TFilterF::RunOperation(const FilterOperation &operation, ImageData &image)
{
    const BusyCursor busy;
    const FilterOperation &o = operation;
    switch (o.code) {
    case 1:
        ApplyConvolution(image, o.kernel5, o.kernels);
        break;
    case 2:
        ApplyGaussianConvolution(image, o.sigma);
        break;
    case 4:
        ApplyLocalAverage(image, o.averageRadius);
        break;
    case 5:
        ApplyMedianFilter(image, o.medianSize, o.medianFactor);
        break;
    case 6:
        ApplyUnsharpMask(image, o.unsharpSigma, o.unsharpRadius, o.unsharpShift, o.unsharpHigh, o.unsharpLow,
                         o.unsharpGauss);
        break;
    case 8:
    case 9:
        ApplyMinMaxFilter(o.minMaxCorner, o.code == 8, image);
        break;
    case 10: // closing: expansion, then erosion
        ApplyMinMaxFilter(o.minMaxCorner, false, image);
        ApplyMinMaxFilter(o.minMaxCorner, true, image);
        break;
    case 11: // opening: erosion, then expansion
        ApplyMinMaxFilter(o.minMaxCorner, true, image);
        ApplyMinMaxFilter(o.minMaxCorner, false, image);
        break;
    case 7:
        TrimToCorners(image, o.trim);
        break;
    case 13:
        // The manual model is subtracted with the order and scaling it was fitted with; without
        // a fit there is nothing to subtract.
        if (o.manualSky)
            SubtractSkyModel(image, o.skyFit);
        else
            FitAndSubtractSkyModel(image, o.polyOrder);
        break;
    case 14:
        ClipImage(image, o.upper, o.lower);
        break;
    case 15:
        SubtractThreshold(image, o.bias);
        break;
    case 16:
        ApplyLogScale(image, o.logBias, o.logMax);
        break;
    default: // no operation of this dialog
        break;
    }
}

void TFilterF::TrimToCorners(ImageData &image, const int (&corners)[4])
{
    // The corners are held inside the image and put in order, and the spin edits show what is used.
    QSpinBox *const spins[] = {TrimXLO, TrimYLO, TrimXHI, TrimYHI};
    int c[4];
    for (int i = 0; i < 4; ++i) {
        const int last = (i % 2 == 0 ? image.Width : image.Height) - 1;
        c[i] = std::clamp(corners[i], 0, std::max(last, 0));
    }
    if (c[0] > c[2])
        std::swap(c[0], c[2]);
    if (c[1] > c[3])
        std::swap(c[1], c[3]);
    for (int i = 0; i < 4; ++i) {
        const QSignalBlocker block(spins[i]);
        spins[i]->setValue(c[i]);
    }
    if (c[2] - c[0] < 1 && c[3] - c[1] < 1)
        return;
    CropImage(image, c[0], c[1], c[2], c[3]);
}

void TFilterF::PreviewBtnClick()
{
    if (settingsOnly_)
        return;
    if (!shown_)
        ReadTarget();
    if (const ProcessingTarget target = CommandTarget(shown_, nullptr))
        PreviewOperation(target, [this] { ApplyBtnClick(); });
}

void TFilterF::UndoBtnClick()
{
    if (CanUndoLastOperation("TFilterF"))
        UndoLastOperation();
}

void TFilterF::RedoBtnClick()
{
    // The dialog's own last operation, with the values it ran with, on the image it changed.
    if (CanRedoLastOperation("TFilterF"))
        RedoLastOperation();
}

void TFilterF::UpdateUndoButtons()
{
    UndoBtn->setEnabled(!settingsOnly_ && CanUndoLastOperation("TFilterF"));
    RedoBtn->setEnabled(!settingsOnly_ && CanRedoLastOperation("TFilterF"));
}

// ---------------------------------------------------------------------------------------------
// Pages

int TFilterF::PageCode(const QWidget *page) const
{
    for (const PageEntry &entry : PageCodes)
        if (this->*entry.page == page)
            return entry.code;
    return -1;
}

int TFilterF::MinMaxRadioCode() const
{
    return MinimalBtn->isChecked() ? 8 : MaximalBtn->isChecked() ? 9 : ClosingBtn->isChecked() ? 10 : 11;
}

void TFilterF::PageActivated(int index)
{
    QWidget *page = PageControl->widget(index);
    if (FirstUse)
        FirstUse = false;
    else if (const int code = PageCode(page); code >= 0)
        LastOperation = code;
    if (page == ConvolutionPage && !lowPassLoaded_) {
        // The kernels start as the low-pass filter the first time they are shown.
        lowPassLoaded_ = true;
        const QSignalBlocker block(FilterBox);
        FilterBox->setCurrentIndex(0);
        LoadFilterFile(FilterFileNames[0]);
        ShowKernel();
    }
}

void TFilterF::ShowOperationPage()
{
    const int code = LastOperation;
    QWidget *page = nullptr;
    switch (code) {
    case 1:
        if (!lowPassLoaded_) {
            lowPassLoaded_ = true;
            const QSignalBlocker block(FilterBox);
            FilterBox->setCurrentIndex(0);
            LoadFilterFile(FilterFileNames[0]);
        }
        FirstUse = false;
        ShowKernel();
        page = ConvolutionPage;
        break;
    case 2:
        page = GaussPage;
        break;
    case 4:
        page = AveragePage;
        break;
    case 5:
        page = MedianPage;
        break;
    case 6:
        page = UnsharpPage;
        break;
    case 7:
        page = TrimPage;
        break;
    case 10:
        DrawMinMaxPicker();
        page = MinMaxPage;
        break;
    case 13:
        page = ModelSkyPage;
        break;
    case 14:
        page = ThresholdPage;
        break;
    case 15:
        page = SubtractBiasPage;
        break;
    case 16:
        if (const ProcessingTarget target = shown_.Find(TargetImage)) {
            const ImageData &image = target.Image();
            MaxInt->setValue(image.Brightest > 0 ? image.Brightest : 65535);
            BiasLevel2->setValue(static_cast<int>(image.DisplayOffset));
        }
        page = LogRescalePage;
        break;
    default: // the page stays as it is
        return;
    }
    const int index = PageControl->indexOf(page);
    if (PageControl->isTabEnabled(index))
        PageControl->setCurrentIndex(index);
}

void TFilterF::MMImageClick(int x, int y)
{
    const int w = MMImage->width() / 2, h = MMImage->height() / 2;
    if (y > h)
        MinMaxCorner = x < w ? 0 : 1;
    else
        MinMaxCorner = x < w ? 2 : 3;
    PageControl->setCurrentWidget(MinMaxPage);
    ShowOperationPage();
    DrawMinMaxPicker();
}

void TFilterF::DrawMinMaxPicker()
{
    const int width = MMImage->width(), height = MMImage->height();
    QPixmap picture(width, height);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    // Quadrant of each element: plus lower left, square lower right, diamond upper left, disc
    // upper right.
    const QPoint origin[4] = {{0, height / 2}, {width / 2, height / 2}, {0, 0}, {width / 2, 0}};
    const int cell = std::min(width, height) / 2 / 7;
    for (int element = 0; element < 4; ++element)
        for (int row = 0; row < 5; ++row)
            for (int column = 0; column < 5; ++column) {
                const QRect box(origin[element].x() + (column + 1) * cell,
                                origin[element].y() + (row + 1) * cell, cell - 1, cell - 1);
                painter.fillRect(box, StructuringElementRows[element][row][column] == '1' ? Qt::black
                                                                                          : Qt::lightGray);
            }
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(1, 1, width - 2, height - 2);
    painter.drawLine(width / 2, 0, width / 2, height);
    painter.drawLine(0, height / 2, width, height / 2);
    painter.setPen(QPen(Qt::blue, 2));
    painter.drawRect(QRect(origin[MinMaxCorner], QSize(width / 2, height / 2)).adjusted(2, 2, -2, -2));
    painter.end();
    MMImage->setPixmap(picture);
}

// ---------------------------------------------------------------------------------------------
// Kernel editor and filter files

void TFilterF::ShowKernel()
{
    const char separator = korvi::gui::DecimalSeparator();
    for (int c = 0; c < 5; ++c)
        for (int r = 0; r < 5; ++r)
            for (int matrix = 0; matrix < 2; ++matrix) {
                QTableWidget *grid = matrix == 0 ? Matrix1 : Matrix2;
                grid->item(r + 1, c + 1)
                    ->setText(QString::fromStdString(FormatFloat(
                        "##0.###", FilterKernels[c][r][FilterPower][KernelSize][matrix], separator)));
            }
}

bool TFilterF::ReadKernel()
{
    const char separator = korvi::gui::DecimalSeparator();
    float read[5][5][2];
    for (int c = 0; c < 5; ++c)
        for (int r = 0; r < 5; ++r)
            for (int matrix = 0; matrix < 2; ++matrix) {
                const QString text = (matrix == 0 ? Matrix1 : Matrix2)->item(r + 1, c + 1)->text();
                std::string number = text.trimmed().toStdString();
                std::replace(number.begin(), number.end(), separator, '.');
                if (!ParseFloatText(number, read[c][r][matrix])) {
                    Report(QStringLiteral("'%1' is not a valid floating point value").arg(text));
                    return false;
                }
            }
    for (int c = 0; c < 5; ++c)
        for (int r = 0; r < 5; ++r)
            for (int matrix = 0; matrix < 2; ++matrix)
                FilterKernels[c][r][FilterPower][KernelSize][matrix] = read[c][r][matrix];
    return true;
}

bool TFilterF::LoadFilterFile(const std::string &path)
{
    ConvolutionFilterFile file;
    const QString name = QString::fromStdString(path);
    const FilterFileResult result = ReadConvolutionFilterFile(path, file);
    const QSignalBlocker blockList(FilterBox);
    if (result != FilterFileResult::Ok) {
        // The list shows the entry whose kernels the editor still holds, so that Save Filter
        // cannot write them into another entry's file under that entry's name.
        FilterBox->setCurrentIndex(kernelEntry_);
        if (result == FilterFileResult::CannotOpen)
            Report(QStringLiteral("The filter file ") + name + QStringLiteral(" could not be opened."));
        else if (result == FilterFileResult::NotAFilterFile)
            Report(QStringLiteral("The file ") + name + QStringLiteral(" is not a convolution filter file."));
        else
            Report(QStringLiteral("The filter file ") + name +
                   QStringLiteral(" is damaged; it was not loaded."));
        return false;
    }
    KernelSize = file.KernelSize;
    std::memcpy(FilterKernels, file.Kernels, sizeof FilterKernels);
    FilterBox->setCurrentIndex(file.Entry);
    kernelEntry_ = file.Entry;
    // The size buttons show the size the kernels now have.
    (KernelSize == 0 ? Size3 : Size5)->setChecked(true);
    return true;
}

bool TFilterF::SaveFilterFile(const std::string &path)
{
    ConvolutionFilterFile file;
    file.Name = FilterBox->currentText().toStdString();
    file.KernelSize = static_cast<std::int16_t>(KernelSize);
    file.Entry = static_cast<std::int16_t>(FilterBox->currentIndex());
    std::memcpy(file.Kernels, FilterKernels, sizeof FilterKernels);
    return WriteConvolutionFilterFile(path, file);
}

void TFilterF::FilterBoxChange(int entry)
{
    if (entry < 0 || entry >= FilterListEntries)
        return;
    LoadFilterFile(FilterFileNames[entry]);
    ShowKernel();
}

void TFilterF::SaveFilterBtnClick()
{
    if (!ReadKernel())
        return;
    const int entry = FilterBox->currentIndex();
    std::string name = ChooseFilterFile(this, true, FilterFileNames[entry]).toStdString();
    if (name.empty())
        return;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".qzk") != 0)
        name += ".qzk";
    if (SaveFilterFile(name))
        FilterFileNames[entry] = name;
}

void TFilterF::LoadFilterBtnClick()
{
    const int before = FilterBox->currentIndex();
    const std::string name = ChooseFilterFile(this, false, FilterFileNames[before]).toStdString();
    if (name.empty())
        return;
    FilterBox->setCurrentIndex(FilterListEntries - 1); // "User defined", unless the file says otherwise
    if (!LoadFilterFile(name)) {
        FilterBox->setCurrentIndex(before); // refused: the editor stays as it was
        return;
    }
    FilterFileNames[FilterBox->currentIndex()] = name;
    ShowKernel();
}

// ---------------------------------------------------------------------------------------------
// Window events

void TFilterF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    korvi::gui::RunGuarded([this] {
        if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        shown_ = ShownTarget(ProcessingTarget::Resolve(TargetImage));
        if (!shown_)
            return;
        ShowOperationPage();
    });
}

void TFilterF::ReadTarget()
{
    EnableButtons(true);
    shown_ = ShownTarget(ProcessingTarget::Resolve(TargetImage));
    if (shown_)
        ShowOperationPage();
}

void TFilterF::ShowForSettings()
{
    show();
    raise();
    ShowOperationPage();
    EnableButtons(false);
}

void TFilterF::EnableButtons(bool on)
{
    settingsOnly_ = !on;
    ApplyBtn->setEnabled(on);
    PreviewBtn->setEnabled(on);
    UpdateUndoButtons();
}

void TFilterF::closeEvent(QCloseEvent *event)
{
    // Settings chosen for the batch are kept; the next opening serves the active image again.
    EnableButtons(true);
    if (MainF)
        MainF->RepaintRequest = true;
    QWidget::closeEvent(event);
}

bool TFilterF::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == MMImage && event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const QPoint at = mouse->position().toPoint();
        korvi::gui::RunGuarded([this, at] { MMImageClick(at.x(), at.y()); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
