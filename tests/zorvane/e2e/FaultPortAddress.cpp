#include "UpdateApp.h"

// A build of Zorvane whose built-in server is the fault tests' scripted server.
#define VEXA_WIDEN2(x) L##x
#define VEXA_WIDEN(x) VEXA_WIDEN2(x)
const wchar_t* const BUILTIN_SERVER_LIST_ADDRESS = L"http://127.0.0.1:" VEXA_WIDEN(VEXA_FAULT_PORT_TEXT) L"/serverlist.txt";
const wchar_t* const BUILTIN_UPDATE_LIST_ADDRESS = L"http://127.0.0.1:" VEXA_WIDEN(VEXA_FAULT_PORT_TEXT) L"/Update.xml";
