#include "bloom_removal_window.h"

#include "edit_target.h"
#include "gui_runtime.h"
#include "main_window.h"
#include "ui_hooks.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

TBloomRemovalF *BloomRemovalF = nullptr;

TBloomRemovalF::TBloomRemovalF(QWidget *parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("BloomRemovalF"));
    setWindowTitle(QStringLiteral("Remove blooming blemishes"));
    auto spin = [this](QSpinBox *&s, const char *name, int maximum, int step, int value) {
        s = new QSpinBox(this);
        s->setObjectName(QString::fromLatin1(name));
        s->setRange(0, maximum);
        s->setSingleStep(step);
        s->setValue(value);
        return s;
    };
    auto check = [this](QCheckBox *&c, const char *name, const QString &caption, bool on) {
        c = new QCheckBox(caption, this);
        c->setObjectName(QString::fromLatin1(name));
        c->setChecked(on);
        return c;
    };
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Threshold (ADU):"), spin(Threshold, "Threshold", 65535, 1000, 50000));
    form->addRow(check(TopToBottom, "TopToBottom",
                       QStringLiteral("CCD vertical readout is from top to bottom"), true));
    form->addRow(check(RemoveXferStreaks, "RemoveXferStreaks",
                       QStringLiteral("Remove charge transfer inefficiency streaks"), true));
    form->addRow(QStringLiteral("Threshold for streak (N sigma) :"),
                 spin(StreakThreshold, "StreakThreshold", 10000, 1, 3));
    form->addRow(check(ReadoutSmearRemove, "ReadoutSmearRemove",
                       QStringLiteral("Remove shutterless readout smear"), false));
    form->addRow(QStringLiteral("Noise level to use in model (ADU):"),
                 spin(NoiseLevel, "NoiseLevel", 10000, 1, 15));
    auto *buttons = new QHBoxLayout;
    const std::pair<QPushButton **, const char *> made[] = {
        {&PreviewBtn, "PreviewBtn"}, {&ApplyBtn, "ApplyBtn"}, {&UndoBtn, "UndoBtn"}};
    const QString captions[] = {QStringLiteral("Preview"), QStringLiteral("Apply"), QStringLiteral("Undo")};
    for (int i = 0; i < 3; ++i) {
        *made[i].first = new QPushButton(captions[i], this);
        (*made[i].first)->setObjectName(QString::fromLatin1(made[i].second));
        buttons->addWidget(*made[i].first);
    }
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    using korvi::gui::Guarded;
    connect(PreviewBtn, &QPushButton::clicked, this, Guarded([this] { PreviewBtnClick(); }));
    connect(ApplyBtn, &QPushButton::clicked, this, Guarded([this] { ApplyBtnClick(); }));
    connect(UndoBtn, &QPushButton::clicked, this, Guarded([this] { UndoBtnClick(); }));
    if (MainF)
        connect(MainF, &TMainF::UndoChanged, this,
                [this] { UndoBtn->setEnabled(CanUndoLastOperation("TBloomRemovalF")); });
    UndoBtn->setEnabled(false);
}

TBloomRemovalF::~TBloomRemovalF()
{
    if (BloomRemovalF == this)
        BloomRemovalF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TBloomRemovalF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    korvi::gui::RunGuarded([this] { FormShow(); });
}

void TBloomRemovalF::FormShow()
{
    shown_ = ShownTarget(ProcessingTarget::Resolve());
}

void TBloomRemovalF::closeEvent(QCloseEvent *event)
{
    korvi::gui::RunGuarded([this] { FormClose(); });
    QWidget::closeEvent(event);
}

BloomOptions TBloomRemovalF::Options() const
{
    BloomOptions options;
    options.threshold = static_cast<std::uint16_t>(Threshold->value());
    options.flip = !TopToBottom->isChecked();
    options.removeStreaks = RemoveXferStreaks->isChecked();
    options.streakThreshold = static_cast<float>(StreakThreshold->value());
    options.removeSmear = ReadoutSmearRemove->isChecked();
    options.noise = static_cast<float>(NoiseLevel->value());
    return options;
}

void TBloomRemovalF::ApplyBtnClick()
{
    if (!shown_)
        FormShow(); // shown before any image was open: the image there is now
    if (const ProcessingTarget target = CommandTarget(shown_, nullptr))
        ApplyOptions(target, Options());
}

void TBloomRemovalF::ApplyOptions(const ProcessingTarget &target, const BloomOptions &options)
{
    const QPointer<TBloomRemovalF> self(this);
    const Operation operation{OperationCode, "TBloomRemovalF",
                              [self, options](const ProcessingTarget &again) {
                                  if (self)
                                      self->ApplyOptions(again, options);
                              }};
    const BusyCursor busy;
    // A frame the removal refuses ("too small") is reported and leaves Undo and Modified alone.
    target.Apply(operation, [&](ImageData &image) { RemoveBlooming(image, options); });
}

void TBloomRemovalF::PreviewBtnClick()
{
    if (!shown_)
        FormShow();
    if (const ProcessingTarget target = CommandTarget(shown_, nullptr))
        PreviewOperation(target, [this] { ApplyBtnClick(); });
}

void TBloomRemovalF::UndoBtnClick()
{
    if (CanUndoLastOperation("TBloomRemovalF"))
        UndoLastOperation();
}

void TBloomRemovalF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}
