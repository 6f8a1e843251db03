// What a benchmark that runs Zorvane's session window in its own process needs:
// the application object the window's code expects, and a clock.
#pragma once

#include <windows.h>

#include "WinApp.h"

namespace {

struct BenchApp : CWinApp {
    BenchApp() { m_pszAppName = L"Zorvane"; }
} g_app;

// Seconds, from the performance counter.
double Now()
{
    LARGE_INTEGER t;
    LARGE_INTEGER f;
    ::QueryPerformanceCounter(&t);
    ::QueryPerformanceFrequency(&f);
    return double(t.QuadPart) / double(f.QuadPart);
}

} // namespace
