#include "UpdateDlg.h"

#include <commctrl.h>

#include "CommandTail.h"
#include "WinApp.h"
#include "resource.h"

namespace {
// One per process: the tray animation goes on across windows.
std::uint32_t g_trayFrameCounter = 0;
} // namespace

CUpdateDlg::CUpdateDlg(std::wstring serverListAddress, std::wstring updateListAddress)
    : CDialog(IDD_UPDATE),
      m_serverListAddress(std::move(serverListAddress)),
      m_updateListAddress(std::move(updateListAddress))
{
    m_icon = ::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CUpdateDlg::~CUpdateDlg() = default;

BOOL CUpdateDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
    ::MoveWindow(m_hWnd, 0, 0, WINDOW_WIDTH, WINDOW_HEIGHT, TRUE);

    if (m_serverListAddress.empty()) {
        ::MessageBoxW(m_hWnd, TEXT_USAGE, TEXT_SYSTEM_CAPTION, MB_OK | MB_ICONERROR);
        ::PostQuitMessage(0);
        return TRUE;
    }

    if (!m_servers.Add(BUILTIN_SERVER_NAME, m_updateListAddress)) {
        ReportFault();
        return TRUE;
    }
    if (!m_trayIconAdded)
        AddTrayIcon();

    m_filePercent = 0;
    m_totalPercent = 0;
    m_rate = 0;

    HINSTANCE instance = AfxGetInstanceHandle();
    m_background.Reset(::LoadBitmapW(instance, MAKEINTRESOURCEW(IDB_BACKGROUND)));
    m_closeBox.Reset(::LoadBitmapW(instance, MAKEINTRESOURCEW(IDB_CLOSEBOX)));
    m_bar.Reset(::LoadBitmapW(instance, MAKEINTRESOURCEW(IDB_BAR)));
    m_font.Reset(::CreateFontW(14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, L"Arial"));

    ::SetTimer(m_hWnd, TIMER_SCHEDULE, TIMER_PERIOD_MS, nullptr);
    ::SetTimer(m_hWnd, TIMER_REPAINT, TIMER_PERIOD_MS, nullptr);
    m_lastProgressClock = 0;
    StartSession(m_serverListAddress);
    return TRUE;
}

void CUpdateDlg::AddTrayIcon()
{
    m_tray = NOTIFYICONDATAW{};
    m_tray.cbSize = NOTIFYICONDATAW_V1_SIZE;
    m_tray.hWnd = m_hWnd;
    m_tray.uID = 0;
    m_tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_tray.uCallbackMessage = WM_TRAY_NOTIFY;
    m_tray.hIcon = ::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDI_TRAY1));
    m_trayTip = TrayTipField(TEXT_TRAY_TIP);
    lstrcpynW(m_tray.szTip, m_trayTip.c_str(), 64);
    ::Shell_NotifyIconW(NIM_ADD, &m_tray);
    m_trayIconAdded = true;
}

void CUpdateDlg::OnDestroy()
{
    if (m_trayIconAdded) {
        ::Shell_NotifyIconW(NIM_DELETE, &m_tray);
        m_trayIconAdded = false;
    }
}

bool CUpdateDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_PAINT:
        OnPaint();
        result = 0;
        return true;
    case WM_PRINTCLIENT:
        // The same picture into a given context (screenshots, magnifiers).
        Paint(reinterpret_cast<HDC>(wParam));
        result = 0;
        return true;
    case WM_ERASEBKGND:
        result = 1; // painting covers the whole client area
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(m_icon);
        return true;
    case WM_TIMER:
        OnTimer(wParam);
        return false; // and the default handling
    case WM_TRANSFER_PROGRESS:
        result = OnTransferProgress(wParam, lParam);
        return true;
    case WM_TRANSFER_DONE:
        result = OnTransferDone(wParam, lParam);
        return true;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MINIMIZE) {
            result = 0; // the window cannot be minimised
            return true;
        }
        return false;
    case WM_LBUTTONDOWN:
        OnLButtonDown(lParam);
        return false;
    case WM_MOUSEMOVE:
        OnMouseMove(lParam);
        return false;
    case WM_LBUTTONUP:
        OnLButtonUp(lParam);
        return false;
    default:
        return false;
    }
}

void CUpdateDlg::OnTimer(UINT_PTR id)
{
    if (id == TIMER_REPAINT) {
        ::OutputDebugStringW(L"asdfasdf");
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
        ScheduleNext();
    } else if (id == TIMER_SCHEDULE) {
        ScheduleNext();
    }
}

void CUpdateDlg::OnPaint()
{
    CPaintDc paint(m_hWnd);
    m_lastPaintTick = ::GetTickCount();
    ::OutputDebugStringW(L"OnPaint");
    Paint(paint.Get());
}

void CUpdateDlg::Paint(HDC dc)
{
    CMemoryDc mem(::CreateCompatibleDC(dc));
    RECT client;
    ::GetClientRect(m_hWnd, &client);

    {
        CSelectObject select(mem.Get(), m_background.Get());
        ::BitBlt(dc, 0, 0, client.right, client.bottom, mem.Get(), 0, 0, SRCCOPY);
    }
    {
        CSelectObject select(mem.Get(), m_closeBox.Get());
        ::BitBlt(dc, CLOSE_X, CLOSE_Y, CLOSE_CELL_WIDTH, CLOSE_CELL_HEIGHT, mem.Get(),
                 m_mouse.look * CLOSE_CELL_WIDTH, 0, SRCCOPY);
    }
    {
        CSelectObject select(mem.Get(), m_bar.Get());
        int fileWidth = BarWidth(m_filePercent);
        if (fileWidth > 0)
            ::BitBlt(dc, FILE_BAR_X, FILE_BAR_Y, fileWidth, BAR_HEIGHT, mem.Get(), 0, 0, SRCCOPY);
        int totalWidth = BarWidth(m_totalPercent);
        if (totalWidth > 0)
            ::BitBlt(dc, TOTAL_BAR_X, TOTAL_BAR_Y, totalWidth, BAR_HEIGHT, mem.Get(), 0, 0, SRCCOPY);
    }

    CSelectObject font(dc, m_font.Get());
    int oldMode = ::SetBkMode(dc, TRANSPARENT);
    ::TextOutW(dc, STATUS_X, TEXT_Y, m_status.c_str(), static_cast<int>(m_status.size()));
    std::wstring rate = TextRate(m_rate);
    ::TextOutW(dc, RATE_X, TEXT_Y, rate.c_str(), static_cast<int>(rate.size()));
    std::wstring counter =
        TextCounter(m_filePercent, CurrentFileNumber(m_fileCount, m_tasks.Count()), m_fileCount);
    ::TextOutW(dc, COUNTER_X, TEXT_Y, counter.c_str(), static_cast<int>(counter.size()));
    ::SetBkMode(dc, oldMode);
}

// The cursor's client position when the message was made (signed 16-bit words).
POINT CUpdateDlg::CursorInClient(LPARAM lParam)
{
    POINT p;
    p.x = static_cast<short>(LOWORD(lParam));
    p.y = static_cast<short>(HIWORD(lParam));
    return p;
}

void CUpdateDlg::OnLButtonDown(LPARAM lParam)
{
    POINT p = CursorInClient(lParam);
    m_mouse.Press(p.x, p.y);
}

void CUpdateDlg::OnMouseMove(LPARAM lParam)
{
    POINT p = CursorInClient(lParam);
    if (m_mouse.Move(p.x, p.y))
        ::PostMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
}

void CUpdateDlg::OnLButtonUp(LPARAM lParam)
{
    POINT p = CursorInClient(lParam);
    if (!m_mouse.Release(p.x, p.y))
        return;
    // The drawn close button ends the program at once: no destructor runs, so
    // the list's temporary file goes now (a transfer writing it lets it go).
    m_tasks.ForEach([](CInetFile& task) { task.Cancel = true; });
    m_listFile.Delete();
    exit(0);
}

void CUpdateDlg::AnimateTray(const CInetFile* task)
{
    if (!m_trayIconAdded)
        return;
    static const UINT kFrames[3] = {IDI_TRAY1, IDI_TRAY2, IDI_TRAY3};
    int frame = NextTrayFrame(g_trayFrameCounter);
    // Every notice advances the animation, but the shell hears of it at most once
    // per repaint period: a call to the notification area costs more than a whole
    // block of a fast transfer, and nobody sees a thousand frames a second.
    DWORD now = ::GetTickCount();
    if (now - m_lastTrayTick >= TIMER_PERIOD_MS) {
        m_lastTrayTick = now;
        m_tray.uFlags = NIF_ICON;
        m_tray.hIcon = ::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(kFrames[frame]));
        ::Shell_NotifyIconW(NIM_MODIFY, &m_tray);
    }

    std::wstring tip = task && task->Kind == KIND_FILE
                           ? TextTrayTip(task->FileName, CurrentFileNumber(m_fileCount, m_tasks.Count()), m_fileCount)
                           : TrayTipField(TEXT_TRAY_TIP);
    if (TrayTipField(m_trayTip) != TrayTipField(tip)) {
        m_trayTip = TrayTipField(tip);
        lstrcpynW(m_tray.szTip, m_trayTip.c_str(), 64);
        m_tray.uFlags = NIF_TIP;
        ::Shell_NotifyIconW(NIM_MODIFY, &m_tray);
    }
}
