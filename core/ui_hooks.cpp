#include "ui_hooks.h"

namespace
{

SilentUiHooks &SilentHooks()
{
    static SilentUiHooks hooks;
    return hooks;
}

std::atomic<UiHooks *> &InstalledHooks()
{
    static std::atomic<UiHooks *> hooks{nullptr};
    return hooks;
}

} // namespace

MessageAnswer SilentUiHooks::ShowMessage(const std::string &, const std::string &, MessageButtons buttons,
                                         MessageIcon)
{
    switch (buttons) {
    case MessageButtons::Ok:
    case MessageButtons::OkCancel:
        return MessageAnswer::Ok;
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel:
        return MessageAnswer::Yes;
    }
    return MessageAnswer::Ok;
}

UiHooks &Ui()
{
    UiHooks *hooks = InstalledHooks().load(std::memory_order_acquire);
    return hooks ? *hooks : SilentHooks();
}

UiHooks *InstallUiHooks(UiHooks *hooks)
{
    return InstalledHooks().exchange(hooks, std::memory_order_acq_rel);
}

char UserDecimalSeparator()
{
    return Ui().DecimalSeparator();
}
