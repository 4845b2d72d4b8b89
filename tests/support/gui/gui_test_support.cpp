#include "gui_test_support.h"

#include <cstdlib>
#include <ctime>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QOpenGLWidget>
#include <QPushButton>
#include <QSurfaceFormat>
#include <QTest>

namespace korvi::test
{

void PrepareGuiEnvironment()
{
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    setenv("QT_SCALE_FACTOR", "1", 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    // The test programs run side by side: one rasteriser thread each keeps llvmpipe from
    // oversubscribing the machine (the pictures are small).
    setenv("LP_NUM_THREADS", "1", 0);
    // Qt's own file dialogs, which a test can fill in; shared contexts as in the program.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    format.setDepthBufferSize(24);
    format.setAlphaBufferSize(8);
    QSurfaceFormat::setDefaultFormat(format);
}

ModalScript::ModalScript()
{
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
}

ModalScript::~ModalScript()
{
    timer_.stop();
    for (const Expectation &e : expected_)
        ADD_FAILURE() << "Expected " << e.kind.toStdString() << " \"" << e.caption.toStdString() << "\" / \""
                      << e.textPart.toStdString() << "\" never appeared";
}

void ModalScript::ExpectMessage(const QString &caption, const QString &textPart,
                                QMessageBox::StandardButton answer)
{
    expected_.push_back({QStringLiteral("message"), caption, textPart, answer, {}});
}

void ModalScript::ExpectOpenFiles(const QStringList &paths, const QString &titlePart)
{
    expected_.push_back({QStringLiteral("open"), titlePart, {}, QMessageBox::NoButton, paths});
}

void ModalScript::ExpectSaveFile(const QString &path, const QString &titlePart, const QString &filterPart)
{
    expected_.push_back({QStringLiteral("save"), titlePart, {}, QMessageBox::NoButton, {path}, filterPart});
}

void ModalScript::ExpectFileDialogCancel(const QString &titlePart)
{
    expected_.push_back({QStringLiteral("cancel"), titlePart, {}, QMessageBox::NoButton, {}});
}

namespace
{
// Escape, as the user would press it: the box picks its escape button, or closes.
void RejectBox(QMessageBox *box)
{
    QMetaObject::invokeMethod(
        box, [box] { QTest::keyClick(box, Qt::Key_Escape); }, Qt::QueuedConnection);
}
} // namespace

void ModalScript::Poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal->property("korviTestHandled").toBool())
        return;
    modal->setProperty("korviTestHandled", true);
    Handle(modal);
}

void ModalScript::Handle(QWidget *modal)
{
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        seen_.push_back({QStringLiteral("message"), box->windowTitle(), box->text(), {}});
        const bool matches = !expected_.empty() && expected_.front().kind == QLatin1String("message") &&
                             box->windowTitle() == expected_.front().caption &&
                             box->text().contains(expected_.front().textPart);
        if (!matches) {
            ADD_FAILURE() << "Unexpected message box: caption \"" << box->windowTitle().toStdString()
                          << "\", text \"" << box->text().toStdString() << "\"";
            RejectBox(box);
            return;
        }
        const QMessageBox::StandardButton answer = expected_.front().answer;
        expected_.erase(expected_.begin());
        if (answer == QMessageBox::NoButton) {
            RejectBox(box);
            return;
        }
        QAbstractButton *button = box->button(answer);
        if (!button) {
            ADD_FAILURE() << "Message box \"" << box->text().toStdString() << "\" has no button "
                          << int(answer);
            RejectBox(box);
            return;
        }
        QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
        return;
    }
    if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        const bool save = dialog->acceptMode() == QFileDialog::AcceptSave;
        seen_.push_back({save ? QStringLiteral("save") : QStringLiteral("open"), dialog->windowTitle(),
                         dialog->nameFilters().join(QStringLiteral(";;")),
                         dialog->directory().absolutePath()});
        const bool matches =
            !expected_.empty() &&
            (expected_.front().kind == QLatin1String("cancel") ||
             expected_.front().kind == (save ? QLatin1String("save") : QLatin1String("open"))) &&
            dialog->windowTitle().contains(expected_.front().caption);
        if (!matches) {
            ADD_FAILURE() << "Unexpected file dialog \"" << dialog->windowTitle().toStdString() << "\"";
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            return;
        }
        const QStringList files = expected_.front().files;
        const QString filterPart = expected_.front().filterPart;
        expected_.erase(expected_.begin());
        if (!filterPart.isEmpty())
            for (const QString &filter : dialog->nameFilters())
                if (filter.contains(filterPart)) {
                    dialog->selectNameFilter(filter);
                    break;
                }
        if (files.isEmpty()) {
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            return;
        }
        const QFileInfo first(files.front());
        dialog->setDirectory(first.absolutePath());
        QString typed;
        if (files.size() == 1) {
            typed = first.fileName();
        } else {
            for (const QString &f : files)
                typed += QLatin1Char('"') + QFileInfo(f).fileName() + QStringLiteral("\" ");
        }
        if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            edit->setText(typed);
        else
            dialog->selectFile(typed);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        return;
    }
    seen_.push_back({QStringLiteral("other"), modal->windowTitle(), {}, {}});
    ADD_FAILURE() << "Unexpected modal window \"" << modal->windowTitle().toStdString() << "\" ("
                  << modal->metaObject()->className() << ")";
    QMetaObject::invokeMethod(modal, "close", Qt::QueuedConnection);
}

::testing::AssertionResult ShowAndWait(QWidget *widget)
{
    widget->show();
    if (!QTest::qWaitForWindowExposed(widget, 15000))
        return ::testing::AssertionFailure() << "window was not exposed";
    return ::testing::AssertionSuccess();
}

QImage GrabPanel(QOpenGLWidget *panel)
{
    return panel->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
}

QRgb PixelFromBottom(const QImage &image, int x, int y)
{
    return image.pixel(x, image.height() - 1 - y) | 0xFF000000u;
}

namespace
{
QString Hex(QRgb c)
{
    return QStringLiteral("#%1").arg(c & 0xFFFFFFu, 6, 16, QLatin1Char('0'));
}
} // namespace

::testing::AssertionResult PixelIs(const QImage &image, int x, int y, QRgb expected)
{
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height())
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << ") outside " << image.width() << " x " << image.height();
    const QRgb actual = image.pixel(x, y);
    if ((actual & 0xFFFFFFu) == (expected & 0xFFFFFFu))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << x << ", " << y << ") is " << Hex(actual).toStdString() << ", expected "
           << Hex(expected).toStdString();
}

::testing::AssertionResult ImagesEqual(const QImage &actual, const QImage &expected, int maxReported)
{
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure()
               << "size " << actual.width() << " x " << actual.height() << ", expected " << expected.width()
               << " x " << expected.height();
    int mismatches = 0;
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = actual.pixel(x, y) & 0xFFFFFFu;
            const QRgb e = expected.pixel(x, y) & 0xFFFFFFu;
            if (a != e) {
                if (mismatches < maxReported)
                    failure << "(" << x << ", " << y << "): " << Hex(a).toStdString()
                            << " != " << Hex(e).toStdString() << "; ";
                ++mismatches;
            }
        }
    if (mismatches == 0)
        return ::testing::AssertionSuccess();
    return failure << mismatches << " pixels differ";
}

int CountPixels(const QImage &image, QRgb colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFFu) == (colour & 0xFFFFFFu))
                ++count;
    return count;
}

bool WaitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

} // namespace korvi::test
