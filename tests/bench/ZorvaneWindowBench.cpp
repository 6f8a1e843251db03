// The session window while a large update list is read and checked: the real
// window in this process, its update list (N entries, every one naming a current
// file beside the program, listed by file time) served by the test web server,
// every paint timed. Prints how long the check took, how many paints it saw and
// the longest time without one (between two paints, or between the check's
// start or end and the paint nearest to it).
//   zorvane_window_bench.exe N [close]
// close: half a second into the check the drawn close button is clicked, and the
// time from the click to the end of the process is printed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ComHolders.h"
#include "TestHttpServer.h"
#include "UpdateDlg.h"
#include "WinApp.h"
#include "ZorvaneBench.h"

namespace {

class TimedDlg : public CUpdateDlg {
public:
    using CUpdateDlg::CUpdateDlg;

    std::vector<double> paints;
    double checkStart = 0; // the list's completion notice arrives
    double checkEnd = 0;   // its handling has returned

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override
    {
        if (message == WM_PAINT)
            paints.push_back(Now());
        const bool list = message == WM_TRANSFER_DONE && checkStart == 0 &&
                          NoticeKind(static_cast<std::uint32_t>(wParam)) == KIND_UPDATE_LIST;
        if (list)
            checkStart = Now();
        const bool handled = CUpdateDlg::OnMessage(message, wParam, lParam, result);
        if (list)
            checkEnd = Now();
        return handled;
    }
};

TimedDlg* g_dlg = nullptr;
bool g_close = false;
double g_clicked = 0;

void ReportEnd()
{
    std::printf("the process ended %.0f ms after the click on the close button\n", (Now() - g_clicked) * 1000);
    std::fflush(stdout);
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
{
    if (!g_close || g_clicked != 0 || g_dlg->checkStart == 0 || g_dlg->checkEnd != 0 ||
        Now() - g_dlg->checkStart < 0.5)
        return;
    g_clicked = Now();
    std::atexit(ReportEnd);
    const LPARAM button = MAKELPARAM(350, 6);
    ::PostMessageW(g_dlg->GetSafeHwnd(), WM_LBUTTONDOWN, MK_LBUTTON, button);
    ::PostMessageW(g_dlg->GetSafeHwnd(), WM_LBUTTONUP, 0, button);
}

// The longest time between two neighbours of a sorted list of times.
double LongestGap(const std::vector<double>& times)
{
    double longest = 0;
    for (std::size_t i = 1; i < times.size(); ++i)
        longest = std::max(longest, times[i] - times[i - 1]);
    return longest;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: zorvane_window_bench N [close]\n");
        return 2;
    }
    const long count = std::wcstol(argv[1], nullptr, 10);
    g_close = argc > 2 && std::wstring(argv[2]) == L"close";
    CComInit com;

    std::wstring folder = AfxModulePath();
    folder.resize(folder.find_last_of(L'\\'));
    const std::wstring present = folder + L"\\zorvane-window-bench.txt";
    {
        std::ofstream(present.c_str()) << "x";
    }
    FILETIME written{};
    {
        HANDLE h = ::CreateFileW(present.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ::GetFileTime(h, nullptr, nullptr, &written);
        ::CloseHandle(h);
    }
    const std::string entry = "<File><FileName>zorvane-window-bench.txt</FileName><FileDateLow>" +
                              std::to_string(written.dwLowDateTime) + "</FileDateLow><FileDateHigh>" +
                              std::to_string(written.dwHighDateTime) + "</FileDateHigh><Length>1</Length></File>";
    TestRoute list;
    list.body = "<List>";
    for (long i = 0; i < count; ++i)
        list.body += entry;
    list.body += "</List>";

    TestHttpServer server;
    if (!server.Start()) {
        std::fprintf(stderr, "no port for the test server\n");
        return 1;
    }
    server.Route("/Update.xml", list);
    const std::string url = server.BaseUrl() + "/Update.xml";

    TimedDlg dlg(L"http://127.0.0.1:9/serverlist.txt", std::wstring(url.begin(), url.end()));
    g_dlg = &dlg;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, Tick);
    dlg.DoModal();
    ::KillTimer(nullptr, timer);
    ::DeleteFileW(present.c_str());

    std::vector<double> during{dlg.checkStart};
    for (double t : dlg.paints)
        if (t > dlg.checkStart && t < dlg.checkEnd)
            during.push_back(t);
    during.push_back(dlg.checkEnd);
    std::printf("entries %ld selected %u check %.2f s, %u paints during it, longest time without a paint %.0f ms; "
                "whole run %u paints, longest gap %.0f ms\n",
                count, dlg.FileCount(), dlg.checkEnd - dlg.checkStart, static_cast<unsigned>(during.size() - 2),
                LongestGap(during) * 1000, static_cast<unsigned>(dlg.paints.size()), LongestGap(dlg.paints) * 1000);
    return dlg.checkEnd > 0 ? 0 : 1;
}
