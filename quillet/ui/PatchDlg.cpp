#include "PatchDlg.h"

#include <windowsx.h>

#include "SkinTable.h"
#include "UpdateRules.h"
#include "WinApp.h"
#include "resource.h"

CPatchDlg::CPatchDlg(CUpdater& updater, std::string launchParameter)
    : CDialog(IDD_PATCH),
      m_updater(updater),
      m_launchParameter(std::move(launchParameter)),
      m_panel(updater, SkinBitmaps()[SKIN_BAR_TRACK], SkinBitmaps()[SKIN_BAR_FILL])
{
    m_icon.Reset(static_cast<HICON>(
        ::LoadImageA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDI_PATCH), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
}

CPatchDlg::~CPatchDlg()
{
    m_closeButton.Detach();
}

void CPatchDlg::ForceClientSize()
{
    // The template's dialog units give 400 x 300 only with the font's metrics on
    // the system it was made for; the skin needs exactly that.
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    if (client.right == CLIENT_WIDTH && client.bottom == CLIENT_HEIGHT)
        return;
    RECT frame{0, 0, CLIENT_WIDTH, CLIENT_HEIGHT};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    ::SetWindowPos(m_hWnd, nullptr, work.left + (work.right - work.left - width) / 2,
                   work.top + (work.bottom - work.top - height) / 2, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CPatchDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    ForceClientSize();

    RECT window;
    ::GetWindowRect(m_hWnd, &window);
    ::SetWindowRgn(m_hWnd,
                   ::CreateRoundRectRgn(0, 0, window.right - window.left, window.bottom - window.top, 15, 15), TRUE);

    CSkinTable& skin = SkinBitmaps();
    skin.Load();

    HWND button = ::GetDlgItem(m_hWnd, IDOK);
    // A button that could not be attached stays a plain button, without the skin.
    if (m_closeButton.Attach(button) && m_closeButton.SetBitmaps(skin[SKIN_EXIT_NORMAL], TRUE)) {
        if (skin[SKIN_EXIT_HOVER])
            m_closeButton.m_hoverBitmap = skin[SKIN_EXIT_HOVER];
        if (skin[SKIN_EXIT_PRESSED])
            m_closeButton.m_pressedBitmap = skin[SKIN_EXIT_PRESSED];
    }
    if (button) {
        RECT rc;
        ::GetClientRect(button, &rc);
        ::SetWindowPos(button, nullptr, 370, 8, rc.right - rc.left, rc.bottom - rc.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }

    ::SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon.Get()));
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon.Get()));
    ::SetWindowTextA(m_hWnd, m_title.c_str());

    m_panel.InitPanel(UpdateFolderName(m_launchParameter));
    m_updater.LoadUpdateServers();
    // Published before the thread starts, so that its first repaint reaches us.
    m_updater.SetWindow(m_hWnd);
    m_updater.PickUpdateServer(1);
    return TRUE;
}

void CPatchDlg::OnDestroy()
{
    SkinBitmaps().Free();
}

bool CPatchDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_PAINT:
        OnPaint();
        result = 0;
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(m_icon.Get());
        return true;
    case WM_MOUSEMOVE:
        OnMouseMove(wParam, lParam);
        return false;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED) {
            OnCloseButton();
            result = 0;
            return true;
        }
        return false;
    default:
        return false;
    }
}

void CPatchDlg::OnPaint()
{
    CPaintDc paint(m_hWnd);
    HDC dc = paint.Get();
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    HBITMAP background = SkinBitmaps()[SKIN_BACKGROUND];
    if (background) {
        CMemoryDc source(::CreateCompatibleDC(dc));
        CSelectObject selected(source.Get(), background);
        ::BitBlt(dc, 0, 0, client.right, client.bottom, source.Get(), 0, 0, SRCCOPY);
    } else {
        // No background bitmap: a plain fill rather than an empty context's garbage.
        CBrushHandle brush(::CreateSolidBrush(BACKGROUND_FILL));
        ::FillRect(dc, &client, brush.Get());
    }
    m_panel.DrawPanel(dc);
}

void CPatchDlg::OnMouseMove(WPARAM wParam, LPARAM lParam)
{
    if (wParam & MK_LBUTTON)
        ::SendMessageA(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION,
                       MAKELPARAM(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)));
}

void CPatchDlg::OnCloseButton()
{
    OnOK();
}
