// The program as a publisher runs it: publish on generated folders, check,
// and verify against the test web server. Exit codes as documented.
#include <gtest/gtest.h>

#include "Crc32.h"
#include "VersionRules.h"
#include "ReleaseBuilder.h"
#include "ReleaseFolder.h"
#include "TestHttpServer.h"

namespace {

const std::int64_t T = 1796126400;

std::string Quote(const std::filesystem::path& p)
{
    return "\"" + p.string() + "\"";
}

std::string AsString(const std::vector<std::uint8_t>& b)
{
    return std::string(b.begin(), b.end());
}

class VexaPublishCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Start());
        m_files = {
            {"config.ini", SomeBytes(40, 1)},
            {"data/cards.dat", SomeBytes(50000, 2)},
            {"Vexa.exe", VersionedImage({2, 0, 0, 10})},
        };
        for (const auto& [path, bytes] : m_files)
            WriteFileAt(m_dir / ("release/" + path), bytes, T);
    }

    // Serves the release as nginx would for the given URL prefix.
    void ServeRelease(const std::string& prefix)
    {
        for (const auto& [path, bytes] : m_files) {
            TestRoute route;
            route.body = AsString(bytes);
            m_server.Route(prefix + path, route);
        }
    }

    void ServeFile(const std::string& target, const std::filesystem::path& file)
    {
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(ReadWholeFile(file, bytes));
        TestRoute route;
        route.body = AsString(bytes);
        m_server.Route(target, route);
    }

    int Run(const std::string& arguments)
    {
        const int rc = RunTool(arguments, m_output);
        return rc;
    }

    TestHttpServer m_server;
    TempDir m_dir;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> m_files;
    std::string m_output;
};

TEST_F(VexaPublishCliTest, QuilletListIsPublishedAndVerified)
{
    const auto list = m_dir / "filelist.list";
    ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release")), 0) << m_output;
    EXPECT_NE(m_output.find("3 files, 1 folders"), std::string::npos) << m_output;
    ASSERT_TRUE(std::filesystem::exists(list)); // beside the release folder

    ASSERT_EQ(Run("check " + Quote(list)), 0) << m_output;
    EXPECT_NE(m_output.find("clients take 4 records"), std::string::npos) << m_output;

    ServeRelease("/Vexaupdate/plat/release/");
    ServeFile("/Vexaupdate/plat/filelist.list", list);
    ASSERT_EQ(Run("verify " + Quote(list) + " " + m_server.BaseUrl()), 0) << m_output;
    EXPECT_NE(m_output.find("[1/4] /Vexaupdate/plat/filelist.list ... ok"), std::string::npos) << m_output;
    EXPECT_NE(m_output.find("/Vexaupdate/plat/release/data/cards.dat ... ok (50000 bytes)"), std::string::npos);
    EXPECT_NE(m_output.find("4 fetched, 4 ok, 0 failed"), std::string::npos);
    // The clients' request: HTTP/1.0 GET, the folder path with "/".
    const std::vector<RecordedRequest> requests = m_server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().version, "HTTP/1.0");
    EXPECT_EQ(requests.back().method, "GET");
}

TEST_F(VexaPublishCliTest, VerifyOfTheFileListCatchesWhatTheServerGetsWrong)
{
    const auto list = m_dir / "filelist.list";
    ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release") + " --folder game -o " + Quote(list)), 0) << m_output;
    ServeRelease("/Vexaupdate/game/release/");
    ServeFile("/Vexaupdate/game/filelist.list", list);

    TestRoute changed; // same length, other bytes
    changed.body = AsString(SomeBytes(40, 7));
    m_server.Route("/Vexaupdate/game/release/config.ini", changed);
    TestRoute cut;
    cut.body = AsString(SomeBytes(50000, 2));
    cut.cutAfter = 20000;
    m_server.Route("/Vexaupdate/game/release/data/cards.dat", cut);
    TestRoute gone;
    gone.status = 404;
    gone.reason = "Not Found";
    gone.body = "not here";
    m_server.Route("/Vexaupdate/game/release/Vexa.exe", gone);

    ASSERT_EQ(Run("verify " + Quote(list) + " " + m_server.BaseUrl() + "/Vexaupdate/game/"), 3) << m_output;
    EXPECT_NE(m_output.find("config.ini ... FAILED: checksum"), std::string::npos) << m_output;
    EXPECT_NE(m_output.find("cards.dat ... FAILED: the connection closed after 20000 of 50000 body bytes"),
              std::string::npos)
        << m_output;
    EXPECT_NE(m_output.find("Vexa.exe ... FAILED: status 404"), std::string::npos) << m_output;
    EXPECT_NE(m_output.find("4 fetched, 1 ok, 3 failed"), std::string::npos) << m_output;
    EXPECT_NE(m_output.find("do NOT announce"), std::string::npos);

    TestRoute chunked;
    chunked.body = AsString(SomeBytes(40, 1));
    chunked.chunked = true;
    m_server.Route("/Vexaupdate/game/release/config.ini", chunked);
    ASSERT_EQ(Run("verify " + Quote(list) + " " + m_server.BaseUrl() + " --folder game"), 3) << m_output;
    EXPECT_NE(m_output.find("config.ini ... FAILED: Transfer-Encoding"), std::string::npos) << m_output;

    TestRoute noLength;
    noLength.body = AsString(SomeBytes(40, 1));
    noLength.contentLength = false;
    m_server.Route("/Vexaupdate/game/release/config.ini", noLength);
    ASSERT_EQ(Run("verify " + Quote(list) + " " + m_server.BaseUrl() + " --folder game"), 3) << m_output;
    EXPECT_NE(m_output.find("config.ini ... FAILED: no Content-Length"), std::string::npos) << m_output;
}

TEST_F(VexaPublishCliTest, UpdateListIsPublishedAndVerified)
{
    const auto rules = m_dir / "rules.txt";
    ASSERT_TRUE(WriteWholeFile(rules, "BaseUrl = " + m_server.BaseUrl() + "/files/\n[*.exe]\nExecute = YES\n"));
    const auto xml = m_dir / "Update.xml";
    ASSERT_EQ(Run("publish zorvane " + Quote(m_dir / "release") + " " + Quote(rules)), 0) << m_output;
    EXPECT_NE(m_output.find("3 files, 1 compared by version, 2 by file time"), std::string::npos) << m_output;
    ASSERT_EQ(Run("check " + Quote(xml)), 0) << m_output;

    ServeRelease("/files/");
    ServeFile("/Update.xml", xml);
    ASSERT_EQ(Run("verify " + Quote(xml) + " " + m_server.BaseUrl() + "/Update.xml"), 0) << m_output;
    EXPECT_NE(m_output.find("4 fetched, 4 ok"), std::string::npos) << m_output;
    const std::vector<RecordedRequest> requests = m_server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().Header("User-Agent"), "Quillet_Tamsk");

    // A wrong length, a wrong version and a cut connection.
    TestRoute longer;
    longer.body = AsString(SomeBytes(41, 1));
    m_server.Route("/files/config.ini", longer);
    TestRoute otherVersion;
    otherVersion.body = AsString(VersionedImage({2, 0, 0, 9}));
    m_server.Route("/files/Vexa.exe", otherVersion);
    TestRoute cut;
    cut.body = AsString(SomeBytes(50000, 2));
    cut.cutAfter = 100;
    m_server.Route("/files/data/cards.dat", cut);
    ASSERT_EQ(Run("verify " + Quote(xml)), 3) << m_output;
    EXPECT_NE(m_output.find("config.ini ... FAILED: 41 bytes served, Length 40 listed"), std::string::npos)
        << m_output;
    EXPECT_NE(m_output.find("Vexa.exe ... FAILED: version 2.0.0.9 served, 2.0.0.10 listed"), std::string::npos)
        << m_output;
    EXPECT_NE(m_output.find("cards.dat ... FAILED: the connection closed after 100 of 50000"), std::string::npos)
        << m_output;

    // A list on the server that is not the one published.
    TestRoute stale;
    stale.body = "<UpdateList/>";
    m_server.Route("/Update.xml", stale);
    ASSERT_EQ(Run("verify " + Quote(xml) + " " + m_server.BaseUrl() + "/Update.xml"), 3) << m_output;
    EXPECT_NE(m_output.find("differs from the local list"), std::string::npos) << m_output;
}

TEST_F(VexaPublishCliTest, AnUnreachableServerFailsTheVerify)
{
    const auto list = m_dir / "filelist.list";
    ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release")), 0) << m_output;
    const std::string base = m_server.BaseUrl();
    m_server.Stop();
    ASSERT_EQ(Run("verify " + Quote(list) + " " + base), 3) << m_output;
    EXPECT_NE(m_output.find("cannot connect to 127.0.0.1:" + std::to_string(m_server.Port()) + " (Connection refused)"),
              std::string::npos)
        << m_output;
    EXPECT_NE(m_output.find("3 files not fetched"), std::string::npos) << m_output;
}

TEST_F(VexaPublishCliTest, BadInputIsReportedWithFileAndLine)
{
    EXPECT_EQ(Run(""), 2);
    EXPECT_NE(m_output.find("usage:"), std::string::npos);
    EXPECT_EQ(Run("publish quillet " + Quote(m_dir / "nowhere")), 2);
    EXPECT_NE(m_output.find("nowhere: error: no such folder"), std::string::npos) << m_output;
    EXPECT_EQ(Run("publish zorvane " + Quote(m_dir / "release") + " " + Quote(m_dir / "none.txt")), 2);
    EXPECT_NE(m_output.find("none.txt: error: cannot be read"), std::string::npos) << m_output;

    const auto rules = m_dir / "rules.txt";
    ASSERT_TRUE(WriteWholeFile(rules, "BaseUrl = http://h/\n[*.exe]\nExecute = sometimes\n"));
    EXPECT_EQ(Run("publish zorvane " + Quote(m_dir / "release") + " " + Quote(rules)), 2);
    EXPECT_NE(m_output.find("rules.txt:3: error: Execute is YES or NO"), std::string::npos) << m_output;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "Update.xml"));

    WriteFileAt(m_dir / "release/LICENSE", SomeBytes(3, 1), T);
    EXPECT_EQ(Run("publish quillet " + Quote(m_dir / "release")), 2);
    EXPECT_NE(m_output.find("LICENSE: error: is a file whose name has no \".\""), std::string::npos) << m_output;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "filelist.list"));

    EXPECT_EQ(Run("publish quillet " + Quote(m_dir / "release") + " --colour red"), 2);
    EXPECT_NE(m_output.find("unknown option --colour"), std::string::npos);
    // An option that does not apply is refused, not ignored.
    EXPECT_EQ(Run("check " + Quote(m_dir / "x.list") + " --previous old.list"), 2);
    EXPECT_NE(m_output.find("--previous does not apply to check"), std::string::npos) << m_output;
    EXPECT_EQ(Run("publish zorvane " + Quote(m_dir / "release") + " r.txt --folder plat"), 2);
    EXPECT_NE(m_output.find("--folder does not apply to publish zorvane"), std::string::npos) << m_output;
    // Help anywhere on the line: the usage names every command, a command's help its options.
    EXPECT_EQ(Run("--help"), 0);
    for (const char* command : {"publish zorvane", "publish quillet", "copy quillet", "check FILE", "verify Update.xml",
                                "plan CLIENT_DIR"})
        EXPECT_NE(m_output.find(command), std::string::npos) << command;
    EXPECT_EQ(Run("verify " + Quote(m_dir / "x.list") + " --help"), 0);
    for (const char* option : {"--folder NAME", "--release DIR", "--timeout SECONDS"})
        EXPECT_NE(m_output.find(option), std::string::npos) << option;

    const auto broken = m_dir / "broken.xml";
    ASSERT_TRUE(WriteWholeFile(broken, "<List><File></List>"));
    EXPECT_EQ(Run("check " + Quote(broken)), 2);
    EXPECT_NE(m_output.find("broken.xml: error: line 1"), std::string::npos) << m_output;

    const auto lossy = m_dir / "lossy.list";
    ASSERT_TRUE(WriteWholeFile(lossy, "\\:a.txt:1\r\n\\:b.txt:2\r\n"));
    EXPECT_EQ(Run("check " + Quote(lossy)), 1);
    EXPECT_NE(m_output.find("lossy.list:2: error: the last record"), std::string::npos) << m_output;
}

TEST_F(VexaPublishCliTest, WhatIsNoPartOfTheReleaseIsNotListed)
{
    WriteFileAt(m_dir / "release/.git/HEAD", SomeBytes(3, 1), T);
    WriteFileAt(m_dir / "release/data/Thumbs.db", SomeBytes(3, 1), T);
    WriteFileAt(m_dir / "release/desktop.ini", SomeBytes(3, 1), T);
    const auto list = m_dir / "release/filelist.list";
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release") + " -o " + Quote(list)), 0) << m_output;
        EXPECT_NE(m_output.find("3 files, 1 folders"), std::string::npos) << m_output;
    }
    EXPECT_NE(m_output.find("left out .git, data/Thumbs.db, desktop.ini (never published)"), std::string::npos)
        << m_output;
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(list, bytes));
    EXPECT_EQ(AsString(bytes).find("filelist.list"), std::string::npos);

    std::filesystem::create_directories(m_dir / "empty");
    EXPECT_EQ(Run("publish quillet " + Quote(m_dir / "empty") + " -o " + Quote(m_dir / "e.list")), 1) << m_output;
    EXPECT_NE(m_output.find("the release holds no file"), std::string::npos) << m_output;
}

TEST_F(VexaPublishCliTest, GbkNamesGoIntoTheFileListAsTheClientsKeepThem)
{
    // "规则.txt" in UTF-8 on disk; GBK in the list.
    WriteFileAt(m_dir / "release/\xE8\xA7\x84\xE5\x88\x99.txt", SomeBytes(5, 1), T);
    m_files.emplace_back("\xE8\xA7\x84\xE5\x88\x99.txt", SomeBytes(5, 1));
    const auto list = m_dir / "filelist.list";
    ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release")), 0) << m_output;
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(list, bytes));
    EXPECT_NE(AsString(bytes).find("\\:\xB9\xE6\xD4\xF2.txt:"), std::string::npos);
    ASSERT_EQ(Run("check " + Quote(list)), 0) << m_output;

    // The server's copy holds the name's GBK bytes, with the release's file times.
    ASSERT_EQ(Run("copy quillet " + Quote(m_dir / "release") + " " + Quote(m_dir / "www")), 0) << m_output;
    EXPECT_NE(m_output.find("copied 4 of 4 files"), std::string::npos) << m_output;
    const std::filesystem::path stored = m_dir.Path() / "www" / std::filesystem::path("\xB9\xE6\xD4\xF2.txt");
    ASSERT_TRUE(std::filesystem::exists(stored));
    EXPECT_EQ(LastWriteTime(stored)->Low, FileTimeFromUnix(T, 0).Low);
    ASSERT_EQ(Run("copy quillet " + Quote(m_dir / "release") + " " + Quote(m_dir / "www")), 0) << m_output;
    EXPECT_NE(m_output.find("copied 0 of 4 files"), std::string::npos) << m_output;

    // A server that stored the name in UTF-8 answers 404 to the GBK bytes Quillet sends.
    ServeRelease("/Vexaupdate/plat/release/");
    ServeFile("/Vexaupdate/plat/filelist.list", list);
    ASSERT_EQ(Run("verify " + Quote(list) + " " + m_server.BaseUrl()), 3) << m_output;
    EXPECT_NE(m_output.find("the server has the file under its UTF-8 name: store it under its GBK name"),
              std::string::npos)
        << m_output;
    TestRoute gbk;
    gbk.body = AsString(SomeBytes(5, 1));
    m_server.Route("/Vexaupdate/plat/release/\xB9\xE6\xD4\xF2.txt", gbk);
    ASSERT_EQ(Run("verify " + Quote(list) + " " + m_server.BaseUrl()), 0) << m_output;

    // A blank goes as "%20", as Quillet's Internet functions send it.
    WriteFileAt(m_dir / "release/a b.txt", SomeBytes(6, 1), T);
    ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release")), 0) << m_output;
    ServeFile("/Vexaupdate/plat/filelist.list", list);
    TestRoute blank;
    blank.body = AsString(SomeBytes(6, 1));
    m_server.Route("/Vexaupdate/plat/release/a%20b.txt", blank);
    ASSERT_EQ(Run("verify " + Quote(list) + " " + m_server.BaseUrl()), 0) << m_output;
}

TEST_F(VexaPublishCliTest, StagedListsAreVerifiedWhereTheyAreAndAgainstTheRelease)
{
    const auto list = m_dir / "filelist.list.new";
    ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release") + " -o " + Quote(list)), 0) << m_output;
    ServeRelease("/Vexaupdate/plat/release/");
    ServeFile("/Vexaupdate/plat/filelist.list.new", list);
    ServeFile("/staging/filelist.list", list);
    TestRoute live; // the release before: other files
    live.body = "\\:old.txt:1\r\nupdatetmp:end:0\r\n";
    m_server.Route("/Vexaupdate/plat/filelist.list", live);

    // The list at its staged address, the files at their final ones.
    ASSERT_EQ(Run("verify " + Quote(list) + " " + m_server.BaseUrl() + "/Vexaupdate/plat/filelist.list.new"), 0)
        << m_output;
    EXPECT_NE(m_output.find("[1/4] /Vexaupdate/plat/filelist.list.new ... ok"), std::string::npos) << m_output;
    ASSERT_EQ(Run("verify " + Quote(list) + " " + m_server.BaseUrl() + "/staging/filelist.list --folder plat"), 0)
        << m_output;
    EXPECT_EQ(Run("verify " + Quote(list) + " " + m_server.BaseUrl() + "/Vexaupdate/game/x.list --folder plat"), 2);
    EXPECT_NE(m_output.find("names the folder game, --folder says plat"), std::string::npos) << m_output;
    // The live list is still the old one.
    ASSERT_EQ(Run("verify " + Quote(list) + " " + m_server.BaseUrl()), 3) << m_output;
    EXPECT_NE(m_output.find("/Vexaupdate/plat/filelist.list ... FAILED: differs from the local list"),
              std::string::npos)
        << m_output;

    // A file of the release replaced on the server by other bytes of the same length.
    const auto rules = m_dir / "rules.txt";
    ASSERT_TRUE(WriteWholeFile(rules, "BaseUrl = " + m_server.BaseUrl() + "/files/\n"));
    const auto xml = m_dir / "Update.xml.new";
    ASSERT_EQ(Run("publish zorvane " + Quote(m_dir / "release") + " " + Quote(rules) + " -o " + Quote(xml)), 0)
        << m_output;
    ServeRelease("/files/");
    TestRoute same; // config.ini is listed by time: only its length is in the list
    same.body = AsString(SomeBytes(40, 9));
    m_server.Route("/files/config.ini", same);
    m_server.Route("/Vexaupdate/plat/release/config.ini", same);
    ASSERT_EQ(Run("verify " + Quote(xml)), 0) << m_output;
    ASSERT_EQ(Run("verify " + Quote(xml) + " --release " + Quote(m_dir / "release")), 3) << m_output;
    EXPECT_NE(m_output.find("config.ini ... FAILED: other bytes than the release file config.ini (same length"),
              std::string::npos)
        << m_output;
    EXPECT_NE(m_output.find("3 fetched, 2 ok, 1 failed"), std::string::npos) << m_output;
    ASSERT_EQ(Run("verify " + Quote(list) + " " + m_server.BaseUrl() + "/staging/filelist.list --release " +
                  Quote(m_dir / "release")),
              3)
        << m_output;
    EXPECT_NE(m_output.find("config.ini ... FAILED: checksum"), std::string::npos) << m_output;
}

TEST_F(VexaPublishCliTest, VerifyChecksEveryServerThatQuilletPicks)
{
    const auto list = m_dir / "filelist.list";
    ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release")), 0) << m_output;
    ServeRelease("/Vexaupdate/plat/release/");
    ServeFile("/Vexaupdate/plat/filelist.list", list);
    TestHttpServer gone;
    ASSERT_TRUE(gone.Start());
    const std::uint16_t gonePort = gone.Port();
    gone.Stop();
    const auto ini = m_dir / "updatelist.ini";
    ASSERT_TRUE(WriteWholeFile(ini, "# id;kind;name;host;port\r\n1;1;main;127.0.0.1;" +
                                        std::to_string(m_server.Port()) + "\r\n2;2;chat;127.0.0.1;1\r\n3;1;backup;127.0.0.1;" +
                                        std::to_string(gonePort) + "\r\n"));
    ASSERT_EQ(Run("verify " + Quote(list) + " " + Quote(ini)), 3) << m_output;
    EXPECT_NE(m_output.find("verify: 2 servers that Quillet picks"), std::string::npos) << m_output;
    EXPECT_NE(m_output.find("server 1 \"main\" at 127.0.0.1:" + std::to_string(m_server.Port()) +
                            " (picked on 50.0% of starts): ok, 4 fetched"),
              std::string::npos)
        << m_output;
    EXPECT_NE(m_output.find("server 3 \"backup\" at 127.0.0.1:" + std::to_string(gonePort) +
                            " (picked on 50.0% of starts): FAILED"),
              std::string::npos)
        << m_output;
    EXPECT_EQ(m_output.find("chat"), std::string::npos) << m_output;
}

TEST_F(VexaPublishCliTest, AFailedWriteLeavesThePreviousList)
{
    for (int i = 0; i < 40; ++i)
        WriteFileAt(m_dir / ("release/data/file" + std::to_string(i) + ".dat"), SomeBytes(10, i), T);
    const auto list = m_dir / "filelist.list";
    ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release")), 0) << m_output;
    std::vector<std::uint8_t> before;
    ASSERT_TRUE(ReadWholeFile(list, before));
    ASSERT_GT(before.size(), 1024u);
    WriteFileAt(m_dir / "release/data/more.dat", SomeBytes(10, 99), T);
    // A write that fails part way (a file-size limit of one block, as a full disk would).
    std::string output;
    const int rc = RunCommand("trap '' XFSZ; ulimit -f 1; \"" + ToolPath() + "\" publish quillet " +
                                  Quote(m_dir / "release"),
                              output);
    EXPECT_EQ(rc, 2) << output;
    EXPECT_NE(output.find("cannot be written"), std::string::npos) << output;
    std::vector<std::uint8_t> after;
    ASSERT_TRUE(ReadWholeFile(list, after));
    EXPECT_EQ(after, before);
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
        EXPECT_EQ(entry.path().filename().string().find(".vexa-writing"), std::string::npos);
}

TEST_F(VexaPublishCliTest, PublishSaysWhatChangesForAClientHoldingThePreviousRelease)
{
    const auto rules = m_dir / "rules.txt";
    ASSERT_TRUE(WriteWholeFile(rules, "BaseUrl = http://h/files/\n"));
    ASSERT_EQ(Run("publish zorvane " + Quote(m_dir / "release") + " " + Quote(rules) + " -o " +
                  Quote(m_dir / "old.xml")),
              0);
    ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release") + " -o " + Quote(m_dir / "old.list")), 0);
    WriteFileAt(m_dir / "release/data/cards.dat", SomeBytes(60000, 3), T + 60); // changed, later
    WriteFileAt(m_dir / "release/new.txt", SomeBytes(7, 3), T);
    std::filesystem::remove(m_dir / "release/config.ini");
    ASSERT_EQ(Run("publish zorvane " + Quote(m_dir / "release") + " " + Quote(rules) + " --previous " +
                  Quote(m_dir / "old.xml")),
              0)
        << m_output;
    EXPECT_NE(m_output.find("1 added, 1 changed, 1 unchanged, 1 removed (clients keep removed files); a client "
                            "holding the previous release downloads 2 files, 58.6 KB (60007 bytes)"),
              std::string::npos)
        << m_output;
    EXPECT_NE(m_output.find("  fetched: data\\cards.dat, new.txt\n"), std::string::npos) << m_output;
    ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release") + " --previous " + Quote(m_dir / "old.list")), 0)
        << m_output;
    EXPECT_NE(m_output.find("  fetched: data\\cards.dat, new.txt\n"), std::string::npos) << m_output;
    EXPECT_NE(m_output.find("1 added, 1 changed, 1 unchanged, 1 removed (clients keep removed files); a client "
                            "holding the previous release downloads 2 files, 58.6 KB (60007 bytes)"),
              std::string::npos)
        << m_output;
}

// plan on real client folders: every cause and every trap it names, one line each.
TEST_F(VexaPublishCliTest, PlanSaysWhatAClientFetchesAndWhy)
{
    const auto client = m_dir / "client";
    WriteFileAt(client / "Vexa.exe", VersionedImage({2, 0, 0, 9}), T);
    WriteFileAt(client / "Helper.dll", VersionedImage({1, 0, 0, 3}), T - 86400);
    WriteFileAt(client / "data/cards.dat", SomeBytes(10, 1), T - 60);
    WriteFileAt(client / "data/rules.txt", SomeBytes(10, 2), T);
    WriteFileAt(client / "readme.txt", SomeBytes(10, 3), T);
    const std::string file = "<File><FileName>%s</FileName><FileVersion>%s</FileVersion><Length>%s</Length>"
                             "<FileDateLow>%u</FileDateLow><FileDateHigh>%u</FileDateHigh><LocalPath>%s</LocalPath>"
                             "<InstallDir>%s</InstallDir><URL>http://h/x</URL></File>\n";
    const FileTimeValue t = FileTimeFromUnix(T, 0);
    std::string xml = "<UpdateList>\n";
    const auto add = [&](const char* name, const char* version, const char* length, const char* local,
                         const char* dir = "CURRENTDIR") {
        char text[1024];
        std::snprintf(text, sizeof text, file.c_str(), name, version, length, t.Low, t.High, local, dir);
        xml += text;
    };
    add("Vexa.exe", "2.0.0.10", "1000", "");
    add("Helper.dll", "1.0.0.3", "2000", "");
    add("cards.dat", "", "3000", "data");
    add("rules.txt", "", "4000", "data");
    add("readme.txt", "1.0.0.1", "50", "");
    add("missing.dat", "", "60", "");
    add("x.dat", "", "7", "D:data");
    add("y.dat", "", "8", "..\\outside");
    add("VEXA.EXE", "2.0.0.10", "1000", "");
    add("Codec.dll", "1.0.0.1", "9", "", "SYSTEMDIR");
    xml += "</UpdateList>\n";
    ASSERT_TRUE(WriteWholeFile(m_dir / "Update.xml", xml));

    ASSERT_EQ(Run("plan " + Quote(client) + " " + Quote(m_dir / "Update.xml")), 1) << m_output;
    const std::string later = "listed 2026-12-01 12:00:00 UTC)";
    for (const std::string& line : std::vector<std::string>{
             "fetch     Vexa.exe: lower version (local 2.0.0.9, listed 2.0.0.10)",
             "trap: listed 2 times (lines 2, 10)",
             "leave     Helper.dll: same or higher version (local 1.0.0.3, listed 1.0.0.3)",
             "fetch     data\\cards.dat: older by time (local 2026-12-01 11:59:00 UTC, " + later,
             "leave     data\\rules.txt: same or later time (local 2026-12-01 12:00:00 UTC, " + later,
             "fetch     readme.txt: lower version (local none, listed 1.0.0.1)",
             "trap: fetched on every start: the installed file has no version resource",
             "fetch     missing.dat: missing",
             "fetch     D:data\\x.dat: missing",
             "trap: a drive (\":\") inside LocalPath or FileName",
             "fetch     ..\\outside\\y.dat: missing",
             "trap: \"..\" climbs out of the client folder",
             "unchecked <system folder>\\Codec.dll: it goes into the player's system folder",
             "plan: 7 of 9 files would be fetched, 5.0 KB (5125 bytes) to download",
             "plan: 1 entries go outside the client folder and were not checked",
         })
        EXPECT_NE(m_output.find(line), std::string::npos) << line << "\n" << m_output;

    // The list at its address gives the same plan; a current client fetches nothing.
    ServeFile("/Update.xml", m_dir / "Update.xml");
    ASSERT_EQ(Run("plan " + Quote(client) + " " + m_server.BaseUrl() + "/Update.xml"), 1) << m_output;
    EXPECT_NE(m_output.find("plan: 7 of 9 files would be fetched"), std::string::npos) << m_output;
    xml = "<UpdateList>\n";
    add("Helper.dll", "1.0.0.3", "2000", "");
    add("rules.txt", "", "4000", "data");
    xml += "</UpdateList>\n";
    ASSERT_TRUE(WriteWholeFile(m_dir / "current.xml", xml));
    ASSERT_EQ(Run("plan " + Quote(client) + " " + Quote(m_dir / "current.xml")), 0) << m_output;
    EXPECT_NE(m_output.find("plan: nothing would be fetched (2 files checked)"), std::string::npos) << m_output;
}

TEST_F(VexaPublishCliTest, PlanSaysWhatQuilletFetchesAndWhy)
{
    const auto center = m_dir / "center";
    WriteFileAt(center / "config.ini", SomeBytes(40, 1), T);
    WriteFileAt(center / "data/cards.dat", SomeBytes(100, 9), T);
    WriteFileAt(center / "dup.txt", SomeBytes(5, 5), T);
    const std::int32_t config = static_cast<std::int32_t>(Crc32(CRC32_START, SomeBytes(40, 1).data(), 40));
    const std::int32_t local = static_cast<std::int32_t>(Crc32(CRC32_START, SomeBytes(100, 9).data(), 100));
    const std::string list = "\\:config.ini:" + std::to_string(config) + "\r\n"
                             "\\:data:0\r\n"
                             "data:cards.dat:77\r\n"
                             "\\:logs:0\r\n"
                             "\\:new.txt:5\r\n"
                             "\\:dup.txt:1\r\n"
                             "\\:DUP.TXT:2\r\n"
                             "\\:winmm.dll:3\r\n"
                             "\\:\xE8\xA7\x84.txt:4\r\n"
                             "updatetmp:end:0\r\n";
    ASSERT_TRUE(WriteWholeFile(m_dir / "filelist.list", list));
    TestRoute sized;
    sized.body = AsString(SomeBytes(1000, 1));
    m_server.Route("/Vexaupdate/plat/release/data/cards.dat", sized);
    m_server.Route("/Vexaupdate/plat/release/new.txt", sized);
    ServeFile("/Vexaupdate/plat/filelist.list", m_dir / "filelist.list");

    ASSERT_EQ(Run("plan " + Quote(center) + " " + m_server.BaseUrl()), 1) << m_output;
    for (const std::string& line : std::vector<std::string>{
             "leave     config.ini: same checksum (" + std::to_string(config) + ")",
             "leave     data: the folder exists (folders are never compared)",
             "fetch     data\\cards.dat: checksum differs (local " + std::to_string(local) + ", listed 77)",
             "create    logs: folder to create",
             "fetch     new.txt: missing",
             "fetch x2  dup.txt: checksum differs",
             "fetch x2  DUP.TXT: checksum differs",
             "trap: listed 2 times (without regard to case): each listing is compared with each local copy, so a "
             "changed file is fetched 4 times a run",
             "leave     winmm.dll: the updater never fetches anything in updatetmp, nor winmm.dll",
             "trap: the name is UTF-8, not GBK",
             "plan: 5 of 7 files would be fetched (7 downloads), 1 folders created, 2.0 KB (2000 bytes) to download "
             "and 5 downloads of unknown size",
         })
        EXPECT_NE(m_output.find(line), std::string::npos) << line << "\n" << m_output;
}

} // namespace
