#include "UpdateApp.h"

// A build of Zorvane whose built-in server-list address is empty.
const wchar_t* const BUILTIN_SERVER_LIST_ADDRESS = L"";
