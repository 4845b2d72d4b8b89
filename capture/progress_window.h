#pragma once
// TProgressF: the small always-on-top window with one progress bar that long operations show
// while they run on the GUI thread. Callers set its caption and position and show and close it
// around their work (directly, or through the runtime's progress calls that the main window
// routes here).
#include <QWidget>

class QProgressBar;
namespace korvi::gui
{
struct ProgressEvent;
}

class TProgressF : public QWidget
{
    Q_OBJECT
public:
    explicit TProgressF(QWidget *parent = nullptr);
    ~TProgressF() override;

    QProgressBar *ProgressBar = nullptr;

    // Drives the window from the runtime's progress events: Begin shows it with the caption,
    // Step moves the bar (and lets the bar repaint while the GUI thread is busy), End closes it.
    void HandleProgress(const korvi::gui::ProgressEvent &event);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void FormShow();
    void FormClose();
};

extern TProgressF *ProgressF;
