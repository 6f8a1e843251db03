#pragma once

#include <cstdint>
#include <vector>

// All distinct images on one sheet: a row per outfit, the F series' four views
// on the left and the M series' on the right, each labelled with its name, on a
// checkerboard that shows the transparent background.
struct ContactSheet {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
};

ContactSheet MakeContactSheet();
