#include "ArtFiles.h"

#include <cstdio>
#include <cstring>

using namespace Gdiplus;

namespace art {

Pixels Read(Bitmap& bmp)
{
    Pixels p;
    p.width = static_cast<int>(bmp.GetWidth());
    p.height = static_cast<int>(bmp.GetHeight());
    p.bgra.resize(static_cast<size_t>(p.width) * p.height * 4);
    Rect r(0, 0, p.width, p.height);
    BitmapData data;
    bmp.LockBits(&r, ImageLockModeRead, PixelFormat32bppARGB, &data);
    for (int y = 0; y < p.height; ++y)
        memcpy(&p.bgra[static_cast<size_t>(y) * p.width * 4], static_cast<unsigned char*>(data.Scan0) + y * data.Stride,
               static_cast<size_t>(p.width) * 4);
    bmp.UnlockBits(&data);
    return p;
}

void Put16(std::vector<unsigned char>& out, unsigned v)
{
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<unsigned char>& out, unsigned v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool WriteFileBytes(const std::wstring& path, const std::vector<unsigned char>& bytes)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f)
        return false;
    fwrite(bytes.data(), 1, bytes.size(), f);
    return fclose(f) == 0;
}

// A 24-bit bottom-up BMP file.
std::vector<unsigned char> Bmp24(const Pixels& p)
{
    int stride = (p.width * 3 + 3) & ~3;
    std::vector<unsigned char> out;
    Put16(out, 0x4D42);
    Put32(out, 54 + stride * p.height);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, p.width);
    Put32(out, p.height);
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0);
    Put32(out, stride * p.height);
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = p.height - 1; y >= 0; --y) {
        int n = 0;
        for (int x = 0; x < p.width; ++x, n += 3) {
            const unsigned char* s = &p.bgra[(static_cast<size_t>(y) * p.width + x) * 4];
            out.push_back(s[0]);
            out.push_back(s[1]);
            out.push_back(s[2]);
        }
        for (; n < stride; ++n)
            out.push_back(0);
    }
    return out;
}

// The AND mask of an icon image: 1 where the pixel is transparent.
static void PutMask(std::vector<unsigned char>& out, const Pixels& p)
{
    int stride = ((p.width + 31) / 32) * 4;
    for (int y = p.height - 1; y >= 0; --y) {
        std::vector<unsigned char> row(stride, 0);
        for (int x = 0; x < p.width; ++x)
            if (p.bgra[(static_cast<size_t>(y) * p.width + x) * 4 + 3] < 128)
                row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
}

static std::vector<unsigned char> IconFile(const std::vector<unsigned char>& image, int w, int h, int colours, int bpp)
{
    std::vector<unsigned char> out;
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, 1);
    out.push_back(static_cast<unsigned char>(w));
    out.push_back(static_cast<unsigned char>(h));
    out.push_back(static_cast<unsigned char>(colours));
    out.push_back(0);
    Put16(out, 1);
    Put16(out, bpp);
    Put32(out, static_cast<unsigned>(image.size()));
    Put32(out, 22);
    out.insert(out.end(), image.begin(), image.end());
    return out;
}

static void PutIconHeader(std::vector<unsigned char>& out, const Pixels& p, int bpp, int colours)
{
    Put32(out, 40);
    Put32(out, p.width);
    Put32(out, p.height * 2);
    Put16(out, 1);
    Put16(out, bpp);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, colours);
    Put32(out, 0);
}

// A 32-bit icon with alpha (and a mask for old readers).
std::vector<unsigned char> Icon32(const Pixels& p)
{
    std::vector<unsigned char> img;
    PutIconHeader(img, p, 32, 0);
    for (int y = p.height - 1; y >= 0; --y)
        img.insert(img.end(), p.bgra.begin() + static_cast<size_t>(y) * p.width * 4,
                   p.bgra.begin() + static_cast<size_t>(y + 1) * p.width * 4);
    PutMask(img, p);
    return IconFile(img, p.width, p.height, 0, 32);
}

// A 16-colour icon with the standard palette; each pixel takes the nearest colour.
std::vector<unsigned char> Icon4(const Pixels& p)
{
    static const unsigned char kPalette[16][3] = {
        {0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0},   {0, 0, 128},   {128, 0, 128},
        {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
        {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
    };
    std::vector<unsigned char> img;
    PutIconHeader(img, p, 4, 16);
    for (const auto& c : kPalette) {
        img.push_back(c[2]);
        img.push_back(c[1]);
        img.push_back(c[0]);
        img.push_back(0);
    }
    int stride = ((p.width * 4 + 31) / 32) * 4;
    for (int y = p.height - 1; y >= 0; --y) {
        std::vector<unsigned char> row(stride, 0);
        for (int x = 0; x < p.width; ++x) {
            const unsigned char* s = &p.bgra[(static_cast<size_t>(y) * p.width + x) * 4];
            int best = 0;
            long bestDistance = 1L << 30;
            for (int i = 0; i < 16; ++i) {
                long dr = s[2] - kPalette[i][0], dg = s[1] - kPalette[i][1], db = s[0] - kPalette[i][2];
                long d = dr * dr * 3 + dg * dg * 4 + db * db * 2;
                if (d < bestDistance) {
                    bestDistance = d;
                    best = i;
                }
            }
            if (s[3] < 128)
                best = 0;
            row[x / 2] |= static_cast<unsigned char>(x % 2 ? best : best << 4);
        }
        img.insert(img.end(), row.begin(), row.end());
    }
    PutMask(img, p);
    return IconFile(img, p.width, p.height, 16, 4);
}

GraphicsPath* RoundedRect(float x, float y, float w, float h, float r)
{
    auto* path = new GraphicsPath();
    path->AddArc(x, y, 2 * r, 2 * r, 180, 90);
    path->AddArc(x + w - 2 * r, y, 2 * r, 2 * r, 270, 90);
    path->AddArc(x + w - 2 * r, y + h - 2 * r, 2 * r, 2 * r, 0, 90);
    path->AddArc(x, y + h - 2 * r, 2 * r, 2 * r, 90, 90);
    path->CloseFigure();
    return path;
}

void FillIconTile(Graphics& g, float s, const Color& top, const Color& bottom, const Color& rim, float rimWidth)
{
    GraphicsPath* tile = RoundedRect(s * 0.04f, s * 0.04f, s * 0.92f, s * 0.92f, s * 0.2f);
    LinearGradientBrush fill(PointF(0, 0), PointF(0, s), top, bottom);
    g.FillPath(&fill, tile);
    Pen pen(rim, rimWidth);
    g.DrawPath(&pen, tile);
    delete tile;
}

int RunGenerator(int argc, wchar_t** argv, int arguments, const wchar_t* usage,
                 const std::function<bool(const std::wstring& folder)>& write)
{
    if (argc < arguments + 1) {
        fwprintf(stderr, L"usage: %ls\n", usage);
        return 2;
    }
    std::wstring folder = argv[1];
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (GdiplusStartup(&token, &input, nullptr) != Ok)
        return 1;
    const bool ok = write(folder);
    GdiplusShutdown(token);
    return ok ? 0 : 1;
}

} // namespace art
