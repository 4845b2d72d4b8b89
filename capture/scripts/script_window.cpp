#include "script_window.h"

#include "file_dialogs.h"
#include "file_names.h"
#include "gui_runtime.h"
#include "main_window.h"
#include "script_thread.h"
#include "settings.h"
#include "text_format.h"
#include "time_scale.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QStatusBar>
#include <QStringDecoder>
#include <QTableWidget>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

TScriptF *ScriptF = nullptr;

namespace
{

constexpr const char *ScriptFileFilter =
    "Korvi script file (*.kvq)|*.kvq|Text file (*.txt)|*.txt|All files (*.*)|*.*";
constexpr int TimerPeriodMs = 200;

// The script the editor shows at first: three exposures of a sub-frame that every listed sensor
// has, saved in FITS into the program's frames folder and shown.
constexpr const char *ExampleScript =
    "% Three 10 s exposures of the imaging camera, saved as FITS and shown.\n"
    "% A FILENAME without a folder of its own path lies in the program folder.\n"
    "FILENAME Frames/Script\n"
    "FORMAT FITS\n"
    "XLO 0\n"
    "XHI 511\n"
    "YLO 0\n"
    "YHI 511\n"
    "XBIN 1\n"
    "YBIN 1\n"
    "LOOP 3\n"
    "CLEAR 0 2\n"
    "SHUTTEROPEN\n"
    "DELAY 10 S\n"
    "SHUTTERCLOSE\n"
    "READ 0\n"
    "SAVE 0\n"
    "DISPLAY 0\n"
    "ENDLOOP\n";

QPushButton *MakeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

std::string RightTrimmed(const QString &line)
{
    std::string text = line.toStdString();
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
        text.pop_back();
    return text;
}

} // namespace

TScriptF::TScriptF(TMainF *main) : QWidget(main, Qt::Window), main_(main)
{
    using korvi::gui::Guarded;
    setObjectName(QStringLiteral("ScriptF"));
    setWindowTitle(QStringLiteral("Korvi Script Utility"));
    // Frames of a script that names no file go where the acquired frames go by default.
    Variables.FILENAME = "Frames/Script";

    ScriptEdit = new QPlainTextEdit(this);
    ScriptEdit->setObjectName(QStringLiteral("ScriptEdit"));
    ScriptEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    ScriptEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ScriptEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ScriptEdit->setFont(QFont(QStringLiteral("Monospace")));
    ScriptEdit->setPlainText(QString::fromLatin1(ExampleScript));
    ScriptEdit->document()->setModified(false);

    VbGrid = new QTableWidget(20, 2, this);
    VbGrid->setObjectName(QStringLiteral("VbGrid"));
    VbGrid->horizontalHeader()->hide();
    VbGrid->verticalHeader()->hide();
    VbGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int row = 0; row < 20; ++row)
        for (int column = 0; column < 2; ++column)
            VbGrid->setItem(row, column, new QTableWidgetItem);

    ScriptName = new QLabel(QStringLiteral("Script file:"), this);
    ScriptName->setObjectName(QStringLiteral("ScriptName"));
    SaveBtn = MakeButton(this, "SaveBtn", QStringLiteral("Save Script"));
    LoadBtn = MakeButton(this, "LoadBtn", QStringLiteral("Load Script"));
    CheckScriptBtn = MakeButton(this, "CheckScriptBtn", QStringLiteral("Check Script"));
    RunBtn = MakeButton(this, "RunBtn", QStringLiteral("Run Script"));
    PauseBtn = MakeButton(this, "PauseBtn", QStringLiteral("Pause"));
    PauseBtn->setEnabled(false);
    HelpBtn = MakeButton(this, "HelpBtn", QStringLiteral("Help"));

    auto *statusBar = new QStatusBar(this);
    statusBar->setObjectName(QStringLiteral("StatusBar"));
    statusBar->setSizeGripEnabled(false);
    for (int i = 0; i < 2; ++i) {
        StatusBar[i] = new QLabel(statusBar);
        StatusBar[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        statusBar->addWidget(StatusBar[i], i == 1 ? 1 : 0);
    }
    StatusBar[0]->setMinimumWidth(120);

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));

    auto *panel = new QHBoxLayout;
    panel->addWidget(ScriptName, 1);
    for (QPushButton *button : {SaveBtn, LoadBtn, CheckScriptBtn, RunBtn, PauseBtn, HelpBtn})
        panel->addWidget(button);
    auto *editors = new QHBoxLayout;
    editors->addWidget(ScriptEdit, 1);
    editors->addWidget(VbGrid);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(editors, 1);
    layout->addLayout(panel);
    layout->addWidget(statusBar);
    resize(760, 520);

    connect(ScriptEdit, &QPlainTextEdit::cursorPositionChanged, this, Guarded([this] { ShowCurrentLine(); }));
    connect(SaveBtn, &QPushButton::clicked, this, Guarded([this] { SaveBtnClick(); }));
    connect(LoadBtn, &QPushButton::clicked, this, Guarded([this] { LoadBtnClick(); }));
    connect(CheckScriptBtn, &QPushButton::clicked, this, Guarded([this] { CheckScriptBtnClick(); }));
    connect(RunBtn, &QPushButton::clicked, this, Guarded([this] { RunBtnClick(); }));
    connect(PauseBtn, &QPushButton::clicked, this, Guarded([this] { PauseBtnClick(); }));
    connect(Timer, &QTimer::timeout, this, Guarded([this] { TimerTimer(); }));
}

TScriptF::~TScriptF()
{
    StopScriptThread();
    if (ScriptF == this)
        ScriptF = nullptr;
    korvi::gui::DetachHandlers(this);
}

QString TScriptF::ScriptsFolder() const
{
    return QString::fromStdString(main_->ProgramDirectory() + "Scripts/");
}

std::vector<std::string> TScriptF::ScriptLines() const
{
    std::vector<std::string> lines;
    for (const QString &line : ScriptEdit->toPlainText().split(QLatin1Char('\n')))
        lines.push_back(line.toStdString());
    return lines;
}

void TScriptF::SetPanel(int panel, const QString &text)
{
    StatusBar[panel]->setText(text);
}

QString TScriptF::StatusText() const
{
    return StatusBar[1]->text();
}

// ---------------------------------------------------------------------------------------------
// Activation, current line, variables

void TScriptF::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        korvi::gui::RunGuarded([this] { FormActivate(); });
}

void TScriptF::FormActivate()
{
    ShowCurrentLine();
    VbGrid->item(0, 0)->setText(QStringLiteral("Variable"));
    VbGrid->item(0, 1)->setText(QStringLiteral("Value"));
    for (int row = 1; row < 20; ++row)
        VbGrid->item(row, 0)->setText(QString::fromLatin1(ScriptGridNames[row - 1]));
    // The names column is as wide as its longest name in this font ("APPENDEXT", "FILENAME").
    VbGrid->resizeColumnToContents(0);
    VbGrid->setColumnWidth(0, std::max(60, VbGrid->columnWidth(0)));
    VbGrid->setColumnWidth(1, 160);
    ShowVariables();
    // The script file is read again at each activation, but never over edits that are not saved
    // (asking here would ask again at every return to the window), nor under a running script,
    // whose lines the editor highlights. It is the file the editor last loaded or saved, by its
    // full path: a file of the same name in the Scripts folder is another script. Before any, the
    // last script file named in the settings is taken from the Scripts folder.
    const std::string &last = CurrentSettings().LastScriptFile;
    const QString path = !scriptPath_.isEmpty() ? scriptPath_
                         : last.empty()         ? QString()
                                                : ScriptsFolder() + QString::fromStdString(last);
    const bool running = ScriptThread && ScriptThread->isRunning();
    if (!path.isEmpty() && !running && !ScriptEdit->document()->isModified() && QFile::exists(path))
        LoadScriptFile(path.toStdString());
}

void TScriptF::ShowCurrentLine()
{
    SetPanel(0, QStringLiteral("Current line: %1").arg(ScriptEdit->textCursor().blockNumber() + 1));
}

void TScriptF::ShowVariables()
{
    const char separator = korvi::gui::DecimalSeparator();
    for (int row = 1; row < 20; ++row)
        VbGrid->item(row, 1)->setText(QString::fromStdString(ScriptGridValue(Variables, row - 1, separator)));
}

void TScriptF::HighlightLine(int index)
{
    const QTextBlock block = ScriptEdit->document()->findBlockByNumber(index);
    if (!block.isValid())
        return;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    ScriptEdit->setTextCursor(cursor);
    ScriptEdit->setFocus();
}

// ---------------------------------------------------------------------------------------------
// Check, run, pause

bool TScriptF::CheckScript()
{
    const ScriptCheck check = ::CheckScript(ScriptLines());
    if (!check.ok) {
        SetStatus(QStringLiteral("Status: ") + QString::fromStdString(check.message));
        return false;
    }
    HighlightLine(ScriptEdit->document()->blockCount() - 1);
    SetStatus(QStringLiteral("Status: No errors found. Ready."));
    return true;
}

void TScriptF::CheckScriptBtnClick()
{
    CheckScript();
}

void TScriptF::RunBtnClick()
{
    const bool checked = CheckScript();
    main_->Continuous = false;
    if (main_->Acquiring) {
        // A script or an acquisition runs: this is its stop.
        main_->Acquiring = false;
        RunBtn->setText(QStringLiteral("Run script"));
        SetStatus(QStringLiteral("Status: Script terminated by user."));
        // A paused script must get as far as seeing the stop.
        if (ScriptThread)
            ScriptThread->Resume();
        return;
    }
    if (!checked)
        return;
    // An acquisition that has been stopped may still be finishing its frame, and its end clears the
    // run flag the script would run under.
    if (main_->AcquisitionThreadRunning()) {
        SetStatus(
            QStringLiteral("Status: The acquisition is still ending; run the script again in a moment."));
        return;
    }
    // The thread of a stopped script ends at its next look at the run flag.
    if (ScriptThread) {
        ScriptThread->ShutdownAndWait(-1);
        delete ScriptThread;
        ScriptThread = nullptr;
    }
    main_->Acquiring = true;
    RunBtn->setText(QStringLiteral("Stop script"));
    PauseBtn->setText(QStringLiteral("Pause"));
    PauseBtn->setEnabled(true);
    Running = true;
    // The editor shows the running line selected: typing must not replace it in the text that
    // will be saved, so the script cannot be edited until the run has ended.
    ScriptEdit->setReadOnly(true);
    ScriptThread = new TScriptThread(this, main_, ScriptLines(), Variables);
    ScriptThread->start();
}

void TScriptF::PauseBtnClick()
{
    if (!ScriptThread || !ScriptThread->isRunning())
        return;
    if (Running) {
        PauseBtn->setText(QStringLiteral("Resume"));
        Running = false;
        ScriptThread->Pause();
        SetStatus(QStringLiteral("Status: Script paused by user."));
    } else {
        PauseBtn->setText(QStringLiteral("Pause"));
        Running = true;
        ScriptThread->Resume();
    }
}

void TScriptF::TimerTimer()
{
    // While paused the pause stays on show.
    if (!Running)
        return;
    SetStatus(QStringLiteral("Waiting out delay, ") +
              QString::fromStdString(FormatFloat("#####0.0", std::max(0.0, RemainingDelay.load()),
                                                 korvi::gui::DecimalSeparator())) +
              QStringLiteral(" s remaining. (script is running)"));
}

void TScriptF::StartDelayDisplay()
{
    Timer->setInterval(std::max(1, static_cast<int>(std::lround(TimerPeriodMs * korvi::TimeScale()))));
    Timer->start();
}

void TScriptF::StopDelayDisplay()
{
    Timer->stop();
}

void TScriptF::FinishScript(const QString &problem)
{
    Timer->stop();
    Running = false;
    // The run flag is the script's to clear unless an acquisition has been started since a stop.
    if (!main_->AcquisitionThreadRunning())
        main_->Acquiring = false;
    RunBtn->setText(QStringLiteral("Run script"));
    PauseBtn->setText(QStringLiteral("Pause"));
    PauseBtn->setEnabled(false);
    ScriptEdit->setReadOnly(false);
    SetStatus(problem.isEmpty() ? QStringLiteral("Status: Ready. (script terminated normally)")
                                : QStringLiteral("Status: ") + problem);
}

void TScriptF::StopScriptThread()
{
    if (!ScriptThread)
        return;
    if (ScriptThread->isRunning()) {
        main_->Acquiring = false;
        ScriptThread->Resume();
    }
    ScriptThread->ShutdownAndWait(-1);
}

// ---------------------------------------------------------------------------------------------
// Files

QFileDialog *TScriptF::Dialog(bool save)
{
    QFileDialog *&dialog = save ? saveDialog_ : openDialog_;
    if (!dialog) {
        dialog = new QFileDialog(this);
        dialog->setObjectName(save ? QStringLiteral("SaveDialog") : QStringLiteral("OpenDialog"));
        korvi::gui::PrepareFileDialog(*dialog);
        dialog->setOption(QFileDialog::HideNameFilterDetails, true);
        dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        // The window asks its own question, once the extension is known.
        dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
        dialog->setNameFilters(DialogNameFilters(ScriptFileFilter));
    }
    dialog->setWindowTitle(save ? QStringLiteral("Save Korvi execution script")
                                : QStringLiteral("Load Korvi execution script"));
    dialog->setDirectory(ScriptsFolder());
    return dialog;
}

bool TScriptF::SaveBtnClick()
{
    QFileDialog *dialog = Dialog(true);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return false;
    std::string name = dialog->selectedFiles().front().toStdString();
    if (ExtractFileNamePart(name).empty())
        return false;
    // The extension is always ".kvq": the name is cut at its first '.', in the file's name only
    // (a folder's '.' is not an extension).
    const std::string directory = ExtractDirectoryPart(name);
    std::string file = ExtractFileNamePart(name);
    file = file.substr(0, file.find('.')) + ".kvq";
    name = directory + file;
    if (QFile::exists(QString::fromStdString(name)) &&
        korvi::gui::ShowMessage(QStringLiteral("The file: ") + QString::fromStdString(name) +
                                    QStringLiteral(" will be overwritten; proceed?"),
                                QStringLiteral("Korvi"), MessageButtons::OkCancel,
                                MessageIcon::Question) != MessageAnswer::Ok)
        return false;
    if (!SaveScriptFile(name))
        return false;
    ScriptName->setText(QStringLiteral("Script file: ") + QString::fromStdString(file));
    CurrentSettings().LastScriptFile = file;
    return true;
}

void TScriptF::LoadBtnClick()
{
    if (!QuerySaveChanges())
        return;
    QFileDialog *dialog = Dialog(false);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    const std::string name = dialog->selectedFiles().front().toStdString();
    if (!QFile::exists(QString::fromStdString(name)))
        return;
    if (LoadScriptFile(name))
        CurrentSettings().LastScriptFile = ExtractFileNamePart(name);
}

bool TScriptF::SaveScriptFile(const std::string &fileName)
{
    // Written beside and then put in place of the old file, so a failed write leaves it as it was.
    QSaveFile file(QString::fromStdString(fileName));
    bool ok = file.open(QIODevice::WriteOnly);
    // A script read as Latin-1 is written as Latin-1, unless a character typed since is not one.
    const QString script = ScriptEdit->toPlainText();
    const bool latin1 =
        latin1_ && std::all_of(script.begin(), script.end(), [](QChar c) { return c.unicode() <= 0xFF; });
    for (const QString &line : script.split(QLatin1Char('\n'))) {
        if (!ok)
            break;
        std::string text = RightTrimmed(line);
        if (latin1) {
            const QByteArray narrow = QString::fromStdString(text).toLatin1();
            text.assign(narrow.constData(), static_cast<std::size_t>(narrow.size()));
        }
        text += "\n";
        ok = file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
    }
    if (!ok || !file.commit()) {
        file.cancelWriting();
        SetStatus(QStringLiteral("Status: Could not write the script file ") +
                  QString::fromStdString(fileName) + QStringLiteral("."));
        return false;
    }
    ScriptEdit->document()->setModified(false);
    latin1_ = latin1;
    scriptPath_ = QString::fromStdString(fileName);
    return true;
}

bool TScriptF::LoadScriptFile(const std::string &fileName)
{
    QFile file(QString::fromStdString(fileName));
    if (!file.open(QIODevice::ReadOnly)) {
        SetStatus(QStringLiteral("Status: Could not read the script file ") +
                  QString::fromStdString(fileName) + QStringLiteral("."));
        return false;
    }
    // A script written in an 8-bit code page (a folder name with an umlaut) is not valid UTF-8:
    // it is read as Latin-1 and saved so again, so an unchanged script keeps its bytes.
    const QByteArray bytes = file.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    latin1_ = utf8.hasError();
    if (latin1_)
        text = QString::fromLatin1(bytes);
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast(); // the last line's line break
    for (QString &line : lines)
        line = QString::fromStdString(RightTrimmed(line));
    ScriptEdit->setPlainText(lines.join(QLatin1Char('\n')));
    ScriptEdit->document()->setModified(false);
    ScriptName->setText(QStringLiteral("Script file: ") +
                        QString::fromStdString(ExtractFileNamePart(fileName)));
    scriptPath_ = QString::fromStdString(fileName);
    return true;
}

bool TScriptF::QuerySaveChanges()
{
    if (!ScriptEdit->document()->isModified())
        return true;
    switch (korvi::gui::ShowMessage(
        QStringLiteral("The script has changes that are not saved. Save them first?"),
        QStringLiteral("Korvi"), MessageButtons::YesNoCancel, MessageIcon::Question)) {
    case MessageAnswer::Yes:
        return SaveBtnClick();
    case MessageAnswer::No:
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Close

void TScriptF::closeEvent(QCloseEvent *event)
{
    bool close = true;
    korvi::gui::RunGuarded([&] { close = QuerySaveChanges(); });
    if (!close) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
    korvi::gui::RunGuarded([this] { FormClose(); });
}

void TScriptF::FormClose()
{
    main_->RepaintRequest = true;
}
