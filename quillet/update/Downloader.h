#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "Handle.h"
#include "Internet.h"
#include "UpdateRules.h"

// Notification codes of the two hooks.
constexpr int NOTIFY_PROGRESS = 10;    // OnProgress: the current transfer's progress, 0..10000
constexpr int NOTIFY_FETCH_BEGIN = 11; // OnStatus: a transfer begins; text = local path
constexpr int NOTIFY_FETCH_END = 12;   // OnStatus: a transfer completed; text = local path
constexpr int NOTIFY_TEXT = 13;        // OnStatus: a status text of the update run

// Fetches one URL path of the update server into one local file with an HTTP/1.0
// GET, on a transfer thread of its own for which the caller waits. The session
// and the connection are opened by the owner (the update run).
class CDownloader {
public:
    CDownloader() = default;
    // Ends a transfer that is still running (see AbortTransfer).
    virtual ~CDownloader();
    CDownloader(const CDownloader&) = delete;
    CDownloader& operator=(const CDownloader&) = delete;

    // Called on the transfer thread; both do nothing here.
    virtual void OnProgress(int code, int value);
    virtual void OnStatus(int code, const char* text);

    // Blocking. True when the server answered 200 with a Content-Length, the local
    // file was created and the body was read to its end (or until the connection
    // broke). Every "\" of the URL path becomes "/" before it is sent. An existing
    // local file is only touched once status and length have been accepted.
    bool FetchFile(std::string& urlPath, const std::string& localPath);

    // Counters of the current transfer, read by the progress panel.
    std::uint32_t ContentLength() const noexcept { return m_contentLength.load(std::memory_order_relaxed); }
    std::uint32_t Speed() const noexcept { return m_speed.load(std::memory_order_relaxed); }
    std::uint32_t BytesReceived() const noexcept { return m_bytesReceived.load(std::memory_order_relaxed); }

    void SetConnection(HINTERNET connection) noexcept { m_connection = connection; }
    HINTERNET Connection() const noexcept { return m_connection; }

    // From any thread: the running transfer stops after its current block (or at
    // once when it waits in WinINet, since its request handle is closed), and no
    // further fetch starts until ClearCancel. Does not wait.
    void RequestCancel();
    bool Cancelled() const noexcept { return m_cancel.load(); }
    void ClearCancel() noexcept { m_cancel = false; }

protected:
    // On the thread that fetches (or the destructor): ends a transfer thread that
    // is still registered and joins it. The transfer is told to stop and its
    // request handle is closed; nothing is killed.
    void AbortTransfer();

    // The millisecond timer; a test build may replace it.
    virtual std::uint32_t Now() const;

private:
    static unsigned __stdcall TransferEntry(void* self);
    bool Transfer();
    // The request of the running transfer: registered under the lock, so that an
    // abort can close it; false when an abort came first (the request is closed then).
    bool RegisterRequest(HINTERNET request);
    void CloseRequest();
    bool Stopping() const noexcept { return m_abort || m_cancel; }

    HINTERNET m_connection = nullptr; // owned by the update run
    std::string m_urlPath;
    std::string m_localPath;
    CKernelHandle m_thread;            // the transfer thread, until it is joined
    bool m_busy = false;               // under the process-wide lock
    bool m_result = false;
    HINTERNET m_request = nullptr;     // under the process-wide lock
    std::atomic<bool> m_abort{false};  // this transfer only
    std::atomic<bool> m_cancel{false}; // sticky, from RequestCancel
    CTransferMeter m_meter;
    std::atomic<std::uint32_t> m_speed{0};
    std::atomic<std::uint32_t> m_contentLength{0};
    std::atomic<std::uint32_t> m_bytesReceived{0};
    char m_block[10000];
};
