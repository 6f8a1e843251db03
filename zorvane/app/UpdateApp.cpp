#include "UpdateApp.h"

#include <commctrl.h>
#include <objbase.h>

#include <memory>

#include "CommandTail.h"
#include "Exception.h"
#include "Socket.h"
#include "UpdateDlg.h"
#include "resource.h"

CUpdateApp::CUpdateApp() : m_serverListAddress(BUILTIN_SERVER_LIST_ADDRESS)
{
}

BOOL CUpdateApp::InitInstance()
{
    ::InitCommonControls();
    ::CoInitialize(nullptr);
    CWinApp::InitInstance();

    if (!AfxSocketInit()) {
        AfxMessageBox(IDS_SOCKETS_INIT_FAILED, MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }
    EnableControlContainer();
    SetRegistryKey(L"棋牌升级模块");

    CommandTailParts tail = ParseCommandTail(m_lpCmdLine);
    if (tail.hasAddress)
        m_serverListAddress = tail.address;

    std::unique_ptr<CUpdateDlg> dlg;
    try {
        dlg = std::make_unique<CUpdateDlg>(m_serverListAddress, BUILTIN_UPDATE_LIST_ADDRESS);
    } catch (const std::exception&) {
        return FALSE;
    } catch (const CException&) {
        return FALSE;
    }
    m_pMainWnd = dlg.get();
    dlg->DoModal();
    m_pMainWnd = nullptr;
    // Destroying the window object cancels the transfers still running; one that
    // is blocked on a silent server is left to the end of the process.
    dlg.reset();
    return FALSE;
}

int CUpdateApp::ExitInstance()
{
    ::CoUninitialize();
    return CWinApp::ExitInstance();
}
