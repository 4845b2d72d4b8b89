#include "korvi_application.h"

#include "gui_runtime.h"

KorviApplication::KorviApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool KorviApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        const std::string text = korvi::gui::ExceptionText(std::current_exception());
        korvi::gui::RunGuarded([&] {
            korvi::gui::ShowMessage(QString::fromStdString(text), QStringLiteral("Korvi error message"),
                                    MessageButtons::Ok, MessageIcon::Error);
        });
        return false;
    }
}
