// Zorvane end to end: the real program under Wine, updating an installed client
// from a real nginx that serves a release folder. The ctest fixture starts nginx
// on the port of the program's built-in update-list address.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "UiDriver.h"

namespace {

const DWORD kWait = 30000;

std::wstring Env(const wchar_t* name)
{
    wchar_t buf[2048];
    DWORD n = ::GetEnvironmentVariableW(name, buf, 2048);
    return n > 0 && n < 2048 ? std::wstring(buf, n) : std::wstring();
}


bool MakeFolders(const std::wstring& path)
{
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == L'\\')
            ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    return FolderExistsAt(path);
}

// One listed file of an update list.
struct Listed {
    std::wstring fileName;
    std::string content;         // what the server holds
    std::wstring localPath;      // LocalPath
    std::wstring serverPath;     // under the web root; "files/<name>" by default
    bool onServer = true;        // false: the URL answers 404
    bool execute = false;
    std::wstring executePar;
    bool reg = false;
    FILETIME listedTime{};       // FileDateLow/High; zero means "not listed"
    std::wstring fileVersion;
};

std::string UpdateXml(const std::vector<Listed>& files, const std::string& base)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<UpdateList>\r\n";
    for (const Listed& f : files) {
        xml += "  <File>\r\n";
        xml += "    <FileName>" + Utf8(f.fileName) + "</FileName>\r\n";
        xml += "    <FileVersion>" + Utf8(f.fileVersion) + "</FileVersion>\r\n";
        xml += "    <Length>" + std::to_string(f.content.size()) + "</Length>\r\n";
        xml += "    <FileDateLow>" + std::to_string(f.listedTime.dwLowDateTime) + "</FileDateLow>\r\n";
        xml += "    <FileDateHigh>" + std::to_string(f.listedTime.dwHighDateTime) + "</FileDateHigh>\r\n";
        xml += "    <InstallDir>CURRENTDIR</InstallDir>\r\n";
        xml += "    <LocalPath>" + Utf8(f.localPath) + "</LocalPath>\r\n";
        if (f.execute)
            xml += "    <Execute>YES</Execute>\r\n    <ExecutePar>" + Utf8(f.executePar) + "</ExecutePar>\r\n";
        if (f.reg)
            xml += "    <Register>yes</Register>\r\n";
        std::wstring path = f.serverPath.empty() ? L"files/" + f.fileName : f.serverPath;
        for (auto& c : path)
            if (c == L'\\')
                c = L'/';
        xml += "    <URL>" + base + "/" + Utf8(path) + "</URL>\r\n";
        xml += "  </File>\r\n";
    }
    return xml + "</UpdateList>\r\n";
}

FILETIME TimeOf(const std::wstring& path)
{
    FILETIME t{};
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::GetFileTime(h, nullptr, nullptr, &t);
        ::CloseHandle(h);
    }
    return t;
}

FILETIME Later(FILETIME t, unsigned long long by100ns)
{
    ULARGE_INTEGER u;
    u.LowPart = t.dwLowDateTime;
    u.HighPart = t.dwHighDateTime;
    u.QuadPart += by100ns;
    FILETIME r;
    r.dwLowDateTime = u.LowPart;
    r.dwHighDateTime = u.HighPart;
    return r;
}

const unsigned long long kOneDay = 24ull * 3600 * 10000000;

class ZorvaneE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring root = Env(L"VEXA_E2E_ROOT");
        ASSERT_FALSE(root.empty()) << "run through ctest: VEXA_E2E_ROOT is not set";
        m_www = root + L"\\www";
        m_log = root + L"\\nginx\\access.log";
        m_shots = root + L"\\shots";
        m_port = std::to_wstring(VEXA_DEMO_PORT);
        RemoveTree(m_www + L"\\files");
        RemoveTree(m_www + L"\\slow");
        ::DeleteFileW((m_www + L"\\Update.xml").c_str());
        m_install = m_folder / L"客户端 folder"; // blanks and Chinese characters in the install path
        ASSERT_TRUE(MakeFolders(m_install)) << Utf8(m_install) << " error " << ::GetLastError();
        ASSERT_TRUE(::CopyFileW((ui::ProgramFolder() + L"Zorvane.exe").c_str(), (m_install + L"\\Zorvane.exe").c_str(),
                                FALSE));
        ASSERT_TRUE(::CopyFileW((ui::ProgramFolder() + L"Mirabond.exe").c_str(),
                                (m_install + L"\\Mirabond.exe").c_str(), FALSE));
        m_logStart = ReadWholeFile(m_log).size();
    }

    std::string Base() const { return "http://127.0.0.1:" + Utf8(m_port); }

    // Puts the files on the server and the update list beside them.
    void Publish(const std::vector<Listed>& files)
    {
        for (const Listed& f : files) {
            if (!f.onServer)
                continue;
            std::wstring path = m_www + L"\\" + (f.serverPath.empty() ? L"files\\" + f.fileName : f.serverPath);
            MakeFolders(path.substr(0, path.find_last_of(L'\\')));
            ASSERT_TRUE(WriteWholeFile(path, f.content));
        }
        ASSERT_TRUE(WriteWholeFile(m_www + L"\\Update.xml", UpdateXml(files, Base())));
    }

    std::wstring Installed(const std::wstring& relative) const { return m_install + L"\\" + relative; }

    // A local file that the list describes as current (same last-write time).
    Listed Current(const std::wstring& name, const std::string& content)
    {
        EXPECT_TRUE(WriteWholeFile(Installed(name), content));
        Listed l;
        l.fileName = name;
        l.content = content;
        l.listedTime = TimeOf(Installed(name));
        return l;
    }

    // A local file that the list has a newer version of.
    Listed Changed(const std::wstring& name, const std::string& oldContent, const std::string& newContent)
    {
        EXPECT_TRUE(WriteWholeFile(Installed(name), oldContent));
        Listed l;
        l.fileName = name;
        l.content = newContent;
        l.listedTime = Later(TimeOf(Installed(name)), kOneDay);
        return l;
    }

    ui::Process Run()
    {
        return ui::Process::Start(m_install + L"\\Zorvane.exe", L"http://127.0.0.1:" + m_port + L"/serverlist.txt auto",
                                  m_install);
    }

    // The requests nginx received since the test began: "METHOD TARGET STATUS ...".
    std::vector<std::string> Requests() const
    {
        return ReadLinesFrom(m_log, m_logStart);
    }

    bool Requested(const std::string& target) const
    {
        for (const std::string& line : Requests())
            if (line.find(" " + target + " ") != std::string::npos)
                return true;
        return false;
    }

    int HallStarts() const { return ui::HallStartsLogged(Installed(L"Mirabond.exe.log"), kWait); }

    HWND SessionWindow(const ui::Process& p, DWORD timeout = kWait) const
    {
        return ui::WaitForWindow(
            [&](const ui::WindowInfo& w) {
                return w.processId == p.Id() && w.visible && w.className == L"#32770" && w.title.empty() &&
                       w.rect.right - w.rect.left == 368;
            },
            timeout);
    }

    // A click on the drawn close button.
    static void ClickClose(HWND wnd)
    {
        RECT r;
        ::GetWindowRect(wnd, &r);
        ::SetCursorPos(r.left + 350, r.top + 6);
        ui::PostMouse(wnd, WM_LBUTTONDOWN, 350, 6, MK_LBUTTON);
        ui::PostMouse(wnd, WM_LBUTTONUP, 350, 6);
    }

    void SaveShot(HWND wnd, const wchar_t* name) const
    {
        if (wnd)
            ui::CaptureWindow(wnd).SaveBmp(m_shots + L"\\" + name);
    }

    TempFolder m_folder;
    std::wstring m_www, m_log, m_shots, m_port, m_install;
    size_t m_logStart = 0;
};

} // namespace

TEST_F(ZorvaneE2E, NothingDiffersStartsTheHallAndFetchesNothing)
{
    Publish({Current(L"a.dll", "aaa"), Current(L"b.dat", "bbbb")});
    ui::Process p = Run();
    ASSERT_TRUE(p.WaitExit(kWait));
    EXPECT_EQ(HallStarts(), 1);
    EXPECT_TRUE(Requested("/Update.xml"));
    EXPECT_FALSE(Requested("/files/a.dll"));
    EXPECT_FALSE(Requested("/files/b.dat"));
    EXPECT_EQ(ReadWholeFile(Installed(L"a.dll")), "aaa");
}

TEST_F(ZorvaneE2E, ThreeFilesAreFetchedAndInstalledInPlace)
{
    Listed missing;
    missing.fileName = L"new.dll";
    missing.content = std::string(70000, 'n');
    Listed deep;
    deep.fileName = L"map.dat";
    deep.localPath = L"data\\maps"; // folders that do not exist yet
    deep.content = "map";
    deep.serverPath = L"files\\data\\map.dat";
    Publish({Changed(L"a.dll", "old a", "new a, longer than before"), missing, Current(L"same.dll", "same"), deep});
    ui::Process p = Run();
    ASSERT_TRUE(p.WaitExit(kWait));
    EXPECT_EQ(ReadWholeFile(Installed(L"a.dll")), "new a, longer than before");
    EXPECT_EQ(ReadWholeFile(Installed(L"new.dll")), std::string(70000, 'n'));
    EXPECT_EQ(ReadWholeFile(Installed(L"data\\maps\\map.dat")), "map");
    EXPECT_EQ(ReadWholeFile(Installed(L"same.dll")), "same");
    for (const wchar_t* f : {L"a.dll.update", L"new.dll.update", L"data\\maps\\map.dat.update", L"a.dll.zorvane-old"})
        EXPECT_FALSE(FileExistsAt(Installed(f))) << Utf8(f);
    EXPECT_FALSE(Requested("/files/same.dll"));
    EXPECT_EQ(HallStarts(), 1);
}

TEST_F(ZorvaneE2E, TheSecondOfThreeFailingEndsWithoutTheHall)
{
    Listed second;
    second.fileName = L"b.dll";
    second.content = "b";
    second.onServer = false;
    Listed third;
    third.fileName = L"c.dll";
    third.content = "c";
    Publish({Changed(L"a.dll", "old", "new"), second, third});
    ui::Process p = Run();
    HWND box = ui::WaitForProcessWindow(p.Id(), L"#32770", kWait, L"Zorvane", false);
    ASSERT_NE(box, nullptr);
    ui::MessageBoxInfo info = ui::ReadMessageBox(box);
    EXPECT_EQ(info.text, L"可能由于网络原因，下载文件失败 [b.dll], 错误代码 [6] ");
    EXPECT_FALSE(info.hasIcon);
    EXPECT_EQ(info.buttons.size(), 1u);
    SaveShot(SessionWindow(p, 1000), L"zorvane-failed.bmp");
    ui::PressButton(box);
    ASSERT_TRUE(p.WaitExit(kWait));
    EXPECT_EQ(ReadWholeFile(Installed(L"a.dll")), "new");
    EXPECT_EQ(HallStarts(), 0);
    EXPECT_FALSE(Requested("/files/c.dll"));
    EXPECT_FALSE(FileExistsAt(Installed(L"c.dll")));
}

TEST_F(ZorvaneE2E, OnlyTheLastFailingStillStartsTheHall)
{
    Listed last;
    last.fileName = L"z.dll";
    last.content = "z";
    last.onServer = false;
    Publish({Changed(L"a.dll", "old", "new"), last});
    ui::Process p = Run();
    HWND box = ui::WaitForProcessWindow(p.Id(), L"#32770", kWait, L"Zorvane", false);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ui::ReadMessageBox(box).text, L"可能由于网络原因，下载文件失败 [z.dll], 错误代码 [6] ");
    ui::PressButton(box);
    ASSERT_TRUE(p.WaitExit(kWait));
    EXPECT_EQ(HallStarts(), 1);
    EXPECT_EQ(ReadWholeFile(Installed(L"a.dll")), "new");
}

TEST_F(ZorvaneE2E, AnUpdateListThatCannotBeFetchedShowsTheErrorAndStartsTheHall)
{
    // No Update.xml on the server: 404.
    ui::Process p = Run();
    HWND box = ui::WaitForProcessWindow(p.Id(), L"#32770", kWait, L"系统提示", false);
    ASSERT_NE(box, nullptr);
    ui::MessageBoxInfo info = ui::ReadMessageBox(box);
    EXPECT_EQ(info.text, L"取得服务器文件失败, 请选择其他服务器进行尝试");
    EXPECT_TRUE(info.hasIcon);
    ui::PressButton(box);
    ASSERT_TRUE(p.WaitExit(kWait));
    EXPECT_EQ(HallStarts(), 1);
}

TEST_F(ZorvaneE2E, AnUnreachableServerShowsTheConnectionError)
{
    ASSERT_TRUE(::CopyFileW((ui::ProgramFolder() + L"zorvane_deadport.exe").c_str(),
                            (m_install + L"\\Zorvane.exe").c_str(), FALSE));
    ui::Process p = Run();
    HWND box = ui::WaitForProcessWindow(p.Id(), L"#32770", kWait, L"系统提示", false);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ui::ReadMessageBox(box).text, L"连接服务器失败, 请检查网络或联系管理员");
    ui::PressButton(box);
    ASSERT_TRUE(p.WaitExit(kWait));
    EXPECT_EQ(HallStarts(), 1);
}

TEST_F(ZorvaneE2E, AListThatIsNotXmlLeavesTheWindowOpenAndIsDeleted)
{
    ASSERT_TRUE(WriteWholeFile(m_www + L"\\Update.xml", "<UpdateList><File>broken"));
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH, temp);
    auto countLists = [&] {
        int n = 0;
        WIN32_FIND_DATAW fd;
        HANDLE f = ::FindFirstFileW((std::wstring(temp) + L"Xml*.tmp").c_str(), &fd);
        if (f != INVALID_HANDLE_VALUE) {
            do
                ++n;
            while (::FindNextFileW(f, &fd));
            ::FindClose(f);
        }
        return n;
    };
    int before = countLists();
    ui::Process p = Run();
    HWND wnd = SessionWindow(p);
    ASSERT_NE(wnd, nullptr);
    EXPECT_FALSE(p.WaitExit(3000)); // it waits to be closed
    EXPECT_TRUE(Requested("/Update.xml"));
    EXPECT_EQ(countLists(), before);
    ui::PostKey(wnd, VK_ESCAPE);
    ASSERT_TRUE(p.WaitExit(kWait));
    EXPECT_EQ(HallStarts(), 0);
}

TEST_F(ZorvaneE2E, ExecuteAndRegisterRunTheInstalledFiles)
{
    std::string tool = ReadWholeFile(ui::ProgramFolder() + L"Mirabond.exe"); // the recording double
    std::string server = ReadWholeFile(ui::ProgramFolder() + L"RegisterMark.dll");
    ASSERT_FALSE(tool.empty());
    ASSERT_FALSE(server.empty());
    Listed run;
    run.fileName = L"setup tool.exe";
    run.localPath = L"bin dir";
    run.content = tool;
    run.serverPath = L"files\\setup_tool.exe";
    run.execute = true;
    run.executePar = L"--after-update 1";
    Listed reg;
    reg.fileName = L"RegisterMark.dll";
    reg.localPath = L"bin dir";
    reg.content = server;
    reg.reg = true;
    Publish({run, reg});
    ui::Process p = Run();
    ASSERT_TRUE(p.WaitExit(kWait));
    EXPECT_EQ(HallStarts(), 1);
    // The started program records its command line once it runs; it is not waited for.
    std::wstring runLog = Installed(L"bin dir\\setup tool.exe.log");
    std::wstring mark = Installed(L"bin dir\\RegisterMark.dll.registered");
    DWORD start = ::GetTickCount();
    while ((!FileExistsAt(runLog) || !FileExistsAt(mark)) && ::GetTickCount() - start < kWait)
        ::Sleep(100);
    EXPECT_NE(ReadWholeFile(runLog).find("--after-update 1"), std::string::npos);
    EXPECT_TRUE(FileExistsAt(mark)) << "regsvr32 did not register the DLL";
}

TEST_F(ZorvaneE2E, ALockedOldFileIsLeftAloneAndTheSessionGoesOn)
{
    Listed locked = Changed(L"locked.dll", "old locked", "new locked");
    Listed other = Changed(L"other.dll", "old other", "new other");
    Publish({locked, other});
    // Another program holds the file open for reading, without letting it be moved.
    HANDLE holder = ::CreateFileW(Installed(L"locked.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    ui::Process p = Run();
    bool ended = p.WaitExit(kWait);
    ::CloseHandle(holder);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ReadWholeFile(Installed(L"locked.dll")), "old locked");
    EXPECT_EQ(ReadWholeFile(Installed(L"locked.dll.update")), "new locked");
    EXPECT_EQ(ReadWholeFile(Installed(L"other.dll")), "new other");
    EXPECT_EQ(HallStarts(), 1);
}

TEST_F(ZorvaneE2E, TheDrawnCloseButtonEndsTheProgramAtOnce)
{
    Listed slow;
    slow.fileName = L"big.dat";
    slow.content = std::string(4 << 20, 'x');
    slow.serverPath = L"slow\\big.dat";
    Publish({slow});
    ui::Process p = Run();
    HWND wnd = SessionWindow(p);
    ASSERT_NE(wnd, nullptr);
    ::Sleep(1500); // mid-transfer
    SaveShot(wnd, L"zorvane-transfer.bmp");
    ClickClose(wnd);
    ASSERT_TRUE(p.WaitExit(5000));
    EXPECT_EQ(p.ExitCode(), 0u);
    EXPECT_EQ(HallStarts(), 0);
    EXPECT_FALSE(FileExistsAt(Installed(L"big.dat")));
}

TEST_F(ZorvaneE2E, EscEndsTheRunAndCancelsTheTransfer)
{
    Listed slow;
    slow.fileName = L"big.dat";
    slow.content = std::string(4 << 20, 'y');
    slow.serverPath = L"slow\\big.dat";
    Publish({slow});
    ui::Process p = Run();
    HWND wnd = SessionWindow(p);
    ASSERT_NE(wnd, nullptr);
    ::Sleep(1500);
    ui::PostKey(wnd, VK_ESCAPE);
    ASSERT_TRUE(p.WaitExit(5000)); // the transfer was cancelled and joined
    EXPECT_EQ(HallStarts(), 0);
    EXPECT_FALSE(FileExistsAt(Installed(L"big.dat")));
    std::string partial = ReadWholeFile(Installed(L"big.dat.update"));
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), std::size_t(4) << 20);
}

TEST_F(ZorvaneE2E, TheCloseButtonDuringTheCheckLeavesNoListBehind)
{
    // 60,000 current files keep the program reading and checking for seconds.
    ASSERT_TRUE(WriteWholeFile(m_www + L"\\Update.xml",
                               UpdateXml(std::vector<Listed>(60000, Current(L"current.dat", "x")), Base())));
    // The program's temporary folder is the test's own (one process per test).
    const std::wstring temp = m_folder / L"temp";
    ASSERT_TRUE(::CreateDirectoryW(temp.c_str(), nullptr));
    ::SetEnvironmentVariableW(L"TMP", temp.c_str());
    ::SetEnvironmentVariableW(L"TEMP", temp.c_str());
    auto listSize = [&]() -> long long { // -1: no list file
        WIN32_FIND_DATAW fd;
        HANDLE f = ::FindFirstFileW((temp + L"\\*.tmp").c_str(), &fd);
        return f == INVALID_HANDLE_VALUE ? -1 : (::FindClose(f), static_cast<long long>(fd.nFileSizeLow));
    };
    ui::Process p = Run();
    HWND wnd = SessionWindow(p);
    ASSERT_NE(wnd, nullptr);
    // The check runs once the list has arrived: its file is gone or has stopped growing.
    DWORD start = ::GetTickCount(), steady = start;
    for (long long seen = 0, size; (size = listSize()) != -1 && ::GetTickCount() - start < kWait; seen = size) {
        if (size != seen || size == 0)
            steady = ::GetTickCount();
        else if (::GetTickCount() - steady >= 400)
            break;
        ::Sleep(50);
    }
    ClickClose(wnd);
    ASSERT_TRUE(p.WaitExit(5000));
    EXPECT_EQ(HallStarts(), 0) << "the check had ended before the click";
    EXPECT_EQ(listSize(), -1) << "the list was left in the temporary folder";
}
