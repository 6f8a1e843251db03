#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Handle.h"
#include "Internet.h"
#include "UpdateRules.h"

// Notification codes of the two hooks.
constexpr int NOTIFY_PROGRESS = 10;    // OnProgress: the current transfer's progress, 0..10000
constexpr int NOTIFY_FETCH_BEGIN = 11; // OnStatus: a transfer begins; text = local path
constexpr int NOTIFY_FETCH_END = 12;   // OnStatus: a transfer completed; text = local path
constexpr int NOTIFY_TEXT = 13;        // OnStatus: a status text of the update run

// The size of the blocks a body is copied in.
constexpr std::size_t TRANSFER_BLOCK = 10000;

struct TransferState;

// The internet session and the HTTP connection of one update run. Shared by the
// run and every transfer it starts, so that a transfer that was given up while
// blocked keeps its connection alive until it wakes; the last holder closes both.
struct CInternetLink {
    CInternetHandle session;
    CInternetHandle connection; // closed before the session
    ~CInternetLink() { connection.Reset(); }
};

// Fetches one URL path of the update server into one local file with an HTTP/1.0
// GET, on a transfer thread of its own for which the caller waits. The session
// and the connection are opened by the owner (the update run).
//
// A call into WinINet that waits for the network cannot always be woken (closing
// its request handle does not wake it everywhere), so nobody ever waits for a
// transfer thread that may be blocked. The transfer's state lives in a shared
// record; the fetching thread gives the transfer up (after RequestCancel, on a
// new fetch, in the destructor) by marking the record abandoned under the
// process-wide lock, which no thread holds across a call into a file or the
// network. From then on the transfer thread touches nothing of the owner: when it
// wakes it closes its own request and file and ends. Its request handle is
// closed by that thread alone, so that a handle value the system hands out again
// can never be read by a thread that was given up.
class CDownloader {
public:
    CDownloader() = default;
    // Gives up a transfer that is still running; does not wait for its thread.
    virtual ~CDownloader();
    CDownloader(const CDownloader&) = delete;
    CDownloader& operator=(const CDownloader&) = delete;

    // Both do nothing here. They are called on the transfer thread with the
    // process-wide transfer lock held, so that giving the transfer up can never
    // race a call in progress: an override must return promptly and must not wait
    // for the window's thread (no SendMessage, no lock the window holds while it
    // ends the updater). InvalidateRect and PostMessage are fine.
    virtual void OnProgress(int code, int value);
    virtual void OnStatus(int code, const char* text);

    // Blocking. True when the server answered 200 with a Content-Length, the whole
    // body arrived and replaced the local file. Every "\" of the URL path becomes
    // "/" before it is sent. The body grows in a part file of a name of its own
    // beside the local file and replaces it only once it is whole, by a rename in
    // that folder; on every failure the local file stays as it was. False as soon
    // as the transfer is given up (RequestCancel).
    bool FetchFile(std::string& urlPath, const std::string& localPath);
    // Whether the last FetchFile failed because the body ended before its
    // Content-Length (a connection that broke), which another try may mend.
    bool LastFetchWasCut() const noexcept { return m_lastFetchCut; }

    // Deletes the part files in folder ("" is the current one) that no transfer
    // writes any more: what remains of transfers given up when their process ended.
    static void RemoveStaleParts(const std::string& folder);

    // Counters of the current transfer, read by the progress panel.
    std::uint32_t ContentLength() const noexcept { return m_contentLength.load(std::memory_order_relaxed); }
    std::uint32_t Speed() const noexcept { return m_speed.load(std::memory_order_relaxed); }
    std::uint32_t BytesReceived() const noexcept { return m_bytesReceived.load(std::memory_order_relaxed); }

    // The connection that the next fetches use (none: they fail).
    void SetLink(std::shared_ptr<CInternetLink> link) noexcept { m_link = std::move(link); }
    HINTERNET Connection() const noexcept { return m_link ? m_link->connection.Get() : nullptr; }

    // From any thread, without waiting for anything: the fetching thread gives
    // the running transfer up as soon as it wakes (its FetchFile answers false),
    // and no further fetch starts until ClearCancel. No hook is called once that
    // FetchFile has returned.
    void RequestCancel();
    bool Cancelled() const noexcept { return m_cancel.load(); }
    void ClearCancel() noexcept;

protected:
    // The flag behind RequestCancel, for long steps of a subclass to watch.
    const std::atomic<bool>& CancelFlag() const noexcept { return m_cancel; }

    // The millisecond timer (timeGetTime); a test may replace it. Called on the
    // fetching thread and, under the transfer lock, on the transfer thread.
    virtual std::uint32_t Now() const;

private:
    friend struct TransferState;
    static unsigned __stdcall TransferEntry(void* state);
    // Detaches the registered transfer (if any) under the lock.
    void Abandon();

    std::shared_ptr<CInternetLink> m_link; // opened by the update run
    std::string m_urlPath;
    std::string m_localPath;
    bool m_lastFetchCut = false;
    // Under the process-wide lock: the running transfer and its thread.
    std::shared_ptr<TransferState> m_transfer;
    CKernelHandle m_thread;
    std::atomic<bool> m_cancel{false}; // sticky, from RequestCancel
    // Set with m_cancel, so that a fetch waiting for its transfer wakes at once.
    CKernelHandle m_wake{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<std::uint32_t> m_speed{0};
    std::atomic<std::uint32_t> m_contentLength{0};
    std::atomic<std::uint32_t> m_bytesReceived{0};
};
