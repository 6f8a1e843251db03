#include "Updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "Crc32.h"
#include "QuilletTesting.h"
#include "TempFolder.h"
#include "TestHttpServer.h"
#include "UpdateRules.h"

namespace {

// The updater's window as far as the update thread sees it: a message-only
// window that keeps the commands posted to it.
class CommandWindow {
public:
    CommandWindow()
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"QuilletTestCommandWindow";
        ::RegisterClassW(&wc);
        m_hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
        ::SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~CommandWindow() { ::DestroyWindow(m_hwnd); }
    CommandWindow(const CommandWindow&) = delete;
    CommandWindow& operator=(const CommandWindow&) = delete;

    HWND Handle() const { return m_hwnd; }

    // Pumps until a command has arrived; false on time-out.
    bool PumpUntilCommand(DWORD timeoutMs)
    {
        DWORD start = ::GetTickCount();
        while (m_commands.empty()) {
            if (::GetTickCount() - start > timeoutMs)
                return false;
            MSG m;
            while (::PeekMessageW(&m, m_hwnd, 0, 0, PM_REMOVE))
                ::DispatchMessageW(&m);
            ::Sleep(10);
        }
        return true;
    }
    void Pump(DWORD ms)
    {
        DWORD start = ::GetTickCount();
        do {
            MSG m;
            while (::PeekMessageW(&m, m_hwnd, 0, 0, PM_REMOVE))
                ::DispatchMessageW(&m);
            ::Sleep(10);
        } while (::GetTickCount() - start < ms);
    }

    struct Command {
        WPARAM wParam;
        LPARAM lParam;
    };
    const std::vector<Command>& Commands() const { return m_commands; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<CommandWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (msg == WM_COMMAND && self) {
            self->m_commands.push_back(Command{wParam, lParam});
            return 0;
        }
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }

    HWND m_hwnd = nullptr;
    std::vector<Command> m_commands;
};

// Records every status line and the overall progress at each repaint of its bar.
class TestUpdater : public CUpdater {
public:
    // Before the recording goes, so that no hook of a running thread reaches it.
    ~TestUpdater() override { StopUpdateThread(); }

    void OnStatus(int code, const char* text) override
    {
        CUpdater::OnStatus(code, text);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (code >= NOTIFY_FETCH_BEGIN && code <= NOTIFY_TEXT)
            m_lines.push_back(StatusText());
    }
    std::vector<std::string> Lines() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    // The overall progress each time its bar was repainted, repeats folded.
    std::vector<std::int32_t> OverallSteps() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_overall;
    }

    // From now on the first repaint of the file bar, which the transfer thread
    // asks for with the transfer lock held, does not return until Release: a
    // call that hangs, as one into a disk that stopped answering does.
    void HangAtFileBar() { m_hang = true; }
    bool Hanging() const { return m_hanging; }
    void Release() { ::SetEvent(m_released.Get()); }

protected:
    void Invalidate(const Area& area) override
    {
        if (area.top == AREA_FILE_BAR.top && m_hang.exchange(false)) {
            m_hanging = true;
            ::WaitForSingleObject(m_released.Get(), INFINITE);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (area.top == AREA_OVERALL_BAR.top && area.left == AREA_OVERALL_BAR.left &&
            area.height == AREA_OVERALL_BAR.height) {
            std::int32_t v = OverallProgress();
            if (m_overall.empty() || m_overall.back() != v)
                m_overall.push_back(v);
        }
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::vector<std::int32_t> m_overall;
    std::atomic<bool> m_hang{false};
    std::atomic<bool> m_hanging{false};
    CKernelHandle m_released{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

std::int32_t CrcOf(const std::string& data)
{
    return static_cast<std::int32_t>(Crc32(CRC32_START, data.data(), data.size()));
}

std::string Begin(const std::string& path)
{
    return std::string(TEXT_FETCH_BEGIN) + path + ")";
}
std::string End(const std::string& path)
{
    return std::string(TEXT_FETCH_END) + path + ")";
}

const char kListTarget[] = "/Vexaupdate/plat/filelist.list";
const char kListPath[] = "updatetmp/plat/filelist.list";

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Start());
        wchar_t cwd[MAX_PATH * 2];
        m_oldDirectory.assign(cwd, ::GetCurrentDirectoryW(MAX_PATH * 2, cwd));
        ASSERT_TRUE(::SetCurrentDirectoryW(m_folder.Path().c_str()));
        m_updater = std::make_unique<TestUpdater>();
        m_updater->SetProgramFolder(qtest::Narrow(m_folder.Path()) + "\\");
        m_updater->SetFolder("plat");
        m_updater->SetWindow(m_window.Handle());
        UpdateServer server;
        server.id = 1;
        server.kind = 1;
        server.name = "main";
        server.host = "127.0.0.1";
        server.port = m_server.Port();
        m_updater->SetUpdateServers({server});
    }
    void TearDown() override
    {
        m_updater.reset();
        ::SetCurrentDirectoryW(m_oldDirectory.c_str());
    }

    // A file of the release, served and listed with its checksum.
    void Serve(const std::string& urlPath, const std::string& content)
    {
        TestRoute route;
        route.body = content;
        m_server.Route(urlPath, route);
    }
    void ServeList(const std::string& list)
    {
        TestRoute route;
        route.body = list;
        m_server.Route(kListTarget, route);
    }

    // Starts the run and waits for the OK command that ends it.
    void Run()
    {
        ASSERT_TRUE(m_updater->PickUpdateServerWith(1, 0));
        ASSERT_TRUE(m_window.PumpUntilCommand(30000));
        ASSERT_TRUE(m_updater->WaitUpdateThread(10000));
    }

    std::size_t Requests(const std::string& target) const { return m_server.RequestCount(target); }

    TestHttpServer m_server;
    TempFolder m_folder;
    CommandWindow m_window;
    std::wstring m_oldDirectory;
    std::unique_ptr<TestUpdater> m_updater;
};

} // namespace

TEST_F(UpdaterTest, ASecondEntryThatFailsDoesNotStopTheRun)
{
    Serve("/Vexaupdate/plat/release/a.dat", "first");
    Serve("/Vexaupdate/plat/release/c.dat", "third");
    ServeList("\\:a.dat:" + std::to_string(CrcOf("first")) + "\r\n\\:b.dat:5\r\n\\:c.dat:" +
              std::to_string(CrcOf("third")) + "\r\nend\r\n");
    Run();

    EXPECT_EQ(m_updater->Lines(),
              (std::vector<std::string>{TEXT_CONNECTING, Begin(kListPath), End(kListPath), TEXT_GETTING,
                                        Begin("a.dat"), End("a.dat"), Begin("b.dat"), TEXT_FILE_FAILED,
                                        Begin("c.dat"), End("c.dat"), TEXT_DONE}));
    EXPECT_EQ(m_updater->EntryCount(), 3);
    EXPECT_EQ(m_updater->EntryIndex(), 2);
    // 0 at the start; during a.dat and after it 3333; c.dat: 3333 + 10000 / 3
    // during, 6666 after it; 10000 when the thread ends.
    std::vector<std::int32_t> steps = m_updater->OverallSteps();
    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps.front(), 0);
    EXPECT_EQ(steps[steps.size() - 2], 6666);
    EXPECT_EQ(steps.back(), 10000);
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
    EXPECT_EQ(m_updater->OverallProgress(), 10000);
    EXPECT_TRUE(m_updater->UpdateSucceeded());
    EXPECT_FALSE(m_updater->SelfUpdated());
    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dat"), "first");
    EXPECT_FALSE(FileExistsAt(m_folder / L"b.dat"));
    EXPECT_EQ(ReadWholeFile(m_folder / L"c.dat"), "third");
    // The list stays where it was fetched.
    EXPECT_TRUE(FileExistsAt(m_folder / L"updatetmp\\plat\\filelist.list"));
}

TEST_F(UpdaterTest, PartsLeftByARunThatEndedDuringADownloadAreRemoved)
{
    // Parts grow beside the listed files.
    ASSERT_TRUE(::CreateDirectoryW((m_folder / L"sub").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(m_folder / L"sub\\b.dat", "b"));
    ASSERT_TRUE(WriteWholeFile(m_folder / L"sub\\~1a-2b.part", "left"));
    ASSERT_TRUE(WriteWholeFile(m_folder / L"sub\\~3c-4d.part", "just closed"));
    ASSERT_TRUE(WriteWholeFile(m_folder / L"sub\\~notes.part", "not a part's name"));
    // The left one was last written an hour ago.
    HANDLE h = ::CreateFileW((m_folder / L"sub\\~1a-2b.part").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= 3600ull * 10000000ull;
    FILETIME hourAgo{t.LowPart, t.HighPart};
    ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &hourAgo));
    ::CloseHandle(h);
    ServeList("sub:b.dat:" + std::to_string(CrcOf("b")) + "\r\nend\r\n");
    Run();
    EXPECT_FALSE(FileExistsAt(m_folder / L"sub\\~1a-2b.part"));
    EXPECT_TRUE(FileExistsAt(m_folder / L"sub\\~3c-4d.part"));
    EXPECT_TRUE(FileExistsAt(m_folder / L"sub\\~notes.part"));
}

TEST_F(UpdaterTest, TheEndOfTheThreadPostsOkOnce)
{
    ServeList("\\:a.dat:1\r\nend\r\n");
    Serve("/Vexaupdate/plat/release/a.dat", "x");
    Run();
    m_window.Pump(300);
    ASSERT_EQ(m_window.Commands().size(), 1u);
    EXPECT_EQ(m_window.Commands()[0].wParam, static_cast<WPARAM>(IDOK));
    EXPECT_EQ(m_window.Commands()[0].lParam, 0);
    EXPECT_FALSE(m_updater->HasUpdateThread());
}

TEST_F(UpdaterTest, SkippedEntriesAreNeitherFetchedNorCounted)
{
    Serve("/Vexaupdate/plat/release/a.dat", "a");
    ServeList("UPDATETMP:x.dat:1\r\n\\:WinMM.dll:2\r\nUpdateTmp:newdir:0\r\n\\:a.dat:" + std::to_string(CrcOf("a")) +
              "\r\nend\r\n");
    Run();
    EXPECT_EQ(Requests("/Vexaupdate/plat/release/UPDATETMP/x.dat"), 0u);
    EXPECT_EQ(Requests("/Vexaupdate/plat/release/WinMM.dll"), 0u);
    EXPECT_FALSE(FolderExistsAt(m_folder / L"UpdateTmp\\newdir"));
    EXPECT_EQ(m_server.Requests().size(), 2u); // the list and a.dat
    EXPECT_EQ(m_updater->EntryCount(), 4);
    EXPECT_EQ(m_updater->EntryIndex(), 1);
    std::vector<std::int32_t> steps = m_updater->OverallSteps();
    ASSERT_GE(steps.size(), 2u);
    EXPECT_EQ(steps[steps.size() - 2], 2500);
}

TEST_F(UpdaterTest, BothSpellingsOfTheRootGiveTheSamePlaces)
{
    Serve("/Vexaupdate/plat/release/r1.dat", "one");
    Serve("/Vexaupdate/plat/release/r2.dat", "two");
    ServeList("/:r1.dat:" + std::to_string(CrcOf("one")) + "\r\n\\:r2.dat:" + std::to_string(CrcOf("two")) +
              "\r\nend\r\n");
    Run();
    EXPECT_EQ(Requests("/Vexaupdate/plat/release/r1.dat"), 1u);
    EXPECT_EQ(Requests("/Vexaupdate/plat/release/r2.dat"), 1u);
    EXPECT_EQ(ReadWholeFile(m_folder / L"r1.dat"), "one");
    EXPECT_EQ(ReadWholeFile(m_folder / L"r2.dat"), "two");
    std::vector<std::string> lines = m_updater->Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), End("r1.dat")), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), End("r2.dat")), lines.end());
}

TEST_F(UpdaterTest, DirectoriesAreCreatedAndFilesFetchedIntoThem)
{
    Serve("/Vexaupdate/plat/release/sub/data/a.dat", "deep");
    // A directory entry (no dot) creates every level; the file then goes below it.
    ServeList("sub\\data:more:0\r\nsub\\data:a.dat:" + std::to_string(CrcOf("deep")) + "\r\n/:top:0\r\nend\r\n");
    Run();
    EXPECT_TRUE(FolderExistsAt(m_folder / L"sub\\data\\more"));
    EXPECT_TRUE(FolderExistsAt(m_folder / L"top"));
    EXPECT_EQ(Requests("/Vexaupdate/plat/release/sub/data/a.dat"), 1u);
    EXPECT_EQ(ReadWholeFile(m_folder / L"sub\\data\\a.dat"), "deep");
    std::vector<std::string> lines = m_updater->Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), End("sub\\data\\a.dat")), lines.end());
    EXPECT_EQ(m_updater->EntryIndex(), 3);
}

TEST_F(UpdaterTest, AFileWithTheWrongChecksumIsFetchedOnceMore)
{
    Serve("/Vexaupdate/plat/release/bad.dat", "not what the list says");
    Serve("/Vexaupdate/plat/release/good.dat", "good");
    ServeList("\\:bad.dat:12345\r\n\\:good.dat:" + std::to_string(CrcOf("good")) + "\r\nend\r\n");
    Run();
    EXPECT_EQ(Requests("/Vexaupdate/plat/release/bad.dat"), 2u);
    EXPECT_EQ(Requests("/Vexaupdate/plat/release/good.dat"), 1u);
    EXPECT_EQ(m_updater->EntryIndex(), 2);
    EXPECT_TRUE(m_updater->UpdateSucceeded());
}

TEST_F(UpdaterTest, TheUpdatersOwnProgramSetsTheSelfUpdatedFlag)
{
    Serve("/Vexaupdate/plat/release/quillet.exe", "new program");
    ServeList("\\:quillet.exe:" + std::to_string(CrcOf("new program")) + "\r\nend\r\n");
    Run();
    EXPECT_TRUE(m_updater->SelfUpdated());
    EXPECT_EQ(ReadWholeFile(m_folder / L"quillet.exe"), "new program");
}

TEST_F(UpdaterTest, AFailedFetchOfTheOwnProgramLeavesTheFlagClear)
{
    ServeList("\\:Quillet.EXE:7\r\nend\r\n"); // not served: 404
    Run();
    EXPECT_FALSE(m_updater->SelfUpdated());
    EXPECT_TRUE(m_updater->UpdateSucceeded());
    std::vector<std::string> lines = m_updater->Lines();
    EXPECT_EQ(lines.at(lines.size() - 2), TEXT_FILE_FAILED);
}

TEST_F(UpdaterTest, NothingToFetchEndsWithoutTheGettingLine)
{
    ASSERT_TRUE(WriteWholeFile(m_folder / L"have.dat", "have"));
    ::CreateDirectoryW((m_folder / L"dir").c_str(), nullptr);
    ServeList("\\:have.dat:" + std::to_string(CrcOf("have")) + "\r\n\\:dir:0\r\nend\r\n");
    Run();
    EXPECT_EQ(m_updater->Lines(),
              (std::vector<std::string>{TEXT_CONNECTING, Begin(kListPath), End(kListPath), TEXT_DONE}));
    EXPECT_EQ(m_updater->EntryCount(), 0);
    EXPECT_TRUE(m_updater->UpdateSucceeded());
    EXPECT_EQ(m_updater->OverallProgress(), 10000);
}

TEST_F(UpdaterTest, AListThatCannotBeFetchedFailsTheRunAndStillPostsOk)
{
    Run(); // no route: 404
    EXPECT_EQ(m_updater->Lines(), (std::vector<std::string>{TEXT_CONNECTING, Begin(kListPath), TEXT_LIST_FAILED}));
    EXPECT_FALSE(m_updater->UpdateSucceeded());
    EXPECT_EQ(m_updater->OverallProgress(), 10000);
    ASSERT_EQ(m_window.Commands().size(), 1u);
    EXPECT_EQ(m_window.Commands()[0].wParam, static_cast<WPARAM>(IDOK));
}

TEST_F(UpdaterTest, NoServerOfTheKindStartsNothing)
{
    UpdateServer other;
    other.id = 3;
    other.kind = 2;
    other.host = "127.0.0.1";
    other.port = m_server.Port();
    m_updater->SetUpdateServers({other});
    EXPECT_FALSE(m_updater->PickUpdateServer(1));
    EXPECT_FALSE(m_updater->HasUpdateThread());
    m_updater->SetUpdateServers({});
    EXPECT_FALSE(m_updater->PickUpdateServer(1));
    m_window.Pump(200);
    EXPECT_TRUE(m_window.Commands().empty());
    EXPECT_TRUE(m_server.Requests().empty());
}

TEST_F(UpdaterTest, TheChosenServersHostAndPortAreUsed)
{
    UpdateServer first;
    first.id = 1;
    first.kind = 1;
    first.host = "127.0.0.1";
    first.port = 0x10000 + m_server.Port(); // only the low 16 bits count
    m_updater->SetUpdateServers({first});
    ServeList("end\r\n");
    Run();
    EXPECT_EQ(m_updater->Host(), "127.0.0.1");
    EXPECT_EQ(m_updater->Port(), m_server.Port());
    EXPECT_EQ(Requests(kListTarget), 1u);
}

TEST_F(UpdaterTest, EndingTheUpdaterDuringABlockedTransferDoesNotHang)
{
    TestRoute never;
    never.neverAnswer = true;
    m_server.Route(kListTarget, never);
    ASSERT_TRUE(m_updater->PickUpdateServerWith(1, 0));
    ASSERT_TRUE(qtest::WaitFor([&] { return Requests(kListTarget) == 1; }, 10000));
    ::Sleep(200);
    TestUpdater* updater = m_updater.release();
    EXPECT_TRUE(qtest::EndsWithin([updater] { delete updater; }, 5000));
    // A stopped run posts nothing.
    m_window.Pump(300);
    EXPECT_TRUE(m_window.Commands().empty());
    m_server.Stop();
    ::Sleep(300);
}

TEST_F(UpdaterTest, AStoppedRunCanBeFollowedByANewOne)
{
    TestRoute never;
    never.neverAnswer = true;
    m_server.Route(kListTarget, never);
    ASSERT_TRUE(m_updater->PickUpdateServerWith(1, 0));
    ASSERT_TRUE(qtest::WaitFor([&] { return Requests(kListTarget) == 1; }, 10000));
    EXPECT_TRUE(qtest::EndsWithin([&] { m_updater->StopUpdateThread(); }, 5000));
    EXPECT_FALSE(m_updater->HasUpdateThread());

    ServeList("end\r\n");
    Run();
    EXPECT_TRUE(m_updater->UpdateSucceeded());
    EXPECT_EQ(Requests(kListTarget), 2u);
}

TEST_F(UpdaterTest, StoppingWaitsNoLongerThanAskedWhileATransferHangs)
{
    ServeList("end\r\n");
    m_updater->HangAtFileBar();
    ASSERT_TRUE(m_updater->PickUpdateServerWith(1, 0));
    ASSERT_TRUE(qtest::WaitFor([&] { return m_updater->Hanging(); }, 10000));
    std::thread release([&] {
        ::Sleep(5000);
        m_updater->Release();
    });
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(m_updater->StopUpdateThread(500)); // the run has not ended
    EXPECT_LT(::GetTickCount() - start, 2000u) << "the stop waited for the hanging call";
    release.join();
}
