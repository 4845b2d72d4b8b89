// Message boxes under a real window manager: each box that a stay-on-top window of the program
// raises (or that opens while one is shown) must be the topmost window on the screen and lie wholly
// inside it, as X itself stacks and places the windows. The test program runs itself again on a
// private virtual screen (xvfb-run) with openbox managing it, so that the window manager's layers
// decide the stacking, and no other test's windows share the screen.
#include "camera_test_support.h"

#include "gui_runtime.h"
#include "guiding/guider_window.h"
#include "image_window.h"
#include "multi_process.h"
#include "program_windows.h"
#include "stacking.h"
#include "statistics_window.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace korvi::test;

namespace
{

constexpr const char *PrivateScreenVariable = "KORVI_BOX_TEST_PRIVATE_SCREEN";

// Where a box lies, read from the X server: its window manager frame (the child of the root
// window that holds it), whether any shown window is stacked above that frame, and the frame's
// rectangle on the screen.
struct BoxPlacement {
    bool managed = false; // a window manager framed the box
    bool topmost = false;
    bool inside = false;
    QRect frame;
    std::string above; // what covers it, for the failure message
};

class XServer
{
public:
    XServer() : connection_(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(connection_) == 0)
            root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~XServer() { xcb_disconnect(connection_); }
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    bool Connected() const { return root_ != 0; }

    // True once a window manager has announced itself on the root window.
    bool WindowManagerRunning()
    {
        const xcb_atom_t check = Atom("_NET_SUPPORTING_WM_CHECK");
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, root_, check, XCB_ATOM_WINDOW, 0, 1), nullptr);
        const bool running = reply && xcb_get_property_value_length(reply) == 4;
        free(reply);
        return running;
    }

    BoxPlacement Inspect(xcb_window_t client)
    {
        BoxPlacement placement;
        xcb_window_t frame = client;
        for (;;) {
            xcb_query_tree_reply_t *tree =
                xcb_query_tree_reply(connection_, xcb_query_tree(connection_, frame), nullptr);
            if (!tree)
                return placement;
            const xcb_window_t parent = tree->parent;
            free(tree);
            if (parent == root_ || parent == XCB_NONE)
                break;
            frame = parent;
        }
        placement.managed = frame != client;
        placement.frame = Area(frame);
        placement.inside = !placement.frame.isEmpty() && Area(root_).contains(placement.frame);
        // The root's children come bottom to top: a shown window after the frame that overlaps it
        // covers it (the window manager's own small windows off the screen do not).
        xcb_query_tree_reply_t *tree =
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr);
        if (!tree)
            return placement;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        const int count = xcb_query_tree_children_length(tree);
        int at = 0;
        while (at < count && children[at] != frame)
            ++at;
        bool found = at < count;
        for (int i = at + 1; found && i < count; ++i) {
            xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
                connection_, xcb_get_window_attributes(connection_, children[i]), nullptr);
            const bool shown = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
                               attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT;
            free(attributes);
            if (shown && placement.above.empty() && Area(children[i]).intersects(placement.frame))
                placement.above = Describe(children[i]);
        }
        free(tree);
        placement.topmost = found && placement.above.empty();
        return placement;
    }

    // Asks the window manager to activate a window as a pager or a click on it would (an
    // application's own request may be refused as focus stealing).
    void Activate(xcb_window_t window)
    {
        xcb_client_message_event_t message = {};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = Atom("_NET_ACTIVE_WINDOW");
        message.data.data32[0] = 2; // from a pager
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection_, 0, root_,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&message));
        xcb_flush(connection_);
    }

private:
    // A window's rectangle with its border, in its parent's coordinates.
    QRect Area(xcb_window_t window)
    {
        xcb_get_geometry_reply_t *geometry =
            xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
        QRect area;
        if (geometry)
            area = QRect(geometry->x, geometry->y, geometry->width + 2 * geometry->border_width,
                         geometry->height + 2 * geometry->border_width);
        free(geometry);
        return area;
    }

    xcb_atom_t Atom(const char *name)
    {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return atom;
    }

    // The title of a frame's window (or of the first of its children that has one).
    std::string Describe(xcb_window_t window, int depth = 0)
    {
        xcb_get_property_reply_t *name = xcb_get_property_reply(
            connection_,
            xcb_get_property(connection_, 0, window, Atom("_NET_WM_NAME"), Atom("UTF8_STRING"), 0, 256),
            nullptr);
        std::string text;
        if (name && xcb_get_property_value_length(name) > 0)
            text.assign(static_cast<const char *>(xcb_get_property_value(name)),
                        static_cast<size_t>(xcb_get_property_value_length(name)));
        free(name);
        if (!text.empty() || depth > 2)
            return text.empty() ? "an unnamed window" : "\"" + text + "\"";
        xcb_query_tree_reply_t *tree =
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
        if (tree) {
            const xcb_window_t *children = xcb_query_tree_children(tree);
            for (int i = 0; i < xcb_query_tree_children_length(tree) && text.empty(); ++i) {
                const std::string inner = Describe(children[i], depth + 1);
                if (inner != "an unnamed window")
                    text = inner;
            }
        }
        free(tree);
        return text.empty() ? "an unnamed window" : text;
    }

    xcb_connection_t *connection_;
    xcb_window_t root_ = 0;
};

// One box that appeared, where X had it when it was answered.
struct SeenBox {
    QString text;
    BoxPlacement placement;
};

// Answers each message box (or file dialog) once X shows it settled on top and inside the screen,
// or once it has had ample time to get there (one that never does is answered too, so the case
// ends): a box with the button its text asks for, a file dialog with Cancel.
class BoxInspector
{
public:
    struct Answer {
        QString textPart; // of a box's text, or of a file dialog's title
        QMessageBox::StandardButton button;
    };
    BoxInspector(XServer &x, std::string name, std::vector<Answer> answers)
        : x_(x), name_(std::move(name)), answers_(std::move(answers))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start(20);
    }
    std::vector<SeenBox> seen;

private:
    void Poll()
    {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || dialog == answered_)
            return;
        if (dialog != current_) {
            current_ = dialog;
            shown_.start();
            settled_ = 0;
        }
        const BoxPlacement placement = x_.Inspect(static_cast<xcb_window_t>(dialog->winId()));
        // Settled: the same good answer over a quarter of a second, the window manager having
        // framed the box. The bound is generous for a loaded machine; a box that stays covered
        // costs a test that fails its time.
        settled_ = placement.managed && placement.topmost && placement.inside ? settled_ + 1 : 0;
        if (settled_ < 12 && shown_.elapsed() < 8000)
            return;
        answered_ = dialog;
        auto *box = qobject_cast<QMessageBox *>(dialog);
        const QString text = box ? box->text() : dialog->windowTitle();
        seen.push_back({text, placement});
        if (!placement.topmost || !placement.inside)
            SaveScreen();
        QMessageBox::StandardButton button = QMessageBox::NoButton;
        for (const Answer &answer : answers_)
            if (text.contains(answer.textPart))
                button = answer.button;
        if (QAbstractButton *press = box ? box->button(button) : nullptr)
            QMetaObject::invokeMethod(press, "click", Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    }

    // The screen as the observer saw it, beside the other test files, for the failure report.
    void SaveScreen()
    {
        const char *tmp = std::getenv("KORVI_TEST_TMP");
        const QString name =
            QString::fromLocal8Bit(tmp ? tmp : "/tmp") +
            QStringLiteral("/covered_box_%1_%2.png").arg(QString::fromStdString(name_)).arg(seen.size());
        if (QGuiApplication::primaryScreen()->grabWindow(0).save(name))
            std::printf("The screen with the covered box: %s\n", qPrintable(name));
    }

    XServer &x_;
    std::string name_;
    std::vector<Answer> answers_;
    QTimer timer_;
    QPointer<QDialog> current_, answered_;
    QElapsedTimer shown_;
    int settled_ = 0;
};

// One box raised from a stay-on-top window: what brings the window up and raises the box, the
// boxes that must appear (a part of each text) and how each is answered.
struct BoxCase {
    const char *name;
    std::function<void(TMainF &)> raise;
    std::vector<BoxInspector::Answer> boxes;
};

void PrintTo(const BoxCase &c, std::ostream *os)
{
    *os << c.name;
}

// Raises and focuses the window as the observer's click on it would. The request is sent again
// while the window is not active: on a busy machine the window manager may not yet manage a window
// just shown when the first request comes, and drops it.
void Activate(QWidget *window)
{
    XServer x;
    EXPECT_TRUE(WaitUntil(
        [&] {
            if (QApplication::activeWindow() == window)
                return true;
            x.Activate(static_cast<xcb_window_t>(window->winId()));
            return WaitUntil([window] { return QApplication::activeWindow() == window; }, 1000);
        },
        30000));
}

// Shows the window over the middle of the main window, where the observer may well have put it,
// and makes it the active window.
void Show(QWidget *window, const TMainF &main)
{
    ASSERT_NE(window, nullptr);
    window->ensurePolished();
    if (!window->testAttribute(Qt::WA_Resized))
        window->adjustSize(); // the size showing would give it
    window->move(main.frameGeometry().center() - QPoint(window->width() / 2, window->height() / 2));
    ASSERT_TRUE(ShowAndWait(window));
    Activate(window);
}

const std::vector<BoxCase> &Cases()
{
    static const std::vector<BoxCase> cases = {
        {"BatchDarkFrameWithoutOutputPrefix",
         [](TMainF &main) {
             Show(MultiProcessF, main);
             MultiProcessF->SelListBox->clear();
             MultiProcessF->SelListBox->addItem(QStringLiteral("dark1.kvr"));
             MultiProcessF->OutputPrefix->setText(QString());
             MultiProcessF->ThermalFrameBtn->click();
         },
         {{"Enter an output file prefix", QMessageBox::Ok}}},
        {"StackingReferenceImageNotFound",
         [](TMainF &main) {
             Show(StackMultipleF, main);
             StackMultipleF->Prefix->setText(QStringLiteral("/no/such/folder/frame_"));
             StackMultipleF->OpenRefImgBtn->click();
         },
         {{"No files were found named", QMessageBox::Ok}}},
        {"SaveChangesAtQuitWithTheStatisticsWindowOpen",
         [](TMainF &main) {
             TChild *child = main.CreateImageWindow(40, 60);
             child->Image().Allocate(60, 40, 1);
             child->show();
             child->AttachToWindowMenu();
             child->Image().Modified = true;
             CurrentSettings().DisableClosePrompt = false;
             main.StatsFormShow->trigger();
             Show(StatsForm, main);
             Activate(&main); // the observer quits from the main window
             main.close();
         },
         {{"Are you sure you want to leave Korvi?", QMessageBox::Ok},
          {"Save changes to image", QMessageBox::No}}},
        {"GuideBeforeCalibration",
         [](TMainF &main) {
             CurrentSettings().GuideRates = {}; // as shipped: never calibrated
             Show(GuiderF, main);
             GuiderF->GuideBtn->click();
         },
         {{"Guiding did not start: ", QMessageBox::Ok}}},
        {"MainWindowOpenDialogWithTheGuiderWindowOpen",
         [](TMainF &main) {
             Show(GuiderF, main);
             Activate(&main);
             main.Open->trigger();
         },
         {{"Open an image file", QMessageBox::Cancel}}},
    };
    return cases;
}

class WindowManagerBoxesTest : public MainWindowTest, public ::testing::WithParamInterface<BoxCase>
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        korvi::gui::InstallCoreUiHooks(); // the program's boxes, as main() installs them
        CreateProgramWindows(window.get());
    }
    void TearDown() override
    {
        if (GuiderF) {
            GuiderF->StopExecute();
            WaitUntil([] { return !GuiderF->GuideRunning(); }, 20000);
        }
        InstallUiHooks(nullptr);
        window->ClosingDone = true;
        MainWindowTest::TearDown();
    }
};

TEST_P(WindowManagerBoxesTest, TheBoxIsTheTopmostWindowAndWhollyOnTheScreen)
{
    const BoxCase &c = GetParam();
    XServer x;
    ASSERT_TRUE(x.Connected());
    ASSERT_TRUE(x.WindowManagerRunning());
    BoxInspector inspector(x, c.name, c.boxes);
    c.raise(*window);
    ASSERT_FALSE(HasFatalFailure());
    // A box raised by a worker thread comes a little later than the click.
    ASSERT_TRUE(WaitUntil([&] { return inspector.seen.size() >= c.boxes.size(); }, 60000));
    QTest::qWait(100);
    ASSERT_EQ(inspector.seen.size(), c.boxes.size());
    for (size_t i = 0; i < c.boxes.size(); ++i) {
        const SeenBox &box = inspector.seen[i];
        SCOPED_TRACE(box.text.toStdString());
        EXPECT_TRUE(box.text.contains(c.boxes[i].textPart));
        EXPECT_TRUE(box.placement.managed);
        EXPECT_TRUE(box.placement.topmost) << "covered by " << box.placement.above;
        EXPECT_TRUE(box.placement.inside)
            << "frame at " << box.placement.frame.x() << ", " << box.placement.frame.y() << ", size "
            << box.placement.frame.width() << " x " << box.placement.frame.height();
    }
}

INSTANTIATE_TEST_SUITE_P(StayOnTopWindows, WindowManagerBoxesTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<BoxCase> &info) { return info.param.name; });

// Runs this program again, with the same arguments, on a private 1920 x 1080 virtual screen.
int RunOnPrivateScreen(const std::vector<std::string> &arguments)
{
    std::vector<std::string> args = {"xvfb-run", "-a", "-s", "-screen 0 1920x1080x24 -nolisten tcp"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char *> pointers;
    for (std::string &a : args)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    setenv(PrivateScreenVariable, "1", 1);
    execvp(pointers[0], pointers.data());
    std::perror("xvfb-run");
    return 1;
}

// Starts openbox on the screen and waits until it manages it; returns its process id, or 0.
pid_t StartWindowManager()
{
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        execlp("openbox", "openbox", "--sm-disable", static_cast<char *>(nullptr));
        std::perror("openbox");
        _exit(127);
    }
    if (pid < 0)
        return 0;
    XServer x;
    for (int waited = 0; x.Connected() && waited < 30000; waited += 50) {
        if (x.WindowManagerRunning())
            return pid;
        usleep(50000);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> arguments(argv, argv + argc); // before the test options are taken
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    if (!std::getenv(PrivateScreenVariable))
        return RunOnPrivateScreen(arguments);
    const pid_t manager = StartWindowManager();
    if (manager == 0) {
        std::fprintf(stderr, "openbox did not start on the private screen\n");
        return 1;
    }
    int result = 1;
    {
        PrepareGuiEnvironment();
        QApplication app(argc, argv);
        QLocale::setDefault(QLocale::c());
        std::setlocale(LC_ALL, "C");
        result = RUN_ALL_TESTS();
    }
    kill(manager, SIGTERM);
    waitpid(manager, nullptr, 0);
    return result;
}
