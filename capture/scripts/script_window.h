#pragma once
// TScriptF ("Korvi Script Utility"): the editor in which the observer writes, checks, saves, loads
// and runs acquisition scripts. It holds the script variables between runs and the running flag,
// shows the status and the variables, and starts, pauses, resumes and stops the script thread.
// The language itself (splitting, checking, values) is script_language.h.
#include "script_language.h"

#include <QString>
#include <QWidget>

#include <array>
#include <atomic>
#include <string>
#include <vector>

class QFileDialog;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTimer;
class TMainF;
class TScriptThread;

class TScriptF : public QWidget
{
    Q_OBJECT
public:
    explicit TScriptF(TMainF *main);
    ~TScriptF() override;

    // Controls (objectName = the member's name; the status panels are "StatusPanel0" and "1").
    QPlainTextEdit *ScriptEdit = nullptr;
    std::array<QLabel *, 2> StatusBar{};
    QTableWidget *VbGrid = nullptr;
    QLabel *ScriptName = nullptr;
    QPushButton *SaveBtn = nullptr, *LoadBtn = nullptr, *CheckScriptBtn = nullptr, *RunBtn = nullptr,
                *PauseBtn = nullptr, *HelpBtn = nullptr;
    QTimer *Timer = nullptr;

    // The script variables (a run works on its own copy and hands it back after every command),
    // the remaining delay of a running DELAY in seconds, and the running flag: set while the thread
    // runs and is not paused.
    ScriptVariables Variables;
    std::atomic<double> RemainingDelay{0.0};
    std::atomic<bool> Running{false};
    TScriptThread *ScriptThread = nullptr; // the last script thread started

    // The editor's lines.
    std::vector<std::string> ScriptLines() const;
    static ScriptLine SplitScriptLine(const std::string &line) { return ::SplitScriptLine(line); }
    // Runs the checker on the editor's lines and shows its result; true when no error.
    bool CheckScript();

    void FormActivate();
    void ShowCurrentLine();
    void CheckScriptBtnClick();
    void RunBtnClick();
    void PauseBtnClick();
    // Asks for a name and saves; true when the script was written.
    bool SaveBtnClick();
    void LoadBtnClick();
    void TimerTimer();
    void FormClose();

    // Writes the editor's lines to the file; false (and nothing replaced) when it cannot.
    bool SaveScriptFile(const std::string &fileName);
    // Replaces the editor's text with the file's lines; false (editor unchanged) when unreadable.
    bool LoadScriptFile(const std::string &fileName);
    // Asks about unsaved edits before they could be lost: true when the caller may go on (saved,
    // discarded, or nothing to lose).
    bool QuerySaveChanges();
    void SetStatus(const QString &text) { SetPanel(1, text); }
    QString StatusText() const;
    // Writes the variables into the grid.
    void ShowVariables();
    // Ends a running script at once and waits for its thread (shut-down of the program).
    void StopScriptThread();

    // Called by the script thread on the GUI thread.
    void HighlightLine(int index);
    void StartDelayDisplay();
    void StopDelayDisplay();
    // The end of a run: the flags, the buttons and the final status (`problem` empty for a normal
    // end or a stop, else the text that ended the run).
    void FinishScript(const QString &problem);

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void SetPanel(int panel, const QString &text);
    QString ScriptsFolder() const;
    QFileDialog *Dialog(bool save);

    TMainF *main_;
    QFileDialog *saveDialog_ = nullptr;
    QFileDialog *openDialog_ = nullptr;
    bool latin1_ = false; // the script file was read as Latin-1 (it is not valid UTF-8)
    QString scriptPath_;  // full path of the script file last loaded or saved (empty: none yet)
};

extern TScriptF *ScriptF;
