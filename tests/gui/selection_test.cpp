// Pointer arithmetic of the image window: canvas to image pixels, read-out texts, selections.
#include <gtest/gtest.h>

#include "image_data.h"
#include "selection.h"

namespace
{

struct CanvasCase {
    int canvas;
    int size;
    int canvasSize;
    int expected;
};

} // namespace

TEST(SelectionMathTest, ColumnsFromTheLeft)
{
    const CanvasCase cases[] = {
        {0, 4, 8, 0},  {1, 4, 8, 0},   {2, 4, 8, 1},   {7, 4, 8, 3},
        {8, 4, 8, 4},  {-1, 4, 8, -1}, {-2, 4, 8, -1}, {5, 10, 15, 3}, // zoom 1.5: 5 x 10 / 15 = 3.33
        {0, 10, 0, 0},                                                 // a zero canvas never divides by zero
    };
    for (const CanvasCase &c : cases)
        EXPECT_EQ(ImageXOf(c.canvas, c.size, c.canvasSize), c.expected) << c.canvas << " of " << c.canvasSize;
}

TEST(SelectionMathTest, RowsFromTheBottom)
{
    const CanvasCase cases[] = {
        {0, 3, 6, 2},  {1, 3, 6, 2},   {2, 3, 6, 1},   {5, 3, 6, 0},  {6, 3, 6, -1},
        {-1, 3, 6, 3}, {0, 10, 10, 9}, {9, 10, 10, 0}, {0, 10, 0, 0},
    };
    for (const CanvasCase &c : cases)
        EXPECT_EQ(ImageYOf(c.canvas, c.size, c.canvasSize), c.expected) << c.canvas << " of " << c.canvasSize;
}

TEST(SelectionMathTest, NormalisedRectangleAndLine)
{
    EXPECT_EQ(NormalisedSelection({8, 1, 2, 6}, 10, 10, false), (ImageSelection{2, 1, 8, 6}));
    EXPECT_EQ(NormalisedSelection({2, 6, 8, 1}, 10, 10, false), (ImageSelection{2, 1, 8, 6}));
    EXPECT_EQ(NormalisedSelection({8, 1, 2, 6}, 10, 10, true), (ImageSelection{2, 6, 8, 1}));
    EXPECT_EQ(NormalisedSelection({2, 6, 8, 1}, 10, 10, true), (ImageSelection{2, 6, 8, 1}));
    EXPECT_EQ(NormalisedSelection({-4, 30, 40, -2}, 10, 20, false), (ImageSelection{0, 0, 9, 19}));
    EXPECT_EQ(NormalisedSelection({3, 3, 5, 5}, 0, 0, false), (ImageSelection{0, 0, 0, 0}));
}

TEST(SelectionMathTest, ClickRemovesARectangleButNotALine)
{
    // Zoom 2, 20 x 10 image: canvas 40 x 20.
    SelectionResult r = FinishSelection(20, 10, 10, 10, 11, 11, 40, 20, 2.0, false);
    EXPECT_FALSE(r.shown);
    r = FinishSelection(20, 10, 4, 6, 30, 7, 40, 20, 2.0, false); // one row
    EXPECT_FALSE(r.shown);
    r = FinishSelection(20, 10, 4, 2, 4, 18, 40, 20, 2.0, false); // one column
    EXPECT_FALSE(r.shown);
    r = FinishSelection(20, 10, 4, 2, 4, 18, 40, 20, 2.0, true);
    EXPECT_TRUE(r.shown);
    EXPECT_EQ(r.selection, (ImageSelection{2, 8, 2, 0}));
    r = FinishSelection(20, 10, 30, 4, 6, 15, 40, 20, 2.0, false);
    EXPECT_TRUE(r.shown);
    EXPECT_EQ(r.selection, (ImageSelection{3, 2, 15, 7}));
}

TEST(SelectionMathTest, ReadOutTexts)
{
    ImageData image;
    image.Allocate(4, 3, 2);
    for (int r = 0; r < 6; ++r)
        for (int x = 0; x < 4; ++x)
            image.Rows[r][x] = static_cast<std::uint16_t>(100 * r + x);
    PointerReadout out = ReadPointer(image, 3, 0, 8, 6);
    EXPECT_TRUE(out.inside);
    EXPECT_EQ(out.text, "Frame 1: X=1, Y=2, Value: 201");
    image.CurrentFrame = 1;
    out = ReadPointer(image, 3, 0, 8, 6);
    EXPECT_EQ(out.text, "Frame 2: X=1, Y=2, Value: 501");
    image.CurrentFrame = 7; // out of range: the last frame, never past the rows
    out = ReadPointer(image, 3, 0, 8, 6);
    EXPECT_EQ(out.text, "Frame 2: X=1, Y=2, Value: 501");
    out = ReadPointer(image, 8, 0, 8, 6);
    EXPECT_FALSE(out.inside);
    EXPECT_EQ(out.text, "X=4, Y=2, Excluded pixel.");
    out = ReadPointer(image, -1, 6, 8, 6);
    EXPECT_EQ(out.text, "X=-1, Y=-1, Excluded pixel.");
}
