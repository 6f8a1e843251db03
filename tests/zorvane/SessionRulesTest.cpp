#include "SessionRules.h"

#include <gtest/gtest.h>

TEST(SessionRules, PercentagesNeverOverflowAndStayInRange)
{
    struct Case {
        std::uint32_t part, whole;
        std::int32_t percent;
    };
    const Case cases[] = {
        {0, 100, 0},
        {50, 100, 50},
        {999, 1000, 99},
        {1000, 1000, 100},
        {4294967295u, 4294967295u, 100},   // the 32-bit product would overflow
        {2147483648u, 4294967295u, 50},
        {3000000000u, 3000000001u, 99},
        {5000, 1000, 100},                 // a body longer than listed
        {123, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Percent(c.part, c.whole), c.percent) << c.part << "/" << c.whole;
}

TEST(SessionRules, BarWidthIsPercentOf346)
{
    EXPECT_EQ(BarWidth(0), 0);
    EXPECT_EQ(BarWidth(50), 173);
    EXPECT_EQ(BarWidth(99), 342);
    EXPECT_EQ(BarWidth(100), 346);
    EXPECT_EQ(BarWidth(1), 3);
    EXPECT_EQ(BarWidth(-5), 0);
    EXPECT_EQ(BarWidth(250), 346);
}

TEST(SessionRules, CurrentFileNumber)
{
    EXPECT_EQ(CurrentFileNumber(0, 1), 0); // while the list is fetched
    EXPECT_EQ(CurrentFileNumber(3, 3), 1);
    EXPECT_EQ(CurrentFileNumber(3, 1), 3);
}

TEST(SessionRules, Texts)
{
    EXPECT_EQ(TextConnecting(L"棋牌服务器"), L"正在连接：棋牌服务器");
    EXPECT_EQ(TextListFailed(L"连接服务器失败, 请检查网络或联系管理员", L"棋牌服务器"),
              L"连接服务器失败, 请检查网络或联系管理员：棋牌服务器");
    EXPECT_EQ(TextListFetched(L"s"), L"获取更新文件列表成功：s");
    EXPECT_EQ(TextUpdateSummary(3, 1535), L"需更新文件总数: 3, 文件总长度: 1 KB");
    EXPECT_EQ(TextUpdateSummary(1, 4294967295u), L"需更新文件总数: 1, 文件总长度: 4194303 KB");
    EXPECT_EQ(TextUpdatingFile(L"a.dll"), L"正在更新文件：a.dll");
    EXPECT_EQ(TextFileFailed(L"b.dll", 6), L"下载文件失败 [b.dll], 错误代码 [6]");
    EXPECT_EQ(TextFileFailedBox(TextFileFailed(L"b.dll", 6)), L"可能由于网络原因，下载文件失败 [b.dll], 错误代码 [6] ");
    EXPECT_EQ(TextDeleteFailed(L"c.dll"), L"删除文件失败 [c.dll]");
    EXPECT_EQ(TextRenameFailed(L"c.dll"), L"重命名文件失败 [c.dll]");
    EXPECT_EQ(TextInstalled(L"c.dll"), L"下载文件成功 [c.dll]");
    EXPECT_EQ(TextServerListFetched(2), L"获取服务器列表成功,共取得 2 个可选服务器");
    EXPECT_EQ(TextRate(1023), L"0KB/秒");
    EXPECT_EQ(TextRate(1024 * 300 + 5), L"300KB/秒");
    EXPECT_EQ(TextCounter(0, 0, 0), L"0% (0/0)");
    EXPECT_EQ(TextCounter(42, 1, 3), L"42% (1/3)");
}

TEST(SessionRules, TrayTipFitsItsField)
{
    EXPECT_EQ(TextTrayTip(L"a.dll", 1, 3), L"正在更新 (1/3) a.dll");
    std::wstring longName(200, L'x');
    EXPECT_EQ(TextTrayTip(longName, 2, 9).size(), 63u);
    EXPECT_EQ(TrayTipField(L"short"), L"short");
}

TEST(RateMeter, MeasuresBytesPerSecondAndSmoothes)
{
    CRateMeter meter;
    meter.OnBlock(1024, 5000); // starts the clock only
    EXPECT_EQ(meter.Rate(), 0);
    // 1024 bytes every 10 ms: 102400 bytes per second.
    for (std::uint32_t t = 5010; t <= 8000; t += 10)
        meter.OnBlock(1024, t);
    EXPECT_NEAR(meter.Rate(), 102400, 1024);
    // Several blocks inside one millisecond count at the next tick.
    meter.OnBlock(1024, 8000);
    meter.OnBlock(1024, 8000);
    meter.OnBlock(1024, 8010);
    EXPECT_GT(meter.Rate(), 102400);
    // The rate follows a slower transfer within a few seconds.
    for (std::uint32_t t = 8100; t <= 14000; t += 100)
        meter.OnBlock(1024, t);
    EXPECT_NEAR(meter.Rate(), 10240, 512);
}

TEST(RateMeter, SurvivesTheClockWrapping)
{
    CRateMeter meter;
    meter.OnBlock(1000, 0xFFFFFF00u);
    meter.OnBlock(1000, 0xFFFFFF00u + 100); // wraps past zero
    EXPECT_EQ(meter.Rate(), 10000);
}

TEST(MouseState, CloseButtonLooksAndDecisions)
{
    MouseState m;
    EXPECT_FALSE(m.Move(100, 50));
    EXPECT_EQ(m.look, LOOK_NORMAL);
    EXPECT_FALSE(m.Move(350, 5)); // over the button, not dragging
    EXPECT_EQ(m.look, LOOK_HOVER);
    m.Press(350, 5);
    EXPECT_EQ(m.look, LOOK_PRESSED);
    EXPECT_TRUE(m.dragging);
    // Moving while pressed inside the button: hover look, and the window moves
    // because the button lies inside the title strip.
    EXPECT_TRUE(m.Move(351, 6));
    EXPECT_EQ(m.look, LOOK_HOVER);
    EXPECT_TRUE(m.Release(351, 6));
    EXPECT_EQ(m.look, LOOK_NORMAL);
    EXPECT_FALSE(m.dragging);

    m.Press(350, 5);
    EXPECT_FALSE(m.Release(300, 40)); // released outside: nothing closes
    m.Press(100, 40);                 // below the title strip
    EXPECT_EQ(m.look, LOOK_NORMAL);
    EXPECT_FALSE(m.Move(101, 41));
}

TEST(MouseState, HitAreaAndTitleStripEdges)
{
    EXPECT_TRUE(InCloseHitArea(343, 2));
    EXPECT_TRUE(InCloseHitArea(361, 11));
    EXPECT_FALSE(InCloseHitArea(362, 5));
    EXPECT_FALSE(InCloseHitArea(350, 12));
    EXPECT_FALSE(InCloseHitArea(342, 5));
    EXPECT_TRUE(InTitleStrip(0, 0));
    EXPECT_TRUE(InTitleStrip(367, 12));
    EXPECT_FALSE(InTitleStrip(10, 13));
    EXPECT_FALSE(InTitleStrip(368, 3));
}

TEST(TrayFrame, TheFirstNoticeShowsTheSecondFrame)
{
    std::uint32_t counter = 0;
    EXPECT_EQ(NextTrayFrame(counter), 1);
    EXPECT_EQ(NextTrayFrame(counter), 2);
    EXPECT_EQ(NextTrayFrame(counter), 0);
    EXPECT_EQ(NextTrayFrame(counter), 1);
}

TEST(ServerList, TakesNamePipeAddressLines)
{
    std::vector<ServerListEntry> e = ParseServerList(L"  电信 | http://a/Update.xml \r\n"
                                                     L"no bar here\n"
                                                     L"|http://nameless\n"
                                                     L"   |http://blank-name\n"
                                                     L"empty|   \n"
                                                     L"\n"
                                                     L"网通|http://b/x|y\n"
                                                     L"last|http://c");
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].name, L"电信");
    EXPECT_EQ(e[0].address, L"http://a/Update.xml");
    EXPECT_EQ(e[1].name, L"网通");
    EXPECT_EQ(e[1].address, L"http://b/x|y");
    EXPECT_EQ(e[2].address, L"http://c");
    EXPECT_TRUE(ParseServerList(L"").empty());
    // A line longer than any fixed buffer is one line.
    std::wstring longLine = L"n|" + std::wstring(5000, L'z');
    ASSERT_EQ(ParseServerList(longLine).size(), 1u);
    EXPECT_EQ(ParseServerList(longLine)[0].address.size(), 5000u);
}

TEST(SetAside, NamesAreTheProgramsOwnAndFitWhereverTheDownloadsNameFits)
{
    // The platform's limit is on the whole path: a name no longer than the
    // download's ("<path>.update") fits wherever the download could be written.
    const std::wstring place = L"C:\\game\\" + std::wstring(240, L'd') + L"\\a.dll";
    for (unsigned attempt = 0; attempt < SET_ASIDE_NAMES; ++attempt) {
        const std::wstring aside = SetAsidePath(place, attempt);
        EXPECT_LE(aside.size(), place.size() + 7) << attempt;
        EXPECT_NE(aside, attempt > 0 ? SetAsidePath(place, attempt - 1) : place + L".update");
        EXPECT_EQ(SetAsideOwner(aside), place) << attempt;
    }
    // The previous release's names are the program's own too.
    EXPECT_EQ(SetAsideOwner(L"d\\a.dll.zorvane-old"), L"d\\a.dll");
    EXPECT_EQ(SetAsideOwner(L"a.dll.zorvane-old.9"), L"a.dll");
    // What a search of a folder finds is told apart from the user's own files.
    for (const wchar_t* other : {L"a.dll", L"a.dll.update", L"a.dll.zvold10", L"a.dll.zvoldx", L".zvold", L"d\\.zvold1",
                                 L"a.dll.zorvane-old1", L"a.dll.zorvane-old.", L"a.dll.zvold.1"})
        EXPECT_EQ(SetAsideOwner(other), L"") << testing::PrintToString(std::wstring(other));
}
