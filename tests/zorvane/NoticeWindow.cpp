#include "NoticeWindow.h"

#include "TransferTypes.h"

NoticeWindow::NoticeWindow()
{
    static const wchar_t* kClass = L"VexaTestNoticeWindow";
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    ::RegisterClassW(&wc);
    m_hwnd = ::CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ::SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

NoticeWindow::~NoticeWindow()
{
    ::DestroyWindow(m_hwnd);
}

LRESULT CALLBACK NoticeWindow::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<NoticeWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && (message == WM_TRANSFER_PROGRESS || message == WM_TRANSFER_DONE)) {
        self->m_notices.push_back({message, wParam, lParam});
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

bool NoticeWindow::PumpUntilDone(DWORD timeoutMs)
{
    DWORD start = ::GetTickCount();
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
            if (msg.message == WM_TRANSFER_DONE && msg.hwnd == m_hwnd)
                return true;
        }
        if (::GetTickCount() - start >= timeoutMs)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void NoticeWindow::PumpPending()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

std::vector<NoticeWindow::Notice> NoticeWindow::Progress() const
{
    std::vector<Notice> out;
    for (const Notice& n : m_notices)
        if (n.message == WM_TRANSFER_PROGRESS)
            out.push_back(n);
    return out;
}

std::vector<NoticeWindow::Notice> NoticeWindow::Done() const
{
    std::vector<Notice> out;
    for (const Notice& n : m_notices)
        if (n.message == WM_TRANSFER_DONE)
            out.push_back(n);
    return out;
}
