#include "capture_test_support.h"

#include "file_dialogs.h"
#include "gui_runtime.h"
#include "image_data.h"

#include "image_file.h"
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>

#include <filesystem>

namespace korvi::test
{

ProgramFolder::ProgramFolder()
{
    namespace fs = std::filesystem;
    const fs::path source = fs::path(KORVI_SOURCE_DIR) / "resources";
    for (const char *dir : {"Settings", "Palettes", "Bitmaps", "Filters", "Scripts", "Help"}) {
        fs::create_directories(temp.path() / dir);
        if (fs::exists(source / dir))
            for (const auto &entry : fs::directory_iterator(source / dir))
                if (entry.is_regular_file() && entry.path().filename() != ".keep")
                    fs::copy_file(entry.path(), temp.path() / dir / entry.path().filename());
    }
}

void WriteTestImage(const std::string &path, int width, int height, const std::function<int(int, int)> &value)
{
    ImageData image;
    image.Allocate(width, height, 1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(value(x, y));
    image.FileName = path;
    image.Description = "test image";
    if (!SaveImageFile(path, 0, image))
        throw std::runtime_error("could not write test image " + path);
}

ModalScript::ModalScript()
{
    connect(&timer_, &QTimer::timeout, this, &ModalScript::Poll);
    timer_.start(10);
}

ModalScript::~ModalScript() = default;

void ModalScript::Poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal == last_)
        return;
    last_ = modal;
    // A dialog that is shown again (the same object) counts as a new one once it has finished.
    if (auto *dialog = qobject_cast<QDialog *>(modal);
        dialog && !dialog->property("korviScripted").toBool()) {
        dialog->setProperty("korviScripted", true);
        connect(dialog, &QDialog::finished, this, [this, dialog] {
            if (last_ == dialog)
                last_ = nullptr;
        });
    }
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        boxCaptions.push_back(box->windowTitle());
        boxTexts.push_back(box->text());
    }
    if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        dialogTitles.push_back(dialog->windowTitle());
        dialogFilters.push_back(dialog->nameFilters());
        dialogFilterIndex.push_back(NameFilterIndex(dialog->nameFilters(), dialog->selectedNameFilter()));
    }
    if (steps_.empty()) {
        ++unexpected;
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        return;
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    step(modal);
}

void ModalScript::PressBox(int standardButton)
{
    Add([standardButton](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box) {
            qobject_cast<QDialog *>(w)->reject();
            return;
        }
        if (QAbstractButton *button = box->button(static_cast<QMessageBox::StandardButton>(standardButton)))
            button->click();
        else
            box->reject();
    });
}

void ModalScript::ChooseFiles(const QStringList &files, int filterIndex)
{
    Add([files, filterIndex](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        auto *edit = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
        if (!edit) {
            qobject_cast<QDialog *>(w)->reject();
            return;
        }
        if (filterIndex > 0)
            dialog->selectNameFilter(dialog->nameFilters().value(filterIndex - 1));
        // The names go into the name box as a user types them, replacing what it held. The dialog
        // takes what its file list has selected over the typed name, so the list first lets go of
        // an earlier choice (a reused dialog keeps it); selectFile would leave the box alone while
        // it has focus and so accept the previous name.
        if (auto *list = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView")))
            list->selectionModel()->clearSelection();
        QStringList typed;
        for (const QString &f : files)
            typed << (files.size() == 1 ? f : QLatin1Char('"') + f + QLatin1Char('"'));
        edit->setFocus();
        edit->selectAll();
        edit->insert(typed.join(QLatin1Char(' ')));
        // What pressing the dialog's Open/Save button does.
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
    });
}

void ModalScript::CancelDialog()
{
    Add([](QWidget *w) { qobject_cast<QDialog *>(w)->reject(); });
}

int RunQtTests(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--gtest_list_tests", 0) == 0) {
            ::testing::InitGoogleTest(&argc, argv);
            return RUN_ALL_TESTS();
        }
    QApplication app(argc, argv);
    korvi::gui::InstallCoreUiHooks();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

bool WaitFor(const std::function<bool()> &condition, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace korvi::test
