#include "sensor_window.h"

#include "gui_runtime.h"
#include "main_window.h"
#include "settings.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

TCCDSetF *CCDSetF = nullptr;

TCCDSetF::TCCDSetF(QWidget *parent) : QWidget(parent, Qt::Window | Qt::Dialog)
{
    setObjectName(QStringLiteral("CCDSetF"));
    setWindowTitle(QStringLiteral("Select main camera CCD"));

    CCDType = new QComboBox(this);
    CCDType->setObjectName(QStringLiteral("CCDType"));
    CCDType->addItems(
        {QStringLiteral("KAF-401e/le"), QStringLiteral("KAF-1602e/le"), QStringLiteral("other KAF sensor")});
    NCOL = new QSpinBox(this);
    NCOL->setObjectName(QStringLiteral("NCOL"));
    NCOL->setRange(1, 10000);
    NROW = new QSpinBox(this);
    NROW->setObjectName(QStringLiteral("NROW"));
    NROW->setRange(1, 10000);
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    CloseBtn = new QPushButton(QStringLiteral("Close"), this);
    CloseBtn->setObjectName(QStringLiteral("CloseBtn"));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Installed CCD sensor:"), CCDType);
    form->addRow(QStringLiteral("Number of columns:"), NCOL);
    form->addRow(QStringLiteral("Number of rows:"), NROW);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CloseBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    // Only a choice made by the user presets the sizes; filling the list in FormShow does not.
    connect(CCDType, &QComboBox::activated, this,
            korvi::gui::Guarded([this](int index) { CCDTypeChange(index); }));
    connect(OKBtn, &QPushButton::clicked, this, korvi::gui::Guarded([this](bool) { OKBtnClick(); }));
    connect(CloseBtn, &QPushButton::clicked, this, [this] { close(); });
}

TCCDSetF::~TCCDSetF()
{
    if (CCDSetF == this)
        CCDSetF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TCCDSetF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    korvi::gui::RunGuarded([this] { FormShow(); });
}

void TCCDSetF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TCCDSetF::FormShow()
{
    const Settings &settings = CurrentSettings();
    CCDType->setCurrentIndex(std::clamp(settings.CCDType, 0, CCDType->count() - 1));
    NCOL->setValue(settings.NCOL[0]);
    NROW->setValue(settings.NROW[0]);
    if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TCCDSetF::CCDTypeChange(int index)
{
    switch (index) {
    case 0:
        NCOL->setValue(797);
        NROW->setValue(520);
        break;
    case 1:
        NCOL->setValue(1565);
        NROW->setValue(1032);
        break;
    default:
        break; // another sensor: the counts stay as shown
    }
}

void TCCDSetF::OKBtnClick()
{
    Settings &settings = CurrentSettings();
    settings.CCDType = CCDType->currentIndex();
    settings.NCOL[0] = NCOL->value();
    settings.NROW[0] = NROW->value();
    // The capture window becomes the whole sensor, up to its last column and row. The settings
    // hold exactly what the page shows: Continuous takes the settings as they stand, and an index
    // one beyond the sensor (which the page's spin edits clamp away for Acquire alone) would make
    // it refuse the new sensor.
    settings.XLO[0] = 0;
    settings.XHI[0] = settings.NCOL[0] - 1;
    settings.YLO[0] = 0;
    settings.YHI[0] = settings.NROW[0] - 1;
    if (MainF)
        MainF->ApplySettingsToControls();
    close();
}

void TCCDSetF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}
