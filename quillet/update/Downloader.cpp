#include "Downloader.h"

#include <mmsystem.h>

#include <process.h>

#include <cctype>
#include <cstdio>
#include <string_view>
#include <vector>

#include "CodePageText.h"
#include "CriticalSection.h"
#include "SystemCodePage.h"

namespace {

// Guards busy, the transfer thread, the owner link of every transfer and the
// hook calls; never held across a call into a file or the network. Never
// destroyed: a transfer thread that was given up may still wake while the
// process runs its exit handlers, and it takes this lock first.
CCriticalSection& TransferLock()
{
    static CCriticalSection* lock = new CCriticalSection;
    return *lock;
}

constexpr DWORD kPollMs = 100;
// How often and how far apart a file in use is tried again.
constexpr int kMoveAttempts = 40;
constexpr DWORD kMoveRetryMs = 50;
// How many names a new part file is tried under before the fetch fails.
constexpr int kPartNameAttempts = 64;

// Part files are named "~<process>-<number>.part", in hexadecimal; near the
// platform's path limit each number keeps only its low digits.
const char kPartPattern[] = "~*.part";
constexpr std::size_t kPartNameFixed = 7; // "~", "-" and ".part"
// A part not written for this long is no running transfer's (one just closed is
// about to be moved into place by its own run).
constexpr ULONGLONG kStalePartAge = 60ull * 10000000ull; // 60 s in FILETIME units

bool IsPartName(std::string_view name)
{
    constexpr std::string_view suffix = ".part";
    if (name.size() <= 1 + suffix.size() || name.front() != '~' ||
        name.substr(name.size() - suffix.size()) != suffix)
        return false;
    std::string_view middle = name.substr(1, name.size() - 1 - suffix.size());
    const std::size_t dash = middle.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == middle.size())
        return false;
    for (std::size_t i = 0; i < middle.size(); ++i)
        if (i != dash && !std::isxdigit(static_cast<unsigned char>(middle[i])))
            return false;
    return true;
}

std::string WithSeparator(const std::string& folder)
{
    std::string prefix = folder;
    if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/')
        prefix.push_back('\\');
    return prefix;
}

// The folder of a local path, with its separator; "" for a bare name.
std::string FolderOf(const std::string& path)
{
    const std::size_t separator = FindLastSeparator(path, true, SystemLeadBytes());
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// Creates a file of a name of its own in folder ("" is the current one) for a body
// to grow in: never an existing file, so that nothing a list names or the user
// keeps is written over or moved away. The handle and its path, or an invalid
// handle when none could be made.
HANDLE CreatePartFile(const std::string& folder, std::string& path)
{
    static std::atomic<std::uint32_t> counter{::GetTickCount()};
    const std::string prefix = WithSeparator(folder);
    // The part's path must fit wherever the target's does: the digits a name of
    // the whole path's limit leaves in this folder, at least one per number.
    char full[2 * MAX_PATH];
    const DWORD fullLength = ::GetFullPathNameA(prefix.empty() ? ".\\" : prefix.c_str(), sizeof full, full, nullptr);
    const std::size_t room = fullLength > 0 && fullLength + kPartNameFixed + 2 < MAX_PATH
                                 ? MAX_PATH - 1 - fullLength - kPartNameFixed
                                 : 2;
    const auto lowDigits = [](std::uint32_t value, std::size_t digits) {
        char text[12];
        const int n = std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(value));
        return std::string(text + (static_cast<std::size_t>(n) > digits ? n - digits : 0));
    };
    for (int attempt = 0; attempt < kPartNameAttempts; ++attempt) {
        const std::string process = lowDigits(::GetCurrentProcessId(), room / 2);
        const std::string name = "~" + process + "-" + lowDigits(counter++, room - process.size()) + ".part";
        path = prefix + name;
        HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    path.clear();
    return INVALID_HANDLE_VALUE;
}

// Whether a move refused with this error may succeed a moment later. A file in use
// may (a program that is just ending holds its file): the platform answers a
// sharing violation, or access denied (for a running program's image on Windows,
// for any file held open under Wine). A folder or a read-only file where the file
// goes refuses for good.
bool MoveMayWork(DWORD error, const std::string& target)
{
    if (error == ERROR_SHARING_VIOLATION)
        return true;
    if (error != ERROR_ACCESS_DENIED)
        return false;
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

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
    bool cut = false; // the body ended before its Content-Length
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
    // The flag and a wake-up, nothing that waits (not even for the transfer lock,
    // which a transfer thread may hold while a hook runs): whoever stops the run
    // goes on at once to its timed wait. The fetching thread gives its transfer
    // up as soon as it wakes.
    m_cancel = true;
    ::SetEvent(m_wake.Get());
}

void CDownloader::ClearCancel() noexcept
{
    m_cancel = false;
    ::ResetEvent(m_wake.Get());
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

void CDownloader::RemoveStaleParts(const std::string& folder)
{
    const std::string prefix = WithSeparator(folder);
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((prefix + kPartPattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const ULONGLONG nowTicks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    do {
        const ULONGLONG written =
            (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsPartName(data.cFileName) &&
            written + kStalePartAge < nowTicks)
            ::DeleteFileA((prefix + data.cFileName).c_str()); // one still open is refused: it is in use
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
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
    m_lastFetchCut = false;

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
        if (m_cancel) {
            Abandon();
            return false;
        }
        {
            CScopedLock lock(TransferLock());
            if (!state->owner)
                return false; // given up meanwhile; the thread is on its own
            if (!state->busy) {
                result = state->result;
                m_lastFetchCut = !result && state->cut;
                m_transfer.reset();
                finished = std::move(m_thread);
                break;
            }
        }
        // Polled every kPollMs; the end of the transfer or a stop request cuts the
        // wait short, so that a run of many small files does not wait a poll for each.
        const HANDLE wake[2] = {m_wake.Get(), state->ended.Get()};
        if (wake[0] && wake[1])
            ::WaitForMultipleObjects(2, wake, FALSE, kPollMs);
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
    // Each step that reaches the owner (a hook, its counters, its clock) runs under
    // the lock and first checks the owner link. Calls into the network and the
    // file system run without it: one that blocks (a dropped share, a removed
    // disk) must never keep the owner from giving the transfer up. What they touch
    // is this transfer's own (its request, its part file), and the connection is
    // kept open by the link it holds.
    {
        CScopedLock lock(cs);
        if (!owner)
            return false;
        owner->OnStatus(NOTIFY_FETCH_BEGIN, localPath.c_str());
        if (!owner || !link)
            return false;
    }
    request = ::HttpOpenRequestA(link->connection.Get(), "GET", urlPath.c_str(), "HTTP/1.0", nullptr, nullptr,
                                 INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request)
        return false;
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

    // The body grows in a part file of its own beside the target and replaces
    // the target only once it is whole, by a rename within that folder (never a
    // copy over the installed file, which a full disk or a kill would leave cut
    // short): on every failure the part is removed, and the file it was to
    // replace stays as it was.
    struct PartFile {
        CKernelHandle handle;
        std::string path;
        bool done = false;
        ~PartFile()
        {
            handle.Reset();
            if (!done && !path.empty())
                ::DeleteFileA(path.c_str());
        }
    } part;
    {
        CScopedLock lock(cs);
        if (!owner)
            return false;
        owner->m_contentLength = contentLength > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(contentLength);
        owner->m_bytesReceived = 0;
    }
    HANDLE file = CreatePartFile(FolderOf(localPath), part.path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    part.handle.Reset(file);

    std::uint64_t local = 0;
    for (;;) {
        DWORD n = 0;
        if (!::InternetReadFile(h, block.data(), static_cast<DWORD>(block.size()), &n) || n == 0)
            break;
        // A write that fails (a full disk) fails the transfer: the file is not what was sent.
        DWORD written = 0;
        if (!::WriteFile(part.handle.Get(), block.data(), n, &written, nullptr) || written != n)
            return false;
        local += n;
        CScopedLock lock(cs);
        if (!owner)
            return false;
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
    // Closed before the move; a close that fails leaves a file that is not what was sent.
    if (!::CloseHandle(part.handle.Release()))
        return false;
    // A body that ends before its Content-Length was cut short; the caller may try again.
    if (local < contentLength) {
        cut = true;
        return false;
    }
    // A program that has only just ended (the launcher this copy was started by,
    // when the copy updates the updater) may hold its file for a moment: a file in
    // use is tried again for a while before the fetch fails.
    for (int attempt = 0;; ++attempt) {
        {
            CScopedLock lock(cs);
            if (!owner)
                return false; // given up: the part goes, the installed file stays
        }
        if (::MoveFileExA(part.path.c_str(), localPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            part.done = true;
            CScopedLock lock(cs);
            if (owner)
                owner->OnStatus(NOTIFY_FETCH_END, localPath.c_str());
            return true;
        }
        const DWORD error = ::GetLastError();
        if (attempt == kMoveAttempts || !MoveMayWork(error, localPath))
            return false;
        ::Sleep(kMoveRetryMs);
    }
}
