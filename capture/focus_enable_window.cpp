#include "focus_enable_window.h"

#include "gui_runtime.h"
#include "main_window.h"
#include "settings.h"

#include <QCheckBox>
#include <QPushButton>
#include <QVBoxLayout>

TFocusEnableF *FocusEnableF = nullptr;

TFocusEnableF::TFocusEnableF(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("FocusEnableF"));
    setWindowTitle(QStringLiteral("Focus mode enabled!"));
    ExitBtn = new QPushButton(QStringLiteral("Click to exit focus mode!"), this);
    ExitBtn->setObjectName(QStringLiteral("ExitBtn"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ExitBtn);
    connect(ExitBtn, &QPushButton::clicked, this, korvi::gui::Guarded([this] { ExitBtnClick(); }));
}

TFocusEnableF::~TFocusEnableF()
{
    if (FocusEnableF == this)
        FocusEnableF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TFocusEnableF::ExitBtnClick()
{
    CurrentSettings().FocusMode = false;
    if (MainF && MainF->FocusModeEnable)
        MainF->FocusModeEnable->setChecked(false);
    close();
}

void TFocusEnableF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TFocusEnableF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}
