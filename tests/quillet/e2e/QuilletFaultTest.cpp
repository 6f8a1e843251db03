// Quillet against a server that misbehaves: the real program under Wine, started
// as shipped (launcher, then its copy), with updatelist.ini pointing at the
// scripted test server. One installed file, a changed one listed; each row of the
// table is one fault of the server's answer, and the outcome is what is left on
// disk, how often the file was asked for and whether the hall starts.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "Crc32.h"
#include "TestDisks.h"
#include "TempFolder.h"
#include "TestHttpServer.h"
#include "UiDriver.h"

namespace {

const DWORD kWait = 30000;
// A closed program ends well before a silent server would let it.
const DWORD kClosed = 10000;
const wchar_t kTitle[] = L"Vexa自动更新程序 大厅plat";
const std::string kOld = "the installed file";
const char kList[] = "/Vexaupdate/plat/filelist.list";
const char kFile[] = "/Vexaupdate/plat/release/a.dat";

enum class Ends {
    ByItself,   // the run ends on its own and hands over to the hall
    ByTheUser,  // the run waits; the close button ends it, and it hands over
};

struct Fault {
    const char* name;
    TestRoute route;
    Ends ends;
    std::string installed; // a.dat afterwards
    std::size_t requests = 1; // of a.dat: a body cut short is tried once more
};

TestRoute Answer(const std::function<void(TestRoute&)>& change)
{
    TestRoute r;
    r.body = TestHttpServer::GeneratedBody(20000);
    change(r);
    return r;
}

std::int32_t Checksum(const std::string& bytes)
{
    return static_cast<std::int32_t>(Crc32(0xFFFFFFFFu, bytes.data(), bytes.size()));
}

class QuilletFault : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_install = InstallFolder();
        if (m_install.empty())
            GTEST_SKIP() << "no such disk here: mounting was refused";
        ASSERT_TRUE(m_server.Start());
        for (const wchar_t* program : {L"Quillet.exe", L"Mirabond.exe"})
            ASSERT_TRUE(::CopyFileW((ui::ProgramFolder() + program).c_str(), Installed(program).c_str(), FALSE));
        const std::string ini = "1;1;faults;127.0.0.1;" + std::to_string(m_server.Port()) + "\r\n";
        ASSERT_TRUE(WriteWholeFile(Installed(L"updatelist.ini"), ini));
        // The list names the whole generated body; the reader needs a line after the record.
        TestRoute list;
        list.body = "\\:a.dat:" + std::to_string(Checksum(TestHttpServer::GeneratedBody(20000))) + "\r\nend\r\n";
        m_server.Route(kList, list);
    }

    void TearDown() override
    {
        // A worker left by a failed row must not meet the next test.
        for (const ui::WindowInfo& w : ui::TopLevelWindows())
            if (w.title == kTitle) {
                HANDLE p = WorkerOf(w.hwnd);
                if (p) {
                    ::TerminateProcess(p, 1);
                    ::WaitForSingleObject(p, 5000);
                    ::CloseHandle(p);
                }
            }
    }

    // An empty folder for the installation; empty when there can be none.
    virtual std::wstring InstallFolder()
    {
        std::wstring folder = m_folder / L"游戏 中心"; // a blank and Chinese characters
        return ::CreateDirectoryW(folder.c_str(), nullptr) ? folder : std::wstring();
    }

    std::wstring Installed(const std::wstring& name) const { return m_install + L"\\" + name; }

    // Whether a download's part file is left beside the file.
    bool PartLeft() const
    {
        WIN32_FIND_DATAW data;
        HANDLE find = ::FindFirstFileW(Installed(L"~*.part").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return false;
        ::FindClose(find);
        return true;
    }

    static HANDLE WorkerOf(HWND wnd)
    {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(wnd, &pid);
        return ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    }

    // Starts the shipped program and answers the copy's window (null when none came).
    HWND Launch() const
    {
        ui::Process launcher = ui::Process::Start(Installed(L"Quillet.exe"), L"", m_install);
        EXPECT_TRUE(launcher.Started());
        EXPECT_TRUE(launcher.WaitExit(kWait));
        return ui::WaitForWindow(
            [](const ui::WindowInfo& w) { return w.visible && w.className == L"#32770" && w.title == kTitle; },
            kWait);
    }

    static void PressClose(HWND wnd)
    {
        HWND button = ::FindWindowExW(wnd, nullptr, L"Button", nullptr);
        ASSERT_NE(button, nullptr);
        ui::PostMouse(button, WM_MOUSEMOVE, 10, 10);
        ui::PostMouse(button, WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
        ui::PostMouse(button, WM_LBUTTONUP, 10, 10);
    }

    static bool Answers(HWND wnd)
    {
        DWORD_PTR answer = 0;
        return ::SendMessageTimeoutW(wnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer) != 0;
    }

    int HallStarts() const { return ui::HallStartsLogged(Installed(L"Mirabond.exe.log"), kWait); }

    // Runs the program once; false (with a failure) when it did not end as the row says.
    bool RunUntilItEnds(Ends ends)
    {
        if (ends == Ends::ByItself) {
            // A run that fails at once may show its window too briefly to be
            // seen: wait for the copy (started before the launcher ends) to end.
            ui::Process launcher = ui::Process::Start(Installed(L"Quillet.exe"), L"", m_install);
            EXPECT_TRUE(launcher.Started());
            EXPECT_TRUE(launcher.WaitExit(kWait));
            const bool ended = ui::WaitNoProcessNamed(L"Quillet.san", kWait);
            EXPECT_TRUE(ended) << "the program did not end";
            return ended;
        }
        HWND wnd = Launch();
        if (!wnd) {
            ADD_FAILURE() << "no window";
            return false;
        }
        HANDLE worker = WorkerOf(wnd);
        if (!worker) {
            ADD_FAILURE() << "no worker";
            return false;
        }
        EXPECT_EQ(::WaitForSingleObject(worker, 3000), WAIT_TIMEOUT) << "it did not wait for the server";
        EXPECT_TRUE(Answers(wnd)) << "the window does not answer while it waits";
        PressClose(wnd);
        const bool ended = ::WaitForSingleObject(worker, kClosed) == WAIT_OBJECT_0;
        if (!ended) {
            ADD_FAILURE() << "the program did not end";
            ::TerminateProcess(worker, 1);
            ::WaitForSingleObject(worker, 5000);
        }
        ::CloseHandle(worker);
        return ended;
    }

    TestHttpServer m_server;
    TempFolder m_folder;
    std::wstring m_install;
};

TEST_F(QuilletFault, EachFaultOfTheFilesAnswerEndsAsDescribed)
{
    const std::string whole = TestHttpServer::GeneratedBody(20000);
    const Fault faults[] = {
        {"500", Answer([](TestRoute& r) { r.status = 500; r.reason = "Internal Server Error"; }), Ends::ByItself, kOld},
        {"404", Answer([](TestRoute& r) { r.status = 404; r.reason = "Not Found"; }), Ends::ByItself, kOld},
        {"206", Answer([](TestRoute& r) { r.status = 206; r.reason = "Partial Content"; }), Ends::ByItself, kOld},
        {"304", Answer([](TestRoute& r) { r.status = 304; r.reason = "Not Modified"; r.body.clear(); }),
         Ends::ByItself, kOld},
        {"chunked without length", Answer([](TestRoute& r) { r.chunked = true; r.chunkSize = 3000; }),
         Ends::ByItself, kOld},
        {"no length, closed at the end", Answer([](TestRoute& r) { r.contentLength = false; r.cutAfter = 20000; }),
         Ends::ByItself, kOld},
        {"closed after 0 bytes", Answer([](TestRoute& r) { r.cutAfter = 0; }), Ends::ByItself, kOld, 2},
        {"closed after 1 byte", Answer([](TestRoute& r) { r.cutAfter = 1; }), Ends::ByItself, kOld, 2},
        {"closed after half", Answer([](TestRoute& r) { r.cutAfter = 10000; r.chunkSize = 1000; }), Ends::ByItself,
         kOld, 2},
        {"reset after half", Answer([](TestRoute& r) { r.cutAfter = 10000; r.chunkSize = 1000; r.reset = true; }),
         Ends::ByItself, kOld, 2},
        {"closed after half once, then whole",
         Answer([](TestRoute& r) { r.cutAfter = 10000; r.chunkSize = 1000; r.cutAnswers = 1; }), Ends::ByItself,
         whole, 2},
        {"longer than its Content-Length", Answer([](TestRoute& r) { r.declaredLength = 20000; r.body += "extra"; }),
         Ends::ByItself, whole},
        {"a whole body", Answer([](TestRoute&) {}), Ends::ByItself, whole},
        {"never answers", Answer([](TestRoute& r) { r.neverAnswer = true; }), Ends::ByTheUser, kOld},
        {"slow, 1 KB/s", Answer([](TestRoute& r) { r.chunkSize = 100; r.delayBetweenMs = 100; }), Ends::ByTheUser,
         kOld},
    };
    int hallStarts = 0;
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        ASSERT_TRUE(WriteWholeFile(Installed(L"a.dat"), kOld));
        m_server.Route(kFile, f.route);
        m_server.ClearRequests();
        if (!RunUntilItEnds(f.ends))
            continue;
        EXPECT_EQ(HallStarts(), ++hallStarts) << "the hall was not started";
        const std::string now = ReadWholeFile(Installed(L"a.dat"));
        EXPECT_EQ(now.size(), f.installed.size());
        EXPECT_TRUE(now == f.installed) << "the installed file holds other bytes";
        EXPECT_FALSE(PartLeft() && f.ends == Ends::ByItself) << "a part was left";
        // A body cut short is tried once more; another failure is not tried again in
        // the same run, and a whole body is checked once.
        EXPECT_EQ(m_server.RequestCount(kFile), f.requests);
    }
}

TEST_F(QuilletFault, AnInstalledFileInUseIsLeftAsItWas)
{
    m_server.Route(kFile, Answer([](TestRoute&) {}));
    ASSERT_TRUE(WriteWholeFile(Installed(L"a.dat"), kOld));
    HANDLE hold = ::CreateFileW(Installed(L"a.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    const bool ended = RunUntilItEnds(Ends::ByItself);
    ::CloseHandle(hold);
    ASSERT_TRUE(ended);
    EXPECT_EQ(HallStarts(), 1);
    EXPECT_EQ(ReadWholeFile(Installed(L"a.dat")), kOld);
    EXPECT_FALSE(PartLeft());
}

TEST_F(QuilletFault, AListThatFailsOrNeverComesEndsTheRunAndHandsOver)
{
    struct Row {
        const char* name;
        TestRoute route;
        Ends ends;
    };
    // Lines without ":" before a record that fails: read in one pass, not one
    // pass per line.
    std::string lines;
    while (lines.size() < (2u << 20))
        lines += "no colon here\r\n";
    // The updater's own program, present and current, listed so often that
    // summing it takes minutes: closing the window ends the process all the same.
    const std::string program = "\\:Quillet.exe:" + std::to_string(Checksum(ReadWholeFile(Installed(L"Quillet.exe")))) +
                                "\r\n";
    std::string repeated;
    for (int i = 0; i < 200000; ++i)
        repeated += program;
    const Row rows[] = {
        {"500", Answer([](TestRoute& r) { r.status = 500; r.reason = "Internal Server Error"; }), Ends::ByItself},
        {"cut after half", Answer([](TestRoute& r) { r.cutAfter = 10000; }), Ends::ByItself},
        {"never answers", Answer([](TestRoute& r) { r.neverAnswer = true; }), Ends::ByTheUser},
        {"2 MB of lines without a colon, then \"::0\"", Answer([&](TestRoute& r) { r.body = lines + "::0\r\nend\r\n"; }),
         Ends::ByItself},
        {"the program listed 200,000 times", Answer([&](TestRoute& r) { r.body = repeated + "end\r\n"; }),
         Ends::ByTheUser},
    };
    int hallStarts = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(WriteWholeFile(Installed(L"a.dat"), kOld));
        m_server.Route(kList, row.route);
        m_server.ClearRequests();
        if (!RunUntilItEnds(row.ends))
            continue;
        EXPECT_EQ(HallStarts(), ++hallStarts);
        EXPECT_EQ(m_server.RequestCount(kFile), 0u);
        EXPECT_EQ(ReadWholeFile(Installed(L"a.dat")), kOld);
    }
}

// The game center on a disk with less room than the download needs.
class QuilletFullDisk : public QuilletFault {
protected:
    std::wstring InstallFolder() override { return test_disks::SmallFolder(L"quillet"); }
    void TearDown() override
    {
        QuilletFault::TearDown();
        if (!m_install.empty())
            RemoveTree(m_install);
    }
};

TEST_F(QuilletFullDisk, ADownloadThatDoesNotFitFailsAndKeepsTheInstalledFile)
{
    const std::size_t size = 512 * 1024;
    TestRoute list;
    list.body = "\\:a.dat:" + std::to_string(Checksum(TestHttpServer::GeneratedBody(size))) + "\r\nend\r\n";
    m_server.Route(kList, list);
    TestRoute big;
    big.generated = size;
    m_server.Route(kFile, big);
    ASSERT_TRUE(WriteWholeFile(Installed(L"a.dat"), kOld));
    // The launcher's copy of itself takes its room before the disk is filled.
    ASSERT_TRUE(::CopyFileW(Installed(L"Quillet.exe").c_str(), Installed(L"Quillet.san").c_str(), FALSE));
    ASSERT_TRUE(test_disks::FillLeaving(m_install, 64 * 1024));
    ASSERT_TRUE(RunUntilItEnds(Ends::ByItself));
    EXPECT_EQ(HallStarts(), 1);
    EXPECT_EQ(m_server.RequestCount(kFile), 1u);
    EXPECT_EQ(ReadWholeFile(Installed(L"a.dat")), kOld);
    EXPECT_FALSE(PartLeft()) << "the part that fitted was left";
}

// The game center on the large disk, with its data folder on another disk that
// is full (a folder joined to another disk).
class QuilletJoinedDisk : public QuilletFault {
protected:
    std::wstring InstallFolder() override { return test_disks::JoinedFolder(); }
    void TearDown() override
    {
        QuilletFault::TearDown();
        if (!m_install.empty())
            RemoveTree(Installed(L"data\\filler.bin")); // the next test needs the room
    }
};

TEST_F(QuilletJoinedDisk, AFileOnAnotherDiskThatIsFullKeepsItsInstalledBytes)
{
    const std::size_t size = 512 * 1024;
    TestRoute list;
    list.body = "data:a.dat:" + std::to_string(Checksum(TestHttpServer::GeneratedBody(size))) + "\r\nend\r\n";
    m_server.Route(kList, list);
    TestRoute big;
    big.generated = size;
    m_server.Route("/Vexaupdate/plat/release/data/a.dat", big);
    ASSERT_TRUE(WriteWholeFile(Installed(L"data\\a.dat"), kOld));
    ASSERT_TRUE(test_disks::FillLeaving(Installed(L"data"), 64 * 1024));
    ASSERT_TRUE(RunUntilItEnds(Ends::ByItself));
    EXPECT_EQ(HallStarts(), 1);
    EXPECT_EQ(m_server.RequestCount("/Vexaupdate/plat/release/data/a.dat"), 1u);
    EXPECT_TRUE(ReadWholeFile(Installed(L"data\\a.dat")) == kOld) << "the installed file was written over";
}

// The game center in a folder that cannot be written, run through a read-only
// view of the folder it was laid out in.
class QuilletReadOnly : public QuilletFault {
protected:
    std::wstring InstallFolder() override
    {
        m_pair = test_disks::ReadOnlyPair(L"quillet");
        return m_pair.writable;
    }
    void TearDown() override
    {
        QuilletFault::TearDown();
        ::SetEnvironmentVariableW(L"VEXA_RECORDER_LOG", nullptr);
        if (!m_pair.writable.empty())
            RemoveTree(m_pair.writable);
    }
    test_disks::ReadOnlyFolder m_pair;
};

TEST_F(QuilletReadOnly, ALauncherThatCannotCopyItselfEndsAndStartsNothing)
{
    ASSERT_TRUE(WriteWholeFile(Installed(L"a.dat"), kOld));
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VEXA_RECORDER_LOG", Installed(L"Mirabond.exe.log").c_str()));
    m_install = m_pair.readOnly;
    ui::Process launcher = ui::Process::Start(Installed(L"Quillet.exe"), L"", m_install);
    ASSERT_TRUE(launcher.Started());
    ASSERT_TRUE(launcher.WaitExit(kWait));
    EXPECT_EQ(ui::WaitForWindow([](const ui::WindowInfo& w) { return w.title == kTitle; }, 3000), nullptr);
    EXPECT_EQ(HallStarts(), 0);
    EXPECT_FALSE(FileExistsAt(Installed(L"Quillet.san")));
    EXPECT_EQ(m_server.RequestCount(kList), 0u);
    EXPECT_EQ(ReadWholeFile(Installed(L"a.dat")), kOld);
}

} // namespace
