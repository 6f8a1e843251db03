#include "ContactSheet.h"

#include <string>

#include "Figure.h"

namespace {

constexpr int MARGIN = 12;
constexpr int SERIES_GAP = 24;
constexpr int LABEL_HEIGHT = 14;
constexpr int FONT_SCALE = 2;
const int SHEET_VIEWS[] = {0, 1, 3, 4};

// 3 x 5 glyphs, one row per byte (bits 2..0 left to right).
struct Glyph {
    char ch;
    std::uint8_t rows[5];
};
const Glyph GLYPHS[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 3, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 2, 2}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'F', {7, 4, 6, 4, 4}}, {'M', {5, 7, 7, 5, 5}},
    {'_', {0, 0, 0, 0, 7}},
};

void Put(ContactSheet& sheet, int x, int y, std::uint32_t rgb)
{
    if (x < 0 || y < 0 || x >= sheet.width || y >= sheet.height)
        return;
    std::uint8_t* p = &sheet.rgba[(std::size_t(y) * sheet.width + x) * 4];
    p[0] = std::uint8_t(rgb >> 16);
    p[1] = std::uint8_t(rgb >> 8);
    p[2] = std::uint8_t(rgb);
    p[3] = 255;
}

void Label(ContactSheet& sheet, int x, int y, const std::string& text)
{
    for (char ch : text) {
        for (const Glyph& g : GLYPHS) {
            if (g.ch != ch)
                continue;
            for (int row = 0; row < 5; ++row)
                for (int col = 0; col < 3; ++col)
                    if (g.rows[row] & (4 >> col))
                        for (int j = 0; j < FONT_SCALE; ++j)
                            for (int i = 0; i < FONT_SCALE; ++i)
                                Put(sheet, x + col * FONT_SCALE + i, y + row * FONT_SCALE + j, 0x505860);
        }
        x += 4 * FONT_SCALE;
    }
}

void Blit(ContactSheet& sheet, int x0, int y0, const std::vector<std::uint8_t>& image)
{
    for (int y = 0; y < IMAGE_HEIGHT; ++y) {
        for (int x = 0; x < IMAGE_WIDTH; ++x) {
            const std::uint8_t* s = &image[(std::size_t(y) * IMAGE_WIDTH + x) * 4];
            std::uint8_t* d = &sheet.rgba[(std::size_t(y0 + y) * sheet.width + x0 + x) * 4];
            for (int c = 0; c < 3; ++c)
                d[c] = std::uint8_t((s[c] * s[3] + d[c] * (255 - s[3]) + 127) / 255);
        }
    }
}

} // namespace

ContactSheet MakeContactSheet()
{
    ContactSheet sheet;
    const int columns = 4;
    const int rowHeight = IMAGE_HEIGHT + LABEL_HEIGHT;
    sheet.width = 2 * MARGIN + 2 * columns * IMAGE_WIDTH + SERIES_GAP;
    sheet.height = 2 * MARGIN + FIGURE_OUTFITS * rowHeight;
    sheet.rgba.assign(std::size_t(sheet.width) * sheet.height * 4, 255);
    for (int y = 0; y < sheet.height; ++y)
        for (int x = 0; x < sheet.width; ++x)
            Put(sheet, x, y, ((x / 10 + y / 10) % 2) ? 0xE4E7EA : 0xF4F5F6);

    for (int outfit = 0; outfit < FIGURE_OUTFITS; ++outfit) {
        for (int s = 0; s < 2; ++s) {
            const Series series = s == 0 ? Series::F : Series::M;
            for (int c = 0; c < columns; ++c) {
                const int image = SHEET_VIEWS[c];
                const int x = MARGIN + s * (columns * IMAGE_WIDTH + SERIES_GAP) + c * IMAGE_WIDTH;
                const int y = MARGIN + outfit * rowHeight;
                Label(sheet, x + 4, y + 1, ImageName(series, outfit, image));
                Blit(sheet, x, y + LABEL_HEIGHT, RenderImage(series, outfit, image));
            }
        }
    }
    return sheet;
}
