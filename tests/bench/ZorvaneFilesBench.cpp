// An update of many small files: the session window in this process fetches N
// listed files from a web server into an empty folder beside the program, and
// the same platform calls alone (per file: connect, open the request, send it,
// read the status, create the file, 1024-byte reads each written to it, close)
// fetch the same files one after the other. Two rounds of each, alternating;
// prints the time of every round, the best of each, and their ratio.
//   zorvane_files_bench.exe BASE N
// BASE is the server's address (http://127.0.0.1:PORT); it serves BASE/Update.xml
// naming BASE/small/f0.bin to f<N-1>.bin, each to be installed in
// zorvane-files-bench\ beside the program.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ComHolders.h"
#include "Internet.h"
#include "UpdateDlg.h"
#include "WinApp.h"
#include "ZorvaneBench.h"

namespace {

// Times the files of the session: from the moment the list's completion has been
// handled (the files are queued) to the moment the last file's has.
class TimedDlg : public CUpdateDlg {
public:
    using CUpdateDlg::CUpdateDlg;
    double filesStart = 0;
    double filesEnd = 0;

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override
    {
        const bool handled = CUpdateDlg::OnMessage(message, wParam, lParam, result);
        if (message == WM_TRANSFER_DONE) {
            if (NoticeKind(static_cast<std::uint32_t>(wParam)) == KIND_UPDATE_LIST && filesStart == 0)
                filesStart = Now();
            else if (Tasks().Count() == 0 && filesEnd == 0)
                filesEnd = Now();
        }
        return handled;
    }
};

void EmptyFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ::DeleteFileW((folder + L"\\" + data.cFileName).c_str());
        while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    ::CreateDirectoryW(folder.c_str(), nullptr);
}

// How many of the N files are in the folder with 1024 bytes each.
long Installed(const std::wstring& folder, long n)
{
    long whole = 0;
    for (long i = 0; i < n; ++i) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (::GetFileAttributesExW((folder + L"\\f" + std::to_wstring(i) + L".bin").c_str(), GetFileExInfoStandard,
                                   &data) &&
            data.nFileSizeLow == 1024)
            ++whole;
    }
    return whole;
}

// The platform calls alone, one file after the other; seconds, or -1 when a file failed.
double Floor(const std::wstring& host, INTERNET_PORT port, long n, const std::wstring& folder)
{
    const double start = Now();
    HINTERNET session = ::InternetOpenW(L"Quillet - MFC App", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session)
        return -1;
    char block[1024];
    bool ok = true;
    for (long i = 0; i < n && ok; ++i) {
        HINTERNET connection = ::InternetConnectW(session, host.c_str(), port, nullptr, nullptr,
                                                  INTERNET_SERVICE_HTTP, 0, 1);
        HINTERNET request = connection ? ::HttpOpenRequestW(connection, L"GET",
                                                            (L"/small/f" + std::to_wstring(i) + L".bin").c_str(),
                                                            L"HTTP/1.0", nullptr, nullptr, INTERNET_FLAG_RELOAD, 1)
                                       : nullptr;
        DWORD status = 0, size = sizeof status;
        ok = request && ::HttpSendRequestW(request, nullptr, 0, nullptr, 0) &&
             ::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
             status == 200;
        HANDLE file = ok ? ::CreateFileW((folder + L"\\f" + std::to_wstring(i) + L".bin").c_str(), GENERIC_WRITE, 0,
                                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                         : INVALID_HANDLE_VALUE;
        ok = ok && file != INVALID_HANDLE_VALUE;
        for (DWORD got = 0; ok && ::InternetReadFile(request, block, sizeof block, &got) && got > 0;) {
            DWORD written = 0;
            ok = ::WriteFile(file, block, got, &written, nullptr) && written == got;
        }
        if (file != INVALID_HANDLE_VALUE)
            ::CloseHandle(file);
        if (request)
            ::InternetCloseHandle(request);
        if (connection)
            ::InternetCloseHandle(connection);
    }
    ::InternetCloseHandle(session);
    return ok ? Now() - start : -1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: zorvane_files_bench BASE N\n");
        return 2;
    }
    const std::wstring base = argv[1];
    const long n = std::wcstol(argv[2], nullptr, 10);
    CComInit com;
    std::wstring folder = AfxModulePath();
    folder.resize(folder.find_last_of(L'\\'));
    folder += L"\\zorvane-files-bench";

    DWORD service = 0;
    std::wstring host, object;
    INTERNET_PORT port = 0;
    if (!AfxParseURL(base + L"/", service, host, object, port)) {
        std::fprintf(stderr, "not an address: %ls\n", base.c_str());
        return 2;
    }

    double bestFloor = 1e9, bestSession = 1e9;
    bool whole = true;
    for (int round = 1; round <= 2; ++round) {
        EmptyFolder(folder);
        const double floor = Floor(host, port, n, folder);
        whole = whole && floor > 0 && Installed(folder, n) == n;

        EmptyFolder(folder);
        TimedDlg dlg(L"http://127.0.0.1:9/serverlist.txt", base + L"/Update.xml");
        dlg.DoModal();
        const double session = dlg.filesEnd > dlg.filesStart ? dlg.filesEnd - dlg.filesStart : -1;
        whole = whole && session > 0 && dlg.FileCount() == static_cast<std::uint32_t>(n) && Installed(folder, n) == n;
        std::printf("round %d: %ld files, the platform calls alone %.2f s (%.2f ms each), the session %.2f s "
                    "(%.2f ms each), %.2fx\n",
                    round, n, floor, floor * 1000 / n, session, session * 1000 / n, session / floor);
        std::fflush(stdout);
        bestFloor = std::min(bestFloor, floor);
        bestSession = std::min(bestSession, session);
    }
    EmptyFolder(folder);
    ::RemoveDirectoryW(folder.c_str());
    std::printf("best: the platform calls alone %.2f s, the session %.2f s: %.2fx the floor\n", bestFloor,
                bestSession, bestSession / bestFloor);
    return whole ? 0 : 1;
}
