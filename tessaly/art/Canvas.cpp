#include "Canvas.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double PI = 3.14159265358979323846;

double Clamp01(double v) { return std::min(1.0, std::max(0.0, v)); }

double SmoothStep(double e0, double e1, double x)
{
    const double t = Clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

double Length(double x, double y) { return std::sqrt(x * x + y * y); }

double Frac(double v) { return v - std::floor(v); }

double PolygonDistance(const std::vector<Vec>& v, Vec p)
{
    double best = (p.x - v[0].x) * (p.x - v[0].x) + (p.y - v[0].y) * (p.y - v[0].y);
    double sign = 1;
    for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i, ++i) {
        const double ex = v[j].x - v[i].x, ey = v[j].y - v[i].y;
        const double wx = p.x - v[i].x, wy = p.y - v[i].y;
        const double t = Clamp01((wx * ex + wy * ey) / (ex * ex + ey * ey));
        const double bx = wx - ex * t, by = wy - ey * t;
        best = std::min(best, bx * bx + by * by);
        const bool c1 = p.y >= v[i].y, c2 = p.y < v[j].y, c3 = ex * wy > ey * wx;
        if ((c1 && c2 && c3) || (!c1 && !c2 && !c3))
            sign = -sign;
    }
    return sign * std::sqrt(best);
}

std::uint32_t Hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed)
{
    std::uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return h;
}

} // namespace

Rgb Mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }
Rgb Scale(Rgb c, double k) { return {c.r * k, c.g * k, c.b * k}; }
Rgb Hex(std::uint32_t rgb)
{
    return {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0};
}

double Shape::Distance(Vec p) const
{
    switch (kind) {
    case CAPSULE: {
        const double ex = b.x - a.x, ey = b.y - a.y;
        const double len2 = ex * ex + ey * ey;
        const double t = len2 > 0 ? Clamp01(((p.x - a.x) * ex + (p.y - a.y) * ey) / len2) : 0;
        return Length(p.x - a.x - ex * t, p.y - a.y - ey * t) - (r0 + (r1 - r0) * t);
    }
    case ELLIPSE: {
        const double cs = std::cos(angle), sn = std::sin(angle);
        const double dx = p.x - c.x, dy = p.y - c.y;
        const double qx = dx * cs + dy * sn, qy = -dx * sn + dy * cs;
        const double k0 = Length(qx / rx, qy / ry);
        const double k1 = Length(qx / (rx * rx), qy / (ry * ry));
        if (k1 <= 0)
            return -std::min(rx, ry);
        return k0 * (k0 - 1) / k1;
    }
    case POLYGON:
        return PolygonDistance(points, p) - round;
    case UNION: {
        double d = 1e9;
        for (const Shape& part : parts)
            d = std::min(d, part.Distance(p));
        return d;
    }
    case INTERSECT: {
        double d = -1e9;
        for (const Shape& part : parts)
            d = std::max(d, part.Distance(p));
        return d;
    }
    }
    return 1e9;
}

Box Shape::Bounds() const
{
    switch (kind) {
    case CAPSULE: {
        const double r = std::max(r0, r1);
        return {std::min(a.x, b.x) - r, std::min(a.y, b.y) - r, std::max(a.x, b.x) + r, std::max(a.y, b.y) + r};
    }
    case ELLIPSE: {
        const double r = std::max(rx, ry);
        return {c.x - r, c.y - r, c.x + r, c.y + r};
    }
    case POLYGON: {
        Box box{1e9, 1e9, -1e9, -1e9};
        for (const Vec& v : points) {
            box.x0 = std::min(box.x0, v.x);
            box.y0 = std::min(box.y0, v.y);
            box.x1 = std::max(box.x1, v.x);
            box.y1 = std::max(box.y1, v.y);
        }
        return {box.x0 - round, box.y0 - round, box.x1 + round, box.y1 + round};
    }
    case UNION: {
        Box box{1e9, 1e9, -1e9, -1e9};
        for (const Shape& part : parts) {
            const Box b2 = part.Bounds();
            box = {std::min(box.x0, b2.x0), std::min(box.y0, b2.y0), std::max(box.x1, b2.x1), std::max(box.y1, b2.y1)};
        }
        return box;
    }
    case INTERSECT: {
        Box box{-1e9, -1e9, 1e9, 1e9};
        for (const Shape& part : parts) {
            const Box b2 = part.Bounds();
            box = {std::max(box.x0, b2.x0), std::max(box.y0, b2.y0), std::min(box.x1, b2.x1), std::min(box.y1, b2.y1)};
        }
        return box;
    }
    }
    return {};
}

Shape Capsule(Vec a, Vec b, double r0, double r1)
{
    Shape s;
    s.kind = Shape::CAPSULE;
    s.a = a;
    s.b = b;
    s.r0 = r0;
    s.r1 = r1 < 0 ? r0 : r1;
    s.depth = std::max(s.r0, s.r1);
    return s;
}

Shape Ellipse(Vec c, double rx, double ry, double angle)
{
    Shape s;
    s.kind = Shape::ELLIPSE;
    s.c = c;
    s.rx = rx;
    s.ry = ry;
    s.angle = angle;
    s.depth = std::min(rx, ry);
    return s;
}

Shape Polygon(std::vector<Vec> points, double round)
{
    Shape s;
    s.kind = Shape::POLYGON;
    s.points = std::move(points);
    s.round = round;
    s.depth = 8;
    return s;
}

Shape Union(std::vector<Shape> parts)
{
    Shape s;
    s.kind = Shape::UNION;
    s.depth = parts.empty() ? 8 : parts.front().depth;
    s.parts = std::move(parts);
    return s;
}

Shape Intersect(Shape shape, Shape cut)
{
    Shape s;
    s.kind = Shape::INTERSECT;
    s.depth = shape.depth;
    s.parts.push_back(std::move(shape));
    s.parts.push_back(std::move(cut));
    return s;
}

Shape WithDepth(Shape shape, double depth)
{
    shape.depth = depth;
    return shape;
}

Paint Solid(Rgb base)
{
    Paint p;
    p.base = base;
    p.second = base;
    return p;
}

Paint Patterned(Rgb base, Rgb second, Pattern pattern, double scale)
{
    Paint p;
    p.base = base;
    p.second = second;
    p.pattern = pattern;
    p.scale = scale;
    return p;
}

double PatternWeight(Pattern pattern, double s, Vec p)
{
    const double u = p.x / s, v = p.y / s;
    switch (pattern) {
    case Pattern::PLAIN:
        return 0;
    case Pattern::STRIPES_H:
        return Frac(v) < 0.38 ? 1 : 0;
    case Pattern::STRIPES_V:
        return Frac(u) < 0.34 ? 1 : 0;
    case Pattern::STRIPES_D:
        return Frac((u + v) * 0.7071) < 0.4 ? 1 : 0;
    case Pattern::DOTS: {
        const double row = std::floor(v);
        const double fu = Frac(u + 0.5 * std::fmod(std::fabs(row), 2.0)) - 0.5, fv = Frac(v) - 0.5;
        return Length(fu, fv) < 0.24 ? 1 : 0;
    }
    case Pattern::CHECKS:
        return std::fmod(std::fabs(std::floor(u) + std::floor(v)), 2.0) < 0.5 ? 1 : 0;
    case Pattern::DIAMONDS: {
        const double fu = std::fabs(Frac(u) - 0.5), fv = std::fabs(Frac(v * 0.75) - 0.5);
        const double d = fu + fv;
        if (d < 0.28)
            return 1;
        return d > 0.46 ? 0.45 : 0;
    }
    case Pattern::PLAID: {
        const double bu = Frac(u) < 0.3 ? 1 : 0, bv = Frac(v) < 0.3 ? 1 : 0;
        const double thin = (std::fabs(Frac(u) - 0.65) < 0.05 || std::fabs(Frac(v) - 0.65) < 0.05) ? 0.8 : 0;
        return std::max(thin, 0.5 * bu + 0.5 * bv);
    }
    case Pattern::ZIGZAG: {
        const double tri = std::fabs(Frac(u) - 0.5) * 1.2;
        return Frac(v + tri) < 0.36 ? 1 : 0;
    }
    case Pattern::FLOWERS:
    case Pattern::STARS: {
        const double row = std::floor(v);
        const double fu = Frac(u + 0.5 * std::fmod(std::fabs(row), 2.0)) - 0.5, fv = Frac(v) - 0.5;
        const double r = Length(fu, fv);
        const double a = std::atan2(fv, fu);
        if (pattern == Pattern::FLOWERS) {
            if (r < 0.09)
                return 0.35; // the heart of the flower in a half tone
            return r < 0.17 + 0.13 * std::fabs(std::cos(2.5 * a)) ? 1 : 0;
        }
        const double k = std::fmod(a + PI / 2 + 2 * PI, 2 * PI / 5) - PI / 5;
        return r < 0.33 * (0.45 + 0.55 * (1 - std::fabs(k) / (PI / 5)) * (1 - std::fabs(k) / (PI / 5))) ? 1 : 0;
    }
    }
    return 0;
}

CCanvas::CCanvas(int width, int height)
    : m_width(width), m_height(height), m_clip{0, 0, double(width), double(height)},
      m_samples(std::size_t(width) * SUBSAMPLES * height * SUBSAMPLES * 4, 0.0f)
{
}

void CCanvas::Draw(const Shape& shape, const Paint& paint)
{
    const Box b = shape.Bounds();
    const double grow = paint.outline + 1;
    const double x0 = std::max({b.x0 - grow, m_clip.x0, 0.0}), y0 = std::max({b.y0 - grow, m_clip.y0, 0.0});
    const double x1 = std::min({b.x1 + grow, m_clip.x1, double(m_width)});
    const double y1 = std::min({b.y1 + grow, m_clip.y1, double(m_height)});
    if (x0 >= x1 || y0 >= y1)
        return;

    // Light from the upper left, in front of the figure.
    const double lx = -0.45, ly = -0.62, lz = 0.64;
    const double hl = Length(Length(lx, ly), lz + 1);
    const double hx = lx / hl, hy = ly / hl, hz = (lz + 1) / hl;
    const Rgb line = paint.hasLine ? paint.line : Mix(Scale(paint.base, 0.42), Hex(0x1C1418), 0.45);
    const double step = 1.0 / SUBSAMPLES;
    const int sw = m_width * SUBSAMPLES;

    for (int sy = int(y0 * SUBSAMPLES); sy < int(std::ceil(y1 * SUBSAMPLES)); ++sy) {
        for (int sx = int(x0 * SUBSAMPLES); sx < int(std::ceil(x1 * SUBSAMPLES)); ++sx) {
            const Vec p{(sx + 0.5) * step, (sy + 0.5) * step};
            const double d = shape.Distance(p);
            if (d > paint.outline || (paint.outline == 0 && d > 0))
                continue;
            Rgb colour;
            if (d > 0) {
                colour = line;
            } else {
                const double w = PatternWeight(paint.pattern, paint.scale, p);
                colour = Mix(paint.base, paint.second, w);
                if (!paint.flat) {
                    const double e = 0.2;
                    double gx = shape.Distance({p.x + e, p.y}) - shape.Distance({p.x - e, p.y});
                    double gy = shape.Distance({p.x, p.y + e}) - shape.Distance({p.x, p.y - e});
                    const double gl = Length(gx, gy);
                    if (gl > 0) {
                        gx /= gl;
                        gy /= gl;
                    }
                    const double h = Clamp01(1 + d / shape.depth);
                    const double nx = gx * h, ny = gy * h, nz = std::sqrt(std::max(0.0, 1 - h * h));
                    const double diff = std::max(0.0, nx * lx + ny * ly + nz * lz);
                    const double cel = 0.7 + 0.3 * SmoothStep(0.22, 0.36, diff) + 0.1 * SmoothStep(0.8, 0.9, diff);
                    const double soft = 0.62 + 0.48 * diff;
                    double k = (0.5 * cel + 0.5 * soft) * paint.shade;
                    colour = Scale(colour, k);
                    if (paint.gloss > 0) {
                        const double highlight = std::pow(std::max(0.0, nx * hx + ny * hy + nz * hz), 28) * paint.gloss;
                        colour = Mix(colour, Rgb{1, 1, 1}, Clamp01(highlight));
                    }
                }
            }
            float* s = &m_samples[(std::size_t(sy) * sw + sx) * 4];
            const float a = float(paint.alpha);
            s[0] = float(Clamp01(colour.r)) * a + s[0] * (1 - a);
            s[1] = float(Clamp01(colour.g)) * a + s[1] * (1 - a);
            s[2] = float(Clamp01(colour.b)) * a + s[2] * (1 - a);
            s[3] = a + s[3] * (1 - a);
        }
    }
}

std::vector<std::uint8_t> CCanvas::Resolve(std::uint32_t grainSeed, double grain) const
{
    std::vector<std::uint8_t> out(std::size_t(m_width) * m_height * 4);
    const int sw = m_width * SUBSAMPLES;
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x) {
            double sum[4] = {0, 0, 0, 0};
            for (int j = 0; j < SUBSAMPLES; ++j) {
                for (int i = 0; i < SUBSAMPLES; ++i) {
                    const float* s = &m_samples[(std::size_t(y * SUBSAMPLES + j) * sw + x * SUBSAMPLES + i) * 4];
                    for (int c = 0; c < 4; ++c)
                        sum[c] += s[c];
                }
            }
            std::uint8_t* o = &out[(std::size_t(y) * m_width + x) * 4];
            const double a = sum[3] / (SUBSAMPLES * SUBSAMPLES);
            const int alpha = int(std::lround(a * 255));
            if (alpha == 0) {
                o[0] = o[1] = o[2] = o[3] = 0;
                continue;
            }
            const double n = (Hash(std::uint32_t(x), std::uint32_t(y), grainSeed) & 0xFFFF) / 65535.0 * 2 - 1;
            const double k = 1 + n * grain;
            for (int c = 0; c < 3; ++c)
                o[c] = std::uint8_t(std::lround(Clamp01(sum[c] / sum[3] * k) * 255));
            o[3] = std::uint8_t(alpha);
        }
    }
    return out;
}
