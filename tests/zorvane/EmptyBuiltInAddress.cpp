#include "UpdateApp.h"

// A build of Zorvane whose built-in server-list address is empty.
const wchar_t* const BUILTIN_SERVER_LIST_ADDRESS = L"";
const wchar_t* const BUILTIN_UPDATE_LIST_ADDRESS = L"http://127.0.0.1:9/Update.xml";
