// The palette editor's curve edits on a 374 x 341 view (zero line at 321): selection, drags with
// their constraints, insert, delete, symmetry and grey scale.
#include "palette_curves.h"

#include <gtest/gtest.h>

namespace
{

constexpr int W = 374, Hp = 321;

// One straight segment per channel from (0,0) to (1,1) with handles at the thirds.
PPalette Straight()
{
    PPalette p;
    for (int c = 0; c < PaletteChannels; ++c) {
        p.SegmentCount[c] = 1;
        p.Points[c][0] = {0.0f, 0.0f};
        p.Points[c][1] = {1.0f / 3, 1.0f / 3};
        p.Points[c][2] = {2.0f / 3, 2.0f / 3};
        p.Points[c][3] = {1.0f, 1.0f};
    }
    return p;
}

struct Editor {
    PPalette palette = Straight();
    PaletteCurves curves{W, 341};
    Editor() { curves.PointsToScreen(palette); }
    int X(int i) const { return curves.ScreenX[i][curves.Channel]; }
    int Y(int i) const { return curves.ScreenY[i][curves.Channel]; }
    // Double click at (x, y): the press before it, the release, then the insert.
    bool DoubleClick(int x, int y)
    {
        curves.Press(palette, x, y, true, false);
        curves.Release();
        return curves.Insert(palette);
    }
};

TEST(PaletteCurves, ViewCoordinatesFollowTheViewRule)
{
    Editor e;
    EXPECT_EQ(e.X(3), W);
    EXPECT_EQ(e.Y(3), 0);
    EXPECT_EQ(e.X(1), 124); // trunc(374 / 3)
    EXPECT_EQ(e.Y(1), 213); // trunc(321 - 321 x 0.33333334) = trunc(213.99999)
    EXPECT_EQ(e.Y(0), Hp);
    e.curves.ScreenToPoints(e.palette);
    EXPECT_FLOAT_EQ(e.palette.Points[0][1].x, 124.0f / W);
    EXPECT_FLOAT_EQ(e.palette.Points[0][1].y, (321.0f - 213.0f) / 321.0f);
}

TEST(PaletteCurves, ADoubleClickSplitsTheSegmentOnItsChord)
{
    Editor e;
    ASSERT_TRUE(e.DoubleClick(50, 300)); // right of the first anchor
    EXPECT_EQ(e.palette.SegmentCount[0], 2);
    // The new anchor at the middle of the chord, its handles at a quarter and three quarters.
    EXPECT_EQ(e.X(3), W / 2);
    EXPECT_EQ(e.Y(3), Hp - Hp / 2);
    EXPECT_EQ(e.X(2), W / 4);
    EXPECT_EQ(e.X(4), 3 * W / 4);
    EXPECT_EQ(e.Y(4), Hp + (3 * -Hp) / 4);
    EXPECT_EQ(e.X(1), 124); // the old handles keep their places: first at 1, second now at 5
    EXPECT_EQ(e.X(5), 249);
    EXPECT_EQ(e.X(6), W);
    EXPECT_TRUE(PaletteCurves::AnchorSymmetric(e.palette, 0, 3));
    EXPECT_EQ(e.palette.SegmentCount[1], 1); // other channels untouched

    // Left of the last-but-one anchor: the segment before it splits.
    EXPECT_TRUE(e.DoubleClick(150, 200));
    EXPECT_EQ(e.palette.SegmentCount[0], 3);
    EXPECT_EQ(e.X(3), W / 4);
    EXPECT_EQ(e.X(6), W / 2);

    // A click at or left of the first anchor names no segment.
    EXPECT_FALSE(e.DoubleClick(-5, Hp));
    EXPECT_EQ(e.palette.SegmentCount[0], 3);
}

TEST(PaletteCurves, TwentySegmentsOrANarrowSegmentTakeNoInsert)
{
    Editor e;
    e.palette.SegmentCount[0] = 20;
    for (int i = 0; i <= 60; ++i) {
        e.palette.Points[0][i] = {i / 60.0f, i / 60.0f};
    }
    e.curves.PointsToScreen(e.palette);
    EXPECT_FALSE(e.DoubleClick(100, 100));
    EXPECT_EQ(e.palette.SegmentCount[0], 20);

    Editor narrow;
    narrow.palette.Points[0][3] = {1.0f / W, 1.0f};
    narrow.curves.PointsToScreen(narrow.palette);
    EXPECT_FALSE(narrow.DoubleClick(5, 0));
}

TEST(PaletteCurves, DragsMoveWhatTheyShouldAndKeepAnchorsInOrder)
{
    Editor e;
    ASSERT_TRUE(e.DoubleClick(50, 300)); // anchors at 0, 187, 374; 3 is symmetric
    const int a = e.X(3);

    // An interior anchor carries its handles along.
    e.curves.Press(e.palette, a, e.Y(3), true, false);
    ASSERT_EQ(e.curves.SelectedPoint, 3);
    const int h2 = e.X(2), h4 = e.X(4), y4 = e.Y(4);
    ASSERT_TRUE(e.curves.Drag(e.palette, a + 10, e.Y(3) - 7));
    EXPECT_EQ(e.X(3), a + 10);
    EXPECT_EQ(e.X(2), h2 + 10);
    EXPECT_EQ(e.X(4), h4 + 10);
    EXPECT_EQ(e.Y(4), y4 - 7);
    // ...but never onto or past a neighbouring anchor, and never below intensity 0.
    e.curves.Drag(e.palette, 1000, 1000);
    EXPECT_EQ(e.X(3), W - 1);
    EXPECT_EQ(e.Y(3), Hp);
    e.curves.Drag(e.palette, -50, 10);
    EXPECT_EQ(e.X(3), 1);
    e.curves.Release();
    e.curves.ScreenToPoints(e.palette);
    EXPECT_GT(e.palette.Points[0][3].x, e.palette.Points[0][0].x);

    // A handle beside a symmetric anchor mirrors its partner; with the flag clear it does not.
    e.curves.Press(e.palette, e.X(4), e.Y(4), true, false);
    ASSERT_EQ(e.curves.SelectedPoint, 4);
    e.curves.Drag(e.palette, e.X(3) + 20, e.Y(3) - 30);
    EXPECT_EQ(e.X(2), e.X(3) - 20);
    EXPECT_EQ(e.Y(2), e.Y(3) + 30);
    e.curves.Release();
    e.curves.SelectedPoint = 3;
    EXPECT_FALSE(e.curves.ToggleSymmetry(e.palette));
    const int x2 = e.X(2);
    e.curves.Press(e.palette, e.X(4), e.Y(4), true, false);
    e.curves.Drag(e.palette, e.X(3) + 40, e.Y(3));
    EXPECT_EQ(e.X(2), x2);

    // An end anchor keeps its x and moves its handle vertically.
    e.curves.Release();
    e.curves.Press(e.palette, 0, Hp, true, false);
    ASSERT_EQ(e.curves.SelectedPoint, 0);
    const int y1 = e.Y(1);
    e.curves.Drag(e.palette, 30, Hp - 15);
    EXPECT_EQ(e.X(0), 0);
    EXPECT_EQ(e.Y(0), Hp - 15);
    EXPECT_EQ(e.Y(1), y1 - 15);
}

TEST(PaletteCurves, RightPressOnAnAnchorAsksForTheMenuAndDeleteJoinsSegments)
{
    Editor e;
    ASSERT_TRUE(e.DoubleClick(50, 300));
    e.palette.Symmetric[0][2] = true; // the last anchor's flag moves down with it
    EXPECT_FALSE(e.curves.Press(e.palette, e.X(2), e.Y(2), false, true)); // a handle: no menu
    EXPECT_TRUE(e.curves.Press(e.palette, e.X(3), e.Y(3), false, true));
    const int h1 = e.X(1), h5 = e.X(5);
    ASSERT_TRUE(e.curves.DeleteSelected(e.palette));
    EXPECT_EQ(e.palette.SegmentCount[0], 1);
    EXPECT_EQ(e.X(1), h1); // the left segment's first handle and the right one's second remain
    EXPECT_EQ(e.X(2), h5);
    EXPECT_EQ(e.X(3), W);
    EXPECT_TRUE(e.palette.Symmetric[0][1]);
    e.curves.SelectedPoint = 3;
    EXPECT_FALSE(e.curves.DeleteSelected(e.palette)); // end anchors stay
    e.curves.SelectedPoint = 0;
    EXPECT_FALSE(e.curves.DeleteSelected(e.palette));
}

TEST(PaletteCurves, SymmetrizeMirrorsTheLeftHandleOfAnInteriorAnchor)
{
    Editor e;
    ASSERT_TRUE(e.DoubleClick(50, 300));
    e.palette.Symmetric[0][1] = false;
    e.curves.ScreenX[4][0] += 30;
    e.curves.SelectedPoint = 3;
    EXPECT_TRUE(e.curves.ToggleSymmetry(e.palette));
    EXPECT_EQ(e.X(2), 2 * e.X(3) - e.X(4));
    EXPECT_EQ(e.Y(2), 2 * e.Y(3) - e.Y(4));
}

TEST(PaletteCurves, AnAnchorWithoutRoomBetweenItsNeighboursKeepsItsX)
{
    // A loaded palette may hold anchors out of order: the middle anchor's neighbours at 200 and
    // 100 leave no room, and a drag moves it only vertically.
    Editor e;
    ASSERT_TRUE(e.DoubleClick(50, 300));
    e.curves.ScreenX[0][0] = 200;
    e.curves.ScreenX[6][0] = 100;
    e.curves.ScreenX[3][0] = 150;
    e.curves.SelectedPoint = 3;
    e.curves.Dragging = true;
    for (const int x : {20, 150, 300}) {
        ASSERT_TRUE(e.curves.Drag(e.palette, x, 100));
        EXPECT_EQ(e.X(3), 150) << x;
        EXPECT_EQ(e.Y(3), 100);
    }
    // Neighbours one pixel apart leave no room either.
    e.curves.ScreenX[0][0] = 149;
    e.curves.ScreenX[6][0] = 150;
    ASSERT_TRUE(e.curves.Drag(e.palette, 0, 90));
    EXPECT_EQ(e.X(3), 150);
}

TEST(PaletteCurves, GreyScaleMakesTheThreeCurvesRed)
{
    Editor e;
    e.palette.SegmentCount[2] = 3;
    e.palette.Points[1][1] = {0.9f, 0.1f};
    e.curves.GreyScale = true;
    e.curves.PointsToScreen(e.palette);
    e.curves.ScreenY[1][0] -= 40;
    e.curves.ScreenToPoints(e.palette);
    for (int c = 1; c < PaletteChannels; ++c) {
        EXPECT_EQ(e.palette.SegmentCount[c], 1);
        for (int i = 0; i <= 3; ++i)
            EXPECT_EQ(e.palette.Points[c][i], e.palette.Points[0][i]);
    }
    e.palette.BuildTables(true, true, true);
    for (int level : {0, 1000, 30000, 65535})
        EXPECT_EQ(e.palette.ByteTable[1][level], e.palette.ByteTable[0][level]);
}

} // namespace
