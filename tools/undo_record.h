#pragma once
// What the one undo snapshot belongs to: the target the last operation changed and the operation
// itself, with its own values for Redo. The pixels from before it are in TMainF::UndoImage (an
// image window's, the guider image's) or in the composite editor's backup (a composite layer).
#include <functional>
#include <string>

class ProcessingTarget;

struct UndoRecord {
    int editTarget = -1; // the EditTarget value changed (the image window is UndoWindowTag); -1: none
    int code = -1;       // the operation's code, as LastOperation had it when it ran
    std::string owner;   // class name of the window whose command ran it; "" for the main window
    // Runs the operation again, with the values it ran with, on a target; empty where Redo cannot.
    std::function<void(const ProcessingTarget &)> repeat;

    explicit operator bool() const { return editTarget >= 0; }
};
