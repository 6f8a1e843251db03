#pragma once

#include <windows.h>

#include <string>

class CDialog;

// String resource that names the program (used as message-box caption).
constexpr UINT AFX_IDS_APP_TITLE = 0xE000;

// The application object. Exactly one exists per program, as a global; the
// framework's entry point finds it and runs it: InitInstance, then the message
// loop when InitInstance answers true, and ExitInstance in every case.
class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The framework's own part of the initialisation; answers true.
    virtual BOOL InitInstance();
    // The message loop, until a quit request arrives; answers its exit code.
    virtual int Run();
    // The framework's exit handling (sockets clean-up); answers the process exit code.
    virtual int ExitInstance();

    // Names the settings root "Software\<key>\<program name>" under the current user.
    // Nothing is written there until a setting is stored.
    void SetRegistryKey(const wchar_t* key);
    // Hosting of embedded controls. The dialogs of this project embed none, so
    // this only records the request.
    void EnableControlContainer() noexcept { m_controlContainer = true; }

    // Called by the entry point.
    int Main(HINSTANCE instance);

    static CWinApp* Current() noexcept;

    HINSTANCE m_hInstance = nullptr;
    std::wstring m_lpCmdLine;      // the command tail after the program's name
    std::wstring m_pszAppName;     // AFX_IDS_APP_TITLE, else the program's base name
    std::wstring m_pszRegistryKey; // as given to SetRegistryKey
    std::wstring m_pszProfileName; // "Software\<key>\<program name>" once a key is set
    CDialog* m_pMainWnd = nullptr;
    int m_exitCode = 0;

protected:
    bool m_controlContainer = false;
};

CWinApp* AfxGetApp() noexcept;
HINSTANCE AfxGetInstanceHandle() noexcept;
// A message box captioned with the program's name, owned by the main window when there is one.
int AfxMessageBox(const std::wstring& text, UINT type = MB_OK);
int AfxMessageBox(UINT stringId, UINT type = MB_OK);
// A string resource of the program, empty when it has none.
std::wstring AfxLoadString(UINT id);
// The program's own full path.
std::wstring AfxModulePath();
// The same path in the ANSI code page, for programs that keep 8-bit text.
std::string AfxModulePathA();
