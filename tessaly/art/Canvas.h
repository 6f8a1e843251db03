#pragma once

#include <cstdint>
#include <vector>

struct Vec {
    double x = 0;
    double y = 0;
};

struct Rgb {
    double r = 0;
    double g = 0;
    double b = 0;
};

Rgb Mix(Rgb a, Rgb b, double t);
Rgb Scale(Rgb c, double k);
// A colour from 0xRRGGBB.
Rgb Hex(std::uint32_t rgb);

struct Box {
    double x0 = 0;
    double y0 = 0;
    double x1 = 0;
    double y1 = 0;
};

// A filled outline given by its signed distance (negative inside, in pixels).
// Parts of a figure are capsules, ellipses and rounded polygons, joined into
// unions or cut by intersections.
struct Shape {
    enum Kind { CAPSULE, ELLIPSE, POLYGON, UNION, INTERSECT };
    Kind kind = CAPSULE;
    Vec a, b;              // capsule axis
    double r0 = 0, r1 = 0; // capsule radius at a and at b
    Vec c;                 // ellipse centre
    double rx = 0, ry = 0, angle = 0;
    std::vector<Vec> points; // polygon, in order
    double round = 0;        // polygon corner rounding
    std::vector<Shape> parts;
    // How deep the part bulges towards the viewer, for its shading.
    double depth = 8;

    double Distance(Vec p) const;
    Box Bounds() const;
};

Shape Capsule(Vec a, Vec b, double r0, double r1 = -1);
Shape Ellipse(Vec c, double rx, double ry, double angle = 0);
Shape Polygon(std::vector<Vec> points, double round = 0);
Shape Union(std::vector<Shape> parts);
Shape Intersect(Shape shape, Shape cut);
Shape WithDepth(Shape shape, double depth);

enum class Pattern { PLAIN, STRIPES_H, STRIPES_V, STRIPES_D, DOTS, CHECKS, DIAMONDS, PLAID, ZIGZAG, FLOWERS, STARS };

// How a part is filled: a base colour, an optional pattern in a second colour,
// shading and an outline.
struct Paint {
    Rgb base;
    Rgb second;
    Pattern pattern = Pattern::PLAIN;
    double scale = 5;      // pattern cell size in pixels
    double gloss = 0;      // strength of the specular spot
    double outline = 0.9;  // outline width in pixels, 0 for none
    double alpha = 1;      // below 1 for blush and shadows
    double shade = 1;      // below 1 for the far limbs
    bool flat = false;     // no shading (eyes, marks)
    bool hasLine = false;
    Rgb line;              // outline colour; by default a darker base
};

Paint Solid(Rgb base);
Paint Patterned(Rgb base, Rgb second, Pattern pattern, double scale);

// An RGBA drawing surface sampled four times per pixel in each direction.
class CCanvas {
public:
    static constexpr int SUBSAMPLES = 4;

    CCanvas(int width, int height);

    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // Paints a shape over what is there, optionally only inside a clip box.
    void Draw(const Shape& shape, const Paint& paint);
    void SetClip(Box clip) { m_clip = clip; }

    // 8-bit RGBA rows (straight alpha), with a faint per-pixel grain in the
    // colours so that surfaces read as cloth and skin. The grain depends only
    // on the pixel position and the seed.
    std::vector<std::uint8_t> Resolve(std::uint32_t grainSeed, double grain) const;

private:
    int m_width;
    int m_height;
    Box m_clip;
    std::vector<float> m_samples; // premultiplied RGBA per subsample
};

// 0..1 weight of the second colour of a pattern at a point.
double PatternWeight(Pattern pattern, double scale, Vec p);
