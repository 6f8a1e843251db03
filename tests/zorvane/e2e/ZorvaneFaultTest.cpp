// Zorvane against a server that misbehaves: the real program under Wine, built with
// its update-list address on the scripted test server. One installed file, a newer
// one listed; each row of the table is one fault of the file's answer, and the
// outcome is what the user sees, what is left on disk and whether the hall starts.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "TestDisks.h"
#include "TempFolder.h"
#include "TestHttpServer.h"
#include "UiDriver.h"

namespace {

const DWORD kWait = 30000;
// A closed program ends well before a silent server's limit (15 s). Under the
// bench, tearing the window down costs about 4 s of shell time-outs (there is no
// notification area to answer) and the transfer queue gives a blocked transfer 2 s.
const DWORD kClosed = 10000;
const std::string kOld = "the installed file";

enum class Ends {
    Installed,     // the new file in place, no message, hall started
    FailedBox,     // a failure message box, then the hall (the file was the last)
    WaitsForUser,  // no answer yet: the user presses Esc, the program ends; no hall
};

struct Fault {
    const char* name;
    TestRoute route;
    std::size_t listedLength;
    Ends ends;
    std::optional<std::string> installed; // the file's content afterwards
};

TestRoute Answer(std::function<void(TestRoute&)> change)
{
    TestRoute r;
    r.body = TestHttpServer::GeneratedBody(20000);
    change(r);
    return r;
}

class ZorvaneFault : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_install = InstallFolder();
        if (m_install.empty())
            GTEST_SKIP() << "no such disk here: mounting was refused";
        ASSERT_TRUE(m_server.Start(VEXA_FAULT_PORT))
            << "port " << VEXA_FAULT_PORT << " on 127.0.0.1 is taken; move it with the CMake cache variable VEXA_FAULT_PORT";
        ASSERT_TRUE(::CopyFileW((ui::ProgramFolder() + L"zorvane_faultport.exe").c_str(),
                                (m_install + L"\\Zorvane.exe").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW((ui::ProgramFolder() + L"Mirabond.exe").c_str(),
                                (m_install + L"\\Mirabond.exe").c_str(), FALSE));
        ASSERT_TRUE(WriteWholeFile(Installed(L"a.dat"), kOld));
    }

    // An empty folder for the installation; empty when there can be none.
    virtual std::wstring InstallFolder()
    {
        std::wstring folder = m_folder / L"client";
        return ::CreateDirectoryW(folder.c_str(), nullptr) ? folder : std::wstring();
    }

    std::wstring Installed(const std::wstring& name) const { return m_install + L"\\" + name; }

    void List(std::size_t length)
    {
        // Listed far after the installed file's time, so it is fetched.
        TestRoute list;
        list.body = "<UpdateList><File><FileName>a.dat</FileName><Length>" + std::to_string(length) +
                    "</Length><FileDateHigh>2147483647</FileDateHigh><URL>" + m_server.BaseUrl() +
                    "/files/a.dat</URL></File></UpdateList>";
        m_server.Route("/Update.xml", list);
    }

    ui::Process Run()
    {
        return ui::Process::Start(Installed(L"Zorvane.exe"), L"http://127.0.0.1:9/serverlist.txt auto", m_install);
    }

    HWND SessionWindow(const ui::Process& p) const
    {
        return ui::WaitForWindow(
            [&](const ui::WindowInfo& w) {
                return w.processId == p.Id() && w.visible && w.className == L"#32770" && w.title.empty() &&
                       w.rect.right - w.rect.left == 368;
            },
            kWait);
    }

    bool HallStarted() const { return ui::HallStartsLogged(Installed(L"Mirabond.exe.log"), kWait) > 0; }

    // Runs the program and checks that it ends as a download that cannot be
    // written does: the code-7 message, then the hall; the installed file kept and
    // no part of the download left.
    void RunExpectingALocalFileFailure()
    {
        ui::Process p = Run();
        HWND box = ui::WaitForProcessWindow(p.Id(), L"#32770", kWait, L"Zorvane", false);
        ASSERT_NE(box, nullptr) << "no failure message";
        EXPECT_NE(ui::ReadMessageBox(box).text.find(L"下载文件失败 [a.dat], 错误代码 [7]"), std::wstring::npos);
        ui::PressButton(box);
        ASSERT_TRUE(p.WaitExit(kWait));
        EXPECT_TRUE(HallStarted());
        EXPECT_EQ(ReadWholeFile(Installed(L"a.dat")), kOld);
        EXPECT_FALSE(FileExistsAt(Installed(L"a.dat.update"))) << "a part of the download was left";
    }

    TestHttpServer m_server;
    TempFolder m_folder;
    std::wstring m_install;
};

TEST_F(ZorvaneFault, EachFaultOfTheFilesAnswerEndsAsDescribed)
{
    const std::string whole = TestHttpServer::GeneratedBody(20000);
    const Fault faults[] = {
        {"500", Answer([](TestRoute& r) { r.status = 500; r.reason = "Internal Server Error"; }), 20000,
         Ends::FailedBox, kOld},
        {"404", Answer([](TestRoute& r) { r.status = 404; r.reason = "Not Found"; }), 20000, Ends::FailedBox, kOld},
        {"206", Answer([](TestRoute& r) { r.status = 206; r.reason = "Partial Content"; }), 20000, Ends::FailedBox,
         kOld},
        {"304", Answer([](TestRoute& r) { r.status = 304; r.reason = "Not Modified"; r.body.clear(); }), 20000,
         Ends::FailedBox, kOld},
        {"chunked without length", Answer([](TestRoute& r) { r.chunked = true; r.chunkSize = 3000; }), 20000,
         Ends::Installed, whole},
        {"closed after 0 bytes", Answer([](TestRoute& r) { r.cutAfter = 0; }), 20000, Ends::FailedBox, kOld},
        {"closed after 1 byte", Answer([](TestRoute& r) { r.cutAfter = 1; }), 20000, Ends::FailedBox, kOld},
        {"closed after half", Answer([](TestRoute& r) { r.cutAfter = 10000; r.chunkSize = 1000; }), 20000,
         Ends::FailedBox, kOld},
        {"reset after half", Answer([](TestRoute& r) { r.cutAfter = 10000; r.chunkSize = 1000; r.reset = true; }),
         20000, Ends::FailedBox, kOld},
        // Without an announced length the end of the connection is the end of the body.
        {"closed after half, no length announced", Answer([](TestRoute& r) {
             r.contentLength = false;
             r.cutAfter = 10000;
         }),
         20000, Ends::Installed, whole.substr(0, 10000)},
        {"longer than listed", Answer([](TestRoute&) {}), 5000, Ends::Installed, whole},
        {"shorter than listed", Answer([](TestRoute&) {}), 90000, Ends::Installed, whole},
        {"never answers, closed by the user", Answer([](TestRoute& r) { r.neverAnswer = true; }), 20000,
         Ends::WaitsForUser, kOld},
        {"never answers, waited out", Answer([](TestRoute& r) { r.neverAnswer = true; }), 20000, Ends::FailedBox,
         kOld},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        ASSERT_TRUE(WriteWholeFile(Installed(L"a.dat"), kOld));
        ::DeleteFileW(Installed(L"a.dat.update").c_str());
        ::DeleteFileW(Installed(L"Mirabond.exe.log").c_str());
        List(f.listedLength);
        m_server.Route("/files/a.dat", f.route);
        ui::Process p = Run();
        if (f.ends == Ends::FailedBox) {
            HWND box = ui::WaitForProcessWindow(p.Id(), L"#32770", kWait, L"Zorvane", false);
            EXPECT_NE(box, nullptr) << "no failure message";
            if (box) {
                EXPECT_NE(ui::ReadMessageBox(box).text.find(L"下载文件失败 [a.dat]"), std::wstring::npos);
                ui::PressButton(box);
            }
        } else if (f.ends == Ends::WaitsForUser) {
            HWND wnd = SessionWindow(p);
            ASSERT_NE(wnd, nullptr);
            EXPECT_FALSE(p.WaitExit(3000)); // still waiting for the server
            DWORD_PTR answer = 0;
            EXPECT_NE(::SendMessageTimeoutW(wnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer), 0)
                << "the window does not answer";
            ui::PostKey(wnd, VK_ESCAPE);
            EXPECT_TRUE(p.WaitExit(kClosed)) << "the program outlived its window";
        }
        if (!p.WaitExit(kWait)) {
            ADD_FAILURE() << "the program did not end";
            p.Kill();
            continue;
        }
        EXPECT_EQ(HallStarted(), f.ends != Ends::WaitsForUser);
        std::string now = ReadWholeFile(Installed(L"a.dat"));
        EXPECT_EQ(now.size(), f.installed->size());
        EXPECT_TRUE(now == *f.installed) << "the installed file holds other bytes";
        EXPECT_FALSE(FileExistsAt(Installed(L"a.dat.zorvane-old")));
        if (f.ends == Ends::FailedBox) {
            EXPECT_FALSE(FileExistsAt(Installed(L"a.dat.update"))) << "a failed download was left";
        }
    }
}

TEST_F(ZorvaneFault, AListThatFailsOrNeverComesIsReported)
{
    enum class User { Waits, PressesEsc, ClicksClose };
    struct Row {
        const char* name;
        TestRoute route;
        User user;
    };
    const Row rows[] = {
        {"500", Answer([](TestRoute& r) { r.status = 500; r.reason = "Internal Server Error"; }), User::Waits},
        {"never answers", Answer([](TestRoute& r) { r.neverAnswer = true; }), User::PressesEsc},
        {"never answers, closed by the button", Answer([](TestRoute& r) { r.neverAnswer = true; }),
         User::ClicksClose},
        {"a slow body, closed by the button", Answer([](TestRoute& r) {
             r.chunkSize = 10;
             r.delayBetweenMs = 100;
         }),
         User::ClicksClose},
    };
    // The program's temporary folder is the test's own: the list's file must not stay there.
    const std::wstring temp = m_folder / L"temp";
    ::SetEnvironmentVariableW(L"TMP", temp.c_str());
    ::SetEnvironmentVariableW(L"TEMP", temp.c_str());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ::CreateDirectoryW(temp.c_str(), nullptr);
        ::DeleteFileW(Installed(L"Mirabond.exe.log").c_str());
        m_server.Route("/Update.xml", row.route);
        ui::Process p = Run();
        if (row.user != User::Waits) {
            HWND wnd = SessionWindow(p);
            ASSERT_NE(wnd, nullptr);
            EXPECT_FALSE(p.WaitExit(3000));
            if (row.user == User::PressesEsc) {
                ui::PostKey(wnd, VK_ESCAPE);
            } else {
                ui::PostMouse(wnd, WM_LBUTTONDOWN, 350, 6, MK_LBUTTON);
                ui::PostMouse(wnd, WM_LBUTTONUP, 350, 6);
            }
            EXPECT_TRUE(p.WaitExit(kClosed)) << "the program outlived its window";
        } else {
            HWND box = ui::WaitForProcessWindow(p.Id(), L"#32770", kWait, L"系统提示", false);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(ui::ReadMessageBox(box).text, L"取得服务器文件失败, 请选择其他服务器进行尝试");
            ui::PressButton(box);
        }
        ASSERT_TRUE(p.WaitExit(kWait));
        EXPECT_EQ(HallStarted(), row.user == User::Waits);
        EXPECT_EQ(ReadWholeFile(Installed(L"a.dat")), kOld);
        EXPECT_TRUE(::RemoveDirectoryW(temp.c_str())) << "the list's file was left in the temporary folder";
    }
}

TEST_F(ZorvaneFault, TwoInstancesAtOnceLeaveTheNewFileWhole)
{
    // Nothing keeps a second start out. Both fetch the same file; the one that
    // cannot write the download the other holds open says so (code 7).
    List(20000);
    TestRoute slow;
    slow.generated = 20000;
    slow.chunkSize = 2000;
    slow.delayBetweenMs = 50;
    m_server.Route("/files/a.dat", slow);
    ui::Process first = Run();
    ui::Process second = Run();
    for (ui::Process* p : {&first, &second}) {
        HWND box = nullptr;
        const DWORD start = ::GetTickCount();
        while (!p->WaitExit(100) && ::GetTickCount() - start < kWait)
            if ((box = ui::WaitForProcessWindow(p->Id(), L"#32770", 100, L"Zorvane", false)) != nullptr)
                break;
        if (!box) {
            EXPECT_FALSE(p->Running()) << "an instance neither ended nor asked anything";
            continue;
        }
        EXPECT_NE(ui::ReadMessageBox(box).text.find(L"下载文件失败 [a.dat], 错误代码 [7]"), std::wstring::npos)
            << Utf8(ui::ReadMessageBox(box).text);
        ui::PressButton(box);
        EXPECT_TRUE(p->WaitExit(kWait)) << "an instance did not end";
    }
    EXPECT_TRUE(ReadWholeFile(Installed(L"a.dat")) == TestHttpServer::GeneratedBody(20000));
    EXPECT_FALSE(FileExistsAt(Installed(L"a.dat.zorvane-old")));
    EXPECT_FALSE(FileExistsAt(Installed(L"a.dat.update")));
}

// The client on a disk with less room than the download needs.
class ZorvaneFullDisk : public ZorvaneFault {
protected:
    std::wstring InstallFolder() override { return test_disks::SmallFolder(L"zorvane"); }
    void TearDown() override
    {
        if (!m_install.empty())
            RemoveTree(m_install);
    }
};

TEST_F(ZorvaneFullDisk, ADownloadThatDoesNotFitFailsAndKeepsTheInstalledFile)
{
    const std::size_t size = 512 * 1024;
    List(size);
    TestRoute big;
    big.generated = size;
    m_server.Route("/files/a.dat", big);
    ASSERT_TRUE(test_disks::FillLeaving(m_install, 64 * 1024));
    RunExpectingALocalFileFailure();
}

// The client in a folder that cannot be written, run through a read-only view of
// the folder it was laid out in.
class ZorvaneReadOnly : public ZorvaneFault {
protected:
    std::wstring InstallFolder() override
    {
        m_pair = test_disks::ReadOnlyPair(L"zorvane");
        return m_pair.writable;
    }
    void TearDown() override
    {
        ::SetEnvironmentVariableW(L"VEXA_RECORDER_LOG", nullptr);
        if (!m_pair.writable.empty())
            RemoveTree(m_pair.writable);
    }
    test_disks::ReadOnlyFolder m_pair;
};

TEST_F(ZorvaneReadOnly, AFolderThatCannotBeWrittenFailsTheDownloadAndKeepsTheInstalledFile)
{
    List(20000);
    TestRoute file;
    file.generated = 20000;
    m_server.Route("/files/a.dat", file);
    // The hall double cannot write beside itself there.
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VEXA_RECORDER_LOG", Installed(L"Mirabond.exe.log").c_str()));
    m_install = m_pair.readOnly;
    RunExpectingALocalFileFailure();
}

TEST_F(ZorvaneFault, ASlowServerLeavesTheWindowResponsive)
{
    List(20000);
    TestRoute slow;
    slow.generated = 20000;
    slow.chunkSize = 100;
    slow.delayBetweenMs = 100; // 1 KB/s
    m_server.Route("/files/a.dat", slow);
    ui::Process p = Run();
    HWND wnd = SessionWindow(p);
    ASSERT_NE(wnd, nullptr);
    ::Sleep(1000);
    for (int i = 0; i < 10; ++i) {
        DWORD start = ::GetTickCount();
        DWORD_PTR answer = 0;
        ASSERT_NE(::SendMessageTimeoutW(wnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer), 0);
        EXPECT_LT(::GetTickCount() - start, 1000u);
        ::Sleep(200);
    }
    EXPECT_FALSE(p.WaitExit(0)); // still fetching
    ui::PostKey(wnd, VK_ESCAPE);
    ASSERT_TRUE(p.WaitExit(kWait));
    EXPECT_FALSE(HallStarted());
    EXPECT_EQ(ReadWholeFile(Installed(L"a.dat")), kOld);
}

} // namespace
