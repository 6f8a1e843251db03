// The image generator: its PNG writer against libpng's reader, the naming and
// view rules, and the committed images it drew.
#include <gtest/gtest.h>

#include <png.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "Figure.h"
#include "PngWriter.h"

namespace {

struct Decoded {
    bool ok = false;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
};

Decoded Decode(const std::vector<std::uint8_t>& png)
{
    Decoded out;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size()))
        return out;
    image.format = PNG_FORMAT_RGBA;
    out.width = int(image.width);
    out.height = int(image.height);
    out.rgba.resize(PNG_IMAGE_SIZE(image));
    out.ok = png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return out;
}

std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::uint8_t> Committed(Series series, int outfit, int image)
{
    return ReadFile(std::string(TESSALY_IMAGES) + "/" + ImageName(series, outfit, image) + ".png");
}

TEST(PngWriter, RoundTripsThroughLibpng)
{
    // Sizes that exercise the first row and column of every filter, and pixel
    // runs that make each filter the best one somewhere.
    for (int width : {1, 3, 17, 140}) {
        for (int height : {1, 2, 9}) {
            std::vector<std::uint8_t> rgba(std::size_t(width) * height * 4);
            std::uint32_t state = 12345u + width * 31u + height;
            for (std::size_t i = 0; i < rgba.size(); ++i) {
                state = state * 1103515245u + 12345u;
                const std::size_t pixel = i / 4, x = pixel % width, y = pixel / width;
                switch ((x / 4 + y) % 3) {
                case 0: rgba[i] = std::uint8_t(state >> 16); break;   // noise
                case 1: rgba[i] = std::uint8_t(x * 7 + y * 3); break; // gradients
                default: rgba[i] = std::uint8_t(i % 4 == 3 ? 0 : 200); break;
                }
            }
            const std::vector<std::uint8_t> png = EncodePng(width, height, rgba);
            const Decoded decoded = Decode(png);
            ASSERT_TRUE(decoded.ok) << width << "x" << height;
            EXPECT_EQ(decoded.width, width);
            EXPECT_EQ(decoded.height, height);
            EXPECT_EQ(decoded.rgba, rgba) << width << "x" << height;
        }
    }
}

TEST(PngWriter, HeaderIsEightBitRgbaWithoutInterlace)
{
    const std::vector<std::uint8_t> png = EncodePng(140, 120, std::vector<std::uint8_t>(140 * 120 * 4, 0));
    ASSERT_GE(png.size(), 33u);
    const std::uint8_t ihdr[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 140, 0, 0, 0, 120, 8, 6, 0, 0, 0};
    EXPECT_TRUE(std::equal(std::begin(ihdr), std::end(ihdr), png.begin() + 8));
}

TEST(ImageNames, ViewsAndRepeats)
{
    struct Case {
        int image;
        View view;
        int distinct;
    };
    const Case cases[] = {
        {0, View::RIGHT, 0}, {1, View::FRONT, 1}, {2, View::FRONT, 1},
        {3, View::LEFT, 3},  {4, View::BACK, 4},  {5, View::BACK, 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ViewOf(c.image), c.view) << c.image;
        EXPECT_EQ(DistinctImageOf(c.image), c.distinct) << c.image;
    }
    EXPECT_EQ(ImageName(Series::F, 0, 0), "F_0_0");
    EXPECT_EQ(ImageName(Series::F, 3, 1), "F_3_1");
    EXPECT_EQ(ImageName(Series::M, 9, 5), "M_9_5");
}

// Every committed image: a 140 x 120 figure twice on a transparent background,
// in two different poses, of the length the client's images have.
TEST(CommittedImages, TwoPosesOnATransparentBackground)
{
    for (Series series : {Series::F, Series::M}) {
        for (int outfit = 0; outfit < FIGURE_OUTFITS; ++outfit) {
            for (int image : {0, 1, 3, 4}) {
                const std::string name = ImageName(series, outfit, image);
                const std::vector<std::uint8_t> png = Committed(series, outfit, image);
                EXPECT_GE(png.size(), 14072u) << name;
                EXPECT_LE(png.size(), 38271u) << name;
                const Decoded d = Decode(png);
                ASSERT_TRUE(d.ok) << name;
                ASSERT_EQ(d.width, IMAGE_WIDTH);
                ASSERT_EQ(d.height, IMAGE_HEIGHT);
                auto at = [&](int x, int y) { return &d.rgba[(std::size_t(y) * IMAGE_WIDTH + x) * 4]; };
                int opaque[2] = {0, 0};
                int border = 0, different = 0;
                for (int y = 0; y < IMAGE_HEIGHT; ++y) {
                    for (int x = 0; x < IMAGE_WIDTH; ++x) {
                        if (at(x, y)[3] == 255)
                            ++opaque[x / CELL_WIDTH];
                        if ((x % CELL_WIDTH == 0 || y == 0 || y == IMAGE_HEIGHT - 1) && at(x, y)[3] != 0)
                            ++border;
                        if (x < CELL_WIDTH && std::abs(at(x, y)[3] - at(x + CELL_WIDTH, y)[3]) > 128)
                            ++different;
                    }
                }
                EXPECT_EQ(border, 0) << name << ": figure touches the edge of its half";
                EXPECT_GT(opaque[0], 2000) << name;
                EXPECT_GT(opaque[1], 2000) << name;
                EXPECT_GT(different, 30) << name << ": the two poses look the same";
            }
        }
    }
}

// The outfits of a series tell apart at a glance: the mean colour of the
// clothes in the front view differs from every other outfit's.
TEST(CommittedImages, OutfitsOfASeriesDifferInColour)
{
    for (Series series : {Series::F, Series::M}) {
        double mean[FIGURE_OUTFITS][3] = {};
        for (int outfit = 0; outfit < FIGURE_OUTFITS; ++outfit) {
            const Decoded d = Decode(Committed(series, outfit, 1));
            ASSERT_TRUE(d.ok);
            int n = 0;
            for (int y = 50; y < 92; ++y) {
                for (int x = 22; x < 48; ++x) {
                    const std::uint8_t* p = &d.rgba[(std::size_t(y) * IMAGE_WIDTH + x) * 4];
                    for (int c = 0; c < 3; ++c)
                        mean[outfit][c] += p[c];
                    ++n;
                }
            }
            for (double& c : mean[outfit])
                c /= n;
        }
        for (int a = 0; a < FIGURE_OUTFITS; ++a) {
            for (int b = a + 1; b < FIGURE_OUTFITS; ++b) {
                const double dist = std::sqrt(std::pow(mean[a][0] - mean[b][0], 2) + std::pow(mean[a][1] - mean[b][1], 2) +
                                              std::pow(mean[a][2] - mean[b][2], 2));
                EXPECT_GT(dist, 20) << (series == Series::F ? "F" : "M") << " outfits " << a << " and " << b;
            }
        }
    }
}

} // namespace
