#include "PatchDlg.h"

#include "UpdateRules.h"
#include "resource.h"

CPatchDlg::CPatchDlg(CUpdater& updater, std::string launchParameter)
    : CDialog(IDD_PATCH), m_updater(updater), m_launchParameter(std::move(launchParameter))
{
}

BOOL CPatchDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    ::SetWindowTextA(m_hWnd, m_title.c_str());
    m_updater.SetFolder(UpdateFolderName(m_launchParameter));
    m_updater.LoadUpdateServers();
    // Published before the thread starts, so that its first repaint reaches us.
    m_updater.SetWindow(m_hWnd);
    m_updater.PickUpdateServer(1);
    return TRUE;
}
