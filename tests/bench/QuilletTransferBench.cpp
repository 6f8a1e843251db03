// Fetches one file with Quillet's downloader the way the update run does it (a
// session and connection of its own, then FetchFile, which blocks) and prints
// the rate; with a count, fetches it that many times one after the other (an
// update of many small files) and prints the time per fetch, beside the same
// platform calls alone on the same connection (request, status and length, a new
// part file, 10000-byte reads written to it, close, the rename over the target)
// and beside what the downloader adds per fetch: a transfer thread started and
// joined, and the event its caller waits on.
//   quillet_transfer_bench.exe HOST PORT URL-PATH TARGET [COUNT]
#include <windows.h>
#include <wininet.h>

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Downloader.h"
#include "Internet.h"

namespace {

// Counts the progress notices the update run would turn into repaints.
class CCountingDownloader : public CDownloader {
public:
    void OnProgress(int, int) override { ++m_progress; }
    unsigned m_progress = 0;
};

double Seconds(const LARGE_INTEGER& a, const LARGE_INTEGER& b)
{
    LARGE_INTEGER freq;
    ::QueryPerformanceFrequency(&freq);
    return double(b.QuadPart - a.QuadPart) / double(freq.QuadPart);
}

// The platform calls of count fetches alone; seconds, or -1 when one failed.
double Floor(HINTERNET connection, const char* urlPath, const std::string& target, int count)
{
    LARGE_INTEGER t0, t1;
    ::QueryPerformanceCounter(&t0);
    static char block[10000];
    const std::string part = target + ".floor-part";
    for (int i = 0; i < count; ++i) {
        HINTERNET request = ::HttpOpenRequestA(connection, "GET", urlPath, "HTTP/1.0", nullptr, nullptr,
                                               INTERNET_FLAG_NO_CACHE_WRITE, 0);
        char status[16] = {}, length[32] = {};
        DWORD size = sizeof status, lengthSize = sizeof length, index = 0;
        bool ok = request && ::HttpSendRequestA(request, nullptr, 0, nullptr, 0) &&
                  ::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, status, &size, nullptr) &&
                  ::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, length, &lengthSize, &index);
        HANDLE file = ok ? ::CreateFileA(part.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr)
                         : INVALID_HANDLE_VALUE;
        ok = file != INVALID_HANDLE_VALUE;
        for (DWORD n = 0; ok && ::InternetReadFile(request, block, sizeof block, &n) && n > 0;) {
            DWORD written = 0;
            ok = ::WriteFile(file, block, n, &written, nullptr) && written == n;
        }
        if (file != INVALID_HANDLE_VALUE)
            ok = ::CloseHandle(file) && ok;
        ok = ok && ::MoveFileExA(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
        if (request)
            ::InternetCloseHandle(request);
        if (!ok)
            return -1;
    }
    ::QueryPerformanceCounter(&t1);
    return Seconds(t0, t1);
}

unsigned __stdcall Nothing(void*)
{
    return 0;
}

// A thread started and joined, and an event made and closed, count times; seconds.
double ThreadsAndEvents(int count)
{
    LARGE_INTEGER t0, t1;
    ::QueryPerformanceCounter(&t0);
    for (int i = 0; i < count; ++i) {
        HANDLE ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE thread = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, Nothing, nullptr, 0, nullptr));
        if (thread) {
            ::WaitForSingleObject(thread, INFINITE);
            ::CloseHandle(thread);
        }
        ::CloseHandle(ended);
    }
    ::QueryPerformanceCounter(&t1);
    return Seconds(t0, t1);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: quillet_transfer_bench HOST PORT URL-PATH TARGET [COUNT]\n");
        return 2;
    }
    auto link = std::make_shared<CInternetLink>();
    link->session.Reset(::InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (link->session)
        link->connection.Reset(::InternetConnectA(link->session.Get(), argv[1],
                                                  static_cast<INTERNET_PORT>(std::atoi(argv[2])), "", "",
                                                  INTERNET_SERVICE_HTTP, 0, 0));
    if (!link->connection) {
        std::fprintf(stderr, "no connection\n");
        return 1;
    }
    CCountingDownloader downloader;
    downloader.SetLink(link);
    const int count = argc > 5 ? std::atoi(argv[5]) : 1;

    LARGE_INTEGER freq, t0, t1;
    ::QueryPerformanceFrequency(&freq);
    ::QueryPerformanceCounter(&t0);
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        std::string path = argv[3];
        ok = downloader.FetchFile(path, argv[4]);
    }
    ::QueryPerformanceCounter(&t1);
    downloader.SetLink(nullptr);

    const double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
    if (count > 1) {
        const double floor = Floor(link->connection.Get(), argv[3], argv[4], count);
        const double extra = ThreadsAndEvents(count);
        std::printf("ok %d fetches %d seconds %.3f ms per fetch %.1f; the platform calls alone %.1f ms per fetch "
                    "(%.2fx); a thread started and joined and an event, alone: %.2f ms\n",
                    ok && floor > 0 ? 1 : 0, count, seconds, seconds * 1000.0 / count, floor * 1000.0 / count,
                    seconds / floor, extra * 1000.0 / count);
        return ok && floor > 0 ? 0 : 1;
    }
    const double bytes = downloader.BytesReceived();
    std::printf("ok %d bytes %u notices %u seconds %.3f MiB/s %.1f\n", ok ? 1 : 0, downloader.BytesReceived(),
                downloader.m_progress, seconds, bytes / seconds / 1048576.0);
    return ok ? 0 : 1;
}
