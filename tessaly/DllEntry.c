// The whole code of Tessaly.dll: the loader's entry point, which accepts every
// notification. Built without a C runtime, so the library imports nothing.
#include <windows.h>

BOOL WINAPI TessalyEntry(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
