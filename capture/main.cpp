#include <QApplication>
#include <QMainWindow>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Korvi Capture");
    QMainWindow w;
    w.setWindowTitle("Korvi Capture");
    w.resize(1024, 768);
    w.show();
    return app.exec();
}
