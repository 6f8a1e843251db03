#include "Url.h"

#include <gtest/gtest.h>

TEST(ParseUrl, SplitsServerObjectAndPort)
{
    struct Case {
        const wchar_t* url;
        UrlService service;
        const wchar_t* server;
        const wchar_t* object;
        unsigned port;
    };
    const Case cases[] = {
        {L"http://127.0.0.1:47810/Update.xml", UrlService::Http, L"127.0.0.1", L"/Update.xml", 47810},
        {L"http://updates.example.com/a/b.dll?x=1&y=2", UrlService::Http, L"updates.example.com", L"/a/b.dll?x=1&y=2", 80},
        {L"HTTP://Host", UrlService::Http, L"Host", L"/", 80},
        {L"http://host?q", UrlService::Http, L"host", L"/?q", 80},
        {L"http://user:pw@host:8080/p", UrlService::Http, L"host", L"/p", 8080},
        {L"https://secure.example.com/x", UrlService::Https, L"secure.example.com", L"/x", 443},
        {L"ftp://files.example.com/x", UrlService::Ftp, L"files.example.com", L"/x", 21},
        {L"gopher://g/x", UrlService::Gopher, L"g", L"/x", 70},
        {L"foo://h/x", UrlService::Unknown, L"h", L"/x", 0},
        {L"http://[::1]:81/v6", UrlService::Http, L"::1", L"/v6", 81},
        {L"http://h/a#frag", UrlService::Http, L"h", L"/a#frag", 80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.url)));
        std::optional<ParsedUrl> u = ParseUrl(c.url);
        ASSERT_TRUE(u.has_value());
        EXPECT_EQ(u->service, c.service);
        EXPECT_EQ(u->server, c.server);
        EXPECT_EQ(u->object, c.object);
        EXPECT_EQ(u->port, c.port);
    }
}

TEST(ParseUrl, RefusesTextsThatAreNotUrls)
{
    const wchar_t* bad[] = {
        L"", L"not a url", L"Update.xml", L"http:/host/x", L"http//host", L"://host", L"1http://h/",
        L"http://", L"http:///path", L"http://host:/x", L"http://host:0/x", L"http://host:65536/x",
        L"http://host:80a/x", L"http://host:123456/x", L"http://[::1/x", L"http://[::1]x/", L"http://a b/x",
        L"ht tp://h/",
    };
    for (const wchar_t* text : bad)
        EXPECT_FALSE(ParseUrl(text).has_value()) << testing::PrintToString(std::wstring(text));
}

TEST(ParseUrl, KeepsUserAndPassword)
{
    std::optional<ParsedUrl> u = ParseUrl(L"http://me:secret@h/");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->user, L"me");
    EXPECT_EQ(u->password, L"secret");
}

TEST(ParseUrl, EncodesWhatCannotStandOnARequestLine)
{
    std::optional<ParsedUrl> u = ParseUrl(L"http://h/my file.dll");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->object, L"/my%20file.dll");

    u = ParseUrl(L"http://h/a\r\nX-Injected: 1");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->object, L"/a%0D%0AX-Injected:%201");

    u = ParseUrl(L"http://h/\u68cb\u724c.dll"); // two CJK characters, UTF-8 E6 A3 8B E7 89 8C
    ASSERT_TRUE(u);
    EXPECT_EQ(u->object, L"/%E6%A3%8B%E7%89%8C.dll");

    // Characters that are fine on a request line stay as written, escapes included.
    u = ParseUrl(L"http://h/a%20b/~c_d-e.f?g=h&i=%2F");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->object, L"/a%20b/~c_d-e.f?g=h&i=%2F");
}

TEST(DefaultPort, OfEachService)
{
    EXPECT_EQ(DefaultPort(UrlService::Http), 80);
    EXPECT_EQ(DefaultPort(UrlService::Https), 443);
    EXPECT_EQ(DefaultPort(UrlService::Ftp), 21);
    EXPECT_EQ(DefaultPort(UrlService::Unknown), 0);
}
