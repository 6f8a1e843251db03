// The skinned button under Wine: a real push button in a window of the test,
// driven with its messages and looked at on the screen.
#include <gtest/gtest.h>

#include <windows.h>

#include "UiDriver.h"
#include "WinButton.h"

namespace {

int g_clicks = 0;

LRESULT CALLBACK ParentProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COMMAND && LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED)
        ++g_clicks;
    return ::DefWindowProcA(wnd, msg, wParam, lParam);
}

HBITMAP SolidBitmap(COLORREF colour, int w = 20, int h = 20)
{
    HDC screen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(screen);
    HBITMAP bmp = ::CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    RECT r{0, 0, w, h};
    HBRUSH brush = ::CreateSolidBrush(colour);
    ::FillRect(mem, &r, brush);
    ::DeleteObject(brush);
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);
    return bmp;
}

class WinButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "QuilletButtonHost";
        wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
        ::RegisterClassA(&wc);
        m_parent = ::CreateWindowExA(WS_EX_TOPMOST, "QuilletButtonHost", "host", WS_POPUP | WS_VISIBLE, 100, 100, 120,
                                     80, nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(m_parent, nullptr);
        // 38 x 24, the size of the drawn face's example.
        m_button = ::CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 10, 10, 38, 24, m_parent,
                                     reinterpret_cast<HMENU>(IDOK), wc.hInstance, nullptr);
        ASSERT_NE(m_button, nullptr);
        m_standardProc = ::GetWindowLongPtrA(m_button, GWLP_WNDPROC);
        g_clicks = 0;
        // Keep the real pointer away from the button, so that the system's own
        // leave notifications do not interfere unless a test moves it there.
        ::SetCursorPos(5, 5);
    }

    void TearDown() override
    {
        m_object.Detach();
        ::DestroyWindow(m_parent);
        for (HBITMAP b : m_bitmaps)
            ::DeleteObject(b);
    }

    HBITMAP Bitmap(COLORREF c, int w = 20, int h = 20)
    {
        m_bitmaps.push_back(SolidBitmap(c, w, h));
        return m_bitmaps.back();
    }

    ui::Image Face()
    {
        ::RedrawWindow(m_button, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        ui::Pump(50);
        RECT r;
        ::GetWindowRect(m_button, &r);
        return ui::CaptureScreen(r);
    }

    void Send(UINT msg, int x, int y, WPARAM keys = 0) { ::SendMessageA(m_button, msg, keys, MAKELPARAM(x, y)); }

    // Puts the real pointer over the button, so that hover lasts until the test leaves.
    void PointerOver()
    {
        RECT r;
        ::GetWindowRect(m_button, &r);
        ::SetCursorPos(r.left + 5, r.top + 5);
        ui::Pump(50);
    }

    HWND m_parent = nullptr;
    HWND m_button = nullptr;
    LONG_PTR m_standardProc = 0;
    CWinButton m_object;
    std::vector<HBITMAP> m_bitmaps;
};

TEST_F(WinButtonTest, AttachSubclassesAndDetachGivesTheProcedureBack)
{
    EXPECT_EQ(m_object.Attach(nullptr), 0);
    EXPECT_EQ(m_object.Attach(reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1234))), 0);
    ASSERT_EQ(m_object.Attach(m_button), 1);
    EXPECT_EQ(::GetPropA(m_button, "CWINBUTTON"), static_cast<HANDLE>(&m_object));
    EXPECT_EQ(::GetWindowLongPtrA(m_button, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_NE(::GetWindowLongPtrA(m_button, GWLP_WNDPROC), m_standardProc);
    HRGN rgn = ::CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(::GetWindowRgn(m_button, rgn), COMPLEXREGION); // rounded corners
    m_object.Detach();
    EXPECT_EQ(::GetWindowLongPtrA(m_button, GWLP_WNDPROC), m_standardProc);
    EXPECT_EQ(::GetPropA(m_button, "CWINBUTTON"), static_cast<HANDLE>(&m_object)); // left in place
    ::DeleteObject(rgn);
}

TEST_F(WinButtonTest, AfterAFailedAttachSetBitmapsTouchesNoWindow)
{
    // The object then has no button, as when the window property cannot be set.
    ASSERT_EQ(m_object.Attach(nullptr), 0);
    ::UpdateWindow(m_parent);
    ::ValidateRect(m_parent, nullptr);
    EXPECT_EQ(m_object.SetBitmaps(Bitmap(RGB(200, 0, 0)), TRUE), 0);
    EXPECT_FALSE(m_object.HasBitmap());
    // Nothing was invalidated, neither here nor anywhere else on the desktop.
    EXPECT_FALSE(::GetUpdateRect(m_parent, nullptr, FALSE));
    RECT r;
    ::GetWindowRect(m_button, &r);
    EXPECT_EQ(r.right - r.left, 38);
}

TEST_F(WinButtonTest, SetBitmapsTakesTheBitmapsSizeAndARectangularRegion)
{
    ASSERT_EQ(m_object.Attach(m_button), 1);
    EXPECT_EQ(m_object.SetBitmaps(nullptr, TRUE), 0);
    EXPECT_FALSE(m_object.HasBitmap());
    ASSERT_EQ(m_object.SetBitmaps(Bitmap(RGB(200, 0, 0)), TRUE), 1);
    EXPECT_TRUE(m_object.HasBitmap());
    RECT r;
    ::GetWindowRect(m_button, &r);
    EXPECT_EQ(r.right - r.left, 20);
    EXPECT_EQ(r.bottom - r.top, 20);
    POINT at{r.left, r.top};
    ::ScreenToClient(m_parent, &at);
    EXPECT_EQ(at.x, 10); // not moved
    EXPECT_EQ(at.y, 10);
    HRGN rgn = ::CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(::GetWindowRgn(m_button, rgn), SIMPLEREGION);
    ::DeleteObject(rgn);
}

TEST_F(WinButtonTest, ThePointerOnTheRightAndBottomEdgeHovers)
{
    ASSERT_EQ(m_object.Attach(m_button), 1);
    Send(WM_MOUSEMOVE, 38, 24);
    EXPECT_TRUE(m_object.Hovering());
    Send(WM_MOUSEMOVE, 39, 10);
    EXPECT_FALSE(m_object.Hovering());
    Send(WM_MOUSEMOVE, 0, 0);
    EXPECT_TRUE(m_object.Hovering());
    Send(WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(m_object.Hovering());
    Send(WM_MOUSEMOVE, 10, 25);
    EXPECT_FALSE(m_object.Hovering());
}

TEST_F(WinButtonTest, StatesShowTheirBitmapsAndFallBackToTheNormalOne)
{
    ASSERT_EQ(m_object.Attach(m_button), 1);
    ASSERT_EQ(m_object.SetBitmaps(Bitmap(RGB(200, 0, 0)), TRUE), 1);
    EXPECT_EQ(Face().Pixel(10, 10), RGB(200, 0, 0));

    // No hover bitmap yet: hovering shows the normal one.
    PointerOver();
    Send(WM_MOUSEMOVE, 5, 5);
    ASSERT_TRUE(m_object.Hovering());
    EXPECT_EQ(Face().Pixel(10, 10), RGB(200, 0, 0));

    m_object.m_hoverBitmap = Bitmap(RGB(0, 200, 0));
    m_object.m_pressedBitmap = Bitmap(RGB(0, 0, 200));
    EXPECT_EQ(Face().Pixel(10, 10), RGB(0, 200, 0));
    Send(WM_LBUTTONDOWN, 5, 5, MK_LBUTTON);
    EXPECT_TRUE(m_object.Pressed());
    EXPECT_EQ(Face().Pixel(10, 10), RGB(0, 0, 200)); // pressed wins over hover
    Send(WM_LBUTTONUP, 5, 5);
    EXPECT_FALSE(m_object.Pressed());
    EXPECT_EQ(g_clicks, 1);
    EXPECT_EQ(Face().Pixel(10, 10), RGB(0, 200, 0));
    ::SetCursorPos(5, 5);
    Send(WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(Face().Pixel(10, 10), RGB(200, 0, 0));
}

TEST_F(WinButtonTest, PressingAndReleasingOutsideKeepsThePressedFaceAndDoesNotClick)
{
    ASSERT_EQ(m_object.Attach(m_button), 1);
    ASSERT_EQ(m_object.SetBitmaps(Bitmap(RGB(200, 0, 0)), TRUE), 1);
    m_object.m_pressedBitmap = Bitmap(RGB(0, 0, 200));
    Send(WM_LBUTTONDOWN, 5, 5, MK_LBUTTON);
    Send(WM_MOUSEMOVE, 60, 60, MK_LBUTTON); // dragged out, the button has the capture
    EXPECT_FALSE(m_object.Hovering());
    EXPECT_TRUE(m_object.Pressed());
    EXPECT_EQ(Face().Pixel(10, 10), RGB(0, 0, 200));
    Send(WM_LBUTTONUP, 60, 60);
    EXPECT_FALSE(m_object.Pressed());
    EXPECT_EQ(Face().Pixel(10, 10), RGB(200, 0, 0));
    EXPECT_EQ(g_clicks, 0);
}

TEST_F(WinButtonTest, ACaptionIsDrawnOnlyWhenTheButtonHasText)
{
    ASSERT_EQ(m_object.Attach(m_button), 1);
    ASSERT_EQ(m_object.SetBitmaps(Bitmap(RGB(200, 0, 0), 38, 24), TRUE), 1);
    auto countDark = [](const ui::Image& face) {
        int n = 0;
        for (int y = 0; y < face.height; ++y)
            for (int x = 0; x < face.width; ++x)
                if (GetRValue(face.Pixel(x, y)) < 100)
                    ++n;
        return n;
    };
    EXPECT_EQ(countDark(Face()), 0);
    ::SetWindowTextA(m_button, "OK");
    EXPECT_GT(countDark(Face()), 5);
}

TEST_F(WinButtonTest, WithoutABitmapTheFaceIsAGradientInsideTheEdges)
{
    ASSERT_EQ(m_object.Attach(m_button), 1);
    ASSERT_EQ(::GetSystemMetrics(SM_CXEDGE), 2);
    ASSERT_EQ(::GetSystemMetrics(SM_CYEDGE), 2);
    ui::Image face = Face();
    ASSERT_EQ(face.width, 38);
    ASSERT_EQ(face.height, 24);
    // Rows 2 to 22 of columns 2 to 35: brush 0 on row 2, brush 63 on row 22.
    EXPECT_EQ(face.Pixel(10, 2), RGB(255, 255, 255));
    EXPECT_EQ(face.Pixel(10, 22), RGB(234, 234, 243));
    EXPECT_EQ(face.Pixel(35, 12), RGB(245, 245, 249)); // brush 31
    EXPECT_EQ(face.Pixel(2, 12), RGB(245, 245, 249));
    // Outside the inner rectangle: the white of the rounded border's face.
    EXPECT_EQ(face.Pixel(36, 12), RGB(255, 255, 255));
    EXPECT_EQ(face.Pixel(1, 12), RGB(255, 255, 255));

    // Hovering: the lighter gradient and the four coloured edges.
    PointerOver();
    Send(WM_MOUSEMOVE, 5, 5);
    ASSERT_TRUE(m_object.Hovering());
    face = Face();
    EXPECT_EQ(face.Pixel(18, 12), RGB(248, 248, 249)); // brush 31 while hovering
    bool bottomEdge = false;
    for (int y = 20; y < 24; ++y)
        bottomEdge |= face.Pixel(18, y) == RGB(229, 151, 0);
    EXPECT_TRUE(bottomEdge);
    bool leftEdge = false;
    for (int x = 0; x < 5; ++x)
        leftEdge |= face.Pixel(x, 12) == RGB(250, 196, 88);
    EXPECT_TRUE(leftEdge);
    ::SetCursorPos(5, 5);
}

} // namespace
