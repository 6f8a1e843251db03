#pragma once

#include <cstdint>

// The rules of the skinned button that need no window: the colours of the drawn
// face, which brush fills which row, which bitmap a state shows and where the
// pointer counts as over the button.

// A rectangle as the platform keeps one: right and bottom lie one past the last
// pixel column and row.
struct ButtonBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct ButtonRgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};

// The drawn face is a gradient of this many solid brushes.
constexpr int BUTTON_GRADIENT_BRUSHES = 64;

// Colour of brush i (0..63): a light gradient, a little warmer while hovering.
ButtonRgb GradientColour(int brush, bool hover) noexcept;

// The brush that fills row y of an inner rectangle that starts at innerTop and is
// innerHeight rows high: 63 x (y - innerTop) / innerHeight, so the first row takes
// brush 0 and the row at innerTop + innerHeight brush 63. Rows outside that span
// and an empty rectangle are held to the ends instead of running off the table.
int GradientBrushForRow(int y, int innerTop, int innerHeight) noexcept;

// The client rectangle inset by the system's edge sizes.
ButtonBox InnerBox(const ButtonBox& client, int edgeX, int edgeY) noexcept;

// The pointer is over the button when it lies in the client rectangle with both
// edges included: left <= x <= right and top <= y <= bottom.
bool InsideInclusive(const ButtonBox& box, int x, int y) noexcept;

enum class ButtonFace { Normal, Hover, Pressed };

// Which bitmap a state shows: pressed wins over hover and hover over normal, and
// a state without its own bitmap shows the normal one.
ButtonFace FaceFor(bool hover, bool pressed, bool hasHoverBitmap, bool hasPressedBitmap) noexcept;
