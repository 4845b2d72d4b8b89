// Starts the real program, as installed (the program, its libraries and the data folders beside
// it), on a virtual screen of its own and checks that the main window shows up and is not blank.
// The screen is private (xvfb-run around a second run of this test program), so windows of other
// tests running at the same time cannot be mistaken for Korvi's.
#include "test_files.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSet>
#include <QThread>

#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace
{

// Where the shipped settings place the main window, and its size.
const QRect MainWindowRect(40, 40, 1083, 768);

int DistinctColours(const QImage &image, const QRect &area)
{
    QSet<QRgb> colours;
    for (int y = area.top(); y <= area.bottom(); y += 2)
        for (int x = area.left(); x <= area.right(); x += 2)
            colours.insert(image.pixel(x, y) & 0xFFFFFF);
    return colours.size();
}

// Child mode, on the private screen: start the program from `folder`, wait until its window is
// drawn, save the screen to folder/shot.png.
int Shoot(const QString &folder)
{
    QProcess korvi;
    korvi.setProgram(folder + "/korvi");
    korvi.setProcessChannelMode(QProcess::ForwardedChannels);
    korvi.start();
    if (!korvi.waitForStarted(10000))
        return 3;
    QImage shot;
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        QThread::msleep(500);
        QApplication::processEvents();
        shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        if (korvi.state() != QProcess::Running)
            break;
        if (!shot.isNull() && DistinctColours(shot, MainWindowRect) > 20) {
            QThread::msleep(1500); // let the window finish drawing
            shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
            break;
        }
    }
    // The top-level windows with the captions the window system shows for them.
    QProcess windows;
    windows.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    const bool listed = windows.waitForFinished(10000) && windows.exitCode() == 0;
    const bool running = korvi.state() == QProcess::Running;
    korvi.kill(); // no close sequence: nothing is written
    korvi.waitForFinished(5000);
    if (!running)
        return 4;
    if (!listed)
        return 6;
    QFile list(folder + "/windows.txt");
    if (!list.open(QIODevice::WriteOnly) || list.write(windows.readAllStandardOutput()) < 0 || !list.flush())
        return 5;
    return shot.save(folder + "/shot.png") ? 0 : 5;
}

QString SelfPath;

TEST(ProgramScreenshot, MainWindowIsShownAndNotBlank)
{
    korvi::test::TempDir dir;
    const fs::path bin(KORVI_BIN_DIR);
    // The program with its libraries, and the data folders from the source tree.
    for (const auto &entry : fs::directory_iterator(bin))
        if (entry.is_regular_file() &&
            (entry.path().filename() == "korvi" || entry.path().extension() == ".so"))
            fs::copy_file(entry.path(), dir.path() / entry.path().filename());
    ASSERT_TRUE(fs::exists(dir.path() / "korvi")) << "build the korvi target first";
    const fs::path resources = fs::path(KORVI_SOURCE_DIR) / "resources";
    for (const char *sub : {"Settings", "Palettes", "Bitmaps", "Filters", "Scripts", "Help"}) {
        fs::create_directories(dir.path() / sub);
        for (const auto &entry : fs::directory_iterator(resources / sub))
            if (entry.path().filename() != ".keep")
                fs::copy_file(entry.path(), dir.path() / sub / entry.path().filename());
    }
    const std::string settingsBefore =
        korvi::test::ReadFileBytes((dir.path() / "Settings/DefaultSettings.txt").string());

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QStringLiteral("xvfb-run"),
                {QStringLiteral("-a"), QStringLiteral("-s"),
                 QStringLiteral("-screen 0 1280x1024x24 -nolisten tcp"), SelfPath, QStringLiteral("--shoot"),
                 QString::fromStdString(dir.path().string())});
    ASSERT_TRUE(child.waitForFinished(90000));
    ASSERT_EQ(child.exitCode(), 0)
        << "3: no start, 4: the program ended, 5: no screenshot, 6: no window list";

    // The main window's caption reaches the window system as it is, with nothing appended.
    const std::string windows = korvi::test::ReadFileBytes((dir.path() / "windows.txt").string());
    EXPECT_NE(windows.find("\"Korvi CCD Image Capture\": ("), std::string::npos) << windows;

    QImage shot(QString::fromStdString((dir.path() / "shot.png").string()));
    ASSERT_FALSE(shot.isNull());
    // Outside the window the bare screen is one colour; inside it there are menus, tool bar,
    // pages, the palette bar and the image area.
    EXPECT_LE(DistinctColours(shot, QRect(1200, 900, 70, 100)), 2);
    const int inside = DistinctColours(shot, MainWindowRect);
    EXPECT_GT(inside, 20);
    // Not one flat fill: no colour covers more than 90 % of the window.
    QHash<QRgb, int> counts;
    int samples = 0;
    for (int y = MainWindowRect.top(); y <= MainWindowRect.bottom(); y += 4)
        for (int x = MainWindowRect.left(); x <= MainWindowRect.right(); x += 4, ++samples)
            ++counts[shot.pixel(x, y) & 0xFFFFFF];
    int largest = 0;
    for (int c : counts)
        largest = std::max(largest, c);
    EXPECT_LT(largest, samples * 9 / 10);
    // Killed without closing: the settings file is untouched.
    EXPECT_EQ(korvi::test::ReadFileBytes((dir.path() / "Settings/DefaultSettings.txt").string()),
              settingsBefore);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--shoot") == 0) {
        QApplication app(argc, argv);
        return Shoot(QString::fromLocal8Bit(argv[2]));
    }
    SelfPath = QString::fromLocal8Bit(fs::absolute(argv[0]).string().c_str());
    // The test itself needs no screen: the program runs on a private one.
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
