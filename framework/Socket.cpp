#include "Socket.h"

namespace {
bool g_started = false;
}

bool AfxSocketInit(WSADATA* data)
{
    if (g_started)
        return true;
    WSADATA local;
    WSADATA* out = data ? data : &local;
    if (::WSAStartup(MAKEWORD(1, 1), out) != 0)
        return false;
    if (out->wVersion != MAKEWORD(1, 1)) {
        ::WSACleanup();
        return false;
    }
    g_started = true;
    return true;
}

void AfxSocketTerm()
{
    if (g_started) {
        ::WSACleanup();
        g_started = false;
    }
}
