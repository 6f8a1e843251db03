#pragma once

// What the art generators share: the pixels of a GDI+ bitmap and the BMP and ICO
// files written from them, byte by byte, so that the committed files depend on
// this code only. Windows (GDI+), for the generators run under Wine.
#include <windows.h>

#include <gdiplus.h>

#include <functional>
#include <string>
#include <vector>

namespace art {

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bgra; // top row first
};

// The bitmap's pixels as 32-bit BGRA.
Pixels Read(Gdiplus::Bitmap& bmp);

void Put16(std::vector<unsigned char>& out, unsigned v);
void Put32(std::vector<unsigned char>& out, unsigned v);
bool WriteFileBytes(const std::wstring& path, const std::vector<unsigned char>& bytes);

// A 24-bit bottom-up BMP file.
std::vector<unsigned char> Bmp24(const Pixels& p);
// An icon file of one 32-bit image with alpha (and a mask for old readers).
std::vector<unsigned char> Icon32(const Pixels& p);
// An icon file of one 16-colour image with the standard palette.
std::vector<unsigned char> Icon4(const Pixels& p);

// A rectangle with rounded corners of radius r; the caller deletes it.
Gdiplus::GraphicsPath* RoundedRect(float x, float y, float w, float h, float r);

// The rounded tile of a program icon of size s: a vertical gradient from top to
// bottom with a rim.
void FillIconTile(Gdiplus::Graphics& g, float s, const Gdiplus::Color& top, const Gdiplus::Color& bottom,
                  const Gdiplus::Color& rim, float rimWidth);

// The frame of a generator's wmain: checks that there are at least `arguments`
// arguments (else prints the usage and answers 2), starts GDI+, calls write with
// the first argument as a folder ending in "\" and answers 0 when it says true.
int RunGenerator(int argc, wchar_t** argv, int arguments, const wchar_t* usage,
                 const std::function<bool(const std::wstring& folder)>& write);

} // namespace art
