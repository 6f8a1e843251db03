// Quillet end to end: the real program under Wine, started as shipped (the
// launcher copies itself to Quillet.san and starts the copy, which shows the
// window and runs the update) against a real nginx that serves update folders
// under /Vexaupdate/. The hall is a recording double (Mirabond.exe) and its
// running window a double of the hall's class (HallWindow.exe).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Crc32.h"
#include "TempFolder.h"
#include "UiDriver.h"

namespace {

const DWORD kWait = 30000;
const wchar_t kHallTitle[] = L"Vexa自动更新程序 大厅plat";
const wchar_t kGameTitle[] = L"Vexa自动更新程序 游戏(12)";

std::wstring Env(const wchar_t* name)
{
    wchar_t buf[2048];
    DWORD n = ::GetEnvironmentVariableW(name, buf, 2048);
    return n > 0 && n < 2048 ? std::wstring(buf, n) : std::wstring();
}

std::string Narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w)
        s += static_cast<char>(c); // the paths of the lists are ASCII
    return s;
}

bool MakeFolders(const std::wstring& path)
{
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == L'\\')
            ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    return FolderExistsAt(path);
}

void CopyTree(const std::wstring& from, const std::wstring& to)
{
    MakeFolders(to);
    WIN32_FIND_DATAW fd;
    HANDLE f = ::FindFirstFileW((from + L"\\*").c_str(), &fd);
    if (f == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            ::CopyFileW((from + L"\\" + fd.cFileName).c_str(), (to + L"\\" + fd.cFileName).c_str(), FALSE);
    } while (::FindNextFileW(f, &fd));
    ::FindClose(f);
}

std::int32_t Checksum(const std::string& bytes)
{
    return static_cast<std::int32_t>(Crc32(0xFFFFFFFFu, bytes.data(), bytes.size()));
}

// One record of filelist.list and what the server and the disk hold for it.
struct Record {
    std::string directory = "\\"; // "\" is the program folder
    std::string name;
    std::string content;          // on the server (files only)
    bool onServer = true;
    bool wrongChecksum = false;   // the list's checksum is not the served file's
    bool IsDirectory() const { return name.find('.') == std::string::npos; }
    std::string Relative() const { return directory == "\\" ? name : directory + "\\" + name; }
};

Record File(const std::string& directory, const std::string& name, const std::string& content)
{
    Record r;
    r.directory = directory;
    r.name = name;
    r.content = content;
    return r;
}

Record Folder(const std::string& directory, const std::string& name)
{
    Record r;
    r.directory = directory;
    r.name = name;
    return r;
}

// The fill of the default skin's bars is gold; the empty track is dark blue.
bool IsFill(COLORREF c)
{
    return GetRValue(c) > 150 && GetGValue(c) > 80 && GetBValue(c) < 140;
}

// The width of a bar's fill in a screenshot of the window: the gold run from the
// bar's left edge along its middle row (the percentage text starts at x 295).
int FillWidthIn(const ui::Image& shot, int barTop)
{
    int w = 0;
    while (40 + w < 290 && IsFill(shot.Pixel(40 + w, barTop + 5)))
        ++w;
    return w;
}

// The panel's rule, restated here so that a screenshot can be checked against it.
int ExpectedFill(int progress)
{
    volatile float fraction = static_cast<float>(progress) * 0.0001f;
    return static_cast<int>(static_cast<double>(fraction) * 300);
}

// Pixels of a 20 x 20 region of a screenshot that differ from a skin bitmap.
int Mismatches(const ui::Image& shot, int left, int top, const std::wstring& bitmapFile)
{
    HBITMAP bmp = static_cast<HBITMAP>(::LoadImageW(nullptr, bitmapFile.c_str(), IMAGE_BITMAP, 20, 20, LR_LOADFROMFILE));
    if (!bmp)
        return -1;
    HDC screen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(screen);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    int n = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            n += ::GetPixel(mem, x, y) == shot.Pixel(left + x, top + y) ? 0 : 1;
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);
    ::DeleteObject(bmp);
    return n;
}

// Real pointer input (the system moves the pointer and presses its button).
void PointerTo(int x, int y)
{
    ::SetCursorPos(x, y);
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = x * 65535 / (::GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = y * 65535 / (::GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &in, sizeof in);
    ::Sleep(60);
}

void LeftButton(bool down)
{
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    ::SendInput(1, &in, sizeof in);
    ::Sleep(100);
}

// Drags with the real pointer from (x, y) by (dx, dy) in a few steps.
void Drag(int x, int y, int dx, int dy)
{
    PointerTo(x, y);
    LeftButton(true);
    for (int step = 1; step <= 5; ++step)
        PointerTo(x + dx * step / 5, y + dy * step / 5);
    LeftButton(false);
}

class QuilletE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring root = Env(L"VEXA_E2E_ROOT");
        ASSERT_FALSE(root.empty()) << "run through ctest: VEXA_E2E_ROOT is not set";
        m_www = root + L"\\www";
        m_log = root + L"\\nginx\\access.log";
        m_shots = root + L"\\shots";
        m_skin = root + L"\\Patch";
        RemoveTree(m_www + L"\\Vexaupdate");
        m_install = m_folder / L"游戏中心";
        ASSERT_TRUE(MakeFolders(m_install));
        for (const wchar_t* program : {L"Quillet.exe", L"Mirabond.exe"})
            ASSERT_TRUE(::CopyFileW((ui::ProgramFolder() + program).c_str(), (m_install + L"\\" + program).c_str(),
                                    FALSE))
                << Narrow(program);
        CopyTree(m_skin, m_install + L"\\Patch");
        ASSERT_TRUE(FileExistsAt(m_install + L"\\Patch\\bg.bmp"));
        ServersAt(QUILLET_E2E_PORT);
        m_logStart = ReadWholeFile(m_log).size();
    }

    void ServersAt(int port, int kind = 1)
    {
        std::string ini = "# e2e\r\n1;" + std::to_string(kind) + ";e2e;127.0.0.1;" + std::to_string(port) + "\r\n";
        ASSERT_TRUE(WriteWholeFile(Installed(L"updatelist.ini"), ini));
    }

    std::wstring Installed(const std::wstring& relative) const { return m_install + L"\\" + relative; }
    std::wstring Installed(const std::string& relative) const
    {
        return Installed(std::wstring(relative.begin(), relative.end()));
    }

    // The name of a download's part file in a folder of the installation, or empty.
    std::wstring PartFile(const std::wstring& folder) const
    {
        WIN32_FIND_DATAW data;
        HANDLE find = ::FindFirstFileW(Installed(folder + L"\\~*.part").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return std::wstring();
        ::FindClose(find);
        return data.cFileName;
    }

    // Puts the records' files under /Vexaupdate/<folder>/release/ and the list beside them.
    void Publish(const std::string& folder, const std::vector<Record>& records)
    {
        std::wstring base = m_www + L"\\Vexaupdate\\" + std::wstring(folder.begin(), folder.end());
        ASSERT_TRUE(MakeFolders(base + L"\\release"));
        std::string list;
        for (const Record& r : records) {
            std::int32_t crc = r.IsDirectory() ? 0 : Checksum(r.content);
            if (r.wrongChecksum)
                crc ^= 0x5A5A;
            list += r.directory + ":" + r.name + ":" + std::to_string(crc) + "\r\n";
            if (r.IsDirectory() || !r.onServer)
                continue;
            std::string rel = r.Relative();
            std::wstring path = base + L"\\release\\" + std::wstring(rel.begin(), rel.end());
            MakeFolders(path.substr(0, path.find_last_of(L'\\')));
            ASSERT_TRUE(WriteWholeFile(path, r.content));
        }
        // The reader takes a record only when more text follows it.
        list += "end\r\n";
        ASSERT_TRUE(WriteWholeFile(base + L"\\filelist.list", list));
    }

    // The requests nginx received since the test began: "METHOD TARGET STATUS BYTES AGENT PROTOCOL".
    std::vector<std::string> Requests() const
    {
        return ReadLinesFrom(m_log, m_logStart);
    }

    // The targets of the GET requests, with their status: "/path 200".
    std::vector<std::string> Fetched() const
    {
        std::vector<std::string> out;
        for (const std::string& line : Requests()) {
            if (line.compare(0, 4, "GET ") != 0)
                continue;
            size_t target = line.find(' ', 4);
            size_t status = line.find(' ', target + 1);
            out.push_back(line.substr(4, status - 4));
        }
        return out;
    }

    int Count(const std::string& text, const std::string& what) const
    {
        int n = 0;
        for (size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size())
            ++n;
        return n;
    }

    std::string HallLog() const { return ReadWholeFile(Installed(L"Mirabond.exe.log")); }
    int HallStarts() const { return Count(HallLog(), "started\t"); }

    bool WaitFor(const std::function<bool()>& done, DWORD timeout = kWait) const
    {
        DWORD start = ::GetTickCount();
        while (!done()) {
            if (::GetTickCount() - start > timeout)
                return false;
            ::Sleep(50);
        }
        return true;
    }

    // Starts the shipped program; the launcher ends once it has started the copy.
    void Launch(const std::wstring& parameter = L"")
    {
        ui::Process launcher = ui::Process::Start(Installed(L"Quillet.exe"), parameter, m_install);
        ASSERT_TRUE(launcher.Started());
        ASSERT_TRUE(launcher.WaitExit(kWait));
    }

    HWND Window(const std::wstring& title, DWORD timeout = kWait) const
    {
        return ui::WaitForWindow(
            [&](const ui::WindowInfo& w) { return w.visible && w.className == L"#32770" && w.title == title; },
            timeout);
    }

    int WindowsTitled(const std::wstring& title) const
    {
        int n = 0;
        for (const ui::WindowInfo& w : ui::TopLevelWindows())
            if (w.className == L"#32770" && w.title == title)
                ++n;
        return n;
    }

    // The worker's process, found through its window.
    HANDLE WorkerOf(HWND wnd) const
    {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(wnd, &pid);
        return ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
    }

    bool WaitGone(const std::wstring& title, DWORD timeout = kWait) const
    {
        return WaitFor([&] { return WindowsTitled(title) == 0; }, timeout);
    }

    void SaveShot(const ui::Image& shot, const wchar_t* name) const { shot.SaveBmp(m_shots + L"\\" + name); }

    void TearDown() override
    {
        // Nothing of a failed test stays behind to confuse the next one.
        for (const wchar_t* title : {kHallTitle, kGameTitle})
            for (const ui::WindowInfo& w : ui::TopLevelWindows())
                if (w.title == title) {
                    HANDLE p = WorkerOf(w.hwnd);
                    if (p) {
                        ::TerminateProcess(p, 1);
                        ::WaitForSingleObject(p, 5000);
                        ::CloseHandle(p);
                    }
                }
    }

    TempFolder m_folder;
    std::wstring m_www, m_log, m_shots, m_skin, m_install;
    size_t m_logStart = 0;
};

} // namespace

TEST_F(QuilletE2E, HallModeFetchesExactlyTheMissingAndChangedFilesAndStartsTheHall)
{
    const std::string changedNew(30000, 'B');
    const std::string big(1200000, 'x');
    ASSERT_TRUE(WriteWholeFile(Installed(L"same.dll"), "same bytes"));
    ASSERT_TRUE(WriteWholeFile(Installed(L"changed.dat"), "old bytes"));
    MakeFolders(Installed(L"slow"));
    ASSERT_TRUE(WriteWholeFile(Installed(L"slow\\big.dat"), "an old version"));
    Publish("plat", {
                        File("slow", "big.dat", big),
                        File("\\", "same.dll", "same bytes"),
                        File("\\", "changed.dat", changedNew),
                        File("\\", "new.dll", "a new library"),
                        Folder("\\", "data"),
                        Folder("data", "maps"),
                        File("data\\maps", "map.dat", "a map"),
                    });

    Launch();
    EXPECT_TRUE(FileExistsAt(Installed(L"Quillet.san")));
    HWND wnd = Window(kHallTitle);
    ASSERT_NE(wnd, nullptr);
    HANDLE worker = WorkerOf(wnd);
    RECT client;
    ::GetClientRect(wnd, &client);
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 300);
    EXPECT_TRUE(::GetWindowLongW(wnd, GWL_EXSTYLE) & WS_EX_TOPMOST);

    // Mid-run: the changed files come first, so the slow file is the first of six
    // downloads and the overall bar stands at a sixth of the file's progress. Both
    // bars are invalidated by the same notification, so the two fills agree.
    bool checked = false;
    for (int attempt = 0; attempt < 40 && !checked; ++attempt) {
        ::Sleep(150);
        ui::Image shot = ui::CaptureWindow(wnd);
        int file = FillWidthIn(shot, 230);
        int overall = FillWidthIn(shot, 247);
        if (file <= 0 || file >= 240)
            continue; // not yet in the slow download (the bar starts full)
        SaveShot(shot, L"quillet-transfer.bmp");
        bool agrees = false;
        for (int p = 0; p <= 10000 && !agrees; ++p)
            agrees = ExpectedFill(p) == file && ExpectedFill(p / 6) == overall;
        EXPECT_TRUE(agrees) << "file fill " << file << ", overall fill " << overall;
        checked = true;
    }
    EXPECT_TRUE(checked) << "no screenshot caught the slow download";

    // The end: the last picture before the window closes itself.
    ui::Image last;
    while (::IsWindow(wnd)) {
        ui::Image shot = ui::CaptureWindow(wnd);
        // Only a picture of the window itself (its blue title band), not of what
        // was behind it while it went.
        if (::IsWindow(wnd) && GetBValue(shot.Pixel(300, 20)) > 80)
            last = shot;
        ::Sleep(100);
    }
    SaveShot(last, L"quillet-done.bmp");
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(::WaitForSingleObject(worker, kWait), WAIT_OBJECT_0);
    ::CloseHandle(worker);
    ASSERT_GT(last.width, 0);
    EXPECT_EQ(FillWidthIn(last, 230), 250) << "the finished file bar is full (up to the percentage text)";

    std::vector<std::string> fetched = Fetched();
    std::vector<std::string> expected = {
        "/Vexaupdate/plat/filelist.list 200",   "/Vexaupdate/plat/release/slow/big.dat 200",
        "/Vexaupdate/plat/release/changed.dat 200", "/Vexaupdate/plat/release/new.dll 200",
        "/Vexaupdate/plat/release/data/maps/map.dat 200",
    };
    EXPECT_EQ(fetched, expected);
    for (const std::string& line : Requests())
        EXPECT_NE(line.find("HTTP/1.0"), std::string::npos) << line;

    EXPECT_EQ(ReadWholeFile(Installed(L"same.dll")), "same bytes");
    EXPECT_EQ(Checksum(ReadWholeFile(Installed(L"changed.dat"))), Checksum(changedNew));
    EXPECT_EQ(ReadWholeFile(Installed(L"new.dll")), "a new library");
    EXPECT_EQ(ReadWholeFile(Installed(L"data\\maps\\map.dat")), "a map");
    EXPECT_EQ(Checksum(ReadWholeFile(Installed(L"slow\\big.dat"))), Checksum(big));
    EXPECT_TRUE(FileExistsAt(Installed(L"updatetmp\\plat\\filelist.list")));

    ASSERT_TRUE(WaitFor([&] { return HallStarts() == 1; }));
    EXPECT_NE(HallLog().find("started\tMirabond.exe run\t"), std::string::npos) << HallLog();
}

TEST_F(QuilletE2E, GameModeNotifiesTheRunningHallAfterARunWithOneMissingFile)
{
    ASSERT_TRUE(::CopyFileW((ui::ProgramFolder() + L"HallWindow.exe").c_str(), Installed(L"HallWindow.exe").c_str(),
                            FALSE));
    ui::Process hall = ui::Process::Start(Installed(L"HallWindow.exe"), L"60", m_install);
    ASSERT_TRUE(WaitFor([&] { return ReadWholeFile(Installed(L"HallWindow.exe.log")).find("ready\t") == 0; }));

    Record gone = File("\\", "gone.dll", "not there");
    gone.onServer = false;
    Publish("12", {File("\\", "first.dll", "first"), gone, File("\\", "third.dll", "third")});
    Launch(L"12,7");
    ASSERT_TRUE(WaitFor([&] { return ReadWholeFile(Installed(L"HallWindow.exe.log")).find("message\t") !=
                                     std::string::npos; }));
    std::string log = ReadWholeFile(Installed(L"HallWindow.exe.log"));
    // WM_USER + 1000, wParam 20, lParam 7 x 65536 + 12.
    EXPECT_NE(log.find("message\t2024\t20\t458764\r\n"), std::string::npos) << log;
    EXPECT_EQ(Count(log, "message\t"), 1);
    EXPECT_TRUE(WaitGone(kGameTitle));
    EXPECT_EQ(HallStarts(), 0);

    std::vector<std::string> expected = {
        "/Vexaupdate/12/filelist.list 200", "/Vexaupdate/12/release/first.dll 200",
        "/Vexaupdate/12/release/gone.dll 404", "/Vexaupdate/12/release/third.dll 200",
    };
    EXPECT_EQ(Fetched(), expected);
    EXPECT_EQ(ReadWholeFile(Installed(L"third.dll")), "third");
    EXPECT_FALSE(FileExistsAt(Installed(L"gone.dll")));
    hall.Kill();
}

TEST_F(QuilletE2E, GameModeWithoutAHallWindowNotifiesNobodyAndStartsNothing)
{
    Publish("12", {File("\\", "first.dll", "first")});
    Launch(L"12,7");
    ASSERT_TRUE(WaitFor([&] { return FileExistsAt(Installed(L"first.dll")); }));
    EXPECT_TRUE(WaitGone(kGameTitle));
    ::Sleep(500);
    EXPECT_EQ(HallStarts(), 0);
    EXPECT_EQ(ReadWholeFile(Installed(L"first.dll")), "first");
}

TEST_F(QuilletE2E, ANewUpdaterIsFetchedThenTheCopyRestartsAndTheSecondRunHandsOver)
{
    std::string program = ReadWholeFile(ui::ProgramFolder() + L"Quillet.exe");
    ASSERT_FALSE(program.empty());
    std::string newer = program + std::string("\0a later build", 14); // same program, other bytes
    Publish("plat", {File("\\", "quillet.exe", newer), File("\\", "other.dat", "other")});
    Launch();
    ASSERT_TRUE(WaitFor([&] { return HallStarts() == 1; }));
    EXPECT_TRUE(WaitGone(kHallTitle));
    EXPECT_EQ(ReadWholeFile(Installed(L"quillet.exe")), newer);
    std::vector<std::string> expected = {
        "/Vexaupdate/plat/filelist.list 200", "/Vexaupdate/plat/release/quillet.exe 200",
        "/Vexaupdate/plat/release/other.dat 200",
        // The restarted copy finds everything current.
        "/Vexaupdate/plat/filelist.list 200",
    };
    EXPECT_EQ(Fetched(), expected);
    ::Sleep(500);
    EXPECT_EQ(HallStarts(), 1);
}

TEST_F(QuilletE2E, ASecondStartEndsAtOnceAndEscEndsWithNothingStarted)
{
    ServersAt(QUILLET_E2E_PORT, 2); // no server of kind 1: the window waits to be closed
    Launch();
    HWND wnd = Window(kHallTitle);
    ASSERT_NE(wnd, nullptr);
    HANDLE worker = WorkerOf(wnd);

    // The second start finds the window by its title and ends; the copy is not
    // started again.
    ui::Process second = ui::Process::Start(Installed(L"Quillet.exe"), L"", m_install);
    ASSERT_TRUE(second.WaitExit(5000));
    ::Sleep(1000);
    EXPECT_EQ(WindowsTitled(kHallTitle), 1);
    EXPECT_TRUE(Fetched().empty());

    ui::PostKey(wnd, VK_ESCAPE);
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(::WaitForSingleObject(worker, kWait), WAIT_OBJECT_0);
    ::CloseHandle(worker);
    ::Sleep(500);
    EXPECT_EQ(HallStarts(), 0);
}

TEST_F(QuilletE2E, TheCloseButtonDuringADownloadEndsTheRunAndStartsTheHall)
{
    MakeFolders(Installed(L"slow"));
    Publish("plat", {File("slow", "huge.dat", std::string(4 << 20, 'h'))});
    Launch();
    HWND wnd = Window(kHallTitle);
    ASSERT_NE(wnd, nullptr);
    HANDLE worker = WorkerOf(wnd);
    HWND button = ::FindWindowExW(wnd, nullptr, L"Button", nullptr);
    ASSERT_NE(button, nullptr);
    RECT r;
    ::GetWindowRect(button, &r);
    POINT at{r.left, r.top};
    ::ScreenToClient(wnd, &at);
    EXPECT_EQ(at.x, 370);
    EXPECT_EQ(at.y, 8);
    EXPECT_EQ(r.right - r.left, 20); // the size of btn_exit1.bmp
    EXPECT_EQ(r.bottom - r.top, 20);

    // The download grows beside its file until it is whole.
    ASSERT_TRUE(WaitFor([&] { return !PartFile(L"slow").empty(); }));
    ::Sleep(500);
    ui::PostMouse(button, WM_MOUSEMOVE, 10, 10);
    ui::PostMouse(button, WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
    ui::Pump(300);
    ui::Image pressed = ui::CaptureWindow(wnd);
    SaveShot(pressed, L"quillet-close-pressed.bmp");
    EXPECT_EQ(Mismatches(pressed, 370, 8, m_skin + L"\\btn_exit3.bmp"), 0);
    ui::PostMouse(button, WM_LBUTTONUP, 10, 10);

    ASSERT_TRUE(WaitFor([&] { return HallStarts() == 1; }, 10000));
    EXPECT_TRUE(WaitGone(kHallTitle, 5000));
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(::WaitForSingleObject(worker, 10000), WAIT_OBJECT_0) << "the worker did not end";
    ::CloseHandle(worker);
    const std::wstring part = PartFile(L"slow");
    if (!part.empty()) { // the given-up transfer may have woken and removed it before the end
        EXPECT_LT(ReadWholeFile(Installed(L"slow\\" + part)).size(), std::size_t(4) << 20);
    }
    EXPECT_FALSE(FileExistsAt(Installed(L"slow\\huge.dat"))) << "a part was installed";
}

TEST_F(QuilletE2E, AnUnreachableServerEndsTheRunAndTheHallStillStarts)
{
    ServersAt(1); // nothing listens on port 1
    Launch();
    ASSERT_TRUE(WaitFor([&] { return HallStarts() == 1; }));
    EXPECT_TRUE(WaitGone(kHallTitle));
    EXPECT_TRUE(Fetched().empty());
}

TEST_F(QuilletE2E, AFileListThatIsMissingEndsTheRunAndTheHallStillStarts)
{
    Launch(); // nothing published: the list answers 404
    ASSERT_TRUE(WaitFor([&] { return HallStarts() == 1; }));
    EXPECT_TRUE(WaitGone(kHallTitle));
    std::vector<std::string> expected = {"/Vexaupdate/plat/filelist.list 404"};
    EXPECT_EQ(Fetched(), expected);
}

TEST_F(QuilletE2E, AFileServedWithOtherBytesThanListedIsFetchedTwice)
{
    Record odd = File("\\", "odd.dll", "the bytes on the server");
    odd.wrongChecksum = true;
    Publish("plat", {odd, File("\\", "fine.dll", "fine")});
    Launch();
    ASSERT_TRUE(WaitFor([&] { return HallStarts() == 1; }));
    std::vector<std::string> expected = {
        "/Vexaupdate/plat/filelist.list 200", "/Vexaupdate/plat/release/odd.dll 200",
        "/Vexaupdate/plat/release/odd.dll 200", "/Vexaupdate/plat/release/fine.dll 200",
    };
    EXPECT_EQ(Fetched(), expected);
    EXPECT_EQ(ReadWholeFile(Installed(L"odd.dll")), "the bytes on the server");
}

TEST_F(QuilletE2E, WithoutASkinTheWindowIsPlainAndTheCloseButtonDrawsItsOwnFace)
{
    RemoveTree(Installed(L"Patch"));
    ServersAt(QUILLET_E2E_PORT, 2);
    Launch();
    HWND wnd = Window(kHallTitle);
    ASSERT_NE(wnd, nullptr);
    HANDLE worker = WorkerOf(wnd);
    ui::Pump(800);
    ui::Image shot = ui::CaptureWindow(wnd);
    SaveShot(shot, L"quillet-no-skin.bmp");

    // The background is a plain fill, and so are the two empty tracks.
    EXPECT_EQ(shot.Pixel(200, 100), RGB(30, 54, 88));
    EXPECT_EQ(shot.Pixel(20, 150), RGB(30, 54, 88));
    // Both bars stand at 10000 before a run: plain fills the whole 300 pixels.
    EXPECT_EQ(shot.Pixel(40, 231), RGB(64, 168, 236));
    EXPECT_EQ(shot.Pixel(280, 248), RGB(64, 168, 236));
    EXPECT_EQ(shot.Pixel(341, 231), RGB(30, 54, 88));

    // The close button keeps its resource size and shows the light gradient:
    // near white at its top rows, a little darker further down.
    HWND button = ::FindWindowExW(wnd, nullptr, L"Button", nullptr);
    ASSERT_NE(button, nullptr);
    RECT r;
    ::GetWindowRect(button, &r);
    EXPECT_NE(r.right - r.left, 20);
    POINT at{r.left, r.top};
    ::ScreenToClient(wnd, &at);
    EXPECT_EQ(at.x, 370);
    const int edge = ::GetSystemMetrics(SM_CYEDGE);
    const int height = r.bottom - r.top;
    COLORREF top = shot.Pixel(at.x + 6, at.y + edge);
    COLORREF bottom = shot.Pixel(at.x + 6, at.y + height - edge - 1);
    EXPECT_EQ(top, RGB(255, 255, 255));
    EXPECT_LT(GetRValue(bottom), 250);
    EXPECT_GT(GetRValue(bottom), 225);
    EXPECT_EQ(GetRValue(bottom), GetGValue(bottom));
    EXPECT_GT(GetBValue(bottom), GetRValue(bottom));

    ui::PostKey(wnd, VK_ESCAPE);
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(::WaitForSingleObject(worker, kWait), WAIT_OBJECT_0);
    ::CloseHandle(worker);
    EXPECT_EQ(HallStarts(), 0);
}

TEST_F(QuilletE2E, TheBackgroundDragsTheWindowAndTheCloseButtonDoesNot)
{
    ServersAt(QUILLET_E2E_PORT, 2);
    Launch();
    HWND wnd = Window(kHallTitle);
    ASSERT_NE(wnd, nullptr);
    HANDLE worker = WorkerOf(wnd);
    ui::Pump(500);
    RECT before;
    ::GetWindowRect(wnd, &before);
    Drag(before.left + 200, before.top + 100, -60, 40);
    ASSERT_TRUE(WaitFor([&] {
        RECT r;
        ::GetWindowRect(wnd, &r);
        return r.left != before.left;
    }, 3000));
    ui::Pump(300);
    RECT moved;
    ::GetWindowRect(wnd, &moved);
    // The window follows the pointer from the first move with the button down on:
    // at least the last four of the five steps, at most the whole way.
    EXPECT_LE(moved.left, before.left - 48);
    EXPECT_GE(moved.left, before.left - 60);
    EXPECT_GE(moved.top, before.top + 32);
    EXPECT_LE(moved.top, before.top + 40);

    // On the close button: hovering shows its hover image; a drag that leaves it
    // moves nothing and clicks nothing.
    PointerTo(moved.left + 380, moved.top + 18);
    ui::Pump(300);
    ui::Image hover = ui::CaptureWindow(wnd);
    SaveShot(hover, L"quillet-close-hover.bmp");
    EXPECT_EQ(Mismatches(hover, 370, 8, m_skin + L"\\btn_exit2.bmp"), 0);
    EXPECT_GT(Mismatches(hover, 370, 8, m_skin + L"\\btn_exit1.bmp"), 0);
    Drag(moved.left + 380, moved.top + 18, -80, 60);
    ui::Pump(500);
    RECT after;
    ::GetWindowRect(wnd, &after);
    EXPECT_EQ(after.left, moved.left);
    EXPECT_EQ(after.top, moved.top);
    EXPECT_TRUE(::IsWindow(wnd));
    PointerTo(5, 5);

    ui::PostKey(wnd, VK_ESCAPE);
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(::WaitForSingleObject(worker, kWait), WAIT_OBJECT_0);
    ::CloseHandle(worker);
    EXPECT_EQ(HallStarts(), 0);
}
