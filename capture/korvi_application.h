#pragma once
// The program's application object: an exception that escapes an event handler is shown in a
// "Korvi error message" box (with an empty text for one that is not a std::exception) and the
// program goes on.
#include <QApplication>

class KorviApplication : public QApplication
{
public:
    KorviApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};
