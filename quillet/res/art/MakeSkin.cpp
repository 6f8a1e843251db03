// Draws Quillet's default skin with GDI+ and writes the six BMP files that the
// window loads from "Patch\", and the window's icon. Run under Wine
// (scripts/make-skin); its output is committed, so a build never needs it.
//   quillet_skin.exe SKIN-FOLDER ICON-FILE
#include <windows.h>

#include <gdiplus.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ArtFiles.h"

using namespace Gdiplus;
using namespace art;

namespace {

const float kPi = 3.14159265f;

// The four card suits, drawn as filled shapes of about size s around (cx, cy).
void Heart(GraphicsPath& p, float cx, float cy, float s)
{
    float r = s * 0.27f;
    p.AddArc(cx - 2 * r, cy - s * 0.42f, 2 * r, 2 * r, 135, 225);
    p.AddArc(cx, cy - s * 0.42f, 2 * r, 2 * r, 180, 225);
    p.AddLine(cx + 1.7f * r, cy + s * 0.02f, cx, cy + s * 0.5f);
    p.CloseFigure();
}

void Diamond(GraphicsPath& p, float cx, float cy, float s)
{
    PointF pts[4] = {PointF(cx, cy - s * 0.5f), PointF(cx + s * 0.36f, cy), PointF(cx, cy + s * 0.5f),
                     PointF(cx - s * 0.36f, cy)};
    p.AddPolygon(pts, 4);
}

void Spade(GraphicsPath& p, float cx, float cy, float s)
{
    float r = s * 0.24f;
    p.StartFigure();
    p.AddArc(cx - 2 * r, cy - s * 0.1f, 2 * r, 2 * r, 45, 225);
    p.AddLine(cx - 1.7f * r, cy - s * 0.05f, cx, cy - s * 0.5f);
    p.AddArc(cx, cy - s * 0.1f, 2 * r, 2 * r, 270, 225);
    p.CloseFigure();
    PointF stem[3] = {PointF(cx, cy + s * 0.05f), PointF(cx + s * 0.16f, cy + s * 0.5f),
                      PointF(cx - s * 0.16f, cy + s * 0.5f)};
    p.AddPolygon(stem, 3);
}

void Club(GraphicsPath& p, float cx, float cy, float s)
{
    float r = s * 0.2f;
    p.AddEllipse(cx - r, cy - s * 0.5f, 2 * r, 2 * r);
    p.AddEllipse(cx - 2.1f * r, cy - s * 0.18f, 2 * r, 2 * r);
    p.AddEllipse(cx + 0.1f * r, cy - s * 0.18f, 2 * r, 2 * r);
    PointF stem[3] = {PointF(cx, cy - s * 0.05f), PointF(cx + s * 0.16f, cy + s * 0.5f),
                      PointF(cx - s * 0.16f, cy + s * 0.5f)};
    p.AddPolygon(stem, 3);
}

// A playing card, turned by angle degrees around its centre, with a big suit.
void Card(Graphics& g, float cx, float cy, float angle, int suit)
{
    GraphicsState state = g.Save();
    g.TranslateTransform(cx, cy);
    g.RotateTransform(angle);
    const float w = 58, h = 82;
    GraphicsPath* shadow = RoundedRect(-w / 2 + 3, -h / 2 + 4, w, h, 6);
    SolidBrush shade(Color(70, 0, 0, 0));
    g.FillPath(&shade, shadow);
    delete shadow;
    GraphicsPath* face = RoundedRect(-w / 2, -h / 2, w, h, 6);
    LinearGradientBrush paper(PointF(0, -h / 2), PointF(0, h / 2), Color(255, 255, 255, 255), Color(255, 226, 232, 240));
    g.FillPath(&paper, face);
    Pen rim(Color(255, 150, 160, 178), 1.2f);
    g.DrawPath(&rim, face);
    delete face;
    GraphicsPath pip;
    pip.SetFillMode(FillModeWinding);
    switch (suit) {
    case 0:
        Heart(pip, 0, 2, 36);
        break;
    case 1:
        Spade(pip, 0, 0, 36);
        break;
    case 2:
        Diamond(pip, 0, 0, 38);
        break;
    default:
        Club(pip, 0, 0, 36);
        break;
    }
    bool red = suit == 0 || suit == 2;
    LinearGradientBrush ink(PointF(0, -20), PointF(0, 20), red ? Color(255, 240, 70, 60) : Color(255, 70, 78, 96),
                            red ? Color(255, 170, 20, 24) : Color(255, 18, 22, 34));
    g.FillPath(&ink, &pip);
    // The corner pips.
    for (int corner = 0; corner < 2; ++corner) {
        GraphicsPath small;
        small.SetFillMode(FillModeWinding);
        float x = corner ? w / 2 - 9 : -w / 2 + 9, y = corner ? h / 2 - 11 : -h / 2 + 11;
        switch (suit) {
        case 0:
            Heart(small, x, y, 10);
            break;
        case 1:
            Spade(small, x, y, 10);
            break;
        case 2:
            Diamond(small, x, y, 11);
            break;
        default:
            Club(small, x, y, 10);
            break;
        }
        g.FillPath(&ink, &small);
    }
    g.Restore(state);
}

// The window: a deep blue table with a fan of cards and the title above, a darker
// panel below for the status line, the two bars and the statistics line.
Pixels Background()
{
    const int W = 400, H = 300;
    Bitmap bmp(W, H, PixelFormat32bppARGB);
    Graphics g(&bmp);
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    g.SetTextRenderingHint(TextRenderingHintAntiAliasGridFit);

    // The table: a radial glow over a vertical gradient.
    LinearGradientBrush base(Point(0, 0), Point(0, H), Color(255, 24, 62, 112), Color(255, 8, 24, 48));
    g.FillRectangle(&base, 0, 0, W, H);
    GraphicsPath glowPath;
    glowPath.AddEllipse(-60, -70, W + 120, 300);
    PathGradientBrush glow(&glowPath);
    glow.SetCenterColor(Color(150, 74, 140, 214));
    Color clear(0, 74, 140, 214);
    int one = 1;
    glow.SetSurroundColors(&clear, &one);
    g.FillPath(&glow, &glowPath);

    // Faint suits scattered over the table.
    SolidBrush faint(Color(20, 255, 255, 255));
    for (int i = 0; i < 22; ++i) {
        float x = float((i * 97 + 31) % W), y = float((i * 61 + 17) % 190) + 8;
        float s = 10.0f + (i * 7) % 12;
        GraphicsPath p;
        p.SetFillMode(FillModeWinding);
        switch (i % 4) {
        case 0:
            Heart(p, x, y, s);
            break;
        case 1:
            Spade(p, x, y, s);
            break;
        case 2:
            Diamond(p, x, y, s);
            break;
        default:
            Club(p, x, y, s);
            break;
        }
        g.FillPath(&faint, &p);
    }

    // The header band with the title and the place of the close button.
    LinearGradientBrush header(Point(0, 0), Point(0, 36), Color(255, 40, 92, 156), Color(255, 16, 48, 92));
    g.FillRectangle(&header, 0, 0, W, 36);
    SolidBrush headerLine(Color(255, 232, 182, 72));
    g.FillRectangle(&headerLine, 0, 36, W, 2);
    SolidBrush headerLit(Color(70, 255, 255, 255));
    g.FillRectangle(&headerLit, 0, 0, W, 1);

    FontFamily family(L"WenQuanYi Micro Hei");
    Font title(&family, 16, FontStyleBold, UnitPixel);
    SolidBrush titleShadow(Color(150, 0, 0, 0));
    SolidBrush titleBrush(Color(255, 255, 255, 255));
    SolidBrush gold(Color(255, 246, 204, 98));
    // A small diamond before the title.
    GraphicsPath mark;
    Diamond(mark, 20, 18, 20);
    LinearGradientBrush markInk(PointF(0, 8), PointF(0, 28), Color(255, 255, 110, 90), Color(255, 190, 24, 28));
    g.FillPath(&markInk, &mark);
    Pen markRim(Color(255, 255, 236, 190), 1.2f);
    g.DrawPath(&markRim, &mark);
    g.DrawString(L"Vexa 游戏中心", -1, &title, PointF(35, 9), &titleShadow);
    g.DrawString(L"Vexa 游戏中心", -1, &title, PointF(34, 8), &titleBrush);
    Font subtitle(&family, 11, FontStyleRegular, UnitPixel);
    g.DrawString(L"自动更新", -1, &subtitle, PointF(172, 13), &gold);
    // A dark well behind the close button.
    GraphicsPath* well = RoundedRect(366, 6, 26, 24, 5);
    SolidBrush wellFill(Color(110, 0, 0, 0));
    g.FillPath(&wellFill, well);
    delete well;

    // The fan of cards.
    const float fan[4][3] = {{140, 122, -24}, {180, 112, -8}, {220, 112, 8}, {260, 122, 24}};
    for (int i = 0; i < 4; ++i)
        Card(g, fan[i][0], fan[i][1], fan[i][2], i);
    Font slogan(&family, 13, FontStyleBold, UnitPixel);
    StringFormat centred;
    centred.SetAlignment(StringAlignmentCenter);
    g.DrawString(L"正在为您准备最新的游戏内容", -1, &slogan, PointF(201, 177), &centred, &titleShadow);
    g.DrawString(L"正在为您准备最新的游戏内容", -1, &slogan, PointF(200, 176), &centred, &gold);

    // The panel: darker, with a gold rule on top; the texts are white on it.
    GraphicsPath* panel = RoundedRect(24, 204, 352, 90, 8);
    LinearGradientBrush panelFill(Point(0, 204), Point(0, 294), Color(215, 6, 16, 34), Color(235, 4, 10, 22));
    g.FillPath(&panelFill, panel);
    Pen panelRim(Color(255, 60, 104, 160), 1.0f);
    g.DrawPath(&panelRim, panel);
    delete panel;
    g.SetSmoothingMode(SmoothingModeNone);
    SolidBrush rule(Color(160, 232, 182, 72));
    g.FillRectangle(&rule, 40, 269, 320, 1);
    // Frames around the two bars (the bars are drawn at (40, 230) and (40, 247), 300 x 10).
    SolidBrush frame(Color(255, 2, 6, 14));
    SolidBrush frameLit(Color(255, 52, 86, 130));
    for (int top : {230, 247}) {
        g.FillRectangle(&frame, 39, top - 1, 302, 1);
        g.FillRectangle(&frame, 39, top - 1, 1, 12);
        g.FillRectangle(&frameLit, 39, top + 10, 302, 1);
        g.FillRectangle(&frameLit, 340, top - 1, 1, 12);
    }
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    Pen outline(Color(255, 6, 18, 38), 2.0f);
    GraphicsPath* edge = RoundedRect(1, 1, W - 2, H - 2, 7);
    g.DrawPath(&outline, edge);
    delete edge;
    return Read(bmp);
}

// The empty track: a dark groove (only the top 10 of its 18 rows are shown).
Pixels BarTrack()
{
    Bitmap bmp(300, 18, PixelFormat32bppARGB);
    Graphics g(&bmp);
    LinearGradientBrush groove(Point(0, 0), Point(0, 10), Color(255, 10, 18, 30), Color(255, 30, 44, 64));
    g.FillRectangle(&groove, 0, 0, 300, 18);
    SolidBrush shade(Color(255, 4, 8, 14));
    g.FillRectangle(&shade, 0, 0, 300, 2);
    // Notches every tenth of the bar.
    SolidBrush notch(Color(60, 255, 255, 255));
    for (int x = 30; x < 300; x += 30)
        g.FillRectangle(&notch, x, 3, 1, 6);
    return Read(bmp);
}

// The fill: a gold gradient with a gloss and soft stripes.
Pixels BarFill()
{
    Bitmap bmp(300, 18, PixelFormat32bppARGB);
    Graphics g(&bmp);
    LinearGradientBrush base(Point(0, 0), Point(0, 10), Color(255, 255, 214, 96), Color(255, 214, 120, 18));
    g.FillRectangle(&base, 0, 0, 300, 18);
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    SolidBrush stripe(Color(40, 255, 255, 255));
    for (int x = -10; x < 300; x += 10) {
        PointF band[4] = {PointF(float(x), 10), PointF(float(x + 5), 10), PointF(float(x + 10), 0),
                          PointF(float(x + 5), 0)};
        g.FillPolygon(&stripe, band, 4);
    }
    g.SetSmoothingMode(SmoothingModeNone);
    SolidBrush gloss(Color(90, 255, 255, 255));
    g.FillRectangle(&gloss, 0, 1, 300, 3);
    SolidBrush top(Color(255, 255, 240, 180));
    g.FillRectangle(&top, 0, 0, 300, 1);
    SolidBrush bottom(Color(255, 150, 78, 8));
    g.FillRectangle(&bottom, 0, 9, 300, 1);
    return Read(bmp);
}

// The close button in its three states: 0 normal, 1 hover, 2 pressed. It sits on
// the header band, so the cell carries the band's colours around the disc.
Pixels CloseButton(int state)
{
    Bitmap bmp(20, 20, PixelFormat32bppARGB);
    Graphics g(&bmp);
    // The header band and the dark well behind the button, as the background has them at (370, 8).
    LinearGradientBrush header(Point(0, -8), Point(0, 28), Color(255, 40, 92, 156), Color(255, 16, 48, 92));
    g.FillRectangle(&header, 0, 0, 20, 20);
    SolidBrush well(Color(110, 0, 0, 0));
    g.FillRectangle(&well, 0, 0, 20, 20);
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    const Color top[3] = {Color(255, 236, 104, 88), Color(255, 255, 150, 120), Color(255, 150, 34, 28)};
    const Color bottom[3] = {Color(255, 170, 30, 26), Color(255, 214, 62, 44), Color(255, 110, 16, 14)};
    float off = state == 2 ? 1.0f : 0.0f;
    GraphicsPath disc;
    disc.AddEllipse(1.5f + off, 1.5f + off, 16.0f, 16.0f);
    LinearGradientBrush fill(PointF(0, 1), PointF(0, 18), top[state], bottom[state]);
    g.FillPath(&fill, &disc);
    Pen rim(state == 1 ? Color(255, 255, 230, 160) : Color(255, 90, 10, 8), state == 1 ? 1.4f : 1.0f);
    g.DrawPath(&rim, &disc);
    Pen cross(Color(255, 255, 255, 255), 2.0f);
    cross.SetStartCap(LineCapRound);
    cross.SetEndCap(LineCapRound);
    float c = 9.5f + off;
    g.DrawLine(&cross, c - 3.5f, c - 3.5f, c + 3.5f, c + 3.5f);
    g.DrawLine(&cross, c + 3.5f, c - 3.5f, c - 3.5f, c + 3.5f);
    return Read(bmp);
}

// The window's icon: a gold-rimmed blue tile with a fan of two cards.
Pixels AppIcon(int size)
{
    Bitmap bmp(size, size, PixelFormat32bppARGB);
    Graphics g(&bmp);
    g.SetSmoothingMode(SmoothingModeAntiAlias);
    g.Clear(Color(0, 0, 0, 0));
    float s = float(size);
    FillIconTile(g, s, Color(255, 52, 116, 196), Color(255, 12, 36, 76), Color(255, 232, 182, 72), s / 24.0f);
    g.ScaleTransform(s / 100.0f, s / 100.0f);
    Card(g, 40, 52, -14, 1);
    Card(g, 60, 52, 12, 0);
    return Read(bmp);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring icon = argc > 2 ? argv[2] : L"";
    return RunGenerator(argc, argv, 2, L"quillet_skin SKIN-FOLDER ICON-FILE", [&icon](const std::wstring& out) {
        bool ok = true;
        ok &= WriteFileBytes(out + L"bg.bmp", Bmp24(Background()));
        ok &= WriteFileBytes(out + L"patch_updateBar.bmp", Bmp24(BarFill()));
        ok &= WriteFileBytes(out + L"patch_updateBar2.bmp", Bmp24(BarTrack()));
        for (int state = 0; state < 3; ++state)
            ok &= WriteFileBytes(out + L"btn_exit" + std::to_wstring(state + 1) + L".bmp", Bmp24(CloseButton(state)));
        ok &= WriteFileBytes(icon, Icon32(AppIcon(48)));
        return ok;
    });
}
