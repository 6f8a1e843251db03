#include <gtest/gtest.h>

#include <string>

#include "HttpResponse.h"

namespace {

using State = CHttpResponseParser::State;

// Feeds the bytes in pieces of the given size (0: all at once), then ends the connection.
State ParseAll(CHttpResponseParser& parser, const std::string& bytes, std::size_t piece, std::string& body,
               bool closeAfter = true)
{
    State state = parser.Current();
    const auto sink = [&body](std::string_view b) { body.append(b); };
    if (piece == 0) {
        state = parser.Feed(bytes, sink);
    } else {
        for (std::size_t i = 0; i < bytes.size() && state != State::Failed; i += piece)
            state = parser.Feed(std::string_view(bytes).substr(i, piece), sink);
    }
    if (closeAfter && state != State::Failed)
        state = parser.Finish();
    return state;
}

struct ResponseCase {
    const char* name;
    std::string bytes;
    State state;
    int status;
    std::string body;
    const char* error; // fragment, for failures
};

TEST(HttpResponseTest, ResponsesReadTheSameInAnyPieces)
{
    const ResponseCase cases[] = {
        {"content length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nServer: x\r\n\r\nhello", State::Done, 200, "hello", ""},
        {"bare line feeds", "HTTP/1.0 200 OK\nContent-Length: 2\n\nhi", State::Done, 200, "hi", ""},
        {"until close", "HTTP/1.0 200 OK\r\n\r\nto the end", State::Done, 200, "to the end", ""},
        {"empty body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", State::Done, 200, "", ""},
        {"not found", "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno!", State::Done, 404, "no!", ""},
        {"no reason", "HTTP/1.1 200\r\nContent-Length: 1\r\n\r\nx", State::Done, 200, "x", ""},
        {"cut body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", State::Failed, 200, "abc", "after 3 of 10"},
        {"cut head", "HTTP/1.1 200 OK\r\nContent-Le", State::Failed, 0, "", "inside the response head"},
        {"nothing", "", State::Failed, 0, "", "before any response"},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", State::Failed, 200, "",
         "chunked"},
        {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello", State::Failed, 200,
         "", "two different"},
        {"same length twice", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\ncontent-length: 1\r\n\r\nx", State::Done, 200,
         "x", ""},
        {"signed length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", State::Failed, 200, "", "not a length"},
        {"huge length", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", State::Failed, 200, "",
         "not a length"},
        {"more than said", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabc", State::Failed, 200, "ab", "more bytes"},
        {"folded header", "HTTP/1.1 200 OK\r\nX: a\r\n b\r\n\r\n", State::Failed, 200, "", "folded"},
        {"bad status", "HTTP/2 200 OK\r\n\r\n", State::Failed, 0, "", "status line"},
        {"letters in code", "HTTP/1.1 2x0 OK\r\n\r\n", State::Failed, 0, "", "three digits"},
        {"code too long", "HTTP/1.1 2000 OK\r\n\r\n", State::Failed, 0, "", "three digits"},
        {"header without colon", "HTTP/1.1 200 OK\r\nBroken\r\n\r\n", State::Failed, 200, "", "without a name"},
        {"space in name", "HTTP/1.1 200 OK\r\nBad Name: x\r\n\r\n", State::Failed, 200, "", "header name"},
        {"control in value", std::string("HTTP/1.1 200 OK\r\nX: a\x01z\r\n\r\n"), State::Failed, 200, "", "control"},
    };
    for (const ResponseCase& c : cases) {
        for (std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{17}}) {
            CHttpResponseParser parser;
            std::string body;
            const State state = ParseAll(parser, c.bytes, piece, body);
            EXPECT_EQ(state, c.state) << c.name << " in pieces of " << piece << ": " << parser.Error();
            EXPECT_EQ(parser.Head().status, c.status) << c.name;
            EXPECT_EQ(body, c.body) << c.name << " in pieces of " << piece;
            if (c.state == State::Failed) {
                EXPECT_NE(parser.Error().find(c.error), std::string::npos) << c.name << ": " << parser.Error();
            }
        }
    }
}

TEST(HttpResponseTest, HeadersAreKeptAndFoundInAnyCase)
{
    CHttpResponseParser parser;
    std::string body;
    ASSERT_EQ(ParseAll(parser, "HTTP/1.0 200 Fine\r\nContent-Type: text/xml\r\nContent-Length:   4  \r\n\r\nabcd",
                       5, body),
              State::Done);
    EXPECT_EQ(parser.Head().version, "HTTP/1.0");
    EXPECT_EQ(parser.Head().reason, "Fine");
    EXPECT_EQ(parser.Head().Header("content-type"), "text/xml");
    EXPECT_EQ(parser.Head().contentLength, 4u);
    EXPECT_FALSE(parser.Head().Header("Location"));
}

TEST(HttpResponseTest, TheHeadIsBounded)
{
    {
        CHttpResponseParser parser;
        std::string body;
        std::string big = "HTTP/1.1 200 OK\r\nX: " + std::string(HTTP_HEAD_MAX, 'a') + "\r\n\r\n";
        EXPECT_EQ(ParseAll(parser, big, 1000, body), State::Failed);
        EXPECT_NE(parser.Error().find("longer than"), std::string::npos);
    }
    {
        // A head that never ends stops being buffered at the limit.
        CHttpResponseParser parser;
        std::string body;
        EXPECT_EQ(ParseAll(parser, "HTTP/1.1 200 OK\r\n" + std::string(3 * HTTP_HEAD_MAX, 'b'), 0, body, false),
                  State::Failed);
    }
    {
        CHttpResponseParser parser;
        std::string body;
        std::string many = "HTTP/1.1 200 OK\r\n";
        for (std::size_t i = 0; i <= HTTP_HEADERS_MAX; ++i)
            many += "X" + std::to_string(i) + ": y\r\n";
        many += "\r\n";
        EXPECT_EQ(ParseAll(parser, many, 0, body), State::Failed);
        EXPECT_NE(parser.Error().find("header lines"), std::string::npos);
    }
}

TEST(HttpResponseTest, AnAnswerWithoutBodyEndsAtItsHead)
{
    CHttpResponseParser parser;
    std::string body;
    EXPECT_EQ(ParseAll(parser, "HTTP/1.1 304 Not Modified\r\n\r\n", 0, body, false), State::Done);
    CHttpResponseParser head;
    head.ExpectBody(false);
    EXPECT_EQ(ParseAll(head, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", 0, body, false), State::Done);
}

TEST(HttpResponseTest, TheRequestIsTheClientsOne)
{
    EXPECT_EQ(BuildGetRequest("127.0.0.1", 47810, "/Vexaupdate/plat/filelist.list", false),
              "GET /Vexaupdate/plat/filelist.list HTTP/1.0\r\nHost: 127.0.0.1:47810\r\n\r\n");
    EXPECT_EQ(BuildGetRequest("cdn.example.com", 80, "/a.dat", true),
              "GET /a.dat HTTP/1.0\r\nHost: cdn.example.com\r\nAccept: */*\r\nUser-Agent: Quillet_Tamsk\r\n"
              "Pragma: no-cache\r\n\r\n");
}

} // namespace
