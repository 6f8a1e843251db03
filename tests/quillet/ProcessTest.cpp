// The real program, started the way the hall starts it, in a folder of its own
// with the doubles of the hall beside it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Crc32.h"
#include "QuilletTesting.h"
#include "TempFolder.h"
#include "TestHttpServer.h"
#include "UiDriver.h"

namespace {

const DWORD kWait = 20000;
const char kHallTitle[] = "Vexa自动更新程序 大厅plat";
const char kGameTitle[] = "Vexa自动更新程序 游戏(12)";

std::wstring Built(const wchar_t* name)
{
    return ui::ProgramFolder() + name;
}

HWND WaitForTitle(const char* title, DWORD timeoutMs)
{
    HWND found = nullptr;
    qtest::WaitFor([&] { return (found = ::FindWindowA(nullptr, title)) != nullptr; }, static_cast<int>(timeoutMs));
    return found;
}

int CountTitles(const char* title)
{
    int n = 0;
    for (HWND w = ::FindWindowExA(nullptr, nullptr, nullptr, title); w; w = ::FindWindowExA(nullptr, w, nullptr, title))
        ++n;
    return n;
}

// A process started by another one, known only by its window.
HANDLE OpenWindowProcess(HWND wnd)
{
    DWORD id = 0;
    ::GetWindowThreadProcessId(wnd, &id);
    return id ? ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id) : nullptr;
}

bool WaitProcessEnd(HANDLE process, DWORD timeoutMs)
{
    return process && ::WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
}

// Starts a Windows program as on a system of another ANSI code page: Wine takes
// a process's code page from its locale, and a Unix program started from a
// Windows one (here the shell that starts Wine again) gets the environment it is
// given. C.UTF-8 gives code page 1252. Nothing to wait for: the new process is
// known by its windows.
bool StartInLocale(const std::wstring& program, const std::wstring& parameter, const std::wstring& locale)
{
    std::wstring command = L"sh -c \"exec env -u LOCPATH LANG=" + locale + L" LC_ALL=" + locale +
                           L" \\\"${WINELOADER:-wine}\\\" \\\"$0\\\" \\\"$@\\\"\" \"" + program + L"\" \"" +
                           parameter + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(L"Z:\\bin\\sh", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return true;
}

class QuilletProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(::CopyFileW(Built(L"Quillet.exe").c_str(), (m_folder / L"Quillet.exe").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW(Built(L"Mirabond.exe").c_str(), (m_folder / L"Mirabond.exe").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW(Built(L"HallWindow.exe").c_str(), (m_folder / L"HallWindow.exe").c_str(), FALSE));
    }
    void TearDown() override
    {
        // The copies that the program started itself end with the test.
        for (const char* title : {kHallTitle, kGameTitle}) {
            while (HWND w = ::FindWindowA(nullptr, title)) {
                HANDLE p = OpenWindowProcess(w);
                if (!p)
                    break;
                ::TerminateProcess(p, 99);
                ::WaitForSingleObject(p, 5000);
                ::CloseHandle(p);
            }
        }
    }

    // Starts the shipped program from another current directory and waits for the
    // launcher to end.
    void Launch(const std::wstring& arguments)
    {
        ui::Process launcher = ui::Process::Start(m_folder / L"Quillet.exe", arguments, ui::ProgramFolder());
        ASSERT_TRUE(launcher.Started());
        ASSERT_TRUE(launcher.WaitExit(kWait));
    }

    // The updatelist.ini of one server of kind 1 on the test server.
    void UseTestServer()
    {
        ASSERT_TRUE(m_server.Start());
        ASSERT_TRUE(WriteWholeFile(m_folder / L"updatelist.ini",
                                   "# test\r\n1;1;test;127.0.0.1;" + std::to_string(m_server.Port()) + "\r\n"));
    }

    // Starts the hall's window double and waits until it can be found.
    ui::Process StartHall()
    {
        ui::Process hall = ui::Process::Start(m_folder / L"HallWindow.exe", L"60", m_folder.Path());
        EXPECT_TRUE(qtest::WaitFor([&] { return ReadWholeFile(m_folder / L"HallWindow.exe.log").find("ready") == 0; },
                                   static_cast<int>(kWait)));
        return hall;
    }

    std::vector<std::string> HallMessages() const
    {
        std::vector<std::string> out;
        std::string log = ReadWholeFile(m_folder / L"HallWindow.exe.log");
        for (std::size_t p = log.find("message\t"); p != std::string::npos; p = log.find("message\t", p + 1))
            out.push_back(log.substr(p, log.find("\r\n", p) - p));
        return out;
    }

    std::string Folder() const { return qtest::Narrow(m_folder.Path()); }

    TempFolder m_folder;
    TestHttpServer m_server;
};

} // namespace

TEST_F(QuilletProcessTest, TheLauncherCopiesItselfAndTheCopyStartsTheHallAfterOk)
{
    Launch(L"");
    // The launcher shows no window; the copy beside it does, with the hall title.
    EXPECT_EQ(ReadWholeFile(m_folder / L"Quillet.san"), ReadWholeFile(m_folder / L"Quillet.exe"));
    HWND wnd = WaitForTitle(kHallTitle, kWait);
    ASSERT_NE(wnd, nullptr);
    HANDLE worker = OpenWindowProcess(wnd);
    ASSERT_NE(worker, nullptr);

    // No server list: no update runs, the window waits. The OK command ends it and
    // the hall is started from the program's folder, whatever the update did.
    ::PostMessageA(wnd, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitProcessEnd(worker, kWait));
    ::CloseHandle(worker);
    ASSERT_TRUE(qtest::WaitFor([&] { return FileExistsAt(m_folder / L"Mirabond.exe.log"); }, kWait));
    std::string log = ReadWholeFile(m_folder / L"Mirabond.exe.log");
    EXPECT_NE(log.find("Mirabond.exe run\t"), std::string::npos) << log;
    EXPECT_NE(log.find("\t" + Folder()), std::string::npos) << log;
}

TEST_F(QuilletProcessTest, ASecondStartForTheSameTitleEndsAtOnce)
{
    Launch(L"plat");
    HWND wnd = WaitForTitle(kHallTitle, kWait);
    ASSERT_NE(wnd, nullptr);
    // A mark in the copy shows whether a second launcher overwrote it.
    FILETIME before{};
    {
        HANDLE h = ::CreateFileW((m_folder / L"Quillet.san").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                 FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ::GetFileTime(h, nullptr, nullptr, &before);
        ::CloseHandle(h);
    }
    ::Sleep(1100);

    for (const wchar_t* program : {L"Quillet.exe", L"Quillet.san"}) {
        ui::Process second = ui::Process::Start(m_folder / program, L"plat", ui::ProgramFolder());
        ASSERT_TRUE(second.Started());
        EXPECT_TRUE(second.WaitExit(kWait)) << program;
    }
    ::Sleep(500);
    EXPECT_EQ(CountTitles(kHallTitle), 1);
    HANDLE h = ::CreateFileW((m_folder / L"Quillet.san").c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME after{};
    ::GetFileTime(h, nullptr, nullptr, &after);
    ::CloseHandle(h);
    EXPECT_EQ(::CompareFileTime(&before, &after), 0);
    EXPECT_FALSE(FileExistsAt(m_folder / L"Mirabond.exe.log"));
}

TEST_F(QuilletProcessTest, EscapeEndsTheCopyWithoutHandingOver)
{
    Launch(L"plat");
    HWND wnd = WaitForTitle(kHallTitle, kWait);
    ASSERT_NE(wnd, nullptr);
    HANDLE worker = OpenWindowProcess(wnd);
    ::PostMessageA(wnd, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitProcessEnd(worker, kWait));
    ::CloseHandle(worker);
    ::Sleep(500);
    EXPECT_FALSE(FileExistsAt(m_folder / L"Mirabond.exe.log"));
}

TEST_F(QuilletProcessTest, GameModeNotifiesTheRunningHallAfterASuccessfulRun)
{
    UseTestServer();
    TestRoute list;
    list.body = "end\r\n"; // nothing to fetch
    m_server.Route("/Vexaupdate/12/filelist.list", list);
    ui::Process hall = StartHall();

    Launch(L"12,7");
    ASSERT_TRUE(qtest::WaitFor([&] { return !HallMessages().empty(); }, kWait));
    // WM_USER + 1000, wParam 20, lParam 7 x 65536 + 12.
    EXPECT_EQ(HallMessages(), (std::vector<std::string>{"message\t2024\t20\t458764"}));
    EXPECT_EQ(m_server.RequestCount("/Vexaupdate/12/filelist.list"), 1u);
    EXPECT_TRUE(qtest::WaitFor([&] { return ::FindWindowA(nullptr, kGameTitle) == nullptr; }, kWait));
    EXPECT_FALSE(FileExistsAt(m_folder / L"Mirabond.exe.log"));
}

TEST_F(QuilletProcessTest, AFailedRunInGameModeNotifiesNobody)
{
    UseTestServer(); // no list on the server: the run fails and posts OK
    ui::Process hall = StartHall();
    Launch(L"12,7");
    ASSERT_TRUE(qtest::WaitFor([&] { return m_server.RequestCount("/Vexaupdate/12/filelist.list") == 1; }, kWait));
    EXPECT_TRUE(qtest::WaitFor([&] { return ::FindWindowA(nullptr, kGameTitle) == nullptr; }, kWait));
    ::Sleep(500);
    EXPECT_TRUE(HallMessages().empty());
    EXPECT_FALSE(FileExistsAt(m_folder / L"Mirabond.exe.log"));
}

TEST_F(QuilletProcessTest, ASelfUpdateRestartsTheCopyWithTheSameParameter)
{
    UseTestServer();
    const std::string program = "the next program";
    TestRoute list;
    list.body = "\\:quillet.exe:" +
                std::to_string(static_cast<std::int32_t>(Crc32(CRC32_START, program.data(), program.size()))) +
                "\r\nend\r\n";
    m_server.Route("/Vexaupdate/12/filelist.list", list);
    TestRoute file;
    file.body = program;
    m_server.Route("/Vexaupdate/12/release/quillet.exe", file);
    ui::Process hall = StartHall();

    Launch(L"12,7");
    // The first run fetches the program and restarts the copy instead of
    // notifying; the second finds the program current and notifies.
    ASSERT_TRUE(qtest::WaitFor([&] { return !HallMessages().empty(); }, 2 * kWait));
    EXPECT_EQ(m_server.RequestCount("/Vexaupdate/12/filelist.list"), 2u);
    EXPECT_EQ(m_server.RequestCount("/Vexaupdate/12/release/quillet.exe"), 1u);
    EXPECT_EQ(ReadWholeFile(m_folder / L"Quillet.exe"), program);
    ::Sleep(500);
    EXPECT_EQ(HallMessages(), (std::vector<std::string>{"message\t2024\t20\t458764"}));
}

TEST_F(QuilletProcessTest, ASocketFailureShowsItsMessageAndEnds)
{
    ASSERT_TRUE(::CopyFileW(Built(L"quillet_sockfail.exe").c_str(), (m_folder / L"Quillet.exe").c_str(), FALSE));
    ui::Process p = ui::Process::Start(m_folder / L"Quillet.exe", L"plat", ui::ProgramFolder());
    ASSERT_TRUE(p.Started());
    HWND box = ui::WaitForProcessWindow(p.Id(), L"#32770", kWait);
    ASSERT_NE(box, nullptr);
    ui::MessageBoxInfo info = ui::ReadMessageBox(box);
    EXPECT_EQ(info.text, L"Windows 套接字初始化失败。");
    EXPECT_EQ(info.buttons.size(), 1u);
    ui::PressButton(box, IDOK);
    EXPECT_TRUE(p.WaitExit(kWait));
    // It ended before the role decision: no copy, nothing started.
    EXPECT_FALSE(FileExistsAt(m_folder / L"Quillet.san"));
    EXPECT_EQ(::FindWindowA(nullptr, kHallTitle), nullptr);
}

TEST_F(QuilletProcessTest, AFolderNamedInACodePageWithoutTwoByteCharactersRunsTheCopy)
{
    // "José\" is "Jos\xE9\\" in code page 1252, where 0xE9 leads no pair: the
    // backslash after it separates the folder.
    const std::wstring folder = m_folder / L"Jos\u00e9";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    for (const wchar_t* program : {L"Quillet.exe", L"Mirabond.exe"})
        ASSERT_TRUE(::CopyFileW((m_folder / program).c_str(), (folder + L"\\" + program).c_str(), FALSE));
    ASSERT_TRUE(StartInLocale(folder + L"\\Quillet.exe", L"plat", L"C.UTF-8"));

    // The copy knows itself and shows its window (its GBK title reads otherwise there).
    auto copysWindow = [](const ui::WindowInfo& w) {
        return w.className == L"#32770" && w.title.rfind(L"Vexa", 0) == 0 && w.title.size() > 4 &&
               w.title.compare(w.title.size() - 4, 4, L"plat") == 0;
    };
    HWND wnd = ui::WaitForWindow(copysWindow, kWait);
    ASSERT_NE(wnd, nullptr) << "the copy did not take itself for the copy";
    HANDLE worker = OpenWindowProcess(wnd);
    ASSERT_NE(worker, nullptr);
    EXPECT_TRUE(FileExistsAt(folder + L"\\Quillet.san"));

    // It hands over from its own folder.
    ::PostMessageA(wnd, WM_COMMAND, IDOK, 0);
    if (!WaitProcessEnd(worker, kWait)) {
        ADD_FAILURE() << "the copy did not end";
        ::TerminateProcess(worker, 1);
    }
    ::CloseHandle(worker);
    EXPECT_EQ(ui::HallStartsLogged(folder + L"\\Mirabond.exe.log", kWait), 1);
}

TEST(QuilletProgramFile, CarriesTheManifestThatAsksForAdministratorRights)
{
    HMODULE image = ::LoadLibraryExW(Built(L"Quillet.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    HRSRC res = ::FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)); // RT_MANIFEST
    ASSERT_NE(res, nullptr);
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(image, res)));
    std::string manifest(data, ::SizeofResource(image, res));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Quillet.exe.manifest\""), std::string::npos);
    EXPECT_NE(manifest.find("version=\"1.0.0.0\""), std::string::npos);
    // The processor of the build: the shipped 32-bit program says X86.
    const char* processor = sizeof(void*) == 8 ? "processorArchitecture=\"amd64\"" : "processorArchitecture=\"X86\"";
    EXPECT_NE(manifest.find(processor), std::string::npos);
    // The description in the manifest's own encoding, UTF-8.
    EXPECT_NE(manifest.find(u8"<description>Vexa游戏大厅更新</description>"), std::string::npos);
    // The dialog template the window is made from.
    EXPECT_NE(::FindResourceW(image, MAKEINTRESOURCEW(102), MAKEINTRESOURCEW(5)), nullptr); // RT_DIALOG
    ::FreeLibrary(image);
}

TEST_F(QuilletProcessTest, ClosingTheWindowDuringABlockedTransferEndsTheProcess)
{
    UseTestServer();
    TestRoute list;
    list.body = "\\:big.dat:1\r\nend\r\n";
    m_server.Route("/Vexaupdate/12/filelist.list", list);
    TestRoute never;
    never.neverAnswer = true; // the transfer waits in the network until the server stops
    m_server.Route("/Vexaupdate/12/release/big.dat", never);
    ui::Process hall = StartHall();

    Launch(L"12,7");
    HWND wnd = WaitForTitle(kGameTitle, kWait);
    ASSERT_NE(wnd, nullptr);
    HANDLE worker = OpenWindowProcess(wnd);
    ASSERT_NE(worker, nullptr);
    ASSERT_TRUE(qtest::WaitFor([&] { return m_server.RequestCount("/Vexaupdate/12/release/big.dat") == 1; },
                               static_cast<int>(kWait)));
    // The close button ends the dialog with IDOK while the fetch is blocked.
    ::PostMessageA(wnd, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitProcessEnd(worker, kWait));
    ::CloseHandle(worker);
    // The run had not succeeded yet: the hall is not notified.
    ::Sleep(300);
    EXPECT_TRUE(HallMessages().empty());
}
