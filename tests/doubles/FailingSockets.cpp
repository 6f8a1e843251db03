// Links into a test build of a program in place of the Winsock import, so that the
// program's socket start-up fails the way a broken Winsock would make it fail.
#include <winsock2.h>

namespace {
int WSAAPI FailingStartup(WORD, LPWSADATA)
{
    return WSASYSNOTREADY;
}
} // namespace

// The import slot that the program's calls go through. Its symbol is decorated
// on 32-bit Windows (stdcall with 8 bytes of arguments) and plain on 64-bit.
#ifdef _WIN64
#define VEXA_WSASTARTUP_SLOT "__imp_WSAStartup"
#else
#define VEXA_WSASTARTUP_SLOT "__imp__WSAStartup@8"
#endif
extern "C" {
int(WSAAPI* failing_startup_slot)(WORD, LPWSADATA) __asm__(VEXA_WSASTARTUP_SLOT) = FailingStartup;
}
