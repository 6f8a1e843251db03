// Fetches one file with Quillet's downloader the way the update run does it (a
// session and connection of its own, then FetchFile, which blocks) and prints
// the rate; with a count, fetches it that many times one after the other (an
// update of many small files) and prints the time per fetch.
//   quillet_transfer_bench.exe HOST PORT URL-PATH TARGET [COUNT]
#include <windows.h>
#include <wininet.h>

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
        std::printf("ok %d fetches %d seconds %.3f ms per fetch %.1f\n", ok ? 1 : 0, count, seconds,
                    seconds * 1000.0 / count);
        return ok ? 0 : 1;
    }
    const double bytes = downloader.BytesReceived();
    std::printf("ok %d bytes %u notices %u seconds %.3f MiB/s %.1f\n", ok ? 1 : 0, downloader.BytesReceived(),
                downloader.m_progress, seconds, bytes / seconds / 1048576.0);
    return ok ? 0 : 1;
}
