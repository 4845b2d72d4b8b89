// The program's application object keeps running when an event handler throws.
#include "gui_runtime.h"
#include "korvi_application.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QEvent>
#include <QMessageBox>
#include <QTimer>

#include <stdexcept>
#include <string>

namespace
{

class Throwing : public QObject
{
public:
    int handled = 0;
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User) {
            ++handled;
            if (handled == 1)
                throw std::runtime_error("Division by zero");
            if (handled == 2)
                throw 3;
            return true;
        }
        return QObject::event(e);
    }
};

TEST(KorviApplication, AnEscapingExceptionIsShownAndTheLoopGoesOn)
{
    QStringList texts, captions;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            texts << box->text();
            captions << box->windowTitle();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answer.start(10);
    Throwing target;
    for (int i = 0; i < 3; ++i)
        QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    // Ends once every event was delivered and both boxes were answered (a box still open would
    // mean the program waits for the user); the long limit only keeps a broken build from hanging.
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (target.handled == 3 && texts.size() == 2 && !QApplication::activeModalWidget())
            qApp->quit();
    });
    done.start(10);
    QTimer::singleShot(60000, qApp, &QCoreApplication::quit);
    qApp->exec();
    EXPECT_EQ(target.handled, 3); // the third event was still delivered
    // The first box's own event loop delivers the next event, so the boxes may nest.
    texts.sort();
    EXPECT_EQ(texts, (QStringList{"", "Division by zero"}));
    EXPECT_EQ(captions, (QStringList{"Korvi error message", "Korvi error message"}));
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--gtest_list_tests", 0) == 0) {
            ::testing::InitGoogleTest(&argc, argv);
            return RUN_ALL_TESTS();
        }
    KorviApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
