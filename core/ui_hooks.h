#pragma once
// The few things the image core asks of the user interface: a message box, a busy cursor, a
// progress bar and the user's decimal separator. The core never includes Qt; the program installs
// an implementation of UiHooks at start-up, tests install one that records what was asked.
#include <atomic>
#include <string>
#include <vector>

enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };
enum class MessageIcon { None, Information, Warning, Error, Question };

class UiHooks
{
public:
    virtual ~UiHooks() = default;
    // A modal box with the given caption, text and buttons; returns the button pressed. May be
    // called from any thread: an implementation that needs the GUI thread marshals the call there.
    virtual MessageAnswer ShowMessage(const std::string &caption, const std::string &text,
                                      MessageButtons buttons, MessageIcon icon = MessageIcon::None) = 0;
    // Hourglass cursor on (true) or off (false) around long operations.
    virtual void SetBusy(bool busy) = 0;
    // The progress window: shown with a caption, moved to percent (0..100), hidden.
    virtual void ProgressStart(const std::string &caption) = 0;
    virtual void ProgressStep(int percent) = 0;
    virtual void ProgressEnd() = 0;
    // The decimal separator of the user's locale, used by every picture format.
    virtual char DecimalSeparator() const = 0;
};

// The implementation used until another is installed: no boxes (answers OK for OK and OK/Cancel
// boxes, Yes for Yes/No and Yes/No/Cancel boxes), no cursor, no progress, '.' as separator.
class SilentUiHooks : public UiHooks
{
public:
    MessageAnswer ShowMessage(const std::string &caption, const std::string &text, MessageButtons buttons,
                              MessageIcon icon = MessageIcon::None) override;
    void SetBusy(bool) override {}
    void ProgressStart(const std::string &) override {}
    void ProgressStep(int) override {}
    void ProgressEnd() override {}
    char DecimalSeparator() const override { return '.'; }
};

// While it lives, the message boxes asked for on the thread that made it are not shown: their texts
// are collected here and each is answered as SilentUiHooks answers it. For work that must never
// wait on a box (the save of an unattended script), whose caller reports the failure itself.
// Everything else goes to the hooks in use before. Made and destroyed on one thread, nested freely.
class CollectMessages : public UiHooks
{
public:
    CollectMessages();
    ~CollectMessages() override;
    CollectMessages(const CollectMessages &) = delete;
    CollectMessages &operator=(const CollectMessages &) = delete;

    MessageAnswer ShowMessage(const std::string &caption, const std::string &text, MessageButtons buttons,
                              MessageIcon icon = MessageIcon::None) override;
    void SetBusy(bool busy) override { outer_.SetBusy(busy); }
    void ProgressStart(const std::string &caption) override { outer_.ProgressStart(caption); }
    void ProgressStep(int percent) override { outer_.ProgressStep(percent); }
    void ProgressEnd() override { outer_.ProgressEnd(); }
    char DecimalSeparator() const override { return outer_.DecimalSeparator(); }

    // The texts of the boxes that were not shown, in order.
    const std::vector<std::string> &Texts() const { return texts_; }

private:
    UiHooks &outer_;
    CollectMessages *previous_;
    std::vector<std::string> texts_;
};

// The installed implementation (the silent one when none is installed), or the innermost
// CollectMessages of the calling thread.
UiHooks &Ui();
// Installs hooks (not owned; must outlive their use); nullptr restores the silent default.
// Returns the hooks installed before, so a test can put them back.
UiHooks *InstallUiHooks(UiHooks *hooks);
// Shorthand for Ui().DecimalSeparator().
char UserDecimalSeparator();

// While set, the image-core algorithms show no progress window (set around batches of filters).
inline std::atomic<bool> SilentProcessing{false};

// Sets the busy cursor for the lifetime of the object.
class BusyCursor
{
public:
    BusyCursor() { Ui().SetBusy(true); }
    ~BusyCursor() { Ui().SetBusy(false); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};
