#pragma once

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "CriticalSection.h"
#include "Dialog.h"
#include "Handle.h"
#include "ServerList.h"
#include "SessionRules.h"
#include "TaskQueue.h"
#include "UpdateList.h"

// The session window: a borderless 368 x 91 dialog drawn from three bitmaps,
// with a tray icon, that carries one update session from the update list to the
// start of the hall. Everything here runs on the user-interface thread; the
// transfers report by posted notices only.
class CUpdateDlg : public CDialog {
public:
    // serverListAddress comes from the command line (it may be empty: the window
    // then shows the usage and quits); updateListAddress is the built-in server's.
    CUpdateDlg(std::wstring serverListAddress, std::wstring updateListAddress);
    ~CUpdateDlg() override;

    // The session driver.
    void StartSession(const std::wstring& address);
    void StartUpdateListTransfer();
    CInetFile* NewTransfer(std::int32_t kind);
    void ScheduleNext();
    LRESULT OnTransferProgress(WPARAM wParam, LPARAM lParam);
    LRESULT OnTransferDone(WPARAM wParam, LPARAM lParam);
    // Takes the text as it is given (a move), so that setting it cannot fail.
    void SetStatus(std::wstring text);
    void LaunchHall();
    // Moves a finished download into place and runs or registers it; true when
    // it moved. setAside is where the driver put the file that was at the final
    // place (empty if none); it is restored when the move fails and removed when
    // it succeeds.
    bool InstallFile(CInetFile* task, const std::wstring& setAside = std::wstring());

    // What the window shows, for tests and painting.
    const std::wstring& Status() const { return m_status; }
    std::int32_t FilePercent() const { return m_filePercent; }
    std::int32_t TotalPercent() const { return m_totalPercent; }
    std::uint32_t FileCount() const { return m_fileCount; }
    std::uint32_t TotalLength() const { return m_totalLength; }
    std::int32_t Rate() const { return m_rate; }
    std::int16_t CloseButtonLook() const { return m_mouse.look; }
    bool TrayIconAdded() const { return m_trayIconAdded; }
    const std::wstring& TrayTip() const { return m_trayTip; }
    CTaskQueue& Tasks() { return m_tasks; }
    CServerList& Servers() { return m_servers; }

protected:
    BOOL OnInitDialog() override;
    void OnDestroy() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // A handler failed for want of memory or of a system resource: the user is
    // told once that the update is incomplete, and the session ends without the hall.
    void OnException(UINT message) noexcept override;

private:
    void OnPaint();
    void Paint(HDC dc);
    void OnTimer(UINT_PTR id);
    void OnLButtonDown(LPARAM lParam);
    void OnMouseMove(LPARAM lParam);
    void OnLButtonUp(LPARAM lParam);
    static POINT CursorInClient(LPARAM lParam);
    void AnimateTray(const CInetFile* task);
    void AddTrayIcon();
    void HandleServerList(CInetFile* task);
    void HandleUpdateList(CInetFile* task, std::uint32_t code);
    void HandleFile(CInetFile* task, std::uint32_t code);
    void PostQuit();
    void StartFailed(CInetFile* task);
    void EndIncomplete(const std::wstring& text);
    void ReportFault() noexcept;
    bool RunBeside(const std::function<void(const std::atomic<bool>& stop)>& work);

    std::wstring m_serverListAddress;
    std::wstring m_updateListAddress;

    // Session state.
    std::wstring m_status;
    std::int32_t m_filePercent = 0;
    std::int32_t m_totalPercent = 0;
    std::uint32_t m_fileCount = 0;
    std::uint32_t m_totalLength = 0;
    std::uint32_t m_totalReceived = 0;
    std::int32_t m_rate = 0;
    std::uint32_t m_lastProgressClock = 0;
    std::int32_t m_runningCount = 0;
    bool m_ending = false;  // a quit request was posted: no transfer starts any more
    bool m_faulted = false; // the user was told of a failure of memory or resources
    CRateMeter m_rateMeter;
    // The places (case folded) of listed files that were missing while set-aside
    // files of earlier runs lay beside them: those go once the file is in place.
    std::unordered_map<std::wstring, std::vector<std::wstring>> m_earlierSetAsides;
    CCriticalSection m_sessionLock;
    CServerList m_servers;
    CUpdateList m_updateList;
    // The update list's temporary file until it has been read: deleted however the
    // session ends. Declared before the queue, so deleted after its transfers stop.
    struct CListFile {
        std::wstring path;
        CListFile() = default;
        CListFile(const CListFile&) = delete;
        CListFile& operator=(const CListFile&) = delete;
        ~CListFile() { Delete(); }
        void Delete() noexcept;
    } m_listFile;
    CTaskQueue m_tasks;

    // Window state.
    HICON m_icon = nullptr; // shared resource icon, not destroyed
    MouseState m_mouse;
    CBitmapHandle m_background;
    CBitmapHandle m_closeBox;
    CBitmapHandle m_bar;
    CFontHandle m_font;
    bool m_trayIconAdded = false;
    NOTIFYICONDATAW m_tray{};
    std::wstring m_trayTip;
    DWORD m_lastTrayTick = 0;  // when the shell was last told a tray frame
    DWORD m_lastPaintTick = 0; // when the window was last painted
};
