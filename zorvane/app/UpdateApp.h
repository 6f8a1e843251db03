#pragma once

#include <string>

#include "WinApp.h"

// The program's built-in addresses (set at build time): the server list's, which the
// command line replaces, and the update list's of the built-in server.
extern const wchar_t* const BUILTIN_SERVER_LIST_ADDRESS;
extern const wchar_t* const BUILTIN_UPDATE_LIST_ADDRESS;

// The application object: prepares the process, takes the server-list address
// from the command line and runs the session window modally. It never runs a
// message loop of its own: the process ends when the session window's run ends.
class CUpdateApp : public CWinApp {
public:
    CUpdateApp();

    BOOL InitInstance() override;
    int ExitInstance() override;

    std::wstring m_serverListAddress;
};
