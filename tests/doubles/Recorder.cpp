// A stand-in for a program that the updaters start (the hall, a program an update
// list runs): it appends one line to "<its own file name>.log" beside itself with
// the command line it got and the folder it was started in, then ends. A test that
// runs it from a read-only folder names another log in VEXA_RECORDER_LOG.
#include <windows.h>

#include <string>

namespace {

void AppendUtf8(const std::wstring& path, const std::wstring& line)
{
    HANDLE h = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    int n = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &bytes[0], n, nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    wchar_t self[MAX_PATH * 2];
    DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    std::wstring log(self, n);
    log += L".log";
    wchar_t other[MAX_PATH * 2];
    DWORD o = ::GetEnvironmentVariableW(L"VEXA_RECORDER_LOG", other, MAX_PATH * 2);
    if (o > 0 && o < MAX_PATH * 2)
        log.assign(other, o);
    wchar_t cwd[MAX_PATH * 2];
    DWORD c = ::GetCurrentDirectoryW(MAX_PATH * 2, cwd);
    AppendUtf8(log, std::wstring(L"started\t") + ::GetCommandLineW() + L"\t" + std::wstring(cwd, c) + L"\r\n");
    return 0;
}
