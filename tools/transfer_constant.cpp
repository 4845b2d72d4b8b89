#include "transfer_constant.h"

#include "batch_naming.h"
#include "file_names.h"
#include "gui_runtime.h"
#include "image_file.h"
#include "main_window.h"
#include "program_file_dialog.h"
#include "settings.h"
#include "text_format.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>

#include <cmath>

TXferConstF *XferConstF = nullptr;

namespace
{

constexpr int PlotWidth = 420;
constexpr int PlotHeight = 300;

QSpinBox *MakeSpin(QWidget *parent, const char *name, int minimum, int maximum, int value)
{
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    return spin;
}

template <typename W> W *Named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

void Say(const QString &text)
{
    korvi::gui::ShowMessage(text, QStringLiteral("Korvi"));
}

bool AskYes(const QString &text)
{
    return korvi::gui::ShowMessage(text, QStringLiteral("Korvi"), MessageButtons::YesNo) ==
           MessageAnswer::Yes;
}

bool FileExists(const std::string &path)
{
    return QFileInfo(QString::fromStdString(path)).isFile();
}

} // namespace

TXferConstF::TXferConstF(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("XferConstF"));
    setWindowTitle(QStringLiteral("Determine camera transfer constant"));

    auto *step1 = new QGroupBox(QStringLiteral("Step 1: Select bias frames"), this);
    BiasFileName = Named(new QLineEdit(step1), "BiasFileName");
    BrowseBtn1 = Named(new QPushButton(QStringLiteral(">>"), step1), "BrowseBtn1");
    FirstExtNum1 = MakeSpin(step1, "FirstExtNum1", 0, 999999, 1);
    LastExtNum1 = MakeSpin(step1, "LastExtNum1", 0, 999999, 50);
    auto *biasRow = new QHBoxLayout;
    biasRow->addWidget(BiasFileName, 1);
    biasRow->addWidget(BrowseBtn1);
    auto *form1 = new QFormLayout(step1);
    form1->addRow(QStringLiteral("File prefix:"), biasRow);
    form1->addRow(QStringLiteral("First file number:"), FirstExtNum1);
    form1->addRow(QStringLiteral("Last file number:"), LastExtNum1);

    auto *step2 = new QGroupBox(QStringLiteral("Step 2: Select images to analyze"), this);
    ImageFileName = Named(new QLineEdit(step2), "ImageFileName");
    BrowseBtn3 = Named(new QPushButton(QStringLiteral(">>"), step2), "BrowseBtn3");
    FirstExtNum2 = MakeSpin(step2, "FirstExtNum2", 0, 999999, 1);
    LastExtNum2 = MakeSpin(step2, "LastExtNum2", 0, 999999, 50);
    UseHeaderBias =
        Named(new QCheckBox(QStringLiteral("Use bias level in image header"), step2), "UseHeaderBias");
    auto *imageRow = new QHBoxLayout;
    imageRow->addWidget(ImageFileName, 1);
    imageRow->addWidget(BrowseBtn3);
    auto *form2 = new QFormLayout(step2);
    form2->addRow(QStringLiteral("File prefix:"), imageRow);
    form2->addRow(QStringLiteral("First file number:"), FirstExtNum2);
    form2->addRow(QStringLiteral("Last file number:"), LastExtNum2);
    form2->addRow(UseHeaderBias);

    auto *step3 = new QGroupBox(QStringLiteral("Step 3: Analyze and save statistical results"), this);
    OutFileName = Named(new QLineEdit(step3), "OutFileName");
    BrowseBtn2 = Named(new QPushButton(QStringLiteral(">>"), step3), "BrowseBtn2");
    NSamples = MakeSpin(step3, "NSamples", 2, 1000000, 500);
    BinVal = MakeSpin(step3, "BinVal", 1, 10000, 10);
    AnalyzeBtn = Named(new QPushButton(QStringLiteral("Analyze"), step3), "AnalyzeBtn");
    auto *outRow = new QHBoxLayout;
    outRow->addWidget(OutFileName, 1);
    outRow->addWidget(BrowseBtn2);
    auto *form3 = new QFormLayout(step3);
    form3->addRow(QStringLiteral("Stats file:"), outRow);
    form3->addRow(QStringLiteral("Number of samples:"), NSamples);
    form3->addRow(QStringLiteral("Bin samples by:"), BinVal);
    form3->addRow(AnalyzeBtn);

    auto *step4 = new QGroupBox(QStringLiteral("Step 4: Calculate camera constant and read noise"), this);
    MinADU = MakeSpin(step4, "MinADU", -65535, 65535, -65535);
    MaxADU = MakeSpin(step4, "MaxADU", 1, 65535, 65535);
    DetermineBtn = Named(new QPushButton(QStringLiteral("Determine camera constant"), step4), "DetermineBtn");
    PlotBtn = Named(new QPushButton(QStringLiteral("Plot Stats File"), step4), "PlotBtn");
    CameraConst =
        Named(new QLabel(QStringLiteral("Camera constant: 0 electrons/ADU "), step4), "CameraConst");
    Noise = Named(new QLabel(QStringLiteral("Electronic noise: 0 electrons"), step4), "Noise");
    GImage = Named(new QLabel(step4), "GImage");
    GImage->setFixedSize(PlotWidth, PlotHeight);
    auto *form4 = new QFormLayout;
    form4->addRow(QStringLiteral("Minimum intensity to include in fit ( ADU):"), MinADU);
    form4->addRow(QStringLiteral("Maximum intensity to include in fit (ADU):"), MaxADU);
    auto *buttons4 = new QHBoxLayout;
    buttons4->addWidget(DetermineBtn);
    buttons4->addWidget(PlotBtn);
    auto *layout4 = new QVBoxLayout(step4);
    layout4->addLayout(form4);
    layout4->addLayout(buttons4);
    layout4->addWidget(CameraConst);
    layout4->addWidget(Noise);
    layout4->addWidget(GImage);

    StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);

    auto *left = new QVBoxLayout;
    left->addWidget(step1);
    left->addWidget(step2);
    left->addWidget(step3);
    left->addStretch(1);
    auto *columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addWidget(step4);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(StatusBar1);

    Plot = QImage(PlotWidth, PlotHeight, QImage::Format_RGB32);
    Plot.fill(QColor(0x80, 0x80, 0x80));
    GImage->setPixmap(QPixmap::fromImage(Plot));

    using korvi::gui::Guarded;
    connect(BrowseBtn1, &QPushButton::clicked, this, Guarded([this] { BrowseBtn1Click(); }));
    connect(BrowseBtn2, &QPushButton::clicked, this, Guarded([this] { BrowseBtn2Click(); }));
    connect(BrowseBtn3, &QPushButton::clicked, this, Guarded([this] { BrowseBtn3Click(); }));
    connect(AnalyzeBtn, &QPushButton::clicked, this, Guarded([this] { AnalyzeBtnClick(); }));
    connect(PlotBtn, &QPushButton::clicked, this, Guarded([this] { PlotBtnClick(); }));
    connect(DetermineBtn, &QPushButton::clicked, this, Guarded([this] { DetermineBtnClick(); }));
}

TXferConstF::~TXferConstF()
{
    if (XferConstF == this)
        XferConstF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TXferConstF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TXferConstF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}

void TXferConstF::SetStatus(const std::string &text)
{
    StatusBar1->showMessage(QString::fromStdString(text));
}

bool TXferConstF::BrowseSeries(const QString &title, const char *filter, QLineEdit *prefix,
                               std::string &extension)
{
    Settings &settings = CurrentSettings();
    const QString chosen = RunFileDialog(this, FileDialogKind::Open, title, filter,
                                         QString::fromStdString(settings.LastOpenDirectory[0]));
    if (chosen.isEmpty() || !FileExists(chosen.toStdString()))
        return false;
    const std::string name(TrimText(chosen.toStdString()));
    const std::size_t underscore = ExtractFileNamePart(name).rfind('_');
    if (underscore == std::string::npos) {
        Say(QStringLiteral("Could not parse filename.  Expected \"_\" character in filename."));
        return false;
    }
    const std::string directory = ExtractDirectoryPart(name);
    prefix->setText(QString::fromStdString(directory + ExtractFileNamePart(name).substr(0, underscore + 1)));
    const std::string file = ExtractFileNamePart(name);
    const std::size_t dot = file.rfind('.');
    extension = dot == std::string::npos ? std::string() : file.substr(dot);
    settings.LastOpenDirectory[0] = directory;
    return true;
}

void TXferConstF::BrowseBtn1Click()
{
    BrowseSeries(QStringLiteral("Get file prefix of bias frames"),
                 "Korvi CCD file format (*.kvr)|*.kvr|Flexible image transfer format (*.fit)|*.fit|"
                 "All formats (*.*) | *.*",
                 BiasFileName, BiasExtension);
}

void TXferConstF::BrowseBtn3Click()
{
    BrowseSeries(QStringLiteral("Get file prefix of image frames"), "Korvi CCD file format (*.kvr)|*.kvr",
                 ImageFileName, ImageExtension);
}

void TXferConstF::BrowseBtn2Click()
{
    Settings &settings = CurrentSettings();
    // A save dialog, so that a data file not yet written can be named.
    const QString chosen = RunFileDialog(this, FileDialogKind::Save, QStringLiteral("Get output file name"),
                                         "Comma delimited text format (*.csv)|*.csv",
                                         QString::fromStdString(settings.LastOpenDirectory[1]));
    if (chosen.isEmpty())
        return;
    std::string name = chosen.toStdString();
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".csv") != 0)
        name += ".csv";
    OutFileName->setText(QString::fromStdString(name));
    settings.LastOpenDirectory[1] = ExtractDirectoryPart(name);
}

std::vector<std::string> TXferConstF::SeriesFiles(QLineEdit *prefix, std::string &extension, int first,
                                                  int last)
{
    std::vector<std::string> files;
    const std::string base = prefix->text().trimmed().toStdString();
    const SeriesNames series = ResolveSeries(base, extension, first, last);
    if (series.Found) {
        prefix->setText(QString::fromStdString(series.Prefix));
        extension = "." + series.Extension;
    }
    for (int n = first; n <= last; ++n)
        files.push_back(series.Found ? SeriesFileName(series, n) : base + std::to_string(n) + extension);
    return files;
}

void TXferConstF::AnalyzeBtnClick()
{
    if (NSamples->value() / BinVal->value() <= 1) {
        Say(QStringLiteral("Binning value too large NSample/NBin must be less than 2."));
        return;
    }
    TransferSeries series;
    series.biasFiles = SeriesFiles(BiasFileName, BiasExtension, FirstExtNum1->value(), LastExtNum1->value());
    series.imageFiles =
        SeriesFiles(ImageFileName, ImageExtension, FirstExtNum2->value(), LastExtNum2->value());
    for (const auto *list : {&series.biasFiles, &series.imageFiles})
        for (const std::string &file : *list)
            if (!FileExists(file)) {
                Say(QStringLiteral("Could not find file: ") + QString::fromStdString(file));
                return;
            }
    // The statistics file is checked before every frame is analysed, not after.
    const std::string out = OutFileName->text().trimmed().toStdString();
    if (out.empty()) {
        Say(QStringLiteral("Enter the name of the output data file; nothing was analysed."));
        return;
    }
    if (!ReplacingFile(out).Open()) {
        Say(QStringLiteral("Could not open ") + QString::fromStdString(out) +
            QStringLiteral(
                " to write (check that the folder exists and can be written); nothing was analysed."));
        return;
    }
    const int nB = LastExtNum1->value() - FirstExtNum1->value() + 1;
    const int nI = LastExtNum2->value() - FirstExtNum2->value() + 1;
    if (nB < 30 &&
        !AskYes(QStringLiteral("You have less than 30 files selected for the bias variance "
                               "determination,      statistics may be poor, do you wish to continue?")))
        return;
    if (nI < 30 &&
        !AskYes(QStringLiteral("You have less than 30 files selected for the image variance "
                               "determination,      statistics may be poor, do you wish to continue?")))
        return;
    if (nB <= 1) {
        Say(QStringLiteral("Too few bias files selected."));
        return;
    }
    if (nI <= 1) {
        Say(QStringLiteral("Too few image files selected."));
        return;
    }
    series.samples = NSamples->value();
    series.bin = BinVal->value();
    series.useHeaderBias = UseHeaderBias->isChecked();

    std::vector<TransferRecord> records;
    std::string statusError;
    bool done = false;
    {
        korvi::gui::BeginBusyCursor();
        done = AnalyzeTransferSeries(series, records, statusError, [this](const std::string &text) {
            SetStatus(text);
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        });
        korvi::gui::EndBusyCursor();
    }
    if (!done) {
        SetStatus(statusError);
        return;
    }
    if (!WriteTransferDataFile(out, records)) {
        ReportWriteFailure(out);
        return;
    }
    LoadDataFile(out);
    SetStatus("Ready.");
}

void TXferConstF::PlotBtnClick()
{
    LoadDataFile(OutFileName->text().trimmed().toStdString());
}

bool TXferConstF::LoadDataFile(const std::string &path)
{
    std::vector<TransferRecord> kept;
    std::string problem;
    if (!ReadTransferDataFile(path, MinADU->value(), MaxADU->value(), kept, problem)) {
        Say(QString::fromStdString(problem));
        return false;
    }
    Records = std::move(kept);
    Ranges = RangesOf(Records);
    DrawPlot(nullptr);
    return true;
}

void TXferConstF::DetermineBtnClick()
{
    if (!LoadDataFile(OutFileName->text().trimmed().toStdString()))
        return;
    TransferFit fit;
    std::string problem;
    if (!FitTransferConstant(Records, fit, problem)) {
        Say(QString::fromStdString(problem));
        return;
    }
    const char separator = korvi::gui::DecimalSeparator();
    CameraConst->setText(QStringLiteral("Camera constant: ") +
                         QString::fromStdString(FormatFloat("0.00e+00", fit.gain, separator)) +
                         QStringLiteral(" electrons/ADU."));
    Noise->setText(QStringLiteral("Electronic noise: ") +
                   QString::fromStdString(FormatFloat("0.00e+00", fit.noise, separator)) +
                   QStringLiteral(" electrons."));
    DrawPlot(&fit);
}

void TXferConstF::DrawPlot(const TransferFit *fit)
{
    const int w = Plot.width(), h = Plot.height();
    Plot.fill(QColor(0x80, 0x80, 0x80));
    QPainter painter(&Plot);
    painter.setPen(Qt::white);
    painter.drawRect(QRect(QPoint(50, 4), QPoint(w - 4, h - 35)));
    // A single value on an axis still gets a scale.
    const double xSpan = Ranges.xMax > Ranges.xMin ? Ranges.xMax - Ranges.xMin : 1.0;
    const double ySpan = Ranges.yMax > Ranges.yMin ? Ranges.yMax - Ranges.yMin : 1.0;
    const auto px = [&](double x) {
        return static_cast<int>(std::trunc((x - Ranges.xMin) * (w - 55) / xSpan + 50));
    };
    const auto py = [&](double y) {
        return static_cast<int>(std::trunc(h - (y - Ranges.yMin) * (h - 40) / ySpan - 35));
    };
    painter.setPen(Qt::yellow);
    for (const TransferRecord &record : Records)
        painter.drawEllipse(QPoint(px(record.X), py(record.Y)), 2, 2);
    if (fit) {
        painter.setPen(QColor(0, 255, 0));
        painter.drawLine(px(Ranges.xMin), py(fit->k * Ranges.xMin + fit->biasVariance), px(Ranges.xMax),
                         py(fit->k * Ranges.xMax + fit->biasVariance));
    }
    QFont font = painter.font();
    font.setPointSize(8);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QFontMetrics metrics(font);
    const int lineHeight = metrics.height();
    painter.drawText(QRect(0, 4, 45, lineHeight), Qt::AlignRight, QString::number(Ranges.yMax, 'g', 6));
    painter.drawText(QRect(0, h - 35 - lineHeight, 45, lineHeight), Qt::AlignRight,
                     QString::number(Ranges.yMin, 'g', 6));
    const QString variance = QStringLiteral("Variance");
    const int top = (h - 35 - variance.size() * lineHeight) / 2;
    for (int i = 0; i < variance.size(); ++i)
        painter.drawText(QRect(2, top + i * lineHeight, 12, lineHeight), Qt::AlignCenter, variance.mid(i, 1));
    painter.drawText(QRect(50, h - 33, 100, lineHeight), Qt::AlignLeft, QString::number(Ranges.xMin, 'g', 6));
    painter.drawText(QRect(w - 104, h - 33, 100, lineHeight), Qt::AlignRight,
                     QString::number(Ranges.xMax, 'g', 6));
    painter.drawText(QRect(50, h - 33 + lineHeight, w - 54, lineHeight), Qt::AlignHCenter,
                     QStringLiteral("Intensity (ADU)"));
    painter.end();
    GImage->setPixmap(QPixmap::fromImage(Plot));
}
