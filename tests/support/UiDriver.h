#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A small driver for the user interface of programs under test: it starts them,
// finds their windows, reads message boxes, presses buttons and keys, and takes
// screenshots. Windows only.
namespace ui {

// The folder of the running test program, with a trailing backslash.
std::wstring ProgramFolder();

// A program started for a test. The destructor ends it if it still runs.
class Process {
public:
    Process() = default;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    // Starts "program" with the command tail "arguments" in the folder "cwd" (empty: the current one).
    static Process Start(const std::wstring& program, const std::wstring& arguments = L"",
                         const std::wstring& cwd = L"");

    bool Started() const noexcept { return m_process != nullptr; }
    DWORD Id() const noexcept { return m_id; }
    // True when the process ended within the time; its exit code is then in ExitCode().
    bool WaitExit(DWORD timeoutMs);
    bool Running() const;
    DWORD ExitCode() const noexcept { return m_exitCode; }
    void Kill();

private:
    HANDLE m_process = nullptr;
    DWORD m_id = 0;
    DWORD m_exitCode = STILL_ACTIVE;
};

// Waits until no process runs whose program file name is "exeName" (for example a
// program that another process started and did not wait for). True when none runs.
bool WaitNoProcessNamed(const std::wstring& exeName, DWORD timeoutMs);

// How often the hall double (tests/doubles Recorder, "Mirabond.exe") was started,
// from the log it keeps. The double runs on after the program that started it has
// ended, so its log is read once no "Mirabond.exe" runs any more; -1 when one
// still runs after the time.
int HallStartsLogged(const std::wstring& log, DWORD timeoutMs = 30000);

struct WindowInfo {
    HWND hwnd = nullptr;
    DWORD processId = 0;
    std::wstring className;
    std::wstring title;
    bool visible = false;
    RECT rect{};
};

std::vector<WindowInfo> TopLevelWindows();
WindowInfo Describe(HWND hwnd);

// Waits until a top-level window matches; null on time-out.
HWND WaitForWindow(const std::function<bool(const WindowInfo&)>& match, DWORD timeoutMs);
// A visible top-level window of the process with that class ("#32770" for dialogs and
// message boxes); an empty title matches any.
HWND WaitForProcessWindow(DWORD processId, const std::wstring& className, DWORD timeoutMs,
                          const std::wstring& title = L"", bool anyTitle = true);

// A message box: its caption, its text and its buttons.
struct MessageBoxInfo {
    HWND hwnd = nullptr;
    std::wstring caption;
    std::wstring text;
    bool hasIcon = false;
    std::vector<std::wstring> buttons;
};
MessageBoxInfo ReadMessageBox(HWND box);
// Clicks the message box's button with that id (IDOK by default).
void PressButton(HWND dialog, int id = IDOK);

// Posts a key press and release to a window (as the keyboard would queue them).
void PostKey(HWND wnd, UINT virtualKey);
// Posts a mouse message with client coordinates.
void PostMouse(HWND wnd, UINT message, int x, int y, WPARAM keys = 0);

// Pumps this thread's messages for a while.
void Pump(DWORD ms);

// A screenshot of a window's screen rectangle, as 24-bit rows (top row first).
struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bgr; // 3 bytes per pixel, rows of width * 3 bytes
    COLORREF Pixel(int x, int y) const;
    bool SaveBmp(const std::wstring& path) const;
};
Image CaptureWindow(HWND wnd);
// The window's client area as the window paints it (WM_PRINTCLIENT into a bitmap),
// independent of what covers it on the screen.
Image RenderClient(HWND wnd);
Image CaptureScreen(const RECT& rect);

} // namespace ui
