#include "QuilletApp.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <winsock2.h>

#include <vector>

#include "CommandLine.h"
#include "PatchDlg.h"
#include "Socket.h"
#include "SystemCodePage.h"
#include "UpdateRules.h"
#include "resource.h"

namespace {

// How long the end of the process waits for the update thread once the window is
// gone. The run watches for the stop between any two steps, so only a system call
// that hangs (a disk that does not answer) takes longer.
constexpr DWORD kUpdateEndMs = 500;

std::string ToAnsi(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                  nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

} // namespace

CQuilletApp::CQuilletApp(CUpdater& updater) : m_updater(updater)
{
}

BOOL CQuilletApp::InitInstance()
{
    const std::string ownPath = AfxModulePathA();
    const std::string folder = ProgramFolderOf(ownPath, SystemLeadBytes());
    if (!folder.empty())
        ::SetCurrentDirectoryA(folder.c_str());

    std::vector<std::string> arguments;
    for (const std::wstring& a : SplitCommandLine(::GetCommandLineW()))
        arguments.push_back(ToAnsi(a));
    m_launchParameter = LaunchParameter(arguments);
    m_numbers = ParseGameNumbers(m_launchParameter);
    m_title = WindowTitle(m_launchParameter);

    if (HWND running = ::FindWindowA(nullptr, m_title.c_str())) {
        ::SetForegroundWindow(running);
        return FALSE;
    }

    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), 0xFF};
    ::InitCommonControlsEx(&controls);
    CWinApp::InitInstance();
    if (!AfxSocketInit()) {
        AfxMessageBox(IDS_SOCKETS_INIT_FAILED, MB_OK);
        return FALSE;
    }
    UpdateRandom().Seed(::timeGetTime());
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return FALSE;

    m_copyPath = CopyPathOf(ownPath);
    if (!IsWorkerFileName(FileNamePart(ownPath, SystemLeadBytes()))) {
        if (!m_copyPath.empty() && ::CopyFileA(ownPath.c_str(), m_copyPath.c_str(), FALSE))
            ::WinExec(CommandLineFor(m_copyPath, m_launchParameter).c_str(), SW_SHOWNORMAL);
        return FALSE;
    }

    INT_PTR result = -1;
    {
        CPatchDlg dlg(m_updater, m_launchParameter);
        dlg.m_title = m_title;
        m_pMainWnd = &dlg;
        result = dlg.DoModal();
        m_pMainWnd = nullptr;
    }
    HandOverAfter(result);
    // The update thread holds this copy's program file and its files until it
    // ends; a process that lingered would make every launcher started meanwhile
    // fail to copy itself and end without a word. Whatever it was doing is left
    // whole (a download replaces its file only once complete).
    if (!m_updater.StopUpdateThread(kUpdateEndMs))
        ::TerminateProcess(::GetCurrentProcess(), 0);
    return FALSE;
}

void CQuilletApp::HandOverAfter(INT_PTR modalResult)
{
    // The flags were written before the thread posted the OK command that ended
    // the modal run (or are still clear when the user ended it).
    switch (DecideHandOver(modalResult, m_updater.SelfUpdated(), m_launchParameter, m_updater.UpdateSucceeded())) {
    case HandOver::RestartCopy:
        ::WinExec(CommandLineFor(m_copyPath, m_launchParameter).c_str(), SW_SHOWNORMAL);
        break;
    case HandOver::StartHall:
        ::WinExec(TEXT_HALL_COMMAND, SW_SHOWNORMAL);
        break;
    case HandOver::NotifyHall:
        if (HWND hall = ::FindWindowA(HALL_WINDOW_CLASS, nullptr))
            ::PostMessageA(hall, HALL_MESSAGE, HALL_WPARAM, static_cast<LPARAM>(HallLParam(m_numbers)));
        break;
    case HandOver::Nothing:
        break;
    }
}
