#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Canvas.h"

enum class Series { F, M };

// The image numbers of an outfit and the side each one shows.
enum class View { RIGHT, FRONT, LEFT, BACK };

constexpr int FIGURE_OUTFITS = 10;
constexpr int FIGURE_IMAGES = 6;
constexpr int IMAGE_WIDTH = 140;
constexpr int IMAGE_HEIGHT = 120;
constexpr int CELL_WIDTH = 70;

View ViewOf(int image);
// The image that holds the pixels of an image number: 2 repeats 1, 5 repeats 4.
int DistinctImageOf(int image);
// "F_3_1"
std::string ImageName(Series series, int outfit, int image);

// The seated figure of an outfit in one view and pose (0 or 1), in the
// 70 x 120 cell whose left edge is at x = left.
void DrawFigure(CCanvas& canvas, Series series, int outfit, View view, int pose, double left);

// One whole image: the figure in its two poses side by side, 140 x 120 RGBA rows.
std::vector<std::uint8_t> RenderImage(Series series, int outfit, int image);
