#include "gui_runtime.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <vector>

using namespace korvi::gui;

namespace
{

// Answers every modal message box that opens while it lives with `button` and keeps what it saw.
class BoxAnswerer
{
public:
    explicit BoxAnswerer(QMessageBox::StandardButton button) : button_(button)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || box == last_)
                return;
            last_ = box;
            captions.push_back(box->windowTitle());
            texts.push_back(box->text());
            boxThreads.push_back(box->thread());
            if (QAbstractButton *b = box->button(button_))
                b->click();
            else
                box->reject();
        });
        timer_.start(5);
    }
    std::vector<QString> captions, texts;
    std::vector<QThread *> boxThreads;

private:
    QMessageBox::StandardButton button_;
    QTimer timer_;
    QMessageBox *last_ = nullptr;
};

// Runs `work` on a new thread while the GUI thread keeps its event loop going.
void RunOnWorker(const std::function<void()> &work)
{
    QThread *thread = QThread::create(work);
    QEventLoop loop;
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
    delete thread;
}

} // namespace

TEST(GuiRuntime, WorkerCallRunsOnGuiThreadAndWaitsForIt)
{
    QThread *ranOn = nullptr;
    std::atomic<bool> finishedBeforeReturn{false};
    RunOnWorker([&] {
        EXPECT_FALSE(IsGuiThread());
        RunOnGuiThread([&] {
            ranOn = QThread::currentThread();
            QThread::msleep(50); // the worker must still be waiting here
            finishedBeforeReturn = true;
        });
        EXPECT_TRUE(finishedBeforeReturn.load());
        const int value = CallOnGuiThread([] { return 42; });
        EXPECT_EQ(value, 42);
    });
    EXPECT_EQ(ranOn, qApp->thread());
}

TEST(GuiRuntime, GuiThreadCallIsDirect)
{
    // No event loop runs here: a queued call would never happen.
    bool ran = false;
    RunOnGuiThread([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(IsGuiThread());
}

TEST(GuiRuntime, ExceptionOnGuiThreadIsRethrownOnTheWorker)
{
    std::string caught;
    RunOnWorker([&] {
        try {
            RunOnGuiThread([] { throw std::runtime_error("bad frame size"); });
        } catch (const std::runtime_error &e) {
            caught = e.what();
        }
    });
    EXPECT_EQ(caught, "bad frame size");
}

TEST(GuiRuntime, GuardedHandlerShowsTheErrorAndTheProgramGoesOn)
{
    BoxAnswerer answer(QMessageBox::Ok);
    QPushButton button;
    int after = 0;
    QObject::connect(&button, &QPushButton::clicked, Guarded([](bool) {
        throw std::invalid_argument("'x1' is not a valid floating point value");
    }));
    QObject::connect(&button, &QPushButton::clicked, [&] { ++after; });
    button.click();
    ASSERT_EQ(answer.texts.size(), 1u);
    EXPECT_EQ(answer.captions[0], "Korvi error message");
    EXPECT_EQ(answer.texts[0], "'x1' is not a valid floating point value");
    EXPECT_EQ(after, 1); // the click went on to the next handler

    EXPECT_FALSE(RunGuarded([] { throw 17; }));
    ASSERT_EQ(answer.texts.size(), 2u);
    EXPECT_EQ(answer.texts[1], ""); // not an error object: an empty message
    EXPECT_TRUE(RunGuarded([] {}));
    EXPECT_EQ(answer.texts.size(), 2u);
}

TEST(GuiRuntime, WorkerMessageBoxIsShownByTheGuiThread)
{
    BoxAnswerer answer(QMessageBox::Cancel);
    MessageAnswer got = MessageAnswer::Ok;
    RunOnWorker(
        [&] { got = ShowMessage("Device not opened", "Korvi USB device error", MessageButtons::OkCancel); });
    EXPECT_EQ(got, MessageAnswer::Cancel);
    ASSERT_EQ(answer.boxThreads.size(), 1u);
    EXPECT_EQ(answer.boxThreads[0], qApp->thread());
    EXPECT_EQ(answer.captions[0], "Korvi USB device error");
    EXPECT_EQ(answer.texts[0], "Device not opened");
}

TEST(GuiRuntime, AnswersMapToTheButtonPressed)
{
    struct Case {
        MessageButtons buttons;
        QMessageBox::StandardButton press;
        MessageAnswer expected;
    };
    const Case cases[] = {
        {MessageButtons::Ok, QMessageBox::Ok, MessageAnswer::Ok},
        {MessageButtons::OkCancel, QMessageBox::Ok, MessageAnswer::Ok},
        {MessageButtons::OkCancel, QMessageBox::Cancel, MessageAnswer::Cancel},
        {MessageButtons::YesNo, QMessageBox::Yes, MessageAnswer::Yes},
        {MessageButtons::YesNo, QMessageBox::No, MessageAnswer::No},
        {MessageButtons::YesNoCancel, QMessageBox::Cancel, MessageAnswer::Cancel},
        // A button the box does not have: the answerer closes the box instead.
        {MessageButtons::YesNo, QMessageBox::Help, MessageAnswer::No},
        {MessageButtons::OkCancel, QMessageBox::Help, MessageAnswer::Cancel},
    };
    for (const Case &c : cases) {
        BoxAnswerer answer(c.press);
        EXPECT_EQ(ShowMessage("text", "Korvi", c.buttons), c.expected) << int(c.press);
    }
}

TEST(GuiRuntime, CoreHooksReachQt)
{
    InstallCoreUiHooks();
    BoxAnswerer answer(QMessageBox::Yes);
    EXPECT_EQ(Ui().ShowMessage("Korvi", "Overwrite?", MessageButtons::YesNo), MessageAnswer::Yes);
    ASSERT_EQ(answer.texts.size(), 1u);
    EXPECT_EQ(answer.texts[0], "Overwrite?");

    ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);
    {
        ::BusyCursor busy;
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    std::vector<std::pair<int, int>> steps;
    QString caption;
    SetProgressHandler([&](const ProgressEvent &e) {
        if (e.kind == ProgressEvent::Begin)
            caption = e.caption;
        steps.emplace_back(int(e.kind), e.position);
    });
    RunOnWorker([] {
        Ui().ProgressStart("Applying median filter...");
        Ui().ProgressStep(40);
        Ui().ProgressStep(250);
        Ui().ProgressStep(-3);
        Ui().ProgressEnd();
    });
    SetProgressHandler(nullptr);
    EXPECT_EQ(caption, "Applying median filter...");
    const std::vector<std::pair<int, int>> expected = {{ProgressEvent::Begin, 0},
                                                       {ProgressEvent::Step, 40},
                                                       {ProgressEvent::Step, 100},
                                                       {ProgressEvent::Step, 0},
                                                       {ProgressEvent::End, 100}};
    EXPECT_EQ(steps, expected);
    InstallUiHooks(nullptr);
}

TEST(GuiRuntime, BusyCursorNests)
{
    BeginBusyCursor();
    BeginBusyCursor();
    EndBusyCursor();
    EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
    EndBusyCursor();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EndBusyCursor(); // one End too many does no harm
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(GuiRuntime, DecimalSeparatorFollowsTheUsersLocale)
{
    InstallCoreUiHooks();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(DecimalSeparator(), ',');
    EXPECT_EQ(UserDecimalSeparator(), ',');
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(DecimalSeparator(), '.');
    EXPECT_EQ(UserDecimalSeparator(), '.');
    QLocale::setDefault(QLocale::c());
    InstallUiHooks(nullptr);
}

int main(int argc, char **argv)
{
    // Listing the tests (done while building, without a screen) needs no QApplication.
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--gtest_list_tests", 0) == 0) {
            ::testing::InitGoogleTest(&argc, argv);
            return RUN_ALL_TESTS();
        }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
