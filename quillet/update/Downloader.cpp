#include "Downloader.h"

#include <mmsystem.h>

#include <process.h>

#include <cstdio>

#include "CriticalSection.h"

namespace {

// Guards busy, the transfer's request and the thread hand-over between the
// transfer thread and the waiting caller.
CCriticalSection& TransferLock()
{
    static CCriticalSection lock;
    return lock;
}

constexpr DWORD kPollMs = 100;

} // namespace

CDownloader::~CDownloader()
{
    RequestCancel();
    AbortTransfer();
}

void CDownloader::RequestCancel()
{
    m_cancel = true;
    CloseRequest();
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
    // A transfer that is still registered is ended first (normally there is none).
    AbortTransfer();
    m_abort = false;
    if (m_cancel)
        return false;

    m_urlPath = urlPath;
    m_localPath = localPath;
    m_meter.Reset(Now());
    m_speed = 0;
    m_contentLength = 0;
    m_bytesReceived = 0;
    {
        CScopedLock lock(TransferLock());
        m_busy = true;
        m_result = true;
    }
    HANDLE thread = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, TransferEntry, this, 0, nullptr));
    if (!thread) {
        CScopedLock lock(TransferLock());
        m_busy = false;
        return false;
    }
    m_thread.Reset(thread);

    for (;;) {
        {
            CScopedLock lock(TransferLock());
            if (!m_busy)
                break;
        }
        ::Sleep(kPollMs);
    }
    // The thread has nothing left to do but return; join it.
    ::WaitForSingleObject(m_thread.Get(), INFINITE);
    m_thread.Reset();
    return m_result;
}

unsigned __stdcall CDownloader::TransferEntry(LPVOID parameter)
{
    CDownloader* self = static_cast<CDownloader*>(parameter);
    bool result = false;
    try {
        result = self->Transfer();
    } catch (...) {
        // Nothing may leave the thread; a failure is a failed transfer.
        result = false;
    }
    CScopedLock lock(TransferLock());
    self->m_result = result;
    self->m_busy = false;
    return 0;
}

bool CDownloader::RegisterRequest(HINTERNET request)
{
    CScopedLock lock(TransferLock());
    if (m_abort || m_cancel) {
        ::InternetCloseHandle(request);
        return false;
    }
    m_request = request;
    return true;
}

void CDownloader::CloseRequest()
{
    CScopedLock lock(TransferLock());
    if (m_request) {
        ::InternetCloseHandle(m_request);
        m_request = nullptr;
    }
}

void CDownloader::AbortTransfer()
{
    if (!m_thread)
        return;
    m_abort = true;
    CloseRequest();
    ::WaitForSingleObject(m_thread.Get(), INFINITE);
    m_thread.Reset();
    CScopedLock lock(TransferLock());
    m_busy = false;
}

bool CDownloader::Transfer()
{
    OnStatus(NOTIFY_FETCH_BEGIN, m_localPath.c_str());

    HINTERNET request = ::HttpOpenRequestA(m_connection, "GET", m_urlPath.c_str(), "HTTP/1.0", nullptr, nullptr,
                                           INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request || !RegisterRequest(request))
        return false;
    // From here the request is closed on every path, by us or by an abort.
    struct Closer {
        CDownloader* self;
        ~Closer() { self->CloseRequest(); }
    } closer{this};

    if (!::HttpSendRequestA(request, nullptr, 0, nullptr, 0) || Stopping())
        return false;

    char status[16] = {};
    DWORD size = sizeof status;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, status, &size, nullptr))
        return false;
    if (ParseDecimal(std::string_view(status, size)) != 200)
        return false;

    char length[32] = {};
    size = sizeof length;
    DWORD index = 0;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, length, &size, &index))
        return false;
    const std::uint64_t contentLength = ParseDecimal(std::string_view(length, size));
    m_contentLength = contentLength > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(contentLength);
    m_bytesReceived = 0;
    std::uint64_t local = 0;

    std::FILE* file = std::fopen(m_localPath.c_str(), "wb+");
    if (!file)
        return false;
    const auto now = [this] { return Now(); };
    for (;;) {
        DWORD n = 0;
        if (Stopping() || !::InternetReadFile(request, m_block, sizeof m_block, &n) || n == 0)
            break;
        // A write that fails (a full disk) fails the transfer: the file is not what was sent.
        if (std::fwrite(m_block, 1, n, file) != n) {
            std::fclose(file);
            return false;
        }
        local += n;
        m_bytesReceived = static_cast<std::uint32_t>(local);
        bool progressDue = m_meter.OnBlock(local, now);
        m_speed = m_meter.Speed();
        if (progressDue)
            OnProgress(NOTIFY_PROGRESS, TransferProgress(local, contentLength));
    }
    OnProgress(NOTIFY_PROGRESS, TransferProgress(local, contentLength));
    std::fclose(file);
    if (Stopping())
        return false;
    OnStatus(NOTIFY_FETCH_END, m_localPath.c_str());
    return true;
}
