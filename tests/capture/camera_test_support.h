#pragma once
// Shared pieces of the settings-page and camera-control tests: a main window over a fresh program
// folder and a fresh simulated controller, and readers of what the controller was sent.
#include "gui_test_support.h"
#include "main_window.h"
#include "settings.h"
#include "simulator/sim_control.h"
#include "test_files.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMdiArea>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Failure messages show texts as texts.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace korvi::test
{

using Bytes = std::vector<std::uint8_t>;

inline Bytes MakeBytes(std::initializer_list<int> values)
{
    Bytes bytes;
    for (int v : values)
        bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

// Copies the shipped Settings, Palettes and Bitmaps into a temporary program folder.
inline void LayOutProgramFolder(const std::filesystem::path &dir)
{
    namespace fs = std::filesystem;
    const fs::path source = fs::path(KORVI_SOURCE_DIR) / "resources";
    for (const char *sub : {"Settings", "Palettes", "Bitmaps", "Help"}) {
        fs::create_directories(dir / sub);
        if (fs::exists(source / sub))
            for (const auto &entry : fs::directory_iterator(source / sub))
                if (entry.is_regular_file() && entry.path().filename() != ".keep")
                    fs::copy_file(entry.path(), dir / sub / entry.path().filename(),
                                  fs::copy_options::overwrite_existing);
    }
}

// Every test starts with a fresh simulated controller (real clock, scaled by KORVI_TIME_SCALE)
// and a shown main window over its own program folder.
class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim::Config config = sim::DefaultConfig();
        config.manualClock = false;
        sim::Reset(config);
        LayOutProgramFolder(folder.path());
        window = std::make_unique<TMainF>(folder.path().string(), QStringList());
        ASSERT_TRUE(ShowAndWait(window.get()));
        sim::ClearCallLog();
    }
    void TearDown() override
    {
        window.reset();
        sim::ClearFaults();
    }

    // The bytes of every FT_Write since the last ClearCallLog().
    static std::vector<Bytes> Written() { return sim::WrittenBlocks(); }

    TempDir folder;
    std::unique_ptr<TMainF> window;
};

// Answers the message boxes that open with a function of the box (it returns the button to
// press), recording what was shown. For cases where the test must look at the program's state
// while a box is open, which a plain scripted answer cannot.
class BoxWatcher : public QObject
{
public:
    using Answer = std::function<QMessageBox::StandardButton(QMessageBox *)>;
    explicit BoxWatcher(Answer answer) : answer_(std::move(answer))
    {
        connect(&timer_, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || box == last_)
                return;
            last_ = box;
            captions.push_back(box->windowTitle());
            texts.push_back(box->text());
            QAbstractButton *button = box->button(answer_(box));
            if (button)
                QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
            else
                QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
        });
        timer_.start(5);
    }
    std::vector<QString> captions, texts;

private:
    Answer answer_;
    QTimer timer_;
    QPointer<QMessageBox> last_;
};

} // namespace korvi::test
