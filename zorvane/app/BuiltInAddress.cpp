#include "UpdateApp.h"

#ifndef ZORVANE_SERVER_LIST_URL
#error "ZORVANE_SERVER_LIST_URL is set by the build"
#endif

#define ZORVANE_WIDEN2(x) L##x
#define ZORVANE_WIDEN(x) ZORVANE_WIDEN2(x)

const wchar_t* const BUILTIN_SERVER_LIST_ADDRESS = ZORVANE_WIDEN(ZORVANE_SERVER_LIST_URL);
