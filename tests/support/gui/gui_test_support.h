#pragma once
// Helpers for tests that drive real windows: answering modal boxes and file dialogs by script,
// grabbing an OpenGL panel's picture and comparing pixels.
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QColor>
#include <QImage>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

class QOpenGLWidget;
class QWidget;

namespace korvi::test
{

// Sets what the GUI tests rely on before the QApplication exists: C locale, UTC, no high-DPI
// scaling, Mesa's software renderer and an OpenGL compatibility context by default.
void PrepareGuiEnvironment();

// One modal window that appeared while a ModalScript was active.
struct SeenModal {
    QString kind;      // "message", "open", "save", "other"
    QString title;     // caption of the box or title of the dialog
    QString text;      // text of a message box; for file dialogs the name filters, joined with ";;"
    QString directory; // file dialogs: the directory they opened in
};

// Answers the modal message boxes and file dialogs that the code under test opens, in the order
// they are expected. Each expectation names the caption and a part of the text; a box that does
// not match, or that comes when none is expected, is a test failure and is rejected (Escape). At
// destruction every expectation must have been used.
//
//   ModalScript modals;
//   modals.ExpectMessage("Korvi", "Save changes to image", QMessageBox::No);
//   window->close();
class ModalScript
{
public:
    ModalScript();
    ~ModalScript();
    ModalScript(const ModalScript &) = delete;
    ModalScript &operator=(const ModalScript &) = delete;

    // `answer` is the button to press; QMessageBox::NoButton rejects the box instead (Escape or the
    // close box, whatever the box makes of that).
    void ExpectMessage(const QString &caption, const QString &textPart, QMessageBox::StandardButton answer);
    // The next file dialog is answered with these files (open) or this name (save); an empty list
    // cancels it. `titlePart` must occur in the dialog's title (empty: any title); a save dialog's
    // first name filter that contains `filterPart` is chosen (empty: the dialog's own choice).
    void ExpectOpenFiles(const QStringList &paths, const QString &titlePart = {});
    void ExpectSaveFile(const QString &path, const QString &titlePart = {}, const QString &filterPart = {});
    void ExpectFileDialogCancel(const QString &titlePart = {});

    // Everything that appeared, answered or not.
    const std::vector<SeenModal> &Seen() const { return seen_; }
    // Expectations not yet used.
    int Pending() const { return static_cast<int>(expected_.size()); }

private:
    struct Expectation {
        QString kind;
        QString caption;
        QString textPart;
        QMessageBox::StandardButton answer = QMessageBox::NoButton;
        QStringList files;
        QString filterPart;
    };
    void Poll();
    void Handle(QWidget *modal);

    std::vector<Expectation> expected_;
    std::vector<SeenModal> seen_;
    QTimer timer_;
};

// Shows a widget and waits until it is exposed on the X server.
::testing::AssertionResult ShowAndWait(QWidget *widget);

// The panel's current picture, freshly painted (paintGL runs), as 32-bit RGB (alpha dropped).
QImage GrabPanel(QOpenGLWidget *panel);

// Pixel (x, y) of an image with y counted from the BOTTOM row (OpenGL's convention).
QRgb PixelFromBottom(const QImage &image, int x, int y);

// Compares one pixel's RGB against an expected colour.
::testing::AssertionResult PixelIs(const QImage &image, int x, int y, QRgb expected);

// Compares a rectangle of `actual` (top-left origin) with `expected` pixel for pixel (RGB only);
// reports the first mismatches with coordinates.
::testing::AssertionResult ImagesEqual(const QImage &actual, const QImage &expected, int maxReported = 5);

// Number of pixels with exactly this RGB.
int CountPixels(const QImage &image, QRgb colour);

// Runs the event loop until `done` holds or the time runs out; true when it held.
bool WaitUntil(const std::function<bool()> &done, int timeoutMs = 5000);

} // namespace korvi::test
