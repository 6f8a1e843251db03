#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "CriticalSection.h"
#include "Downloader.h"
#include "FileList.h"
#include "Handle.h"
#include "StatusLine.h"
#include "UpdateServerList.h"

// The one update of the game-center updater: picks an update server, runs the
// update on a thread of its own and keeps the values that the window's progress
// panel shows. The window publishes its handle (SetWindow) before it calls
// PickUpdateServer; the thread touches the window only by invalidating parts of
// it and, at the end of every run, by posting the OK command.
class CUpdater : public CDownloader {
public:
    CUpdater();
    // Ends an update thread that still runs (see StopUpdateThread).
    ~CUpdater() override;

    // Chooses a server of that kind with the process's generator, ends a previous
    // update thread and starts a new one. False when no server qualifies.
    bool PickUpdateServer(std::int32_t kind);
    // The choice with a given draw (0..32767) instead of the generator.
    bool PickUpdateServerWith(std::int32_t kind, int draw);

    // Reads updatelist.ini from the current directory (the program folder).
    void LoadUpdateServers();
    void SetUpdateServers(std::vector<UpdateServer> servers) { m_servers = std::move(servers); }
    const std::vector<UpdateServer>& UpdateServers() const noexcept { return m_servers; }

    void SetFolder(const std::string& folder) { m_folder = folder; }
    const std::string& Folder() const noexcept { return m_folder; }
    void SetWindow(HWND window) noexcept { m_window = window; }
    HWND Window() const noexcept { return m_window; }
    // The folder against which the file list is held, with a trailing "\"; the
    // program's own folder unless set.
    void SetProgramFolder(const std::string& folder) { m_programFolder = folder; }

    const std::string& Host() const noexcept { return m_host; }
    std::uint16_t Port() const noexcept { return m_port; }

    // The panel values. Single words, written by the update and transfer threads
    // and read by the painting without a lock.
    std::int32_t FileProgress() const noexcept { return m_fileProgress.load(std::memory_order_relaxed); }
    std::int32_t OverallProgress() const noexcept { return m_overallProgress.load(std::memory_order_relaxed); }
    std::int32_t EntryCount() const noexcept { return m_entryCount.load(std::memory_order_relaxed); }
    std::int32_t EntryIndex() const noexcept { return m_entryIndex.load(std::memory_order_relaxed); }
    // A whole copy of the status line (see CStatusLine).
    std::string StatusText() const;

    // Set by the run; read after the posted OK command has ended the dialog.
    bool UpdateSucceeded() const noexcept { return m_updateSucceeded.load(); }
    bool SelfUpdated() const noexcept { return m_selfUpdated.load(); }
    // The download list of the last run.
    std::vector<FileEntry> DownloadList() const;

    // True while an update thread exists that has not been joined.
    bool HasUpdateThread() const noexcept { return static_cast<bool>(m_updateThread); }
    // Waits for the update thread to end by itself (for callers that know it will).
    bool WaitUpdateThread(DWORD timeoutMs);
    // Asks the thread to stop and waits for it, at most waitMs; asking waits for
    // nothing, so the timed wait always comes. A running transfer is given up at
    // once (its thread may stay blocked in the network or a file; it touches
    // nothing of ours), and every long step of the run (reading the list, summing
    // the local files, comparing) watches the request, so the thread ends within
    // one poll or one block of a file. The stopped run posts nothing and writes no
    // flag. False when the thread still runs after the wait (it is then still
    // asked to stop, and the handle is kept).
    bool StopUpdateThread(DWORD waitMs = INFINITE);

    // The notifications: code 10 stores the file progress and the overall
    // progress; codes 11 to 13 replace the status line. Codes 10 to 12 arrive on
    // the transfer thread with the transfer lock held (see CDownloader), code 13
    // on the update thread: an override may store values and invalidate parts of
    // the window, but must never wait for the window's thread.
    void OnProgress(int code, int value) override;
    void OnStatus(int code, const char* text) override;

    // Rectangles of the window that show each value (left, top, width, height).
    struct Area {
        int left, top, width, height;
    };
    static constexpr Area AREA_STATUS{40, 215, 500, 13};
    static constexpr Area AREA_FILE_BAR{40, 230, 500, 10};
    static constexpr Area AREA_OVERALL_BAR{40, 247, 500, 10};
    static constexpr Area AREA_STATISTICS{40, 277, 300, 13};
    static constexpr Area AREA_COMPLETION{110, 200, 200, 13};
    static constexpr Area AREA_COMPLETION_NOTHING{132, 400, 200, 13};

protected:
    // Marks an area of the window for repainting (with its background).
    virtual void Invalidate(const Area& area);

private:
    static unsigned __stdcall UpdateEntry(void* self);
    void ThreadMain();
    bool RunUpdate();
    void Notify(const char* text) { OnStatus(NOTIFY_TEXT, text); }
    void HandleEntry(const FileEntry& entry);
    void MakeDirectoryPath(const std::string& path);
    void Pause(DWORD ms);
    bool Fetch(const EntryTarget& target);
    void RemoveStalePartsBeside(const std::vector<FileEntry>& remote);

    std::string m_folder;
    std::string m_host;
    std::uint16_t m_port = 0;
    std::vector<UpdateServer> m_servers;
    std::string m_programFolder;
    HWND m_window = nullptr;

    CStatusLine m_status;
    std::atomic<std::int32_t> m_fileProgress{10000};
    std::atomic<std::int32_t> m_overallProgress{10000};
    std::atomic<std::int32_t> m_entryCount{0};
    std::atomic<std::int32_t> m_entryIndex{0};

    std::atomic<bool> m_updateSucceeded{false};
    std::atomic<bool> m_selfUpdated{false};
    mutable CCriticalSection m_listLock;
    std::vector<FileEntry> m_downloadList;
    CKernelHandle m_updateThread;
};
