#include "UpdateRules.h"

#include <gtest/gtest.h>

#include <deque>

#include "GbkText.h"

namespace {

std::vector<UpdateServer> Servers(const std::vector<std::int32_t>& kinds)
{
    std::vector<UpdateServer> list;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        UpdateServer s;
        s.id = static_cast<std::int32_t>(i + 1);
        s.kind = kinds[i];
        s.host = "h" + std::to_string(i);
        list.push_back(s);
    }
    return list;
}

FileEntry Entry(std::string directory, std::string name, std::int32_t kind)
{
    FileEntry e;
    e.directory = std::move(directory);
    e.name = std::move(name);
    e.kind = kind;
    return e;
}

} // namespace

TEST(UpdateRules, TheGeneratorIsTheCRuntimesSequence)
{
    CRandom r;
    r.Seed(1);
    EXPECT_EQ(r.Next(), 41);
    EXPECT_EQ(r.Next(), 18467);
    EXPECT_EQ(r.Next(), 6334);
    EXPECT_EQ(r.Next(), 26500);
    for (int i = 0; i < 1000; ++i) {
        int v = r.Next();
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 32767);
    }
}

TEST(UpdateRules, FiveServersWithOneOfTheKindAlwaysChooseIt)
{
    std::vector<UpdateServer> list = Servers({2, 2, 1, 2, 2});
    for (int r = 0; r < 32768; ++r)
        ASSERT_EQ(PickServerIndex(list, 1, r), 2) << r;
}

TEST(UpdateRules, FortyServersWithOnlyTheFirstOfTheKind)
{
    std::vector<UpdateServer> list = Servers(std::vector<std::int32_t>(40, 0));
    list[0].kind = 1;
    struct Case {
        int r;      // target (r + 40) mod 80
        int chosen; // index or -1
    } cases[] = {{40, 0}, {64, 0}, {65, -1}, {39, -1}, {24 + 80 - 40, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(PickServerIndex(list, 1, c.r), c.chosen) << c.r;
}

TEST(UpdateRules, NoServerOfTheKindOrNoServerAtAll)
{
    EXPECT_EQ(PickServerIndex(Servers({2, 3, 4}), 1, 0), -1);
    EXPECT_EQ(PickServerIndex({}, 1, 0), -1);
}

TEST(UpdateRules, TheWalkChoosesTheTargetPlusSecondMatch)
{
    // Kinds 1 at 0, 2 and 3 of five: target (r + 5) mod 10. The chosen one is the
    // (target + 2)-th match along the cycling walk.
    std::vector<UpdateServer> list = Servers({1, 0, 1, 1, 0});
    const int matches[] = {0, 2, 3};
    for (int r = 0; r < 10; ++r) {
        int target = (r + 5) % 10;
        EXPECT_EQ(PickServerIndex(list, 1, r), matches[(target + 1) % 3]) << r;
    }
}

TEST(UpdateRules, UpdateFolderName)
{
    struct Case {
        const char* parameter;
        std::string folder;
    } cases[] = {{"plat", "plat"}, {"12,7", "12"}, {"abc", "abc"}, {",7", ""}, {"a,b,c", "a"}};
    for (const Case& c : cases)
        EXPECT_EQ(UpdateFolderName(c.parameter), c.folder);
    EXPECT_EQ(UpdateFolderName(std::string(300, 'x')).size(), 259u);
}

TEST(UpdateRules, SkippedEntries)
{
    EXPECT_TRUE(IsSkippedEntry(Entry("UPDATETMP", "a.dat", 0)));
    EXPECT_TRUE(IsSkippedEntry(Entry("\\", "WinMM.dll", 0)));
    EXPECT_TRUE(IsSkippedEntry(Entry("sub", "winmm.DLL", 0)));
    EXPECT_FALSE(IsSkippedEntry(Entry("updatetmp\\x", "a.dat", 0)));
    EXPECT_FALSE(IsSkippedEntry(Entry("\\", "winmm.dll.bak", 0)));
}

TEST(UpdateRules, TargetsOfEntries)
{
    struct Case {
        FileEntry entry;
        const char* folder;
        const char* localPath;
        const char* urlPath;
    } cases[] = {
        {Entry("/", "quillet.exe", ENTRY_FILE), "plat", "quillet.exe", "/Vexaupdate/plat/release/quillet.exe"},
        {Entry("\\", "quillet.exe", ENTRY_FILE), "plat", "quillet.exe", "/Vexaupdate/plat/release/quillet.exe"},
        {Entry("sub\\data", "a.dat", ENTRY_FILE), "plat", "sub\\data\\a.dat",
         "/Vexaupdate/plat/release/sub\\data/a.dat"},
        {Entry("\\", "games", ENTRY_DIRECTORY), "12", "games", ""},
        {Entry("sub", "data", ENTRY_DIRECTORY), "12", "sub\\data", ""},
    };
    for (const Case& c : cases) {
        std::optional<EntryTarget> t = TargetOf(c.entry, c.folder);
        ASSERT_TRUE(t.has_value()) << c.localPath;
        EXPECT_EQ(t->localPath, c.localPath);
        EXPECT_EQ(t->urlPath, c.urlPath);
    }

    std::optional<EntryTarget> list = FileListTarget("12");
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->localPath, "updatetmp/12/filelist.list");
    EXPECT_EQ(list->urlPath, "/Vexaupdate/12/filelist.list");
}

TEST(UpdateRules, PathsOverTheLimitAreRefused)
{
    // "/Vexaupdate/plat/release/" is 25 bytes.
    std::string name234(234, 'n');
    EXPECT_TRUE(TargetOf(Entry("\\", name234, ENTRY_FILE), "plat").has_value());
    EXPECT_FALSE(TargetOf(Entry("\\", name234 + "n", ENTRY_FILE), "plat").has_value());
    EXPECT_TRUE(TargetOf(Entry(std::string(200, 'd'), std::string(58, 'n'), ENTRY_DIRECTORY), "p").has_value());
    EXPECT_FALSE(TargetOf(Entry(std::string(200, 'd'), std::string(59, 'n'), ENTRY_DIRECTORY), "p").has_value());
    EXPECT_FALSE(TargetOf(Entry("\\", std::string(260, 'n'), ENTRY_DIRECTORY), "p").has_value());
    EXPECT_FALSE(FileListTarget(std::string(240, 'f')).has_value());
}

TEST(UpdateRules, DirectoryPrefixes)
{
    using V = std::vector<std::string>;
    const CLeadBytes& gbk = GbkLeadBytes();
    EXPECT_EQ(DirectoryPrefixes("a", gbk), V({"a"}));
    EXPECT_EQ(DirectoryPrefixes("a\\b/c", gbk), V({"a", "a\\b", "a\\b\\c"}));
    EXPECT_EQ(DirectoryPrefixes("a\\", gbk), V({"a", "a\\"}));
    EXPECT_EQ(DirectoryPrefixes("\xB1\x5C\\b", gbk), V({"\xB1\x5C", "\xB1\x5C\\b"}));
    // In code page 1252 the same bytes are two characters and a separator.
    EXPECT_EQ(DirectoryPrefixes("\xB1\x5C\\b", CLeadBytes()), V({"\xB1", "\xB1\\", "\xB1\\\\b"}));
    EXPECT_EQ(DirectoryPrefixes(std::string(255, 'd'), gbk).size(), 1u);
    EXPECT_TRUE(DirectoryPrefixes(std::string(256, 'd'), gbk).empty());
}

TEST(UpdateRules, OverallProgress)
{
    EXPECT_EQ(OverallAfterEntry(0, 3), 3333);
    EXPECT_EQ(OverallAfterEntry(1, 3), 6666);
    EXPECT_EQ(OverallAfterEntry(2, 3), 10000);
    EXPECT_EQ(OverallDuring(1, 4, 5000), 3750);
    EXPECT_EQ(OverallDuring(0, 3, 10000), 3333);
    // No overflow for very many entries.
    EXPECT_EQ(OverallAfterEntry(499999, 500000), 10000);
    EXPECT_EQ(OverallDuring(250000, 500000, 0), 5000);
}

TEST(UpdateRules, TransferProgress)
{
    EXPECT_EQ(TransferProgress(10000, 25000), 4000);
    EXPECT_EQ(TransferProgress(25000, 25000), 10000);
    EXPECT_EQ(TransferProgress(1, 3), 3333);
    EXPECT_EQ(TransferProgress(0, 0), 10000);
    EXPECT_EQ(TransferProgress(30000, 25000), 10000);
    EXPECT_EQ(TransferProgress(1ull << 32, 1ull << 33), 5000);
}

TEST(UpdateRules, ParseDecimal)
{
    EXPECT_EQ(ParseDecimal("200"), 200u);
    EXPECT_EQ(ParseDecimal(" 25000"), 25000u);
    EXPECT_EQ(ParseDecimal("4294967296"), 4294967296u);
    EXPECT_EQ(ParseDecimal(""), 0u);
    EXPECT_EQ(ParseDecimal("99999999999999999999999"), ~0ull);
}

TEST(UpdateRules, TheMetersTimeBasesAdvanceByTheirSteps)
{
    // A scripted millisecond timer: each reading takes the next value.
    std::deque<std::uint32_t> times;
    auto now = [&] {
        std::uint32_t t = times.front();
        if (times.size() > 1)
            times.pop_front();
        return t;
    };
    CTransferMeter m;
    m.Reset(1000);

    times = {1100};
    EXPECT_FALSE(m.OnBlock(10000, now)); // 100 ms: nothing due
    times = {1250};
    EXPECT_TRUE(m.OnBlock(20000, now));
    EXPECT_EQ(m.LastProgressTime(), 1200u);

    // A stall of 5 s: one speed sample over the real elapsed time, the bases
    // advance by one step each, so the next blocks catch up one by one.
    times = {6250, 6260};
    EXPECT_TRUE(m.OnBlock(80000, now));
    EXPECT_EQ(m.Speed(), 80000u * 1000u / 5260u);
    EXPECT_EQ(m.LastSpeedTime(), 4000u);
    EXPECT_EQ(m.LastProgressTime(), 1400u);
    times = {6270};
    EXPECT_TRUE(m.OnBlock(85000, now));
    EXPECT_EQ(m.LastSpeedTime(), 4000u); // 2270 ms since the base: no sample
    EXPECT_EQ(m.LastProgressTime(), 1600u);
    times = {7100, 7150};
    EXPECT_TRUE(m.OnBlock(90000, now));
    EXPECT_EQ(m.LastSpeedTime(), 7000u);
    EXPECT_EQ(m.Speed(), 10000u * 1000u / 3150u);
    EXPECT_EQ(m.LastProgressTime(), 1800u);
}

TEST(UpdateRules, SpeedDoesNotOverflowOnFastLinks)
{
    std::deque<std::uint32_t> times;
    auto now = [&] {
        std::uint32_t t = times.front();
        times.pop_front();
        return t;
    };
    CTransferMeter m;
    m.Reset(0);
    times = {3000, 3000};
    m.OnBlock(300u * 1000 * 1000, now); // 300 MB in 3 s
    EXPECT_EQ(m.Speed(), 100u * 1000 * 1000);
}

TEST(UpdateRules, TheTimerWrapsAround)
{
    std::deque<std::uint32_t> times = {150u, 150u};
    auto now = [&] {
        std::uint32_t t = times.front();
        times.pop_front();
        return t;
    };
    CTransferMeter m;
    m.Reset(0xFFFFFFFFu - 99u); // 100 ms before the wrap
    EXPECT_TRUE(m.OnBlock(1, now));
}
