// A stand-in for the running game hall: a hidden top-level window of the hall's
// class that appends one line per message it is sent to "<its own file name>.log"
// beside itself. The first line, "ready", is written once the window exists, so a
// test knows when it can be found. It ends when it is closed, or by itself after
// the number of seconds given as its argument (default 60), so that nothing stays
// behind a failed test.
//
// Lines (UTF-8, CR LF):  ready\t<window handle>
//                        message\t<msg>\t<wParam>\t<lParam>   (WM_USER and above)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

const wchar_t kClass[] = L"PTVexaZRQBMirabond";
const UINT_PTR kLifeTimer = 1;
std::wstring g_log;

void AppendLine(const char* line)
{
    HANDLE h = ::CreateFileW(g_log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(h, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    ::CloseHandle(h);
}

LRESULT CALLBACK HallProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg >= WM_USER) {
        char line[128];
        std::snprintf(line, sizeof line, "message\t%u\t%lu\t%ld\r\n", msg, static_cast<unsigned long>(wParam),
                      static_cast<long>(lParam));
        AppendLine(line);
        return 0;
    }
    switch (msg) {
    case WM_TIMER:
        if (wParam == kLifeTimer)
            ::DestroyWindow(wnd);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(wnd, msg, wParam, lParam);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR args, int)
{
    wchar_t self[MAX_PATH * 2];
    DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    g_log.assign(self, n);
    g_log += L".log";

    int seconds = 60;
    if (args && *args)
        seconds = static_cast<int>(std::wcstol(args, nullptr, 10));
    if (seconds <= 0)
        seconds = 60;

    WNDCLASSW wc{};
    wc.lpfnWndProc = HallProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClass;
    if (!::RegisterClassW(&wc))
        return 1;
    HWND wnd = ::CreateWindowExW(0, kClass, L"Mirabond", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, instance,
                                 nullptr);
    if (!wnd)
        return 1;
    ::SetTimer(wnd, kLifeTimer, static_cast<UINT>(seconds) * 1000u, nullptr);
    char line[64];
    std::snprintf(line, sizeof line, "ready\t%lu\r\n", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(wnd)));
    AppendLine(line);

    MSG m;
    while (::GetMessageW(&m, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&m);
        ::DispatchMessageW(&m);
    }
    return 0;
}
