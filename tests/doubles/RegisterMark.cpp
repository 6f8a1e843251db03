// A stand-in for a COM server that an update registers: its registration leaves
// "<dll path>.registered" beside it, holding the path the DLL was loaded from.
#include <windows.h>

namespace {
HMODULE g_module = nullptr;

void Mark(bool registered)
{
    wchar_t path[MAX_PATH * 2];
    DWORD n = ::GetModuleFileNameW(g_module, path, MAX_PATH * 2);
    if (n == 0)
        return;
    wchar_t mark[MAX_PATH * 2 + 16];
    lstrcpyW(mark, path);
    lstrcatW(mark, L".registered");
    if (!registered) {
        ::DeleteFileW(mark);
        return;
    }
    HANDLE h = ::CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(h, path, n * sizeof(wchar_t), &written, nullptr);
    ::CloseHandle(h);
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_module = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer()
{
    Mark(true);
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
    Mark(false);
    return S_OK;
}
