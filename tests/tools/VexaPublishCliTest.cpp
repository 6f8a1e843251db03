// The program as a publisher runs it: publish on generated folders, check,
// and verify against the test web server. Exit codes as documented.
#include <gtest/gtest.h>

#include "Crc32.h"
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
    EXPECT_NE(m_output.find("cannot connect"), std::string::npos) << m_output;
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

    const auto broken = m_dir / "broken.xml";
    ASSERT_TRUE(WriteWholeFile(broken, "<List><File></List>"));
    EXPECT_EQ(Run("check " + Quote(broken)), 2);
    EXPECT_NE(m_output.find("broken.xml: error: line 1"), std::string::npos) << m_output;

    const auto lossy = m_dir / "lossy.list";
    ASSERT_TRUE(WriteWholeFile(lossy, "\\:a.txt:1\r\n\\:b.txt:2\r\n"));
    EXPECT_EQ(Run("check " + Quote(lossy)), 1);
    EXPECT_NE(m_output.find("lossy.list:2: error: the last record"), std::string::npos) << m_output;
}

TEST_F(VexaPublishCliTest, AListWrittenIntoTheReleaseDoesNotListItself)
{
    const auto list = m_dir / "release/filelist.list";
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release") + " -o " + Quote(list)), 0) << m_output;
        EXPECT_NE(m_output.find("3 files, 1 folders"), std::string::npos) << m_output;
    }
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
    const auto list = m_dir / "filelist.list";
    ASSERT_EQ(Run("publish quillet " + Quote(m_dir / "release")), 0) << m_output;
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(list, bytes));
    EXPECT_NE(AsString(bytes).find("\\:\xB9\xE6\xD4\xF2.txt:"), std::string::npos);
    ASSERT_EQ(Run("check " + Quote(list)), 0) << m_output;
}

} // namespace
