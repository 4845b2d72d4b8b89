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

// The innermost message collector of this thread.
thread_local CollectMessages *collector = nullptr;

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

CollectMessages::CollectMessages() : outer_(Ui()), previous_(collector)
{
    collector = this;
}

CollectMessages::~CollectMessages()
{
    collector = previous_;
}

MessageAnswer CollectMessages::ShowMessage(const std::string &caption, const std::string &text,
                                           MessageButtons buttons, MessageIcon icon)
{
    texts_.push_back(text);
    return SilentUiHooks().ShowMessage(caption, text, buttons, icon);
}

UiHooks &Ui()
{
    if (collector)
        return *collector;
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
