#include "about_window.h"

#include "gui_runtime.h"
#include "main_window.h"

#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QtGlobal>

#include <fftw3.h>
#include <fitsio.h>
#include <libftdi1/ftdi.h>
#include <png.h>
#include <tnt_version.h>
#include <zlib.h>

TAboutF *AboutF = nullptr;

QString AboutKorviText()
{
    float fitsVersion = 0.0f;
    fits_get_version(&fitsVersion);
    const ftdi_version_info ftdi = ftdi_get_library_version();
    const auto row = [](const QString &role, const QString &library) {
        return QStringLiteral("<li><b>") + role + QStringLiteral(":</b> ") + library +
               QStringLiteral("</li>");
    };
    QString text =
        QStringLiteral("<h3>Korvi Astronomical Image Capture</h3>"
                       "<p>Capture and processing of images from a cooled astronomical CCD camera: "
                       "acquisition, autoguiding, telescope drive control, scripts and image processing.</p>"
                       "<p>Korvi is built on these libraries:</p><ul>");
    text += row(QStringLiteral("User interface and OpenGL panel"),
                QStringLiteral("Qt ") + QString::fromLatin1(qVersion()));
    text += row(QStringLiteral("PNG images"),
                QStringLiteral("libpng ") + QString::fromLatin1(png_get_libpng_ver(nullptr)) +
                    QStringLiteral(" with zlib ") + QString::fromLatin1(zlibVersion()));
    text += row(QStringLiteral("Fourier transforms"), QString::fromLatin1(fftw_version));
    text +=
        row(QStringLiteral("FITS files"), QStringLiteral("CFITSIO ") + QString::number(fitsVersion, 'f', 3));
    text +=
        row(QStringLiteral("Matrix algebra"),
            QStringLiteral("TNT ") + QStringLiteral(TNT_VERSION_STRING) + QStringLiteral(" and JAMA (NIST)"));
    text += row(QStringLiteral("USB chip driver"),
                QStringLiteral("libftdi1 ") + QString::fromLatin1(ftdi.version_str));
    text += QStringLiteral("</ul>");
    return text;
}

TAboutF::TAboutF(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("AboutF"));
    setWindowTitle(QStringLiteral("About Korvi Astronomical Image Capture"));
    AboutText = new QTextBrowser(this);
    AboutText->setObjectName(QStringLiteral("AboutText"));
    AboutText->setHtml(AboutKorviText());
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(AboutText, 1);
    layout->addWidget(OKBtn, 0, Qt::AlignRight);
    connect(OKBtn, &QPushButton::clicked, this, [this] { close(); });
    resize(460, 340);
}

TAboutF::~TAboutF()
{
    if (AboutF == this)
        AboutF = nullptr;
    korvi::gui::DetachHandlers(this);
}

void TAboutF::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TAboutF::FormClose()
{
    if (MainF)
        MainF->RepaintRequest = true;
}
