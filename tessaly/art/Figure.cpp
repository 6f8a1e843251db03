#include "Figure.h"

#include <cmath>

namespace {

constexpr double PI = 3.14159265358979323846;

enum HairStyle { HAIR_LONG, HAIR_PONYTAIL, HAIR_BOB, HAIR_BUN, HAIR_SHORT, HAIR_SPIKY, HAIR_PARTED };
enum Neckline { NECK_ROUND, NECK_COLLAR, NECK_TIE, NECK_MANDARIN, NECK_V };

struct Outfit {
    Paint top;
    Paint bottom; // skirt or trousers
    std::uint32_t trim;
    std::uint32_t shoes;
    std::uint32_t legs; // stockings under a skirt; 0 for bare legs
    std::uint32_t hair;
    std::uint32_t accent; // hair ornament or tie
    HairStyle style;
    Neckline neck;
    bool longSleeves;
    bool belt;
};

Paint P(std::uint32_t base, std::uint32_t second = 0, Pattern pattern = Pattern::PLAIN, double scale = 5)
{
    return pattern == Pattern::PLAIN ? Solid(Hex(base)) : Patterned(Hex(base), Hex(second), pattern, scale);
}

const Outfit F_OUTFITS[FIGURE_OUTFITS] = {
    {P(0xC8283A, 0xF2C14E, Pattern::FLOWERS, 7), P(0xC8283A, 0xF2C14E, Pattern::FLOWERS, 7), 0xF2C14E, 0x2A2226, 0,
     0x2B2023, 0xF2C14E, HAIR_BUN, NECK_MANDARIN, false, false},
    {P(0xF39BB8, 0xFFFFFF, Pattern::DOTS, 5), P(0xF39BB8, 0xFFFFFF, Pattern::DOTS, 5), 0xFFFFFF, 0xD04A6A, 0xF4F1EE,
     0x6B4226, 0xFF5C8A, HAIR_LONG, NECK_ROUND, false, false},
    {P(0x6FB7E8, 0xFFFFFF, Pattern::STRIPES_H, 4), P(0x2C3E74), 0xFFFFFF, 0x3A2A20, 0, 0x8A4B2A, 0xFFFFFF,
     HAIR_PONYTAIL, NECK_COLLAR, true, false},
    {P(0xF6D24A, 0xEC8A2C, Pattern::CHECKS, 4), P(0xE07A22), 0xFFF6D8, 0x7A3A1A, 0, 0x2B2023, 0xE24A3A, HAIR_BOB,
     NECK_ROUND, false, true},
    {P(0x7A4BB0, 0xD8D4F0, Pattern::DIAMONDS, 6), P(0x7A4BB0, 0xD8D4F0, Pattern::DIAMONDS, 6), 0xD8D4F0, 0x3A2450,
     0x3A2A44, 0x3E2A22, 0xC9B8FF, HAIR_LONG, NECK_V, true, false},
    {P(0x7FD6B4, 0xF4FFF8, Pattern::STRIPES_V, 4), P(0x2E8C6E), 0xF4FFF8, 0xEDEDED, 0, 0xA0452A, 0xFFD24A,
     HAIR_PONYTAIL, NECK_COLLAR, false, false},
    {P(0xF5F3EE), P(0xB8232F, 0x1E2A5A, Pattern::PLAID, 6), 0xFFFFFF, 0x2A2226, 0x2A2A33, 0x2B2023, 0xB8232F,
     HAIR_LONG, NECK_COLLAR, true, false},
    {P(0x26222E, 0xD8B04A, Pattern::ZIGZAG, 5), P(0x26222E, 0xD8B04A, Pattern::ZIGZAG, 5), 0xD8B04A, 0xD8B04A, 0,
     0x5A3A2A, 0xD8B04A, HAIR_BOB, NECK_MANDARIN, false, true},
    {P(0xF08A3C, 0xFFE0B0, Pattern::STRIPES_D, 5), P(0x5A3A22), 0xFFE0B0, 0x5A3A22, 0, 0x6B4226, 0x7AC04A, HAIR_BUN,
     NECK_ROUND, true, false},
    {P(0x1F8A94, 0xFFE98A, Pattern::STARS, 7), P(0x1F8A94, 0xFFE98A, Pattern::STARS, 7), 0xFFE98A, 0x1A4A50,
     0xF4F1EE, 0x2B2023, 0xFFE98A, HAIR_PONYTAIL, NECK_V, false, false},
};

const Outfit M_OUTFITS[FIGURE_OUTFITS] = {
    {P(0x25345E), P(0x1E2A4C), 0xF6F6F6, 0x1E1A1C, 0, 0x231C1E, 0xC0283A, HAIR_SHORT, NECK_TIE, true, false},
    {P(0xD0343E, 0xF6F6F6, Pattern::STRIPES_H, 7), P(0x2A2A30), 0xF6F6F6, 0xEDEDED, 0, 0x6B4226, 0, HAIR_SPIKY,
     NECK_MANDARIN, true, false},
    {P(0x3E8A4A, 0x1E3A24, Pattern::PLAID, 6), P(0x4A5A7A), 0xE8E4D8, 0x5A3A22, 0, 0x3A2A20, 0, HAIR_PARTED,
     NECK_COLLAR, true, false},
    {P(0x9AA0A8, 0x3A3E46, Pattern::STRIPES_H, 4), P(0x30343C), 0x3A3E46, 0xE04A3A, 0, 0x231C1E, 0, HAIR_SPIKY,
     NECK_ROUND, true, false},
    {P(0x8A5A34, 0xC89A64, Pattern::CHECKS, 3.5), P(0x4A3A2A), 0xF0E6D0, 0x2A2226, 0, 0x6B4226, 0, HAIR_SHORT,
     NECK_COLLAR, true, true},
    {P(0xF4F6FA, 0x4A78C8, Pattern::STRIPES_V, 3.5), P(0x22242A), 0xFFFFFF, 0x1E1A1C, 0, 0x231C1E, 0, HAIR_PARTED,
     NECK_COLLAR, false, true},
    {P(0x24222A, 0xC8303A, Pattern::DIAMONDS, 6), P(0x3A3A44), 0xC8303A, 0xC8303A, 0, 0xB08040, 0, HAIR_SPIKY,
     NECK_ROUND, true, false},
    {P(0xF2C94A, 0xFFFFFF, Pattern::DOTS, 4.5), P(0x6A7A3A), 0xFFFFFF, 0x6A4A2A, 0, 0x6B4226, 0, HAIR_SHORT,
     NECK_COLLAR, false, false},
    {P(0x3A6AA8, 0x8AB4E0, Pattern::ZIGZAG, 5), P(0x24406A), 0x8AB4E0, 0xEDEDED, 0, 0x231C1E, 0, HAIR_SHORT,
     NECK_ROUND, true, false},
    {P(0x54307A, 0x7C52A8, Pattern::FLOWERS, 8), P(0x1E1A1E), 0xE2B450, 0x1E1A1C, 0, 0x231C1E, 0, HAIR_PARTED,
     NECK_MANDARIN, true, false},
};

const std::uint32_t SKIN_F = 0xF7D5BC;
const std::uint32_t SKIN_M = 0xE9BE9A;
const std::uint32_t EYES = 0x2A1E1C;
const std::uint32_t WOOD = 0x9A6A3E;
const std::uint32_t CUSHION = 0x8E2E3A;

// Maps the figure's own 70 x 120 frame into the canvas: mirrored for the view
// from the left, and with the head group turned about the neck.
class CFigurePainter {
public:
    CFigurePainter(CCanvas& canvas, double left, bool mirror) : m_canvas(canvas), m_left(left), m_mirror(mirror) {}

    void TurnHead(Vec pivot, double degrees)
    {
        m_pivot = pivot;
        m_turn = degrees * PI / 180;
    }
    void EndHead() { m_turn = 0; }

    void Draw(const Shape& shape, const Paint& paint) { m_canvas.Draw(Map(shape), paint); }

private:
    Vec MapPoint(Vec p) const
    {
        if (m_turn != 0) {
            const double cs = std::cos(m_turn), sn = std::sin(m_turn);
            const double dx = p.x - m_pivot.x, dy = p.y - m_pivot.y;
            p = {m_pivot.x + dx * cs - dy * sn, m_pivot.y + dx * sn + dy * cs};
        }
        if (m_mirror)
            p.x = CELL_WIDTH - p.x;
        return {p.x + m_left, p.y};
    }

    Shape Map(Shape s) const
    {
        s.a = MapPoint(s.a);
        s.b = MapPoint(s.b);
        s.c = MapPoint(s.c);
        s.angle += m_turn;
        if (m_mirror)
            s.angle = -s.angle;
        for (Vec& v : s.points)
            v = MapPoint(v);
        for (Shape& part : s.parts)
            part = Map(part);
        return s;
    }

    CCanvas& m_canvas;
    double m_left;
    bool m_mirror;
    Vec m_pivot;
    double m_turn = 0;
};

Paint Flat(std::uint32_t colour, double alpha = 1)
{
    Paint p = Solid(Hex(colour));
    p.flat = true;
    p.outline = 0;
    p.alpha = alpha;
    return p;
}

Paint Dim(Paint p, double shade)
{
    p.shade = shade;
    return p;
}

Paint Shiny(Paint p, double gloss)
{
    p.gloss = gloss;
    return p;
}

Shape Rect(double x0, double y0, double x1, double y1) { return Polygon({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}); }

Vec Lerp(Vec a, Vec b, double t) { return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}; }

// Everything one drawing of the figure needs to know.
struct Look {
    const Outfit* outfit;
    bool female;
    Paint skin;
    Paint top;
    Paint bottom;
    Paint legs;
    Paint shoes;
    Paint hair;
    Paint trim;
    Paint accent;
    int pose;
};

Look MakeLook(Series series, int outfit, int pose)
{
    Look look;
    look.female = series == Series::F;
    look.outfit = look.female ? &F_OUTFITS[outfit] : &M_OUTFITS[outfit];
    const Outfit& o = *look.outfit;
    look.skin = Solid(Hex(look.female ? SKIN_F : SKIN_M));
    look.top = o.top;
    look.bottom = o.bottom;
    look.legs = o.legs != 0 ? Solid(Hex(o.legs)) : look.skin;
    if (!look.female)
        look.legs = o.bottom;
    look.shoes = Shiny(Solid(Hex(o.shoes)), 0.5);
    look.hair = Shiny(Solid(Hex(o.hair)), 0.35);
    look.trim = Solid(Hex(o.trim));
    look.accent = Shiny(Solid(Hex(o.accent)), 0.4);
    look.pose = pose;
    return look;
}

void Shadow(CFigurePainter& p, double cx)
{
    p.Draw(Ellipse({cx, 115.5}, 23, 3.4), Flat(0x000000, 0.22));
}

void StoolFacing(CFigurePainter& p, double cx, double halfWidth)
{
    const Paint wood = Solid(Hex(WOOD));
    p.Draw(Capsule({cx - halfWidth * 0.45, 88}, {cx - halfWidth * 0.5, 112}, 1.3), Dim(wood, 0.7));
    p.Draw(Capsule({cx + halfWidth * 0.45, 88}, {cx + halfWidth * 0.5, 112}, 1.3), Dim(wood, 0.7));
    p.Draw(Capsule({cx - halfWidth * 0.8, 88}, {cx - halfWidth * 0.92, 116}, 1.7), wood);
    p.Draw(Capsule({cx + halfWidth * 0.8, 88}, {cx + halfWidth * 0.92, 116}, 1.7), wood);
    p.Draw(Capsule({cx - halfWidth * 0.85, 104}, {cx + halfWidth * 0.85, 104}, 0.9), Dim(wood, 0.85));
    p.Draw(Ellipse({cx, 87}, halfWidth, 4.6), wood);
    p.Draw(WithDepth(Ellipse({cx, 85.2}, halfWidth - 1, 3.6), 4), Solid(Hex(CUSHION)));
}

// A fan of playing cards held in front of the figure.
void Cards(CFigurePainter& p, Vec grip, double spread, double width)
{
    Paint card = Solid(Hex(0xFBFAF4));
    card.line = Hex(0x5A5058);
    card.hasLine = true;
    card.outline = 0.6;
    const int count = 4;
    for (int i = 0; i < count; ++i) {
        const double a = (-1.5 + i) * spread * PI / 180;
        const double cs = std::cos(a), sn = std::sin(a);
        auto at = [&](double u, double v) { return Vec{grip.x + u * cs - v * sn, grip.y + u * sn + v * cs}; };
        p.Draw(WithDepth(Polygon({at(-width / 2, -10), at(width / 2, -10), at(width / 2, 0), at(-width / 2, 0)}, 0.6),
                         3),
               card);
        const bool red = (i % 2) == 0;
        p.Draw(Ellipse(at(-width / 2 + 1.6, -8.2), 0.9, 1.1, a), Flat(red ? 0xD02838 : 0x202024));
    }
}

void FaceFront(CFigurePainter& p, const Look& look, double cx)
{
    const bool smile = look.pose == 1;
    for (int s = -1; s <= 1; s += 2) {
        const double ex = cx + s * 4.4;
        p.Draw(Ellipse({ex, 27.6}, 1.5, 2.1), Flat(EYES));
        p.Draw(Ellipse({ex + 0.5, 26.8}, 0.65, 0.65), Flat(0xFFFFFF));
        if (look.female)
            p.Draw(Capsule({ex - s * 1.1 - 0.7 * s, 25.6}, {ex + s * 1.9, 26.4}, 0.45), Flat(EYES));
        p.Draw(Capsule({cx + s * 2.6, 23.2}, {cx + s * 6.1, 23.0 - (look.female ? 0.4 : 0.1)}, look.female ? 0.4 : 0.65),
               Flat(look.outfit->hair));
        if (look.female)
            p.Draw(Ellipse({cx + s * 7.2, 31.2}, 2.2, 1.3), Flat(0xF27A8A, 0.4));
    }
    p.Draw(Ellipse({cx, 30.6}, 0.9, 0.6), Flat(look.female ? 0xD8A890 : 0xC89474));
    const std::uint32_t lips = look.female ? 0xC8485A : 0x9A5A4A;
    if (smile)
        p.Draw(Intersect(Ellipse({cx, 32.6}, 2.3, 1.7), Rect(cx - 3, 32.7, cx + 3, 35)), Flat(lips));
    else
        p.Draw(Capsule({cx - 1.6, 33.4}, {cx + 1.6, 33.4}, 0.55), Flat(lips));
}

void HairFront(CFigurePainter& p, const Look& look, double cx)
{
    const HairStyle style = look.outfit->style;
    if (look.female) {
        p.Draw(Intersect(Ellipse({cx, 22.6}, 12.9, 13.2),
                         Polygon({{cx - 15, 4}, {cx + 15, 4}, {cx + 15, 25}, {cx + 10, 21}, {cx + 6, 22.5}, {cx + 2, 18.5},
                                  {cx - 3, 22}, {cx - 7, 20}, {cx - 11, 23}, {cx - 15, 27}})),
               look.hair);
        const double lockEnd = style == HAIR_BOB ? 35 : (style == HAIR_LONG ? 44 : 32);
        const double lockR = style == HAIR_BOB ? 4 : 3.2;
        for (int s = -1; s <= 1; s += 2)
            p.Draw(Capsule({cx + s * 10.6, 19}, {cx + s * 12, lockEnd}, lockR, 2.2), look.hair);
        if (style == HAIR_PONYTAIL || style == HAIR_LONG)
            p.Draw(Ellipse({cx + 7.5, 12.8}, 2.6, 2.0, 0.5), look.accent);
        // Hair shine.
        p.Draw(Capsule({cx - 6, 12.5}, {cx - 2, 11}, 0.7), Flat(0xFFFFFF, 0.28));
        return;
    }
    Shape cap = Intersect(Ellipse({cx, 23}, 12.9, 13.3),
                          Polygon({{cx - 15, 2}, {cx + 15, 2}, {cx + 15, 24}, {cx + 9, 18}, {cx + 2, 19.5}, {cx - 5, 17.5},
                                   {cx - 10, 19}, {cx - 15, 24}}));
    if (style == HAIR_SPIKY) {
        cap = Union({cap, Polygon({{cx - 11, 14}, {cx - 9, 6}, {cx - 5, 11}}, 0.6),
                     Polygon({{cx - 5, 10}, {cx - 1, 2.5}, {cx + 2, 10}}, 0.6),
                     Polygon({{cx + 2, 10}, {cx + 7, 4}, {cx + 8, 12}}, 0.6),
                     Polygon({{cx + 7, 12}, {cx + 13, 9}, {cx + 11.5, 17}}, 0.6)});
        cap.depth = 10;
    } else if (style == HAIR_PARTED) {
        cap = Union({cap, Polygon({{cx - 12, 20}, {cx - 6, 14}, {cx + 6, 13}, {cx + 1, 19}, {cx - 8, 21}}, 0.8)});
        cap.depth = 10;
    }
    p.Draw(cap, look.hair);
    p.Draw(Capsule({cx - 6, 13.5}, {cx - 2, 12}, 0.6), Flat(0xFFFFFF, 0.22));
}

// Facing the viewer.
void DrawFront(CFigurePainter& p, const Look& look)
{
    const double cx = 35;
    const Outfit& o = *look.outfit;
    const bool f = look.female;
    const bool skirt = f;
    const double sw = f ? 8.3 : 10.6; // shoulder half-width before rounding
    const double hw = f ? 9.2 : 9.6;
    const int pose = look.pose;

    Shadow(p, cx);
    StoolFacing(p, cx, 19);

    if (f && o.style == HAIR_LONG)
        p.Draw(Union({Ellipse({cx, 27}, 14.5, 15.5), Polygon({{cx - 14.5, 27}, {cx + 14.5, 27}, {cx + 15.5, 56}, {cx - 15.5, 56}}, 3)}),
               Dim(look.hair, 0.8));
    if (f && o.style == HAIR_BUN)
        p.Draw(Ellipse({cx, 10}, 6.5, 5.5), look.hair);

    for (int s = -1; s <= 1; s += 2) {
        const double kx = cx + s * 6.2;
        const double ankleX = kx + s * (pose == 1 ? 1.8 : 0.4);
        p.Draw(Capsule({kx, 89}, {ankleX, 106.5}, f ? 3.5 : 4.8, f ? 2.9 : 4.1), look.legs);
        p.Draw(Ellipse({ankleX + s * 0.6, 110.2}, f ? 4.4 : 5.8, f ? 2.9 : 3.5), look.shoes);
        if (!skirt)
            p.Draw(Capsule({kx - s * 0.8, 80}, {kx, 89}, 6.8, 6.2), look.bottom);
    }
    if (skirt) {
        Paint hem = look.trim;
        p.Draw(WithDepth(Polygon({{cx - 9.5, 70}, {cx + 9.5, 70}, {cx + 16.5, 93}, {cx - 16.5, 93}}, 2), 12), look.bottom);
        p.Draw(Capsule({cx - 17, 94.2}, {cx + 17, 94.2}, 1.0), hem);
    }

    p.Draw(Capsule({cx, 33}, {cx, 46}, 4.2), look.skin);
    std::vector<Shape> body = {
        Polygon({{cx - sw, 44}, {cx + sw, 44}, {cx + hw - 1.5, 64}, {cx + hw, 78}, {cx - hw, 78}, {cx - hw + 1.5, 64}}, 3)};
    if (f) {
        body.push_back(Ellipse({cx - 4.2, 54}, 4.8, 4.2));
        body.push_back(Ellipse({cx + 4.2, 54}, 4.8, 4.2));
    }
    Shape torso = Union(body);
    torso.depth = 11;
    p.Draw(torso, look.top);

    switch (o.neck) {
    case NECK_ROUND:
        p.Draw(Intersect(Ellipse({cx, 43.8}, 4.8, 3.4), Rect(cx - 6, 43, cx + 6, 48)), look.skin);
        p.Draw(Intersect(Ellipse({cx, 43.8}, 6.0, 4.6), Rect(cx - 7, 46.6, cx + 7, 49.5)), look.trim);
        break;
    case NECK_COLLAR:
        for (int s = -1; s <= 1; s += 2)
            p.Draw(Polygon({{cx, 48.5}, {cx + s * 6.5, 42.2}, {cx + s * 1.2, 41.8}}, 0.5), look.trim);
        for (double y : {53.0, 59.5, 66.0})
            p.Draw(Ellipse({cx, y}, 0.8, 0.8), Flat(o.trim == 0xFFFFFF ? 0x9A9AA8 : o.trim));
        if (f && o.accent != 0) {
            p.Draw(Polygon({{cx, 48}, {cx - 4, 45.5}, {cx - 4, 50.5}}, 0.4), look.accent);
            p.Draw(Polygon({{cx, 48}, {cx + 4, 45.5}, {cx + 4, 50.5}}, 0.4), look.accent);
        }
        break;
    case NECK_TIE:
        p.Draw(Polygon({{cx - 4.8, 42.5}, {cx + 4.8, 42.5}, {cx, 56}}, 0.5), look.trim);
        p.Draw(Polygon({{cx - 1.4, 45}, {cx + 1.4, 45}, {cx + 2.4, 58}, {cx, 61}, {cx - 2.4, 58}}, 0.3), look.accent);
        for (int s = -1; s <= 1; s += 2)
            p.Draw(Polygon({{cx + s * 1, 56}, {cx + s * 6.5, 43}, {cx + s * 8.5, 46}}, 0.3), Dim(look.top, 1.12));
        break;
    case NECK_MANDARIN:
        p.Draw(Capsule({cx - 4.3, 43.4}, {cx + 4.3, 43.4}, 1.8), look.trim);
        for (double y : {50.0, 56.0, 62.0})
            p.Draw(Capsule({cx - 2.2, y}, {cx + 2.2, y}, 0.75), look.trim);
        break;
    case NECK_V:
        p.Draw(Polygon({{cx - 5, 43}, {cx + 5, 43}, {cx, 52}}, 0.3), look.skin);
        p.Draw(Ellipse({cx, 48.2}, 1.3, 1.3), look.accent);
        break;
    }
    if (o.belt) {
        p.Draw(Capsule({cx - hw - 1.5, 72}, {cx + hw + 1.5, 72}, 1.7), look.trim);
        p.Draw(WithDepth(Rect(cx - 2, 70.5, cx + 2, 73.5), 2), look.accent);
    }

    // Arms: hands resting on the lap, or a hand of cards held up.
    Vec hands[2];
    for (int s = -1; s <= 1; s += 2) {
        const Vec shoulder{cx + s * (sw + 1.8), 47.5};
        const Vec elbow = pose == 0 ? Vec{cx + s * (sw + 4.2), 63} : Vec{cx + s * (sw + 3.6), 61};
        const Vec hand = pose == 0 ? Vec{cx + s * 6.5, 76.5} : Vec{cx + s * 3.2, 64.5};
        hands[(s + 1) / 2] = hand;
        const double r = f ? 3.3 : 4.2;
        if (o.longSleeves) {
            p.Draw(Capsule(shoulder, elbow, r, r * 0.9), look.top);
            p.Draw(Capsule(elbow, hand, r * 0.88, r * 0.75), look.top);
            p.Draw(Capsule(Lerp(elbow, hand, 0.82), Lerp(elbow, hand, 0.9), r * 0.8), look.trim);
        } else {
            p.Draw(Capsule(shoulder, elbow, r * 0.85, r * 0.78), look.skin);
            p.Draw(Capsule(elbow, hand, r * 0.76, r * 0.66), look.skin);
            p.Draw(Capsule(shoulder, Lerp(shoulder, elbow, 0.45), r * 1.08), look.top);
        }
    }
    if (pose == 1)
        Cards(p, {cx, 64}, 18, 6.4);
    for (const Vec& hand : hands)
        p.Draw(Ellipse(hand, f ? 2.8 : 3.3, f ? 2.5 : 2.9), look.skin);

    p.TurnHead({cx, 40}, pose == 0 ? -3 : 4);
    if (!f)
        for (int s = -1; s <= 1; s += 2)
            p.Draw(Ellipse({cx + s * 11.8, 27.5}, 2.5, 3.4), look.skin);
    p.Draw(WithDepth(Ellipse({cx, 25}, f ? 11.4 : 11.8, f ? 12 : 12.6), 12), look.skin);
    FaceFront(p, look, cx);
    HairFront(p, look, cx);
    p.EndHead();
}

// Facing right; the view from the left is this one mirrored.
void DrawSide(CFigurePainter& p, const Look& look)
{
    const Outfit& o = *look.outfit;
    const bool f = look.female;
    const int pose = look.pose;

    Shadow(p, 36);
    const Paint wood = Solid(Hex(WOOD));
    p.Draw(Capsule({27, 88}, {26, 112}, 1.3), Dim(wood, 0.7));
    p.Draw(Capsule({41, 88}, {42, 112}, 1.3), Dim(wood, 0.7));
    p.Draw(Capsule({22, 88}, {20, 116}, 1.7), wood);
    p.Draw(Capsule({46, 88}, {48, 116}, 1.7), wood);
    p.Draw(Capsule({21, 104}, {47, 104}, 0.9), Dim(wood, 0.85));
    p.Draw(Ellipse({34, 87}, 14, 3.4), wood);
    p.Draw(WithDepth(Ellipse({34, 85.4}, 13, 2.8), 3), Solid(Hex(CUSHION)));

    if (f && o.style == HAIR_LONG)
        p.Draw(Union({Ellipse({31, 28}, 11, 14), Polygon({{22, 28}, {37, 28}, {35, 57}, {23, 59}}, 3)}), Dim(look.hair, 0.8));

    // The far arm and leg, in shade behind the body.
    const Vec farHand = pose == 0 ? Vec{49, 72} : Vec{46, 56};
    const Vec farElbow = pose == 0 ? Vec{34.5, 63} : Vec{36, 63};
    const double r = f ? 3.3 : 4.2;
    p.Draw(Capsule({31, 47}, farElbow, r, r * 0.9), Dim(o.longSleeves ? look.top : look.skin, 0.72));
    p.Draw(Capsule(farElbow, farHand, r * 0.85, r * 0.7), Dim(o.longSleeves ? look.top : look.skin, 0.72));
    p.Draw(Ellipse(farHand, 2.7, 2.5), Dim(look.skin, 0.72));
    const double farKnee = pose == 0 ? 46 : 47.5;
    p.Draw(Capsule({30, 78}, {farKnee, 79.5}, 6.2, 5.6), Dim(f ? look.legs : look.bottom, 0.72));
    p.Draw(Capsule({farKnee, 80}, {farKnee + (pose == 0 ? 1 : 3), 106}, f ? 3.3 : 4.3, f ? 2.8 : 3.8),
           Dim(look.legs, 0.72));
    p.Draw(Ellipse({farKnee + (pose == 0 ? 4.5 : 6.5), 109.8}, f ? 5 : 6, 3.2), Dim(look.shoes, 0.72));

    p.Draw(Capsule({35, 32}, {35.5, 46}, 4), look.skin);
    std::vector<Shape> body = {Polygon({{29, 44}, {39, 44}, {42, 57}, {40.5, 68}, {42, 80}, {26, 81}, {25, 69}, {26.5, 56}}, 3)};
    if (f)
        body.push_back(Ellipse({41.2, 54}, 4.2, 4.2));
    Shape torso = Union(body);
    torso.depth = 10;
    p.Draw(torso, look.top);

    // The near leg.
    const double knee = 48.5;
    const double ankle = pose == 0 ? 48 : 46;
    if (f) {
        p.Draw(Capsule({31, 80}, {knee, 81.5}, 6.2, 5.3), look.legs);
        p.Draw(Capsule({knee, 82}, {ankle, 106.5}, 3.5, 2.9), look.legs);
        p.Draw(Ellipse({ankle + 4, 110.2}, 5.2, 3.0), look.shoes);
        p.Draw(WithDepth(Polygon({{27, 69}, {39, 69}, {50.5, 78}, {53, 88}, {24.5, 89}}, 2), 10), look.bottom);
        p.Draw(Capsule({24, 90}, {53.5, 89}, 1.0), look.trim);
    } else {
        p.Draw(Capsule({ankle - 0.5, 104.5}, {ankle, 107}, 3.2), look.skin);
        p.Draw(Capsule({knee, 82}, {ankle, 106}, 4.8, 4.2), look.bottom);
        p.Draw(Capsule({30, 79.5}, {knee, 81.5}, 7.4, 6.4), look.bottom);
        p.Draw(Ellipse({ankle + 4.5, 110}, 6.6, 3.6), look.shoes);
    }
    if (o.belt)
        p.Draw(Capsule({26.5, 71.5}, {41.5, 71.5}, 1.7), look.trim);
    switch (o.neck) {
    case NECK_COLLAR:
        p.Draw(Polygon({{35, 42.5}, {41, 43}, {38.5, 48}}, 0.4), look.trim);
        break;
    case NECK_TIE:
        p.Draw(Polygon({{37, 43}, {41.5, 43.5}, {41, 50}}, 0.4), look.trim);
        p.Draw(Polygon({{41, 46}, {43, 47}, {43.5, 57}, {42, 58}}, 0.3), look.accent);
        break;
    case NECK_MANDARIN:
        p.Draw(Capsule({32.5, 43.2}, {39.5, 43.2}, 1.8), look.trim);
        break;
    case NECK_ROUND:
        p.Draw(Capsule({36.5, 45.2}, {40, 45.6}, 1.1), look.trim);
        break;
    case NECK_V:
        p.Draw(Polygon({{36.5, 43}, {41, 43}, {40.8, 49}}, 0.3), look.skin);
        break;
    }

    // The near arm.
    const Vec shoulder{33.5, 47.5};
    const Vec elbow = pose == 0 ? Vec{36.5, 63.5} : Vec{37, 62.5};
    const Vec hand = pose == 0 ? Vec{50.5, 70.5} : Vec{47.5, 54};
    if (o.longSleeves) {
        p.Draw(Capsule(shoulder, elbow, r, r * 0.9), look.top);
        p.Draw(Capsule(elbow, hand, r * 0.88, r * 0.75), look.top);
        p.Draw(Capsule(Lerp(elbow, hand, 0.82), Lerp(elbow, hand, 0.9), r * 0.8), look.trim);
    } else {
        p.Draw(Capsule(shoulder, elbow, r * 0.85, r * 0.78), look.skin);
        p.Draw(Capsule(elbow, hand, r * 0.76, r * 0.66), look.skin);
        p.Draw(Capsule(shoulder, Lerp(shoulder, elbow, 0.45), r * 1.08), look.top);
    }
    if (pose == 1)
        Cards(p, {hand.x + 0.5, hand.y + 1}, 9, 3.6);
    p.Draw(Ellipse(hand, f ? 2.8 : 3.3, f ? 2.5 : 2.9), look.skin);

    p.TurnHead({35, 40}, pose == 0 ? 3 : -6);
    if (f && o.style == HAIR_BUN)
        p.Draw(Ellipse({28, 12.5}, 6, 5.5), look.hair);
    p.Draw(Ellipse({47.4, 28.6}, 1.7, 1.5), look.skin);
    p.Draw(WithDepth(Ellipse({37, 25}, 11, 12.2), 11), look.skin);
    p.Draw(Ellipse({43.3, 27.3}, 1.2, 2.0), Flat(EYES));
    p.Draw(Ellipse({43.7, 26.5}, 0.5, 0.55), Flat(0xFFFFFF));
    if (f)
        p.Draw(Capsule({42, 25.4}, {45.5, 25.9}, 0.45), Flat(EYES));
    p.Draw(Capsule({41.5, 23}, {45.5, 22.6}, f ? 0.4 : 0.65), Flat(o.hair));
    p.Draw(Capsule({44.2, 33.3}, {46.2, 33.1}, 0.55), Flat(f ? 0xC8485A : 0x9A5A4A));
    if (f)
        p.Draw(Ellipse({42.5, 31}, 2.1, 1.2), Flat(0xF27A8A, 0.4));

    Shape hair = Intersect(Ellipse({35.5, 23}, 12.6, 13.2),
                           Polygon({{20, 0}, {52, 0}, {52, 18}, {46, 16.5}, {42, 19.5}, {37.5, 21}, {36.5, 30}, {33, 36}, {20, 36}}));
    if (!f && o.style == HAIR_SPIKY)
        hair = Union({hair, Polygon({{28, 13}, {31, 4}, {35, 11}}, 0.6), Polygon({{34, 11}, {39, 3.5}, {41, 11}}, 0.6),
                      Polygon({{40, 11}, {47, 7}, {45.5, 15}}, 0.6)});
    if (f)
        hair = Union({hair, Capsule({27, 22}, {29, 38}, 4.5, 3), Polygon({{42, 14}, {48.5, 19}, {44, 21}}, 0.8)});
    hair.depth = 11;
    p.Draw(hair, look.hair);
    p.Draw(Capsule({32, 11.5}, {38, 11}, 0.6), Flat(0xFFFFFF, 0.25));
    if (f && o.style == HAIR_PONYTAIL) {
        p.Draw(Capsule({26, 20}, {20.5, 44}, 4.4, 2.4), look.hair);
        p.Draw(Ellipse({26.5, 19.5}, 2.2, 2.8), look.accent);
    }
    if (f && o.style == HAIR_BUN)
        p.Draw(Ellipse({30.5, 15}, 2.0, 1.6), look.accent);
    if (!f || o.style == HAIR_BOB || o.style == HAIR_BUN || o.style == HAIR_PONYTAIL)
        p.Draw(Ellipse({37.4, 27.8}, 2.0, 2.8), look.skin);
    p.EndHead();
}

// Seen from behind.
void DrawBack(CFigurePainter& p, const Look& look)
{
    const double cx = 35;
    const Outfit& o = *look.outfit;
    const bool f = look.female;
    const double sw = f ? 8.3 : 10.6;
    const double hw = f ? 9.2 : 9.6;
    const int pose = look.pose;

    Shadow(p, cx);
    for (int s = -1; s <= 1; s += 2) {
        const double x = cx + s * (pose == 0 ? 6.5 : 7.5);
        p.Draw(Capsule({x, 88}, {x, 106}, f ? 3.4 : 4.6, f ? 2.8 : 4), Dim(look.legs, 0.85));
        p.Draw(Ellipse({x, 109.6}, f ? 3.6 : 4.6, 2.8), Dim(look.shoes, 0.85));
    }
    StoolFacing(p, cx, 19);

    const double r = f ? 3.3 : 4.2;
    for (int s = -1; s <= 1; s += 2) {
        const Vec shoulder{cx + s * (sw + 1.8), 47.5};
        const Vec elbow = pose == 0 ? Vec{cx + s * (sw + 4.2), 63} : Vec{cx + s * (sw + 5.2), 60};
        const Vec forearm{cx + s * (sw + 1.5), 69};
        const Paint& sleeve = o.longSleeves ? look.top : look.skin;
        p.Draw(Capsule(elbow, forearm, r * 0.85, r * 0.75), Dim(sleeve, 0.85));
        p.Draw(Capsule(shoulder, elbow, o.longSleeves ? r : r * 0.85, o.longSleeves ? r * 0.9 : r * 0.78), sleeve);
        if (!o.longSleeves)
            p.Draw(Capsule(shoulder, Lerp(shoulder, elbow, 0.45), r * 1.08), look.top);
    }

    p.Draw(Capsule({cx, 33}, {cx, 46}, 4.2), look.skin);
    Shape torso = Polygon({{cx - sw, 44}, {cx + sw, 44}, {cx + hw - 1.5, 64}, {cx + hw, 79}, {cx - hw, 79}, {cx - hw + 1.5, 64}}, 3);
    torso.depth = 11;
    p.Draw(torso, look.top);
    if (f)
        p.Draw(WithDepth(Polygon({{cx - 10, 71}, {cx + 10, 71}, {cx + 15.5, 89}, {cx - 15.5, 89}}, 2), 10), look.bottom);
    else
        p.Draw(WithDepth(Polygon({{cx - hw - 0.5, 73}, {cx + hw + 0.5, 73}, {cx + hw + 1.5, 85}, {cx - hw - 1.5, 85}}, 3), 9),
               look.bottom);
    p.Draw(Capsule({cx, 49}, {cx, 70}, 0.35), Flat(0x000000, 0.18));
    if (o.belt)
        p.Draw(Capsule({cx - hw - 1.5, 72}, {cx + hw + 1.5, 72}, 1.7), look.trim);
    if (o.neck == NECK_COLLAR || o.neck == NECK_TIE)
        p.Draw(Polygon({{cx - 6.5, 42.5}, {cx + 6.5, 42.5}, {cx + 5, 46.5}, {cx - 5, 46.5}}, 0.6), look.trim);
    else if (o.neck == NECK_MANDARIN)
        p.Draw(Capsule({cx - 4.5, 43.4}, {cx + 4.5, 43.4}, 1.8), look.trim);

    p.TurnHead({cx, 40}, pose == 0 ? -3 : 5);
    if (!f)
        for (int s = -1; s <= 1; s += 2)
            p.Draw(Ellipse({cx + s * 11.8, 27.5}, 2.5, 3.4), look.skin);
    p.Draw(WithDepth(Ellipse({cx, 25}, f ? 11.4 : 11.8, f ? 12 : 12.6), 12), look.skin);
    Shape hair;
    if (f) {
        const double end = o.style == HAIR_LONG ? 58 : (o.style == HAIR_BOB ? 37 : 33);
        hair = Union({Ellipse({cx, 24}, 13, 13.4),
                      Polygon({{cx - 13, 24}, {cx + 13, 24}, {cx + 13.5, end}, {cx - 13.5, end}}, 2.5)});
    } else {
        hair = Intersect(Ellipse({cx, 24.5}, 12.7, 13.1),
                         Polygon({{cx - 15, 0}, {cx + 15, 0}, {cx + 15, 31}, {cx + 6, 35}, {cx - 6, 35}, {cx - 15, 31}}));
        if (o.style == HAIR_SPIKY)
            hair = Union({hair, Polygon({{cx - 10, 14}, {cx - 7, 5}, {cx - 3, 12}}, 0.6),
                          Polygon({{cx - 3, 11}, {cx + 1, 3}, {cx + 4, 11}}, 0.6),
                          Polygon({{cx + 4, 12}, {cx + 10, 7}, {cx + 10.5, 15}}, 0.6)});
    }
    hair.depth = 12;
    p.Draw(hair, look.hair);
    // Strands running down from the crown.
    for (int i = -2; i <= 2; ++i) {
        const double len = f ? (o.style == HAIR_LONG ? 28 : 14) : 12;
        p.Draw(Capsule({cx + i * 2.0, 15}, {cx + i * 4.3, 15 + len}, 0.35), Flat(0x000000, 0.22));
    }
    p.Draw(Capsule({cx - 6, 13}, {cx - 1, 11.5}, 0.7), Flat(0xFFFFFF, 0.25));
    if (f && o.style == HAIR_PONYTAIL) {
        p.Draw(Capsule({cx, 24}, {cx + 1.5, 50}, 4.6, 2.6), look.hair);
        p.Draw(Ellipse({cx, 22.5}, 3.0, 2.3), look.accent);
    }
    if (f && o.style == HAIR_BUN) {
        p.Draw(Ellipse({cx, 14.5}, 6.5, 5.6), look.hair);
        p.Draw(Capsule({cx - 7.5, 12}, {cx + 7.5, 17}, 0.8), look.accent);
    }
    if (f && o.style == HAIR_LONG)
        p.Draw(Capsule({cx - 3.5, 28}, {cx + 3.5, 28}, 1.3), look.accent);
    p.EndHead();
}

} // namespace

View ViewOf(int image)
{
    switch (image) {
    case 0: return View::RIGHT;
    case 1:
    case 2: return View::FRONT;
    case 3: return View::LEFT;
    default: return View::BACK;
    }
}

int DistinctImageOf(int image)
{
    if (image == 2)
        return 1;
    if (image == 5)
        return 4;
    return image;
}

std::string ImageName(Series series, int outfit, int image)
{
    return std::string(series == Series::F ? "F_" : "M_") + std::to_string(outfit) + "_" + std::to_string(image);
}

void DrawFigure(CCanvas& canvas, Series series, int outfit, View view, int pose, double left)
{
    CFigurePainter painter(canvas, left, view == View::LEFT);
    canvas.SetClip({left, 0, left + CELL_WIDTH, double(IMAGE_HEIGHT)});
    const Look look = MakeLook(series, outfit, pose);
    switch (view) {
    case View::FRONT: DrawFront(painter, look); break;
    case View::RIGHT:
    case View::LEFT: DrawSide(painter, look); break;
    case View::BACK: DrawBack(painter, look); break;
    }
}

std::vector<std::uint8_t> RenderImage(Series series, int outfit, int image)
{
    CCanvas canvas(IMAGE_WIDTH, IMAGE_HEIGHT);
    const View view = ViewOf(image);
    for (int pose = 0; pose < 2; ++pose)
        DrawFigure(canvas, series, outfit, view, pose, pose * CELL_WIDTH);
    const std::uint32_t seed = std::uint32_t((series == Series::F ? 0 : 100) + outfit * 10 + DistinctImageOf(image));
    return canvas.Resolve(seed, 0.045);
}
