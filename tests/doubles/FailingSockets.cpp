// Links into a test build of a program in place of the Winsock import, so that the
// program's socket start-up fails the way a broken Winsock would make it fail.
#include <winsock2.h>

namespace {
int WSAAPI FailingStartup(WORD, LPWSADATA)
{
    return WSASYSNOTREADY;
}
} // namespace

// The import slot that the program's calls go through.
extern "C" {
int(WSAAPI* failing_startup_slot)(WORD, LPWSADATA) __asm__("__imp__WSAStartup@8") = FailingStartup;
}
