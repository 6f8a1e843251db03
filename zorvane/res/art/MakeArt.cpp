// Draws the window art of Zorvane with GDI+ and writes it as the BMP and ICO
// files that the resource script embeds. Run under Wine (scripts/make-art); its
// output is committed, so a build never needs it.
//   zorvane_art.exe OUTPUT-FOLDER
#include <windows.h>

#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ArtFiles.h"

using namespace Gdiplus;
using namespace art;

namespace {

Color Mix(Color a, Color b, float t)
{
    auto m = [t](BYTE x, BYTE y) { return static_cast<BYTE>(std::lround(x + (y - x) * t)); };
    return Color(m(a.GetA(), b.GetA()), m(a.GetR(), b.GetR()), m(a.GetG(), b.GetG()), m(a.GetB(), b.GetB()));
}

const Color kHeaderTop(255, 38, 96, 158);
const Color kHeaderBottom(255, 18, 58, 104);
const int kHeaderHeight = 22;

// The header's colour at row y, shared by the background and the close-button cells.
Color HeaderColour(int y)
{
    return Mix(kHeaderTop, kHeaderBottom, std::min(1.0f, y / float(kHeaderHeight - 1)));
}

void FillHeaderRows(Graphics& g, int x, int y0, int w, int h, int sourceTop)
{
    for (int y = 0; y < h; ++y) {
        SolidBrush b(HeaderColour(sourceTop + y));
        g.FillRectangle(&b, x, y0 + y, w, 1);
    }
}


// A playing-card diamond inside a circular arrow: the emblem of the update.
void DrawEmblem(Graphics& g, float cx, float cy, float radius, float turnDegrees, bool withDisc)
{
    if (withDisc) {
        GraphicsPath disc;
        disc.AddEllipse(cx - radius, cy - radius, 2 * radius, 2 * radius);
        PathGradientBrush glow(&disc);
        glow.SetCenterColor(Color(255, 78, 150, 220));
        Color edge(255, 22, 70, 130);
        int count = 1;
        glow.SetSurroundColors(&edge, &count);
        g.FillPath(&glow, &disc);
        Pen rim(Color(255, 12, 40, 80), radius * 0.06f);
        g.DrawPath(&rim, &disc);
    }
    float r = radius * 0.72f;
    Pen arrow(Color(255, 255, 255, 255), radius * 0.16f);
    arrow.SetStartCap(LineCapRound);
    g.DrawArc(&arrow, cx - r, cy - r, 2 * r, 2 * r, turnDegrees + 20, 290);
    // The arrow head at the end of the arc.
    float end = (turnDegrees + 310) * 3.14159265f / 180.0f;
    float hx = cx + r * std::cos(end), hy = cy + r * std::sin(end);
    float tx = -std::sin(end), ty = std::cos(end);
    float s = radius * 0.34f;
    PointF head[3] = {PointF(hx + tx * s, hy + ty * s), PointF(hx - ty * s * 0.9f, hy + tx * s * 0.9f),
                      PointF(hx + ty * s * 0.9f, hy - tx * s * 0.9f)};
    SolidBrush white(Color(255, 255, 255, 255));
    g.FillPolygon(&white, head, 3);
    // The diamond.
    float d = radius * 0.36f;
    PointF diamond[4] = {PointF(cx, cy - d), PointF(cx + d * 0.72f, cy), PointF(cx, cy + d), PointF(cx - d * 0.72f, cy)};
    LinearGradientBrush red(PointF(cx, cy - d), PointF(cx, cy + d), Color(255, 255, 92, 80), Color(255, 196, 24, 24));
    g.FillPolygon(&red, diamond, 4);
}

Pixels Background()
{
    Bitmap bmp(368, 91, PixelFormat32bppARGB);
    Graphics g(&bmp);
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    g.SetTextRenderingHint(TextRenderingHintAntiAliasGridFit);

    // Body.
    LinearGradientBrush body(Point(0, kHeaderHeight), Point(0, 91), Color(255, 247, 249, 252), Color(255, 221, 230, 240));
    g.FillRectangle(&body, 0, kHeaderHeight, 368, 91 - kHeaderHeight);
    // Header with its highlight and shadow lines.
    FillHeaderRows(g, 0, 0, 368, kHeaderHeight, 0);
    SolidBrush highlight(Color(90, 255, 255, 255));
    g.FillRectangle(&highlight, 0, 0, 368, 1);
    SolidBrush shade(Color(255, 10, 36, 66));
    g.FillRectangle(&shade, 0, kHeaderHeight, 368, 1);

    // Emblem and title.
    DrawEmblem(g, 12, 11, 8, 0, true);
    FontFamily family(L"WenQuanYi Micro Hei");
    Font title(&family, 12, FontStyleBold, UnitPixel);
    SolidBrush titleShadow(Color(140, 0, 0, 0));
    SolidBrush titleBrush(Color(255, 255, 255, 255));
    g.DrawString(L"Vexa棋牌  自动更新", -1, &title, PointF(25, 4), &titleShadow);
    g.DrawString(L"Vexa棋牌  自动更新", -1, &title, PointF(24, 3), &titleBrush);

    // Two recessed tracks under the bars.
    for (int top : {36, 51}) {
        SolidBrush well(Color(255, 200, 211, 224));
        g.SetSmoothingMode(SmoothingModeNone);
        g.FillRectangle(&well, 8, top - 1, 348, 14);
        LinearGradientBrush track(Point(0, top), Point(0, top + 12), Color(255, 214, 223, 234),
                                  Color(255, 240, 244, 249));
        g.FillRectangle(&track, 9, top, 346, 12);
        SolidBrush inner(Color(255, 150, 166, 186));
        g.FillRectangle(&inner, 9, top, 346, 1);
        g.FillRectangle(&inner, 8, top - 1, 1, 14);
        SolidBrush lit(Color(255, 255, 255, 255));
        g.FillRectangle(&lit, 8, top + 12, 348, 1);
        g.FillRectangle(&lit, 355, top - 1, 1, 14);
        g.SetSmoothingMode(SmoothingModeAntiAlias);
    }
    // A rule above the text line.
    g.SetSmoothingMode(SmoothingModeNone);
    SolidBrush rule(Color(255, 198, 208, 221));
    g.FillRectangle(&rule, 8, 68, 352, 1);
    SolidBrush ruleLit(Color(255, 255, 255, 255));
    g.FillRectangle(&ruleLit, 8, 69, 352, 1);
    // Frame.
    Pen frame(Color(255, 12, 40, 74), 1);
    g.DrawRectangle(&frame, 0, 0, 367, 90);
    return Read(bmp);
}

Pixels CloseBox()
{
    Bitmap bmp(104, 16, PixelFormat32bppARGB);
    Graphics g(&bmp);
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    const Color fills[4] = {Color(0, 0, 0, 0), Color(255, 224, 72, 60), Color(255, 166, 36, 28), Color(0, 0, 0, 0)};
    for (int cell = 0; cell < 4; ++cell) {
        int x0 = cell * 26;
        // The cell is copied over the header at y 3, so it carries the header's rows 3 to 18.
        g.SetSmoothingMode(SmoothingModeNone);
        for (int y = 0; y < 16; ++y) {
            int sourceRow = 3 + y;
            Color c = sourceRow < kHeaderHeight ? HeaderColour(sourceRow) : Color(255, 10, 36, 66);
            if (sourceRow > kHeaderHeight)
                c = Color(255, 247, 249, 252);
            SolidBrush b(c);
            g.FillRectangle(&b, x0, y, 26, 1);
        }
        g.SetSmoothingMode(SmoothingModeAntiAlias);
        if (cell == 1 || cell == 2) {
            GraphicsPath* path = RoundedRect(x0 + 8.5f, 0.5f, 17.0f, 12.0f, 3.0f);
            LinearGradientBrush fill(PointF(0, 0), PointF(0, 13), Mix(fills[cell], Color(255, 255, 255, 255), 0.25f),
                                     fills[cell]);
            g.FillPath(&fill, path);
            Pen edge(Color(160, 60, 10, 10), 1);
            g.DrawPath(&edge, path);
            delete path;
        }
        float off = cell == 2 ? 1.0f : 0.0f;
        Color cross = cell == 3 ? Color(255, 140, 150, 165) : Color(255, 255, 255, 255);
        Pen crossShadow(Color(120, 0, 0, 0), 2.0f);
        Pen crossPen(cross, 1.8f);
        crossPen.SetStartCap(LineCapRound);
        crossPen.SetEndCap(LineCapRound);
        float cx = x0 + 17.0f + off, cy = 6.5f + off;
        if (cell == 0) {
            g.DrawLine(&crossShadow, cx - 3, cy - 2.5f, cx + 4, cy + 4.5f);
            g.DrawLine(&crossShadow, cx + 4, cy - 2.5f, cx - 3, cy + 4.5f);
        }
        g.DrawLine(&crossPen, cx - 3.5f, cy - 3.5f, cx + 3.5f, cy + 3.5f);
        g.DrawLine(&crossPen, cx + 3.5f, cy - 3.5f, cx - 3.5f, cy + 3.5f);
    }
    return Read(bmp);
}

Pixels BarFill()
{
    Bitmap bmp(346, 12, PixelFormat32bppARGB);
    Graphics g(&bmp);
    LinearGradientBrush base(Point(0, 0), Point(0, 12), Color(255, 120, 214, 92), Color(255, 34, 140, 40));
    g.FillRectangle(&base, 0, 0, 346, 12);
    // Soft diagonal stripes.
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    SolidBrush stripe(Color(34, 255, 255, 255));
    for (int x = -12; x < 346; x += 12) {
        PointF band[4] = {PointF(float(x), 12), PointF(float(x + 6), 12), PointF(float(x + 12), 0), PointF(float(x + 6), 0)};
        g.FillPolygon(&stripe, band, 4);
    }
    g.SetSmoothingMode(SmoothingModeNone);
    SolidBrush gloss(Color(70, 255, 255, 255));
    g.FillRectangle(&gloss, 0, 1, 346, 4);
    SolidBrush top(Color(255, 168, 236, 140));
    g.FillRectangle(&top, 0, 0, 346, 1);
    SolidBrush bottom(Color(255, 24, 108, 30));
    g.FillRectangle(&bottom, 0, 11, 346, 1);
    return Read(bmp);
}

Pixels AppIcon(int size, float turn)
{
    Bitmap bmp(size, size, PixelFormat32bppARGB);
    Graphics g(&bmp);
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    g.Clear(Color(0, 0, 0, 0));
    float s = float(size);
    FillIconTile(g, s, Color(255, 70, 140, 214), Color(255, 16, 54, 104), Color(255, 10, 34, 66), s / 32.0f);
    DrawEmblem(g, s / 2, s / 2, s * 0.4f, turn, false);
    return Read(bmp);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    return RunGenerator(argc, argv, 1, L"zorvane_art OUTPUT-FOLDER", [](const std::wstring& out) {
        bool ok = true;
        ok &= WriteFileBytes(out + L"background.bmp", Bmp24(Background()));
        ok &= WriteFileBytes(out + L"closebox.bmp", Bmp24(CloseBox()));
        ok &= WriteFileBytes(out + L"bar.bmp", Bmp24(BarFill()));
        ok &= WriteFileBytes(out + L"Zorvane.ico", Icon32(AppIcon(48, 0)));
        for (int frame = 0; frame < 3; ++frame)
            ok &= WriteFileBytes(out + L"tray" + std::to_wstring(frame + 1) + L".ico",
                                 Icon4(AppIcon(32, frame * 120.0f)));
        return ok;
    });
}
