// The slew paddle driven through its picture: which triangle toggles which direction, the picture
// shown, and the slew word the controller receives (axis swaps included), through the four-wire
// interface and the drive controller; and its menu item in the main window.
#include "capture_test_support.h"
#include "guiding/track_window.h"
#include "main_window.h"
#include "program_windows.h"
#include "settings.h"
#include "simulator/sim_control.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QStyle>
#include <QTest>

#include <gtest/gtest.h>

using namespace korvi::test;
namespace sim = korvi::sim;

namespace
{

// Points on the 115-pixel picture.
const QPoint Top(57, 10), Bottom(57, 105), Left(10, 57), Right(105, 57), Diagonal(30, 30);

// The four-wire slew words written (their direction bits), in order.
std::vector<int> SlewWords()
{
    std::vector<int> bits;
    for (const auto &block : sim::WrittenBlocks())
        if (block.size() == 2 && block[0] == 20)
            bits.push_back(block[1]);
    return bits;
}

TEST(TrackWindow, ClicksToggleDirectionsAndSendThemAtOnce)
{
    ProgramFolder folder;
    CurrentSettings().ProgramDirectory = folder.Dir();
    TTrackF paddle;
    paddle.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&paddle));
    ASSERT_EQ(paddle.Image->width(), 115);
    ASSERT_EQ(paddle.Image->height(), 115);
    // The title is not cut to "...": the window leaves room for it in a bold title font beside
    // two title-bar buttons, and the paddle sits in its middle.
    EXPECT_EQ(paddle.windowTitle(), QStringLiteral("Track control"));
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    const int button = paddle.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &paddle);
    EXPECT_GE(paddle.width(), QFontMetrics(titleFont).horizontalAdvance(paddle.windowTitle()) + 2 * button);
    EXPECT_EQ(paddle.Image->x(), (paddle.width() - 115) / 2);

    const struct {
        QPoint click;
        bool kedro, swapEastWest, swapNorthSouth;
        const char *picture;
        int bits; // what the mount receives: east 1, west 2, north 4, south 8
    } steps[] = {
        {Top, false, false, false, "trackbtnN", 4},
        {Left, false, false, false, "trackbtnNE", 5},
        {Top, false, false, false, "trackbtnE", 1},      // north off, east stays
        {Diagonal, false, false, false, "trackbtnE", 1}, // no change, sent again
        {Right, false, false, false, "trackbtnW", 2},    // west clears east
        {Bottom, false, false, false, "trackbtnSW", 10},
        {Right, false, false, false, "trackbtnS", 8},
        {Bottom, false, false, false, "trackbtn0", 0}, // the last lit one off: stop
        // Swapped axes: the picture shows what was clicked, the mount moves the other way.
        {Left, false, true, false, "trackbtnE", 2},
        {Top, false, true, true, "trackbtnNE", 2 | 8},
        {Top, false, true, true, "trackbtnE", 2},
        {Left, false, true, true, "trackbtn0", 0},
        // Through the drive controller.
        {Bottom, true, false, true, "trackbtnS", 4},
        {Left, true, false, true, "trackbtnSE", 4 | 1},
        {Left, true, false, false, "trackbtnS", 8},
        {Bottom, true, false, false, "trackbtn0", 0},
    };
    sim::Reset(sim::Config{});
    CurrentSettings().ManualSlewFlags = {};
    std::size_t words = 0;
    for (const auto &s : steps) {
        Settings &settings = CurrentSettings();
        settings.UseKEDRO = s.kedro;
        settings.InvertEastWest = s.swapEastWest;
        settings.InvertNorthSouth = s.swapNorthSouth;
        QTest::mouseClick(paddle.Image, Qt::LeftButton, {}, s.click);
        const std::string where = std::to_string(s.click.x()) + "," + std::to_string(s.click.y());
        EXPECT_EQ(paddle.PictureName(), s.picture) << where;
        EXPECT_FALSE(paddle.Image->pixmap().isNull()) << where;
        EXPECT_EQ(sim::GetSnapshot().slewBits, s.bits) << where << " " << s.picture;
        const std::vector<int> wire = SlewWords();
        if (!s.kedro) {
            // Every click sends exactly one four-wire word.
            ASSERT_EQ(wire.size(), words + 1) << where;
            EXPECT_EQ(wire.back(), s.bits) << where;
        } else {
            EXPECT_EQ(wire.size(), words) << where; // the drive controller carries it instead
            EXPECT_EQ(sim::GetSnapshot().drive.lastSubcommand, 11) << where;
        }
        words = wire.size();
    }
}

// The program ends while a paddle slew runs: the slew does not outlive it, also when the link
// refuses the first stop.
TEST(TrackWindow, ASlewOfThePaddleEndsWithTheProgram)
{
    ProgramFolder folder;
    CurrentSettings().ProgramDirectory = folder.Dir();
    CurrentSettings().UseKEDRO = false;
    CurrentSettings().InvertEastWest = CurrentSettings().InvertNorthSouth = false;
    CurrentSettings().ManualSlewFlags = {};
    sim::Reset(sim::Config{});
    {
        TTrackF paddle;
        paddle.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&paddle));
        QTest::mouseClick(paddle.Image, Qt::LeftButton, {}, Left);
        ASSERT_EQ(sim::GetSnapshot().slewBits, 1);
        sim::Faults refuse;
        refuse.failures.push_back({"FT_Open", 1, FT_DEVICE_NOT_OPENED, false});
        sim::SetFaults(refuse);
    }
    EXPECT_EQ(sim::GetSnapshot().slewBits, 0);
    EXPECT_EQ(SlewWords().back(), 0);
    EXPECT_FALSE(CurrentSettings().ManualSlewFlags[GuideEast]);
    sim::ClearFaults();
}

TEST(TrackWindow, TheToolsMenuShowsThePaddle)
{
    ProgramFolder folder;
    TMainF main(folder.Dir(), QStringList());
    CreateProgramWindows(&main);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    auto *item = main.findChild<QAction *>(QStringLiteral("ShowTTrackF"));
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->isEnabled());
    CurrentSettings().ManualSlewFlags = {true, false, true, false};
    item->trigger();
    ASSERT_NE(TrackF, nullptr);
    EXPECT_TRUE(TrackF->isVisible());
    EXPECT_EQ(TrackF->windowTitle(), QStringLiteral("Track control"));
    EXPECT_EQ(TrackF->PictureName(), "trackbtnNE");
    main.RepaintRequest = false;
    TrackF->close();
    EXPECT_TRUE(main.RepaintRequest);
    main.ClosingDone = true;
}

} // namespace

int main(int argc, char **argv)
{
    return RunQtTests(argc, argv);
}
