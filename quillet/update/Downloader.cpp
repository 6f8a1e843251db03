#include "Downloader.h"

#include <mmsystem.h>

#include <process.h>

#include <cstdio>
#include <vector>

#include "CriticalSection.h"

namespace {

// Guards busy, the transfer thread, the owner link of every transfer and the
// hook calls. Never destroyed: a transfer thread that was given up may still wake
// while the process runs its exit handlers, and it takes this lock first.
CCriticalSection& TransferLock()
{
    static CCriticalSection* lock = new CCriticalSection;
    return *lock;
}

constexpr DWORD kPollMs = 100;
// What a download is called while it is not yet whole, and the longest path the
// ANSI file functions take.
const char kPartSuffix[] = ".part";
constexpr std::size_t kLongestPath = MAX_PATH - 1;
// How often and how far apart a file in use is tried again.
constexpr int kMoveAttempts = 40;
constexpr DWORD kMoveRetryMs = 50;

} // namespace

// One transfer, shared by the owner and its transfer thread. Everything but the
// block and the request's use in a blocking call is read and written under the
// transfer lock.
struct TransferState {
    CDownloader* owner = nullptr; // null once the owner has given the transfer up
    std::shared_ptr<CInternetLink> link; // keeps the connection open for the request
    std::string urlPath;
    std::string localPath;
    HINTERNET request = nullptr; // opened and closed by the transfer thread
    bool busy = true;
    // Set when busy is cleared, so that the caller's poll returns at once.
    CKernelHandle ended{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    bool result = false;
    CTransferMeter meter;
    std::vector<char> block = std::vector<char>(TRANSFER_BLOCK);

    void CloseRequest()
    {
        if (request) {
            ::InternetCloseHandle(request);
            request = nullptr;
        }
    }

    bool Run();
};

CDownloader::~CDownloader()
{
    Abandon();
}

void CDownloader::RequestCancel()
{
    m_cancel = true;
    Abandon();
}

void CDownloader::Abandon()
{
    CScopedLock lock(TransferLock());
    if (m_transfer) {
        m_transfer->owner = nullptr;
        m_transfer.reset();
    }
    // Closing our handle to the thread neither ends nor waits for it.
    m_thread.Reset();
}

void CDownloader::OnProgress(int, int)
{
}

void CDownloader::OnStatus(int, const char*)
{
}

std::uint32_t CDownloader::Now() const
{
    return ::timeGetTime();
}

bool CDownloader::FetchFile(std::string& urlPath, const std::string& localPath)
{
    for (char& c : urlPath)
        if (c == '\\')
            c = '/';
    m_urlPath = urlPath;
    m_localPath = localPath;
    m_speed = 0;
    m_contentLength = 0;
    m_bytesReceived = 0;

    // A transfer that is still registered is given up first (normally there is none).
    Abandon();
    if (m_cancel)
        return false;

    auto state = std::make_shared<TransferState>();
    state->owner = this;
    state->link = m_link;
    state->urlPath = m_urlPath;
    state->localPath = m_localPath;
    state->meter.Reset(Now());
    {
        CScopedLock lock(TransferLock());
        // A cancel from another thread since the check above.
        if (m_cancel)
            return false;
        m_transfer = state;
        // The thread's own reference; it drops it when it ends.
        auto* ref = new std::shared_ptr<TransferState>(state);
        HANDLE thread = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, TransferEntry, ref, 0, nullptr));
        if (!thread) {
            delete ref;
            m_transfer.reset();
            return false;
        }
        m_thread.Reset(thread);
    }

    CKernelHandle finished;
    bool result = false;
    for (;;) {
        {
            CScopedLock lock(TransferLock());
            if (!state->owner)
                return false; // given up meanwhile; the thread is on its own
            if (!state->busy) {
                result = state->result;
                m_transfer.reset();
                finished = std::move(m_thread);
                break;
            }
        }
        // Polled every kPollMs; the end of the transfer cuts the wait short, so
        // that a run of many small files does not wait a poll for each.
        if (state->ended)
            ::WaitForSingleObject(state->ended.Get(), kPollMs);
        else
            ::Sleep(kPollMs);
    }
    // The thread has nothing left to do but return.
    if (finished)
        ::WaitForSingleObject(finished.Get(), INFINITE);
    return result;
}

unsigned __stdcall CDownloader::TransferEntry(void* parameter)
{
    std::shared_ptr<TransferState> state = std::move(*static_cast<std::shared_ptr<TransferState>*>(parameter));
    delete static_cast<std::shared_ptr<TransferState>*>(parameter);
    bool result = false;
    try {
        result = state->Run();
    } catch (...) {
        // Nothing may leave the thread; a failure is a failed transfer.
        result = false;
    }
    state->CloseRequest();
    CScopedLock lock(TransferLock());
    state->result = result;
    state->busy = false;
    if (state->ended)
        ::SetEvent(state->ended.Get());
    return 0;
}

bool TransferState::Run()
{
    CCriticalSection& cs = TransferLock();
    // Each step that reaches the owner (a hook, its counters, its clock) or that
    // must not happen for an abandoned transfer (opening the request, creating or
    // writing the file) runs under the lock and first checks the owner link.
    {
        CScopedLock lock(cs);
        if (!owner)
            return false;
        owner->OnStatus(NOTIFY_FETCH_BEGIN, localPath.c_str());
        if (!owner || !link)
            return false;
        request = ::HttpOpenRequestA(link->connection.Get(), "GET", urlPath.c_str(), "HTTP/1.0", nullptr, nullptr,
                                     INTERNET_FLAG_NO_CACHE_WRITE, 0);
        if (!request)
            return false;
    }
    HINTERNET h = request;

    if (!::HttpSendRequestA(h, nullptr, 0, nullptr, 0))
        return false;

    char status[16] = {};
    DWORD size = sizeof status;
    if (!::HttpQueryInfoA(h, HTTP_QUERY_STATUS_CODE, status, &size, nullptr))
        return false;
    if (ParseDecimal(std::string_view(status, size)) != 200)
        return false;

    char length[32] = {};
    size = sizeof length;
    DWORD index = 0;
    if (!::HttpQueryInfoA(h, HTTP_QUERY_CONTENT_LENGTH, length, &size, &index))
        return false;
    const std::uint64_t contentLength = ParseDecimal(std::string_view(length, size));

    // The body goes to a file beside the target and replaces it only once it is
    // whole. A path too long for that name is written in place, as before.
    std::string writePath = localPath + kPartSuffix;
    if (writePath.size() > kLongestPath)
        writePath = localPath;

    std::FILE* file = nullptr;
    {
        CScopedLock lock(cs);
        if (!owner)
            return false;
        owner->m_contentLength = contentLength > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(contentLength);
        owner->m_bytesReceived = 0;
        file = std::fopen(writePath.c_str(), "wb+");
        if (!file)
            return false;
    }
    // Until the body is complete and moved into place the written file is only a
    // part: on every failure it is closed and removed, and the file it was to
    // replace stays as it was.
    struct PartFile {
        std::FILE*& f;
        const std::string& path;
        bool inPlace;
        bool done = false;
        ~PartFile()
        {
            if (f)
                std::fclose(f);
            if (!done && !inPlace)
                ::DeleteFileA(path.c_str());
        }
    } part{file, writePath, writePath == localPath};

    std::uint64_t local = 0;
    for (;;) {
        DWORD n = 0;
        if (!::InternetReadFile(h, block.data(), static_cast<DWORD>(block.size()), &n) || n == 0)
            break;
        CScopedLock lock(cs);
        if (!owner)
            return false;
        // A write that fails (a full disk) fails the transfer: the file is not what was sent.
        if (std::fwrite(block.data(), 1, n, file) != n)
            return false;
        local += n;
        owner->m_bytesReceived = static_cast<std::uint32_t>(local);
        const CDownloader* clock = owner;
        bool progressDue = meter.OnBlock(local, [clock] { return clock->Now(); });
        owner->m_speed = meter.Speed();
        if (progressDue)
            owner->OnProgress(NOTIFY_PROGRESS, TransferProgress(local, contentLength));
    }
    {
        CScopedLock lock(cs);
        if (!owner)
            return false;
        owner->OnProgress(NOTIFY_PROGRESS, TransferProgress(local, contentLength));
    }
    const bool flushed = std::fclose(file) == 0;
    file = nullptr;
    // A body that ends before its Content-Length was cut short.
    if (!flushed || local < contentLength)
        return false;
    // A program that has only just ended (the launcher this copy was started by,
    // when the copy updates the updater) may hold its file for a moment: a file in
    // use is tried again for a while before the fetch fails.
    for (int attempt = 0;; ++attempt) {
        {
            CScopedLock lock(cs);
            if (!owner)
                return false;
            if (writePath == localPath ||
                ::MoveFileExA(writePath.c_str(), localPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
                part.done = true;
                owner->OnStatus(NOTIFY_FETCH_END, localPath.c_str());
                return true;
            }
        }
        const DWORD error = ::GetLastError();
        if (attempt == kMoveAttempts || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
            return false;
        ::Sleep(kMoveRetryMs);
    }
}
