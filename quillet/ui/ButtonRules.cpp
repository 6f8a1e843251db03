#include "ButtonRules.h"

ButtonRgb GradientColour(int brush, bool hover) noexcept
{
    if (brush < 0)
        brush = 0;
    if (brush >= BUTTON_GRADIENT_BRUSHES)
        brush = BUTTON_GRADIENT_BRUSHES - 1;
    const int grey = 255 - (hover ? brush / 4 : brush / 3);
    ButtonRgb c;
    c.red = static_cast<std::uint8_t>(grey);
    c.green = static_cast<std::uint8_t>(grey);
    c.blue = static_cast<std::uint8_t>(255 - brush / 5);
    return c;
}

int GradientBrushForRow(int y, int innerTop, int innerHeight) noexcept
{
    if (innerHeight <= 0 || y <= innerTop)
        return 0;
    if (y - innerTop >= innerHeight)
        return BUTTON_GRADIENT_BRUSHES - 1;
    return (BUTTON_GRADIENT_BRUSHES - 1) * (y - innerTop) / innerHeight;
}

ButtonBox InnerBox(const ButtonBox& client, int edgeX, int edgeY) noexcept
{
    return ButtonBox{client.left + edgeX, client.top + edgeY, client.right - edgeX, client.bottom - edgeY};
}

bool InsideInclusive(const ButtonBox& box, int x, int y) noexcept
{
    return box.left <= x && x <= box.right && box.top <= y && y <= box.bottom;
}

ButtonFace FaceFor(bool hover, bool pressed, bool hasHoverBitmap, bool hasPressedBitmap) noexcept
{
    if (pressed && hasPressedBitmap)
        return ButtonFace::Pressed;
    if (hover && hasHoverBitmap)
        return ButtonFace::Hover;
    return ButtonFace::Normal;
}
