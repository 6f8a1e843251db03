#include "InetFile.h"
#include "TaskQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>

#include "NoticeWindow.h"
#include "TempFolder.h"
#include "TestHttpServer.h"

namespace {

std::wstring Widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

class InetFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.Start()); }

    std::wstring Url(const std::string& target) const { return Widen(m_server.BaseUrl() + target); }

    // A transfer of kind KIND_FILE from target to the file "name" in the temporary folder.
    std::unique_ptr<CInetFile> MakeTransfer(const std::string& target, const std::wstring& name = L"a.dll",
                                            std::int32_t kind = KIND_FILE)
    {
        auto t = std::make_unique<CInetFile>();
        t->Kind = kind;
        t->URL = Url(target);
        t->NotifyWindow = m_window.Handle();
        t->TargetPath = m_folder / name;
        t->FileName = name;
        return t;
    }

    // Runs a transfer to its end and answers its result code.
    std::uint32_t RunToEnd(CInetFile& t)
    {
        EXPECT_TRUE(t.Start());
        EXPECT_TRUE(m_window.PumpUntilDone(30000));
        t.Wait();
        std::vector<NoticeWindow::Notice> done = m_window.Done();
        EXPECT_EQ(done.size(), 1u);
        if (done.empty())
            return 0xFFFF;
        EXPECT_EQ(done.back().lParam, reinterpret_cast<LPARAM>(&t));
        EXPECT_EQ(NoticeKind(static_cast<std::uint32_t>(done.back().wParam)), t.Kind);
        return NoticeValue(static_cast<std::uint32_t>(done.back().wParam));
    }

    std::size_t ProgressBytes() const
    {
        std::size_t sum = 0;
        for (const auto& n : m_window.Progress())
            sum += NoticeValue(static_cast<std::uint32_t>(n.wParam));
        return sum;
    }

    TestHttpServer m_server;
    NoticeWindow m_window;
    TempFolder m_folder;
};

} // namespace

TEST_F(InetFileTest, StartsWithItsDefaults)
{
    CInetFile t;
    EXPECT_EQ(t.ErrorText, L"连接服务器失败, 请检查网络或联系管理员");
    EXPECT_EQ(t.Kind, KIND_FILE);
    EXPECT_TRUE(t.TargetPath.empty());
    EXPECT_TRUE(t.FileName.empty());
    EXPECT_TRUE(t.URL.empty());
    EXPECT_EQ(t.NotifyWindow, nullptr);
    EXPECT_TRUE(t.ServerName.empty());
    EXPECT_FALSE(t.Cancel);
    EXPECT_EQ(t.StartCount, 0);
    EXPECT_EQ(t.BytesReceived, 0);
    EXPECT_EQ(t.ExpectedLength, 0);
    EXPECT_FALSE(t.Register || t.ZipFile || t.ForceOverwrite || t.Execute);
    EXPECT_TRUE(t.ExecutePar.empty());
}

TEST_F(InetFileTest, FetchesABodyInBlocksOfAtMost1024Bytes)
{
    TestRoute route;
    route.generated = 2500;
    m_server.Route("/files/a.dll", route);
    auto t = MakeTransfer("/files/a.dll");
    EXPECT_EQ(RunToEnd(*t), TRANSFER_OK);
    EXPECT_EQ(t->StartCount, 1);
    EXPECT_EQ(t->BytesReceived, 2500);

    std::vector<NoticeWindow::Notice> progress = m_window.Progress();
    ASSERT_GE(progress.size(), 3u);
    for (const auto& n : progress) {
        std::uint32_t size = NoticeValue(static_cast<std::uint32_t>(n.wParam));
        EXPECT_GE(size, 1u);
        EXPECT_LE(size, 1024u);
        EXPECT_EQ(NoticeKind(static_cast<std::uint32_t>(n.wParam)), KIND_FILE);
        EXPECT_EQ(n.lParam, reinterpret_cast<LPARAM>(t.get()));
    }
    EXPECT_EQ(ProgressBytes(), 2500u);
    // The completion comes last.
    EXPECT_EQ(m_window.Notices().back().message, static_cast<UINT>(WM_TRANSFER_DONE));
    // A file is written beside its final place, with ".update" appended.
    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dll.update"), TestHttpServer::GeneratedBody(2500));
    EXPECT_FALSE(FileExistsAt(m_folder / L"a.dll"));
    EXPECT_EQ(t->ErrorText, L"连接服务器失败, 请检查网络或联系管理员"); // unchanged on success
}

TEST_F(InetFileTest, AnUpdateListIsWrittenToItsTargetItselfAndReportsKindOne)
{
    TestRoute route;
    route.body = "<list/>";
    m_server.Route("/Update.xml", route);
    auto t = MakeTransfer("/Update.xml", L"Xml1.tmp", KIND_UPDATE_LIST);
    EXPECT_EQ(RunToEnd(*t), TRANSFER_OK);
    EXPECT_EQ(ReadWholeFile(m_folder / L"Xml1.tmp"), "<list/>");
    EXPECT_FALSE(FileExistsAt(m_folder / L"Xml1.tmp.update"));
    for (const auto& n : m_window.Notices())
        EXPECT_EQ(NoticeKind(static_cast<std::uint32_t>(n.wParam)), KIND_UPDATE_LIST);
}

TEST_F(InetFileTest, SendsAnHttp10GetWithTheAgentAndTheHeaderBlock)
{
    TestRoute route;
    route.body = "x";
    m_server.Route("/dir/a%20b.dll?v=1", route);
    auto t = MakeTransfer("/dir/a%20b.dll?v=1");
    EXPECT_EQ(RunToEnd(*t), TRANSFER_OK);
    std::vector<RecordedRequest> requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const RecordedRequest& r = requests[0];
    EXPECT_EQ(r.requestLine, "GET /dir/a%20b.dll?v=1 HTTP/1.0");
    EXPECT_EQ(r.Header("Accept").value_or("(none)"), "*/*");
    // The header block's agent is added to the request before it is sent; the
    // session's agent only fills in where a request has none, so it is not sent.
    EXPECT_EQ(r.Header("User-Agent").value_or("(none)"), "Quillet_Tamsk");
    int agents = 0;
    for (const auto& h : r.headers)
        if (h.first == "User-Agent")
            ++agents;
    EXPECT_EQ(agents, 1);
    EXPECT_TRUE(r.Header("Host").has_value());
    std::cout << "request as received:\n" << r.raw;
}

TEST_F(InetFileTest, AnEmptyBodyGivesAnEmptyFileAndNoProgress)
{
    TestRoute route;
    route.body = "";
    m_server.Route("/empty", route);
    auto t = MakeTransfer("/empty");
    EXPECT_EQ(RunToEnd(*t), TRANSFER_OK);
    EXPECT_TRUE(m_window.Progress().empty());
    EXPECT_TRUE(FileExistsAt(m_folder / L"a.dll.update"));
    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dll.update"), "");
}

TEST_F(InetFileTest, UrlsThatAreNotHttpFailWithCodeOne)
{
    const wchar_t* urls[] = {L"https://127.0.0.1/a.dll", L"ftp://127.0.0.1/a.dll", L"not a url", L""};
    for (const wchar_t* url : urls) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(url)));
        NoticeWindow window;
        CInetFile t;
        t.URL = url;
        t.NotifyWindow = window.Handle();
        t.TargetPath = m_folder / L"a.dll";
        ASSERT_TRUE(t.Start());
        ASSERT_TRUE(window.PumpUntilDone(10000));
        ASSERT_EQ(window.Done().size(), 1u);
        EXPECT_EQ(NoticeValue(static_cast<std::uint32_t>(window.Done()[0].wParam)), TRANSFER_BAD_URL);
        EXPECT_EQ(t.ErrorText, L"URL解析错误, 请选择其他服务器进行尝试");
    }
    EXPECT_TRUE(m_server.Requests().empty());
}

TEST_F(InetFileTest, AStatusOtherThan200FailsWithCodeSixAndLeavesTheLocalFileAlone)
{
    const int statuses[] = {404, 500, 206, 304};
    for (int status : statuses) {
        SCOPED_TRACE(status);
        NoticeWindow window;
        TestRoute route;
        route.status = status;
        route.reason = "Something";
        route.body = status == 304 ? "" : "error page";
        m_server.Route("/s", route);
        ASSERT_TRUE(WriteWholeFile(m_folder / L"old.dll.update", "previous"));
        CInetFile t;
        t.URL = Url("/s");
        t.NotifyWindow = window.Handle();
        t.TargetPath = m_folder / L"old.dll";
        ASSERT_TRUE(t.Start());
        ASSERT_TRUE(window.PumpUntilDone(10000));
        EXPECT_EQ(NoticeValue(static_cast<std::uint32_t>(window.Done()[0].wParam)), TRANSFER_BAD_STATUS);
        EXPECT_EQ(t.ErrorText, L"取得服务器文件失败, 请选择其他服务器进行尝试");
        EXPECT_EQ(ReadWholeFile(m_folder / L"old.dll.update"), "previous");
        EXPECT_TRUE(window.Progress().empty());
    }
    // A 404 for a file that never existed creates none.
    auto t = MakeTransfer("/missing", L"new.dll");
    EXPECT_EQ(RunToEnd(*t), TRANSFER_BAD_STATUS);
    EXPECT_FALSE(FileExistsAt(m_folder / L"new.dll.update"));
}

TEST_F(InetFileTest, NothingListeningFailsWithCodeTwoAndTheInitialText)
{
    TestHttpServer other;
    ASSERT_TRUE(other.Start());
    std::string url = other.BaseUrl() + "/x";
    other.Stop(); // the port is closed now
    auto t = MakeTransfer("/x");
    t->URL = Widen(url);
    EXPECT_EQ(RunToEnd(*t), TRANSFER_HTTP_FAILED);
    EXPECT_EQ(t->ErrorText, L"连接服务器失败, 请检查网络或联系管理员");
}

TEST_F(InetFileTest, AConnectionResetInTheBodyFailsWithCodeTwoAndLeavesAClosedPartialFile)
{
    TestRoute route;
    route.generated = 50000;
    route.chunkSize = 4096;
    route.delayBetweenMs = 5;
    route.cutAfter = 20000;
    route.reset = true;
    m_server.Route("/cut", route);
    auto t = MakeTransfer("/cut");
    EXPECT_EQ(RunToEnd(*t), TRANSFER_HTTP_FAILED);
    EXPECT_EQ(t->ErrorText, L"连接服务器失败, 请检查网络或联系管理员");
    std::string partial = ReadWholeFile(m_folder / L"a.dll.update");
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LE(partial.size(), 20000u);
    EXPECT_EQ(partial, TestHttpServer::GeneratedBody(partial.size()));
    // Closed: it can be opened without any sharing.
    HANDLE h = ::CreateFileW((m_folder / L"a.dll.update").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    ::CloseHandle(h);
}

TEST_F(InetFileTest, ABodyThatEndsEarlyButCleanlyCountsAsComplete)
{
    TestRoute route;
    route.generated = 3000;
    route.contentLength = false; // the end of the connection ends the body
    route.cutAfter = 3000;
    m_server.Route("/short", route);
    auto t = MakeTransfer("/short");
    t->ExpectedLength = 100000; // not compared
    EXPECT_EQ(RunToEnd(*t), TRANSFER_OK);
    EXPECT_EQ(t->BytesReceived, 3000);
    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dll.update"), TestHttpServer::GeneratedBody(3000));
}

TEST_F(InetFileTest, ABodyClosedShortOfItsAnnouncedLengthFailsWithCodeTwo)
{
    for (std::size_t cut : {std::size_t(0), std::size_t(1), std::size_t(10000)}) {
        SCOPED_TRACE(cut);
        m_window.ClearNotices();
        TestRoute route;
        route.generated = 20000;
        route.cutAfter = cut; // closed cleanly, Content-Length 20000
        m_server.Route("/cut", route);
        auto t = MakeTransfer("/cut");
        EXPECT_EQ(RunToEnd(*t), TRANSFER_HTTP_FAILED);
        EXPECT_EQ(t->BytesReceived, static_cast<std::int32_t>(cut));
    }
}

TEST_F(InetFileTest, AChunkedBodyIsReadToItsEnd)
{
    TestRoute route;
    route.generated = 5000;
    route.chunked = true;
    route.chunkSize = 700;
    m_server.Route("/chunked", route);
    auto t = MakeTransfer("/chunked");
    EXPECT_EQ(RunToEnd(*t), TRANSFER_OK);
    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dll.update"), TestHttpServer::GeneratedBody(5000));
    EXPECT_EQ(ProgressBytes(), 5000u);
}

TEST_F(InetFileTest, MissingFoldersAreCreatedOneByOne)
{
    TestRoute route;
    route.body = "content";
    m_server.Route("/deep", route);
    auto t = MakeTransfer("/deep", L"one\\two\\three\\f.dat");
    EXPECT_EQ(RunToEnd(*t), TRANSFER_OK);
    EXPECT_TRUE(FolderExistsAt(m_folder / L"one"));
    EXPECT_TRUE(FolderExistsAt(m_folder / L"one\\two\\three"));
    EXPECT_EQ(ReadWholeFile(m_folder / L"one\\two\\three\\f.dat.update"), "content");
}

TEST_F(InetFileTest, AFolderThatCannotBeCreatedFailsWithCodeSeven)
{
    TestRoute route;
    route.body = "content";
    m_server.Route("/f", route);
    ASSERT_TRUE(WriteWholeFile(m_folder / L"blocker", "a file where a folder should be"));
    auto t = MakeTransfer("/f", L"blocker\\sub\\f.dat");
    EXPECT_EQ(RunToEnd(*t), TRANSFER_LOCAL_FILE);
    EXPECT_EQ(t->ErrorText, L"创建本地文件失败");
}

TEST_F(InetFileTest, AFullDiskFailsWithCodeSeven)
{
    // Wine maps Z: to the Linux root; writes to /dev/full fail with "no space".
    HANDLE probe = ::CreateFileW(L"Z:\\dev\\full", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "no /dev/full (error " << ::GetLastError() << ")";
    ::CloseHandle(probe);
    TestRoute route;
    route.generated = 5000;
    m_server.Route("/big", route);
    auto t = MakeTransfer("/big", L"unused", KIND_UPDATE_LIST);
    t->TargetPath = L"Z:\\dev\\full";
    EXPECT_EQ(RunToEnd(*t), TRANSFER_LOCAL_FILE);
    EXPECT_EQ(t->ErrorText, L"创建本地文件失败");
    EXPECT_TRUE(m_window.Progress().empty());
}

TEST_F(InetFileTest, DeletingARunningTransferCancelsItAfterAtMostOneMoreBlock)
{
    TestRoute route;
    route.generated = 1 << 20;
    route.chunkSize = 1024;
    route.delayBetweenMs = 20;
    m_server.Route("/slow", route);
    auto t = MakeTransfer("/slow");
    CInetFile* raw = t.get();
    ASSERT_TRUE(t->Start());
    // Wait until the body flows.
    DWORD start = ::GetTickCount();
    while (m_window.Progress().size() < 3 && ::GetTickCount() - start < 20000)
        m_window.PumpUntilDone(50);
    ASSERT_GE(m_window.Progress().size(), 3u);
    HANDLE thread = ::OpenThread(SYNCHRONIZE, FALSE, t->ThreadId());
    ASSERT_NE(thread, nullptr);
    std::int32_t before = t->BytesReceived;

    t.reset(); // cancels and waits

    EXPECT_EQ(::WaitForSingleObject(thread, 0), WAIT_OBJECT_0); // the thread has ended
    ::CloseHandle(thread);
    m_window.PumpPending();
    std::vector<NoticeWindow::Notice> done = m_window.Done();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(NoticeValue(static_cast<std::uint32_t>(done[0].wParam)), TRANSFER_CANCELLED);
    EXPECT_EQ(done[0].lParam, reinterpret_cast<LPARAM>(raw));
    std::string partial = ReadWholeFile(m_folder / L"a.dll.update");
    EXPECT_LE(partial.size(), static_cast<std::size_t>(before) + 2 * 1024);
    EXPECT_LT(partial.size(), std::size_t(1) << 20);
}

TEST_F(InetFileTest, AFinishedTransferCanRunAgain)
{
    TestRoute route;
    route.body = "first";
    m_server.Route("/again", route);
    auto t = MakeTransfer("/again");
    EXPECT_EQ(RunToEnd(*t), TRANSFER_OK);
    route.body = "second run";
    m_server.Route("/again", route);
    ASSERT_TRUE(t->Start());
    ASSERT_TRUE(m_window.PumpUntilDone(10000));
    EXPECT_EQ(t->StartCount, 2);
    EXPECT_EQ(m_window.Done().size(), 2u);
    t->Wait();
    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dll.update"), "second run"); // truncated and rewritten
    EXPECT_EQ(t->BytesReceived, 10);
}

TEST_F(InetFileTest, TheCompletionSurvivesAFloodedMessageQueue)
{
    // Windows refuses posts beyond 10000 queued messages; Wine queues more.
    int posted = 0;
    while (posted < 20000 && ::PostMessageW(m_window.Handle(), WM_APP, 0, 0))
        ++posted;
    bool flooded = posted < 20000;
    std::cout << "messages queued before the queue refused: " << posted << "\n";

    TestRoute route;
    route.generated = 4096;
    m_server.Route("/flood", route);
    auto t = MakeTransfer("/flood");
    ASSERT_TRUE(t->Start());
    ::Sleep(1000); // the transfer ends meanwhile; its completion post keeps trying
    EXPECT_TRUE(m_window.PumpUntilDone(60000));
    t->Wait();
    ASSERT_EQ(m_window.Done().size(), 1u);
    EXPECT_EQ(NoticeValue(static_cast<std::uint32_t>(m_window.Done()[0].wParam)), TRANSFER_OK);
    if (flooded) {
        EXPECT_LT(m_window.Progress().size(), 4u); // progress notices may be dropped
    }
}

TEST_F(InetFileTest, AServerThatAcceptsAndStaysSilentFailsTheRunWithCodeTwo)
{
    TestRoute silent;
    silent.neverAnswer = true;
    m_server.Route("/silent", silent);
    auto t = MakeTransfer("/silent");
    EXPECT_EQ(RunToEnd(*t), TRANSFER_HTTP_FAILED);
    EXPECT_FALSE(FileExistsAt(m_folder / L"a.dll.update"));
}

TEST_F(InetFileTest, ClosingTheQueueDeletesStoppedTransfersAndLeavesABlockedOneBehindInTime)
{
    TestRoute silent;
    silent.neverAnswer = true;
    m_server.Route("/silent", silent);
    m_server.Route("/small", TestRoute{});
    CTaskQueue queue;
    auto blocked = MakeTransfer("/silent", L"b.dll");
    blocked->NotifyWindow = nullptr;
    auto finished = MakeTransfer("/small");
    EXPECT_EQ(RunToEnd(*finished), TRANSFER_OK);
    ASSERT_TRUE(blocked->Start());
    DWORD asked = ::GetTickCount();
    while (m_server.RequestCount("/silent") == 0 && ::GetTickCount() - asked < 10000)
        ::Sleep(10);
    ASSERT_EQ(m_server.RequestCount("/silent"), 1u);
    queue.PushBack(finished.release());
    queue.PushBack(blocked.release()); // left to the end of the process when abandoned

    DWORD start = ::GetTickCount();
    EXPECT_EQ(queue.Close(500), 1);
    EXPECT_LT(::GetTickCount() - start, 5000u);
    EXPECT_EQ(queue.Count(), 0u);
}
