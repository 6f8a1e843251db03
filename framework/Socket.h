#pragma once

#include <winsock2.h>

// Starts Windows Sockets 1.1 for the process, once. A reply with another version
// counts as failure. The framework's exit handling cleans up.
bool AfxSocketInit(WSADATA* data = nullptr);
// Undoes a successful AfxSocketInit; called by CWinApp::ExitInstance.
void AfxSocketTerm();
