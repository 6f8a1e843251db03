// Where a block-by-block download spends its time under the platform: one URL
// read with InternetReadFile in blocks of a given size, each block optionally
// written to a file and announced by a posted message to a window on the main
// thread (as Zorvane's transfer does). Prints the time spent in each call kind.
//   inet_read_bench.exe URL BLOCK TARGET|- post|nopost [nocache]
// nocache opens the URL with INTERNET_FLAG_NO_CACHE_WRITE instead of INTERNET_FLAG_RELOAD.
#include <windows.h>
#include <wininet.h>

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace {

constexpr UINT WM_BLOCK = WM_APP + 1;
constexpr UINT WM_FINISHED = WM_APP + 2;

struct Run {
    const wchar_t* url;
    unsigned block;
    const wchar_t* target; // nullptr: nothing is written
    HWND notify;           // nullptr: nothing is posted
    DWORD flags;
    LONGLONG readTicks = 0, writeTicks = 0, postTicks = 0;
    unsigned long long bytes = 0;
    unsigned reads = 0;
    bool ok = false;
};

LONGLONG Ticks()
{
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t.QuadPart;
}

unsigned __stdcall Transfer(void* parameter)
{
    Run& run = *static_cast<Run*>(parameter);
    HINTERNET session = ::InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET file = session ? ::InternetOpenUrlW(session, run.url, nullptr, 0, run.flags, 1) : nullptr;
    HANDLE out = run.target ? ::CreateFileW(run.target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)
                            : INVALID_HANDLE_VALUE;
    std::vector<char> buffer(run.block);
    if (file && (!run.target || out != INVALID_HANDLE_VALUE)) {
        run.ok = true;
        for (;;) {
            DWORD n = 0;
            LONGLONG t0 = Ticks();
            BOOL read = ::InternetReadFile(file, buffer.data(), run.block, &n);
            LONGLONG t1 = Ticks();
            run.readTicks += t1 - t0;
            ++run.reads;
            if (!read) {
                run.ok = false;
                break;
            }
            if (n == 0)
                break;
            run.bytes += n;
            if (out != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                ::WriteFile(out, buffer.data(), n, &written, nullptr);
                LONGLONG t2 = Ticks();
                run.writeTicks += t2 - t1;
                t1 = t2;
            }
            if (run.notify) {
                ::PostMessageW(run.notify, WM_BLOCK, n, 0);
                run.postTicks += Ticks() - t1;
            }
        }
    }
    if (out != INVALID_HANDLE_VALUE)
        ::CloseHandle(out);
    if (file)
        ::InternetCloseHandle(file);
    if (session)
        ::InternetCloseHandle(session);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: inet_read_bench URL BLOCK TARGET|- post|nopost [nocache]\n");
        return 2;
    }
    Run run;
    run.url = argv[1];
    run.block = static_cast<unsigned>(wcstoul(argv[2], nullptr, 10));
    run.target = wcscmp(argv[3], L"-") == 0 ? nullptr : argv[3];
    const bool post = wcscmp(argv[4], L"post") == 0;
    run.flags = argc > 5 && wcscmp(argv[5], L"nocache") == 0 ? INTERNET_FLAG_NO_CACHE_WRITE : INTERNET_FLAG_RELOAD;
    HWND wnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    run.notify = post ? wnd : nullptr;

    LARGE_INTEGER freq;
    ::QueryPerformanceFrequency(&freq);
    const LONGLONG start = Ticks();
    HANDLE thread = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, Transfer, &run, 0, nullptr));
    // The main thread takes the notices as a window's pump would, until the transfer ends.
    unsigned long long notices = 0;
    LONGLONG pumpTicks = 0;
    for (;;) {
        if (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0)
            break;
        const LONGLONG t0 = Ticks();
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_BLOCK)
                ++notices;
            else
                ::DispatchMessageW(&msg);
        }
        pumpTicks += Ticks() - t0;
    }
    const LONGLONG end = Ticks();
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message == WM_BLOCK)
            ++notices;
    ::CloseHandle(thread);

    const auto ms = [&](LONGLONG t) { return 1000.0 * double(t) / double(freq.QuadPart); };
    const double total = ms(end - start);
    std::printf("block %u bytes %llu reads %u notices %llu total %.0f ms MiB/s %.1f | read %.0f ms (%.1f us each) "
                "write %.0f ms post %.0f ms pump %.0f ms\n",
                run.block, run.bytes, run.reads, notices, total, double(run.bytes) / 1048576.0 / (total / 1000.0),
                ms(run.readTicks), 1000.0 * ms(run.readTicks) / (run.reads ? run.reads : 1), ms(run.writeTicks),
                ms(run.postTicks), ms(pumpTicks));
    return run.ok ? 0 : 1;
}
