#include "Downloader.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "QuilletTesting.h"
#include "TempFolder.h"
#include "TestHttpServer.h"

namespace {

// A session and a connection to 127.0.0.1 at port, opened as the update run opens them.
inline std::shared_ptr<CInternetLink> OpenLink(std::uint16_t port)
{
    auto link = std::make_shared<CInternetLink>();
    link->session.Reset(::InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (link->session)
        link->connection.Reset(::InternetConnectA(link->session.Get(), "127.0.0.1", port, "", "",
                                                  INTERNET_SERVICE_HTTP, 0, 0));
    return link;
}

struct Event {
    int code;
    int value;         // progress value (code 10)
    std::string text;  // local path (codes 11, 12)
    std::uint32_t bytes; // bytes received when it was sent
};

// Records the notifications and every reading of the clock, which follows a
// script when one is given.
class RecordingDownloader : public CDownloader {
public:
    void OnProgress(int code, int value) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(Event{code, value, std::string(), BytesReceived()});
    }
    void OnStatus(int code, const char* text) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(Event{code, 0, text, BytesReceived()});
    }

    std::vector<Event> Events() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<int> ProgressValues() const
    {
        std::vector<int> out;
        for (const Event& e : Events())
            if (e.code == NOTIFY_PROGRESS)
                out.push_back(e.value);
        return out;
    }
    bool Saw(int code) const
    {
        for (const Event& e : Events())
            if (e.code == code)
                return true;
        return false;
    }

    // The clock answers these readings in turn, then repeats the last one.
    void ScriptClock(std::deque<std::uint32_t> readings)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_script = std::move(readings);
    }
    // Bytes received at each reading of the clock.
    std::vector<std::uint32_t> ClockReadings() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_readings;
    }

protected:
    std::uint32_t Now() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_readings.push_back(BytesReceived());
        if (m_script.empty())
            return CDownloader::Now();
        std::uint32_t t = m_script.front();
        if (m_script.size() > 1)
            m_script.pop_front();
        return t;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
    mutable std::deque<std::uint32_t> m_script;
    mutable std::vector<std::uint32_t> m_readings;
};

class DownloaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Start());
        m_link = OpenLink(m_server.Port());
        ASSERT_TRUE(m_link->connection);
        m_downloader.SetLink(m_link);
    }

    std::string LocalPath(const wchar_t* name) const { return qtest::Narrow(m_folder / name); }

    // The part files of downloads left in the folder.
    std::vector<std::wstring> PartsLeft() const
    {
        std::vector<std::wstring> found;
        WIN32_FIND_DATAW data;
        HANDLE find = ::FindFirstFileW((m_folder / L"~*.part").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return found;
        do
            found.push_back(data.cFileName);
        while (::FindNextFileW(find, &data));
        ::FindClose(find);
        return found;
    }

    // Serves a new 20000-byte body for "/<name>" and installs an old file of that
    // name held open the way a running program holds it (shared for reading only).
    HANDLE InstalledAndInUse(const std::string& name)
    {
        TestRoute route;
        route.generated = 20000;
        m_server.Route("/" + name, route);
        const std::wstring path = m_folder / std::wstring(name.begin(), name.end());
        if (!WriteWholeFile(path, "installed"))
            return INVALID_HANDLE_VALUE;
        return ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    }

    bool Fetch(const std::string& target, const std::string& localPath)
    {
        std::string url = target;
        return m_downloader.FetchFile(url, localPath);
    }

    TestHttpServer m_server;
    TempFolder m_folder;
    std::shared_ptr<CInternetLink> m_link;
    RecordingDownloader m_downloader;
};

} // namespace

TEST_F(DownloaderTest, CopiesTheBodyInBlocksOfTenThousandBytes)
{
    TestRoute route;
    route.generated = 25000;
    m_server.Route("/Vexaupdate/plat/release/a.dat", route);
    // Every reading of the clock is 200 ms after the one before, so each block
    // is followed by a progress notification.
    std::deque<std::uint32_t> clock;
    for (std::uint32_t t = 0; t < 20; ++t)
        clock.push_back(5000 + 200 * t);
    m_downloader.ScriptClock(clock);

    const std::string path = LocalPath(L"a.dat");
    ASSERT_TRUE(Fetch("/Vexaupdate/plat/release/a.dat", path));

    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dat"), TestHttpServer::GeneratedBody(25000));
    // One reading when the fetch starts, then one per block.
    EXPECT_EQ(m_downloader.ClockReadings(), (std::vector<std::uint32_t>{0, 10000, 20000, 25000}));
    // Per block, then once more at the end.
    EXPECT_EQ(m_downloader.ProgressValues(), (std::vector<int>{4000, 8000, 10000, 10000}));
    std::vector<Event> events = m_downloader.Events();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events.front().code, NOTIFY_FETCH_BEGIN);
    EXPECT_EQ(events.front().text, path);
    EXPECT_EQ(events.back().code, NOTIFY_FETCH_END);
    EXPECT_EQ(events.back().text, path);
    EXPECT_EQ(m_downloader.ContentLength(), 25000u);
    EXPECT_EQ(m_downloader.BytesReceived(), 25000u);

    std::vector<RecordedRequest> requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /Vexaupdate/plat/release/a.dat HTTP/1.0");
}

TEST_F(DownloaderTest, TimeBasesAdvanceByTheirStepsAndTheSpeedIsSampled)
{
    TestRoute route;
    route.generated = 25000;
    m_server.Route("/f.dat", route);
    // Start at 1000. Block 1 at 1100: nothing due. Block 2 at 4500: a speed sample
    // (its divisor read again: 4500 - 1000) and a progress, the progress base
    // moving to 1200 and the speed base to 4000. Block 3, still 4500: the speed is
    // not due (500 ms), the progress is, since its base is only at 1200.
    m_downloader.ScriptClock({1000, 1100, 4500, 4500, 4500});
    ASSERT_TRUE(Fetch("/f.dat", LocalPath(L"f.dat")));
    EXPECT_EQ(m_downloader.ProgressValues(), (std::vector<int>{8000, 10000, 10000}));
    EXPECT_EQ(m_downloader.Speed(), 20000u * 1000u / 3500u);
    EXPECT_EQ(m_downloader.ClockReadings().size(), 5u);
}

TEST_F(DownloaderTest, BackslashesOfTheUrlPathAreSentAsSlashes)
{
    TestRoute route;
    route.body = "x";
    m_server.Route("/Vexaupdate/12/release/sub/a.dat", route);
    std::string url = "/Vexaupdate/12/release/sub\\a.dat";
    ASSERT_TRUE(m_downloader.FetchFile(url, LocalPath(L"a.dat")));
    EXPECT_EQ(url, "/Vexaupdate/12/release/sub/a.dat"); // changed in place
    ASSERT_EQ(m_server.Requests().size(), 1u);
    EXPECT_EQ(m_server.Requests()[0].target, "/Vexaupdate/12/release/sub/a.dat");
}

TEST_F(DownloaderTest, RefusedAnswersLeaveTheLocalFileAlone)
{
    struct Case {
        const char* name;
        int status;
        bool chunked;
        bool existing; // a local file is there before
    } cases[] = {
        {"404", 404, false, false},
        {"404 over an existing file", 404, false, true},
        {"500", 500, false, false},
        {"chunked, without a length", 200, true, false},
        {"chunked over an existing file", 200, true, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        RecordingDownloader downloader;
        downloader.SetLink(m_link);
        const std::string target = "/refused" + std::to_string(n);
        const std::wstring name = L"refused" + std::to_wstring(n++) + L".dat";
        TestRoute route;
        route.status = c.status;
        route.reason = "Whatever";
        route.body = "a body that must not be written";
        route.chunked = c.chunked;
        m_server.Route(target, route);
        if (c.existing) {
            ASSERT_TRUE(WriteWholeFile(m_folder / name, "old"));
        }

        std::string url = target;
        EXPECT_FALSE(downloader.FetchFile(url, qtest::Narrow(m_folder / name))) << c.name;
        if (c.existing) {
            EXPECT_EQ(ReadWholeFile(m_folder / name), "old") << c.name;
        } else {
            EXPECT_FALSE(FileExistsAt(m_folder / name)) << c.name;
        }
        EXPECT_TRUE(downloader.Saw(NOTIFY_FETCH_BEGIN)) << c.name;
        EXPECT_FALSE(downloader.Saw(NOTIFY_FETCH_END)) << c.name;
        EXPECT_FALSE(downloader.Saw(NOTIFY_PROGRESS)) << c.name;
    }
}

TEST_F(DownloaderTest, NoServerMeansFailureWithoutAFile)
{
    TestHttpServer closed;
    ASSERT_TRUE(closed.Start());
    const std::uint16_t port = closed.Port();
    closed.Stop();
    RecordingDownloader downloader;
    downloader.SetLink(OpenLink(port));
    std::string url = "/a.dat";
    EXPECT_FALSE(downloader.FetchFile(url, LocalPath(L"a.dat")));
    EXPECT_FALSE(FileExistsAt(m_folder / L"a.dat"));
}

TEST_F(DownloaderTest, ABodyCutShortFailsAndLeavesTheInstalledFileAsItWas)
{
    // A path of 257 characters leaves no room for a suffix within the longest path.
    const std::size_t folderLength = m_folder.Path().size() + 1;
    ASSERT_LT(folderLength, 240u);
    const std::wstring longName = std::wstring(257 - folderLength - 4, L'n') + L".dat";
    struct Case {
        std::size_t cut;
        std::wstring name;
    } cases[] = {{0, L"half.dat"}, {1, L"half.dat"}, {10000, L"half.dat"}, {10000, longName}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cut);
        SCOPED_TRACE(c.name.size());
        RecordingDownloader downloader;
        downloader.SetLink(m_link);
        TestRoute route;
        route.generated = 20000;
        route.cutAfter = c.cut; // closed cleanly, Content-Length 20000
        m_server.Route("/half.dat", route);
        ASSERT_TRUE(WriteWholeFile(m_folder / c.name, "installed"));
        std::string url = "/half.dat";
        EXPECT_FALSE(downloader.FetchFile(url, qtest::Narrow(m_folder / c.name)));
        EXPECT_TRUE(downloader.LastFetchWasCut());
        EXPECT_EQ(ReadWholeFile(m_folder / c.name), "installed");
        EXPECT_TRUE(PartsLeft().empty());
        EXPECT_FALSE(downloader.Saw(NOTIFY_FETCH_END));
    }
}

TEST_F(DownloaderTest, AnInstalledFileInUseIsNotReplaced)
{
    HANDLE hold = InstalledAndInUse("busy.dat");
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    std::string url = "/busy.dat";
    EXPECT_FALSE(m_downloader.FetchFile(url, LocalPath(L"busy.dat")));
    ::CloseHandle(hold);
    EXPECT_EQ(ReadWholeFile(m_folder / L"busy.dat"), "installed");
    EXPECT_TRUE(PartsLeft().empty());
    EXPECT_FALSE(m_downloader.LastFetchWasCut());
}

TEST_F(DownloaderTest, AMoveThatWaitingCannotMendFailsAtOnce)
{
    // A folder where the file goes; only a file in use is worth trying again.
    TestRoute route;
    route.generated = 20000;
    m_server.Route("/folder.dat", route);
    ASSERT_TRUE(::CreateDirectoryW((m_folder / L"folder.dat").c_str(), nullptr));
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(Fetch("/folder.dat", LocalPath(L"folder.dat")));
    EXPECT_LT(::GetTickCount() - start, 1000u) << "it waited for the move";
    EXPECT_TRUE(FolderExistsAt(m_folder / L"folder.dat"));
    EXPECT_TRUE(PartsLeft().empty());
}

TEST_F(DownloaderTest, AnInstalledFileReleasedSoonAfterIsReplaced)
{
    // As the launcher's program file is, just after the copy started.
    HANDLE hold = InstalledAndInUse("soon.dat");
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    std::thread release([hold] {
        ::Sleep(300);
        ::CloseHandle(hold);
    });
    std::string url = "/soon.dat";
    const bool fetched = m_downloader.FetchFile(url, LocalPath(L"soon.dat"));
    release.join();
    EXPECT_TRUE(fetched);
    EXPECT_EQ(ReadWholeFile(m_folder / L"soon.dat"), TestHttpServer::GeneratedBody(20000));
    EXPECT_TRUE(PartsLeft().empty());
}

TEST_F(DownloaderTest, APartFileFitsWhereverItsTargetFits)
{
    // A folder that leaves 12 characters for a name before the platform's path
    // limit: "a.dat" fits there, a part named with both numbers whole does not.
    std::wstring folder = m_folder.Path();
    ASSERT_LT(folder.size() + 1, 246u);
    while (folder.size() < 246) {
        const std::size_t left = 246 - folder.size() - 1; // the next folder's name
        folder += L"\\" + std::wstring(left > 200 ? 100 : left, L'd');
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    }
    TestRoute route;
    route.generated = 20000;
    m_server.Route("/a.dat", route);
    ASSERT_TRUE(Fetch("/a.dat", qtest::Narrow(folder + L"\\a.dat")));
    EXPECT_EQ(ReadWholeFile(folder + L"\\a.dat"), TestHttpServer::GeneratedBody(20000));
}

TEST_F(DownloaderTest, AWholeBodyReplacesTheInstalledFile)
{
    TestRoute route;
    route.generated = 20000;
    m_server.Route("/whole.dat", route);
    ASSERT_TRUE(WriteWholeFile(m_folder / L"whole.dat", "installed"));
    // A file of the user's (or one a list names) whose name is the download's plus a suffix.
    ASSERT_TRUE(WriteWholeFile(m_folder / L"whole.dat.part", "mine"));
    ASSERT_TRUE(Fetch("/whole.dat", LocalPath(L"whole.dat")));
    EXPECT_EQ(ReadWholeFile(m_folder / L"whole.dat"), TestHttpServer::GeneratedBody(20000));
    EXPECT_EQ(ReadWholeFile(m_folder / L"whole.dat.part"), "mine");
    EXPECT_TRUE(PartsLeft().empty());
}

TEST_F(DownloaderTest, AnEmptyBodyCountsAsComplete)
{
    TestRoute route;
    route.body = "";
    m_server.Route("/empty.dat", route);
    ASSERT_TRUE(WriteWholeFile(m_folder / L"empty.dat", "old content"));
    ASSERT_TRUE(Fetch("/empty.dat", LocalPath(L"empty.dat")));
    EXPECT_TRUE(FileExistsAt(m_folder / L"empty.dat"));
    EXPECT_EQ(ReadWholeFile(m_folder / L"empty.dat"), "");
    EXPECT_EQ(m_downloader.ProgressValues(), (std::vector<int>{10000}));
    EXPECT_TRUE(m_downloader.Saw(NOTIFY_FETCH_END));
    EXPECT_EQ(m_downloader.ContentLength(), 0u);
}

TEST_F(DownloaderTest, ALocalFileThatCannotBeCreatedFailsTheFetch)
{
    TestRoute route;
    route.body = "x";
    m_server.Route("/a.dat", route);
    EXPECT_FALSE(Fetch("/a.dat", qtest::Narrow(m_folder / L"no such folder\\a.dat")));
    EXPECT_FALSE(m_downloader.Saw(NOTIFY_FETCH_END));
}

TEST_F(DownloaderTest, ATransferBlockedInTheNetworkIsGivenUpAtOnce)
{
    TestRoute route;
    route.neverAnswer = true;
    m_server.Route("/never.dat", route);
    auto downloader = std::make_unique<RecordingDownloader>();
    downloader->SetLink(m_link);
    const std::string path = LocalPath(L"never.dat");

    bool result = true;
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread fetching([&] {
        std::string url = "/never.dat";
        result = downloader->FetchFile(url, path);
        ::SetEvent(done);
    });
    // The request has reached the server, which will not answer.
    ASSERT_TRUE(qtest::WaitFor([&] { return m_server.RequestCount("/never.dat") == 1; }, 10000));
    ::Sleep(200);
    EXPECT_EQ(::WaitForSingleObject(done, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // Giving it up does not wait for the blocked thread, and the fetch answers false.
    EXPECT_TRUE(qtest::EndsWithin([&] { downloader->RequestCancel(); }, 2000));
    EXPECT_EQ(::WaitForSingleObject(done, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    fetching.join();
    EXPECT_FALSE(result);
    std::size_t seen = downloader->Events().size();

    // A further fetch is refused until the cancel is cleared.
    std::string url = "/never.dat";
    EXPECT_FALSE(downloader->FetchFile(url, path));
    EXPECT_EQ(m_server.RequestCount("/never.dat"), 1u);

    // The owner goes; the blocked thread wakes when the server ends the
    // connection and must touch nothing of it (nor create the file).
    downloader.reset();
    m_server.Stop();
    ::Sleep(500);
    EXPECT_FALSE(FileExistsAt(m_folder / L"never.dat"));
    EXPECT_EQ(seen, 1u); // only the begin of the fetch
    ::CloseHandle(done);
}

TEST_F(DownloaderTest, TheDestructorDoesNotWaitForABlockedTransfer)
{
    TestRoute route;
    route.neverAnswer = true;
    m_server.Route("/never.dat", route);
    auto* downloader = new RecordingDownloader;
    downloader->SetLink(m_link);
    const std::string path = LocalPath(L"never.dat");
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread fetching([&] {
        std::string url = "/never.dat";
        downloader->FetchFile(url, path);
        ::SetEvent(done);
    });
    ASSERT_TRUE(qtest::WaitFor([&] { return m_server.RequestCount("/never.dat") == 1; }, 10000));
    // As the updater does when it ends: the fetching thread gives up and returns,
    // then the object goes while the transfer thread is still blocked.
    downloader->RequestCancel();
    ASSERT_EQ(::WaitForSingleObject(done, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    fetching.join();
    EXPECT_TRUE(qtest::EndsWithin([&] { delete downloader; }, 2000));
    m_server.Stop();
    ::Sleep(300);
    ::CloseHandle(done);
}

TEST_F(DownloaderTest, AfterAGivenUpTransferTheNextFetchWorks)
{
    TestRoute never;
    never.neverAnswer = true;
    m_server.Route("/never.dat", never);
    TestRoute ok;
    ok.body = "fine";
    m_server.Route("/ok.dat", ok);
    std::thread fetching([&] {
        std::string url = "/never.dat";
        m_downloader.FetchFile(url, LocalPath(L"never.dat"));
    });
    ASSERT_TRUE(qtest::WaitFor([&] { return m_server.RequestCount("/never.dat") == 1; }, 10000));
    m_downloader.RequestCancel();
    fetching.join();
    m_downloader.ClearCancel();
    ASSERT_TRUE(Fetch("/ok.dat", LocalPath(L"ok.dat")));
    EXPECT_EQ(ReadWholeFile(m_folder / L"ok.dat"), "fine");
}
