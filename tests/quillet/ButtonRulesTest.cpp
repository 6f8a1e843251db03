#include <gtest/gtest.h>

#include "ButtonRules.h"

namespace {

TEST(ButtonRules, GradientColoursFollowTheBrushNumber)
{
    struct Case {
        int brush;
        bool hover;
        int grey, blue;
    } cases[] = {
        {0, false, 255, 255}, {2, false, 255, 255}, {3, false, 254, 255}, {5, false, 254, 254},
        {63, false, 234, 243}, {0, true, 255, 255},  {3, true, 255, 255},  {4, true, 254, 255},
        {63, true, 240, 243},
    };
    for (const Case& c : cases) {
        ButtonRgb rgb = GradientColour(c.brush, c.hover);
        EXPECT_EQ(rgb.red, c.grey) << c.brush << " hover " << c.hover;
        EXPECT_EQ(rgb.green, c.grey) << c.brush << " hover " << c.hover;
        EXPECT_EQ(rgb.blue, c.blue) << c.brush << " hover " << c.hover;
    }
}

TEST(ButtonRules, EveryRowOfTheInnerRectangleGetsItsBrush)
{
    // Client 38 x 24 with 2-pixel edges: rows 2 to 22, columns 2 to 35.
    ButtonBox inner = InnerBox(ButtonBox{0, 0, 38, 24}, 2, 2);
    EXPECT_EQ(inner.left, 2);
    EXPECT_EQ(inner.top, 2);
    EXPECT_EQ(inner.right, 36); // the last filled column is 35
    EXPECT_EQ(inner.bottom, 22);
    const int height = inner.bottom - inner.top;
    EXPECT_EQ(GradientBrushForRow(2, inner.top, height), 0);
    EXPECT_EQ(GradientBrushForRow(22, inner.top, height), 63);
    EXPECT_EQ(GradientBrushForRow(12, inner.top, height), 31); // 63 * 10 / 20
    EXPECT_EQ(GradientBrushForRow(3, inner.top, height), 3);   // 63 / 20
    int previous = -1;
    for (int y = inner.top; y <= inner.bottom; ++y) {
        int brush = GradientBrushForRow(y, inner.top, height);
        EXPECT_GE(brush, previous) << "row " << y;
        EXPECT_LT(brush, BUTTON_GRADIENT_BRUSHES) << "row " << y;
        previous = brush;
    }
}

TEST(ButtonRules, RowsOutsideTheSpanAndEmptyRectanglesStayInTheTable)
{
    EXPECT_EQ(GradientBrushForRow(0, 2, 20), 0);
    EXPECT_EQ(GradientBrushForRow(40, 2, 20), 63);
    // A button no higher than its two edges has no inner rows: no division by zero.
    EXPECT_EQ(GradientBrushForRow(2, 2, 0), 0);
    EXPECT_EQ(GradientBrushForRow(2, 2, -3), 0);
    EXPECT_EQ(GradientColour(-1, false).red, 255);
    EXPECT_EQ(GradientColour(64, false).red, 234);
}

TEST(ButtonRules, ThePointerOnTheRightOrBottomEdgeIsInside)
{
    const ButtonBox client{0, 0, 20, 20};
    struct Case {
        int x, y;
        bool inside;
    } cases[] = {
        {0, 0, true},   {20, 20, true},  {20, 0, true},  {0, 20, true},   {10, 10, true},
        {21, 10, false}, {10, 21, false}, {-1, 10, false}, {10, -1, false}, {21, 21, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InsideInclusive(client, c.x, c.y), c.inside) << c.x << "," << c.y;
}

TEST(ButtonRules, PressedWinsOverHoverAndMissingBitmapsFallBackToNormal)
{
    struct Case {
        bool hover, pressed, hasHover, hasPressed;
        ButtonFace face;
    } cases[] = {
        {false, false, true, true, ButtonFace::Normal},   {true, false, true, true, ButtonFace::Hover},
        {false, true, true, true, ButtonFace::Pressed},   {true, true, true, true, ButtonFace::Pressed},
        {true, false, false, true, ButtonFace::Normal},   {false, true, true, false, ButtonFace::Normal},
        {true, true, true, false, ButtonFace::Hover},     {true, true, false, false, ButtonFace::Normal},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FaceFor(c.hover, c.pressed, c.hasHover, c.hasPressed), c.face)
            << c.hover << c.pressed << c.hasHover << c.hasPressed;
}

} // namespace
