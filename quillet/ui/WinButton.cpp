#include "WinButton.h"

#include <windowsx.h>

#include <cstdio>

#include "ButtonRules.h"
#include "Handle.h"

namespace {

const char BUTTON_PROPERTY[] = "CWINBUTTON";

void Trace(const char* line)
{
    ::OutputDebugStringA(line);
}

// Saves a context's state and puts it back at the end of the scope.
class CSavedDc {
public:
    explicit CSavedDc(HDC dc) noexcept : m_dc(dc), m_saved(dc ? ::SaveDC(dc) : 0) {}
    ~CSavedDc()
    {
        if (m_saved)
            ::RestoreDC(m_dc, m_saved);
    }
    CSavedDc(const CSavedDc&) = delete;
    CSavedDc& operator=(const CSavedDc&) = delete;

private:
    HDC m_dc;
    int m_saved;
};

ButtonBox BoxOf(const RECT& r)
{
    return ButtonBox{r.left, r.top, r.right, r.bottom};
}

} // namespace

CWinButton::CWinButton()
{
    m_borderPen = ::CreatePen(PS_INSIDEFRAME, 1, RGB(255, 255, 255));
    m_leftPen = ::CreatePen(PS_INSIDEFRAME, 3, RGB(250, 196, 88));
    m_rightPen = ::CreatePen(PS_INSIDEFRAME, 3, RGB(251, 202, 106));
    m_topPen = ::CreatePen(PS_INSIDEFRAME, 2, RGB(252, 210, 121));
    m_bottomPen = ::CreatePen(PS_INSIDEFRAME, 2, RGB(229, 151, 0));
}

CWinButton::~CWinButton()
{
    Detach();
}

int CWinButton::Attach(HWND button)
{
    if (!::IsWindow(button))
        return 0;
    m_hWnd = button;
    m_parent = ::GetParent(button);
    if (!::SetPropA(button, BUTTON_PROPERTY, reinterpret_cast<HANDLE>(this))) {
        Trace("SetProp ERROR");
        m_hWnd = nullptr;
        return 0;
    }
    ::SetWindowLongPtrA(button, GWL_STYLE, ::GetWindowLongPtrA(button, GWL_STYLE) | BS_OWNERDRAW);
    RECT rc;
    if (::GetClientRect(button, &rc)) {
        HRGN region = ::CreateRoundRectRgn(rc.left, rc.top, rc.right, rc.bottom, 5, 5);
        if (region && !::SetWindowRgn(button, region, TRUE))
            ::DeleteObject(region);
    }
    m_previousProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWinButton::ButtonProc)));
    return 1;
}

int CWinButton::SetBitmaps(HBITMAP normal, BOOL resize)
{
    // Without a button (Attach failed) there is nothing to show it on: a null
    // window would make the invalidation below repaint the whole desktop.
    if (!normal || !m_hWnd)
        return 0;
    m_normalBitmap = normal;
    if (resize && ::GetObjectA(normal, sizeof m_normalInfo, &m_normalInfo))
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, m_normalInfo.bmWidth, m_normalInfo.bmHeight,
                       SWP_NOMOVE | SWP_NOOWNERZORDER | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT rc;
    if (::GetClientRect(m_hWnd, &rc)) {
        HRGN region = ::CreateRectRgn(rc.left, rc.top, rc.right, rc.bottom);
        // The window owns the region once it is set; one it refused is ours to free.
        if (region && !::SetWindowRgn(m_hWnd, region, TRUE))
            ::DeleteObject(region);
    }
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    m_hasBitmap = 1;
    return 1;
}

void CWinButton::Detach()
{
    // The window may already be gone: it restored its procedure on WM_NCDESTROY.
    if (m_hWnd && m_previousProc && ::IsWindow(m_hWnd))
        ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previousProc));
    m_previousProc = nullptr;
    FreeDrawingObjects();
    m_hover = 0;
}

void CWinButton::FreeDrawingObjects()
{
    auto free = [](auto& object) {
        if (object)
            ::DeleteObject(object);
        object = nullptr;
    };
    free(m_font);
    free(m_borderPen);
    free(m_leftPen);
    free(m_rightPen);
    free(m_topPen);
    free(m_bottomPen);
}

LRESULT CALLBACK CWinButton::ButtonProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWinButton* self = static_cast<CWinButton*>(::GetPropA(wnd, BUTTON_PROPERTY));
    if (!self || self->m_hWnd != wnd || !self->m_previousProc)
        return ::DefWindowProcA(wnd, message, wParam, lParam);
    return self->Handle(message, wParam, lParam);
}

LRESULT CWinButton::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    char line[64];
    switch (message) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEMOVE:
        OnMouseMove(lParam);
        break;
    case WM_MOUSELEAVE:
        m_hover = 0;
        Repaint();
        break;
    case WM_LBUTTONDOWN:
        m_pressed = 1;
        Repaint();
        break;
    case WM_LBUTTONUP:
        m_pressed = 0;
        Repaint();
        break;
    case WM_KILLFOCUS:
        Repaint();
        break;
    case WM_CHAR:
    case WM_CLOSE:
        Trace("WM_CHAR");
        break;
    case WM_DRAWITEM:
        Trace("WM_DRAWITEM");
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        std::snprintf(line, sizeof line, "wParam  is:%x Param is:%x", static_cast<unsigned>(wParam),
                      static_cast<unsigned>(lParam));
        Trace(line);
        if (wParam == VK_RETURN)
            Trace("Press Enter");
        Trace(message == WM_KEYDOWN ? "WM_KEYDOWN" : "WM_SYSKEYDOWN");
        break;
    case WM_NCDESTROY: {
        // The window goes before its owner detaches: give it back its procedure
        // now, so that nothing reaches this object through a dead handle.
        WNDPROC previous = m_previousProc;
        HWND wnd = m_hWnd;
        ::SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        m_previousProc = nullptr;
        m_hWnd = nullptr;
        return ::CallWindowProcA(previous, wnd, message, wParam, lParam);
    }
    default:
        break;
    }
    return ::CallWindowProcA(m_previousProc, m_hWnd, message, wParam, lParam);
}

void CWinButton::Repaint()
{
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CWinButton::OnMouseMove(LPARAM lParam)
{
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    if (InsideInclusive(BoxOf(rc), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam))) {
        m_hover = 1;
        Repaint();
        TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, m_hWnd, 0};
        ::TrackMouseEvent(&track);
    } else {
        m_hover = 0;
    }
}

void CWinButton::OnPaint()
{
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    CRegionHandle region(::CreateRectRgn(0, 0, 0, 0));
    {
        CSavedDc state(dc);
        // A window without a region of its own is drawn unclipped (an empty
        // region as the clip would hide the whole face).
        if (region && ::GetWindowRgn(m_hWnd, region.Get()) != ERROR) {
            if (::SelectClipRgn(dc, region.Get()) == ERROR)
                Trace("SelectClipRgn ERROR");
        }
        DrawFace(dc);
    }
    ::EndPaint(m_hWnd, &ps);
}

void CWinButton::DrawFace(HDC dc)
{
    ::SetBkMode(dc, TRANSPARENT);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;

    HDC image = ::CreateCompatibleDC(dc);
    if (!image)
        Trace("Create MemDc ERROR");
    HDC source = ::CreateCompatibleDC(dc);
    if (!source)
        Trace("Create MemDc ERROR");
    if (!image || !source) {
        if (image)
            ::DeleteDC(image);
        if (source)
            ::DeleteDC(source);
        return;
    }

    HBITMAP bitmap = ::CreateCompatibleBitmap(dc, width, height);
    {
        CSavedDc imageState(image);
        ::SetBkMode(image, TRANSPARENT);
        ::SelectObject(image, bitmap);
        if (m_hasBitmap) {
            HBITMAP shown = m_normalBitmap;
            switch (FaceFor(m_hover != 0, m_pressed != 0, m_hoverBitmap != nullptr, m_pressedBitmap != nullptr)) {
            case ButtonFace::Hover:
                shown = m_hoverBitmap;
                break;
            case ButtonFace::Pressed:
                shown = m_pressedBitmap;
                break;
            case ButtonFace::Normal:
                break;
            }
            CSelectObject selected(source, shown);
            ::BitBlt(image, 0, 0, width, height, source, 0, 0, SRCCOPY);
            DrawCaption(image, client, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
        } else {
            DrawGradientFace(image);
        }
        ::BitBlt(dc, 0, 0, width, height, image, 0, 0, SRCCOPY);
    }
    ::DeleteDC(source);
    if (!::DeleteDC(image))
        Trace("DeleteDC(hdcMem) ERROR");
    if (!bitmap || !::DeleteObject(bitmap))
        Trace("DeleteObject(bmp) ERROR");
}

void CWinButton::DrawCaption(HDC dc, RECT rect, UINT format)
{
    int n = ::GetWindowTextA(m_hWnd, m_caption, sizeof m_caption);
    if (n <= 0)
        return;
    ::SetTextColor(dc, m_textColour);
    CSelectObject font(dc, m_font);
    ::DrawTextA(dc, m_caption, n, &rect, format);
}

void CWinButton::DrawGradientFace(HDC dc)
{
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int edgeX = ::GetSystemMetrics(SM_CXEDGE);
    const int edgeY = ::GetSystemMetrics(SM_CYEDGE);
    {
        CSelectObject pen(dc, m_borderPen);
        ::RoundRect(dc, client.left, client.top, client.right, client.bottom, 5, 5);
    }
    const ButtonBox inner = InnerBox(BoxOf(client), edgeX, edgeY);
    const int innerHeight = inner.bottom - inner.top;

    CBrushHandle brushes[BUTTON_GRADIENT_BRUSHES];
    for (int i = 0; i < BUTTON_GRADIENT_BRUSHES; ++i) {
        ButtonRgb c = GradientColour(i, m_hover != 0);
        brushes[i].Reset(::CreateSolidBrush(RGB(c.red, c.green, c.blue)));
    }
    for (int y = inner.top; y <= inner.bottom; ++y) {
        RECT row{inner.left, y, inner.right, y + 1};
        ::FillRect(dc, &row, brushes[GradientBrushForRow(y, inner.top, innerHeight)].Get());
    }

    if (m_hover) {
        POINT previous;
        ::MoveToEx(dc, 0, 0, &previous);
        HGDIOBJ oldPen = ::SelectObject(dc, m_leftPen);
        ::MoveToEx(dc, inner.left, inner.bottom - 1, nullptr);
        ::LineTo(dc, inner.left, inner.top + 1);
        ::SelectObject(dc, m_rightPen);
        ::MoveToEx(dc, inner.right - 1, inner.bottom - 1, nullptr);
        ::LineTo(dc, inner.right - 1, inner.top);
        ::SelectObject(dc, m_topPen);
        ::MoveToEx(dc, inner.left - 1, inner.top, nullptr);
        ::LineTo(dc, inner.right - 1, inner.top);
        ::SelectObject(dc, m_bottomPen);
        ::MoveToEx(dc, inner.left, inner.bottom, nullptr);
        ::LineTo(dc, inner.right - 1, inner.bottom);
        ::SelectObject(dc, oldPen);
        ::MoveToEx(dc, previous.x, previous.y, nullptr);
    }

    if (m_pressed) {
        DrawCaption(dc, RECT{client.left + 2, client.top + 2, client.right, client.bottom},
                    DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    } else {
        DrawCaption(dc, RECT{inner.left, inner.top, inner.right, inner.bottom}, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    }
}
