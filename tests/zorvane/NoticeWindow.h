#pragma once

#include <windows.h>

#include <vector>

// A message-only window that collects the notices a transfer posts to it.
class NoticeWindow {
public:
    struct Notice {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    NoticeWindow();
    ~NoticeWindow();
    NoticeWindow(const NoticeWindow&) = delete;
    NoticeWindow& operator=(const NoticeWindow&) = delete;

    HWND Handle() const { return m_hwnd; }

    // Pumps messages until a WM_TRANSFER_DONE has arrived; false on time-out.
    bool PumpUntilDone(DWORD timeoutMs);
    // Pumps what is queued now.
    void PumpPending();

    const std::vector<Notice>& Notices() const { return m_notices; }
    void ClearNotices() { m_notices.clear(); }
    std::vector<Notice> Progress() const;
    std::vector<Notice> Done() const;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hwnd = nullptr;
    std::vector<Notice> m_notices;
};
