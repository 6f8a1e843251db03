#include <gtest/gtest.h>

#include <algorithm>

#include "ClientFolder.h"
#include "ClientPlan.h"
#include "GbkText.h"
#include "QuilletList.h"
#include "ReleaseBuilder.h"
#include "UpdateRules.h"

namespace {

const std::int64_t T = 1796126400;

// The local list of a client folder, by the updater's own code.
std::vector<FileEntry> LocalList(const std::vector<FileEntry>& remote, const std::filesystem::path& client)
{
    const QuilletFolderView view = QuilletViewOf(NormalClientFolder(client));
    return BuildLocalList(remote, view.programFolder, view.probe);
}

TEST(QuilletPublishTest, PublishedListSelectsExactlyTheChangedEntries)
{
    TempDir dir;
    const auto client = dir.Path() / "client";
    QuilletRelease release;
    const auto add = [&](const std::string& path, const std::vector<std::uint8_t>& bytes) {
        release.files.push_back(Described(path, bytes, T));
    };
    add("config.ini", SomeBytes(40, 1));
    add("data/cards.dat", SomeBytes(5000, 2));
    add("data/sub/deep.txt", SomeBytes(70, 3));
    add("skins/t.bmp", SomeBytes(900, 4));
    add("empty.txt", {});
    release.folders = {"data", "data/sub", "logs", "skins"};
    WriteFileAt(client / "config.ini", SomeBytes(40, 1), T);
    WriteFileAt(client / "data/cards.dat", SomeBytes(5000, 9), T); // changed
    WriteFileAt(client / "skins/t.bmp", SomeBytes(900, 4), T);
    WriteFileAt(client / "empty.txt", {}, T);

    CReport report;
    const std::vector<FileEntry> planned = PlanQuilletList(release, QuilletOptions{}, report);
    EXPECT_FALSE(report.HasProblems());
    const std::string text = WriteQuilletList(planned);
    EXPECT_EQ(text, "\\:config.ini:" + std::to_string(static_cast<std::int32_t>(release.files[0].crc)) + "\r\n"
                    "\\:data:0\r\n"
                    "data:cards.dat:" + std::to_string(static_cast<std::int32_t>(release.files[1].crc)) + "\r\n"
                    "data:sub:0\r\n"
                    "data\\sub:deep.txt:" + std::to_string(static_cast<std::int32_t>(release.files[2].crc)) + "\r\n"
                    "\\:empty.txt:-1\r\n"
                    "\\:logs:0\r\n"
                    "\\:skins:0\r\n"
                    "skins:t.bmp:" + std::to_string(static_cast<std::int32_t>(release.files[3].crc)) + "\r\n"
                    "updatetmp:end:0\r\n");

    // The clients' reader takes every record, the last one included.
    const std::vector<FileEntry> remote = ParseFileList(text);
    ASSERT_EQ(remote.size(), planned.size());
    const std::vector<FileEntry> download = CompareLists(remote, LocalList(remote, client), GbkLeadBytes());
    std::vector<std::string> got;
    for (const FileEntry& e : download)
        got.push_back(e.directory + ":" + e.name + ":" + std::to_string(e.kind));
    EXPECT_EQ(got, (std::vector<std::string>{"data:cards.dat:0", "data:sub:1", "data\\sub:deep.txt:0", "\\:logs:1"}));

    // Once the client holds all of it, nothing is fetched.
    WriteFileAt(client / "data/cards.dat", SomeBytes(5000, 2), T);
    WriteFileAt(client / "data/sub/deep.txt", SomeBytes(70, 3), T);
    std::filesystem::create_directories(client / "logs");
    EXPECT_TRUE(CompareLists(remote, LocalList(remote, client), GbkLeadBytes()).empty());
}

struct Refused {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    const char* fragment;
};

TEST(QuilletPublishTest, NamesTheClientsWouldMistakeAreRefused)
{
    const Refused cases[] = {
        {{"README"}, {}, "has no \".\": clients would create a folder"},
        {{"v1.2/a.txt"}, {"v1.2"}, "folder whose name contains \".\": clients would fetch it as a file"},
        {{"a:b.txt"}, {}, "contains \":\""},
        {{"Data.txt", "data.TXT"}, {}, "only in case"},
        {{std::string(240, 'x') + ".dat"}, {}, "too long"},
    };
    for (const Refused& c : cases) {
        QuilletRelease release;
        for (const std::string& f : c.files)
            release.files.push_back(Described(f, SomeBytes(4, 1), T));
        release.folders = c.folders;
        CReport report;
        EXPECT_TRUE(PlanQuilletList(release, QuilletOptions{}, report).empty()) << c.fragment;
        EXPECT_TRUE(report.Mentions(c.fragment, Severity::Error)) << c.fragment;
    }
}

TEST(QuilletPublishTest, EntriesTheClientsSkipOrFetchEveryTimeAreWarnedAbout)
{
    QuilletRelease release;
    release.files.push_back(Described("winmm.dll", SomeBytes(4, 1), T));
    release.files.push_back(Described(std::string(200, 'y') + ".dat", SomeBytes(4, 2), T));
    release.files.push_back(Described("updatetmp/x.txt", SomeBytes(4, 3), T));
    release.folders = {"updatetmp"}; // the folder itself is created, what it holds is skipped
    CReport report;
    QuilletOptions options;
    options.installFolderLength = 80;
    EXPECT_EQ(PlanQuilletList(release, options, report).size(), 4u);
    EXPECT_EQ(report.Count(Severity::Warning), 3u);
    EXPECT_TRUE(report.Mentions("never fetch", Severity::Warning));
    EXPECT_TRUE(report.Mentions("fetch it on every run", Severity::Warning));
}

std::vector<std::string> CheckLines(const std::string& list)
{
    CReport report;
    CheckQuilletList(list, QuilletOptions{}, "filelist.list", report);
    std::vector<std::string> lines;
    for (const Finding& f : report.Findings())
        lines.push_back(std::to_string(f.line) + " " +
                        (f.severity == Severity::Note ? "note" : f.severity == Severity::Warning ? "warning" : "error") +
                        " " + f.text);
    return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& fragment)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
}

TEST(QuilletPublishTest, CheckFindsTheDroppedLastRecord)
{
    const std::vector<std::string> handWritten = CheckLines("\\:a.txt:1\r\n\\:b.txt:2\r\n");
    EXPECT_TRUE(Has(handWritten, "2 error the last record \\:b.txt is never read")) << handWritten.size();
    EXPECT_TRUE(Has(handWritten, "clients take 1 records"));

    const std::vector<std::string> noBreak = CheckLines("\\:a.txt:1\r\n\\:b.txt:2");
    EXPECT_TRUE(Has(noBreak, "2 error the last record \\:b.txt is never read"));

    const std::vector<std::string> published = CheckLines("\\:a.txt:1\r\n\\:b.txt:2\r\nupdatetmp:end:0\r\n");
    EXPECT_TRUE(Has(published, "3 note the end line"));
    EXPECT_TRUE(Has(published, "clients take 2 records: 2 files and 0 folders"));
    EXPECT_FALSE(Has(published, "error"));
    EXPECT_FALSE(Has(published, "warning"));
}

TEST(QuilletPublishTest, CheckFindsTheOtherTraps)
{
    const std::vector<std::string> lines = CheckLines("\\:big.txt:4294967295\r\n"
                                                      "no record here\r\n"
                                                      "\\:README:0\r\n"
                                                      "\\:x.txt:abc\r\n"
                                                      "DATA:cards.dat:5\r\n"
                                                      "data:Cards.DAT:6\r\n"
                                                      "\\:v1.0:7\r\n"
                                                      "v1.0:inner.txt:8\r\n"
                                                      "a/b:c.txt:9\r\n"
                                                      "updatetmp:x.txt:1\r\n"
                                                      "\\:" + std::string(300, 'n') + ".txt:1\r\n"
                                                      "\\:empty.txt:\r\n"
                                                      "updatetmp:end:0\r\n");
    EXPECT_TRUE(Has(lines, "1 warning checksum 4294967295 is outside the signed 32-bit range"));
    EXPECT_TRUE(Has(lines, "2 error not a record"));
    EXPECT_TRUE(Has(lines, "3 note \\:README: no \".\" in the name, so clients create it as a folder"));
    EXPECT_TRUE(Has(lines, "4 error checksum \"abc\" is not a decimal number"));
    EXPECT_TRUE(Has(lines, "6 warning data:Cards.DAT is listed again (first at line 5)"));
    EXPECT_TRUE(Has(lines, "7 error \\:v1.0 is a folder (line 8 lies in it)"));
    EXPECT_TRUE(Has(lines, "9 warning directory \"a/b\" uses \"/\""));
    EXPECT_TRUE(Has(lines, "10 warning updatetmp:x.txt is never fetched"));
    EXPECT_TRUE(Has(lines, "11 error"));
    EXPECT_TRUE(Has(lines, "longer than the clients' paths can hold"));
    EXPECT_TRUE(Has(lines, "12 error checksum \"\" is not a decimal number"));
}

TEST(QuilletPublishTest, CheckOfUpdateServers)
{
    CReport good;
    CheckUpdateServers("# servers\n1;1;main;srv1;80\n0;1;off;srv2;80\n2;2;other;srv3;65616\n", "updatelist.ini", good);
    EXPECT_TRUE(good.Mentions("server 1 (kind 1) \"main\" at srv1:80", Severity::Note));
    EXPECT_TRUE(good.Mentions("port 65616 keeps only its low 16 bits", Severity::Warning));
    EXPECT_EQ(good.Count(Severity::Error), 0u);

    CReport emptyFirst;
    CheckUpdateServers("\n1;1;main;srv1;80\n", "updatelist.ini", emptyFirst);
    EXPECT_TRUE(emptyFirst.Mentions("begins with an empty line", Severity::Error));
    EXPECT_TRUE(emptyFirst.Mentions("no server of kind 1", Severity::Error));

    CReport partial;
    CheckUpdateServers("2;1;;srv3;80\n", "updatelist.ini", partial);
    EXPECT_TRUE(partial.Mentions("no host or no port", Severity::Warning));

    // How often the pick lands on each server, and how often it gives up.
    CReport two;
    CheckUpdateServers("1;1;a;h1;80\n2;2;b;h2;80\n3;1;c;h3;80\n", "updatelist.ini", two);
    EXPECT_TRUE(two.Mentions("server 1 (kind 1) \"a\" at h1:80: picked on 50.0% of starts", Severity::Note));
    EXPECT_FALSE(two.HasProblems());
    CReport uneven;
    CheckUpdateServers("1;1;a;h1;80\n2;1;b;h2;80\n3;1;c;h3;80\n4;2;d;h4;80\n", "updatelist.ini", uneven);
    EXPECT_TRUE(uneven.Mentions("the pick is uneven: the most picked server of kind 1 gets 37.5% of starts, the "
                                "least picked 25.0%",
                                Severity::Warning));
    std::string forty = "1;1;first;h;80\n";
    for (int id = 2; id <= 40; ++id)
        forty += std::to_string(id) + ";2;other;h;80\n";
    CReport givesUp;
    CheckUpdateServers(forty, "updatelist.ini", givesUp);
    // Targets 0..79 are drawn evenly; the walk reaches the first server's match 24 within 1001 visits.
    EXPECT_TRUE(givesUp.Mentions("on 68.8% of starts the pick gives up", Severity::Warning));
    EXPECT_TRUE(givesUp.Mentions("picked on 31.2% of starts", Severity::Note));
}

TEST(QuilletPublishTest, ThePreviousListGivesWhatAnUpToDateClientFetches)
{
    const std::vector<FileEntry> previous = ParseFileList("\\:a.txt:1\r\n\\:b.txt:2\r\n\\:data:0\r\n"
                                                          "data:c.dat:3\r\ndata:gone.dat:4\r\nupdatetmp:end:0\r\n");
    const std::vector<FileEntry> next = ParseFileList("\\:A.TXT:1\r\n\\:b.txt:20\r\n\\:data:0\r\n"
                                                      "data:c.dat:3\r\ndata:new.dat:5\r\n\\:logs:0\r\n"
                                                      "updatetmp:end:0\r\n");
    const ReleaseChanges c = CompareQuilletReleases(next, previous, [](const FileEntry& e) {
        return static_cast<std::uint64_t>(e.name.size() * 100);
    });
    EXPECT_EQ(c.added, 1u);     // new.dat
    EXPECT_EQ(c.changed, 1u);   // b.txt
    EXPECT_EQ(c.unchanged, 2u); // A.TXT (case only), c.dat
    EXPECT_EQ(c.removed, 1u);   // gone.dat
    EXPECT_EQ(c.downloads, 2u);
    EXPECT_EQ(c.bytes, 500u + 700u);
}

} // namespace
