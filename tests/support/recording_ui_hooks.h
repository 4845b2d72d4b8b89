#pragma once
// Test stand-in for the user interface hooks of the image core: records every message box, busy
// cursor and progress call, answers boxes as scripted and reports a chosen decimal separator.
// Installed for its lifetime; the hooks installed before are put back on destruction.
#include "ui_hooks.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace korvi::test
{

class RecordingUiHooks : public UiHooks
{
public:
    struct Message {
        std::string caption, text;
        MessageButtons buttons;
        MessageIcon icon;
    };

    explicit RecordingUiHooks(char decimalSeparator = '.') : separator_(decimalSeparator)
    {
        previous_ = InstallUiHooks(this);
    }
    ~RecordingUiHooks() override { InstallUiHooks(previous_); }
    RecordingUiHooks(const RecordingUiHooks &) = delete;
    RecordingUiHooks &operator=(const RecordingUiHooks &) = delete;

    // The next boxes are answered with these, in order; when none is left, OK or Yes.
    void Answer(MessageAnswer answer)
    {
        std::lock_guard lock(mutex_);
        answers_.push_back(answer);
    }

    MessageAnswer ShowMessage(const std::string &caption, const std::string &text, MessageButtons buttons,
                              MessageIcon icon = MessageIcon::None) override
    {
        std::lock_guard lock(mutex_);
        messages_.push_back({caption, text, buttons, icon});
        if (!answers_.empty()) {
            const MessageAnswer answer = answers_.front();
            answers_.pop_front();
            return answer;
        }
        return buttons == MessageButtons::Ok || buttons == MessageButtons::OkCancel ? MessageAnswer::Ok
                                                                                    : MessageAnswer::Yes;
    }
    void SetBusy(bool busy) override { Record(busy ? "busy" : "idle"); }
    void ProgressStart(const std::string &caption) override { Record("start " + caption); }
    void ProgressStep(int percent) override { Record("step " + std::to_string(percent)); }
    void ProgressEnd() override { Record("end"); }
    char DecimalSeparator() const override { return separator_; }

    std::vector<Message> Messages() const
    {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    // "busy", "idle", "start <caption>", "step <percent>", "end" in the order they came.
    std::vector<std::string> Events() const
    {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void Clear()
    {
        std::lock_guard lock(mutex_);
        messages_.clear();
        events_.clear();
    }

private:
    void Record(const std::string &event)
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }

    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    std::vector<std::string> events_;
    std::deque<MessageAnswer> answers_;
    char separator_;
    UiHooks *previous_ = nullptr;
};

} // namespace korvi::test
