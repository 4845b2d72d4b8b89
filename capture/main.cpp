// korvi: the capture and processing program. Creates the main window and the program's windows in
// their fixed order and runs the event loop; an exception that escapes a handler is shown and the
// program goes on.
#include "gui_runtime.h"
#include "korvi_application.h"
#include "main_window.h"
#include "program_windows.h"

#include <QStringList>

int main(int argc, char **argv)
{
    KorviApplication app(argc, argv);
    // The application's title. Only the name is set: a display name would be appended by Qt to
    // every window caption (the main window would read "Korvi CCD Image Capture — Korvi Capture").
    QApplication::setApplicationName(QStringLiteral("Korvi Capture"));
    korvi::gui::InstallCoreUiHooks();

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst(); // the program itself
    const std::string programDirectory = QApplication::applicationDirPath().toStdString() + "/";

    auto *main = new TMainF(programDirectory, arguments);
    main->setAttribute(Qt::WA_DeleteOnClose);
    CreateProgramWindows(main);
    main->show();
    app.exec();
    return 0;
}
