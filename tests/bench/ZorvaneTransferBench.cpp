// Fetches one URL with the program's transfer class the way the session does it
// (a window that takes one progress notice per block) and prints the rate.
//   zorvane_transfer_bench.exe URL TARGET
#include <windows.h>

#include <cstdio>
#include <string>

#include "InetFile.h"

namespace {

struct Counters {
    unsigned long long bytes = 0;
    unsigned notices = 0;
    unsigned percent = 0;
    bool done = false;
    unsigned code = 0;
};

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* c = reinterpret_cast<Counters*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (c && message == WM_TRANSFER_PROGRESS) {
        auto* task = reinterpret_cast<CInetFile*>(lParam);
        c->bytes += NoticeValue(static_cast<std::uint32_t>(wParam));
        ++c->notices;
        if (task->ExpectedLength > 0)
            c->percent = static_cast<unsigned>(static_cast<unsigned long long>(task->BytesReceived) * 100 /
                                               static_cast<unsigned>(task->ExpectedLength));
        return 0;
    }
    if (c && message == WM_TRANSFER_DONE) {
        c->done = true;
        c->code = NoticeValue(static_cast<std::uint32_t>(wParam));
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: zorvane_transfer_bench URL TARGET [EXPECTED-LENGTH]\n");
        return 2;
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VexaTransferBench";
    ::RegisterClassW(&wc);
    HWND wnd = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    Counters counters;
    ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&counters));

    CInetFile task;
    task.Kind = KIND_UPDATE_LIST; // writes straight to TARGET
    task.URL = argv[1];
    task.TargetPath = argv[2];
    task.ExpectedLength = argc > 3 ? _wtoi(argv[3]) : 0;
    // VEXA_BENCH_NO_NOTICES=1 measures the transfer alone, without its notices.
    wchar_t quiet[8] = {};
    bool noNotices = ::GetEnvironmentVariableW(L"VEXA_BENCH_NO_NOTICES", quiet, 8) > 0 && quiet[0] == L'1';
    task.NotifyWindow = noNotices ? nullptr : wnd;

    LARGE_INTEGER freq, t0, t1;
    ::QueryPerformanceFrequency(&freq);
    ::QueryPerformanceCounter(&t0);
    if (!task.Start())
        return 1;
    // A repaint timer as in the session window, so the pump does what the session's does.
    ::SetTimer(wnd, 1, 100, nullptr);
    MSG msg;
    if (noNotices) {
        task.Wait();
        counters.bytes = static_cast<unsigned long long>(task.BytesReceived);
    } else {
        while (!counters.done && ::GetMessageW(&msg, nullptr, 0, 0) > 0)
            ::DispatchMessageW(&msg);
    }
    ::QueryPerformanceCounter(&t1);
    task.Wait();
    double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
    std::printf("code %u bytes %llu notices %u seconds %.3f MiB/s %.1f\n", counters.code, counters.bytes,
                counters.notices, seconds, counters.bytes / seconds / 1048576.0);
    return counters.code == 0 ? 0 : 1;
}
