// The progress panel under Wine: the updater's notification hooks with the
// rectangles they invalidate, and the panel drawn into a bitmap.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "ProgressPanel.h"
#include "Updater.h"

namespace {

using Area = CUpdater::Area;

bool operator==(const Area& a, const Area& b)
{
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

// Records the rectangles instead of invalidating a window.
class CRecordingUpdater : public CUpdater {
public:
    std::vector<Area> m_areas;

protected:
    void Invalidate(const Area& area) override { m_areas.push_back(area); }
};

TEST(ProgressHooks, StatusCodesReplaceTheLineAndInvalidateIt)
{
    CRecordingUpdater updater;
    updater.OnStatus(NOTIFY_FETCH_BEGIN, "updatetmp/12/a.dll");
    EXPECT_EQ(updater.StatusText(), "下载中... (updatetmp/12/a.dll)");
    updater.OnStatus(NOTIFY_FETCH_END, "a.dll");
    EXPECT_EQ(updater.StatusText(), "完成 (a.dll)");
    updater.OnStatus(NOTIFY_TEXT, "完成更新。");
    EXPECT_EQ(updater.StatusText(), "完成更新。");
    ASSERT_EQ(updater.m_areas.size(), 3u);
    for (const Area& a : updater.m_areas)
        EXPECT_TRUE(a == (Area{40, 215, 500, 13}));

    // Other codes leave the line and the window alone.
    updater.OnStatus(14, "x");
    updater.OnStatus(NOTIFY_PROGRESS, "y");
    EXPECT_EQ(updater.StatusText(), "完成更新。");
    EXPECT_EQ(updater.m_areas.size(), 3u);
}

TEST(ProgressHooks, WithoutEntriesProgressChangesOnlyTheFileBarAndTheStatistics)
{
    CRecordingUpdater updater;
    EXPECT_EQ(updater.FileProgress(), 10000);
    EXPECT_EQ(updater.OverallProgress(), 10000);
    updater.OnProgress(NOTIFY_PROGRESS, 5000);
    EXPECT_EQ(updater.FileProgress(), 5000);
    EXPECT_EQ(updater.OverallProgress(), 10000);
    ASSERT_EQ(updater.m_areas.size(), 2u);
    EXPECT_TRUE(updater.m_areas[0] == (Area{40, 230, 500, 10}));
    EXPECT_TRUE(updater.m_areas[1] == (Area{40, 277, 300, 13}));
    updater.OnProgress(NOTIFY_TEXT, 1);
    EXPECT_EQ(updater.FileProgress(), 5000);
    EXPECT_EQ(updater.m_areas.size(), 2u);
}

const COLORREF kTrack = RGB(10, 20, 30);
const COLORREF kFill = RGB(200, 100, 50);

HBITMAP Solid(HDC dc, COLORREF colour)
{
    HBITMAP bmp = ::CreateCompatibleBitmap(dc, 300, 18);
    HDC mem = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    RECT r{0, 0, 300, 18};
    HBRUSH b = ::CreateSolidBrush(colour);
    ::FillRect(mem, &r, b);
    ::DeleteObject(b);
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
    return bmp;
}

// A 32-bit top-down bitmap to draw the panel into, taller than the window so
// that the labels below the client area can be seen too.
class PanelCanvas {
public:
    PanelCanvas()
    {
        HDC screen = ::GetDC(nullptr);
        m_dc = ::CreateCompatibleDC(screen);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = W;
        bi.bmiHeader.biHeight = -H;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        m_bitmap = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0);
        m_old = ::SelectObject(m_dc, m_bitmap);
        m_track = Solid(screen, kTrack);
        m_fill = Solid(screen, kFill);
        ::ReleaseDC(nullptr, screen);
    }
    ~PanelCanvas()
    {
        ::SelectObject(m_dc, m_old);
        ::DeleteObject(m_bitmap);
        ::DeleteDC(m_dc);
        ::DeleteObject(m_track);
        ::DeleteObject(m_fill);
    }
    void Clear()
    {
        RECT r{0, 0, W, H};
        ::FillRect(m_dc, &r, static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH)));
        ::GdiFlush();
    }
    COLORREF Pixel(int x, int y) const
    {
        std::uint32_t v = m_bits[y * W + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    // The rightmost pixel of the fill colour in a bar's rows (the percentage text
    // covers part of the right end, but never all ten rows of a column).
    int RightmostFill(int top) const
    {
        int right = -1;
        for (int y = top; y < top + 10; ++y)
            for (int x = 0; x < W; ++x)
                if (Pixel(x, y) == kFill && x > right)
                    right = x;
        return right;
    }
    int CountWhere(int left, int top, int right, int bottom, bool (*match)(COLORREF)) const
    {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                n += match(Pixel(x, y)) ? 1 : 0;
        return n;
    }

    static constexpr int W = 400;
    static constexpr int H = 420;
    HDC m_dc = nullptr;
    HBITMAP m_track = nullptr;
    HBITMAP m_fill = nullptr;

private:
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    std::uint32_t* m_bits = nullptr;
};

// The texts are smoothed: count the pixels close to their colours.
bool IsWhite(COLORREF c) { return GetRValue(c) > 220 && GetGValue(c) > 220 && GetBValue(c) > 220; }
bool IsBlack(COLORREF c) { return GetRValue(c) < 30 && GetGValue(c) < 30 && GetBValue(c) < 30; }
bool IsDarkGreen(COLORREF c) { return GetGValue(c) > 60 && GetRValue(c) < 40 && GetBValue(c) < 40; }

TEST(ProgressPanel, InitPanelStoresTheFolderAndDescribesTheFont)
{
    CRecordingUpdater updater;
    HBITMAP none = nullptr;
    CProgressPanel panel(updater, none, none);
    EXPECT_TRUE(panel.InitPanel("12"));
    EXPECT_EQ(updater.Folder(), "12");
    const LOGFONTA& f = panel.Label().m_fontDescription;
    EXPECT_EQ(f.lfHeight, -12);
    EXPECT_EQ(f.lfWidth, 0);
    EXPECT_EQ(f.lfWeight, 400);
    EXPECT_EQ(f.lfItalic, 0);
    EXPECT_EQ(f.lfCharSet, DEFAULT_CHARSET);
    EXPECT_EQ(f.lfOutPrecision, 0);
    EXPECT_EQ(f.lfClipPrecision, 0);
    EXPECT_EQ(f.lfQuality, ANTIALIASED_QUALITY);
    EXPECT_EQ(f.lfPitchAndFamily, 0);
    EXPECT_STREQ(f.lfFaceName, "宋体");
    EXPECT_EQ(panel.Label().m_colour, RGB(255, 255, 255));
}

TEST(ProgressPanel, TheFillsHaveTheWidthOfTheirProgress)
{
    CRecordingUpdater updater;
    PanelCanvas canvas;
    CProgressPanel panel(updater, canvas.m_track, canvas.m_fill);
    panel.InitPanel("plat");
    struct Case {
        int progress, width;
    } cases[] = {{10000, 300}, {9999, 299}, {5000, 150}, {100, 2}, {1, 0}};
    for (const Case& c : cases) {
        updater.OnProgress(NOTIFY_PROGRESS, c.progress);
        canvas.Clear();
        panel.DrawPanel(canvas.m_dc);
        ::GdiFlush();
        EXPECT_EQ(canvas.RightmostFill(230), c.width > 0 ? 40 + c.width - 1 : -1) << c.progress;
        if (c.width < 300) {
            EXPECT_EQ(canvas.Pixel(40 + c.width, 239), kTrack) << c.progress;
        }
        // The overall bar keeps its value (no entries) and is full.
        EXPECT_EQ(canvas.RightmostFill(247), 339) << c.progress;
        EXPECT_EQ(canvas.Pixel(340, 250), RGB(128, 128, 128)) << "the track is 300 wide";
    }
}

TEST(ProgressPanel, TextsWithTheirShadowsAndTheLabelsBelowTheWindow)
{
    CRecordingUpdater updater;
    PanelCanvas canvas;
    CProgressPanel panel(updater, canvas.m_track, canvas.m_fill);
    panel.InitPanel("plat");
    canvas.Clear();
    panel.DrawPanel(canvas.m_dc);
    ::GdiFlush();
    // Empty status line: nothing drawn there.
    EXPECT_EQ(canvas.CountWhere(40, 215, 340, 228, IsWhite), 0);
    // The statistics line, white over a black shadow one pixel to the right.
    EXPECT_GT(canvas.CountWhere(40, 277, 340, 292, IsWhite), 20);
    EXPECT_GT(canvas.CountWhere(40, 277, 340, 292, IsBlack), 5);
    // The labels are dark green, below the 300 rows of the window.
    EXPECT_GT(canvas.CountWhere(45, 380, 200, 395, IsDarkGreen), 10);
    EXPECT_GT(canvas.CountWhere(45, 400, 200, 415, IsDarkGreen), 10);

    updater.OnStatus(NOTIFY_TEXT, "开始获得更新信息...");
    canvas.Clear();
    panel.DrawPanel(canvas.m_dc);
    ::GdiFlush();
    EXPECT_GT(canvas.CountWhere(40, 215, 340, 230, IsWhite), 20);
    EXPECT_GT(canvas.CountWhere(40, 215, 340, 230, IsBlack), 5);
}

TEST(ProgressPanel, MissingBarBitmapsDrawPlainFills)
{
    CRecordingUpdater updater;
    PanelCanvas canvas;
    HBITMAP none = nullptr;
    CProgressPanel panel(updater, none, none);
    panel.InitPanel("plat");
    updater.OnProgress(NOTIFY_PROGRESS, 5000);
    canvas.Clear();
    panel.DrawPanel(canvas.m_dc);
    ::GdiFlush();
    EXPECT_EQ(canvas.Pixel(40, 235), CProgressPanel::BAR_FILL);
    EXPECT_EQ(canvas.Pixel(189, 235), CProgressPanel::BAR_FILL);
    EXPECT_EQ(canvas.Pixel(190, 235), CProgressPanel::TRACK_FILL);
    EXPECT_EQ(canvas.Pixel(250, 239), CProgressPanel::TRACK_FILL);
}

} // namespace
