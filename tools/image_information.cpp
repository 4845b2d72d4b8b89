#include "image_information.h"

#include "edit_target.h"
#include "gui_runtime.h"
#include "guiding/guider_window.h"
#include "main_window.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

THInfo *HInfo = nullptr;

namespace
{

QString Truncated(float value)
{
    return QString::number(static_cast<long long>(std::trunc(static_cast<double>(value))));
}

} // namespace

THInfo::THInfo(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("HInfo"));
    setWindowTitle(QStringLiteral("Image information"));
    setModal(false);
    auto label = [this](QLabel *&member, const char *name) {
        member = new QLabel(this);
        member->setObjectName(QString::fromLatin1(name));
        return member;
    };
    auto *grid = new QGridLayout;
    QLabel **left[] = {&filename, &date, &time, &IntTime, &HighPixel, &LowPixel,
                       &NCol,     &NRow, &XBin, &YBin,    &CCDTemp};
    const char *leftNames[] = {"filename", "date", "time", "IntTime", "HighPixel", "LowPixel",
                               "NCol",     "NRow", "XBin", "YBin",    "CCDTemp"};
    QLabel **right[] = {&NCOLMAX, &NROWMAX, &TopDarkLevel, &BottomDarkLevel, &XLO,
                        &YLO,     &XHI,     &YHI,          &SkyLevel,        &BiasLevel};
    const char *rightNames[] = {"NCOLMAX", "NROWMAX", "TopDarkLevel", "BottomDarkLevel", "XLO",
                                "YLO",     "XHI",     "YHI",          "SkyLevel",        "BiasLevel"};
    for (int i = 0; i < 11; ++i)
        grid->addWidget(label(*left[i], leftNames[i]), i, 0);
    for (int i = 0; i < 10; ++i)
        grid->addWidget(label(*right[i], rightNames[i]), i, 1);

    description = new QLineEdit(this);
    description->setObjectName(QStringLiteral("description"));
    filters = new QLineEdit(this);
    filters->setObjectName(QStringLiteral("filters"));
    auto *edits = new QFormLayout;
    edits->setRowWrapPolicy(QFormLayout::WrapAllRows);
    edits->addRow(QStringLiteral("Image description:"), description);
    edits->addRow(QStringLiteral("Filters used:"), filters);

    ApplyBtn = new QPushButton(QStringLiteral("Apply Changes"), this);
    ApplyBtn->setObjectName(QStringLiteral("ApplyBtn"));
    UndoBtn = new QPushButton(QStringLiteral("Undo Changes"), this);
    UndoBtn->setObjectName(QStringLiteral("UndoBtn"));
    OkBtn = new QPushButton(QStringLiteral("OK"), this);
    OkBtn->setObjectName(QStringLiteral("OkBtn"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(ApplyBtn);
    buttons->addWidget(UndoBtn);
    buttons->addStretch(1);
    buttons->addWidget(OkBtn);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(edits);
    layout->addLayout(buttons);

    using korvi::gui::Guarded;
    connect(ApplyBtn, &QPushButton::clicked, this, Guarded([this] { ApplyBtnClick(); }));
    connect(UndoBtn, &QPushButton::clicked, this, Guarded([this] { UndoBtnClick(); }));
    connect(OkBtn, &QPushButton::clicked, this, Guarded([this] { OkBtnClick(); }));
}

THInfo::~THInfo()
{
    if (HInfo == this)
        HInfo = nullptr;
    korvi::gui::DetachHandlers(this);
}

void THInfo::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    korvi::gui::RunGuarded([this] { FormShow(); });
}

void THInfo::closeEvent(QCloseEvent *event)
{
    korvi::gui::RunGuarded([this] { FormClose(); });
    QDialog::closeEvent(event);
}

ImageData *THInfo::GuiderImage()
{
    return GuiderF && !GuiderF->GuiderImage.Empty ? &GuiderF->GuiderImage : nullptr;
}

void THInfo::FormShow()
{
    ApplyBtn->setEnabled(true);
    UndoBtn->setEnabled(true);
    // The image window or the guider image; nothing else has a header to show.
    shown_.Clear();
    guiderShown_ = EditTarget == EditGuiderImage;
    const ImageData *target = nullptr;
    if (guiderShown_) {
        target = GuiderImage();
    } else if (EditTarget == EditActiveImage) {
        const ProcessingTarget active = ProcessingTarget::Resolve();
        shown_ = ShownTarget(active);
        target = active ? &active.Image() : nullptr;
    }
    if (!target) {
        guiderShown_ = false;
        ApplyBtn->setEnabled(false);
        UndoBtn->setEnabled(false);
        return;
    }
    Shown.Assign(*target);
    const ImageData &i = Shown;
    auto text = [](const std::string &s) { return QString::fromStdString(s); };
    filename->setText("Original file name: " + text(i.FileName));
    date->setText("Acquisition date: " + text(i.Date));
    time->setText("Acquisition time: " + text(i.Time));
    description->setText(text(i.Description));
    filters->setText(text(i.Filters));
    IntTime->setText("Integration time: " + text(i.IntegrationTime));
    HighPixel->setText(QStringLiteral("Highest pixel intensity: %1").arg(i.Brightest));
    LowPixel->setText(QStringLiteral("Lowest pixel intensity: %1").arg(i.Dimmest));
    NCol->setText(QStringLiteral("Number of columns: %1").arg(i.Width));
    NRow->setText(QStringLiteral("Number of rows: %1").arg(i.Height));
    XBin->setText(QStringLiteral("Horizontal pixel bins: %1").arg(i.XBin));
    YBin->setText(QStringLiteral("Vertical pixel bins: %1").arg(i.YBin));
    NCOLMAX->setText(QStringLiteral("Maximum CCD columns: %1").arg(i.MaxColumns));
    NROWMAX->setText(QStringLiteral("Maximum CCD rows: %1").arg(i.MaxRows));
    TopDarkLevel->setText("Dark level at top of image: " + Truncated(i.TopDark));
    BottomDarkLevel->setText("Dark level at bottom of image: " + Truncated(i.BottomDark));
    XLO->setText(QStringLiteral("Low x pixel: %1").arg(i.XLo));
    YLO->setText(QStringLiteral("Low y pixel: %1").arg(i.YLo));
    XHI->setText(QStringLiteral("High x pixel: %1").arg(i.XHi));
    YHI->setText(QStringLiteral("High y pixel: %1").arg(i.YHi));
    SkyLevel->setText("Sky level: " + Truncated(i.SkyLevel));
    BiasLevel->setText("Bias level: " + Truncated(i.OffsetLevel));
    CCDTemp->setText("CCD Temperature: " + text(i.CCDTemperature) + QStringLiteral(" \u00b0C"));
    const bool editable = i.OriginFormat != FormatBmp;
    description->setEnabled(editable);
    filters->setEnabled(editable);
}

void THInfo::ApplyBtnClick()
{
    // The image shown, found again now: it may have closed since, and another may be active.
    const ProcessingTarget target = shown_.Find();
    ImageData *shown = guiderShown_ ? GuiderImage() : target ? &target.Image() : nullptr;
    if (!shown) {
        korvi::gui::ShowMessage(QStringLiteral("The image this information belongs to is no longer open; "
                                               "nothing was changed."),
                                QStringLiteral("Korvi"));
        return;
    }
    ImageData &image = *shown;
    image.Description = description->text().toStdString();
    image.Filters = filters->text().toStdString();
    image.Modified = true;
}

void THInfo::UndoBtnClick()
{
    FormShow();
}

void THInfo::OkBtnClick()
{
    close();
}

void THInfo::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}
