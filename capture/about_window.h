#pragma once
// TAboutF ("About Korvi Astronomical Image Capture"): the program's about text and the libraries it
// uses, with the versions the running program actually loaded.
#include <QString>
#include <QWidget>

class QPushButton;
class QTextBrowser;

class TAboutF : public QWidget
{
    Q_OBJECT
public:
    explicit TAboutF(QWidget *parent = nullptr);
    ~TAboutF() override;

    QTextBrowser *AboutText = nullptr;
    QPushButton *OKBtn = nullptr;

    void FormClose();

protected:
    void closeEvent(QCloseEvent *event) override;
};

// The about text (rich text) with the library versions read now.
QString AboutKorviText();

extern TAboutF *AboutF;
