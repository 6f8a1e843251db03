#include "UiDriver.h"

#include <tlhelp32.h>

#include <cstdio>

#include "TempFolder.h"

namespace ui {

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH * 2];
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring p(path, n);
    size_t slash = p.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : p.substr(0, slash + 1);
}

Process::Process(Process&& other) noexcept
    : m_process(other.m_process), m_id(other.m_id), m_exitCode(other.m_exitCode)
{
    other.m_process = nullptr;
}

Process& Process::operator=(Process&& other) noexcept
{
    if (this != &other) {
        Kill();
        if (m_process)
            ::CloseHandle(m_process);
        m_process = other.m_process;
        m_id = other.m_id;
        m_exitCode = other.m_exitCode;
        other.m_process = nullptr;
    }
    return *this;
}

Process::~Process()
{
    Kill();
    if (m_process)
        ::CloseHandle(m_process);
}

Process Process::Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& cwd)
{
    Process p;
    std::wstring line = L"\"" + program + L"\"";
    if (!arguments.empty())
        line += L" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                          cwd.empty() ? nullptr : cwd.c_str(), &si, &pi))
        return p;
    ::CloseHandle(pi.hThread);
    p.m_process = pi.hProcess;
    p.m_id = pi.dwProcessId;
    return p;
}

bool Process::WaitExit(DWORD timeoutMs)
{
    if (!m_process)
        return true;
    if (::WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0)
        return false;
    ::GetExitCodeProcess(m_process, &m_exitCode);
    return true;
}

bool Process::Running() const
{
    return m_process && ::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

void Process::Kill()
{
    if (Running()) {
        ::TerminateProcess(m_process, 99);
        ::WaitForSingleObject(m_process, 5000);
    }
}

WindowInfo Describe(HWND hwnd)
{
    WindowInfo info;
    info.hwnd = hwnd;
    ::GetWindowThreadProcessId(hwnd, &info.processId);
    wchar_t buf[512];
    int n = ::GetClassNameW(hwnd, buf, 512);
    info.className.assign(buf, n > 0 ? n : 0);
    n = ::GetWindowTextW(hwnd, buf, 512);
    info.title.assign(buf, n > 0 ? n : 0);
    info.visible = ::IsWindowVisible(hwnd) != FALSE;
    ::GetWindowRect(hwnd, &info.rect);
    return info;
}

namespace {

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM p)
{
    reinterpret_cast<std::vector<WindowInfo>*>(p)->push_back(Describe(hwnd));
    return TRUE;
}

BOOL CALLBACK CollectMessageBoxPart(HWND child, LPARAM p)
{
    auto* out = reinterpret_cast<MessageBoxInfo*>(p);
    WindowInfo w = Describe(child);
    LONG style = ::GetWindowLongW(child, GWL_STYLE);
    if (w.className == L"Static") {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            if (w.visible && ::SendMessageW(child, STM_GETICON, 0, 0) != 0)
                out->hasIcon = true;
        } else if (!w.title.empty()) {
            out->text = w.title;
        }
    } else if (w.className == L"Button" && w.visible) {
        out->buttons.push_back(w.title);
    }
    return TRUE;
}

} // namespace

std::vector<WindowInfo> TopLevelWindows()
{
    std::vector<WindowInfo> list;
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&list));
    return list;
}

HWND WaitForWindow(const std::function<bool(const WindowInfo&)>& match, DWORD timeoutMs)
{
    DWORD start = ::GetTickCount();
    for (;;) {
        for (const WindowInfo& w : TopLevelWindows())
            if (match(w))
                return w.hwnd;
        if (::GetTickCount() - start >= timeoutMs)
            return nullptr;
        Pump(20);
    }
}

HWND WaitForProcessWindow(DWORD processId, const std::wstring& className, DWORD timeoutMs, const std::wstring& title,
                          bool anyTitle)
{
    return WaitForWindow(
        [&](const WindowInfo& w) {
            return w.processId == processId && w.visible && w.className == className &&
                   (anyTitle && title.empty() ? true : w.title == title);
        },
        timeoutMs);
}

MessageBoxInfo ReadMessageBox(HWND box)
{
    MessageBoxInfo info;
    info.hwnd = box;
    info.caption = Describe(box).title;
    ::EnumChildWindows(box, CollectMessageBoxPart, reinterpret_cast<LPARAM>(&info));
    return info;
}

void PressButton(HWND dialog, int id)
{
    HWND button = ::GetDlgItem(dialog, id);
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void PostKey(HWND wnd, UINT virtualKey)
{
    UINT scan = ::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    ::PostMessageW(wnd, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
    ::PostMessageW(wnd, WM_KEYUP, virtualKey, 1 | (scan << 16) | (1u << 30) | (1u << 31));
}

void PostMouse(HWND wnd, UINT message, int x, int y, WPARAM keys)
{
    ::PostMessageW(wnd, message, keys, MAKELPARAM(x, y));
}

void Pump(DWORD ms)
{
    DWORD start = ::GetTickCount();
    do {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (::GetTickCount() - start < ms);
}

COLORREF Image::Pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return CLR_INVALID;
    const unsigned char* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
    return RGB(p[2], p[1], p[0]);
}

bool Image::SaveBmp(const std::wstring& path) const
{
    int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER fh{};
    BITMAPINFOHEADER ih{};
    ih.biSize = sizeof ih;
    ih.biWidth = width;
    ih.biHeight = height; // bottom-up
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    ih.biSizeImage = static_cast<DWORD>(stride * height);
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + ih.biSizeImage;
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f)
        return false;
    fwrite(&fh, sizeof fh, 1, f);
    fwrite(&ih, sizeof ih, 1, f);
    std::vector<unsigned char> row(stride, 0);
    for (int y = height - 1; y >= 0; --y) {
        std::copy(bgr.begin() + static_cast<size_t>(y) * width * 3, bgr.begin() + static_cast<size_t>(y + 1) * width * 3,
                  row.begin());
        fwrite(row.data(), 1, stride, f);
    }
    return fclose(f) == 0;
}

Image CaptureScreen(const RECT& rect)
{
    Image img;
    img.width = rect.right - rect.left;
    img.height = rect.bottom - rect.top;
    if (img.width <= 0 || img.height <= 0)
        return img;
    HDC screen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = img.width;
    bi.bmiHeader.biHeight = -img.height; // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(mem, dib);
    ::BitBlt(mem, 0, 0, img.width, img.height, screen, rect.left, rect.top, SRCCOPY);
    ::GdiFlush();
    int stride = (img.width * 3 + 3) & ~3;
    img.bgr.resize(static_cast<size_t>(img.width) * img.height * 3);
    for (int y = 0; y < img.height; ++y)
        std::copy(static_cast<unsigned char*>(bits) + static_cast<size_t>(y) * stride,
                  static_cast<unsigned char*>(bits) + static_cast<size_t>(y) * stride + img.width * 3,
                  img.bgr.begin() + static_cast<size_t>(y) * img.width * 3);
    ::SelectObject(mem, old);
    ::DeleteObject(dib);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);
    return img;
}

namespace {

// Copies the rows of a top-down 24-bit DIB section.
Image ImageOf(const void* bits, int width, int height)
{
    Image img;
    img.width = width;
    img.height = height;
    int stride = (width * 3 + 3) & ~3;
    img.bgr.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        std::copy(static_cast<const unsigned char*>(bits) + static_cast<size_t>(y) * stride,
                  static_cast<const unsigned char*>(bits) + static_cast<size_t>(y) * stride + width * 3,
                  img.bgr.begin() + static_cast<size_t>(y) * width * 3);
    return img;
}

} // namespace

Image RenderClient(HWND wnd)
{
    RECT r;
    ::GetClientRect(wnd, &r);
    int width = r.right, height = r.bottom;
    if (width <= 0 || height <= 0)
        return Image();
    HDC screen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(mem, dib);
    ::SendMessageW(wnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT);
    ::GdiFlush();
    Image img = ImageOf(bits, width, height);
    ::SelectObject(mem, old);
    ::DeleteObject(dib);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);
    return img;
}

Image CaptureWindow(HWND wnd)
{
    RECT r;
    ::GetWindowRect(wnd, &r);
    return CaptureScreen(r);
}

} // namespace ui

namespace ui {

bool WaitNoProcessNamed(const std::wstring& exeName, DWORD timeoutMs)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        bool found = false;
        HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot != INVALID_HANDLE_VALUE) {
            PROCESSENTRY32W entry{};
            entry.dwSize = sizeof entry;
            for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !found;
                 more = ::Process32NextW(snapshot, &entry))
                found = ::lstrcmpiW(entry.szExeFile, exeName.c_str()) == 0;
            ::CloseHandle(snapshot);
        }
        if (!found)
            return true;
        if (::GetTickCount() - start >= timeoutMs)
            return false;
        ::Sleep(20);
    }
}

int HallStartsLogged(const std::wstring& log, DWORD timeoutMs)
{
    if (!WaitNoProcessNamed(L"Mirabond.exe", timeoutMs))
        return -1;
    const std::string text = ReadWholeFile(log);
    int n = 0;
    for (size_t p = 0; (p = text.find("started\t", p)) != std::string::npos; ++p)
        ++n;
    return n;
}

} // namespace ui
