#include "UpdateDlg.h"

#include "CommandTail.h"
#include "resource.h"

CUpdateDlg::CUpdateDlg(std::wstring serverListAddress)
    : CDialog(IDD_UPDATE), m_serverListAddress(std::move(serverListAddress))
{
}

CUpdateDlg::~CUpdateDlg() = default;

BOOL CUpdateDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (m_serverListAddress.empty()) {
        ::MessageBoxW(m_hWnd, TEXT_USAGE, L"系统提示", MB_OK | MB_ICONERROR);
        ::PostQuitMessage(0);
        return TRUE;
    }
    return TRUE;
}
