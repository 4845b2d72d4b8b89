#pragma once
// Helpers for the capture program's window tests: a program folder laid out like the installed
// one, test images on disk, and a script that answers the modal boxes and dialogs that open.
#include "simulator/sim_control.h"
#include "test_files.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

class QWidget;
class QFileDialog;

namespace korvi::test
{

// A temporary program folder with copies of the shipped Settings, Palettes, Bitmaps and Help.
class ProgramFolder
{
public:
    ProgramFolder();
    std::string Dir() const { return temp.path().string() + "/"; }
    std::string File(const std::string &relative) const { return Dir() + relative; }
    TempDir temp;
};

// Writes a width x height own-format image whose pixel (x, y) is value(x, y).
void WriteTestImage(const std::string &path, int width, int height,
                    const std::function<int(int, int)> &value);

// Answers the modal widgets (message boxes, file dialogs) that open while it lives, one step per
// modal widget, in order. Each step sees the widget; what was shown is recorded.
class ModalScript : public QObject
{
public:
    using Step = std::function<void(QWidget *)>;
    ModalScript();
    ~ModalScript() override;
    void Add(Step step) { steps_.push_back(std::move(step)); }
    // Steps for message boxes: press the standard button, recording caption and text.
    void PressBox(int standardButton);
    // Steps for file dialogs: choose the files (in the dialog's directory or absolute) with the
    // name filter at 1-based index `filterIndex` (0 keeps the dialog's choice), or cancel.
    void ChooseFiles(const QStringList &files, int filterIndex = 0);
    void CancelDialog();

    bool Done() const { return steps_.empty(); }
    std::vector<QString> boxTexts, boxCaptions, dialogTitles;
    std::vector<QStringList> dialogFilters;
    std::vector<int> dialogFilterIndex; // 1-based index shown when the dialog opened
    int unexpected = 0;                 // modal widgets with no step left (they were rejected)

private:
    void Poll();
    std::deque<Step> steps_;
    QTimer timer_;
    QPointer<QWidget> last_;
};

// The main of the window tests: a QApplication with the program's message hooks, then every test.
// Listing the tests (done while building, without a screen) needs no QApplication.
int RunQtTests(int argc, char **argv);

// Runs the event loop until `condition` holds or `ms` milliseconds have passed.
bool WaitFor(const std::function<bool()> &condition, int ms = 3000);

// One command the simulated controller received: its opcode (low byte of word 0) and parameter
// byte (-1 for the commands that are sent as their opcode byte alone).
struct Command {
    int opcode, parameter;
    bool operator==(const Command &) const = default;
};

inline std::ostream &operator<<(std::ostream &out, const Command &c)
{
    return out << "{" << c.opcode << "," << c.parameter << "}";
}

// The commands the controller received since its last reset, in order.
inline std::vector<Command> Commands()
{
    std::vector<Command> commands;
    for (const auto &block : korvi::sim::WrittenBlocks())
        if (!block.empty())
            commands.push_back({block[0], block.size() >= 2 ? block[1] : -1});
    return commands;
}

} // namespace korvi::test
