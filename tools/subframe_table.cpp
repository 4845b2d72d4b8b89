#include "subframe_table.h"

#include "file_names.h"
#include "gui_runtime.h"
#include "image_file.h"
#include "image_window.h"
#include "main_window.h"
#include "program_file_dialog.h"
#include "settings.h"
#include "subframe_table_file.h"
#include "ui_hooks.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

TSubFrameF *SubFrameF = nullptr;

TSubFrameF::TSubFrameF(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("SubFrameF"));
    setWindowTitle(QStringLiteral("Save subframe as a table"));
    const auto spin = [this](const char *name) {
        auto *s = new QSpinBox(this);
        s->setObjectName(QString::fromLatin1(name));
        s->setRange(0, 0);
        return s;
    };
    XLO = spin("XLO");
    XHI = spin("XHI");
    YLO = spin("YLO");
    YHI = spin("YHI");
    SaveFile = new QLineEdit(this);
    SaveFile->setObjectName(QStringLiteral("SaveFile"));
    SaveBtn = new QPushButton(QStringLiteral(">>"), this);
    SaveBtn->setObjectName(QStringLiteral("SaveBtn"));
    InvertCoords = new QCheckBox(QStringLiteral("Invert X and Y axes in file"), this);
    InvertCoords->setObjectName(QStringLiteral("InvertCoords"));
    InvertCoords->setChecked(true);
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Lower X coordinate:"), XLO);
    form->addRow(QStringLiteral("Upper X coordinate:"), XHI);
    form->addRow(QStringLiteral("Lower Y coordinate:"), YLO);
    form->addRow(QStringLiteral("Upper Y coordinate:"), YHI);
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(SaveFile, 1);
    fileRow->addWidget(SaveBtn);
    form->addRow(QStringLiteral("Save file name:"), fileRow);
    form->addRow(InvertCoords);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    using korvi::gui::Guarded;
    connect(SaveBtn, &QPushButton::clicked, this, Guarded([this] { SaveBtnClick(); }));
    connect(OKBtn, &QPushButton::clicked, this, Guarded([this] { OKBtnClick(); }));
    connect(CancelBtn, &QPushButton::clicked, this, Guarded([this] { CancelBtnClick(); }));
}

TSubFrameF::~TSubFrameF()
{
    if (SubFrameF == this)
        SubFrameF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TSubFrameF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    korvi::gui::RunGuarded([this] { FormShow(); });
}

void TSubFrameF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TSubFrameF::FormShow()
{
    window_ = MainF ? MainF->FirstImageWindow() : nullptr;
    if (!window_)
        return; // no image: OK writes nothing
    const ImageData &image = window_->ConstImage();
    XLO->setRange(0, std::max(image.Width - 1, 0));
    XHI->setRange(0, std::max(image.Width - 1, 0));
    YLO->setRange(0, std::max(image.Height - 1, 0));
    YHI->setRange(0, std::max(image.Height - 1, 0));
    XLO->setValue(0);
    XHI->setValue(image.Width - 1);
    YLO->setValue(image.Height / 2);
    YHI->setValue(image.Height / 2);
}

void TSubFrameF::SaveBtnClick()
{
    Settings &settings = CurrentSettings();
    const QString chosen = RunFileDialog(this, FileDialogKind::Save, QStringLiteral("Select table filename"),
                                         "Comma delimited format (*.csv)|*.csv",
                                         QString::fromStdString(settings.LastOpenDirectory[0]));
    if (chosen.trimmed().isEmpty())
        return;
    const std::string name = chosen.toStdString();
    SaveFile->setText(QString::fromStdString(StripExtension(name) + ".csv"));
    settings.LastOpenDirectory[0] = ExtractDirectoryPart(name);
}

void TSubFrameF::OKBtnClick()
{
    const std::string path = SaveFile->text().trimmed().toStdString();
    // The image window may have closed since the window was shown: then there is nothing to write.
    if (path.empty() || !window_ || window_->isHidden())
        return;
    SubframeRectangle rectangle{XLO->value(), XHI->value(), YLO->value(), YHI->value()};
    BusyCursor busy;
    if (!WriteSubframeTable(path, window_->ConstImage(), rectangle, InvertCoords->isChecked()))
        ReportWriteFailure(path);
}

void TSubFrameF::CancelBtnClick()
{
    close();
}

void TSubFrameF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}
