// The verify fetch over the platform's sockets (POSIX natively, Winsock under
// Wine) against the test web server.
#include <gtest/gtest.h>

#include "Crc32.h"
#include "HttpGet.h"
#include "TestHttpServer.h"

namespace {

class HttpGetTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.Start()); }

    HttpGetResult Get(const std::string& target, bool keepBody = false, int timeoutMs = 5000)
    {
        HttpGetOptions options;
        options.keepBody = keepBody;
        options.timeoutMs = timeoutMs;
        return HttpGet("127.0.0.1", m_server.Port(), target, options);
    }

    TestHttpServer m_server;
};

TEST_F(HttpGetTest, AWholeAnswerGivesItsLengthAndChecksum)
{
    TestRoute route;
    route.generated = 70000;
    route.chunkSize = 999; // arrives in many pieces
    m_server.Route("/a/b.dat", route);
    const HttpGetResult r = Get("/a/b.dat", true);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.head.status, 200);
    EXPECT_EQ(r.bodyBytes, 70000u);
    const std::string body = TestHttpServer::GeneratedBody(70000);
    EXPECT_EQ(r.crc, Crc32(CRC32_START, body.data(), body.size()));
    EXPECT_EQ(std::string(r.body.begin(), r.body.end()), body);
    ASSERT_EQ(m_server.Requests().size(), 1u);
    EXPECT_EQ(m_server.Requests()[0].requestLine, "GET /a/b.dat HTTP/1.0");
    EXPECT_FALSE(m_server.Requests()[0].Header("User-Agent"));
}

TEST_F(HttpGetTest, FailuresSayWhatWentWrong)
{
    TestRoute cut;
    cut.generated = 5000;
    cut.cutAfter = 1200;
    m_server.Route("/cut", cut);
    TestRoute chunked;
    chunked.body = "hello";
    chunked.chunked = true;
    m_server.Route("/chunked", chunked);
    TestRoute silent;
    silent.neverAnswer = true;
    m_server.Route("/silent", silent);

    const HttpGetResult notFound = Get("/missing");
    EXPECT_TRUE(notFound.ok);
    EXPECT_EQ(notFound.head.status, 404);

    const HttpGetResult shortBody = Get("/cut");
    EXPECT_FALSE(shortBody.ok);
    EXPECT_EQ(shortBody.bodyBytes, 1200u);
    EXPECT_NE(shortBody.error.find("after 1200 of 5000"), std::string::npos) << shortBody.error;

    const HttpGetResult refused = Get("/chunked");
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("chunked"), std::string::npos) << refused.error;

    const HttpGetResult late = Get("/silent", false, 500);
    EXPECT_FALSE(late.ok);
    EXPECT_FALSE(late.error.empty());

    const std::uint16_t port = m_server.Port();
    m_server.Stop();
    HttpGetOptions options;
    const HttpGetResult closed = HttpGet("127.0.0.1", port, "/x", options);
    EXPECT_FALSE(closed.ok);
    EXPECT_NE(closed.error.find("cannot connect"), std::string::npos) << closed.error;
}

} // namespace
