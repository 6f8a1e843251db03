// The session window in this process, driven against the test web server: what
// the user sees (status line, message boxes, bars, tray tip) and what lands on disk.
#include "UpdateDlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "FailingAllocations.h"
#include "TempFolder.h"
#include "TestHttpServer.h"
#include "UiDriver.h"
#include "WinApp.h"

namespace {

// Message boxes take the program's name as their caption.
struct TestApp : CWinApp {
    TestApp() { m_pszAppName = L"Zorvane"; }
} g_app;

std::wstring Widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

struct SeenBox {
    std::wstring caption;
    std::wstring text;
    bool hasIcon;
};

// One listed file; the server answers its target with content unless missing.
struct Entry {
    Entry(std::string n, std::string c, bool m = false, std::string e = std::string(),
          std::size_t listed = std::string::npos)
        : name(std::move(n)), content(std::move(c)), missing(m), extra(std::move(e)), listedLength(listed)
    {
    }
    std::string name;
    std::string content;
    bool missing;             // the server answers 404
    std::string extra;        // further child elements
    std::size_t listedLength; // Length as listed (npos: the content's)
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Start());
        // Files land below the program's folder (the base of "CURRENTDIR").
        m_sub = L"vexa-session-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount());
        m_folder = ui::ProgramFolder() + m_sub;
        ASSERT_TRUE(::CreateDirectoryW(m_folder.c_str(), nullptr));
        m_hallStartsBefore = HallStarts();
    }
    void TearDown() override { RemoveTree(m_folder); }

    std::wstring Local(const std::string& name) const { return m_folder + L"\\" + Widen(name); }

    void Publish(const std::vector<Entry>& entries)
    {
        std::string xml = "<UpdateList>";
        for (const Entry& e : entries) {
            std::string target = "/files/" + e.name;
            if (!e.missing) {
                TestRoute r;
                r.body = e.content;
                m_server.Route(target, r);
            }
            std::size_t length = e.listedLength == std::string::npos ? e.content.size() : e.listedLength;
            xml += "<File><FileName>" + e.name + "</FileName><LocalPath>" + Utf8(m_sub) + "</LocalPath><Length>" +
                   std::to_string(length) + "</Length><URL>" + m_server.BaseUrl() + target + "</URL>" + e.extra +
                   "</File>";
        }
        xml += "</UpdateList>";
        TestRoute list;
        list.body = xml;
        m_server.Route("/Update.xml", list);
    }

    // Runs the window modally until it quits; message boxes are read and confirmed.
    // onTick, when set, runs on the window's thread every 50 ms.
    void Run(CUpdateDlg& dlg, DWORD timeoutMs = 30000, std::function<void(CUpdateDlg&)> onTick = nullptr)
    {
        std::atomic<bool> stop{false};
        std::thread watcher([&] {
            while (!stop) {
                for (const ui::WindowInfo& w : ui::TopLevelWindows()) {
                    if (w.processId != ::GetCurrentProcessId() || !w.visible || w.className != L"#32770" ||
                        w.hwnd == dlg.GetSafeHwnd())
                        continue;
                    ui::MessageBoxInfo info = ui::ReadMessageBox(w.hwnd);
                    if (info.text.empty())
                        continue;
                    {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        m_boxes.push_back({info.caption, info.text, info.hasIcon});
                    }
                    ui::PressButton(w.hwnd, IDOK);
                    ::Sleep(200);
                }
                ::Sleep(30);
            }
        });
        s_tick = onTick ? &onTick : nullptr;
        s_dlg = &dlg;
        s_deadline = ::GetTickCount() + timeoutMs;
        UINT_PTR timer = ::SetTimer(nullptr, 0, 50, Tick);
        dlg.DoModal();
        ::KillTimer(nullptr, timer);
        // A session may ask to quit twice (a failed last file, then the end); in a
        // program the first ends the process, here the second must not end the next test.
        MSG left;
        while (::PeekMessageW(&left, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        s_tick = nullptr;
        stop = true;
        watcher.join();
    }

    std::vector<SeenBox> Boxes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_boxes;
    }

    int HallStarts() const { return ui::HallStartsLogged(ui::ProgramFolder() + L"Mirabond.exe.log"); }
    int NewHallStarts() const
    {
        return HallStarts() - m_hallStartsBefore;
    }

    std::wstring ListUrl() const { return Widen(m_server.BaseUrl() + "/Update.xml"); }

    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        if (s_tick && *s_tick)
            (*s_tick)(*s_dlg);
        if (static_cast<int>(::GetTickCount() - s_deadline) > 0)
            ::PostQuitMessage(0); // a test that hangs ends here
    }

    static std::function<void(CUpdateDlg&)>* s_tick;
    static CUpdateDlg* s_dlg;
    static DWORD s_deadline;

    TestHttpServer m_server;
    std::wstring m_sub;
    std::wstring m_folder;
    int m_hallStartsBefore = 0;
    std::mutex m_mutex;
    std::vector<SeenBox> m_boxes;
};

std::function<void(CUpdateDlg&)>* SessionTest::s_tick = nullptr;
CUpdateDlg* SessionTest::s_dlg = nullptr;
DWORD SessionTest::s_deadline = 0;

} // namespace

TEST_F(SessionTest, NothingToUpdateStartsTheHallAndQuits)
{
    ASSERT_TRUE(WriteWholeFile(Local("a.dll"), "current"));
    // Listed with a time long before the file's: not older, so not fetched.
    Publish({{"a.dll", "new", false, "<FileDateLow>0</FileDateLow><FileDateHigh>1</FileDateHigh>"}});
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    Run(dlg);
    EXPECT_EQ(dlg.Status(), L"你当前的版本是最新的");
    EXPECT_EQ(dlg.FileCount(), 0u);
    EXPECT_EQ(m_server.RequestCount("/files/a.dll"), 0u);
    EXPECT_EQ(dlg.Tasks().Count(), 0u);
    EXPECT_EQ(NewHallStarts(), 1);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(ReadWholeFile(Local("a.dll")), "current");
}

TEST_F(SessionTest, ThreeFilesAreInstalledOneAfterTheOther)
{
    ASSERT_TRUE(WriteWholeFile(Local("b.dll"), "old b"));
    // b.dll is listed with a time far after the local file's, so it is replaced.
    Publish({{"a.dll", std::string(1000, 'a')},
             {"b.dll", std::string(2000, 'b'), false, "<FileDateHigh>2147483647</FileDateHigh>"},
             {"c.dll", std::string(3000, 'c')}});
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    Run(dlg);
    EXPECT_EQ(dlg.Status(), L"更新完毕");
    EXPECT_EQ(dlg.FileCount(), 3u);
    EXPECT_EQ(dlg.TotalLength(), 6000u);
    EXPECT_EQ(dlg.TotalPercent(), 100);
    EXPECT_EQ(ReadWholeFile(Local("a.dll")), std::string(1000, 'a'));
    EXPECT_EQ(ReadWholeFile(Local("b.dll")), std::string(2000, 'b'));
    EXPECT_EQ(ReadWholeFile(Local("c.dll")), std::string(3000, 'c'));
    for (const char* left : {"a.dll.update", "b.dll.update", "c.dll.update"})
        EXPECT_FALSE(FileExistsAt(Local(left))) << left;
    EXPECT_FALSE(FileExistsAt(SetAsidePath(Local("b.dll"))));
    // In list order, one at a time.
    std::vector<RecordedRequest> requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].target, "/Update.xml");
    EXPECT_EQ(requests[1].target, "/files/a.dll");
    EXPECT_EQ(requests[2].target, "/files/b.dll");
    EXPECT_EQ(requests[3].target, "/files/c.dll");
    EXPECT_EQ(NewHallStarts(), 1);
    EXPECT_FALSE(dlg.TrayIconAdded()); // removed with the window
}

TEST_F(SessionTest, AnUpdateListThatCannotBeFetchedIsReportedAndTheHallStarts)
{
    // No route for the list: 404.
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    Run(dlg);
    EXPECT_EQ(dlg.Status(), L"取得服务器文件失败, 请选择其他服务器进行尝试：棋牌服务器");
    std::vector<SeenBox> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"系统提示");
    EXPECT_EQ(boxes[0].text, L"取得服务器文件失败, 请选择其他服务器进行尝试");
    EXPECT_TRUE(boxes[0].hasIcon);
    EXPECT_EQ(NewHallStarts(), 1);
}

TEST_F(SessionTest, AListThatIsNotXmlStopsTheSessionWithTheWindowOpen)
{
    TestRoute list;
    list.body = "<UpdateList><File>";
    m_server.Route("/Update.xml", list);
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    DWORD start = ::GetTickCount();
    bool closed = false;
    Run(dlg, 30000, [&](CUpdateDlg& d) {
        if (!closed && ::GetTickCount() - start > 3000) {
            closed = true;
            ::PostMessageW(d.GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0);
        }
    });
    EXPECT_TRUE(closed); // it was still open after three seconds
    EXPECT_EQ(dlg.Status(), L"获取更新文件列表成功：棋牌服务器");
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(NewHallStarts(), 0);
}

TEST_F(SessionTest, ASecondFileFailingEndsWithoutTheHallAndTheThirdIsNeverFetched)
{
    Publish({{"a.dll", "a"}, {"b.dll", "b", true}, {"c.dll", "c"}});
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    Run(dlg);
    EXPECT_EQ(dlg.Status(), L"下载文件失败 [b.dll], 错误代码 [6]");
    std::vector<SeenBox> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Zorvane");
    EXPECT_EQ(boxes[0].text, L"可能由于网络原因，下载文件失败 [b.dll], 错误代码 [6] ");
    EXPECT_FALSE(boxes[0].hasIcon);
    EXPECT_EQ(ReadWholeFile(Local("a.dll")), "a");
    EXPECT_EQ(m_server.RequestCount("/files/c.dll"), 0u);
    EXPECT_EQ(NewHallStarts(), 0);
}

TEST_F(SessionTest, TheLastFileFailingStillEndsWithTheHall)
{
    Publish({{"a.dll", "a"}, {"z.dll", "z", true}});
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    Run(dlg);
    EXPECT_EQ(dlg.Status(), L"更新完毕");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(NewHallStarts(), 1);
}

TEST_F(SessionTest, ALengthOfZeroKeepsTheFilePercent)
{
    Publish({{"a.dll", std::string(5000, 'a')}, {"b.dll", std::string(5000, 'b'), false, "", 0}});
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    Run(dlg);
    EXPECT_EQ(dlg.FilePercent(), 100); // from a.dll: b.dll, listed with 0 bytes, changed nothing
    EXPECT_EQ(ReadWholeFile(Local("b.dll")), std::string(5000, 'b'));
}

TEST_F(SessionTest, TheBarsAndTheTrayTipFollowATransfer)
{
    TestRoute slow;
    slow.generated = 200000;
    slow.chunkSize = 2048;
    slow.delayBetweenMs = 15;
    m_server.Route("/files/big.dat", slow);
    std::string xml = "<UpdateList><File><FileName>big.dat</FileName><LocalPath>" + Utf8(m_sub) +
                      "</LocalPath><Length>200000</Length><URL>" + m_server.BaseUrl() + "/files/big.dat</URL></File></UpdateList>";
    TestRoute list;
    list.body = xml;
    m_server.Route("/Update.xml", list);

    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    int checked = 0;
    std::wstring tip;
    Run(dlg, 60000, [&](CUpdateDlg& d) {
        std::int32_t percent = d.FilePercent();
        if (checked >= 3 || percent < 10 || percent > 90)
            return;
        ui::Image shot = ui::RenderClient(d.GetSafeHwnd());
        auto green = [&](int x, int y) {
            COLORREF c = shot.Pixel(x, y);
            return GetGValue(c) > GetRValue(c) + 30 && GetGValue(c) > GetBValue(c) + 30;
        };
        int width = 0;
        while (width < 360 && green(9 + width, 42))
            ++width;
        EXPECT_EQ(width, BarWidth(percent)) << "file percent " << percent;
        EXPECT_FALSE(green(8, 42));
        int total = 0;
        while (total < 360 && green(9 + total, 57))
            ++total;
        EXPECT_EQ(total, BarWidth(d.TotalPercent()));
        tip = d.TrayTip();
        if (checked == 0) {
            EXPECT_TRUE(shot.SaveBmp(ui::ProgramFolder() + L"session-midway.bmp"));
        }
        ++checked;
    });
    EXPECT_EQ(checked, 3);
    EXPECT_EQ(tip, L"正在更新 (1/1) big.dat");
    EXPECT_EQ(dlg.Status(), L"更新完毕");
    EXPECT_GT(dlg.Rate(), 0);
}

TEST_F(SessionTest, TheWindowCannotBeMinimisedAndSitsAtTheOrigin)
{
    Publish({});
    TestRoute slowList;
    slowList.body = "<UpdateList/>";
    slowList.delayBeforeMs = 3000;
    m_server.Route("/Update.xml", slowList);
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    bool done = false;
    Run(dlg, 30000, [&](CUpdateDlg& d) {
        if (done)
            return;
        done = true;
        HWND wnd = d.GetSafeHwnd();
        RECT r;
        ::GetWindowRect(wnd, &r);
        EXPECT_EQ(r.left, 0);
        EXPECT_EQ(r.top, 0);
        EXPECT_EQ(r.right - r.left, 368);
        EXPECT_EQ(r.bottom - r.top, 91);
        ::SendMessageW(wnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_FALSE(::IsIconic(wnd));
        EXPECT_TRUE(d.TrayIconAdded());
        EXPECT_EQ(d.TrayTip(), L"正在自动更新");
        EXPECT_EQ(d.Status(), L"正在连接：棋牌服务器");
    });
    EXPECT_TRUE(done);
}

TEST_F(SessionTest, TheCloseButtonLooksFollowTheMouse)
{
    TestRoute slowList;
    slowList.body = "<UpdateList/>";
    slowList.delayBeforeMs = 4000;
    m_server.Route("/Update.xml", slowList);
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    int step = 0;
    std::vector<int> looks;
    Run(dlg, 30000, [&](CUpdateDlg& d) {
        HWND wnd = d.GetSafeHwnd();
        switch (step++) {
        case 0:
            ::SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(350, 6));
            looks.push_back(d.CloseButtonLook());
            ::SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(200, 40));
            looks.push_back(d.CloseButtonLook());
            ::SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(350, 6));
            looks.push_back(d.CloseButtonLook());
            // The pressed look is drawn from the third cell of the strip.
            {
                ui::Image shot = ui::RenderClient(wnd);
                COLORREF c = shot.Pixel(343 + 2, 9);
                EXPECT_GT(GetRValue(c), GetBValue(c) + 40) << "pressed cell is red";
            }
            // Released outside the button: nothing closes.
            ::SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(200, 40));
            looks.push_back(d.CloseButtonLook());
            break;
        default:
            break;
        }
    });
    EXPECT_EQ(looks, (std::vector<int>{LOOK_HOVER, LOOK_NORMAL, LOOK_PRESSED, LOOK_NORMAL}));
    EXPECT_EQ(dlg.Status(), L"你当前的版本是最新的"); // the session ran on to its end
}

TEST_F(SessionTest, EscEndsTheRunAndTheWindowsDestructionCancelsTheTransfer)
{
    TestRoute slow;
    slow.generated = 5000000;
    slow.chunkSize = 1024;
    slow.delayBetweenMs = 20;
    m_server.Route("/files/big.dat", slow);
    std::string xml = "<UpdateList><File><FileName>big.dat</FileName><LocalPath>" + Utf8(m_sub) +
                      "</LocalPath><Length>5000000</Length><URL>" + m_server.BaseUrl() + "/files/big.dat</URL></File></UpdateList>";
    TestRoute list;
    list.body = xml;
    m_server.Route("/Update.xml", list);
    auto dlg = std::make_unique<CUpdateDlg>(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    bool sent = false;
    Run(*dlg, 30000, [&](CUpdateDlg& d) {
        if (!sent && d.FilePercent() >= 1) {
            sent = true;
            ui::PostKey(d.GetSafeHwnd(), VK_ESCAPE);
        }
    });
    ASSERT_TRUE(sent);
    EXPECT_FALSE(dlg->TrayIconAdded());
    ASSERT_EQ(dlg->Tasks().Count(), 1u); // still queued, still running
    DWORD start = ::GetTickCount();
    dlg.reset(); // cancels and joins
    EXPECT_LT(::GetTickCount() - start, 5000u);
    EXPECT_FALSE(FileExistsAt(Local("big.dat")));
    EXPECT_LT(ReadWholeFile(Local("big.dat.update")).size(), 5000000u);
    EXPECT_EQ(NewHallStarts(), 0);
}

namespace {

// A transfer that tells when it is deleted.
struct WatchedTransfer : CInetFile {
    explicit WatchedTransfer(bool& gone) : m_gone(gone) {}
    ~WatchedTransfer() override { m_gone = true; }
    bool& m_gone;
};

} // namespace

TEST_F(SessionTest, NoticesThatNoTransferOfTheQueueSentChangeNothing)
{
    // Any program can post the transfer notices to the window, with any task.
    TestRoute slow;
    slow.generated = 60000;
    slow.chunkSize = 2048;
    slow.delayBetweenMs = 20;
    m_server.Route("/files/a.dat", slow);
    std::string xml = "<UpdateList><File><FileName>a.dat</FileName><LocalPath>" + Utf8(m_sub) +
                      "</LocalPath><Length>60000</Length><URL>" + m_server.BaseUrl() + "/files/a.dat</URL></File>";
    for (const char* name : {"b.dll", "c.dll"}) {
        TestRoute r;
        r.body = name;
        m_server.Route(std::string("/files/") + name, r);
        xml += std::string("<File><FileName>") + name + "</FileName><LocalPath>" + Utf8(m_sub) + "</LocalPath><URL>" +
               m_server.BaseUrl() + "/files/" + name + "</URL></File>";
    }
    TestRoute list;
    list.body = xml + "</UpdateList>";
    m_server.Route("/Update.xml", list);

    bool strangerGone = false;
    auto* stranger = new WatchedTransfer(strangerGone); // never queued
    stranger->Kind = KIND_FILE;
    stranger->TargetPath = Local("stranger.dll");
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    bool forged = false;
    Run(dlg, 60000, [&](CUpdateDlg& d) {
        if (forged || d.FilePercent() < 5)
            return;
        forged = true;
        HWND wnd = d.GetSafeHwnd();
        const auto running = reinterpret_cast<LPARAM>(d.Tasks().Front());
        const auto ok = static_cast<WPARAM>(MakeNoticeParam(KIND_FILE, TRANSFER_OK));
        // A task that is not queued, the running one before its end, and addresses of nothing.
        ::PostMessageW(wnd, WM_TRANSFER_DONE, ok, reinterpret_cast<LPARAM>(stranger));
        ::PostMessageW(wnd, WM_TRANSFER_PROGRESS, MakeNoticeParam(KIND_FILE, 1024), reinterpret_cast<LPARAM>(stranger));
        ::PostMessageW(wnd, WM_TRANSFER_DONE, ok, running);
        ::PostMessageW(wnd, WM_TRANSFER_DONE, MakeNoticeParam(KIND_UPDATE_LIST, TRANSFER_OK), running);
        for (LPARAM nothing : {LPARAM(1), LPARAM(0x10000), LPARAM(-1)}) {
            ::PostMessageW(wnd, WM_TRANSFER_PROGRESS, MakeNoticeParam(KIND_FILE, 1024), nothing);
            ::PostMessageW(wnd, WM_TRANSFER_DONE, ok, nothing);
        }
    });
    EXPECT_TRUE(forged);
    EXPECT_FALSE(strangerGone);
    if (!strangerGone)
        delete stranger;
    EXPECT_EQ(dlg.Status(), L"更新完毕");
    EXPECT_EQ(ReadWholeFile(Local("a.dat")), TestHttpServer::GeneratedBody(60000));
    EXPECT_EQ(ReadWholeFile(Local("b.dll")), "b.dll");
    EXPECT_EQ(ReadWholeFile(Local("c.dll")), "c.dll");
    EXPECT_EQ(dlg.TotalPercent(), 100);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(NewHallStarts(), 1);
}

namespace {

// A session window in which memory runs out at one moment of the session: from
// the first notice of one kind on, the allocations that the rule picks fail (by
// default every allocation from the completion of the first file on).
class StarvedDlg : public CUpdateDlg {
public:
    using CUpdateDlg::CUpdateDlg;

    struct Rule {
        UINT notice = WM_TRANSFER_DONE;
        std::int32_t kind = KIND_FILE;
        std::size_t size = 0;
        int count = -1;
        bool anyThread = false;
    } rule;

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override
    {
        if (!m_starved && message == rule.notice && NoticeKind(static_cast<std::uint32_t>(wParam)) == rule.kind) {
            m_starved = true;
            FailAllocations(rule.size, 0, rule.count, rule.anyThread);
        }
        return CUpdateDlg::OnMessage(message, wParam, lParam, result);
    }

private:
    bool m_starved = false;
};

} // namespace

TEST_F(SessionTest, AnAllocationThatFailsInAHandlerIsToldOnceAndEndsTheSession)
{
    Publish({{"a.dll", "a"}, {"b.dll", "b"}});
    StarvedDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    Run(dlg);
    StopFailingAllocations();
    std::vector<SeenBox> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"系统提示");
    EXPECT_EQ(boxes[0].text, L"系统资源不足，更新未完成");
    EXPECT_TRUE(boxes[0].hasIcon);
    // The completed transfer left the queue; the next one never started.
    EXPECT_EQ(dlg.Tasks().Count(), 1u);
    EXPECT_EQ(m_server.RequestCount("/files/b.dll"), 0u);
    EXPECT_NE(dlg.Status(), L"更新完毕");
    EXPECT_EQ(NewHallStarts(), 0);
}

TEST_F(SessionTest, MemoryRunningOutAtOtherMomentsIsToldOnceAndEndsWithoutTheHall)
{
    const struct {
        const char* moment;
        StarvedDlg::Rule rule;
    } rows[] = {
        // The first entry that the reading of the list makes cannot be had.
        {"while the list is read", {WM_TRANSFER_DONE, KIND_UPDATE_LIST, sizeof(CFileEntry), 1, true}},
        // The notice of the last file's only block fails; the file's completion
        // is handled while the user reads of the fault.
        {"at the last file's block", {WM_TRANSFER_PROGRESS, KIND_FILE, 0, 1, false}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.moment);
        m_boxes.clear();
        m_hallStartsBefore = HallStarts();
        Publish({{"a.dll", std::string(500, 'a')}});
        StarvedDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
        dlg.rule = row.rule;
        Run(dlg, 15000);
        StopFailingAllocations();
        ASSERT_EQ(Boxes().size(), 1u) << "the window waited without a word";
        EXPECT_EQ(Boxes()[0].text, L"系统资源不足，更新未完成");
        EXPECT_NE(dlg.Status(), L"更新完毕");
        EXPECT_EQ(NewHallStarts(), 0);
    }
}

TEST_F(SessionTest, WhatEarlierRunsSetAsideIsRemovedOnceItsFileIsInPlace)
{
    // An earlier run was stopped after current.dll's replacement moved in (its
    // old copies stayed beside it), another between gone.dll's two moves (only
    // the old copy is there).
    ASSERT_TRUE(WriteWholeFile(Local("current.dll"), "current"));
    // The previous release's names as well.
    const std::vector<std::wstring> leftovers{SetAsidePath(Local("current.dll")), SetAsidePath(Local("current.dll"), 3),
                                              SetAsidePath(Local("gone.dll")), Local("current.dll.zorvane-old"),
                                              Local("gone.dll.zorvane-old.2")};
    for (const std::wstring& leftover : leftovers)
        ASSERT_TRUE(WriteWholeFile(leftover, "an old copy"));
    Publish({{"current.dll", "new", false, "<FileDateLow>0</FileDateLow><FileDateHigh>1</FileDateHigh>"},
             {"gone.dll", "new gone"}});
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    Run(dlg);
    EXPECT_EQ(dlg.Status(), L"更新完毕");
    EXPECT_EQ(ReadWholeFile(Local("current.dll")), "current");
    EXPECT_EQ(ReadWholeFile(Local("gone.dll")), "new gone");
    for (const std::wstring& leftover : leftovers)
        EXPECT_FALSE(FileExistsAt(leftover)) << Utf8(leftover);
}

TEST_F(SessionTest, AnEntryThatCannotBecomeATransferEndsTheSessionAsIncomplete)
{
    Publish({{"a.dll", "a"}, {"b.dll", "b"}, {"c.dll", "c"}});
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    // The list's transfer and a.dll's are made; b.dll's cannot be.
    FailAllocations(sizeof(CInetFile), 2, 1);
    Run(dlg);
    StopFailingAllocations();
    const std::wstring text = L"无法下载文件 [b.dll]，更新未完成";
    EXPECT_EQ(dlg.Status(), text);
    std::vector<SeenBox> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"系统提示");
    EXPECT_EQ(boxes[0].text, text);
    for (const char* name : {"/files/a.dll", "/files/b.dll", "/files/c.dll"})
        EXPECT_EQ(m_server.RequestCount(name), 0u) << name;
    EXPECT_EQ(NewHallStarts(), 0);
}

TEST_F(SessionTest, FilesTheListNeverNamedAreLeftAlone)
{
    ASSERT_TRUE(WriteWholeFile(Local("a.dll"), "old a"));
    ASSERT_TRUE(WriteWholeFile(Local("a.dll.replaced"), "the user's own"));
    ASSERT_TRUE(WriteWholeFile(Local("b.dll.update"), "the user's too"));
    // What an earlier run set aside and could not remove is the program's own.
    ASSERT_TRUE(WriteWholeFile(SetAsidePath(Local("a.dll")), "left by an earlier run"));
    // a.dll is replaced; b.dll is answered with 404, so its download never starts.
    Publish({{"a.dll", "new a", false, "<FileDateHigh>2147483647</FileDateHigh>"}, {"b.dll", "b", true}});
    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    Run(dlg);
    EXPECT_EQ(ReadWholeFile(Local("a.dll")), "new a");
    EXPECT_EQ(ReadWholeFile(Local("a.dll.replaced")), "the user's own");
    EXPECT_EQ(ReadWholeFile(Local("b.dll.update")), "the user's too");
    EXPECT_FALSE(FileExistsAt(SetAsidePath(Local("a.dll"))));
    ASSERT_EQ(Boxes().size(), 1u); // b.dll's failure
}

TEST_F(SessionTest, TheWindowAnswersWhileALargeListIsChecked)
{
    // Every entry names one current file, so the check reads them all and keeps none.
    ASSERT_TRUE(WriteWholeFile(Local("current.dat"), "x"));
    FILETIME written{};
    {
        HANDLE h = ::CreateFileW(Local("current.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ::GetFileTime(h, nullptr, nullptr, &written);
        ::CloseHandle(h);
    }
    const std::string entry = "<File><FileName>current.dat</FileName><LocalPath>" + Utf8(m_sub) +
                              "</LocalPath><FileDateLow>" + std::to_string(written.dwLowDateTime) +
                              "</FileDateLow><FileDateHigh>" + std::to_string(written.dwHighDateTime) +
                              "</FileDateHigh></File>";
    std::string xml = "<UpdateList>";
    for (int i = 0; i < 30000; ++i)
        xml += entry;
    TestRoute list;
    list.body = xml + "</UpdateList>";
    m_server.Route("/Update.xml", list);

    CUpdateDlg dlg(L"http://127.0.0.1:9/serverlist.txt", ListUrl());
    bool pressed = false;
    Run(dlg, 120000, [&](CUpdateDlg& d) {
        // The list has arrived and is being checked: Esc ends the run at once.
        if (!pressed && d.Status() == L"获取更新文件列表成功：棋牌服务器") {
            pressed = true;
            ui::PostKey(d.GetSafeHwnd(), VK_ESCAPE);
        }
    });
    EXPECT_TRUE(pressed);
    EXPECT_EQ(dlg.Status(), L"获取更新文件列表成功：棋牌服务器");
    EXPECT_EQ(NewHallStarts(), 0);
}

// The completion of a finished transfer, handled without a window.
class InstallTest : public ::testing::Test {
protected:
    void SetUp() override { m_dlg = std::make_unique<CUpdateDlg>(L"x", L"y"); }

    // A transfer at the head of the queue, as the running one is; a second one
    // behind it keeps the queue from running empty (which would start the hall),
    // and counts as started, so that the end of the first starts nothing.
    CInetFile* Finished(const std::wstring& name, std::int32_t kind = KIND_FILE)
    {
        auto* t = new CInetFile;
        t->Kind = kind;
        t->TargetPath = m_folder / name;
        t->FileName = name;
        m_dlg->Tasks().PushBack(t);
        auto* next = new CInetFile;
        next->StartCount = 1;
        m_dlg->Tasks().PushBack(next);
        return t;
    }

    // Its run ends with code, as the transfer itself records it.
    void Complete(CInetFile* t, std::uint32_t code = TRANSFER_OK)
    {
        t->Result = code;
        m_dlg->OnTransferDone(MakeNoticeParam(t->Kind, code), reinterpret_cast<LPARAM>(t));
    }

    TempFolder m_folder;
    std::unique_ptr<CUpdateDlg> m_dlg;
};

TEST_F(InstallTest, TheNewFileReplacesTheOldOne)
{
    ASSERT_TRUE(WriteWholeFile(m_folder / L"a.dll", "old"));
    ASSERT_TRUE(WriteWholeFile(m_folder / L"a.dll.update", "new"));
    Complete(Finished(L"a.dll"));
    EXPECT_EQ(m_dlg->Status(), L"下载文件成功 [a.dll]");
    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dll"), "new");
    EXPECT_FALSE(FileExistsAt(m_folder / L"a.dll.update"));
    EXPECT_FALSE(FileExistsAt(SetAsidePath(m_folder / L"a.dll")));
    EXPECT_EQ(m_dlg->Tasks().Count(), 1u);
}

TEST_F(InstallTest, AMoveThatFailsKeepsTheInstalledFile)
{
    ASSERT_TRUE(WriteWholeFile(m_folder / L"a.dll", "installed"));
    ASSERT_TRUE(WriteWholeFile(m_folder / L"a.dll.update", "new"));
    // Held open without delete sharing, the download cannot move.
    HANDLE hold = ::CreateFileW((m_folder / L"a.dll.update").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    Complete(Finished(L"a.dll"));
    ::CloseHandle(hold);
    EXPECT_EQ(m_dlg->Status(), L"重命名文件失败 [a.dll]");
    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dll"), "installed");
    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dll.update"), "new");
    EXPECT_FALSE(FileExistsAt(SetAsidePath(m_folder / L"a.dll")));
}

TEST_F(InstallTest, AnOldFileThatCannotBeMovedLeavesTheDownloadBeside)
{
    ASSERT_TRUE(WriteWholeFile(m_folder / L"a.dll", "installed"));
    ASSERT_TRUE(WriteWholeFile(m_folder / L"a.dll.update", "new"));
    HANDLE hold = ::CreateFileW((m_folder / L"a.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    Complete(Finished(L"a.dll"));
    ::CloseHandle(hold);
    EXPECT_EQ(m_dlg->Status(), L"删除文件失败 [a.dll]");
    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dll"), "installed");
    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dll.update"), "new");
}

TEST_F(InstallTest, AFileLockedAgainstReadingCountsAsMissingAndCannotBeReplaced)
{
    ASSERT_TRUE(WriteWholeFile(m_folder / L"a.dll", "installed"));
    ASSERT_TRUE(WriteWholeFile(m_folder / L"a.dll.update", "new"));
    HANDLE hold = ::CreateFileW((m_folder / L"a.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    Complete(Finished(L"a.dll"));
    ::CloseHandle(hold);
    EXPECT_EQ(m_dlg->Status(), L"重命名文件失败 [a.dll]");
    EXPECT_EQ(ReadWholeFile(m_folder / L"a.dll"), "installed");
}

TEST_F(InstallTest, AServerListAddsItsServers)
{
    // The text is in the ANSI code page (GBK): "电信|http://a/Update.xml" and a line without "|".
    std::string gbk = "\xB5\xE7\xD0\xC5 | http://a/Update.xml \r\nnothing here\r\nb|http://b/Update.xml\r\n";
    ASSERT_TRUE(WriteWholeFile(m_folder / L"servers.tmp", gbk));
    Complete(Finished(L"servers.tmp", KIND_SERVER_LIST), TRANSFER_HTTP_FAILED);
    EXPECT_EQ(m_dlg->Status(), L"获取服务器列表成功,共取得 2 个可选服务器");
    ASSERT_NE(m_dlg->Servers().First(), nullptr);
    EXPECT_EQ(m_dlg->Servers().First()->Name, L"电信");
    EXPECT_EQ(m_dlg->Servers().First()->URL, L"http://a/Update.xml");
    EXPECT_EQ(m_dlg->Servers().Count(), 2u);
    EXPECT_FALSE(FileExistsAt(m_folder / L"servers.tmp"));
}

TEST_F(InstallTest, AServerListWithoutUsableLinesSaysSo)
{
    ASSERT_TRUE(WriteWholeFile(m_folder / L"servers.tmp", "|x\r\n\r\n"));
    Complete(Finished(L"servers.tmp", KIND_SERVER_LIST));
    EXPECT_EQ(m_dlg->Status(), L"获得服务器列表失败");
    EXPECT_EQ(m_dlg->Servers().Count(), 0u);
}
