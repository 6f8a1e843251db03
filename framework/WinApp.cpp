#include "WinApp.h"

#include "CommandLine.h"
#include "Dialog.h"
#include "Socket.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp()
{
    g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

CWinApp* CWinApp::Current() noexcept
{
    return g_app;
}

CWinApp* AfxGetApp() noexcept
{
    return g_app;
}

HINSTANCE AfxGetInstanceHandle() noexcept
{
    return g_app && g_app->m_hInstance ? g_app->m_hInstance : ::GetModuleHandleW(nullptr);
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::Run()
{
    MSG msg;
    for (;;) {
        BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1)
            break;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    m_exitCode = static_cast<int>(msg.wParam);
    return m_exitCode;
}

int CWinApp::ExitInstance()
{
    AfxSocketTerm();
    return m_exitCode;
}

void CWinApp::SetRegistryKey(const wchar_t* key)
{
    m_pszRegistryKey = key ? key : L"";
    m_pszProfileName = L"Software\\" + m_pszRegistryKey + L"\\" + m_pszAppName;
}

int CWinApp::Main(HINSTANCE instance)
{
    m_hInstance = instance;
    m_lpCmdLine = std::wstring(CommandTail(::GetCommandLineW()));

    m_pszAppName = AfxLoadString(AFX_IDS_APP_TITLE);
    if (m_pszAppName.empty()) {
        std::wstring path = AfxModulePath();
        size_t slash = path.find_last_of(L"\\/");
        std::wstring base = slash == std::wstring::npos ? path : path.substr(slash + 1);
        size_t dot = base.rfind(L'.');
        m_pszAppName = dot == std::wstring::npos ? base : base.substr(0, dot);
    }

    if (InitInstance())
        Run();
    return ExitInstance();
}

int AfxMessageBox(const std::wstring& text, UINT type)
{
    CWinApp* app = AfxGetApp();
    HWND owner = nullptr;
    if (app && app->m_pMainWnd)
        owner = app->m_pMainWnd->GetSafeHwnd();
    std::wstring caption = app ? app->m_pszAppName : std::wstring();
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

int AfxMessageBox(UINT stringId, UINT type)
{
    return AfxMessageBox(AfxLoadString(stringId), type);
}

std::wstring AfxLoadString(UINT id)
{
    const wchar_t* text = nullptr;
    // With a zero length the call hands out a pointer into the resource itself.
    int length = ::LoadStringW(AfxGetInstanceHandle(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text)
        return std::wstring();
    return std::wstring(text, static_cast<size_t>(length));
}

namespace {

// GetModuleFileName in either width: the buffer grows until the whole path fits.
template <typename Char, typename Get>
std::basic_string<Char> ModulePath(Get get)
{
    std::basic_string<Char> path(MAX_PATH, Char());
    for (;;) {
        DWORD n = get(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0)
            return std::basic_string<Char>();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace

std::wstring AfxModulePath()
{
    return ModulePath<wchar_t>(::GetModuleFileNameW);
}

std::string AfxModulePathA()
{
    return ModulePath<char>(::GetModuleFileNameA);
}
